// One handler per (interface, method); a table routes each request.
#include "server/handlers.h"

#include <stdio.h>
#include <string.h>

#include "connection/message.h"
#include "platform/platform.h"
#include "server/tables.h"
#include "server/verbs.h"
#include "server/version.h"

namespace qarn::server {
namespace {

namespace wire = qarn::wire;

struct Exchange {
  ServerState& state;
  const char* request;
  uint32_t length;
  char* reply;
};

uint32_t TextReply(char* reply, size_t offset, const char* text) {
  msg::PutText(reply, offset, msg::kSlotSize - offset, text);
  return static_cast<uint32_t>(offset + strlen(reply + offset) + 1);
}

uint32_t OnShutdown(Exchange& x) {
  x.state.shutdown = true;
  return sizeof(wire::Bare);
}

uint32_t OnGetVersion(Exchange& x) {
  msg::PutInt32(x.reply, offsetof(wire::Number, nValue), kServerVersion);
  return sizeof(wire::Number);
}

uint32_t OnInit(Exchange& x) {
  x.state.driver_ready = true;
  x.state.last_error = kErrNone;
  return sizeof(wire::Bare);
}

uint32_t OnClean(Exchange& x) {
  x.state.driver_ready = false;
  return sizeof(wire::Bare);
}

uint32_t OnInvoke(Exchange& x) {
  constexpr size_t at = offsetof(wire::Invoke, szText);
  char* text = x.reply + at;
  RunRequest(x.state, x.request + at, text, msg::kSlotSize - at);
  return static_cast<uint32_t>(at + strlen(text) + 1);
}

uint32_t OnGetLastError(Exchange& x) {
  msg::PutInt32(x.reply, offsetof(wire::Number, nValue), x.state.last_error);
  return sizeof(wire::Number);
}

uint32_t OnFormatMessage(Exchange& x) {
  const int32_t code = msg::GetInt32(x.request, offsetof(wire::FormatMessageCall, nError));
  msg::PutInt32(x.reply, offsetof(wire::FormatMessageCall, nError), code);
  const char* text = ErrorText(code);
  char unknown[48];
  if (text == nullptr) {
    snprintf(unknown, sizeof unknown, "unknown error code %d", static_cast<int>(code));
    text = unknown;
  }
  return TextReply(x.reply, offsetof(wire::FormatMessageCall, szText), text);
}

uint32_t OnGetTagNameById(Exchange& x) {
  const int32_t id = msg::GetInt32(x.request, offsetof(wire::TagNameById, nTag));
  msg::PutInt32(x.reply, offsetof(wire::TagNameById, nTag), id);
  const TagEntry* tag = FindTagById(id);
  x.state.last_error = tag != nullptr ? kErrNone : kErrUnknownTag;
  return TextReply(x.reply, offsetof(wire::TagNameById, szName), tag != nullptr ? tag->name : "");
}

uint32_t OnGetTagIdByName(Exchange& x) {
  char name[wire::kTagNameRoom];
  snprintf(name, sizeof name, "%s", x.request + offsetof(wire::TagIdByName, szName));
  const TagEntry* tag = FindTagByName(name);
  x.state.last_error = tag != nullptr ? kErrNone : kErrUnknownTag;
  msg::PutInt32(x.reply, offsetof(wire::Number, nValue), tag != nullptr ? tag->id : -1);
  return sizeof(wire::Number);
}

uint32_t OnCreateFilter(Exchange& x) {
  const uint32_t factory = msg::GetUInt32(x.request, offsetof(wire::CreateFilter, nFactory));
  msg::PutUInt32(x.reply, offsetof(wire::CreateFilter, nFactory), factory);
  uint32_t identity = 0;  // no filter
  if (x.state.filters.size() < kMaxFilters) {
    identity = x.state.next_filter++;
    x.state.filters[identity] = FilterKindName(factory);
    x.state.last_error = kErrNone;
  } else {
    x.state.last_error = kErrTooManyFilters;
  }
  msg::PutUInt32(x.reply, offsetof(wire::CreateFilter, nIdentity), identity);
  return sizeof(wire::CreateFilter);
}

// The name query and the release arrive under one method name; the release
// is the 150-byte form.
uint32_t OnFilterName(Exchange& x) {
  const uint32_t identity = msg::GetUInt32(x.request, offsetof(wire::FilterName, nIdentity));
  msg::PutUInt32(x.reply, offsetof(wire::FilterName, nIdentity), identity);
  const auto filter = x.state.filters.find(identity);
  x.state.last_error = filter != x.state.filters.end() ? kErrNone : kErrUnknownFilter;
  if (x.length == sizeof(wire::FilterRelease)) {
    if (filter != x.state.filters.end()) x.state.filters.erase(filter);
    return sizeof(wire::FilterRelease);
  }
  return TextReply(x.reply, offsetof(wire::FilterName, szName),
                   filter != x.state.filters.end() ? filter->second : "");
}

uint32_t OnUnknown(Exchange& x) {
  x.state.last_error = kErrUnknownRequest;
  return sizeof(wire::Bare);
}

struct Route {
  const char* interface_name;
  const char* method;
  uint32_t (*handle)(Exchange& x);
};

const Route kRoutes[] = {
    {msg::kServerInterface, "Shutdown", OnShutdown},
    {msg::kServerInterface, "GetVersion", OnGetVersion},
    {msg::kServerInterface, "CreateFilter", OnCreateFilter},
    {msg::kServerInterface, "GetFilterName", OnFilterName},
    {msg::kDriverInterface, "Init", OnInit},
    {msg::kDriverInterface, "Clean", OnClean},
    {msg::kDriverInterface, "Invoke", OnInvoke},
    {msg::kDriverInterface, "GetLastError", OnGetLastError},
    {msg::kDriverInterface, "FormatMessage", OnFormatMessage},
    {msg::kDriverInterface, "GetTagNameByID", OnGetTagNameById},
    {msg::kDriverInterface, "GetTagIDByName", OnGetTagIdByName},
};

// The reply header: the request's names, except that a reply never carries
// the callback interface, which the client would take for a callback.
void BeginReply(const char* request, char* reply) {
  char interface_name[msg::kNameRoom];
  char method[msg::kNameRoom];
  snprintf(interface_name, sizeof interface_name, "%.64s", request + msg::kInterfaceOffset);
  snprintf(method, sizeof method, "%.64s", request + msg::kMethodOffset);
  if (strcmp(interface_name, msg::kCallbackInterface) == 0)
    snprintf(interface_name, sizeof interface_name, "%s", msg::kServerInterface);
  msg::Begin(reply, msg::kSlotSize, interface_name, method);
  msg::PutInt64(reply, msg::kStartOffset, os::PerformanceCounter());
}

}  // namespace

uint32_t Answer(ServerState& state, const char* request, uint32_t length, char* reply) {
  BeginReply(request, reply);
  Exchange exchange{state, request, length, reply};
  const Route* route = nullptr;
  for (const Route& candidate : kRoutes) {
    if (msg::InterfaceIs(request, candidate.interface_name) && msg::MethodIs(request, candidate.method)) {
      route = &candidate;
      break;
    }
  }
  const uint32_t size = route != nullptr ? route->handle(exchange) : OnUnknown(exchange);
  msg::PutInt64(reply, msg::kEndOffset, os::PerformanceCounter());
  return size;
}

uint32_t AnswerTooLong(ServerState& state, char* reply) {
  msg::Begin(reply, msg::kSlotSize, msg::kDriverInterface, "Invoke");
  constexpr size_t at = offsetof(wire::Invoke, szText);
  char* text = reply + at;
  state.last_error = kErrRequestTooLong;
  snprintf(text, msg::kSlotSize - at,
           "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"%s\" "
           "name=\"error\"/>\n</QARN_RET>",
           ErrorText(kErrRequestTooLong));
  return static_cast<uint32_t>(at + strlen(text) + 1);
}

}  // namespace qarn::server
