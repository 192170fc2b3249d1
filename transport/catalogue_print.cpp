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

}  // namespace

extern const RecordRule kSAPPrint1Rule = Record("SAPPrint1", 26, kPrintFields, kNoBack);

}  // namespace qarn::transport
