// Paths, the process id and the namespace that prefixes every object name.

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/process_identity.h"

namespace qarn::os {

const char kPathSeparator = '/';

uint32_t ExecutablePath(char* out, size_t size) {
  if (out == nullptr || size == 0) return kErrorInvalidParameter;
  const ssize_t length = readlink("/proc/self/exe", out, size - 1);
  if (length < 0) {
    out[0] = '\0';
    return ErrorFromErrno(errno);
  }
  out[length] = '\0';
  return kErrorSuccess;
}

int FormatServerExecutable(char* out, size_t size, const char* folder, const char* digits) {
  return snprintf(out, size, "%s/qarn_svr%s", folder, digits);
}

const char* EnvironmentValue(const char* name) { return secure_getenv(name); }

namespace {

// The namespace is fixed for the life of the process: QARN_NS as it was at
// the first use, else "<pid>-<start>". Every shared block name carries it,
// so it is made once instead of with a look through the environment or
// system calls per name: on first use, and again in the child of every fork
// (where only the forking thread runs, so nobody reads it meanwhile).
// A set QARN_NS is copied, so that the application changing or freeing its
// environment later cannot move the names (one too long for any object name
// is only pointed at: every name made from it fails anyway).
char g_namespace_copy[256];
const char* g_namespace = g_namespace_copy;

void FormatNamespace() {
  const char* ns = EnvironmentValue("QARN_NS");
  if (ns == nullptr) {
    static_assert(sizeof g_namespace_copy >= posix::kNamespaceRoom, "room for <pid>-<start>");
    posix::FormatOwnNamespace(g_namespace_copy);
    g_namespace = g_namespace_copy;
  } else if (strlen(ns) < sizeof g_namespace_copy) {
    memcpy(g_namespace_copy, ns, strlen(ns) + 1);
    g_namespace = g_namespace_copy;
  } else {
    g_namespace = ns;
  }
}

}  // namespace

// An empty QARN_NS still counts as set: the server receives exactly the
// client's value and must derive the same names from it.
const char* ObjectNamespace() {
  static const bool ready = [] {
    FormatNamespace();
    pthread_atfork(nullptr, nullptr, FormatNamespace);
    return true;
  }();
  static_cast<void>(ready);
  return g_namespace;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace qarn::os
