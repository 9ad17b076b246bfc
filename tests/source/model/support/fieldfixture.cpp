#include "fieldfixture.h"

#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreutils.h"

namespace modeltest {

// Page 21 places only the pump (node "Pump", index 0, at position 1); every
// other object is found by route. Nodes: Pump 0, Motor 1, Bearings(2) 2,
// Nozzles(1) 3, Nozzles(2) 4.
const char kFieldFixture[] = R"XML(<store>
 <schema>
  <class name="Document">
   <attribute name="TemplateId"/>
   <attribute name="Dirty" type="boolean"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Datasheet" base="Document"/>
  <class name="Page">
   <attribute name="TemplateId"/>
   <attribute name="PageId"/>
   <attribute name="Checknum"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="Qualifiers" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="ActivePage" type="object" class="Page"/>
  </class>
  <class name="GenericClass">
   <attribute name="Tag"/>
  </class>
  <class name="Pump" base="GenericClass">
   <attribute name="Flow" type="real" dimension="Flow" unit="m3/h"/>
   <attribute name="Speed" type="integer"/>
   <attribute name="Running" type="boolean"/>
   <attribute name="Installed" type="date"/>
   <attribute name="Drawing" type="binary"/>
   <attribute name="Code" type="string"/>
   <attribute name="Vented" type="boolean"/>
   <attribute name="Seal"/>
   <attribute name="Motor" type="object" class="Motor"/>
   <attribute name="Nozzles" type="object" list="true" collection="true" class="Nozzle"/>
  </class>
  <class name="Motor" base="GenericClass">
   <attribute name="Bearings" type="object" list="true" collection="true" class="Bearing"/>
  </class>
  <class name="Bearing" base="GenericClass">
   <attribute name="Temperature" type="real" dimension="Temperature" unit="C"/>
  </class>
  <class name="Nozzle" base="GenericClass">
   <attribute name="Size" type="real" dimension="Flow" unit="m3/h"/>
  </class>
 </schema>
 <units>
  <dimension name="Flow" base="m3/h">
   <unit name="m3/h"/>
   <unit name="l/s" factor="3.6"/>
  </dimension>
  <dimension name="Temperature" base="C">
   <unit name="C"/>
   <unit name="K" offset="-273.15"/>
  </dimension>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Design"/></cases>
 <templates>
  <template id="TP" name="Pump sheet" checknum="2" kind="Datasheet" classes="Pump">
   <page id="P1" name="Page 1">
    <node name="Pump" index="0" classes="Pump">
     <field id="1" type="String" attribute="Tag" case="0"/>
     <field id="2" type="Real" attribute="Flow" unit="0" case="0"/>
     <field id="3" type="Integer" attribute="Speed" case="0"/>
     <field id="4" type="Boolean" attribute="Running" case="0"/>
     <field id="5" type="Date" attribute="Installed" case="0"/>
     <node name="Motor" index="1" classes="Motor">
      <field id="6" type="String" attribute="Tag" case="0"/>
      <node name="Bearings(2)" index="2" classes="Bearing">
       <field id="7" type="Real" attribute="Temperature" case="0"/>
      </node>
     </node>
     <node name="Nozzles(1)" index="3" classes="Nozzle">
      <field id="8" type="Real" attribute="Size" case="0"/>
     </node>
     <node name="Nozzles(2)" index="4" classes="Nozzle">
      <field id="9" type="Real" attribute="Size" case="0"/>
     </node>
     <field id="10" type="Check" attribute="Vented" case="0"/>
     <field id="11" type="Radio" attribute="Seal" case="0" options="none|single|double"/>
     <field id="12" type="String" attribute="Drawing" case="0"/>
     <field id="13" type="String" attribute="Code"/>
    </node>
    <unit dimension="Flow" default="m3/h"/>
   </page>
  </template>
  <template id="TL" name="Pump list" checknum="1" kind="Datasheet" classes="Pump">
   <page id="L1" name="List" continuous="Rows">
    <node name="Sheet" index="0" classes="Document">
     <field id="1" type="String" attribute="TemplateId" case="0" valueKey="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="2" type="String" attribute="Tag" case="0" valueKey="1"/>
     <field id="3" type="Real" attribute="Flow" case="0" valueKey="2"/>
     <node name="Motor" index="2" classes="Motor">
      <field id="4" type="String" attribute="Tag" case="0" valueKey="3"/>
     </node>
    </node>
   </page>
  </template>
 </templates>
 <objects>
  <object id="10" class="Pump">
   <value attribute="Tag">P-101</value>
   <value attribute="Flow" unit="l/s">2</value>
   <value attribute="Speed">1450</value>
   <value attribute="Running">true</value>
   <value attribute="Motor" ref="11"/>
   <value attribute="Nozzles" ref="14"/>
   <value attribute="Nozzles" ref="15"/>
  </object>
  <object id="11" class="Motor" owner="10">
   <value attribute="Tag">M-101</value>
   <value attribute="Bearings" ref="12"/>
   <value attribute="Bearings" ref="13"/>
  </object>
  <object id="12" class="Bearing" owner="11"><value attribute="Temperature">40</value></object>
  <object id="13" class="Bearing" owner="11"><value attribute="Temperature">55.5</value></object>
  <object id="14" class="Nozzle" owner="10"><value attribute="Size">1</value></object>
  <object id="15" class="Nozzle" owner="10"><value attribute="Size">2</value></object>
  <object id="20" class="Datasheet">
   <value attribute="TemplateId">TP</value>
   <value attribute="CurrentPages" ref="21"/>
   <value attribute="IssuedPages" ref="22"/>
  </object>
  <object id="21" class="Page" owner="20">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">2</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
   <value attribute="Units">l/s</value>
  </object>
  <object id="22" class="Page" owner="20">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">2</value>
   <value attribute="ActivePage" ref="21"/>
  </object>
  <object id="30" class="Datasheet">
   <value attribute="TemplateId">TL</value>
   <value attribute="CurrentPages" ref="31"/>
  </object>
  <object id="31" class="Page" owner="30">
   <value attribute="TemplateId">TL</value>
   <value attribute="PageId">L1</value>
   <value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="30"/>
   <value attribute="NodeObjects" ref="32"/>
   <value attribute="NodeObjects" ref="33"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Cases">1</value>
  </object>
  <object id="32" class="Pump"><value attribute="Tag">P-201</value><value attribute="Flow">10</value></object>
  <object id="33" class="Pump"><value attribute="Tag">P-202</value><value attribute="Flow">20</value></object>
 </objects>
</store>)XML";

