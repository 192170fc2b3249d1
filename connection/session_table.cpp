// The process-wide set of open session handles, ordered by address value.
// Threads may start, use and end their own sessions at the same time, so the
// set is guarded; every exported call looks a handle up, hence a lock that
// readers share.
#include <stdint.h>

#include <mutex>
#include <set>
#include <shared_mutex>

#include "connection/session.h"

namespace qarn {
namespace {

// Destroyed at library unload; sessions still open are not ended.
std::set<uintptr_t> g_sessions;
std::shared_mutex g_sessions_lock;

}  // namespace

bool IsSession(void* h) {
  if (h == nullptr) return false;
  std::shared_lock<std::shared_mutex> lock(g_sessions_lock);
  return g_sessions.count(reinterpret_cast<uintptr_t>(h)) != 0;
}

void AddSession(void* h) {
  if (h == nullptr) return;
  std::unique_lock<std::shared_mutex> lock(g_sessions_lock);
  g_sessions.insert(reinterpret_cast<uintptr_t>(h));
}

bool RemoveSession(void* h) {
  if (h == nullptr) return false;
  std::unique_lock<std::shared_mutex> lock(g_sessions_lock);
  return g_sessions.erase(reinterpret_cast<uintptr_t>(h)) != 0;
}

}  // namespace qarn
