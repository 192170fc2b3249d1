// Trace lines, for example:
//        0.412 ms  session 5a3c1b20  <- QARN_Driver   Invoke           335 bytes  0.318 ms
// Callback messages and their answers are indented under the request they
// arrived during.
#include "connection/trace.h"

#include <chrono>

#include "connection/message.h"
#include "platform/platform.h"

namespace qarn::trace {
namespace {

using Clock = std::chrono::steady_clock;

// Times are printed relative to the trace's first session.
const Clock::time_point& Began() {
  static const Clock::time_point began = Clock::now();
  return began;
}

double MillisecondsSince(int64_t since_ns) { return static_cast<double>(Now() - since_ns) / 1e6; }

// A path that is not a file of ours is refused, once, on stderr: the
// application goes on untraced rather than writing where someone else chose.
FILE* Open(const char* path) {
  Began();
  uint32_t error = 0;
  FILE* file = os::TraceFileOpen(path, &error);
  if (file == nullptr) {
    fprintf(stderr, "qarnplus: not tracing to \"%s\": %s (system error %u)\n", path,
            error == os::kErrorAccessDenied ? "not a regular file of this user" : "cannot open it",
            static_cast<unsigned>(error));
  } else {
    fprintf(
        file,
        "# qarnplus trace: time since the trace began, session, direction (callbacks indented under their "
        "request), interface, method, size, for a reply the whole exchange, for an answer the time the "
        "callback took\n");
    fflush(file);
  }
  return file;
}

const char* Arrow(Direction direction) {
  switch (direction) {
    case Direction::kRequest:
      return "->";
    case Direction::kReply:
      return "<-";
    case Direction::kCallback:
      return "   <-";
    case Direction::kAnswer:
      return "   ->";
  }
  return "";
}

}  // namespace

int64_t Now() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - Began()).count(); }

FILE* ForNewSession() {
  const char* path = os::EnvironmentValue("QARN_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  static FILE* const file = Open(path);  // the first file named serves the whole process
  return file;
}

void Message(FILE* file, const void* session, Direction direction, const char* message, unsigned size,
             int64_t since) {
  char duration[32] = "";
  if (since != kNoDuration) snprintf(duration, sizeof duration, "  %.3f ms", MillisecondsSince(since));
  fprintf(file, "%12.3f ms  session %08lx  %-5s %-13.64s %-16.64s %5u bytes%s\n", MillisecondsSince(0),
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(session)), Arrow(direction),
          message + msg::kInterfaceOffset, message + msg::kMethodOffset, size, duration);
  fflush(file);
}

void NoReply(FILE* file, const void* session, uint32_t error, int64_t since) {
  fprintf(file, "%12.3f ms  session %08lx  %-5s no reply: system error %u after %.3f ms\n",
          MillisecondsSince(0), static_cast<unsigned long>(reinterpret_cast<uintptr_t>(session)), "<-",
          static_cast<unsigned>(error), MillisecondsSince(since));
  fflush(file);
}

}  // namespace qarn::trace
