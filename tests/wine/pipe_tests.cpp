// The message pipe between two processes: boundaries, the 1024-byte slot,
// a vanished peer, opening before the pipe exists and waiting on a busy one.

#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "check.h"
#include "peer.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr uint32_t kSlot = 1024;  // the library's reply slot
constexpr DWORD kConnectWindowMs = 20000;

std::vector<char> Pattern(size_t size, int seed) {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + seed);
  return bytes;
}

// Opens the peer's pipe the way the library connects: retries while it does
// not exist yet, then switches to message mode.
uint32_t Connect(uint32_t pid, HANDLE* pipe) {
  const DWORD start = GetTickCount();
  uint32_t result;
  while ((result = PipeOpen(pid, pipe)) == kErrorFileNotFound && GetTickCount() - start < kConnectWindowMs) {
    Sleep(1);
  }
  return result == kErrorSuccess ? PipeSetMessageMode(*pipe) : result;
}

bool ReadText(HANDLE pipe, const char* expected) {
  char slot[kSlot] = {};
  uint32_t length = 0;
  const uint32_t result = PipeRead(pipe, slot, kSlot, &length);
  return CHECK_EQ(result, 0) && CHECK_EQ(length, strlen(expected)) &&
         CHECK(memcmp(slot, expected, length) == 0);
}

void MessageBoundariesAndVanishedPeer() {
  Peer peer;
  if (!StartPeer(kPeerEchoMessages, "", &peer)) return;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (CHECK_EQ(Connect(peer.pid, &pipe), 0)) {
    CHECK(!ProcessHasExited(peer.process));
    // Written back to back, read back one by one: each message keeps its
    // size and bytes in both directions.
    const size_t sizes[] = {1, 146, kSlot, 5, 663};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
      const std::vector<char> message = Pattern(sizes[i], static_cast<int>(i));
      CHECK_EQ(PipeWrite(pipe, message.data(), static_cast<uint32_t>(message.size())), 0);
    }
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
      const std::vector<char> expected = Pattern(sizes[i], static_cast<int>(i));
      std::vector<char> slot(kSlot, 0);
      uint32_t length = 0;
      CHECK_EQ(PipeRead(pipe, slot.data(), kSlot, &length), 0);
      CHECK_EQ(length, sizes[i]);
      CHECK(memcmp(slot.data(), expected.data(), sizes[i]) == 0);
    }

    // One byte more than the slot: the read fails with ERROR_MORE_DATA and
    // the slot holds the message's start.
    const std::vector<char> oversized = Pattern(kSlot + 1, 9);
    CHECK_EQ(PipeWrite(pipe, oversized.data(), kSlot + 1), 0);
    std::vector<char> slot(kSlot, 0);
    uint32_t length = 0;
    CHECK_EQ(PipeRead(pipe, slot.data(), kSlot, &length), kErrorMoreData);
    CHECK_EQ(length, kSlot);
    CHECK(memcmp(slot.data(), oversized.data(), kSlot) == 0);
    CHECK_EQ(PipeRead(pipe, slot.data(), kSlot, &length), 0);  // the rest stays in the pipe
    CHECK_EQ(length, 1);

    // The peer answers "bye" and ends without closing anything: its last
    // message still arrives, then the pipe is broken both ways.
    CHECK_EQ(PipeWrite(pipe, "bye", 3), 0);
    ReadText(pipe, "bye");
    CHECK_EQ(PipeRead(pipe, slot.data(), kSlot, &length), kErrorBrokenPipe);
    CHECK(PipeWrite(pipe, "late", 4) != 0);
    PipeClose(pipe);
  }
  CHECK_EQ(FinishPeer(&peer), 0);
}

void OpenRetriesUntilThePipeExists() {
  // Nobody listens under this process's own id.
  HANDLE pipe = INVALID_HANDLE_VALUE;
  CHECK_EQ(PipeOpen(GetCurrentProcessId(), &pipe), kErrorFileNotFound);

  // The peer runs but opens its pipe only when told to, after a first open
  // has found nothing; the retries then reach it.
  const std::string go = UniqueName("go");
  HANDLE go_event = nullptr;
  if (!CHECK_EQ(EventCreate(go.c_str(), &go_event), 0)) return;
  Peer peer;
  if (StartPeer(kPeerLateListener, go, &peer)) {
    CHECK_EQ(PipeOpen(peer.pid, &pipe), kErrorFileNotFound);
    CHECK_EQ(EventSignal(go.c_str()), 0);
    if (CHECK_EQ(Connect(peer.pid, &pipe), 0)) {
      ReadText(pipe, "ready");
      PipeClose(pipe);
    }
    CHECK_EQ(FinishPeer(&peer), 0);
  }
  EventClose(go_event);
}

DWORD WINAPI CloseAfterPause(void* pipe) {
  Sleep(300);
  PipeClose(static_cast<HANDLE>(pipe));
  return 0;
}

