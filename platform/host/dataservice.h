// IKXQDataService: the interface a data-service module implements and the
// host drives. The slot order after IDispatch is part of the contract: a
// host built against it calls the module through these slots.
//
// Threading: the host calls one operation at a time, from one thread, and
// attaches the module before any other call but start-up.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "host/store_fwd.h"

struct IKXQRegistrar;
struct IKXQRequestContext;
struct IKXQApplication;

struct IKXQDataService : IDispatch {
  // Start-up registration: the module registers its service, privileges,
  // database-event subscriptions, object services and methods with the
  // registrar (borrowed for the call).
  virtual HRESULT StartUp(IKXQRegistrar* registrar) = 0;

  // One request. `name` and `text` are borrowed BSTRs (null = empty);
  // `context` is borrowed; the module may AddRef and keep it after the call.
  // On failure the module leaves its error information as the thread's
  // (GetErrorInfo); whatever it wrote to the response is discarded.
  virtual HRESULT ProcessRequest(BSTR name, BSTR text, IKXQRequestContext* context) = 0;

  // A trigger bound to the module fired. Both interfaces are borrowed; the
  // application is passed so the module can log warnings.
  virtual HRESULT TriggerFired(IKXQTrigger* trigger, IKXQApplication* application) = 0;

  // Hands out the module's automation object for an object service of the
  // given kind (as registered at start-up) bound to `object`. `reserved` is
  // VT_EMPTY and unused. `*services` receives an AddRef'd pointer that the
  // caller releases; it is null on failure.
  virtual HRESULT GetObjectServices(LONG kind, VARIANT reserved, IKXQObject* object,
                                    IKXQApplication* application, IDispatch** services) = 0;

  // Not implemented by modules: E_NOTIMPL.
  virtual HRESULT Reserved1() = 0;

  // Runs a declared object-service method. `reserved1` and `reserved2` are
  // VT_EMPTY and unused. `result` is an initialised VARIANT (or null when the
  // caller wants no result); the module clears it before storing into it and
  // the caller clears it afterwards.
  virtual HRESULT RunMethod(LONG methodId, VARIANT reserved1, IKXQObject* object, VARIANT reserved2,
                            IKXQApplication* application, VARIANT* result) = 0;

  // Not implemented by modules: E_NOTIMPL.
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;

  // A database event the module subscribed to. `kind` is the local kind given
  // to IKXQRegistrar::Subscribe; `object` is the object concerned (borrowed);
  // `arguments` is borrowed and may be VT_EMPTY, VT_I4 (a case number) or an
  // interface (an IKXQProjectUpdate, IKXQProject or IKXQClass).
  virtual HRESULT OnDatabaseEvent(LONG kind, IKXQObject* object, VARIANT* arguments) = 0;

  // Not implemented by modules: E_NOTIMPL.
  virtual HRESULT Reserved4() = 0;
  virtual HRESULT Reserved5() = 0;

  // Gives the module the host application; the module AddRefs and keeps it
  // until Detach.
  virtual HRESULT Attach(IKXQApplication* application) = 0;

  // The module drops the application and everything it obtained from it.
  virtual HRESULT Detach() = 0;

  // A request with one extra argument (borrowed); otherwise as ProcessRequest.
  virtual HRESULT ProcessRequestWithResponse(BSTR name, BSTR text, IKXQRequestContext* context,
                                             VARIANT extra) = 0;

 protected:
  ~IKXQDataService() = default;
};
KX_DEFINE_IID(IKXQDataService, 0x1db3d003, 0x3d69, 0x4fac, 0xbd, 0x95, 0x96, 0x7c, 0x3d, 0x5f, 0x39,
              0x67)
