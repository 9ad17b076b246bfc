#include "store/internal/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "store/internal/db_files.h"

namespace kx::store {

namespace {

const char* const kSchema = R"SQL(
CREATE TABLE meta(key TEXT PRIMARY KEY, value);
CREATE TABLE classes(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  base INTEGER REFERENCES classes(id), description TEXT NOT NULL, definition INTEGER NOT NULL);
CREATE TABLE attributes(id INTEGER PRIMARY KEY, class INTEGER NOT NULL REFERENCES classes(id),
  name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, is_list INTEGER NOT NULL,
  collection INTEGER NOT NULL, ref_class TEXT NOT NULL, dimension TEXT NOT NULL,
  default_unit TEXT NOT NULL, doc TEXT NOT NULL, path TEXT NOT NULL, disciplines TEXT NOT NULL,
  inverse TEXT NOT NULL, UNIQUE(class, name));
CREATE TABLE objects(id INTEGER PRIMARY KEY, class INTEGER NOT NULL REFERENCES classes(id),
  owner INTEGER, holder INTEGER, holder_attr TEXT NOT NULL, flags INTEGER NOT NULL);
CREATE TABLE vals(obj INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  attr INTEGER NOT NULL REFERENCES attributes(id), pos INTEGER NOT NULL, kind INTEGER NOT NULL,
  num, txt TEXT, flags INTEGER NOT NULL, hold INTEGER, prefix TEXT, postfix TEXT, subst TEXT, bin BLOB,
  PRIMARY KEY(obj, attr, pos)) WITHOUT ROWID;
CREATE TABLE dimensions(seq INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  base_unit TEXT NOT NULL);
CREATE TABLE units(seq INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  dimension TEXT NOT NULL REFERENCES dimensions(name), factor REAL NOT NULL, offset REAL NOT NULL,
  display TEXT NOT NULL);
CREATE TABLE dimension_sets(seq INTEGER PRIMARY KEY, set_name TEXT NOT NULL, dimension TEXT NOT NULL,
  unit TEXT NOT NULL REFERENCES units(name), UNIQUE(set_name, dimension));
CREATE TABLE projects(id INTEGER PRIMARY KEY, name TEXT NOT NULL, parent INTEGER REFERENCES projects(id));
CREATE TABLE cases(id INTEGER PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE filters(seq INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, title TEXT, class TEXT,
  attribute TEXT, value TEXT);
CREATE TABLE sorts(seq INTEGER PRIMARY KEY, code TEXT NOT NULL UNIQUE, title TEXT, attribute TEXT,
  descending INTEGER);
CREATE TABLE methods(seq INTEGER PRIMARY KEY, scope TEXT NOT NULL, name TEXT NOT NULL, kind INTEGER,
  result TEXT, UNIQUE(scope, name));
CREATE TABLE claims(obj INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  project INTEGER NOT NULL REFERENCES projects(id), PRIMARY KEY(obj, project));
CREATE TABLE users(obj INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE, name TEXT NOT NULL,
  status INTEGER NOT NULL, PRIMARY KEY(obj, name));
CREATE TABLE triggers(obj INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE, name TEXT NOT NULL,
  handler TEXT NOT NULL, option1 INTEGER, option2 INTEGER, PRIMARY KEY(obj, name));
CREATE TABLE workflow(seq INTEGER PRIMARY KEY, obj INTEGER NOT NULL, code INTEGER NOT NULL, text TEXT NOT NULL);
CREATE TABLE templates(id TEXT NOT NULL, checknum TEXT NOT NULL, xml TEXT NOT NULL, PRIMARY KEY(id, checknum));
INSERT INTO meta(key, value) VALUES('format', 1);
)SQL";

// Tables added after the first stores were made, created when missing: the
// ids of deleted objects (never given again), the change log (one row per
// commit naming the objects it changed; full: more than objects) and the
// links of attribute definitions.
const char* const kLaterTables[][2] = {
    {"retired", "CREATE TABLE retired(id INTEGER PRIMARY KEY);"},
    {"changelog",
     "CREATE TABLE changelog(version INTEGER PRIMARY KEY, full INTEGER NOT NULL, objects BLOB NOT "
     "NULL);"},
    // The object an attribute definition refers to, for those that have one.
    {"attribute_links",
     "CREATE TABLE attribute_links(attr INTEGER PRIMARY KEY, obj INTEGER NOT NULL);"},
    // Objects are read on demand: class extents, owners and holders, and
    // the values that refer to an object are found through these.
    {"objects_class", "CREATE INDEX objects_class ON objects(class);"},
    {"objects_owner", "CREATE INDEX objects_owner ON objects(owner);"},
    {"objects_holder", "CREATE INDEX objects_holder ON objects(holder);"},
    {"vals_refs", "CREATE INDEX vals_refs ON vals(num, obj, attr) WHERE kind=3;"},
};

// A database's own schema entries (not SQLite's), by lower-case name: the
// kind ("table", "index", "view", "trigger") and, for a table, its columns
// (name, type, NOT NULL, place in the primary key).
struct Entry {
  std::string type;
  std::vector<std::string> columns;
  bool operator==(const Entry&) const = default;
};
using Shape = std::map<std::string, Entry>;

// Runs `sql` (one text argument, or none), handing each row to fn; SQLite's
// result code.
template <class Fn>
int EachRow(sqlite3* db, const char* sql, const std::string& arg, Fn&& fn) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  if (rc == SQLITE_OK && sqlite3_bind_parameter_count(st) > 0)
    rc = sqlite3_bind_text(st, 1, arg.c_str(), -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) fn(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  return rc;
}

std::string TextAt(sqlite3_stmt* st, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return text ? text : "";
}

int ReadShape(sqlite3* db, Shape* shape) {
  shape->clear();
  int rc = EachRow(db,
                   "SELECT lower(name), type FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' "
                   "ESCAPE '\\'",
                   "", [&](sqlite3_stmt* st) { (*shape)[TextAt(st, 0)].type = TextAt(st, 1); });
  for (auto& named : *shape) {
    std::vector<std::string>& columns = named.second.columns;
    if (rc != SQLITE_OK || named.second.type != "table") continue;
    // A column as declared: a table with a store's column names but other
    // types, keys or constraints is another program's.
    rc = EachRow(db,
                 "SELECT lower(name) || ' ' || upper(type) || ' ' || \"notnull\" || ' ' || pk "
                 "FROM pragma_table_info(?1)",
                 named.first, [&](sqlite3_stmt* st) { columns.push_back(TextAt(st, 0)); });
  }
  return rc;
}

// A store's schema as this version makes it, and the part of it every
// store has had from its first version (the rest is made when missing).
struct StoreShape {
  Shape all;
  Shape first;
};

const StoreShape& OurShape() {
  static const StoreShape shape = [] {
    StoreShape made;
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    ReadShape(db, &made.first);
    for (const auto& table : kLaterTables) sqlite3_exec(db, table[1], nullptr, nullptr, nullptr);
    ReadShape(db, &made.all);
    sqlite3_close(db);
    return made;
  }();
  return shape;
}

// The schema entries of a store this version makes, as SQLite keeps their
// text (the statement without its ";"), sorted.
const std::vector<std::string>& OurSchemaText() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> made;
    const std::string schema = kSchema;
    for (size_t at = 0; at < schema.size();) {
      size_t end = schema.find(';', at);
      if (end == std::string::npos) end = schema.size();
      std::string statement = schema.substr(at, end - at);
      statement.erase(0, statement.find_first_not_of(" \n"));
      if (statement.starts_with("CREATE ")) made.push_back(statement);
      at = end + 1;
    }
    for (const auto& table : kLaterTables) {
      std::string statement = table[1];
      if (statement.ends_with(';')) statement.pop_back();
      made.push_back(statement);
    }
    std::sort(made.begin(), made.end());
    return made;
  }();
  return texts;
}

}  // namespace

