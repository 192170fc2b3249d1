// Objects whose process died. A process removes its blocks, start events and
// sockets itself when it ends normally; one that is killed cannot, so the
// next process of the user removes them. Only names that say which process
// made them are judged: "<pid>-<start>" namespaces in /dev/shm, whose process
// is gone when that pid no longer runs or runs with another start time, and
// "pipe.<pid>" sockets, whose server is gone when that pid no longer runs.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/object_names.h"
#include "platform/posix/process_identity.h"

namespace qarn::os {
namespace {

constexpr char kSharedMemoryFolder[] = "/dev/shm";
constexpr char kSocketPrefix[] = "pipe.";

// The start time of each process asked about, so that a process that left
// many objects costs one look into /proc.
class ProcessTable {
 public:
  bool Runs(pid_t pid, uint64_t* start) {
    auto [entry, added] = known_.try_emplace(pid);
    if (added) entry->second.runs = posix::ProcessStartTime(pid, &entry->second.start);
    *start = entry->second.start;
    return entry->second.runs;
  }

 private:
  struct Known {
    bool runs = false;
    uint64_t start = 0;
  };
  std::unordered_map<pid_t, Known> known_;
};

class Sweep {
 public:
  Sweep(bool dry_run, StaleObjectVisitor visit, void* context)
      : dry_run_(dry_run), visit_(visit), context_(context), own_ns_(ObjectNamespace()) {}

  void SharedMemory() {
    ForEachEntry(kSharedMemoryFolder, [this](const char* name) { return IsStaleObject(name); });
  }

  void Sockets() {
    char folder[PATH_MAX];
    const int length = posix::FormatPipeDirectory(folder, sizeof folder);
    if (length < 0 || static_cast<size_t>(length) >= sizeof folder) return;
    // Only the user's own private folder: anything else is not ours to clean.
    struct stat status;
    if (lstat(folder, &status) != 0 || !S_ISDIR(status.st_mode) || !posix::IsPrivateObject(status)) return;
    ForEachEntry(folder, [this](const char* name) { return IsStaleSocket(name); });
  }

  size_t found() const { return found_; }

 private:
  // "[sem.]qarn.<pid>-<start>.<rest>" of a process that is gone.
  bool IsStaleObject(const char* name) {
    const char* ns = strncmp(name, "sem.", 4) == 0 ? name + 4 : name;
    if (strncmp(ns, "qarn.", 5) != 0) return false;
    ns += 5;
    pid_t pid = 0;
    uint64_t start = 0;
    const size_t length = posix::ParseProcessNamespace(ns, '.', &pid, &start);
    if (length == 0) return false;
    // Our own namespace is in use by us (or, in a server, by our client).
    if (strncmp(ns, own_ns_, length) == 0 && own_ns_[length] == '\0') return false;
    uint64_t actual = 0;
    return !processes_.Runs(pid, &actual) || actual != start;
  }

  // "pipe.<pid>" of a server that no longer runs.
  bool IsStaleSocket(const char* name) {
    if (strncmp(name, kSocketPrefix, sizeof kSocketPrefix - 1) != 0) return false;
    const char* digits = name + sizeof kSocketPrefix - 1;
    if (*digits < '1' || *digits > '9' || strlen(digits) > 10) return false;
    char* end = nullptr;
    const unsigned long pid = strtoul(digits, &end, 10);
    if (*end != '\0' || pid > INT32_MAX) return false;
    uint64_t start = 0;
    return !processes_.Runs(static_cast<pid_t>(pid), &start);
  }

  // Calls `stale` for each entry of `folder` and removes (or only reports)
  // those it picks that belong to this user.
  template <typename Stale>
  void ForEachEntry(const char* folder, Stale stale) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return;
    const int folder_fd = dirfd(directory);
    const uid_t user = geteuid();
    while (const dirent* entry = readdir(directory)) {
      if (!stale(entry->d_name)) continue;
      struct stat status;
      if (fstatat(folder_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_uid != user ||
          S_ISDIR(status.st_mode)) {
        continue;
      }
      if (!dry_run_ && unlinkat(folder_fd, entry->d_name, 0) != 0) continue;
      ++found_;
      char path[PATH_MAX];
      const int length = snprintf(path, sizeof path, "%s/%s", folder, entry->d_name);
      if (visit_ != nullptr && length > 0 && static_cast<size_t>(length) < sizeof path)
        visit_(path, context_);
    }
    closedir(directory);
  }

  const bool dry_run_;
  const StaleObjectVisitor visit_;
  void* const context_;
  const char* const own_ns_;
  ProcessTable processes_;
  size_t found_ = 0;
};

}  // namespace

size_t RemoveStaleObjects(bool dry_run, StaleObjectVisitor visit, void* context) {
  Sweep sweep(dry_run, visit, context);
  sweep.SharedMemory();
  sweep.Sockets();
  return sweep.found();
}

void RemoveStaleObjectsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      RemoveStaleObjects(false, nullptr, nullptr);
    } catch (...) {  // out of memory: the objects wait for the next process
    }
  });
}

}  // namespace qarn::os