void BusyPipeWait() {
  Peer peer;
  if (!StartPeer(kPeerBusyListener, "", &peer)) return;
  HANDLE first = INVALID_HANDLE_VALUE;
  if (CHECK_EQ(Connect(peer.pid, &first), 0) && ReadText(first, "first")) {
    // The one instance is taken: opening is busy and a short wait gives up.
    HANDLE second = INVALID_HANDLE_VALUE;
    CHECK_EQ(PipeOpen(peer.pid, &second), kErrorPipeBusy);
    CHECK(PipeWaitBusy(peer.pid, 100) != 0);

    // Once the first client leaves and the peer listens again, the wait ends
    // and the open succeeds, as the library's connect loop does it.
    const HANDLE closer = CreateThread(nullptr, 0, CloseAfterPause, first, 0, nullptr);
    CHECK(closer != nullptr);
    uint32_t result = kErrorPipeBusy;
    int waits = 0;
    for (int attempt = 0; attempt < 10 && result == kErrorPipeBusy; ++attempt) {
      result = PipeOpen(peer.pid, &second);
      if (result == kErrorPipeBusy && CHECK_EQ(PipeWaitBusy(peer.pid, kConnectWindowMs), 0)) ++waits;
    }
    CHECK_EQ(result, 0);
    CHECK(waits > 0);
    if (result == kErrorSuccess) {
      CHECK_EQ(PipeSetMessageMode(second), 0);
      ReadText(second, "second");
      PipeClose(second);
    }
    if (closer != nullptr) {
      WaitForSingleObject(closer, kPeerTimeoutMs);
      CloseHandle(closer);
    }
  }
  CHECK_EQ(FinishPeer(&peer), 0);
}

// ---- The peer's side ----------------------------------------------------

// Reads until the client is gone; 0 when it left with a broken pipe.
int DrainUntilClientLeaves(HANDLE pipe) {
  char buffer[64];
  uint32_t length = 0;
  uint32_t result;
  while ((result = PipeRead(pipe, buffer, sizeof buffer, &length)) == kErrorSuccess) {
  }
  return result == kErrorBrokenPipe ? 0 : static_cast<int>(result);
}

int ServeEcho(HANDLE pipe) {
  std::vector<char> buffer(4096);
  for (;;) {
    uint32_t length = 0;
    const uint32_t result = PipeRead(pipe, buffer.data(), static_cast<uint32_t>(buffer.size()), &length);
    if (result != kErrorSuccess) return result == kErrorBrokenPipe ? 0 : static_cast<int>(result);
    if (PipeWrite(pipe, buffer.data(), length) != kErrorSuccess) return 100;
    if (length == 3 && memcmp(buffer.data(), "bye", 3) == 0) ExitProcess(0);  // vanish, closing nothing
  }
}

// Waits for the parent's go-ahead on the event named `go`.
bool AwaitGo(const char* go) {
  const HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, go);
  if (event == nullptr) return false;
  const bool signalled = WaitForSingleObject(event, kPeerTimeoutMs) == WAIT_OBJECT_0;
  CloseHandle(event);
  return signalled;
}

}  // namespace

int PeerPipeRole(int role, const char* argument, const char* event_name) {
  const uint32_t own_pid = CurrentProcessId();
  HANDLE listener = INVALID_HANDLE_VALUE;
  if (role == kPeerLateListener) {
    if (EventSignal(event_name) != kErrorSuccess) return 101;
    if (!AwaitGo(argument)) return 107;
  }
  if (PipeListen(own_pid, &listener) != kErrorSuccess) return 102;
  if (role != kPeerLateListener && EventSignal(event_name) != kErrorSuccess) return 101;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (PipeAccept(listener, &pipe) != kErrorSuccess) return 103;

  int result = 0;
  switch (role) {
    case kPeerEchoCommandLine: {
      const char* line = GetCommandLineA();
      result = PipeWrite(pipe, line, static_cast<uint32_t>(strlen(line))) == kErrorSuccess ? 0 : 104;
      if (result == 0) result = DrainUntilClientLeaves(pipe);
      break;
    }
    case kPeerEchoMessages:
      result = ServeEcho(pipe);
      break;
    case kPeerLateListener:
      result = PipeWrite(pipe, "ready", 5) == kErrorSuccess ? DrainUntilClientLeaves(pipe) : 104;
      break;
    case kPeerBusyListener:
      // One client after the other on the one instance.
      result = PipeWrite(pipe, "first", 5) == kErrorSuccess ? DrainUntilClientLeaves(pipe) : 104;
      PipeClose(pipe);
      pipe = INVALID_HANDLE_VALUE;
      if (result == 0 && !DisconnectNamedPipe(listener)) result = 105;
      if (result == 0 && PipeAccept(listener, &pipe) != kErrorSuccess) result = 106;
      if (result == 0)
        result = PipeWrite(pipe, "second", 6) == kErrorSuccess ? DrainUntilClientLeaves(pipe) : 104;
      break;
    default:
      result = 99;
  }
  PipeClose(pipe);
  PipeListenerClose(listener);
  return result;
}

void RunPipeTests() {
  MessageBoundariesAndVanishedPeer();
  OpenRetriesUntilThePipeExists();
  BusyPipeWait();
}

}  // namespace wine_test
