// The rebuild of one page on a changed template page: the node lists
// placed again from the objects the page held, the fields, units and
// revisions carried over, the triggers set up; on failure every list put
// back as it was.
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "com/wstr.h"
#include "documents/validatetemplates.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxfilestream.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "loader/triggers.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/validatetemplates";
constexpr FrameOptions kFrame{.file = kFile};
// A failure of the entry of a failed rebuild is forgotten: the rebuild's
// own failure is the one told.
constexpr FrameOptions kRecordFrame{.file = kFile, .absorbFailure = true};
// The restore runs while a failure unwinds: nothing may leave it, and its
// own failure is forgotten likewise.
constexpr FrameOptions kRestoreFrame{.file = kFile, .boundary = true, .absorbFailure = true};
constexpr int32_t kUnboundSketch = -11;

using ValidateTemplates::ReadText;
using ValidateTemplates::TemplateText;

_variant_t Position(int32_t index) { return _variant_t(static_cast<LONG>(index)); }

// The values of a list attribute, kept to be put back after a failed
// rebuild; a slot without a value stays empty.
struct ListSnapshot {
  IKXQAttributePtr attribute;
  std::vector<std::pair<bool, _variant_t>> values;
};

ListSnapshot TakeSnapshot(KXComException& ctx, IKXQObject* object, const OLECHAR* name) {
  ListSnapshot snapshot;
  GetAttributeInterface(object, name, snapshot.attribute);
  if (!snapshot.attribute) return snapshot;
  const int32_t count = GetAttributeCount(snapshot.attribute);
  for (int32_t i = 1; i <= count; ++i) {
    VARIANT_BOOL has = VARIANT_FALSE;
    KX_CHECK(ctx, snapshot.attribute->HasValue(Position(i), &has));
    _variant_t value;
    if (has != VARIANT_FALSE) {
      KX_CHECK(ctx, snapshot.attribute->GetValue(Position(i), _variant_t(), value.GetAddress()));
    }
    snapshot.values.emplace_back(has != VARIANT_FALSE, value);
  }
  return snapshot;
}

void RestoreSnapshot(KXComException& ctx, const ListSnapshot& snapshot) {
  if (!snapshot.attribute) return;
  KX_CHECK(ctx, snapshot.attribute->Resize(0));
  KX_CHECK(ctx, snapshot.attribute->Resize(static_cast<LONG>(snapshot.values.size())));
  for (size_t i = 0; i < snapshot.values.size(); ++i) {
    if (!snapshot.values[i].first) continue;
    KX_CHECK(ctx, snapshot.attribute->PutValue(Position(static_cast<int32_t>(i + 1)), _variant_t(),
                                               snapshot.values[i].second));
  }
}

void ClearList(KXComException& ctx, IKXQAttribute* list) {
  if (list != nullptr) KX_CHECK(ctx, list->Resize(0));
}

// Writes `texts` as the whole list, 1-based, leaving empty texts unset.
void WriteTextList(KXComException& ctx, IKXQAttribute* list, const std::vector<_bstr_t>& texts) {
  KX_CHECK(ctx, list->Resize(0));
  KX_CHECK(ctx, list->Resize(static_cast<LONG>(texts.size())));
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].length() == 0) continue;
    KX_CHECK(ctx, list->PutValue(Position(static_cast<int32_t>(i + 1)), _variant_t(),
                                 _variant_t(texts[i])));
  }
}

std::vector<_bstr_t> ReadTextList(IKXQAttribute* list) {
  std::vector<_bstr_t> texts;
  if (list == nullptr) return texts;
  const int32_t count = GetAttributeCount(list);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(list, i, text);
    texts.push_back(text);
  }
  return texts;
}

// The texts of a 1-D array of VT_BSTR (or of VARIANTs holding texts),
// which is destroyed.
std::vector<_bstr_t> UnitIds(KXComException& ctx, SAFEARRAY* array) {
  std::vector<_bstr_t> ids;
  if (array == nullptr) return ids;
  VARTYPE vt = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = SafeArrayGetVartype(array, &vt);
  if (SUCCEEDED(hr)) hr = SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
  for (LONG k = lower; SUCCEEDED(hr) && k <= upper; ++k) {
    if (vt == VT_BSTR) {
      BSTR text = nullptr;
      hr = SafeArrayGetElement(array, &k, &text);
      ids.push_back(_bstr_t(text, false));
    } else {
      _variant_t value;
      hr = SafeArrayGetElement(array, &k, value.GetAddress());
      if (SUCCEEDED(hr) && value.vt == VT_BSTR) ids.push_back(_bstr_t(value.bstrVal));
    }
  }
  SafeArrayDestroy(array);
  KX_CHECK(ctx, hr);
  return ids;
}

