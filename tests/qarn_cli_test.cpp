// The qarn client run as a user runs it: exit codes, stdout and stderr, and
// a document call showing exactly the bytes the write-back lets come back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "peers/scripted_peer.h"
#include "tests/command_output.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;

struct QarnRun {
  int exit_code = -1;
  std::string out;
  std::string err;
  size_t ErrLines() const { return std::count(err.begin(), err.end(), '\n'); }
};

class QarnCli : public ::testing::Test {
 protected:
  // Every qarn started here and its server use this object namespace, so the
  // test can see whatever they leave in /dev/shm.
  QarnCli() : ns_("qarncli" + std::to_string(qarn::os::CurrentProcessId())) {}

  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
      EXPECT_EQ(entry.path().filename().string().find("qarn." + ns_ + "."), std::string::npos)
          << "left behind: " << entry.path();
    }
  }

  QarnRun Qarn(const std::string& arguments) {
    const std::string err_file = scratch_.path() + "/stderr";
    const std::string command = "QARN_NS=" + ns_ + " '" QARN_TOOLS_DIR "/qarn' " + arguments + " 2>'" +
                                err_file + "' </dev/null; echo \"#exit=$?\"";
    QarnRun run;
    run.out = qarn::test::CommandOutput(command);
    const size_t marker = run.out.rfind("#exit=");
    if (marker != std::string::npos) {
      run.exit_code = std::stoi(run.out.substr(marker + 6));
      run.out.erase(marker);
    }
    std::ifstream file(err_file);
    run.err.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return run;
  }

  // Starts qarn without waiting for it; its output goes to files in scratch_.
  // With own_namespace, qarn and its server use the library's namespace of
  // qarn's process, which the server watches and the sweep judges.
  pid_t StartQarn(const std::string& arguments, bool own_namespace = false) {
    const std::string command = (own_namespace ? "" : "QARN_NS=" + ns_) + " exec '" QARN_TOOLS_DIR "/qarn' " +
                                arguments + " >'" + scratch_.path() + "/stdout' 2>'" + scratch_.path() +
                                "/stderr' </dev/null";
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  std::string ns_;
  ServerFolder scratch_;
};

// Counts the requests of one method in a trace that qarn is still writing.
class TraceRequests {
 public:
  TraceRequests(std::string path, const std::string& method)
      : path_(std::move(path)), method_(" " + method + " ") {}
  size_t Count() {
    if (FILE* file = fopen(path_.c_str(), "rb")) {
      fseek(file, static_cast<long>(read_), SEEK_SET);
      char chunk[65536];
      for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0; read_ += got)
        pending_.append(chunk, got);
      fclose(file);
    }
    size_t begin = 0;
    for (size_t end; (end = pending_.find('\n', begin)) != std::string::npos; begin = end + 1) {
      const std::string_view line(pending_.data() + begin, end - begin);
      if (line.find("  ->  ") != line.npos && line.find(method_) != line.npos) ++count_;
    }
    pending_.erase(0, begin);
    return count_;
  }

 private:
  std::string path_;
  std::string method_;
  size_t read_ = 0;
  std::string pending_;
  size_t count_ = 0;
};

