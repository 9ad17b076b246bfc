// Page contents through the host program on the sample plant: "OpenPage",
// "ListPageObjects" and "ComparePages", with the user's current datasheet
// and page printed after each request.
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class PageContentsCliTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
};

TEST_F(PageContentsCliTest, OpenPageOfAnIssuedPageWritesItsStoredContents) {
  const Outcome opened = Host({"--events", "request", "OpenPage", "-"}, "1013");
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out.rfind("<XMLMessage TargetId=\"1001\" Status=\"4\">"
                             "<OpenPage PageId=\"1013\" OnDemand=\"1\">"
                             "<ShowStringField PageId=\"1013\" FieldId=\"101\" State=\"0\"/>",
                             0),
            0u)
      << opened.out;
  EXPECT_NE(opened.out.find("<ShowUnit PageId=\"1013\" UnitId=\"0\" Alignment=\"0\" "
                            "VerticalAlignment=\"0\" Value=\"m³/h\"/>"),
            std::string::npos);
  EXPECT_NE(opened.out.find("<ShowRevision PageId=\"1013\" RevisionId=\"2\" Alignment=\"0\" "
                            "VerticalAlignment=\"0\" Value=\"A\"/>"),
            std::string::npos);
  EXPECT_NE(opened.out.find("</OpenPage></XMLMessage>\n== current datasheet none, page none\n"),
            std::string::npos)
      << opened.out;

  const Outcome bang = Host({"request", "OpenPage", "-"}, "1013!");
  ASSERT_EQ(bang.status, 0) << bang.err;
  EXPECT_NE(bang.out.find("<OpenPage PageId=\"1013\" OnDemand=\"0\">"), std::string::npos);
}

TEST_F(PageContentsCliTest, OpenPageOfNoPageFailsAndWritesNothing) {
  const Outcome failed = Host({"--events", "request", "OpenPage", "-"}, "99999");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "== current datasheet none, page none\n");
  EXPECT_NE(failed.err.find("<KXError Desc=\"No object with id 99999\""), std::string::npos)
      << failed.err;
}

TEST_F(PageContentsCliTest, ListPageObjectsAndComparePagesOnTheSamplePlant) {
  const Outcome listed = Host({"request", "ListPageObjects", "-"}, "1012");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>101</ObjectId></Objects>"
            "</XMLMessage>\n");
  const Outcome compared =
      Host({"request", "ComparePages", "-"},
           "<XMLMessage TargetId=\"1001\" Status=\"1\"><ComparePages PageId=\"1013\" "
           "DocumentId2=\"1005\" Status2=\"1\"/></XMLMessage>");
  ASSERT_EQ(compared.status, 0) << compared.err;
  // Another template: the issued page is written plain, from its stored texts.
  EXPECT_EQ(compared.out.rfind("<XMLMessage TargetId=\"1001\" Status=\"4\">"
                               "<OpenPage PageId=\"1013\" OnDemand=\"1\">"
                               "<ShowStringField PageId=\"1013\"",
                               0),
            0u)
      << compared.out;
}

TEST_F(PageContentsCliTest, InsertedPagesReachTheClientInTheDatasheetEventXml) {
  const Outcome inserted =
      Host({"--events", "request", "InsertPages", "-"},
           "<XMLMessage TargetId=\"1002\" Status=\"1\"><InsertPages PageId=\"1021\">"
           "<Page TemplateId=\"PUMP-DS\" TemplatePageId=\"P1\"/>"
           "<Page TemplateId=\"PUMP-DS\" TemplatePageId=\"P2\"/></InsertPages></XMLMessage>");
  ASSERT_EQ(inserted.status, 0) << inserted.err;
  const size_t event = inserted.out.find("== event Datasheet [D1 1002] to ann\n");
  ASSERT_NE(event, std::string::npos) << inserted.out;
  const std::string xml = inserted.out.substr(event);
  EXPECT_NE(xml.find("<?xml version=\"1.0\"?><XMLMessage TargetId=\"1002\" Status=\"1\">"
                     "<Datasheet Title=\""),
            std::string::npos)
      << xml;
  size_t pages = 0;
  for (size_t at = xml.find("<Page PageId="); at != std::string::npos;
       at = xml.find("<Page PageId=", at + 1)) {
    ++pages;
  }
  EXPECT_EQ(pages, 4u) << xml;
  EXPECT_NE(xml.find("</Datasheet></XMLMessage>\n== current datasheet none, page none\n"),
            std::string::npos)
      << xml;
}

