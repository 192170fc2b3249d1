// qarn: a command-line client of the qarn document server.
//   qarn [--server-dir DIR] [--suffix DIGITS] [--option N] [--trace FILE] COMMAND [ARGS...]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <exception>
#include <string>
#include <vector>

#include "qarnplus/extensions.h"
#include "qarnplus/wintypes.h"
#include "tools/client_callbacks.h"
#include "tools/command.h"
#include "tools/interrupt.h"
#include "tools/own_path.h"

namespace qarn::tool {
namespace {

int RunHelp(const Options& options, const std::vector<std::string>& args);

const std::vector<Command> kCommands = {
    {"help", "[COMMAND]", "this text, or one command's help (or: COMMAND --help)",
     "  Without COMMAND, lists the options and commands; with it, that command's\n"
     "  arguments and what it does.\n",
     0, 1, RunHelp},
    {"demo", "", "start the server and walk through everything a client does",
     "  Starts the bundled server and shows, in order: its version, the three\n"
     "  callbacks (the server calls functions of this process while a request\n"
     "  waits), a driver request, tag lookups, a filter, and one document call\n"
     "  per record family with the bytes that came back. Exits 0 when all worked.\n",
     0, 0, RunDemo},
    {"version", "", "print the server's version",
     "  Prints the version number the server reports (major*10000 + minor*100\n"
     "  + patch).\n",
     0, 0, RunVersion},
    {"invoke", "TEXT...", "send a driver request text and print the reply (try: invoke help)",
     "  Joins TEXT with blanks, sends it as one driver request and prints the\n"
     "  server's QARN_RET reply. \"qarn invoke help\" lists the server's verbs.\n"
     "  Exits 1 when the server refuses the request (SUCCESS=false) or its reply\n"
     "  was cut to fit the reply slot.\n"
     "  In \"callback KIND FUNCTION ARGS...\" name one of this client's own\n"
     "  functions where the server's help says <address>; qarn sends its address:\n",
     1, 64, RunInvoke, CallbackList},
    {"error", "[CODE]", "print the text of CODE, or of the driver's last error",
     "  Prints \"CODE: text\" from the server's error table; without CODE, the\n"
     "  error of the last request of a fresh session.\n",
     0, 1, RunError},
    {"tag", "NUMBER|NAME", "translate a tag number to its name or a name to its number",
     "  Prints \"NUMBER NAME\"; exits 1 when the server knows no such tag.\n", 1, 1, RunTag},
    {"filter", "[FACTORY]", "create a filter in the server, print its name, destroy it",
     "  FACTORY (a non-zero number) chooses the filter kind; the default is this\n"
     "  program's own factory function.\n",
     0, 1, RunFilter},
    {"call", "API-CODE [--nodes N] [SETTING...]", "make a document call on a record and show what came back",
     "  Builds the record of the type API-CODE selects (or a type name, or \"usb\"),\n"
     "  with a buffer behind every pointer field, packs it into shared blocks,\n"
     "  sends \"call <record block> <code>\" (\"usb <record block>\") and prints the\n"
     "  reply and, per block, the byte ranges that changed, marking those that\n"
     "  came back through the block's write-back. The stand-in server writes\n"
     "  0x80|((code+offset)&0x7f) into every byte it may (buffers:\n"
     "  offset+1+index; code 0 for usb), so changed bytes show.\n"
     "  Settings (OFF is a record offset, decimal or 0x hex):\n"
     "    @OFF=TEXT     the string at pointer field OFF (default \"text@OFF\"), or text\n"
     "                  copied into its buffer\n"
     "    len@OFF=N     byte count of the buffer at OFF (default 16); its length\n"
     "                  field is set to match; 0 sends a pointer with no bytes\n"
     "    null@OFF      leave the pointer at OFF NULL\n"
     "    hex@OFF=HEX   record bytes, e.g. hex@2=0a0b\n"
     "    u8@OFF=N  u16@OFF=N  u32@OFF=N   a little-endian number in the record\n"
     "  Pointer and length fields are set only through @, len@ and null@.\n"
     "  --nodes N      nodes in the record's chain (SAPPrint1, usb; default 2)\n"
     "  Example: qarn call 8 u16@0=5 len@2=32   (error message 5 into a 32-byte buffer)\n"
     "  API codes:\n",
     1, 64, RunCall, CallCodeList},
    {"bench", "[--rounds N] [--sessions M]", "time round trips, a document call and session start/end",
     "  A quick measurement: N (default 200) GetVersion and Invoke round trips\n"
     "  and document calls, and M (default 5) session starts and ends, each as\n"
     "  the mean time per operation. For the full benchmarks, each beside a raw\n"
     "  baseline measured in the same run, use bench/run.sh.\n",
     0, 4, RunBench},
    {"clean", "[--dry-run] [--after PID]", "remove blocks, start events and sockets left by killed processes",
     "  Removes this user's shared blocks and start events whose process has\n"
     "  ended (their names carry its id and start time), and sockets of servers\n"
     "  that no longer run, printing each. The library does the same once per\n"
     "  process before its first block. Names without a process id and start\n"
     "  time (a QARN_NS you set) are never touched.\n"
     "  --dry-run      only list them\n"
     "  --after PID    first wait until process PID has ended (an interrupted qarn\n"
     "                 starts this for itself)\n",
     0, 3, RunClean},
};

void PrintCommandHelp(const Command& command) {
  printf("usage: qarn [OPTIONS] %s%s%s\n  %s.\n%s", command.name, *command.arguments ? " " : "",
         command.arguments, command.summary, command.details);
  if (command.more_details != nullptr) printf("%s", command.more_details().c_str());
  printf("  OPTIONS: see qarn --help. Exit status: 0 done, 1 failed or no server, 2 bad arguments.\n");
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void PrintUsage(FILE* out) {
  fprintf(out,
          "usage: qarn [OPTIONS] COMMAND [ARGS...]   (options go before the command)\n"
          "  --server-dir DIR  folder of qarn_svr (default: the folder of qarn itself)\n"
          "  --suffix DIGITS   selects qarn_svr<DIGITS> instead of qarn_svr\n"
          "  --option N        number passed to the server after -l\n"
          "  --trace FILE      write one line per message to FILE (as QARN_TRACE=FILE does)\n"
          "  --version         print qarn's version\n"
          "commands:\n");
  for (const Command& command : kCommands) {
    fprintf(out, "  %-7s %-34s %s\n", command.name, command.arguments, command.summary);
  }
  fprintf(out,
          "Exit status: 0 done, 1 failed (no server, no answer, a failed call), 2 bad arguments.\n"
          "Start with: qarn demo\n");
}

// The options that go before the command. Each checks its value and stores
// it; false with the reason when the value cannot be used.
struct GlobalOption {
  const char* name;
  bool (*apply)(const std::string& value, Options* options, std::string* error);
};

bool SetServerDir(const std::string& value, Options* options, std::string*) {
  options->server_dir = value.empty() ? "." : value;
  return true;
}

// The library builds the server's path in MAX_PATH characters; a longer one
// cannot be started.
bool CheckServerPath(const Options& options, std::string* error) {
  const size_t length = ServerPath(options).size();
  if (length < MAX_PATH) return true;
  *error = "--server-dir is too long: the server's path would have " + std::to_string(length) +
           " characters, at most " + std::to_string(MAX_PATH - 1) + " are possible";
  return false;
}

bool SetSuffix(const std::string& value, Options* options, std::string* error) {
  if (value.size() > kMaxSuffixDigits || value.find_first_not_of("0123456789") != std::string::npos) {
    *error = "--suffix takes up to " + std::to_string(kMaxSuffixDigits) +
             " digits (it selects qarn_svr<DIGITS>), not \"" + value + "\"";
    return false;
  }
  options->suffix = value;
  return true;
}

bool SetOption(const std::string& value, Options* options, std::string* error) {
  long long number = 0;
  if (!ParseNumber(value, INT32_MIN, INT32_MAX, &number)) {
    *error = NumberExpected("--option", INT32_MIN, INT32_MAX, value);
    return false;
  }
  options->option = static_cast<int>(number);
  return true;
}

constexpr DWORD kAccessDenied = 5, kInvalidParameter = 87;

// Checked as the library will open it, so that a planted link or FIFO is
// refused here with a clear message instead of being written to or waited on.
bool SetTrace(const std::string& value, Options* options, std::string* error) {
  const DWORD code = value.empty() ? kInvalidParameter : f_QARNPLUS_CheckTraceFile(value.c_str());
  if (code != 0) {
    *error = "--trace: cannot write to \"" + value + "\"";
    if (code == kAccessDenied) *error += ": not a regular file of this user";
    return false;
  }
  options->trace = value;
  return true;
}

// The library looks at QARN_TRACE whenever a session starts.
void ExportTrace(const Options& options) {
  if (options.trace.empty()) return;
  static std::string setting;  // putenv keeps this very text in the environment
  setting = "QARN_TRACE=" + options.trace;
  putenv(&setting[0]);
}

const GlobalOption kGlobalOptions[] = {
    {"--server-dir", SetServerDir},
    {"--suffix", SetSuffix},
    {"--option", SetOption},
    {"--trace", SetTrace},
};

// The global option that `word` names ("--name" or "--name=value"), if any.
const GlobalOption* FindGlobalOption(const std::string& word) {
  for (const GlobalOption& option : kGlobalOptions) {
    const size_t length = strlen(option.name);
    if (word.compare(0, length, option.name) == 0 && (word.size() == length || word[length] == '='))
      return &option;
  }
  return nullptr;
}

int RunHelp(const Options&, const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintUsage(stdout);
    return kExitOk;
  }
  const Command* command = FindCommand(args[0]);
  if (command == nullptr) {
    fprintf(stderr, "qarn help: no command \"%s\" (see qarn --help)\n", args[0].c_str());
    return kExitUsage;
  }
  PrintCommandHelp(*command);
  return kExitOk;
}

}  // namespace

const std::vector<Command>& Commands() { return kCommands; }

}  // namespace qarn::tool

