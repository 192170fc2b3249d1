// Every record of the catalogue, end to end: the application builds its
// package, the stand-in server (a real other process) opens it and writes its
// pattern into every byte it can reach, and the application checks what came
// back. The expectations below are an independent statement of each record's
// layout: which fields point where, how big each block is, and which record
// bytes may come back.
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "doc_peer_client.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/record_list.h"
#include "qarnplus/records.h"
#include "qarnplus/server.h"

namespace {

using transport_test::LeftoverBlocks;
using transport_test::NameOf;

// ---- The expectation table -------------------------------------------------

enum class Kind : uint8_t {
  kString,          // string block, back whole
  kStringIn,        // string block, nothing back
  kOptionalString,  // string block only when not NULL
  kNonEmptyString,  // string block only when not empty; else NULL in the caller's record
  kLength8,         // buffer of the 8-bit length at `arg`, back whole
  kLength16,        // ... 16-bit length
  kLength32,        // ... 32-bit length
  kShapeLength16,   // as kLength16/32, but no block at all for NULL or length 0,
  kShapeLength32,   //   and the record then returns just the length field
  kFixed,           // buffer of `arg` bytes, back whole
  kOptionalFixed,   // as kFixed, only when not NULL
  kPairData,        // buffer of the sum of the two 16-bit values behind the pointer at `arg`
  kPair,            // the 4-byte length pair
  kCellData,        // buffer of the 32-bit value behind the pointer at `arg`
  kCell,            // the 4-byte length cell
  kElements,        // buffer of 2 x the 16-bit count at `arg`
  kChain,           // SAPPrint1 node chain: one 8-byte block per node, nothing back
  kCallerAddress,   // no block; reaches the server as zero
};

struct Slot {
  Kind kind;
  uint16_t at;
  uint32_t arg;
};
struct Range {
  uint16_t first, last;
  bool operator==(const Range& other) const { return first == other.first && last == other.last; }
};
struct Expectation {
  const char* type;
  uint16_t size;
  std::vector<Slot> slots;
  std::vector<Range> back;                 // record bytes that come back
  std::vector<Range> back_without_buffer;  // two-shape records, second shape
};

Slot Str(uint16_t at) { return {Kind::kString, at, 0}; }
Slot StrIn(uint16_t at) { return {Kind::kStringIn, at, 0}; }
Slot L8(uint16_t at, uint16_t length_at) { return {Kind::kLength8, at, length_at}; }
Slot L16(uint16_t at, uint16_t length_at) { return {Kind::kLength16, at, length_at}; }
Slot L32(uint16_t at, uint16_t length_at) { return {Kind::kLength32, at, length_at}; }
Slot Fix(uint16_t at, uint32_t bytes) { return {Kind::kFixed, at, bytes}; }
Slot Caller(uint16_t at) { return {Kind::kCallerAddress, at, 0}; }
std::vector<Range> Whole(uint16_t size) { return {{0, static_cast<uint16_t>(size - 1)}}; }

const std::vector<Expectation>& Expectations() {
  static const std::vector<Expectation> table = {
      {"SAPGetVersion1", 7, {}, {{4, 6}}},
      {"SAPSetParentWnd1", 6, {}, {}},
      {"SAPGetErrMes1", 14, {{Kind::kShapeLength32, 2, 6}, Str(10)}, {}, {{6, 9}}},
      {"SAPGetPublicKey1", 8, {{Kind::kShapeLength16, 2, 6}}, {}, {{6, 7}}},
      {"SAPGenPKIKey", 14, {Str(2), Fix(6, 260), Fix(10, 260)}, {}},
      {"SAPSetPKIKeySPath", 8, {L16(2, 6)}, {}},
      {"SAPGenPKIKeyBuf", 2310, {}, Whole(2310)},
      {"SAPSetInputCipherProc1", 6, {Caller(2)}, {}},
      {"SAPSetIsUserAbortProc1", 6, {Caller(2)}, {}},
      {"SAPSetDispPrintErrProc1", 6, {Caller(2)}, {}},
      {"SAPSetDispPageNoProc1", 6, {Caller(2)}, {}},
      {"SAPSetDispNewPaperProc1", 6, {Caller(2)}, {}},
      {"SAPSetConfirmProc1", 6, {Caller(2)}, {}},
      {"SAPSetSelSealProc1", 6, {Caller(2)}, {}},
      {"SAPSetHardwareWarningProc1", 6, {Caller(2)}, {}},
      {"SAPCreateSeal1", 26, {StrIn(2), StrIn(6), StrIn(14), StrIn(18), Caller(22)}, {}},
      {"SAPBeginEncrypt1", 2, {}, {}},
      {"SAPEncrypt3", 75, {Fix(2, 260), Fix(16, 1), Fix(33, 260)}, {}},
      {"SAPEndEncrypt1", 2, {}, {}},
      {"SAPEncrypt_CA", 79, {{Kind::kPairData, 71, 75}, {Kind::kPair, 75, 0}}, {}},
      {"SAPConvert", 10, {Str(2), Str(6)}, {}},
      {"SAPVerfiy", 19, {Str(6), L32(10, 14)}, {}},
      {"SAPPrint1", 26, {Str(2), {Kind::kChain, 10, 0}, L8(14, 18), Str(19)}, {}},
      {"SAPPrint_MEDIAGWFILE", 39, {Str(26)}, {}},
      {"SAPPrintEx1", 15, {Str(2), L8(6, 10), {Kind::kNonEmptyString, 11, 0}}, {}},
      {"SAPFwdDoc1", 23, {Str(2), L8(6, 10), Str(11), Str(15), Str(19)}, {}},
      {"SAPArchive1", 19, {Str(2), L8(6, 10), Str(11)}, {}},
      {"SAPDetach1", 26, {Str(2), L8(6, 10), Str(11), Str(16), L16(20, 24)}, {}},
      {"SAPGetText3", 19, {Str(2), L8(8, 12), Str(13)}, {}},
      {"SAPGetLinks1", 26, {Str(2), L16(8, 12), L16(14, 18), L16(20, 24)}, {}},
      {"SAPCheckLinks1", 28, {Str(2), Str(8), Str(12), L16(16, 20), L16(22, 26)}, {}},
      {"SAPGetSealInfo1",
       218,
       {Str(2), Str(6), L16(10, 14), {Kind::kOptionalFixed, 113, 128}, {Kind::kOptionalFixed, 119, 128}},
       {{16, 112}, {117, 118}, {211, 217}}},
      {"SAPSetSealInfo", 784, {}, {}},
      {"SAPGetInfo1", 110, {Str(2), L8(6, 10)}, {{11, 109}}},
      {"SAPGetSealMetric", 18, {Str(2), Fix(6, 4), Fix(10, 4), Fix(14, 4)}, {}},
      {"SAPGetSealInFileInfo1", 114, {Str(2), L8(6, 10), L16(13, 17)}, {{19, 113}}},
      {"SAPSplitCopys1", 19, {Str(2), L8(6, 10), Str(11)}, {{17, 18}}},
      {"SAPGetCopys1", 13, {Str(2), L8(6, 10)}, {{11, 12}}},
      {"SAPAppCmd1", 17, {Str(2), L8(6, 10), Str(13)}, {}},
      {"SAPGetMetric1", 27, {Str(2), L8(8, 12)}, {}},
      {"SAPExtractPages1", 21, {Str(2), L8(6, 10), Str(11), {Kind::kElements, 15, 19}}, {}},
      {"SAPGetAtttachMetric1", 23, {Str(2), L8(6, 10), L16(13, 17)}, {{19, 22}}},
      {"SAPSysSetting1",
       66,
       {Fix(16, 260), Fix(20, 260), Fix(24, 260), Fix(28, 260), Fix(32, 260), Fix(36, 260)},
       {{0, 15}, {40, 65}}},
      {"SAPPrtSetting1", 72, {}, Whole(72)},
      {"SAPPrtType1", 4, {}, Whole(4)},
      {"SAPGetTypefaceNum1", 12, {}, Whole(12)},
      {"SAPGetTypefaceName1", 10, {Fix(6, 128)}, {}},
      {"SAPFontSubst1", 6, {}, Whole(6)},
      {"SAPGetPrtNum1", 12, {}, Whole(12)},
      {"SAPGetPrtMetrics1", 19, {Fix(4, 128), Fix(8, 128)}, {{0, 3}, {12, 18}}},
      {"SAPSetCurPrt1", 3, {}, {}},
      {"SAPPrtPara1", 46, {}, Whole(46)},
      {"SAPPrt1Para1", 525, {}, Whole(525)},
      {"SAPRequestPrtPort1", 13, {Fix(3, 5), L16(7, 11)}, {}},
      {"SAPPrtGeneralPara", 14, {}, {}},
      {"SAPSetProfileName1", 6, {StrIn(2)}, {}},
      {"SAPReadProfile1", 5, {}, {}},
      {"SAPWriteProfile1", 5, {}, {}},
      {"SAPEncryptFile", 10, {Str(2), Str(6)}, {}},
      {"SAPDecryptFile", 10, {Str(2), Str(6)}, {}},
      {"SAPSetSearchSealOption", 6, {}, {}},
      {"SAPSetSealFun", 10, {Caller(2), Caller(6)}, {}},
      {"SAPSearchSeal",
       18,
       {{Kind::kOptionalString, 2, 0}, {Kind::kOptionalString, 6, 0}, Fix(10, 128), Fix(14, 128)},
       {}},
      {"SAPGetEncryptPicOfSeal", 34, {{Kind::kCellData, 18, 22}, {Kind::kCell, 22, 0}, Fix(26, 4)}, {}},
      {"SAPDetachAllFilesFromGwFile", 19, {Str(2), Str(6), L8(10, 14), Fix(15, 4)}, {}},
      {"SAPInsertStmPara", 29, {Str(2), L8(6, 10), Str(13), L32(17, 21)}, {}},
      {"SAPGetSealPosPara", 29, {Str(2), L8(6, 10), Fix(25, 16)}, {{21, 24}}},
      {"SAPIsFormalGWFilePara", 10, {Str(2)}, {}},
      {"SAPCheckEPFPassword", 14, {Str(2)}, {}},
      {"SAPSetForcedPageSize", 18, {}, {}},
      {"SAPSetPrintingText", 421, {}, Whole(421)},
      {"SAPMergeFiles", 14, {Str(2), Str(6), Str(10)}, {}},
  };
  return table;
}

const Expectation& ExpectationOf(const std::string& type) {
  for (const Expectation& e : Expectations()) {
    if (type == e.type) return e;
  }
  ADD_FAILURE() << "no expectation for " << type;
  static const Expectation none{"", 0, {}, {}};
  return none;
}

struct CodeCase {
  uint32_t code;
  const char* type;
};
#define QARN_CODE_CASE(code, Type) CodeCase{code, #Type},
const CodeCase kCodes[] = {QARN_API_CODES(QARN_CODE_CASE)};
#undef QARN_CODE_CASE

// ---- The application's memory ----------------------------------------------

// Bytes the application fills in: 0x01 to 0x1F, never zero (so strings stay
// whole) and never a byte the server writes (its pattern has the top bit
// set, its message text is printable).
uint8_t AppByte(uint32_t seed, uint32_t index) { return static_cast<uint8_t>(1 + (seed * 7 + index) % 31); }
constexpr size_t kGuard = 8;
constexpr uint8_t kGuardByte = 0x5A;
constexpr uint16_t kPairFirst = 16, kPairSecond = 32;
constexpr uint32_t kCellValue = 100;
constexpr uint16_t kElementCount = 3;

uint32_t Read32(const uint8_t* at) {
  uint32_t v;
  memcpy(&v, at, 4);
  return v;
}
void Write32(uint8_t* at, uint32_t v) { memcpy(at, &v, 4); }
void* ReadPointer(const uint8_t* at) { return reinterpret_cast<void*>(static_cast<uintptr_t>(Read32(at))); }
void WritePointer(uint8_t* at, const void* p) {
  Write32(at, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

// Variations of the standard filling, for the edge cases.
struct Options {
  std::set<uint16_t> null_at;              // these pointer fields are NULL
  std::set<uint16_t> zero_length_at;       // these buffers get length 0
  std::set<uint16_t> empty_string_at;      // these strings are ""
  std::map<uint16_t, uint32_t> length_of;  // buffer at -> length, instead of the standard one
  int chain_nodes = 2;
};

// One buffer, string, node or the record in the application's memory, with
// guard bytes behind it.
struct Area {
  std::vector<uint8_t> bytes;  // content + guard
  uint32_t size = 0;           // bytes that belong to the block
  bool back = false;           // the block comes back whole
  uint16_t pointer_at = 0;     // for a node: offset of its link
  bool is_node = false;
  bool is_string = false;
  std::vector<uint8_t> original;
  uint8_t* data() { return bytes.data(); }
};

struct ExpectedBlock {
  const void* local;  // NULL: an empty block
  uint32_t size;
  bool merge;
  bool masked;
  Area* area;  // NULL for the record
};

class AppMemory {
 public:
  AppMemory(const Expectation& e, uint32_t code, const Options& options) : e_(e), options_(options) {
    record_.resize(e.size + kGuard, kGuardByte);
    for (uint32_t i = 0; i < e.size; ++i) record_[i] = AppByte(code, i);
    areas_.reserve(64);  // areas are referenced by pointer: never reallocate
    for (size_t s = 0; s < e.slots.size(); ++s) Fill(e.slots[s], static_cast<uint32_t>(s + code));
    for (Area& area : areas_) area.original = area.bytes;
    original_record_ = record_;
    // The application's record as it must look after the call, before any
    // result: an empty optional string is replaced by NULL.
    for (const Slot& slot : e.slots) {
      if (slot.kind == Kind::kNonEmptyString && !MakesBlock(slot))
        WritePointer(&original_record_[slot.at], nullptr);
    }
  }

  uint8_t* record() { return record_.data(); }
  const std::vector<uint8_t>& original_record() const { return original_record_; }
  const std::vector<uint8_t>& record_bytes() const { return record_; }

  // Whether the client makes a block for this slot.
  bool MakesBlock(const Slot& slot) const {
    const bool null = options_.null_at.count(slot.at) != 0;
    switch (slot.kind) {
      case Kind::kOptionalString:
      case Kind::kOptionalFixed:
        return !null;
      case Kind::kNonEmptyString:
        return !null && options_.empty_string_at.count(slot.at) == 0;
      case Kind::kShapeLength16:
      case Kind::kShapeLength32:
        return !null && options_.zero_length_at.count(slot.at) == 0;
      case Kind::kCallerAddress:
      case Kind::kChain:
        return false;
      default:
        return true;
    }
  }

  bool SecondShape() const {
    for (const Slot& slot : e_.slots) {
      if ((slot.kind == Kind::kShapeLength16 || slot.kind == Kind::kShapeLength32) && !MakesBlock(slot))
        return true;
    }
    return false;
  }
  const std::vector<Range>& BackRanges() const { return SecondShape() ? e_.back_without_buffer : e_.back; }
  bool InBack(uint32_t at) const {
    for (const Range& r : BackRanges()) {
      if (at >= r.first && at <= r.last) return true;
    }
    return false;
  }
  bool IsPointerByte(uint32_t at) const {
    for (const Slot& slot : e_.slots) {
      if (at >= slot.at && at < slot.at + 4u) return true;
    }
    return false;
  }

  // The client's blocks in order: per field, then the record.
  std::vector<ExpectedBlock> ClientBlocks() {
    std::vector<ExpectedBlock> blocks;
    for (size_t s = 0; s < e_.slots.size(); ++s) {
      const Slot& slot = e_.slots[s];
      if (slot.kind == Kind::kChain) {
        for (Area* node : nodes_) blocks.push_back({node->data(), node->size, false, false, node});
        continue;
      }
      if (!MakesBlock(slot)) continue;
      Area* area = slot_areas_[s];
      if (area == nullptr) {
        const bool back = slot.kind != Kind::kStringIn;
        blocks.push_back({nullptr, 0, back, false, nullptr});
      } else {
        blocks.push_back({area->size == 0 ? nullptr : area->data(), area->size, area->back, false, area});
      }
    }
    const bool masked = !BackRanges().empty() && BackRanges() != Whole(e_.size);
    blocks.push_back({record_.data(), e_.size, !BackRanges().empty(), masked, nullptr});
    return blocks;
  }

  // Blocks the server opens: the record, one per opened field, N + 1 for a
  // chain of N nodes.
  size_t ServerBlocks() const {
    size_t count = 1;
    for (const Slot& slot : e_.slots) {
      if (slot.kind == Kind::kChain) {
        count += nodes_.size() + 1;
      } else if (MakesBlock(slot)) {
        ++count;  // a NULL pointer too: an empty block on both sides
      }
    }
    return count;
  }

  std::vector<Area*>& nodes() { return nodes_; }
  const Expectation& expectation() const { return e_; }

 private:
  Area* NewArea(uint32_t size, bool back, uint32_t seed) {
    areas_.emplace_back();
    Area& area = areas_.back();
    area.bytes.assign(size + kGuard, kGuardByte);
    for (uint32_t j = 0; j < size; ++j) area.bytes[j] = AppByte(seed, j);
    area.size = size;
    area.back = back;
    return &area;
  }

  Area* NewString(uint32_t length, bool back, uint32_t seed) {
    Area* area = NewArea(length + 1, back, seed);
    area->bytes[length] = 0;
    area->is_string = true;
    return area;
  }

  void SetLength(const Slot& slot, uint32_t value) {
    uint8_t* at = &record_[slot.arg];
    if (slot.kind == Kind::kLength8) {
      *at = static_cast<uint8_t>(value);
    } else if (slot.kind == Kind::kLength16 || slot.kind == Kind::kShapeLength16 ||
               slot.kind == Kind::kElements) {
      const uint16_t v = static_cast<uint16_t>(value);
      memcpy(at, &v, 2);
    } else {
      Write32(at, value);
    }
  }

  void Fill(const Slot& slot, uint32_t seed) {
    const bool null = options_.null_at.count(slot.at) != 0;
    Area* area = nullptr;
    const uint32_t distinct = static_cast<uint32_t>(slot_areas_.size());
    switch (slot.kind) {
      case Kind::kString:
      case Kind::kStringIn:
      case Kind::kOptionalString:
      case Kind::kNonEmptyString: {
        const uint32_t length = options_.empty_string_at.count(slot.at) ? 0 : 5 + 3 * distinct;
        if (!null) area = NewString(length, slot.kind != Kind::kStringIn, seed);
        break;
      }
      case Kind::kLength8:
      case Kind::kLength16:
      case Kind::kLength32:
      case Kind::kShapeLength16:
      case Kind::kShapeLength32: {
        // Every byte of a length stays below 0x80, apart from the server's pattern.
        const uint32_t base = slot.kind == Kind::kLength8 ? 100 : slot.kind == Kind::kLength32 ? 1030 : 300;
        uint32_t length = options_.zero_length_at.count(slot.at) ? 0 : base + 7 * distinct;
        if (options_.length_of.count(slot.at) != 0) length = options_.length_of.at(slot.at);
        SetLength(slot, length);
        if (!null) area = NewArea(length, true, seed);
        break;
      }
      case Kind::kFixed:
      case Kind::kOptionalFixed:
        if (!null) area = NewArea(slot.arg, true, seed);
        break;
      case Kind::kPairData:
        if (!null) area = NewArea(kPairFirst + kPairSecond, true, seed);
        break;
      case Kind::kPair:
        area = NewArea(4, true, seed);
        memcpy(area->data(), &kPairFirst, 2);
        memcpy(area->data() + 2, &kPairSecond, 2);
        break;
      case Kind::kCellData:
        if (!null) area = NewArea(kCellValue, true, seed);
        break;
      case Kind::kCell:
        area = NewArea(4, true, seed);
        Write32(area->data(), kCellValue);
        break;
      case Kind::kElements:
        SetLength(slot, kElementCount);
        if (!null) area = NewArea(2 * kElementCount, true, seed);
        break;
      case Kind::kChain:
        FillChain(slot, seed);
        slot_areas_.push_back(nullptr);
        return;
      case Kind::kCallerAddress:
        Write32(&record_[slot.at], 0xCA11E000u + slot.at);
        slot_areas_.push_back(nullptr);
        return;
    }
    WritePointer(&record_[slot.at], area == nullptr ? nullptr : area->data());
    slot_areas_.push_back(area);
  }

  void FillChain(const Slot& slot, uint32_t seed) {
    for (int n = 0; n < options_.chain_nodes; ++n) {
      Area* node = NewArea(sizeof(SAPPrintNode), false, seed + 11 * n);
      node->is_node = true;
      node->pointer_at = offsetof(SAPPrintNode, pNext);
      if (!nodes_.empty()) WritePointer(nodes_.back()->data() + nodes_.back()->pointer_at, node->data());
      nodes_.push_back(node);
    }
    if (!nodes_.empty()) WritePointer(nodes_.back()->data() + nodes_.back()->pointer_at, nullptr);
    WritePointer(&record_[slot.at], nodes_.empty() ? nullptr : nodes_.front()->data());
  }

  const Expectation& e_;
  Options options_;
  std::vector<uint8_t> record_;
  std::vector<uint8_t> original_record_;
  std::vector<Area> areas_;
  std::vector<Area*> slot_areas_;  // per slot: its area or NULL
  std::vector<Area*> nodes_;
};

// ---- The server --------------------------------------------------------------

class Server {
 public:
  static void Start() {
    session_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    if (session_ != nullptr) f_QARNDRV_Init(session_);
  }
  static void Stop() {
    if (session_ != nullptr) f_QARNSVR_FreeLibrary(session_);
    session_ = nullptr;
  }
  static bool Running() { return session_ != nullptr; }

  // The reply to "call <record> <code>".
  static std::string Call(const void* record, uint32_t code) {
    const std::string request = "call " + NameOf(record) + " " + std::to_string(code);
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session_, request.c_str(), &reply, nullptr);
    return reply == nullptr ? "" : reply;
  }

 private:
  static void* session_;
};
void* Server::session_ = nullptr;

bool Succeeded(const std::string& reply) {
  return reply.find("val=\"true\" name=\"SUCCESS\"") != std::string::npos;
}

// The number in `<... val="N" name="blocks"/>`, -1 when missing.
long BlocksInReply(const std::string& reply) {
  const size_t name = reply.find("name=\"blocks\"");
  if (name == std::string::npos) return -1;
  const size_t val = reply.rfind("val=\"", name);
  if (val == std::string::npos) return -1;
  return strtol(reply.c_str() + val + 5, nullptr, 10);
}

// SAPGetErrMes1: the server stores the room its message needs at offset 6,
// whose upper bytes may well be the zeros the application had there.
bool IsServerChosenLength(uint32_t code, uint32_t at) { return code == 8 && at >= 6 && at <= 9; }

// ---- One call, checked -------------------------------------------------------

std::vector<uint8_t> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

// Builds the package, lets the server work, releases the package and checks
// every byte of the application's memory.
void RunCall(uint32_t code, const Options& options = Options()) {
  const CodeCase* found = nullptr;
  for (const CodeCase& c : kCodes) {
    if (c.code == code) found = &c;
  }
  ASSERT_NE(found, nullptr);
  const Expectation& e = ExpectationOf(found->type);
  SCOPED_TRACE(testing::Message() << found->type << " (code " << code << ")");
  AppMemory app(e, code, options);
  const std::vector<ExpectedBlock> expected = app.ClientBlocks();
  std::vector<std::vector<uint8_t>> server_bytes(expected.size());
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(app.record()), code);
    EXPECT_EQ(package.Local(), nullptr);
    ASSERT_NE(package.m_pBlocks, nullptr);
    const std::vector<c_QARNPlus_Shrmem*>& blocks = *package.m_pBlocks;
    ASSERT_EQ(blocks.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "client block " << i);
      const c_QARNPlus_Shrmem& block = *blocks[i];
      EXPECT_EQ(block.m_pLocal, expected[i].local);
      EXPECT_EQ(block.m_nSize, expected[i].size);
      EXPECT_EQ(block.m_bMerge, expected[i].merge);
      EXPECT_EQ(block.m_pMask != nullptr, expected[i].masked);
      ASSERT_EQ(block.m_pShared != nullptr, expected[i].size != 0);
      if (expected[i].size == 0) continue;
      // What the server will see: the application's bytes, with its own
      // addresses replaced by zero in the record.
      std::vector<uint8_t> want = Bytes(expected[i].local, expected[i].size);
      if (expected[i].area == nullptr) {
        for (const Slot& slot : e.slots) {
          if (slot.kind == Kind::kCallerAddress) Write32(&want[slot.at], 0);
        }
      }
      EXPECT_EQ(Bytes(block.m_pShared, block.m_nSize), want);
    }

