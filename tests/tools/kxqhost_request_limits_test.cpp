// Requests whose numbers lie far out or name an object of the wrong kind,
// through kxqhost on the sample plant: each is refused with a text that says
// what was expected, and the store stays as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

using ::testing::HasSubstr;

class KxqhostRequestLimitsTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome Request(const std::string& name, const std::string& message,
                  const std::string& target = "Editor") {
    return Host(
        {"--events", "request", name, "-"},
        "<XMLMessage TargetId=\"" + target + "\" Status=\"1\">" + message + "</XMLMessage>");
  }
  // The request fails with `text` and changes nothing of `ids`.
  void ExpectRefused(const std::string& name, const std::string& message, const std::string& text,
                     const std::vector<std::string>& ids, const std::string& target = "Editor") {
    const std::string before = Dump(ids);
    const Outcome outcome = Request(name, message, target);
    EXPECT_EQ(outcome.status, 1) << message << "\n" << outcome.out;
    EXPECT_NE(outcome.err.find(text), std::string::npos) << message << "\n" << outcome.err;
    EXPECT_EQ(outcome.out.find("== store"), std::string::npos) << outcome.out;
    EXPECT_EQ(Dump(ids), before) << message;
  }
};

TEST_F(KxqhostRequestLimitsTest, PositionsAndRowsFarOutAreRefusedNotPaddedOrWrapped) {
  // Page 1061 holds one qualifier; its template names qualifier 0 only.
  for (const char* id : {"999999", "2147483647"}) {
    ExpectRefused(
        "SetQualifier",
        "<SetQualifier PageId=\"1061\" QualifierId=\"" + std::string(id) + "\" Value=\"1\"/>",
        "is not a qualifier of page 1061's template\" HR=\"0x8002000b\"", {"1061"});
  }
  // Beyond 32 bits the number is refused as it is read, not clamped.
  ExpectRefused(
      "SetQualifier", "<SetQualifier PageId=\"1061\" QualifierId=\"99999999999\" Value=\"1\"/>",
      "'99999999999' is out of range for attribute QualifierId\" HR=\"0x8002000a\"", {"1061"});
  // The next free place is still taken.
  const Outcome next =
      Request("SetQualifier", "<SetQualifier PageId=\"1061\" QualifierId=\"1\" Value=\"1\"/>");
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_NE(Dump({"1061"}).find("Qualifiers[2] = 1\n"), std::string::npos);

  // A row whose field number passes the integer range on the equipment
  // list (page 1071, four fields a row) names no field: nothing of another
  // field changes, nothing is read in its place.
  const std::string beyond = "Row 2147483647 is beyond the rows of continuous template";
  ExpectRefused("SetFieldFormat",
                "<SetFieldFormat PageId=\"1071\" Alignment=\"2\"><FieldId ID=\"404\" "
                "Index=\"2147483647\"/></SetFieldFormat>",
                beyond, {"1071"});
  ExpectRefused("GetFieldStatus",
                "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"404\" "
                "Index=\"2147483647\"/></GetFieldStatus>",
                beyond, {"1071"});
  ExpectRefused("GetFieldStatus",
                "<GetFieldStatus PageId=\"1071\"><FieldId ID=\"404\" "
                "Index=\"99999999999\"/></GetFieldStatus>",
                "'99999999999' is out of range for attribute Index", {"1071"});
  // The first row position plus such a row finds no object to hide.
  const Outcome hide = Request("HideFieldObjects",
                               "<HideFieldObjects PageId=\"1071\"><Field FieldId=\"402\" "
                               "Index=\"2147483647\"/></HideFieldObjects>");
  ASSERT_EQ(hide.status, 0) << hide.err;
  EXPECT_NE(hide.out.find("Text=\"No objects exist for selected field(s)\""), std::string::npos)
      << hide.out;
}

