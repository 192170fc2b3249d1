// Shared blocks: names, the three write-back modes and release, with the
// server's end played by another process (doc_peer).
#include "qarnplus/shrmem.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/doc_peer_client.h"
#include "transport/block_name.h"
#include "transport/shrmem_merge.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;
using transport_test::RunPeer;

class ShrmemTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LeftoverBlocks(), 0) << "a block object outlived its owner"; }
};

std::string Name(uintptr_t address) {
  char name[qarn::transport::kBlockNameSize];
  qarn::transport::FormatBlockName(reinterpret_cast<const void*>(address), name);
  return name;
}

TEST(BlockNameTest, SignedDecimalOfThe32BitValue) {
  EXPECT_EQ(Name(0x12FF40), "1244992");
  EXPECT_EQ(Name(0x80000000u), "-2147483648");
  EXPECT_EQ(Name(0xFFFFFFFFu), "-1");
  EXPECT_EQ(Name(0x7FFFFFFF), "2147483647");
  EXPECT_EQ(Name(0), "0");
}

TEST(MaskedMergeTest, EqualsTheByteRuleForAnyLengthAndAlignment) {
  std::mt19937 random(12345);
  std::vector<unsigned char> local(1100), shared(1100), mask(1100);
  for (size_t size : {0u, 1u, 3u, 31u, 32u, 33u, 64u, 95u, 1000u}) {
    for (size_t offset : {0u, 1u, 7u}) {
      for (auto* v : {&local, &shared, &mask}) {
        for (auto& byte : *v) byte = static_cast<unsigned char>(random());
      }
      std::vector<unsigned char> expected = local;
      for (size_t i = 0; i < size; ++i) {
        expected[offset + i] = static_cast<unsigned char>((shared[offset + i] & mask[offset + i]) |
                                                          (local[offset + i] & ~mask[offset + i]));
      }
      qarn::transport::MaskedMerge(local.data() + offset, shared.data() + offset, mask.data() + offset, size);
      ASSERT_EQ(local, expected) << "size " << size << " offset " << offset;
    }
  }
}

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
    EXPECT_EQ(block->m_hMapping, nullptr);
    EXPECT_EQ(block->m_pMask, nullptr);
    EXPECT_EQ(block->m_nSize, 0u);
  }
  EXPECT_TRUE(null_buffer.m_bMerge);
  EXPECT_FALSE(reserved_name.m_bMerge);
  EXPECT_EQ(LeftoverBlocks(), 0);
}

TEST_F(ShrmemTest, BlockNamedAfterThePointerIsFoundByTheOtherProcess) {
  unsigned char buffer[16];
  memset(buffer, 0x11, sizeof buffer);
  {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, nullptr);
    ASSERT_NE(block.Local(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(transport_test::ShmPath(NameOf(buffer))));
    EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 16"), "11111111111111111111111111111111\n");
    EXPECT_EQ(RunPeer("poke " + NameOf(buffer) + " 2 a0a1a2"), "ok\n");
    EXPECT_EQ(buffer[2], 0x11) << "nothing comes back before the merge";
  }
  const unsigned char expected[16] = {0x11, 0x11, 0xA0, 0xA1, 0xA2, 0x11, 0x11, 0x11,
                                      0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
  EXPECT_EQ(memcmp(buffer, expected, sizeof buffer), 0);
  EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "error 2\n") << "released blocks are gone";
}

TEST_F(ShrmemTest, MaskedMergeTakesExactlyTheMaskedBits) {
  unsigned char buffer[4] = {0x12, 0x12, 0x12, 0x12};
  unsigned char mask[4] = {0x0F, 0x00, 0xFF, 0xF0};
  {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, mask);
    memset(mask, 0xFF, sizeof mask);  // the block keeps its own copy
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 0 abababab"), "ok\n");
  }
  EXPECT_EQ(buffer[0], 0x1B);
  EXPECT_EQ(buffer[1], 0x12);
  EXPECT_EQ(buffer[2], 0xAB);
  EXPECT_EQ(buffer[3], 0xA2);
}

TEST_F(ShrmemTest, MaskWithoutWriteBackKeepsNothing) {
  unsigned char buffer[4] = {1, 2, 3, 4};
  unsigned char mask[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, false, mask);
    EXPECT_EQ(block.m_pMask, nullptr);
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 0 ffffffff"), "ok\n");
    EXPECT_EQ(block.Flush(), buffer);
  }
  const unsigned char unchanged[4] = {1, 2, 3, 4};
  EXPECT_EQ(memcmp(buffer, unchanged, 4), 0);
}

