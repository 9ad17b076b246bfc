// SQLite persistence of a store: schema creation, loading and write-through.
// Every write runs inside the transaction the core opened.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "store/internal/db_files.h"
#include "store/internal/model.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kx::store {

// One bound SQL parameter.
struct SqlArg {
  enum Kind { kNull, kInt, kReal, kText, kBlob } kind = kNull;
  int64_t i = 0;
  double r = 0;
  std::string s;  // UTF-8 text or blob bytes

  SqlArg() = default;
  SqlArg(int v) : kind(kInt), i(v) {}
  SqlArg(long v) : kind(kInt), i(v) {}
  SqlArg(long long v) : kind(kInt), i(v) {}
  SqlArg(bool v) : kind(kInt), i(v ? 1 : 0) {}
  SqlArg(double v) : kind(kReal), r(v) {}
  SqlArg(const u16& v) : kind(kText), s(ToUtf8(v)) {}
  SqlArg(const char* v) : kind(kText), s(v) {}
  static SqlArg Blob(const std::string& b) {
    SqlArg a;
    a.kind = kBlob;
    a.s = b;
    return a;
  }
};

// Steps a query: 1 a row, 0 done, -1 an error.
int KxStepRow(sqlite3_stmt* st);

// Calls fn(stmt) for every row of a prepared query.
template <class Fn>
bool Rows(sqlite3_stmt* st, Fn&& fn) {
  if (!st) return false;
  for (;;) {
    int rc = KxStepRow(st);
    if (rc == 1) {
      fn(st);
      continue;
    }
    return rc == 0;
  }
}

class Db {
 public:
  Db() = default;
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // Opens (creating the tables of a new file). False with *error set. An
  // existing file is judged before anything is written to it: one that is
  // no object store is refused (NotAStore) and left as it was. A link is
  // followed to its file, which messages name.
  // readOnly: an existing file, never written, with no file made beside it:
  // read beside the processes that have it open, through their log's index
  // (when SQLite cannot, for a moment, the open fails: InUse), or, when no
  // process has it open, without locks, the file and its log as they are
  // then (see Moved).
  bool Open(const std::string& path, bool mustExist, bool mustNotExist, bool readOnly,
            std::string* error);
  // The last Open failed because the file is no object store.
  bool NotAStore() const { return notStore_; }
  // The last Open failed because another connection has the file open and
  // it could not be read beside it; nothing was read; a later try may work.
  bool InUse() const { return inUse_; }
  bool ReadOnly() const { return readOnly_; }
  // The last failure: the store, read without locks (no other process had
  // it open), was written or opened by another process since; what was
  // read since is not used. Between transactions, Reopen reads it again.
  bool Moved() const { return moved_; }
  // Opens a read-only connection again on the file as it is now (see
  // Open): beside the processes that have it open, or again without locks.
  // False with LastError (Moved() stays).
  bool Reopen();
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  bool InTransaction() const { return inTxn_; }

  // write: takes the write lock at once (waiting at most the busy timeout).
  bool Begin(bool write = true);
  // The last Begin failed because another connection held the lock.
  bool Busy() const { return busy_; }
  void SetBusyTimeout(int milliseconds);
  bool Commit();
  void Rollback();
  // After a commit: when the write-ahead log has grown past kLogLimit, a
  // checkpoint that truncates it, without waiting for other processes (one
  // that finds them busy does what it can; a later commit tries again).
  void BoundLog();
  // The write-ahead log is cut back to this size when it starts again from
  // its beginning (journal_size_limit), and checkpointed and truncated after
  // a commit that finds it larger.
  static constexpr long long kLogLimit = 4LL * 1024 * 1024;

  // Runs one statement with arguments (cached). SQLITE_DONE/ROW count as
  // success: returns true; else false with LastError().
  bool Run(const char* sql, std::initializer_list<SqlArg> args);
  const std::string& LastError() const { return error_; }
  // That the store is damaged (why) and what to do about it; from then on
  // the connection writes nothing more into the file.
  std::string Damaged(const std::string& why) const;

