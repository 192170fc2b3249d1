// Processor faults on POSIX: one process-wide signal handler turns a fault on
// a thread that installed a translator into a call of that translator at the
// point of the fault.
//
// Throwing straight out of a signal handler does not unwind everywhere (not
// under user-mode emulators, for one), so the handler only records the fault
// and rewrites the interrupted context: it pushes a return address at the
// fault and resumes the thread in qarn_fault_trampoline, which calls the
// translator as if the faulting instruction had called it. Code built with
// -fnon-call-exceptions has unwind entries for every instruction that can
// trap, so the translator's throw unwinds into the faulting frame's handlers.
//
// A stack overflow leaves no stack to push on: then the trampoline runs on
// the alternate signal stack, with unwind rules that lead back to the
// faulting frame on the thread's own stack.

#include <asm/ldt.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

#include "platform/platform.h"

#if !defined(__i386__)
#error "fault translation reads the i386 signal context"
#endif

namespace qarn::os {

extern "C" void qarn_fault_trampoline();
extern "C" void qarn_overflow_trampoline();

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr size_t kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);
struct sigaction g_previous[kSignalCount];  // what each signal did before us
pthread_once_t g_install_once = PTHREAD_ONCE_INIT;

constexpr size_t kAltStackSize = 64 * 1024;
// Below the lowest stack address the kernel keeps a gap of up to 1 MiB for
// the main thread; a fault there is the stack running out.
constexpr uintptr_t kMinGuardSize = 1024 * 1024;

// What the signal handler reads about its thread: plain data only, so that
// the handler never constructs a thread-local object.
struct ThreadFaultState {
  Translator translator;
  uintptr_t stack_low;  // lowest usable address of the stack; 0: unknown
  uintptr_t guard_low;  // lowest address of the guard region below it
};
thread_local ThreadFaultState t_state;

// The fault that the handler hands to qarn_fault_trampoline.
struct PendingFault {
  EXCEPTION_RECORD record;
  CONTEXT context;
  Translator translator;
  int signal;
};
thread_local PendingFault t_pending;

// The thread's alternate signal stack, released when the thread ends.
class AltStack {
 public:
  AltStack() = default;
  AltStack(const AltStack&) = delete;
  AltStack& operator=(const AltStack&) = delete;
  ~AltStack() {
    if (memory_ == nullptr) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory_) {
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      sigaltstack(&off, nullptr);
    }
    free(memory_);
  }

  // Gives the thread an alternate stack unless it has one already (ours or
  // the application's).
  void Ensure() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    const size_t size = kAltStackSize + SIGSTKSZ;
    void* memory = malloc(size);
    if (memory == nullptr) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) != 0) {
      free(memory);
      return;
    }
    memory_ = memory;
  }

 private:
  void* memory_ = nullptr;
};
thread_local AltStack t_alt_stack;

void RecordStackBounds() {
  if (t_state.stack_low != 0) return;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* address = nullptr;
  size_t size = 0;
  size_t guard = 0;
  if (pthread_attr_getstack(&attr, &address, &size) == 0 && pthread_attr_getguardsize(&attr, &guard) == 0) {
    const uintptr_t low = reinterpret_cast<uintptr_t>(address);
    const uintptr_t gap = guard > kMinGuardSize ? guard : kMinGuardSize;
    t_state.guard_low = low > gap ? low - gap : 0;
    t_state.stack_low = low;
  }
  pthread_attr_destroy(&attr);
}

// ---- Reading the signal context ---------------------------------------------

