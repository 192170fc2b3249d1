// A stand-in server the library starts like qarn_svr, scripted by the test
// (see ServerFolder and PeerScript). It records its pid, argv, QARN_NS entries,
// blocked signals, SIGPIPE disposition and every message it receives in the
// server folder. Every wait is bounded.
//
// QARN_PEER_START: normal, nosignal (exit after 300 ms), exit-after-signal,
// await-foreign (signal once <folder>/intruded has content), listen-late
// (signal first, offer the pipe 300 ms later). QARN_PEER_SCRIPT:
// one action per request, the last repeats: reply, cb<N> (N callbacks first),
// unknowncb, short, shortcb, long, zero (see Act), exit, die (SIGKILL), close,
// closedie (close the pipe, then be killed 300 ms later).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

namespace os = qarn::os;

constexpr size_t kCapacity = 65536;
// The layout is spelled out here, not taken from the library, so that a wrong
// offset there shows: names of 65 bytes, counters at 130 and 138, payload at 146.
constexpr size_t kMethodAt = 65, kStartAt = 130, kPayloadAt = 146, kResultAt = 150, kSlot = 1024;

std::string g_folder;
char g_buffer[kCapacity + 1024];
char g_reply[kSlot + 1024];

const char* Env(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr ? value : fallback;
}

void Record(uint32_t kind, const char* bytes, uint32_t length) {
  FILE* file = fopen((g_folder + "/peer.record").c_str(), "ab");
  if (file == nullptr) return;
  fwrite(&kind, 4, 1, file);
  fwrite(&length, 4, 1, file);
  fwrite(bytes, 1, length, file);
  fclose(file);
}

void RecordStart(int argc, char** argv) {
  std::ofstream(g_folder + "/server.pid.new") << os::CurrentProcessId() << '\n';
  rename((g_folder + "/server.pid.new").c_str(), (g_folder + "/server.pid").c_str());  // never half a number
  std::ofstream file(g_folder + "/peer.argv");
  for (int i = 0; i < argc; ++i) file << argv[i] << '\n';
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (strncmp(*entry, "QARN_NS=", 8) == 0) file << *entry << '\n';
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) file << line << '\n';
  }
  struct sigaction pipe_action {};
  sigaction(SIGPIPE, nullptr, &pipe_action);
  file << "SIGPIPE " << (pipe_action.sa_handler == SIG_DFL ? "default" : "changed") << '\n';
}

void Begin(char* message, size_t size, const char* interface_name, const char* method) {
  memset(message, 0, size);
  snprintf(message, kMethodAt, "%s", interface_name);
  snprintf(message + kMethodAt, kMethodAt, "%s", method);
}

// The normal reply to request number `seq`: the request's names, counters
// 1000 + seq and 2000 + seq; for "Invoke" the text "#<seq>" at 146, for all
// else the number seq at 146 and the text "<method>#<seq>" at 150.
uint32_t NormalReply(const char* request, int seq) {
  Begin(g_reply, kSlot, request, request + kMethodAt);
  const int64_t counters[2] = {1000 + seq, 2000 + seq};
  memcpy(g_reply + kStartAt, counters, sizeof counters);
  if (strcmp(request + kMethodAt, "Invoke") == 0) {
    return static_cast<uint32_t>(kPayloadAt + 1 + snprintf(g_reply + kPayloadAt, 16, "#%d", seq));
  }
  char text[96];
  snprintf(text, sizeof text, "%.64s#%d", request + kMethodAt, seq);
  memcpy(g_reply + kPayloadAt, &seq, 4);
  memcpy(g_reply + kResultAt, text, strlen(text) + 1);
  return static_cast<uint32_t>(kResultAt + strlen(text) + 1);
}

