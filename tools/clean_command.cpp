// qarn clean: removes what processes of this user left when they were killed
// (the library does the same once per process before its first block).
#include <stdint.h>
#include <stdio.h>

#include <chrono>

#include "qarnplus/extensions.h"
#include "tools/command.h"

#ifndef _WIN32
#include <errno.h>
#include <signal.h>

#include <thread>
#endif

namespace qarn::tool {
namespace {

#ifndef _WIN32
// How long --after waits for its process before it cleans anyway.
constexpr std::chrono::seconds kAfterLimit{30};
#endif

void PrintObject(const char* path, void* dry_run) {
  printf("%s %s\n", *static_cast<const bool*>(dry_run) ? "stale" : "removed", path);
}

// Waits until process `pid` is gone (reaped: until then its objects still
// count as in use).
void AwaitProcessEnd(long long pid) {
#ifndef _WIN32
  const auto deadline = std::chrono::steady_clock::now() + kAfterLimit;
  while (!(kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
#else
  (void)pid;  // Windows removes a process's objects with it
#endif
}

}  // namespace

int RunClean(const Options&, const std::vector<std::string>& args) {
  bool dry_run = false;
  long long after = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dry-run") {
      dry_run = true;
    } else if (args[i] == "--after" && i + 1 < args.size()) {
      if (!ParseNumber(args[++i], 1, INT32_MAX, &after)) {
        fprintf(stderr, "qarn clean: %s\n", NumberExpected("--after", 1, INT32_MAX, args[i]).c_str());
        return kExitUsage;
      }
    } else {
      fprintf(stderr, "qarn clean: unknown argument \"%s\" (see qarn clean --help)\n", args[i].c_str());
      return kExitUsage;
    }
  }
  if (after != 0) AwaitProcessEnd(after);
  const DWORD count = f_QARNPLUS_RemoveStaleObjects(dry_run ? 1 : 0, PrintObject, &dry_run);
  printf("%lu stale object%s %s\n", static_cast<unsigned long>(count), count == 1 ? "" : "s",
         dry_run ? "found, nothing removed" : "removed");
  return kExitOk;
}

}  // namespace qarn::tool
