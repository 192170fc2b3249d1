// libFuzzer entry: the stand-in server's answer to arbitrary request
// messages, its "Invoke" grammar included.
//
// Input: up to 16 requests, each a 16-bit length prefix and its bytes,
// answered in turn by one server state (so "Init" can open the way for the
// verbs that need it). Each request lies in a buffer followed by zero slack,
// as the server reads it; each reply must fit a reply slot and must never
// name the callback interface, or the client would take it for a callback.
// The "call" verb opens blocks by the names in the request: this process
// makes no blocks, so every such name denotes none.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "connection/message.h"
#include "fuzz/fuzz_bytes.h"
#include "fuzz/leak_check.h"
#include "server/handlers.h"
#include "server/state.h"

namespace {

namespace msg = qarn::msg;
namespace server = qarn::server;

constexpr size_t kMaxRequest = 2048;
constexpr size_t kMaxRequests = 16;

void Fail(const char* what, uint32_t length) {
  fprintf(stderr, "reply of %u bytes: %s\n", length, what);
  abort();
}

void AnswerAll(const uint8_t* data, size_t size) {
  qarn::fuzz::FuzzBytes in(data, size);
  const std::vector<std::string> requests = in.Chunks(kMaxRequest, kMaxRequests);
  server::ServerState state;
  state.launch = {0, "/srv", "", "/app"};
  for (const std::string& request : requests) {
    std::vector<char> buffer(request.size() + server::kRequestSlack, '\0');
    memcpy(buffer.data(), request.data(), request.size());
    std::vector<char> reply(msg::kSlotSize, '\0');
    const uint32_t length =
        server::Answer(state, buffer.data(), static_cast<uint32_t>(request.size()), reply.data());
    if (length > msg::kSlotSize) Fail("longer than a reply slot", length);
    if (length < msg::kHeaderSize) Fail("shorter than a header", length);
    if (msg::InterfaceIs(reply.data(), msg::kCallbackInterface)) Fail("names the callback interface", length);
    if (state.shutdown) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qarn::fuzz::RunWithoutLeaks([&] { AnswerAll(data, size); });
  return 0;
}
