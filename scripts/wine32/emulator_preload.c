/* Preloaded into 32-bit Wine where i386 programs run under qemu-user rather
 * than natively. It works around three things the emulator does differently
 * from the kernel; on a native kernel it is never loaded.
 *
 * The x86-64 copy (for the 64-bit wineserver and shell, which see the same
 * LD_PRELOAD through "$LIB") is built from this file too and is empty. */
#if defined(__i386__)
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

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
  void* addr;
  size_t size;
};

enum { low_start = 0x00110000u, headroom = 64u << 20 };
static struct preload_area areas[3]; /* zero-terminated */

static uintptr_t lowest_mapping(void) {
  uintptr_t lowest = UINTPTR_MAX;
  FILE* maps = fopen("/proc/self/maps", "re");
  if (!maps) return 0;
  char chunk[256];
  int at_line_start = 1; /* a long line arrives in several chunks */
  while (fgets(chunk, sizeof chunk, maps)) {
    const uintptr_t start = strtoul(chunk, 0, 16);
    if (at_line_start && start < lowest) lowest = start;
    at_line_start = strchr(chunk, '\n') != 0;
  }
  fclose(maps);
  return lowest;
}

/* Reserves exactly [start, end) or nothing: the emulator may place a hinted
 * mapping elsewhere, and a reservation anywhere else is of no use. */
