// Implementing interfaces: a CRTP base with an atomic reference count and a
// QueryInterface table built from the implemented interfaces, a generic
// class factory, and creation helpers.
//
//   class MemoryStream final : public kx::com::Object<MemoryStream, IStream> {
//     ... implement IStream's methods ...
//   };
//
// QueryInterface answers IUnknown (through the first interface listed), each
// listed interface, the parents declared with KX_DECLARE_PARENT, and
// IDispatch for interfaces derived from it. Anything else goes to the
// derived class's optional `HRESULT query_extra(REFIID, void**)`, which must
// AddRef what it hands out; the default answers E_NOINTERFACE.
//
// Lifetime: a new object holds one reference, owned by whoever called new;
// the last Release deletes it. Counts are atomic, so references may be
// released on any thread.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "com/activation.h"
#include "com/dispatch.h"

// Pointer to the sub-object of p that answers riid along I's parent chain,
// or null.
template <class I>
void* kx_cast_in_chain(I* p, REFIID riid) {
  if (IsEqualGUID(riid, kx_uuidof<I>())) return p;
  using P = typename kx_interface_parent<I>::type;
  if constexpr (!std::is_same_v<P, IUnknown>) {
    return kx_cast_in_chain<P>(p, riid);
  } else if constexpr (std::is_base_of_v<IDispatch, I> && !std::is_same_v<I, IDispatch>) {
    return IsEqualGUID(riid, IID_IDispatch) ? static_cast<IDispatch*>(p) : nullptr;
  } else {
    return nullptr;
  }
}

namespace kx::com {

template <class Derived, class First, class... Rest>
class Object : public First, public Rest... {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    void* found = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown)) {
      found = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      found = kx_cast_in_chain<First>(static_cast<First*>(this), riid);
      ((found = found != nullptr ? found : kx_cast_in_chain<Rest>(static_cast<Rest*>(this), riid)),
       ...);
    }
    if (found == nullptr) return static_cast<Derived*>(this)->query_extra(riid, ppv);
    *ppv = found;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  // The object's identity (its IUnknown), not AddRef'd.
  IUnknown* identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  virtual ~Object() = default;
  // The references held now: 1 when only one holder is left.
  ULONG reference_count() const { return refs_.load(std::memory_order_acquire); }
  // Hook for interfaces not listed (tear-offs, aggregation); must set *ppv and
  // AddRef on success.
  HRESULT query_extra(REFIID, void**) { return E_NOINTERFACE; }

 private:
  std::atomic<ULONG> refs_{1};
};

// Creates T(args...) and gives interface riid on it in *ppv (null on
// failure). E_OUTOFMEMORY when allocation fails; exceptions from T's
// constructor are caught (E_OUTOFMEMORY for std::bad_alloc, E_FAIL else).
template <class T, class... Args>
HRESULT create_instance(REFIID riid, void** ppv, Args&&... args) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  T* object = nullptr;
  try {
    object = new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// A class factory creating default-constructed T; no aggregation.
// LockServer only counts (see lock_count()).
template <class T>
class ClassFactory final : public Object<ClassFactory<T>, IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_instance<T>(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ++locks_;
    else
      --locks_;
    return S_OK;
  }
  LONG lock_count() const { return locks_.load(); }

 private:
  std::atomic<LONG> locks_{0};
};

}  // namespace kx::com
