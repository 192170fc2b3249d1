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

bool SetDebugValue(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      0)
    return false;
  const LONG result = RegSetValueExA(key, "Debug", 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void DebugSetting() {
  // A missing key: the read creates it, finds no value and leaves the output.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
  uint32_t value = kUntouched;
  CHECK_EQ(ReadDebugSetting(&value), kErrorFileNotFound);
  CHECK_EQ(value, kUntouched);
  HKEY key = nullptr;
  if (CHECK_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS))
    RegCloseKey(key);

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
      // A shorter one fills the low bytes of a zero number.
      {REG_BINARY, {5, 1}, 2, kErrorSuccess, 0x0105u},
  };
  for (const auto& c : cases) {
    if (!CHECK(SetDebugValue(c.type, c.data, c.size))) continue;
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
  } expected[] = {
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
  };
  CHECK_EQ(sizeof expected / sizeof expected[0], 21);
  char buffer[776];
  for (const auto& entry : expected) {
    memset(buffer, 'x', sizeof buffer);
    CHECK_EQ(LoadFaultText(entry.id, buffer, sizeof buffer), strlen(entry.text));
    CHECK(strcmp(buffer, entry.text) == 0);
  }
  // A short buffer takes the text's start, terminated.
  CHECK_EQ(LoadFaultText(2000, buffer, 11), 10);
  CHECK(strcmp(buffer, "The thread") == 0);
  // No text outside the table.
  const unsigned outside[] = {1999, 2021};
  for (const unsigned id : outside) {
    buffer[0] = 'x';
    CHECK_EQ(LoadFaultText(id, buffer, sizeof buffer), 0);
    CHECK_EQ(buffer[0], '\0');
  }
}

}  // namespace

void RunSystemDataTests() {
  DebugSetting();
  FaultTexts();
}

}  // namespace wine_test
