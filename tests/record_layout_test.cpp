// Cross-checks of the record catalogue against the record structs: every
// API code maps to the right type, every rule has the struct's size and
// pointer fields, and no rule could ever leak a server address or read a
// length from outside its record.
#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "qarnplus/record_list.h"
#include "qarnplus/records.h"
#include "transport/record_rules.h"

namespace {
using namespace qarn::transport;

// The pointer fields of each struct, by member name: a buffer with its
// length member, or a plain pointer (string, fixed buffer, chain head,
// caller-side address).
struct PointerMember {
  size_t at;
  size_t length_at;     // 0: no length member
  size_t length_width;  // bytes of the length member
};
struct TypeLayout {
  const char* name;
  size_t size;
  std::vector<PointerMember> pointers;
};

#define PTR(T, p) \
  PointerMember { offsetof(T, p), 0, 0 }
#define BUF(T, p, n) \
  PointerMember { offsetof(T, p), offsetof(T, n), sizeof(T::n) }
#define AT(T, p, i) \
  PointerMember { offsetof(T, p) + 4 * (i), 0, 0 }
#define TYPE(T, ...)               \
  TypeLayout {                     \
#T, sizeof(T), { __VA_ARGS__ } \
  }

const std::vector<TypeLayout>& Layouts() {
  static const std::vector<TypeLayout> layouts = {
      TYPE(SAPGetVersion1),
      TYPE(SAPSetParentWnd1),
      TYPE(SAPGetErrMes1, BUF(SAPGetErrMes1, pMessage, nMessageLen), PTR(SAPGetErrMes1, pszText)),
      TYPE(SAPGetPublicKey1, BUF(SAPGetPublicKey1, pKey, nKeyLen)),
      TYPE(SAPGenPKIKey, PTR(SAPGenPKIKey, pszText), PTR(SAPGenPKIKey, pFirstBuffer260),
           PTR(SAPGenPKIKey, pSecondBuffer260)),
      TYPE(SAPSetPKIKeySPath, BUF(SAPSetPKIKeySPath, pPath, nPathLen)),
      TYPE(SAPGenPKIKeyBuf),
      TYPE(SAPSetInputCipherProc1, PTR(SAPSetInputCipherProc1, pfnCallback)),
      TYPE(SAPSetIsUserAbortProc1, PTR(SAPSetIsUserAbortProc1, pfnCallback)),
      TYPE(SAPSetDispPrintErrProc1, PTR(SAPSetDispPrintErrProc1, pfnCallback)),
      TYPE(SAPSetDispPageNoProc1, PTR(SAPSetDispPageNoProc1, pfnCallback)),
      TYPE(SAPSetDispNewPaperProc1, PTR(SAPSetDispNewPaperProc1, pfnCallback)),
      TYPE(SAPSetConfirmProc1, PTR(SAPSetConfirmProc1, pfnCallback)),
      TYPE(SAPSetSelSealProc1, PTR(SAPSetSelSealProc1, pfnCallback)),
      TYPE(SAPSetHardwareWarningProc1, PTR(SAPSetHardwareWarningProc1, pfnCallback)),
      TYPE(SAPCreateSeal1, PTR(SAPCreateSeal1, pszFirst), PTR(SAPCreateSeal1, pszSecond),
           PTR(SAPCreateSeal1, pszThird), PTR(SAPCreateSeal1, pszFourth),
           PTR(SAPCreateSeal1, pCallerAddress)),
      TYPE(SAPBeginEncrypt1),
      TYPE(SAPEncrypt3, PTR(SAPEncrypt3, pFirstBuffer260), PTR(SAPEncrypt3, pByte),
           PTR(SAPEncrypt3, pSecondBuffer260)),
      TYPE(SAPEndEncrypt1),
      TYPE(SAPEncrypt_CA, PTR(SAPEncrypt_CA, pData), PTR(SAPEncrypt_CA, pLengthPair)),
      TYPE(SAPConvert, PTR(SAPConvert, pszFirst), PTR(SAPConvert, pszSecond)),
      TYPE(SAPVerfiy, PTR(SAPVerfiy, pszText), BUF(SAPVerfiy, pData, nDataLen)),
      TYPE(SAPPrint1, PTR(SAPPrint1, pszFirst), PTR(SAPPrint1, pChain), BUF(SAPPrint1, pBuffer, nBufferLen),
           PTR(SAPPrint1, pszSecond)),
      TYPE(SAPPrint_MEDIAGWFILE, PTR(SAPPrint_MEDIAGWFILE, pszText)),
      TYPE(SAPPrintEx1, PTR(SAPPrintEx1, pszFirst), BUF(SAPPrintEx1, pBuffer, nBufferLen),
           PTR(SAPPrintEx1, pszSecond)),
      TYPE(SAPFwdDoc1, PTR(SAPFwdDoc1, pszFirst), BUF(SAPFwdDoc1, pBuffer, nBufferLen),
           PTR(SAPFwdDoc1, pszSecond), PTR(SAPFwdDoc1, pszThird), PTR(SAPFwdDoc1, pszFourth)),
      TYPE(SAPArchive1, PTR(SAPArchive1, pszFirst), BUF(SAPArchive1, pBuffer, nBufferLen),
           PTR(SAPArchive1, pszSecond)),
      TYPE(SAPDetach1, PTR(SAPDetach1, pszFirst), BUF(SAPDetach1, pFirstBuffer, nFirstBufferLen),
           PTR(SAPDetach1, pszSecond), PTR(SAPDetach1, pszThird),
           BUF(SAPDetach1, pSecondBuffer, nSecondBufferLen)),
      TYPE(SAPGetText3, PTR(SAPGetText3, pszFirst), BUF(SAPGetText3, pBuffer, nBufferLen),
           PTR(SAPGetText3, pszSecond)),
      TYPE(SAPGetLinks1, PTR(SAPGetLinks1, pszText), BUF(SAPGetLinks1, pFirstBuffer, nFirstBufferLen),
           BUF(SAPGetLinks1, pSecondBuffer, nSecondBufferLen),
           BUF(SAPGetLinks1, pThirdBuffer, nThirdBufferLen)),
      TYPE(SAPCheckLinks1, PTR(SAPCheckLinks1, pszFirst), PTR(SAPCheckLinks1, pszSecond),
           PTR(SAPCheckLinks1, pszThird), BUF(SAPCheckLinks1, pFirstBuffer, nFirstBufferLen),
           BUF(SAPCheckLinks1, pSecondBuffer, nSecondBufferLen)),
      TYPE(SAPGetSealInfo1, PTR(SAPGetSealInfo1, pszFirst), PTR(SAPGetSealInfo1, pszSecond),
           BUF(SAPGetSealInfo1, pBuffer, nBufferLen), PTR(SAPGetSealInfo1, pFirstBuffer128),
           PTR(SAPGetSealInfo1, pSecondBuffer128)),
      TYPE(SAPSetSealInfo),
      TYPE(SAPGetInfo1, PTR(SAPGetInfo1, pszText), BUF(SAPGetInfo1, pBuffer, nBufferLen)),
      TYPE(SAPGetSealMetric, PTR(SAPGetSealMetric, pszText), PTR(SAPGetSealMetric, pFirstValue),
           PTR(SAPGetSealMetric, pSecondValue), PTR(SAPGetSealMetric, pThirdValue)),
      TYPE(SAPGetSealInFileInfo1, PTR(SAPGetSealInFileInfo1, pszText),
           BUF(SAPGetSealInFileInfo1, pFirstBuffer, nFirstBufferLen),
           BUF(SAPGetSealInFileInfo1, pSecondBuffer, nSecondBufferLen)),
      TYPE(SAPSplitCopys1, PTR(SAPSplitCopys1, pszFirst), BUF(SAPSplitCopys1, pBuffer, nBufferLen),
           PTR(SAPSplitCopys1, pszSecond)),
      TYPE(SAPGetCopys1, PTR(SAPGetCopys1, pszText), BUF(SAPGetCopys1, pBuffer, nBufferLen)),
      TYPE(SAPAppCmd1, PTR(SAPAppCmd1, pszFirst), BUF(SAPAppCmd1, pBuffer, nBufferLen),
           PTR(SAPAppCmd1, pszSecond)),
      TYPE(SAPGetMetric1, PTR(SAPGetMetric1, pszText), BUF(SAPGetMetric1, pBuffer, nBufferLen)),
      TYPE(SAPExtractPages1, PTR(SAPExtractPages1, pszFirst), BUF(SAPExtractPages1, pBuffer, nBufferLen),
           PTR(SAPExtractPages1, pszSecond), BUF(SAPExtractPages1, pElements, nElementCount)),
      TYPE(SAPGetAtttachMetric1, PTR(SAPGetAtttachMetric1, pszText),
           BUF(SAPGetAtttachMetric1, pFirstBuffer, nFirstBufferLen),
           BUF(SAPGetAtttachMetric1, pSecondBuffer, nSecondBufferLen)),
      TYPE(SAPSysSetting1, AT(SAPSysSetting1, apBuffers260, 0), AT(SAPSysSetting1, apBuffers260, 1),
           AT(SAPSysSetting1, apBuffers260, 2), AT(SAPSysSetting1, apBuffers260, 3),
           AT(SAPSysSetting1, apBuffers260, 4), AT(SAPSysSetting1, apBuffers260, 5)),
      TYPE(SAPPrtSetting1),
      TYPE(SAPPrtType1),
      TYPE(SAPGetTypefaceNum1),
      TYPE(SAPGetTypefaceName1, PTR(SAPGetTypefaceName1, pBuffer128)),
      TYPE(SAPFontSubst1),
      TYPE(SAPGetPrtNum1),
      TYPE(SAPGetPrtMetrics1, PTR(SAPGetPrtMetrics1, pFirstBuffer128),
           PTR(SAPGetPrtMetrics1, pSecondBuffer128)),
      TYPE(SAPSetCurPrt1),
      TYPE(SAPPrtPara1),
      TYPE(SAPPrt1Para1),
      TYPE(SAPRequestPrtPort1, PTR(SAPRequestPrtPort1, pBuffer5),
           BUF(SAPRequestPrtPort1, pBuffer, nBufferLen)),
      TYPE(SAPPrtGeneralPara),
      TYPE(SAPSetProfileName1, PTR(SAPSetProfileName1, pszText)),
      TYPE(SAPReadProfile1),
      TYPE(SAPWriteProfile1),
      TYPE(SAPEncryptFile, PTR(SAPEncryptFile, pszFirst), PTR(SAPEncryptFile, pszSecond)),
      TYPE(SAPDecryptFile, PTR(SAPDecryptFile, pszFirst), PTR(SAPDecryptFile, pszSecond)),
      TYPE(SAPSetSearchSealOption),
      TYPE(SAPSetSealFun, PTR(SAPSetSealFun, pFirstCallerAddress), PTR(SAPSetSealFun, pSecondCallerAddress)),
      TYPE(SAPSearchSeal, PTR(SAPSearchSeal, pszFirst), PTR(SAPSearchSeal, pszSecond),
           PTR(SAPSearchSeal, pFirstBuffer128), PTR(SAPSearchSeal, pSecondBuffer128)),
      TYPE(SAPGetEncryptPicOfSeal, PTR(SAPGetEncryptPicOfSeal, pData),
           PTR(SAPGetEncryptPicOfSeal, pLengthCell), PTR(SAPGetEncryptPicOfSeal, pValue)),
      TYPE(SAPDetachAllFilesFromGwFile, PTR(SAPDetachAllFilesFromGwFile, pszFirst),
           PTR(SAPDetachAllFilesFromGwFile, pszSecond), BUF(SAPDetachAllFilesFromGwFile, pBuffer, nBufferLen),
           PTR(SAPDetachAllFilesFromGwFile, pValue)),
      TYPE(SAPInsertStmPara, PTR(SAPInsertStmPara, pszFirst),
           BUF(SAPInsertStmPara, pFirstBuffer, nFirstBufferLen), PTR(SAPInsertStmPara, pszSecond),
           BUF(SAPInsertStmPara, pSecondBuffer, nSecondBufferLen)),
      TYPE(SAPGetSealPosPara, PTR(SAPGetSealPosPara, pszText), BUF(SAPGetSealPosPara, pBuffer, nBufferLen),
           PTR(SAPGetSealPosPara, pBuffer16)),
      TYPE(SAPIsFormalGWFilePara, PTR(SAPIsFormalGWFilePara, pszText)),
      TYPE(SAPCheckEPFPassword, PTR(SAPCheckEPFPassword, pszText)),
      TYPE(SAPSetForcedPageSize),
      TYPE(SAPSetPrintingText),
      TYPE(SAPMergeFiles, PTR(SAPMergeFiles, pszFirst), PTR(SAPMergeFiles, pszSecond),
           PTR(SAPMergeFiles, pszThird)),
      TYPE(USBPrinter, PTR(USBPrinter, pChain)),
  };
  return layouts;
}

// Every distinct rule: the table's and the USB printer's.
std::vector<const RecordRule*> AllRules() {
  size_t count = 0;
  const ApiCodeEntry* table = ApiCodeTable(&count);
  std::vector<const RecordRule*> rules;
  for (size_t i = 0; i < count; ++i) {
    if (rules.empty() || rules.back() != table[i].rule) rules.push_back(table[i].rule);
  }
  rules.push_back(&UsbPrinterRule());
  return rules;
}

const RecordRule* RuleNamed(const std::string& name) {
  for (const RecordRule* rule : AllRules()) {
    if (name == rule->name) return rule;
  }
  return nullptr;
}

// Bytes [at, at + 4) of every pointer the record holds: its fields and its
// caller-side addresses.
std::vector<uint16_t> PointerOffsets(const RecordRule& rule) {
  std::vector<uint16_t> offsets;
  for (uint8_t i = 0; i < rule.field_count; ++i) offsets.push_back(rule.fields[i].offset);
  for (uint8_t i = 0; i < rule.zeroed_count; ++i) offsets.push_back(rule.zeroed_offsets[i]);
  std::sort(offsets.begin(), offsets.end());
  return offsets;
}

void ExpectMaskSafe(const RecordRule& rule, const WriteBackRule& back) {
  if (back.mode != RecordWriteBack::kMasked) {
    EXPECT_EQ(back.range_count, 0u);
    return;
  }
  ASSERT_GT(back.range_count, 0u);
  for (uint8_t r = 0; r < back.range_count; ++r) {
    const MaskRange& range = back.ranges[r];
    EXPECT_LE(range.first, range.last);
    EXPECT_LT(range.last, rule.size);
    if (r > 0) {
      EXPECT_GT(range.first, back.ranges[r - 1].last + 1) << "ranges must be ascending and apart";
    }
    for (uint16_t at : PointerOffsets(rule)) {
      EXPECT_TRUE(range.last < at || range.first >= at + 4)
          << "mask range " << range.first << "-" << range.last << " covers the pointer at " << at;
    }
  }
}

// Fields in ascending order, inside their container, never overlapping.
void ExpectFieldsInOrder(const FieldRule* fields, uint8_t count, uint32_t container) {
  for (uint8_t i = 0; i < count; ++i) {
    SCOPED_TRACE(testing::Message() << "field at " << fields[i].offset);
    EXPECT_LE(fields[i].offset + 4u, container);
    if (i > 0) {
      EXPECT_GE(fields[i].offset, fields[i - 1].offset + 4u);
    }
  }
}

TEST(ApiCodeTable, HoldsEveryCodeOnceInAscendingOrderWithItsType) {
  struct Expected {
    uint32_t code;
    const char* type;
    size_t size;
  };
#define QARN_EXPECTED(code, Type) Expected{code, #Type, sizeof(Type)},
  const Expected expected[] = {QARN_API_CODES(QARN_EXPECTED)};
#undef QARN_EXPECTED
  size_t count = 0;
  const ApiCodeEntry* table = ApiCodeTable(&count);
  ASSERT_EQ(count, 78u);
  ASSERT_EQ(count, sizeof(expected) / sizeof(expected[0]));
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(table[i].code);
    if (i > 0) {
      EXPECT_LT(table[i - 1].code, table[i].code);
    }
    EXPECT_EQ(table[i].code, expected[i].code);
    ASSERT_NE(table[i].rule, nullptr);
    EXPECT_STREQ(table[i].rule->name, expected[i].type);
    EXPECT_EQ(table[i].rule->size, expected[i].size);
    EXPECT_EQ(FindRecordRule(table[i].code), table[i].rule);
  }
}

