/* What Microsoft's static runtime library (vcstartup) gives every module and
 * Debian has no copy of: the C and C++ initialiser tables, a module-local
 * atexit, and _fltused. The entry points in dll_entry.c and exe_entry.c run
 * it; everything else comes from ucrtbase and vcruntime140. */
#include "startup.h"

typedef void(__cdecl* qarn_pvfv)(void);
typedef int(__cdecl* qarn_pifv)(void);

/* The compiler puts C initialisers in .CRT$XIC..XIY and C++ constructors in
 * .CRT$XCU; the linker sorts the sections by name, so these bracket them. */
#pragma section(".CRT$XIA", long, read)
#pragma section(".CRT$XIZ", long, read)
#pragma section(".CRT$XCA", long, read)
#pragma section(".CRT$XCZ", long, read)
__declspec(allocate(".CRT$XIA")) static qarn_pifv qarn_c_init_first[] = {0};
__declspec(allocate(".CRT$XIZ")) static qarn_pifv qarn_c_init_last[] = {0};
__declspec(allocate(".CRT$XCA")) static qarn_pvfv qarn_cxx_init_first[] = {0};
__declspec(allocate(".CRT$XCZ")) static qarn_pvfv qarn_cxx_init_last[] = {0};

/* Tells the linker that floating point is used; the value is the customary one. */
int _fltused = 0x9875;

/* Each module runs its own static destructors when it goes (the DLL at
 * detach, a program at exit), so atexit must be the module's own. */
static qarn_onexit_table qarn_exit_table;

int __cdecl atexit(void(__cdecl* function)(void)) {
  return _register_onexit_function(&qarn_exit_table, function);
}

int qarn_module_init(void) {
  if (_initialize_onexit_table(&qarn_exit_table) != 0) return 0;
  if (_initterm_e(qarn_c_init_first, qarn_c_init_last) != 0) return 0;
  _initterm(qarn_cxx_init_first, qarn_cxx_init_last);
  return 1;
}

void qarn_module_exit(void) { _execute_onexit_table(&qarn_exit_table); }
