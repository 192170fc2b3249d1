// Server processes: started detached, known by their pid and start time.
//
// A started server must never stay a zombie of the application, yet the
// library may neither wait for it nor put a handler of its own on SIGCHLD,
// a signal the application may use (and under the emulator every handler
// that returns leaves its thread on another thread's data). So the server is
// not our child: a short-lived helper process (a fork of ours) spawns it and
// ends, and the server, now an orphan, is reaped by init (or the nearest
// subreaper) when it ends. The helper is waited for at once; it ends as soon
// as we know the server's identity.
//
// The handle is a small record of the server's pid and start time. The
// helper holds the server unreaped until we have read its start time, so the
// pid cannot have been reused by then; afterwards "the server runs" means
// "its pid runs with that start time".

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/pipe_directory.h"
#include "platform/posix/process_identity.h"

extern char** environ;

namespace qarn::os {
namespace {

struct ProcessRecord {
  pid_t pid;
  uint64_t start;
  bool ended;  // ended before its start time could be read
};

ProcessRecord* RecordOf(HANDLE process) { return static_cast<ProcessRecord*>(process); }

// What the helper and the server tell the starting thread, one whole
// message per write (pipe writes this small are atomic).
struct Report {
  int32_t kind;
  int32_t value;
};
enum ReportKind : int32_t { kServerPid = 1, kSpawnFailed = 2 };

bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// The caller's environment with QARN_NS replaced by our namespace, and the
// socket folder named when it is not the usual one.
class ServerEnvironment {
 public:
  ServerEnvironment() : ns_entry_(std::string("QARN_NS=") + ObjectNamespace()) {
    const std::string folder_prefix = std::string(posix::kPipeDirectoryVariable) + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      if (!StartsWith(*entry, "QARN_NS=") && !StartsWith(*entry, folder_prefix.c_str()))
        entries_.push_back(*entry);
    }
    entries_.push_back(&ns_entry_[0]);
    if (posix::PipeDirectoryEntry(folder_entry_, sizeof folder_entry_) && folder_entry_[0] != '\0') {
      entries_.push_back(folder_entry_);
    }
    entries_.push_back(nullptr);
  }
  char** data() { return entries_.data(); }

