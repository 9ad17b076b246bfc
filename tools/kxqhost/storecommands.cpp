// The commands that need the store alone, `init` and `dump`, and the
// opening of the store that every other command starts with.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdio.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common.h"
#include "dump.h"
#include "host/store_host_session.h"
#include "program.h"
#include "store/admin.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFileParts[] = {"", "-wal", "-shm", "-journal"};

void RemoveStoreFiles(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : kFileParts) fs::remove(path + suffix, ec);
}

// The files of stores being made beside `path` ("PATH.init-PID") by
// processes that are gone: a killed init leaves them.
void RemoveAbandonedStores(const std::string& path) {
  const fs::path target(path);
  const std::string prefix = target.filename().string() + ".init-";
  std::error_code ec;
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == name.c_str() + prefix.size()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still at work
    fs::remove(entry.path(), ec);
  }
}

// `why` making a store in `folder` failed, saying first that the disk is
// full when SQLite says so or the folder has less room left than a
// store's write needs: SQLite's own text does not always say it, and the
// write of the log into the store at its close says nothing.
std::string WithRoomLeft(const std::string& why, const fs::path& folder) {
  constexpr unsigned long long kFullBelow = 64 * 1024;
  struct statvfs room {};
  if (::statvfs(folder.c_str(), &room) == 0) {
    const unsigned long long left = static_cast<unsigned long long>(room.f_bavail) * room.f_frsize;
    if (left < kFullBelow) {
      return "the disk is full (" + std::to_string(left / 1024) + " KB left in " + folder.string() +
             "): " + why;
    }
  }
  return why.find("disk is full") != std::string::npos ? "the disk is full: " + why : why;
}

// Why no store can be made in `folder`, or "" when one can. Said before
// SQLite is asked: its answer ("unable to open database file") names the
// temporary file the store is made in, not the folder at fault.
std::string FolderProblem(const fs::path& folder) {
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) return "the folder " + folder.string() + " does not exist";
  if (!fs::is_directory(status)) return folder.string() + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "the folder " + folder.string() + " cannot be written (" + std::strerror(errno) + ")";
  }
  return "";
}

// What keeps a new store from `path`: a log or its index left there by an
// earlier store of that name, or a rollback journal, which SQLite would
// take as the new store's ("" when nothing is there).
std::string LeftBeside(const std::string& path) {
  for (const char* part : {"-wal", "-shm", "-journal"}) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path + part, ec))) continue;
    if (part[1] == 'j') {
      return path + part +
             " exists: a rollback journal, which would be taken as the new store's; nothing was "
             "made. Move it away";
    }
    return path + part + " exists: the " + (part[1] == 'w' ? "log" : "log's index") +
           " of an earlier store " + path +
           ", which would be taken as the new store's; nothing was made. Move it away with the "
           "store it belongs to, or remove " +
           path + "-wal and " + path + "-shm when no process has that store open";
  }
  return "";
}

