#include "listsfixture.h"

namespace liststest {

const char kListsFixture[] = R"XML(<store>
 <schema>
  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Speed" type="integer"/>
   <attribute name="Flow" type="real"/>
  </class>
  <class name="Reading" base="GenericClass"/>
  <class name="Pump" base="GenericClass">
   <attribute name="Readings" type="object" list="true" collection="true" class="Reading"/>
  </class>
  <class name="Motor" base="GenericClass"/>
  <class name="Document" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="DefaultCase" type="integer"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="ProjectId" type="integer"/>
   <attribute name="ObjectFilter"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="SubmittedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="CheckedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Datasheet" base="Document"/>
  <class name="Page" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="PageId"/>
   <attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/>
   <attribute name="ObjectFilter"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="OverspillTo" type="object" class="Page"/>
   <attribute name="OverspillFrom" type="object" inverse="OverspillTo"/>
  </class>
  <filter name="OnlyP1" title="Pump P-1" class="Pump" attribute="Name" value="P-1"/>
  <filter name="Pumps" title="All pumps" class="Pump"/>
  <sort code="BYNAME" title="By name" attribute="Name" descending="false"/>
 </schema>
 <projects><project id="1" name="Plant"><project id="2" name="Area"/></project></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="TS" checknum="1" name="Pump summary" kind="Summary" classes="Pump">
   <page id="S" name="Summary">
    <node name="Row" index="0" classes="Pump"><field id="1" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TC" checknum="1" name="Pump list" kind="Summary" classes="Pump">
   <page id="C" name="List" continuous="Rows" revisions="2">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="Name" valueKey="1" case="0"/>
     <field id="202" type="Integer" attribute="Speed" valueKey="-1" case="0"/>
     <field id="203" type="Real" attribute="Flow" valueKey="-1" case="0"/>
    </node>
   </page>
  </template>
  <template id="TR" checknum="1" name="Pump readings" kind="Datasheet" classes="Pump">
   <page id="R" name="Readings">
    <node name="Pump" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
     <node name="Readings(1)" index="1" classes="Reading" caseSlot="0"><field id="2" type="String" attribute="Name" case="0"/></node>
     <node name="Readings(2)" index="2" classes="Reading" caseSlot="0"><field id="3" type="String" attribute="Name" case="0"/></node>
    </node>
    <overspill target="R"><pair node="Pump" attribute="Readings"/></overspill>
   </page>
  </template>
  <template id="TN" checknum="1" name="Pump data" kind="Datasheet" classes="Pump">
   <page id="N" name="Data">
    <node name="Pump" index="0" classes="Pump"><field id="1" type="String" attribute="Name"/></node>
   </page>
  </template>
 </templates>
 <objects>
  <object id="10" class="Pump"><value attribute="Name">P-3</value><value attribute="Speed">30</value><value attribute="Flow">-1.5</value>
   <value attribute="Readings" ref="20"/><value attribute="Readings" ref="21"/><value attribute="Readings" ref="22"/>
   <value attribute="Readings" ref="23"/><value attribute="Readings" ref="24"/></object>
  <object id="11" class="Pump"><value attribute="Name">P-1</value><value attribute="Speed">10</value><value attribute="Flow">0</value></object>
  <object id="12" class="Pump"><value attribute="Name">P-5</value><value attribute="Speed">30</value><value attribute="Flow">2.5</value></object>
  <object id="13" class="Pump"><value attribute="Name">P-2</value><value attribute="Flow">7</value></object>
  <object id="14" class="Pump"><value attribute="Name">P-4</value><value attribute="Speed">-5</value></object>
  <object id="15" class="Motor"><value attribute="Name">M-1</value></object>
  <object id="16" class="Pump"><value attribute="Name">P-6</value>
   <value attribute="Readings" ref="25"/><value attribute="Readings" ref="26"/></object>
  <object id="25" class="Reading" owner="16"><value attribute="Name">R-6</value></object>
  <object id="26" class="Reading" owner="16"><value attribute="Name">R-7</value></object>
  <object id="20" class="Reading" owner="10"><value attribute="Name">R-1</value></object>
  <object id="21" class="Reading" owner="10"><value attribute="Name">R-2</value></object>
  <object id="22" class="Reading" owner="10"><value attribute="Name">R-3</value></object>
  <object id="23" class="Reading" owner="10"><value attribute="Name">R-4</value></object>
  <object id="24" class="Reading" owner="10"><value attribute="Name">R-5</value></object>

