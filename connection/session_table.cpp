// The process-wide set of open session handles, ordered by address value.
#include <stdint.h>

#include <set>

#include "connection/session.h"

namespace qarn {
namespace {

// Destroyed at library unload; sessions still open are not ended.
std::set<uintptr_t> g_sessions;

}  // namespace

bool IsSession(void* h) { return h != nullptr && g_sessions.count(reinterpret_cast<uintptr_t>(h)) != 0; }

void AddSession(void* h) {
  if (h != nullptr) g_sessions.insert(reinterpret_cast<uintptr_t>(h));
}

void RemoveSession(void* h) {
  if (h != nullptr) g_sessions.erase(reinterpret_cast<uintptr_t>(h));
}

}  // namespace qarn
