// Holds, help texts and display units end to end: kxqhost sends each message
// to the module over a store made from data/units-plant.xml (see there for
// its datasheets, pages, units and holds); the reply, the store changes and
// change events (--events), the messages shown to the user and the store
// (dump) are checked.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::Outcome;

constexpr char kPrivilege[] = "Globally Change Display Units";

class UnitsTest : public kx::test::tools::KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/units-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }

  Outcome Send(const std::string& message, const std::string& text,
               std::vector<std::string> options = {}) {
    options.insert(options.end(), {"--events", "request", message, "-"});
    Outcome outcome = Host(options, text);
    // Each call ends with the user's current documents, which these
    // messages leave as they were.
    const std::string current = "== current datasheet none, page none\n";
    const bool ends =
        outcome.out.size() >= current.size() &&
        outcome.out.compare(outcome.out.size() - current.size(), current.size(), current) == 0;
    EXPECT_TRUE(ends || outcome.status != 0) << message << ": " << outcome.out;
    if (ends) outcome.out.erase(outcome.out.size() - current.size());
    // A reply alone is compared without the line end that separates it from
    // that line.
    if (outcome.out.rfind("== ", 0) != 0 && !outcome.out.empty() &&
        outcome.out.find('\n') == outcome.out.size() - 1) {
      outcome.out.pop_back();
    }
    return outcome;
  }
  Outcome Ok(const std::string& message, const std::string& text,
             std::vector<std::string> options = {}) {
    Outcome outcome = Send(message, text, std::move(options));
    EXPECT_EQ(outcome.status, 0) << message << ": " << outcome.err;
    return outcome;
  }

  // The values of `attribute` of object `id` as the dump shows them, one per
  // line ("Units[1] = \"mm\"" gives "mm").
  std::vector<std::string> Values(const std::string& id, const std::string& attribute) {
    std::vector<std::string> values;
    const std::string dumped = Dump({id});
    for (size_t at = dumped.find("\n" + attribute); at != std::string::npos;
         at = dumped.find("\n" + attribute, at + 1)) {
      const size_t start = dumped.find(" = ", at);
      const size_t end = dumped.find('\n', start + 1);
      std::string value = dumped.substr(start + 3, end - start - 3);
      if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
      values.push_back(value);
    }
    return values;
  }
  std::string Value(const std::string& id, const std::string& attribute) {
    const auto values = Values(id, attribute + " ");
    return values.empty() ? "(none)" : values.front();
  }

  static std::string Envelope(const std::string& target, const std::string& body,
                              const std::string& status = "1") {
    return "<XMLMessage TargetId=\"" + target + "\" Status=\"" + status + "\">" + body +
           "</XMLMessage>";
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

using Texts = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Holds and help.

TEST_F(UnitsTest, HoldsAreListedCreatedAndClosedThroughTheHost) {
  // Closed holds are left out; a hold never closed is open.
  EXPECT_EQ(Ok("ListHolds", "").out,
            "<XMLMessage TargetId=\"App\"><Holds><Hold HoldId=\"50\" Name=\"H-1 Vendor data\"/>"
            "<Hold HoldId=\"52\" Name=\"H-3 Process\"/></Holds></XMLMessage>");

  const Outcome created =
      Ok("CreateHold",
         Envelope("T", "<CreateHold HoldName=\"H-9 Piping\" HoldReason=\"late data\"/>"));
  ASSERT_EQ(created.out.rfind("H-9 Piping\n", 0), 0u) << created.out;  // plain text, then events
  EXPECT_TRUE(Has(created.out, "== store created #")) << created.out;
  const std::string id = created.out.substr(
      created.out.find("created #") + 9,
      created.out.find(' ', created.out.find("created #") + 9) - created.out.find("created #") - 9);
  EXPECT_EQ(Value(id, "CreatedReason"), "late data");
  EXPECT_EQ(Value(id, "InActive"), "false");

  // Without a reason the host is given none.
  const Outcome bare = Ok("CreateHold", Envelope("T", "<CreateHold HoldName=\"H-10\"/>"));
  const std::string bareId = bare.out.substr(
      bare.out.find("created #") + 9,
      bare.out.find(' ', bare.out.find("created #") + 9) - bare.out.find("created #") - 9);
  EXPECT_EQ(Value(bareId, "CreatedReason"), "(none)");

  const Outcome closed =
      Ok("CloseHold", Envelope("T", "<CloseHold HoldId=\"50\" HoldReason=\"done\"/>"));
  EXPECT_EQ(closed.out, "== store changed #50: InActive\n");
  EXPECT_EQ(Value("50", "InActive"), "true");
  // Closing a closed hold is passed on like any other.
  Ok("CloseHold", Envelope("T", "<CloseHold HoldId=\"50\"/>"));
  const std::string listed = Ok("ListHolds", "").out;
  EXPECT_FALSE(Has(listed, "HoldId=\"50\"")) << listed;
  EXPECT_TRUE(Has(listed, "<Hold HoldId=\"" + id + "\" Name=\"H-9 Piping\"/>")) << listed;
}

TEST_F(UnitsTest, CloseHoldRefusesWhatIsNoHold) {
  // No "HoldId" names no object; a pump is no hold: nothing changes.
  const Outcome missing = Send("CloseHold", Envelope("T", "<CloseHold HoldReason=\"x\"/>"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Has(missing.err, "No object with id -1")) << missing.err;
  const Outcome pump = Send("CloseHold", Envelope("T", "<CloseHold HoldId=\"60\"/>"));
  EXPECT_EQ(pump.status, 1);
  EXPECT_TRUE(Has(pump.err, "Object 60 is not a hold")) << pump.err;
  EXPECT_EQ(pump.out, "");
}

TEST_F(UnitsTest, HelpTextsArePlainReplies) {
  EXPECT_EQ(Ok("GetDocumentHelp", Envelope("Anything", "<GetDocumentHelp/>")).out,
            "c:\\temp\\helptest.doc");
  EXPECT_EQ(Ok("GetFieldHelp", Envelope("T", "<GetFieldHelp FieldId=\"42\"/>")).out,
            "This is help for FieldId 42");
  EXPECT_EQ(Ok("GetFieldHelp", Envelope("T", "<GetFieldHelp/>")).out,
            "This is help for FieldId -1");
}

// ---------------------------------------------------------------------------
// One datasheet's units.

TEST_F(UnitsTest, DatasheetListings) {
  EXPECT_EQ(
      Ok("ListDatasheetDimensionSets", Envelope("1000", "<ListDatasheetDimensionSets/>", "3")).out,
      "<XMLMessage TargetId=\"1000\" Status=\"3\"><DimensionSets><DimensionSet Name=\"Metric\"/>"
      "<DimensionSet Name=\"SI\"/><DimensionSet Name=\"US\"/></DimensionSets></XMLMessage>");
  // Every current page counts; two unit positions of one dimension name it
  // once. The submitted page shows the dimensions of its template only.
  EXPECT_EQ(
      Ok("ListDatasheetDimensions", Envelope("1000", "<ListDatasheetDimensions/>")).out,
      "<XMLMessage TargetId=\"1000\" Status=\"1\"><Dimensions><Dimension Name=\"Length\"/>"
      "<Dimension Name=\"Pressure\"/><Dimension Name=\"Temperature\"/></Dimensions></XMLMessage>");
  EXPECT_EQ(Ok("ListDatasheetDimensions", Envelope("1000", "<ListDatasheetDimensions/>", "2")).out,
            "<XMLMessage TargetId=\"1000\" Status=\"2\"><Dimensions><Dimension Name=\"Length\"/>"
            "<Dimension Name=\"Pressure\"/></Dimensions></XMLMessage>");
  // Datasheet 2000 has no submitted pages.
  EXPECT_EQ(Ok("ListDatasheetDimensions", Envelope("2000", "<ListDatasheetDimensions/>", "2")).out,
            "<XMLMessage TargetId=\"2000\" Status=\"2\"><Dimensions></Dimensions></XMLMessage>");
  for (const char* status : {"0", "5"}) {
    const Outcome bad =
        Send("ListDatasheetDimensions", Envelope("1000", "<ListDatasheetDimensions/>", status));
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Has(bad.err, "Invalid status")) << bad.err;
  }
  // The units in the schema's order; the name as requested.
  EXPECT_EQ(
      Ok("ListDatasheetDimensionUnits",
         Envelope("1000", "<ListDatasheetDimensionUnits Name=\"Pressure\"/>"))
          .out,
      "<XMLMessage TargetId=\"1000\" Status=\"1\"><DimensionUnits Name=\"Pressure\">"
      "<DimensionUnit Name=\"kilopascal\" UnitId=\"kPa\"/><DimensionUnit Name=\"pascal\" "
      "UnitId=\"Pa\"/><DimensionUnit Name=\"psi\" UnitId=\"psi\"/></DimensionUnits></XMLMessage>");
  const Outcome unknown = Send("ListDatasheetDimensionUnits",
                               Envelope("1000", "<ListDatasheetDimensionUnits Name=\"Mass\"/>"));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
}

TEST_F(UnitsTest, ChangeDatasheetDimensionSetRewritesTheCurrentPagesOnly) {
  const Outcome changed = Ok("ChangeDatasheetDimensionSet",
                             Envelope("1000", "<ChangeDatasheetDimensionSet Name=\"US\"/>", "2"));
  // A unit-field event for every current page whose units changed.
  EXPECT_EQ(
      changed.out,
      "== store changed #1000: BaseDimensionSet\n== store changed #1001: Units\n"
      "== store changed #1003: Units\n== event UnitField [U1 1001] to alice\n"
      "<?xml version=\"1.0\"?><XMLMessage BaseDimensionSet=\"US\" TargetId=\"1000\" Status=\"1\">"
      "<ShowUnit PageId=\"1001\" UnitId=\"0\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"foot\"/>"
      "<ShowUnit PageId=\"1001\" UnitId=\"1\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"psi\"/>"
      "<ShowUnit PageId=\"1001\" UnitId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"foot\"/>"
      "</XMLMessage>\n"
      "== event UnitField [U1 1003] to alice\n"
      "<?xml version=\"1.0\"?><XMLMessage BaseDimensionSet=\"US\" TargetId=\"1000\" Status=\"1\">"
      "<ShowUnit PageId=\"1003\" UnitId=\"0\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"\xC2\xB0"
      "F\"/></XMLMessage>\n");
  EXPECT_EQ(Value("1000", "BaseDimensionSet"), "US");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"ft", "psi", "ft"}));
  EXPECT_EQ(Values("1003", "Units"), (Texts{"degF"}));
  EXPECT_EQ(Values("1002", "Units"), (Texts{"m", "Pa", "m"}));     // submitted: untouched
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "kPa", "mm"}));  // other datasheet

  // The set already in force: no unit changes, no event.
  const Outcome again = Ok("ChangeDatasheetDimensionSet",
                           Envelope("1000", "<ChangeDatasheetDimensionSet Name=\"US\"/>"));
  EXPECT_FALSE(Has(again.out, "Units")) << again.out;
  EXPECT_FALSE(Has(again.out, "== event")) << again.out;

  const Outcome unknown = Send("ChangeDatasheetDimensionSet",
                               Envelope("999", "<ChangeDatasheetDimensionSet Name=\"SI\"/>"));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Has(unknown.err, "No object with id 999")) << unknown.err;
}

