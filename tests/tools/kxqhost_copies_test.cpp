// Permanent filters and the copies of a datasheet, through kxqhost on the
// sample plant and plants derived from it: a change that makes an object
// pass a summary's filter puts it on the list and is kept, a key the filter
// cannot apply is the host's warning, and what changes pages after the fact
// (the filter, the database events, a request) changes current pages only:
// a submitted, checked or issued copy keeps what it recorded.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class KxqhostCopiesTest : public KxqhostTest {
 protected:
  void SetUp() override { Init(SamplePlant()); }
  static std::string SamplePlant() {
    return ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  }
  // The store made again from `plant`.
  void Init(const std::string& plant) {
    WriteText(dir_ / "plant.xml", plant);
    std::filesystem::remove(Store());
    const Outcome made = Host({"init", "--fixture", dir_ / "plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // The sample plant with more object filters of the schema.
  static std::string WithFilters(const std::string& filters) {
    std::string plant = SamplePlant();
    const std::string pumps = "<filter name=\"Pumps\" title=\"All pumps\" class=\"Pump\"/>";
    const size_t at = plant.find(pumps);
    EXPECT_NE(at, std::string::npos);
    plant.insert(at + pumps.size(), filters);
    return plant;
  }
  Outcome Run(const std::string& steps, std::vector<std::string> options = {}) {
    WriteText(dir_ / "steps.kxq", steps);
    options.insert(options.end(), {"--events", "run", dir_ / "steps.kxq"});
    return Host(options);
  }
  // The output of the step that begins with `step` (its "## " line first).
  static std::string Step(const std::string& out, const std::string& step) {
    const size_t start = out.find("## " + step);
    if (start == std::string::npos) return "(no step " + step + ")";
    const size_t end = out.find("\n## ", start);
    return out.substr(start, end == std::string::npos ? end : end + 1 - start);
  }
};

constexpr char kNorthfield[] =
    "<filter name=\"Northfield\" title=\"Northfield pumps\" class=\"Pump\" "
    "attribute=\"Manufacturer\" value=\"Northfield Pumps\"/>";

// The summary's list takes pumps in its rows; its class view is the
// header's (the globals). A new pump that comes to pass the list's filter
// joins the list as a new row, its change kept; a pump that passes and is
// a row already is not added twice.
TEST_F(KxqhostCopiesTest, AnObjectThatComesToPassAListsFilterBecomesARowAndItsChangeIsKept) {
  Init(WithFilters(kNorthfield));
  const Outcome joined = Run(
      "set 1071 ObjectFilter Northfield\n"
      "create Pump\n"
      "set 1204 Manufacturer \"Northfield Pumps\"\n"
      "watch 1071 SSPF 101 101 Name\n"
      "set 101 Name P-101AX\n"
      "dump 1204 1071\n");
  ASSERT_EQ(joined.status, 0) << joined.err;
  EXPECT_NE(joined.out.find("== store changed #1204: Manufacturer\n"
                            "== store changed #1071: NodeObjects, Fields, Revisions\n"),
            std::string::npos)
      << joined.out;
  EXPECT_NE(Step(joined.out, "set 101 Name").find("== event Datasheet [P1 1071] to bob\n"),
            std::string::npos)
      << joined.out;
  const std::string dumped = Step(joined.out, "dump 1204 1071");
  EXPECT_NE(dumped.find("Manufacturer = \"Northfield Pumps\"\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("NodeObjects[2] = #101\nNodeObjects[3] = #102\n"), std::string::npos);
  EXPECT_NE(dumped.find("NodeObjects[7] = #106\nNodeObjects[8] = #1204\nNodeIndices[1]"),
            std::string::npos)
      << dumped;
}

// Fired keys of one callback: the hold passes the filter but no row takes
// its class, and the new pump passes. The hold's key is the host's
// warning, the pump joins the list, and the change that fired both is kept.
TEST_F(KxqhostCopiesTest, AKeyTheFilterCannotApplyIsAWarningAndTheChangeStands) {
  Init(WithFilters(std::string(kNorthfield) +
                   "<filter name=\"Anything\" title=\"Any object\" class=\"GenericClass\"/>"));
  const Outcome run = Run(
      "set 1071 ObjectFilter Northfield\n"
      "create Pump\n"
      "set 1071 ObjectFilter Anything\n"
      "watch 1071 SSPF 1191 1191 Name\n"
      "watch 1071 SSPF 1204 1191 Name\n"
      "set 1191 Name \"Curves received\"\n"
      "dump 1191 1071\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: The permanent filter of {1071} did not apply key \"1191\": "
                         "Permanent Filter: Unable to locate template for {1071}\n"),
            std::string::npos)
      << run.err;
  const std::string set = Step(run.out, "set 1191 Name");
  EXPECT_NE(set.find("== store trigger SSPF on #1071 fired (keys: 1191, 1204)\n"),
            std::string::npos)
      << set;
  EXPECT_NE(set.find("== event Datasheet [P1 1071] to bob\n"), std::string::npos) << set;
  const std::string dumped = Step(run.out, "dump 1191 1071");
  EXPECT_NE(dumped.find("Name = \"Curves received\"\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("NodeObjects[8] = #1204\n"), std::string::npos) << dumped;
  EXPECT_EQ(dumped.find("= #1191"), std::string::npos) << dumped;
}

// Pump sheets 1009, submitted, filtered to exchangers: pump 101 no longer
// passes and leaves its current page 1093; the submitted copy of that page
// keeps it.
TEST_F(KxqhostCopiesTest, TheFilterTakesAnObjectOffTheCurrentPageAndLeavesTheCopy) {
  const Outcome run = Run(
      "set 1009 ObjectFilter Exchangers\n"
      "request SubmitDocuments <<END\n"
      "<XMLMessage><SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1009\"/>"
      "</SubmitDocuments></XMLMessage>\n"
      "END\n"
      "dump 1206\n"
      "watch 1009 SSPF 101 101 Name\n"
      "set 101 Name P-101AX\n"
      "dump 1093\n"
      "dump 1206\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Step(run.out, "set 101 Name")
                .find("== store changed #101: Name\n"
                      "== store changed #1093: NodeObjects, NodeIndices\n"
                      "== store trigger SSPF on #1009 fired (keys: 101)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(Step(run.out, "dump 1093").find("NodeObjects[1] = (empty)\n"), std::string::npos)
      << run.out;
  const size_t set = run.out.find("## set 101 Name");
  const std::string copyBefore = Step(run.out, "dump 1206");
  const std::string copyAfter = Step(run.out.substr(set), "dump 1206");
  EXPECT_NE(copyBefore.find("NodeObjects[1] = #101\n"), std::string::npos) << copyBefore;
  EXPECT_EQ(copyAfter, copyBefore);
}

// Pump summary 1007 of project 3 lists claimed pumps only; with project 3
// active, pump 101 (claimed for project 2) loses its claim: it leaves list
// 1071, and the list's submitted copy 1204 and the issued copies of its
// own sheet keep it and hear nothing.
TEST_F(KxqhostCopiesTest, AClaimChangeTakesTheRowOffTheCurrentListOnly) {
  const Outcome run = Run(
      "set 1007 ProjectId 3\n"
      "set 1007 ObjectFilter KX_CLAIM_ONLY\n"
      "request SubmitDocuments <<END\n"
      "<XMLMessage><SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1007\"/>"
      "</SubmitDocuments></XMLMessage>\n"
      "END\n"
      "dump 1204 1013\n"
      "event 16 101\n"
      "dump 1071\n"
      "dump 1204 1013\n",
      {"--project", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string event = Step(run.out, "event 16 101");
  EXPECT_NE(event.find("== store changed #1071: Fields, Revisions, NodeObjects\n"),
            std::string::npos)
      << event;
  for (const char* copy : {"1204", "1013", "1014"}) {
    EXPECT_EQ(event.find(std::string("#") + copy), std::string::npos) << copy << event;
    EXPECT_EQ(event.find(std::string(" ") + copy + "]"), std::string::npos) << copy << event;
  }
  EXPECT_NE(Step(run.out, "dump 1071").find("NodeObjects[2] = #102\n"), std::string::npos);
  const size_t after = run.out.find("## event 16 101");
  EXPECT_EQ(Step(run.out.substr(after), "dump 1204 1013"), Step(run.out, "dump 1204 1013"));
}

// Page 1013 is the issued copy of P-101A's first page. No request writes
// it, whatever its "Status" says; reads of it and requests that do nothing
// at their status still succeed.
TEST_F(KxqhostCopiesTest, RequestsThatWouldWriteAnIssuedCopyAreRefused) {
  const std::vector<std::string> ids{"1013", "1014", "1001", "101"};
  const std::string before = Dump(ids);
  const struct {
    const char* name;
    const char* element;
    const char* refusal;
  } writes[] = {
      {"CreateAnnotation", "PageId=\"1013\" Value=\"y\" X=\"1\" Y=\"1\"", "an issued copy"},
      {"SetAnnotation", "PageId=\"1013\" AnnotationId=\"1\" Value=\"z\"", "an issued copy"},
      {"SetRealField", "PageId=\"1013\" FieldId=\"103\" Value=\"395\"", "an issued copy"},
      {"SetStringField", "PageId=\"1013\" FieldId=\"101\" Value=\"P-1\"", "an issued copy"},
      {"SetUnit", "PageId=\"1013\" UnitId=\"1\" Index=\"2\"", "an issued copy"},
      {"RenamePage", "PageId=\"1013\" Name=\"X\"", "not a current page"},
      {"SetPageCase", "PageId=\"1013\" CaseId=\"2\"", "not a current page"},
      {"PageLayout", "PageId=\"1013\" Orientation=\"2\"", "not a current page"},
  };
  for (const auto& w : writes) {
    const Outcome refused =
        Host({"--events", "request", w.name, "-"},
             std::string("<XMLMessage TargetId=\"1001\" Status=\"1\"><") + w.name + " " +
                 w.element + "/></XMLMessage>");
    EXPECT_EQ(refused.status, 1) << w.name;
    EXPECT_NE(refused.err.find("1013 is " + std::string(w.refusal)), std::string::npos)
        << w.name << refused.err;
    EXPECT_NE(refused.err.find("HR=\"E_INVALIDARG\""), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << w.name;
  }
  // Accepted as before: requests at the copy's own status 4, and reads.
  const Outcome atFour = Run(
      "request SetRealField <<END\n"
      "<XMLMessage Status=\"4\"><SetRealField PageId=\"1013\" FieldId=\"103\" Value=\"395\"/>"
      "</XMLMessage>\nEND\n"
      "request CreateAnnotation <<END\n"
      "<XMLMessage Status=\"4\"><CreateAnnotation PageId=\"1013\" Value=\"y\" X=\"1\" Y=\"1\"/>"
      "</XMLMessage>\nEND\n"
      "request OpenPage <<END\n1013\nEND\n"
      "request ComparePages <<END\n"
      "<XMLMessage Status=\"4\"><ComparePages PageId=\"1013\" DocumentId2=\"1001\" "
      "Status2=\"1\"/></XMLMessage>\nEND\n");
  ASSERT_EQ(atFour.status, 0) << atFour.err;
  EXPECT_NE(atFour.out.find("<OpenPage PageId=\"1013\""), std::string::npos) << atFour.out;
  EXPECT_EQ(atFour.out.find("== store changed"), std::string::npos) << atFour.out;
  EXPECT_EQ(Dump(ids), before);
  // The current page takes the same writes.
  const Outcome current = Run(
      "request SetRealField <<END\n"
      "<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"395\"/>"
      "</XMLMessage>\nEND\n"
      "request RenamePage <<END\n"
      "<XMLMessage TargetId=\"1001\" Status=\"1\"><RenamePage PageId=\"1011\" Name=\"X\"/>"
      "</XMLMessage>\nEND\n");
  ASSERT_EQ(current.status, 0) << current.err;
  EXPECT_NE(current.out.find("== store changed #101: RatedFlow\n"), std::string::npos);
  EXPECT_NE(current.out.find("== store changed #1011: Name\n"), std::string::npos);
}

// A mark-up lives on both sides of a revision: made on a submitted copy
// (Status 2) it reaches the current page, made on the current page it
// reaches the copy. A request that names another version than the copy it
// addresses is refused.
TEST_F(KxqhostCopiesTest, MarkUpsStillGoBetweenASubmittedCopyAndItsCurrentPage) {
  const Outcome run = Run(
      "request SubmitDocuments <<END\n"
      "<XMLMessage><SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1001\"/>"
      "</SubmitDocuments></XMLMessage>\n"
      "END\n"
      "request CreateAnnotation <<END\n"
      "<XMLMessage Status=\"2\"><CreateAnnotation PageId=\"1204\" Value=\"check\" X=\"1\" "
      "Y=\"1\" Markup=\"1\"/></XMLMessage>\n"
      "END\n"
      "! request CreateAnnotation <<END\n"
      "<XMLMessage Status=\"1\"><CreateAnnotation PageId=\"1204\" Value=\"plain\" X=\"1\" "
      "Y=\"1\"/></XMLMessage>\n"
      "END\n"
      "request CreateAnnotation <<END\n"
      "<XMLMessage Status=\"1\"><CreateAnnotation PageId=\"1011\" Value=\"both\" X=\"2\" "
      "Y=\"2\" Markup=\"1\"/></XMLMessage>\n"
      "END\n"
      "dump 1204\n"
      "dump 1011\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Page 1204 is a submitted copy: a request with Status 1 does not "
                         "address it"),
            std::string::npos)
      << run.err;
  for (const char* page : {"dump 1204", "dump 1011"}) {
    const std::string dumped = Step(run.out, page);
    EXPECT_NE(dumped.find("FieldId=\\\"2\\\" X=\\\"1\\\" Y=\\\"1\\\" Markup=\\\"1\\\" "
                          "Value=\\\"kxq:check\\\""),
              std::string::npos)
        << dumped;
    EXPECT_NE(dumped.find("Value=\\\"kxq:both\\\""), std::string::npos) << dumped;
    EXPECT_EQ(dumped.find("plain"), std::string::npos) << dumped;
  }
}

}  // namespace
}  // namespace kx::test::tools
