// Why the last call failed, and the sweep of what killed processes left.
#include "qarnplus/extensions.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "connection/extensions.h"
#include "connection/launch.h"
#include "platform/platform.h"

namespace qarn {
namespace {

// Per thread, as Windows keeps its last error: a call on another thread
// does not change the answer for this one. Kept by the library itself, so
// that no system call made since can overwrite it.
thread_local uint32_t t_lastError = 0;

}  // namespace

void NoteError(uint32_t code) {
  t_lastError = code;
  os::SetThreadError(code);
}

}  // namespace qarn

extern "C" QARNPLUS_API DWORD f_QARNSVR_GetLastError(void) { return qarn::t_lastError; }

extern "C" QARNPLUS_API int f_QARNSVR_FormatServerPath(const char* pszServerDir, const char* pszSuffix,
                                                       char* pszOut, DWORD nSize) {
  // The pieces a start takes: the folder without one trailing separator, and
  // the suffix's digits. (Plain buffers: the library keeps away from the
  // parts of the C++ library that need its compiled code.)
  const char* dir = pszServerDir != nullptr ? pszServerDir : "";
  size_t dir_length = strlen(dir);
  if (dir_length > 0 && dir[dir_length - 1] == qarn::os::kPathSeparator) --dir_length;
  char digits[qarn::kMaxSuffixDigits + 1];
  size_t count = 0;
  for (const char* c = pszSuffix != nullptr ? pszSuffix : ""; *c != '\0' && count < qarn::kMaxSuffixDigits;
       ++c) {
    if (*c >= '0' && *c <= '9') digits[count++] = *c;
  }
  digits[count] = '\0';
  char* folder = static_cast<char*>(malloc(dir_length + 1));
  if (folder == nullptr) return -1;
  memcpy(folder, dir, dir_length);
  folder[dir_length] = '\0';
  const bool room = pszOut != nullptr && nSize > 0;
  const int length =
      qarn::os::FormatServerExecutable(room ? pszOut : nullptr, room ? nSize : 0, folder, digits);
  free(folder);
  return length;
}

extern "C" QARNPLUS_API DWORD f_QARNPLUS_CheckTraceFile(const char* pszPath) {
  if (pszPath == nullptr || pszPath[0] == '\0') return qarn::os::kErrorInvalidParameter;
  uint32_t error = qarn::os::kErrorSuccess;
  FILE* file = qarn::os::TraceFileOpen(pszPath, &error);
  if (file == nullptr) return error != qarn::os::kErrorSuccess ? error : qarn::os::kErrorGenFailure;
  fclose(file);
  return qarn::os::kErrorSuccess;
}

extern "C" QARNPLUS_API DWORD f_QARNPLUS_RemoveStaleObjects(int bDryRun, QARNPLUS_STALE_VISITOR pfnVisit,
                                                            void* pContext) {
  return static_cast<DWORD>(qarn::os::RemoveStaleObjects(bDryRun != 0, pfnVisit, pContext));
}
