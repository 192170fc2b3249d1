#pragma once
/// \file
/// Filters live in the server; these proxies name them by an opaque identity
/// and turn each operation into one request on the session. See \ref filters.

#include "qarnplus/export.h"

/// The server's filter type; the library only carries its address.
struct _filter_def;

class QARN_FilterEntry;

/// A filter: the interface its users see.
class QARNPLUS_API QARN_FilterDef {
 public:
  /// An interface has no state to set up.
  QARN_FilterDef() {}
  /// An interface has no state to copy.
  QARN_FilterDef(const QARN_FilterDef&) {}
  /// An interface has no state to assign.
  QARN_FilterDef& operator=(const QARN_FilterDef&) { return *this; }
  /// Destroys the filter object through its interface.
  virtual ~QARN_FilterDef() {}
  /// The filter's name, or NULL.
  virtual char* GetName() = 0;
  /// Ends the filter and deletes `pEntry` and this object.
  virtual void Destroy(QARN_FilterEntry* pEntry) = 0;
};

/// A filter factory: the interface its users see.
class QARNPLUS_API QARN_FilterEntry {
 public:
  /// An interface has no state to set up.
  QARN_FilterEntry() {}
  /// An interface has no state to copy.
  QARN_FilterEntry(const QARN_FilterEntry&) {}
  /// An interface has no state to assign.
  QARN_FilterEntry& operator=(const QARN_FilterEntry&) { return *this; }
  /// Destroys the factory object through its interface.
  virtual ~QARN_FilterEntry() {}
  /// A new filter, or NULL.
  virtual QARN_FilterDef* Create() = 0;
};

/// The proxy of one filter in the server, named by its identity there.
class QARNPLUS_API c_QARNPlus_FilterDef : public QARN_FilterDef {
 public:
  /// The proxy of filter `pFilterDef` (the server's identity) on `pSession`.
  c_QARNPlus_FilterDef(void* pSession, _filter_def* pFilterDef);
  /// A second proxy of the same filter (the session, identity and name).
  c_QARNPlus_FilterDef(const c_QARNPlus_FilterDef& other);
  /// Makes this a proxy of the same filter (the session, identity and name).
  c_QARNPlus_FilterDef& operator=(const c_QARNPlus_FilterDef& other);
  /// Deletes the proxy only; Destroy() ends the filter in the server.
  ~c_QARNPlus_FilterDef() override;

  /// Asks the server for the filter's name; returns m_szName or NULL (also
  /// when the session has ended).
  char* GetName() override;
  /// Releases the filter in the server, then deletes `pEntry` and this proxy;
  /// with an ended session nothing is sent, but both are still deleted.
  void Destroy(QARN_FilterEntry* pEntry) override;

  void* m_pSession;           ///< the session the filter lives in
  _filter_def* m_pFilterDef;  ///< the filter's identity in the server
  char m_szName[16];          ///< the last name GetName() received, cut to 15 characters
};

/// The proxy of a filter factory in the server: the session and the factory
/// value the server creates filters from.
class QARNPLUS_API c_QARNPlus_FilterEntry : public QARN_FilterEntry {
 public:
  /// A factory function of the server's; the library only carries its address.
  typedef _filter_def* (*PfnCreate)();

  /// A new factory proxy (delete it through Destroy() of a filter, or
  /// directly); NULL when the heap is exhausted.
  static QARN_FilterEntry* CreateInstance(void* pSession, PfnCreate pfnCreate);

  /// The factory proxy for `pfnCreate` on `pSession`.
  c_QARNPlus_FilterEntry(void* pSession, PfnCreate pfnCreate);
  /// A second proxy of the same factory.
  c_QARNPlus_FilterEntry(const c_QARNPlus_FilterEntry& other);
  /// Makes this a proxy of the same factory.
  c_QARNPlus_FilterEntry& operator=(const c_QARNPlus_FilterEntry& other);
  /// Deletes the proxy; the server holds nothing for it.
  ~c_QARNPlus_FilterEntry() override;

  /// Asks the server for a new filter; returns its proxy or NULL (also when
  /// the session has ended).
  QARN_FilterDef* Create() override;

  void* m_pSession;       ///< the session to create filters in
  PfnCreate m_pfnCreate;  ///< the factory value sent with each Create()
};
