#include "tools/own_path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

namespace qarn::tool {

std::string OwnExecutablePath() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "";
  return std::string(path, length);
#else
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return "";
  return std::string(path, static_cast<size_t>(length));
#endif
}

std::string OwnFolder() {
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  const std::string path = OwnExecutablePath();
  const size_t last = path.rfind(separator);
  if (last == std::string::npos) return ".";
  return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

}  // namespace qarn::tool
