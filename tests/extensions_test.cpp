// The library's exported extensions, called as an application calls them.
#include "qarnplus/extensions.h"

#include <gtest/gtest.h>
#include <string.h>

#include <thread>

#include "qarnplus/server.h"

namespace {

// The path a start uses: one trailing separator dropped, only the suffix's
// digits, and the full length even where the buffer cuts it.
TEST(Extensions, ServerPathIsThePathAStartUses) {
  char path[MAX_PATH];
  EXPECT_EQ(f_QARNSVR_FormatServerPath("/opt/q/", "a1-b2", path, sizeof path), 17);
  EXPECT_STREQ(path, "/opt/q/qarn_svr12");
  EXPECT_EQ(f_QARNSVR_FormatServerPath("/opt/q", nullptr, nullptr, 0), 15);
  EXPECT_EQ(f_QARNSVR_FormatServerPath("/opt/q", "", nullptr, 100), 15);
  char small[8];
  EXPECT_EQ(f_QARNSVR_FormatServerPath("/opt/q", "", small, sizeof small), 15);
  EXPECT_STREQ(small, "/opt/q/");
}

// Why a start failed is kept per thread, like Windows' last error, and a
// start that succeeds clears it.
TEST(Extensions, StartErrorIsPerThreadAndClearedBySuccess) {
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, "/nonexistent", ""));
  EXPECT_EQ(2u, f_QARNSVR_GetLastError());
  DWORD other_thread = 99;
  std::thread([&] { other_thread = f_QARNSVR_GetLastError(); }).join();
  EXPECT_EQ(0u, other_thread);
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, session);
  EXPECT_EQ(0u, f_QARNSVR_GetLastError());
  f_QARNSVR_FreeLibrary(session);
}

}  // namespace
