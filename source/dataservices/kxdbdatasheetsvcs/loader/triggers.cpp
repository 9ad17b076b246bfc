// Trigger set-up and item recording (see triggers.h).
#include "loader/triggers.h"

#include <algorithm>
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loader/loaddatasheet.h"
#include "loader/pageoperations.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/moduleidentity.h"
#include "model/overspillutils.h"
#include "model/preservederrorinfo.h"
#include "model/scopedcurrent.h"
#include "model/workertable.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetservices";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// The key of the item of the field at `index` (its number as text). A
// page's field keys are the same at every load: each is made once.
const VARIANT& FieldItemKey(int32_t index, _variant_t& made) {
  constexpr int32_t kKept = 4096;
  if (index < 0 || index >= kKept) {
    made = _variant_t(kx_ltow(index, 10).c_str());
    return made;
  }
  thread_local std::vector<_variant_t> keys;
  if (keys.size() <= static_cast<size_t>(index)) keys.resize(static_cast<size_t>(index) + 1);
  _variant_t& key = keys[static_cast<size_t>(index)];
  if (V_VT(&key) != VT_BSTR) key = _variant_t(kx_ltow(index, 10).c_str());
  return key;
}

// Ends the item begun last when a failure leaves it open.
class OpenItem {
 public:
  OpenItem(KXComException& ctx, IKXQTrigger* trigger, const OLECHAR* key)
      : OpenItem(ctx, trigger, _variant_t(key)) {}
  OpenItem(KXComException& ctx, IKXQTrigger* trigger, const VARIANT& key) : m_trigger(trigger) {
    m_hr = trigger->BeginItem(key);
    KX_CHECK(ctx, m_hr);
  }
  // The item of a field index: keyed by its number where the trigger can.
  OpenItem(KXComException& ctx, IKXQTrigger* trigger, int32_t index) : m_trigger(trigger) {
    m_hr = index >= 0 ? trigger->BeginNumberedItem(index) : E_NOTIMPL;
    if (m_hr == E_NOTIMPL) {
      _variant_t key;
      m_hr = trigger->BeginItem(FieldItemKey(index, key));
    }
    KX_CHECK(ctx, m_hr);
  }
  OpenItem(const OpenItem&) = delete;
  OpenItem& operator=(const OpenItem&) = delete;
  ~OpenItem() {
    if (m_trigger != nullptr) (void)m_trigger->EndItem();
  }
  void End(KXComException& ctx) {
    IKXQTrigger* trigger = m_trigger;
    m_trigger = nullptr;
    KX_CHECK(ctx, trigger->EndItem());
  }
  HRESULT Began() const { return m_hr; }

 private:
  IKXQTrigger* m_trigger;
  HRESULT m_hr = S_OK;
};

void Rebind(KXComException& ctx, IKXQTrigger* trigger) {
  KX_CHECK(ctx, trigger->SetOption1(0));
  KX_CHECK(ctx, trigger->SetHandler(_bstr_t(kTriggerHandler)));
  KX_CHECK(ctx, trigger->SetOption2(0));
}

bool IsContinuous(KXComException& ctx, IKXQTemplatePage* templatePage) {
  if (templatePage == nullptr) return false;
  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  return format.length() > 0;
}

IKXQTemplatePagePtr TemplatePageOf(KXComException& ctx, MainContext& main, IKXQObject* page) {
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  return templatePage;
}

// The unit text the template field shows, read inside the item; null
// without unit field.
_bstr_t ReadUnit(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field) {
  LONG unit = -1;
  KX_CHECK(ctx, field->get_UnitPosition(&unit));
  _bstr_t text;
  if (unit < 0) return text;
  IKXQAttributePtr units;
  GetAttributeInterface(page, u"Units", units);
  if (units) KXDBDatasheetSvcs::GetAttributeValueStringAt(units, unit + 1, text);
  return text;
}

const OLECHAR* OrNull(const _bstr_t& text) {
  return text.length() > 0 ? static_cast<const OLECHAR*>(text) : nullptr;
}

// The row of position `position` on a list analysed by `helper`; -1 for a
// fixed position.
int32_t RowOf(const ContinuousPageHelper& helper, int32_t position) {
  const int32_t perRow = helper.FieldsPerRow();
  const int32_t first = helper.FirstRepeatingField();
  if (perRow == 0 || position < first || position < 1) return -1;
  return (position - first) / perRow;
}

