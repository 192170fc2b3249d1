// POSIX has no last error of the system's for a library to leave its codes
// in (errno belongs to the C library and the next system call): the library
// keeps its own, which f_QARNSVR_GetLastError reads on every platform.
#include "platform/platform.h"

namespace qarn::os {

void SetThreadError(uint32_t) {}

}  // namespace qarn::os
