#include "summary/sort.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "com/oleauto.h"
#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/overspillutils.h"
#include "model/scopedcurrent.h"
#include "summary/composition.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/composition";
constexpr OLECHAR kSortFile[] = u"source/dataservices/kxdbdatasheetsvcs/sort";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};
constexpr FrameOptions kSortFrame{.file = kSortFile};

using namespace KXDBDatasheetSvcs;
using Composition::ListRow;

// The field definition of `column`, or null when the page has none.
IKXQTemplateFieldPtr FindFieldDefinition(KXComException& ctx, IKXQTemplatePage* templatePage,
                                         int32_t column) {
  _variant_t number;
  IKXQTemplateFieldPtr field;
  KX_CHECK(ctx, templatePage->GetFieldById(column, number.GetAddress(), &field));
  return field;
}

IKXQTemplateFieldPtr FieldDefinition(KXComException& ctx, IKXQTemplatePage* templatePage,
                                     int32_t column) {
  IKXQTemplateFieldPtr field = FindFieldDefinition(ctx, templatePage, column);
  if (!field) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return field;
}

bool IsSummaryKind(KXComException& ctx, IKXQTemplate* tmpl) {
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  return kind.length() > 0 && _wcsicmp(kind, u"Summary") == 0;
}

bool SameName(const _bstr_t& a, const _bstr_t& b) {
  return kx_wcsicmp(a.length() > 0 ? a.view() : u"", b.length() > 0 ? b.view() : u"") == 0;
}

