#pragma once
// The exact texts and bytes the stand-in server gives back, built from its
// published formats, for tests that compare whole replies and whole buffers:
// a successful QARN_RET text, and what an error message document call
// (API code 8) leaves in the application's message buffer and topic string.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace qarn::test {

constexpr uint32_t kErrorMessageCode = 8;
constexpr uint32_t kMessageField = 2;  // SAPGetErrMes1::pMessage
constexpr uint32_t kTextField = 10;    // SAPGetErrMes1::pszText

// One value element of a reply.
inline std::string Element(const std::string& type, const std::string& name, const std::string& value) {
  return "\n\t<" + type + " val=\"" + value + "\" name=\"" + name + "\"/>";
}

// A successful reply with these elements after SUCCESS.
inline std::string SuccessReply(const std::string& elements) {
  return "<QARN_RET>\n\t<boolVal val=\"true\" name=\"SUCCESS\"/>" + elements + "\n</QARN_RET>";
}

// The server's fill of byte j of the buffer behind the field at `field`.
inline unsigned char BufferPattern(uint32_t field, size_t j) {
  return static_cast<unsigned char>(0x80 | ((kErrorMessageCode + field + 1 + j) & 0x7F));
}

// A message buffer of `size` bytes after the call: the fill, then the
// message "QARN error <lead>" over its front with its terminator.
inline std::vector<unsigned char> MessageAfterCall(uint16_t lead, size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t j = 0; j < size; ++j) bytes[j] = BufferPattern(kMessageField, j);
  const std::string message = "QARN error " + std::to_string(lead);
  for (size_t j = 0; j <= message.size() && j < size; ++j) bytes[j] = j < message.size() ? message[j] : 0;
  return bytes;
}

// The topic string after the call: every character filled, the terminator kept.
inline std::vector<unsigned char> TextAfterCall(size_t characters) {
  std::vector<unsigned char> bytes(characters + 1, 0);
  for (size_t j = 0; j < characters; ++j) bytes[j] = BufferPattern(kTextField, j);
  return bytes;
}

inline std::string Hex(const unsigned char* bytes, size_t count) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

inline std::string Hex(const std::vector<unsigned char>& bytes) { return Hex(bytes.data(), bytes.size()); }

}  // namespace qarn::test
