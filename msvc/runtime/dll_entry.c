/* The DLL entry point: initialisers before DllMain sees the attach, the
 * module's atexit list after it sees the detach. */
#include "startup.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH && !qarn_module_init()) return FALSE;
  const BOOL ok = DllMain(instance, reason, reserved);
  if (reason == DLL_PROCESS_DETACH || (reason == DLL_PROCESS_ATTACH && !ok)) qarn_module_exit();
  return ok;
}
