// "ListDatasheetsByObject" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, DatasheetsByObjectSortedOncePerVersionWithCreationEntriesPerEntry) {
  const std::string reply =
      Reply(u"ListDatasheetsByObject",
            u"<XMLMessage TargetId=\"x\" Status=\"1\">"
            u"<ListDatasheetsByObject><ObjectId>101</ObjectId><ObjectId>121</ObjectId>"
            u"<ObjectId>101</ObjectId></ListDatasheetsByObject></XMLMessage>");
  ASSERT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><Documents CurrentPage=\"1\">", 0), 0u)
      << reply;
  const auto records = Records(reply);
  ExpectListingOrder(records);
  std::vector<std::string> keys;
  for (const Record& r : records)
    keys.push_back(r["Status"] + " " + r["TemplateId"] + r["DocumentId"]);
  // P-101A named twice offers its datasheet twice (its summaries, which
  // name no object, once); the datasheets showing it are listed once.
  // Asserted: the records are read by position below.
  ASSERT_EQ(keys, (std::vector<std::string>{
                      "0 HX-DS<none>", "0 EQ-SUMMARY<none>", "0 PUMP-DS<none>", "0 PUMP-DS<none>",
                      "0 PUMP-SHEETS<none>", "1 <none>1004", "1 <none>1007", "1 <none>1001",
                      "1 <none>1009", "3 <none>1004", "4 <none>1001"}));
  // P-101A's offer names it; the summary's offer names no object.
  EXPECT_EQ(records[2]["ObjectId"], "101");
  EXPECT_EQ(records[2]["Title"], "P-101A: Centrifugal pump datasheet");
  EXPECT_EQ(records[3]["ObjectId"], "101");
  EXPECT_EQ(records[1]["ObjectId"], "-1");
  EXPECT_EQ(records[1]["Type"], "2");
  EXPECT_EQ(records[6]["Type"], "3") << "the pump summary belongs to the active project";
  EXPECT_EQ(records[10]["Revision"], "A");
  EXPECT_TRUE(Request(u"ListDatasheetsByObject", u"").succeeded() == false)
      << "an empty text is no request";
}

TEST_F(CatalogueTest, AnObjectNoTemplateTakesAndNoPageShowsGivesNoReply) {
  const auto result = Request(u"ListDatasheetsByObject",
                              u"<XMLMessage><ListDatasheetsByObject><ObjectId>1201</ObjectId>"
                              u"<ObjectId>0</ObjectId></ListDatasheetsByObject></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
  const auto missing = Request(u"ListDatasheetsByObject",
                               u"<XMLMessage><ListDatasheetsByObject><ObjectId>99999</ObjectId>"
                               u"</ListDatasheetsByObject></XMLMessage>");
  EXPECT_FALSE(missing.succeeded());
  EXPECT_NE(Narrow(missing.error).find("99999"), std::string::npos);
  EXPECT_EQ(Narrow(missing.reply), "");
}

}  // namespace
