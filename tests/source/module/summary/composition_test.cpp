// Summary sheets and lists end to end: composition through the filter
// messages, the sorts, packing, on the small plant of listsfixture.h (its
// overspill is tested in overspill_test.cpp).
#include "summary/composition.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "main/main.h"
#include "support/listsfixture.h"
#include "support/pagesfixture.h"

using namespace kx::test::lists;

namespace {

// ---------------------------------------------------------------------------
// Continuous lists

TEST_F(ListsTest, AContinuousListTakesNewMembersFromTheFirstRowAndDropsADuplicate) {
  const auto result = Send(u"ApplyDatasheetFilter", Filter(kListPage, u"Pumps", true));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(Contains(Reply(result), "Filtered 6 objects")) << Reply(result);
  // Rows in their old order, the duplicate of pump 11 gone, new members after.
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#11", "#10", "#12", "#13", "#14", "#16"}));
  const std::vector<std::string> fields = Values(kListPage, u"Fields");
  ASSERT_EQ(fields.size(), 19u);
  EXPECT_EQ(fields[0], "<String FieldId=\"101\" Value=\"List\"/>");
  // A kept row keeps its texts (its attribute id too), re-stamped with its row.
  EXPECT_TRUE(Contains(fields[1], "AttribId=\"7\"") && Contains(fields[1], "Index=\"0\""))
      << fields[1];
  EXPECT_TRUE(Contains(fields[4], "P-3") && Contains(fields[4], "Index=\"1\"")) << fields[4];
  // A new row is made from the first row's texts, without attribute id.
  EXPECT_TRUE(Contains(fields[7], "Index=\"2\"") && !Contains(fields[7], "AttribId=\"7\""))
      << fields[7];
  EXPECT_TRUE(Contains(fields[13], "FieldId=\"201\"") && Contains(fields[13], "Index=\"4\""))
      << fields[13];
  // Revisions travel with their rows; new rows have none.
  EXPECT_EQ(Values(kListPage, u"Revisions"),
            (std::vector<std::string>{"F", "A", "B", "", "", "", ""}));
  EXPECT_EQ(Text(kListPage, u"ObjectFilter"), "Pumps");
  EXPECT_TRUE(HasTrigger(kListPage, u"SSPF"));
  // One page event for the page; the datasheet's own list is not touched.
  EXPECT_EQ(Keys(result), (std::vector<std::string>{"P1 201"}));

  // The same membership again: counted, nothing written, no event.
  const auto again = Send(u"ApplyDatasheetFilter", Filter(kListPage, u"Pumps", true));
  ASSERT_TRUE(again.succeeded());
  EXPECT_TRUE(Contains(Reply(again), "Filtered 6 objects"));
  EXPECT_TRUE(again.events.empty());
  EXPECT_EQ(Values(kListPage, u"Fields"), fields);
}

TEST_F(ListsTest, RowsThatLeaveTheListEachRaiseAFieldEventAndThePageOne) {
  ASSERT_TRUE(Send(u"ApplyDatasheetFilter", Filter(kListPage, u"Pumps", true)).succeeded());
  const auto result = Send(u"ApplyDatasheetFilter", Filter(kListPage, u"OnlyP1", true));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(Contains(Reply(result), "Filtered 1 object<")) << Reply(result);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#11"}));
  EXPECT_EQ(Values(kListPage, u"Fields").size(), 4u);
  // Five rows went: their data-field events (merged into the page's one
  // pending field event) and one page event.
  EXPECT_EQ(Keys(result), (std::vector<std::string>{"F1 201", "P1 201"}));
}

TEST_F(ListsTest, DetachingComposesWithoutAFilterAndForgetsIt) {
  ASSERT_TRUE(Send(u"ApplyDatasheetFilter", Filter(kListPage, u"OnlyP1", true)).succeeded());
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#11"}));
  const auto result = Send(u"ApplyDatasheetFilter", Filter(kListPage, u"OnlyP1", false));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Rows().size(), 6u);
  EXPECT_EQ(Text(kListPage, u"ObjectFilter"), "");
  EXPECT_FALSE(HasTrigger(kListPage, u"SSPF"));
}

