// "ListDatasheetsByTemplate" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, DatasheetsByTemplateOfferEveryPumpAndListTheStoredSheets) {
  const auto records =
      Records(Reply(u"ListDatasheetsByTemplate",
                    u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>PUMP-DS</TemplateId>"
                    u"<TemplateId>NOPE</TemplateId></ListDatasheetsByTemplate></XMLMessage>"));
  ExpectListingOrder(records);
  ASSERT_EQ(records.size(), 12u);
  EXPECT_EQ(records[0]["Title"], "Centrifugal pump datasheet");
  EXPECT_EQ(records[0]["TemplateId"], "PUMP-DS");
  for (size_t i = 1; i <= 6; ++i) EXPECT_EQ(records[i]["ObjectId"], std::to_string(100 + i));
  std::vector<std::string> stored;
  for (size_t i = 7; i < records.size(); ++i)
    stored.push_back(records[i]["Status"] + "#" + records[i]["DocumentId"]);
  EXPECT_EQ(stored, (std::vector<std::string>{"1#1001", "1#1002", "1#1003", "2#1002", "4#1001"}));
  // A template the library does not know lists nothing and fails nothing.
  const auto none = Request(u"ListDatasheetsByTemplate",
                            u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>NOPE</TemplateId>"
                            u"</ListDatasheetsByTemplate></XMLMessage>");
  ASSERT_TRUE(none.succeeded());
  EXPECT_EQ(Narrow(none.reply), "");
}

}  // namespace
