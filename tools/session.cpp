#include <stdio.h>

#include <filesystem>

#include "platform/platform.h"
#include "qarnplus/server.h"
#include "tools/command.h"

namespace qarn::tool {

Session::Session(const Options& options)
    : handle_(f_QARNSVR_LoadLibrary(options.option, options.server_dir.c_str(), options.suffix.c_str())) {
  if (handle_ != nullptr) return;
  std::string digits;
  for (char c : options.suffix) {
    if (c >= '0' && c <= '9') digits += c;
  }
  // The executable the library tried, by its rule (qarn_svr<digits>.exe on
  // Windows), so that an existing server is not reported missing.
  std::string folder = options.server_dir;
  if (!folder.empty() && folder.back() == os::kPathSeparator) folder.pop_back();
  char server[MAX_PATH] = "";
  os::FormatServerExecutable(server, sizeof server, folder.c_str(), digits.c_str());
  if (!std::filesystem::exists(server)) {
    fprintf(stderr, "qarn: no server at %s (use --server-dir and --suffix)\n", server);
  } else {
    fprintf(stderr, "qarn: the server %s did not start or could not be reached\n", server);
  }
}

Session::~Session() {
  if (handle_ != nullptr) f_QARNSVR_FreeLibrary(handle_);
}

}  // namespace qarn::tool
