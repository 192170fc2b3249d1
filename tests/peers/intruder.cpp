// Another local process that tries to get between an application and its
// server. Each verb prints one result line on stdout:
//   intruder squat <folder>
//       waits for <folder>/server.pid, binds and listens on that server's
//       socket path, creates <folder>/squatted, accepts and reads whatever
//       comes until <folder>/done appears; prints
//       "connections <n> bytes <m>" and removes its socket if still there
//   intruder connect <server pid> <marker file>
//       opens the pipe of that server as a client would, sends a GetVersion
//       request, creates the marker file and reads; prints "open <code> write <code> read <code> length <n>"
//   intruder foreign <folder> <uid>
//       waits for <folder>/listening, then, as user <uid>, connects to the
//       socket of the server in <folder>/server.pid (reached through a path
//       descriptor opened before, since the socket folder is closed to that
//       user), sends a GetVersion request, writes "1" into <folder>/intruded
//       and reads; prints "foreign connect <errno> read <code> length <n>"
// Every wait is bounded; an alarm ends the process after a minute at most.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "connection/message.h"
#include "platform/platform.h"
#include "platform/posix/handles.h"

namespace {

namespace msg = qarn::msg;
namespace os = qarn::os;

constexpr int kWaitMs = 20000;
constexpr unsigned kAlarmSeconds = 60;

bool WaitForFile(const std::filesystem::path& path) {
  for (int waited = 0; waited < kWaitMs; waited += 10) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int Squat(const std::filesystem::path& folder) {
  if (!WaitForFile(folder / "server.pid")) return 1;
  unsigned pid = 0;
  std::ifstream(folder / "server.pid") >> pid;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  os::PipeName(pid, address.sun_path, sizeof address.sun_path);
  // The folder is made as the library would make it, if nobody has yet.
  mkdir(std::filesystem::path(address.sun_path).parent_path().c_str(), 0700);
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
  struct stat bound {};
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0 || stat(address.sun_path, &bound) != 0) {
    printf("errno %d\n", errno);
    return 1;
  }
  std::ofstream(folder / "squatted") << "1\n";
  std::vector<int> connections;
  size_t bytes = 0;
  // Takes every connection waiting now and every message waiting on them.
  const auto drain = [&] {
    for (int fd; (fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) connections.push_back(fd);
    for (int connection : connections) {
      char buffer[2048];
      for (ssize_t got; (got = recv(connection, buffer, sizeof buffer, 0)) > 0;)
        bytes += static_cast<size_t>(got);
    }
  };
  for (int waited = 0; waited < kWaitMs && !std::filesystem::exists(folder / "done"); waited += 10) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // What came before "done" is still waiting to be taken.
  drain();
  printf("connections %zu bytes %zu\n", connections.size(), bytes);
  for (int connection : connections) close(connection);
  // Only our own socket is removed, never one a server put there since.
  struct stat now {};
  if (stat(address.sun_path, &now) == 0 && now.st_ino == bound.st_ino && now.st_dev == bound.st_dev) {
    unlink(address.sun_path);
  }
  close(listener);
  return 0;
}

int Connect(unsigned pid, const char* marker) {
  HANDLE pipe = nullptr;
  const uint32_t opened = os::PipeOpen(pid, &pipe);
  uint32_t wrote = 0, read = 0, length = 0;
  if (opened == os::kErrorSuccess) {
    char request[150];
    msg::Begin(request, sizeof request, msg::kServerInterface, "GetVersion");
    msg::PutInt32(request, msg::kPayloadOffset, 0);
    wrote = os::PipeWrite(pipe, request, sizeof request);
    std::ofstream(marker) << "1\n";
    char reply[msg::kSlotSize];
    if (wrote == os::kErrorSuccess) read = os::PipeRead(pipe, reply, sizeof reply, &length);
    os::PipeClose(pipe);
  }
  if (opened != os::kErrorSuccess) std::ofstream(marker) << "1\n";
  printf("open %u write %u read %u length %u\n", opened, wrote, read, length);
  return 0;
}

int Foreign(const std::filesystem::path& folder, const char* uid_text) {
  if (!WaitForFile(folder / "listening")) return 1;
  unsigned pid = 0;
  std::ifstream(folder / "server.pid") >> pid;
  char socket_path[108];
  os::PipeName(pid, socket_path, sizeof socket_path);
  const int path_fd = open(socket_path, O_PATH | O_CLOEXEC);
  const int marker = open((folder / "intruded").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (path_fd < 0 || marker < 0 || setgid(static_cast<gid_t>(atoi(uid_text))) != 0 ||
      setuid(static_cast<uid_t>(atoi(uid_text))) != 0) {
    printf("errno %d\n", errno);
    return 1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d", path_fd);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const int connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  uint32_t read = 0, length = 0;
  if (connected == 0) {
    char request[150];
    msg::Begin(request, sizeof request, msg::kServerInterface, "GetVersion");
    msg::PutInt32(request, msg::kPayloadOffset, 0);
    os::PipeWrite(os::posix::HandleFromFd(fd), request, sizeof request);
  }
  if (write(marker, "1\n", 2) != 2) return 1;
  close(marker);
  if (connected == 0) {
    char reply[msg::kSlotSize];
    read = os::PipeRead(os::posix::HandleFromFd(fd), reply, sizeof reply, &length);
  }
  printf("foreign connect %d read %u length %u\n", connected, read, length);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  alarm(kAlarmSeconds);
  const std::string verb = argc > 1 ? argv[1] : "";
  int result = 2;
  if (verb == "squat" && argc == 3) result = Squat(argv[2]);
  if (verb == "connect" && argc == 4)
    result = Connect(static_cast<unsigned>(strtoul(argv[2], nullptr, 10)), argv[3]);
  if (verb == "foreign" && argc == 4) result = Foreign(argv[2], argv[3]);
  fflush(stdout);
  return result;
}
