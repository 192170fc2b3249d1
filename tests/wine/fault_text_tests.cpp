// The 21 fault texts, loaded from the string table linked into this module.

#include <string.h>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

struct FaultText {
  unsigned id;
  const char* text;
};

constexpr FaultText kExpected[] = {
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
};

}  // namespace

void RunFaultTextTests() {
  CHECK_EQ(sizeof kExpected / sizeof kExpected[0], 21);
  char buffer[776];
  unsigned next_id = 2000;
  for (const FaultText& entry : kExpected) {
    CHECK_EQ(entry.id, next_id++);
    memset(buffer, 'x', sizeof buffer);
    const int length = qarn::os::LoadFaultText(entry.id, buffer, sizeof buffer);
    CHECK_EQ(length, strlen(entry.text));
    CHECK(strcmp(buffer, entry.text) == 0);
  }

  // A short buffer takes the text's start, terminated.
  CHECK_EQ(qarn::os::LoadFaultText(2000, buffer, 11), 10);
  CHECK(strcmp(buffer, "The thread") == 0);

  // No text outside the table.
  const unsigned outside[] = {1999, 2021};
  for (unsigned id : outside) {
    buffer[0] = 'x';
    CHECK_EQ(qarn::os::LoadFaultText(id, buffer, sizeof buffer), 0);
    CHECK_EQ(buffer[0], '\0');
  }
}

}  // namespace wine_test
