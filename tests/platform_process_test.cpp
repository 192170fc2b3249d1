// Starting a server process: its exact arguments and environment, and that
// no zombie stays once its handle is closed.

#include <signal.h>

#include <cstring>

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;
using namespace platform_peer;

// A SIGCHLD handler of the application's own, installed before the library
// installs its reaper, which must keep calling it.
std::atomic<int> g_application_child_signals{0};

void ApplicationChildHandler(int, siginfo_t*, void*) { ++g_application_child_signals; }

const bool g_application_handler_installed = [] {
  struct sigaction action {};
  action.sa_sigaction = ApplicationChildHandler;
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NOCLDSTOP;
  return sigaction(SIGCHLD, &action, nullptr) == 0;
}();

bool IsGone(uint32_t pid) { return !fs::exists("/proc/" + std::to_string(pid)); }

bool BecomesGone(uint32_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!IsGone(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> StartAndReport(const WorkFolder& folder, const std::string& suffix,
                                        const char* app_dir) {
  StartEvent event;
  EXPECT_EQ(event.error(), os::kErrorSuccess);
  Peer peer(kReport, folder, suffix, event.name(), app_dir);
  EXPECT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), 30000, peer.process()), os::WaitResult::kSignalled);
  return Lines(ReadWholeFile(folder.file("report")));
}

TEST(ProcessTest, ServerGetsTheExactArgumentsAndOurNamespace) {
  ScopedEnv env("QARN_NS", nullptr);
  WorkFolder folder;
  const std::string executable = std::string(QARN_TEST_BIN_DIR) + "/platform_peer";
  const std::vector<std::string> lines = StartAndReport(folder, "", "a folder \"quoted\" \\ *");
  const std::vector<std::string> expected = {"7",
                                             executable,
                                             "-l",
                                             std::to_string(kReport),
                                             folder.path(),
                                             "",
                                             "a folder \"quoted\" \\ *",
                                             lines.size() > 7 ? lines[7] : "event name missing",
                                             "QARN_NS=" + std::to_string(os::CurrentProcessId())};
  EXPECT_EQ(lines, expected);
}

TEST(ProcessTest, ExistingNamespaceIsPassedOnOnce) {
  ScopedEnv env("QARN_NS", "outer");
  WorkFolder folder;
  const std::vector<std::string> lines = StartAndReport(folder, "1.4", "");
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], "1.4");
  EXPECT_EQ(lines[8], "QARN_NS=outer");
}

TEST(ProcessTest, MissingExecutableFailsWithFileNotFound) {
  const os::ServerLaunch launch{"/nonexistent/qarn_svr", 0, "", "", "", "e", ""};
  HANDLE process = nullptr;
  uint32_t pid = 0;
  EXPECT_EQ(os::ProcessStart(launch, &process, &pid), os::kErrorFileNotFound);
}

TEST(ProcessTest, ChildThatEndedBeforeCloseLeavesNoZombie) {
  WorkFolder folder;
  Peer peer(kExitSilently, folder, "", "unused");
  ASSERT_EQ(peer.start_error(), os::kErrorSuccess);
  ASSERT_TRUE(peer.WaitForExit());
  EXPECT_TRUE(os::ProcessHasExited(peer.process()));  // asked twice: the answer holds
  const uint32_t pid = peer.pid();
  os::ProcessClose(peer.Release());
  EXPECT_TRUE(IsGone(pid));
}

TEST(ProcessTest, ChildStillRunningAtCloseIsReapedWhenItEnds) {
  ASSERT_TRUE(g_application_handler_installed);
  WorkFolder folder;
  Peer peer(kLinger, folder, "", "unused");
  ASSERT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_FALSE(os::ProcessHasExited(peer.process()));
  const uint32_t pid = peer.pid();
  const int signals_before = g_application_child_signals;
  os::ProcessClose(peer.Release());  // must not wait for the child
  EXPECT_FALSE(IsGone(pid));
  folder.Go();
  EXPECT_TRUE(BecomesGone(pid)) << "the ended child stayed a zombie";
  EXPECT_GT(g_application_child_signals, signals_before) << "the earlier SIGCHLD handler was not chained";
}

}  // namespace