    const std::string reply = Server::Call(app.record(), code);
    EXPECT_TRUE(Succeeded(reply)) << reply;
    EXPECT_EQ(BlocksInReply(reply), static_cast<long>(app.ServerBlocks())) << reply;

    // The server must have written every byte it could reach; otherwise the
    // checks below would prove nothing.
    for (size_t i = 0; i < expected.size(); ++i) {
      if (expected[i].size == 0) continue;
      server_bytes[i] = Bytes(blocks[i]->m_pShared, expected[i].size);
      const Area* area = expected[i].area;
      const std::vector<uint8_t>& before = area != nullptr ? area->original : app.original_record();
      for (uint32_t at = 0; at < expected[i].size; ++at) {
        const bool pointer = area == nullptr
                                 ? app.IsPointerByte(at)
                                 : area->is_node && at >= area->pointer_at && at < area->pointer_at + 4u;
        const bool terminator = area != nullptr && area->is_string && at + 1 == area->size;
        if (pointer || terminator || (area == nullptr && IsServerChosenLength(code, at))) continue;
        ASSERT_NE(server_bytes[i][at], before[at]) << "the server left byte " << at << " of block " << i;
      }
    }
  }

  // Buffers: whole or nothing, never beyond their size.
  for (size_t i = 0; i + 1 < expected.size(); ++i) {
    Area* area = expected[i].area;
    if (area == nullptr || expected[i].size == 0) continue;
    SCOPED_TRACE(testing::Message() << "client block " << i);
    std::vector<uint8_t> want = area->original;
    if (expected[i].merge) std::copy(server_bytes[i].begin(), server_bytes[i].end(), want.begin());
    EXPECT_EQ(area->bytes, want);
  }
  // The record: the back ranges from the server, every other byte (pointer
  // fields included) as the application left it.
  const size_t last = expected.size() - 1;
  std::vector<uint8_t> want = app.original_record();
  for (uint32_t at = 0; at < e.size; ++at) {
    if (app.InBack(at)) want[at] = server_bytes[last][at];
  }
  EXPECT_EQ(app.record_bytes(), want);
  for (const Slot& slot : e.slots) {
    EXPECT_EQ(ReadPointer(&app.record()[slot.at]), ReadPointer(&app.original_record()[slot.at]))
        << "pointer field at " << slot.at;
  }
  EXPECT_EQ(LeftoverBlocks(), 0);
}

