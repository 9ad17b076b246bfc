// "GetUnits" and "SetUnit" end to end: the display texts offered, the unit
// stored and its event, and the requests refused.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/setterhost.h"

using namespace kx::test::setters;

namespace {

using Lines = std::vector<std::string>;

std::string Error(const kx::host::CallResult& result) { return Narrow(result.error); }

class UnitFieldTest : public ::testing::Test {
 protected:
  SetterHost host_;
};

TEST_F(UnitFieldTest, UnitIdsAndPositionsOutOfRangeFailWithNothingWritten) {
  EXPECT_EQ(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" Index=\"1\"/>").hr, E_INVALIDARG);
  EXPECT_TRUE(
      FAILED(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"5\" Index=\"1\"/>").hr));
  EXPECT_TRUE(
      FAILED(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"9\"/>").hr));
  EXPECT_TRUE(FAILED(host_.Send(u"GetUnits", u"<GetUnits PageId=\"21\" UnitId=\"-1\"/>").hr));
  EXPECT_EQ(host_.Value(kPage, u"Units", 1), "l/s");
  EXPECT_EQ(host_.Count(kPage, u"Units"), 1);
}

TEST_F(UnitFieldTest, GetUnitsAnswersTheDisplayTextsOfTheDimension) {
  const auto result = host_.Send(u"GetUnits", u"<GetUnits PageId=\"21\" UnitId=\"0\"/>", 3);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(Narrow(result.reply),
            "<XMLMessage TargetId=\"T\" Status=\"3\"><PopUnits PageId=\"21\" UnitId=\"0\">"
            "<Value>cubic metres per hour</Value><Value>litres per second</Value></PopUnits>"
            "</XMLMessage>");
}

TEST_F(UnitFieldTest, SetUnitStoresTheUnitTextAndTellsTheClientsOnce) {
  const auto result =
      host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"0\"/>", 2);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPage, u"Units", 1), "m3/h");
  EXPECT_EQ(EventLines(result), (Lines{"UnitField [U1 21] to ed"}));
  // The stored values stay: the page only shows them in the new unit.
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "2");
  const auto again = host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"0\"/>");
  EXPECT_EQ(again.hr, S_OK);
  EXPECT_TRUE(again.events.empty());
}

}  // namespace
