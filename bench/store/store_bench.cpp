// Benchmark of the object store against bare SQLite doing the same rows.
//
// A generated store of KXQ_BENCH_OBJECTS objects (default 100,000) holding
// KXQ_BENCH_VALUES values (default 1,000,000) is measured for: the time to
// open it and read one object (the store reads its tables and then that
// object; bare SQLite opens the file and reads the object's rows), in that
// store and in stores a tenth and a hundredth its size, attribute reads and
// writes per second
// (KXQ_BENCH_OPS random operations, default 200,000; writes in one
// transaction), and the cost of a one-value commit (KXQ_BENCH_COMMITS
// transactions of one write each, default 200; WAL, synchronous=FULL on both
// sides). Each line prints the store's figure, SQLite's and their ratio.
// Last, the cost of a transaction that catches up on one object another
// process changed, against one that finds nothing to catch up (ratio), in
// this store and in one a hundredth its size. And the cost of a
// transaction that changes one entry of a 10,000-entry list and resizes it,
// then rolls back, against the same on a 100-entry list.
// KXQ_BENCH_DIR chooses the folder of the files (default: a temporary one).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sqlite3.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "com/comutil.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"

using kx::store::OpenMode;
using kx::store::Store;

namespace {

using Clock = std::chrono::steady_clock;

long EnvLong(const char* name, long fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  long n = std::strtol(v, nullptr, 10);
  return n > 0 ? n : fallback;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "store_bench: %s\n", what.c_str());
  std::exit(1);
}

constexpr int kAttrs = 10;  // I0..I4 integers, R0..R2 reals, T0..T1 texts

std::u16string AttrName(int a) {
  const char16_t kind = a < 5 ? u'I' : a < 8 ? u'R' : u'T';
  const int n = a < 5 ? a : a < 8 ? a - 5 : a - 8;
  return std::u16string{kind, static_cast<char16_t>(u'0' + n)};
}

_variant_t ValueFor(int a, long seed) {
  if (a < 5) return _variant_t(static_cast<int>(seed % 100000));
  if (a < 8) return _variant_t(static_cast<double>(seed) * 0.5);
  return _variant_t(("text " + std::to_string(seed)).c_str());
}

struct Sizes {
  long objects, values, ops, commits;
  int perObject;
};

void Exec(sqlite3* db, const char* sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK)
    Die(std::string(sql) + ": " + (msg ? msg : "?"));
}

sqlite3* OpenBare(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Die("cannot open " + path);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
  return db;
}

sqlite3_stmt* Prep(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
  return st;
}

void BindValue(sqlite3_stmt* st, int col, int a, long seed) {
  if (a < 5) {
    sqlite3_bind_int64(st, col, seed % 100000);
  } else if (a < 8) {
    sqlite3_bind_double(st, col, static_cast<double>(seed) * 0.5);
  } else {
    std::string t = "text " + std::to_string(seed);
    sqlite3_bind_text(st, col, t.c_str(), -1, SQLITE_TRANSIENT);
  }
}

