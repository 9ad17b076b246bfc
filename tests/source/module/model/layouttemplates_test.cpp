// Page layout lookups, templates and template pages, projects and the
// object tests, on the small plant.
#include <gtest/gtest.h>

#include "host/host_application.h"
#include "kxcomexception.h"
#include "model/kxdbdatasheetutils.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::FirstDesc;
using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

LONG IdOf(IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr) object->get_Id(&id);
  return id;
}

// Root node `index` (0-based, in template order) of a template page.
IKXQClassViewPtr RootNode(IKXQTemplatePage* page, int32_t index) {
  SAFEARRAY* roots = nullptr;
  page->get_RootNodes(&roots);
  VariantUtil::SafeArrayVector vector(roots, true);
  IKXQClassView* node = nullptr;
  EXPECT_EQ(vector.GetInterfaceAt(index, &node), S_OK);
  IKXQClassViewPtr held;
  held.Attach(node);
  return held;
}

IKXQClassViewPtr ChildNode(IKXQClassView* node, int32_t index) {
  SAFEARRAY* children = nullptr;
  node->get_Children(&children);
  VariantUtil::SafeArrayVector vector(children, true);
  IKXQClassView* child = nullptr;
  EXPECT_EQ(vector.GetInterfaceAt(index, &child), S_OK);
  IKXQClassViewPtr held;
  held.Attach(child);
  return held;
}

TEST(PageLayout, NodeObjectsOnPlainAndContinuousPages) {
  ModelStore store;
  IKXQTemplatePagePtr p1 = store.TemplatePage(u"TDS", u"P1");
  IKXQClassViewPtr equipment = RootNode(p1, 0);
  IKXQClassViewPtr drive = ChildNode(equipment, 0);
  IKXQObjectPtr object;
  GetNodeObject(object, store.Object(kx::test::model::kSheetPage1), equipment);
  EXPECT_EQ(IdOf(object), 100);
  GetNodeObject(object, store.Object(kx::test::model::kSheetPage1), drive);
  EXPECT_EQ(IdOf(object), 110);
  // Page 2 has no entry for node index 1.
  GetNodeObject(object, store.Object(kx::test::model::kSheetPage2), drive);
  EXPECT_TRUE(object == nullptr);

  IKXQTemplatePagePtr l1 = store.TemplatePage(u"TLIST", u"L1");
  IKXQClassViewPtr row = RootNode(l1, 1);
  IKXQObjectPtr page = store.Object(kx::test::model::kListPage);
  for (int32_t r = 0; r < 3; ++r) {
    GetNodeObjectAtRow(object, page, r, row);
    EXPECT_EQ(IdOf(object), 100 + r);
  }
  GetNodeObjectAtRow(object, page, 3, row);  // past the end: no value
  EXPECT_TRUE(object == nullptr);

  int32_t nodeIndex = 7;
  EXPECT_EQ(GetObjectNodeIndex(page, store.Object(110), &nodeIndex), 2);
  EXPECT_EQ(nodeIndex, 2);  // held by the third "NodeIndices" entry
  EXPECT_EQ(GetObjectNodeIndex(page, store.Object(101), &nodeIndex), 6);
  EXPECT_EQ(nodeIndex, -1);  // a row: no node entry holds its position
  EXPECT_EQ(GetObjectNodeIndex(page, store.Object(kx::test::model::kSheet), &nodeIndex), -1);
  EXPECT_EQ(nodeIndex, -1);

  FindObjectInNodeRows(object, page, store.Object(100), row);  // row 0
  EXPECT_EQ(IdOf(object), 100);
  FindObjectInNodeRows(object, page, store.Object(102), row);
  EXPECT_EQ(IdOf(object), 102);
  FindObjectInNodeRows(object, page, store.Object(110), row);  // before the start
  EXPECT_TRUE(object == nullptr);

  EXPECT_THROW(GetNodeObject(object, nullptr, row), KXComException);
}

