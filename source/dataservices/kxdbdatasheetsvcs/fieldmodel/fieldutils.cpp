// The field model's route walks: plain pages with placement and index
// shift; continuous lists from a row object; node chains, object vectors
// and qualifier routes. Walks kept for reuse are in keptwalks.cpp, values
// as text in fieldvalues.cpp, the field lookups in fieldlookups.cpp.
#include "fieldmodel/fieldutils.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/keptwalks.h"
#include "fieldmodel/routecache.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

// ---- Node names -------------------------------------------------------------

// "Nozzles(2)": the last "(" stands at position 1 or later, before the last ")".
bool IsIndexedName(std::u16string_view name) {
  const size_t open = name.rfind(u'(');
  const size_t close = name.rfind(u')');
  return open != std::u16string_view::npos && open >= 1 && close != std::u16string_view::npos &&
         open < close;
}

// The text before the last "(" (the whole name without one).
std::u16string_view ListPrefix(std::u16string_view name) {
  const size_t open = name.rfind(u'(');
  return open == std::u16string_view::npos ? name : name.substr(0, open);
}

// The text before the first "(", "[" or blank.
std::u16string ClassToken(std::u16string_view name) {
  const size_t stop = name.find_first_of(u"([ ");
  return std::u16string(stop == std::u16string_view::npos ? name : name.substr(0, stop));
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) { return kx_wcsicmp(a, b) == 0; }

// ---- Small store reads ------------------------------------------------------

// The node list of the field for its qualifier value, root first: a short
// chain held here, a longer one in the store's array.
class NodeList {
 public:
  NodeList(IKXQObject* page, IKXQTemplateField* field) {
    SAFEARRAY* raw = nullptr;
    m_inline = FieldUtils::GetFieldQualifierChain(page, field, &qualifier, m_chain, kInline, &raw);
    if (m_inline >= 0) return;
    m_nodes.emplace(raw, true);
    if (m_nodes->Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  }
  NodeList(const NodeList&) = delete;
  NodeList& operator=(const NodeList&) = delete;
  ~NodeList() {
    for (int32_t i = 0; i < m_inline; ++i)
      if (m_chain[i] != nullptr) m_chain[i]->Release();
  }
  int32_t Count() const { return m_inline >= 0 ? m_inline : m_nodes->Count(); }
  // As SafeArrayVector::GetClassViewAt.
  HRESULT GetClassViewAt(int32_t index, IKXQClassView** node) const {
    if (m_inline < 0) return m_nodes->GetClassViewAt(index, node);
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    if (index < 0 || index >= m_inline) return DISP_E_BADINDEX;
    if (m_chain[index] == nullptr) return E_POINTER;
    *node = m_chain[index];
    (*node)->AddRef();
    return S_OK;
  }

  int32_t qualifier = -1;

 private:
  static constexpr int32_t kInline = 8;
  IKXQClassView* m_chain[kInline] = {};
  int32_t m_inline = -1;
  std::optional<VariantUtil::SafeArrayVector> m_nodes;
};

// `Nodes`: a NodeList or the array of a FieldRoot.
template <class Nodes>
void NodeAt(KXComException& ctx, const Nodes& nodes, int32_t index, IKXQClassViewPtr& node,
            const OLECHAR* failure = nullptr) {
  node = nullptr;
  const HRESULT hr = nodes.GetClassViewAt(index, &node);
  if (SUCCEEDED(hr) && node) return;
  if (failure == nullptr) KX_CHECK(ctx, FAILED(hr) ? hr : E_POINTER);
  ClearThreadErrorInfo();
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL, u"%ls", failure);
}

std::u16string NodeName(KXComException& ctx, IKXQClassView* node) {
  _bstr_t name;
  KX_CHECK(ctx, node->get_Name(name.GetAddress()));
  return std::u16string(name.view());
}

IKXQViewDefinitionPtr NodeDefinition(KXComException& ctx, IKXQClassView* node) {
  IKXQViewDefinitionPtr definition;
  KX_CHECK(ctx, node->get_Definition(&definition));
  return definition;
}

