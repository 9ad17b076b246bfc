// The project-wide unit messages and the hold messages through the host
// driver, in-process, against a small store: what kxqhost cannot show (a
// drawing service or a host operation that fails, datasheets that cannot be
// changed for other reasons). End to end through kxqhost, with the sample
// requests' shapes: tests/tools/kxqhost_units_test.cpp.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/comutil.h"
#include "host/host.h"
#include "kxattributeutils.h"
#include "main.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "support/moduletestsupport.h"

namespace {

using moduletest::Narrow;

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
  void SetUp() override {
    ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store_).ok());
    ASSERT_TRUE(store_->ImportFixtureText(kFixture, "fixture").ok());
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQTemplateLibrary> library;
    (void)store_->Database()->get_Schema(&schema);
    (void)store_->Database()->get_TemplateLibrary(&library);
    host_.application().SetStore(store_->Database(), schema, library);
    host_.privileges().Grant(kPrivilege);
    IKXQDataService* service = nullptr;
    ASSERT_EQ(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)), S_OK);
    module_ = kx::host::Ref<IKXQDataService>::Adopt(service);
    ASSERT_EQ(host_.Attach(module_.get()), S_OK);
  }
  void TearDown() override {
    host_.application().DiscardPendingEvents();
    host_.Detach();
  }

  std::string Text(LONG id, const char16_t* attribute, LONG position = 0) {
    _com_ptr_t<IKXQObject> object;
    EXPECT_EQ(store_->Database()->get_Object(id, &object), S_OK);
    _com_ptr_t<IKXQAttribute> values;
    (void)object->get_Attribute(_bstr_t(attribute), _variant_t(), &values);
    _variant_t value;
    if (values) {
      (void)values->GetValue(position > 0 ? _variant_t(position) : _variant_t(), _variant_t(), &value);
    }
    if (value.vt != VT_BSTR) return "(none)";
    return Narrow(value.bstrVal);
  }

  std::unique_ptr<kx::store::Store> store_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> module_;
};

TEST_F(ProjectUnits, ADrawingServiceThatFailsFailsTheChangeBeforeAnyDatasheet) {
  host_.drawing().failures().Add("ChangeDimensionSet", E_FAIL, u"The drawings are locked");
  const auto result = host_.Request(u"ChangeDimensionSet", u"Site");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(Narrow(result.error).find("The drawings are locked"), std::string::npos) << Narrow(result.error);
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
  const auto result = host_.Request(
      u"ChangeDimensionUnit",
      u"<XMLMessage TargetId=\"30\" Status=\"4\"><ChangeDimensionUnit Name=\"Length\" UnitId=\"m\"/></XMLMessage>");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Text(11, u"Units", 1), "m");
  EXPECT_EQ(Text(1, u"CurrentDimensionSet"), "(none)");
  EXPECT_EQ(host_.drawing().dimension_set(), u"");
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(Narrow(result.messages[0]).rfind("The following error(s) occured while changing dimension units...\n\n", 0),
            0u);
}

TEST_F(ProjectUnits, WithoutThePrivilegeNothingIsTouched) {
  host_.privileges().Revoke(kPrivilege);
  const auto result = host_.Request(u"ChangeDimensionSet", u"Site");
  EXPECT_EQ(result.hr, E_ACCESSDENIED);
  EXPECT_EQ(Text(1, u"CurrentDimensionSet"), "(none)");
  EXPECT_EQ(host_.drawing().dimension_set(), u"");
}

TEST_F(ProjectUnits, AHostThatCannotCreateAHoldFailsTheRequest) {
  host_.application().failures().Add("CreateHold", E_FAIL, u"Holds are closed for today");
  const auto result = host_.Request(u"CreateHold", u"<XMLMessage><CreateHold HoldName=\"H\"/></XMLMessage>");
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
