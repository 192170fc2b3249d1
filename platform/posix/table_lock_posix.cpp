// The lock of the process-wide tables: a statically initialised
// reader-writer lock, usable from static initialisation on.
#include <pthread.h>

#include "platform/platform.h"

namespace qarn::os {
namespace {

pthread_rwlock_t g_tables = PTHREAD_RWLOCK_INITIALIZER;

}  // namespace

void TablesLockShared() { pthread_rwlock_rdlock(&g_tables); }
void TablesUnlockShared() { pthread_rwlock_unlock(&g_tables); }
void TablesLockExclusive() { pthread_rwlock_wrlock(&g_tables); }
void TablesUnlockExclusive() { pthread_rwlock_unlock(&g_tables); }

}  // namespace qarn::os
