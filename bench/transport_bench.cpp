// Shared blocks and parameter packages against raw POSIX shared memory.
// Each benchmark interleaves the library's work with its raw baseline in the
// same loop (alternating which goes first) and reports the medians of both
// and their ratio (bench/paired_timer.h):
//   BlockCycle/N     c_QARNPlus_Shrmem create + release of N bytes (no write
//                    back) vs shm_open/ftruncate/mmap/memcpy/munmap/close/shm_unlink
//   BlockCycleVsFallocate/N  the same library cycle vs that raw cycle plus the
//                    posix_fallocate that the mapping layer makes on every new
//                    object (so a full /dev/shm fails the creation, not the
//                    first write); informative, no goal
//   MaskedMerge      write-back through a mask vs memcpy, 1 MiB (throughput ratio)
//   SysSettingPackage  SAPSysSetting1 package (six 260-byte buffers and the
//                    66-byte masked record) vs seven raw cycles of those sizes
//   SysSettingPackageVsFallocate  the same package vs seven raw cycles with
//                    posix_fallocate; informative, no goal
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "bench/paired_timer.h"
#include "qarnplus/legpack.h"
#include "qarnplus/shrmem.h"
#include "transport/shrmem_merge.h"

namespace {

using qarn::bench::PairedTimer;

constexpr double kBlockGoal = 1.15;
constexpr double kPackageGoal = 1.2;

enum class Baseline { kBare, kFallocate };

// One raw cycle: the minimum a named shared copy of a buffer costs. With
// kFallocate it also allocates the object's pages up front.
void RawCycle(const void* buffer, size_t size, Baseline baseline) {
  static char name[64];
  if (name[0] == 0) snprintf(name, sizeof name, "/qarn.bench.%d.raw", static_cast<int>(getpid()));
  const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) abort();
  if (baseline == Baseline::kFallocate && posix_fallocate(fd, 0, static_cast<off_t>(size)) != 0) abort();
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) abort();
  memcpy(view, buffer, size);
  benchmark::DoNotOptimize(view);
  munmap(view, size);
  close(fd);
  shm_unlink(name);
}

// Runs library and raw work once per iteration, the order alternating, so
// that neither always pays for the other's cache and allocator state.
template <class Library, class Raw>
void Interleave(benchmark::State& state, PairedTimer& timer, Library library, Raw raw) {
  bool library_first = false;
  for (auto _ : state) {
    library_first = !library_first;
    if (library_first) timer.Library(library);
    timer.Raw(raw);
    if (!library_first) timer.Library(library);
  }
}

// The goal applies to the bare baseline only; the fallocate baseline is
// reported without one.
void Report(benchmark::State& state, PairedTimer& timer, Baseline baseline, double goal) {
  if (baseline == Baseline::kBare) {
    timer.Report(state, goal);
    return;
  }
  const double library = timer.LibraryMedian();
  const double raw = timer.RawMedian();
  state.counters["library_ns"] = library;
  state.counters["raw_ns"] = raw;
  state.counters["ratio"] = raw > 0 ? library / raw : 0;
}

void BlockCycle(benchmark::State& state, Baseline baseline) {
  std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)), 0x5A);
  PairedTimer timer;
  Interleave(
      state, timer, [&] { c_QARNPlus_Shrmem block(buffer.data(), buffer.size(), false, nullptr); },
      [&] { RawCycle(buffer.data(), buffer.size(), baseline); });
  Report(state, timer, baseline, kBlockGoal);
}

void SysSettingPackage(benchmark::State& state, Baseline baseline) {
  static unsigned char buffers[6][260];
  SAPSysSetting1 record{};
  for (int i = 0; i < 6; ++i) record.apBuffers260[i] = buffers[i];
  PairedTimer timer;
  Interleave(
      state, timer,
      [&] {
        c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 401);
        if (package.m_pBlocks->size() != 7) abort();
      },
      [&] {
        for (auto& buffer : buffers) RawCycle(buffer, sizeof buffer, baseline);
        RawCycle(&record, sizeof record, baseline);
      });
  Report(state, timer, baseline, kPackageGoal);
}

void MaskedMerge(benchmark::State& state) {
  constexpr size_t kSize = 1 << 20;
  std::vector<unsigned char> local(kSize, 0x12), shared(kSize, 0xAB), mask(kSize);
  for (size_t i = 0; i < kSize; ++i) mask[i] = (i / 7) % 2 ? 0xFF : 0x0F;
  PairedTimer timer;
  Interleave(
      state, timer,
      [&] {
        qarn::transport::MaskedMerge(local.data(), shared.data(), mask.data(), kSize);
        benchmark::ClobberMemory();
      },
      [&] {
        memcpy(local.data(), shared.data(), kSize);
        benchmark::ClobberMemory();
      });
  const double merge_ns = timer.LibraryMedian();
  const double copy_ns = timer.RawMedian();
  state.counters["merge_GBps"] = kSize / merge_ns;
  state.counters["memcpy_GBps"] = kSize / copy_ns;
  state.counters["ratio"] = copy_ns / merge_ns;  // merge throughput / memcpy throughput
}

void BlockCycleBare(benchmark::State& state) { BlockCycle(state, Baseline::kBare); }
void BlockCycleVsFallocate(benchmark::State& state) { BlockCycle(state, Baseline::kFallocate); }
void SysSettingPackageBare(benchmark::State& state) { SysSettingPackage(state, Baseline::kBare); }
void SysSettingPackageVsFallocate(benchmark::State& state) { SysSettingPackage(state, Baseline::kFallocate); }

// Every figure: real time, five repetitions, only their medians reported.
#define QARN_TRANSPORT_BENCHMARK(function, name) \
  BENCHMARK(function)->Name(name)->UseRealTime()->MinTime(0.5)->Repetitions(5)->ReportAggregatesOnly(true)

QARN_TRANSPORT_BENCHMARK(BlockCycleBare, "BlockCycle")->Arg(260)->Arg(4096)->Arg(1 << 20);
QARN_TRANSPORT_BENCHMARK(BlockCycleVsFallocate, "BlockCycleVsFallocate")->Arg(260)->Arg(4096)->Arg(1 << 20);
QARN_TRANSPORT_BENCHMARK(MaskedMerge, "MaskedMerge");
QARN_TRANSPORT_BENCHMARK(SysSettingPackageBare, "SysSettingPackage");
QARN_TRANSPORT_BENCHMARK(SysSettingPackageVsFallocate, "SysSettingPackageVsFallocate");

}  // namespace

BENCHMARK_MAIN();
