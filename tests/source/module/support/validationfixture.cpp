#include "support/validationfixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "com/comutil.h"

namespace validationtest {

namespace {

const char kFixture[] = R"XML(<store>
 <schema>
  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Flow" type="real" dimension="Length" unit="m"/>
   <attribute name="Head" type="real" dimension="Length" unit="m"/>
  </class>
  <class name="Pump" base="GenericClass">
   <attribute name="Nozzles" type="object" list="true" collection="true" class="Nozzle"/>
   <attribute name="Driver" type="object" class="Motor"/>
  </class>
  <class name="Motor" base="GenericClass"/>
  <class name="Nozzle" base="GenericClass"/>
  <class name="Document" base="GenericClass">
   <attribute name="DocumentName"/>
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="DefaultCase" type="integer"/>
   <attribute name="ProjectId" type="integer"/>
   <attribute name="ObjectFilter"/>
   <attribute name="BaseDimensionSet"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="SubmittedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="CheckedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Datasheet" base="Document"/>
  <class name="Diagram" base="Document"/>
  <class name="ProjectSettings">
   <attribute name="CurrentDimensionSet"/>
  </class>
  <class name="Page" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="PageId"/>
   <attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Sketches" list="true"/>
   <attribute name="Annotations" list="true"/>
   <attribute name="Qualifiers" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="OverspillTo" type="object" class="Page"/>
   <attribute name="OverspillFrom" type="object" inverse="OverspillTo"/>
  </class>
  <class name="Label" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="Sketches" list="true"/>
  </class>
 </schema>
 <units>
  <dimension name="Length" base="m">
   <unit name="m" display="metre"/>
   <unit name="mm" factor="0.001" display="millimetre"/>
  </dimension>
  <dimensionSet name="SI"><use dimension="Length" unit="m"/></dimensionSet>
  <dimensionSet name="Workshop"><use dimension="Length" unit="mm"/></dimensionSet>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="TV" checknum="1" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="2">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
     <field id="2" type="Real" attribute="Flow" unit="0"/>
    </node>
    <unit dimension="Length" default="m"/>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TV" checknum="2" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="4">
    <node name="Aux" index="0" classes="Motor"/>
    <node name="Equipment" index="1" classes="Pump">
     <field id="2" type="Real" attribute="Flow" unit="0"/>
     <field id="1" type="String" attribute="Name"/>
     <field id="7" type="Sketch"/>
     <field id="8" type="Sketch"/>
    </node>
    <unit dimension="Length" default="mm"/>
    <unit dimension="Length" default="mm"/>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TL" checknum="1" name="Pump list" kind="Datasheet" classes="Pump">
   <page id="L" name="List" continuous="Rows" revisions="3">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="Name" valueKey="1"/>
     <field id="202" type="Real" attribute="Flow" valueKey="2"/>
    </node>
   </page>
  </template>
  <template id="TL" checknum="2" name="Pump list" kind="Datasheet" classes="Pump">
   <page id="L" name="List" continuous="Rows" revisions="3">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="202" type="Real" attribute="Flow" valueKey="2"/>
     <field id="201" type="String" attribute="Name" valueKey="1"/>
    </node>
   </page>
  </template>
  <template id="TS" checknum="1" name="Pump summary" kind="summary" classes="Pump">
   <page id="S" name="Summary">
    <node name="Row" index="0" classes="Pump"><field id="1" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TN" checknum="1" name="Nozzle sheet" kind="Datasheet" classes="Pump">
   <page id="N" name="Nozzles">
    <node name="Spare" index="0" classes="Nozzle"/>
    <node name="Equipment" index="1" classes="Pump">
     <field id="3" type="Real" attribute="Flow" case="0" unit="0"/>
     <node name="Nozzles(1)" index="2" classes="Nozzle">
      <field id="1" type="String" attribute="Name" case="0"/>
     </node>
     <node name="Nozzles(2)" index="3" classes="Nozzle">
      <field id="2" type="String" attribute="Name" case="0"/>
     </node>
     <node name="Driver" index="4" classes="Motor">
      <field id="5" type="String" attribute="Name" case="0"/>
     </node>
    </node>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TN" checknum="2" name="Nozzle sheet" kind="Datasheet" classes="Pump">
   <page id="N" name="Nozzles">
    <node name="Equipment" index="0" classes="Pump">
     <field id="3" type="Real" attribute="Head" case="0" unit="0"/>
     <field id="6" type="Sketch"/>
     <node name="Nozzles(1)" index="1" classes="Nozzle">
      <field id="1" type="String" attribute="Name" case="0"/>
     </node>
     <node name="Nozzles(2)" index="2" classes="Nozzle">
      <field id="2" type="String" attribute="Name" case="0"/>
     </node>
     <node name="Nozzles(3)" index="3" classes="Nozzle">
      <field id="4" type="String" attribute="Name" case="0"/>
     </node>
     <node name="Driver" index="4" classes="Motor">
      <field id="5" type="String" attribute="Name" case="0"/>
     </node>
    </node>
    <node name="Spare" index="5" classes="Nozzle"/>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TSN" checknum="1" name="Pump pages" kind="Summary" classes="Pump">
   <page id="S" name="Pump">
    <node name="Row" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name" case="0"/>
     <node name="Detail" index="2" classes="Pump"/>
    </node>
    <node name="Other" index="1" classes="Pump"/>
   </page>
  </template>
  <template id="TSN" checknum="2" name="Pump pages" kind="Summary" classes="Pump">
   <page id="S" name="Pump">
    <node name="Row" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name" case="0"/>
     <node name="Detail" index="1" classes="Pump">
      <field id="2" type="Real" attribute="Flow" case="0"/>
     </node>
    </node>
    <node name="Other" index="2" classes="Pump"/>
   </page>
  </template>
  <template id="BEDD" checknum="1" name="RQ Master BEDD" kind="Datasheet" classes="Pump">
   <page id="B" name="BEDD"><node name="Equipment" index="0" classes="Pump"/></page>
  </template>
  <template id="bedd-lower" checknum="1" name="rq master bedd" kind="datasheet" classes="Pump">
   <page id="B" name="BEDD"><node name="Equipment" index="0" classes="Pump"/></page>
  </template>
  <template id="GEN" checknum="1" name="General" kind="General" classes="Pump">
   <page id="G" name="General"/>
  </template>
  <template id="TO" checknum="1" name="Other sheet" kind="Datasheet" classes="Pump">
   <page id="O" name="Other"><node name="Equipment" index="0" classes="Pump"/></page>
  </template>
 </templates>
 <objects>
  <object id="1" class="ProjectSettings"><value attribute="CurrentDimensionSet">@UNITS@</value></object>
  <object id="10" class="Pump"><value attribute="Name">P-1</value></object>
  <object id="11" class="Pump">
   <value attribute="Name">P-2</value>
   <value attribute="Nozzles" ref="16"/>
  </object>
  <object id="12" class="Motor"><value attribute="Name">M-1</value></object>
  <object id="13" class="Pump">
   <value attribute="Name">P-3</value>
   <value attribute="Flow">12.5</value>
   <value attribute="Head">7</value>
   <value attribute="Nozzles" ref="14"/>
   <value attribute="Nozzles" ref="15"/>
   <value attribute="Driver" ref="12"/>
  </object>
  <object id="14" class="Nozzle" owner="13"><value attribute="Name">N-1</value></object>
  <object id="15" class="Nozzle" owner="13"><value attribute="Name">N-2</value></object>
  <object id="16" class="Nozzle" owner="11"><value attribute="Name">N-9</value></object>

