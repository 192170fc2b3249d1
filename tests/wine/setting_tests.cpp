// The "Debug" value under HKEY_LOCAL_MACHINE "SOFTWARE\TALVEX\QARN_SVR".

#include <windows.h>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

using namespace qarn::os;

constexpr const char* kKeyPath = "SOFTWARE\\TALVEX\\QARN_SVR";

void DeleteKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath); }

bool KeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool SetDebugValue(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(key, "Debug", 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// Reads the setting; `value` starts at a marker so that an untouched output
// shows.
uint32_t Read(uint32_t* value) {
  *value = 0xA5A5A5A5u;
  return ReadDebugSetting(value);
}

}  // namespace

void RunSettingTests() {
  uint32_t value = 0;

  // A missing key: the read creates it, finds no value and leaves the output.
  DeleteKey();
  CHECK(!KeyExists());
  CHECK_EQ(Read(&value), kErrorFileNotFound);
  CHECK_EQ(value, 0xA5A5A5A5u);
  CHECK(KeyExists());

  struct Case {
    DWORD type;
    unsigned char data[8];
    DWORD size;
    uint32_t result;
    uint32_t value;
  };
  const Case cases[] = {
      {REG_DWORD, {0, 0, 0, 0}, 4, kErrorSuccess, 0},
      {REG_DWORD, {1, 0, 0, 0x80}, 4, kErrorSuccess, 0x80000001u},
      // Any type of 4 bytes is read as the number.
      {REG_BINARY, {1, 2, 3, 4}, 4, kErrorSuccess, 0x04030201u},
      // A longer value fails and leaves the output.
      {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 8, kErrorMoreData, 0xA5A5A5A5u},
      {REG_BINARY, {1, 2, 3, 4, 5}, 5, kErrorMoreData, 0xA5A5A5A5u},
      // A shorter one fills the low bytes of a zero number.
      {REG_BINARY, {5, 1}, 2, kErrorSuccess, 0x0105u},
  };
  for (const Case& c : cases) {
    if (!CHECK(SetDebugValue(c.type, c.data, c.size))) continue;
    CHECK_EQ(Read(&value), c.result);
    CHECK_EQ(value, c.value);
  }
  DeleteKey();
}

}  // namespace wine_test
