#include "fieldfixture.h"

#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "storexml.h"

namespace kx::test::model {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return Class("Document", "", "TemplateId Dirty CurrentPages IssuedPages") +
         Class("Datasheet", "Document") +
         Class("Page", "",
               "TemplateId PageId Checknum NodeObjects NodeIndices HiddenObjects Cases Qualifiers "
               "Fields Revisions Units ActivePage") +
         R"XML(  <class name="GenericClass">
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
)XML";
}

std::string Sections() {
  return " <units>\n" + FlowDimension(false) + TemperatureDimension() + R"XML( </units>
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
)XML";
}

// Page 21 places only the pump (node "Pump", index 0, at position 1); every
// other object is found by route. Nodes: Pump 0, Motor 1, Bearings(2) 2,
// Nozzles(1) 3, Nozzles(2) 4.
const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(10, "Pump",
               Value("Tag", "P-101") + Child(R"(<value attribute="Flow" unit="l/s">2</value>)") +
                   Value("Speed", "1450") + Value("Running", "true") + Refs("Motor", {11}) +
                   Refs("Nozzles", {14, 15})),
        Owned(11, "Motor", 10, Value("Tag", "M-101") + Refs("Bearings", {12, 13})),
        Owned(12, "Bearing", 11, Value("Temperature", "40")),
        Owned(13, "Bearing", 11, Value("Temperature", "55.5")),
        Owned(14, "Nozzle", 10, Value("Size", "1")),
        Owned(15, "Nozzle", 10, Value("Size", "2")),
        Datasheet(20, "TP", {21}, Refs("IssuedPages", {22})),
        Page(21, 20, "TP", "P1", "2", 0,
             Refs("NodeObjects", {10}) + Value("NodeIndices", "1") + Value("Cases", "1") +
                 Value("Units", "l/s")),
        Page(22, 20, "TP", "P1", "2", 0, Refs("ActivePage", {21})),
        Datasheet(30, "TL", {31}),
        Page(31, 30, "TL", "L1", "1", 0,
             Refs("NodeObjects", {30, 32, 33}) + Values("NodeIndices", {"1", "2"}) +
                 Value("Cases", "1")),
        Object(32, "Pump", Value("Tag", "P-201") + Value("Flow", "10")),
        Object(33, "Pump", Value("Tag", "P-202") + Value("Flow", "20")),
    });

}  // namespace

const char* const kFieldFixture = kText.c_str();

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

}  // namespace kx::test::model
