#pragma once
// The library's side of qarnplus/extensions.h.

#include <stdint.h>

namespace qarn {

// Notes why this thread's session start failed (0: it did not).
void RecordStartError(uint32_t error);

}  // namespace qarn
