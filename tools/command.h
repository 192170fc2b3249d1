#pragma once
// The qarn client's commands: a table of names, argument counts and
// functions. Each command opens its own session with the server.

#include <string>
#include <vector>

namespace qarn::tool {

struct Options {
  std::string server_dir;  // default: the folder of the qarn executable
  std::string suffix;
  int option = 0;
  std::string trace;  // the message trace's file, or empty
};

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// The library uses at most this many digits of a suffix, and drops any other
// character; qarn refuses what it would drop.
constexpr size_t kMaxSuffixDigits = 31;

// The longest message the library reads, a reply among them.
constexpr unsigned kReplySlotSize = 1024;

struct Command {
  const char* name;
  const char* arguments;  // for the usage line
  const char* summary;
  const char* details;  // the rest of the command's --help
  size_t min_args;
  size_t max_args;
  int (*run)(const Options& options, const std::vector<std::string>& args);
  std::string (*more_details)() = nullptr;  // help generated from tables
};

// The table, defined in qarn.cpp.
const std::vector<Command>& Commands();

// The server program the options name, as the library builds its path.
std::string ServerPath(const Options& options);

// An open session, freed when it goes out of scope. While the server takes
// longer than a few seconds to start, says on stderr what it waits for; when
// no session opens, says why on stderr.
class Session {
 public:
  explicit Session(const Options& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  void* handle() const { return handle_; }
  bool ok() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

// Command functions.
int RunDemo(const Options& options, const std::vector<std::string>& args);
int RunVersion(const Options& options, const std::vector<std::string>& args);
int RunInvoke(const Options& options, const std::vector<std::string>& args);
int RunError(const Options& options, const std::vector<std::string>& args);
int RunTag(const Options& options, const std::vector<std::string>& args);
int RunFilter(const Options& options, const std::vector<std::string>& args);
int RunCall(const Options& options, const std::vector<std::string>& args);
int RunBench(const Options& options, const std::vector<std::string>& args);
int RunClean(const Options& options, const std::vector<std::string>& args);

// The API codes `qarn call` takes, with their record types, for its help.
std::string CallCodeList();

// Parses a whole decimal or 0x hex number.
bool ParseNumber(const std::string& text, long long low, long long high, long long* value);
// "WHAT must be a number from LOW to HIGH, not "TEXT"".
std::string NumberExpected(const std::string& what, long long low, long long high, const std::string& text);

}  // namespace qarn::tool
