// The store as the program uses it: the cost of showing an object that many
// pages show, and a store made by `init` that appears whole or not at all;
// the cost of a request of many message elements; files that are no store
// and stores that cannot be written.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

std::string SamplePlant() {
  return ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
}

// The sample plant with `pages` more pages showing pump 101.
std::string PlantWithPagesOn101(int pages) {
  std::string objects;
  for (int k = 0; k < pages; ++k)
    objects += "<object id=\"" + std::to_string(5000 + k) +
               "\" class=\"Page\"><value attribute=\"NodeObjects\" ref=\"101\"/></object>\n";
  std::string plant = SamplePlant();
  const size_t end = plant.rfind("</objects>");
  plant.insert(end, objects);
  return plant;
}

class KxqhostStoreTest : public KxqhostTest {
 protected:
  // The best of two `dump 101` runs on a store whose pump 101 is shown on
  // `pages` more pages, in CPU seconds.
  double DumpSeconds(int pages) {
    const std::string fixture = dir_ / ("plant" + std::to_string(pages) + ".xml");
    const std::string store = dir_ / ("plant" + std::to_string(pages) + ".db");
    WriteText(fixture, PlantWithPagesOn101(pages));
    const Outcome made = Bare({"--store", store, "init", "--fixture", fixture});
    EXPECT_EQ(made.status, 0) << made.err;
    double best = 1e9;
    for (int round = 0; round < 2; ++round) {
      const Outcome dumped = Bare({"--store", store, "dump", "101"});
      best = std::min(best, dumped.cpu_seconds);
      EXPECT_EQ(dumped.status, 0) << dumped.err;
      EXPECT_NE(dumped.out.find("#" + std::to_string(5000 + pages - 1) + "\n"), std::string::npos);
    }
    return best;
  }
};

// "DataViews" is read whole once, not once per element shown: four times
// the pages cost about four times as much, not sixteen.
TEST_F(KxqhostStoreTest, DumpOfAnObjectShownOnManyPagesGrowsLinearly) {
  const double small = DumpSeconds(500);
  const double large = DumpSeconds(2000);
  // The floor keeps the start of the program from deciding alone.
  EXPECT_LE(large, 5 * std::max(small, 0.1)) << small << " s for 500, " << large << " s for 2,000";
}

