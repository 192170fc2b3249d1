// Another local process tries to get between an application and its server
// (tests/peers/intruder.cpp) and is refused each time; and everything the
// library creates is private to its user whatever the umask.
//
// Every test here runs as one user, so the owner checks are shown with
// objects given to another uid (possible when the tests run as root) or
// with modes that open them to others.
#include <gtest/gtest.h>
#include <semaphore.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "qarnplus/shrmem.h"
#include "tests/hardening_support.h"

namespace {

namespace fs = std::filesystem;
using hardening::Background;
using hardening::OwnSharedObjects;

constexpr uid_t kOtherUser = 65534;

std::string NameOf(const void* p) {
  return std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)));
}

// The value of `name` in a QARN_RET reply.
std::string ReplyValue(const std::string& reply, const std::string& name) {
  const std::string tail = "\" name=\"" + name + "\"/>";
  const size_t end = reply.find(tail);
  if (end == std::string::npos) return "";
  const size_t start = reply.rfind("val=\"", end);
  return reply.substr(start + 5, end - start - 5);
}

unsigned ModeOf(const fs::path& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? static_cast<unsigned>(status.st_mode & 07777) : 0;
}

class Intrusion : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OwnSharedObjects().empty()); }
  void TearDown() override {
    unsetenv("QARN_PEER_START");
    EXPECT_TRUE(hardening::WaitUntil([] { return hardening::ChildProcesses().empty(); }))
        << "a child process is left";
    EXPECT_EQ(std::vector<std::string>{}, OwnSharedObjects());
    EXPECT_EQ(std::vector<std::string>{}, runtime_.Sockets());
  }

  // A server folder whose qarn_svr is the scripted peer, started as `start`.
  void UseFaultServer(const char* start) {
    folder_.Install("qarn_svr");
    setenv("QARN_PEER_START", start, 1);
  }
  void* LoadFaultServer() { return f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), ""); }
  void Touch(const char* name) { std::ofstream(folder_.path() + "/" + name) << "1\n"; }

  hardening::PrivateRuntime runtime_;
  qarn::test::ServerFolder folder_;
};

// A second process connects to the server of a session that is in use: it
// is never answered, while the session's own client goes on being served.
TEST_F(Intrusion, ServerServesOnlyItsFirstClient) {
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, session);
  const char* status = nullptr;
  f_QARNDRV_Invoke(session, "status", &status, nullptr);
  ASSERT_NE(nullptr, status);
  const std::string pid = ReplyValue(status, "pid");
  ASSERT_FALSE(pid.empty()) << status;

  const std::string marker = folder_.path() + "/connected";
  Background intruder("intruder", "connect " + pid + " '" + marker + "'");
  ASSERT_TRUE(hardening::WaitUntil([&] { return fs::exists(marker); }));
  const int version = f_QARNSVR_GetVersion(session);
  EXPECT_GT(version, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(version, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);

  // Either the connection was refused at once, or it waited unserved until
  // the server ended.
  const std::string result = intruder.Finish();
  const bool refused = result.rfind("open 5 ", 0) == 0 || result.rfind("open 2 ", 0) == 0;
  const bool unserved = result.rfind("open 0 write 0 read ", 0) == 0 &&
                        result.find("read 0 ") == std::string::npos &&
                        result.find("length 0") != std::string::npos;
  EXPECT_TRUE(refused || unserved) << result;
  EXPECT_TRUE(hardening::ProcessGone(std::stoi(pid)));
}

// The server takes only a client of its own user: a process of another user
// that reaches its socket before the real client is refused, and the real
// client is served after it. The other user gets past the socket folder
// only through a path descriptor opened before it changed user.
TEST_F(Intrusion, ServerRefusesAClientOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  UseFaultServer("await-foreign");
  Background intruder("intruder", "foreign '" + folder_.path() + "' " + std::to_string(kOtherUser));
  const mode_t old_umask = umask(0);  // the server's socket itself must not stop the other user
  void* session = LoadFaultServer();
  umask(old_umask);
  ASSERT_NE(nullptr, session);
  EXPECT_EQ(1, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);
  EXPECT_EQ("foreign connect 0 read 109 length 0\n", intruder.Finish());
  EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path())));
}

// Another process listens on the socket path of our server before the
// server does: the client sees that the peer is not the process it started,
// refuses it at once and sends it nothing.
TEST_F(Intrusion, SquattedSocketCannotCaptureTheClient) {
  UseFaultServer("squatted-nopipe");
  Background intruder("intruder", "squat '" + folder_.path() + "'");
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(nullptr, LoadFaultServer());
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << "the refusal was retried";
  Touch("done");
  EXPECT_EQ("connections 1 bytes 0\n", intruder.Finish());
  EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path())));
}