  <object id="100" class="Datasheet">
   <value attribute="Name">Summary</value>
   <value attribute="TemplateId">TS</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="NumberOfPages">3</value>
   <value attribute="ProjectId">1</value>
   <value attribute="CurrentPages" ref="101"/>
   <value attribute="CurrentPages" ref="102"/>
   <value attribute="CurrentPages" ref="103"/>
   <user name="ann" status="1"/>
  </object>
  <object id="101" class="Page" owner="100">
   <value attribute="TemplateId">TS</value><value attribute="PageId">S</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeIndices">1</value>
   <value attribute="Fields" empty="true"/><value attribute="Cases">1</value>
  </object>
  <object id="102" class="Page" owner="100">
   <value attribute="TemplateId">TS</value><value attribute="PageId">S</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">2</value>
   <value attribute="Fields" empty="true"/><value attribute="Cases">1</value>
  </object>
  <object id="103" class="Page" owner="100">
   <value attribute="TemplateId">TS</value><value attribute="PageId">S</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">3</value>
   <value attribute="NodeObjects" ref="12"/><value attribute="NodeIndices">1</value>
   <value attribute="Fields" empty="true"/><value attribute="Cases">1</value>
  </object>

  <object id="200" class="Datasheet">
   <value attribute="Name">List</value>
   <value attribute="TemplateId">TC</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="NumberOfPages">1</value>
   <value attribute="ProjectId">1</value>
   <value attribute="CurrentPages" ref="201"/>
   <user name="ann" status="1"/>
  </object>
  <object id="201" class="Page" owner="200">
   <value attribute="TemplateId">TC</value><value attribute="PageId">C</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="200"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value><value attribute="NodeIndices">2</value>
   <value attribute="Fields">&lt;String FieldId="101" Value="List"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="201" AttribId="7" Index="0" Value="P-1"/&gt;</value>
   <value attribute="Fields">&lt;Integer FieldId="202" Index="0" Value="10"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="203" Index="0" Value="0"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="201" Index="1" Value="P-3"/&gt;</value>
   <value attribute="Fields">&lt;Integer FieldId="202" Index="1" Value="30"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="203" Index="1" Value="-1.5"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="201" Index="2" Value="P-1"/&gt;</value>
   <value attribute="Fields">&lt;Integer FieldId="202" Index="2" Value="10"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="203" Index="2" Value="0"/&gt;</value>
   <value attribute="Revisions">F</value>
   <value attribute="Revisions">A</value>
   <value attribute="Revisions">B</value>
   <value attribute="Revisions">C</value>
   <value attribute="Cases">1</value>
  </object>

  <object id="300" class="Datasheet">
   <value attribute="Name">Readings</value>
   <value attribute="TemplateId">TR</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="NumberOfPages">1</value>
   <value attribute="CurrentPages" ref="301"/>
   <user name="ann" status="1"/>
  </object>
  <object id="301" class="Page" owner="300">
   <value attribute="TemplateId">TR</value><value attribute="PageId">R</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeObjects" ref="20"/><value attribute="NodeObjects" ref="21"/>
   <value attribute="NodeIndices">1</value><value attribute="NodeIndices">2</value><value attribute="NodeIndices">3</value>
   <value attribute="Cases">1</value>
  </object>

  <object id="400" class="Datasheet">
   <value attribute="TemplateId">TR</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="401"/>
   <value attribute="CurrentPages" ref="402"/>
  </object>
  <object id="401" class="Page" owner="400">
   <value attribute="TemplateId">TR</value><value attribute="PageId">R</value><value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeIndices">1</value>
   <value attribute="OverspillTo" ref="402"/>
  </object>
  <object id="402" class="Page" owner="400">
   <value attribute="TemplateId">TR</value><value attribute="PageId">R</value><value attribute="Checknum">1</value>
   <value attribute="OverspillTo" ref="401"/>
  </object>

  <object id="500" class="Datasheet">
   <value attribute="Name">Area summary</value>
   <value attribute="TemplateId">TS</value>
   <value attribute="ProjectId">2</value>
  </object>

  <object id="600" class="Datasheet">
   <value attribute="TemplateId">TN</value><value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="601"/>
  </object>
  <object id="601" class="Page" owner="600">
   <value attribute="TemplateId">TN</value><value attribute="PageId">N</value><value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeIndices">1</value>
  </object>

  <object id="700" class="Datasheet">
   <value attribute="TemplateId">TR</value><value attribute="DefaultCase">1</value>
   <value attribute="NumberOfPages">1</value>
   <value attribute="CurrentPages" ref="701"/>
  </object>
  <object id="701" class="Page" owner="700">
   <value attribute="TemplateId">TR</value><value attribute="PageId">R</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="16"/><value attribute="NodeIndices">1</value>
  </object>

  <object id="800" class="Datasheet">
   <value attribute="TemplateId">TR</value><value attribute="DefaultCase">1</value>
   <value attribute="NumberOfPages">1</value>
   <value attribute="CurrentPages" ref="801"/>
  </object>
  <object id="801" class="Page" owner="800">
   <value attribute="TemplateId">TR</value><value attribute="PageId">R</value><value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeObjects" ref="21"/>
   <value attribute="NodeIndices">1</value><value attribute="NodeIndices" empty="true"/><value attribute="NodeIndices">2</value>
  </object>
 </objects>
</store>
)XML";

}  // namespace liststest
