#pragma once
// The stand-in server's answer to each request message.

#include <stddef.h>
#include <stdint.h>

#include "server/state.h"

namespace qarn::server {

// Requests may be longer than a reply slot (long "Invoke" texts).
constexpr size_t kMaxRequest = 65536;
// Zero bytes kept after every request in the receive buffer, so that fixed
// offsets and texts can be read without looking at the length again.
constexpr size_t kRequestSlack = 1024;

// Writes the reply to `request` (`length` bytes, followed by kRequestSlack
// zero bytes) into `reply` (a zero-filled reply slot) and returns its length.
uint32_t Answer(ServerState& state, const char* request, uint32_t length, char* reply);

// The reply to a request that did not fit the receive buffer.
uint32_t AnswerTooLong(ServerState& state, char* reply);

}  // namespace qarn::server
