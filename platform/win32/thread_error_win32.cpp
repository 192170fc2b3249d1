// The system's own last error of the calling thread, so that a Windows
// program reads the library's codes with GetLastError as well.
#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {

void SetThreadError(uint32_t code) { SetLastError(code); }

}  // namespace qarn::os