bool ReadKind(sqlite3* db, StoreKind* kind) {
  *kind = StoreKind();
  const auto failed = [&](int rc) {
    kind->error = sqlite3_errmsg(db);
    kind->code = rc;
    return false;
  };
  int rc = EachRow(db, "PRAGMA application_id", "",
                   [&](sqlite3_stmt* st) { kind->applicationId = sqlite3_column_int(st, 0); });
  // A store this program made, its schema as this version makes it: one
  // read of the schema's text instead of the shape of every table. Any
  // other text (a store of an earlier version, a table changed by another
  // program) is looked at whole below.
  if (rc == SQLITE_OK && kind->applicationId == kStoreApplicationId) {
    std::vector<std::string> texts;
    rc = EachRow(db, "SELECT sql FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                 "", [&](sqlite3_stmt* st) { texts.push_back(TextAt(st, 0)); });
    std::sort(texts.begin(), texts.end());
    if (rc == SQLITE_OK && texts == OurSchemaText()) {
      kind->tables = true;
      rc = EachRow(db, "SELECT value FROM meta WHERE key='format'", "", [&](sqlite3_stmt* st) {
        if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
          kind->format = static_cast<long>(sqlite3_column_int64(st, 0));
      });
      if (rc != SQLITE_OK) return failed(rc);
      if (kind->format == 1) return true;
      kind->tables = false;
      kind->format = 0;
    }
  }
  Shape shape;
  if (rc == SQLITE_OK) rc = ReadShape(db, &shape);
  if (rc != SQLITE_OK) return failed(rc);
  kind->tables = std::any_of(shape.begin(), shape.end(),
                             [](const auto& entry) { return entry.second.type != "index"; });
  const StoreShape& ours = OurShape();
  // The format first: a later version may have tables of its own.
  if (const auto meta = shape.find("meta");
      meta != shape.end() && meta->second == ours.all.at("meta")) {
    rc = EachRow(db, "SELECT value FROM meta WHERE key='format'", "", [&](sqlite3_stmt* st) {
      if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
        kind->format = static_cast<long>(sqlite3_column_int64(st, 0));
    });
    if (rc != SQLITE_OK) return failed(rc);
  }
  // Every table a store has, as a store has it, and nothing else but
  // indexes (which change no row that is read or written).
  for (const auto& [name, entry] : ours.all) {
    const auto found = shape.find(name);
    if (found == shape.end() ? ours.first.count(name) != 0 : !(found->second == entry)) {
      kind->mismatch = found == shape.end()
                           ? "it has no table " + name
                           : "its " + found->second.type + " " + name + " is not a store's";
      return true;
    }
  }
  for (const auto& [name, entry] : shape) {
    if (entry.type == "index" || ours.all.count(name) != 0) continue;
    kind->mismatch = "it has a " + entry.type + " " + name + " that a store does not have";
    return true;
  }
  return true;
}

int KxStepRow(sqlite3_stmt* st) {
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) return 1;
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? 0 : -1;
}

