// Shared mappings: POSIX shared memory objects "/qarn.<ns>.<block name>".
//
// The creating process removes a name when it releases its last creating
// handle for it, so nothing outlives the blocks in /dev/shm. Handles that
// attach to an object created by another process do not remove its name.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/object_names.h"

namespace qarn::os {
namespace {

using posix::FormatObjectName;
using posix::IsPrivateObject;

struct MappingRecord {
  MappingRecord* next_created = nullptr;  // chain of its bucket in g_created
  int fd = -1;                            // open until the view is mapped
  bool creator = false;                   // chained in g_created
  uint32_t object_size = 0;               // size of the object when it was opened
  size_t view_size = 0;                   // length that munmap needs
  char name[NAME_MAX];
};

MappingRecord* RecordOf(HANDLE mapping) { return static_cast<MappingRecord*>(mapping); }

// The creating handles of this process, chained per bucket of their name's
// hash: the number of creating handles of a name is the number of records
// of that name in its bucket. Blocks are made and released in quick
// succession, so this costs no allocation and no string copy per block. The
// mutex also makes "create or attach, then count" one step against a
// concurrent release.
constexpr size_t kCreatedBuckets = 64;
std::mutex g_created_mutex;
MappingRecord* g_created[kCreatedBuckets];

MappingRecord*& BucketOf(const char* name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (const char* c = name; *c != '\0'; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
  return g_created[hash % kCreatedBuckets];
}

bool IsCreatedName(const char* name) {
  for (const MappingRecord* r = BucketOf(name); r != nullptr; r = r->next_created) {
    if (strcmp(r->name, name) == 0) return true;
  }
  return false;
}

void AddCreated(MappingRecord* record) {
  MappingRecord*& bucket = BucketOf(record->name);
  record->next_created = bucket;
  bucket = record;
}

// Unchains `record`; true when it was the last creating handle of its name.
bool RemoveCreated(MappingRecord* record) {
  bool last = true;
  for (MappingRecord** link = &BucketOf(record->name); *link != nullptr;) {
    MappingRecord* r = *link;
    if (r == record) {
      *link = r->next_created;
      continue;
    }
    if (strcmp(r->name, record->name) == 0) last = false;
    link = &r->next_created;
  }
  record->next_created = nullptr;
  return last;
}

// How often creation retries when the object vanishes between the attempt
// to create it and the attempt to attach to it.
constexpr int kCreateAttempts = 4;

uint32_t CheckedSize(int fd, uint32_t* size) {
  struct stat status;
  if (fstat(fd, &status) != 0) return ErrorFromErrno(errno);
  if (!IsPrivateObject(status)) return kErrorAccessDenied;
  if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > UINT32_MAX) return kErrorInvalidParameter;
  *size = static_cast<uint32_t>(status.st_size);
  return kErrorSuccess;
}

uint32_t CloseWith(int fd, uint32_t error) {
  close(fd);
  return error;
}

// A new object gets its whole size allocated now, so that a full /dev/shm
// fails here and not with SIGBUS at the first write into the view.
uint32_t SizeNewObject(int fd, uint32_t size) {
  if (ftruncate(fd, size) != 0) return ErrorFromErrno(errno);
  const int error = posix_fallocate(fd, 0, size);
  return error == 0 ? kErrorSuccess : ErrorFromErrno(error);
}

uint32_t CreateOrAttach(MappingRecord* record, uint32_t size) {
  const char* name = record->name;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (const uint32_t error = SizeNewObject(fd, size)) {
        shm_unlink(name);
        return CloseWith(fd, error);
      }
      record->fd = fd;
      record->object_size = size;
      record->creator = true;
      return kErrorSuccess;
    }
    if (errno != EEXIST) return ErrorFromErrno(errno);
    // It exists: attach to it unchanged, if it is ours.
    fd = shm_open(name, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
      if (errno == ENOENT) continue;
      return ErrorFromErrno(errno);
    }
    if (const uint32_t error = CheckedSize(fd, &record->object_size)) return CloseWith(fd, error);
    record->fd = fd;
    record->creator = IsCreatedName(name);
    return kErrorSuccess;
  }
  return kErrorGenFailure;
}

