// The sample plant (examples/plant.xml): it imports into a fresh store and
// is consistent in the ways the service relies on; damaged copies of it are
// caught by the same checks.
#include <cmath>
#include <gtest/gtest.h>

#include "plant_check.h"

namespace kx::test::examples {
namespace {

class PlantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xml_ = ReadExample("plant.xml");
    store_ = ImportPlant(xml_);
    ASSERT_TRUE(store_);
    db_ = store_->Database();
  }
  ObjectPtr Obj(LONG id) {
    ObjectPtr o = Object(db_, id);
    EXPECT_TRUE(o) << "object " << id;
    return o;
  }
  _com_ptr_t<IKXQSchema> Schema() {
    _com_ptr_t<IKXQSchema> s;
    EXPECT_EQ(db_->get_Schema(&s), S_OK);
    return s;
  }
  _com_ptr_t<IKXQDimension> Dimension(const char16_t* name) {
    _com_ptr_t<IKXQDimension> d;
    EXPECT_EQ(Schema()->get_Dimension(_bstr_t(name), &d), S_OK) << _bstr_t(name).utf8();
    return d;
  }
  _com_ptr_t<IKXQTemplate> Template(const char* id, const char* checknum) {
    _com_ptr_t<IKXQTemplateLibrary> lib;
    EXPECT_EQ(db_->get_TemplateLibrary(&lib), S_OK);
    _com_ptr_t<IKXQTemplate> t;
    lib->GetTemplate(_bstr_t(id), checknum ? _variant_t(checknum) : _variant_t(), &t);
    return t;
  }
  // A real read in a unit.
  double Real(LONG id, const char16_t* attribute, const char16_t* unit) {
    AttrPtr a = Attribute(Obj(id), attribute);
    EXPECT_TRUE(a) << _bstr_t(attribute).utf8();
    double v = NAN;
    if (a) {
      EXPECT_EQ(a->GetRealInUnit(0, _bstr_t(unit), &v), S_OK) << LastError();
    }
    return v;
  }

  std::string xml_;
  std::unique_ptr<store::Store> store_;
  IKXQDatabase* db_ = nullptr;
};

// ---------------------------------------------------------------------------
// The plant as shipped

TEST_F(PlantTest, IsConsistentInEveryCheck) {
  EXPECT_EQ(CheckPageLists(db_), Problems()) << Join(CheckPageLists(db_));
  EXPECT_EQ(CheckNodes(db_), Problems()) << Join(CheckNodes(db_));
  EXPECT_EQ(CheckNodeRoutes(db_), Problems()) << Join(CheckNodeRoutes(db_));
  EXPECT_EQ(CheckTemplates(db_), Problems()) << Join(CheckTemplates(db_));
  EXPECT_EQ(CheckSummaries(db_), Problems()) << Join(CheckSummaries(db_));
}

TEST_F(PlantTest, HoldsAboutTwentyEquipmentItemsAndEachDocumentKind) {
  const size_t equipment = Instances(db_, u"ProcessPlantEquipment").size();
  EXPECT_GE(equipment, 18u);
  EXPECT_LE(equipment, 24u);
  EXPECT_EQ(Instances(db_, u"Pump").size(), 6u);
  EXPECT_EQ(Instances(db_, u"HeatExchanger").size(), 6u);
  EXPECT_EQ(Instances(db_, u"Vessel").size(), 6u);  // the column is a vessel
  EXPECT_EQ(Instances(db_, u"Datasheet").size(), 10u);
  EXPECT_EQ(Instances(db_, u"Diagram").size(), 2u);
  // The project's globals live on object 1.
  EXPECT_EQ(ClassName(Obj(1)), "GlobalsClass");
  EXPECT_EQ(Text(Obj(1), u"CurrentDimensionSet"), "SI");
  // Datasheets come in every version: current, submitted, checked, issued.
  EXPECT_EQ(Count(Obj(1001), u"IssuedPages"), 2);
  EXPECT_EQ(Count(Obj(1002), u"SubmittedPages"), 2);
  EXPECT_EQ(Count(Obj(1004), u"CheckedPages"), 1);
  // One opens for editing: V-103's, in no folder, held open by "carol".
  EXPECT_EQ(Count(Obj(1010), u"Folders"), 0);
  EXPECT_EQ(Count(Obj(1006), u"Folders"), 1);
}

