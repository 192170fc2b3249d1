// Catalogue rows of the file, page, copy and seal records.
#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {
using namespace rows;

constexpr FieldRule kSealInFileFields[] = {
    String(2),         // pszText
    Length8(6, 10),    // pFirstBuffer, nFirstBufferLen bytes
    Length16(13, 17),  // pSecondBuffer, nSecondBufferLen bytes
};
constexpr MaskRange kSealInFileResults[] = {{19, 113}};

constexpr FieldRule kSplitCopysFields[] = {
    String(2),       // pszFirst
    Length8(6, 10),  // pBuffer, nBufferLen bytes
    String(11),      // pszSecond
};
constexpr MaskRange kSplitCopysResults[] = {{17, 18}};

constexpr FieldRule kGetCopysFields[] = {
    String(2),       // pszText
    Length8(6, 10),  // pBuffer, nBufferLen bytes
};
constexpr MaskRange kGetCopysResults[] = {{11, 12}};

constexpr FieldRule kAppCmdFields[] = {
    String(2),       // pszFirst
    Length8(6, 10),  // pBuffer, nBufferLen bytes
    String(13),      // pszSecond
};

constexpr FieldRule kGetMetricFields[] = {
    String(2),       // pszText
    Length8(8, 12),  // pBuffer, nBufferLen bytes
};

constexpr FieldRule kExtractPagesFields[] = {
    String(2),                             // pszFirst
    Length8(6, 10),                        // pBuffer, nBufferLen bytes
    String(11),                            // pszSecond
    Field(15, SizeRule::kLength16x2, 19),  // pElements, nElementCount 16-bit elements
};

constexpr FieldRule kAttachMetricFields[] = {
    String(2),         // pszText
    Length8(6, 10),    // pFirstBuffer, nFirstBufferLen bytes
    Length16(13, 17),  // pSecondBuffer, nSecondBufferLen bytes
};
constexpr MaskRange kAttachMetricResults[] = {{19, 22}};

constexpr FieldRule kFilePairFields[] = {
    String(2),  // pszFirst
    String(6),  // pszSecond
};

// Both addresses belong to the application.
constexpr uint16_t kSealFunAddresses[] = {2, 6};

// The two strings are optional: a NULL one gets no block at all.
constexpr FieldRule kSearchSealFields[] = {
    Only(Condition::kNotNull, String(2)),  // pszFirst
    Only(Condition::kNotNull, String(6)),  // pszSecond
    Fixed(10, 128),                        // pFirstBuffer128
    Fixed(14, 128),                        // pSecondBuffer128
};

constexpr FieldRule kEncryptPicFields[] = {
    Field(18, SizeRule::kLengthCell32, 22),  // pData, *pLengthCell bytes
    Fixed(22, 4),                            // pLengthCell
    Fixed(26, 4),                            // pValue
};

constexpr FieldRule kDetachAllFields[] = {
    String(2),        // pszFirst
    String(6),        // pszSecond
    Length8(10, 14),  // pBuffer, nBufferLen bytes
    Fixed(15, 4),     // pValue
};

constexpr FieldRule kInsertStmFields[] = {
    String(2),         // pszFirst
    Length8(6, 10),    // pFirstBuffer, nFirstBufferLen bytes
    String(13),        // pszSecond
    Length32(17, 21),  // pSecondBuffer, nSecondBufferLen bytes
};

constexpr FieldRule kSealPosFields[] = {
    String(2),       // pszText
    Length8(6, 10),  // pBuffer, nBufferLen bytes
    Fixed(25, 16),   // pBuffer16
};
constexpr MaskRange kSealPosResults[] = {{21, 24}};

constexpr FieldRule kOneStringFields[] = {String(2)};  // pszText

constexpr FieldRule kMergeFilesFields[] = {
    String(2),   // pszFirst
    String(6),   // pszSecond
    String(10),  // pszThird
};

}  // namespace

extern const RecordRule kSAPGetSealInFileInfo1Rule =
    Record("SAPGetSealInFileInfo1", 114, kSealInFileFields, Masked(kSealInFileResults));
extern const RecordRule kSAPSplitCopys1Rule =
    Record("SAPSplitCopys1", 19, kSplitCopysFields, Masked(kSplitCopysResults));
extern const RecordRule kSAPGetCopys1Rule =
    Record("SAPGetCopys1", 13, kGetCopysFields, Masked(kGetCopysResults));
extern const RecordRule kSAPAppCmd1Rule = Record("SAPAppCmd1", 17, kAppCmdFields, kNoBack);
extern const RecordRule kSAPGetMetric1Rule = Record("SAPGetMetric1", 27, kGetMetricFields, kNoBack);
extern const RecordRule kSAPExtractPages1Rule = Record("SAPExtractPages1", 21, kExtractPagesFields, kNoBack);
extern const RecordRule kSAPGetAtttachMetric1Rule =
    Record("SAPGetAtttachMetric1", 23, kAttachMetricFields, Masked(kAttachMetricResults));
extern const RecordRule kSAPEncryptFileRule = Record("SAPEncryptFile", 10, kFilePairFields, kNoBack);
extern const RecordRule kSAPDecryptFileRule = Record("SAPDecryptFile", 10, kFilePairFields, kNoBack);
extern const RecordRule kSAPSetSearchSealOptionRule = Inline("SAPSetSearchSealOption", 6, kNoBack);
extern const RecordRule kSAPSetSealFunRule = WithCallerAddresses("SAPSetSealFun", 10, kSealFunAddresses);
extern const RecordRule kSAPSearchSealRule = Record("SAPSearchSeal", 18, kSearchSealFields, kNoBack);
extern const RecordRule kSAPGetEncryptPicOfSealRule =
    Record("SAPGetEncryptPicOfSeal", 34, kEncryptPicFields, kNoBack);
extern const RecordRule kSAPDetachAllFilesFromGwFileRule =
    Record("SAPDetachAllFilesFromGwFile", 19, kDetachAllFields, kNoBack);
extern const RecordRule kSAPInsertStmParaRule = Record("SAPInsertStmPara", 29, kInsertStmFields, kNoBack);
extern const RecordRule kSAPGetSealPosParaRule =
    Record("SAPGetSealPosPara", 29, kSealPosFields, Masked(kSealPosResults));
extern const RecordRule kSAPIsFormalGWFileParaRule =
    Record("SAPIsFormalGWFilePara", 10, kOneStringFields, kNoBack);
extern const RecordRule kSAPCheckEPFPasswordRule =
    Record("SAPCheckEPFPassword", 14, kOneStringFields, kNoBack);
extern const RecordRule kSAPMergeFilesRule = Record("SAPMergeFiles", 14, kMergeFilesFields, kNoBack);

}  // namespace qarn::transport