class Catalogue : public testing::Test {
 protected:
  static void SetUpTestSuite() { Server::Start(); }
  static void TearDownTestSuite() { Server::Stop(); }
  void SetUp() override { ASSERT_TRUE(Server::Running()) << "qarn_svr did not start"; }
};

TEST_F(Catalogue, EveryApiCodeTravelsEndToEnd) {
  EXPECT_EQ(sizeof(kCodes) / sizeof(kCodes[0]), 78u);
  for (const CodeCase& c : kCodes) RunCall(c.code);
}

TEST_F(Catalogue, OptionalFieldsLeftOutOnBothSides) {
  Options no_buffer;
  no_buffer.null_at = {2};
  RunCall(8, no_buffer);  // SAPGetErrMes1: string and masked record
  Options zero_length;
  zero_length.zero_length_at = {2};
  RunCall(8, zero_length);  // a buffer of length 0 takes the same shape
  RunCall(10, no_buffer);   // SAPGetPublicKey1: the record alone
  RunCall(10, zero_length);
  Options no_strings;
  no_strings.null_at = {2, 6};
  RunCall(1005, no_strings);  // SAPSearchSeal: the two 128-byte buffers and the record
  Options no_optional_buffers;
  no_optional_buffers.null_at = {113, 119};
  RunCall(322, no_optional_buffers);  // SAPGetSealInfo1: four blocks
  Options empty;
  empty.empty_string_at = {11};
  RunCall(233, empty);  // SAPPrintEx1: the caller's field becomes NULL
  Options absent;
  absent.null_at = {11};
  RunCall(233, absent);
}

