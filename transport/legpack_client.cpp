// The application direction of the package engine.
#include <string.h>

#include <vector>

#include "platform/platform.h"
#include "transport/legpack_engine.h"

namespace qarn::transport {
namespace {

// Bytes that live while one record block is made (its mask, or the saved
// record): on the stack for the usual record sizes, on the heap beyond, so
// that a package costs no allocation besides its blocks and their list.
class RecordScratch {
 public:
  explicit RecordScratch(size_t size) : heap_(size > sizeof small_ ? size : 0) {}
  RecordScratch(const RecordScratch&) = delete;
  RecordScratch& operator=(const RecordScratch&) = delete;
  uint8_t* data() { return heap_.empty() ? small_ : heap_.data(); }

 private:
  uint8_t small_[512];
  std::vector<uint8_t> heap_;
};

// A chain is walked in the caller's memory; one that does not end within
// kMaxChainNodes nodes (a cycle never does) is refused before any block
// exists, so nothing has to be undone.
void CheckChains(const RecordRule& rule, const uint8_t* record) {
  for (uint8_t i = 0; i < rule.field_count; ++i) {
    const FieldRule& field = rule.fields[i];
    if (field.role != FieldRole::kChain || field.chain == nullptr) continue;
    uint32_t nodes = 0;
    for (const uint8_t* node = ReadPointer(record + field.offset); node != nullptr;
         node = ReadPointer(node + field.chain->link_offset)) {
      if (++nodes > kMaxChainNodes) throw static_cast<unsigned long>(os::kErrorInvalidParameter);
    }
  }
}

// Makes the block of one buffer field of `base` if its condition holds.
// Returns whether a block was made.
bool MakeBufferBlock(const FieldRule& field, uint8_t* base, BlockList& blocks) {
  const uint8_t* pointer = ReadPointer(base + field.offset);
  bool make = true;
  switch (field.condition) {
    case Condition::kAlways:
      break;
    case Condition::kNotNull:
      make = pointer != nullptr;
      break;
    case Condition::kNotNullAndLength:
      make = pointer != nullptr && FieldSize(field, base) != 0;
      break;
    case Condition::kNonEmptyStringElseNull:
      make = pointer != nullptr && pointer[0] != 0;
      // The server must see no pointer at all; the caller keeps the NULL.
      if (!make) WritePointer(base + field.offset, nullptr);
      break;
  }
  if (make)
    AppendBlock(blocks, static_cast<const void*>(pointer), FieldSize(field, base), field.write_back, nullptr);
  return make;
}

// Per node: its own buffers in field order, then the node itself.
void MakeChainBlocks(const ChainRule& chain, uint8_t* head, BlockList& blocks) {
  for (uint8_t* node = head; node != nullptr; node = ReadPointer(node + chain.link_offset)) {
    for (uint8_t i = 0; i < chain.field_count; ++i) {
      if (chain.fields[i].role == FieldRole::kBuffer) MakeBufferBlock(chain.fields[i], node, blocks);
    }
    AppendBlock(blocks, static_cast<const void*>(node), static_cast<unsigned long>(chain.node_size), false,
                nullptr);
  }
}

void MakeRecordBlock(const RecordRule& rule, const WriteBackRule& back, uint8_t* record, BlockList& blocks) {
  if (back.mode != RecordWriteBack::kMasked) {
    AppendBlock(blocks, static_cast<const void*>(record), static_cast<unsigned long>(rule.size),
                back.mode == RecordWriteBack::kWhole, nullptr);
    return;
  }
  RecordScratch scratch(rule.size);
  uint8_t* mask = scratch.data();
  memset(mask, 0, rule.size);
  for (uint8_t i = 0; i < back.range_count; ++i) {
    const MaskRange& range = back.ranges[i];
    for (uint32_t at = range.first; at <= range.last && at < rule.size; ++at) mask[at] = 0xFF;
  }
  AppendBlock(blocks, static_cast<const void*>(record), static_cast<unsigned long>(rule.size), true,
              static_cast<void*>(mask));
}

// Application addresses must not reach the server: they are zero while the
// record block copies the record, and the caller's bytes are restored
// afterwards whether or not the block could be made.
void MakeRecordBlockWithoutAddresses(const RecordRule& rule, const WriteBackRule& back, uint8_t* record,
                                     BlockList& blocks) {
  RecordScratch scratch(rule.size);
  uint8_t* saved = scratch.data();
  memcpy(saved, record, rule.size);
  for (uint8_t i = 0; i < rule.zeroed_count; ++i) {
    if (rule.zeroed_offsets[i] + 4u <= rule.size) WritePointer(record + rule.zeroed_offsets[i], nullptr);
  }
  try {
    MakeRecordBlock(rule, back, record, blocks);
  } catch (...) {
    memcpy(record, saved, rule.size);
    throw;
  }
  memcpy(record, saved, rule.size);
}

}  // namespace

void MakeClientBlocks(const RecordRule* rule, void* record_pointer, BlockList& blocks) {
  if (rule == nullptr || record_pointer == nullptr) return;
  auto* record = static_cast<uint8_t*>(record_pointer);
  CheckChains(*rule, record);

  bool other_shape = false;
  for (uint8_t i = 0; i < rule->field_count; ++i) {
    const FieldRule& field = rule->fields[i];
    bool made = false;
    if (field.role == FieldRole::kBuffer) {
      made = MakeBufferBlock(field, record, blocks);
    } else if (field.role == FieldRole::kChain && field.chain != nullptr) {
      MakeChainBlocks(*field.chain, ReadPointer(record + field.offset), blocks);
      made = true;
    }
    if (!made && static_cast<int>(i) == rule->shape_field) other_shape = true;
  }

  const WriteBackRule& back = other_shape ? rule->other_write_back : rule->write_back;
  if (rule->zeroed_count == 0) {
    MakeRecordBlock(*rule, back, record, blocks);
  } else {
    MakeRecordBlockWithoutAddresses(*rule, back, record, blocks);
  }
}

}  // namespace qarn::transport
