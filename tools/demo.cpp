// qarn demo: one round trip of everything a client does with a server.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/server.h"
#include "tools/client_callbacks.h"
#include "tools/command.h"
#include "tools/document_call.h"

namespace qarn::tool {
namespace {

// Sends one request and prints its reply's values; true when it succeeded.
bool Invoke(void* session, const std::string& request) {
  printf("> %s\n", request.c_str());
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
  printf("  reply: %s\n", reply != nullptr ? ReadableReply(reply).c_str() : "(none)");
  return reply != nullptr && strstr(reply, "val=\"true\" name=\"SUCCESS\"") != nullptr;
}

// A callback request written with the function's name, sent with its address.
bool InvokeCallback(void* session, std::string request) {
  std::string error;
  return ResolveCallbackRequest(&request, &error) && Invoke(session, request);
}

// One document call per record family, built by the same machinery as
// `qarn call`.
struct DemoCall {
  const char* family;  // printed before the family's first call
  const char* target;  // as `qarn call` takes it
  uint32_t nodes;
  std::vector<std::string> settings;
};

const DemoCall kDemoCalls[] = {
    {"setup and keys", "1", 0, {}},
    {nullptr, "8", 0, {"u16@0=6", "len@2=13"}},  // message 6 into a buffer that fits it exactly
    {"printing, documents and seals", "222", 2, {}},
    {nullptr, "322", 0, {}},
    {"printers, fonts and settings", "401", 0, {}},
    {nullptr, "usb", 2, {}},
    {"files, pages and copies", "388", 0, {}},
    {nullptr, "1006", 0, {}},
};

bool DemoDocumentCall(void* session, const DemoCall& call) {
  if (call.family != nullptr) printf(" %s\n", call.family);
  CallTarget target;
  RecordBuilder builder;
  CallOutcome outcome;
  std::string error;
  if (!ResolveTarget(call.target, &target) ||
      !builder.Build(*target.rule, call.nodes, call.settings, &error) ||
      !PerformDocumentCall(session, target, builder, &outcome, &error)) {
    printf("  %s: %s\n", call.target, error.empty() ? "unknown record" : error.c_str());
    return false;
  }
  std::string what = target.rule->name;
  what += target.code != 0 ? " (code " + std::to_string(target.code) : " (no code";
  what += call.nodes != 0 ? ", " + std::to_string(call.nodes) + "-node chain)" : ")";
  printf("  %s, %zu block%s\n      %s\n", what.c_str(), outcome.blocks.size(),
         outcome.blocks.size() == 1 ? "" : "s", SummariseCall(outcome).c_str());
  if (!outcome.succeeded) printf("    reply: %s\n", ReadableReply(outcome.reply).c_str());
  return outcome.succeeded;
}

// The stand-in server picks a filter's kind from the factory value, so the
// demo sends a fixed one instead of its own function's address: the kind, and
// with it the output, is then the same on every run and every platform. Kind 4
// has a name longer than the proxy's name field and shows the cut.
constexpr uintptr_t kDemoFilterKind = 4;

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
  bool ok = version >= 0;
  ok &= InvokeCallback(h, "callback passwd password annual-report.pdf");
  ok &= InvokeCallback(h, "callback text selected-text 7 10 20 110 40 3");
  ok &= InvokeCallback(h, "callback photo absent-photo 4660 0 0 64 48 2 portrait.jpg");

  printf("\ndriver request:\n");
  ok &= Invoke(h, "echo hello from the client");

  printf("\ntags:\n");
  const char* name = f_QARNDRV_GetTagNameByID(h, static_cast<DXML_TAG>(3));
  printf("tag 3 is \"%s\"; ", name != nullptr ? name : "(none)");
  printf("tag \"seal\" is %d\n", static_cast<int>(f_QARNDRV_GetTagIDByName(h, "seal")));

  printf("\nfilter:\n");
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(
      h, reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(kDemoFilterKind));
  QARN_FilterDef* filter = entry != nullptr ? entry->Create() : nullptr;
  if (filter != nullptr) {
    const char* filter_name = filter->GetName();
    printf("created a filter named \"%s\"; destroying it\n", filter_name != nullptr ? filter_name : "");
    filter->Destroy(entry);
  } else {
    printf("the server created no filter\n");
    delete entry;
  }
  printf(
      "\ndocument calls, one per record family: the server writes into every byte it may, and only\n"
      "what each record's write-back allows comes back (qarn call CODE shows the bytes):\n");
  for (const DemoCall& call : kDemoCalls) ok &= DemoDocumentCall(h, call);
  f_QARNDRV_Clean(h);
  printf("\nfreeing the session\n");
  return ok ? kExitOk : kExitFailed;
}

}  // namespace qarn::tool
