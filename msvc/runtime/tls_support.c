/* Thread-local storage of the module: the TLS directory the loader reads,
 * the index it fills in, and the data's bounds. The compiler addresses a
 * thread_local as fs:[__tls_array][_tls_index] + offset in .tls. Variables
 * with dynamic initialisation are not supported (none is used). */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

ULONG _tls_index = 0;

/* .tls$ sorts between these two; the loader copies the range per thread. */
#pragma section(".tls", long, read, write)
#pragma section(".tls$ZZZ", long, read, write)
__declspec(allocate(".tls")) char _tls_start = 0;
__declspec(allocate(".tls$ZZZ")) char _tls_end = 0;

#pragma section(".CRT$XLA", long, read)
#pragma section(".CRT$XLZ", long, read)
__declspec(allocate(".CRT$XLA")) PIMAGE_TLS_CALLBACK __xl_a = 0;
__declspec(allocate(".CRT$XLZ")) PIMAGE_TLS_CALLBACK __xl_z = 0;

/* The linker points the image's TLS directory entry at _tls_used. */
#pragma section(".rdata$T", long, read)
__declspec(allocate(".rdata$T")) const IMAGE_TLS_DIRECTORY32 _tls_used = {(DWORD)(ULONG_PTR)&_tls_start,
                                                                          (DWORD)(ULONG_PTR)&_tls_end,
                                                                          (DWORD)(ULONG_PTR)&_tls_index,
                                                                          (DWORD)(ULONG_PTR)(&__xl_a + 1),
                                                                          0,
                                                                          0};

/* Offset of the TLS slot array in the thread information block on x86. */
__asm__(".globl __tls_array\n.set __tls_array, 0x2c");
