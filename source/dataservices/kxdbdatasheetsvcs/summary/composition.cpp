#include "summary/composition.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/triggers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "model/workertable.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/composition";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};
// A continuous list's failure is answered as its composer answered it.
constexpr FrameOptions kComposeFrame{.file = kFile, .passReturnedFailure = true, .silent = true};

using namespace KXDBDatasheetSvcs;

std::vector<IKXQClassViewPtr> ChildViews(KXComException& ctx, IKXQClassView* view) {
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  return Composition::ClassViews(children);
}

IKXQTemplatePagePtr RequiredTemplatePage(KXComException& ctx, MainContext& main, IKXQObject* page) {
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  if (!templatePage) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return templatePage;
}

// The whole name a data view answers ("Nozzles(2)" stays "Nozzles(2)").
_bstr_t WholeName(KXComException& ctx, IKXQClassView* view) {
  _bstr_t name;
  KX_CHECK(ctx, view->get_Name(name.GetAddress()));
  return name;
}

bool SameName(const _bstr_t& a, const _bstr_t& b) {
  return kx_wcsicmp(a.length() > 0 ? a.view() : u"", b.length() > 0 ? b.view() : u"") == 0;
}

// The claim state the store answers for the Boolean TRUE: 1 to 3 count as
// claimed.
bool IsClaimed(KXComException& ctx, IKXQObject* object) {
  LONG state = 0;
  KX_CHECK(ctx, object->TestFilter(_variant_t(true), &state));
  return static_cast<uint32_t>(state - 1) < 3u;
}

struct Acceptance {
  bool restricted = false;
  bool ignoreClaims = false;
  bool root = false;
  bool Accepts(KXComException& ctx, IKXQApplication* application, IKXQObject* object) const {
    if (!restricted || ignoreClaims || root) return true;
    return IsClaimedByActiveProject(application, object) && IsClaimed(ctx, object);
  }
};

// The text of a list value; empty for none.
_bstr_t ValueText(IKXQAttribute* attribute, int32_t index) {
  _bstr_t text;
  GetAttributeValueStringAt(attribute, index, text);
  return text;
}

_bstr_t Trimmed(const _bstr_t& text) {
  const std::u16string_view view = text.length() > 0 ? text.view() : std::u16string_view();
  const size_t first = view.find_first_not_of(u" \t\r\n");
  if (first == std::u16string_view::npos) return _bstr_t();
  const size_t last = view.find_last_not_of(u" \t\r\n");
  return _bstr_t(std::u16string(view.substr(first, last - first + 1)).c_str());
}

// A field record re-written with a new row (and, for a blank row, without
// the attribute it was read from).
_bstr_t Restamped(KXComException& ctx, const _bstr_t& text, int32_t row, bool blank) {
  const _bstr_t trimmed = Trimmed(text);
  if (trimmed.length() == 0) return _bstr_t(u"");
  KXFieldData record;
  KX_CHECK(ctx, record.SelectField(trimmed, -1));
  if (blank) record.attribId = -1;
  record.index = row;
  BSTR out = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&out, kFieldDataFull, -1));
  return _bstr_t(out, false);
}

IKXQAttributePtr RequiredAttribute(KXComException& ctx, IKXQObject* object, const OLECHAR* name) {
  IKXQAttributePtr attribute;
  GetAttributeInterface(object, name, attribute);
  if (!attribute) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return attribute;
}

void PutText(IKXQAttribute* attribute, int32_t index, const _bstr_t& text) {
  SetAttributeValueAt(attribute, index,
                      text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"");
}

std::vector<_bstr_t> ReadTexts(IKXQAttribute* attribute) {
  std::vector<_bstr_t> texts;
  const int32_t count = attribute ? GetAttributeCount(attribute) : 0;
  texts.reserve(static_cast<size_t>(count));
  for (int32_t i = 1; i <= count; ++i) texts.push_back(ValueText(attribute, i));
  return texts;
}

