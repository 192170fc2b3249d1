#include "tools/interrupt.h"

#include <csignal>
#include <cstdio>

namespace qarn::tool {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnInterrupt(int signal) {
  if (g_signal == 0) g_signal = signal;
  // A second signal ends qarn at once, should a release ever hang.
  std::signal(signal, SIG_DFL);
}

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
#ifdef SIGHUP
  // Started under nohup: hang-ups stay ignored.
  if (std::signal(SIGHUP, OnInterrupt) == SIG_IGN) std::signal(SIGHUP, SIG_IGN);
#endif
}

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
#ifndef _WIN32
  // End by the signal itself, so that a calling shell or script sees it.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
#endif
  return 128 + signal;
}

}  // namespace qarn::tool
