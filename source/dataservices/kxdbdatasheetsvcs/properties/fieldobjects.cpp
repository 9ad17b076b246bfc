#include "properties/fieldobjects.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/overspillutils.h"
#include "model/workertable.h"
#include "properties/fieldpage.h"
#include "variantutil.h"
#include "xmlreply.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldobjects";
constexpr FrameOptions kFrame{.file = kFile};

using Text = std::u16string;

Text ToText(const _bstr_t& text) {
  return text.length() ? Text(static_cast<const OLECHAR*>(text)) : Text();
}

LONG NodeIndexOf(IKXQClassView* node) {
  LONG index = -1;
  if (node != nullptr && FAILED(node->get_NodeIndex(&index))) index = -1;
  return index;
}

bool SameObject(IKXQObject* a, IKXQObject* b) {
  return a != nullptr && b != nullptr && ObjectIdOf(a) == ObjectIdOf(b);
}

Text ClassName(IKXQClass* cls) {
  _bstr_t name;
  if (cls) cls->get_Name(name.GetAddress());
  return ToText(name);
}

Text ClassNameOf(IKXQObject* object) {
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  return ClassName(cls);
}

// Whether the class `name` is itself one of the classes attached to
// `node`: a node that takes it only as a class derived from its own does
// not count.
bool HasAttachedClassNamed(KXComException& ctx, IKXQClassView* node, const Text& name) {
  if (name.empty()) return false;
  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, node->GetAttachedClasses(0, &array));
  VariantUtil::SafeArrayVector attached(array, true);
  for (int32_t a = 0; a < attached.Count(); ++a) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, attached.GetClassAt(a, &cls));
    if (cls && kx_wcsicmp(ClassName(cls), name) == 0) return true;
  }
  return false;
}

// Whether one of `classes` is itself attached to `node`.
bool HasAttachedClassAmong(KXComException& ctx, IKXQClassView* node,
                           const VariantUtil::SafeArrayVector& classes) {
  for (int32_t i = 0; i < classes.Count(); ++i) {
    IKXQClassPtr candidate;
    KX_CHECK(ctx, classes.GetClassAt(i, &candidate));
    if (candidate && HasAttachedClassNamed(ctx, node, ClassName(candidate))) return true;
  }
  return false;
}

// Refuses `object`, named by "ObjectId" `id`, unless its class is (or
// derives from) a class attached to `node`: only such an object is a
// candidate there, and only such an object may be placed there.
void RequireNodeTakes(KXComException& ctx, IKXQClassView* node, IKXQObject* object, int32_t id) {
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  VARIANT_BOOL accepts = VARIANT_FALSE;
  if (node != nullptr && cls) {
    KX_CHECK(ctx, node->AcceptsClass(_variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr())),
                                     nullptr, &accepts));
  }
  if (accepts == VARIANT_TRUE) return;
  _bstr_t name;
  if (node != nullptr) KX_CHECK(ctx, node->get_Name(name.GetAddress()));
  const Text expected = u"an object of a class of node " + ToText(name);
  RefuseObjectClass(object, id, expected.c_str());
}

// Refuses the globals object, documents and pages; else the question.
bool CanHideOrDelete(IKXQObject* object, bool hide, Text& text) {
  const OLECHAR* verb = hide ? u"hidden" : u"deleted";
  const Text cls = ClassNameOf(object);
  const OLECHAR* refusal = nullptr;
  if (kx_wcsicmp(cls, u"GlobalsClass") == 0)
    refusal = u"Globals object cannot be %ls";
  else if (IsObjectOfClass(object, u"Datasheet"))
    refusal = u"Document object cannot be %ls";
  else if (IsObjectOfClass(object, u"Page"))
    refusal = u"Page object cannot be %ls";
  if (refusal != nullptr) {
    text = kx_format(refusal, verb);
    return false;
  }
  _bstr_t name;
  GetObjectName(object, name, true);
  text = kx_format(hide ? u"Hide object %ls" : u"Delete object %ls", ToText(name).c_str());
  return true;
}

