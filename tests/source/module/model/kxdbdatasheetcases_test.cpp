// The discipline rule, clearing cases and status page sets.
#include <gtest/gtest.h>
#include <vector>

#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::ModelStore;

namespace {

HRESULT Check(ModelStore& store, LONG document, std::string* description) {
  const HRESULT hr = CheckIDWFDiscipline(store.application(), store.Object(document));
  *description = kx::test::model::ThreadErrorDescription();
  return hr;
}

TEST(Discipline, RuleIsOffUnlessIdwfIsTrueInAnyCase) {
  ModelStore store;
  std::string description;
  EXPECT_EQ(Check(store, kx::test::model::kSheet, &description),
            S_OK);  // no setting, no discipline
  store.app().settings().Set(u"IDWF", u"yes");
  EXPECT_EQ(Check(store, kx::test::model::kSheet, &description), S_OK);
  store.app().settings().Set(u"IDWF", u"tRuE");
  EXPECT_EQ(Check(store, kx::test::model::kSheet, &description), E_FAIL);
  EXPECT_NE(
      description.find("You must be a member of a discipline to submit, check or issue documents."),
      std::string::npos)
      << description;
  EXPECT_EQ(CheckIDWFDiscipline(store.application(), nullptr), S_OK);
}

TEST(Discipline, OnlyTheOwningDisciplineExactly) {
  ModelStore store;
  store.app().settings().Set(u"IDWF", u"TRUE");
  std::string description;
  store.app().privileges().SetDiscipline(u"mechanical");
  EXPECT_EQ(Check(store, kx::test::model::kSheet, &description), E_FAIL);
  EXPECT_NE(description.find(
                "Only documents owned by your discipline can be submitted, checked or issued."),
            std::string::npos)
      << description;
  store.app().privileges().SetDiscipline(u"Mechanical");
  EXPECT_EQ(Check(store, kx::test::model::kSheet, &description), S_OK);
  // A document without an owning discipline is refused.
  EXPECT_EQ(Check(store, kx::test::model::kList, &description), E_FAIL);
  EXPECT_NE(description.find("Only documents owned by your discipline"), std::string::npos);
}

TEST(Cases, ClearOneEntryOrTheWholeList) {
  ModelStore store;
  IKXQObjectPtr page = store.Object(kx::test::model::kListPage);
  IKXQAttributePtr cases;
  GetAttributeInterface(page, u"Cases", cases);
  SetAttributeIntegerAt(cases, 2, 5);
  ASSERT_EQ(ClearObjectCase(page, 0), S_OK);
  bool has = true;
  (void)GetAttributeIntegerAt(cases, 1, &has);
  EXPECT_FALSE(has);
  EXPECT_EQ(GetAttributeIntegerAt(cases, 2), 5);  // the other entries stay in place
  ASSERT_EQ(ClearObjectCase(page, -1), S_OK);
  EXPECT_EQ(GetAttributeCount(cases), 0);
  EXPECT_EQ(ClearObjectCase(store.Object(100), 0), E_POINTER);  // no "Cases"
  kx::test::model::ModelStore::ClearThreadErrorInfoForTests();
}

void RecordPage(void* cookie, IKXQObject* page) {
  LONG id = 0;
  page->get_Id(&id);
  static_cast<std::vector<LONG>*>(cookie)->push_back(id);
}

TEST(Cases, ClearDatasheetCaseClearsPagesAndRaisesPageEvents) {
  ModelStore store;
  std::vector<LONG> events;
  ASSERT_EQ(ClearDatasheetCase(store.Object(kx::test::model::kSheet), RecordPage, &events), S_OK);
  EXPECT_EQ(events,
            (std::vector<LONG>{kx::test::model::kSheetPage1, kx::test::model::kSheetPage2}));
  for (LONG id : {kx::test::model::kSheetPage1, kx::test::model::kSheetPage2}) {
    IKXQAttributePtr cases;
    GetAttributeInterface(store.Object(id), u"Cases", cases);
    bool has = true;
    (void)GetAttributeIntegerAt(cases, 1, &has);
    EXPECT_FALSE(has) << id;
  }
  IKXQAttributePtr defaultCase;
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"DefaultCase", defaultCase);
  EXPECT_FALSE(AttributeHasValue(defaultCase));
}

