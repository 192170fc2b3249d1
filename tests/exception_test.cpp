// Processor faults turned into exceptions on threads that installed the
// translator, and exceptions built from source positions.
#include "qarnplus/exception.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

constexpr const char* kAccessViolationText =
    "The thread tried to read from or write to a virtual address for which it does not have the appropriate "
    "access";
constexpr const char* kStackOverflowText = "The thread used up its stack";
constexpr const char* kUnknownText = "Unknown system exception";
constexpr const char* kPrivilegedText =
    "The thread tried to execute an instruction whose operation is not allowed in the current machine mode";

// Addresses below 64 KiB are never mapped.
constexpr uintptr_t kReadAddress = 0x1230;
constexpr uintptr_t kWriteAddress = 0x2340;
constexpr uintptr_t kExecuteAddress = 0x3450;

// One function per fault: its address range is known and the compiler keeps
// the faulting instruction. No sanitizer checks: they would fault first.
#if defined(__clang__)
#define QARN_OPAQUE __attribute__((noinline, no_sanitize("address", "undefined")))
#else
#define QARN_OPAQUE __attribute__((noipa, no_sanitize("address", "undefined")))
#endif
QARN_OPAQUE int ReadFrom(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
QARN_OPAQUE void WriteTo(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }
QARN_OPAQUE void CallAddress(uintptr_t address) { reinterpret_cast<void (*)()>(address)(); }
QARN_OPAQUE int Divide(int dividend, int divisor) { return dividend / divisor; }  // NOLINT: divides by zero
QARN_OPAQUE void ExecuteUd2() { asm volatile("ud2"); }
QARN_OPAQUE void ExecuteInt3() { asm volatile("int3"); }
QARN_OPAQUE void ExecuteHlt() { asm volatile("hlt"); }
QARN_OPAQUE void ExecuteWbinvd() { asm volatile("wbinvd"); }  // a privileged two-byte opcode

// Read through volatiles so that no constant reaches the faulting code.
volatile int g_zero = 0;
volatile int g_no_depth = -1;

// Deep enough to exhaust any thread stack; the volatile array keeps frames big.
QARN_OPAQUE int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth == g_no_depth) return 0;
  return Recurse(depth + 1) + frame[0];
}

uintptr_t AddressOf(const volatile void* p) { return reinterpret_cast<uintptr_t>(p); }
template <typename Function>
uintptr_t AddressOfFunction(Function* function) {
  return reinterpret_cast<uintptr_t>(function);
}

// Through std::function: clang (no non-call exceptions) would take a direct
// call of a call-free function for one that cannot throw.
c_QARNPlus_Exception CatchFault(const std::function<void()>& action) {
  try {
    action();
  } catch (const c_QARNPlus_Exception& caught) {
    return caught;
  }
  ADD_FAILURE() << "the fault was not turned into a c_QARNPlus_Exception";
  return c_QARNPlus_Exception("", 0, "no fault");
}

class TranslatedFaults : public ::testing::Test {
 protected:
  void SetUp() override { c_QARNPlus_Exception::Initialize(); }
  void TearDown() override { c_QARNPlus_Exception::Deinitialize(); }
};

thread_local int t_marker = 0;

