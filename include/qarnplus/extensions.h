#pragma once
// What this library offers beyond the classic interface, exported alike on
// Linux and Windows: why a session did not start, and the removal of what
// killed processes left behind. The qarn client uses these, so it needs
// nothing but the installed headers.

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// Why this thread's last f_QARNSVR_LoadLibrary returned NULL, as a Windows
// system error code on every platform; 0 after one that returned a session.
//   2 (ERROR_FILE_NOT_FOUND)     there is no server program at that path
//   5 (ERROR_ACCESS_DENIED)      the server program is not executable
//   193 (ERROR_BAD_EXE_FORMAT)   (Windows) the file is no program
//   1460 (ERROR_TIMEOUT)         it did not signal that it is ready in time
//   1067 (ERROR_PROCESS_ABORTED) it ended before it signalled
//   anything else                the step that failed (the pipe, memory, ...)
QARNPLUS_API DWORD f_QARNSVR_GetLastError(void);

// The server program f_QARNSVR_LoadLibrary starts for these arguments:
// "<folder>/qarn_svr<digits of suffix>" (".exe" and '\\' on Windows), the
// folder without one trailing separator, at most 31 digits. Writes it into
// `pszOut` (cut to fit `nSize` bytes, terminated when nSize > 0) and returns
// its length, like snprintf. A length of MAX_PATH or more is a path the
// library cannot start.
QARNPLUS_API int f_QARNSVR_FormatServerPath(const char* pszServerDir, const char* pszSuffix, char* pszOut,
                                            DWORD nSize);

// Called with each stale object's path (and `pContext`) by
// f_QARNPLUS_RemoveStaleObjects.
typedef void (*QARNPLUS_STALE_VISITOR)(const char* pszPath, void* pContext);

// Removes (with bDryRun non-zero, only visits) this user's shared blocks,
// start events and sockets whose process has ended; returns how many there
// were. Objects of a namespace set through QARN_NS carry no process and are
// never touched. Windows removes such objects with their last handle: there
// it finds nothing and returns 0.
QARNPLUS_API DWORD f_QARNPLUS_RemoveStaleObjects(int bDryRun, QARNPLUS_STALE_VISITOR pfnVisit,
                                                 void* pContext);

#ifdef __cplusplus
}
#endif
