// Parameter packages where the catalogue's end-to-end run does not reach:
// empty packages, refused chains, failures part way, the USB printer's
// server direction in another process (doc_peer) and moving a package.
#include "qarnplus/legpack.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "tests/doc_peer_client.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;
using transport_test::RunPeer;
using transport_test::Thrown;

SedApiPara* Para(void* record) { return static_cast<SedApiPara*>(record); }

class LegpackTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LeftoverBlocks(), 0) << "a block object outlived its package"; }
};

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

// A block that cannot be made part way: the blocks made so far are gone,
// and the caller-side addresses zeroed for the server are restored.
TEST_F(LegpackTest, FailurePartWayReleasesWhatWasMadeAndRestoresTheRecord) {
  char message[16] = {0};
  char text[] = "t";
  SAPGetErrMes1 error{1, message, sizeof message, text};
  {
    const transport_test::Squatter squatter(text);
    EXPECT_EQ(Thrown([&] { c_QARNPlus_Legpack package(Para(&error), 8); }), 5u);
    EXPECT_EQ(LeftoverBlocks(), 1) << "only the foreign object may remain";
  }
  SAPSetInputCipherProc1 callback{0x0102, reinterpret_cast<void*>(0xDEADBEEF)};
  const transport_test::Squatter squatter(&callback);
  EXPECT_EQ(Thrown([&] { c_QARNPlus_Legpack package(Para(&callback), 101); }), 5u);
  const void* restored = callback.pfnCallback;  // a packed field: read it by value
  EXPECT_EQ(restored, reinterpret_cast<void*>(0xDEADBEEF));
}

TEST_F(LegpackTest, CyclicChainsAreRefusedBeforeAnyBlock) {
  SAPPrintNode nodes[2] = {{{0}, &nodes[1]}, {{0}, &nodes[0]}};
  char text[] = "x";
  SAPPrint1 print{0, text, {0}, nodes, nullptr, 0, nullptr, {0}};
  EXPECT_EQ(Thrown([&] { c_QARNPlus_Legpack package(Para(&print), 222); }), 87u);
  EXPECT_EQ(nodes[0].pNext, &nodes[1]);
  USBPrinterNode looped{{0}, text, text, nullptr, nullptr};
  looped.pNext = &looped;
  USBPrinter printer{{0}, &looped};
  EXPECT_EQ(Thrown([&] { c_QARNPlus_Legpack package(&printer, true); }), 87u);
}

// The server's package maps every node and follows the second link to the
// view of the node it names.
TEST_F(LegpackTest, UsbPrinterSecondLinkLeadsToTheFirstNodesView) {
  char a1[] = "a1", a2[] = "a2", b1[] = "b1", b2[] = "b22";
  USBPrinterNode second{{0x22, 0x22, 0x22, 0x22}, b1, b2, nullptr, nullptr};
  USBPrinterNode first{{0x11, 0x12, 0x13, 0x14}, a1, a2, &second, nullptr};
  second.pSecondLink = &first;
  USBPrinter printer{{0}, &first};
  c_QARNPlus_Legpack package(&printer, true);
  // Record, head, then four fields per node.
  EXPECT_EQ(RunPeer("usb " + std::to_string(reinterpret_cast<uintptr_t>(&printer))),
            "blocks 10\nnode 1 second null\nnode 2 second 11121314\n");
  printer.pChain = nullptr;
  c_QARNPlus_Legpack alone(&printer, true);
  EXPECT_EQ(RunPeer("usb " + std::to_string(reinterpret_cast<uintptr_t>(&printer))), "blocks 2\n");
}

TEST_F(LegpackTest, SizeBehindANullPointerIsZero) {
  unsigned char data[4] = {0};
  SAPEncrypt_CA record{};
  record.pData = data;
  c_QARNPlus_Legpack package(Para(&record), 212);
  ASSERT_EQ(package.m_pBlocks->size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ((*package.m_pBlocks)[i]->m_pLocal, nullptr);
    EXPECT_EQ((*package.m_pBlocks)[i]->m_nSize, 0u);
  }
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

}  // namespace
