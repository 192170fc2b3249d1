// Started by the leftovers test as
//   held_callback_app <server folder> <go file>
// An application that holds a document call's blocks while it answers a
// callback the server waits for. It makes an error message call (API code 8),
// then, with the package still alive, a password request whose callback
// prints "waiting <pid>" and waits until <go file> exists (at most 60 s).
// Then it prints, one after another, both replies, the bytes that came back
// into its message buffer and topic string, and whether the record itself
// stayed as it was, and ends its session:
//   call <reply>
//   callback <reply>
//   message <hex>
//   text <hex>
//   record unchanged|changed
// Its record's lead is its pid modulo 65536, the document "doc-<pid>.pdf",
// the password it gives "pw-<pid>", the topic "held-<pid>".
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "qarnplus.h"
#include "tests/exact_replies.h"

namespace {

const char* g_go_file = nullptr;

bool WaitForGo() {
  struct stat status;
  for (int waited = 0; waited < 60000; waited += 5) {
    if (stat(g_go_file, &status) == 0) return true;
    usleep(5000);
  }
  return false;
}

int WINAPI WaitThenAnswer(unsigned char* password, unsigned int* length, const char*) {
  printf("waiting %d\n", static_cast<int>(getpid()));
  fflush(stdout);
  if (!WaitForGo()) {
    *length = 0;
    return 0;
  }
  const std::string answer = "pw-" + std::to_string(getpid());
  memcpy(password, answer.data(), answer.size());
  *length = static_cast<unsigned int>(answer.size());
  return 1;
}

std::string ReplyTo(void* session, const std::string& request) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
  return reply != nullptr ? reply : "(no reply)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  g_go_file = argv[2];
  void* session = f_QARNSVR_LoadLibrary(0, argv[1], "");
  if (session == nullptr) return 1;
  f_QARNDRV_Init(session);
  const std::string pid = std::to_string(getpid());
  unsigned char message[32];
  memset(message, 0xEE, sizeof message);
  std::string topic = "held-" + pid;
  SAPGetErrMes1 record{static_cast<uint16_t>(getpid()), reinterpret_cast<char*>(message), sizeof message,
                       &topic[0]};
  const SAPGetErrMes1 before = record;
  std::string call_reply;
  std::string callback_reply;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), qarn::test::kErrorMessageCode);
    call_reply = ReplyTo(
        session, "call " + std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(&record))) + " 8");
    callback_reply =
        ReplyTo(session, "callback passwd " + std::to_string(reinterpret_cast<uintptr_t>(&WaitThenAnswer)) +
                             " doc-" + pid + ".pdf");
  }
  printf("call %s\ncallback %s\n", call_reply.c_str(), callback_reply.c_str());
  printf("message %s\n", qarn::test::Hex(message, sizeof message).c_str());
  printf("text %s\n",
         qarn::test::Hex(reinterpret_cast<const unsigned char*>(topic.c_str()), topic.size() + 1).c_str());
  printf("record %s\n", memcmp(&record, &before, sizeof record) == 0 ? "unchanged" : "changed");
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  return 0;
}
