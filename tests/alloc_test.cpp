// Heap use: an exchange allocates nothing (an "Invoke" only its message, the
// callbacks it serves included), a session holds at most 12 KiB. malloc and
// kin are replaced (operator new uses them); under AddressSanitizer its hooks
// count instead. Only the test thread's allocations in a window count.
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>

#include "connection/session.h"
#include "fuzz/leak_check.h"
#include "fuzz/reply_harness.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

struct Counts {
  long allocations = 0;
  long frees = 0;
  long long requested_bytes = 0;  // sum of the sizes asked for
  long long live_bytes = 0;       // allocated minus freed, in allocator units
};

thread_local bool t_counting = false;
thread_local Counts t_counts;

void CountAllocation(size_t requested, size_t held) {
  if (!t_counting) return;
  ++t_counts.allocations;
  t_counts.requested_bytes += static_cast<long long>(requested);
  t_counts.live_bytes += static_cast<long long>(held);
}

void CountFree(size_t held) {
  if (!t_counting) return;
  ++t_counts.frees;
  t_counts.live_bytes -= static_cast<long long>(held);
}

// Runs `work` inside a counting window and returns what it allocated.
template <class Work>
Counts Counted(Work work) {
  t_counts = Counts();
  t_counting = true;
  work();
  t_counting = false;
  return t_counts;
}

}  // namespace

#if defined(QARN_SANITIZER_HEAP)

namespace {
void OnMalloc(const volatile void*, size_t size) { CountAllocation(size, size); }
void OnFree(const volatile void* p) {
  if (p != nullptr) CountFree(__sanitizer_get_allocated_size(const_cast<const void*>(p)));
}
const int kHooksInstalled = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace

#else

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
void* __libc_memalign(size_t alignment, size_t size);

namespace {
void* Tally(void* p, size_t requested) {
  if (p != nullptr && t_counting) CountAllocation(requested, malloc_usable_size(p));
  return p;
}
}  // namespace

void* malloc(size_t size) { return Tally(__libc_malloc(size), size); }
void* calloc(size_t count, size_t size) { return Tally(__libc_calloc(count, size), count * size); }
// Sizes are asked only inside a window: the dynamic loader's earliest blocks
// do not come from this allocator.
void free(void* p) {
  if (p != nullptr && t_counting) CountFree(malloc_usable_size(p));
  __libc_free(p);
}
void* realloc(void* p, size_t size) {
  if (p == nullptr) return malloc(size);
  const size_t old_size = t_counting ? malloc_usable_size(p) : 0;
  void* moved = __libc_realloc(p, size);
  if (moved != nullptr || size == 0) CountFree(old_size);
  return Tally(moved, size);
}
void* memalign(size_t alignment, size_t size) { return Tally(__libc_memalign(alignment, size), size); }
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  void* p = memalign(alignment, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}  // extern "C"

#endif

namespace {

constexpr long long kSessionBudget = 12 * 1024;
constexpr size_t kInvokeHeader = 147;  // the header and the text's terminator
namespace harmless = qarn::fuzz::reply;

template <typename Function>
std::string AddressOf(Function function) {
  return std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(function)));
}

// Answers `text` and tells whether the server called it a success; no
// allocation of its own.
bool Invoked(void* session, const std::string& text) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, text.c_str(), &reply, nullptr);
  return reply != nullptr && strstr(reply, "val=\"true\" name=\"SUCCESS\"") != nullptr;
}

TEST(Allocations, AnExchangeAllocatesNothingButAnInvokesOwnMessage) {
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, session);
  f_QARNDRV_Init(session);
  // The first lookup of a number fills the cache, which also shows that the
  // counter sees the library's C++ allocations.
  const char* name = nullptr;
  const Counts first = Counted([&] { name = f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(9)); });
  EXPECT_STREQ("certificate", name);
  EXPECT_GT(first.live_bytes, 0);

  const std::string echo = "echo " + std::string(200, 'e');
  const std::string callbacks[] = {
      "callback passwd " + AddressOf(&harmless::HarmlessPassword) + " doc.pdf",
      "callback text " + AddressOf(&harmless::HarmlessSelectedText) + " 1 2 3 4 5 6",
      "callback photo " + AddressOf(&harmless::HarmlessAbsentPhoto) + " 7 1 2 3 4 5 photo.jpg",
  };
  const auto callback = [&](const std::string& text) {
    harmless::harmless_calls = 0;
    return Invoked(session, text) && harmless::harmless_calls == 1;
  };
  const struct {
    std::string name;
    std::function<bool()> exchange;
    size_t message;  // the text of the one message an Invoke allocates
  } cases[] = {
      {"GetVersion", [&] { return f_QARNSVR_GetVersion(session) > 0; }, 0},
      {"GetLastError", [&] { return f_QARNDRV_GetLastError(session) == 3; }, 0},
      {"FormatMessage",
       [&] {
         const char* text = f_QARNDRV_FormatMessage(session, static_cast<QARNDRV_ERR>(3));
         return text != nullptr && text[0] != '\0';
       },
       0},
      {"GetTagIDByName", [&] { return f_QARNDRV_GetTagIDByName(session, "seal") == 7; }, 0},
      {"cached GetTagNameByID",
       [&] {
         return strcmp(f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(9)), "certificate") == 0;
       },
       0},
      {echo, [&] { return Invoked(session, echo); }, echo.size()},
      {callbacks[0], [&] { return callback(callbacks[0]); }, callbacks[0].size()},
      {callbacks[1], [&] { return callback(callbacks[1]); }, callbacks[1].size()},
      {callbacks[2], [&] { return callback(callbacks[2]); }, callbacks[2].size()},
  };
  Invoked(session, "fail 3");  // leaves driver error 3 to ask about
  for (const auto& c : cases) {
    bool answered = false;
    const Counts counts = Counted([&] { answered = c.exchange(); });
    EXPECT_TRUE(answered) << c.name;
    const long messages = c.message != 0 ? 1 : 0;
    EXPECT_EQ(messages, counts.allocations) << c.name;
    EXPECT_EQ(messages, counts.frees) << c.name;
    EXPECT_EQ(static_cast<long long>(c.message != 0 ? kInvokeHeader + c.message : 0), counts.requested_bytes)
        << c.name;
    EXPECT_EQ(0, counts.live_bytes) << c.name;
  }
  f_QARNSVR_FreeLibrary(session);
}

// A session of its own, after one warm-up session, so that one-time set-up
// of the process (the child reaper, the C library's own tables) is not
// charged to it.
TEST(SessionHeap, ASessionHoldsAtMost12KiBAndReturnsItAll) {
  f_QARNSVR_FreeLibrary(f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, ""));

  void* session = nullptr;
  const Counts load = Counted([&] { session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, ""); });
  ASSERT_NE(nullptr, session);
  EXPECT_GE(load.live_bytes, static_cast<long long>(sizeof(c_QARNPlus_Session)));
  EXPECT_LE(load.live_bytes, kSessionBudget);

  const Counts end = Counted([&] { f_QARNSVR_FreeLibrary(session); });
  EXPECT_EQ(-load.live_bytes, end.live_bytes);
}

}  // namespace
