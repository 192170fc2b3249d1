// The small pieces of the OS layer: errno translation, clocks, the
// executable path and the object namespace.

#include <errno.h>

#include "platform/posix/errno_map.h"
#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;

TEST(BasicsTest, ErrnoBecomesTheWindowsCode) {
  const std::pair<int, uint32_t> cases[] = {
      {ENOENT, 2},  {ECONNREFUSED, 2}, {EAGAIN, 231}, {EPIPE, 109},   {ECONNRESET, 109},
      {EACCES, 5},  {EPERM, 5},        {ENOMEM, 8},   {ENOSPC, 8},    {EEXIST, 183},
      {EINVAL, 87}, {ETIMEDOUT, 1460}, {EBADF, 31},   {EMSGSIZE, 31}, {0, 31},
  };
  for (const auto& [error_number, code] : cases) {
    EXPECT_EQ(qarn::os::ErrorFromErrno(error_number), code) << "errno " << error_number;
  }
}

TEST(BasicsTest, TickCountIsTheCounterInMilliseconds) {
  const int64_t before = os::PerformanceCounter();
  const uint32_t tick = os::TickCount();
  const int64_t after = os::PerformanceCounter();
  ASSERT_LE(before, after);
  // Unsigned differences: right also across the 32-bit wrap.
  EXPECT_LE(tick - static_cast<uint32_t>(before / 1000000),
            static_cast<uint32_t>((after - before) / 1000000 + 1));
}

TEST(BasicsTest, ExecutablePathIsThisProgramAndCutsToTheBuffer) {
  char path[4096];
  ASSERT_EQ(os::ExecutablePath(path, sizeof path), os::kErrorSuccess);
  EXPECT_EQ(fs::path(path), fs::canonical("/proc/self/exe"));
  char cut[6];
  ASSERT_EQ(os::ExecutablePath(cut, sizeof cut), os::kErrorSuccess);
  EXPECT_EQ(std::string(cut), std::string(path, 5));
  EXPECT_EQ(os::ExecutablePath(cut, 0), os::kErrorInvalidParameter);
  EXPECT_EQ(os::kPathSeparator, '/');
}

TEST(BasicsTest, NamespaceIsQarnNsOrTheProcessId) {
  {
    ScopedEnv env("QARN_NS", nullptr);
    EXPECT_EQ(os::ObjectNamespace(), std::to_string(os::CurrentProcessId()));
  }
  ScopedEnv env("QARN_NS", "");
  EXPECT_STREQ(os::ObjectNamespace(), "") << "a set but empty QARN_NS still names the namespace";
}

}  // namespace