TEST_F(UnitsTest, ChangeDatasheetDimensionUnitChangesEveryPositionOfTheDimension) {
  const Outcome changed =
      Ok("ChangeDatasheetDimensionUnit",
         Envelope("1000", "<ChangeDatasheetDimensionUnit Name=\"Length\" UnitId=\"ft\"/>"));
  // The event carries the units that changed, in the dimension set in force.
  EXPECT_EQ(
      changed.out,
      "== store changed #1001: Units\n== event UnitField [U1 1001] to alice\n"
      "<?xml version=\"1.0\"?><XMLMessage BaseDimensionSet=\"SI\" TargetId=\"1000\" Status=\"1\">"
      "<ShowUnit PageId=\"1001\" UnitId=\"0\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"foot\"/>"
      "<ShowUnit PageId=\"1001\" UnitId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "Value=\"foot\"/>"
      "</XMLMessage>\n");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"ft", "kPa", "ft"}));
  EXPECT_EQ(Value("1000", "BaseDimensionSet"), "SI");  // the set's record stays

  // The pages' unit definitions are matched exactly: the schema knows
  // "length" (any letter case finds it), but no definition is spelt so, and
  // nothing changes.
  const Outcome other =
      Ok("ChangeDatasheetDimensionUnit",
         Envelope("1000", "<ChangeDatasheetDimensionUnit Name=\"length\" UnitId=\"m\"/>"));
  EXPECT_EQ(other.out, "");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"ft", "kPa", "ft"}));
}

