#pragma once
// Security attributes that let only the current user at an object: for the
// named objects (pipe, start event, blocks) and files another local user
// must not open.

#include <windows.h>

namespace qarn::os {

// Not inheritable, with an access list that grants everything to the
// process's user and nothing to anyone else. NULL when the user cannot be
// found out; callers then fail rather than create an object open to all.
SECURITY_ATTRIBUTES* CurrentUserOnly();

}  // namespace qarn::os
