// Named shared mappings on Windows, backed by the paging file. The name is
// the block name itself: the server finds a block by the pointer value alone.

#include <windows.h>

#include <map>

#include "platform/platform.h"
#include "platform/win32/last_error.h"
#include "platform/win32/user_security.h"

namespace qarn::os {
namespace {

// The size each view was mapped with, by address: the system reports a view
// in whole pages, and a block's user may touch only the bytes it asked for.
SRWLOCK g_views_lock = SRWLOCK_INIT;
std::map<const void*, size_t>& ViewSizes() {
  static std::map<const void*, size_t> sizes;
  return sizes;
}

// The size of the whole mapping, for a view of all of it: the section's size
// (NtQuerySection; Wine keeps it in whole pages), else the view's pages.
size_t WholeMappingSize(HANDLE mapping, const void* view) {
  struct SectionBasicInformation {
    PVOID base;
    ULONG attributes;
    LARGE_INTEGER size;
  };
  using QuerySection = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  static const QuerySection query = reinterpret_cast<QuerySection>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySection")));
  SectionBasicInformation info{};
  if (query != nullptr && query(mapping, 0, &info, sizeof info, nullptr) == 0 && info.size.QuadPart > 0)
    return static_cast<size_t>(info.size.QuadPart);
  MEMORY_BASIC_INFORMATION region;
  return VirtualQuery(view, &region, sizeof region) == sizeof region ? region.RegionSize : 0;
}

}  // namespace

uint32_t MappingCreate(const char* block_name, uint32_t size, HANDLE* mapping) {
  if (mapping == nullptr) return kErrorInvalidParameter;
  // A new mapping is open to this user alone. An existing mapping of that
  // name is attached unchanged, whoever made it (ERROR_ALREADY_EXISTS is not
  // a failure): servers find blocks by these names.
  SECURITY_ATTRIBUTES* const security = CurrentUserOnly();
  *mapping = nullptr;
  if (security == nullptr) return kErrorAccessDenied;
  *mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0, size, block_name);
  return *mapping != nullptr ? kErrorSuccess : LastErrorCode();
}

uint32_t MappingOpen(const char* block_name, HANDLE* mapping) {
  if (mapping == nullptr) return kErrorInvalidParameter;
  *mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, block_name);
  return *mapping != nullptr ? kErrorSuccess : LastErrorCode();
}

uint32_t MappingMapView(HANDLE mapping, uint32_t size, void** view) {
  if (view == nullptr) return kErrorInvalidParameter;
  *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (*view == nullptr) return LastErrorCode();
  const size_t view_size = size != 0 ? size : WholeMappingSize(mapping, *view);
  AcquireSRWLockExclusive(&g_views_lock);
  ViewSizes()[*view] = view_size;
  ReleaseSRWLockExclusive(&g_views_lock);
  return kErrorSuccess;
}

void MappingUnmapView(HANDLE /*mapping*/, void* view) {
  if (view == nullptr) return;
  AcquireSRWLockExclusive(&g_views_lock);
  ViewSizes().erase(view);
  ReleaseSRWLockExclusive(&g_views_lock);
  UnmapViewOfFile(view);
}

size_t MappingViewSize(HANDLE /*mapping*/, const void* view) {
  AcquireSRWLockShared(&g_views_lock);
  const auto found = ViewSizes().find(view);
  const size_t size = found != ViewSizes().end() ? found->second : 0;
  ReleaseSRWLockShared(&g_views_lock);
  return size;
}

void MappingClose(HANDLE mapping) {
  if (!IsNoHandle(mapping)) CloseHandle(mapping);
}

}  // namespace qarn::os
