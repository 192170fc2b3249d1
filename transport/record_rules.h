#pragma once
// The record catalogue as data. Every record type of the document interface
// is one RecordRule: its size, its pointer fields in ascending offset order
// (with a size rule, a condition and a write-back mode each), the write-back
// of the record block, and the few special shapes. The package engine
// (legpack_engine.cpp) walks these rules on both sides of the call, so the
// client and the server always agree on the blocks.

#include <stddef.h>
#include <stdint.h>

namespace qarn::transport {

// How the size of a buffer block is found.
enum class SizeRule : uint8_t {
  kString,         // strlen + 1; NULL gives 0
  kLength8,        // unsigned 8-bit length at record offset `arg`
  kLength16,       // unsigned 16-bit length at record offset `arg`
  kLength32,       // unsigned 32-bit length at record offset `arg`
  kFixed,          // the constant `arg`
  kLength16x2,     // 2 * unsigned 16-bit element count at record offset `arg`
  kLengthPairSum,  // sum of the two 16-bit values behind the pointer at offset `arg`
  kLengthCell32,   // the 32-bit value behind the pointer at offset `arg`
};

// Width in bytes of the record's length field that a size rule reads at
// `arg`; 0 for rules that read no length field of the record.
constexpr uint32_t LengthFieldWidth(SizeRule size) {
  switch (size) {
    case SizeRule::kLength8:
      return 1;
    case SizeRule::kLength16:
    case SizeRule::kLength16x2:
      return 2;
    case SizeRule::kLength32:
      return 4;
    default:
      return 0;
  }
}

// When a block is made (client) or opened (server) for a pointer field.
enum class Condition : uint8_t {
  kAlways,                  // always; a NULL pointer gives an empty block
  kNotNull,                 // only for a non-NULL pointer, on both sides
  kNotNullAndLength,        // non-NULL pointer and a non-zero size, on both sides
  kNonEmptyStringElseNull,  // client: non-NULL, non-empty string, else the
                            // caller's field is set to NULL; server: non-NULL
};

// What a field of a chain node is.
enum class FieldRole : uint8_t {
  kBuffer,      // a buffer or string with its own block
  kChain,       // head of a node chain (record) or the next link (node)
  kServerOnly,  // no client block; the server opens it like any pointer
};

struct ChainRule;

struct FieldRule {
  uint16_t offset;
  SizeRule size;
  uint32_t arg;
  Condition condition;
  bool write_back;  // true: whole block back; false: nothing back
  FieldRole role;
  const ChainRule* chain;  // for role kChain at record level
};

struct ChainRule {
  uint16_t node_size;
  uint16_t link_offset;     // offset of the next link inside a node
  const FieldRule* fields;  // node fields in ascending offset, link included
  uint8_t field_count;
};

enum class RecordWriteBack : uint8_t { kNone, kWhole, kMasked };

// Mask bytes [first, last] are 0xFF; all others 0x00.
struct MaskRange {
  uint16_t first;
  uint16_t last;
};

struct WriteBackRule {
  RecordWriteBack mode;
  const MaskRange* ranges;
  uint8_t range_count;
};

struct RecordRule {
  const char* name;
  uint16_t size;
  const FieldRule* fields;  // ascending offset
  uint8_t field_count;
  WriteBackRule write_back;
  // Two-shape records: when field `shape_field` (an index into `fields`)
  // gets no block, the record block uses `other_write_back` instead.
  int8_t shape_field;  // -1: one shape
  WriteBackRule other_write_back;
  // Caller-side addresses: 4-byte fields sent as zero and restored.
  const uint16_t* zeroed_offsets;
  uint8_t zeroed_count;
};

// The API-code table. Returns NULL for 0 and for codes not in the table.
const RecordRule* FindRecordRule(uint32_t code);
// The rule of the USB printer record, which has no API code.
const RecordRule& UsbPrinterRule();

// Every (code, rule) pair, for tests and tools.
struct ApiCodeEntry {
  uint32_t code;
  const RecordRule* rule;
};
const ApiCodeEntry* ApiCodeTable(size_t* count);

// Longest node chain the engine accepts before it refuses the record.
constexpr uint32_t kMaxChainNodes = 4096;

}  // namespace qarn::transport