// 1-based read of a text list held in a vector; empty past its end.
_bstr_t TextAt(const std::vector<_bstr_t>& texts, int32_t position) {
  if (position < 1 || position > static_cast<int32_t>(texts.size())) return _bstr_t();
  return texts[static_cast<size_t>(position - 1)];
}

using Composition::ListRow;

void RewriteRows(KXComException& ctx, IKXQObject* page, const ContinuousPageHelper& helper,
                 const std::vector<ListRow>& rows, const std::vector<_bstr_t>& blanks) {
  const int32_t P = helper.FirstRowPosition();
  const int32_t F = helper.FirstRepeatingField();
  const int32_t R = helper.FieldsPerRow();
  const int32_t V = helper.FixedValueCount();
  const int32_t W = helper.ValuesPerRow();
  const int32_t n = static_cast<int32_t>(rows.size());

  const IKXQAttributePtr objects = RequiredAttribute(ctx, page, u"NodeObjects");
  IKXQAttributePtr fields;
  GetAttributeInterface(page, u"Fields", fields);
  IKXQAttributePtr revisions;
  GetAttributeInterface(page, u"Revisions", revisions);
  const std::vector<_bstr_t> oldFields = ReadTexts(fields);
  const std::vector<_bstr_t> oldRevisions = ReadTexts(revisions);

  std::vector<IKXQObjectPtr> fixed;
  for (int32_t i = 1; i < P && i <= GetAttributeCount(objects); ++i) {
    IKXQObjectPtr object;
    GetAttributeAsObject(objects, i, object);
    fixed.push_back(object);
  }
  ResizeAttributeValues(objects, 0);
  ResizeAttributeValues(objects, P - 1 + n);
  for (int32_t i = 0; i < static_cast<int32_t>(fixed.size()); ++i) {
    if (fixed[static_cast<size_t>(i)])
      SetAttributeObjectAt(objects, i + 1, fixed[static_cast<size_t>(i)]);
  }
  for (int32_t r = 0; r < n; ++r)
    SetAttributeObjectAt(objects, P + r, rows[static_cast<size_t>(r)].object);

  if (fields && R > 0) {
    if (GetAttributeCount(fields) != F - 1 + R * n) ResizeAttributeValues(fields, F - 1 + R * n);
    for (int32_t r = 0; r < n; ++r) {
      const int32_t o = rows[static_cast<size_t>(r)].oldRow;
      for (int32_t c = 0; c < R; ++c) {
        const _bstr_t source =
            o < 0 ? (c < static_cast<int32_t>(blanks.size()) ? blanks[static_cast<size_t>(c)]
                                                             : _bstr_t())
                  : TextAt(oldFields, F + o * R + c);
        PutText(fields, F + r * R + c, Restamped(ctx, source, r, o < 0));
      }
    }
  }
  if (revisions && W > 0) {
    if (GetAttributeCount(revisions) != V + W * n) ResizeAttributeValues(revisions, V + W * n);
    for (int32_t r = 0; r < n; ++r) {
      const int32_t o = rows[static_cast<size_t>(r)].oldRow;
      for (int32_t k = 0; k < W; ++k) {
        PutText(revisions, V + 1 + r * W + k,
                o < 0 ? _bstr_t() : TextAt(oldRevisions, V + 1 + o * W + k));
      }
    }
  }
}

// Blank field texts of the columns: the first row's records without their
// attribute.
std::vector<_bstr_t> BlankTexts(IKXQObject* page, const ContinuousPageHelper& helper) {
  std::vector<_bstr_t> blanks;
  IKXQAttributePtr fields;
  GetAttributeInterface(page, u"Fields", fields);
  for (int32_t c = 0; c < helper.FieldsPerRow(); ++c) {
    const int32_t position = helper.FirstRepeatingField() + c;
    blanks.push_back(fields && position <= GetAttributeCount(fields) ? ValueText(fields, position)
                                                                     : _bstr_t());
  }
  return blanks;
}

