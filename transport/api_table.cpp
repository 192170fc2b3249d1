// The API-code table: code -> record rule, sorted by code for a binary search.
#include <algorithm>

#include "transport/catalogue_rows.h"

namespace qarn::transport {
namespace {

#define QARN_API_CODE_ENTRY(code, Type) {code, &k##Type##Rule},
constexpr ApiCodeEntry kApiCodes[] = {QARN_API_CODES(QARN_API_CODE_ENTRY)};
#undef QARN_API_CODE_ENTRY
constexpr size_t kApiCodeCount = sizeof(kApiCodes) / sizeof(kApiCodes[0]);

constexpr bool StrictlyAscending() {
  for (size_t i = 1; i < kApiCodeCount; ++i) {
    if (kApiCodes[i - 1].code >= kApiCodes[i].code) return false;
  }
  return true;
}
static_assert(StrictlyAscending(), "the API-code table must be sorted for the binary search");

}  // namespace

const RecordRule* FindRecordRule(uint32_t code) {
  const ApiCodeEntry* end = kApiCodes + kApiCodeCount;
  const ApiCodeEntry* it =
      std::lower_bound(kApiCodes, end, code, [](const ApiCodeEntry& e, uint32_t c) { return e.code < c; });
  return (it != end && it->code == code) ? it->rule : nullptr;
}

const RecordRule& UsbPrinterRule() { return kUSBPrinterRule; }

const ApiCodeEntry* ApiCodeTable(size_t* count) {
  if (count != nullptr) *count = kApiCodeCount;
  return kApiCodes;
}

}  // namespace qarn::transport
