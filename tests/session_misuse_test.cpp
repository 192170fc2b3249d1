// What careless or unlucky callers get: a handle used after its session
// ended, a call made from a callback on the session that waits, launch
// values that do not fit, and a server that stops answering.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "connection/launch.h"
#include "connection/session.h"
#include "peer_session.h"
#include "qarnplus/callback.h"
#include "qarnplus/driver.h"
#include "qarnplus/extensions.h"
#include "qarnplus/filters.h"
#include "qarnplus/server.h"

namespace {

namespace os = qarn::os;
using qarn::test::ReplyTo;
using qarn::test::ReplyValue;

int ServerPid(void* session) { return std::stoi(ReplyValue(ReplyTo(session, "status"), "pid")); }

// Every call with a handle that is no session fails as documented, sends
// nothing to anybody and leaves the caller's memory alone.
void ExpectRefused(void* h) {
  int untouched = 0;
  const char* reply = "untouched";
  LARGE_INTEGER times[4] = {{{7, 7}}, {{7, 7}}, {{7, 7}}, {{7, 7}}};
  f_QARNDRV_Init(h);
  f_QARNDRV_Clean(h);
  f_QARNDRV_Invoke(h, "status", &reply, times);
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(os::kErrorInvalidHandle, f_QARNSVR_GetLastError());
  EXPECT_EQ(7u, times[3].u.LowPart);
  EXPECT_EQ(QARNDRV_ERR_NONE, f_QARNDRV_GetLastError(h));
  EXPECT_EQ(nullptr, f_QARNDRV_FormatMessage(h, QARNDRV_ERR_NONE));
  EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(h, static_cast<DXML_TAG>(1)));
  EXPECT_EQ(DXML_TAG_INVALID, f_QARNDRV_GetTagIDByName(h, "seal"));
  f_QARNDRV_Free(h, &untouched);
  EXPECT_EQ(0, untouched);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(h));
  c_QARNPlus_FilterEntry entry(h, reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(0x1000));
  EXPECT_EQ(nullptr, entry.Create());
  f_QARNSVR_FreeLibrary(h);
}

// A freed handle never reaches a later session, however often the allocator
// hands the same memory out again: it is refused as NULL or a stray pointer is.
TEST(StaleHandle, NeverReachesALaterSession) {
  int stray = 0;
  ExpectRefused(nullptr);
  ExpectRefused(&stray);
  void* freed = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, freed);
  f_QARNSVR_FreeLibrary(freed);
  std::set<void*> handed_out{freed};
  for (int round = 0; round < 6; ++round) {
    void* live = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, live);
    EXPECT_TRUE(handed_out.insert(live).second) << "a handle came back";
    f_QARNDRV_Init(live);
    ExpectRefused(freed);  // its Clean would reset `live`'s driver, its FreeLibrary end `live`
    EXPECT_GT(f_QARNSVR_GetVersion(live), 0);
    EXPECT_EQ("initialised", ReplyValue(ReplyTo(live, "status"), "driver"));
    f_QARNSVR_FreeLibrary(live);
  }
}

struct Nested {
  void* own = nullptr;    // the session whose request runs the callback
  void* other = nullptr;  // another open session
  int own_version = 0;
  uint32_t own_error = 0;
  const char* own_reply = nullptr;
  const char* own_tag = "untouched";
  int other_version = 0;
} g_nested;

int WINAPI CallBackIntoTheSessions(unsigned char* password, unsigned int* length, const char*) {
  g_nested.own_version = f_QARNSVR_GetVersion(g_nested.own);
  g_nested.own_error = f_QARNSVR_GetLastError();
  f_QARNDRV_Invoke(g_nested.own, "status", &g_nested.own_reply, nullptr);
  g_nested.own_tag = f_QARNDRV_GetTagNameByID(g_nested.own, static_cast<DXML_TAG>(1));
  f_QARNDRV_Clean(g_nested.own);        // refused: the driver stays initialised
  f_QARNSVR_FreeLibrary(g_nested.own);  // refused: the session stays open
  g_nested.other_version = f_QARNSVR_GetVersion(g_nested.other);
  memcpy(password, "12345", 5);
  *length = 5;
  return 77;
}

// A callback's calls on the session that waits for its reply fail at once
// with ERROR_BUSY and leave the exchange in progress whole; calls on another
// session work.
TEST(NestedRequest, FailsAtOnceAndLeavesTheExchangeWhole) {
  g_nested.own = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  g_nested.other = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, g_nested.own);
  ASSERT_NE(nullptr, g_nested.other);
  f_QARNDRV_Init(g_nested.own);
  const std::string address = std::to_string(reinterpret_cast<uintptr_t>(&CallBackIntoTheSessions));
  const std::string reply = ReplyTo(g_nested.own, "callback passwd " + address + " doc");
  EXPECT_EQ(-1, g_nested.own_version);
  EXPECT_EQ(os::kErrorBusy, g_nested.own_error);
  EXPECT_EQ(qarn::test::kServiceOff, std::string(g_nested.own_reply ? g_nested.own_reply : "(null)"));
  EXPECT_EQ(nullptr, g_nested.own_tag);
  EXPECT_GT(g_nested.other_version, 0);
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"77\" name=\"result\"/>")) << reply;
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"12345\" name=\"password\"/>")) << reply;
  // Still in step: the next reply is the next request's.
  EXPECT_GT(f_QARNSVR_GetVersion(g_nested.own), 0);
  EXPECT_EQ("initialised", ReplyValue(ReplyTo(g_nested.own, "status"), "driver"));
  f_QARNSVR_FreeLibrary(g_nested.own);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(g_nested.own));
  f_QARNSVR_FreeLibrary(g_nested.other);
}

