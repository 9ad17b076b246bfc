// The store's persistence in one SQLite file, with the change log through
// which processes sharing the file learn what the others committed.
#include <algorithm>
#include <cstdint>
#include <set>
#include <sqlite3.h>

#include "store/internal/db.h"
#include "store/internal/persistence.h"

namespace kx::store {

namespace {

// Commits the log keeps at least; a process further behind reads
// everything again.
constexpr int64_t kLogLength = 1000;
// The oldest entries are dropped this many at a time (about a page of the
// log): a commit that also dropped one would write the log's first page
// besides its last one.
constexpr int64_t kLogPruneEvery = 256;
// A commit naming more objects than this is logged as a full change.
constexpr size_t kLogMaxObjects = 4096;

// The log names objects as 4-byte little-endian ids.
void EncodeId(int32_t id, std::string* out) {
  const uint32_t u = static_cast<uint32_t>(id);
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<char>((u >> (8 * k)) & 0xff));
}
int32_t DecodeId(const char* p) {
  uint32_t u = 0;
  for (int k = 0; k < 4; ++k)
    u |= static_cast<uint32_t>(static_cast<unsigned char>(p[k])) << (8 * k);
  return static_cast<int32_t>(u);
}

void ReadValue(sqlite3_stmt* st, int col, Value* v) {
  v->kind = static_cast<uint8_t>(ColInt(st, col));
  if (v->kind == KXQ_TYPE_REAL || v->kind == KXQ_TYPE_DATE)
    v->r = ColReal(st, col + 1);
  else
    v->i = ColInt(st, col + 1);
  v->text = ColText(st, col + 2);
  v->flags = static_cast<uint32_t>(ColInt(st, col + 3));
  if (!ColIsNull(st, col + 4) || !ColIsNull(st, col + 5) || !ColIsNull(st, col + 6) ||
      !ColIsNull(st, col + 7) || !ColIsNull(st, col + 8)) {
    ValueExtra& x = v->ex();
    x.hold = static_cast<int32_t>(ColInt(st, col + 4));
    x.prefix = ColText(st, col + 5);
    x.postfix = ColText(st, col + 6);
    x.subst = ColText(st, col + 7);
    x.bin = ColBlob(st, col + 8);
  }
}

// Puts a value read at (attr, pos) into the object's lists (sorted by attr).
void PlaceValue(StoredObject* o, int32_t attr, int64_t pos, sqlite3_stmt* st, int col) {
  if (pos < 1 || static_cast<size_t>(pos) > kMaxPosition) return;
  if (o->attrs.empty() || o->attrs.back().attr != attr) o->attrs.push_back(AttrValues{attr, {}});
  ValueList& list = o->attrs.back().values;
  if (list.size() < static_cast<size_t>(pos)) list.resize(static_cast<size_t>(pos));
  ReadValue(st, col, &list[static_cast<size_t>(pos) - 1]);
}

class SqlitePersistence final : public Persistence {
 public:
  bool Open(const std::string& path, bool mustExist, bool mustNotExist, bool readOnly,
            std::string* error) override {
    if (!db_.Open(path, mustExist, mustNotExist, readOnly, error)) return false;
    private_ = path == ":memory:";
    if (!CurrentVersion(&seen_)) {
      *error = "Cannot read " + path + ": " + db_.LastError();
      db_.Close();
      return false;
    }
    return true;
  }
  bool NotAStore() const override { return db_.NotAStore(); }
  bool InUse() const override { return db_.InUse(); }
  bool ReadOnly() const override { return db_.ReadOnly(); }
  bool Moved() const override { return db_.Moved(); }
  void Close() override { db_.Close(); }
  void SetLockTimeout(int milliseconds) override { db_.SetBusyTimeout(milliseconds); }
  const std::string& LastError() const override { return db_.LastError(); }
  bool Private() const override { return private_; }
  void FailWriteAfter(long n) override { db_.FailWriteAfter(n); }

