// The administration API and the loading of a store file into memory.
#include <algorithm>
#include <chrono>
#include <thread>

#include "com/errorinfo.h"
#include "store/internal/com_util.h"
#include "store/internal/fixture.h"

namespace kx::store {

namespace {
Status Fail(HRESULT hr, std::string message) { return Status{hr, std::move(message)}; }

// Message of the calling thread's error information (cleared), or "".
std::string TakeErrorText() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
  BSTR desc = nullptr;
  info->GetDescription(&desc);
  std::string out = ToUtf8(FromBstr(desc));
  SysFreeString(desc);
  info->Release();
  return out;
}

Status FromHr(HRESULT hr) {
  if (SUCCEEDED(hr)) return Status{hr, {}};
  return Status{hr, TakeErrorText()};
}
}  // namespace

Status StoreCore::Open(const std::string& path, OpenMode mode) {
  // A store read without locks in which another process committed while
  // its tables were read is read again, from the start, a few times.
  for (int tries = 0;; ++tries) {
    std::string error;
    if (!db_->Open(path, mode == OpenMode::kOpenExisting, mode == OpenMode::kCreate,
                   mode == OpenMode::kReadOnly, &error))
      return Fail(db_->NotAStore() ? KXQ_E_NOTSTORE
                  : db_->InUse()   ? KXQ_E_BUSY
                                   : KXQ_E_STORAGE,
                  error);
    db_->SetLockTimeout(lockTimeoutMs_);
    closed_ = false;
    Status s = LoadTables();
    if (s.ok()) return s;
    const bool again = db_->Moved() && tries < 3;
    db_->Close();
    closed_ = true;
    if (!again) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(5 << tries));
  }
}

Status StoreCore::LoadTables() {
  ObjectRowsChanged();
  StoredTables tables;
  if (!db_->LoadTables(&tables))
    return Fail(KXQ_E_STORAGE, "Cannot read the store: " + db_->LastError());
  return MergeTables(std::move(tables));
}

Status StoreCore::CatchUpWith(const CatchUp& changes) {
  ObjectRowsChanged();
  nextObjectId_ = std::max(nextObjectId_, changes.nextObjectId);
  persistedNextId_ = changes.nextObjectId;
  std::vector<int32_t> ids;
  if (changes.full) {
    if (Status s = LoadTables(); !s.ok()) return s;
    for (auto& [id, o] : objects_) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
  } else {
    // An object this process never read needs nothing: it is read as the
    // file has it when first reached.
    for (int32_t id : changes.objects)
      if (LoadedObject(id)) ids.push_back(id);
  }
  for (int32_t id : ids) {
    StoredObject o;
    if (!db_->LoadObject(id, &o)) return Fail(KXQ_E_STORAGE, db_->LastError());
    if (Status s = ApplyObject(std::move(o), true); !s.ok()) return s;
  }
  return Status{};
}

