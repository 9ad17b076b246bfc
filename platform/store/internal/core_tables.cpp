// StoreCore: the records beside objects and values. Classes and attribute
// definitions, units and dimension sets, projects, cases, filters, sorts,
// methods, claims, users, the workflow log, triggers and template versions:
// each added or changed here is written through and undone on rollback.
#include <algorithm>

#include "store/internal/core.h"

namespace kx::store {

// ---------------------------------------------------------------------------
// Schema

ClassRec* StoreCore::FindClass(std::u16string_view name) const {
  auto it = classByName_.find(name);
  return it == classByName_.end() ? nullptr : it->second;
}

HRESULT StoreCore::AddClass(const u16& name, const u16& baseName, const u16& description,
                            bool definition, ClassRec** out) {
  if (name.empty()) return SetError(E_INVALIDARG, std::string("A class needs a name"));
  if (FindClass(name)) return SetError(E_INVALIDARG, u"Class \"" + name + u"\" is defined twice");
  ClassRec* base = nullptr;
  if (!baseName.empty()) {
    base = FindClass(baseName);
    if (!base) return SetError(KXQ_E_NOTFOUND, u"Unknown base class \"" + baseName + u"\"");
  }
  auto rec = std::make_unique<ClassRec>();
  rec->id = nextClassId_++;
  rec->name = name;
  rec->base = base;
  rec->description = description;
  rec->definition = definition;
  if (!db_->PutClass(*rec)) return StorageFailure();
  ClassRec* c = rec.get();
  classes_.push_back(std::move(rec));
  classByName_[name] = c;
  classById_[c->id] = c;
  if (base) base->subclasses.push_back(c);
  SchemaChanged();
  OnUndo([this, c, base] {
    if (base) base->subclasses.pop_back();
    classByName_.erase(c->name);
    classById_.erase(c->id);
    SchemaChanged();
    // The record stays (an interface may point at it) but is unreachable.
  });
  if (out) *out = c;
  return S_OK;
}

HRESULT StoreCore::AddAttr(ClassRec* cls, const AttrDef& def, AttrDef** out) {
  if (def.name.empty())
    return SetError(E_INVALIDARG, u"An attribute of class \"" + cls->name + u"\" has no name");
  if (cls->FindAttr(def.name))
    return SetError(E_INVALIDARG, u"Attribute \"" + def.name + u"\" is defined twice on class \"" +
                                      cls->name + u"\"");
  if (def.type < 1 || def.type > 8)
    return SetError(E_INVALIDARG,
                    u"Attribute \"" + def.name + u"\" has a data type outside 1 to 8");
  auto rec = std::make_unique<AttrDef>(def);
  rec->id = nextAttrId_++;
  rec->owner = cls;
  if (!db_->PutAttr(*rec)) return StorageFailure();
  AttrDef* d = rec.get();
  inverseAttrs_ = inverseAttrs_ || !d->inverse.empty();
  attrs_[d->id] = std::move(rec);
  cls->own.push_back(d);
  SchemaChanged();
  OnUndo([cls] {
    cls->own.pop_back();
    SchemaChanged();
  });
  if (out) *out = d;
  return S_OK;
}

AttrDef* StoreCore::AttrById(int32_t id) const {
  auto it = attrs_.find(id);
  return it == attrs_.end() ? nullptr : it->second.get();
}

AttrDef* StoreCore::FindAttr(const ObjectRec* obj, const u16& name) const {
  return obj->cls->FindAttr(name);
}

// ---------------------------------------------------------------------------
// Units

const UnitRec* StoreCore::FindUnit(const u16& name) const {
  auto it = units_.find(name);
  return it == units_.end() ? nullptr : it->second.get();
}

DimensionRec* StoreCore::FindDimension(const u16& name) const {
  for (auto& d : dimensions_)
    if (EqualsNoCase(d->name, name)) return d.get();
  return nullptr;
}

DimensionSetRec* StoreCore::FindDimensionSet(const u16& name) const {
  for (auto& s : dimensionSets_)
    if (EqualsNoCase(s->name, name)) return s.get();
  return nullptr;
}

HRESULT StoreCore::ConvertReal(double v, const u16& from, const u16& to, double* out) const {
  if (from.empty() || to.empty() || EqualsNoCase(from, to)) {
    *out = v;
    return S_OK;
  }
  const UnitRec* a = FindUnit(from);
  const UnitRec* b = FindUnit(to);
  if (!a) return SetError(KXQ_E_UNIT, u"Unknown unit \"" + from + u"\"");
  if (!b) return SetError(KXQ_E_UNIT, u"Unknown unit \"" + to + u"\"");
  if (!EqualsNoCase(a->dimension, b->dimension))
    return SetError(KXQ_E_UNIT, u"Cannot convert from \"" + from + u"\" (" + a->dimension +
                                    u") to \"" + to + u"\" (" + b->dimension + u")");
  double base = v * a->factor + a->offset;
  *out = (base - b->offset) / b->factor;
  return S_OK;
}

HRESULT StoreCore::AddDimension(const u16& name, const u16& baseUnit) {
  if (FindDimension(name))
    return SetError(E_INVALIDARG, u"Dimension \"" + name + u"\" is defined twice");
  auto d = std::make_unique<DimensionRec>();
  d->name = name;
  d->baseUnit = baseUnit;
  if (!db_->PutDimension(name, baseUnit)) return StorageFailure();
  dimensions_.push_back(std::move(d));
  OnUndo([this] { dimensions_.pop_back(); });
  return S_OK;
}

HRESULT StoreCore::AddUnit(const UnitRec& unit) {
  DimensionRec* d = FindDimension(unit.dimension);
  if (!d)
    return SetError(KXQ_E_NOTFOUND, u"Unit \"" + unit.name + u"\" names an unknown dimension \"" +
                                        unit.dimension + u"\"");
  if (FindUnit(unit.name))
    return SetError(E_INVALIDARG, u"Unit \"" + unit.name + u"\" is defined twice");
  if (unit.factor == 0)
    return SetError(E_INVALIDARG, u"Unit \"" + unit.name + u"\" has a factor of 0");
  UnitRec stored = unit;
  stored.dimension = d->name;
  if (!db_->PutUnit(stored)) return StorageFailure();
  // A dimension named without a base takes its first unit, on disk too.
  const bool firstIsBase = d->baseUnit.empty();
  if (firstIsBase && !db_->PutDimension(d->name, unit.name)) return StorageFailure();
  auto u = std::make_unique<UnitRec>(unit);
  u->dimension = d->name;
  units_[unit.name] = std::move(u);
  d->units.push_back(unit.name);
  if (firstIsBase) d->baseUnit = unit.name;
  OnUndo([this, d, firstIsBase, name = unit.name] {
    units_.erase(name);
    d->units.pop_back();
    if (firstIsBase) d->baseUnit.clear();
  });
  return S_OK;
}

HRESULT StoreCore::AddDimensionSetUnit(const u16& set, const u16& dimension, const u16& unit) {
  const UnitRec* u = FindUnit(unit);
  if (!u)
    return SetError(KXQ_E_NOTFOUND,
                    u"Dimension set \"" + set + u"\" names an unknown unit \"" + unit + u"\"");
  if (!EqualsNoCase(u->dimension, dimension))
    return SetError(E_INVALIDARG,
                    u"Unit \"" + unit + u"\" is not a unit of dimension \"" + dimension + u"\"");
  DimensionSetRec* s = FindDimensionSet(set);
  bool created = false;
  if (!s) {
    dimensionSets_.push_back(std::make_unique<DimensionSetRec>());
    s = dimensionSets_.back().get();
    s->name = set;
    created = true;
  }
  if (!db_->PutDimensionSetUnit(s->name, u->dimension, unit)) return StorageFailure();
  auto it = s->units.find(u->dimension);
  bool had = it != s->units.end();
  u16 old = had ? it->second : u16();
  s->units[u->dimension] = unit;
  OnUndo([this, s, created, had, old, dim = u->dimension] {
    if (created) {
      dimensionSets_.pop_back();
      return;
    }
    if (had)
      s->units[dim] = old;
    else
      s->units.erase(dim);
  });
  return S_OK;
}

// ---------------------------------------------------------------------------
// Projects, cases, filters, sorts, methods, claims, users

HRESULT StoreCore::AddProject(int32_t id, const u16& name, int32_t parent) {
  if (id <= 0) return SetError(E_INVALIDARG, std::string("Project ids are positive"));
  if (projects_.count(id))
    return SetError(E_INVALIDARG, "Project " + std::to_string(id) + " is defined twice");
  ProjectRec* p = nullptr;
  if (parent) {
    p = FindProject(parent);
    if (!p)
      return SetError(KXQ_E_NOTFOUND, "Project " + std::to_string(id) +
                                          " names an unknown parent " + std::to_string(parent));
  }
  if (!db_->PutProject(id, name, parent)) return StorageFailure();
  auto rec = std::make_unique<ProjectRec>();
  rec->id = id;
  rec->name = name;
  rec->parent = parent;
  projects_[id] = std::move(rec);
  if (p) p->children.push_back(id);
  OnUndo([this, id, p] {
    projects_.erase(id);
    if (p) p->children.pop_back();
  });
  return S_OK;
}

ProjectRec* StoreCore::FindProject(int32_t id) const {
  auto it = projects_.find(id);
  return it == projects_.end() ? nullptr : it->second.get();
}

HRESULT StoreCore::AddCase(int32_t id, const u16& name) {
  if (!db_->PutCase(id, name)) return StorageFailure();
  auto it = cases_.find(id);
  bool had = it != cases_.end();
  u16 old = had ? it->second : u16();
  cases_[id] = name;
  OnUndo([this, id, had, old] {
    if (had)
      cases_[id] = old;
    else
      cases_.erase(id);
  });
  return S_OK;
}

u16 StoreCore::CaseName(int32_t id) const {
  auto it = cases_.find(id);
  return it == cases_.end() ? u16() : it->second;
}

HRESULT StoreCore::AddFilter(const FilterRec& f) {
  if (FindFilter(f.name))
    return SetError(E_INVALIDARG, u"Filter \"" + f.name + u"\" is defined twice");
  if (!f.className.empty() && !FindClass(f.className))
    return SetError(KXQ_E_NOTFOUND,
                    u"Filter \"" + f.name + u"\" names an unknown class \"" + f.className + u"\"");
  if (!db_->PutFilter(f)) return StorageFailure();
  filters_.push_back(std::make_unique<FilterRec>(f));
  filters_.back()->com = nullptr;
  OnUndo([this] { filters_.pop_back(); });
  return S_OK;
}

FilterRec* StoreCore::FindFilter(const u16& name) const {
  for (auto& f : filters_)
    if (f->name == name) return f.get();
  return nullptr;
}

HRESULT StoreCore::AddSort(const SortRec& s) {
  if (FindSort(s.code))
    return SetError(E_INVALIDARG, u"Sort definition \"" + s.code + u"\" is defined twice");
  if (!db_->PutSort(s)) return StorageFailure();
  sorts_.push_back(std::make_unique<SortRec>(s));
  sorts_.back()->com = nullptr;
  OnUndo([this] { sorts_.pop_back(); });
  return S_OK;
}

SortRec* StoreCore::FindSort(const u16& code) const {
  for (auto& s : sorts_)
    if (s->code == code) return s.get();
  return nullptr;
}

HRESULT StoreCore::AddMethod(const MethodRec& m) {
  // Class names ignore case, the table's key does not: a method registered
  // again replaces the row under the scope it was first stored with.
  MethodRec* old = FindMethod(m.scope, m.name);
  const u16& scope = old ? old->scope : m.scope;
  MethodRec stored = m;
  stored.scope = scope;
  if (!db_->PutMethod(stored)) return StorageFailure();
  if (old) {
    MethodRec saved = *old;
    old->kind = m.kind;
    old->result = m.result;
    OnUndo([old, saved] { *old = saved; });
    return S_OK;
  }
  methods_.push_back(std::make_unique<MethodRec>(m));
  OnUndo([this] { methods_.pop_back(); });
  return S_OK;
}

MethodRec* StoreCore::FindMethod(const u16& scope, const u16& name) const {
  for (auto& m : methods_)
    if (EqualsNoCase(m->scope, scope) && m->name == name) return m.get();
  return nullptr;
}

MethodRec* StoreCore::FindClassMethod(const ClassRec* cls, const u16& name) const {
  for (const ClassRec* c = cls; c; c = c->base)
    if (MethodRec* m = FindMethod(c->name, name)) return m;
  return nullptr;
}

HRESULT StoreCore::AddClaim(int32_t obj, int32_t project) {
  if (!FindProject(project))
    return SetError(KXQ_E_NOTFOUND, "Unknown project " + std::to_string(project));
  ObjectRec* o = FindObject(obj);
  if (!o) return NoObject(obj);
  ClaimList& v = o->claims;
  if (std::find(v.begin(), v.end(), project) != v.end()) return S_OK;
  if (!db_->PutClaim(obj, project)) return StorageFailure();
  v.push_back(project);
  OnUndo([o] { o->claims.pop_back(); });
  return S_OK;
}

HRESULT StoreCore::PutUser(int32_t obj, const u16& user, LONG status) {
  auto& v = users_[obj];
  std::vector<UserRec> old = v;
  if (!db_->PutUser(obj, user, status)) return StorageFailure();
  auto it = std::find_if(v.begin(), v.end(), [&](const UserRec& u) { return u.name == user; });
  if (status > 0) {
    if (it != v.end())
      it->status = status;
    else
      v.push_back(UserRec{user, status});
  } else if (it != v.end()) {
    v.erase(it);
  }
  OnUndo([this, obj, old] { users_[obj] = old; });
  return S_OK;
}

std::vector<UserRec> StoreCore::Users(int32_t obj) const {
  auto it = users_.find(obj);
  return it == users_.end() ? std::vector<UserRec>() : it->second;
}

// A store opened read only keeps what opening a page or a document records
// (its triggers, the versions opened and closed) for this process alone:
// they serve the pages it opens and need not last. Every other change fails.
HRESULT StoreCore::RecordWorkflow(int32_t obj, LONG code, const u16& text, bool opening) {
  if (!(opening && db_->ReadOnly()) && !db_->AddWorkflow(obj, code, text)) return StorageFailure();
  if (observer) observer->WorkflowRecorded(obj, code, text);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Triggers

TriggerRec* StoreCore::FindTrigger(int32_t obj, const u16& name) const {
  auto it = triggersOf_.find(obj);
  if (it == triggersOf_.end()) return nullptr;
  for (TriggerRec* t : it->second)
    if (t->owner == obj && t->name == name) return t;
  return nullptr;
}

HRESULT StoreCore::AddTrigger(int32_t obj, const u16& name, TriggerRec** out) {
  // The table keeps one trigger per object and name; so does memory.
  if (FindTrigger(obj, name))
    return SetError(E_INVALIDARG, u"Object " + U16(std::to_string(obj).c_str()) +
                                      u" has a trigger \"" + name + u"\" already");
  auto t = std::make_unique<TriggerRec>();
  t->owner = obj;
  t->madeFor = obj;
  t->name = name;
  TriggerRec* p = t.get();
  triggers_.push_back(std::move(t));
  triggersOf_[obj].push_back(p);
  // Kept alive (an interface may point at it) but unreachable.
  OnUndo([p] { p->owner = 0; }, false);
  if (HRESULT hr = SaveTrigger(p); FAILED(hr)) return hr;
  *out = p;
  return S_OK;
}

HRESULT StoreCore::SaveTrigger(TriggerRec* t) {
  if (!t->owner || db_->ReadOnly()) return S_OK;
  if (!db_->PutTrigger(t->owner, *t)) return StorageFailure();
  return S_OK;
}

void StoreCore::ResaveTrigger(const TriggerRec* t) {
  if (t->owner && !db_->ReadOnly()) db_->LogChanged(t->owner);
}

HRESULT StoreCore::RemoveTrigger(int32_t obj, const u16& name) {
  TriggerRec* t = FindTrigger(obj, name);
  if (!t) return S_FALSE;
  if (!db_->ReadOnly() && !db_->RemoveTrigger(obj, name)) return StorageFailure();
  t->owner = 0;
  OnUndo([t, obj] { t->owner = obj; }, false);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Templates

HRESULT StoreCore::SetLibraryFolder(bool bitmaps, const u16& path) {
  u16& field = bitmaps ? library_.bitmapFolder : library_.templatesFolder;
  if (!db_->PutFolder(bitmaps, path)) return StorageFailure();
  u16 old = field;
  field = path;
  OnUndo([&field, old] { field = old; });
  return S_OK;
}

HRESULT StoreCore::AddTemplate(std::unique_ptr<TemplateRec> t, const std::string& xml) {
  if (library_.Has(t->id, t->checknum))
    return SetError(E_INVALIDARG, u"Template \"" + t->id + u"\" version \"" + t->checknum +
                                      u"\" is defined twice");
  if (!xml.empty() && !db_->PutTemplate(t->id, t->checknum, xml)) return StorageFailure();
  u16 id = t->id, ck = t->checknum;
  library_.byId[id][ck] = std::move(t);
  OnUndo([this, id, ck] {
    auto it = library_.byId.find(id);
    if (it == library_.byId.end()) return;
    // Kept alive for interfaces that point at it.
    library_.retired.push_back(std::move(it->second[ck]));
    it->second.erase(ck);
    if (it->second.empty()) library_.byId.erase(it);
  });
  return S_OK;
}

}  // namespace kx::store
