// The process-wide set of open session handles, ordered by address value.
// Threads may start, use and end their own sessions at the same time, so the
// set is guarded; every exported call looks a handle up, hence a lock that
// readers share.
#include <stdint.h>

#include <set>

#include "connection/session.h"
#include "platform/platform.h"

namespace qarn {
namespace {

// Destroyed at library unload; sessions still open are not ended.
std::set<uintptr_t> g_sessions;

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

}  // namespace

bool IsSession(void* h) {
  if (h == nullptr) return false;
  const ReadGuard guard;
  return g_sessions.count(reinterpret_cast<uintptr_t>(h)) != 0;
}

void AddSession(void* h) {
  if (h == nullptr) return;
  const WriteGuard guard;
  g_sessions.insert(reinterpret_cast<uintptr_t>(h));
}

bool RemoveSession(void* h) {
  if (h == nullptr) return false;
  const WriteGuard guard;
  return g_sessions.erase(reinterpret_cast<uintptr_t>(h)) != 0;
}

}  // namespace qarn
