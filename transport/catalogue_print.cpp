// Catalogue rows of the printing, document and seal information records.
#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {
using namespace rows;

constexpr FieldRule kPrintNodeFields[] = {ChainLink(4, 8)};  // SAPPrintNode::pNext
constexpr ChainRule kPrintChain{8, 4, kPrintNodeFields, 1};

constexpr FieldRule kPrintFields[] = {
    String(2),                       // pszFirst
    ChainLink(10, 8, &kPrintChain),  // pChain
    Length8(14, 18),                 // pBuffer, nBufferLen bytes
    String(19),                      // pszSecond
};

constexpr FieldRule kPrintMediaFields[] = {String(26)};  // pszText

// An empty optional string reaches the server as NULL.
constexpr FieldRule kPrintExFields[] = {
    String(2),                                             // pszFirst
    Length8(6, 10),                                        // pBuffer, nBufferLen bytes
    Only(Condition::kNonEmptyStringElseNull, String(11)),  // pszSecond
};

constexpr FieldRule kFwdDocFields[] = {
    String(2),       // pszFirst
    Length8(6, 10),  // pBuffer, nBufferLen bytes
    String(11),      // pszSecond
    String(15),      // pszThird
    String(19),      // pszFourth
};

constexpr FieldRule kArchiveFields[] = {
    String(2),       // pszFirst
    Length8(6, 10),  // pBuffer, nBufferLen bytes
    String(11),      // pszSecond
};

constexpr FieldRule kDetachFields[] = {
    String(2),         // pszFirst
    Length8(6, 10),    // pFirstBuffer, nFirstBufferLen bytes
    String(11),        // pszSecond
    String(16),        // pszThird
    Length16(20, 24),  // pSecondBuffer, nSecondBufferLen bytes
};

constexpr FieldRule kGetTextFields[] = {
    String(2),       // pszFirst
    Length8(8, 12),  // pBuffer, nBufferLen bytes
    String(13),      // pszSecond
};

constexpr FieldRule kGetLinksFields[] = {
    String(2),         // pszText
    Length16(8, 12),   // pFirstBuffer, nFirstBufferLen bytes
    Length16(14, 18),  // pSecondBuffer, nSecondBufferLen bytes
    Length16(20, 24),  // pThirdBuffer, nThirdBufferLen bytes
};

constexpr FieldRule kCheckLinksFields[] = {
    String(2),         // pszFirst
    String(8),         // pszSecond
    String(12),        // pszThird
    Length16(16, 20),  // pFirstBuffer, nFirstBufferLen bytes
    Length16(22, 26),  // pSecondBuffer, nSecondBufferLen bytes
};

// The two 128-byte buffers are optional: a NULL one gets no block at all.
constexpr FieldRule kGetSealInfoFields[] = {
    String(2),                                   // pszFirst
    String(6),                                   // pszSecond
    Length16(10, 14),                            // pBuffer, nBufferLen bytes
    Only(Condition::kNotNull, Fixed(113, 128)),  // pFirstBuffer128
    Only(Condition::kNotNull, Fixed(119, 128)),  // pSecondBuffer128
};
constexpr MaskRange kGetSealInfoResults[] = {{16, 112}, {117, 118}, {211, 217}};

constexpr FieldRule kGetInfoFields[] = {
    String(2),       // pszText
    Length8(6, 10),  // pBuffer, nBufferLen bytes
};
constexpr MaskRange kGetInfoResults[] = {{11, 109}};

constexpr FieldRule kGetSealMetricFields[] = {
    String(2),     // pszText
    Fixed(6, 4),   // pFirstValue
    Fixed(10, 4),  // pSecondValue
    Fixed(14, 4),  // pThirdValue
};

}  // namespace

extern const RecordRule kSAPPrint1Rule = Record("SAPPrint1", 26, kPrintFields, kNoBack);
extern const RecordRule kSAPPrint_MEDIAGWFILERule =
    Record("SAPPrint_MEDIAGWFILE", 39, kPrintMediaFields, kNoBack);
extern const RecordRule kSAPPrintEx1Rule = Record("SAPPrintEx1", 15, kPrintExFields, kNoBack);
extern const RecordRule kSAPFwdDoc1Rule = Record("SAPFwdDoc1", 23, kFwdDocFields, kNoBack);
extern const RecordRule kSAPArchive1Rule = Record("SAPArchive1", 19, kArchiveFields, kNoBack);
extern const RecordRule kSAPDetach1Rule = Record("SAPDetach1", 26, kDetachFields, kNoBack);
extern const RecordRule kSAPGetText3Rule = Record("SAPGetText3", 19, kGetTextFields, kNoBack);
extern const RecordRule kSAPGetLinks1Rule = Record("SAPGetLinks1", 26, kGetLinksFields, kNoBack);
extern const RecordRule kSAPCheckLinks1Rule = Record("SAPCheckLinks1", 28, kCheckLinksFields, kNoBack);
extern const RecordRule kSAPGetSealInfo1Rule =
    Record("SAPGetSealInfo1", 218, kGetSealInfoFields, Masked(kGetSealInfoResults));
extern const RecordRule kSAPSetSealInfoRule = Inline("SAPSetSealInfo", 784, kNoBack);
extern const RecordRule kSAPGetInfo1Rule =
    Record("SAPGetInfo1", 110, kGetInfoFields, Masked(kGetInfoResults));
extern const RecordRule kSAPGetSealMetricRule = Record("SAPGetSealMetric", 18, kGetSealMetricFields, kNoBack);

}  // namespace qarn::transport