// Where each general register of the signal context goes in the CONTEXT.
struct RegisterSlot {
  size_t offset;
  int greg;
  DWORD mask;
};
constexpr DWORD kAll = 0xFFFFFFFFu;
constexpr DWORD kSelector = 0xFFFFu;
constexpr RegisterSlot kRegisterSlots[] = {
    {offsetof(CONTEXT, SegGs), REG_GS, kSelector}, {offsetof(CONTEXT, SegFs), REG_FS, kSelector},
    {offsetof(CONTEXT, SegEs), REG_ES, kSelector}, {offsetof(CONTEXT, SegDs), REG_DS, kSelector},
    {offsetof(CONTEXT, Edi), REG_EDI, kAll},       {offsetof(CONTEXT, Esi), REG_ESI, kAll},
    {offsetof(CONTEXT, Ebx), REG_EBX, kAll},       {offsetof(CONTEXT, Edx), REG_EDX, kAll},
    {offsetof(CONTEXT, Ecx), REG_ECX, kAll},       {offsetof(CONTEXT, Eax), REG_EAX, kAll},
    {offsetof(CONTEXT, Ebp), REG_EBP, kAll},       {offsetof(CONTEXT, Eip), REG_EIP, kAll},
    {offsetof(CONTEXT, SegCs), REG_CS, kSelector}, {offsetof(CONTEXT, EFlags), REG_EFL, kAll},
    {offsetof(CONTEXT, Esp), REG_ESP, kAll},       {offsetof(CONTEXT, SegSs), REG_SS, kSelector},
};

void FillContext(const ucontext_t& uc, CONTEXT* context) {
  memset(context, 0, sizeof *context);
  context->ContextFlags = CONTEXT_FULL;
  for (const RegisterSlot& slot : kRegisterSlots) {
    const DWORD value = static_cast<DWORD>(uc.uc_mcontext.gregs[slot.greg]) & slot.mask;
    memcpy(reinterpret_cast<char*>(context) + slot.offset, &value, sizeof value);
  }
  const _libc_fpstate* fpu = uc.uc_mcontext.fpregs;
  if (fpu == nullptr) return;
  FLOATING_SAVE_AREA& save = context->FloatSave;
  save.ControlWord = fpu->cw;
  save.StatusWord = fpu->sw;
  save.TagWord = fpu->tag;
  save.ErrorOffset = fpu->ipoff;
  save.ErrorSelector = fpu->cssel;
  save.DataOffset = fpu->dataoff;
  save.DataSelector = fpu->datasel;
  static_assert(sizeof fpu->_st == sizeof save.RegisterArea, "x87 register area");
  memcpy(save.RegisterArea, fpu->_st, sizeof save.RegisterArea);
  context->ContextFlags |= CONTEXT_FLOATING_POINT;
}

// ---- Classifying the fault --------------------------------------------------

constexpr int kAnyCode = 0x7FFFFFFF;