// An id or row whose text holds no number, a hexadecimal one or one beyond
// 32 bits is refused as the request is read, naming the value and the
// text: read as 0 it named row 0 of the pump summary (P-101A, deleted) or
// qualifier and unit field 0. The reading stays lenient otherwise, and
// "TargetId" stays a text.
TEST_F(KxqhostRequestLimitsTest, IdAndRowTextsWithoutADecimalNumberAreRefused) {
  struct Case {
    const char* message;
    const char* body;
    const char* error;
  };
  const Case cases[] = {
      {"DeleteFieldObjects",
       R"(<DeleteFieldObjects PageId="1071" Confirmed="1"><Field FieldId="402" Index="abc"/>)"
       R"(</DeleteFieldObjects>)",
       R"('abc' is not a number for attribute Index" HR="0x80020005")"},
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="abc" Value="2500"/>)",
       "'abc' is not a number for attribute Index"},
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="NaN" Value="2500"/>)",
       "'NaN' is not a number for attribute Index"},
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="0x0" Value="2500"/>)",
       R"('0x0' is not a decimal number for attribute Index" HR="0x80020005")"},
      {"SetRealField",
       R"(<SetRealField PageId="1071" FieldId="404" Index="99999999999" Value="2500"/>)",
       R"('99999999999' is out of range for attribute Index" HR="0x8002000a")"},
      {"SetRealField", R"(<SetRealField PageId="0x3F3" FieldId="103" Value="2500"/>)",
       "'0x3F3' is not a decimal number for attribute PageId"},
      {"SetQualifier", R"(<SetQualifier PageId="1061" QualifierId="abc" Value="1"/>)",
       "'abc' is not a number for attribute QualifierId"},
      {"SetUnit", R"(<SetUnit PageId="1011" UnitId="abc" Index="2"/>)",
       "'abc' is not a number for attribute UnitId"},
      {"ListDatasheetsByObject",
       "<ListDatasheetsByObject><ObjectId>abc</ObjectId></ListDatasheetsByObject>",
       "'abc' is not a number for element ObjectId"},
  };
  const std::vector<std::string> touched = {"101", "102", "103", "1007", "1011", "1061", "1071"};
  for (const Case& c : cases) ExpectRefused(c.message, c.body, c.error, touched, "1007");
  // The envelope's "Status" is read the same way.
  const std::string before = Dump(touched);
  const Outcome status = Host({"--events", "request", "SetRealField", "-"},
                              R"(<XMLMessage TargetId="Editor" Status="one"><SetRealField )"
                              R"(PageId="1011" FieldId="103" Value="2500"/></XMLMessage>)");
  EXPECT_EQ(status.status, 1) << status.out;
  EXPECT_NE(status.err.find("'one' is not a number for attribute Status"), std::string::npos)
      << status.err;
  EXPECT_EQ(Dump(touched), before);

  // A number followed by other characters is read up to them; an empty
  // text is 0, as before.
  for (const char* row : {"2 ", "2x", ""}) {
    const Outcome set = Request("SetRealField", R"(<SetRealField PageId="1071" FieldId="404" )"
                                                R"(Value="2500" Index=")" +
                                                    std::string(row) + R"("/>)");
    EXPECT_EQ(set.status, 0) << row << "\n" << set.err;
  }
  EXPECT_NE(Dump({"101"}).find("DesignPressure = 2500 kPa\n"), std::string::npos);
  EXPECT_NE(Dump({"103"}).find("DesignPressure = 2500 kPa\n"), std::string::npos);
}

