// Trigger set-up of datasheets and pages, and the summary-sheet services
// of neighbouring parts that are not built yet.
//
// For now a trigger is only bound to this service (so that the store knows
// it and the has-trigger test answers true); the items it records for each
// displayed page and field come with the trigger callbacks. The
// "FilterSort.xml" table is empty until its loader exists: no template has
// a filter or a sort. A continuous-list field value is not read through its
// trigger yet.
#include "com/comutil.h"
#include "kxcomexception.h"
#include "kxdbdatasheetpages.h"
#include "kxdbdatasheetsvcs_i.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetservices";

HRESULT BindTrigger(const OLECHAR* method, IKXQObject* object, const OLECHAR* name) {
  KXComException ctx(method);
  try {
    CheckPointerArgument(ctx, object);
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, object->get_Trigger(_bstr_t(name), &trigger));
    CheckPointerArgument(ctx, trigger.GetInterfacePtr());
    KX_CHECK(ctx, trigger->SetHandler(_bstr_t(kMainProgId)));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

namespace KXDBDatasheetServices {

HRESULT InitializeDatasheetTrigger(Main&, IKXQObject* datasheet) {
  return BindTrigger(u"KXDBDatasheetServices::InitializeDatasheetTrigger", datasheet,
                     u"Datasheet");
}

HRESULT InitializePageTrigger(Main&, IKXQObject* page) {
  return BindTrigger(u"KXDBDatasheetServices::InitializePageTrigger", page, u"Field");
}

}  // namespace KXDBDatasheetServices

namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(Main&) {}

_bstr_t GetTemplateFilterId(Main&, const OLECHAR*) { return _bstr_t(); }

HRESULT ApplyTemplateFilterSort(Main&, IKXQObject*) { return S_OK; }

HRESULT GetListFieldValueText(Main&, IKXQObject*, IKXQTemplateField*, const OLECHAR*, int32_t,
                              int32_t, IKXQTrigger*, IKXQAttribute*) {
  return S_OK;
}

}  // namespace KXDBDatasheetSvcs
