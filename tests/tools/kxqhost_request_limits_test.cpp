// Requests whose numbers lie far out or name an object of the wrong kind,
// through kxqhost on the sample plant: each is refused with a text that says
// what was expected, and the store stays as it was.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

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
  for (const char* id : {"999999", "2147483647", "99999999999"}) {
    ExpectRefused(
        "SetQualifier",
        "<SetQualifier PageId=\"1061\" QualifierId=\"" + std::string(id) + "\" Value=\"1\"/>",
        "is not a qualifier of page 1061's template\" HR=\"0x8002000b\"", {"1061"});
  }
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
                "Index=\"99999999999\"/></GetFieldStatus>",
                beyond, {"1071"});
  // The first row position plus such a row finds no object to hide.
  const Outcome hide = Request("HideFieldObjects",
                               "<HideFieldObjects PageId=\"1071\"><Field FieldId=\"402\" "
                               "Index=\"2147483647\"/></HideFieldObjects>");
  ASSERT_EQ(hide.status, 0) << hide.err;
  EXPECT_NE(hide.out.find("Text=\"No objects exist for selected field(s)\""), std::string::npos)
      << hide.out;
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
                "Object 1011 is a Page, not a document", {"1011"});
  const Outcome close =
      Request("CloseDocuments",
              "<CloseDocuments><Datasheet DocumentId=\"1011\" Status=\"1\"/></CloseDocuments>");
  EXPECT_EQ(close.status, 1);
  EXPECT_NE(close.err.find("Object 1011 is a Page, not a document"), std::string::npos)
      << close.err;
  EXPECT_EQ(close.out.find("close version"), std::string::npos) << close.out;
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

}  // namespace
}  // namespace kx::test::tools
