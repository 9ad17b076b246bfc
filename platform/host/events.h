// Interfaces of change events and of the arguments that database events
// hand to a module.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "host/store_fwd.h"

// A change event posted by a module (IKXQApplication::PostEvent). The host
// reads it when it delivers it: the recipients, then the message.
struct IKXQApplicationEvent : IDispatch {
  // Number of recipient names. E_POINTER for a null `count`.
  virtual HRESULT get_Count(LONG* count) = 0;

  // Recipient name at 1-based `index`: `*name` is set to null first, then
  // receives a new BSTR that the caller frees. E_POINTER for a null `name`,
  // E_INVALIDARG outside 1..count.
  virtual HRESULT get_Item(LONG index, BSTR* name) = 0;

  // The event's message name and XML text, both new BSTRs that the caller
  // frees. The message name is always set; the XML only when the whole
  // document could be built (otherwise it stays null and the event reported
  // why as a warning to the application).
  virtual HRESULT SerializeEvent(BSTR* messageName, BSTR* xml) = 0;

 protected:
  ~IKXQApplicationEvent() = default;
};
KX_DEFINE_IID(IKXQApplicationEvent, 0x7acd3e7c, 0x8d45, 0x46ea, 0xa7, 0x17, 0xb0, 0xa0, 0x3d, 0xce,
              0x6a, 0x4f)

// Argument of the "update project" database event: collects the objects the
// module changed while the project was updated.
struct IKXQProjectUpdate : IDispatch {
  // Records `object` (borrowed; the host AddRefs it) as changed. Reporting
  // the same object twice records it once.
  virtual HRESULT ReportChangedObject(IKXQObject* object) = 0;

 protected:
  ~IKXQProjectUpdate() = default;
};
KX_DEFINE_IID(IKXQProjectUpdate, 0x839ca4f0, 0x81f7, 0x435d, 0xa8, 0x32, 0x50, 0xe8, 0xfc, 0x49,
              0xae, 0xd2)

// The entries of an object's user table (IKXQNamedItem) and the places an
// attribute appears on data views (IKXQDataviewIndex) are the store's: see
// store/object.h.
