// Proxies of filters that live in the server. Besides NULL, the proxies
// also refuse a session handle that is no longer open, so that a proxy that
// outlived its session cannot reach freed memory.
#include <stdint.h>
#include <string.h>

#include <new>

#include "connection/session.h"
#include "qarnplus/filters.h"

namespace msg = qarn::msg;
namespace wire = qarn::wire;

namespace {

// The release message is built like the name query, only shorter; the
// server tells the two apart by their length.
constexpr const char* kFilterNameMethod = "GetFilterName";

template <typename Pointer>
uint32_t ValueOf(Pointer pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

}  // namespace

QARN_FilterEntry* c_QARNPlus_FilterEntry::CreateInstance(void* pSession, PfnCreate pfnCreate) {
  return new (std::nothrow) c_QARNPlus_FilterEntry(pSession, pfnCreate);
}

c_QARNPlus_FilterEntry::c_QARNPlus_FilterEntry(void* pSession, PfnCreate pfnCreate)
    : m_pSession(pSession), m_pfnCreate(pfnCreate) {}

c_QARNPlus_FilterEntry::c_QARNPlus_FilterEntry(const c_QARNPlus_FilterEntry& other)
    : QARN_FilterEntry(other), m_pSession(other.m_pSession), m_pfnCreate(other.m_pfnCreate) {}

c_QARNPlus_FilterEntry& c_QARNPlus_FilterEntry::operator=(const c_QARNPlus_FilterEntry& other) {
  m_pSession = other.m_pSession;
  m_pfnCreate = other.m_pfnCreate;
  return *this;
}

c_QARNPlus_FilterEntry::~c_QARNPlus_FilterEntry() {}

QARN_FilterDef* c_QARNPlus_FilterEntry::Create() {
  if (m_pSession == nullptr || m_pfnCreate == nullptr) return nullptr;
  const qarn::SessionLease session(m_pSession);
  if (!session) return nullptr;
  char message[sizeof(wire::CreateFilter)];
  msg::Begin(message, sizeof message, msg::kServerInterface, "CreateFilter");
  msg::PutUInt32(message, offsetof(wire::CreateFilter, nFactory), ValueOf(m_pfnCreate));
  msg::PutUInt32(message, offsetof(wire::CreateFilter, nIdentity), 0);
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  if (reply == nullptr) return nullptr;
  auto* identity = reinterpret_cast<_filter_def*>(
      static_cast<uintptr_t>(msg::GetUInt32(reply, offsetof(wire::CreateFilter, nIdentity))));
  return new (std::nothrow) c_QARNPlus_FilterDef(m_pSession, identity);
}

c_QARNPlus_FilterDef::c_QARNPlus_FilterDef(void* pSession, _filter_def* pFilterDef)
    : m_pSession(pSession), m_pFilterDef(pFilterDef), m_szName() {}

c_QARNPlus_FilterDef::c_QARNPlus_FilterDef(const c_QARNPlus_FilterDef& other)
    : QARN_FilterDef(other), m_pSession(other.m_pSession), m_pFilterDef(other.m_pFilterDef) {
  memcpy(m_szName, other.m_szName, sizeof m_szName);
}

c_QARNPlus_FilterDef& c_QARNPlus_FilterDef::operator=(const c_QARNPlus_FilterDef& other) {
  m_pSession = other.m_pSession;
  m_pFilterDef = other.m_pFilterDef;
  memmove(m_szName, other.m_szName, sizeof m_szName);
  return *this;
}

c_QARNPlus_FilterDef::~c_QARNPlus_FilterDef() {}

char* c_QARNPlus_FilterDef::GetName() {
  if (m_pSession == nullptr || m_pFilterDef == nullptr) return nullptr;
  const qarn::SessionLease session(m_pSession);
  if (!session) return nullptr;
  char message[sizeof(wire::FilterName)];
  msg::Begin(message, sizeof message, msg::kServerInterface, kFilterNameMethod);
  msg::PutUInt32(message, offsetof(wire::FilterName, nIdentity), ValueOf(m_pFilterDef));
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  if (reply == nullptr) return nullptr;
  // A longer name is cut so that the field always ends in a zero.
  const char* name = reply + offsetof(wire::FilterName, szName);
  memset(m_szName, 0, sizeof m_szName);
  memcpy(m_szName, name, strnlen(name, sizeof m_szName - 1));
  return m_szName;
}

void c_QARNPlus_FilterDef::Destroy(QARN_FilterEntry* pEntry) {
  if (m_pSession == nullptr || m_pFilterDef == nullptr) return;
  // With a session that has ended nothing can be sent; the proxies still go,
  // as after any failed request.
  const qarn::SessionLease session(m_pSession);
  if (session) {
    char message[sizeof(wire::FilterRelease)];
    msg::Begin(message, sizeof message, msg::kServerInterface, kFilterNameMethod);
    msg::PutUInt32(message, offsetof(wire::FilterRelease, nIdentity), ValueOf(m_pFilterDef));
    session->Request(message, sizeof message, nullptr);
  }
  delete pEntry;
  delete this;
}
