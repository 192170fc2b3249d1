// The message pipe between the library and its server on Windows: a named
// pipe "\\.\Pipe\<server pid>" in message mode, one instance.
//
// The name is known to every local user, so each side checks the other: the
// client talks only to a pipe its server made and lets that end identify it
// but never act as it; the server makes the first and only instance, open to
// its own user alone, and serves only the application that started it.

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/last_error.h"
#include "platform/win32/user_security.h"

namespace qarn::os {
namespace {

// Room for the largest message either side writes; a write larger than the
// buffer still goes through, it only waits for the reader.
constexpr DWORD kPipeBufferSize = 4096;

struct PipeNameText {
  char text[32];
  explicit PipeNameText(uint32_t pid) { PipeName(pid, text, sizeof text); }
};

}  // namespace

int PipeName(uint32_t pid, char* out, size_t size) {
  return snprintf(out, size, "\\\\.\\Pipe\\%d", static_cast<int>(pid));
}

uint32_t PipeOpen(uint32_t server_pid, HANDLE* pipe) {
  if (pipe == nullptr) return kErrorInvalidParameter;
  const PipeNameText name(server_pid);
  *pipe = CreateFileA(name.text, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (*pipe == INVALID_HANDLE_VALUE) return LastErrorCode();
  // Whoever made the name first owns the pipe: it must be the server we
  // started, not a process that guessed its pid.
  ULONG owner = 0;
  if (!GetNamedPipeServerProcessId(*pipe, &owner) || owner != server_pid) {
    CloseHandle(*pipe);
    *pipe = INVALID_HANDLE_VALUE;
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

uint32_t PipeWaitBusy(uint32_t server_pid, uint32_t timeout_ms) {
  const PipeNameText name(server_pid);
  return WaitNamedPipeA(name.text, timeout_ms) ? kErrorSuccess : LastErrorCode();
}

uint32_t PipeSetMessageMode(HANDLE pipe) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) ? kErrorSuccess : LastErrorCode();
}

uint32_t PipeWrite(HANDLE pipe, const void* data, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(pipe, data, size, &written, nullptr)) return LastErrorCode();
  return written == size ? kErrorSuccess : kErrorGenFailure;
}

uint32_t PipeRead(HANDLE pipe, void* buffer, uint32_t capacity, uint32_t* length) {
  DWORD received = 0;
  const BOOL ok = ReadFile(pipe, buffer, capacity, &received, nullptr);
  const uint32_t result = ok ? kErrorSuccess : LastErrorCode();
  if (length != nullptr) *length = received;
  // With ERROR_MORE_DATA the slot holds the message's first `capacity` bytes
  // and the rest is still in the pipe, where the next read would take it for
  // the next message. It is read away, as a socket discards it.
  if (result == kErrorMoreData) {
    char rest[1024];
    while (!ReadFile(pipe, rest, sizeof rest, &received, nullptr) && GetLastError() == ERROR_MORE_DATA) {
    }
  }
  return result;
}

uint32_t PipeWaitReadable(HANDLE pipe, uint32_t timeout_ms) {
  // A synchronous pipe handle has no timed read: look at it, and sleep a
  // little longer each time while nothing has come.
  const DWORD t0 = GetTickCount();
  DWORD pause_ms = 1;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available != 0)
      return kErrorSuccess;
    const DWORD spent = GetTickCount() - t0;
    if (timeout_ms != kWaitForever && spent >= timeout_ms) return kErrorTimeout;
    const DWORD left = timeout_ms - spent;
    Sleep(timeout_ms != kWaitForever && left < pause_ms ? left : pause_ms);
    if (pause_ms < 16) pause_ms *= 2;
  }
}

void PipeClose(HANDLE pipe) {
  if (!IsNoHandle(pipe)) CloseHandle(pipe);
}

uint32_t PipeListen(uint32_t own_pid, HANDLE* listener) {
  if (listener == nullptr) return kErrorInvalidParameter;
  *listener = INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES* const security = CurrentUserOnly();
  if (security == nullptr) return kErrorAccessDenied;
  const PipeNameText name(own_pid);
  // A pipe of that name made before ours (by a squatter) fails this
  // creation instead of sharing the name with it.
  *listener =
      CreateNamedPipeA(name.text, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                       kPipeBufferSize, kPipeBufferSize, 0, security);
  if (*listener == INVALID_HANDLE_VALUE) return LastErrorCode();
  // Where that flag is not honoured (Wine 8), a squatter that allowed more
  // instances shows as a second one: the name is not ours alone.
  DWORD instances = 0;
  if (!GetNamedPipeHandleStateA(*listener, nullptr, &instances, nullptr, nullptr, nullptr, 0) ||
      instances != 1) {
    CloseHandle(*listener);
    *listener = INVALID_HANDLE_VALUE;
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

// The application a started server serves: the library names its own pid in
// the server's environment (ProcessStart). Without it (a server started by
// hand) any client of this user is served.
uint32_t ExpectedClient() {
  const char* text = EnvironmentValue(kApplicationPidVariable);
  return text != nullptr ? static_cast<uint32_t>(strtoul(text, nullptr, 10)) : 0;
}

uint32_t PipeAccept(HANDLE listener, HANDLE* pipe) {
  if (IsNoHandle(listener) || pipe == nullptr) return kErrorInvalidParameter;
  const uint32_t expected = ExpectedClient();
  for (;;) {
    // A client that opened the pipe before this call is connected already.
    if (!ConnectNamedPipe(listener, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
      return LastErrorCode();
    ULONG client = 0;
    if (expected == 0 || (GetNamedPipeClientProcessId(listener, &client) && client == expected)) break;
    // Another process of this user: dropped, and the wait goes on.
    if (!DisconnectNamedPipe(listener)) return LastErrorCode();
  }
  // The one instance is both listener and connection; the caller gets its own
  // handle to it so that it can close connection and listener in any order.
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, listener, self, pipe, 0, FALSE, DUPLICATE_SAME_ACCESS)) return LastErrorCode();
  return kErrorSuccess;
}

void PipeListenerClose(HANDLE listener) {
  if (!IsNoHandle(listener)) CloseHandle(listener);
}

}  // namespace qarn::os
