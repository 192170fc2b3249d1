// What guarding the session table costs. Every exported call first looks its
// handle up in the table, now under a reader-writer lock that threads share:
//   library  f_QARNSVR_GetVersion on a handle that is not in the table: the
//            locked lookup and nothing else (nothing is sent)
//   raw      the same lookup in an unguarded std::set of the same size
// with one thread, and with four threads looking up at the same time, where
// the lock's shared counter moves between processors. Each sample times a
// batch of lookups. Beside them, a whole GetVersion round trip on a session
// of the thread's own, which pays for one lookup: lookup_share is the part of
// a round trip the guarded lookup takes (goal: at most 1%).
#include <benchmark/benchmark.h>
#include <stdint.h>

#include <set>
#include <vector>

#include "bench/paired_timer.h"
#include "qarnplus/server.h"

namespace {

constexpr double kShareGoal = 0.01;
constexpr int kBatch = 1000;
constexpr int kSessions = 4;
constexpr int kRoundTrips = 10;

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
  void* const own = sessions[static_cast<size_t>(state.thread_index()) % sessions.size()];
  qarn::bench::PairedTimer timer;
  qarn::bench::PairedTimer round_trips;
  int found = 0;
  int failed = 0;
  for (auto _ : state) {
    round_trips.Library([&] {
      for (int i = 0; i < kRoundTrips; ++i) failed += f_QARNSVR_GetVersion(own) < 0;
    });
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
  if (failed != 0) state.SkipWithError("a round trip failed");
  const double library = timer.LibraryMedian() / kBatch;
  const double raw = timer.RawMedian() / kBatch;
  state.counters["library_ns"] = benchmark::Counter(library, benchmark::Counter::kAvgThreads);
  state.counters["raw_ns"] = benchmark::Counter(raw, benchmark::Counter::kAvgThreads);
  state.counters["ratio"] = benchmark::Counter(raw > 0 ? library / raw : 0, benchmark::Counter::kAvgThreads);
  const double round_trip = round_trips.LibraryMedian() / kRoundTrips;
  state.counters["round_trip_ns"] = benchmark::Counter(round_trip, benchmark::Counter::kAvgThreads);
  state.counters["lookup_share"] =
      benchmark::Counter(round_trip > 0 ? library / round_trip : 0, benchmark::Counter::kAvgThreads);
  state.counters["share_goal"] = benchmark::Counter(kShareGoal, benchmark::Counter::kAvgThreads);
}
BENCHMARK(HandleLookup)->UseRealTime()->Iterations(500)->Threads(1)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
