// A server that keeps its application waiting, as a hung qarn_svr would:
// QARN_HOLD_AT=start never signals that it is ready; QARN_HOLD_AT=request
// answers every message with itself until the first Invoke, which it never
// answers. Either way it ends only the way a real server ends when its
// application is gone: its pipe's wait for the client sees the application
// end, or the connection drops. It writes its pid to <folder>/server.pid and,
// once it holds the application, "held" to <folder>/held.
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include "platform/platform.h"

namespace {

constexpr uint32_t kSlot = 1024;
constexpr size_t kMethodAt = 65;

char g_message[70000];

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  namespace os = qarn::os;
  const char* hold_at = getenv("QARN_HOLD_AT");
  const bool hold_start = hold_at == nullptr || strcmp(hold_at, "start") == 0;
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) return 1;
  const std::string folder = argv[3];
  std::ofstream(folder + "/server.pid") << os::CurrentProcessId() << "\n";
  if (hold_start) {
    std::ofstream(folder + "/held") << "held\n";
  } else if (os::EventSignal(argv[6]) != os::kErrorSuccess) {
    return 1;
  }
  HANDLE pipe = nullptr;
  const uint32_t accepted = os::PipeAccept(listener, &pipe);
  os::PipeListenerClose(listener);
  if (accepted != os::kErrorSuccess) return 0;
  for (bool answer = true;;) {
    uint32_t length = 0;
    if (os::PipeRead(pipe, g_message, sizeof g_message, &length) != os::kErrorSuccess) break;
    if (answer && length > kMethodAt + 7 && strcmp(g_message + kMethodAt, "Invoke") == 0) {
      answer = false;
      std::ofstream(folder + "/held") << "held\n";
    }
    if (answer && os::PipeWrite(pipe, g_message, length < kSlot ? length : kSlot) != os::kErrorSuccess) break;
  }
  os::PipeClose(pipe);
  return 0;
}
