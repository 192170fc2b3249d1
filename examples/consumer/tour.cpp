// A five-minute tour of qarnplus: start the stand-in server, send a driver
// request, let the server call one of our functions, make a document call
// with a parameter record in shared memory, and end the session.
//
//   tour [SERVER_FOLDER]
//
// The default folder is QARN_SERVER_DIR, which the build defines from what
// the installed package says (see CMakeLists.txt beside this file).
#include <qarnplus.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

// Runs in this process while a request waits: the server asks for a password.
static int WINAPI AskPassword(unsigned char* password, unsigned int* length, const char* document) {
  printf("  the server asks for the password of \"%s\"\n", document);
  memcpy(password, "s3cret", 6);
  *length = 6;
  return 1;
}

#ifndef QARN_SERVER_DIR
#define QARN_SERVER_DIR NULL
#endif

int main(int argc, char** argv) {
  const char* folder = argc > 1 ? argv[1] : QARN_SERVER_DIR;
  if (folder == NULL) {
    fprintf(stderr, "usage: tour SERVER_FOLDER   (the folder that holds qarn_svr)\n");
    return 2;
  }

  // 1. Start a server and open a session.
  void* session = f_QARNSVR_LoadLibrary(0, folder, "");
  if (session == NULL) {
    fprintf(stderr, "tour: no server could be started from %s\n", folder);
    return 1;
  }
  printf("server version %d\n", f_QARNSVR_GetVersion(session));

  // 2. A driver request. The reply text belongs to the library.
  const char* reply = NULL;
  f_QARNDRV_Init(session);
  f_QARNDRV_Invoke(session, "echo hello", &reply, NULL);
  printf("reply:\n%s\n", reply);

  // 3. A callback: the stand-in server calls the function whose address we
  //    send, and the library runs it here while the request waits.
  char request[128];
  snprintf(request, sizeof request, "callback passwd %lu report.pdf", (unsigned long)(uintptr_t)&AskPassword);
  f_QARNDRV_Invoke(session, request, &reply, NULL);
  printf("reply:\n%s\n", reply);

  // 4. A document call: the record and its buffers travel through shared
  //    memory. The server learns the record's block name (the decimal value
  //    of our pointer) and the API code; the results reach our memory when the
  //    package is destroyed.
  char message[64] = "";
  char topic[] = "printing";
  SAPGetErrMes1 record = {};
  record.pMessage = message;
  record.nMessageLen = sizeof message;
  record.pszText = topic;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
    snprintf(request, sizeof request, "call %d 8", (int)(intptr_t)&record);
    f_QARNDRV_Invoke(session, request, &reply, NULL);
  }
  printf("the server's message: \"%.*s\"\n", (int)sizeof message, message);

  // 5. End the session.
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  return 0;
}