// Whether the delete event would take `object` off `view` as a row of a
// continuous list; a view it cannot tell counts as one.
bool IsListPage(MainContext& main, IKXQObject* view) {
  if (!IsObjectOfClass(view, u"Page")) return false;
  IKXQTemplatePagePtr templatePage;
  _bstr_t format;
  if (FAILED(KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, view, &templatePage, 1)) ||
      (templatePage && FAILED(templatePage->get_ContinuousFormat(format.GetAddress())))) {
    SetErrorInfo(0, nullptr);
    return true;
  }
  return format.length() > 0;
}

// Whether deleting each of `objects` takes just its row off `work`'s list
// page: each stands on the page once, as a row, and on no other list page;
// the host tells the module of its deletion (else the store only empties
// its slot); and it is neither the page nor the datasheet that owns it
// (deleted, that one leaves the page's later rows to tell nobody).
bool RowsGoAlone(KXComException& ctx, MainContext& main, const FieldPage& work,
                 const std::vector<IKXQObject*>& objects) {
  IKXQObjectPtr owner;
  KX_CHECK(ctx, work.page->GetOwner(&owner, 0));
  for (IKXQObject* object : objects) {
    if (object == work.page || object == owner || !IsObjectOfClass(object, kDeleteEventClass)) {
      return false;
    }
  }
  ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  KX_CHECK(ctx, helper.Initialize(main.m_pApplication, work.templatePage, work.page, false));
  const int32_t firstRow = helper.FirstRowPosition();
  IKXQAttributePtr nodeObjects;
  GetAttributeInterface(work.page, u"NodeObjects", nodeObjects);
  if (firstRow < 1 || !nodeObjects) return false;
  std::unordered_map<IKXQObject*, int32_t> rows;
  for (IKXQObject* object : objects) rows.emplace(object, 0);
  for (int32_t p = GetAttributeCount(nodeObjects); p >= 1; --p) {
    IKXQObjectPtr value;
    GetAttributeObjectAt(nodeObjects, value, p);
    const auto found = rows.find(value.GetInterfacePtr());
    if (!value || found == rows.end()) continue;
    if (p < firstRow || ++found->second > 1) return false;
  }
  for (IKXQObject* object : objects) {
    IKXQAttributePtr views;
    GetAttributeInterface(object, u"DataViews", views);
    if (!views || rows[object] != 1) return false;
    bool onPage = false;
    for (int32_t i = GetAttributeCount(views); i >= 1; --i) {
      IKXQObjectPtr view;
      GetAttributeAsObject(views, i, view);
      if (!view) continue;
      if (view.GetInterfacePtr() == work.page) {
        onPage = true;
      } else if (IsListPage(main, view)) {
        return false;
      }
    }
    if (!onPage) return false;
  }
  return true;
}

// Deletes the objects of rows of `work`'s list page, in order. The delete
// event takes each one's row off the page, and each row costs the rows
// after it: once the first delete has shown that its row went, the rows of
// the others go together first, as their delete events would take them
// off one by one, when nothing else of theirs is on a list page. The
// delete events go through the worker table: a test's table sees each.
// A first row that is the page itself leaves no page to read the others'
// rows from: they go one by one.
void DeleteRowObjects(KXComException& ctx, MainContext& main, const FieldPage& work,
                      const std::vector<IKXQObject*>& objects) {
  if (objects.empty()) return;
  IKXQAttributePtr nodeObjects;
  GetAttributeInterface(work.page, u"NodeObjects", nodeObjects);
  const int32_t before = nodeObjects ? GetAttributeCount(nodeObjects) : 0;
  const bool pageStays = !SameObject(objects.front(), work.page);
  KX_CHECK(ctx, objects.front()->Delete());
  const std::vector<IKXQObject*> rest(objects.begin() + 1, objects.end());
  if (pageStays && rest.size() >= 2 && main.Workers().IsModulesOwn() && nodeObjects &&
      GetAttributeCount(nodeObjects) == before - 1 && RowsGoAlone(ctx, main, work, rest)) {
    KX_CHECK(ctx, KXDBDatasheetSvcs::RemoveObjectsFromPage(main, work.page, rest));
  }
  for (IKXQObject* object : rest) KX_CHECK(ctx, object->Delete());
}