// The key of field number `n` of the page the helper was prepared on,
// "node:row": the template node of its field (a repeating field folded onto
// the first row) and its row from 0, -1 for a fixed field. A row keeps its
// values under a new template by this key.
std::u16string ContinuousFieldKey(KXComException& ctx, const ContinuousPageHelper& helper,
                                  int32_t n) {
  int32_t number = 0;
  KX_CHECK(ctx, helper.MapFieldIndex(n, &number));
  const int32_t first = helper.FirstRepeatingField();
  const int32_t perRow = std::max(helper.FieldsPerRow(), 1);
  const int32_t row = n < first ? -1 : (n - first) / perRow;
  const auto& nodes = helper.FieldNodeIds();
  const int32_t node =
      number >= 1 && number <= static_cast<int32_t>(nodes.size()) ? nodes[number - 1] : -1;
  return kx_format(u"%d:%d", node, row);
}

// A node of the template page that cannot be read, named by its place
// among its siblings.
[[noreturn]] void ThrowInvalidClassView(KXComException& ctx, IKXQTemplatePage* templatePage,
                                        int32_t node) {
  BSTR id = nullptr;
  (void)templatePage->get_Id(&id);
  const _bstr_t heldId(id, false);
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                          u"NodeID %ld on template PageID %ls, references an invalid ClassView",
                          static_cast<long>(node), static_cast<const OLECHAR*>(heldId));
}

// ---- Rebuilding one page ------------------------------------------------------

