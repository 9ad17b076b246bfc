// Overspill, all of it: the chain toolkit on the chain 501 -> 502 -> 503
// (each page's overspill pair names the data view "Rows", whose members
// "Readings(1)" and "readings [2]" match the attribute "Readings") and on
// the circular pair 601 <-> 602; "DatasheetOverspill" and the overspill
// run's modes on the small plant of listsfixture.h; and an overspill
// association fired by a change in the store (triggersfixture.h).
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#include "com/errorinfo.h"
#include "kxcomexception.h"
#include "kxtrace.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/overspillutils.h"
#include "support/listsfixture.h"
#include "support/pagesfixture.h"
#include "support/triggersfixture.h"

namespace {
namespace chain {

using namespace kx::test::pages;

class OverspillTest : public ::testing::Test {
 protected:
  std::vector<LONG> Ids(const ComPtrArray<IKXQObject>& chain) {
    std::vector<LONG> ids;
    for (int32_t i = 0; i < chain.GetCount(); ++i) {
      LONG id = 0;
      (void)chain.GetAt(i)->get_Id(&id);
      ids.push_back(id);
    }
    return ids;
  }
  // The source chain of a page as "NAME OFFSET", "empty" or "none".
  std::string SourceChain(LONG id) {
    OverspillUtils overspill(&host_.main());
    SAFEARRAY* chain = nullptr;
    EXPECT_EQ(overspill.GetOverspillSourceChain(host_.Object(id), &chain), S_OK);
    if (chain == nullptr) return "none";
    LONG nameAt[2] = {1, 1};
    LONG offsetAt[2] = {2, 1};
    _variant_t name;
    _variant_t offset;
    EXPECT_EQ(SafeArrayGetElement(chain, nameAt, &name), S_OK);
    EXPECT_EQ(SafeArrayGetElement(chain, offsetAt, &offset), S_OK);
    SafeArrayDestroy(chain);
    if (name.vt == VT_EMPTY && offset.vt == VT_EMPTY) return "empty";
    return Narrow(_bstr_t(name).view()) + " " + std::to_string(offset.lVal);
  }
  std::string CaughtDesc(const KXComException& error) {
    SetErrorInfo(0, nullptr);
    if (error.errorInfo == nullptr) return std::string();
    BSTR description = nullptr;
    (void)error.errorInfo->GetDescription(&description);
    _bstr_t held(description, false);
    return FirstDesc(std::u16string(held.view()));
  }