void ClearHiddenObjects(IKXQObject* page) {
  IKXQAttributePtr hidden;
  GetAttributeInterface(page, u"HiddenObjects", hidden);
  if (hidden) ResizeAttributeValues(hidden, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// "ShowFieldObjects", "HideFieldObjects", "DeleteFieldObjects"

namespace {

// The grammar the three messages share but for the message's name.
constexpr auto FieldObjectsGrammar(const OLECHAR* message) {
  using Id = FieldObjectsSchema;
  return Grammar::Table(
      Grammar::Envelope(Id::TargetId, Id::Status),
      Grammar::Element(message, 1,
                       {Grammar::Integer(u"PageId", Id::PageId),
                        Grammar::Boolean(u"Confirmed", Id::Confirmed), Grammar::Child(Id::Field)}),
      Grammar::Element(
          u"Field", Id::Field,
          {Grammar::Integer(u"FieldId", Id::FieldId), Grammar::Integer(u"Index", Id::Index),
           Grammar::Integer(u"ObjectId", Id::ObjectId)}));
}

}  // namespace

const GrammarRecord* FieldObjectsMessageParser::GetSchema() const {
  static constexpr auto kShowGrammar = FieldObjectsGrammar(u"ShowFieldObjects");
  static constexpr auto kHideGrammar = FieldObjectsGrammar(u"HideFieldObjects");
  static constexpr auto kDeleteGrammar = FieldObjectsGrammar(u"DeleteFieldObjects");
  switch (m_mode) {
    case kShow: return kShowGrammar.data();
    case kHide: return kHideGrammar.data();
    default: return kDeleteGrammar.data();
  }
}

HRESULT FieldObjectsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Confirmed: return Store(m_confirmed, value);
    case ObjectId: return Store(m_objectId, value);
    default: return StoreFieldAddress<FieldObjectsSchema>(*this, id, value);
  }
}

FieldObjectsMessageParser::FieldKey::FieldKey(int32_t field, int32_t row)
    : fieldId(field), index(row), text(kx_ltow(field) + u":" + kx_ltow(row)) {}

bool FieldObjectsMessageParser::FieldKey::operator<(const FieldKey& other) const {
  return kx_wcsicmp(text, other.text) < 0;
}

HRESULT FieldObjectsMessageParser::WorkChild(uint32_t element) {
  if (element != Field) return E_INVALIDARG;
  // A later "Field" for the same field and row replaces the earlier one.
  m_requested[FieldKey(m_fieldId, m_index)] = m_objectId;
  m_fieldId = -1;
  m_index = -1;
  m_objectId = -1;
  return S_OK;
}

HRESULT FieldObjectsMessageParser::Work() {
  switch (m_mode) {
    case kShow: return ShowFieldObjects();
    case kHide: return HideFieldObjects();
    default: return DeleteFieldObjects();
  }
}

