#include "com/errorinfo.h"

#include <mutex>
#include <optional>
#include <string>

#include "com/object.h"

namespace {

// The error object: written through ICreateErrorInfo, read through
// IErrorInfo, possibly on other threads (hence the lock).
class ErrorObject final : public kx::com::Object<ErrorObject, ICreateErrorInfo, IErrorInfo> {
 public:
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    std::lock_guard lock(mutex_);
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return set(source_, text); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override {
    return set(description_, text);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return set(help_file_, text); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    std::lock_guard lock(mutex_);
    help_context_ = context;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return get(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return get(description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return get(help_file_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *out = help_context_;
    return S_OK;
  }

 private:
  HRESULT set(std::optional<std::u16string>& field, LPOLESTR text) {
    try {
      std::lock_guard lock(mutex_);
      field = text != nullptr ? std::u16string(text) : std::u16string();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT get(const std::optional<std::u16string>& field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *out = nullptr;
    if (!field) return S_OK;
    *out = SysAllocStringLen(field->data(), static_cast<UINT>(field->size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  std::mutex mutex_;
  GUID guid_ = GUID_NULL;
  std::optional<std::u16string> source_, description_, help_file_;
  DWORD help_context_ = 0;
};

// The thread's slot; whatever it still holds is released at thread exit.
struct Slot {
  IErrorInfo* info = nullptr;
  Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  ~Slot() {
    if (info != nullptr) info->Release();
  }
};
thread_local Slot t_slot;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo* previous = t_slot.info;
  t_slot.info = perrinfo;
  if (previous != nullptr) previous->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_slot.info;
  t_slot.info = nullptr;
  return *pperrinfo != nullptr ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  return kx::com::create_instance<ErrorObject>(IID_ICreateErrorInfo,
                                               reinterpret_cast<void**>(pperrinfo));
}

HRESULT kx_set_error_info(HRESULT hr, const OLECHAR* description, const OLECHAR* source,
                          REFGUID guid, const OLECHAR* help_file, DWORD help_context) {
  ICreateErrorInfo* create = nullptr;
  HRESULT made = CreateErrorInfo(&create);
  if (FAILED(made)) return made;
  create->SetGUID(guid);
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetHelpFile(const_cast<LPOLESTR>(help_file));
  create->SetHelpContext(help_context);
  IErrorInfo* info = nullptr;
  made = create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  if (FAILED(made)) return made;
  SetErrorInfo(0, info);
  info->Release();
  return hr;
}
