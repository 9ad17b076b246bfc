// Workers of automation methods that belong to later parts of the service:
// template validation (document catalogue) and the real-fields listing
// (field values). Until they are built each fails with E_NOTIMPL and a
// "<KXError" description; each moves out of this file with its signature.
#include "com/bstr.h"
#include "datasheetservices.h"
#include "com/comutil.h"
#include "kxcomexception.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/workerseams";

HRESULT WorkerNotBuilt(const OLECHAR* workerName) {
  KXComException ctx = KXComException::Silent(workerName);
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_NOTIMPL, u"%ls is not implemented yet",
                            workerName);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

namespace KXDBDatasheetSvcs {

HRESULT ValidateDatasheetObject(Main&, IKXQObject*) {
  return WorkerNotBuilt(u"KXDBDatasheetSvcs::ValidateDatasheetObject");
}

HRESULT ValidateLabelObject(Main&, IKXQObject*, LONG) {
  return WorkerNotBuilt(u"KXDBDatasheetSvcs::ValidateLabelObject");
}

HRESULT WriteRealFieldsWithUOM(Main&, IKXQObject*, BSTR* xml) {
  if (xml != nullptr) *xml = nullptr;
  return WorkerNotBuilt(u"KXDBDatasheetSvcs::WriteRealFieldsWithUOM");
}

}  // namespace KXDBDatasheetSvcs
