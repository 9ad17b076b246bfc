#include "documents/listdatasheetsbystatus.h"

#include "com/wstr.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbystatus";

const OLECHAR* const kPageSets[] = {u"CurrentPages", u"SubmittedPages", u"CheckedPages",
                                    u"IssuedPages"};

}  // namespace

namespace KXDBDatasheetSvcs {

void ListDatasheetsWithStatus(MainContext& main, KXDatasheetInfoList& list, int32_t status) {
  list.CurrentPage = status;
  if (status < 1 || status > 4) return;
  const _variant_t first(1);
  // Thousands of datasheets of a few templates: those are read once.
  const TemplatePartsScope parts;
  // And of a few cases and classes: their names and kinds too.
  const CaseNameScope cases;
  // Each datasheet is held while it is read, not all of them first.
  LONG count = 0;
  const _com_ptr_t<IKXQObjectCollection> datasheets =
      ClassInstanceCollection(main, u"Datasheet", &count);
  list.Reserve(static_cast<size_t>(count));
  const _bstr_t pageSet(kPageSets[status - 1]);
  for (LONG i = 1; i <= count; ++i) {
    const IKXQObjectPtr datasheet = ClassInstanceAt(datasheets, i);
    bool listed = false;
    LiveObjectHasValuesAt(datasheet, &pageSet, 1, first, &listed);
    if (listed) {
      list.AddDatasheet(main.m_pApplication, datasheet);
    }
  }
}

}  // namespace KXDBDatasheetSvcs

HRESULT KXDBDatasheetSvcs::ListDatasheetsByStatus(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDatasheetsByStatus", [&](KXComException&) {
    return KXDBDatasheetSvcs::RunListing(kFile, [&] {
      KXDatasheetInfoList list;
      KXDBDatasheetSvcs::ListDatasheetsWithStatus(main, list, _wtol(request ? request : u""));
      KXDBDatasheetSvcs::WriteDatasheetList(main, list);
    });
  });
}
