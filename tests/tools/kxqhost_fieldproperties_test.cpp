// The field property and presentation messages through kxqhost on the
// sample plant: what the module changed and the data-field events it
// raised, one field element per field it told the users about.
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class KxqhostFieldPropertiesTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome Request(const std::string& name, const std::string& message) {
    return Host({"--events", "request", name, "-"},
                "<XMLMessage TargetId=\"Editor\" Status=\"1\">" + message + "</XMLMessage>");
  }
  // A script of steps, run with --events.
  Outcome Run(const std::string& steps) {
    std::ofstream(dir_ / "steps.kxq") << steps;
    return Host({"--events", "run", dir_ / "steps.kxq"});
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(KxqhostFieldPropertiesTest, StatusOfTwoFieldsIsSetReadBackAndToldFieldByField) {
  const Outcome set = Request("SetFieldStatus",
                              "<SetFieldStatus PageId=\"1011\" IsLocked=\"1\">"
                              "<FieldId ID=\"103\"/><FieldId ID=\"105\"/></SetFieldStatus>");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(Count(set.out, "== event DataField [F1 1011] to bob\n"), 1u) << set.out;
  EXPECT_EQ(Count(set.out, "<ShowRealField PageId=\"1011\" FieldId=\"103\""), 1u) << set.out;
  EXPECT_EQ(Count(set.out, "<ShowRealField PageId=\"1011\" FieldId=\"105\""), 1u) << set.out;
  const Outcome mixed = Request("GetFieldStatus",
                                "<GetFieldStatus PageId=\"1011\"><FieldId ID=\"101\"/>"
                                "<FieldId ID=\"103\"/></GetFieldStatus>");
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_EQ(
      mixed.out.rfind("<XMLMessage TargetId=\"Editor\" Status=\"1\"><PopStatus PageId=\"1011\" "
                      "Lock=\"2\" Secure=\"0\" Hold=\"0\" HoldReason=\"\">",
                      0),
      0u)
      << mixed.out;
}

TEST_F(KxqhostFieldPropertiesTest, AFormatOnOneRowOfTheSummaryReachesEveryRow) {
  const Outcome set = Request("SetFieldFormat",
                              "<SetFieldFormat PageId=\"1071\" RealFormat=\"0.0\">"
                              "<FieldId ID=\"404\" Index=\"2\"/></SetFieldFormat>");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.out.find("== store changed #1071: Fields\n"), std::string::npos) << set.out;
  EXPECT_GE(Count(set.out, "FieldId=\"404\""), 4u) << set.out;
  const std::string page = Dump({"1071"});
  // Every row of the list, the one named and the others.
  EXPECT_EQ(Count(page, R"(= "<Real FieldId=\"404\" Format=\"0.0\" Alignment=\"0\" )"
                        R"(VerticalAlignment=\"0\" Index=)"),
            6u)
      << page;
}

// The named row shows the template's alignments already: it keeps its
// record. The other rows' records set none of their own, so each takes the
// named row's alignments explicitly, once: asked again, nothing changes.
TEST_F(KxqhostFieldPropertiesTest, TheOtherRowsOfAListAreComparedAsStored) {
  const std::string request =
      "<SetFieldFormat PageId=\"1071\" Alignment=\"0\" VerticalAlignment=\"0\">"
      "<FieldId ID=\"404\" Index=\"1\"/></SetFieldFormat>";
  const Outcome set = Request("SetFieldFormat", request);
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.out.find("== store changed #1071: Fields\n"), std::string::npos) << set.out;
  EXPECT_EQ(Count(set.out, "<ShowRealField PageId=\"1071\" FieldId=\"404\""), 5u) << set.out;
  const std::string page = Dump({"1071"});
  EXPECT_EQ(Count(page, R"(= "<Real FieldId=\"404\" Alignment=\"0\" VerticalAlignment=\"0\" )"
                        R"(Index=)"),
            5u)
      << page;
  EXPECT_EQ(Count(page, R"(= "<Real FieldId=\"404\" Index=\"1\"/>")"), 1u) << page;
  const Outcome again = Request("SetFieldFormat", request);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.find("== event"), std::string::npos) << again.out;
  EXPECT_EQ(Dump({"1071"}), page);
}

TEST_F(KxqhostFieldPropertiesTest, PropertiesOfAFieldWithAndWithoutAValue) {
  const Outcome with =
      Request("GetFieldProperties", "<GetFieldProperties PageId=\"1011\" FieldId=\"103\"/>");
  ASSERT_EQ(with.status, 0) << with.err;
  EXPECT_NE(with.out.find("Class=\"Pump\" Type=\"Real\" Attribute=\"Pump: RatedFlow\""),
            std::string::npos)
      << with.out;
  EXPECT_NE(with.out.find("Value=\"385\""), std::string::npos) << with.out;
  EXPECT_NE(with.out.find("<RealData>"), std::string::npos) << with.out;
  EXPECT_EQ(with.out.find("== event"), std::string::npos);
}

// The requested rows are visited in the order of their key texts ("402:10"
// before "402:9"); the questions still come row by row.
TEST_F(KxqhostFieldPropertiesTest, QuestionsAboutRowsComeInTheRowsOrder) {
  std::string steps;
  const char* const objects[] = {"111", "112", "121", "122", "123"};
  for (int row = 6; row <= 10; ++row) {
    steps +=
        "request ShowFieldObjects <<END\n<XMLMessage TargetId=\"1007\" Status=\"1\">"
        "<ShowFieldObjects PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" Index=\"" +
        std::to_string(row) + "\" ObjectId=\"" + objects[row - 6] +
        "\"/></ShowFieldObjects></XMLMessage>\nEND\n";
  }
  const Outcome run = Run(steps +
                          "request DeleteFieldObjects <<END\n<XMLMessage TargetId=\"1007\" "
                          "Status=\"1\"><DeleteFieldObjects PageId=\"1071\"><Field FieldId=\"402\" "
                          "Index=\"10\"/><Field FieldId=\"402\" Index=\"9\"/></DeleteFieldObjects>"
                          "</XMLMessage>\nEND\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("FieldId=\"402\" Index=\"9\" ObjectId=\"122\"/><Message "
                         "MessageType=\"QUESTION\" Text=\"Delete object HeatExchanger: E-103\" "
                         "FieldId=\"402\" Index=\"10\" ObjectId=\"123\"/></XMLMessage>"),
            std::string::npos)
      << run.out;
}

