// IKXQApplication: the host application as a module sees it. Everything a
// module needs from the host that is not about one request: the object
// store, settings, journal and privileges, the user's current document,
// messages for the user, and the change events waiting for delivery.
//
// Ownership: every interface out-parameter receives an AddRef'd pointer that
// the caller releases (null when there is none, with S_OK unless stated);
// every BSTR argument is borrowed; every BSTR out-parameter is a new string
// that the caller frees.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "host/store_fwd.h"

struct IKXQSettings;
struct IKXQJournal;
struct IKXQPrivileges;
struct IKXQApplicationEvent;
struct IKXQClassConfirmation;

struct IKXQApplication : IDispatch {
  // The object store. Null pointers (S_OK) when the host runs without one.
  virtual HRESULT get_Schema(IKXQSchema** schema) = 0;
  virtual HRESULT get_Database(IKXQDatabase** database) = 0;
  virtual HRESULT get_TemplateLibrary(IKXQTemplateLibrary** library) = 0;

  // Configuration, trace output and the signed-in user.
  virtual HRESULT get_Settings(IKXQSettings** settings) = 0;
  virtual HRESULT get_Journal(IKXQJournal** journal) = 0;
  virtual HRESULT get_Privileges(IKXQPrivileges** privileges) = 0;

  // The project the user works in, and the root project (id 1). The same
  // project always comes back as the same pointer, so modules may compare
  // them.
  virtual HRESULT get_ActiveProject(IKXQProject** project) = 0;
  virtual HRESULT get_RootProject(IKXQProject** project) = 0;

  // Switches filter evaluation into (`mode` -1) and out of (`mode` 0) the
  // context of one object. `previous` (may be null; initialised VARIANT,
  // cleared first) receives the previous mode as VT_I4.
  virtual HRESULT SwitchEvaluation(LONG mode, VARIANT* previous) = 0;

  // The user's current datasheet and page. A put with null clears the slot.
  virtual HRESULT get_CurrentDatasheet(IKXQObject** datasheet) = 0;
  virtual HRESULT put_CurrentDatasheet(IKXQObject* datasheet) = 0;
  virtual HRESULT get_CurrentPage(IKXQObject** page) = 0;
  virtual HRESULT put_CurrentPage(IKXQObject* page) = 0;

  // Texts for the host's log and the user. A null text counts as empty.
  virtual HRESULT LogWarning(BSTR text) = 0;
  virtual HRESULT LogNotice(BSTR text) = 0;
  virtual HRESULT ShowMessage(BSTR text) = 0;
  virtual HRESULT LogDiagnostic(BSTR text) = 0;

  // The user's local privilege table: `*table` receives a new 2-D SAFEARRAY
  // of VARIANT (rows × 2: privilege name VT_BSTR, granted VT_BOOL) that the
  // caller destroys, or null when there is no table.
  virtual HRESULT GetLocalPrivileges(SAFEARRAY** table) = 0;

  // Change events. PostEvent AddRefs `event` and keeps it pending until the
  // host delivers it after the current call, or discards it when the call
  // fails. GetPendingEvents gives a new 1-D SAFEARRAY of VT_UNKNOWN (lower
  // bound 0, each element AddRef'd, in posting order) that the caller
  // destroys, or null when nothing is pending; modules merge a new event into
  // a pending one of the same key instead of posting it, whatever the host
  // has read of the pending one. An application may also answer
  // IKXQPendingEventLookup (below), which finds the pending events of one key
  // without the whole list.
  virtual HRESULT PostEvent(IKXQApplicationEvent* event) = 0;
  virtual HRESULT GetPendingEvents(SAFEARRAY** events) = 0;

  // Bracket the creation of an object that the user asked for. Calls nest.
  virtual HRESULT BeginObjectCreation() = 0;
  virtual HRESULT EndObjectCreation() = 0;

  // The object the module hands a class (or class-view) name to when it
  // needs the user to confirm which class of object to create.
  virtual HRESULT get_ClassConfirmation(IKXQClassConfirmation** confirmation) = 0;

  // A new, empty object collection (the store's collection interface).
  virtual HRESULT CreateObjectCollection(IKXQObjectCollection** collection) = 0;

  // Holds: CreateHold makes a "Hold" object named `name` with "InActive"
  // false; `reason` is VT_BSTR or VT_EMPTY (borrowed). CloseHold sets its
  // "InActive" true; closing a closed hold succeeds.
  virtual HRESULT CreateHold(BSTR name, VARIANT reason, IKXQObject** hold) = 0;
  virtual HRESULT CloseHold(IKXQObject* hold, VARIANT reason) = 0;

  // Bracket the validation of one datasheet against its templates. Calls
  // nest.
  virtual HRESULT BeginTemplateWork() = 0;
  virtual HRESULT EndTemplateWork() = 0;

  // A Boolean mode the module sets around one page rebuild and restores.
  virtual HRESULT get_RebuildMode(VARIANT_BOOL* mode) = 0;
  virtual HRESULT put_RebuildMode(VARIANT_BOOL mode) = 0;

  // A named host service, e.g. "DrawingServices". Fails with E_INVALIDARG
  // and error information for an unknown name.
  virtual HRESULT GetService(BSTR name, IDispatch** service) = 0;

 protected:
  ~IKXQApplication() = default;
};
KX_DEFINE_IID(IKXQApplication, 0xd19c301d, 0x6293, 0x48e2, 0xbd, 0x6d, 0x70, 0x79, 0xb1, 0x57, 0xbf,
              0x81)

// Optional face of an application (found through QueryInterface): its
// pending store looks events up by key, so that merging a new event into a
// pending one need not walk every pending event. An event's key is
// the text it answers as its automation property "Key" when it is posted
// (an event without one has no key). The answer always agrees with
// GetPendingEvents: an event leaves it when it leaves the pending list
// (taken for delivery, or discarded), whatever the host read of it.
struct IKXQPendingEventLookup : IUnknown {
  // The pending events whose key is `key` (exactly, case-sensitive), in
  // posting order, as GetPendingEvents gives them: a new 1-D SAFEARRAY of
  // VT_UNKNOWN that the caller destroys, or null when none is pending.
  virtual HRESULT GetPendingEventsOfKey(BSTR key, SAFEARRAY** events) = 0;

 protected:
  ~IKXQPendingEventLookup() = default;
};
KX_DEFINE_IID(IKXQPendingEventLookup, 0x3e8b5d27, 0x91c4, 0x4f06, 0xb2, 0x5a, 0x6c, 0x0e, 0x84,
              0xd1, 0x37, 0x9b)

// Receives a class or class-view name that the user must confirm before an
// object of it is created.
struct IKXQClassConfirmation : IDispatch {
  virtual HRESULT ConfirmClass(BSTR className) = 0;

 protected:
  ~IKXQClassConfirmation() = default;
};
KX_DEFINE_IID(IKXQClassConfirmation, 0x6bcd72ee, 0x8545, 0x4bba, 0xba, 0x9a, 0xce, 0x7f, 0x42, 0x9a,
              0x05, 0x0a)
