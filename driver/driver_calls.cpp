// The driver interface: request texts, error codes and error texts.
#include <stdlib.h>
#include <string.h>

#include "connection/session.h"
#include "qarnplus/driver.h"

namespace msg = qarn::msg;
namespace wire = qarn::wire;

namespace {

// The reply an application gets when the server cannot answer.
constexpr char kServiceOffText[] =
    "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"Service Off\" "
    "name=\"error\"/>\n</QARN_RET>";
static_assert(sizeof kServiceOffText - 1 == 106, "the Service Off reply has 106 characters");

// It is handed out in a buffer of a reply slot's size, shared by all
// sessions and never written, so failing calls on several threads cannot
// race on it.
struct ServiceOffBuffer {
  char text[1024];
};
constexpr ServiceOffBuffer MakeServiceOffBuffer() {
  ServiceOffBuffer buffer{};
  for (size_t i = 0; i < sizeof kServiceOffText; ++i) buffer.text[i] = kServiceOffText[i];
  return buffer;
}
constexpr ServiceOffBuffer kServiceOffReply = MakeServiceOffBuffer();

void SendWithoutReply(void* hSession, const char* method) {
  const qarn::SessionLease session(hSession);
  if (!session) return;
  char message[sizeof(wire::Bare)];
  msg::Begin(message, sizeof message, msg::kDriverInterface, method);
  session->Request(message, sizeof message, nullptr);
}

}  // namespace

extern "C" QARNPLUS_API void f_QARNDRV_Init(void* hSession) { SendWithoutReply(hSession, "Init"); }

extern "C" QARNPLUS_API void f_QARNDRV_Clean(void* hSession) { SendWithoutReply(hSession, "Clean"); }

extern "C" QARNPLUS_API void f_QARNDRV_Invoke(void* hSession, const char* pszRequest, const char** ppszReply,
                                              LARGE_INTEGER* pTimes) {
  if (ppszReply != nullptr) *ppszReply = nullptr;
  if (pszRequest == nullptr) return;
  const qarn::SessionLease session(hSession);
  if (!session) {
    // A session busy with another exchange cannot answer this one.
    if (session.busy() && ppszReply != nullptr) *ppszReply = kServiceOffReply.text;
    return;
  }

  const size_t length = strlen(pszRequest);
  const size_t size = offsetof(wire::Invoke, szText) + length + 1;
  char* message = static_cast<char*>(malloc(size));
  if (message == nullptr) return;
  msg::Begin(message, size, msg::kDriverInterface, "Invoke");
  memcpy(message + offsetof(wire::Invoke, szText), pszRequest, length);

  char* reply = nullptr;
  const unsigned received = session->Request(message, static_cast<unsigned>(size), &reply);
  if (received != 0 && reply != nullptr) {
    if (ppszReply != nullptr) *ppszReply = reply + offsetof(wire::Invoke, szText);
    if (pTimes != nullptr) {
      pTimes[0].QuadPart = msg::GetInt64(message, msg::kStartOffset);
      pTimes[1].QuadPart = msg::GetInt64(reply, msg::kStartOffset);
      pTimes[2].QuadPart = msg::GetInt64(reply, msg::kEndOffset);
      pTimes[3].QuadPart = msg::GetInt64(message, msg::kEndOffset);
    }
    free(message);
    return;
  }
  if (ppszReply != nullptr) *ppszReply = kServiceOffReply.text;
  free(message);
}

extern "C" QARNPLUS_API QARNDRV_ERR f_QARNDRV_GetLastError(void* hSession) {
  const qarn::SessionLease session(hSession);
  if (!session) return QARNDRV_ERR_NONE;
  char message[sizeof(wire::Number)];
  msg::Begin(message, sizeof message, msg::kDriverInterface, "GetLastError");
  msg::PutInt32(message, offsetof(wire::Number, nValue), 0);
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  if (reply == nullptr) return QARNDRV_ERR_NONE;
  return static_cast<QARNDRV_ERR>(msg::GetInt32(reply, offsetof(wire::Number, nValue)));
}

extern "C" QARNPLUS_API const char* f_QARNDRV_FormatMessage(void* hSession, QARNDRV_ERR nError) {
  const qarn::SessionLease session(hSession);
  if (!session) return nullptr;
  char message[sizeof(wire::FormatMessageCall)];
  msg::Begin(message, sizeof message, msg::kDriverInterface, "FormatMessage");
  msg::PutInt32(message, offsetof(wire::FormatMessageCall, nError), static_cast<int32_t>(nError));
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  return reply != nullptr ? reply + offsetof(wire::FormatMessageCall, szText) : nullptr;
}

extern "C" QARNPLUS_API void f_QARNDRV_Free(void*, void*) {}
