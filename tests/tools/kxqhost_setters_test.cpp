// The field setters through kxqhost on the sample plant: what the module
// changed, the events it raised, and what it handed the host (object
// creation, class confirmation, a success other than S_OK).
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace kxqtest {
namespace {

class KxqhostSettersTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made = Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome Request(const std::string& name, const std::string& message) {
    return Host({"--events", "request", name, "-"},
                "<XMLMessage TargetId=\"Editor\" Status=\"1\">" + message + "</XMLMessage>");
  }
};

TEST_F(KxqhostSettersTest, ARealFieldChangesTheValueTheRecordAndTellsTheUser) {
  const Outcome outcome =
      Request("SetRealField", "<SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"395\" Format=\"0\"/>");
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
  const Outcome other = Host({"--events", "request", "SetRealField", "-"},
                             "<XMLMessage Status=\"2\"><SetRealField PageId=\"1011\" FieldId=\"103\" "
                             "Value=\"1\"/></XMLMessage>");
  EXPECT_EQ(other.status, 0);
  EXPECT_EQ(other.out, "== current datasheet none, page none\n");
}

TEST_F(KxqhostSettersTest, ARowThatFailsThePermanentFilterShowsTheAlertAndSFalse) {
  const Outcome outcome = Request("SetStringField", "<SetStringField PageId=\"1071\" FieldId=\"402\" "
                                                    "Index=\"6\" Value=\"M-9\" ConfirmedClass=\"Motor\"/>");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("<Message MessageType=\"ALERT\">'Name' = 'M-9' did not pass summary list "
                             "membership requirements defined by Permanent Filter</Message>"),
            std::string::npos)
      << outcome.out;
  // Only the page model's notice of the row that came and went.
  EXPECT_NE(outcome.out.find("== event DataField [F1 1071] to bob\n"), std::string::npos);
  EXPECT_EQ(outcome.out.find("== event", outcome.out.find("== event") + 1), std::string::npos);
  EXPECT_NE(outcome.err.find("host: begin object creation\nhost: end object creation\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("kxqhost: request SetStringField returned S_FALSE"), std::string::npos);
  EXPECT_EQ(Dump({"1071"}).find("NodeObjects[8]"), std::string::npos);

  // Without a class the host is asked which class to create.
  const Outcome unconfirmed = Request(
      "SetStringField", "<SetStringField PageId=\"1071\" FieldId=\"402\" Index=\"6\" Value=\"P-9\"/>");
  EXPECT_EQ(unconfirmed.status, 1);
  EXPECT_NE(unconfirmed.err.find("host: confirm class ProcessPlantEquipment"), std::string::npos)
      << unconfirmed.err;
}

}  // namespace
}  // namespace kxqtest