uint32_t NewRecord(const char* block_name, MappingRecord** out) {
  if (block_name == nullptr) return kErrorInvalidParameter;
  auto* record = new (std::nothrow) MappingRecord;
  if (record == nullptr) return kErrorNotEnoughMemory;
  if (!FormatObjectName(record->name, sizeof record->name, "", block_name)) {
    delete record;
    return kErrorInvalidParameter;
  }
  *out = record;
  return kErrorSuccess;
}

size_t PageSize() {
  static const size_t page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page_size;
}

}  // namespace

uint32_t MappingCreate(const char* block_name, uint32_t size, HANDLE* mapping) {
  if (size == 0 || mapping == nullptr) return kErrorInvalidParameter;
  RemoveStaleObjectsOnce();
  MappingRecord* record = nullptr;
  if (const uint32_t error = NewRecord(block_name, &record)) return error;
  std::lock_guard<std::mutex> lock(g_created_mutex);
  if (const uint32_t error = CreateOrAttach(record, size)) {
    delete record;
    return error;
  }
  if (record->creator) AddCreated(record);
  *mapping = record;
  return kErrorSuccess;
}

uint32_t MappingOpen(const char* block_name, HANDLE* mapping) {
  if (mapping == nullptr) return kErrorInvalidParameter;
  MappingRecord* record = nullptr;
  if (const uint32_t error = NewRecord(block_name, &record)) return error;
  const int fd = shm_open(record->name, O_RDWR | O_CLOEXEC, 0);
  uint32_t error = fd < 0 ? ErrorFromErrno(errno) : CheckedSize(fd, &record->object_size);
  if (error != kErrorSuccess) {
    if (fd >= 0) close(fd);
    delete record;
    return error;
  }
  record->fd = fd;
  *mapping = record;
  return kErrorSuccess;
}

// As with a section on Windows, a view may reach into the rest of the
// object's last page, but not beyond it (that would raise SIGBUS).
uint32_t MappingMapView(HANDLE mapping, uint32_t size, void** view) {
  if (mapping == nullptr || view == nullptr) return kErrorInvalidParameter;
  MappingRecord* record = RecordOf(mapping);
  if (record->fd < 0) return kErrorInvalidParameter;  // one view per handle
  const size_t length = size == 0 ? record->object_size : size;
  const size_t page = PageSize();
  const size_t object_pages = (size_t{record->object_size} + page - 1) / page * page;
  if (length == 0) return kErrorInvalidParameter;
  if (length > object_pages) return kErrorAccessDenied;
  void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, record->fd, 0);
  if (address == MAP_FAILED) return ErrorFromErrno(errno);
  close(record->fd);
  record->fd = -1;
  record->view_size = length;
  *view = address;
  return kErrorSuccess;
}

void MappingUnmapView(HANDLE mapping, void* view) {
  if (mapping == nullptr || view == nullptr) return;
  MappingRecord* record = RecordOf(mapping);
  munmap(view, record->view_size);
  record->view_size = 0;
}

size_t MappingViewSize(HANDLE mapping, const void* view) {
  if (mapping == nullptr || view == nullptr) return 0;
  return RecordOf(mapping)->view_size;
}

void MappingClose(HANDLE mapping) {
  if (mapping == nullptr) return;
  MappingRecord* record = RecordOf(mapping);
  if (record->fd >= 0) close(record->fd);
  if (record->creator) {
    std::lock_guard<std::mutex> lock(g_created_mutex);
    if (RemoveCreated(record)) shm_unlink(record->name);
  }
  delete record;
}

}  // namespace qarn::os
