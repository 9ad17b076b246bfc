// The fixture importer: a malformed fixture fails with its file, line and a
// clear message, and imports nothing.
#include <sys/stat.h>
#include <thread>

#include "store/internal/fixture_reader.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

struct BadFixture {
  const char* name;
  const char* xml;
  long line;
  const char* message;  // a part of the expected message
};

const BadFixture kBad[] = {
    {"syntax", "<store>\n<schema>\n<class name='A'>\n</schema>\n</store>", 4, "mismatched tag"},
    {"truncated", "<store>\n<schema>\n", 3, "no element found"},
    {"root", "<plant/>", 1, "root element must be <store>"},
    {"doctype", "<!DOCTYPE store [<!ENTITY x 'y'>]>\n<store/>", 1, "document type declaration"},
    {"unknown element", "<store>\n<schema>\n<klass name='A'/>\n</schema>\n</store>", 3,
     "unexpected element <klass>"},
    {"missing name", "<store>\n<schema>\n<class/>\n</schema>\n</store>", 3,
     "needs the attribute \"name\""},
    {"bad type",
     "<store><schema>\n<class name='A'><attribute name='x' "
     "type='float'/></class>\n</schema></store>",
     2, "unknown data type \"float\""},
    {"unknown base", "<store><schema>\n<class name='A' base='Nope'/>\n</schema></store>", 2,
     "Unknown base class"},
    {"twice", "<store><schema>\n<class name='A'/>\n<class name='a'/>\n</schema></store>", 3,
     "defined twice"},
    {"attribute twice",
     "<store><schema>\n<class name='A'><attribute name='x'/>\n<attribute name='y'/>\n"
     "<attribute name='X'/></class>\n</schema></store>",
     4, "Attribute \"X\" is defined twice on class \"A\""},
    {"unknown class of object",
     "<store><schema><class name='A'/></schema>\n<objects>\n<object id='5' "
     "class='B'/>\n</objects></store>",
     3, "unknown class \"B\""},
    {"unknown attribute",
     "<store><schema><class name='A'/></schema>\n<objects><object id='5' class='A'>\n<value "
     "attribute='Tag'>x</value>"
     "</object></objects></store>",
     3, "has no attribute \"Tag\""},
    {"bad integer",
     "<store><schema><class name='A'><attribute name='N' "
     "type='integer'/></class></schema>\n<objects>"
     "<object id='5' class='A'>\n\n<value attribute='N'>12abc</value></object></objects></store>",
     4, "not an integer"},
    {"dangling reference",
     "<store><schema><class name='A'><attribute name='R' "
     "type='object'/></class></schema>\n<objects>"
     "<object id='5' class='A'>\n<value attribute='R' ref='99'/></object></objects></store>",
     3, "no object with id 99"},
    {"bad unit",
     "<store><schema><class name='A'><attribute name='L' type='real' "
     "dimension='Span'/></class></schema>"
     "<units><dimension name='Span'><unit name='sp'/></dimension></units>\n<objects><object id='5' "
     "class='A'>\n"
     "<value attribute='L' unit='kg'>1</value></object></objects></store>",
     3, "\"kg\" is not a unit of dimension \"Span\""},
    {"bad checknum", "<store><templates>\n<template id='T' checknum='v2'/>\n</templates></store>",
     2, "checknum is a decimal number"},
    {"bad position",
     "<store><schema><class name='A'><attribute name='L' type='text' "
     "list='true'/></class></schema>\n<objects>"
     "<object id='5' class='A'>\n<value attribute='L' "
     "position='0'>x</value></object></objects></store>",
     3, "positions count from 1"},
    {"duplicate id",
     "<store><schema><class name='A'/></schema><objects>\n<object id='5' class='A'/>\n"
     "<object id='5' class='A'/></objects></store>",
     3, "is taken"},
    {"invalid utf8", "<store><schema>\n<class name='\xc3\x28'/></schema></store>", 2,
     "not well-formed"},
    {"owns itself",
     "<store><schema><class name='A'/></schema><objects>\n<object id='5' class='A' owner='5'/>"
     "</objects></store>",
     2, "ownership cycle"},
    {"ownership cycle",
     "<store><schema><class name='A'/></schema><objects>\n<object id='5' class='A' owner='6'/>\n"
     "<object id='6' class='A' owner='5'/></objects></store>",
     3, "ownership cycle"},
    {"node index at the top of the range",
     "<store><templates><template id='T'><page id='P'>\n<node name='N' index='2147483647'/>"
     "</page></template></templates></store>",
     2, "node index"},
    {"negative node index",
     "<store><templates><template id='T'><page id='P'>\n<node name='N' index='-1'/>"
     "</page></template></templates></store>",
     2, "node index"},
    {"trigger twice",
     "<store><schema><class name='A'/></schema><objects><object id='5' class='A'>"
     "<trigger name='Field' handler='X'/>\n<trigger name='Field' "
     "handler='Y'/></object></objects></store>",
     2, "has a trigger \"Field\" already"},
    {"root project other than 1",
     "<store><projects>\n<project id='7'><project id='8'/></project></projects></store>", 2,
     "root project has id 1"},
    // An inverse list is kept by the store: padding it is refused, even when
    // it holds that many values already.
    {"padding a computed list",
     "<store><schema><class name='A'><attribute name='R' type='object' list='true'/>"
     "<attribute name='Back' type='object' list='true' inverse='R'/></class></schema><objects>"
     "<object id='5' class='A'><value attribute='R' ref='6'/></object><object id='6' class='A'>\n"
     "<value attribute='Back' empty='true'/></object></objects></store>",
     2, "is kept by the store from \"R\""},
    {"integer method answering text",
     "<store><schema><class name='A'/>\n<method name='M' returns='integer' "
     "result='many'/></schema></store>",
     2, "not an integer"},
};

