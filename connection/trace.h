#pragma once
// The message trace. A session that starts while QARN_TRACE names a file
// writes one line per message it sends or receives to that file; any other
// session holds a NULL trace and pays one pointer test per message.

#include <stdint.h>
#include <stdio.h>

namespace qarn::trace {

// The file QARN_TRACE names, opened for appending once per process; NULL when
// the variable is unset or empty or the file cannot be opened.
FILE* ForNewSession();

// Nanoseconds on the trace's own clock, for `since` below.
int64_t Now();

enum class Direction { kRequest, kReply, kCallback, kAnswer };

// One message of `size` bytes. `since` is Now() when the exchange began,
// for replies and answers; kNoDuration for requests and callbacks.
constexpr int64_t kNoDuration = -1;
void Message(FILE* file, const void* session, Direction direction, const char* message, unsigned size,
             int64_t since);

// A request that got no reply: the system error and how long it took.
void NoReply(FILE* file, const void* session, uint32_t error, int64_t since);

}  // namespace qarn::trace
