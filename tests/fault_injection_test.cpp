// A server that fails at each step of a session, across real processes
// (tests/peers/scripted_peer.cpp). Every case ends with the failure value of
// the call that was waiting, the application's own record and buffers hold
// what they should, and afterwards no server process, socket, semaphore or
// block object is left.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "connection/launch.h"
#include "connection/session.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"
#include "qarnplus/shrmem.h"
#include "tests/hardening_support.h"

namespace {

using hardening::OwnSharedObjects;

const char kServiceOff[] =
    "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"Service Off\" "
    "name=\"error\"/>\n</QARN_RET>";

std::string NameOf(const void* p) {
  return std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(p)));
}

std::vector<unsigned char> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::vector<unsigned char>(b, b + n);
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Install("qarn_svr");
    ASSERT_TRUE(OwnSharedObjects().empty());
  }

  void TearDown() override {
    unsetenv("QARN_PEER_START");
    unsetenv("QARN_PEER_SCRIPT");
    const int pid = hardening::ServerPid(folder_.path());
    EXPECT_NE(0, pid) << "the server never started";
    if (pid != 0) EXPECT_TRUE(hardening::ProcessGone(pid)) << "server " << pid << " outlived the test";
    EXPECT_TRUE(hardening::WaitUntil([] { return hardening::ChildProcesses().empty(); }))
        << "a child process is left";
    EXPECT_EQ(std::vector<std::string>{}, OwnSharedObjects());
    EXPECT_EQ(std::vector<std::string>{}, runtime_.Sockets());
  }

  void* Load(const char* start = "normal", const char* script = "verb") {
    setenv("QARN_PEER_START", start, 1);
    setenv("QARN_PEER_SCRIPT", script, 1);
    return f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), "");
  }

  // f_QARNDRV_Invoke that must fail: the Service Off text, counters untouched.
  void ExpectServiceOff(void* session, const std::string& request) {
    LARGE_INTEGER times[4];
    for (int i = 0; i < 4; ++i) times[i].QuadPart = 0x1111 * (i + 1);
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session, request.c_str(), &reply, times);
    ASSERT_NE(nullptr, reply) << request;
    EXPECT_STREQ(kServiceOff, reply) << request;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0x1111 * (i + 1), times[i].QuadPart) << request;
  }

  std::string Invoke(void* session, const std::string& request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session, request.c_str(), &reply, nullptr);
    return reply != nullptr ? reply : "";
  }

  // Once the server is gone, every later call on the session fails with its
  // own failure value, and ending the session still releases everything.
  void ExpectDeadSessionAndFree(void* session) {
    EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
    ExpectServiceOff(session, "echo after");
    EXPECT_EQ(nullptr, f_QARNDRV_FormatMessage(session, static_cast<QARNDRV_ERR>(1)));
    EXPECT_EQ(DXML_TAG_INVALID, f_QARNDRV_GetTagIDByName(session, "document"));
    EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(session, static_cast<DXML_TAG>(5)));
    f_QARNSVR_FreeLibrary(session);
    EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
  }

  hardening::PrivateRuntime runtime_;
  qarn::test::ServerFolder folder_;
};

// A server that ends before it signals fails the load long before the start
// time-out; one that ends after signalling, before it offers the pipe, stops
// the connect's retries at once with "file not found".
TEST_F(FaultInjection, ServerEndsDuringTheStart) {
  for (const char* start : {"nosignal", "crash-before-signal", "exit-after-signal", "crash-after-signal"}) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, Load(start)) << start;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << start;
    EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path()))) << start;
    if (strstr(start, "after") == nullptr) continue;
    DWORD pid = 0;
    HANDLE process = INVALID_HANDLE_VALUE;
    ASSERT_EQ(1, qarn::LaunchServer(0, folder_.path().c_str(), "", &pid, &process)) << start;
    unsigned long thrown = 0;
    try {
      c_QARNPlus_Session session(pid, process, 300);
    } catch (unsigned long code) {
      thrown = code;
    }
    EXPECT_EQ(qarn::os::kErrorFileNotFound, thrown) << start;
    qarn::os::ProcessClose(process);
    EXPECT_TRUE(hardening::ProcessGone(static_cast<int>(pid))) << start;
  }
}

