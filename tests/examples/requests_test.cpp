// The sample requests (examples/requests/): each is a request body as a
// client sends it, and names ids that exist in the sample plant with the
// kinds the message expects.
#include <cctype>
#include <expat.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "plant_check.h"

namespace kx::test::examples {
namespace {

struct Element {
  std::string name;
  std::map<std::string, std::string> attrs;
  std::vector<Element> children;
  std::string text;
  const std::string* Attr(const std::string& key) const {
    auto it = attrs.find(key);
    return it == attrs.end() ? nullptr : &it->second;
  }
};

struct Parse {
  Element root;
  std::vector<Element*> open;
};

void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto* p = static_cast<Parse*>(data);
  Element* e = &p->root;
  if (!p->open.empty()) {
    p->open.back()->children.emplace_back();
    e = &p->open.back()->children.back();
  }
  e->name = name;
  for (int k = 0; attrs[k]; k += 2) e->attrs[attrs[k]] = attrs[k + 1];
  p->open.push_back(e);
}

void XMLCALL End(void* data, const XML_Char*) { static_cast<Parse*>(data)->open.pop_back(); }

void XMLCALL Characters(void* data, const XML_Char* text, int length) {
  auto* p = static_cast<Parse*>(data);
  if (!p->open.empty()) p->open.back()->text.append(text, static_cast<size_t>(length));
}

// Parses text into *root; "" when well-formed, else expat's message.
std::string ParseXml(const std::string& text, Element* root) {
  Parse p;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &p);
  XML_SetElementHandler(parser, Start, End);
  XML_SetCharacterDataHandler(parser, Characters);
  const bool ok =
      XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
  std::string error = ok ? "" : XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  *root = std::move(p.root);
  return error;
}

// A file name starts with its message, compared without hyphens and
// without regard to case: "set-real-field.xml" and "get-template-from-db.xml"
// hold "SetRealField" and "GetTemplateFromDB".
bool NamedAfter(const std::string& file, const std::string& message) {
  std::string stem, wanted;
  for (char c : file) {
    if (c != '-') stem += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (char c : message) wanted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stem.rfind(wanted, 0) == 0;
}

bool IsInteger(const std::string* s) {
  if (!s || s->empty()) return false;
  size_t k = (*s)[0] == '-' ? 1 : 0;
  if (k == s->size()) return false;
  for (; k < s->size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>((*s)[k]))) return false;
  return true;
}