Db::~Db() { Close(); }

namespace {
// A text column read by this thread's query held bytes that are no UTF-8
// (see ColText).
thread_local bool t_textNotUtf8 = false;

// Why no store file can be made at `path` for its folder, or "" when one
// can: SQLite's own answer ("unable to open database file") does not say
// that the folder is at fault.
std::string FolderProblem(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR
               ? "the folder " + folder + " does not exist"
               : "the folder " + folder + " cannot be read (" + std::strerror(errno) + ")";
  }
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "the folder " + folder + " cannot be written (" + std::strerror(errno) + ")";
  }
  return "";
}
}  // namespace

std::string Db::SqliteError() const {
  if (!db_) return "the store is closed";
  const std::string text = sqlite3_errmsg(db_);
  const int code = sqlite3_errcode(db_) & 0xff;
  if (code != SQLITE_CORRUPT && code != SQLITE_NOTADB) return text;
  return Damaged(text);
}

std::string Db::Damaged(const std::string& why) const {
  // Nothing more goes into a damaged file: a checkpoint, after a commit or
  // at the close (see Close), would write the log's pages into it and take
  // the log away.
  if (!damaged_ && db_) {
    damaged_ = true;
    sqlite3_wal_autocheckpoint(db_, 0);
  }
  return "the store " + path_ + " is damaged (" + why + "); restore it from a copy" +
         LogAdvice(path_);
}

bool Db::Readable() {
  if (!db_) {
    error_ = "the store is closed";
    return false;
  }
  t_textNotUtf8 = false;
  return !lockFree_ || Unchanged();
}