// The server dies, or closes the pipe and stays alive a while, under a
// waiting request: the request fails with a broken pipe, and so does every
// later call.
TEST_F(FaultInjection, ServerGoneUnderAWaitingRequest) {
  for (const char* script : {"reply,die", "reply,close", "reply,reply,die"}) {
    void* session = Load("normal", script);
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(1, f_QARNSVR_GetVersion(session));
    if (strlen(script) > 12) {
      EXPECT_EQ("#2", Invoke(session, "x"));
      EXPECT_EQ(-1, f_QARNSVR_GetVersion(session));
    } else {
      ExpectServiceOff(session, "x");
    }
    EXPECT_EQ(qarn::os::kErrorBrokenPipe, qarn::AsSession(session)->m_dwLastError) << script;
    ExpectDeadSessionAndFree(session);
  }
}

// The application's selected-text function, called by the server.
std::vector<int> g_callbacks;
int RecordCallback(unsigned short n, RECT rect, long value) {
  const bool arguments_whole = rect.left == n && rect.bottom == 4 * n && value == 100 + n;
  g_callbacks.push_back(arguments_whole ? n : -n);
  return n;
}

// A server killed part-way through a series of callbacks: the callbacks that
// came before ran once each, in order, and the request fails, whether the
// server died while the library waited for the next message (between) or
// while the library was answering (pending).
TEST_F(FaultInjection, ServerDiesInTheMiddleOfCallbacks) {
  const std::string address = std::to_string(reinterpret_cast<uintptr_t>(&RecordCallback));
  const struct {
    const char* script;
    std::vector<int> ran;
  } cases[] = {
      {" 4 2 between", {1, 2}},
      {" 4 3 pending", {1, 2, 3}},
      {" 1 1 between", {1}},
  };
  for (const auto& c : cases) {
    void* session = Load();
    ASSERT_NE(nullptr, session);
    g_callbacks.clear();
    EXPECT_NE(std::string::npos,
              Invoke(session, "callbacks " + address + " 3 99 between").find("ok callbacks"));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), g_callbacks) << "a series that completes";
    g_callbacks.clear();
    ExpectServiceOff(session, "callbacks " + address + c.script);
    EXPECT_EQ(c.ran, g_callbacks) << c.script;
    ExpectDeadSessionAndFree(session);
    EXPECT_TRUE(hardening::ProcessGone(hardening::ServerPid(folder_.path())));
  }
}

// The record of a document call with two buffers, with known contents.
struct ErrorCall {
  ErrorCall() {
    memset(message, 0x33, sizeof message);
    record = SAPGetErrMes1{3, message, sizeof message, text};
  }
  char message[40];
  char text[4] = "abc";
  SAPGetErrMes1 record{};
};

// A document call while the package is open. Results reach the application
// only through its blocks, when its package is released: a server that died
// before it wrote leaves every byte as it was; one that wrote and then died
// leaves exactly what a server that replied would have left, because the
// merge takes the bytes from the application's own blocks, which outlive the
// server. The request itself fails either way.
TEST_F(FaultInjection, ServerDiesDuringADocumentCall) {
  void* session = Load("normal", "verb,die");
  ASSERT_NE(nullptr, session);
  ErrorCall replied;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&replied.record), 8);
    EXPECT_NE(std::string::npos, Invoke(session, "doc " + NameOf(&replied.record) + " 8").find("SUCCESS"));
  }
  EXPECT_NE(0, memcmp(ErrorCall().message, replied.message, sizeof replied.message))
      << "the call did nothing";

  ErrorCall untouched;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&untouched.record), 8);
    ExpectServiceOff(session, "die");
  }
  ErrorCall fresh;
  EXPECT_EQ(Bytes(fresh.message, sizeof fresh.message), Bytes(untouched.message, sizeof untouched.message));
  EXPECT_STREQ("abc", untouched.text);
  EXPECT_EQ(untouched.message, static_cast<char*>(untouched.record.pMessage));
  EXPECT_EQ(untouched.text, static_cast<char*>(untouched.record.pszText));
  EXPECT_EQ(sizeof untouched.message, static_cast<uint32_t>(untouched.record.nMessageLen));
  ExpectDeadSessionAndFree(session);

  session = Load();
  ASSERT_NE(nullptr, session);
  ErrorCall died;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&died.record), 8);
    ExpectServiceOff(session, "doc-die " + NameOf(&died.record) + " 8");
  }
  EXPECT_EQ(Bytes(replied.message, sizeof replied.message), Bytes(died.message, sizeof died.message));
  EXPECT_EQ(Bytes(replied.text, sizeof replied.text), Bytes(died.text, sizeof died.text));
  EXPECT_EQ(died.message, static_cast<char*>(died.record.pMessage))
      << "a server address reached the application";
  EXPECT_EQ(died.text, static_cast<char*>(died.record.pszText));
  EXPECT_EQ(static_cast<uint32_t>(replied.record.nMessageLen),
            static_cast<uint32_t>(died.record.nMessageLen));
  ExpectDeadSessionAndFree(session);
}

