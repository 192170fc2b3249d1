#pragma once
// The fuzzers' own leak oracle: heap bytes in use, open file descriptors and
// shared-memory objects of this process's namespace must be the same after
// an input as before it. LeakSanitizer cannot stop the world under the i386
// emulator, so the fuzzers count for themselves, after every input.
//
// A table that grows once (a cache, a bucket array) would look like a leak
// the first time; so an input that shows growth is run a second time, with
// everything counted, and only growth that comes back is reported.

#include <sanitizer/allocator_interface.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace qarn::fuzz {

struct Resources {
  size_t heap = 0;
  size_t descriptors = 0;
  size_t blocks = 0;
  bool operator==(const Resources& o) const {
    return heap == o.heap && descriptors == o.descriptors && blocks == o.blocks;
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

// Listing the folders is slow under the emulator: the descriptors and
// blocks are counted for one input in this many, the heap for every input.
constexpr unsigned kFullCheckEvery = 16;

inline Resources Measure(bool full) {
  static const std::string block_prefix = std::string("qarn.") + os::ObjectNamespace() + ".";
  Resources now;
  if (full) {
    now.descriptors = CountEntries("/proc/self/fd", "");
    now.blocks = CountEntries("/dev/shm", block_prefix);
  }
  now.heap = __sanitizer_get_current_allocated_bytes();  // last: the listings allocate
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
          static_cast<long>(after.blocks) - static_cast<long>(before.blocks));
  abort();
}

}  // namespace qarn::fuzz
