// "GetConfigurations" and "GetObjectFilters" end to end on the sample plant
// (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, ConfigurationsFollowPrivilegesAndTheRootProject) {
  const std::string all = Reply(u"GetConfigurations", u"");
  EXPECT_EQ(all.substr(0, all.find("<Filter")),
            "<XMLMessage MessageOfTheDay=\"\" TargetId=\"App\"><Configurations CanSecure=\"1\" "
            "CanLock=\"1\" "
            "CanCheck=\"1\" CanIssue=\"1\" CanChangeUnits=\"1\" IsRootProject=\"1\" "
            "CanModifySummary=\"1\">");
  // Without privileges, in project 2: every flag false.
  kx::host::Host bare;
  IKXQProjectPtr area;
  ASSERT_EQ(store_->Database()->get_Project(2, &area), S_OK);
  IKXQSchemaPtr schema;
  store_->Database()->get_Schema(&schema);
  bare.application().SetStore(store_->Database(), schema, nullptr);
  bare.application().SetProjects(area, root_);
  auto service = CreateInProcessMain(&MainWorkers::Defaults());
  ASSERT_EQ(bare.Attach(service.get()), S_OK);
  bare.privileges().Grant(u"IssueDocument");
  const auto result = bare.Request(u"GetConfigurations", u"");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_NE(Narrow(result.reply)
                .find("<Configurations CanSecure=\"0\" CanLock=\"0\" CanCheck=\"0\" CanIssue=\"1\" "
                      "CanChangeUnits=\"0\" IsRootProject=\"0\" CanModifySummary=\"0\">"),
            std::string::npos);
  bare.Detach();

  host_.privileges().failures().Add("HasPrivilege", E_FAIL, u"directory unreachable", 1, 2);
  const auto failed = Request(u"GetConfigurations", u"");
  EXPECT_EQ(failed.hr, E_FAIL);
  EXPECT_EQ(Narrow(failed.reply), "");
}

TEST_F(CatalogueTest, ObjectFiltersMarkTheDefaultInAnyLetterCase) {
  std::string error;
  ASSERT_TRUE(host_.settings().Override("DefaultFilter=vessels", &error)) << error;
  const auto filters = Records(Reply(u"GetObjectFilters", u""));
  ASSERT_EQ(filters.size(), 3u);
  EXPECT_EQ(filters[0]["Name"] + filters[0]["Default"], "Pumps<none>");
  EXPECT_EQ(filters[2]["Name"] + filters[2]["Title"] + filters[2]["Default"],
            "VesselsAll vessels and columns1");
}

}  // namespace