IKXQObjectPtr ViewObject(KXComException& ctx, IKXQView* view) {
  IKXQObjectPtr object;
  KX_CHECK(ctx, view->get_Object(&object));
  return object;
}

IKXQObjectPtr OwnerOf(KXComException& ctx, IKXQObject* object) {
  IKXQObjectPtr owner;
  KX_CHECK(ctx, object->GetOwner(&owner, 0));
  return owner;
}

LONG NodeIndexOf(KXComException& ctx, IKXQClassView* node) {
  LONG index = -1;
  KX_CHECK(ctx, node->get_NodeIndex(&index));
  return index;
}

IKXQClassViewPtr ParentOf(KXComException& ctx, IKXQClassView* node) {
  IKXQClassViewPtr parent;
  KX_CHECK(ctx, node->get_Parent(&parent));
  return parent;
}

// The step value as a list position: strict for integers held by
// reference, else converted to an integer; 0 when the step gave none.
int32_t StepPosition(KXComException& ctx, const VARIANT& value) {
  if (!IsVariantSet(value)) return 0;
  LONG position = 0;
  if ((V_VT(&value) & VT_BYREF) != 0) {
    const HRESULT hr = VariantToLong(value, &position, false);
    if (FAILED(hr)) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, nullptr);
    return position;
  }
  _variant_t converted;
  KX_CHECK(ctx, VariantChangeType(&converted, &value, 0, VT_I4));
  return V_I4(&converted);
}

// The view of the holder's value at the step position: the read form, or in
// write mode the form that creates a missing object.
void StepView(KXComException& ctx, IKXQFieldValue* holder, const VARIANT& stepValue, bool write,
              IKXQViewPtr& view) {
  const int32_t position = StepPosition(ctx, stepValue);
  if (write) {
    view = nullptr;
    KX_CHECK(ctx, holder->GetViewForWrite(_variant_t(static_cast<LONG>(position)), &view));
  } else {
    FieldUtils::GetValueAsView(holder, position, view);
  }
}

// The value of "NodeIndices" at the node's index + 1 (0 when none).
int32_t NodeIndexEntry(IKXQAttribute* indices, LONG nodeIndex, bool* has) {
  *has = false;
  if (nodeIndex < 0 || GetAttributeCount(indices) < nodeIndex + 1) return 0;
  return KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, nodeIndex + 1, has);
}

// ---- The walk ---------------------------------------------------------------

// FieldUtils::GetRouteStep for a route already held as a BSTR.
HRESULT RouteStep(IKXQView* view, const _bstr_t& route, int32_t caseId, bool write, VARIANT* value,
                  IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetRouteStep");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  CheckPointerArgument(ctx, view);
  const _variant_t caseValue(static_cast<LONG>(caseId));
  _variant_t stepValue;
  IKXQFieldValuePtr holder;
  if (write) {
    KX_CHECK(ctx, view->WriteRoute(route, caseValue, &stepValue, &holder));
  } else if (FAILED(view->ReadRoute(route, caseValue, &stepValue, &holder))) {
    ClearThreadErrorInfo();  // a missing link is an answer in read mode
    return S_OK;
  }
  if (!holder) return S_OK;
  if (value != nullptr && SUCCEEDED(VariantClear(value))) {
    KX_CHECK(ctx, VariantCopy(value, &stepValue));
  }
  *result = holder.Detach();
  return S_OK;
}

// What a check asks the walk to do next.
enum class Next { kGoOn, kEnd, kRestart };

struct Walk {
  Walk(KXComException& context, IKXQObject* walkPage, IKXQTemplateField* walkField,
       int32_t walkCase, bool writeMode, SAFEARRAY* shiftTable, bool again)
      : page(walkPage),
        field(walkField),
        caseId(walkCase),
        write(writeMode),
        shift(shiftTable),
        restarted(again),
        ctx(context) {}

  IKXQObject* page;
  IKXQTemplateField* field;
  int32_t caseId;
  bool write;
  SAFEARRAY* shift;
  bool restarted;  // a walk restarts at most once after a duplicate
  KXComException& ctx;
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  IKXQObjectPtr root;
  RouteCache::PlacedSet placed;

