// Parameter packages across a real process boundary: the application's end
// here, the server's end in doc_peer running the stand-in server's document
// call, which writes 0x80 | ((code + place + i) & 0x7F) into every record
// byte (place 0) and buffer byte (place = field offset + 1) it may touch.
#include "qarnplus/legpack.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "qarnplus/driver.h"
#include "qarnplus/server.h"
#include "tests/doc_peer_client.h"
#include "transport/api_code_text.h"
#include "transport/record_rules.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;
using transport_test::RunPeer;

unsigned char Pattern(uint32_t code, uint32_t place, uint32_t index) {
  return static_cast<unsigned char>(0x80u | ((code + place + index) & 0x7Fu));
}

std::vector<unsigned char> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::vector<unsigned char>(b, b + n);
}

// What the server's pattern leaves in `n` bytes of a buffer that comes back.
std::vector<unsigned char> PatternBytes(uint32_t code, uint32_t place, size_t n) {
  std::vector<unsigned char> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = Pattern(code, place, static_cast<uint32_t>(i));
  return bytes;
}

std::string CallPeer(const void* record, const char* code) {
  return RunPeer("call " + NameOf(record) + " " + code);
}

std::string BlocksReply(unsigned count) {
  return "<stringVal val=\"" + std::to_string(count) + "\" name=\"blocks\"/>";
}

// The blocks of a package: (caller's buffer, size) in list order.
std::vector<std::pair<const void*, unsigned long>> Layout(const c_QARNPlus_Legpack& package) {
  std::vector<std::pair<const void*, unsigned long>> layout;
  for (const c_QARNPlus_Shrmem* block : *package.m_pBlocks)
    layout.emplace_back(block->m_pLocal, block->m_nSize);
  return layout;
}
using Layout_t = std::vector<std::pair<const void*, unsigned long>>;

SedApiPara* Para(void* record) { return static_cast<SedApiPara*>(record); }

class LegpackTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LeftoverBlocks(), 0) << "a block object outlived its package"; }

  // A file in /dev/shm under the block name of `p` that group and others
  // may read: the mapping layer refuses to attach to it.
  void Squat(const void* p) {
    squatted_ = transport_test::ShmPath(NameOf(p));
    std::ofstream(squatted_).put('x');
    std::filesystem::permissions(squatted_, std::filesystem::perms(0644));
  }
  void Unsquat() { std::filesystem::remove(squatted_); }

  std::string squatted_;
};