  bool LoadTables(StoredTables* out) override;
  bool LoadObject(int32_t id, StoredObject* out) override;
  bool LoadObjectRow(int32_t id, StoredObject* out) override;
  bool LoadTemplate(const u16& id, const u16& checknum, std::string* xml) override {
    xml->clear();
    return db_.Query("SELECT xml FROM templates WHERE id=? AND checknum=?", {id, checknum},
                     [&](sqlite3_stmt* st) {
                       const unsigned char* x = sqlite3_column_text(st, 0);
                       if (x)
                         xml->assign(reinterpret_cast<const char*>(x),
                                     static_cast<size_t>(sqlite3_column_bytes(st, 0)));
                     });
  }
  bool Extent(const std::vector<int32_t>& classes, std::vector<int32_t>* ids) override {
    ids->clear();
    bool ok = true;
    for (int32_t c : classes)
      ok = ok && db_.Query("SELECT id FROM objects WHERE class=?", {c}, [&](sqlite3_stmt* st) {
        ids->push_back(static_cast<int32_t>(ColInt(st, 0)));
      });
    // One class's rows come in id order already: sorting them anyway costs
    // a large extent n log n for nothing. Several classes are merged.
    if (!std::is_sorted(ids->begin(), ids->end())) std::sort(ids->begin(), ids->end());
    return ok;
  }
  bool Referrers(int32_t target, std::vector<std::pair<int32_t, int32_t>>* sites) override {
    sites->clear();
    return db_.Query(
        "SELECT DISTINCT obj, attr FROM vals WHERE kind=3 AND num=? ORDER BY obj, attr", {target},
        [&](sqlite3_stmt* st) {
          sites->emplace_back(static_cast<int32_t>(ColInt(st, 0)),
                              static_cast<int32_t>(ColInt(st, 1)));
        });
  }
  bool Dependents(int32_t id, std::vector<int32_t>* ids) override {
    ids->clear();
    return db_.Query(
        "SELECT id FROM objects WHERE owner=?1 UNION SELECT id FROM objects WHERE holder=?1 ORDER "
        "BY 1",
        {id}, [&](sqlite3_stmt* st) { ids->push_back(static_cast<int32_t>(ColInt(st, 0))); });
  }
  bool CountObjects(long* count) override {
    *count = 0;
    return db_.Query("SELECT count(*) FROM objects",
                     [&](sqlite3_stmt* st) { *count = static_cast<long>(ColInt(st, 0)); });
  }
  // Each statement keeps the pages it changes in a statement journal, which
  // SQLite spills to a temporary file once one statement's passes 64 KiB;
  // from then on every statement of the transaction writes its pages there
  // (a gigabyte for a plant of 8,000 datasheets). In memory it is emptied
  // after each statement.
  // A pragma that fails only costs room.
  void SetBulkWriting(bool on) override {
    (void)db_.Query(on ? "PRAGMA temp_store=MEMORY" : "PRAGMA temp_store=DEFAULT",
                    [](sqlite3_stmt*) {});
  }
  Lock Begin(CatchUp* out) override;
  bool Commit() override;
  void Rollback() override {
    db_.Rollback();
    changed_.clear();
    manyChanged_ = wrote_ = tables_ = false;
  }