Status StoreCore::MergeTables(StoredTables&& t) {
  const bool schema = !t.classes.empty() || !t.attrs.empty();
  // Classes and attributes are only ever added. A record left unreachable
  // by a rollback here may carry the id another process gave its own.
  std::unordered_map<int32_t, ClassRec*>& classById = classById_;
  for (StoredClass& row : t.classes) {
    nextClassId_ = std::max(nextClassId_, row.id + 1);
    if (classById.count(row.id)) continue;
    auto c = std::make_unique<ClassRec>();
    c->id = row.id;
    c->name = row.name;
    auto base = classById.find(row.base);
    if (base != classById.end()) {
      c->base = base->second;
      c->base->subclasses.push_back(c.get());
    }
    c->description = row.description;
    c->definition = row.definition;
    classById[c->id] = c.get();
    classByName_[c->name] = c.get();
    classes_.push_back(std::move(c));
  }
  for (StoredAttr& row : t.attrs) {
    nextAttrId_ = std::max(nextAttrId_, row.def.id + 1);
    auto cls = classById.find(row.cls);
    auto it = attrs_.find(row.def.id);
    if (it != attrs_.end()) {
      AttrDef* d = it->second.get();
      if (d->owner &&
          std::find(d->owner->own.begin(), d->owner->own.end(), d) != d->owner->own.end())
        continue;
      retiredAttrs_.push_back(std::move(it->second));
      attrs_.erase(it);
    }
    auto d = std::make_unique<AttrDef>(std::move(row.def));
    d->owner = cls == classById.end() ? nullptr : cls->second;
    if (d->owner) d->owner->own.push_back(d.get());
    inverseAttrs_ = inverseAttrs_ || !d->inverse.empty();
    attrs_[d->id] = std::move(d);
  }
  for (DimensionRec& row : t.dimensions) {
    if (DimensionRec* d = FindDimension(row.name)) {
      d->baseUnit = row.baseUnit;
      continue;
    }
    auto d = std::make_unique<DimensionRec>();
    d->name = row.name;
    d->baseUnit = row.baseUnit;
    dimensions_.push_back(std::move(d));
  }
  for (UnitRec& row : t.units) {
    if (FindUnit(row.name)) continue;
    if (DimensionRec* d = FindDimension(row.dimension)) d->units.push_back(row.name);
    u16 name = row.name;
    units_[name] = std::make_unique<UnitRec>(std::move(row));
  }
  for (auto& row : t.dimensionSets) {
    DimensionSetRec* s = FindDimensionSet(row.set);
    if (!s) {
      dimensionSets_.push_back(std::make_unique<DimensionSetRec>());
      s = dimensionSets_.back().get();
      s->name = row.set;
    }
    s->units[row.dimension] = row.unit;
  }
  std::vector<int32_t> newProjects;
  for (ProjectRec& row : t.projects) {
    if (projects_.count(row.id)) continue;
    auto p = std::make_unique<ProjectRec>();
    p->id = row.id;
    p->name = row.name;
    p->parent = row.parent;
    newProjects.push_back(row.id);
    projects_[row.id] = std::move(p);
  }
  for (int32_t id : newProjects)
    if (ProjectRec* parent = FindProject(projects_[id]->parent)) parent->children.push_back(id);
  for (auto& [id, name] : t.cases) cases_[id] = name;
  for (FilterRec& row : t.filters)
    if (!FindFilter(row.name)) filters_.push_back(std::make_unique<FilterRec>(std::move(row)));
  for (SortRec& row : t.sorts)
    if (!FindSort(row.code)) sorts_.push_back(std::make_unique<SortRec>(std::move(row)));
  for (MethodRec& row : t.methods) {
    if (MethodRec* m = FindMethod(row.scope, row.name)) {
      m->kind = row.kind;
      m->result = row.result;
    } else {
      methods_.push_back(std::make_unique<MethodRec>(std::move(row)));
    }
  }
  if (t.hasTemplatesFolder) library_.templatesFolder = t.templatesFolder;
  if (t.hasBitmapFolder) library_.bitmapFolder = t.bitmapFolder;
  nextObjectId_ = std::max(nextObjectId_, t.nextObjectId);
  persistedNextId_ = std::max(persistedNextId_, t.nextObjectId);
  // Templates are read when first used; until then only their keys.
  for (auto& [id, ck] : t.templates) {
    if (library_.Has(id, ck)) continue;
    auto tpl = std::make_unique<TemplateRec>();
    tpl->id = id;
    tpl->checknum = ck;
    tpl->loaded = false;
    library_.byId[id][ck] = std::move(tpl);
  }
  if (schema) SchemaChanged();
  return Status{};
}