struct SignalCode {
  int signal;
  int si_code;  // kAnyCode: every code not listed before
  DWORD code;
};
// First match wins.
constexpr SignalCode kSignalCodes[] = {
    {SIGFPE, FPE_INTDIV, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {SIGFPE, FPE_INTOVF, EXCEPTION_INT_OVERFLOW},
    {SIGFPE, FPE_FLTDIV, EXCEPTION_FLT_DIVIDE_BY_ZERO},
    {SIGFPE, FPE_FLTOVF, EXCEPTION_FLT_OVERFLOW},
    {SIGFPE, FPE_FLTUND, EXCEPTION_FLT_UNDERFLOW},
    {SIGFPE, FPE_FLTRES, EXCEPTION_FLT_INEXACT_RESULT},
    {SIGFPE, FPE_FLTSUB, EXCEPTION_ARRAY_BOUNDS_EXCEEDED},
    {SIGFPE, kAnyCode, EXCEPTION_FLT_INVALID_OPERATION},
    {SIGILL, ILL_PRVOPC, EXCEPTION_PRIV_INSTRUCTION},
    {SIGILL, ILL_PRVREG, EXCEPTION_PRIV_INSTRUCTION},
    {SIGILL, kAnyCode, EXCEPTION_ILLEGAL_INSTRUCTION},
    {SIGBUS, BUS_ADRALN, EXCEPTION_DATATYPE_MISALIGNMENT},
    {SIGBUS, kAnyCode, EXCEPTION_IN_PAGE_ERROR},
    {SIGTRAP, TRAP_TRACE, EXCEPTION_SINGLE_STEP},
    {SIGTRAP, kAnyCode, EXCEPTION_BREAKPOINT},
    {SIGSEGV, kAnyCode, EXCEPTION_ACCESS_VIOLATION},
};

constexpr WORD kFpuDenormal = 0x02;
constexpr WORD kFpuUnderflow = 0x10;
constexpr WORD kFpuStackFault = 0x40;
constexpr uint8_t kInt3 = 0xCC;

// A SIGSEGV without an address (SI_KERNEL) is a processor exception other
// than a page fault; which one, Windows tells by the instruction, and so do
// we. The trap number in the signal context would tell too, but qemu-user
// does not fill it in, and the answer must be the same on every host.
// Instructions that fault outside ring 0: one-byte opcodes, and the second
// byte of 0x0F opcodes.
constexpr uint8_t kPrivilegedOpcodes[] = {0xF4, 0xFA, 0xFB, 0xE4, 0xE5, 0xE6, 0xE7, 0xEC,
                                          0xED, 0xEE, 0xEF, 0x6C, 0x6D, 0x6E, 0x6F};
constexpr uint8_t kPrivilegedOpcodes0F[] = {0x06, 0x08, 0x09, 0x20, 0x21, 0x22, 0x23, 0x30, 0x32};
constexpr uint8_t kOpcodeBound = 0x62;  // BOUND: index out of range
constexpr uint8_t kOpcodeInto = 0xCE;   // INTO: overflow flag set
// Segment, operand-size, address-size, lock and repeat prefixes.
constexpr uint8_t kPrefixes[] = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3};
constexpr int kMaxInstructionLength = 15;

bool Contains(const uint8_t* table, size_t count, uint8_t value) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i] == value) return true;
  }
  return false;
}

// The opcode of the faulting instruction, past its prefixes. Only bytes of
// the instruction itself are read, which the processor has just fetched.
const uint8_t* Opcode(uintptr_t eip) {
  const uint8_t* code = reinterpret_cast<const uint8_t*>(eip);
  for (int i = 0; i < kMaxInstructionLength - 1 && Contains(kPrefixes, sizeof kPrefixes, *code); ++i) ++code;
  return code;
}

DWORD GeneralFaultCode(uintptr_t eip) {
  const uint8_t* code = Opcode(eip);
  if (code[0] == 0x0F) {
    return Contains(kPrivilegedOpcodes0F, sizeof kPrivilegedOpcodes0F, code[1]) ? EXCEPTION_PRIV_INSTRUCTION
                                                                                : EXCEPTION_ACCESS_VIOLATION;
  }
  if (Contains(kPrivilegedOpcodes, sizeof kPrivilegedOpcodes, code[0])) return EXCEPTION_PRIV_INSTRUCTION;
  if (code[0] == kOpcodeBound) return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
  if (code[0] == kOpcodeInto) return EXCEPTION_INT_OVERFLOW;
  return EXCEPTION_ACCESS_VIOLATION;
}

DWORD ExceptionCodeFor(int signal, const siginfo_t& info, const ucontext_t& uc) {
  DWORD code = EXCEPTION_ACCESS_VIOLATION;
  for (const SignalCode& entry : kSignalCodes) {
    if (entry.signal == signal && (entry.si_code == kAnyCode || entry.si_code == info.si_code)) {
      code = entry.code;
      break;
    }
  }
  if (signal == SIGSEGV && info.si_code == SI_KERNEL) {
    return GeneralFaultCode(static_cast<uintptr_t>(uc.uc_mcontext.gregs[REG_EIP]));
  }
  const WORD fpu_status = uc.uc_mcontext.fpregs != nullptr ? uc.uc_mcontext.fpregs->sw : 0;
  if (code == EXCEPTION_FLT_INVALID_OPERATION && (fpu_status & kFpuStackFault) != 0) {
    return EXCEPTION_FLT_STACK_CHECK;
  }
  if (code == EXCEPTION_FLT_UNDERFLOW && (fpu_status & (kFpuDenormal | kFpuUnderflow)) == kFpuDenormal) {
    return EXCEPTION_FLT_DENORMAL_OPERAND;
  }
  return code;
}