// Each fault: its code, text, parameters and the faulting instruction's
// context. A fault leaves the thread its own thread-local storage (the
// emulated descriptor table is shared by threads).
TEST_F(TranslatedFaults, FaultsCarryCodeTextAddressAndContext) {
  const struct {
    std::function<void()> action;
    uintptr_t function;  // where the fault must be: its first 32 bytes (or exactly there)
    uintptr_t length;
    DWORD code;
    const char* text;
    ULONG_PTR kind;  // access violations only: 0 read, 1 write, 8 execute
    uintptr_t address;
  } cases[] = {
      {[] { ReadFrom(kReadAddress); }, AddressOfFunction(&ReadFrom), 32, EXCEPTION_ACCESS_VIOLATION,
       kAccessViolationText, 0, kReadAddress},
      {[] { WriteTo(kWriteAddress); }, AddressOfFunction(&WriteTo), 32, EXCEPTION_ACCESS_VIOLATION,
       kAccessViolationText, 1, kWriteAddress},
      {[] { CallAddress(kExecuteAddress); }, kExecuteAddress, 1, EXCEPTION_ACCESS_VIOLATION,
       kAccessViolationText, 8, kExecuteAddress},
      {[] { Divide(1, g_zero); }, AddressOfFunction(&Divide), 32, EXCEPTION_INT_DIVIDE_BY_ZERO,
       "The thread tried to divide an integer value by an integer divisor of zero", 0, 0},
      {&ExecuteUd2, AddressOfFunction(&ExecuteUd2), 32, EXCEPTION_ILLEGAL_INSTRUCTION,
       "The thread tried to execute an invalid instruction", 0, 0},
      {&ExecuteInt3, AddressOfFunction(&ExecuteInt3), 32, EXCEPTION_BREAKPOINT,
       "A breakpoint was encountered", 0, 0},
      {&ExecuteHlt, AddressOfFunction(&ExecuteHlt), 32, EXCEPTION_PRIV_INSTRUCTION, kPrivilegedText, 0, 0},
      {&ExecuteWbinvd, AddressOfFunction(&ExecuteWbinvd), 32, EXCEPTION_PRIV_INSTRUCTION, kPrivilegedText, 0,
       0},
  };
  volatile int here = 0;
  t_marker = 7;
  std::thread([] { t_marker = 9; }).join();
  for (const auto& c : cases) {
    const c_QARNPlus_Exception e = CatchFault(c.action);
    EXPECT_EQ(t_marker, 7) << c.text;
    const uintptr_t address = AddressOf(e.m_ExceptionRecord.ExceptionAddress);
    EXPECT_EQ(e.m_ExceptionRecord.ExceptionCode, c.code) << c.text;
    EXPECT_STREQ(e, c.text);
    EXPECT_GE(address, c.function) << c.text;
    EXPECT_LT(address, c.function + c.length) << c.text;
    EXPECT_EQ(e.m_Context.Eip, address) << c.text;
    EXPECT_EQ(e.m_Context.ContextFlags & CONTEXT_FULL, CONTEXT_FULL) << c.text;
    // The fault happened a few frames below this one, on this thread's stack.
    EXPECT_LT(e.m_Context.Esp, AddressOf(&here)) << c.text;
    EXPECT_GT(e.m_Context.Esp, AddressOf(&here) - 64 * 1024) << c.text;
    EXPECT_EQ(e.m_szFile[0] + e.m_szText[0], 0) << c.text;
    if (c.code == EXCEPTION_ACCESS_VIOLATION) {
      ASSERT_EQ(e.m_ExceptionRecord.NumberParameters, 2u);
      EXPECT_EQ(e.m_ExceptionRecord.ExceptionInformation[0], c.kind);
      EXPECT_EQ(e.m_ExceptionRecord.ExceptionInformation[1], c.address);
    }
    if (c.code == EXCEPTION_BREAKPOINT) {  // the INT3 instruction itself, not the one after it
      EXPECT_EQ(*reinterpret_cast<const unsigned char*>(address), 0xCC);
    }
  }
}

#if defined(__SANITIZE_ADDRESS__)
#define QARN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QARN_ASAN 1
#endif
#endif

// A fault that is not translated goes where it went before the translator:
// to the default action, or to AddressSanitizer's report where it runs.
#if defined(QARN_ASAN)
#define EXPECT_NOT_TRANSLATED(statement, signal) \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), "AddressSanitizer")
#else
#define EXPECT_NOT_TRANSLATED(statement, signal) EXPECT_EXIT(statement, ::testing::KilledBySignal(signal), "")
#endif

// Death tests re-run the test program for the child, so that the child has
// no threads that a fork would have left half-copied.
class TranslatedFaultsDeathTest : public TranslatedFaults {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TranslatedFaults::SetUp();
  }
};

TEST_F(TranslatedFaultsDeathTest, UntranslatedFaultsKeepTheirSignal) {
  // After Deinitialize the fault takes its ordinary course again.
  EXPECT_NOT_TRANSLATED(
      {
        c_QARNPlus_Exception::Deinitialize();
        ReadFrom(kReadAddress);
      },
      SIGSEGV);
  // A thread that never called Initialize is left alone, even while this one
  // translates.
  EXPECT_NOT_TRANSLATED(std::thread([] { ReadFrom(kReadAddress); }).join(), SIGSEGV);
  // A signal that a process sends is not a fault of this thread.
  EXPECT_NOT_TRANSLATED(std::raise(SIGFPE), SIGFPE);
  // A translator that returns leaves the fault unhandled: the thread dies of it.
  EXPECT_EXIT(
      {
        qarn::os::SetThreadTranslator([](unsigned int, EXCEPTION_POINTERS*) {});
        Divide(1, g_zero);
      },
      ::testing::KilledBySignal(SIGFPE), "");
}

TEST_F(TranslatedFaults, StackOverflowIsTranslatedAndCanHappenAgain) {
  // Each thread translates after its own Initialize, on its own alternate
  // stack. The throw runs on the alternate stack and unwinds back onto the
  // thread's own; the stack's guard stays in place for the next overflow.
  std::string texts[2];
  std::thread([&texts] {
    c_QARNPlus_Exception::Initialize();
    for (std::string& text : texts) {
      text = static_cast<const char*>(CatchFault([] { Recurse(0); }));
    }
    c_QARNPlus_Exception::Deinitialize();
  }).join();
  for (const std::string& text : texts) EXPECT_EQ(text, kStackOverflowText);
}

