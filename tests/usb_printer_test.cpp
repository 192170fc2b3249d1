// The USB printer record end to end: the application's package, the "usb"
// request to a real qarn_svr, which opens the record through its own
// constructor and writes 0x80 | ((place + i) & 0x7F) into every byte it may
// (the record has no API code), and the caller's memory afterwards.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "tests/doc_peer_client.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;

constexpr uint32_t kFirstStringPlace = 5;   // node offset 4, plus 1
constexpr uint32_t kSecondStringPlace = 9;  // node offset 8, plus 1
constexpr size_t kOpaqueBytes = 4;          // at offset 0 of the record and of a node
constexpr int kBadArgument = 3;             // driver error for words that do not fit a verb
constexpr int kFileNotFound = 2;            // no block carries the name
constexpr int kInvalidParameter = 87;

unsigned char Pattern(uint32_t place, uint32_t index) {
  return static_cast<unsigned char>(0x80u | ((place + index) & 0x7Fu));
}

std::vector<unsigned char> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::vector<unsigned char>(b, b + n);
}

// What the server leaves in a string block: the pattern, terminator kept.
std::vector<unsigned char> PatternString(uint32_t place, size_t length) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i < length; ++i) bytes.push_back(Pattern(place, static_cast<uint32_t>(i)));
  bytes.push_back(0);
  return bytes;
}

// What the server leaves in the opaque bytes of the record and of a node.
std::vector<unsigned char> PatternOpaque() {
  std::vector<unsigned char> bytes;
  for (uint32_t i = 0; i < kOpaqueBytes; ++i) bytes.push_back(Pattern(0, i));
  return bytes;
}

uint32_t SharedWord(const c_QARNPlus_Shrmem* block, size_t at) {
  uint32_t value;
  memcpy(&value, static_cast<const unsigned char*>(block->m_pShared) + at, sizeof value);
  return value;
}

// The value named `name` in a QARN_RET reply, or "(missing)".
std::string Value(const std::string& reply, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(reply, match, std::regex("val=\"([^\"]*)\" name=\"" + name + "\"")))
    return "(missing)";
  return match[1].str();
}

class UsbPrinterCall : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(session_, nullptr);
    f_QARNDRV_Init(session_);
  }
  void TearDown() override {
    if (session_ != nullptr) {
      f_QARNDRV_Clean(session_);
      f_QARNSVR_FreeLibrary(session_);
    }
    EXPECT_EQ(LeftoverBlocks(), 0) << "a block object outlived its package";
  }

  std::string Invoke(const std::string& request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session_, request.c_str(), &reply, nullptr);
    return reply != nullptr ? reply : "";
  }

  void* session_ = nullptr;
};

