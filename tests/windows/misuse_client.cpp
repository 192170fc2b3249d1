// What careless or unlucky callers get on Windows, as on Linux: a handle used
// after its session ended, a call from a callback on the session that waits,
// launch values that do not fit, and a server that stops answering. Prints
// one line per case; the package test compares them.
//   misuse_client.exe <server folder>
#include <qarnplus/driver.h>
#include <qarnplus/extensions.h>
#include <qarnplus/server.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

// after windows.h
#include <tlhelp32.h>

#include <string>

namespace {

std::string Reply(void* session, const char* request) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request, &reply, nullptr);
  return reply != nullptr ? reply : "(null)";
}

// The value named `name` in a reply ("val=\"...\" name=\"NAME\"").
std::string Value(const std::string& reply, const std::string& name) {
  const size_t end = reply.find("\" name=\"" + name + "\"");
  const size_t start = end == std::string::npos ? end : reply.rfind("val=\"", end);
  return start == std::string::npos ? "" : reply.substr(start + 5, end - start - 5);
}

// Suspends or resumes every thread of process `pid`: the server stops
// answering without going away.
void SetRunning(DWORD pid, bool running) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != pid) continue;
    const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    if (running) {
      ResumeThread(thread);
    } else {
      SuspendThread(thread);
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
}

void End(DWORD pid) {
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return;
  TerminateProcess(process, 9);
  CloseHandle(process);
}

struct Nested {
  void* own;
  void* other;
  int own_version;
  DWORD own_error;
  int other_version;
} g_nested;

int WINAPI CallBackIntoTheSessions(unsigned char* password, unsigned int* length, const char*) {
  g_nested.own_version = f_QARNSVR_GetVersion(g_nested.own);
  g_nested.own_error = f_QARNSVR_GetLastError();
  f_QARNSVR_FreeLibrary(g_nested.own);  // refused: the session stays open
  g_nested.other_version = f_QARNSVR_GetVersion(g_nested.other);
  memcpy(password, "12345", 5);
  *length = 5;
  return 77;
}

void StaleHandles(const char* dir) {
  void* freed = f_QARNSVR_LoadLibrary(0, dir, "");
  f_QARNSVR_FreeLibrary(freed);
  bool reused = false, reached = false;
  for (int round = 0; round < 4; ++round) {
    void* live = f_QARNSVR_LoadLibrary(0, dir, "");
    reused = reused || live == freed;
    f_QARNDRV_Init(live);
    f_QARNDRV_Clean(freed);
    reached = reached || Value(Reply(live, "status"), "driver") != "initialised";
    f_QARNSVR_FreeLibrary(live);
  }
  printf("stale handle: version %d, error %lu, reused %s, reached a later session %s\n",
         f_QARNSVR_GetVersion(freed), static_cast<unsigned long>(f_QARNSVR_GetLastError()),
         reused ? "yes" : "no", reached ? "yes" : "no");
}

void NestedRequest(const char* dir) {
  g_nested = Nested{f_QARNSVR_LoadLibrary(0, dir, ""), f_QARNSVR_LoadLibrary(0, dir, ""), 0, 0, 0};
  f_QARNDRV_Init(g_nested.own);
  const std::string request =
      "callback passwd " + std::to_string(reinterpret_cast<uintptr_t>(&CallBackIntoTheSessions)) + " doc";
  const std::string reply = Reply(g_nested.own, request.c_str());
  printf("nested: own %d error %lu, other %s, outer result %s password %s, after %s\n", g_nested.own_version,
         static_cast<unsigned long>(g_nested.own_error), g_nested.other_version > 0 ? "answered" : "failed",
         Value(reply, "result").c_str(), Value(reply, "password").c_str(),
         f_QARNSVR_GetVersion(g_nested.own) > 0 ? "in step" : "broken");
  f_QARNSVR_FreeLibrary(g_nested.own);
  f_QARNSVR_FreeLibrary(g_nested.other);
}

void LaunchLimits(const char* dir) {
  const std::string long_dir = std::string(dir) + "\\" + std::string(260, 'd');
  const std::string digits(32, '7');
  const struct {
    const char* what;
    std::string dir, suffix;
  } cases[] = {{"long folder", long_dir, ""},
               {"32 digits", dir, digits},
               {"quote", dir, "1\" -x \"2"},
               {"long command line", dir, std::string(600, 'x')}};
  for (const auto& c : cases) {
    void* session = f_QARNSVR_LoadLibrary(0, c.dir.c_str(), c.suffix.c_str());
    printf("launch %s: %s, error %lu\n", c.what, session == nullptr ? "refused" : "started",
           static_cast<unsigned long>(f_QARNSVR_GetLastError()));
  }
}

bool SetReplyTimeout(DWORD ms) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TALVEX\\QARN_SVR", 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG result = ms != 0
                          ? RegSetValueExA(key, "ReplyTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&ms), 4)
                          : RegDeleteValueA(key, "ReplyTimeout");
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void StoppedServer(const char* dir) {
  void* session = f_QARNSVR_LoadLibrary(0, dir, "");
  DWORD pid = static_cast<DWORD>(atol(Value(Reply(session, "status"), "pid").c_str()));
  SetRunning(pid, false);
  DWORD t0 = GetTickCount();
  f_QARNSVR_FreeLibrary(session);
  printf("stopped server: FreeLibrary returned %s\n", GetTickCount() - t0 < 60000 ? "in bounds" : "late");
  End(pid);

  if (!SetReplyTimeout(300)) {
    printf("stopped server: the ReplyTimeout setting cannot be written\n");
    return;
  }
  session = f_QARNSVR_LoadLibrary(0, dir, "");
  SetReplyTimeout(0);
  pid = static_cast<DWORD>(atol(Value(Reply(session, "status"), "pid").c_str()));
  SetRunning(pid, false);
  const int first = f_QARNSVR_GetVersion(session);
  SetRunning(pid, true);  // its late reply now comes
  Sleep(200);
  const int later = f_QARNSVR_GetVersion(session);
  printf("reply timeout: %d then %d\n", first, later);
  f_QARNSVR_FreeLibrary(session);
  End(pid);
}

}  // namespace

int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : ".";
  StaleHandles(dir);
  NestedRequest(dir);
  LaunchLimits(dir);
  StoppedServer(dir);
  return 0;
}
