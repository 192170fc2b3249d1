// The other process of the OS-layer tests: a small stand-in for a server.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/platform_peer_modes.h"

namespace {

namespace os = qarn::os;
using namespace platform_peer;

constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr auto kGoTimeout = std::chrono::seconds(20);

struct Arguments {
  int mode;
  std::string folder;
  std::string suffix;
  std::string event;
};

bool WaitForGo(const std::string& folder) {
  const auto deadline = std::chrono::steady_clock::now() + kGoTimeout;
  while (!std::filesystem::exists(folder + "/go")) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

int Signal(const Arguments& arguments) {
  const uint32_t error = os::EventSignal(arguments.event.c_str());
  if (error != 0) std::fprintf(stderr, "platform_peer: EventSignal failed with %u\n", error);
  return error == 0 ? 0 : 1;
}

int Report(int argc, char** argv, char** envp, const Arguments& arguments) {
  std::ofstream report(arguments.folder + "/report");
  report << argc << '\n';
  for (int i = 0; i < argc; ++i) report << argv[i] << '\n';
  for (char** entry = envp; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "QARN_NS=", 8) == 0) report << *entry << '\n';
  }
  report.close();
  return Signal(arguments);
}

void Serve(HANDLE pipe) {
  std::vector<char> buffer(4096);
  for (;;) {
    uint32_t length = 0;
    if (os::PipeRead(pipe, buffer.data(), static_cast<uint32_t>(buffer.size()), &length) != 0) return;
    const std::string message(buffer.data(), length);
    if (message == kQuit) return;
    if (message.rfind(kBigPrefix, 0) == 0) {
      const std::vector<char> big(std::strtoul(message.c_str() + std::strlen(kBigPrefix), nullptr, 10), 'b');
      os::PipeWrite(pipe, big.data(), static_cast<uint32_t>(big.size()));
    } else if (os::PipeWrite(pipe, buffer.data(), length) != 0) {
      return;
    }
  }
}

int EchoServer(const Arguments& arguments) {
  if (Signal(arguments) != 0 || !WaitForGo(arguments.folder)) return 1;
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != 0) return 1;
  HANDLE pipe = nullptr;
  if (os::PipeAccept(listener, &pipe) == 0) {
    Serve(pipe);
    os::PipeClose(pipe);
  }
  os::PipeListenerClose(listener);
  return 0;
}

int Block(const Arguments& arguments) {
  HANDLE mapping = nullptr;
  const uint32_t error = arguments.mode == kOpenBlock
                             ? os::MappingOpen(arguments.suffix.c_str(), &mapping)
                             : os::MappingCreate(arguments.suffix.c_str(), kBlockSize, &mapping);
  void* view = nullptr;
  if (error != 0 || os::MappingMapView(mapping, 0, &view) != 0) {
    std::fprintf(stderr, "platform_peer: block %s not available (%u)\n", arguments.suffix.c_str(), error);
    if (mapping != nullptr) os::MappingClose(mapping);
    return 1;
  }
  auto* bytes = static_cast<unsigned char*>(view);
  std::ofstream(arguments.folder + "/seen", std::ios::binary).write(static_cast<char*>(view), kBlockSize);
  for (unsigned i = 0; i < kBlockSize; ++i) bytes[i] = static_cast<unsigned char>(~bytes[i]);
  const int result = Signal(arguments) == 0 && WaitForGo(arguments.folder) ? 0 : 1;
  os::MappingUnmapView(mapping, view);
  os::MappingClose(mapping);
  return result;
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  if (argc != 7) {
    std::fprintf(stderr, "platform_peer: expected 6 arguments, got %d\n", argc - 1);
    return 2;
  }
  const Arguments arguments{std::atoi(argv[2]), argv[3], argv[4], argv[6]};
  switch (arguments.mode) {
    case kSignalAndExit:
      return Signal(arguments);
    case kExitSilently:
      return 0;
    case kReport:
      return Report(argc, argv, envp, arguments);
    case kLinger:
      return WaitForGo(arguments.folder) ? 0 : 1;
    case kEchoServer:
      return EchoServer(arguments);
    case kOpenBlock:
    case kCreateBlock:
      return Block(arguments);
    default:
      return 2;
  }
}
