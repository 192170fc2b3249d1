// Building the launch values and starting the server.
#include "connection/launch.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

namespace qarn {
namespace {

// Copies `text` into `out` of `room` bytes; false when it does not fit whole.
bool CopyWhole(const char* text, char* out, size_t room) {
  const size_t length = strlen(text);
  if (length >= room) return false;
  memcpy(out, text, length + 1);
  return true;
}

uint32_t CopyServerDir(const char* dir, char* out) {
  size_t length = strlen(dir);
  if (length > 0 && dir[length - 1] == os::kPathSeparator) --length;
  if (length >= MAX_PATH) return os::kErrorFilenameExcedRange;
  memcpy(out, dir, length);
  out[length] = '\0';
  return os::kErrorSuccess;
}

uint32_t FilterDigits(const char* suffix, char* out) {
  size_t count = 0;
  for (const char* c = suffix; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') continue;
    // More digits would name another executable than the caller asked for.
    if (count == kMaxSuffixDigits) return os::kErrorInvalidParameter;
    out[count++] = *c;
  }
  out[count] = '\0';
  return os::kErrorSuccess;
}

uint32_t FindApplicationDir(char* out) {
  char path[4096];
  const uint32_t error = os::ExecutablePath(path, sizeof path);
  if (error != os::kErrorSuccess) return error;
  char* last = strrchr(path, os::kPathSeparator);
  if (last != nullptr) *last = '\0';
  return CopyWhole(path, out, MAX_PATH) ? os::kErrorSuccess : os::kErrorFilenameExcedRange;
}

// Appends `field` in double quotes as a program's C runtime splits its
// command line: backslashes before a quote are doubled, so a folder that
// ends in one does not swallow the closing quote. (Quotes inside a field are
// refused before.)
bool AppendQuoted(const char* field, char** at, const char* end) {
  auto put = [&](char c) {
    if (*at >= end) return false;
    *(*at)++ = c;
    return true;
  };
  if (!put('"')) return false;
  size_t backslashes = 0;
  for (const char* c = field; *c != '\0'; ++c) {
    backslashes = *c == '\\' ? backslashes + 1 : 0;
    if (!put(*c)) return false;
  }
  for (; backslashes > 0; --backslashes) {
    if (!put('\\')) return false;
  }
  return put('"');
}

bool AppendText(const char* text, char** at, const char* end) {
  const size_t length = strlen(text);
  if (static_cast<size_t>(end - *at) < length) return false;
  memcpy(*at, text, length);
  *at += length;
  return true;
}

}  // namespace

uint32_t BuildLaunchValues(int nLOption, const char* pszServerDir, const char* pszSuffix, LaunchValues* out) {
  const char* dir = pszServerDir ? pszServerDir : "";
  const char* suffix = pszSuffix ? pszSuffix : "";
  // A quote would end its field early on the Windows command line, and the
  // rest would become arguments of its own; both platforms refuse it alike.
  if (strchr(dir, '"') != nullptr || strchr(suffix, '"') != nullptr) return os::kErrorInvalidParameter;
  uint32_t error = CopyServerDir(dir, out->server_dir);
  if (error == os::kErrorSuccess) error = FilterDigits(suffix, out->digits);
  if (error != os::kErrorSuccess) return error;
  const int length =
      os::FormatServerExecutable(out->executable, sizeof out->executable, out->server_dir, out->digits);
  if (length < 0 || static_cast<size_t>(length) >= sizeof out->executable)
    return os::kErrorFilenameExcedRange;
  error = FindApplicationDir(out->app_dir);
  if (error != os::kErrorSuccess) return error;
  if (strchr(out->app_dir, '"') != nullptr) return os::kErrorInvalidParameter;
  out->option = nLOption;
  out->suffix = suffix;
  return SetEventName(os::TickCount(), out);
}

uint32_t SetEventName(uint32_t tick, LaunchValues* values) {
  values->tick = tick;
  snprintf(values->event_name, sizeof values->event_name, "%u", static_cast<unsigned>(tick));
  char option[16];
  snprintf(option, sizeof option, " -l %d ", values->option);
  // "\"%s\" -l %d \"%s\" \"%s\" \"%s\" %s", each quoted field escaped.
  char* at = values->command_line;
  const char* end = values->command_line + sizeof values->command_line - 1;
  const bool fits = AppendQuoted(values->executable, &at, end) && AppendText(option, &at, end) &&
                    AppendQuoted(values->server_dir, &at, end) && AppendText(" ", &at, end) &&
                    AppendQuoted(values->suffix, &at, end) && AppendText(" ", &at, end) &&
                    AppendQuoted(values->app_dir, &at, end) && AppendText(" ", &at, end) &&
                    AppendText(values->event_name, &at, end);
  *at = '\0';
  return fits ? os::kErrorSuccess : os::kErrorFilenameExcedRange;
}

uint32_t StartWaitTimeout() {
  uint32_t debug = 0;
  if (os::ReadDebugSetting(&debug) == os::kErrorSuccess && debug != 0) return os::kWaitForever;
  return kStartWaitMs;
}

uint32_t LaunchServer(int nLOption, const char* pszServerDir, const char* pszSuffix, DWORD* pidOut,
                      HANDLE* processOut) {
  LaunchValues values;
  uint32_t error = BuildLaunchValues(nLOption, pszServerDir, pszSuffix, &values);
  if (error != os::kErrorSuccess) return error;

  // Two starts in the same millisecond, in this process or (with Windows'
  // global names, or a namespace shared through QARN_NS) in another, would
  // want the same name: a taken one is skipped for the next millisecond's.
  HANDLE event = nullptr;
  for (uint32_t skipped = 1;; ++skipped) {
    error = os::EventCreate(values.event_name, &event);
    if (error == os::kErrorSuccess) break;
    if (error != os::kErrorAlreadyExists || skipped > kEventNameTries) return error;
    error = SetEventName(values.tick + 1, &values);
    if (error != os::kErrorSuccess) return error;
  }

  const os::ServerLaunch launch = {values.executable, nLOption,          values.server_dir,  values.suffix,
                                   values.app_dir,    values.event_name, values.command_line};
  HANDLE process = INVALID_HANDLE_VALUE;
  uint32_t pid = 0;
  error = os::ProcessStart(launch, &process, &pid);
  if (error != os::kErrorSuccess) {
    os::EventClose(event);
    return error;
  }
  *pidOut = pid;
  *processOut = process;

  // The wait also ends when the server exits without signalling.
  const os::WaitResult result = os::EventWait(event, StartWaitTimeout(), process);
  os::EventClose(event);
  switch (result) {
    case os::WaitResult::kSignalled:
      return os::kErrorSuccess;
    case os::WaitResult::kTimedOut:
      return os::kErrorTimeout;
    case os::WaitResult::kProcessExited:
      return os::kErrorProcessAborted;
    default:
      return os::kErrorGenFailure;
  }
}

}  // namespace qarn
