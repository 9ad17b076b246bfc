// "LoadBEDDData" through the host driver: a new pump takes from the master
// BEDD object the site conditions its datasheet template shows, and only
// those.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "support/moduletestsupport.h"

namespace {

using kx::test::inprocess::Narrow;

// Three site conditions known to the equipment, the master and the
// "ProjectSiteConditions" definition. "PUMP-DS" shows the ambient
// temperature on its first page and the barometric pressure on its second,
// no elevation; "TAGS" shows none of them. Pumps 10 and 11 are new.
const char kFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="ProcessPlantEquipment" base="GenericClass">
   <attribute name="BEDDInitialized" type="boolean"/>
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="degC" path="AmbientTemperature"/>
   <attribute name="SiteElevation" type="real" dimension="Length" unit="m" path="SiteElevation"/>
   <attribute name="BarometricPressure" type="real" dimension="Pressure" unit="kPa" path="BarometricPressure"/>
  </class>
  <class name="Pump" base="ProcessPlantEquipment"/>
  <class name="MasterBEDD" base="GenericClass">
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="degC" path="AmbientTemperature"/>
   <attribute name="SiteElevation" type="real" dimension="Length" unit="m" path="SiteElevation"/>
   <attribute name="BarometricPressure" type="real" dimension="Pressure" unit="kPa" path="BarometricPressure"/>
  </class>
  <definition name="ProjectSiteConditions">
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="degC" path="AmbientTemperature"/>
   <attribute name="SiteElevation" type="real" dimension="Length" unit="m" path="SiteElevation"/>
   <attribute name="BarometricPressure" type="real" dimension="Pressure" unit="kPa" path="BarometricPressure"/>
  </definition>
 </schema>
 <units>
  <dimension name="Temperature" base="degC"><unit name="degC"/></dimension>
  <dimension name="Length" base="m"><unit name="m"/></dimension>
  <dimension name="Pressure" base="kPa"><unit name="kPa"/></dimension>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <templates>
  <template id="PUMP-DS" checknum="1" name="Pump" kind="Datasheet" classes="Pump">
   <page id="P1"><node name="Pump" index="0" classes="Pump">
    <field id="1" type="String" attribute="Name"/>
    <field id="2" type="Real" attribute="AmbientTemperature"/>
   </node></page>
   <page id="P2"><node name="Pump" index="0" classes="Pump">
    <field id="3" type="Real" attribute="BarometricPressure"/>
   </node></page>
  </template>
  <template id="TAGS" checknum="1" name="Tags" kind="Datasheet" classes="Pump">
   <page id="P1"><node name="Pump" index="0" classes="Pump">
    <field id="1" type="String" attribute="Name"/>
   </node></page>
  </template>
 </templates>
 <objects>
  <object id="2" class="MasterBEDD">
   <value attribute="AmbientTemperature" unit="degC">35</value>
   <value attribute="SiteElevation" unit="m">12</value>
   <value attribute="BarometricPressure" unit="kPa">101.2</value>
  </object>
  <object id="10" class="Pump"><value attribute="Name">P-1</value></object>
  <object id="11" class="Pump"><value attribute="Name">P-2</value></object>
 </objects>
</store>
)";

// The value of `attribute` of object `id` as text; "" for none.
std::string ValueOf(kx::test::inprocess::StoreHost& host, LONG id, const char16_t* attribute) {
  _variant_t value;
  const IKXQAttributePtr values = kx::test::AttributeOf(host.Object(id), attribute);
  if (!values || FAILED(values->GetValue(_variant_t(), _variant_t(), &value)) ||
      value.vt == VT_EMPTY) {
    return "";
  }
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return "<no text>";
  return Narrow(text.bstrVal);
}

TEST(LoadBEDDDataThroughTheHost, APumpTakesOnlyTheSiteConditionsItsTemplateShows) {
  kx::test::inprocess::StoreHost host(kFixture);
  const auto value = [&](LONG id, const char16_t* attribute) {
    return ValueOf(host, id, attribute);
  };
  const auto load = [&](const char16_t* templateId, LONG pump) {
    const _variant_t id(templateId);
    const _variant_t object(static_cast<IDispatch*>(host.Object(pump).GetInterfacePtr()));
    return host.host().CallAutomation(u"LoadBEDDData", {id, object});
  };
  const auto shows = load(u"PUMP-DS", 10);
  ASSERT_TRUE(shows.succeeded()) << Narrow(shows.error);
  EXPECT_EQ(value(10, u"AmbientTemperature"), "35");
  EXPECT_EQ(value(10, u"BarometricPressure"), "101.2");
  EXPECT_EQ(value(10, u"SiteElevation"), "");
  EXPECT_EQ(value(10, u"BEDDInitialized"), "-1");

  // A template that shows no site condition copies none; the pump is
  // initialised all the same.
  const auto none = load(u"TAGS", 11);
  ASSERT_TRUE(none.succeeded()) << Narrow(none.error);
  for (const char16_t* condition :
       {u"AmbientTemperature", u"SiteElevation", u"BarometricPressure"}) {
    EXPECT_EQ(value(11, condition), "") << Narrow(condition);
  }
  EXPECT_EQ(value(11, u"BEDDInitialized"), "-1");
}

}  // namespace