std::vector<std::string> RequestFiles() {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KX_EXAMPLES_DIR) + "/requests"))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = ImportPlant(ReadExample("plant.xml"));
    ASSERT_TRUE(store_);
    db_ = store_->Database();
  }

  // The class of object id, "" when there is none.
  std::string ClassOf(const std::string& id) { return ClassName(Object(db_, std::stol(id))); }

  // The template page of a page.
  _com_ptr_t<IKXQTemplatePage> TemplatePageOf(IKXQObject* page) {
    _com_ptr_t<IKXQTemplateLibrary> lib;
    db_->get_TemplateLibrary(&lib);
    _com_ptr_t<IKXQTemplate> t;
    lib->GetTemplate(_bstr_t(Text(page, u"TemplateId").c_str()),
                     _variant_t(Text(page, u"Checknum").c_str()), &t);
    _com_ptr_t<IKXQTemplatePage> tp;
    if (t) t->get_PageById(_bstr_t(Text(page, u"PageId").c_str()), &tp);
    return tp;
  }

  // A field message: the page exists, the field is on its template page
  // with the type the message sets, and a row index lies within the list.
  // A message on fields of a page: the page and every field it names (the
  // message's "FieldId", its children's "ID" or "FieldId") exist.
  void CheckFieldsOfPage(const Element& m) {
    ASSERT_TRUE(IsInteger(m.Attr("PageId")));
    ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
    auto tp = TemplatePageOf(Object(db_, std::stol(*m.Attr("PageId"))));
    ASSERT_TRUE(tp);
    std::vector<const std::string*> ids;
    if (m.Attr("FieldId")) ids.push_back(m.Attr("FieldId"));
    for (const Element& child : m.children)
      ids.push_back(child.Attr("ID") ? child.Attr("ID") : child.Attr("FieldId"));
    EXPECT_FALSE(ids.empty()) << "no field named";
    for (const std::string* id : ids) {
      ASSERT_TRUE(IsInteger(id));
      _variant_t number;
      _com_ptr_t<IKXQTemplateField> field;
      EXPECT_EQ(tp->GetFieldById(std::stol(*id), &number, &field), S_OK) << "no field " << *id;
    }
  }

  void CheckFieldMessage(const Element& m, const char* fieldType) {
    ASSERT_TRUE(IsInteger(m.Attr("PageId")) && IsInteger(m.Attr("FieldId")));
    ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
    ObjectPtr page = Object(db_, std::stol(*m.Attr("PageId")));
    VARIANT_BOOL copy = VARIANT_TRUE;
    page->get_IsStatusCopy(&copy);
    EXPECT_EQ(copy, VARIANT_FALSE) << "only current pages are edited";
    auto tp = TemplatePageOf(page);
    ASSERT_TRUE(tp);
    _variant_t number;
    _com_ptr_t<IKXQTemplateField> field;
    ASSERT_EQ(tp->GetFieldById(std::stol(*m.Attr("FieldId")), &number, &field), S_OK);
    _bstr_t type;
    field->get_TypeName(type.GetAddress());
    EXPECT_EQ(type.utf8(), fieldType);
    _bstr_t format;
    tp->get_ContinuousFormat(format.GetAddress());
    if (const std::string* index = m.Attr("Index")) {
      ASSERT_TRUE(IsInteger(index));
      ASSERT_GT(format.length(), 0u) << "a row index on a page that is no list";
      // Rows: the objects from the list root's position on (root node index 1).
      const LONG rows = Count(page, u"NodeObjects") - Integer(page, u"NodeIndices", 2) + 1;
      EXPECT_GE(std::stol(*index), 0);
      // The first blank row takes a new object of the class confirmed.
      EXPECT_LT(std::stol(*index), m.Attr("ConfirmedClass") ? rows + 1 : rows);
    }
    if (const std::string* published = m.Attr("Published")) {
      EXPECT_TRUE(*published == "1" || *published == "0");
    }
  }

  // A document list: each "Datasheet" names a datasheet version with pages,
  // each "Diagram" a diagram with that schematic.
  void CheckDocuments(const Element& m, bool diagrams) {
    ASSERT_FALSE(m.children.empty());
    for (const Element& d : m.children) {
      SCOPED_TRACE(d.name);
      ASSERT_TRUE(IsInteger(d.Attr("DocumentId")) && IsInteger(d.Attr("Status")));
      const LONG status = std::stol(*d.Attr("Status"));
      ASSERT_GE(status, 1);
      ASSERT_LE(status, 4);
      ObjectPtr doc = Object(db_, std::stol(*d.Attr("DocumentId")));
      if (d.name == "Datasheet") {
        ASSERT_EQ(ClassName(doc), "Datasheet");
        const char16_t* lists[] = {u"CurrentPages", u"SubmittedPages", u"CheckedPages",
                                   u"IssuedPages"};
        EXPECT_GT(Count(doc, lists[status - 1]), 0) << "no pages of status " << status;
      } else {
        ASSERT_TRUE(diagrams) << m.name << " takes no diagrams";
        ASSERT_EQ(d.name, "Diagram");
        ASSERT_EQ(ClassName(doc), "Diagram");
        const char16_t* schematics[] = {u"CurrentSchematic", u"SubmittedSchematic",
                                        u"CheckedSchematic", u"IssuedSchematic"};
        EXPECT_NE(RefId(doc, schematics[status - 1]), 0);
      }
    }
  }

  // A display-unit message: a dimension the schema knows, a unit of it, a
  // dimension set of the schema.
  bool IsDimension(const std::string& name) {
    _com_ptr_t<IKXQSchema> schema;
    db_->get_Schema(&schema);
    _com_ptr_t<IKXQDimension> dimension;
    return SUCCEEDED(schema->get_Dimension(_bstr_t(name.c_str()), &dimension)) && dimension;
  }
  bool IsUnitOf(const std::string& dimensionName, const std::string& unit) {
    _com_ptr_t<IKXQSchema> schema;
    db_->get_Schema(&schema);
    _com_ptr_t<IKXQDimension> dimension;
    if (FAILED(schema->get_Dimension(_bstr_t(dimensionName.c_str()), &dimension)) || !dimension)
      return false;
    _bstr_t display;
    return SUCCEEDED(dimension->get_UnitDisplayName(_bstr_t(unit.c_str()), display.GetAddress()));
  }
  bool IsDimensionSet(const std::string& name) {
    _com_ptr_t<IKXQSchema> schema;
    db_->get_Schema(&schema);
    SAFEARRAY* names = nullptr;
    if (FAILED(schema->get_DimensionSetNames(&names)) || names == nullptr) return false;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(names, 1, &low);
    SafeArrayGetUBound(names, 1, &high);
    bool found = false;
    for (LONG i = low; i <= high && !found; ++i) {
      BSTR item = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(names, &i, &item)))
        found = _bstr_t(item, false).utf8() == name;
    }
    SafeArrayDestroy(names);
    return found;
  }

  // A page message: the pages it names are current pages of the datasheet
  // that "TargetId" names; new pages name a template page of the library.
  void CheckPageMessage(const std::string& target, const Element& m) {
    ASSERT_TRUE(IsInteger(&target));
    ASSERT_EQ(ClassOf(target), "Datasheet");
    ObjectPtr datasheet = Object(db_, std::stol(target));
    for (const char* name : {"PageId", "MovePageId"}) {
      const std::string* id = m.Attr(name);
      if (id == nullptr) continue;
      ASSERT_TRUE(IsInteger(id)) << name;
      ObjectPtr page = Object(db_, std::stol(*id));
      ASSERT_EQ(ClassName(page), "Page") << name;
      EXPECT_EQ(Text(page, u"TemplateId").empty(), false);
      bool held = false;
      for (LONG k = 1; k <= Count(datasheet, u"CurrentPages"); ++k) {
        held = held || RefId(datasheet, u"CurrentPages", k) == std::stol(*id);
      }
      EXPECT_TRUE(held) << name << " " << *id << " is no current page of " << target;
    }
    for (const Element& page : m.children) {
      ASSERT_EQ(page.name, "Page");
      ASSERT_TRUE(page.Attr("TemplateId") && page.Attr("TemplatePageId"));
      _com_ptr_t<IKXQTemplateLibrary> lib;
      db_->get_TemplateLibrary(&lib);
      _com_ptr_t<IKXQTemplate> t;
      lib->GetTemplate(_bstr_t(page.Attr("TemplateId")->c_str()), _variant_t(), &t);
      ASSERT_TRUE(t) << *page.Attr("TemplateId");
      _com_ptr_t<IKXQTemplatePage> tp;
      t->get_PageById(_bstr_t(page.Attr("TemplatePageId")->c_str()), &tp);
      EXPECT_TRUE(tp) << *page.Attr("TemplatePageId");
      if (const std::string* object = page.Attr("ObjectId")) {
        ASSERT_TRUE(IsInteger(object));
      }
    }
  }

  // Whether the library holds template `id` (of version `checknum` unless
  // that is empty).
  bool HasTemplate(const std::string& id, const std::string& checknum) {
    _com_ptr_t<IKXQTemplateLibrary> lib;
    db_->get_TemplateLibrary(&lib);
    _com_ptr_t<IKXQTemplate> t;
    lib->GetTemplate(_bstr_t(id.c_str()), _variant_t(), &t);
    if (!t || checknum.empty()) return bool(t);
    _variant_t version(_bstr_t(checknum.c_str()));
    lib->GetTemplate(_bstr_t(id.c_str()), version, &t);
    _bstr_t found;
    t->get_Checknum(found.GetAddress());
    return found.utf8() == checknum;
  }

  // A catalogue listing by object or template: text elements naming
  // objects of the plant or templates of its library.
  void CheckCatalogueListing(const Element& m) {
    ASSERT_FALSE(m.children.empty());
    for (const Element& e : m.children) {
      if (e.name == "TemplateId") {
        EXPECT_TRUE(HasTemplate(e.text, "")) << e.text;
        continue;
      }
      ASSERT_EQ(e.name, "ObjectId");
      ASSERT_TRUE(IsInteger(&e.text));
      EXPECT_NE(ClassOf(e.text), "");
    }
  }

  std::unique_ptr<store::Store> store_;
  IKXQDatabase* db_ = nullptr;
};

