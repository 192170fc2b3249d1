// Server sessions: launch values, starting and ending sessions with real
// server processes, and every way a start can fail.
#include "connection/session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "connection/launch.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;

std::string ExpectedCommandLine(const qarn::LaunchValues& v, int option, const char* suffix) {
  return "\"" + std::string(v.executable) + "\" -l " + std::to_string(option) + " \"" + v.server_dir +
         "\" \"" + suffix + "\" \"" + v.app_dir + "\" " + v.event_name;
}

TEST(LaunchValues, TrailingSeparatorIsRemovedOnce) {
  qarn::LaunchValues plain, one, two;
  ASSERT_TRUE(qarn::BuildLaunchValues(1, "/srv/qarn", "", &plain));
  ASSERT_TRUE(qarn::BuildLaunchValues(1, "/srv/qarn/", "", &one));
  ASSERT_TRUE(qarn::BuildLaunchValues(1, "/srv/qarn//", "", &two));
  EXPECT_STREQ("/srv/qarn", plain.server_dir);
  EXPECT_STREQ(plain.server_dir, one.server_dir);
  EXPECT_STREQ(plain.executable, one.executable);
  EXPECT_STREQ("/srv/qarn/", two.server_dir);
  EXPECT_STREQ("/srv/qarn/qarn_svr", plain.executable);
}

TEST(LaunchValues, SuffixSelectsByDigitsAndTravelsWhole) {
  const struct {
    const char* suffix;
    const char* executable;
  } cases[] = {
      {"1.4", "/s/qarn_svr14"},
      {"", "/s/qarn_svr"},
      {"beta", "/s/qarn_svr"},
      {"v2-rc3", "/s/qarn_svr23"},
      {"12345678901234567890123456789012345", "/s/qarn_svr1234567890123456789012345678901"},
  };
  for (const auto& c : cases) {
    qarn::LaunchValues v;
    ASSERT_TRUE(qarn::BuildLaunchValues(-7, "/s", c.suffix, &v));
    EXPECT_STREQ(c.executable, v.executable) << c.suffix;
    EXPECT_EQ(ExpectedCommandLine(v, -7, c.suffix), v.command_line) << c.suffix;
  }
}

TEST(LaunchValues, ApplicationFolderAndEventName) {
  qarn::LaunchValues v;
  ASSERT_TRUE(qarn::BuildLaunchValues(0, "/s", "", &v));
  EXPECT_EQ(std::filesystem::canonical(QARN_TEST_BIN_DIR).string(), v.app_dir);
  ASSERT_NE('\0', v.event_name[0]);
  EXPECT_EQ(std::string(v.event_name).find_first_not_of("0123456789"), std::string::npos);
}

// The "Debug" setting: any non-zero number lifts the start time-out.
TEST(StartWait, DebugSettingLiftsTheLimit) {
  ServerFolder folder;
  const std::string config = folder.path() + "/qarn_svr.conf";
  const struct {
    const char* content;
    uint32_t expected;
  } cases[] = {
      {"Debug=0\n", qarn::kStartWaitMs},        {"Debug=1\n", qarn::os::kWaitForever},
      {"Debug=0x10\n", qarn::os::kWaitForever}, {"Debug=abc\n", qarn::kStartWaitMs},
      {"Other=1\n", qarn::kStartWaitMs},
  };
  setenv("QARN_CONFIG", config.c_str(), 1);
  for (const auto& c : cases) {
    std::ofstream(config) << c.content;
    EXPECT_EQ(c.expected, qarn::StartWaitTimeout()) << c.content;
  }
  std::filesystem::remove(config);
  EXPECT_EQ(qarn::kStartWaitMs, qarn::StartWaitTimeout());
  unsetenv("QARN_CONFIG");
}

TEST(Session, ServerReceivesTheLaunchFieldsAndShutdown) {
  ServerFolder folder;
  folder.Install("qarn_svr14");
  PeerScript script("reply");
  void* h = f_QARNSVR_LoadLibrary(42, (folder.path() + "/").c_str(), "1.4");
  ASSERT_NE(nullptr, h);
  f_QARNSVR_FreeLibrary(h);

  const std::vector<std::string> argv = folder.PeerArgv();
  ASSERT_EQ(7u, argv.size());
  EXPECT_EQ(folder.path() + "/qarn_svr14", argv[0]);
  EXPECT_EQ("-l", argv[1]);
  EXPECT_EQ("42", argv[2]);
  EXPECT_EQ(folder.path(), argv[3]);
  EXPECT_EQ("1.4", argv[4]);
  EXPECT_EQ(std::filesystem::canonical(QARN_TEST_BIN_DIR).string(), argv[5]);
  EXPECT_EQ(argv[6].find_first_not_of("0123456789"), std::string::npos);

  const auto received = folder.Received();
  ASSERT_EQ(1u, received.size());
  EXPECT_TRUE(received[0].IsRequest("Shutdown"));
  EXPECT_EQ(146u, received[0].bytes.size());
  EXPECT_TRUE(qarn::msg::InterfaceIs(received[0].bytes.data(), "QARN_Server"));
}

