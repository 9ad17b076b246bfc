// The field-object messages end to end: questions and candidates first,
// the work once confirmed.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxstoreutils.h"
#include "main/mainworkers.h"
#include "support/fieldhost.h"
#include "support/moduletestsupport.h"
#include "support/setterhost.h"

using namespace kx::test::setters;
using namespace kx::test::fields;

namespace {

class FieldObjectsTest : public ::testing::Test {
 protected:
  // None of the field-object messages raises an event of its own, also not
  // for a list's rows shown; `quiet` false for rows taken off a list, which
  // tell the clients of the rows they moved.
  std::string Reply(const std::u16string& name, const std::u16string& attributes,
                    const std::u16string& fields, bool quiet = true) {
    const auto result = host_.host().Request(name, u"<XMLMessage TargetId=\"20\" Status=\"1\"><" +
                                                       name + u" " + attributes + u">" + fields +
                                                       u"</" + name + u"></XMLMessage>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    if (quiet) {
      EXPECT_EQ(result.events.size(), 0u);
    }
    return Narrow(result.reply);
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(FieldObjectsTest, HidingThePrimaryObjectAsksAndConfirmedHidesItOnTheOtherPagesToo) {
  EXPECT_EQ(
      Reply(u"HideFieldObjects", u"PageId=\"21\"", u"<Field FieldId=\"1\"/><Field FieldId=\"2\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"QUESTION\" Text=\"Hide "
      "object Pump: Pump 10\" FieldId=\"1\" Index=\"-1\" ObjectId=\"10\"/></XMLMessage>");
  EXPECT_EQ(host_.Count(kPage, u"NodeObjects"), 1);
  EXPECT_EQ(Reply(u"HideFieldObjects", u"PageId=\"21\" Confirmed=\"1\"", u"<Field FieldId=\"1\"/>"),
            "");
  EXPECT_EQ(host_.Value(kPage, u"NodeObjects"), "");
  EXPECT_EQ(host_.Value(kPage2, u"NodeObjects"), "");
  EXPECT_NE(host_.Object(kPump), nullptr);
}

// Fields 9 and 10 stand on one node: the first in the order of the key
// texts, "10:-1" before "9:-1", yields the record, whatever the request's
// order.
TEST_F(FieldObjectsTest, OfTwoFieldsOnOneNodeTheFirstKeyTextYieldsTheRecord) {
  for (const std::u16string fields : {u"<Field FieldId=\"9\"/><Field FieldId=\"10\"/>",
                                      u"<Field FieldId=\"10\"/><Field FieldId=\"9\"/>"}) {
    EXPECT_EQ(Reply(u"HideFieldObjects", u"PageId=\"21\"", fields),
              "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"QUESTION\" "
              "Text=\"Hide object Pump: Pump 10\" FieldId=\"10\" Index=\"-1\" "
              "ObjectId=\"10\"/></XMLMessage>");
    EXPECT_EQ(Reply(u"DeleteFieldObjects", u"PageId=\"21\"", fields),
              "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"QUESTION\" "
              "Text=\"Delete object Pump: Pump 10\" FieldId=\"10\" Index=\"-1\" "
              "ObjectId=\"10\"/></XMLMessage>");
  }
}

TEST_F(FieldObjectsTest, RefusalsAndAlertsChangeNothing) {
  // A list's fixed field stands for no row object.
  EXPECT_EQ(
      Reply(u"HideFieldObjects", u"PageId=\"51\"", u"<Field FieldId=\"11\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"ALERT\" Text=\"No objects "
      "exist for selected field(s)\" FieldId=\"-1\" Index=\"-1\" ObjectId=\"0\"/></XMLMessage>");
  EXPECT_EQ(
      Reply(u"ShowFieldObjects", u"PageId=\"21\"", u"<Field FieldId=\"1\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"ALERT\" Text=\"An object "
      "exist for selected field(s)\"/></XMLMessage>");
  EXPECT_EQ(
      Reply(u"ShowFieldObjects", u"PageId=\"51\"", u"<Field FieldId=\"12\" Index=\"5\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"ALERT\" Text=\"No objects "
      "exist for selected field(s)\"/></XMLMessage>");
  EXPECT_EQ(
      Reply(u"DeleteFieldObjects", u"PageId=\"41\"", u"<Field FieldId=\"1\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"ALERT\" Text=\"No objects "
      "exist for selected field(s)\" FieldId=\"-1\" Index=\"-1\" ObjectId=\"0\"/></XMLMessage>");
  EXPECT_EQ(host_.Count(51, u"NodeObjects"), 6);
  EXPECT_EQ(Reply(u"AddFieldObjects", u"PageId=\"21\"", u""), "");
  EXPECT_EQ(Reply(u"RemoveFieldObjects", u"PageId=\"21\"", u""), "");
}

TEST_F(FieldObjectsTest, RowsOfDifferentFieldsNeverCollideAndConfirmedRowsGo) {
  // Field 12 row 2 and field 13 row 1: both asked about.
  EXPECT_EQ(
      Reply(u"DeleteFieldObjects", u"PageId=\"51\"",
            u"<Field FieldId=\"13\" Index=\"1\"/><Field FieldId=\"12\" Index=\"2\"/>"),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"QUESTION\" Text=\"Delete "
      "object Pump: Pump 54\" FieldId=\"12\" Index=\"2\" ObjectId=\"54\"/><Message "
      "MessageType=\"QUESTION\" "
      "Text=\"Delete object Pump: Pump 53\" FieldId=\"13\" Index=\"1\" "
      "ObjectId=\"53\"/></XMLMessage>");
  EXPECT_EQ(Reply(u"HideFieldObjects", u"PageId=\"51\" Confirmed=\"1\"",
                  u"<Field FieldId=\"13\" Index=\"1\"/><Field FieldId=\"12\" Index=\"2\"/>", false),
            "");
  EXPECT_EQ(host_.Count(51, u"NodeObjects"), 4);
  EXPECT_NE(host_.Object(54), nullptr);
  // Shown again, confirmed with the object: a row of the list, and no event.
  EXPECT_EQ(Reply(u"ShowFieldObjects", u"PageId=\"51\" Confirmed=\"1\"",
                  u"<Field FieldId=\"12\" Index=\"3\" ObjectId=\"54\"/>"),
            "");
  EXPECT_EQ(host_.Count(51, u"NodeObjects"), 5);
}

TEST_F(FieldObjectsTest, ShowingOffersTheListsObjectsAndConfirmedPlacesTheChosenOne) {
  EXPECT_EQ(Reply(u"ShowFieldObjects", u"PageId=\"21\"", u"<Field FieldId=\"20\"/>"),
            "<XMLMessage TargetId=\"20\" Status=\"1\"><FieldObjects FieldId=\"20\"><Object "
            "ObjectId=\"70\" Name=\"Nozzle: Nozzle 70\"/><Object ObjectId=\"71\" Name=\"Nozzle: "
            "Nozzle 71\"/>"
            "</FieldObjects></XMLMessage>");
  EXPECT_EQ(Reply(u"ShowFieldObjects", u"PageId=\"21\" Confirmed=\"1\"",
                  u"<Field FieldId=\"20\" ObjectId=\"71\"/>"),
            "");
  EXPECT_EQ(host_.Value(kPage, u"NodeObjects", 2), "#71");
  // Hiding a member of the list is done at once: no question.
  EXPECT_EQ(Reply(u"HideFieldObjects", u"PageId=\"21\"", u"<Field FieldId=\"20\"/>"), "");
  EXPECT_EQ(host_.Value(kPage, u"HiddenObjects", 2), "-1");
}

// The real workers, with the overspill run recorded.
class OverspillRecorder : public MainWorkers {
 public:
  HRESULT CreateOverspillPages(MainContext&, IKXQObject* datasheet, LONG mode) override {
    runs.push_back(std::to_string(ObjectIdOf(datasheet)) + " mode " + std::to_string(mode));
    return S_OK;
  }
  std::vector<std::string> runs;
};

TEST_F(FieldObjectsTest, AConfirmedPrimaryObjectGoesOnEveryCurrentPageAndTheOverspillIsRebuilt) {
  OverspillRecorder workers;
  kx::test::inprocess::MainOf(host_.service()).UseWorkers(&workers);
  // "TargetId" names the datasheet whose pages follow.
  const auto shown = host_.host().Request(
      u"ShowFieldObjects",
      u"<XMLMessage TargetId=\"40\" Status=\"1\"><ShowFieldObjects PageId=\"41\" "
      u"Confirmed=\"1\"><Field FieldId=\"1\" ObjectId=\"10\"/></ShowFieldObjects>"
      u"</XMLMessage>");
  ASSERT_EQ(shown.hr, S_OK) << Narrow(shown.error);
  EXPECT_EQ(Narrow(shown.reply), "");
  EXPECT_EQ(host_.Value(41, u"NodeObjects"), "#10");
  EXPECT_EQ(host_.Value(kEmptyPage2, u"NodeObjects"), "#10");
  EXPECT_EQ(workers.runs, (std::vector<std::string>{"40 mode 3"}));
  kx::test::inprocess::MainOf(host_.service()).UseWorkers(nullptr);
}

TEST_F(FieldObjectsTest, ShowPrimaryObjectsNamesTheEmptyFieldsThatTakeATemplateClass) {
  EXPECT_EQ(Reply(u"ShowPrimaryObjects", u"PageId=\"41\"",
                  u"<Field FieldId=\"2\"/><Field FieldId=\"1\"/><Field FieldId=\"2\"/>"),
            "<XMLMessage TargetId=\"20\" Status=\"1\"><ShowPrimaryObjects ClassView=\"Pump\">"
            "<FieldId>2</FieldId></ShowPrimaryObjects></XMLMessage>");
  EXPECT_EQ(Reply(u"ShowPrimaryObjects", u"PageId=\"21\"", u"<Field FieldId=\"1\"/>"),
            "<XMLMessage TargetId=\"20\" Status=\"1\"><ShowPrimaryObjects></ShowPrimaryObjects>"
            "</XMLMessage>");
}

// A node attached to a base of the template's class takes a pump too, but
// its class is not the template's: its field is no place for a primary
// object.
TEST(FieldObjectsBaseClassTest, ShowPrimaryObjectsPassesOverANodeOfABaseOfTheTemplatesClass) {
  std::string fixture = FieldFixture();
  const std::string node = "<node name=\"Pump\" index=\"0\" classes=\"Pump\">";
  ASSERT_NE(fixture.find(node), std::string::npos);
  fixture.replace(fixture.find(node), node.size(),
                  "<node name=\"Pump\" index=\"0\" classes=\"ProcessPlantEquipment\">");
  SetterHost host(fixture.c_str());
  const auto result = host.host().Request(
      u"ShowPrimaryObjects",
      u"<XMLMessage TargetId=\"40\" Status=\"1\"><ShowPrimaryObjects PageId=\"42\">"
      u"<Field FieldId=\"1\"/></ShowPrimaryObjects></XMLMessage>");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply),
            "<XMLMessage TargetId=\"40\" Status=\"1\"><ShowPrimaryObjects></ShowPrimaryObjects>"
            "</XMLMessage>");
}

// Of the datasheet's other pages only one whose root node has the object's
// own class attached takes a shown primary object: page 42's node, attached
// to a base of the pump's class, stays empty.
TEST(FieldObjectsBaseClassTest, AShownPrimaryObjectPassesOverAPageOfABaseOfItsClass) {
  std::string fixture = FieldFixture();
  const std::string node = "<node name=\"Pump\" index=\"0\" classes=\"Pump\">";
  ASSERT_NE(fixture.find(node), std::string::npos);
  fixture.replace(fixture.find(node), node.size(),
                  "<node name=\"Pump\" index=\"0\" classes=\"ProcessPlantEquipment\">");
  SetterHost host(fixture.c_str());
  OverspillRecorder workers;
  kx::test::inprocess::MainOf(host.service()).UseWorkers(&workers);
  const auto shown = host.host().Request(
      u"ShowFieldObjects",
      u"<XMLMessage TargetId=\"40\" Status=\"1\"><ShowFieldObjects PageId=\"41\" "
      u"Confirmed=\"1\"><Field FieldId=\"1\" ObjectId=\"10\"/></ShowFieldObjects>"
      u"</XMLMessage>");
  kx::test::inprocess::MainOf(host.service()).UseWorkers(nullptr);
  ASSERT_EQ(shown.hr, S_OK) << Narrow(shown.error);
  EXPECT_EQ(host.Value(41, u"NodeObjects"), "#10");
  EXPECT_EQ(host.Count(kEmptyPage2, u"NodeObjects"), 0);
  EXPECT_EQ(workers.runs, (std::vector<std::string>{"40 mode 3"}));
}

}  // namespace