class PageRebuild {
 public:
  PageRebuild(TemplateValidationContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
              int32_t status, IKXQTemplatePage* oldTemplatePage)
      : m_context(context),
        m_main(*context.m_pMain),
        m_page(page),
        m_templatePage(templatePage),
        m_oldTemplatePage(oldTemplatePage),
        m_status(status),
        m_isPage(KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page")) {}

  void Prepare(KXComException& ctx);
  void CollectOldLayout(KXComException& ctx);
  void RebuildNodeLists(KXComException& ctx);
  void RebuildPageFields(KXComException& ctx);
  void RebuildPageUnits(KXComException& ctx);
  void RebuildRevisions(KXComException& ctx);
  void SetUpTriggers(KXComException& ctx);

  // Every list the rebuild may write, as it was before.
  std::vector<ListSnapshot> m_snapshots;

 private:
  bool PlaceFromPool(KXComException& ctx, IKXQClassView* view, bool append);
  void PlaceChildNodeObjects(KXComException& ctx, IKXQClassView* view, IKXQObject* parent);
  template <class Fits>
  IKXQObjectPtr TakeFromPool(Fits&& fits);
  bool Accepts(KXComException& ctx, IKXQClassView* view, IKXQObject* object);
  bool IsSummaryTemplate(KXComException& ctx);
  _bstr_t BindSketch(KXComException& ctx, const _bstr_t& recordText, int32_t fieldId);
  int32_t ItemNumber(KXComException& ctx, IKXQTemplateField* field, SAFEARRAY* chain);
  void RebuildContinuousFields(KXComException& ctx, IKXQAttribute* fields);

  TemplateValidationContext& m_context;
  MainContext& m_main;
  IKXQObject* m_page;
  IKXQTemplatePage* m_templatePage;
  IKXQTemplatePage* m_oldTemplatePage;
  int32_t m_status;
  bool m_isPage;
  // The page's template is of kind "Summary" (current pages only).
  bool m_isSummary = false;
  // A page with a "HiddenObjects" list (labels have none).
  bool m_hasHiddenList = false;
  // Continuous lists: the old field keys ("node:row") by 1-based field
  // number, and the old value index of each field.
  std::vector<std::u16string> m_oldKeys;
  std::vector<int32_t> m_oldValueIndices;
};

void PageRebuild::Prepare(KXComException& ctx) {
  static constexpr const OLECHAR* kLists[] = {u"NodeObjects", u"NodeIndices", u"HiddenObjects",
                                              u"Fields",      u"Units",       u"Revisions",
                                              u"Sketches"};
  for (const OLECHAR* name : kLists) m_snapshots.push_back(TakeSnapshot(ctx, m_page, name));
  m_context.m_pool.clear();
  m_context.m_continuous = false;
  if (!m_isPage) return;
  BSTR format = nullptr;
  KX_CHECK(ctx, m_templatePage->get_ContinuousFormat(&format));
  const _bstr_t held(format, false);
  if (held.length() == 0) return;
  m_context.m_continuous = true;
  ContinuousPageHelper& helper = m_main.GetContinuousPageHelper();
  if (m_oldTemplatePage != nullptr) {
    // The old rows' keys must be read before the helper turns to the new
    // template page.
    KX_CHECK(ctx, helper.Initialize(m_main.m_pApplication, m_oldTemplatePage, m_page, true));
    const int32_t count = helper.PageFieldCount();
    for (int32_t n = 1; n <= count; ++n) {
      m_oldKeys.push_back(ContinuousFieldKey(ctx, helper, n));
      int32_t valueIndex = -1;
      KX_CHECK(ctx, helper.GetFieldValueIndex(n, &valueIndex));
      m_oldValueIndices.push_back(valueIndex);
    }
  }
  KX_CHECK(ctx, helper.Initialize(m_main.m_pApplication, m_templatePage, m_page, true));
}

void PageRebuild::CollectOldLayout(KXComException& ctx) {
  (void)ctx;
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  GetAttributeInterface(m_page, u"NodeObjects", objects);
  GetAttributeInterface(m_page, u"NodeIndices", indices);
  if (!objects || !indices) return;
  int32_t largest = 0;
  const int32_t count = GetAttributeCount(indices);
  for (int32_t i = 1; i <= count; ++i) {
    bool has = false;
    const int32_t position = ReadAttributeInteger(indices, Position(i), &has);
    if (!has || position <= 0) continue;
    IKXQObjectPtr object;
    GetAttributeAsObject(objects, position, object);
    if (object) m_context.m_pool.push_back(object);
    largest = std::max(largest, position);
  }
  if (!m_context.m_continuous) return;
  // The list rows follow the last node position.
  const int32_t objectCount = GetAttributeCount(objects);
  for (int32_t p = largest + 1; p <= objectCount; ++p) {
    IKXQObjectPtr object;
    GetAttributeAsObject(objects, p, object);
    if (object) m_context.m_pool.push_back(object);
  }
}

bool PageRebuild::Accepts(KXComException& ctx, IKXQClassView* view, IKXQObject* object) {
  IKXQClassPtr cls;
  KXDBDatasheetSvcs::GetObjectClass(object, cls);
  if (!cls) return false;
  VARIANT_BOOL accepts = VARIANT_FALSE;
  KX_CHECK(ctx, view->AcceptsClass(_variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr())),
                                   nullptr, &accepts));
  return accepts != VARIANT_FALSE;
}

// The first pool object that `fits`, taken out of the pool; null when none
// does.
template <class Fits>
IKXQObjectPtr PageRebuild::TakeFromPool(Fits&& fits) {
  auto& pool = m_context.m_pool;
  for (auto it = pool.begin(); it != pool.end(); ++it) {
    if (!fits(it->GetInterfacePtr())) continue;
    IKXQObjectPtr taken = *it;
    pool.erase(it);
    return taken;
  }
  return nullptr;
}

// Places the first pool object the node accepts on it; with `append`
// every further one becomes a list row (whose child nodes stay empty).
// False when none fits.
bool PageRebuild::PlaceFromPool(KXComException& ctx, IKXQClassView* view, bool append) {
  const IKXQObjectPtr first =
      TakeFromPool([&](IKXQObject* object) { return Accepts(ctx, view, object); });
  if (!first) return false;
  KXDBDatasheetSvcs::GetPageNodeObjects(m_page, view, first, false);
  if (!append) {
    PlaceChildNodeObjects(ctx, view, first);
    return true;
  }
  for (;;) {
    const IKXQObjectPtr row =
        TakeFromPool([&](IKXQObject* object) { return Accepts(ctx, view, object); });
    if (!row) return true;
    KXDBDatasheetSvcs::AppendNodeObject(m_page, view, row);
  }
}

