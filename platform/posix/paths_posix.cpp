// Paths, the process id and the namespace that prefixes every object name.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"

namespace qarn::os {

const char kPathSeparator = '/';

uint32_t ExecutablePath(char* out, size_t size) {
  if (out == nullptr || size == 0) return kErrorInvalidParameter;
  const ssize_t length = readlink("/proc/self/exe", out, size - 1);
  if (length < 0) {
    out[0] = '\0';
    return ErrorFromErrno(errno);
  }
  out[length] = '\0';
  return kErrorSuccess;
}

int FormatServerExecutable(char* out, size_t size, const char* folder, const char* digits) {
  return snprintf(out, size, "%s/qarn_svr%s", folder, digits);
}

// An empty QARN_NS still counts as set: the server receives exactly the
// client's value and must derive the same names from it.
const char* ObjectNamespace() {
  if (const char* ns = getenv("QARN_NS")) return ns;
  static thread_local char pid_text[16];
  snprintf(pid_text, sizeof pid_text, "%d", static_cast<int>(getpid()));
  return pid_text;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace qarn::os