  // The page's placed-object set, from the cache or built and cached.
  void LoadPlacedSet() {
    RouteCache& cache = RouteCache::Instance();
    cache.Lookup(page, placed);
    if (placed.GetCount() > 0) return;
    const int32_t count = GetAttributeCount(objects);
    for (int32_t p = 1; p <= count; ++p) {
      IKXQObjectPtr object;
      GetAttributeAsObject(objects, p, object);
      if (!object) continue;
      int32_t at = 0;
      if (!placed.Find(object.GetInterfacePtr(), &at)) {
        placed.InsertAt(at);
        placed.SetAt(at, object.GetInterfacePtr());
      }
    }
    cache.Insert(page, placed);
  }

  void Place(IKXQClassView* node, IKXQObject* object) {
    KXDBDatasheetSvcs::GetPageNodeObjects(page, node, object, true);
    // The page's objects changed: the next walk builds its set again.
    RouteCache::Instance().Erase(page);
  }

  // An object already placed at an indexed node that the route no longer
  // leads to is taken off the page.
  Next StaleCheck(IKXQView* view, IKXQClassView* node, const std::u16string& name,
                  IKXQObject* placedObject) {
    const IKXQClassViewPtr parent = ParentOf(ctx, node);
    if (!parent || OwnerOf(ctx, placedObject)) return Next::kGoOn;
    const _bstr_t step = FieldUtils::ShiftRouteIndices(shift, name.c_str());
    _variant_t stepValue;
    IKXQFieldValuePtr holder;
    RouteStep(view, step, caseId, write, &stepValue, &holder);
    if (holder) {
      LONG count = 0;
      KX_CHECK(ctx, holder->get_Count(&count));
      for (LONG k = 1; k <= count; ++k) {
        IKXQViewPtr member;
        FieldUtils::GetValueAsView(holder, k, member);
        if (member && ViewObject(ctx, member).GetInterfacePtr() == placedObject) return Next::kGoOn;
      }
    }
    bool hasParent = false;
    const int32_t parentAt = NodeIndexEntry(indices, NodeIndexOf(ctx, parent), &hasParent);
    IKXQObjectPtr parentObject;
    if (hasParent && parentAt >= 1 && parentAt <= GetAttributeCount(objects)) {
      GetAttributeAsObject(objects, parentAt, parentObject);
    }
    if (!parentObject) return Next::kGoOn;
    const LONG nodeIndex = NodeIndexOf(ctx, node);
    const int32_t count = GetAttributeCount(objects);
    bool hasOwn = false;
    int32_t position = NodeIndexEntry(indices, nodeIndex, &hasOwn);
    if (!hasOwn || position < 1 || position > count) {
      position = 0;
      for (int32_t p = 1; p <= count && position == 0; ++p) {
        IKXQObjectPtr value;
        GetAttributeAsObject(objects, p, value);
        if (value.GetInterfacePtr() == placedObject) position = p;
      }
    }
    if (position > 0) KXDBDatasheetSvcs::SetAttributeObjectAt(objects, position, nullptr);
    if (nodeIndex >= 0 && GetAttributeCount(indices) >= nodeIndex + 1) {
      KXDBDatasheetSvcs::ClearAttributeValueAt(indices, nodeIndex + 1);
    }
    RouteCache::Instance().Erase(page);
    return Next::kEnd;
  }

