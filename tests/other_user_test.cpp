// Another local user against ours: a child that drops to another uid plants
// links, FIFOs, folders and names where our process will look, and our
// process must neither write through them, wait on them nor be stopped by
// them. Needs root, to become the other user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "qarnplus.h"
#include "tests/hardening_support.h"

namespace {

namespace fs = std::filesystem;
namespace os = qarn::os;

constexpr uid_t kOtherUser = 65534;
constexpr int kCannotDrop = 77;

// Runs `plant` in a child that has become kOtherUser for good; true when it
// reported success.
bool AsOtherUser(const std::function<bool()>& plant) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
        setresuid(kOtherUser, kOtherUser, kOtherUser) != 0) {
      _exit(kCannotDrop);
    }
    _exit(plant() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Contents(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// What TraceFileOpen gives for `path`, tried in a child that an alarm ends if
// the open blocks: "refused", "opened", "other error <n>" or "blocked".
std::string TraceOpenOutcome(const fs::path& path) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(10);
    uint32_t error = 0;
    FILE* file = os::TraceFileOpen(path.c_str(), &error);
    if (file != nullptr) _exit(100);
    _exit(error == os::kErrorAccessDenied ? 0 : (error & 0x3f) + 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "blocked";
  if (!WIFEXITED(status)) return "crashed";
  if (WEXITSTATUS(status) == 0) return "refused";
  if (WEXITSTATUS(status) == 100) return "opened";
  return "other error " + std::to_string(WEXITSTATUS(status) - 1);
}

class OtherUser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    if (!AsOtherUser([] { return true; })) GTEST_SKIP() << "cannot become user " << kOtherUser;
    // A folder everyone may write to, as /tmp: the other user's playground.
    shared_ = runtime_.root() / "shared";
    fs::create_directory(shared_);
    chmod(shared_.c_str(), 01777);
    // A folder only we can enter, holding a file of ours.
    private_ = runtime_.root() / "private";
    fs::create_directory(private_);
    chmod(private_.c_str(), 0700);
    chmod(runtime_.root().c_str(), 0755);
  }

  hardening::PrivateRuntime runtime_;
  fs::path shared_;
  fs::path private_;
};

// Whatever the other user leaves at the trace's path is refused at once:
// nothing of ours is written or made through it, and nothing blocks.
TEST_F(OtherUser, PlantedTracePathsAreRefusedWithoutWriting) {
  const fs::path secret = private_ / "secret";
  std::ofstream(secret) << "ours\n";
  chmod(secret.c_str(), 0600);
  const fs::path not_yet = private_ / "not-yet";
  const fs::path to_secret = shared_ / "to-secret";
  const fs::path to_new = shared_ / "to-new";
  const fs::path fifo = shared_ / "fifo";
  const fs::path theirs = shared_ / "theirs";
  ASSERT_TRUE(AsOtherUser([&] {
    const int file = open(theirs.c_str(), O_CREAT | O_WRONLY, 0666);
    return symlink(secret.c_str(), to_secret.c_str()) == 0 && symlink(not_yet.c_str(), to_new.c_str()) == 0 &&
           mkfifo(fifo.c_str(), 0666) == 0 && file >= 0 && fchmod(file, 0666) == 0;
  }));

  EXPECT_EQ("refused", TraceOpenOutcome(to_secret));
  EXPECT_EQ("ours\n", Contents(secret)) << "appended through a link";
  EXPECT_EQ("refused", TraceOpenOutcome(to_new));
  EXPECT_FALSE(fs::exists(not_yet)) << "made a file through a link";
  EXPECT_EQ("refused", TraceOpenOutcome(fifo)) << "a FIFO nobody reads";
  EXPECT_EQ("refused", TraceOpenOutcome(theirs)) << "a file of the other user";
  EXPECT_EQ(0u, fs::file_size(theirs));
  // With the other user reading the FIFO, the open itself succeeds; what it
  // opened is still refused, so nothing reaches the reader.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ("refused", TraceOpenOutcome(fifo)) << "a FIFO somebody reads";
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "wrote into the FIFO";
  close(reader);

  // Of the devices only the null device takes a trace.
  EXPECT_EQ("refused", TraceOpenOutcome("/dev/zero"));
  EXPECT_EQ("opened", TraceOpenOutcome("/dev/null"));

  // A second name for a file of ours is no trace file either.
  const fs::path second_name = private_ / "second-name";
  fs::create_hard_link(secret, second_name);
  EXPECT_EQ("refused", TraceOpenOutcome(second_name));
  EXPECT_EQ("ours\n", Contents(secret));
}

// Our own trace file, new or existing, is appended to, and a new one is
// private: the lines carry addresses of our heap.
TEST(TraceFile, OwnFileIsPrivateAndAppended) {
  const hardening::PrivateRuntime runtime;
  const fs::path path = runtime.root() / "trace";
  uint32_t error = 1;
  FILE* file = os::TraceFileOpen(path.c_str(), &error);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(os::kErrorSuccess, error);
  fputs("first\n", file);
  fclose(file);
  struct stat status {};
  ASSERT_EQ(0, lstat(path.c_str(), &status));
  EXPECT_EQ(0600u, status.st_mode & 07777);
  EXPECT_EQ(geteuid(), status.st_uid);
  file = os::TraceFileOpen(path.c_str(), &error);
  ASSERT_NE(nullptr, file);
  EXPECT_NE(0, fcntl(fileno(file), F_GETFD) & FD_CLOEXEC) << "servers would inherit the trace";
  EXPECT_EQ(0, fcntl(fileno(file), F_GETFL) & O_NONBLOCK);
  fputs("second\n", file);
  fclose(file);
  EXPECT_EQ("first\nsecond\n", Contents(path));
}

