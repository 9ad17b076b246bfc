// Files that are damaged, look like stores, or change under a reader: what
// cannot be read is never read as data, and nothing that is not a store,
// or is damaged, is written.
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store_test_support.h"

namespace kx::store::test {
namespace {

namespace fs = std::filesystem;

bool SaysDamaged(const std::string& text) {
  return text.find("damaged") != std::string::npos &&
         text.find("estore it from a copy") != std::string::npos;
}

std::string Tag(IKXQAttribute* tag) { return _bstr_t(Get(tag)).utf8(); }

long long Scalar(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  long long value = -1;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    value = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return value;
}

// The index through which the values referring to an object are found,
// zeroed: pump 20's "DataViews" (page 11 shows it) reads as no list then.
// That read fails the transaction it was made in, with what was written
// before it, and between transactions Store::TakeReadFailure says why. The
// file is as it was.
TEST(DamagedStoreTest, AListThatCannotBeReadFailsItsTransactionAndIsNeverAnEmptyList) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  const long long root = Scalar(path, "SELECT rootpage FROM sqlite_master WHERE name='vals_refs'");
  ASSERT_GT(root, 1);
  std::string bytes = FolderBytes(dir.path()).at("s.kxq");
  bytes.replace(static_cast<size_t>(root - 1) * 4096, 4096, std::string(4096, '\0'));
  WriteBytes(path, bytes);
  {
    std::unique_ptr<Store> s = Reopen(path);
    ASSERT_TRUE(s);
    auto pump = Obj(*s, 20);
    LONG count = -1;
    EXPECT_EQ(Attr(pump, u"DataViews")->get_Count(&count), S_OK);
    const Status read = s->TakeReadFailure();
    EXPECT_EQ(read.hr, KXQ_E_STORAGE);
    EXPECT_NE(read.message.find("Cannot read what refers to object 20: the store " + path +
                                " is damaged ("),
              std::string::npos)
        << read.message;
    EXPECT_TRUE(s->TakeReadFailure().ok());

    ASSERT_TRUE(s->Begin().ok());
    const Status registered = s->RegisterMethod(u"", u"Written", _variant_t(true));
    EXPECT_TRUE(registered.ok()) << registered.message;
    EXPECT_EQ(Attr(pump, u"DataViews")->get_Count(&count), S_OK);
    const Status committed = s->Commit();
    EXPECT_EQ(committed.hr, KXQ_E_STORAGE);
    EXPECT_NE(committed.message.find("rolled back: a read had failed (Cannot read what refers"),
              std::string::npos)
        << committed.message;
    EXPECT_TRUE(SaysDamaged(committed.message)) << committed.message;
  }
  EXPECT_EQ(FolderBytes(dir.path()), (std::map<std::string, std::string>{{"s.kxq", bytes}}));
}

// Damage found while reading a store beside the log of a killed process:
// closing the store wrote the log into the damaged file and took the log
// away. File and log stay as they were (the log's index is SQLite's own,
// made again at each first opening).
TEST(DamagedStoreTest, DamageFoundWhileReadingLeavesTheFileAndItsLogAsTheyWere) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  const long long root = Scalar(path, "SELECT rootpage FROM sqlite_master WHERE name='vals_refs'");
  ASSERT_GT(root, 1);
  RawSqlLeavingLog(path, "UPDATE vals SET txt='P-101B' WHERE obj=20 AND txt='P-101'");
  std::string bytes = FolderBytes(dir.path()).at("s.kxq");
  bytes.replace(static_cast<size_t>(root - 1) * 4096, 4096, std::string(4096, '\0'));
  WriteBytes(path, bytes);
  auto before = FolderBytes(dir.path());
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, mode, &s).ok());
    EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "P-101B");
    LONG count = -1;
    EXPECT_EQ(Attr(Obj(*s, 20), u"DataViews")->get_Count(&count), S_OK);
    EXPECT_TRUE(SaysDamaged(s->TakeReadFailure().message));
    s.reset();
    auto after = FolderBytes(dir.path());
    after.erase("s.kxq-shm");
    before.erase("s.kxq-shm");
    EXPECT_TRUE(after == before) << static_cast<int>(mode);
  }
}

