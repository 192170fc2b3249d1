#pragma once
// How the POSIX backend carries its objects in the Windows HANDLE type.
//
// - Pipe ends and listeners: the file descriptor plus one, so that a valid
//   descriptor (0 included) is never NULL and never INVALID_HANDLE_VALUE.
//   NULL and INVALID_HANDLE_VALUE both decode to -1 and mean "no pipe".
// - Process: the child's pid itself (always > 0).
// - Start event and mapping: a pointer to a small heap record private to
//   event_posix.cpp / mapping_posix.cpp.

#include <stdint.h>
#include <sys/types.h>

#include "qarnplus/wintypes.h"

namespace qarn::os::posix {

inline HANDLE HandleFromFd(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }

inline int FdFromHandle(HANDLE handle) {
  const intptr_t value = reinterpret_cast<intptr_t>(handle);
  return value > 0 ? static_cast<int>(value - 1) : -1;
}

inline HANDLE HandleFromPid(pid_t pid) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(pid)); }

inline pid_t PidFromHandle(HANDLE handle) {
  const intptr_t value = reinterpret_cast<intptr_t>(handle);
  return value > 0 ? static_cast<pid_t>(value) : -1;
}

}  // namespace qarn::os::posix
