// Servers that fail at each step of a session, and others that get between
// an application and its server; nothing of either may be left afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <semaphore.h>
#include <stdint.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "connection/launch.h"
#include "connection/session.h"
#include "peer_session.h"
#include "platform/posix/handles.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "tests/hardening_support.h"

namespace {

namespace fs = std::filesystem;
using hardening::OwnSharedObjects;

constexpr uid_t kOtherUser = 65534;

std::string NameOf(const void* p) {
  return std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)));
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Install("qarn_svr");
    ASSERT_TRUE(OwnSharedObjects().empty());
  }

  void TearDown() override {
    const int pid = hardening::ServerPid(folder_.path());
    if (pid != 0) EXPECT_TRUE(hardening::ProcessGone(pid)) << "server " << pid << " outlived the test";
    EXPECT_TRUE(hardening::WaitUntil([] { return hardening::ServersOf().empty(); })) << "a server is left";
    EXPECT_TRUE(hardening::ChildProcesses().empty()) << "a child process is left";
    EXPECT_EQ(std::vector<std::string>{}, OwnSharedObjects());
    EXPECT_EQ(std::vector<std::string>{}, runtime_.Sockets());
  }

  void* Load(const char* start = "normal", const char* script = "reply") {
    qarn::test::PeerScript peer(script, start);
    return f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), "");
  }

  // f_QARNDRV_Invoke that must fail: the Service Off text, counters untouched.
  void ExpectServiceOff(void* session, const std::string& request) {
    LARGE_INTEGER times[4];
    for (int i = 0; i < 4; ++i) times[i].QuadPart = 0x1111 * (i + 1);
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session, request.c_str(), &reply, times);
    ASSERT_NE(nullptr, reply) << request;
    EXPECT_STREQ(qarn::test::kServiceOff, reply) << request;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0x1111 * (i + 1), times[i].QuadPart) << request;
  }

  // Once the server is gone, every later call on the session fails with its
  // own failure value, and ending the session still releases everything.
  void ExpectDeadSessionAndFree(void* session) {
    EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
    ExpectServiceOff(session, "echo after");
    EXPECT_EQ(nullptr, f_QARNDRV_FormatMessage(session, static_cast<QARNDRV_ERR>(1)));
    EXPECT_EQ(DXML_TAG_INVALID, f_QARNDRV_GetTagIDByName(session, "document"));
    EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(5)));
    f_QARNSVR_FreeLibrary(session);
    EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
  }

  hardening::PrivateRuntime runtime_;
  qarn::test::ServerFolder folder_;
};

// A start fails when the server is missing or ends before it signals (seen
// also without a time-out); one that ends after signalling, before it offers
// the pipe, stops the connect's retries at once with "file not found".
TEST_F(FaultInjection, ServerEndsDuringTheStart) {
  // A pipe offered after the signal is waited for: the connect retries.
  void* late = Load("listen-late");
  EXPECT_NE(nullptr, late) << "the connect gave up on a pipe that came 300 ms after the signal";
  f_QARNSVR_FreeLibrary(late);

  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), "5"));
  EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, nullptr, nullptr));
  const std::string config = folder_.path() + "/qarn_svr.conf";
  std::ofstream(config) << "Debug=1\n";
  setenv("QARN_CONFIG", config.c_str(), 1);
  for (const char* start : {"nosignal", "exit-after-signal"}) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, Load(start)) << start;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << start;
    EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path()))) << start;
  }
  qarn::test::PeerScript peer("reply", "exit-after-signal");
  DWORD pid = 0;
  HANDLE process = INVALID_HANDLE_VALUE;
  ASSERT_EQ(0u, qarn::LaunchServer(0, folder_.path().c_str(), "", &pid, &process));
  unsigned long thrown = 0;
  try {
    c_QARNPlus_Session session(pid, process, 300);
  } catch (unsigned long code) {
    thrown = code;
  }
  EXPECT_EQ(qarn::os::kErrorFileNotFound, thrown);
  qarn::os::ProcessClose(process);
  EXPECT_TRUE(hardening::ProcessGone(static_cast<int>(pid)));
  unsetenv("QARN_CONFIG");
}