TEST_F(RequestsTest, EachXmlRequestIsAnEnvelopeWithOneMessageNamingPlantIds) {
  std::vector<std::string> seen;
  for (const std::string& file : RequestFiles()) {
    if (file.size() < 4 || file.substr(file.size() - 4) != ".xml") continue;
    SCOPED_TRACE(file);
    Element root;
    ASSERT_EQ(ParseXml(ReadExample("requests/" + file), &root), "");
    ASSERT_EQ(root.name, "XMLMessage");
    ASSERT_TRUE(root.Attr("TargetId"));
    ASSERT_EQ(root.children.size(), 1u);
    const Element& m = root.children[0];
    // The two file-from-database grammars have no "Status".
    if (m.name != "GetTemplateFromDB" && m.name != "GetSourceFromDB") {
      ASSERT_TRUE(IsInteger(root.Attr("Status")));
    }
    EXPECT_TRUE(NamedAfter(file, m.name)) << "the file is named after its message " << m.name;
    seen.push_back(m.name);
    if (m.name == "SetRealField") {
      CheckFieldMessage(m, "Real");
      EXPECT_EQ(*root.Attr("Status"), "1");
    } else if (m.name == "SetStringField") {
      CheckFieldMessage(m, "String");
      EXPECT_EQ(*root.Attr("Status"), "1");
    } else if (m.name == "SetIntegerField" || m.name == "SetDateField" ||
               m.name == "SetBoolField" || m.name == "SetCheckField" || m.name == "SetRadioField" ||
               m.name == "SetSketchField") {
      const std::string kind = m.name.substr(3, m.name.size() - 8);
      CheckFieldMessage(m, kind == "Bool" ? "Boolean" : kind.c_str());
      EXPECT_EQ(*root.Attr("Status"), "1");
    } else if (m.name == "SetQualifier") {
      ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      auto tp = TemplatePageOf(Object(db_, std::stol(*m.Attr("PageId"))));
      ASSERT_TRUE(tp);
      SAFEARRAY* fields = nullptr;
      ASSERT_EQ(tp->GetQualifierFields(std::stol(*m.Attr("QualifierId")), &fields), S_OK);
      LONG upper = -1;
      SafeArrayGetUBound(fields, 1, &upper);
      SafeArrayDestroy(fields);
      EXPECT_GE(upper, 0) << "the qualifier qualifies no field";
      EXPECT_TRUE(IsInteger(m.Attr("Value")));
    } else if (m.name == "GetUnits" || m.name == "SetUnit") {
      ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      auto tp = TemplatePageOf(Object(db_, std::stol(*m.Attr("PageId"))));
      ASSERT_TRUE(tp);
      _com_ptr_t<IKXQTemplateUnit> unit;
      ASSERT_EQ(tp->get_Unit(std::stol(*m.Attr("UnitId")), &unit), S_OK);
      if (m.name == "SetUnit") {
        SAFEARRAY* units = nullptr;
        unit->get_Units(&units);
        LONG upper = -1;
        SafeArrayGetUBound(units, 1, &upper);
        SafeArrayDestroy(units);
        EXPECT_LE(std::stol(*m.Attr("Index")), upper);
      }
    } else if (m.name == "SetAnnotation" || m.name == "MoveAnnotation") {
      ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      ObjectPtr page = Object(db_, std::stol(*m.Attr("PageId")));
      bool found = false;
      for (LONG i = 1; i <= Count(page, u"Annotations"); ++i) {
        found = found ||
                Text(page, u"Annotations", i).find("FieldId=\"" + *m.Attr("AnnotationId") + "\"") !=
                    std::string::npos;
      }
      EXPECT_TRUE(found) << "no annotation " << *m.Attr("AnnotationId");
    } else if (m.name == "CreateAnnotation") {
      ASSERT_TRUE(IsInteger(m.Attr("PageId")));
      EXPECT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      EXPECT_TRUE(IsInteger(m.Attr("X")) && IsInteger(m.Attr("Y")));
      ASSERT_TRUE(m.Attr("Value"));
      EXPECT_FALSE(m.Attr("Value")->empty());
    } else if (m.name == "InsertPages" || m.name == "MovePage" || m.name == "RenamePage" ||
               m.name == "SetPageCase" || m.name == "PageLayout") {
      CheckPageMessage(*root.Attr("TargetId"), m);
    } else if (m.name == "ListDatasheetsByObject" || m.name == "ListDiagramsByObject" ||
               m.name == "ListDatasheetsByTemplate") {
      CheckCatalogueListing(m);
    } else if (m.name == "RenameDocuments") {
      ASSERT_FALSE(m.children.empty());
      for (const Element& d : m.children) {
        ASSERT_TRUE(IsInteger(d.Attr("DocumentId")) && d.Attr("Name"));
        EXPECT_EQ(ClassOf(*d.Attr("DocumentId")), d.name);
      }
    } else if (m.name == "RecaseDocuments") {
      EXPECT_EQ(ClassOf(*root.Attr("TargetId")), "Datasheet");
      EXPECT_TRUE(IsInteger(m.Attr("CaseId")));
    } else if (m.name == "GetOptions") {
      CheckFieldMessage(m, "String");
    } else if (m.name == "CreateHold") {
      ASSERT_TRUE(m.Attr("HoldName"));
      EXPECT_FALSE(m.Attr("HoldName")->empty());
    } else if (m.name == "CloseHold") {
      ASSERT_TRUE(IsInteger(m.Attr("HoldId")));
      EXPECT_EQ(ClassOf(*m.Attr("HoldId")), "Hold");
    } else if (m.name == "GetDocumentHelp") {
      EXPECT_TRUE(m.attrs.empty());
    } else if (m.name == "GetFieldHelp") {
      EXPECT_TRUE(IsInteger(m.Attr("FieldId")));
    } else if (m.name.rfind("ListDatasheetDimension", 0) == 0 ||
               m.name.rfind("ChangeDatasheetDimension", 0) == 0) {
      EXPECT_EQ(ClassOf(*root.Attr("TargetId")), "Datasheet");
      if (m.name == "ChangeDatasheetDimensionSet") {
        ASSERT_TRUE(m.Attr("Name"));
        EXPECT_TRUE(IsDimensionSet(*m.Attr("Name")));
      } else if (m.name == "ListDatasheetDimensionUnits") {
        ASSERT_TRUE(m.Attr("Name"));
        EXPECT_TRUE(IsDimension(*m.Attr("Name")));
      } else if (m.name == "ChangeDatasheetDimensionUnit") {
        ASSERT_TRUE(m.Attr("Name") && m.Attr("UnitId"));
        EXPECT_TRUE(IsUnitOf(*m.Attr("Name"), *m.Attr("UnitId")));
      }
    } else if (m.name == "ChangeDimensionUnit") {
      ASSERT_TRUE(m.Attr("Name") && m.Attr("UnitId"));
      EXPECT_TRUE(IsUnitOf(*m.Attr("Name"), *m.Attr("UnitId")));
    } else if (m.name == "OpenDocuments" || m.name == "CloseDocuments") {
      CheckDocuments(m, true);
    } else if (m.name == "PrintDocuments" || m.name == "ExportDocuments") {
      CheckDocuments(m, false);
    } else if (m.name == "WithdrawDocuments") {
      CheckDocuments(m, true);
      for (const Element& d : m.children)
        EXPECT_NE(*d.Attr("Status"), "1") << "the current version stays";
    } else if (m.name == "SubmitDocuments" || m.name == "CheckDocuments" ||
               m.name == "IssueDocuments") {
      // Documents of the workflow; a submit that is not confirmed only asks.
      ASSERT_FALSE(m.children.empty());
      for (const Element& d : m.children) {
        ASSERT_TRUE(IsInteger(d.Attr("DocumentId")));
        EXPECT_EQ(ClassOf(*d.Attr("DocumentId")), d.name);
      }
      if (m.name == "SubmitDocuments") {
        EXPECT_TRUE(m.Attr("Confirmed") && *m.Attr("Confirmed") == "1");
      }
      if (m.name == "IssueDocuments") {
        EXPECT_TRUE(m.Attr("Revision") && !m.Attr("Revision")->empty());
      }
    } else if (m.name == "MakeSummaryProjectWide") {
      // A summary sheet: its template is a summary template.
      EXPECT_TRUE(m.attrs.empty() && m.children.empty());
      ASSERT_TRUE(IsInteger(root.Attr("TargetId")));
      ASSERT_EQ(ClassOf(*root.Attr("TargetId")), "Datasheet");
      ObjectPtr sheet = Object(db_, std::stol(*root.Attr("TargetId")));
      EXPECT_EQ(Text(sheet, u"TemplateId"), "EQ-SUMMARY");
    } else if (m.name == "CompareDocuments") {
      ASSERT_EQ(m.children.size(), 2u);
      for (const Element& d : m.children) {
        const std::string n = d.name == "Datasheet1" ? "1" : "2";
        ASSERT_TRUE(IsInteger(d.Attr("DocumentId" + n)) && IsInteger(d.Attr("Status" + n)));
        EXPECT_EQ(ClassOf(*d.Attr("DocumentId" + n)), "Datasheet");
      }
    } else if (m.name == "CreateDocuments") {
      ASSERT_FALSE(m.children.empty());
      for (const Element& d : m.children) {
        if (d.name == "Datasheet") {
          ASSERT_TRUE(d.Attr("TemplateId"));
          EXPECT_TRUE(HasTemplate(*d.Attr("TemplateId"), ""));
          if (d.Attr("ObjectId")) {
            EXPECT_NE(ClassOf(*d.Attr("ObjectId")), "");
          }
        } else {
          EXPECT_EQ(d.name, "Diagram");
          EXPECT_TRUE(d.Attr("Name"));
        }
      }
    } else if (m.name == "UpdateTemplates") {
      ASSERT_FALSE(m.children.empty());
      for (const Element& d : m.children) {
        ASSERT_TRUE(IsInteger(&d.text));
        EXPECT_EQ(ClassOf(d.text), "Datasheet");
      }
    } else if (m.name == "ComparePages") {
      ASSERT_TRUE(IsInteger(m.Attr("PageId")));
      EXPECT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      ASSERT_TRUE(IsInteger(m.Attr("DocumentId2")));
      EXPECT_EQ(ClassOf(*m.Attr("DocumentId2")), "Datasheet");
      ASSERT_TRUE(IsInteger(m.Attr("Status2")));
    } else if (m.name == "GetTemplateFromDB" || m.name == "GetSourceFromDB") {
      ASSERT_TRUE(m.Attr("TemplateId") && m.Attr("Checknum"));
      EXPECT_TRUE(HasTemplate(*m.Attr("TemplateId"), *m.Attr("Checknum")));
    } else if (m.name == "ListTemplatePagesByObject") {
      ASSERT_FALSE(m.children.empty());
      for (const Element& o : m.children) {
        EXPECT_EQ(o.name, "ObjectId");
        ASSERT_TRUE(IsInteger(&o.text));
        EXPECT_NE(ClassOf(o.text), "");
      }
    } else if (m.name == "GetInfoForReport") {
      ASSERT_FALSE(m.children.empty());
      for (const Element& f : m.children) {
        EXPECT_EQ(f.name, "Field");
        ASSERT_TRUE(IsInteger(f.Attr("PageId")) && IsInteger(f.Attr("FieldId")));
        EXPECT_EQ(ClassOf(*f.Attr("PageId")), "Page");
      }
    } else if (m.name == "GetFieldProperties" || m.name == "GetFieldStatus" ||
               m.name == "SetFieldStatus" || m.name == "GetFieldFormat" ||
               m.name == "SetFieldFormat" || m.name == "GetFieldObject" ||
               m.name == "ShowFieldCase" || m.name == "HideFieldObjects" ||
               m.name == "SetFieldProperties" || m.name == "CopyFieldCase" ||
               m.name == "HideFieldCase" || m.name == "AddFieldObjects" ||
               m.name == "RemoveFieldObjects" || m.name == "DeleteFieldObjects" ||
               m.name == "ShowFieldObjects" || m.name == "ShowPrimaryObjects") {
      CheckFieldsOfPage(m);
    } else if (m.name == "ApplyDatasheetFilter" || m.name == "ApplyDatasheetSort" ||
               m.name == "ListDatasheetFilters" || m.name == "ListDatasheetSorts" ||
               m.name == "PackObjects" || m.name == "DatasheetOverspill") {
      // A page of a summary sheet named by "TargetId".
      ASSERT_TRUE(IsInteger(m.Attr("PageId")));
      ObjectPtr page = Object(db_, std::stol(*m.Attr("PageId")));
      ASSERT_EQ(ClassOf(*m.Attr("PageId")), "Page");
      IKXQObject* owner = nullptr;
      ASSERT_EQ(page->GetOwner(&owner, 0), S_OK);
      ASSERT_NE(owner, nullptr);
      LONG ownerId = 0;
      owner->get_Id(&ownerId);
      owner->Release();
      EXPECT_EQ(std::to_string(ownerId), *root.Attr("TargetId"));
    } else {
      ADD_FAILURE() << "no check for message " << m.name;
    }
  }
  for (const char* wanted : {"SetRealField", "CreateAnnotation", "OpenDocuments"})
    EXPECT_NE(std::find(seen.begin(), seen.end(), wanted), seen.end()) << wanted;
}

