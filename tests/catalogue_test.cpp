// Every record end to end: the stand-in server (another process) writes its
// pattern into every byte of the package it can reach, and the application
// checks what came back against the table below, written independently.
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "doc_peer_client.h"
#include "fuzz/package_harness.h"
#include "peer_session.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/record_list.h"
#include "qarnplus/records.h"
#include "qarnplus/server.h"
#include "transport/record_rules.h"

namespace {

using qarn::test::ReplyValue;
using transport_test::LeftoverBlocks;
using transport_test::NameOf;

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
  return Expectations().front();
}

struct CodeCase {
  uint32_t code;
  const char* type;
};
#define QARN_CODE_CASE(code, Type) CodeCase{code, #Type},
const CodeCase kCodes[] = {QARN_API_CODES(QARN_CODE_CASE)};
#undef QARN_CODE_CASE

// Application bytes are 0x01 to 0x1F: never zero (strings stay whole) nor a
// byte the server writes (its pattern has the top bit set, its text printable).
uint8_t AppByte(uint32_t seed, uint32_t index) { return static_cast<uint8_t>(1 + (seed * 7 + index) % 31); }
constexpr size_t kGuard = 8;
constexpr uint8_t kGuardByte = 0x5A;
constexpr uint16_t kPairFirst = 16, kPairSecond = 32;
constexpr uint32_t kCellValue = 100;
constexpr uint16_t kElementCount = 3;

void Write32(uint8_t* at, uint32_t v) { memcpy(at, &v, 4); }

