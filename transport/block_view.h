#pragma once
// How many bytes of an opened block may be touched: the size of its view,
// which the interface does not show. For the server, which must not believe
// a length that a client's record claims beyond its block.

#include <stddef.h>

#include "qarnplus/shrmem.h"

namespace qarn {

// The usable bytes behind block.m_pShared; 0 for an empty block.
size_t BlockViewSize(const c_QARNPlus_Shrmem& block);

}  // namespace qarn
