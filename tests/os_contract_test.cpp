// The OS layer's contract, checked the same way against both back ends: the
// POSIX one natively, the Win32 one under Wine. Where the platforms truly
// differ, an #if says why. Cross-process cases start this program again as
// the server is started; it then plays the peer (main() at the end).

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include "connection/launch.h"
#include "platform/platform.h"
#include "qarnplus/exception.h"

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <aclapi.h>
#else
#include <pthread.h>
#endif

namespace {

namespace os = qarn::os;

enum PeerRole {
  kPeerEcho = 1,           // serves the pipe: its arguments, then an echo of each message
  kPeerExitWithoutSignal,  // exits at once
  kPeerMapping,            // opens the block named by the argument, checks and inverts it
  kPeerTwoClients,         // serves two clients in turn (Windows)
  kPeerFault,              // faults in the way the argument names (Windows)
  kPeerSquatter,           // makes the pipe of the pid in the argument first and answers (Windows)
  kPeerIntruder,           // opens the pipe of the pid in the argument before its application (Windows)
  kPeerEventSquatter,      // makes the event named by the argument first, holds it until set (Windows)
};

constexpr uint32_t kPeerTimeoutMs = 30000;
constexpr uint32_t kSlot = 1024;        // the library's reply slot
constexpr uint32_t kBlockSize = 10000;  // not a whole number of pages

std::string UniqueName(const char* what) {
  static int counter = 0;
  return "qarnos." + std::to_string(os::CurrentProcessId()) + "." + what + "." + std::to_string(++counter);
}

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + seed);
  return bytes;
}

unsigned char PatternByte(uint32_t i) { return static_cast<unsigned char>(i * 7 + 3); }

// ---- The peer process -----------------------------------------------------

struct Peer {
  HANDLE process = nullptr;
  uint32_t pid = 0;
  std::string folder;
  std::string command_line;  // what Windows passes on unchanged
};

// Starts this program as the peer in `role`, as the library starts a server.
uint32_t LaunchPeer(PeerRole role, const std::string& argument, const std::string& event_name, Peer* peer) {
  char exe[1024] = {};
  os::ExecutablePath(exe, sizeof exe);
  peer->folder = exe;
  peer->folder.erase(peer->folder.rfind(os::kPathSeparator));
  peer->command_line = "\"" + std::string(exe) + "\" -l " + std::to_string(role) + " \"" + peer->folder +
                       "\" \"" + argument + "\" \"" + peer->folder + "\" " + event_name;
  const os::ServerLaunch launch = {exe,
                                   static_cast<int>(role),
                                   peer->folder.c_str(),
                                   argument.c_str(),
                                   peer->folder.c_str(),
                                   event_name.c_str(),
                                   peer->command_line.c_str()};
  return os::ProcessStart(launch, &peer->process, &peer->pid);
}

// Launches the peer and waits for its start event; false (and the peer
// finished) when it ended without it.
bool StartPeer(PeerRole role, const std::string& argument, Peer* peer) {
  const std::string event_name = UniqueName("start");
  HANDLE event = nullptr;
  EXPECT_EQ(os::EventCreate(event_name.c_str(), &event), os::kErrorSuccess);
  if (event == nullptr) return false;
  const uint32_t launched = LaunchPeer(role, argument, event_name, peer);
  EXPECT_EQ(launched, os::kErrorSuccess);
  const bool started = launched == os::kErrorSuccess &&
                       os::EventWait(event, kPeerTimeoutMs, peer->process) == os::WaitResult::kSignalled;
  os::EventClose(event);
  EXPECT_TRUE(started) << "the peer did not start";
  return started;
}

// Waits for the peer to end and releases it; false when it did not end in time.
bool FinishPeer(Peer* peer) {
  const bool ended = os::ProcessAwaitExit(peer->process, kPeerTimeoutMs);
  os::ProcessClose(peer->process);
  peer->process = nullptr;
  return ended;
}

// ---- Start event ------------------------------------------------------------

