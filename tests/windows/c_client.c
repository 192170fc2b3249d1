/* A C program that uses the installed DLL through its C functions alone: the
   C headers must compile as C and the plain exports must link and run. */
#include <qarnplus/driver.h>
#include <qarnplus/server.h>
#include <stdio.h>

int main(int argc, char** argv) {
  void* session = f_QARNSVR_LoadLibrary(0, argc > 1 ? argv[1] : ".", "");
  const char* reply = NULL;
  if (session == NULL) return 1;
  f_QARNDRV_Init(session);
  f_QARNDRV_Invoke(session, "echo from C", &reply, NULL);
  printf("version %d\n%s\n", f_QARNSVR_GetVersion(session), reply != NULL ? reply : "(no reply)");
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  return 0;
}
