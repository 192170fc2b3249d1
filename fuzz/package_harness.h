#pragma once
// The server's side of a parameter package over record bytes a hostile
// application wrote: pointer fields name blocks that exist, blocks that do not,
// or none, and buffers may point on (node chains, cycles). Building and
// releasing it may throw a system code, never crash or leak.
// Input: selector byte (API-code table index; the table's size: USB printer;
// 0xFF: a 16-bit code follows, 0xFFFF the USB printer), flags byte (kAim: one
// aim byte per pointer field of the record and its chain nodes; kOwnSize:
// the record block is 3 * size byte; kNoBuffers: no buffer gets a block;
// kDocumentCall: the server also performs the call), size byte, patch count
// (modulo 9) and per patch target, offset and what to point at, the aims,
// then the record's bytes. "What to point at" modulo 6 picks one of the four
// buffers, a buffer without a block, or NULL.

#include <stdint.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_bytes.h"
#include "qarnplus/legpack.h"
#include "qarnplus/shrmem.h"
#include "transport/record_rules.h"

namespace qarn::fuzz {

namespace package {

constexpr size_t kBufferCount = 4;
// A short string, an unterminated text, zeroed room for length cells and links, a node.
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
  const size_t index = selector % (count + 1);
  if (selector == kDirectCode) {
    s.code = in.Word();
    s.rule = transport::FindRecordRule(s.code);
  } else if (index < count) {
    s.code = table[index].code;
    s.rule = table[index].rule;
  }
  s.usb_printer = selector == kDirectCode ? s.code == kDirectUsbPrinter : index == count;
  if (s.usb_printer) s.rule = &transport::UsbPrinterRule();
  return s;
}

struct Patch {
  uint8_t target;  // 0: the record, 1 + i: buffer i
  size_t offset;
  uint8_t choice;
};

// One aim per pointer field: the record's, then its chain nodes' (node buffer).
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
  const uint8_t pick = patch.choice % 6;  // a buffer, the one without a block, or NULL
  const void* target = pick < kBufferCount ? m.buffers[pick] : nullptr;
  if (pick == kBufferCount) target = m.absent;
  const auto pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target));
  if (patch.offset + 4 <= size) memcpy(base + patch.offset, &pointer, sizeof pointer);
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
  memset(&m, 0, sizeof m);
  memcpy(m.buffers[0], "document.gw", 12);
  memset(m.buffers[1], 'A', kBufferSizes[1]);
  memcpy(m.record, record.data(), record.size() < kRecordRoom ? record.size() : kRecordRoom);
  for (const Patch& patch : aims) Apply(m, kRecordRoom, patch);
  for (const Patch& patch : patches) Apply(m, record_size, patch);

  // The application's side: the blocks exist while the server works.
  std::vector<std::unique_ptr<c_QARNPlus_Shrmem>> blocks;
  try {
    for (size_t i = 0; !(flags & kNoBuffers) && i < kBufferCount; ++i)
      blocks.emplace_back(new c_QARNPlus_Shrmem(m.buffers[i], kBufferSizes[i], false, nullptr));
    blocks.emplace_back(new c_QARNPlus_Shrmem(m.record, record_size, false, nullptr));
  } catch (unsigned long) {
    return;  // making the application's blocks is not what is tested here
  }

  // Block names are the record's address as a signed number.
  const std::string name = std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(m.record)));
  const std::string code_text = std::to_string(selection.code);
  try {  // a block that cannot be opened is reported by a thrown code
    if (selection.usb_printer) {
      c_QARNPlus_Legpack server(reinterpret_cast<USBPrinter*>(m.record), false);
    } else {
      c_QARNPlus_Legpack server(name.c_str(), code_text.c_str());
    }
  } catch (unsigned long) {
  }
  if ((flags & kDocumentCall) && document_call) {
    // The package rewrote the pointers in shared memory: send the application's again.
    for (auto& block : blocks) block->Synch();
    document_call(name.c_str(), selection.usb_printer ? nullptr : code_text.c_str());
  }
}

}  // namespace qarn::fuzz
