// Many sessions at once, each with a run of mixed requests and document
// calls, from several threads; afterwards this process holds no more
// descriptors, heap, /dev/shm objects or child processes than before.
// The figures are printed so that a run can be reported.
//
// QARN_LOAD_SESSIONS (default 32) and QARN_LOAD_ROUNDS (default 50) size it.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "tests/hardening_support.h"

// Under AddressSanitizer the allocator is the sanitizer's, and it counts.
#if defined(__SANITIZE_ADDRESS__)
#define QARN_ASAN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QARN_ASAN_HEAP 1
#endif
#endif
#ifdef QARN_ASAN_HEAP
#include <sanitizer/allocator_interface.h>
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 4;
constexpr int kTags = 12;

// Heap that may differ after everything is freed, whatever the number of
// sessions or rounds. Counted by the sanitizer's allocator the difference is
// exactly 0; glibc's in-use figure moves by a few dozen bytes (48 B after the
// sessions, -32 to +64 B between rounds on the build machine) with how its
// bins and thread caches happen to hold free chunks. A leak of anything per
// session (each holds over 8 KiB), per document call (3200) or per request
// (about 29000) is far above it.
constexpr size_t kHeapTolerance = 1024;

int EnvNumber(const char* name, int fallback) {
  const char* value = getenv(name);
  return value != nullptr && atoi(value) > 0 ? atoi(value) : fallback;
}

struct Figures {
  size_t descriptors;
  size_t heap;
  size_t shared_objects;
  size_t children;
};

size_t HeapInUse() {
#ifdef QARN_ASAN_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 heap = mallinfo2();
  return heap.uordblks + heap.hblkhd;
#endif
}

Figures Measure() {
  Figures figures{};
  std::error_code ignored;
  for (auto it = fs::directory_iterator("/proc/self/fd", ignored); it != fs::directory_iterator(); ++it) {
    ++figures.descriptors;
  }
  figures.heap = HeapInUse();
  figures.shared_objects = hardening::OwnSharedObjects().size();
  figures.children = hardening::ChildProcesses().size();
  return figures;
}

void Print(const char* when, const Figures& f) {
  printf("[ figures  ] %-28s descriptors %4zu  heap %8zu B  /dev/shm objects %3zu  child processes %3zu\n",
         when, f.descriptors, f.heap, f.shared_objects, f.children);
}

std::string NameOf(const void* p) {
  return std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)));
}

std::string Invoke(void* session, const std::string& request) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
  return reply != nullptr ? reply : "";
}

// One round of mixed requests on one session; counts what went wrong.
int Round(void* session, int id, int round) {
  int failures = 0;
  const auto check = [&failures](bool ok) { failures += ok ? 0 : 1; };
  check(f_QARNSVR_GetVersion(session) > 0);
  const std::string mark = "s" + std::to_string(id) + "r" + std::to_string(round);
  check(Invoke(session, "echo " + mark).find("\"" + mark + "\"") != std::string::npos);
  for (int tag = 1; tag <= kTags; ++tag) {
    const char* name = f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(tag));
    check(name != nullptr && f_QARNDRV_GetTagIDByName(session, name) == tag);
  }
  check(f_QARNDRV_FormatMessage(session, static_cast<QARNDRV_ERR>(3)) != nullptr);
  f_QARNDRV_GetLastError(session);

  char message[64] = {0};
  char text[] = "load";
  SAPGetErrMes1 error{static_cast<uint16_t>(id), message, sizeof message, text};
  SAPGetVersion1 version{};
  {
    c_QARNPlus_Legpack error_package(reinterpret_cast<SedApiPara*>(&error), 8);
    c_QARNPlus_Legpack version_package(reinterpret_cast<SedApiPara*>(&version), 1);
    check(Invoke(session, "call " + NameOf(&error) + " 8").find("\"true\"") != std::string::npos);
    check(Invoke(session, "call " + NameOf(&version) + " 1").find("\"true\"") != std::string::npos);
  }
  check(std::string(message) == "QARN error " + std::to_string(id));
  check(version.abVersion[0] != 0);
  return failures;
}

