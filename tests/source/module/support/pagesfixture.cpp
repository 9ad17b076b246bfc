#include "pagesfixture.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "main.h"

namespace pagestest {

const char kPagesFixture[] = R"XML(<store>
 <schema>
  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Flow" type="real" dimension="Length" unit="m"/>
   <attribute name="Running" type="boolean"/>
  </class>
  <class name="Pump" base="GenericClass"/>
  <class name="Motor" base="GenericClass"/>
  <class name="Folder" base="GenericClass"/>
  <class name="RetrievableFolder" base="Folder"/>
  <class name="Document" base="GenericClass">
   <attribute name="DocumentName"/>
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="DefaultCase" type="integer"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="ProjectId" type="integer"/>
   <attribute name="ObjectFilter"/>
   <attribute name="BaseDimensionSet"/>
   <attribute name="Folders" type="object" list="true"/>
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
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Annotations" list="true"/>
   <attribute name="Qualifiers" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="ActivePage" type="object" class="Page"/>
   <attribute name="RevisedPages" type="object" list="true" class="Page"/>
   <attribute name="OverspillTo" type="object" class="Page"/>
   <attribute name="OverspillFrom" type="object" inverse="OverspillTo"/>
   <attribute name="Orientation" type="integer"/>
   <attribute name="ScaleMode" type="integer"/>
   <attribute name="ScaleFactor" type="real"/>
   <attribute name="CenterHorizontal" type="boolean"/>
   <attribute name="CenterVertical" type="boolean"/>
   <attribute name="TopMargin" type="integer"/>
   <attribute name="LeftMargin" type="integer"/>
   <attribute name="BottomMargin" type="integer"/>
   <attribute name="RightMargin" type="integer"/>
   <attribute name="PaperSize" type="integer"/>
   <attribute name="PaperWidth" type="integer"/>
   <attribute name="PaperLength" type="integer"/>
   <attribute name="PaperSource" type="integer"/>
  </class>
 </schema>
 <units>
  <dimension name="Length" base="m">
   <unit name="m" display="metre"/>
   <unit name="mm" factor="0.001" display="millimetre"/>
  </dimension>
  <dimensionSet name="SI"><use dimension="Length" unit="mm"/></dimensionSet>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="TP" checknum="1" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="3">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
    </node>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TP" checknum="2" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="3" revisionAlign="2" revisionValign="1">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
     <field id="2" type="Real" attribute="Flow" unit="0"/>
     <field id="3" type="Check" attribute="Running"/>
    </node>
    <node name="Aux" index="1" classes="Motor"/>
    <unit dimension="Length" default="mm" align="1" valign="2"/>
    <qualifier number="1" fields="2"/>
   </page>
   <page id="B" name="Two roots">
    <node name="First" index="0" classes="Pump"><field id="11" type="String" attribute="Name"/></node>
    <node name="Second" index="1" classes="Pump"><field id="12" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TS" checknum="1" name="Pump summary" kind="Summary" classes="Pump">
   <page id="S" name="Summary">
    <node name="Row" index="0" classes="Pump"><field id="1" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TL" checknum="1" name="Pump list" kind="Datasheet" classes="Pump">
   <page id="L" name="List" continuous="Rows" revisions="6">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
     <field id="102" type="String" attribute="Name" valueKey="1"/>
     <field id="103" type="String" attribute="Name" valueKey="2"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="Name" valueKey="3"/>
     <field id="202" type="Real" attribute="Flow" valueKey="4"/>
     <field id="203" type="Check" attribute="Running" valueKey="5"/>
    </node>
   </page>
  </template>
  <template id="TZ" checknum="1" name="Rows without values" kind="Datasheet" classes="Pump">
   <page id="Z" name="List" continuous="Rows" revisions="3">
    <node name="Sheet" index="0" classes="Document"><field id="1" type="String" valueKey="0"/></node>
    <node name="Row" index="1" classes="Pump"><field id="2" type="String" valueKey="-1"/></node>
   </page>
  </template>
  <template id="TO" checknum="1" name="Readings" kind="Datasheet" classes="Pump">
   <page id="O" name="Readings">
    <node name="Rows" index="0" classes="Pump">
     <node name="Readings(1)" index="1" classes="Pump"/>
     <node name="readings [2]" index="2" classes="Pump"/>
     <node name="Other" index="3" classes="Pump"/>
    </node>
    <overspill target="O"><pair node="Rows" attribute="Readings"/></overspill>
   </page>
  </template>
 </templates>
 <objects>
  <object id="10" class="Pump"><value attribute="Name">P-1</value></object>
  <object id="11" class="Pump"><value attribute="Name">P-2</value></object>
  <object id="12" class="Motor"><value attribute="Name">M-1</value></object>
  <object id="300" class="RetrievableFolder"><value attribute="Name">Archive</value></object>
  <object id="301" class="Folder" owner="300"/>
  <object id="302" class="Folder" owner="301"/>
  <object id="303" class="Folder"/>

