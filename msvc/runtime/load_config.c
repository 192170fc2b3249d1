/* The image's load configuration. It exists for its SafeSEH fields: the
 * loader refuses to run an exception handler of an image with a SafeSEH
 * table unless the handler is listed there, and the linker fills the table
 * and its count in from the objects' .sxdata (link with /safeseh). */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern const void* __safe_se_handler_table[];
extern const char __safe_se_handler_count;

/* The x86 layout up to and including the SafeSEH fields; Size tells the
 * loader how much of the structure there is. */
typedef struct {
  DWORD Size;
  DWORD TimeDateStamp;
  WORD MajorVersion;
  WORD MinorVersion;
  DWORD GlobalFlagsClear;
  DWORD GlobalFlagsSet;
  DWORD CriticalSectionDefaultTimeout;
  DWORD DeCommitFreeBlockThreshold;
  DWORD DeCommitTotalFreeThreshold;
  DWORD LockPrefixTable;
  DWORD MaximumAllocationSize;
  DWORD VirtualMemoryThreshold;
  DWORD ProcessHeapFlags;
  DWORD ProcessAffinityMask;
  WORD CSDVersion;
  WORD DependentLoadFlags;
  DWORD EditList;
  DWORD SecurityCookie;
  DWORD SEHandlerTable;
  DWORD SEHandlerCount;
} qarn_load_config32;

_Static_assert(sizeof(qarn_load_config32) == 72, "x86 load configuration up to the SafeSEH fields");

const qarn_load_config32 _load_config_used = {
    .Size = sizeof(qarn_load_config32),
    .SEHandlerTable = (DWORD)(ULONG_PTR)__safe_se_handler_table,
    .SEHandlerCount = (DWORD)(ULONG_PTR)&__safe_se_handler_count,
};
