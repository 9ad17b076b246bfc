#include "modelfixture.h"

namespace modeltest {

// A small plant. Page layout of the continuous-list page 301: NodeIndices
// [1, 5, 2] places the datasheet on node "Sheet" (index 0), the first row on
// node "Row" (index 1) at position 5 and the motor on "Motor" (index 2);
// NodeObjects holds seven values, so the page has three rows (100, 101,
// 102).
const char kPlantFixture[] = R"(<store>
 <schema>
  <class name="Document">
   <attribute name="DocumentName"/>
   <attribute name="TemplateId"/>
   <attribute name="DefaultCase" type="integer"/>
   <attribute name="CaseName"/>
   <attribute name="OwningDiscipline"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="SubmittedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="CheckedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Datasheet" base="Document" description="Equipment datasheet">
   <attribute name="ProjectId" type="integer"/>
   <attribute name="ObjectFilter"/>
  </class>
  <class name="NamedSheet" base="Datasheet">
   <attribute name="DatasheetSheetName"/>
  </class>
  <class name="Page">
   <attribute name="TemplateId"/>
   <attribute name="PageId"/>
   <attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/>
   <attribute name="DefaultCase" type="integer"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="ActivePage" type="object" class="Page"/>
  </class>
  <class name="GenericClass">
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
 </schema>
 <units>
  <dimension name="Flow" base="m3/h">
   <unit name="m3/h"/>
   <unit name="l/s" factor="3.6"/>
  </dimension>
 </units>
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
 <objects>
  <object id="100" class="Pump">
   <value attribute="Name">P-101</value>
   <value attribute="Tag">run</value>
   <value attribute="CreatedReason">Spare</value>
   <claim project="1"/>
  </object>
  <object id="101" class="Pump">
   <value attribute="Name">P-102</value>
   <value attribute="Tag">stop</value>
  </object>
  <object id="102" class="Pump">
   <value attribute="Name">P-103</value>
   <claim project="2"/>
  </object>
  <object id="110" class="Motor"><value attribute="Name">M-1</value></object>
  <object id="200" class="Datasheet">
   <value attribute="DocumentName">Pump sheet</value>
   <value attribute="TemplateId">TDS</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="ProjectId">1</value>
   <value attribute="OwningDiscipline">Mechanical</value>
   <value attribute="CurrentPages" ref="201"/>
   <value attribute="CurrentPages" ref="202"/>
   <value attribute="SubmittedPages" ref="203"/>
   <value attribute="IssuedPages" ref="204"/>
  </object>
  <object id="201" class="Page" owner="200">
   <value attribute="TemplateId">TDS</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">3</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="100"/>
   <value attribute="NodeObjects" ref="110"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Cases">1</value>
  </object>
  <object id="202" class="Page" owner="200">
   <value attribute="TemplateId">TDS</value>
   <value attribute="PageId">P2</value>
   <value attribute="Checknum">3</value>
   <value attribute="PageNumber">2</value>
   <value attribute="NodeObjects" ref="101"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
  </object>
  <object id="203" class="Page" owner="200">
   <value attribute="TemplateId">TDS</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">7</value>
   <value attribute="PageNumber">1</value>
   <value attribute="ActivePage" ref="201"/>
   <value attribute="Cases">1</value>
  </object>
  <object id="204" class="Page" owner="200">
   <value attribute="TemplateId">TDS</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">3</value>
   <value attribute="PageNumber">1</value>
   <value attribute="ActivePage" ref="201"/>
   <value attribute="Cases">1</value>
  </object>
  <object id="300" class="Datasheet">
   <value attribute="TemplateId">TLIST</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="301"/>
  </object>
  <object id="301" class="Page" owner="300">
   <value attribute="TemplateId">TLIST</value>
   <value attribute="PageId">L1</value>
   <value attribute="Checknum">3</value>
   <value attribute="PageNumber">1</value>
   <value attribute="DefaultCase">2</value>
   <value attribute="NodeObjects" ref="300"/>
   <value attribute="NodeObjects" ref="110"/>
   <value attribute="NodeObjects" position="5" ref="100"/>
   <value attribute="NodeObjects" ref="101"/>
   <value attribute="NodeObjects" ref="102"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">5</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Cases">2</value>
  </object>
  <object id="400" class="Datasheet">
   <value attribute="DocumentName">Pump list</value>
   <value attribute="TemplateId">TSUM</value>
   <value attribute="DefaultCase">2</value>
   <value attribute="ProjectId">4</value>
   <value attribute="CurrentPages" ref="401"/>
  </object>
  <object id="401" class="Page" owner="400">
   <value attribute="TemplateId">TSUM</value>
   <value attribute="PageId">S1</value>
   <value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="100"/>
   <value attribute="NodeObjects" ref="101"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">2</value>
  </object>
  <object id="500" class="NamedSheet">
   <value attribute="DatasheetSheetName">Custom name</value>
   <value attribute="DocumentName">Ignored</value>
   <value attribute="TemplateId">TDS</value>
  </object>
  <object id="700" class="Diagram">
   <value attribute="DocumentName">PID-1</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentSchematic" ref="701"/>
  </object>
  <object id="701" class="Schematic">
   <value attribute="DrawnElements" ref="101"/>
   <value attribute="DrawnElements" ref="102"/>
  </object>
  <object id="600" class="Datasheet">
   <value attribute="TemplateId">NOPE</value>
  </object>
 </objects>
</store>
)";

}  // namespace modeltest
