#include "setterhost.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "host/store_session.h"

namespace settertest {

const char kSetterFixture[] = R"XML(<store>
 <schema>
  <class name="GenericClass">
   <attribute name="Tag"/>
  </class>
  <class name="Document" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="ObjectFilter"/>
   <attribute name="NextAnnotationId" type="integer"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="SubmittedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="CheckedPages" type="object" list="true" collection="true" class="Page"/>
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
   <attribute name="Units" list="true"/>
   <attribute name="Annotations" list="true"/>
   <attribute name="ObjectFilter"/>
   <attribute name="ActivePage" type="object" class="Page"/>
   <attribute name="RevisedPages" type="object" list="true" class="Page"/>
  </class>
  <class name="ProcessPlantEquipment" base="GenericClass">
   <attribute name="BEDDInitialized" type="boolean"/>
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="C" path="AmbientTemperature"/>
  </class>
  <class name="Pump" base="ProcessPlantEquipment">
   <attribute name="Flow" type="real" dimension="Flow" unit="m3/h"/>
   <attribute name="Speed" type="integer"/>
   <attribute name="Running" type="boolean"/>
   <attribute name="Installed" type="date"/>
   <attribute name="Vented" type="boolean"/>
   <attribute name="Seal"/>
   <attribute name="Drawing"/>
  </class>
  <class name="MasterBEDD" base="GenericClass">
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="C" path="AmbientTemperature"/>
  </class>
  <definition name="ProjectSiteConditions">
   <attribute name="AmbientTemperature" type="real" dimension="Temperature" unit="C" path="AmbientTemperature"/>
  </definition>
  <filter name="P-1 only" class="Pump" attribute="Tag" value="P-1"/>
 </schema>
 <units>
  <dimension name="Flow" base="m3/h">
   <unit name="m3/h" display="cubic metres per hour"/>
   <unit name="l/s" factor="3.6" display="litres per second"/>
  </dimension>
  <dimension name="Temperature" base="C">
   <unit name="C"/>
   <unit name="K" offset="-273.15"/>
  </dimension>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Design"/></cases>
 <templates>
  <template id="TP" name="TP" checknum="1" kind="Datasheet" classes="Pump">
   <page id="P1" name="Page 1">
    <node name="Pump" index="0" classes="Pump">
     <field id="1" type="String" attribute="Tag" case="0"/>
     <field id="2" type="Real" attribute="Flow" unit="0" case="0"/>
     <field id="3" type="Integer" attribute="Speed" case="0"/>
     <field id="4" type="Date" attribute="Installed" case="0"/>
     <field id="5" type="Boolean" attribute="Running" case="0"/>
     <field id="6" type="Check" attribute="Vented" case="0"/>
     <field id="7" type="Radio" attribute="Seal" case="0" options="none|single|double"/>
     <field id="8" type="Sketch" attribute="Drawing" case="0"/>
     <field id="9" type="String" attribute="Tag"/>
    </node>
    <unit dimension="Flow" default="m3/h"/>
    <qualifier number="0" fields="3 2"/>
   </page>
   <page id="P2" name="Page 2">
    <node name="Pump" index="0" classes="Pump">
     <field id="1" type="String" attribute="Tag" case="0"/>
    </node>
   </page>
  </template>
  <template id="TS" name="TS" checknum="1" kind="Summary" classes="Pump">
   <page id="L1" name="List" continuous="Rows">
    <node name="Sheet" index="0" classes="Document">
     <field id="11" type="String" attribute="Tag" case="0"/>
    </node>
    <node name="Row" index="1" classes="Pump" repeats="true">
     <field id="12" type="String" attribute="Tag" case="0"/>
     <field id="13" type="Real" attribute="Flow" case="0"/>
    </node>
   </page>
  </template>
 </templates>
 <objects>
  <object id="2" class="MasterBEDD"><value attribute="AmbientTemperature">35</value></object>
  <object id="10" class="Pump">
   <value attribute="Tag">P-101</value>
   <value attribute="Flow" unit="l/s">2</value>
   <value attribute="Speed">1450</value>
   <value attribute="BEDDInitialized">true</value>
  </object>
  <object id="20" class="Datasheet">
   <value attribute="TemplateId">TP</value>
   <value attribute="CurrentPages" ref="21"/>
   <value attribute="CurrentPages" ref="22"/>
   <value attribute="SubmittedPages" ref="23"/>
   <value attribute="CheckedPages" ref="24"/>
   <value attribute="IssuedPages" ref="25"/>
   <user name="ed" status="1"/>
   <user name="sue" status="2"/>
   <user name="kim" status="3"/>
  </object>
  <object id="21" class="Page" owner="20">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">P1</value>
   <value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
   <value attribute="Qualifiers">0</value>
   <value attribute="Units">l/s</value>
   <value attribute="Fields">&lt;String FieldId="1"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="2" Format="0.0" Alignment="1"/&gt;</value>
   <value attribute="Fields" position="9" empty="true"/>
   <value attribute="RevisedPages" ref="23"/>
   <value attribute="RevisedPages" ref="24"/>
   <value attribute="RevisedPages" ref="25"/>
  </object>
  <object id="22" class="Page" owner="20">
   <value attribute="TemplateId">TP</value>
   <value attribute="PageId">P2</value>
   <value attribute="Checknum">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
  </object>
  <object id="23" class="Page" owner="20">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P1</value>
   <value attribute="Checknum">1</value><value attribute="ActivePage" ref="21"/>
  </object>
  <object id="24" class="Page" owner="20">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P1</value>
   <value attribute="Checknum">1</value><value attribute="ActivePage" ref="21"/>
  </object>
  <object id="25" class="Page" owner="20">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P1</value>
   <value attribute="Checknum">1</value><value attribute="ActivePage" ref="21"/>
  </object>
  <object id="40" class="Datasheet">
   <value attribute="TemplateId">TP</value>
   <value attribute="CurrentPages" ref="41"/>
   <value attribute="CurrentPages" ref="42"/>
   <user name="ed" status="1"/>
  </object>
  <object id="41" class="Page" owner="40">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P1</value>
   <value attribute="Checknum">1</value><value attribute="Cases">1</value>
   <value attribute="Units">m3/h</value>
   <value attribute="Fields" position="9" empty="true"/>
  </object>
  <object id="42" class="Page" owner="40">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P2</value>
   <value attribute="Checknum">1</value><value attribute="Cases">1</value>
  </object>
  <object id="50" class="Datasheet">
   <value attribute="TemplateId">TS</value>
   <value attribute="CurrentPages" ref="51"/>
   <user name="ed" status="1"/>
  </object>
  <object id="51" class="Page" owner="50">
   <value attribute="TemplateId">TS</value><value attribute="PageId">L1</value>
   <value attribute="Checknum">1</value><value attribute="Cases">1</value>
   <value attribute="NodeObjects" ref="50"/>
   <value attribute="NodeObjects" ref="52"/>
   <value attribute="NodeObjects" ref="53"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Fields">&lt;String FieldId="11"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="12" Index="0" Alignment="2"/&gt;</value>
   <value attribute="Fields">&lt;Real FieldId="13" Index="0" Format="0.00"/&gt;</value>
  </object>
  <object id="52" class="Pump"><value attribute="Tag">P-201</value></object>
  <object id="53" class="Pump"><value attribute="Tag">P-202</value></object>
  <object id="60" class="Datasheet">
   <value attribute="TemplateId">TS</value>
   <value attribute="CurrentPages" ref="61"/>
   <user name="ed" status="1"/>
  </object>
  <object id="61" class="Page" owner="60">
   <value attribute="TemplateId">TS</value><value attribute="PageId">L1</value>
   <value attribute="Checknum">1</value><value attribute="Cases">1</value>
   <value attribute="ObjectFilter">P-1 only</value>
   <value attribute="NodeObjects" ref="60"/>
   <value attribute="NodeObjects" ref="62"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <trigger name="SSPF" handler="KXDBDatasheetSvcs.Main"/>
  </object>
  <object id="62" class="Pump"><value attribute="Tag">P-1</value></object>
 </objects>
</store>)XML";

