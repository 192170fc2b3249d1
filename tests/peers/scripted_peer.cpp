// A stand-in server whose behaviour a test scripts, to produce the
// protocol's edge cases on purpose. Started by the library like qarn_svr:
//   scripted_peer -l <option> <server folder> <suffix> <application folder> <event>
//
// QARN_PEER_START  normal (default) | nosignal
// QARN_PEER_SCRIPT comma-separated actions, one per request; the last one
//                  repeats. Default: reply. Actions:
//   reply      the normal reply (see NormalReply)
//   cb<N>      N probe callback messages, then the normal reply
//   unknowncb  one callback message of an unknown method, then the reply
//   short      a 100-byte reply
//   shortcb    a 100-byte final message that starts with "QARN_Callback"
//   long       a 1500-byte reply
//   zero       a 1024-byte reply whose payload is all zero
//   exit       exit without replying
// QARN_PEER_LINGER_MS how long nosignal stays alive (default 300).
//
// Every message received is appended to <server folder>/peer.record as
// [u32 kind][u32 length][bytes] (kind 1: request, 2: callback answer); the
// argv goes to <server folder>/peer.argv, one element a line, followed by
// QARN_NS, the blocked signals and the SIGPIPE disposition it started with.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "connection/message.h"
#include "platform/platform.h"

namespace {

namespace msg = qarn::msg;
namespace os = qarn::os;

constexpr uint32_t kRequestKind = 1;
constexpr uint32_t kCallbackAnswerKind = 2;
constexpr size_t kCapacity = 65536;

std::string g_folder;
char g_buffer[kCapacity + 1024];
char g_reply[2048];

void Record(uint32_t kind, const char* bytes, uint32_t length) {
  FILE* file = fopen((g_folder + "/peer.record").c_str(), "ab");
  if (file == nullptr) return;
  fwrite(&kind, 4, 1, file);
  fwrite(&length, 4, 1, file);
  fwrite(bytes, 1, length, file);
  fclose(file);
}

std::vector<std::string> Split(const char* text) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == ',') {
      parts.push_back(part);
      part.clear();
    } else {
      part += *c;
    }
  }
  parts.push_back(part);
  return parts;
}

const char* Env(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr ? value : fallback;
}

// The argv, then what the peer inherited: QARN_NS, blocked signals, SIGPIPE.
void RecordStart(int argc, char** argv) {
  FILE* file = fopen((g_folder + "/peer.argv").c_str(), "w");
  if (file == nullptr) return;
  for (int i = 0; i < argc; ++i) fprintf(file, "%s\n", argv[i]);
  fprintf(file, "QARN_NS=%s\n", Env("QARN_NS", "(unset)"));
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) fprintf(file, "%s\n", line.c_str());
  }
  struct sigaction pipe_action {};
  sigaction(SIGPIPE, nullptr, &pipe_action);
  fprintf(file, "SIGPIPE %s\n", pipe_action.sa_handler == SIG_DFL ? "default" : "changed");
  fclose(file);
}

void Linger() {
  std::this_thread::sleep_for(std::chrono::milliseconds(atoi(Env("QARN_PEER_LINGER_MS", "300"))));
}

// The normal reply to request number `seq`: the request's names, counters
// 1000 + seq and 2000 + seq; for "Invoke" the text "#<seq>" at 146, for all
// else the number seq at 146 and the text "<method>#<seq>" at 150.
uint32_t NormalReply(const char* request, int seq) {
  char method[msg::kNameRoom];
  snprintf(method, sizeof method, "%.64s", request + msg::kMethodOffset);
  char interface_name[msg::kNameRoom];
  snprintf(interface_name, sizeof interface_name, "%.64s", request + msg::kInterfaceOffset);
  msg::Begin(g_reply, msg::kSlotSize, interface_name, method);
  msg::PutInt64(g_reply, msg::kStartOffset, 1000 + seq);
  msg::PutInt64(g_reply, msg::kEndOffset, 2000 + seq);
  char text[96];
  if (strcmp(method, "Invoke") == 0) {
    snprintf(text, sizeof text, "#%d", seq);
    msg::PutText(g_reply, msg::kPayloadOffset, sizeof text, text);
    return static_cast<uint32_t>(msg::kPayloadOffset + strlen(text) + 1);
  }
  snprintf(text, sizeof text, "%s#%d", method, seq);
  msg::PutInt32(g_reply, msg::kPayloadOffset, seq);
  msg::PutText(g_reply, msg::kResultOffset, sizeof text, text);
  return static_cast<uint32_t>(msg::kResultOffset + strlen(text) + 1);
}

