// qarn call API-CODE [--nodes N] [SETTING...]: one document call from the command line.
#include <stdio.h>

#include "qarnplus/driver.h"
#include "tools/command.h"
#include "tools/document_call.h"

namespace qarn::tool {
namespace {

// Chains longer than this make too many shared blocks to read in a report.
constexpr long long kMaxCommandNodes = 64;
constexpr uint32_t kDefaultNodes = 2;

}  // namespace

std::string CallCodeList() {
  std::string list =
      "  usb  USBPrinter (no API code: sent as \"usb <record block>\"; nothing of it comes back)\n";
  size_t count = 0;
  const transport::ApiCodeEntry* table = transport::ApiCodeTable(&count);
  std::string line;
  for (size_t i = 0; i < count; ++i) {
    char entry[48];
    snprintf(entry, sizeof entry, "%5u %-27s", static_cast<unsigned>(table[i].code), table[i].rule->name);
    line += entry;
    if (i % 3 == 2 || i + 1 == count) {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      list += line + "\n";
      line.clear();
    }
  }
  return list;
}

int RunCall(const Options& options, const std::vector<std::string>& args) {
  CallTarget target;
  if (!ResolveTarget(args[0], &target)) {
    fprintf(stderr, "qarn call: no record type has API code \"%s\" (qarn call --help lists them)\n",
            args[0].c_str());
    return kExitUsage;
  }
  uint32_t nodes = kDefaultNodes;
  std::vector<std::string> settings;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--nodes" && i + 1 < args.size()) {
      value = args[++i];
    } else if (args[i].rfind("--nodes=", 0) == 0) {
      value = args[i].substr(8);
    } else if (args[i] == "--nodes" || args[i].rfind("--", 0) == 0) {
      fprintf(stderr, "qarn call: %s (see qarn call --help)\n",
              args[i] == "--nodes" ? "--nodes needs a number" : ("unknown option " + args[i]).c_str());
      return kExitUsage;
    } else {
      settings.push_back(args[i]);
      continue;
    }
    long long number = 0;
    if (!ParseNumber(value, 0, kMaxCommandNodes, &number)) {
      fprintf(stderr, "qarn call: %s\n", NumberExpected("--nodes", 0, kMaxCommandNodes, value).c_str());
      return kExitUsage;
    }
    nodes = static_cast<uint32_t>(number);
  }
  RecordBuilder builder;
  std::string error;
  if (!builder.Build(*target.rule, nodes, settings, &error)) {
    fprintf(stderr, "qarn call: %s\n", error.c_str());
    return kExitUsage;
  }
  Session session(options);
  if (!session.ok()) return kExitFailed;
  f_QARNDRV_Init(session.handle());
  CallOutcome outcome;
  const bool made = PerformDocumentCall(session.handle(), target, builder, &outcome, &error);
  f_QARNDRV_Clean(session.handle());
  if (!made) {
    fprintf(stderr, "qarn call: %s\n", error.c_str());
    return kExitFailed;
  }
  if (!outcome.answered) {
    fprintf(stderr, "qarn call: the server did not answer\n");
    return kExitFailed;
  }
  PrintCallReport(target, outcome);
  return outcome.succeeded ? kExitOk : kExitFailed;
}

}  // namespace qarn::tool
