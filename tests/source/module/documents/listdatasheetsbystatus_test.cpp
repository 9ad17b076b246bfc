// "ListDatasheetsByStatus" and "ListDatasheetsByField" end to end on the sample plant
// (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace moduletest;

namespace {

TEST_F(CatalogueTest, DatasheetsByStatusAndByField) {
  const std::string submitted = Reply(u"ListDatasheetsByStatus", u"2");
  EXPECT_NE(submitted.find("<Documents CurrentPage=\"2\">"), std::string::npos);
  const auto records = Records(submitted);
  ASSERT_EQ(records.size(), 2u) << "1002 with all its versions";
  EXPECT_EQ(records[0]["Status"] + records[1]["Status"], "12");
  EXPECT_EQ(records[0]["DocumentId"], "1002");
  // Every datasheet at status 1, and the other versions of 1001, 1002 and 1004.
  EXPECT_EQ(Records(Reply(u"ListDatasheetsByStatus", u" 1")).size(), 10u + 1 + 1 + 1);
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"9"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"x"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByField", u"103"), "");
}

}  // namespace
