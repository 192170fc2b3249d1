#pragma once
// Test side of the scripted peer: a temporary server folder that holds the
// peer under a server's name, the peer's script, and what the peer recorded.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qarn::test {

struct PeerMessage {
  uint32_t kind;  // 1: request, 2: answer to a callback message
  std::string bytes;
  bool IsRequest(const char* method) const {
    return kind == 1 && bytes.size() >= 146 &&
           bytes.compare(65, strlen(method) + 1, method, strlen(method) + 1) == 0;
  }
};

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class ServerFolder {
 public:
  ServerFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("qarn-test-" + std::to_string(os::CurrentProcessId()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ServerFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ServerFolder(const ServerFolder&) = delete;
  ServerFolder& operator=(const ServerFolder&) = delete;

  std::string path() const { return path_.string(); }

  // Makes `program` (beside the tests, or the server) answer to <folder>/<name>.
  void Install(const std::string& name,
               const std::string& program = QARN_TEST_BIN_DIR "/scripted_peer") const {
    std::filesystem::create_symlink(program, path_ / name);
  }

  // Everything the peer received, in order.
  std::vector<PeerMessage> Received() const {
    std::ifstream file(path_ / "peer.record", std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<PeerMessage> messages;
    size_t at = 0;
    while (at + 8 <= data.size()) {
      uint32_t kind_and_length[2];
      memcpy(kind_and_length, data.data() + at, 8);
      at += 8;
      if (at + kind_and_length[1] > data.size()) break;
      messages.push_back({kind_and_length[0], data.substr(at, kind_and_length[1])});
      at += kind_and_length[1];
    }
    return messages;
  }

  std::vector<std::string> PeerArgv() const {
    std::ifstream file(path_ / "peer.argv");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::filesystem::path path_;
};

// Sets the peer's start mode and script for the peers started while it lives.
class PeerScript {
 public:
  explicit PeerScript(const char* script, const char* start = "normal") {
    setenv("QARN_PEER_SCRIPT", script, 1);
    setenv("QARN_PEER_START", start, 1);
  }
  ~PeerScript() {
    unsetenv("QARN_PEER_SCRIPT");
    unsetenv("QARN_PEER_START");
  }
};

}  // namespace qarn::test
