// The field setters through kxqhost on the sample plant: what the module
// changed, the events it raised, and what it handed the host (object
// creation, class confirmation, a success other than S_OK).
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class KxqhostSettersTest : public KxqhostTest {
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
  // "SetDateField" of V-101's in-service date (page 1061, field 509).
  Outcome SetDate(const std::string& value) {
    return Request("SetDateField",
                   R"(<SetDateField PageId="1061" FieldId="509" Value=")" + value + R"("/>)");
  }
};

TEST_F(KxqhostSettersTest, ARealFieldChangesTheValueTheRecordAndTellsTheUser) {
  const Outcome outcome = Request(
      "SetRealField", "<SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"395\" Format=\"0\"/>");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "== store changed #101: RatedFlow\n"
            "== store changed #1011: Fields\n"
            "== store changed #1001: Dirty\n"
            "== event DataField [F1 1011] to bob\n"
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"1001\" Status=\"1\"><ShowRealField "
            "PageId=\"1011\" FieldId=\"103\" Format=\"0\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"395\"/></XMLMessage>\n"
            "== current datasheet none, page none\n");
  EXPECT_NE(Dump({"101"}).find("RatedFlow = 395 m3/h\n"), std::string::npos);
  // Another status changes nothing.
  const Outcome other =
      Host({"--events", "request", "SetRealField", "-"},
           "<XMLMessage Status=\"2\"><SetRealField PageId=\"1011\" FieldId=\"103\" "
           "Value=\"1\"/></XMLMessage>");
  EXPECT_EQ(other.status, 0);
  EXPECT_EQ(other.out, "== current datasheet none, page none\n");
}

