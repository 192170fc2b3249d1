#pragma once
// Where the running qarn program lies: qarn looks for qarn_svr beside itself.

#include <string>

namespace qarn::tool {

// The full path of this program, or "" when the system does not say.
std::string OwnExecutablePath();

// Its folder ("." when unknown).
std::string OwnFolder();

}  // namespace qarn::tool