TEST(ApiCodeTable, SelectsNothingForZeroAndUnknownCodes) {
  for (uint32_t code :
       {0u, 2u, 9u, 100u, 129u, 221u, 400u, 1000u, 1014u, 1999u, 2001u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(FindRecordRule(code), nullptr) << code;
  }
}

TEST(ApiCodeTable, TwoCodesOfOneTypeShareOneRule) {
  const uint32_t pairs[][2] = {{401, 404}, {414, 432}, {444, 456}, {555, 567}, {666, 668}, {678, 686}};
  for (const auto& pair : pairs) {
    EXPECT_NE(FindRecordRule(pair[0]), nullptr);
    EXPECT_EQ(FindRecordRule(pair[0]), FindRecordRule(pair[1])) << pair[0];
  }
}

TEST(RecordRules, MatchTheStructsSizesAndPointerMembers) {
  std::set<std::string> seen;
  for (const TypeLayout& layout : Layouts()) {
    SCOPED_TRACE(layout.name);
    EXPECT_TRUE(seen.insert(layout.name).second);
    const RecordRule* rule = RuleNamed(layout.name);
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->size, layout.size);
    std::vector<uint16_t> offsets = PointerOffsets(*rule);
    ASSERT_EQ(offsets.size(), layout.pointers.size());
    for (size_t i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], layout.pointers[i].at);
    for (uint8_t i = 0; i < rule->field_count; ++i) {
      const FieldRule& field = rule->fields[i];
      const PointerMember* member = nullptr;
      for (const PointerMember& m : layout.pointers) {
        if (m.at == field.offset) member = &m;
      }
      ASSERT_NE(member, nullptr);
      SCOPED_TRACE(testing::Message() << "field at " << field.offset);
      if (qarn::transport::LengthFieldWidth(field.size) != 0) {
        EXPECT_EQ(field.arg, member->length_at);
        EXPECT_EQ(qarn::transport::LengthFieldWidth(field.size), member->length_width);
      } else {
        EXPECT_EQ(member->length_at, 0u) << "the struct has a length member the rule ignores";
      }
    }
  }
  size_t type_count = 0;