// Makes the store at `path` from `fixture` so that it appears whole or not
// at all: the fixture is imported into a file beside it, which is closed
// (its write-ahead log checkpointed into it) and then renamed into place,
// never over a file that exists. A process killed on the way leaves no
// file at `path`. *exists: `path` was there first. The fixture is the file
// `fixture`, or `text` when given, named `name` in messages.
bool MakeStoreFile(const std::string& path, const std::string& fixture, const std::string* text,
                   const std::string& name, long* objects, bool* exists, std::string* error) {
  *exists = false;
  const fs::path folder = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : ".";
  if (*error = FolderProblem(folder); !error->empty()) return false;
  RemoveAbandonedStores(path);
  const std::string made = path + ".init-" + std::to_string(::getpid());
  RemoveStoreFiles(made);
  // The files made so far go, after the room they left was looked at.
  const auto fail = [&](const std::string& why) {
    *error = WithRoomLeft(why, folder);
    RemoveStoreFiles(made);
    return false;
  };
  {
    std::unique_ptr<store::Store> store;
    store::Status status = store::Store::Open(made, store::OpenMode::kCreate, &store);
    if (status.ok())
      status =
          text ? store->ImportFixtureText(*text, name) : store->ImportFixtureFile(fixture, name);
    if (!status.ok()) {
      // A failed commit leaves SQLite's reason as error information.
      const std::string detail = TakeErrorText();
      store.reset();
      return fail(detail.empty() || status.message.find(detail) != std::string::npos
                      ? status.message
                      : status.message + " (" + detail + ")");
    }
    *objects = store->ObjectCount();
  }
  std::error_code ec;
  if (fs::exists(made + "-wal", ec) && fs::file_size(made + "-wal", ec) > 0) {
    return fail("the new store's log was not written into it");
  }
  fs::remove(made + "-wal", ec);
  fs::remove(made + "-shm", ec);
  // Sync the file before its name appears.
  if (const int fd = ::open(made.c_str(), O_RDONLY); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  // Looked at again just before: a log that appeared since would be taken
  // as the new store's.
  if (const std::string left = LeftBeside(path); !left.empty()) {
    RemoveStoreFiles(made);
    *error = left;
    return false;
  }
  int placed = ::renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
  if (placed != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace rename: a hard link fails as well
    // when the name is taken.
    placed = ::link(made.c_str(), path.c_str());
    if (placed == 0) ::unlink(made.c_str());
  }
  if (placed != 0) {
    const int why = errno;
    RemoveStoreFiles(made);
    *exists = why == EEXIST;
    *error = std::string("cannot put the new store in place: ") + std::strerror(why);
    return false;
  }
  if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

// Standard input from where it stands to its end (as `request` reads it),
// whatever it is: the file named /dev/stdin would be the whole of a file
// given with "<", read again by each process that reads it, and cannot be
// opened for a socket. At most a byte more than the import takes, so that
// it says what is too large.
bool ReadStandardInput(std::string* text, std::string* error) {
  constexpr size_t kMost = (size_t{1} << 30) + 1;
  std::vector<char> piece(1 << 16);
  while (text->size() < kMost) {
    const ssize_t n =
        ::read(STDIN_FILENO, piece.data(), std::min(piece.size(), kMost - text->size()));
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("cannot be read: ") + std::strerror(errno);
      return false;
    }
    text->append(piece.data(), static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

// Only `init` makes a store: any other command on a missing one says how
// to make it, and leaves no file behind.
bool Program::OpenStore() {
  const std::string path = options_.store.empty() ? kDefaultStore : options_.store;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    // A folder this user may not look into hides a store that is there.
    if (ec) return Error("cannot open the store " + path + ": " + ec.message()), false;
    if (options_.store.empty()) {
      Error("no store at ./" + path + "; make one from the sample plant with: " + options_.program +
            " init");
    } else {
      Error("no store at " + path + "; make one with: " + options_.program + " --store " + path +
            " init");
    }
    return false;
  }
  // A store this user cannot write (the file, or its folder, where the log
  // goes) is read without writing: a call that changes it fails.
  const fs::path folder = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : ".";
  const bool writable = ::access(path.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
  read_only_ = !writable;
  const store::Status status = store::Store::Open(
      path, writable ? store::OpenMode::kOpenExisting : store::OpenMode::kReadOnly, &store_);
  if (!status.ok()) {
    store_.reset();
    // `init` makes a store only where no file is.
    Error("cannot open the store " + path + ": " + status.message +
          (status.hr == KXQ_E_NOTSTORE ? "; make a store where no file is, with: " +
                                             options_.program + " --store NEWFILE init"
                                       : std::string()));
    return false;
  }
  if (!writable) {
    std::fprintf(err_,
                 "notice: %s cannot be written; it is read only: pages and datasheets open "
                 "(what opening them records is not saved), and a call that changes it fails\n",
                 path.c_str());
    std::fflush(err_);
  }
  session_ = std::make_unique<host::StoreHostSession>(*store_);
  return true;
}

int Program::Init() {
  const auto& args = options_.arguments;
  std::string fixture;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--fixture" && i + 1 < args.size()) {
      fixture = args[++i];
    } else if (args[i].starts_with("--fixture=")) {
      fixture = args[i].substr(10);
    } else {
      return Error("usage: init [--fixture FILE|-]"), kExitUsage;
    }
  }
  if (fixture.empty()) fixture = SamplePlantPath();
  if (fixture.empty()) return Error("no fixture given and no sample plant found"), kExitFailed;
  // "-": the fixture comes on standard input, as a request's text does.
  const bool piped = fixture == "-";
  const std::string name = piped ? "standard input" : fixture;
  const std::string path = options_.store.empty() ? kDefaultStore : options_.store;
  std::error_code ec;
  // An empty file too: it may be a placeholder another program holds, and
  // init never puts a store in place of a file.
  if (fs::is_directory(path, ec)) {
    // Removing it, as for a file, would cost the user what the folder holds.
    std::string inside = path;
    if (!inside.ends_with('/')) inside += '/';
    return Error(path + " is a folder; name a file in it for the new store (--store " + inside +
                 "plant.db)"),
           kExitFailed;
  }
  if (fs::exists(path, ec)) {
    const bool empty = fs::is_regular_file(path, ec) && fs::file_size(path, ec) == 0;
    return Error(path + (empty ? " exists (an empty file)" : " exists") + "; remove it first"),
           kExitFailed;
  }
  if (const std::string left = LeftBeside(path); !left.empty()) return Error(left), kExitFailed;
  long objects = 0;
  bool exists = false;
  std::string why;
  std::string text;
  if (piped && !ReadStandardInput(&text, &why))
    return Error("cannot create " + path + " from " + name + ": " + name + ": " + why), kExitFailed;
  if (!MakeStoreFile(path, fixture, piped ? &text : nullptr, name, &objects, &exists, &why)) {
    if (exists) return Error(path + " exists; remove it first"), kExitFailed;
    Error("cannot create " + path + " from " + name + ": " + why);
    return kExitFailed;
  }
  std::fprintf(out_, "created %s from %s (%ld objects)\n", path.c_str(), name.c_str(), objects);
  return kExitOk;
}

int Program::Dump(const std::vector<std::string>& ids) {
  for (const std::string& text : ids) {
    LONG id = 0;
    if (!ParseId(text, &id)) return kExitUsage;
    std::string dump;
    HRESULT hr = S_OK;
    std::string why;
    for (int tries = 0;; ++tries) {
      dump.clear();
      (void)store_->TakeReadFailure();
      hr = DumpObject(store_->Database(), id, &dump);
      why = FAILED(hr) ? TakeErrorText() : std::string();
      // A list or extent that could not be read looks empty to the dump:
      // it is no answer either.
      if (const store::Status read = store_->TakeReadFailure(); !read.ok() && SUCCEEDED(hr)) {
        hr = read.hr;
        why = read.message;
      }
      // Read without locks while another process committed: read again in
      // a transaction of its own, which reads the store as it is now.
      if (SUCCEEDED(hr) || !read_only_ || hr != KXQ_E_BUSY || tries == 3) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5 << tries));
      if (store_->Begin().ok()) (void)store_->Rollback();
    }
    if (FAILED(hr)) {
      Error("cannot dump object " + text + ": " + (why.empty() ? Describe(hr) : why));
      return kExitFailed;
    }
    std::fputs(dump.c_str(), out_);
  }
  std::fflush(out_);
  return kExitOk;
}

}  // namespace kx::kxqhost
