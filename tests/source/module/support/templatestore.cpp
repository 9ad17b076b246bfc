#include "templatestore.h"

#include <fstream>
#include <gtest/gtest.h>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "moduletestsupport.h"
#include "storexml.h"

namespace kx::test::inprocess {

namespace fs = std::filesystem;

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return R"XML(  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Pump" base="GenericClass"/>
  <class name="Vessel" base="GenericClass"/>
  <class name="GlobalsClass" base="GenericClass"/>
  <class name="Template" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="Checknum"/>
   <attribute name="ExcelFile" type="binary"/>
  </class>
)XML" + Class("Page", "", "TemplateId PageId Checknum PageNumber NodeObjects NodeIndices") +
         Class("Datasheet", "GenericClass",
               "TemplateId NumberOfPages CurrentPages SubmittedPages CheckedPages IssuedPages");
}

std::string Sections() {
  return R"XML( <templates folder="" bitmaps="">
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
)XML";
}

const std::string kTemplateFixture =
    StoreText(Classes(), Sections(),
              {
                  Object(1, "GlobalsClass", Value("Name", "Plant")),
                  Object(100, "Pump", Value("Name", "P-100")),
                  Object(101, "Pump", Value("Name", "P-101")),
                  Object(200, "Vessel", Value("Name", "V-200")),
                  Object(900, "Template", Value("TemplateId", "PUMP") + Value("Checknum", "2")),
                  Object(901, "Template", Value("TemplateId", "pump-b") + Value("Checknum", "1")),
                  Object(902, "Template", Value("TemplateId", "VES")),
                  Object(903, "Template", Value("TemplateId", "LIST") + Value("Checknum", "1")),
                  Datasheet(1000, "PUMP", {1001, 1002}),
                  Page(1001, 1000, "PUMP", "P1", "2", 1,
                       Refs("NodeObjects", {100}) + Value("NodeIndices", "1")),
                  Page(1002, 1000, "PUMP", "P2", "2", 2),
                  Datasheet(2000, "LIST", {2001}),
                  Page(2001, 2000, "LIST", "L1", ""),
                  Datasheet(3000, "PLAINSUM", {3001}),
                  Page(3001, 3000, "PLAINSUM", "S1", ""),
                  Datasheet(4000, "NOCLASS", {4001}),
                  Page(4001, 4000, "NOCLASS", "N1", ""),
              });

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TemplateStore::TemplateStore()
    : TestHost(kTemplateFixture, kx::test::Projects::kNone, "templates") {
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

}  // namespace kx::test::inprocess