  <object id="100" class="Datasheet">
   <value attribute="DocumentName">Pump sheet</value>
   <value attribute="TemplateId">TP</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="BaseDimensionSet">SI</value>
   <value attribute="Folders" ref="303"/>
   <value attribute="CurrentPages" ref="101"/>
   <value attribute="CurrentPages" ref="102"/>
   <value attribute="CurrentPages" ref="103"/>
   <value attribute="IssuedPages" ref="111"/>
   <value attribute="SubmittedPages" ref="121"/>
   <user name="ann" status="1"/>
  </object>
  <object id="101" class="Page" owner="100">
   <value attribute="Name">Sheet %d</value>
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="12"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Cases">1</value>
   <value attribute="Fields">&lt;String FieldId="1" Value="P-1"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="2" Value="12.5"/&gt;</value>
   <value attribute="Fields">&lt;Check FieldId="3" Value="1"/&gt;</value>
   <value attribute="Units">mm</value>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions">B</value>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Annotations">&lt;Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow"/&gt;</value>
   <value attribute="Qualifiers">2</value>
   <value attribute="PaperSource">3</value>
   <value attribute="RevisedPages" ref="111"/>
  </object>
  <object id="102" class="Page" owner="100">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">B</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">2</value>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">1</value>
   <value attribute="Orientation">2</value>
   <value attribute="ScaleFactor">0.75</value>
   <value attribute="CenterHorizontal">true</value>
   <value attribute="TopMargin">10</value>
   <value attribute="PaperSize">9</value>
  </object>
  <object id="103" class="Page" owner="100">
   <value attribute="Name">Last</value>
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">3</value>
   <value attribute="Units" empty="true"/>
  </object>
  <object id="111" class="Page" owner="100" statusCopy="true">
   <value attribute="Name">Sheet %d</value>
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">1</value>
   <value attribute="ActivePage" ref="101"/>
   <value attribute="Fields">&lt;String FieldId="1" Value="P-1 &amp;amp; co" State="5"/&gt;</value>
   <value attribute="Fields" empty="true"/>
   <value attribute="Fields">&lt;Real FieldId="2" Value="10" Prefix="~" Format="0.0" State="2048"/&gt;</value>
   <value attribute="Fields">&lt;Check FieldId="3" Value=</value>
   <value attribute="Units">m</value>
   <value attribute="Revisions">A</value>
   <value attribute="Annotations">&lt;Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow"/&gt;</value>
   <value attribute="Annotations">&lt;Annotation FieldId="2" X="1" Y="2" Markup="1" Value="Issued note"/&gt;</value>
   <value attribute="Qualifiers">1</value>
  </object>
  <object id="121" class="Page" owner="100" statusCopy="true">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">A</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">1</value>
   <value attribute="ActivePage" ref="101"/>
   <value attribute="Fields">&lt;String FieldId="1" Value="P-1 sub"/&gt;</value>
   <value attribute="Annotations">&lt;Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow!"/&gt;</value>
  </object>

  <object id="200" class="Datasheet">
   <value attribute="DocumentName">Archived sheet</value>
   <value attribute="TemplateId">TP</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="Folders" ref="303"/>
   <value attribute="Folders" ref="302"/>
   <value attribute="CurrentPages" ref="201"/>
  </object>
  <object id="201" class="Page" owner="200">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">B</value>
   <value attribute="Checknum">2</value>
   <value attribute="PageNumber">1</value>
  </object>

  <object id="400" class="Datasheet">
   <value attribute="DocumentName">Pump list</value>
   <value attribute="TemplateId">TS</value>
   <value attribute="DefaultCase">1</value>
   <value attribute="ProjectId">1</value>
   <value attribute="ObjectFilter">kx_claim_only</value>
   <value attribute="CurrentPages" ref="401"/>
  </object>
  <object id="401" class="Page" owner="400">
   <value attribute="TemplateId">TS</value>
   <value attribute="PageId">S</value>
   <value attribute="Checknum">1</value>
   <value attribute="PageNumber">1</value>
  </object>