// Digits of other scripts are no digits 0 to 9: an id, a row or a value
// written in them is refused as no number, also after digits 0 to 9,
// where it is not read as the digits before it ("1٢" is no row 1, "1011٢"
// no page 1011, "29٨٠" no speed 29).
TEST_F(KxqhostRequestLimitsTest, DigitsOfOtherScriptsAreRefusedAlsoAfterDigits0To9) {
  const std::vector<std::string> touched = {"101", "102", "131", "1003", "1011", "1032", "1071"};
  const struct {
    const char* message;
    const char* body;
    const char* error;
  } cases[] = {
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="٢" Value="2500"/>)",
       "'٢' is not a number for attribute Index"},
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="1٢" Value="2500"/>)",
       R"('1٢' is not a number for attribute Index" HR="0x80020005")"},
      {"SetRealField", R"(<SetRealField PageId="1071" FieldId="404" Index="1𝟐" Value="2500"/>)",
       "'1𝟐' is not a number for attribute Index"},
      {"SetRealField", R"(<SetRealField PageId="１０１１" FieldId="103" Value="2500"/>)",
       "'１０１１' is not a number for attribute PageId"},
      {"SetRealField", R"(<SetRealField PageId="1011٢" FieldId="103" Value="2500"/>)",
       "'1011٢' is not a number for attribute PageId"},
      {"ListDatasheetsByObject",
       "<ListDatasheetsByObject><ObjectId>10１</ObjectId></ListDatasheetsByObject>",
       "'10１' is not a number for element ObjectId"},
      {"SetIntegerField", R"(<SetIntegerField PageId="1012" FieldId="202" Value="29٨٠"/>)",
       "'29٨٠' is not a number for attribute Speed"},
      {"SetRealField", R"(<SetRealField PageId="1011" FieldId="103" Value="25٠٠"/>)",
       "'25٠٠' is not a number for attribute RatedFlow"},
      {"SetRadioField", R"(<SetRadioField PageId="1061" FieldId="512" Value="1٢"/>)",
       "'1٢' is not a number for field 512"},
      {"SetDateField", R"(<SetDateField PageId="1061" FieldId="509" Value="4530٦"/>)",
       "'4530٦' is not a number for attribute InServiceDate"},
  };
  for (const auto& c : cases) ExpectRefused(c.message, c.body, c.error, touched, "1007");
  const std::string before = Dump(touched);
  const Outcome bare = Host({"--events", "request", "DeletePage", "-"}, "1032٢");
  EXPECT_EQ(bare.status, 1) << bare.out;
  EXPECT_EQ(bare.err.rfind("<KXError Desc=\"'1032٢' is not a number for the page id\"", 0), 0u)
      << bare.err;
  EXPECT_EQ(Dump(touched), before);
}

// The messages whose whole text is an object id read it as the grammars
// read their integers: a text without a decimal number is refused
// naming it, not taken for id 0 ("No object with id 0") or clamped to the
// largest id; a line end after the number is not part of it.
TEST_F(KxqhostRequestLimitsTest, BareIdTextsWithoutADecimalNumberAreRefused) {
  const std::vector<std::string> touched = {"1003", "1007", "1031", "1032"};
  const std::string before = Dump(touched);
  const struct {
    const char* message;
    const char* text;
    const char* error;
  } cases[] = {
      {"DeletePage", "abc\n", R"('abc' is not a number for the page id" HR="0x80020005")"},
      {"DeletePage", "0x408", R"('0x408' is not a decimal number for the page id")"},
      {"DeletePage", "99999999999",
       R"('99999999999' is out of range for the page id" HR="0x8002000a")"},
      {"OpenPage", "abc!", "'abc' is not a number for the page id"},
      {"ListPageObjects", "NaN", "'NaN' is not a number for the page id"},
      {"ListTemplatePages", "x1003", "'x1003' is not a number for the datasheet id"},
      {"ListDatasheetObjects", "2147483648", "'2147483648' is out of range for the datasheet id"},
  };
  for (const auto& c : cases) {
    const Outcome refused = Host({"--events", "request", c.message, "-"}, c.text);
    EXPECT_EQ(refused.status, 1) << c.message << " " << c.text << "\n" << refused.out;
    EXPECT_EQ(refused.err.rfind(std::string("<KXError Desc=\"") + c.error, 0), 0u)
        << c.message << " " << c.text << "\n"
        << refused.err;
  }
  EXPECT_EQ(Dump(touched), before);
  // A number followed by other characters is read up to them.
  const Outcome deleted = Host({"--events", "request", "DeletePage", "-"}, " 1032 (page 2)\n");
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_NE(deleted.out.find("== store changed #1003: CurrentPages"), std::string::npos)
      << deleted.out;
}