// Reads the page's "NodeObjects" entry of list row `row` (the entry alone),
// so that the open item fires when another object takes the row: a sort
// made elsewhere moves the rows while each row's record and each object's
// value stay as they were.
void ReadRowEntry(const ContinuousPageHelper& helper, IKXQObject* page, int32_t row) {
  const int32_t position = row >= 0 ? helper.ListRowPosition(row) : 0;
  if (position < 1) return;
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  _variant_t entry;
  if (!objects ||
      FAILED(objects->GetValue(PositionVariant(position), _variant_t(), entry.GetAddress()))) {
    ClearThreadErrorInfo();
  }
}

// The template field that "Fields" position `position` of the analysed
// list shows.
IKXQTemplateFieldPtr ListField(KXComException& ctx, const ContinuousPageHelper& helper,
                               IKXQTemplatePage* templatePage, int32_t position) {
  int32_t number = 0;
  KX_CHECK(ctx, helper.MapFieldIndex(position, &number));
  IKXQTemplateFieldPtr field;
  KX_CHECK(ctx, templatePage->get_Field(number, &field));
  return field;
}

}  // namespace

std::vector<_bstr_t> ReadFiredKeys(IKXQTrigger* trigger) {
  KXComException ctx = KXComException::Silent(u"ReadFiredKeys");
  CheckPointerArgument(ctx, trigger);
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, trigger->GetFiredKeys(&raw));
  std::vector<_bstr_t> keys;
  if (raw == nullptr) return keys;
  struct Destroy {
    SAFEARRAY* array;
    ~Destroy() { SafeArrayDestroy(array); }
  } destroy{raw};
  VARTYPE type = VT_EMPTY;
  KX_CHECK(ctx, SafeArrayGetVartype(raw, &type));
  if (SafeArrayGetDim(raw) != 1 || (type != VT_BSTR && type != VT_VARIANT)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, nullptr);
  }
  LONG low = 0;
  LONG high = -1;
  KX_CHECK(ctx, SafeArrayGetLBound(raw, 1, &low));
  KX_CHECK(ctx, SafeArrayGetUBound(raw, 1, &high));
  for (LONG i = low; i <= high; ++i) {
    if (type == VT_BSTR) {
      BSTR text = nullptr;
      KX_CHECK(ctx, SafeArrayGetElement(raw, &i, &text));
      keys.emplace_back(text, false);
    } else {
      _variant_t element;
      KX_CHECK(ctx, SafeArrayGetElement(raw, &i, element.GetAddress()));
      KX_CHECK(ctx, VariantChangeType(&element, &element, 0, VT_BSTR));
      keys.emplace_back(element.bstrVal, true);
    }
  }
  return keys;
}

ListRowsById::ListRowsById(IKXQObject* page) : m_page(page) {
  if (page != nullptr && FAILED(page->QueryInterface(kx_uuidof<IKXQValueStamps>(),
                                                     reinterpret_cast<void**>(&m_stamps)))) {
    m_stamps = nullptr;
  }
}

void ListRowsById::Rows::Index(const std::vector<int32_t>& ids) {
  first.clear();
  next.assign(ids.size(), -1);
  // From the last row up, so that each id's entry ends at its first row
  // and every row links to the next one of its object.
  for (size_t row = ids.size(); row-- > 0;) {
    if (ids[row] == 0) continue;
    auto [at, added] = first.try_emplace(ids[row], static_cast<int32_t>(row));
    if (!added) {
      next[row] = at->second;
      at->second = static_cast<int32_t>(row);
    }
  }
}

void ListRowsById::KeepRecorded(const std::vector<int32_t>& ids) { m_recorded.Index(ids); }