TEST_F(PlantTest, PagesPlaceTheirEquipmentOnTemplateNodes) {
  // Page 2 of P-101A: the pump on node "Pump" (index 0), its motor on "Driver" (index 1).
  ObjectPtr page = Obj(1012);
  EXPECT_EQ(RefId(page, u"NodeObjects", Integer(page, u"NodeIndices", 1)), 101);
  EXPECT_EQ(RefId(page, u"NodeObjects", Integer(page, u"NodeIndices", 2)), 111);
  EXPECT_EQ(RefId(Obj(101), u"Driver"), 111);
  // P-102A has no motor yet: node "Driver" has no entry.
  bool has = true;
  Integer(Obj(1032), u"NodeIndices", 2, &has);
  EXPECT_FALSE(has);
  // The summary's rows start at the root's position and run to the end.
  ObjectPtr summary = Obj(1071);
  const LONG first = Integer(summary, u"NodeIndices", 2);
  std::vector<LONG> rows;
  for (LONG p = first; p <= Count(summary, u"NodeObjects"); ++p)
    rows.push_back(RefId(summary, u"NodeObjects", p));
  EXPECT_EQ(rows, (std::vector<LONG>{101, 102, 103, 104, 105, 106}));
}

TEST_F(PlantTest, StatusCopiesPointAtTheirCurrentPages) {
  ObjectPtr issued = Obj(1013);
  EXPECT_EQ(RefId(issued, u"ActivePage"), 1011);
  EXPECT_EQ(RefId(Obj(1011), u"RevisedPages"), 1013);
  VARIANT_BOOL copy = VARIANT_FALSE;
  issued->get_IsStatusCopy(&copy);
  EXPECT_EQ(copy, VARIANT_TRUE);
  _bstr_t held;
  issued->get_HoldingAttributeName(held.GetAddress());
  EXPECT_EQ(held.utf8(), "IssuedPages");
  // The issued revision's mark sits on field 3 (the rated flow).
  EXPECT_EQ(Text(issued, u"Revisions", 3), "A");
  EXPECT_EQ(Text(Obj(1001), u"LastRevisionLevel"), "A");
}

// ---------------------------------------------------------------------------
// The schema: every attribute the service reads or writes, with its kind

struct Expected {
  const char16_t* cls;
  const char16_t* attribute;
  LONG type;  // 1 text, 2 real, 3 object, 5 integer, 6 date, 7 Boolean, 8 binary
  enum Shape { kSingle, kPositional, kCollection } shape;
};