// ---------------------------------------------------------------------------
// The project's units.

TEST_F(UnitsTest, ProjectListings) {
  // Without a project set "SI" is current; the request text is ignored.
  EXPECT_EQ(Ok("ListDimensionSets", "<XMLMessage TargetId=\"9\"/>").out,
            "<XMLMessage TargetId=\"App\"><DimensionSets CurrentDimensionSet=\"SI\">"
            "<DimensionSet Name=\"Metric\"/><DimensionSet Name=\"SI\"/><DimensionSet Name=\"US\"/>"
            "</DimensionSets></XMLMessage>");
  EXPECT_EQ(
      Ok("ListDimensions", "").out,
      "<XMLMessage TargetId=\"App\"><Dimensions><Dimension Name=\"Length\"/>"
      "<Dimension Name=\"Pressure\"/><Dimension Name=\"Temperature\"/></Dimensions></XMLMessage>");
  EXPECT_EQ(Ok("ListDimensionUnits", "Length\n").out,
            "<XMLMessage TargetId=\"App\"><DimensionUnits Name=\"Length\"><DimensionUnit "
            "Name=\"metre\" UnitId=\"m\"/><DimensionUnit Name=\"millimetre\" UnitId=\"mm\"/>"
            "<DimensionUnit Name=\"foot\" UnitId=\"ft\"/></DimensionUnits></XMLMessage>");
  EXPECT_EQ(Send("ListDimensionUnits", "Mass").status, 1);
}

