// A server that fails on purpose at a step the test chooses. Started by the
// library like qarn_svr:
//   fault_server -l <option> <server folder> <suffix> <application folder> <event>
// It first writes its pid to <server folder>/server.pid and the octal mode
// and owner of its start-event semaphore to <server folder>/event.mode.
//
// QARN_FAULT_START chooses what happens before the pipe is served:
//   normal               listen, signal, serve (default)
//   exit-before-signal   exit with status 3 at once
//   crash-before-signal  killed by SIGKILL at once
//   exit-after-signal    signal, then exit without offering the pipe
//   crash-after-signal   signal, then SIGKILL
//   await-squatter       wait for <folder>/squatted, then listen, signal, serve
//   squatted-nopipe      wait for <folder>/squatted, signal, never listen;
//                        exit once <folder>/done appears
//   await-foreign        listen, create <folder>/listening, wait until
//                        <folder>/intruded is not empty, then signal, serve
// Every wait on a file is bounded (20 s); the peer never outlives a test.
//
// While serving, "Invoke" texts choose the faults of later steps:
//   echo <text>                        reply "ok <text>"
//   arm <method>                       reply "ok"; the next request of that
//                                      method kills the server unanswered
//   die                                killed before replying
//   close                              close the pipe without replying, stay
//                                      alive for a while, then exit
//   callbacks <address> <total> <k> between|pending
//       send "EnumSelectedText" callbacks with n = 1..total to the client's
//       function <address>; after callback k is answered (between) or right
//       after callback k is sent (pending) the server is killed
//   doc <record block> <api code>      performs the document call and replies
//                                      with its text
//   doc-die <record block> <api code>  performs the document call, then is
//                                      killed before replying
//   hold-die <record block> <api code> <fill byte> <count>
//       opens the package, fills <count> bytes of the record with the byte
//       and is killed while still holding its blocks
// GetVersion is answered with 7; Shutdown with a header, then the peer exits.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "connection/message.h"
#include "platform/platform.h"
#include "qarnplus/legpack.h"
#include "server/document.h"
// The document call is the stand-in server's own code.
#include "server/document.cpp"  // NOLINT(bugprone-suspicious-include)

