#pragma once
// One connection to a server process: its pipe, its process handle, the ring
// of reply slots that replies are read into, and the tag-name cache.

#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <map>
#include <string>

#include "connection/message.h"
#include "platform/platform.h"
#include "qarnplus/driver.h"
#include "qarnplus/wintypes.h"

// How long the pipe may take to appear after the server signalled its start.
constexpr uint32_t kConnectWindowMs = 60000;
// How long an ending session gives a server that dropped the connection to be
// gone.
constexpr uint32_t kEndedServerWaitMs = 500;
// How long an ending session waits for each message of the server's answer
// to "Shutdown": a stopped or deadlocked server must not hold the
// application in FreeLibrary.
constexpr uint32_t kShutdownWaitMs = 5000;
// The server setting that bounds every wait for a server's message, in
// milliseconds; 0 or missing: no bound.
constexpr const char* kReplyTimeoutSetting = "ReplyTimeout";

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
  // reply (0 on failure); *reply points at it inside a reply slot. Each wait
  // for a message of the server lasts at most `wait_ms` (kWaitForever: no
  // limit; by default what the ReplyTimeout setting says). One that runs out
  // fails with kErrorTimeout and breaks the session, since a late reply would
  // be taken for the next request's: every later request fails at once.
  unsigned Request(char* message, unsigned size, char** reply);
  unsigned Request(char* message, unsigned size, char** reply, uint32_t wait_ms);
  unsigned WriteMessage(const char* buffer, unsigned size);
  unsigned ReadMessage(char** out);
  // ReadMessage once a message has come within `wait_ms`.
  unsigned AwaitMessage(char** out, uint32_t wait_ms);
  // Writes the trace line of a reply, or of its absence, and returns `length`.
  unsigned Traced(unsigned length, const char* received, int64_t began);

  std::map<DXML_TAG, std::string> m_tagNames;
  DWORD m_dwLastError;
  HANDLE m_hProcess;
  HANDLE m_hPipe;
  char m_replyRing[qarn::msg::kSlotCount][qarn::msg::kSlotSize];
  unsigned m_nNextSlot;
  FILE* m_pTrace;  // the message trace, or NULL
  // Set while a call holds the session for its exchange (see LeaseSession).
  std::atomic<bool> m_bInExchange;
  uint32_t m_nReplyTimeoutMs;  // from the ReplyTimeout setting; kWaitForever when unset
  bool m_bBroken;              // a wait ran out: the exchanges are out of step
};

namespace qarn {

// The session table: a handle for each session that LoadLibrary opened and
// FreeLibrary has not yet ended. Safe to use from several threads at once.
// Handles are numbers that are never handed out again.

// Enters `session` and returns its new handle; may throw std::bad_alloc.
void* AddSession(c_QARNPlus_Session* session);
// The session behind `h`, or NULL when `h` is not in the table.
c_QARNPlus_Session* FindSession(void* h);
// Takes `h` out of the table: its session, or NULL when it was not there,
// so that only one caller ends a session.
c_QARNPlus_Session* RemoveSession(void* h);

// The session behind `h`, held for one exchange, or NULL with the thread's
// error code set: 6 (ERROR_INVALID_HANDLE) when `h` is not in the table, 170
// (ERROR_BUSY) when an exchange holds the session. That is a call made from
// a callback on the session whose request waits for the reply, or a second
// thread on the same session: either would interleave its messages with the
// exchange in progress and take its reply.
c_QARNPlus_Session* LeaseSession(void* h, uint32_t* refusal = nullptr);
void ReleaseSession(c_QARNPlus_Session* session);

// A LeaseSession for one scope.
class SessionLease {
 public:
  explicit SessionLease(void* h) : session_(LeaseSession(h, &refusal_)) {}
  ~SessionLease() {
    if (session_ != nullptr) ReleaseSession(session_);
  }
  SessionLease(const SessionLease&) = delete;
  SessionLease& operator=(const SessionLease&) = delete;
  c_QARNPlus_Session* get() const { return session_; }
  explicit operator bool() const { return session_ != nullptr; }
  c_QARNPlus_Session* operator->() const { return session_; }
  // True when the session exists but an exchange holds it.
  bool busy() const { return session_ == nullptr && refusal_ == qarn::os::kErrorBusy; }

 private:
  uint32_t refusal_ = 0;
  c_QARNPlus_Session* session_;
};

// Sends a request that needs its reply: the reply inside its slot, or NULL
// when the exchange failed.
inline char* RequestReply(c_QARNPlus_Session* session, char* message, unsigned size) {
  char* reply = nullptr;
  return session->Request(message, size, &reply) != 0 ? reply : nullptr;
}

}  // namespace qarn
