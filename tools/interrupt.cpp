#include "tools/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#ifndef _WIN32
#include <pthread.h>

#include <system_error>
#include <thread>
#endif

namespace qarn::tool {
namespace {

std::atomic<int> g_signal{0};

#ifdef _WIN32
extern "C" void OnInterrupt(int signal) {
  if (g_signal == 0) g_signal = signal;
  // A second signal ends qarn at once, should a release ever hang.
  std::signal(signal, SIG_DFL);
}

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

void EndBy(int) {}
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

// No handler runs on the threads that do the work: under the emulator, a
// thread that returns from a handler goes on with the data of the thread
// created last (a session start's watcher). The signals stay blocked in every
// thread, and this one takes them.
void TakeSignals(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (g_signal == 0) {
      g_signal = signal;
    } else {
      EndBy(signal);  // a second signal ends qarn at once, should a release ever hang
    }
  }
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
#endif

}  // namespace

void StopIfInterrupted() {
  if (g_signal != 0) throw Interrupted{};
}

int RunInterruptible(const Command& command, const Options& options, const std::vector<std::string>& args) {
  CatchInterrupts();
  int status = kExitFailed;
  try {
    status = command.run(options, args);
  } catch (const Interrupted&) {
  }
  const int signal = g_signal;
  if (signal == 0) return status;
  std::fprintf(stderr, "qarn %s: interrupted; the session was closed and its blocks released\n",
               command.name);
  std::fflush(nullptr);
  // End by the signal itself, so that a calling shell or script sees it.
  EndBy(signal);
  return 128 + signal;
}

}  // namespace qarn::tool