bool PageRebuild::IsSummaryTemplate(KXComException& ctx) {
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, m_templatePage->get_Template(&tmpl));
  if (!tmpl) return false;
  const _bstr_t kind = TemplateText(ctx, tmpl, &IKXQTemplate::get_Kind);
  return kind.length() != 0 && _wcsicmp(kind, u"Summary") == 0;
}

// Fills the child nodes of `view` (whose object on the page is `parent`,
// null when it has none) in template order. A child whose objects are
// members of a list takes the first pooled member of the list its parent's
// object holds, so each list entry keeps its own object. A child reached
// through a single object attribute is left to its route, except on a
// summary sheet, where it shows its parent's object again when the old
// page did. Every nested node is already empty: placing the parent emptied
// them.
void PageRebuild::PlaceChildNodeObjects(KXComException& ctx, IKXQClassView* view,
                                        IKXQObject* parent) {
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector nodes(children, true);
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    IKXQClassViewPtr child;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &child));
    if (!child) ThrowInvalidClassView(ctx, m_templatePage, i);
    ComPtrArray<IKXQObject> members;
    IKXQFieldValuePtr holder;
    if (FieldUtils::GetObjectVector(m_page, child, members, holder)) {
      // An entry left without an object is not to be filled by its route.
      if (m_hasHiddenList && members.GetCount() > 0) {
        FieldUtils::UpdateHiddenObjects(m_page, child, true);
      }
      const IKXQObjectPtr member = TakeFromPool([&](IKXQObject* object) {
        for (int32_t k = 0; k < members.GetCount(); ++k) {
          if (members.GetAt(k) == object) return true;
        }
        return false;
      });
      if (!member) continue;
      KXDBDatasheetSvcs::GetPageNodeObjects(m_page, child, member, true);
      PlaceChildNodeObjects(ctx, child, member);
      continue;
    }
    IKXQObjectPtr shown;
    if (m_isSummary && parent != nullptr &&
        TakeFromPool([&](IKXQObject* object) { return object == parent; })) {
      KXDBDatasheetSvcs::GetPageNodeObjects(m_page, child, parent, false);
      shown = parent;
    }
    PlaceChildNodeObjects(ctx, child, shown);
  }
}

void PageRebuild::RebuildNodeLists(KXComException& ctx) {
  IKXQAttributePtr list;
  for (const OLECHAR* name : {u"NodeObjects", u"NodeIndices", u"HiddenObjects"}) {
    GetAttributeInterface(m_page, name, list);
    ClearList(ctx, list);
  }
  SAFEARRAY* roots = nullptr;
  KX_CHECK(ctx, m_templatePage->get_RootNodes(&roots));
  VariantUtil::SafeArrayVector nodes(roots, true);
  const int32_t listRoot =
      m_context.m_continuous ? m_main.GetContinuousPageHelper().RootNodeIndex() : -1;
  m_isSummary = m_isPage && IsSummaryTemplate(ctx);
  GetAttributeInterface(m_page, u"HiddenObjects", list);
  m_hasHiddenList = m_isPage && list;
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    IKXQClassViewPtr view;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &view));
    if (!view) ThrowInvalidClassView(ctx, m_templatePage, i);
    LONG index = -1;
    KX_CHECK(ctx, view->get_NodeIndex(&index));
    PlaceFromPool(ctx, view, listRoot >= 0 && index == listRoot);
  }
}

_bstr_t PageRebuild::BindSketch(KXComException& ctx, const _bstr_t& recordText, int32_t fieldId) {
  KXFieldData record;
  KX_CHECK(ctx, record.SelectField(recordText, -1));
  BSTR encoded = nullptr;
  KX_CHECK(ctx, ReadFileAsBase64(record.value.c_str(), &encoded));
  const _bstr_t text(encoded, false);
  if (m_status == 1) {
    IKXQAttributePtr sketches;
    GetAttributeInterface(m_page, u"Sketches", sketches);
    if (!sketches) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"The object has no Sketches list");
    }
    KX_CHECK(ctx, sketches->AddValue(_variant_t(text), VARIANT_FALSE, _variant_t()));
    record.value.Assign(u"");
  } else {
    record.value.Assign(static_cast<const OLECHAR*>(text));
  }
  record.fieldId = fieldId;
  BSTR written = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&written, kFieldDataFull, -1));
  return _bstr_t(written, false);
}

