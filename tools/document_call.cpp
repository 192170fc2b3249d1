// qarn's document call: package, request, and a byte comparison afterwards.
#include "tools/document_call.h"

#include <stdio.h>
#include <string.h>

#include <memory>

#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "tools/command.h"

namespace qarn::tool {
namespace {

// The reply the library gives when the exchange with the server failed.
constexpr char kServiceOffValue[] = "val=\"Service Off\"";
// Bytes of a range printed in hex before the rest is only counted.
constexpr uint32_t kHexShown = 16;

std::vector<ByteRange> Runs(const uint8_t* flags, uint32_t size) {
  std::vector<ByteRange> runs;
  for (uint32_t at = 0; at < size; ++at) {
    if (flags[at] == 0) continue;
    if (!runs.empty() && runs.back().last + 1 == at) {
      runs.back().last = at;
    } else {
      runs.push_back({at, at});
    }
  }
  return runs;
}

std::string RangeText(const ByteRange& range) {
  return range.first == range.last ? std::to_string(range.first)
                                   : std::to_string(range.first) + ".." + std::to_string(range.last);
}

std::string RangesText(const std::vector<ByteRange>& ranges) {
  std::string text;
  for (const ByteRange& range : ranges) text += (text.empty() ? "" : " ") + RangeText(range);
  return text;
}

std::string HexText(const uint8_t* bytes, uint32_t count) {
  std::string text;
  char hex[4];
  for (uint32_t i = 0; i < count && i < kHexShown; ++i) {
    snprintf(hex, sizeof hex, "%s%02x", i == 0 ? "" : " ", bytes[i]);
    text += hex;
  }
  if (count > kHexShown) text += " ... (" + std::to_string(count) + " bytes)";
  return text;
}

// The bytes as quoted text when they are all printable, else empty.
std::string PrintableText(const uint8_t* bytes, uint32_t count) {
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) return "";
    text += static_cast<char>(bytes[i]);
  }
  return "\"" + text + "\"";
}

std::string WriteBackText(const BlockOutcome& block) {
  if (!block.merge) return "write-back none";
  if (block.mask.empty()) return "write-back whole";
  return "write-back bytes " + RangesText(block.mask);
}

std::string Unescape(const std::string& text) {
  static const struct {
    const char* entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& e : kEntities) {
      if (text.compare(i, strlen(e.entity), e.entity) == 0) {
        out += e.c;
        i += strlen(e.entity) - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

std::string BlockCount(const CallOutcome& outcome) {
  return std::to_string(outcome.blocks.size()) + (outcome.blocks.size() == 1 ? " block" : " blocks");
}

// The (name, value) pairs of a QARN_RET text, values unescaped.
std::vector<std::pair<std::string, std::string>> ReplyValues(const std::string& reply) {
  std::vector<std::pair<std::string, std::string>> values;
  for (size_t at = reply.find("val=\""); at != std::string::npos; at = reply.find("val=\"", at)) {
    const size_t value_end = reply.find('"', at + 5);
    const size_t name_at = reply.find("name=\"", value_end);
    if (value_end == std::string::npos || name_at == std::string::npos) break;
    const size_t name_end = reply.find('"', name_at + 6);
    if (name_end == std::string::npos) break;
    values.emplace_back(reply.substr(name_at + 6, name_end - name_at - 6),
                        Unescape(reply.substr(at + 5, value_end - at - 5)));
    at = name_end;
  }
  return values;
}

std::string BlockName(const void* p) {
  return std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)));
}

}  // namespace

bool ResolveTarget(const std::string& text, CallTarget* target) {
  if (text == "usb" || text == "USBPrinter") {
    *target = CallTarget{&transport::UsbPrinterRule(), 0};
    return true;
  }
  size_t count = 0;
  const transport::ApiCodeEntry* table = transport::ApiCodeTable(&count);
  long long code = 0;
  const bool numeric = ParseNumber(text, 1, UINT32_MAX, &code);
  for (size_t i = 0; i < count; ++i) {
    if ((numeric && table[i].code == code) || (!numeric && text == table[i].rule->name)) {
      *target = CallTarget{table[i].rule, table[i].code};
      return true;
    }
  }
  return false;
}

