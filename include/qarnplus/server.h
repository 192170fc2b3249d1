#pragma once
/** \file
    Server lifecycle: start a server process, open a session with it, ask its
    version and end the session. A session handle is an opaque pointer that
    every server, driver and filter call takes first. See \ref sessions. */

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Starts "<pszServerDir>/qarn_svr<digits of pszSuffix>" and opens a session
    with it. `nLOption` and `pszSuffix` travel to the server unchanged.
    Returns the session handle, or NULL when any step fails. */
QARNPLUS_API void* f_QARNSVR_LoadLibrary(int nLOption, const char* pszServerDir, const char* pszSuffix);

/** Tells the server to shut down and ends the session. Unknown handles are
    ignored. */
QARNPLUS_API void f_QARNSVR_FreeLibrary(void* hSession);

/** The server's version number; -1 for an unknown handle or when no reply came. */
QARNPLUS_API int f_QARNSVR_GetVersion(void* hSession);

#ifdef __cplusplus
}
#endif
