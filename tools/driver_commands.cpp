// version, invoke, error, tag and filter: one driver or server call each.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/server.h"
#include "tools/client_callbacks.h"
#include "tools/command.h"
#include "tools/document_call.h"

namespace qarn::tool {

bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

std::string NumberExpected(const std::string& what, long long low, long long high, const std::string& text) {
  return what + " must be a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
         text + "\"";
}

int RunVersion(const Options& options, const std::vector<std::string>&) {
  Session session(options);
  if (!session.ok()) return kExitFailed;
  const int version = f_QARNSVR_GetVersion(session.handle());
  if (version < 0) {
    fprintf(stderr, "qarn: the server did not report a version\n");
    return kExitFailed;
  }
  printf("%d\n", version);
  return kExitOk;
}

int RunInvoke(const Options& options, const std::vector<std::string>& args) {
  std::string request;
  for (const std::string& word : args) request += (request.empty() ? "" : " ") + word;
  std::string error;
  if (!ResolveCallbackRequest(&request, &error)) {
    fprintf(stderr, "qarn invoke: %s\n", error.c_str());
    return kExitUsage;
  }
  Session session(options);
  if (!session.ok()) return kExitFailed;
  f_QARNDRV_Init(session.handle());
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session.handle(), request.c_str(), &reply, nullptr);
  const std::string text = reply != nullptr ? reply : "";
  f_QARNDRV_Clean(session.handle());
  // The library's own reply when the exchange failed.
  if (text.empty() || text.find("val=\"Service Off\"") != std::string::npos) {
    fprintf(stderr, "qarn invoke: the server did not answer\n");
    return kExitFailed;
  }
  printf("%s\n", text.c_str());
  if (request == "help")
    printf("In callback requests, name one of qarn's functions for <address>:\n%s", CallbackList().c_str());
  fflush(stdout);
  if (!ReplyIsComplete(text)) {
    fprintf(stderr,
            "qarn invoke: the server cut its reply to fit one %u-byte message (%zu characters arrived)\n",
            kReplySlotSize, text.size());
    return kExitFailed;
  }
  if (ReplyValue(text, "SUCCESS") != "true") {
    const std::string code = ReplyValue(text, "code");
    fprintf(stderr, "qarn invoke: the server refused the request: %s%s%s\n",
            ReplyValue(text, "error").c_str(), code.empty() ? "" : ", driver error ", code.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int RunError(const Options& options, const std::vector<std::string>& args) {
  long long code = 0;
  if (!args.empty() && !ParseNumber(args[0], INT32_MIN, INT32_MAX, &code)) {
    fprintf(stderr, "qarn error: %s\n", NumberExpected("CODE", INT32_MIN, INT32_MAX, args[0]).c_str());
    return kExitUsage;
  }
  Session session(options);
  if (!session.ok()) return kExitFailed;
  if (args.empty()) code = f_QARNDRV_GetLastError(session.handle());
  const char* text = f_QARNDRV_FormatMessage(session.handle(), static_cast<QARNDRV_ERR>(code));
  if (text == nullptr) {
    fprintf(stderr, "qarn: the server gave no text for error %lld\n", code);
    return kExitFailed;
  }
  printf("%lld: %s\n", code, text);
  return kExitOk;
}

int RunTag(const Options& options, const std::vector<std::string>& args) {
  Session session(options);
  if (!session.ok()) return kExitFailed;
  long long number = 0;
  if (ParseNumber(args[0], INT32_MIN, INT32_MAX, &number)) {
    const char* name = f_QARNDRV_GetTagNameByID(session.handle(), static_cast<DXML_TAG>(number));
    if (name == nullptr || *name == '\0') {
      fprintf(stderr, "qarn: no tag number %lld\n", number);
      return kExitFailed;
    }
    printf("%lld %s\n", number, name);
    return kExitOk;
  }
  const DXML_TAG tag = f_QARNDRV_GetTagIDByName(session.handle(), args[0].c_str());
  if (tag == DXML_TAG_INVALID) {
    fprintf(stderr, "qarn: no tag named \"%s\"\n", args[0].c_str());
    return kExitFailed;
  }
  printf("%d %s\n", static_cast<int>(tag), args[0].c_str());
  return kExitOk;
}

// The factory value only names the kind of filter to the server; the
// library never calls it.
_filter_def* FilterFactory() { return nullptr; }

int RunFilter(const Options& options, const std::vector<std::string>& args) {
  long long kind = 0;
  if (!args.empty() && !ParseNumber(args[0], 1, UINT32_MAX, &kind)) {
    fprintf(stderr, "qarn filter: %s\n", NumberExpected("FACTORY", 1, UINT32_MAX, args[0]).c_str());
    return kExitUsage;
  }
  Session session(options);
  if (!session.ok()) return kExitFailed;
  auto factory = args.empty()
                     ? &FilterFactory
                     : reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(static_cast<uintptr_t>(kind));
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(session.handle(), factory);
  QARN_FilterDef* filter = entry != nullptr ? entry->Create() : nullptr;
  if (filter == nullptr) {
    fprintf(stderr, "qarn: the server created no filter\n");
    delete entry;
    return kExitFailed;
  }
  const char* name = filter->GetName();
  printf("filter %#x created, name \"%s\"\n",
         static_cast<unsigned>(
             reinterpret_cast<uintptr_t>(static_cast<c_QARNPlus_FilterDef*>(filter)->m_pFilterDef)),
         name != nullptr ? name : "");
  filter->Destroy(entry);
  printf("filter destroyed\n");
  return kExitOk;
}

}  // namespace qarn::tool