// The wait status of `pid`, or -1 when it has not ended within `limit`.
int WaitStatus(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

struct Case {
  std::string arguments;
  int exit_code;
  std::string expected;  // stdout, or for a failure a regex over stderr
};

// The cases of qarn_expected.txt: a "$ qarn ARGUMENTS" line (exit 0) or a
// "$?N qarn ARGUMENTS" line (exit N), then the lines that belong to it.
std::vector<Case> ExpectedCases() {
  std::ifstream file(QARN_EXPECTED_OUTPUT);
  const std::regex start(R"(\$(\?([12]))? qarn (.*))");
  std::vector<Case> cases;
  std::smatch m;
  for (std::string line; std::getline(file, line);) {
    if (std::regex_match(line, m, start)) {
      cases.push_back({m[3], m[2].matched ? std::stoi(m[2]) : 0, ""});
    } else if (!cases.empty()) {
      cases.back().expected += (cases.back().exit_code == 0 ? line + "\n" : line);
    }
  }
  return cases;
}

// The output for good input, exactly. Pointer values and the build folder
// change from run to run and are masked first.
TEST_F(QarnCli, CommandsPrintExactlyTheExpectedOutput) {
  const std::regex address("0x[0-9a-f]{6,}|-?[0-9]{8,}");
  const std::string tools = QARN_TOOLS_DIR;
  size_t good = 0;
  for (const Case& c : ExpectedCases()) {
    if (c.exit_code != 0) continue;
    ++good;
    const QarnRun run = Qarn(c.arguments);
    EXPECT_EQ(run.exit_code, 0) << c.arguments << ": " << run.err;
    std::string out = std::regex_replace(run.out, address, "<address>");
    for (size_t at; (at = out.find(tools)) != std::string::npos;) out.replace(at, tools.size(), "<tools>");
    EXPECT_EQ(out, c.expected) << "qarn " << c.arguments;
  }
  EXPECT_GE(good, 18u);
}

// Every bad input gets exit 2 (the arguments) or 1 (the server said no) and
// one stderr line that names the problem; nothing crashes. Most cases are in
// qarn_expected.txt; here those that need a folder or a long argument.
TEST_F(QarnCli, BadInputIsNamedAndExits2Or1) {
  ServerFolder slow;  // a "server" that never signals that it is ready
  std::ofstream(slow.path() + "/qarn_svr") << "#!/bin/sh\nsleep 3.5\n";
  std::filesystem::permissions(slow.path() + "/qarn_svr", std::filesystem::perms::owner_all);
  std::ofstream(slow.path() + "/qarn_svr7") << "#!/bin/sh\n";  // not executable
  std::vector<Case> cases = {
      {"--server-dir /tmp/" + std::string(300, 'a') + " version", 2,
       "too long: .* 314 characters, at most 259"},
      {"--server-dir '" + slow.path() + "' --suffix 7 version", 1,
       "^qarn: the server .*/qarn_svr7 is not executable\n$"},
      {"--trace /dev/zero version", 2, "cannot write to \"/dev/zero\": not a regular file of this user"},
      {"invoke echo " + std::string(2000, 'e'), 1, "cut its reply to fit one 1024-byte message"},
      {"invoke echo " + std::string(70000, 'e'), 1, "refused the request: the request is too long"},
      {"--server-dir '" + slow.path() + "' version", 1,
       "^qarn: the server .*/qarn_svr did not start: it ended before it was ready\n$"},
  };
  for (const Case& c : ExpectedCases()) {
    if (c.exit_code != 0) cases.push_back(c);
  }
  EXPECT_GE(cases.size(), 50u);
  for (const Case& c : cases) {
    const std::string shown = c.arguments.substr(0, 60);
    const QarnRun run = Qarn(c.arguments);
    EXPECT_EQ(run.exit_code, c.exit_code) << shown << ": " << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(c.expected))) << shown << ": " << run.err;
    EXPECT_EQ(1u, run.ErrLines()) << shown << ": " << run.err;
    if (c.exit_code == 2) EXPECT_TRUE(run.out.empty()) << shown << ": " << run.out;
  }
}

// A start that takes a while is explained on a terminal, and only there:
// captured output must not depend on how fast the machine is.
TEST_F(QarnCli, SlowStartIsExplainedOnATerminal) {
  ServerFolder slow;  // a "server" that never signals that it is ready
  std::ofstream(slow.path() + "/qarn_svr") << "#!/bin/sh\nsleep 3.5\n";
  std::filesystem::permissions(slow.path() + "/qarn_svr", std::filesystem::perms::owner_all);
  const std::string qarn =
      "QARN_NS=" + ns_ + " " QARN_TOOLS_DIR "/qarn --server-dir " + slow.path() + " version";
  // script gives qarn a terminal; both of its streams end up in the output.
  const std::string out = qarn::test::CommandOutput("script -qec '" + qarn + "' /dev/null </dev/null");
  EXPECT_TRUE(
      std::regex_search(out, std::regex("^qarn: waiting for .*/qarn_svr to signal that it is ready.*\r?\n"
                                        "qarn: the server .* did not start")))
      << out;
}

