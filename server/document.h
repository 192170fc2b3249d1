#pragma once
// The stand-in server's document interface: one call of the document
// interface on a parameter record that the client holds in shared blocks.

#include <stddef.h>
#include <stdint.h>

namespace qarn::server {

// Opens the package of record block `record_name` for API code text `code`
// (both as the client sent them), performs the call on the server's view of
// the record, releases the package and writes a reply text in the QARN_RET
// form into `reply` (at most `capacity` bytes, zero-terminated).
// Returns true on success; on failure the reply text names the error.
bool PerformDocumentCall(const char* record_name, const char* code, char* reply, size_t capacity);

// The same for the USB printer record, which has no API code: `printer` is
// the application's record pointer as a signed 32-bit value (its block
// name). The chain is walked through the server's views only, at most
// transport::kMaxChainNodes nodes; the reply also counts the nodes.
bool PerformUsbPrinterCall(int32_t printer, char* reply, size_t capacity);

}  // namespace qarn::server
