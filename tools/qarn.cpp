// qarn: a command-line client of the qarn document server.
//   qarn [--server-dir DIR] [--suffix S] [--option N] COMMAND [ARGS...]
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/command.h"
#include "tools/interrupt.h"

namespace qarn::tool {
namespace {

const std::vector<Command> kCommands = {
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
     "  server's QARN_RET reply. \"qarn invoke help\" lists the server's verbs.\n",
     1, 64, RunInvoke},
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
    {"clean", "[--dry-run]", "remove blocks, start events and sockets left by killed processes",
     "  Removes this user's shared blocks and start events whose process has\n"
     "  ended (their names carry its id and start time), and sockets of servers\n"
     "  that no longer run, printing each. The library does the same once per\n"
     "  process before its first block. Names without a process id and start\n"
     "  time (a QARN_NS you set) are never touched.\n"
     "  --dry-run      only list them\n",
     0, 1, RunClean},
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
          "usage: qarn [--server-dir DIR] [--suffix S] [--option N] COMMAND [ARGS...]\n"
          "  --server-dir DIR  folder of qarn_svr (default: the folder of qarn itself)\n"
          "  --suffix S        digit suffix selecting qarn_svr<digits>\n"
          "  --option N        number passed to the server after -l\n"
          "commands:\n");
  for (const Command& command : kCommands) {
    fprintf(out, "  %-7s %-34s %s\n", command.name, command.arguments, command.summary);
  }
  fprintf(out, "  %-7s %-34s %s\n", "help", "[COMMAND]",
          "this text, or one command's help (or: COMMAND --help)");
  fprintf(out,
          "Exit status: 0 done, 1 failed (no server, no answer, a failed call), 2 bad arguments.\n"
          "Start with: qarn demo\n");
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
  if (name == "help") {
    if (args.empty()) {
      PrintUsage(stdout);
      return kExitOk;
    }
    const Command* command = args.size() == 1 ? FindCommand(args[0]) : nullptr;
    if (command == nullptr) {
      fprintf(stderr, "qarn help: no command \"%s\" (see qarn --help)\n", args[0].c_str());
      return kExitUsage;
    }
    PrintCommandHelp(*command);
    return kExitOk;
  }
  if (const Command* command = FindCommand(name)) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      PrintCommandHelp(*command);
      return kExitOk;
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
