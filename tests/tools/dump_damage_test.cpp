// `kxqhost dump` of a damaged store, in-process: what is shown is what the
// store holds, or the dump fails saying the store is damaged.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <unistd.h>

#include "common.h"
#include "dump.h"
#include "store/admin.h"

namespace {

namespace fs = std::filesystem;
using kx::store::OpenMode;
using kx::store::Status;
using kx::store::Store;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool SaysDamaged(const std::string& text) {
  return text.find("damaged") != std::string::npos &&
         text.find("estore it from a copy") != std::string::npos;
}

// The dump of `id`, or the failure it ends in.
std::pair<bool, std::string> Dumped(Store& store, LONG id) {
  (void)store.TakeReadFailure();
  std::string text;
  if (FAILED(kx::kxqhost::DumpObject(store.Database(), id, &text)))
    return {false, kx::kxqhost::TakeErrorText()};
  if (const Status read = store.TakeReadFailure(); !read.ok()) return {false, read.message};
  return {true, text};
}

// Every page of a store of the sample plant zeroed in turn, and every
// object dumped: each dump is the intact store's, or it (or the opening)
// fails saying the store is damaged and to restore it from a copy. An index
// page zeroed once emptied every inverse list read through it, and most
// failures said "Cannot read object 1011: " and no more. Nothing is
// written to the file.
TEST(DumpOfADamagedStore, EveryPageZeroedGivesTheIntactDumpOrSaysTheStoreIsDamaged) {
  std::string folder = (fs::temp_directory_path() / "kxq-damage-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  struct Remove {
    std::string path;
    ~Remove() { fs::remove_all(path); }
  } remove{folder};
  const std::string plant = std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml";
  const std::string intact = folder + "/intact.db";
  std::map<LONG, std::string> reference;
  {
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(intact, OpenMode::kCreate, &store).ok());
    ASSERT_TRUE(store->ImportFixtureFile(plant).ok());
    const std::string fixture = Bytes(plant);
    const std::regex object("<object id=\"([0-9]+)\"");
    for (auto it = std::sregex_iterator(fixture.begin(), fixture.end(), object);
         it != std::sregex_iterator(); ++it) {
      const LONG id = std::stol((*it)[1]);
      const auto [ok, text] = Dumped(*store, id);
      ASSERT_TRUE(ok) << id << ": " << text;
      reference[id] = text;
    }
  }
  const std::string bytes = Bytes(intact);
  const size_t page =
      (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
  ASSERT_EQ(bytes.size() % page, 0u);
  const std::string path = folder + "/zeroed.db";
  int refused = 0, failed = 0, whole = 0;
  for (size_t at = 0; at < bytes.size(); at += page) {
    std::string zeroed = bytes;
    zeroed.replace(at, page, std::string(page, '\0'));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << zeroed;
    const std::string where = "page " + std::to_string(at / page + 1);
    {
      std::unique_ptr<Store> store;
      const Status opened = Store::Open(path, OpenMode::kOpenExisting, &store);
      if (!opened.ok()) {
        ++refused;
        EXPECT_TRUE(SaysDamaged(opened.message)) << where << ": " << opened.message;
      } else {
        for (const auto& [id, text] : reference) {
          const auto [ok, dumped] = Dumped(*store, id);
          ok ? ++whole : ++failed;
          if (ok)
            EXPECT_EQ(dumped, text) << where << ", object " << id;
          else
            EXPECT_TRUE(SaysDamaged(dumped)) << where << ", object " << id << ": " << dumped;
        }
      }
    }
    EXPECT_EQ(Bytes(path), zeroed) << where;
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(failed, 0);
  EXPECT_GT(whole, 0);
}

}  // namespace