void ListRowsById::Read(const ContinuousPageHelper& helper) {
  const int32_t first = helper.FirstRowPosition();
  LONGLONG stamp = 0;
  bool stamped = false;
  if (m_stamps) {
    static const _bstr_t kNodeObjects(u"NodeObjects");
    const PreservedErrorInfo unchanged;
    stamped = SUCCEEDED(m_stamps->GetValueStamp(kNodeObjects, &stamp));
  }
  if (stamped && m_read && stamp == m_stamp && first == m_first) return;
  IKXQAttributePtr objects;
  if (m_page != nullptr) GetAttributeInterface(m_page, u"NodeObjects", objects);
  const int32_t count = objects && first >= 1 ? GetAttributeCount(objects) : 0;
  std::vector<int32_t> ids;
  for (int32_t k = first; k <= count && first >= 1; ++k) {
    IKXQObjectPtr object;
    GetAttributeAsObject(objects, k, object);
    ids.push_back(object ? ObjectIdOf(object) : 0);
  }
  m_now.Index(ids);
  m_read = stamped;
  m_stamp = stamp;
  m_first = first;
}

int32_t ListRowsById::RowOf(const ContinuousPageHelper& helper, int32_t id) {
  Read(helper);
  const auto found = m_now.first.find(id);
  return found != m_now.first.end() ? found->second : -1;
}