// Killed while it still held the record's blocks open: its bytes come back
// through the write-back mask (only the 3 version bytes), and the objects
// go with the application's package all the same.
TEST_F(FaultInjection, ServerDiesHoldingTheBlocks) {
  void* session = Load();
  ASSERT_NE(nullptr, session);
  SAPGetVersion1 version;
  memset(&version, 0x21, sizeof version);
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&version), 1);
    ExpectServiceOff(session, "hold-die " + NameOf(&version) + " 1 0xA5 7");
    EXPECT_EQ(std::vector<unsigned char>(sizeof version, 0x21), Bytes(&version, sizeof version))
        << "results appeared before the package was released";
  }
  EXPECT_EQ((std::vector<unsigned char>{0x21, 0x21, 0x21, 0x21, 0xA5, 0xA5, 0xA5}),
            Bytes(&version, sizeof version));
  ExpectDeadSessionAndFree(session);
}

// A block name already taken in our namespace by an object open to group or
// others or owned by someone else: the package cannot be made nor the block
// opened by a server; "access denied" is thrown, and
// what it had made already is released without touching the application's
// buffers. The squatting object itself is left alone.
TEST_F(FaultInjection, BlockNameTakenByAnotherObject) {
  void* session = Load();
  ASSERT_NE(nullptr, session);
  const std::string ns = qarn::os::ObjectNamespace();
  for (const char* squat : {"0640 -1", "0604 -1", "0660 -1", "0602 -1", "0600 65534"}) {
    if (strstr(squat, "65534") != nullptr && geteuid() != 0) continue;  // only root can give it away
    ErrorCall call;
    const std::string squatted = NameOf(&call.record);
    ASSERT_EQ("created\n", hardening::Run("intruder", "block " + ns + " " + squatted + " " + squat));
    unsigned long thrown = 0;
    try {
      c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&call.record), 8);
      ADD_FAILURE() << "a package was made on a foreign object: " << squat;
    } catch (unsigned long code) {
      thrown = code;
    }
    EXPECT_EQ(qarn::os::kErrorAccessDenied, thrown) << squat;
    thrown = 0;
    try {
      c_QARNPlus_Shrmem opened(squatted.c_str());  // nor can a server open it
    } catch (unsigned long code) {
      thrown = code;
    }
    EXPECT_EQ(qarn::os::kErrorAccessDenied, thrown) << squat;
    EXPECT_EQ(std::vector<std::string>{"qarn." + ns + "." + squatted}, OwnSharedObjects()) << squat;
    EXPECT_EQ(Bytes(ErrorCall().message, sizeof call.message), Bytes(call.message, sizeof call.message));
    EXPECT_STREQ("abc", call.text);
    EXPECT_EQ(4096u, std::filesystem::file_size("/dev/shm/qarn." + ns + "." + squatted)) << squat;
    shm_unlink(("/qarn." + ns + "." + squatted).c_str());
  }
  EXPECT_EQ(1, f_QARNSVR_GetVersion(session)) << "the session is unharmed";
  f_QARNSVR_FreeLibrary(session);
}

// /dev/shm full. Filling the machine's /dev/shm would harm everyone, so a
// child process mounts a tiny tmpfs over /dev/shm in a mount namespace of its
// own, where only it sees it, and makes a package that does not fit. Skipped
// where mount namespaces are not allowed.
enum FullShmResult {
  kFullOk = 0,
  kNoNamespace = 77,
  kNotThrown = 10,
  kWrongCode,
  kLeftover,
  kBuffersChanged
};

int PackageInFullShm() {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=20k") != 0) {
    return kNoNamespace;
  }
  // 16 KiB fit, the small text block too, and then the record block does not.
  static char message[16384];
  char text[] = "abc";
  memset(message, 0x33, sizeof message);
  SAPGetErrMes1 record{3, message, sizeof message, text};
  int result = kNotThrown;
  try {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), 8);
  } catch (unsigned long code) {
    result = code == qarn::os::kErrorNotEnoughMemory ? kFullOk : kWrongCode;
  }
  if (result == kFullOk && !hardening::OwnSharedObjects().empty()) result = kLeftover;
  for (char byte : message) {
    if (result == kFullOk && byte != 0x33) result = kBuffersChanged;
  }
  if (result == kFullOk && strcmp(text, "abc") != 0) result = kBuffersChanged;
  return result;
}

TEST(SharedMemoryFull, PackageThatDoesNotFitThrowsAndReleasesWhatItMade) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(PackageInFullShm());
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(kFullOk, WEXITSTATUS(status));
}

}  // namespace
