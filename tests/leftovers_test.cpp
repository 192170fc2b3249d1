// Nothing outlives a process that dies: applications killed holding blocks,
// and the qarn client interrupted by each signal a user sends. The next
// session removes what the dead left, never what the living or a user-set
// namespace own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <algorithm>

#include "qarnplus.h"
#include "tests/exact_replies.h"
#include "tests/hardening_support.h"

namespace {

using hardening::ChildProcesses;
using hardening::ServersOf;
using hardening::WaitUntil;
using qarn::test::CommandOutput;

const std::string kCrashApp = QARN_TEST_BIN_DIR "/crash_app";
const std::string kQarn = QARN_TOOLS_DIR "/qarn";
const std::string kHeldApp = QARN_TEST_BIN_DIR "/held_callback_app";

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
  // The start event is made under the application's namespace, as its
  // library would make it (this process's own namespace is fixed).
  const std::string start_name = "/qarn." + application_ns + ".ev." + event;
  sem_t* start = sem_open(start_name.c_str(), O_CREAT | O_EXCL, 0600, 0);
  ASSERT_NE(start, SEM_FAILED);
  const std::string orphan_pid =
      CommandOutput("QARN_NS=" + application_ns + " '" QARN_SERVER_DIR "/qarn_svr' -l 0 x '' x " + event +
                    " >/dev/null 2>&1 & echo $!");
  const int orphan = std::stoi(orphan_pid);
  timespec limit{};
  clock_gettime(CLOCK_REALTIME, &limit);
  limit.tv_sec += 20;
  EXPECT_EQ(sem_timedwait(start, &limit), 0) << "the server never signalled";
  sem_close(start);
  sem_unlink(start_name.c_str());
  EXPECT_TRUE(Runs(orphan)) << "the server must wait while its application runs";
  kill(application_pid, SIGKILL);
  pclose(application);
  EXPECT_TRUE(WaitUntil([&] { return !Runs(orphan); }, 2000)) << "the server waits on";
  if (Runs(orphan)) kill(orphan, SIGKILL);
  EXPECT_TRUE(runtime.Sockets().empty());

  for (const std::string& name : stale) EXPECT_FALSE(Exists("/dev/shm/" + name));
  for (const std::string& name : keep) EXPECT_TRUE(Exists("/dev/shm/" + name));
}

// An application (held_callback_app) that holds a document call's blocks
// while it waits inside a callback, until its go file appears.
struct WaitingApp {
  FILE* output = nullptr;
  std::string go;
  int pid = 0;
  std::string ns;                 // its object namespace
  std::vector<std::string> held;  // its objects in /dev/shm
  int server = 0;
};

// Lets every application still waiting go on and reaps it, whatever failed.
struct WaitingApps {
  WaitingApp apps[2];
  ~WaitingApps() {
    for (WaitingApp& app : apps) {
      if (app.output == nullptr) continue;
      close(open(app.go.c_str(), O_CREAT | O_WRONLY, 0600));
      pclose(app.output);
    }
  }
};

// The processes started with QARN_NS=<ns>: the servers of the application
// whose objects carry that namespace.
std::vector<int> ProcessesWithNamespace(const std::string& ns) {
  std::vector<int> found;
  std::error_code ignored;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = process.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream environment(process.path() / "environ");
    for (std::string variable; std::getline(environment, variable, '\0');) {
      if (variable == "QARN_NS=" + ns) found.push_back(std::stoi(name));
    }
  }
  return found;
}

// What held_callback_app prints once it may go on, from its pid.
std::string FinishedAppOutput(int pid) {
  using qarn::test::Element;
  using qarn::test::SuccessReply;
  const std::string password = "pw-" + std::to_string(pid);
  const std::string topic = "held-" + std::to_string(pid);
  return "call " + SuccessReply(Element("stringVal", "blocks", "3")) + "\ncallback " +
         SuccessReply(Element("intVal", "result", "1") +
                      Element("intVal", "length", std::to_string(password.size())) +
                      Element("stringVal", "password", password)) +
         "\nmessage " + qarn::test::Hex(qarn::test::MessageAfterCall(static_cast<uint16_t>(pid), 32)) +
         "\ntext " + qarn::test::Hex(qarn::test::TextAfterCall(topic.size())) + "\nrecord unchanged\n";
}

