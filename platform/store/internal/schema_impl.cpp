// IKXQDatabase, IKXQSchema, IKXQClass and the schema's other interfaces.
#include <algorithm>

#include "com/enumvariant.h"
#include "store/internal/com_util.h"

namespace kx::store {

HRESULT CallMethodRec(StoreCore& core, MethodRec* m, SAFEARRAY* args, VARIANT* result);

namespace {

HRESULT EnumOf(StoreCore& core, const std::vector<ObjectRec*>& items, IUnknown** out) {
  std::vector<VARIANT> vs(items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    VariantInit(&vs[k]);
    V_VT(&vs[k]) = VT_DISPATCH;
    vs[k].pdispVal = ObjectCom(core, items[k]);
  }
  IEnumVARIANT* e = nullptr;
  HRESULT hr = kx_create_enum_variant(vs.data(), static_cast<ULONG>(vs.size()), &e);
  for (auto& v : vs) VariantClear(&v);
  if (FAILED(hr)) return hr;
  *out = e;
  return S_OK;
}

class CollectionImpl final : public StoreObject<CollectionImpl, IKXQObjectCollection> {
 public:
  CollectionImpl(StoreCore& core, std::vector<ObjectRec*> items)
      : core_(&core), items_(std::move(items)) {}
  HRESULT get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(items_.size());
    return S_OK;
  }
  HRESULT get_Item(LONG position, IKXQObject** item) override {
    KX_RETURN_IF_FAILED(OutPtr(item));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    if (position < 1 || static_cast<size_t>(position) > items_.size())
      return SetError(DISP_E_BADINDEX,
                      "Item " + std::to_string(position) + " is outside the collection");
    const size_t k = static_cast<size_t>(position) - 1;
    ObjectRec* o = items_[k];
    if (!o->live)
      return SetError(KXQ_E_DELETED, "Object " + std::to_string(o->id) + " was deleted");
    PrefetchAhead(k);
    *item = ObjectCom(*core_, o);
    return S_OK;
  }
  HRESULT get__NewEnum(IUnknown** e) override {
    KX_RETURN_IF_FAILED(OutPtr(e));
    return EnumOf(*core_, items_, e);
  }
  HRESULT Add(IKXQObject* item, VARIANT* position) override {
    if (!item) return E_POINTER;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    ObjectRec* o = ObjectFromCom(*core_, item);
    if (!o) return SetError(E_INVALIDARG, "The object is not one of this store's");
    KX_RETURN_IF_FAILED(LiveCheck(*core_, o));
    items_.push_back(o);
    if (position) {
      VariantClear(position);
      position->vt = VT_I4;
      position->lVal = static_cast<LONG>(items_.size());
    }
    return S_OK;
  }

 private:
  // A walk asks for the items in order and reads each one's record, values
  // and interface, and those of the objects its values name and of the
  // objects theirs name; past a few thousand objects those are no longer
  // cached. Each step asks for what the step before brought in, one item
  // nearer. Only a hint: records stay where they are for the store's life.
  static void PrefetchRecord(const ObjectRec* o) {
    const char* rec = reinterpret_cast<const char*>(o);
    __builtin_prefetch(rec);
    __builtin_prefetch(rec + 64);
  }
  static void PrefetchValues(const ObjectRec* o) {
    const char* vals = reinterpret_cast<const char*>(o->attrs.data());
    const size_t bytes = std::min<size_t>(o->attrs.size() * sizeof(AttrValues), 1024);
    for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(vals + b);
    if (o->com) __builtin_prefetch(o->com);
  }
  // Calls f with each live object a single object value of o names.
  template <class F>
  void ForEachNamed(const ObjectRec* o, F&& f) const {
    for (const AttrValues& a : o->attrs) {
      if (a.values.size() != 1 || a.values[0].kind != KXQ_TYPE_OBJECT) continue;
      const ObjectRec* t = core_->LoadedObject(static_cast<int32_t>(a.values[0].i));
      if (t && t->live) f(t);
    }
  }
  void PrefetchAhead(size_t k) const {
    const size_t n = items_.size();
    auto at = [&](size_t d) -> const ObjectRec* {
      if (k + d >= n) return nullptr;
      const ObjectRec* o = items_[k + d];
      return o->live ? o : nullptr;
    };
    if (k + 5 < n) PrefetchRecord(items_[k + 5]);
    if (const ObjectRec* o = at(4)) PrefetchValues(o);
    if (const ObjectRec* o = at(3)) ForEachNamed(o, PrefetchRecord);
    if (const ObjectRec* o = at(2)) ForEachNamed(o, PrefetchValues);
    if (const ObjectRec* o = at(1))
      ForEachNamed(o, [&](const ObjectRec* t) { ForEachNamed(t, PrefetchRecord); });
  }

