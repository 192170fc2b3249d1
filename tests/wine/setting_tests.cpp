// The "Debug" value under HKEY_LOCAL_MACHINE "SOFTWARE\TALVEX\QARN_SVR".

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

}  // namespace

void RunSettingTests() {
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
    unsigned char data[8];
    DWORD size;
    uint32_t result;
    uint32_t value;
  } cases[] = {
      {REG_DWORD, {1, 0, 0, 0x80}, 4, kErrorSuccess, 0x80000001u},
      // Any type of 4 bytes is read as the number.
      {REG_BINARY, {1, 2, 3, 4}, 4, kErrorSuccess, 0x04030201u},
      // A longer value fails and leaves the output.
      {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 8, kErrorMoreData, kUntouched},
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

}  // namespace wine_test