#define QARN_COUNT(Type) ++type_count;
  QARN_RECORD_TYPES(QARN_COUNT)
#undef QARN_COUNT
  EXPECT_EQ(seen.size(), type_count);
  EXPECT_EQ(AllRules().size(), type_count);
}

TEST(RecordRules, KeepEveryFieldInsideItsRecordAndEveryPointerOutOfTheMasks) {
  for (const RecordRule* rule : AllRules()) {
    SCOPED_TRACE(rule->name);
    ExpectFieldsInOrder(rule->fields, rule->field_count, rule->size);
    std::vector<uint16_t> pointers = PointerOffsets(*rule);
    for (uint8_t i = 0; i < rule->field_count; ++i) {
      const FieldRule& field = rule->fields[i];
      if (uint32_t width = qarn::transport::LengthFieldWidth(field.size)) {
        EXPECT_LE(field.arg + width, rule->size);
        for (uint16_t at : pointers) EXPECT_TRUE(field.arg + width <= at || field.arg >= at + 4u);
      }
      if (field.size == SizeRule::kLengthPairSum || field.size == SizeRule::kLengthCell32) {
        // The size is read through another pointer field of the record,
        // which is itself mirrored as a 4-byte block.
        bool found = false;
        for (uint8_t j = 0; j < rule->field_count; ++j) {
          const FieldRule& other = rule->fields[j];
          if (j != i && other.offset == field.arg) {
            found = other.size == SizeRule::kFixed && other.arg == 4;
          }
        }
        EXPECT_TRUE(found) << "size source at " << field.arg;
      }
      if (field.size == SizeRule::kString) {
        EXPECT_EQ(field.arg, 0u);
      }
      EXPECT_NE(field.role, FieldRole::kServerOnly) << "only chain nodes have server-only links";
      EXPECT_EQ(field.role == FieldRole::kChain, field.chain != nullptr);
      if (field.role == FieldRole::kChain) {
        EXPECT_FALSE(field.write_back);
      }
    }
    ExpectMaskSafe(*rule, rule->write_back);
    ExpectMaskSafe(*rule, rule->other_write_back);
    if (rule->write_back.mode == RecordWriteBack::kWhole) {
      EXPECT_TRUE(pointers.empty()) << "a record with pointers must never come back whole";
    }
    for (uint8_t i = 0; i < rule->zeroed_count; ++i) EXPECT_LE(rule->zeroed_offsets[i] + 4u, rule->size);
    if (rule->zeroed_count > 0) {
      EXPECT_EQ(rule->write_back.mode, RecordWriteBack::kNone);
    }
  }
}

