// The qarn command-line client, run as a program the way a user runs it:
// exit codes, what reaches stdout and stderr, and that a document call shows
// exactly the bytes the record's write-back lets come back.
#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
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
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = err.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(err.substr(at, end - at));
    if (at < err.size()) lines.push_back(err.substr(at));
    return lines;
  }
};

// The byte the stand-in server writes at record offset `at` for API `code`.
unsigned RecordPattern(unsigned code, unsigned at) { return 0x80u | ((code + at) & 0x7Fu); }

std::string Hex(unsigned byte) {
  char text[4];
  snprintf(text, sizeof text, "%02x", byte);
  return text;
}

// The lines of `out` from the one that starts with `header` (after
// indentation) up to the next block header, header excluded.
std::string BlockSection(const std::string& out, const std::string& header) {
  const std::regex start("\n  " + header + " +[0-9]+ bytes[^\n]*\n");
  std::smatch match;
  if (!std::regex_search(out, match, start)) return "";
  const std::string rest = match.suffix().str();
  const std::regex next("\n  [^ ]");
  std::smatch end;
  return std::regex_search(rest, end, next) ? rest.substr(0, end.position(0) + 1) : rest;
}

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

  std::string ns_;
  ServerFolder scratch_;
};

TEST_F(QarnCli, DemoShowsVersionCallbacksAndADocumentCallPerFamily) {
  const QarnRun run = Qarn("demo");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("server version: [1-9][0-9]*\n"))) << run.out;
  // Each callback ran in the qarn process and its answer reached the server.
  EXPECT_TRUE(
      std::regex_search(run.out, std::regex("\\[client\\] password asked[^\n]*\n  reply: SUCCESS=true, "
                                            "result=1, length=6, password=s3cret")))
      << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("\\[client\\] selected text #7[^\n]*\n  reply: "
                                                    "SUCCESS=true, result=8")))
      << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("\\[client\\] absent photo 2[^\n]*\n  reply: "
                                                    "SUCCESS=true, result=true")))
      << run.out;
  // One document call per family, each with something that came back.
  for (const char* record : {"SAPGetVersion1", "SAPGetErrMes1", "SAPPrint1", "SAPGetSealInfo1",
                             "SAPSysSetting1", "SAPExtractPages1", "SAPGetEncryptPicOfSeal"}) {
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex(std::string("\n  ") + record + " \\(code [0-9]+[^\n]*blocks?\n +back in ")))
        << record << "\n"
        << run.out;
  }
  EXPECT_NE(run.out.find("\"QARN error 6\""), std::string::npos) << run.out;
  // The USB printer record reaches the server too, and nothing of it comes back.
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex("\n  USBPrinter \\(no code, 2-node chain\\), 7 blocks\n +unchanged: ")))
      << run.out;
  EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(QarnCli, CallShowsOnlyTheBytesTheWriteBackLetsThrough) {
  // SAPGetVersion1: the server fills all seven bytes; the three version bytes come back.
  QarnRun run = Qarn("call 1");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  const std::string version_bytes =
      Hex(RecordPattern(1, 4)) + " " + Hex(RecordPattern(1, 5)) + " " + Hex(RecordPattern(1, 6));
  EXPECT_EQ(BlockSection(run.out, "record"), "      4..6 came back: " + version_bytes + "\n") << run.out;
  EXPECT_NE(run.out.find("reply: SUCCESS=true, blocks=1"), std::string::npos) << run.out;

  // SAPGetErrMes1 with a buffer: the message comes back in it, the length
  // field (bytes 6..9) does not.
  run = Qarn("call 8 u16@0=9 len@2=20");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(std::regex_search(BlockSection(run.out, "@2 buffer"),
                                std::regex("^      0\\.\\.11 came back: [0-9a-f ]+  \"QARN error 9\"\n")))
      << run.out;
  EXPECT_EQ(BlockSection(run.out, "record"), "      nothing changed\n") << run.out;

  // Without a buffer only the length comes back: the room the message needs.
  run = Qarn("call 8 null@2 u16@0=9");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(BlockSection(run.out, "@2 buffer"), "");
  EXPECT_EQ(BlockSection(run.out, "record"), "      6 came back: " + Hex(sizeof "QARN error 9") + "\n")
      << run.out;
}

TEST_F(QarnCli, CallSizesEveryKindOfBufferFromTheRuleTable) {
  // A buffer sized by a pair behind another pointer, a 16-bit element count,
  // a chain whose nodes never come back.
  QarnRun run = Qarn("call SAPEncrypt_CA len@71=10");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex("\n  @71 buffer +10 bytes, write-back whole\n      0\\.\\.9 came")))
      << run.out;
  run = Qarn("call 388 len@15=6");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("\n  @15 buffer +6 bytes"))) << run.out;
  run = Qarn("call 222 --nodes 3");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(BlockSection(run.out, "node 3"), "      nothing changed\n") << run.out;
  EXPECT_EQ(BlockSection(run.out, "node 4"), "");
}

