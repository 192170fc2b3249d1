// qarn bench: a quick look at what each kind of exchange costs on this
// machine. The real figures, each beside a raw baseline, come from bench/.
#include <stdio.h>

#include <chrono>
#include <string>

#include "qarnplus/driver.h"
#include "qarnplus/server.h"
#include "tools/command.h"
#include "tools/document_call.h"
#include "tools/interrupt.h"

namespace qarn::tool {
namespace {

constexpr long long kDefaultRounds = 200;
constexpr long long kDefaultSessions = 5;
constexpr size_t kInvokeTextLength = 100;
constexpr long long kMaxCount = 1000000;

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void Report(const char* what, double total_us, long long runs) {
  const double each = total_us / static_cast<double>(runs);
  if (each >= 10000) {
    printf("  %-40s %10.2f ms  (%lld runs)\n", what, each / 1000, runs);
  } else {
    printf("  %-40s %10.1f us  (%lld runs)\n", what, each, runs);
  }
}

// Takes "--NAME N" or "--NAME=N"; false when args[*i] is not this option,
// true with *error set when its value is missing or out of range.
bool ParseCount(const std::vector<std::string>& args, size_t* i, const char* name, long long* value,
                std::string* error) {
  const std::string option = std::string("--") + name;
  std::string text;
  if (args[*i] == option && *i + 1 < args.size()) {
    text = args[++*i];
  } else if (args[*i].rfind(option + "=", 0) == 0) {
    text = args[*i].substr(option.size() + 1);
  } else if (args[*i] != option) {
    return false;
  }
  if (!ParseNumber(text, 1, kMaxCount, value)) *error = NumberExpected(option, 1, kMaxCount, text);
  return true;
}

}  // namespace

int RunBench(const Options& options, const std::vector<std::string>& args) {
  long long rounds = kDefaultRounds;
  long long sessions = kDefaultSessions;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (!ParseCount(args, &i, "rounds", &rounds, &error) &&
        !ParseCount(args, &i, "sessions", &sessions, &error)) {
      fprintf(stderr, "qarn bench: unknown argument \"%s\" (see qarn bench --help)\n", args[i].c_str());
      return kExitUsage;
    }
    if (!error.empty()) {
      fprintf(stderr, "qarn bench: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  printf("qarn bench: server from %s\n", options.server_dir.c_str());
  {
    Session session(options);
    if (!session.ok()) return kExitFailed;
    void* h = session.handle();
    if (f_QARNSVR_GetVersion(h) < 0) {
      fprintf(stderr, "qarn bench: the server did not answer\n");
      return kExitFailed;
    }
    Clock::time_point start = Clock::now();
    for (long long i = 0; i < rounds; ++i) {
      StopIfInterrupted();
      f_QARNSVR_GetVersion(h);
    }
    Report("GetVersion round trip", MicrosecondsSince(start), rounds);

    f_QARNDRV_Init(h);
    const std::string request = "echo " + std::string(kInvokeTextLength - 5, 'x');
    const char* reply = nullptr;
    start = Clock::now();
    for (long long i = 0; i < rounds; ++i) {
      StopIfInterrupted();
      f_QARNDRV_Invoke(h, request.c_str(), &reply, nullptr);
    }
    Report("Invoke round trip, 100-byte text", MicrosecondsSince(start), rounds);

    CallTarget target;
    RecordBuilder builder;
    std::string error;
    if (ResolveTarget("8", &target) && builder.Build(*target.rule, 0, {}, &error)) {
      CallOutcome outcome;
      start = Clock::now();
      long long done = 0;
      while (done < rounds && PerformDocumentCall(h, target, builder, &outcome, &error)) {
        ++done;
        StopIfInterrupted();
      }
      if (done > 0) Report("document call, SAPGetErrMes1 (3 blocks)", MicrosecondsSince(start), done);
    }
    f_QARNDRV_Clean(h);
  }
  const Clock::time_point start = Clock::now();
  for (long long i = 0; i < sessions; ++i) {
    StopIfInterrupted();
    Session session(options);
    if (!session.ok()) return kExitFailed;
  }
  Report("session start and end", MicrosecondsSince(start), sessions);
  printf("For the full benchmarks, each beside a raw baseline: bench/run.sh\n");
  return kExitOk;
}

}  // namespace qarn::tool
