// The interface and class served by kxcom_test_server.
#pragma once

#include "com/types.h"

struct ITestWidget : IUnknown {
  virtual LONG STDMETHODCALLTYPE Answer() = 0;
  // Number of widgets alive in the server library.
  virtual LONG STDMETHODCALLTYPE LiveCount() = 0;

 protected:
  ~ITestWidget() = default;
};
KX_DEFINE_IID(ITestWidget, 0x5d0e2a10, 0x33b4, 0x4c1e, 0x8a, 0x77, 0x10, 0x22, 0x33, 0x44, 0x55,
              0x66)

// Served by the library.
KX_DEFINE_GUID(CLSID_TestWidget, 0x5d0e2a11, 0x33b4, 0x4c1e, 0x8a, 0x77, 0x10, 0x22, 0x33, 0x44,
               0x55, 0x66)
// Not served by the library (its DllGetClassObject refuses it).
KX_DEFINE_GUID(CLSID_TestMissing, 0x5d0e2a12, 0x33b4, 0x4c1e, 0x8a, 0x77, 0x10, 0x22, 0x33, 0x44,
               0x55, 0x66)
