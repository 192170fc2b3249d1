/* The console program entry point: the runtime's argument and environment
 * set-up, the module's initialisers, main, then exit (which also runs the
 * runtime's own exit work and flushes stdio). */
#include "startup.h"

__declspec(dllimport) void __cdecl _set_app_type(int);
__declspec(dllimport) int __cdecl _configure_narrow_argv(int);
__declspec(dllimport) int __cdecl _initialize_narrow_environment(void);
__declspec(dllimport) int* __cdecl __p___argc(void);
__declspec(dllimport) char*** __cdecl __p___argv(void);
__declspec(dllimport) char** __cdecl _get_initial_narrow_environment(void);
__declspec(dllimport) __declspec(noreturn) void __cdecl exit(int);

int __cdecl main(int, char**, char**);

enum { kConsoleApp = 1, kUnexpandedArguments = 1 };

int __cdecl mainCRTStartup(void) {
  _set_app_type(kConsoleApp);
  _configure_narrow_argv(kUnexpandedArguments);
  _initialize_narrow_environment();
  if (!qarn_module_init()) ExitProcess(255);
  const int status = main(*__p___argc(), *__p___argv(), _get_initial_narrow_environment());
  qarn_module_exit();
  exit(status);
}
