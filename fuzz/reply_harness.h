#pragma once
// The application's side of a request against a peer that sends arbitrary
// messages: replies, callbacks, oversized or empty ones, a hang-up midway.
// Input: a control byte (bits 0-2 the library call that waits for the reply,
// bit 3 a hang-up instead of the final reply), then the peer's messages, each
// behind a 16-bit length.
// The application calls a callback's function address unchecked, so every
// callback message is aimed at a harmless function of the right type here,
// which reads the texts and fills the password room as an application would.
// Shared by the fuzzer and the regression tests.

#include <stdint.h>
#include <string.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/session.h"
#include "fuzz/fuzz_bytes.h"
#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace qarn::fuzz {

namespace reply {

constexpr size_t kMaxMessage = 1100;  // a little beyond a reply slot
constexpr size_t kMaxMessages = 16;   // all fit the socket buffers at once
constexpr uint8_t kCallMask = 0x07;
constexpr uint8_t kHangUp = 0x08;
constexpr size_t kAddressOffset = 146;
constexpr size_t kAddressEnd = 150;

// Their results depend on what they read, so the sanitizers see a read of
// foreign bytes. Calls and the last text's length are kept for the tests.
inline int harmless_calls = 0;
inline size_t harmless_text_length = 0;

inline size_t ReadText(const char* text) {
  ++harmless_calls;
  return harmless_text_length = strlen(text);
}

inline int WINAPI HarmlessPassword(unsigned char* password, unsigned int* length, const char* document) {
  const size_t name = ReadText(document);
  size_t room = *length < 256u ? *length : 256u;
  if (room > name) room = name;
  memcpy(password, document, room);
  *length = static_cast<unsigned int>(room);
  return static_cast<int>(name);
}

inline int HarmlessSelectedText(unsigned short n, RECT rect, long value) {
  ++harmless_calls;
  return static_cast<int>(n + static_cast<uint32_t>(rect.left) + static_cast<uint32_t>(rect.bottom) +
                          static_cast<uint32_t>(value));
}

inline bool HarmlessAbsentPhoto(void*, RECT* rect, unsigned long number, const char* text) {
  rect->left = static_cast<LONG>(static_cast<uint32_t>(rect->right) ^ static_cast<uint32_t>(number));
  return ReadText(text) % 2 == 1;
}

inline uint32_t AddressOfHarmless(const std::string& message) {
  if (msg::MethodIs(message.data(), "GetDocPasswd"))
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&HarmlessPassword));
  if (msg::MethodIs(message.data(), "EnumSelectedText"))
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&HarmlessSelectedText));
  if (msg::MethodIs(message.data(), "DspAbsentPhoto"))
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&HarmlessAbsentPhoto));
  return 0;
}

// What the application's channel makes of a message: a callback to answer,
// or the end of the exchange (a reply, or a read that fails).
inline bool IsCallbackForClient(const std::string& message) {
  return message.size() >= msg::kHeaderSize && message.size() <= msg::kSlotSize &&
         msg::InterfaceIs(message.c_str(), msg::kCallbackInterface);
}

// Points the address field of a callback message at a harmless function.
inline void Aim(std::string& message) {
  if (message.size() < msg::kHeaderSize) return;
  std::string header = message.substr(0, msg::kHeaderSize);
  if (!msg::InterfaceIs(header.c_str(), msg::kCallbackInterface)) return;
  const uint32_t address = AddressOfHarmless(header);
  if (address == 0) return;
  if (message.size() < kAddressEnd) message.resize(kAddressEnd, '\0');
  memcpy(&message[kAddressOffset], &address, sizeof address);
}

// The peer's end, written before the call (it all fits the socket buffers):
// its messages up to the first that ends the exchange, then the final reply
// unless it hangs up. The application's requests are never read.
inline void SendMessages(HANDLE pipe, const std::vector<std::string>& messages, bool hang_up) {
  bool ended = false;  // by a message that is no callback
  for (size_t i = 0; i < messages.size() && !ended; ++i) {
    os::PipeWrite(pipe, messages[i].data(), static_cast<uint32_t>(messages[i].size()));
    ended = !IsCallbackForClient(messages[i]);
  }
  if (!ended && !hang_up) {
    char final_reply[msg::kHeaderSize + 12];
    msg::Begin(final_reply, sizeof final_reply, msg::kDriverInterface, "Reply");
    os::PipeWrite(pipe, final_reply, sizeof final_reply);
  }
  shutdown(os::posix::FdFromHandle(pipe), SHUT_WR);
}

// A text the library handed out is used as the application would.
inline size_t UseText(const char* text) { return text != nullptr ? strlen(text) : 0; }

// One library call that sends a request and waits for its reply. Returns
// false when the call released the session itself.
inline bool CallLibrary(uint8_t call, void* session) {
  volatile size_t sink = 0;
  switch (call) {
    case 0: {
      const char* reply = nullptr;
      LARGE_INTEGER times[4];
      f_QARNDRV_Invoke(session, "fuzz", &reply, times);
      sink = UseText(reply);
      break;
    }
    case 1:
      sink = static_cast<size_t>(f_QARNSVR_GetVersion(session));
      break;
    case 2:
      sink = static_cast<size_t>(f_QARNDRV_GetLastError(session));
      break;
    case 3:
      sink = UseText(f_QARNDRV_FormatMessage(session, QARNDRV_ERR_NONE));
      break;
    case 4:
      sink = UseText(f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(1)));
      break;
    case 5:
      sink = static_cast<size_t>(f_QARNDRV_GetTagIDByName(session, "fuzz"));
      break;
    case 6:
      f_QARNDRV_Init(session);
      break;
    default:
      f_QARNSVR_FreeLibrary(session);
      return false;
  }
  (void)sink;
  return true;
}

// The listening end of this process's own pipe, open for the whole run
// (nullptr when it cannot be made).
struct ListenerCloser {
  void operator()(void* listener) const { os::PipeListenerClose(listener); }
};
inline HANDLE OwnListener() {
  static const std::unique_ptr<void, ListenerCloser> listener([] {
    HANDLE handle = nullptr;
    return os::PipeListen(os::CurrentProcessId(), &handle) == os::kErrorSuccess ? handle : nullptr;
  }());
  return listener.get();
}

}  // namespace reply

inline void RunReplyInput(const uint8_t* data, size_t size) {
  FuzzBytes in(data, size);
  const uint8_t control = in.Byte();
  std::vector<std::string> messages = in.Chunks(reply::kMaxMessage, reply::kMaxMessages);
  for (std::string& message : messages) reply::Aim(message);

  const HANDLE listener = reply::OwnListener();
  if (listener == nullptr) return;
  c_QARNPlus_Session* session = nullptr;
  try {
    session = new c_QARNPlus_Session(os::CurrentProcessId(), INVALID_HANDLE_VALUE, 0);
  } catch (unsigned long) {
    return;
  }
  HANDLE peer_end = nullptr;
  if (os::PipeAccept(listener, &peer_end) != os::kErrorSuccess) {
    delete session;
    return;
  }
  reply::SendMessages(peer_end, messages, (control & reply::kHangUp) != 0);
  void* handle = AddSession(session);
  if (reply::CallLibrary(control & reply::kCallMask, handle)) {
    RemoveSession(handle);
    delete session;
  }
  os::PipeClose(peer_end);
}

}  // namespace qarn::fuzz