TEST(FixtureTest, MalformedFixturesFailWithFileLineAndMessageAndImportNothing) {
  for (const BadFixture& bad : kBad) {
    SCOPED_TRACE(bad.name);
    TempDir dir;
    auto s = OpenPlant(dir.File("s.kxq"));
    ASSERT_TRUE(s);
    long before = s->ObjectCount();
    std::string xml = bad.xml;
    Status st = s->ImportFixtureText(xml, "bad.xml");
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.hr, E_INVALIDARG);
    const std::string prefix = "bad.xml:" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(st.message.rfind(prefix, 0), 0u) << st.message;
    EXPECT_NE(st.message.find(bad.message), std::string::npos) << st.message;
    EXPECT_EQ(s->ObjectCount(), before);
    _com_ptr_t<IKXQSchema> schema;
    s->Database()->get_Schema(&schema);
    _com_ptr_t<IKXQClass> a;
    schema->get_Class(_bstr_t(u"A"), &a);
    EXPECT_EQ(a.GetInterfacePtr(), nullptr);
    EXPECT_FALSE(s->InTransaction());
  }
}

TEST(FixtureTest, AFailureLateInTheFileUndoesTheEarlierParts) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &s).ok());
    std::string xml = kPlantFixture;
    xml.replace(xml.find("<value attribute=\"Tag\">P-102</value>"), 36,
                "<value attribute=\"Tag\" ref=\"1\" position=\"2\">x</value>");
    Status st = s->ImportFixtureText(xml, "plant.xml");
    ASSERT_FALSE(st.ok());
    EXPECT_NE(st.message.find("holds a single value"), std::string::npos) << st.message;
    EXPECT_EQ(s->ObjectCount(), 0);
    _com_ptr_t<IKXQTemplateLibrary> lib;
    s->Database()->get_TemplateLibrary(&lib);
    LONG n = -1;
    lib->get_Count(&n);
    EXPECT_EQ(n, 0);
    // The same store takes the good fixture afterwards.
    EXPECT_TRUE(s->ImportFixtureText(kPlantFixture, "plant.xml").ok());
  }
  auto s = Reopen(path);
  EXPECT_EQ(s->ObjectCount(), 5);
}