// The item number of the value the field's route reaches on the page, -1
// when it reaches none (or no item of a list).
int32_t PageRebuild::ItemNumber(KXComException& ctx, IKXQTemplateField* field, SAFEARRAY* chain) {
  _variant_t position;
  _com_ptr_t<IKXQFieldValue> holder;
  if (FAILED(
          FieldUtils::ResolveFieldObject(m_page, field, chain, position.GetAddress(), &holder))) {
    ctx.Absorb();  // a route that fails matches a record of no item
    return -1;
  }
  return holder ? FieldUtils::GetItemNumberByKey(holder, position) : -1;
}

void PageRebuild::RebuildPageFields(KXComException& ctx) {
  IKXQAttributePtr fields;
  GetAttributeInterface(m_page, u"Fields", fields);
  if (!fields) return;
  if (m_context.m_continuous) {
    RebuildContinuousFields(ctx, fields);
    return;
  }
  const std::vector<_bstr_t> old = ReadTextList(fields);
  struct OldRecord {
    int32_t fieldId = -1;
    int32_t index = -1;     // its "Index": the item it was kept for, -1 for any
    int32_t attribId = -1;  // the item whose value it was written with
    bool used = false;
  };
  std::vector<OldRecord> records(old.size());
  for (size_t j = 0; j < old.size(); ++j) {
    if (old[j].length() == 0) continue;
    KXFieldData record;
    if (FAILED(record.SelectField(old[j], -1))) {
      ctx.Absorb();  // an unreadable record matches no field
      continue;
    }
    records[j].fieldId = record.fieldId;
    records[j].index = record.index;
    records[j].attribId = record.attribId;
  }

  LONG count = 0;
  KX_CHECK(ctx, m_templatePage->get_FieldCount(&count));
  std::vector<_bstr_t> texts(static_cast<size_t>(count));
  std::vector<LONG> boundSketches;  // ids of the sketch fields that took one
  // A current record kept for one item ("Index") goes only to a field whose
  // route now reaches that item; one kept for no item goes to its field
  // whatever the field shows now. A setter writes a row given for a plain
  // page into "Index" as it is: such a record still belongs to a field
  // that shows the very item it was written with ("AttribId").
  PageLoadContext routes(&m_main);
  SAFEARRAY* chain = m_isPage && m_status == 1 ? GetPageOverspillChain(routes, m_page) : nullptr;
  for (LONG n = 1; n <= count; ++n) {
    _com_ptr_t<IKXQTemplateField> field;
    KX_CHECK(ctx, m_templatePage->get_Field(n, &field));
    if (!field) continue;
    LONG id = -1;
    KX_CHECK(ctx, field->get_Id(&id));
    BSTR typeName = nullptr;
    KX_CHECK(ctx, field->get_TypeName(&typeName));
    const _bstr_t type(typeName, false);
    const int32_t item = m_isPage && m_status == 1 ? ItemNumber(ctx, field, chain) : -1;
    // A sketch waiting for its field goes to the first sketch field that
    // meets it in list order, before a record of the field's own.
    const bool takesSketch =
        type.length() != 0 && _wcsicmp(type, u"Sketch") == 0 &&
        std::find(boundSketches.begin(), boundSketches.end(), id) == boundSketches.end();
    for (size_t j = 0; j < records.size(); ++j) {
      if (records[j].used) continue;
      if (takesSketch && records[j].fieldId == kUnboundSketch) {
        records[j].used = true;
        texts[static_cast<size_t>(n - 1)] = BindSketch(ctx, old[j], id);
        boundSketches.push_back(id);
        break;
      }
      if (records[j].fieldId != id) continue;
      if (m_status == 1 && records[j].index != -1 && records[j].index != item &&
          (item < 0 || records[j].attribId != item)) {
        continue;
      }
      records[j].used = true;
      texts[static_cast<size_t>(n - 1)] = old[j];
      break;
    }
  }
  WriteTextList(ctx, fields, texts);
}

