/* Shared by the start-up objects of the Microsoft-ABI build. The runtime's
 * functions are declared here rather than taken from the C runtime headers,
 * which would make atexit an import instead of the module's own. */
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

typedef struct {
  void(__cdecl** first)(void);
  void(__cdecl** last)(void);
  void(__cdecl** end)(void);
} qarn_onexit_table;

__declspec(dllimport) int __cdecl _initialize_onexit_table(qarn_onexit_table*);
__declspec(dllimport) int __cdecl _register_onexit_function(qarn_onexit_table*, void(__cdecl*)(void));
__declspec(dllimport) int __cdecl _execute_onexit_table(qarn_onexit_table*);
__declspec(dllimport) void __cdecl _initterm(void(__cdecl**)(void), void(__cdecl**)(void));
__declspec(dllimport) int __cdecl _initterm_e(int(__cdecl**)(void), int(__cdecl**)(void));
int __cdecl atexit(void(__cdecl*)(void));

/* Runs the module's initialisers; 0 when one failed. */
int qarn_module_init(void);
/* Runs what atexit registered, last first. */
void qarn_module_exit(void);
