// The registration store: values, key trees, reload and atomic writes.
#include "com/registry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "com/wstr.h"
#include "test_support.h"

namespace {

const std::u16string kKey = u"HKEY_CLASSES_ROOT\\CLSID\\{1234}\\InprocServer32";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Registry : public ::testing::Test {
 protected:
  kx::com::test::TempRegistry registry_;
};

TEST_F(Registry, PathComesFromTheEnvironment) { EXPECT_EQ(kx_reg_file_path(), registry_.file()); }

TEST_F(Registry, SetGetDeleteValues) {
  ASSERT_EQ(kx_reg_set_value(kKey, u"", u"/opt/lib/libx.so"), S_OK);
  ASSERT_EQ(kx_reg_set_value(kKey, u"ThreadingModel", u"Apartment"), S_OK);
  std::u16string value;
  ASSERT_EQ(kx_reg_get_value(kKey, u"", &value), S_OK);
  EXPECT_EQ(value, u"/opt/lib/libx.so");
  // Names of keys and values compare without regard to case.
  ASSERT_EQ(kx_reg_get_value(u"hkey_classes_root\\clsid\\{1234}\\inprocserver32", u"threadingmodel",
                             &value),
            S_OK);
  EXPECT_EQ(value, u"Apartment");
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\CLSID"), S_OK);  // parents were created
  ASSERT_EQ(kx_reg_delete_value(kKey, u"ThreadingModel"), S_OK);
  EXPECT_EQ(kx_reg_get_value(kKey, u"ThreadingModel", &value),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(kx_reg_delete_value(kKey, u"ThreadingModel"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\Nope", u"", &value),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Registry, MalformedPathsAreRefused) {
  EXPECT_EQ(kx_reg_set_value(u"", u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(kx_reg_set_value(u"A\\\\B", u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(kx_reg_set_value(u"A\\B\\", u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(kx_reg_set_value(u"A", u"", std::u16string(1, char16_t(0xD800))), E_INVALIDARG);
}

TEST_F(Registry, DeleteTreeRemovesSubKeysOnly) {
  ASSERT_EQ(kx_reg_set_value(u"R\\App\\Sub\\Deep", u"", u"1"), S_OK);
  ASSERT_EQ(kx_reg_set_value(u"R\\App", u"Name", u"2"), S_OK);
  ASSERT_EQ(kx_reg_set_value(u"R\\Apple", u"", u"3"), S_OK);  // same prefix, not below
  std::vector<std::u16string> names;
  ASSERT_EQ(kx_reg_enum_keys(u"R", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"App", u"Apple"}));
  ASSERT_EQ(kx_reg_delete_tree(u"r\\app"), S_OK);
  EXPECT_EQ(kx_reg_key_exists(u"R\\App\\Sub\\Deep"), S_FALSE);
  EXPECT_EQ(kx_reg_key_exists(u"R\\App"), S_FALSE);
  EXPECT_EQ(kx_reg_key_exists(u"R\\Apple"), S_OK);
  EXPECT_EQ(kx_reg_delete_tree(u"R\\App"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Registry, SurvivesReloadWithAwkwardTexts) {
  const std::u16string awkward = u"a&b<c>\"d\"\ttab\nline \u00E9\U0001F600";
  ASSERT_EQ(kx_reg_set_value(u"HKEY_CURRENT_USER\\K & <K>", u"name \"q\"", awkward), S_OK);
  std::vector<std::pair<std::u16string, std::u16string>> values;
  // Point at another file and back: the second read must come from disk.
  {
    kx::com::test::TempRegistry other;
    EXPECT_EQ(kx_reg_key_exists(u"HKEY_CURRENT_USER\\K & <K>"), S_FALSE);
  }
  ::setenv("KXQ_REGISTRY", registry_.file().c_str(), 1);
  ASSERT_EQ(kx_reg_enum_values(u"HKEY_CURRENT_USER\\K & <K>", &values), S_OK);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].first, u"name \"q\"");
  EXPECT_EQ(values[0].second, awkward);
}

TEST_F(Registry, SeesChangesMadeByAnotherWriter) {
  ASSERT_EQ(kx_reg_set_value(u"K", u"v", u"mine"), S_OK);
  // Another process rewrites the file (here: by hand, with the same format).
  std::string text = read_file(registry_.file());
  const std::size_t at = text.find("mine");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 4, "theirs!");
  {
    std::ofstream out(registry_.file() + ".new", std::ios::binary);
    out << text;
  }
  std::filesystem::rename(registry_.file() + ".new", registry_.file());
  std::u16string value;
  ASSERT_EQ(kx_reg_get_value(u"K", u"v", &value), S_OK);
  EXPECT_EQ(value, u"theirs!");
}

TEST_F(Registry, WritesReplaceTheFileWholeAndLeaveNoTemporaries) {
  ASSERT_EQ(kx_reg_set_value(u"K", u"", u"1"), S_OK);
  struct stat before;
  ASSERT_EQ(::stat(registry_.file().c_str(), &before), 0);
  ASSERT_EQ(kx_reg_set_value(u"K", u"", u"2"), S_OK);
  struct stat after;
  ASSERT_EQ(::stat(registry_.file().c_str(), &after), 0);
  // A new file was renamed into place (the old one was never rewritten).
  EXPECT_NE(before.st_ino, after.st_ino);
  for (const auto& entry : std::filesystem::directory_iterator(registry_.dir())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.xml" || name == "registry.xml.lock") << name;
  }
}

TEST_F(Registry, AMalformedFileIsNeitherReadNorOverwritten) {
  {
    std::ofstream out(registry_.file(), std::ios::binary);
    out << "<registry version=\"1\"><key path=\"A\"><value name=\"\" data=\"x\"/>";  // cut short
  }
  const std::string damaged = read_file(registry_.file());
  std::u16string value;
  EXPECT_EQ(kx_reg_get_value(u"A", u"", &value), REGDB_E_READREGDB);
  EXPECT_EQ(kx_reg_set_value(u"A", u"", u"y"), REGDB_E_READREGDB);
  EXPECT_EQ(read_file(registry_.file()), damaged);
}

TEST_F(Registry, MissingFileIsAnEmptyStore) {
  std::u16string value;
  EXPECT_EQ(kx_reg_get_value(u"A", u"", &value), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(registry_.file()));
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        const std::u16string name = kx_format(u"t%d_%d", t, i);
        EXPECT_EQ(kx_reg_set_value(u"Many", name, u"x"), S_OK);
      }
    });
  for (auto& th : threads) th.join();
  std::vector<std::pair<std::u16string, std::u16string>> values;
  ASSERT_EQ(kx_reg_enum_values(u"Many", &values), S_OK);
  EXPECT_EQ(values.size(), 40u);
}

}  // namespace