// A number's text for the C library's readers: anything beyond ASCII is no
// digit.
std::string Ascii(const _bstr_t& text) {
  std::string out;
  for (const char16_t c : text.view()) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The slot views of the field and its list view: the innermost step of the
// field's route that repeats under its owner, or the page's top-level views.
void CollectFieldObjects(KXComException& ctx, IKXQObject* page, IKXQTemplatePage* templatePage,
                         IKXQTemplateField* field, IKXQClassViewPtr& listView,
                         std::vector<IKXQClassViewPtr>& views) {
  int32_t qualifier = -1;
  SAFEARRAY* raw = nullptr;
  FieldUtils::GetFieldQualifier(page, field, &qualifier, &raw);
  const std::vector<IKXQClassViewPtr> steps = Composition::ClassViews(raw);
  views.clear();
  listView = nullptr;
  for (int32_t k = static_cast<int32_t>(steps.size()) - 1; k >= 1; --k) {
    views.clear();
    const _bstr_t name = GetDataViewBaseName(steps[static_cast<size_t>(k)]);
    IKXQClassViewPtr owner;
    KX_CHECK(ctx, steps[static_cast<size_t>(k)]->get_Parent(&owner));
    if (!owner) continue;
    SAFEARRAY* children = nullptr;
    KX_CHECK(ctx, owner->get_Children(&children));
    for (const IKXQClassViewPtr& sub : Composition::ClassViews(children)) {
      if (SameName(GetDataViewBaseName(sub), name)) views.push_back(sub);
    }
    if (views.size() > 1) {
      listView = steps[static_cast<size_t>(k)];
      return;
    }
  }
  views.clear();
  PtrArray<IUnknown> tops;
  KX_CHECK(ctx, Composition::GetTopLevelDataViews(templatePage, tops));
  for (int32_t i = 0; i < tops.GetCount(); ++i) views.push_back(IKXQClassViewPtr(tops.GetAt(i)));
  if (!steps.empty()) listView = steps.front();
}

// Where `object` goes among the ordered `objects` by the sort definition:
// in front of an equal entry, behind the smaller ones.
int32_t FindSortedRowPosition(KXComException& ctx, IKXQSortDefinition* sort, IKXQObject* object,
                              const std::vector<IKXQObjectPtr>& objects) {
  int32_t lo = 0;
  int32_t hi = static_cast<int32_t>(objects.size()) - 1;
  int32_t mid = 0;
  LONG order = 1;
  while (lo <= hi) {
    mid = (lo + hi) / 2;
    KX_CHECK(ctx, sort->Compare(object, objects[static_cast<size_t>(mid)], &order));
    if (order == 0) return mid;
    if (order < 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return objects.empty() ? 0 : (order > 0 ? mid + 1 : mid);
}

// "CLA"/"CLD": the rows ordered by the value their column shows; rows
// without a value last in row order. Equal keys keep their row order
// ascending and come out in reverse row order descending.
std::vector<ListRow> SortRowsByValue(KXComException& ctx, MainContext& main, IKXQObject* page,
                                     IKXQTemplateField* field, const OLECHAR* code) {
  const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  const int32_t P = helper.FirstRowPosition();
  const int32_t rowCount = helper.RowCount();
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  if (!objects) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t type;
  KX_CHECK(ctx, field->get_TypeName(type.GetAddress()));
  enum class Kind { Integer, Real, Text } kind = Kind::Text;
  if (type.length() > 0 && _wcsicmp(type, u"Integer") == 0) kind = Kind::Integer;
  if (type.length() > 0 && _wcsicmp(type, u"Real") == 0) kind = Kind::Real;
  const bool ascending = code != nullptr && _wcsicmp(code, u"CLA") == 0;

  struct Keyed {
    double number = 0;
    _bstr_t text;
    ListRow row;
  };
  std::vector<Keyed> keyed;
  std::vector<ListRow> empty;
  const int32_t count = GetAttributeCount(objects);
  for (int32_t i = 0; i < rowCount && P + i <= count; ++i) {
    IKXQObjectPtr object;
    GetAttributeAsObject(objects, P + i, object);
    if (!object) continue;
    _variant_t at;
    IKXQFieldValuePtr holder;
    _bstr_t text;
    bool known = false;
    if (ResolveContinuousListField(main, page, field, i, at.GetAddress(), &holder) == S_OK &&
        holder) {
      FieldUtils::GetAttributeValueText(holder, at, text, nullptr);
      known = true;
    }
    Keyed entry;
    entry.row = {object, i};
    bool usable = known && text.length() > 0;
    if (usable && kind == Kind::Integer) {
      // A 32-bit value as wcstol reads it: a text that is no number keys as
      // 0, one out of range is held at the nearer end, and the lowest value
      // stands for none.
      const LONG value = kx_wcstol(text, nullptr, 10);
      entry.number = static_cast<double>(value);
      usable = value != INT32_MIN;
    } else if (usable && kind == Kind::Real) {
      const std::string narrow = Ascii(text);
      char* end = nullptr;
      errno = 0;
      const double value = std::strtod(narrow.c_str(), &end);
      // An unreadable text has no value; zero and negative values are values.
      usable = end != narrow.c_str() && value == value;
      entry.number = value;
    } else if (usable) {
      entry.text = text;
      usable = entry.text.view() != u" ";
    }
    if (usable) {
      keyed.push_back(std::move(entry));
    } else {
      empty.push_back(entry.row);
    }
  }
  // Texts in the collation of VarBstrCmp without flags: letters first
  // without regard to case ("alpha" < "Beta"), case only breaking ties.
  auto less = [&](const Keyed& a, const Keyed& b) {
    if (kind == Kind::Text) return VarBstrCmp(a.text, b.text, LOCALE_USER_DEFAULT, 0) == VARCMP_LT;
    return a.number < b.number;
  };
  // Keys in row order within equal keys, read from the smallest up or from
  // the largest down: descending, equal keys come out in reverse row order.
  std::stable_sort(keyed.begin(), keyed.end(), less);
  if (!ascending) std::reverse(keyed.begin(), keyed.end());
  std::vector<ListRow> ordered;
  ordered.reserve(keyed.size() + empty.size());
  for (Keyed& entry : keyed) ordered.push_back(std::move(entry.row));
  for (ListRow& row : empty) ordered.push_back(std::move(row));
  return ordered;
}

int32_t SortContinuousList(KXComException& ctx, MainContext& main, IKXQObject* page,
                           const OLECHAR* code, IKXQTemplateField* field) {
  const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  const int32_t P = helper.FirstRowPosition();
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  if (helper.RowCount() == 0 || P < 1 || !objects) return 0;
  std::vector<ListRow> ordered;
  const bool byValue =
      code != nullptr && (_wcsicmp(code, u"CLA") == 0 || _wcsicmp(code, u"CLD") == 0);
  if (byValue) {
    ordered = SortRowsByValue(ctx, main, page, field, code);
  } else {
    _com_ptr_t<IKXQSortDefinition> sort;
    KX_CHECK(ctx, main.m_pSchema->get_SortDefinition(_bstr_t(code != nullptr ? code : u""), &sort));
    if (!sort) return 0;
    std::vector<IKXQObjectPtr> sorted;
    const int32_t count = GetAttributeCount(objects);
    for (int32_t position = P; position <= count; ++position) {
      IKXQObjectPtr object;
      GetAttributeAsObject(objects, position, object);
      if (!object) continue;
      const int32_t at = FindSortedRowPosition(ctx, sort, object, sorted);
      sorted.insert(sorted.begin() + at, object);
      ordered.insert(ordered.begin() + at, ListRow{object, position - P});
    }
  }
  ScopedCurrentPage currentPage(main.m_pApplication, page);
  Composition::RewriteListRows(main, page, ordered);
  Composition::RebindFieldTrigger(main, page);
  KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
  return static_cast<int32_t>(ordered.size());
}

}  // namespace

namespace Composition {

void SortPackObjects(MainContext& main, IKXQObject* datasheet, IKXQObject* page, int32_t column,
                     IKXQClassViewPtr& listView, ListRows& rows) {
  KXComException ctx = KXComException::Silent();
  IKXQApplication* application = main.m_pApplication;
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, 1));
  CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  const IKXQTemplateFieldPtr field = FieldDefinition(ctx, templatePage, column);
  std::vector<IKXQClassViewPtr> views;
  CollectFieldObjects(ctx, page, templatePage, field, listView, views);
  if (IsSummaryKind(ctx, tmpl)) {
    ForEachCurrentPage(datasheet, [&](IKXQObject* current) {
      for (const IKXQClassViewPtr& view : views)
        rows.push_back(std::make_unique<ListRowEntry>(view, current));
    });
    return;
  }
  ComPtrArray<IKXQObject> entries;
  IKXQFieldValuePtr holder;
  if (!listView || !FieldUtils::GetObjectVector(page, listView, entries, holder)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Can only sort/pack objects that are contained in a vector");
  }
  OverspillUtils run(&main);
  const _bstr_t name = GetDataViewBaseName(listView);
  SAFEARRAY* matrix = nullptr;
  KX_CHECK(ctx, run.GetOverspillChainMembers(
                    page, name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"", &matrix));
  if (matrix == nullptr) {
    for (const IKXQClassViewPtr& view : views) {
      rows.push_back(std::make_unique<ListRowEntry>(view, page));
      rows.back()->vectorRow = true;
    }
    return;
  }
  LONG lower = 1;
  LONG upper = 0;
  (void)SafeArrayGetLBound(matrix, 2, &lower);
  (void)SafeArrayGetUBound(matrix, 2, &upper);
  for (LONG j = lower; j <= upper; ++j) {
    LONG viewAt[2] = {1, j};
    LONG pageAt[2] = {2, j};
    _variant_t view;
    _variant_t owner;
    (void)SafeArrayGetElement(matrix, viewAt, view.GetAddress());
    (void)SafeArrayGetElement(matrix, pageAt, owner.GetAddress());
    IKXQClassViewPtr member;
    (void)VariantToObject(view, &member);
    IKXQObjectPtr memberPage;
    GetObjectFromVariant(memberPage, owner, nullptr);
    rows.push_back(std::make_unique<ListRowEntry>(member, memberPage));
    rows.back()->vectorRow = true;
  }
  SafeArrayDestroy(matrix);
}

HRESULT SortDatasheet(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                      const OLECHAR* code, int32_t column, int32_t* count) {
  return ServeRequest(u"Composition::SortDatasheet", kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, count);
    *count = 0;
    CheckPointerArgument(ctx, page);
    IKXQApplication* application = main.m_pApplication;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet != nullptr ? datasheet : page, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    const IKXQTemplateFieldPtr field = FindFieldDefinition(ctx, templatePage, column);
    if (format.length() > 0) {
      // Only the value sorts read the column; a schema sort compares objects.
      const bool byValue =
          code != nullptr && (_wcsicmp(code, u"CLA") == 0 || _wcsicmp(code, u"CLD") == 0);
      if (byValue && !field) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
      KX_CHECK(ctx,
               main.GetContinuousPageHelper().Initialize(application, templatePage, page, false));
      *count = SortContinuousList(ctx, main, page, code, field);
      return S_OK;
    }
    _com_ptr_t<IKXQSortDefinition> sort;
    KX_CHECK(ctx, main.m_pSchema->get_SortDefinition(_bstr_t(code != nullptr ? code : u""), &sort));
    if (!sort) return S_OK;
    ListRows gathered;
    IKXQClassViewPtr listView;
    SortPackObjects(main, datasheet, page, column, listView, gathered);
    ListRows sorted;
    ListRows empty;
    std::vector<IKXQObjectPtr> objects;
    for (const auto& row : gathered) {
      auto fresh = std::make_unique<ListRowEntry>(row->item, row->page);
      IKXQObjectPtr object;
      if (row->item) GetNodeObject(object, row->page, row->item);
      if (!object) {
        empty.push_back(std::move(fresh));
        continue;
      }
      ++*count;
      const int32_t at = FindSortedRowPosition(ctx, sort, object, objects);
      objects.insert(objects.begin() + at, object);
      sorted.insert(sorted.begin() + at, std::move(fresh));
    }
    for (auto& row : empty) sorted.push_back(std::move(row));
    WriteBackRows(application, gathered, sorted);
    if (IsSummaryKind(ctx, tmpl)) RenumberPages(main, datasheet);
    return S_OK;
  });
}

}  // namespace Composition

