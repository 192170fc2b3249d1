// The Win32 OS layer under Wine, across real processes where the library
// uses it so. Without arguments it runs every group and prints "N passed, M
// failed"; started with the server command line it is the peer process.

#include <stdlib.h>
#include <string.h>

#include "peer.h"

int main(int argc, char** argv) {
  if (argc == 7 && strcmp(argv[1], "-l") == 0) return wine_test::RunPeer(atoi(argv[2]), argv[4], argv[6]);
  // A crash or hang shows as the missing summary line, after the last group.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

  const struct {
    const char* name;
    void (*run)();
  } groups[] = {
      {"pipe", wine_test::RunPipeTests},
      {"named object", wine_test::RunNamedObjectTests},
      {"system data", wine_test::RunSystemDataTests},
      {"fault translation", wine_test::RunFaultTranslationTests},
      {"intruder", wine_test::RunIntruderTests},
  };
  for (const auto& group : groups) {
    const int failed_before = wine_test::g_failed;
    group.run();
    printf("%-18s %s\n", group.name, wine_test::g_failed == failed_before ? "ok" : "FAILED");
    fflush(stdout);
  }
  printf("%d passed, %d failed\n", wine_test::g_passed, wine_test::g_failed);
  return wine_test::g_failed == 0 && wine_test::g_passed > 0 ? 0 : 1;
}
