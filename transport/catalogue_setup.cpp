// Catalogue rows of the setup, key, callback and encryption records.
#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {
using namespace rows;

constexpr MaskRange kVersionBytes[] = {{4, 6}};

constexpr FieldRule kErrMesFields[] = {
    Only(Condition::kNotNullAndLength, Length32(2, 6)),  // pMessage, nMessageLen bytes
    String(10),                                          // pszText
};
constexpr MaskRange kErrMesLength[] = {{6, 9}};

constexpr FieldRule kPublicKeyFields[] = {
    Only(Condition::kNotNullAndLength, Length16(2, 6)),  // pKey, nKeyLen bytes
};
constexpr MaskRange kPublicKeyLength[] = {{6, 7}};

constexpr FieldRule kGenPkiKeyFields[] = {
    String(2),       // pszText
    Fixed(6, 260),   // pFirstBuffer260
    Fixed(10, 260),  // pSecondBuffer260
};

constexpr FieldRule kPkiKeyPathFields[] = {Length16(2, 6)};  // pPath, nPathLen bytes

// Callback setters: the address at offset 2 belongs to the application.
constexpr uint16_t kCallbackAddress[] = {2};

// The seal's strings are input only; the address at 22 stays with the caller.
constexpr FieldRule kCreateSealFields[] = {
    String(2, false),   // pszFirst
    String(6, false),   // pszSecond
    String(14, false),  // pszThird
    String(18, false),  // pszFourth
};
constexpr uint16_t kCreateSealAddress[] = {22};

constexpr FieldRule kEncrypt3Fields[] = {
    Fixed(2, 260),   // pFirstBuffer260
    Fixed(16, 1),    // pByte
    Fixed(33, 260),  // pSecondBuffer260
};

constexpr FieldRule kEncryptCaFields[] = {
    Field(71, SizeRule::kLengthPairSum, 75),  // pData, sum of the pair behind pLengthPair
    Fixed(75, 4),                             // pLengthPair
};

constexpr FieldRule kConvertFields[] = {
    String(2),  // pszFirst
    String(6),  // pszSecond
};

constexpr FieldRule kVerifyFields[] = {
    String(6),         // pszText
    Length32(10, 14),  // pData, nDataLen bytes
};

}  // namespace

extern const RecordRule kSAPGetVersion1Rule = Inline("SAPGetVersion1", 7, Masked(kVersionBytes));
extern const RecordRule kSAPSetParentWnd1Rule = Inline("SAPSetParentWnd1", 6, kNoBack);
// Without a buffer the caller learns the length the server needs.
extern const RecordRule kSAPGetErrMes1Rule =
    TwoShapes("SAPGetErrMes1", 14, kErrMesFields, 0, kNoBack, Masked(kErrMesLength));
extern const RecordRule kSAPGetPublicKey1Rule =
    TwoShapes("SAPGetPublicKey1", 8, kPublicKeyFields, 0, kNoBack, Masked(kPublicKeyLength));
extern const RecordRule kSAPGenPKIKeyRule = Record("SAPGenPKIKey", 14, kGenPkiKeyFields, kNoBack);
extern const RecordRule kSAPSetPKIKeySPathRule = Record("SAPSetPKIKeySPath", 8, kPkiKeyPathFields, kNoBack);
extern const RecordRule kSAPGenPKIKeyBufRule = Inline("SAPGenPKIKeyBuf", 2310, kWholeBack);

extern const RecordRule kSAPSetInputCipherProc1Rule =
    WithCallerAddresses("SAPSetInputCipherProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetIsUserAbortProc1Rule =
    WithCallerAddresses("SAPSetIsUserAbortProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetDispPrintErrProc1Rule =
    WithCallerAddresses("SAPSetDispPrintErrProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetDispPageNoProc1Rule =
    WithCallerAddresses("SAPSetDispPageNoProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetDispNewPaperProc1Rule =
    WithCallerAddresses("SAPSetDispNewPaperProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetConfirmProc1Rule =
    WithCallerAddresses("SAPSetConfirmProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetSelSealProc1Rule =
    WithCallerAddresses("SAPSetSelSealProc1", 6, kCallbackAddress);
extern const RecordRule kSAPSetHardwareWarningProc1Rule =
    WithCallerAddresses("SAPSetHardwareWarningProc1", 6, kCallbackAddress);

extern const RecordRule kSAPCreateSeal1Rule =
    WithCallerAddresses("SAPCreateSeal1", 26, kCreateSealFields, kCreateSealAddress);
extern const RecordRule kSAPBeginEncrypt1Rule = Inline("SAPBeginEncrypt1", 2, kNoBack);
extern const RecordRule kSAPEncrypt3Rule = Record("SAPEncrypt3", 75, kEncrypt3Fields, kNoBack);
extern const RecordRule kSAPEndEncrypt1Rule = Inline("SAPEndEncrypt1", 2, kNoBack);
extern const RecordRule kSAPEncrypt_CARule = Record("SAPEncrypt_CA", 79, kEncryptCaFields, kNoBack);
extern const RecordRule kSAPConvertRule = Record("SAPConvert", 10, kConvertFields, kNoBack);
extern const RecordRule kSAPVerfiyRule = Record("SAPVerfiy", 19, kVerifyFields, kNoBack);

}  // namespace qarn::transport
