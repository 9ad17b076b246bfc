// Lifetime helpers for the reader's COM objects.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <utility>

#include "com/comutil.h"
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

// Owns one reference to an interface (the platform's holder).
using kx::com::Ref;

}  // namespace kx::msxml