bool Db::Settled(bool ok) {
  if (lockFree_ && !Unchanged()) return false;
  if (!ok) {
    error_ = SqliteError();
  } else if (t_textNotUtf8) {
    // The store writes UTF-8 alone: other bytes are damage, not a text.
    t_textNotUtf8 = false;
    error_ = Damaged("a text in it is no UTF-8");
    return false;
  }
  return ok;
}

bool Db::Open(const std::string& named, bool mustExist, bool mustNotExist, bool readOnly,
              std::string* error) {
  notStore_ = inUse_ = false;
  // SQLite follows a link to the file it names and keeps the log and its
  // index beside that file: the files beside it are looked at there.
  std::string path = named;
  struct stat link;
  if (::lstat(named.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* real = ::realpath(named.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  path_ = path;
  const bool memory = path == ":memory:";
  const bool exists = !memory && FileExists(path);
  readOnly_ = readOnly && !memory;
  if ((mustExist || readOnly_) && !exists) {
    *error = "The store file " + path + " does not exist";
    return false;
  }
  if (mustNotExist && exists) {
    *error = "The store file " + path + " exists already";
    return false;
  }
  if (!exists && !memory) {
    if (const std::string why = FolderProblem(path); !why.empty()) {
      *error = "Cannot open " + path + ": " + why;
      return false;
    }
  }
  // A new store holds what is made in it alone: SQLite would take a log
  // left by an earlier file of that name as the new one's (and delete a
  // rollback journal there, someone else's).
  if (!exists && !memory) {
    for (const char* part : {"-wal", "-shm", "-journal"}) {
      struct stat st;
      if (::lstat((path + part).c_str(), &st) != 0) continue;
      if (part[1] == 'j') {
        *error = "Cannot make a store at " + path + ": " + path + part +
                 " lies there, a rollback journal, which SQLite would take as the new "
                 "store's; nothing was made. Move it away";
        return false;
      }
      *error = "Cannot make a store at " + path + ": " + path + part + " lies there, the " +
               (part[1] == 'w' ? "log" : "log's index") +
               " of an earlier store of that name, which SQLite would take as the new "
               "store's; nothing was made. Remove " +
               path + "-wal and " + path +
               "-shm when no process has that store open (or move them away with the store "
               "they belong to)";
      return false;
    }
  }
  // What the file is, decided before anything is written to it. The log
  // read for that is kept for the connection's opening, which reads it
  // again (SQLite's recovery of the log), and forgotten when Open ends.
  struct ForgetLog {
    const Db* db;
    ~ForgetLog() { DropCheckedLog(db); }
  } forget{this};
  if (exists && !Probe(path, error)) return false;
  madeLog_ = !memory && !FileExists(path + "-wal");
  madeIndex_ = !memory && !FileExists(path + "-shm");
  if (readOnly_) {
    if (!ConnectForReading(error)) return false;
  } else if (const int rc =
                 sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 memory ? nullptr : StoreVfs());
             rc != SQLITE_OK) {
    *error = "Cannot open " + path + ": " + (db_ ? SqliteError() : sqlite3_errstr(rc));
    Close();
    return false;
  }
  // Known before the first statement: one that finds the file malformed
  // keeps the log beside it at the close (see Close).
  if (!memory && !readOnly_) walPath_ = path + "-wal";
  sqlite3_busy_timeout(db_, busyMs_);
  const std::string pragmas =
      memory || readOnly_
          ? std::string("PRAGMA foreign_keys=ON;")
          : "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; "
            "PRAGMA journal_size_limit=" +
                std::to_string(kLogLimit) + ";";
  if (sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = std::string("Cannot set up ") + path + ": " + SqliteError();
    refused_ = exists;
    Close();
    return false;
  }
  // The names the file holds, read once: a failed read is no empty file.
  std::vector<u16> names;
  if (!Query("SELECT name FROM sqlite_master",
             [&](sqlite3_stmt* st) { names.push_back(ColText(st, 0)); })) {
    *error = "Cannot read " + path + ": " + error_;
    refused_ = exists;
    Close();
    return false;
  }
  const auto has = [&](const u16& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  const bool hasTables = has(u"meta");
  // Tables are made only in a file made here: one that was there is a store
  // (it was looked at above), unless another process changed it since.
  if (!hasTables && exists) {
    notStore_ = true;
    *error = path + " is not an object store; nothing in it was changed";
    refused_ = exists;
    Close();
    return false;
  }
  if (!hasTables) {
    char* msg = nullptr;
    std::string sql = std::string("BEGIN;") + kSchema +
                      "PRAGMA application_id=" + std::to_string(kStoreApplicationId) + ";COMMIT;";
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      *error = std::string("Cannot create the tables of ") + path + ": " + (msg ? msg : "?");
      sqlite3_free(msg);
      refused_ = exists;
      Close();
      return false;
    }
  }
  // Only when missing: a store opened by a second process needs no write.
  for (const auto& table : kLaterTables) {
    if (has(U16(table[0]))) continue;
    if (readOnly_) {
      *error = "Cannot read " + path + " without writing it: it lacks the table " + table[0] +
               " of this version";
      refused_ = exists;
      Close();
      return false;
    }
    if (sqlite3_exec(db_, table[1], nullptr, nullptr, nullptr) != SQLITE_OK) {
      *error = std::string("Cannot set up ") + path + ": " + SqliteError();
      refused_ = exists;
      Close();
      return false;
    }
  }
  return true;
}

void Db::Close() {
  DropCheckedLog(this);
  for (auto& [sql, st] : cache_) sqlite3_finalize(st);
  cache_.clear();
  // A damaged file keeps the log beside it as it is; an empty one is
  // removed as usual (its checkpoint writes nothing).
  // A refusal writes nothing either, and leaves no file that was not there.
  struct stat log;
  const bool keep =
      db_ && !walPath_.empty() &&
      (refused_ || (damaged_ && ::stat(walPath_.c_str(), &log) == 0 && log.st_size > 0));
  if (keep) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  if (db_) sqlite3_close(db_);
  if (keep) RemoveLeftBeside(path_, madeLog_, madeIndex_);
  refused_ = madeLog_ = madeIndex_ = false;
  db_ = nullptr;
  walPath_.clear();
  inTxn_ = false;
  lockFree_ = moved_ = damaged_ = false;
}

bool Db::ConnectForReading(std::string* error) {
  for (int tries = 0;; ++tries) {
    // A reading without locks counts when nothing moved while it began.
    FileState before;
    const bool quiet = TakeFileState(path_, &before);
    const int rc = OpenForReading(path_, &db_, &inUse_, &lockFree_);
    if (inUse_) {
      *error = InUseText(path_, true);
      return false;
    }
    if (rc != SQLITE_OK) {
      *error = "Cannot open " + path_ + ": " + (db_ ? SqliteError() : sqlite3_errstr(rc));
      Close();
      return false;
    }
    if (!lockFree_ || (quiet && TakeFileState(path_, &state_) && state_ == before)) return true;
    Close();
    if (tries == 3) {
      inUse_ = true;
      *error = InUseText(path_, true);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10 << tries));
  }
}

bool Db::Unchanged() {
  FileState now;
  if (!moved_ && TakeFileState(path_, &now) && now == state_) return true;
  moved_ = true;
  error_ = path_ +
           " was written by another process (a commit landed) while this one read it without "
           "locks (it was read as it was when no process had it open); what was read since is "
           "not used. Try again";
  return false;
}

bool Db::Reopen() {
  for (auto& [sql, st] : cache_) sqlite3_finalize(st);
  cache_.clear();
  sqlite3_close(db_);
  db_ = nullptr;
  inTxn_ = lockFree_ = moved_ = false;
  std::string error;
  if (!ConnectForReading(&error)) {
    error_ = error;
    moved_ = true;  // still: the next call tries again
    return false;
  }
  sqlite3_busy_timeout(db_, busyMs_);
  if (sqlite3_exec(db_, "PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    error_ = SqliteError();
    return false;
  }
  return true;
}

sqlite3_stmt* Db::Prepare(const char* sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
    error_ = SqliteError();
    return nullptr;
  }
  cache_[sql] = st;
  return st;
}

int Db::RunControl(const char* sql) {
  sqlite3_stmt* st = Prepare(sql);
  if (!st) return sqlite3_errcode(db_);
  const int rc = sqlite3_step(st);
  // The message stays readable after the reset.
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

bool Db::InjectFault() {
  if (failAfter_ <= 0) return false;
  if (--failAfter_ > 0) return false;
  error_ = "disk I/O error (injected)";
  return true;
}

bool Db::ReadOnlyRefuses() {
  if (!readOnly_) return false;
  error_ = "the store was opened read only (its file or its folder cannot be written)";
  return true;
}

bool Db::TransactionLost() {
  if (!inTxn_ || !sqlite3_get_autocommit(db_)) return false;
  error_ = "the transaction was ended by an earlier failure";
  return true;
}

bool Db::Begin(bool write) {
  busy_ = false;
  if (!db_) {
    error_ = "the store is closed";
    return false;
  }
  if (lockFree_ && !Unchanged()) return false;
  // IMMEDIATE takes the write lock now, so what is read next is current.
  // A read-only connection takes none: its first write fails.
  int rc = RunControl(write && !readOnly_ ? "BEGIN IMMEDIATE" : "BEGIN");
  if (rc != SQLITE_OK) {
    busy_ = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    error_ = SqliteError();
    return false;
  }
  inTxn_ = true;
  return true;
}

void Db::SetBusyTimeout(int milliseconds) {
  busyMs_ = milliseconds;
  if (db_) sqlite3_busy_timeout(db_, milliseconds);
}

void Db::BoundLog() {
  struct stat st;
  if (!db_ || inTxn_ || damaged_ || walPath_.empty() || ::stat(walPath_.c_str(), &st) != 0 ||
      st.st_size <= kLogLimit)
    return;
  sqlite3_busy_timeout(db_, 0);
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db_, busyMs_);
}

bool Db::Commit() {
  // COMMIT outside a transaction fails anyway; this keeps the message clear.
  if (TransactionLost()) return false;
  if (RunControl("COMMIT") != SQLITE_OK) {
    error_ = SqliteError();
    return false;
  }
  inTxn_ = false;
  return true;
}

void Db::Rollback() {
  inTxn_ = false;
  if (db_ && !sqlite3_get_autocommit(db_)) RunControl("ROLLBACK");
}

bool Db::Bind(sqlite3_stmt* st, int index, const SqlArg& a) {
  int rc = SQLITE_OK;
  switch (a.kind) {
    case SqlArg::kNull: rc = sqlite3_bind_null(st, index); break;
    case SqlArg::kInt: rc = sqlite3_bind_int64(st, index, a.i); break;
    case SqlArg::kReal: rc = sqlite3_bind_double(st, index, a.r); break;
    case SqlArg::kText:
      rc = sqlite3_bind_text(st, index, a.s.data(), static_cast<int>(a.s.size()), SQLITE_TRANSIENT);
      break;
    case SqlArg::kBlob:
      rc = sqlite3_bind_blob(st, index, a.s.data(), static_cast<int>(a.s.size()), SQLITE_TRANSIENT);
      break;
  }
  return rc == SQLITE_OK;
}

bool Db::Step(sqlite3_stmt* st) {
  int rc = sqlite3_step(st);
  bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
  if (!ok) error_ = SqliteError();
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return ok;
}

sqlite3_stmt* Db::PrepareWith(const char* sql, std::initializer_list<SqlArg> args) {
  sqlite3_stmt* st = Prepare(sql);
  if (!st) return nullptr;
  int k = 1;
  for (const SqlArg& a : args)
    if (!Bind(st, k++, a)) {
      error_ = SqliteError();
      sqlite3_reset(st);
      return nullptr;
    }
  return st;
}

bool Db::Run(const char* sql, std::initializer_list<SqlArg> args) {
  if (!db_) {
    error_ = "the store is closed";
    return false;
  }
  if (ReadOnlyRefuses() || InjectFault() || TransactionLost()) return false;
  sqlite3_stmt* st = PrepareWith(sql, args);
  return st && Step(st);
}

bool Db::BindValue(sqlite3_stmt* st, int32_t obj, int32_t attr, size_t pos, const Value& v) {
  sqlite3_bind_int64(st, 1, obj);
  sqlite3_bind_int64(st, 2, attr);
  sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(pos));
  sqlite3_bind_int(st, 4, v.kind);
  if (v.kind == KXQ_TYPE_REAL || v.kind == KXQ_TYPE_DATE)
    sqlite3_bind_double(st, 5, v.r);
  else if (v.kind != 0 && v.kind != KXQ_TYPE_TEXT && v.kind != KXQ_TYPE_BINARY)
    sqlite3_bind_int64(st, 5, v.i);
  else
    sqlite3_bind_null(st, 5);
  if (!v.text.empty()) {
    std::string t = ToUtf8(v.text);
    sqlite3_bind_text(st, 6, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(st, 6);
  }
  sqlite3_bind_int64(st, 7, v.flags);
  const ValueExtra* x = v.exOrNull();
  auto text = [&](int col, const u16& s) {
    if (s.empty()) {
      sqlite3_bind_null(st, col);
      return;
    }
    std::string t = ToUtf8(s);
    sqlite3_bind_text(st, col, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  };
  if (x && x->hold)
    sqlite3_bind_int64(st, 8, x->hold);
  else
    sqlite3_bind_null(st, 8);
  text(9, x ? x->prefix : u16());
  text(10, x ? x->postfix : u16());
  text(11, x ? x->subst : u16());
  if (x && !x->bin.empty())
    sqlite3_bind_blob(st, 12, x->bin.data(), static_cast<int>(x->bin.size()), SQLITE_TRANSIENT);
  else if (v.kind == KXQ_TYPE_BINARY)
    sqlite3_bind_zeroblob(st, 12, 0);
  else
    sqlite3_bind_null(st, 12);
  return Step(st);
}

static const char* const kPutValue =
    "INSERT INTO vals(obj,attr,pos,kind,num,txt,flags,hold,prefix,postfix,subst,bin) "
    "VALUES(?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(obj,attr,pos) DO UPDATE SET kind=excluded.kind, "
    "num=excluded.num, txt=excluded.txt, flags=excluded.flags, hold=excluded.hold, "
    "prefix=excluded.prefix, "
    "postfix=excluded.postfix, subst=excluded.subst, bin=excluded.bin";

bool Db::WriteSlot(int32_t obj, int32_t attr, size_t pos, const Value& v) {
  if (ReadOnlyRefuses() || InjectFault() || TransactionLost()) return false;
  sqlite3_stmt* st = Prepare(kPutValue);
  return st && BindValue(st, obj, attr, pos, v);
}

bool Db::WriteTail(int32_t obj, int32_t attr, const Value* values, size_t count, size_t from,
                   bool grown) {
  if (from < 1) from = 1;
  if (ReadOnlyRefuses() || (grown && InjectFault()) || TransactionLost()) return false;
  // Rows past the new end go; the others are rewritten in place.
  if (!grown && !Run("DELETE FROM vals WHERE obj=? AND attr=? AND pos>?",
                     {obj, attr, static_cast<long long>(count)}))
    return false;
  sqlite3_stmt* st = Prepare(kPutValue);
  if (!st) return false;
  for (size_t k = from; k <= count; ++k)
    if (!BindValue(st, obj, attr, k, values[k - 1])) return false;
  return true;
}

std::string Db::IntegrityCheck() {
  std::string out;
  Query("PRAGMA integrity_check", [&](sqlite3_stmt* st) {
    if (!out.empty()) out += "\n";
    out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  });
  return out;
}

int64_t ColInt(sqlite3_stmt* st, int col) { return sqlite3_column_int64(st, col); }
double ColReal(sqlite3_stmt* st, int col) { return sqlite3_column_double(st, col); }
bool ColIsNull(sqlite3_stmt* st, int col) { return sqlite3_column_type(st, col) == SQLITE_NULL; }

u16 ColText(sqlite3_stmt* st, int col) {
  const unsigned char* t = sqlite3_column_text(st, col);
  if (!t) return u16();
  std::string s(reinterpret_cast<const char*>(t),
                static_cast<size_t>(sqlite3_column_bytes(st, col)));
  u16 out;
  if (!FromUtf8(s, &out)) {
    t_textNotUtf8 = true;  // the query fails (see Db::Settled)
    out.clear();
  }
  return out;
}

std::string ColBlob(sqlite3_stmt* st, int col) {
  const void* b = sqlite3_column_blob(st, col);
  int n = sqlite3_column_bytes(st, col);
  return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(n)) : std::string();
}

}  // namespace kx::store
