#include "store/internal/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool NonEmptyFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// `path` as the path of a "file:" URI.
std::string UriPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// The first 16 bytes of every SQLite database file.
constexpr char kSqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
constexpr const char* kReadTest = "SELECT count(*) FROM sqlite_master";
constexpr int kReadFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;

// Opens `path` with its log read into this process's memory, without
// locks: SQLite's exclusive locking mode keeps the log's index in memory
// instead of in a file beside it, and the lock-free file layer lets a file
// opened for reading take that mode. SQLite's result code, with *db set
// (to be closed by the caller) whenever SQLite made a connection.
int OpenWithLogInMemory(const std::string& path, sqlite3** db) {
  const std::string uri = "file:" + UriPath(path) + "?mode=ro&vfs=unix-none";
  int rc = sqlite3_open_v2(uri.c_str(), db, kReadFlags | SQLITE_OPEN_URI, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(*db, "PRAGMA locking_mode=EXCLUSIVE;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(*db, kReadTest, nullptr, nullptr, nullptr);
  return rc;
}

// A descriptor of `path` (a regular file) for looking at the locks others
// hold on it, or -1. Descriptors are kept open, one a file: closing any
// descriptor of a file releases every lock this process holds on it,
// SQLite's own included. One whose file was deleted since is closed, as no
// one can open that file any more.
int LookoutDescriptor(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::pair<dev_t, ino_t>, int> kept;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  std::lock_guard<std::mutex> hold(mutex);
  for (auto it = kept.begin(); it != kept.end();) {
    struct stat held;
    if (::fstat(it->second, &held) == 0 && held.st_nlink == 0) {
      ::close(it->second);
      it = kept.erase(it);
    } else {
      ++it;
    }
  }
  if (const auto it = kept.find({st.st_dev, st.st_ino}); it != kept.end()) return it->second;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  // The file may have been replaced in between: kept under what was opened
  // (a second descriptor of a file kept already stays open, unused).
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);  // not a file SQLite could have locked
    return -1;
  }
  return kept.emplace(std::make_pair(st.st_dev, st.st_ino), fd).first->second;
}

// Whether anyone holds a lock on the `length` bytes at `start` of the file
// of `fd`, this process included: a query of an open file description sees
// the locks of this process's other descriptors too. False when the system
// cannot tell.
bool LockedByAnyone(int fd, off_t start, off_t length) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  if (::fcntl(fd, F_OFD_GETLK, &lock) == 0) return lock.l_type != F_UNLCK;
  lock.l_type = F_WRLCK;
  return ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// Whether some SQLite connection has the store at `path` open. Each holds a
// shared lock on the file's lock bytes (from SQLite's pending byte at
// 1 GiB: pending, reserved and 510 shared bytes) for as long as it is open
// in WAL mode, and one on the "DMS" byte of the log's index (byte 128 of
// the -shm file). A file read without locks beside one may show a mix of
// its old and new pages.
bool OpenElsewhere(const std::string& path) {
  constexpr off_t kLockBytes = 0x40000000, kLockByteCount = 512, kIndexDms = 128;
  const int index = LookoutDescriptor(path + "-shm");
  if (index >= 0 && LockedByAnyone(index, kIndexDms, 1)) return true;
  const int file = LookoutDescriptor(path);
  return file >= 0 && LockedByAnyone(file, kLockBytes, kLockByteCount);
}

