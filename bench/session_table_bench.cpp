// What guarding the session table costs. Every exported call first looks its
// handle up in the table, now under a reader-writer lock that threads share:
//   library  f_QARNSVR_GetVersion on a handle that is not in the table: the
//            locked lookup and nothing else (nothing is sent)
//   raw      the same lookup in an unguarded std::set of the same size
// with one thread, and with four threads looking up at the same time, where
// the lock's shared counter moves between processors. Each sample times a
// batch of lookups.
#include <benchmark/benchmark.h>
#include <stdint.h>

#include <set>
#include <vector>

#include "bench/paired_timer.h"
#include "qarnplus/server.h"

namespace {

constexpr double kGoal = 3.0;
constexpr int kBatch = 1000;
constexpr int kSessions = 4;

// Sessions that stay open for the whole run, so that the table is not empty.
std::vector<void*>& OpenSessions() {
  static std::vector<void*> sessions = [] {
    std::vector<void*> open;
    for (int i = 0; i < kSessions; ++i) {
      if (void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "")) open.push_back(session);
    }
    return open;
  }();
  return sessions;
}

void HandleLookup(benchmark::State& state) {
  const std::vector<void*>& sessions = OpenSessions();
  if (sessions.size() != kSessions) {
    state.SkipWithError("qarn_svr did not start");
    return;
  }
  std::set<uintptr_t> unguarded;
  for (void* session : sessions) unguarded.insert(reinterpret_cast<uintptr_t>(session));
  // Not a session: found in neither, after the same search.
  int not_a_session = 0;
  void* const handle = &not_a_session;
  qarn::bench::PairedTimer timer;
  int found = 0;
  for (auto _ : state) {
    timer.Library([&] {
      for (int i = 0; i < kBatch; ++i) found += f_QARNSVR_GetVersion(handle) != -1;
    });
    timer.Raw([&] {
      for (int i = 0; i < kBatch; ++i) {
        found += static_cast<int>(unguarded.count(reinterpret_cast<uintptr_t>(handle)));
        benchmark::ClobberMemory();
      }
    });
  }
  if (found != 0) state.SkipWithError("a handle that is no session was found");
  const double library = timer.LibraryMedian() / kBatch;
  const double raw = timer.RawMedian() / kBatch;
  state.counters["library_ns"] = benchmark::Counter(library, benchmark::Counter::kAvgThreads);
  state.counters["raw_ns"] = benchmark::Counter(raw, benchmark::Counter::kAvgThreads);
  state.counters["ratio"] = benchmark::Counter(raw > 0 ? library / raw : 0, benchmark::Counter::kAvgThreads);
  state.counters["goal"] = benchmark::Counter(kGoal, benchmark::Counter::kAvgThreads);
}
BENCHMARK(HandleLookup)->UseRealTime()->Iterations(2000)->Threads(1)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