// The store writes its texts in UTF-8 alone: other bytes in a text are
// damage that SQLite cannot see. Pump 20's tag read as "?", which a later
// write of that list would have made its value for good. Reading the pump
// fails, saying the store is damaged; pump 21 reads; the file is as it was.
TEST(DamagedStoreTest, ATextThatIsNoUtf8IsDamageNotAQuestionMark) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  RawSql(path, "UPDATE vals SET txt=CAST(X'502D313031FF' AS TEXT) WHERE obj=20 AND txt='P-101'");
  const auto before = FolderBytes(dir.path());
  {
    std::unique_ptr<Store> s = Reopen(path);
    ASSERT_TRUE(s);
    _com_ptr_t<IKXQObject> pump;
    EXPECT_EQ(s->Database()->get_Object(20, &pump), KXQ_E_STORAGE);
    const std::string error = ErrorText();
    EXPECT_NE(error.find("Cannot read object 20: the store " + path +
                         " is damaged (a text in it is no UTF-8); restore it from a copy"),
              std::string::npos)
        << error;
    EXPECT_EQ(Tag(Attr(Obj(*s, 21), u"Tag")), "P-102");
  }
  EXPECT_EQ(FolderBytes(dir.path()), before);
}

// What a store is comes from all its tables and their columns, before
// anything is written: a database with a "meta" table that names format 1,
// a store whose "meta" is a view, one with a table of someone else's, or
// one with every table and column of a store by name but declared otherwise
// is refused and left byte for byte; so is one that another program's
// application id marks, cut short or not (its header says whose it is
// before its size is measured). A new store carries the store's id ("KXQS"); one
// made before it (id 0) opens and reads as before; one marked as a store
// whose tables are not a store's is damaged.
TEST(DamagedStoreTest, WhatLooksLikeAStoreIsJudgedByAllItsTablesBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string made = dir.File("made.kxq");
  OpenPlant(made).reset();
  EXPECT_EQ(FolderBytes(dir.path()).at("made.kxq").substr(68, 4), "KXQS");
  const std::string store = FolderBytes(dir.path()).at("made.kxq");
  fs::remove(made);
  const auto copy = [&](const char* name, const char* sql) {
    WriteBytes(dir.File(name), store);
    RawSql(dir.File(name), sql);
  };
  RawSql(dir.File("metaonly.kxq"),
         "CREATE TABLE meta(key TEXT PRIMARY KEY, value); INSERT INTO meta VALUES('format', 1)");
  copy("view.kxq",
       "PRAGMA application_id=0; DROP TABLE meta; CREATE VIEW meta AS SELECT 'format' AS key, 1 "
       "AS value");
  copy("extra.kxq", "PRAGMA application_id=0; CREATE TABLE invoices(id)");
  copy("foreign.kxq", "PRAGMA application_id=7");
  copy("foreigncut.kxq", "PRAGMA application_id=7");
  fs::resize_file(dir.File("foreigncut.kxq"), store.size() - 4096);
  copy("ours.kxq", "ALTER TABLE units ADD COLUMN colour");
  copy("old.kxq", "PRAGMA application_id=0");
  // Every table of a store by name, with its column names, but declared
  // otherwise (no types, keys or constraints).
  std::string lookalike;
  {
    WriteBytes(made, store);
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    sqlite3_open_v2(made.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(db,
                       "SELECT 'CREATE TABLE ' || m.name || '(' || (SELECT group_concat(c.name) "
                       "FROM pragma_table_info(m.name) c) || ');' FROM sqlite_master m WHERE "
                       "m.type='table'",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      lookalike += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    fs::remove(made);
  }
  ASSERT_NE(lookalike.find("CREATE TABLE vals(obj,attr,pos,"), std::string::npos) << lookalike;
  RawSql(dir.File("untyped.kxq"), (lookalike + "INSERT INTO meta VALUES('format', 1)").c_str());
  const auto before = FolderBytes(dir.path());
  const std::pair<const char*, const char*> refused[] = {
      {"metaonly.kxq", "is not an object store: it is a database of something else (it has no"},
      {"view.kxq", "it is a database of something else (its view meta is not a store's)"},
      {"extra.kxq", "of something else (it has a table invoices that a store does not have)"},
      {"foreign.kxq", "of something else (application id 0x00000007)"},
      {"foreigncut.kxq", "of something else (application id 0x00000007)"},
      {"untyped.kxq", "of something else (its table attribute_links is not a store's)"},
      {"ours.kxq", "is a damaged object store: its table units is not a store's"}};
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kOpenOrCreate, OpenMode::kReadOnly}) {
    for (const auto& [name, says] : refused) {
      std::unique_ptr<Store> s;
      const Status opened = Store::Open(dir.File(name), mode, &s);
      EXPECT_EQ(opened.hr, std::string(name) == "ours.kxq" ? KXQ_E_STORAGE : KXQ_E_NOTSTORE);
      EXPECT_NE(opened.message.find(says), std::string::npos) << opened.message;
    }
  }
  EXPECT_EQ(FolderBytes(dir.path()), before);
  std::unique_ptr<Store> old = Reopen(dir.File("old.kxq"));
  ASSERT_TRUE(old);
  EXPECT_EQ(Tag(Attr(Obj(*old, 20), u"Tag")), "P-101");
}