std::vector<int32_t> ListRowsById::RowsOf(const ContinuousPageHelper& helper, int32_t id) {
  std::vector<int32_t> rows;
  for (int32_t row = RowOf(helper, id); row >= 0; row = m_now.next[static_cast<size_t>(row)]) {
    rows.push_back(row);
  }
  const auto recorded = m_recorded.first.find(id);
  if (recorded == m_recorded.first.end()) return rows;
  const size_t now = rows.size();
  const int32_t count = static_cast<int32_t>(m_now.next.size());
  for (int32_t row = recorded->second; row >= 0 && row < count;
       row = m_recorded.next[static_cast<size_t>(row)]) {
    if (!std::binary_search(rows.begin(), rows.begin() + static_cast<ptrdiff_t>(now), row)) {
      rows.push_back(row);
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

int32_t ContinuousListKeyToPosition(const ContinuousPageHelper& helper, const OLECHAR* key,
                                    IKXQObject* page) {
  ListRowsById rows(page);
  return ContinuousListKeyToPosition(helper, key, rows);
}

int32_t ContinuousListKeyToPosition(const ContinuousPageHelper& helper, const OLECHAR* key,
                                    ListRowsById& rows) {
  KXComException ctx = KXComException::Silent(u"ContinuousListKeyToPosition");
  IKXQObject* page = rows.Page();
  const std::u16string_view text = key != nullptr ? std::u16string_view(key) : u"";
  const bool rowKey = text.size() > 3 && (text[0] == u'C' || text[0] == u'c') &&
                      (text[1] == u'L' || text[1] == u'l');
  if (!rowKey) {
    // A fixed position; anything that is no position at all (no digits, 0)
    // names none rather than a field 0.
    const int32_t position = static_cast<int32_t>(_wtol(std::u16string(text).c_str()));
    return position >= 1 ? position : -1;
  }
  const size_t colon = text.find(u':', 2);
  if (colon == std::u16string_view::npos) return -1;
  const int32_t id = static_cast<int32_t>(_wtol(std::u16string(text.substr(2, colon - 2)).c_str()));
  const int32_t column =
      static_cast<int32_t>(_wtol(std::u16string(text.substr(colon + 1)).c_str()));
  int32_t row = -1;
  if (page != nullptr) {
    row = rows.RowOf(helper, id);
  } else {
    const std::vector<int32_t>& ids = helper.RowObjectIds();
    const auto at = std::find(ids.begin(), ids.end(), id);
    if (at != ids.end()) row = static_cast<int32_t>(at - ids.begin());
  }
  if (row < 0) return -1;
  return helper.FirstRepeatingField() + column + row * helper.FieldsPerRow();
}

std::vector<int32_t> ContinuousListKeyPositions(const ContinuousPageHelper& helper,
                                                const OLECHAR* key, ListRowsById& rows) {
  const std::u16string_view text = key != nullptr ? std::u16string_view(key) : u"";
  const size_t colon = text.find(u':', 2);
  const bool rowKey = text.size() > 3 && (text[0] == u'C' || text[0] == u'c') &&
                      (text[1] == u'L' || text[1] == u'l') && colon != std::u16string_view::npos;
  if (!rowKey || rows.Page() == nullptr) {
    const int32_t position = ContinuousListKeyToPosition(helper, key, rows);
    return position >= 1 ? std::vector<int32_t>{position} : std::vector<int32_t>{};
  }
  const int32_t id = static_cast<int32_t>(_wtol(std::u16string(text.substr(2, colon - 2)).c_str()));
  const int32_t column =
      static_cast<int32_t>(_wtol(std::u16string(text.substr(colon + 1)).c_str()));
  std::vector<int32_t> positions;
  for (const int32_t row : rows.RowsOf(helper, id)) {
    positions.push_back(helper.FirstRepeatingField() + column + row * helper.FieldsPerRow());
  }
  return positions;
}

HRESULT RecordFieldItem(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                        int32_t index, IKXQTrigger* trigger, SAFEARRAY* overspillChain,
                        IKXQAttribute*) {
  return ServeRequest(u"RecordFieldItem", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    IKXQTemplateFieldPtr field;
    FieldUtils::GetTemplateField(templatePage, nullptr, index + 1, field);
    if (!field) return S_OK;
    OpenItem item(ctx, trigger, index);
    _variant_t position;
    IKXQFieldValuePtr holder;
    FieldUtils::FieldValueRead valueRead(false);
    // The walk, read by read, for the callback's event to take (its
    // writer walks to the same field).
    FieldUtils::SettledWalkRecorder settled(main.m_itemWalks != nullptr ? page : nullptr);
    settled.BeginWalk();
    KX_CHECK(ctx, FieldUtils::ResolveFieldObject(page, field, overspillChain, position.GetAddress(),
                                                 &holder, &valueRead));
    if (auto walk = settled.FinishRead(field, overspillChain, position, holder)) {
      (*main.m_itemWalks)[index + 1] = std::move(walk);
    }
    if (holder) {
      const _bstr_t unit = ReadUnit(ctx, page, field);
      // A walk taken from the writer may bring the value's reads with it.
      if (!valueRead.ValueReplayed()) {
        _bstr_t text;
        FieldUtils::GetAttributeValueText(holder, position, text, OrNull(unit));
      }
    }
    item.End(ctx);
    return S_OK;
  });
}

HRESULT RecordListFieldItem(MainContext& main, IKXQObject* page, IKXQTemplateField* field,
                            const OLECHAR* key, int32_t position, int32_t row, IKXQTrigger* trigger,
                            IKXQAttribute* fields, const ListFieldWalk* walk) {
  return ServeRequest(u"RecordListFieldItem", kSilentFrame, [&](KXComException& ctx) {
    if (field == nullptr) return S_OK;
    CheckPointerArgument(ctx, trigger);
    _variant_t at;
    IKXQFieldValuePtr holder;
    HRESULT found = S_OK;
    if (walk == nullptr || !walk->Take(position, row, &found, at.GetAddress(), &holder)) {
      found = ResolveContinuousListField(main, page, field, row, at.GetAddress(), &holder);
    }
    if (found == S_FALSE) return S_OK;
    OpenItem item(ctx, trigger, key);
    const _bstr_t unit = ReadUnit(ctx, page, field);
    if (holder && item.Began() == S_OK) {
      ReadRowEntry(main.GetContinuousPageHelper(), page, row);
      _bstr_t text;
      FieldUtils::GetAttributeValueText(holder, at, text, OrNull(unit));
      (void)ObjectIdOf(page);
      // The entry alone, not the number of entries: a row appended or cut
      // off past this position leaves the item as it was. A position past
      // the end reads as empty, and fires once something is written there.
      if (fields != nullptr && position >= 1) {
        KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, position, text);
      }
    }
    item.End(ctx);
    return S_OK;
  });
}

HRESULT RecordContinuousFieldItem(MainContext& main, IKXQObject* page,
                                  IKXQTemplatePage* templatePage, IKXQTrigger* trigger,
                                  int32_t position, const ListFieldWalk* walk) {
  return ServeRequest(u"RecordContinuousFieldItem", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    const IKXQTemplateFieldPtr field = ListField(ctx, helper, templatePage, position);
    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    KX_CHECK(ctx, RecordListFieldItem(main, page, field, kx_ltow(position, 10).c_str(), position,
                                      RowOf(helper, position), trigger, fields, walk));
    return S_OK;
  });
}