constexpr Expected kSchema[] = {
    // Datasheets: the page lists own their pages.
    {u"Datasheet", u"CurrentPages", 3, Expected::kCollection},
    {u"Datasheet", u"SubmittedPages", 3, Expected::kCollection},
    {u"Datasheet", u"CheckedPages", 3, Expected::kCollection},
    {u"Datasheet", u"IssuedPages", 3, Expected::kCollection},
    {u"Datasheet", u"NumberOfPages", 5, Expected::kSingle},
    {u"Datasheet", u"TemplateId", 1, Expected::kSingle},
    {u"Datasheet", u"Checknum", 1, Expected::kSingle},
    {u"Datasheet", u"DocumentName", 1, Expected::kSingle},
    {u"Datasheet", u"DatasheetSheetName", 1, Expected::kSingle},
    {u"Datasheet", u"DefaultCase", 5, Expected::kSingle},
    {u"Datasheet", u"CaseName", 1, Expected::kSingle},
    {u"Datasheet", u"ProjectId", 5, Expected::kSingle},
    {u"Datasheet", u"ObjectFilter", 1, Expected::kSingle},
    {u"Datasheet", u"BaseDimensionSet", 1, Expected::kSingle},
    {u"Datasheet", u"Folders", 3, Expected::kPositional},
    {u"Datasheet", u"OwningDiscipline", 1, Expected::kSingle},
    {u"Datasheet", u"HasSummary", 5, Expected::kSingle},
    {u"Datasheet", u"NextAnnotationId", 5, Expected::kSingle},
    {u"Datasheet", u"RevisedPages", 3, Expected::kPositional},
    {u"Datasheet", u"Dirty", 7, Expected::kSingle},
    {u"Datasheet", u"Status", 5, Expected::kSingle},
    {u"Datasheet", u"LastRevisionLevel", 1, Expected::kSingle},
    {u"Datasheet", u"LastMajorRevisionLevel", 1, Expected::kSingle},
    {u"Datasheet", u"LastMinorRevisionLevel", 1, Expected::kSingle},
    {u"Datasheet", u"LastIssueReason", 1, Expected::kSingle},
    {u"Datasheet", u"LastIssuedBy", 1, Expected::kSingle},
    {u"Datasheet", u"LastIssuedDate", 6, Expected::kSingle},
    // Pages: "NodeObjects" keeps its positions when an object goes.
    {u"Page", u"TemplateId", 1, Expected::kSingle},
    {u"Page", u"PageId", 1, Expected::kSingle},
    {u"Page", u"Checknum", 1, Expected::kSingle},
    {u"Page", u"PageNumber", 5, Expected::kSingle},
    {u"Page", u"Name", 1, Expected::kSingle},
    {u"Page", u"NodeObjects", 3, Expected::kPositional},
    {u"Page", u"NodeIndices", 5, Expected::kPositional},
    {u"Page", u"HiddenObjects", 5, Expected::kPositional},
    {u"Page", u"Fields", 1, Expected::kPositional},
    {u"Page", u"Revisions", 1, Expected::kPositional},
    {u"Page", u"Units", 1, Expected::kPositional},
    {u"Page", u"Cases", 5, Expected::kPositional},
    {u"Page", u"Qualifiers", 5, Expected::kPositional},
    {u"Page", u"Annotations", 1, Expected::kPositional},
    {u"Page", u"Sketches", 1, Expected::kPositional},
    {u"Page", u"ContinuousFormat", 7, Expected::kSingle},
    {u"Page", u"ActivePage", 3, Expected::kSingle},
    {u"Page", u"RevisedPages", 3, Expected::kPositional},
    {u"Page", u"IDWFReferences", 5, Expected::kPositional},
    {u"Page", u"ObjectFilter", 1, Expected::kSingle},
    {u"Page", u"DefaultCase", 5, Expected::kSingle},
    {u"Page", u"OverspillTo", 3, Expected::kSingle},
    {u"Page", u"OverspillFrom", 3, Expected::kSingle},
    {u"Page", u"Orientation", 5, Expected::kSingle},
    {u"Page", u"ScaleMode", 5, Expected::kSingle},
    {u"Page", u"TopMargin", 5, Expected::kSingle},
    {u"Page", u"LeftMargin", 5, Expected::kSingle},
    {u"Page", u"BottomMargin", 5, Expected::kSingle},
    {u"Page", u"RightMargin", 5, Expected::kSingle},
    {u"Page", u"PaperSize", 5, Expected::kSingle},
    {u"Page", u"PaperWidth", 5, Expected::kSingle},
    {u"Page", u"PaperLength", 5, Expected::kSingle},
    {u"Page", u"PaperSource", 5, Expected::kSingle},
    {u"Page", u"ScaleFactor", 2, Expected::kSingle},
    {u"Page", u"CenterHorizontal", 7, Expected::kSingle},
    {u"Page", u"CenterVertical", 7, Expected::kSingle},
    {u"Label", u"NodeObjects", 3, Expected::kPositional},
    {u"Label", u"NodeIndices", 5, Expected::kPositional},
    {u"Label", u"Fields", 1, Expected::kPositional},
    {u"Label", u"Units", 1, Expected::kPositional},
    {u"Label", u"Sketches", 1, Expected::kPositional},
    {u"Label", u"TemplateId", 1, Expected::kSingle},
    {u"Label", u"Checknum", 1, Expected::kSingle},
    // Diagrams and their schematics.
    {u"Diagram", u"DocumentName", 1, Expected::kSingle},
    {u"Diagram", u"DrawingTemplate", 1, Expected::kSingle},
    {u"Diagram", u"DefaultCase", 5, Expected::kSingle},
    {u"Diagram", u"LastRevisionLevel", 1, Expected::kSingle},
    {u"Diagram", u"CurrentSchematic", 3, Expected::kSingle},
    {u"Diagram", u"SubmittedSchematic", 3, Expected::kSingle},
    {u"Diagram", u"CheckedSchematic", 3, Expected::kSingle},
    {u"Diagram", u"IssuedSchematic", 3, Expected::kSingle},
    {u"Schematic", u"DrawnElements", 3, Expected::kPositional},
    {u"DrawnElement", u"Represents", 3, Expected::kSingle},
    // Every object, equipment, holds, representations, globals, template records.
    {u"GenericClass", u"CreatedReason", 1, Expected::kSingle},
    {u"GenericClass", u"DataViews", 3, Expected::kPositional},
    {u"GenericClass", u"Representations", 3, Expected::kPositional},
    {u"ProcessPlantEquipment", u"BEDDInitialized", 7, Expected::kSingle},
    {u"Hold", u"InActive", 7, Expected::kSingle},
    {u"Hold", u"CreatedReason", 1, Expected::kSingle},
    {u"Representation", u"Changed", 5, Expected::kPositional},
    {u"GlobalsClass", u"CurrentDimensionSet", 1, Expected::kSingle},
    {u"Template", u"TemplateId", 1, Expected::kSingle},
    {u"Template", u"Checknum", 1, Expected::kSingle},
    {u"Template", u"ExcelFile", 8, Expected::kSingle},
};