  // A list member found by route that a sibling node of the same list
  // already shows: read mode ends; write mode appends a fresh member.
  Next DuplicateCheck(IKXQClassView* node, const std::u16string& name, IKXQObject* candidate) {
    const IKXQClassViewPtr parent = ParentOf(ctx, node);
    if (!parent) return Next::kGoOn;
    const IKXQObjectPtr owner = OwnerOf(ctx, candidate);
    if (!owner) return Next::kGoOn;
    IKXQAttributePtr containing;
    KX_CHECK(ctx, candidate->get_ContainingAttribute(&containing));
    _bstr_t containingName;
    if (containing) KX_CHECK(ctx, containing->get_Name(containingName.GetAddress()));

    // Node indices at which the page shows the candidate.
    std::vector<int32_t> shownAt;
    const int32_t objectCount = GetAttributeCount(objects);
    const int32_t indexCount = GetAttributeCount(indices);
    for (int32_t p = 1; p <= objectCount; ++p) {
      IKXQObjectPtr value;
      GetAttributeAsObject(objects, p, value);
      if (value.GetInterfacePtr() != candidate) continue;
      for (int32_t j = 1; j <= indexCount; ++j) {
        bool has = false;
        if (KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, j, &has) == p && has) {
          if (j - 1 > 0) shownAt.push_back(j - 1);
          break;
        }
      }
    }
    if (shownAt.empty()) return Next::kGoOn;

    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, parent->get_Children(&raw));
    VariantUtil::SafeArrayVector children(raw, true);
    if (children.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
    const std::u16string_view prefix = ListPrefix(name);
    bool duplicate = false;
    for (int32_t i = 0; i < children.Count() && !duplicate; ++i) {
      IKXQClassViewPtr child;
      if (FAILED(children.GetClassViewAt(i, &child)) || !child) {
        ClearThreadErrorInfo();
        continue;
      }
      const LONG childIndex = NodeIndexOf(ctx, child);
      if (std::find(shownAt.begin(), shownAt.end(), childIndex) == shownAt.end()) continue;
      duplicate = SameNoCase(ListPrefix(NodeName(ctx, child)), prefix);
    }
    if (!duplicate) return Next::kGoOn;
    if (!write || restarted || containingName.length() == 0) return Next::kEnd;

    IKXQClassPtr cls;
    KX_CHECK(ctx, candidate->get_Class(&cls));
    if (!cls) return Next::kEnd;
    IKXQObjectPtr fresh;
    KX_CHECK(ctx, cls->CreateInstance(&fresh));
    if (!fresh) return Next::kEnd;
    IKXQAttributePtr list;
    GetAttributeInterface(owner, containingName, list);
    if (!list) return Next::kEnd;
    KX_CHECK(ctx, list->AddValue(_variant_t(static_cast<IDispatch*>(fresh.GetInterfacePtr())),
                                 VARIANT_TRUE, _variant_t()));
    Place(node, fresh);
    return Next::kRestart;
  }

  HRESULT Run(VARIANT* value, IKXQFieldValue** result) {
    const NodeList list(page, field);
    if (list.Count() == 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Invalid template field definition");
    }
    IKXQClassViewPtr rootNode;
    NodeAt(ctx, list, 0, rootNode, u"Invalid template field definition");
    return RunFrom(list, list.qualifier, rootNode, nullptr, value, result);
  }

  // The walk from the field's node list and root node; `start` (write mode
  // only, may be null) holds the object at the root node.
  template <class Nodes>
  HRESULT RunFrom(const Nodes& nodes, int32_t qualifier, IKXQClassView* rootNode,
                  const FieldUtils::FieldRoot* start, VARIANT* value, IKXQFieldValue** result) {
    IKXQViewPtr view;
    // The fields of a page share their root nodes: a read walk within a
    // page load takes the root's object and view found by an earlier one.
    KeptWalkUse keptRoot(page, write ? nullptr : rootNode, nullptr);
    if (const RouteCache::KeptWalk* kept = keptRoot.Find()) {
      root = kept->object;
      view = kept->view;
    } else {
      if (start != nullptr) {
        root = start->object;
      } else {
        KXDBDatasheetSvcs::GetNodeObject(root, page, rootNode);
      }
      if (root) FieldUtils::GetObjectView(root, NodeDefinition(ctx, rootNode), view);
      RouteCache::KeptWalk found;
      found.object = root;
      found.view = view;
      keptRoot.Keep(std::move(found));
    }
    if (!root) return S_OK;

    KXDBDatasheetSvcs::GetPageList(page, u"NodeObjects", objects);
    KXDBDatasheetSvcs::GetPageList(page, u"NodeIndices", indices);
    CheckPointerArgument(ctx, objects.GetInterfacePtr());
    CheckPointerArgument(ctx, indices.GetInterfacePtr());
    // Only a write asks which objects the page shows, and whether the page
    // is a page.
    if (write) LoadPlacedSet();
    const bool isPage = write && KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page");

    for (int32_t i = 1; i < nodes.Count(); ++i) {
      if (!view) return S_OK;
      IKXQClassViewPtr node;
      NodeAt(ctx, nodes, i, node);
      const std::u16string name = NodeName(ctx, node);
      const bool indexed = IsIndexedName(name);
      IKXQObjectPtr present;
      KXDBDatasheetSvcs::GetNodeObject(present, page, node);

      if (present) {
        if (indexed && present != root && StaleCheck(view, node, name, present) == Next::kEnd) {
          return S_OK;
        }
        IKXQViewDefinitionPtr definition;
        KX_CHECK(ctx, view->get_Definition(&definition));
        IKXQViewDefinitionPtr member;
        if (definition) {
          KX_CHECK(ctx, definition->get_Member(_bstr_t(ClassToken(name).c_str()), &member));
        }
        view = nullptr;
        if (member) FieldUtils::GetObjectView(present, member, view);
        continue;
      }

      if (!write && KXDBDatasheetSvcs::IsNodeObjectHidden(page, node, false)) return S_OK;
      const _bstr_t step = FieldUtils::ShiftRouteIndices(shift, name.c_str());
      _variant_t stepValue;
      IKXQFieldValuePtr holder;
      RouteStep(view, step, caseId, write, &stepValue, &holder);
      view = nullptr;
      if (!holder) continue;
      StepView(ctx, holder, stepValue, write, view);
      if (!view) continue;
      IKXQObjectPtr candidate = ViewObject(ctx, view);
      if (!candidate) continue;
      if (indexed && candidate != root) {
        const Next next = DuplicateCheck(node, name, candidate);
        if (next == Next::kEnd) return S_OK;
        if (next == Next::kRestart) {
          Walk again(ctx, page, field, caseId, write, shift, true);
          return again.Run(value, result);
        }
      }
      int32_t at = 0;
      if (write && isPage && FieldUtils::IsContained(holder) &&
          FieldUtils::GetDataType(holder) == KXQ_TYPE_OBJECT &&
          placed.Find(candidate.GetInterfacePtr(), &at)) {
        FieldUtils::GetFirstFreeListEntry(holder, view, candidate);
      }
      if (candidate) Place(node, candidate);
    }
    if (!view) return S_OK;
    _bstr_t route;
    KX_CHECK(ctx, field->GetRoute(qualifier, route.GetAddress()));
    return RouteStep(view, route, caseId, write, value, result);
  }
};

}  // namespace

