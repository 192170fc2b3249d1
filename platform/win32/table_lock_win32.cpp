// The lock of the process-wide tables: a slim reader-writer lock, which
// needs no set-up and no clean-up.
#include <windows.h>

#include "platform/platform.h"

namespace qarn::os {
namespace {

SRWLOCK g_tables = SRWLOCK_INIT;

}  // namespace

void TablesLockShared() { AcquireSRWLockShared(&g_tables); }
void TablesUnlockShared() { ReleaseSRWLockShared(&g_tables); }
void TablesLockExclusive() { AcquireSRWLockExclusive(&g_tables); }
void TablesUnlockExclusive() { ReleaseSRWLockExclusive(&g_tables); }

}  // namespace qarn::os
