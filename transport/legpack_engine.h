#pragma once
// The package engine: builds (application side) or opens (server side) the
// blocks of one record by walking its RecordRule. Both directions evaluate
// the same conditions in the same field order, so the server opens exactly
// the blocks the application made.

#include <stdint.h>

#include <new>
#include <vector>

#include "qarnplus/shrmem.h"
#include "transport/record_rules.h"

namespace qarn::transport {

using BlockList = std::vector<c_QARNPlus_Shrmem*>;

// Application side: appends the buffer blocks (field order, chains in place)
// and the record block last. Throws 87 for a chain that is cyclic or longer
// than kMaxChainNodes before any block is made, and the system code of a
// block that cannot be made. NULL `rule` or `record`: nothing.
void MakeClientBlocks(const RecordRule* rule, void* record, BlockList& blocks);

// Server side: `record` is the server's view of the record block. Opens the
// buffer blocks by the pointer values in the record and rewrites each field
// with the view's address. Throws 87 for an overlong chain.
void OpenServerBlocks(const RecordRule* rule, void* record, BlockList& blocks);

// The byte count of the buffer of `field`, read from `base` (the record or a
// chain node) in the address space where its pointers are valid. A NULL
// string, length-pair or length-cell pointer counts as 0. A string counts its
// terminator; with a `string_limit` only that many bytes are searched for it,
// and a string without a terminator there counts as `string_limit`.
uint32_t FieldSize(const FieldRule& field, const uint8_t* base, uint32_t string_limit = UINT32_MAX);

// Reads and writes a 32-bit pointer field at any (unaligned) offset.
uint8_t* ReadPointer(const uint8_t* at);
void WritePointer(uint8_t* at, const void* value);

// Deletes every block of the list, in order, without merging back.
void DiscardBlocks(BlockList& blocks);

// Makes a block with these constructor arguments and appends it. If the list
// cannot grow, the new block is discarded (no merge) and bad_alloc leaves.
template <class... Args>
c_QARNPlus_Shrmem& AppendBlock(BlockList& blocks, Args... args) {
  if (blocks.size() == blocks.capacity()) blocks.reserve(blocks.empty() ? 8 : 2 * blocks.size());
  blocks.push_back(new c_QARNPlus_Shrmem(args...));
  return *blocks.back();
}

}  // namespace qarn::transport
