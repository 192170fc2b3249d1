#pragma once
// The calling thread's Windows error code as the OS layer returns it: a
// failed call never reports success, even when the system left no code.

#include <stdint.h>
#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {

inline uint32_t LastErrorCode() {
  const DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? static_cast<uint32_t>(code) : kErrorGenFailure;
}

// True for the two values Windows uses as "no handle".
inline bool IsNoHandle(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }

}  // namespace qarn::os
