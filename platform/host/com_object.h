// Reference counting, QueryInterface and a default IDispatch for the host's
// objects, and a small owning pointer for them.
#pragma once

#include <atomic>
#include <span>
#include <utility>

#include "com/dispatch.h"
#include "com/dispatch_impl.h"
#include "com/oleauto.h"

namespace kx::host {

// Owns one reference to a COM object: released on destruction and on
// reassignment; copies AddRef.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes over a reference the caller already owns.
  static Ref Adopt(T* object) {
    Ref ref;
    ref.object_ = object;
    return ref;
  }
  // Adds a reference of its own.
  explicit Ref(T* object) : object_(object) {
    if (object_) object_->AddRef();
  }
  Ref(const Ref& other) : Ref(other.object_) {}
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <class U>
  Ref(Ref<U>&& other) noexcept : object_(other.Detach()) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref() {
    if (object_) object_->Release();
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Gives up ownership of the reference.
  T* Detach() { return std::exchange(object_, nullptr); }

  // A new reference for an out-parameter.
  T* AddRefCopy() const {
    if (object_) object_->AddRef();
    return object_;
  }

 private:
  T* object_ = nullptr;
};

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
