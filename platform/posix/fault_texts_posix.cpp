// The fault texts on POSIX: compiled into the library from the one table
// that the Windows build turns into its string table.

#include <cstring>

#include "platform/platform.h"

namespace qarn::os {
namespace {

struct FaultText {
  unsigned id;
  const char* text;
};

constexpr FaultText kFaultTexts[] = {
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
};

}  // namespace

// Like LoadStringA: copies at most size - 1 characters, always terminates,
// and returns the number of characters copied (0 for an unknown identifier).
int LoadFaultText(unsigned id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  for (const FaultText& entry : kFaultTexts) {
    if (entry.id != id) continue;
    size_t length = std::strlen(entry.text);
    if (length > static_cast<size_t>(size) - 1) length = static_cast<size_t>(size) - 1;
    std::memcpy(buffer, entry.text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

}  // namespace qarn::os
