// The module's lock count, which decides whether the library may be
// unloaded: every live object of the module and every LockServer(TRUE)
// holds one lock. The count is changed atomically.
#pragma once

#include "com/types.h"

void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