  bool PutClass(const ClassRec& c) override {
    return Table(db_.Run(
        "INSERT INTO classes(id,name,base,description,definition) VALUES(?,?,?,?,?)",
        {c.id, c.name, c.base ? SqlArg(c.base->id) : SqlArg(), c.description, c.definition}));
  }
  bool PutAttr(const AttrDef& d) override {
    if (d.link != 0 &&
        !Table(db_.Run("INSERT INTO attribute_links(attr,obj) VALUES(?,?)", {d.id, d.link}))) {
      return false;
    }
    return Table(
        db_.Run("INSERT INTO attributes(id,class,name,type,is_list,collection,ref_class,dimension,"
                "default_unit,doc,path,disciplines,inverse) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)",
                {d.id, d.owner->id, d.name, d.type, d.list, d.collection, d.refClass, d.dimension,
                 d.defaultUnit, d.doc, d.path, d.disciplines, d.inverse}));
  }
  // An upsert: the row is referred to by values, claims, users and
  // triggers, which a delete (or INSERT OR REPLACE) would take with it.
  bool PutObject(const ObjectRec& o) override {
    return Obj(
        o.id,
        db_.Run("INSERT INTO objects(id,class,owner,holder,holder_attr,flags) VALUES(?,?,?,?,?,?) "
                "ON CONFLICT(id) DO UPDATE SET class=excluded.class, owner=excluded.owner, "
                "holder=excluded.holder, holder_attr=excluded.holder_attr, flags=excluded.flags",
                {o.id, o.cls->id, o.owner ? SqlArg(o.owner) : SqlArg(),
                 o.holder ? SqlArg(o.holder) : SqlArg(), o.holderAttr,
                 static_cast<long long>(o.flags)}));
  }
  bool DeleteObject(int32_t id) override {
    return Obj(id, db_.Run("DELETE FROM objects WHERE id=?", {id}) &&
                       db_.Run("INSERT OR IGNORE INTO retired(id) VALUES(?)", {id}));
  }
  bool WriteTail(int32_t obj, int32_t attr, const ValueList& values, size_t from,
                 bool grown) override {
    return Obj(obj, db_.WriteTail(obj, attr, values.data(), values.size(), from, grown));
  }
  bool WriteSlot(int32_t obj, int32_t attr, size_t pos, const Value& v) override {
    return Obj(obj, db_.WriteSlot(obj, attr, pos, v));
  }
  bool PutDimension(const u16& name, const u16& baseUnit) override {
    return Table(db_.Run(
        "INSERT INTO dimensions(name,base_unit) VALUES(?,?) ON CONFLICT(name) DO UPDATE SET "
        "base_unit=excluded.base_unit",
        {name, baseUnit}));
  }
  bool PutUnit(const UnitRec& u) override {
    return Table(
        db_.Run("INSERT INTO units(name,dimension,factor,offset,display) VALUES(?,?,?,?,?)",
                {u.name, u.dimension, u.factor, u.offset, u.display}));
  }
  bool PutDimensionSetUnit(const u16& set, const u16& dimension, const u16& unit) override {
    return Table(
        db_.Run("INSERT INTO dimension_sets(set_name,dimension,unit) VALUES(?,?,?) "
                "ON CONFLICT(set_name,dimension) DO UPDATE SET unit=excluded.unit",
                {set, dimension, unit}));
  }
  bool PutProject(int32_t id, const u16& name, int32_t parent) override {
    return Table(db_.Run("INSERT INTO projects(id,name,parent) VALUES(?,?,?)",
                         {id, name, parent ? SqlArg(parent) : SqlArg()}));
  }
  bool PutCase(int32_t id, const u16& name) override {
    return Table(db_.Run(
        "INSERT INTO cases(id,name) VALUES(?,?) ON CONFLICT(id) DO UPDATE SET name=excluded.name",
        {id, name}));
  }
  bool PutFilter(const FilterRec& f) override {
    return Table(db_.Run("INSERT INTO filters(name,title,class,attribute,value) VALUES(?,?,?,?,?)",
                         {f.name, f.title, f.className, f.attribute, f.value}));
  }
  bool PutSort(const SortRec& s) override {
    return Table(db_.Run("INSERT INTO sorts(code,title,attribute,descending) VALUES(?,?,?,?)",
                         {s.code, s.title, s.attribute, s.descending}));
  }
  bool PutMethod(const MethodRec& m) override {
    return Table(db_.Run(
        "INSERT INTO methods(scope,name,kind,result) VALUES(?,?,?,?) ON CONFLICT(scope,name) "
        "DO UPDATE SET kind=excluded.kind, result=excluded.result",
        {m.scope, m.name, m.kind, m.result}));
  }
  bool PutClaim(int32_t obj, int32_t project) override {
    return Obj(obj,
               db_.Run("INSERT OR IGNORE INTO claims(obj,project) VALUES(?,?)", {obj, project}));
  }
  bool PutUser(int32_t obj, const u16& name, LONG status) override {
    return Obj(
        obj, status > 0
                 ? db_.Run("INSERT INTO users(obj,name,status) VALUES(?,?,?) ON CONFLICT(obj,name) "
                           "DO UPDATE SET status=excluded.status",
                           {obj, name, status})
                 : db_.Run("DELETE FROM users WHERE obj=? AND name=?", {obj, name}));
  }
  bool AddWorkflow(int32_t obj, LONG code, const u16& text) override {
    return Wrote(db_.Run("INSERT INTO workflow(obj,code,text) VALUES(?,?,?)", {obj, code, text}));
  }
  bool PutTrigger(int32_t obj, const TriggerRec& t) override {
    return Obj(obj,
               db_.Run("INSERT INTO triggers(obj,name,handler,option1,option2) VALUES(?,?,?,?,?) "
                       "ON CONFLICT(obj,name) DO UPDATE SET handler=excluded.handler, "
                       "option1=excluded.option1, option2=excluded.option2",
                       {obj, t.name, t.handler, t.option1, t.option2}));
  }
  void LogChanged(int32_t obj) override { (void)Obj(obj, true); }
  bool RemoveTrigger(int32_t obj, const u16& name) override {
    return Obj(obj, db_.Run("DELETE FROM triggers WHERE obj=? AND name=?", {obj, name}));
  }
  bool PutFolder(bool bitmaps, const u16& path) override {
    return Table(
        db_.Run("INSERT INTO meta(key,value) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET "
                "value=excluded.value",
                {bitmaps ? "bitmap_folder" : "templates_folder", path}));
  }
  bool PutNextObjectId(int32_t id) override {
    return Wrote(db_.Run(
        "INSERT INTO meta(key,value) VALUES('next_object_id',?) ON CONFLICT(key) DO UPDATE SET "
        "value=max(value, excluded.value)",
        {id}));
  }
  bool PutTemplate(const u16& id, const u16& checknum, const std::string& xml) override {
    return Table(db_.Run("INSERT INTO templates(id,checknum,xml) VALUES(?,?,?)",
                         {id, checknum, xml.c_str()}));
  }

