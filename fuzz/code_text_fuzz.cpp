// libFuzzer entry: the API code text and the block name a server receives.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/code_text_harness.h"
#include "fuzz/leak_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qarn::fuzz::RunWithoutLeaks([&] { qarn::fuzz::RunCodeTextInput(data, size); });
  return 0;
}