// `init` killed at any moment leaves either no store or a whole one: never
// a file with tables and no objects that a second `init` refuses and every
// request fails on. What a killed one leaves beside the store is cleared by
// the next one.
TEST_F(KxqhostStoreTest, InitKilledAtAnyMomentLeavesNoStoreOrAWholeOne) {
  const std::string fixture = dir_ / "plant.xml";
  WriteText(fixture, SamplePlant());
  const Outcome whole = Bare({"--store", dir_ / "whole.db", "init", "--fixture", fixture});
  ASSERT_EQ(whole.status, 0) << whole.err;
  const Outcome reference = Bare({"--store", dir_ / "whole.db", "dump", "101", "1012"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string store = dir_ / "k.db";
  int killed = 0, wholeAfterKill = 0;
  for (int round = 0; round < 24; ++round) {
    const int pid = StartHost({"--store", store, "init", "--fixture", fixture}, dir_.path(),
                              Registry(), dir_ / "init.out", dir_ / "init.err");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const bool wasKilled = WIFSIGNALED(status);
    killed += wasKilled;
    if (std::filesystem::exists(store)) {
      const Outcome dumped = Bare({"--store", store, "dump", "101", "1012"});
      EXPECT_EQ(dumped.status, 0) << "round " << round << ": " << dumped.err;
      EXPECT_EQ(dumped.out, reference.out) << "round " << round;
      wholeAfterKill += wasKilled;
      for (const char* part : {"", "-wal", "-shm"}) std::filesystem::remove(store + part);
    } else {
      // Nothing there: a new init makes the store.
      const Outcome again = Bare({"--store", store, "init", "--fixture", fixture});
      EXPECT_EQ(again.status, 0) << "round " << round << ": " << again.err;
      for (const char* part : {"", "-wal", "-shm"}) std::filesystem::remove(store + part);
    }
  }
  EXPECT_GT(killed, 0);
  const Outcome last = Bare({"--store", store, "init", "--fixture", fixture});
  EXPECT_EQ(last.status, 0) << last.err;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename().string().find("k.db.init-"), std::string::npos)
        << entry.path();
  RecordProperty("killed", killed);
  RecordProperty("wholeAfterKill", wholeAfterKill);
}

// `init` reads a fixture's objects one at a time and keeps none of them: a
// plant four times larger needs no more memory (holding the document took
// about 14 bytes per byte of it), and a killed `init` still leaves no store
// or a whole one.
TEST_F(KxqhostStoreTest, InitStreamsThePlantInBoundedMemoryAndStaysWholeOrAbsent) {
  const std::string small = dir_ / "small.xml", large = dir_ / "large.xml";
  WriteText(small, PlantWithPagesOn101(10000));
  WriteText(large, PlantWithPagesOn101(40000));
  const long grown =
      static_cast<long>(std::filesystem::file_size(large) - std::filesystem::file_size(small));
  // Freed memory kept to catch its use would grow with the plant.
  const std::vector<std::string> environment = {"KXQ_REGISTRY=" + Registry(),
                                                "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0"};
  long peak[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const std::string store = dir_ / ("made" + std::to_string(k) + ".db");
    const Outcome made = RunHostWith({"--store", store, "init", "--fixture", k ? large : small},
                                     dir_.path(), environment);
    ASSERT_EQ(made.status, 0) << made.err;
    peak[k] = made.peak_kb;
  }
  EXPECT_LE((peak[1] - peak[0]) * 1024, grown)
      << peak[0] << " KiB for 10,000 pages, " << peak[1] << " KiB for 40,000";

  const Outcome reference = Bare({"--store", dir_ / "made1.db", "dump", "101", "1012", "44999"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string store = dir_ / "k.db";
  int killed = 0;
  for (int round = 0; round < 8; ++round) {
    const int pid = StartHost({"--store", store, "init", "--fixture", large}, dir_.path(),
                              Registry(), dir_ / "init.out", dir_ / "init.err");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(80 * round));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    killed += WIFSIGNALED(status);
    if (std::filesystem::exists(store)) {
      const Outcome dumped = Bare({"--store", store, "dump", "101", "1012", "44999"});
      EXPECT_EQ(dumped.out, reference.out) << "round " << round << ": " << dumped.err;
      for (const char* part : {"", "-wal", "-shm"}) std::filesystem::remove(store + part);
    }
  }
  EXPECT_GT(killed, 0);
  // The next init clears what the killed ones left, whatever its fixture:
  // the smaller one spares the slowest import (11 s under ASan).
  const Outcome last = Bare({"--store", store, "init", "--fixture", small});
  EXPECT_EQ(last.status, 0) << last.err;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename().string().find("k.db.init-"), std::string::npos)
        << entry.path();
}

// The CPU seconds of one "CreateAnnotation" request of `elements` message
// elements on a fresh sample plant, with its change event written.
double AnnotationSeconds(const std::string& folder, int elements) {
  const std::string store = folder + "/notes" + std::to_string(elements) + ".db";
  const std::string request = folder + "/notes" + std::to_string(elements) + ".xml";
  const std::string fixture = folder + "/plant.xml";
  WriteText(fixture, SamplePlant());
  std::string text = "<XMLMessage TargetId=\"Editor\" Status=\"1\">";
  for (int k = 0; k < elements; ++k)
    text +=
        "<CreateAnnotation PageId=\"1012\" Value=\"Motor rating\" X=\"80\" Y=\"410\" "
        "Markup=\"0\"/>";
  text += "</XMLMessage>";
  WriteText(request, text);
  const Outcome made =
      RunHost({"--store", store, "init", "--fixture", fixture}, folder, folder + "/registry.xml");
  EXPECT_EQ(made.status, 0) << made.err;
  const Outcome sent =
      RunHost({"--store", store, "--events", "request", "CreateAnnotation", request}, folder,
              folder + "/registry.xml");
  const double seconds = sent.cpu_seconds;
  EXPECT_EQ(sent.status, 0) << sent.err;
  // One event shows every annotation made.
  EXPECT_NE(sent.out.find("FieldId=\"" + std::to_string(elements + 1) + "\""), std::string::npos);
  return seconds;
}

// An element's cost does not depend on the elements before it: 4,000
// "CreateAnnotation" elements take about four times 1,000 (the change event
// that shows them looked each annotation up by reading the page's list from
// its start).
TEST_F(KxqhostStoreTest, RepeatedCreateAnnotationGrowsLinearly) {
  const double small = AnnotationSeconds(dir_.path(), 1000);
  const double large = AnnotationSeconds(dir_.path(), 4000);
  EXPECT_LE(large, 5 * std::max(small, 0.2))
      << small << " s for 1,000, " << large << " s for 4,000";
}

// Every file of a folder, by name, with its bytes.
std::map<std::string, std::string> FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files[entry.path().filename().string()] = ReadText(entry.path().string());
  return files;
}

