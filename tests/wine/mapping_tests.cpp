// File mappings created in one process and opened by name in another.

#include <string.h>
#include <windows.h>

#include <string>

#include "check.h"
#include "peer.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr uint32_t kBlockSize = 10000;  // not a whole number of pages

unsigned char PatternByte(uint32_t i) { return static_cast<unsigned char>(i * 7 + 3); }

void SharedAcrossProcesses() {
  const std::string name = UniqueName("block");
  HANDLE mapping = nullptr;
  void* view = nullptr;
  if (!CHECK_EQ(MappingCreate(name.c_str(), kBlockSize, &mapping), 0)) return;
  if (CHECK_EQ(MappingMapView(mapping, kBlockSize, &view), 0)) {
    auto* bytes = static_cast<unsigned char*>(view);
    for (uint32_t i = 0; i < kBlockSize; ++i) bytes[i] = PatternByte(i);
    CHECK(MappingViewSize(mapping, view) >= kBlockSize);
    CHECK_EQ(MappingViewSize(mapping, nullptr), 0);

    // A second creation under the same name attaches to the same memory,
    // whatever size it asks for.
    HANDLE again = nullptr;
    void* again_view = nullptr;
    if (CHECK_EQ(MappingCreate(name.c_str(), 16, &again), 0) &&
        CHECK_EQ(MappingMapView(again, 16, &again_view), 0)) {
      CHECK(memcmp(again_view, view, 16) == 0);
      MappingUnmapView(again, again_view);
    }
    MappingClose(again);

    // The peer opens it by name, checks every byte and inverts them.
    Peer peer;
    if (StartPeer(kPeerMapping, name, &peer)) {
      CHECK_EQ(FinishPeer(&peer), 0);
      bool inverted = true;
      for (uint32_t i = 0; i < kBlockSize; ++i) inverted = inverted && bytes[i] == (PatternByte(i) ^ 0xFF);
      CHECK(inverted);
    }
    MappingUnmapView(mapping, view);
  }
  MappingClose(mapping);
  // The last handle is gone, and so is the name.
  HANDLE stale = nullptr;
  CHECK_EQ(MappingOpen(name.c_str(), &stale), kErrorFileNotFound);
}

void OpeningAMissingName() {
  HANDLE mapping = nullptr;
  CHECK_EQ(MappingOpen(UniqueName("never").c_str(), &mapping), kErrorFileNotFound);
  CHECK(mapping == nullptr);
}

}  // namespace

int PeerMappingRole(const char* block_name, const char* event_name) {
  HANDLE mapping = nullptr;
  void* view = nullptr;
  int result = 0;
  // Size 0 maps the whole mapping, as the opening side does.
  if (MappingOpen(block_name, &mapping) != kErrorSuccess) {
    result = 201;
  } else if (MappingMapView(mapping, 0, &view) != kErrorSuccess) {
    result = 202;
  } else {
    auto* bytes = static_cast<unsigned char*>(view);
    // The opening side learns the size from the view alone.
    if (MappingViewSize(mapping, view) < kBlockSize) result = 205;
    for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) {
      if (bytes[i] != PatternByte(i)) result = 203;
    }
    for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) bytes[i] ^= 0xFF;
    MappingUnmapView(mapping, view);
  }
  MappingClose(mapping);
  if (EventSignal(event_name) != kErrorSuccess && result == 0) result = 204;
  return result;
}

void RunMappingTests() {
  SharedAcrossProcesses();
  OpeningAMissingName();
}

}  // namespace wine_test
