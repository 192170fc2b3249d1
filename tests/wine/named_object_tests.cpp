// Named events and file mappings, within one process and shared with a peer
// process.

#include "peer.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr uint32_t kBlockSize = 10000;  // not a whole number of pages

// The start event: a name that is taken is refused (another start owns it),
// a time-out, one signal for one wait (auto-reset), a wait
// without limit ended by a peer that exits unsignalled (StartPeer's waits end
// by the signal), and the name gone with the last handle.
void StartEvent() {
  const std::string name = UniqueName("event");
  HANDLE event = nullptr;
  if (!CHECK_EQ(EventCreate(name.c_str(), &event), 0)) return;
  HANDLE again = nullptr;
  CHECK_EQ(EventCreate(name.c_str(), &again), kErrorAlreadyExists);
  CHECK(again == nullptr);
  CHECK(EventWait(event, 50, nullptr) == WaitResult::kTimedOut);
  CHECK_EQ(EventSignal(name.c_str()), 0);
  CHECK(EventWait(event, 0, nullptr) == WaitResult::kSignalled);
  CHECK(EventWait(event, 0, nullptr) == WaitResult::kTimedOut);
  Peer peer;
  if (CHECK_EQ(LaunchPeer(kPeerExitWithoutSignal, "", name, &peer), 0)) {
    CHECK(EventWait(event, kWaitForever, peer.process) == WaitResult::kProcessExited);
    CHECK_EQ(FinishPeer(&peer), 0);
  }
  EventClose(event);
  CHECK_EQ(EventSignal(name.c_str()), kErrorFileNotFound);
}

unsigned char PatternByte(uint32_t i) { return static_cast<unsigned char>(i * 7 + 3); }

void SharedAcrossProcesses() {
  const std::string name = UniqueName("block");
  HANDLE mapping = nullptr;
  void* view = nullptr;
  if (!CHECK_EQ(MappingCreate(name.c_str(), kBlockSize, &mapping), 0)) return;
  if (CHECK_EQ(MappingMapView(mapping, kBlockSize, &view), 0)) {
    auto* bytes = static_cast<unsigned char*>(view);
    for (uint32_t i = 0; i < kBlockSize; ++i) bytes[i] = PatternByte(i);

    // The peer opens it by name, checks every byte and inverts them.
    Peer peer;
    if (StartPeer(kPeerMapping, name, &peer) && CHECK_EQ(FinishPeer(&peer), 0)) {
      uint32_t inverted = 0;
      while (inverted < kBlockSize && bytes[inverted] == (PatternByte(inverted) ^ 0xFF)) ++inverted;
      CHECK_EQ(inverted, kBlockSize);
    }
    MappingUnmapView(mapping, view);
  }
  MappingClose(mapping);
  // The last handle is gone, and so is the name.
  HANDLE stale = nullptr;
  CHECK_EQ(MappingOpen(name.c_str(), &stale), kErrorFileNotFound);
}

}  // namespace

int PeerMappingRole(const char* block_name, const char* event_name) {
  HANDLE mapping = nullptr;
  void* view = nullptr;
  // Size 0 maps all of it, as the opening side does: the size comes from the
  // view alone.
  int result = MappingOpen(block_name, &mapping) || MappingMapView(mapping, 0, &view) ? 201 : 0;
  auto* bytes = static_cast<unsigned char*>(view);
  if (result == 0 && MappingViewSize(mapping, view) < kBlockSize) result = 202;
  for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) result = bytes[i] == PatternByte(i) ? 0 : 203;
  for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) bytes[i] ^= 0xFF;
  if (view != nullptr) MappingUnmapView(mapping, view);
  MappingClose(mapping);
  if (EventSignal(event_name) != kErrorSuccess && result == 0) result = 204;
  return result;
}

void RunNamedObjectTests() {
  StartEvent();
  SharedAcrossProcesses();
}

}  // namespace wine_test