TEST_F(UnitsTest, ChangeDimensionSetChangesEveryDatasheetAndTellsTheDrawings) {
  const Outcome changed = Ok("ChangeDimensionSet", "US");
  EXPECT_TRUE(Has(changed.out, "== store changed #1: CurrentDimensionSet\n")) << changed.out;
  EXPECT_TRUE(Has(changed.out, "== drawing ChangeDimensionSet \"US\"\n")) << changed.out;
  for (const char* event :
       {"== event UnitField [U1 1001] to alice\n", "== event UnitField [U1 2001] to bob\n",
        "== event UnitField [U1 3001] to carol\n"}) {
    EXPECT_TRUE(Has(changed.out, event)) << changed.out;
  }
  EXPECT_EQ(changed.err, "");  // no failures to show
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "US");
  EXPECT_EQ(Values("2001", "Units"), (Texts{"degF"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"ft", "psi", "ft"}));
  EXPECT_EQ(Value("2000", "BaseDimensionSet"), "US");
  EXPECT_TRUE(Has(Ok("ListDimensionSets", "").out, "CurrentDimensionSet=\"US\"")) << "listing";

  // "DefaultUnits" stands for "SI", in exactly that spelling.
  const Outcome standard = Ok("ChangeDimensionSet", "DefaultUnits");
  EXPECT_TRUE(Has(standard.out, "== drawing ChangeDimensionSet \"SI\"\n")) << standard.out;
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "SI");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "kPa", "mm"}));
  EXPECT_EQ(Values("2001", "Units"), (Texts{"degC"}));
}

