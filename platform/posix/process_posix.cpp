// Server processes: started with posix_spawn, tracked until reaped.
//
// A started server must never stay a zombie of the application, yet closing
// its handle must not wait for it. Every child we start sits in a fixed table
// of atomic slots from ProcessStart until it has been reaped and its handle
// closed. A slot packs the pid with one of these states:
//   kReserved  taken by a ProcessStart that has not spawned yet
//   kRunning   handle open, not reaped; ProcessHasExited reaps it itself
//   kExited    handle open, already reaped (the pid may be reused; we answer
//              from the slot, never from the pid)
//   kReleased  handle closed while the child still ran: the SIGCHLD reaper
//              (and every later ProcessStart/ProcessClose) reaps it and
//              frees the slot
// The reaper is installed once, by the first ProcessClose that leaves a child
// running. It reaps only kReleased pids of this table with waitpid(WNOHANG),
// so children that the application started itself are left to it, and then
// chains to the handler that was there before. If SIGCHLD was ignored (or
// SA_NOCLDWAIT set), the kernel already reaps every child and nothing is
// installed. The handler uses only atomics and waitpid: async-signal-safe.

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/handles.h"

extern char** environ;

namespace qarn::os {
namespace {

using posix::HandleFromPid;
using posix::PidFromHandle;

enum SlotState : uint32_t { kEmpty = 0, kReserved = 1, kRunning = 2, kExited = 3, kReleased = 4 };
constexpr int kStateBits = 3;
constexpr int kMaxChildren = 128;

std::atomic<uint32_t> g_children[kMaxChildren];
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the reaper needs lock-free slots");

constexpr uint32_t Pack(pid_t pid, SlotState state) {
  return (static_cast<uint32_t>(pid) << kStateBits) | state;
}
constexpr pid_t PidOf(uint32_t slot) { return static_cast<pid_t>(slot >> kStateBits); }
constexpr SlotState StateOf(uint32_t slot) { return static_cast<SlotState>(slot & ((1u << kStateBits) - 1)); }

enum class ReapResult { kRunning, kGone };

// The socket path of each child's pipe, by slot, written before the slot is
// marked running. A server that is killed cannot remove its socket; once it
// has ended, but before it is reaped, its pid still belongs to it, so no
// live server can own that path and the stale socket is removed here. Only
// unlink() reads it, so the SIGCHLD reaper may use it.
constexpr size_t kSocketPathRoom = 108;  // sockaddr_un::sun_path
char g_socket_paths[kMaxChildren][kSocketPathRoom];

size_t SlotIndex(const std::atomic<uint32_t>* child) { return static_cast<size_t>(child - g_children); }

// waitpid without blocking, after removing the stale socket of a child that
// has ended. ECHILD means someone else reaped it already (or the kernel did,
// with SIGCHLD ignored): gone all the same.
ReapResult Reap(pid_t pid, size_t index) {
  siginfo_t info;
  for (;;) {
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) break;
    if (errno == EINTR) continue;
    return ReapResult::kGone;
  }
  if (info.si_pid == 0) return ReapResult::kRunning;
  if (g_socket_paths[index][0] != '\0') unlink(g_socket_paths[index]);
  for (;;) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) return ReapResult::kGone;
    if (result == 0) return ReapResult::kRunning;
    if (errno == EINTR) continue;
    return ReapResult::kGone;
  }
}

// Reaps every released child that has ended. Async-signal-safe.
void ReapReleased() {
  for (std::atomic<uint32_t>& child : g_children) {
    uint32_t slot = child.load();
    if (StateOf(slot) == kReleased && Reap(PidOf(slot), SlotIndex(&child)) == ReapResult::kGone) {
      child.compare_exchange_strong(slot, kEmpty);
    }
  }
}

struct sigaction g_previous_action;

void OnChildSignal(int signal_number, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  ReapReleased();
  errno = saved_errno;
  if (g_previous_action.sa_flags & SA_SIGINFO) {
    g_previous_action.sa_sigaction(signal_number, info, context);
  } else if (g_previous_action.sa_handler != SIG_DFL && g_previous_action.sa_handler != SIG_IGN) {
    g_previous_action.sa_handler(signal_number);
  }
}

