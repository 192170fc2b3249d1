// Peer for the fault translation tests: a process that had its own SIGSEGV
// handler before the translator was first installed. A fault on a thread with
// the translator must still be translated; a fault on another thread must
// reach the earlier handler.
//
// Exit codes: 42 when both held, 1 when the translated fault was not caught,
// 2 when the untranslated fault came back from the earlier handler.

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "qarnplus/exception.h"

namespace {

constexpr int kReachedEarlierHandler = 42;
constexpr int kNotTranslated = 1;
constexpr int kNotPassedOn = 2;

void EarlierHandler(int) { std::_Exit(kReachedEarlierHandler); }

__attribute__((noipa)) int ReadFrom(volatile int* address) { return *address; }

volatile int* const kUnmapped = reinterpret_cast<volatile int*>(uintptr_t{0x1230});

}  // namespace

int main() {
  std::signal(SIGSEGV, &EarlierHandler);
  c_QARNPlus_Exception::Initialize();
  try {
    ReadFrom(kUnmapped);
    return kNotTranslated;
  } catch (const c_QARNPlus_Exception&) {
  }
  std::thread([] { ReadFrom(kUnmapped); }).join();
  return kNotPassedOn;
}