TEST_F(KxqhostRequestLimitsTest, IdsOfTheWrongKindAreRefusedWithWhatWasExpected) {
  // Page 1011 is no plant item, no document and no datasheet.
  ExpectRefused(
      "CreateDocuments",
      "<CreateDocuments><Datasheet ObjectId=\"1011\" TemplateId=\"PUMP-DS\"/></CreateDocuments>",
      "Object 1011 is a Page, not an object of a class of template PUMP-DS", {"1011"});
  EXPECT_EQ(Host({"dump", "1204"}).status, 1);
  ExpectRefused("OpenDocuments",
                "<OpenDocuments><Datasheet DocumentId=\"1011\" Status=\"1\"/></OpenDocuments>",
                "Object 1011 is a Page, not a datasheet", {"1011"});
  ExpectRefused("RenameDocuments",
                "<RenameDocuments><Datasheet DocumentId=\"1011\" Name=\"X\"/></RenameDocuments>",
                "Object 1011 is a Page, not a datasheet", {"1011"});
  const Outcome close =
      Request("CloseDocuments",
              "<CloseDocuments><Datasheet DocumentId=\"1011\" Status=\"1\"/></CloseDocuments>");
  EXPECT_EQ(close.status, 1);
  EXPECT_NE(close.err.find("Object 1011 is a Page, not a document"), std::string::npos)
      << close.err;
  EXPECT_EQ(close.out.find("== store closed"), std::string::npos) << close.out;
  ExpectRefused("RecaseDocuments", "<RecaseDocuments CaseId=\"2\"/>",
                "Object 1011 is a Page, not a datasheet", {"1011"}, "1011");
  ExpectRefused("InsertPages",
                "<InsertPages PageId=\"1021\"><Page ObjectId=\"1011\" TemplateId=\"PUMP-DS\" "
                "TemplatePageId=\"P1\"/></InsertPages>",
                "Object 1011 is a Page, not an object of template page P1", {"1002"}, "1002");

  // Case ids that name no case.
  ExpectRefused(
      "CreateDocuments",
      "<CreateDocuments CaseId=\"999999\"><Datasheet ObjectId=\"132\" TemplateId=\"VESSEL-DS\"/>"
      "</CreateDocuments>",
      "There is no case 999999", {"132"});
  ExpectRefused("RecaseDocuments", "<RecaseDocuments CaseId=\"-5\"/>", "There is no case -5",
                {"1001", "1011", "1012"}, "1001");
  ExpectRefused("SetPageCase", "<SetPageCase PageId=\"1011\" CaseId=\"999999\"/>",
                "There is no case 999999", {"1011"});

  // A column is a vessel: the vessel template takes it, under a case of the
  // plant.
  const Outcome column = Request("CreateDocuments",
                                 "<CreateDocuments CaseId=\"2\"><Datasheet ObjectId=\"135\" "
                                 "TemplateId=\"VESSEL-DS\"/></CreateDocuments>");
  ASSERT_EQ(column.status, 0) << column.err;
  EXPECT_NE(column.out.find("(Design)"), std::string::npos) << column.out;
}

