#include "server/words.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

namespace qarn::server {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool ParseInteger(const std::string& word, long long low, long long high, long long* value) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = strtoll(word.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

}  // namespace

Words::Words(const char* text) : text_(text) {
  size_t i = 0;
  while (i < text_.size()) {
    while (i < text_.size() && IsBlank(text_[i])) ++i;
    const size_t start = i;
    while (i < text_.size() && !IsBlank(text_[i])) ++i;
    if (i > start) spans_.push_back({start, i - start});
  }
}

std::string Words::at(size_t i) const {
  return i < spans_.size() ? text_.substr(spans_[i].start, spans_[i].length) : std::string();
}

std::string Words::rest(size_t i) const {
  if (i >= spans_.size()) return std::string();
  const Span& last = spans_.back();
  return text_.substr(spans_[i].start, last.start + last.length - spans_[i].start);
}

bool ParseInt32(const std::string& word, int32_t* value) {
  long long parsed = 0;
  if (!ParseInteger(word, INT32_MIN, INT32_MAX, &parsed)) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseUInt32(const std::string& word, uint32_t* value) {
  long long parsed = 0;
  if (!ParseInteger(word, 0, UINT32_MAX, &parsed)) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool ParseBlockName(const std::string& word, int32_t* value) {
  int32_t parsed = 0;
  // Only the canonical text reads back as itself: hex, octal, "+5" and "007" do not.
  if (!ParseInt32(word, &parsed) || std::to_string(parsed) != word) return false;
  *value = parsed;
  return true;
}

}  // namespace qarn::server
