// The stand-in server's document calls. A call opens the client's package,
// "performs" the call by writing a recognisable pattern into every byte the
// record and its buffers carry (pointer fields excepted: they hold this
// process's addresses), releases the package and replies. A client can then
// see exactly which bytes its package let come back.
//
// The pattern (documented for clients in server/README.md):
//   record byte at offset i                 0x80 | ((code + i) & 0x7F)
//   byte j of the buffer of the field at f  0x80 | ((code + f + 1 + j) & 0x7F)
// where f is the field's offset in the record or in its chain node; strings
// keep their terminator; chain nodes get the record rule on their own bytes.
// SAPGetErrMes1 (code 8) also writes its message (see WriteErrorMessage).
// The USB printer record has no code: its pattern uses code 0.
#include "server/document.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "qarnplus/legpack.h"
#include "transport/api_code_text.h"
#include "transport/block_view.h"
#include "transport/legpack_engine.h"
#include "transport/record_rules.h"

namespace qarn::server {
namespace {

using transport::FieldRule;
using transport::RecordRule;

constexpr uint32_t kCodeGetErrMes1 = 8;
constexpr uint32_t kUsbPrinterPatternCode = 0;      // the record has no API code
constexpr unsigned long kErrorInvalidFunction = 1;  // the code selects no record

unsigned char PatternByte(uint32_t code, uint32_t place, uint32_t index) {
  return static_cast<unsigned char>(0x80u | ((code + place + index) & 0x7Fu));
}

// The views of the package's blocks and their sizes: only bytes behind
// these addresses are ever written, so a field the package left unmapped (a
// client pointer kept by a condition) is never followed, and a length that
// claims more than the client's block holds is not believed.
class Views {
 public:
  explicit Views(const std::vector<c_QARNPlus_Shrmem*>& blocks) {
    for (c_QARNPlus_Shrmem* block : blocks) {
      if (block == nullptr || block->Local() == nullptr) continue;
      views_.push_back({block->Local(), BlockViewSize(*block)});
    }
    std::sort(views_.begin(), views_.end());
  }
  bool Has(const void* p) const { return SizeOf(p) != 0; }
  // The usable bytes of the view at `p`; 0 when `p` is no view.
  size_t SizeOf(const void* p) const {
    if (p == nullptr) return 0;
    const auto it = std::lower_bound(views_.begin(), views_.end(), std::pair<const void*, size_t>{p, 0});
    return it != views_.end() && it->first == p ? it->second : 0;
  }