// Runs SQL on the database at `path` as another program would. leaveLog:
// what it wrote stays in the log, as a killed process leaves it, without
// the log's index.
void Sql(const std::string& path, const char* sql, bool leaveLog = false) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  if (leaveLog) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  char* msg = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
  sqlite3_free(msg);
  sqlite3_close(db);
  if (leaveLog) std::filesystem::remove(path + "-shm");
}

// A file that is no store is refused before anything is written to it,
// saying what it is and how to make a store; every byte stays, and no log
// or index appears beside it. `init` puts no store in place of an empty
// file.
TEST_F(KxqhostStoreTest, AFileThatIsNoStoreIsRefusedAndLeftAsItWas) {
  const std::string folder = dir_ / "files";
  std::filesystem::create_directory(folder);
  InitStore();
  WriteText(folder + "/cut.db", ReadText(Store()).substr(0, 100000));
  WriteText(folder + "/empty.db", "");
  WriteText(folder + "/notes.db", "pump P-101A: check the seal\n");
  Sql(folder + "/other.db",
      "CREATE TABLE orders(id INTEGER PRIMARY KEY); INSERT INTO orders VALUES(7)");
  Sql(folder + "/otherlog.db", "PRAGMA journal_mode=WAL; CREATE TABLE orders(id)", true);
  const auto before = FolderBytes(folder);
  const std::pair<const char*, const char*> files[] = {
      {"empty.db", "is not an object store: it is empty (0 bytes)"},
      {"notes.db", "is not an object store: it is no SQLite database"},
      {"other.db", "is not an object store: it is a database of something else"},
      {"otherlog.db", "is not an object store: it is a database of something else"},
      {"cut.db", "is a damaged object store: it is cut short (100000 bytes of "}};
  for (const auto& [name, says] : files) {
    const std::string path = folder + "/" + name;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"dump", "101"}, {"request", "ListHolds", "-"}}) {
      std::vector<std::string> arguments{"--store", path};
      arguments.insert(arguments.end(), command.begin(), command.end());
      const Outcome refused = Bare(arguments, "\n");
      EXPECT_EQ(refused.status, 1) << name;
      EXPECT_EQ(refused.out, "") << name;
      EXPECT_NE(refused.err.find(path + " " + says), std::string::npos) << refused.err;
      EXPECT_NE(refused.err.find("nothing in it was changed"), std::string::npos) << refused.err;
      EXPECT_EQ(refused.err.find("make a store where no file is, with: ") != std::string::npos &&
                    refused.err.find(" --store NEWFILE init") != std::string::npos,
                std::string(name) != "cut.db")
          << refused.err;
    }
  }
  const Outcome init = Bare({"--store", folder + "/empty.db", "init", "--fixture", TinyPlant()});
  EXPECT_EQ(init.status, 1);
  EXPECT_NE(init.err.find("empty.db exists (an empty file); remove it first"), std::string::npos)
      << init.err;
  // A folder is not to be removed: the advice is a file in it.
  const Outcome in_folder = Bare({"--store", folder, "init", "--fixture", TinyPlant()});
  EXPECT_EQ(in_folder.status, 1);
  EXPECT_NE(in_folder.err.find(folder +
                               " is a folder; name a file in it for the new store "
                               "(--store " +
                               folder + "/plant.db)"),
            std::string::npos)
      << in_folder.err;
  EXPECT_EQ(in_folder.err.find("remove"), std::string::npos) << in_folder.err;
  EXPECT_EQ(FolderBytes(folder), before);
}