void BuildBare(const std::string& path, const Sizes& z) {
  sqlite3* db = OpenBare(path);
  Exec(db,
       "CREATE TABLE objects(id INTEGER PRIMARY KEY, class INTEGER NOT NULL);"
       "CREATE TABLE vals(obj INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE, attr "
       "INTEGER NOT NULL,"
       " pos INTEGER NOT NULL, kind INTEGER NOT NULL, num, txt TEXT, PRIMARY KEY(obj, attr, pos)) "
       "WITHOUT ROWID;");
  Exec(db, "BEGIN");
  sqlite3_stmt* o = Prep(db, "INSERT INTO objects(id, class) VALUES(?, 1)");
  sqlite3_stmt* v =
      Prep(db, "INSERT INTO vals(obj, attr, pos, kind, num, txt) VALUES(?,?,1,?,?,?)");
  for (long i = 1; i <= z.objects; ++i) {
    sqlite3_bind_int64(o, 1, i);
    sqlite3_step(o);
    sqlite3_reset(o);
    for (int a = 0; a < z.perObject; ++a) {
      sqlite3_bind_int64(v, 1, i);
      sqlite3_bind_int(v, 2, a + 1);
      sqlite3_bind_int(v, 3, a < 5 ? 5 : a < 8 ? 2 : 1);
      if (a < 8) {
        BindValue(v, 4, a, i * 10 + a);
        sqlite3_bind_null(v, 5);
      } else {
        sqlite3_bind_null(v, 4);
        BindValue(v, 5, a, i * 10 + a);
      }
      if (sqlite3_step(v) != SQLITE_DONE) Die(sqlite3_errmsg(db));
      sqlite3_reset(v);
    }
  }
  sqlite3_finalize(o);
  sqlite3_finalize(v);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

std::string SchemaFixture() {
  std::string xml = "<store><schema><class name=\"Item\">";
  for (int a = 0; a < kAttrs; ++a) {
    std::string name = _bstr_t(AttrName(a).c_str()).utf8();
    xml += "<attribute name=\"" + name + "\" type=\"" +
           (a < 5   ? "integer"
            : a < 8 ? "real"
                    : "text") +
           "\"/>";
  }
  return xml + "<attribute name=\"L\" type=\"integer\" list=\"true\"/></class></schema></store>";
}

void BuildStore(const std::string& path, const Sizes& z) {
  std::unique_ptr<Store> s;
  auto st = Store::Open(path, OpenMode::kCreate, &s);
  if (!st.ok()) Die(st.message);
  st = s->ImportFixtureText(SchemaFixture(), "bench schema");
  if (!st.ok()) Die(st.message);
  _com_ptr_t<IKXQSchema> schema;
  s->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> item;
  schema->get_Class(_bstr_t(u"Item"), &item);
  std::vector<_bstr_t> names;
  for (int a = 0; a < kAttrs; ++a) names.emplace_back(AttrName(a).c_str());
  if (!s->Begin().ok()) Die("begin");
  for (long i = 1; i <= z.objects; ++i) {
    _com_ptr_t<IKXQObject> o;
    if (FAILED(item->CreateInstance(&o))) Die("create");
    for (int a = 0; a < z.perObject; ++a) {
      _com_ptr_t<IKXQAttribute> attr;
      o->get_Attribute(names[static_cast<size_t>(a)], _variant_t(), &attr);
      if (FAILED(attr->PutValue(_variant_t(), _variant_t(), ValueFor(a, i * 10 + a)))) Die("put");
    }
  }
  st = s->Commit();
  if (!st.ok()) Die(st.message);
}

void Row(const char* what, double store, double bare, const char* unit, bool higherIsBetter) {
  const double ratio = higherIsBetter ? store / bare : bare / store;
  std::printf("%-28s store %14.2f %-8s sqlite %14.2f %-8s ratio %6.2f%s\n", what, store, unit, bare,
              unit, ratio, ratio >= 1 ? "" : "  (store slower)");
}

// Two stores on one file, as two processes: b changes one value of a random
// object and commits; a's next transaction catches up on that one object.
// Prints a's cost of an empty transaction with and without that catch-up.
void CatchUp(const std::string& path, long objects, long rounds) {
  std::unique_ptr<Store> a, b;
  if (!Store::Open(path, OpenMode::kOpenExisting, &a).ok() ||
      !Store::Open(path, OpenMode::kOpenExisting, &b).ok())
    Die("cannot open " + path + " twice");
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<long> pickObj(1, objects);
  const _bstr_t i0(AttrName(0).c_str());
  auto transaction = [&] {
    auto t = Clock::now();
    if (!a->Begin().ok() || !a->Commit().ok()) Die("a's transaction");
    return Seconds(t, Clock::now());
  };
  double caught = 0, idle = 0;
  for (long k = 0; k < rounds; ++k) {
    _com_ptr_t<IKXQObject> o;
    b->Database()->get_Object(static_cast<LONG>(pickObj(rng)), &o);
    _com_ptr_t<IKXQAttribute> attr;
    o->get_Attribute(i0, _variant_t(), &attr);
    if (FAILED(attr->PutValue(_variant_t(), _variant_t(), _variant_t(static_cast<int>(k)))))
      Die("b's write");
    caught += transaction();
    idle += transaction();
  }
  const double n = static_cast<double>(rounds);
  std::printf("%-28s one object %10.2f us   nothing %10.2f us   ratio %6.2f\n",
              ("catch-up, " + std::to_string(objects) + " objects").c_str(), caught * 1e6 / n,
              idle * 1e6 / n, caught / idle);
}

// Opening a store and reading one object's values, against opening the bare
// file and reading that object's rows: the mean of rounds of each.
void OpenOne(const std::string& dir, const Sizes& big, long objects, long rounds) {
  Sizes z = big;
  z.objects = objects;
  const std::string tag = std::to_string(objects * z.perObject);
  const std::string storePath = dir + "/open-" + tag + ".kxq",
                    barePath = dir + "/open-" + tag + ".db";
  std::filesystem::remove(storePath);
  std::filesystem::remove(barePath);
  BuildStore(storePath, z);
  BuildBare(barePath, z);
  const LONG id = static_cast<LONG>(std::max(1L, objects / 2));
  std::vector<_bstr_t> names;
  for (int a = 0; a < z.perObject; ++a) names.emplace_back(AttrName(a).c_str());
  double sink = 0;
  auto t0 = Clock::now();
  for (long r = 0; r < rounds; ++r) {
    std::unique_ptr<Store> s;
    if (!Store::Open(storePath, OpenMode::kOpenExisting, &s).ok()) Die("open " + storePath);
    _com_ptr_t<IKXQObject> o;
    if (FAILED(s->Database()->get_Object(id, &o))) Die("no object " + std::to_string(id));
    for (const _bstr_t& n : names) {
      _com_ptr_t<IKXQAttribute> attr;
      o->get_Attribute(n, _variant_t(), &attr);
      _variant_t v;
      attr->GetValue(_variant_t(), _variant_t(), &v);
      sink += V_VT(&v);
    }
  }
  auto t1 = Clock::now();
  for (long r = 0; r < rounds; ++r) {
    sqlite3* db = OpenBare(barePath);
    sqlite3_stmt* q =
        Prep(db, "SELECT attr, pos, kind, num, txt FROM vals WHERE obj=? ORDER BY attr, pos");
    sqlite3_bind_int64(q, 1, id);
    while (sqlite3_step(q) == SQLITE_ROW) sink += sqlite3_column_int(q, 2);
    sqlite3_finalize(q);
    sqlite3_close(db);
  }
  auto t2 = Clock::now();
  if (sink < 0) std::printf("%f", sink);
  const double n = static_cast<double>(rounds);
  Row(("open, read one object, " + tag).c_str(), Seconds(t0, t1) * 1e6 / n,
      Seconds(t1, t2) * 1e6 / n, "us", false);
}

// A transaction that changes the last entry of a list of `entries`, grows it
// by one, then rolls back; the mean time of rounds of them, in us.
double UndoOnList(Store& s, long entries, long rounds) {
  _com_ptr_t<IKXQSchema> schema;
  s.Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> item;
  schema->get_Class(_bstr_t(u"Item"), &item);
  _com_ptr_t<IKXQObject> o;
  if (!s.Begin().ok() || FAILED(item->CreateInstance(&o))) Die("undo: create");
  _com_ptr_t<IKXQAttribute> list;
  o->get_Attribute(_bstr_t(u"L"), _variant_t(), &list);
  for (long k = 1; k <= entries; ++k)
    if (FAILED(list->PutValue(_variant_t(static_cast<int>(k)), _variant_t(),
                              _variant_t(static_cast<int>(k)))))
      Die("undo: fill");
  if (!s.Commit().ok()) Die("undo: commit");
  auto round = [&] {
    if (!s.Begin().ok()) Die("undo: begin");
    list->PutValue(_variant_t(static_cast<int>(entries)), _variant_t(), _variant_t(-1));
    list->Resize(static_cast<LONG>(entries + 1));
    if (!s.Rollback().ok()) Die("undo: rollback");
  };
  for (long r = 0; r < rounds; ++r) round();  // warms the caches
  auto t0 = Clock::now();
  for (long r = 0; r < rounds; ++r) round();
  return Seconds(t0, Clock::now()) * 1e6 / static_cast<double>(rounds);
}

}  // namespace

