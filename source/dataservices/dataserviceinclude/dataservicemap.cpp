#include "dataservicemap.h"

#include <chrono>
#include <thread>

#include "com/wstr.h"
#include "kxcomexception.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/dataservicemap";

}  // namespace

namespace DataServiceMapping {

bool NameMatches(const OLECHAR* entryName, const OLECHAR* wanted) {
  return _wcsicmp(entryName, wanted != nullptr ? wanted : u"") == 0;
}

void PauseBeforeSecondLook() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

HRESULT ReportNoMap() {
  KXComException ctx = KXComException::Silent();
  const SourceLocation here = KX_HERE(kFile);
  return ReportComError(ctx, &here, E_FAIL, u"Data service map not initialised");
}

HRESULT ReportHandlerNotFound() {
  KXComException ctx = KXComException::Silent();
  const SourceLocation here = KX_HERE(kFile);
  ReportComError(ctx, &here, E_FAIL, u"Data service request handler not found");
  return E_FAIL;
}

}  // namespace DataServiceMapping
