#include "transport/block_view.h"

#include "platform/platform.h"

namespace qarn {

size_t BlockViewSize(const c_QARNPlus_Shrmem& block) {
  if (block.m_pShared == nullptr) return 0;
  return os::MappingViewSize(block.m_hMapping, block.m_pShared);
}

}  // namespace qarn
