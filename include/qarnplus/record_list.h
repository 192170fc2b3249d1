#pragma once
/// \file
/// The record types of the document interface as X-macro lists, so that code
/// which must cover every record (the code table, tests, tools) is generated
/// from one place and cannot miss one. \ref api_codes lists them.

/// X(TypeName) once per record type: every type of the API-code table, then
/// USBPrinter, which has no API code.
#define QARN_RECORD_TYPES(X)     \
  X(SAPGetVersion1)              \
  X(SAPSetParentWnd1)            \
  X(SAPGetErrMes1)               \
  X(SAPGetPublicKey1)            \
  X(SAPGenPKIKey)                \
  X(SAPSetPKIKeySPath)           \
  X(SAPGenPKIKeyBuf)             \
  X(SAPSetInputCipherProc1)      \
  X(SAPSetIsUserAbortProc1)      \
  X(SAPSetDispPrintErrProc1)     \
  X(SAPSetDispPageNoProc1)       \
  X(SAPSetDispNewPaperProc1)     \
  X(SAPSetConfirmProc1)          \
  X(SAPSetSelSealProc1)          \
  X(SAPSetHardwareWarningProc1)  \
  X(SAPCreateSeal1)              \
  X(SAPBeginEncrypt1)            \
  X(SAPEncrypt3)                 \
  X(SAPEndEncrypt1)              \
  X(SAPEncrypt_CA)               \
  X(SAPConvert)                  \
  X(SAPVerfiy)                   \
  X(SAPPrint1)                   \
  X(SAPPrint_MEDIAGWFILE)        \
  X(SAPPrintEx1)                 \
  X(SAPFwdDoc1)                  \
  X(SAPArchive1)                 \
  X(SAPDetach1)                  \
  X(SAPGetText3)                 \
  X(SAPGetLinks1)                \
  X(SAPCheckLinks1)              \
  X(SAPGetSealInfo1)             \
  X(SAPSetSealInfo)              \
  X(SAPGetInfo1)                 \
  X(SAPGetSealMetric)            \
  X(SAPGetSealInFileInfo1)       \
  X(SAPSplitCopys1)              \
  X(SAPGetCopys1)                \
  X(SAPAppCmd1)                  \
  X(SAPGetMetric1)               \
  X(SAPExtractPages1)            \
  X(SAPGetAtttachMetric1)        \
  X(SAPSysSetting1)              \
  X(SAPPrtSetting1)              \
  X(SAPPrtType1)                 \
  X(SAPGetTypefaceNum1)          \
  X(SAPGetTypefaceName1)         \
  X(SAPFontSubst1)               \
  X(SAPGetPrtNum1)               \
  X(SAPGetPrtMetrics1)           \
  X(SAPSetCurPrt1)               \
  X(SAPPrtPara1)                 \
  X(SAPPrt1Para1)                \
  X(SAPRequestPrtPort1)          \
  X(SAPPrtGeneralPara)           \
  X(SAPSetProfileName1)          \
  X(SAPReadProfile1)             \
  X(SAPWriteProfile1)            \
  X(SAPEncryptFile)              \
  X(SAPDecryptFile)              \
  X(SAPSetSearchSealOption)      \
  X(SAPSetSealFun)               \
  X(SAPSearchSeal)               \
  X(SAPGetEncryptPicOfSeal)      \
  X(SAPDetachAllFilesFromGwFile) \
  X(SAPInsertStmPara)            \
  X(SAPGetSealPosPara)           \
  X(SAPIsFormalGWFilePara)       \
  X(SAPCheckEPFPassword)         \
  X(SAPSetForcedPageSize)        \
  X(SAPSetPrintingText)          \
  X(SAPMergeFiles)               \
  X(USBPrinter)

