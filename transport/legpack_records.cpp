// The per-record members of c_QARNPlus_Legpack, generated from the record
// list: each one hands its record to the engine with the record's rule.
#include <stdint.h>

#include <type_traits>

#include "qarnplus/legpack.h"
#include "transport/legpack_engine.h"

namespace {

// The first API code of a record type (several types have two codes that
// share one rule).
template <class Type>
constexpr uint32_t FirstCodeOf() {
#define QARN_CODE_OF(code, Listed) \
  if (std::is_same_v<Type, Listed>) return code;
  QARN_API_CODES(QARN_CODE_OF)
#undef QARN_CODE_OF
  return 0;
}

template <class Type>
const qarn::transport::RecordRule* RuleOf() {
  if constexpr (std::is_same_v<Type, USBPrinter>) {
    return &qarn::transport::UsbPrinterRule();
  } else {
    static_assert(FirstCodeOf<Type>() != 0, "every record type but USBPrinter has an API code");
    return qarn::transport::FindRecordRule(FirstCodeOf<Type>());
  }
}

}  // namespace

#define QARN_DEFINE_RECORD_MEMBERS(Type)                                    \
  void c_QARNPlus_Legpack::Local2Share(Type* pRecord) {                     \
    qarn::transport::MakeClientBlocks(RuleOf<Type>(), pRecord, *m_pBlocks); \
  }                                                                         \
  void c_QARNPlus_Legpack::Share2Local(Type* pRecord) {                     \
    qarn::transport::OpenServerBlocks(RuleOf<Type>(), pRecord, *m_pBlocks); \
  }
QARN_RECORD_TYPES(QARN_DEFINE_RECORD_MEMBERS)
#undef QARN_DEFINE_RECORD_MEMBERS
