#include "dataservicemap.h"

#include <chrono>
#include <thread>

#include "com/wstr.h"
#include "com/comutil.h"
#include "kxcomexception.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/dataservicemap";

}  // namespace

const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name) {
  const DataServiceMapEntry* entry = GetDataServiceMap();
  if (entry == nullptr) return nullptr;
  const OLECHAR* wanted = name != nullptr ? name : u"";
  // Linear on purpose: at most 97 short names, looked up once per request.
  for (; entry->handler != nullptr; ++entry) {
    if (_wcsicmp(entry->name, wanted) == 0) break;
  }
  return entry;
}

HRESULT DispatchDataServiceRequest(Main& main, const OLECHAR* name, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent();
  const DataServiceMapEntry* entry = FindDataServiceEntry(name);
  if (entry != nullptr && entry->handler == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    entry = FindDataServiceEntry(name);
  }
  if (entry == nullptr) {
    const SourceLocation here = KX_HERE(kFile);
    return ReportComError(ctx, &here, E_FAIL, u"Data service map not initialised");
  }
  if (entry->handler == nullptr) {
    const SourceLocation here = KX_HERE(kFile);
    ReportComError(ctx, &here, E_FAIL, u"Data service request handler not found");
    return E_FAIL;
  }
  return (main.*(entry->handler))(text);
}