TEST_F(Catalogue, NullPointersGiveEmptyBlocksThatStayNull) {
  Options third;
  third.null_at = {10};
  RunCall(2000, third);  // SAPMergeFiles: third block empty
  Options sixth;
  sixth.null_at = {24};
  RunCall(401, sixth);  // SAPSysSetting1: third buffer block empty
  Options port;
  port.null_at = {7};
  port.zero_length_at = {7};
  RunCall(688, port);  // SAPRequestPrtPort1: NULL buffer of length 0
  Options links;
  links.null_at = {8};
  links.zero_length_at = {8};
  RunCall(314, links);  // SAPGetLinks1: first buffer NULL, length 0
}

TEST_F(Catalogue, LongestAndShortestBuffers) {
  Options longest;
  longest.length_of = {{6, 255}};
  RunCall(325, longest);  // SAPGetInfo1: an 8-bit length of 255
  longest.length_of = {{20, 65535}};
  RunCall(288, longest);  // SAPDetach1: a 16-bit length of 65535
  Options lone_terminator;
  lone_terminator.empty_string_at = {6};
  RunCall(1001, lone_terminator);  // SAPEncryptFile: "" makes a 1-byte block
}

TEST_F(Catalogue, PrintChainsOfZeroOneAndThreeNodes) {
  for (int nodes : {0, 1, 3}) {
    Options chain;
    chain.chain_nodes = nodes;
    RunCall(222, chain);  // three nodes: 7 client blocks, 8 on the server
  }
}

