// Processor faults turned into C++ exceptions by the vectored-handler
// redirect: caught at the faulting frame's handlers with the fault's record
// and context, on the thread that installed the translator only.

#include <stdint.h>
#include <string.h>
#include <windows.h>

#include "check.h"
#include "peer.h"
#include "platform/platform.h"
#include "qarnplus/exception.h"

namespace wine_test {
namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kIntDivideByZero = 0xC0000094;

struct FaultText {
  DWORD code;
  const char* text;
};
constexpr FaultText kTexts[] = {
#define QARN_FAULT_TEXT(id, code, text) {code, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
};
const char* TextOf(DWORD code) {
  for (const FaultText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return "";
}

volatile int g_zero = 0;

// The faulting functions stay real calls with their arguments unknown, so
// that each fault happens where the test means it to.
#if defined(__clang__)
#define FAULTING_FUNCTION __attribute__((noinline))
#else
#define FAULTING_FUNCTION __attribute__((noipa))
#endif

FAULTING_FUNCTION int ReadAt(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
FAULTING_FUNCTION void WriteAt(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }
// A leaf without a frame: the fault comes with a stack that is not 16-byte
// aligned, which the redirect must make good before calling the translator.
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

void CheckFault(const c_QARNPlus_Exception& caught, DWORD code) {
  CHECK_EQ(caught.m_ExceptionRecord.ExceptionCode, code);
  CHECK(strcmp(caught, TextOf(code)) == 0);
  // The context is the fault's own, not the redirected one.
#if defined(_WIN64)
  CHECK_EQ(caught.m_Context.Rip, reinterpret_cast<uintptr_t>(caught.m_ExceptionRecord.ExceptionAddress));
#else
  CHECK_EQ(caught.m_Context.Eip, reinterpret_cast<uintptr_t>(caught.m_ExceptionRecord.ExceptionAddress));
#endif
}

void CheckAccessViolation(const c_QARNPlus_Exception& caught, ULONG_PTR kind, uintptr_t address) {
  CheckFault(caught, kAccessViolation);
  CHECK_EQ(caught.m_ExceptionRecord.NumberParameters, 2);
  CHECK_EQ(caught.m_ExceptionRecord.ExceptionInformation[0], kind);
  CHECK_EQ(caught.m_ExceptionRecord.ExceptionInformation[1], address);
}

// Every fault of the list, several times over, on the calling thread.
void FaultsBecomeExceptions() {
  for (int round = 0; round < 3; ++round) {
    bool caught = false;
    try {
      ReadAt(0x10 + round);
    } catch (const c_QARNPlus_Exception& e) {
      caught = true;
      CheckAccessViolation(e, 0, 0x10 + round);
    }
    CHECK(caught);
  }

  bool caught = false;
  try {
    WriteAt(0x20);
  } catch (const c_QARNPlus_Exception& e) {
    caught = true;
    CheckAccessViolation(e, 1, 0x20);
  }
  CHECK(caught);

  caught = false;
  try {
    Divide(7, g_zero);
  } catch (const c_QARNPlus_Exception& e) {
    caught = true;
    CheckFault(e, kIntDivideByZero);
  }
  CHECK(caught);

  // The faulting instruction right at the start of the guarded code.
  caught = false;
  volatile int* volatile nowhere = nullptr;
  try {
    *nowhere = 5;  // NOLINT(clang-analyzer-core.NullDereference): the fault under test
  } catch (const c_QARNPlus_Exception& e) {
    caught = true;
    CheckAccessViolation(e, 1, 0);
  }
  CHECK(caught);

  int destroyed = 0;
  caught = false;
  try {
    ReadWithCleanup(0x30, &destroyed);
  } catch (const c_QARNPlus_Exception& e) {
    caught = true;
    CheckAccessViolation(e, 0, 0x30);
  }
  CHECK(caught);
  CHECK_EQ(destroyed, 1);

  // C++ exceptions are not faults: they arrive as thrown.
  caught = false;
  try {
    throw 42;
  } catch (int value) {
    caught = value == 42;
  }
  CHECK(caught);
}

struct Translated {
  DWORD code;
};
void ThrowTranslated(unsigned int, EXCEPTION_POINTERS* pointers) {
  throw Translated{pointers->ExceptionRecord->ExceptionCode};
}

// A translator of the application's own, replacing and restoring another.
void OwnTranslator() {
  const qarn::os::Translator before = qarn::os::SetThreadTranslator(ThrowTranslated);
  bool caught = false;
  try {
    Breakpoint();
  } catch (const Translated& translated) {
    caught = true;
    CHECK_EQ(translated.code, EXCEPTION_BREAKPOINT);
  }
  CHECK(caught);
  CHECK(qarn::os::SetThreadTranslator(before) == ThrowTranslated);
}

DWORD WINAPI FaultOnOwnThread(void*) {
  c_QARNPlus_Exception::Initialize();
  DWORD code = 0;
  try {
    Divide(1, g_zero);
  } catch (const c_QARNPlus_Exception& e) {
    code = e.m_ExceptionRecord.ExceptionCode;
  }
  c_QARNPlus_Exception::Deinitialize();
  return code;
}

void TranslatorOnAnotherThread() {
  const HANDLE thread = CreateThread(nullptr, 0, FaultOnOwnThread, nullptr, 0, nullptr);
  if (!CHECK(thread != nullptr)) return;
  DWORD code = 0;
  CHECK_EQ(WaitForSingleObject(thread, kPeerTimeoutMs), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  CHECK_EQ(code, kIntDivideByZero);
}

// Faults that must not be translated end the peer with the fault's code.
void UntranslatedFaultsEndTheProcess() {
  const struct {
    const char* variant;
    PeerRole role;
    DWORD exit_code;
  } cases[] = {
      {"after", kPeerUntranslatedFault, kAccessViolation},   // after Deinitialize
      {"thread", kPeerUntranslatedFault, kAccessViolation},  // a thread without a translator
      {"", kPeerReturningTranslator, kIntDivideByZero},      // a translator that returns
      // A translator that faults itself ends the process with that fault
      // instead of translating it again and again.
      {"faulting", kPeerReturningTranslator, kAccessViolation},
  };
  for (const auto& c : cases) {
    Peer peer;
    if (StartPeer(c.role, c.variant, &peer)) CHECK_EQ(FinishPeer(&peer), c.exit_code);
  }
}

DWORD WINAPI ReadNullOnThread(void*) { return static_cast<DWORD>(ReadAt(0x40)); }

void ReturnWithoutThrowing(unsigned int, EXCEPTION_POINTERS*) {}
void FaultInTranslator(unsigned int, EXCEPTION_POINTERS*) { ReadAt(0x50); }

// Ends the process with the exception's code, without a debugger.
LONG WINAPI EndWithCode(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

int PeerFaultRole(int role, const char* variant, const char* event_name) {
  // No error box and no debugger: an unhandled fault ends the process.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithCode);
  if (qarn::os::EventSignal(event_name) != qarn::os::kErrorSuccess) return 301;
  if (role == kPeerReturningTranslator) {
    qarn::os::SetThreadTranslator(strcmp(variant, "faulting") == 0 ? FaultInTranslator
                                                                   : ReturnWithoutThrowing);
    return Divide(1, g_zero);
  }
  c_QARNPlus_Exception::Initialize();
  if (strcmp(variant, "thread") == 0) {
    const HANDLE thread = CreateThread(nullptr, 0, ReadNullOnThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, kPeerTimeoutMs);
    return 302;
  }
  c_QARNPlus_Exception::Deinitialize();
  return ReadAt(0x40);
}

void RunFaultTranslationTests() {
  c_QARNPlus_Exception::Initialize();
  FaultsBecomeExceptions();
  OwnTranslator();
  c_QARNPlus_Exception::Deinitialize();
  TranslatorOnAnotherThread();
  UntranslatedFaultsEndTheProcess();
}

}  // namespace wine_test
