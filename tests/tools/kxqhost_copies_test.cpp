// Permanent filters and the copies of a datasheet, through kxqhost on the
// sample plant with two more object filters: what changes pages after the
// fact (the filter, database events, requests) changes current pages only.
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class KxqhostCopiesTest : public KxqhostTest {
 protected:
  void SetUp() override {
    Init("<filter name=\"Pumps\" title=\"All pumps\" class=\"Pump\"/>",
         "<filter name=\"Northfield\" title=\"Northfield pumps\" class=\"Pump\" "
         "attribute=\"Manufacturer\" value=\"Northfield Pumps\"/>"
         "<filter name=\"Anything\" title=\"Any object\" class=\"GenericClass\"/>");
  }
  // A fresh store of the sample plant with `extra` inserted after `at`.
  void Init(const std::string& at, const std::string& extra) {
    std::string plant = ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
    plant.insert(plant.find(at) + at.size(), extra);
    WriteText(dir_ / "plant.xml", plant);
    std::filesystem::remove(Store());
    ASSERT_EQ(Host({"init", "--fixture", dir_ / "plant.xml"}).status, 0);
  }
  Outcome Run(const std::string& steps, std::vector<std::string> options = {}) {
    WriteText(dir_ / "steps.kxq", steps);
    options.insert(options.end(), {"--events", "run", dir_ / "steps.kxq"});
    return Host(options);
  }
  static std::string Ask(const std::string& name, const std::string& body,
                         const std::string& head = "") {
    return "request " + name + " <<END\n<XMLMessage" + head + ">" + body + "</XMLMessage>\nEND\n";
  }
  // Submit, Check or Issue of datasheet `id`.
  static std::string Workflow(const std::string& action, const std::string& id) {
    const std::string name = action + "Documents";
    return Ask(name, "<" + name + (action == "Submit" ? " Confirmed=\"1\"" : "") +
                         "><Datasheet DocumentId=\"" + id + "\"/></" + name + ">");
  }
  static std::string Annotate(const std::string& status, const std::string& page,
                              const std::string& value, bool markup = true) {
    return Ask("CreateAnnotation",
               "<CreateAnnotation PageId=\"" + page + "\" Value=\"" + value + "\" X=\"1\" Y=\"1\"" +
                   (markup ? " Markup=\"1\"/>" : "/>"),
               " Status=\"" + status + "\"");
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  static size_t Marks(const std::string& text) {
    return Count(text, "Markup=\\\"1\\\" Value=\\\"kxq:check\\\"");
  }
  // The output of the first step from `from` on that begins with `step`.
  static std::string Step(const std::string& out, const std::string& step, size_t from = 0) {
    const size_t start = out.find("## " + step, from);
    if (start == std::string::npos) return "(no step " + step + ")";
    return out.substr(start, out.find("\n## ", start) + 1 - start);
  }
};

// A pump that comes to pass list 1071's filter becomes a row (pump 101 not
// twice); a hold passing "Anything" fits no row: a warning, the change stands.
TEST_F(KxqhostCopiesTest, AListTakesWhatComesToPassItsFilterAndWarnsOfWhatItCannot) {
  const Outcome run =
      Run("set 1071 ObjectFilter Northfield\ncreate Pump\n"
          "set 1204 Manufacturer \"Northfield Pumps\"\n"
          "watch 1071 SSPF 101 101 Name\nset 101 Name P-101AX\n"
          "set 1071 ObjectFilter Anything\nwatch 1071 SSPF 1191 1191 Name\n"
          "set 1191 Name \"Curves received\"\ndump 1071 1191\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(Step(run.out, "set 1204"), HasSubstr("== store changed #1071: NodeObjects"));
  EXPECT_THAT(run.err,
              HasSubstr("warning: The permanent filter of {1071} did not apply key "
                        "\"1191\": Permanent Filter: Unable to locate template for {1071}\n"));
  const std::string dumped = Step(run.out, "dump");
  EXPECT_THAT(dumped, HasSubstr("NodeObjects[7] = #106\nNodeObjects[8] = #1204\nNodeIndices"));
  EXPECT_THAT(dumped, HasSubstr("Name = \"Curves received\"\n"));
}

// Filtered to exchangers, pump 101 leaves current page 1093, not its copy 1206.
TEST_F(KxqhostCopiesTest, TheFilterTakesAnObjectOffTheCurrentPageNotOffItsCopy) {
  const Outcome run = Run("set 1009 ObjectFilter Exchangers\n" + Workflow("Submit", "1009") +
                          "dump 1093 1206\nwatch 1009 SSPF 101 101 Name\nset 101 Name P-101AX\n"
                          "dump 1093 1206\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string before = Step(run.out, "dump");
  const std::string after = Step(run.out, "dump", run.out.find("## set 101"));
  EXPECT_THAT(before, HasSubstr("NodeObjects[1] = #101\n"));
  EXPECT_EQ(after.substr(after.find("object 1206")), before.substr(before.find("object 1206")));
  EXPECT_THAT(after, HasSubstr("NodeObjects[1] = (empty)\n"));
}

// Pump 101 losing its claim leaves list 1071; copies 1204, 1013, 1014 keep it, unannounced.
TEST_F(KxqhostCopiesTest, AClaimChangeTakesTheRowOffTheCurrentListOnly) {
  const Outcome run = Run("set 1007 ProjectId 3\nset 1007 ObjectFilter KX_CLAIM_ONLY\n" +
                              Workflow("Submit", "1007") +
                              "dump 1071 1204\nevent 16 101\n"
                              "dump 1071 1204\n",
                          {"--project", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string event = Step(run.out, "event");
  for (const char* copy : {"1204", "1013", "1014"}) EXPECT_THAT(event, Not(HasSubstr(copy)));
  const std::string before = Step(run.out, "dump");
  const std::string after = Step(run.out, "dump", run.out.find("## event"));
  EXPECT_EQ(after.substr(after.find("object 1204")), before.substr(before.find("object 1204")));
  EXPECT_THAT(after, HasSubstr("NodeObjects[2] = #102\n"));
}

// No request writes issued copy 1013, whatever its "Status"; requests at its
// status 4 and reads succeed, and current page 1011 takes the same writes.
TEST_F(KxqhostCopiesTest, RequestsThatWouldWriteAnIssuedCopyAreRefused) {
  const std::vector<std::string> ids{"1013", "1011", "1012", "1001", "101", "102"};
  const std::string before = Dump(ids);
  const std::string properties =
      R"(<SetFieldProperties PageId="1013" FieldId="103" Alignment="2" RealFormat="0.00"/>)";
  const std::string status =
      R"(<SetFieldStatus PageId="1013" IsLocked="1"><FieldId ID="103"/></SetFieldStatus>)";
  const std::string format = R"(<SetFieldFormat PageId="1013" Alignment="1" RealFormat="0.000">)"
                             R"(<FieldId ID="103"/></SetFieldFormat>)";
  // Page requests refuse the page for its datasheet, field requests for the copy.
  const std::string issued = "Page 1013 is an issued copy, not a current page";
  const std::string page = "Object 1013 is not a current page of a datasheet";
  const std::pair<std::string, std::string> requests[] = {
      {R"(<CreateAnnotation PageId="1013" Value="y" X="1" Y="1"/>)", issued},
      {R"(<SetRealField PageId="1013" FieldId="103" Value="395"/>)", issued},
      {R"(<SetUnit PageId="1013" UnitId="1" Index="2"/>)", issued},
      {R"(<RenamePage PageId="1013" Name="X"/>)", page},
      {R"(<SetPageCase PageId="1013" CaseId="2"/>)", page},
      {R"(<PageLayout PageId="1013" Orientation="2"/>)", page},
      {R"(<HideFieldObjects PageId="1013" Confirmed="1"><Field FieldId="103"/></HideFieldObjects>)",
       issued},
      {R"(<DeleteFieldObjects PageId="1013" Confirmed="1"><Field FieldId="102"/>)"
       R"(</DeleteFieldObjects>)",
       issued},
      {R"(<ShowFieldObjects PageId="1013" Confirmed="1"><Field FieldId="103" ObjectId="102"/>)"
       R"(</ShowFieldObjects>)",
       issued},
      {properties, issued},
      {status, issued},
      {format, issued}};
  for (const auto& [request, error] : requests) {
    const std::string name = request.substr(1, request.find(' ') - 1);
    const Outcome refused =
        Host({"--events", "request", name, "-"},
             "<XMLMessage TargetId=\"1001\" Status=\"1\">" + request + "</XMLMessage>");
    EXPECT_EQ(refused.status, 1) << name;
    EXPECT_THAT(refused.err, HasSubstr(error));
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << name;
  }
  EXPECT_EQ(Dump(ids), before);
  const Outcome kept =
      Run(Ask("SetRealField", R"(<SetRealField PageId="1013" FieldId="103" Value="395"/>)",
              R"( Status="4")") +
          "request OpenPage <<END\n1013\nEND\n" +
          Ask("SetRealField", "<SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"395\"/>",
              " Status=\"1\""));
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_THAT(kept.out, HasSubstr("<OpenPage PageId=\"1013\""));
  EXPECT_THAT(kept.out, Not(HasSubstr("== store changed #1013")));
  EXPECT_THAT(kept.out, HasSubstr("== store changed #1011: Fields"));
  for (std::string request : {properties, status, format}) {
    const std::string name = request.substr(1, request.find(' ') - 1);
    const Outcome current =
        Host({"--events", "request", name, "-"},
             "<XMLMessage TargetId=\"1001\" Status=\"1\">" +
                 request.replace(request.find("1013"), 4, "1011") + "</XMLMessage>");
    EXPECT_EQ(current.status, 0) << name << current.err;
    EXPECT_THAT(current.out, HasSubstr("== event DataField [F1 1011]"));
  }
  EXPECT_EQ(Dump({"1013"}), before.substr(0, before.find("object 1011")));
}

// With the vessel node following the case, submitted copy 1204 of 1010 takes
// no case and passes no value on; asking stays open.
TEST_F(KxqhostCopiesTest, FieldCasesRefuseACopy) {
  Init("<node name=\"Vessel\" index=\"0\" classes=\"Vessel\"", " caseSlot=\"0\"");
  const std::string show = "<ShowFieldCase PageId=\"1204\" FieldId=\"501\"";
  const std::string head = " TargetId=\"1010\" Status=\"1\"";
  const Outcome run = Run(
      "set 133 Volume 52 m3\n" + Workflow("Submit", "1010") +
      Ask("ShowFieldCase", show + "/>", head) + "! " +
      Ask("ShowFieldCase", show + " CaseId=\"2\"/>", head) + "! " +
      Ask("CopyFieldCase", "<CopyFieldCase PageId=\"1204\" FieldId=\"501\" CaseId=\"2\"/>", head) +
      "dump 133 1010\n");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string name : {"ShowFieldCase", "CopyFieldCase"}) {
    EXPECT_THAT(run.err, HasSubstr("request " + name +
                                   " failed: Page 1204 is a submitted copy, not a current page"));
  }
  const std::string after = run.out.substr(run.out.find("## request ShowFieldCase"));
  EXPECT_THAT(after, HasSubstr("Change the default datasheet case?"));
  EXPECT_THAT(after, Not(HasSubstr("== store changed")));
  EXPECT_THAT(after, Not(HasSubstr("== event")));
  EXPECT_THAT(after, HasSubstr("DefaultCase = 1\n"));
}

// A mark-up on current page 1011 stays off its issued copy 1204 (the issue took mark-ups off).
TEST_F(KxqhostCopiesTest, AMarkUpOnTheCurrentPageLeavesTheIssuedPagesAlone) {
  const Outcome run =
      Run(Workflow("Submit", "1001") + Workflow("Check", "1001") + Workflow("Issue", "1001") +
          "dump 1001 1204\n" + Annotate("1", "1011", "check") + "dump 1204 1011\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string before = Step(run.out, "dump");
  EXPECT_THAT(before, HasSubstr("IssuedPages[1] = #1204\n"));
  EXPECT_THAT(before, HasSubstr("SubmittedPages[1] = #1204\n"));
  const std::string made = Step(run.out, "request CreateAnnotation");
  EXPECT_THAT(made, HasSubstr("== store changed #1011: Annotations"));
  EXPECT_THAT(made, Not(HasSubstr("#1204")));
  const std::string after = Step(run.out, "dump", run.out.find("## request CreateAnnotation"));
  const size_t copy = after.find("object 1204");
  EXPECT_EQ(after.substr(copy, after.find("object 1011") - copy),
            before.substr(before.find("object 1204")));
  EXPECT_THAT(after, HasSubstr("Value=\\\"kxq:check\\\""));
}

// Mark-ups on copy 1204 at Status 2 (submitted, still once checked) or at a
// status naming no version (5, 0) reach its current page too; Status 1 does not.
TEST_F(KxqhostCopiesTest, MarkUpsStillGoFromASubmittedCopyToItsCurrentPage) {
  const std::string submit = Workflow("Submit", "1001"), check = Workflow("Check", "1001");
  const std::string marks =
      Annotate("2", "1204", "check") + "! " + Annotate("1", "1204", "plain", false);
  const struct {
    std::string steps, refusal;
    size_t marks;
    bool checked;
  } cases[] = {
      {submit + marks, "Page 1204 is a submitted copy: a request with Status 1 does not", 2, false},
      {submit + check + marks, "Page 1204 is a checked copy: a request with Status 1 does not", 2,
       true},
      {submit + Annotate("5", "1204", "check") + Annotate("0", "1204", "check"), "", 4, false},
  };
  for (const auto& c : cases) {
    SetUp();
    const Outcome run = Run(c.steps + "dump 1001 1204 1011\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.refusal));
    const std::string dumped = Step(run.out, "dump");
    EXPECT_THAT(dumped, HasSubstr("SubmittedPages[1] = #1204\n"));
    EXPECT_EQ(dumped.find("CheckedPages[1] = #1204\n") != std::string::npos, c.checked) << dumped;
    EXPECT_EQ(Marks(dumped), c.marks) << dumped;
    EXPECT_THAT(dumped, Not(HasSubstr("plain")));
  }
}

}  // namespace
}  // namespace kx::test::tools
