// The file of a store and the files beside it: the judging of an existing
// file before anything is written to it (Db::Probe), and the connections
// that read a store without writing anything or making a file beside it.
#include "store/internal/db_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "store/internal/db.h"

namespace kx::store {

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string LogAdvice(const std::string& path) {
  struct stat st;
  if (::stat((path + "-wal").c_str(), &st) != 0 || st.st_size == 0) return "";
  return " (first move " + path + "-wal and " + path +
         "-shm away with the damaged file, when no process has it open: SQLite would take "
         "that log as the copy's)";
}

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

namespace {

// Whether user `uid` (whose group may be `gid`) may write a file of `st`,
// as the system decides it for a process of that user.
bool MayWrite(uid_t uid, gid_t gid, const struct stat& st) {
  if (uid == 0) return true;
  if (uid == st.st_uid) return (st.st_mode & S_IWUSR) != 0;
  bool member = gid == st.st_gid;
  if (!member) {
    std::vector<char> buffer(16384);
    struct passwd entry, *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
      int count = 64;
      std::vector<gid_t> groups(static_cast<size_t>(count));
      int listed = ::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count);
      // A user in more groups than the first guess: the call said how many.
      if (listed < 0 && count > static_cast<int>(groups.size())) {
        groups.resize(static_cast<size_t>(count));
        listed = ::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count);
      }
      if (listed >= 0)
        member =
            std::find(groups.begin(), groups.begin() + count, st.st_gid) != groups.begin() + count;
    }
  }
  return (st.st_mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  std::string name = "user " + std::to_string(uid);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    name += std::string(" (") + found->pw_name + ")";
  return name;
}

}  // namespace

bool PlainFilesBeside(const std::string& path, std::string* error) {
  struct stat store;
  const bool known = ::stat(path.c_str(), &store) == 0;
  for (const char* part : {"-wal", "-shm", "-journal"}) {
    struct stat st;
    const std::string beside = path + part;
    if (::lstat(beside.c_str(), &st) != 0) continue;
    const bool journal = part[1] == 'j';
    const char* what = journal          ? "a rollback journal"
                       : part[1] == 'w' ? "the store's log"
                                        : "the store's log's index";
    // SQLite makes these files with the store's owner and mode. One that
    // its owner could not have written was put there by someone else, and
    // SQLite would take it as the store's (its log as commits, its index as
    // locks): nothing is read from it. One of the store's owner is the
    // owner's own (SQLite gives it the store's mode, which may let no one
    // write, and a writer running as root hands it to the store's owner).
    if (known && S_ISREG(st.st_mode) && st.st_uid != store.st_uid) {
      std::string why;
      if (!MayWrite(st.st_uid, st.st_gid, store))
        why = "it belongs to " + UserName(st.st_uid) + ", who cannot write " + path;
      else if (!MayWrite(store.st_uid, store.st_gid, st))
        why = UserName(store.st_uid) + ", who owns " + path + ", cannot write it";
      if (!why.empty()) {
        *error = "Cannot open " + path + ": " + beside + " lies beside it, " + what +
                 ", which the store's owner could not have written; nothing was read or "
                 "changed. Move " +
                 beside + " away: " + why;
        return false;
      }
    }
    if (S_ISREG(st.st_mode)) {
      if (!journal || st.st_size == 0) continue;
      // SQLite plays a journal whose first byte is not zero back into the
      // file before it reads it, whatever file it came from, and cuts the
      // file to the size the journal names. A store keeps none (its log is
      // "-wal").
      unsigned char first = 0;
      const int fd = ::open(beside.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
      const bool read = fd >= 0 && ::pread(fd, &first, 1, 0) == 1;
      const int why = errno;
      if (fd >= 0) ::close(fd);
      if (read && first == 0) continue;
      *error = "Cannot open " + path + ": " + beside +
               (read ? " lies beside it, a rollback journal, which a store does not keep and "
                       "SQLite would write into it"
                     : " lies beside it, and it cannot be read (" +
                           std::string(std::strerror(why)) + ")") +
               "; nothing was read or changed. Move " + beside +
               " away (it is no part of the store)";
      return false;
    }
    const char* kind = S_ISFIFO(st.st_mode)  ? "a named pipe"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISLNK(st.st_mode) ? "a symbolic link"
                                             : "no regular file";
    *error = "Cannot open " + path + ": " + beside + ", where SQLite keeps " + what + ", is " +
             kind + "; nothing was read or changed. Remove " + beside +
             " (it is no part of the store)";
    return false;
  }
  return true;
}

namespace {

bool NonEmptyFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

uint32_t Be32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// The first 16 bytes of every SQLite database file.
constexpr char kSqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
constexpr const char* kReadTest = "SELECT count(*) FROM sqlite_master";
constexpr int kReadFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;

// A connection that makes no file: its log and its log's index are opened
// as they are, for reading, or not at all (SQLite's own layer would make
// them, owned by this user, and another user's writes would then fail on
// them). The index is kept from being made by "readonly_shm".
constexpr const char* kNoFilesVfs = "kx-nofiles";

int OpenNoFiles(sqlite3_vfs* self, const char* name, sqlite3_file* file, int flags, int* out) {
  auto* base = static_cast<sqlite3_vfs*>(self->pAppData);
  if (flags & SQLITE_OPEN_WAL)
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE)) |
            SQLITE_OPEN_READONLY;
  return base->xOpen(base, name, file, flags, out);
}