// A process killed after a commit leaves the pages it wrote in the log. The
// file then needs only the pages the log does not hold: one shorter than
// the database the log makes opens, one cut short of pages only it held is
// refused as damaged in every mode, and the file and its log stay byte for
// byte (a write's checkpoint would have made the damage permanent); what
// to do says that the log goes with the damaged file, not to the copy. A
// file with bytes past its last page is damaged too, not cut short.
TEST(DamagedStoreTest, AStoreCutShortBesideItsLogIsRefusedUnlessTheLogHoldsWhatIsMissing) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  const size_t size = fs::file_size(path);
  RawSqlLeavingLog(path,
                   "UPDATE vals SET txt='P-101B' WHERE obj=20 AND txt='P-101'; INSERT INTO "
                   "workflow(obj, code, text) VALUES(20, 0, hex(randomblob(20000)))");
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kReadOnly, &s).ok());
    EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "P-101B");
  }
  ASSERT_EQ(fs::file_size(path), size);  // the grown pages are in the log alone
  const std::string whole = FolderBytes(dir.path()).at("s.kxq");
  fs::resize_file(path, size / 2);
  const auto before = FolderBytes(dir.path());
  ASSERT_EQ(before.size(), 2u);
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> s;
    const Status opened = Store::Open(path, mode, &s);
    EXPECT_EQ(opened.hr, KXQ_E_STORAGE);
    EXPECT_NE(opened.message.find(" is a damaged object store: it is cut short (" +
                                  std::to_string(size / 2) + " bytes of "),
              std::string::npos)
        << opened.message;
    EXPECT_NE(opened.message.find("its log does not hold the rest; nothing in it was changed. "
                                  "Restore it from a copy (first move " +
                                  path + "-wal and " + path +
                                  "-shm away with the damaged file, when no process has it open: "
                                  "SQLite would take that log as the copy's)"),
              std::string::npos)
        << opened.message;
    EXPECT_EQ(FolderBytes(dir.path()), before);
  }
  // Without a log, bytes past the last page the header counts.
  fs::remove(path + "-wal");
  WriteBytes(path, whole + "x");
  std::unique_ptr<Store> s;
  const Status opened = Store::Open(path, OpenMode::kOpenExisting, &s);
  EXPECT_NE(
      opened.message.find(" is a damaged object store: its size (" + std::to_string(size + 1) +
                          " bytes) is no whole number of its 4096-byte pages; nothing in it "
                          "was changed. Restore it from a copy"),
      std::string::npos)
      << opened.message;
}

// SQLite reads a log up to its first frame that does not follow on, as
// where a process died writing it, and drops what comes after. A frame of
// a log zeroed before its commits dropped them without a word (and the
// next write made that for good). Damage is told from a death by a commit
// past the stop that another transaction followed: such a log is refused,
// left as it was; one that ends in half a frame opens.
TEST(DamagedStoreTest, ALogDamagedBeforeItsCommitsIsRefusedNotReadUpToTheDamage) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  // Two commits: the first of several frames, the second of one.
  RawSqlLeavingLog(path,
                   "UPDATE vals SET txt='P-101B' WHERE obj=20 AND txt='P-101'; INSERT INTO "
                   "workflow(obj, code, text) VALUES(20, 0, hex(randomblob(20000))); UPDATE vals "
                   "SET txt='P-102B' WHERE obj=21 AND txt='P-102'");
  const std::string log = FolderBytes(dir.path()).at("s.kxq-wal");
  ASSERT_GE(log.size(), 32u + 3 * (24 + 4096));
  WriteBytes(path + "-wal", log.substr(0, log.size() - 100));
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kReadOnly, &s).ok());
    EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "P-101B");
    EXPECT_EQ(Tag(Attr(Obj(*s, 21), u"Tag")), "P-102");
  }
  std::string zeroed = log;
  zeroed.replace(32, 24 + 4096, std::string(24 + 4096, '\0'));
  WriteBytes(path + "-wal", zeroed);
  fs::remove(path + "-shm");
  const auto before = FolderBytes(dir.path());
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> s;
    const Status opened = Store::Open(path, mode, &s);
    EXPECT_EQ(opened.hr, KXQ_E_STORAGE);
    EXPECT_NE(opened.message.find(" is a damaged object store: its log, " + path +
                                  "-wal, is damaged at frame 1: SQLite would read it only that "
                                  "far and drop the commits after it"),
              std::string::npos)
        << opened.message;
  }
  EXPECT_TRUE(FolderBytes(dir.path()) == before);
}

