// The document workflow through the host program on the sample plant: the
// sample script (examples/workflow.kxq) with --events, privileges taken
// away with --deny, the discipline rule switched on with --set IDWF=...,
// and a deny on the privilege-on-relation test with --deny-on.
#include <fstream>
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class KxqhostWorkflowTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome Send(std::vector<std::string> options, const std::string& name, const std::string& body) {
    options.insert(options.end(), {"request", name, "-"});
    return Host(options, "<XMLMessage>" + body + "</XMLMessage>");
  }
};

TEST_F(KxqhostWorkflowTest, TheSampleScriptIssuesTwiceAndMarksOnlyTheChangedFieldTheSecondTime) {
  const Outcome run =
      Host({"--events", "run", std::string(KXQHOST_SOURCE_DIR) + "/examples/workflow.kxq"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string& out = run.out;
  EXPECT_NE(out.find("DocumentId=\"1002\">P-101B: Crude charge pump (spare) (Normal) is currently "
                     "submitted - resubmit?"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(">Submitted 1 Document</Message>"), std::string::npos);
  EXPECT_NE(out.find(">Checked 1 Document</Message>"), std::string::npos);
  EXPECT_NE(out.find("== store issued #1001: \"B||Issued for purchase\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("== event Datasheet [P1 1011] to bob"), std::string::npos) << out;
  const size_t second = out.find("== store issued #1001: \"C||Issued for construction\"");
  ASSERT_NE(second, std::string::npos) << out;
  // After B every field of page 1011 carries a mark; after C only field 3.
  const size_t firstDump = out.find("object 1011 Page");
  EXPECT_NE(out.find("Revisions[1] = \"B\"", firstDump), std::string::npos);
  const size_t lastDump = out.find("object 1011 Page", second);
  ASSERT_NE(lastDump, std::string::npos);
  EXPECT_NE(
      out.find("Revisions[1] = (empty)\nRevisions[2] = (empty)\nRevisions[3] = \"C\"\n", lastDump),
      std::string::npos)
      << out.substr(lastDump);
}

TEST_F(KxqhostWorkflowTest, PrivilegesTheDisciplineRuleAndARelationDenyRefuse) {
  const std::string check = "<CheckDocuments><Datasheet DocumentId=\"1002\"/></CheckDocuments>";
  const Outcome denied = Send({"--deny", "CheckDocument"}, "CheckDocuments", check);
  EXPECT_EQ(denied.status, 1);
  EXPECT_NE(denied.err.find("You do not have CheckDocument privilege"), std::string::npos)
      << denied.err;
  const Outcome issue =
      Send({"--deny", "IssueDocument"}, "IssueDocuments",
           "<IssueDocuments Revision=\"B\"><Datasheet DocumentId=\"1004\"/></IssueDocuments>");
  EXPECT_NE(issue.err.find("You do not have IssueDocument privilege"), std::string::npos)
      << issue.err;

  const Outcome discipline = Send({"--set", "IDWF=True"}, "CheckDocuments", check);
  EXPECT_EQ(discipline.status, 1);
  EXPECT_NE(discipline.err.find(
                "You must be a member of a discipline to submit, check or issue documents."),
            std::string::npos)
      << discipline.err;

  const Outcome other =
      Send({"--set", "IDWF=True", "--discipline", "Electrical"}, "CheckDocuments", check);
  EXPECT_NE(other.err.find(
                "Only documents owned by your discipline can be submitted, checked or issued."),
            std::string::npos)
      << other.err;
  const Outcome relation =
      Send({"--deny-on", "1002:CheckDocument=Area 100"}, "CheckDocuments", check);
  EXPECT_EQ(relation.status, 1);
  EXPECT_NE(relation.err.find("due to 'deny' privilege defined on Area 100."), std::string::npos)
      << relation.err;
  const Outcome bad = Send({"--deny-on", "1002"}, "CheckDocuments", check);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("ID:PRIVILEGE=PLACE"), std::string::npos) << bad.err;

  const Outcome own = Send({"--events", "--set", "IDWF=True", "--discipline", "Mechanical"},
                           "CheckDocuments", check);
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_NE(own.out.find("Checked 1 Document"), std::string::npos);
  EXPECT_NE(own.out.find("== store checked #1002\n"), std::string::npos) << own.out;

  const Outcome again = Send({"--events"}, "CheckDocuments", check);
  EXPECT_NE(again.err.find("Cannot check datasheet, the document is not submitted"),
            std::string::npos)
      << "checked once already: " << again.err;
}

TEST_F(KxqhostWorkflowTest, WithdrawAlertsForADatasheetInUseAndDeletesACurrentOnlyOne) {
  const Outcome asked =
      Send({}, "WithdrawDocuments",
           "<WithdrawDocuments><Datasheet DocumentId=\"1002\" Status=\"1\"/></WithdrawDocuments>");
  ASSERT_EQ(asked.status, 0) << asked.err;
  EXPECT_NE(
      asked.out.find("<Message MessageType=\"ALERT\" DocumentId=\"1002\">Cannot delete P-101B"),
      std::string::npos)
      << asked.out;
  EXPECT_NE(asked.out.find(". It is currently in use</Message>"), std::string::npos);
  const Outcome deleted =
      Send({"--events"}, "WithdrawDocuments",
           "<WithdrawDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1005\" Status=\"1\"/>"
           "</WithdrawDocuments>");
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_NE(deleted.out.find("Withdrew 1 Document</Message>"), std::string::npos) << deleted.out;
  EXPECT_NE(Host({"dump", "1005"}).status, 0) << "the datasheet is gone";
  const Outcome diagram =
      Send({"--events"}, "WithdrawDocuments",
           "<WithdrawDocuments Confirmed=\"1\"><Diagram DocumentId=\"1107\" Status=\"2\"/>"
           "</WithdrawDocuments>");
  ASSERT_EQ(diagram.status, 0) << diagram.err;
  EXPECT_NE(diagram.out.find("== drawing Diagram #1107 Withdraw 2"), std::string::npos)
      << diagram.out;
}

// First issue of P-101B: a number field showing only a substitution (104)
// or a postfix (105) is not blank and is marked; one showing nothing (106)
// is not.
TEST_F(KxqhostWorkflowTest, AFirstIssueMarksANumberFieldShowingOnlyItsDecorations) {
  std::string steps;
  for (const char* field : {"104\" Substitution=\"TBA", "105\" Postfix=\"max", "106"}) {
    steps += std::string(
                 "request SetRealField <<END\n<XMLMessage TargetId=\"1002\" Status=\"1\">"
                 "<SetRealField PageId=\"1021\" Value=\"\" FieldId=\"") +
             field + "\"/></XMLMessage>\nEND\n";
  }
  const std::string workflow[][2] = {
      {"SubmitDocuments", " Confirmed=\"1\""},
      {"CheckDocuments", ""},
      {"IssueDocuments", " Revision=\"A\" IssueReason=\"Issued for enquiry\""}};
  for (const auto& [name, attributes] : workflow) {
    steps += "request " + name + " <<END\n<XMLMessage><" + name + attributes +
             "><Datasheet DocumentId=\"1002\"/></" + name + "></XMLMessage>\nEND\n";
  }
  std::ofstream(dir_ / "steps.kxq") << steps << "dump 1021\n";
  const Outcome run = Host({"--events", "run", dir_ / "steps.kxq"});
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t issued = run.out.find("== store issued #1002: \"A||Issued for enquiry\"");
  ASSERT_NE(issued, std::string::npos) << run.out;
  EXPECT_NE(run.out.find(">Issued 1 Document</Message>"), std::string::npos) << run.out;
  const size_t told = run.out.find("== event Datasheet [P1 1021] to ann\n", issued);
  ASSERT_NE(told, std::string::npos) << run.out;
  const size_t xml = run.out.find('\n', told) + 1;
  const std::string event = run.out.substr(xml, run.out.find('\n', xml) - xml);
  for (const char* slot : {"3", "4"})
    EXPECT_NE(event.find(std::string("RevisionId=\"") + slot +
                         "\" Alignment=\"0\" VerticalAlignment=\"0\" Value=\"A\"/>"),
              std::string::npos)
        << slot << ": " << event;
  EXPECT_NE(event.find("RevisionId=\"5\" Alignment=\"0\" VerticalAlignment=\"0\"/>"),
            std::string::npos)
      << event;
  EXPECT_NE(
      run.out.find("Revisions[4] = \"A\"\nRevisions[5] = \"A\"\nRevisions[6] = (empty)\n", told),
      std::string::npos)
      << run.out.substr(told);
}

}  // namespace