namespace FieldUtils {

HRESULT GetRouteStep(IKXQView* view, const OLECHAR* route, int32_t caseId, bool write,
                     VARIANT* value, IKXQFieldValue** result) {
  return RouteStep(view, _bstr_t(route), caseId, write, value, result);
}

_bstr_t ShiftRouteIndices(SAFEARRAY* shift, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ShiftRouteIndices");
  const _bstr_t unchanged(text);
  if (shift == nullptr || text == nullptr) return unchanged;
  VariantUtil::SafeArrayMatrix table;
  if (FAILED(table.Attach(shift, false))) {
    ClearThreadErrorInfo();
    return unchanged;
  }
  const std::u16string source(text);
  for (int32_t row = 0; row < table.Count2(); ++row) {
    _variant_t name;
    _variant_t offset;
    LONG nameAt[2] = {table.LowerBound1(), table.LowerBound2() + row};
    LONG offsetAt[2] = {table.LowerBound1() + 1, table.LowerBound2() + row};
    if (table.Count1() < 1 || FAILED(SafeArrayGetElement(shift, nameAt, &name))) continue;
    if (table.Count1() >= 2) (void)SafeArrayGetElement(shift, offsetAt, &offset);
    const VARIANT& rowName = ResolveVariant(name);
    const OLECHAR* key = nullptr;
    if (V_VT(&rowName) == VT_BSTR) key = V_BSTR(&rowName);
    if (V_VT(&rowName) == (VT_BSTR | VT_BYREF) && rowName.pbstrVal != nullptr) {
      key = *rowName.pbstrVal;
    }
    LONG delta = 0;
    if (FAILED(VariantToLong(offset, &delta, false))) delta = 0;
    if (key != nullptr && *key != 0) {
      const size_t keyLength = kx_wcslen(key);
      bool found = false;
      for (size_t at = 0; at + keyLength <= source.size() && !found; ++at) {
        found = _wcsnicmp(source.c_str() + at, key, keyLength) == 0;
      }
      if (!found) continue;
    }
    std::u16string shifted;
    for (size_t at = 0; at < source.size(); ++at) {
      shifted.push_back(source[at]);
      if (source[at] != u'(') continue;
      const LONG number = _wtol(source.c_str() + at + 1);
      while (at + 1 < source.size() && source[at + 1] >= u'0' && source[at + 1] <= u'9') ++at;
      // Positions past the integer range saturate, as the reading above does.
      const int64_t moved = std::clamp<int64_t>(int64_t{number} + delta, INT32_MIN, INT32_MAX);
      shifted += kx_ltow(static_cast<LONG>(moved));
    }
    ClearThreadErrorInfo();
    return _bstr_t(shifted.c_str());
  }
  ClearThreadErrorInfo();
  return unchanged;
}

// What both entries of a route walk do first: the cache's sweeper started,
// the arguments checked and the walk counted.
static void StartRoute(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field,
                       IKXQFieldValue** result) {
  RouteCache::Instance().StartSweeper();
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  CheckPointerArgument(ctx, page);
  CheckPointerArgument(ctx, field);
  RouteCache::Instance().NoteWalk();
}

HRESULT ResolveFieldRoute(IKXQObject* page, IKXQTemplateField* field, int32_t caseId, bool write,
                          SAFEARRAY* shift, VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveFieldRoute");
  StartRoute(ctx, page, field, result);
  Walk walk(ctx, page, field, caseId, write, shift, false);
  return walk.Run(value, result);
}

HRESULT ResolveFieldRoute(IKXQObject* page, IKXQTemplateField* field, int32_t caseId,
                          const FieldRoot& root, SAFEARRAY* shift, VARIANT* value,
                          IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveFieldRoute");
  StartRoute(ctx, page, field, result);
  Walk walk(ctx, page, field, caseId, true, shift, false);
  return walk.RunFrom(root.nodes, root.qualifier, root.node, &root, value, result);
}

HRESULT ParseContinuousListRoute(MainContext& main, IKXQObject* page, IKXQObject* rowObject,
                                 IKXQTemplateField* field, int32_t caseId, bool write,
                                 VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ParseContinuousListRoute");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  IKXQApplication* application = main.m_pApplication;
  auto fail = [&](const OLECHAR* warning) {
    if (application != nullptr) (void)application->LogWarning(_bstr_t(warning));
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Invalid template field definition");
  };
  const NodeList list(page, field);
  if (list.Count() == 0)
    fail(u"Parse Continuous List Route Error: Unable to retrieve nodes for field");
  IKXQClassViewPtr rootNode;
  if (FAILED(list.GetClassViewAt(0, &rootNode)) || !rootNode) {
    ClearThreadErrorInfo();
    fail(u"Parse Continuous List Route Error: Unable to retrieve root node");
  }
  const IKXQViewDefinitionPtr definition = NodeDefinition(ctx, rootNode);
  if (!definition) fail(u"Parse Continuous List Route Error: No class view for template root node");
  CheckPointerArgument(ctx, rowObject);
  IKXQViewPtr view;
  GetObjectView(rowObject, definition, view);
  IKXQObjectPtr current(rowObject);
  for (int32_t i = 1; i < list.Count(); ++i) {
    if (!view) return S_OK;
    IKXQClassViewPtr node;
    NodeAt(ctx, list, i, node);
    const std::u16string name = NodeName(ctx, node);
    if (!current) continue;
    _variant_t stepValue;
    IKXQFieldValuePtr holder;
    GetRouteStep(view, name.c_str(), caseId, write, &stepValue, &holder);
    view = nullptr;
    if (!holder) continue;
    StepView(ctx, holder, stepValue, write, view);
    if (view) current = ViewObject(ctx, view);
  }
  if (!view) return S_OK;
  _bstr_t route;
  KX_CHECK(ctx, field->GetRoute(list.qualifier, route.GetAddress()));
  return RouteStep(view, route, caseId, write, value, result);
}

void GetNodeChain(IKXQObject* page, IKXQClassView* start, ComPtrArray<IKXQClassView>& chain,
                  IKXQViewPtr& rootView) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetNodeChain");
  rootView = nullptr;
  CheckPointerArgument(ctx, start);
  IKXQClassViewPtr node(start);
  const int32_t first = chain.GetCount();
  while (node) {
    // A node that names itself or an ancestor as its parent ends the climb.
    for (int32_t k = first; k < chain.GetCount(); ++k) {
      if (chain.GetAt(k) == node.GetInterfacePtr()) node = nullptr;
    }
    if (!node) break;
    chain.Add(node);
    node = ParentOf(ctx, node);
  }
  IKXQClassView* root = chain.GetAt(chain.GetCount() - 1);
  IKXQObjectPtr object;
  KXDBDatasheetSvcs::GetNodeObject(object, page, root);
  if (!object) return;
  GetObjectView(object, NodeDefinition(ctx, root), rootView);
}

