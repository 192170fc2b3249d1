// The named start event on Windows: an auto-reset event that the server sets
// once when it is ready.

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/last_error.h"
#include "platform/win32/user_security.h"

namespace qarn::os {

uint32_t EventCreate(const char* name, HANDLE* event) {
  if (event == nullptr) return kErrorInvalidParameter;
  SECURITY_ATTRIBUTES* const security = CurrentUserOnly();
  *event = nullptr;
  if (security == nullptr) return kErrorAccessDenied;
  *event = CreateEventA(security, FALSE, FALSE, name);
  if (*event == nullptr) return LastErrorCode();
  // An event of that name exists already: another start (of ours or of
  // another application) owns it; ours must have one of its own.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(*event);
    *event = nullptr;
    return kErrorAlreadyExists;
  }
  return kErrorSuccess;
}

WaitResult EventWait(HANDLE event, uint32_t timeout_ms, HANDLE process) {
  if (IsNoHandle(event)) return WaitResult::kFailed;
  if (IsNoHandle(process)) {
    switch (WaitForSingleObject(event, timeout_ms)) {
      case WAIT_OBJECT_0:
        return WaitResult::kSignalled;
      case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
      default:
        return WaitResult::kFailed;
    }
  }
  // The event comes first, so a server that signals and then exits still
  // counts as started.
  const HANDLE objects[] = {event, process};
  switch (WaitForMultipleObjects(2, objects, FALSE, timeout_ms)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignalled;
    case WAIT_OBJECT_0 + 1:
      return WaitResult::kProcessExited;
    case WAIT_TIMEOUT:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

void EventClose(HANDLE event) {
  if (!IsNoHandle(event)) CloseHandle(event);
}

uint32_t EventSignal(const char* name) {
  const HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  if (event == nullptr) return LastErrorCode();
  const uint32_t result = SetEvent(event) ? kErrorSuccess : LastErrorCode();
  CloseHandle(event);
  return result;
}

}  // namespace qarn::os
