// IKXQRegistrar: what a module registers with the host at start-up. Every
// BSTR and VARIANT argument is borrowed. A refused registration returns a
// failure HRESULT with error information set for the thread.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"

struct IKXQRegistrar : IDispatch {
  // Registers the module under its ProgID (triggers bound to that ProgID are
  // called back through the module's TriggerFired).
  virtual HRESULT RegisterService(BSTR progId) = 0;

  // Declares a privilege the module checks, in a named group.
  virtual HRESULT DeclarePrivilege(BSTR name, BSTR group, BSTR description) = 0;

  // The collection of templates from which the module works out which
  // classes it follows (the store's template collection, with a count and
  // 1-based items). `*templates` receives an AddRef'd pointer that the caller
  // releases; null when the host has no template library.
  virtual HRESULT GetTemplates(IDispatch** templates) = 0;

  // Subscribes the module to a database event. `localKind` is what the host
  // passes back to OnDatabaseEvent; `eventKind` is VT_I4; `classFilter` is
  // VT_BSTR (one class name) or VT_ARRAY|VT_BSTR (several) and selects the
  // objects whose class is one of them or derives from one of them;
  // `deferred` is reserved (modules pass VARIANT_FALSE).
  virtual HRESULT Subscribe(LONG localKind, VARIANT eventKind, VARIANT classFilter,
                            VARIANT_BOOL deferred) = 0;

  // Registers an object service of `kind` under `name` for objects of class
  // `className` (VT_BSTR).
  virtual HRESULT RegisterObjectService(LONG kind, BSTR name, VARIANT className) = 0;

  // Declares object-service method `methodId`. `displayName` is the name
  // shown to users; the three flags are reserved for the host's menus.
  virtual HRESULT DeclareMethod(LONG methodId, BSTR name, VARIANT className, BSTR displayName,
                                BSTR description, VARIANT_BOOL flag1, VARIANT_BOOL flag2,
                                VARIANT_BOOL flag3) = 0;

 protected:
  ~IKXQRegistrar() = default;
};
KX_DEFINE_IID(IKXQRegistrar, 0x1f500ae4, 0x7077, 0x48d9, 0x92, 0xec, 0xb9, 0x5a, 0x34, 0x26, 0xe5,
              0x77)