// A taken name is refused (another start owns it); one signal, kept until
// the wait, counts once (auto-reset); a wait ends when the process it
// watches ends unsignalled; the creator's close removes the name.
TEST(OsContract, StartEvent) {
  const std::string name = UniqueName("event");
  HANDLE event = nullptr;
  ASSERT_EQ(os::EventCreate(name.c_str(), &event), os::kErrorSuccess);
  HANDLE again = nullptr;
  EXPECT_EQ(os::EventCreate(name.c_str(), &again), os::kErrorAlreadyExists);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(os::EventWait(event, 30, nullptr), os::WaitResult::kTimedOut);
  ASSERT_EQ(os::EventSignal(name.c_str()), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event, 0, nullptr), os::WaitResult::kSignalled);
  EXPECT_EQ(os::EventWait(event, 0, nullptr), os::WaitResult::kTimedOut);
  Peer peer;
  if (LaunchPeer(kPeerExitWithoutSignal, "", name, &peer) == os::kErrorSuccess) {
    EXPECT_EQ(os::EventWait(event, os::kWaitForever, peer.process), os::WaitResult::kProcessExited);
    EXPECT_TRUE(FinishPeer(&peer));
  } else {
    ADD_FAILURE() << "no peer";
  }
  os::EventClose(event);
  EXPECT_EQ(os::EventSignal(name.c_str()), os::kErrorFileNotFound);
}

// ---- Shared mappings --------------------------------------------------------

// A block shared with another process, and views exactly as large as asked:
// the server believes no record length beyond them.
TEST(OsContract, MappingSharedAcrossProcessesWithExactViews) {
  const std::string name = UniqueName("block");
  HANDLE mapping = nullptr;
  void* view = nullptr;
  ASSERT_EQ(os::MappingCreate(name.c_str(), kBlockSize, &mapping), os::kErrorSuccess);
  ASSERT_EQ(os::MappingMapView(mapping, kBlockSize, &view), os::kErrorSuccess);
  EXPECT_EQ(os::MappingViewSize(mapping, view), kBlockSize);
  auto* bytes = static_cast<unsigned char*>(view);
  for (uint32_t i = 0; i < kBlockSize; ++i) bytes[i] = PatternByte(i);

  // Opened by name, a view of size 0 is the whole block.
  HANDLE opened = nullptr;
  void* whole = nullptr;
  ASSERT_EQ(os::MappingOpen(name.c_str(), &opened), os::kErrorSuccess);
  EXPECT_EQ(os::MappingMapView(opened, 1u << 20, &whole), os::kErrorAccessDenied)
      << "a view beyond the block";
  ASSERT_EQ(os::MappingMapView(opened, 0, &whole), os::kErrorSuccess);
#if defined(_WIN32)
  // The size of the whole comes from the system, which may keep whole pages
  // (Wine does); Windows itself keeps the exact size.
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t pages = (kBlockSize + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
  const size_t whole_size = os::MappingViewSize(opened, whole);
  EXPECT_TRUE(whole_size == kBlockSize || whole_size == pages) << whole_size;
#else
  EXPECT_EQ(os::MappingViewSize(opened, whole), kBlockSize);
#endif
  EXPECT_EQ(memcmp(whole, view, kBlockSize), 0);
  os::MappingUnmapView(opened, whole);
  EXPECT_EQ(os::MappingViewSize(opened, whole), 0u) << "an unmapped view";
  os::MappingClose(opened);

  // The peer opens it by name, checks every byte and inverts them.
  Peer peer;
  if (StartPeer(kPeerMapping, name, &peer) && FinishPeer(&peer)) {
    uint32_t inverted = 0;
    while (inverted < kBlockSize && bytes[inverted] == (PatternByte(inverted) ^ 0xFF)) ++inverted;
    EXPECT_EQ(inverted, kBlockSize);
  }
  os::MappingUnmapView(mapping, view);
  os::MappingClose(mapping);
  // The last handle is gone, and so is the name.
  HANDLE none = nullptr;
  EXPECT_EQ(os::MappingOpen(name.c_str(), &none), os::kErrorFileNotFound);
  EXPECT_EQ(os::MappingCreate(UniqueName("empty").c_str(), 0, &none), os::kErrorInvalidParameter);
}

int PeerMapping(const char* block_name) {
  HANDLE mapping = nullptr;
  void* view = nullptr;
  if (os::MappingOpen(block_name, &mapping) != os::kErrorSuccess) return 201;
  int result = os::MappingMapView(mapping, 0, &view) == os::kErrorSuccess ? 0 : 202;
  auto* bytes = static_cast<unsigned char*>(view);
  for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) result = bytes[i] == PatternByte(i) ? 0 : 203;
  for (uint32_t i = 0; i < kBlockSize && result == 0; ++i) bytes[i] ^= 0xFF;
  if (view != nullptr) os::MappingUnmapView(mapping, view);
  os::MappingClose(mapping);
  return result;
}

// ---- Message pipe -----------------------------------------------------------

// Reads one message, which must be `expected`, with the read's `result`.
void ExpectMessage(HANDLE pipe, const std::string& expected, uint32_t result = os::kErrorSuccess) {
  char slot[kSlot];
  uint32_t length = 0;
  EXPECT_EQ(os::PipeRead(pipe, slot, kSlot, &length), result);
  ASSERT_EQ(length, expected.size());
  EXPECT_EQ(memcmp(slot, expected.data(), length), 0);
}