// The record of a document call with two buffers, with known contents.
struct ErrorCall {
  ErrorCall() {
    memset(message, 0x33, sizeof message);
    record = SAPGetErrMes1{3, message, sizeof message, text};
  }
  // The buffers, the record's values, and whether it still points at its own.
  std::string Seen() const {
    const bool own = record.pMessage == message && record.pszText == text;
    return std::string(message, sizeof message) + text + std::to_string(record.nMessageLen) +
           std::to_string(record.nLead) + (own ? " own" : " foreign");
  }
  char message[40];
  char text[4] = "abc";
  SAPGetErrMes1 record{};
};

// The server dies, or closes the pipe and lives on, under a waiting document
// call: the call fails with a broken pipe and leaves the application's
// buffers as they were, and every later call fails too.
TEST_F(FaultInjection, ServerGoneUnderAWaitingRequest) {
  // "closedie": the client sees the pipe end before the server is gone; its
  // socket must still go with the session.
  for (const char* script : {"reply,die", "reply,close", "reply,closedie"}) {
    void* session = Load("normal", script);
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(1, f_QARNSVR_GetVersion(session));
    ErrorCall untouched;
    {
      c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&untouched.record), 8);
      ExpectServiceOff(session, "call " + NameOf(&untouched.record) + " 8");
    }
    EXPECT_EQ(ErrorCall().Seen(), untouched.Seen()) << script;
    EXPECT_EQ(qarn::os::kErrorBrokenPipe, qarn::FindSession(session)->m_dwLastError) << script;
    ExpectDeadSessionAndFree(session);
  }
}

// Results reach the application when its package is released, from its own
// blocks: a server that wrote and then ended delivers all the same.
TEST_F(FaultInjection, ServerGoneDuringADocumentCall) {
  ErrorCall replied, ended;
  folder_.Install("qarn_svr2", QARN_SERVER_DIR "/qarn_svr");
  void* session = f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), "2");
  ASSERT_NE(nullptr, session);
  f_QARNDRV_Init(session);
  for (ErrorCall* call : {&replied, &ended}) {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&call->record), 8);
    EXPECT_NE(std::string::npos,
              qarn::test::ReplyTo(session, "call " + NameOf(&call->record) + " 8").find("SUCCESS"));
    if (call == &ended) f_QARNSVR_FreeLibrary(session);  // the server ends before the release
  }
  EXPECT_NE(ErrorCall().Seen(), replied.Seen()) << "the call did nothing";
  EXPECT_EQ(replied.Seen(), ended.Seen());
}

// Exit 0 when "not enough memory" was thrown and nothing was left behind or
// changed; 77 without a private mount namespace.
int PackageInFullShm() {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=20k") != 0) {
    return 77;
  }
  // 16 KiB fit, the small text block too, and then the record block does not.
  static char message[16384];
  char text[] = "abc";
  memset(message, 0x33, sizeof message);
  SAPGetErrMes1 record{3, message, sizeof message, text};
  unsigned long thrown = 0;
  try {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
  } catch (unsigned long code) {
    thrown = code;
  }
  if (thrown != qarn::os::kErrorNotEnoughMemory) return 10;
  const bool unchanged = std::count(message, message + sizeof message, 0x33) == sizeof message;
  return hardening::OwnSharedObjects().empty() && unchanged && strcmp(text, "abc") == 0 ? 0 : 11;
}

TEST(SharedMemoryFull, PackageThatDoesNotFitThrowsAndReleasesWhatItMade) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(PackageInFullShm());
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(0, WEXITSTATUS(status));
}

