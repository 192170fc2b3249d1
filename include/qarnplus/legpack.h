#pragma once
/// \file
/// c_QARNPlus_Legpack: one parameter record of the document interface, with
/// every buffer and string it points to, carried in shared blocks. See
/// \ref documents.

#include <vector>

#include "qarnplus/export.h"
#include "qarnplus/record_list.h"
#include "qarnplus/records.h"
#include "qarnplus/shrmem.h"

/// One parameter record of the document interface, with every buffer and
/// string it points to, carried in shared blocks (c_QARNPlus_Shrmem).
///
/// Application side: build a package around the record before the request and
/// destroy it after the reply; the destructor merges the server's results back
/// (buffers first, in field order, the record last). Server side: build a
/// package from the record's block name and the API code text; Local() is then
/// the record in the server's address space, its pointer fields rewritten to
/// the server's views of the buffers.
///
/// A constructor that fails throws the system error code (`unsigned long`)
/// after releasing, without any merge back, the blocks it had made: nothing
/// stays open. Copies: copy construction is not allowed; assignment moves the
/// block list (the target's own blocks are released first, as its destructor
/// would), so no two packages ever own the same blocks.
class QARNPLUS_API c_QARNPlus_Legpack {
 public:
  /// Application side: the blocks of record `pPara` of the type that `nCode`
  /// selects (\ref api_codes). A NULL record, code 0 or an unknown code give
  /// an empty package.
  c_QARNPlus_Legpack(SedApiPara* pPara, unsigned long nCode);
  /// Server side: opens record block `szRecord` and the buffers it points to
  /// for the API code in decimal text `szCode`. "0" for either: empty package.
  c_QARNPlus_Legpack(const char* szRecord, const char* szCode);
  /// USB printer record: `bLocal` true builds the application side over
  /// `pPrinter`; false opens the server side from the pointer value.
  c_QARNPlus_Legpack(USBPrinter* pPrinter, bool bLocal);
  /// Not allowed: no two packages own the same blocks.
  c_QARNPlus_Legpack(const c_QARNPlus_Legpack&) = delete;
  /// Releases every block; on the application side that merges the server's
  /// results back into the record and its buffers.
  ~c_QARNPlus_Legpack();

  /// The server's record; NULL on the application side and when empty.
  void* Local();

  /// Moves the blocks of `other` into this package (see the class description).
  c_QARNPlus_Legpack& operator=(const c_QARNPlus_Legpack& other);

  std::vector<c_QARNPlus_Shrmem*>* m_pBlocks;  ///< owned blocks, creation order
  void* m_pLocal;                              ///< server side: the record's view

 protected:
  /// \name Record conversions
  /// One pair per record type: the application direction builds the blocks,
  /// the server direction opens them and rewrites the pointer fields.
  ///@{

  /// Declares the conversion pair of one record type.
#define QARN_DECLARE_RECORD_MEMBERS(Type)                                                           \
  /** Application side: makes the blocks of a Type record and of what it points to. */              \
  void Local2Share(Type* pRecord);                                                                  \
  /** Server side: opens them and points the view's fields at the server's views of the buffers. */ \
  void Share2Local(Type* pRecord);
  QARN_RECORD_TYPES(QARN_DECLARE_RECORD_MEMBERS)
#undef QARN_DECLARE_RECORD_MEMBERS
  ///@}
};
