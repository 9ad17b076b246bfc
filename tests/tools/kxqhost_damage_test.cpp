// The program on stores that are damaged, share their folder with other
// users, or are written while another user reads them: nothing damaged is
// read as data or made permanent, nothing is left that stops the owner, and
// no reader shows a state that never was.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

namespace fs = std::filesystem;

std::string SamplePlant() { return std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"; }
std::string SampleRequest(const std::string& name) {
  return std::string(KXQHOST_SOURCE_DIR) + "/examples/requests/" + name;
}

// Every file of a folder by name, with a hash of its bytes.
std::map<std::string, size_t> FolderBytes(const std::string& folder) {
  std::map<std::string, size_t> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] =
        std::hash<std::string>()(ReadText(entry.path().string()));
  return files;
}

// Waits (at most 20 s) until the file at `path` holds `text`.
bool Shows(const std::string& path, const std::string& text) {
  for (int k = 0; k < 2000; ++k) {
    if (ReadText(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class KxqhostDamageTest : public KxqhostTest {
 protected:
  // A store of the sample plant at `store` beside the log a killed process
  // left: it committed pump 102's flow, then was killed in its next
  // transaction.
  void StoreWithLeftLog(const std::string& store) {
    ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
    WriteText(dir_ / "st.kxq", "set 102 RatedFlow 402 m3/h\nstall 60 101 RatedFlow 999\n");
    const int pid = StartHost({"--store", store, "run", dir_ / "st.kxq"}, dir_.path(), Registry(),
                              dir_ / "st.out", dir_ / "st.err");
    ASSERT_TRUE(Shows(dir_ / "st.out", "stalling")) << ReadText(dir_ / "st.err");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_GT(fs::file_size(store + "-wal"), 0u);
  }
};

// A store cut short beside the log of a killed process was read (its
// "DataViews" lists empty) and written, and the log's write-back made the
// damage permanent. It is refused, by `dump` and by a request, with the
// store and its log left byte for byte. Its log kept, the store gone,
// `init` makes no new store that would take that log, nor one beside a
// rollback journal.
TEST_F(KxqhostDamageTest, AStoreCutShortBesideALogIsRefusedAndInitTakesNoLeftLog) {
  const std::string folder = dir_ / "stores";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  StoreWithLeftLog(store);
  // A copy that is whole: its log holds the commit, and it opens.
  for (const char* part : {"", "-wal"})
    fs::copy_file(store + part, dir_ / ("whole.db" + std::string(part)));
  const Outcome whole = Bare({"--store", dir_ / "whole.db", "dump", "102"});
  EXPECT_NE(whole.out.find("RatedFlow = 402 m3/h"), std::string::npos) << whole.err;
  fs::resize_file(store, fs::file_size(store) - 4096);
  const auto before = FolderBytes(folder);
  const Outcome dumped = Bare({"--store", store, "dump", "101"});
  const Outcome requested =
      Bare({"--store", store, "request", "SetRealField", SampleRequest("set-real-field.xml")});
  for (const Outcome& refused : {dumped, requested}) {
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(store + " is a damaged object store: it is cut short ("),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("its log does not hold the rest; nothing in it was changed. "
                               "Restore it from a copy"),
              std::string::npos)
        << refused.err;
  }
  EXPECT_EQ(FolderBytes(folder), before);

  fs::remove(store);
  const Outcome made = Bare({"--store", store, "init", "--fixture", SamplePlant()});
  EXPECT_EQ(made.status, 1);
  EXPECT_NE(made.err.find(store + "-wal exists: the log of an earlier store " + store +
                          ", which would be taken as the new store's; nothing was made"),
            std::string::npos)
      << made.err;
  fs::remove(store + "-wal");
  EXPECT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 1);
  fs::remove(store + "-shm");
  // A rollback journal there would be played back into the new store.
  WriteText(store + "-journal", "journal");
  const Outcome journal = Bare({"--store", store, "init", "--fixture", SamplePlant()});
  EXPECT_EQ(journal.status, 1);
  EXPECT_NE(journal.err.find(store + "-journal exists: a rollback journal"), std::string::npos)
      << journal.err;
  EXPECT_EQ(ReadText(store + "-journal"), "journal");
  fs::remove(store + "-journal");
  EXPECT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
}

// A log that belongs to another store (left by a killed process there and
// copied or restored beside this one) makes SQLite find the store
// malformed while it is being set up. That was said without the word
// "damaged", and the close wrote the foreign log into the file, cut it to
// the other store's length and removed the log. Both stay byte for byte,
// for the command and its read-only form alike.
TEST_F(KxqhostDamageTest, AnotherStoresLogBesideAStoreIsNeverWrittenIntoIt) {
  const std::string other = dir_ / "other.db";
  StoreWithLeftLog(other);
  const std::string folder = dir_ / "stores";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  for (int k = 0; k < 3; ++k)
    ASSERT_EQ(Bare({"--store", store, "request", "InsertPages", SampleRequest("insert-pages.xml")})
                  .status,
              0);
  fs::copy_file(other + "-wal", store + "-wal");
  const std::string bytes = ReadText(store), log = ReadText(store + "-wal");
  ASSERT_EQ(Bare({"register"}).status, 0);
  const auto readable = fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write);
  fs::permissions(dir_.path(), readable);
  for (const bool readOnly : {false, true}) {
    // Another user, who cannot write the folder: the store is read only.
    if (readOnly) fs::permissions(folder, readable & ~fs::perms::owner_write);
    const Outcome dumped =
        RunHostWith({"--store", store, "dump", "101"}, dir_.path(), {"KXQ_REGISTRY=" + Registry()},
                    "", {.unprivileged = readOnly});
    EXPECT_EQ(dumped.status, 1);
    EXPECT_NE(dumped.err.find("the store " + store +
                              " is damaged (database disk image is malformed); restore it "
                              "from a copy (first move " +
                              store + "-wal"),
              std::string::npos)
        << dumped.err;
    EXPECT_TRUE(ReadText(store) == bytes);
    EXPECT_TRUE(ReadText(store + "-wal") == log);
  }
  fs::permissions(folder, fs::perms::owner_all);
}

// A read that fails where the store's interface cannot say so leaves the
// module without what it asked for: the page of the templates' table
// zeroed, the module's start-up failed with "Failed to retrieve summary
// sheet classes" alone. The failure names the damaged store, and nothing
// is written.
TEST_F(KxqhostDamageTest, ACallThatFailsOnAnUnreadableStoreSaysTheStoreIsDamaged) {
  const std::string store = dir_ / "s.db";
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name='templates'", -1, &st,
                     nullptr);
  const int root = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
  sqlite3_finalize(st);
  sqlite3_close(db);
  ASSERT_GT(root, 1);
  std::string bytes = ReadText(store);
  bytes.replace(static_cast<size_t>(root - 1) * 4096, 4096, std::string(4096, '\0'));
  WriteText(store, bytes);
  const Outcome requested =
      Bare({"--store", store, "request", "SetRealField", SampleRequest("set-real-field.xml")});
  EXPECT_EQ(requested.status, 1);
  EXPECT_NE(requested.err.find("kxqhost: the module's start-up failed: Cannot read template \""),
            std::string::npos)
      << requested.err;
  EXPECT_NE(requested.err.find("the store " + store +
                               " is damaged (database disk image is malformed); restore it from "
                               "a copy (0x8004B006)"),
            std::string::npos)
      << requested.err;
  EXPECT_TRUE(ReadText(store) == bytes);
  EXPECT_FALSE(fs::exists(store + "-wal"));
}

