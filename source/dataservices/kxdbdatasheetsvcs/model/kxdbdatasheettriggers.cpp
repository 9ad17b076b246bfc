// The summary-sheet services of neighbouring parts as the datasheet model
// calls them: the "FilterSort.xml" table is Main's (mainfiltersort.cpp).
#include "com/comutil.h"
#include "main/main.h"
#include "model/kxdbdatasheetpages.h"

namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(Main& main) { main.LoadFilterSortFile(); }

_bstr_t GetTemplateFilterId(Main& main, const OLECHAR* templateId) {
  return main.GetTemplateFilterId(templateId != nullptr ? templateId : u"");
}

HRESULT ApplyTemplateFilterSort(Main& main, IKXQObject* datasheet) {
  return main.ApplyTemplateFilterSort(datasheet);
}

}  // namespace KXDBDatasheetSvcs