TEST_F(UsbPrinterCall, TwoNodeChainIsUnchangedAlthoughTheServerWroteIntoEveryBlock) {
  char a1[] = "a1", a2[] = "a2", b1[] = "b1", b2[] = "b22";
  USBPrinterNode second{{0x21, 0x22, 0x23, 0x24}, b1, b2, nullptr, nullptr};
  USBPrinterNode first{{0x11, 0x12, 0x13, 0x14}, a1, a2, &second, nullptr};
  second.pSecondLink = &first;
  USBPrinter printer{{1, 2, 3, 4}, &first};
  const std::vector<std::vector<unsigned char>> before = {Bytes(&printer, sizeof printer),
                                                          Bytes(&first, sizeof first),
                                                          Bytes(&second, sizeof second),
                                                          Bytes(a1, sizeof a1),
                                                          Bytes(a2, sizeof a2),
                                                          Bytes(b1, sizeof b1),
                                                          Bytes(b2, sizeof b2)};
  {
    c_QARNPlus_Legpack package(&printer, true);
    const std::vector<c_QARNPlus_Shrmem*>& blocks = *package.m_pBlocks;
    ASSERT_EQ(blocks.size(), 7u);
    const std::string reply = Invoke("usb " + NameOf(&printer));
    EXPECT_EQ(Value(reply, "SUCCESS"), "true") << reply;
    // The record, the head, four fields per node (the last next link and
    // node 1's second link empty).
    EXPECT_EQ(Value(reply, "blocks"), "10") << reply;
    EXPECT_EQ(Value(reply, "nodes"), "2") << reply;

    // Client order: per node its two strings and itself, then the record.
    const c_QARNPlus_Shrmem* node1 = blocks[2];
    const c_QARNPlus_Shrmem* node2 = blocks[5];
    const c_QARNPlus_Shrmem* record = blocks[6];
    EXPECT_EQ(Bytes(blocks[0]->m_pShared, sizeof a1), PatternString(kFirstStringPlace, 2));
    EXPECT_EQ(Bytes(blocks[1]->m_pShared, sizeof a2), PatternString(kSecondStringPlace, 2));
    EXPECT_EQ(Bytes(blocks[3]->m_pShared, sizeof b1), PatternString(kFirstStringPlace, 2));
    EXPECT_EQ(Bytes(blocks[4]->m_pShared, sizeof b2), PatternString(kSecondStringPlace, 3));
    for (const c_QARNPlus_Shrmem* own : {node1, node2, record})
      EXPECT_EQ(Bytes(own->m_pShared, kOpaqueBytes), PatternOpaque());
    // The links hold the server's addresses now; the NULL ones stay NULL.
    EXPECT_NE(SharedWord(record, 4), 0u);
    EXPECT_NE(SharedWord(node1, 12), 0u);
    EXPECT_EQ(SharedWord(node1, 16), 0u);
    EXPECT_EQ(SharedWord(node2, 12), 0u);
    EXPECT_NE(SharedWord(node2, 16), 0u);
  }
  const std::vector<std::vector<unsigned char>> after = {Bytes(&printer, sizeof printer),
                                                         Bytes(&first, sizeof first),
                                                         Bytes(&second, sizeof second),
                                                         Bytes(a1, sizeof a1),
                                                         Bytes(a2, sizeof a2),
                                                         Bytes(b1, sizeof b1),
                                                         Bytes(b2, sizeof b2)};
  EXPECT_EQ(after, before);
}

TEST_F(UsbPrinterCall, NullHeadOpensOneEmptyBlockAfterTheRecord) {
  USBPrinter printer{{9, 8, 7, 6}, nullptr};
  const std::vector<unsigned char> before = Bytes(&printer, sizeof printer);
  {
    c_QARNPlus_Legpack package(&printer, true);
    ASSERT_EQ(package.m_pBlocks->size(), 1u);
    const std::string reply = Invoke("usb " + NameOf(&printer));
    EXPECT_EQ(Value(reply, "SUCCESS"), "true") << reply;
    EXPECT_EQ(Value(reply, "blocks"), "2") << reply;
    EXPECT_EQ(Value(reply, "nodes"), "0") << reply;
    EXPECT_EQ(Bytes(package.m_pBlocks->front()->m_pShared, kOpaqueBytes), PatternOpaque());
  }
  EXPECT_EQ(Bytes(&printer, sizeof printer), before);
}

TEST_F(UsbPrinterCall, BadNamesAreRefusedAndMissingBlocksFailWithTheirCode) {
  for (const char* words :
       {"usb", "usb 0x10", "usb +5", "usb 007", "usb -0", "usb 2147483648", "usb 12 13", "usb printer"}) {
    const std::string reply = Invoke(words);
    EXPECT_EQ(Value(reply, "SUCCESS"), "false") << words << "\n" << reply;
    EXPECT_EQ(Value(reply, "code"), std::to_string(kBadArgument)) << words << "\n" << reply;
  }
  EXPECT_EQ(Value(Invoke("usb 0"), "code"), std::to_string(kInvalidParameter));

  USBPrinter unsent{{0}, nullptr};
  EXPECT_EQ(Value(Invoke("usb " + NameOf(&unsent)), "code"), std::to_string(kFileNotFound));

  // A second link to something the package made no block for: the server's
  // open fails part way through the chain, and the server goes on serving.
  int stray = 0;
  char s1[] = "s1", s2[] = "s2";
  USBPrinterNode node{{0}, s1, s2, nullptr, &stray};
  USBPrinter printer{{0}, &node};
  {
    c_QARNPlus_Legpack package(&printer, true);
    const std::string reply = Invoke("usb " + NameOf(&printer));
    EXPECT_EQ(Value(reply, "SUCCESS"), "false") << reply;
    EXPECT_EQ(Value(reply, "code"), std::to_string(kFileNotFound)) << reply;
    node.pSecondLink = nullptr;
  }
  c_QARNPlus_Legpack package(&printer, true);
  EXPECT_EQ(Value(Invoke("usb " + NameOf(&printer)), "nodes"), "1");
}

}  // namespace