// Width of the record's length field that a buffer of this kind reads.
uint32_t LengthWidth(Kind kind) {
  if (kind == Kind::kLength8) return 1;
  if (kind == Kind::kLength16 || kind == Kind::kShapeLength16 || kind == Kind::kElements) return 2;
  return kind == Kind::kLength32 || kind == Kind::kShapeLength32 ? 4 : 0;
}
void WritePointer(uint8_t* at, const void* p) {
  Write32(at, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

// Variations of the standard filling, for the edge cases.
struct Options {
  std::set<uint16_t> null_at;              // these pointer fields are NULL
  std::map<uint16_t, uint32_t> length_of;  // string or buffer at -> its length instead of the standard one
  int chain_nodes = 2;
};

// One block's memory on the application's side, with guard bytes behind it.
struct Area {
  std::vector<uint8_t> bytes;  // content + guard
  std::vector<uint8_t> original;
  uint32_t size = 0;  // 0: an empty block for a NULL pointer
  bool back = false;  // comes back (the record: its back ranges)
  int link_at = -1;   // a node's link, which the server's view rewrites
  bool is_string = false;
  const void* local() const { return size == 0 ? nullptr : bytes.data(); }
};

class AppMemory {
 public:
  AppMemory(const Expectation& e, uint32_t code, const Options& options)
      : e_(e), options_(options), record_(*NewArea(e.size, false, code)) {
    record_.back = !BackRanges().empty();
    for (size_t s = 0; s < e.slots.size(); ++s) Fill(e.slots[s], static_cast<uint32_t>(s));
    blocks_.push_back(&record_);
    for (Area* area : blocks_) area->original = area->bytes;
    // The caller's record as it must look afterwards: an empty optional
    // string is NULL from the call on.
    for (const Slot& slot : e.slots) {
      if (slot.kind == Kind::kNonEmptyString && !MakesBlock(slot))
        WritePointer(&record_.original[slot.at], nullptr);
    }
  }

  uint8_t* record() { return record_.bytes.data(); }
  // The client's blocks in order: per field, then the record.
  const std::vector<Area*>& blocks() const { return blocks_; }
  // Blocks the server opens: the record, one per block field, N + 1 per chain.
  size_t server_blocks() const { return server_blocks_; }

  bool Masked() const { return !BackRanges().empty() && !(BackRanges() == Whole(e_.size)); }
  bool InBack(uint32_t at) const {
    for (const Range& r : BackRanges()) {
      if (at >= r.first && at <= r.last) return true;
    }
    return false;
  }
  // Bytes the server may leave: addresses it rewrites in its view, string
  // terminators, and SAPGetErrMes1's room, whose upper bytes may stay zero.
  bool ServerMayLeave(const Area& area, uint32_t at, uint32_t code) const {
    if (&area != &record_) {
      return (area.link_at >= 0 && at - area.link_at < 4u) || (area.is_string && at + 1 == area.size);
    }
    for (const Slot& slot : e_.slots) {
      if (at >= slot.at && at < slot.at + 4u) return true;
    }
    return code == 8 && at >= 6 && at <= 9;
  }

 private:
  bool MakesBlock(const Slot& slot) const {
    if (slot.kind == Kind::kCallerAddress || slot.kind == Kind::kChain) return false;
    const bool null = options_.null_at.count(slot.at) != 0;
    if (slot.kind == Kind::kOptionalString || slot.kind == Kind::kOptionalFixed) return !null;
    const bool may_be_empty = slot.kind == Kind::kNonEmptyString || slot.kind == Kind::kShapeLength16 ||
                              slot.kind == Kind::kShapeLength32;
    return !may_be_empty || (!null && LengthOf(slot, 1) != 0);
  }
  const std::vector<Range>& BackRanges() const {
    for (const Slot& slot : e_.slots) {
      if ((slot.kind == Kind::kShapeLength16 || slot.kind == Kind::kShapeLength32) && !MakesBlock(slot))
        return e_.back_without_buffer;
    }
    return e_.back;
  }

  Area* NewArea(uint32_t size, bool back, uint32_t seed) {
    Area& area = areas_.emplace_back();
    area.bytes.assign(size + kGuard, kGuardByte);
    for (uint32_t j = 0; j < size; ++j) area.bytes[j] = AppByte(seed, j);
    area.size = size;
    area.back = back;
    return &area;
  }

  uint32_t LengthOf(const Slot& slot, uint32_t standard) const {
    const auto length = options_.length_of.find(slot.at);
    return length != options_.length_of.end() ? length->second : standard;
  }

  // Lengths are little-endian, as wide as the record's field.
  void SetLength(const Slot& slot, uint32_t value) {
    memcpy(&record_.bytes[slot.arg], &value, LengthWidth(slot.kind));
  }

  void Fill(const Slot& slot, uint32_t index) {
    const uint32_t seed = index + 1000 * e_.size;
    if (slot.kind == Kind::kCallerAddress) return Write32(&record_.bytes[slot.at], 0xCA11E000u + slot.at);
    if (slot.kind == Kind::kChain) return FillChain(slot, seed);
    uint32_t size = slot.kind == Kind::kPair || slot.kind == Kind::kCell ? 4 : slot.arg;
    if (slot.kind == Kind::kPairData) size = kPairFirst + kPairSecond;
    if (slot.kind == Kind::kCellData) size = kCellValue;
    if (slot.kind == Kind::kElements) {
      SetLength(slot, kElementCount);
      size = 2 * kElementCount;
    }
    if (slot.kind <= Kind::kNonEmptyString) size = LengthOf(slot, 5 + 3 * index) + 1;
    if (slot.kind >= Kind::kLength8 && slot.kind <= Kind::kShapeLength32) {
      // Every byte of a length stays below 0x80, apart from the server's pattern.
      const uint32_t standard = slot.kind == Kind::kLength8 ? 100 : slot.kind == Kind::kLength32 ? 1030 : 300;
      size = LengthOf(slot, standard + 7 * index);
      SetLength(slot, size);
    }
    const bool made = MakesBlock(slot);
    server_blocks_ += made ? 1 : 0;
    const bool back = slot.kind != Kind::kStringIn;
    Area* area = nullptr;
    if (options_.null_at.count(slot.at) != 0) {
      if (made) area = NewArea(0, back, seed);  // an empty block on both sides
      WritePointer(&record_.bytes[slot.at], nullptr);
    } else {
      area = NewArea(size, back, seed);
      area->is_string = slot.kind <= Kind::kNonEmptyString;
      if (area->is_string) area->bytes[size - 1] = 0;
      if (slot.kind == Kind::kPair) Write32(area->bytes.data(), kPairFirst | kPairSecond << 16);
      if (slot.kind == Kind::kCell) Write32(area->bytes.data(), kCellValue);
      WritePointer(&record_.bytes[slot.at], area->bytes.data());
    }
    if (made) blocks_.push_back(area);
  }

  void FillChain(const Slot& slot, uint32_t seed) {
    uint8_t* link = &record_.bytes[slot.at];
    for (int n = 0; n < options_.chain_nodes; ++n) {
      Area* node = NewArea(sizeof(SAPPrintNode), false, seed + 11 * n);
      node->link_at = offsetof(SAPPrintNode, pNext);
      WritePointer(link, node->bytes.data());
      link = node->bytes.data() + node->link_at;
      blocks_.push_back(node);
    }
    WritePointer(link, nullptr);
    server_blocks_ += options_.chain_nodes + 1;
  }

  const Expectation& e_;
  Options options_;
  std::deque<Area> areas_;  // referenced by pointer: a deque never moves them
  Area& record_;
  std::vector<Area*> blocks_;
  size_t server_blocks_ = 1;
};

// One stand-in server for the whole suite.
class Catalogue : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    if (session_ != nullptr) f_QARNDRV_Init(session_);
  }
  static void TearDownTestSuite() {
    if (session_ != nullptr) f_QARNSVR_FreeLibrary(session_);
  }
  void SetUp() override { ASSERT_NE(session_, nullptr) << "qarn_svr did not start"; }
  void TearDown() override { EXPECT_EQ(LeftoverBlocks(), 0) << "a block outlived its package"; }

  static std::string Call(const std::string& request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session_, request.c_str(), &reply, nullptr);
    return reply == nullptr ? "" : reply;
  }
  // The reply to "call <record> <code>".
  static std::string Call(const void* record, uint32_t code) {
    return Call("call " + NameOf(record) + " " + std::to_string(code));
  }
  static bool Succeeded(const std::string& reply) { return ReplyValue(reply, "SUCCESS") == "true"; }

  // Builds the package, lets the server work, releases the package and
  // checks every byte of the application's memory.
  static void RunCall(uint32_t code, const Options& options = Options()) {
    const char* type = "";
    for (const CodeCase& c : kCodes) {
      if (c.code == code) type = c.type;
    }
    const Expectation& e = ExpectationOf(type);
    SCOPED_TRACE(testing::Message() << type << " (code " << code << ")");
    AppMemory app(e, code, options);
    const std::vector<Area*>& want = app.blocks();
    std::vector<std::vector<uint8_t>> server_bytes(want.size());
    {
      c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(app.record()), code);
      EXPECT_EQ(package.Local(), nullptr);
      const std::vector<c_QARNPlus_Shrmem*>& blocks = *package.m_pBlocks;
      ASSERT_EQ(blocks.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "client block " << i);
        const Area& area = *want[i];
        EXPECT_EQ(blocks[i]->m_pLocal, area.local());
        EXPECT_EQ(blocks[i]->m_nSize, area.size);
        EXPECT_EQ(blocks[i]->m_bMerge, area.back);
        EXPECT_EQ(blocks[i]->m_pMask != nullptr, i + 1 == want.size() && app.Masked());
        ASSERT_EQ(blocks[i]->m_pShared != nullptr, area.size != 0);
        // The server sees the application's bytes, its own addresses zeroed.
        std::vector<uint8_t> sent(area.bytes.begin(), area.bytes.begin() + area.size);
        for (const Slot& slot : e.slots) {
          if (i + 1 == want.size() && slot.kind == Kind::kCallerAddress) Write32(&sent[slot.at], 0);
        }
        const auto* shared = static_cast<const uint8_t*>(blocks[i]->m_pShared);
        EXPECT_EQ(std::vector<uint8_t>(shared, shared + area.size), sent);
      }

      const std::string reply = Call(app.record(), code);
      EXPECT_TRUE(Succeeded(reply)) << reply;
      EXPECT_EQ(ReplyValue(reply, "blocks"), std::to_string(app.server_blocks())) << reply;
      // The server must have written every byte it could reach; otherwise
      // the checks below would prove nothing.
      for (size_t i = 0; i < want.size(); ++i) {
        const auto* shared = static_cast<const uint8_t*>(blocks[i]->m_pShared);
        server_bytes[i].assign(shared, shared + want[i]->size);
        for (uint32_t at = 0; at < want[i]->size; ++at) {
          if (app.ServerMayLeave(*want[i], at, code)) continue;
          ASSERT_NE(server_bytes[i][at], want[i]->original[at])
              << "the server left byte " << at << " of " << i;
        }
      }
    }
    // Buffers come back whole or not at all, the record just its back
    // ranges; nothing beyond a block changes.
    for (size_t i = 0; i < want.size(); ++i) {
      std::vector<uint8_t> expected = want[i]->original;
      for (uint32_t at = 0; at < want[i]->size; ++at) {
        if (i + 1 == want.size() ? app.InBack(at) : want[i]->back) expected[at] = server_bytes[i][at];
      }
      EXPECT_EQ(want[i]->bytes, expected) << "client block " << i;
    }
  }

  static void* session_;
};
void* Catalogue::session_ = nullptr;

