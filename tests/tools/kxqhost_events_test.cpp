// Database events, Main's automation and object-service methods and the
// start-up registration through the host program, on the plant of
// data/events-plant.xml (its comment says what it holds).
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class EventsScriptTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/events-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome RunScript(const std::string& script) {
    kx::test::tools::WriteText(dir_ / "steps.kxq", script);
    return Host({"--events", "run", dir_ / "steps.kxq"});
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

TEST_F(EventsScriptTest, StartUpSubscribesTheSummaryClassesAndOneRegistrationCanBeRefused) {
  const Outcome listed = Host({"registration"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  // Both summary templates list Pump ("summary" in any case counts): once.
  EXPECT_TRUE(Has(listed.out, "Subscribe(1, 1, [Pump,Vessel], false)\n")) << listed.out;
  EXPECT_TRUE(Has(listed.out, "Subscribe(3, 4, [Pump,Vessel], false)\n")) << listed.out;
  EXPECT_TRUE(Has(listed.out, "Subscribe(4, 3, [Pump,Vessel], false)\n")) << listed.out;
  EXPECT_TRUE(Has(listed.out, "DeclareMethod(1, SetDisplayName, Datasheet, SetDisplayName, "))
      << listed.out;
  const Outcome refused = Host({"--refuse", "Subscribe:5", "registration"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Has(refused.out, "Subscribe(5, 11, Datasheet, false) (refused)\n")) << refused.out;
  EXPECT_FALSE(Has(refused.out, "Subscribe(6,")) << refused.out;
  EXPECT_TRUE(Has(refused.err, "Failed to register delete case event for Datasheet"))
      << refused.err;
}

TEST_F(EventsScriptTest, DeletionsGoThroughTheModuleFirst) {
  const Outcome outcome = RunScript(
      "! delete 400\n"
      "dump 400\n"
      "delete 401\n"
      "delete 11\n"
      "dump 301\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The master is refused and stays; another case of its id is no master.
  EXPECT_TRUE(Has(outcome.err,
                  "cannot delete 400: <KXError Desc=\"Cannot delete an RQ Master "
                  "BEDD Datasheet\""))
      << outcome.err;
  EXPECT_TRUE(Has(outcome.out, "## dump 400\nobject 400 Datasheet\n")) << outcome.out;
  // The deleted pump's row leaves the list before the pump goes.
  EXPECT_TRUE(Has(outcome.out, "## delete 11\n== store changed #301: NodeObjects\n"))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "NodeObjects[2] = #10\nNodeIndices[1] = 1\n")) << outcome.out;
  EXPECT_FALSE(Has(outcome.out, "#11")) << outcome.out;
}

TEST_F(EventsScriptTest, NewObjectsJoinTheListsThatTakeThemOnce) {
  const Outcome outcome = RunScript(
      "create Pump\n"
      "event 5 11 Vessel\n"
      "event 1 11\n"
      "dump 301\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The new pump fails the page-per-member sheet's filter and becomes a
  // row of the list, with its field record and revisions.
  EXPECT_TRUE(Has(outcome.out,
                  "created #501\n== store changed #301: NodeObjects, Fields, Revisions\n"
                  "== store created #501 (database event 1)\n"))
      << outcome.out;
  // A re-classed or re-created member already listed is not listed again.
  EXPECT_TRUE(Has(outcome.out, "## event 5 11 Vessel\n## event 1 11\n## dump 301\n"))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out,
                  "NodeObjects[2] = #10\nNodeObjects[3] = #11\n"
                  "NodeObjects[4] = #501\nNodeIndices[1]"))
      << outcome.out;
}

TEST_F(EventsScriptTest, CasesClaimsAndProjects) {
  const Outcome outcome = RunScript(
      "event 11 100 2\n"
      "dump 101\n"
      "event 16 10\n"
      "event --local 7 0 2\n"
      "! dump 300\n"
      "event 13 1\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // Only the page with the case loses it, with one page event.
  EXPECT_TRUE(Has(outcome.out,
                  "## event 11 100 2\n== store changed #101: Cases\n"
                  "== event Datasheet [P1 101] to alice\n"))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "Cases[1] = 1\nCases[2] = (empty)\n")) << outcome.out;
  // A claimed member is removed nowhere; each page showing it is redrawn.
  const size_t claims = outcome.out.find("## event 16 10\n");
  ASSERT_NE(claims, std::string::npos);
  const std::string claimed =
      outcome.out.substr(claims, outcome.out.find("## event --local") - claims);
  EXPECT_TRUE(Has(claimed, "[P1 301]") && Has(claimed, "[P1 201]") && Has(claimed, "[P1 101]"))
      << claimed;
  EXPECT_FALSE(Has(claimed, "store changed")) << claimed;
  // The deleted project takes its summary sheet with it.
  EXPECT_TRUE(Has(outcome.err, "cannot dump object 300")) << outcome.err;
  // An updated project has its summary sheets composed afresh.
  EXPECT_FALSE(Has(outcome.err, "not implemented")) << outcome.err;
}

TEST_F(EventsScriptTest, MethodsAndAutomationByNumberOrName) {
  const Outcome byName = Host({"method", "100", "getdisplayname"});
  ASSERT_EQ(byName.status, 0) << byName.err;
  EXPECT_EQ(byName.out, "P-1: Pump data (<Unknown>)\n");
  const Outcome byNumber = Host({"method", "100", "0"});
  EXPECT_EQ(byNumber.out, byName.out);
  const Outcome set = Host({"method", "100", "SetDisplayName"});
  EXPECT_EQ(set.status, 1);
  EXPECT_TRUE(Has(set.err, "The name can only be set via the Datasheet Editor")) << set.err;
  EXPECT_EQ(Host({"method", "100", "Rename"}).status, 1);
  EXPECT_EQ(Host({"method", "100", "7"}).out, "");

  // Data view 500 shows pump 10 twice; pages showing it are no data views.
  const Outcome views = Host({"automation", "VisualAppearances", "#10.F1"});
  ASSERT_EQ(views.status, 0) << views.err;
  EXPECT_EQ(views.out, "collection of 1\n[1] #500 Dataview: Dataview 500\n");
  const Outcome none = Host({"automation", "VisualAppearances", "#11.F1"});
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "collection of 0\n");
  const Outcome notAnAttribute = Host({"automation", "VisualAppearances", "#10"});
  EXPECT_EQ(notAnAttribute.status, 1);

  // The folder of LoadBEDDData is optional; a pump is no plant equipment.
  const Outcome bedd = Host({"automation", "LoadBEDDData", "PD", "#10"});
  EXPECT_EQ(bedd.status, 0) << bedd.err;
  const Outcome tooFew = Host({"automation", "LoadBEDDData", "PD"});
  EXPECT_EQ(tooFew.status, 1);
  EXPECT_TRUE(Has(tooFew.err, "Wrong number of arguments for LoadBEDDData")) << tooFew.err;
}

