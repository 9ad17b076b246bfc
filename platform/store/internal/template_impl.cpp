// The template library's interfaces.
#include <algorithm>

#include "store/internal/com_util.h"

namespace kx::store {

namespace {

IKXQTemplatePage* PageCom(StoreCore& core, TemplateRec* t, int page);
IKXQClassView* NodeCom(StoreCore& core, TemplateRec* t, int page, int node);
IKXQTemplateField* FieldCom(StoreCore& core, TemplateRec* t, int page, int field);

// Sets attribute name of obj when its class defines it.
HRESULT SetIf(StoreCore& core, ObjectRec* obj, const char16_t* name, size_t pos, Value v) {
  AttrDef* d = obj->cls->FindAttr(name);
  if (!d) return S_OK;
  if (!d->list && pos > 1) return S_OK;
  return core.SetValue(obj, d, pos, std::move(v));
}

Value TextValue(const u16& s) {
  Value v;
  v.kind = KXQ_TYPE_TEXT;
  v.text = s;
  return v;
}

Value IntValue(int64_t n) {
  Value v;
  v.kind = KXQ_TYPE_INTEGER;
  v.i = n;
  return v;
}

Value ObjValue(int32_t id) {
  Value v;
  v.kind = KXQ_TYPE_OBJECT;
  v.i = id;
  return v;
}

HRESULT MakePage(StoreCore& core, TemplateRec* t, const TPage& page, ObjectRec* datasheet,
                 ObjectRec* object, LONG caseId, LONG number, ObjectRec** out) {
  ClassRec* cls = core.FindClass(u"Page");
  if (!cls) return SetError(KXQ_E_NOTFOUND, std::string("The schema has no class \"Page\""));
  ObjectRec* p = nullptr;
  KX_RETURN_IF_FAILED(core.CreateObject(cls, 0, &p));
  if (datasheet) KX_RETURN_IF_FAILED(core.SetOwner(p, datasheet->id));
  KX_RETURN_IF_FAILED(SetIf(core, p, u"TemplateId", 1, TextValue(t->id)));
  KX_RETURN_IF_FAILED(SetIf(core, p, u"PageId", 1, TextValue(page.id)));
  KX_RETURN_IF_FAILED(SetIf(core, p, u"Checknum", 1, TextValue(t->checknum)));
  KX_RETURN_IF_FAILED(SetIf(core, p, u"PageNumber", 1, IntValue(number)));
  KX_RETURN_IF_FAILED(SetIf(core, p, u"Cases", 1, IntValue(caseId)));
  if (object && !page.roots.empty()) {
    const TNode& root = page.nodes[static_cast<size_t>(page.roots.front())];
    KX_RETURN_IF_FAILED(SetIf(core, p, u"NodeObjects", 1, ObjValue(object->id)));
    KX_RETURN_IF_FAILED(
        SetIf(core, p, u"NodeIndices", static_cast<size_t>(root.index) + 1, IntValue(1)));
  }
  // A sheet made for no object (a summary sheet) still shows the plant's
  // globals on its globals nodes: the fixed fields above a list read them.
  ClassRec* globals = object ? nullptr : core.FindClass(u"GlobalsClass");
  const std::vector<ObjectRec*> globalsObjects =
      globals ? core.Instances(globals, false) : std::vector<ObjectRec*>();
  if (!globalsObjects.empty()) {
    size_t placed = 0;
    for (int r : page.roots) {
      const TNode& node = page.nodes[static_cast<size_t>(r)];
      if (node.classes.empty() || node.classes.front() != u"GlobalsClass") continue;
      if (placed == 0)
        KX_RETURN_IF_FAILED(
            SetIf(core, p, u"NodeObjects", ++placed, ObjValue(globalsObjects.front()->id)));
      KX_RETURN_IF_FAILED(
          SetIf(core, p, u"NodeIndices", static_cast<size_t>(node.index) + 1, IntValue(1)));
    }
  }
  auto size = [&](const char16_t* name, size_t n) -> HRESULT {
    AttrDef* d = p->cls->FindAttr(name);
    return d && d->list ? core.Resize(p, d, n) : S_OK;
  };
  KX_RETURN_IF_FAILED(size(u"Fields", page.fields.size()));
  KX_RETURN_IF_FAILED(size(u"Revisions", static_cast<size_t>(std::max<LONG>(page.revisions, 0))));
  KX_RETURN_IF_FAILED(size(u"Units", page.units.size()));
  for (size_t k = 0; k < page.units.size(); ++k)
    if (!page.units[k].defaultUnit.empty())
      KX_RETURN_IF_FAILED(SetIf(core, p, u"Units", k + 1, TextValue(page.units[k].defaultUnit)));
  *out = p;
  return S_OK;
}

HRESULT MakeDocument(StoreCore& core, TemplateRec* t, ObjectRec* object, LONG caseId, bool summary,
                     ObjectRec** out) {
  ClassRec* cls = core.FindClass(u"Datasheet");
  if (!cls) return SetError(KXQ_E_NOTFOUND, std::string("The schema has no class \"Datasheet\""));
  ObjectRec* ds = nullptr;
  KX_RETURN_IF_FAILED(core.CreateObject(cls, 0, &ds));
  KX_RETURN_IF_FAILED(SetIf(core, ds, u"TemplateId", 1, TextValue(t->id)));
  KX_RETURN_IF_FAILED(SetIf(core, ds, u"Checknum", 1, TextValue(t->checknum)));
  KX_RETURN_IF_FAILED(SetIf(core, ds, u"DocumentName", 1, TextValue(t->name)));
  KX_RETURN_IF_FAILED(SetIf(core, ds, u"DefaultCase", 1, IntValue(caseId)));
  KX_RETURN_IF_FAILED(
      SetIf(core, ds, u"NumberOfPages", 1, IntValue(static_cast<int64_t>(t->pages.size()))));
  if (summary) KX_RETURN_IF_FAILED(SetIf(core, ds, u"HasSummary", 1, IntValue(1)));
  AttrDef* current = ds->cls->FindAttr(u"CurrentPages");
  for (size_t k = 0; k < t->pages.size(); ++k) {
    ObjectRec* page = nullptr;
    KX_RETURN_IF_FAILED(
        MakePage(core, t, t->pages[k], ds, object, caseId, static_cast<LONG>(k + 1), &page));
    if (current) KX_RETURN_IF_FAILED(core.SetValue(ds, current, k + 1, ObjValue(page->id)));
  }
  *out = ds;
  return S_OK;
}

std::vector<ClassRec*> Classes(StoreCore& core, const std::vector<u16>& names) {
  std::vector<ClassRec*> out;
  for (const u16& n : names)
    if (ClassRec* c = core.FindClass(n)) out.push_back(c);
  return out;
}

HRESULT ClassArray(StoreCore& core, const std::vector<u16>& names, SAFEARRAY** out) {
  if (!out) return E_POINTER;
  std::vector<IDispatch*> items;
  for (ClassRec* c : Classes(core, names)) items.push_back(ClassCom(core, c));
  *out = DispatchVector(items, 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------

class NodeImpl final : public StoreObject<NodeImpl, IKXQClassView, IKXQViewDefinition> {
 public:
  NodeImpl(StoreCore& core, TemplateRec* t, int page, int node)
      : core_(&core), t_(t), page_(page), node_(node) {}

  HRESULT get_Name(BSTR* name) override { return OutBstr(N().name, name); }
  HRESULT get_NodeIndex(LONG* index) override { return OutLong(N().index, index); }
  HRESULT get_NodeId(LONG* id) override { return OutLong(N().id, id); }
  HRESULT get_Parent(IKXQClassView** parent) override {
    KX_RETURN_IF_FAILED(OutPtr(parent));
    if (N().parent < 0 || N().parent == node_) return S_FALSE;
    *parent = NodeCom(*core_, t_, page_, N().parent);
    return S_OK;
  }
  HRESULT get_Children(SAFEARRAY** children) override {
    if (!children) return E_POINTER;
    std::vector<IDispatch*> items;
    for (int c : N().children) items.push_back(NodeCom(*core_, t_, page_, c));
    *children = DispatchVector(items, 0);
    return *children ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_Definition(IKXQViewDefinition** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    *def = this;
    AddRef();
    return S_OK;
  }
  HRESULT GetAttachedClasses(LONG, SAFEARRAY** classes) override {
    return ClassArray(*core_, N().classes, classes);
  }
  HRESULT AcceptsClass(VARIANT cls, BSTR, VARIANT_BOOL* accepts) override {
    if (!accepts) return E_POINTER;
    *accepts = VARIANT_FALSE;
    ClassRec* c = ClassFromVariant(*core_, cls);
    if (!c) return S_OK;
    for (ClassRec* a : Classes(*core_, N().classes))
      if (c->IsKindOf(a)) *accepts = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT get_Fields(SAFEARRAY** fields) override {
    if (!fields) return E_POINTER;
    std::vector<IDispatch*> items;
    for (int f : N().fields) items.push_back(FieldCom(*core_, t_, page_, f));
    *fields = DispatchVector(items, 0);
    return *fields ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_Repeats(VARIANT_BOOL* repeats) override {
    if (!repeats) return E_POINTER;
    *repeats = Bool(N().repeats);
    return S_OK;
  }
  HRESULT KnowsAttribute(BSTR name, VARIANT_BOOL* knows) override {
    if (!knows) return E_POINTER;
    *knows = VARIANT_FALSE;
    for (ClassRec* c : Classes(*core_, N().classes))
      if (c->FindAttr(FromBstr(name))) *knows = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT get_Member(BSTR name, IKXQViewDefinition** member) override {
    KX_RETURN_IF_FAILED(OutPtr(member));
    // A node named with a list position ("Nozzles(2)") is also found by its
    // name without it.
    const u16 wanted = FromBstr(name);
    int found = -1;
    for (int c : N().children) {
      const u16& own = P().nodes[static_cast<size_t>(c)].name;
      if (EqualsNoCase(own, wanted)) {
        found = c;
        break;
      }
      if (found < 0 && EqualsNoCase(own.substr(0, own.find_first_of(u"([ ")), wanted)) found = c;
    }
    for (int c : N().children)
      if (c == found) {
        IKXQClassView* v = NodeCom(*core_, t_, page_, c);
        HRESULT hr = v->QueryInterface(IID_IKXQViewDefinition, reinterpret_cast<void**>(member));
        v->Release();
        return hr;
      }
    return S_FALSE;
  }

 private:
  const TPage& P() const { return t_->pages[static_cast<size_t>(page_)]; }
  const TNode& N() const { return P().nodes[static_cast<size_t>(node_)]; }
  CoreRef core_;
  TemplateRec* t_;
  int page_, node_;
};

class FieldImpl final : public StoreObject<FieldImpl, IKXQTemplateField, IKXQTemplateNode> {
 public:
  FieldImpl(StoreCore& core, TemplateRec* t, int page, int field)
      : core_(&core), t_(t), page_(page), field_(field) {}

  HRESULT get_Id(LONG* id) override { return OutLong(F().id, id); }
  HRESULT get_TypeName(BSTR* name) override { return OutBstr(F().type, name); }
  HRESULT get_Alignment(LONG* a) override { return OutLong(F().align, a); }
  HRESULT get_VerticalAlignment(LONG* a) override { return OutLong(F().valign, a); }
  HRESULT get_UnitPosition(LONG* position) override {
    KX_RETURN_IF_FAILED(OutLong(F().unitPos, position));
    return F().unitPos >= 0 ? S_OK : S_FALSE;
  }
  HRESULT get_InitialState(LONG* s) override { return OutLong(F().initialState, s); }
  HRESULT get_QualifierPosition(LONG* p) override { return OutLong(F().qualifierPos, p); }
  HRESULT get_CasePosition(LONG* p) override { return OutLong(F().casePos, p); }
  HRESULT get_RevisionIndex(LONG* i) override { return OutLong(F().revisionIndex, i); }
  HRESULT get_AttributeName(BSTR* name) override { return OutBstr(F().attribute, name); }
  HRESULT GetNodeList(LONG, SAFEARRAY** nodes) override {
    if (!nodes) return E_POINTER;
    // The chain laid out from its end: the field's node last, the root first
    // (a walk asked for every field of a page: no list besides the array).
    ULONG count = 0;
    for (int n = F().node; n >= 0 && count <= P().nodes.size();
         n = P().nodes[static_cast<size_t>(n)].parent) {
      ++count;
    }
    *nodes = SafeArrayCreateVector(VT_DISPATCH, 0, count);
    if (!*nodes) return E_OUTOFMEMORY;
    LONG ix = static_cast<LONG>(count);
    for (int n = F().node; n >= 0 && ix > 0; n = P().nodes[static_cast<size_t>(n)].parent) {
      --ix;
      IDispatch* node = NodeCom(*core_, t_, page_, n);
      SafeArrayPutElement(*nodes, &ix, node);  // AddRefs
      if (node) node->Release();
    }
    return S_OK;
  }
  HRESULT GetNodeChain(LONG, LONG capacity, IKXQClassView** nodes, LONG* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    LONG length = 0;
    for (int n = F().node; n >= 0 && static_cast<size_t>(length) <= P().nodes.size();
         n = P().nodes[static_cast<size_t>(n)].parent) {
      ++length;
    }
    *count = length;
    if (length > capacity) return S_FALSE;
    if (!nodes && length > 0) return E_POINTER;
    LONG ix = length;
    for (int n = F().node; n >= 0 && ix > 0; n = P().nodes[static_cast<size_t>(n)].parent) {
      nodes[--ix] = NodeCom(*core_, t_, page_, n);
    }
    return S_OK;
  }
  // The route of the last step: the attribute on the object at the field's
  // own node (the node chain leads there).
  HRESULT GetRoute(LONG, BSTR* route) override { return OutBstr(F().attribute, route); }
  HRESULT GetOptionNumber(BSTR text, LONG* number) override {
    if (!number) return E_POINTER;
    *number = -1;
    const auto& opts = F().options;
    for (size_t k = 0; k < opts.size(); ++k)
      if (EqualsNoCase(opts[k], FromBstr(text))) {
        *number = static_cast<LONG>(k);
        return S_OK;
      }
    return S_FALSE;
  }
  HRESULT GetOptionText(LONG number, BSTR* text) override {
    const auto& opts = F().options;
    if (number < 0 || static_cast<size_t>(number) >= opts.size())
      return SetError(DISP_E_BADINDEX, "Option " + std::to_string(number) + " does not exist");
    return OutBstr(opts[static_cast<size_t>(number)], text);
  }
  HRESULT get_Options(SAFEARRAY** options) override {
    if (!options) return E_POINTER;
    *options = BstrVector(F().options, 0);
    return *options ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_OptionsPerObject(VARIANT_BOOL* perObject) override {
    if (!perObject) return E_POINTER;
    *perObject = F().optionsFrom.empty() ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
  }
  // Per-object options: the values of the object's list attribute
  // `optionsFrom`, empty slots included, as VARIANTs (lower bound 0); none
  // for a null object or a class without that attribute.
  HRESULT GetOptionsFor(IKXQObject* object, SAFEARRAY** options) override {
    if (F().optionsFrom.empty()) return get_Options(options);
    if (!options) return E_POINTER;
    *options = nullptr;
    std::vector<VARIANT> values;
    struct Clear {
      std::vector<VARIANT>& v;
      ~Clear() {
        for (VARIANT& x : v) VariantClear(&x);
      }
    } clear{values};
    IKXQAttribute* attribute = nullptr;
    if (object) {
      BSTR name = ToBstr(F().optionsFrom);
      const HRESULT hr = object->get_Attribute(name, VARIANT{}, &attribute);
      SysFreeString(name);
      KX_RETURN_IF_FAILED(hr);
    }
    if (attribute) {
      LONG count = 0;
      HRESULT hr = attribute->get_Count(&count);
      for (LONG i = 1; SUCCEEDED(hr) && i <= count; ++i) {
        VARIANT index{};
        index.vt = VT_I4;
        index.lVal = i;
        VARIANT value{};
        hr = attribute->GetValue(index, VARIANT{}, &value);
        values.push_back(value);
      }
      attribute->Release();
      KX_RETURN_IF_FAILED(hr);
    }
    SAFEARRAY* out = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    if (!out) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
      const HRESULT hr = SafeArrayPutElement(out, &i, &values[static_cast<size_t>(i)]);
      if (FAILED(hr)) {
        SafeArrayDestroy(out);
        return hr;
      }
    }
    *options = out;
    return S_OK;
  }
  HRESULT get_ValueKey(LONG* key) override { return OutLong(F().valueKey, key); }
  HRESULT get_NodeIndex(LONG* index) override {
    return OutLong(F().node >= 0 ? P().nodes[static_cast<size_t>(F().node)].index : -1, index);
  }

 private:
  const TPage& P() const { return t_->pages[static_cast<size_t>(page_)]; }
  const TField& F() const { return P().fields[static_cast<size_t>(field_)]; }
  CoreRef core_;
  TemplateRec* t_;
  int page_, field_;
};

class UnitImpl final : public StoreObject<UnitImpl, IKXQTemplateUnit> {
 public:
  UnitImpl(StoreCore& core, TUnit unit) : core_(&core), unit_(std::move(unit)) {}
  HRESULT get_DimensionName(BSTR* name) override { return OutBstr(unit_.dimension, name); }
  HRESULT GetDisplayText(BSTR unitText, BSTR* display) override {
    u16 text = FromBstr(unitText);
    const UnitRec* u = core_->FindUnit(text);
    if (u && EqualsNoCase(u->dimension, unit_.dimension))
      return OutBstr(u->display.empty() ? u->name : u->display, display);
    return OutBstr(text, display);
  }
  HRESULT get_Units(SAFEARRAY** units) override {
    if (!units) return E_POINTER;
    DimensionRec* d = core_->FindDimension(unit_.dimension);
    *units = BstrVector(d ? d->units : std::vector<u16>(), 0);
    return *units ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetDefaultText(LONG number, BSTR* text) override {
    DimensionRec* d = core_->FindDimension(unit_.dimension);
    u16 unit = number == 0 && !unit_.defaultUnit.empty() ? unit_.defaultUnit : u16();
    if (unit.empty() && d && number >= 0 && static_cast<size_t>(number) < d->units.size())
      unit = d->units[static_cast<size_t>(number)];
    const UnitRec* u = core_->FindUnit(unit);
    return OutBstr(u && !u->display.empty() ? u->display : unit, text);
  }
  HRESULT GetUnitForSet(BSTR setName, BSTR* unitId) override {
    DimensionSetRec* s = core_->FindDimensionSet(FromBstr(setName));
    if (s) {
      auto it = s->units.find(unit_.dimension);
      if (it != s->units.end()) return OutBstr(it->second, unitId);
    }
    return SetError(KXQ_E_NOTFOUND, u"Dimension set \"" + FromBstr(setName) +
                                        u"\" has no unit for \"" + unit_.dimension + u"\"");
  }

 private:
  CoreRef core_;
  TUnit unit_;
};

class OverspillImpl final : public StoreObject<OverspillImpl, IKXQOverspillAssociation> {
 public:
  OverspillImpl(StoreCore& core, TemplateRec* t, int page) : core_(&core), t_(t), page_(page) {}
  HRESULT get_TargetPage(IKXQTemplatePage** page) override {
    KX_RETURN_IF_FAILED(OutPtr(page));
    const u16& target = t_->pages[static_cast<size_t>(page_)].overspillTarget;
    for (size_t k = 0; k < t_->pages.size(); ++k)
      if (t_->pages[k].id == target) *page = PageCom(*core_, t_, static_cast<int>(k));
    return S_OK;
  }
  HRESULT get_Pairs(SAFEARRAY** pairs) override {
    if (!pairs) return E_POINTER;
    const auto& list = t_->pages[static_cast<size_t>(page_)].overspillPairs;
    SAFEARRAYBOUND b[2];
    b[0].lLbound = 1;
    b[0].cElements = 2;
    b[1].lLbound = 1;
    b[1].cElements = static_cast<ULONG>(list.size());
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, 2, b);
    if (!sa) return E_OUTOFMEMORY;
    for (size_t j = 0; j < list.size(); ++j) {
      LONG ix[2] = {1, static_cast<LONG>(j + 1)};
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_DISPATCH;
      v.pdispVal = NodeCom(*core_, t_, page_, list[j].first);
      SafeArrayPutElement(sa, ix, &v);
      VariantClear(&v);
      ix[0] = 2;
      V_VT(&v) = VT_BSTR;
      v.bstrVal = ToBstr(list[j].second);
      SafeArrayPutElement(sa, ix, &v);
      VariantClear(&v);
    }
    *pairs = sa;
    return S_OK;
  }

 private:
  CoreRef core_;
  TemplateRec* t_;
  int page_;
};

class PageImpl final : public StoreObject<PageImpl, IKXQTemplatePage> {
 public:
  PageImpl(StoreCore& core, TemplateRec* t, int page) : core_(&core), t_(t), page_(page) {}

  HRESULT get_Template(IKXQTemplate** tmpl) override {
    KX_RETURN_IF_FAILED(OutPtr(tmpl));
    *tmpl = TemplateCom(*core_, t_);
    return S_OK;
  }
  HRESULT get_Id(BSTR* id) override { return OutBstr(P().id, id); }
  HRESULT get_Name(BSTR* name) override { return OutBstr(P().name, name); }
  HRESULT get_ListTemplateName(BSTR* name) override { return OutBstr(t_->name, name); }
  HRESULT get_ContinuousFormat(BSTR* format) override { return OutBstr(P().continuous, format); }
  HRESULT get_IsContinuous(VARIANT_BOOL* continuous) override {
    if (!continuous) return E_POINTER;
    *continuous = Bool(!P().continuous.empty());
    return S_OK;
  }
  HRESULT get_RootNodes(SAFEARRAY** nodes) override {
    if (!nodes) return E_POINTER;
    std::vector<IDispatch*> items;
    for (int r : P().roots) items.push_back(NodeCom(*core_, t_, page_, r));
    *nodes = DispatchVector(items, 0);
    return *nodes ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_RootView(IKXQClassView** view) override {
    KX_RETURN_IF_FAILED(OutPtr(view));
    if (P().roots.empty()) return S_FALSE;
    *view = NodeCom(*core_, t_, page_, P().roots.front());
    return S_OK;
  }
  HRESULT get_Fields(SAFEARRAY** fields) override {
    if (!fields) return E_POINTER;
    std::vector<IDispatch*> items;
    for (size_t k = 0; k < P().fields.size(); ++k) {
      IKXQTemplateField* f = FieldCom(*core_, t_, page_, static_cast<int>(k));
      IKXQTemplateNode* n = nullptr;
      f->QueryInterface(IID_IKXQTemplateNode, reinterpret_cast<void**>(&n));
      f->Release();
      items.push_back(n);
    }
    *fields = DispatchVector(items, 0);
    return *fields ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_FieldCount(LONG* count) override {
    return OutLong(static_cast<LONG>(P().fields.size()), count);
  }
  HRESULT get_Field(LONG number, IKXQTemplateField** field) override {
    KX_RETURN_IF_FAILED(OutPtr(field));
    if (number < 1 || static_cast<size_t>(number) > P().fields.size())
      return SetError(DISP_E_BADINDEX,
                      "Field " + std::to_string(number) + " does not exist on the page");
    *field = FieldCom(*core_, t_, page_, static_cast<int>(number - 1));
    return S_OK;
  }
  HRESULT GetFieldById(LONG fieldId, VARIANT* number, IKXQTemplateField** field) override {
    KX_RETURN_IF_FAILED(OutPtr(field));
    if (number) VariantClear(number);
    for (size_t k = 0; k < P().fields.size(); ++k)
      if (P().fields[k].id == fieldId) {
        if (number) {
          V_VT(number) = VT_I4;
          number->lVal = static_cast<LONG>(k + 1);
        }
        *field = FieldCom(*core_, t_, page_, static_cast<int>(k));
        return S_OK;
      }
    return S_FALSE;
  }
  HRESULT CreatePage(IKXQObject* datasheet, IKXQObject* object, LONG caseId, LONG pageNumber,
                     IKXQObject** page) override {
    KX_RETURN_IF_FAILED(OutPtr(page));
    ObjectRec* ds = datasheet ? ObjectFromCom(*core_, datasheet) : nullptr;
    ObjectRec* ob = object ? ObjectFromCom(*core_, object) : nullptr;
    if ((datasheet && (!ds || !ds->live)) || (object && (!ob || !ob->live)))
      return SetError(E_INVALIDARG, std::string("CreatePage needs live objects of this store"));
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    ObjectRec* made = nullptr;
    HRESULT hr = scope.Done(MakePage(*core_, t_, P(), ds, ob, caseId, pageNumber, &made));
    if (SUCCEEDED(hr)) *page = ObjectCom(*core_, made);
    return hr;
  }
  HRESULT get_UnitCount(LONG* count) override {
    return OutLong(static_cast<LONG>(P().units.size()), count);
  }
  HRESULT get_Unit(LONG index, IKXQTemplateUnit** unit) override {
    KX_RETURN_IF_FAILED(OutPtr(unit));
    if (index < 0 || static_cast<size_t>(index) >= P().units.size())
      return SetError(DISP_E_BADINDEX,
                      "Unit field " + std::to_string(index) + " does not exist on the page");
    *unit = new UnitImpl(*core_, P().units[static_cast<size_t>(index)]);
    return S_OK;
  }
  HRESULT GetUnitAlignment(LONG unit, LONG* align, LONG* valign) override {
    if (!align || !valign) return E_POINTER;
    if (unit < 0 || static_cast<size_t>(unit) >= P().units.size())
      return SetError(DISP_E_BADINDEX,
                      "Unit field " + std::to_string(unit) + " does not exist on the page");
    *align = P().units[static_cast<size_t>(unit)].align;
    *valign = P().units[static_cast<size_t>(unit)].valign;
    return S_OK;
  }
  HRESULT GetRevisionAlignment(LONG, LONG* align, LONG* valign) override {
    if (!align || !valign) return E_POINTER;
    *align = P().revisionAlign;
    *valign = P().revisionValign;
    return S_OK;
  }
  HRESULT get_RevisionCount(LONG* count) override { return OutLong(P().revisions, count); }
  HRESULT GetQualifierFields(LONG qualifier, SAFEARRAY** fieldIds) override {
    if (!fieldIds) return E_POINTER;
    auto it = P().qualifiers.find(qualifier);
    *fieldIds = I4Vector(it == P().qualifiers.end() ? std::vector<LONG>() : it->second, 0);
    return *fieldIds ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetCaseNodes(LONG slot, SAFEARRAY** nodes) override {
    if (!nodes) return E_POINTER;
    std::vector<IDispatch*> items;
    for (size_t k = 0; k < P().nodes.size(); ++k)
      if (P().nodes[k].caseSlot == slot)
        items.push_back(NodeCom(*core_, t_, page_, static_cast<int>(k)));
    *nodes = DispatchVector(items, 0);
    return *nodes ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_Overspill(IKXQOverspillAssociation** association) override {
    KX_RETURN_IF_FAILED(OutPtr(association));
    if (P().overspillTarget.empty()) return S_FALSE;
    *association = new OverspillImpl(*core_, t_, page_);
    return S_OK;
  }

 private:
  const TPage& P() const { return t_->pages[static_cast<size_t>(page_)]; }
  CoreRef core_;
  TemplateRec* t_;
  int page_;
};

class ClassListImpl final : public StoreObject<ClassListImpl, IKXQClassList> {
 public:
  ClassListImpl(StoreCore& core, std::vector<ClassRec*> classes)
      : core_(&core), classes_(std::move(classes)) {}
  HRESULT get_Count(LONG* count) override {
    return OutLong(static_cast<LONG>(classes_.size()), count);
  }
  HRESULT get_Item(LONG index, IKXQClass** cls) override {
    KX_RETURN_IF_FAILED(OutPtr(cls));
    if (index < 0 || static_cast<size_t>(index) >= classes_.size())
      return SetError(DISP_E_BADINDEX, "Class " + std::to_string(index) + " is outside the list");
    *cls = ClassCom(*core_, classes_[static_cast<size_t>(index)]);
    return S_OK;
  }

 private:
  CoreRef core_;
  std::vector<ClassRec*> classes_;
};

class ClassDefinitionImpl final : public StoreObject<ClassDefinitionImpl, IKXQViewDefinition> {
 public:
  ClassDefinitionImpl(StoreCore& core, TemplateRec* t) : core_(&core), t_(t) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(t_->name, name); }
  HRESULT GetAttachedClasses(LONG, SAFEARRAY** classes) override {
    return ClassArray(*core_, t_->classes, classes);
  }
  HRESULT get_Member(BSTR name, IKXQViewDefinition** member) override {
    KX_RETURN_IF_FAILED(OutPtr(member));
    if (t_->pages.empty()) return S_FALSE;
    const TPage& p = t_->pages.front();
    for (int r : p.roots)
      if (EqualsNoCase(p.nodes[static_cast<size_t>(r)].name, FromBstr(name))) {
        IKXQClassView* v = NodeCom(*core_, t_, 0, r);
        HRESULT hr = v->QueryInterface(IID_IKXQViewDefinition, reinterpret_cast<void**>(member));
        v->Release();
        return hr;
      }
    return S_FALSE;
  }

 private:
  CoreRef core_;
  TemplateRec* t_;
};

class TemplateImpl final : public StoreObject<TemplateImpl, IKXQTemplate> {
 public:
  TemplateImpl(StoreCore& core, TemplateRec* t) : core_(&core), t_(t) {}
  HRESULT get_Id(BSTR* id) override { return OutBstr(t_->id, id); }
  HRESULT get_Name(BSTR* name) override { return OutBstr(t_->name, name); }
  HRESULT get_Kind(BSTR* kind) override { return OutBstr(t_->kind, kind); }
  HRESULT get_Checknum(BSTR* checknum) override { return OutBstr(t_->checknum, checknum); }
  HRESULT get_Available(VARIANT_BOOL* available) override {
    if (!available) return E_POINTER;
    *available = Bool(t_->available);
    return S_OK;
  }
  HRESULT get_Category(BSTR* category) override { return OutBstr(t_->category, category); }
  HRESULT get_FilePath(BSTR* path) override { return OutBstr(t_->path, path); }
  HRESULT get_Classes(SAFEARRAY** classes) override {
    return ClassArray(*core_, t_->classes, classes);
  }
  HRESULT get_ClassView(IKXQClassView** view) override {
    KX_RETURN_IF_FAILED(OutPtr(view));
    if (t_->pages.empty() || t_->pages[0].roots.empty()) return S_FALSE;
    *view = NodeCom(*core_, t_, 0, t_->pages[0].roots.front());
    return S_OK;
  }
  HRESULT get_PageCount(LONG* count) override {
    return OutLong(static_cast<LONG>(t_->pages.size()), count);
  }
  HRESULT get_Page(LONG number, IKXQTemplatePage** page) override {
    KX_RETURN_IF_FAILED(OutPtr(page));
    if (number < 1 || static_cast<size_t>(number) > t_->pages.size())
      return SetError(DISP_E_BADINDEX,
                      "Template page " + std::to_string(number) + " does not exist");
    *page = PageCom(*core_, t_, static_cast<int>(number - 1));
    return S_OK;
  }
  HRESULT get_PageById(BSTR pageId, IKXQTemplatePage** page) override {
    KX_RETURN_IF_FAILED(OutPtr(page));
    for (size_t k = 0; k < t_->pages.size(); ++k)
      if (t_->pages[k].id == FromBstr(pageId)) {
        *page = PageCom(*core_, t_, static_cast<int>(k));
        return S_OK;
      }
    return S_FALSE;
  }
  HRESULT CreateDatasheet(IKXQObject* object, LONG caseId, IKXQObject** document) override {
    return Create(object, caseId, false, document);
  }
  HRESULT CreateSummarySheet(LONG caseId, IKXQObject** document) override {
    return Create(nullptr, caseId, true, document);
  }
  HRESULT get_ClassDescription(IKXQClassList** classes) override {
    KX_RETURN_IF_FAILED(OutPtr(classes));
    *classes = new ClassListImpl(*core_, Classes(*core_, t_->classes));
    return S_OK;
  }
  HRESULT get_ClassDefinition(IKXQViewDefinition** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    *def = new ClassDefinitionImpl(*core_, t_);
    return S_OK;
  }

 private:
  HRESULT Create(IKXQObject* object, LONG caseId, bool summary, IKXQObject** document) {
    KX_RETURN_IF_FAILED(OutPtr(document));
    ObjectRec* ob = object ? ObjectFromCom(*core_, object) : nullptr;
    if (object && (!ob || !ob->live))
      return SetError(E_INVALIDARG, std::string("A document needs a live object"));
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    ObjectRec* made = nullptr;
    HRESULT hr = scope.Done(MakeDocument(*core_, t_, ob, caseId, summary, &made));
    if (SUCCEEDED(hr)) *document = ObjectCom(*core_, made);
    return hr;
  }
  CoreRef core_;
  TemplateRec* t_;
};

class LibraryImpl final : public StoreObject<LibraryImpl, IKXQTemplateLibrary> {
 public:
  explicit LibraryImpl(StoreCore& core) : core_(&core) {}
  HRESULT GetTemplate(BSTR id, VARIANT version, IKXQTemplate** tmpl) override {
    KX_RETURN_IF_FAILED(OutPtr(tmpl));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    u16 checknum;
    KX_RETURN_IF_FAILED(VariantText(version, &checknum));
    TemplateRec* t = checknum.empty() ? nullptr : core_->library().Version(FromBstr(id), checknum);
    if (!t) t = core_->library().Current(FromBstr(id));
    if (!t) return S_OK;
    *tmpl = TemplateCom(*core_, t);
    return S_OK;
  }
  HRESULT GetTemplateByName(BSTR name, VARIANT version, IKXQTemplate** tmpl) override {
    KX_RETURN_IF_FAILED(OutPtr(tmpl));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    u16 checknum;
    KX_RETURN_IF_FAILED(VariantText(version, &checknum));
    for (auto& [id, versions] : core_->library().byId) {
      TemplateRec* cur = core_->library().Current(id);
      if (!cur || !EqualsNoCase(cur->name, FromBstr(name))) continue;
      TemplateRec* t = checknum.empty() ? nullptr : core_->library().Version(id, checknum);
      *tmpl = TemplateCom(*core_, t ? t : cur);
      return S_OK;
    }
    return S_OK;
  }
  HRESULT get_Count(LONG* count) override {
    return OutLong(static_cast<LONG>(core_->library().byId.size()), count);
  }
  HRESULT get_Item(LONG position, IKXQTemplate** tmpl) override {
    KX_RETURN_IF_FAILED(OutPtr(tmpl));
    auto& byId = core_->library().byId;
    if (position < 1 || static_cast<size_t>(position) > byId.size())
      return SetError(DISP_E_BADINDEX, "Template " + std::to_string(position) + " does not exist");
    const u16& id = core_->library().IdAt(static_cast<size_t>(position - 1));
    *tmpl = TemplateCom(*core_, core_->library().Current(id));
    return S_OK;
  }
  HRESULT get_TemplatesFolder(BSTR* path) override {
    return OutBstr(core_->library().templatesFolder, path);
  }
  HRESULT get_BitmapFolder(BSTR* path) override {
    return OutBstr(core_->library().bitmapFolder, path);
  }
  HRESULT GetCachedTemplateData(BSTR id, BSTR checknum, BSTR* data) override {
    TemplateRec* t = core_->library().Version(FromBstr(id), FromBstr(checknum));
    return OutBstr(t ? t->cachedData : u16(), data);
  }
  HRESULT GetCachedWorkbookSource(BSTR id, BSTR checknum, BSTR* source) override {
    TemplateRec* t = core_->library().Version(FromBstr(id), FromBstr(checknum));
    return OutBstr(t ? t->workbook : u16(), source);
  }
  HRESULT NotifyTemplateUse(BSTR id, BSTR checknum) override {
    core_->library().notifications.emplace_back(FromBstr(id), FromBstr(checknum));
    return S_OK;
  }

 private:
  CoreRef core_;
};

template <class Impl, class Iface>
Iface* Part(StoreCore& core, TemplateRec* t, int kind, int page, int index) {
  if (core.closed()) return new Impl(core, t, page, index);
  IUnknown*& slot = t->parts[std::make_tuple(kind, page, index)];
  if (!slot) slot = static_cast<Iface*>(new Impl(core, t, page, index));
  slot->AddRef();
  return static_cast<Iface*>(slot);
}

IKXQTemplatePage* PageCom(StoreCore& core, TemplateRec* t, int page) {
  if (core.closed()) return new PageImpl(core, t, page);
  IUnknown*& slot = t->parts[std::make_tuple(0, page, 0)];
  if (!slot) slot = static_cast<IKXQTemplatePage*>(new PageImpl(core, t, page));
  slot->AddRef();
  return static_cast<IKXQTemplatePage*>(slot);
}

IKXQClassView* NodeCom(StoreCore& core, TemplateRec* t, int page, int node) {
  return Part<NodeImpl, IKXQClassView>(core, t, 1, page, node);
}

IKXQTemplateField* FieldCom(StoreCore& core, TemplateRec* t, int page, int field) {
  return Part<FieldImpl, IKXQTemplateField>(core, t, 2, page, field);
}

}  // namespace

IKXQTemplate* TemplateCom(StoreCore& core, TemplateRec* rec) {
  if (!rec) return nullptr;
  if (core.closed()) return new TemplateImpl(core, rec);
  if (!rec->com) rec->com = static_cast<IKXQTemplate*>(new TemplateImpl(core, rec));
  rec->com->AddRef();
  return static_cast<IKXQTemplate*>(rec->com);
}

IKXQTemplateLibrary* LibraryCom(StoreCore& core) {
  if (core.closed()) return new LibraryImpl(core);
  if (!core.libraryCom) core.libraryCom = static_cast<IKXQTemplateLibrary*>(new LibraryImpl(core));
  core.libraryCom->AddRef();
  return static_cast<IKXQTemplateLibrary*>(core.libraryCom);
}

}  // namespace kx::store