void WriteAlertReply(HostConnection& reply, const OLECHAR* text) {
  XMLReply::BeginMessage(reply, u"App", -1);
  XMLReply::WriteMessage(reply, u"ALERT", -1, _bstr_t(text));
  XMLReply::EndMessage(reply);
}

void WriteCountAlert(HostConnection& reply, const OLECHAR* verb, int32_t count) {
  std::u16string text = kx_format(u"%ls %d object", verb, static_cast<int>(count));
  if (count != 1) text += u"s";
  WriteAlertReply(reply, text.c_str());
}

template <class Item>
bool WriteNameTitleList(HostConnection& reply, const OLECHAR* targetId, LONG status,
                        SAFEARRAY* items, const OLECHAR* list, const OLECHAR* element,
                        const _bstr_t* current) {
  KXComException ctx = KXComException::Silent();
  VariantUtil::SafeArrayVector vector(items, true);
  if (vector.Count() == 0) return false;
  XMLReply::BeginMessage(reply, targetId, status);
  if (current != nullptr) XMLReply::AddStringAttribute(reply, u"CurrentFilter", *current);
  XMLReply::StartElement(reply, list);
  for (int32_t i = 0; i < vector.Count(); ++i) {
    Item* item = nullptr;
    if (FAILED(vector.GetInterfaceAt(i, &item)) || item == nullptr) continue;
    _com_ptr_t<Item> held;
    held.Attach(item);
    _bstr_t name;
    _bstr_t title;
    KX_CHECK(ctx, held->get_Name(name.GetAddress()));
    KX_CHECK(ctx, held->get_Title(title.GetAddress()));
    XMLReply::AddStringAttribute(reply, u"Name", name);
    XMLReply::AddStringAttribute(reply, u"Title", title);
    XMLReply::WriteElement(reply, element, nullptr);
  }
  XMLReply::EndElement(reply, list);
  XMLReply::EndMessage(reply);
  return true;
}
template bool WriteNameTitleList<IKXQSortDefinition>(HostConnection&, const OLECHAR*, LONG,
                                                     SAFEARRAY*, const OLECHAR*, const OLECHAR*,
                                                     const _bstr_t*);