TEST_F(Catalogue, EncryptPicOfSealReturnsTheNewCountButTheOldNumberOfBytes) {
  Options standard;
  const Expectation& e = ExpectationOf("SAPGetEncryptPicOfSeal");
  AppMemory app(e, 1006, standard);
  SAPGetEncryptPicOfSeal* record = reinterpret_cast<SAPGetEncryptPicOfSeal*>(app.record());
  uint32_t* cell = record->pLengthCell;
  unsigned char* data = record->pData;
  ASSERT_EQ(*cell, 100u);
  uint32_t stored = 0;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(record), 1006);
    ASSERT_EQ(package.m_pBlocks->size(), 4u);
    EXPECT_EQ((*package.m_pBlocks)[0]->m_nSize, 100u);
    EXPECT_TRUE(Succeeded(Server::Call(record, 1006)));
    // The server has put its own count into the cell; another process then
    // stores 200, as a server that produced a larger picture would.
    const auto* shared_cell = static_cast<const uint8_t*>((*package.m_pBlocks)[1]->m_pShared);
    EXPECT_NE(Read32(shared_cell), 100u);
    EXPECT_NE(transport_test::RunPeer("poke " + NameOf(cell) + " 0 c8000000").find("ok"), std::string::npos);
    stored = Read32(shared_cell);
    EXPECT_EQ(stored, 200u);
  }
  EXPECT_EQ(*cell, stored);
  for (uint32_t j = 0; j < 100; ++j) ASSERT_GE(data[j], 0x80) << "data byte " << j << " did not come back";
  for (uint32_t j = 100; j < 100 + kGuard; ++j)
    EXPECT_EQ(data[j], kGuardByte) << "byte " << j << " came back";
  EXPECT_EQ(LeftoverBlocks(), 0);
}

