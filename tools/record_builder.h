#pragma once
// Builds a parameter record of any type from the rule table and FIELD=VALUE
// settings, with a buffer of the right size behind every pointer field, so
// that `qarn call` needs no code of its own per record type.
//
// Settings (offsets are record offsets, decimal or 0x hex):
//   @OFF=TEXT       the string of the pointer field at OFF (or text copied
//                   into its buffer)
//   len@OFF=N       the byte count of the buffer at OFF; its length field is
//                   set to match (N = 0 keeps the pointer but sends no bytes)
//   null@OFF        the pointer field at OFF stays NULL
//   hex@OFF=HEX     record bytes from OFF, e.g. hex@2=0a0b
//   u8@OFF=N, u16@OFF=N, u32@OFF=N   a little-endian number at OFF
// Pointer fields and length fields can only be set through the first three.

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "transport/record_rules.h"

namespace qarn::tool {

// One buffer the builder owns: the record, a chain node or a field's buffer.
struct BuiltBuffer {
  std::string label;  // "record", "@14 buffer", "node 2", "node 2 @4 string"
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size;
};

class RecordBuilder {
 public:
  // False with a one-line reason in *error for a bad setting.
  bool Build(const transport::RecordRule& rule, uint32_t nodes, const std::vector<std::string>& settings,
             std::string* error);

  uint8_t* record() const { return buffers_.empty() ? nullptr : buffers_.front().bytes.get(); }
  // The buffer that starts at `p`, or NULL.
  const BuiltBuffer* Find(const void* p) const;
  const std::vector<BuiltBuffer>& buffers() const { return buffers_; }

 private:
  struct Setting;
  uint8_t* Allocate(const std::string& label, uint32_t size);
  bool FillFields(const transport::FieldRule* fields, uint8_t count, uint8_t* base, const std::string& prefix,
                  const std::vector<Setting>& settings, uint32_t nodes, std::string* error);
  bool FillDependentFields(const transport::FieldRule* fields, uint8_t count, uint8_t* base,
                           const std::string& prefix, const std::vector<Setting>& settings,
                           std::string* error);
  bool BuildChain(const transport::ChainRule& chain, uint8_t* head_field, uint32_t nodes, std::string* error);

  std::vector<BuiltBuffer> buffers_;
};

}  // namespace qarn::tool