IKXQTemplateFieldPtr TemplateField(IKXQTemplatePage* templatePage, int32_t fieldId) {
  _variant_t number;
  IKXQTemplateFieldPtr field;
  if (templatePage == nullptr || FAILED(templatePage->GetFieldById(fieldId, &number, &field)) ||
      !field) {
    ADD_FAILURE() << "no template field " << fieldId;
  }
  return field;
}

IKXQFieldValuePtr Resolve(IKXQObject* page, IKXQTemplateField* field, bool write, SAFEARRAY* shift,
                          _variant_t* value) {
  IKXQFieldValuePtr holder;
  _variant_t ignored;
  try {
    EXPECT_EQ(FieldUtils::ResolveFieldRoute(page, field, 1, write, shift,
                                            value != nullptr ? value : &ignored, &holder),
              S_OK);
  } catch (const KXComException& error) {
    ADD_FAILURE() << "the walk failed: " << FirstDesc(error);
  }
  return holder;
}

std::vector<std::string> ListTexts(IKXQObject* object, const char16_t* attribute) {
  std::vector<std::string> texts;
  IKXQAttributePtr list;
  GetAttributeInterface(object, attribute, list);
  if (!list) return texts;
  const int32_t count = GetAttributeCount(list);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(list, i, text);
    texts.push_back(Narrow(text));
  }
  return texts;
}

}  // namespace modeltest