TEST(FixtureTest, ADenyRefusesThePrivilegeOnTheObjectUntilGrantedAgain) {
  std::unique_ptr<Store> s;
  ASSERT_TRUE(Store::Open(":memory:", OpenMode::kCreate, &s).ok());
  const Status imported = s->ImportFixtureText(
      "<store><schema><class name='A'/></schema><objects>"
      "<object id='5' class='A'><deny privilege='CheckDocument' place='Area 100'/></object>"
      "<object id='6' class='A'/></objects></store>",
      "deny");
  ASSERT_TRUE(imported.ok()) << imported.message;
  auto allowed = [&](LONG id, const char16_t* privilege, std::u16string* place) {
    VARIANT_BOOL flag = VARIANT_FALSE;
    BSTR where = nullptr;
    EXPECT_EQ(Obj(*s, id)->CheckPrivilege(_bstr_t(u"Owner"), _bstr_t(privilege), &flag, &where),
              S_OK);
    *place = where ? std::u16string(where) : u"";
    SysFreeString(where);
    return flag == VARIANT_TRUE;
  };
  std::u16string place;
  EXPECT_FALSE(allowed(5, u"CheckDocument", &place));
  EXPECT_EQ(place, u"Area 100");
  EXPECT_TRUE(allowed(5, u"IssueDocument", &place));
  EXPECT_TRUE(allowed(6, u"CheckDocument", &place));
  ASSERT_TRUE(s->DenyPrivilege(6, u"IssueDocument", u"Plant").ok());
  EXPECT_FALSE(allowed(6, u"IssueDocument", &place));
  ASSERT_TRUE(s->DenyPrivilege(5, u"CheckDocument", u"").ok());
  EXPECT_TRUE(allowed(5, u"CheckDocument", &place));
  EXPECT_FALSE(s->DenyPrivilege(99, u"CheckDocument", u"x").ok()) << "no such object";
}

TEST(FixtureTest, ImportFromAFile) {
  TempDir dir;
  std::unique_ptr<Store> s;
  ASSERT_TRUE(Store::Open(dir.File("s.kxq"), OpenMode::kCreate, &s).ok());
  Status missing = s->ImportFixtureFile(dir.File("none.xml"));
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message.find("none.xml"), std::string::npos);
  FILE* f = std::fopen(dir.File("plant.xml").c_str(), "w");
  std::fputs(kPlantFixture, f);
  std::fclose(f);
  Status ok = s->ImportFixtureFile(dir.File("plant.xml"));
  EXPECT_TRUE(ok.ok()) << ok.message;
  EXPECT_EQ(s->ObjectCount(), 5);
  // A pipe, which cannot be read twice, is read whole first.
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  std::thread writer([&] {
    FILE* pipe = std::fopen(dir.File("pipe").c_str(), "w");
    std::fputs("<store><objects><object id='40' class='Pump'/></objects></store>", pipe);
    std::fclose(pipe);
  });
  const Status piped = s->ImportFixtureFile(dir.File("pipe"));
  writer.join();
  EXPECT_TRUE(piped.ok()) << piped.message;
  EXPECT_EQ(s->ObjectCount(), 6);
}