bool GetObjectVector(IKXQObject* page, IKXQClassView* node, ComPtrArray<IKXQObject>& objects,
                     IKXQFieldValuePtr& holder) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetObjectVector");
  holder = nullptr;
  ComPtrArray<IKXQClassView> chain;
  IKXQViewPtr rootView;
  GetNodeChain(page, node, chain, rootView);
  if (chain.GetCount() < 2 || !rootView) return false;
  std::u16string path;
  for (int32_t k = chain.GetCount() - 2; k >= 0; --k) {
    path += NodeName(ctx, chain.GetAt(k));
    if (k > 0) path += u".";
  }
  _variant_t stepValue;
  GetRouteStep(rootView, path.c_str(), -1, false, &stepValue, &holder);
  if (!holder) return false;
  const bool contained = IsContained(holder);
  if (contained && GetDataType(holder) == KXQ_TYPE_OBJECT) {
    IKXQValueItemPtr item;
    KX_CHECK(ctx, holder->GetItem(stepValue, &item));
    if (item) {
      IKXQObjectPtr owner;
      _bstr_t name;
      KX_CHECK(ctx, item->get_Object(&owner));
      KX_CHECK(ctx, item->get_Name(name.GetAddress()));
      IKXQAttributePtr list;
      if (owner) GetAttributeInterface(owner, name, list);
      const int32_t count = list ? GetAttributeCount(list) : 0;
      for (int32_t p = 1; p <= count; ++p) {
        IKXQObjectPtr member;
        GetAttributeAsObject(list, p, member);
        objects.Add(member);
      }
    }
  }
  return contained;
}

