#pragma once
/** \file
    What this library offers beyond the classic interface, exported alike on
    Linux and Windows: why a session did not start, the path of the server
    program a start uses, and the removal of what killed processes left
    behind. The qarn client uses these, so it needs nothing but the installed
    headers. */

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Why this thread's last failed call of the library failed, as a Windows
    system error code on every platform (on Windows GetLastError() gives it
    too, until the next system call); 0 after an f_QARNSVR_LoadLibrary() that
    returned a session.
    - 6 (ERROR_INVALID_HANDLE): the session handle is not open (a NULL one, or
      one that f_QARNSVR_FreeLibrary() ended: handles are never reused);
    - 170 (ERROR_BUSY): the session is busy with another exchange: a call made
      from a callback on the session whose request waits, or from a second
      thread on it;
    - 206 (ERROR_FILENAME_EXCED_RANGE): a folder or the server path of
      MAX_PATH characters or more, or a command line of more than 647;
    - 87 (ERROR_INVALID_PARAMETER): more than 31 digits in the suffix, or a
      double quote in the suffix or a folder;
    - 2 (ERROR_FILE_NOT_FOUND): there is no server program at that path;
    - 5 (ERROR_ACCESS_DENIED): the server program is not executable;
    - 193 (ERROR_BAD_EXE_FORMAT, Windows): the file is no program;
    - 1460 (ERROR_TIMEOUT): it did not signal in time that it is ready;
    - 1067 (ERROR_PROCESS_ABORTED): it ended before it signalled;
    - anything else: the code of the step that failed (the pipe, memory). */
QARNPLUS_API DWORD f_QARNSVR_GetLastError(void);

/** The server program that f_QARNSVR_LoadLibrary() starts for this folder and
    suffix: the folder without one trailing separator, then "qarn_svr" and at
    most 31 digits of the suffix (".exe" after them, and a backslash before
    them, on Windows). Writes it into `pszOut`, cut to fit `nSize` bytes and
    terminated when `nSize` is not 0, and returns its whole length, as
    snprintf does. A length of MAX_PATH or more is a path the library cannot
    start. */
QARNPLUS_API int f_QARNSVR_FormatServerPath(const char* pszServerDir, const char* pszSuffix, char* pszOut,
                                            DWORD nSize);

/** Called by f_QARNPLUS_RemoveStaleObjects() with each stale object's path
    and the caller's `pContext`. */
typedef void (*QARNPLUS_STALE_VISITOR)(const char* pszPath, void* pContext);

/** Removes (with `bDryRun` not 0, only visits) this user's shared blocks,
    start events and sockets whose process has ended, calling `pfnVisit`
    (unless NULL) for each; returns how many there were. Objects of a
    namespace set through QARN_NS carry no process and are never touched.
    Windows removes such objects with their last handle: there it finds
    nothing and returns 0. */
QARNPLUS_API DWORD f_QARNPLUS_RemoveStaleObjects(int bDryRun, QARNPLUS_STALE_VISITOR pfnVisit,
                                                 void* pContext);

/** Opens (creating it, private, when it is missing) the file at `pszPath`
    as the message trace is opened (QARN_TRACE), and closes it again: 0 when
    a trace could be written there; 5 (ERROR_ACCESS_DENIED) for anything but
    a regular file of this user with a single name (a symbolic link, a FIFO,
    a device, another user's file); otherwise the code of the open. Lets a
    program refuse a trace path up front instead of running untraced. */
QARNPLUS_API DWORD f_QARNPLUS_CheckTraceFile(const char* pszPath);

#ifdef __cplusplus
}
#endif
