#pragma once
/* The driver interface: request texts in, reply texts out, error codes and
   their texts, tag numbers and tag names. No text returned here is owned by
   the caller; f_QARNDRV_Free exists for symmetry and does nothing. */

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

/* Error codes of the driver; the server defines the values. 0 is also what
   the library returns when it gets no answer. The bounds make every signed
   32-bit value a valid code. */
typedef enum QARNDRV_ERR {
  QARNDRV_ERR_LOWEST = -0x7FFFFFFF - 1,
  QARNDRV_ERR_NONE = 0,
  QARNDRV_ERR_HIGHEST = 0x7FFFFFFF
} QARNDRV_ERR;

/* Tag numbers; the server defines the values and names. -1 is what a lookup
   by name returns when it gets no answer. Every signed 32-bit value is valid. */
typedef enum DXML_TAG {
  DXML_TAG_LOWEST = -0x7FFFFFFF - 1,
  DXML_TAG_INVALID = -1,
  DXML_TAG_HIGHEST = 0x7FFFFFFF
} DXML_TAG;

#ifdef __cplusplus
extern "C" {
#endif

QARNPLUS_API void f_QARNDRV_Init(void* hSession);
QARNPLUS_API void f_QARNDRV_Clean(void* hSession);

/* Sends `pszRequest` and points *ppszReply at the reply text (or at the fixed
   "Service Off" reply when the exchange fails). `pTimes`, when not NULL,
   receives four counters: request start, the server's two, request end. */
QARNPLUS_API void f_QARNDRV_Invoke(void* hSession, const char* pszRequest, const char** ppszReply,
                                   LARGE_INTEGER* pTimes);

QARNPLUS_API QARNDRV_ERR f_QARNDRV_GetLastError(void* hSession);
QARNPLUS_API const char* f_QARNDRV_FormatMessage(void* hSession, QARNDRV_ERR nError);
QARNPLUS_API void f_QARNDRV_Free(void* hSession, void* p);

/* Tag names: lookups by number are cached per session; by name they are not. */
QARNPLUS_API const char* f_QARNDRV_GetTagNameByID(void* hSession, DXML_TAG nTag);
QARNPLUS_API DXML_TAG f_QARNDRV_GetTagIDByName(void* hSession, const char* pszName);

#ifdef __cplusplus
}
#endif
