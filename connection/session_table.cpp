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

class ReadGuard {
 public:
  ReadGuard() { os::TablesLockShared(); }
  ~ReadGuard() { os::TablesUnlockShared(); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;
};

class WriteGuard {
 public:
  WriteGuard() { os::TablesLockExclusive(); }
  ~WriteGuard() { os::TablesUnlockExclusive(); }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;
};

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