// A list page whose root entry of "NodeIndices" is gone has no rows,
// whatever "NodeObjects" still holds: a row of it reads nothing, as a row
// past the end does. Row 1 is not the header object (its name locked
// here), and no object left in "NodeObjects" is taken for row 2 and
// deleted.
TEST_F(KxqhostFieldPropertiesTest, ARowOfAListWithoutRowsReadsNothing) {
  const std::string envelope = "<XMLMessage TargetId=\"1007\" Status=\"1\">";
  const Outcome run =
      Run("request SetFieldStatus <<END\n" + envelope +
          "<SetFieldStatus PageId=\"1071\" IsLocked=\"1\"><FieldId ID=\"401\"/></SetFieldStatus>"
          "</XMLMessage>\nEND\n"
          "set 1071 NodeIndices[2]\n"
          "request GetFieldProperties <<END\n" +
          envelope +
          "<GetFieldProperties PageId=\"1071\" FieldId=\"402\" Index=\"1\"/></XMLMessage>\nEND\n"
          "request GetFieldStatus <<END\n" +
          envelope +
          "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"402\" Index=\"1\"/></GetFieldStatus>"
          "</XMLMessage>\nEND\n"
          "request DeleteFieldObjects <<END\n" +
          envelope +
          "<DeleteFieldObjects PageId=\"1071\"><Field FieldId=\"402\" Index=\"2\"/>"
          "</DeleteFieldObjects></XMLMessage>\nEND\n"
          "request DeleteFieldObjects <<END\n" +
          envelope +
          "<DeleteFieldObjects PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" Index=\"2\"/>"
          "</DeleteFieldObjects></XMLMessage>\nEND\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t properties = run.out.find("<PopProperties ");
  ASSERT_NE(properties, std::string::npos) << run.out;
  const std::string popProperties =
      run.out.substr(properties, run.out.find('\n', properties) - properties);
  EXPECT_NE(popProperties.find(" Value=\"\" "), std::string::npos) << popProperties;
  EXPECT_NE(popProperties.find(" Lock=\"0\" "), std::string::npos) << popProperties;
  EXPECT_NE(run.out.find("<PopStatus PageId=\"1071\" Lock=\"0\" "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<Message MessageType=\"ALERT\" Text=\"No objects exist for selected "
                         "field(s)\""),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("QUESTION"), std::string::npos) << run.out;
  EXPECT_NE(Dump({"101"}).find("Name = \"P-101A\""), std::string::npos);
}

// The change event of fields on a list without rows tells of its rows as of
// rows past the end: removed, with no field element read from the header
// object that the row's position would name. The fixed field is written.
TEST_F(KxqhostFieldPropertiesTest, TheEventOfAListWithoutRowsRemovesItsRows) {
  const Outcome run =
      Run("set 1071 NodeIndices[2]\n"
          "request SetFieldStatus <<END\n<XMLMessage TargetId=\"1007\" Status=\"1\">"
          "<SetFieldStatus PageId=\"1071\" IsLocked=\"0\" IsHeld=\"0\" IsSecured=\"0\">"
          "<FieldId ID=\"401\"/><FieldId ID=\"402\" Index=\"0\"/><FieldId ID=\"404\" Index=\"1\"/>"
          "</SetFieldStatus></XMLMessage>\nEND\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.out, "== event DataField"), 1u) << run.out;
  EXPECT_NE(run.out.find("<RemoveRow Index=\"0\" PageId=\"1071\"/>"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<RemoveRow Index=\"1\" PageId=\"1071\"/>"), std::string::npos) << run.out;
  EXPECT_EQ(Count(run.out, "<RemoveRow "), 2u) << run.out;
  EXPECT_EQ(Count(run.out, "<ShowStringField "), 1u) << run.out;
  EXPECT_NE(run.out.find("<ShowStringField PageId=\"1071\" FieldId=\"401\" "), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("<ShowRealField "), std::string::npos) << run.out;
}

// Nor is a row of it written to a header object: locking row 1 fails as on
// a row past the end (no class given to make its object), and the globals
// object at "NodeObjects" position 1 keeps its name unlocked.
TEST_F(KxqhostFieldPropertiesTest, ARowOfAListWithoutRowsIsNoHeaderObjectToLock) {
  const std::string envelope = "<XMLMessage TargetId=\"1007\" Status=\"1\">";
  const Outcome run =
      Run("set 1071 NodeIndices[2]\n"
          "! request SetFieldStatus <<END\n" +
          envelope +
          "<SetFieldStatus PageId=\"1071\" IsLocked=\"1\"><FieldId ID=\"402\" Index=\"1\"/>"
          "</SetFieldStatus></XMLMessage>\nEND\n"
          "request GetFieldProperties <<END\n" +
          envelope + "<GetFieldProperties PageId=\"1071\" FieldId=\"401\"/></XMLMessage>\nEND\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Assert Field Error: Failed to assert continuous list field 402 in "
                         "template page Equipment list"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("== store changed #1:"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("== event"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" Value=\"CDU-1 Crude Distillation Unit\" "), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(" Lock=\"0\" "), std::string::npos) << run.out;
}

// A list without rows has no row to take an object from: the globals
// object, whose class event finds it on the list page as no member of the
// list, stays the page's header object, and the page keeps its entries.
TEST_F(KxqhostFieldPropertiesTest, AClassEventLeavesTheHeaderOfAListWithoutRows) {
  const Outcome run = Run("set 1071 NodeIndices[2]\nevent --local 8 1\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("== store changed #1071: Fields"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("== event"), std::string::npos) << run.out;
  const std::string page = Dump({"1071"});
  EXPECT_NE(page.find("NodeObjects[1] = #1\nNodeObjects[2] = #101\n"), std::string::npos) << page;
  EXPECT_NE(page.find("NodeIndices[1] = 1\n"), std::string::npos) << page;
  EXPECT_NE(page.find(R"(Fields[25] = "<Real FieldId=\"405\" Index=\"5\"/>")"), std::string::npos)
      << page;
}

// The pump datasheet grown by a field 99 beside field 101 on page P1's pump
// node, and with page P2's pump node attached to the pump's base class.
// Of fields 99 and 101 on one node the first key text, "101:-1", yields the
// question. Page 1012's node takes a pump, but not as the template's class
// itself: it is no place for the primary object, neither as a field that
// could show it nor when the pump is shown on page 1011.
TEST_F(KxqhostFieldPropertiesTest, FieldObjectsGoByKeyTextAndByTheNodesOwnClasses) {
  std::ifstream file(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string fixture = text.str();
  const std::string field =
      "<field id=\"108\" type=\"Real\" attribute=\"NPSHAvailable\" case=\"0\" revision=\"7\" "
      "unit=\"4\"/>";
  const std::string node =
      "<page id=\"P2\" name=\"Mechanical and driver\" revisions=\"9\">\n"
      "        <node name=\"Pump\" index=\"0\" classes=\"Pump\">";
  ASSERT_NE(fixture.find(field), std::string::npos);
  fixture.insert(fixture.find(field) + field.size(),
                 "<field id=\"99\" type=\"String\" attribute=\"Service\" case=\"0\"/>");
  ASSERT_NE(fixture.find(node), std::string::npos);
  fixture.replace(fixture.find(node), node.size(),
                  node.substr(0, node.find("\"Pump\">")) + "\"ProcessPlantEquipment\">");
  const std::string path = Store() + ".xml";
  std::ofstream(path) << fixture;
  for (const char* end : {"", "-wal", "-shm"}) std::remove((Store() + end).c_str());
  const Outcome made = Host({"init", "--fixture", path});
  ASSERT_EQ(made.status, 0) << made.err;

  const std::string envelope = "<XMLMessage TargetId=\"1001\" Status=\"1\">";
  const Outcome run =
      Run("request HideFieldObjects <<END\n" + envelope +
          "<HideFieldObjects PageId=\"1011\"><Field FieldId=\"99\"/><Field FieldId=\"101\"/>"
          "</HideFieldObjects></XMLMessage>\nEND\n"
          "set 1011 NodeIndices[1]\nset 1012 NodeIndices[1]\n"
          "request ShowPrimaryObjects <<END\n" +
          envelope +
          "<ShowPrimaryObjects PageId=\"1012\"><Field FieldId=\"201\"/></ShowPrimaryObjects>"
          "</XMLMessage>\nEND\n"
          "request ShowFieldObjects <<END\n" +
          envelope +
          "<ShowFieldObjects PageId=\"1011\" Confirmed=\"1\"><Field FieldId=\"101\" "
          "ObjectId=\"101\"/></ShowFieldObjects></XMLMessage>\nEND\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("<Message MessageType=\"QUESTION\" Text=\"Hide object Pump: P-101A\" "
                         "FieldId=\"101\" Index=\"-1\" ObjectId=\"101\"/></XMLMessage>"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("<ShowPrimaryObjects></ShowPrimaryObjects>"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("== store changed #1011: NodeIndices\n"), std::string::npos) << run.out;
  EXPECT_EQ(Count(run.out, "== store changed #1012"), 1u) << run.out;
  const std::string pages = Dump({"1011", "1012"});
  EXPECT_NE(pages.find("NodeObjects[1] = #101\nNodeIndices[1] = 1\n"), std::string::npos) << pages;
  EXPECT_NE(pages.find("NodeIndices[1] = (empty)\n"), std::string::npos) << pages;
}

// The field-object messages tell no client: a row shown on the summary list
// changes the page and raises no event.
TEST_F(KxqhostFieldPropertiesTest, AnObjectShownAsARowOfAListRaisesNoEvent) {
  const Outcome shown = Host({"--events", "request", "ShowFieldObjects", "-"},
                             "<XMLMessage TargetId=\"1007\" Status=\"1\"><ShowFieldObjects "
                             "PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" "
                             "Index=\"6\" ObjectId=\"111\"/></ShowFieldObjects></XMLMessage>");
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "== store changed #1071: NodeObjects, Fields, Revisions\n"
            "== current datasheet none, page none\n")
      << shown.out;
  EXPECT_NE(Dump({"1071"}).find("NodeObjects[8] = #111\n"), std::string::npos);
}

// Field 401 of the pump summary's list page stands outside the rows (the
// plant's name on the globals object). Addressed with a row, the status,
// properties and format messages refuse it, reading as setting: no row
// object's value is locked or read in its place, and no other field's entry
// of "Fields" takes its record or answers for it.
TEST_F(KxqhostFieldPropertiesTest, AFixedFieldOfTheListAddressedWithARowIsRefused) {
  const std::string before = Dump({"1", "101", "102", "103", "1071"});
  const std::string requests[][2] = {
      {"GetFieldStatus",
       "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"401\" Index=\"2\"/></GetFieldStatus>"},
      {"GetFieldProperties", "<GetFieldProperties PageId=\"1071\" FieldId=\"401\" Index=\"2\"/>"},
      {"GetFieldFormat",
       "<GetFieldFormat PageId=\"1071\"><FieldId ID=\"404\" Index=\"2\"/>"
       "<FieldId ID=\"401\" Index=\"2\"/></GetFieldFormat>"},
      {"SetFieldStatus",
       "<SetFieldStatus PageId=\"1071\" IsLocked=\"1\"><FieldId ID=\"401\" Index=\"1\"/>"
       "</SetFieldStatus>"},
      {"SetFieldProperties",
       "<SetFieldProperties PageId=\"1071\" FieldId=\"401\" Index=\"0\" IsLocked=\"0\" "
       "IsSecured=\"0\" IsHeld=\"0\" Alignment=\"2\"/>"},
      {"SetFieldFormat",
       "<SetFieldFormat PageId=\"1071\" Alignment=\"1\"><FieldId ID=\"401\" Index=\"0\"/>"
       "</SetFieldFormat>"}};
  for (const auto& request : requests) {
    const Outcome refused = Request(request[0], request[1]);
    EXPECT_EQ(refused.status, 1) << request[0] << "\n" << refused.out;
    EXPECT_NE(refused.err.find(" Field 401 not found in continuous template Equipment "
                               "summary:Equipment list "),
              std::string::npos)
        << request[0] << "\n"
        << refused.err;
    EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
    EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(Dump({"1", "101", "102", "103", "1071"}), before);

  // Without a row it is the one field, in its own entry.
  const Outcome read = Request(
      "GetFieldProperties", "<GetFieldProperties PageId=\"1071\" FieldId=\"401\" Index=\"-1\"/>");
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find(" Class=\"GlobalsClass\" "), std::string::npos) << read.out;
  EXPECT_NE(read.out.find(" Value=\"CDU-1 Crude Distillation Unit\" "), std::string::npos)
      << read.out;
  const Outcome fixed = Request("SetFieldFormat",
                                "<SetFieldFormat PageId=\"1071\" Alignment=\"1\">"
                                "<FieldId ID=\"401\"/></SetFieldFormat>");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  const std::string page = Dump({"1071"});
  EXPECT_NE(page.find(R"(Fields[1] = "<String FieldId=\"401\" Alignment=\"1\")"), std::string::npos)
      << page;
  EXPECT_EQ(Count(page, R"(FieldId=\"401\")"), 1u) << page;
}

// And a list column addressed without a row: locking field 404 at row -1
// would lock row 0's design pressure (pump 101) in its place. It is
// refused; the fixed field 401 keeps -1 as its own row.
TEST_F(KxqhostFieldPropertiesTest, AListColumnWithoutARowIsNotLocked) {
  const Outcome refused = Request("SetFieldStatus",
                                  "<SetFieldStatus PageId=\"1071\" IsLocked=\"1\">"
                                  "<FieldId ID=\"404\" Index=\"-1\"/></SetFieldStatus>");
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.err.find("<KXError Desc=\"Field 404 of page 1071 is a list column: row -1 "
                             "is no row of the list\""),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
  EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;

  const Outcome fixed = Request("SetFieldStatus",
                                "<SetFieldStatus PageId=\"1071\" IsLocked=\"1\">"
                                "<FieldId ID=\"401\" Index=\"-1\"/></SetFieldStatus>");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  const Outcome read = Request("GetFieldStatus",
                               "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"401\"/>"
                               "<FieldId ID=\"404\" Index=\"0\"/></GetFieldStatus>");
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("<PopStatus PageId=\"1071\" Lock=\"2\" "), std::string::npos) << read.out;
}

// "SetFieldProperties" refuses a list column without a row the same way
// when it asks for a lock, a secure or a hold (any row, -3 too), which would
// reach row 0 (pump 101's design pressure) in its place, also when it asks
// for a presentation beside it. With a row the request goes through; the
// fixed field 401 keeps -1 as its own row.
TEST_F(KxqhostFieldPropertiesTest, SetFieldPropertiesRefusesAListColumnWithoutARow) {
  const std::string before = Dump({"101", "102", "1071"});
  for (const char* asked : {" IsLocked=\"1\"", " IsSecured=\"1\"", " IsHeld=\"1\" HoldId=\"1191\"",
                            " IsLocked=\"0\" IsSecured=\"0\" IsHeld=\"0\" Alignment=\"2\"",
                            " IsLocked=\"0\" IsSecured=\"0\" IsHeld=\"0\" RealFormat=\"0.000\"",
                            " Index=\"-3\" IsSecured=\"0\""}) {
    const Outcome refused =
        Request("SetFieldProperties",
                std::string("<SetFieldProperties PageId=\"1071\" FieldId=\"404\"") + asked + "/>");
    EXPECT_EQ(refused.status, 1) << asked << "\n" << refused.out;
    const std::string row = std::string(asked).find("-3") != std::string::npos ? "-3" : "-1";
    EXPECT_NE(refused.err.find("<KXError Desc=\"Field 404 of page 1071 is a list column: row " +
                               row + " is no row of the list\""),
              std::string::npos)
        << asked << "\n"
        << refused.err;
    EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
    EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(Dump({"101", "102", "1071"}), before);

  for (const char* field : {"404\" Index=\"0", "401"}) {
    const Outcome locked = Request("SetFieldProperties",
                                   std::string("<SetFieldProperties PageId=\"1071\" FieldId=\"") +
                                       field + "\" IsLocked=\"1\"/>");
    ASSERT_EQ(locked.status, 0) << field << "\n" << locked.err;
  }
  const Outcome read = Request("GetFieldStatus",
                               "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"401\"/>"
                               "<FieldId ID=\"404\" Index=\"0\"/></GetFieldStatus>");
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("<PopStatus PageId=\"1071\" Lock=\"1\" "), std::string::npos) << read.out;
}

// A value is held by a hold: "HoldId" naming a pump, or no object, is
// refused by both messages where it would hold a value, before the lock
// they also ask for is set. A hold still holds the value.
TEST_F(KxqhostFieldPropertiesTest, AHoldIdThatNamesNoHoldIsRefused) {
  const struct {
    const char* holdId;
    const char* error;
  } cases[] = {{"101", "Object 101 is a Pump, not a hold"}, {"99999", "No object with id 99999"}};
  for (const auto& c : cases) {
    const std::string asks =
        std::string(" IsLocked=\"1\" IsHeld=\"1\" HoldId=\"") + c.holdId + "\"";
    const Outcome properties = Request(
        "SetFieldProperties", "<SetFieldProperties PageId=\"1011\" FieldId=\"104\"" + asks + "/>");
    const Outcome status = Request("SetFieldStatus", "<SetFieldStatus PageId=\"1011\"" + asks +
                                                         "><FieldId ID=\"104\"/></SetFieldStatus>");
    for (const Outcome* refused : {&properties, &status}) {
      EXPECT_EQ(refused->status, 1) << c.holdId << "\n" << refused->out;
      EXPECT_EQ(refused->err.rfind(std::string("<KXError Desc=\"") + c.error + "\"", 0), 0u)
          << refused->err;
      EXPECT_EQ(refused->out.find("== store changed"), std::string::npos) << refused->out;
    }
  }
  const std::string ask = "<GetFieldProperties PageId=\"1011\" FieldId=\"104\"/>";
  EXPECT_NE(Request("GetFieldProperties", ask)
                .out.find("Lock=\"0\" Secure=\"0\" Hold=\"0\" HoldReason=\"\""),
            std::string::npos);
  ASSERT_EQ(
      Request("SetFieldProperties",
              "<SetFieldProperties PageId=\"1011\" FieldId=\"104\" IsHeld=\"1\" HoldId=\"1191\"/>")
          .status,
      0);
  EXPECT_NE(Request("GetFieldProperties", ask)
                .out.find("Hold=\"1\" HoldReason=\"HOLD-01 Pump curves awaited from vendor: \""),
            std::string::npos);
}

// Where no hold is applied "HoldId" is not read: a value already held keeps
// its hold, and the lock and secure asked beside it are set, with the event
// of each listed field, whatever object "HoldId" names.
TEST_F(KxqhostFieldPropertiesTest, AHoldIdIsReadOnlyWhereAHoldIsApplied) {
  const Outcome held = Request("SetFieldStatus",
                               "<SetFieldStatus PageId=\"1061\" IsHeld=\"1\" HoldId=\"1191\">"
                               "<FieldId ID=\"502\"/></SetFieldStatus>");
  ASSERT_EQ(held.status, 0) << held.err;
  const Outcome locked = Request("SetFieldStatus",
                                 "<SetFieldStatus PageId=\"1061\" IsLocked=\"1\" IsHeld=\"1\" "
                                 "HoldId=\"101\"><FieldId ID=\"502\"/></SetFieldStatus>");
  ASSERT_EQ(locked.status, 0) << locked.err;
  EXPECT_EQ(Count(locked.out, "== event DataField [F1 1061] to bob\n"), 1u) << locked.out;
  EXPECT_NE(locked.out.find("<ShowStringField PageId=\"1061\" FieldId=\"502\""), std::string::npos)
      << locked.out;
  const Outcome secured = Request("SetFieldProperties",
                                  "<SetFieldProperties PageId=\"1061\" FieldId=\"502\" "
                                  "IsSecured=\"1\" IsHeld=\"1\" HoldId=\"99999\"/>");
  ASSERT_EQ(secured.status, 0) << secured.err;
  EXPECT_NE(Request("GetFieldProperties", "<GetFieldProperties PageId=\"1061\" FieldId=\"502\"/>")
                .out.find("Lock=\"1\" Secure=\"1\" Hold=\"1\" HoldReason=\"HOLD-01 Pump "
                          "curves awaited from vendor: \""),
            std::string::npos);
  // "HoldId" 0 holds nothing: it is not looked up either.
  const Outcome none = Request("SetFieldStatus",
                               "<SetFieldStatus PageId=\"1061\" IsLocked=\"1\" IsHeld=\"1\" "
                               "HoldId=\"0\"><FieldId ID=\"501\"/></SetFieldStatus>");
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_NE(Request("GetFieldProperties", "<GetFieldProperties PageId=\"1061\" FieldId=\"501\"/>")
                .out.find("Lock=\"1\" Secure=\"0\" Hold=\"0\" HoldReason=\"\""),
            std::string::npos);
}

// A list column's presentation without a row is the column's record, which
// every row shows: stored once, one event, no row's value touched.
TEST_F(KxqhostFieldPropertiesTest, AListColumnsPresentationWithoutARowReachesEveryRow) {
  const std::string pumps = Dump({"101", "102", "103", "104", "105", "106"});
  const Outcome set = Request("SetFieldProperties",
                              "<SetFieldProperties PageId=\"1071\" FieldId=\"404\" "
                              "Alignment=\"2\" RealFormat=\"0.0\"/>");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.out.find("== store changed #1071: Fields\n"), std::string::npos) << set.out;
  EXPECT_EQ(Count(set.out, "== event DataField [F1 1071] to bob\n"), 1u) << set.out;
  EXPECT_EQ(Dump({"101", "102", "103", "104", "105", "106"}), pumps);
  const Outcome page = Host({"request", "OpenPage", "-"}, "1071");
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(Count(page.out, "FieldId=\"404\" Format=\"0.0\" Alignment=\"2\" "), 6u) << page.out;
}

// A row taken off the list tells the list's users of every row it moved
// and of the row that is gone: row 1 (pump 102) leaves the page with its
// field values, rows 1 to 4 show the pumps that moved up, row 5 is gone.
TEST_F(KxqhostFieldPropertiesTest, AnObjectHiddenFromAListTellsTheRowsItMoved) {
  const Outcome hidden = Host({"--events", "request", "HideFieldObjects", "-"},
                              "<XMLMessage TargetId=\"1007\" Status=\"1\"><HideFieldObjects "
                              "PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" "
                              "Index=\"1\"/></HideFieldObjects></XMLMessage>");
  ASSERT_EQ(hidden.status, 0) << hidden.err;
  EXPECT_NE(hidden.out.find("== store changed #1071: Fields, Revisions, NodeObjects\n"),
            std::string::npos)
      << hidden.out;
  EXPECT_EQ(Count(hidden.out, "== event DataField [F1 1071] to bob\n"), 1u) << hidden.out;
  EXPECT_EQ(Count(hidden.out, "<ShowStringField PageId=\"1071\" FieldId=\"402\""), 4u)
      << hidden.out;
  EXPECT_NE(hidden.out.find("Value=\"P-102A\" Index=\"1\"/>"), std::string::npos) << hidden.out;
  EXPECT_NE(hidden.out.find("<RemoveRow Index=\"5\" PageId=\"1071\"/>"), std::string::npos)
      << hidden.out;
  const std::string page = Dump({"1071"});
  EXPECT_EQ(page.find("#102\n"), std::string::npos) << page;
  EXPECT_NE(page.find("NodeObjects[3] = #103\n"), std::string::npos) << page;
}

// Fields 402 and 403 of row 1 both stand for pump 102: the question comes
// per field, but the pump is deleted once (a second delete failed the whole
// request), beside pump 104 of row 3. Both rows leave the list, and the
// summary's users hear of the rows that moved up and the two that are gone.
TEST_F(KxqhostFieldPropertiesTest, TwoFieldsOfOneRowDeleteTheirObjectOnce) {
  const std::string fields =
      "<Field FieldId=\"402\" Index=\"1\"/><Field FieldId=\"403\" Index=\"1\"/>"
      "<Field FieldId=\"404\" Index=\"3\"/></DeleteFieldObjects>";
  const Outcome asked =
      Request("DeleteFieldObjects", "<DeleteFieldObjects PageId=\"1071\">" + fields);
  ASSERT_EQ(asked.status, 0) << asked.err;
  EXPECT_EQ(Count(asked.out, "Text=\"Delete object Pump: P-101B\""), 2u) << asked.out;
  EXPECT_EQ(Count(asked.out, "ObjectId=\"104\"/>"), 1u) << asked.out;

  const Outcome deleted = Request("DeleteFieldObjects",
                                  "<DeleteFieldObjects PageId=\"1071\" Confirmed=\"1\">" + fields);
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(deleted.out.find("<XMLMessage TargetId=\"Editor\""), std::string::npos) << deleted.out;
  EXPECT_EQ(Count(deleted.out, "== event "), 1u) << deleted.out;
  EXPECT_NE(deleted.out.find("== event DataField [F1 1071] to bob\n"), std::string::npos)
      << deleted.out;
  EXPECT_NE(deleted.out.find("Value=\"P-102A\" Index=\"1\"/>"), std::string::npos) << deleted.out;
  EXPECT_NE(deleted.out.find("Value=\"P-104\" Index=\"3\"/>"), std::string::npos) << deleted.out;
  EXPECT_NE(deleted.out.find("Value=\"180\" Index=\"3\"/>\n<RemoveRow Index=\"4\" "
                             "PageId=\"1071\"/>\n<RemoveRow Index=\"5\" PageId=\"1071\"/>"
                             "</XMLMessage>"),
            std::string::npos)
      << deleted.out;
  for (const char* gone : {"102", "104"}) {
    const Outcome dumped = Host({"dump", gone});
    EXPECT_NE(dumped.status, 0) << gone;
    EXPECT_NE(dumped.err.find(std::string("No object with id ") + gone), std::string::npos)
        << dumped.err;
  }
  const std::string page = Dump({"1071"});
  EXPECT_NE(page.find("NodeObjects[1] = #1\nNodeObjects[2] = #101\nNodeObjects[3] = #103\n"
                      "NodeObjects[4] = #105\nNodeObjects[5] = #106\nNodeIndices[1]"),
            std::string::npos)
      << page;
  EXPECT_EQ(Count(page, R"(Fields[)"), 17u) << page;
  EXPECT_NE(page.find(R"(Fields[17] = "<Real FieldId=\"405\" State=\"0\" Index=\"3\"/>")"),
            std::string::npos)
      << page;
}

// Page 1071 stands as row 0 of its own list, before pumps 103, 104 and 106
// (rows 2, 3 and 5). Deleted in one request, they leave the store as their
// deletes one at a time leave it: the page takes its own row off as it
// goes, and the pumps leave the other pages that showed them.
TEST_F(KxqhostFieldPropertiesTest, AListPageThatIsItsOwnFirstDeletedRowGoesAsRowByRow) {
  const std::string rowZero = "set 1071 NodeObjects[2] #1071\n";
  const std::vector<std::string> kept{"1007", "1031", "1032", "1091", "101", "102", "105"};
  const std::string before = Dump(kept);
  const Outcome batch = Run(rowZero + R"(request DeleteFieldObjects <<END
<XMLMessage TargetId="1007" Status="1"><DeleteFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="0"/><Field FieldId="402" Index="2"/><Field FieldId="402" Index="3"/><Field FieldId="402" Index="5"/></DeleteFieldObjects></XMLMessage>
END
)");
  ASSERT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(Count(batch.out, "== event "), 1u) << batch.out;
  EXPECT_NE(batch.out.find("== event DataField [F1 1071] to bob\n"), std::string::npos)
      << batch.out;
  const std::string after = Dump(kept);
  EXPECT_NE(after, before);
  EXPECT_EQ(after.find("#1071\n"), std::string::npos) << after;
  for (const char* gone : {"1071", "103", "104", "106"}) EXPECT_NE(Host({"dump", gone}).status, 0);

  const std::string other = dir_ / "one-by-one.db";
  const std::string plant = std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml";
  ASSERT_EQ(Bare({"--store", other, "init", "--fixture", plant}).status, 0);
  std::ofstream(dir_ / "one-by-one.kxq")
      << rowZero + "delete 1071\ndelete 103\ndelete 104\ndelete 106\n";
  const Outcome alone = Bare({"--store", other, "run", dir_ / "one-by-one.kxq"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  std::vector<std::string> dump{"--store", other, "dump"};
  dump.insert(dump.end(), kept.begin(), kept.end());
  EXPECT_EQ(Bare(dump).out, after);
}

// Several rows of the summary's list shown, hidden and deleted in one
// request each, named out of field and row order: each row comes in before
// the row it is named for, with that row's records (the format of pump
// 104's field 405 too), and every row keeps its own records wherever it
// moves; rows go and come without an event, but the deletes' rows are told.
TEST_F(KxqhostFieldPropertiesTest, ManyRowsOfAListComeAndGoWithTheirRecords) {
  const std::string envelope = "<XMLMessage TargetId=\"1007\" Status=\"1\">";
  const Outcome run = Run(
      R"(set 1071 Fields[8] "<Real FieldId=\"404\" Index=\"1\" Format=\"g1\"/>"
set 1071 Fields[17] "<Real FieldId=\"405\" Index=\"3\" Format=\"0.00\"/>"
request ShowFieldObjects <<END
)" + envelope +
      R"(<ShowFieldObjects PageId="1071" Confirmed="1"><Field FieldId="403" Index="0" ObjectId="111"/><Field FieldId="402" Index="6" ObjectId="112"/><Field FieldId="402" Index="3" ObjectId="121"/><Field FieldId="404" Index="2" ObjectId="101"/></ShowFieldObjects></XMLMessage>
END
dump 1071
request HideFieldObjects <<END
)" + envelope +
      R"(<HideFieldObjects PageId="1071" Confirmed="1"><Field FieldId="405" Index="1"/><Field FieldId="402" Index="8"/><Field FieldId="403" Index="4"/><Field FieldId="402" Index="8"/><Field FieldId="402" Index="0"/></HideFieldObjects></XMLMessage>
END
dump 1071
request DeleteFieldObjects <<END
)" + envelope +
      R"(<DeleteFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="4"/><Field FieldId="403" Index="0"/><Field FieldId="404" Index="2"/><Field FieldId="405" Index="0"/><Field FieldId="402" Index="3"/></DeleteFieldObjects></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t hide = run.out.find("## request HideFieldObjects");
  const size_t del = run.out.find("## request DeleteFieldObjects");
  ASSERT_NE(del, std::string::npos) << run.out;
  const std::string shown = run.out.substr(0, hide);
  const std::string hidden = run.out.substr(hide, del - hide);
  const std::string deleted = run.out.substr(del);
  // 101 is on the list already; 112 goes in last, before row 6 (106).
  EXPECT_NE(shown.find("== store changed #1071: NodeObjects, Fields, Revisions\n"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("NodeObjects[2] = #111\nNodeObjects[3] = #101\nNodeObjects[4] = #102\n"
                       "NodeObjects[5] = #103\nNodeObjects[6] = #121\nNodeObjects[7] = #104\n"
                       "NodeObjects[8] = #105\nNodeObjects[9] = #112\nNodeObjects[10] = #106\n"),
            std::string::npos)
      << shown;
  EXPECT_EQ(Count(shown, "Fields["), 2u + 37) << shown;
  EXPECT_NE(
      shown.find(R"(Fields[12] = "<Real FieldId=\"404\" Format=\"g1\" State=\"0\" Index=\"2\"/>")"),
      std::string::npos)
      << shown;
  EXPECT_NE(
      shown.find(
          R"(Fields[21] = "<Real FieldId=\"405\" Format=\"0.00\" State=\"0\" Index=\"4\"/>")"),
      std::string::npos)
      << shown;
  EXPECT_NE(
      shown.find(
          R"(Fields[25] = "<Real FieldId=\"405\" Format=\"0.00\" State=\"0\" Index=\"5\"/>")"),
      std::string::npos)
      << shown;
  EXPECT_EQ(Count(shown, "Revisions["), 37u) << shown;
  // Rows 0, 1, 4 and 8: pumps 111, 101, 121 and 106.
  EXPECT_NE(hidden.find("== store changed #1071: Fields, Revisions, NodeObjects\n"),
            std::string::npos)
      << hidden;
  EXPECT_NE(hidden.find("NodeObjects[1] = #1\nNodeObjects[2] = #102\nNodeObjects[3] = #103\n"
                        "NodeObjects[4] = #104\nNodeObjects[5] = #105\nNodeObjects[6] = #112\n"
                        "NodeIndices"),
            std::string::npos)
      << hidden;
  EXPECT_EQ(Count(hidden, "Fields["), 21u) << hidden;
  EXPECT_NE(
      hidden.find(R"(Fields[4] = "<Real FieldId=\"404\" Format=\"g1\" State=\"0\" Index=\"0\"/>")"),
      std::string::npos)
      << hidden;
  EXPECT_NE(
      hidden.find(
          R"(Fields[13] = "<Real FieldId=\"405\" Format=\"0.00\" State=\"0\" Index=\"2\"/>")"),
      std::string::npos)
      << hidden;
  EXPECT_EQ(Count(hidden, "Revisions["), 21u) << hidden;
  // Shown rows tell no client; the hidden ones tell of the rows that moved
  // up and the four that are gone.
  EXPECT_EQ(shown.find("== event"), std::string::npos) << shown;
  EXPECT_EQ(Count(hidden, "== event "), 1u) << hidden;
  EXPECT_NE(hidden.find("Value=\"PM-101B\" Index=\"4\"/>"), std::string::npos) << hidden;
  for (const char* row : {"5", "6", "7", "8"}) {
    EXPECT_NE(hidden.find("<RemoveRow Index=\"" + std::string(row) + "\" PageId=\"1071\"/>"),
              std::string::npos)
        << row << "\n"
        << hidden;
  }
  // Pumps 112, 102, 104 and 105 go; 103 is left, row 0.
  EXPECT_EQ(Count(deleted, "== event "), 1u) << deleted;
  EXPECT_NE(deleted.find("Value=\"P-102A\" Index=\"0\"/>"), std::string::npos) << deleted;
  EXPECT_NE(deleted.find("Value=\"176.6666666666667\" Index=\"0\"/>\n<RemoveRow Index=\"1\" "
                         "PageId=\"1071\"/>\n<RemoveRow Index=\"2\" PageId=\"1071\"/>\n<RemoveRow "
                         "Index=\"3\" PageId=\"1071\"/>\n<RemoveRow Index=\"4\" PageId=\"1071\"/>"
                         "</XMLMessage>"),
            std::string::npos)
      << deleted;
  const std::string page = Dump({"1071"});
  EXPECT_NE(page.find("NodeObjects[1] = #1\nNodeObjects[2] = #103\nNodeIndices"), std::string::npos)
      << page;
  EXPECT_EQ(Count(page, "Fields["), 5u) << page;
  for (const char* gone : {"102", "104", "105", "112"}) EXPECT_NE(Host({"dump", gone}).status, 0);
}

// Row 2 shows an object of a class outside the generic tree, whose
// deletion the host does not tell the module of: the store empties its
// slot and its row stays, records and all, while the rows of the pumps
// deleted around it go and are told.
TEST_F(KxqhostFieldPropertiesTest, ARowWhoseDeletionTheModuleIsNotToldOfStays) {
  std::ifstream in(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  std::stringstream plant;
  plant << in.rdbuf();
  std::string fixture = plant.str();
  const std::string globals = "    <class name=\"GlobalsClass\"";
  const std::string page = "    <object id=\"1071\" class=\"Page\"";
  ASSERT_NE(fixture.find(globals), std::string::npos);
  ASSERT_NE(fixture.find(page), std::string::npos);
  fixture.insert(fixture.find(globals),
                 "<class name=\"Loose\"><attribute name=\"Name\"/><attribute name=\"DataViews\" "
                 "type=\"object\" list=\"true\" inverse=\"NodeObjects\"/></class>\n");
  fixture.insert(fixture.find(page), "<object id=\"1900\" class=\"Loose\"/>\n");
  std::ofstream(dir_ / "loose.xml") << fixture;
  std::remove(Store().c_str());
  const Outcome made = Host({"init", "--fixture", dir_ / "loose.xml"});
  ASSERT_EQ(made.status, 0) << made.err;

  const Outcome run = Run(R"(set 1071 NodeObjects[4] #1900
request DeleteFieldObjects <<END
<XMLMessage TargetId="1007" Status="1"><DeleteFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="0"/><Field FieldId="402" Index="2"/><Field FieldId="402" Index="3"/><Field FieldId="402" Index="4"/></DeleteFieldObjects></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("<RemoveRow Index=\"3\" PageId=\"1071\"/>\n<RemoveRow Index=\"4\" "
                         "PageId=\"1071\"/>\n<RemoveRow Index=\"5\" PageId=\"1071\"/>"
                         "</XMLMessage>"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("<RemoveRow Index=\"2\""), std::string::npos) << run.out;
  const std::string dumped = Dump({"1071"});
  EXPECT_NE(dumped.find("NodeObjects[1] = #1\nNodeObjects[2] = #102\nNodeObjects[3] = (empty)\n"
                        "NodeObjects[4] = #106\nNodeIndices"),
            std::string::npos)
      << dumped;
  EXPECT_EQ(Count(dumped, "Fields["), 13u) << dumped;
  EXPECT_NE(dumped.find(R"(Fields[10] = "<String FieldId=\"402\" State=\"0\" Index=\"2\"/>")"),
            std::string::npos)
      << dumped;
}

// Row 3 of a list of 34 shows the summary's own datasheet. Deleted, it
// leaves the page without a datasheet, so the rows deleted after it tell
// nobody: only the first row's page event and the field events of the rows
// that went before it.
TEST_F(KxqhostFieldPropertiesTest, RowsDeletedAfterTheListsDatasheetTellNobody) {
  std::string steps;
  for (int i = 0; i < 28; ++i) steps += "create Pump\n";
  const Outcome run = Run(steps + R"(set 1071 NodeObjects[5] #1007
request DeleteFieldObjects <<END
<XMLMessage TargetId="1007" Status="1"><DeleteFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="0"/><Field FieldId="402" Index="3"/><Field FieldId="402" Index="29"/><Field FieldId="402" Index="30"/><Field FieldId="402" Index="31"/></DeleteFieldObjects></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string deleted = run.out.substr(run.out.find("## request DeleteFieldObjects"));
  EXPECT_EQ(Count(deleted, "== event "), 2u) << deleted;
  EXPECT_NE(deleted.find("== event DataField [F1 1071] to bob\n<?xml version=\"1.0\"?><XMLMessage "
                         "TargetId=\"0\" Status=\"1\">\n<RemoveRow Index=\"32\" PageId=\"1071\"/>"
                         "\n<RemoveRow Index=\"33\" PageId=\"1071\"/></XMLMessage>\n"),
            std::string::npos)
      << deleted;
  EXPECT_NE(Host({"dump", "1007"}).status, 0);
  EXPECT_EQ(Count(Dump({"1071"}), "NodeObjects["), 30u);
}

// A record that does not read stands in row 3. Hiding rows 2, 3 and 1 one
// at a time renumbers it as row 2 goes, before its own row goes: the
// request fails there and nothing is hidden.
TEST_F(KxqhostFieldPropertiesTest, AnUnreadableRecordOfAListFailsItsRowsHiddenBeforeIt) {
  const Outcome run = Run(R"(set 1071 Fields[14] "<Bogus FieldId=\"402\" Index=\"3\"/>"
! request HideFieldObjects <<END
<XMLMessage TargetId="1007" Status="1"><HideFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="2"/><Field FieldId="403" Index="3"/><Field FieldId="405" Index="1"/></HideFieldObjects></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Unknown field type"), std::string::npos) << run.err;
  const std::string page = Dump({"1071"});
  EXPECT_EQ(Count(page, "NodeObjects["), 7u) << page;
  EXPECT_EQ(Count(page, "Fields["), 25u) << page;
}

// The issued copy recorded 360 in m3/h; the current page has since turned
// to US gpm. The issued value keeps the issued copy's unit.
TEST_F(KxqhostFieldPropertiesTest, TheIssuedValueCarriesTheIssuedCopysUnit) {
  const Outcome run = Run(
      R"(set 1013 Fields[3] "<Real FieldId=\"103\" Format=\"0\" Value=\"360\"/>"
set 1011 Units[1] gpm
request GetFieldProperties <<END
<XMLMessage Status="1"><GetFieldProperties PageId="1011" FieldId="103"/></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t asked = run.out.find("## request GetFieldProperties");
  ASSERT_NE(asked, std::string::npos) << run.out;
  const std::string reply = run.out.substr(asked);
  EXPECT_NE(reply.find("Units=\"US gpm\" IssuedValue=\"360 (m³/h)\""), std::string::npos) << reply;
  EXPECT_EQ(reply.find("== store changed"), std::string::npos) << reply;
  EXPECT_EQ(reply.find("== event"), std::string::npos) << reply;
}

// After the issue of P-101A its fields are as issued: "GetFieldProperties"
// answers State 0, as the page does, and not the changed-since-issue bit
// for every field; a value changed since sets the bit in both answers.
TEST_F(KxqhostFieldPropertiesTest, TheChangedSinceIssueBitAgreesWithThePage) {
  const std::string requests = std::string(KXQHOST_SOURCE_DIR) + "/examples/requests/";
  const Outcome run = Run("request SubmitDocuments " + requests +
                          "submit-documents.xml\n"
                          "request CheckDocuments " +
                          requests +
                          "check-documents.xml\n"
                          "request IssueDocuments " +
                          requests + R"(issue-documents.xml
request GetFieldProperties <<END
<XMLMessage Status="1"><GetFieldProperties PageId="1011" FieldId="103"/></XMLMessage>
END
request GetFieldProperties <<END
<XMLMessage Status="1"><GetFieldProperties PageId="1011" FieldId="101"/></XMLMessage>
END
request OpenPage <<END
1011
END
request SetRealField <<END
<XMLMessage Status="1"><SetRealField PageId="1011" FieldId="103" Value="395"/></XMLMessage>
END
request GetFieldProperties <<END
<XMLMessage Status="1"><GetFieldProperties PageId="1011" FieldId="103"/></XMLMessage>
END
request OpenPage <<END
1011
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  // The field's element in the page that follows `from`.
  const auto shown = [&](size_t from) {
    const size_t page = run.out.find("## request OpenPage", from);
    const size_t at = run.out.find(R"(<ShowRealField PageId="1011" FieldId="103")", page);
    return at == std::string::npos ? std::string() : run.out.substr(at, run.out.find('>', at) - at);
  };
  const size_t issued = run.out.find("## request GetFieldProperties");
  const size_t changed = run.out.find("## request SetRealField");
  ASSERT_NE(changed, std::string::npos) << run.out;
  const std::string before = run.out.substr(issued, changed - issued);
  EXPECT_NE(before.find(R"x(Value="385" Units="m³/h" IssuedValue="385 (m³/h)" State="0")x"),
            std::string::npos)
      << before;
  EXPECT_NE(before.find(R"(Value="P-101A" Units="" IssuedValue="P-101A" State="0")"),
            std::string::npos)
      << before;
  EXPECT_NE(shown(issued).find(R"( State="0" Value="385")"), std::string::npos) << shown(issued);
  EXPECT_NE(
      run.out.find(R"x(Value="395" Units="m³/h" IssuedValue="385 (m³/h)" State="256")x", changed),
      std::string::npos)
      << run.out.substr(changed);
  EXPECT_NE(shown(changed).find(R"( State="256" Value="395")"), std::string::npos)
      << shown(changed);
}

// On a list every row shows its column's record: after the issue of the
// summary 1007, a format given to row 0 (its value unchanged) marks every
// row of the column changed since the issue, in the page and in
// "GetFieldProperties" alike.
TEST_F(KxqhostFieldPropertiesTest, TheChangedSinceIssueBitOfAListRowAgreesWithThePage) {
  std::string steps;
  for (const char* step : {"Submit", "Check", "Issue"}) {
    steps += std::string("request ") + step + "Documents <<END\n<XMLMessage Status=\"1\"><" + step +
             "Documents Confirmed=\"1\" Revision=\"B\"><Datasheet DocumentId=\"1007\"/></" + step +
             "Documents></XMLMessage>\nEND\n";
  }
  const std::string properties =
      "request GetFieldProperties <<END\n<XMLMessage Status=\"1\"><GetFieldProperties "
      "PageId=\"1071\" FieldId=\"404\" Index=\"%\"/></XMLMessage>\nEND\n";
  const auto ask = [&](int row) {
    std::string step = properties;
    return step.replace(step.find('%'), 1, std::to_string(row));
  };
  steps +=
      "request SetRealField <<END\n<XMLMessage Status=\"1\"><SetRealField PageId=\"1071\" "
      "FieldId=\"404\" Index=\"0\" Value=\"3200\" Format=\"0\"/></XMLMessage>\nEND\n"
      "request OpenPage <<END\n1071\nEND\n" +
      ask(1) + ask(5);
  const Outcome run = Run(steps);
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t opened = run.out.find("## request OpenPage");
  ASSERT_NE(opened, std::string::npos) << run.out;
  EXPECT_EQ(
      Count(run.out.substr(opened, run.out.find("## request GetFieldProperties", opened) - opened),
            R"(<ShowRealField PageId="1071" FieldId="404" Format="0" Alignment="0" )"
            R"(VerticalAlignment="0" State="256")"),
      6u)
      << run.out.substr(opened);
  // Rows 1 and 5, whose own records have no format.
  EXPECT_EQ(Count(run.out.substr(opened), R"x(IssuedValue="3200 (kPa)" State="256")x"), 1u)
      << run.out.substr(opened);
  EXPECT_EQ(Count(run.out.substr(opened), R"x(IssuedValue="1500 (kPa)" State="256")x"), 1u)
      << run.out.substr(opened);
}

// "GetFieldProperties" presents a list row as the page does: by its
// column's record (row 0's entry), whatever the row's own record says, and
// by the row's own where the column's entry is empty.
TEST_F(KxqhostFieldPropertiesTest, AListRowsPresentationAgreesWithThePage) {
  const std::string properties =
      "request GetFieldProperties <<END\n<XMLMessage Status=\"1\"><GetFieldProperties "
      "PageId=\"1071\" FieldId=\"%\"/></XMLMessage>\nEND\n";
  const auto ask = [&](const std::string& field) {
    std::string step = properties;
    return step.replace(step.find('%'), 1, field);
  };
  const Outcome run = Run(
      R"(set 1071 Fields[4] "<Real FieldId=\"404\" Index=\"0\" Format=\"0.0\" Alignment=\"2\"/>"
set 1071 Fields[12] "<Real FieldId=\"404\" Index=\"2\" Format=\"0.000\" Alignment=\"1\" VerticalAlignment=\"1\"/>"
set 1071 Fields[5]
set 1071 Fields[9] "<Real FieldId=\"405\" Index=\"1\" Format=\"0.00\" Alignment=\"1\"/>"
request OpenPage <<END
1071
END
)" + ask("404\" Index=\"1") +
      ask("404\" Index=\"2") + ask("405\" Index=\"1"));
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t opened = run.out.find("## request OpenPage");
  const size_t asked = run.out.find("## request GetFieldProperties", opened);
  ASSERT_NE(asked, std::string::npos) << run.out;
  const std::string page = run.out.substr(opened, asked - opened);
  EXPECT_EQ(Count(page, R"(FieldId="404" Format="0.0" Alignment="2" VerticalAlignment="0" )"), 6u)
      << page;
  EXPECT_NE(page.find(R"(FieldId="405" Format="0.00" Alignment="1" VerticalAlignment="0" )"
                      R"(State="256" Value="120" Index="1"/>)"),
            std::string::npos)
      << page;
  const std::string replies = run.out.substr(asked);
  EXPECT_EQ(Count(replies, R"(Alignment="2" VerticalAlignment="0" RealFormat="0.0" )"), 2u)
      << replies;
  EXPECT_EQ(Count(replies, R"(Alignment="1" VerticalAlignment="0" RealFormat="0.00" )"), 1u)
      << replies;
}

// Row 1 of the summary's list has a format and a vertical alignment of its
// own: with the request's alignment they reach every other row.
TEST_F(KxqhostFieldPropertiesTest, TheOtherRowsTakeTheNamedRowsWholePresentation) {
  const Outcome run = Run(
      R"(set 1071 Fields[8] "<Real FieldId=\"404\" Index=\"1\" Format=\"g1\" VerticalAlignment=\"1\"/>"
request SetFieldFormat <<END
<XMLMessage Status="1"><SetFieldFormat PageId="1071" Alignment="2"><FieldId ID="404" Index="1"/></SetFieldFormat></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("== event DataField [F1 1071] to bob\n"), std::string::npos) << run.out;
  EXPECT_EQ(Count(run.out,
                  "<ShowRealField PageId=\"1071\" FieldId=\"404\" Format=\"g1\" "
                  "Alignment=\"2\" VerticalAlignment=\"1\" "),
            6u)
      << run.out;
  const std::string page = Dump({"1071"});
  EXPECT_EQ(Count(page, R"(= "<Real FieldId=\"404\" Format=\"g1\" Alignment=\"2\" )"
                        R"(VerticalAlignment=\"1\" Index=)"),
            6u)
      << page;
}

// Field 101 is stored as <String FieldId="101"/> and shows alignments 0 and
// 0 from its template: asked for those, nothing is stored or told.
TEST_F(KxqhostFieldPropertiesTest, ThePresentationAFieldAlreadyShowsIsNotStoredAgain) {
  const std::string before = Dump({"1001", "1011"});
  const Outcome format = Request("SetFieldFormat",
                                 "<SetFieldFormat PageId=\"1011\" Alignment=\"0\" "
                                 "VerticalAlignment=\"0\"><FieldId ID=\"101\"/></SetFieldFormat>");
  const Outcome properties = Request("SetFieldProperties",
                                     "<SetFieldProperties PageId=\"1011\" FieldId=\"102\" "
                                     "Alignment=\"0\" VerticalAlignment=\"0\"/>");
  for (const Outcome* outcome : {&format, &properties}) {
    ASSERT_EQ(outcome->status, 0) << outcome->err;
    EXPECT_EQ(outcome->out, "== current datasheet none, page none\n");
    EXPECT_NE(outcome->err.find("notice: the request changed nothing and wrote no reply"),
              std::string::npos)
        << outcome->err;
  }
  EXPECT_EQ(Dump({"1001", "1011"}), before);
}

// Case 9 is no case of the store. Field 103 follows the datasheet's case:
// showing case 9 on it would write it on the datasheet and every page, and
// copying from it has nothing to copy. Both are refused; nothing is written
// and nobody is told.
TEST_F(KxqhostFieldPropertiesTest, AFieldCaseTheStoreDoesNotKnowIsRefused) {
  const std::vector<std::string> ids{"1001", "1011", "1012"};
  const std::string before = Dump(ids);
  for (const std::string message : {"ShowFieldCase", "CopyFieldCase"}) {
    const Outcome refused =
        Request(message, "<" + message + " PageId=\"1011\" FieldId=\"103\" CaseId=\"9\"/>");
    EXPECT_NE(refused.status, 0) << message;
    EXPECT_NE(refused.err.find("<KXError Desc=\"There is no case 9\" HR=\"E_INVALIDARG\""),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << message;
  }
  EXPECT_EQ(Dump(ids), before);
}

// "DocumentId" is "TargetId" read as a number: "abc" reads 0, " 77" reads 77.
TEST_F(KxqhostFieldPropertiesTest, TheFieldCaseQuestionsCarryTheTargetIdAsANumber) {
  const Outcome run = Run(R"(request HideFieldCase <<END
<XMLMessage TargetId="abc" Status="1"><HideFieldCase PageId="1011" FieldId="101"/></XMLMessage>
END
request ShowFieldCase <<END
<XMLMessage TargetId="abc" Status="1"><ShowFieldCase PageId="1011" FieldId="101"/></XMLMessage>
END
set 1011 Cases[1]
request CopyFieldCase <<END
<XMLMessage TargetId=" 77" Status="1"><CopyFieldCase PageId="1011" FieldId="103" CaseId="2"/></XMLMessage>
END
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("<Message MessageType=\"ALERT\" DocumentId=\"0\">Cannot hide default "
                         "datasheet case</Message>"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("<Message MessageType=\"QUESTION\" DocumentId=\"0\">Change the default "
                         "datasheet case?</Message>"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("<Message MessageType=\"ALERT\" DocumentId=\"77\">No case defined for "
                         "selected field</Message>"),
            std::string::npos)
      << run.out;
  // Only the step that cleared the case changed the store; nobody was told.
  EXPECT_EQ(Count(run.out, "== store changed"), 1u) << run.out;
  EXPECT_EQ(run.out.find("== event"), std::string::npos) << run.out;
}

// A plant whose vessel node follows the page's case: CopyFieldCase writes
// the node's fields from case 2, here the same values, every digit kept.
TEST_F(KxqhostFieldPropertiesTest, CopyFieldCaseKeepsEveryDigitOfAReal) {
  std::string plant = ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  const std::string node = "<node name=\"Vessel\" index=\"0\" classes=\"Vessel\"";
  plant.insert(plant.find(node) + node.size(), " caseSlot=\"0\"");
  WriteText(dir_ / "cases-plant.xml", plant);
  std::remove(Store().c_str());
  ASSERT_EQ(Host({"init", "--fixture", dir_ / "cases-plant.xml"}).status, 0);
  const Outcome run = Run(R"(set 133 Volume 52.123456789012344 m3
set 133 InsideDiameter 2800.0000000000005 mm
request CopyFieldCase <<END
<XMLMessage TargetId="1010" Status="1"><CopyFieldCase PageId="1094" FieldId="501" CaseId="2"/></XMLMessage>
END
dump 133
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("== event DataField [F1 1094]"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("InsideDiameter = 2800.0000000000005 mm\n"), std::string::npos);
  EXPECT_NE(run.out.find("Volume = 52.123456789012344 m3\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kx::test::tools
