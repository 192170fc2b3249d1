#pragma once
// The write-back copies of a shared block.

#include <stddef.h>

namespace qarn::transport {

// local[i] = (shared[i] & mask[i]) | (local[i] & ~mask[i]) for i < size:
// each mask bit 1 takes the server's bit, each 0 keeps the caller's bit.
void MaskedMerge(unsigned char* local, const unsigned char* shared, const unsigned char* mask, size_t size);

}  // namespace qarn::transport
