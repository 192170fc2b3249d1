// The masked merge selects bits a 32-bit word at a time, four words per
// step: local ^ ((local ^ shared) & mask) equals the byte rule because the
// select is bit-wise. Plain machine words are used on purpose: they are as
// fast as vector code where memory bandwidth is the limit, and far faster
// where vector instructions are emulated.
#include "transport/shrmem_merge.h"

#include <stdint.h>
#include <string.h>

namespace qarn::transport {
namespace {

inline uint32_t Load(const unsigned char* p) {
  uint32_t word;
  memcpy(&word, p, sizeof word);
  return word;
}

inline void MergeWord(unsigned char* local, const unsigned char* shared, const unsigned char* mask) {
  uint32_t word = Load(local);
  word ^= (word ^ Load(shared)) & Load(mask);
  memcpy(local, &word, sizeof word);
}

}  // namespace

void MaskedMerge(unsigned char* local, const unsigned char* shared, const unsigned char* mask, size_t size) {
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    MergeWord(local + i, shared + i, mask + i);
    MergeWord(local + i + 4, shared + i + 4, mask + i + 4);
    MergeWord(local + i + 8, shared + i + 8, mask + i + 8);
    MergeWord(local + i + 12, shared + i + 12, mask + i + 12);
  }
  for (; i + 4 <= size; i += 4) MergeWord(local + i, shared + i, mask + i);
  for (; i < size; ++i) local[i] = static_cast<unsigned char>(local[i] ^ ((local[i] ^ shared[i]) & mask[i]));
}

}  // namespace qarn::transport