// Access kinds of an access violation, as Windows reports them.
constexpr ULONG_PTR kAccessRead = 0;
constexpr ULONG_PTR kAccessWrite = 1;
constexpr ULONG_PTR kAccessExecute = 8;
constexpr greg_t kPageFaultWrite = 0x02;
constexpr greg_t kPageFaultFetch = 0x10;

ULONG_PTR AccessKind(uintptr_t address, const ucontext_t& uc) {
  const greg_t error = uc.uc_mcontext.gregs[REG_ERR];
  if (address == static_cast<uintptr_t>(uc.uc_mcontext.gregs[REG_EIP]) || (error & kPageFaultFetch) != 0) {
    return kAccessExecute;
  }
  return (error & kPageFaultWrite) != 0 ? kAccessWrite : kAccessRead;
}

void FillRecord(int signal, const siginfo_t& info, const ucontext_t& uc, PendingFault* fault) {
  FillContext(uc, &fault->context);
  EXCEPTION_RECORD& record = fault->record;
  memset(&record, 0, sizeof record);
  record.ExceptionCode = ExceptionCodeFor(signal, info, uc);
  record.ExceptionAddress = reinterpret_cast<PVOID>(fault->context.Eip);
  if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
    // A trap reports the instruction after INT3; Windows names INT3 itself.
    const uintptr_t before = fault->context.Eip - 1;
    if (*reinterpret_cast<const uint8_t*>(before) == kInt3) {
      fault->context.Eip = before;
      record.ExceptionAddress = reinterpret_cast<PVOID>(before);
    }
  }
  if (signal == SIGSEGV || signal == SIGBUS) {
    // A general protection fault has no address; Windows reports all ones.
    const bool has_address = info.si_code != SI_KERNEL;
    const uintptr_t address = has_address ? reinterpret_cast<uintptr_t>(info.si_addr) : ~uintptr_t{0};
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = has_address ? AccessKind(address, uc) : kAccessRead;
    record.ExceptionInformation[1] = address;
  }
  fault->signal = signal;
}

// ---- Passing a fault on -----------------------------------------------------

size_t SignalIndex(int signal) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kFaultSignals[i] == signal) return i;
  }
  return 0;
}

void SetDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// Hands the signal to whatever handled it before us. With no handler there,
// the default action is reinstated and the signal raised again; it arrives as
// soon as the handler returns, so the process ends as it would have without
// the translator.
void PassOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = g_previous[SignalIndex(signal)];
  if (previous.sa_handler == SIG_IGN) {
    if (info->si_code <= 0) return;  // only a signal sent by a process can be ignored
  } else if (previous.sa_handler != SIG_DFL) {
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
      previous.sa_sigaction(signal, info, context);
    } else {
      previous.sa_handler(signal);
    }
    return;
  }
  SetDefaultAction(signal);
  raise(signal);
}

// ---- Redirecting to the translator ------------------------------------------

bool IsStackOverflow(int signal, const siginfo_t& info, uintptr_t esp) {
  if (signal != SIGSEGV || t_state.stack_low == 0) return false;
  const uintptr_t address = reinterpret_cast<uintptr_t>(info.si_addr);
  const auto in_guard = [](uintptr_t at) { return at >= t_state.guard_low && at < t_state.stack_low; };
  // Either the access fell into the guard, or the stack pointer itself has no
  // room left for a return address.
  return in_guard(address) || in_guard(esp - sizeof(uint32_t));
}

constexpr greg_t kDirectionFlag = 0x400;
constexpr size_t kMinOverflowStack = 32 * 1024;