TEST(RecordRules, TestLengthsOnlyWhereTheRecordHasTwoShapes) {
  for (const RecordRule* rule : AllRules()) {
    SCOPED_TRACE(rule->name);
    for (uint8_t i = 0; i < rule->field_count; ++i) {
      const bool length_tested = rule->fields[i].condition == Condition::kNotNullAndLength;
      EXPECT_EQ(length_tested, rule->shape_field == i);
    }
    if (rule->shape_field < 0) {
      EXPECT_EQ(rule->other_write_back.mode, RecordWriteBack::kNone);
      continue;
    }
    ASSERT_LT(rule->shape_field, rule->field_count);
    // Without the buffer, exactly the length field comes back.
    const FieldRule& shaped = rule->fields[rule->shape_field];
    ASSERT_EQ(rule->other_write_back.mode, RecordWriteBack::kMasked);
    ASSERT_EQ(rule->other_write_back.range_count, 1u);
    EXPECT_EQ(rule->other_write_back.ranges[0].first, shaped.arg);
    EXPECT_EQ(rule->other_write_back.ranges[0].last + 1u,
              shaped.arg + qarn::transport::LengthFieldWidth(shaped.size));
  }
}

TEST(RecordRules, ChainsLinkNodesOfTheStructsSize) {
  struct ExpectedChain {
    const char* record;
    size_t head_at, node_size, link_at;
    std::vector<size_t> node_pointers;
  };
  const ExpectedChain expected[] = {
      {"SAPPrint1",
       offsetof(SAPPrint1, pChain),
       sizeof(SAPPrintNode),
       offsetof(SAPPrintNode, pNext),
       {offsetof(SAPPrintNode, pNext)}},
      {"USBPrinter",
       offsetof(USBPrinter, pChain),
       sizeof(USBPrinterNode),
       offsetof(USBPrinterNode, pNext),
       {offsetof(USBPrinterNode, pszFirst), offsetof(USBPrinterNode, pszSecond),
        offsetof(USBPrinterNode, pNext), offsetof(USBPrinterNode, pSecondLink)}},
  };
  size_t chains = 0;
  for (const RecordRule* rule : AllRules()) {
    for (uint8_t i = 0; i < rule->field_count; ++i) chains += rule->fields[i].chain != nullptr;
  }
  EXPECT_EQ(chains, 2u);
  for (const ExpectedChain& e : expected) {
    SCOPED_TRACE(e.record);
    const RecordRule* rule = RuleNamed(e.record);
    ASSERT_NE(rule, nullptr);
    const FieldRule* head = nullptr;
    for (uint8_t i = 0; i < rule->field_count; ++i) {
      if (rule->fields[i].chain != nullptr) head = &rule->fields[i];
    }
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->offset, e.head_at);
    const ChainRule& chain = *head->chain;
    EXPECT_EQ(chain.node_size, e.node_size);
    EXPECT_EQ(head->arg, e.node_size);
    EXPECT_EQ(chain.link_offset, e.link_at);
    ExpectFieldsInOrder(chain.fields, chain.field_count, chain.node_size);
    ASSERT_EQ(chain.field_count, e.node_pointers.size());
    size_t links = 0;
    for (uint8_t i = 0; i < chain.field_count; ++i) {
      const FieldRule& field = chain.fields[i];
      EXPECT_EQ(field.offset, e.node_pointers[i]);
      EXPECT_EQ(field.condition, Condition::kAlways);
      EXPECT_FALSE(field.write_back) << "nothing of a chain may come back";
      EXPECT_EQ(field.chain, nullptr);
      if (field.role == FieldRole::kChain) {
        ++links;
        EXPECT_EQ(field.offset, chain.link_offset);
      }
    }
    EXPECT_EQ(links, 1u);
  }
}

}  // namespace
