// Why a session did not start, and the sweep of what killed processes left.
#include "qarnplus/extensions.h"

#include "connection/extensions.h"
#include "connection/launch.h"
#include "platform/platform.h"

namespace qarn {
namespace {

// Per thread, as Windows keeps its last error: a start on another thread
// does not change the answer for this one.
thread_local uint32_t t_startError = 0;

}  // namespace

void RecordStartError(uint32_t error) { t_startError = error; }

}  // namespace qarn

extern "C" QARNPLUS_API DWORD f_QARNSVR_GetLastError(void) { return qarn::t_startError; }

extern "C" QARNPLUS_API int f_QARNSVR_FormatServerPath(const char* pszServerDir, const char* pszSuffix,
                                                       char* pszOut, DWORD nSize) {
  // Built as a start builds it, so the answer is the path a start would use.
  qarn::LaunchValues values;
  if (!qarn::BuildLaunchValues(0, pszServerDir, pszSuffix, &values)) return -1;
  const bool room = pszOut != nullptr && nSize > 0;
  return qarn::os::FormatServerExecutable(room ? pszOut : nullptr, room ? nSize : 0, values.server_dir,
                                          values.digits);
}

extern "C" QARNPLUS_API DWORD f_QARNPLUS_RemoveStaleObjects(int bDryRun, QARNPLUS_STALE_VISITOR pfnVisit,
                                                            void* pContext) {
  return static_cast<DWORD>(qarn::os::RemoveStaleObjects(bDryRun != 0, pfnVisit, pContext));
}
