#pragma once
// The library's side of qarnplus/extensions.h.

#include <stdint.h>

namespace qarn {

// Notes `code` as this thread's last error (0: the call succeeded), for
// f_QARNSVR_GetLastError and, on Windows, GetLastError.
void NoteError(uint32_t code);

}  // namespace qarn