// A "Datasheet" element takes only a datasheet and a "Diagram" only a diagram:
// refused in both passes, with nothing deleted and no question asked.
TEST_F(KxqhostRequestLimitsTest, ADocumentElementNamingAnotherKindIsRefused) {
  const std::vector<std::string> ids = {"1",    "101",  "901",  "1001", "1007",
                                        "1011", "1012", "1101", "1191"};
  const struct {
    const char *element, *id, *error;
  } cases[] = {
      {"Datasheet", "101", "Object 101 is a Pump, not a datasheet"},
      {"Datasheet", "1", "Object 1 is a GlobalsClass, not a datasheet"},
      {"Datasheet", "901", "Object 901 is a Template, not a datasheet"},
      {"Datasheet", "1191", "Object 1191 is a Hold, not a datasheet"},
      {"Datasheet", "1012", "Object 1012 is a Page, not a datasheet"},
      {"Datasheet", "1101", "Object 1101 is a Diagram, not a datasheet"},
      {"Diagram", "1001", "Object 1001 is a Datasheet, not a diagram"},
      {"Diagram", "101", "Object 101 is a Pump, not a diagram"},
  };
  const std::pair<const char*, const char*> messages[] = {
      {"WithdrawDocuments", "<WithdrawDocuments Confirmed=\"1\">@ Status=\"1\"/>"},
      {"WithdrawDocuments", "<WithdrawDocuments>@ Status=\"1\"/>"},
      {"RenameDocuments", "<RenameDocuments>@ Name=\"X\"/>"},
      {"SubmitDocuments", "<SubmitDocuments Confirmed=\"1\">@/>"},
      {"CheckDocuments", "<CheckDocuments>@/>"},
  };
  for (const auto& c : cases) {
    for (const auto& [name, form] : messages) {
      std::string body = form;
      body.replace(body.find('@'), 1,
                   std::string("<") + c.element + " DocumentId=\"" + c.id + "\"");
      ExpectRefused(name, body + "</" + name + ">", c.error, ids);
    }
  }
  // Each kind under its own element is still taken.
  const Outcome renamed = Request(
      "RenameDocuments",
      "<RenameDocuments><Datasheet DocumentId=\"1001\" Name=\"X\"/><Diagram DocumentId=\"1101\" "
      "Name=\"Y\"/></RenameDocuments>");
  ASSERT_EQ(renamed.status, 0) << renamed.err;
  EXPECT_THAT(renamed.out, HasSubstr("== event Datasheet [D1 1001]"));
  EXPECT_THAT(Dump({"1101"}), HasSubstr("DocumentName = \"Y\"\n"));
  const Outcome withdrawn =
      Request("WithdrawDocuments",
              "<WithdrawDocuments Confirmed=\"1\"><Diagram DocumentId=\"1101\" Status=\"1\"/>"
              "<Datasheet DocumentId=\"1001\" Status=\"1\"/></WithdrawDocuments>");
  ASSERT_EQ(withdrawn.status, 0) << withdrawn.err;
  EXPECT_THAT(withdrawn.out, HasSubstr("Withdrew 2 Documents"));
  EXPECT_THAT(withdrawn.out, HasSubstr("== drawing Diagram #1101 Withdraw 1"));
  EXPECT_EQ(Host({"dump", "1001"}).status, 1);
}

