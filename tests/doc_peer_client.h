#pragma once
// Runs the doc_peer program (tests/peers/doc_peer.cpp) as the server's end of
// a call, in its own process with this process's block namespace, and checks
// that nothing of ours is left in /dev/shm.

#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/leak_check.h"
#include "platform/platform.h"
#include "tests/command_output.h"

namespace transport_test {

// The peer's standard output (empty if it could not be run).
inline std::string RunPeer(const std::string& arguments) {
  const std::string command = std::string("QARN_NS='") + qarn::os::ObjectNamespace() +
                              "' '" QARN_TEST_BIN_DIR "/doc_peer' " + arguments + " 2>&1";
  return qarn::test::CommandOutput(command);
}

inline std::string ShmPath(const std::string& block_name) {
  return std::string("/dev/shm/qarn.") + qarn::os::ObjectNamespace() + "." + block_name;
}

// Block objects of this process's namespace still in /dev/shm.
inline int LeftoverBlocks() { return static_cast<int>(qarn::fuzz::OwnBlocks()); }

// The block name of a pointer, as both ends form it.
inline std::string NameOf(const void* p) {
  return std::to_string(static_cast<int>(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p))));
}

// A file in /dev/shm under the block name of `p` that group and others may
// read: the mapping layer refuses to attach to it.
struct Squatter {
  explicit Squatter(const void* p) : path(ShmPath(NameOf(p))) {
    std::ofstream(path).put('x');
    std::filesystem::permissions(path, std::filesystem::perms(0644));
  }
  ~Squatter() { std::filesystem::remove(path); }
  std::string path;
};

// The system code `work` throws, 0 for none.
template <class Work>
unsigned long Thrown(Work work) {
  try {
    work();
  } catch (unsigned long code) {
    return code;
  }
  return 0;
}

}  // namespace transport_test
