// The calling thread's error code on POSIX, where errno is the C library's
// and would be overwritten by the next system call.
#include "platform/platform.h"

namespace qarn::os {
namespace {

thread_local uint32_t t_error = kErrorSuccess;

}  // namespace

void SetThreadError(uint32_t code) { t_error = code; }
uint32_t ThreadError() { return t_error; }

}  // namespace qarn::os
