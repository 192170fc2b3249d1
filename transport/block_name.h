#pragma once
// Block names: the decimal text of a 32-bit pointer value read as a signed
// number, e.g. 0x80000000 -> "-2147483648". "0" (the NULL pointer) names no
// block. Both ends of a call derive the name from the pointer value alone.

#include <stddef.h>

namespace qarn::transport {

// "-2147483648" and its terminator.
constexpr size_t kBlockNameSize = 12;

// Writes the block name of `p` into `out` (at least kBlockNameSize bytes).
void FormatBlockName(const void* p, char* out);

// True for the reserved name "0" (and for NULL): no mapping carries it.
bool IsEmptyBlockName(const char* name);

}  // namespace qarn::transport
