#pragma once
// Ctrl-C, SIGTERM and SIGHUP end a qarn command the orderly way. The signal
// only marks the command as interrupted; a long command stops at its next
// check point by throwing Interrupted, so that the package in flight and the
// session are released by their destructors (results merged back, block
// names removed, server shut down). qarn then ends by the same signal, which
// a shell reports as 128 + its number (130, 143, 129).

#include <string>
#include <vector>

#include "tools/command.h"

namespace qarn::tool {

struct Interrupted {};

// Throws Interrupted once one of the signals has arrived.
void StopIfInterrupted();

// Runs `command` with the signals caught and returns its exit status; after
// an interruption, ends the process by that signal once all is released.
int RunInterruptible(const Command& command, const Options& options, const std::vector<std::string>& args);

}  // namespace qarn::tool
