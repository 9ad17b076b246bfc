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
