// Request round trips through the library against a bare SOCK_SEQPACKET
// ping-pong of exactly the same message sizes between two processes:
//   GetVersion  f_QARNSVR_GetVersion: 150-byte request, 150-byte reply
//   Invoke100   f_QARNDRV_Invoke with a 100-character request text
//               (247-byte request; the reply size is measured at start-up)
//   GetVersionTraced  the same GetVersion on a session started with
//               QARN_TRACE=/dev/null, against an untraced session: what the
//               message trace costs when it is on. (When it is off, its
//               hooks are part of every other figure.)
// The library talks to a real qarn_svr; the raw peer is a forked child that
// answers each message with as many bytes as the message's first word asks.
// Everything runs pinned to one processor (the server and the peer inherit
// it), so that both exchanges are the same two context switches; unpinned,
// where the scheduler puts the other process changes a round trip by a
// factor of three on a busy two-core machine.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/paired_timer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

constexpr size_t kHeaderSize = 146;
constexpr size_t kGetVersionSize = 150;
constexpr size_t kInvokeTextLength = 100;
constexpr size_t kMaxMessage = 1024;
constexpr double kGoal = 1.15;

struct SizePair {
  size_t request;
  size_t reply;
};

// The other process of the baseline: reads a message and answers it with the
// number of bytes that the message's first word names, nothing else. It is
// forked before any session exists, so it holds no other descriptor.
class RawPeer {
 public:
  RawPeer() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) abort();
    pid_ = fork();
    if (pid_ < 0) abort();
    if (pid_ == 0) {
      close(ends[0]);
      Serve(ends[1]);
    }
    close(ends[1]);
    fd_ = ends[0];
  }
  ~RawPeer() {
    close(fd_);  // the peer reads end of stream and exits
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  void RoundTrip(const SizePair& sizes) {
    const uint32_t reply_size = static_cast<uint32_t>(sizes.reply);
    memcpy(request_, &reply_size, sizeof reply_size);
    if (send(fd_, request_, sizes.request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizes.request)) abort();
    if (recv(fd_, reply_, sizeof reply_, 0) != static_cast<ssize_t>(sizes.reply)) abort();
  }

 private:
  [[noreturn]] void Serve(int fd) {
    static char message[64 * 1024];
    for (;;) {
      const ssize_t received = recv(fd, message, sizeof message, 0);
      if (received < static_cast<ssize_t>(sizeof(uint32_t))) _exit(0);
      uint32_t reply = 0;
      memcpy(&reply, message, sizeof reply);
      if (reply > sizeof message) _exit(1);
      if (send(fd, message, reply, MSG_NOSIGNAL) != static_cast<ssize_t>(reply)) _exit(1);
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  char request_[kMaxMessage] = {};
  char reply_[kMaxMessage] = {};
};

// One session for the whole run, and what each measured request looks like.
struct Setup {
  void* session = nullptr;
  void* traced = nullptr;  // a second session that writes the message trace
  std::string invoke_text;
  SizePair get_version{kGetVersionSize, kGetVersionSize};  // the server's reply is fixed
  SizePair invoke{0, 0};
  RawPeer* peer = nullptr;
};
Setup g_setup;

std::string MakeInvokeText() {
  std::string text = "echo ";
  text.resize(kInvokeTextLength, 'x');
  return text;
}

// Starts the session and learns the Invoke reply's size from the real
// server: the header and the reply text with its terminator.
bool StartSession() {
  Setup& s = g_setup;
  s.session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  if (s.session == nullptr) return false;
  f_QARNDRV_Init(s.session);
  if (f_QARNSVR_GetVersion(s.session) < 0) return false;
  s.invoke_text = MakeInvokeText();
  const char* reply = nullptr;
  f_QARNDRV_Invoke(s.session, s.invoke_text.c_str(), &reply, nullptr);
  if (reply == nullptr || strstr(reply, "val=\"true\"") == nullptr) return false;
  s.invoke = {kHeaderSize + s.invoke_text.size() + 1, kHeaderSize + strlen(reply) + 1};
  // Only sessions started while QARN_TRACE is set write the trace.
  setenv("QARN_TRACE", "/dev/null", 1);
  s.traced = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  unsetenv("QARN_TRACE");
  return s.invoke.reply <= kMaxMessage && s.traced != nullptr;
}

void ReportSizes(benchmark::State& state, const SizePair& sizes) {
  state.counters["request_bytes"] = static_cast<double>(sizes.request);
  state.counters["reply_bytes"] = static_cast<double>(sizes.reply);
}

void GetVersion(benchmark::State& state) {
  qarn::bench::PairedTimer timer;
  while (state.KeepRunning()) {
    timer.Raw([] { g_setup.peer->RoundTrip(g_setup.get_version); });
    timer.Library([] {
      if (f_QARNSVR_GetVersion(g_setup.session) < 0) abort();
    });
  }
  timer.Report(state, kGoal);
  ReportSizes(state, g_setup.get_version);
}

// Also reports the server's own time per request (median, between its two
// counter stamps, same monotonic clock) and the ratio without it, which is what the
// library and the pipe alone cost beside the raw exchange.
void Invoke100(benchmark::State& state) {
  const char* text = g_setup.invoke_text.c_str();
  qarn::bench::PairedTimer timer;
  std::vector<double> server_ns;
  while (state.KeepRunning()) {
    timer.Raw([] { g_setup.peer->RoundTrip(g_setup.invoke); });
    LARGE_INTEGER times[4] = {};
    timer.Library([text, &times] {
      const char* reply = nullptr;
      f_QARNDRV_Invoke(g_setup.session, text, &reply, times);
      benchmark::DoNotOptimize(reply);
    });
    server_ns.push_back(static_cast<double>(times[2].QuadPart - times[1].QuadPart));
  }
  timer.Report(state, kGoal);
  ReportSizes(state, g_setup.invoke);
  const double server = qarn::bench::PairedTimer::Median(&server_ns);
  state.counters["server_ns"] = server;
  state.counters["ratio_without_server"] = (state.counters["library_ns"] - server) / state.counters["raw_ns"];
}

void GetVersionTraced(benchmark::State& state) {
  qarn::bench::PairedTimer timer;
  while (state.KeepRunning()) {
    timer.Raw([] {
      if (f_QARNSVR_GetVersion(g_setup.session) < 0) abort();
    });
    timer.Library([] {
      if (f_QARNSVR_GetVersion(g_setup.traced) < 0) abort();
    });
  }
  timer.Report(state, kGoal);
  state.counters.erase("goal");  // a cost to know, not a goal
  ReportSizes(state, g_setup.get_version);
}

BENCHMARK(GetVersion)->UseRealTime()->MinTime(0.5)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Invoke100)->UseRealTime()->MinTime(0.5)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(GetVersionTraced)->UseRealTime()->MinTime(0.5)->Repetitions(5)->ReportAggregatesOnly(true);

// Pins this thread, and so every process it starts, to the processor it runs
// on. Returns that processor, or -1 when pinning failed.
int PinToOneProcessor() {
  const int cpu = sched_getcpu();
  if (cpu < 0) return -1;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("pinned_cpu", std::to_string(PinToOneProcessor()));
  RawPeer peer;
  g_setup.peer = &peer;
  if (!StartSession()) {
    fprintf(stderr, "channel_bench: no session with %s/qarn_svr\n", QARN_SERVER_DIR);
    f_QARNSVR_FreeLibrary(g_setup.session);
    f_QARNSVR_FreeLibrary(g_setup.traced);
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  f_QARNSVR_FreeLibrary(g_setup.session);
  f_QARNSVR_FreeLibrary(g_setup.traced);
  benchmark::Shutdown();
  return 0;
}