TEST_F(PlantTest, TheSchemaDefinesEveryAttributeTheServiceUses) {
  auto schema = Schema();
  for (const Expected& e : kSchema) {
    const std::string what = _bstr_t(e.cls).utf8() + "." + _bstr_t(e.attribute).utf8();
    SCOPED_TRACE(what);
    _com_ptr_t<IKXQClass> cls;
    ASSERT_EQ(schema->get_Class(_bstr_t(e.cls), &cls), S_OK);
    ASSERT_TRUE(cls);
    _com_ptr_t<IKXQAttributeDef> def;
    ASSERT_EQ(cls->get_AttributeDefByName(_bstr_t(e.attribute), &def), S_OK);
    ASSERT_TRUE(def) << "undefined";
    LONG type = 0;
    def->get_DataType(&type);
    EXPECT_EQ(type, e.type);
    VARIANT_BOOL list = VARIANT_FALSE, collection = VARIANT_FALSE;
    def->get_IsList(&list);
    def->get_IsCollection(&collection);
    EXPECT_EQ(list == VARIANT_TRUE, e.shape != Expected::kSingle);
    EXPECT_EQ(collection == VARIANT_TRUE, e.shape == Expected::kCollection);
  }
}

TEST_F(PlantTest, TheClassesTheServiceNamesExistWithTheirBases) {
  auto schema = Schema();
  const std::pair<const char16_t*, const char16_t*> kKinds[] = {
      {u"Datasheet", u"Document"},
      {u"DataView", u"Document"},
      {u"Dataview", u"Document"},
      {u"Diagram", u"Document"},
      {u"Document", u"GenericClass"},
      {u"Page", u"GenericClass"},
      {u"Label", u"GenericClass"},
      {u"Hold", u"GenericClass"},
      {u"GlobalsClass", u"GenericClass"},
      {u"Project", u"GenericClass"},
      {u"Template", u"GenericClass"},
      {u"RetrievableFolder", u"GenericClass"},
      {u"Pump", u"ProcessPlantEquipment"},
      {u"Motor", u"ProcessPlantEquipment"},
      {u"HeatExchanger", u"ProcessPlantEquipment"},
      {u"Column", u"Vessel"},
      {u"ProcessPlantEquipment", u"GenericClass"},
      {u"MasterBEDD", u"GenericClass"},
  };
  for (auto [name, base] : kKinds) {
    SCOPED_TRACE(_bstr_t(name).utf8());
    _com_ptr_t<IKXQClass> cls;
    ASSERT_EQ(schema->get_Class(_bstr_t(name), &cls), S_OK);
    ASSERT_TRUE(cls);
    VARIANT_BOOL is = VARIANT_FALSE;
    cls->IsKindOf(_variant_t(base), &is);
    EXPECT_EQ(is, VARIANT_TRUE);
  }
  _com_ptr_t<IKXQClass> site;
  ASSERT_EQ(schema->get_DataDefinition(_bstr_t("ProjectSiteConditions"), &site), S_OK);
  EXPECT_TRUE(site);
}

// ---------------------------------------------------------------------------
// Templates

TEST_F(PlantTest, TheVersionedTemplateIsFoundByChecknum) {
  auto current = Template("HX-DS", nullptr);
  auto v3 = Template("HX-DS", "3");
  auto v2 = Template("HX-DS", "2");
  ASSERT_TRUE(current && v3 && v2);
  auto checknum = [](IKXQTemplate* t) {
    _bstr_t s;
    t->get_Checknum(s.GetAddress());
    return s.utf8();
  };
  EXPECT_EQ(checknum(current), "3");
  EXPECT_EQ(checknum(v3), "3");
  EXPECT_EQ(checknum(v2), "2");
  EXPECT_NE(v2.GetInterfacePtr(), v3.GetInterfacePtr());
  auto fields = [](IKXQTemplate* t) {
    _com_ptr_t<IKXQTemplatePage> p;
    t->get_PageById(_bstr_t("H1"), &p);
    LONG n = -1;
    if (p) p->get_FieldCount(&n);
    return n;
  };
  EXPECT_EQ(fields(v3), 8);
  EXPECT_EQ(fields(v2), 6);
  // E-102's page was made with version 2 and holds its six records.
  EXPECT_EQ(Text(Obj(1051), u"Checknum"), "2");
  EXPECT_EQ(Count(Obj(1051), u"Fields"), 6);
  _com_ptr_t<IKXQTemplateLibrary> lib;
  db_->get_TemplateLibrary(&lib);
  _bstr_t cached;
  lib->GetCachedTemplateData(_bstr_t("HX-DS"), _bstr_t("2"), cached.GetAddress());
  EXPECT_EQ(cached.utf8(), "HX-DS version 2");
}