// The bytes this process has read so far (-1: the system does not say).
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// Opening a store beside the log of many commits a killed writer left read
// the log twice: once to check it, and again in SQLite's recovery of it.
// It is read once, and what it holds is read as SQLite would read it.
TEST(DamagedStoreTest, AStoreBesideALogOfManyCommitsReadsTheLogOnceAsItOpens) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  std::string sql = "UPDATE vals SET txt='A1' WHERE obj=20 AND txt='P-101';";
  for (int k = 2; k <= 1000; ++k)
    sql += "UPDATE vals SET txt='A" + std::to_string(k) + "' WHERE obj=20 AND txt='A" +
           std::to_string(k - 1) + "';";
  RawSqlLeavingLog(path, sql.c_str());
  const auto log = static_cast<long long>(fs::file_size(path + "-wal"));
  ASSERT_GE(log, 1000LL * (24 + 4096));
  const long long before = BytesRead();
  if (before < 0) GTEST_SKIP() << "/proc/self/io cannot be read here";
  std::unique_ptr<Store> s;
  const Status opened = Store::Open(path, OpenMode::kOpenExisting, &s);
  const long long read = BytesRead() - before;
  ASSERT_TRUE(opened.ok()) << opened.message;
  EXPECT_LT(read, log + log / 2) << "the log is " << log << " bytes";
  EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "A1000");
}

// `log` with its salts set to `salts` and its checksums made again, as
// SQLite writes a log (words in the order its magic number names).
std::string Resalted(std::string log, const std::string& salts, size_t frame) {
  const auto word = [&](size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(log.data() + at);
    return (log[3] & 1) ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                        : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  };
  const auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) log[at + k] = static_cast<char>(v >> (24 - 8 * k));
  };
  uint32_t s[2] = {0, 0};
  const auto sum = [&](size_t at, size_t length) {
    for (size_t k = 0; k < length; k += 8) {
      s[0] += word(at + k) + s[1];
      s[1] += word(at + k + 4) + s[0];
    }
  };
  log.replace(16, 8, salts);
  sum(0, 24);
  put(24, s[0]);
  put(28, s[1]);
  for (size_t at = 32; at + frame <= log.size(); at += frame) {
    log.replace(at + 8, 8, salts);
    sum(at, 8);
    sum(at + 24, frame - 24);
    put(at + 16, s[0]);
    put(at + 20, s[1]);
  }
  return log;
}

// What the log beside the store becomes as the store's connection opens
// (after the check of the log, before SQLite reads it).
std::string* logLater = nullptr;
std::string logLaterPath;

int WriteLogLater(sqlite3* db, char**, const sqlite3_api_routines*) {
  if (logLater && !sqlite3_db_readonly(db, "main")) {
    std::fstream out(logLaterPath, std::ios::in | std::ios::out | std::ios::binary);
    out.write(logLater->data(), static_cast<std::streamsize>(logLater->size()));
    logLater = nullptr;
  }
  return SQLITE_OK;
}

