// Server sessions: launch values, starting and ending sessions with real
// server processes, and every way a start can fail.
#include "connection/session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "connection/launch.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"
#include "tests/hardening_support.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;

TEST(LaunchValues, FolderSuffixAndCommandLine) {
  const struct {
    const char* dir;
    const char* suffix;
    const char* server_dir;
    const char* executable;
  } cases[] = {
      {"/srv/qarn", "", "/srv/qarn", "/srv/qarn/qarn_svr"},
      {"/srv/qarn/", "1.4", "/srv/qarn", "/srv/qarn/qarn_svr14"},  // one separator is removed
      {"/srv/qarn//", "beta", "/srv/qarn/", "/srv/qarn//qarn_svr"},
      {"/s", "v2-rc3", "/s", "/s/qarn_svr23"},
      {"/s", "12345678901234567890123456789012345", "/s", "/s/qarn_svr1234567890123456789012345678901"},
  };
  for (const auto& c : cases) {
    qarn::LaunchValues v;
    ASSERT_TRUE(qarn::BuildLaunchValues(-7, c.dir, c.suffix, &v));
    EXPECT_STREQ(c.server_dir, v.server_dir) << c.dir;
    EXPECT_STREQ(c.executable, v.executable) << c.suffix;
    EXPECT_EQ(std::filesystem::canonical(QARN_TEST_BIN_DIR).string(), v.app_dir);
    ASSERT_NE('\0', v.event_name[0]);
    EXPECT_EQ(std::string(v.event_name).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ("\"" + std::string(c.executable) + "\" -l -7 \"" + c.server_dir + "\" \"" + c.suffix + "\" \"" +
                  v.app_dir + "\" " + v.event_name,
              v.command_line)
        << c.suffix;
  }
}

// The "Debug" setting: any non-zero number lifts the start time-out.
TEST(StartWait, DebugSettingLiftsTheLimit) {
  ServerFolder folder;
  const std::string config = folder.path() + "/qarn_svr.conf";
  const struct {
    const char* content;
    uint32_t expected;
  } cases[] = {{"Debug=0\n", qarn::kStartWaitMs},
               {"Debug=0x10\n", qarn::os::kWaitForever},
               {"Debug=abc\n", qarn::kStartWaitMs}};
  setenv("QARN_CONFIG", config.c_str(), 1);
  for (const auto& c : cases) {
    std::ofstream(config) << c.content;
    EXPECT_EQ(c.expected, qarn::StartWaitTimeout()) << c.content;
  }
  std::filesystem::remove(config);
  EXPECT_EQ(qarn::kStartWaitMs, qarn::StartWaitTimeout());
  unsetenv("QARN_CONFIG");
}

// The server gets the launch fields; the session asks it, ends it once with
// "Shutdown", and ignores handles it does not know.
TEST(Session, LaunchFieldsRequestsAndShutdown) {
  ServerFolder folder;
  folder.Install("qarn_svr14");
  PeerScript script("reply");
  void* h = f_QARNSVR_LoadLibrary(42, (folder.path() + "/").c_str(), "1.4");
  ASSERT_NE(nullptr, h);
  int stale = 0;
  for (void* unknown : {static_cast<void*>(nullptr), static_cast<void*>(&stale)}) {
    EXPECT_EQ(-1, f_QARNSVR_GetVersion(unknown));
    f_QARNSVR_FreeLibrary(unknown);
  }
  EXPECT_EQ(1, f_QARNSVR_GetVersion(h));  // the peer's first reply carries 1
  f_QARNSVR_FreeLibrary(h);
  f_QARNSVR_FreeLibrary(h);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(h));

  std::vector<std::string> argv = folder.PeerArgv();
  ASSERT_LE(7u, argv.size());
  EXPECT_EQ(argv[6].find_first_not_of("0123456789"), std::string::npos);  // the event
  argv.resize(6);
  EXPECT_EQ(argv, (std::vector<std::string>{folder.path() + "/qarn_svr14", "-l", "42", folder.path(), "1.4",
                                            std::filesystem::canonical(QARN_TEST_BIN_DIR).string()}));
  const auto received = folder.Received();
  ASSERT_EQ(2u, received.size());
  EXPECT_TRUE(received[0].IsRequest("GetVersion"));
  EXPECT_EQ(150u, received[0].bytes.size());
  EXPECT_TRUE(received[1].IsRequest("Shutdown"));
  EXPECT_EQ(146u, received[1].bytes.size());
  EXPECT_TRUE(qarn::msg::InterfaceIs(received[1].bytes.data(), "QARN_Server"));
}

std::string StatusOf(void* h) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h, "status", &reply, nullptr);
  return reply != nullptr ? reply : "";
}

// The value of `name` in a status reply of the stand-in server.
std::string StatusValue(const std::string& status, const std::string& name) {
  const std::string tail = "\" name=\"" + name + "\"/>";
  const size_t end = status.find(tail);
  if (end == std::string::npos) return "";
  const size_t start = status.rfind("val=\"", end);
  return status.substr(start + 5, end - start - 5);
}

TEST(Session, TwoSessionsHaveTheirOwnServers) {
  void* first = f_QARNSVR_LoadLibrary(1, QARN_SERVER_DIR, "");
  void* second = f_QARNSVR_LoadLibrary(2, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  const std::string a = StatusOf(first);
  const std::string b = StatusOf(second);
  EXPECT_EQ("1", StatusValue(a, "option")) << a;
  EXPECT_EQ("2", StatusValue(b, "option")) << b;
  const std::string pid_a = StatusValue(a, "pid");
  const std::string pid_b = StatusValue(b, "pid");
  ASSERT_FALSE(pid_a.empty());
  EXPECT_NE(pid_a, pid_b);
  // A server serves its first client only: another connection is refused at once.
  HANDLE intruder = nullptr;
  EXPECT_EQ(qarn::os::kErrorFileNotFound, qarn::os::PipeOpen(std::stoul(pid_a), &intruder));
  EXPECT_GT(f_QARNSVR_GetVersion(first), 0);
  f_QARNSVR_FreeLibrary(first);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(first));
  EXPECT_GT(f_QARNSVR_GetVersion(second), 0);
  f_QARNSVR_FreeLibrary(second);
  // An ended server leaves no zombie.
  EXPECT_TRUE(hardening::ProcessGone(std::stoi(pid_a)));
  EXPECT_TRUE(hardening::ProcessGone(std::stoi(pid_b)));
}

// Every failed start returns NULL and leaves no start event or block behind,
// also when the server ends without signalling while there is no time-out.
TEST(Session, FailedStarts) {
  const std::vector<std::string> before = hardening::OwnSharedObjects();
  ServerFolder folder;
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, folder.path().c_str(), "5"));
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, nullptr, nullptr));
  folder.Install("qarn_svr");
  const std::string config = folder.path() + "/qarn_svr.conf";
  std::ofstream(config) << "Debug=1\n";
  setenv("QARN_CONFIG", config.c_str(), 1);
  PeerScript script("reply", "nosignal");
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, folder.path().c_str(), ""));
  unsetenv("QARN_CONFIG");
  EXPECT_EQ(before, hardening::OwnSharedObjects());
}

}  // namespace
