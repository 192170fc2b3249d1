#include "server/ret_writer.h"

#include <stdio.h>
#include <string.h>

namespace qarn::server {
namespace {

const char kOpen[] = "<QARN_RET>";
const char kClose[] = "\n</QARN_RET>";

}  // namespace

RetWriter::RetWriter(char* out, size_t room)
    : out_(out), room_(room > sizeof kClose ? room - sizeof kClose : 0) {
  if (room > 0) out_[0] = '\0';
  Append(kOpen);
}

void RetWriter::Append(const char* text) {
  for (; *text != '\0' && used_ + 1 < room_; ++text) out_[used_++] = *text;
  if (room_ > 0) out_[used_] = '\0';
}

void RetWriter::AppendEscaped(const unsigned char* value, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = value[i];
    char entity[8];
    switch (c) {
      case '&':
        Append("&amp;");
        break;
      case '<':
        Append("&lt;");
        break;
      case '>':
        Append("&gt;");
        break;
      case '"':
        Append("&quot;");
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          snprintf(entity, sizeof entity, "&#%u;", c);
          Append(entity);
        } else if (used_ + 1 < room_) {
          out_[used_++] = static_cast<char>(c);
          out_[used_] = '\0';
        }
    }
  }
}

void RetWriter::Element(const char* type, const char* name, const unsigned char* value, size_t length) {
  Append("\n\t<");
  Append(type);
  Append(" val=\"");
  AppendEscaped(value, length);
  Append("\" name=\"");
  AppendEscaped(reinterpret_cast<const unsigned char*>(name), strlen(name));
  Append("\"/>");
}

void RetWriter::Success(bool ok) {
  const char* value = ok ? "true" : "false";
  Element("boolVal", "SUCCESS", reinterpret_cast<const unsigned char*>(value), strlen(value));
}

void RetWriter::String(const char* name, const char* value) {
  Element("stringVal", name, reinterpret_cast<const unsigned char*>(value), strlen(value));
}

void RetWriter::Bytes(const char* name, const unsigned char* value, size_t length) {
  Element("stringVal", name, value, length);
}

void RetWriter::Int(const char* name, long long value) {
  char text[24];
  snprintf(text, sizeof text, "%lld", value);
  Element("intVal", name, reinterpret_cast<const unsigned char*>(text), strlen(text));
}

size_t RetWriter::Finish() {
  if (room_ == 0) return 0;
  memcpy(out_ + used_, kClose, sizeof kClose);
  used_ += sizeof kClose - 1;
  return used_;
}

}  // namespace qarn::server
