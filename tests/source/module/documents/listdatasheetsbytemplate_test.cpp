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

// A datasheet's scope is judged page by page; a page whose template page
// the library does not know ends the judgement there, and the sheet is not
// in scope. The other sheets of the template are listed as before.
TEST_F(CatalogueTest, ADatasheetWithAPageOfNoTemplatePageListsAsOutOfScope) {
  auto scoped = [&] {
    std::map<std::string, std::string> byDocument;
    for (const Record& record :
         Records(Reply(u"ListDatasheetsByTemplate",
                       u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>VESSEL-DS</TemplateId>"
                       u"</ListDatasheetsByTemplate></XMLMessage>"))) {
      if (record["Status"] == "1") byDocument[record["DocumentId"]] = record["Scoped"];
    }
    return byDocument;
  };
  using Scopes = std::map<std::string, std::string>;
  EXPECT_EQ(scoped(), (Scopes{{"1006", "1"}, {"1008", "1"}, {"1010", "1"}}));
  // The desalter's only page, 1061, names a template page VESSEL-DS lacks.
  SetAttributeStringByName(Object(1061), u"PageId", u"GONE", -1);
  EXPECT_EQ(scoped(), (Scopes{{"1006", "0"}, {"1008", "1"}, {"1010", "1"}}));
}

}  // namespace