TEST_F(TranslatedFaultsDeathTest, MainThreadStackOverflowIsTranslated) {
  EXPECT_EXIT(
      {
        const c_QARNPlus_Exception e = CatchFault([] { Recurse(0); });
        std::_Exit(e.m_ExceptionRecord.ExceptionCode == EXCEPTION_STACK_OVERFLOW ? 3 : 4);
      },
      ::testing::ExitedWithCode(3), "");
}

// A handler installed before the translator still gets the faults of threads
// without it (42), while this thread's fault is translated (else 1).
volatile bool g_translated = false;
TEST(FaultChainDeathTest, EarlierHandlerGetsFaultsOfThreadsWithoutTranslator) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no translator yet
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, [](int) { std::_Exit(g_translated ? 42 : 1); });
        c_QARNPlus_Exception::Initialize();
        g_translated = CatchFault([] { ReadFrom(kReadAddress); }).m_ExceptionRecord.ExceptionInformation[1] ==
                       kReadAddress;
        std::thread([] { ReadFrom(kReadAddress); }).join();
      },
      ::testing::ExitedWithCode(42), "");
}

// An ignored SIGSEGV ignores only a signal that was sent: a real fault on a
// thread without the translator still ends the process.
TEST(FaultChainDeathTest, IgnoringTheSignalDoesNotHideARealFault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, SIG_IGN);
        c_QARNPlus_Exception::Initialize();
        std::thread([] { ReadFrom(kReadAddress); }).join();
      },
      ::testing::KilledBySignal(SIGSEGV), "");
}

// The fault codes, and no others near them, have texts of their own, each a
// different one.
TEST(ExceptionFromPointers, TextsAndCopies) {
  std::set<std::string> texts;
  int known = 0;
  for (DWORD first : {0x80000000u, 0xC0000000u}) {
    for (DWORD code = first; code <= first + 0x100; ++code) {
      EXCEPTION_RECORD record{};
      record.ExceptionCode = code;
      CONTEXT context{};
      EXCEPTION_POINTERS pointers{&record, &context};
      const std::string text = static_cast<const char*>(c_QARNPlus_Exception(&pointers));
      if (text == kUnknownText) continue;
      ++known;
      texts.insert(text);
    }
  }
  EXPECT_EQ(known, 20);
  EXPECT_EQ(texts.size(), 20u);
  EXPECT_STREQ(c_QARNPlus_Exception(static_cast<EXCEPTION_POINTERS*>(nullptr)), kUnknownText);
  EXCEPTION_POINTERS empty{nullptr, nullptr};
  EXPECT_STREQ(c_QARNPlus_Exception(&empty), kUnknownText);

  // The first record and the context are copied byte for byte; the record's
  // chain pointer (here a wild one) is not followed.
  EXCEPTION_RECORD record{};
  std::memset(&record, 0xA5, sizeof record);
  CONTEXT context{};
  std::memset(&context, 0x5A, sizeof context);
  EXCEPTION_POINTERS pointers{&record, &context};

  const c_QARNPlus_Exception e(&pointers);
  EXPECT_STREQ(e, kUnknownText);
  EXPECT_EQ(std::memcmp(&e.m_ExceptionRecord, &record, sizeof record), 0);
  EXPECT_EQ(std::memcmp(&e.m_Context, &context, sizeof context), 0);
  EXPECT_EQ(std::string(e.m_szFile, sizeof e.m_szFile), std::string(sizeof e.m_szFile, '\0'));
  EXPECT_EQ(std::string(e.m_szText, sizeof e.m_szText), std::string(sizeof e.m_szText, '\0'));
}

TEST(ExceptionFromPosition, FormatsFileLineAndTextCutToTheirRoom) {
  const std::string file(300, 'f');
  const std::string text(200, 't');
  const struct {
    const char* file;
    unsigned line;
    const char* text;
    std::string message;
  } cases[] = {
      {"a", 12, "b", "a:12 (b)"},
      {nullptr, 7, nullptr, ":7 ()"},
      {file.c_str(), 4294967295u, text.c_str(),
       file.substr(0, 260) + ":4294967295 (" + text.substr(0, 128) + ")"},
  };
  const EXCEPTION_RECORD zero_record{};
  const CONTEXT zero_context{};
  for (const auto& c : cases) {
    const c_QARNPlus_Exception e(c.file, c.line, c.text);
    EXPECT_EQ(std::string(static_cast<const char*>(e)), c.message);
    EXPECT_EQ(e.m_nLine, c.line);
    EXPECT_EQ(std::string(e.m_szFile), std::string(c.file ? c.file : "").substr(0, 260));
    EXPECT_EQ(std::string(e.m_szText), std::string(c.text ? c.text : "").substr(0, 128));
    EXPECT_EQ(std::memcmp(&e.m_ExceptionRecord, &zero_record, sizeof zero_record), 0);
    EXPECT_EQ(std::memcmp(&e.m_Context, &zero_context, sizeof zero_context), 0);
  }
}

}  // namespace
