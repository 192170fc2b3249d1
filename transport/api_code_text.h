#pragma once
// The API code as the server receives it: decimal text.

#include <stdint.h>

namespace qarn::transport {

// Leading white space and one sign are allowed; conversion stops at the
// first non-digit, so "00", "x" and "" give 0. The value is read as a signed
// 32-bit number: one beyond that range is clamped to INT32_MAX or INT32_MIN,
// which no table code equals. The result is the value's 32-bit pattern.
uint32_t ParseApiCodeText(const char* text);

}  // namespace qarn::transport
