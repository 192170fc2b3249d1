#pragma once
// Timing a library operation beside its raw baseline in the same loop, so
// that load from other processes on the machine falls on both alike, and
// reporting both and their ratio as benchmark counters:
//   library_ns, raw_ns  median wall time of one operation
//   ratio               library_ns / raw_ns
//   goal                the ratio the library should stay at or below
// Medians, not means: on a shared machine a few iterations that lose the
// processor to someone else would otherwise decide the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace qarn::bench {

class PairedTimer {
 public:
  template <class Work>
  void Library(Work work) {
    library_ns_.push_back(Elapsed(work));
  }
  template <class Work>
  void Raw(Work work) {
    raw_ns_.push_back(Elapsed(work));
  }

  double LibraryMedian() { return Median(&library_ns_); }
  double RawMedian() { return Median(&raw_ns_); }

  void Report(benchmark::State& state, double goal) {
    const double library = LibraryMedian();
    const double raw = RawMedian();
    state.counters["library_ns"] = library;
    state.counters["raw_ns"] = raw;
    state.counters["ratio"] = raw > 0 ? library / raw : 0;
    state.counters["goal"] = goal;
  }

  static double Median(std::vector<double>* samples) {
    if (samples->empty()) return 0;
    auto middle = samples->begin() + static_cast<std::ptrdiff_t>(samples->size() / 2);
    std::nth_element(samples->begin(), middle, samples->end());
    return *middle;
  }

 private:
  using Clock = std::chrono::steady_clock;

  template <class Work>
  static double Elapsed(Work& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  }

  std::vector<double> library_ns_;
  std::vector<double> raw_ns_;
};

}  // namespace qarn::bench
