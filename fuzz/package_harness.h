#pragma once
// The server's side of a parameter package over record bytes that a
// careless or hostile application wrote: the record block holds arbitrary
// bytes, its pointer fields name blocks that exist, blocks that do not, or
// none, and the buffers it points to may point on (node chains, cycles).
//
// Input:
//   selector  one byte: an index into the API-code table, the table's size
//             for the USB printer's server direction, 0xFF for a code given
//             directly in the next 16 bits (0xFFFF: the USB printer again)
//   flags     bit 0 aim: one byte per pointer field of the record type (and
//                   of its chain nodes, which live in the node buffer)
//                   chooses what the field points at
//             bit 1 the record block has 3 * <size byte> bytes instead of
//                   the record type's size
//             bit 2 the buffers get no blocks: every pointer names a block
//                   that does not exist
//             bit 3 the stand-in server also performs the document call
//                   (for the USB printer, its own call)
//   size      one byte, see flag bit 1
//   patches   a count byte (modulo 9), then per patch: target (record or a
//             buffer), offset, and what to point at
//   aims      as many bytes as flag bit 0 asks for
//   record    the rest: the record's bytes, zero-padded
// "What to point at" is a byte modulo 6: one of the four buffers, a buffer
// that has no block, or NULL.
//
// The package is built and released; a thrown system code is a defined
// result, a crash or a leak is not. Shared by the fuzzer and the regression
// tests, which pass their own way of performing the document call.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <memory>
#include <vector>

#include "fuzz/fuzz_bytes.h"
#include "qarnplus/legpack.h"
#include "qarnplus/shrmem.h"
#include "transport/record_rules.h"