TEST_F(PlantTest, TheEquipmentTemplateHasTwoOrdinaryPagesWithUnitFields) {
  auto t = Template("PUMP-DS", nullptr);
  ASSERT_TRUE(t);
  LONG pages = 0;
  t->get_PageCount(&pages);
  ASSERT_EQ(pages, 2);
  for (LONG n = 1; n <= pages; ++n) {
    _com_ptr_t<IKXQTemplatePage> p;
    ASSERT_EQ(t->get_Page(n, &p), S_OK);
    _bstr_t format;
    p->get_ContinuousFormat(format.GetAddress());
    EXPECT_EQ(format.length(), 0u);
    LONG units = 0;
    p->get_UnitCount(&units);
    EXPECT_GE(units, 4);
  }
}

TEST_F(PlantTest, TheSummaryTemplateIsAContinuousList) {
  auto t = Template("EQ-SUMMARY", nullptr);
  ASSERT_TRUE(t);
  _bstr_t kind;
  t->get_Kind(kind.GetAddress());
  EXPECT_EQ(kind.utf8(), "Summary");
  _com_ptr_t<IKXQTemplatePage> p;
  ASSERT_EQ(t->get_Page(1, &p), S_OK);
  _bstr_t format;
  p->get_ContinuousFormat(format.GetAddress());
  EXPECT_GT(format.length(), 0u);
  EXPECT_EQ(Integer(Obj(1007), u"HasSummary"), 1);
  _variant_t continuous = Value(Obj(1071), u"ContinuousFormat");
  ASSERT_EQ(V_VT(&continuous), VT_BOOL);
  EXPECT_EQ(V_BOOL(&continuous), VARIANT_TRUE);
}

// ---------------------------------------------------------------------------
// Units

TEST_F(PlantTest, UnitsConvertBetweenSIAndUS) {
  double r = 0;
  ASSERT_EQ(Dimension(u"Pressure")->Convert(100, _bstr_t("psi"), _bstr_t("kPa"), &r), S_OK);
  EXPECT_NEAR(r, 689.4757, 1e-4);
  ASSERT_EQ(Dimension(u"Temperature")->Convert(212, _bstr_t("degF"), _bstr_t("degC"), &r), S_OK);
  EXPECT_NEAR(r, 100, 1e-9);
  ASSERT_EQ(Dimension(u"Temperature")->Convert(-40, _bstr_t("degC"), _bstr_t("degF"), &r), S_OK);
  EXPECT_NEAR(r, -40, 1e-9);
  ASSERT_EQ(Dimension(u"VolumeFlow")->Convert(100, _bstr_t("m3/h"), _bstr_t("gpm"), &r), S_OK);
  EXPECT_NEAR(r, 440.2868, 1e-3);
  ASSERT_EQ(Dimension(u"Length")->Convert(1, _bstr_t("ft"), _bstr_t("in"), &r), S_OK);
  EXPECT_NEAR(r, 12, 1e-9);
  ASSERT_EQ(Dimension(u"Power")->Convert(1, _bstr_t("hp"), _bstr_t("kW"), &r), S_OK);
  EXPECT_NEAR(r, 0.745700, 1e-6);
  ASSERT_EQ(Dimension(u"Density")->Convert(62.428, _bstr_t("lb/ft3"), _bstr_t("kg/m3"), &r), S_OK);
  EXPECT_NEAR(r, 1000.0, 0.01);
  // Across dimensions there is no conversion.
  EXPECT_EQ(Dimension(u"Pressure")->Convert(1, _bstr_t("psi"), _bstr_t("degC"), &r), KXQ_E_UNIT);
  LastError();
}

TEST_F(PlantTest, ValuesEnteredInUSUnitsReadInSI) {
  EXPECT_NEAR(Real(103, u"RatedFlow", u"m3/h"), 374.75, 0.01);          // 1650 gpm
  EXPECT_NEAR(Real(103, u"OperatingTemperature", u"degC"), 130, 1e-9);  // 266 degF
  EXPECT_NEAR(Real(103, u"DesignPressure", u"kPa"), 3102.64, 0.01);     // 450 psi
  EXPECT_NEAR(Real(122, u"HeatTransferArea", u"m2"), 549.98, 0.01);     // 5920 ft2
  EXPECT_NEAR(Real(132, u"InsideDiameter", u"mm"), 2438.4, 1e-6);       // 96 in
  EXPECT_NEAR(Real(112, u"RatedPower", u"kW"), 399.70, 0.01);           // 536 hp
  // And the SI values read in US units.
  EXPECT_NEAR(Real(101, u"DesignPressure", u"psi"), 464.12, 0.01);   // 3200 kPa
  EXPECT_NEAR(Real(101, u"DesignTemperature", u"degF"), 248, 1e-9);  // 120 degC
}

