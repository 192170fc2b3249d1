#pragma once
// Runs a shell command (helper programs beside the tests, the qarn client)
// and returns what it wrote to standard output; empty if it could not run.
#include <stdio.h>

#include <string>

namespace qarn::test {

inline std::string CommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
    pclose(pipe);
  }
  return output;
}

}  // namespace qarn::test