  PagesHost host_;
};

TEST_F(OverspillTest, TheChainRunsFromThePageToTheHead) {
  OverspillUtils overspill(&host_.main());
  ComPtrArray<IKXQObject> chain;
  IKXQObjectPtr previous;
  overspill.GetOverspillFrom(previous, host_.Object(kChain3), chain);
  EXPECT_EQ(Ids(chain), (std::vector<LONG>{503, 502, 501}));
  EXPECT_EQ(previous.GetInterfacePtr(), host_.Object(kChain2).GetInterfacePtr());

  ComPtrArray<IKXQObject> head;
  overspill.GetOverspillFrom(previous, host_.Object(kChain1), head);
  EXPECT_EQ(previous.GetInterfacePtr(), host_.Object(kChain1).GetInterfacePtr());
  IKXQObjectPtr next;
  overspill.GetOverspillTo(next, host_.Object(kChain1), false);
  EXPECT_EQ(next.GetInterfacePtr(), host_.Object(kChain2).GetInterfacePtr());
  overspill.GetOverspillTo(next, host_.Object(kChain3), false);
  EXPECT_FALSE(next);
}

TEST_F(OverspillTest, TheNextPageIsAnnouncedOnlyWhenAsked) {
  OverspillUtils overspill(&host_.main());
  IKXQObjectPtr next;
  overspill.GetOverspillTo(next, host_.Object(kChain1), false);
  EXPECT_TRUE(host_.app().DeliverPendingEvents().empty());
  overspill.GetOverspillTo(next, host_.Object(kChain1), true);
  const std::vector<kx::host::DeliveredEvent> events = host_.app().DeliverPendingEvents();
  ASSERT_EQ(events.size(), 1u);
  ASSERT_TRUE(events[0].xml);
  EXPECT_NE(Narrow(*events[0].xml).find("<XMLMessage TargetId=\"500\" Status=\"1\">"),
            std::string::npos);
}

TEST_F(OverspillTest, TheSourceChainCountsTheSlotsInFront) {
  EXPECT_EQ(SourceChain(kChain1), "none");
  EXPECT_EQ(SourceChain(kChain2), "Readings 2");
  EXPECT_EQ(SourceChain(kChain3), "Readings 4");
  // Pages that are not in a chain, or whose template page has no overspill
  // association, have none.
  EXPECT_EQ(SourceChain(kPage1), "none");
  OverspillUtils ownerless(nullptr);
  SAFEARRAY* chain = reinterpret_cast<SAFEARRAY*>(0x1);
  EXPECT_EQ(ownerless.GetOverspillSourceChain(host_.Object(kChain3), &chain), S_FALSE);
  EXPECT_EQ(chain, nullptr);
}

// The entry lines a walk writes to the trace, whether or not the page is
// part of a chain.
TEST_F(OverspillTest, TheSourceChainTracesItsWalkForEveryPage) {
  struct Lines final : KXCETracerHook {
    void Write(const OLECHAR* text) override { joined += Narrow(std::u16string_view(text)); }
    std::string joined;
  } lines;
  Tracer& tracer = GetTracer();
  KXCETracerHook* const savedHook = tracer.hook;
  const int32_t savedLevel = tracer.level;
  tracer.hook = &lines;
  tracer.level = kTraceLevelHigh;
  const std::string alone = SourceChain(kPage1);
  const std::string standalone = lines.joined;
  lines.joined.clear();
  const std::string chained = SourceChain(kChain2);
  tracer.hook = savedHook;
  tracer.level = savedLevel;
  EXPECT_EQ(alone, "none");
  EXPECT_EQ(chained, "Readings 2");
  const std::string walk =
      "&KXCE& >>>> Enter OverspillUtils::GetOverspillSourceChain()\n"
      "&KXCE& >>>> Enter OverspillUtils::GetOverspillFrom()\n";
  EXPECT_EQ(standalone, walk);
  EXPECT_EQ(lines.joined.rfind(walk, 0), 0u) << lines.joined;
}

TEST_F(OverspillTest, ChainMembersComeHeadPageFirst) {
  OverspillUtils overspill(&host_.main());
  SAFEARRAY* matrix = nullptr;
  ASSERT_EQ(overspill.GetOverspillChainMembers(host_.Object(kChain2), u"readings", &matrix), S_OK);
  ASSERT_NE(matrix, nullptr);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(matrix, 2, &upper), S_OK);
  std::vector<LONG> pages;
  std::vector<std::string> names;
  for (LONG column = 1; column <= upper; ++column) {
    LONG viewAt[2] = {1, column};
    LONG pageAt[2] = {2, column};
    _variant_t view;
    _variant_t page;
    ASSERT_EQ(SafeArrayGetElement(matrix, viewAt, &view), S_OK);
    ASSERT_EQ(SafeArrayGetElement(matrix, pageAt, &page), S_OK);
    IKXQObjectPtr object(page.pdispVal);
    LONG id = 0;
    (void)object->get_Id(&id);
    pages.push_back(id);
    IKXQClassViewPtr member(view.pdispVal);
    _bstr_t name;
    (void)member->get_Name(name.GetAddress());
    names.push_back(Narrow(name.view()));
  }
  SafeArrayDestroy(matrix);
  EXPECT_EQ(pages, (std::vector<LONG>{501, 501, 502, 502, 503, 503}));
  EXPECT_EQ(names[0], "Readings(1)");
  EXPECT_EQ(names[1], "readings [2]");

  SAFEARRAY* none = nullptr;
  ASSERT_EQ(overspill.GetOverspillChainMembers(host_.Object(kPage1), u"Readings", &none), S_OK);
  EXPECT_EQ(none, nullptr);
}

TEST_F(OverspillTest, EveryWalkStopsOnACircularChain) {
  OverspillUtils overspill(&host_.main());
  const std::string expected = "The overspill chain of page 601 is circular";
  try {
    ComPtrArray<IKXQObject> chain;
    IKXQObjectPtr previous;
    overspill.GetOverspillFrom(previous, host_.Object(kLoop1), chain);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(error.hr, E_FAIL);
    EXPECT_EQ(CaughtDesc(error), expected);
  }
  try {
    SAFEARRAY* chain = nullptr;
    overspill.GetOverspillSourceChain(host_.Object(kLoop1), &chain);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), expected);
  }
  try {
    SAFEARRAY* matrix = nullptr;
    overspill.GetOverspillChainMembers(host_.Object(kLoop1), u"Readings", &matrix);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), expected);
  }
}

