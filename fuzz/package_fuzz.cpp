// libFuzzer entry: the server's side of a parameter package over record
// bytes of a hostile application, with the stand-in server's document call.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "fuzz/leak_check.h"
#include "fuzz/package_harness.h"
#include "server/document.h"

namespace {

void PerformCall(const char* record_name, const char* code_text) {
  char reply[1024];
  if (code_text == nullptr) {
    qarn::server::PerformUsbPrinterCall(static_cast<int32_t>(strtol(record_name, nullptr, 10)), reply,
                                        sizeof reply);
  } else {
    qarn::server::PerformDocumentCall(record_name, code_text, reply, sizeof reply);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qarn::fuzz::RunWithoutLeaks([&] { qarn::fuzz::RunPackageInput(data, size, PerformCall); });
  return 0;
}