void PageRebuild::RebuildContinuousFields(KXComException& ctx, IKXQAttribute* fields) {
  const std::vector<_bstr_t> oldFields = ReadTextList(fields);
  IKXQAttributePtr revisions;
  GetAttributeInterface(m_page, u"Revisions", revisions);
  const std::vector<_bstr_t> oldRevisions = ReadTextList(revisions);
  ContinuousPageHelper& helper = m_main.GetContinuousPageHelper();
  const int32_t count = helper.PageFieldCount();
  std::vector<_bstr_t> texts(static_cast<size_t>(std::max(count, 0)));
  std::vector<_bstr_t> newRevisions(static_cast<size_t>(std::max(helper.PageValueCount(), 0)));
  // Each old key's first field, found by hash: a list of many rows is not
  // searched again for every new field.
  std::unordered_map<std::u16string_view, size_t> oldAt;
  oldAt.reserve(m_oldKeys.size());
  for (size_t old = 0; old < m_oldKeys.size(); ++old) oldAt.try_emplace(m_oldKeys[old], old);
  for (int32_t n = 1; n <= count; ++n) {
    const std::u16string key = ContinuousFieldKey(ctx, helper, n);
    const auto found = oldAt.find(key);
    if (found == oldAt.end()) continue;
    const size_t old = found->second;
    if (old < oldFields.size()) texts[static_cast<size_t>(n - 1)] = oldFields[old];
    int32_t valueIndex = -1;
    KX_CHECK(ctx, helper.GetFieldValueIndex(n, &valueIndex));
    const int32_t oldIndex = m_oldValueIndices[old];
    if (valueIndex >= 1 && valueIndex <= static_cast<int32_t>(newRevisions.size()) &&
        oldIndex >= 1 && oldIndex <= static_cast<int32_t>(oldRevisions.size())) {
      newRevisions[static_cast<size_t>(valueIndex - 1)] =
          oldRevisions[static_cast<size_t>(oldIndex - 1)];
    }
  }
  WriteTextList(ctx, fields, texts);
  if (revisions) WriteTextList(ctx, revisions, newRevisions);
}

void PageRebuild::RebuildPageUnits(KXComException& ctx) {
  IKXQAttributePtr units;
  GetAttributeInterface(m_page, u"Units", units);
  if (!units) return;
  std::vector<_bstr_t> old = ReadTextList(units);
  LONG count = 0;
  KX_CHECK(ctx, m_templatePage->get_UnitCount(&count));
  std::vector<_bstr_t> texts;
  for (LONG i = 0; i < count; ++i) {
    _com_ptr_t<IKXQTemplateUnit> definition;
    KX_CHECK(ctx, m_templatePage->get_Unit(i, &definition));
    _bstr_t chosen;
    if (definition) {
      SAFEARRAY* allowed = nullptr;
      KX_CHECK(ctx, definition->get_Units(&allowed));
      const std::vector<_bstr_t> ids = UnitIds(ctx, allowed);
      for (auto& value : old) {
        if (value.length() == 0) continue;
        const bool fits = std::any_of(ids.begin(), ids.end(),
                                      [&](const _bstr_t& id) { return kx_wcscmp(id, value) == 0; });
        if (!fits) continue;
        chosen = value;
        value = _bstr_t();  // taken where it was found, so no other unit reuses it
        break;
      }
      if (chosen.length() == 0) {
        BSTR display = nullptr;
        KX_CHECK(ctx, definition->GetDefaultText(0, &display));
        const _bstr_t defaultText(display, false);
        chosen = defaultText;
        // The list holds unit ids: the id whose display text is the default.
        for (const auto& id : ids) {
          BSTR shown = nullptr;
          KX_CHECK(ctx, definition->GetDisplayText(id, &shown));
          const _bstr_t heldShown(shown, false);
          if (heldShown.length() != 0 && defaultText.length() != 0 &&
              kx_wcscmp(heldShown, defaultText) == 0) {
            chosen = id;
            break;
          }
        }
      }
    }
    texts.push_back(chosen);
  }
  WriteTextList(ctx, units, texts);
}

void PageRebuild::RebuildRevisions(KXComException& ctx) {
  if (!m_isPage) return;
  IKXQAttributePtr revisions;
  GetAttributeInterface(m_page, u"Revisions", revisions);
  if (!revisions) return;
  LONG count = 0;
  if (m_context.m_continuous) {
    count = m_main.GetContinuousPageHelper().PageValueCount();
  } else {
    KX_CHECK(ctx, m_templatePage->get_RevisionCount(&count));
  }
  KX_CHECK(ctx, revisions->Resize(count));
}

