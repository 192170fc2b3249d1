#include <stdio.h>

#include <filesystem>

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
  const std::filesystem::path server = std::filesystem::path(options.server_dir) / ("qarn_svr" + digits);
  if (!std::filesystem::exists(server)) {
    fprintf(stderr, "qarn: no server at %s (use --server-dir and --suffix)\n", server.string().c_str());
  } else {
    fprintf(stderr, "qarn: the server %s did not start or could not be reached\n", server.string().c_str());
  }
}

Session::~Session() {
  if (handle_ != nullptr) f_QARNSVR_FreeLibrary(handle_);
}

}  // namespace qarn::tool