HRESULT ComposeContinuousList(MainContext& main, const VARIANT& filter, IKXQObject* datasheet,
                              IKXQObject* page, bool restricted, bool ignoreClaims, int32_t* count,
                              IKXQTrigger* trigger) {
  constexpr auto kMethod = u"Composition::ComposeContinuousList";
  return ServeRequest(kMethod, kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, count);
    *count = -1;
    CheckPointerArgument(ctx, page);
    IKXQApplication* application = main.m_pApplication;
    Acceptance acceptance{restricted, ignoreClaims, IsActiveProjectRootProject(application)};
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    if (!objects || GetAttributeCount(objects) < 1) return S_OK;
    const IKXQTemplatePagePtr templatePage = RequiredTemplatePage(ctx, main, page);
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(application, templatePage, page, false));
    const int32_t P = helper.FirstRowPosition();
    if (P < 1) return S_OK;
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    ScopedCurrentPage currentPage(application, page);
    const std::vector<_bstr_t> classNames = helper.AttachedClassNames();

    const int32_t oldCount = GetAttributeCount(objects);
    std::unordered_set<int32_t> kept;
    std::vector<ListRow> rows;
    for (int32_t position = P; position <= oldCount; ++position) {
      IKXQObjectPtr object;
      GetAttributeAsObject(objects, position, object);
      if (!object) continue;
      const int32_t id = ObjectIdOf(object);
      if (kept.count(id) != 0) continue;  // a duplicate row is dropped
      if (!acceptance.Accepts(ctx, application, object)) continue;
      kept.insert(id);
      if (IsObjectInFilter(application, filter, object, datasheet, trigger)) {
        rows.push_back({object, position - P});
      }
    }
    bool appended = false;
    for (const _bstr_t& name : classNames) {
      IKXQClassPtr cls;
      KX_CHECK(ctx, main.m_pSchema->get_Class(name, &cls));
      if (!cls) continue;
      ComPtrArray<IKXQObject> instances;
      CollectChildObjects(instances, cls);
      for (int32_t i = 0; i < instances.GetCount(); ++i) {
        IKXQObject* object = instances.GetAt(i);
        if (object == nullptr) continue;
        const int32_t id = ObjectIdOf(object);
        if (kept.count(id) != 0) continue;
        if (!acceptance.Accepts(ctx, application, object)) continue;
        kept.insert(id);
        if (!IsObjectInFilter(application, filter, object, datasheet, trigger)) continue;
        rows.push_back({IKXQObjectPtr(object), -1});
        appended = true;
      }
    }
    const int32_t n = static_cast<int32_t>(rows.size());
    if (oldCount == P - 1 + n && !appended) {
      *count = n;
      return S_OK;
    }

    const std::vector<_bstr_t> blanks = BlankTexts(page, helper);
    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    const int32_t oldFieldCount = fields ? GetAttributeCount(fields) : 0;
    RewriteRows(ctx, page, helper, rows, blanks);

    const int32_t F = helper.FirstRepeatingField();
    const int32_t R = helper.FieldsPerRow();
    if (R > 0) {
      for (int32_t position = F + R * n; position <= oldFieldCount; position += R) {
        KX_CHECK(ctx, main.LaunchDataFieldEvent(page, position, 1, false));
      }
    }
    Composition::RebindFieldTrigger(main, page);
    *count = n;
    KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
    return S_OK;
  });
}

// Whether an object on a summary page makes it a member page: the
// datasheet's own globals and document objects do not count.
bool CountsAsMember(IKXQObject* object) {
  if (object == nullptr) return false;
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  _bstr_t name;
  if (cls) GetClassText(cls, name);
  if (name.length() > 0 && _wcsicmp(name, u"GlobalsClass") == 0) return false;
  return !IsObjectOfClass(object, u"Datasheet") && !IsObjectOfClass(object, u"Page");
}

