// The start event between processes, with and without a time-out, and the
// server process started with the exact command-line text.

#include <string.h>
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

void EventFromAnotherProcess() {
  // A signal from the peer ends a wait without limit.
  const std::string name = UniqueName("event");
  HANDLE event = nullptr;
  if (!CHECK_EQ(EventCreate(name.c_str(), &event), 0)) return;
  Peer peer;
  if (CHECK_EQ(LaunchPeer(kPeerSignalLate, "", name, &peer), 0)) {
    CHECK(EventWait(event, kWaitForever, nullptr) == WaitResult::kSignalled);
    CHECK_EQ(FinishPeer(&peer), 0);
  }
  EventClose(event);
}

void PeerThatNeverSignals() {
  const std::string name = UniqueName("event");
  HANDLE event = nullptr;
  if (!CHECK_EQ(EventCreate(name.c_str(), &event), 0)) return;
  Peer peer;
  if (CHECK_EQ(LaunchPeer(kPeerExitWithoutSignal, "", name, &peer), 0)) {
    // Watching the process ends the wait as soon as it is gone, long before
    // the time-out; without it only the time-out ends the wait.
    const DWORD start = GetTickCount();
    CHECK(EventWait(event, kPeerTimeoutMs, peer.process) == WaitResult::kProcessExited);
    CHECK(GetTickCount() - start < kPeerTimeoutMs);
    CHECK(ProcessHasExited(peer.process));
    CHECK(EventWait(event, 100, nullptr) == WaitResult::kTimedOut);
    CHECK_EQ(FinishPeer(&peer), 0);
  }
  EventClose(event);
}

void ExactCommandLine() {
  // Blanks, dots and quotes' neighbours travel as given.
  Peer peer;
  if (!StartPeer(kPeerEchoCommandLine, "1.4 x", &peer)) return;
  CHECK(peer.command_line.find("\" -l 1 \"") != std::string::npos);
  HANDLE pipe = INVALID_HANDLE_VALUE;
  const DWORD start = GetTickCount();
  uint32_t result;
  while ((result = PipeOpen(peer.pid, &pipe)) == kErrorFileNotFound &&
         GetTickCount() - start < kPeerTimeoutMs) {
  }
  if (CHECK_EQ(result, 0) && CHECK_EQ(PipeSetMessageMode(pipe), 0)) {
    char slot[1024] = {};
    uint32_t length = 0;
    CHECK_EQ(PipeRead(pipe, slot, sizeof slot, &length), 0);
    CHECK_EQ(length, peer.command_line.size());
    CHECK(peer.command_line == std::string(slot, length));
    PipeClose(pipe);
  }
  CHECK_EQ(FinishPeer(&peer), 0);
}

void ProcessThatCannotStart() {
  const char* command_line = "\"C:\\no such folder\\qarn_svr.exe\" -l 0 \"C:\\no such folder\" \"\" \"C:\" 1";
  const ServerLaunch launch = {
      "C:\\no such folder\\qarn_svr.exe", 0, "C:\\no such folder", "", "C:", "1", command_line};
  HANDLE process = nullptr;
  uint32_t pid = 0;
  const uint32_t result = ProcessStart(launch, &process, &pid);
  CHECK(result == kErrorFileNotFound || result == ERROR_PATH_NOT_FOUND);
  CHECK(process == nullptr);
}

}  // namespace

void RunEventAndProcessTests() {
  EventWithinOneProcess();
  EventFromAnotherProcess();
  PeerThatNeverSignals();
  ExactCommandLine();
  ProcessThatCannotStart();
}

}  // namespace wine_test