TEST_F(Catalogue, EveryApiCodeTravelsEndToEnd) {
  EXPECT_EQ(sizeof(kCodes) / sizeof(kCodes[0]), 78u);
  for (const CodeCase& c : kCodes) RunCall(c.code);
}

TEST_F(Catalogue, OptionalEmptyAndExtremeFieldsTravelEndToEnd) {
  const struct {
    const char* what;
    uint32_t code;
    Options options;
  } cases[] = {
      {"no message buffer: the text and the length field", 8, {{2}, {}}},
      {"a message buffer of length 0 takes the same shape", 8, {{}, {{2, 0}}}},
      {"no key buffer: the record alone", 10, {{2}, {}}},
      {"a key buffer of length 0", 10, {{}, {{2, 0}}}},
      {"no strings: the two 128-byte buffers and the record", 1005, {{2, 6}, {}}},
      {"no optional 128-byte buffers", 322, {{113, 119}, {}}},
      {"an empty optional string becomes NULL", 233, {{}, {{11, 0}}}},
      {"an absent optional string", 233, {{11}, {}}},
      {"a NULL string gives an empty block", 2000, {{10}, {}}},
      {"a string longer than a page is written whole", 2000, {{}, {{10, 5000}}}},
      {"a NULL fixed buffer gives an empty block", 401, {{24}, {}}},
      {"a NULL first buffer of length 0", 314, {{8}, {{8, 0}}}},
      {"an 8-bit length of 255", 325, {{}, {{6, 255}}}},
      {"a 16-bit length of 65535", 288, {{}, {{20, 65535}}}},
      {"\"\" makes a 1-byte block", 1001, {{}, {{6, 0}}}},
      {"a print chain of no node", 222, {{}, {}, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunCall(c.code, c.options);
  }
}

// The server puts its count into the length cell, another process a larger one:
// the application gets the new count, but no more bytes than its buffer holds.
TEST_F(Catalogue, LengthCellBringsBackTheNewCountButTheOldNumberOfBytes) {
  AppMemory app(ExpectationOf("SAPGetEncryptPicOfSeal"), 1006, Options());
  const auto* record = reinterpret_cast<const SAPGetEncryptPicOfSeal*>(app.record());
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(app.record()), 1006);
    EXPECT_TRUE(Succeeded(Call(record, 1006)));
    EXPECT_EQ(transport_test::RunPeer("poke " + NameOf(record->pLengthCell) + " 0 c8000000"), "ok\n");
  }
  EXPECT_EQ(*record->pLengthCell, 200u);
  for (uint32_t j = 0; j < kCellValue + kGuard; ++j) {
    EXPECT_EQ(record->pData[j] >= 0x80, j < kCellValue) << "data byte " << j;
  }
}