// Opens `path` for reading without writing it (result and *db as
// OpenWithLogInMemory's). SQLite's read-only connection reads beside other
// processes through the log's shared-memory index. When it cannot (the
// index cannot be made: the folder cannot be written) and no connection
// has the store open, a log left beside it is read into memory; with no
// log, the file is read as it is, without locks. While a connection has
// it open, SQLite's open may fail for a moment (another process starting,
// or closing the store): it is tried again for a quarter of a second, then
// *inUse is set and SQLITE_BUSY returned, with nothing read.
int OpenForReading(const std::string& path, sqlite3** db, bool* inUse) {
  *inUse = false;
  for (int pause = 2;; pause *= 2) {
    int rc = sqlite3_open_v2(path.c_str(), db, kReadFlags, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(*db, kReadTest, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return rc;
    sqlite3_close(*db);
    *db = nullptr;
    if (!OpenElsewhere(path)) break;
    if (pause > 128) {
      *inUse = true;
      return SQLITE_BUSY;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
  if (NonEmptyFile(path + "-wal")) return OpenWithLogInMemory(path, db);
  const std::string uri = "file:" + UriPath(path) + "?immutable=1";
  return sqlite3_open_v2(uri.c_str(), db, kReadFlags | SQLITE_OPEN_URI, nullptr);
}

// Why a store is not read now (readOnly: opened read only).
std::string InUseText(const std::string& path, bool readOnly) {
  return path + " is in use by another process, and it cannot be read beside that process now" +
         (readOnly ? " as its file or its folder cannot be written here" : "") +
         "; nothing in it was changed. Try again";
}

// What a database's own tables say of it.
struct StoreMark {
  bool meta = false;     // it has the "meta" table of a store
  bool others = false;   // it has other tables, indexes or views
  long format = 0;       // the store's format, from "meta" (0: none)
  std::string error;     // why it could not be read
  int code = SQLITE_OK;  // and SQLite's result code
};

// Reads the mark through `db`; false (with mark->error) when SQLite cannot.
bool ReadMark(sqlite3* db, StoreMark* mark) {
  *mark = StoreMark();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      (name && std::strcmp(name, "meta") == 0 ? mark->meta : mark->others) = true;
    }
  }
  sqlite3_finalize(st);
  st = nullptr;
  if (rc != SQLITE_DONE) {
    mark->error = sqlite3_errmsg(db);
    mark->code = sqlite3_errcode(db);
    return false;
  }
  // Another program's "meta" table may have other columns: then it is no
  // store's.
  if (mark->meta && sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE key='format'", -1, &st,
                                       nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW)
      if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
        mark->format = static_cast<long>(sqlite3_column_int64(st, 0));
  }
  sqlite3_finalize(st);
  return true;
}

// The same through a connection of its own to `uri`.
bool ReadMark(const std::string& uri, StoreMark* mark) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(uri.c_str(), &db, kReadFlags | SQLITE_OPEN_URI, nullptr);
  const bool read = rc == SQLITE_OK && ReadMark(db, mark);
  if (rc != SQLITE_OK) {
    mark->error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    mark->code = rc;
  }
  sqlite3_close(db);
  return read;
}

}  // namespace

int KxStepRow(sqlite3_stmt* st) {
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) return 1;
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? 0 : -1;
}

Db::~Db() { Close(); }

std::string Db::SqliteError() const {
  if (!db_) return "the store is closed";
  const std::string text = sqlite3_errmsg(db_);
  const int code = sqlite3_errcode(db_) & 0xff;
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
    return "the store " + path_ + " is damaged (" + text + "); restore it from a copy";
  return text;
}

bool Db::Finished(bool ok) {
  if (!ok) error_ = SqliteError();
  return ok;
}

bool Db::Probe(const std::string& path, std::string* error) {
  // Another process may be filling the file in from its log (a checkpoint)
  // while it is read without a lock: a store then looks cut short,
  // unreadable or foreign for a moment. A verdict read from the file's
  // pages counts when it is still the verdict a moment later.
  for (int look = 0;; ++look) {
    bool sure = true;
    notStore_ = false;
    if (Judge(path, error, &sure)) return true;
    if (sure || look == 2) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(look == 0 ? 5 : 50));
  }
}