// A reply the server cut to fit its message is refused, also when the cut
// leaves only the start of a last line (nothing, a tab) before the closing
// tag. "status" echoes the server folder, each '&' in its name taking five
// characters, and the option; an option one digit longer each time moves the
// cut over the first bytes of the reply's last line.
TEST_F(QarnCli, ReplyCutAtTheStartOfItsLastLineIsRefused) {
  const auto status = [this](size_t ampersands, const std::string& option) {
    const std::string folder = scratch_.path() + "/" + std::string(ampersands, '&');
    if (!std::filesystem::exists(folder + "/qarn_svr")) {
      std::filesystem::create_directories(folder);
      std::filesystem::create_symlink(QARN_SERVER_DIR "/qarn_svr", folder + "/qarn_svr");
    }
    return Qarn("--server-dir '" + folder + "' --option " + option + " invoke status");
  };
  const std::string close = "\n</QARN_RET>\n";
  const QarnRun whole = status(1, "1");
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  const size_t length = whole.out.size() - close.size();
  const size_t last_line = whole.out.rfind('\n', length - 1);      // where the last value starts
  const size_t room = status(200, "1").out.size() - close.size();  // what a cut reply keeps
  ASSERT_GT(room, length);
  // Then, with a one-digit option, the last value starts 7 to 11 characters
  // before the cut, and eleven option widths move the cut over its start.
  const size_t ampersands = 1 + (room - 11 - last_line + 4) / 5;
  bool empty_line = false;
  bool tab_line = false;
  std::string option;
  for (const char digit : std::string("12345678901")) {
    option = option.size() == 10 ? "-" + option : option + digit;
    const QarnRun run = status(ampersands, option);
    const bool ends_whole =
        run.out.size() > close.size() + 2 &&
        run.out.compare(run.out.size() - close.size() - 2, std::string::npos, "/>" + close) == 0;
    EXPECT_EQ(run.exit_code, ends_whole ? 0 : 1) << run.out << run.err;
    if (!ends_whole) EXPECT_NE(run.err.find("cut its reply"), std::string::npos) << run.err;
    empty_line |= run.out.find("\n" + close) != std::string::npos;
    tab_line |= run.out.find("\n\t" + close) != std::string::npos;
  }
  EXPECT_TRUE(empty_line && tab_line) << "the cut missed the start of the last line";
}

// Ctrl-C in any loop of bench ends qarn at the loop's next round, the orderly
// way, by SIGINT itself (130 in a shell). The trace shows how far the loop
// got: far short of its rounds.
TEST_F(QarnCli, CtrlCStopsEveryBenchLoopAtItsNextRound) {
  const struct {
    const char* loop;
    const char* counts;
    int rounds;
    const char* method;  // what the loop sends
    size_t started;      // requests of that method sent once the loop runs
  } kLoops[] = {
      // The first GetVersion asks whether the server answers.
      {"GetVersion loop", "--rounds 20000", 20000, "GetVersion", 2},
      {"Invoke loop", "--rounds 20000", 20000, "Invoke", 1},
      {"document call loop", "--rounds 3000", 3000, "Invoke", 3001},
      {"session loop", "--rounds 1 --sessions 200", 200, "Shutdown", 2},
  };
  for (const auto& loop : kLoops) {
    SCOPED_TRACE(loop.loop);
    const std::string trace = scratch_.path() + "/trace";
    std::filesystem::remove(trace);
    const pid_t pid = StartQarn("--trace '" + trace + "' bench " + loop.counts);
    ASSERT_GT(pid, 0);
    TraceRequests requests(trace, loop.method);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    bool ended = false;
    while (requests.Count() < loop.started && !(ended = waitpid(pid, &status, WNOHANG) == pid) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const size_t at_signal = requests.Count();
    if (!ended) {
      kill(pid, SIGINT);
      status = WaitStatus(pid, std::chrono::seconds(60));
      if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
      }
    }
    ASSERT_FALSE(ended) << "qarn ended before the loop started, wait status " << status;
    ASSERT_GE(requests.Count(), loop.started) << "the loop did not start in time";
    EXPECT_TRUE(WIFSIGNALED(status) && 128 + WTERMSIG(status) == 130) << "wait status " << status;
    EXPECT_LT(requests.Count(), loop.started + loop.rounds / 2) << at_signal << " when the signal was sent";
    std::ifstream err(scratch_.path() + "/stderr");
    const std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    // A round that outlasts the moment qarn gives the command (a session
    // start under an emulator) ends it from inside the library instead.
    EXPECT_TRUE(text == "qarn bench: interrupted; the session was closed and its blocks released\n" ||
                text.rfind("qarn bench: interrupted while waiting for the server;", 0) == 0)
        << text;
  }
}

