#pragma once
// The stand-in server's version number: major * 10000 + minor * 100 + patch
// of the project version, given by the build.

namespace qarn::server {

#ifndef QARN_SERVER_VERSION
#error "the build defines QARN_SERVER_VERSION"
#endif
constexpr int kServerVersion = QARN_SERVER_VERSION;

}  // namespace qarn::server