void WriteBackRow(KXComException& ctx, IKXQApplication* application, const ListRowEntry& row,
                  const ListRowEntry& target, IKXQClassView* targetItem) {
  ScopedCurrentPage currentPage(application, target.page);
  const bool hasObject = static_cast<bool>(row.placed);
  if (target.vectorRow && !hasObject)
    FieldUtils::UpdateHiddenObjects(target.page, targetItem, true);
  GetPageNodeObjects(target.page, targetItem, row.placed, hasObject);
  if (row.children.empty()) return;
  // A child goes to the sub-view of its whole name: sub-views told apart
  // only by an index ("Nozzles(1)", "Nozzles(2)") each keep their own.
  const std::vector<IKXQClassViewPtr> subViews = ChildViews(ctx, targetItem);
  for (const auto& child : row.children) {
    const _bstr_t name = WholeName(ctx, child->item);
    for (const IKXQClassViewPtr& sub : subViews) {
      if (!SameName(WholeName(ctx, sub), name)) continue;
      ListRowEntry subTarget(sub, target.page);
      WriteBackRow(ctx, application, *child, subTarget, sub);
      break;
    }
  }
}

}  // namespace

namespace Composition {

std::vector<IKXQClassViewPtr> ClassViews(SAFEARRAY* array) {
  std::vector<IKXQClassViewPtr> views;
  VariantUtil::SafeArrayVector vector(array, true);
  for (int32_t i = 0; i < vector.Count(); ++i) {
    IKXQClassView* view = nullptr;
    if (FAILED(vector.GetInterfaceAt(i, &view)) || view == nullptr) {
      ClearThreadErrorInfo();
      continue;
    }
    IKXQClassViewPtr held;
    held.Attach(view);
    views.push_back(held);
  }
  return views;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == nullptr || b == nullptr) return a == b;
  _com_ptr_t<IUnknown> left;
  _com_ptr_t<IUnknown> right;
  (void)a->QueryInterface(kx_uuidof<IUnknown>(), reinterpret_cast<void**>(&left));
  (void)b->QueryInterface(kx_uuidof<IUnknown>(), reinterpret_cast<void**>(&right));
  return left.GetInterfacePtr() == right.GetInterfacePtr();
}

HRESULT GetTopLevelDataViews(IKXQTemplatePage* templatePage, PtrArray<IUnknown>& views) {
  return ServeRequest(u"Composition::GetTopLevelDataViews", kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    SAFEARRAY* nodes = nullptr;
    KX_CHECK(ctx, templatePage->get_RootNodes(&nodes));
    for (const IKXQClassViewPtr& view : Composition::ClassViews(nodes)) {
      IKXQClassViewPtr parent;
      KX_CHECK(ctx, view->get_Parent(&parent));
      if (!parent) views.Add(view.GetInterfacePtr());
    }
    return S_OK;
  });
}

void CollectPageRows(MainContext& main, IKXQObject* datasheet, IKXQObject* firstPage,
                     ListRows& rows) {
  KXComException ctx = KXComException::Silent();
  const IKXQTemplatePagePtr templatePage = RequiredTemplatePage(ctx, main, firstPage);
  PtrArray<IUnknown> tops;
  KX_CHECK(ctx, GetTopLevelDataViews(templatePage, tops));
  ForEachCurrentPage(datasheet, [&](IKXQObject* page) {
    for (int32_t i = 0; i < tops.GetCount(); ++i) {
      IKXQClassViewPtr view(tops.GetAt(i));
      rows.push_back(std::make_unique<ListRowEntry>(view, page));
    }
  });
}

void ExpandRowTree(ListRowEntry& row) {
  KXComException ctx = KXComException::Silent();
  row.placed = nullptr;
  if (!row.item) return;
  GetNodeObject(row.placed, row.page, row.item);
  row.children.clear();
  for (const IKXQClassViewPtr& sub : ChildViews(ctx, row.item)) {
    row.children.push_back(std::make_unique<ListRowEntry>(sub, row.page));
    ExpandRowTree(*row.children.back());
  }
}