TEST_F(OverspillTest, ARequiredAssociationThatIsMissingIsNamed) {
  OverspillUtils overspill(&host_.main());
  VariantUtil::SafeArrayMatrix pairs;
  IKXQTemplatePagePtr target;
  EXPECT_EQ(overspill.GetOverspillAssociation(host_.Object(kPage1), false, pairs, &target), S_OK);
  EXPECT_EQ(pairs.Array(), nullptr);
  try {
    overspill.GetOverspillAssociation(host_.Object(kPage1), true, pairs, &target);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), "No overspill association defined for template page Data");
  }
}

TEST_F(OverspillTest, DataViewNamesAreCutAtTheirSeparators) {
  _variant_t empty;
  IKXQClassView* view = reinterpret_cast<IKXQClassView*>(0x1);
  EXPECT_EQ(VariantToObject(empty, &view), S_OK);
  EXPECT_EQ(view, nullptr);
  _variant_t number(static_cast<int>(3), VT_I4);
  EXPECT_EQ(VariantToObject(number, &view), DISP_E_TYPEMISMATCH);
}

}  // namespace chain

// "DatasheetOverspill" and the overspill run
namespace run {

using namespace kx::test::lists;

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
  EXPECT_EQ(kx::test::pages::FirstDesc(refused.error),
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

}  // namespace run

// An overspill association fired by a trigger
namespace fired {

using namespace kx::test::triggers;

// Workers that record the overspill run of a fired association.
class OverspillRecorder : public MainWorkers {
 public:
  HRESULT OverspillAttribute(OverspillUtils&, IKXQObject*, IKXQClassView* view, BSTR name,
                             IKXQTemplatePage* target) override {
    calls.push_back(std::string("spill ") + (view != nullptr ? "a view" : "nothing") + " " +
                    Narrow(name != nullptr ? name : u"") + (target != nullptr ? " onto O" : ""));
    return S_OK;
  }
  HRESULT RegisterNewPages(OverspillUtils&) override {
    calls.push_back("register");
    return S_OK;
  }
  std::vector<std::string> calls;
};

TEST_F(TriggersTest, AFiredOverspillVectorIsSpilledAndTheNewPagesRegistered) {
  OverspillRecorder workers;
  m_host.main().UseWorkers(&workers);
  Open(u"401");
  const kx::host::CallResult spilled = m_host.Set(kPump2, u"Readings", u"r2", 2);
  ASSERT_TRUE(spilled.succeeded()) << Narrow(spilled.error);
  EXPECT_EQ(m_host.Delivered(), "trigger Overspill on #401 fired (keys: 0)\n");
  EXPECT_EQ(workers.calls, (std::vector<std::string>{"spill a view Readings onto O", "register"}));

  // A key past the association list spills nothing; the pages the run made
  // are still registered.
  workers.calls.clear();
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kReadingsPage, u"Overspill");
  IKXQAttributePtr name;
  ASSERT_EQ(m_host.Object(kPump2)->get_Attribute(_bstr_t(u"Name"), _variant_t(-1L), &name), S_OK);
  ASSERT_EQ(trigger->BeginItem(_variant_t(u"7")), S_OK);
  _variant_t read;
  ASSERT_EQ(name->GetValue(_variant_t(), _variant_t(), read.GetAddress()), S_OK);
  ASSERT_EQ(trigger->EndItem(), S_OK);
  ASSERT_TRUE(m_host.Set(kPump2, u"Name", u"P-2 renamed").succeeded());
  EXPECT_EQ(m_host.Delivered(), "trigger Overspill on #401 fired (keys: 7)\n");
  EXPECT_EQ(workers.calls, (std::vector<std::string>{"register"}));
  m_host.main().UseWorkers(nullptr);

  // The real run refuses a list of texts (only object vectors spill); the
  // host hears so for the key, and the change itself stands.
  const kx::host::CallResult warned = m_host.Set(kPump2, u"Readings", u"r3", 3);
  ASSERT_TRUE(warned.succeeded()) << Narrow(warned.error);
  ASSERT_EQ(warned.warnings.size(), 1u);
  EXPECT_NE(Narrow(warned.warnings[0]).find("overspill attribute 'Readings' is not a vector"),
            std::string::npos)
      << Narrow(warned.warnings[0]);
}

}  // namespace fired
}  // namespace