// Ctrl-C while qarn waits inside the library, where no command can check
// for it (a server that never says it is ready, one that never answers a
// request), ends qarn at once by SIGINT. The server ends by its own watch of
// its application, and the start event, the blocks of a document call and
// the server's socket are all gone soon after.
TEST_F(QarnCli, CtrlCInsideAStartOrARequestEndsQarnAtOnceAndLeavesNothing) {
  const struct {
    const char* hold_at;
    const char* command;
    bool holds_objects;  // the start event, or a document call's blocks
  } kCases[] = {{"start", "version", true}, {"request", "call 8", true}, {"request", "invoke echo x", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.hold_at) + ": " + c.command);
    ServerFolder folder;
    folder.Install("qarn_svr", QARN_TEST_BIN_DIR "/holding_server");
    setenv("QARN_HOLD_AT", c.hold_at, 1);
    const pid_t pid = StartQarn("--server-dir '" + folder.path() + "' " + c.command, true);
    unsetenv("QARN_HOLD_AT");
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(folder.path() + "/held") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int server = 0;
    std::ifstream(folder.path() + "/server.pid") >> server;
    ASSERT_GT(server, 0) << "the server did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Whatever qarn made carries its process in the name.
    std::vector<std::string> owned;
    const std::string mark = "qarn." + std::to_string(pid) + "-";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
      if (entry.path().filename().string().find(mark) != std::string::npos) owned.push_back(entry.path());
    }
    EXPECT_EQ(!owned.empty(), c.holds_objects);

    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    int status = WaitStatus(pid, std::chrono::seconds(30));
    const auto took = std::chrono::steady_clock::now() - signalled;
    if (status == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "wait status " << status;
    // A fraction of a second natively; an emulator takes longer to start the sweep.
    EXPECT_LT(took, std::chrono::seconds(2));
    std::ifstream err(scratch_.path() + "/stderr");
    const std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("interrupted while waiting for the server"), std::string::npos) << text;

    char socket[108];
    ASSERT_GT(qarn::os::PipeName(static_cast<uint32_t>(server), socket, sizeof socket), 0);
    const auto gone = [&] {
      for (const std::string& path : owned) {
        if (std::filesystem::exists(path)) return false;
      }
      return kill(server, 0) != 0 && !std::filesystem::exists(socket);
    };
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!gone() && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(kill(server, 0), 0) << "the server still runs";
    EXPECT_FALSE(std::filesystem::exists(socket)) << socket;
    for (const std::string& path : owned)
      EXPECT_FALSE(std::filesystem::exists(path)) << "left behind: " << path;
  }
}

// One line per message, callbacks nested under the request they came with.
TEST_F(QarnCli, TraceShowsEveryMessageOfTheSession) {
  const std::string file = scratch_.path() + "/trace";
  const QarnRun run = Qarn("--trace '" + file + "' invoke callback passwd password x.pdf");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::ifstream in(file);
  const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string head = " +[0-9]+\\.[0-9]{3} ms  session [0-9a-f]{8}  ";
  const std::string took = "  [0-9]+\\.[0-9]{3} ms\n";
  const std::string expected =
      "^# qarnplus trace[^\n]*\n" + head + "->    QARN_Driver +Init +146 bytes\n" + head +
      "<-    QARN_Driver +Init +146 bytes" + took + head + "->    QARN_Driver +Invoke +[0-9]+ bytes\n" +
      head + "   <- QARN_Callback GetDocPasswd +([0-9]+) bytes\n" + head +
      "   -> QARN_Callback GetDocPasswd +\\1 bytes" + took + head +
      "<-    QARN_Driver +Invoke +[0-9]+ bytes" + took + head + "->    QARN_Driver +Clean +146 bytes\n" +
      head + "<-    QARN_Driver +Clean +146 bytes" + took + head + "->    QARN_Server +Shutdown +146 bytes\n";
  EXPECT_TRUE(std::regex_search(trace, std::regex(expected))) << trace;
}

TEST_F(QarnCli, SilentServerExits1) {
  // A server that starts but stops answering at the first (or second) request.
  ServerFolder silent;
  silent.Install("qarn_svr");
  const struct {
    const char* script;
    const char* command;
    const char* err;
  } kCases[] = {{"exit", "version", "did not report a version"},
                {"reply,exit", "call 1", "did not answer"},
                {"reply,exit", "invoke echo x", "did not answer"}};
  for (const auto& c : kCases) {
    const PeerScript script(c.script);
    const QarnRun run = Qarn("--server-dir '" + silent.path() + "' " + c.command);
    EXPECT_EQ(run.exit_code, 1) << c.command;
    ASSERT_EQ(run.ErrLines(), 1u) << c.command << ": " << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

TEST_F(QarnCli, EveryCommandHasHelp) {
  const QarnRun usage = Qarn("--help");
  ASSERT_EQ(usage.exit_code, 0);
  EXPECT_EQ(Qarn("help").out, usage.out);
  const std::vector<std::string> commands = {"help", "demo",   "version", "invoke", "error",
                                             "tag",  "filter", "call",    "bench",  "clean"};
  for (const std::string& command : commands) {
    EXPECT_NE(usage.out.find("\n  " + command + " "), std::string::npos) << command;
    const QarnRun help = Qarn(command + " --help");
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_EQ(help.out.rfind("usage: qarn [OPTIONS] " + command, 0), 0u) << help.out;
    EXPECT_EQ(help.out.find(" \n"), std::string::npos) << "a line ends in a blank: " << help.out;
    EXPECT_EQ(Qarn("help " + command).out, help.out) << command;
  }
}

}  // namespace
