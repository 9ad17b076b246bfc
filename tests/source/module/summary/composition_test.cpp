// Summary sheets and lists end to end: composition through the filter
// messages, "DatasheetOverspill" and the overspill run's modes, the sorts,
// packing, on the small plant of listsfixture.h.
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
#include "model/overspillutils.h"
#include "support/listsfixture.h"
#include "support/pagesfixture.h"

using namespace liststest;
using pagestest::Narrow;
using pagestest::PagesHost;

namespace {

class ListsTest : public ::testing::Test {
 protected:
  ListsTest() : host_(kListsFixture) {}

  kx::host::RequestResult Send(const char16_t* message, const std::u16string& body,
                               const std::u16string& target = u"T") {
    return host_.Request(message, u"<XMLMessage TargetId=\"" + target + u"\" Status=\"1\">" + body +
                                      u"</XMLMessage>");
  }
  // "#ID" per object value, the text otherwise, "-" for an empty slot.
  std::vector<std::string> Values(long id, const char16_t* name) {
    std::vector<std::string> values;
    IKXQAttributePtr attribute;
    GetAttributeInterface(host_.Object(id), name, attribute);
    if (!attribute) return values;
    const int32_t count = GetAttributeCount(attribute);
    for (int32_t i = 1; i <= count; ++i) {
      _variant_t value;
      (void)attribute->GetValue(_variant_t(static_cast<LONG>(i)), _variant_t(), value.GetAddress());
      if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
        IKXQObjectPtr object;
        GetAttributeAsObject(attribute, i, object);
        values.push_back(object ? "#" + std::to_string(ObjectIdOf(object)) : "-");
      } else if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
        values.push_back("-");
      } else {
        _bstr_t text;
        KXDBDatasheetSvcs::GetAttributeValueStringAt(attribute, i, text);
        values.push_back(Narrow(text.length() > 0 ? text.view() : u""));
      }
    }
    return values;
  }
  std::string Text(long id, const char16_t* name) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeString(host_.Object(id), text, name, -1);
    return Narrow(text.length() > 0 ? text.view() : u"");
  }
  long Link(long id, const char16_t* name) {
    IKXQObjectPtr linked;
    KXDBDatasheetSvcs::GetAttributeObjectByName(host_.Object(id), linked, name);
    return linked ? ObjectIdOf(linked) : 0;
  }
  bool HasTrigger(long id, const char16_t* name) {
    VARIANT_BOOL has = VARIANT_FALSE;
    (void)host_.Object(id)->HasTrigger(_bstr_t(name), &has);
    return has == VARIANT_TRUE;
  }
  static std::vector<std::string> Keys(const kx::host::CallResult& result) {
    std::vector<std::string> keys;
    for (const auto& event : result.events) keys.push_back(Narrow(event.key.value_or(u"?")));
    return keys;
  }
  static std::string Reply(const kx::host::RequestResult& result) {
    return result.succeeded() ? Narrow(result.reply)
                              : "error: " + pagestest::FirstDesc(result.error);
  }
  std::u16string Filter(long page, const char16_t* filter, bool attach) {
    return u"<ApplyDatasheetFilter PageId=\"" + std::u16string(kx_ltow(page, 10)) +
           u"\" FieldId=\"1\" FilterId=\"" + filter + u"\" Attach=\"" + (attach ? u"1" : u"0") +
           u"\"/>";
  }
  std::u16string Sort(long page, long field, const char16_t* code) {
    return u"<ApplyDatasheetSort PageId=\"" + std::u16string(kx_ltow(page, 10)) + u"\" FieldId=\"" +
           std::u16string(kx_ltow(field, 10)) + u"\" SortId=\"" + code + u"\"/>";
  }
  // The row objects of the list page and the value of each row's name field.
  std::vector<std::string> Rows() {
    std::vector<std::string> objects = Values(kListPage, u"NodeObjects");
    return std::vector<std::string>(objects.begin() + 1, objects.end());
  }

  PagesHost host_;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

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
  EXPECT_EQ(pagestest::FirstDesc(unknown.error),
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
// "DatasheetOverspill" and the overspill run

TEST_F(ListsTest, DatasheetOverspillAddsOneLinkedPageThenOnlyAnnouncesIt) {
  const auto result = Send(u"DatasheetOverspill", u"<DatasheetOverspill PageId=\"301\"/>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(result.reply.empty());
  const std::vector<std::string> pages = Values(kSheet, u"CurrentPages");
  ASSERT_EQ(pages.size(), 2u);
  const long created = std::stol(pages[1].substr(1));
  EXPECT_EQ(Link(kSheetPage, u"OverspillTo"), created);
  EXPECT_EQ(Text(created, u"PageNumber"), "2");
  EXPECT_EQ(Text(kSheet, u"NumberOfPages"), "2");
  EXPECT_TRUE(HasTrigger(created, u"Field"));

  const auto again = Send(u"DatasheetOverspill", u"<DatasheetOverspill PageId=\"301\"/>");
  ASSERT_TRUE(again.succeeded()) << Narrow(again.error);
  EXPECT_EQ(Values(kSheet, u"CurrentPages").size(), 2u);
  EXPECT_EQ(Keys(again), (std::vector<std::string>{"P1 " + std::to_string(created)}));
}

TEST_F(ListsTest, DatasheetOverspillWithoutAssociationFailsAndOnASummaryAddsAPage) {
  const auto refused = Send(u"DatasheetOverspill", u"<DatasheetOverspill PageId=\"601\"/>");
  EXPECT_FALSE(refused.succeeded());
  EXPECT_EQ(pagestest::FirstDesc(refused.error),
            "No overspill association defined for template page Data");
  const auto summary = Send(u"DatasheetOverspill", u"<DatasheetOverspill PageId=\"101\"/>");
  ASSERT_TRUE(summary.succeeded()) << Narrow(summary.error);
  const std::vector<std::string> pages = Values(kSummary, u"CurrentPages");
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(Text(std::stol(pages[3].substr(1)), u"PageNumber"), "4");
  EXPECT_EQ(Text(kSummary, u"NumberOfPages"), "4");
}

class OverspillRunTest : public ListsTest {
 protected:
  // Runs one page's pass in `mode`; the page's datasheet's page ids after.
  HRESULT Run(int32_t mode, long page, long datasheet) {
    OverspillUtils run(&host_.main());
    run.m_mode = mode;
    run.m_datasheet = host_.Object(datasheet);
    try {
      return run.CreatePageOverspill(host_.Object(page));
    } catch (const KXComException& error) {
      SetErrorInfo(0, nullptr);
      m_error = error.hr;
      return error.hr;
    }
  }
  HRESULT m_error = S_OK;
};

TEST_F(OverspillRunTest, ModeTwoAddsPagesUntilTheVectorFitsWithoutTriggers) {
  // Five readings, two slots a page: two more pages.
  EXPECT_EQ(Run(2, kSheetPage, kSheet), S_OK);
  const std::vector<std::string> pages = Values(kSheet, u"CurrentPages");
  ASSERT_EQ(pages.size(), 3u);
  const long second = std::stol(pages[1].substr(1));
  const long third = std::stol(pages[2].substr(1));
  EXPECT_EQ(Link(kSheetPage, u"OverspillTo"), second);
  EXPECT_EQ(Link(second, u"OverspillTo"), third);
  EXPECT_EQ(Text(second, u"PageNumber"), "2");
  EXPECT_EQ(Text(third, u"PageNumber"), "3");
  EXPECT_EQ(Text(kSheet, u"NumberOfPages"), "3");
  EXPECT_FALSE(HasTrigger(second, u"Field"));
  // The chain is counted before anything is made: a second pass adds none.
  EXPECT_EQ(Run(2, kSheetPage, kSheet), S_OK);
  EXPECT_EQ(Values(kSheet, u"CurrentPages").size(), 3u);
}

TEST_F(OverspillRunTest, AVectorThatExactlyFillsThePageMakesNoPage) {
  EXPECT_EQ(Run(3, kFullPage, 700), S_OK);
  EXPECT_EQ(Values(700, u"CurrentPages").size(), 1u);
  EXPECT_EQ(Link(kFullPage, u"OverspillTo"), 0);
}

TEST_F(OverspillRunTest, ModeThreeSetsUpTriggersAndModeFourPlacesEveryEntry) {
  EXPECT_EQ(Run(3, kSheetPage, kSheet), S_OK);
  const std::vector<std::string> made = Values(kSheet, u"CurrentPages");
  ASSERT_EQ(made.size(), 3u);
  EXPECT_TRUE(HasTrigger(std::stol(made[1].substr(1)), u"Field"));
  // Mode 4 walks the chain and places the readings, the last page included.
  EXPECT_EQ(Run(4, kSheetPage, kSheet), S_OK);
  const long second = std::stol(made[1].substr(1));
  const long third = std::stol(made[2].substr(1));
  const std::vector<std::string> onSecond = Values(second, u"NodeObjects");
  const std::vector<std::string> onThird = Values(third, u"NodeObjects");
  EXPECT_TRUE(std::count(onSecond.begin(), onSecond.end(), "#22") == 1 &&
              std::count(onSecond.begin(), onSecond.end(), "#23") == 1)
      << ::testing::PrintToString(onSecond);
  EXPECT_EQ(std::count(onThird.begin(), onThird.end(), "#24"), 1)
      << ::testing::PrintToString(onThird);
}

TEST_F(OverspillRunTest, FieldsOfAnOverspillPageReachTheirOwnVectorItems) {
  // Five readings on three pages: the third page shows reading 24 and an
  // empty slot, the sixth reading to come.
  ASSERT_EQ(Run(3, kSheetPage, kSheet), S_OK);
  ASSERT_EQ(Run(4, kSheetPage, kSheet), S_OK);
  const std::vector<std::string> made = Values(kSheet, u"CurrentPages");
  ASSERT_EQ(made.size(), 3u);
  const long third = std::stol(made[2].substr(1));
  const std::u16string page = kx_ltow(third, 10);
  const std::vector<std::string> placed = Values(third, u"NodeObjects");
  const std::vector<std::string> readings{"#20", "#21", "#22", "#23", "#24"};
  // The object behind a reading field is the page's own reading.
  for (const auto& [at, reading] : {std::pair{1, "22"}, std::pair{2, "24"}}) {
    const auto shown = Send(u"GetFieldObject", u"<GetFieldObject PageId=\"" +
                                                   kx_ltow(std::stol(made[at].substr(1)), 10) +
                                                   u"\" FieldId=\"2\" Index=\"-1\"/>");
    EXPECT_TRUE(Contains(Reply(shown), std::string("ObjectId=\"") + reading + "\" Primary=\"0\""))
        << Reply(shown);
  }

  // Copying the case finds nothing behind the empty slot: nothing is
  // copied there and no reading of the first page is placed on the page.
  const auto copy = Send(u"CopyFieldCase",
                         u"<CopyFieldCase PageId=\"" + page + u"\" FieldId=\"3\" CaseId=\"1\"/>");
  ASSERT_TRUE(copy.succeeded()) << Narrow(copy.error);
  EXPECT_EQ(Values(third, u"NodeObjects"), placed);
  EXPECT_EQ(Values(10, u"Readings"), readings);
  ASSERT_EQ(copy.events.size(), 1u);  // reading 24's field
  EXPECT_TRUE(Contains(Narrow(copy.events[0].xml.value_or(u"")), "Value=\"R-5\""));

  // A value in the empty slot makes the sixth reading; the second stays.
  const auto set = Send(u"SetStringField",
                        u"<SetStringField PageId=\"" + page + u"\" FieldId=\"3\" Value=\"R-6\"/>");
  ASSERT_TRUE(set.succeeded()) << Narrow(set.error);
  EXPECT_EQ(Text(21, u"Name"), "R-2");
  const std::vector<std::string> after = Values(10, u"Readings");
  ASSERT_EQ(after.size(), 6u) << ::testing::PrintToString(after);
  const long sixth = std::stol(after[5].substr(1));
  EXPECT_EQ(Text(sixth, u"Name"), "R-6");
  const std::vector<std::string> shown = Values(third, u"NodeObjects");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), after[5]), 1) << ::testing::PrintToString(shown);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "#21"), 0);
  ASSERT_EQ(set.events.size(), 1u);
  const std::string event = Narrow(set.events[0].xml.value_or(u""));
  EXPECT_TRUE(
      Contains(event, "<ShowStringField PageId=\"" + std::to_string(third) + "\" FieldId=\"3\"") &&
      Contains(event, "Value=\"R-6\""))
      << event;
}

TEST_F(OverspillRunTest, ACircularChainFailsInsteadOfLooping) {
  EXPECT_EQ(Run(2, kLoop1, kLoopSheet), E_FAIL);
  EXPECT_EQ(m_error, E_FAIL);
  const auto result = Send(u"DatasheetOverspill", u"<DatasheetOverspill PageId=\"402\"/>");
  EXPECT_TRUE(result.succeeded());  // continued already: announced only
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
  EXPECT_EQ(pagestest::FirstDesc(again.error), "No objects to move");
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