TEST_F(QarnCli, CallUsbSendsTheRecordAndNothingOfItComesBack) {
  const QarnRun run = Qarn("call usb --nodes 3");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(
      std::regex_search(run.out, std::regex("\n> usb -?[0-9]+\nreply: SUCCESS=true, blocks=14, nodes=3\n")))
      << run.out;
  for (const char* block : {"node 1 @4 string", "node 3 @8 string", "node 3", "record"})
    EXPECT_EQ(BlockSection(run.out, block), "      nothing changed\n") << block << "\n" << run.out;
}

TEST_F(QarnCli, BadArgumentsExit2WithOneLineOnStderr) {
  for (const char* arguments : {"frobnicate",
                                "--frobnicate demo",
                                "--option x version",
                                "--server-dir",
                                "version extra",
                                "error twelve",
                                "filter 0",
                                "help nothing",
                                "call",
                                "call 9",
                                "call nine",
                                "call 8 text",
                                "call 8 @3=x",
                                "call 8 len@2=x",
                                "call 8 len@10=4",
                                "call 8 hex@6=00",
                                "call 1 hex@4=0a0b0c0d",
                                "call 8 u16@0=70000",
                                "call 8 null@2=1",
                                "call 401 len@16=5",
                                "call 222 --nodes 65",
                                "call 8 --frob",
                                "bench --rounds 0",
                                "bench --laps 3"}) {
    const QarnRun run = Qarn(arguments);
    EXPECT_EQ(run.exit_code, 2) << arguments;
    EXPECT_EQ(run.ErrLines().size(), 1u) << arguments << ": " << run.err;
    EXPECT_TRUE(run.out.empty()) << arguments << ": " << run.out;
  }
}

TEST_F(QarnCli, MissingOrSilentServerExits1) {
  ServerFolder empty;
  for (const char* command : {"version", "call 1", "demo"}) {
    const QarnRun run = Qarn("--server-dir '" + empty.path() + "' " + command);
    EXPECT_EQ(run.exit_code, 1) << command;
    ASSERT_EQ(run.ErrLines().size(), 1u) << command << ": " << run.err;
    EXPECT_NE(run.err.find("no server at"), std::string::npos) << run.err;
  }
  // A server that starts but stops answering at the first (or second) request.
  ServerFolder silent;
  silent.Install("qarn_svr");
  {
    const PeerScript script("exit");
    const QarnRun run = Qarn("--server-dir '" + silent.path() + "' version");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
  }
  for (const char* command : {"call 1", "invoke echo x"}) {
    const PeerScript script("reply,exit");
    const QarnRun run = Qarn("--server-dir '" + silent.path() + "' " + command);
    EXPECT_EQ(run.exit_code, 1) << command;
    ASSERT_EQ(run.ErrLines().size(), 1u) << command << ": " << run.err;
    EXPECT_NE(run.err.find("did not answer"), std::string::npos) << run.err;
  }
}

TEST_F(QarnCli, EveryCommandHasHelp) {
  const QarnRun usage = Qarn("--help");
  ASSERT_EQ(usage.exit_code, 0);
  EXPECT_EQ(Qarn("help").out, usage.out);
  const std::vector<std::string> commands = {"demo", "version", "invoke", "error",
                                             "tag",  "filter",  "call",   "bench"};
  for (const std::string& command : commands) {
    EXPECT_NE(usage.out.find("\n  " + command + " "), std::string::npos) << command;
    const QarnRun help = Qarn(command + " --help");
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_EQ(help.out.rfind("usage: qarn [OPTIONS] " + command, 0), 0u) << help.out;
    EXPECT_EQ(Qarn("help " + command).out, help.out) << command;
  }
  // The call help lists the API codes from the table.
  EXPECT_TRUE(
      std::regex_search(Qarn("call --help").out, std::regex(" 8 SAPGetErrMes1\n +10 SAPGetPublicKey1 ")));
}

TEST_F(QarnCli, TheServerIsGoneWhenQarnExits) {
  const QarnRun run = Qarn("invoke status");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::smatch pid;
  ASSERT_TRUE(std::regex_search(run.out, pid, std::regex("val=\"([0-9]+)\" name=\"pid\""))) << run.out;
  const std::filesystem::path process = "/proc/" + pid[1].str();
  for (int waited = 0; waited < 5000 && std::filesystem::exists(process); waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(std::filesystem::exists(process));
}

}  // namespace
