// Processor faults turned into C++ exceptions by the vectored-handler
// redirect: caught at the faulting frame's handlers with the fault's record
// and context, on the thread that installed the translator only.

#include <stdint.h>
#include <string.h>

#include "peer.h"
#include "qarnplus/exception.h"

namespace wine_test {
namespace {

constexpr ULONG_PTR kNotAnAccess = 99;  // no ExceptionInformation to check
volatile int g_zero = 0;

// The faulting functions stay real calls with their arguments unknown (GCC's
// noipa), so that each fault happens where the test means it to.
#define FAULTING_FUNCTION __attribute__((noipa))
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

// Every fault of the list on the calling thread, one after the other: the
// path must work again after it ran once.
void FaultsBecomeExceptions() {
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
      if (!CHECK_EQ(record.ExceptionCode, c.code)) fprintf(stderr, "  case %s\n", c.name);
      // The context is the fault's own, not the redirected one.
      CHECK_EQ(e.m_Context.Eip, reinterpret_cast<uintptr_t>(record.ExceptionAddress));
      if (c.access != kNotAnAccess) {
        CHECK_EQ(record.NumberParameters, 2);
        CHECK_EQ(record.ExceptionInformation[0], c.access);
        CHECK_EQ(record.ExceptionInformation[1], c.address);
      }
    }
    if (!CHECK(caught)) fprintf(stderr, "  case %s\n", c.name);
  }
  CHECK_EQ(destroyed, 1);

  // The faulting instruction opens the guarded code: its handler is found
  // from the fault's own address, not the byte before it.
  bool caught = false;
  volatile int* volatile nowhere = nullptr;
  try {
    *nowhere = 5;  // NOLINT(clang-analyzer-core.NullDereference): the fault under test
  } catch (const c_QARNPlus_Exception& e) {
    caught = e.m_ExceptionRecord.ExceptionInformation[1] == 0;
  }
  CHECK(caught);
}

// The same on a thread that installs the translator for itself.
DWORD WINAPI FaultsOnOwnThread(void*) {
  c_QARNPlus_Exception::Initialize();
  FaultsBecomeExceptions();
  c_QARNPlus_Exception::Deinitialize();
  return 0;
}

// Faults that must not be translated end the peer with the fault's code.
void UntranslatedFaultsEndTheProcess() {
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
    if (StartPeer(kPeerFault, c.variant, &peer) && !CHECK_EQ(FinishPeer(&peer), c.exit_code))
      fprintf(stderr, "  variant %s\n", c.variant);
  }
}

DWORD WINAPI ReadOnThread(void*) { return static_cast<DWORD>(ReadAt(0x40)); }
void ReturnWithoutThrowing(unsigned int, EXCEPTION_POINTERS*) {}
void FaultInTranslator(unsigned int, EXCEPTION_POINTERS*) { ReadAt(0x50); }
// Ends the process with the exception's code, without a debugger.
LONG WINAPI EndWithCode(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

int PeerFaultRole(const char* variant, const char* event_name) {
  // No error box and no debugger: an unhandled fault ends the process.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithCode);
  if (qarn::os::EventSignal(event_name) != qarn::os::kErrorSuccess) return 301;
  if (strcmp(variant, "returning") == 0 || strcmp(variant, "faulting") == 0) {
    qarn::os::SetThreadTranslator(variant[0] == 'f' ? FaultInTranslator : ReturnWithoutThrowing);
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

void RunFaultTranslationTests() {
  FaultsOnOwnThread(nullptr);
  const HANDLE thread = CreateThread(nullptr, 0, FaultsOnOwnThread, nullptr, 0, nullptr);
  CHECK_EQ(WaitForSingleObject(thread, kPeerTimeoutMs), WAIT_OBJECT_0);  // WAIT_FAILED without a thread
  CloseHandle(thread);
  UntranslatedFaultsEndTheProcess();
}

}  // namespace wine_test
