#pragma once
// Counts of what this process holds that must come back to where they were:
// heap bytes in use, open file descriptors and the shared-memory objects
// (blocks and start events) of its namespace. The fuzzers compare them after
// every input, as LeakSanitizer cannot stop the world under the i386
// emulator; the load test after many sessions.
//
// A table that grows once (a cache, a bucket array) would look like a leak
// the first time; so an input that shows growth is run a second time, with
// everything counted, and only growth that comes back is reported.

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define QARN_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QARN_SANITIZER_HEAP 1
#endif
#endif
#ifdef QARN_SANITIZER_HEAP
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace qarn::fuzz {

struct Resources {
  size_t heap = 0;
  size_t descriptors = 0;
  size_t shared_objects = 0;
  bool operator==(const Resources& o) const {
    return heap == o.heap && descriptors == o.descriptors && shared_objects == o.shared_objects;
  }
};

inline size_t CountEntries(const char* folder, const std::string& prefix) {
  std::error_code error;
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().filename().string().compare(0, prefix.size(), prefix) == 0) ++count;
  }
  return count;
}

inline size_t OwnBlocks() {
  return CountEntries("/dev/shm", std::string("qarn.") + os::ObjectNamespace() + ".");
}

// Listing the folders is slow under the emulator: the fuzzers count the
// descriptors and objects for one input in this many, the heap for every one.
constexpr unsigned kFullCheckEvery = 16;

inline Resources Measure(bool full) {
  Resources now;
  if (full) {
    now.descriptors = CountEntries("/proc/self/fd", "");
    now.shared_objects =
        OwnBlocks() + CountEntries("/dev/shm", std::string("sem.qarn.") + os::ObjectNamespace() + ".");
  }
  // Last: the listings allocate.
#ifdef QARN_SANITIZER_HEAP
  now.heap = __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 heap = mallinfo2();
  now.heap = heap.uordblks + heap.hblkhd;
#endif
  return now;
}

template <class Run>
void RunWithoutLeaks(Run run) {
  static unsigned inputs = 0;
  const bool full = inputs++ % kFullCheckEvery == 0;
  Resources before = Measure(full);
  run();
  Resources after = Measure(full);
  if (after == before) return;
  before = Measure(true);
  run();
  after = Measure(true);
  if (after == before) return;
  fprintf(stderr, "LEAK after one input: heap %+ld bytes, descriptors %+ld, shared blocks %+ld\n",
          static_cast<long>(after.heap) - static_cast<long>(before.heap),
          static_cast<long>(after.descriptors) - static_cast<long>(before.descriptors),
          static_cast<long>(after.shared_objects) - static_cast<long>(before.shared_objects));
  abort();
}

}  // namespace qarn::fuzz
