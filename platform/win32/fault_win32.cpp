// Processor faults on Windows: one vectored exception handler turns a fault
// on a thread that installed a translator into a call of that translator at
// the point of the fault.
//
// A C++ exception cannot be thrown out of the handler itself, so the handler
// records the fault and rewrites the faulting context: it pushes a return
// address at the fault and resumes the thread in a function that calls the
// translator, as if the faulting instruction had called it. Code built
// with -fnon-call-exceptions has unwind entries for every instruction that
// can trap, so the translator's throw unwinds into the faulting frame's
// handlers.

#include <stdint.h>
#include <string.h>
#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {
namespace {

// What the handler needs about a thread. The handler finds it through a
// Win32 TLS slot, which it can read without allocating, whatever the thread.
struct ThreadFaultState {
  Translator translator;
  // Between the redirect and the translator's throw: a fault now (in the
  // translator, or the one it declined) goes to the system's handling
  // instead of into the translator again.
  bool busy;
  EXCEPTION_RECORD record;
  CONTEXT context;
};
thread_local ThreadFaultState t_state;

INIT_ONCE g_install_once = INIT_ONCE_STATIC_INIT;
DWORD g_state_slot = TLS_OUT_OF_INDEXES;

// Removed again when the module's statics go, so that a library that is
// unloaded leaves no handler pointing into freed code.
struct HandlerRegistration {
  void* handler = nullptr;
  ~HandlerRegistration() {
    if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
  }
} g_registration;

ThreadFaultState* StateOfThisThread() {
  const DWORD saved_error = GetLastError();  // TlsGetValue resets it
  auto* state = static_cast<ThreadFaultState*>(TlsGetValue(g_state_slot));
  SetLastError(saved_error);
  return state;
}

// Faults of the processor and the system's own exceptions are translated;
// exceptions that programs raise themselves carry the customer bit (C++
// throws of this and other runtimes among them) and pass through, and so do
// informational codes such as debug output.
bool IsTranslatable(DWORD code) {
  constexpr DWORD kCustomerBit = 0x20000000;
  constexpr DWORD kSeverityError = 0xC0000000;
  if (code & kCustomerBit) return false;
  // Too little stack is left to throw from; the system ends the process.
  if (code == EXCEPTION_STACK_OVERFLOW) return false;
  return (code & kSeverityError) == kSeverityError || code == EXCEPTION_BREAKPOINT ||
         code == EXCEPTION_SINGLE_STEP || code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

}  // namespace

// Entered through the redirect below, as if called from the faulting
// instruction.
extern "C" void qarn_fault_raise() {
  ThreadFaultState& state = t_state;
  struct BusyUntilThrown {
    ThreadFaultState& state;
    ~BusyUntilThrown() { state.busy = false; }
  } busy_until_thrown{state};
  EXCEPTION_POINTERS pointers = {&state.record, &state.context};
  state.translator(state.record.ExceptionCode, &pointers);
  // The translator did not throw: the faulting instruction cannot go on, so
  // the fault goes to the system's handling as if no translator were set.
  RaiseException(state.record.ExceptionCode, EXCEPTION_NONCONTINUABLE, state.record.NumberParameters,
                 state.record.ExceptionInformation);
}

static_assert(sizeof(void*) == 4, "the redirect below is written for i686");

namespace {

// Makes the faulting thread resume in qarn_fault_raise as if the faulting
// instruction had called it (32-bit code expects no stack alignment), with a
// return address one past the faulting instruction's first byte: unwinders
// look up the byte before a return address, which is then the faulting
// instruction itself.
bool RedirectToRaise(CONTEXT* context) {
  DWORD& stack_pointer = context->Esp;
  DWORD& instruction_pointer = context->Eip;
  const uintptr_t slot = static_cast<uintptr_t>(stack_pointer) - sizeof(void*);
  // The system keeps the context below the faulting stack; never write over it.
  const uintptr_t context_begin = reinterpret_cast<uintptr_t>(context);
  if (slot < context_begin + sizeof(CONTEXT) && slot + sizeof(void*) > context_begin) return false;
  const uintptr_t return_address = static_cast<uintptr_t>(instruction_pointer) + 1;
  memcpy(reinterpret_cast<void*>(slot), &return_address, sizeof return_address);
  stack_pointer = slot;
  instruction_pointer = reinterpret_cast<uintptr_t>(qarn_fault_raise);
  return true;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
  ThreadFaultState* state = StateOfThisThread();
  if (state == nullptr || state->translator == nullptr || state->busy) return EXCEPTION_CONTINUE_SEARCH;
  if (!IsTranslatable(exception->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  state->record = *exception->ExceptionRecord;
  state->record.ExceptionRecord = nullptr;  // a chained record is not kept alive
  state->context = *exception->ContextRecord;
  if (!RedirectToRaise(exception->ContextRecord)) return EXCEPTION_CONTINUE_SEARCH;
  state->busy = true;
  return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK InstallHandler(INIT_ONCE*, void*, void**) {
  g_state_slot = TlsAlloc();
  if (g_state_slot == TLS_OUT_OF_INDEXES) return FALSE;
  // First in the chain: a translated fault never reaches other handlers.
  g_registration.handler = AddVectoredExceptionHandler(1, OnException);
  return g_registration.handler != nullptr;
}

}  // namespace

Translator SetThreadTranslator(Translator translator) {
  if (!InitOnceExecuteOnce(&g_install_once, InstallHandler, nullptr, nullptr)) return nullptr;
  ThreadFaultState& state = t_state;
  const Translator previous = state.translator;
  state.translator = translator;
  TlsSetValue(g_state_slot, translator != nullptr ? &state : nullptr);
  return previous;
}

}  // namespace qarn::os