// A row offset that leads before the first position of "NodeObjects" or
// past the 32-bit range names no row: no object, and no read of the list's
// whole value through position 0.
TEST(PageLayout, RowOffsetsOutsideTheListGiveNoObject) {
  ModelStore store;
  IKXQClassViewPtr row = RootNode(store.TemplatePage(u"TLIST", u"L1"), 1);
  IKXQObjectPtr page = store.Object(kx::test::model::kListPage);
  IKXQObjectPtr object = store.Object(100);
  GetNodeObjectAtRow(object, page, -5, row);  // root entry 5: position 0
  EXPECT_TRUE(object == nullptr);
  object = store.Object(100);
  GetNodeObjectAtRow(object, page, -7, row);
  EXPECT_TRUE(object == nullptr);
  object = store.Object(100);
  GetNodeObjectAtRow(object, page, INT32_MAX, row);  // 5 + INT32_MAX overflows
  EXPECT_TRUE(object == nullptr);
  GetNodeObjectAtRow(object, page, -4, row);  // position 1 is still on the page
  EXPECT_NE(IdOf(object), 0);
}

// The reads a lookup made, collected through the page's read log.
LONG ReadsOfLookUp(kx::test::model::ModelStore& store, IKXQObject* page) {
  _com_ptr_t<IKXQReadLog> log;
  EXPECT_EQ(page->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)), S_OK);
  if (!log) return -1;
  EXPECT_EQ(log->BeginReads(), S_OK);
  IKXQTemplatePagePtr templatePage;
  EXPECT_EQ(GetTemplatePage(store.application(), page, &templatePage, 1), S_OK);
  EXPECT_TRUE(templatePage != nullptr);
  _com_ptr_t<IKXQReadSet> reads;
  EXPECT_EQ(log->EndReads(&reads), S_OK);
  LONG count = -1;
  if (reads) {
    EXPECT_EQ(reads->get_Count(&count), S_OK);
  }
  return count;
}

TEST(Templates, AnAnswerKeptFromAnEarlierLookUpRecordsTheReadsOfTheLookUp) {
  ModelStore store;
  const IKXQObjectPtr page = store.Object(kx::test::model::kSheetPage1);
  const LONG looked = ReadsOfLookUp(store, page);
  EXPECT_GE(looked, 2);  // "TemplateId" and "PageId" at least
  // A collection (or trigger item) open over the second records what the first read.
  EXPECT_EQ(ReadsOfLookUp(store, page), looked);
  ForgetKeptTemplatePages();
}

TEST(Templates, AnAnswerKeptWhileLookUpsWereSharedRecordsEveryReadOfTheLookUp) {
  ModelStore store;
  const IKXQObjectPtr page = store.Object(kx::test::model::kSheetPage1);
  const LONG looked = ReadsOfLookUp(store, page);
  ForgetKeptTemplatePages();
  {
    // The page's template comes from the scope: the lookup of its template
    // page reads no "TemplateId" of its own.
    const TemplateLookupScope lookups;
    IKXQTemplatePtr tmpl;
    ASSERT_EQ(GetTemplate(store.application(), page, &tmpl, 1), S_OK);
    IKXQTemplatePagePtr templatePage;
    ASSERT_EQ(GetTemplatePage(store.application(), page, &templatePage, 1), S_OK);
  }
  EXPECT_EQ(ReadsOfLookUp(store, page), looked);
  ForgetKeptTemplatePages();
}

