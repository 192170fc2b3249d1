#pragma once
// Helpers of the OS-layer tests: a private work folder, the peer program,
// and checks that nothing was left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/platform_peer_modes.h"

namespace platform_test {

namespace fs = std::filesystem;
namespace os = qarn::os;

constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr auto kPatience = std::chrono::seconds(20);

// A name that no other test (or other run) uses at the same time.
inline std::string UniqueName(const char* stem) {
  static std::atomic<unsigned> counter{0};
  return std::string(stem) + std::to_string(os::CurrentProcessId()) + "_" + std::to_string(++counter);
}

class WorkFolder {
 public:
  WorkFolder() : path_(fs::temp_directory_path() / UniqueName("qarn_platform_test_")) {
    fs::create_directory(path_);
  }
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  std::string path() const { return path_.string(); }
  std::string file(const char* name) const { return (path_ / name).string(); }
  void Go() const { std::ofstream(file("go")).put('1'); }

 private:
  fs::path path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Sets (or with nullptr removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_old_ = true;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_old_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_old_ = false;
};

// A started platform_peer; the destructor waits (bounded) for it to end and
// closes its handle, so no test leaves a process behind.
class Peer {
 public:
  Peer(platform_peer::Mode mode, const WorkFolder& folder, const std::string& suffix,
       const std::string& event, const char* app_dir = "")
      : folder_(folder) {
    const std::string executable = std::string(QARN_TEST_BIN_DIR) + "/platform_peer";
    const std::string folder_path = folder.path();
    const os::ServerLaunch launch{executable.c_str(), mode, folder_path.c_str(), suffix.c_str(), app_dir,
                                  event.c_str(),      ""};
    start_error_ = os::ProcessStart(launch, &process_, &pid_);
  }
  // A peer that still waits is let go; one that does not end is killed.
  ~Peer() {
    if (process_ == nullptr) return;
    folder_.Go();
    if (!WaitForExit()) {
      ADD_FAILURE() << "platform_peer " << pid_ << " did not end";
      kill(static_cast<pid_t>(pid_), SIGKILL);
    }
    os::ProcessClose(process_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint32_t start_error() const { return start_error_; }
  HANDLE process() const { return process_; }
  uint32_t pid() const { return pid_; }

  bool WaitForExit() const {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!os::ProcessHasExited(process_)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(kPoll);
    }
    return true;
  }

  // Hands the handle over to the caller, who closes it.
  HANDLE Release() {
    HANDLE process = process_;
    process_ = nullptr;
    return process;
  }

 private:
  const WorkFolder& folder_;
  HANDLE process_ = nullptr;
  uint32_t pid_ = 0;
  uint32_t start_error_ = 0;
};

// Start event that the peer signals; closed (and so removed) at scope end.
class StartEvent {
 public:
  StartEvent() : name_(UniqueName("ev")) { error_ = os::EventCreate(name_.c_str(), &event_); }
  ~StartEvent() {
    if (event_ != nullptr) os::EventClose(event_);
  }
  StartEvent(const StartEvent&) = delete;
  StartEvent& operator=(const StartEvent&) = delete;

  uint32_t error() const { return error_; }
  const std::string& name() const { return name_; }
  HANDLE handle() const { return event_; }

 private:
  std::string name_;
  HANDLE event_ = nullptr;
  uint32_t error_ = 0;
};

// Entries of /dev/shm (blocks and semaphores) in the namespace `ns`.
inline std::vector<std::string> SharedObjectsOf(const std::string& ns) {
  const std::string block_prefix = "qarn." + ns + ".";
  const std::string semaphore_prefix = "sem.qarn." + ns + ".";
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/dev/shm")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(block_prefix, 0) == 0 || name.rfind(semaphore_prefix, 0) == 0) found.push_back(name);
  }
  return found;
}

}  // namespace platform_test
