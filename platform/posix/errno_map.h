#pragma once
// errno values translated into the Windows system error codes that the rest
// of the library stores and throws.

#include <stdint.h>

namespace qarn::os {

uint32_t ErrorFromErrno(int error_number);

}  // namespace qarn::os
