// Fields through the host program: "OpenPage" of current pages writes every
// kind of field with the live value its route reaches, its presentation and
// its status word, on plain pages and continuous lists.
#include <gtest/gtest.h>
#include <string>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class FieldsCliTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/fields-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
};

// Page 21: live values through routes of one to three steps, number texts
// and units, the check without value "0", the radio without value "-1",
// 0x100 where the issued copy's record differs (fields 4 to 13 have none),
// the value's own status bits (field 3: 0x1 and 0x4).
const char kPage21Fields[] =
    "<ShowStringField PageId=\"21\" FieldId=\"1\" Alignment=\"1\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"P-101\"/>"
    "<ShowRealField PageId=\"21\" FieldId=\"2\" Format=\"0.0\" Alignment=\"0\" "
    "VerticalAlignment=\"0\" State=\"0\" Value=\"2\"/>"
    "<ShowIntegerField PageId=\"21\" FieldId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"5\" Value=\"1450\"/>"
    "<ShowBoolField PageId=\"21\" FieldId=\"4\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"1\"/>"
    "<ShowDateField PageId=\"21\" FieldId=\"5\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"45293.5\"/>"
    "<ShowStringField PageId=\"21\" FieldId=\"6\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"M-101\"/>"
    "<ShowRealField PageId=\"21\" FieldId=\"7\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"55.5\"/>"
    "<ShowRealField PageId=\"21\" FieldId=\"8\" Alignment=\"0\" VerticalAlignment=\"0\" "
    "State=\"256\" Value=\"1\"/>"
    "<ShowCheckField PageId=\"21\" FieldId=\"9\" State=\"256\" Value=\"1\"/>"
    "<ShowRadioField PageId=\"21\" FieldId=\"10\" State=\"256\" Value=\"2\"/>"
    "<ShowCheckField PageId=\"21\" FieldId=\"11\" State=\"0\" Value=\"0\"/>"
    "<ShowRadioField PageId=\"21\" FieldId=\"12\" State=\"0\" Value=\"-1\"/>"
    "<ShowSketchField PageId=\"21\" FieldId=\"13\" TLX=\"0\" TLY=\"0\" BRX=\"0\" BRY=\"0\" "
    "State=\"256\" Value=\"\"/>";

TEST_F(FieldsCliTest, OpenPageOfACurrentPageWritesEveryKindOfFieldLive) {
  const Outcome opened = Host({"--events", "request", "OpenPage", "-"}, "21");
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out.rfind(std::string("<XMLMessage TargetId=\"20\" Status=\"1\">"
                                         "<OpenPage PageId=\"21\" OnDemand=\"1\">") +
                                 kPage21Fields + "<ShowUnit PageId=\"21\"",
                             0),
            0u)
      << opened.out;
  // Field 14's qualifier is not set: a warning, and the page goes on.
  EXPECT_NE(opened.err.find("warning: Qualifier for field is not set"), std::string::npos)
      << opened.err;
  EXPECT_EQ(opened.out.find("FieldId=\"14\""), std::string::npos);
  // The objects found by route now stand on the page: motor, bearing 2 and
  // the first nozzle on nodes 1, 2 and 3.
  EXPECT_NE(opened.out.find("== store changed #21: NodeObjects, NodeIndices\n"), std::string::npos);
  const std::string page = Dump({"21"});
  EXPECT_NE(page.find("NodeObjects[2] = #11\nNodeObjects[3] = #13\nNodeObjects[4] = #14\n"),
            std::string::npos)
      << page;

  // Opened again, the page reads the same and changes nothing more.
  const Outcome again = Host({"--events", "request", "OpenPage", "-"}, "21");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find(kPage21Fields), std::string::npos);
  EXPECT_EQ(again.out.find("== store changed"), std::string::npos) << again.out;
}

TEST_F(FieldsCliTest, OpenPageOfAContinuousListWritesItsRows) {
  const Outcome opened = Host({"request", "OpenPage", "-"}, "31");
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out,
            "<XMLMessage TargetId=\"30\" Status=\"1\"><OpenPage PageId=\"31\" OnDemand=\"1\">"
            "<ShowStringField PageId=\"31\" FieldId=\"1\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"TL\"/>"
            "<ShowStringField PageId=\"31\" FieldId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"P-201\" Index=\"0\"/>"
            "<ShowIntegerField PageId=\"31\" FieldId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"900\" Index=\"0\"/>"
            "<ShowStringField PageId=\"31\" FieldId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"P-202\" Index=\"1\"/>"
            "<ShowIntegerField PageId=\"31\" FieldId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" "
            "State=\"256\" Value=\"950\" Index=\"1\"/>"
            "</OpenPage></XMLMessage>\n");
  EXPECT_EQ(opened.err, "");
}

TEST_F(FieldsCliTest, AContinuousListIsComparedWithTheOtherListsLiveRows) {
  const Outcome compared =
      Host({"request", "ComparePages", "-"},
           "<XMLMessage TargetId=\"30\" Status=\"1\"><ComparePages PageId=\"31\" "
           "DocumentId2=\"40\" Status2=\"1\"/></XMLMessage>");
  ASSERT_EQ(compared.status, 0) << compared.err;
  // Row 0 against the other list's row 0 (pump 34): the tag differs, the
  // speed does not; row 1 has nothing to compare with.
  EXPECT_NE(compared.out.find("<ShowStringField PageId=\"31\" FieldId=\"2\" Alignment=\"0\" "
                              "VerticalAlignment=\"0\" State=\"256\" Value=\"P-201\" "
                              "Index=\"0\"/><ShowIntegerField PageId=\"31\" FieldId=\"3\" "
                              "Alignment=\"0\" VerticalAlignment=\"0\" State=\"0\" "
                              "Value=\"900\" Index=\"0\"/>"),
            std::string::npos)
      << compared.out;
  EXPECT_NE(compared.out.find("State=\"256\" Value=\"950\" Index=\"1\"/>"), std::string::npos)
      << compared.out;
}

}  // namespace
}  // namespace kx::test::tools