/// X(code, TypeName) for every API code, in ascending code order. Six record
/// types answer to two codes each.
#define QARN_API_CODES(X)              \
  X(1, SAPGetVersion1)                 \
  X(7, SAPSetParentWnd1)               \
  X(8, SAPGetErrMes1)                  \
  X(10, SAPGetPublicKey1)              \
  X(11, SAPGenPKIKey)                  \
  X(12, SAPSetPKIKeySPath)             \
  X(13, SAPGenPKIKeyBuf)               \
  X(101, SAPSetInputCipherProc1)       \
  X(110, SAPSetIsUserAbortProc1)       \
  X(114, SAPSetDispPrintErrProc1)      \
  X(117, SAPSetDispPageNoProc1)        \
  X(119, SAPSetDispNewPaperProc1)      \
  X(121, SAPSetConfirmProc1)           \
  X(123, SAPSetSelSealProc1)           \
  X(128, SAPSetHardwareWarningProc1)   \
  X(200, SAPCreateSeal1)               \
  X(208, SAPBeginEncrypt1)             \
  X(210, SAPEncrypt3)                  \
  X(211, SAPEndEncrypt1)               \
  X(212, SAPEncrypt_CA)                \
  X(213, SAPConvert)                   \
  X(214, SAPVerfiy)                    \
  X(222, SAPPrint1)                    \
  X(223, SAPPrint_MEDIAGWFILE)         \
  X(233, SAPPrintEx1)                  \
  X(234, SAPFwdDoc1)                   \
  X(256, SAPArchive1)                  \
  X(288, SAPDetach1)                   \
  X(303, SAPGetText3)                  \
  X(314, SAPGetLinks1)                 \
  X(315, SAPCheckLinks1)               \
  X(322, SAPGetSealInfo1)              \
  X(323, SAPSetSealInfo)               \
  X(325, SAPGetInfo1)                  \
  X(326, SAPGetSealMetric)             \
  X(330, SAPGetSealInFileInfo1)        \
  X(333, SAPSplitCopys1)               \
  X(345, SAPGetCopys1)                 \
  X(370, SAPAppCmd1)                   \
  X(384, SAPGetMetric1)                \
  X(388, SAPExtractPages1)             \
  X(391, SAPGetAtttachMetric1)         \
  X(401, SAPSysSetting1)               \
  X(404, SAPSysSetting1)               \
  X(414, SAPPrtSetting1)               \
  X(432, SAPPrtSetting1)               \
  X(444, SAPPrtType1)                  \
  X(456, SAPPrtType1)                  \
  X(505, SAPGetTypefaceNum1)           \
  X(543, SAPGetTypefaceName1)          \
  X(555, SAPFontSubst1)                \
  X(567, SAPFontSubst1)                \
  X(601, SAPGetPrtNum1)                \
  X(606, SAPGetPrtMetrics1)            \
  X(640, SAPSetCurPrt1)                \
  X(666, SAPPrtPara1)                  \
  X(668, SAPPrtPara1)                  \
  X(678, SAPPrt1Para1)                 \
  X(686, SAPPrt1Para1)                 \
  X(688, SAPRequestPrtPort1)           \
  X(689, SAPPrtGeneralPara)            \
  X(737, SAPSetProfileName1)           \
  X(747, SAPReadProfile1)              \
  X(777, SAPWriteProfile1)             \
  X(1001, SAPEncryptFile)              \
  X(1002, SAPDecryptFile)              \
  X(1003, SAPSetSearchSealOption)      \
  X(1004, SAPSetSealFun)               \
  X(1005, SAPSearchSeal)               \
  X(1006, SAPGetEncryptPicOfSeal)      \
  X(1007, SAPDetachAllFilesFromGwFile) \
  X(1008, SAPInsertStmPara)            \
  X(1009, SAPGetSealPosPara)           \
  X(1010, SAPIsFormalGWFilePara)       \
  X(1011, SAPCheckEPFPassword)         \
  X(1012, SAPSetForcedPageSize)        \
  X(1013, SAPSetPrintingText)          \
  X(2000, SAPMergeFiles)
