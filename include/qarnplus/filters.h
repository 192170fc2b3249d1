#pragma once
// Filters live in the server; these proxies name them by an opaque identity
// and turn each operation into one request on the session.

#include "qarnplus/export.h"

// The server's filter type; the library only carries its address.
struct _filter_def;

class QARN_FilterEntry;

class QARNPLUS_API QARN_FilterDef {
 public:
  QARN_FilterDef() {}
  QARN_FilterDef(const QARN_FilterDef&) {}
  QARN_FilterDef& operator=(const QARN_FilterDef&) { return *this; }
  virtual ~QARN_FilterDef() {}
  virtual char* GetName() = 0;
  virtual void Destroy(QARN_FilterEntry* pEntry) = 0;
};

class QARNPLUS_API QARN_FilterEntry {
 public:
  QARN_FilterEntry() {}
  QARN_FilterEntry(const QARN_FilterEntry&) {}
  QARN_FilterEntry& operator=(const QARN_FilterEntry&) { return *this; }
  virtual ~QARN_FilterEntry() {}
  virtual QARN_FilterDef* Create() = 0;
};

class QARNPLUS_API c_QARNPlus_FilterDef : public QARN_FilterDef {
 public:
  c_QARNPlus_FilterDef(void* pSession, _filter_def* pFilterDef);
  c_QARNPlus_FilterDef(const c_QARNPlus_FilterDef& other);
  c_QARNPlus_FilterDef& operator=(const c_QARNPlus_FilterDef& other);
  ~c_QARNPlus_FilterDef() override;

  // Asks the server for the filter's name; returns m_szName or NULL.
  char* GetName() override;
  // Releases the filter in the server, then deletes `pEntry` and this proxy.
  void Destroy(QARN_FilterEntry* pEntry) override;

  void* m_pSession;
  _filter_def* m_pFilterDef;
  char m_szName[16];
};

class QARNPLUS_API c_QARNPlus_FilterEntry : public QARN_FilterEntry {
 public:
  typedef _filter_def* (*PfnCreate)();

  static QARN_FilterEntry* CreateInstance(void* pSession, PfnCreate pfnCreate);

  c_QARNPlus_FilterEntry(void* pSession, PfnCreate pfnCreate);
  c_QARNPlus_FilterEntry(const c_QARNPlus_FilterEntry& other);
  c_QARNPlus_FilterEntry& operator=(const c_QARNPlus_FilterEntry& other);
  ~c_QARNPlus_FilterEntry() override;

  // Asks the server for a new filter; returns its proxy or NULL.
  QARN_FilterDef* Create() override;

  void* m_pSession;
  PfnCreate m_pfnCreate;
};