// With no buffer for its message, the server reports the room the message
// would need: the only record bytes that come back then.
TEST_F(Catalogue, ErrorMessageWithoutABufferReportsTheRoomItNeeds) {
  char text[] = "t";
  SAPGetErrMes1 record{4660, nullptr, 0, text};
  SAPGetErrMes1 expected = record;
  expected.nMessageLen = sizeof "QARN error 4660";
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
    EXPECT_TRUE(Succeeded(Call(&record, 8)));
  }
  EXPECT_EQ(memcmp(&record, &expected, sizeof record), 0);
}

// Requests naming no record or no known code: a defined answer, the record untouched.
TEST_F(Catalogue, CallsThatSelectNoRecordAreAnsweredWithTheirCode) {
  SAPGetVersion1 record;
  memset(&record, 0x44, sizeof record);
  const SAPGetVersion1 before = record;
  const std::string name = NameOf(&record);
  // Codes that select no record: the record block alone is opened.
  const struct {
    std::string request, code, blocks;
  } cases[] = {
      {"call " + name + " 00", "1", "1"},
      {"call " + name + " x", "1", "1"},
      {"call " + name + " 9", "1", "1"},
      {"call " + name + " -1", "1", "1"},
      {"call " + name + " 99999999999", "1", "1"},
      {"call no-such-block 8", "2", "0"},
      {"call 0 8", "87", "0"},
      {"usb 0", "87", "0"},
  };
  // Words that do not fit the verb.
  for (const char* words :
       {"usb", "usb 0x10", "usb +5", "usb 007", "usb -0", "usb 2147483648", "usb 12 13", "usb printer"}) {
    EXPECT_EQ(ReplyValue(Call(words), "code"), "3") << words;
  }
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 1);
    for (const auto& c : cases) {
      const std::string reply = Call(c.request);
      EXPECT_EQ(ReplyValue(reply, "code"), c.code) << c.request;
      EXPECT_EQ(ReplyValue(reply, "blocks"), c.blocks) << c.request;
      if (c.request.rfind("usb", 0) == 0) EXPECT_EQ(ReplyValue(reply, "nodes"), "0") << c.request;
    }
  }
  EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
}

