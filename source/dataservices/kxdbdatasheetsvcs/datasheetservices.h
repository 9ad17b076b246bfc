// The automation objects that `Main` hands out as object services:
// `KXDatasheetServices` (kind 10, "Datasheet") and `KXDataviewServices`
// (kind 11, "Dataview"), each bound to one store object.
//
// Each method writes its entry trace line, calls one worker and turns a
// failure into an HRESULT with a "<KXError" description whose activity is
// the method's trace name. Objects are apartment-threaded (plain reference
// counts) and hold a lock on the module while they live.
#pragma once

#include "com/dispatch.h"
#include "host/store_fwd.h"

struct IKXQApplication;
class Main;

// Create the object bound to `application`, `object` and `main` (each
// AddRef'd by the new object) and give its IDispatch (AddRef'd, the
// caller's) in *services. E_OUTOFMEMORY when it cannot be allocated.
HRESULT CreateDatasheetServices(IKXQApplication* application, IKXQObject* object, Main* main,
                                IDispatch** services);
HRESULT CreateDataviewServices(IKXQApplication* application, IKXQObject* object, Main* main,
                               IDispatch** services);

namespace KXDBDatasheetSvcs {

// Workers of the automation methods that belong to the document catalogue
// and the field values. Objects are borrowed; failures come back as failed
// HRESULTs with the thread's error information.
HRESULT ValidateDatasheetObject(Main& main, IKXQObject* datasheet);
HRESULT ValidateLabelObject(Main& main, IKXQObject* label, LONG status);
// *xml receives a new BSTR that the caller frees.
HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml);

}  // namespace KXDBDatasheetSvcs
