#pragma once
// What the stand-in server remembers between requests of its one client.

#include <stdint.h>

#include <map>

namespace qarn::server {

constexpr size_t kMaxFilters = 256;

// How the server was started, as its command line said.
struct LaunchInfo {
  int option = 0;
  const char* server_dir = "";
  const char* suffix = "";
  const char* app_dir = "";
};

struct ServerState {
  LaunchInfo launch;
  bool driver_ready = false;  // between Init and Clean
  int32_t last_error = 0;
  std::map<uint32_t, const char*> filters;  // identity -> kind name
  uint32_t next_filter = 0x1000;
  bool shutdown = false;
};

}  // namespace qarn::server
