// The administration API and the loading of a store file into memory.
#include <sqlite3.h>

#include <fstream>
#include <sstream>

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
  std::string error;
  if (!db_.Open(path, mode == OpenMode::kOpenExisting, mode == OpenMode::kCreate, &error))
    return Fail(KXQ_E_STORAGE, error);
  closed_ = false;
  Status s = LoadAll();
  if (!s.ok()) {
    db_.Close();
    closed_ = true;
  }
  return s;
}

Status StoreCore::LoadAll() {
  bool ok = true;
  std::string why;
  ok = ok && db_.Query("SELECT id,name,base,description,definition FROM classes ORDER BY id", [&](sqlite3_stmt* st) {
    auto c = std::make_unique<ClassRec>();
    c->id = static_cast<int32_t>(ColInt(st, 0));
    c->name = ColText(st, 1);
    if (!ColIsNull(st, 2)) {
      int32_t base = static_cast<int32_t>(ColInt(st, 2));
      for (auto& b : classes_)
        if (b->id == base) c->base = b.get();
      if (c->base) c->base->subclasses.push_back(c.get());
    }
    c->description = ColText(st, 3);
    c->definition = ColInt(st, 4) != 0;
    nextClassId_ = std::max(nextClassId_, c->id + 1);
    classByName_[c->name] = c.get();
    classes_.push_back(std::move(c));
  });
  std::unordered_map<int32_t, ClassRec*> classById;
  for (auto& c : classes_) classById[c->id] = c.get();
  ok = ok && db_.Query(
                 "SELECT id,class,name,type,is_list,collection,ref_class,dimension,default_unit,doc,path,disciplines,inverse "
                 "FROM attributes ORDER BY id",
                 [&](sqlite3_stmt* st) {
                   auto d = std::make_unique<AttrDef>();
                   d->id = static_cast<int32_t>(ColInt(st, 0));
                   d->owner = classById[static_cast<int32_t>(ColInt(st, 1))];
                   d->name = ColText(st, 2);
                   d->type = static_cast<int>(ColInt(st, 3));
                   d->list = ColInt(st, 4) != 0;
                   d->collection = ColInt(st, 5) != 0;
                   d->refClass = ColText(st, 6);
                   d->dimension = ColText(st, 7);
                   d->defaultUnit = ColText(st, 8);
                   d->doc = ColText(st, 9);
                   d->path = ColText(st, 10);
                   d->disciplines = ColText(st, 11);
                   d->inverse = ColText(st, 12);
                   nextAttrId_ = std::max(nextAttrId_, d->id + 1);
                   if (d->owner) d->owner->own.push_back(d.get());
                   attrs_[d->id] = std::move(d);
                 });
  ok = ok && db_.Query("SELECT id,class,owner,holder,holder_attr,flags FROM objects ORDER BY id", [&](sqlite3_stmt* st) {
    auto o = std::make_unique<ObjectRec>();
    o->id = static_cast<int32_t>(ColInt(st, 0));
    o->cls = classById[static_cast<int32_t>(ColInt(st, 1))];
    o->owner = static_cast<int32_t>(ColInt(st, 2));
    o->holder = static_cast<int32_t>(ColInt(st, 3));
    o->holderAttr = ColText(st, 4);
    o->flags = static_cast<uint32_t>(ColInt(st, 5));
    if (!o->cls) {
      why = "object " + std::to_string(o->id) + " has an unknown class";
      return;
    }
    o->cls->instances[o->id] = true;
    nextObjectId_ = std::max(nextObjectId_, o->id + 1);
    ++liveCount_;
    objects_[o->id] = std::move(o);
  });
  ObjectRec* cur = nullptr;
  std::vector<Value>* list = nullptr;
  int32_t curAttr = 0;
  ok = ok && db_.Query(
                 "SELECT obj,attr,pos,kind,num,txt,flags,hold,prefix,postfix,subst,bin FROM vals ORDER BY obj,attr,pos",
                 [&](sqlite3_stmt* st) {
                   int32_t obj = static_cast<int32_t>(ColInt(st, 0));
                   int32_t attr = static_cast<int32_t>(ColInt(st, 1));
                   if (!cur || cur->id != obj) {
                     cur = FindObject(obj);
                     list = nullptr;
                   }
                   if (!cur) return;
                   if (!list || curAttr != attr) {
                     list = &cur->Get(attr);
                     curAttr = attr;
                   }
                   size_t pos = static_cast<size_t>(ColInt(st, 2));
                   if (pos < 1 || pos > kMaxPosition) return;
                   if (list->size() < pos) list->resize(pos);
                   Value& v = (*list)[pos - 1];
                   v.kind = static_cast<uint8_t>(ColInt(st, 3));
                   if (v.kind == KXQ_TYPE_REAL || v.kind == KXQ_TYPE_DATE) v.r = ColReal(st, 4);
                   else v.i = ColInt(st, 4);
                   v.text = ColText(st, 5);
                   v.flags = static_cast<uint32_t>(ColInt(st, 6));
                   if (!ColIsNull(st, 7) || !ColIsNull(st, 8) || !ColIsNull(st, 9) || !ColIsNull(st, 10) ||
                       !ColIsNull(st, 11)) {
                     ValueExtra& x = v.ex();
                     x.hold = static_cast<int32_t>(ColInt(st, 7));
                     x.prefix = ColText(st, 8);
                     x.postfix = ColText(st, 9);
                     x.subst = ColText(st, 10);
                     x.bin = ColBlob(st, 11);
                   }
                   if (v.kind == KXQ_TYPE_OBJECT) IndexRef(static_cast<int32_t>(v.i), obj, attr);
                 });
  ok = ok && db_.Query("SELECT name,base_unit FROM dimensions ORDER BY seq", [&](sqlite3_stmt* st) {
    auto d = std::make_unique<DimensionRec>();
    d->name = ColText(st, 0);
    d->baseUnit = ColText(st, 1);
    dimensions_.push_back(std::move(d));
  });
  ok = ok && db_.Query("SELECT name,dimension,factor,offset,display FROM units ORDER BY seq", [&](sqlite3_stmt* st) {
    auto u = std::make_unique<UnitRec>();
    u->name = ColText(st, 0);
    u->dimension = ColText(st, 1);
    u->factor = ColReal(st, 2);
    u->offset = ColReal(st, 3);
    u->display = ColText(st, 4);
    if (DimensionRec* d = FindDimension(u->dimension)) d->units.push_back(u->name);
    units_[u->name] = std::move(u);
  });
  ok = ok && db_.Query("SELECT set_name,dimension,unit FROM dimension_sets ORDER BY seq", [&](sqlite3_stmt* st) {
    u16 name = ColText(st, 0);
    DimensionSetRec* s = FindDimensionSet(name);
    if (!s) {
      dimensionSets_.push_back(std::make_unique<DimensionSetRec>());
      s = dimensionSets_.back().get();
      s->name = name;
    }
    s->units[ColText(st, 1)] = ColText(st, 2);
  });
  ok = ok && db_.Query("SELECT id,name,parent FROM projects ORDER BY id", [&](sqlite3_stmt* st) {
    auto p = std::make_unique<ProjectRec>();
    p->id = static_cast<int32_t>(ColInt(st, 0));
    p->name = ColText(st, 1);
    p->parent = static_cast<int32_t>(ColInt(st, 2));
    projects_[p->id] = std::move(p);
  });
  for (auto& [id, p] : projects_)
    if (ProjectRec* parent = FindProject(p->parent)) parent->children.push_back(id);
  ok = ok && db_.Query("SELECT id,name FROM cases", [&](sqlite3_stmt* st) {
    cases_[static_cast<int32_t>(ColInt(st, 0))] = ColText(st, 1);
  });
  ok = ok && db_.Query("SELECT name,title,class,attribute,value FROM filters ORDER BY seq", [&](sqlite3_stmt* st) {
    auto f = std::make_unique<FilterRec>();
    f->name = ColText(st, 0);
    f->title = ColText(st, 1);
    f->className = ColText(st, 2);
    f->attribute = ColText(st, 3);
    f->value = ColText(st, 4);
    filters_.push_back(std::move(f));
  });
  ok = ok && db_.Query("SELECT code,title,attribute,descending FROM sorts ORDER BY seq", [&](sqlite3_stmt* st) {
    auto s = std::make_unique<SortRec>();
    s->code = ColText(st, 0);
    s->title = ColText(st, 1);
    s->attribute = ColText(st, 2);
    s->descending = ColInt(st, 3) != 0;
    sorts_.push_back(std::move(s));
  });
  ok = ok && db_.Query("SELECT scope,name,kind,result FROM methods ORDER BY seq", [&](sqlite3_stmt* st) {
    auto m = std::make_unique<MethodRec>();
    m->scope = ColText(st, 0);
    m->name = ColText(st, 1);
    m->kind = static_cast<int>(ColInt(st, 2));
    m->result = ColText(st, 3);
    methods_.push_back(std::move(m));
  });
  ok = ok && db_.Query("SELECT obj,project FROM claims", [&](sqlite3_stmt* st) {
    claims_[static_cast<int32_t>(ColInt(st, 0))].push_back(static_cast<int32_t>(ColInt(st, 1)));
  });
  ok = ok && db_.Query("SELECT obj,name,status FROM users", [&](sqlite3_stmt* st) {
    users_[static_cast<int32_t>(ColInt(st, 0))].push_back(UserRec{ColText(st, 1), static_cast<LONG>(ColInt(st, 2))});
  });
  ok = ok && db_.Query("SELECT obj,name,handler,option1,option2 FROM triggers", [&](sqlite3_stmt* st) {
    auto t = std::make_unique<TriggerRec>();
    t->owner = static_cast<int32_t>(ColInt(st, 0));
    t->name = ColText(st, 1);
    t->handler = ColText(st, 2);
    t->option1 = static_cast<LONG>(ColInt(st, 3));
    t->option2 = static_cast<LONG>(ColInt(st, 4));
    triggers_.push_back(std::move(t));
  });
  std::vector<std::string> xmls;
  ok = ok && db_.Query("SELECT xml FROM templates ORDER BY id, checknum", [&](sqlite3_stmt* st) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    xmls.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
  });
  ok = ok && db_.Query("SELECT id FROM retired", [&](sqlite3_stmt* st) {
    retired_.insert(static_cast<int32_t>(ColInt(st, 0)));
  });
  ok = ok && db_.Query("SELECT value FROM meta WHERE key='next_object_id'", [&](sqlite3_stmt* st) {
    nextObjectId_ = std::max(nextObjectId_, static_cast<int32_t>(ColInt(st, 0)));
  });
  ok = ok && db_.Query("SELECT key,value FROM meta WHERE key IN ('templates_folder','bitmap_folder')",
                       [&](sqlite3_stmt* st) {
                         (ColText(st, 0) == u"bitmap_folder" ? library_.bitmapFolder : library_.templatesFolder) =
                             ColText(st, 1);
                       });
  persistedNextId_ = nextObjectId_;
  if (!ok) return Fail(KXQ_E_STORAGE, "Cannot read the store: " + db_.LastError());
  if (!why.empty()) return Fail(KXQ_E_STORAGE, "The store is damaged: " + why);
  for (const std::string& xml : xmls) {
    std::unique_ptr<TemplateRec> t;
    Status s = ParseTemplateXml(*this, xml, &t);
    if (!s.ok()) return Fail(KXQ_E_STORAGE, "A stored template cannot be read: " + s.message);
    u16 id = t->id, ck = t->checknum;
    library_.byId[id][ck] = std::move(t);
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

Status Store::Begin() { return FromHr(core_->Begin()); }
Status Store::Commit() { return FromHr(core_->Commit()); }
Status Store::Rollback() { return FromHr(core_->Rollback()); }
bool Store::InTransaction() const { return core_->InTransaction(); }
void Store::SetObserver(StoreObserver* observer) { core_->observer = observer; }

Status Store::ImportFixtureFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(E_INVALIDARG, path + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return ImportFixtureText(text.str(), path);
}

Status Store::ImportFixtureText(const std::string& xml, const std::string& name) {
  if (core_->closed()) return Fail(KXQ_E_CLOSED, "The object store is closed");
  if (core_->InTransaction()) return Fail(KXQ_E_TRANSACTION, "A fixture is imported outside any open transaction");
  return ImportFixture(*core_, xml, name);
}

Status Store::SetActiveProject(LONG projectId) {
  if (!core_->FindProject(projectId)) return Fail(KXQ_E_NOOBJECT, "No project with id " + std::to_string(projectId));
  core_->activeProject = projectId;
  return Status{};
}

Status Store::RegisterMethod(const std::u16string& className, const std::u16string& name, const VARIANT& result) {
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
    default: return Fail(E_INVALIDARG, "A method answers with nothing, a Boolean, an integer, a text or a failure");
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

void Store::FailWriteAfter(long n) { core_->db().FailWriteAfter(n); }

long Store::ObjectCount() const { return core_->LiveCount(); }

}  // namespace kx::store