void ResolveQualifierRoute(IKXQObjectPtr& selected, IKXQObject* page, IKXQTemplateField* field,
                           SAFEARRAY* shift) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveQualifierRoute");
  selected = nullptr;
  const NodeList list(page, field);
  if (list.Count() == 0) return;
  IKXQViewPtr view;
  std::u16string path;
  for (int32_t i = 0; i < list.Count(); ++i) {
    IKXQClassViewPtr node;
    NodeAt(ctx, list, i, node);
    if (i == 0) {
      KXDBDatasheetSvcs::GetNodeObject(selected, page, node);
      if (selected) GetObjectView(selected, NodeDefinition(ctx, node), view);
      continue;
    }
    path += ShiftRouteIndices(shift, NodeName(ctx, node).c_str()).view();
    path += u".";
  }
  if (!view || path.empty()) return;
  _bstr_t route;
  KX_CHECK(ctx, field->GetRoute(list.qualifier, route.GetAddress()));
  path += route.view();
  selected = nullptr;
  _variant_t stepValue;
  IKXQFieldValuePtr holder;
  if (FAILED(view->ReadRoute(_bstr_t(path.c_str()), _variant_t(), &stepValue, &holder)) ||
      !holder) {
    ClearThreadErrorInfo();
    return;
  }
  IKXQValueItemPtr item;
  if (SUCCEEDED(holder->GetItem(stepValue, &item)) && item) {
    KX_CHECK(ctx, item->get_Object(&selected));
  }
  ClearThreadErrorInfo();
}

}  // namespace FieldUtils