  <object id="100" class="Datasheet">
   <value attribute="DocumentName">Stale sheet</value>
   <value attribute="TemplateId">TV</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="101"/>
  </object>
  <object id="101" class="Page" owner="100">
   <value attribute="Name">Data</value>
   <value attribute="TemplateId">TV</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="HiddenObjects">-1</value>
   <value attribute="Fields">&lt;String FieldId="1" Value="P-1"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="2" Value="12.5"/&gt;</value>
   <value attribute="Fields">&lt;Sketch FieldId="-11" Value="@GOOD@"/&gt;</value>
   <value attribute="Fields">&lt;Sketch FieldId="-11" Value="@SECOND@"/&gt;</value>
   <value attribute="Units">mm</value>
   <value attribute="Units">m</value>
   <value attribute="Revisions">A</value>
   <value attribute="Revisions">B</value>
  </object>

  <object id="200" class="Datasheet">
   <value attribute="DocumentName">Lost sheet</value>
   <value attribute="TemplateId">GONE</value>
   <value attribute="CurrentPages" ref="201"/>
  </object>
  <object id="201" class="Page" owner="200">
   <value attribute="TemplateId">GONE</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
  </object>

  <object id="300" class="Datasheet">
   <value attribute="DocumentName">Fresh sheet</value>
   <value attribute="TemplateId">TV</value>
   <value attribute="CurrentPages" ref="301"/>
  </object>
  <object id="301" class="Page" owner="300">
   <value attribute="Name">Data</value>
   <value attribute="TemplateId">TV</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices" empty="true"/>
   <value attribute="NodeIndices">1</value>
  </object>

  <object id="400" class="Datasheet">
   <value attribute="DocumentName">List sheet</value>
   <value attribute="TemplateId">TL</value>
   <value attribute="CurrentPages" ref="401"/>
  </object>
  <object id="401" class="Page" owner="400">
   <value attribute="TemplateId">TL</value><value attribute="PageId">L</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="400"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Fields">&lt;String FieldId="101" Value="head"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="201" Value="P-1"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="202" Value="1.5"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="201" Value="P-2"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="202" Value="2.5"/&gt;</value>
  </object>

  <object id="500" class="Datasheet">
   <value attribute="DocumentName">Other sheet</value>
   <value attribute="TemplateId">TO</value>
   <value attribute="CurrentPages" ref="501"/>
  </object>
  <object id="501" class="Page" owner="500">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
  </object>

