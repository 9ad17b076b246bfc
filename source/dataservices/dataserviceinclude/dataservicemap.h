// The data-service map: the message names a module serves, each with the
// method of `Main` that handles it, and the dispatch of one request.
#pragma once

#include "com/oleauto.h"

class Main;

// A message handler: called on `Main` with the request text (a BSTR, which
// may be null for an empty request); returns the handler's HRESULT and, on
// failure, leaves its error information as the thread's.
using DataServiceHandler = HRESULT (Main::*)(const OLECHAR* request);
// The form with one further argument (borrowed). No entry uses it.
using DataServiceHandler2 = HRESULT (Main::*)(const OLECHAR* request, const VARIANT& extra);

inline constexpr int kDataServiceNameLength = 128;

struct DataServiceMapEntry {
  OLECHAR name[kDataServiceNameLength];  // zero-filled after the name
  DataServiceHandler handler;            // null only in the terminator
  DataServiceHandler2 handler2;          // null in every entry
};

// The number of messages in the map (the terminator not counted).
inline constexpr int kDataServiceMessageCount = 97;

// The map's first entry. The map is built once, on the first call, and
// never changes; it ends with an entry whose handler is null.
const DataServiceMapEntry* GetDataServiceMap();

// The first entry whose name equals `name` without regard to the case of
// ASCII letters (a null name is the empty name), or the terminator.
const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name);

// Finds the handler of `name` (looking a second time after a 1 ms pause
// when the first look fails) and calls it on `main` with `text`. Returns
// the handler's HRESULT; an unknown name fails with E_FAIL and "Data service
// request handler not found". On failure the thread's error information
// describes it.
HRESULT DispatchDataServiceRequest(Main& main, const OLECHAR* name, const OLECHAR* text);
