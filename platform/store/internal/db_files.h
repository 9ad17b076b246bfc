// The file of a store and the files SQLite keeps beside it (its log,
// "-wal", and the log's index, "-shm"): what a file is, judged before
// anything is written to it, and the ways of reading a store without
// writing anything. Shared by db.cpp (the connection) and db_files.cpp.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <string>

struct sqlite3;

namespace kx::store {

// The application id (SQLite's header field for telling kinds of files
// apart) of the stores this version makes: "KXQS". Stores made before it
// have none (0) and are told by their tables alone.
constexpr int32_t kStoreApplicationId = 0x4B585153;

// What a database's own header and tables say of it.
struct StoreKind {
  int32_t applicationId = 0;
  bool tables = false;   // it has tables, views or triggers of its own
  long format = 0;       // the format its "meta" table gives (0: none)
  std::string mismatch;  // how its tables differ from a store's ("": they do not)
  std::string error;     // why it could not be read
  int code = 0;          // and SQLite's result code
};

// Reads the kind through `db`; false (with kind->error and code) when
// SQLite cannot.
bool ReadKind(sqlite3* db, StoreKind* kind);

bool FileExists(const std::string& path);
// What follows "restore it from a copy" for a damaged store at `path`: a
// log beside it is the damaged file's, and SQLite would take it as the
// copy's ("" when there is none).
std::string LogAdvice(const std::string& path);
// `path` as the path of a "file:" URI.
std::string UriPath(const std::string& path);

// The log and its index beside `path` are regular files or absent: a named
// pipe, a folder or a link there would hang or mislead SQLite's opening of
// them. So is a rollback journal ("-journal"), which a store never keeps,
// and it holds nothing that SQLite would play back into the file. False
// with *error (naming the file and what to do) otherwise.
bool PlainFilesBeside(const std::string& path, std::string* error);

// Opens the existing store at `path` for reading, writing nothing and
// making no file beside it. SQLite's result code, with *db set (to be
// closed by the caller) whenever SQLite made a connection; *inUse: another
// connection has it open and it could not be read beside it for a moment
// (SQLITE_BUSY). *lockFree: the connection takes no lock, so another
// process may write the file under it (see Unchanged).
int OpenForReading(const std::string& path, sqlite3** db, bool* inUse, bool* lockFree);
std::string InUseText(const std::string& path, bool readOnly);

// The name of the file layer the store's own connection opens with: the
// default one, but for the log, which it reads from the bytes Judge read
// and checked where they are provably the file's (see checkedLogs in
// db_files.cpp), until DropCheckedLog.
const char* StoreVfs();
// Forgets the log Db::Judge kept for `owner` (its Db): read from the file
// from then on.
void DropCheckedLog(const void* owner);

// Removes what a connection of this process made beside the store at
// `path` and left at a close without its checkpoint (log: the log, when
// empty; index: the log's index), when no connection has the store open.
void RemoveLeftBeside(const std::string& path, bool log, bool index);

// What shows that another process committed to the store at `path`: taken
// when a lock-free connection opens it, compared before and after each of
// its statements. Its opening and closing by another process, and a log
// with no frame in it, show nothing: they change nothing that is read. A
// commit adds frames to the log (or starts it again, with new salts), and a
// checkpoint writes into the file.
struct FileState {
  bool taken = false;
  long long size = 0, modified = 0;
  unsigned long long inode = 0;
  uint32_t counter = 0;   // the file's change counter (header byte 24)
  long long logSize = 0;  // 0: no frame in the log (or no log)
  uint64_t logSalts = 0;  // of the log's header
  bool operator==(const FileState&) const = default;
};
// False when the file cannot be looked at.
bool TakeFileState(const std::string& path, FileState* state);

}  // namespace kx::store
