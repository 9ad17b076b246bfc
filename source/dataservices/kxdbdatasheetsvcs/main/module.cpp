#include "main/module.h"

#include <dlfcn.h>
#include <string>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/wstr.h"
#include "main/main.h"

namespace {

// The class factory of Main: one per process, cached, not counted as an
// object of the module (only LockServer locks it).
class MainClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return Main::CreateInstance(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ModuleLock();
    } else {
      ModuleUnlock();
    }
    return S_OK;
  }

 private:
  // The factory lives as long as the library; the count only answers
  // AddRef/Release.
  std::atomic<ULONG> m_refs{1};
};

MainClassFactory& Factory() {
  static MainClassFactory factory;
  return factory;
}

// The path of the library this code is in (the module when built as one).
std::u16string OwnModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  std::u16string path;
  if (!kx_utf8_to_utf16(info.dli_fname, &path)) return {};
  return path;
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_Main)) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory().QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT DllRegisterServer() {
  const std::u16string path = OwnModulePath();
  if (path.empty()) {
    return kx_set_error_info(SELFREG_E_CLASS, u"Cannot determine the path of the module");
  }
  return Main::UpdateRegistry(true, path.c_str());
}

extern "C" HRESULT DllUnregisterServer() { return Main::UpdateRegistry(false, nullptr); }