// A chain as long as the limit travels; one node more is refused by the
// package and, from a client that bypasses the package, by the server.
TEST_F(Catalogue, ChainsUpToTheLimitTravelAndLongerOnesAreRefused) {
  constexpr size_t kLimit = 4096;  // the nodes one chain may have
  std::vector<SAPPrintNode> nodes(kLimit + 1);
  for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].pNext = &nodes[i + 1];
  SAPPrint1 record{0, nullptr, {0}, nodes.data(), nullptr, 0, nullptr, {0}};
  EXPECT_THROW(c_QARNPlus_Legpack(reinterpret_cast<SedApiPara*>(&record), 222), unsigned long);
  std::vector<std::unique_ptr<c_QARNPlus_Shrmem>> blocks;
  for (SAPPrintNode& node : nodes)
    blocks.emplace_back(new c_QARNPlus_Shrmem(&node, sizeof node, false, nullptr));
  blocks.emplace_back(new c_QARNPlus_Shrmem(&record, sizeof record, false, nullptr));
  EXPECT_EQ(ReplyValue(Call(&record, 222), "code"), "87");
  blocks.clear();
  nodes[kLimit - 1].pNext = nullptr;
  c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 222);
  const std::string reply = Call(&record, 222);
  EXPECT_TRUE(Succeeded(reply)) << reply;
  // The record, its three other (empty) fields, N + 1 for the chain.
  EXPECT_EQ(ReplyValue(reply, "blocks"), std::to_string(kLimit + 5)) << reply;
}