  <object id="500" class="Datasheet">
   <value attribute="TemplateId">TO</value>
   <value attribute="CurrentPages" ref="501"/>
   <value attribute="CurrentPages" ref="502"/>
   <value attribute="CurrentPages" ref="503"/>
   <user name="ann" status="1"/>
  </object>
  <object id="501" class="Page" owner="500">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="OverspillTo" ref="502"/>
  </object>
  <object id="502" class="Page" owner="500">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">2</value>
   <value attribute="OverspillTo" ref="503"/>
  </object>
  <object id="503" class="Page" owner="500">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">3</value>
  </object>

  <object id="700" class="Datasheet">
   <value attribute="DocumentName">Pump list</value>
   <value attribute="TemplateId">TL</value>
   <value attribute="CurrentPages" ref="701"/>
   <value attribute="IssuedPages" ref="711"/>
  </object>
  <object id="701" class="Page" owner="700">
   <value attribute="TemplateId">TL</value><value attribute="PageId">L</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="700"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
  </object>
  <object id="711" class="Page" owner="700" statusCopy="true">
   <value attribute="TemplateId">TL</value><value attribute="PageId">L</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="ActivePage" ref="701"/>
   <value attribute="NodeObjects" ref="700"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Fields">&lt;String FieldId="101" Value="head"/&gt;</value>
   <value attribute="Fields" empty="true"/>
   <value attribute="Fields" empty="true"/>
   <value attribute="Fields">&lt;String FieldId="201" Value="P-1"/&gt;</value>
   <value attribute="Fields" empty="true"/>
   <value attribute="Fields" empty="true"/>
   <value attribute="Fields">&lt;String FieldId="201" Value="P-2"/&gt;</value>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions">r0</value>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions" empty="true"/>
   <value attribute="Revisions">r1</value>
  </object>

  <object id="800" class="Datasheet">
   <value attribute="TemplateId">TZ</value>
   <value attribute="CurrentPages" ref="801"/>
  </object>
  <object id="801" class="Page" owner="800">
   <value attribute="TemplateId">TZ</value><value attribute="PageId">Z</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="800"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Revisions">a</value>
   <value attribute="Revisions">b</value>
   <value attribute="Revisions">c</value>
  </object>

  <object id="600" class="Datasheet">
   <value attribute="TemplateId">TO</value>
   <value attribute="CurrentPages" ref="601"/>
   <value attribute="CurrentPages" ref="602"/>
  </object>
  <object id="601" class="Page" owner="600">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="OverspillTo" ref="602"/>
  </object>
  <object id="602" class="Page" owner="600">
   <value attribute="TemplateId">TO</value><value attribute="PageId">O</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">2</value>
   <value attribute="OverspillTo" ref="601"/>
  </object>
 </objects>
</store>
)XML";

PagesHost::PagesHost(const char* fixture) : TestHost(fixture, kxtest::Projects::kRoot) {
  AttachMain();
}

void PagesHost::BeginHandRequest() {
  response_ = kx::host::MakeRef<kx::host::Response>();
  context_ = kx::host::MakeRef<kx::host::RequestContext>(response_);
  main().HoldRequest(context_.get());
}

std::string PagesHost::HandReply() {
  response_->EndReply();
  return Narrow(response_->text());
}

kx::host::RequestResult PagesHost::Request(const char16_t* name, const std::u16string& text) {
  return host().Request(name, text);
}

void PagesHost::SetCurrent(LONG datasheet, LONG page) {
  (void)app().put_CurrentDatasheet(datasheet != 0 ? Object(datasheet).GetInterfacePtr() : nullptr);
  (void)app().put_CurrentPage(page != 0 ? Object(page).GetInterfacePtr() : nullptr);
}

std::string PagesHost::Current() {
  auto text = [](IKXQObject* object) {
    LONG id = 0;
    if (object == nullptr || FAILED(object->get_Id(&id))) return std::string("none");
    return "#" + std::to_string(id);
  };
  return text(app().current_datasheet()) + " " + text(app().current_page());
}

std::string Narrow(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

std::string FirstDesc(const std::u16string& error) {
  _bstr_t description(GetErrorDescription(_bstr_t(error)), false);
  return Narrow(description.view());
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace pagestest
