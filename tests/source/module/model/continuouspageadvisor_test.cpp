// ContinuousPageHelper on the continuous-list template "TLIST" page "L1":
// fixed fields 101-103 (value keys 0-2) on node "Sheet", repeating fields
// 201, 202 (keys 3, 4) on node "Row" and 203 (no value) on its child
// "Motor". So: first repeating field 4, fields per row 3, template field
// count 6, fixed value count 3, values per row 2. Page 301 has its first
// row at position 5 of seven "NodeObjects": three rows.
#include "model/continuouspageadvisor.h"

#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "model/kxdbdatasheetutils.h"
#include "support/modelfixture.h"

using kx::test::model::FirstDesc;
using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

int32_t ValueIndex(const ContinuousPageHelper& helper, int32_t field) {
  int32_t index = 0;
  EXPECT_EQ(helper.GetFieldValueIndex(field, &index), S_OK);
  return index;
}

TEST(ContinuousPageHelper, AnalysisOfTheListTemplate) {
  ModelStore store;
  ContinuousPageHelper helper;
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L1"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  EXPECT_EQ(Narrow(helper.TemplateKey().c_str()),
            "Pump list: Rows");  // page text trimmed at the ends
  EXPECT_EQ(Narrow(helper.TemplateChecknum()), "3");
  EXPECT_EQ(helper.FirstRepeatingField(), 4);
  EXPECT_EQ(helper.FieldsPerRow(), 3);
  EXPECT_EQ(helper.TemplateFieldCount(), 6);
  EXPECT_EQ(helper.FieldCount(), 6);
  EXPECT_EQ(helper.FixedValueCount(), 3);
  EXPECT_EQ(helper.ValuesPerRow(), 2);
  EXPECT_EQ(helper.RootNodeIndex(), 1);
  EXPECT_EQ(Narrow(helper.RootDefinitionName()), "Row");
  EXPECT_EQ(helper.FieldNodeIds(), (std::vector<int32_t>{101, 102, 103, 201, 202, 203}));
  EXPECT_EQ(helper.FieldTemplateNumbers(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(helper.FieldValueKeys(), (std::vector<int32_t>{0, 1, 2, 3, 4, -1}));
  EXPECT_EQ(helper.FieldRootNodes(), (std::vector<int32_t>{0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(helper.ValueKeys(), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  ASSERT_EQ(helper.AttachedClassNames().size(), 1u);
  EXPECT_EQ(Narrow(helper.AttachedClassNames()[0]), "Pump");
}

TEST(ContinuousPageHelper, RowsAndPageFigures) {
  ModelStore store;
  ContinuousPageHelper helper;
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L1"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  // Root entry 5 with seven values in "NodeObjects": three rows.
  EXPECT_EQ(helper.FirstRowPosition(), 5);
  EXPECT_EQ(helper.RowCount(), 3);
  EXPECT_EQ(helper.PageFieldCount(), 12);  // (3 - 1) * 3 + 6
  EXPECT_EQ(helper.PageValueCount(), 9);   // 2 * 3 + 3
}

TEST(ContinuousPageHelper, ValueIndicesFoldIntoTheFirstRow) {
  ModelStore store;
  ContinuousPageHelper helper;
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L1"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  EXPECT_EQ(ValueIndex(helper, 1), 1);
  EXPECT_EQ(ValueIndex(helper, 3), 3);
  EXPECT_EQ(ValueIndex(helper, 4), 4);
  EXPECT_EQ(ValueIndex(helper, 5), 5);
  EXPECT_EQ(ValueIndex(helper, 6), -1);  // negative value key
  // Field 8 folds to field 5 and lies in row 1: 2 * 1 + j + 1 with j = 4.
  EXPECT_EQ(ValueIndex(helper, 7), 6);
  EXPECT_EQ(ValueIndex(helper, 8), 7);
  EXPECT_EQ(ValueIndex(helper, 9), -1);
  EXPECT_EQ(ValueIndex(helper, 10), 8);
  EXPECT_EQ(ValueIndex(helper, 11), 9);
  // Outside the template's fields: no value index, no out-of-bounds read.
  EXPECT_EQ(ValueIndex(helper, 0), -1);
  EXPECT_EQ(ValueIndex(helper, -3), -1);
  int32_t* none = nullptr;
  EXPECT_EQ(helper.GetFieldValueIndex(1, none), E_POINTER);
  ContinuousPageHelper empty;
  EXPECT_EQ(ValueIndex(empty, 5), -1);  // never analysed: no division by zero
}

TEST(ContinuousPageHelper, AnalysisIsKeptForTheSameTemplatePage) {
  ModelStore store;
  ContinuousPageHelper helper;
  IKXQTemplatePagePtr l1 = store.TemplatePage(u"TLIST", u"L1");
  ASSERT_EQ(
      helper.Initialize(store.application(), l1, store.Object(kx::test::model::kListPage), false),
      S_OK);
  ASSERT_EQ(
      helper.Initialize(store.application(), l1, store.Object(kx::test::model::kListPage), false),
      S_OK);
  EXPECT_EQ(helper.AnalysisCount(), 1);
  ASSERT_EQ(
      helper.Initialize(store.application(), l1, store.Object(kx::test::model::kListPage), true),
      S_OK);
  EXPECT_EQ(helper.AnalysisCount(), 2);
  // Another template page is analysed afresh.
  IKXQTemplatePagePtr s1 = store.TemplatePage(u"TSUM", u"S1");
  ASSERT_EQ(helper.Initialize(store.application(), s1, store.Object(kx::test::model::kSummaryPage),
                              false),
            S_OK);
  EXPECT_EQ(helper.AnalysisCount(), 3);
  EXPECT_EQ(helper.FieldsPerRow(), 1);
  EXPECT_EQ(helper.RowCount(), 2);
  EXPECT_EQ(helper.TemplatePage(), s1.GetInterfacePtr());
}

TEST(ContinuousPageHelper, PageWithoutRowsOnTheCachedPath) {
  ModelStore store;
  ContinuousPageHelper helper;
  IKXQTemplatePagePtr l1 = store.TemplatePage(u"TLIST", u"L1");
  ASSERT_EQ(
      helper.Initialize(store.application(), l1, store.Object(kx::test::model::kListPage), false),
      S_OK);
  ASSERT_EQ(helper.RowCount(), 3);
  IKXQAttributePtr indices;
  GetAttributeInterface(store.Object(kx::test::model::kListPage), u"NodeIndices", indices);
  KXDBDatasheetSvcs::SetAttributeIntegerAt(indices, 2, 0);
  ASSERT_EQ(
      helper.Initialize(store.application(), l1, store.Object(kx::test::model::kListPage), false),
      S_OK);
  EXPECT_EQ(helper.AnalysisCount(), 1);
  // The figures of the previous page do not linger.
  EXPECT_EQ(helper.FirstRowPosition(), 0);
  EXPECT_EQ(helper.RowCount(), 0);
  EXPECT_EQ(helper.PageFieldCount(), 3);
  EXPECT_EQ(helper.PageValueCount(), 3);
}

// A negative root entry in "NodeIndices" names no position (as for the
// page-layout lookups): the page has no rows, however far below 0 it is.
TEST(ContinuousPageHelper, NegativeRootEntryMeansNoRows) {
  ModelStore store;
  ContinuousPageHelper helper;
  IKXQTemplatePagePtr l1 = store.TemplatePage(u"TLIST", u"L1");
  IKXQObjectPtr page = store.Object(kx::test::model::kListPage);
  IKXQAttributePtr indices;
  GetAttributeInterface(page, u"NodeIndices", indices);
  for (const int32_t entry : {-2, INT32_MIN}) {
    KXDBDatasheetSvcs::SetAttributeIntegerAt(indices, 2, entry);
    ASSERT_EQ(helper.Initialize(store.application(), l1, page, false), S_OK);
    EXPECT_EQ(helper.FirstRowPosition(), 0) << entry;
    EXPECT_EQ(helper.RowCount(), 0) << entry;
    EXPECT_EQ(helper.PageFieldCount(), 3) << entry;
    EXPECT_EQ(helper.PageValueCount(), 3) << entry;
  }
}

// Each failure's text reaches the host's warning operation before it is
// raised.
void ExpectFailure(ModelStore& store, const char16_t* pageId, const std::string& text) {
  ContinuousPageHelper helper;
  store.app().ClearTexts();
  try {
    (void)helper.Initialize(store.application(), store.TemplatePage(u"TBAD", pageId),
                            store.Object(kx::test::model::kListPage), false);
    ADD_FAILURE() << "no failure for " << text;
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, E_FAIL);
    EXPECT_EQ(FirstDesc(e), text);
  }
  ASSERT_EQ(store.app().warnings().size(), 1u) << text;
  EXPECT_EQ(Narrow(store.app().warnings()[0].c_str()), text);
}

TEST(ContinuousPageHelper, FailureTextsGoToTheWarningOperationFirst) {
  ModelStore store;
  ExpectFailure(
      store, u"B1",
      "Invalid Continuous List Template: No root nodes in template Broken lists:Head only (2)");
  ExpectFailure(store, u"B2",
                "Invalid Continuous List Template: Multiple root nodes in template Broken "
                "lists:Two roots (2) ");
  ExpectFailure(store, u"B4",
                "Invalid Continuous List Template: No repeating list fields found for Broken "
                "lists:No fields (2)");
  ContinuousPageHelper helper;
  store.app().ClearTexts();
  try {
    (void)helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L2"),
                            store.Object(kx::test::model::kListPage), false);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(FirstDesc(e), "Template Pump list:Plain does not have continuous format.");
  }
  ASSERT_EQ(store.app().warnings().size(), 1u);
}

TEST(ContinuousPageHelper, FormatIsCheckedEvenWhenTheKeyIsCached) {
  ModelStore store;
  ContinuousPageHelper helper;
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L1"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  EXPECT_THROW((void)helper.Initialize(store.application(), store.TemplatePage(u"TLIST", u"L2"),
                                       store.Object(kx::test::model::kListPage), false),
               KXComException);
  EXPECT_EQ(helper.TemplatePage(), store.TemplatePage(u"TLIST", u"L2").GetInterfacePtr());
}

TEST(ContinuousPageHelper, SeveralClassesAndSameNamedRoots) {
  ModelStore store;
  ContinuousPageHelper helper;
  store.app().ClearTexts();
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TBAD", u"B3"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  ASSERT_EQ(store.app().notices().size(), 1u);
  EXPECT_EQ(Narrow(store.app().notices()[0].c_str()),
            "Continuous List Template: Multiple classes attached to root node for Broken lists:Two "
            "classes (2)");
  ASSERT_EQ(helper.AttachedClassNames().size(), 2u);
  // Roots whose definitions share a name in any letter case are one root;
  // the fields of both repeat.
  ASSERT_EQ(helper.Initialize(store.application(), store.TemplatePage(u"TBAD", u"B5"),
                              store.Object(kx::test::model::kListPage), false),
            S_OK);
  EXPECT_EQ(helper.FieldsPerRow(), 2);
  EXPECT_EQ(helper.RootNodeIndex(), 0);
}

}  // namespace
