// Edge cases of the OS layer; exchanges between real processes are in the
// session tests.
#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "peers/scripted_peer.h"
#include "tests/hardening_support.h"

namespace {

namespace fs = std::filesystem;
namespace os = qarn::os;
using qarn::test::ServerFolder;

std::string UniqueName(const char* stem) {
  static std::atomic<unsigned> counter{0};
  return stem + std::to_string(os::CurrentProcessId()) + "_" + std::to_string(++counter);
}

// Whether `address` is mapped: the kernel (and qemu-user, which checks the
// emulated address space here but not in msync) refuses to copy from an
// unmapped one.
bool Mapped(const void* address) {
  int ends[2];
  if (pipe(ends) != 0) return true;
  const bool copied = write(ends[1], address, 1) == 1;
  close(ends[0]);
  close(ends[1]);
  return copied;
}

// Sets QARN_NS (nullptr: unsets it, as the tests otherwise run).
void SetNamespace(const char* ns) { ns != nullptr ? setenv("QARN_NS", ns, 1) : unsetenv("QARN_NS"); }

TEST(Platform, ClockPathAndNamespace) {
  const int64_t before = os::PerformanceCounter();
  const uint32_t tick = os::TickCount();
  const int64_t after = os::PerformanceCounter();
  // Unsigned differences: right also across the 32-bit wrap.
  EXPECT_LE(tick - static_cast<uint32_t>(before / 1000000),
            static_cast<uint32_t>((after - before) / 1000000 + 1));

  char path[4096];
  ASSERT_EQ(os::ExecutablePath(path, sizeof path), os::kErrorSuccess);
  EXPECT_EQ(fs::path(path), fs::canonical("/proc/self/exe"));
  char cut[6];
  ASSERT_EQ(os::ExecutablePath(cut, sizeof cut), os::kErrorSuccess);
  EXPECT_EQ(std::string(cut), std::string(path, 5));
  EXPECT_EQ(os::ExecutablePath(cut, 0), os::kErrorInvalidParameter);

  SetNamespace(nullptr);
  EXPECT_EQ(os::ObjectNamespace(), hardening::ProcessNamespace(getpid()));
  // Fixed for the process's life: a later QARN_NS does not move its names.
  SetNamespace("later");
  EXPECT_EQ(os::ObjectNamespace(), hardening::ProcessNamespace(getpid()));
  // A forked child (a "fast" death test forks without exec) is a process of
  // its own: it reads QARN_NS again, and a set but empty one still names it.
  GTEST_FLAG_SET(death_test_style, "fast");
  SetNamespace("");
  EXPECT_EXIT(_exit(std::string(os::ObjectNamespace()).empty() ? 0 : 1), ::testing::ExitedWithCode(0), "");
  SetNamespace(nullptr);
  EXPECT_EXIT(_exit(os::ObjectNamespace() == hardening::ProcessNamespace(getpid()) ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

// A semaphore that others could use is not signalled.
TEST(Platform, StartEventOthersCouldUseIsRefused) {
  const std::string open = UniqueName("open");
  const std::string full = "/qarn." + std::string(os::ObjectNamespace()) + ".ev." + open;
  sem_t* semaphore = sem_open(full.c_str(), O_CREAT | O_EXCL, 0600, 0);
  ASSERT_NE(semaphore, SEM_FAILED);
  ASSERT_EQ(chmod(("/dev/shm/sem." + full.substr(1)).c_str(), 0666), 0);
  EXPECT_EQ(os::EventSignal(open.c_str()), os::kErrorAccessDenied);
  int value = -1;
  sem_getvalue(semaphore, &value);
  EXPECT_EQ(value, 0);
  sem_close(semaphore);
  sem_unlink(full.c_str());
}

TEST(Platform, MappingNameLivesUntilItsLastCreatingHandle) {
  const std::string name = UniqueName("block");
  HANDLE first = nullptr, second = nullptr, opened = nullptr;
  void *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(os::MappingCreate(name.c_str(), 64, &first), os::kErrorSuccess);
  ASSERT_EQ(os::MappingMapView(first, 64, &a), os::kErrorSuccess);
  memcpy(a, "shared", 7);
  ASSERT_EQ(os::MappingCreate(name.c_str(), 64, &second), os::kErrorSuccess);  // attaches
  ASSERT_EQ(os::MappingMapView(second, 64, &b), os::kErrorSuccess);
  EXPECT_STREQ(static_cast<char*>(b), "shared");
  os::MappingUnmapView(first, a);
  os::MappingClose(first);
  ASSERT_EQ(os::MappingOpen(name.c_str(), &opened), os::kErrorSuccess);
  ASSERT_EQ(os::MappingMapView(opened, 0, &c), os::kErrorSuccess);
  os::MappingUnmapView(second, b);
  os::MappingClose(second);
  HANDLE none = nullptr;
  EXPECT_EQ(os::MappingOpen(name.c_str(), &none), os::kErrorFileNotFound) << "the name outlived its creators";
  EXPECT_STREQ(static_cast<char*>(c), "shared") << "an open view outlives the name";
  os::MappingUnmapView(opened, c);
  EXPECT_FALSE(Mapped(c)) << "the view is still mapped";
  os::MappingClose(opened);
}

// An object under one of our names that is open to group or others, or
// owned by someone else, is neither attached nor opened.
TEST(Platform, MappingOthersCouldUseIsRefused) {
  const struct {
    mode_t mode;
    uid_t owner;  // 0: ours
  } cases[] = {{0640, 0}, {0604, 0}, {0660, 0}, {0602, 0}, {0600, 65534}};
  for (const auto& c : cases) {
    const std::string name = UniqueName("planted");
    const std::string full_name = "/qarn." + std::string(os::ObjectNamespace()) + "." + name;
    const int fd = shm_open(full_name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 64), 0);
    ASSERT_EQ(fchmod(fd, c.mode), 0);
    if (c.owner == 0 || fchown(fd, c.owner, static_cast<gid_t>(-1)) == 0) {  // only root can give it away
      HANDLE mapping = nullptr;
      EXPECT_EQ(os::MappingCreate(name.c_str(), 64, &mapping), os::kErrorAccessDenied) << std::oct << c.mode;
      EXPECT_EQ(os::MappingOpen(name.c_str(), &mapping), os::kErrorAccessDenied) << std::oct << c.mode;
    }
    close(fd);
    shm_unlink(full_name.c_str());
  }
}

// A pid no process can have (above any pid_max), different for every test process.
const uint32_t kImpossiblePid = 0x7F000000u + os::CurrentProcessId();

// A listener takes its name over from a socket already there (a squatter,
// who then never hears of the client); a hang-up breaks both directions.
TEST(Platform, PipeTakesItsNameOverAndReportsBrokenPipe) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  os::PipeName(os::CurrentProcessId(), address.sun_path, sizeof address.sun_path);
  mkdir(fs::path(address.sun_path).parent_path().c_str(), 0700);
  const int squatter = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
  ASSERT_EQ(bind(squatter, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(squatter, 4), 0);
  HANDLE listener = nullptr;
  ASSERT_EQ(os::PipeListen(os::CurrentProcessId(), &listener), os::kErrorSuccess);
  std::atomic<uint32_t> accepted{os::kErrorSuccess};
  std::thread hang_up([listener, &accepted] {
    HANDLE pipe = nullptr;
    accepted = os::PipeAccept(listener, &pipe);
    if (accepted == os::kErrorSuccess) os::PipeClose(pipe);
  });
  // Signals handled while it waits for its client do not end the wait.
  for (int i = 0; i < 10; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(7));
    pthread_kill(hang_up.native_handle(), SIGCHLD);
  }
  HANDLE pipe = nullptr;
  ASSERT_EQ(os::PipeOpen(os::CurrentProcessId(), &pipe), os::kErrorSuccess);
  ASSERT_EQ(os::PipeSetMessageMode(pipe), os::kErrorSuccess);
  hang_up.join();
  ASSERT_EQ(accepted, os::kErrorSuccess);
  char slot[16];
  uint32_t length = 0;
  EXPECT_EQ(os::PipeRead(pipe, slot, sizeof slot, &length), os::kErrorBrokenPipe);
  EXPECT_EQ(os::PipeWrite(pipe, "x", 1), os::kErrorBrokenPipe);
  os::PipeClose(pipe);
  os::PipeListenerClose(listener);
  EXPECT_LT(accept(squatter, nullptr, nullptr), 0);
  close(squatter);
}

TEST(Platform, PipeOfAnotherPidIsRefusedAndAFullBacklogIsBusy) {
  HANDLE listener = nullptr;
  ASSERT_EQ(os::PipeListen(kImpossiblePid, &listener), os::kErrorSuccess);
  // The socket is there, but this process, not kImpossiblePid, listens on it;
  // refused connections stay queued until the listener takes them.
  uint32_t error = os::kErrorSuccess;
  int attempts = 0;
  for (HANDLE pipe = nullptr; attempts < 64; ++attempts) {
    if ((error = os::PipeOpen(kImpossiblePid, &pipe)) != os::kErrorAccessDenied) break;
  }
  EXPECT_GT(attempts, 0);
  EXPECT_EQ(error, os::kErrorPipeBusy);
  EXPECT_EQ(os::PipeWaitBusy(kImpossiblePid, 10), os::kErrorSuccess);
  os::PipeListenerClose(listener);
  EXPECT_EQ(os::PipeWaitBusy(kImpossiblePid, 10), os::kErrorFileNotFound);
  // A runtime folder too long for a socket path gives no name at all, even
  // one whose socket folder alone just fills the 108 bytes of a socket path.
  const hardening::PrivateRuntime restored_at_the_end;
  const std::string own_folder = "/qarn-" + std::to_string(getuid());
  setenv("XDG_RUNTIME_DIR", ("/tmp/" + std::string(108 - 5 - own_folder.size(), 'r')).c_str(), 1);
  char path[256] = "untouched";
  EXPECT_EQ(os::PipeName(kImpossiblePid, path, sizeof path), 0);
  EXPECT_STREQ(path, "");
}

// Descriptor 0, when free, is a valid mapping and listener.
TEST(Platform, DescriptorZeroIsAValidMappingAndListener) {
  const int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  HANDLE mapping = nullptr, listener = nullptr;
  const uint32_t mapped = os::MappingCreate(UniqueName("zero").c_str(), 16, &mapping);
  if (mapped == os::kErrorSuccess) os::MappingClose(mapping);  // frees descriptor 0 again
  const uint32_t listened = os::PipeListen(kImpossiblePid, &listener);
  char path[256];
  os::PipeName(kImpossiblePid, path, sizeof path);
  const bool socket_made = fs::exists(path);
  if (listened == os::kErrorSuccess) os::PipeListenerClose(listener);
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_EQ(mapped, os::kErrorSuccess);
  EXPECT_EQ(listened, os::kErrorSuccess);
  EXPECT_TRUE(socket_made);
  EXPECT_FALSE(fs::exists(path)) << "closing the descriptor-0 listener must remove its socket";
}

// Whatever the application does with SIGCHLD, the library leaves it alone:
// no handler of its own, none replaced. Runs with the default disposition
// and with a handler of the application's.
void ExpectChildSignalUntouched(const struct sigaction& expected) {
  struct sigaction now {};
  sigaction(SIGCHLD, nullptr, &now);
  EXPECT_EQ(now.sa_handler, expected.sa_handler) << "the library put a handler on SIGCHLD";
  EXPECT_EQ(now.sa_flags & SA_SIGINFO, expected.sa_flags & SA_SIGINFO);
}

// The server gets its arguments exactly, our namespace once, no blocked
// signals and default pipe and child signals, whatever this process set. It
// is not our child, and once it ends nobody has to reap it.
TEST(Platform, ServerProcessStartsCleanAndIsNoChildOfOurs) {
  struct sigaction application_handler {};
  application_handler.sa_handler = [](int) {};
  application_handler.sa_flags = SA_RESTART;
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  const struct {
    const char* ns;  // nullptr: unset
    const char* suffix;
    const char* app_dir;
    const struct sigaction* child_signal;
  } cases[] = {{nullptr, "", "a folder \"quoted\" \\ *", &defaults},
               {"outer", "1.4", "", &application_handler}};
  sigset_t blocked, old_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &old_mask), 0);
  struct sigaction ignore {
  }, old_pipe{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old_pipe);
  for (const auto& c : cases) {
    sigaction(SIGCHLD, c.child_signal, nullptr);
    ServerFolder folder;
    SetNamespace(c.ns);
    qarn::test::PeerScript script("reply", "nosignal");
    const std::string exe = QARN_TEST_BIN_DIR "/scripted_peer";
    const std::string dir = folder.path();
    const os::ServerLaunch launch{exe.c_str(), -3, dir.c_str(), c.suffix, c.app_dir, "ev", ""};
    HANDLE process = nullptr;
    uint32_t pid = 0;
    ASSERT_EQ(os::ProcessStart(launch, &process, &pid), os::kErrorSuccess);
    EXPECT_TRUE(hardening::ChildProcesses().empty()) << "the server or its starter is our child";
    os::ProcessClose(process);  // must not wait for the server
    EXPECT_TRUE(fs::exists("/proc/" + std::to_string(pid)));
    ASSERT_TRUE(hardening::ProcessGone(static_cast<int>(pid))) << "the ended server stayed a zombie";
    ExpectChildSignalUntouched(*c.child_signal);
    // The caller's own QARN_NS, set after its namespace was fixed, is replaced.
    const std::string ns = hardening::ProcessNamespace(getpid());
    EXPECT_EQ(folder.PeerArgv(),
              (std::vector<std::string>{exe, "-l", "-3", dir, c.suffix, c.app_dir, "ev", "QARN_NS=" + ns,
                                        "SigBlk:\t0000000000000000", "SIGPIPE default"}));
  }
  SetNamespace(nullptr);
  sigaction(SIGCHLD, &defaults, nullptr);
  sigaction(SIGPIPE, &old_pipe, nullptr);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);

  // A killed server is seen to have ended, and the socket it could not
  // remove goes with its handle.
  const qarn::test::PeerScript script("reply", "nosignal");
  const hardening::PrivateRuntime runtime;
  const os::ServerLaunch peer{QARN_TEST_BIN_DIR "/scripted_peer", 0, "", "", "", "ev", ""};
  HANDLE process = nullptr;
  uint32_t pid = 0;
  ASSERT_EQ(os::ProcessStart(peer, &process, &pid), os::kErrorSuccess);
  EXPECT_FALSE(os::ProcessHasExited(process));
  char socket_path[108];
  ASSERT_GT(os::PipeName(pid, socket_path, sizeof socket_path), 0);
  fs::create_directories(fs::path(socket_path).parent_path());
  std::ofstream(socket_path) << "left by a killed server";
  EXPECT_FALSE(os::ProcessAwaitExit(process, 20));
  kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_TRUE(os::ProcessAwaitExit(process, 20000));
  EXPECT_TRUE(os::ProcessHasExited(process));
  os::ProcessClose(process);
  EXPECT_FALSE(fs::exists(socket_path)) << "the killed server's socket outlived its handle";

  const os::ServerLaunch missing{"/nonexistent/qarn_svr", 0, "", "", "", "e", ""};
  EXPECT_EQ(os::ProcessStart(missing, &process, &pid), os::kErrorFileNotFound);
}

}  // namespace
