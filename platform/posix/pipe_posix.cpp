// The message pipe: a SOCK_SEQPACKET Unix socket "<dir>/pipe.<server pid>"
// in a private per-user directory (see pipe_directory.h). Message boundaries come with the socket
// type, so no read mode has to be set.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/handles.h"
#include "platform/posix/object_names.h"
#include "platform/posix/pipe_directory.h"
#include "platform/posix/process_identity.h"

namespace qarn::os {
namespace {

using posix::FdFromHandle;
using posix::FormatPipeDirectory;
using posix::HandleFromFd;

constexpr int kListenBacklog = 4;
constexpr long kBusyPauseNs = 5 * 1000000;
// How often a server waiting for its client looks whether its application
// is still there.
constexpr int kClientCheckMs = 50;
// An application connects as soon as its server has signalled (the server
// listens before it signals), within 60 s at the most, or never. A server
// waits this long in any case, with room for an application that was slow
// to be scheduled.
constexpr int64_t kClientWaitLimitMs = 2 * 60000;

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Tells when the client a server waits for will never come. The library
// passes its own namespace "<pid>-<start>" to its servers, so the process
// that namespace names is the application, and once it no longer runs with
// that start time its client will not come. (The server is not the
// application's child, so its parent says nothing.) A namespace that names
// no process, or one that had ended before the wait began (an application
// that set QARN_NS to a dead one's), leaves only the time limit.
class ClientWatch {
 public:
  ClientWatch() : began_ms_(MonotonicMs()) {
    uint64_t actual = 0;
    watch_owner_ = posix::ParseProcessNamespace(ObjectNamespace(), '\0', &owner_, &start_) != 0 &&
                   posix::ProcessStartTime(owner_, &actual) && actual == start_;
  }

  bool WillNotCome() const {
    if (MonotonicMs() - began_ms_ > kClientWaitLimitMs) return true;
    uint64_t actual = 0;
    return watch_owner_ && !(posix::ProcessStartTime(owner_, &actual) && actual == start_);
  }

 private:
  int64_t began_ms_;
  bool watch_owner_ = false;
  pid_t owner_ = 0;
  uint64_t start_ = 0;
};

// The socket path of server `pid`, in the folder this process uses, which is
// made (private) when it is missing.
uint32_t PipeAddress(uint32_t pid, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  char directory[sizeof address->sun_path];
  if (const uint32_t error = posix::PipeDirectory(directory, sizeof directory)) return error;
  const int length = snprintf(address->sun_path, sizeof address->sun_path, "%s/pipe.%u", directory,
                              static_cast<unsigned>(pid));
  if (length < 0 || static_cast<size_t>(length) >= sizeof address->sun_path) return kErrorInvalidParameter;
  return kErrorSuccess;
}

bool PeerCredentials(int fd, ucred* credentials) {
  socklen_t size = sizeof *credentials;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, credentials, &size) == 0 && size == sizeof *credentials;
}

uint32_t CloseWith(int fd, uint32_t error) {
  close(fd);
  return error;
}

// connect() without blocking on a full backlog, which reports EAGAIN.
uint32_t Connect(const sockaddr_un& address, int* fd_out) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ErrorFromErrno(errno);
  int result;
  do {
    result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return CloseWith(fd, ErrorFromErrno(errno));
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return CloseWith(fd, ErrorFromErrno(errno));
  *fd_out = fd;
  return kErrorSuccess;
}

}  // namespace

// The usual folder's name stands in for one that cannot be used, so that
// messages still say where the socket was looked for.
int PipeName(uint32_t pid, char* out, size_t size) {
  sockaddr_un address;
  if (PipeAddress(pid, &address) == kErrorSuccess) return snprintf(out, size, "%s", address.sun_path);
  char directory[sizeof(sockaddr_un::sun_path)];
  const int length = FormatPipeDirectory(directory, sizeof directory);
  if (length < 0 || static_cast<size_t>(length) >= sizeof directory) return snprintf(out, size, "%s", "");
  return snprintf(out, size, "%s/pipe.%u", directory, static_cast<unsigned>(pid));
}

uint32_t PipeOpen(uint32_t server_pid, HANDLE* pipe) {
  if (pipe == nullptr) return kErrorInvalidParameter;
  sockaddr_un address;
  uint32_t error = PipeAddress(server_pid, &address);
  int fd = -1;
  if (error == kErrorSuccess) error = Connect(address, &fd);
  if (error != kErrorSuccess) return error;
  // Only the server we started, running as us, may be on the other end.
  ucred peer{};
  if (!PeerCredentials(fd, &peer) || static_cast<uint32_t>(peer.pid) != server_pid || peer.uid != geteuid()) {
    return CloseWith(fd, kErrorAccessDenied);
  }
  *pipe = HandleFromFd(fd);
  return kErrorSuccess;
}

