#pragma once
// What the fault, intrusion and load tests share: a private socket folder
// and the objects and processes a test could leave behind.

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/command_output.h"

namespace hardening {

namespace fs = std::filesystem;

// Polls `done` every 10 ms for at most `limit_ms`; true once it holds.
template <typename Condition>
bool WaitUntil(Condition done, int limit_ms = 20000) {
  for (int waited = 0; waited < limit_ms; waited += 10) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// XDG_RUNTIME_DIR pointed at a fresh folder for this object's life, so the
// sockets of this test's servers live apart from everyone else's and the
// socket folder can be given a wrong mode without harming other tests.
// Servers inherit it with the rest of the environment.
class PrivateRuntime {
 public:
  PrivateRuntime() {
    static int counter = 0;
    root_ =
        fs::temp_directory_path() / ("qarn-rt-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const char* old = getenv("XDG_RUNTIME_DIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
  }
  ~PrivateRuntime() {
    if (had_old_) {
      setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    fs::permissions(SocketFolder(), fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }
  PrivateRuntime(const PrivateRuntime&) = delete;
  PrivateRuntime& operator=(const PrivateRuntime&) = delete;

  fs::path root() const { return root_; }
  fs::path SocketFolder() const { return root_ / ("qarn-" + std::to_string(geteuid())); }

  // Everything in the socket folder.
  std::vector<std::string> Sockets() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(SocketFolder(), ignored)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path root_;
  std::string old_;
  bool had_old_ = false;
};

// Blocks and start events of this process's namespace in /dev/shm.
inline std::vector<std::string> OwnSharedObjects() {
  const std::string ns = qarn::os::ObjectNamespace();
  const std::string block = "qarn." + ns + ".";
  const std::string event = "sem.qarn." + ns + ".";
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(block, 0) == 0 || name.rfind(event, 0) == 0) names.push_back(name);
  }
  return names;
}

// The pids whose parent is `parent` (read from /proc).
inline std::vector<int> ChildProcesses(int parent = getpid()) {
  std::vector<int> children;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "pid (comm) state ppid ...": comm may hold blanks, so start after ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) {
      children.push_back(std::stoi(name));
    }
  }
  return children;
}

// "<pid>-<start time>" of a running process as the kernel shows it, read
// by /bin/cat, a native program: an emulated process (this one, under
// qemu-user) is answered by the emulator when it reads its own /proc entry.
// The command name in parentheses may hold blanks and ')'.
inline std::string ProcessNamespace(int pid) {
  const std::string line = qarn::test::CommandOutput("cat /proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int number = 3; number <= 22; ++number) fields >> field;
  return std::to_string(pid) + "-" + field;
}

// The running servers of application `app`: every process whose environment
// holds the application's namespace. Servers are not the application's
// children (init reaps them), so their parent says nothing.
inline std::vector<int> ServersOf(int app = getpid()) {
  const std::string entry = "QARN_NS=" + ProcessNamespace(app);
  std::vector<int> servers;
  std::error_code ignored;
  for (const auto& process : fs::directory_iterator("/proc", ignored)) {
    const std::string name = process.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream environ(process.path() / "environ");
    for (std::string variable; std::getline(environ, variable, '\0');) {
      if (variable == entry) {
        servers.push_back(std::stoi(name));
        break;
      }
    }
  }
  return servers;
}

// True once no process of that pid exists any more, zombies included.
inline bool ProcessGone(int pid, int limit_ms = 20000) {
  return WaitUntil([pid] { return !fs::exists("/proc/" + std::to_string(pid)); }, limit_ms);
}

// The pid a fault_server wrote into its folder; 0 when there is none.
inline int ServerPid(const std::string& folder) {
  int pid = 0;
  std::ifstream(folder + "/server.pid") >> pid;
  return pid;
}

}  // namespace hardening