bool ComesBack(const BlockOutcome& block, uint32_t at) {
  if (!block.merge) return false;
  if (block.mask.empty()) return true;
  for (const ByteRange& range : block.mask) {
    if (at >= range.first && at <= range.last) return true;
  }
  return false;
}

bool PerformDocumentCall(void* session, const CallTarget& target, RecordBuilder& builder,
                         CallOutcome* outcome, std::string* error) {
  *outcome = CallOutcome{};
  std::unique_ptr<c_QARNPlus_Legpack> package;
  try {
    if (target.code == 0) {
      package = std::make_unique<c_QARNPlus_Legpack>(reinterpret_cast<USBPrinter*>(builder.record()), true);
    } else {
      package =
          std::make_unique<c_QARNPlus_Legpack>(reinterpret_cast<SedApiPara*>(builder.record()), target.code);
    }
  } catch (unsigned long code) {
    *error = "the record's package could not be made (system error " + std::to_string(code) + ")";
    return false;
  }
  // What each block holds now, in the caller's buffers, and how it may come back.
  std::vector<std::vector<uint8_t>> before;
  for (const c_QARNPlus_Shrmem* block : *package->m_pBlocks) {
    BlockOutcome result;
    const auto* local = static_cast<const uint8_t*>(block->m_pLocal);
    const BuiltBuffer* owner = builder.Find(local);
    result.label = owner != nullptr ? owner->label : local == nullptr ? "empty block" : "unknown block";
    result.size = local != nullptr ? static_cast<uint32_t>(block->m_nSize) : 0;
    result.merge = block->m_bMerge;
    if (block->m_bMerge && block->m_pMask != nullptr) result.mask = Runs(block->m_pMask, result.size);
    before.emplace_back(local, local + result.size);
    outcome->blocks.push_back(std::move(result));
  }
  for (const BuiltBuffer& buffer : builder.buffers()) {
    bool sent = false;
    for (const c_QARNPlus_Shrmem* block : *package->m_pBlocks) sent |= block->m_pLocal == buffer.bytes.get();
    if (!sent) outcome->unsent.push_back(buffer.label);
  }
  std::vector<const uint8_t*> locals;
  for (const c_QARNPlus_Shrmem* block : *package->m_pBlocks)
    locals.push_back(static_cast<const uint8_t*>(block->m_pLocal));

  // The USB printer record has no code: the server's "usb" verb opens it
  // through its own constructor.
  outcome->request = target.code != 0
                         ? "call " + BlockName(builder.record()) + " " + std::to_string(target.code)
                         : "usb " + BlockName(builder.record());
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, outcome->request.c_str(), &reply, nullptr);
  outcome->reply = reply != nullptr ? reply : "";
  outcome->answered = reply != nullptr && strstr(reply, kServiceOffValue) == nullptr;
  outcome->succeeded = outcome->answered && strstr(reply, "val=\"true\" name=\"SUCCESS\"") != nullptr;
  package.reset();  // merges the server's results back into the buffers

  for (size_t i = 0; i < outcome->blocks.size(); ++i) {
    BlockOutcome& block = outcome->blocks[i];
    block.after.assign(locals[i], locals[i] + block.size);
    std::vector<uint8_t> differs(block.size);
    for (uint32_t at = 0; at < block.size; ++at) differs[at] = block.after[at] != before[i][at];
    block.changed = Runs(differs.data(), block.size);
  }
  return true;
}

std::string ReadableReply(const std::string& reply) {
  std::string text;
  for (const auto& [name, value] : ReplyValues(reply))
    text += (text.empty() ? "" : ", ") + name + "=" + value;
  return text.empty() ? reply : text;
}

std::string ReplyValue(const std::string& reply, const std::string& name) {
  for (const auto& [found, value] : ReplyValues(reply)) {
    if (found == name) return value;
  }
  return "";
}

