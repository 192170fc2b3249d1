// What the library reads from the system: the "Debug" value under
// HKEY_LOCAL_MACHINE "SOFTWARE\TALVEX\QARN_SVR", and the 21 fault texts from
// the string table linked into this module.

#include <string.h>
#include <windows.h>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr const char* kKeyPath = "SOFTWARE\\TALVEX\\QARN_SVR";
constexpr uint32_t kUntouched = 0xA5A5A5A5u;

void DebugSetting() {
  // A missing key: the read creates it, finds no value and leaves the output.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
  uint32_t value = kUntouched;
  CHECK_EQ(ReadDebugSetting(&value), kErrorFileNotFound);
  CHECK_EQ(value, kUntouched);
  CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath), ERROR_SUCCESS);  // it was created

  const struct {
    DWORD type;
    unsigned char data[5];
    DWORD size;
    uint32_t result;
    uint32_t value;
  } cases[] = {
      {REG_DWORD, {1, 0, 0, 0x80}, 4, kErrorSuccess, 0x80000001u},
      // Any type of 4 bytes is read as the number.
      {REG_BINARY, {1, 2, 3, 4}, 4, kErrorSuccess, 0x04030201u},
      // A longer value fails and leaves the output.
      {REG_BINARY, {1, 2, 3, 4, 5}, 5, kErrorMoreData, kUntouched},
      // A shorter one fills the low bytes of a zero number: an empty one is 0.
      {REG_BINARY, {}, 0, kErrorSuccess, 0},
  };
  for (const auto& c : cases) {
    if (!CHECK_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKeyPath, "Debug", c.type, c.data, c.size), 0))
      continue;
    value = kUntouched;
    CHECK_EQ(ReadDebugSetting(&value), c.result);
    CHECK_EQ(value, c.value);
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
}

void FaultTexts() {
  const struct {
    unsigned id;
    const char* text;
  } cases[] = {
      {1999, ""},  // no text outside the table
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
      {2021, ""},
  };
  CHECK_EQ(sizeof cases / sizeof cases[0], 2 + 21);
  char buffer[776];
  for (const auto& c : cases) {
    memset(buffer, 'x', sizeof buffer);
    CHECK_EQ(LoadFaultText(c.id, buffer, sizeof buffer), strlen(c.text));
    CHECK(strcmp(buffer, c.text) == 0);
  }
  // A short buffer takes the text's start, terminated.
  CHECK_EQ(LoadFaultText(2000, buffer, 11), 10);
  CHECK(strcmp(buffer, "The thread") == 0);
}

}  // namespace

void RunSystemDataTests() {
  DebugSetting();
  FaultTexts();
}

}  // namespace wine_test