void FieldObjectsMessageParser::CollateFieldData(FieldPage& work, Mode mode) {
  KXComException ctx(u"FieldObjectsMessageParser::CollateFieldData");
  m_records.clear();
  m_continuous = work.IsContinuous();
  MainContext& main = *m_pMain;
  IKXQAttributePtr nodeObjects;
  GetAttributeInterface(work.page, u"NodeObjects", nodeObjects);
  const int32_t objectCount = nodeObjects ? GetAttributeCount(nodeObjects) : 0;
  std::unordered_set<LONG> handled;
  Text message;
  for (const auto& [key, objectId] : m_requested) {
    const int32_t fieldId = key.fieldId;
    const int32_t index = key.index;
    _variant_t number;
    IKXQTemplateFieldPtr field;
    KX_CHECK(ctx, work.templatePage->GetFieldById(fieldId, &number, &field));
    if (!field) continue;
    // A row names a list row's object only for a list column: read as a
    // position, the row of a header field would name another row's object.
    // An ordinary page does not read the row: the field's object is meant.
    work.CheckListRow(field, index);
    IKXQObjectPtr object, root;
    IKXQClassViewPtr node;
    if (!m_continuous) {
      FieldUtils::GetFieldRootObject(work.page, field, root);
      FieldUtils::GetTemplateFieldNode(work.page, field, false, node);
      if (handled.count(NodeIndexOf(node)) != 0) continue;
      KXDBDatasheetSvcs::GetNodeObject(object, work.page, node);
    } else {
      const int32_t position = main.GetContinuousPageHelper().ListRowPosition(index);
      if (index >= 0 && position > 0) {
        if (mode != kShow && position <= objectCount) {
          GetAttributeAsObject(nodeObjects, position, object);
        } else if (mode == kShow && m_confirmed && position <= objectCount + 1 && objectId > 0) {
          GetStoreObject(main.m_pDatabase, object, objectId);
          IKXQClassViewPtr rowNode;
          FieldUtils::GetTemplateFieldNode(work.page, field, true, rowNode);
          RequireNodeTakes(ctx, rowNode, object, objectId);
        }
      }
      root = object;
    }
    const bool primary = (mode != kShow && object && SameObject(object, root)) || !root;
    if (!m_continuous && primary) FieldUtils::GetTemplateFieldNode(work.page, field, true, node);
    if (!m_confirmed) {
      std::vector<IKXQObjectPtr> candidates;
      bool inList = true;
      bool navigated = false;
      if (!m_continuous) {
        ComPtrArray<IKXQObject> objects;
        IKXQFieldValuePtr holder;
        inList = FieldUtils::GetObjectVector(work.page, node, objects, holder);
        navigated = holder != nullptr;
        for (int32_t i = 0; i < objects.GetCount(); ++i) {
          if (objects.GetAt(i) != nullptr) candidates.emplace_back(objects.GetAt(i));
        }
      } else if (object) {
        candidates.push_back(object);
      }
      if (mode == kShow && !object) {
        if (!inList && navigated) {
          message = u"Can only show objects that are contained in a vector";
        } else if (candidates.empty()) {
          message = u"No objects exist for selected field(s)";
        } else {
          FieldObjectRecord record;
          record.node = node;
          record.fieldId = fieldId;
          record.index = index;
          record.candidates = std::move(candidates);
          m_records.push_back(std::move(record));
        }
      } else if (mode != kShow && object) {
        Text text;
        if (!CanHideOrDelete(object, mode == kHide, text)) {
          message = text;
        } else if (!primary && !inList) {
          message = kx_format(u"Can only %ls objects that are contained in a vector",
                              mode == kHide ? u"hide" : u"delete");
        } else {
          FieldObjectRecord record{object, node, fieldId, index, primary, {}, text};
          m_records.push_back(std::move(record));
        }
      }
    } else {
      if (!object && !m_continuous && objectId > 0) {
        GetStoreObject(main.m_pDatabase, object, objectId);
        RequireNodeTakes(ctx, node, object, objectId);
      }
      if (object) {
        FieldObjectRecord record{object, node, fieldId, index, primary, {}, {}};
        m_records.push_back(std::move(record));
      }
    }
    if (node) handled.insert(NodeIndexOf(node));
  }
  // The keys were visited in the order of their texts; records go by
  // field, then row.
  std::stable_sort(m_records.begin(), m_records.end(), [](const auto& a, const auto& b) {
    return std::pair(a.fieldId, a.index) < std::pair(b.fieldId, b.index);
  });
  if (m_records.empty() && !m_confirmed) {
    if (message.empty()) {
      message = kx_format(u"%ls exist for selected field(s)",
                          mode == kShow ? u"An object" : u"No objects");
    }
    FieldObjectRecord record;
    record.primary = true;
    record.text = message;
    m_records.push_back(std::move(record));
  }
}