// The server's arguments arrive exactly, blanks and quotes' contents and all;
// messages keep their boundaries; a vanished peer breaks the pipe both ways.
TEST(OsContract, PipeMessagesAcrossProcesses) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  EXPECT_EQ(os::PipeOpen(os::CurrentProcessId(), &pipe), os::kErrorFileNotFound) << "nobody listens";
  Peer peer;
  ASSERT_TRUE(StartPeer(kPeerEcho, "1.4 x", &peer));
  ASSERT_EQ(os::PipeOpen(peer.pid, &pipe), os::kErrorSuccess);
  ASSERT_EQ(os::PipeSetMessageMode(pipe), os::kErrorSuccess);
  ExpectMessage(pipe, "-l|1|" + peer.folder + "|1.4 x|" + peer.folder);
#if defined(_WIN32)
  // Windows passes the command line on as the library built it.
  ExpectMessage(pipe, peer.command_line);
#endif
  // Written back to back, echoed one by one with sizes and bytes intact.
  const size_t sizes[] = {1, 146, kSlot, 5, 663};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(os::PipeWrite(pipe, Pattern(sizes[i], i).data(), sizes[i]), 0u);
  for (size_t i = 0; i < 5; ++i) ExpectMessage(pipe, Pattern(sizes[i], i));
  // One byte more than the slot: kErrorMoreData with the message's start,
  // and the rest is gone on both platforms (a packet socket drops it, the
  // Windows back end reads it away), so the next read is the next message.
  // A wait for a message runs out while none comes and ends when one does.
  const std::string oversized = Pattern(kSlot + 1, 9);
  EXPECT_EQ(os::PipeWrite(pipe, oversized.data(), kSlot + 1), 0u);
  ExpectMessage(pipe, oversized.substr(0, kSlot), os::kErrorMoreData);
  EXPECT_EQ(os::PipeWaitReadable(pipe, 50), os::kErrorTimeout);
  EXPECT_EQ(os::PipeWrite(pipe, "next", 4), 0u);
  EXPECT_EQ(os::PipeWaitReadable(pipe, 30000), 0u);
  ExpectMessage(pipe, "next");
  // The peer echoes "bye" and ends without closing anything: the message
  // still arrives, then the pipe is broken both ways, and a wait says so
  // at once.
  EXPECT_EQ(os::PipeWrite(pipe, "bye", 3), 0u);
  ExpectMessage(pipe, "bye");
  EXPECT_EQ(os::PipeWaitReadable(pipe, 30000), 0u);
  ExpectMessage(pipe, {}, os::kErrorBrokenPipe);
  EXPECT_NE(os::PipeWrite(pipe, "late", 4), 0u);
  os::PipeClose(pipe);
  EXPECT_TRUE(FinishPeer(&peer));
}

// Writes `text`, then reads until the client is gone (0 when it left with a
// broken pipe). With `echo` it echoes each message; after "bye" it vanishes,
// closing nothing.
int Serve(HANDLE pipe, const std::string& text, bool echo) {
  if (os::PipeWrite(pipe, text.data(), static_cast<uint32_t>(text.size())) != os::kErrorSuccess) return 104;
  char buffer[4096];
  uint32_t length = 0;
  uint32_t result;
  while ((result = os::PipeRead(pipe, buffer, sizeof buffer, &length)) == os::kErrorSuccess) {
    if (echo && os::PipeWrite(pipe, buffer, length) != os::kErrorSuccess) return 100;
    if (echo && length == 3 && memcmp(buffer, "bye", 3) == 0) std::_Exit(0);
  }
  return result == os::kErrorBrokenPipe ? 0 : static_cast<int>(result);
}