// The pump summary's list page submitted: each stored record shows the row
// of its position, whatever "Index" its text holds, and the fixed field
// (401, first) shows none.
TEST_F(PageContentsCliTest, ASubmittedContinuousPageShowsEachRecordsRowByItsPosition) {
  const Outcome submitted = Host({"request", "SubmitDocuments", "-"},
                                 "<XMLMessage Status=\"1\"><SubmitDocuments Confirmed=\"1\">"
                                 "<Datasheet DocumentId=\"1007\"/></SubmitDocuments></XMLMessage>");
  ASSERT_EQ(submitted.status, 0) << submitted.err;
  const std::string sheet = Dump({"1007"});
  const std::string marker = "SubmittedPages[1] = #";
  const size_t at = sheet.find(marker);
  ASSERT_NE(at, std::string::npos) << sheet;
  const std::string page =
      sheet.substr(at + marker.size(), sheet.find('\n', at) - at - marker.size());
  WriteText(dir_ / "stale.kxq", "set " + page +
                                    " Fields[1] \"<String FieldId=\\\"401\\\" Index=\\\"4\\\" "
                                    "Value=\\\"CDU-1\\\"/>\"\n"
                                    "set " +
                                    page +
                                    " Fields[6] \"<String FieldId=\\\"402\\\" Index=\\\"7\\\" "
                                    "Value=\\\"P-101B\\\"/>\"\n"
                                    "request OpenPage <<END\n" +
                                    page + "\nEND\n");
  const Outcome opened = Host({"run", dir_ / "stale.kxq"});
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_NE(opened.out.find("<OpenPage PageId=\"" + page +
                            "\" OnDemand=\"1\"><ShowStringField PageId=\"" + page +
                            "\" FieldId=\"401\" State=\"0\" Value=\"CDU-1\"/>"),
            std::string::npos)
      << opened.out;
  EXPECT_NE(opened.out.find("<ShowStringField PageId=\"" + page +
                            "\" FieldId=\"402\" State=\"0\" Value=\"P-101B\" Index=\"1\"/>"),
            std::string::npos)
      << opened.out;
}

// A comparison shows the other version's real in the unit this page shows
// beside it, and compares it there: P-101B's page shows pressures in bar,
// its 180 kPa suction is P-101A's 180 kPa; its discharge, changed to 2500
// kPa, is flagged. Against P-101A's submitted copy (kPa) after P-101A's
// page turned to bar, the copy's suction shows as 1.8 where P-101A has none.
TEST_F(PageContentsCliTest, AComparisonShowsTheOtherVersionsRealInThisPagesUnit) {
  const std::string compare = R"(<<END
<XMLMessage TargetId="1001" Status="1"><ComparePages PageId="1011" DocumentId2="%s"/></XMLMessage>
END
)";
  const auto comparePages = [&](const std::string& other) {
    std::string step = "request ComparePages " + compare;
    return step.replace(step.find("%s"), 2, other);
  };
  std::ofstream(dir_ / "steps.kxq")
      << "request SubmitDocuments " << KXQHOST_SOURCE_DIR
      << "/examples/requests/submit-documents.xml\n"
      << "request SetUnit <<END\n<XMLMessage Status=\"1\"><SetUnit PageId=\"1021\" UnitId=\"1\" "
         "Index=\"2\"/></XMLMessage>\nEND\n"
      << "set 102 DischargePressure 2500 kPa\n"
      << comparePages("1002\" Status2=\"1")
      << "request SetUnit <<END\n<XMLMessage Status=\"1\"><SetUnit PageId=\"1011\" UnitId=\"1\" "
         "Index=\"2\"/></XMLMessage>\nEND\n"
      << "set 101 SuctionPressure\n"
      << comparePages("1001\" Status2=\"2");
  const Outcome run = Host({"run", dir_ / "steps.kxq"});
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t live = run.out.find("## request ComparePages");
  const size_t copy = run.out.find("## request ComparePages", live + 1);
  ASSERT_NE(copy, std::string::npos) << run.out;
  const auto field = [&](size_t from, const std::string& id) {
    const size_t at = run.out.find("<ShowRealField PageId=\"1011\" FieldId=\"" + id + "\"", from);
    return at == std::string::npos ? std::string() : run.out.substr(at, run.out.find('>', at) - at);
  };
  EXPECT_NE(field(live, "104").find(R"(State="0" Value="180")"), std::string::npos)
      << field(live, "104");
  EXPECT_NE(field(live, "105").find(R"(State="256" Value="2450")"), std::string::npos)
      << field(live, "105");
  EXPECT_NE(field(copy, "104").find(R"(State="4352" Value="1.8")"), std::string::npos)
      << field(copy, "104");
  EXPECT_NE(field(copy, "105").find(R"(State="0" Value="24.5")"), std::string::npos)
      << field(copy, "105");
  EXPECT_NE(run.out.find(R"(<ShowUnit PageId="1011" UnitId="1" Alignment="0" )"
                         R"(VerticalAlignment="0" Value="bar"/>)",
                         copy),
            std::string::npos)
      << run.out.substr(copy);
}

}  // namespace
}  // namespace kx::test::tools
