// Starting the server process on Windows.

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/last_error.h"

namespace qarn::os {

namespace {

// The caller's environment, with our pid as the one client the server may
// serve (replacing any such entry the caller has).
std::vector<char> ServerEnvironment() {
  char own[64];
  snprintf(own, sizeof own, "%s=%lu", kApplicationPidVariable, GetCurrentProcessId());
  const size_t prefix = strlen(kApplicationPidVariable) + 1;
  std::vector<char> block;
  if (char* const strings = GetEnvironmentStringsA()) {
    for (const char* entry = strings; *entry != '\0'; entry += strlen(entry) + 1) {
      if (_strnicmp(entry, own, prefix) != 0) block.insert(block.end(), entry, entry + strlen(entry) + 1);
    }
    FreeEnvironmentStringsA(strings);
  }
  block.insert(block.end(), own, own + strlen(own) + 1);
  block.push_back('\0');
  return block;
}

}  // namespace

uint32_t ProcessStart(const ServerLaunch& launch, HANDLE* process, uint32_t* pid) {
  if (launch.command_line == nullptr || process == nullptr || pid == nullptr) return kErrorInvalidParameter;
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> command_line(launch.command_line, launch.command_line + strlen(launch.command_line) + 1);
  std::vector<char> environment = ServerEnvironment();
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created;
  memset(&created, 0, sizeof created);
  // No application name: the quoted first field of the command line names
  // the program.
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | REALTIME_PRIORITY_CLASS, environment.data(), nullptr, &startup,
                      &created)) {
    return LastErrorCode();
  }
  CloseHandle(created.hThread);
  *process = created.hProcess;
  *pid = created.dwProcessId;
  return kErrorSuccess;
}

bool ProcessHasExited(HANDLE process) {
  // INVALID_HANDLE_VALUE would name this very process; no handle means no
  // process to wait for.
  if (IsNoHandle(process)) return true;
  return WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
}

bool ProcessAwaitExit(HANDLE process, uint32_t timeout_ms) {
  if (IsNoHandle(process)) return true;
  return WaitForSingleObject(process, timeout_ms) != WAIT_TIMEOUT;
}

void ProcessClose(HANDLE process) {
  if (!IsNoHandle(process)) CloseHandle(process);
}

}  // namespace qarn::os
