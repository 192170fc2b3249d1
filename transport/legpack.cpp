// c_QARNPlus_Legpack: constructors, release and ownership. The record types
// dispatch to the engine in legpack_records.cpp.
#include "qarnplus/legpack.h"

#include <string.h>

#include <new>
#include <utility>

#include "platform/platform.h"
#include "transport/api_code_text.h"
#include "transport/legpack_engine.h"

namespace {

using qarn::transport::BlockList;

// Runs `build` on a fresh package. If it throws, the blocks made so far are
// released without merging back and the list is freed before the system
// code leaves (a failed heap allocation becomes ERROR_NOT_ENOUGH_MEMORY).
template <class Build>
void BuildOrDiscard(BlockList*& blocks, void*& local, Build build) {
  blocks = nullptr;
  local = nullptr;
  try {
    blocks = new BlockList();
    build();
  } catch (...) {
    if (blocks != nullptr) qarn::transport::DiscardBlocks(*blocks);
    delete blocks;
    blocks = nullptr;
    local = nullptr;
    try {
      throw;
    } catch (const std::bad_alloc&) {
      throw static_cast<unsigned long>(qarn::os::kErrorNotEnoughMemory);
    }
  }
}

}  // namespace

c_QARNPlus_Legpack::c_QARNPlus_Legpack(SedApiPara* pPara, unsigned long nCode) {
  BuildOrDiscard(m_pBlocks, m_pLocal, [&] {
    if (pPara == nullptr) return;
    switch (nCode) {
#define QARN_CLIENT_CASE(code, Type)             \
  case code:                                     \
    Local2Share(reinterpret_cast<Type*>(pPara)); \
    break;
      QARN_API_CODES(QARN_CLIENT_CASE)
#undef QARN_CLIENT_CASE
      default:
        break;
    }
  });
}

c_QARNPlus_Legpack::c_QARNPlus_Legpack(const char* szRecord, const char* szCode) {
  BuildOrDiscard(m_pBlocks, m_pLocal, [&] {
    if (szRecord == nullptr || szCode == nullptr) return;
    if (strcmp(szRecord, "0") == 0 || strcmp(szCode, "0") == 0) return;
    m_pLocal = qarn::transport::AppendBlock(*m_pBlocks, szRecord).Local();
    switch (qarn::transport::ParseApiCodeText(szCode)) {
#define QARN_SERVER_CASE(code, Type)           \
  case code:                                   \
    Share2Local(static_cast<Type*>(m_pLocal)); \
    break;
      QARN_API_CODES(QARN_SERVER_CASE)
#undef QARN_SERVER_CASE
      default:
        break;
    }
  });
}

c_QARNPlus_Legpack::c_QARNPlus_Legpack(USBPrinter* pPrinter, bool bLocal) {
  BuildOrDiscard(m_pBlocks, m_pLocal, [&] {
    if (pPrinter == nullptr) return;
    if (bLocal) {
      Local2Share(pPrinter);
      return;
    }
    // The server's argument is the application's pointer value: it names the
    // record block and is never dereferenced here.
    m_pLocal = qarn::transport::AppendBlock(*m_pBlocks, static_cast<const void*>(pPrinter)).Local();
    Share2Local(static_cast<USBPrinter*>(m_pLocal));
  });
}

c_QARNPlus_Legpack::~c_QARNPlus_Legpack() {
  if (m_pBlocks == nullptr) return;
  // Creation order: on the application side buffers merge back before the
  // record; on the server side nothing merges.
  for (c_QARNPlus_Shrmem*& block : *m_pBlocks) {
    delete block;
    block = nullptr;
  }
  delete m_pBlocks;
  m_pBlocks = nullptr;
}

void* c_QARNPlus_Legpack::Local() { return m_pLocal; }

c_QARNPlus_Legpack& c_QARNPlus_Legpack::operator=(const c_QARNPlus_Legpack& other) {
  if (&other == this) return *this;
  auto& source = const_cast<c_QARNPlus_Legpack&>(other);
  // Release our own blocks as the destructor would, keep the emptied list
  // and hand it to the source, which is left an empty package.
  if (m_pBlocks != nullptr) {
    for (c_QARNPlus_Shrmem*& block : *m_pBlocks) delete block;
    m_pBlocks->clear();
  }
  std::swap(m_pBlocks, source.m_pBlocks);
  m_pLocal = source.m_pLocal;
  source.m_pLocal = nullptr;
  return *this;
}
