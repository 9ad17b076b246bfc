// Operations of `Main` that belong to the triggers and change events: the
// trigger callback, the object-service methods and the automation methods of
// IKXDBDatasheetSvcsMain. Until they are built the trigger callback does
// nothing and the others fail with E_NOTIMPL and a "<KXError" description.
// They move out of this file together, with the same signatures.
#include "com/comutil.h"
#include "kxcomexception.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/mainseams";

HRESULT NotBuiltYet(const OLECHAR* method) {
  KXComException ctx(method);
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_NOTIMPL, u"%ls is not implemented yet",
                            method);
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

HRESULT Main::OnTriggerFired(IKXQTrigger*, IKXQApplication*) { return S_OK; }

HRESULT Main::RunMethod(LONG, VARIANT, IKXQObject*, VARIANT, IKXQApplication*, VARIANT*) {
  return NotBuiltYet(u"KXDBDatasheetSvcsMain::RunMethod");
}

HRESULT Main::VisualAppearances(IDispatch*, IDispatch** ppObjects) {
  if (ppObjects != nullptr) *ppObjects = nullptr;
  return NotBuiltYet(u"Main::VisualAppearances");
}

HRESULT Main::LoadBEDDData(BSTR*, IDispatch*, VARIANT*) {
  return NotBuiltYet(u"Main::LoadBEDDData");
}