void FieldObjectsMessageParser::WriteReply() {
  XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
  for (const auto& record : m_records) {
    if (record.fieldId < 1) {
      XMLReply::EnsureAttributes(Reply());
      XMLReply::AddStringAttribute(Reply(), u"MessageType", _bstr_t(u"ALERT"));
      XMLReply::AddStringAttribute(Reply(), u"Text", _bstr_t(record.text.c_str()));
      XMLReply::WriteElement(Reply(), u"Message", nullptr);
    } else if (!record.candidates.empty()) {
      XMLReply::EnsureAttributes(Reply());
      XMLReply::AddLongAttribute(Reply(), u"FieldId", record.fieldId);
      XMLReply::StartElement(Reply(), u"FieldObjects");
      for (const auto& candidate : record.candidates) {
        _bstr_t name;
        GetObjectName(candidate, name, true);
        XMLReply::AddLongAttribute(Reply(), u"ObjectId", ObjectIdOf(candidate));
        XMLReply::AddStringAttribute(Reply(), u"Name", name);
        XMLReply::WriteElement(Reply(), u"Object", nullptr);
      }
      XMLReply::EndElement(Reply(), u"FieldObjects");
    }
  }
  XMLReply::EndMessage(Reply());
}

void FieldObjectsMessageParser::WriteQuestion() {
  XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
  for (const auto& record : m_records) {
    if (!record.primary) continue;
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddStringAttribute(Reply(), u"MessageType",
                                 _bstr_t(record.fieldId > 0 ? u"QUESTION" : u"ALERT"));
    XMLReply::AddStringAttribute(Reply(), u"Text", _bstr_t(record.text.c_str()));
    XMLReply::AddLongAttribute(Reply(), u"FieldId", record.fieldId);
    XMLReply::AddLongAttribute(Reply(), u"Index", record.index);
    XMLReply::AddLongAttribute(Reply(), u"ObjectId", record.object ? ObjectIdOf(record.object) : 0);
    XMLReply::WriteElement(Reply(), u"Message", nullptr);
  }
  XMLReply::EndMessage(Reply());
}

void FieldObjectsMessageParser::PlaceParentObjects(FieldPage& work, IKXQClassView* start,
                                                   SAFEARRAY* sourceChain) {
  KXComException ctx(u"FieldObjectsMessageParser::PlaceParentObjects");
  IKXQClassViewPtr node = start;
  for (;;) {
    IKXQClassViewPtr parent;
    KX_CHECK(ctx, node->get_Parent(&parent));
    if (!parent) return;
    if (m_recordNodes.count(NodeIndexOf(parent)) != 0) return;
    IKXQObjectPtr placed;
    KXDBDatasheetSvcs::GetNodeObject(placed, work.page, parent);
    if (placed) return;
    ComPtrArray<IKXQClassView> chain;
    IKXQViewPtr rootView;
    FieldUtils::GetNodeChain(work.page, parent, chain, rootView);
    if (!rootView || chain.GetCount() < 2) return;
    Text path;
    for (int32_t i = chain.GetCount() - 2; i >= 0; --i) {
      _bstr_t name;
      KX_CHECK(ctx, chain.GetAt(i)->get_Name(name.GetAddress()));
      if (!path.empty()) path += u".";
      path += ToText(FieldUtils::ShiftRouteIndices(sourceChain, name));
    }
    _variant_t position;
    IKXQFieldValuePtr holder;
    KX_CHECK(ctx, FieldUtils::GetRouteStep(rootView, path.c_str(), -1, false, &position, &holder));
    if (!holder || (position.vt != VT_I4 && position.vt != VT_I2)) return;
    _variant_t view;
    KX_CHECK(ctx, holder->GetViewAt(position, &view));
    IKXQViewPtr item;
    FieldUtils::CoerceToView(view, item);
    IKXQObjectPtr object;
    if (item) KX_CHECK(ctx, item->get_Object(&object));
    if (!object) return;
    KXDBDatasheetSvcs::GetPageNodeObjects(work.page, parent, object, true);
    node = parent;
  }
}

