// The summary-sheet services of neighbouring parts as the datasheet model
// calls them: the "FilterSort.xml" table is Main's (mainfiltersort.cpp).
#include "com/comutil.h"
#include "model/kxdbdatasheetpages.h"
#include "model/maincontext.h"

namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(MainContext& main) { main.LoadFilterSortFile(); }

_bstr_t GetTemplateFilterId(MainContext& main, const OLECHAR* templateId) {
  return main.GetTemplateFilterId(templateId != nullptr ? templateId : u"");
}

HRESULT ApplyTemplateFilterSort(MainContext& main, IKXQObject* datasheet) {
  return main.ApplyTemplateFilterSort(datasheet);
}

}  // namespace KXDBDatasheetSvcs
