#pragma once
// The words of a request text, split at blanks, tabs and line feeds.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace qarn::server {

class Words {
 public:
  explicit Words(const char* text);
  size_t count() const { return spans_.size(); }
  // Word `i`, or "" past the end.
  std::string at(size_t i) const;
  // The text from word `i` to the end, without trailing blanks; "" past the end.
  std::string rest(size_t i) const;

 private:
  struct Span {
    size_t start, length;
  };
  std::string text_;
  std::vector<Span> spans_;
};

// Number parsing that accepts the whole word only: decimal or 0x hex.
bool ParseInt32(const std::string& word, int32_t* value);
bool ParseUInt32(const std::string& word, uint32_t* value);
// A block name as both ends form it: a 32-bit value in signed decimal, with
// no sign for zero and positives and no leading zeros ("-5", "0", "4096").
bool ParseBlockName(const std::string& word, int32_t* value);

}  // namespace qarn::server
