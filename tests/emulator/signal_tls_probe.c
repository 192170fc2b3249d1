/* Does a thread keep its own thread data across a signal handler?
 *
 * On the kernel it always does. qemu-user keeps one GDT for the whole process:
 * each new thread points the shared TLS entry at itself, and the selector
 * reload on return from a signal handler gives an older thread the base of
 * the newest one. This program shows which of the two it runs under, and
 * fails when what it sees does not match that.
 *
 * Three threads, created one after the other, each with its own mark; each in
 * turn signals itself and notes its mark in the handler, its mark and
 * pthread_self() after it, and its mark once more after taking its own data
 * back (which it needs to go on). Exit status 0: natively nothing changed; under
 * the emulator the handler still saw the thread's own data, after it the two
 * older threads saw the newest one's, and taking back gave each its own. */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { thread_count = 3 };

/* volatile, and pthread_self() through a pointer (it is declared const):
 * the compiler must not reuse what it read before the signal. */
static __thread volatile int mark;
static pthread_t (*volatile current_thread)(void) = pthread_self;
static volatile sig_atomic_t mark_in_handler;

struct view {
  int own_mark, mark_in_handler, mark_after, mark_taken_back;
  pthread_t self, self_after;
};
static struct view views[thread_count];
static pthread_t ids[thread_count];
static sem_t turn[thread_count], done;

static void note_mark(int sig) {
  (void)sig;
  mark_in_handler = mark;
}

/* The emulator answers readlink("/proc/self/exe") with the emulated program,
 * but not a path relative to a /proc descriptor: that names the real one. */
static int runs_under_qemu(char* exe, size_t size) {
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const ssize_t n = proc < 0 ? -1 : readlinkat(proc, "self/exe", exe, size - 1);
  if (proc >= 0) close(proc);
  exe[n < 0 ? 0 : n] = '\0';
  const char* base = strrchr(exe, '/');
  return n > 0 && strncmp(base ? base + 1 : exe, "qemu-", 5) == 0;
}

/* Points this thread's TLS selector at `tcb` again (the shared entry, then
 * the reload), and leaves the entry as the others had it. Only ever needed
 * under the emulator. */
static void take_back_thread_data(uintptr_t tcb, uintptr_t entry_holds) {
  unsigned short gs;
  __asm__ volatile("movw %%gs, %0" : "=r"(gs));
  struct user_desc desc = {.entry_number = gs >> 3,
                           .base_addr = tcb,
                           .limit = 0xfffff,
                           .seg_32bit = 1,
                           .limit_in_pages = 1,
                           .useable = 1};
  syscall(SYS_set_thread_area, &desc);
  __asm__ volatile("movw %0, %%gs" : : "r"(gs));
  desc.base_addr = entry_holds;
  syscall(SYS_set_thread_area, &desc);
}

static void probe(int index) {
  struct view* v = &views[index];
  v->own_mark = mark;
  v->self = current_thread();
  pthread_kill(v->self, SIGUSR1); /* handled before the call returns */
  v->mark_in_handler = mark_in_handler;
  v->mark_after = mark;
  v->self_after = current_thread();
  if (!pthread_equal(v->self_after, v->self))
    take_back_thread_data((uintptr_t)v->self, (uintptr_t)v->self_after);
  v->mark_taken_back = mark;
}

static void* thread_main(void* arg) {
  const int index = (int)(intptr_t)arg;
  mark = 100 + index;
  ids[index] = pthread_self();
  sem_post(&done); /* started */
  sem_wait(&turn[index]);
  probe(index);
  sem_post(&done);
  return 0;
}

static int owner_of(pthread_t self) {
  for (int i = 0; i < thread_count; ++i)
    if (pthread_equal(ids[i], self)) return i;
  return -1;
}

int main(void) {
  setvbuf(stdout, 0, _IONBF, 0);
  struct sigaction action = {.sa_handler = note_mark};
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, 0);
  sem_init(&done, 0, 0);

  mark = 100;
  ids[0] = pthread_self();
  pthread_t threads[thread_count];
  for (int i = 1; i < thread_count; ++i) {
    sem_init(&turn[i], 0, 0);
    if (pthread_create(&threads[i], 0, thread_main, (void*)(intptr_t)i) != 0) return 2;
    sem_wait(&done); /* started before the next is created */
  }

  probe(0);
  for (int i = 1; i < thread_count; ++i) {
    sem_post(&turn[i]);
    sem_wait(&done);
  }
  for (int i = 1; i < thread_count; ++i) pthread_join(threads[i], 0);

  char exe[PATH_MAX];
  const int emulated = runs_under_qemu(exe, sizeof exe);
  printf("executable: %s -> %s\n", exe[0] ? exe : "(unreadable)", emulated ? "emulated" : "native");
  const int newest = thread_count - 1;
  int as_expected = 1;
  for (int i = 0; i < thread_count; ++i) {
    const struct view* v = &views[i];
    printf("thread %d (mark %d): in handler %d, after it %d, pthread_self of thread %d; then %d\n", i,
           v->own_mark, v->mark_in_handler, v->mark_after, owner_of(v->self_after), v->mark_taken_back);
    const int expect = emulated ? newest : i;
    as_expected &= v->mark_in_handler == v->own_mark && v->mark_after == views[expect].own_mark &&
                   owner_of(v->self_after) == expect && v->mark_taken_back == v->own_mark;
  }
  printf("%s\n", as_expected ? (emulated ? "the defect shows: older threads get the newest one's data"
                                         : "every thread kept its own data")
                             : "UNEXPECTED for this kind of run");
  return as_expected ? 0 : 1;
}
