// c_QARNPlus_Shrmem: create, open, merge back and release one shared block.
#include "qarnplus/shrmem.h"

#include <string.h>

#include <new>

#include "platform/platform.h"
#include "transport/block_name.h"
#include "transport/shrmem_merge.h"

namespace {

using Block = c_QARNPlus_Shrmem;

void Clear(Block& b) {
  b.m_pLocal = nullptr;
  b.m_nSize = 0;
  b.m_hMapping = nullptr;
  b.m_pShared = nullptr;
  b.m_pMask = nullptr;
}

void MergeBack(Block& b) {
  if (b.m_pShared == nullptr || b.m_pLocal == nullptr || b.m_nSize == 0 || !b.m_bMerge) return;
  auto* local = static_cast<unsigned char*>(b.m_pLocal);
  const auto* shared = static_cast<const unsigned char*>(b.m_pShared);
  if (b.m_pMask == nullptr) {
    memcpy(local, shared, b.m_nSize);
  } else {
    qarn::transport::MaskedMerge(local, shared, b.m_pMask, b.m_nSize);
  }
}

// Merge back, unmap, close. Leaves m_bMerge as it was.
void Release(Block& b) {
  if (b.m_pShared != nullptr) {
    MergeBack(b);
    qarn::os::MappingUnmapView(b.m_hMapping, b.m_pShared);
  }
  delete[] b.m_pMask;
  if (b.m_hMapping != nullptr) qarn::os::MappingClose(b.m_hMapping);
  Clear(b);
}

// Maps the whole (size 0) or the first `size` bytes of an open mapping into
// the block; on failure the handle is closed and the code thrown.
void MapOrThrow(Block& b, HANDLE mapping, unsigned long size) {
  void* view = nullptr;
  const uint32_t error = qarn::os::MappingMapView(mapping, static_cast<uint32_t>(size), &view);
  if (error != qarn::os::kErrorSuccess) {
    qarn::os::MappingClose(mapping);
    throw static_cast<unsigned long>(error);
  }
  b.m_hMapping = mapping;
  b.m_pShared = view;
}

// The creating side. The block must be empty; m_bMerge is the caller's job.
void Create(Block& b, const void* local, unsigned long size, bool merge, const void* mask) {
  if (local == nullptr || size == 0) return;
  // The mask copy is made first, so that no system object needs undoing if
  // the heap is exhausted.
  unsigned char* mask_copy = nullptr;
  if (merge && mask != nullptr) {
    mask_copy = new (std::nothrow) unsigned char[size];
    if (mask_copy == nullptr) throw static_cast<unsigned long>(qarn::os::kErrorNotEnoughMemory);
    memcpy(mask_copy, mask, size);
  }
  char name[qarn::transport::kBlockNameSize];
  qarn::transport::FormatBlockName(local, name);
  HANDLE mapping = nullptr;
  const uint32_t error = qarn::os::MappingCreate(name, static_cast<uint32_t>(size), &mapping);
  if (error != qarn::os::kErrorSuccess) {
    delete[] mask_copy;
    throw static_cast<unsigned long>(error);
  }
  try {
    MapOrThrow(b, mapping, size);
  } catch (...) {
    delete[] mask_copy;
    throw;
  }
  b.m_nSize = size;
  b.m_pLocal = const_cast<void*>(local);
  memcpy(b.m_pShared, local, size);
  b.m_pMask = mask_copy;
}

// The opening side. The block must be empty.
void Open(Block& b, const char* name) {
  if (qarn::transport::IsEmptyBlockName(name)) return;
  HANDLE mapping = nullptr;
  const uint32_t error = qarn::os::MappingOpen(name, &mapping);
  if (error != qarn::os::kErrorSuccess) throw static_cast<unsigned long>(error);
  MapOrThrow(b, mapping, 0);
}

void OpenByValue(Block& b, const void* p) {
  char name[qarn::transport::kBlockNameSize];
  qarn::transport::FormatBlockName(p, name);
  Open(b, name);
}

}  // namespace

c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(const void* pLocal, unsigned long nSize, bool bMerge, void* pMask) {
  Clear(*this);
  m_bMerge = bMerge;
  Create(*this, pLocal, nSize, bMerge, pMask);
}

c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(const char* szName) {
  Clear(*this);
  m_bMerge = false;
  Open(*this, szName);
}

c_QARNPlus_Shrmem::c_QARNPlus_Shrmem(const void* p) {
  Clear(*this);
  m_bMerge = false;
  OpenByValue(*this, p);
}

c_QARNPlus_Shrmem::~c_QARNPlus_Shrmem() { Release(*this); }

void* c_QARNPlus_Shrmem::Flush() {
  MergeBack(*this);
  return m_pLocal;
}

void* c_QARNPlus_Shrmem::Local() { return m_pShared; }

void* c_QARNPlus_Shrmem::Synch() {
  if (m_pShared != nullptr && m_nSize != 0) memcpy(m_pShared, m_pLocal, m_nSize);
  return m_pShared;
}

void* c_QARNPlus_Shrmem::Reuse(const void* pLocal, unsigned long nSize, bool bMerge, void* pMask) {
  Release(*this);
  Create(*this, pLocal, nSize, bMerge, pMask);
  if (m_pShared != nullptr) m_bMerge = bMerge;
  return m_pShared;
}

void* c_QARNPlus_Shrmem::Remap(const char* szName) {
  Release(*this);
  m_bMerge = false;
  Open(*this, szName);
  return m_pShared;
}

void* c_QARNPlus_Shrmem::Remap(const void* p) {
  Release(*this);
  m_bMerge = false;
  OpenByValue(*this, p);
  return m_pShared;
}

c_QARNPlus_Shrmem& c_QARNPlus_Shrmem::operator=(const c_QARNPlus_Shrmem& other) {
  if (&other == this) return *this;
  Release(*this);
  // Ownership moves: the source gives up its mapping, view and mask, so no
  // two blocks ever release the same objects.
  auto& source = const_cast<c_QARNPlus_Shrmem&>(other);
  m_pLocal = source.m_pLocal;
  m_nSize = source.m_nSize;
  m_bMerge = source.m_bMerge;
  m_hMapping = source.m_hMapping;
  m_pShared = source.m_pShared;
  m_pMask = source.m_pMask;
  Clear(source);
  return *this;
}