int PeerPipe(int role, char** argv, const char* event_name) {
  HANDLE listener = INVALID_HANDLE_VALUE;
  if (os::PipeListen(os::CurrentProcessId(), &listener) != os::kErrorSuccess) return 102;
  if (os::EventSignal(event_name) != os::kErrorSuccess) return 101;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (os::PipeAccept(listener, &pipe) != os::kErrorSuccess) return 103;
  int result = 99;
  if (role == kPeerEcho) {
    const std::string arguments =
        std::string(argv[1]) + "|" + argv[2] + "|" + argv[3] + "|" + argv[4] + "|" + argv[5];
#if defined(_WIN32)
    if (os::PipeWrite(pipe, arguments.data(), static_cast<uint32_t>(arguments.size())) != os::kErrorSuccess)
      return 104;
    result = Serve(pipe, GetCommandLineA(), true);
#else
    result = Serve(pipe, arguments, true);
#endif
  }
#if defined(_WIN32)
  if (role == kPeerTwoClients) {  // one client after the other on the one instance
    result = Serve(pipe, "first", false);
    os::PipeClose(pipe);
    pipe = INVALID_HANDLE_VALUE;
    if (result == 0 && !DisconnectNamedPipe(listener)) result = 105;
    if (result == 0 && os::PipeAccept(listener, &pipe) != os::kErrorSuccess) result = 106;
    if (result == 0) result = Serve(pipe, "second", false);
  }
#endif
  os::PipeClose(pipe);
  os::PipeListenerClose(listener);
  return result;
}

#if defined(_WIN32)
// A Windows pipe has one instance: while it serves a client, another is
// busy, and the library's loop of open and wait gets in once it is free. (A
// POSIX listener queues further clients in its backlog instead; a full
// backlog is busy, see the platform test.)
TEST(OsContract, BusyPipeAndWait) {
  Peer peer;
  ASSERT_TRUE(StartPeer(kPeerTwoClients, "", &peer));
  HANDLE first = INVALID_HANDLE_VALUE;
  HANDLE second = INVALID_HANDLE_VALUE;
  ASSERT_EQ(os::PipeOpen(peer.pid, &first), os::kErrorSuccess);
  ASSERT_EQ(os::PipeSetMessageMode(first), os::kErrorSuccess);
  ExpectMessage(first, "first");
  EXPECT_EQ(os::PipeOpen(peer.pid, &second), os::kErrorPipeBusy);
  EXPECT_NE(os::PipeWaitBusy(peer.pid, 100), 0u) << "a short wait gives up";
  os::PipeClose(first);
  uint32_t result = os::kErrorPipeBusy;
  for (int attempt = 0; attempt < 10 && result == os::kErrorPipeBusy; ++attempt) {
    result = os::PipeOpen(peer.pid, &second);
    if (result == os::kErrorPipeBusy) {
      EXPECT_EQ(os::PipeWaitBusy(peer.pid, kPeerTimeoutMs), 0u);
    }
  }
  ASSERT_EQ(result, os::kErrorSuccess);
  ASSERT_EQ(os::PipeSetMessageMode(second), os::kErrorSuccess);
  ExpectMessage(second, "second");
  os::PipeClose(second);
  EXPECT_TRUE(FinishPeer(&peer));
}
#endif

// ---- Settings ---------------------------------------------------------------

constexpr uint32_t kUntouched = 0xA5A5A5A5u;

// Writes the "Debug" setting where the platform keeps it (nullptr: none).
struct DebugCase {
#if defined(_WIN32)
  // The registry value under HKEY_LOCAL_MACHINE "SOFTWARE\TALVEX\QARN_SVR".
  DWORD type;
  unsigned char data[5];
  DWORD size;
#else
  // The configuration file ${QARN_CONFIG}; nullptr: no file at all.
  const char* content;
#endif
  uint32_t result;
  uint32_t value;  // kUntouched: the output is left as it was
};

// A missing setting is kErrorFileNotFound and leaves the output; a setting
// that is there but unreadable fails too. Any non-zero setting also lifts the
// start time-out.
TEST(OsContract, DebugSetting) {
#if defined(_WIN32)
  const char* const key = "SOFTWARE\\TALVEX\\QARN_SVR";
  const DebugCase cases[] = {
      {REG_DWORD, {1, 0, 0, 0x80}, 4, os::kErrorSuccess, 0x80000001u},
      // Any type of 4 bytes is read as the number.
      {REG_BINARY, {1, 2, 3, 4}, 4, os::kErrorSuccess, 0x04030201u},
      // A longer value fails.
      {REG_BINARY, {1, 2, 3, 4, 5}, 5, os::kErrorMoreData, kUntouched},
      // A shorter one fills the low bytes of a zero number: an empty one is 0.
      {REG_BINARY, {}, 0, os::kErrorSuccess, 0},
  };
  // A missing key: the read creates it and finds no value.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  uint32_t value = kUntouched;
  EXPECT_EQ(os::ReadDebugSetting(&value), os::kErrorFileNotFound);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key), ERROR_SUCCESS) << "the read did not create the key";
