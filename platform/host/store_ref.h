// Holding object-store interfaces that the host knows only by forward
// declaration.
#pragma once

#include <utility>

#include "com/types.h"

namespace kx::host::internal {

// Store interfaces derive from IDispatch alone (single inheritance, as COM
// interfaces do), so a pointer to one is also a pointer to its IUnknown.
// This lets the host count references on them without their definitions.
template <class T>
IUnknown* AsUnknown(T* object) {
  return reinterpret_cast<IUnknown*>(object);
}

// Owns one reference to a store interface.
template <class T>
class StoreRef {
 public:
  StoreRef() = default;
  explicit StoreRef(T* object) : object_(object) {
    if (object_) AsUnknown(object_)->AddRef();
  }
  StoreRef(const StoreRef& other) : StoreRef(other.object_) {}
  StoreRef(StoreRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  StoreRef& operator=(StoreRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~StoreRef() {
    if (object_) AsUnknown(object_)->Release();
  }

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // A new reference for an out-parameter; S_OK with null when empty.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = object_;
    if (object_) AsUnknown(object_)->AddRef();
    return S_OK;
  }

 private:
  T* object_ = nullptr;
};

}  // namespace kx::host::internal
