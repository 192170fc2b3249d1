// The record builder: one walk over the rule table's fields, no code per type.
#include "tools/record_builder.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "tools/command.h"

namespace qarn::tool {

using transport::Condition;
using transport::FieldRole;
using transport::FieldRule;
using transport::SizeRule;

namespace {

// A record's pointer fields hold 32-bit addresses, little-endian.
uint8_t* ReadPointer(const uint8_t* at) {
  uint32_t value = 0;
  memcpy(&value, at, sizeof value);
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(value));
}

void WritePointer(uint8_t* at, const void* pointer) {
  const auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
  memcpy(at, &value, sizeof value);
}

// Sizes a buffer gets when no len@ setting names it.
constexpr uint32_t kDefaultBufferBytes = 16;
// The byte count a length field of each size rule can hold.
constexpr uint32_t kMaxBufferBytes = 1 << 20;

enum class SettingKind { kText, kLength, kNull, kHex, kU8, kU16, kU32 };

struct KindName {
  const char* prefix;  // before the '@'
  SettingKind kind;
  bool has_value;
};
constexpr KindName kKinds[] = {
    {"", SettingKind::kText, true},      {"len", SettingKind::kLength, true},
    {"null", SettingKind::kNull, false}, {"hex", SettingKind::kHex, true},
    {"u8", SettingKind::kU8, true},      {"u16", SettingKind::kU16, true},
    {"u32", SettingKind::kU32, true},
};

bool IsDependent(const FieldRule& field) {
  return field.size == SizeRule::kLengthPairSum || field.size == SizeRule::kLengthCell32;
}

// The record bytes that hold a length field for another field, and how many.
uint32_t LengthFieldWidth(const FieldRule& field) { return qarn::transport::LengthFieldWidth(field.size); }

uint32_t MaxBytes(const FieldRule& field) {
  switch (field.size) {
    case SizeRule::kLength8:
      return 0xFF;
    case SizeRule::kLength16:
      return 0xFFFF;
    case SizeRule::kLength16x2:
      return 2 * 0xFFFF;
    case SizeRule::kLengthPairSum:
      return 2 * 0xFFFF;
    default:
      return kMaxBufferBytes;
  }
}

void WriteLittleEndian(uint8_t* at, uint32_t value, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    long long value = 0;
    if (!isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !ParseNumber("0x" + text.substr(i, 2), 0, 0xFF, &value)) {
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

std::string FieldKindName(const FieldRule& field) {
  return field.size == SizeRule::kString ? "string" : "buffer";
}

}  // namespace

struct RecordBuilder::Setting {
  SettingKind kind;
  uint32_t offset;
  std::string text;            // kText
  uint32_t number;             // kLength, kU*
  std::vector<uint8_t> bytes;  // kHex, kU*
};

namespace {

bool ParseSetting(const std::string& word, uint32_t record_size, SettingKind* kind, uint32_t* offset,
                  std::string* value, std::string* error) {
  const size_t at = word.find('@');
  const size_t equals = word.find('=', at == std::string::npos ? 0 : at);
  if (at == std::string::npos) {
    *error = "\"" + word + "\" is not a setting (try @OFFSET=TEXT, len@OFFSET=N, hex@OFFSET=HEX)";
    return false;
  }
  const std::string prefix = word.substr(0, at);
  const KindName* found = nullptr;
  for (const KindName& k : kKinds) {
    if (prefix == k.prefix) found = &k;
  }
  if (found == nullptr) {
    *error = "unknown setting \"" + prefix + "@\" in \"" + word + "\" (see qarn call --help)";
    return false;
  }
  const std::string place =
      word.substr(at + 1, equals == std::string::npos ? std::string::npos : equals - at - 1);
  long long number = 0;
  if (!ParseNumber(place, 0, record_size - 1, &number)) {
    *error =
        "\"" + word + "\": the offset must be a number below the record size " + std::to_string(record_size);
    return false;
  }
  if (found->has_value != (equals != std::string::npos)) {
    *error = "\"" + word + "\": " + (found->has_value ? "needs =VALUE" : "takes no value");
    return false;
  }
  *kind = found->kind;
  *offset = static_cast<uint32_t>(number);
  *value = equals == std::string::npos ? "" : word.substr(equals + 1);
  return true;
}

}  // namespace

uint8_t* RecordBuilder::Allocate(const std::string& label, uint32_t size) {
  // Zeroed, and exactly as long as the buffer, so that the sanitizer build
  // reports any byte written past it; a zero-length buffer still gets an
  // address of its own.
  buffers_.push_back(BuiltBuffer{label, std::make_unique<uint8_t[]>(size), size});
  return buffers_.back().bytes.get();
}

const BuiltBuffer* RecordBuilder::Find(const void* p) const {
  for (const BuiltBuffer& buffer : buffers_) {
    if (buffer.bytes.get() == p) return &buffer;
  }
  return nullptr;
}

bool RecordBuilder::Build(const transport::RecordRule& rule, uint32_t nodes,
                          const std::vector<std::string>& words, std::string* error) {
  buffers_.clear();
  std::vector<Setting> settings;
  std::vector<bool> reserved(rule.size, false);  // pointer and length bytes
  for (uint8_t i = 0; i < rule.field_count; ++i) {
    const FieldRule& field = rule.fields[i];
    for (uint32_t b = 0; b < 4 && field.offset + b < rule.size; ++b) reserved[field.offset + b] = true;
    for (uint32_t b = 0; b < LengthFieldWidth(field) && field.arg + b < rule.size; ++b)
      reserved[field.arg + b] = true;
  }
  for (const std::string& word : words) {
    Setting setting{};
    std::string value;
    if (!ParseSetting(word, rule.size, &setting.kind, &setting.offset, &value, error)) return false;
    const FieldRule* field = nullptr;
    for (uint8_t i = 0; i < rule.field_count; ++i) {
      if (rule.fields[i].offset == setting.offset && rule.fields[i].role == FieldRole::kBuffer)
        field = &rule.fields[i];
    }
    long long number = 0;
    switch (setting.kind) {
      case SettingKind::kText:
      case SettingKind::kLength:
      case SettingKind::kNull:
        if (field == nullptr) {
          *error = "\"" + word + "\": " + rule.name + " has no buffer pointer at offset " +
                   std::to_string(setting.offset);
          return false;
        }
        if (setting.kind == SettingKind::kLength) {
          if (field->size == SizeRule::kString || field->size == SizeRule::kFixed) {
            *error = "\"" + word + "\": the " + FieldKindName(*field) + " at " +
                     std::to_string(setting.offset) +
                     (field->size == SizeRule::kFixed ? " has a fixed size of " + std::to_string(field->arg)
                                                      : " is sized by its text (use @OFFSET=TEXT)");
            return false;
          }
          if (!ParseNumber(value, 0, MaxBytes(*field), &number) ||
              (field->size == SizeRule::kLength16x2 && number % 2 != 0)) {
            *error = "\"" + word + "\": the byte count must be " +
                     (field->size == SizeRule::kLength16x2 ? "an even number" : "a number") + " from 0 to " +
                     std::to_string(MaxBytes(*field)) + ", not \"" + value + "\"";
            return false;
          }
          setting.number = static_cast<uint32_t>(number);
        }
        setting.text = value;
        break;
      case SettingKind::kHex:
        if (!ParseHex(value, &setting.bytes)) {
          *error = "\"" + word + "\": HEX must be pairs of hex digits, e.g. 0a1b";
          return false;
        }
        break;
      default: {
        const uint32_t width = setting.kind == SettingKind::kU8    ? 1
                               : setting.kind == SettingKind::kU16 ? 2
                                                                   : 4;
        if (!ParseNumber(value, 0, width == 4 ? UINT32_MAX : (1ull << (8 * width)) - 1, &number)) {
          *error = "\"" + word + "\": not a number that fits " + std::to_string(width) + " byte(s)";
          return false;
        }
        setting.bytes.resize(width);
        WriteLittleEndian(setting.bytes.data(), static_cast<uint32_t>(number), width);
      }
    }
    if (!setting.bytes.empty()) {
      if (setting.offset + setting.bytes.size() > rule.size) {
        *error = "\"" + word + "\": runs past the end of the " + std::to_string(rule.size) + "-byte record";
        return false;
      }
      for (size_t b = 0; b < setting.bytes.size(); ++b) {
        if (reserved[setting.offset + b]) {
          *error = "\"" + word + "\": byte " + std::to_string(setting.offset + b) +
                   " is a pointer or length field (use @OFFSET=, len@OFFSET= or null@OFFSET)";
          return false;
        }
      }
    }
    settings.push_back(std::move(setting));
  }

  uint8_t* record = Allocate("record", rule.size);
  if (!FillFields(rule.fields, rule.field_count, record, "", settings, nodes, error) ||
      !FillDependentFields(rule.fields, rule.field_count, record, "", settings, error)) {
    return false;
  }
  for (const Setting& setting : settings) {
    if (!setting.bytes.empty()) memcpy(record + setting.offset, setting.bytes.data(), setting.bytes.size());
  }
  return true;
}

// Every field whose size does not depend on another buffer: strings, length
// and fixed buffers, chains.
bool RecordBuilder::FillFields(const FieldRule* fields, uint8_t count, uint8_t* base,
                               const std::string& prefix, const std::vector<Setting>& settings,
                               uint32_t nodes, std::string* error) {
  for (uint8_t i = 0; i < count; ++i) {
    const FieldRule& field = fields[i];
    if (field.role == FieldRole::kChain) {
      if (field.chain != nullptr && !BuildChain(*field.chain, base + field.offset, nodes, error))
        return false;
      continue;
    }
    if (field.role != FieldRole::kBuffer || IsDependent(field)) continue;
    const std::string label = prefix + "@" + std::to_string(field.offset) + " " + FieldKindName(field);
    const Setting* text = nullptr;
    const Setting* length = nullptr;
    bool null = false;
    for (const Setting& setting : settings) {
      if (prefix.empty() && setting.offset == field.offset) {
        if (setting.kind == SettingKind::kText) text = &setting;
        if (setting.kind == SettingKind::kLength) length = &setting;
        if (setting.kind == SettingKind::kNull) null = true;
      }
    }
    if (null) continue;
    uint8_t* buffer = nullptr;
    if (field.size == SizeRule::kString) {
      std::string owner = prefix.empty() ? "text" : prefix;
      owner.erase(std::remove(owner.begin(), owner.end(), ' '), owner.end());
      const std::string value = text != nullptr ? text->text : owner + "@" + std::to_string(field.offset);
      buffer = Allocate(label, static_cast<uint32_t>(value.size() + 1));
      memcpy(buffer, value.c_str(), value.size() + 1);
    } else {
      const uint32_t size = field.size == SizeRule::kFixed ? field.arg
                            : length != nullptr            ? length->number
                                                           : kDefaultBufferBytes;
      buffer = Allocate(label, size);
      if (field.size == SizeRule::kLength16x2) {
        WriteLittleEndian(base + field.arg, size / 2, 2);
      } else if (LengthFieldWidth(field) != 0) {
        WriteLittleEndian(base + field.arg, size, LengthFieldWidth(field));
      }
      if (text != nullptr) {
        if (text->text.size() > size) {
          *error = "\"@" + std::to_string(field.offset) + "=" + text->text +
                   "\": the text does not fit the " + std::to_string(size) + "-byte buffer";
          return false;
        }
        memcpy(buffer, text->text.data(), text->text.size());
      }
    }
    WritePointer(base + field.offset, buffer);
  }
  return true;
}

// Buffers sized by a value behind another pointer: the pair or cell gets the
// byte count, then the buffer is made.
bool RecordBuilder::FillDependentFields(const FieldRule* fields, uint8_t count, uint8_t* base,
                                        const std::string& prefix, const std::vector<Setting>& settings,
                                        std::string* error) {
  for (uint8_t i = 0; i < count; ++i) {
    const FieldRule& field = fields[i];
    if (field.role != FieldRole::kBuffer || !IsDependent(field)) continue;
    uint32_t size = kDefaultBufferBytes;
    bool null = false;
    for (const Setting& setting : settings) {
      if (!prefix.empty() || setting.offset != field.offset) continue;
      if (setting.kind == SettingKind::kLength) size = setting.number;
      if (setting.kind == SettingKind::kNull) null = true;
      if (setting.kind == SettingKind::kText) {
        *error = "the buffer at " + std::to_string(field.offset) + " takes len@, not text";
        return false;
      }
    }
    uint8_t* cell = ReadPointer(base + field.arg);
    if (cell == nullptr) size = 0;  // its size holder was left NULL
    if (cell != nullptr && field.size == SizeRule::kLengthPairSum) {
      WriteLittleEndian(cell, size - size / 2, 2);
      WriteLittleEndian(cell + 2, size / 2, 2);
    } else if (cell != nullptr) {
      WriteLittleEndian(cell, size, 4);
    }
    if (null) continue;
    uint8_t* buffer = Allocate(prefix + "@" + std::to_string(field.offset) + " buffer", size);
    WritePointer(base + field.offset, buffer);
  }
  return true;
}

bool RecordBuilder::BuildChain(const transport::ChainRule& chain, uint8_t* head_field, uint32_t nodes,
                               std::string* error) {
  uint8_t* link = head_field;
  for (uint32_t n = 1; n <= nodes; ++n) {
    const std::string label = "node " + std::to_string(n);
    uint8_t* node = Allocate(label, chain.node_size);
    WritePointer(link, node);
    if (!FillFields(chain.fields, chain.field_count, node, label + " ", {}, 0, error)) return false;
    link = node + chain.link_offset;
  }
  return true;
}

}  // namespace qarn::tool