TEST(Session, SuffixWithoutDigitsTravelsWhole) {
  ServerFolder folder;
  folder.Install("qarn_svr");
  PeerScript script("reply");
  void* h = f_QARNSVR_LoadLibrary(0, folder.path().c_str(), "beta");
  ASSERT_NE(nullptr, h);
  f_QARNSVR_FreeLibrary(h);
  const auto argv = folder.PeerArgv();
  ASSERT_EQ(7u, argv.size());
  EXPECT_EQ("beta", argv[4]);
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

// A server that has ended leaves no zombie: its /proc entry goes away.
bool ProcessVanishes(const std::string& pid) {
  for (int waited = 0; waited < 10000; waited += 20) {
    if (!std::filesystem::exists("/proc/" + pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
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
  EXPECT_GT(f_QARNSVR_GetVersion(first), 0);
  f_QARNSVR_FreeLibrary(first);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(first));
  EXPECT_GT(f_QARNSVR_GetVersion(second), 0);
  f_QARNSVR_FreeLibrary(second);
  EXPECT_TRUE(ProcessVanishes(pid_a));
  EXPECT_TRUE(ProcessVanishes(pid_b));
}

TEST(Session, FreeTwiceAndUnknownHandlesSendNothing) {
  ServerFolder folder;
  folder.Install("qarn_svr");
  PeerScript script("reply");
  void* h = f_QARNSVR_LoadLibrary(0, folder.path().c_str(), "");
  ASSERT_NE(nullptr, h);
  int stale = 0;
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(nullptr));
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(&stale));
  f_QARNSVR_FreeLibrary(nullptr);
  f_QARNSVR_FreeLibrary(&stale);
  EXPECT_EQ(1, f_QARNSVR_GetVersion(h));  // the peer's first reply carries 1
  f_QARNSVR_FreeLibrary(h);
  f_QARNSVR_FreeLibrary(h);
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(h));
  const auto received = folder.Received();
  ASSERT_EQ(2u, received.size());
  EXPECT_TRUE(received[0].IsRequest("GetVersion"));
  EXPECT_EQ(150u, received[0].bytes.size());
  EXPECT_TRUE(received[1].IsRequest("Shutdown"));
}

// Every failed start returns NULL and leaves no start event or block behind.
class FailedStart : public ::testing::Test {
 protected:
  void SetUp() override { before_ = qarn::test::SharedObjects(); }
  void TearDown() override { EXPECT_EQ(before_, qarn::test::SharedObjects()); }
  std::vector<std::string> before_;
};

TEST_F(FailedStart, MissingExecutable) {
  ServerFolder folder;
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, folder.path().c_str(), "5"));
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, nullptr, nullptr));
}

TEST_F(FailedStart, ServerExitsWithoutSignallingEvenWithoutLimit) {
  ServerFolder folder;
  folder.Install("qarn_svr");
  const std::string config = folder.path() + "/qarn_svr.conf";
  std::ofstream(config) << "Debug=1\n";
  setenv("QARN_CONFIG", config.c_str(), 1);
  PeerScript script("reply", "nosignal");
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, folder.path().c_str(), ""));
  unsetenv("QARN_CONFIG");
}

TEST_F(FailedStart, PipeThatNeverAppearsFailsTheConnect) {
  ServerFolder folder;
  folder.Install("qarn_svr");
  PeerScript script("reply", "nopipe", "1500");
  DWORD pid = 0;
  HANDLE process = INVALID_HANDLE_VALUE;
  ASSERT_EQ(1, qarn::LaunchServer(0, folder.path().c_str(), "", &pid, &process));
  unsigned long thrown = 0;
  try {
    c_QARNPlus_Session session(pid, process, 200);
    ADD_FAILURE() << "connected to a server that offers no pipe";
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(qarn::os::kErrorFileNotFound, thrown);
  EXPECT_TRUE(qarn::test::WaitForExit(process));
  qarn::os::ProcessClose(process);
}

}  // namespace
