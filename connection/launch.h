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

// Builds every launch value. NULL folder or suffix count as empty texts.
// Nothing is ever cut: a value that does not fit its room fails with 206
// (ERROR_FILENAME_EXCED_RANGE: a folder, the executable path or the
// application folder of MAX_PATH or more characters, a command line of more
// than 647), a suffix with more than 31 digits or a quote in any field with
// 87 (ERROR_INVALID_PARAMETER); a missing own path with its error code.
uint32_t BuildLaunchValues(int nLOption, const char* pszServerDir, const char* pszSuffix, LaunchValues* out);

// Names the start event after `tick` and rebuilds the command line with it;
// 206 when the command line does not fit.
uint32_t SetEventName(uint32_t tick, LaunchValues* values);

// 60000 ms, or no limit when the "Debug" setting holds a number other than 0.
uint32_t StartWaitTimeout();

// Starts the server and waits for its start event. Returns 0 when it
// signalled, otherwise why not: a BuildLaunchValues code, the event's or the
// start's error, 1460 (ERROR_TIMEOUT) when the wait ran out, 1067
// (ERROR_PROCESS_ABORTED) when the server ended without signalling.
// *pidOut and *processOut are set as soon as the process exists, also when
// only the wait fails.
uint32_t LaunchServer(int nLOption, const char* pszServerDir, const char* pszSuffix, DWORD* pidOut,
                      HANDLE* processOut);

}  // namespace qarn
