// "FilterSort.xml": the table, its parser, and Main's load, lookups and the
// template sort of a new summary sheet.
#include "main/mainfiltersort.h"

#include <filesystem>
#include <optional>
#include <string>

#include "com/wstr.h"
#include "host/application.h"
#include "host/settings.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"
#include "saxschemaparser.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

class FilterSortParserSchema : public SAXSchemaParser {
 public:
  enum Id : uint32_t { Templates = 0, Template = 1, Id = 2, FilterId = 3, SortId = 4 };
  const GrammarRecord* GetSchema() const override {
    static constexpr auto kGrammar = Grammar::Table(
        Grammar::Element(u"Templates", Templates, {Grammar::Child(Template)}),
        Grammar::Element(u"Template", Template,
                         {Grammar::String(u"Id", Id), Grammar::String(u"FilterId", FilterId),
                          Grammar::String(u"SortId", SortId)}));
    return kGrammar.data();
  }
};

class FilterSortParser final : public FilterSortParserSchema {
 public:
  explicit FilterSortParser(Main& main) : m_main(main) {}

  HRESULT BeginElement(uint32_t id) override {
    if (id == Template) m_id = m_filterId = m_sortId = _bstr_t();
    return S_OK;
  }
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override {
    const _bstr_t text(value.text != nullptr ? value.text : u"");
    if (id == Id) m_id = text;
    if (id == FilterId) m_filterId = text;
    if (id == SortId) m_sortId = text;
    return S_OK;
  }
  HRESULT GetChildHandler(uint32_t id, SAXSchemaElementHandler** handler) override {
    if (handler == nullptr) return E_POINTER;
    *handler = nullptr;
    if (id != Templates && id != Template) return E_INVALIDARG;
    *handler = this;
    return S_OK;
  }
  HRESULT EndElement(uint32_t id) override {
    if (id == Template && m_id.length() > 0 && (m_filterId.length() > 0 || m_sortId.length() > 0)) {
      (void)m_main.AddTemplateFilterSort(m_id, m_filterId, m_sortId);
    }
    return S_OK;
  }

 private:
  Main& m_main;
  _bstr_t m_id, m_filterId, m_sortId;
};

const OLECHAR* TextOf(const _bstr_t& text) {
  return text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"";
}