// ---- Chains without a server: refused before any block exists ----------------

TEST(CatalogueChains, CyclicChainsAreRefusedWithInvalidParameter) {
  SAPPrintNode first{{1, 2, 3, 4}, nullptr};
  SAPPrintNode second{{5, 6, 7, 8}, &first};
  first.pNext = &second;
  char text[] = "\x01\x02";
  SAPPrint1 print{};
  print.pszFirst = text;
  print.pChain = &first;
  unsigned long thrown = 0;
  try {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&print), 222);
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 87u);
  EXPECT_EQ(first.pNext, &second);

  char name[] = "\x03";
  USBPrinterNode node{{0}, name, name, nullptr, nullptr};
  node.pNext = &node;
  USBPrinter printer{{0}, &node};
  thrown = 0;
  try {
    c_QARNPlus_Legpack package(&printer, true);
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(thrown, 87u);
  EXPECT_EQ(LeftoverBlocks(), 0);
}

// ---- The USB printer, with doc_peer as the server's end ----------------------

struct UsbPrinterSetup {
  char strings[4][8] = {"\x01\x02\x03", "\x04\x05", "\x06\x07\x08\x09", "\x0a"};
  USBPrinterNode nodes[2];
  USBPrinter printer;
  UsbPrinterSetup() {
    nodes[0] = USBPrinterNode{{0x11, 0x12, 0x13, 0x14}, strings[0], strings[1], &nodes[1], nullptr};
    nodes[1] = USBPrinterNode{{0x15, 0x16, 0x17, 0x18}, strings[2], strings[3], nullptr, nullptr};
    printer = USBPrinter{{0x19, 0x1a, 0x1b, 0x1c}, &nodes[0]};
  }
};

