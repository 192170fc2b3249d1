// Many sessions at once, each with a run of mixed requests and document
// calls, from several threads; afterwards this process holds no more
// descriptors, heap, /dev/shm objects or child processes than before.
#include <gtest/gtest.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/leak_check.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "tests/doc_peer_client.h"
#include "tests/hardening_support.h"

namespace {

constexpr int kThreads = 4;
constexpr int kSessions = 32;
constexpr int kRounds = 50;
constexpr int kTags = 12;

// glibc's in-use heap moves by a few dozen bytes with how its bins and thread
// caches hold free chunks; a leak per session (over 8 KiB), document call or
// request is far above it.
constexpr size_t kHeapTolerance = 1024;

struct Figures {
  qarn::fuzz::Resources held;
  size_t servers = 0;
};

Figures Measure() { return {qarn::fuzz::Measure(true), hardening::ServersOf().size()}; }

bool Invoked(void* session, const std::string& request, const std::string& wanted) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
  return reply != nullptr && std::string(reply).find(wanted) != std::string::npos;
}

// One round of mixed requests on one session; counts what went wrong.
int Round(void* session, int id, int round) {
  int failures = 0;
  const auto check = [&failures](bool ok) { failures += ok ? 0 : 1; };
  check(f_QARNSVR_GetVersion(session) > 0);
  const std::string mark = "s" + std::to_string(id) + "r" + std::to_string(round);
  check(Invoked(session, "echo " + mark, "\"" + mark + "\""));
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
    check(Invoked(session, "call " + transport_test::NameOf(&error) + " 8", "\"true\""));
    check(Invoked(session, "call " + transport_test::NameOf(&version) + " 1", "\"true\""));
  }
  check(std::string(message) == "QARN error " + std::to_string(id));
  check(version.abVersion[0] != 0);
  return failures;
}

TEST(Load, ManySessionsWithMixedRequestsLeaveNothingBehind) {
  const hardening::PrivateRuntime runtime;  // so that our sockets can be counted

  // Warm-up: whatever the library and this test set up once per process,
  // the allocator's arenas of the test's threads included (all threads
  // allocate while all are alive).
  for (int i = 0; i < 8; ++i) {
    void* warm = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, warm) << "server " << i;
    f_QARNDRV_Init(warm);
    EXPECT_EQ(0, Round(warm, 0, 0));
    f_QARNSVR_FreeLibrary(warm);
  }
  ASSERT_TRUE(hardening::WaitUntil([] { return hardening::ServersOf().empty(); }, 60000));
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
  std::vector<void*> sessions;
  sessions.reserve(static_cast<size_t>(kSessions));
  std::vector<int> failures(kThreads, 0);
  threads.clear();
  threads.reserve(kThreads);

  const Figures before = Measure();
  for (int i = 0; i < kSessions; ++i) {
    void* session = f_QARNSVR_LoadLibrary(i, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, session) << "session " << i;
    f_QARNDRV_Init(session);
    sessions.push_back(session);
  }
  const Figures open = Measure();
  EXPECT_EQ(before.held.descriptors + sessions.size(), open.held.descriptors) << "one pipe per session";
  EXPECT_EQ(before.servers + sessions.size(), open.servers) << "one server per session";

  Figures after_first;
  for (int round = 0; round < kRounds; ++round) {
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (size_t i = t; i < sessions.size(); i += kThreads)
          failures[t] += Round(sessions[i], static_cast<int>(i), round);
      });
    }
    for (std::thread& thread : threads) thread.join();
    threads.clear();
    if (round == 0) after_first = Measure();
  }
  const Figures after_last = Measure();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
  EXPECT_EQ(after_first.held.descriptors, after_last.held.descriptors);
  EXPECT_EQ(0u, after_last.held.shared_objects) << "a block outlived its package";
  EXPECT_LE(after_last.held.heap, after_first.held.heap + kHeapTolerance) << "the heap grows with the rounds";

  for (void* session : sessions) {
    f_QARNDRV_Clean(session);
    f_QARNSVR_FreeLibrary(session);
  }
  EXPECT_TRUE(hardening::WaitUntil([&] { return hardening::ServersOf().size() <= before.servers; }, 60000));
  const Figures after = Measure();
  EXPECT_EQ(before.held.descriptors, after.held.descriptors);
  EXPECT_EQ(before.held.shared_objects, after.held.shared_objects);
  EXPECT_EQ(before.servers, after.servers);
  EXPECT_EQ(std::vector<std::string>{}, runtime.Sockets()) << "a server's socket is left";
  EXPECT_LE(after.held.heap, before.held.heap + kHeapTolerance);
}

}  // namespace
