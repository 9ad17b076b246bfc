// The summary-sheet services of neighbouring parts that are not built yet:
// the "FilterSort.xml" table is empty until its loader exists, so no
// template has a filter or a sort.
#include "com/comutil.h"
#include "kxdbdatasheetpages.h"
#include "main.h"

namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(Main&) {}

_bstr_t GetTemplateFilterId(Main&, const OLECHAR*) { return _bstr_t(); }

HRESULT ApplyTemplateFilterSort(Main&, IKXQObject*) { return S_OK; }

}  // namespace KXDBDatasheetSvcs
