// Reference counting, QueryInterface and a default IDispatch for the host's
// objects, and a small owning pointer for them.
#pragma once

#include <atomic>
#include <span>
#include <utility>

#include "com/comutil.h"
#include "com/dispatch.h"
#include "com/dispatch_impl.h"
#include "com/oleauto.h"

namespace kx::host {

// Owns one reference to a COM object (the platform's holder).
template <class T>
using Ref = kx::com::Ref<T>;

// Creates a T with one reference held by the result.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

namespace internal {

// Base of the host's objects that implement one dispatch interface `I`.
// Counts are atomic: the store may release host objects from another thread.
// IDispatch is the table-driven one, without type information; a class that
// is reached through Invoke gives its names in `dispatch_entries`.
template <class I>
class DispatchObject : public kx::com::DispatchImpl<DispatchObject<I>, I> {
 public:
  DispatchObject() = default;
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) ||
        IsEqualGUID(iid, kx_uuidof<I>())) {
      *out = static_cast<I*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  // The automation names the object answers through IDispatch: none.
  virtual std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }

 protected:
  virtual ~DispatchObject() = default;

 private:
  std::atomic<ULONG> refs_{0};
};

}  // namespace internal
}  // namespace kx::host
