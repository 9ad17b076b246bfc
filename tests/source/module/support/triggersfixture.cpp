#include "triggersfixture.h"

#include <gtest/gtest.h>

#include "com/wstr.h"
#include "main.h"

namespace triggerstest {

const char kTriggersFixture[] = R"XML(<store>
 <schema>
  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="F1"/><attribute name="F2"/><attribute name="F3"/><attribute name="F4"/>
   <attribute name="F5"/><attribute name="F6"/><attribute name="F7"/><attribute name="F8"/>
   <attribute name="F9"/><attribute name="F10"/><attribute name="F11"/><attribute name="F12"/>
   <attribute name="DataViews" type="object" list="true" inverse="NodeObjects"/>
  </class>
  <class name="Pump" base="GenericClass"/>
  <class name="Document" base="GenericClass">
   <attribute name="DocumentName"/>
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
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Annotations" list="true"/>
   <attribute name="Qualifiers" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="ObjectFilter"/>
   <attribute name="ActivePage" type="object" class="Page"/>
   <attribute name="IDWFReferences" type="integer" list="true"/>
  </class>
  <filter name="Ready" class="Pump" attribute="F12" value="yes"/>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="T12" checknum="1" name="Twelve fields" kind="Datasheet" classes="Pump">
   <page id="A" name="Data">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="F1" case="0"/>
     <field id="2" type="String" attribute="F2" case="0"/>
     <field id="3" type="String" attribute="F3" case="0"/>
     <field id="4" type="String" attribute="F4" case="0"/>
     <field id="5" type="String" attribute="F5" case="0"/>
     <field id="6" type="String" attribute="F6" case="0"/>
     <field id="7" type="String" attribute="F7" case="0"/>
     <field id="8" type="String" attribute="F8" case="0"/>
     <field id="9" type="String" attribute="F9" case="0"/>
     <field id="10" type="String" attribute="F10" case="0"/>
     <field id="11" type="String" attribute="F11" case="0"/>
     <field id="12" type="String" attribute="F12" case="0"/>
    </node>
   </page>
  </template>
  <template id="TL" checknum="1" name="Pump list" kind="Datasheet" classes="Pump">
   <page id="L" name="List" continuous="Rows">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0" case="0"/>
     <field id="102" type="String" attribute="DocumentName" valueKey="1" case="0"/>
     <field id="103" type="String" attribute="TemplateId" valueKey="2" case="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="F1" valueKey="3" case="0"/>
     <field id="202" type="String" attribute="F2" valueKey="4" case="0"/>
     <field id="203" type="String" attribute="F3" valueKey="5" case="0"/>
    </node>
   </page>
  </template>
  <template id="TS" checknum="1" name="Pump summary" kind="Summary" classes="Pump">
   <page id="S" name="Summary">
    <node name="Row" index="0" classes="Pump"><field id="1" type="String" attribute="F1" case="0"/></node>
   </page>
  </template>
 </templates>
 <objects>
  <object id="10" class="Pump">
   <value attribute="Name">P-1</value>
   <value attribute="F1">a1</value><value attribute="F2">a2</value><value attribute="F3">a3</value>
   <value attribute="F4">a4</value><value attribute="F5">a5</value><value attribute="F6">a6</value>
   <value attribute="F7">a7</value><value attribute="F8">a8</value><value attribute="F9">a9</value>
   <value attribute="F10">a10</value><value attribute="F11">a11</value><value attribute="F12">yes</value>
   <claim project="1"/>
  </object>
  <object id="11" class="Pump">
   <value attribute="Name">P-2</value>
   <value attribute="F1">b1</value><value attribute="F2">b2</value><value attribute="F3">b3</value>
   <value attribute="F12">no</value>
  </object>
  <object id="12" class="Pump" owner="100">
   <value attribute="F12">own</value>
  </object>

  <object id="100" class="Datasheet">
   <value attribute="Name">Twelve</value>
   <value attribute="TemplateId">T12</value><value attribute="Checknum">1</value>
   <value attribute="CurrentPages" ref="101"/>
   <value attribute="CurrentPages" ref="102"/>
   <value attribute="SubmittedPages" ref="121"/>
   <user name="alice" status="1"/>
  </object>
  <object id="101" class="Page" owner="100">
   <value attribute="Name">Sheet %d</value>
   <value attribute="TemplateId">T12</value><value attribute="PageId">A</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
   <value attribute="Fields" position="12" empty="true"/>
  </object>
  <object id="102" class="Page" owner="100">
   <value attribute="TemplateId">T12</value><value attribute="PageId">A</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">2</value>
   <value attribute="NodeObjects" ref="12"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
   <value attribute="Fields" position="12">&lt;String FieldId="12" State="0" Value="own"/&gt;</value>
  </object>
  <object id="121" class="Page" owner="100">
   <value attribute="TemplateId">T12</value><value attribute="PageId">A</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">2</value>
   <value attribute="ActivePage" ref="102"/>
   <value attribute="Fields" position="12">&lt;String FieldId="12" State="0" Value="own"/&gt;</value>
  </object>

