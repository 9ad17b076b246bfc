#include "setterhost.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "host/store_session.h"
#include "storexml.h"

namespace kx::test::setters {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return R"XML(  <class name="GenericClass">
   <attribute name="Tag"/>
  </class>
)XML" +
         Class("Document", "GenericClass",
               "TemplateId ObjectFilter NextAnnotationId CurrentPages SubmittedPages CheckedPages "
               "IssuedPages") +
         Class("Datasheet", "Document") +
         Class("Page", "",
               "TemplateId PageId Checknum NodeObjects NodeIndices HiddenObjects Cases Qualifiers "
               "Fields Units Annotations ObjectFilter ActivePage RevisedPages") +
         R"XML(  <class name="ProcessPlantEquipment" base="GenericClass">
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
)XML";
}

std::string Sections() {
  return " <units>\n" + FlowDimension(true) + TemperatureDimension() + R"XML( </units>
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
     <field id="10" type="Real" attribute="AmbientTemperature" case="0"/>
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
)XML";
}

const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(2, "MasterBEDD", Value("AmbientTemperature", "35")),
        Object(10, "Pump",
               Value("Tag", "P-101") + Child(R"(<value attribute="Flow" unit="l/s">2</value>)") +
                   Value("Speed", "1450") + Value("BEDDInitialized", "true")),
        Datasheet(20, "TP", {21, 22},
                  Refs("SubmittedPages", {23}) + Refs("CheckedPages", {24}) +
                      Refs("IssuedPages", {25}) + Child(R"(<user name="ed" status="1"/>)") +
                      Child(R"(<user name="sue" status="2"/>)") +
                      Child(R"(<user name="kim" status="3"/>)")),
        Page(21, 20, "TP", "P1", "1", 0,
             Refs("NodeObjects", {10}) + Value("NodeIndices", "1") + Value("Cases", "1") +
                 Value("Qualifiers", "0") + Value("Units", "l/s") +
                 Values("Fields", {R"(<String FieldId="1"/>)",
                                   R"(<Real FieldId="2" Format="0.0" Alignment="1"/>)"}) +
                 Child(R"(<value attribute="Fields" position="9" empty="true"/>)") +
                 Refs("RevisedPages", {23, 24, 25})),
        Page(22, 20, "TP", "P2", "1", 0,
             Refs("NodeObjects", {10}) + Value("NodeIndices", "1") + Value("Cases", "1")),
        Page(23, 20, "TP", "P1", "1", 0, Refs("ActivePage", {21})),
        Page(24, 20, "TP", "P1", "1", 0, Refs("ActivePage", {21})),
        Page(25, 20, "TP", "P1", "1", 0, Refs("ActivePage", {21})),
        Datasheet(40, "TP", {41, 42}, Child(R"(<user name="ed" status="1"/>)")),
        Page(41, 40, "TP", "P1", "1", 0,
             Value("Cases", "1") + Value("Units", "m3/h") +
                 Child(R"(<value attribute="Fields" position="9" empty="true"/>)")),
        Page(42, 40, "TP", "P2", "1", 0, Value("Cases", "1")),
        Datasheet(50, "TS", {51}, Child(R"(<user name="ed" status="1"/>)")),
        Page(51, 50, "TS", "L1", "1", 0,
             Value("Cases", "1") + Refs("NodeObjects", {50, 52, 53}) +
                 Values("NodeIndices", {"1", "2"}) +
                 Values("Fields", {R"(<String FieldId="11"/>)",
                                   R"(<String FieldId="12" Index="0" Alignment="2"/>)",
                                   R"(<Real FieldId="13" Index="0" Format="0.00"/>)"})),
        Object(52, "Pump", Value("Tag", "P-201")),
        Object(53, "Pump", Value("Tag", "P-202")),
        Datasheet(60, "TS", {61}, Child(R"(<user name="ed" status="1"/>)")),
        Page(61, 60, "TS", "L1", "1", 0,
             Value("Cases", "1") + Value("ObjectFilter", "P-1 only") +
                 Refs("NodeObjects", {60, 62}) + Values("NodeIndices", {"1", "2"}) +
                 Child(R"(<trigger name="SSPF" handler="KXDBDatasheetSvcs.Main"/>)")),
        Object(62, "Pump", Value("Tag", "P-1")),
    });

}  // namespace

const char* const kSetterFixture = kText.c_str();

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

SetterHost::SetterHost(const char* fixture) : TestHost(fixture, kx::test::Projects::kActive) {
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
  const IKXQAttributePtr values = kx::test::AttributeOf(Object(id), attribute);
  if (!values) return "<no attribute>";
  _variant_t value;
  if (FAILED(
          values->GetValue(_variant_t(position), unit ? _variant_t(unit) : _variant_t(), &value))) {
    return "<failed>";
  }
  if (value.vt == VT_EMPTY) return "";
  if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
    IKXQObjectPtr held;
    LONG heldId = 0;
    if (value.punkVal != nullptr &&
        SUCCEEDED(value.punkVal->QueryInterface(kx_uuidof<IKXQObject>(),
                                                reinterpret_cast<void**>(&held))) &&
        held && SUCCEEDED(held->get_Id(&heldId))) {
      return "#" + std::to_string(heldId);
    }
    return "<object>";
  }
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return "<no text>";
  return Narrow(text.bstrVal != nullptr ? std::u16string_view(text.bstrVal)
                                        : std::u16string_view());
}

LONG SetterHost::Count(LONG id, const char16_t* attribute) const {
  const IKXQAttributePtr values = kx::test::AttributeOf(Object(id), attribute);
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

}  // namespace kx::test::setters
