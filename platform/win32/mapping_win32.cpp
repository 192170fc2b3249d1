// Named shared mappings on Windows, backed by the paging file. The name is
// the block name itself: the server finds a block by the pointer value alone.

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/last_error.h"
#include "platform/win32/user_security.h"

namespace qarn::os {

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
  return *view != nullptr ? kErrorSuccess : LastErrorCode();
}

void MappingUnmapView(HANDLE /*mapping*/, void* view) {
  if (view != nullptr) UnmapViewOfFile(view);
}

// A view of a whole section covers its pages; the region of the view
// reports them.
size_t MappingViewSize(HANDLE /*mapping*/, const void* view) {
  MEMORY_BASIC_INFORMATION region;
  if (view == nullptr || VirtualQuery(view, &region, sizeof region) != sizeof region) return 0;
  return region.RegionSize;
}

void MappingClose(HANDLE mapping) {
  if (!IsNoHandle(mapping)) CloseHandle(mapping);
}

}  // namespace qarn::os
