// The document catalogue through the host program on the sample plant:
// what reached the drawing service and the store's workflow log with
// --events, privileges taken away with --deny, the active project chosen
// with --project.
#include <fstream>
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class KxqhostCatalogueTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(KxqhostCatalogueTest, TheDrawingServicesCallsAreShownWithEvents) {
  const Outcome shown = Host({"--events", "request", "ListDiagrams", "-"}, "");
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("<Diagram Name=\"New PFD A1 Diagram\""), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("</XMLMessage>\n== drawing DrawingTemplates -> \"PFD A1;P&ID A0\"\n"),
            std::string::npos)
      << shown.out;
  const Outcome quiet = Host({"request", "ListDiagrams", "-"}, "");
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.find("== drawing"), std::string::npos);

  // In a script each step shows its own calls only.
  std::ofstream(dir_ / "steps.txt")
      << "request ListDiagrams <<END\nEND\nrequest ListSharedDiagrams <<END\nEND\n"
         "request ListDiagrams <<END\nEND\n";
  const Outcome script = Host({"--events", "run", dir_ / "steps.txt"});
  ASSERT_EQ(script.status, 0) << script.err;
  EXPECT_EQ(Count(script.out, "== drawing DrawingTemplates"), 2u) << script.out;
}

TEST_F(KxqhostCatalogueTest, ConfigurationsWithoutPrivilegesAndOutsideTheRootProject) {
  const Outcome all = Host({"request", "GetConfigurations", "-"}, "");
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find(
                "CanSecure=\"1\" CanLock=\"1\" CanCheck=\"1\" CanIssue=\"1\" CanChangeUnits=\"1\" "
                "IsRootProject=\"1\" CanModifySummary=\"1\""),
            std::string::npos)
      << all.out;
  const Outcome denied = Host({"--deny", "CheckDocument", "--deny", "Modify Non-Project Summary",
                               "--project", "2", "request", "GetConfigurations", "-"},
                              "");
  ASSERT_EQ(denied.status, 0) << denied.err;
  EXPECT_NE(denied.out.find(
                "CanSecure=\"1\" CanLock=\"1\" CanCheck=\"0\" CanIssue=\"1\" CanChangeUnits=\"1\" "
                "IsRootProject=\"0\" CanModifySummary=\"0\""),
            std::string::npos)
      << denied.out;
  const Outcome unknown = Host({"--project", "77", "request", "GetConfigurations", "-"}, "");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("project 77"), std::string::npos) << unknown.err;
}

TEST_F(KxqhostCatalogueTest, ClosingAndRecasingShowWhatReachedTheStoreAndTheClients) {
  const Outcome closed =
      Host({"--events", "request", "CloseDocuments", "-"},
           "<XMLMessage><CloseDocuments><Datasheet DocumentId=\"1001\" Status=\"4\"/>"
           "<Diagram DocumentId=\"1101\"/></CloseDocuments></XMLMessage>");
  ASSERT_EQ(closed.status, 0) << closed.err;
  EXPECT_EQ(closed.out.substr(0, closed.out.find("== current")),
            "== store closed #1001 at status \"4\"\n== store closed #1101 at status \"-1\"\n");
  const Outcome recased =
      Host({"--events", "request", "RecaseDocuments", "-"},
           "<XMLMessage TargetId=\"1002\"><RecaseDocuments CaseId=\"3\"/></XMLMessage>");
  ASSERT_EQ(recased.status, 0) << recased.err;
  EXPECT_EQ(Count(recased.out, "== event Datasheet [P1 10"), 2u) << recased.out;
  EXPECT_NE(Dump({"1002"}).find("Start-up"), std::string::npos);
  const Outcome refused = Host({"request", "RecaseDocuments", "-"},
                               "<XMLMessage><RecaseDocuments CaseId=\"3\"/></XMLMessage>");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("TargetId"), std::string::npos) << refused.err;
}

// "ListDatasheetObjects" walks the pages itself: a row of the pump summary
// whose object is of no class of its template (a hold) is left out,
// whatever its row; a page of P-101A's whose template page is gone is
// passed over and its other page still shows the pump.
TEST_F(KxqhostCatalogueTest, ListedObjectsAreTakenPageByPageAndRowByRow) {
  kx::test::tools::WriteText(dir_ / "objects.kxq",
                             "set 1071 NodeObjects[2] #1191\n"
                             "request ListDatasheetObjects <<END\n"
                             "1007\n"
                             "END\n"
                             "set 1011 PageId GONE\n"
                             "request ListDatasheetObjects <<END\n"
                             "1001\n"
                             "END\n");
  const Outcome outcome = Host({"run", dir_ / "objects.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("<Objects><ObjectId>102</ObjectId><ObjectId>103</ObjectId>"
                             "<ObjectId>104</ObjectId><ObjectId>105</ObjectId>"
                             "<ObjectId>106</ObjectId></Objects>"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("<Objects><ObjectId>101</ObjectId></Objects>"), std::string::npos)
      << outcome.out;
}

}  // namespace