void RegisterNoFilesVfs() {
  static std::once_flag once;
  static sqlite3_vfs vfs;
  std::call_once(once, [] {
    sqlite3_vfs* base = sqlite3_vfs_find("unix");
    vfs = *base;
    vfs.pNext = nullptr;
    vfs.zName = kNoFilesVfs;
    // The file layer's own opening reads its data (its locking style).
    vfs.pAppData = base;
    vfs.xOpen = OpenNoFiles;
    sqlite3_vfs_register(&vfs, 0);
  });
}

// Nothing is checkpointed into a file that is only read.
void ReadOnly(sqlite3* db) {
  if (db) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

// Opens `path` with its log read into this process's memory, without
// locks: SQLite's exclusive locking mode keeps the log's index in memory
// instead of in a file beside it, and the lock-free file layer lets a file
// opened for reading take that mode. SQLite's result code, with *db set
// (to be closed by the caller) whenever SQLite made a connection.
int OpenWithLogInMemory(const std::string& path, sqlite3** db) {
  const std::string uri = "file:" + UriPath(path) + "?mode=ro&vfs=unix-none";
  int rc = sqlite3_open_v2(uri.c_str(), db, kReadFlags | SQLITE_OPEN_URI, nullptr);
  ReadOnly(*db);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(*db, "PRAGMA locking_mode=EXCLUSIVE;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(*db, kReadTest, nullptr, nullptr, nullptr);
  return rc;
}

// The file as it is, without its log, locks or anything beside it.
int OpenImmutable(const std::string& path, sqlite3** db) {
  const std::string uri = "file:" + UriPath(path) + "?immutable=1";
  const int rc = sqlite3_open_v2(uri.c_str(), db, kReadFlags | SQLITE_OPEN_URI, nullptr);
  ReadOnly(*db);
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
  // For writing where it may be: a write lock (RemoveLeftBeside) needs it.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

// What a write-ahead log holds as SQLite reads it: the frames from its
// start whose salts and checksums follow on from its header, up to the
// last one that ends a commit.
struct LogContent {
  long long pageSize = 0;
  long long pages = 0;       // the database's size after that commit (0: no commit)
  std::vector<bool> logged;  // by page number: the log holds the page
  // Where SQLite's reading stops, a commit follows that a later
  // transaction followed in turn: the log is damaged there, not cut short
  // by a process that died writing it (0: it is not).
  long long brokenAt = 0;  // the frame (from 1) where the reading stops
  // The first page (SQLite's header) as of the last commit ("": the log
  // does not hold it).
  std::string firstPage;
  // Asked for (ReadLog's `keep`): the log's bytes up to the end of its last
  // commit, as read, with what tells that file apart (see checkedLogs).
  std::string bytes;
  dev_t device = 0;
  ino_t inode = 0;
};

// A log larger than this is read a frame at a time and not kept: its bytes
// are not held in memory at once.
constexpr long long kLogKeptLimit = 128LL << 20;

// Adds the checksum of `bytes` (a multiple of 8) to s, as SQLite sums a
// log: 32-bit words in the order the log's magic number names.
void LogChecksum(const unsigned char* bytes, size_t length, bool bigEndian, uint32_t s[2]) {
  for (size_t k = 0; k + 8 <= length; k += 8) {
    const auto word = [&](size_t at) {
      const unsigned char* p = bytes + at;
      return bigEndian ? Be32(p)
                       : (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
                             (static_cast<uint32_t>(p[1]) << 8) | p[0];
    };
    s[0] += word(k) + s[1];
    s[1] += word(k + 4) + s[0];
  }
}

// Reads the log at `path` (absent or not SQLite's: no commit). False with
// *error when it cannot be read. With `keep`, log->bytes holds what it read
// of the log up to the end of the last commit (empty: none, or the log is
// too large to hold).
bool ReadLog(const std::string& path, LogContent* log, std::string* error, bool keep = false) {
  *log = LogContent();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = "Cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // Read whole where it is to be kept for the store's connection (see
  // checkedLogs) and not too large; a read-only open reads a frame at a
  // time and holds no copy of the log.
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *error = "Cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool whole = keep && st.st_size <= kLogKeptLimit;
  std::string bytes;
  if (whole) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n =
          ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
  }
  // The `length` bytes at `at`, as read; false past the end.
  const auto readAt = [&](unsigned char* out, size_t length, off_t at) {
    if (!whole) return ::pread(fd, out, length, at) == static_cast<ssize_t>(length);
    if (at < 0 || static_cast<size_t>(at) > bytes.size() ||
        bytes.size() - static_cast<size_t>(at) < length)
      return false;
    std::memcpy(out, bytes.data() + at, length);
    return true;
  };
  unsigned char head[32];
  if (!readAt(head, sizeof head, 0)) return true;
  const uint32_t magic = Be32(head);
  const uint32_t page = Be32(head + 8);
  if ((magic & ~1u) != 0x377f0682u || Be32(head + 4) != 3007000u || page < 512 || page > 65536 ||
      (page & (page - 1)) != 0)
    return true;
  const bool bigEndian = (magic & 1u) != 0;
  uint32_t sum[2] = {0, 0};
  LogChecksum(head, 24, bigEndian, sum);
  if (sum[0] != Be32(head + 24) || sum[1] != Be32(head + 28)) return true;
  std::vector<unsigned char> frame(24 + page);
  // Reads the frame at `at`: false at the log's end; *ours: it carries a
  // page and the log's salts.
  bool ours = false;
  const auto readFrame = [&](off_t at) {
    if (!readAt(frame.data(), frame.size(), at)) return ours = false;
    ours = Be32(frame.data()) != 0 && std::memcmp(frame.data() + 8, head + 16, 8) == 0;
    return true;
  };
  // Whether the frame read last carries the checksum that sum leads to.
  const auto follows = [&](uint32_t sum[2]) {
    LogChecksum(frame.data(), 8, bigEndian, sum);
    LogChecksum(frame.data() + 24, page, bigEndian, sum);
    return sum[0] == Be32(frame.data() + 16) && sum[1] == Be32(frame.data() + 20);
  };
  std::vector<uint32_t> pending;  // pages of frames after the last commit
  std::string first;              // page 1 among them
  off_t committedEnd = 0;         // where the last commit's frame ends
  off_t at = 32;
  for (;; at += static_cast<off_t>(frame.size())) {
    if (!readFrame(at) || !ours || !follows(sum)) break;
    const uint32_t number = Be32(frame.data());
    pending.push_back(number);
    if (number == 1) first.assign(reinterpret_cast<const char*>(frame.data()) + 24, page);
    if (const uint32_t size = Be32(frame.data() + 4); size != 0) {
      if (!first.empty()) log->firstPage = std::move(first);
      first.clear();
      log->pages = size;
      committedEnd = at + static_cast<off_t>(frame.size());
      if (log->logged.size() <= size) log->logged.resize(size + 1u, false);
      for (const uint32_t p : pending)
        if (p <= size) log->logged[p] = true;
      pending.clear();
    }
  }
  log->pageSize = page;
  // A process that dies while it writes leaves at most its transaction's
  // frames unfinished, after every commit it made: each commit is synced
  // before the next transaction writes. A commit frame past the stop that
  // is whole (the frame after it carries the checksum it leads to) was
  // followed by another transaction, so the stop is damage, and SQLite
  // would drop those commits without a word.
  const auto step = static_cast<off_t>(frame.size());
  for (off_t next = at; readFrame(next); next += step) {
    if (!ours || Be32(frame.data() + 4) == 0) continue;
    uint32_t chained[2] = {Be32(frame.data() + 16), Be32(frame.data() + 20)};
    if (readFrame(next + step) && ours && follows(chained)) {
      log->brokenAt = (at - 32) / step + 1;
      break;
    }
  }
  if (keep && whole && committedEnd > 0 && log->brokenAt == 0) {
    bytes.resize(static_cast<size_t>(committedEnd));
    log->bytes = std::move(bytes);
    log->device = st.st_dev;
    log->inode = st.st_ino;
  }
  return true;
}

// The logs Judge read and checked, by the Db that will open the store:
// the store's own connection (through the file layer StoreVfs names) reads its
// log from these bytes instead of from the file, so that opening a store
// reads its log once. Served only while the file it opened is provably the
// one read: the same file (device and inode) when SQLite opens it, and the
// same header of the frame read at each read (see ServeChecked); only bytes
// up to the end of the last commit. Anything else is read from the file.
std::mutex checkedMutex;
std::map<const void*, LogContent> checkedLogs;

// SQLite's file of a log opened through StoreVfs: this, then the file of
// the default layer.
struct CheckedLogFile {
  sqlite3_file file;
  dev_t device;
  ino_t inode;
  sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
static_assert(sizeof(CheckedLogFile) % 8 == 0);

CheckedLogFile* Checked(sqlite3_file* file) { return reinterpret_cast<CheckedLogFile*>(file); }

// Copies the kept bytes asked for into `out`: false where they may not
// be the file's. Only a read within one frame is served, and only while
// that frame's header in the file is the one kept: a writer that writes a
// frame again (also with the same salts and size, over a commit it wrote
// but never made visible before it was killed) writes its header first,
// and the header's checksum covers the frame's page and every frame before
// it.
bool ServeChecked(CheckedLogFile* f, void* out, int amount, sqlite3_int64 offset) {
  if (offset < 32 || amount <= 0) return false;
  std::lock_guard<std::mutex> hold(checkedMutex);
  for (const auto& [owner, log] : checkedLogs) {
    if (log.device != f->device || log.inode != f->inode) continue;
    if (offset + amount > static_cast<sqlite3_int64>(log.bytes.size())) return false;
    const auto* kept = reinterpret_cast<const unsigned char*>(log.bytes.data());
    const sqlite3_int64 frame = 24 + static_cast<sqlite3_int64>(Be32(kept + 8));
    const sqlite3_int64 start = 32 + (offset - 32) / frame * frame;
    if (offset + amount > start + frame) return false;
    sqlite3_file* real = f->Real();
    unsigned char header[24];
    if (real->pMethods->xRead(real, header, sizeof header, start) != SQLITE_OK ||
        std::memcmp(header, kept + start, sizeof header) != 0)
      return false;
    std::memcpy(out, kept + offset, static_cast<size_t>(amount));
    return true;
  }
  return false;
}

int CheckedClose(sqlite3_file* file) {
  sqlite3_file* real = Checked(file)->Real();
  return real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
}
int CheckedRead(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  if (ServeChecked(Checked(file), out, amount, offset)) return SQLITE_OK;
  sqlite3_file* real = Checked(file)->Real();
  return real->pMethods->xRead(real, out, amount, offset);
}
// The default layer's own method M, for every method but the read: the log
// is written, locked and sized as any file.
template <auto M>
struct Forward;
template <class R, class... A, R (*sqlite3_io_methods::*M)(sqlite3_file*, A...)>
struct Forward<M> {
  static R Call(sqlite3_file* file, A... args) {
    sqlite3_file* real = Checked(file)->Real();
    return (real->pMethods->*M)(real, args...);
  }
};
// A log is neither mapped nor shared-memory indexed by SQLite: version 1
// of the methods, as for a plain file.
const sqlite3_io_methods kCheckedLogMethods = {
    1,
    CheckedClose,
    CheckedRead,
    Forward<&sqlite3_io_methods::xWrite>::Call,
    Forward<&sqlite3_io_methods::xTruncate>::Call,
    Forward<&sqlite3_io_methods::xSync>::Call,
    Forward<&sqlite3_io_methods::xFileSize>::Call,
    Forward<&sqlite3_io_methods::xLock>::Call,
    Forward<&sqlite3_io_methods::xUnlock>::Call,
    Forward<&sqlite3_io_methods::xCheckReservedLock>::Call,
    Forward<&sqlite3_io_methods::xFileControl>::Call,
    Forward<&sqlite3_io_methods::xSectorSize>::Call,
    Forward<&sqlite3_io_methods::xDeviceCharacteristics>::Call,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int OpenChecked(sqlite3_vfs* self, const char* name, sqlite3_file* file, int flags, int* out) {
  auto* base = static_cast<sqlite3_vfs*>(self->pAppData);
  if (!(flags & SQLITE_OPEN_WAL) || !name) return base->xOpen(base, name, file, flags, out);
  CheckedLogFile* f = Checked(file);
  f->file.pMethods = nullptr;
  const int rc = base->xOpen(base, name, f->Real(), flags, out);
  if (rc != SQLITE_OK) return rc;
  struct stat st;
  f->device = 0;
  f->inode = 0;
  if (::stat(name, &st) == 0) {
    f->device = st.st_dev;
    f->inode = st.st_ino;
  }
  f->file.pMethods = &kCheckedLogMethods;
  return SQLITE_OK;
}

}  // namespace

const char* StoreVfs() {
  static std::once_flag once;
  static sqlite3_vfs vfs;
  std::call_once(once, [] {
    sqlite3_vfs* base = sqlite3_vfs_find("unix");
    vfs = *base;
    vfs.pNext = nullptr;
    vfs.zName = "kx-store";
    vfs.szOsFile = static_cast<int>(sizeof(CheckedLogFile)) + base->szOsFile;
    vfs.pAppData = base;
    vfs.xOpen = OpenChecked;
    sqlite3_vfs_register(&vfs, 0);
  });
  return vfs.zName;
}

void DropCheckedLog(const void* owner) {
  std::lock_guard<std::mutex> hold(checkedMutex);
  checkedLogs.erase(owner);
}

int OpenForReading(const std::string& path, sqlite3** db, bool* inUse, bool* lockFree) {
  *inUse = *lockFree = false;
  *db = nullptr;
  RegisterNoFilesVfs();
  for (int pause = 2;; pause *= 2) {
    if (!OpenElsewhere(path)) {
      // No one has it open: read without locks, the log left beside it (if
      // any) into memory. The caller watches the file (TakeFileState).
      *lockFree = true;
      return NonEmptyFile(path + "-wal") ? OpenWithLogInMemory(path, db) : OpenImmutable(path, db);
    }
    // Beside the processes that have it open, through their index, making
    // no file: a process closing it may take its files with it, and the
    // open then fails for a moment.
    const std::string uri =
        "file:" + UriPath(path) + "?mode=ro&readonly_shm=1&vfs=" + std::string(kNoFilesVfs);
    int rc = sqlite3_open_v2(uri.c_str(), db, kReadFlags | SQLITE_OPEN_URI, nullptr);
    ReadOnly(*db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(*db, kReadTest, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return rc;
    sqlite3_close(*db);
    *db = nullptr;
    if (pause > 128) {
      *inUse = true;
      return SQLITE_BUSY;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
}

void RemoveLeftBeside(const std::string& path, bool log, bool index) {
  if (!log && !index) return;
  constexpr off_t kLockBytes = 0x40000000, kLockByteCount = 512;
  const int fd = LookoutDescriptor(path);
  if (fd < 0) return;
  // SQLite's exclusive lock: no connection has the store open, and none
  // opens its log or index until it is released.
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBytes;
  lock.l_len = kLockByteCount;
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) return;
  struct stat st;
  if (log && ::stat((path + "-wal").c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
    ::unlink((path + "-wal").c_str());
  if (index) ::unlink((path + "-shm").c_str());
  lock.l_type = F_UNLCK;
  ::fcntl(fd, F_OFD_SETLK, &lock);
}

bool TakeFileState(const std::string& path, FileState* state) {
  *state = FileState();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  state->size = st.st_size;
  state->modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  state->inode = st.st_ino;
  const int fd = LookoutDescriptor(path);
  unsigned char counter[4];
  if (fd < 0 || ::pread(fd, counter, sizeof counter, 24) != static_cast<ssize_t>(sizeof counter))
    return false;
  state->counter = Be32(counter);
  // SQLite holds no lock on the log itself: a descriptor of it may close.
  const int log = ::open((path + "-wal").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (log >= 0) {
    unsigned char head[32];
    if (::fstat(log, &st) == 0 && st.st_size > 32 &&
        ::pread(log, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) {
      state->logSize = st.st_size;
      state->logSalts = (static_cast<uint64_t>(Be32(head + 16)) << 32) | Be32(head + 20);
    }
    ::close(log);
  }
  state->taken = true;
  return true;
}

std::string InUseText(const std::string& path, bool readOnly) {
  return path + " is in use by another process, and it cannot be read beside that process now" +
         (readOnly ? " as its file or its folder cannot be written here" : "") +
         "; nothing in it was changed. Try again";
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
             "; nothing in it was changed. Restore it from a copy" + LogAdvice(path);
    return false;
  };
  const auto foreign = [&](uint32_t applicationId) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", applicationId);
    return notStore(std::string("it is a database of something else (application id ") + id + ")");
  };
  // Only what SQLite finds malformed is damage; a file it cannot open or
  // lock now (its log unreadable, another process busy) is not.
  const auto unreadable = [&](const StoreKind& kind) {
    const int code = kind.code & 0xff;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
      return damaged("SQLite cannot read it (" + kind.error + ")");
    *error = "Cannot read " + path + ": " + kind.error + "; nothing in it was changed";
    return false;
  };
  if (!PlainFilesBeside(path, error)) return false;
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
    const bool log = NonEmptyFile(path + "-wal");
    // The log tells what the file was where the file cannot: a store's
    // header in its last commit, or another program's.
    LogContent wal;
    if (log && (size == 0 || got < 16 || std::memcmp(head, kSqliteMagic, 16) != 0)) {
      if (!ReadLog(path + "-wal", &wal, error)) return false;
      const auto* first = reinterpret_cast<const unsigned char*>(wal.firstPage.data());
      if (wal.firstPage.size() >= 100 && std::memcmp(first, kSqliteMagic, 16) == 0 &&
          Be32(first + 68) != 0 && Be32(first + 68) != kStoreApplicationId)
        return foreign(Be32(first + 68));
    }
    // A file emptied beside its log lost what the log's commits rest on.
    if (size == 0 && log)
      return damaged("it is empty (0 bytes), and its log, " + path + "-wal, lies beside it");
    if (size == 0) return notStore("it is empty (0 bytes)");
    // A first page of zeros where the header should be: a store that lost
    // it, more likely than a file of nothing but zeros made for it.
    if (got == static_cast<ssize_t>(sizeof head) &&
        std::all_of(head, head + sizeof head, [](unsigned char c) { return c == 0; }))
      return damaged("its first page, with SQLite's header, is blank (zeros)");
    if (got < 16 || std::memcmp(head, kSqliteMagic, 16) != 0) {
      // Its header overwritten, the file still shows what it was: the log's
      // copy of its first page is a store's, or its pages after the first
      // are an SQLite database's (the second begins as a page of a table or
      // an index does).
      const auto* first = reinterpret_cast<const unsigned char*>(wal.firstPage.data());
      if (wal.firstPage.size() >= 100 && std::memcmp(first, kSqliteMagic, 16) == 0)
        return damaged("its first page, with SQLite's header, is damaged (its log, " + path +
                       "-wal, holds a store's)");
      unsigned char second = 0;
      if (size % 4096 == 0 && size >= 8192 && ::pread(fd, &second, 1, 4096) == 1 &&
          (second == 2 || second == 5 || second == 10 || second == 13))
        return damaged("its first page, with SQLite's header, is damaged");
      return notStore("it is no SQLite database");
    }
    if (got < static_cast<ssize_t>(sizeof head))
      return damaged("it is cut short (" + std::to_string(size) + " bytes)");
  }
  // What follows rests on the file's pages and its log, which another
  // process may be writing.
  *sure = false;
  // Another program's mark, in the header: whatever else is wrong with the
  // file, it is not a store.
  if (const uint32_t id = Be32(head + 68); id != 0 && id != kStoreApplicationId) return foreign(id);
  long long page = (head[16] << 8) | head[17];
  if (page == 1) page = 65536;
  if (page < 512 || (page & (page - 1)) != 0) return damaged("its header is damaged");
  // The pages SQLite reads from the file: those up to the size the log's
  // last commit gives that the log does not hold, or, without a commit in
  // the log, those the file's header counts (valid when the change counter
  // beside the count agrees).
  LogContent wal;
  if (!ReadLog(path + "-wal", &wal, error, !readOnly_)) return false;
  if (wal.brokenAt > 0) {
    return damaged("its log, " + path + "-wal, is damaged at frame " +
                   std::to_string(wal.brokenAt) +
                   ": SQLite would read it only that far and drop the commits after it");
  }
  const bool log = NonEmptyFile(path + "-wal");
  long long needed = 0;  // the highest page the file must hold
  if (wal.pages > 0) {
    page = wal.pageSize;
    for (long long p = wal.pages; p > 0 && needed == 0; --p)
      if (!wal.logged[static_cast<size_t>(p)]) needed = p;
  } else {
    const long long counted = Be32(head + 24) == Be32(head + 92) ? Be32(head + 28) : 0;
    // Bytes past the last page the header counts: not cut short, but no
    // file a store's writes leave either.
    if (size % page != 0 && counted > 0 && size / page >= counted) {
      return damaged("its size (" + std::to_string(size) + " bytes) is no whole number of its " +
                     std::to_string(page) + "-byte pages");
    }
    if (size % page != 0) needed = size / page + 1;
    needed = std::max(needed, counted);
  }
  if (size < needed * page) {
    return damaged("it is cut short (" + std::to_string(size) + " bytes of " +
                   std::to_string(needed * page) + ")" +
                   (wal.pages > 0 ? std::string(", and its log does not hold the rest") : ""));
  }
  // The file as it is, without its log: an immutable connection takes no
  // lock and makes no file beside it. A log that holds commits is what
  // SQLite reads first, the kind of file among them: another database's
  // log makes the file that database.
  // Reading the log as SQLite does reads all of it: done only where its
  // first page is another kind's (a store's names the store's application
  // id; the tables of a store are made in its first commit).
  const bool logFirstOurs = wal.firstPage.size() >= 100 &&
                            Be32(reinterpret_cast<const unsigned char*>(wal.firstPage.data()) +
                                 68) == kStoreApplicationId;
  const bool throughLog = wal.pages > 0 && !wal.firstPage.empty() && !logFirstOurs;
  StoreKind kind;
  sqlite3* reader = nullptr;
  bool read = false;
  int rc = SQLITE_OK;
  if (!throughLog) {
    rc = OpenImmutable(path, &reader);
    read = rc == SQLITE_OK && ReadKind(reader, &kind);
    if (rc != SQLITE_OK) {
      kind.error = reader ? sqlite3_errmsg(reader) : sqlite3_errstr(rc);
      kind.code = rc;
    }
    sqlite3_close(reader);
    reader = nullptr;
    if (!read && !log) return unreadable(kind);
  }
  // Nothing in the file but a log beside it: a store just made whose tables
  // are still in the log, or another program's database. The log tells,
  // read as SQLite reads it beside the processes that may be writing it.
  if (log && (throughLog || !read || !kind.tables)) {
    bool inUse = false, lockFree = false;
    rc = OpenForReading(path, &reader, &inUse, &lockFree);
    if (inUse) {
      inUse_ = *sure = true;
      *error = InUseText(path, readOnly_);
      return false;
    }
    read = rc == SQLITE_OK && ReadKind(reader, &kind);
    if (rc != SQLITE_OK) {
      kind.error = reader ? sqlite3_errmsg(reader) : sqlite3_errstr(rc);
      kind.code = rc;
    }
    sqlite3_close(reader);
    if (!read) return unreadable(kind);
  }
  if (kind.applicationId != 0 && kind.applicationId != kStoreApplicationId)
    return foreign(static_cast<uint32_t>(kind.applicationId));
  if (kind.format > 1) {
    *error = path + " is an object store of another version; nothing in it was changed";
    return false;
  }
  if (!kind.tables) {
    if (kind.applicationId == kStoreApplicationId) return damaged("it has lost its tables");
    return notStore("it is an SQLite database without tables");
  }
  if (kind.mismatch.empty() && kind.format == 1) {
    // The log as checked, for the store's connection to read (see
    // CheckedLogs): a store whose log is read here is read from it once.
    std::lock_guard<std::mutex> hold(checkedMutex);
    checkedLogs.erase(this);
    if (!wal.bytes.empty()) checkedLogs.emplace(this, std::move(wal));
    return true;
  }
  const std::string why = kind.mismatch.empty() ? "its table meta names no format" : kind.mismatch;
  if (kind.applicationId == kStoreApplicationId) return damaged(why);
  return notStore("it is a database of something else (" + why + ")");
}

}  // namespace kx::store
