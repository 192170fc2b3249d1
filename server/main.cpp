// qarn_svr, the stand-in document server: started by the library with
//   qarn_svr -l <option> <server folder> <suffix> <application folder> <event>
// it offers its pipe, signals the start event, serves its one client until
// "Shutdown" or until the client goes away, and leaves nothing behind.
#include <stdio.h>
#include <string.h>

#include "connection/message.h"
#include "platform/platform.h"
#include "qarnplus/callback.h"
#include "server/handlers.h"
#include "server/pipe_callback.h"
#include "server/state.h"
#include "server/words.h"

namespace {

namespace os = qarn::os;
namespace server = qarn::server;

struct Arguments {
  int option = 0;
  const char* server_dir = "";
  const char* suffix = "";
  const char* app_dir = "";
  const char* event_name = "";
};

bool ParseArguments(int argc, char** argv, Arguments* out) {
  if (argc != 7 || strcmp(argv[1], "-l") != 0) return false;
  int32_t option = 0;
  if (!server::ParseInt32(argv[2], &option)) return false;
  out->option = option;
  out->server_dir = argv[3];
  out->suffix = argv[4];
  out->app_dir = argv[5];
  out->event_name = argv[6];
  return true;
}

// Receive buffer: the longest request plus zero slack behind it.
char g_request[server::kMaxRequest + server::kRequestSlack];
char g_reply[qarn::msg::kSlotSize];

// Serves requests until Shutdown, a lost client or a failed reply.
void Serve(HANDLE pipe, const Arguments& arguments) {
  server::ServerState state;
  state.launch = {arguments.option, arguments.server_dir, arguments.suffix, arguments.app_dir};
  while (!state.shutdown) {
    uint32_t length = 0;
    const uint32_t error = os::PipeRead(pipe, g_request, server::kMaxRequest, &length);
    memset(g_reply, 0, sizeof g_reply);
    uint32_t reply_length = 0;
    if (error == os::kErrorMoreData) {
      reply_length = server::AnswerTooLong(state, g_reply);
    } else if (error != os::kErrorSuccess) {
      return;
    } else {
      memset(g_request + length, 0, server::kRequestSlack);
      reply_length = server::Answer(state, g_request, length, g_reply);
    }
    if (os::PipeWrite(pipe, g_reply, reply_length) != os::kErrorSuccess) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!ParseArguments(argc, argv, &arguments)) {
    fprintf(stderr,
            "usage: qarn_svr -l <option> <server folder> <suffix> <application folder> <start event>\n"
            "qarn_svr is started by the qarnplus library (f_QARNSVR_LoadLibrary), not by hand.\n");
    return 2;
  }
  HANDLE listener = nullptr;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) {
    fprintf(stderr, "qarn_svr: cannot offer the pipe\n");
    return 1;
  }
  if (os::EventSignal(arguments.event_name) != os::kErrorSuccess) {
    fprintf(stderr, "qarn_svr: cannot signal the start event %s\n", arguments.event_name);
    os::PipeListenerClose(listener);
    return 1;
  }
  HANDLE pipe = nullptr;
  if (os::PipeAccept(listener, &pipe) != os::kErrorSuccess) {
    os::PipeListenerClose(listener);
    return 1;
  }
  // One client only: stop listening at once, so that any other connection
  // is refused instead of waiting in the queue until this server ends.
  os::PipeListenerClose(listener);
  server::PipeCallback channel(pipe);
  c_QARNPlus_Callback::m_pCallback = &channel;
  Serve(pipe, arguments);
  c_QARNPlus_Callback::m_pCallback = nullptr;
  os::PipeClose(pipe);
  return 0;
}