void WriteBackRows(IKXQApplication* application, const ListRows& gathered, ListRows& newOrder) {
  KXComException ctx = KXComException::Silent();
  const size_t count = std::min(gathered.size(), newOrder.size());
  for (size_t i = 0; i < count; ++i) {
    ExpandRowTree(*newOrder[i]);
    newOrder[i]->target = gathered[i].get();
  }
  for (size_t i = 0; i < count; ++i) {
    const ListRowEntry& row = *newOrder[i];
    if (row.target == nullptr || !row.target->item) continue;
    WriteBackRow(ctx, application, row, *row.target, row.target->item);
  }
}

void RenumberPages(MainContext& main, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, datasheet);
  IKXQApplication* application = main.m_pApplication;
  IKXQAttributePtr pages;
  int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
  bool deleted = false;
  for (int32_t k = count; k >= 2; --k) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, k, page);
    if (!page) continue;
    ScopedCurrentPage currentPage(application, page);
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
    bool member = false;
    if (templatePage) {
      SAFEARRAY* nodes = nullptr;
      KX_CHECK(ctx, templatePage->get_RootNodes(&nodes));
      ComPtrArray<IKXQClassView> views;
      for (const IKXQClassViewPtr& root : Composition::ClassViews(nodes)) {
        views.Add(root);
        CollectDataViews(root, views);
      }
      for (int32_t v = 0; v < views.GetCount() && !member; ++v) {
        IKXQObjectPtr object;
        GetNodeObject(object, page, views.GetAt(v));
        member = CountsAsMember(object);
      }
    }
    if (member) continue;
    KX_CHECK(ctx, page->Delete());
    deleted = true;
    count = GetAttributeCount(pages);
  }
  if (deleted) {
    for (int32_t k = 1; k <= count; ++k) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, k, page);
      if (!page) continue;
      IKXQAttributePtr number;
      GetAttributeInterface(page, u"PageNumber", number);
      if (number && GetAttributeAsInteger(number) != k) SetAttributeInteger(number, k);
    }
  }
  SetAttributeLong(datasheet, u"NumberOfPages", count, -1);
}

HRESULT ComposeDatasheet(MainContext& main, const VARIANT& filter, IKXQObject* datasheet,
                         IKXQObject* page, bool continuous, bool ignoreClaims, int32_t* count,
                         IKXQTrigger* trigger) {
  return ServeRequest(u"Composition::ComposeDatasheet", kComposeFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, count);
    *count = -1;
    CheckPointerArgument(ctx, datasheet);
    IKXQApplication* application = main.m_pApplication;
    bool local = false;
    const bool summary = CheckSummarySheetProject(application, datasheet, &local, nullptr);
    const bool restricted = summary && local;
    if (continuous) {
      return ComposeContinuousList(main, filter, datasheet, page, restricted, ignoreClaims, count,
                                   trigger);
    }
    CheckPointerArgument(ctx, page);
    Acceptance acceptance{restricted, ignoreClaims, IsActiveProjectRootProject(application)};
    const IKXQTemplatePagePtr templatePage = RequiredTemplatePage(ctx, main, page);
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());

    ListRows gathered;
    CollectPageRows(main, datasheet, page, gathered);
    SortedIdArray ids;
    ListRows passing;
    ListRows emptied;
    for (const auto& row : gathered) {
      IKXQObjectPtr object;
      GetNodeObject(object, row->page, row->item);
      ScopedCurrentPage currentPage(application, row->page);
      auto fresh = std::make_unique<ListRowEntry>(row->item, row->page);
      if (object && IsObjectInFilter(application, filter, object, datasheet, trigger)) {
        ids.Add(ObjectIdOf(object));
        passing.push_back(std::move(fresh));
        continue;
      }
      if (object) GetPageNodeObjects(row->page, row->item, nullptr, false);
      emptied.push_back(std::move(fresh));
    }
    for (auto& row : emptied) passing.push_back(std::move(row));
    WriteBackRows(application, gathered, passing);

    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, GetTemplateClasses(tmpl, &raw));
    VariantUtil::SafeArrayVector classes(raw, true);
    // Each member added asks whether it stands on the sheet already: the
    // pages are read once for all of them, not once for each. The index
    // ends with the loop: the renumbering after it deletes pages.
    {
      DatasheetObjectsScope onSheet(datasheet, templatePage);
      for (int32_t c = 0; c < classes.Count(); ++c) {
        IKXQClass* cls = nullptr;
        if (FAILED(classes.GetInterfaceAt(c, &cls)) || cls == nullptr) {
          ClearThreadErrorInfo();
          continue;
        }
        IKXQClassPtr held;
        held.Attach(cls);
        ComPtrArray<IKXQObject> instances;
        CollectChildObjects(instances, held);
        for (int32_t i = 0; i < instances.GetCount(); ++i) {
          IKXQObject* object = instances.GetAt(i);
          if (object == nullptr) continue;
          const int32_t id = ObjectIdOf(object);
          int32_t at = 0;
          if (id <= 0 || ids.Find(id, &at)) continue;
          if (!acceptance.Accepts(ctx, application, object)) continue;
          if (!IsObjectInFilter(application, filter, object, datasheet, trigger)) continue;
          KX_CHECK(ctx, main.Workers().AddSummarySheetPage(main, object, datasheet, templatePage,
                                                           false));
          ids.Add(id);
        }
      }
    }
    RenumberPages(main, datasheet);
    *count = ids.GetCount();
    return S_OK;
  });
}