namespace {

namespace msg = qarn::msg;
namespace os = qarn::os;

constexpr int kFileWaitMs = 20000;
constexpr int kCloseLingerMs = 1000;
constexpr uint32_t kCapacity = 65536;
constexpr int32_t kVersion = 7;
constexpr uint32_t kEnumSelectedTextSize = 176;

std::string g_folder;
char g_request[kCapacity + 1];
char g_reply[msg::kSlotSize];
std::string g_armed_method;

[[noreturn]] void Crash() {
  raise(SIGKILL);
  abort();
}

const char* Env(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr ? value : fallback;
}

bool WaitForFile(const char* name, bool with_content = false) {
  const std::filesystem::path path = std::filesystem::path(g_folder) / name;
  std::error_code ignored;
  for (int waited = 0; waited < kFileWaitMs; waited += 10) {
    if (std::filesystem::exists(path) && (!with_content || std::filesystem::file_size(path, ignored) > 0)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void WritePid() {
  const std::string path = g_folder + "/server.pid";
  const std::string temporary = path + ".new";
  if (FILE* file = fopen(temporary.c_str(), "w")) {
    fprintf(file, "%u\n", static_cast<unsigned>(os::CurrentProcessId()));
    fclose(file);
    rename(temporary.c_str(), path.c_str());  // the reader never sees half a number
  }
}

void WriteEventMode(const char* event_name) {
  const std::string path = std::string("/dev/shm/sem.qarn.") + os::ObjectNamespace() + ".ev." + event_name;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return;
  if (FILE* file = fopen((g_folder + "/event.mode").c_str(), "w")) {
    fprintf(file, "%o %u\n", static_cast<unsigned>(status.st_mode & 07777),
            static_cast<unsigned>(status.st_uid));
    fclose(file);
  }
}

uint32_t TextReply(const char* request, const std::string& text) {
  msg::Begin(g_reply, sizeof g_reply, msg::kDriverInterface, "Invoke");
  msg::PutInt64(g_reply, msg::kStartOffset, msg::GetInt64(request, msg::kStartOffset));
  msg::PutText(g_reply, msg::kPayloadOffset, sizeof g_reply - msg::kPayloadOffset, text.c_str());
  return static_cast<uint32_t>(msg::kPayloadOffset + strlen(g_reply + msg::kPayloadOffset) + 1);
}

// One EnumSelectedText callback message for function `address` with n = `n`.
void BuildCallback(char* message, uint32_t address, uint16_t n) {
  msg::Begin(message, kEnumSelectedTextSize, msg::kCallbackInterface, "EnumSelectedText");
  msg::PutUInt32(message, 146, address);
  memcpy(message + 154, &n, 2);
  const int32_t rect[4] = {n, 2 * n, 3 * n, 4 * n};
  memcpy(message + 156, rect, sizeof rect);
  msg::PutInt32(message, 172, 100 + n);
}

// Sends the callbacks; the server dies at callback `fatal`. Returns only when
// `fatal` is beyond `total` (then the caller replies) or the client is gone.
void Callbacks(HANDLE pipe, uint32_t address, int total, int fatal, bool pending) {
  char message[kEnumSelectedTextSize];
  for (int n = 1; n <= total; ++n) {
    BuildCallback(message, address, static_cast<uint16_t>(n));
    if (os::PipeWrite(pipe, message, sizeof message) != os::kErrorSuccess) return;
    if (pending && n == fatal) Crash();
    uint32_t length = 0;
    if (os::PipeRead(pipe, g_request, kCapacity, &length) != os::kErrorSuccess) return;
    if (n == fatal) Crash();
  }
}

void HoldAndDie(const char* record, const char* code, int fill, size_t count) {
  c_QARNPlus_Legpack package(record, code);
  if (package.Local() != nullptr) memset(package.Local(), fill, count);
  Crash();
}

enum class Next { kServe, kStop };

// Performs one Invoke text; returns the reply length, 0 for no reply.
uint32_t Invoke(HANDLE pipe, const char* request, Next* next) {
  char verb[32] = {0};
  char a[64] = {0}, b[64] = {0}, c[64] = {0}, d[64] = {0};
  const char* text = request + msg::kPayloadOffset;
  sscanf(text, "%31s %63s %63s %63s %63s", verb, a, b, c, d);
  const std::string command = verb;
  if (command == "echo") return TextReply(request, std::string("ok ") + (text[4] ? text + 5 : ""));
  if (command == "arm") {
    g_armed_method = a;
    return TextReply(request, "ok");
  }
  if (command == "die") Crash();
  if (command == "close") {
    os::PipeClose(pipe);
    std::this_thread::sleep_for(std::chrono::milliseconds(kCloseLingerMs));
    *next = Next::kStop;
    return 0;
  }
  if (command == "callbacks") {
    Callbacks(pipe, static_cast<uint32_t>(strtoul(a, nullptr, 0)), atoi(b), atoi(c),
              strcmp(d, "pending") == 0);
    return TextReply(request, "ok callbacks");
  }
  if (command == "doc" || command == "doc-die") {
    char reply[msg::kSlotSize - msg::kPayloadOffset];
    qarn::server::PerformDocumentCall(a, b, reply, sizeof reply);
    if (command == "doc-die") Crash();
    return TextReply(request, reply);
  }
  if (command == "hold-die")
    HoldAndDie(a, b, static_cast<int>(strtol(c, nullptr, 0)), strtoul(d, nullptr, 0));
  return TextReply(request, "unknown");
}

uint32_t Answer(HANDLE pipe, const char* request, Next* next) {
  char method[msg::kNameRoom];
  snprintf(method, sizeof method, "%.64s", request + msg::kMethodOffset);
  if (!g_armed_method.empty() && g_armed_method == method) Crash();
  if (strcmp(method, "Invoke") == 0) return Invoke(pipe, request, next);
  char interface_name[msg::kNameRoom];
  snprintf(interface_name, sizeof interface_name, "%.64s", request + msg::kInterfaceOffset);
  msg::Begin(g_reply, sizeof g_reply, interface_name, method);
  if (strcmp(method, "GetVersion") == 0) {
    msg::PutInt32(g_reply, msg::kPayloadOffset, kVersion);
    return 150;
  }
  if (strcmp(method, "Shutdown") == 0) *next = Next::kStop;
  return msg::kHeaderSize;
}

void Serve(HANDLE pipe) {
  for (Next next = Next::kServe; next == Next::kServe;) {
    uint32_t length = 0;
    if (os::PipeRead(pipe, g_request, kCapacity, &length) != os::kErrorSuccess) return;
    memset(g_request + length, 0, sizeof g_request - length);
    const uint32_t reply_length = Answer(pipe, g_request, &next);
    if (reply_length == 0) return;  // the pipe is closed already
    if (os::PipeWrite(pipe, g_reply, reply_length) != os::kErrorSuccess) return;
  }
  os::PipeClose(pipe);
}

int ListenAndServe(const char* event_name, bool await_foreign) {
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) return 1;
  if (await_foreign) {
    if (FILE* file = fopen((g_folder + "/listening").c_str(), "w")) fclose(file);
    WaitForFile("intruded", true);
  }
  if (os::EventSignal(event_name) != os::kErrorSuccess) {
    os::PipeListenerClose(listener);
    return 1;
  }
  HANDLE pipe = nullptr;
  if (os::PipeAccept(listener, &pipe) == os::kErrorSuccess) Serve(pipe);
  os::PipeListenerClose(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  g_folder = argv[3];
  const char* event_name = argv[6];
  WritePid();
  WriteEventMode(event_name);
  const std::string start = Env("QARN_FAULT_START", "normal");
  if (start == "exit-before-signal") return 3;
  if (start == "crash-before-signal") Crash();
  if (start == "exit-after-signal" || start == "crash-after-signal") {
    os::EventSignal(event_name);
    if (start == "crash-after-signal") Crash();
    return 0;
  }
  if (start == "await-squatter" && !WaitForFile("squatted")) return 1;
  if (start == "squatted-nopipe") {
    if (!WaitForFile("squatted")) return 1;
    os::EventSignal(event_name);
    WaitForFile("done");
    return 0;
  }
  return ListenAndServe(event_name, start == "await-foreign");
}
