#include "support/validationfixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "com/comutil.h"
#include "storexml.h"

namespace kx::test::validation {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return R"XML(  <class name="GenericClass">
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
)XML" +
         Class(
             "Document", "GenericClass",
             "DocumentName TemplateId Checknum DefaultCase ProjectId ObjectFilter BaseDimensionSet "
             "NumberOfPages CurrentPages SubmittedPages CheckedPages IssuedPages") +
         Class("Datasheet", "Document") + Class("Diagram", "Document") +
         Class("ProjectSettings", "", "CurrentDimensionSet") +
         Class("Page", "GenericClass",
               "TemplateId PageId Checknum PageNumber NodeObjects NodeIndices HiddenObjects Fields "
               "Units Revisions Sketches Annotations Qualifiers Cases OverspillTo OverspillFrom") +
         Class("Label", "GenericClass",
               "TemplateId Checknum NodeObjects NodeIndices Fields Units Sketches");
}

std::string Sections() {
  return " <units>\n" + LengthDimension() +
         R"XML(  <dimensionSet name="SI"><use dimension="Length" unit="m"/></dimensionSet>
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
)XML";
}

const std::string kFixture = StoreText(
    Classes(), Sections(),
    {
        Object(1, "ProjectSettings", Value("CurrentDimensionSet", "@UNITS@")),
        Object(10, "Pump", Value("Name", "P-1")),
        Object(11, "Pump", Value("Name", "P-2") + Refs("Nozzles", {16})),
        Object(12, "Motor", Value("Name", "M-1")),
        Object(13, "Pump",
               Value("Name", "P-3") + Value("Flow", "12.5") + Value("Head", "7") +
                   Refs("Nozzles", {14, 15}) + Refs("Driver", {12})),
        Owned(14, "Nozzle", 13, Value("Name", "N-1")),
        Owned(15, "Nozzle", 13, Value("Name", "N-2")),
        Owned(16, "Nozzle", 11, Value("Name", "N-9")),
        Datasheet(100, "TV", {101},
                  Value("DocumentName", "Stale sheet") + Value("DefaultCase", "1")),
        Page(101, 100, "TV", "A", "1", 1,
             Value("Name", "Data") + Refs("NodeObjects", {10}) + Value("NodeIndices", "1") +
                 Value("HiddenObjects", "-1") +
                 Values("Fields", {R"(<String FieldId="1" Value="P-1"/>)",
                                   R"(<Real FieldId="2" Value="12.5"/>)",
                                   R"(<Sketch FieldId="-11" Value="@GOOD@"/>)",
                                   R"(<Sketch FieldId="-11" Value="@SECOND@"/>)"}) +
                 Values("Units", {"mm", "m"}) + Values("Revisions", {"A", "B"})),
        Datasheet(200, "GONE", {201}, Value("DocumentName", "Lost sheet")),
        Page(201, 200, "GONE", "A", "1", 1),
        Datasheet(300, "TV", {301}, Value("DocumentName", "Fresh sheet")),
        Page(301, 300, "TV", "A", "2", 1,
             Value("Name", "Data") + Refs("NodeObjects", {11}) + Values("NodeIndices", {"", "1"})),
        Datasheet(400, "TL", {401}, Value("DocumentName", "List sheet")),
        Page(401, 400, "TL", "L", "1", 1,
             Refs("NodeObjects", {400, 10, 11}) + Values("NodeIndices", {"1", "2"}) +
                 Values("Fields", {R"(<String FieldId="101" Value="head"/>)",
                                   R"(<String FieldId="201" Value="P-1"/>)",
                                   R"(<Real FieldId="202" Value="1.5"/>)",
                                   R"(<String FieldId="201" Value="P-2"/>)",
                                   R"(<Real FieldId="202" Value="2.5"/>)"})),
        Datasheet(500, "TO", {501}, Value("DocumentName", "Other sheet")),
        Page(501, 500, "TO", "O", "1", 1),
        Datasheet(800, "TN", {801},
                  Value("DocumentName", "Nozzle sheet") + Value("DefaultCase", "1")),
        Page(801, 800, "TN", "N", "1", 1,
             Value("Name", "Nozzles") + Value("Cases", "1") +
                 Refs("NodeObjects", {16, 13, 14, 15, 12}) +
                 Values("NodeIndices", {"1", "2", "3", "4", "5"}) +
                 Values("HiddenObjects", {"", "-1"}) +
                 Value("Fields", R"(<Sketch FieldId="-11" Value="@SECOND@"/>)") +
                 Value("Units", "mm")),
        Datasheet(900, "TSN", {901},
                  Value("DocumentName", "Pump pages") + Value("DefaultCase", "1")),
        Page(901, 900, "TSN", "S", "1", 1,
             Value("Cases", "1") + Refs("NodeObjects", {10, 11}) +
                 Values("NodeIndices", {"1", "2", "1"})),
        Object(700, "Datasheet", Value("DocumentName", "Empty sheet") + Value("TemplateId", "TV")),
        Object(600, "Label",
               Value("TemplateId", "TV") + Value("Checknum", "1") + Refs("NodeObjects", {10}) +
                   Value("NodeIndices", "1") +
                   Value("Fields", R"(<String FieldId="1" Value="label text"/>)") +
                   Value("Units", "m")),
    });

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

ValidationPlant::ValidationPlant(const char* secondSketch, const char* units) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kxvalidationXXXXXX").string();
  root_ = mkdtemp(pattern.data());
  std::ofstream(root_ / "good") << "sketch";
  std::filesystem::create_directory(root_ / "bad");
  fixture_ = kFixture;
  Replace(fixture_, "@GOOD@", (root_ / "good").string());
  Replace(fixture_, "@SECOND@", (root_ / secondSketch).string());
  Replace(fixture_, "@UNITS@", units);
  host_ = std::make_unique<kx::test::pages::PagesHost>(fixture_.c_str());
}

ValidationPlant::~ValidationPlant() {
  host_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string ValidationPlant::List(LONG id, const char16_t* name) {
  const IKXQAttributePtr attribute = kx::test::AttributeOf(host_->Object(id), name);
  if (!attribute) return "(no attribute)";
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
    out += kx::test::pages::Narrow(value.bstrVal ? value.bstrVal : u"");
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
    ADD_FAILURE() << "no item behind " << kx::test::pages::Narrow(attribute) << " of " << id;
  }
  return number;
}

void ValidationPlant::Put(LONG id, const char16_t* name, LONG position, const std::string& text) {
  const IKXQAttributePtr attribute = kx::test::AttributeOf(host_->Object(id), name);
  const std::u16string wide(text.begin(), text.end());
  ASSERT_TRUE(attribute);
  ASSERT_EQ(attribute->PutValue(_variant_t(position), _variant_t(), _variant_t(wide.c_str())),
            S_OK);
}

}  // namespace kx::test::validation
