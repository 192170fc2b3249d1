#pragma once
// Which folder holds this process's pipe sockets. Normally the user's socket
// folder; when someone else holds that name, a private folder of this
// process, which the servers it starts are told about in their environment.

#include <stddef.h>
#include <stdint.h>

namespace qarn::os::posix {

// Set in a server's environment when its client's sockets are not in the
// usual folder: the folder the server must offer its pipe in.
constexpr char kPipeDirectoryVariable[] = "QARN_PIPE_DIR";

// The folder this process's pipes are in, made if it is missing. It is, in
// this order: the folder kPipeDirectoryVariable names; the usual folder,
// unless it exists as anything but a private directory of ours; a private
// folder "<usual>.XXXXXX" of this process, beside it. A named or usual folder
// that is not ours is never used or changed: kErrorAccessDenied. An error code.
uint32_t PipeDirectory(char* out, size_t size);

// "QARN_PIPE_DIR=<folder>" for the environment of a server this process
// starts, when the folder in use is not the usual one; "" when it is or when
// there is none (the server then finds the usual folder itself). False when
// it does not fit.
bool PipeDirectoryEntry(char* out, size_t size);

}  // namespace qarn::os::posix