int main() {
  Sizes z;
  z.objects = EnvLong("KXQ_BENCH_OBJECTS", 100000);
  z.values = EnvLong("KXQ_BENCH_VALUES", 1000000);
  z.ops = EnvLong("KXQ_BENCH_OPS", 200000);
  z.commits = EnvLong("KXQ_BENCH_COMMITS", 200);
  z.perObject = static_cast<int>(std::max(1L, std::min<long>(kAttrs, z.values / z.objects)));

  std::string dir;
  bool own = false;
  if (const char* d = std::getenv("KXQ_BENCH_DIR")) {
    dir = d;
  } else {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kxstore-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) Die("cannot make a temporary folder");
    dir = tmpl;
    own = true;
  }
  const std::string storePath = dir + "/bench.kxq";
  const std::string barePath = dir + "/bare.db";
  std::filesystem::remove(storePath);
  std::filesystem::remove(barePath);
  std::printf("objects %ld, values %ld (%d per object), operations %ld, commits %ld\n", z.objects,
              z.objects * z.perObject, z.perObject, z.ops, z.commits);

  auto t0 = Clock::now();
  BuildStore(storePath, z);
  auto t1 = Clock::now();
  BuildBare(barePath, z);
  auto t2 = Clock::now();
  Row("generate (one transaction)", Seconds(t0, t1), Seconds(t1, t2), "s", false);

  // Open.
  t0 = Clock::now();
  std::unique_ptr<Store> s;
  auto st = Store::Open(storePath, OpenMode::kOpenExisting, &s);
  if (!st.ok()) Die(st.message);
  t1 = Clock::now();
  sqlite3* bare = OpenBare(barePath);
  {
    sqlite3_stmt* all =
        Prep(bare, "SELECT obj, attr, pos, kind, num, txt FROM vals ORDER BY obj, attr, pos");
    long rows = 0;
    double sink = 0;
    while (sqlite3_step(all) == SQLITE_ROW) {
      ++rows;
      sink += sqlite3_column_double(all, 4);
      if (sqlite3_column_type(all, 5) == SQLITE_TEXT) sink += sqlite3_column_bytes(all, 5);
    }
    sqlite3_finalize(all);
    if (rows != z.objects * z.perObject) Die("bare row count");
    if (sink < 0) std::printf("%f", sink);
  }
  t2 = Clock::now();
  Row("open (sqlite: every row)", Seconds(t0, t1), Seconds(t1, t2), "s", false);

  std::mt19937_64 rng(42);
  std::uniform_int_distribution<long> pickObj(1, z.objects);
  std::uniform_int_distribution<int> pickAttr(0, z.perObject - 1);
  std::vector<std::pair<long, int>> picks(static_cast<size_t>(z.ops));
  for (auto& p : picks) p = {pickObj(rng), pickAttr(rng)};
  std::vector<_bstr_t> names;
  for (int a = 0; a < kAttrs; ++a) names.emplace_back(AttrName(a).c_str());
  IKXQDatabase* db = s->Database();

  // Reads: object by id, attribute by name, value.
  t0 = Clock::now();
  double sink = 0;
  for (auto& [id, a] : picks) {
    _com_ptr_t<IKXQObject> o;
    db->get_Object(static_cast<LONG>(id), &o);
    _com_ptr_t<IKXQAttribute> attr;
    o->get_Attribute(names[static_cast<size_t>(a)], _variant_t(), &attr);
    _variant_t v;
    attr->GetValue(_variant_t(), _variant_t(), &v);
    sink += V_VT(&v);
  }
  t1 = Clock::now();
  {
    sqlite3_stmt* q =
        Prep(bare, "SELECT kind, num, txt FROM vals WHERE obj=? AND attr=? AND pos=1");
    for (auto& [id, a] : picks) {
      sqlite3_bind_int64(q, 1, id);
      sqlite3_bind_int(q, 2, a + 1);
      if (sqlite3_step(q) == SQLITE_ROW) sink += sqlite3_column_int(q, 0);
      sqlite3_reset(q);
    }
    sqlite3_finalize(q);
  }
  t2 = Clock::now();
  if (sink < 0) std::printf("%f", sink);
  Row("reads", static_cast<double>(z.ops) / Seconds(t0, t1),
      static_cast<double>(z.ops) / Seconds(t1, t2), "per s", true);

  // Writes, one transaction.
  t0 = Clock::now();
  if (!s->Begin().ok()) Die("begin");
  long seed = 7;
  for (auto& [id, a] : picks) {
    _com_ptr_t<IKXQObject> o;
    db->get_Object(static_cast<LONG>(id), &o);
    _com_ptr_t<IKXQAttribute> attr;
    o->get_Attribute(names[static_cast<size_t>(a)], _variant_t(), &attr);
    attr->PutValue(_variant_t(), _variant_t(), ValueFor(a, ++seed));
  }
  if (!s->Commit().ok()) Die("commit");
  t1 = Clock::now();
  {
    Exec(bare, "BEGIN");
    sqlite3_stmt* w = Prep(
        bare, "INSERT OR REPLACE INTO vals(obj, attr, pos, kind, num, txt) VALUES(?,?,1,?,?,?)");
    seed = 7;
    for (auto& [id, a] : picks) {
      sqlite3_bind_int64(w, 1, id);
      sqlite3_bind_int(w, 2, a + 1);
      sqlite3_bind_int(w, 3, a < 5 ? 5 : a < 8 ? 2 : 1);
      if (a < 8) {
        BindValue(w, 4, a, ++seed);
        sqlite3_bind_null(w, 5);
      } else {
        sqlite3_bind_null(w, 4);
        BindValue(w, 5, a, ++seed);
      }
      sqlite3_step(w);
      sqlite3_reset(w);
    }
    sqlite3_finalize(w);
    Exec(bare, "COMMIT");
  }
  t2 = Clock::now();
  Row("writes (one transaction)", static_cast<double>(z.ops) / Seconds(t0, t1),
      static_cast<double>(z.ops) / Seconds(t1, t2), "per s", true);

  // One-value commits.
  _com_ptr_t<IKXQObject> first;
  db->get_Object(1, &first);
  _com_ptr_t<IKXQAttribute> i0;
  first->get_Attribute(names[0], _variant_t(), &i0);
  t0 = Clock::now();
  for (long k = 0; k < z.commits; ++k) {
    if (!s->Begin().ok()) Die("begin");
    i0->PutValue(_variant_t(), _variant_t(), _variant_t(static_cast<int>(k)));
    if (!s->Commit().ok()) Die("commit");
  }
  t1 = Clock::now();
  {
    sqlite3_stmt* w = Prep(bare, "UPDATE vals SET num=? WHERE obj=1 AND attr=1 AND pos=1");
    for (long k = 0; k < z.commits; ++k) {
      Exec(bare, "BEGIN");
      sqlite3_bind_int64(w, 1, k);
      sqlite3_step(w);
      sqlite3_reset(w);
      Exec(bare, "COMMIT");
    }
    sqlite3_finalize(w);
  }
  t2 = Clock::now();
  Row("one-value commit", Seconds(t0, t1) * 1e6 / static_cast<double>(z.commits),
      Seconds(t1, t2) * 1e6 / static_cast<double>(z.commits), "us", false);

  sqlite3_close(bare);

  const double longList = UndoOnList(*s, 10000, z.commits),
               shortList = UndoOnList(*s, 100, z.commits);
  std::printf("%-28s 10,000 entries %10.2f us   100 entries %10.2f us   ratio %6.2f\n",
              "undo of a list change", longList, shortList, longList / shortList);
  s.reset();

  // Opening a store does not grow with the plant: a tenth and a hundredth
  // the size.
  for (long objects : {z.objects / 100, z.objects / 10, z.objects})
    OpenOne(dir, z, std::max(1L, objects), std::max(5L, z.commits / 10));

  // Catching up with another process: the same cost in a store a hundredth
  // the size shows it does not grow with the store.
  Sizes small = z;
  small.objects = std::max(1L, z.objects / 100);
  const std::string smallPath = dir + "/small.kxq";
  std::filesystem::remove(smallPath);
  BuildStore(smallPath, small);
  CatchUp(smallPath, small.objects, z.commits);
  CatchUp(storePath, z.objects, z.commits);
  if (own) std::filesystem::remove_all(dir);
  return 0;
}
