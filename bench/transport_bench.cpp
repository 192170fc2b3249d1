// Shared blocks and parameter packages against raw POSIX shared memory.
// Each benchmark interleaves the library's work with its raw baseline in the
// same loop and reports both times and their ratio as counters:
//   BlockCycle/N     c_QARNPlus_Shrmem create + release of N bytes (no write
//                    back) vs shm_open/ftruncate/mmap/memcpy/munmap/close/shm_unlink
//   MaskedMerge      write-back through a mask vs memcpy, 1 MiB (throughput ratio)
//   SysSettingPackage  SAPSysSetting1 package (six 260-byte buffers and the
//                    66-byte masked record) vs seven raw cycles of those sizes
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "qarnplus/legpack.h"
#include "qarnplus/shrmem.h"
#include "transport/shrmem_merge.h"

namespace {

using Clock = std::chrono::steady_clock;

// One raw cycle: the minimum a named shared copy of a buffer costs. With
// `reserve` it also allocates the object's pages up front, as the mapping
// layer does so that a full /dev/shm fails the creation instead of raising
// SIGBUS later.
void RawCycle(const void* buffer, size_t size, bool reserve = false) {
  static char name[64];
  if (name[0] == 0) snprintf(name, sizeof name, "/qarn.bench.%d.raw", static_cast<int>(getpid()));
  const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) abort();
  if (reserve && posix_fallocate(fd, 0, static_cast<off_t>(size)) != 0) abort();
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) abort();
  memcpy(view, buffer, size);
  benchmark::DoNotOptimize(view);
  munmap(view, size);
  close(fd);
  shm_unlink(name);
}

// Adds the time `work` takes to `total`.
template <class Work>
void Timed(double& total, Work work) {
  const auto start = Clock::now();
  work();
  total += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// ratio: against the bare cycle; ratio_reserved: against the bare cycle
// plus the page reservation that the mapping layer must make.
void Report(benchmark::State& state, double library_ns, double raw_ns, double reserved_ns) {
  const double n = static_cast<double>(state.iterations());
  state.counters["library_ns"] = library_ns / n;
  state.counters["raw_ns"] = raw_ns / n;
  state.counters["ratio"] = library_ns / raw_ns;
  state.counters["ratio_reserved"] = library_ns / reserved_ns;
}

void BlockCycle(benchmark::State& state) {
  std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)), 0x5A);
  double library_ns = 0, raw_ns = 0, reserved_ns = 0;
  while (state.KeepRunning()) {
    Timed(raw_ns, [&] { RawCycle(buffer.data(), buffer.size()); });
    Timed(library_ns, [&] { c_QARNPlus_Shrmem block(buffer.data(), buffer.size(), false, nullptr); });
    Timed(reserved_ns, [&] { RawCycle(buffer.data(), buffer.size(), true); });
  }
  Report(state, library_ns, raw_ns, reserved_ns);
}
BENCHMARK(BlockCycle)
    ->Arg(260)
    ->Arg(4096)
    ->Arg(1 << 20)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void MaskedMerge(benchmark::State& state) {
  constexpr size_t kSize = 1 << 20;
  std::vector<unsigned char> local(kSize, 0x12), shared(kSize, 0xAB), mask(kSize);
  for (size_t i = 0; i < kSize; ++i) mask[i] = (i / 7) % 2 ? 0xFF : 0x0F;
  double merge_ns = 0, copy_ns = 0;
  while (state.KeepRunning()) {
    Timed(copy_ns, [&] { memcpy(local.data(), shared.data(), kSize); });
    benchmark::ClobberMemory();
    Timed(merge_ns, [&] { qarn::transport::MaskedMerge(local.data(), shared.data(), mask.data(), kSize); });
    benchmark::ClobberMemory();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["merge_GBps"] = kSize * n / merge_ns;
  state.counters["memcpy_GBps"] = kSize * n / copy_ns;
  state.counters["ratio"] = copy_ns / merge_ns;  // merge throughput / memcpy throughput
}
BENCHMARK(MaskedMerge)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

void SysSettingPackage(benchmark::State& state) {
  static unsigned char buffers[6][260];
  SAPSysSetting1 record{};
  for (int i = 0; i < 6; ++i) record.apBuffers260[i] = buffers[i];
  double library_ns = 0, raw_ns = 0, reserved_ns = 0;
  while (state.KeepRunning()) {
    Timed(raw_ns, [&] {
      for (auto& buffer : buffers) RawCycle(buffer, sizeof buffer);
      RawCycle(&record, sizeof record);
    });
    Timed(library_ns, [&] {
      c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 401);
      if (package.m_pBlocks->size() != 7) abort();
    });
    Timed(reserved_ns, [&] {
      for (auto& buffer : buffers) RawCycle(buffer, sizeof buffer, true);
      RawCycle(&record, sizeof record, true);
    });
  }
  Report(state, library_ns, raw_ns, reserved_ns);
}
BENCHMARK(SysSettingPackage)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