TEST_F(RequestsTest, BareTextRequestsNameWhatTheirMessageTakes) {
  const std::string templates = std::string(KX_EXAMPLES_DIR) + "/templates/";
  for (const std::string& file : RequestFiles()) {
    if (file.size() < 4 || file.substr(file.size() - 4) != ".txt") continue;
    SCOPED_TRACE(file);
    const std::string text = ReadExample("requests/" + file);
    std::string id = text;
    while (!id.empty() && std::isspace(static_cast<unsigned char>(id.back()))) id.pop_back();
    if (NamedAfter(file, "ListTemplatePages")) {
      ASSERT_TRUE(IsInteger(&id));
      EXPECT_EQ(ClassOf(id), "Datasheet");
    } else if (NamedAfter(file, "ListTemplates") || NamedAfter(file, "ListCachedTemplates")) {
      EXPECT_EQ(text, "") << "the message ignores its text";
    } else if (NamedAfter(file, "GetTemplateFile")) {
      EXPECT_EQ(text, id) << "the whole text is the template id";
      EXPECT_TRUE(HasTemplate(id, ""));
    } else if (NamedAfter(file, "GetBitmapFile")) {
      EXPECT_TRUE(std::filesystem::is_regular_file(templates + "bitmaps/" + text));
    } else if (NamedAfter(file, "GetSourceFile")) {
      const bool qmf = text.size() > 4 && text.substr(text.size() - 4) == ".qmf";
      EXPECT_TRUE(
          std::filesystem::is_regular_file(templates + (qmf ? "sources/" : "datasheets/") + text));
    } else if (NamedAfter(file, "SetQMFDBTemplate")) {
      const size_t first = text.find("!::!"), second = text.find("!::!", first + 4);
      ASSERT_NE(second, std::string::npos);
      EXPECT_TRUE(HasTemplate(text.substr(0, first), text.substr(first + 4, second - first - 4)));
    } else if (NamedAfter(file, "GetConfigurations") || NamedAfter(file, "GetObjectFilters") ||
               NamedAfter(file, "ValidateTemplates") || NamedAfter(file, "ListDiagrams") ||
               NamedAfter(file, "ListSharedDiagrams") || NamedAfter(file, "ListHolds") ||
               NamedAfter(file, "ListDimensionSets") ||
               (NamedAfter(file, "ListDimensions") && !NamedAfter(file, "ListDimensionUnits"))) {
      EXPECT_EQ(text, "") << "the message reads no text";
    } else if (NamedAfter(file, "ListDimensionUnits")) {
      EXPECT_TRUE(IsDimension(id)) << "the whole text is a dimension name: " << id;
    } else if (NamedAfter(file, "ChangeDimensionSet")) {
      EXPECT_TRUE(IsDimensionSet(id) || id == "DefaultUnits")
          << "the whole text is a set name: " << id;
    } else if (NamedAfter(file, "ListDatasheetsByStatus")) {
      ASSERT_TRUE(IsInteger(&id));
      EXPECT_TRUE(id >= "1" && id <= "4");
    } else if (NamedAfter(file, "ListDatasheetsByField")) {
      EXPECT_TRUE(IsInteger(&id)) << "a field id";
    } else if (NamedAfter(file, "ListDatasheetObjects")) {
      ASSERT_TRUE(IsInteger(&id));
      EXPECT_EQ(ClassOf(id), "Datasheet");
    } else {
      ASSERT_TRUE(IsInteger(&id)) << "a bare page id";
      EXPECT_EQ(ClassOf(id), "Page");
    }
  }
}

TEST_F(RequestsTest, TheReadmeDescribesEveryRequest) {
  const std::string readme = ReadExample("README.md");
  for (const std::string& file : RequestFiles())
    EXPECT_NE(readme.find(file), std::string::npos) << file;
}

}  // namespace
}  // namespace kx::test::examples