  CoreRef core_;
  std::vector<ObjectRec*> items_;
};

class ClassImpl final : public StoreObject<ClassImpl, IKXQClass> {
 public:
  ClassImpl(StoreCore& core, ClassRec* rec) : core_(&core), rec_(rec) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(rec_->name, name); }
  HRESULT get_Description(BSTR* text) override { return OutBstr(rec_->description, text); }
  HRESULT get_BaseClass(IKXQClass** base) override {
    KX_RETURN_IF_FAILED(OutPtr(base));
    if (rec_->base) *base = ClassCom(*core_, rec_->base);
    return S_OK;
  }
  HRESULT HasAttribute(BSTR name, VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = Bool(rec_->FindAttr(BstrView(name)) != nullptr);
    return S_OK;
  }
  HRESULT IsKindOf(VARIANT cls, VARIANT_BOOL* is) override {
    if (!is) return E_POINTER;
    ClassRec* c = ClassFromVariant(*core_, cls);
    *is = Bool(c && rec_->IsKindOf(c));
    return S_OK;
  }
  HRESULT get_Instances(IKXQObjectCollection** instances) override {
    KX_RETURN_IF_FAILED(OutPtr(instances));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    *instances = CollectionCom(*core_, core_->Instances(rec_));
    return S_OK;
  }
  HRESULT get__NewEnum(IUnknown** e) override {
    KX_RETURN_IF_FAILED(OutPtr(e));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    return EnumOf(*core_, core_->Instances(rec_), e);
  }
  HRESULT CreateInstance(IKXQObject** obj) override {
    KX_RETURN_IF_FAILED(OutPtr(obj));
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    ObjectRec* made = nullptr;
    HRESULT hr = scope.Done(core_->CreateObject(rec_, 0, &made));
    if (SUCCEEDED(hr)) *obj = ObjectCom(*core_, made);
    return hr;
  }
  HRESULT get_AttributeCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(rec_->Layout().size());
    return S_OK;
  }
  HRESULT get_AttributeDef(LONG position, IKXQAttributeDef** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    auto layout = rec_->Layout();
    if (position < 1 || static_cast<size_t>(position) > layout.size())
      return SetError(DISP_E_BADINDEX,
                      "Attribute " + std::to_string(position) + " is outside the class");
    *def = AttrDefCom(*core_, layout[static_cast<size_t>(position) - 1]);
    return S_OK;
  }
  HRESULT get_AttributeDefByName(BSTR name, IKXQAttributeDef** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    if (AttrDef* d = rec_->FindAttr(FromBstr(name))) *def = AttrDefCom(*core_, d);
    return S_OK;
  }
  HRESULT HasMethod(BSTR name, VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = Bool(core_->FindClassMethod(rec_, FromBstr(name)) != nullptr);
    return S_OK;
  }

 private:
  CoreRef core_;
  ClassRec* rec_;
};