// A store the user cannot write, in a folder the user cannot write
// either, is read without writing: dumps and reading requests work, and so
// does opening a page or a datasheet (what opening records, the trigger of
// the page and the version opened, is not saved); a request that changes
// something fails, saying the store is read only, and changes nothing. A
// log left beside it without its index is read; while another process has
// it open, it is read beside that process or refused, never without locks.
TEST_F(KxqhostStoreTest, AStoreThatCannotBeWrittenIsReadOnly) {
  namespace fs = std::filesystem;
  const std::string folder = dir_ / "archive";
  const std::string store = folder + "/plant.db";
  fs::create_directory(folder);
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture",
                  std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"})
                .status,
            0);
  ASSERT_EQ(Bare({"register"}).status, 0);
  const auto read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(store, read_only);
  const std::string bytes = ReadText(store);
  fs::permissions(
      folder, read_only | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  fs::permissions(Registry(), read_only);
  struct Restore {
    std::string folder;
    ~Restore() { fs::permissions(folder, fs::perms::owner_all); }
  } restore{folder};
  const auto as_reader = [&](std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), {"--store", store});
    return RunHostWith(arguments, dir_.path(), {"KXQ_REGISTRY=" + Registry()}, input,
                       {.unprivileged = true});
  };
  const Outcome dumped = as_reader({"dump", "101"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_NE(dumped.out.find("RatedFlow = 385 m3/h"), std::string::npos) << dumped.out;
  EXPECT_NE(dumped.err.find("cannot be written; it is read only"), std::string::npos) << dumped.err;
  const Outcome listed = as_reader({"request", "ListHolds", "-"}, "\n");
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("HOLD-01"), std::string::npos) << listed.out;
  const Outcome set = as_reader({"request", "SetRealField", "-"},
                                "<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" "
                                "FieldId=\"103\" Value=\"395\"/></XMLMessage>");
  EXPECT_EQ(set.status, 1) << set.err;
  EXPECT_NE(set.err.find("the store was opened read only"), std::string::npos) << set.err;
  EXPECT_NE(as_reader({"dump", "101"}).out.find("RatedFlow = 385 m3/h"), std::string::npos);

  const Outcome page = as_reader({"request", "OpenPage", "-"}, "1012");
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_NE(page.out.find("<OpenPage"), std::string::npos) << page.out;
  const Outcome sheets =
      as_reader({"--events", "request", "OpenDocuments", "-"},
                "<XMLMessage TargetId=\"App\" Status=\"1\"><OpenDocuments><Datasheet "
                "DocumentId=\"1001\" Status=\"1\"/><Datasheet DocumentId=\"1007\" "
                "Status=\"1\"/></OpenDocuments></XMLMessage>");
  EXPECT_EQ(sheets.status, 0) << sheets.err;
  EXPECT_NE(sheets.out.find("Title=\"[ReadOnly] P-101A: Crude charge pump (Normal)\""),
            std::string::npos)
      << sheets.out;
  EXPECT_NE(sheets.out.find("== store opened #1007 at status \"1\"\n"), std::string::npos)
      << sheets.out;
  // E-102's datasheet is made with an older template version: opening it
  // would rebuild it, a change.
  const Outcome rebuilt = as_reader({"request", "OpenDocuments", "-"},
                                    "<XMLMessage TargetId=\"App\" Status=\"1\"><OpenDocuments>"
                                    "<Datasheet DocumentId=\"1005\" Status=\"1\"/>"
                                    "</OpenDocuments></XMLMessage>");
  EXPECT_EQ(rebuilt.status, 1) << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("the store was opened read only"), std::string::npos) << rebuilt.err;
  // A message that reports no failure of its own (it counts what it
  // updated) fails at its commit, which says why.
  const Outcome updated = as_reader({"request", "UpdateTemplates", "-"},
                                    "<XMLMessage TargetId=\"App\" Status=\"1\"><UpdateTemplates "
                                    "Delete=\"false\"><DocumentId>1005</DocumentId>"
                                    "</UpdateTemplates></XMLMessage>");
  EXPECT_EQ(updated.status, 1) << updated.err;
  EXPECT_NE(updated.err.find("a write had failed (the store was opened read only"),
            std::string::npos)
      << updated.err;
  EXPECT_EQ(FolderBytes(folder), (std::map<std::string, std::string>{{"plant.db", bytes}}));

  // A process killed after a commit left the log, and the log's index went.
  fs::permissions(folder, fs::perms::owner_all);
  Sql(store,
      "UPDATE vals SET num=400 WHERE obj=101 AND attr IN (SELECT id FROM attributes WHERE "
      "name='RatedFlow')",
      true);
  fs::permissions(
      folder, read_only | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const auto left = FolderBytes(folder);
  ASSERT_EQ(left.size(), 2u);
  ASSERT_GT(left.at("plant.db-wal").size(), 0u);
  const Outcome logged = as_reader({"dump", "101"});
  EXPECT_EQ(logged.status, 0) << logged.err;
  EXPECT_NE(logged.out.find("RatedFlow = 400 m3/h"), std::string::npos) << logged.out;
  EXPECT_EQ(FolderBytes(folder), left);

  // A process writing the store (this one) holds it exclusively for a
  // moment, as one that is closing it does: it is never read without locks
  // then, but refused, saying why. Let go, it is read beside the writer.
  fs::permissions(folder, fs::perms::owner_all);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(store.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "UPDATE vals SET num=410 WHERE obj=101 AND num=400", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  fs::permissions(
      folder, read_only | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const int file = ::open(store.c_str(), O_RDWR | O_CLOEXEC);
  struct flock pending = {};
  pending.l_type = F_WRLCK;
  pending.l_whence = SEEK_SET;
  pending.l_start = 0x40000000;  // SQLite's pending byte
  pending.l_len = 1;
  ASSERT_EQ(::fcntl(file, F_SETLK, &pending), 0);
  const Outcome refused = as_reader({"dump", "101"});
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.err.find("plant.db is in use by another process"), std::string::npos)
      << refused.err;
  pending.l_type = F_UNLCK;
  ASSERT_EQ(::fcntl(file, F_SETLK, &pending), 0);
  EXPECT_NE(as_reader({"dump", "101"}).out.find("RatedFlow = 410 m3/h"), std::string::npos);
  // Its log index left behind and unreadable, a store no one has open is
  // read as it is, log and all.
  sqlite3_db_config(writer, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_close(writer);
  ::close(file);
  fs::permissions(folder + "/plant.db-shm", fs::perms::none);
  const Outcome leftOver = as_reader({"dump", "101"});
  EXPECT_EQ(leftOver.status, 0) << leftOver.err;
  EXPECT_NE(leftOver.out.find("RatedFlow = 410 m3/h"), std::string::npos) << leftOver.out;
}

// A write that fails at any moment of `init` (here: a file that may grow no
// further, as on a full disk) leaves no store, no log and no index beside
// it, and the failure gives SQLite's reason.
TEST_F(KxqhostStoreTest, InitThatCannotWriteLeavesNothingAndSaysWhy) {
  const std::string fixture = std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml";
  const std::string folder = dir_ / "small";
  std::filesystem::create_directory(folder);
  int failed = 0;
  for (long limit = 16 * 1024; limit <= 512 * 1024; limit += 32 * 1024) {
    const Outcome made =
        RunHostWith({"--store", folder + "/plant.db", "init", "--fixture", fixture}, dir_.path(),
                    {"KXQ_REGISTRY=" + Registry()}, "", {.file_size_limit = limit});
    if (made.status == 0) {
      std::filesystem::remove(folder + "/plant.db");
      continue;
    }
    ++failed;
    EXPECT_EQ(made.status, 1) << limit << ": " << made.err;
    EXPECT_NE(made.err.find("cannot create " + folder + "/plant.db"), std::string::npos)
        << made.err;
    EXPECT_NE(made.err.find("disk I/O error"), std::string::npos) << limit << ": " << made.err;
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << limit << ": " << made.err;
  }
  EXPECT_GT(failed, 3);
}

}  // namespace
}  // namespace kx::test::tools