TEST_F(PlantTest, BothDimensionSetsGiveAUnitOfEveryDimension) {
  auto schema = Schema();
  SAFEARRAY* sets = nullptr;
  ASSERT_EQ(schema->get_DimensionSetNames(&sets), S_OK);
  std::vector<std::string> names;
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(sets, 1, &lo);
  SafeArrayGetUBound(sets, 1, &hi);
  for (LONG k = lo; k <= hi; ++k) {
    BSTR s = nullptr;
    SafeArrayGetElement(sets, &k, &s);
    names.push_back(_bstr_t(s, false).utf8());
  }
  SafeArrayDestroy(sets);
  EXPECT_EQ(names, (std::vector<std::string>{"SI", "US"}));
  LONG dims = 0;
  schema->get_DimensionCount(&dims);
  EXPECT_EQ(dims, 8);
  for (LONG n = 1; n <= dims; ++n) {
    _com_ptr_t<IKXQDimension> d;
    ASSERT_EQ(schema->get_DimensionAt(n, &d), S_OK);
    _bstr_t name, si, us;
    d->get_Name(name.GetAddress());
    SCOPED_TRACE(name.utf8());
    ASSERT_EQ(d->get_UnitInSet(_bstr_t("SI"), si.GetAddress()), S_OK);
    ASSERT_EQ(d->get_UnitInSet(_bstr_t("US"), us.GetAddress()), S_OK);
    EXPECT_NE(si.utf8(), us.utf8());
    // A value goes to US units and back unchanged.
    double there = 0, back = 0;
    ASSERT_EQ(d->Convert(123.5, si, us, &there), S_OK);
    ASSERT_EQ(d->Convert(there, us, si, &back), S_OK);
    EXPECT_NEAR(back, 123.5, 1e-9);
    EXPECT_NE(there, 123.5);
  }
}

// ---------------------------------------------------------------------------
// Projects and claims

TEST_F(PlantTest, TheProjectTreeIsRootedAtOne) {
  _com_ptr_t<IKXQProject> root;
  ASSERT_EQ(db_->get_RootProject(&root), S_OK);
  LONG id = 0;
  root->get_Id(&id);
  EXPECT_EQ(id, 1);
  _com_ptr_t<IKXQProject> parent;
  root->get_Parent(&parent);
  EXPECT_FALSE(parent);
  // Walk the tree: every project once, each under its parent.
  std::vector<LONG> seen;
  std::vector<_com_ptr_t<IKXQProject>> todo{root};
  while (!todo.empty()) {
    auto p = todo.back();
    todo.pop_back();
    LONG pid = 0;
    p->get_Id(&pid);
    seen.push_back(pid);
    LONG n = 0;
    p->get_ChildCount(&n);
    for (LONG k = 1; k <= n; ++k) {
      _com_ptr_t<IKXQProject> c;
      ASSERT_EQ(p->get_Child(k, &c), S_OK);
      _com_ptr_t<IKXQProject> up;
      c->get_Parent(&up);
      EXPECT_EQ(up.GetInterfacePtr(), p.GetInterfacePtr());
      todo.push_back(c);
    }
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<LONG>{1, 2, 3, 4}));
  // Every datasheet's project lies in the tree, and the datasheet is
  // claimed by that project.
  for (LONG ds : Instances(db_, u"Datasheet")) {
    SCOPED_TRACE(ds);
    const LONG pid = Integer(Obj(ds), u"ProjectId");
    _com_ptr_t<IKXQProject> p;
    ASSERT_EQ(db_->get_Project(pid, &p), S_OK);
    VARIANT_BOOL within = VARIANT_FALSE;
    p->IsWithin(_variant_t(1), &within);
    EXPECT_EQ(within, VARIANT_TRUE);
    SAFEARRAY* claimants = nullptr;
    ASSERT_EQ(Obj(ds)->get_Claimants(&claimants), S_OK);
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(claimants, 1, &lo);
    SafeArrayGetUBound(claimants, 1, &hi);
    EXPECT_EQ(hi - lo + 1, 1);
    SafeArrayDestroy(claimants);
  }
}

