// The module's data-service map (messagemap.cpp): the 97 message names, in
// map order, each with the method of `Main` that handles it.
#pragma once

#include "dataservicemap.h"

class Main;

using DataServiceMapEntry = DataServiceMapEntryOf<Main>;
using DataServiceHandler = HRESULT (Main::*)(const OLECHAR* request);

// The number of messages in the map (the terminator not counted).
inline constexpr int kDataServiceMessageCount = 97;

// The map's first entry. The map is built once, on the first call, and
// never changes; it ends with an entry whose handler is null.
const DataServiceMapEntry* GetDataServiceMap();

// The map's entry for `name` (FindDataServiceEntryIn on this map).
const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name);