TEST(FixtureTest, ATemplateWithSlashAndGreaterThanInAnAttributeSurvivesReopening) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &s).ok());
    Status st = s->ImportFixtureText(
        "<store><templates><template id='T' name='A/>B'/><template id='U'><page "
        "id='P'/></template></templates>"
        "</store>",
        "t.xml");
    ASSERT_TRUE(st.ok()) << st.message;
  }
  std::unique_ptr<Store> s;
  Status st = Store::Open(path, OpenMode::kOpenExisting, &s);
  ASSERT_TRUE(st.ok()) << st.message;
  _com_ptr_t<IKXQTemplateLibrary> lib;
  s->Database()->get_TemplateLibrary(&lib);
  _com_ptr_t<IKXQTemplate> t;
  ASSERT_EQ(lib->GetTemplate(_bstr_t(u"T"), _variant_t(), &t), S_OK);
  ASSERT_TRUE(t);
  _bstr_t name;
  t->get_Name(name.GetAddress());
  EXPECT_EQ(std::u16string(name), u"A/>B");
}

TEST(FixtureTest, TheDefaultBaseUnitOfADimensionSurvivesReopening) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  const char xml[] =
      "<store><schema><class name='A'><attribute name='L' type='real' "
      "dimension='Span'/></class></schema>"
      "<units><dimension name='Span'><unit name='sp'/><unit name='hs' "
      "factor='0.5'/></dimension></units>"
      "<objects><object id='5' class='A'/></objects></store>";
  auto unitText = [](Store& s) {
    _bstr_t unit;
    EXPECT_EQ(Attr(Obj(s, 5), u"L")->get_UnitText(_variant_t(), unit.GetAddress()), S_OK);
    return std::u16string(unit);
  };
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &s).ok());
    ASSERT_TRUE(s->ImportFixtureText(xml, "u.xml").ok());
    EXPECT_EQ(unitText(*s), u"sp");
  }
  auto s = Reopen(path);
  EXPECT_EQ(unitText(*s), u"sp");
}

TEST(FixtureTest, TemplateFoldersAreStoredAndAFailedImportLeavesThem) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  auto folder = [](Store& s) {
    _com_ptr_t<IKXQTemplateLibrary> lib;
    s.Database()->get_TemplateLibrary(&lib);
    _bstr_t f;
    lib->get_TemplatesFolder(f.GetAddress());
    return std::u16string(f);
  };
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &s).ok());
    ASSERT_TRUE(
        s->ImportFixtureText("<store><templates folder='Sheets' bitmaps='Pics'/></store>", "a.xml")
            .ok());
    EXPECT_EQ(folder(*s), u"Sheets");
    EXPECT_FALSE(s->ImportFixtureText(
                      "<store><templates folder='Other'/><objects><object class='Nope'/></objects>"
                      "</store>",
                      "b.xml")
                     .ok());
    EXPECT_EQ(folder(*s), u"Sheets");
  }
  auto s = Reopen(path);
  EXPECT_EQ(folder(*s), u"Sheets");
  _com_ptr_t<IKXQTemplateLibrary> lib;
  s->Database()->get_TemplateLibrary(&lib);
  _bstr_t b;
  lib->get_BitmapFolder(b.GetAddress());
  EXPECT_EQ(std::u16string(b), u"Pics");
}

TEST(FixtureTest, AFixtureCannotTakeTheIdOfADeletedObject) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  auto s = OpenPlant(path);
  _com_ptr_t<IKXQObject> pump = Obj(*s, 21);
  ASSERT_EQ(pump->Delete(), S_OK);
  Status st = s->ImportFixtureText(
      "<store><objects>\n<object id='21' class='Pump'/></objects></store>", "again.xml");
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message.find("again.xml:2: "), std::string::npos) << st.message;
  _com_ptr_t<IKXQClass> cls;
  EXPECT_EQ(pump->get_Class(&cls), KXQ_E_DELETED);
  _com_ptr_t<IKXQObject> none;
  EXPECT_EQ(s->Database()->get_Object(21, &none), KXQ_E_NOOBJECT);
  // After reopening the deleted id is still not taken again.
  s.reset();
  s = Reopen(path);
  EXPECT_FALSE(s->ImportFixtureText(
                    "<store><objects><object id='21' class='Pump'/></objects></store>", "x.xml")
                   .ok());
  // Fresh ids are fine.
  Status fresh = s->ImportFixtureText(
      "<store><objects><object id='500' class='Pump'/></objects></store>", "y.xml");
  EXPECT_TRUE(fresh.ok()) << fresh.message;
}

