// Session start and end through the library against starting the same server
// binary by hand:
//   library  f_QARNSVR_LoadLibrary + f_QARNSVR_FreeLibrary
//   raw      create the start semaphore, posix_spawn qarn_svr with the same
//            argv, wait for the semaphore, connect to its socket, close
// Both leave the server to exit on its own; waiting for that (and reaping
// the raw one) happens outside the timed part, so that every cycle begins
// with no server running.
//
// It also reports the client's CPU time while f_QARNSVR_LoadLibrary runs
// against its wall time (cpu_share, goal at most 0.1): the client should
// sleep while the server starts, not spin. The raw start's own share is
// beside it for comparison.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/paired_timer.h"
#include "connection/session.h"
#include "platform/posix/handles.h"
#include "qarnplus/server.h"

extern char** environ;

namespace {

constexpr double kGoal = 1.3;
constexpr double kCpuGoal = 0.1;
constexpr int kCycles = 30;

int64_t ClockNs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Waits, sleeping, until process `pid` no longer exists (at most ~10 s).
void AwaitGone(pid_t pid) {
  const timespec pause{0, 1000000};
  for (int i = 0; i < 10000 && kill(pid, 0) == 0; ++i) nanosleep(&pause, nullptr);
}

void Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// What the raw start needs, prepared once: the argv the library would build,
// and the environment with the namespace that the server names its start
// event in.
class RawLauncher {
 public:
  RawLauncher() : executable_(std::string(QARN_SERVER_DIR) + "/qarn_svr") {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) < 0) abort();
    if (char* slash = strrchr(self, '/')) *slash = '\0';
    app_dir_ = self;
    namespace_ = std::to_string(getpid()) + "raw";
    ns_entry_ = "QARN_NS=" + namespace_;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (strncmp(*entry, "QARN_NS=", 8) != 0) environment_.push_back(*entry);
    }
    environment_.push_back(&ns_entry_[0]);
    environment_.push_back(nullptr);
    const char* base = getenv("XDG_RUNTIME_DIR");
    socket_dir_ = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/qarn-" +
                  std::to_string(static_cast<unsigned>(geteuid()));
  }

  // Starts a server and returns once a connection to its socket succeeded
  // and was closed again. Returns the server's pid, which the caller reaps,
  // or -1 when any step failed (a server that was started is then stopped
  // and reaped here).
  pid_t StartAndConnect() {
    char event_name[32];
    snprintf(event_name, sizeof event_name, "%u", ++cycle_);
    char semaphore_name[NAME_MAX];
    snprintf(semaphore_name, sizeof semaphore_name, "/qarn.%s.ev.%s", namespace_.c_str(), event_name);
    sem_t* started = sem_open(semaphore_name, O_CREAT | O_EXCL, 0600, 0);
    if (started == SEM_FAILED) return -1;

    const char* argv[] = {executable_.c_str(), "-l",       "0",    QARN_SERVER_DIR, "",
                          app_dir_.c_str(),    event_name, nullptr};
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv),
                                     environment_.data()) == 0;
    const bool signalled = spawned && WaitStarted(started);
    sem_close(started);
    sem_unlink(semaphore_name);
    if (!spawned) return -1;
    if (!signalled || !ConnectAndClose(pid)) return Stop(pid);
    return pid;
  }

 private:
  static constexpr int kStartWaitSeconds = 60;

  static bool WaitStarted(sem_t* started) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kStartWaitSeconds;
    while (sem_clockwait(started, CLOCK_MONOTONIC, &deadline) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  bool ConnectAndClose(pid_t pid) const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s/pipe.%d", socket_dir_.c_str(),
             static_cast<int>(pid));
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);  // the server reads end of stream and exits
    return connected;
  }

  static pid_t Stop(pid_t pid) {
    kill(pid, SIGTERM);
    Reap(pid);
    return -1;
  }

  std::string executable_;
  std::string app_dir_;
  std::string namespace_;
  std::string ns_entry_;
  std::string socket_dir_;
  std::vector<char*> environment_;
  unsigned cycle_ = 0;
};

// The server behind a session handle, the peer of its pipe; only to wait
// for its exit.
pid_t ServerOf(void* session) {
  ucred peer{};
  socklen_t size = sizeof peer;
  const int fd = qarn::os::posix::FdFromHandle(qarn::FindSession(session)->m_hPipe);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : -1;
}

void SessionStartEnd(benchmark::State& state) {
  RawLauncher raw;
  qarn::bench::PairedTimer timer;
  std::vector<double> load_cpu, load_wall, raw_cpu, raw_wall;
  while (state.KeepRunning()) {
    pid_t raw_pid = 0;
    timer.Raw([&] {
      const int64_t cpu = ClockNs(CLOCK_PROCESS_CPUTIME_ID);
      const int64_t wall = ClockNs(CLOCK_MONOTONIC);
      raw_pid = raw.StartAndConnect();
      raw_cpu.push_back(static_cast<double>(ClockNs(CLOCK_PROCESS_CPUTIME_ID) - cpu));
      raw_wall.push_back(static_cast<double>(ClockNs(CLOCK_MONOTONIC) - wall));
    });
    if (raw_pid < 0) {
      state.SkipWithError("qarn_svr did not start by hand");
      break;
    }
    Reap(raw_pid);

    pid_t server = -1;
    timer.Library([&] {
      const int64_t cpu = ClockNs(CLOCK_PROCESS_CPUTIME_ID);
      const int64_t wall = ClockNs(CLOCK_MONOTONIC);
      void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
      load_cpu.push_back(static_cast<double>(ClockNs(CLOCK_PROCESS_CPUTIME_ID) - cpu));
      load_wall.push_back(static_cast<double>(ClockNs(CLOCK_MONOTONIC) - wall));
      if (session == nullptr) return;
      server = ServerOf(session);
      f_QARNSVR_FreeLibrary(session);
    });
    if (server < 0) {
      state.SkipWithError("f_QARNSVR_LoadLibrary failed");
      break;
    }
    AwaitGone(server);
  }
  timer.Report(state, kGoal);
  using qarn::bench::PairedTimer;
  const double cpu = PairedTimer::Median(&load_cpu);
  const double wall = PairedTimer::Median(&load_wall);
  state.counters["load_cpu_ns"] = cpu;
  state.counters["load_wall_ns"] = wall;
  state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
  state.counters["cpu_goal"] = kCpuGoal;
  state.counters["raw_cpu_ns"] = PairedTimer::Median(&raw_cpu);
  state.counters["raw_wall_ns"] = PairedTimer::Median(&raw_wall);
}
BENCHMARK(SessionStartEnd)->UseRealTime()->Iterations(kCycles);

}  // namespace

BENCHMARK_MAIN();
