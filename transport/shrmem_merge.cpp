// The masked merge works on 32-byte vectors (GCC/Clang vector extension);
// on ELF x86 it is cloned for AVX2 and SSE2 and the loader picks the best
// one, elsewhere the compiler lowers the vectors to machine words. The
// result equals the byte-by-byte rule because the select is bit-wise.
#include "transport/shrmem_merge.h"

#include <string.h>

namespace qarn::transport {
namespace {

#if defined(__ELF__) && (defined(__i386__) || defined(__x86_64__)) && !defined(__SANITIZE_ADDRESS__)
#define QARN_MERGE_CLONES __attribute__((target_clones("avx2", "sse2", "default")))
#else
#define QARN_MERGE_CLONES
#endif

constexpr size_t kVectorBytes = 32;
typedef unsigned char Vector __attribute__((vector_size(kVectorBytes)));

QARN_MERGE_CLONES void MergeVectors(unsigned char* local, const unsigned char* shared,
                                    const unsigned char* mask, size_t size) {
  size_t i = 0;
  for (; i + kVectorBytes <= size; i += kVectorBytes) {
    Vector l, s, m;
    memcpy(&l, local + i, kVectorBytes);
    memcpy(&s, shared + i, kVectorBytes);
    memcpy(&m, mask + i, kVectorBytes);
    l = (s & m) | (l & ~m);
    memcpy(local + i, &l, kVectorBytes);
  }
  for (; i < size; ++i) {
    local[i] = static_cast<unsigned char>((shared[i] & mask[i]) | (local[i] & ~mask[i]));
  }
}

}  // namespace

void MaskedMerge(unsigned char* local, const unsigned char* shared, const unsigned char* mask, size_t size) {
  MergeVectors(local, shared, mask, size);
}

}  // namespace qarn::transport
