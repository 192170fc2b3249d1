// Catalogue rows of the printer, font, setting and profile records, and of
// the USB printer description.
#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {
using namespace rows;

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

extern const RecordRule kUSBPrinterRule = Record("USBPrinter", 8, kUsbPrinterFields, kNoBack);

}  // namespace qarn::transport
