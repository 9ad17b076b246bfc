#include "main/eventarguments.h"

#include "host/events.h"
#include "kxvalueutils.h"

IUnknown* EventArgumentInterface(VARIANT* arguments) {
  if (arguments == nullptr) return nullptr;
  const VARIANT& v = ResolveVariant(*arguments);
  switch (v.vt) {
    case VT_UNKNOWN: return v.punkVal;
    case VT_DISPATCH: return v.pdispVal;
    case VT_UNKNOWN | VT_BYREF: return v.ppunkVal != nullptr ? *v.ppunkVal : nullptr;
    case VT_DISPATCH | VT_BYREF: return v.ppdispVal != nullptr ? *v.ppdispVal : nullptr;
    default: return nullptr;
  }
}

void* QueryEventArgument(VARIANT* arguments, REFIID riid) {
  IUnknown* unknown = EventArgumentInterface(arguments);
  if (unknown == nullptr) return nullptr;
  void* result = nullptr;
  if (FAILED(unknown->QueryInterface(riid, &result))) return nullptr;
  return result;
}

IKXQProjectUpdate* QueryProjectUpdate(VARIANT* arguments) {
  return static_cast<IKXQProjectUpdate*>(QueryEventArgument(arguments, IID_IKXQProjectUpdate));
}

void ReleaseProjectUpdate(IKXQProjectUpdate* update) {
  if (update != nullptr) update->Release();
}
