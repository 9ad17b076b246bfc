#include "listsfixture.h"

#include <string>

#include "storexml.h"

namespace kx::test::lists {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return R"XML(  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Speed" type="integer"/>
   <attribute name="Flow" type="real"/>
  </class>
  <class name="Reading" base="GenericClass"/>
  <class name="Pump" base="GenericClass">
   <attribute name="Readings" type="object" list="true" collection="true" class="Reading"/>
  </class>
  <class name="Motor" base="GenericClass"/>
)XML" +
         Class("Document", "GenericClass",
               "TemplateId Checknum DefaultCase NumberOfPages ProjectId ObjectFilter CurrentPages "
               "SubmittedPages CheckedPages IssuedPages") +
         Class("Datasheet", "Document") +
         Class("Page", "GenericClass",
               "TemplateId PageId Checknum PageNumber ObjectFilter NodeObjects NodeIndices "
               "HiddenObjects Fields Units Revisions Cases OverspillTo OverspillFrom") +
         R"XML(  <filter name="OnlyP1" title="Pump P-1" class="Pump" attribute="Name" value="P-1"/>
  <filter name="Pumps" title="All pumps" class="Pump"/>
  <sort code="BYNAME" title="By name" attribute="Name" descending="false"/>
)XML";
}

std::string Sections() {
  return R"XML( <projects><project id="1" name="Plant"><project id="2" name="Area"/></project></projects>
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
)XML";
}

const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(10, "Pump",
               Value("Name", "P-3") + Value("Speed", "30") + Value("Flow", "-1.5") +
                   Refs("Readings", {20, 21, 22, 23, 24})),
        Object(11, "Pump", Value("Name", "P-1") + Value("Speed", "10") + Value("Flow", "0")),
        Object(12, "Pump", Value("Name", "P-5") + Value("Speed", "30") + Value("Flow", "2.5")),
        Object(13, "Pump", Value("Name", "P-2") + Value("Flow", "7")),
        Object(14, "Pump", Value("Name", "P-4") + Value("Speed", "-5")),
        Object(15, "Motor", Value("Name", "M-1")),
        Object(16, "Pump", Value("Name", "P-6") + Refs("Readings", {25, 26})),
        Owned(25, "Reading", 16, Value("Name", "R-6")),
        Owned(26, "Reading", 16, Value("Name", "R-7")),
        Owned(20, "Reading", 10, Value("Name", "R-1")),
        Owned(21, "Reading", 10, Value("Name", "R-2")),
        Owned(22, "Reading", 10, Value("Name", "R-3")),
        Owned(23, "Reading", 10, Value("Name", "R-4")),
        Owned(24, "Reading", 10, Value("Name", "R-5")),
        Datasheet(100, "TS", {101, 102, 103},
                  Value("Name", "Summary") + Value("DefaultCase", "1") +
                      Value("NumberOfPages", "3") + Value("ProjectId", "1") +
                      Child(R"(<user name="ann" status="1"/>)")),
        Page(101, 100, "TS", "S", "1", 1,
             Refs("NodeObjects", {10}) + Value("NodeIndices", "1") + Value("Fields", "") +
                 Value("Cases", "1")),
        Page(102, 100, "TS", "S", "1", 2, Value("Fields", "") + Value("Cases", "1")),
        Page(103, 100, "TS", "S", "1", 3,
             Refs("NodeObjects", {12}) + Value("NodeIndices", "1") + Value("Fields", "") +
                 Value("Cases", "1")),
        Datasheet(200, "TC", {201},
                  Value("Name", "List") + Value("DefaultCase", "1") + Value("NumberOfPages", "1") +
                      Value("ProjectId", "1") + Child(R"(<user name="ann" status="1"/>)")),
        Page(201, 200, "TC", "C", "1", 1,
             Refs("NodeObjects", {200, 11, 10, 11}) + Values("NodeIndices", {"1", "2"}) +
                 Values("Fields", {R"(<String FieldId="101" Value="List"/>)",
                                   R"(<String FieldId="201" AttribId="7" Index="0" Value="P-1"/>)",
                                   R"(<Integer FieldId="202" Index="0" Value="10"/>)",
                                   R"(<Real FieldId="203" Index="0" Value="0"/>)",
                                   R"(<String FieldId="201" Index="1" Value="P-3"/>)",
                                   R"(<Integer FieldId="202" Index="1" Value="30"/>)",
                                   R"(<Real FieldId="203" Index="1" Value="-1.5"/>)",
                                   R"(<String FieldId="201" Index="2" Value="P-1"/>)",
                                   R"(<Integer FieldId="202" Index="2" Value="10"/>)",
                                   R"(<Real FieldId="203" Index="2" Value="0"/>)"}) +
                 Values("Revisions", {"F", "A", "B", "C"}) + Value("Cases", "1")),
        Datasheet(300, "TR", {301},
                  Value("Name", "Readings") + Value("DefaultCase", "1") +
                      Value("NumberOfPages", "1") + Child(R"(<user name="ann" status="1"/>)")),
        Page(301, 300, "TR", "R", "1", 1,
             Refs("NodeObjects", {10, 20, 21}) + Values("NodeIndices", {"1", "2", "3"}) +
                 Value("Cases", "1")),
        Datasheet(400, "TR", {401, 402}, Value("DefaultCase", "1")),
        Page(401, 400, "TR", "R", "1", 0,
             Refs("NodeObjects", {10}) + Value("NodeIndices", "1") + Refs("OverspillTo", {402})),
        Page(402, 400, "TR", "R", "1", 0, Refs("OverspillTo", {401})),
        Object(500, "Datasheet",
               Value("Name", "Area summary") + Value("TemplateId", "TS") + Value("ProjectId", "2")),
        Datasheet(600, "TN", {601}, Value("DefaultCase", "1")),
        Page(601, 600, "TN", "N", "1", 0, Refs("NodeObjects", {10}) + Value("NodeIndices", "1")),
        Datasheet(700, "TR", {701}, Value("DefaultCase", "1") + Value("NumberOfPages", "1")),
        Page(701, 700, "TR", "R", "1", 1, Refs("NodeObjects", {16}) + Value("NodeIndices", "1")),
        Datasheet(800, "TR", {801}, Value("DefaultCase", "1") + Value("NumberOfPages", "1")),
        Page(801, 800, "TR", "R", "1", 1,
             Refs("NodeObjects", {10, 21}) + Values("NodeIndices", {"1", "", "2"})),
    });

}  // namespace

const char* const kListsFixture = kText.c_str();

}  // namespace kx::test::lists
