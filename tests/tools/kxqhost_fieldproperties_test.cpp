// The field property and presentation messages through kxqhost on the
// sample plant: what the module changed and the data-field events it
// raised, one field element per field it told the users about.
#include <gtest/gtest.h>
#include <string>

#include "support/host_fixture.h"

namespace kxqtest {
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

// Nor does a row taken off the list: row 1 (pump 102) leaves the page, its
// field values go with it, and no client hears of it.
TEST_F(KxqhostFieldPropertiesTest, AnObjectHiddenFromAListRaisesNoEvent) {
  const Outcome hidden = Host({"--events", "request", "HideFieldObjects", "-"},
                              "<XMLMessage TargetId=\"1007\" Status=\"1\"><HideFieldObjects "
                              "PageId=\"1071\" Confirmed=\"1\"><Field FieldId=\"402\" "
                              "Index=\"1\"/></HideFieldObjects></XMLMessage>");
  ASSERT_EQ(hidden.status, 0) << hidden.err;
  EXPECT_EQ(hidden.out.find("== event"), std::string::npos) << hidden.out;
  EXPECT_NE(hidden.out.find("== store changed #1071: Fields, Revisions, NodeObjects\n"),
            std::string::npos)
      << hidden.out;
  const std::string page = Dump({"1071"});
  EXPECT_EQ(page.find("#102\n"), std::string::npos) << page;
  EXPECT_NE(page.find("NodeObjects[3] = #103\n"), std::string::npos) << page;
}

}  // namespace
}  // namespace kxqtest
