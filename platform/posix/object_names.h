#pragma once
// Names of the POSIX named objects (semaphores, shared memory) of this
// process's namespace, the socket folder, and the check that such an object
// is really ours.

#include <stddef.h>
#include <sys/stat.h>

namespace qarn::os::posix {

// "/qarn.<ns>.<kind><name>" into `out`. False when it does not fit.
bool FormatObjectName(char* out, size_t size, const char* kind, const char* name);

// The user's socket folder, "${XDG_RUNTIME_DIR:-/tmp}/qarn-<uid>"; the
// snprintf result.
int FormatPipeDirectory(char* out, size_t size);

// True when the object is owned by our effective user and grants nothing to
// group or others, so no other local user can have planted or read it.
bool IsPrivateObject(const struct stat& status);

}  // namespace qarn::os::posix