static int reserve(uintptr_t start, uintptr_t end, struct preload_area* area) {
  if (end <= start) return 0;
  void* want = (void*)start;
  void* got = mmap(want, end - start, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
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
  struct preload_area** info = dlsym(RTLD_DEFAULT, "wine_main_preload_info");
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
enum {
  trap_divide = 0,
  trap_debug = 1,
  trap_breakpoint = 3,
  trap_invalid_opcode = 6,
  trap_general_protection = 13,
  trap_page_fault = 14,
  trap_x87 = 16,
  trap_alignment = 17
};

static int kernel_trap_number(int sig, const siginfo_t* info) {
  switch (sig) {
    case SIGSEGV:
      return info->si_code == SI_KERNEL ? trap_general_protection : trap_page_fault;
    case SIGBUS:
      return info->si_code == BUS_ADRALN ? trap_alignment : trap_page_fault;
    case SIGILL:
      return trap_invalid_opcode;
    case SIGTRAP:
      return info->si_code == SI_KERNEL ? trap_breakpoint : trap_debug;
    case SIGFPE:
      return info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF ? trap_divide : trap_x87;
    default:
      return -1;
  }
}

static int is_fault_signal(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGTRAP || sig == SIGFPE;
}

typedef void (*info_handler)(int, siginfo_t*, void*);
static info_handler wrapped[_NSIG];

static void fix_trap_number(int sig, siginfo_t* info, void* context) {
  greg_t* trapno = &((ucontext_t*)context)->uc_mcontext.gregs[REG_TRAPNO];
  if (*trapno == -1) *trapno = kernel_trap_number(sig, info);
  wrapped[sig](sig, info, context);
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
  static int (*real)(int, const struct sigaction*, struct sigaction*);
  if (!real) real = (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
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

/* 3. Thread segments. glibc reaches a thread's own data through %gs and Wine
 * reaches the thread's TEB through %fs, both selectors of per-thread GDT
 * entries (set_thread_area). The emulator keeps one GDT for the whole
 * process, so such an entry holds the base of whichever thread set it last,
 * and every thread that reloads the selector gets that thread's data. Wine
 * reloads both in each signal handler and the signal return reloads them
 * again: after the first fault on any but the newest thread, that thread runs
 * on another thread's TEB and TLS and soon crashes. The LDT is one table in
 * the kernel too, so a selector of an LDT entry of its own means the same in
 * every thread: we move each thread's %gs into one before Wine records it,
 * and refuse Wine's request for a GDT entry for %fs, which makes Wine give
 * every thread an LDT entry for its TEB instead. Wine leaves the LDT entries
 * below 512 alone when %gs is in the LDT. */
enum { first_gs_entry = 16, end_gs_entry = 512 };
static unsigned char gs_entry_taken[end_gs_entry];
static pthread_key_t gs_entry_key;
static unsigned short glibc_gs; /* the GDT selector glibc gave the main thread */
static pthread_mutex_t creating = PTHREAD_MUTEX_INITIALIZER;

static unsigned short current_gs(void) {
  unsigned short selector;
  __asm__ volatile("movw %%gs, %0" : "=r"(selector));
  return selector;
}
static void load_gs(unsigned short selector) { __asm__ volatile("movw %0, %%gs" : : "r"(selector)); }

static uintptr_t own_tcb(void) { /* glibc's thread control block starts with its own address */
  uintptr_t tcb;
  __asm__ volatile("movl %%gs:0, %0" : "=r"(tcb));
  return tcb;
}

static struct user_desc tls_descriptor(unsigned entry) {
  struct user_desc desc = {.entry_number = entry,
                           .base_addr = own_tcb(),
                           .limit = 0xfffff,
                           .seg_32bit = 1,
                           .limit_in_pages = 1,
                           .useable = 1};
  return desc;
}

static void release_gs_entry(void* entry) {
  __atomic_store_n(&gs_entry_taken[(uintptr_t)entry], 0, __ATOMIC_RELEASE);
}

static void move_gs_to_ldt(void) {
  for (unsigned entry = first_gs_entry; entry < end_gs_entry; ++entry) {
    if (__atomic_exchange_n(&gs_entry_taken[entry], 1, __ATOMIC_ACQUIRE)) continue;
    struct user_desc desc = tls_descriptor(entry);
    if (syscall(SYS_modify_ldt, 0x11, &desc, sizeof desc) != 0) {
      release_gs_entry((void*)(uintptr_t)entry);
      return; /* keep the GDT selector: no worse than without us */
    }
    load_gs((unsigned short)(entry << 3 | 7));
    pthread_setspecific(gs_entry_key, (void*)(uintptr_t)entry);
    return;
  }
}

struct thread_start {
  void* (*routine)(void*);
  void* arg;
  sigset_t mask; /* the creator's, before we blocked everything */
};

static void* start_with_own_gs(void* param) {
  struct thread_start start = *(struct thread_start*)param;
  free(param);
  move_gs_to_ldt();
  pthread_sigmask(SIG_SETMASK, &start.mask, 0);
  return start.routine(start.arg);
}

/* glibc takes the new thread's GDT entry from the creator's %gs, so the
 * creator goes back to that entry, pointed at itself again, while it creates
 * the thread; with signals blocked, since the new thread takes the entry over. */
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*), void* arg) {
  static int (*real)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  if (!real)
    real = (int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*))dlsym(RTLD_NEXT,
                                                                                      "pthread_create");
  const unsigned short own = current_gs();
  struct thread_start* start = malloc(sizeof *start);
  if (!start || !(own & 4) || !glibc_gs) {
    free(start);
    return real(thread, attr, routine, arg);
  }
  start->routine = routine;
  start->arg = arg;
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  start->mask = saved;
  pthread_mutex_lock(&creating);
  struct user_desc desc = tls_descriptor(glibc_gs >> 3);
  int result = EAGAIN;
  if (syscall(SYS_set_thread_area, &desc) == 0) {
    load_gs(glibc_gs);
    result = real(thread, attr, start_with_own_gs, start);
    load_gs(own);
  }
  pthread_mutex_unlock(&creating);
  pthread_sigmask(SIG_SETMASK, &saved, 0);
  if (result != 0) free(start);
  return result;
}

long syscall(long number, ...) {
  static long (*real)(long, ...);
  if (!real) real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
  va_list list;
  va_start(list, number);
  long a[6];
  for (int i = 0; i < 6; ++i) a[i] = va_arg(list, long);
  va_end(list);
  if (number == SYS_set_thread_area && ((struct user_desc*)a[0])->entry_number == (unsigned)-1) {
    errno = ENOSYS;
    return -1;
  }
  return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

__attribute__((constructor)) static void give_main_thread_own_gs(void) {
  glibc_gs = current_gs();
  if (!(glibc_gs & 4) && pthread_key_create(&gs_entry_key, release_gs_entry) == 0) move_gs_to_ldt();
}
#endif