// As another user (through a path descriptor opened before, as the socket
// folder is closed to that user): connects, sends a request, lets the server
// go on and reads. Exit 0 when the server hung up on it unanswered.
int ConnectAsAnotherUser(const std::string& folder) {
  if (!hardening::WaitUntil([&] { return fs::exists(folder + "/listening"); })) return 10;
  int server_pid = 0;
  std::ifstream(folder + "/server.pid") >> server_pid;
  char socket_path[108];
  qarn::os::PipeName(static_cast<uint32_t>(server_pid), socket_path, sizeof socket_path);
  const int path_fd = open(socket_path, O_PATH | O_CLOEXEC);
  const int marker = open((folder + "/intruded").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (path_fd < 0 || marker < 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) return 11;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d", path_fd);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 12;
  char message[qarn::msg::kSlotSize] = {};
  qarn::msg::Begin(message, 150, qarn::msg::kServerInterface, "GetVersion");
  const HANDLE pipe = qarn::os::posix::HandleFromFd(fd);
  if (qarn::os::PipeWrite(pipe, message, 150) != 0 || write(marker, "1", 1) != 1) return 13;
  uint32_t length = 0;
  return qarn::os::PipeRead(pipe, message, sizeof message, &length) == qarn::os::kErrorBrokenPipe ? 0 : 14;
}

// A client of another user that reaches the socket first is refused, and the
// real client is served after it.
TEST_F(FaultInjection, ServerRefusesAClientOfAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(ConnectAsAnotherUser(folder_.path()));
  const mode_t old_umask = umask(0);  // the server's socket itself must not stop the other user
  void* session = Load("await-foreign");
  umask(old_umask);
  EXPECT_NE(nullptr, session);
  EXPECT_EQ(1, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Start-event names taken by someone else (another start in the same
// millisecond, here planted) are skipped, up to a limit: past it the load
// fails without starting any server. A skipped name is left to its owner.
TEST_F(FaultInjection, TakenStartEventNamesAreSkippedUpToALimit) {
  const std::string prefix = "/qarn." + std::string(qarn::os::ObjectNamespace()) + ".ev.";
  const auto plant = [&](uint32_t first, uint32_t count) {
    for (uint32_t tick = first; tick != first + count; ++tick) {
      sem_t* planted = sem_open((prefix + std::to_string(tick)).c_str(), O_CREAT, 0600, 0);
      if (planted != SEM_FAILED) sem_close(planted);
    }
  };
  const auto planted_left = [&](uint32_t first, uint32_t count) {
    uint32_t left = 0;
    for (uint32_t tick = first; tick != first + count; ++tick) {
      left += fs::exists("/dev/shm/sem." + prefix.substr(1) + std::to_string(tick));
    }
    return left;
  };
  const auto unplant = [&](uint32_t first, uint32_t count) {
    for (uint32_t tick = first; tick != first + count; ++tick)
      sem_unlink((prefix + std::to_string(tick)).c_str());
  };

  // The names of the next 300 ms: the start takes the first free one after them.
  uint32_t first = qarn::os::TickCount();
  plant(first, 300);
  if (qarn::os::TickCount() + 100 < first + 300) {
    void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    EXPECT_NE(nullptr, session) << "a taken name stopped the start";
    EXPECT_EQ(10000, f_QARNSVR_GetVersion(session));
    f_QARNSVR_FreeLibrary(session);
    EXPECT_EQ(300u, planted_left(first, 300)) << "a skipped name was removed";
  }
  unplant(first, 300);

  // More names than a start skips: it gives up at once.
  first = qarn::os::TickCount();
  constexpr uint32_t kBeyondTheLimit = qarn::kEventNameTries + 2000;
  plant(first, kBeyondTheLimit);
  const bool in_time = qarn::os::TickCount() + 500 < first + 2000;
  if (in_time) {
    EXPECT_EQ(nullptr, f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, ""));
    EXPECT_TRUE(hardening::ServersOf().empty()) << "a server was started";
  }
  unplant(first, kBeyondTheLimit);
  if (!in_time) GTEST_SKIP() << "the machine is too slow to plant the names ahead of the clock";
}

// A socket folder that is not a private directory of ours is never used or
// repaired, and does not stop a session: the client makes a private folder
// of its own and names it to its server. A folder named that way must be
// private too.
TEST_F(FaultInjection, SocketFolderThatIsNotPrivateIsAvoided) {
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
    const fs::perms mode_before = fs::symlink_status(folder).permissions();
    void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    EXPECT_NE(nullptr, session) << c.what;
    EXPECT_EQ(10000, f_QARNSVR_GetVersion(session)) << c.what;
    if (session != nullptr) f_QARNSVR_FreeLibrary(session);

    setenv("QARN_PIPE_DIR", folder.c_str(), 1);
    HANDLE pipe = nullptr;
    EXPECT_EQ(qarn::os::kErrorAccessDenied, qarn::os::PipeOpen(1, &pipe)) << c.what;
    HANDLE listener = nullptr;
    EXPECT_EQ(qarn::os::kErrorAccessDenied, qarn::os::PipeListen(qarn::os::CurrentProcessId(), &listener))
        << c.what;
    unsetenv("QARN_PIPE_DIR");
    EXPECT_EQ(mode_before, fs::symlink_status(folder).permissions()) << c.what;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << c.what;
    if (!c.symlink) EXPECT_TRUE(fs::is_empty(folder)) << c.what;
  }
  fs::remove_all(folder);
}

}  // namespace
