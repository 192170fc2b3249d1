#pragma once
/// \file
/// c_QARNPlus_Shrmem: one buffer mirrored into a named shared mapping. See
/// \ref blocks.

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

/// One buffer mirrored into a named shared mapping.
///
/// The creating side (the application) builds a block over its own buffer; the
/// mapping is named after the buffer's address ("%d" of the 32-bit value), so
/// the opening side (the server) can find it from the pointer value alone.
/// Releasing a created block writes the server's changes back into the buffer:
/// nothing, everything, or the bits a write-back mask selects.
///
/// Failures of the system calls are thrown as `unsigned long` system error
/// codes; a constructor that throws leaves nothing open.
///
/// Copies: a block is the only owner of its mapping, view and mask copy.
/// Copy construction is not allowed. Assignment moves ownership: the target is
/// released first (merging back as its destructor would), then takes the
/// source's six fields, and the source is left as an empty block.
class QARNPLUS_API c_QARNPlus_Shrmem {
 public:
  /// Creating side: mirrors `nSize` bytes of `pLocal`. `bMerge` false: nothing
  /// comes back; true without `pMask`: the whole block comes back; true with
  /// `pMask` (nSize bytes, copied): only the masked bits come back.
  c_QARNPlus_Shrmem(const void* pLocal, unsigned long nSize, bool bMerge, void* pMask);
  /// Opening side: the mapping with this block name ("0": an empty block).
  explicit c_QARNPlus_Shrmem(const char* szName);
  /// Opening side: the mapping named after the pointer value `p` (NULL: empty).
  explicit c_QARNPlus_Shrmem(const void* p);
  /// Not allowed: a block is the only owner of its mapping.
  c_QARNPlus_Shrmem(const c_QARNPlus_Shrmem&) = delete;
  /// Releases the block: merges back (creating side), unmaps the view and
  /// closes the mapping (the creator removes its name with its last block).
  ~c_QARNPlus_Shrmem();

  /// Merges back now and keeps the mapping; returns the caller's buffer.
  void* Flush();
  /// The view in this process, NULL for an empty block.
  void* Local();
  /// Copies the caller's buffer into shared memory again; returns the view.
  void* Synch();
  /// Releases, then creates anew over another buffer; returns the view.
  void* Reuse(const void* pLocal, unsigned long nSize, bool bMerge, void* pMask);
  /// Releases, then opens by block name; returns the view.
  void* Remap(const char* szName);
  /// Releases, then opens by pointer value; returns the view.
  void* Remap(const void* p);

  /// Moves ownership from `other` (see the class description).
  c_QARNPlus_Shrmem& operator=(const c_QARNPlus_Shrmem& other);

  void* m_pLocal;          ///< the caller's buffer; NULL when opened or empty
  unsigned long m_nSize;   ///< bytes mirrored; 0 when opened or empty
  bool m_bMerge;           ///< write-back flag
  HANDLE m_hMapping;       ///< the mapping, or NULL
  void* m_pShared;         ///< the view in this process, or NULL
  unsigned char* m_pMask;  ///< own copy of the write-back mask, or NULL
};