#else
  const DebugCase cases[] = {
      {nullptr, os::kErrorFileNotFound, kUntouched},
      {"Other=1\n", os::kErrorFileNotFound, kUntouched},
      {"Debug=0\n", os::kErrorSuccess, 0},
      {"# settings\nOther=5\n  debug = 4294967295 \r\n", os::kErrorSuccess, 0xFFFFFFFFu},
      {"Debug=0x1F", os::kErrorSuccess, 0x1F},
      {"Debug=0XfFfFfFfF\n", os::kErrorSuccess, 0xFFFFFFFFu},
      {"Debug=010\n", os::kErrorSuccess, 10},
      {"Debug=2\nDebug=3\n", os::kErrorSuccess, 2},
      {"Debug=yes\n", os::kErrorInvalidParameter, kUntouched},
      {"Debug=12abc\n", os::kErrorInvalidParameter, kUntouched},
      {"Debug=-1\n", os::kErrorInvalidParameter, kUntouched},
      {"Debug=4294967296\n", os::kErrorInvalidParameter, kUntouched},
      {"Debug=0x\n", os::kErrorInvalidParameter, kUntouched},
      {"Debug=\n", os::kErrorInvalidParameter, kUntouched},
  };
  const std::string path = ::testing::TempDir() + UniqueName("conf");
  setenv("QARN_CONFIG", path.c_str(), 1);
#endif
  for (const auto& c : cases) {
    const int index = static_cast<int>(&c - cases);
#if defined(_WIN32)
    if (RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "Debug", c.type, c.data, c.size) != ERROR_SUCCESS) {
      ADD_FAILURE() << "case " << index << ": the value could not be set";
      continue;
    }
#else
    remove(path.c_str());
    if (c.content != nullptr) std::ofstream(path) << c.content;
#endif
    uint32_t value = kUntouched;
    EXPECT_EQ(os::ReadDebugSetting(&value), c.result) << "case " << index;
    EXPECT_EQ(value, c.value) << "case " << index;
    const bool lifted = c.result == os::kErrorSuccess && c.value != 0;
    EXPECT_EQ(qarn::StartWaitTimeout(), lifted ? os::kWaitForever : qarn::kStartWaitMs) << "case " << index;
  }
#if defined(_WIN32)
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
#else
  remove(path.c_str());
  unsetenv("QARN_CONFIG");
#endif
}

// ---- Fault texts ------------------------------------------------------------

TEST(OsContract, FaultTexts) {
  const struct {
    unsigned id;
    const char* text;
  } cases[] = {
      {1999, ""},  // no text outside the table
#define QARN_FAULT_TEXT(id, code, text) {id, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
      {2021, ""},
  };
  ASSERT_EQ(sizeof cases / sizeof cases[0], 2u + 21u);
  char buffer[776];
  for (const auto& c : cases) {
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(os::LoadFaultText(c.id, buffer, sizeof buffer), static_cast<int>(strlen(c.text))) << c.id;
    EXPECT_STREQ(buffer, c.text) << c.id;
  }
  // A short buffer takes the text's start, terminated.
  EXPECT_EQ(os::LoadFaultText(2000, buffer, 11), 10);
  EXPECT_STREQ(buffer, "The thread");
}

// ---- Fault translation -------------------------------------------------------

