// Tag numbers and names, translated by the server; names looked up by
// number are cached per session.
#include <string.h>

#include <new>
#include <string>

#include "connection/session.h"
#include "qarnplus/driver.h"

namespace msg = qarn::msg;
namespace wire = qarn::wire;

extern "C" QARNPLUS_API const char* f_QARNDRV_GetTagNameByID(void* hSession, DXML_TAG nTag) {
  const qarn::SessionLease lease(hSession);
  c_QARNPlus_Session* session = lease.get();
  if (session == nullptr) return nullptr;
  const auto cached = session->m_tagNames.find(nTag);
  if (cached != session->m_tagNames.end()) return cached->second.c_str();

  char message[sizeof(wire::TagNameById)];
  msg::Begin(message, sizeof message, msg::kDriverInterface, "GetTagNameByID");
  msg::PutInt32(message, offsetof(wire::TagNameById, nTag), static_cast<int32_t>(nTag));
  const char* reply = qarn::RequestReply(session, message, sizeof message);
  if (reply == nullptr) return nullptr;

  const size_t at = offsetof(wire::TagNameById, szName);
  const char* name = reply + at;
  try {
    session->m_tagNames.emplace(nTag, std::string(name, strnlen(name, msg::kSlotSize - at)));
  } catch (const std::bad_alloc&) {
    // Not cached: the next lookup asks the server again.
  }
  return name;
}

extern "C" QARNPLUS_API DXML_TAG f_QARNDRV_GetTagIDByName(void* hSession, const char* pszName) {
  const qarn::SessionLease session(hSession);
  if (!session) return DXML_TAG_INVALID;
  char message[sizeof(wire::TagIdByName)];
  msg::Begin(message, sizeof message, msg::kDriverInterface, "GetTagIDByName");
  msg::PutText(message, offsetof(wire::TagIdByName, szName), wire::kTagNameRoom, pszName);
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  if (reply == nullptr) return DXML_TAG_INVALID;
  return static_cast<DXML_TAG>(msg::GetInt32(reply, offsetof(wire::Number, nValue)));
}