void ReadOverspillAssociation(const VariantUtil::SafeArrayMatrix& pairs, int32_t position,
                              IKXQClassViewPtr& view, _bstr_t& name) {
  KXComException ctx = KXComException::Silent(u"ReadOverspillAssociation");
  view = nullptr;
  name = _bstr_t();
  // A column outside the list reads as empty elements.
  if (pairs.Array() == nullptr || position < 0 || position >= pairs.Count2() ||
      pairs.Count1() < 2) {
    return;
  }
  LONG at[2] = {pairs.LowerBound1(), pairs.LowerBound2() + position};
  _variant_t first;
  _variant_t second;
  KX_CHECK(ctx, VariantUtil::GetSafeArrayElement(pairs.Array(), pairs.Vartype(), at,
                                                 first.GetAddress()));
  at[0] = pairs.LowerBound1() + 1;
  KX_CHECK(ctx, VariantUtil::GetSafeArrayElement(pairs.Array(), pairs.Vartype(), at,
                                                 second.GetAddress()));
  if (FAILED(VariantToObject(first, &view))) {
    ClearThreadErrorInfo();
    view = nullptr;
  }
  KX_CHECK(ctx, VariantToString(second, name.GetAddress()));
}

HRESULT GetPageOverspillAssociation(OverspillUtils& run, IKXQObject* page, SAFEARRAY** list) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, list);
    *list = nullptr;
    MainContext* owner = run.Owner();
    if (owner == nullptr) return S_FALSE;
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    KX_CHECK(ctx, owner->Workers().GetOverspillAssociation(run, page, false, pairs, &target));
    if (pairs.Array() != nullptr) KX_CHECK(ctx, SafeArrayCopy(pairs.Array(), list));
    return S_OK;
  };
  return ServeRequest(u"OverspillUtils::GetPageOverspillAssociation", kSilentFrame, work);
}

HRESULT RecordOverspillItem(MainContext&, IKXQObject* page, int32_t row, IKXQClassView* node,
                            const OLECHAR* name, IKXQTrigger* trigger) {
  return ServeRequest(u"RecordOverspillItem", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    ComPtrArray<IKXQClassView> chain;
    IKXQViewPtr view;
    FieldUtils::GetNodeChain(page, node, chain, view);
    if (!view) return S_OK;
    // The chain runs from `node` up to the root: walk it back down.
    _bstr_t attribute(name);
    for (int32_t i = chain.GetCount() - 2; i >= 0; --i) {
      IKXQClassView* step = chain.GetAt(i);
      _bstr_t stepName;
      KX_CHECK(ctx, step->get_Name(stepName.GetAddress()));
      std::u16string cut(stepName.length() > 0 ? static_cast<const OLECHAR*>(stepName) : u"");
      cut = cut.substr(0, cut.find_first_of(u"([ "));
      attribute = _bstr_t(cut.c_str());
      IKXQObjectPtr object;
      KXDBDatasheetSvcs::GetNodeObject(object, page, step);
      if (!object) break;
      IKXQViewDefinitionPtr definition;
      KX_CHECK(ctx, view->get_Definition(&definition));
      IKXQViewDefinitionPtr member;
      if (definition) KX_CHECK(ctx, definition->get_Member(attribute, &member));
      if (!member) continue;
      IKXQViewPtr next;
      KX_CHECK(ctx, object->GetView(_variant_t(static_cast<IDispatch*>(member.GetInterfacePtr())),
                                    &next));
      if (!next) continue;
      view = next;
      attribute = _bstr_t(name);
    }
    OpenItem item(ctx, trigger, kx_ltow(row, 10).c_str());
    _variant_t ignored;
    IKXQFieldValuePtr holder;
    KX_CHECK(ctx, view->ReadRoute(attribute, _variant_t(), ignored.GetAddress(), &holder));
    if (holder) {
      LONG count = 0;
      KX_CHECK(ctx, holder->get_Count(&count));
      for (LONG i = 1; i <= count; ++i) {
        _variant_t value;
        KX_CHECK(ctx, holder->GetValue(_variant_t(i), _variant_t(), value.GetAddress()));
      }
    }
    item.End(ctx);
    return S_OK;
  });
}

