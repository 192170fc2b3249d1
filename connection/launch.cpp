// Building the launch values and starting the server.
#include "connection/launch.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

namespace qarn {
namespace {

const char kCommandLineFormat[] = "\"%s\" -l %d \"%s\" \"%s\" \"%s\" %s";

void CopyServerDir(const char* dir, char* out) {
  snprintf(out, MAX_PATH, "%s", dir);
  const size_t length = strlen(out);
  if (length > 0 && out[length - 1] == os::kPathSeparator) out[length - 1] = '\0';
}

void FilterDigits(const char* suffix, char* out) {
  size_t count = 0;
  for (const char* c = suffix; *c != '\0' && count < kMaxSuffixDigits; ++c) {
    if (*c >= '0' && *c <= '9') out[count++] = *c;
  }
  out[count] = '\0';
}

bool FindApplicationDir(char* out) {
  if (os::ExecutablePath(out, MAX_PATH) != os::kErrorSuccess) return false;
  char* last = strrchr(out, os::kPathSeparator);
  if (last != nullptr) *last = '\0';
  return true;
}

}  // namespace

bool BuildLaunchValues(int nLOption, const char* pszServerDir, const char* pszSuffix, LaunchValues* out) {
  const char* dir = pszServerDir ? pszServerDir : "";
  const char* suffix = pszSuffix ? pszSuffix : "";
  CopyServerDir(dir, out->server_dir);
  FilterDigits(suffix, out->digits);
  os::FormatServerExecutable(out->executable, sizeof out->executable, out->server_dir, out->digits);
  if (!FindApplicationDir(out->app_dir)) return false;
  out->option = nLOption;
  out->suffix = suffix;
  SetEventName(os::TickCount(), out);
  return true;
}

void SetEventName(uint32_t tick, LaunchValues* values) {
  values->tick = tick;
  snprintf(values->event_name, sizeof values->event_name, "%u", static_cast<unsigned>(tick));
  snprintf(values->command_line, sizeof values->command_line, kCommandLineFormat, values->executable,
           values->option, values->server_dir, values->suffix, values->app_dir, values->event_name);
}

uint32_t StartWaitTimeout() {
  uint32_t debug = 0;
  if (os::ReadDebugSetting(&debug) == os::kErrorSuccess && debug != 0) return os::kWaitForever;
  return kStartWaitMs;
}

int LaunchServer(int nLOption, const char* pszServerDir, const char* pszSuffix, DWORD* pidOut,
                 HANDLE* processOut, uint32_t* errorOut) {
  uint32_t ignored = 0;
  uint32_t& failure = errorOut != nullptr ? *errorOut : ignored;
  failure = os::kErrorGenFailure;
  LaunchValues values;
  if (!BuildLaunchValues(nLOption, pszServerDir, pszSuffix, &values)) return 0;

  // Two starts in the same millisecond, in this process or (with Windows'
  // global names, or a namespace shared through QARN_NS) in another, would
  // want the same name: a taken one is skipped for the next millisecond's.
  HANDLE event = nullptr;
  for (uint32_t skipped = 1;; ++skipped) {
    const uint32_t error = os::EventCreate(values.event_name, &event);
    if (error == os::kErrorSuccess) break;
    if (error != os::kErrorAlreadyExists || skipped > kEventNameTries) {
      failure = error;
      return 0;
    }
    SetEventName(values.tick + 1, &values);
  }

  const os::ServerLaunch launch = {values.executable, nLOption,          values.server_dir,  values.suffix,
                                   values.app_dir,    values.event_name, values.command_line};
  HANDLE process = INVALID_HANDLE_VALUE;
  uint32_t pid = 0;
  failure = os::ProcessStart(launch, &process, &pid);
  if (failure != os::kErrorSuccess) {
    os::EventClose(event);
    return 0;
  }
  *pidOut = pid;
  *processOut = process;

  // The wait also ends when the server exits without signalling.
  const os::WaitResult result = os::EventWait(event, StartWaitTimeout(), process);
  os::EventClose(event);
  switch (result) {
    case os::WaitResult::kSignalled:
      failure = os::kErrorSuccess;
      return 1;
    case os::WaitResult::kTimedOut:
      failure = os::kErrorTimeout;
      break;
    case os::WaitResult::kProcessExited:
      failure = kErrorServerEnded;
      break;
    case os::WaitResult::kFailed:
      failure = os::kErrorGenFailure;
      break;
  }
  return 0;
}

}  // namespace qarn
