// The request channel: one request out, callback messages served while the
// reply is awaited, replies read into the session's ring of slots.
#include <string.h>

#include "connection/session.h"
#include "platform/platform.h"
#include "qarnplus/callback.h"

namespace msg = qarn::msg;
namespace os = qarn::os;

unsigned c_QARNPlus_Session::Request(char* message, unsigned size, char** reply) {
  msg::PutInt64(message, msg::kStartOffset, os::PerformanceCounter());
  if (WriteMessage(message, size) == 0) return 0;

  char* received = nullptr;
  unsigned length = ReadMessage(&received);
  while (length >= msg::kHeaderSize && msg::InterfaceIs(received, msg::kCallbackInterface)) {
    c_QARNPlus_Callback::Invoke(received);
    if (WriteMessage(received, length) == 0) return 0;
    length = ReadMessage(&received);
  }
  if (reply != nullptr) *reply = received;
  msg::PutInt64(message, msg::kEndOffset, os::PerformanceCounter());
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
