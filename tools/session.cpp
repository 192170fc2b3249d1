// Opening a session for a command, and saying why when none opens.
#include <stdio.h>

#include <chrono>
#include <string>

#include "qarnplus/extensions.h"
#include "qarnplus/server.h"
#include "tools/command.h"

#ifdef _GLIBCXX_HAS_GTHREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qarn::tool {
namespace {

// How long a start may take before the user is told what is being waited for.
constexpr std::chrono::seconds kQuietStart{3};

// The library's reasons for a failed start (Windows system error codes).
constexpr DWORD kFileNotFound = 2;
constexpr DWORD kAccessDenied = 5;
constexpr DWORD kPathTooLong = 206;
constexpr DWORD kBadExeFormat = 193;  // Windows: a file, but no program
constexpr DWORD kServerEnded = 1067;
constexpr DWORD kTimeout = 1460;

void* Open(const Options& options) {
  return f_QARNSVR_LoadLibrary(options.option, options.server_dir.c_str(), options.suffix.c_str());
}

// Someone watches the start: the wait is explained to a person only. In a
// log or a script's capture, a line that depends on how fast this machine
// is would make one run's output differ from the next.
bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

#ifdef _GLIBCXX_HAS_GTHREADS
// Opens the session; if that takes longer than kQuietStart, a watcher says
// which server it waits for. (Toolchains without threads just wait.)
void* OpenSaying(const Options& options) {
  if (!StderrIsTerminal()) return Open(options);
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread watcher([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (done_changed.wait_for(lock, kQuietStart, [&] { return done; })) return;
    fprintf(stderr,
            "qarn: waiting for %s to signal that it is ready and to open its pipe "
            "(the library waits up to 60 s each, or without limit when the Debug setting is on)\n",
            ServerPath(options).c_str());
  });
  void* handle = Open(options);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  done_changed.notify_one();
  watcher.join();
  return handle;
}
#else
void* OpenSaying(const Options& options) { return Open(options); }
#endif

void SayWhyNoSession(const Options& options, DWORD error) {
  const std::string server = ServerPath(options);
  switch (error) {
    case kFileNotFound:
      fprintf(stderr, "qarn: no server at %s: not found (use --server-dir and --suffix)\n", server.c_str());
      return;
    case kAccessDenied:
    case kBadExeFormat:
      fprintf(stderr, "qarn: the server %s is not executable\n", server.c_str());
      return;
    case kPathTooLong:
      fprintf(stderr, "qarn: the server's path %s is too long for the library\n", server.c_str());
      return;
    case kServerEnded:
      fprintf(stderr, "qarn: the server %s did not start: it ended before it was ready\n", server.c_str());
      return;
    case kTimeout:
      fprintf(stderr, "qarn: the server %s did not start: it did not signal that it was ready in time\n",
              server.c_str());
      return;
    default:
      fprintf(stderr, "qarn: the server %s did not start or could not be reached (error %lu)\n",
              server.c_str(), static_cast<unsigned long>(error));
  }
}

}  // namespace

std::string ServerPath(const Options& options) {
  const char* dir = options.server_dir.c_str();
  const char* suffix = options.suffix.c_str();
  const int length = f_QARNSVR_FormatServerPath(dir, suffix, nullptr, 0);
  if (length <= 0) return options.server_dir;
  std::string path(static_cast<size_t>(length), '\0');
  f_QARNSVR_FormatServerPath(dir, suffix, &path[0], static_cast<DWORD>(path.size() + 1));
  return path;
}

Session::Session(const Options& options) : handle_(OpenSaying(options)) {
  if (handle_ == nullptr) SayWhyNoSession(options, f_QARNSVR_GetLastError());
}

Session::~Session() {
  if (handle_ != nullptr) f_QARNSVR_FreeLibrary(handle_);
}

}  // namespace qarn::tool