// A writer killed after writing a commit to the log but before making it
// visible leaves it to be written over with the same salts, by a process
// that has the store open, in a log of the same size. The log read by the
// check is not handed to SQLite then: it reads the file's. (Here the one
// frame of a commit is written again holding another page, as it is in the
// file: SQLite handed the frame as checked reads that page as pump 20's.)
TEST(DamagedStoreTest, ALogWrittenAgainWithTheSameSaltsAndSizeAsTheStoreOpensIsReadFromTheFile) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  RawSqlLeavingLog(path, "UPDATE vals SET txt='L1' WHERE obj=20 AND txt='P-101'");
  const auto files = FolderBytes(dir.path());
  const std::string& store = files.at("s.kxq");
  const std::string& first = files.at("s.kxq-wal");
  const size_t page = static_cast<size_t>(Scalar(path, "PRAGMA page_size"));
  ASSERT_EQ(first.size(), 32 + 24 + page);
  const size_t last = store.size() / page;
  ASSERT_NE(first.substr(32, 4),
            std::string({0, 0, static_cast<char>(last >> 8), static_cast<char>(last & 0xff)}));
  std::string second = first;
  second.replace(32, 4, {0, 0, static_cast<char>(last >> 8), static_cast<char>(last & 0xff)});
  second.replace(56, page, store.substr((last - 1) * page, page));
  second = Resalted(second, first.substr(16, 8), 24 + page);
  WriteBytes(path + "-wal", first);
  fs::remove(path + "-shm");
  logLater = &second;
  logLaterPath = path + "-wal";
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(WriteLogLater));
  std::unique_ptr<Store> s;
  const Status opened = Store::Open(path, OpenMode::kOpenExisting, &s);
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(WriteLogLater));
  ASSERT_EQ(logLater, nullptr);
  ASSERT_EQ(FolderBytes(dir.path()).at("s.kxq-wal").substr(0, second.size()), second);
  ASSERT_TRUE(opened.ok()) << opened.message;
  EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "P-101");
}

// A log or index beside the store that is no plain file (a named pipe
// hung the opening for good, a folder misleads it) is refused at once,
// saying which and what to do, also where a link names the store (the
// pipe beside the file it links to was opened, and at the close removed);
// a new store is not made beside one.
TEST(DamagedStoreTest, ALogOrIndexThatIsNoPlainFileIsRefused) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  ASSERT_EQ(::mkfifo((path + "-wal").c_str(), 0644), 0);
  fs::create_directory(path + "-shm");
  // Through a link too: SQLite keeps the log beside the file it links to.
  fs::create_symlink(path, dir.File("link.kxq"));
  for (const std::string& name : {path, dir.File("link.kxq")}) {
    for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kReadOnly}) {
      std::unique_ptr<Store> s;
      const Status opened = Store::Open(name, mode, &s);
      EXPECT_FALSE(opened.ok());
      EXPECT_NE(opened.message.find(path +
                                    "-wal, where SQLite keeps the store's log, is a named "
                                    "pipe; nothing was read or changed. Remove " +
                                    path + "-wal"),
                std::string::npos)
          << opened.message;
    }
  }
  fs::remove(path + "-wal");
  fs::remove(dir.File("link.kxq"));
  std::unique_ptr<Store> s;
  EXPECT_NE(Store::Open(path, OpenMode::kReadOnly, &s)
                .message.find("-shm, where SQLite keeps "
                              "the store's log's index, "
                              "is a folder"),
            std::string::npos);
  fs::remove(path);
  const Status made = Store::Open(path, OpenMode::kCreate, &s);
  EXPECT_NE(made.message.find("Cannot make a store at " + path + ": " + path +
                              "-shm lies there, the log's index of an earlier store"),
            std::string::npos)
      << made.message;
  EXPECT_FALSE(fs::exists(path));
}

// A rollback journal beside a store (a store keeps none) was played back
// into it before it was read, whatever database it came from: the store
// became that database's pages. A named pipe there hung the opening. Both
// are refused in every mode, store and journal left byte for byte, and no
// store is made beside a journal.
TEST(DamagedStoreTest, ARollbackJournalBesideAStoreIsRefusedNotPlayedBack) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  {
    // Another database's journal, taken while its transaction has written
    // pages into its file (a process killed then leaves it so).
    const std::string other = dir.File("other.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=DELETE; CREATE TABLE t(x); WITH RECURSIVE n(k) AS "
                           "(SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 100) INSERT INTO t "
                           "SELECT randomblob(4000) FROM n; PRAGMA cache_size=2; BEGIN; UPDATE t "
                           "SET x=randomblob(4000)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    WriteBytes(path + "-journal", FolderBytes(dir.path()).at("other.db-journal"));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    fs::remove(other);
  }
  const auto before = FolderBytes(dir.path());
  ASSERT_EQ(before.size(), 2u);
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kOpenOrCreate, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> s;
    const Status opened = Store::Open(path, mode, &s);
    EXPECT_EQ(opened.hr, KXQ_E_STORAGE);
    EXPECT_NE(opened.message.find(path +
                                  "-journal lies beside it, a rollback journal, which a "
                                  "store does not keep and SQLite would write into it; "
                                  "nothing was read or changed. Move " +
                                  path + "-journal away"),
              std::string::npos)
        << opened.message;
  }
  EXPECT_EQ(FolderBytes(dir.path()), before);
  fs::remove(path + "-journal");
  ASSERT_EQ(::mkfifo((path + "-journal").c_str(), 0644), 0);
  std::unique_ptr<Store> s;
  EXPECT_NE(Store::Open(path, OpenMode::kOpenExisting, &s)
                .message.find("-journal, where SQLite keeps a rollback journal, is a named pipe"),
            std::string::npos);
  fs::remove(path);
  const Status made = Store::Open(path, OpenMode::kCreate, &s);
  EXPECT_NE(made.message.find("Cannot make a store at " + path + ": " + path +
                              "-journal lies there, a rollback journal"),
            std::string::npos)
      << made.message;
  EXPECT_FALSE(fs::exists(path));
}