namespace qarn::fuzz {

namespace package {

constexpr size_t kBufferCount = 4;
// A short string, an unterminated text, a zeroed area for length cells and
// links, and a chain node.
constexpr size_t kBufferSizes[kBufferCount] = {16, 260, 64, 32};
constexpr size_t kNodeBuffer = 3;
constexpr size_t kRecordRoom = 4096;  // beyond the largest record type
constexpr uint8_t kDirectCode = 0xFF;
constexpr uint16_t kDirectUsbPrinter = 0xFFFF;
constexpr uint8_t kAim = 0x01, kOwnSize = 0x02, kNoBuffers = 0x04, kDocumentCall = 0x08;
constexpr size_t kMaxPatches = 8;

struct Memory {
  alignas(8) uint8_t record[kRecordRoom];
  alignas(8) uint8_t buffers[kBufferCount][260];
  alignas(8) uint8_t absent[16];  // never gets a block
};

inline Memory& OwnMemory() {
  static Memory memory;
  return memory;
}

inline void ResetBuffers(Memory& m) {
  memset(m.buffers, 0, sizeof m.buffers);
  memcpy(m.buffers[0], "document.gw", 12);
  memset(m.buffers[1], 'A', kBufferSizes[1]);
  memset(m.absent, 0, sizeof m.absent);
}

inline void* Target(Memory& m, uint8_t choice) {
  const uint8_t pick = choice % 6;
  if (pick < kBufferCount) return m.buffers[pick];
  return pick == kBufferCount ? m.absent : nullptr;
}

inline void PutPointer(uint8_t* at, const void* value) {
  const auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  memcpy(at, &v, sizeof v);
}

// Which record type the input selects: its rule and code, or the printer.
struct Selection {
  const transport::RecordRule* rule = nullptr;
  uint32_t code = 0;
  bool usb_printer = false;
};

inline Selection Select(FuzzBytes& in) {
  size_t count = 0;
  const transport::ApiCodeEntry* table = transport::ApiCodeTable(&count);
  Selection s;
  const uint8_t selector = in.Byte();
  if (selector == kDirectCode) {
    const uint16_t code = in.Word();
    s.usb_printer = code == kDirectUsbPrinter;
    s.code = code;
    s.rule = transport::FindRecordRule(code);
  } else if (selector % (count + 1) == count) {
    s.usb_printer = true;
  } else {
    s.code = table[selector % (count + 1)].code;
    s.rule = table[selector % (count + 1)].rule;
  }
  if (s.usb_printer) s.rule = &transport::UsbPrinterRule();
  return s;
}

struct Patch {
  uint8_t target;  // 0: the record, 1 + i: buffer i
  size_t offset;
  uint8_t choice;
};

// One aim per pointer field of a record type: the record's fields, then
// those of the chain nodes, which live in the node buffer.
inline std::vector<Patch> Aims(const transport::RecordRule* rule, FuzzBytes& in) {
  std::vector<Patch> aims;
  for (uint8_t i = 0; rule != nullptr && i < rule->field_count; ++i)
    aims.push_back({0, rule->fields[i].offset, in.Byte()});
  for (uint8_t i = 0; rule != nullptr && i < rule->field_count; ++i) {
    const transport::ChainRule* chain = rule->fields[i].chain;
    if (rule->fields[i].role != transport::FieldRole::kChain || chain == nullptr) continue;
    for (uint8_t k = 0; k < chain->field_count; ++k)
      aims.push_back({1 + kNodeBuffer, chain->fields[k].offset, in.Byte()});
  }
  return aims;
}

inline void Apply(Memory& m, size_t record_size, const Patch& patch) {
  uint8_t* base = patch.target == 0 ? m.record : m.buffers[patch.target - 1];
  const size_t size = patch.target == 0 ? record_size : kBufferSizes[patch.target - 1];
  const size_t room = size < kRecordRoom ? size : kRecordRoom;
  if (patch.offset + 4 <= room) PutPointer(base + patch.offset, Target(m, patch.choice));
}

}  // namespace package

// Performs the stand-in server's document call on a record block name and a
// code text; a NULL code text asks for the USB printer record.
using DocumentCall = std::function<void(const char* record_name, const char* code_text)>;

inline void RunPackageInput(const uint8_t* data, size_t size, const DocumentCall& document_call) {
  using namespace package;
  FuzzBytes in(data, size);
  const Selection selection = Select(in);
  const uint8_t flags = in.Byte();
  const uint8_t size_byte = in.Byte();
  const size_t rule_size = selection.rule != nullptr ? selection.rule->size : 16;
  const size_t record_size = (flags & kOwnSize) ? 3u * size_byte : rule_size;

  std::vector<Patch> patches(in.Byte() % (kMaxPatches + 1));
  for (Patch& patch : patches) {
    patch.target = in.Byte() % (kBufferCount + 1);
    const uint8_t offset = in.Byte();
    patch.offset = patch.target == 0 ? offset : offset % (kBufferSizes[patch.target - 1] - 3);
    patch.choice = in.Byte();
  }
  const std::vector<Patch> aims = Aims((flags & kAim) ? selection.rule : nullptr, in);
  const std::string record = in.Rest();

  Memory& m = OwnMemory();
  ResetBuffers(m);
  memset(m.record, 0, sizeof m.record);
  memcpy(m.record, record.data(), record.size() < kRecordRoom ? record.size() : kRecordRoom);
  for (const Patch& patch : aims) Apply(m, kRecordRoom, patch);
  for (const Patch& patch : patches) Apply(m, record_size, patch);

  // The application's side: the blocks exist while the server works.
  std::vector<std::unique_ptr<c_QARNPlus_Shrmem>> blocks;
  try {
    if (!(flags & kNoBuffers)) {
      for (size_t i = 0; i < kBufferCount; ++i)
        blocks.emplace_back(new c_QARNPlus_Shrmem(m.buffers[i], kBufferSizes[i], false, nullptr));
    }
    blocks.emplace_back(new c_QARNPlus_Shrmem(m.record, record_size, false, nullptr));
  } catch (unsigned long) {
    return;  // making the application's blocks is not what is tested here
  }

  char name[16];
  snprintf(name, sizeof name, "%d",
           static_cast<int>(static_cast<int32_t>(reinterpret_cast<uintptr_t>(m.record))));
  char code_text[16];
  snprintf(code_text, sizeof code_text, "%u", static_cast<unsigned>(selection.code));
  try {
    if (selection.usb_printer) {
      c_QARNPlus_Legpack server(reinterpret_cast<USBPrinter*>(m.record), false);
      volatile void* local = server.Local();
      (void)local;
    } else {
      c_QARNPlus_Legpack server(name, code_text);
      volatile void* local = server.Local();
      (void)local;
    }
  } catch (unsigned long) {
    // A block that cannot be opened is reported this way.
  }
  if ((flags & kDocumentCall) && document_call) {
    // The package above rewrote the pointers in shared memory: the document
    // call must see the application's bytes again.
    for (auto& block : blocks) block->Synch();
    document_call(name, selection.usb_printer ? nullptr : code_text);
  }
}

}  // namespace qarn::fuzz