TEST(CatalogueUsbPrinter, TwoNodesMakeSevenBlocksAndNothingComesBack) {
  UsbPrinterSetup usb;
  usb.nodes[1].pSecondLink = &usb.nodes[0];  // the second link may name another node
  const UsbPrinterSetup before = usb;
  {
    c_QARNPlus_Legpack package(&usb.printer, true);
    const std::vector<c_QARNPlus_Shrmem*>& blocks = *package.m_pBlocks;
    const struct {
      const void* local;
      unsigned long size;
    } want[] = {{usb.strings[0], 4}, {usb.strings[1], 3}, {&usb.nodes[0], 20}, {usb.strings[2], 5},
                {usb.strings[3], 2}, {&usb.nodes[1], 20}, {&usb.printer, 8}};
    ASSERT_EQ(blocks.size(), 7u);
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i]->m_pLocal, want[i].local) << i;
      EXPECT_EQ(blocks[i]->m_nSize, want[i].size) << i;
      EXPECT_FALSE(blocks[i]->m_bMerge) << i;
    }
    // Server side: the record, the head, per node its offsets 4, 8, 12, 16.
    const std::string out = transport_test::RunPeer("usb " + NameOf(&usb.printer));
    EXPECT_NE(out.find("blocks 10"), std::string::npos) << out;
    EXPECT_NE(out.find("node 1 second null"), std::string::npos) << out;
    EXPECT_NE(out.find("node 2 second 11121314"), std::string::npos) << out;  // a view of node 1
    // Whatever the server writes stays in shared memory.
    for (const void* p : {static_cast<const void*>(usb.strings[0]), static_cast<const void*>(&usb.nodes[1]),
                          static_cast<const void*>(&usb.printer)}) {
      EXPECT_NE(transport_test::RunPeer("poke " + NameOf(p) + " 0 fefe").find("ok"), std::string::npos);
    }
  }
  EXPECT_EQ(memcmp(&usb, &before, sizeof usb), 0);
  EXPECT_EQ(LeftoverBlocks(), 0);
}

TEST(CatalogueUsbPrinter, EmptyChainMakesTheRecordBlockOnly) {
  UsbPrinterSetup usb;
  usb.printer.pChain = nullptr;
  c_QARNPlus_Legpack package(&usb.printer, true);
  ASSERT_EQ(package.m_pBlocks->size(), 1u);
  EXPECT_EQ((*package.m_pBlocks)[0]->m_nSize, 8u);
  EXPECT_NE(transport_test::RunPeer("usb " + NameOf(&usb.printer)).find("blocks 2"), std::string::npos);
}

}  // namespace
