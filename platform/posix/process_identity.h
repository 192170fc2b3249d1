#pragma once
// Which process made an object: a process is known by its id and its start
// time (clock ticks after boot), since ids are reused but the pair is not.

#include <stdint.h>
#include <sys/types.h>

namespace qarn::os::posix {

// The start time of process `pid` (0: this process) from /proc/<pid>/stat.
// False when no such process runs; a zombie has ended and counts as gone.
// Reads with open/read only, so it may run in a fork child handler.
bool ProcessStartTime(pid_t pid, uint64_t* start);

// Room for "<pid>-<start>" and its terminator.
constexpr size_t kNamespaceRoom = 48;

// This process's own namespace, "<pid>-<start>" (just "<pid>" where /proc
// cannot tell the start time), into `out` of kNamespaceRoom bytes.
// Async-signal-safe, for the child of a fork.
void FormatOwnNamespace(char* out);

// Parses "<pid>-<start>" at the front of `text`, ending at `end` (a
// character that must follow, e.g. '.'), or at the text's end when `end` is
// '\0'. Returns the number of characters taken, 0 when the form is not there.
size_t ParseProcessNamespace(const char* text, char end, pid_t* pid, uint64_t* start);

}  // namespace qarn::os::posix