TEST_F(UnitsTest, DatasheetsThatFailAreCollectedIntoOneMessage) {
  // "Metric" has no unit for Pressure: DS-A and DS-C fail and keep their
  // set and units, DS-B changes.
  const Outcome changed = Ok("ChangeDimensionSet", "Metric");
  EXPECT_TRUE(Has(changed.err,
                  "message: The following error(s) occured while changing the dimension set...\n\n"
                  "Dimension set 'Metric' has no unit for 'Pressure' - DS-A\n"
                  "Dimension set 'Metric' has no unit for 'Pressure' - DS-C\n"))
      << changed.err;
  EXPECT_EQ(Values("2001", "Units"), (Texts{"K"}));
  EXPECT_EQ(Value("2000", "BaseDimensionSet"), "Metric");
  EXPECT_TRUE(Has(changed.out, "== event UnitField [U1 2001] to bob\n")) << changed.out;
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "Metric");
  EXPECT_EQ(Value("1000", "BaseDimensionSet"), "SI");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "kPa", "mm"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "kPa", "mm"}));
  EXPECT_FALSE(Has(changed.out, "#1000")) << changed.out;
  EXPECT_FALSE(Has(changed.out, "#1001")) << changed.out;
}

// A set the schema does not list is refused before anything is written: the
// project's set, the drawings and every datasheet stay as they were. The
// same word as "DefaultUnits" in other letters is such a name; an empty
// name stands for "SI".
TEST_F(UnitsTest, ASetTheSchemaDoesNotListIsRefusedBeforeAnythingChanges) {
  const std::vector<std::string> touched = {"1",    "1000", "1001", "1002", "1003",
                                            "2000", "2001", "3000", "3001"};
  const std::string before = Dump(touched);
  const std::string huge(1 << 20, 'M');
  for (const std::string& set : {std::string("Imperial"), std::string("-1"), std::string("US "),
                                 std::string("defaultunits"), huge}) {
    const Outcome refused = Send("ChangeDimensionSet", set);
    EXPECT_EQ(refused.status, 1) << set.substr(0, 16);
    const std::string quoted = set.size() > 64 ? set.substr(0, 64) + "..." : set;
    EXPECT_EQ(
        refused.err.rfind(
            "<KXError Desc=\"Unknown dimension set '" + quoted + "'\" HR=\"E_INVALIDARG\"", 0),
        0u)
        << refused.err.substr(0, 200);
    EXPECT_EQ(refused.out, "") << set.substr(0, 16);
  }
  const Outcome one = Send("ChangeDatasheetDimensionSet",
                           Envelope("2000", "<ChangeDatasheetDimensionSet Name=\"Imperial\"/>"));
  EXPECT_EQ(one.status, 1);
  EXPECT_TRUE(Has(one.err, "<KXError Desc=\"Unknown dimension set 'Imperial'\"")) << one.err;
  EXPECT_EQ(one.out, "");
  EXPECT_EQ(Dump(touched), before);

  // A listed set still goes in, and an empty name changes back to "SI".
  const Outcome us = Ok("ChangeDimensionSet", "US");
  EXPECT_TRUE(Has(us.out, "== drawing ChangeDimensionSet \"US\"\n")) << us.out;
  EXPECT_EQ(Values("3001", "Units"), (Texts{"ft", "psi", "ft"}));
  const Outcome standard = Ok("ChangeDimensionSet", "");
  EXPECT_TRUE(Has(standard.out, "== drawing ChangeDimensionSet \"SI\"\n")) << standard.out;
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "SI");
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "kPa", "mm"}));
}

