#pragma once
/** \file
    The driver interface: request texts in, reply texts out, error codes and
    their texts, tag numbers and tag names. No text returned here is owned by
    the caller; f_QARNDRV_Free exists for symmetry and does nothing. See
    \ref sessions. */

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

/** Error codes of the driver; the server defines the values. 0 is also what
    the library returns when it gets no answer. The bounds make every signed
    32-bit value a valid code. */
typedef enum QARNDRV_ERR {
  QARNDRV_ERR_LOWEST = -0x7FFFFFFF - 1,  /**< lowest code, so the type holds every signed 32-bit value */
  QARNDRV_ERR_NONE = 0,  /**< no error, or no answer from the server */
  QARNDRV_ERR_HIGHEST = 0x7FFFFFFF  /**< highest code */
} QARNDRV_ERR;

/** Tag numbers; the server defines the values and names. -1 is what a lookup
    by name returns when it gets no answer. Every signed 32-bit value is valid. */
typedef enum DXML_TAG {
  DXML_TAG_LOWEST = -0x7FFFFFFF - 1,  /**< lowest tag, so the type holds every signed 32-bit value */
  DXML_TAG_INVALID = -1,  /**< no such tag, or no answer from the server */
  DXML_TAG_HIGHEST = 0x7FFFFFFF  /**< highest tag */
} DXML_TAG;

#ifdef __cplusplus
extern "C" {
#endif

/** Asks the server's driver to initialise (its Init message); nothing comes
    back to the caller. */
QARNPLUS_API void f_QARNDRV_Init(void* hSession);
/** Tells the server's driver to clean up, the counterpart of f_QARNDRV_Init(). */
QARNPLUS_API void f_QARNDRV_Clean(void* hSession);

/** Sends `pszRequest` and points *ppszReply at the reply text (or at the fixed
    "Service Off" reply when the exchange fails). `pTimes`, when not NULL,
    receives four counters: request start, the server's two, request end.
    The reply lives in one of the session's eight reply slots and stays valid
    for seven further messages on that session. A NULL request sends nothing
    and leaves the reply NULL. */
QARNPLUS_API void f_QARNDRV_Invoke(void* hSession, const char* pszRequest, const char** ppszReply,
                                   LARGE_INTEGER* pTimes);

/** The server driver's last error code; QARNDRV_ERR_NONE when no answer came. */
QARNPLUS_API QARNDRV_ERR f_QARNDRV_GetLastError(void* hSession);
/** The server's text for error code `nError`, in a reply slot of the session;
    NULL when no answer came. */
QARNPLUS_API const char* f_QARNDRV_FormatMessage(void* hSession, QARNDRV_ERR nError);
/** Does nothing: no text of this interface belongs to the caller. */
QARNPLUS_API void f_QARNDRV_Free(void* hSession, void* p);

/** The name of tag `nTag`, or NULL when no answer came. Lookups by number are
    cached per session: the first answer is read from a reply slot, later
    ones from the session's copy, which lives until the session ends. */
QARNPLUS_API const char* f_QARNDRV_GetTagNameByID(void* hSession, DXML_TAG nTag);
/** The number of the tag named `pszName` (not cached); DXML_TAG_INVALID when
    no answer came. A NULL name travels as an empty name. */
QARNPLUS_API DXML_TAG f_QARNDRV_GetTagIDByName(void* hSession, const char* pszName);

#ifdef __cplusplus
}
#endif