// The allocator gives each thread that allocates while others do an arena of
// its own, whose bookkeeping stays in use for the life of the process. So
// that it does not count as growth, the arenas of the test's threads are made
// before the first figures: all threads allocate while all are alive.
void WarmUpThreadArenas() {
  std::atomic<int> allocated{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&allocated] {
      std::vector<char> some(256);
      ++allocated;
      hardening::WaitUntil([&allocated] { return allocated.load() == kThreads; }, 10000);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST(Load, ManySessionsWithMixedRequestsLeaveNothingBehind) {
  const hardening::PrivateRuntime runtime;  // so that our sockets can be counted
  const int sessions_wanted = EnvNumber("QARN_LOAD_SESSIONS", 32);
  const int rounds = EnvNumber("QARN_LOAD_ROUNDS", 50);

  // Warm-up: whatever the library and this test set up once per process.
  void* warm = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, warm);
  f_QARNDRV_Init(warm);
  EXPECT_EQ(0, Round(warm, 0, 0));
  f_QARNDRV_Clean(warm);
  f_QARNSVR_FreeLibrary(warm);
  ASSERT_TRUE(hardening::WaitUntil([] { return hardening::ChildProcesses().empty(); }, 60000));
  WarmUpThreadArenas();
  // This test's own lasting allocations come before the first figures: the
  // session list, the failure counts and stdout's buffer.
  std::vector<void*> sessions;
  sessions.reserve(static_cast<size_t>(sessions_wanted));
  std::vector<int> failures(kThreads, 0);
  printf("[ figures  ] %d sessions, %d rounds, %d threads\n", sessions_wanted, rounds, kThreads);

  const Figures before = Measure();
  Print("before", before);

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < sessions_wanted; ++i) {
    void* session = f_QARNSVR_LoadLibrary(i, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, session) << "session " << i;
    f_QARNDRV_Init(session);
    sessions.push_back(session);
  }
  const auto opened = std::chrono::steady_clock::now();
  const Figures open = Measure();
  Print("all sessions open", open);
  EXPECT_EQ(before.descriptors + sessions.size(), open.descriptors) << "one pipe per session";
  EXPECT_EQ(before.children + sessions.size(), open.children) << "one server per session";

  Figures after_first{};
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (size_t i = t; i < sessions.size(); i += kThreads) {
          failures[t] += Round(sessions[i], static_cast<int>(i), round);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    if (round == 0) {
      after_first = Measure();
      Print("after round 1", after_first);
    }
  }
  const Figures after_last = Measure();
  Print(("after round " + std::to_string(rounds)).c_str(), after_last);
  const auto ran = std::chrono::steady_clock::now();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
  EXPECT_EQ(after_first.descriptors, after_last.descriptors);
  EXPECT_EQ(0u, after_last.shared_objects) << "a block outlived its package";
  EXPECT_LE(after_last.heap, after_first.heap + kHeapTolerance) << "the heap grows with the rounds";

  for (void* session : sessions) {
    f_QARNDRV_Clean(session);
    f_QARNSVR_FreeLibrary(session);
  }
  EXPECT_TRUE(
      hardening::WaitUntil([&] { return hardening::ChildProcesses().size() <= before.children; }, 60000));
  const Figures after = Measure();
  Print("after all sessions ended", after);

  using Ms = std::chrono::milliseconds;
  // Per session and round: GetVersion, echo, a tag lookup by name for each
  // tag, FormatMessage, GetLastError, two document calls; the lookups by
  // number go to the server in the first round only.
  const long long requests =
      static_cast<long long>(sessions.size()) * (static_cast<long long>(rounds) * (6 + kTags) + kTags);
  printf(
      "[ figures  ] %zu sessions opened in %lld ms; %d rounds, %lld requests and %lld document calls in %lld "
      "ms\n",
      sessions.size(), static_cast<long long>(std::chrono::duration_cast<Ms>(opened - start).count()), rounds,
      requests, static_cast<long long>(sessions.size()) * rounds * 2,
      static_cast<long long>(std::chrono::duration_cast<Ms>(ran - opened).count()));
  printf(
      "[ figures  ] heap growth %lld B after the sessions (tolerance %zu B), %lld B from round 1 to round "
      "%d\n",
      static_cast<long long>(after.heap) - static_cast<long long>(before.heap), kHeapTolerance,
      static_cast<long long>(after_last.heap) - static_cast<long long>(after_first.heap), rounds);

  EXPECT_EQ(before.descriptors, after.descriptors);
  EXPECT_EQ(before.shared_objects, after.shared_objects);
  EXPECT_EQ(before.children, after.children);
  EXPECT_EQ(std::vector<std::string>{}, runtime.Sockets()) << "a server's socket is left";
  EXPECT_LE(after.heap, before.heap + kHeapTolerance);
}

}  // namespace