// In a folder all may write (sticky, as /tmp), a user who can only read
// the store leaves nothing beside it: the owner's next request works. A
// reader that found no other process at the store reads it without locks;
// what the owner commits meanwhile never shows in it mixed with what was
// there: its later dump reads the store again, whole. A log beside the store that is
// a named pipe is refused at once instead of hanging the opening. A store
// in a folder the user may not look into is not called missing.
TEST_F(KxqhostDamageTest, AReaderLeavesNothingThatStopsTheOwnerAndNeverShowsAMix) {
  const std::string folder = dir_ / "shared";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  ASSERT_EQ(Bare({"register"}).status, 0);
  const Outcome intact = Bare({"--store", store, "dump", "1001"});
  const auto readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto writable = readable | fs::perms::owner_write;
  fs::permissions(store, readable);
  const Outcome read = RunHostWith({"--store", store, "dump", "101"}, dir_.path(),
                                   {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("object 101 Pump"), std::string::npos);
  EXPECT_EQ(FolderBytes(folder).size(), 1u);
  fs::permissions(store, writable);
  const Outcome set =
      Bare({"--store", store, "request", "SetRealField", SampleRequest("set-real-field.xml")});
  EXPECT_EQ(set.status, 0) << set.err;

  fs::permissions(store, readable);
  WriteText(dir_ / "r.kxq", "dump 2\nwait 2\ndump 1001\n");
  const int reader = StartHost({"--store", store, "run", dir_ / "r.kxq"}, dir_.path(), Registry(),
                               dir_ / "r.out", dir_ / "r.err", {.unprivileged = true});
  ASSERT_TRUE(Shows(dir_ / "r.out", "object 2 "));
  fs::permissions(store, writable);
  const Outcome submitted =
      Bare({"--store", store, "request", "SubmitDocuments", SampleRequest("submit-documents.xml")});
  EXPECT_EQ(submitted.status, 0) << submitted.err;
  int status = 0;
  ::waitpid(reader, &status, 0);
  const std::string shown = ReadText(dir_ / "r.out");
  const std::string now = Bare({"--store", store, "dump", "1001"}).out;
  EXPECT_NE(now, intact.out);
  // Read again, whole, after the commit: the document as it is now.
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(dir_ / "r.err");
  EXPECT_NE(shown.find(now), std::string::npos) << shown;
  EXPECT_EQ(FolderBytes(folder).size(), 1u);

  ASSERT_EQ(::mkfifo((store + "-wal").c_str(), 0644), 0);
  const Outcome piped = RunHostWith({"--store", store, "dump", "101"}, dir_.path(),
                                    {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find(store + "-wal, where SQLite keeps the store's log, is a named pipe"),
            std::string::npos)
      << piped.err;
  // A folder the user may not look into: the store is there, not missing.
  fs::remove(store + "-wal");
  fs::permissions(folder, fs::perms::owner_all);
  const Outcome hidden = RunHostWith({"--store", store, "dump", "101"}, dir_.path(),
                                     {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(hidden.status, 1);
  EXPECT_NE(hidden.err.find("cannot open the store " + store + ": Permission denied"),
            std::string::npos)
      << hidden.err;
}

// Another database's log beside a store (commits SQLite reads before the
// file) made the store that database: it was refused, and the close wrote
// that log into the store and removed it. A store damaged beside the log a
// killed process left was refused leaving an index file that was not
// there. A store emptied beside its log, or whose first page was
// overwritten, was called no store ("make a store"). Each is refused with
// every file beside it as it was, a damaged store called one, to restore.
TEST_F(KxqhostDamageTest, ARefusalWritesNothingAndADamagedStoreIsCalledOne) {
  const std::string folder = dir_ / "stores";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  const auto refused = [&](const std::vector<std::string>& command, const std::string& said) {
    const auto before = FolderBytes(folder);
    const Outcome outcome = Bare(command);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find(said), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("make a store"), std::string::npos) << outcome.err;
    EXPECT_EQ(FolderBytes(folder), before) << said;
  };
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  {
    // As its writer left it, before any checkpoint.
    const std::string other = dir_ / "o.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE "
                           "q(x); WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k+1 FROM n "
                           "WHERE k<500) INSERT INTO q SELECT printf('%.100c','y') FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    fs::copy_file(other + "-wal", store + "-wal");
    sqlite3_close(db);
  }
  const auto before = FolderBytes(folder);
  const Outcome foreign = Bare({"--store", store, "dump", "101"});
  EXPECT_NE(
      foreign.err.find(store + " is not an object store: it is a database of something "
                               "else (it has no table attributes); nothing in it was changed"),
      std::string::npos)
      << foreign.err;
  EXPECT_EQ(FolderBytes(folder), before);
  fs::remove(store);
  fs::remove(store + "-wal");

  StoreWithLeftLog(store);
  // Restored as a copy is: the file and its log, no index.
  fs::remove(store + "-shm");
  const std::string whole = ReadText(store);
  std::string bytes = whole;
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  sqlite3_open_v2(("file:" + store + "?immutable=1").c_str(), &db,
                  SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name='templates'", -1, &st,
                     nullptr);
  const int root = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
  sqlite3_finalize(st);
  sqlite3_close(db);
  ASSERT_GT(root, 1);
  bytes.replace(static_cast<size_t>(root - 1) * 4096, 4096, std::string(4096, '\0'));
  WriteText(store, bytes);
  refused({"--store", store, "request", "SetRealField", SampleRequest("set-real-field.xml")},
          "the store " + store + " is damaged (database disk image is malformed)");
  WriteText(store, "");
  refused({"--store", store, "dump", "101"},
          store + " is a damaged object store: it is empty (0 bytes), and its log, " + store +
              "-wal, lies beside it; nothing in it was changed. Restore it from a copy");
  bytes = whole;
  for (size_t k = 0; k < 4096; ++k) bytes[k] = static_cast<char>((k * 7919 + 13) % 251);
  WriteText(store, bytes);
  refused({"--store", store, "dump", "101"},
          store + " is a damaged object store: its first page, with SQLite's header, is damaged");
  fs::remove(store + "-wal");
  refused({"--store", store, "dump", "101"},
          store + " is a damaged object store: its first page, with SQLite's header, is damaged");
}

// In a folder all may write, a log or an index that another user put
// beside the owner's store (a copy's log with a commit the planter could
// not make in the store; an index of zeros) was taken as the store's: the
// owner saw that commit, or could write no more, told only "attempt to
// write a readonly database". Either is refused before it is read, naming
// the file and whose it is; once it is moved away the owner works as
// before.
TEST_F(KxqhostDamageTest, ALogOrIndexAnotherUserPutBesideAStoreIsRefusedByName) {
  const std::string folder = dir_ / "shared";
  const std::string store = folder + "/s.db";
  const std::string copy = folder + "/c.db";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  ASSERT_EQ(Bare({"register"}).status, 0);
  const auto as = [&](int user, const std::vector<std::string>& command) {
    return RunHostWith(command, dir_.path(), {"KXQ_REGISTRY=" + Registry()}, "", {.user = user});
  };
  ASSERT_EQ(as(1001, {"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  fs::copy_file(store, copy);
  ASSERT_EQ(::chown(copy.c_str(), 1002, 1002), 0);
  WriteText(dir_ / "st.kxq", "set 101 RatedFlow 999999\nstall 60 102 RatedFlow 1\n");
  const int pid = StartHost({"--store", copy, "run", dir_ / "st.kxq"}, dir_.path(), Registry(),
                            dir_ / "st.out", dir_ / "st.err", {.user = 1002});
  ASSERT_TRUE(Shows(dir_ / "st.out", "stalling")) << ReadText(dir_ / "st.err");
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  const auto plant = [&](const char* part, const std::string& bytes, mode_t mode) {
    WriteText(store + part, bytes);
    ASSERT_EQ(::chown((store + part).c_str(), 1002, 1002), 0);
    ASSERT_EQ(::chmod((store + part).c_str(), mode), 0);
  };
  const auto refused = [&](const std::vector<std::string>& command, const std::string& part) {
    const auto before = FolderBytes(folder);
    const Outcome outcome = as(1001, command);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out.find("999999"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find("nothing was read or changed. Move " + store + part +
                               " away: it belongs to user 1002, who cannot write " + store),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(FolderBytes(folder), before);
  };
  const std::vector<std::string> set = {"--store", store, "request", "SetRealField",
                                        SampleRequest("set-real-field.xml")};
  for (const mode_t mode : {0666, 0644}) {
    plant("-wal", ReadText(copy + "-wal"), mode);
    refused({"--store", store, "dump", "101"}, "-wal");
    refused(set, "-wal");
  }
  fs::remove(store + "-wal");
  plant("-shm", std::string(32768, '\0'), 0644);
  refused(set, "-shm");
  fs::remove(store + "-shm");
  const Outcome owner = as(1001, set);
  EXPECT_EQ(owner.status, 0) << owner.err;
  EXPECT_EQ(as(1001, {"--store", store, "dump", "101"}).out.find("999999"), std::string::npos);
}

// SQLite gives the log and its index the store's mode, and a writer running
// as root hands them to the store's owner: beside a store that no one may
// write, a killed writer leaves a log and an index that no one may write.
// They are the owner's own, and the commit in the log is read, by the owner
// and by another user, without a file written.
TEST_F(KxqhostDamageTest, AKilledWritersLogBesideAStoreNoOneMayWriteIsRead) {
  const std::string folder = dir_ / "shared";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  ASSERT_EQ(Bare({"register"}).status, 0);
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  ASSERT_EQ(::chown(store.c_str(), 1001, 1001), 0);
  ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
  WriteText(dir_ / "st.kxq", "set 101 RatedFlow 4242\nstall 60 102 RatedFlow 1\n");
  const int pid = StartHost({"--store", store, "run", dir_ / "st.kxq"}, dir_.path(), Registry(),
                            dir_ / "st.out", dir_ / "st.err");
  ASSERT_TRUE(Shows(dir_ / "st.out", "stalling")) << ReadText(dir_ / "st.err");
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  struct stat log;
  ASSERT_EQ(::stat((store + "-wal").c_str(), &log), 0);
  ASSERT_EQ(log.st_uid, 1001u);
  ASSERT_EQ(log.st_mode & 0777, 0444u);
  const auto before = FolderBytes(folder);
  for (const int user : {1001, 1002}) {
    const Outcome dumped = RunHostWith({"--store", store, "dump", "101"}, dir_.path(),
                                       {"KXQ_REGISTRY=" + Registry()}, "", {.user = user});
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_NE(dumped.out.find("RatedFlow = 4242"), std::string::npos) << dumped.out;
    EXPECT_EQ(FolderBytes(folder), before);
  }
}

// A user who can only read the store reads it without locks when no other
// process has it open. The owner opening it beside that reader, reading
// only, ended the reading ("... Try again") though nothing was written:
// the reader goes on and shows the store; only a commit ends it.
TEST_F(KxqhostDamageTest, AReaderWithoutLocksGoesOnBesideAnotherReader) {
  const std::string folder = dir_ / "shared";
  const std::string store = folder + "/s.db";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
  ASSERT_EQ(Bare({"register"}).status, 0);
  fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::others_read);
  const auto before = FolderBytes(folder);
  WriteText(dir_ / "r.kxq", "dump 2\nwait 2\ndump 1001\n");
  WriteText(dir_ / "o.kxq", "dump 101\nwait 4\n");
  const int reader = StartHost({"--store", store, "run", dir_ / "r.kxq"}, dir_.path(), Registry(),
                               dir_ / "r.out", dir_ / "r.err", {.unprivileged = true});
  ASSERT_TRUE(Shows(dir_ / "r.out", "object 2 "));
  const int owner = StartHost({"--store", store, "run", dir_ / "o.kxq"}, dir_.path(), Registry(),
                              dir_ / "o.out", dir_ / "o.err");
  ASSERT_TRUE(Shows(dir_ / "o.out", "object 101 "));
  int status = 0;
  ::waitpid(reader, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(dir_ / "r.err");
  EXPECT_NE(ReadText(dir_ / "r.out").find("object 1001 "), std::string::npos)
      << ReadText(dir_ / "r.err");
  ::waitpid(owner, &status, 0);
  EXPECT_EQ(FolderBytes(folder), before);
}

}  // namespace
}  // namespace kx::test::tools