// The faulting functions stay real calls with their arguments unknown, so
// that each fault happens where the test means it to, and the sanitizers
// leave their faults to the translator.
#if defined(__clang__)
#define FAULTING_FUNCTION __attribute__((noinline, no_sanitize("address", "undefined")))
#else
#define FAULTING_FUNCTION __attribute__((noipa, no_sanitize("address", "undefined")))
#endif
volatile int g_zero = 0;
FAULTING_FUNCTION int ReadAt(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
FAULTING_FUNCTION void WriteAt(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }
FAULTING_FUNCTION int Divide(int dividend, int divisor) { return dividend / divisor; }
FAULTING_FUNCTION void Breakpoint() { __asm__ volatile("int3"); }

struct Counter {
  int* count;
  ~Counter() { ++*count; }
};
// The unwinding passes through the faulting frame and runs its cleanups.
FAULTING_FUNCTION int ReadWithCleanup(uintptr_t address, int* destroyed) {
  Counter counter{destroyed};
  return *reinterpret_cast<volatile int*>(address) + 1;
}

constexpr ULONG_PTR kNotAnAccess = 99;  // no ExceptionInformation to check

// Every fault of the list on the calling thread, one after the other: the
// path must work again after it ran once. Caught at the faulting frame's
// handlers with the fault's record and its own context.
void FaultsBecomeExceptions() {
  c_QARNPlus_Exception::Initialize();
  int destroyed = 0;
  const struct {
    const char* name;
    void (*fault)(int* destroyed);
    DWORD code;
    ULONG_PTR access;  // ExceptionInformation[0]: 0 read, 1 write
    uintptr_t address;
  } cases[] = {
      {"read", [](int* count) { ReadWithCleanup(0x10, count); }, EXCEPTION_ACCESS_VIOLATION, 0, 0x10},
      {"write", [](int*) { WriteAt(0x20); }, EXCEPTION_ACCESS_VIOLATION, 1, 0x20},
      {"divide", [](int*) { Divide(7, g_zero); }, EXCEPTION_INT_DIVIDE_BY_ZERO, kNotAnAccess, 0},
      {"breakpoint", [](int*) { Breakpoint(); }, EXCEPTION_BREAKPOINT, kNotAnAccess, 0},
  };
  for (const auto& c : cases) {
    bool caught = false;
    try {
      c.fault(&destroyed);
    } catch (const c_QARNPlus_Exception& e) {
      caught = true;
      const EXCEPTION_RECORD& record = e.m_ExceptionRecord;
      EXPECT_EQ(record.ExceptionCode, c.code) << c.name;
      EXPECT_EQ(e.m_Context.Eip, reinterpret_cast<uintptr_t>(record.ExceptionAddress)) << c.name;
      if (c.access != kNotAnAccess) {
        EXPECT_EQ(record.NumberParameters, 2u) << c.name;
        EXPECT_EQ(record.ExceptionInformation[0], c.access) << c.name;
        EXPECT_EQ(record.ExceptionInformation[1], c.address) << c.name;
      }
    }
    EXPECT_TRUE(caught) << c.name;
  }
#if !defined(__clang__)  // clang has no non-call exceptions: a fault unwinds only across a call
  EXPECT_EQ(destroyed, 1);

  // The faulting instruction opens the guarded code: its handler is found
  // from the fault's own address, not the byte before it, round after round,
  // and the frame's locals survive the translator.
  int caught = 0;
  volatile int* volatile nowhere = nullptr;
  for (int round = 1; round <= 3; ++round) {
    try {
      *nowhere = round;  // NOLINT(clang-analyzer-core.NullDereference): the fault under test
    } catch (const c_QARNPlus_Exception& e) {
      if (e.m_ExceptionRecord.ExceptionInformation[1] == 0) caught += round;
    }
  }
  EXPECT_EQ(caught, 1 + 2 + 3);
#endif
  c_QARNPlus_Exception::Deinitialize();
}

#if defined(_WIN32)
DWORD WINAPI FaultsOnThread(void*) {
  FaultsBecomeExceptions();
  return 0;
}
#else
void* FaultsOnThread(void*) {
  FaultsBecomeExceptions();
  return nullptr;
}
#endif

// On this thread, and on a thread that installs the translator for itself.
TEST(OsContract, FaultsBecomeExceptions) {
  FaultsBecomeExceptions();
#if defined(_WIN32)
  const HANDLE thread = CreateThread(nullptr, 0, FaultsOnThread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, kPeerTimeoutMs), WAIT_OBJECT_0);
  CloseHandle(thread);
#else
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, FaultsOnThread, nullptr), 0);
  pthread_join(thread, nullptr);
#endif
}