// A Unix socket cannot be waited on for room in its backlog without taking
// that room. So this only checks that the pipe is still there and pauses
// briefly before the caller tries again.
uint32_t PipeWaitBusy(uint32_t server_pid, uint32_t timeout_ms) {
  sockaddr_un address;
  if (const uint32_t error = PipeAddress(server_pid, &address)) return error;
  struct stat status;
  if (stat(address.sun_path, &status) != 0) return ErrorFromErrno(errno);
  if (timeout_ms == 0) return kErrorSuccess;
  const long pause_ns =
      timeout_ms < kBusyPauseNs / 1000000 ? static_cast<long>(timeout_ms) * 1000000 : kBusyPauseNs;
  const timespec pause{0, pause_ns};
  nanosleep(&pause, nullptr);
  return kErrorSuccess;
}

uint32_t PipeSetMessageMode(HANDLE pipe) {
  return FdFromHandle(pipe) >= 0 ? kErrorSuccess : kErrorInvalidParameter;
}

uint32_t PipeWrite(HANDLE pipe, const void* data, uint32_t size) {
  const int fd = FdFromHandle(pipe);
  if (fd < 0 || (data == nullptr && size != 0)) return kErrorInvalidParameter;
  ssize_t sent;
  do {
    sent = send(fd, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return ErrorFromErrno(errno);
  return static_cast<uint32_t>(sent) == size ? kErrorSuccess : kErrorGenFailure;
}

// A message longer than `capacity` fails with kErrorMoreData; its rest is
// discarded by the socket. A zero-length read is an empty message unless the
// peer has hung up.
uint32_t PipeRead(HANDLE pipe, void* buffer, uint32_t capacity, uint32_t* length) {
  const int fd = FdFromHandle(pipe);
  if (length != nullptr) *length = 0;
  if (fd < 0 || (buffer == nullptr && capacity != 0)) return kErrorInvalidParameter;
  iovec slot{buffer, capacity};
  msghdr message{};
  message.msg_iov = &slot;
  message.msg_iovlen = 1;
  ssize_t received;
  do {
    received = recvmsg(fd, &message, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return ErrorFromErrno(errno);
  if (message.msg_flags & MSG_TRUNC) {
    if (length != nullptr) *length = capacity;
    return kErrorMoreData;
  }
  if (received == 0) {
    pollfd hang_up{fd, POLLRDHUP, 0};
    if (poll(&hang_up, 1, 0) > 0 && (hang_up.revents & (POLLHUP | POLLRDHUP))) return kErrorBrokenPipe;
  }
  if (length != nullptr) *length = static_cast<uint32_t>(received);
  return kErrorSuccess;
}

uint32_t PipeWaitReadable(HANDLE pipe, uint32_t timeout_ms) {
  const int fd = FdFromHandle(pipe);
  if (fd < 0) return kErrorInvalidParameter;
  const uint32_t t0 = TickCount();
  for (;;) {
    const uint32_t spent = TickCount() - t0;
    const int left =
        timeout_ms == kWaitForever ? -1 : static_cast<int>(timeout_ms - std::min(spent, timeout_ms));
    pollfd ready{fd, POLLIN, 0};
    const int count = poll(&ready, 1, left);
    if (count > 0) return kErrorSuccess;  // a message, a hang-up or an error: the read tells which
    if (count == 0) return kErrorTimeout;
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
}

void PipeClose(HANDLE pipe) {
  const int fd = FdFromHandle(pipe);
  if (fd >= 0) close(fd);
}

uint32_t PipeListen(uint32_t own_pid, HANDLE* listener) {
  if (listener == nullptr) return kErrorInvalidParameter;
  sockaddr_un address;
  if (const uint32_t error = PipeAddress(own_pid, &address)) return error;
  // Non-blocking, so that the wait for the client can watch the application.
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ErrorFromErrno(errno);
  // A socket left by an earlier process of the same pid is stale.
  unlink(address.sun_path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, kListenBacklog) != 0) {
    return CloseWith(fd, ErrorFromErrno(errno));
  }
  *listener = HandleFromFd(fd);
  return kErrorSuccess;
}

// A peer of another user is refused and the wait goes on. The wait ends with
// kErrorBrokenPipe once the client it was started for will never come.
uint32_t PipeAccept(HANDLE listener, HANDLE* pipe) {
  const int listen_fd = FdFromHandle(listener);
  if (listen_fd < 0 || pipe == nullptr) return kErrorInvalidParameter;
  const ClientWatch client;
  for (;;) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return ErrorFromErrno(errno);
      if (client.WillNotCome()) return kErrorBrokenPipe;
      pollfd incoming{listen_fd, POLLIN, 0};
      if (poll(&incoming, 1, kClientCheckMs) < 0 && errno != EINTR) return ErrorFromErrno(errno);
      continue;
    }
    ucred peer{};
    if (PeerCredentials(fd, &peer) && peer.uid == geteuid()) {
      *pipe = HandleFromFd(fd);
      return kErrorSuccess;
    }
    close(fd);
  }
}

void PipeListenerClose(HANDLE listener) {
  const int fd = FdFromHandle(listener);
  if (fd < 0) return;
  sockaddr_un address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.sun_path[0] != '\0') {
    unlink(address.sun_path);
  }
  close(fd);
}

}  // namespace qarn::os
