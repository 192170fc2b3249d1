// The Microsoft-ABI DLL from an application built the Microsoft way: its
// classes, its exceptions and its translator, against the MinGW server.
//
//   abi_test SERVER_FOLDER
//
// Prints one line per check and a dump of every written-back record, which
// scripts/msvc-tests.sh also compares with the same program built with
// MinGW against the MinGW DLL. Exits 1 when a check fails.
#include <malloc.h>
#include <qarnplus.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_MSC_VER)
#include <eh.h>  // _set_se_translator
#endif

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++g_failures;
}

void Dump(const char* what, const void* bytes, size_t size) {
  printf("dump %s:", what);
  for (size_t i = 0; i < size; ++i) printf(" %02x", static_cast<const unsigned char*>(bytes)[i]);
  printf("\n");
}

const char* Invoke(void* session, const char* request) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(session, request, &reply, nullptr);
  return reply != nullptr ? reply : "";
}

// The server writes 0x80 | ((code + offset) & 0x7F) into record bytes that
// come back (server/README.md).
unsigned char Pattern(unsigned code, unsigned offset) {
  return static_cast<unsigned char>(0x80 | ((code + offset) & 0x7F));
}

void DocumentCalls(void* session) {
  char request[96];

  SAPGetVersion1 version;
  memset(&version, 0, sizeof version);
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&version), 1);
    snprintf(request, sizeof request, "call %lu 1",
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&version)));
    Invoke(session, request);
  }
  Dump("SAPGetVersion1", &version, sizeof version);
  Check(version.abVersion[0] == Pattern(1, 4) && version.abVersion[1] == Pattern(1, 5) &&
            version.abVersion[2] == Pattern(1, 6),
        "document call: the version bytes come back");

  char message[32];
  char text[] = "printing";
  memset(message, 0, sizeof message);
  SAPGetErrMes1 error;
  memset(&error, 0, sizeof error);
  error.pMessage = message;
  error.nMessageLen = sizeof message;
  error.pszText = text;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&error), 8);
    snprintf(request, sizeof request, "call %lu 8",
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&error)));
    Invoke(session, request);
  }
  Dump("SAPGetErrMes1 message", message, sizeof message);
  Dump("SAPGetErrMes1 text", text, sizeof text);
  Check(strncmp(message, "QARN error", 10) == 0, "document call: the message buffer comes back");
  Check(error.pMessage == message && error.pszText == text, "document call: the pointers stay the caller's");

  unsigned char key[6];
  memset(key, 0, sizeof key);
  SAPGetPublicKey1 public_key;
  memset(&public_key, 0, sizeof public_key);
  public_key.pKey = key;
  public_key.nKeyLen = sizeof key;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&public_key), 10);
    snprintf(request, sizeof request, "call %lu 10",
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&public_key)));
    Invoke(session, request);
  }
  Check(public_key.pKey == key, "document call: the buffer pointer stays the caller's");
  SAPGetPublicKey1 without_pointer = public_key;  // an address differs from run to run
  without_pointer.pKey = nullptr;
  Dump("SAPGetPublicKey1", &without_pointer, sizeof without_pointer);
  Dump("SAPGetPublicKey1 key", key, sizeof key);
  bool key_pattern = true;
  // The key buffer belongs to the field at offset 2.
  for (unsigned j = 0; j < sizeof key; ++j) key_pattern = key_pattern && key[j] == Pattern(10, 2 + 1 + j);
  Check(key_pattern, "document call: a buffer field's bytes come back");
}

