#pragma once
// Short spellings for the rows of the record catalogue, so that each row reads
// like the record's layout: String(2), Length8(6, 10), Fixed(16, 260) ...
// Every helper is constexpr, so the whole catalogue is constant data.

#include <stddef.h>

#include "qarnplus/record_list.h"
#include "transport/record_rules.h"

namespace qarn::transport {

// One rule object per record type, defined in the catalogue_*.cpp files.
#define QARN_DECLARE_RECORD_RULE(Type) extern const RecordRule k##Type##Rule;
QARN_RECORD_TYPES(QARN_DECLARE_RECORD_RULE)
#undef QARN_DECLARE_RECORD_RULE

namespace rows {

constexpr FieldRule Field(uint16_t offset, SizeRule size, uint32_t arg, bool back = true) {
  return FieldRule{offset, size, arg, Condition::kAlways, back, FieldRole::kBuffer, nullptr};
}

// A zero-terminated string: strlen + 1 bytes; back whole unless `back` is false.
constexpr FieldRule String(uint16_t offset, bool back = true) {
  return Field(offset, SizeRule::kString, 0, back);
}
// A buffer whose byte count is the 8/16/32-bit length field at `length_offset`.
constexpr FieldRule Length8(uint16_t offset, uint16_t length_offset) {
  return Field(offset, SizeRule::kLength8, length_offset);
}
constexpr FieldRule Length16(uint16_t offset, uint16_t length_offset) {
  return Field(offset, SizeRule::kLength16, length_offset);
}
constexpr FieldRule Length32(uint16_t offset, uint16_t length_offset) {
  return Field(offset, SizeRule::kLength32, length_offset);
}
// A buffer of a fixed byte count.
constexpr FieldRule Fixed(uint16_t offset, uint32_t bytes) { return Field(offset, SizeRule::kFixed, bytes); }

// The same field, made (client) and opened (server) only under `condition`.
constexpr FieldRule Only(Condition condition, FieldRule field) {
  field.condition = condition;
  return field;
}

// The head of a node chain (in a record) or the next link (in a node).
constexpr FieldRule ChainLink(uint16_t offset, uint16_t node_size, const ChainRule* chain = nullptr) {
  return FieldRule{offset, SizeRule::kFixed, node_size, Condition::kAlways, false, FieldRole::kChain, chain};
}
// A pointer that gets no client block but that the server opens by value.
constexpr FieldRule ServerOnlyLink(uint16_t offset) {
  return FieldRule{offset, SizeRule::kFixed, 0, Condition::kAlways, false, FieldRole::kServerOnly, nullptr};
}

constexpr WriteBackRule kNoBack{RecordWriteBack::kNone, nullptr, 0};
constexpr WriteBackRule kWholeBack{RecordWriteBack::kWhole, nullptr, 0};
template <size_t N>
constexpr WriteBackRule Masked(const MaskRange (&ranges)[N]) {
  return WriteBackRule{RecordWriteBack::kMasked, ranges, static_cast<uint8_t>(N)};
}

// A record with pointer fields (ascending offsets) and one shape.
template <size_t N>
constexpr RecordRule Record(const char* name, uint16_t size, const FieldRule (&fields)[N],
                            WriteBackRule write_back) {
  return RecordRule{name, size, fields, static_cast<uint8_t>(N), write_back, -1, kNoBack, nullptr, 0};
}
// A record without pointer fields: one block, the record itself.
constexpr RecordRule Inline(const char* name, uint16_t size, WriteBackRule write_back) {
  return RecordRule{name, size, nullptr, 0, write_back, -1, kNoBack, nullptr, 0};
}
// A record whose field `shape_field` may get no block; the record block then
// uses `without` instead of `with`.
template <size_t N>
constexpr RecordRule TwoShapes(const char* name, uint16_t size, const FieldRule (&fields)[N],
                               int8_t shape_field, WriteBackRule with, WriteBackRule without) {
  return RecordRule{name, size, fields, static_cast<uint8_t>(N), with, shape_field, without, nullptr, 0};
}
// A record that holds application addresses at `zeroed`: they reach the
// server as zero, and the record block has no write-back.
template <size_t N, size_t Z>
constexpr RecordRule WithCallerAddresses(const char* name, uint16_t size, const FieldRule (&fields)[N],
                                         const uint16_t (&zeroed)[Z]) {
  return RecordRule{name, size,    fields, static_cast<uint8_t>(N), kNoBack,
                    -1,   kNoBack, zeroed, static_cast<uint8_t>(Z)};
}
template <size_t Z>
constexpr RecordRule WithCallerAddresses(const char* name, uint16_t size, const uint16_t (&zeroed)[Z]) {
  return RecordRule{name, size, nullptr, 0, kNoBack, -1, kNoBack, zeroed, static_cast<uint8_t>(Z)};
}

}  // namespace rows
}  // namespace qarn::transport