TEST_F(KxqhostSettersTest, ARowThatFailsThePermanentFilterShowsTheAlertAndSFalse) {
  const Outcome outcome = Request("SetStringField",
                                  "<SetStringField PageId=\"1071\" FieldId=\"402\" "
                                  "Index=\"6\" Value=\"M-9\" ConfirmedClass=\"Motor\"/>");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(
      outcome.out.find("<Message MessageType=\"ALERT\">'Name' = 'M-9' did not pass summary list "
                       "membership requirements defined by Permanent Filter</Message>"),
      std::string::npos)
      << outcome.out;
  // Nothing about the refused row reaches a client.
  EXPECT_EQ(outcome.out.find("== event"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.err.find("host: begin object creation\nhost: end object creation\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("kxqhost: request SetStringField returned S_FALSE"),
            std::string::npos);
  EXPECT_EQ(Dump({"1071"}).find("NodeObjects[8]"), std::string::npos);

  // Without a class the host is asked which class to create.
  const Outcome unconfirmed =
      Request("SetStringField",
              "<SetStringField PageId=\"1071\" FieldId=\"402\" Index=\"6\" Value=\"P-9\"/>");
  EXPECT_EQ(unconfirmed.status, 1);
  EXPECT_NE(unconfirmed.err.find("host: confirm class ProcessPlantEquipment"), std::string::npos)
      << unconfirmed.err;
  // A new row that passes is told with its fields.
  const Outcome passed = Request("SetStringField",
                                 "<SetStringField PageId=\"1071\" FieldId=\"402\" "
                                 "Index=\"6\" Value=\"P-9\" ConfirmedClass=\"Pump\"/>");
  ASSERT_EQ(passed.status, 0) << passed.err;
  EXPECT_NE(passed.out.find("== event DataField [F1 1071] to bob\n"), std::string::npos);
  EXPECT_NE(passed.out.find("FieldId=\"405\" Alignment=\"0\" VerticalAlignment=\"0\" "
                            "State=\"256\" Index=\"6\"/>"),
            std::string::npos)
      << passed.out;
}

// The record a setter leaves in the page's "Fields" carries no "State" and
// no value (the value lives in the store) but a radio choice's number; a
// sketch keeps the "State" and "Value" its record was stored with.
TEST_F(KxqhostSettersTest, EverySetterStoresItsRecordInThePlainForm) {
  const std::string requests = std::string(KXQHOST_SOURCE_DIR) + "/examples/requests/";
  std::string script;
  for (const char* request : {"SetRealField set-real-field", "SetStringField set-string-field",
                              "SetIntegerField set-integer-field", "SetCheckField set-check-field",
                              "SetRadioField set-radio-field", "SetSketchField set-sketch-field",
                              "SetBoolField set-bool-field", "SetDateField set-date-field"}) {
    const std::string words(request);
    script += "request " + words.substr(0, words.find(' ')) + " " + requests +
              words.substr(words.find(' ') + 1) + ".xml\n";
  }
  WriteText(dir_ / "setters.kxq", script + "dump 1011 1041 1012 1061\n");
  const Outcome outcome = Host({"run", dir_ / "setters.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  for (
      const char* record :
      {R"(<Real FieldId=\"103\" AttribId=\"96\" Format=\"0\"/>)",
       R"(<String FieldId=\"308\" AttribId=\"111\"/>)",
       R"(<Integer FieldId=\"202\" AttribId=\"102\" Format=\"0\"/>)",
       R"(<Date FieldId=\"509\" AttribId=\"94\"/>)", R"(<Bool FieldId=\"510\" AttribId=\"119\"/>)",
       R"(<Check FieldId=\"511\" AttribId=\"120\"/>)",
       R"(<Radio FieldId=\"512\" AttribId=\"121\" Value=\"1\"/>)",
       R"(<Sketch FieldId=\"513\" AttribId=\"122\" TLX=\"0\" TLY=\"0\" BRX=\"400\" BRY=\"300\"/>)"}) {
    EXPECT_NE(outcome.out.find(record), std::string::npos) << record << "\n" << outcome.out;
  }
  EXPECT_EQ(outcome.out.find("State="), std::string::npos) << outcome.out;

  WriteText(
      dir_ / "sketch.kxq",
      "set 1061 Fields[13] \"<Sketch FieldId=\\\"513\\\" State=\\\"2\\\" Value=\\\"v.skt\\\"/>\"\n"
      "request SetSketchField " +
          requests +
          "set-sketch-field.xml\n"
          "dump 1061\n");
  const Outcome kept = Host({"run", dir_ / "sketch.kxq"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_NE(kept.out.find(R"(Fields[13] = "<Sketch FieldId=\"513\" AttribId=\"122\" TLX=\"0\" )"
                          R"(TLY=\"0\" BRX=\"400\" BRY=\"300\" State=\"2\" Value=\"v.skt\"/>")"),
            std::string::npos)
      << kept.out;
}

// A value text in which the field's kind finds no number, or a number
// beyond 32 bits, is refused naming the value and the field, and nothing
// changes. The reading stays lenient otherwise: a number followed by other
// characters, reals as "%lf" reads them.
TEST_F(KxqhostSettersTest, AValueTextWithoutANumberIsRefusedAndChangesNothing) {
  struct Case {
    const char* message;
    const char* attributes;
    const char* error;
  };
  const Case cases[] = {
      {"SetIntegerField", R"(PageId="1012" FieldId="202" Value="abc")",
       "'abc' is not a number for attribute Speed"},
      {"SetIntegerField", R"(PageId="1012" FieldId="202" Value="99999999999")",
       "'99999999999' is out of range for attribute Speed"},
      {"SetStringField", R"(PageId="1012" FieldId="202" Value="-")",
       "'-' is not a number for attribute Speed"},
      {"SetRealField", R"(PageId="1011" FieldId="103" Value="inf")",
       "'inf' is not a number for attribute RatedFlow"},
      {"SetRealField", R"(PageId="1011" FieldId="103" Value="1e999")",
       "'1e999' is out of range for attribute RatedFlow"},
      {"SetDateField", R"(PageId="1061" FieldId="509" Value="NaN")",
       "'NaN' is not a number for attribute InServiceDate"},
      {"SetRadioField", R"(PageId="1061" FieldId="512" Value="abc")",
       "'abc' is not a number for field 512"},
      {"SetRadioField", R"(PageId="1061" FieldId="512" Value="NaN")",
       "'NaN' is not a number for field 512"},
      {"SetRadioField", R"(PageId="1061" FieldId="512" Value="99999999999")",
       "'99999999999' is out of range for field 512"},
      {"SetQualifier", R"(PageId="1061" QualifierId="0" Value="NaN")",
       "'NaN' is not a number for qualifier 0 of page 1061"},
      {"SetQualifier", R"(PageId="1061" QualifierId="0" Value="99999999999")",
       "'99999999999' is out of range for qualifier 0 of page 1061"},
      {"SetUnit", R"(PageId="1011" UnitId="1" Index="abc")",
       "'abc' is not a number for unit field 1 of page 1011"},
      // A choice, value or place in hexadecimal is refused as ids and rows
      // are, not read as the 0 it begins with.
      {"SetUnit", R"(PageId="1011" UnitId="1" Index="0x2")",
       "'0x2' is not a decimal number for unit field 1 of page 1011"},
      {"SetRadioField", R"(PageId="1061" FieldId="512" Value=" 0X1")",
       "' 0X1' is not a decimal number for field 512"},
      {"SetQualifier", R"(PageId="1061" QualifierId="0" Value="-0x1")",
       "'-0x1' is not a decimal number for qualifier 0 of page 1061"},
      {"SetIntegerField", R"(PageId="1012" FieldId="202" Value="0x10")",
       "'0x10' is not a decimal number for attribute Speed"},
      {"SetStringField", R"(PageId="1012" FieldId="202" Value=" -0X1f")",
       "' -0X1f' is not a decimal number for attribute Speed"},
  };
  const std::vector<std::string> touched = {"101", "131", "1001", "1006", "1011", "1012", "1061"};
  const std::string before = Dump(touched);
  for (const Case& c : cases) {
    const Outcome refused =
        Request(c.message, std::string("<") + c.message + " " + c.attributes + "/>");
    EXPECT_EQ(refused.status, 1) << c.attributes << "\n" << refused.out;
    EXPECT_NE(refused.err.find(std::string("Desc=\"") + c.error + "\""), std::string::npos)
        << c.attributes << "\n"
        << refused.err;
    EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
    EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(Dump(touched), before);

  for (const char* accepted : {R"(<SetIntegerField PageId="1012" FieldId="202" Value="2980"/>)",
                               R"(<SetRealField PageId="1011" FieldId="103" Value="0x10"/>)",
                               R"(<SetRadioField PageId="1061" FieldId="512" Value=" 2"/>)"}) {
    const std::string text(accepted);
    const Outcome outcome = Request(text.substr(1, text.find(' ') - 1), text);
    EXPECT_EQ(outcome.status, 0) << text << "\n" << outcome.err;
  }
  const std::string after = Dump({"101", "131"});
  EXPECT_NE(after.find("Speed = 2980\n"), std::string::npos) << after;
  EXPECT_NE(after.find("RatedFlow = 16 m3/h\n"), std::string::npos) << after;
  EXPECT_NE(after.find("HeadType = \"Torispherical\"\n"), std::string::npos) << after;
  // The number the text begins with.
  ASSERT_EQ(
      Request("SetIntegerField", R"(<SetIntegerField PageId="1012" FieldId="202" Value="2960.7"/>)")
          .status,
      0);
  EXPECT_NE(Dump({"101"}).find("Speed = 2960\n"), std::string::npos);
}

// A date is a day number the system can show as a date, years 100 to 9999:
// any other is refused naming the text and the field, and nothing is stored.
TEST_F(KxqhostSettersTest, ADayNumberOutsideTheShownDatesIsRefused) {
  const std::vector<std::string> touched = {"131", "1061"};
  const std::string before = Dump(touched);
  for (const char* day : {"1e308", "-1e300", "3000000", "2958466", "-657435"}) {
    const Outcome refused = SetDate(day);
    EXPECT_EQ(refused.status, 1) << day << "\n" << refused.out;
    EXPECT_NE(refused.err.find(std::string("Desc=\"'") + day +
                               "' is out of range for attribute InServiceDate: a date is a day "
                               "number from -657434 (0100-01-01) to 2958465 (9999-12-31)\" "
                               "HR=\"0x8002000a\""),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(Dump(touched), before);
  // The first and the last day are dates.
  for (const char* day : {"-657434", "2958465.5"}) {
    const Outcome set = SetDate(day);
    EXPECT_EQ(set.status, 0) << day << "\n" << set.err;
    EXPECT_NE(set.out.find("== store changed #131: InServiceDate"), std::string::npos) << set.out;
  }
  EXPECT_NE(Dump({"131"}).find("InServiceDate = 9999-12-31 12:00:00\n"), std::string::npos);
}

// A date is sent as its day number (0 is 1899-12-30): a calendar date, or
// a day number in hexadecimal, would be stored as the number it begins
// with ("2024-01-15" as day 2024, in 1905; "0x10" as 16). Both are refused
// naming the text and the field, and nothing is stored.
TEST_F(KxqhostSettersTest, ADateTextThatIsNoDayNumberIsRefused) {
  const std::vector<std::string> touched = {"131", "1061"};
  const std::string before = Dump(touched);
  const struct {
    const char* value;
    const char* error;
  } cases[] = {
      {"2024-01-15",
       "is not a day number for attribute InServiceDate: a date is sent as its day "
       "number (0 is 1899-12-30)\" HR=\"0x80020005\""},
      {"2020-13-01", "is not a day number"},
      {"0000-00-00", "is not a day number"},
      {"15.01.2024", "is not a day number"},
      {" 1/15/2024", "is not a day number"},
      // With the month by name, or blanks or other characters between the
      // numbers: still no day 15 or 2024.
      {"15-Jan-2024", "is not a day number"},
      {"15 Jan", "is not a day number"},
      {"2024 01 15", "is not a day number"},
      {"2024年1月15日", "is not a day number"},
      {"0x10", "is not a decimal number for attribute InServiceDate\" HR=\"0x80020005\""},
      {" -0X1f", "is not a decimal number"},
  };
  for (const auto& c : cases) {
    const Outcome refused = SetDate(c.value);
    EXPECT_EQ(refused.status, 1) << c.value << "\n" << refused.out;
    EXPECT_NE(refused.err.find(std::string("Desc=\"'") + c.value + "' " + c.error),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(Dump(touched), before);
  // The day number of 2024-01-15, and one with its time of day; what
  // follows a day number without more of a date is not read, as for
  // every number.
  for (const char* day : {"45306 ", "45306x", "45306.25"}) {
    const Outcome set = SetDate(day);
    EXPECT_EQ(set.status, 0) << day << "\n" << set.err;
  }
  EXPECT_NE(Dump({"131"}).find("InServiceDate = 2024-01-15 06:00:00\n"), std::string::npos);
}

// An empty number is 0, as it always was, and is not refused with the texts
// that hold no number: the first radio choice, qualifier value 0, the first
// unit of the list.
TEST_F(KxqhostSettersTest, AnEmptyChoiceQualifierOrUnitIsTheFirst) {
  for (const char* message : {R"(<SetRadioField PageId="1061" FieldId="512" Value="2"/>)",
                              R"(<SetQualifier PageId="1061" QualifierId="0" Value="1"/>)"}) {
    const std::string text(message);
    ASSERT_EQ(Request(text.substr(1, text.find(' ') - 1), text).status, 0) << text;
  }
  ASSERT_NE(Dump({"131"}).find("HeadType = \"Torispherical\"\n"), std::string::npos);
  ASSERT_NE(Dump({"1061"}).find("Qualifiers[1] = 1\n"), std::string::npos);

  for (const char* message : {R"(<SetRadioField PageId="1061" FieldId="512" Value=""/>)",
                              R"(<SetQualifier PageId="1061" QualifierId="0" Value=""/>)",
                              R"(<SetUnit PageId="1011" UnitId="1" Index=""/>)"}) {
    const std::string text(message);
    const Outcome outcome = Request(text.substr(1, text.find(' ') - 1), text);
    EXPECT_EQ(outcome.status, 0) << text << "\n" << outcome.err;
    EXPECT_NE(outcome.out.find("== event"), std::string::npos) << text << "\n" << outcome.out;
  }
  const std::string after = Dump({"131", "1061", "1011"});
  EXPECT_NE(after.find("HeadType = \"Hemispherical\"\n"), std::string::npos) << after;
  EXPECT_NE(after.find("<Radio FieldId=\\\"512\\\" AttribId=\\\"121\\\" Value=\\\"0\\\"/>"),
            std::string::npos)
      << after;
  EXPECT_NE(after.find("Qualifiers[1] = 0\n"), std::string::npos) << after;
  EXPECT_NE(after.find("Units[2] = \"Pa\"\n"), std::string::npos) << after;
}

// Page 1071 of the pump summary is a continuous list whose field 401 (the
// plant's name on the globals object) stands outside the rows. Addressed
// with a row, every setter refuses it: no object's value, no entry of
// "Fields" and no event changes.
TEST_F(KxqhostSettersTest, AFixedFieldOfAContinuousListAddressedWithARowIsRefused) {
  const std::string before = Dump({"1", "101", "102", "1071"});
  for (const char* setter : {"SetStringField", "SetRealField", "SetIntegerField", "SetDateField",
                             "SetBoolField", "SetCheckField", "SetRadioField"}) {
    for (const char* index : {"1", "0"}) {
      const Outcome refused =
          Request(setter, std::string("<") + setter + " PageId=\"1071\" FieldId=\"401\" Index=\"" +
                              index + "\" Value=\"1\"/>");
      EXPECT_EQ(refused.status, 1) << setter << " " << index << "\n" << refused.out;
      EXPECT_NE(refused.err.find(" Field 401 not found in continuous template Equipment "
                                 "summary:Equipment list "),
                std::string::npos)
          << setter << " " << index << "\n"
          << refused.err;
      EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
      EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;
    }
  }
  EXPECT_EQ(Dump({"1", "101", "102", "1071"}), before);

  // Without a row the fixed field is written where it stands: first in
  // "Fields", ahead of the rows.
  const Outcome fixed = Request(
      "SetStringField", "<SetStringField PageId=\"1071\" FieldId=\"401\" Value=\"CDU-2\"/>");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_NE(fixed.out.find("== store changed #1: Name\n== store changed #1071: Fields\n"),
            std::string::npos)
      << fixed.out;
  EXPECT_NE(Dump({"1071"}).find(R"(Fields[1] = "<String FieldId=\"401\" AttribId=\")"),
            std::string::npos);
}

// The other way round: a list column (402, 404) addressed without a row,
// by a negative "Index" or none at all, names no row. Taken as the column's
// node it would be row 0, pump 101: every setter refuses it, naming the
// field, the page and the row, and nothing changes. On a plain page -1 is
// the field's usual "no row" and still writes.
TEST_F(KxqhostSettersTest, AListColumnAddressedWithoutARowIsRefused) {
  const std::string before = Dump({"1", "101", "102", "1071"});
  for (const char* setter : {"SetStringField", "SetRealField", "SetIntegerField", "SetDateField",
                             "SetBoolField", "SetCheckField", "SetRadioField", "SetSketchField"}) {
    // Field, "Index" attribute, the row the error names.
    const char* const cases[][3] = {
        {"402", " Index=\"-1\"", "-1"}, {"404", " Index=\"-5\"", "-5"}, {"404", "", "-1"}};
    for (const auto& [field, index, row] : cases) {
      const Outcome refused =
          Request(setter, std::string("<") + setter + " PageId=\"1071\" FieldId=\"" + field + "\"" +
                              index + " Value=\"1\"/>");
      EXPECT_EQ(refused.status, 1) << setter << index << "\n" << refused.out;
      EXPECT_NE(refused.err.find(std::string("<KXError Desc=\"Field ") + field +
                                 " of page 1071 is a list column: row " + row +
                                 " is no row of the list\""),
                std::string::npos)
          << setter << index << "\n"
          << refused.err;
      EXPECT_EQ(refused.out.find("== store changed"), std::string::npos) << refused.out;
      EXPECT_EQ(refused.out.find("== event"), std::string::npos) << refused.out;
    }
  }
  EXPECT_EQ(Dump({"1", "101", "102", "1071"}), before);

  const Outcome plain = Request(
      "SetRealField", "<SetRealField PageId=\"1011\" FieldId=\"103\" Index=\"-1\" Value=\"395\"/>");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(Dump({"101"}).find("RatedFlow = 395 m3/h\n"), std::string::npos);
}

// Two fields of one row of the summary list, merged into one held event:
// the row's revision once, right after the row's first field. Row 2's
// revision values start at "Revisions" 10, behind the one fixed value and
// rows 0 and 1 (four values a row).
TEST_F(KxqhostSettersTest, TwoFieldsOfOneRowInOneEventShowThatRowsRevisionOnce) {
  WriteText(dir_ / "row.kxq",
            "set 1071 Revisions[9] A\n"
            "set 1071 Revisions[10] B\n"
            "set 1071 Revisions[11] C\n"
            "request SetStringField <<END\n"
            "<XMLMessage Status=\"1\"><SetStringField PageId=\"1071\" FieldId=\"402\" "
            "Index=\"2\" Value=\"P-102X\"/></XMLMessage>\n"
            "END\n"
            "request SetRealField <<END\n"
            "<XMLMessage Status=\"1\"><SetRealField PageId=\"1071\" FieldId=\"404\" "
            "Index=\"2\" Value=\"3300\"/></XMLMessage>\n"
            "END\n"
            "deliver\n");
  const Outcome outcome = Host({"--events", "--hold-events", "run", dir_ / "row.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const size_t event = outcome.out.find("== event DataField [F1 1071] to bob\n");
  ASSERT_NE(event, std::string::npos) << outcome.out;
  const std::string xml = outcome.out.substr(event);
  EXPECT_NE(xml.find("Value=\"P-102X\" Index=\"2\"/><ShowRevision PageId=\"1071\" "
                     "RevisionId=\"1\" Alignment=\"0\" VerticalAlignment=\"0\" Value=\"B\" "
                     "Index=\"2\"/><ShowRealField PageId=\"1071\" FieldId=\"404\""),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("<ShowRevision"), xml.rfind("<ShowRevision")) << xml;
}

// A new object made behind a field is filled from the master BEDD data of
// the template it is shown by: the sample plant with a master BEDD object
// (ambient temperature 35 degC), the temperature on the equipment and on
// the pump sheets. A pump made on pump sheet 1092 takes it and is marked;
// a pump made as a new row of the equipment summary 1071 is marked (that
// template's class view is its header's, which shows no site condition).
TEST_F(KxqhostSettersTest, ANewObjectIsFilledFromTheMasterDataOfItsTemplate) {
  std::ifstream file(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string plant = text.str();
  const std::string ambient = R"(<attribute name="AmbientTemperature" type="real" )"
                              R"(dimension="Temperature" unit="degC" path="AmbientTemperature"/>)";
  const auto replace = [&](const std::string& from, const std::string& to) {
    const size_t at = plant.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    plant.replace(at, from.size(), to);
  };
  replace(R"(<attribute name="BEDDInitialized" type="boolean"/>)",
          R"(<attribute name="BEDDInitialized" type="boolean"/>)" + ambient);
  replace(
      R"(<class name="MasterBEDD" base="GenericClass" description="Basic engineering design data"/>)",
      R"(<class name="MasterBEDD" base="GenericClass">)" + ambient + "</class>");
  replace(
      R"(<attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="degC"/>)",
      ambient);
  replace(R"(<field id="502" type="String" attribute="Service" case="0"/>
        </node>
      </page>
    </template>
  </templates>)",
          R"(<field id="502" type="String" attribute="Service" case="0"/>
          <field id="503" type="Real" attribute="AmbientTemperature" case="0"/>
        </node>
      </page>
    </template>
  </templates>)");
  replace("  <objects>\n",
          "  <objects>\n    <object id=\"3\" class=\"MasterBEDD\">"
          "<value attribute=\"AmbientTemperature\" unit=\"degC\">35</value>"
          "</object>\n");
  std::remove(Store().c_str());
  const Outcome made = Host({"init", "--fixture", "-"}, plant);
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_EQ(Request("SetStringField", R"(<SetStringField PageId="1092" FieldId="501" )"
                                      R"(Value="P-201" ConfirmedClass="Pump"/>)")
                .status,
            0);
  ASSERT_EQ(Request("SetStringField", R"(<SetStringField PageId="1071" FieldId="402" )"
                                      R"(Index="7" Value="P-202" ConfirmedClass="Pump"/>)")
                .status,
            0);
  const std::string pumps = Dump({"1204", "1205"});
  EXPECT_NE(pumps.find("Name = \"P-201\"\n"), std::string::npos) << pumps;
  EXPECT_NE(pumps.find("BEDDInitialized = true\nAmbientTemperature = 35 degC\n"), std::string::npos)
      << pumps;
  EXPECT_NE(pumps.find("Name = \"P-202\"\nDataViews[1] = #1071\nBEDDInitialized = true\n"),
            std::string::npos)
      << pumps;
}

}  // namespace
}  // namespace kx::test::tools
