// The start event: a named semaphore of value 0 that the server posts once.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>

#include <new>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/object_names.h"

namespace qarn::os {
namespace {

using posix::FormatObjectName;
using posix::IsPrivateObject;

constexpr char kEventKind[] = "ev.";
// How often a wait that watches a process looks at it.
constexpr int64_t kProcessPollNs = 5 * 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

struct EventRecord {
  sem_t* semaphore;
  char name[NAME_MAX];
};

EventRecord* RecordOf(HANDLE event) { return static_cast<EventRecord*>(event); }

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
  timespec result{};
  result.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
  result.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  return result;
}

// Named semaphores live as "sem.<name without slash>" in /dev/shm.
bool SemaphoreIsPrivate(const char* name) {
  char path[NAME_MAX + 16];
  snprintf(path, sizeof path, "/dev/shm/sem.%s", name + 1);
  struct stat status;
  return stat(path, &status) == 0 && IsPrivateObject(status);
}

// One wait until the absolute monotonic `deadline_ns` (< 0: none).
// Returns 0, ETIMEDOUT or another errno.
int WaitUntil(sem_t* semaphore, int64_t deadline_ns) {
  for (;;) {
    int result;
    if (deadline_ns < 0) {
      result = sem_wait(semaphore);
    } else {
      const timespec deadline = ToTimespec(deadline_ns);
      result = sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline);
    }
    if (result == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace

uint32_t EventCreate(const char* name, HANDLE* event) {
  if (name == nullptr || event == nullptr) return kErrorInvalidParameter;
  auto* record = new (std::nothrow) EventRecord;
  if (record == nullptr) return kErrorNotEnoughMemory;
  if (!FormatObjectName(record->name, sizeof record->name, kEventKind, name)) {
    delete record;
    return kErrorInvalidParameter;
  }
  // O_EXCL: a semaphore that someone else planted under our name is refused.
  record->semaphore = sem_open(record->name, O_CREAT | O_EXCL, 0600, 0);
  if (record->semaphore == SEM_FAILED) {
    const uint32_t error = ErrorFromErrno(errno);
    delete record;
    return error;
  }
  *event = record;
  return kErrorSuccess;
}

WaitResult EventWait(HANDLE event, uint32_t timeout_ms, HANDLE process) {
  if (event == nullptr) return WaitResult::kFailed;
  sem_t* semaphore = RecordOf(event)->semaphore;
  const int64_t deadline = timeout_ms == kWaitForever ? -1 : Now() + int64_t{timeout_ms} * 1000000;
  if (process == nullptr) {
    const int error = WaitUntil(semaphore, deadline);
    if (error == 0) return WaitResult::kSignalled;
    return error == ETIMEDOUT ? WaitResult::kTimedOut : WaitResult::kFailed;
  }
  // Watching a process: wait in short slices and look at it between them.
  for (;;) {
    const int64_t slice_end = Now() + kProcessPollNs;
    const bool last_slice = deadline >= 0 && deadline <= slice_end;
    const int error = WaitUntil(semaphore, last_slice ? deadline : slice_end);
    if (error == 0) return WaitResult::kSignalled;
    if (error != ETIMEDOUT) return WaitResult::kFailed;
    if (ProcessHasExited(process)) {
      // A server that signalled just before it ended still counts as ready.
      return sem_trywait(semaphore) == 0 ? WaitResult::kSignalled : WaitResult::kProcessExited;
    }
    if (last_slice) return WaitResult::kTimedOut;
  }
}

void EventClose(HANDLE event) {
  if (event == nullptr) return;
  EventRecord* record = RecordOf(event);
  sem_close(record->semaphore);
  sem_unlink(record->name);
  delete record;
}

uint32_t EventSignal(const char* name) {
  char full_name[NAME_MAX];
  if (name == nullptr || !FormatObjectName(full_name, sizeof full_name, kEventKind, name)) {
    return kErrorInvalidParameter;
  }
  sem_t* semaphore = sem_open(full_name, 0);
  if (semaphore == SEM_FAILED) return ErrorFromErrno(errno);
  uint32_t result = kErrorAccessDenied;
  if (SemaphoreIsPrivate(full_name))
    result = sem_post(semaphore) == 0 ? kErrorSuccess : ErrorFromErrno(errno);
  sem_close(semaphore);
  return result;
}

}  // namespace qarn::os
