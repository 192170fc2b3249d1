// Shared blocks: the three write-back modes and release, the server's end
// played by another process (doc_peer).
#include "qarnplus/shrmem.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/doc_peer_client.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;
using transport_test::RunPeer;
using transport_test::Thrown;
using Bytes = std::vector<unsigned char>;

class ShrmemTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LeftoverBlocks(), 0) << "a block object outlived its owner"; }
};

// A NULL buffer or size, the reserved name "0" and a NULL value name no
// block: nothing is mapped and nothing comes back.
TEST_F(ShrmemTest, EmptyBlocksHoldNothing) {
  char buffer[8] = "abc";
  unsigned char mask[8] = {0xFF};
  c_QARNPlus_Shrmem null_buffer(static_cast<const void*>(nullptr), 8, true, mask);
  c_QARNPlus_Shrmem zero_size(buffer, 0, true, mask);
  c_QARNPlus_Shrmem reserved_name("0");
  c_QARNPlus_Shrmem null_value(static_cast<const void*>(nullptr));
  for (c_QARNPlus_Shrmem* block : {&null_buffer, &zero_size, &reserved_name, &null_value}) {
    EXPECT_EQ(block->Local(), nullptr);
    EXPECT_EQ(block->Flush(), nullptr);
    EXPECT_EQ(block->Synch(), nullptr);
    EXPECT_EQ(block->m_pMask, nullptr);
    EXPECT_EQ(block->m_nSize, 0u);
  }
  EXPECT_TRUE(null_buffer.m_bMerge);
}

// The other process finds the block by the pointer's name and writes into
// it; what comes back at release depends on the mode, and the block is gone.
TEST_F(ShrmemTest, ReleaseWritesBackWholeMaskedOrNothing) {
  const struct {
    bool merge, masked;
    Bytes after;
  } cases[] = {
      {true, false, {0xAB, 0xAB, 0xAB, 0xAB}},
      {true, true, {0x1B, 0x12, 0xAB, 0xA2}},
      {false, true, {0x12, 0x12, 0x12, 0x12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "merge " << c.merge << " masked " << c.masked);
    unsigned char buffer[4] = {0x12, 0x12, 0x12, 0x12};
    unsigned char mask[4] = {0x0F, 0x00, 0xFF, 0xF0};
    {
      c_QARNPlus_Shrmem block(buffer, sizeof buffer, c.merge, c.masked ? mask : nullptr);
      EXPECT_EQ(block.m_pMask != nullptr, c.merge && c.masked);
      memset(mask, 0xFF, sizeof mask);  // the block keeps its own copy
      EXPECT_TRUE(std::filesystem::exists(transport_test::ShmPath(NameOf(buffer))));
      EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 4"), "12121212\n");
      ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 0 abababab"), "ok\n");
      EXPECT_EQ(buffer[0], 0x12) << "nothing comes back before the release";
    }
    EXPECT_EQ(Bytes(buffer, buffer + 4), c.after);
    EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "error 2\n") << "released blocks are gone";
  }
}

TEST_F(ShrmemTest, FlushMergesNowReleaseAgainAndSynchSendsAgain) {
  unsigned char buffer[6] = {0};
  {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, nullptr);
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 0 0102030405"), "ok\n");
    EXPECT_EQ(block.Flush(), buffer);
    EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{1, 2, 3, 4, 5, 0}));
    buffer[0] = 7;
    EXPECT_EQ(block.Synch(), block.Local());
    EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "07\n");
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 5 09"), "ok\n");
  }
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{7, 2, 3, 4, 5, 9}))
      << "a change after the Flush arrives at release";
}

TEST_F(ShrmemTest, ReuseMergesTheOldBufferAndRemapOpensAnother) {
  unsigned char first[4] = {0}, second[4] = {5, 5, 5, 5};
  c_QARNPlus_Shrmem block(first, sizeof first, true, nullptr);
  ASSERT_EQ(RunPeer("poke " + NameOf(first) + " 0 01"), "ok\n");
  ASSERT_NE(block.Reuse(second, sizeof second, false, nullptr), nullptr);
  EXPECT_EQ(first[0], 1);
  EXPECT_FALSE(block.m_bMerge);
  EXPECT_EQ(RunPeer("peek " + NameOf(second) + " 4"), "05050505\n");
  EXPECT_EQ(RunPeer("peek " + NameOf(first) + " 1"), "error 2\n");
  // Opened by name: another view, of no known size, that writes nothing back.
  c_QARNPlus_Shrmem again(first, sizeof first, false, nullptr);
  ASSERT_NE(block.Remap(static_cast<const void*>(first)), nullptr);
  EXPECT_NE(block.Local(), again.Local());
  EXPECT_EQ(static_cast<unsigned char*>(block.Local())[0], 1);
  EXPECT_EQ(block.m_nSize, 0u);
  EXPECT_EQ(block.m_pLocal, nullptr);
  EXPECT_EQ(block.Flush(), nullptr);
  EXPECT_EQ(block.Remap("0"), nullptr);
  EXPECT_EQ(block.m_hMapping, nullptr);
}

TEST_F(ShrmemTest, FailuresThrowTheSystemCodeAndLeaveNothingOpen) {
  unsigned char buffer[4] = {0};
  EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "error 2\n") << "a block nobody created";
  const transport_test::Squatter squatter(buffer);  // never attached
  EXPECT_EQ(Thrown([&] { c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, nullptr); }), 5u);
  c_QARNPlus_Shrmem reused(static_cast<const void*>(nullptr), 0, true, nullptr);
  EXPECT_EQ(Thrown([&] { reused.Reuse(buffer, sizeof buffer, true, nullptr); }), 5u);
  EXPECT_EQ(reused.Local(), nullptr) << "a failed Reuse leaves an empty block";
  EXPECT_TRUE(reused.m_bMerge);
}

TEST_F(ShrmemTest, AssignmentMovesOwnership) {
  unsigned char a[4] = {0}, b[4] = {0};
  unsigned char mask[4] = {0xFF, 0, 0, 0};
  {
    c_QARNPlus_Shrmem target(a, sizeof a, true, nullptr);
    c_QARNPlus_Shrmem source(b, sizeof b, true, mask);
    ASSERT_EQ(RunPeer("poke " + NameOf(a) + " 0 aa"), "ok\n");
    ASSERT_EQ(RunPeer("poke " + NameOf(b) + " 0 bbbb"), "ok\n");
    target = source;
    EXPECT_EQ(a[0], 0xAA) << "the target merged back before taking over";
    EXPECT_EQ(RunPeer("peek " + NameOf(a) + " 1"), "error 2\n");
    EXPECT_EQ(source.Local(), nullptr);
    EXPECT_EQ(source.m_hMapping, nullptr);
    EXPECT_EQ(source.m_pMask, nullptr);
    EXPECT_EQ(target.m_pLocal, b);
  }
  EXPECT_EQ(b[0], 0xBB);
  EXPECT_EQ(b[1], 0x00) << "the moved mask still applies";
}

}  // namespace
