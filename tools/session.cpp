// Opening a session for a command, and saying why when none opens.
#include <stdio.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/platform.h"
#include "qarnplus/server.h"
#include "tools/command.h"

#ifdef _GLIBCXX_HAS_GTHREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace qarn::tool {
namespace {

// How long a start may take before the user is told what is being waited for.
constexpr std::chrono::seconds kQuietStart{3};

void* Open(const Options& options) {
  return f_QARNSVR_LoadLibrary(options.option, options.server_dir.c_str(), options.suffix.c_str());
}

#ifdef _GLIBCXX_HAS_GTHREADS
// Opens the session; if that takes longer than kQuietStart, a watcher says
// which server it waits for. (Toolchains without threads just wait.)
void* OpenSaying(const Options& options) {
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

}  // namespace

std::string ServerPath(const Options& options) {
  std::string dir = options.server_dir;
  if (!dir.empty() && dir.back() == os::kPathSeparator) dir.pop_back();
  std::string digits;
  for (char c : options.suffix) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const int length = os::FormatServerExecutable(nullptr, 0, dir.c_str(), digits.c_str());
  std::string path(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  os::FormatServerExecutable(&path[0], path.size() + 1, dir.c_str(), digits.c_str());
  return path;
}

Session::Session(const Options& options) : handle_(OpenSaying(options)) {
  if (handle_ != nullptr) return;
  const std::string server = ServerPath(options);
  std::error_code error;
  if (!std::filesystem::exists(server, error)) {
    fprintf(stderr, "qarn: no server at %s%s%s (use --server-dir and --suffix)\n", server.c_str(),
            error ? ": " : "", error ? error.message().c_str() : "");
  } else {
    fprintf(stderr, "qarn: the server %s did not start or could not be reached\n", server.c_str());
  }
}

Session::~Session() {
  if (handle_ != nullptr) f_QARNSVR_FreeLibrary(handle_);
}

}  // namespace qarn::tool
