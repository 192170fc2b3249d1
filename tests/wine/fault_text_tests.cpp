// The 21 fault texts, loaded from the string table linked into this module.

#include <string.h>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {

void RunFaultTextTests() {
  const struct {
    unsigned id;
    const char* text;
  } expected[] = {
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
  };
  CHECK_EQ(sizeof expected / sizeof expected[0], 21);
  char buffer[776];
  for (const auto& entry : expected) {
    memset(buffer, 'x', sizeof buffer);
    CHECK_EQ(qarn::os::LoadFaultText(entry.id, buffer, sizeof buffer), strlen(entry.text));
    CHECK(strcmp(buffer, entry.text) == 0);
  }
  // A short buffer takes the text's start, terminated.
  CHECK_EQ(qarn::os::LoadFaultText(2000, buffer, 11), 10);
  CHECK(strcmp(buffer, "The thread") == 0);
  // No text outside the table.
  const unsigned outside[] = {1999, 2021};
  for (const unsigned id : outside) {
    buffer[0] = 'x';
    CHECK_EQ(qarn::os::LoadFaultText(id, buffer, sizeof buffer), 0);
    CHECK_EQ(buffer[0], '\0');
  }
}

}  // namespace wine_test
