#include "transport/block_name.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace qarn::transport {

void FormatBlockName(const void* p, char* out) {
  // Only the low 32 bits travel: the wire carries 32-bit pointers.
  const auto value = static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
  snprintf(out, kBlockNameSize, "%d", static_cast<int>(value));
}

bool IsEmptyBlockName(const char* name) { return name == nullptr || strcmp(name, "0") == 0; }

}  // namespace qarn::transport
