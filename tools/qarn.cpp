// qarn: a command-line client of the qarn document server.
//   qarn [--server-dir DIR] [--suffix S] [--option N] COMMAND [ARGS...]
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/command.h"

namespace qarn::tool {
namespace {

const std::vector<Command> kCommands = {
    {"demo", "", "start the server and run one round trip of everything", 0, 0, RunDemo},
    {"version", "", "print the server's version", 0, 0, RunVersion},
    {"invoke", "TEXT...", "send a driver request text and print the reply (try: invoke help)", 1, 64,
     RunInvoke},
    {"error", "[CODE]", "print the text of CODE, or of the driver's last error", 0, 1, RunError},
    {"tag", "NUMBER|NAME", "translate a tag number to its name or a name to its number", 1, 1, RunTag},
    {"filter", "[FACTORY]", "create a filter in the server, print its name, destroy it", 0, 1, RunFilter},
};

void PrintUsage(FILE* out) {
  fprintf(out,
          "usage: qarn [--server-dir DIR] [--suffix S] [--option N] COMMAND [ARGS...]\n"
          "  --server-dir DIR  folder of qarn_svr (default: the folder of qarn itself)\n"
          "  --suffix S        digit suffix selecting qarn_svr<digits>\n"
          "  --option N        number passed to the server after -l\n"
          "commands:\n");
  for (const Command& command : kCommands) {
    fprintf(out, "  %-8s %-12s %s\n", command.name, command.arguments, command.summary);
  }
  fprintf(out, "COMMAND --help prints the usage of one command.\n");
}

std::string OwnFolder() {
  char path[MAX_PATH] = "";
  if (os::ExecutablePath(path, sizeof path) != os::kErrorSuccess) return ".";
  char* last = strrchr(path, os::kPathSeparator);
  if (last == nullptr) return ".";
  *last = '\0';
  return path;
}

// Takes "--name value" or "--name=value"; true when argv[*i] was this option.
bool TakeOption(const char* name, int argc, char** argv, int* i, std::string* value, bool* missing) {
  const size_t length = strlen(name);
  if (strncmp(argv[*i], name, length) != 0) return false;
  if (argv[*i][length] == '=') {
    *value = argv[*i] + length + 1;
    return true;
  }
  if (argv[*i][length] != '\0') return false;
  if (*i + 1 >= argc) {
    *missing = true;
    return true;
  }
  *value = argv[++*i];
  return true;
}

}  // namespace

const std::vector<Command>& Commands() { return kCommands; }

}  // namespace qarn::tool

int main(int argc, char** argv) {
  using namespace qarn::tool;
  Options options;
  options.server_dir = OwnFolder();
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return kExitOk;
    }
    std::string value;
    bool missing = false;
    if (TakeOption("--server-dir", argc, argv, &i, &value, &missing)) {
      options.server_dir = value;
    } else if (TakeOption("--suffix", argc, argv, &i, &value, &missing)) {
      options.suffix = value;
    } else if (TakeOption("--option", argc, argv, &i, &value, &missing)) {
      long long number = 0;
      if (!missing && !ParseNumber(value, INT32_MIN, INT32_MAX, &number)) {
        fprintf(stderr, "qarn: --option needs a number, not \"%s\"\n", value.c_str());
        return kExitUsage;
      }
      options.option = static_cast<int>(number);
    } else {
      fprintf(stderr, "qarn: unknown option %s (see qarn --help)\n", argv[i]);
      return kExitUsage;
    }
    if (missing) {
      fprintf(stderr, "qarn: %s needs a value\n", argv[i]);
      return kExitUsage;
    }
  }
  if (i >= argc) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[i];
  std::vector<std::string> args(argv + i + 1, argv + argc);
  for (const Command& command : Commands()) {
    if (name != command.name) continue;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      printf("usage: qarn [OPTIONS] %s %s\n  %s\n", command.name, command.arguments, command.summary);
      return kExitOk;
    }
    if (args.size() < command.min_args || args.size() > command.max_args) {
      fprintf(stderr, "qarn %s: expected %s (see qarn %s --help)\n", command.name,
              *command.arguments ? command.arguments : "no arguments", command.name);
      return kExitUsage;
    }
    return command.run(options, args);
  }
  fprintf(stderr, "qarn: unknown command \"%s\" (see qarn --help)\n", name.c_str());
  return kExitUsage;
}