namespace KXDBDatasheetServices {

namespace {

// InitializeFieldTriggers; without `rebind` for a trigger bound just now.
HRESULT RecordFieldTriggers(MainContext& main, IKXQObject* page, IKXQTrigger* trigger, bool rebind,
                            const std::vector<_bstr_t>* fired = nullptr);

}  // namespace

bool IsOwnTrigger(IKXQObject* object, const OLECHAR* name) {
  if (object == nullptr) return true;
  const _bstr_t triggerName(name);
  VARIANT_BOOL has = VARIANT_FALSE;
  _com_ptr_t<IKXQTrigger> trigger;
  _bstr_t handler;
  if (FAILED(object->HasTrigger(triggerName, &has)) ||
      (has == VARIANT_TRUE && (FAILED(object->get_Trigger(triggerName, &trigger)) || !trigger ||
                               FAILED(trigger->GetHandler(handler.GetAddress()))))) {
    ClearThreadErrorInfo();
    return true;
  }
  if (has != VARIANT_TRUE || handler.length() == 0) return true;
  const std::u16string versioned =
      std::u16string(kMainProgId) + u"." + kx_ltow(kKXDBDatasheetSvcsMajorVersion, 10);
  return kx_wcsicmp(handler.view(), kMainProgId) == 0 || kx_wcsicmp(handler.view(), versioned) == 0;
}

HRESULT SetUpTrigger(MainContext&, IKXQObject* object, const OLECHAR* name, IKXQTrigger** trigger) {
  return ServeRequest(u"KXDBDatasheetServices::SetUpTrigger", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    *trigger = nullptr;
    CheckPointerArgument(ctx, object);
    _com_ptr_t<IKXQTrigger> held;
    KX_CHECK(ctx, object->get_Trigger(_bstr_t(name), &held));
    CheckPointerArgument(ctx, held.GetInterfacePtr());
    Rebind(ctx, held);
    *trigger = held.Detach();
    return S_OK;
  });
}

HRESULT InitializeDatasheetTrigger(MainContext& main, IKXQObject* datasheet) {
  const auto work = [&](KXComException& ctx) {
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, SetUpTrigger(main, datasheet, u"Datasheet", &trigger));
    KX_CHECK(ctx, InitializeDatasheetTriggerData(main, datasheet, trigger));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializeDatasheetTrigger", kFrame, work);
}

HRESULT InitializeDatasheetTriggerData(MainContext& main, IKXQObject* datasheet,
                                       IKXQTrigger* trigger) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    CheckPointerArgument(ctx, trigger);
    IKXQApplication* application = main.m_pApplication;
    ScopedCurrentDatasheet current(application, datasheet);
    const std::vector<_bstr_t> keys = ReadFiredKeys(trigger);
    auto fired = [&](const OLECHAR* name) {
      if (keys.empty()) return true;
      return std::any_of(keys.begin(), keys.end(), [&](const _bstr_t& key) {
        return key.length() > 0 && _wcsicmp(key, name) == 0;
      });
    };
    const bool pages = fired(u"Pages");
    const bool names = fired(u"Name");
    Rebind(ctx, trigger);
    KX_CHECK(ctx, trigger->ClearFiredKeys());
    IKXQAttributePtr list;
    if (pages) {
      OpenItem item(ctx, trigger, u"Pages");
      (void)GetPagesAttributeByStatus(datasheet, 1, list);
      item.End(ctx);
    }
    if (names) {
      const int32_t count = GetPagesAttributeByStatus(datasheet, 1, list);
      {
        OpenItem item(ctx, trigger, u"Name");
        _bstr_t name;
        KX_CHECK(ctx, KXDBDatasheetSvcs::GetDatasheetName(application, datasheet, name.GetAddress(),
                                                          true, 1));
        item.End(ctx);
      }
      for (int32_t i = 1; i <= count; ++i) {
        IKXQObjectPtr page;
        GetAttributeAsObject(list, i, page);
        if (!page) continue;
        ScopedCurrentPage currentPage(application, page);
        OpenItem item(ctx, trigger, u"Name");
        _bstr_t pageName;
        KXDBDatasheetSvcs::GetPageDisplayName(page, pageName.GetAddress());
        item.End(ctx);
      }
    }
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializeDatasheetTriggerData", kSilentFrame, work);
}