class ProjectImpl final : public StoreObject<ProjectImpl, IKXQProject> {
 public:
  ProjectImpl(StoreCore& core, ProjectRec* rec) : core_(&core), rec_(rec) {}
  HRESULT get_Id(LONG* id) override {
    if (!id) return E_POINTER;
    *id = rec_->id;
    return S_OK;
  }
  HRESULT get_Name(BSTR* name) override { return OutBstr(rec_->name, name); }
  HRESULT get_Parent(IKXQProject** parent) override {
    KX_RETURN_IF_FAILED(OutPtr(parent));
    if (ProjectRec* p = core_->FindProject(rec_->parent)) *parent = ProjectCom(*core_, p);
    return S_OK;
  }
  HRESULT get_ChildCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(rec_->children.size());
    return S_OK;
  }
  HRESULT get_Child(LONG position, IKXQProject** child) override {
    KX_RETURN_IF_FAILED(OutPtr(child));
    if (position < 1 || static_cast<size_t>(position) > rec_->children.size())
      return SetError(DISP_E_BADINDEX,
                      "Child project " + std::to_string(position) + " does not exist");
    *child =
        ProjectCom(*core_, core_->FindProject(rec_->children[static_cast<size_t>(position) - 1]));
    return S_OK;
  }
  HRESULT Contains(VARIANT projectId, VARIANT_BOOL* result) override {
    return Relation(projectId, result, true);
  }
  HRESULT IsWithin(VARIANT projectId, VARIANT_BOOL* result) override {
    return Relation(projectId, result, false);
  }

 private:
  HRESULT Relation(const VARIANT& projectId, VARIANT_BOOL* result, bool contains) {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    VARIANT n;
    VariantInit(&n);
    if (FAILED(VariantChangeType(&n, &projectId, 0, VT_I4)))
      return SetError(DISP_E_TYPEMISMATCH, std::string("A project id must be a number"));
    int32_t lower = contains ? n.lVal : rec_->id;
    int32_t upper = contains ? rec_->id : n.lVal;
    for (ProjectRec* p = core_->FindProject(lower); p; p = core_->FindProject(p->parent))
      if (p->id == upper) {
        *result = VARIANT_TRUE;
        break;
      }
    return S_OK;
  }

  CoreRef core_;
  ProjectRec* rec_;
};

class FilterImpl final : public StoreObject<FilterImpl, IKXQObjectFilter> {
 public:
  FilterImpl(StoreCore& core, FilterRec* rec) : core_(&core), rec_(rec) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(rec_->name, name); }
  HRESULT get_Title(BSTR* title) override { return OutBstr(rec_->title, title); }
  HRESULT Evaluate(IKXQObject* obj, VARIANT_BOOL* passes) override {
    if (!passes) return E_POINTER;
    *passes = VARIANT_FALSE;
    if (!obj) return E_POINTER;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    ObjectRec* o = ObjectFromCom(*core_, obj);
    if (!o || !o->live)
      return SetError(E_INVALIDARG, std::string("The filter needs a live object of this store"));
    if (!rec_->className.empty()) {
      ClassRec* c = core_->FindClass(rec_->className);
      if (!c || !o->cls->IsKindOf(c)) return S_OK;
    }
    if (!rec_->attribute.empty()) {
      AttrDef* d = o->cls->FindAttr(rec_->attribute);
      if (!d) return S_OK;
      core_->NoteRead(o->id, d->id, kWholeList);
      const auto& vals = core_->Values(o, d);
      bool hit = false;
      for (const Value& v : vals) {
        VARIANT var, none;
        VariantInit(&none);
        if (FAILED(FromValue(*core_, d, v, none, &var))) continue;
        u16 text;
        if (SUCCEEDED(VariantText(var, &text)) && EqualsNoCase(text, rec_->value)) hit = true;
        VariantClear(&var);
      }
      if (!hit) return S_OK;
    }
    *passes = VARIANT_TRUE;
    return S_OK;
  }

 private:
  CoreRef core_;
  FilterRec* rec_;
};