// A row is read only on a list column: the list's header field 401 and a
// plain page's field refuse one, while what they name without a row stays.
TEST_F(KxqhostRequestLimitsTest, ARowOfAFieldThatIsNoListColumnIsRefused) {
  const std::vector<std::string> ids = {"1", "101", "102", "103", "1001", "1012", "1071"};
  const std::string header = "Field 401 not found in continuous template Equipment summary";
  const std::string list = R"(PageId="1071")", confirmed = list + R"( Confirmed="1")",
                    plain = R"(PageId="1012")";
  struct Row {
    std::string name, page, field, text;
    // The field-object messages take their fields in "Field" elements.
    std::string Body() const {
      if (name.find("FieldObjects") == std::string::npos)
        return "<" + name + " " + page + " " + field + "/>";
      return "<" + name + " " + page + "><Field " + field + "/></" + name + ">";
    }
  };
  const Row refused[] = {
      {"GetFieldObject", list, R"(FieldId="401" Index="0")", header},
      {"HideFieldObjects", list, R"(FieldId="401" Index="0")", header},
      {"DeleteFieldObjects", confirmed, R"(FieldId="401" Index="0")", header},
      {"ShowFieldObjects", confirmed, R"(FieldId="401" Index="6" ObjectId="121")", header},
      {"ShowFieldCase", list, R"(FieldId="401" Index="2")", header},
      {"ShowFieldCase", plain, R"(FieldId="201" Index="1")",
       "Page 1012 is no list: field 201 has no row 1"},
  };
  for (const Row& c : refused) ExpectRefused(c.name, c.Body(), c.text, ids);
  // A list column with a row, a header or a plain field without one; the
  // field-object messages ignore a row on a plain page.
  const Row sound[] = {
      {"GetFieldObject", list, R"(FieldId="402" Index="1")", R"(ObjectId="102")"},
      {"ShowFieldCase", list, R"(FieldId="402" Index="2")", "<ObjectId>103</ObjectId>"},
      {"ShowFieldCase", list, R"(FieldId="401")", "<ObjectId>1</ObjectId>"},
      {"ShowFieldCase", plain, R"(FieldId="201")", "<ObjectId>101</ObjectId>"},
      {"HideFieldObjects", list, R"(FieldId="402" Index="1")",
       R"(Text="Hide object Pump: P-101B")"},
      {"GetFieldObject", plain, R"(FieldId="201" Index="1")", R"(ObjectId="101")"},
      {"DeleteFieldObjects", plain, R"(FieldId="201" Index="1")",
       R"(Text="Delete object Pump: P-101A")"},
  };
  for (const Row& c : sound) {
    const Outcome answered = Request(c.name, c.Body());
    ASSERT_EQ(answered.status, 0) << c.Body() << "\n" << answered.err;
    EXPECT_THAT(answered.out, HasSubstr(c.text)) << c.Body();
  }
}

// A confirmed show places only what the field's node takes, and follows on
// no page of a datasheet other than the page's own.
TEST_F(KxqhostRequestLimitsTest, AShownObjectMustBeOfAClassItsNodeTakes) {
  ASSERT_EQ(Request("HideFieldObjects",
                    R"(<HideFieldObjects PageId="1011" Confirmed="1"><Field FieldId="101"/>)"
                    R"(</HideFieldObjects>)",
                    "1001")
                .status,
            0);
  const std::vector<std::string> ids = {"1",    "101",  "111",  "1001", "1002",
                                        "1011", "1012", "1021", "1022", "1071"};
  const auto show = [](const char* page, const char* field, const char* more) {
    return std::string("<ShowFieldObjects PageId=\"") + page +
           "\" Confirmed=\"1\"><Field FieldId=\"" + field + "\" " + more + "/></ShowFieldObjects>";
  };
  const std::string pump = show("1011", "101", R"(ObjectId="101")");
  const std::string row = show("1071", "402", R"(Index="6" ObjectId="121")");
  const struct {
    std::string body, error, target;
  } cases[] = {
      {show("1011", "101", R"(ObjectId="1002")"),
       "Object 1002 is a Datasheet, not an object of a class of node Pump", "1001"},
      {show("1011", "101", R"(ObjectId="111")"),
       "Object 111 is a Motor, not an object of a class of node Pump", "1001"},
      {show("1071", "402", R"(Index="6" ObjectId="1002")"),
       "Object 1002 is a Datasheet, not an object of a class of node Equipment", "1007"},
      {pump, "Object 1002 is a Datasheet, not datasheet 1001 of page 1011", "1002"},
  };
  for (const auto& c : cases) ExpectRefused("ShowFieldObjects", c.body, c.error, ids, c.target);
  ASSERT_EQ(Request("ShowFieldObjects", pump, "1001").status, 0);
  EXPECT_THAT(Dump({"1011"}), HasSubstr("NodeObjects[1] = #101\n"));
  EXPECT_THAT(Dump({"1012"}), HasSubstr("NodeObjects[1] = #101\n"));
  ASSERT_EQ(Request("ShowFieldObjects", row, "1007").status, 0);
  EXPECT_THAT(Dump({"1071"}), HasSubstr("NodeObjects[8] = #121\n"));
}

