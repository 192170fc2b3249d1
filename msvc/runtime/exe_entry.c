/* The console program entry point: the runtime's argument and environment
 * set-up, the module's initialisers, main, then exit. The module's atexit
 * list is handed to the runtime's, so that it also runs when the program
 * calls exit itself, before stdio is flushed and closed. */
#include "startup.h"

__declspec(dllimport) void __cdecl _set_app_type(int);
__declspec(dllimport) int __cdecl _configure_narrow_argv(int);
__declspec(dllimport) int __cdecl _initialize_narrow_environment(void);
__declspec(dllimport) int* __cdecl __p___argc(void);
__declspec(dllimport) char*** __cdecl __p___argv(void);
__declspec(dllimport) char** __cdecl _get_initial_narrow_environment(void);
__declspec(dllimport) __declspec(noreturn) void __cdecl exit(int);
__declspec(dllimport) int __cdecl _crt_atexit(void(__cdecl*)(void));

int __cdecl main(int, char**, char**);

enum { kConsoleApp = 1, kUnexpandedArguments = 1 };

int __cdecl mainCRTStartup(void) {
  _set_app_type(kConsoleApp);
  _configure_narrow_argv(kUnexpandedArguments);
  _initialize_narrow_environment();
  if (!qarn_module_init() || _crt_atexit(&qarn_module_exit) != 0) ExitProcess(255);
  exit(main(*__p___argc(), *__p___argv(), _get_initial_narrow_environment()));
}
