#pragma once
// The grammar of "Invoke" request texts: a verb and its words.

#include <stddef.h>

#include "server/state.h"

namespace qarn::server {

// Runs one request text and writes its QARN_RET reply text (zero-terminated,
// at most `room` bytes) into `out`. Sets state.last_error.
void RunRequest(ServerState& state, const char* text, char* out, size_t room);

}  // namespace qarn::server
