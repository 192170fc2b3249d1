#pragma once
// How the POSIX backend carries its objects in the Windows HANDLE type.
//
// - Pipe ends and listeners: the file descriptor plus one, so that a valid
//   descriptor (0 included) is never NULL and never INVALID_HANDLE_VALUE.
//   NULL and INVALID_HANDLE_VALUE both decode to -1 and mean "no pipe".
// - Process, start event and mapping: a pointer to a small heap record
//   private to process_posix.cpp / event_posix.cpp / mapping_posix.cpp.

#include <stdint.h>
#include <sys/types.h>

#include "qarnplus/wintypes.h"

namespace qarn::os::posix {

inline HANDLE HandleFromFd(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }

inline int FdFromHandle(HANDLE handle) {
  const intptr_t value = reinterpret_cast<intptr_t>(handle);
  return value > 0 ? static_cast<int>(value - 1) : -1;
}

}  // namespace qarn::os::posix
