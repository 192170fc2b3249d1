#pragma once
// A minimal check harness for the Win32 OS-layer tests: every CHECK counts,
// a failed one prints where and what, and main() prints the totals.

#include <stdio.h>

namespace wine_test {

inline int g_passed = 0;
inline int g_failed = 0;

inline bool Record(bool ok, const char* file, int line, const char* what) {
  ++(ok ? g_passed : g_failed);
  if (!ok) fprintf(stderr, "FAILED %s:%d: %s\n", file, line, what);
  return ok;
}

inline bool RecordEqual(unsigned long long actual, unsigned long long expected, const char* file, int line,
                        const char* what) {
  const bool ok = Record(actual == expected, file, line, what);
  if (!ok) fprintf(stderr, "  actual 0x%llx, expected 0x%llx\n", actual, expected);
  return ok;
}

}  // namespace wine_test

#define CHECK(condition) ::wine_test::Record((condition), __FILE__, __LINE__, #condition)
#define CHECK_EQ(actual, expected)                                                        \
  ::wine_test::RecordEqual(static_cast<unsigned long long>(actual),                       \
                           static_cast<unsigned long long>(expected), __FILE__, __LINE__, \
                           #actual " == " #expected)
