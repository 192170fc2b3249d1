/* Preloaded into 32-bit Wine where i386 programs run under qemu-user rather
 * than natively. It works around two things the emulator does differently
 * from the kernel; on a native kernel it is never loaded.
 *
 * The x86-64 copy (for the 64-bit wineserver and shell, which see the same
 * LD_PRELOAD through "$LIB") is built from this file too and is empty. */
#if defined(__i386__)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <ucontext.h>

/* 1. Address space. Wine needs the low 2 GB for Windows, above all the shared
 * user data page at 0x7ffe0000. Its loader normally gets them from
 * wine-preloader, which reserves them before anything else is mapped and
 * publishes them through wine_main_preload_info; Debian ships no preloader.
 * Without it Wine reserves the space itself, but under the emulator the
 * loader, libraries and stack sit just under 0x40000000 and MAP_FIXED_NOREPLACE
 * is only a hint, so that reservation breaks up into tens of thousands of small
 * mappings, takes about a minute and loses 0x7ffe0000 ("failed to map the
 * shared user data"). We reserve the same ranges up front, as the preloader
 * would, while the main program's wine_main_preload_info is still empty. */
struct preload_area {
  void *addr;
  size_t size;
};

enum { low_start = 0x00110000u, headroom = 64u << 20 };
static struct preload_area areas[3]; /* zero-terminated */

static uintptr_t lowest_mapping(void) {
  uintptr_t lowest = UINTPTR_MAX;
  FILE *maps = fopen("/proc/self/maps", "re");
  if (!maps) return 0;
  unsigned long start;
  while (fscanf(maps, "%lx-%*x%*[^\n]", &start) == 1) {
    if (start < lowest) lowest = start;
  }
  fclose(maps);
  return lowest;
}

/* Reserves exactly [start, end) or nothing: the emulator may place a hinted
 * mapping elsewhere, and a reservation anywhere else is of no use. */
static int reserve(uintptr_t start, uintptr_t end, struct preload_area *area) {
  if (end <= start) return 0;
  void *want = (void *)start;
  void *got = mmap(want, end - start, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (got == MAP_FAILED) return 0;
  if (got != want) {
    munmap(got, end - start);
    return 0;
  }
  area->addr = want;
  area->size = end - start;
  return 1;
}

__attribute__((constructor)) static void reserve_windows_address_space(void) {
  struct preload_area **info = dlsym(RTLD_DEFAULT, "wine_main_preload_info");
  if (!info || *info) return; /* not Wine's loader, or a preloader did it */
  uintptr_t lowest = lowest_mapping();
  int n = 0;
  if (lowest > low_start + headroom) n += reserve(low_start, lowest - headroom, &areas[n]);
  n += reserve(0x7f000000u, 0x82000000u, &areas[n]);
  if (n) *info = areas;
}

/* 2. Trap numbers. The kernel reports in every i386 signal context which CPU
 * exception raised the signal, and Wine's fault handler decides on it: an
 * access violation is trap 14. The emulator leaves -1 there, so every fault
 * becomes an illegal instruction. We wrap the fault handlers Wine installs
 * and fill in what the kernel would have. */
enum { trap_divide = 0, trap_debug = 1, trap_breakpoint = 3, trap_invalid_opcode = 6,
       trap_general_protection = 13, trap_page_fault = 14, trap_x87 = 16, trap_alignment = 17 };

static int kernel_trap_number(int sig, const siginfo_t *info) {
  switch (sig) {
  case SIGSEGV: return info->si_code == SI_KERNEL ? trap_general_protection : trap_page_fault;
  case SIGBUS: return info->si_code == BUS_ADRALN ? trap_alignment : trap_page_fault;
  case SIGILL: return trap_invalid_opcode;
  case SIGTRAP: return info->si_code == SI_KERNEL ? trap_breakpoint : trap_debug;
  case SIGFPE: return info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF ? trap_divide : trap_x87;
  default: return -1;
  }
}

static int is_fault_signal(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGTRAP || sig == SIGFPE;
}

typedef void (*info_handler)(int, siginfo_t *, void *);
static info_handler wrapped[_NSIG];

static void fix_trap_number(int sig, siginfo_t *info, void *context) {
  greg_t *trapno = &((ucontext_t *)context)->uc_mcontext.gregs[REG_TRAPNO];
  if (*trapno == -1) *trapno = kernel_trap_number(sig, info);
  wrapped[sig](sig, info, context);
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old) {
  static int (*real)(int, const struct sigaction *, struct sigaction *);
  if (!real) real = (int (*)(int, const struct sigaction *, struct sigaction *))dlsym(RTLD_NEXT, "sigaction");
  if (!is_fault_signal(sig)) return real(sig, act, old);
  info_handler previous = wrapped[sig];
  struct sigaction replacement;
  if (act && (act->sa_flags & SA_SIGINFO)) {
    replacement = *act;
    replacement.sa_sigaction = fix_trap_number;
    wrapped[sig] = act->sa_sigaction; /* before the switch: a fault may come at once */
    act = &replacement;
  }
  int result = real(sig, act, old);
  if (result != 0) wrapped[sig] = previous;
  /* The caller sees its own handler, never the wrapper. */
  if (result == 0 && old && old->sa_sigaction == fix_trap_number) old->sa_sigaction = previous;
  return result;
}
#endif