 private:
  std::vector<std::pair<const void*, size_t>> views_;
};

struct Span {
  uint8_t* bytes;
  uint32_t size;
  uint32_t place;
  bool keep_terminator;
};

// Where the buffer of `field` lies and how big it is, as the client sized it.
bool BufferSpan(const FieldRule& field, const uint8_t* base, const Views& views, Span* span) {
  uint8_t* buffer = transport::ReadPointer(base + field.offset);
  if (!views.Has(buffer)) return false;
  if ((field.size == transport::SizeRule::kLengthPairSum ||
       field.size == transport::SizeRule::kLengthCell32) &&
      !views.Has(transport::ReadPointer(base + field.arg))) {
    return false;
  }
  const bool text = field.size == transport::SizeRule::kString;
  // A string is searched for its terminator within its view, however long.
  const size_t room = views.SizeOf(buffer);
  const uint32_t size = transport::FieldSize(field, base, text ? static_cast<uint32_t>(room) : UINT32_MAX);
  if (size > room) return false;
  *span = Span{buffer, size, field.offset + 1u, text && size != 0 && buffer[size - 1] == 0};
  return true;
}

bool IsPointerByte(const FieldRule* fields, uint8_t count, uint32_t at) {
  for (uint8_t i = 0; i < count; ++i) {
    if (at >= fields[i].offset && at < fields[i].offset + 4u) return true;
  }
  return false;
}

void FillOwnBytes(uint8_t* base, uint32_t size, const FieldRule* fields, uint8_t count, uint32_t code) {
  for (uint32_t at = 0; at < size; ++at) {
    if (!IsPointerByte(fields, count, at)) base[at] = PatternByte(code, 0, at);
  }
}

// Every buffer is sized before any is written: a length cell or pair is a
// buffer of its own and gets the pattern too. Returns the chain nodes filled.
size_t FillRecord(const RecordRule& rule, uint8_t* record, uint32_t code, const Views& views) {
  std::vector<Span> spans;
  std::vector<uint8_t*> nodes;
  for (uint8_t i = 0; i < rule.field_count; ++i) {
    const FieldRule& field = rule.fields[i];
    Span span;
    if (field.role == transport::FieldRole::kBuffer && BufferSpan(field, record, views, &span))
      spans.push_back(span);
    if (field.role != transport::FieldRole::kChain || field.chain == nullptr) continue;
    const transport::ChainRule& chain = *field.chain;
    uint8_t* node = transport::ReadPointer(record + field.offset);
    for (uint32_t n = 0; views.SizeOf(node) >= chain.node_size && n < transport::kMaxChainNodes; ++n) {
      nodes.push_back(node);
      for (uint8_t k = 0; k < chain.field_count; ++k) {
        if (chain.fields[k].role == transport::FieldRole::kBuffer &&
            BufferSpan(chain.fields[k], node, views, &span)) {
          spans.push_back(span);
        }
      }
      node = transport::ReadPointer(node + chain.link_offset);
    }
  }
  for (const Span& span : spans) {
    const uint32_t count = span.keep_terminator ? span.size - 1 : span.size;
    for (uint32_t j = 0; j < count; ++j) span.bytes[j] = PatternByte(code, span.place, j);
  }
  for (uint8_t i = 0; i < rule.field_count; ++i) {
    const FieldRule& field = rule.fields[i];
    if (field.role != transport::FieldRole::kChain || field.chain == nullptr) continue;
    for (uint8_t* node : nodes)
      FillOwnBytes(node, field.chain->node_size, field.chain->fields, field.chain->field_count, code);
  }
  FillOwnBytes(record, rule.size, rule.fields, rule.field_count, code);
  return nodes.size();
}

// SAPGetErrMes1: "QARN error <n>" for the 16-bit input value n at offset 0,
// cut to the buffer and zero-terminated when a buffer came; offset 6 gets the
// room the whole message needs (terminator included) in either shape.
void WriteErrorMessage(uint8_t* record, const Views& views, uint16_t input) {
  char message[32];
  const int length = snprintf(message, sizeof message, "QARN error %u", static_cast<unsigned>(input));
  const uint32_t needed = static_cast<uint32_t>(length) + 1;
  uint8_t* buffer = transport::ReadPointer(record + 2);
  uint32_t room;
  memcpy(&room, record + 6, sizeof room);
  if (views.Has(buffer) && room != 0) {
    const uint32_t held = static_cast<uint32_t>(std::min<size_t>(room, views.SizeOf(buffer)));
    const uint32_t copied = std::min(needed - 1, held - 1);
    memcpy(buffer, message, copied);
    buffer[copied] = 0;
  }
  memcpy(record + 6, &needed, sizeof needed);
}

// `nodes` is reported only for records with a chain the reply counts.
int Reply(char* reply, size_t capacity, unsigned long error, size_t blocks, const size_t* nodes) {
  if (reply == nullptr || capacity == 0) return 0;
  char counts[96];
  int length = snprintf(counts, sizeof counts, "\t<stringVal val=\"%u\" name=\"blocks\"/>\n",
                        static_cast<unsigned>(blocks));
  if (nodes != nullptr) {
    snprintf(counts + length, sizeof counts - length, "\t<stringVal val=\"%u\" name=\"nodes\"/>\n",
             static_cast<unsigned>(*nodes));
  }
  if (error == 0) {
    return snprintf(reply, capacity, "<QARN_RET>\n\t<boolVal val=\"true\" name=\"SUCCESS\"/>\n%s</QARN_RET>",
                    counts);
  }
  const char* text = error == kErrorInvalidFunction ? "the API code selects no record"
                                                    : "the record's package could not be opened";
  return snprintf(reply, capacity,
                  "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"%s\" "
                  "name=\"error\"/>\n\t<intVal val=\"%lu\" name=\"code\"/>\n%s</QARN_RET>",
                  text, error, counts);
}

// Runs `call`, turning what a package constructor throws into its error code.
template <typename Call>
unsigned long Guarded(Call call) {
  try {
    return call();
  } catch (unsigned long code_thrown) {
    return code_thrown == 0 ? static_cast<unsigned long>(os::kErrorGenFailure) : code_thrown;
  } catch (...) {
    return os::kErrorNotEnoughMemory;
  }
}

}  // namespace

bool PerformDocumentCall(const char* record_name, const char* code, char* reply, size_t capacity) {
  size_t blocks = 0;
  const unsigned long error = Guarded([&]() -> unsigned long {
    c_QARNPlus_Legpack package(record_name, code);
    blocks = package.m_pBlocks->size();
    auto* record = static_cast<uint8_t*>(package.Local());
    const uint32_t number = transport::ParseApiCodeText(code);
    const RecordRule* rule = transport::FindRecordRule(number);
    const Views views(*package.m_pBlocks);
    if (record == nullptr) return os::kErrorInvalidParameter;
    if (rule == nullptr) return kErrorInvalidFunction;
    // The client's record block may be too short for its type.
    if (views.SizeOf(record) < rule->size) return os::kErrorInvalidParameter;
    uint16_t input;
    memcpy(&input, record, sizeof input);
    FillRecord(*rule, record, number, views);
    if (number == kCodeGetErrMes1) WriteErrorMessage(record, views, input);
    return 0;
  });
  Reply(reply, capacity, error, blocks, nullptr);
  return error == 0;
}

bool PerformUsbPrinterCall(int32_t printer, char* reply, size_t capacity) {
  size_t blocks = 0;
  size_t nodes = 0;
  const unsigned long error = Guarded([&]() -> unsigned long {
    // The application's pointer value: the package opens blocks by it and
    // never dereferences it.
    auto* value = reinterpret_cast<USBPrinter*>(static_cast<uintptr_t>(static_cast<uint32_t>(printer)));
    c_QARNPlus_Legpack package(value, false);
    blocks = package.m_pBlocks->size();
    auto* record = static_cast<uint8_t*>(package.Local());
    const RecordRule& rule = transport::UsbPrinterRule();
    const Views views(*package.m_pBlocks);
    if (record == nullptr || views.SizeOf(record) < rule.size) return os::kErrorInvalidParameter;
    nodes = FillRecord(rule, record, kUsbPrinterPatternCode, views);
    return 0;
  });
  Reply(reply, capacity, error, blocks, &nodes);
  return error == 0;
}

}  // namespace qarn::server