// A socket squatted before the server starts listening is stale to the
// server: it takes the path over, and the squatter never hears of the client.
TEST_F(Intrusion, SquatterBeforeTheServerIsReplaced) {
  UseFaultServer("await-squatter");
  Background intruder("intruder", "squat '" + folder_.path() + "'");
  void* session = LoadFaultServer();
  ASSERT_NE(nullptr, session);
  EXPECT_EQ(1, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);
  Touch("done");
  EXPECT_EQ("connections 0 bytes 0\n", intruder.Finish());
  EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path())));
}

// Every start-event name of the next few seconds is taken by another
// process: the load fails without starting any server.
TEST_F(Intrusion, PlantedStartEventIsRefused) {
  const std::string ns = qarn::os::ObjectNamespace();
  bool tried = false;
  for (int attempt = 0; attempt < 3 && !tried; ++attempt) {
    unsigned first = 0, last = 0;
    const std::string planted = hardening::Run("intruder", "events " + ns + " 3000");
    ASSERT_EQ(2, sscanf(planted.c_str(), "events %u %u", &first, &last)) << planted;
    // Only meaningful while the tick is still inside the planted range.
    if (qarn::os::TickCount() + 500 < last) {
      tried = true;
      EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, ""));
      EXPECT_TRUE(hardening::ChildProcesses().empty()) << "a server was started";
    }
    for (unsigned tick = first; tick != last + 1; ++tick) {
      sem_unlink(("/qarn." + ns + ".ev." + std::to_string(tick)).c_str());
    }
  }
  if (!tried) GTEST_SKIP() << "the machine is too slow to plant the names ahead of the clock";
}

// A socket folder that is not a private directory of ours is refused by both
// the server and the client; the library never repairs it.
TEST_F(Intrusion, SocketFolderThatIsNotPrivateIsRefused) {
  const fs::path folder = runtime_.SocketFolder();
  const fs::path elsewhere = runtime_.root() / "elsewhere";
  fs::create_directory(elsewhere);
  fs::permissions(elsewhere, fs::perms::owner_all);
  const struct {
    const char* what;
    unsigned mode;
    uid_t owner;
    bool symlink;
  } cases[] = {
      {"open to all", 0755, 0, false},          {"open to the group", 0770, 0, false},
      {"searchable by others", 0701, 0, false}, {"another owner", 0700, kOtherUser, false},
      {"a symbolic link", 0700, 0, true},
  };
  for (const auto& c : cases) {
    fs::remove_all(folder);
    if (c.symlink) {
      fs::create_directory_symlink(elsewhere, folder);
    } else {
      fs::create_directory(folder);
      chmod(folder.c_str(), c.mode);
      if (c.owner != 0 && (geteuid() != 0 || chown(folder.c_str(), c.owner, static_cast<gid_t>(-1)) != 0)) {
        continue;  // only root can give the folder away
      }
    }
    const unsigned mode_before = ModeOf(folder);
    HANDLE pipe = nullptr;
    EXPECT_EQ(qarn::os::kErrorAccessDenied, qarn::os::PipeOpen(1, &pipe)) << c.what;
    HANDLE listener = nullptr;
    EXPECT_EQ(qarn::os::kErrorAccessDenied, qarn::os::PipeListen(qarn::os::CurrentProcessId(), &listener))
        << c.what;
    EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "")) << c.what;
    EXPECT_EQ(mode_before, ModeOf(folder)) << c.what;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << c.what;
  }
  fs::remove_all(folder);
}

// With a umask that would open everything, the socket folder is still made
// 0700 and the start event and every block 0600, all owned by us.
TEST_F(Intrusion, ObjectsArePrivateWhateverTheUmask) {
  const mode_t old_umask = umask(0);
  UseFaultServer("normal");
  void* session = LoadFaultServer();
  umask(old_umask);
  ASSERT_NE(nullptr, session);
  EXPECT_EQ(0700u, ModeOf(runtime_.SocketFolder()));
  unsigned event_mode = 0, event_owner = 1;
  std::ifstream(folder_.path() + "/event.mode") >> std::oct >> event_mode >> std::dec >> event_owner;
  EXPECT_EQ(0600u, event_mode);
  EXPECT_EQ(geteuid(), event_owner);

  umask(0);
  char message[40] = {0};
  char text[] = "t";
  SAPGetErrMes1 record{3, message, sizeof message, text};
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
    umask(old_umask);
    const std::vector<std::string> objects = OwnSharedObjects();
    EXPECT_EQ(3u, objects.size());
    for (const std::string& object : objects) {
      struct stat status {};
      ASSERT_EQ(0, stat(("/dev/shm/" + object).c_str(), &status));
      EXPECT_EQ(0600u, status.st_mode & 07777) << object;
      EXPECT_EQ(geteuid(), status.st_uid) << object;
    }
  }
  f_QARNSVR_FreeLibrary(session);
  EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path())));
}

}  // namespace