IKXQObjectPtr FieldObjectsMessageParser::TargetDatasheet(FieldPage& work) {
  KXComException ctx = KXComException::Silent(u"FieldObjectsMessageParser::UpdateDatasheetPages");
  LONG id = 0;
  for (const char16_t c : m_targetId.str()) {
    if (c < u'0' || c > u'9' || id > 100000000) {
      id = 0;
      break;
    }
    id = id * 10 + (c - u'0');
  }
  if (id <= 0 || id == ObjectIdOf(work.datasheet)) return work.datasheet;
  IKXQObjectPtr named;
  GetStoreObject(m_pMain->m_pDatabase, named, id);
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                          u"Object %d is a %ls, not datasheet %d of page %d", static_cast<int>(id),
                          ClassNameOf(named).c_str(), static_cast<int>(ObjectIdOf(work.datasheet)),
                          static_cast<int>(ObjectIdOf(work.page)));
}

void FieldObjectsMessageParser::UpdateDatasheetPages(IKXQObject* datasheet, Mode mode,
                                                     IKXQObject* primary) {
  KXComException ctx(u"FieldObjectsMessageParser::UpdateDatasheetPages");
  MainContext& main = *m_pMain;
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, datasheet, &tmpl, 1));
  if (!tmpl) return;
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  if (kx_wcsicmp(ToText(kind), u"Datasheet") != 0) return;
  IKXQAttributePtr pages;
  GetAttributeInterface(datasheet, u"CurrentPages", pages);
  const int32_t count = pages ? GetAttributeCount(pages) : 0;
  const Text primaryClass = ClassNameOf(primary);
  for (int32_t i = count; i >= 1; --i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, i, page);
    if (!page) continue;
    IKXQObjectPtr pagePrimary, further;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetPagePrimaryObject(main.m_pApplication, page, tmpl,
                                                          &pagePrimary, nullptr, 1));
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    if (!templatePage) continue;
    SAFEARRAY* array = nullptr;
    KX_CHECK(ctx, templatePage->get_RootNodes(&array));
    VariantUtil::SafeArrayVector roots(array, true);
    if (mode == kHide) {
      if (!SameObject(pagePrimary, primary)) continue;
      int32_t nodeIndex = -1;
      KXDBDatasheetSvcs::GetObjectNodeIndex(page, primary, &nodeIndex);
      for (int32_t r = 0; r < roots.Count(); ++r) {
        IKXQClassViewPtr node;
        KX_CHECK(ctx, roots.GetClassViewAt(r, &node));
        if (NodeIndexOf(node) != nodeIndex) continue;
        ClearHiddenObjects(page);
        KXDBDatasheetSvcs::GetPageNodeObjects(page, node, nullptr, true);
        break;
      }
    } else if (!pagePrimary) {
      // The first root node that has the object's own class attached.
      for (int32_t r = 0; r < roots.Count(); ++r) {
        IKXQClassViewPtr node;
        KX_CHECK(ctx, roots.GetClassViewAt(r, &node));
        if (!HasAttachedClassNamed(ctx, node, primaryClass)) continue;
        ClearHiddenObjects(page);
        KXDBDatasheetSvcs::GetPageNodeObjects(page, node, primary, true);
        break;
      }
    }
  }
  if (mode == kShow) KX_CHECK(ctx, main.Workers().CreateOverspillPages(main, datasheet, 3));
}

HRESULT FieldObjectsMessageParser::ShowFieldObjects() {
  constexpr auto kMethod = u"FieldObjectsMessageParser::ShowFieldObjects";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    CollateFieldData(work, kShow);
    if (!m_confirmed) {
      WriteReply();
      return S_OK;
    }
    // A copy keeps the objects it recorded.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    if (m_continuous) {
      // The rows go in together, as one by one in record order; the
      // field-object messages tell no client: no events.
      std::vector<KXDBDatasheetSvcs::ListRow> rows;
      for (const auto& record : m_records) rows.push_back({record.object, record.index});
      KX_CHECK(ctx, KXDBDatasheetSvcs::AddListObjects(main, work.page, work.templatePage, rows));
      return S_OK;
    }
    SAFEARRAY* sourceChain = nullptr;
    {
      OverspillUtils overspill(&main);
      KX_CHECK(ctx, overspill.GetOverspillSourceChain(work.page, &sourceChain));
    }
    IKXQObjectPtr primary;
    KXScopeGuard destroyChain([&] {
      if (sourceChain) SafeArrayDestroy(sourceChain);
      m_recordNodes.clear();
    });
    const bool follows = std::any_of(m_records.begin(), m_records.end(),
                                     [](const FieldObjectRecord& r) { return r.primary; });
    const IKXQObjectPtr datasheet = follows ? TargetDatasheet(work) : work.datasheet;
    for (const auto& record : m_records) {
      if (record.node) m_recordNodes.insert(NodeIndexOf(record.node));
    }
    for (const auto& record : m_records) {
      PlaceParentObjects(work, record.node, sourceChain);
      if (record.primary && !primary) {
        primary = record.object;
        ClearHiddenObjects(work.page);
      }
      if (record.index == -1) {
        KXDBDatasheetSvcs::GetPageNodeObjects(work.page, record.node, record.object, true);
      }
    }
    if (primary) UpdateDatasheetPages(datasheet, kShow, primary);
    return S_OK;
  });
}

