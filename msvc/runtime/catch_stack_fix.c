/* Keeps a catching frame's saved stack pointer intact across its catch block.
 *
 * On x86 the frame's exception registration has a saved-ESP slot, and the
 * C++ runtime resumes the frame after a catch block with ESP taken from it.
 * clang's catch blocks store their own ESP there (for catches nested inside
 * them). Microsoft's runtime saves the slot before it calls the catch block
 * and puts it back afterwards; Wine 8.0's does not, so the frame resumes on
 * the catch block's stack and returns into garbage.
 *
 * Every frame handler of this module goes through __CxxFrameHandler3 below.
 * When it is asked about a C++ exception (search phase, before any catch
 * runs), it notes the frame and its saved ESP and hands the runtime a copy
 * of the exception's throw information whose destructor entry is
 * RestoreThenDestroy. The runtime destroys the exception object right after
 * the catch block returns and before it resumes the frame, so that is where
 * the slot is put back; the object's own destructor then runs as before.
 * Under Microsoft's runtime the slot already holds the value written back:
 * the same program is correct on both. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

enum {
  kCxxExceptionCode = 0xE06D7363,
  kUnwinding = 0x2 | 0x4, /* EH_UNWINDING | EH_EXIT_UNWIND */
  kPendingLimit = 8,      /* exceptions alive at once on one thread */
};

typedef struct {
  DWORD attributes;
  void* destructor; /* thiscall, takes the object */
  void* forward_compat;
  void* catchable_types;
} ThrowInfo;

typedef struct {
  void* object; /* NULL: the entry is free */
  const ThrowInfo* original;
  ThrowInfo copy;        /* what the exception record points at meanwhile */
  DWORD* saved_esp_slot; /* of the frame that will catch */
  DWORD saved_esp;
} PendingCatch;

static __declspec(thread) PendingCatch qarn_pending[kPendingLimit];

static PendingCatch* PendingFor(void* object) {
  for (int i = 0; i < kPendingLimit; ++i) {
    if (qarn_pending[i].object == object) return &qarn_pending[i];
  }
  return NULL;
}

static void __fastcall RestoreThenDestroy(void* object) {
  PendingCatch* pending = PendingFor(object);
  if (pending == NULL) return; /* cannot happen: only pending objects get here */
  if (pending->saved_esp_slot != NULL) *pending->saved_esp_slot = pending->saved_esp;
  void(__fastcall * destructor)(void*) = (void(__fastcall*)(void*))pending->original->destructor;
  pending->object = NULL;
  /* thiscall and fastcall both pass the object in ECX when it is the only
   * argument; no stack arguments to clean up either way. */
  if (destructor != NULL) destructor(object);
}

/* Called for each frame before the runtime's handler looks at it. */
void __cdecl qarn_note_catching_frame(EXCEPTION_RECORD* record, void* registration) {
  if (record->ExceptionCode != kCxxExceptionCode || (record->ExceptionFlags & kUnwinding) != 0 ||
      record->NumberParameters < 3 || record->ExceptionInformation[2] == 0) {
    return;
  }
  void* object = (void*)record->ExceptionInformation[1];
  PendingCatch* pending = PendingFor(object);
  if (pending == NULL) {
    pending = PendingFor(NULL);
    if (pending == NULL) return; /* too many at once: left as it is */
    pending->object = object;
    pending->original = (const ThrowInfo*)record->ExceptionInformation[2];
    pending->copy = *pending->original;
    pending->copy.destructor = (void*)&RestoreThenDestroy;
    record->ExceptionInformation[2] = (ULONG_PTR)&pending->copy;
  }
  /* The slot sits just below the registration record. A catch block of
   * another exception may still be running in this frame and have its ESP
   * there: then the value noted for that one is the frame's own. */
  DWORD* slot = (DWORD*)registration - 1;
  DWORD value = *slot;
  for (int i = 0; i < kPendingLimit; ++i) {
    if (qarn_pending[i].object != NULL && &qarn_pending[i] != pending &&
        qarn_pending[i].saved_esp_slot == slot) {
      value = qarn_pending[i].saved_esp;
    }
  }
  pending->saved_esp_slot = slot;
  pending->saved_esp = value;
}

/* The compiler's frame handler thunks jump here with the function's EH
 * table in EAX; the runtime's handler gets the same registers and stack. */
__asm__(
    ".text\n"
    ".globl ___CxxFrameHandler3\n"
    "___CxxFrameHandler3:\n"
    "  pushl %eax\n"
    "  pushl 12(%esp)\n" /* registration */
    "  pushl 12(%esp)\n" /* exception record */
    "  call _qarn_note_catching_frame\n"
    "  addl $8, %esp\n"
    "  popl %eax\n"
    "  jmp *__imp____CxxFrameHandler3_runtime\n");
