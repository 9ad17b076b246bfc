// Trigger callbacks through the host program: a page opened for editing in
// one step, values changed by "another client" in later steps, and the
// callbacks the host delivers inside each change's transaction.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class TriggerScriptTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/triggers-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome RunScript(const std::string& script) {
    kx::test::tools::WriteText(dir_ / "steps.kxq", script);
    return Host({"--events", "run", dir_ / "steps.kxq"});
  }
  // Makes the store again, with page 101's "Field" trigger bound to
  // another service.
  void BindPage101sFieldTriggerToAnotherService() {
    std::string plant =
        kx::test::tools::ReadText(std::string(KXQHOST_TEST_DATA) + "/triggers-plant.xml");
    const std::string next = "  </object>\n  <object id=\"102\"";
    const size_t at = plant.find(next);
    ASSERT_NE(at, std::string::npos);
    plant.insert(at, "   <trigger name=\"Field\" handler=\"Other.Service\"/>\n");
    kx::test::tools::WriteText(dir_ / "other-plant.xml", plant);
    std::filesystem::remove(Store());
    const Outcome made = Host({"init", "--fixture", dir_ / "other-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
};

TEST_F(TriggerScriptTest, AValueChangedByAnotherClientReachesTheOpenPageAsAnEvent) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n"
      "101\n"
      "END\n"
      "set 10 F5 changed\n"
      "set 10 F5 \"changed again\"\n"
      "set 11 F5 unseen\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string fired =
      "== store changed #10: F5\n"
      "== store trigger Field on #101 fired (keys: 4)\n"
      "== event DataField [F1 101] to alice\n";
  // The first change fires field 5's item; the callback clears the key and
  // records the item again, so the second change fires it once more.
  EXPECT_NE(outcome.out.find("## set 10 F5 changed\n" + fired), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("## set 10 F5 \"changed again\"\n" + fired), std::string::npos)
      << outcome.out;
  // A value no open page reads raises nothing.
  EXPECT_NE(outcome.out.find("## set 11 F5 unseen\n== store changed #11: F5\n"), std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find("## set 11 F5 unseen\n== store changed #11: F5\n=="),
            std::string::npos)
      << outcome.out;
}

TEST_F(TriggerScriptTest, ARowOfAContinuousListFiresUnderItsRowKey) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n"
      "201\n"
      "END\n"
      "set 11 F2 \"row two\"\n"
      "set 200 DocumentName Renamed\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("== store trigger Field on #201 fired (keys: CL11:1)\n"
                             "== event DataField [F1 201] to alice\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("== store trigger Field on #201 fired (keys: 2)\n"
                             "== event DataField [F1 201] to alice\n"),
            std::string::npos)
      << outcome.out;
}

// Pump 10 shown in rows 0 and 2 of the list: row 2, which took it, is sent
// as it stands now, and a change of its value reaches both its rows.
TEST_F(TriggerScriptTest, ARowObjectShownTwiceIsSentInEachOfItsRows) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n"
      "201\n"
      "END\n"
      "set 201 NodeObjects[4] #10\n"
      "set 10 F2 \"row one twice\"\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string field =
      "<ShowStringField PageId=\"201\" FieldId=\"202\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "State=\"256\" Value=\"row one twice\" ";
  const size_t fired = outcome.out.find(
      "== store trigger Field on #201 fired (keys: CL10:1)\n== event DataField [F1 201] to "
      "alice\n");
  ASSERT_NE(fired, std::string::npos) << outcome.out;
  for (const char* row : {"Index=\"0\"/>", "Index=\"2\"/>"}) {
    EXPECT_NE(outcome.out.find(field + row, fired), std::string::npos) << row << outcome.out;
  }
}

// The rows of a list are kept from one callback to the next while they
// stand: pump 11 changed in row 1, then moved to row 0, is found there.
TEST_F(TriggerScriptTest, ARowMovedBetweenTwoCallbacksIsFoundWhereItStandsNow) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n"
      "201\n"
      "END\n"
      "set 11 F2 one\n"
      "set 201 NodeObjects[2] #11\n"
      "set 201 NodeObjects[3] #10\n"
      "set 11 F2 two\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string field =
      "<ShowStringField PageId=\"201\" FieldId=\"202\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "State=\"256\" ";
  EXPECT_NE(outcome.out.find(field + "Value=\"one\" Index=\"1\"/>"), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find(field + "Value=\"two\" Index=\"0\"/>"), std::string::npos)
      << outcome.out;
}

