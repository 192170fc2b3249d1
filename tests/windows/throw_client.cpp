// Exceptions that start in the DLL and end in this program: faults here,
// translated by the DLL's handler, and a system code thrown by a DLL
// constructor. Each line printed names what was caught.
#include <qarnplus.h>
#include <stdio.h>

namespace {

volatile int* const kUnmapped = reinterpret_cast<int*>(0x10);
volatile int zero = 0;

const struct {
  const char* what;
  void (*fault)();
} kFaults[] = {
    {"read", [] { (void)*kUnmapped; }},
    {"write", [] { *kUnmapped = 1; }},
    {"divide", [] { zero = 1 / zero; }},
};

}  // namespace

int main() {
  c_QARNPlus_Exception::Initialize();
  for (const auto& f : kFaults) {
    try {
      f.fault();
      printf("%s: nothing thrown\n", f.what);
    } catch (const c_QARNPlus_Exception& e) {
      printf("%s: %08lx %s\n", f.what, static_cast<unsigned long>(e.m_ExceptionRecord.ExceptionCode),
             e.m_szMessage);
    }
  }
  c_QARNPlus_Exception::Deinitialize();
  try {
    c_QARNPlus_Shrmem block("no-such-block");
    printf("open: nothing thrown\n");
  } catch (unsigned long code) {
    printf("open: system code %lu\n", code);
  }
  return 0;
}
