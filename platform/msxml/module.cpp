// The library's in-process server entry points: activation asks
// DllGetClassObject for the reader's class factory.
#include <atomic>
#include <new>

#include "com/activation.h"
#include "com/clsids.h"
#include "msxml/internal/reader.h"

namespace kx::msxml {

namespace {

std::atomic<long> g_module_refs{0};

// Stateless factory; its references count like any object of the library.
class ReaderFactory final : public com::Object<ReaderFactory, IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return com::create_instance<Reader>(iid, out);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }

 private:
  ModuleLock module_;
};

}  // namespace

void ModuleAddRef() noexcept { g_module_refs.fetch_add(1, std::memory_order_relaxed); }
void ModuleRelease() noexcept { g_module_refs.fetch_sub(1, std::memory_order_acq_rel); }
long ModuleLockCount() noexcept { return g_module_refs.load(std::memory_order_acquire); }

}  // namespace kx::msxml

#define KX_MSXML_EXPORT __attribute__((visibility("default")))

extern "C" KX_MSXML_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_SAXXMLReader60) return CLASS_E_CLASSNOTAVAILABLE;
  return kx::com::create_instance<kx::msxml::ReaderFactory>(iid, out);
}

extern "C" KX_MSXML_EXPORT HRESULT DllCanUnloadNow() {
  return kx::msxml::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
