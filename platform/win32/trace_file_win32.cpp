// The trace file on Windows, opened so that a name planted in a shared
// folder cannot turn our trace into a write to some other file or device.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/last_error.h"
#include "platform/win32/user_security.h"

namespace qarn::os {
namespace {

// A plain file on a disk with a single name: not a reparse point (a link
// or junction we did not follow but opened itself), not a pipe, console or
// device, and not a hard link to a file of ours made elsewhere.
bool IsPlainFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  const DWORD unwanted = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  return (information.dwFileAttributes & unwanted) == 0 && information.nNumberOfLinks == 1;
}

}  // namespace

FILE* TraceFileOpen(const char* path, uint32_t* error) {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (path == nullptr || path[0] == '\0') {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  SECURITY_ATTRIBUTES* const security = CurrentUserOnly();  // for a new file; not inheritable
  if (security == nullptr) {
    *error = kErrorAccessDenied;
    return nullptr;
  }
  const HANDLE file =
      CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, security,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = LastErrorCode();
    return nullptr;
  }
  if (!IsPlainFile(file)) {
    CloseHandle(file);
    *error = kErrorAccessDenied;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(file);
    *error = kErrorGenFailure;
    return nullptr;
  }
  FILE* stream = _fdopen(fd, "a");
  if (stream == nullptr) {
    _close(fd);
    *error = kErrorGenFailure;
    return nullptr;
  }
  *error = kErrorSuccess;
  return stream;
}

}  // namespace qarn::os
