// libFuzzer entry: messages of a hostile server while a request waits.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/leak_check.h"
#include "fuzz/reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qarn::fuzz::RunWithoutLeaks([&] { qarn::fuzz::RunReplyInput(data, size); });
  return 0;
}