#if defined(_WIN32)
// Faults that must not be translated end the process with the fault's code,
// which only Windows reports as the exit code (a POSIX process ends by the
// signal; the death tests of the exception test check that).
DWORD WINAPI ReadOnThread(void*) { return static_cast<DWORD>(ReadAt(0x40)); }
void ReturnWithoutThrowing(unsigned int, EXCEPTION_POINTERS*) {}
void FaultInTranslator(unsigned int, EXCEPTION_POINTERS*) { ReadAt(0x50); }
LONG WINAPI EndWithCode(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

TEST(OsContract, UntranslatedFaultsEndTheProcess) {
  const struct {
    const char* variant;
    DWORD exit_code;
  } cases[] = {
      {"after", EXCEPTION_ACCESS_VIOLATION},        // after Deinitialize
      {"thread", EXCEPTION_ACCESS_VIOLATION},       // on a thread without a translator
      {"returning", EXCEPTION_INT_DIVIDE_BY_ZERO},  // a translator that returns
      {"faulting", EXCEPTION_ACCESS_VIOLATION},     // a translator that faults: no endless loop
  };
  for (const auto& c : cases) {
    Peer peer;
    if (!StartPeer(kPeerFault, c.variant, &peer)) continue;
    DWORD exit_code = 0;
    EXPECT_EQ(WaitForSingleObject(peer.process, kPeerTimeoutMs), WAIT_OBJECT_0) << c.variant;
    GetExitCodeProcess(peer.process, &exit_code);
    EXPECT_EQ(exit_code, c.exit_code) << c.variant;
    FinishPeer(&peer);
  }
}

int PeerFault(const char* variant, const char* event_name) {
  // No error box and no debugger: an unhandled fault ends the process.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithCode);
  if (os::EventSignal(event_name) != os::kErrorSuccess) return 301;
  if (strcmp(variant, "returning") == 0 || strcmp(variant, "faulting") == 0) {
    os::SetThreadTranslator(variant[0] == 'f' ? FaultInTranslator : ReturnWithoutThrowing);
    return Divide(1, g_zero);
  }
  c_QARNPlus_Exception::Initialize();
  if (strcmp(variant, "thread") == 0) {
    WaitForSingleObject(CreateThread(nullptr, 0, ReadOnThread, nullptr, 0, nullptr), kPeerTimeoutMs);
    return 302;
  }
  c_QARNPlus_Exception::Deinitialize();
  return ReadAt(0x40);
}
#endif

#if defined(_WIN32)
// ---- Another process that knows the names (Windows) -------------------------
//
// Windows names pipes, events and mappings globally, so another process can
// make ours first. On POSIX the same squatting is refused per user, which
// other_user_test shows with a second uid.

std::string OwnPid() { return std::to_string(os::CurrentProcessId()); }

// The squatter made "\\.\Pipe\<our pid>" as if it were the server we started
// (here: this process): the client refuses the pipe instead of talking to it,
// and our own listener cannot share the name with it.
TEST(OsContract, PipeSquatterIsRefused) {
  Peer squatter;
  ASSERT_TRUE(StartPeer(kPeerSquatter, OwnPid(), &squatter));
  HANDLE listener = INVALID_HANDLE_VALUE;
  EXPECT_NE(os::PipeListen(os::CurrentProcessId(), &listener), os::kErrorSuccess);
  os::PipeListenerClose(listener);
  HANDLE pipe = INVALID_HANDLE_VALUE;
  EXPECT_EQ(os::PipeOpen(os::CurrentProcessId(), &pipe), os::kErrorAccessDenied);
  EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FinishPeer(&squatter));  // it saw its client leave without a word
}

// The application's side: opens the pipe once the intruder is dropped and
// says who it is.
DWORD WINAPI ConnectAsApplication(void* context) {
  HANDLE* client = static_cast<HANDLE*>(context);
  uint32_t result = os::kErrorPipeBusy;
  for (int attempt = 0; attempt < 50 && result == os::kErrorPipeBusy; ++attempt) {
    result = os::PipeOpen(os::CurrentProcessId(), client);
    if (result == os::kErrorPipeBusy) os::PipeWaitBusy(os::CurrentProcessId(), kPeerTimeoutMs);
  }
  if (result == os::kErrorSuccess) os::PipeWrite(*client, "mine", 4);
  return result;
}

// With the application named to it, the server drops the intruder that came
// first and serves the application that comes after.
TEST(OsContract, ServerServesOnlyItsApplication) {
  _putenv((std::string(os::kApplicationPidVariable) + "=" + OwnPid()).c_str());
  HANDLE listener = INVALID_HANDLE_VALUE;
  EXPECT_EQ(os::PipeListen(os::CurrentProcessId(), &listener), 0u);
  Peer intruder;
  if (listener != INVALID_HANDLE_VALUE && StartPeer(kPeerIntruder, OwnPid(), &intruder)) {
    HANDLE client = INVALID_HANDLE_VALUE;
    const HANDLE application = CreateThread(nullptr, 0, ConnectAsApplication, &client, 0, nullptr);
    HANDLE served = INVALID_HANDLE_VALUE;
    EXPECT_EQ(os::PipeAccept(listener, &served), 0u);
    ULONG pid = 0;
    EXPECT_TRUE(GetNamedPipeClientProcessId(served, &pid));
    EXPECT_EQ(pid, os::CurrentProcessId());
    char message[16];
    uint32_t length = 0;
    EXPECT_EQ(os::PipeRead(served, message, sizeof message, &length), 0u);
    EXPECT_EQ(std::string(message, length), "mine");
    os::PipeClose(served);
    WaitForSingleObject(application, kPeerTimeoutMs);
    CloseHandle(application);
    os::PipeClose(client);
    EXPECT_TRUE(FinishPeer(&intruder));  // it was dropped without a message
  }
  os::PipeListenerClose(listener);
  _putenv((std::string(os::kApplicationPidVariable) + "=").c_str());
}