// Where the trampoline can run after a stack overflow: the lower half of the
// alternate stack, which this handler (in the upper half) leaves free and
// which is no longer in use once the handler has returned. 0: no room.
uintptr_t OverflowStackTop() {
  stack_t alt{};
  if (sigaltstack(nullptr, &alt) != 0 || (alt.ss_flags & SS_ONSTACK) == 0 ||
      alt.ss_size < kMinOverflowStack) {
    return 0;
  }
  const uintptr_t middle = (reinterpret_cast<uintptr_t>(alt.ss_sp) + alt.ss_size / 2) & ~uintptr_t{15};
  const uintptr_t here = reinterpret_cast<uintptr_t>(&alt);
  return here > middle + 256 ? middle : 0;
}

// Resumes the thread in the trampoline, as if the faulting instruction had
// called it. The unwinder looks up the caller at (return address - 1), so the
// return address is chosen to make that fall inside the faulting instruction.
// `overflow_top` is 0 for a fault with stack to spare; after a stack overflow
// it is where qarn_overflow_trampoline runs instead, told by two words where
// the faulting frame's stack and return address are.
void RedirectToTrampoline(const PendingFault& fault, uintptr_t overflow_top, ucontext_t* uc) {
  greg_t* gregs = uc->uc_mcontext.gregs;
  const uintptr_t eip = static_cast<uintptr_t>(gregs[REG_EIP]);
  uintptr_t esp = static_cast<uintptr_t>(gregs[REG_ESP]);
  uintptr_t return_address;
  const bool jumped_nowhere = fault.record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                              fault.record.ExceptionInformation[0] == kAccessExecute &&
                              fault.record.ExceptionInformation[1] == eip;
  if (jumped_nowhere) {
    // A call into unmapped memory: the caller's return address is on top.
    return_address = *reinterpret_cast<const uint32_t*>(esp);
    esp += sizeof(uint32_t);
  } else {
    // A fault leaves EIP on the instruction, a trap after it.
    return_address = fault.signal == SIGTRAP ? eip : eip + 1;
  }
  uintptr_t new_esp;
  if (overflow_top == 0) {
    new_esp = esp - sizeof(uint32_t);
    *reinterpret_cast<uint32_t*>(new_esp) = static_cast<uint32_t>(return_address);
    gregs[REG_EIP] = static_cast<greg_t>(reinterpret_cast<uintptr_t>(&qarn_fault_trampoline));
  } else {
    new_esp = overflow_top - 2 * sizeof(uint32_t);
    uint32_t* frame = reinterpret_cast<uint32_t*>(new_esp);
    frame[0] = static_cast<uint32_t>(return_address);
    frame[1] = static_cast<uint32_t>(esp);
    gregs[REG_EIP] = static_cast<greg_t>(reinterpret_cast<uintptr_t>(&qarn_overflow_trampoline));
  }
  gregs[REG_ESP] = static_cast<greg_t>(new_esp);
  gregs[REG_UESP] = static_cast<greg_t>(new_esp);
  gregs[REG_EFL] &= ~kDirectionFlag;  // functions are entered with DF clear
}

// Under qemu-user all threads share one emulated descriptor table, and the
// return from a signal handler reloads %gs from it: the thread would resume
// with the thread pointer (and thread-local storage) of whichever thread was
// created last. Rewriting this thread's TLS descriptor with its own thread
// pointer just before returning keeps %gs right; a real kernel keeps the
// descriptors per thread, so there it rewrites the same value.
void KeepThreadPointer() {
  uint16_t selector = 0;
  asm volatile("movw %%gs, %0" : "=r"(selector));
  constexpr uint16_t kLocalTable = 4;
  if (selector < 8 || (selector & kLocalTable) != 0) return;
  uintptr_t thread_pointer = 0;
  asm volatile("movl %%gs:0, %0" : "=r"(thread_pointer));
  user_desc descriptor{};
  descriptor.entry_number = selector >> 3;
  descriptor.base_addr = static_cast<unsigned int>(thread_pointer);
  descriptor.limit = 0xFFFFF;
  descriptor.seg_32bit = 1;
  descriptor.limit_in_pages = 1;
  descriptor.useable = 1;
  syscall(SYS_set_thread_area, &descriptor);
}