Status StoreCore::ApplyObject(StoredObject&& so, bool fire) {
  const int32_t id = so.id;
  if (so.retired) retired_.insert(id);
  // An id the file has never held (a lookup of any number) moves nothing.
  if (so.exists || so.retired) nextObjectId_ = std::max(nextObjectId_, IdAfter(id));
  ObjectRec* o = LoadedObject(id);
  if (!o) {
    if (!so.exists) return Status{};
    o = NewObject(id);
    o->live = false;
  }
  ClassRec* cls = nullptr;
  if (so.exists) {
    auto it = classById_.find(so.cls);
    if (it != classById_.end()) cls = it->second;
    if (!cls)
      return Fail(KXQ_E_STORAGE,
                  "The store is damaged: object " + std::to_string(id) + " has an unknown class");
  }
  const bool wasLive = o->live;
  o->live = so.exists;
  if (fire && wasLive && !o->live) ++o->externalChanges;
  if (so.exists) {
    o->cls = cls;
    o->owner = so.owner;
    o->holder = so.holder;
    o->holderAttr = std::move(so.holderAttr);
    o->flags = so.flags;
  }
  ForgetMembers(o);
  std::vector<AttrValues> old = std::move(o->attrs);
  o->attrs = std::move(so.attrs);
  if (fire && so.exists) {
    // Every attribute whose slots differ, as a change by another client (a
    // deleted object's own values fire nothing, as here): its entries that
    // differ, and its count when that does.
    std::map<int32_t, ListChange> touched;
    auto slotsOf = [](const std::vector<AttrValues>& attrs, int32_t attr) -> const ValueList* {
      for (const AttrValues& av : attrs)
        if (av.attr == attr) return &av.values;
      return nullptr;
    };
    static const ValueList kNone{};
    static const Value kEmpty{};
    for (const auto* side : {&old, &o->attrs})
      for (const AttrValues& av : *side) {
        if (touched.count(av.attr) != 0) continue;
        const ValueList* a = slotsOf(old, av.attr);
        const ValueList* b = slotsOf(o->attrs, av.attr);
        if (!a) a = &kNone;
        if (!b) b = &kNone;
        ListChange change;
        change.count = a->size() != b->size();
        for (size_t k = 0; k < std::max(a->size(), b->size()); ++k)
          if (!SameSlot(k < a->size() ? (*a)[k] : kEmpty, k < b->size() ? (*b)[k] : kEmpty))
            change.entries.push_back(static_cast<uint32_t>(k + 1));
        if (change.count || !change.entries.empty()) touched.emplace(av.attr, std::move(change));
      }
    if (!touched.empty()) ++o->externalChanges;
    for (const auto& [attr, change] : touched) FireReads(id, attr, change);
  }
  o->claims = std::move(so.claims);
  if (so.users.empty())
    users_.erase(id);
  else
    users_[id] = std::move(so.users);
  if (auto made = triggersOf_.find(id); made != triggersOf_.end())
    for (TriggerRec* t : made->second)
      if (t->owner == id) {
        bool kept = std::any_of(so.triggers.begin(), so.triggers.end(),
                                [&](const StoredTrigger& s) { return s.name == t->name; });
        if (!kept) t->owner = 0;
      }
  for (StoredTrigger& row : so.triggers) {
    TriggerRec* t = FindTrigger(id, row.name);
    if (!t) {
      triggers_.push_back(std::make_unique<TriggerRec>());
      t = triggers_.back().get();
      triggersOf_[id].push_back(t);
      t->owner = id;
      t->madeFor = id;
      t->name = row.name;
    }
    t->handler = std::move(row.handler);
    t->option1 = row.option1;
    t->option2 = row.option2;
  }
  return Status{};
}

void StoreCore::ReleaseComObjects() {
  auto drop = [](auto*& p) {
    if (p) {
      auto* q = p;
      p = nullptr;
      q->Release();
    }
  };
  for (auto& [id, o] : objects_) drop(o->com);
  for (auto& c : classes_) drop(c->com);
  for (auto& d : dimensions_) drop(d->com);
  for (auto& [id, p] : projects_) drop(p->com);
  for (auto& f : filters_) drop(f->com);
  for (auto& s : sorts_) drop(s->com);
  for (auto& t : triggers_) drop(t->com);
  auto dropTemplate = [&](TemplateRec* t) {
    drop(t->com);
    for (auto& [key, part] : t->parts) drop(part);
  };
  for (auto& [id, versions] : library_.byId)
    for (auto& [ck, t] : versions) dropTemplate(t.get());
  for (auto& t : library_.retired) dropTemplate(t.get());
  for (auto& a : attributeSpares) drop(a);
  drop(lastFieldValue);
  drop(databaseCom);
  drop(schemaCom);
  drop(libraryCom);
}

// ---------------------------------------------------------------------------

Store::Store(StoreCore* core) : core_(core) {}

Store::~Store() {
  core_->Close();
  core_->Release();
}

Status Store::Open(const std::string& path, OpenMode mode, std::unique_ptr<Store>* store) {
  auto* core = new StoreCore();
  Status s = core->Open(path, mode);
  if (!s.ok()) {
    core->Release();
    return s;
  }
  store->reset(new Store(core));
  return s;
}

IKXQDatabase* Store::Database() const {
  if (core_->closed()) return nullptr;
  IKXQDatabase* db = DatabaseCom(*core_);
  db->Release();  // the core keeps its reference
  return db;
}

