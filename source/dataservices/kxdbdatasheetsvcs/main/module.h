// The module object: its four exported entry points. Whether the library
// may be unloaded is decided by the lock count (model/modulelock.h).
#pragma once

#include "com/types.h"
#include "model/modulelock.h"

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