void InstallReaper() {
  struct sigaction previous;
  sigaction(SIGCHLD, nullptr, &previous);
  const bool kernel_reaps = !(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN;
  if (kernel_reaps || (previous.sa_flags & SA_NOCLDWAIT)) return;
  g_previous_action = previous;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = OnChildSignal;
  action.sa_mask = previous.sa_mask;
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NOCLDSTOP;
  // A handler that wanted to hear of stopped children keeps hearing of them.
  const bool previous_is_function = (previous.sa_flags & SA_SIGINFO) || previous.sa_handler != SIG_DFL;
  if (previous_is_function && !(previous.sa_flags & SA_NOCLDSTOP)) action.sa_flags &= ~SA_NOCLDSTOP;
  sigaction(SIGCHLD, &action, nullptr);
}

void EnsureReaperInstalled() {
  static std::once_flag once;
  std::call_once(once, InstallReaper);
}

std::atomic<uint32_t>* ReserveSlot() {
  for (std::atomic<uint32_t>& child : g_children) {
    uint32_t expected = kEmpty;
    if (child.compare_exchange_strong(expected, Pack(0, kReserved))) return &child;
  }
  return nullptr;
}

// The slot of a child whose handle is still open.
std::atomic<uint32_t>* FindOpenSlot(pid_t pid) {
  if (pid <= 0) return nullptr;
  for (std::atomic<uint32_t>& child : g_children) {
    const uint32_t slot = child.load();
    if (PidOf(slot) == pid && (StateOf(slot) == kRunning || StateOf(slot) == kExited)) return &child;
  }
  return nullptr;
}

// The caller's environment with QARN_NS replaced by our namespace.
class ServerEnvironment {
 public:
  ServerEnvironment() : ns_entry_(std::string("QARN_NS=") + ObjectNamespace()) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      if (strncmp(*entry, "QARN_NS=", 8) != 0) entries_.push_back(*entry);
    }
    entries_.push_back(&ns_entry_[0]);
    entries_.push_back(nullptr);
  }
  char** data() { return entries_.data(); }

 private:
  std::string ns_entry_;
  std::vector<char*> entries_;
};

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

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

uint32_t ProcessStart(const ServerLaunch& launch, HANDLE* process, uint32_t* pid) {
  if (launch.executable == nullptr || process == nullptr || pid == nullptr) return kErrorInvalidParameter;
  // Where fork stands in for vfork (under an emulator, for one), posix_spawn
  // cannot report a failed exec; ask first so the answer is the same everywhere.
  if (access(launch.executable, X_OK) != 0) return ErrorFromErrno(errno);
  RemoveStaleObjectsOnce();
  ReapReleased();
  std::atomic<uint32_t>* slot = ReserveSlot();
  if (slot == nullptr) return kErrorNotEnoughMemory;

  std::string option = std::to_string(launch.option);
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
  pid_t child = 0;
  const int error = posix_spawn(&child, launch.executable, nullptr, attributes.get(),
                                const_cast<char* const*>(argv), environment.data());
  if (error != 0) {
    slot->store(kEmpty);
    return ErrorFromErrno(error);
  }
  char* socket_path = g_socket_paths[SlotIndex(slot)];
  if (PipeName(static_cast<uint32_t>(child), socket_path, kSocketPathRoom) >=
      static_cast<int>(kSocketPathRoom)) {
    socket_path[0] = '\0';
  }
  slot->store(Pack(child, kRunning));
  *process = HandleFromPid(child);
  *pid = static_cast<uint32_t>(child);
  return kErrorSuccess;
}

bool ProcessHasExited(HANDLE process) {
  const pid_t pid = PidFromHandle(process);
  std::atomic<uint32_t>* child = FindOpenSlot(pid);
  if (child == nullptr) {
    // Not one of ours: all we can tell is whether the pid still exists.
    return pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH);
  }
  uint32_t slot = child->load();
  if (StateOf(slot) == kExited) return true;
  if (Reap(pid, SlotIndex(child)) == ReapResult::kRunning) return false;
  child->compare_exchange_strong(slot, Pack(pid, kExited));
  return true;
}

void ProcessClose(HANDLE process) {
  std::atomic<uint32_t>* child = FindOpenSlot(PidFromHandle(process));
  if (child == nullptr) return;
  const uint32_t slot = child->load();
  const pid_t pid = PidOf(slot);
  if (StateOf(slot) == kExited || Reap(pid, SlotIndex(child)) == ReapResult::kGone) {
    child->store(kEmpty);
    return;
  }
  child->store(Pack(pid, kReleased));
  EnsureReaperInstalled();
  // It may have ended before the reaper was there to hear of it.
  ReapReleased();
}

}  // namespace qarn::os
