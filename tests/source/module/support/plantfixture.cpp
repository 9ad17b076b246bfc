#include "modelfixture.h"
#include "storexml.h"

namespace kx::test::model {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return Class("Document", "",
               "DocumentName TemplateId DefaultCase CaseName OwningDiscipline NumberOfPages "
               "CurrentPages SubmittedPages CheckedPages IssuedPages") +
         R"XML(  <class name="Datasheet" base="Document" description="Equipment datasheet">
   <attribute name="ProjectId" type="integer"/>
   <attribute name="ObjectFilter"/>
  </class>
  <class name="NamedSheet" base="Datasheet">
   <attribute name="DatasheetSheetName"/>
  </class>
)XML" +
         Class("Page", "",
               "TemplateId PageId Checknum PageNumber DefaultCase NodeObjects NodeIndices Cases "
               "ActivePage") +
         R"XML(  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="CreatedReason"/>
   <attribute name="Ratings" type="integer" list="true"/>
   <attribute name="Parts" type="object" list="true"/>
   <attribute name="Running" type="boolean"/>
   <attribute name="Tag"/>
   <attribute name="Flow" type="real" dimension="Flow" unit="m3/h"/>
  </class>
  <class name="Pump" base="GenericClass"/>
  <class name="Motor" base="GenericClass"/>
  <class name="Diagram" base="Document">
   <attribute name="DrawingTemplate"/>
   <attribute name="CurrentSchematic" type="object"/>
   <attribute name="SubmittedSchematic" type="object"/>
   <attribute name="CheckedSchematic" type="object"/>
   <attribute name="IssuedSchematic" type="object"/>
  </class>
  <class name="Schematic">
   <attribute name="DrawnElements" type="object" list="true"/>
  </class>
  <filter name="RunningPumps" class="Pump" attribute="Tag" value="run"/>
)XML";
}

std::string Sections() {
  return " <units>\n" + FlowDimension(false) + R"XML( </units>
 <projects>
  <project id="1" name="Plant">
   <project id="2" name="Area A">
    <project id="4" name="Unit X"/>
   </project>
   <project id="3" name="Area B"/>
  </project>
 </projects>
 <cases>
  <case id="1" name="Design"/>
  <case id="2" name="Operating"/>
 </cases>
 <templates>
  <template id="TDS" name="Pump datasheet" checknum="3" kind="Datasheet" classes="Pump">
   <page id="P1" name="Sheet 1">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" attribute="Tag"/>
     <node name="Drive" index="1" classes="Motor">
      <field id="2" attribute="Tag"/>
     </node>
    </node>
   </page>
   <page id="P2" name="Sheet 2">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" attribute="Tag"/>
    </node>
   </page>
  </template>
  <template id="TLIST" name="Pump list" checknum="3" kind="Datasheet" classes="Pump">
   <page id="L1" name=" Rows " continuous="Rows">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" valueKey="0"/>
     <field id="102" valueKey="1"/>
     <field id="103" valueKey="2"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" valueKey="3"/>
     <field id="202" valueKey="4"/>
     <node name="Motor" index="2" classes="Motor">
      <field id="203" valueKey="-1"/>
     </node>
    </node>
   </page>
   <page id="L2" name="Plain"/>
  </template>
  <template id="TSUM" name="Pump summary" checknum="1" kind="Summary" classes="Pump">
   <page id="S1" name="Summary" continuous="Rows">
    <node name="Row" index="0" classes="Pump">
     <field id="1" valueKey="0"/>
    </node>
   </page>
  </template>
  <template id="TBAD" name="Broken lists" checknum="2" kind="Datasheet" classes="Pump">
   <page id="B1" name="Head only" continuous="Rows">
    <node name="Head" index="0" classes="Document"><field id="1"/></node>
   </page>
   <page id="B2" name="Two roots" continuous="Rows">
    <node name="A" index="0" classes="Pump"><field id="1"/></node>
    <node name="B" index="1" classes="Motor"><field id="2"/></node>
   </page>
   <page id="B3" name="Two classes" continuous="Rows">
    <node name="Row" index="0" classes="Pump,Motor"><field id="1"/></node>
   </page>
   <page id="B4" name="No fields" continuous="Rows">
    <node name="Row" index="0" classes="Pump"/>
   </page>
   <page id="B5" name="Same roots" continuous="Rows">
    <node name="Row" index="0" classes="Pump"><field id="1"/></node>
    <node name="ROW" index="1" classes="Motor"><field id="2"/></node>
   </page>
  </template>
  <template id="TGEN" name="General" checknum="1" kind="General" classes="Pump"/>
 </templates>
)XML";
}

