// The module's data-service map (messagemap.cpp): the 97 message names, in
// map order, each with the handler of its message family. A handler takes
// `Main` as its MainContext and the request text (borrowed BSTR; null is
// empty), traces its name, and returns an HRESULT with the thread's error
// information set on failure.
#pragma once

#include "dataservicemap.h"

class MainContext;

using DataServiceMapEntry = DataServiceMapEntryOf<MainContext>;
using DataServiceHandler = HRESULT (*)(MainContext& main, const OLECHAR* request);

// The number of messages in the map (the terminator not counted).
inline constexpr int kDataServiceMessageCount = 97;

// The map's first entry. The map is built once, on the first call, and
// never changes; it ends with an entry whose handler is null.
const DataServiceMapEntry* GetDataServiceMap();

// The map's entry for `name` (FindDataServiceEntryIn on this map).
const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name);
