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

}  // namespace

extern const RecordRule kSAPGetVersion1Rule = Inline("SAPGetVersion1", 7, Masked(kVersionBytes));
// Without a message buffer the caller learns the length the server needs.
extern const RecordRule kSAPGetErrMes1Rule =
    TwoShapes("SAPGetErrMes1", 14, kErrMesFields, 0, kNoBack, Masked(kErrMesLength));

}  // namespace qarn::transport
