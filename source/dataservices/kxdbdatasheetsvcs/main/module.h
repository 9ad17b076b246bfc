// The module object: its lock count (which decides whether the library may
// be unloaded) and its four exported entry points.
//
// The count is changed atomically; every live object of the module and
// every LockServer(TRUE) holds one lock.
#pragma once

#include "com/types.h"

void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

extern "C" {
// The class factory of `Main` (the only class with one).
HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
// S_OK when no lock is held, else S_FALSE.
HRESULT DllCanUnloadNow();
// Write and remove the registration script's keys in the registration
// store (KXQ_REGISTRY).
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
}
