// The data-service map of a module: the message names it serves, each with
// the function that handles it, and the look-up of one request's entry
// (IKXQDataServiceImpl calls it). The framework knows what the handlers are
// called on only as the template argument `Module`; the module declares its
// map (for this module: messagemap.h).
#pragma once

#include "com/oleauto.h"

inline constexpr int kDataServiceNameLength = 128;

// One row. A handler is called with the module and the request text (a
// BSTR, which may be null for an empty request); it returns its HRESULT
// and, on failure, leaves its error information as the thread's. The second
// handler takes one further argument (borrowed); no message of this module
// uses it. `file` is the handler's source file, where a failure caught at
// the handler's own frame is located (see MessageKit::HandlerFile).
template <class Module>
struct DataServiceMapEntryOf {
  OLECHAR name[kDataServiceNameLength];                        // zero-filled after the name
  HRESULT (*handler)(Module& module, const OLECHAR* request);  // null only in the terminator
  HRESULT (*handler2)(Module& module, const OLECHAR* request, const VARIANT& extra);
  const OLECHAR* file = nullptr;  // not owned; null: the message kit's own
};

namespace DataServiceMapping {

// True when `entryName` equals `wanted` without regard to the case of ASCII
// letters (a null `wanted` is the empty name).
bool NameMatches(const OLECHAR* entryName, const OLECHAR* wanted);
// The pause before the second look for a name not found.
void PauseBeforeSecondLook();
// E_FAIL with "Data service map not initialised" or "Data service request
// handler not found" as the thread's error information.
[[nodiscard]] HRESULT ReportNoMap();
[[nodiscard]] HRESULT ReportHandlerNotFound();

}  // namespace DataServiceMapping

// The first entry of `map` (ended by an entry whose handler is null) whose
// name equals `name` without regard to the case of ASCII letters, or the
// terminator; null when there is no map. Linear on purpose: a hundred short
// names, looked up once per request.
template <class Module>
const DataServiceMapEntryOf<Module>* FindDataServiceEntryIn(
    const DataServiceMapEntryOf<Module>* map, const OLECHAR* name) {
  if (map == nullptr) return nullptr;
  for (; map->handler != nullptr; ++map) {
    if (DataServiceMapping::NameMatches(map->name, name)) break;
  }
  return map;
}

// The entry of `name` in `map` with a handler, looking a second time after
// a 1 ms pause when the first look fails. Null when there is none, with
// `*failure` set to E_FAIL and the thread's error information to "Data
// service map not initialised" or "Data service request handler not found".
template <class Module>
const DataServiceMapEntryOf<Module>* ResolveDataServiceEntryIn(
    const DataServiceMapEntryOf<Module>* map, const OLECHAR* name, HRESULT* failure) {
  const DataServiceMapEntryOf<Module>* entry = FindDataServiceEntryIn(map, name);
  if (entry != nullptr && entry->handler == nullptr) {
    DataServiceMapping::PauseBeforeSecondLook();
    entry = FindDataServiceEntryIn(map, name);
  }
  if (entry == nullptr) {
    *failure = DataServiceMapping::ReportNoMap();
    return nullptr;
  }
  if (entry->handler == nullptr) {
    *failure = DataServiceMapping::ReportHandlerNotFound();
    return nullptr;
  }
  return entry;
}