class SortImpl final : public StoreObject<SortImpl, IKXQSortDefinition> {
 public:
  SortImpl(StoreCore& core, SortRec* rec) : core_(&core), rec_(rec) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(rec_->code, name); }
  HRESULT get_Title(BSTR* title) override { return OutBstr(rec_->title, title); }
  HRESULT Compare(IKXQObject* a, IKXQObject* b, LONG* order) override {
    if (!order) return E_POINTER;
    *order = 0;
    if (!a || !b) return E_POINTER;
    ObjectRec* x = ObjectFromCom(*core_, a);
    ObjectRec* y = ObjectFromCom(*core_, b);
    if (!x || !y || !x->live || !y->live)
      return SetError(E_INVALIDARG, std::string("A sort compares live objects of this store"));
    int c = Cmp(Key(x), Key(y));
    *order = rec_->descending ? -c : c;
    return S_OK;
  }

 private:
  struct SortKey {
    bool number = false;
    double n = 0;
    u16 text;
  };
  SortKey Key(ObjectRec* o) {
    SortKey k;
    AttrDef* d = o->cls->FindAttr(rec_->attribute);
    if (!d) return k;
    const auto& vals = core_->Values(o, d);
    if (vals.empty() || vals[0].empty()) return k;
    const Value& v = vals[0];
    if (v.kind == KXQ_TYPE_REAL || v.kind == KXQ_TYPE_DATE) {
      k.number = true;
      k.n = v.r;
    } else if (v.kind == KXQ_TYPE_INTEGER || v.kind == KXQ_TYPE_BOOLEAN ||
               v.kind == KXQ_TYPE_OBJECT) {
      k.number = true;
      k.n = static_cast<double>(v.i);
    } else {
      k.text = FoldCase(v.text);
    }
    return k;
  }
  static int Cmp(const SortKey& a, const SortKey& b) {
    if (a.number && b.number) return a.n < b.n ? -1 : a.n > b.n ? 1 : 0;
    if (a.number != b.number) return a.number ? -1 : 1;
    return a.text < b.text ? -1 : a.text > b.text ? 1 : 0;
  }

  CoreRef core_;
  SortRec* rec_;
};

class DimensionImpl final : public StoreObject<DimensionImpl, IKXQDimension> {
 public:
  DimensionImpl(StoreCore& core, DimensionRec* rec) : core_(&core), rec_(rec) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(rec_->name, name); }
  HRESULT get_UnitIds(SAFEARRAY** ids) override {
    if (!ids) return E_POINTER;
    *ids = BstrVector(rec_->units, 0);
    return *ids ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_UnitDisplayName(BSTR unitId, BSTR* display) override {
    if (!display) return E_POINTER;
    *display = nullptr;
    const UnitRec* u = core_->FindUnit(FromBstr(unitId));
    if (!u || !EqualsNoCase(u->dimension, rec_->name))
      return SetError(KXQ_E_UNIT,
                      u"\"" + FromBstr(unitId) + u"\" is not a unit of \"" + rec_->name + u"\"");
    return OutBstr(u->display.empty() ? u->name : u->display, display);
  }
  HRESULT get_UnitInSet(BSTR setName, BSTR* unitId) override {
    if (!unitId) return E_POINTER;
    *unitId = nullptr;
    DimensionSetRec* s = core_->FindDimensionSet(FromBstr(setName));
    if (s) {
      auto it = s->units.find(rec_->name);
      if (it != s->units.end()) return OutBstr(it->second, unitId);
    }
    return SetError(KXQ_E_NOTFOUND, u"Dimension set \"" + FromBstr(setName) +
                                        u"\" has no unit for \"" + rec_->name + u"\"");
  }
  HRESULT Convert(double value, BSTR fromUnit, BSTR toUnit, double* result) override {
    if (!result) return E_POINTER;
    return core_->ConvertReal(value, FromBstr(fromUnit), FromBstr(toUnit), result);
  }

 private:
  CoreRef core_;
  DimensionRec* rec_;
};