static int Main(int argc, char** argv) {
  using namespace qarn::tool;
  Options options;
  options.server_dir = OwnFolder();
  int i = 1;
  const char* last_value_of = nullptr;  // the option that took the last word as its value
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    }
    if (word == "--version") {
      printf("qarn %s\n", QARN_VERSION);
      return kExitOk;
    }
    const GlobalOption* option = FindGlobalOption(word);
    if (option == nullptr) {
      fprintf(stderr, "qarn: unknown option %s (see qarn --help)\n", argv[i]);
      return kExitUsage;
    }
    const size_t equals = word.find('=');
    if (equals == std::string::npos && i + 1 >= argc) {
      fprintf(stderr, "qarn: %s needs a value\n", argv[i]);
      return kExitUsage;
    }
    last_value_of = equals == std::string::npos ? option->name : nullptr;
    std::string error;
    if (!option->apply(equals != std::string::npos ? word.substr(equals + 1) : argv[++i], &options, &error)) {
      fprintf(stderr, "qarn: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  std::string error;
  if (!CheckServerPath(options, &error)) {
    fprintf(stderr, "qarn: %s\n", error.c_str());
    return kExitUsage;
  }
  ExportTrace(options);
  if (argc == 1) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (i >= argc) {
    // "qarn --server-dir version": the command went as the option's value.
    if (last_value_of != nullptr && FindCommand(argv[argc - 1]) != nullptr) {
      fprintf(stderr, "qarn: no command: %s took \"%s\" as its value (qarn %s VALUE %s)\n", last_value_of,
              argv[argc - 1], last_value_of, argv[argc - 1]);
    } else {
      fprintf(stderr, "qarn: no command after the options (see qarn --help)\n");
    }
    return kExitUsage;
  }
  const std::string name = argv[i];
  std::vector<std::string> args(argv + i + 1, argv + argc);
  if (const Command* command = FindCommand(name)) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      PrintCommandHelp(*command);
      return kExitOk;
    }
    for (size_t a = 0; a < args.size(); ++a) {
      if (FindGlobalOption(args[a]) == nullptr && args[a] != "--version") continue;
      const bool separate_value = args[a].find('=') == std::string::npos && args[a] != "--version";
      const std::string option = args[a] + (separate_value && a + 1 < args.size() ? " " + args[a + 1] : "");
      fprintf(stderr, "qarn %s: %s is an option of qarn itself and goes before the command: qarn %s %s ...\n",
              command->name, args[a].c_str(), option.c_str(), command->name);
      return kExitUsage;
    }
    if (args.size() < command->min_args || args.size() > command->max_args) {
      fprintf(stderr, "qarn %s: expected %s (see qarn %s --help)\n", command->name,
              *command->arguments ? command->arguments : "no arguments", command->name);
      return kExitUsage;
    }
    return RunInterruptible(*command, options, args);
  }
  fprintf(stderr, "qarn: unknown command \"%s\" (see qarn --help)\n", name.c_str());
  return kExitUsage;
}

// Nothing a user types may end the client by an exception: whatever escapes a
// command is reported and the exit status says it failed.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    fprintf(stderr, "qarn: %s\n", e.what());
  } catch (...) {
    fprintf(stderr, "qarn: an unexpected error ended the command\n");
  }
  return qarn::tool::kExitFailed;
}
