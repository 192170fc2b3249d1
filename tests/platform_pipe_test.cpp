// The message pipe between two real processes: opening, message boundaries,
// over-long messages, a vanished peer, and the checks on who is listening.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;
using platform_peer::kEchoServer;

constexpr uint32_t kReadCapacity = 1024;

// A pid that no process can have (above any pid_max), different for every
// test process.
const uint32_t kImpossiblePid = 0x7F000000u + os::CurrentProcessId();

// Starts the echo peer and connects to it. The first attempt is made before
// the peer is allowed to listen.
class EchoPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(event_.error(), os::kErrorSuccess);
    ASSERT_EQ(peer_.start_error(), os::kErrorSuccess);
    ASSERT_EQ(os::EventWait(event_.handle(), 20000, peer_.process()), os::WaitResult::kSignalled);
    ASSERT_EQ(os::PipeOpen(peer_.pid(), &pipe_), os::kErrorFileNotFound);
    folder_.Go();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    uint32_t error;
    while ((error = os::PipeOpen(peer_.pid(), &pipe_)) == os::kErrorFileNotFound &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kPoll);
    }
    ASSERT_EQ(error, os::kErrorSuccess);
    ASSERT_EQ(os::PipeSetMessageMode(pipe_), os::kErrorSuccess);
  }
  void TearDown() override {
    if (pipe_ != INVALID_HANDLE_VALUE) os::PipeClose(pipe_);
  }

  uint32_t Send(const std::string& message) {
    return os::PipeWrite(pipe_, message.data(), static_cast<uint32_t>(message.size()));
  }
  std::string Receive(uint32_t* error) {
    std::vector<char> slot(kReadCapacity);
    uint32_t length = 0;
    *error = os::PipeRead(pipe_, slot.data(), kReadCapacity, &length);
    return std::string(slot.data(), length);
  }

  WorkFolder folder_;
  StartEvent event_;
  Peer peer_{kEchoServer, folder_, "", event_.name()};
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

TEST_F(EchoPipeTest, KeepsEveryMessageWholeAndByteExact) {
  std::string all_bytes(kReadCapacity, '\0');
  for (size_t i = 0; i < all_bytes.size(); ++i) all_bytes[i] = static_cast<char>(i * 7 + 3);
  const std::vector<std::string> messages = {"x", "", std::string("a\0b", 3), all_bytes,
                                             std::string(146, '\xFF')};
  // All are written before the first is read: boundaries must survive queueing.
  for (const std::string& message : messages) ASSERT_EQ(Send(message), os::kErrorSuccess);
  for (const std::string& message : messages) {
    uint32_t error = 0;
    EXPECT_EQ(Receive(&error), message);
    EXPECT_EQ(error, os::kErrorSuccess);
  }
}

TEST_F(EchoPipeTest, LongerMessageThanTheReadFailsWithMoreDataAndTheNextReadWorks) {
  ASSERT_EQ(Send(std::string(platform_peer::kBigPrefix) + "2000"), os::kErrorSuccess);
  uint32_t error = 0;
  Receive(&error);
  EXPECT_EQ(error, os::kErrorMoreData);
  // The rest of the long message is gone; the next exchange is intact.
  ASSERT_EQ(Send("after"), os::kErrorSuccess);
  EXPECT_EQ(Receive(&error), "after");
  EXPECT_EQ(error, os::kErrorSuccess);
}

TEST_F(EchoPipeTest, VanishedPeerGivesBrokenPipe) {
  ASSERT_EQ(Send(platform_peer::kQuit), os::kErrorSuccess);
  ASSERT_TRUE(peer_.WaitForExit());
  uint32_t error = 0;
  Receive(&error);
  EXPECT_EQ(error, os::kErrorBrokenPipe);
  EXPECT_EQ(Send("anyone?"), os::kErrorBrokenPipe);
}