void SharedBlocks() {
  char local[16] = "shared bytes";
  c_QARNPlus_Shrmem owner(local, sizeof local, true, nullptr);
  char name[16];
  snprintf(name, sizeof name, "%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(local)));
  c_QARNPlus_Shrmem by_name(name);
  Check(by_name.Local() != nullptr && memcmp(by_name.Local(), local, sizeof local) == 0,
        "block opened by name");
  c_QARNPlus_Shrmem by_pointer(static_cast<const void*>(local));
  Check(by_pointer.Local() != nullptr && memcmp(by_pointer.Local(), local, sizeof local) == 0,
        "block opened by pointer");
  try {
    c_QARNPlus_Shrmem missing("qarn-no-such-block");
    Check(false, "a missing block throws");
  } catch (unsigned long code) {
    Check(code == 2, "a missing block throws unsigned long 2");
  }
}

int WINAPI AskPassword(unsigned char* password, unsigned int* length, const char*) {
  memcpy(password, "s3cret", 6);
  *length = 6;
  return 1;
}

void CallbackWhileWaiting(void* session) {
  char request[96];
  snprintf(request, sizeof request, "callback passwd %lu report.pdf",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&AskPassword)));
  Check(strstr(Invoke(session, request), "val=\"s3cret\" name=\"password\"") != nullptr,
        "a callback runs while the request waits");
}

_filter_def* MakeFilter() { return nullptr; }

void FilterProxies(void* session) {
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(session, &MakeFilter);
  Check(entry != nullptr, "filter entry created");
  if (entry == nullptr) return;
  QARN_FilterDef* filter = entry->Create();  // through the vftable the DLL built
  Check(filter != nullptr, "filter created in the server");
  if (filter == nullptr) return;
  const char* name = filter->GetName();
  Check(name != nullptr && *name != '\0', "the filter has a name");
  char listed[64];
  // GetName cuts a name to 15 characters.
  snprintf(listed, sizeof listed, "stringVal val=\"%s", name != nullptr ? name : "?");
  const char* filters = Invoke(session, "filters");
  Check(strstr(filters, listed) != nullptr, "the server lists the filter by that name");
  if (strstr(filters, listed) == nullptr) printf("%s\n", filters);
  filter->Destroy(entry);  // frees both proxies inside the DLL
  Check(strstr(Invoke(session, "filters"), "val=\"0\" name=\"count\"") != nullptr, "the filter is released");
}

// ---- Resuming after a catch ------------------------------------------------

__declspec(noinline) void ThrowNumber(int n) { throw n; }

// A catch block with a catch nested in it, in a frame whose stack pointer is
// only known at run time: the runtime must resume the frame on its own stack
// after each catch block, whatever the catch block stored in the frame.
__declspec(noinline) int CatchTwice(int n) {
  volatile char* room = static_cast<volatile char*>(_alloca(16 + n * 64));
  room[0] = static_cast<char>(n);
  int caught = 0;
  try {
    ThrowNumber(n);
  } catch (int outer) {
    try {
      ThrowNumber(outer + 1);
    } catch (int inner) {
      caught += inner;
    }
    caught += outer;
  }
  return caught + room[0];
}

void CatchesResume() {
  int sum = 0;
  for (int n = 0; n < 4; ++n) sum += CatchTwice(n);
  // n + (n + 1) + n for n = 0..3
  Check(sum == 22, "frames resume on their own stack after nested catch blocks");
}

// ---- Faults -------------------------------------------------------------------

volatile int* const kUnmapped = reinterpret_cast<int*>(0x10);
volatile int g_zero = 0;
volatile int g_one = 1;

struct Fault {
  const char* name;
  unsigned long code;
  const char* text;
  void (*raise)();
};

// Called through pointers: clang 19 with -fasync-exceptions still infers
// that a function without calls or throws cannot unwind, and then gives its
// call inside a try block no try state, so a fault there passes the catch.
__declspec(noinline) void ReadUnmapped() { (void)*kUnmapped; }
__declspec(noinline) void WriteUnmapped() { *kUnmapped = 1; }
__declspec(noinline) void DivideByZero() { g_one = g_one / g_zero; }
__declspec(noinline) void Breakpoint() { __debugbreak(); }

const Fault kFaults[] = {
    {"read", 0xC0000005,
     "The thread tried to read from or write to a virtual address for which it does not have the appropriate "
     "access",
     &ReadUnmapped},
    {"write", 0xC0000005,
     "The thread tried to read from or write to a virtual address for which it does not have the appropriate "
     "access",
     &WriteUnmapped},
    {"divide", 0xC0000094, "The thread tried to divide an integer value by an integer divisor of zero",
     &DivideByZero},
    {"breakpoint", 0x80000003, "A breakpoint was encountered", &Breakpoint},
};

