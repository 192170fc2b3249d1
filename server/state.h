#pragma once
// What the stand-in server remembers between requests of its one client.

#include <stdint.h>

#include <map>

namespace qarn::server {

constexpr size_t kMaxFilters = 256;

struct ServerState {
  bool driver_ready = false;  // between Init and Clean
  int32_t last_error = 0;
  std::map<uint32_t, const char*> filters;  // identity -> kind name
  uint32_t next_filter = 0x1000;
  bool shutdown = false;
};

}  // namespace qarn::server
