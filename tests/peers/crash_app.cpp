// Started by the leftovers test as
//   crash_app <server folder> hold|callback|check
// Makes a document call on an error message record (API code 8), then:
// hold waits to be killed holding the package's blocks, callback does so
// inside a callback the server waits for, check prints "own bytes" when the
// message came from its own record. Waits end after 20 s.
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "qarnplus.h"

namespace {

void WaitToBeKilled() {
  printf("%d\n", static_cast<int>(getpid()));
  fflush(stdout);
  sleep(20);
}

int WINAPI WaitInCallback(unsigned char*, unsigned int* length, const char*) {
  *length = 0;
  WaitToBeKilled();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string mode = argv[2];
  void* session = f_QARNSVR_LoadLibrary(0, argv[1], "");
  if (session == nullptr) return 1;
  f_QARNDRV_Init(session);
  char message[64] = "";
  char topic[] = "leftovers";
  SAPGetErrMes1 record = {};
  record.nLead = static_cast<uint16_t>(getpid());
  record.pMessage = message;
  record.nMessageLen = sizeof message;
  record.pszText = topic;
  const char* reply = nullptr;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
    const std::string call = "call " + std::to_string(reinterpret_cast<intptr_t>(&record)) + " 8";
    f_QARNDRV_Invoke(session, call.c_str(), &reply, nullptr);
    if (mode == "hold") WaitToBeKilled();
    const std::string callback =
        "callback passwd " + std::to_string(reinterpret_cast<uintptr_t>(&WaitInCallback)) + " x";
    if (mode == "callback") f_QARNDRV_Invoke(session, callback.c_str(), &reply, nullptr);
  }
  printf("%s\n", message == "QARN error " + std::to_string(record.nLead) ? "own bytes" : message);
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  return 0;
}