  <object id="200" class="Datasheet">
   <value attribute="Name">List</value>
   <value attribute="DocumentName">Pumps</value>
   <value attribute="TemplateId">TL</value><value attribute="Checknum">1</value>
   <value attribute="CurrentPages" ref="201"/>
   <user name="alice" status="1"/>
  </object>
  <object id="201" class="Page" owner="200">
   <value attribute="TemplateId">TL</value><value attribute="PageId">L</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="200"/>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeObjects" ref="11"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="NodeIndices">2</value>
   <value attribute="Cases">1</value>
  </object>

  <object id="300" class="Datasheet">
   <value attribute="Name">Summary</value>
   <value attribute="TemplateId">TS</value><value attribute="Checknum">1</value>
   <value attribute="ObjectFilter">Ready</value>
   <value attribute="CurrentPages" ref="301"/>
   <user name="alice" status="1"/>
  </object>
  <object id="301" class="Page" owner="300">
   <value attribute="TemplateId">TS</value><value attribute="PageId">S</value>
   <value attribute="Checknum">1</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="10"/>
   <value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value>
  </object>
 </objects>
</store>
)XML";

TriggersHost::TriggersHost(const char* fixture) {
  kx::store::Status status =
      kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &m_store);
  if (!status.ok()) ADD_FAILURE() << "cannot open a store: " << status.message;
  status = m_store->ImportFixtureText(fixture, "fixture");
  if (!status.ok()) ADD_FAILURE() << "cannot import the fixture: " << status.message;
  m_session = std::make_unique<kx::kxqhost::StoreHostSession>(*m_store);
  m_session->SetHandlerTest(
      [](const std::u16string& handler) { return handler == u"KXDBDatasheetSvcs.Main"; });
  m_host.SetStoreSession(m_session.get());
  IKXQSchemaPtr schema;
  IKXQTemplateLibraryPtr library;
  (void)database()->get_Schema(&schema);
  (void)database()->get_TemplateLibrary(&library);
  app().SetStore(database(), schema, library);
  IKXQProjectPtr root;
  (void)database()->get_RootProject(&root);
  app().SetProjects(root, root);
  IKXQDataService* service = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
    ADD_FAILURE() << "cannot create Main";
  }
  m_service = kx::host::Ref<IKXQDataService>::Adopt(service);
  if (FAILED(m_host.Attach(m_service.get()))) ADD_FAILURE() << "cannot attach Main";
}

TriggersHost::~TriggersHost() {
  m_host.Detach();
  m_host.SetStoreSession(nullptr);
  m_service = nullptr;
  m_session.reset();
  SetErrorInfo(0, nullptr);
}

Main& TriggersHost::main() const {
  return *static_cast<Main*>(static_cast<IKXQDataServiceImpl<Main>*>(m_service.get()));
}

IKXQObjectPtr TriggersHost::Object(LONG id) const {
  IKXQObjectPtr object;
  if (FAILED(database()->get_Object(id, &object))) ADD_FAILURE() << "no object " << id;
  return object;
}

_com_ptr_t<IKXQTrigger> TriggersHost::Trigger(LONG id, const char16_t* name) const {
  _com_ptr_t<IKXQTrigger> trigger;
  if (FAILED(Object(id)->get_Trigger(_bstr_t(name), &trigger))) ADD_FAILURE() << "no trigger";
  return trigger;
}

kx::host::CallResult TriggersHost::Set(LONG id, const char16_t* attribute, const char16_t* value,
                                       LONG position) {
  if (FAILED(m_session->BeginHostChange())) ADD_FAILURE() << "cannot begin a change";
  IKXQAttributePtr held;
  (void)Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held);
  if (!held) ADD_FAILURE() << "no attribute";
  const _variant_t at = position > 0 ? _variant_t(position) : _variant_t();
  if (held && FAILED(held->PutValue(at, _variant_t(), _variant_t(value)))) {
    ADD_FAILURE() << "cannot set the value";
  }
  kx::host::CallResult result = m_host.DatabaseEvent(-1, nullptr, _variant_t());
  m_session->AbandonHostChange();
  return result;
}

std::string TriggersHost::Text(LONG id, const char16_t* attribute, LONG position) const {
  IKXQAttributePtr held;
  (void)Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held);
  _variant_t value;
  if (held) {
    (void)held->GetValue(position > 0 ? _variant_t(position) : _variant_t(), _variant_t(),
                         value.GetAddress());
  }
  return value.vt == VT_BSTR ? Narrow(value.bstrVal) : std::string();
}

std::string TriggersHost::Delivered() const {
  std::string lines;
  for (const std::string& line : m_session->delivered()) lines += line + "\n";
  return lines;
}

std::string Narrow(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

}  // namespace triggerstest