// Nothing is cut: values that do not fit fail the start with a code of their
// own before any server starts; a folder that ends in a backslash keeps its
// closing quote on the Windows command line.
TEST(LaunchLimits, ValuesThatDoNotFitFailTheStart) {
  qarn::test::ServerFolder folder;
  folder.Install("qarn_svr");
  const std::string long_dir = folder.path() + "/" + std::string(260 - folder.path().size(), 'd');
  const struct {
    std::string dir;
    std::string suffix;
    uint32_t error;
  } cases[] = {
      {long_dir, "", os::kErrorFilenameExcedRange},
      {folder.path() + "/" + std::string(250 - folder.path().size(), 'd'), "12",
       os::kErrorFilenameExcedRange},
      {folder.path(), std::string(32, '7'), os::kErrorInvalidParameter},
      {folder.path(), "1\" -x \"2", os::kErrorInvalidParameter},
      {folder.path() + "\"", "", os::kErrorInvalidParameter},
      {folder.path(), std::string(600, 'x'), os::kErrorFilenameExcedRange},  // the command line
  };
  for (const auto& c : cases) {
    qarn::LaunchValues values;
    EXPECT_EQ(c.error, qarn::BuildLaunchValues(0, c.dir.c_str(), c.suffix.c_str(), &values)) << c.suffix;
    EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, c.dir.c_str(), c.suffix.c_str()));
    EXPECT_EQ(c.error, f_QARNSVR_GetLastError()) << c.suffix;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() + "/server.pid")) << "a server was started";

  // What fits: the folder loses one trailing separator, the suffix's digits
  // (31 at most) name the program, and the command line quotes every value.
  const struct {
    std::string dir, suffix, server_dir, executable;
  } fits[] = {
      {"/srv/qarn/", "1.4", "/srv/qarn", "/srv/qarn/qarn_svr14"},
      {"/srv/qarn//", "beta", "/srv/qarn/", "/srv/qarn//qarn_svr"},
      {"/s", "v2-rc3", "/s", "/s/qarn_svr23"},
      {"/s", std::string(31, '3'), "/s", "/s/qarn_svr" + std::string(31, '3')},
  };
  qarn::LaunchValues values;
  for (const auto& c : fits) {
    ASSERT_EQ(0u, qarn::BuildLaunchValues(-7, c.dir.c_str(), c.suffix.c_str(), &values)) << c.suffix;
    EXPECT_EQ(c.server_dir, values.server_dir) << c.dir;
    EXPECT_EQ(c.executable, values.executable) << c.suffix;
    EXPECT_EQ(std::filesystem::canonical(QARN_TEST_BIN_DIR).string(), values.app_dir);
    ASSERT_NE('\0', values.event_name[0]);
    EXPECT_EQ(std::string(values.event_name).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ("\"" + c.executable + "\" -l -7 \"" + c.server_dir + "\" \"" + c.suffix + "\" \"" +
                  values.app_dir + "\" " + values.event_name,
              values.command_line)
        << c.suffix;
  }
  // A command line of exactly 647 characters still fits.
  ASSERT_EQ(0u, qarn::BuildLaunchValues(0, "/s", "", &values));
  const size_t room = qarn::kCommandLineRoom - 1 - strlen(values.command_line);
  ASSERT_EQ(0u, qarn::BuildLaunchValues(0, "/s", std::string(room, 'x').c_str(), &values));
  EXPECT_EQ(647u, strlen(values.command_line));
  EXPECT_EQ(os::kErrorFilenameExcedRange,
            qarn::BuildLaunchValues(0, "/s", std::string(room + 1, 'x').c_str(), &values));

  ASSERT_EQ(0u, qarn::BuildLaunchValues(5, "/srv\\\\", "a\\", &values));
  EXPECT_EQ("\"/srv\\\\/qarn_svr\" -l 5 \"/srv\\\\\\\\\" \"a\\\\\" \"" + std::string(values.app_dir) + "\" " +
                values.event_name,
            values.command_line);
}

// A stopped server holds nobody: FreeLibrary waits a bounded time for the
// answer to "Shutdown", and with the ReplyTimeout setting a request fails
// with ERROR_TIMEOUT and breaks the session, so that the late reply is never
// taken for the next request's.
TEST(StoppedServer, FreeLibraryAndTheReplyTimeoutAreBounded) {
  using Clock = std::chrono::steady_clock;
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, session);
  const int stopped = ServerPid(session);
  ASSERT_EQ(0, kill(stopped, SIGSTOP));
  const auto t0 = Clock::now();
  f_QARNSVR_FreeLibrary(session);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(60));
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
  kill(stopped, SIGKILL);

  qarn::test::ServerFolder config;
  std::ofstream(config.path() + "/qarn_svr.conf") << "ReplyTimeout=300\n";
  setenv("QARN_CONFIG", (config.path() + "/qarn_svr.conf").c_str(), 1);
  session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  unsetenv("QARN_CONFIG");
  ASSERT_NE(nullptr, session);
  const int version = f_QARNSVR_GetVersion(session);
  EXPECT_GT(version, 0);
  const int late = ServerPid(session);
  ASSERT_EQ(0, kill(late, SIGSTOP));
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
  EXPECT_EQ(os::kErrorTimeout, qarn::FindSession(session)->m_dwLastError);
  kill(late, SIGCONT);  // its late reply now waits in the pipe
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
  EXPECT_EQ(qarn::test::kServiceOff, ReplyTo(session, "status"));
  f_QARNSVR_FreeLibrary(session);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
}

}  // namespace
