// The database-event handlers and the summary-sheet class lookup, which
// belong to the triggers and change events. Until they are built each does
// nothing and succeeds, so that events the host delivers change nothing.
// They move out of this file together, with the same signatures.
#include "com/oleauto.h"
#include "main.h"

HRESULT Main::HandleCreateEvent(IKXQObject*) { return S_OK; }
HRESULT Main::HandleDeleteEvent(IKXQObject*) { return S_OK; }
HRESULT Main::HandleDeleteCaseEvent(IKXQObject*, LONG) { return S_OK; }
HRESULT Main::HandleUpdateProjectEvent(IKXQProjectUpdate*) { return S_OK; }
HRESULT Main::HandleDeleteProjectEvent(IKXQProject*) { return S_OK; }
HRESULT Main::HandleChangeClassEvent(IKXQObject*, IKXQClass*) { return S_OK; }
HRESULT Main::HandleChangeClaimStatusEvent(IKXQObject*) { return S_OK; }

namespace KXDBDatasheetSvcs {

// No summary-sheet classes yet: an empty array, so the subscriptions that
// filter by it match nothing.
HRESULT SummarySheetClasses(Main&, IDispatch*, VARIANT* classes) {
  if (classes == nullptr) return E_POINTER;
  VariantClear(classes);
  SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 0, 0);
  if (names == nullptr) return E_OUTOFMEMORY;
  classes->vt = VT_ARRAY | VT_BSTR;
  classes->parray = names;
  return S_OK;
}

}  // namespace KXDBDatasheetSvcs