// A session traced to a link the other user planted runs untraced, says so
// once, and leaves the link's target alone.
TEST_F(OtherUser, SessionWithAPlantedTraceLinkRunsUntraced) {
  const fs::path secret = private_ / "secret";
  std::ofstream(secret) << "ours\n";
  const fs::path link = shared_ / "qarn.trace";
  ASSERT_TRUE(AsOtherUser([&] { return symlink(secret.c_str(), link.c_str()) == 0; }));
  setenv("QARN_TRACE", link.c_str(), 1);
  ::testing::internal::CaptureStderr();
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  void* second = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  const std::string said = ::testing::internal::GetCapturedStderr();
  unsetenv("QARN_TRACE");
  ASSERT_NE(nullptr, session);
  EXPECT_NE(nullptr, second);
  EXPECT_EQ(10000, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);
  if (second != nullptr) f_QARNSVR_FreeLibrary(second);
  EXPECT_EQ("ours\n", Contents(secret));
  EXPECT_EQ(1u, static_cast<size_t>(std::count(said.begin(), said.end(), '\n'))) << said;
  EXPECT_NE(std::string::npos, said.find("not tracing")) << said;
}

// The other user made our socket folder first (say after a reboot): our
// sessions still start, in a private folder of our own, and the squatted
// folder is neither used nor changed. A server told to use that folder
// refuses it.
TEST_F(OtherUser, SquattedSocketFolderDoesNotStopSessions) {
  chmod(runtime_.root().c_str(), 01777);
  const fs::path squatted = runtime_.SocketFolder();
  ASSERT_TRUE(
      AsOtherUser([&] { return mkdir(squatted.c_str(), 0777) == 0 && chmod(squatted.c_str(), 0777) == 0; }));
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, session) << "the squatted folder stopped the session";
  EXPECT_EQ(10000, f_QARNSVR_GetVersion(session));
  f_QARNSVR_FreeLibrary(session);
  EXPECT_TRUE(fs::is_empty(squatted));
  struct stat status {};
  ASSERT_EQ(0, lstat(squatted.c_str(), &status));
  EXPECT_EQ(kOtherUser, status.st_uid);
  EXPECT_EQ(0777u, status.st_mode & 07777);
  // The folder used instead is private and left empty by the ended server.
  int fallbacks = 0;
  for (const auto& entry : fs::directory_iterator(runtime_.root())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(squatted.filename().string() + ".", 0) != 0) continue;
    ++fallbacks;
    ASSERT_EQ(0, lstat(entry.path().c_str(), &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(0700u, status.st_mode & 07777);
    EXPECT_TRUE(hardening::WaitUntil([&] { return fs::is_empty(entry.path()); })) << "a socket was left";
  }
  EXPECT_EQ(1, fallbacks);

  const std::string refused =
      qarn::test::CommandOutput("QARN_PIPE_DIR='" + squatted.string() +
                                "' '" QARN_SERVER_DIR "/qarn_svr' -l 0 x '' x never-signalled 2>&1; echo $?");
  EXPECT_EQ("qarn_svr: cannot offer the pipe\n1\n", refused);
}

// Start-event names of the next moments, made first by the other user, are
// skipped: the start goes on under a free name and leaves theirs alone.
TEST_F(OtherUser, TakenStartEventNamesDoNotStopTheStart) {
  const std::string prefix = "/qarn." + std::string(os::ObjectNamespace()) + ".ev.";
  constexpr uint32_t kPlanted = 300;
  const uint32_t first = os::TickCount();
  ASSERT_TRUE(AsOtherUser([&] {
    for (uint32_t tick = first; tick != first + kPlanted; ++tick) {
      sem_t* planted = sem_open((prefix + std::to_string(tick)).c_str(), O_CREAT | O_EXCL, 0600, 0);
      if (planted == SEM_FAILED) return false;
      sem_close(planted);
    }
    return true;
  }));
  const bool ahead = os::TickCount() + 50 < first + kPlanted;
  void* session = ahead ? f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "") : nullptr;
  if (ahead) {
    EXPECT_NE(nullptr, session) << "a taken name stopped the start";
    EXPECT_EQ(10000, f_QARNSVR_GetVersion(session));
    if (session != nullptr) f_QARNSVR_FreeLibrary(session);
  }
  uint32_t left = 0;
  for (uint32_t tick = first; tick != first + kPlanted; ++tick) {
    const std::string name = prefix + std::to_string(tick);
    left += fs::exists("/dev/shm/sem." + name.substr(1));
    sem_unlink(name.c_str());
  }
  EXPECT_EQ(kPlanted, left) << "a name of the other user was removed";
  if (!ahead) GTEST_SKIP() << "the machine is too slow to plant the names ahead of the clock";
}

}  // namespace
