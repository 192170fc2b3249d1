// Catalogue rows of the printer, font, setting and profile records, and of
// the USB printer description.
#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {
using namespace rows;

constexpr FieldRule kSysSettingFields[] = {
    Fixed(16, 260), Fixed(20, 260), Fixed(24, 260),  // apBuffers260[0..2]
    Fixed(28, 260), Fixed(32, 260), Fixed(36, 260),  // apBuffers260[3..5]
};
// The leading field comes back here, with the results around the pointers.
constexpr MaskRange kSysSettingResults[] = {{0, 15}, {40, 65}};

constexpr FieldRule kTypefaceNameFields[] = {Fixed(6, 128)};  // pBuffer128

constexpr FieldRule kPrtMetricsFields[] = {
    Fixed(4, 128),  // pFirstBuffer128
    Fixed(8, 128),  // pSecondBuffer128
};
constexpr MaskRange kPrtMetricsResults[] = {{0, 3}, {12, 18}};

constexpr FieldRule kPrtPortFields[] = {
    Fixed(3, 5),      // pBuffer5
    Length16(7, 11),  // pBuffer, nBufferLen bytes
};

constexpr FieldRule kProfileNameFields[] = {String(2, false)};  // pszText, input only

// A printer node: its two strings, then the node itself. The second link has
// no block of its own; it must point at something this package mirrors.
constexpr FieldRule kUsbPrinterNodeFields[] = {
    String(4, false),    // pszFirst
    String(8, false),    // pszSecond
    ChainLink(12, 20),   // pNext
    ServerOnlyLink(16),  // pSecondLink
};
constexpr ChainRule kUsbPrinterChain{20, 12, kUsbPrinterNodeFields, 4};
constexpr FieldRule kUsbPrinterFields[] = {ChainLink(4, 20, &kUsbPrinterChain)};  // pChain

}  // namespace

extern const RecordRule kSAPSysSetting1Rule =
    Record("SAPSysSetting1", 66, kSysSettingFields, Masked(kSysSettingResults));
extern const RecordRule kSAPPrtSetting1Rule = Inline("SAPPrtSetting1", 72, kWholeBack);
extern const RecordRule kSAPPrtType1Rule = Inline("SAPPrtType1", 4, kWholeBack);
extern const RecordRule kSAPGetTypefaceNum1Rule = Inline("SAPGetTypefaceNum1", 12, kWholeBack);
extern const RecordRule kSAPGetTypefaceName1Rule =
    Record("SAPGetTypefaceName1", 10, kTypefaceNameFields, kNoBack);
extern const RecordRule kSAPFontSubst1Rule = Inline("SAPFontSubst1", 6, kWholeBack);
extern const RecordRule kSAPGetPrtNum1Rule = Inline("SAPGetPrtNum1", 12, kWholeBack);
extern const RecordRule kSAPGetPrtMetrics1Rule =
    Record("SAPGetPrtMetrics1", 19, kPrtMetricsFields, Masked(kPrtMetricsResults));
extern const RecordRule kSAPSetCurPrt1Rule = Inline("SAPSetCurPrt1", 3, kNoBack);
extern const RecordRule kSAPPrtPara1Rule = Inline("SAPPrtPara1", 46, kWholeBack);
extern const RecordRule kSAPPrt1Para1Rule = Inline("SAPPrt1Para1", 525, kWholeBack);
extern const RecordRule kSAPRequestPrtPort1Rule = Record("SAPRequestPrtPort1", 13, kPrtPortFields, kNoBack);
extern const RecordRule kSAPPrtGeneralParaRule = Inline("SAPPrtGeneralPara", 14, kNoBack);
extern const RecordRule kSAPSetProfileName1Rule =
    Record("SAPSetProfileName1", 6, kProfileNameFields, kNoBack);
extern const RecordRule kSAPReadProfile1Rule = Inline("SAPReadProfile1", 5, kNoBack);
extern const RecordRule kSAPWriteProfile1Rule = Inline("SAPWriteProfile1", 5, kNoBack);
extern const RecordRule kSAPSetForcedPageSizeRule = Inline("SAPSetForcedPageSize", 18, kNoBack);
extern const RecordRule kSAPSetPrintingTextRule = Inline("SAPSetPrintingText", 421, kWholeBack);
extern const RecordRule kUSBPrinterRule = Record("USBPrinter", 8, kUsbPrinterFields, kNoBack);

}  // namespace qarn::transport
