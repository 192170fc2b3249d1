// Shared mappings across real processes, their namespaces, and the checks
// on objects that someone else may have made.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;
using namespace platform_peer;

std::string Pattern() {
  std::string bytes(kBlockSize, '\0');
  for (unsigned i = 0; i < kBlockSize; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  return bytes;
}

std::string Inverted(std::string bytes) {
  for (char& byte : bytes) byte = static_cast<char>(~byte);
  return bytes;
}

// A mapping with its view, released at scope end.
class Block {
 public:
  static Block Create(const std::string& name, uint32_t size) {
    Block block;
    block.error_ = os::MappingCreate(name.c_str(), size, &block.mapping_);
    if (block.error_ == os::kErrorSuccess)
      block.error_ = os::MappingMapView(block.mapping_, size, &block.view_);
    return block;
  }
  static Block Open(const std::string& name) {
    Block block;
    block.error_ = os::MappingOpen(name.c_str(), &block.mapping_);
    if (block.error_ == os::kErrorSuccess) block.error_ = os::MappingMapView(block.mapping_, 0, &block.view_);
    return block;
  }
  Block(Block&& other) noexcept : mapping_(other.mapping_), view_(other.view_), error_(other.error_) {
    other.mapping_ = nullptr;
    other.view_ = nullptr;
  }
  ~Block() { Release(); }

  void Release() {
    if (view_ != nullptr) os::MappingUnmapView(mapping_, view_);
    if (mapping_ != nullptr) os::MappingClose(mapping_);
    mapping_ = view_ = nullptr;
  }
  uint32_t error() const { return error_; }
  char* bytes() const { return static_cast<char*>(view_); }
  std::string Content(size_t size) const { return std::string(bytes(), size); }

 private:
  Block() = default;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  uint32_t error_ = os::kErrorSuccess;
};

// Runs the block peer in `mode` on `name` and returns what it saw there.
std::string PeerSees(Mode mode, const std::string& name) {
  WorkFolder folder;
  StartEvent event;
  EXPECT_EQ(event.error(), os::kErrorSuccess);
  Peer peer(mode, folder, name, event.name());
  EXPECT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), 30000, peer.process()), os::WaitResult::kSignalled);
  return ReadWholeFile(folder.file("seen"));
}

TEST(MappingTest, BlockCreatedHereIsSharedWithAnotherProcessAndThenRemoved) {
  const std::string name = "-2147483648";
  {
    Block block = Block::Create(name, kBlockSize);
    ASSERT_EQ(block.error(), os::kErrorSuccess);
    std::memcpy(block.bytes(), Pattern().data(), kBlockSize);
    EXPECT_EQ(PeerSees(kOpenBlock, name), Pattern());
    EXPECT_EQ(block.Content(kBlockSize), Inverted(Pattern()));
  }
  EXPECT_TRUE(SharedObjectsOf(os::ObjectNamespace()).empty());
}

TEST(MappingTest, NamespacesKeepEqualBlockNamesApart) {
  const std::string name = "1244992";
  ScopedEnv here("QARN_NS", UniqueName("here").c_str());
  Block block = Block::Create(name, kBlockSize);
  ASSERT_EQ(block.error(), os::kErrorSuccess);
  std::memcpy(block.bytes(), Pattern().data(), kBlockSize);
  {
    // The peer inherits this namespace and creates its own block there.
    ScopedEnv there("QARN_NS", UniqueName("there").c_str());
    EXPECT_EQ(PeerSees(kCreateBlock, name), std::string(kBlockSize, '\0'));
    EXPECT_TRUE(SharedObjectsOf(os::ObjectNamespace()).empty());
  }
  EXPECT_EQ(block.Content(kBlockSize), Pattern());
  block.Release();
  EXPECT_TRUE(SharedObjectsOf(os::ObjectNamespace()).empty());
}

TEST(MappingTest, SecondCreateAttachesAndTheLastCreatorRemovesTheName) {
  const std::string name = UniqueName("block");
  Block first = Block::Create(name, 64);
  ASSERT_EQ(first.error(), os::kErrorSuccess);
  std::memcpy(first.bytes(), "shared", 7);
  Block second = Block::Create(name, 64);
  ASSERT_EQ(second.error(), os::kErrorSuccess);
  EXPECT_STREQ(second.bytes(), "shared");

  first.Release();
  Block opened = Block::Open(name);
  ASSERT_EQ(opened.error(), os::kErrorSuccess) << "the name must live while a creating block holds it";
  EXPECT_STREQ(opened.bytes(), "shared");
  second.Release();
  EXPECT_EQ(Block::Open(name).error(), os::kErrorFileNotFound);
  EXPECT_STREQ(opened.bytes(), "shared") << "an open view outlives the name";
}

TEST(MappingTest, ObjectOthersCouldUseIsRefused) {
  const std::string name = UniqueName("planted");
  const std::string full_name = "/qarn." + std::string(os::ObjectNamespace()) + "." + name;
  const int fd = shm_open(full_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 64), 0);
  ASSERT_EQ(fchmod(fd, 0644), 0);
  HANDLE mapping = nullptr;
  EXPECT_EQ(os::MappingCreate(name.c_str(), 64, &mapping), os::kErrorAccessDenied);
  EXPECT_EQ(os::MappingOpen(name.c_str(), &mapping), os::kErrorAccessDenied);
  close(fd);
  shm_unlink(full_name.c_str());
}

TEST(MappingTest, ViewsStayInsideTheObject) {
  const std::string name = UniqueName("small");
  Block block = Block::Create(name, 100);
  ASSERT_EQ(block.error(), os::kErrorSuccess);
  HANDLE mapping = nullptr;
  ASSERT_EQ(os::MappingOpen(name.c_str(), &mapping), os::kErrorSuccess);
  void* view = nullptr;
  EXPECT_EQ(os::MappingMapView(mapping, 1u << 20, &view), os::kErrorAccessDenied);
  os::MappingClose(mapping);

  HANDLE none = nullptr;
  EXPECT_EQ(os::MappingCreate(UniqueName("empty").c_str(), 0, &none), os::kErrorInvalidParameter);
  EXPECT_EQ(os::MappingOpen(UniqueName("absent").c_str(), &none), os::kErrorFileNotFound);
}

}  // namespace
