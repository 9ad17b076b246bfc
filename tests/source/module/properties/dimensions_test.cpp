// The project-wide unit messages and the hold messages through the host
// driver, in-process, against a small store: what kxqhost cannot show (a
// drawing service or a host operation that fails, datasheets that cannot be
// changed for other reasons). End to end through kxqhost, with the sample
// requests' shapes: tests/tools/kxqhost_units_test.cpp.
#include <gtest/gtest.h>
#include <string>

#include "support/moduletestsupport.h"

namespace {

using kx::test::inprocess::Narrow;

// Datasheet 10 (template T, page 11 showing Length in "mm"); datasheets 20
// (no name) and 30 ("Z") whose pages name no template, so that their
// units cannot be changed.
const char kFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="GlobalsClass" base="GenericClass"><attribute name="CurrentDimensionSet"/></class>
  <class name="Hold" base="GenericClass"><attribute name="InActive" type="boolean"/></class>
  <class name="Datasheet" base="GenericClass"><attribute name="TemplateId"/><attribute name="BaseDimensionSet"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/></class>
  <class name="Page" base="GenericClass"><attribute name="TemplateId"/><attribute name="PageId"/>
   <attribute name="Units" list="true"/></class>
  <class name="Pump" base="GenericClass"/>
 </schema>
 <units>
  <dimension name="Length" base="m"><unit name="m"/><unit name="mm" factor="0.001"/></dimension>
  <dimensionSet name="SI"><use dimension="Length" unit="mm"/></dimensionSet>
  <dimensionSet name="Site"><use dimension="Length" unit="m"/></dimensionSet>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <templates>
  <template id="T" checknum="1" classes="Pump"><page id="P"><node name="A" index="0" classes="Pump"/>
   <unit dimension="Length" default="mm"/></page></template>
 </templates>
 <objects>
  <object id="1" class="GlobalsClass"/>
  <object id="10" class="Datasheet"><value attribute="Name">A</value><value attribute="TemplateId">T</value>
   <value attribute="CurrentPages" ref="11"/></object>
  <object id="11" class="Page" owner="10"><value attribute="TemplateId">T</value><value attribute="PageId">P</value>
   <value attribute="Units">mm</value></object>
  <object id="20" class="Datasheet"><value attribute="Name"></value><value attribute="CurrentPages" ref="21"/></object>
  <object id="21" class="Page" owner="20"><value attribute="Units">mm</value></object>
  <object id="30" class="Datasheet"><value attribute="Name">Z</value><value attribute="TemplateId">T</value>
   <value attribute="CurrentPages" ref="31"/></object>
  <object id="31" class="Page" owner="30"><value attribute="Units">mm</value></object>
 </objects>
</store>
)";

constexpr char16_t kPrivilege[] = u"Globally Change Display Units";

class ProjectUnits : public ::testing::Test {
 protected:
  void SetUp() override { host_.privileges().Grant(kPrivilege); }

  std::string Text(LONG id, const char16_t* attribute, LONG position = 0) {
    return fixture_.Text(id, attribute, position);
  }

  kx::test::inprocess::StoreHost fixture_{kFixture};
  kx::host::Host& host_ = fixture_.host();
};

TEST_F(ProjectUnits, ADrawingServiceThatFailsFailsTheChangeBeforeAnyDatasheet) {
  host_.drawing().failures().Add("ChangeDimensionSet", E_FAIL, u"The drawings are locked");
  const auto result = host_.Request(u"ChangeDimensionSet", u"Site");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(Narrow(result.error).find("The drawings are locked"), std::string::npos)
      << Narrow(result.error);
  EXPECT_EQ(Text(11, u"Units", 1), "mm");
  EXPECT_TRUE(result.messages.empty());
}

TEST_F(ProjectUnits, FailuresOfSingleDatasheetsBecomeOneSortedMessage) {
  const auto result = host_.Request(u"ChangeDimensionSet", u"Site");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Text(1, u"CurrentDimensionSet"), "Site");
  EXPECT_EQ(Text(11, u"Units", 1), "m");
  EXPECT_EQ(Text(10, u"BaseDimensionSet"), "Site");
  EXPECT_EQ(host_.drawing().dimension_set(), u"Site");
  ASSERT_EQ(result.messages.size(), 1u);
  const std::string message = Narrow(result.messages[0]);
  // One line per failed datasheet, sorted, with the failure's own
  // description (not its "<KXError" chain) and the datasheet's name (the
  // store names an unnamed one by class and id).
  EXPECT_EQ(message,
            "The following error(s) occured while changing the dimension set...\n\n"
            "Page has no recorded Template name - Datasheet 20\n"
            "Page has no recorded Template name - Z");
}

TEST_F(ProjectUnits, ChangeDimensionUnitHasItsOwnHeadingAndLeavesTheProjectSet) {
  const auto result =
      host_.Request(u"ChangeDimensionUnit",
                    u"<XMLMessage TargetId=\"30\" Status=\"4\"><ChangeDimensionUnit "
                    u"Name=\"Length\" UnitId=\"m\"/></XMLMessage>");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Text(11, u"Units", 1), "m");
  EXPECT_EQ(Text(1, u"CurrentDimensionSet"), "(none)");
  EXPECT_EQ(host_.drawing().dimension_set(), u"");
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(Narrow(result.messages[0])
                .rfind("The following error(s) occured while changing dimension units...\n\n", 0),
            0u);
}

TEST_F(ProjectUnits, AHostThatCannotCreateAHoldFailsTheRequest) {
  host_.application().failures().Add("CreateHold", E_FAIL, u"Holds are closed for today");
  const auto result =
      host_.Request(u"CreateHold", u"<XMLMessage><CreateHold HoldName=\"H\"/></XMLMessage>");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(Narrow(result.error).find("Holds are closed for today"), std::string::npos);
  EXPECT_TRUE(result.reply.empty());
}

TEST_F(ProjectUnits, ListHoldsOfAPlantWithoutHoldsIsEmpty) {
  const auto result = host_.Request(u"ListHolds", u"");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "<XMLMessage TargetId=\"App\"><Holds></Holds></XMLMessage>");
}

}  // namespace