// The datasheet service takes no page or template for a datasheet, and fills
// a summary sheet of the template given, a list only while it holds no rows.
TEST_F(KxqhostRequestLimitsTest, TheDatasheetServiceActsOnDatasheetsOnly) {
  const std::vector<std::string> ids = {"1001", "1007", "1011", "1012", "1071"};
  const std::string before = Dump(ids);
  const struct {
    std::vector<std::string> call;
    const char* error;
  } cases[] = {
      {{"1071", "IsSummarySheet"}, "Object 1071 is a Page, not a datasheet"},
      {{"905", "IsSummarySheet"}, "Object 905 is a Template, not a datasheet"},
      {{"1071", "DatasheetName"}, "Object 1071 is a Page, not a datasheet"},
      {{"1007", "ProcessSummarySheet", "template:EQ-SUMMARY", "#1001"},
       "Datasheet 1001 is no summary sheet of template EQ-SUMMARY"},
      {{"1007", "ProcessSummarySheet", "template:PUMP-SHEETS", "#1007"},
       "Datasheet 1007 is no summary sheet of template PUMP-SHEETS"},
      {{"1007", "ProcessSummarySheet", "template:EQ-SUMMARY", "#1071"},
       "Object 1071 is a Page, not a datasheet"},
      {{"1007", "ProcessSummarySheet", "template:EQ-SUMMARY", "#1007"},
       "Summary sheet 1007 holds members already"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"service", "10"};
    arguments.insert(arguments.end(), c.call.begin(), c.call.end());
    const Outcome refused = Host(arguments);
    EXPECT_EQ(refused.status, 1) << c.error << "\n" << refused.out;
    EXPECT_THAT(refused.err, HasSubstr(c.error));
  }
  EXPECT_EQ(Dump(ids), before);
  // A sheet of a page a member takes the members it lacks, whatever it holds.
  const Outcome pages = Host({"--project", "3", "--events", "service", "10", "1009",
                              "ProcessSummarySheet", "template:PUMP-SHEETS", "#1009"});
  ASSERT_EQ(pages.status, 0) << pages.err;
  EXPECT_THAT(pages.out, HasSubstr("== event Datasheet [D1 1009]"));
  EXPECT_THAT(Dump({"1009"}), HasSubstr("NumberOfPages = 5\n"));
  EXPECT_EQ(Host({"service", "10", "1007", "IsSummarySheet"}).out, "true\n");
  EXPECT_EQ(Host({"service", "10", "1001", "IsSummarySheet"}).out, "false\n");
}

// A page message's "TargetId" naming no datasheet is refused before the page is written.
TEST_F(KxqhostRequestLimitsTest, APageMessageTargetNamingNoDatasheetIsRefused) {
  const std::vector<std::string> ids = {"101", "1002", "1021", "1071", "1101"};
  const std::pair<const char*, const char*> targets[] = {
      {"101", "Object 101 is a Pump, not a datasheet"},
      {"1071", "Object 1071 is a Page, not a datasheet"},
      {"1101", "Object 1101 is a Diagram, not a datasheet"},
  };
  for (const auto& [target, error] : targets) {
    ExpectRefused("RenamePage", R"(<RenamePage PageId="1021" Name="X"/>)", error, ids, target);
    ExpectRefused("PageLayout", R"(<PageLayout PageId="1021" Orientation="2" TopMargin="9"/>)",
                  error, ids, target);
  }
  const Outcome renamed = Request("RenamePage", R"(<RenamePage PageId="1021" Name="X"/>)", "1002");
  ASSERT_EQ(renamed.status, 0) << renamed.err;
  EXPECT_THAT(renamed.out, HasSubstr("== event Datasheet [D1 1002]"));
  ASSERT_EQ(Request("PageLayout", R"(<PageLayout PageId="1021" Orientation="2"/>)", "1002").status,
            0);
  EXPECT_THAT(Dump({"1021"}), HasSubstr("Orientation = 2\n"));
}

}  // namespace
}  // namespace kx::test::tools
