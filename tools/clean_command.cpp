// qarn clean: removes what processes of this user left when they were killed
// (the library does the same once per process before its first block).
#include <stdio.h>

#include "platform/platform.h"
#include "tools/command.h"

namespace qarn::tool {
namespace {

void PrintObject(const char* path, void* dry_run) {
  printf("%s %s\n", *static_cast<const bool*>(dry_run) ? "stale" : "removed", path);
}

}  // namespace

int RunClean(const Options&, const std::vector<std::string>& args) {
  bool dry_run = false;
  for (const std::string& arg : args) {
    if (arg != "--dry-run") {
      fprintf(stderr, "qarn clean: unknown argument \"%s\" (see qarn clean --help)\n", arg.c_str());
      return kExitUsage;
    }
    dry_run = true;
  }
  const size_t count = os::RemoveStaleObjects(dry_run, PrintObject, &dry_run);
  printf("%zu stale object%s %s\n", count, count == 1 ? "" : "s",
         dry_run ? "found, nothing removed" : "removed");
  return kExitOk;
}

}  // namespace qarn::tool
