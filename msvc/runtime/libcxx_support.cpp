// The out-of-line members of libc++ that the library reaches. libc++ is
// used header-only in the Microsoft-ABI build (Debian has no Windows binary
// of it); these few come from its compiled part elsewhere.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

namespace std {

const nothrow_t nothrow{};

exception::~exception() noexcept = default;
const char* exception::what() const noexcept { return "std::exception"; }

bad_alloc::bad_alloc() noexcept = default;
bad_alloc::~bad_alloc() noexcept = default;
const char* bad_alloc::what() const noexcept { return "std::bad_alloc"; }

bad_array_new_length::bad_array_new_length() noexcept = default;
bad_array_new_length::~bad_array_new_length() noexcept = default;
const char* bad_array_new_length::what() const noexcept { return "bad_array_new_length"; }

// The message is an owned copy (no sharing between copies: these are only
// thrown for impossible sizes).
namespace {
const char* CopyOf(const char* text) {
  const size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) return "";
  std::memcpy(copy, text, size);
  return copy;
}
void Release(const char* text) {
  if (*text != '\0') std::free(const_cast<char*>(text));
}
}  // namespace

__libcpp_refstring::__libcpp_refstring(const char* message) : __imp_(CopyOf(message)) {}
__libcpp_refstring::__libcpp_refstring(const __libcpp_refstring& other) noexcept
    : __imp_(CopyOf(other.__imp_)) {}
__libcpp_refstring& __libcpp_refstring::operator=(const __libcpp_refstring& other) noexcept {
  if (this != &other) {
    Release(__imp_);
    __imp_ = CopyOf(other.__imp_);
  }
  return *this;
}
__libcpp_refstring::~__libcpp_refstring() { Release(__imp_); }

logic_error::logic_error(const char* message) : __imp_(message) {}
logic_error::logic_error(const logic_error& other) noexcept : exception(other), __imp_(other.__imp_) {}
logic_error::~logic_error() noexcept = default;
const char* logic_error::what() const noexcept { return __imp_.c_str(); }
length_error::~length_error() noexcept = default;

inline namespace __1 {
namespace chrono {

steady_clock::time_point steady_clock::now() noexcept {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so that the product cannot overflow.
  const long long seconds = counter.QuadPart / frequency.QuadPart;
  const long long rest = counter.QuadPart % frequency.QuadPart;
  return time_point(nanoseconds(seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart));
}

}  // namespace chrono

namespace this_thread {

void sleep_for(const chrono::nanoseconds& duration) {
  if (duration <= chrono::nanoseconds::zero()) return;
  // Rounded up: never shorter than asked.
  const long long milliseconds = (duration.count() + 999999) / 1000000;
  Sleep(milliseconds >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds));
}

}  // namespace this_thread
}  // namespace __1
}  // namespace std
