// The C++ pieces of Microsoft's static runtime library that a module needs
// and Debian has no copy of: the global operator new and delete, and the
// vftable that every RTTI type descriptor points at.
#include <new>

extern "C" __declspec(dllimport) void* __cdecl malloc(size_t);
extern "C" __declspec(dllimport) void __cdecl free(void*);

void* operator new(size_t size) {
  if (void* block = malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size != 0 ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size != 0 ? size : 1); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }

// Type descriptors are matched by name when an exception is caught; the
// vftable is only reached by type_info's own virtual destructor, which
// nothing calls for the compiler's static descriptors.
extern "C" void __cdecl qarn_type_info_destructor() {}
extern "C" const void* const qarn_type_info_vftable[1] __asm__("??_7type_info@@6B@") = {
    reinterpret_cast<const void*>(&qarn_type_info_destructor)};
