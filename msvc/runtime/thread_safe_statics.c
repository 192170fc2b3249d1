/* Guarded initialisation of function-local statics, as the Microsoft ABI
 * has the compiler call it. A guard is 0 before, -1 while one thread runs
 * the initialiser, and afterwards the global epoch at the time it finished;
 * each thread keeps the epoch it has seen so that the fast path needs no
 * lock once a thread has met an initialised guard. */
#define WIN32_LEAN_AND_MEAN
#include <limits.h>
#include <windows.h>

enum { kUninitialised = 0, kBeingInitialised = -1 };

int _Init_global_epoch = INT_MIN;
__declspec(thread) int _Init_thread_epoch = INT_MIN;

static SRWLOCK qarn_guard_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE qarn_guard_done = CONDITION_VARIABLE_INIT;

/* Returns with *guard == -1 when the caller is to run the initialiser. */
void __cdecl _Init_thread_header(int* guard) {
  AcquireSRWLockExclusive(&qarn_guard_lock);
  for (;;) {
    if (*guard == kUninitialised) {
      *guard = kBeingInitialised;
      break;
    }
    if (*guard != kBeingInitialised) {
      _Init_thread_epoch = _Init_global_epoch;
      break;
    }
    SleepConditionVariableSRW(&qarn_guard_done, &qarn_guard_lock, INFINITE, 0);
  }
  ReleaseSRWLockExclusive(&qarn_guard_lock);
}

void __cdecl _Init_thread_footer(int* guard) {
  AcquireSRWLockExclusive(&qarn_guard_lock);
  *guard = ++_Init_global_epoch;
  _Init_thread_epoch = _Init_global_epoch;
  ReleaseSRWLockExclusive(&qarn_guard_lock);
  WakeAllConditionVariable(&qarn_guard_done);
}

/* The initialiser threw: the next caller tries again. */
void __cdecl _Init_thread_abort(int* guard) {
  AcquireSRWLockExclusive(&qarn_guard_lock);
  *guard = kUninitialised;
  ReleaseSRWLockExclusive(&qarn_guard_lock);
  WakeAllConditionVariable(&qarn_guard_done);
}