// A continuous list's failure reaches the caller as its composer reported
// it, not reported a second time by the datasheet's composition.
TEST_F(ListsTest, AContinuousListsFailureIsReportedOnceAsItsComposerReportedIt) {
  int32_t count = 0;
  ClearThreadErrorInfo();
  const HRESULT hr = Composition::ComposeDatasheet(host_.main(), _variant_t(), host_.Object(kList),
                                                   nullptr, true, false, &count, nullptr);
  EXPECT_EQ(hr, E_POINTER);
  const std::string error = Narrow(TakeThreadErrorText());
  EXPECT_EQ(error,
            "<KXError Desc=\"Invalid pointer passed to method Composition::ComposeContinuousList\" "
            "Src=\"Composition::ComposeContinuousList\" HR=\"E_POINTER\" />");
}

TEST_F(ListsTest, FiltersAreRefusedOnOtherSheetsWithOneAlertAndUnknownFiltersFail) {
  const auto refused = Send(u"ApplyDatasheetFilter", Filter(kPlainPage, u"Pumps", true));
  ASSERT_TRUE(refused.succeeded());
  EXPECT_TRUE(Contains(Reply(refused), "Filters can only be used on summary sheets"));
  EXPECT_FALSE(Contains(Reply(refused), "Filtered")) << Reply(refused);
  const auto unknown = Send(u"ApplyDatasheetFilter", Filter(kListPage, u"NoSuch", true));
  EXPECT_FALSE(unknown.succeeded());
  EXPECT_EQ(kx::test::pages::FirstDesc(unknown.error),
            "Datasheet Filter, Failed to retrieve filter NoSuch for 200");
  EXPECT_EQ(Text(kListPage, u"ObjectFilter"), "");
}

TEST_F(ListsTest, ListDatasheetFiltersNamesTheFilterInForce) {
  const auto all = Send(u"ListDatasheetFilters", u"<ListDatasheetFilters PageId=\"-1\"/>");
  ASSERT_TRUE(all.succeeded());
  EXPECT_TRUE(Contains(Reply(all), "<Filters CurrentFilter=\"\">")) << Reply(all);
  EXPECT_TRUE(Contains(
      Reply(all),
      "<Filter Name=\"OnlyP1\" Title=\"Pump P-1\"/><Filter Name=\"Pumps\" Title=\"All pumps\"/>"))
      << Reply(all);
  ASSERT_TRUE(Send(u"ApplyDatasheetFilter", Filter(kListPage, u"Pumps", true)).succeeded());
  const auto current = Send(u"ListDatasheetFilters", u"<ListDatasheetFilters PageId=\"201\"/>");
  EXPECT_TRUE(Contains(Reply(current), "CurrentFilter=\"Pumps\"")) << Reply(current);
  const auto plain = Send(u"ListDatasheetFilters", u"<ListDatasheetFilters PageId=\"601\"/>");
  EXPECT_TRUE(Contains(Reply(plain), "Filters can only be used on summary sheets")) << Reply(plain);
}

// ---------------------------------------------------------------------------
// Page-per-member summary sheets