TEST_F(PlantTest, EquipmentListsThePagesThatShowIt) {
  // "DataViews", kept by the store, names every current page that places
  // the object.
  for (LONG ds : Instances(db_, u"Datasheet"))
    for (LONG k = 1; k <= Count(Obj(ds), u"CurrentPages"); ++k) {
      ObjectPtr page = Obj(RefId(Obj(ds), u"CurrentPages", k));
      for (LONG p = 1; p <= Count(page, u"NodeObjects"); ++p) {
        ObjectPtr shown = Obj(RefId(page, u"NodeObjects", p));
        if (ClassName(shown) == "GlobalsClass") continue;
        bool listed = false;
        for (LONG v = 1; v <= Count(shown, u"DataViews"); ++v)
          listed = listed || RefId(shown, u"DataViews", v) == IdOf(page);
        EXPECT_TRUE(listed) << ClassName(shown) << " " << IdOf(shown) << " misses page "
                            << IdOf(page);
      }
    }
}

// ---------------------------------------------------------------------------
// Damaged copies are caught

TEST_F(PlantTest, AnIndexPastTheNodeObjectsIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1061\"", "<value attribute=\"NodeIndices\">1<",
                              "<value attribute=\"NodeIndices\">3<"));
  ASSERT_TRUE(s);
  Problems p = CheckNodes(s->Database());
  EXPECT_EQ(p, (Problems{"page 1061: \"NodeIndices\" 1 points to position 3 of 1 \"NodeObjects\"",
                         "page 1061: \"NodeObjects\" 1 stands on no node"}))
      << Join(p);
}

TEST_F(PlantTest, AnObjectOnTheWrongNodeIsCaught) {
  // The motor node given the pump.
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1012\"", "<value attribute=\"NodeIndices\">2<",
                              "<value attribute=\"NodeIndices\">1<"));
  ASSERT_TRUE(s);
  Problems p = CheckNodes(s->Database());
  EXPECT_EQ(p, (Problems{"page 1012: node \"Driver\" does not accept Pump 101",
                         "page 1012: \"NodeObjects\" 2 stands on no node"}))
      << Join(p);
}

TEST_F(PlantTest, ANodeNamedOtherwiseThanItsRouteStepIsCaught) {
  // A child node named after its class, not after the attribute that
  // reaches it from the pump: the route finds nothing and its fields read
  // empty.
  auto s =
      ImportPlant(Mutate(xml_, "<page id=\"P2\"", "<node name=\"Driver\"", "<node name=\"Motor\""));
  ASSERT_TRUE(s);
  Problems p = CheckNodeRoutes(s->Database());
  EXPECT_EQ(p, Problems{"template PUMP-DS 4 page P2: node \"Motor\" is no attribute of Pump, a "
                        "class of its parent node \"Pump\""})
      << Join(p);
  // A list position in the name is no part of the step.
  s = ImportPlant(
      Mutate(xml_, "<page id=\"P2\"", "<node name=\"Driver\"", "<node name=\"Driver(1)\""));
  ASSERT_TRUE(s);
  EXPECT_EQ(CheckNodeRoutes(s->Database()), Problems()) << Join(CheckNodeRoutes(s->Database()));
}

TEST_F(PlantTest, AnObjectOnNoNodeIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1061\"",
                              "<value attribute=\"NodeObjects\" ref=\"131\"/>",
                              "<value attribute=\"NodeObjects\" ref=\"131\"/><value "
                              "attribute=\"NodeObjects\" ref=\"133\"/>"));
  ASSERT_TRUE(s);
  Problems p = CheckNodes(s->Database());
  EXPECT_EQ(p, Problems{"page 1061: \"NodeObjects\" 2 stands on no node"}) << Join(p);
}

TEST_F(PlantTest, AnUnknownChecknumIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1041\"", "<value attribute=\"Checknum\">3<",
                              "<value attribute=\"Checknum\">7<"));
  ASSERT_TRUE(s);
  Problems p = CheckTemplates(s->Database());
  ASSERT_GE(p.size(), 1u);
  EXPECT_NE(std::find(p.begin(), p.end(), "page 1041: template \"HX-DS\" has no version 7"),
            p.end())
      << Join(p);
}