TEST(Templates, AnAnswerKeptFromAnEarlierLookUpGoesWhenAValueItReadChanges) {
  ModelStore store;
  const IKXQObjectPtr page = store.Object(kx::test::model::kSheetPage1);
  const auto nameTemplate = [&](const char16_t* templateId) {
    ASSERT_TRUE(store.store().Begin().ok());
    IKXQAttributePtr held;
    ASSERT_EQ(page->get_Attribute(_bstr_t(u"TemplateId"), _variant_t(-1L), &held), S_OK);
    ASSERT_EQ(held->PutValue(_variant_t(), _variant_t(), _variant_t(templateId)), S_OK);
    ASSERT_TRUE(store.store().Commit().ok());
  };
  IKXQTemplatePagePtr kept;
  ASSERT_EQ(GetTemplatePage(store.application(), page, &kept, 1), S_OK);
  ASSERT_TRUE(kept != nullptr);
  nameTemplate(u"NOSUCH");
  IKXQTemplatePagePtr none;
  EXPECT_TRUE(FAILED(GetTemplatePage(store.application(), page, &none, 1)) || none == nullptr);
  ModelStore::ClearThreadErrorInfoForTests();
  nameTemplate(u"TDS");
  IKXQTemplatePagePtr again;
  EXPECT_EQ(GetTemplatePage(store.application(), page, &again, 1), S_OK);
  EXPECT_TRUE(again != nullptr);
  ForgetKeptTemplatePages();
}

TEST(Templates, CurrentAndStatusVersions) {
  ModelStore store;
  IKXQTemplatePtr tmpl;
  ASSERT_EQ(GetTemplate(store.application(), store.Object(kx::test::model::kSheet), &tmpl, 1),
            S_OK);
  ASSERT_TRUE(tmpl != nullptr);
  // The submitted page was made with checknum "7", which the library no
  // longer holds: the current template stands in.
  IKXQTemplatePagePtr templatePage;
  ASSERT_EQ(GetTemplatePage(store.application(), store.Object(kx::test::model::kSheetSubmitted),
                            &templatePage, 2),
            S_OK);
  ASSERT_TRUE(templatePage != nullptr);
  IKXQTemplatePtr owner;
  templatePage->get_Template(&owner);
  _bstr_t checknum;
  owner->get_Checknum(checknum.GetAddress());
  EXPECT_EQ(Narrow(checknum), "3");

  IKXQTemplatePtr none;
  EXPECT_TRUE(SUCCEEDED(
      GetTemplate(store.application(), store.Object(kx::test::model::kNoTemplate), &none, 1)));
  EXPECT_TRUE(none == nullptr);

  IKXQAttributePtr templateId;
  GetAttributeInterface(store.Object(kx::test::model::kSheetPage1), u"TemplateId", templateId);
  SetAttributeString(templateId, u"");
  EXPECT_EQ(GetTemplate(store.application(), store.Object(kx::test::model::kSheetPage1), &none, 1),
            E_FAIL);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("Page has no recorded Template name"),
            std::string::npos);
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"TemplateId", templateId);
  SetAttributeString(templateId, u"");
  EXPECT_EQ(GetTemplate(store.application(), store.Object(kx::test::model::kSheet), &none, 3),
            E_FAIL);
  EXPECT_NE(
      kx::test::model::ThreadErrorDescription().find("Datasheet has no recorded Template name"),
      std::string::npos);
}

TEST(Templates, ValidTemplateFindsAPageOfAnotherVersion) {
  ModelStore store;
  IKXQObjectPtr page;
  ASSERT_EQ(IsValidTemplate(store.application(), store.Object(kx::test::model::kSheet), 1, &page),
            S_OK);
  EXPECT_TRUE(page == nullptr);
  ASSERT_EQ(IsValidTemplate(store.application(), store.Object(kx::test::model::kSheet), 2, &page),
            S_OK);
  EXPECT_EQ(IdOf(page), kx::test::model::kSheetSubmitted);
  ASSERT_EQ(IsValidTemplate(store.application(), store.Object(kx::test::model::kSheet), 3, &page),
            S_OK);
  EXPECT_TRUE(page == nullptr);  // no checked pages
}

