// Clocks, paths and process identity on Windows.

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/last_error.h"

namespace qarn::os {

const char kPathSeparator = '\\';

uint32_t TickCount() { return GetTickCount(); }

int64_t PerformanceCounter() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

uint32_t ExecutablePath(char* out, size_t size) {
  if (out == nullptr || size == 0 || size > MAXDWORD) return kErrorInvalidParameter;
  const DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  if (length == 0) return LastErrorCode();
  // Older systems leave a cut path unterminated.
  out[length < size ? length : size - 1] = '\0';
  return kErrorSuccess;
}

int FormatServerExecutable(char* out, size_t size, const char* folder, const char* digits) {
  return snprintf(out, size, "%s\\qarn_svr%s.exe", folder, digits);
}

// Windows has no set-user-id programs: a process's environment is its own.
const char* EnvironmentValue(const char* name) { return getenv(name); }

// Windows keeps the system's global object names.
const char* ObjectNamespace() { return ""; }

// The system removes a named object with its last handle, also when the
// process that held it was killed: nothing is ever left to sweep.
size_t RemoveStaleObjects(bool, StaleObjectVisitor, void*) { return 0; }
void RemoveStaleObjectsOnce() {}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace qarn::os
