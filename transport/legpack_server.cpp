// The server direction of the package engine.
#include "platform/platform.h"
#include "transport/legpack_engine.h"

namespace qarn::transport {
namespace {

// The application's condition, evaluated on the shared record. A length that
// lies in the record is checked as the application checked it; a size that
// lies behind a pointer (string, length pair, length cell) cannot be read
// here before that pointer is rewritten, so only the pointer is tested.
bool OpensOnServer(const FieldRule& field, const uint8_t* base, const uint8_t* value) {
  switch (field.condition) {
    case Condition::kAlways:
      return true;
    case Condition::kNotNull:
    case Condition::kNonEmptyStringElseNull:
      return value != nullptr;
    case Condition::kNotNullAndLength:
      if (value == nullptr) return false;
      switch (field.size) {
        case SizeRule::kLength8:
        case SizeRule::kLength16:
        case SizeRule::kLength32:
        case SizeRule::kFixed:
        case SizeRule::kLength16x2:
          return FieldSize(field, base) != 0;
        default:
          return true;
      }
  }
  return true;
}

// Opens the block named by the field's value (0: an empty block), appends it
// and stores the view's address in the field. Returns that address; NULL also
// when the condition leaves the field as it is.
uint8_t* RemapField(const FieldRule& field, uint8_t* base, BlockList& blocks) {
  const uint8_t* value = ReadPointer(base + field.offset);
  if (!OpensOnServer(field, base, value)) return nullptr;
  c_QARNPlus_Shrmem& block = AppendBlock(blocks, static_cast<const void*>(value));
  WritePointer(base + field.offset, block.Local());
  return static_cast<uint8_t*>(block.Local());
}

// Every field of every node in offset order, the link included; the walk
// continues at the link's new (server) address. The client refuses longer
// chains, so a longer one here comes from a damaged or hostile record.
void OpenChain(const ChainRule& chain, uint8_t* head, BlockList& blocks) {
  uint32_t nodes = 0;
  for (uint8_t* node = head; node != nullptr; node = ReadPointer(node + chain.link_offset)) {
    if (++nodes > kMaxChainNodes) throw static_cast<unsigned long>(os::kErrorInvalidParameter);
    for (uint8_t i = 0; i < chain.field_count; ++i) RemapField(chain.fields[i], node, blocks);
  }
}

}  // namespace

void OpenServerBlocks(const RecordRule* rule, void* record_pointer, BlockList& blocks) {
  if (rule == nullptr || record_pointer == nullptr) return;
  auto* record = static_cast<uint8_t*>(record_pointer);
  for (uint8_t i = 0; i < rule->field_count; ++i) {
    const FieldRule& field = rule->fields[i];
    uint8_t* view = RemapField(field, record, blocks);
    if (field.role == FieldRole::kChain && field.chain != nullptr) OpenChain(*field.chain, view, blocks);
  }
}

}  // namespace qarn::transport