bool Db::Judge(const std::string& path, std::string* error, bool* sure) {
  const auto notStore = [&](const std::string& why) {
    notStore_ = true;
    *error = path + " is not an object store: " + why + "; nothing in it was changed";
    return false;
  };
  const auto damaged = [&](const std::string& why) {
    *error = path + " is a damaged object store: " + why +
             "; nothing in it was changed. Restore it from a copy";
    return false;
  };
  // Only what SQLite finds malformed is damage; a file it cannot open or
  // lock now (its log unreadable, another process busy) is not.
  const auto unreadable = [&](const StoreMark& mark) {
    const int code = mark.code & 0xff;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
      return damaged("SQLite cannot read it (" + mark.error + ")");
    *error = "Cannot read " + path + ": " + mark.error + "; nothing in it was changed";
    return false;
  };
  unsigned char head[100] = {};
  long long size = 0;
  {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      *error = "Cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) return notStore("it is not a file");
    // Read through the kept descriptor: closing one of our own would drop
    // the locks another connection of this process holds on the file.
    const int fd = LookoutDescriptor(path);
    if (fd < 0) {
      *error = "Cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return notStore("it is not a file");
    size = static_cast<long long>(st.st_size);
    const ssize_t got = size > 0 ? ::pread(fd, head, sizeof head, 0) : 0;
    if (size == 0) return notStore("it is empty (0 bytes)");
    if (got < 16 || std::memcmp(head, kSqliteMagic, 16) != 0)
      return notStore("it is no SQLite database");
    if (got < static_cast<ssize_t>(sizeof head))
      return damaged("it is cut short (" + std::to_string(size) + " bytes)");
  }
  // What follows rests on the file's pages, which a checkpoint may be
  // writing.
  *sure = false;
  // A log that waits to be read may hold what the file lacks, and a
  // checkpoint may be filling the file in: the file's size is judged only
  // without one.
  const bool log = NonEmptyFile(path + "-wal");
  if (!log) {
    const auto be32 = [&](int at) {
      return (static_cast<uint32_t>(head[at]) << 24) | (static_cast<uint32_t>(head[at + 1]) << 16) |
             (static_cast<uint32_t>(head[at + 2]) << 8) | head[at + 3];
    };
    long long page = (head[16] << 8) | head[17];
    if (page == 1) page = 65536;
    if (page < 512 || (page & (page - 1)) != 0) return damaged("its header is damaged");
    // The page count is valid when the change counter beside it agrees.
    const long long pages = be32(24) == be32(92) ? be32(28) : 0;
    if (size % page != 0 || size < pages * page) {
      return damaged("it is cut short (" + std::to_string(size) + " bytes" +
                     (pages > 0 ? " of " + std::to_string(pages * page) : std::string()) + ")");
    }
  }
  // The file as it is, without its log: an immutable connection takes no
  // lock and makes no file beside it. A store marks itself with its "meta"
  // table, made with its first tables in one transaction.
  StoreMark mark;
  const bool read = ReadMark("file:" + UriPath(path) + "?immutable=1", &mark);
  if (!read && !log) return unreadable(mark);
  // Nothing in the file but a log beside it: a store just made whose tables
  // are still in the log, or another program's database. The log tells,
  // read as SQLite reads it beside the processes that may be writing it
  // (through its index), or, with no index beside it (so no process at
  // work), into memory, which makes no index.
  if (log && (!read || (!mark.meta && !mark.others))) {
    sqlite3* reader = nullptr;
    bool inUse = false;
    const int rc = FileExists(path + "-shm") ? OpenForReading(path, &reader, &inUse)
                                             : OpenWithLogInMemory(path, &reader);
    if (inUse) {
      inUse_ = *sure = true;
      *error = InUseText(path, readOnly_);
      return false;
    }
    const bool readWithLog = rc == SQLITE_OK && ReadMark(reader, &mark);
    if (rc != SQLITE_OK) {
      mark.error = reader ? sqlite3_errmsg(reader) : sqlite3_errstr(rc);
      mark.code = rc;
    }
    sqlite3_close(reader);
    if (!readWithLog) return unreadable(mark);
  }
  if (mark.format > 1) {
    *error = path + " is an object store of another version; nothing in it was changed";
    return false;
  }
  if (mark.format != 1)
    return notStore(mark.meta || mark.others ? "it is a database of something else"
                                             : "it is an SQLite database without tables");
  return true;
}

bool Db::Open(const std::string& path, bool mustExist, bool mustNotExist, bool readOnly,
              std::string* error) {
  notStore_ = inUse_ = false;
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
  // What the file is, decided before anything is written to it.
  if (exists && !Probe(path, error)) return false;
  int rc = readOnly_
               ? OpenForReading(path, &db_, &inUse_)
               : sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  if (inUse_) {
    *error = InUseText(path, true);
    return false;
  }
  if (rc != SQLITE_OK) {
    *error = "Cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    Close();
    return false;
  }
  sqlite3_busy_timeout(db_, busyMs_);
  const std::string pragmas =
      memory || readOnly_
          ? std::string("PRAGMA foreign_keys=ON;")
          : "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; "
            "PRAGMA journal_size_limit=" +
                std::to_string(kLogLimit) + ";";
  if (sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = std::string("Cannot set up ") + path + ": " + sqlite3_errmsg(db_);
    Close();
    return false;
  }
  if (!memory && !readOnly_) walPath_ = path + "-wal";
  // The names the file holds, read once: a failed read is no empty file.
  std::vector<u16> names;
  if (!Query("SELECT name FROM sqlite_master",
             [&](sqlite3_stmt* st) { names.push_back(ColText(st, 0)); })) {
    *error = "Cannot read " + path + ": " + error_;
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
    Close();
    return false;
  }
  if (!hasTables) {
    char* msg = nullptr;
    std::string sql = std::string("BEGIN;") + kSchema + "COMMIT;";
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      *error = std::string("Cannot create the tables of ") + path + ": " + (msg ? msg : "?");
      sqlite3_free(msg);
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
      Close();
      return false;
    }
    if (sqlite3_exec(db_, table[1], nullptr, nullptr, nullptr) != SQLITE_OK) {
      *error = std::string("Cannot set up ") + path + ": " + SqliteError();
      Close();
      return false;
    }
  }
  return true;
}

void Db::Close() {
  for (auto& [sql, st] : cache_) sqlite3_finalize(st);
  cache_.clear();
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  walPath_.clear();
  inTxn_ = false;
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
  if (!db_) return false;
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
  if (!db_ || inTxn_ || walPath_.empty() || ::stat(walPath_.c_str(), &st) != 0 ||
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
  if (!FromUtf8(s, &out)) out = U16("?");
  return out;
}

std::string ColBlob(sqlite3_stmt* st, int col) {
  const void* b = sqlite3_column_blob(st, col);
  int n = sqlite3_column_bytes(st, col);
  return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(n)) : std::string();
}

}  // namespace kx::store