// Another process made the next start event's name first: creating it is
// refused as taken (the start moves on to the next name) rather than
// waiting on an event the squatter sets.
TEST(OsContract, SquattedStartEventIsTaken) {
  const std::string name = UniqueName("squatted");
  Peer squatter;
  ASSERT_TRUE(StartPeer(kPeerEventSquatter, name, &squatter));
  HANDLE event = nullptr;
  EXPECT_EQ(os::EventCreate(name.c_str(), &event), os::kErrorAlreadyExists);
  EXPECT_EQ(event, nullptr);
  EXPECT_EQ(os::EventSignal(name.c_str()), 0u);  // lets the squatter go
  EXPECT_TRUE(FinishPeer(&squatter));
}

// The access list of `object`: exactly one entry, allowing our user.
bool OnlyOurUser(HANDLE object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool only_ours = false;
  void* ace = nullptr;
  HANDLE token = nullptr;
  unsigned char user[256];
  DWORD size = 0;
  if (dacl != nullptr && dacl->AceCount == 1 && GetAce(dacl, 0, &ace) &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, user, sizeof user, &size)) {
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    only_ours =
        allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        EqualSid(const_cast<DWORD*>(&allowed->SidStart), reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  }
  if (token != nullptr) CloseHandle(token);
  LocalFree(descriptor);
  return only_ours;
}

TEST(OsContract, ObjectsAreOpenToOurUserAlone) {
  HANDLE event = nullptr;
  ASSERT_EQ(os::EventCreate(UniqueName("private").c_str(), &event), 0u);
  EXPECT_TRUE(OnlyOurUser(event));
  os::EventClose(event);
  HANDLE mapping = nullptr;
  ASSERT_EQ(os::MappingCreate(UniqueName("private").c_str(), 4096, &mapping), 0u);
  EXPECT_TRUE(OnlyOurUser(mapping));
  os::MappingClose(mapping);
  HANDLE listener = INVALID_HANDLE_VALUE;
  ASSERT_EQ(os::PipeListen(os::CurrentProcessId(), &listener), 0u);
  EXPECT_TRUE(OnlyOurUser(listener));
  os::PipeListenerClose(listener);
}

int PeerIntruder(int role, const char* argument, const char* event_name) {
  if (role == kPeerEventSquatter) {
    const HANDLE squatted = CreateEventA(nullptr, FALSE, FALSE, argument);
    if (squatted == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 130;
    if (os::EventSignal(event_name) != os::kErrorSuccess) return 131;
    return WaitForSingleObject(squatted, kPeerTimeoutMs) == WAIT_OBJECT_0 ? 0 : 132;
  }
  const std::string name = "\\\\.\\Pipe\\" + std::string(argument);
  if (role == kPeerSquatter) {
    const HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 110;
    if (os::EventSignal(event_name) != os::kErrorSuccess) return 111;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 112;
    // Answers at once, as a forged server would; then waits for the client.
    DWORD written = 0;
    WriteFile(pipe, "forged", 6, &written, nullptr);
    char buffer[64];
    DWORD got = 0;
    return ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) ? 113 : 0;
  }
  // The intruder: reached the listener, then is it dropped unheard?
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (os::PipeOpen(static_cast<uint32_t>(atoi(argument)), &pipe) != os::kErrorSuccess) return 120;
  if (os::EventSignal(event_name) != os::kErrorSuccess) return 121;
  char buffer[64];
  uint32_t length = 0;
  const uint32_t result = os::PipeRead(pipe, buffer, sizeof buffer, &length);
  os::PipeClose(pipe);
  return result != os::kErrorSuccess ? 0 : 122;
}
#endif

// The peer's side: the exit code for `role` (0 when all went well).
int RunPeer(int role, char** argv) {
  const char* argument = argv[4];
  const char* event_name = argv[6];
  if (role == kPeerExitWithoutSignal) return 0;
  if (role == kPeerMapping) {
    const int result = PeerMapping(argument);
    return os::EventSignal(event_name) == os::kErrorSuccess ? result : 204;
  }
#if defined(_WIN32)
  if (role == kPeerFault) return PeerFault(argument, event_name);
  if (role == kPeerSquatter || role == kPeerIntruder || role == kPeerEventSquatter)
    return PeerIntruder(role, argument, event_name);
#endif
  return PeerPipe(role, argv, event_name);
}

}  // namespace

// Started with the server's arguments "-l <role> <folder> <argument> <folder>
// <event>" this program is the peer; otherwise it runs the tests.
int main(int argc, char** argv) {
  if (argc == 7 && strcmp(argv[1], "-l") == 0) return RunPeer(atoi(argv[2]), argv);
#if defined(_WIN32)
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