// A small plant. Page layout of the continuous-list page 301: NodeIndices
// [1, 5, 2] places the datasheet on node "Sheet" (index 0), the first row on
// node "Row" (index 1) at position 5 and the motor on "Motor" (index 2);
// NodeObjects holds seven values, so the page has three rows (100, 101,
// 102).
const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(100, "Pump",
               Value("Name", "P-101") + Value("Tag", "run") + Value("CreatedReason", "Spare") +
                   Child(R"(<claim project="1"/>)")),
        Object(101, "Pump", Value("Name", "P-102") + Value("Tag", "stop")),
        Object(102, "Pump", Value("Name", "P-103") + Child(R"(<claim project="2"/>)")),
        Object(110, "Motor", Value("Name", "M-1")),
        Datasheet(200, "TDS", {201, 202},
                  Value("DocumentName", "Pump sheet") + Value("DefaultCase", "1") +
                      Value("ProjectId", "1") + Value("OwningDiscipline", "Mechanical") +
                      Refs("SubmittedPages", {203}) + Refs("IssuedPages", {204})),
        Page(201, 200, "TDS", "P1", "3", 1,
             Refs("NodeObjects", {100, 110}) + Values("NodeIndices", {"1", "2"}) +
                 Value("Cases", "1")),
        Page(202, 200, "TDS", "P2", "3", 2,
             Refs("NodeObjects", {101}) + Value("NodeIndices", "1") + Value("Cases", "1")),
        Page(203, 200, "TDS", "P1", "7", 1, Refs("ActivePage", {201}) + Value("Cases", "1")),
        Page(204, 200, "TDS", "P1", "3", 1, Refs("ActivePage", {201}) + Value("Cases", "1")),
        Datasheet(300, "TLIST", {301}, Value("DefaultCase", "1")),
        Page(301, 300, "TLIST", "L1", "3", 1,
             Value("DefaultCase", "2") + Refs("NodeObjects", {300, 110}) +
                 Child(R"(<value attribute="NodeObjects" position="5" ref="100"/>)") +
                 Refs("NodeObjects", {101, 102}) + Values("NodeIndices", {"1", "5", "2"}) +
                 Value("Cases", "2")),
        Datasheet(400, "TSUM", {401},
                  Value("DocumentName", "Pump list") + Value("DefaultCase", "2") +
                      Value("ProjectId", "4")),
        Page(401, 400, "TSUM", "S1", "1", 1,
             Refs("NodeObjects", {100, 101}) + Value("NodeIndices", "1") + Value("Cases", "2")),
        Object(500, "NamedSheet",
               Value("DatasheetSheetName", "Custom name") + Value("DocumentName", "Ignored") +
                   Value("TemplateId", "TDS")),
        Object(700, "Diagram",
               Value("DocumentName", "PID-1") + Value("DefaultCase", "1") +
                   Refs("CurrentSchematic", {701})),
        Object(701, "Schematic", Refs("DrawnElements", {101, 102})),
        Object(600, "Datasheet", Value("TemplateId", "NOPE")),
    });

}  // namespace

const char* const kPlantFixture = kText.c_str();

}  // namespace kx::test::model
