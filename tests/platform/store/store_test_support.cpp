#include "store_test_support.h"

#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <stdlib.h>

#include "storexml.h"
#include "teststore.h"

namespace kx::store::test {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return Class(
             "GenericClass", "", "Name CreatedReason",
             R"(   <attribute name="DataViews" type="object" list="true" inverse="NodeObjects"/>)") +
         Class("Document", "GenericClass") +
         Class("Datasheet", "Document",
               "CurrentPages SubmittedPages CheckedPages IssuedPages NumberOfPages TemplateId "
               "Checknum DocumentName DefaultCase HasSummary") +
         Class("DataView", "Document") +
         Class("Page", "GenericClass",
               "NodeObjects NodeIndices Fields Units Revisions Cases TemplateId PageId Checknum "
               "PageNumber ScaleFactor CenterHorizontal ActivePage OverspillTo OverspillFrom") +
         R"XML(    <class name="ProcessPlantEquipment" base="GenericClass">
      <attribute name="Tag" type="text"/>
      <attribute name="Length" type="real" dimension="Length" unit="m"/>
      <attribute name="Temperature" type="real" dimension="Temperature" unit="K"/>
      <attribute name="Speed" type="integer"/>
      <attribute name="BEDDInitialized" type="boolean"/>
      <attribute name="Started" type="date"/>
      <attribute name="Drawing" type="binary"/>
      <attribute name="Readings" type="real" list="true" dimension="Length"/>
      <attribute name="Nozzles" type="object" list="true" class="Nozzle"/>
    </class>
    <class name="Nozzle" base="GenericClass">
      <attribute name="Size" type="real" dimension="Length" unit="mm"/>
    </class>
    <class name="Pump" base="ProcessPlantEquipment"/>
    <filter name="Pumps" title="All pumps" class="Pump"/>
    <filter name="TagP101" title="P-101" class="ProcessPlantEquipment" attribute="Tag" value="p-101"/>
    <sort code="CLA" title="By tag" attribute="Tag"/>
    <method class="Datasheet" name="PostIssueDocument" returns="boolean" result="true"/>
)XML";
}

std::string Sections() {
  return R"XML(  <units>
    <dimension name="Length" base="m">
      <unit name="m" display="metre"/>
      <unit name="mm" factor="0.001" display="millimetre"/>
      <unit name="ft" factor="0.3048"/>
    </dimension>
    <dimension name="Temperature" base="K">
      <unit name="K"/>
      <unit name="degC" offset="273.15"/>
    </dimension>
    <dimensionSet name="SI"><use dimension="Length" unit="m"/><use dimension="Temperature" unit="K"/></dimensionSet>
    <dimensionSet name="Imperial"><use dimension="Length" unit="ft"/></dimensionSet>
  </units>
  <projects>
    <project id="1" name="Plant"><project id="2" name="Area 100"/></project>
  </projects>
  <cases><case id="1" name="Design"/><case id="2" name="Maximum"/></cases>
  <templates folder="tpl" bitmaps="bmp">
    <template id="PUMP" checknum="3" name="Pump datasheet" kind="Datasheet" category="Rotating" classes="Pump">
      <cachedData>version three</cachedData>
      <page id="P1" name="Page 1" revisions="2">
        <node name="Pump" classes="Pump">
          <field id="10" type="Real" attribute="Length" unit="0"/>
          <field id="11" type="String" attribute="Tag"/>
          <node name="Motor" classes="ProcessPlantEquipment">
            <field id="12" type="Radio" attribute="Speed" options="Low|High"/>
          </node>
        </node>
        <unit dimension="Length" default="mm"/>
        <overspill target="P2"><pair node="Motor" attribute="Readings"/></overspill>
      </page>
      <page id="P2" name="Continuation" continuous="rows"/>
    </template>
    <template id="PUMP" checknum="2" name="Pump datasheet" kind="Datasheet">
      <cachedData>version two</cachedData>
      <page id="P1"/>
    </template>
    <template id="SUM" checknum="1" name="Summary" kind="Summary"/>
  </templates>
)XML";
}