HRESULT FieldObjectsMessageParser::HideFieldObjects() {
  constexpr auto kMethod = u"FieldObjectsMessageParser::HideFieldObjects";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    CollateFieldData(work, kHide);
    const bool asks = std::any_of(m_records.begin(), m_records.end(),
                                  [](const FieldObjectRecord& r) { return r.primary; });
    if (!m_confirmed && asks) {
      WriteQuestion();
      return S_OK;
    }
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    if (m_continuous) {
      // The rows go together, as one by one in record order, each telling
      // the clients of the rows it moved.
      std::vector<IKXQObject*> rows;
      for (const auto& record : m_records) {
        if (record.object) rows.push_back(record.object);
      }
      KX_CHECK(ctx, KXDBDatasheetSvcs::RemoveObjectsFromPage(main, work.page, rows));
      return S_OK;
    }
    const bool follows = std::any_of(m_records.begin(), m_records.end(),
                                     [](const auto& r) { return r.primary && r.object; });
    const IKXQObjectPtr datasheet = follows ? TargetDatasheet(work) : work.datasheet;
    IKXQObjectPtr primary;
    for (const auto& record : m_records) {
      if (!record.object) continue;
      if (!record.primary) {
        FieldUtils::UpdateHiddenObjects(work.page, record.node, false);
      } else if (!primary) {
        primary = record.object;
        ClearHiddenObjects(work.page);
      }
      if (record.index == -1)
        KXDBDatasheetSvcs::GetPageNodeObjects(work.page, record.node, nullptr, false);
    }
    if (primary) UpdateDatasheetPages(datasheet, kHide, primary);
    return S_OK;
  });
}

HRESULT FieldObjectsMessageParser::DeleteFieldObjects() {
  constexpr auto kMethod = u"FieldObjectsMessageParser::DeleteFieldObjects";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    FieldPage work(*m_pMain, m_pageId);
    CollateFieldData(work, kDelete);
    const bool asks = std::any_of(m_records.begin(), m_records.end(),
                                  [](const FieldObjectRecord& r) { return r.primary; });
    if (!m_confirmed && asks) {
      WriteQuestion();
      return S_OK;
    }
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    // Two fields of one row, or two nodes showing one object, stand for one
    // object: it is deleted once (deleting it again would fail the request).
    std::unordered_set<int32_t> deleted;
    std::vector<IKXQObject*> rows;
    for (const auto& record : m_records) {
      if (!record.object) continue;
      if (!m_continuous && !record.primary) {
        FieldUtils::UpdateHiddenObjects(work.page, record.node, false);
      }
      if (!deleted.insert(ObjectIdOf(record.object)).second) continue;
      if (m_continuous) {
        rows.push_back(record.object);
      } else {
        KX_CHECK(ctx, record.object->Delete());
      }
    }
    DeleteRowObjects(ctx, *m_pMain, work, rows);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ShowFieldObjects(MainContext& main, const OLECHAR* request) {
  return ServeMessage<FieldObjectsParserFor<FieldObjectsMessageParser::kShow>>(
      main, u"KXDBDatasheetSvcs::ShowFieldObjects", request);
}

HRESULT KXDBDatasheetSvcs::HideFieldObjects(MainContext& main, const OLECHAR* request) {
  return ServeMessage<FieldObjectsParserFor<FieldObjectsMessageParser::kHide>>(
      main, u"KXDBDatasheetSvcs::HideFieldObjects", request);
}

HRESULT KXDBDatasheetSvcs::DeleteFieldObjects(MainContext& main, const OLECHAR* request) {
  return ServeMessage<FieldObjectsParserFor<FieldObjectsMessageParser::kDelete>>(
      main, u"KXDBDatasheetSvcs::DeleteFieldObjects", request);
}

HRESULT KXDBDatasheetSvcs::AddFieldObjects(MainContext& /*main*/, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::AddFieldObjects", [](KXComException&) { return S_OK; });
}

HRESULT KXDBDatasheetSvcs::RemoveFieldObjects(MainContext& /*main*/, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::RemoveFieldObjects",
                      [](KXComException&) { return S_OK; });
}