// A store read only while no other process has it open is read without
// locks and with no file made beside it. What another process commits
// meanwhile is never mixed into what was read: a read after it fails
// (KXQ_E_BUSY, or the transaction it was made in), and the next
// transaction reads the file again, whole.
TEST(DamagedStoreTest, AReaderWithoutLocksNeverMixesInWhatAnotherProcessWrote) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  std::unique_ptr<Store> reader;
  ASSERT_TRUE(Store::Open(path, OpenMode::kReadOnly, &reader).ok());
  EXPECT_EQ(FolderBytes(dir.path()).size(), 1u);
  EXPECT_EQ(Tag(Attr(Obj(*reader, 20), u"Tag")), "P-101");
  const auto write = [&](const char16_t* tag) {
    std::unique_ptr<Store> writer = Reopen(path);
    ASSERT_TRUE(writer);
    EXPECT_EQ(Put(Attr(Obj(*writer, 21), u"Tag"), 0, _variant_t(tag)), S_OK);
  };
  write(u"P-102B");
  _com_ptr_t<IKXQObject> pump;
  EXPECT_EQ(reader->Database()->get_Object(21, &pump), KXQ_E_BUSY);
  EXPECT_NE(ErrorText().find(path + " was written by another process (a commit landed) while "
                                    "this one read it without locks"),
            std::string::npos);
  ASSERT_TRUE(reader->Begin().ok());
  EXPECT_EQ(Tag(Attr(Obj(*reader, 21), u"Tag")), "P-102B");
  EXPECT_TRUE(reader->Commit().ok());

  ASSERT_TRUE(reader->Begin().ok());
  write(u"P-102C");
  LONG count = 0;
  (void)Attr(Obj(*reader, 20), u"DataViews")->get_Count(&count);
  const Status committed = reader->Commit();
  EXPECT_EQ(committed.hr, KXQ_E_STORAGE);
  EXPECT_NE(committed.message.find("a read had failed"), std::string::npos) << committed.message;
  ASSERT_TRUE(reader->Begin().ok());
  EXPECT_EQ(Tag(Attr(Obj(*reader, 21), u"Tag")), "P-102C");
  EXPECT_TRUE(reader->Commit().ok());
  reader.reset();
  EXPECT_EQ(FolderBytes(dir.path()).size(), 1u);
}

// Another database's log beside a store is what SQLite reads first: the
// store is that database, refused in every mode, and the refusal writes
// nothing (the connection's close had checkpointed that log into the
// store and removed it). The store opens as before once the log is gone.
TEST(DamagedStoreTest, AStoreBesideAnotherDatabasesLogIsRefusedUntouched) {
  TempDir dir, other;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  RawSqlLeavingLog(other.File("o.kxq"),
                   "PRAGMA journal_mode=WAL; CREATE TABLE q(x); WITH RECURSIVE n(k) AS (SELECT 1 "
                   "UNION ALL SELECT k+1 FROM n WHERE k<500) INSERT INTO q SELECT 'y' FROM n;");
  fs::copy_file(other.File("o.kxq-wal"), path + "-wal");
  const auto before = FolderBytes(dir.path());
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kOpenOrCreate, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> s;
    const Status opened = Store::Open(path, mode, &s);
    EXPECT_EQ(opened.hr, KXQ_E_NOTSTORE);
    EXPECT_NE(opened.message.find(path + " is not an object store: it is a database of something "
                                         "else"),
              std::string::npos)
        << opened.message;
    EXPECT_TRUE(FolderBytes(dir.path()) == before);
  }
  fs::remove(path + "-wal");
  std::unique_ptr<Store> s = Reopen(path);
  ASSERT_TRUE(s);
  EXPECT_EQ(Tag(Attr(Obj(*s, 20), u"Tag")), "P-101");
}

}  // namespace
}  // namespace kx::store::test
