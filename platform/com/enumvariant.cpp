#include "com/enumvariant.h"

#include <memory>
#include <mutex>
#include <vector>

#include "com/object.h"

namespace {

// The values, shared by an enumerator and its clones; cleared with the last.
struct Items {
  std::vector<VARIANT> values;
  Items() = default;
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  ~Items() {
    for (VARIANT& v : values) VariantClear(&v);
  }
};

class EnumVariant final : public kx::com::Object<EnumVariant, IEnumVARIANT> {
 public:
  EnumVariant(std::shared_ptr<const Items> items, ULONG position)
      : items_(std::move(items)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
    if (pCeltFetched != nullptr) *pCeltFetched = 0;
    if (rgVar == nullptr && celt != 0) return E_INVALIDARG;
    if (pCeltFetched == nullptr && celt > 1) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ULONG fetched = 0;
    while (fetched < celt && position_ < items_->values.size()) {
      VARIANT* out = &rgVar[fetched];
      VariantInit(out);
      const HRESULT hr = VariantCopy(out, &items_->values[position_]);
      if (FAILED(hr)) {
        for (ULONG k = 0; k < fetched; ++k) VariantClear(&rgVar[k]);
        return hr;
      }
      ++fetched;
      ++position_;
    }
    if (pCeltFetched != nullptr) *pCeltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    std::lock_guard lock(mutex_);
    const std::size_t size = items_->values.size();
    const std::size_t left = position_ < size ? size - position_ : 0;
    if (celt > left) {
      position_ = static_cast<ULONG>(size);
      return S_FALSE;
    }
    position_ += celt;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override {
    if (ppEnum == nullptr) return E_POINTER;
    ULONG position;
    {
      std::lock_guard lock(mutex_);
      position = position_;
    }
    return kx::com::create_instance<EnumVariant>(IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnum),
                                                 items_, position);
  }

 private:
  std::shared_ptr<const Items> items_;
  std::mutex mutex_;
  ULONG position_;
};

}  // namespace

HRESULT kx_create_enum_variant(const VARIANT* items, ULONG count, IEnumVARIANT** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  if (items == nullptr && count != 0) return E_INVALIDARG;
  std::shared_ptr<Items> copies;
  try {
    copies = std::make_shared<Items>();
    copies->values.reserve(count);
    for (ULONG i = 0; i < count; ++i) {
      VARIANT v;
      VariantInit(&v);
      const HRESULT hr = VariantCopy(&v, &items[i]);
      if (FAILED(hr)) return hr;
      copies->values.push_back(v);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return kx::com::create_instance<EnumVariant>(IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnum),
                                               std::shared_ptr<const Items>(std::move(copies)), 0);
}