void PageRebuild::SetUpTriggers(KXComException& ctx) {
  if (!m_isPage || m_status != 1) return;
  // A "Field" trigger that another service bound to the page stays its own.
  if (!KXDBDatasheetServices::IsOwnTrigger(m_page, u"Field")) return;
  // A page that has its "Field" trigger records its fields again; one
  // without gets all its triggers.
  VARIANT_BOOL has = VARIANT_FALSE;
  const _bstr_t name(u"Field");
  KX_CHECK(ctx, m_page->HasTrigger(name, &has));
  if (has == VARIANT_FALSE) {
    KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(m_main, m_page));
    return;
  }
  _com_ptr_t<IKXQTrigger> trigger;
  KX_CHECK(ctx, m_page->get_Trigger(name, &trigger));
  KX_CHECK(ctx, KXDBDatasheetServices::InitializeFieldTriggers(m_main, m_page, trigger));
}

// The failed-rebuild entry: "Datasheet" or "Label", the owner's id and
// name, the page's template and the failure's plain description.
void RecordRebuildFailure(TemplateValidationContext& context, IKXQObject* page,
                          const KXComException& failure) {
  (void)ServeRequest(nullptr, kRecordFrame, [&](KXComException&) {
    const bool isPage = KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page");
    IKXQObjectPtr owner;
    if (isPage) GetOwnerObject(page, owner);
    IKXQObject* named = owner ? owner.GetInterfacePtr() : page;
    const _bstr_t name = isPage ? ReadText(named, u"DocumentName") : _bstr_t(u" ");
    _bstr_t description;
    if (failure.errorInfo != nullptr) {
      BSTR text = nullptr;
      (void)failure.errorInfo->GetDescription(&text);
      const _bstr_t held(text, false);
      description = _bstr_t(GetErrorDescription(held), false);
    }
    if (description.length() == 0) description = _bstr_t(GetHResultMessage(failure.hr), false);
    const std::u16string entry =
        kx_format(u"%ls OID=%ld, Name=%ls, TemplateID=%ls - %ls", isPage ? u"Datasheet" : u"Label",
                  static_cast<long>(ObjectIdOf(named)), static_cast<const OLECHAR*>(name),
                  static_cast<const OLECHAR*>(ReadText(page, u"TemplateId")),
                  static_cast<const OLECHAR*>(description));
    context.m_invalid.Add(entry.c_str());
    return S_OK;
  });
}

}  // namespace

HRESULT RebuildPage(TemplateValidationContext& context, IKXQObject* page,
                    IKXQTemplatePage* templatePage, const OLECHAR* checknum, int32_t status,
                    IKXQTemplatePage* oldTemplatePage) {
  // The rebuild's failure, kept past the cleanup that follows it.
  KXComException failure = KXComException::Silent();
  IKXQApplication* application = context.m_pMain->m_pApplication;
  VARIANT_BOOL previousMode = VARIANT_FALSE;
  bool modeSet = false;
  PageRebuild rebuild(context, page, templatePage, status, oldTemplatePage);
  failure.hr = ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, page);
    CheckPointerArgument(ctx, templatePage);
    KX_CHECK(ctx, application->get_RebuildMode(&previousMode));
    KX_CHECK(ctx, application->put_RebuildMode(VARIANT_TRUE));
    modeSet = true;
    rebuild.Prepare(ctx);
    rebuild.CollectOldLayout(ctx);
    // Put every list back as it was, whatever step failed. A failure of
    // the restore itself is absorbed: the step's failure is the one told.
    KXScopeGuard putBack([&] {
      (void)ServeRequest(nullptr, kRestoreFrame, [&](KXComException& restore) {
        for (const ListSnapshot& snapshot : rebuild.m_snapshots) RestoreSnapshot(restore, snapshot);
        return S_OK;
      });
    });
    if (status == 1) rebuild.RebuildNodeLists(ctx);
    if (status == 1 || !KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page")) {
      rebuild.RebuildPageFields(ctx);
    }
    rebuild.RebuildPageUnits(ctx);
    rebuild.RebuildRevisions(ctx);
    rebuild.SetUpTriggers(ctx);
    SetAttributeStringByName(page, u"Checknum", checknum, -1);
    putBack.Dismiss();
    return S_OK;
  });
  if (FAILED(failure.hr)) {
    // Held here as well as left on the thread.
    failure.TakeThreadErrorInfo();
    (void)failure.Return();
  }
  context.m_pool.clear();
  if (modeSet) (void)application->put_RebuildMode(previousMode);
  if (FAILED(failure.hr)) RecordRebuildFailure(context, page, failure);
  return failure.Return();
}