TEST(Cases, ClearPagesDeletesEveryPageOfTheList) {
  ModelStore store;
  IKXQAttributePtr submitted;
  ASSERT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 2, submitted), 1);
  ASSERT_EQ(ClearPages(submitted), S_OK);
  EXPECT_EQ(GetAttributeCount(submitted), 0);
  VARIANT_BOOL exists = VARIANT_TRUE;
  store.database()->ObjectExists(kx::test::model::kSheetSubmitted, &exists);
  EXPECT_EQ(exists, VARIANT_FALSE);
  IKXQAttributePtr checked;
  ASSERT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 3, checked), 0);
  EXPECT_EQ(ClearPages(checked), S_OK);
  // The current pages are untouched.
  IKXQAttributePtr current;
  EXPECT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 1, current), 2);
}

// A page the kept list also holds only leaves the emptied lists; the others
// are deleted. A kept list emptied first keeps nothing for the lists after
// it, as it stands empty then.
TEST(Cases, EmptyPageListsKeepsWhatTheKeptListHoldsAsItStands) {
  const auto exists = [](ModelStore& store, LONG id) {
    VARIANT_BOOL there = VARIANT_FALSE;
    store.database()->ObjectExists(id, &there);
    return there != VARIANT_FALSE;
  };
  const auto count = [](ModelStore& store, const OLECHAR* list) {
    IKXQAttributePtr pages;
    GetAttributeInterface(store.Object(kx::test::model::kSheet), list, pages);
    return GetAttributeCount(pages);
  };
  for (bool keptFirst : {false, true}) {
    ModelStore store;
    // The issued copy stands in the submitted list too, after the submitted one.
    IKXQAttributePtr submitted;
    GetAttributeInterface(store.Object(kx::test::model::kSheet), u"SubmittedPages", submitted);
    SetAttributeObjectAt(submitted, 2, store.Object(kx::test::model::kSheetIssued));
    const HRESULT hr = keptFirst
                           ? EmptyPageLists(store.Object(kx::test::model::kSheet),
                                            {u"IssuedPages", u"SubmittedPages"}, u"IssuedPages")
                           : EmptyPageLists(store.Object(kx::test::model::kSheet),
                                            {u"SubmittedPages", u"CheckedPages"}, u"IssuedPages");
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(count(store, u"SubmittedPages"), 0);
    EXPECT_FALSE(exists(store, kx::test::model::kSheetSubmitted));
    EXPECT_EQ(exists(store, kx::test::model::kSheetIssued), !keptFirst) << keptFirst;
    EXPECT_EQ(count(store, u"IssuedPages"), keptFirst ? 0 : 1);
    EXPECT_TRUE(exists(store, kx::test::model::kSheetPage1));
  }
}

TEST(Cases, ClearAttributeValueAtZeroClearsTheWholeAttribute) {
  ModelStore store;
  IKXQAttributePtr indices;
  GetAttributeInterface(store.Object(kx::test::model::kListPage), u"NodeIndices", indices);
  ClearAttributeValueAt(indices, 2);
  EXPECT_EQ(GetAttributeCount(indices), 3);
  ClearAttributeValueAt(indices, 0);
  EXPECT_EQ(GetAttributeCount(indices), 0);
  EXPECT_THROW(ClearAttributeValueAt(nullptr, 1), KXComException);
}

}  // namespace

namespace {

TEST(LocalPrivileges, FirstMatchingRowDecidesAndMissingIsGranted) {
  ModelStore store;
  EXPECT_TRUE(HasLocalPrivilege(store.application(), u"Edit"));  // no table at all
  store.app().privileges().AddLocalPrivilege(u"Print", true);
  store.app().privileges().AddLocalPrivilege(u"Export", true);
  store.app().privileges().AddLocalPrivilege(u"Edit", false);  // third row
  store.app().privileges().AddLocalPrivilege(u"Edit", true);
  EXPECT_FALSE(HasLocalPrivilege(store.application(), u"Edit"));
  EXPECT_TRUE(HasLocalPrivilege(store.application(), u"Print"));
  EXPECT_TRUE(HasLocalPrivilege(store.application(), u"edit"));  // names compare exactly
  EXPECT_TRUE(HasLocalPrivilege(store.application(), u"Delete"));
}

}  // namespace