void OnFaultSignal(int signal, siginfo_t* info, void* raw_context) {
  const int saved_errno = errno;
  ucontext_t* uc = static_cast<ucontext_t*>(raw_context);
  const Translator translator = t_state.translator;
  const bool overflow =
      IsStackOverflow(signal, *info, static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]));
  const uintptr_t overflow_top = overflow ? OverflowStackTop() : 0;
  // Only faults of the processor are translated: a signal that a process
  // sent, a fault on a thread without translator, and a stack overflow
  // without room to throw take the way they would have taken without us.
  if (translator == nullptr || info->si_code <= 0 || (overflow && overflow_top == 0)) {
    PassOn(signal, info, raw_context);
  } else {
    FillRecord(signal, *info, *uc, &t_pending);
    if (overflow) t_pending.record.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
    t_pending.translator = translator;
    RedirectToTrampoline(t_pending, overflow_top, uc);
  }
  KeepThreadPointer();
  errno = saved_errno;
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_sigaction = &OnFaultSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &action, &g_previous[i]);
}

}  // namespace

// Entered through RedirectToTrampoline, with the fault's return address on
// top of the faulting thread's own stack, or called by
// qarn_overflow_trampoline. It must keep ordinary unwind information (hence a
// normal C++ function, realigning the stack it is given), and it saves what it
// uses, so that unwinding past it restores the faulting frame's registers.
extern "C" __attribute__((noinline, used, force_align_arg_pointer, visibility("hidden"))) void
qarn_fault_trampoline() {
  PendingFault fault = t_pending;  // a fault inside the translator may reuse the slot
  EXCEPTION_POINTERS pointers = {&fault.record, &fault.context};
  fault.translator(fault.record.ExceptionCode, &pointers);
  // The translator returned: nothing handles the fault, the thread dies of it.
  SetDefaultAction(fault.signal);
  raise(fault.signal);
  abort();
}

// After a stack overflow the trampoline runs on the alternate stack, entered
// with [esp] = the return address into the faulting frame and [esp + 4] = that
// frame's stack pointer. Its unwind rules say exactly that (DWARF expressions:
// CFA = *(esp + 4), return address at esp + 0; then the same relative to ebp),
// so the throw unwinds from here straight back onto the thread's own stack.
asm(R"(
        .text
        .globl qarn_overflow_trampoline
        .hidden qarn_overflow_trampoline
        .type qarn_overflow_trampoline, @function
qarn_overflow_trampoline:
        .cfi_startproc simple
        .cfi_escape 0x0f, 0x03, 0x74, 0x04, 0x06
        .cfi_escape 0x10, 0x08, 0x02, 0x74, 0x00
        pushl %ebp
        .cfi_escape 0x0f, 0x03, 0x74, 0x08, 0x06
        .cfi_escape 0x10, 0x08, 0x02, 0x74, 0x04
        .cfi_escape 0x10, 0x05, 0x02, 0x74, 0x00
        movl %esp, %ebp
        .cfi_escape 0x0f, 0x03, 0x75, 0x08, 0x06
        .cfi_escape 0x10, 0x08, 0x02, 0x75, 0x04
        .cfi_escape 0x10, 0x05, 0x02, 0x75, 0x00
        andl $-16, %esp
        call qarn_fault_trampoline
        ud2
        .cfi_endproc
        .size qarn_overflow_trampoline, .-qarn_overflow_trampoline
)");

Translator SetThreadTranslator(Translator translator) {
  pthread_once(&g_install_once, &InstallHandlers);
  if (translator != nullptr) {
    t_alt_stack.Ensure();
    RecordStackBounds();
  }
  const Translator previous = t_state.translator;
  t_state.translator = translator;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return previous;
}

}  // namespace qarn::os