// Sends one callback message of `size` bytes with a byte pattern and checks
// that the answer is the same size. Returns false when the client is gone.
bool SendCallback(HANDLE pipe, const char* method, uint32_t size) {
  char message[msg::kSlotSize];
  msg::Begin(message, size, msg::kCallbackInterface, method);
  for (uint32_t i = msg::kHeaderSize; i < size; ++i) message[i] = static_cast<char>(i * 7 + size);
  if (os::PipeWrite(pipe, message, size) != os::kErrorSuccess) return false;
  uint32_t length = 0;
  if (os::PipeRead(pipe, g_buffer, kCapacity, &length) != os::kErrorSuccess) return false;
  Record(kCallbackAnswerKind, g_buffer, length);
  return true;
}

uint32_t FixedReply(const char* request, uint32_t size, const char* interface_name) {
  char method[msg::kNameRoom];
  snprintf(method, sizeof method, "%.64s", request + msg::kMethodOffset);
  msg::Begin(g_reply, sizeof g_reply, interface_name, method);
  return size;
}

// Performs `action` on one request; false ends the peer.
bool Act(HANDLE pipe, const std::string& action, const char* request, int seq) {
  uint32_t size = 0;
  if (action == "exit") return false;
  if (action.compare(0, 2, "cb") == 0 && action.size() > 2) {
    const int count = atoi(action.c_str() + 2);
    for (int k = 1; k <= count; ++k) {
      const std::string method = "Probe" + std::to_string(k);
      if (!SendCallback(pipe, method.c_str(), static_cast<uint32_t>(msg::kHeaderSize + 10 * k))) return false;
    }
    size = NormalReply(request, seq);
  } else if (action == "unknowncb") {
    if (!SendCallback(pipe, "NoSuchCallback", 300)) return false;
    size = NormalReply(request, seq);
  } else if (action == "short") {
    size = FixedReply(request, 100, msg::kServerInterface);
  } else if (action == "shortcb") {
    size = FixedReply(request, 100, msg::kCallbackInterface);
  } else if (action == "long") {
    size = FixedReply(request, 1500, msg::kServerInterface);
  } else if (action == "zero") {
    size = FixedReply(request, msg::kSlotSize, msg::kServerInterface);
  } else {
    size = NormalReply(request, seq);
  }
  return os::PipeWrite(pipe, g_reply, size) == os::kErrorSuccess;
}

void Serve(HANDLE pipe) {
  const std::vector<std::string> script = Split(Env("QARN_PEER_SCRIPT", "reply"));
  for (int seq = 1;; ++seq) {
    uint32_t length = 0;
    if (os::PipeRead(pipe, g_buffer, kCapacity, &length) != os::kErrorSuccess) return;
    memset(g_buffer + length, 0, 1024);
    Record(kRequestKind, g_buffer, length);
    const std::string& action =
        script[static_cast<size_t>(seq - 1) < script.size() ? seq - 1 : script.size() - 1];
    std::string request(g_buffer, msg::kHeaderSize);
    if (!Act(pipe, action, request.data(), seq)) return;
    if (msg::MethodIs(request.data(), "Shutdown")) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  g_folder = argv[3];
  RecordStart(argc, argv);
  const std::string start = Env("QARN_PEER_START", "normal");
  if (start == "nosignal") {
    Linger();
    return 0;
  }
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) return 1;
  if (os::EventSignal(argv[6]) != os::kErrorSuccess) {
    os::PipeListenerClose(listener);
    return 1;
  }
  HANDLE pipe = nullptr;
  if (os::PipeAccept(listener, &pipe) == os::kErrorSuccess) {
    Serve(pipe);
    os::PipeClose(pipe);
  }
  os::PipeListenerClose(listener);
  return 0;
}
