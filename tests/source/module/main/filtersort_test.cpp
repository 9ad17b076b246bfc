// "FilterSort.xml" of the templates folder, read once per Main into a table
// keyed by template id.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "com/wstr.h"
#include "main/main.h"
#include "support/moduletestsupport.h"

using namespace kx::test::inprocess;

namespace {

class FilterSortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxfiltersort-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    service_ = CreateInProcessMain(&MainWorkers::Defaults());
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  void TearDown() override {
    host_.Detach();
    std::filesystem::remove_all(dir_);
  }
  // The templates folder (with a final separator or not) holding `text`.
  void UseFile(const std::string& text, bool finalSeparator = false) {
    std::ofstream(dir_ + "/FilterSort.xml", std::ios::binary) << text;
    std::string error;
    ASSERT_TRUE(host_.settings().Override("Folder::Templates=" + dir_ + (finalSeparator ? "/" : ""),
                                          &error))
        << error;
  }
  Main& main() { return MainOf(service_.get()); }
  std::string Filter(const char16_t* id) { return Narrow(main().GetTemplateFilterId(id).view()); }
  std::string Sort(const char16_t* id) { return Narrow(main().GetTemplateSortId(id).view()); }

  std::string dir_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

TEST_F(FilterSortTest, TheFirstRecordOfAnIdWinsAndIncompleteOnesAreDropped) {
  UseFile(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Templates>\n"
      "  <Template Id=\"PUMP-SUM\" FilterId=\"Ready\" SortId=\"CLA\" Colour=\"red\"/>\n"
      "  <Template Id=\"pump-sum\" FilterId=\"Other\" SortId=\"CLD\"/>\n"
      "  <template Id=\"LOWER\" FilterId=\"Skipped\"/>\n"
      "  <Template Id=\"NOTHING\"/>\n"
      "  <Template Id=\"\" FilterId=\"NoId\"/>\n"
      "  <Template FilterId=\"NoIdAtAll\"/>\n"
      "  <Template Id=\"FILTER-ONLY\" FilterId=\"KX_CLAIM_ONLY\">text is ignored</Template>\n"
      "  <Template Id=\"SORT-ONLY\" SortId=\"CLD\"/>\n"
      "</Templates>\n");
  main().LoadFilterSortFile();
  EXPECT_EQ(main().FilterSorts().GetCount(), 3);
  EXPECT_EQ(Filter(u"pump-SUM"), "Ready");
  EXPECT_EQ(Sort(u"PUMP-sum"), "CLA");
  EXPECT_EQ(Filter(u"LOWER"), "");
  EXPECT_EQ(Filter(u"NOTHING"), "");
  EXPECT_EQ(Filter(u"FILTER-ONLY"), "KX_CLAIM_ONLY");
  EXPECT_EQ(Sort(u"FILTER-ONLY"), "");
  EXPECT_EQ(Sort(u"SORT-ONLY"), "CLD");
  EXPECT_EQ(Filter(u"SORT-ONLY"), "");
  // Read once: a later change of the file is not seen.
  UseFile("<Templates><Template Id=\"NEW\" FilterId=\"F\"/></Templates>");
  main().LoadFilterSortFile();
  EXPECT_EQ(Filter(u"NEW"), "");
}

TEST_F(FilterSortTest, AMalformedFileKeepsWhatWasReadBeforeTheFault) {
  UseFile("<Templates><Template Id=\"A\" FilterId=\"F\"/><Template Id=\"B\" FilterId=", true);
  main().LoadFilterSortFile();
  EXPECT_EQ(Filter(u"A"), "F");
  EXPECT_EQ(main().FilterSorts().GetCount(), 1);
  ASSERT_EQ(host_.application().warnings().size(), 1u);
  EXPECT_EQ(
      Narrow(host_.application().warnings()[0]).rfind("FilterSort.xml could not be read whole", 0),
      0u);
}

TEST_F(FilterSortTest, EntitiesAreRefusedAsInRequests) {
  UseFile(
      "<!DOCTYPE Templates [<!ENTITY x \"Ready\">]>\n"
      "<Templates><Template Id=\"A\" FilterId=\"&x;\"/></Templates>");
  main().LoadFilterSortFile();
  EXPECT_EQ(main().FilterSorts().GetCount(), 0);
  EXPECT_EQ(host_.application().warnings().size(), 1u);
}

TEST_F(FilterSortTest, NoFolderOrNoFileLoadsNothing) {
  main().LoadFilterSortFile();  // no "Templates" folder set
  EXPECT_EQ(main().FilterSorts().GetCount(), 0);
  EXPECT_EQ(Filter(u"A"), "");
}

TEST_F(FilterSortTest, TheTableGrowsAsTheModulesArraysDo) {
  const int expected[] = {8, 8, 16, 16, 32, 64, 128, 256, 512, 1024, 1536, 2048};
  const int counts[] = {1, 8, 9, 16, 17, 33, 65, 129, 257, 513, 1025, 1537};
  int added = 0;
  for (size_t k = 0; k < std::size(counts); ++k) {
    while (added < counts[k]) {
      const std::u16string id = u"T" + kx_ltow(added, 10);
      ASSERT_TRUE(main().AddTemplateFilterSort(id.c_str(), u"F", nullptr));
      ++added;
    }
    EXPECT_EQ(main().FilterSorts().GetCapacity(), expected[k]) << counts[k];
  }
  EXPECT_FALSE(main().AddTemplateFilterSort(u"t7", u"G", nullptr));
  // Kept in order of id, letter case not counted.
  for (int i = 1; i < main().FilterSorts().GetCount(); ++i) {
    EXPECT_LT(_wcsicmp(main().FilterSorts().GetAt(i - 1).id, main().FilterSorts().GetAt(i).id), 0);
  }
}

}  // namespace
