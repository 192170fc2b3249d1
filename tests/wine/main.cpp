// The Win32 OS layer under Wine: named pipes, events, processes, mappings,
// the registry setting, the string table and fault translation, each across
// real processes where the library uses them so.
//
// Without arguments the program runs every test and prints "N passed, M
// failed"; started with the server command line it is the peer process.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "check.h"
#include "peer.h"

namespace wine_test {
void RunPipeTests();
void RunEventAndProcessTests();
void RunMappingTests();
void RunSettingTests();
void RunFaultTextTests();
void RunFaultTranslationTests();
}  // namespace wine_test

namespace {

// A read that never returns must fail the run, not hang it.
constexpr DWORD kRunTimeLimitMs = 180000;

DWORD WINAPI Watchdog(void*) {
  Sleep(kRunTimeLimitMs);
  printf("timed out after %lu ms: %d passed, %d failed\n", kRunTimeLimitMs, wine_test::g_tally.passed,
         wine_test::g_tally.failed);
  fflush(stdout);
  ExitProcess(2);
}

// A crash must fail the run visibly; Wine's debugger would end it with 0.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  printf("crashed: exception 0x%08lx at %p: %d passed, %d failed\n",
         exception->ExceptionRecord->ExceptionCode, exception->ExceptionRecord->ExceptionAddress,
         wine_test::g_tally.passed, wine_test::g_tally.failed);
  fflush(stdout);
  ExitProcess(4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && strcmp(argv[1], "-l") == 0) return wine_test::RunPeer(atoi(argv[2]), argv[4], argv[6]);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
  CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));

  using Group = void (*)();
  const struct {
    const char* name;
    Group run;
  } groups[] = {
      {"pipe", wine_test::RunPipeTests},
      {"event and process", wine_test::RunEventAndProcessTests},
      {"mapping", wine_test::RunMappingTests},
      {"setting", wine_test::RunSettingTests},
      {"fault texts", wine_test::RunFaultTextTests},
      {"fault translation", wine_test::RunFaultTranslationTests},
  };
  for (const auto& group : groups) {
    const int failed_before = wine_test::g_tally.failed;
    group.run();
    printf("%-18s %s\n", group.name, wine_test::g_tally.failed == failed_before ? "ok" : "FAILED");
    fflush(stdout);
  }
  printf("%d passed, %d failed\n", wine_test::g_tally.passed, wine_test::g_tally.failed);
  return wine_test::g_tally.failed == 0 && wine_test::g_tally.passed > 0 ? 0 : 1;
}
