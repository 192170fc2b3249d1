// The calling thread's error code on Windows: the system's own last error,
// so that an application reads the library's codes with GetLastError.
#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {

void SetThreadError(uint32_t code) { SetLastError(code); }
uint32_t ThreadError() { return GetLastError(); }

}  // namespace qarn::os