HRESULT InitializePageTrigger(MainContext& main, IKXQObject* page, bool bindOnly) {
  const auto work = [&](KXComException& ctx) {
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, SetUpTrigger(main, page, u"Field", &trigger));
    if (bindOnly) return S_OK;
    const IKXQTemplatePagePtr templatePage = TemplatePageOf(ctx, main, page);
    const bool continuous = IsContinuous(ctx, templatePage);
    if (continuous) {
      ContinuousPageHelper& helper = main.GetContinuousPageHelper();
      KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
      // The lists grow to what the page shows, so that every position has
      // an entry to record.
      auto grow = [&](const OLECHAR* name, int32_t wanted) {
        IKXQAttributePtr list;
        GetAttributeInterface(page, name, list);
        if (!list) return;
        for (int32_t i = GetAttributeCount(list) + 1; i <= wanted; ++i) {
          KXDBDatasheetSvcs::InsertAttributeValue(list, i);
        }
      };
      grow(u"Fields", helper.PageFieldCount());
      grow(u"Revisions", helper.PageValueCount());
    }
    // SetUpTrigger bound the trigger a moment ago; a continuous page's
    // growing lists may have run callbacks since.
    KX_CHECK(ctx, RecordFieldTriggers(main, page, trigger, continuous));
    if (!continuous) KX_CHECK(ctx, InitializeNodeTrigger(main, page));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializePageTrigger", kFrame, work);
}

HRESULT InitializeFieldTriggers(MainContext& main, IKXQObject* page, IKXQTrigger* trigger,
                                const std::vector<_bstr_t>* fired) {
  return RecordFieldTriggers(main, page, trigger, true, fired);
}

namespace {

HRESULT RecordFieldTriggers(MainContext& main, IKXQObject* page, IKXQTrigger* trigger, bool rebind,
                            const std::vector<_bstr_t>* fired) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, page);
    CheckPointerArgument(ctx, trigger);
    const std::vector<_bstr_t> keys = fired != nullptr ? *fired : ReadFiredKeys(trigger);
    IKXQApplication* application = main.m_pApplication;
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    ScopedCurrentPage currentPage(application, page);
    const IKXQTemplatePagePtr templatePage = TemplatePageOf(ctx, main, page);
    if (rebind) Rebind(ctx, trigger);
    KX_CHECK(ctx, trigger->ClearFiredKeys());
    if (!templatePage) return S_OK;
    const bool continuous = IsContinuous(ctx, templatePage);
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    if (continuous) KX_CHECK(ctx, helper.Initialize(application, templatePage, page, false));
    PageLoadContext context(&main);
    SAFEARRAY* chain = GetPageOverspillChain(context, page);
    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    // A page of a class without field records shows no fields to record.
    if (!fields) return S_OK;

    auto recordListPosition = [&](const OLECHAR* key, int32_t position, int32_t row) {
      KX_CHECK(ctx, trigger->ResetItem(_variant_t(key)));
      const IKXQTemplateFieldPtr field = ListField(ctx, helper, templatePage, position);
      KX_CHECK(ctx, RecordListFieldItem(main, page, field, key, position, row, trigger, fields));
    };
    if (keys.empty() && !continuous) {
      // Recording reads: the list keeps its length.
      const int32_t count = GetAttributeCount(fields);
      for (int32_t i = 1; i <= count; ++i) {
        KX_CHECK(ctx, RecordFieldItem(main, page, templatePage, i - 1, trigger, chain, fields));
      }
    } else if (keys.empty()) {
      for (int32_t p = 1; p <= GetAttributeCount(fields); ++p) {
        _bstr_t key;
        KX_CHECK(ctx, main.Workers().GetContinuousListKey(helper, key.GetAddress(), p, page));
        if (key.length() == 0) continue;
        recordListPosition(key, p, RowOf(helper, p));
      }
      main.KeepRecordedRows(page, helper.RowObjectIds());
    } else if (!continuous) {
      for (const _bstr_t& key : keys) {
        const int32_t index = static_cast<int32_t>(_wtol(key.length() > 0 ? key : u""));
        KX_CHECK(ctx, RecordFieldItem(main, page, templatePage, index, trigger, chain, fields));
      }
    } else {
      ListRowsById rows(page);
      for (const _bstr_t& key : keys) {
        const int32_t position = ContinuousListKeyToPosition(helper, key, rows);
        if (position < 0) continue;
        // The row the key's object stands in now: the analysis above has
        // just emptied its cached row ids, so a look-up there finds no row,
        // and the item would read the first row's value instead.
        recordListPosition(key, position, RowOf(helper, position));
      }
    }
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializeFieldTriggers", kSilentFrame, work);
}

}  // namespace