IKXQObjectCollection* Store::CreateObjectCollection() const {
  if (core_->closed()) return nullptr;
  return CollectionCom(*core_, {});
}

Status Store::Begin() { return FromHr(core_->Begin()); }
Status Store::Commit() { return FromHr(core_->Commit()); }
Status Store::Rollback() { return FromHr(core_->Rollback()); }
bool Store::InTransaction() const { return core_->InTransaction(); }
Status Store::TakeReadFailure() {
  std::string why = core_->TakeReadFailure();
  if (why.empty()) return Status{};
  // Read without locks while another process committed: a later try may
  // read it whole.
  return Fail(core_->persistence().Moved() ? KXQ_E_BUSY : KXQ_E_STORAGE, std::move(why));
}
void Store::SetObserver(StoreObserver* observer) { core_->observer = observer; }
Status Store::DenyPrivilege(LONG id, const std::u16string& privilege, const std::u16string& place) {
  if (!core_->LiveObject(static_cast<int32_t>(id))) {
    return Fail(KXQ_E_NOOBJECT, "No object " + std::to_string(id));
  }
  const auto key = std::make_pair(static_cast<int32_t>(id), privilege);
  if (place.empty()) {
    core_->deniedPrivileges.erase(key);
  } else {
    core_->deniedPrivileges[key] = place;
  }
  return Status{};
}

void Store::SetRepresentationProvider(RepresentationProvider provider) {
  core_->representations = std::move(provider);
}

Status Store::ImportFixtureFile(const std::string& path, const std::string& name) {
  if (core_->closed()) return Fail(KXQ_E_CLOSED, "The object store is closed");
  if (core_->InTransaction())
    return Fail(KXQ_E_TRANSACTION, "A fixture is imported outside any open transaction");
  return kx::store::ImportFixtureFile(*core_, path, name.empty() ? path : name);
}

Status Store::ImportFixtureText(const std::string& xml, const std::string& name) {
  if (core_->closed()) return Fail(KXQ_E_CLOSED, "The object store is closed");
  if (core_->InTransaction())
    return Fail(KXQ_E_TRANSACTION, "A fixture is imported outside any open transaction");
  return ImportFixture(*core_, xml, name);
}

Status Store::SetActiveProject(LONG projectId) {
  if (!core_->FindProject(projectId))
    return Fail(KXQ_E_NOOBJECT, "No project with id " + std::to_string(projectId));
  core_->activeProject = projectId;
  return Status{};
}

Status Store::RegisterMethod(const std::u16string& className, const std::u16string& name,
                             const VARIANT& result) {
  MethodRec m;
  m.scope = className;
  m.name = name;
  switch (V_VT(&result)) {
    case VT_EMPTY: m.kind = 0; break;
    case VT_BOOL:
      m.kind = 1;
      m.result = result.boolVal ? u"true" : u"false";
      break;
    case VT_I4:
      m.kind = 2;
      m.result = U16(std::to_string(result.lVal).c_str());
      break;
    case VT_BSTR:
      m.kind = 3;
      m.result = FromBstr(result.bstrVal);
      break;
    case VT_ERROR:
      m.kind = 4;
      m.result = u"registered failure";
      break;
    default:
      return Fail(E_INVALIDARG,
                  "A method answers with nothing, a Boolean, an integer, a text or a failure");
  }
  if (!className.empty() && !core_->FindClass(className))
    return Fail(KXQ_E_NOTFOUND, "Unknown class " + ToUtf8(className));
  StoreCore::WriteScope scope(*core_);
  if (FAILED(scope.ok())) return FromHr(scope.Done(scope.ok()));
  return FromHr(scope.Done(core_->AddMethod(m)));
}

long Store::CallCount(const std::u16string& name) const {
  long n = 0;
  for (auto& m : core_->methods())
    if (m->name == name) n += m->calls;
  return n;
}

std::vector<std::u16string> Store::LastArguments(const std::u16string& name) const {
  for (auto& m : core_->methods())
    if (m->name == name && m->calls > 0) return m->lastArguments;
  return {};
}

void Store::FailWriteAfter(long n) { core_->persistence().FailWriteAfter(n); }

void Store::SetLockTimeout(int milliseconds) { core_->SetLockTimeout(milliseconds); }

long Store::ObjectCount() const { return core_->LiveCount(); }

}  // namespace kx::store
