// The summary-sheet services of neighbouring parts as the datasheet model
// calls them: the "FilterSort.xml" table is Main's (mainfiltersort.cpp). A
// continuous-list field value is not read through its trigger yet.
#include "com/comutil.h"
#include "kxdbdatasheetpages.h"
#include "main.h"


namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(Main& main) { main.LoadFilterSortFile(); }

_bstr_t GetTemplateFilterId(Main& main, const OLECHAR* templateId) {
  return main.GetTemplateFilterId(templateId != nullptr ? templateId : u"");
}

HRESULT ApplyTemplateFilterSort(Main& main, IKXQObject* datasheet) {
  return main.ApplyTemplateFilterSort(datasheet);
}

HRESULT GetListFieldValueText(Main&, IKXQObject*, IKXQTemplateField*, const OLECHAR*, int32_t,
                              int32_t, IKXQTrigger*, IKXQAttribute*) {
  return S_OK;
}

}  // namespace KXDBDatasheetSvcs