// The store knows its sets in any letter case: "metric" is the set
// "Metric", recorded as the schema spells it, as every listing names it:
// by the datasheet, its event, the project and the drawings.
TEST_F(UnitsTest, ASetNamedInOtherLettersIsRecordedInTheSchemasSpelling) {
  const Outcome one = Ok("ChangeDatasheetDimensionSet",
                         Envelope("2000", "<ChangeDatasheetDimensionSet Name=\"metric\"/>"));
  EXPECT_TRUE(Has(one.out, "BaseDimensionSet=\"Metric\"")) << one.out;
  EXPECT_EQ(Value("2000", "BaseDimensionSet"), "Metric");
  EXPECT_EQ(Values("2001", "Units"), (Texts{"K"}));

  const Outcome all = Ok("ChangeDimensionSet", "us");
  EXPECT_TRUE(Has(all.out, "== drawing ChangeDimensionSet \"US\"\n")) << all.out;
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "US");
  for (const char* datasheet : {"1000", "2000", "3000"}) {
    EXPECT_EQ(Value(datasheet, "BaseDimensionSet"), "US") << datasheet;
  }
  EXPECT_EQ(Values("3001", "Units"), (Texts{"ft", "psi", "ft"}));
  EXPECT_TRUE(Has(Ok("ListDimensionSets", "").out, "CurrentDimensionSet=\"US\"")) << "listing";
}

// The client offers the project-wide changes only to a user who holds the
// privilege (it asks with "GetConfigurations"); the messages themselves do
// not test it.
TEST_F(UnitsTest, ProjectChangesTestNoPrivilegeOfTheirOwn) {
  const Outcome configured = Ok("GetConfigurations", "", {"--deny", kPrivilege});
  EXPECT_TRUE(Has(configured.out, "CanChangeUnits=\"0\"")) << configured.out;
  const Outcome set = Ok("ChangeDimensionSet", "US", {"--deny", kPrivilege});
  EXPECT_TRUE(Has(set.out, "== drawing ChangeDimensionSet \"US\"\n")) << set.out;
  EXPECT_EQ(Value("1", "CurrentDimensionSet"), "US");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"ft", "psi", "ft"}));
  EXPECT_EQ(Values("2001", "Units"), (Texts{"degF"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"ft", "psi", "ft"}));
  Ok("ChangeDimensionUnit", Envelope("1", "<ChangeDimensionUnit Name=\"Length\" UnitId=\"mm\"/>"),
     {"--deny", kPrivilege});
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "psi", "mm"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "psi", "mm"}));
}

// A unit the dimension lacks (of another dimension, unknown to the schema,
// in other letters), or a dimension the schema lacks under any spelling,
// would leave the pages showing values in a unit they cannot be converted
// to: both unit messages refuse it before any page is written.
TEST_F(UnitsTest, AUnitThatIsNotOfTheDimensionIsRefusedBeforeAnyPageChanges) {
  const std::vector<std::string> touched = {"1000", "1001", "1002", "1003",
                                            "2000", "2001", "3000", "3001"};
  const std::string before = Dump(touched);
  const std::string huge(100000, 'u');
  struct Refusal {
    std::string dimension, unit, error;
  };
  const std::vector<Refusal> refusals = {
      {"Pressure", "ft", "Unit 'ft' is not a unit of dimension 'Pressure'"},
      {"Length", "kPa", "Unit 'kPa' is not a unit of dimension 'Length'"},
      {"Pressure", "nounit", "Unit 'nounit' is not a unit of dimension 'Pressure'"},
      {"Pressure", "kpa", "Unit 'kpa' is not a unit of dimension 'Pressure'"},
      {"NoDim", "kPa", "Unknown dimension 'NoDim' for unit 'kPa'"},
      {"NoDim", "", "Unknown dimension 'NoDim' for unit ''"},
      {"pressure", "ft", "Unit 'ft' is not a unit of dimension 'pressure'"},
      {"Length", huge, "Unit '" + huge.substr(0, 64) + "...' is not a unit of dimension 'Length'"},
  };
  for (const Refusal& refusal : refusals) {
    for (const std::string message : {"ChangeDatasheetDimensionUnit", "ChangeDimensionUnit"}) {
      const Outcome refused =
          Send(message, Envelope("1000", "<" + message + " Name=\"" + refusal.dimension +
                                             "\" UnitId=\"" + refusal.unit + "\"/>"));
      EXPECT_EQ(refused.status, 1) << message << " " << refusal.error;
      EXPECT_EQ(refused.err.rfind("<KXError Desc=\"" + refusal.error + "\" HR=\"E_INVALIDARG\"", 0),
                0u)
          << refused.err.substr(0, 300);
      EXPECT_EQ(refused.out, "") << message << " " << refusal.error;
    }
  }
  EXPECT_EQ(Dump(touched), before);
}

