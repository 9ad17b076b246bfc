// A minimal in-process server: one class, CLSID_TestWidget, whose objects
// answer ITestWidget; any other class id gets CLASS_E_CLASSNOTAVAILABLE.
#include "test_server.h"

#include <atomic>

#include "com/object.h"

namespace {

std::atomic<LONG> g_live{0};

class Widget final : public kx::com::Object<Widget, ITestWidget> {
 public:
  Widget() { ++g_live; }
  ~Widget() override { --g_live; }
  LONG STDMETHODCALLTYPE Answer() override { return 42; }
  LONG STDMETHODCALLTYPE LiveCount() override { return g_live.load(); }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID riid,
                                                                            void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(clsid, CLSID_TestWidget)) return CLASS_E_CLASSNOTAVAILABLE;
  return kx::com::create_instance<kx::com::ClassFactory<Widget>>(riid, ppv);
}