HRESULT ResolveContinuousListField(MainContext& main, IKXQObject* page, IKXQTemplateField* field,
                                   int32_t row, VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"ResolveContinuousListField");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  bool defined = false;
  const int32_t caseId = FieldUtils::GetFieldCase(page, field, nullptr, &defined);
  if (!defined) return S_FALSE;
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  CheckPointerArgument(ctx, objects.GetInterfacePtr());
  int32_t position = 0;
  if (row >= 0) {
    position = helper.ListRowPosition(row);
  } else {
    LONG id = -1;
    KX_CHECK(ctx, field->get_Id(&id));
    int32_t nodeIndex = -1;
    const std::vector<int32_t>& ids = helper.FieldNodeIds();
    for (size_t i = 0; id >= 0 && i < ids.size() && nodeIndex < 0; ++i) {
      if (ids[i] == id && i < helper.FieldRootNodes().size())
        nodeIndex = helper.FieldRootNodes()[i];
    }
    IKXQAttributePtr indices;
    GetAttributeInterface(page, u"NodeIndices", indices);
    bool has = false;
    // A field the analysis does not know has no node: the same failure as
    // a node without entry (never position 0 of a 1-based list).
    if (nodeIndex >= 0 && indices) position = NodeIndexEntry(indices, nodeIndex, &has);
    if (!has || position <= 0) {
      constexpr OLECHAR kWarning[] = u"ResolveContinuousListField, failed to find node index";
      if (main.m_pApplication != nullptr) (void)main.m_pApplication->LogWarning(_bstr_t(kWarning));
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"%ls", kWarning);
    }
  }
  if (position < 1 || position > GetAttributeCount(objects)) return S_FALSE;
  IKXQObjectPtr rowObject;
  GetAttributeAsObject(objects, position, rowObject);
  if (!rowObject) return S_FALSE;
  RouteCache::Instance().NoteWalk();
  FieldUtils::ParseContinuousListRoute(main, page, rowObject, field, caseId, false, value, result);
  return S_OK;
}

void ListFieldWalk::Keep(IKXQObject* page, int32_t at, int32_t atRow, HRESULT answer,
                         const VARIANT& found, IKXQFieldValue* foundHolder) {
  made = false;
  if (!log && (page == nullptr || FAILED(page->QueryInterface(kx_uuidof<IKXQReadLog>(),
                                                              reinterpret_cast<void**>(&log))))) {
    ClearThreadErrorInfo();
    log = nullptr;
    return;
  }
  if (FAILED(log->get_ChangeCount(&changes)) || FAILED(VariantCopy(&value, &found))) {
    ClearThreadErrorInfo();
    return;
  }
  position = at;
  row = atRow;
  result = answer;
  holder = foundHolder;
  made = true;
}

bool ListFieldWalk::Take(int32_t at, int32_t atRow, HRESULT* answer, VARIANT* found,
                         IKXQFieldValue** foundHolder) const {
  LONG now = 0;
  if (!made || !log || at != position || atRow != row || FAILED(log->get_ChangeCount(&now)) ||
      now != changes || FAILED(VariantCopy(found, &value))) {
    ClearThreadErrorInfo();
    return false;
  }
  *foundHolder = holder;
  if (holder) holder->AddRef();
  *answer = result;
  return true;
}
