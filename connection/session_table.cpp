// The process-wide table of open sessions, keyed by handle.
//
// A handle is a number that is never handed out twice, not the session's
// address: the allocator gives a freed session's memory to the next one, and
// a stale handle kept by a careless caller would then reach another server
// (requests, passwords and documents meant for one session going to
// another). Threads may start, use and end their own sessions at the same
// time, so the table is guarded; every exported call looks a handle up,
// hence a lock that readers share.
#include <stdint.h>

#include <map>

#include "connection/extensions.h"
#include "connection/session.h"
#include "platform/platform.h"

namespace qarn {
namespace {

// Destroyed at library unload; sessions still open are not ended.
std::map<uintptr_t, c_QARNPlus_Session*> g_sessions;
// The next handle to hand out. 32 bits of them: at one server start each,
// a process never comes near their end; should it, values in use are
// skipped, and 0 and the all-ones value (INVALID_HANDLE_VALUE) never occur.
uintptr_t g_nextHandle = 1;

template <void (*Lock)(), void (*Unlock)()>
class Guard {
 public:
  Guard() { Lock(); }
  ~Guard() { Unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};
using ReadGuard = Guard<os::TablesLockShared, os::TablesUnlockShared>;
using WriteGuard = Guard<os::TablesLockExclusive, os::TablesUnlockExclusive>;

uintptr_t TakeHandle() {
  for (;;) {
    const uintptr_t handle = g_nextHandle++;
    if (handle == 0 || handle == UINTPTR_MAX || g_sessions.count(handle) != 0) continue;
    return handle;
  }
}

}  // namespace

c_QARNPlus_Session* FindSession(void* h) {
  if (h == nullptr) return nullptr;
  const ReadGuard guard;
  const auto found = g_sessions.find(reinterpret_cast<uintptr_t>(h));
  return found != g_sessions.end() ? found->second : nullptr;
}

void* AddSession(c_QARNPlus_Session* session) {
  if (session == nullptr) return nullptr;
  const WriteGuard guard;
  const uintptr_t handle = TakeHandle();
  g_sessions.emplace(handle, session);
  return reinterpret_cast<void*>(handle);
}

// The exchange flag is taken under the table's lock: a FreeLibrary on
// another thread can then delete only a session that nobody holds.
c_QARNPlus_Session* LeaseSession(void* h, uint32_t* refusal) {
  uint32_t error = os::kErrorInvalidHandle;
  if (h != nullptr) {
    const ReadGuard guard;
    const auto found = g_sessions.find(reinterpret_cast<uintptr_t>(h));
    if (found != g_sessions.end()) {
      if (!found->second->m_bInExchange.exchange(true, std::memory_order_acquire)) return found->second;
      error = os::kErrorBusy;
    }
  }
  if (refusal != nullptr) *refusal = error;
  NoteError(error);
  return nullptr;
}

void ReleaseSession(c_QARNPlus_Session* session) {
  session->m_bInExchange.store(false, std::memory_order_release);
}

c_QARNPlus_Session* RemoveSession(void* h) {
  if (h == nullptr) return nullptr;
  const WriteGuard guard;
  const auto found = g_sessions.find(reinterpret_cast<uintptr_t>(h));
  if (found == g_sessions.end()) return nullptr;
  c_QARNPlus_Session* session = found->second;
  g_sessions.erase(found);
  return session;
}

}  // namespace qarn