// The datasheet messages name their datasheet by "TargetId", its id in
// decimal. A text that holds no such number, or goes on in another
// script's digits ("1000٢" is no 1000), and an object that is no
// datasheet are refused naming them, before anything is read or written.
TEST_F(UnitsTest, ATargetIdThatNamesNoDatasheetIsRefused) {
  const std::vector<std::string> touched = {"1000", "1001", "1002", "1003"};
  const std::string before = Dump(touched);
  const struct {
    std::string target, error;
  } cases[] = {
      {"1000٢", "'1000٢' is not a number for attribute TargetId"},
      {"١٠٠٠", "'١٠٠٠' is not a number for attribute TargetId"},
      {"Editor", "'Editor' is not a number for attribute TargetId"},
      {"0x3E8", "'0x3E8' is not a decimal number for attribute TargetId"},
      {"1001", "Object 1001 is a Page, not a datasheet"},
  };
  const std::string bodies[] = {
      "<ListDatasheetDimensions/>",
      "<ChangeDatasheetDimensionSet Name=\"US\"/>",
      "<ChangeDatasheetDimensionUnit Name=\"Length\" UnitId=\"ft\"/>",
  };
  for (const auto& c : cases) {
    for (const std::string& body : bodies) {
      const std::string message = body.substr(1, body.find_first_of(" /") - 1);
      const Outcome refused = Send(message, Envelope(c.target, body));
      EXPECT_EQ(refused.status, 1) << message << " " << c.target << "\n" << refused.out;
      EXPECT_EQ(refused.err.rfind("<KXError Desc=\"" + c.error + "\"", 0), 0u)
          << message << "\n"
          << refused.err.substr(0, 300);
      EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
    }
  }
  EXPECT_EQ(Dump(touched), before);
}

TEST_F(UnitsTest, ChangeDimensionUnitChangesEveryDatasheet) {
  // The envelope's "TargetId" names no datasheet here: every one changes.
  const Outcome changed =
      Ok("ChangeDimensionUnit",
         Envelope("2000", "<ChangeDimensionUnit Name=\"Length\" UnitId=\"ft\"/>"));
  EXPECT_EQ(Values("1001", "Units"), (Texts{"ft", "kPa", "ft"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"ft", "kPa", "ft"}));
  EXPECT_EQ(Values("2001", "Units"), (Texts{"degC"}));
  EXPECT_FALSE(Has(changed.out, "CurrentDimensionSet")) << changed.out;
  EXPECT_FALSE(Has(changed.out, "== drawing")) << changed.out;
  EXPECT_FALSE(Has(changed.out, "[U1 2001]")) << changed.out;
  EXPECT_EQ(changed.err, "");
}