HRESULT GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key, int32_t position,
                             IKXQObject* page) {
  return ServeRequest(u"Composition::GetContinuousListKey", kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, key);
    *key = nullptr;
    const int32_t first = helper.FirstRepeatingField();
    if (position < first) {
      *key = SysAllocString(kx_ltow(position, 10).c_str());
      return S_OK;
    }
    std::vector<int32_t>& rows = helper.RowObjectIds();
    if (rows.empty() && page != nullptr && helper.FirstRowPosition() >= 1) {
      IKXQAttributePtr objects;
      GetAttributeInterface(page, u"NodeObjects", objects);
      const int32_t count = objects ? GetAttributeCount(objects) : 0;
      for (int32_t i = helper.FirstRowPosition(); i <= count; ++i) {
        IKXQObjectPtr object;
        GetAttributeAsObject(objects, i, object);
        rows.push_back(object ? ObjectIdOf(object) : 0);
      }
    }
    const int32_t perRow = helper.FieldsPerRow();
    if (perRow <= 0) return S_OK;
    const int32_t row = (position - first) / perRow;
    if (row >= static_cast<int32_t>(rows.size())) return S_OK;
    *key = SysAllocString(kx_format(u"CL%ld:%ld", static_cast<long>(rows[static_cast<size_t>(row)]),
                                    static_cast<long>((position - first) % perRow))
                              .c_str());
    return S_OK;
  });
}

void RewriteListRows(MainContext& main, IKXQObject* page, const std::vector<ListRow>& rows) {
  KXComException ctx = KXComException::Silent();
  RewriteRows(ctx, page, main.GetContinuousPageHelper(), rows, {});
}

void RebindFieldTrigger(MainContext& main, IKXQObject* page) {
  KXComException ctx = KXComException::Silent();
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, page->HasTrigger(_bstr_t(u"Field"), &has));
  if (has != VARIANT_TRUE) return;
  _com_ptr_t<IKXQTrigger> trigger;
  KX_CHECK(ctx, page->get_Trigger(_bstr_t(u"Field"), &trigger));
  if (!trigger) return;
  // Every row is recorded afresh under its new key.
  KX_CHECK(ctx, trigger->ResetItem(_variant_t()));
  KX_CHECK(ctx, trigger->ClearFiredKeys());
  const IKXQTemplatePagePtr templatePage = RequiredTemplatePage(ctx, main, page);
  KX_CHECK(ctx, main.GetContinuousPageHelper().Initialize(main.m_pApplication, templatePage, page,
                                                          false));
  KX_CHECK(ctx, KXDBDatasheetServices::InitializeFieldTriggers(main, page, trigger));
}

}  // namespace Composition