void WriteFile(const std::string& path, const char* text) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

// A new object of class `name`, made outside any transaction.
_com_ptr_t<IKXQObject> Made(Store& s, const char16_t* name) {
  _com_ptr_t<IKXQSchema> schema;
  s.Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> cls;
  schema->get_Class(_bstr_t(name), &cls);
  _com_ptr_t<IKXQObject> made;
  EXPECT_EQ(cls->CreateInstance(&made), S_OK);
  return made;
}

LONG OwnerId(IKXQObject* o) {
  _com_ptr_t<IKXQObject> owner;
  EXPECT_EQ(o->GetOwner(&owner, 0), S_OK);
  LONG id = 0;
  if (owner) owner->get_Id(&id);
  return id;
}

// The import writes objects to the file, not through the objects the store
// has read: those it changes are read again, in place.
TEST(FixtureTest, ObjectsReadBeforeAnImportShowWhatItMadeOfThem) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  _com_ptr_t<IKXQObject> page = Made(*s, u"Page");  // 22, without an owner
  ASSERT_TRUE(s->Begin().ok());
  _com_ptr_t<IKXQObject> undone = Made(*s, u"Pump");  // 23, its creation undone
  ASSERT_TRUE(s->Rollback().ok());
  _com_ptr_t<IKXQClass> cls;
  ASSERT_EQ(undone->get_Class(&cls), KXQ_E_DELETED);
  SetErrorInfo(0, nullptr);
  const Status st = s->ImportFixtureText(
      "<store><objects><object id='23' class='Datasheet'>"
      "<value attribute='CurrentPages' ref='22'/></object></objects></store>",
      "more.xml");
  ASSERT_TRUE(st.ok()) << st.message;
  ASSERT_EQ(undone->get_Class(&cls), S_OK);
  _bstr_t name;
  cls->get_Name(name.GetAddress());
  EXPECT_EQ(std::u16string(name), u"Datasheet");
  EXPECT_EQ(OwnerId(page), 23);
  _bstr_t holding;
  ASSERT_EQ(page->get_HoldingAttributeName(holding.GetAddress()), S_OK);
  EXPECT_EQ(std::u16string(holding), u"CurrentPages");
  EXPECT_EQ(IdOf(Get(Attr(undone, u"CurrentPages"), 1)), 22);
}

// A file is read in passes: sections in any order, several sections of
// objects each made before any of its objects is filled, references to
// objects further on, and each template's text as written.
TEST(FixtureTest, AFileOfSectionsInAnyOrderImportsAsTheModelWould) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  WriteFile(dir.File("f.xml"),
            "<store><objects>\n"
            "<object id='5' class='Doc'><value attribute='Pages' ref='7'/>"
            "<value attribute='Pages' ref='6'/><value attribute='Pages' ref='5'/></object>\n"
            "<object id='6' class='Sheet' owner='7'/><object class='Sheet'/></objects>\n"
            "<templates><template id='T' name='a &amp; b'><page id='P'/></template></templates>"
            "<objects><object class='Doc'><value attribute='Pages' ref='6'/></object></objects>"
            "<schema><class name='Doc'><attribute name='Pages' type='object' list='true' "
            "collection='true'/></class><class name='Sheet'/></schema></store>");
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &s).ok());
    const Status st = s->ImportFixtureFile(dir.File("f.xml"));
    ASSERT_TRUE(st.ok()) << st.message;
  }
  auto s = Reopen(path);
  // 7 took the first id free; the first collection that holds a sheet
  // without an owner becomes it; 5 holds itself and stays without one.
  EXPECT_EQ(OwnerId(Obj(*s, 7)), 5);
  EXPECT_EQ(OwnerId(Obj(*s, 6)), 7);
  EXPECT_EQ(OwnerId(Obj(*s, 5)), 0);
  _bstr_t holding;
  ASSERT_EQ(Obj(*s, 6)->get_HoldingAttributeName(holding.GetAddress()), S_OK);
  EXPECT_EQ(std::u16string(holding), u"Pages");
  EXPECT_EQ(Count(Attr(Obj(*s, 8), u"Pages")), 1);
  _com_ptr_t<IKXQTemplateLibrary> lib;
  s->Database()->get_TemplateLibrary(&lib);
  _com_ptr_t<IKXQTemplate> t;
  ASSERT_EQ(lib->GetTemplate(_bstr_t(u"T"), _variant_t(), &t), S_OK);
  ASSERT_TRUE(t);
  _bstr_t name;
  t->get_Name(name.GetAddress());
  EXPECT_EQ(std::u16string(name), u"a & b");
}