TEST(Projects, BreadthFirstSearchAndNames) {
  ModelStore store;
  IKXQProjectPtr root;
  store.database()->get_RootProject(&root);
  IKXQProjectPtr found;
  ASSERT_EQ(FindProject(root, 4, &found), S_OK);
  _bstr_t name;
  ASSERT_TRUE(found != nullptr);
  found->get_Name(name.GetAddress());
  EXPECT_EQ(Narrow(name), "Unit X");
  ASSERT_EQ(FindProject(root, 99, &found), S_OK);
  EXPECT_TRUE(found == nullptr);

  auto projectName = [&](LONG id, bool skipRoot) {
    BSTR text = nullptr;
    EXPECT_EQ(GetProjectName(store.application(), store.Object(id), skipRoot, &text), S_OK);
    _bstr_t held(text, false);
    return text == nullptr ? std::string("(null)") : Narrow(held);
  };
  EXPECT_EQ(projectName(kx::test::model::kSummary, true), "Unit X");
  EXPECT_EQ(projectName(kx::test::model::kSheet, false), "Plant");
  EXPECT_EQ(projectName(kx::test::model::kSheet, true), "(null)");
  EXPECT_EQ(projectName(kx::test::model::kList, false), "Unknown");  // no ProjectId
  IKXQAttributePtr projectId;
  GetAttributeInterface(store.Object(kx::test::model::kSummary), u"ProjectId", projectId);
  SetAttributeInteger(projectId, 77);
  EXPECT_EQ(projectName(kx::test::model::kSummary, true), "Unknown");

  IKXQProjectPtr project;
  ASSERT_EQ(GetSummarySheetProject(store.application(), store.Object(kx::test::model::kSummary),
                                   &project),
            S_OK);
  EXPECT_TRUE(project == nullptr);
  SetAttributeInteger(projectId, 3);
  ASSERT_EQ(GetSummarySheetProject(store.application(), store.Object(kx::test::model::kSummary),
                                   &project),
            S_OK);
  LONG id = 0;
  ASSERT_TRUE(project != nullptr);
  project->get_Id(&id);
  EXPECT_EQ(id, 3);
}

TEST(Projects, ClaimOnlyFilterIsHandedOutAsText) {
  ModelStore store;
  IKXQSchemaPtr schema;
  store.database()->get_Schema(&schema);
  IKXQAttributePtr filterName;
  GetAttributeInterface(store.Object(kx::test::model::kSummary), u"ObjectFilter", filterName);
  SetAttributeString(filterName, u"kx_claim_only");
  _variant_t filter;
  ASSERT_EQ(IsClaimOnlyFilter(nullptr, store.Object(kx::test::model::kSummary), &filter),
            S_OK);  // no schema asked
  ASSERT_EQ(filter.vt, VT_BSTR);
  EXPECT_EQ(Narrow(filter.bstrVal), "kx_claim_only");
  SetAttributeString(filterName, u"RunningPumps");
  ASSERT_EQ(IsClaimOnlyFilter(schema, store.Object(kx::test::model::kSummary), &filter), S_OK);
  ASSERT_EQ(filter.vt, VT_DISPATCH);
  _variant_t untouched;
  SetAttributeString(filterName, u"");
  ASSERT_EQ(IsClaimOnlyFilter(schema, store.Object(kx::test::model::kSummary), &untouched), S_OK);
  EXPECT_EQ(untouched.vt, VT_EMPTY);
}