const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Datasheet(10, "PUMP", {11, 12},
                  Value("DocumentName", "Pump datasheet P-101") + Value("NumberOfPages", "2") +
                      Refs("SubmittedPages", {12}) + Child(R"(<claim project="2"/>)") +
                      Child(R"(<user name="alice" status="1"/>)")),
        Owned(11, "Page", 10,
              Value("PageNumber", "1") + Refs("NodeObjects", {20}) + Value("NodeIndices", "1")),
        Owned(12, "Page", 10, Value("PageNumber", "2")),
        Object(
            20, "Pump",
            Value("Tag", "P-101") + Child(R"(<value attribute="Length" unit="mm">1500</value>)") +
                Child(R"(<value attribute="Temperature" unit="degC">20</value>)") +
                Value("Started", "2020-01-02") +
                Child(
                    R"(<value attribute="Speed" locked="true" status="5" prefix="~" postfix="rpm" substitution="n/a">1450</value>)")),
        Object(21, "Pump", Value("Tag", "P-102")),
    });

}  // namespace

const char* const kPlantFixture = kText.c_str();

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kxstore-XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  EXPECT_NE(made, nullptr);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::unique_ptr<Store> OpenPlant(const std::string& path) {
  return kx::test::OpenStore(kPlantFixture, "plant.xml", path, OpenMode::kOpenOrCreate);
}

std::unique_ptr<Store> Reopen(const std::string& path) {
  std::unique_ptr<Store> s;
  Status st = Store::Open(path, OpenMode::kOpenExisting, &s);
  EXPECT_TRUE(st.ok()) << st.message;
  return s;
}

_com_ptr_t<IKXQObject> Obj(Store& s, LONG id) {
  _com_ptr_t<IKXQObject> o;
  HRESULT hr = s.Database()->get_Object(id, &o);
  EXPECT_EQ(hr, S_OK) << "object " << id;
  return o;
}

_com_ptr_t<IKXQAttribute> Attr(IKXQObject* o, const char16_t* name) {
  _com_ptr_t<IKXQAttribute> a;
  _bstr_t n(name);
  HRESULT hr = o->get_Attribute(n, _variant_t(-1), &a);
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(a.GetInterfacePtr() != nullptr) << "attribute missing";
  return a;
}

_variant_t Get(IKXQAttribute* a, LONG pos, const char16_t* unit) {
  _variant_t out;
  _variant_t index = pos ? Pos(pos) : _variant_t();
  _variant_t u = unit ? _variant_t(unit) : _variant_t();
  HRESULT hr = a->GetValue(index, u, &out);
  EXPECT_EQ(hr, S_OK) << ErrorText();
  return out;
}

HRESULT Put(IKXQAttribute* a, LONG pos, const _variant_t& v, const char16_t* unit) {
  _variant_t index = pos ? Pos(pos) : _variant_t();
  _variant_t u = unit ? _variant_t(unit) : _variant_t();
  return a->PutValue(index, u, v);
}

LONG Count(IKXQAttribute* a) {
  LONG n = -1;
  EXPECT_EQ(a->get_Count(&n), S_OK);
  return n;
}

LONG IdOf(const VARIANT& v) {
  if (V_VT(&v) != VT_DISPATCH || !v.pdispVal) return 0;
  _com_ptr_t<IKXQObject> o;
  if (FAILED(v.pdispVal->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&o)))) return 0;
  LONG id = 0;
  o->get_Id(&id);
  return id;
}

std::string ErrorText() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
  BSTR desc = nullptr;
  info->GetDescription(&desc);
  std::string out = desc ? _bstr_t(desc, false).utf8() : std::string();
  info->Release();
  return out;
}

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open";
  }
  std::string out;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

void RawSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* msg = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
  sqlite3_free(msg);
  sqlite3_close(db);
}

void RawSqlLeavingLog(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  char* msg = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
  sqlite3_free(msg);
  sqlite3_close(db);
  ASSERT_GT(std::filesystem::file_size(path + "-wal"), 0u);
  std::filesystem::remove(path + "-shm");
}

std::map<std::string, std::string> FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = {std::istreambuf_iterator<char>(in), {}};
  }
  return files;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kx::store::test
