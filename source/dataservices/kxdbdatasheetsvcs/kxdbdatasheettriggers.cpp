// The summary-sheet services of neighbouring parts that are not built yet:
// the "FilterSort.xml" table is empty until its loader exists, so no
// template has a filter or a sort. A continuous-list field's value is read
// through the page's "Field" trigger as the trigger set-up reads it.
#include "com/comutil.h"
#include "kxdbdatasheetpages.h"
#include "main.h"
#include "triggers.h"

namespace KXDBDatasheetSvcs {

void LoadFilterSortFile(Main&) {}

_bstr_t GetTemplateFilterId(Main&, const OLECHAR*) { return _bstr_t(); }

HRESULT ApplyTemplateFilterSort(Main&, IKXQObject*) { return S_OK; }

HRESULT GetListFieldValueText(Main& main, IKXQObject* page, IKXQTemplateField* field,
                              const OLECHAR* key, int32_t fieldNumber, int32_t row,
                              IKXQTrigger* trigger, IKXQAttribute* fields) {
  return RecordListFieldItem(main, page, field, key, fieldNumber, row, trigger, fields);
}

}  // namespace KXDBDatasheetSvcs