  // Value rows of (obj, attr): deletes positions past the list's end and
  // writes values [from - 1, size) again. grown: the list only grew from
  // position from on, so no row past it exists and none is deleted.
  bool WriteTail(int32_t obj, int32_t attr, const Value* values, size_t count, size_t from,
                 bool grown = false);
  bool WriteTail(int32_t obj, int32_t attr, const std::vector<Value>& values, size_t from,
                 bool grown = false) {
    return WriteTail(obj, attr, values.data(), values.size(), from, grown);
  }
  // Writes one slot (position pos, 1-based) in place.
  bool WriteSlot(int32_t obj, int32_t attr, size_t pos, const Value& v);

  // Calls fn(stmt) for every row of a query (with its arguments bound).
  // False, with LastError, when a statement fails at any row: the rows
  // handed over so far are no answer.
  template <class Fn>
  bool Query(const char* sql, Fn&& fn) {
    return Readable() && Settled(Rows(Prepare(sql), fn));
  }
  template <class Fn>
  bool Query(const char* sql, std::initializer_list<SqlArg> args, Fn&& fn) {
    return Readable() && Settled(Rows(PrepareWith(sql, args), fn));
  }

  sqlite3_stmt* Prepare(const char* sql);
  // Prepared with the arguments bound; null on failure (LastError).
  sqlite3_stmt* PrepareWith(const char* sql, std::initializer_list<SqlArg> args);
  void FailWriteAfter(long n) { failAfter_ = n; }
  std::string IntegrityCheck();

 private:
  // Whether the existing file at `path` is an object store, read without
  // writing anything or making a file beside it (see Open).
  bool Probe(const std::string& path, std::string* error);
  // One look of Probe's. *sure false: the verdict rests on the file's
  // pages, which another process may be writing.
  bool Judge(const std::string& path, std::string* error, bool* sure);
  // True (with LastError set) on a read-only store: nothing is written.
  bool ReadOnlyRefuses();
  bool Step(sqlite3_stmt* st);
  // SQLite's last error on the connection, as LastError gives it: one
  // that finds the file malformed says the store is damaged and what to
  // do, and keeps the connection from writing its log into the file.
  std::string SqliteError() const;
  // Whether a query may run: the connection is open and, read without
  // locks, the file has not moved (else LastError).
  bool Readable();
  // The outcome of a query that ran: ok unless it failed (LastError from
  // the connection) or the file moved under a reading without locks.
  bool Settled(bool ok);
  // Opens the read-only connection (see Open); false with *error.
  bool ConnectForReading(std::string* error);
  // A connection without locks: no other connection has had the file open
  // and the file and its log are as they were when it opened. Else false,
  // with LastError, and Moved() from then on.
  bool Unchanged();
  // Runs a transaction statement (BEGIN, COMMIT, ROLLBACK) from the cache of
  // the connection, parsed once: SQLITE_OK or SQLite's error code, with the
  // message in sqlite3_errmsg.
  int RunControl(const char* sql);
  bool Bind(sqlite3_stmt* st, int index, const SqlArg& a);
  bool InjectFault();
  // True (with LastError set) when a transaction was begun here and SQLite
  // has ended it by itself: nothing more may be written until Rollback.
  bool TransactionLost();
  bool BindValue(sqlite3_stmt* st, int32_t obj, int32_t attr, size_t pos, const Value& v);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string walPath_;  // empty without a write-ahead log (":memory:")
  int busyMs_ = 5000;
  std::map<const char*, sqlite3_stmt*> cache_;
  std::string error_;
  long failAfter_ = 0;
  bool inTxn_ = false;
  bool busy_ = false;
  bool readOnly_ = false;
  bool notStore_ = false;
  bool inUse_ = false;
  bool lockFree_ = false;  // read-only, taking no lock: the file is watched
  bool moved_ = false;
  // SQLite found the file malformed: nothing is checkpointed into it.
  mutable bool damaged_ = false;
  // Open refused the file after its connection opened: the close writes
  // nothing into it.
  bool refused_ = false;
  // The log and its index were not there before this connection opened.
  bool madeLog_ = false, madeIndex_ = false;
  FileState state_;  // of the file when a lock-free connection opened
};

// Column readers for Query callbacks.
int64_t ColInt(sqlite3_stmt* st, int col);
double ColReal(sqlite3_stmt* st, int col);
// A text that is no UTF-8 (the store writes none) reads as empty and fails
// the Db::Query it was read in, as damage.
u16 ColText(sqlite3_stmt* st, int col);
std::string ColBlob(sqlite3_stmt* st, int col);
bool ColIsNull(sqlite3_stmt* st, int col);

}  // namespace kx::store