// The schema finds a dimension in any letter case; the pages are walked
// for unit definitions spelt exactly as the request spells the dimension.
// "PRESSURE" with a unit of Pressure is no error and changes no page of a
// plant whose templates say "Pressure"; an empty unit (or none) is the
// field's default unit and is put as any other.
TEST_F(UnitsTest, TheDimensionIsFoundInAnyCaseAndThePagesMatchItExactly) {
  const std::vector<std::string> touched = {"1000", "1001", "1003", "2001", "3001"};
  const std::string before = Dump(touched);
  for (const std::string message : {"ChangeDatasheetDimensionUnit", "ChangeDimensionUnit"}) {
    const Outcome other =
        Ok(message, Envelope("1000", "<" + message + " Name=\"PRESSURE\" UnitId=\"psi\"/>"));
    EXPECT_EQ(other.out, "") << message;
    EXPECT_EQ(other.err, "notice: the request changed nothing and wrote no reply\n") << message;
  }
  EXPECT_EQ(Dump(touched), before);

  const Outcome cleared = Ok("ChangeDatasheetDimensionUnit",
                             Envelope("1000", "<ChangeDatasheetDimensionUnit Name=\"Length\"/>"));
  EXPECT_TRUE(Has(cleared.out, "== store changed #1001: Units\n")) << cleared.out;
  EXPECT_TRUE(Has(cleared.out, "== event UnitField [U1 1001] to alice\n")) << cleared.out;
  EXPECT_EQ(Values("1001", "Units"), (Texts{"", "kPa", ""}));
  Ok("ChangeDimensionUnit", Envelope("1", "<ChangeDimensionUnit Name=\"Pressure\" UnitId=\"\"/>"));
  EXPECT_EQ(Values("1001", "Units"), (Texts{"", "", ""}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "", "mm"}));
}

// A plant whose template spells its definition "pressure": the request
// that spells it so changes it, by either message, with its events; one
// that says "Pressure" leaves it alone.
TEST_F(UnitsTest, ATemplateSpellingTheDimensionInOtherLettersIsChangedBySpellingItSo) {
  std::ifstream in(std::string(KXQHOST_TEST_DATA) + "/units-plant.xml");
  std::stringstream fixture;
  fixture << in.rdbuf();
  std::string text = fixture.str();
  const std::string schema = "<unit dimension=\"Pressure\" default=\"kPa\"/>";
  ASSERT_NE(text.find(schema), std::string::npos);
  text.replace(text.find(schema), schema.size(), "<unit dimension=\"pressure\" default=\"kPa\"/>");
  std::filesystem::remove(Store());
  const Outcome made = Host({"init", "--fixture", "-"}, text);
  ASSERT_EQ(made.status, 0) << made.err;

  const Outcome asSchema =
      Ok("ChangeDatasheetDimensionUnit",
         Envelope("1000", "<ChangeDatasheetDimensionUnit Name=\"Pressure\" UnitId=\"psi\"/>"));
  EXPECT_EQ(asSchema.out, "");
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "kPa", "mm"}));

  const Outcome one =
      Ok("ChangeDatasheetDimensionUnit",
         Envelope("1000", "<ChangeDatasheetDimensionUnit Name=\"pressure\" UnitId=\"psi\"/>"));
  EXPECT_EQ(
      one.out.rfind("== store changed #1001: Units\n== event UnitField [U1 1001] to alice\n", 0),
      0u)
      << one.out;
  EXPECT_TRUE(Has(one.out,
                  "<ShowUnit PageId=\"1001\" UnitId=\"1\" Alignment=\"0\" "
                  "VerticalAlignment=\"0\" Value=\"psi\"/>"))
      << one.out;
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "psi", "mm"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "kPa", "mm"}));

  const Outcome all = Ok("ChangeDimensionUnit",
                         Envelope("1", "<ChangeDimensionUnit Name=\"pressure\" UnitId=\"Pa\"/>"));
  EXPECT_TRUE(Has(all.out, "== event UnitField [U1 1001] to alice\n")) << all.out;
  EXPECT_TRUE(Has(all.out, "== event UnitField [U1 3001] to carol\n")) << all.out;
  EXPECT_EQ(Values("1001", "Units"), (Texts{"mm", "Pa", "mm"}));
  EXPECT_EQ(Values("3001", "Units"), (Texts{"mm", "Pa", "mm"}));
}

}  // namespace
