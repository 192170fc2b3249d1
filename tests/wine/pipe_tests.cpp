// The message pipe between two processes: the exact command line, message
// boundaries, the 1024-byte slot, a vanished peer, opening where no pipe
// exists and waiting on a busy one.

#include <string.h>

#include "peer.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr uint32_t kSlot = 1024;  // the library's reply slot

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + seed);
  return bytes;
}

// Reads one message, which must be `expected`, with the read's `result`.
void ExpectMessage(HANDLE pipe, const std::string& expected, uint32_t result = kErrorSuccess) {
  char slot[kSlot];
  uint32_t length = 0;
  CHECK_EQ(PipeRead(pipe, slot, kSlot, &length), result);
  if (CHECK_EQ(length, expected.size())) CHECK(memcmp(slot, expected.data(), length) == 0);
}

void MessagesAndVanishedPeer() {
  // The peer's first message is the command line it got, blanks and all.
  Peer peer;
  if (!StartPeer(kPeerEchoMessages, "1.4 x", &peer)) return;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (CHECK_EQ(PipeOpen(peer.pid, &pipe), 0) && CHECK_EQ(PipeSetMessageMode(pipe), 0)) {
    ExpectMessage(pipe, peer.command_line);
    // Written back to back, echoed one by one with sizes and bytes intact.
    const size_t sizes[] = {1, 146, kSlot, 5, 663};
    for (size_t i = 0; i < 5; ++i) CHECK_EQ(PipeWrite(pipe, Pattern(sizes[i], i).data(), sizes[i]), 0);
    for (size_t i = 0; i < 5; ++i) ExpectMessage(pipe, Pattern(sizes[i], i));
    // One byte more than the slot: ERROR_MORE_DATA with the message's start;
    // the rest is discarded, as on POSIX, so the next read is the next
    // message. Nothing is readable in between.
    const std::string oversized = Pattern(kSlot + 1, 9);
    CHECK_EQ(PipeWrite(pipe, oversized.data(), kSlot + 1), 0);
    ExpectMessage(pipe, oversized.substr(0, kSlot), kErrorMoreData);
    CHECK_EQ(PipeWaitReadable(pipe, 50), kErrorTimeout);
    CHECK_EQ(PipeWrite(pipe, "next", 4), 0);
    CHECK_EQ(PipeWaitReadable(pipe, kPeerTimeoutMs), 0);
    ExpectMessage(pipe, "next");
    // The peer echoes "bye" and ends without closing anything: the message
    // still arrives, then the pipe is broken both ways.
    CHECK_EQ(PipeWrite(pipe, "bye", 3), 0);
    ExpectMessage(pipe, "bye");
    ExpectMessage(pipe, {}, kErrorBrokenPipe);
    CHECK(PipeWrite(pipe, "late", 4) != 0);
    PipeClose(pipe);
  }
  CHECK_EQ(FinishPeer(&peer), 0);
}

// Nothing listens for this process: opening finds no pipe. The peer serves
// two clients, one after the other, on its one instance.
void BusyPipeAndWait() {
  HANDLE first = INVALID_HANDLE_VALUE;
  HANDLE second = INVALID_HANDLE_VALUE;
  CHECK_EQ(PipeOpen(CurrentProcessId(), &first), kErrorFileNotFound);
  Peer peer;
  if (!StartPeer(kPeerTwoClients, "", &peer)) return;
  if (CHECK_EQ(PipeOpen(peer.pid, &first), 0) && CHECK_EQ(PipeSetMessageMode(first), 0)) {
    ExpectMessage(first, "first");
    // The one instance is taken: opening is busy and a short wait gives up.
    CHECK_EQ(PipeOpen(peer.pid, &second), kErrorPipeBusy);
    CHECK(PipeWaitBusy(peer.pid, 100) != 0);
    // When the first client leaves, the peer listens again: the library's
    // loop of open and wait gets in.
    PipeClose(first);
    uint32_t result = kErrorPipeBusy;
    for (int attempt = 0; attempt < 10 && result == kErrorPipeBusy; ++attempt) {
      result = PipeOpen(peer.pid, &second);
      if (result == kErrorPipeBusy) CHECK_EQ(PipeWaitBusy(peer.pid, kPeerTimeoutMs), 0);
    }
    if (CHECK_EQ(result, 0) && CHECK_EQ(PipeSetMessageMode(second), 0)) ExpectMessage(second, "second");
    PipeClose(second);
  }
  CHECK_EQ(FinishPeer(&peer), 0);
}

// The peer's side: writes `text`, then reads until the client is gone (0
// when it left with a broken pipe). With `echo` it echoes each message;
// after "bye" it vanishes, closing nothing.
int Serve(HANDLE pipe, const char* text, bool echo) {
  if (PipeWrite(pipe, text, static_cast<uint32_t>(strlen(text))) != kErrorSuccess) return 104;
  char buffer[4096];
  uint32_t length = 0;
  uint32_t result;
  while ((result = PipeRead(pipe, buffer, sizeof buffer, &length)) == kErrorSuccess) {
    if (echo && PipeWrite(pipe, buffer, length) != kErrorSuccess) return 100;
    if (echo && length == 3 && memcmp(buffer, "bye", 3) == 0) ExitProcess(0);
  }
  return result == kErrorBrokenPipe ? 0 : static_cast<int>(result);
}

}  // namespace

int PeerPipeRole(int role, const char* event_name) {
  HANDLE listener = INVALID_HANDLE_VALUE;
  if (PipeListen(CurrentProcessId(), &listener) != kErrorSuccess) return 102;
  if (EventSignal(event_name) != kErrorSuccess) return 101;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (PipeAccept(listener, &pipe) != kErrorSuccess) return 103;

  int result = 99;
  if (role == kPeerEchoMessages) result = Serve(pipe, GetCommandLineA(), true);
  if (role == kPeerTwoClients) {  // one client after the other on the one instance
    result = Serve(pipe, "first", false);
    PipeClose(pipe);
    pipe = INVALID_HANDLE_VALUE;
    if (result == 0 && !DisconnectNamedPipe(listener)) result = 105;
    if (result == 0 && PipeAccept(listener, &pipe) != kErrorSuccess) result = 106;
    if (result == 0) result = Serve(pipe, "second", false);
  }
  PipeClose(pipe);
  PipeListenerClose(listener);
  return result;
}

void RunPipeTests() {
  MessagesAndVanishedPeer();
  BusyPipeAndWait();
}

}  // namespace wine_test
