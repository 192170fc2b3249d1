#pragma once
// One connection to a server process: its pipe, its process handle, the ring
// of reply slots that replies are read into, and the tag-name cache.

#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>

#include "connection/message.h"
#include "qarnplus/driver.h"
#include "qarnplus/wintypes.h"

// How long the pipe may take to appear after the server signalled its start.
constexpr uint32_t kConnectWindowMs = 60000;
// How long an ending session gives a server that dropped the connection to be
// gone.
constexpr uint32_t kEndedServerWaitMs = 500;

class c_QARNPlus_Session {
 public:
  // Connect: opens the pipe of server `pid`. Throws the platform error code
  // as an unsigned long when it cannot. `window_ms` bounds the retries while
  // the pipe does not exist yet; only tests pass anything but the default.
  c_QARNPlus_Session(DWORD pid, HANDLE process, uint32_t window_ms = kConnectWindowMs);
  ~c_QARNPlus_Session();
  c_QARNPlus_Session(const c_QARNPlus_Session&) = delete;
  c_QARNPlus_Session& operator=(const c_QARNPlus_Session&) = delete;

  // Writes `message`, serves callback messages, and returns the length of the
  // reply (0 on failure); *reply points at it inside a reply slot.
  unsigned Request(char* message, unsigned size, char** reply);
  unsigned WriteMessage(const char* buffer, unsigned size);
  unsigned ReadMessage(char** out);
  // Writes the trace line of a reply, or of its absence, and returns `length`.
  unsigned Traced(unsigned length, const char* received, int64_t began);

  std::map<DXML_TAG, std::string> m_tagNames;
  DWORD m_dwLastError;
  HANDLE m_hProcess;
  HANDLE m_hPipe;
  char m_replyRing[qarn::msg::kSlotCount][qarn::msg::kSlotSize];
  unsigned m_nNextSlot;
  FILE* m_pTrace;  // the message trace, or NULL
};

namespace qarn {

// The session table: the handles that LoadLibrary returned and FreeLibrary
// has not yet removed. Safe to use from several threads at once.
bool IsSession(void* h);
void AddSession(void* h);  // may throw std::bad_alloc
// True when `h` was in the table, so that only one caller ends a session.
bool RemoveSession(void* h);

// The session behind a handle that IsSession accepted.
inline c_QARNPlus_Session* AsSession(void* h) { return static_cast<c_QARNPlus_Session*>(h); }

// Sends a request that needs its reply: the reply inside its slot, or NULL
// when the exchange failed.
inline char* RequestReply(c_QARNPlus_Session* session, char* message, unsigned size) {
  char* reply = nullptr;
  return session->Request(message, size, &reply) != 0 ? reply : nullptr;
}

}  // namespace qarn