TEST_F(PlantTest, FieldsOfTheWrongVersionAreCaught) {
  // E-102's page claims version 3 but holds the six records of version 2.
  auto s =
      ImportPlant(Mutate(Mutate(xml_, "<object id=\"1051\"", "<value attribute=\"Checknum\">2<",
                                "<value attribute=\"Checknum\">3<"),
                         "<object id=\"1005\"", "<value attribute=\"Checknum\">2<",
                         "<value attribute=\"Checknum\">3<"));
  ASSERT_TRUE(s);
  Problems p = CheckTemplates(s->Database());
  EXPECT_NE(std::find(p.begin(), p.end(), "page 1051: \"Fields\" holds 6 records for 8 fields"),
            p.end())
      << Join(p);
  EXPECT_NE(std::find(p.begin(), p.end(), "page 1051: \"Revisions\" holds 6 marks for 8 values"),
            p.end())
      << Join(p);
}

TEST_F(PlantTest, AContinuousListWithAMissingRowRecordIsCaught) {
  // One more row object than the records hold, and one the filter does not select.
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1071\"",
                              "<value attribute=\"NodeObjects\" ref=\"106\"/>",
                              "<value attribute=\"NodeObjects\" ref=\"106\"/><value "
                              "attribute=\"NodeObjects\" ref=\"121\"/>"));
  ASSERT_TRUE(s);
  Problems p = CheckTemplates(s->Database());
  EXPECT_EQ(p, (Problems{"page 1071: \"Fields\" holds 25 records for 29 fields",
                         "page 1071: \"Revisions\" holds 25 marks for 29 values"}))
      << Join(p);
  Problems rows = CheckSummaries(s->Database());
  EXPECT_EQ(rows, Problems{"page 1071: lists HeatExchanger 121, which they do not select"})
      << Join(rows);
}

TEST_F(PlantTest, ASummaryListingRowsOutsideItsProjectIsCaught) {
  // Moved to Area 100 (project 2), the sheet no longer selects the pumps of Area 200.
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1007\"", "<value attribute=\"ProjectId\">1<",
                              "<value attribute=\"ProjectId\">2<"));
  ASSERT_TRUE(s);
  Problems rows = CheckSummaries(s->Database());
  EXPECT_EQ(rows, (Problems{"page 1071: lists Pump 105, which they do not select",
                            "page 1071: lists Pump 106, which they do not select"}))
      << Join(rows);
}

TEST_F(PlantTest, APageOwnedByAnotherDatasheetIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1061\"", "owner=\"1006\"", "owner=\"1005\""));
  ASSERT_TRUE(s);
  Problems p = CheckPageLists(s->Database());
  EXPECT_NE(std::find(p.begin(), p.end(),
                      "page 1061: in CurrentPages of datasheet 1006 but owned by 1005"),
            p.end())
      << Join(p);
}

TEST_F(PlantTest, AStatusCopyOfAnotherPageIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1014\"",
                              "<value attribute=\"ActivePage\" ref=\"1012\"/>",
                              "<value attribute=\"ActivePage\" ref=\"1011\"/>"));
  ASSERT_TRUE(s);
  Problems p = CheckPageLists(s->Database());
  EXPECT_EQ(
      p, (Problems{"page 1012: \"RevisedPages\" 1 is no copy of this page",
                   "page 1014: differs in \"PageId\" or \"PageNumber\" from its current page 1011",
                   "page 1014: is missing from \"RevisedPages\" of its current page 1011"}))
      << Join(p);
}

TEST_F(PlantTest, AnAnnotationIdNotYetHandedOutIsCaught) {
  auto s =
      ImportPlant(Mutate(xml_, "<object id=\"1001\"", "<value attribute=\"NextAnnotationId\">2<",
                         "<value attribute=\"NextAnnotationId\">1<"));
  ASSERT_TRUE(s);
  Problems p = CheckTemplates(s->Database());
  EXPECT_EQ(p,
            Problems{"page 1011: annotation 1 is not below the datasheet's \"NextAnnotationId\" 1"})
      << Join(p);
}

TEST_F(PlantTest, AWrongPageCountIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1003\"", "<value attribute=\"NumberOfPages\">2<",
                              "<value attribute=\"NumberOfPages\">3<"));
  ASSERT_TRUE(s);
  Problems p = CheckPageLists(s->Database());
  EXPECT_EQ(p, Problems{"datasheet 1003: \"NumberOfPages\" 3 for 2 current pages"}) << Join(p);
}

TEST_F(PlantTest, AUnitOfTheWrongDimensionIsCaught) {
  auto s = ImportPlant(Mutate(xml_, "<object id=\"1081\"", "<value attribute=\"Units\">psi<",
                              "<value attribute=\"Units\">degF<"));
  ASSERT_TRUE(s);
  Problems p = CheckTemplates(s->Database());
  EXPECT_EQ(p, Problems{"page 1081: unit field 2 shows \"degF\", no unit of Pressure"}) << Join(p);
}

}  // namespace
}  // namespace kx::test::examples