// The id of the first field on `view`, or, for a view without fields, on its
// sub-views in order, each searched the same way; none when no view has one.
std::optional<int32_t> FirstFieldBelow(KXComException& ctx, IKXQClassView* view) {
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, view->get_Fields(&raw));
  VariantUtil::SafeArrayVector fields(raw, true);
  if (fields.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  if (fields.Count() > 0) {
    IKXQTemplateNodePtr field;
    KX_CHECK(ctx, fields.GetInterfaceAt(0, &field));
    LONG id = -1;
    if (field) KX_CHECK(ctx, field->get_Id(&id));
    return static_cast<int32_t>(id);
  }
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector below(children, true);
  if (below.Array() == nullptr && children != nullptr) SafeArrayDestroy(children);
  for (int32_t j = 0; j < below.Count(); ++j) {
    IKXQClassViewPtr child;
    KX_CHECK(ctx, below.GetClassViewAt(j, &child));
    if (!child) continue;
    const std::optional<int32_t> id = FirstFieldBelow(ctx, child);
    if (id) return id;
  }
  return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------
// The table.

bool FilterSortTable::Find(const OLECHAR* id, int32_t low, int32_t high, int32_t* index) const {
  const OLECHAR* key = id != nullptr ? id : u"";
  return SortedFindClamped(
      GetCount(), low, high,
      [&](int32_t i) { return _wcsicmp(key, TextOf(m_records[static_cast<size_t>(i)]->id)); },
      index);
}

void FilterSortTable::InsertAt(int32_t index) {
  if (GetCount() == m_capacity) {
    m_capacity = kxarrays_detail::GrownCapacity(m_capacity, 8);
    m_records.reserve(static_cast<size_t>(m_capacity));
  }
  m_records.insert(m_records.begin() + index, nullptr);
}

bool FilterSortTable::Insert(std::unique_ptr<FilterSortRecord> record) {
  int32_t index = 0;
  if (Find(TextOf(record->id), 0, GetCount() - 1, &index)) return false;
  InsertAt(index);
  m_records[static_cast<size_t>(index)] = std::move(record);
  return true;
}

const FilterSortRecord* FilterSortTable::Lookup(const OLECHAR* id) const {
  int32_t index = 0;
  return Find(id, 0, GetCount() - 1, &index) ? &GetAt(index) : nullptr;
}

// ---------------------------------------------------------------------------
// Main.

bool Main::AddTemplateFilterSort(const OLECHAR* id, const OLECHAR* filterId,
                                 const OLECHAR* sortId) {
  auto record = std::make_unique<FilterSortRecord>();
  record->id = id;
  record->filterId = filterId;
  record->sortId = sortId;
  return m_filterSort.Insert(std::move(record));
}

_bstr_t Main::GetTemplateFilterId(std::u16string id) const {
  const FilterSortRecord* record = m_filterSort.Lookup(id.c_str());
  return record != nullptr ? record->filterId : _bstr_t(u"");
}

_bstr_t Main::GetTemplateSortId(std::u16string id) const {
  const FilterSortRecord* record = m_filterSort.Lookup(id.c_str());
  return record != nullptr ? record->sortId : _bstr_t(u"");
}

void Main::LoadFilterSortFile() {
  if (m_filterSortLoaded) return;
  // Set first: a load that fails is not tried again.
  m_filterSortLoaded = true;
  KXComException ctx = KXComException::Silent(u"Main::LoadFilterSortFile");
  CheckPointerArgument(ctx, m_pApplication);
  _com_ptr_t<IKXQSettings> settings;
  KX_CHECK(ctx, m_pApplication->get_Settings(&settings));
  CheckPointerArgument(ctx, settings.GetInterfacePtr());
  _bstr_t folder;
  if (FAILED(settings->GetFolder(_bstr_t(u"Templates"), folder.GetAddress())) ||
      folder.length() == 0) {
    ClearThreadErrorInfo();
    return;
  }
  std::u16string path(folder.view());
  if (path.back() != u'\\' && path.back() != u'/') path += u'\\';
  path += u"FilterSort.xml";
  // What the file holds up to a fault stays; the fault becomes a warning.
  // A missing file is no fault: a site need not have one.
  std::string narrow;
  if (!kx_utf16_to_utf8(path, &narrow)) return;
  for (char& c : narrow) c = c == '\\' ? '/' : c;  // the reader takes both separators
  std::error_code ec;
  if (!std::filesystem::exists(narrow, ec)) return;
  if (SUCCEEDED(KXDBDatasheetSvcs::ParseFilterSortFile(*this, path.c_str()))) return;
  const std::u16string why = TakeThreadErrorText();
  (void)m_pApplication->LogWarning(_bstr_t(
      (u"FilterSort.xml could not be read whole, the records before the fault are used: " + why)
          .c_str()));
}

HRESULT Main::ApplyTemplateFilterSort(IKXQObject* datasheet) {
  return ServeRequest(u"ApplyTemplateFilterSort", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    _bstr_t templateId;
    KXDBDatasheetSvcs::GetAttributeString(datasheet, templateId, u"TemplateId", -1);
    const _bstr_t sortId = GetTemplateSortId(std::u16string(templateId.view()));
    if (sortId.length() == 0) return S_OK;
    IKXQAttributePtr pages;
    IKXQObjectPtr first;
    if (GetPagesAttributeByStatus(datasheet, 1, pages) >= 1) GetAttributeAsObject(pages, 1, first);
    CheckPointerArgument(ctx, first.GetInterfacePtr());
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, first, &templatePage, 1));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    PtrArray<IUnknown> tops;
    KX_CHECK(ctx, Workers().GetTopLevelDataViews(templatePage, tops));
    // The column: the field of the first template node met depth first, a
    // top-level view, then its sub-views, then the next top-level view.
    std::optional<int32_t> column;
    for (int32_t i = 0; i < tops.GetCount() && !column; ++i) {
      IKXQClassViewPtr view;
      if (tops.GetAt(i) != nullptr) {
        KX_CHECK(ctx, tops.GetAt(i)->QueryInterface(kx_uuidof<IKXQClassView>(),
                                                    reinterpret_cast<void**>(&view)));
      }
      if (view) column = FirstFieldBelow(ctx, view);
    }
    // Without a column there is nothing to sort by: the sheet stays as it is.
    if (!column) return S_OK;
    int32_t sorted = 0;
    KX_CHECK(ctx, Workers().SortDatasheet(*this, datasheet, first, sortId, *column, &sorted));
    return S_OK;
  });
}

namespace KXDBDatasheetSvcs {

HRESULT ParseFilterSortFile(Main& main, const OLECHAR* path) {
  return ServeRequest(u"KXDBDatasheetSvcs::ParseFilterSortFile", kFrame, [&](KXComException& ctx) {
    FilterSortParser parser(main);
    parser.SetCompareNoCase(false);
    parser.SetIgnoreUnknown(true);
    KX_CHECK(ctx, parser.ParseFile(path));
    return S_OK;
  });
}

}  // namespace KXDBDatasheetSvcs