// A session of this process with a document call of its own; its first
// block (or server start) sweeps the stale objects of this user.
void* SessionWithADocumentCall(uint16_t lead) {
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  if (session == nullptr) return nullptr;
  f_QARNDRV_Init(session);
  char message[24] = "";
  char topic[] = "sweeper";
  SAPGetErrMes1 record{lead, message, sizeof message, topic};
  const char* reply = nullptr;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), qarn::test::kErrorMessageCode);
    const std::string call =
        "call " + std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(&record))) + " 8";
    f_QARNDRV_Invoke(session, call.c_str(), &reply, nullptr);
  }
  EXPECT_EQ(std::string(message), "QARN error " + std::to_string(lead));
  return session;
}

// Two live applications sit in callbacks holding blocks while a third process
// starts sessions and runs qarn clean, dry and for real: nothing of theirs is
// listed or removed, and both then finish with exact replies and data.
TEST(LeftoversTest, ApplicationsWaitingInCallbacksKeepTheirObjectsThroughOthersSweeps) {
  hardening::PrivateRuntime runtime;
  WaitingApps waiting;
  // One after the other: the second one's start (and sweep) comes while the
  // first waits in its callback.
  for (int i = 0; i < 2; ++i) {
    WaitingApp& app = waiting.apps[i];
    app.go = (runtime.root() / ("go" + std::to_string(i))).string();
    app.output = popen(("exec " + kHeldApp + " " QARN_SERVER_DIR " " + app.go + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(app.output, nullptr);
    char line[32];
    ASSERT_NE(fgets(line, sizeof line, app.output), nullptr) << "it never got into its callback";
    ASSERT_EQ(sscanf(line, "waiting %d", &app.pid), 1) << line;
    app.held = Objects(std::to_string(app.pid) + "-");
    ASSERT_EQ(app.held.size(), 3u) << "the record, message and topic blocks";
    const std::string named = app.held[0].substr(5);
    app.ns = named.substr(0, named.find('.'));
    for (const std::string& name : app.held) EXPECT_EQ(name.rfind("qarn." + app.ns + ".", 0), 0u) << name;
    const std::vector<int> servers = ProcessesWithNamespace(app.ns);
    ASSERT_EQ(servers.size(), 1u) << "its server";
    app.server = servers[0];
  }
  const auto expect_all_kept = [&](const std::string& after, const std::string& output) {
    for (const WaitingApp& app : waiting.apps) {
      EXPECT_EQ(output.find("qarn." + app.ns + "."), output.npos) << after << " named a live object:\n"
                                                                  << output;
      EXPECT_EQ(Objects(app.ns + "."), app.held) << after << " removed a live object";
    }
  };

  expect_all_kept("the second application's start", "");
  expect_all_kept("qarn clean --dry-run", CommandOutput(kQarn + " clean --dry-run"));
  std::vector<void*> sessions;
  for (uint16_t lead = 1; lead <= 3; ++lead) {
    sessions.push_back(SessionWithADocumentCall(lead));
    EXPECT_NE(sessions.back(), nullptr) << "session " << lead;
    expect_all_kept("a session of another process", "");
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(CommandOutput(kQarn + " version"), "10000\n");
    expect_all_kept("qarn version", "");
  }
  expect_all_kept("qarn clean", CommandOutput(kQarn + " clean"));
  for (void* session : sessions) {
    f_QARNDRV_Clean(session);
    f_QARNSVR_FreeLibrary(session);
  }

  for (WaitingApp& app : waiting.apps) {
    close(open(app.go.c_str(), O_CREAT | O_WRONLY, 0600));
    std::string rest;
    char chunk[512];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, app.output)) > 0;) rest.append(chunk, got);
    const int status = pclose(app.output);
    app.output = nullptr;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(rest, FinishedAppOutput(app.pid));
    EXPECT_EQ(Objects(std::to_string(app.pid) + "-"), std::vector<std::string>{}) << "left behind";
    EXPECT_TRUE(WaitUntil([&] { return !Runs(app.server); }, 2000)) << "its server still runs";
  }
  EXPECT_TRUE(WaitUntil([&] { return runtime.Sockets().empty(); }, 2000)) << "a server's socket is left";
}

}  // namespace