TEST_F(ListsTest, ASummarySheetIsComposedAPagePerMemberAndRenumbered) {
  const auto result = Send(u"ApplyDatasheetFilter", Filter(kSummaryPage1, u"Pumps", true));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(Contains(Reply(result), "Filtered 6 objects")) << Reply(result);
  const std::vector<std::string> pages = Values(kSummary, u"CurrentPages");
  ASSERT_EQ(pages.size(), 6u);
  // The members that stood close up from page 1 on; the new ones follow.
  std::vector<std::string> shown;
  for (size_t i = 0; i < pages.size(); ++i) {
    const long id = std::stol(pages[i].substr(1));
    shown.push_back(Values(id, u"NodeObjects").empty() ? "-" : Values(id, u"NodeObjects")[0]);
    EXPECT_EQ(Text(id, u"PageNumber"), std::to_string(i + 1));
    if (i >= 3) {
      EXPECT_TRUE(HasTrigger(id, u"Field")) << pages[i];
    }
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"#10", "#12", "#11", "#13", "#14", "#16"}));
  EXPECT_EQ(Text(kSummary, u"NumberOfPages"), "6");
  EXPECT_EQ(Text(kSummary, u"ObjectFilter"), "Pumps");

  // Filtered down to one member: every other page goes.
  const auto one = Send(u"ApplyDatasheetFilter", Filter(kSummaryPage1, u"OnlyP1", true));
  ASSERT_TRUE(one.succeeded()) << Narrow(one.error);
  EXPECT_EQ(Values(kSummary, u"CurrentPages"), (std::vector<std::string>{"#101"}));
  EXPECT_EQ(Values(kSummaryPage1, u"NodeObjects")[0], "#11");
  EXPECT_EQ(Text(kSummary, u"NumberOfPages"), "1");
}

TEST_F(ListsTest, MakeSummaryProjectWideRecomposesOrRefuses) {
  const auto done = Send(u"MakeSummaryProjectWide", u"<MakeSummaryProjectWide/>", u"100");
  ASSERT_TRUE(done.succeeded()) << Narrow(done.error);
  EXPECT_TRUE(Contains(Reply(done), "<MakeSummaryProjectWide>True</MakeSummaryProjectWide>"))
      << Reply(done);
  EXPECT_EQ(Text(kSummary, u"ProjectId"), "1");
  EXPECT_EQ(Values(kSummary, u"CurrentPages").size(), 6u);  // recomposed, claims ignored

  const auto plain = Send(u"MakeSummaryProjectWide", u"<MakeSummaryProjectWide/>", u"600");
  EXPECT_TRUE(Contains(Reply(plain), "not a summary sheet")) << Reply(plain);
  const auto foreign = Send(u"MakeSummaryProjectWide", u"<MakeSummaryProjectWide/>", u"500");
  EXPECT_TRUE(Contains(Reply(foreign), "is not local to the project")) << Reply(foreign);
  EXPECT_EQ(Text(kForeignSummary, u"ProjectId"), "2");
}

// ---------------------------------------------------------------------------
// Sorting

TEST_F(ListsTest, ValueSortsOrderIntegersRealsAndTextsWithTheRowsTexts) {
  ASSERT_TRUE(Send(u"ApplyDatasheetFilter", Filter(kListPage, u"Pumps", true)).succeeded());
  // Speeds 11:10 10:30 12:30 13:- 14:-5 16:-; equal keys keep row order.
  auto sorted = Send(u"ApplyDatasheetSort", Sort(kListPage, 202, u"CLA"));
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_TRUE(Contains(Reply(sorted), "Sorted 6 objects")) << Reply(sorted);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#14", "#11", "#10", "#12", "#13", "#16"}));
  // The row of pump 11 took its record (attribute id 7) and its revision.
  const std::vector<std::string> fields = Values(kListPage, u"Fields");
  EXPECT_TRUE(Contains(fields[4], "AttribId=\"7\"") && Contains(fields[4], "Index=\"1\""))
      << fields[4];
  EXPECT_EQ(Values(kListPage, u"Revisions"),
            (std::vector<std::string>{"F", "", "A", "B", "", "", ""}));
  EXPECT_EQ(Keys(sorted), (std::vector<std::string>{"P1 201"}));

  // Flows 11:0 10:-1.5 12:2.5 13:7 14:- 16:-; zero and negatives are values.
  sorted = Send(u"ApplyDatasheetSort", Sort(kListPage, 203, u"cld"));
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#13", "#12", "#11", "#10", "#14", "#16"}));
  // Descending, the equal speeds of 12 and 10 come out in reverse row order.
  sorted = Send(u"ApplyDatasheetSort", Sort(kListPage, 202, u"CLD"));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#10", "#12", "#11", "#14", "#13", "#16"}));
  sorted = Send(u"ApplyDatasheetSort", Sort(kListPage, 201, u"CLA"));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"#11", "#13", "#10", "#14", "#12", "#16"}));

  const std::vector<std::string> before = Values(kListPage, u"Fields");
  const auto unknown = Send(u"ApplyDatasheetSort", Sort(kListPage, 201, u"NOSUCH"));
  ASSERT_TRUE(unknown.succeeded());
  EXPECT_TRUE(Contains(Reply(unknown), "Sorted 0 objects")) << Reply(unknown);
  EXPECT_EQ(Values(kListPage, u"Fields"), before);
}