// Transactions of the store, one per call, as the host program runs them.
class SetterHost::Session final : public kx::host::StoreSession {
 public:
  explicit Session(kx::store::Store& store) : store_(store) {}
  HRESULT Begin() override { return store_.Begin().hr; }
  HRESULT Commit() override { return store_.Commit().hr; }
  HRESULT Rollback() override { return store_.Rollback().hr; }
  bool IsOfClass(IKXQObject* object, std::u16string_view name) override {
    VARIANT_BOOL is = VARIANT_FALSE;
    return SUCCEEDED(object->IsOfClass(_variant_t(std::u16string(name).c_str()), &is)) &&
           is == VARIANT_TRUE;
  }

 private:
  kx::store::Store& store_;
};

SetterHost::SetterHost(const char* fixture) : TestHost(fixture, kxtest::Projects::kActive) {
  UseSession(std::make_unique<Session>(store()));
  host().privileges().SetUserName(u"Ed Engineer");
  AttachMain();
}

kx::host::RequestResult SetterHost::Send(std::u16string_view name, std::u16string_view message,
                                         int status) {
  std::u16string text = u"<XMLMessage TargetId=\"T\"";
  if (status != -1) text += kx_format(u" Status=\"%d\"", status);
  text += u">";
  text += message;
  text += u"</XMLMessage>";
  return host().Request(name, text);
}

std::string SetterHost::Value(LONG id, const char16_t* attribute, LONG position,
                              const char16_t* unit) const {
  const IKXQAttributePtr values = kxtest::AttributeOf(Object(id), attribute);
  if (!values) return "<no attribute>";
  _variant_t value;
  if (FAILED(values->GetValue(_variant_t(position), unit ? _variant_t(unit) : _variant_t(), &value))) {
    return "<failed>";
  }
  if (value.vt == VT_EMPTY) return "";
  if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
    IKXQObjectPtr held;
    LONG heldId = 0;
    if (value.punkVal != nullptr &&
        SUCCEEDED(value.punkVal->QueryInterface(kx_uuidof<IKXQObject>(), reinterpret_cast<void**>(&held))) &&
        held && SUCCEEDED(held->get_Id(&heldId))) {
      return "#" + std::to_string(heldId);
    }
    return "<object>";
  }
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return "<no text>";
  return Narrow(text.bstrVal != nullptr ? std::u16string_view(text.bstrVal) : std::u16string_view());
}

LONG SetterHost::Count(LONG id, const char16_t* attribute) const {
  const IKXQAttributePtr values = kxtest::AttributeOf(Object(id), attribute);
  LONG count = -1;
  if (values) (void)values->get_Count(&count);
  return count;
}

std::string Narrow(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

std::vector<std::string> EventLines(const kx::host::CallResult& result) {
  std::vector<std::string> lines;
  for (const auto& event : result.events) {
    std::string line = Narrow(event.message_name);
    if (event.key) line += " [" + Narrow(*event.key) + "]";
    line += " to ";
    for (size_t i = 0; i < event.recipients.size(); ++i) {
      line += (i > 0 ? ", " : "") + Narrow(event.recipients[i]);
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace settertest
