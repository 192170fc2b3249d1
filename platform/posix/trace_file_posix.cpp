// The trace file, opened so that a path planted in a shared folder such as
// /tmp cannot turn our trace into a write to some other file.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"

namespace qarn::os {
namespace {

uint32_t OpenError(int error) {
  // ELOOP: the last component is a symbolic link. ENXIO: a FIFO nobody
  // reads, which O_NONBLOCK reports instead of waiting for a reader.
  if (error == ELOOP || error == ENXIO) return kErrorAccessDenied;
  return ErrorFromErrno(error);
}

// A regular file of ours with one name: not a FIFO or device someone
// handed us, and not a hard link another user made to one of our files.
bool IsOwnPlainFile(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1;
}

// The null device swallows whatever is written: harmless wherever the name
// came from, and what measuring the trace's own cost writes to.
bool IsNullDevice(const struct stat& status) {
  return S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3);
}

}  // namespace

FILE* TraceFileOpen(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (path == nullptr || path[0] == '\0') {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  const int fd =
      open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) {
    *error = OpenError(errno);
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !(IsOwnPlainFile(status) || IsNullDevice(status))) {
    close(fd);
    *error = kErrorAccessDenied;
    return nullptr;
  }
  // Writes to these never wait anyway; the flag was only for the open.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "a");
  if (file == nullptr) {
    *error = ErrorFromErrno(errno);
    close(fd);
    return nullptr;
  }
  *error = kErrorSuccess;
  return file;
}

}  // namespace qarn::os
