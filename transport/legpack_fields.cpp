// Field access shared by both directions of the package engine.
#include <string.h>

#include "transport/legpack_engine.h"

namespace qarn::transport {
namespace {

uint32_t Read16(const uint8_t* at) {
  uint16_t v;
  memcpy(&v, at, sizeof v);
  return v;
}

uint32_t Read32(const uint8_t* at) {
  uint32_t v;
  memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace

uint8_t* ReadPointer(const uint8_t* at) {
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Read32(at)));
}

void WritePointer(uint8_t* at, const void* value) {
  const auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  memcpy(at, &v, sizeof v);
}

uint32_t FieldSize(const FieldRule& field, const uint8_t* base, uint32_t string_limit) {
  switch (field.size) {
    case SizeRule::kString: {
      const uint8_t* text = ReadPointer(base + field.offset);
      if (text == nullptr) return 0;
      if (string_limit == UINT32_MAX)
        return static_cast<uint32_t>(strlen(reinterpret_cast<const char*>(text))) + 1;
      const void* end = memchr(text, 0, string_limit);
      return end == nullptr ? string_limit
                            : static_cast<uint32_t>(static_cast<const uint8_t*>(end) - text) + 1;
    }
    case SizeRule::kLength8:
      return base[field.arg];
    case SizeRule::kLength16:
      return Read16(base + field.arg);
    case SizeRule::kLength32:
      return Read32(base + field.arg);
    case SizeRule::kFixed:
      return field.arg;
    case SizeRule::kLength16x2:
      return 2 * Read16(base + field.arg);
    case SizeRule::kLengthPairSum: {
      const uint8_t* pair = ReadPointer(base + field.arg);
      return pair == nullptr ? 0 : Read16(pair) + Read16(pair + 2);
    }
    case SizeRule::kLengthCell32: {
      const uint8_t* cell = ReadPointer(base + field.arg);
      return cell == nullptr ? 0 : Read32(cell);
    }
  }
  return 0;
}

void DiscardBlocks(BlockList& blocks) {
  for (c_QARNPlus_Shrmem*& block : blocks) {
    if (block == nullptr) continue;
    block->m_bMerge = false;
    delete block;
    block = nullptr;
  }
  blocks.clear();
}

}  // namespace qarn::transport