TEST_F(ListsTest, AVectorPageSortedByADefinitionMovesEmptyRowsLast) {
  const auto sorted = Send(u"ApplyDatasheetSort", Sort(kGapPage, 2, u"BYNAME"));
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_TRUE(Contains(Reply(sorted), "Sorted 1 object<")) << Reply(sorted);
  const std::vector<std::string> objects = Values(kGapPage, u"NodeObjects");
  EXPECT_EQ(Values(kGapPage, u"NodeIndices")[1], "2") << ::testing::PrintToString(objects);
  EXPECT_EQ(Values(kGapPage, u"NodeIndices")[2], "-") << ::testing::PrintToString(objects);
}

TEST_F(ListsTest, ListDatasheetSortsListsTheSchemasSorts) {
  const auto result =
      Send(u"ListDatasheetSorts", u"<ListDatasheetSorts PageId=\"1\" FieldId=\"1\"/>");
  ASSERT_TRUE(result.succeeded());
  EXPECT_TRUE(Contains(
      Reply(result),
      "TargetId=\"T\" Status=\"1\"><Sorts><Sort Name=\"BYNAME\" Title=\"By name\"/></Sorts>"))
      << Reply(result);
}

// ---------------------------------------------------------------------------
// Packing

TEST_F(ListsTest, PackingMovesEntriesUpAndThenHasNothingToMove) {
  const auto packed = Send(u"PackObjects", u"<PackObjects PageId=\"801\" FieldId=\"2\"/>");
  ASSERT_TRUE(packed.succeeded()) << Narrow(packed.error);
  EXPECT_TRUE(Contains(Reply(packed), "Packed 1 object<")) << Reply(packed);
  EXPECT_EQ(Values(kGapPage, u"NodeIndices")[1], "2");
  const auto again = Send(u"PackObjects", u"<PackObjects PageId=\"801\" FieldId=\"2\"/>");
  EXPECT_FALSE(again.succeeded());
  EXPECT_EQ(kx::test::pages::FirstDesc(again.error), "No objects to move");
  // A continuous list is not packed and gets no reply.
  const auto list = Send(u"PackObjects", u"<PackObjects PageId=\"201\" FieldId=\"201\"/>");
  EXPECT_TRUE(list.succeeded());
  EXPECT_TRUE(list.reply.empty());
}

TEST_F(ListsTest, PackingASummarySheetDeletesThePagesLeftEmpty) {
  const auto packed = Send(u"PackObjects", u"<PackObjects PageId=\"101\" FieldId=\"1\"/>");
  ASSERT_TRUE(packed.succeeded()) << Narrow(packed.error);
  EXPECT_TRUE(Contains(Reply(packed), "Packed 2 objects")) << Reply(packed);
  EXPECT_EQ(Values(kSummary, u"CurrentPages"), (std::vector<std::string>{"#101", "#102"}));
  EXPECT_EQ(Values(kSummaryGap, u"NodeObjects")[0], "#12");
  EXPECT_EQ(Text(kSummary, u"NumberOfPages"), "2");
}

}  // namespace