template bool WriteNameTitleList<IKXQObjectFilter>(HostConnection&, const OLECHAR*, LONG,
                                                   SAFEARRAY*, const OLECHAR*, const OLECHAR*,
                                                   const _bstr_t*);

// ---------------------------------------------------------------------------
// "ListDatasheetSorts"

const GrammarRecord* ListDatasheetSortsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ListDatasheetSorts",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId)});
  return kGrammar.data();
}

HRESULT ListDatasheetSortsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ListDatasheetSortsMessageParser::ListDatasheetSorts() {
  constexpr auto kMethod = u"ListDatasheetSortsMessageParser::ListDatasheetSorts";
  return ServeRequest(kMethod, kSortFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, m_pMain->m_pSchema);
    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, m_pMain->m_pSchema->get_SortDefinitions(&raw));
    WriteNameTitleList<IKXQSortDefinition>(Reply(), m_targetId.c_str(), m_status, raw, u"Sorts",
                                           u"Sort", nullptr);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ListDatasheetSorts(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetSortsMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetSorts", request);
}

// ---------------------------------------------------------------------------
// "ApplyDatasheetSort"

const GrammarRecord* ApplyDatasheetSortSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"ApplyDatasheetSort",
                       {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
                        Grammar::String(u"SortId", SortId)});
  return kGrammar.data();
}

HRESULT ApplyDatasheetSortMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case SortId: return Store(m_sortId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ApplyDatasheetSortMessageParser::ApplyDatasheetSort() {
  constexpr auto kMethod = u"ApplyDatasheetSortMessageParser::ApplyDatasheetSort";
  return ServeRequest(kMethod, kSortFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, m_pageId);
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, datasheet);
    int32_t count = 0;
    KX_CHECK(ctx, Composition::SortDatasheet(main, datasheet, page,
                                             m_sortId.IsNull() ? u"" : m_sortId.c_str(), m_fieldId,
                                             &count));
    WriteCountAlert(Reply(), u"Sorted", count);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ApplyDatasheetSort(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ApplyDatasheetSortMessageParser>(
      main, u"KXDBDatasheetSvcs::ApplyDatasheetSort", request);
}
