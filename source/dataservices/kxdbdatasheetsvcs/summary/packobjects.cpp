#include "summary/packobjects.h"

#include <algorithm>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/scopedcurrent.h"
#include "summary/composition.h"
#include "summary/sort.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/packobjects";
constexpr FrameOptions kFrame{.file = kFile};

using namespace KXDBDatasheetSvcs;

bool HoldsObject(const ListRowEntry& row) {
  if (!row.item) return false;
  IKXQObjectPtr object;
  GetNodeObject(object, row.page, row.item);
  return static_cast<bool>(object);
}

}  // namespace

const GrammarRecord* PackObjectsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"PackObjects", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId)});
  return kGrammar.data();
}

HRESULT PackObjectsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT PackObjectsMessageParser::PackObjects() {
  return ServeRequest(u"PackObjectsMessageParser::PackObjects", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    IKXQApplication* application = main.m_pApplication;
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, m_pageId);
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet ? datasheet : page, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    _bstr_t kind;
    KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    if (format.length() > 0) return S_OK;

    ListRows rows;
    IKXQClassViewPtr listView;
    Composition::SortPackObjects(main, datasheet, page, m_fieldId, listView, rows);

    // Backwards from the last row to the list's own slot on this page: the
    // rows from the last occupied one on make the work list, fresh records
    // of item and page (so the write-back leaves "HiddenObjects" alone).
    // When the own slot lies after the last occupied row, nothing is
    // gathered.
    ListRows gathered;
    bool occupied = false;
    bool gap = false;
    for (int32_t i = static_cast<int32_t>(rows.size()) - 1; i >= 0; --i) {
      const ListRowEntry& row = *rows[static_cast<size_t>(i)];
      const bool holds = HoldsObject(row);
      if (holds) occupied = true;
      if (occupied) {
        if (!holds) gap = true;
        gathered.push_back(std::make_unique<ListRowEntry>(row.item, row.page));
      }
      const bool own = (listView ? Composition::SameObject(row.item, listView) : !row.item) &&
                       Composition::SameObject(row.page, page);
      if (own) break;
    }
    std::reverse(gathered.begin(), gathered.end());
    if (!gap) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"No objects to move");

    ListRows packed;
    ListRows empty;
    for (const auto& row : gathered) {
      auto fresh = std::make_unique<ListRowEntry>(row->item, row->page);
      if (HoldsObject(*row)) {
        packed.push_back(std::move(fresh));
      } else {
        empty.push_back(std::move(fresh));
      }
    }
    if (empty.empty())
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"No room to move objects");
    const int32_t moved = static_cast<int32_t>(packed.size());
    for (auto& row : empty) packed.push_back(std::move(row));
    Composition::WriteBackRows(application, gathered, packed);
    if (kind.length() > 0 && _wcsicmp(kind, u"Summary") == 0)
      Composition::RenumberPages(main, datasheet);
    WriteCountAlert(Reply(), u"Packed", moved);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::PackObjects(MainContext& main, const OLECHAR* request) {
  return ServeMessage<PackObjectsMessageParser>(main, u"KXDBDatasheetSvcs::PackObjects", request);
}