TEST_F(EchoPipeTest, ServerRemovesItsSocketWhenItEnds) {
  char path[256];
  os::PipeName(peer_.pid(), path, sizeof path);
  EXPECT_TRUE(fs::exists(path));
  ASSERT_EQ(Send(platform_peer::kQuit), os::kErrorSuccess);
  ASSERT_TRUE(peer_.WaitForExit());
  EXPECT_FALSE(fs::exists(path));
}

TEST(PipeTest, ListenerOfAnotherPidIsRefused) {
  HANDLE listener = nullptr;
  ASSERT_EQ(os::PipeListen(kImpossiblePid, &listener), os::kErrorSuccess);
  HANDLE pipe = nullptr;
  // The socket is there, but this process, not kImpossiblePid, listens on it.
  EXPECT_EQ(os::PipeOpen(kImpossiblePid, &pipe), os::kErrorAccessDenied);
  os::PipeListenerClose(listener);
  EXPECT_EQ(os::PipeOpen(kImpossiblePid, &pipe), os::kErrorFileNotFound);
}

TEST(PipeTest, FullBacklogMakesThePipeBusy) {
  HANDLE listener = nullptr;
  ASSERT_EQ(os::PipeListen(kImpossiblePid, &listener), os::kErrorSuccess);
  // Refused connections stay queued at the listener until it accepts them.
  uint32_t error = os::kErrorSuccess;
  int attempts = 0;
  for (; attempts < 64; ++attempts) {
    HANDLE pipe = nullptr;
    error = os::PipeOpen(kImpossiblePid, &pipe);
    if (error != os::kErrorAccessDenied) break;
  }
  EXPECT_GT(attempts, 0);
  EXPECT_EQ(error, os::kErrorPipeBusy);
  EXPECT_EQ(os::PipeWaitBusy(kImpossiblePid, 10), os::kErrorSuccess);
  os::PipeListenerClose(listener);
  EXPECT_EQ(os::PipeWaitBusy(kImpossiblePid, 10), os::kErrorFileNotFound);
}

TEST(PipeTest, DescriptorZeroIsAValidHandle) {
  const int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  HANDLE listener = nullptr;
  const uint32_t error = os::PipeListen(kImpossiblePid, &listener);
  char path[256];
  os::PipeName(kImpossiblePid, path, sizeof path);
  const bool socket_made = fs::exists(path);
  if (error == os::kErrorSuccess) os::PipeListenerClose(listener);
  dup2(saved_stdin, 0);
  close(saved_stdin);

  ASSERT_EQ(error, os::kErrorSuccess);
  EXPECT_TRUE(socket_made);
  EXPECT_NE(listener, nullptr);
  EXPECT_NE(listener, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs::exists(path)) << "closing the descriptor-0 listener must remove its socket";
}

TEST(PipeTest, SocketFolderOpenToOthersIsRefused) {
  WorkFolder runtime;
  ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
  const std::string folder = runtime.path() + "/qarn-" + std::to_string(geteuid());
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  HANDLE handle = nullptr;
  EXPECT_EQ(os::PipeListen(kImpossiblePid, &handle), os::kErrorAccessDenied);
  EXPECT_EQ(os::PipeOpen(kImpossiblePid, &handle), os::kErrorAccessDenied);

  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  ASSERT_EQ(os::PipeListen(kImpossiblePid, &handle), os::kErrorSuccess);
  os::PipeListenerClose(handle);
}

TEST(PipeTest, SocketFolderIsCreatedPrivate) {
  WorkFolder runtime;
  ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
  HANDLE listener = nullptr;
  ASSERT_EQ(os::PipeListen(kImpossiblePid, &listener), os::kErrorSuccess);
  os::PipeListenerClose(listener);
  struct stat status {};
  ASSERT_EQ(stat((runtime.path() + "/qarn-" + std::to_string(geteuid())).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  char path[256];
  ASSERT_GT(os::PipeName(kImpossiblePid, path, sizeof path), 0);
  EXPECT_EQ(std::string(path).rfind(runtime.path() + "/qarn-", 0), 0u);
}

}  // namespace