// The first reading of a file keeps the <objects> section without what it
// holds, the white space between the objects too: that grows with the
// plant, which the import reads one object at a time.
TEST(FixtureTest, AnElementKeptWithoutItsChildrenKeepsNoneOfItsText) {
  struct Sections final : PassHandler {
    Take Start(const Element& e, int depth) override {
      return depth == 1 && e.name == "objects" ? Take::kShallow : Take::kKeep;
    }
    void Done(std::unique_ptr<Element>) override {}
  } sections;
  const std::string xml =
      "<store><cases>\n <case id='1'>x</case>\n</cases><objects>\n  <object class='A'/>\n  "
      "<object class='A'>t</object>\n</objects></store>";
  const std::unique_ptr<FixtureSource> source = FixtureSource::Text(xml);
  std::unique_ptr<Element> root;
  long line = 0;
  std::string error;
  ASSERT_TRUE(Walk(*source, sections, &root, &line, &error)) << error;
  ASSERT_EQ(root->children.size(), 2u);
  const Element& cases = *root->children[0];
  ASSERT_EQ(cases.children.size(), 1u);
  EXPECT_EQ(cases.children[0]->text, "x");
  EXPECT_EQ(cases.text, "\n \n");
  const Element& objects = *root->children[1];
  EXPECT_EQ(objects.name, "objects");
  EXPECT_TRUE(objects.children.empty());
  EXPECT_EQ(objects.text, "");
}

// The parser reads a start tag it could not finish again from its start
// with each piece it is given: an attribute of 8 MiB read 64 KiB at a time
// was read 128 times over (a 100 MB one did not finish in minutes). The
// pieces grow with what it holds, so that it is handed a few of them.
TEST(FixtureTest, ALongStartTagIsReadInAFewPieces) {
  struct Whole final : PassHandler {
    Take Start(const Element&, int) override { return Take::kKeep; }
    void Done(std::unique_ptr<Element>) override {}
  } whole;
  const std::string long_text(8u << 20, 'x');
  const std::string xml =
      "<store><schema><class name='A' description='" + long_text + "'/></schema></store>";
  const std::unique_ptr<FixtureSource> source = FixtureSource::Text(xml);
  std::unique_ptr<Element> root;
  long line = 0, pieces = 0;
  std::string error;
  ASSERT_TRUE(Walk(*source, whole, &root, &line, &error, &pieces)) << error;
  EXPECT_EQ(*root->children.at(0)->children.at(0)->Attr("description"), long_text);
  EXPECT_LE(pieces, 12);
}

TEST(FixtureTest, ImportInsideATransactionIsRefused) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  ASSERT_TRUE(s->Begin().ok());
  EXPECT_EQ(s->ImportFixtureText("<store/>", "x.xml").hr, KXQ_E_TRANSACTION);
  ASSERT_TRUE(s->Rollback().ok());
}

}  // namespace
}  // namespace kx::store::test
