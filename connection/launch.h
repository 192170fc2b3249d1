#pragma once
// Starting a server process: the values it is launched with, and the launch
// itself with the wait for its start event.

#include <stddef.h>
#include <stdint.h>

#include "qarnplus/wintypes.h"

namespace qarn {

constexpr uint32_t kStartWaitMs = 60000;
constexpr size_t kMaxSuffixDigits = 31;
constexpr size_t kCommandLineRoom = 648;  // 647 characters and the terminator

struct LaunchValues {
  char server_dir[MAX_PATH];  // the folder, one trailing separator removed
  char digits[kMaxSuffixDigits + 1];
  char executable[MAX_PATH];
  char app_dir[MAX_PATH];  // the application's own folder
  char event_name[16];
  char command_line[kCommandLineRoom];  // the Windows command-line text
  uint32_t tick;                        // the tick count the event is named after
  int option;                           // the number after -l
  const char* suffix;                   // the suffix as the application gave it
};

// How many taken start-event names a start skips before it gives up.
constexpr uint32_t kEventNameTries = 1000;

// Builds every launch value; false when the application's own path cannot be
// found. NULL folder or suffix count as empty texts.
bool BuildLaunchValues(int nLOption, const char* pszServerDir, const char* pszSuffix, LaunchValues* out);

// Names the start event after `tick` and rebuilds the command line with it.
void SetEventName(uint32_t tick, LaunchValues* values);

// 60000 ms, or no limit when the "Debug" setting holds a number other than 0.
uint32_t StartWaitTimeout();

// The start failed because the server ended before it signalled
// (ERROR_PROCESS_ABORTED).
constexpr uint32_t kErrorServerEnded = 1067;

// Starts the server and waits for its start event. Returns 1 when it
// signalled, 0 otherwise; *pidOut and *processOut are set as soon as the
// process exists, also when only the wait fails. On 0, *errorOut (when given)
// says why: the system's code for a server that cannot be started (2 not
// found, 5 not executable), kErrorTimeout, kErrorServerEnded.
int LaunchServer(int nLOption, const char* pszServerDir, const char* pszSuffix, DWORD* pidOut,
                 HANDLE* processOut, uint32_t* errorOut = nullptr);

}  // namespace qarn