// Sends a patterned callback message and records the answer; false: client gone.
bool SendProbe(HANDLE pipe, const char* method, uint32_t size) {
  char message[kSlot];
  Begin(message, size, "QARN_Callback", method);
  for (uint32_t i = kPayloadAt; i < size; ++i) message[i] = static_cast<char>(i * 7 + size);
  uint32_t length = 0;
  if (os::PipeWrite(pipe, message, size) != os::kErrorSuccess ||
      os::PipeRead(pipe, g_buffer, kCapacity, &length) != os::kErrorSuccess) {
    return false;
  }
  Record(2, g_buffer, length);  // an answer
  return true;
}

// Performs `action` on one request; returns the reply length, 0 to end.
uint32_t Act(HANDLE pipe, const std::string& action, const char* request, int seq) {
  if (action == "exit") return 0;
  if (action == "die") raise(SIGKILL);
  if (action == "closedie") {
    os::PipeClose(pipe);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    raise(SIGKILL);
  }
  if (action.compare(0, 2, "cb") == 0 && action.size() > 2) {
    for (int k = 1; k <= atoi(action.c_str() + 2); ++k) {
      const std::string method = "Probe" + std::to_string(k);
      if (!SendProbe(pipe, method.c_str(), static_cast<uint32_t>(kPayloadAt + 10 * (k - 1)))) return 0;
    }
  } else if (action == "unknowncb" && !SendProbe(pipe, "NoSuchCallback", 300)) {
    return 0;
  }
  const struct {
    const char* action;
    uint32_t size;
    const char* interface_name;
  } fixed[] = {{"short", 100, "QARN_Server"},
               {"shortcb", 100, "QARN_Callback"},
               {"long", 1500, "QARN_Server"},
               {"zero", kSlot, "QARN_Server"}};
  for (const auto& reply : fixed) {
    if (action != reply.action) continue;
    Begin(g_reply, kSlot, reply.interface_name, request + kMethodAt);
    return reply.size;
  }
  return NormalReply(request, seq);
}

void Serve(HANDLE pipe) {
  std::vector<std::string> script;
  std::istringstream actions(Env("QARN_PEER_SCRIPT", "reply"));
  for (std::string action; std::getline(actions, action, ',');) script.push_back(action);
  if (script.empty()) script.emplace_back("reply");
  for (size_t seq = 1;; ++seq) {
    uint32_t length = 0;
    if (os::PipeRead(pipe, g_buffer, kCapacity, &length) != os::kErrorSuccess) break;
    memset(g_buffer + length, 0, 1024);
    Record(1, g_buffer, length);  // a request
    const std::string& action = script[std::min(seq, script.size()) - 1];
    if (action == "close") {
      os::PipeClose(pipe);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      return;
    }
    const std::string request(g_buffer, kSlot);
    const uint32_t size = Act(pipe, action, request.data(), static_cast<int>(seq));
    if (size == 0 || os::PipeWrite(pipe, g_reply, size) != os::kErrorSuccess) break;
    if (strcmp(request.data() + kMethodAt, "Shutdown") == 0) break;
  }
  os::PipeClose(pipe);
}

int ListenAndServe(const char* event_name, bool await_foreign, bool signalled) {
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) return 1;
  if (await_foreign) {
    std::ofstream(g_folder + "/listening") << "1\n";
    std::error_code ignored;
    const auto intruded = std::filesystem::path(g_folder) / "intruded";
    for (int waited = 0; waited < 20000; waited += 10) {
      const auto size = std::filesystem::file_size(intruded, ignored);
      if (!ignored && size > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  HANDLE pipe = nullptr;
  if ((signalled || os::EventSignal(event_name) == os::kErrorSuccess) &&
      os::PipeAccept(listener, &pipe) == os::kErrorSuccess) {
    Serve(pipe);
  }
  os::PipeListenerClose(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  g_folder = argv[3];
  const char* event_name = argv[6];
  RecordStart(argc, argv);
  const std::string start = Env("QARN_PEER_START", "normal");
  if (start == "nosignal") {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return 0;
  }
  if (start == "exit-after-signal") {
    os::EventSignal(event_name);
    return 0;
  }
  if (start == "listen-late") {
    os::EventSignal(event_name);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return ListenAndServe(event_name, false, true);
  }
  return ListenAndServe(event_name, start == "await-foreign", false);
}