TEST(ObjectTests, SummarySheetAndProjectLocality) {
  ModelStore store;
  VARIANT_BOOL isSummary = VARIANT_TRUE;
  ASSERT_EQ(IsSummarySheet(store.application(), store.Object(kx::test::model::kSheet), &isSummary),
            S_OK);
  EXPECT_EQ(isSummary, VARIANT_FALSE);
  ASSERT_EQ(
      IsSummarySheet(store.application(), store.Object(kx::test::model::kSummary), &isSummary),
      S_OK);
  EXPECT_EQ(isSummary, VARIANT_TRUE);
  ASSERT_EQ(
      IsSummarySheet(store.application(), store.Object(kx::test::model::kNoTemplate), &isSummary),
      S_OK);
  EXPECT_EQ(isSummary, VARIANT_FALSE);
  EXPECT_EQ(IsSummarySheet(store.application(), store.Object(kx::test::model::kSummary), nullptr),
            E_POINTER);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("Invalid pointer passed to method"),
            std::string::npos);

  bool local = true;
  bool related = true;
  EXPECT_FALSE(CheckSummarySheetProject(store.application(), store.Object(kx::test::model::kSheet),
                                        &local, &related));
  EXPECT_FALSE(local);
  EXPECT_TRUE(CheckSummarySheetProject(store.application(), store.Object(kx::test::model::kSummary),
                                       &local, &related));
  EXPECT_FALSE(local);  // active project 1, sheet of project 4
  EXPECT_TRUE(related);
  store.SetActiveProject(4);
  EXPECT_TRUE(CheckSummarySheetProject(store.application(), store.Object(kx::test::model::kSummary),
                                       &local, &related));
  EXPECT_TRUE(local);
  store.SetActiveProject(3);
  EXPECT_TRUE(CheckSummarySheetProject(store.application(), store.Object(kx::test::model::kSummary),
                                       &local, &related));
  EXPECT_FALSE(local);
  EXPECT_FALSE(related);
}

TEST(ObjectTests, ClaimsScopeAndPlacement) {
  ModelStore store;
  EXPECT_TRUE(IsActiveProjectRootProject(store.application()));
  EXPECT_TRUE(IsClaimedByActiveProject(store.application(), store.Object(100)));
  EXPECT_FALSE(IsClaimedByActiveProject(store.application(), store.Object(102)));
  store.SetActiveProject(2);
  EXPECT_FALSE(IsActiveProjectRootProject(store.application()));
  EXPECT_TRUE(IsClaimedByActiveProject(store.application(), store.Object(102)));
  EXPECT_TRUE(IsObjectScoped(store.Object(102)));
  EXPECT_FALSE(IsObjectScoped(store.Object(101)));
  EXPECT_FALSE(IsObjectScoped(nullptr));

  IKXQTemplatePagePtr l1 = store.TemplatePage(u"TLIST", u"L1");
  EXPECT_TRUE(IsObjectOnPage(store.Object(102), store.Object(kx::test::model::kListPage), l1));
  EXPECT_TRUE(IsObjectOnDatasheet(store.Object(101), store.Object(kx::test::model::kList), l1));
  IKXQTemplatePagePtr p1 = store.TemplatePage(u"TDS", u"P1");
  EXPECT_TRUE(IsObjectOnPage(store.Object(100), store.Object(kx::test::model::kSheetPage1), p1));
  EXPECT_FALSE(IsObjectOnPage(store.Object(110), store.Object(kx::test::model::kSheetPage1),
                              p1));  // not a root node
  EXPECT_TRUE(IsObjectOnDatasheet(store.Object(101), store.Object(kx::test::model::kSheet), p1));
}