// The faults on the calling thread, each caught by reference as the DLL's
// exception; `where` names the thread in the output.
void TranslateFaults(const char* where) {
  c_QARNPlus_Exception::Initialize();
  for (const Fault& fault : kFaults) {
    char what[96];
    snprintf(what, sizeof what, "%s: %s fault translated with code, address and text", where, fault.name);
    try {
      fault.raise();
      Check(false, what);
    } catch (const c_QARNPlus_Exception& e) {
      const EXCEPTION_RECORD& record = e.m_ExceptionRecord;
      bool ok = record.ExceptionCode == fault.code && record.ExceptionAddress != nullptr &&
                strcmp(e.m_szMessage, fault.text) == 0 && e.m_Context.Eip != 0;
      if (fault.code == 0xC0000005) {
        // Read or write, and the address touched.
        ok = ok && record.NumberParameters >= 2 &&
             record.ExceptionInformation[0] == (fault.name[0] == 'w' ? 1u : 0u) &&
             record.ExceptionInformation[1] == 0x10;
      }
      Check(ok, what);
    }
  }
  c_QARNPlus_Exception::Deinitialize();
}

DWORD WINAPI SecondThread(void*) {
  TranslateFaults("second thread");
  return 0;
}

void ThrownFromTheDll() {
  try {
    c_QARNPlus_Exception::Initialize();
    c_QARNPlus_Exception::Translator(0, nullptr);  // throws a c_QARNPlus_Exception by value
    Check(false, "the DLL throws its exception");
  } catch (const c_QARNPlus_Exception& e) {
    Check(e.m_ExceptionRecord.ExceptionCode == 0 && e.m_szMessage[0] != '\0',
          "c_QARNPlus_Exception thrown by value in the DLL, caught by reference");
  }
  c_QARNPlus_Exception::Deinitialize();
}

#if defined(_MSC_VER)
struct ApplicationFault {
  unsigned int code;
};
void __cdecl ApplicationTranslator(unsigned int code, EXCEPTION_POINTERS*) { throw ApplicationFault{code}; }

void TranslatorGoesBack() {
  _set_se_translator(&ApplicationTranslator);
  c_QARNPlus_Exception::Initialize();
  c_QARNPlus_Exception::Deinitialize();
  Check(_set_se_translator(&ApplicationTranslator) == &ApplicationTranslator,
        "Deinitialize puts the application's translator back");
  try {
    void (*volatile raise)() = &WriteUnmapped;
    raise();
    Check(false, "the application's translator runs again");
  } catch (const ApplicationFault& fault) {
    Check(fault.code == 0xC0000005, "the application's translator runs again");
  }
  _set_se_translator(nullptr);
}
#endif

LONG WINAPI Unhandled(EXCEPTION_POINTERS* pointers) {
  // Under Wine an unhandled fault would start the debugger and hang.
  printf("FAIL: unhandled exception %08lx\n",
         static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode));
  fflush(stdout);
  ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(&Unhandled);
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) {
    fprintf(stderr, "usage: abi_test SERVER_FOLDER\n");
    return 2;
  }
  void* session = f_QARNSVR_LoadLibrary(0, argv[1], "");
  Check(session != nullptr, "server started");
  if (session == nullptr) return 1;
  f_QARNDRV_Init(session);
  DocumentCalls(session);
  CallbackWhileWaiting(session);
  FilterProxies(session);
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);

  SharedBlocks();
  CatchesResume();
  ThrownFromTheDll();
  TranslateFaults("main thread");
  HANDLE thread = CreateThread(nullptr, 0, &SecondThread, nullptr, 0, nullptr);
  Check(thread != nullptr && WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0, "second thread finished");
#if defined(_MSC_VER)
  TranslatorGoesBack();
#endif
  printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
