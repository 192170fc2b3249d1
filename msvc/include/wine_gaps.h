/* Force-included into every source of the Microsoft-ABI build. Wine's
 * headers stand in for the Windows SDK and the UCRT headers here; this fills
 * the few places where they differ from Microsoft's. Everything declared is
 * exported by Wine's and Microsoft's ucrtbase/vcruntime140 alike. */
#pragma once

/* winnt.h redefines these compiler builtins in C++; keep its copies out of
 * the builtins' way. */
#define _InterlockedAnd64 qarn_wine_InterlockedAnd64
#define _InterlockedCompareExchangePointer qarn_wine_InterlockedCompareExchangePointer
#define _InterlockedExchangeAdd64 qarn_wine_InterlockedExchangeAdd64
#define _InterlockedExchangePointer qarn_wine_InterlockedExchangePointer
#define _InterlockedIncrement64 qarn_wine_InterlockedIncrement64
#define _InterlockedDecrement64 qarn_wine_InterlockedDecrement64
#define _InterlockedOr64 qarn_wine_InterlockedOr64
#define _InterlockedXor64 qarn_wine_InterlockedXor64

/* Missing from Wine 8's winbase.h. */
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008

#ifdef __cplusplus
#include <stdlib.h>
#include <ctype.h>
#include <locale.h>
#include <time.h>
#include <math.h>

extern "C" {
/* Microsoft's eh.h has the underscored name; Wine's only set_se_translator. */
struct _EXCEPTION_POINTERS;
typedef void(__cdecl *qarn_se_translator)(unsigned int, struct _EXCEPTION_POINTERS *);
__declspec(dllimport) qarn_se_translator __cdecl _set_se_translator(qarn_se_translator);

/* Used by libc++'s locale support, absent from Wine's headers. */
__declspec(dllimport) double __cdecl _strtod_l(const char *, char **, _locale_t);
__declspec(dllimport) float __cdecl _strtof_l(const char *, char **, _locale_t);
__declspec(dllimport) int __cdecl _isupper_l(int, _locale_t);
__declspec(dllimport) int __cdecl _islower_l(int, _locale_t);
}
#ifndef MB_CUR_MAX
#define MB_CUR_MAX ___mb_cur_max_func()
#endif
#ifndef _TIMESPEC_DEFINED
#define _TIMESPEC_DEFINED
struct timespec {
  time_t tv_sec;
  long tv_nsec;
};
#endif

/* The UCRT gives C++ overloads where Wine's math.h has macros, which would
 * break libc++'s <cmath>. */
#undef fpclassify
#undef isinf
#undef isnan
#undef isnormal
#undef isfinite
#undef signbit
#define QARN_FP_CLASS(name, builtin)                             \
  inline bool name(float x) { return builtin(x); }               \
  inline bool name(double x) { return builtin(x); }              \
  inline bool name(long double x) { return builtin((double)x); }
QARN_FP_CLASS(isnan, __builtin_isnan)
QARN_FP_CLASS(isinf, __builtin_isinf)
QARN_FP_CLASS(isfinite, __builtin_isfinite)
QARN_FP_CLASS(isnormal, __builtin_isnormal)
QARN_FP_CLASS(signbit, __builtin_signbit)
#undef QARN_FP_CLASS
inline int fpclassify(double x) {
  return __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x);
}
inline int fpclassify(float x) { return fpclassify((double)x); }
inline int fpclassify(long double x) { return fpclassify((double)x); }
#endif