TEST_F(EventsScriptTest, APassingMemberGetsOnePageOfItsOwn) {
  const Outcome outcome = RunScript(
      "set 11 F12 yes\n"
      "event 1 11\n"
      "event 1 11\n"
      "event 5 11 Pump\n"
      "dump 200\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The first create event gives pump 11 a page on the page-per-member
  // sheet, with the sheet's event; later ones find it shown and add none.
  EXPECT_TRUE(Has(outcome.out, "== store changed #200: CurrentPages, NumberOfPages\n"))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "== event Datasheet [D1 200] to alice\n")) << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "CurrentPages[1] = #201\nCurrentPages[2] = #501\n")) << outcome.out;
  EXPECT_FALSE(Has(outcome.out, "CurrentPages[3]")) << outcome.out;
  const size_t again = outcome.out.find("## event 1 11\n## event 1 11\n");
  EXPECT_EQ(again, std::string::npos) << outcome.out;  // the first one did change the store
  EXPECT_TRUE(Has(outcome.out, "## event 1 11\n## event 5 11 Pump\n")) << outcome.out;
  // A re-classed member of a plain node that still passes keeps its page.
  EXPECT_FALSE(Has(outcome.err, "not implemented")) << outcome.err;
}

// Rows that database events add to a continuous summary page raise no
// change events of their own: the summary page 1071 of the sample plant,
// which bob has open, lists the pumps.
class SampleEventsTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
};

TEST_F(SampleEventsTest, SummaryRowsThatDatabaseEventsAddRaiseNoChangeEvents) {
  // Each time the new pump's row is emptied, a copy and a change-class event
  // list it again.
  kx::test::tools::WriteText(dir_ / "rows.kxq",
                             "create Pump\n"
                             "set 1071 NodeObjects[8]\n"
                             "event 4 1204\n"
                             "set 1071 NodeObjects[9]\n"
                             "event 5 1204 Pump\n"
                             "dump 1071\n");
  const Outcome outcome = Host({"--events", "run", dir_ / "rows.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find(
                "## create Pump\ncreated #1204\n== store changed #1071: NodeObjects, Fields, "
                "Revisions\n== store created #1204 (database event 1)\n## set"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find(
                "## event 4 1204\n== store changed #1071: NodeObjects, Fields, Revisions\n## set"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("## event 5 1204 Pump\n== store changed #1071: NodeObjects, Fields, "
                             "Revisions\n## dump"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("NodeObjects[10] = #1204\n"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.out.find("== event"), std::string::npos) << outcome.out;
}

// A module that cannot read a page's template (here: detached) refuses the
// deletion of an object the page shows, rather than let the store leave a
// blank row behind; attached again, it takes the row out and the deletion
// goes through.
TEST_F(SampleEventsTest, ADeletionWhosePagesCannotBeReadIsRefused) {
  kx::test::tools::WriteText(dir_ / "delete.kxq",
                             "detach\n"
                             "! delete 102\n"
                             "attach\n"
                             "dump 1071\n"
                             "delete 102\n"
                             "dump 1071\n");
  const Outcome outcome = Host({"--events", "run", dir_ / "delete.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.err.find("cannot delete 102: <KXError "), std::string::npos) << outcome.err;
  const size_t attached = outcome.out.find("## attach\n");
  ASSERT_NE(attached, std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.out.find("== store changed"), outcome.out.find("== store changed", attached))
      << outcome.out;
  const size_t deleted = outcome.out.find("## delete 102\n");
  ASSERT_NE(deleted, std::string::npos) << outcome.out;
  const std::string before = outcome.out.substr(attached, deleted - attached);
  EXPECT_NE(before.find("NodeObjects[3] = #102\nNodeObjects[4] = #103\n"), std::string::npos)
      << before;
  const std::string after = outcome.out.substr(deleted);
  EXPECT_NE(after.find("NodeObjects[2] = #101\nNodeObjects[3] = #103\n"), std::string::npos)
      << after;
  EXPECT_EQ(after.find("(empty)\nNodeObjects"), std::string::npos) << after;
}

}  // namespace