// "usb" makes the server open the printer record through its own package and
// write 0x80 | ((place + i) & 0x7F) into every byte it may, place being a
// field's offset + 1 (0: the 4 opaque bytes). The caller's memory stays.
TEST_F(Catalogue, UsbPrinterChainStaysTheCallersAlthoughTheServerWroteIntoEveryBlock) {
  struct {
    char a1[3] = "a1", a2[3] = "a2", b1[3] = "b1", b2[4] = "b22";
    USBPrinterNode first, second;
    USBPrinter printer;
  } m;
  m.second = {{0x21, 0x22, 0x23, 0x24}, m.b1, m.b2, nullptr, &m.first};
  m.first = {{0x11, 0x12, 0x13, 0x14}, m.a1, m.a2, &m.second, nullptr};
  m.printer = {{1, 2, 3, 4}, &m.first};
  const auto* bytes = reinterpret_cast<const uint8_t*>(&m);
  const std::vector<uint8_t> before(bytes, bytes + sizeof m);
  {
    c_QARNPlus_Legpack package(&m.printer, true);
    const std::vector<c_QARNPlus_Shrmem*>& blocks = *package.m_pBlocks;
    ASSERT_EQ(blocks.size(), 7u);
    const std::string reply = Call("usb " + NameOf(&m.printer));
    EXPECT_TRUE(Succeeded(reply)) << reply;
    // The record, the head, four fields per node (the last next link and
    // node 1's second link empty).
    EXPECT_EQ(ReplyValue(reply, "blocks"), "10") << reply;
    EXPECT_EQ(ReplyValue(reply, "nodes"), "2") << reply;
    // Blocks in client order: per node its two strings and itself, then the
    // record. The strings' places are their node offsets 4 and 8, plus 1.
    const struct {
      size_t block;
      uint32_t place, length;
    } written[] = {{0, 5, 2}, {1, 9, 2}, {3, 5, 2}, {4, 9, 3}, {2, 0, 4}, {5, 0, 4}, {6, 0, 4}};
    for (const auto& w : written) {
      const auto* shared = static_cast<const uint8_t*>(blocks[w.block]->m_pShared);
      for (uint32_t i = 0; i < w.length; ++i) {
        EXPECT_EQ(shared[i], 0x80u | ((w.place + i) & 0x7Fu)) << "block " << w.block << " byte " << i;
      }
    }
    // The links hold the server's addresses now; the NULL ones stay NULL.
    const struct {
      size_t block, at;
      bool set;
    } links[] = {{6, 4, true}, {2, 12, true}, {2, 16, false}, {5, 12, false}, {5, 16, true}};
    for (const auto& link : links) {
      uint32_t value;
      memcpy(&value, static_cast<const uint8_t*>(blocks[link.block]->m_pShared) + link.at, 4);
      EXPECT_EQ(value != 0, link.set) << "block " << link.block << " at " << link.at;
    }
  }
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof m), before);
}