TEST_F(TriggerScriptTest, APermanentFilterTakesOffAMemberThatFailsAndPlacesOneThatPasses) {
  // "watch" records, as the filter test would, what the "Ready" filter
  // reads of pumps 10 and 11 under their ids.
  const Outcome outcome = RunScript(
      "watch 300 SSPF 10 10 F12\n"
      "set 10 F12 no\n"
      "dump 301\n"
      "watch 300 SSPF 11 11 F12\n"
      "set 11 F12 yes\n"
      "dump 301\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("== store changed #301: NodeObjects, NodeIndices\n"
                             "== store trigger SSPF on #300 fired (keys: 10)\n"
                             "== event Datasheet [D1 300] to alice\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("NodeObjects[1] = (empty)\n"), std::string::npos) << outcome.out;
  // Pump 11 now passes and takes the free place on the summary's page.
  EXPECT_NE(outcome.out.find("== store trigger SSPF on #300 fired (keys: 11)\n"
                             "== event Datasheet [D1 300] to alice\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("NodeObjects[1] = #11\n"), std::string::npos) << outcome.out;
}

// The summary's filter names one the schema lacks, and its "SSPF" trigger
// watches pump 10's F12 under keys "0" and "9999", which name no object:
// they decide nothing before the filter is looked up, so another client's
// change of the value commits, the summary's users are told, and page 301
// keeps pump 10.
TEST_F(TriggerScriptTest, KeysNamingNoObjectDecideNothingBeforeTheFilterIsLookedUp) {
  const Outcome outcome = RunScript(
      "set 300 ObjectFilter NoSuchFilter\n"
      "watch 300 SSPF 0 10 F12\n"
      "watch 300 SSPF 9999 10 F12\n"
      "dump 300 301\n"
      "set 10 F12 no\n"
      "dump 10 300 301\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("## set 10 F12 no\n== store changed #10: F12\n"
                             "== store trigger SSPF on #300 fired (keys: 0, 9999)\n"
                             "== event Datasheet [D1 300] to alice\n"),
            std::string::npos)
      << outcome.out;
  const size_t before = outcome.out.find("## dump 300 301\n");
  const size_t set = outcome.out.find("## set 10 F12 no\n");
  const size_t after = outcome.out.find("## dump 10 300 301\n");
  ASSERT_LT(before, set);
  ASSERT_LT(set, after);
  const std::string sheet = outcome.out.substr(before + 16, set - before - 16);
  EXPECT_NE(sheet.find("NodeObjects[1] = #10\n"), std::string::npos) << sheet;
  const std::string dumped = outcome.out.substr(after);
  EXPECT_NE(dumped.find("F12 = \"no\"\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find(sheet), std::string::npos) << dumped;
}

// Page 201, a continuous list, open for editing in one process while
// another changes row 11's F2: the first sees that change at its next call,
// which opens the page again, so the row's key is still fired while the
// page's trigger is set up. Its item is recorded again from its own row:
// a later change of row 11 reaches the page, and one of row 10 fires row
// 10's key alone.
TEST_F(TriggerScriptTest, ARowKeyFiredWhileThePageIsOpenedAgainWatchesItsOwnRow) {
  kx::test::tools::WriteText(dir_ / "first.kxq",
                             "request OpenPage <<END\n201\nEND\n"
                             "stall 2 11 F5 stalled\n"
                             "wait 4\n"
                             "request OpenPage <<END\n201\nEND\n"
                             "set 11 F2 after\n"
                             "set 10 F2 \"first row\"\n");
  const std::string out = dir_ / "first.out";
  const int pid =
      kx::test::tools::StartHost({"--store", Store(), "--events", "run", dir_ / "first.kxq"},
                                 dir_.path(), Registry(), out, dir_ / "first.err");
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (kx::test::tools::ReadText(out).find("stalling") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const Outcome second = RunScript("set 11 F2 \"from another client\"\n");
  EXPECT_EQ(second.status, 0) << second.err;
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << kx::test::tools::ReadText(dir_ / "first.err");
  const std::string first = kx::test::tools::ReadText(out);
  // The other client's change fired the row's key as the page was opened.
  const size_t reopened = first.find("## wait 4\n## request OpenPage");
  const size_t next = first.find("## set 11 F2 after\n");
  ASSERT_LT(reopened, next) << first;
  EXPECT_NE(first.substr(reopened, next - reopened)
                .find("== store trigger Field on #201 fired (keys: CL11:1)\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("## set 11 F2 after\n== store changed #11: F2\n"
                       "== store trigger Field on #201 fired (keys: CL11:1)\n"
                       "== event DataField [F1 201] to alice\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("Value=\"after\" Index=\"1\"/></XMLMessage>\n"), std::string::npos) << first;
  EXPECT_NE(first.find("## set 10 F2 \"first row\"\n== store changed #10: F2\n"
                       "== store trigger Field on #201 fired (keys: CL10:1)\n"),
            std::string::npos)
      << first;
}

// Page 101 carries a "Field" trigger that another service bound to it.
// Opened for editing, the page leaves that trigger to its service: a value
// the page shows changes without a callback of this service or an event.
TEST_F(TriggerScriptTest, APageOpenedForEditingLeavesAnotherServicesTriggerAlone) {
  ASSERT_NO_FATAL_FAILURE(BindPage101sFieldTriggerToAnotherService());
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n"
      "101\n"
      "END\n"
      "set 10 F5 changed\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("## set 10 F5 changed\n== store changed #10: F5\n"), std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find("== store trigger Field on #101"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.out.find("== event DataField"), std::string::npos) << outcome.out;
}

// The same trigger, with pages 101 and 102 made at another checknum: the
// template rebuild binds 102's triggers to this service but leaves 101's
// to its own, so a value of 102's pump fires and one of 101's does not.
TEST_F(TriggerScriptTest, ARebuildLeavesAnotherServicesFieldTriggerAlone) {
  ASSERT_NO_FATAL_FAILURE(BindPage101sFieldTriggerToAnotherService());
  const Outcome outcome = RunScript(
      "set 101 Checknum 0\n"
      "set 102 Checknum 0\n"
      "request UpdateTemplates <<END\n"
      "<XMLMessage><UpdateTemplates><DocumentId>100</DocumentId></UpdateTemplates></XMLMessage>\n"
      "END\n"
      "set 10 F5 changed\n"
      "set 12 F5 changed\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("== store changed #101: NodeObjects, NodeIndices, Fields, Checknum\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("== store trigger Field on #102 fired"), std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find("== store trigger Field on #101"), std::string::npos) << outcome.out;
}

}  // namespace

namespace {

// Where the last of `steps` stands in `out`, each found after the one
// before; npos, with a failure, when one is not.
size_t FindInOrder(const std::string& out, const std::vector<std::string>& steps) {
  size_t at = 0;
  for (const std::string& step : steps) {
    at = out.find(step, at);
    if (at == std::string::npos) {
      ADD_FAILURE() << step << "\n" << out;
      break;
    }
  }
  return at;
}

// On a store of the sample plant.
class SampleTriggerTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // The script's steps run with their events shown.
  Outcome RunScript(const std::string& script) {
    kx::test::tools::WriteText(dir_ / "steps.kxq", script);
    return Host({"--events", "run", dir_ / "steps.kxq"});
  }
};

TEST_F(SampleTriggerTest, TheSampleScriptShowsTheChangeReachingTheOpenPage) {
  const Outcome outcome =
      Host({"--events", "run",
            std::string(KXQHOST_SOURCE_DIR) + "/examples/value-changed-by-another-client.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The event's XML holds the one field whose value changed, as it is now.
  EXPECT_NE(outcome.out.find("## set 101 RatedFlow 410 m3/h\n"
                             "== store changed #101: RatedFlow\n"
                             "== store changed #1001: Dirty\n"
                             "== store trigger Field on #1011 fired (keys: 2)\n"
                             "== event DataField [F1 1011] to bob\n"
                             "<?xml version=\"1.0\"?><XMLMessage TargetId=\"1001\" Status=\"1\">"
                             "<ShowRealField PageId=\"1011\" FieldId=\"103\" Format=\"0\" "
                             "Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" Value=\"410\"/>"
                             "</XMLMessage>\n## dump 101\n"),
            std::string::npos)
      << outcome.out;
}

// An edit of one cell of a list open for editing changes that cell's record
// in the page's "Fields" list: it fires the item of that cell alone, and its
// event shows that field alone; a sort moves every row, and fires them all,
// the items the event recorded under their positions too.
TEST_F(SampleTriggerTest, AnEditOfOneCellOfAnOpenListFiresThatCellAlone) {
  kx::test::tools::WriteText(
      dir_ / "cells.kxq",
      "request OpenPage <<END\n1071\nEND\n"
      "request SetRealField <<END\n"
      "<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetRealField PageId=\"1071\" "
      "FieldId=\"404\" Index=\"2\" Value=\"3150\"/></XMLMessage>\nEND\n"
      "request SetStringField <<END\n"
      "<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetStringField PageId=\"1071\" "
      "FieldId=\"403\" Index=\"4\" Value=\"Spare\"/></XMLMessage>\nEND\n"
      "request ApplyDatasheetSort <<END\n"
      "<XMLMessage TargetId=\"1007\" Status=\"1\"><ApplyDatasheetSort PageId=\"1071\" "
      "FieldId=\"402\" SortId=\"CLD\"/></XMLMessage>\nEND\n");
  const Outcome outcome = Host({"--events", "run", dir_ / "cells.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const size_t at = FindInOrder(
      outcome.out,
      {"## request SetRealField",
       "== store changed #1071: Fields\n== store changed #1007: Dirty\n"
       "== store trigger Field on #1071 fired (keys: CL103:2)\n"
       "== event DataField [F1 1071] to bob\n"
       "<?xml version=\"1.0\"?><XMLMessage TargetId=\"1007\" Status=\"1\">"
       "<ShowRealField PageId=\"1071\" FieldId=\"404\" Alignment=\"0\" "
       "VerticalAlignment=\"0\" State=\"256\" Value=\"3150\" Index=\"2\"/></XMLMessage>\n",
       "## request SetStringField",
       "== store trigger Field on #1071 fired (keys: CL105:1)\n"
       "== event DataField [F1 1071] to bob\n"
       "<?xml version=\"1.0\"?><XMLMessage TargetId=\"1007\" Status=\"1\">"
       "<ShowStringField PageId=\"1071\" FieldId=\"403\" Alignment=\"0\" "
       "VerticalAlignment=\"0\" State=\"256\" Value=\"Spare\" Index=\"4\"/></XMLMessage>\n",
       "## request ApplyDatasheetSort",
       "== store trigger Field on #1071 fired (keys: 12, 19, CL101:0, CL101:1, CL101:2, "
       "CL101:3, CL102:0,"});
  ASSERT_NE(at, std::string::npos);
  for (const char* row : {"CL103:3", "CL104:0", "CL105:2", "CL106:3"}) {
    EXPECT_NE(outcome.out.find(row, at), std::string::npos) << row << "\n" << outcome.out;
  }
}

// A row appended to an open list changes no entry that an item of the page
// read: nothing fires, and the new row's own event names its field alone. A
// row taken out moves the rows below it up: the items of those rows fire,
// those above and the fixed field above the list do not; an edit of the
// fixed field still fires its item.
TEST_F(SampleTriggerTest, RowsAppendedOrTakenOutFireOnlyTheItemsOfTheEntriesTheyChanged) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n1071\nEND\n"
      "set 1071 Fields[26] \"<String FieldId=\\\"402\\\" Index=\\\"6\\\"/>\"\n"
      "request SetStringField " +
      std::string(KXQHOST_SOURCE_DIR) +
      "/examples/requests/set-string-field-new-row.xml\n"
      "delete 104\n"
      "request SetStringField <<END\n"
      "<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetStringField PageId=\"1071\" "
      "FieldId=\"401\" Value=\"Title\"/></XMLMessage>\nEND\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string& out = outcome.out;
  const size_t appended = out.find("## set 1071 Fields[26]");
  const size_t newRow = out.find("## request SetStringField", appended);
  const size_t deleted = out.find("## delete 104", newRow);
  const size_t fixed = out.find("## request SetStringField", deleted);
  ASSERT_NE(fixed, std::string::npos) << out;
  const std::string beforeDelete = out.substr(appended, deleted - appended);
  EXPECT_EQ(beforeDelete.find("fired"), std::string::npos) << beforeDelete;
  // The new row's event shows that row, not the rows above it.
  EXPECT_NE(beforeDelete.find("Value=\"P-105\" Index=\"6\"/>"), std::string::npos) << beforeDelete;
  EXPECT_EQ(beforeDelete.find("Index=\"0\""), std::string::npos) << beforeDelete;
  FindInOrder(out,
              {"## delete 104\n== store changed #1071: Fields, Revisions, NodeObjects\n"
               "== store trigger Field on #1071 fired (keys: ",
               "## request SetStringField", "== store trigger Field on #1071 fired (keys: 1)\n"});
  const std::string firedOnDelete = out.substr(deleted, fixed - deleted);
  for (const char* key : {"CL104:0", "CL104:3", "CL105:0", "CL106:3", "26"}) {
    EXPECT_NE(firedOnDelete.find(key), std::string::npos) << key << "\n" << firedOnDelete;
  }
  for (const char* key : {"keys: 1,", " 1,", "CL101:", "CL102:", "CL103:"}) {
    EXPECT_EQ(firedOnDelete.find(key), std::string::npos) << key << "\n" << firedOnDelete;
  }
}

// The fields of an ordinary page read the entry of the page's "Cases" at
// their case position: an entry added past those fires none of them, a
// change of the entry they read fires them all.
TEST_F(SampleTriggerTest, AnEntryAddedToAPageListThatNoFieldReadsFiresNothing) {
  const Outcome outcome = RunScript(
      "request OpenPage <<END\n1011\nEND\n"
      "set 1011 Cases[9] 1\nset 1011 Cases[1] 2\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  FindInOrder(outcome.out,
              {"## set 1011 Cases[9] 1\n== store changed #1011: Cases\n"
               "## set 1011 Cases[1] 2\n== store changed #1011: Cases\n"
               "== store changed #1001: Dirty\n"
               "== store trigger Field on #1011 fired (keys: 0, 1, 2, 3, 4, 5, 6, 7)\n"});
}

// An open datasheet's change event carries its title as it is when written:
// after each change by another client of what the title is made from (a
// shown object's name, a page's case), the trigger records the title again
// and the event shows the new one.
TEST_F(SampleTriggerTest, AnOpenDatasheetsEventTitleFollowsEachChangeOfWhatItIsMadeFrom) {
  kx::test::tools::WriteText(
      dir_ / "title.kxq",
      "request OpenDocuments <<END\n"
      "<XMLMessage TargetId=\"App\" Status=\"1\"><OpenDocuments><Datasheet DocumentId=\"1009\" "
      "Status=\"1\"/></OpenDocuments></XMLMessage>\nEND\n"
      "request DatasheetOverspill <<END\n"
      "<XMLMessage TargetId=\"1009\" Status=\"1\"><DatasheetOverspill PageId=\"1091\"/>"
      "</XMLMessage>\nEND\n"
      "set 101 Name P-109\n"
      "set 1093 Cases[1] 2\n");
  const Outcome outcome = Host({"--events", "run", dir_ / "title.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  FindInOrder(outcome.out,
              {"## request DatasheetOverspill",
               "== store trigger Datasheet on #1009 fired (keys: Name, Pages)",
               "<Datasheet Title=\"P-102A-&gt;P-101A: Pump sheets (Normal)\"",
               "## set 101 Name P-109", "== store trigger Datasheet on #1009 fired (keys: Name)",
               "<Datasheet Title=\"P-102A-&gt;P-109: Pump sheets (Normal)\"",
               "## set 1093 Cases[1] 2", "== store trigger Datasheet on #1009 fired (keys: Name)",
               "<Datasheet Title=\"P-102A-&gt;P-109: Pump sheets (&lt;Varies&gt;)\""});
}

// A list's title names its first and last rows' objects: another object
// placed in a row between leaves the open datasheet's title item quiet (it
// fires the items of that row alone, and the row is sent as it stands); a
// new name of the last row's object fires it.
TEST_F(SampleTriggerTest, AListsTitleFiresForItsFirstAndLastRowsAlone) {
  const Outcome outcome = RunScript(
      "request OpenDocuments <<END\n"
      "<XMLMessage TargetId=\"App\" Status=\"1\"><OpenDocuments><Datasheet "
      "DocumentId=\"1007\" Status=\"1\"/></OpenDocuments></XMLMessage>\nEND\n"
      "set 1071 NodeObjects[4] #106\nset 106 Name P-106X\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const size_t at = FindInOrder(
      outcome.out,
      {"## set 1071 NodeObjects[4] #106\n== store changed #1071: NodeObjects\n"
       "== store changed #1007: Dirty\n"
       "== store trigger Field on #1071 fired (keys: CL103:0, CL103:1, CL103:2, CL103:3)\n"
       "== event DataField [F1 1071] to bob\n",
       "Value=\"P-104\" Index=\"2\"/>", "## set 106 Name P-106X\n== store changed #106: Name\n",
       "== store trigger Datasheet on #1007 fired (keys: Name)\n",
       "<Datasheet Title=\"P-101A-&gt;P-106X: Pump summary (Normal)\""});
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(outcome.out.substr(0, outcome.out.find("## set 106")).find("(keys: Name)"),
            std::string::npos)
      << outcome.out;
}

// The list open in one process while another sorts it: every row's record
// reads as it did (the list was sorted once before), only the rows' objects
// move. The first process, catching up, fires the items of the rows that
// took another object and shows each moved row where it stands now.
TEST_F(SampleTriggerTest, AListSortedByAnotherProcessShowsItsRowsWhereTheyStandNow) {
  const std::string sort =
      "request ApplyDatasheetSort <<END\n"
      "<XMLMessage TargetId=\"1007\" Status=\"1\"><ApplyDatasheetSort "
      "PageId=\"1071\" FieldId=\"402\" SortId=\"";
  ASSERT_EQ(RunScript(sort + "CLA\"/></XMLMessage>\nEND\n").status, 0);
  kx::test::tools::WriteText(dir_ / "open.kxq",
                             "request OpenPage <<END\n1071\nEND\n"
                             "stall 1 101 Name P-101A\n"
                             "wait 2\n"
                             "set 101 Name P-101A\n");
  const std::string out = dir_ / "open.out";
  const int pid =
      kx::test::tools::StartHost({"--store", Store(), "--events", "run", dir_ / "open.kxq"},
                                 dir_.path(), Registry(), out, dir_ / "open.err");
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (kx::test::tools::ReadText(out).find("stalling") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const Outcome sorted = RunScript(sort + "CLD\"/></XMLMessage>\nEND\n");
  EXPECT_EQ(sorted.status, 0) << sorted.err;
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << kx::test::tools::ReadText(dir_ / "open.err");
  const std::string opened = kx::test::tools::ReadText(out);
  const size_t caughtUp = opened.find("## set 101 Name P-101A\n");
  ASSERT_NE(caughtUp, std::string::npos) << opened;
  const std::string after = opened.substr(caughtUp);
  EXPECT_NE(after.find("== store trigger Field on #1071 fired (keys: CL101:0, CL101:1, "),
            std::string::npos)
      << after;
  // P-101A, the first row before, is the last now; P-104 the first.
  for (const char* row : {"Value=\"P-101A\" Index=\"5\"/>", "Value=\"P-104\" Index=\"0\"/>"}) {
    EXPECT_NE(after.find(row), std::string::npos) << row << "\n" << after;
  }
}

// A held event is written when delivered, from what the page shows then:
// the motor's new name while the page shows the motor, and no value once
// another client has taken the motor off the pump and the page after the
// change (off the page alone, the page's node "Driver" finds it again
// through the pump).
TEST_F(SampleTriggerTest, AHeldFieldEventShowsThePageAsItIsWhenDelivered) {
  kx::test::tools::WriteText(dir_ / "held.kxq",
                             "request OpenPage <<END\n1012\nEND\n"
                             "set 111 Name PM-X\ndeliver\n"
                             "set 111 Name PM-Y\nset 101 Driver\nset 1012 NodeObjects[2]\n");
  const Outcome outcome = Host({"--events", "--hold-events", "run", dir_ / "held.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string motorName =
      "FieldId=\"206\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "State=\"256\"";
  FindInOrder(outcome.out,
              {"## deliver\n== store changed #1001: Dirty\n== event DataField [F1 1012]",
               motorName + " Value=\"PM-X\"/>", "## (end of the run) deliver\n", motorName + "/>"});
  EXPECT_EQ(outcome.out.find("Value=\"PM-Y\""), std::string::npos) << outcome.out;
}

}  // namespace

namespace {

// What a client shows of page 1071, by "FieldId:Index" (Index empty for a
// fixed field): the field's "Value", absent without one.
using ClientPage = std::map<std::string, std::string>;

std::string AttributeOf(const std::string& element, const std::string& name) {
  const std::string at = " " + name + "=\"";
  const size_t from = element.find(at);
  if (from == std::string::npos) return {};
  const size_t start = from + at.size();
  return element.substr(start, element.find('"', start) - start);
}

// Applies the field and "RemoveRow" elements of `xml` to `page`, as a
// client does: a field element shows its value (or none) at its place, a
// "RemoveRow" takes its row's fields away.
void ApplyElements(const std::string& xml, ClientPage& page) {
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    const std::string element = xml.substr(at, xml.find('>', at) - at);
    const bool field =
        element.rfind("<Show", 0) == 0 && element.find("Field ") != std::string::npos;
    if (AttributeOf(element, "PageId") != "1071") continue;
    if (element.rfind("<RemoveRow ", 0) == 0) {
      const std::string suffix = ":" + AttributeOf(element, "Index");
      std::erase_if(page, [&](const auto& entry) { return entry.first.ends_with(suffix); });
    } else if (field) {
      const std::string key = AttributeOf(element, "FieldId") + ":" + AttributeOf(element, "Index");
      if (element.find(" Value=\"") == std::string::npos) {
        page.erase(key);
      } else {
        page[key] = AttributeOf(element, "Value");
      }
    }
  }
}

std::string Shown(const ClientPage& page) {
  std::string text;
  for (const auto& [key, value] : page) text += key + " = " + value + "\n";
  return text;
}

// The steps run on the sample plant after "OpenPage" 1071, with the
// events applied to what the page showed; then what a fresh "OpenPage"
// shows, from another process.
class ListClientTest : public SampleTriggerTest {
 protected:
  void ExpectTheClientShowsAFreshPage(const std::string& steps) {
    const Outcome run = RunScript("request OpenPage <<END\n1071\nEND\n" + steps);
    ASSERT_EQ(run.status, 0) << run.err;
    ClientPage client;
    const std::string& out = run.out;
    const size_t opened = out.find("<OpenPage PageId=\"1071\"");
    ASSERT_NE(opened, std::string::npos) << out;
    ApplyElements(out.substr(opened, out.find('\n', opened) - opened), client);
    for (size_t at = out.find("== event ", opened); at != std::string::npos;
         at = out.find("== event ", at + 1)) {
      // The event's XML runs to the next line of the host's own.
      const size_t line = out.find('\n', at) + 1;
      size_t end = line;
      while (end < out.size() && out.compare(end, 3, "== ") != 0 && out.compare(end, 3, "## ") != 0)
        end = out.find('\n', end) == std::string::npos ? out.size() : out.find('\n', end) + 1;
      const std::string xml = out.substr(line, end - line);
      const std::string pageEvent = "== event Datasheet [P1 1071] ";
      if (out.compare(at, pageEvent.size(), pageEvent) == 0) client.clear();
      ApplyElements(xml, client);
    }
    const Outcome fresh = Host({"request", "OpenPage", "-"}, "1071");
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    ClientPage expected;
    ApplyElements(fresh.out, expected);
    EXPECT_EQ(Shown(client), Shown(expected)) << steps << "\n" << out;
  }
  static std::string Request(const std::string& name, const std::string& body) {
    return "request " + name + " <<END\n<XMLMessage TargetId=\"1007\" Status=\"1\">" + body +
           "</XMLMessage>\nEND\n";
  }
  static std::string Hide(int row) {
    return Request("HideFieldObjects",
                   "<HideFieldObjects PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" "
                   "Index=\"" +
                       std::to_string(row) + "\"/></HideFieldObjects>");
  }
};

// A row taken off the open list, by hiding or deleting its object, tells
// the client of every row it moved and of the row that is gone; so does it
// after a row was typed in, after another was deleted, after a sort, and
// after a row was put in at the top.
TEST_F(ListClientTest, EventsAppliedToTheOpenListShowWhatAFreshOpenPageShows) {
  const std::string append =
      Request("SetStringField",
              "<SetStringField PageId=\"1071\" FieldId=\"402\" Index=\"6\" Value=\"P-105\" "
              "ConfirmedClass=\"Pump\"/>");
  const std::string show =
      Request("ShowFieldObjects",
              "<ShowFieldObjects PageId=\"1071\" Confirmed=\"1\"><Field "
              "FieldId=\"402\" Index=\"0\" ObjectId=\"121\"/></ShowFieldObjects>");
  const std::string sort = Request(
      "ApplyDatasheetSort", "<ApplyDatasheetSort PageId=\"1071\" FieldId=\"402\" SortId=\"CLD\"/>");
  for (const std::string& steps :
       {Hide(2), append + Hide(2), std::string("delete 106\n") + Hide(2),
        append + sort + Hide(0) + "delete 103\n" + Hide(4), show + Hide(3)}) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(Store() + suffix);
    SetUp();
    ExpectTheClientShowsAFreshPage(steps);
  }
}

// Another client gives row 2 the pump of row 5: the row that took another
// object is sent as it stands now, and a later change of that pump reaches
// both rows that show it.
TEST_F(ListClientTest, AnObjectInTwoRowsIsSentInBoth) {
  ExpectTheClientShowsAFreshPage("set 1071 NodeObjects[4] #106\nset 106 Name P-106X\n");
}

}  // namespace

namespace {

// A list grown to 30 rows loses its row 2 while open: more than 100 fields
// move, so one page event shows the page, and the field event that follows
// holds the vanished row alone, not the moved rows a second time.
TEST_F(ListClientTest, ALongListThatLosesARowIsSentOnceAsAPage) {
  std::string steps;
  for (int row = 6; row <= 30; ++row) {
    steps += Request("SetStringField", "<SetStringField PageId=\"1071\" FieldId=\"402\" Index=\"" +
                                           std::to_string(row) + "\" Value=\"P-9" +
                                           std::to_string(row) + "\" ConfirmedClass=\"Pump\"/>");
  }
  const Outcome run = RunScript(steps + "request OpenPage <<END\n1071\nEND\n" + Hide(2));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string hidden = run.out.substr(run.out.find("## request HideFieldObjects"));
  const std::string page = "== event Datasheet [P1 1071] to bob\n";
  const std::string field = "== event DataField [F1 1071] to bob\n";
  ASSERT_NE(hidden.find(page), std::string::npos) << hidden;
  const size_t fields = hidden.find(field);
  ASSERT_NE(fields, std::string::npos) << hidden;
  EXPECT_EQ(hidden.find(page, hidden.find(page) + 1), std::string::npos) << hidden;
  EXPECT_EQ(hidden.find(field, fields + 1), std::string::npos) << hidden;
  const std::string xml = hidden.substr(fields + field.size());
  EXPECT_EQ(xml.substr(0, xml.find("\n==")),
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"1007\" Status=\"1\">\n"
            "<RemoveRow Index=\"30\" PageId=\"1071\"/></XMLMessage>")
      << hidden;
}

}  // namespace
