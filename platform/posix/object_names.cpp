#include "platform/posix/object_names.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/platform.h"

namespace qarn::os::posix {

bool FormatObjectName(char* out, size_t size, const char* kind, const char* name) {
  const int length = snprintf(out, size, "/qarn.%s.%s%s", ObjectNamespace(), kind, name);
  return length > 0 && static_cast<size_t>(length) < size;
}

int FormatPipeDirectory(char* out, size_t size) {
  const char* base = EnvironmentValue("XDG_RUNTIME_DIR");
  if (base == nullptr || base[0] == '\0') base = "/tmp";
  return snprintf(out, size, "%s/qarn-%u", base, static_cast<unsigned>(geteuid()));
}

bool IsPrivateObject(const struct stat& status) {
  return status.st_uid == geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace qarn::os::posix
