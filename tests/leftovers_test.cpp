// Nothing outlives a process that dies: applications killed holding blocks,
// and the qarn client interrupted by each signal a user sends. The next
// session removes what the dead left, never what the living or a user-set
// namespace own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/hardening_support.h"

namespace {

using hardening::ChildProcesses;
using hardening::ServersOf;
using hardening::WaitUntil;
using qarn::test::CommandOutput;

const std::string kCrashApp = QARN_TEST_BIN_DIR "/crash_app";
const std::string kQarn = QARN_TOOLS_DIR "/qarn";

// Runs: neither gone nor a zombie that nobody reaps.
bool Runs(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(file, stat);
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Blocks and start events in /dev/shm of any namespace that begins `prefix`.
std::vector<std::string> Objects(const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("qarn." + prefix, 0) == 0 || name.rfind("sem.qarn." + prefix, 0) == 0)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());  // blocks first
  return names;
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

struct Case {
  const char* what;
  std::string command;  // the application
  int signal;           // sent once it holds blocks
  bool kill_server;
  int status;  // its exit status, as a shell reports it
};

TEST(LeftoversTest, DeadProcessesLeaveNothingAndLiveOnesKeepEverything) {
  hardening::PrivateRuntime runtime;
  std::filesystem::create_directory(runtime.SocketFolder());
  std::filesystem::permissions(runtime.SocketFolder(), std::filesystem::perms::owner_all);
  // What must survive every sweep: a live process's object, a user-set
  // namespace's. What the first sweep must remove: an object of a process
  // whose pid now belongs to another (this one), a start event of a process
  // that is gone, and the socket of a server that is gone.
  const std::string dead = std::to_string(5000000);  // above any pid Linux hands out
  const std::vector<std::string> keep = {"qarn." + hardening::ProcessNamespace(getppid()) + ".live",
                                         "qarn.mine" + std::to_string(getpid()) + ".userset"};
  const std::vector<std::string> stale = {"qarn." + std::to_string(getpid()) + "-1.reused",
                                          "sem.qarn." + dead + "-7.ev.dead"};
  struct Planted {
    std::vector<std::string> names;
    ~Planted() {
      for (const std::string& name : names) shm_unlink(("/" + name).c_str());
    }
  } planted{keep};
  planted.names.insert(planted.names.end(), stale.begin(), stale.end());
  for (const std::string& name : planted.names) close(shm_open(("/" + name).c_str(), O_CREAT | O_RDWR, 0600));
  const std::string dead_socket = (runtime.SocketFolder() / ("pipe." + dead)).string();
  sockaddr_un address{AF_UNIX, {}};
  dead_socket.copy(address.sun_path, sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);

  const std::string listed = CommandOutput(kQarn + " clean --dry-run");
  for (const std::string& name : stale) EXPECT_NE(listed.find("stale /dev/shm/" + name + "\n"), listed.npos);
  EXPECT_NE(listed.find("stale " + dead_socket + "\n"), listed.npos) << listed;
  for (const std::string& name : keep) EXPECT_EQ(listed.find(name), listed.npos) << listed;
  for (const std::string& name : stale) EXPECT_TRUE(Exists("/dev/shm/" + name)) << "removed by a dry run";
  const std::string removed = CommandOutput(kQarn + " clean");
  for (const std::string& name : stale)
    EXPECT_NE(removed.find("removed /dev/shm/" + name + "\n"), removed.npos);
  EXPECT_NE(removed.find("removed " + dead_socket + "\n"), removed.npos) << removed;

  const std::string app = "exec " + kCrashApp + " " QARN_SERVER_DIR;
  const std::string bench = "exec " + kQarn + " bench --rounds 20000";
  const Case cases[] = {
      {"killed holding blocks, server alive", app + " hold", SIGKILL, false, 128 + SIGKILL},
      {"killed holding blocks, server killed", app + " hold", SIGKILL, true, 128 + SIGKILL},
      {"killed in a callback the server waits for", app + " callback", SIGKILL, false, 128 + SIGKILL},
      {"qarn bench, Ctrl-C", bench, SIGINT, false, 130},
      {"qarn bench, SIGTERM", bench, SIGTERM, false, 143},
      {"qarn bench, SIGHUP", bench, SIGHUP, false, 129},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FILE* output = popen((c.command + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::vector<int> children;
    ASSERT_TRUE(WaitUntil([&] { return (children = ChildProcesses()).size() == 1; }));
    const int pid = children[0];
    const bool crash_app = c.command.find("crash_app") != c.command.npos;
    char line[32];
    if (crash_app) ASSERT_NE(fgets(line, sizeof line, output), nullptr) << "it never got to wait";
    // Holding blocks (a start event alone comes before the server), its server running.
    std::vector<std::string> held;
    std::vector<int> servers;
    ASSERT_TRUE(WaitUntil([&] {
      held = Objects(std::to_string(pid) + "-");
      servers = ServersOf(pid);
      return servers.size() == 1 && !held.empty() && held.front().rfind("qarn.", 0) == 0;
    }));
    const std::string named = held[0].substr(held[0].find("qarn.") + 5);
    const std::string ns = named.substr(0, named.find('.'));
    if (crash_app) {
      CommandOutput(kQarn + " clean");
      EXPECT_EQ(Objects(ns + "."), held) << "a live application's blocks were removed";
    }

    kill(pid, c.signal);
    if (c.kill_server) kill(servers[0], SIGKILL);
    while (fgets(line, sizeof line, output) != nullptr) {
    }
    const int status = pclose(output);
    EXPECT_EQ(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status), c.status);
    EXPECT_TRUE(WaitUntil([&] { return !Runs(servers[0]); }, 2000)) << "its server still runs";
    // What a killed process left may already be gone: any other process of
    // this user sweeps it. An interrupted one must leave nothing by itself.
    if (c.signal != SIGKILL) EXPECT_TRUE(Objects(ns + ".").empty()) << "an interrupted process left blocks";

    // A new application's session removes them; one given the dead one's
    // namespace gets fresh blocks that carry its own bytes.
    EXPECT_EQ(CommandOutput(kQarn + " version"), "10000\n");
    EXPECT_TRUE(Objects(ns + ".").empty());
    EXPECT_TRUE(runtime.Sockets().empty());
    EXPECT_EQ(CommandOutput("QARN_NS=" + ns + " " + app + " check"), "own bytes\n");
    EXPECT_TRUE(Objects(ns + ".").empty());
  }

  // A server whose application dies before connecting ends without a socket.
  // The application is a process that only waits to be killed; the server
  // gets its namespace, as the library would give it.
  FILE* application = popen("echo $$; exec sleep 600", "r");
  int application_pid = 0;
  ASSERT_EQ(fscanf(application, "%d", &application_pid), 1);
  const std::string application_ns = hardening::ProcessNamespace(application_pid);
  const std::string event = "orphan" + std::to_string(getpid());
  setenv("QARN_NS", application_ns.c_str(), 1);
  HANDLE start = nullptr;
  ASSERT_EQ(qarn::os::EventCreate(event.c_str(), &start), qarn::os::kErrorSuccess);
  const std::string orphan_pid =
      CommandOutput("QARN_NS=" + application_ns + " '" QARN_SERVER_DIR "/qarn_svr' -l 0 x '' x " + event +
                    " >/dev/null 2>&1 & echo $!");
  const int orphan = std::stoi(orphan_pid);
  EXPECT_EQ(qarn::os::EventWait(start, 20000, nullptr), qarn::os::WaitResult::kSignalled);
  qarn::os::EventClose(start);
  unsetenv("QARN_NS");
  EXPECT_TRUE(Runs(orphan)) << "the server must wait while its application runs";
  kill(application_pid, SIGKILL);
  pclose(application);
  EXPECT_TRUE(WaitUntil([&] { return !Runs(orphan); }, 2000)) << "the server waits on";
  if (Runs(orphan)) kill(orphan, SIGKILL);
  EXPECT_TRUE(runtime.Sockets().empty());

  for (const std::string& name : stale) EXPECT_FALSE(Exists("/dev/shm/" + name));
  for (const std::string& name : keep) EXPECT_TRUE(Exists("/dev/shm/" + name));
}

}  // namespace
