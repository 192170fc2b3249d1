// qarn demo: one round trip of everything a client does with a server.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "qarnplus/callback.h"
#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/server.h"
#include "tools/command.h"

namespace qarn::tool {
namespace {

// The client's own callbacks: the server asks for them by address, the
// library runs them here while the request waits.
int WINAPI DemoPasswd(unsigned char* password, unsigned int* length, const char* document) {
  static const char kPassword[] = "s3cret";
  printf("  [client] password asked for \"%s\", answering \"%s\"\n", document, kPassword);
  memcpy(password, kPassword, sizeof kPassword - 1);
  *length = sizeof kPassword - 1;
  return 1;
}

int DemoSelectedText(unsigned short n, RECT rect, long value) {
  printf("  [client] selected text #%u at (%ld,%ld)-(%ld,%ld), value %ld\n", n, static_cast<long>(rect.left),
         static_cast<long>(rect.top), static_cast<long>(rect.right), static_cast<long>(rect.bottom), value);
  return static_cast<int>(n) + 1;
}

bool DemoAbsentPhoto(void* context, RECT* rect, unsigned long number, const char* text) {
  printf("  [client] absent photo %lu \"%s\" in (%ld,%ld)-(%ld,%ld), context %p\n", number, text,
         static_cast<long>(rect->left), static_cast<long>(rect->top), static_cast<long>(rect->right),
         static_cast<long>(rect->bottom), context);
  return true;
}

template <typename Function>
unsigned long AddressOf(Function function) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(function));
}

void Invoke(void* session, const std::string& request) {
  printf("> %s\n", request.c_str());
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
  printf("%s\n", reply != nullptr ? reply : "(no reply)");
}

_filter_def* DemoFilterFactory() { return nullptr; }

}  // namespace

int RunDemo(const Options& options, const std::vector<std::string>&) {
  printf("starting the server from %s\n", options.server_dir.c_str());
  Session session(options);
  if (!session.ok()) return kExitFailed;
  void* h = session.handle();
  const int version = f_QARNSVR_GetVersion(h);
  printf("server version: %d\n", version);

  f_QARNDRV_Init(h);
  printf("\ncallbacks (the server calls the client's functions while the request waits):\n");
  c_QARNPlus_Callback::RegGetDocPasswd(&DemoPasswd);
  c_QARNPlus_Callback::RegEnumSelectedText(&DemoSelectedText);
  c_QARNPlus_Callback::RegDspAbsentPhoto(&DemoAbsentPhoto);
  Invoke(h, "callback passwd " + std::to_string(AddressOf(c_QARNPlus_Callback::m_pfnGetDocPasswd)) +
                " annual-report.pdf");
  Invoke(h, "callback text " + std::to_string(AddressOf(c_QARNPlus_Callback::m_pfnEnumSelectedText)) +
                " 7 10 20 110 40 3");
  Invoke(h, "callback photo " + std::to_string(AddressOf(c_QARNPlus_Callback::m_pfnDspAbsentPhoto)) +
                " 4660 0 0 64 48 2 portrait.jpg");

  printf("\ndriver request:\n");
  Invoke(h, "echo hello from the client");

  printf("\ntags:\n");
  const char* name = f_QARNDRV_GetTagNameByID(h, static_cast<DXML_TAG>(3));
  printf("tag 3 is \"%s\"; ", name != nullptr ? name : "(none)");
  printf("tag \"seal\" is %d\n", static_cast<int>(f_QARNDRV_GetTagIDByName(h, "seal")));

  printf("\nfilter:\n");
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h, &DemoFilterFactory);
  QARN_FilterDef* filter = entry != nullptr ? entry->Create() : nullptr;
  if (filter != nullptr) {
    const char* filter_name = filter->GetName();
    printf("created a filter named \"%s\"; destroying it\n", filter_name != nullptr ? filter_name : "");
    filter->Destroy(entry);
  } else {
    printf("the server created no filter\n");
    delete entry;
  }
  f_QARNDRV_Clean(h);
  printf("\nfreeing the session\n");
  return version >= 0 ? kExitOk : kExitFailed;
}

}  // namespace qarn::tool
