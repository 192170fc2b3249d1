// The server settings on Windows: HKLM "SOFTWARE\TALVEX\QARN_SVR".

#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {

uint32_t ReadNumberSetting(const char* name, uint32_t* value) {
  if (name == nullptr || value == nullptr) return kErrorInvalidParameter;
  HKEY key = nullptr;
  // RegCreateKeyExA, not RegOpenKeyExA: the key is created when it is missing
  // and the process may create it.
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TALVEX\\QARN_SVR", 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
  // Any type of value is read as a 4-byte number; a longer one fails with
  // ERROR_MORE_DATA.
  DWORD number = 0;
  DWORD size = sizeof number;
  result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
  *value = number;
  return kErrorSuccess;
}

}  // namespace qarn::os