bool ReplyIsComplete(const std::string& reply) {
  static const char kClose[] = "</QARN_RET>";
  size_t end = reply.size();
  if (end > 0 && reply[end - 1] == '\n') --end;
  if (end < sizeof kClose - 1 || reply.compare(end - (sizeof kClose - 1), sizeof kClose - 1, kClose) != 0)
    return false;
  // Every element line between the opening and closing tags ends its element.
  const size_t first = reply.find('\n');
  for (size_t at = first; at != std::string::npos && at + 1 < end - (sizeof kClose - 1);) {
    const size_t next = reply.find('\n', at + 1);
    if (next == std::string::npos || next < at + 3 || reply.compare(next - 2, 2, "/>") != 0) return false;
    at = next;
  }
  return true;
}

void PrintCallReport(const CallTarget& target, const CallOutcome& outcome) {
  const char* name = target.rule->name;
  if (target.code != 0) {
    printf("%s, API code %u: %s made here\n", name, static_cast<unsigned>(target.code),
           BlockCount(outcome).c_str());
  } else {
    printf("%s, no API code: %s made here\n", name, BlockCount(outcome).c_str());
  }
  printf("> %s\n", outcome.request.c_str());
  printf("reply: %s\n", ReadableReply(outcome.reply).c_str());
  const std::string opened = ReplyValue(outcome.reply, "blocks");
  if (!opened.empty() && opened != std::to_string(outcome.blocks.size())) {
    printf(
        "  (the server's blocks=%s counts the views it opened: one per pointer it followed, so a node\n"
        "   reached twice counts twice and a NULL link counts as an empty view)\n",
        opened.c_str());
  }
  for (const BlockOutcome& block : outcome.blocks) {
    printf("  %-18s %4u bytes, %s\n", block.label.c_str(), static_cast<unsigned>(block.size),
           WriteBackText(block).c_str());
    if (block.changed.empty()) printf("      nothing changed\n");
    for (const ByteRange& changed : block.changed) {
      // Split each changed run where it leaves or enters the write-back.
      uint32_t first = changed.first;
      for (uint32_t at = changed.first; at <= changed.last; ++at) {
        if (at < changed.last && ComesBack(block, at + 1) == ComesBack(block, first)) continue;
        const uint8_t* bytes = block.after.data() + first;
        const uint32_t count = at - first + 1;
        const std::string text = PrintableText(bytes, count);
        printf("      %s %s: %s%s%s\n", RangeText({first, at}).c_str(),
               ComesBack(block, first) ? "came back" : "changed outside the write-back",
               HexText(bytes, count).c_str(), text.empty() ? "" : "  ", text.c_str());
        first = at + 1;
      }
    }
  }
  // Conditions of the record's rules: an empty or NULL-sized buffer gets no block.
  std::string unsent;
  for (const std::string& label : outcome.unsent) unsent += (unsent.empty() ? "" : ", ") + label;
  if (!unsent.empty()) printf("  no block for: %s (its condition was not met)\n", unsent.c_str());
}

std::string SummariseCall(const CallOutcome& outcome) {
  std::string full;
  std::string part;
  std::string unchanged;
  for (const BlockOutcome& block : outcome.blocks) {
    if (block.changed.empty()) {
      unchanged += (unchanged.empty() ? "" : ", ") + block.label;
      continue;
    }
    const ByteRange& first = block.changed.front();
    const std::string text = PrintableText(block.after.data() + first.first, first.last - first.first + 1);
    // A string's terminator stays zero: all bytes before it is the whole text.
    const bool whole =
        block.changed.size() == 1 && first.first == 0 &&
        (first.last + 1 == block.size || (first.last + 2 == block.size && block.after.back() == 0));
    std::string& list = whole ? full : part;
    list += (list.empty() ? "" : ", ") + block.label + (whole ? "" : " " + RangesText(block.changed)) +
            (text.empty() ? "" : " " + text);
  }
  std::string summary;
  const auto add = [&summary](const char* what, const std::string& list) {
    if (!list.empty()) summary += (summary.empty() ? "" : "; ") + std::string(what) + list;
  };
  add("back in full: ", full);
  add("back in part: ", part);
  add("unchanged: ", unchanged);
  return summary;
}

}  // namespace qarn::tool
