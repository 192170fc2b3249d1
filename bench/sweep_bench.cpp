// The removal of objects left by dead processes, which every process pays
// once before its first block, beside what it cannot cost less than
// (bench/paired_timer.h):
//   Sweep/stale   1000 objects of dead processes (each its own namespace)
//                 and 1000 of a live one: the sweep judges all and removes
//                 the 1000, against a bare readdir of /dev/shm plus unlinking
//                 the 1000 names, which the raw side knows without judging;
//                 the objects are made again, untimed, before each side
//   Sweep/live    only the 1000 objects of the live process, against a bare
//                 readdir: what a process pays when nothing is stale
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/paired_timer.h"
#include "platform/platform.h"

namespace {

using qarn::bench::PairedTimer;

constexpr int kObjects = 1000;
// Above the largest pid a Linux kernel hands out (2^22), so never running.
constexpr long kDeadPidBase = 5000000;

// "<pid>-<start>" of our parent, a process that runs for the whole benchmark.
std::string LiveNamespace() {
  FILE* stat = fopen(("/proc/" + std::to_string(getppid()) + "/stat").c_str(), "r");
  char text[1024] = "";
  if (stat == nullptr || fgets(text, sizeof text, stat) == nullptr) abort();
  fclose(stat);
  const char* p = strrchr(text, ')') + 2;
  for (int field = 3; field < 22; ++field) p = strchr(p, ' ') + 1;
  return std::to_string(getppid()) + "-" + std::to_string(strtoull(p, nullptr, 10));
}

std::vector<std::string> Names(bool stale) {
  static const std::string live = LiveNamespace();
  std::vector<std::string> names;
  for (int i = 0; i < kObjects; ++i) {
    const std::string ns = stale ? std::to_string(kDeadPidBase + i) + "-1" : live;
    names.push_back("/qarn." + ns + ".bench" + std::to_string(i));
  }
  return names;
}

void Make(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    close(fd);
  }
}

void Unmake(const std::vector<std::string>& names) {
  for (const std::string& name : names) shm_unlink(name.c_str());
}

bool Exists(const std::string& name) {
  const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

void BareReaddir() {
  DIR* directory = opendir("/dev/shm");
  size_t entries = 0;
  while (readdir(directory) != nullptr) ++entries;
  closedir(directory);
  benchmark::DoNotOptimize(entries);
}

void Sweep(benchmark::State& state, bool with_stale) {
  const std::vector<std::string> live = Names(false);
  const std::vector<std::string> stale = Names(true);
  Make(live);
  PairedTimer timer;
  for (auto _ : state) {
    state.PauseTiming();
    Make(with_stale ? stale : std::vector<std::string>{});
    state.ResumeTiming();
    // The least any removal costs: reading the folder and unlinking the
    // stale names, which the raw side knows without judging anything.
    timer.Raw([&] {
      BareReaddir();
      if (with_stale) Unmake(stale);
    });
    state.PauseTiming();
    Make(with_stale ? stale : std::vector<std::string>{});
    state.ResumeTiming();
    timer.Library([] { benchmark::DoNotOptimize(qarn::os::RemoveStaleObjects(false, nullptr, nullptr)); });
  }
  // Other processes of the user sweep too, so the count proves nothing; what
  // is left does.
  if (Exists(stale.back()) || !Exists(live.back())) state.SkipWithError("the sweep judged an object wrongly");
  Unmake(live);
  Unmake(stale);
  timer.Report(state, 0);
  state.counters.erase("goal");
}

void SweepWithStale(benchmark::State& state) { Sweep(state, true); }
void SweepOnlyLive(benchmark::State& state) { Sweep(state, false); }

BENCHMARK(SweepWithStale)->Name("Sweep/stale")->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(SweepOnlyLive)->Name("Sweep/live")->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
