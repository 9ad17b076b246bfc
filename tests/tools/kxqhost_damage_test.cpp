// The program on stores that are damaged, share their folder with other
// users, or are written while another user reads them: nothing damaged is
// read as data or made permanent, nothing is left that stops the owner, and
// no reader shows a state that never was.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
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
// `init` makes no new store that would take that log.
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
  EXPECT_EQ(Bare({"--store", store, "init", "--fixture", SamplePlant()}).status, 0);
}

// In a folder all may write (sticky, as /tmp), a user who can only read
// the store leaves nothing beside it: the owner's next request works. A
// reader that found no other process at the store reads it without locks;
// what the owner commits meanwhile never shows in it mixed with what was
// there: its later dump fails, saying why. A log beside the store that is
// a named pipe is refused at once instead of hanging the opening.
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
  EXPECT_NE(Bare({"--store", store, "dump", "1001"}).out, intact.out);
  EXPECT_EQ(shown.find("object 1001"), std::string::npos) << shown;
  EXPECT_NE(ReadText(dir_ / "r.err")
                .find("cannot dump object 1001: Cannot read object 1001: " + store +
                      " was opened or written by another process while this one read it "
                      "without locks"),
            std::string::npos)
      << ReadText(dir_ / "r.err");
  EXPECT_EQ(FolderBytes(folder).size(), 1u);

  ASSERT_EQ(::mkfifo((store + "-wal").c_str(), 0644), 0);
  const Outcome piped = RunHostWith({"--store", store, "dump", "101"}, dir_.path(),
                                    {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find(store + "-wal, where SQLite keeps the store's log, is a named pipe"),
            std::string::npos)
      << piped.err;
}

}  // namespace
}  // namespace kx::test::tools