  Db& db() { return db_; }

 private:
  bool Wrote(bool ok) {
    wrote_ = wrote_ || ok;
    return ok;
  }
  bool Obj(int32_t id, bool ok) {
    // Past the most a log entry names, the commit is logged as a full
    // change: the ids are not kept (an import changes every object).
    if (ok && !manyChanged_) {
      changed_.insert(id);
      if (changed_.size() > kLogMaxObjects) {
        manyChanged_ = true;
        changed_.clear();
      }
    }
    return Wrote(ok);
  }
  bool Table(bool ok) {
    tables_ = tables_ || ok;
    return Wrote(ok);
  }
  // The last version the change log names (0: none); false when it cannot
  // be read.
  bool CurrentVersion(int64_t* version);
  // No read transaction stays open between transactions: it would keep
  // other processes' commits from being checkpointed, and the write-ahead
  // log would grow for as long as this process idles. A reading of several
  // statements outside a transaction (an object, the tables) runs in a read
  // transaction of its own, so that it sees one state of the file; objects
  // first read then may be ahead of those read before, until the next
  // transaction's catch-up reads them again (the log names them).
  class ReadScope {
   public:
    explicit ReadScope(Db& db) : db_(db) {
      if (!db_.IsOpen() || db_.InTransaction()) return;
      own_ = db_.Begin(false);
      failed_ = !own_;
    }
    ~ReadScope() {
      if (own_) db_.Rollback();
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;
    // The read transaction could not begin (LastError): nothing is read.
    bool failed() const { return failed_; }

   private:
    Db& db_;
    bool own_ = false;
    bool failed_ = false;
  };

