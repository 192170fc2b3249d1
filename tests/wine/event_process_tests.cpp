// The start event within a process and between processes, with and without
// a time-out. (The server's exact command line: the pipe tests.)

#include <windows.h>

#include <string>

#include "check.h"
#include "peer.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

using namespace qarn::os;

void EventWithinOneProcess() {
  const std::string name = UniqueName("event");
  HANDLE event = nullptr;
  if (!CHECK_EQ(EventCreate(name.c_str(), &event), 0)) return;
  CHECK(EventWait(event, 50, nullptr) == WaitResult::kTimedOut);
  CHECK_EQ(EventSignal(name.c_str()), 0);
  CHECK(EventWait(event, 0, nullptr) == WaitResult::kSignalled);
  // Auto-reset: the one signal was used up by the wait.
  CHECK(EventWait(event, 0, nullptr) == WaitResult::kTimedOut);
  EventClose(event);
  // Once its only handle is closed the event is gone.
  CHECK_EQ(EventSignal(name.c_str()), kErrorFileNotFound);
}

// A peer that signals late ends a wait without limit; one that exits without
// signalling ends a watched wait at once, long before its time-out.
void EventFromAnotherProcess() {
  const struct {
    PeerRole role;
    uint32_t timeout_ms;
    WaitResult result;
  } cases[] = {
      {kPeerSignalLate, kWaitForever, WaitResult::kSignalled},
      {kPeerExitWithoutSignal, kPeerTimeoutMs, WaitResult::kProcessExited},
  };
  for (const auto& c : cases) {
    const std::string name = UniqueName("event");
    HANDLE event = nullptr;
    if (!CHECK_EQ(EventCreate(name.c_str(), &event), 0)) continue;
    Peer peer;
    if (CHECK_EQ(LaunchPeer(c.role, "", name, &peer), 0)) {
      const DWORD start = GetTickCount();
      CHECK(EventWait(event, c.timeout_ms, peer.process) == c.result);
      CHECK(GetTickCount() - start < kPeerTimeoutMs);
      CHECK_EQ(FinishPeer(&peer), 0);
    }
    EventClose(event);
  }
}

}  // namespace

void RunEventAndProcessTests() {
  EventWithinOneProcess();
  EventFromAnotherProcess();
}

}  // namespace wine_test