 private:
  std::string ns_entry_;
  char folder_entry_[160] = "";
  std::vector<char*> entries_;
};

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

void WriteReport(int fd, ReportKind kind, int32_t value) {
  const Report report{kind, value};
  ssize_t written;
  do {
    written = write(fd, &report, sizeof report);
  } while (written < 0 && errno == EINTR);
}

// Reads one report; false at the end of the stream.
bool ReadReport(int fd, Report* report) {
  for (;;) {
    const ssize_t got = read(fd, report, sizeof *report);
    if (got == static_cast<ssize_t>(sizeof *report)) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

class SpawnAttributes {
 public:
  // The server starts with no blocked signals and default child and pipe
  // signal handling, whatever the application set for itself. It gets a
  // process group of its own, as a Windows server started without a console
  // window hears no Ctrl-C: a terminal's interrupt goes to the application,
  // which ends its sessions (and with them its servers) as it sees fit.
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes_, &signals);
    sigaddset(&signals, SIGCHLD);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes_, &signals);
    posix_spawnattr_setpgroup(&attributes_, 0);
    posix_spawnattr_setflags(&attributes_,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Everything the helper needs, made before the fork: a fork child of a
// threaded process may only make async-signal-safe calls (glibc's
// posix_spawn takes no lock and allocates nothing without file actions).
struct ServerSpawn {
  const char* executable;
  char* const* argv;
  char* const* envp;
  const posix_spawnattr_t* attributes;
};

// How long a helper holds its server for a starting thread that never says
// it has read the server's identity (it was killed).
constexpr int kHoldLimitMs = 10000;

// The helper: starts the server, reports its pid, and ends once the starting
// thread has read the server's identity, leaving the server to init. The
// starting thread says so with a byte: the end of the stream would not do,
// since helpers that other threads fork at the same time inherit copies of
// this pipe's write end.
[[noreturn]] void RunHelper(const ServerSpawn& spawn, int report, int hold) {
  pid_t server = 0;
  const int error = posix_spawn(&server, spawn.executable, nullptr, spawn.attributes, spawn.argv, spawn.envp);
  WriteReport(report, error == 0 ? kServerPid : kSpawnFailed, error == 0 ? server : error);
  close(report);
  pollfd go{hold, POLLIN, 0};
  while (poll(&go, 1, kHoldLimitMs) < 0 && errno == EINTR) {
  }
  _exit(0);
}

void CloseBoth(const int fds[2]) {
  close(fds[0]);
  close(fds[1]);
}

// Starts `executable` detached. On success the server's pid and start time
// are in `record`.
uint32_t SpawnDetached(const ServerSpawn& spawn, ProcessRecord* record) {
  int report[2];
  int hold[2];
  if (pipe2(report, O_CLOEXEC) != 0) return ErrorFromErrno(errno);
  if (pipe2(hold, O_CLOEXEC) != 0) {
    const uint32_t error = ErrorFromErrno(errno);
    CloseBoth(report);
    return error;
  }
  // No handler of the application may run in the copies of this process.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t helper = _Fork();
  if (helper == 0) {
    close(report[0]);
    close(hold[1]);
    RunHelper(spawn, report[1], hold[0]);
  }
  const int fork_error = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(report[1]);
  close(hold[0]);
  if (helper < 0) {
    close(report[0]);
    close(hold[1]);
    return ErrorFromErrno(fork_error);
  }

  uint32_t error = kErrorGenFailure;
  Report message{};
  if (ReadReport(report[0], &message)) {
    if (message.kind == kServerPid) {
      record->pid = message.value;
      record->ended = !posix::ProcessStartTime(record->pid, &record->start);
      error = kErrorSuccess;
    } else {
      error = ErrorFromErrno(message.value);
    }
  }
  const char go = 1;
  while (write(hold[1], &go, 1) < 0 && errno == EINTR) {
  }
  close(hold[1]);
  while (waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return error;
}

// Once the server's pid runs no process at all (it has ended, and nobody got
// its pid since), no server can own "pipe.<pid>", so a socket the server
// could not remove (it was killed) is removed here.
void RemoveLeftSocket(pid_t pid) {
  uint64_t start = 0;
  if (posix::ProcessStartTime(pid, &start)) return;
  char path[108];  // sockaddr_un::sun_path
  const int length = PipeName(static_cast<uint32_t>(pid), path, sizeof path);
  if (length > 0 && static_cast<size_t>(length) < sizeof path) unlink(path);
}

}  // namespace

uint32_t ProcessStart(const ServerLaunch& launch, HANDLE* process, uint32_t* pid) {
  if (launch.executable == nullptr || process == nullptr || pid == nullptr) return kErrorInvalidParameter;
  // Where fork stands in for vfork (under an emulator, for one), posix_spawn
  // cannot report a failed exec; ask first so the answer is the same everywhere.
  if (access(launch.executable, X_OK) != 0) return ErrorFromErrno(errno);
  RemoveStaleObjectsOnce();
  auto* record = new (std::nothrow) ProcessRecord{};
  if (record == nullptr) return kErrorNotEnoughMemory;
  uint32_t error = kErrorNotEnoughMemory;
  try {
    const std::string option = std::to_string(launch.option);
    const char* argv[] = {launch.executable,
                          "-l",
                          option.c_str(),
                          OrEmpty(launch.server_dir),
                          OrEmpty(launch.suffix),
                          OrEmpty(launch.app_dir),
                          OrEmpty(launch.event_name),
                          nullptr};
    ServerEnvironment environment;
    SpawnAttributes attributes;
    const ServerSpawn spawn{launch.executable, const_cast<char* const*>(argv), environment.data(),
                            attributes.get()};
    error = SpawnDetached(spawn, record);
  } catch (const std::bad_alloc&) {
  }
  if (error != kErrorSuccess) {
    delete record;
    return error;
  }
  *process = record;
  *pid = static_cast<uint32_t>(record->pid);
  return kErrorSuccess;
}

bool ProcessHasExited(HANDLE process) {
  const ProcessRecord* record = RecordOf(process);
  if (record == nullptr || record == INVALID_HANDLE_VALUE || record->ended) return true;
  uint64_t start = 0;
  return !(posix::ProcessStartTime(record->pid, &start) && start == record->start);
}

bool ProcessAwaitExit(HANDLE process, uint32_t timeout_ms) {
  const timespec pause{0, 1000000};
  for (uint32_t waited = 0; !ProcessHasExited(process); ++waited) {
    if (waited >= timeout_ms) return false;
    nanosleep(&pause, nullptr);
  }
  return true;
}

void ProcessClose(HANDLE process) {
  ProcessRecord* record = RecordOf(process);
  if (record == nullptr || record == INVALID_HANDLE_VALUE) return;
  RemoveLeftSocket(record->pid);
  delete record;
}

}  // namespace qarn::os
