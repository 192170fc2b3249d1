#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <mutex>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/object_names.h"
#include "platform/posix/pipe_directory.h"

namespace qarn::os::posix {
namespace {

constexpr size_t kRoom = sizeof(sockaddr_un::sun_path);

// A real directory of ours that nobody else can enter; made (0700) when
// missing. Anything else at that path is left exactly as it is.
uint32_t EnsurePrivateDirectory(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    if (errno != ENOENT) return ErrorFromErrno(errno);
    if (mkdir(path, 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
    if (lstat(path, &status) != 0) return ErrorFromErrno(errno);
  }
  if (!S_ISDIR(status.st_mode) || !IsPrivateObject(status)) return kErrorAccessDenied;
  return kErrorSuccess;
}

uint32_t Copy(const char* path, char* out, size_t size) {
  const int length = snprintf(out, size, "%s", path);
  return length >= 0 && static_cast<size_t>(length) < size ? kErrorSuccess : kErrorInvalidParameter;
}

// The private folder made when the usual one is taken. Once a process has
// one it keeps it for the folder it stands in for, so that servers already
// told about it stay reachable; it is made again only if it is gone. The
// process that made it removes it at exit if its servers have left it empty.
class Fallback {
 public:
  ~Fallback() {
    if (path_[0] != '\0' && owner_ == getpid()) rmdir(path_);
  }

  uint32_t For(const char* usual, char* out, size_t size) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (owner_ != getpid() || strcmp(usual, usual_) != 0 || EnsureExisting() != kErrorSuccess) {
      if (const uint32_t error = Make(usual)) return error;
    }
    return Copy(path_, out, size);
  }

  // The folder in use when `usual` is taken, without making one.
  bool Current(const char* usual, char* out, size_t size) {
    const std::lock_guard<std::mutex> hold(lock_);
    return owner_ == getpid() && strcmp(usual, usual_) == 0 && Copy(path_, out, size) == kErrorSuccess;
  }

 private:
  uint32_t EnsureExisting() {
    struct stat status;
    if (lstat(path_, &status) != 0) return ErrorFromErrno(errno);
    return S_ISDIR(status.st_mode) && IsPrivateObject(status) ? kErrorSuccess : kErrorAccessDenied;
  }

  uint32_t Make(const char* usual) {
    char pattern[kRoom];
    const int length = snprintf(pattern, sizeof pattern, "%s.XXXXXX", usual);
    // Room must stay for "/pipe.<pid>" behind it.
    if (length < 0 || static_cast<size_t>(length) + 16 >= sizeof pattern) return kErrorInvalidParameter;
    if (mkdtemp(pattern) == nullptr) return ErrorFromErrno(errno);  // made 0700, ours
    memcpy(path_, pattern, sizeof path_);
    snprintf(usual_, sizeof usual_, "%s", usual);
    owner_ = getpid();
    return kErrorSuccess;
  }

  std::mutex lock_;
  char path_[kRoom] = "";
  char usual_[kRoom] = "";
  pid_t owner_ = 0;
};

Fallback g_fallback;

}  // namespace

uint32_t PipeDirectory(char* out, size_t size) {
  if (const char* named = EnvironmentValue(kPipeDirectoryVariable)) {
    if (named[0] != '\0') {
      if (const uint32_t error = Copy(named, out, size)) return error;
      return EnsurePrivateDirectory(out);
    }
  }
  char usual[kRoom];
  const int length = FormatPipeDirectory(usual, sizeof usual);
  if (length < 0 || static_cast<size_t>(length) >= sizeof usual) return kErrorInvalidParameter;
  if (g_fallback.Current(usual, out, size)) return g_fallback.For(usual, out, size);
  const uint32_t error = EnsurePrivateDirectory(usual);
  if (error == kErrorAccessDenied) return g_fallback.For(usual, out, size);
  if (error != kErrorSuccess) return error;
  return Copy(usual, out, size);
}

bool PipeDirectoryEntry(char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  char usual[kRoom];
  char used[kRoom];
  const int length = FormatPipeDirectory(usual, sizeof usual);
  if (length < 0 || static_cast<size_t>(length) >= sizeof usual) return true;
  if (PipeDirectory(used, sizeof used) != kErrorSuccess || strcmp(used, usual) == 0) return true;
  const int written = snprintf(out, size, "%s=%s", kPipeDirectoryVariable, used);
  return written >= 0 && static_cast<size_t>(written) < size;
}

}  // namespace qarn::os::posix
