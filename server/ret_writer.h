#pragma once
// Builds reply texts in the QARN_RET form:
//   <QARN_RET>
//   	<boolVal val="true" name="SUCCESS"/>
//   	<stringVal val="..." name="..."/>
//   </QARN_RET>
// Values are escaped; a text that does not fit is cut, never overrun, and the
// closing tag always fits.

#include <stddef.h>

namespace qarn::server {

class RetWriter {
 public:
  RetWriter(char* out, size_t room);
  void Success(bool ok);
  void String(const char* name, const char* value);
  void Bytes(const char* name, const unsigned char* value, size_t length);
  void Int(const char* name, long long value);
  // Closes the text; returns its length without the terminator.
  size_t Finish();

 private:
  void Append(const char* text);
  void AppendEscaped(const unsigned char* value, size_t length);
  void Element(const char* type, const char* name, const unsigned char* value, size_t length);

  char* out_;
  size_t room_;  // without the room kept for the closing tag
  size_t used_ = 0;
};

}  // namespace qarn::server
