#include "tools/interrupt.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "tools/own_path.h"

extern char** environ;
#endif

namespace qarn::tool {
namespace {

// How long an interrupted command may take to reach its next check point and
// release everything itself. A start or a request that waits inside the
// library has no check point; qarn ends without it once this has passed.
constexpr std::chrono::milliseconds kOrderlyEndLimit{300};

std::atomic<int> g_signal{0};
// Set by whichever ends qarn first: the command's thread or the watch.
std::atomic<bool> g_ending{false};
// Written ready-made, as the watch may not take stdio's locks.
std::string g_abandoned_message;

void WriteMessage(const std::string& text) {
  if (text.empty()) return;
#ifdef _WIN32
  fputs(text.c_str(), stderr);
  fflush(stderr);
#else
  ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
#endif
}

#ifdef _WIN32
// The C runtime runs this on a thread of its own, so it may wait for the
// command to end the orderly way and end qarn itself when it does not. What
// the session held goes with the process: Windows removes named objects with
// their last handle, and the server's pipe breaks.
extern "C" void OnInterrupt(int signal) {
  // A second signal ends qarn at once, should a release ever hang.
  std::signal(signal, SIG_DFL);
  if (g_signal.exchange(signal) != 0) return;
  Sleep(static_cast<DWORD>(kOrderlyEndLimit.count()));
  if (g_ending.exchange(true)) return;
  WriteMessage(g_abandoned_message);
  _exit(128 + signal);
}

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

void EndBy(int) {}

// The watch is ending qarn; the command's thread waits for that.
[[noreturn]] void AwaitEnd() {
  for (;;) Sleep(1000);
}
#else
// Ends the process by `signal` from the calling thread.
void EndBy(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  std::raise(signal);
}

// Starts "qarn clean --after <our pid>": once this process has ended, it
// removes the blocks and the start event the session held (their names
// carry our process, so only a process other than ours may judge them
// stale). The server ends by itself: it watches its application while it
// waits for it, and a dropped connection ends it while it serves.
void StartSweeper() {
  const std::string self = OwnExecutablePath();
  if (self.empty()) return;
  const std::string pid = std::to_string(getpid());
  const char* argv[] = {self.c_str(), "clean", "--after", pid.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  // Not in the terminal's process group: a second Ctrl-C is not for it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t sweeper = 0;
  posix_spawn(&sweeper, self.c_str(), &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

// No handler runs on the threads that do the work: under the emulator, a
// thread that returns from a handler goes on with the data of the thread
// created last (a session start's watcher). The signals stay blocked in every
// thread, and this one takes them: the first marks the command interrupted;
// when the command has not ended the orderly way soon after, or a second
// signal comes, qarn ends from here.
void TakeSignals(sigset_t signals) {
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
  g_signal = signal;
  const auto deadline = std::chrono::steady_clock::now() + kOrderlyEndLimit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const timespec wait{0, static_cast<long>(left.count())};
    if (sigtimedwait(&signals, nullptr, &wait) > 0) break;
  }
  if (!g_ending.exchange(true)) {
    StartSweeper();
    WriteMessage(g_abandoned_message);
  }
  EndBy(signal);
}

void CatchInterrupts() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Started under nohup: hang-ups stay ignored.
  struct sigaction hangup {};
  if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    std::thread(TakeSignals, signals).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);  // then the signals end qarn at once
  }
}
[[noreturn]] void AwaitEnd() {
  for (;;) pause();
}
#endif

}  // namespace

void StopIfInterrupted() {
  if (g_signal != 0) throw Interrupted{};
}

int RunInterruptible(const Command& command, const Options& options, const std::vector<std::string>& args) {
  g_abandoned_message = std::string("qarn ") + command.name +
                        ": interrupted while waiting for the server; qarn ended without it (the server "
                        "ends by itself, and what the session held is removed)\n";
  CatchInterrupts();
  int status = kExitFailed;
  try {
    status = command.run(options, args);
  } catch (const Interrupted&) {
  }
  const int signal = g_signal;
  if (signal == 0) return status;
  if (g_ending.exchange(true)) AwaitEnd();
  std::fprintf(stderr, "qarn %s: interrupted; the session was closed and its blocks released\n",
               command.name);
  std::fflush(nullptr);
  // End by the signal itself, so that a calling shell or script sees it.
  EndBy(signal);
  return 128 + signal;
}

}  // namespace qarn::tool