// ---------------------------------------------------------------------------
// "ShowPrimaryObjects"

const GrammarRecord* ShowPrimaryObjectsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"ShowPrimaryObjects", 1,
                       {Grammar::Integer(u"PageId", PageId), Grammar::Child(Field)}),
      Grammar::Element(u"Field", Field,
                       {Grammar::Integer(u"FieldId", FieldId), Grammar::Integer(u"Index", Index)}));
  return kGrammar.data();
}

HRESULT ShowPrimaryObjectsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldAddress<ShowPrimaryObjectsSchema>(*this, id, value);
}

HRESULT ShowPrimaryObjectsMessageParser::WorkChild(uint32_t element) {
  if (element != Field || m_fieldId == -1) return E_INVALIDARG;
  m_fieldIds.push_back(m_fieldId);
  m_rows.push_back(m_index);
  m_fieldId = -1;
  m_index = -1;
  return S_OK;
}

HRESULT ShowPrimaryObjectsMessageParser::ShowPrimaryObjects() {
  constexpr auto kMethod = u"ShowPrimaryObjectsMessageParser::ShowPrimaryObjects";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    const bool continuous = work.IsContinuous();
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, work.templatePage->get_Template(&tmpl));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    SAFEARRAY* classArray = nullptr;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateClasses(tmpl, &classArray));
    VariantUtil::SafeArrayVector classes(classArray, true);
    std::unordered_set<LONG> handled;
    std::set<int32_t> answer;  // ascending, once each
    for (const int32_t fieldId : m_fieldIds) {
      _variant_t number;
      IKXQTemplateFieldPtr field;
      KX_CHECK(ctx, work.templatePage->GetFieldById(fieldId, &number, &field));
      if (!field) continue;
      IKXQClassViewPtr node;
      FieldUtils::GetTemplateFieldNode(work.page, field, true, node);
      if (!continuous) {
        IKXQObjectPtr placed;
        KXDBDatasheetSvcs::GetNodeObject(placed, work.page, node);
        if (placed) continue;
      }
      if (!handled.insert(NodeIndexOf(node)).second) continue;
      if (HasAttachedClassAmong(ctx, node, classes)) answer.insert(fieldId);
    }
    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    if (!answer.empty()) {
      IKXQClassViewPtr view;
      KX_CHECK(ctx, tmpl->get_ClassView(&view));
      _bstr_t viewName;
      if (view) KX_CHECK(ctx, view->get_Name(viewName.GetAddress()));
      XMLReply::EnsureAttributes(Reply());
      XMLReply::AddStringAttribute(Reply(), u"ClassView", viewName);
    }
    XMLReply::StartElement(Reply(), u"ShowPrimaryObjects");
    for (const int32_t fieldId : answer) {
      XMLReply::WriteElement(Reply(), u"FieldId", _bstr_t(kx_ltow(fieldId).c_str()));
    }
    XMLReply::EndElement(Reply(), u"ShowPrimaryObjects");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ShowPrimaryObjects(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ShowPrimaryObjectsMessageParser>(
      main, u"KXDBDatasheetSvcs::ShowPrimaryObjects", request);
}
