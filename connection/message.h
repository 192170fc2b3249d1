#pragma once
// Building and reading pipe messages byte by byte: the header's two names
// and the numbers and texts at the offsets that protocol.h gives. Header-only
// so that every program that speaks the protocol builds its messages the
// same way.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "connection/protocol.h"

namespace qarn::msg {

constexpr size_t kNameRoom = sizeof(wire::Header::szInterface);
constexpr size_t kInterfaceOffset = offsetof(wire::Header, szInterface);
constexpr size_t kMethodOffset = offsetof(wire::Header, szMethod);
constexpr size_t kStartOffset = offsetof(wire::Header, llStart);
constexpr size_t kEndOffset = offsetof(wire::Header, llEnd);
constexpr size_t kHeaderSize = sizeof(wire::Header);
constexpr size_t kPayloadOffset = kHeaderSize;
constexpr size_t kSlotSize = 1024;
constexpr size_t kSlotCount = 8;

constexpr const char* kServerInterface = "QARN_Server";
constexpr const char* kDriverInterface = "QARN_Driver";
constexpr const char* kCallbackInterface = "QARN_Callback";

// Writes `text` into a field of `room` bytes as a "%s" copy limited to
// room - 1 characters, so the field is always zero-terminated. (Written out
// rather than with snprintf: it runs for every message on the hot path.)
inline void PutText(char* message, size_t offset, size_t room, const char* text) {
  if (room == 0) return;
  const size_t length = text != nullptr ? strnlen(text, room - 1) : 0;
  if (length != 0) memcpy(message + offset, text, length);
  message[offset + length] = '\0';
}

// Zero-fills the message and writes both names of its header.
inline void Begin(char* message, size_t size, const char* interface_name, const char* method) {
  memset(message, 0, size);
  PutText(message, kInterfaceOffset, kNameRoom, interface_name);
  PutText(message, kMethodOffset, kNameRoom, method);
}

inline void PutInt32(char* message, size_t offset, int32_t value) { memcpy(message + offset, &value, 4); }
inline void PutUInt32(char* message, size_t offset, uint32_t value) { memcpy(message + offset, &value, 4); }
inline void PutInt64(char* message, size_t offset, int64_t value) { memcpy(message + offset, &value, 8); }

inline int32_t GetInt32(const char* message, size_t offset) {
  int32_t value;
  memcpy(&value, message + offset, 4);
  return value;
}
inline uint32_t GetUInt32(const char* message, size_t offset) {
  uint32_t value;
  memcpy(&value, message + offset, 4);
  return value;
}
inline int64_t GetInt64(const char* message, size_t offset) {
  int64_t value;
  memcpy(&value, message + offset, 8);
  return value;
}

// True when the zero-terminated name field at `offset` equals `name`.
inline bool NameIs(const char* message, size_t offset, const char* name) {
  return strncmp(message + offset, name, kNameRoom) == 0;
}
inline bool InterfaceIs(const char* message, const char* name) {
  return NameIs(message, kInterfaceOffset, name);
}
inline bool MethodIs(const char* message, const char* name) { return NameIs(message, kMethodOffset, name); }

}  // namespace qarn::msg
