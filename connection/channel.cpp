// The request channel: one request out, callback messages served while the
// reply is awaited, replies read into the session's ring of slots.
#include <string.h>

#include "connection/session.h"
#include "connection/trace.h"
#include "platform/platform.h"
#include "qarnplus/callback.h"

namespace msg = qarn::msg;
namespace os = qarn::os;
namespace trace = qarn::trace;

unsigned c_QARNPlus_Session::Request(char* message, unsigned size, char** reply) {
  return Request(message, size, reply, m_nReplyTimeoutMs);
}

unsigned c_QARNPlus_Session::Request(char* message, unsigned size, char** reply, uint32_t wait_ms) {
  msg::PutInt64(message, msg::kStartOffset, os::PerformanceCounter());
  const int64_t began = m_pTrace != nullptr ? trace::Now() : 0;
  if (m_pTrace != nullptr)
    trace::Message(m_pTrace, this, trace::Direction::kRequest, message, size, trace::kNoDuration);
  // A broken session's next message may be any earlier request's late reply.
  if (m_bBroken) {
    if (reply != nullptr) *reply = nullptr;
    return Traced(0, nullptr, began);
  }
  if (WriteMessage(message, size) == 0) return Traced(0, nullptr, began);

  char* received = nullptr;
  unsigned length = AwaitMessage(&received, wait_ms);
  while (length >= msg::kHeaderSize && msg::InterfaceIs(received, msg::kCallbackInterface)) {
    const int64_t called = m_pTrace != nullptr ? trace::Now() : 0;
    if (m_pTrace != nullptr)
      trace::Message(m_pTrace, this, trace::Direction::kCallback, received, length, trace::kNoDuration);
    c_QARNPlus_Callback::Invoke(received);
    if (m_pTrace != nullptr)
      trace::Message(m_pTrace, this, trace::Direction::kAnswer, received, length, called);
    if (WriteMessage(received, length) == 0) return Traced(0, nullptr, began);
    length = AwaitMessage(&received, wait_ms);
  }
  if (reply != nullptr) *reply = received;
  msg::PutInt64(message, msg::kEndOffset, os::PerformanceCounter());
  return m_pTrace != nullptr ? Traced(length, received, began) : length;
}

unsigned c_QARNPlus_Session::AwaitMessage(char** out, uint32_t wait_ms) {
  if (wait_ms != os::kWaitForever) {
    const uint32_t error = os::PipeWaitReadable(m_hPipe, wait_ms);
    if (error != os::kErrorSuccess) {
      if (error == os::kErrorTimeout) m_bBroken = true;
      m_dwLastError = error;
      if (out != nullptr) *out = nullptr;
      return 0;
    }
  }
  return ReadMessage(out);
}

unsigned c_QARNPlus_Session::Traced(unsigned length, const char* received, int64_t began) {
  if (m_pTrace == nullptr) return length;
  if (length != 0) {
    trace::Message(m_pTrace, this, trace::Direction::kReply, received, length, began);
  } else {
    trace::NoReply(m_pTrace, this, m_dwLastError, began);
  }
  return length;
}

unsigned c_QARNPlus_Session::WriteMessage(const char* buffer, unsigned size) {
  const uint32_t error = os::PipeWrite(m_hPipe, buffer, size);
  if (error != os::kErrorSuccess) {
    m_dwLastError = error;
    return 0;
  }
  return size;
}

unsigned c_QARNPlus_Session::ReadMessage(char** out) {
  if (out != nullptr) *out = nullptr;
  char* slot = m_replyRing[m_nNextSlot];
  memset(slot, 0, msg::kSlotSize);
  uint32_t length = 0;
  const uint32_t error = os::PipeRead(m_hPipe, slot, msg::kSlotSize, &length);
  if (error != os::kErrorSuccess) {
    m_dwLastError = error;
    return 0;
  }
  if (out != nullptr) {
    *out = slot;
    ++m_nNextSlot;
  }
  if (m_nNextSlot >= msg::kSlotCount) m_nNextSlot = 0;
  return length;
}