TEST_F(ShrmemTest, FlushMergesNowAndReleaseMergesAgain) {
  unsigned char buffer[6] = {0};
  {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, nullptr);
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 0 0102030405"), "ok\n");
    EXPECT_EQ(block.Flush(), buffer);
    const std::vector<unsigned char> first(buffer, buffer + 6);
    EXPECT_EQ(block.Flush(), buffer);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 6), first);
    EXPECT_EQ(first, (std::vector<unsigned char>{1, 2, 3, 4, 5, 0}));
    ASSERT_EQ(RunPeer("poke " + NameOf(buffer) + " 5 09"), "ok\n");
  }
  EXPECT_EQ(buffer[5], 9) << "a change after the Flush arrives at release";
}

TEST_F(ShrmemTest, SynchSendsTheCallersBytesAgain) {
  char buffer[5] = "abcd";
  c_QARNPlus_Shrmem block(buffer, sizeof buffer, false, nullptr);
  buffer[0] = 'z';
  EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "61\n");
  EXPECT_EQ(block.Synch(), block.Local());
  EXPECT_EQ(RunPeer("peek " + NameOf(buffer) + " 1"), "7a\n");
}

TEST_F(ShrmemTest, OpenedBlockKnowsNoSizeAndWritesNothingBack) {
  unsigned char buffer[8] = {7};
  c_QARNPlus_Shrmem created(buffer, sizeof buffer, true, nullptr);
  c_QARNPlus_Shrmem opened(static_cast<const void*>(buffer));
  ASSERT_NE(opened.Local(), nullptr);
  EXPECT_NE(opened.Local(), created.Local());
  EXPECT_EQ(opened.m_nSize, 0u);
  EXPECT_EQ(opened.m_pLocal, nullptr);
  EXPECT_EQ(opened.Flush(), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(opened.Local())[0], 7);
}

TEST_F(ShrmemTest, ReuseMergesTheOldBufferAndRemapEmpties) {
  unsigned char first[4] = {0}, second[4] = {5, 5, 5, 5};
  c_QARNPlus_Shrmem block(first, sizeof first, true, nullptr);
  ASSERT_EQ(RunPeer("poke " + NameOf(first) + " 0 01"), "ok\n");
  ASSERT_NE(block.Reuse(second, sizeof second, false, nullptr), nullptr);
  EXPECT_EQ(first[0], 1);
  EXPECT_FALSE(block.m_bMerge);
  EXPECT_EQ(RunPeer("peek " + NameOf(second) + " 4"), "05050505\n");
  EXPECT_EQ(RunPeer("peek " + NameOf(first) + " 1"), "error 2\n");
  EXPECT_EQ(block.Remap("0"), nullptr);
  EXPECT_EQ(block.m_hMapping, nullptr);
  EXPECT_EQ(LeftoverBlocks(), 0);
}

TEST_F(ShrmemTest, FailuresThrowTheSystemCodeAndLeaveNothingOpen) {
  unsigned char buffer[4] = {0};
  try {
    c_QARNPlus_Shrmem missing(static_cast<const void*>(buffer));
    ADD_FAILURE() << "opened a block nobody created";
  } catch (unsigned long code) {
    EXPECT_EQ(code, 2u);
  }
  // An object of this name that another user could read is never attached.
  const std::string squatted = transport_test::ShmPath(NameOf(buffer));
  std::ofstream(squatted).put('x');
  std::filesystem::permissions(squatted, std::filesystem::perms(0644));
  try {
    c_QARNPlus_Shrmem block(buffer, sizeof buffer, true, nullptr);
    ADD_FAILURE() << "attached to an object with foreign permissions";
  } catch (unsigned long code) {
    EXPECT_EQ(code, 5u);
  }
  c_QARNPlus_Shrmem reused(static_cast<const void*>(nullptr), 0, true, nullptr);
  EXPECT_THROW(reused.Reuse(buffer, sizeof buffer, true, nullptr), unsigned long);
  EXPECT_EQ(reused.Local(), nullptr) << "a failed Reuse leaves an empty block";
  EXPECT_TRUE(reused.m_bMerge);
  std::filesystem::remove(squatted);
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
    EXPECT_NE(target.m_pMask, nullptr);
  }
  EXPECT_EQ(b[0], 0xBB);
  EXPECT_EQ(b[1], 0x00) << "the moved mask still applies";
}

}  // namespace
