// Lifetime helpers for the reader's COM objects.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <utility>

#include "com/object.h"
#include "msxml/sax.h"

namespace kx::msxml {

// Counts the library's live objects and server locks, for DllCanUnloadNow.
void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleLockCount() noexcept;

// A member that keeps the library loaded while its object lives: a handler
// may keep a locator or attribute list past the reader.
class ModuleLock {
 public:
  ModuleLock() noexcept { ModuleAddRef(); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
  ~ModuleLock() { ModuleRelease(); }
};

// Owns one reference to an interface. Copying adds a reference.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  // Takes over a reference the caller owns.
  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Adds a reference of its own.
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

}  // namespace kx::msxml