  Db db_;
  int64_t seen_ = 0;      // the last version this process knows of
  bool private_ = false;  // ":memory:": no other connection reaches it
  std::set<int32_t> changed_;
  bool manyChanged_ = false;  // more than changed_ may name
  bool wrote_ = false, tables_ = false;
};

bool SqlitePersistence::CurrentVersion(int64_t* version) {
  *version = 0;
  return db_.Query("SELECT max(version) FROM changelog",
                   [&](sqlite3_stmt* st) { *version = ColInt(st, 0); });
}

bool SqlitePersistence::LoadTables(StoredTables* t) {
  ReadScope reading(db_);
  bool ok = !reading.failed();
  ok = ok &&
       db_.Query("SELECT id,name,base,description,definition FROM classes ORDER BY id",
                 [&](sqlite3_stmt* st) {
                   t->classes.push_back(StoredClass{
                       static_cast<int32_t>(ColInt(st, 0)), ColText(st, 1),
                       static_cast<int32_t>(ColInt(st, 2)), ColText(st, 3), ColInt(st, 4) != 0});
                 });
  ok = ok && db_.Query(
                 "SELECT "
                 "id,class,name,type,is_list,collection,ref_class,dimension,default_unit,doc,path,"
                 "disciplines,inverse "
                 "FROM attributes ORDER BY id",
                 [&](sqlite3_stmt* st) {
                   StoredAttr a;
                   a.cls = static_cast<int32_t>(ColInt(st, 1));
                   AttrDef& d = a.def;
                   d.id = static_cast<int32_t>(ColInt(st, 0));
                   d.name = ColText(st, 2);
                   d.type = static_cast<int>(ColInt(st, 3));
                   d.list = ColInt(st, 4) != 0;
                   d.collection = ColInt(st, 5) != 0;
                   d.refClass = ColText(st, 6);
                   d.dimension = ColText(st, 7);
                   d.defaultUnit = ColText(st, 8);
                   d.doc = ColText(st, 9);
                   d.path = ColText(st, 10);
                   d.disciplines = ColText(st, 11);
                   d.inverse = ColText(st, 12);
                   t->attrs.push_back(std::move(a));
                 });
  ok = ok && db_.Query("SELECT attr,obj FROM attribute_links", [&](sqlite3_stmt* st) {
    const auto attr = static_cast<int32_t>(ColInt(st, 0));
    for (StoredAttr& a : t->attrs) {
      if (a.def.id == attr) a.def.link = static_cast<int32_t>(ColInt(st, 1));
    }
  });
  ok = ok && db_.Query("SELECT name,base_unit FROM dimensions ORDER BY seq", [&](sqlite3_stmt* st) {
    DimensionRec d;
    d.name = ColText(st, 0);
    d.baseUnit = ColText(st, 1);
    t->dimensions.push_back(std::move(d));
  });
  ok = ok && db_.Query("SELECT name,dimension,factor,offset,display FROM units ORDER BY seq",
                       [&](sqlite3_stmt* st) {
                         t->units.push_back(UnitRec{ColText(st, 0), ColText(st, 1), ColReal(st, 2),
                                                    ColReal(st, 3), ColText(st, 4)});
                       });
  ok = ok && db_.Query("SELECT set_name,dimension,unit FROM dimension_sets ORDER BY seq",
                       [&](sqlite3_stmt* st) {
                         t->dimensionSets.push_back(StoredTables::DimensionSetUse{
                             ColText(st, 0), ColText(st, 1), ColText(st, 2)});
                       });
  ok = ok && db_.Query("SELECT id,name,parent FROM projects ORDER BY id", [&](sqlite3_stmt* st) {
    ProjectRec p;
    p.id = static_cast<int32_t>(ColInt(st, 0));
    p.name = ColText(st, 1);
    p.parent = static_cast<int32_t>(ColInt(st, 2));
    t->projects.push_back(std::move(p));
  });
  ok = ok && db_.Query("SELECT id,name FROM cases ORDER BY id", [&](sqlite3_stmt* st) {
    t->cases.emplace_back(static_cast<int32_t>(ColInt(st, 0)), ColText(st, 1));
  });
  ok = ok && db_.Query("SELECT name,title,class,attribute,value FROM filters ORDER BY seq",
                       [&](sqlite3_stmt* st) {
                         FilterRec f;
                         f.name = ColText(st, 0);
                         f.title = ColText(st, 1);
                         f.className = ColText(st, 2);
                         f.attribute = ColText(st, 3);
                         f.value = ColText(st, 4);
                         t->filters.push_back(std::move(f));
                       });
  ok = ok && db_.Query("SELECT code,title,attribute,descending FROM sorts ORDER BY seq",
                       [&](sqlite3_stmt* st) {
                         SortRec s;
                         s.code = ColText(st, 0);
                         s.title = ColText(st, 1);
                         s.attribute = ColText(st, 2);
                         s.descending = ColInt(st, 3) != 0;
                         t->sorts.push_back(std::move(s));
                       });
  ok = ok &&
       db_.Query("SELECT scope,name,kind,result FROM methods ORDER BY seq", [&](sqlite3_stmt* st) {
         MethodRec m;
         m.scope = ColText(st, 0);
         m.name = ColText(st, 1);
         m.kind = static_cast<int>(ColInt(st, 2));
         m.result = ColText(st, 3);
         t->methods.push_back(std::move(m));
       });
  ok = ok &&
       db_.Query("SELECT id, checknum FROM templates ORDER BY id, checknum", [&](sqlite3_stmt* st) {
         t->templates.emplace_back(ColText(st, 0), ColText(st, 1));
       });
  ok = ok && db_.Query(
                 "SELECT key,value FROM meta WHERE key IN "
                 "('templates_folder','bitmap_folder','next_object_id')",
                 [&](sqlite3_stmt* st) {
                   u16 key = ColText(st, 0);
                   if (key == u"next_object_id") {
                     t->nextObjectId = static_cast<int32_t>(ColInt(st, 1));
                   } else if (key == u"bitmap_folder") {
                     t->hasBitmapFolder = true;
                     t->bitmapFolder = ColText(st, 1);
                   } else {
                     t->hasTemplatesFolder = true;
                     t->templatesFolder = ColText(st, 1);
                   }
                 });
  // Files written before the counter was kept: past every id ever given.
  ok = ok && db_.Query("SELECT max(id) FROM objects UNION ALL SELECT max(id) FROM retired",
                       [&](sqlite3_stmt* st) {
                         const int64_t top = ColInt(st, 0);
                         if (top >= t->nextObjectId && top <= INT32_MAX)
                           t->nextObjectId = IdAfter(static_cast<int32_t>(top));
                       });
  return ok;
}

bool SqlitePersistence::LoadObjectRow(int32_t id, StoredObject* o) {
  ReadScope reading(db_);
  *o = StoredObject();
  o->id = id;
  return !reading.failed() &&
         db_.Query("SELECT class,owner,holder,holder_attr,flags FROM objects WHERE id=?", {id},
                   [&](sqlite3_stmt* q) {
                     o->exists = true;
                     o->cls = static_cast<int32_t>(ColInt(q, 0));
                     o->owner = static_cast<int32_t>(ColInt(q, 1));
                     o->holder = static_cast<int32_t>(ColInt(q, 2));
                     o->holderAttr = ColText(q, 3);
                     o->flags = static_cast<uint32_t>(ColInt(q, 4));
                   }) &&
         (o->exists || db_.Query("SELECT id FROM retired WHERE id=?", {id},
                                 [&](sqlite3_stmt*) { o->retired = true; }));
}

bool SqlitePersistence::LoadObject(int32_t id, StoredObject* o) {
  ReadScope reading(db_);
  if (reading.failed() || !LoadObjectRow(id, o)) return false;
  auto each = [&](const char* sql, auto&& fn) { return db_.Query(sql, {id}, fn); };
  return each(
             "SELECT attr,pos,kind,num,txt,flags,hold,prefix,postfix,subst,bin FROM vals WHERE "
             "obj=? ORDER BY attr,pos",
             [&](sqlite3_stmt* q) {
               PlaceValue(o, static_cast<int32_t>(ColInt(q, 0)), ColInt(q, 1), q, 2);
             }) &&
         each("SELECT project FROM claims WHERE obj=? ORDER BY rowid",
              [&](sqlite3_stmt* q) { o->claims.push_back(static_cast<int32_t>(ColInt(q, 0))); }) &&
         each("SELECT name,status FROM users WHERE obj=? ORDER BY rowid",
              [&](sqlite3_stmt* q) {
                o->users.push_back(UserRec{ColText(q, 0), static_cast<LONG>(ColInt(q, 1))});
              }) &&
         each("SELECT name,handler,option1,option2 FROM triggers WHERE obj=?",
              [&](sqlite3_stmt* q) {
                o->triggers.push_back(StoredTrigger{ColText(q, 0), ColText(q, 1),
                                                    static_cast<LONG>(ColInt(q, 2)),
                                                    static_cast<LONG>(ColInt(q, 3))});
              });
}

Persistence::Lock SqlitePersistence::Begin(CatchUp* out) {
  *out = CatchUp();
  changed_.clear();
  manyChanged_ = wrote_ = tables_ = false;
  // Between calls a file read without locks that another process opened
  // or wrote is read again, whole, as it is now.
  bool again = false;
  if (!db_.Begin(true)) {
    if (!db_.Moved()) return db_.Busy() ? Lock::kBusy : Lock::kFailed;
    if (!db_.Reopen() || !db_.Begin(true)) return Lock::kMoved;
    again = true;
  }
  int64_t version = 0;
  if (!CurrentVersion(&version)) {
    db_.Rollback();
    return db_.Moved() ? Lock::kMoved : Lock::kFailed;
  }
  if (version == seen_ && !again) return Lock::kTaken;
  out->changed = true;
  out->full = again;
  int64_t oldest = version + 1;
  std::set<int32_t> objs;
  bool ok = db_.Query("SELECT version,full,objects FROM changelog WHERE version>? ORDER BY version",
                      {static_cast<long long>(seen_)}, [&](sqlite3_stmt* st) {
                        oldest = std::min(oldest, ColInt(st, 0));
                        if (ColInt(st, 1)) out->full = true;
                        std::string ids = ColBlob(st, 2);
                        for (size_t k = 0; k + 4 <= ids.size(); k += 4)
                          objs.insert(DecodeId(ids.data() + k));
                      });
  // The log no longer reaches back to what this process saw (or the file
  // was changed without it, by a version before the log).
  if (oldest != seen_ + 1 || version < seen_) out->full = true;
  ok = ok && db_.Query("SELECT value FROM meta WHERE key='next_object_id'", [&](sqlite3_stmt* q) {
    out->nextObjectId = static_cast<int32_t>(ColInt(q, 0));
  });
  if (!ok) {
    db_.Rollback();
    return db_.Moved() ? Lock::kMoved : Lock::kFailed;
  }
  out->objects.assign(objs.begin(), objs.end());
  seen_ = version;
  return Lock::kTaken;
}

bool SqlitePersistence::Commit() {
  if (wrote_) {
    int64_t version = 0;
    if (!CurrentVersion(&version)) return false;
    ++version;
    const bool full = tables_ || manyChanged_;
    std::string ids;
    if (!full) {
      for (int32_t id : changed_) EncodeId(id, &ids);
    }
    if (!db_.Run("INSERT INTO changelog(version,full,objects) VALUES(?,?,?)",
                 {version, full, SqlArg::Blob(ids)}))
      return false;
    if (version % kLogPruneEvery == 0 &&
        !db_.Run("DELETE FROM changelog WHERE version<=?", {version - kLogLength}))
      return false;
    if (!db_.Commit()) return false;
    seen_ = version;
    db_.BoundLog();
  } else if (!db_.Commit()) {
    return false;
  }
  changed_.clear();
  manyChanged_ = wrote_ = tables_ = false;
  return true;
}

}  // namespace

std::unique_ptr<Persistence> MakeSqlitePersistence() {
  return std::make_unique<SqlitePersistence>();
}

}  // namespace kx::store
