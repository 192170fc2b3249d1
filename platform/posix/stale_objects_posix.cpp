// Objects whose process died. A process removes its blocks, start events and
// sockets itself when it ends normally; one that is killed cannot, so the
// next process of the user removes them. Only names that say which process
// made them are judged: "<pid>-<start>" namespaces in /dev/shm, whose process
// is gone when that pid no longer runs or runs with another start time, and
// "pipe.<pid>" sockets, whose server is gone when that pid no longer runs.

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/object_names.h"
#include "platform/posix/process_identity.h"

namespace qarn::os {
namespace {

constexpr char kSharedMemoryFolder[] = "/dev/shm";
constexpr char kSocketPrefix[] = "pipe.";
// Up to this many processes are looked up one by one; beyond, the list of
// running processes is read once, since looking up a process that does not
// exist costs /proc several microseconds.
constexpr size_t kSingleLookups = 8;

bool IsDecimalPid(const char* name, pid_t* pid) {
  if (*name < '1' || *name > '9' || strlen(name) > 10) return false;
  char* end = nullptr;
  const unsigned long value = strtoul(name, &end, 10);
  if (*end != '\0' || value > INT32_MAX) return false;
  *pid = static_cast<pid_t>(value);
  return true;
}

// Whether each process asked about runs, and since when. Only asked about
// objects that were listed before the first question, so a process missing
// from the running list had ended before its objects were listed.
class ProcessTable {
 public:
  bool Runs(pid_t pid, uint64_t* start) {
    auto [entry, added] = known_.try_emplace(pid);
    if (added) {
      if (known_.size() > kSingleLookups && !listed_) ListRunning();
      const bool listed = running_.empty() || running_.count(pid) != 0;
      entry->second.runs = listed && posix::ProcessStartTime(pid, &entry->second.start);
    }
    *start = entry->second.start;
    return entry->second.runs;
  }

 private:
  void ListRunning() {
    listed_ = true;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return;
    pid_t pid = 0;
    while (const dirent* entry = readdir(proc)) {
      if (IsDecimalPid(entry->d_name, &pid)) running_.insert(pid);
    }
    closedir(proc);
  }

  struct Known {
    bool runs = false;
    uint64_t start = 0;
  };
  std::unordered_map<pid_t, Known> known_;
  std::unordered_set<pid_t> running_;  // empty: not listed (or no /proc)
  bool listed_ = false;
};

// An object whose name says which process made it.
struct Candidate {
  std::string name;
  pid_t pid;
  uint64_t start;  // kAnyStart for sockets, which carry no start time
};
constexpr uint64_t kAnyStart = UINT64_MAX;

class Sweep {
 public:
  Sweep(bool dry_run, StaleObjectVisitor visit, void* context)
      : dry_run_(dry_run), visit_(visit), context_(context), own_ns_(ObjectNamespace()) {}

  void SharedMemory() {
    Folder(kSharedMemoryFolder, [this](const char* name, Candidate* c) { return IsProcessObject(name, c); });
  }

  void Sockets() {
    char folder[PATH_MAX];
    const int length = posix::FormatPipeDirectory(folder, sizeof folder);
    if (length < 0 || static_cast<size_t>(length) >= sizeof folder) return;
    // Only the user's own private folder: anything else is not ours to clean.
    struct stat status;
    if (lstat(folder, &status) != 0 || !S_ISDIR(status.st_mode) || !posix::IsPrivateObject(status)) return;
    Folder(folder, [](const char* name, Candidate* c) { return IsServerSocket(name, c); });
  }

  size_t found() const { return found_; }

 private:
  // "[sem.]qarn.<pid>-<start>.<rest>", not of our own namespace, which is in
  // use by us (or, in a server, by our client).
  bool IsProcessObject(const char* name, Candidate* candidate) {
    const char* ns = strncmp(name, "sem.", 4) == 0 ? name + 4 : name;
    if (strncmp(ns, "qarn.", 5) != 0) return false;
    ns += 5;
    const size_t length = posix::ParseProcessNamespace(ns, '.', &candidate->pid, &candidate->start);
    return length != 0 && !(strncmp(ns, own_ns_, length) == 0 && own_ns_[length] == '\0');
  }

  // "pipe.<pid>" of a server.
  static bool IsServerSocket(const char* name, Candidate* candidate) {
    candidate->start = kAnyStart;
    return strncmp(name, kSocketPrefix, sizeof kSocketPrefix - 1) == 0 &&
           IsDecimalPid(name + sizeof kSocketPrefix - 1, &candidate->pid);
  }

  bool IsStale(const Candidate& candidate) {
    uint64_t actual = 0;
    if (!processes_.Runs(candidate.pid, &actual)) return true;
    return candidate.start != kAnyStart && actual != candidate.start;
  }

  // Lists the candidates of `folder` first and judges them after, then
  // removes (or only reports) the stale ones that belong to this user.
  template <typename Pick>
  void Folder(const char* folder, Pick pick) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return;
    std::vector<Candidate> candidates;
    Candidate candidate;
    while (const dirent* entry = readdir(directory)) {
      if (entry->d_type != DT_DIR && pick(entry->d_name, &candidate)) {
        candidate.name = entry->d_name;
        candidates.push_back(candidate);
      }
    }
    const int folder_fd = dirfd(directory);
    const bool owner_check_needed = dry_run_ || !OnlyOwnersMayRemove(folder_fd);
    for (const Candidate& stale : candidates) {
      if (!IsStale(stale)) continue;
      struct stat status;
      if (owner_check_needed && (fstatat(folder_fd, stale.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                                 status.st_uid != geteuid())) {
        continue;
      }
      if (!dry_run_ && unlinkat(folder_fd, stale.name.c_str(), 0) != 0) continue;
      ++found_;
      Report(folder, stale.name.c_str());
    }
    closedir(directory);
  }

  // In a sticky folder that is not ours (/dev/shm), or in our own private
  // one, only we can remove our entries, unless we are the superuser.
  static bool OnlyOwnersMayRemove(int folder_fd) {
    struct stat status;
    if (geteuid() == 0 || fstat(folder_fd, &status) != 0) return false;
    return (status.st_mode & S_ISVTX) != 0 || posix::IsPrivateObject(status);
  }

  void Report(const char* folder, const char* name) {
    if (visit_ == nullptr) return;
    char path[PATH_MAX];
    const int length = snprintf(path, sizeof path, "%s/%s", folder, name);
    if (length > 0 && static_cast<size_t>(length) < sizeof path) visit_(path, context_);
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
