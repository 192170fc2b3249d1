// The fault texts on Windows: the string table of the module that contains
// this code (the DLL, or a test program that links the resource).

#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {

int LoadFaultText(unsigned id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&LoadFaultText), &self)) {
    return 0;
  }
  return LoadStringA(self, id, buffer, size);
}

}  // namespace qarn::os
