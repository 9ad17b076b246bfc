// "RecaseDocuments" and "ListDatasheetObjects" end to end on the sample plant
// (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, RecasingGivesEveryCurrentPageTheCaseWithAPageEvent) {
  const auto result = Request(
      u"RecaseDocuments",
      u"<XMLMessage TargetId=\"1002\" Status=\"1\"><RecaseDocuments CaseId=\"2\"/></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  ASSERT_EQ(result.events.size(), 2u);
  EXPECT_EQ(Narrow(result.events[0].key.value_or(u"")), "P1 1021");
  EXPECT_EQ(Narrow(result.events[1].key.value_or(u"")), "P1 1022");
  EXPECT_EQ(Text(1002, u"CaseName"), "Design");
  EXPECT_EQ(Text(1002, u"DefaultCase"), "2");
  EXPECT_EQ(Text(1021, u"Cases"), "2");

  // Without "TargetId" there is no datasheet to recase: refused, unchanged.
  const auto refused =
      Request(u"RecaseDocuments", u"<XMLMessage><RecaseDocuments CaseId=\"3\"/></XMLMessage>");
  EXPECT_EQ(refused.hr, E_INVALIDARG);
  EXPECT_NE(Narrow(refused.error).find("TargetId"), std::string::npos);
  EXPECT_EQ(Text(1002, u"DefaultCase"), "2");
}

TEST_F(CatalogueTest, DatasheetObjectsAreListedOnceInIdOrder) {
  EXPECT_EQ(Reply(u"ListDatasheetObjects", u"1001"),
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>101</ObjectId></Objects></XMLMessage>")
      << "P-101A stands on both pages; its motor's class is not the template's";
  const std::string summary = Reply(u"ListDatasheetObjects", u"  1007xyz");
  EXPECT_NE(summary.find("<ObjectId>101</ObjectId><ObjectId>102</ObjectId>"), std::string::npos);
  // A datasheet without pages lists no object.
  IKXQClassPtr datasheets;
  IKXQSchemaPtr schema;
  store_->Database()->get_Schema(&schema);
  schema->get_Class(_bstr_t(u"Datasheet"), &datasheets);
  IKXQObjectPtr empty;
  ASSERT_EQ(datasheets->CreateInstance(&empty), S_OK);
  SetAttributeStringByName(empty, u"TemplateId", u"PUMP-DS", -1);
  LONG id = 0;
  empty->get_Id(&id);
  EXPECT_EQ(Reply(u"ListDatasheetObjects", _bstr_t(std::to_string(id).c_str()).view()),
            "<XMLMessage TargetId=\"App\"><Objects></Objects></XMLMessage>");
  EXPECT_FALSE(Request(u"ListDatasheetObjects", u"101").succeeded()) << "a pump has no template";
}

// The objects a datasheet's pages show, walked page by page: a page whose
// template page is gone is passed over, and a list's rows count one by one
// by their class, whatever row they stand in.
TEST_F(CatalogueTest, ListedObjectsAreTakenPageByPageAndRowByRow) {
  const std::string pumps =
      "<ObjectId>102</ObjectId><ObjectId>103</ObjectId><ObjectId>104</ObjectId>"
      "<ObjectId>105</ObjectId><ObjectId>106</ObjectId>";
  const auto put = [&](LONG position, LONG object) {
    IKXQAttributePtr rows;
    GetAttributeInterface(Object(1071), u"NodeObjects", rows);
    KXDBDatasheetSvcs::SetAttributeObjectAt(rows, position, Object(object));
  };
  // A hold after the pumps, then in the first row: not the template's class.
  put(8, 1191);
  EXPECT_EQ(Reply(u"ListDatasheetObjects", u"1007"),
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>101</ObjectId>" + pumps +
                "</Objects></XMLMessage>");
  put(2, 1191);
  EXPECT_EQ(Reply(u"ListDatasheetObjects", u"1007"),
            "<XMLMessage TargetId=\"App\"><Objects>" + pumps + "</Objects></XMLMessage>");
  // P-101A's first page names a template page that is gone; its second
  // page still shows the pump.
  SetAttributeStringByName(Object(1011), u"PageId", u"GONE", -1);
  EXPECT_EQ(
      Reply(u"ListDatasheetObjects", u"1001"),
      "<XMLMessage TargetId=\"App\"><Objects><ObjectId>101</ObjectId></Objects></XMLMessage>");
}

}  // namespace
