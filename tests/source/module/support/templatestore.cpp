#include "templatestore.h"

#include <fstream>
#include <gtest/gtest.h>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "moduletestsupport.h"

namespace moduletest {

namespace fs = std::filesystem;

namespace {

const char kTemplateFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Pump" base="GenericClass"/>
  <class name="Vessel" base="GenericClass"/>
  <class name="GlobalsClass" base="GenericClass"/>
  <class name="Template" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="ExcelFile" type="binary"/>
  </class>
  <class name="Page">
   <attribute name="TemplateId"/>
   <attribute name="PageId"/>
   <attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
  </class>
  <class name="Datasheet" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="SubmittedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="CheckedPages" type="object" list="true" collection="true" class="Page"/>
   <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
  </class>
 </schema>
 <templates folder="" bitmaps="">
  <template id="PUMP" checknum="1" name="Pump sheet" kind="Datasheet" category="Rotating"
            path="Rotating\pump.xls" classes="Pump">
   <page id="P1" name="Process %d"><node name="Pump" index="0" classes="Pump"/></page>
  </template>
  <template id="PUMP" checknum="2" name="Pump sheet" kind="Datasheet" category="Rotating"
            path="Rotating\pump.xls" classes="Pump">
   <cachedData>&lt;Template Id="PUMP" Checknum="2"/&gt;</cachedData>
   <workbook>source of PUMP 2</workbook>
   <page id="P1" name="Process %d"><node name="Pump" index="0" classes="Pump"/></page>
   <page id="P2" name=""><node name="Pump" index="0" classes="Pump"/></page>
   <page id="P3" name="Motor %s %05d of %d %%"><node name="Pump" index="0" classes="Pump"/></page>
  </template>
  <template id="pump-b" name="PUMP SHEET" kind="Datasheet" path="pumpb.xls" classes="Pump">
   <page id="B1" name="Sheet"/>
  </template>
  <template id="VES" name="b vessel" kind="Datasheet" category="Static" path="ves.xls" classes="Vessel">
   <page id="V1" name="Shell"/>
  </template>
  <template id="LIST" name="A summary list" kind="Summary" category="Lists" classes="GenericClass">
   <page id="L1" name="List %d" continuous="rows=10"/>
  </template>
  <template id="PLAINSUM" name="c plain summary" kind="Summary" classes="Pump">
   <page id="S1" name="Summary"/>
  </template>
  <template id="GEN" name="d general" kind="General" classes="Pump"><page id="X1"/></template>
  <template id="OFF" name="e off" kind="Datasheet" available="false" classes="Vessel">
   <page id="O1" name="Off"/>
  </template>
  <template id="NOCLASS" name="f no class" kind="Datasheet"><page id="N1" name="Only"/></template>
  <template id="GLOBE" name="g globals" kind="Datasheet" category="Site" classes="GlobalsClass">
   <page id="G1" name="Globals %i"/>
  </template>
  <template id="ESC" name="h escape" kind="General" path="..\secret.txt"><page id="E1"/></template>
 </templates>
 <objects>
  <object id="1" class="GlobalsClass"><value attribute="Name">Plant</value></object>
  <object id="100" class="Pump"><value attribute="Name">P-100</value></object>
  <object id="101" class="Pump"><value attribute="Name">P-101</value></object>
  <object id="200" class="Vessel"><value attribute="Name">V-200</value></object>
  <object id="900" class="Template">
   <value attribute="TemplateId">PUMP</value><value attribute="Checknum">2</value>
  </object>
  <object id="901" class="Template">
   <value attribute="TemplateId">pump-b</value><value attribute="Checknum">1</value>
  </object>
  <object id="902" class="Template"><value attribute="TemplateId">VES</value></object>
  <object id="903" class="Template">
   <value attribute="TemplateId">LIST</value><value attribute="Checknum">1</value>
  </object>
  <object id="1000" class="Datasheet">
   <value attribute="TemplateId">PUMP</value>
   <value attribute="CurrentPages" ref="1001"/>
   <value attribute="CurrentPages" ref="1002"/>
  </object>
  <object id="1001" class="Page" owner="1000">
   <value attribute="TemplateId">PUMP</value><value attribute="PageId">P1</value>
   <value attribute="Checknum">2</value><value attribute="PageNumber">1</value>
   <value attribute="NodeObjects" ref="100"/><value attribute="NodeIndices">1</value>
  </object>
  <object id="1002" class="Page" owner="1000">
   <value attribute="TemplateId">PUMP</value><value attribute="PageId">P2</value>
   <value attribute="Checknum">2</value><value attribute="PageNumber">2</value>
  </object>
  <object id="2000" class="Datasheet">
   <value attribute="TemplateId">LIST</value><value attribute="CurrentPages" ref="2001"/>
  </object>
  <object id="2001" class="Page" owner="2000">
   <value attribute="TemplateId">LIST</value><value attribute="PageId">L1</value>
  </object>
  <object id="3000" class="Datasheet">
   <value attribute="TemplateId">PLAINSUM</value><value attribute="CurrentPages" ref="3001"/>
  </object>
  <object id="3001" class="Page" owner="3000">
   <value attribute="TemplateId">PLAINSUM</value><value attribute="PageId">S1</value>
  </object>
  <object id="4000" class="Datasheet">
   <value attribute="TemplateId">NOCLASS</value><value attribute="CurrentPages" ref="4001"/>
  </object>
  <object id="4001" class="Page" owner="4000">
   <value attribute="TemplateId">NOCLASS</value><value attribute="PageId">N1</value>
  </object>
 </objects>
</store>)";

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TemplateStore::TemplateStore()
    : TestHost(kTemplateFixture, kxtest::Projects::kNone, "templates") {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = fs::path(::testing::TempDir()) /
          ("kx_templates_" + std::string(test ? test->test_suite_name() : "x") + "_" +
           std::string(test ? test->name() : "y"));
  fs::remove_all(root_);
  Write(root_ / "library" / "Rotating" / "pump.xls", "<Workbook of=\"PUMP\"/>\n");
  Write(root_ / "library" / "pumpb.xls", "pump-b workbook");
  Write(root_ / "library" / "logo.bmp", std::string("BM\0logo", 7));
  Write(root_ / "bitmaps" / "pump.bmp", std::string("BM\0\1\2", 5));
  Write(root_ / "sources" / "PUMP.qmf", std::string("QMF\0pump", 8));
  Write(root_ / "sources" / "UPPER.QMF", "upper");
  Write(root_ / "datasheets" / "notes.txt", "notes");
  Write(root_ / "secret.txt", "secret");
  fs::create_symlink("../secret.txt", root_ / "bitmaps" / "escape.bmp");
  fs::create_symlink("..", root_ / "datasheets" / "up");

  for (const char* folder : {"TemplateLibrary", "Bitmaps", "Templates", "Datasheets"}) {
    host().settings().SetFolder(kx_utf8_to_utf16_lossy(folder), Folder(folder));
  }
  AttachMain(&MainWorkers::Defaults());
}

// Main goes before the folders it may read.
TemplateStore::~TemplateStore() {
  host().Detach();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

std::u16string TemplateStore::Folder(const char* name) const {
  const std::string leaf = std::string(name) == "TemplateLibrary" ? "library"
                           : std::string(name) == "Bitmaps"       ? "bitmaps"
                           : std::string(name) == "Templates"     ? "sources"
                                                                  : "datasheets";
  return kx_utf8_to_utf16_lossy((root_ / leaf).string());
}

kx::host::RequestResult TemplateStore::Request(std::u16string_view name, std::u16string_view text) {
  app().ClearTexts();
  return host().Request(name, text);
}

std::string TemplateStore::ExcelFile(LONG id) const {
  IKXQObjectPtr record = Object(id);
  if (!record) return {};
  IKXQAttributePtr attribute;
  _variant_t none;
  if (FAILED(record->get_Attribute(_bstr_t(u"ExcelFile"), none, &attribute)) || !attribute)
    return {};
  _variant_t value;
  if (FAILED(attribute->GetValue(none, _variant_t(u"Base64"), &value)) || value.vt != VT_BSTR)
    return {};
  return kx_utf16_to_utf8_lossy(_bstr_t(value).view());
}

std::string FirstDescription(const kx::host::CallResult& result) {
  _bstr_t first(GetErrorDescription(result.error.c_str()), false);
  return kx_utf16_to_utf8_lossy(first.view());
}

}  // namespace moduletest