class SchemaImpl final : public StoreObject<SchemaImpl, IKXQSchema> {
 public:
  explicit SchemaImpl(StoreCore& core) : core_(&core) {}
  HRESULT get_Class(BSTR name, IKXQClass** cls) override {
    KX_RETURN_IF_FAILED(OutPtr(cls));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    if (ClassRec* c = core_->FindClass(BstrView(name))) *cls = ClassCom(*core_, c);
    return S_OK;
  }
  HRESULT get_DataDefinition(BSTR name, IKXQClass** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    ClassRec* c = core_->FindClass(BstrView(name));
    if (c && c->definition) *def = ClassCom(*core_, c);
    return S_OK;
  }
  HRESULT get_ObjectFilter(BSTR name, IKXQObjectFilter** filter) override {
    KX_RETURN_IF_FAILED(OutPtr(filter));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    FilterRec* f = core_->FindFilter(FromBstr(name));
    if (!f) return SetError(KXQ_E_NOTFOUND, u"Unknown object filter \"" + FromBstr(name) + u"\"");
    *filter = FilterCom(*core_, f);
    return S_OK;
  }
  HRESULT GetObjectFilterVariant(BSTR name, VARIANT* filter) override {
    if (!filter) return E_POINTER;
    VariantClear(filter);
    IKXQObjectFilter* f = nullptr;
    KX_RETURN_IF_FAILED(get_ObjectFilter(name, &f));
    V_VT(filter) = VT_DISPATCH;
    filter->pdispVal = f;
    return S_OK;
  }
  HRESULT get_ObjectFilters(SAFEARRAY** filters) override {
    if (!filters) return E_POINTER;
    *filters = nullptr;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    if (core_->filters().empty()) return S_OK;
    std::vector<IDispatch*> items;
    for (auto& f : core_->filters()) items.push_back(FilterCom(*core_, f.get()));
    *filters = DispatchVector(items, 0);
    return *filters ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT HasMethod(BSTR name, VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = Bool(core_->FindMethod(u16(), FromBstr(name)) != nullptr);
    return S_OK;
  }
  HRESULT get_DimensionSetNames(SAFEARRAY** names) override {
    if (!names) return E_POINTER;
    std::vector<u16> list;
    for (auto& s : core_->dimensionSets()) list.push_back(s->name);
    *names = BstrVector(list, 0);
    return *names ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_Dimension(BSTR name, IKXQDimension** dim) override {
    KX_RETURN_IF_FAILED(OutPtr(dim));
    DimensionRec* d = core_->FindDimension(FromBstr(name));
    if (!d) return SetError(KXQ_E_NOTFOUND, u"Unknown dimension \"" + FromBstr(name) + u"\"");
    *dim = DimensionCom(*core_, d);
    return S_OK;
  }
  HRESULT get_DimensionCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(core_->dimensions().size());
    return S_OK;
  }
  HRESULT get_DimensionAt(LONG position, IKXQDimension** dim) override {
    KX_RETURN_IF_FAILED(OutPtr(dim));
    auto& dims = core_->dimensions();
    if (position < 1 || static_cast<size_t>(position) > dims.size())
      return SetError(DISP_E_BADINDEX, "Dimension " + std::to_string(position) + " does not exist");
    *dim = DimensionCom(*core_, dims[static_cast<size_t>(position) - 1].get());
    return S_OK;
  }
  HRESULT get_SortDefinitions(SAFEARRAY** sorts) override {
    if (!sorts) return E_POINTER;
    *sorts = nullptr;
    if (core_->sorts().empty()) return S_OK;
    std::vector<IDispatch*> items;
    for (auto& s : core_->sorts()) items.push_back(SortCom(*core_, s.get()));
    *sorts = DispatchVector(items, 0);
    return *sorts ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_SortDefinition(BSTR code, IKXQSortDefinition** sort) override {
    KX_RETURN_IF_FAILED(OutPtr(sort));
    if (SortRec* s = core_->FindSort(FromBstr(code))) *sort = SortCom(*core_, s);
    return S_OK;
  }

 private:
  CoreRef core_;
};

class DatabaseImpl final : public StoreObject<DatabaseImpl, IKXQDatabase> {
 public:
  explicit DatabaseImpl(StoreCore& core) : core_(&core) {}
  HRESULT get_Schema(IKXQSchema** schema) override {
    KX_RETURN_IF_FAILED(OutPtr(schema));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    *schema = SchemaCom(*core_);
    return S_OK;
  }
  HRESULT get_Object(LONG id, IKXQObject** obj) override {
    KX_RETURN_IF_FAILED(OutPtr(obj));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    ObjectRec* o = core_->LiveObject(id);
    if (!o) return core_->NoObject(id);
    *obj = ObjectCom(*core_, o);
    return S_OK;
  }
  HRESULT ObjectExists(LONG id, VARIANT_BOOL* exists) override {
    if (!exists) return E_POINTER;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    *exists = Bool(core_->LiveObject(id) != nullptr);
    return S_OK;
  }
  HRESULT DeleteObject(IKXQObject* obj) override {
    if (!obj) return E_POINTER;
    return obj->Delete();
  }
  HRESULT get_CaseName(LONG caseId, BSTR* name) override {
    return OutBstr(core_->CaseName(caseId), name);
  }
  HRESULT get_TemplateLibrary(IKXQTemplateLibrary** library) override {
    KX_RETURN_IF_FAILED(OutPtr(library));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    *library = LibraryCom(*core_);
    return S_OK;
  }
  HRESULT get_RootProject(IKXQProject** project) override { return get_Project(1, project); }
  HRESULT get_Project(LONG id, IKXQProject** project) override {
    KX_RETURN_IF_FAILED(OutPtr(project));
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    ProjectRec* p = core_->FindProject(id);
    if (!p) return SetError(KXQ_E_NOOBJECT, "No project with id " + std::to_string(id));
    *project = ProjectCom(*core_, p);
    return S_OK;
  }
  HRESULT get_ActiveProject(IKXQProject** project) override {
    return get_Project(core_->activeProject, project);
  }
  HRESULT RunMethod(BSTR name, SAFEARRAY* args, VARIANT* result) override {
    if (!result) return E_POINTER;
    VariantClear(result);
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    MethodRec* m = core_->FindMethod(u16(), FromBstr(name));
    if (!m)
      return SetError(KXQ_E_NOTFOUND, u"The schema has no method \"" + FromBstr(name) + u"\"");
    return CallMethodRec(*core_, m, args, result);
  }

 private:
  CoreRef core_;
};

template <class Impl, class Iface, class Rec>
Iface* Cached(StoreCore& core, Rec* rec) {
  if (!rec) return nullptr;
  if (!rec->com) {
    Iface* made = new Impl(core, rec);
    if (core.closed()) return made;
    rec->com = made;
  }
  rec->com->AddRef();
  return static_cast<Iface*>(rec->com);
}

}  // namespace

IKXQClass* ClassCom(StoreCore& core, ClassRec* rec) {
  return Cached<ClassImpl, IKXQClass>(core, rec);
}
IKXQProject* ProjectCom(StoreCore& core, ProjectRec* rec) {
  return Cached<ProjectImpl, IKXQProject>(core, rec);
}
IKXQDimension* DimensionCom(StoreCore& core, DimensionRec* rec) {
  return Cached<DimensionImpl, IKXQDimension>(core, rec);
}
IKXQObjectFilter* FilterCom(StoreCore& core, FilterRec* rec) {
  return Cached<FilterImpl, IKXQObjectFilter>(core, rec);
}
IKXQSortDefinition* SortCom(StoreCore& core, SortRec* rec) {
  return Cached<SortImpl, IKXQSortDefinition>(core, rec);
}
IKXQObjectCollection* CollectionCom(StoreCore& core, const std::vector<ObjectRec*>& items) {
  return new CollectionImpl(core, items);
}

IKXQDatabase* DatabaseCom(StoreCore& core) {
  if (core.closed()) return new DatabaseImpl(core);
  if (!core.databaseCom) core.databaseCom = static_cast<IKXQDatabase*>(new DatabaseImpl(core));
  core.databaseCom->AddRef();
  return static_cast<IKXQDatabase*>(core.databaseCom);
}

IKXQSchema* SchemaCom(StoreCore& core) {
  if (core.closed()) return new SchemaImpl(core);
  if (!core.schemaCom) core.schemaCom = static_cast<IKXQSchema*>(new SchemaImpl(core));
  core.schemaCom->AddRef();
  return static_cast<IKXQSchema*>(core.schemaCom);
}

ClassRec* ClassFromVariant(StoreCore& core, const VARIANT& in) {
  const VARIANT* v = V_VT(&in) == (VT_BYREF | VT_VARIANT) ? in.pvarVal : &in;
  if (V_VT(v) == VT_BSTR) return core.FindClass(BstrView(v->bstrVal));
  if ((V_VT(v) == VT_DISPATCH || V_VT(v) == VT_UNKNOWN) && v->punkVal) {
    IKXQClass* cls = nullptr;
    if (FAILED(v->punkVal->QueryInterface(IID_IKXQClass, reinterpret_cast<void**>(&cls))) || !cls)
      return nullptr;
    BSTR name = nullptr;
    cls->get_Name(&name);
    cls->Release();
    ClassRec* rec = core.FindClass(BstrView(name));
    SysFreeString(name);
    return rec;
  }
  return nullptr;
}

}  // namespace kx::store