TEST_F(Catalogue, UsbPrinterMissingBlocksFailWithTheirCode) {
  const auto code = [](const std::string& request) { return ReplyValue(Call(request), "code"); };
  uint32_t small = 0;
  {
    c_QARNPlus_Shrmem block(&small, sizeof small, false, nullptr);
    EXPECT_EQ(code("usb " + NameOf(&small)), "87") << "a record block too small for the record";
  }
  USBPrinter unsent{{0}, nullptr};
  EXPECT_EQ(code("usb " + NameOf(&unsent)), "2");
  // A second link to something the package made no block for: the server's
  // open fails part way through the chain, and the server goes on serving.
  int stray = 0;
  char s1[] = "s1", s2[] = "s2";
  USBPrinterNode node{{0}, s1, s2, nullptr, &stray};
  USBPrinter printer{{0}, &node};
  {
    c_QARNPlus_Legpack package(&printer, true);
    EXPECT_EQ(code("usb " + NameOf(&printer)), "2");
    node.pSecondLink = nullptr;
  }
  // The driver's last error tells a failed document call (6) from a good one.
  EXPECT_EQ(f_QARNDRV_GetLastError(session_), 6);
  c_QARNPlus_Legpack package(&printer, true);
  EXPECT_EQ(ReplyValue(Call("usb " + NameOf(&printer)), "nodes"), "1");
  EXPECT_EQ(f_QARNDRV_GetLastError(session_), 0);
}

// Found by the package fuzzer: length fields that claim more than their block
// holds made the server write past its view. Its message is cut to the block.
TEST_F(Catalogue, FuzzedLengthsBeyondTheirBlockAreNotBelieved) {
  constexpr uint8_t kShortString = 0, kNodeBuffer = 3;  // what an aim points at
  // Error 7, the buffer's length 9000 (0x2328): far beyond its 16 bytes.
  const std::vector<uint8_t> error_record = {7, 0, 0, 0, 0, 0, 0x28, 0x23, 0, 0, 0, 0, 0, 0};
  const struct {
    uint8_t code;
    std::vector<uint8_t> patches, aims, record;
    const char* text;
  } cases[] = {
      {8, {}, {kShortString, kShortString}, error_record, "QARN error 7"},
      // A patch writes a pointer over the length pair in the node buffer: its
      // halves add up to tens of kilobytes. The string is left alone.
      {212,
       {1 + kNodeBuffer, 0, kShortString},
       {kShortString, kNodeBuffer},
       std::vector<uint8_t>(79, 0),
       "document.gw"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << int{c.code});
    // Direct code; flags: aim and document call; no own size; the patches.
    std::vector<uint8_t> input = {0xFF, c.code, 0, 0x09, 0, static_cast<uint8_t>(c.patches.size() / 3)};
    for (const std::vector<uint8_t>* part : {&c.patches, &c.aims, &c.record})
      input.insert(input.end(), part->begin(), part->end());
    bool called = false;
    qarn::fuzz::RunPackageInput(input.data(), input.size(), [&](const char* name, const char* code) {
      called = true;
      const std::string reply = Call(std::string("call ") + name + " " + code);
      EXPECT_TRUE(Succeeded(reply)) << reply;
      c_QARNPlus_Shrmem buffer(static_cast<const void*>(qarn::fuzz::package::OwnMemory().buffers[0]));
      const char* text = static_cast<const char*>(buffer.Local());
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::string(text, strnlen(text, 16)), c.text);
    });
    EXPECT_TRUE(called);
  }
  EXPECT_GT(f_QARNSVR_GetVersion(session_), 0) << "the server did not survive the calls";
}

// The client tool writes a buffer's length field as wide as the rules say:
// as wide as the record's own field.
TEST(CatalogueRules, LengthFieldsAreAsWideAsTheRecords) {
  for (const CodeCase& c : kCodes) {
    const qarn::transport::RecordRule* rule = qarn::transport::FindRecordRule(c.code);
    ASSERT_NE(rule, nullptr) << c.type;
    for (const Slot& slot : ExpectationOf(c.type).slots) {
      for (uint8_t i = 0; i < rule->field_count; ++i) {
        if (rule->fields[i].offset != slot.at) continue;
        EXPECT_EQ(qarn::transport::LengthFieldWidth(rule->fields[i].size), LengthWidth(slot.kind))
            << c.type << " " << slot.at;
      }
    }
  }
}

}  // namespace