// Inside a DatasheetObjectsScope the answers are those of a test of every
// page, as the pages change: an object on a page added meanwhile, one
// listed on a page but not on a root node, a page gone while another came
// (as many pages as before), and objects whose pages went.
TEST(ObjectTests, DatasheetObjectsScopeAnswersAsATestOfEveryPage) {
  ModelStore store;
  const IKXQObjectPtr sheet = store.Object(kx::test::model::kSheet);
  const IKXQTemplatePagePtr p1 = store.TemplatePage(u"TDS", u"P1");
  IKXQAttributePtr pages;
  ASSERT_EQ(sheet->get_Attribute(_bstr_t(u"CurrentPages"), _variant_t(), &pages), S_OK);
  // Pumps 100 (page 201), 101 (page 202), 102 (none), motor 110 (listed on
  // page 201, not on a root node), the datasheet.
  const auto answers = [&] {
    std::string text;
    for (const LONG id : {100, 101, 102, 110, 200}) {
      text += IsObjectOnDatasheet(store.Object(id), sheet, p1) ? '1' : '0';
    }
    return text;
  };
  const auto addPage = [&](LONG member) {
    IKXQObjectPtr page;
    ASSERT_EQ(p1->CreatePage(sheet, store.Object(member), 1, 3, &page), S_OK);
    LONG count = 0;
    ASSERT_EQ(pages->get_Count(&count), S_OK);
    ASSERT_EQ(
        pages->PutValue(_variant_t(count + 1), _variant_t(), _variant_t(page.GetInterfacePtr())),
        S_OK);
  };
  ASSERT_EQ(answers(), "11000");
  {
    DatasheetObjectsScope scope(sheet, p1);
    EXPECT_EQ(answers(), "11000");
    // Another datasheet or template page is tested page by page.
    EXPECT_TRUE(IsObjectOnDatasheet(store.Object(101), store.Object(kx::test::model::kList),
                                    store.TemplatePage(u"TLIST", u"L1")));
    ASSERT_NO_FATAL_FAILURE(addPage(102));
    EXPECT_EQ(answers(), "11100");
    // Page 202 goes and another page shows 101: as many pages as before.
    ASSERT_NO_FATAL_FAILURE(addPage(101));
    ASSERT_EQ(pages->RemoveValues(2, 1), S_OK);
    EXPECT_EQ(answers(), "11100");
    ASSERT_EQ(pages->RemoveValues(1, 2), S_OK);  // 201 and the page of 102
    EXPECT_EQ(answers(), "01000");
  }
  EXPECT_EQ(answers(), "01000");
}

TEST(ObjectTests, DataViewScopeAndDatasheetScope) {
  ModelStore store;
  store.SetActiveProject(2);
  // The list page shows pump 102, claimed by project 2, as a row: only the
  // run test (mode 2) sees it.
  EXPECT_FALSE(IsDatasheetScoped(store.application(), store.Object(kx::test::model::kList), 1));
  EXPECT_TRUE(IsDatasheetScoped(store.application(), store.Object(kx::test::model::kList), 2));
  store.SetActiveProject(1);
  EXPECT_TRUE(IsDatasheetScoped(store.application(), store.Object(kx::test::model::kList), 1));
}

TEST(ObjectTests, FiltersAndPrimaryObjects) {
  ModelStore store;
  EXPECT_TRUE(IsObjectInFilter(store.application(), _variant_t(), store.Object(101), nullptr));
  EXPECT_FALSE(
      IsObjectInFilter(store.application(), _variant_t(5, VT_I4), store.Object(100), nullptr));
  EXPECT_TRUE(IsObjectInFilter(store.application(), _variant_t(u"KX_CLAIM_ONLY"), store.Object(100),
                               nullptr));
  EXPECT_FALSE(IsObjectInFilter(store.application(), _variant_t(u"KX_CLAIM_ONLY"),
                                store.Object(101), nullptr));
  IKXQSchemaPtr schema;
  store.database()->get_Schema(&schema);
  _variant_t running;
  ASSERT_EQ(schema->GetObjectFilterVariant(_bstr_t(u"RunningPumps"), &running), S_OK);
  EXPECT_TRUE(IsObjectInFilter(store.application(), running, store.Object(100),
                               store.Object(kx::test::model::kSummary)));
  EXPECT_FALSE(IsObjectInFilter(store.application(), running, store.Object(101),
                                store.Object(kx::test::model::kSummary)));

  IKXQTemplatePtr tmpl;
  ASSERT_EQ(GetTemplate(store.application(), store.Object(kx::test::model::kList), &tmpl, 1), S_OK);
  IKXQObjectPtr primary;
  IKXQObjectPtr further;
  ASSERT_EQ(GetPagePrimaryObject(store.application(), store.Object(kx::test::model::kListPage),
                                 tmpl, &primary, nullptr, 1),
            S_OK);
  EXPECT_EQ(IdOf(primary), 100);
  ASSERT_EQ(GetPagePrimaryObject(store.application(), store.Object(kx::test::model::kListPage),
                                 tmpl, &primary, &further, 1),
            S_OK);
  EXPECT_EQ(IdOf(primary), 100);
  EXPECT_EQ(IdOf(further), 102);
}

}  // namespace