TEST(ApiCodeTextTest, DecimalWithSpaceAndOneSignClampedTo32Bits) {
  using qarn::transport::ParseApiCodeText;
  EXPECT_EQ(ParseApiCodeText("8"), 8u);
  EXPECT_EQ(ParseApiCodeText(" \t\n+404"), 404u);
  EXPECT_EQ(ParseApiCodeText("0222x"), 222u);
  EXPECT_EQ(ParseApiCodeText("00"), 0u);
  EXPECT_EQ(ParseApiCodeText("x1"), 0u);
  EXPECT_EQ(ParseApiCodeText("+-8"), 0u);
  EXPECT_EQ(ParseApiCodeText(""), 0u);
  EXPECT_EQ(ParseApiCodeText(nullptr), 0u);
  EXPECT_EQ(ParseApiCodeText("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseApiCodeText("2147483647"), 0x7FFFFFFFu);
  EXPECT_EQ(ParseApiCodeText("4294967304"), 0x7FFFFFFFu) << "2^32 + 8 must not wrap to 8";
  EXPECT_EQ(ParseApiCodeText("-99999999999999999999999"), 0x80000000u);
}

TEST_F(LegpackTest, NullRecordZeroOrUnknownCodeMakeEmptyPackages) {
  SAPGetVersion1 record{};
  c_QARNPlus_Legpack null_record(static_cast<SedApiPara*>(nullptr), 1);
  c_QARNPlus_Legpack zero_code(Para(&record), 0);
  c_QARNPlus_Legpack unknown_code(Para(&record), 9);
  c_QARNPlus_Legpack huge_code(Para(&record), 0xFFFFFFFFul);
  c_QARNPlus_Legpack server_zero_record("0", "1");
  c_QARNPlus_Legpack server_zero_code("1244992", "0");  // no such block: nothing is opened
  c_QARNPlus_Legpack usb_null(static_cast<USBPrinter*>(nullptr), false);
  for (c_QARNPlus_Legpack* package : {&null_record, &zero_code, &unknown_code, &huge_code,
                                      &server_zero_record, &server_zero_code, &usb_null}) {
    ASSERT_NE(package->m_pBlocks, nullptr);
    EXPECT_TRUE(package->m_pBlocks->empty());
    EXPECT_EQ(package->Local(), nullptr);
  }
}

TEST_F(LegpackTest, GetVersionReturnsExactlyTheLastThreeBytes) {
  SAPGetVersion1 record;
  memset(&record, 0x33, sizeof record);
  const std::vector<unsigned char> before = Bytes(&record, sizeof record);
  {
    c_QARNPlus_Legpack package(Para(&record), 1);
    EXPECT_EQ(Layout(package), (Layout_t{{&record, 7}}));
    EXPECT_EQ(package.Local(), nullptr);
    const std::string reply = CallPeer(&record, "1");
    EXPECT_NE(reply.find("<boolVal val=\"true\" name=\"SUCCESS\"/>"), std::string::npos) << reply;
    EXPECT_NE(reply.find(BlocksReply(1)), std::string::npos) << reply;
    EXPECT_EQ(Bytes(&record, sizeof record), before) << "nothing arrives before the release";
  }
  std::vector<unsigned char> expected = before;
  for (uint32_t i = 4; i < 7; ++i) expected[i] = Pattern(1, 0, i);
  EXPECT_EQ(Bytes(&record, sizeof record), expected);
}

TEST_F(LegpackTest, ErrorMessageWithBufferBringsBackBufferAndTextButNotTheLength) {
  char message[100];
  memset(message, 'm', sizeof message);
  char text[] = "context";
  SAPGetErrMes1 record{0x1234, message, sizeof message, text};
  const std::vector<unsigned char> before = Bytes(&record, sizeof record);
  {
    c_QARNPlus_Legpack package(Para(&record), 8);
    EXPECT_EQ(Layout(package), (Layout_t{{message, 100}, {text, 8}, {&record, 14}}));
    const std::string reply = CallPeer(&record, "8");
    EXPECT_NE(reply.find(BlocksReply(3)), std::string::npos) << reply;
  }
  // The whole record stays the caller's: its pointers and the length too.
  EXPECT_EQ(Bytes(&record, sizeof record), before);
  const std::string expected_message = "QARN error 4660";
  EXPECT_STREQ(message, expected_message.c_str());
  const size_t tail = expected_message.size() + 1;
  const std::vector<unsigned char> pattern = PatternBytes(8, 3, sizeof message);
  EXPECT_EQ(Bytes(message + tail, sizeof message - tail),
            std::vector<unsigned char>(pattern.begin() + tail, pattern.end()));
  EXPECT_EQ(Bytes(text, 7), PatternBytes(8, 11, 7));
  EXPECT_EQ(text[7], 0);
}

TEST_F(LegpackTest, ErrorMessageWithoutBufferBringsBackOnlyTheLength) {
  char unused[4] = {'u', 'u', 'u', 'u'};
  for (char* buffer : {static_cast<char*>(nullptr), unused}) {
    char text[] = "ab";
    SAPGetErrMes1 record{7, buffer, 0, text};
    std::vector<unsigned char> expected = Bytes(&record, sizeof record);
    {
      c_QARNPlus_Legpack package(Para(&record), 8);
      EXPECT_EQ(Layout(package), (Layout_t{{text, 3}, {&record, 14}}));
      EXPECT_NE(CallPeer(&record, "8").find(BlocksReply(2)), std::string::npos);
    }
    const uint32_t needed = sizeof "QARN error 7";
    memcpy(expected.data() + 6, &needed, 4);
    EXPECT_EQ(Bytes(&record, sizeof record), expected) << "only bytes 6 to 9 may change";
    EXPECT_EQ(Bytes(unused, 4), (std::vector<unsigned char>{'u', 'u', 'u', 'u'}));
    EXPECT_EQ(Bytes(text, 2), PatternBytes(8, 11, 2));
  }
}

TEST_F(LegpackTest, ServerCodesThatSelectNothingLeaveTheRecordAlone) {
  SAPGetVersion1 record;
  memset(&record, 0x44, sizeof record);
  const std::vector<unsigned char> before = Bytes(&record, sizeof record);
  {
    c_QARNPlus_Legpack package(Para(&record), 1);
    for (const char* code : {"00", "x", "9", "-1", "99999999999"}) {
      const std::string reply = CallPeer(&record, code);
      EXPECT_NE(reply.find("<intVal val=\"1\" name=\"code\"/>"), std::string::npos) << code << reply;
      EXPECT_NE(reply.find(BlocksReply(1)), std::string::npos) << code << reply;
    }
    const std::string garbage = RunPeer("call no-such-block 8");
    EXPECT_NE(garbage.find("<boolVal val=\"false\" name=\"SUCCESS\"/>"), std::string::npos) << garbage;
    EXPECT_NE(garbage.find("<intVal val=\"2\" name=\"code\"/>"), std::string::npos) << garbage;
    EXPECT_NE(RunPeer("call 0 8").find("<intVal val=\"87\" name=\"code\"/>"), std::string::npos);
  }
  EXPECT_EQ(Bytes(&record, sizeof record), before);
}

TEST_F(LegpackTest, FailurePartWayReleasesWhatWasMade) {
  char message[16] = {0};
  char text[] = "t";
  SAPGetErrMes1 record{1, message, sizeof message, text};
  Squat(text);
  try {
    c_QARNPlus_Legpack package(Para(&record), 8);
    ADD_FAILURE() << "the package was built over a foreign object";
  } catch (unsigned long code) {
    EXPECT_EQ(code, 5u);
  }
  EXPECT_EQ(LeftoverBlocks(), 1) << "only the foreign object may remain";
  Unsquat();
}

TEST_F(LegpackTest, CallbackAddressReachesTheServerAsZeroAndIsRestored) {
  SAPSetInputCipherProc1 record{0x0102, reinterpret_cast<void*>(0xDEADBEEF)};
  const std::vector<unsigned char> before = Bytes(&record, sizeof record);
  {
    c_QARNPlus_Legpack package(Para(&record), 101);
    EXPECT_EQ(Bytes(&record, sizeof record), before);
    EXPECT_EQ(RunPeer("peek " + NameOf(&record) + " 6"), "020100000000\n");
  }
  EXPECT_EQ(Bytes(&record, sizeof record), before);
  Squat(&record);
  EXPECT_THROW(c_QARNPlus_Legpack(Para(&record), 101), unsigned long);
  EXPECT_EQ(Bytes(&record, sizeof record), before) << "restored although the record block failed";
  Unsquat();
}

TEST_F(LegpackTest, PrintChainOfThreeNodes) {
  SAPPrintNode nodes[3] = {{{1, 1, 1, 1}, &nodes[1]}, {{2, 2, 2, 2}, &nodes[2]}, {{3, 3, 3, 3}, nullptr}};
  char first[] = "first", second[] = "2nd";
  unsigned char buffer[5] = {0};
  SAPPrint1 record{9, first, {0}, nodes, buffer, sizeof buffer, second, {0}};
  const std::vector<unsigned char> record_before = Bytes(&record, sizeof record);
  const std::vector<unsigned char> nodes_before = Bytes(nodes, sizeof nodes);
  {
    c_QARNPlus_Legpack package(Para(&record), 222);
    EXPECT_EQ(Layout(package), (Layout_t{{first, 6},
                                         {&nodes[0], 8},
                                         {&nodes[1], 8},
                                         {&nodes[2], 8},
                                         {buffer, 5},
                                         {second, 4},
                                         {&record, 26}}));
    // Record, first string, head, three links (the last one empty), buffer, second string.
    EXPECT_NE(CallPeer(&record, "222").find(BlocksReply(8)), std::string::npos);
  }
  EXPECT_EQ(Bytes(&record, sizeof record), record_before);
  EXPECT_EQ(Bytes(nodes, sizeof nodes), nodes_before);
  EXPECT_EQ(Bytes(first, 5), PatternBytes(222, 3, 5));
  EXPECT_EQ(Bytes(buffer, 5), PatternBytes(222, 15, 5));
  EXPECT_EQ(Bytes(second, 3), PatternBytes(222, 20, 3));
}

TEST_F(LegpackTest, CyclicChainIsRefusedBeforeAnyBlock) {
  SAPPrintNode nodes[2] = {{{0}, &nodes[1]}, {{0}, &nodes[0]}};
  char text[] = "x";
  SAPPrint1 record{0, text, {0}, nodes, nullptr, 0, nullptr, {0}};
  try {
    c_QARNPlus_Legpack package(Para(&record), 222);
    ADD_FAILURE() << "a cyclic chain was accepted";
  } catch (unsigned long code) {
    EXPECT_EQ(code, 87u);
  }
  USBPrinterNode looped{{0}, nullptr, nullptr, nullptr, nullptr};
  looped.pNext = &looped;
  USBPrinter printer{{0}, &looped};
  EXPECT_THROW(c_QARNPlus_Legpack(&printer, true), unsigned long);
}

TEST_F(LegpackTest, OverlongChainIsRefusedOnBothSides) {
  constexpr uint32_t kNodes = qarn::transport::kMaxChainNodes + 1;
  std::vector<SAPPrintNode> nodes(kNodes);
  for (uint32_t i = 0; i + 1 < kNodes; ++i) nodes[i].pNext = &nodes[i + 1];
  nodes.back().pNext = nullptr;
  SAPPrint1 record{0, nullptr, {0}, nodes.data(), nullptr, 0, nullptr, {0}};
  EXPECT_THROW(c_QARNPlus_Legpack(Para(&record), 222), unsigned long);
  // A client that bypasses the package: the server stops after the limit too.
  std::vector<std::unique_ptr<c_QARNPlus_Shrmem>> blocks;
  for (SAPPrintNode& node : nodes)
    blocks.emplace_back(new c_QARNPlus_Shrmem(&node, sizeof node, false, nullptr));
  blocks.emplace_back(new c_QARNPlus_Shrmem(&record, sizeof record, false, nullptr));
  const std::string reply = CallPeer(&record, "222");
  EXPECT_NE(reply.find("<intVal val=\"87\" name=\"code\"/>"), std::string::npos) << reply;
}

TEST_F(LegpackTest, UsbPrinterSecondLinkLeadsToTheFirstNode) {
  char a1[] = "a1", a2[] = "a2", b1[] = "b1", b2[] = "b22";
  USBPrinterNode second{{0x22, 0x22, 0x22, 0x22}, b1, b2, nullptr, nullptr};
  USBPrinterNode first{{0x11, 0x12, 0x13, 0x14}, a1, a2, &second, nullptr};
  second.pSecondLink = &first;
  USBPrinter printer{{0}, &first};
  const std::vector<unsigned char> before = Bytes(&first, sizeof first);
  {
    c_QARNPlus_Legpack package(&printer, true);
    EXPECT_EQ(Layout(package),
              (Layout_t{{a1, 3}, {a2, 3}, {&first, 20}, {b1, 3}, {b2, 4}, {&second, 20}, {&printer, 8}}));
    EXPECT_EQ(package.Local(), nullptr);
    const auto value = std::to_string(reinterpret_cast<uintptr_t>(&printer));
    // Record, head, then four fields per node.
    EXPECT_EQ(RunPeer("usb " + value), "blocks 10\nnode 1 second null\nnode 2 second 11121314\n");
  }
  EXPECT_EQ(Bytes(&first, sizeof first), before);
  EXPECT_EQ(static_cast<void*>(second.pSecondLink), &first);
}

TEST_F(LegpackTest, EmptyOptionalStringBecomesNullInTheCallersRecord) {
  char first[] = "f", empty[] = "", given[] = "g";
  unsigned char buffer[2] = {0};
  SAPPrintEx1 record{0, first, buffer, sizeof buffer, empty};
  {
    c_QARNPlus_Legpack package(Para(&record), 233);
    EXPECT_EQ(package.m_pBlocks->size(), 3u);
    EXPECT_EQ(static_cast<char*>(record.pszSecond), nullptr);
    EXPECT_NE(CallPeer(&record, "233").find(BlocksReply(3)), std::string::npos);
  }
  record.pszSecond = given;
  c_QARNPlus_Legpack package(Para(&record), 233);
  EXPECT_EQ(package.m_pBlocks->size(), 4u);
  EXPECT_EQ(static_cast<char*>(record.pszSecond), given);
}

TEST_F(LegpackTest, SizeBehindANullPointerIsZero) {
  unsigned char data[4] = {0};
  SAPEncrypt_CA record{};
  record.pData = data;
  record.pLengthPair = nullptr;
  c_QARNPlus_Legpack package(Para(&record), 212);
  EXPECT_EQ(Layout(package), (Layout_t{{nullptr, 0}, {nullptr, 0}, {&record, 79}}));
}

TEST_F(LegpackTest, AssignmentMovesTheBlocks) {
  SAPGetVersion1 a{}, b{};
  memset(&b, 0x10, sizeof b);
  c_QARNPlus_Legpack target(Para(&a), 1);
  {
    c_QARNPlus_Legpack source(Para(&b), 1);
    target = source;
    EXPECT_TRUE(source.m_pBlocks->empty());
    EXPECT_EQ(RunPeer("peek " + NameOf(&a) + " 1"), "error 2\n") << "the target released its own blocks";
  }
  ASSERT_EQ(target.m_pBlocks->size(), 1u);
  EXPECT_EQ(RunPeer("peek " + NameOf(&b) + " 1"), "10\n") << "the moved block outlives its first owner";
}

// The same two records through a real session with the stand-in server.
TEST_F(LegpackTest, DocumentCallsThroughTheServerSession) {
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(session, nullptr);
  f_QARNDRV_Init(session);
  SAPGetVersion1 version;
  memset(&version, 0x21, sizeof version);
  char message[40] = {0};
  char text[] = "t";
  SAPGetErrMes1 error{3, message, sizeof message, text};
  const char* reply = nullptr;
  {
    c_QARNPlus_Legpack version_package(Para(&version), 1);
    c_QARNPlus_Legpack error_package(Para(&error), 8);
    f_QARNDRV_Invoke(session, ("call " + NameOf(&version) + " 1").c_str(), &reply, nullptr);
    ASSERT_NE(reply, nullptr);
    EXPECT_NE(std::string(reply).find(BlocksReply(1)), std::string::npos) << reply;
    f_QARNDRV_Invoke(session, ("call " + NameOf(&error) + " 8").c_str(), &reply, nullptr);
    EXPECT_NE(std::string(reply).find(BlocksReply(3)), std::string::npos) << reply;
  }
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  EXPECT_EQ(Bytes(version.abVersion, 3),
            (std::vector<unsigned char>{Pattern(1, 0, 4), Pattern(1, 0, 5), Pattern(1, 0, 6)}));
  EXPECT_EQ(static_cast<uint16_t>(version.nLead), 0x2121);
  EXPECT_STREQ(message, "QARN error 3");
  EXPECT_EQ(static_cast<uint32_t>(error.nMessageLen), sizeof message);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), Pattern(8, 11, 0));
}

}  // namespace