HRESULT InitializeNodeTrigger(MainContext& main, IKXQObject* page) {
  const auto work = [&](KXComException& ctx) {
    OverspillUtils run(&main);
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    KX_CHECK(ctx, main.Workers().GetOverspillAssociation(run, page, false, pairs, &target));
    if (pairs.Array() == nullptr) return S_OK;
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, SetUpTrigger(main, page, u"Overspill", &trigger));
    KX_CHECK(ctx, InitializeNodeTriggerData(main, page, run, trigger));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializeNodeTrigger", kFrame, work);
}

HRESULT InitializeNodeTriggerData(MainContext& main, IKXQObject* page, OverspillUtils& run,
                                  IKXQTrigger* trigger) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    ScopedCurrentPage currentPage(main.m_pApplication, page);
    const std::vector<_bstr_t> keys = ReadFiredKeys(trigger);
    KX_CHECK(ctx, trigger->ClearFiredKeys());
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    KX_CHECK(ctx, main.Workers().GetOverspillAssociation(run, page, false, pairs, &target));
    if (pairs.Array() == nullptr) return S_OK;
    auto record = [&](int32_t r) {
      IKXQClassViewPtr node;
      _bstr_t name;
      ReadOverspillAssociation(pairs, r, node, name);
      if (!node || name.length() == 0) return;
      KX_CHECK(ctx, RecordOverspillItem(main, page, r, node, name, trigger));
    };
    if (keys.empty()) {
      for (int32_t r = 0; r < pairs.Count2(); ++r) record(r);
    } else {
      for (const _bstr_t& key : keys)
        record(static_cast<int32_t>(_wtol(key.length() > 0 ? key : u"")));
    }
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializeNodeTriggerData", kSilentFrame, work);
}

HRESULT InitializePermanentFilterTrigger(MainContext& main, IKXQObject* summary) {
  const auto work = [&](KXComException& ctx) {
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, SetUpTrigger(main, summary, u"SSPF", &trigger));
    VARIANT all;
    VariantInit(&all);
    all.vt = VT_INT;
    all.intVal = 0;
    KX_CHECK(ctx, trigger->ResetItem(all));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetServices::InitializePermanentFilterTrigger", kFrame, work);
}

}  // namespace KXDBDatasheetServices

namespace KXDBDatasheetSvcs {

bool IsObjectInFilter(IKXQApplication* application, const VARIANT& filter, IKXQObject* object,
                      IKXQObject* summary, IKXQTrigger* trigger) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::IsObjectInFilter");
  return IsObjectInFilter(ctx, application, filter, object, summary, trigger);
}

bool IsObjectInFilter(KXComException& ctx, IKXQApplication* application, const VARIANT& filter,
                      IKXQObject* object, IKXQObject* summary, IKXQTrigger* trigger) {
  // The claim test goes to the store under its one spelling, whatever the
  // case of the stored name.
  const _variant_t claimOnly(u"KX_CLAIM_ONLY");
  const bool isClaimOnly = filter.vt == VT_BSTR && filter.bstrVal != nullptr &&
                           _wcsicmp(filter.bstrVal, u"KX_CLAIM_ONLY") == 0;
  const VARIANT& tested = isClaimOnly ? static_cast<const VARIANT&>(claimOnly) : filter;
  if (trigger == nullptr) return IsObjectInFilter(application, tested, object, summary);
  CheckPointerArgument(ctx, object);
  KX_CHECK(ctx, trigger->BeginItem(_variant_t(kx_ltow(ObjectIdOf(object), 10).c_str())));
  KXScopeGuard endItem([&] { (void)trigger->EndItem(); });
  const bool passes = IsObjectInFilter(application, tested, object, summary);
  endItem.Dismiss();
  KX_CHECK(ctx, trigger->EndItem());
  return passes;
}

}  // namespace KXDBDatasheetSvcs