  <object id="800" class="Datasheet">
   <value attribute="DocumentName">Nozzle sheet</value>
   <value attribute="TemplateId">TN</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="801"/>
  </object>
  <object id="801" class="Page" owner="800">
   <value attribute="Name">Nozzles</value>
   <value attribute="TemplateId">TN</value><value attribute="PageId">N</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="Cases">1</value>
   <value attribute="NodeObjects" ref="16"/>
   <value attribute="NodeObjects" ref="13"/>
   <value attribute="NodeObjects" ref="14"/>
   <value attribute="NodeObjects" ref="15"/>
   <value attribute="NodeObjects" ref="12"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="NodeIndices">3</value>
   <value attribute="NodeIndices">4</value>
   <value attribute="NodeIndices">5</value>
   <value attribute="HiddenObjects" empty="true"/>
   <value attribute="HiddenObjects">-1</value>
   <value attribute="Fields">&lt;Sketch FieldId="-11" Value="@SECOND@"/&gt;</value>
   <value attribute="Units">mm</value>
  </object>

  <object id="900" class="Datasheet">
   <value attribute="DocumentName">Pump pages</value>
   <value attribute="TemplateId">TSN</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="901"/>
  </object>
  <object id="901" class="Page" owner="900">
   <value attribute="TemplateId">TSN</value><value attribute="PageId">S</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="Cases">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="NodeIndices">1</value>
  </object>

  <object id="700" class="Datasheet">
   <value attribute="DocumentName">Empty sheet</value>
   <value attribute="TemplateId">TV</value>
  </object>

  <object id="600" class="Label">
   <value attribute="TemplateId">TV</value>
   <value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Fields">&lt;String FieldId="1" Value="label text"/&gt;</value>
   <value attribute="Units">m</value>
  </object>
 </objects>
</store>
)XML";

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

ValidationPlant::ValidationPlant(const char* secondSketch, const char* units) {
  char pattern[] = "/tmp/kxvalidationXXXXXX";
  root_ = mkdtemp(pattern);
  std::ofstream(root_ / "good") << "sketch";
  std::filesystem::create_directory(root_ / "bad");
  fixture_ = kFixture;
  Replace(fixture_, "@GOOD@", (root_ / "good").string());
  Replace(fixture_, "@SECOND@", (root_ / secondSketch).string());
  Replace(fixture_, "@UNITS@", units);
  host_ = std::make_unique<pagestest::PagesHost>(fixture_.c_str());
}

ValidationPlant::~ValidationPlant() {
  host_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string ValidationPlant::List(LONG id, const char16_t* name) {
  IKXQAttributePtr attribute;
  IKXQObjectPtr object = host_->Object(id);
  if (!object || FAILED(object->get_Attribute(_bstr_t(name), _variant_t(), &attribute)) ||
      !attribute) {
    return "(no attribute)";
  }
  LONG count = 0;
  attribute->get_Count(&count);
  std::string out;
  for (LONG i = 1; i <= count; ++i) {
    if (i > 1) out += "|";
    VARIANT_BOOL has = VARIANT_FALSE;
    attribute->HasValue(_variant_t(i), &has);
    if (has == VARIANT_FALSE) {
      out += "-";
      continue;
    }
    _variant_t value;
    attribute->GetValue(_variant_t(i), _variant_t(), value.GetAddress());
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
      IKXQObjectPtr held;
      if (value.vt == VT_DISPATCH && value.pdispVal != nullptr) {
        value.pdispVal->QueryInterface(kx_uuidof<IKXQObject>(), reinterpret_cast<void**>(&held));
      }
      LONG heldId = 0;
      if (held) held->get_Id(&heldId);
      out += "#" + std::to_string(heldId);
      continue;
    }
    value.ChangeType(VT_BSTR);
    out += pagestest::Narrow(value.bstrVal ? value.bstrVal : u"");
  }
  return out;
}

std::string ValidationPlant::Text(LONG id, const char16_t* name) { return List(id, name); }

LONG ValidationPlant::ItemNumber(LONG id, const char16_t* attribute) {
  IKXQViewPtr view;
  _variant_t position;
  IKXQFieldValuePtr holder;
  IKXQValueItemPtr item;
  LONG number = -1;
  IKXQObjectPtr object = host_->Object(id);
  if (!object || FAILED(object->GetView(_variant_t(), &view)) || !view ||
      FAILED(view->ReadRoute(_bstr_t(attribute), _variant_t(), position.GetAddress(), &holder)) ||
      !holder || FAILED(holder->GetItem(position, &item)) || !item ||
      FAILED(item->get_Number(&number))) {
    ADD_FAILURE() << "no item behind " << pagestest::Narrow(attribute) << " of " << id;
  }
  return number;
}

void ValidationPlant::Put(LONG id, const char16_t* name, LONG position, const std::string& text) {
  IKXQAttributePtr attribute;
  IKXQObjectPtr object = host_->Object(id);
  const std::u16string wide(text.begin(), text.end());
  ASSERT_TRUE(object && SUCCEEDED(object->get_Attribute(_bstr_t(name), _variant_t(), &attribute)) &&
              attribute);
  ASSERT_EQ(attribute->PutValue(_variant_t(position), _variant_t(), _variant_t(wide.c_str())),
            S_OK);
}

}  // namespace validationtest
