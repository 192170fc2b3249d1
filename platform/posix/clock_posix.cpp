// Clocks: both read CLOCK_MONOTONIC, so they never jump with the wall clock.

#include <time.h>

#include "platform/platform.h"

namespace qarn::os {
namespace {

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

uint32_t TickCount() {
  return static_cast<uint32_t>(static_cast<uint64_t>(MonotonicNanoseconds() / 1000000));
}

int64_t PerformanceCounter() { return MonotonicNanoseconds(); }

}  // namespace qarn::os
