#pragma once
/* The Windows types that the exported interface uses. On Windows they come
   from <windows.h>; elsewhere this header defines them with the exact 32-bit
   Windows layout, because several of them cross the process boundary. */

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <stdint.h>

typedef unsigned long DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef long LONG;
typedef void* PVOID;
typedef void* HANDLE;
typedef unsigned long ULONG_PTR;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFul
#define MAX_PATH 260

#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  int64_t QuadPart;
} LARGE_INTEGER;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT;

#define EXCEPTION_MAXIMUM_PARAMETERS 15

typedef struct _EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  struct _EXCEPTION_RECORD* ExceptionRecord;
  PVOID ExceptionAddress;
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
} EXCEPTION_RECORD;

#define SIZE_OF_80387_REGISTERS 80
#define MAXIMUM_SUPPORTED_EXTENSION 512

typedef struct _FLOATING_SAVE_AREA {
  DWORD ControlWord;
  DWORD StatusWord;
  DWORD TagWord;
  DWORD ErrorOffset;
  DWORD ErrorSelector;
  DWORD DataOffset;
  DWORD DataSelector;
  BYTE RegisterArea[SIZE_OF_80387_REGISTERS];
  DWORD Cr0NpxState;
} FLOATING_SAVE_AREA;

/* The x86 processor context, as Windows lays it out. */
typedef struct _CONTEXT {
  DWORD ContextFlags;
  DWORD Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  FLOATING_SAVE_AREA FloatSave;
  DWORD SegGs, SegFs, SegEs, SegDs;
  DWORD Edi, Esi, Ebx, Edx, Ecx, Eax;
  DWORD Ebp, Eip, SegCs, EFlags, Esp, SegSs;
  BYTE ExtendedRegisters[MAXIMUM_SUPPORTED_EXTENSION];
} CONTEXT;

#define CONTEXT_i386 0x00010000ul
#define CONTEXT_CONTROL (CONTEXT_i386 | 0x01ul)
#define CONTEXT_INTEGER (CONTEXT_i386 | 0x02ul)
#define CONTEXT_SEGMENTS (CONTEXT_i386 | 0x04ul)
#define CONTEXT_FLOATING_POINT (CONTEXT_i386 | 0x08ul)
#define CONTEXT_DEBUG_REGISTERS (CONTEXT_i386 | 0x10ul)
#define CONTEXT_EXTENDED_REGISTERS (CONTEXT_i386 | 0x20ul)
#define CONTEXT_FULL (CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS)

typedef struct _EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  CONTEXT* ContextRecord;
} EXCEPTION_POINTERS;

#define EXCEPTION_ACCESS_VIOLATION 0xC0000005ul
#define EXCEPTION_ARRAY_BOUNDS_EXCEEDED 0xC000008Cul
#define EXCEPTION_BREAKPOINT 0x80000003ul
#define EXCEPTION_DATATYPE_MISALIGNMENT 0x80000002ul
#define EXCEPTION_FLT_DENORMAL_OPERAND 0xC000008Dul
#define EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eul
#define EXCEPTION_FLT_INEXACT_RESULT 0xC000008Ful
#define EXCEPTION_FLT_INVALID_OPERATION 0xC0000090ul
#define EXCEPTION_FLT_OVERFLOW 0xC0000091ul
#define EXCEPTION_FLT_STACK_CHECK 0xC0000092ul
#define EXCEPTION_FLT_UNDERFLOW 0xC0000093ul
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Dul
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006ul
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094ul
#define EXCEPTION_INT_OVERFLOW 0xC0000095ul
#define EXCEPTION_INVALID_DISPOSITION 0xC0000026ul
#define EXCEPTION_NONCONTINUABLE_EXCEPTION 0xC0000025ul
#define EXCEPTION_PRIV_INSTRUCTION 0xC0000096ul
#define EXCEPTION_SINGLE_STEP 0x80000004ul
#define EXCEPTION_STACK_OVERFLOW 0xC00000FDul

/* Layout checks that compile as C89 too: a false one declares an array of
   negative size. */
#define QARN_LAYOUT_CHECK(name, condition) typedef char qarn_layout_check_##name[(condition) ? 1 : -1]
#if defined(__i386__)
QARN_LAYOUT_CHECK(EXCEPTION_RECORD, sizeof(EXCEPTION_RECORD) == 80);
QARN_LAYOUT_CHECK(FLOATING_SAVE_AREA, sizeof(FLOATING_SAVE_AREA) == 112);
QARN_LAYOUT_CHECK(CONTEXT, sizeof(CONTEXT) == 716);
QARN_LAYOUT_CHECK(LARGE_INTEGER, sizeof(LARGE_INTEGER) == 8);
#endif
QARN_LAYOUT_CHECK(RECT, sizeof(RECT) == 16 || sizeof(long) == 8);
#undef QARN_LAYOUT_CHECK
#endif
