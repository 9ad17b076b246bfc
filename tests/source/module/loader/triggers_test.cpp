// Triggers and their callbacks end to end: the host opens pages through the
// module, another client changes values in the store, and the host delivers
// the trigger callbacks inside that change's transaction, as the host
// program does. What the callbacks posted, what they recorded again and
// what they wrote is checked.
#include "loader/triggers.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "events/changeevents.h"
#include "fieldmodel/routecache.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "support/triggersfixture.h"

using namespace kx::test::triggers;

namespace {

// The keys and field ids of the data-field events pending in the host
// application, which are then dropped.
std::vector<std::pair<std::string, std::vector<int32_t>>> TakePendingFieldEvents(
    kx::host::Application& app) {
  std::vector<std::pair<std::string, std::vector<int32_t>>> found;
  SAFEARRAY* raw = nullptr;
  EXPECT_EQ(app.GetPendingEvents(&raw), S_OK);
  for (LONG i = 0; raw != nullptr && i < static_cast<LONG>(raw->rgsabound[0].cElements); ++i) {
    IUnknown* item = nullptr;
    (void)SafeArrayGetElement(raw, &i, &item);
    IDatasheetEvent* event = nullptr;
    if (item != nullptr &&
        SUCCEEDED(item->QueryInterface(IID_IDatasheetEvent, reinterpret_cast<void**>(&event)))) {
      const OLECHAR* key = event->Key();
      std::vector<int32_t> ids;
      if (auto* field = dynamic_cast<KXDataFieldEvent*>(event)) {
        for (int32_t k = 0; k < field->Ids().GetCount(); ++k) ids.push_back(field->Ids().GetAt(k));
      }
      found.emplace_back(Narrow(key != nullptr ? key : u""), ids);
      event->Release();
    }
    if (item != nullptr) item->Release();
  }
  if (raw != nullptr) SafeArrayDestroy(raw);
  app.DiscardPendingEvents();
  return found;
}

std::vector<std::string> FiredKeys(IKXQTrigger* trigger) {
  std::vector<std::string> keys;
  for (const _bstr_t& key : ReadFiredKeys(trigger)) keys.push_back(Narrow(key.view()));
  return keys;
}

// A change made straight in the store, outside any host call: the keys it
// fires wait in the trigger until a callback takes them.
void Change(TriggersHost& host, LONG id, const char16_t* attribute, const char16_t* value) {
  IKXQAttributePtr held;
  ASSERT_EQ(host.Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held), S_OK);
  ASSERT_EQ(held->PutValue(_variant_t(), _variant_t(), _variant_t(value)), S_OK);
}

TEST_F(TriggersTest, AnOpenPageRecordsOneItemPerFieldAndAChangeByAnotherClientPostsItsField) {
  Open(u"101");
  // Every field has its item: changing the value behind field i fires key
  // i - 1, and the callback posts one data-field event for the page.
  for (int i = 1; i <= 12; ++i) {
    const std::u16string attribute = u"F" + kx_ltow(i, 10);
    const kx::host::CallResult result = m_host.Set(kPump, attribute.c_str(), u"changed");
    ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
    EXPECT_EQ(m_host.Delivered(),
              "trigger Field on #101 fired (keys: " + std::to_string(i - 1) + ")\n");
    ASSERT_EQ(result.events.size(), 1u) << i;
    EXPECT_EQ(Narrow(result.events[0].message_name), "DataField");
    EXPECT_EQ(Narrow(result.events[0].key.value_or(u"")), "F1 101");
    ASSERT_EQ(result.events[0].recipients.size(), 1u);
    EXPECT_EQ(Narrow(result.events[0].recipients[0]), "alice");
  }
  // The keys were cleared and the items recorded again: the same field
  // fires a second time.
  EXPECT_TRUE(FiredKeys(m_host.Trigger(kPage, u"Field")).empty());
  const kx::host::CallResult again = m_host.Set(kPump, u"F5", u"again");
  EXPECT_EQ(m_host.Delivered(), "trigger Field on #101 fired (keys: 4)\n");
  EXPECT_EQ(again.events.size(), 1u);
  // A value nothing on the page reads fires nothing.
  const kx::host::CallResult other = m_host.Set(kPump2, u"F5", u"elsewhere");
  EXPECT_EQ(m_host.Delivered(), "");
  EXPECT_TRUE(other.events.empty());
}

TEST_F(TriggersTest, AnOpenPageWalksEachRouteOnceAndEachItemRecordsWhatItsWalkRead) {
  const uint64_t walks = RouteCache::Instance().WalkCount();
  Open(u"101");
  // The writer walks the twelve fields' routes; the trigger set-up takes
  // the writer's walks instead of walking them again.
  EXPECT_EQ(RouteCache::Instance().WalkCount() - walks, 12u);
  // Each item holds what its walk read, not only the value: the page's
  // cases, read by the walks alone, fire every key.
  const kx::host::CallResult result = m_host.Set(kPage, u"Cases", u"2", 1);
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(m_host.Delivered(),
            "trigger Field on #101 fired (keys: 0, 1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9)\n");
}

TEST_F(TriggersTest, TheCallbacksEventTakesTheWalkOfTheItemItRecordedAgain) {
  Open(u"101");
  for (const char16_t* value : {u"changed", u"again"}) {
    const uint64_t walks = RouteCache::Instance().WalkCount();
    const kx::host::CallResult result = m_host.Set(kPump, u"F5", value);
    ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
    EXPECT_EQ(m_host.Delivered(), "trigger Field on #101 fired (keys: 4)\n");
    // The item's walk to field 5 serves the event's writer as well.
    EXPECT_EQ(RouteCache::Instance().WalkCount() - walks, 1u);
    ASSERT_EQ(result.events.size(), 1u);
    const std::string xml = Narrow(result.events[0].xml.value_or(u""));
    EXPECT_NE(xml.find("FieldId=\"5\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("Value=\"" + Narrow(value) + "\""), std::string::npos) << xml;
  }
}

TEST_F(TriggersTest, EveryItemOfAnOpenPageRecordsWhereThePageShowsTheRootObject) {
  Open(u"101");
  // The fields share their root node: its object is looked up once, and
  // every item still holds the page's node indices that lookup read.
  const kx::host::CallResult result = m_host.Set(kPage, u"NodeIndices", u"2", 1);
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(m_host.Delivered(),
            "trigger Field on #101 fired (keys: 0, 1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9)\n");
}

TEST_F(TriggersTest, TheEventOfAFiredKeyHoldsThatFieldAndNoOther) {
  Open(u"101");
  Change(m_host, kPump, u"F5", u"new");
  Change(m_host, kPump, u"F1", u"new");
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kPage, u"Field");
  EXPECT_EQ(FiredKeys(trigger), (std::vector<std::string>{"4", "0"}));
  ASSERT_EQ(m_host.main().OnTriggerFired(trigger, &m_host.app()), S_OK);
  const auto events = TakePendingFieldEvents(m_host.app());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, "F1 101");
  EXPECT_EQ(events[0].second, (std::vector<int32_t>{1, 5}));
  EXPECT_TRUE(FiredKeys(trigger).empty());
}

// Workers whose field writer gives a new text every time, as a field whose
// value the store computes anew on every read would.
class RestlessFieldWriter : public MainWorkers {
 public:
  HRESULT WriteFields(PageLoadContext&, IKXQObject*, IKXQTemplatePage*, int32_t field,
                      IKXQAttribute*, BSTR* text) override {
    *text = SysAllocString((u"<String FieldId=\"" + kx_ltow(field, 10) + u"\" Value=\"" +
                            kx_ltow(++m_count, 10) + u"\"/>")
                               .c_str());
    return S_OK;
  }

 private:
  int32_t m_count = 0;
};

// Workers whose field writer fails for one field: that key's work fails.
class FailingFieldWriter : public MainWorkers {
 public:
  HRESULT WriteFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                      int32_t field, IKXQAttribute* fields, BSTR* text) override {
    if (field == 5) {
      *text = nullptr;
      return kx_set_error_info(E_FAIL, u"the writer of field 5 failed", u"test");
    }
    return MainWorkers::WriteFields(context, page, templatePage, field, fields, text);
  }
};

TEST_F(TriggersTest, WithTheStatusCopyFlagAChangeReachesTheSubmittedCopyOfTheDatasheetsOwnData) {
  Open(u"102");
  Open(u"101");
  // Before documents were checked or issued, only the event.
  ASSERT_TRUE(m_host.Set(kOwnPump, u"F12", u"first").succeeded());
  EXPECT_EQ(m_host.Text(kSubmitted, u"Fields", 12),
            "<String FieldId=\"12\" State=\"0\" Value=\"own\"/>");

  m_host.main().SetStatusCopyFlag();
  const kx::host::CallResult result = m_host.Set(kOwnPump, u"F12", u"second");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(result.warnings.empty()) << Narrow(result.warnings[0]);
  // The copy holds the full record: no issued copy yet, so it differs (256).
  EXPECT_EQ(m_host.Text(kSubmitted, u"Fields", 12),
            "<String FieldId=\"12\" Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" "
            "Value=\"second\"/>");
  // Page 101 shows a pump the datasheet does not own: no copy is touched.
  ASSERT_TRUE(m_host.Set(kPump, u"F12", u"not copied").succeeded());
  EXPECT_EQ(m_host.Text(kSubmitted, u"Fields", 12),
            "<String FieldId=\"12\" Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" "
            "Value=\"second\"/>");
}

TEST_F(TriggersTest, OneFailingKeyGivesOneWarningAndTheOtherKeysStillRun) {
  FailingFieldWriter workers;
  m_host.main().UseWorkers(&workers);
  m_host.main().SetStatusCopyFlag();
  Open(u"102");
  Change(m_host, kOwnPump, u"F5", u"five");
  Change(m_host, kOwnPump, u"F12", u"twelve");
  const kx::host::CallResult result = m_host.host().FireTrigger(m_host.Trigger(kOwnPage, u"Field"));
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_NE(Narrow(result.warnings[0]).find("the writer of field 5"), std::string::npos)
      << Narrow(result.warnings[0]);
  EXPECT_EQ(m_host.Text(kSubmitted, u"Fields", 12),
            "<String FieldId=\"12\" Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" "
            "Value=\"twelve\"/>");
  // Both fields still got their event.
  ASSERT_EQ(result.events.size(), 1u);
  m_host.main().UseWorkers(nullptr);
}

TEST_F(TriggersTest, AChainThatNeverSettlesFailsTheCallAndKeepsNothing) {
  RestlessFieldWriter workers;
  m_host.main().UseWorkers(&workers);
  m_host.main().SetStatusCopyFlag();
  Open(u"102");
  // The page's field 12 item also reads the copy's record, which the
  // callback writes: every callback fires the next.
  _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kOwnPage, u"Field");
  IKXQAttributePtr copyFields;
  ASSERT_EQ(
      m_host.Object(kSubmitted)->get_Attribute(_bstr_t(u"Fields"), _variant_t(-1L), &copyFields),
      S_OK);
  ASSERT_EQ(trigger->BeginItem(_variant_t(u"11")), S_OK);
  _variant_t read;
  ASSERT_EQ(copyFields->GetValue(_variant_t(12L), _variant_t(), read.GetAddress()), S_OK);
  ASSERT_EQ(trigger->EndItem(), S_OK);

  const kx::host::CallResult result = m_host.Set(kOwnPump, u"F12", u"loop");
  EXPECT_FALSE(result.succeeded());
  EXPECT_NE(Narrow(result.error).find("32"), std::string::npos) << Narrow(result.error);
  EXPECT_TRUE(result.events.empty());
  EXPECT_EQ(m_host.Text(kOwnPump, u"F12"), "own");
  EXPECT_EQ(m_host.Text(kSubmitted, u"Fields", 12),
            "<String FieldId=\"12\" State=\"0\" Value=\"own\"/>");
  m_host.main().UseWorkers(nullptr);
}

TEST_F(TriggersTest, AContinuousListRecordsRowKeysAndARowWhoseObjectLeftIsSentAsItStands) {
  Open(u"201");
  // F = 4, W = 3: positions 1-3 are the sheet's, 4-6 pump 10's, 7-9 pump 11's.
  ASSERT_TRUE(m_host.Set(kPump2, u"F2", u"row two").succeeded());
  EXPECT_EQ(m_host.Delivered(), "trigger Field on #201 fired (keys: CL11:1)\n");
  ASSERT_TRUE(m_host.Set(kList, u"DocumentName", u"Renamed").succeeded());
  EXPECT_EQ(m_host.Delivered(), "trigger Field on #201 fired (keys: 2)\n");

  // Both rows change, then the first row's object leaves the page before
  // the callback (which fires the rest of its items): its keys stand for the
  // row their items were recorded for, which is sent as it stands now, empty;
  // the second row gets its event too.
  Change(m_host, kPump, u"F1", u"gone");
  Change(m_host, kPump2, u"F3", u"kept");
  IKXQAttributePtr objects;
  ASSERT_EQ(
      m_host.Object(kListPage)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &objects),
      S_OK);
  ASSERT_EQ(objects->Clear(_variant_t(2L)), S_OK);
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kListPage, u"Field");
  EXPECT_EQ(FiredKeys(trigger), (std::vector<std::string>{"CL10:0", "CL11:2", "CL10:1", "CL10:2"}));
  ASSERT_EQ(m_host.main().OnTriggerFired(trigger, &m_host.app()), S_OK);
  const auto events = TakePendingFieldEvents(m_host.app());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, (std::vector<int32_t>{4, 5, 6, 9}));
}

TEST_F(TriggersTest, ContinuousListKeysNameTheirPositions) {
  Open(u"201");
  ContinuousPageHelper& helper = m_host.main().GetContinuousPageHelper();
  IKXQObjectPtr page = m_host.Object(kListPage);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11:2", page), 9);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"cl10:0", page), 4);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL99:0", page), -1);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11", page), -1);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"17", page), 17);
  // Keys without a position are no field 0.
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL", page), -1);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"x", page), -1);
  // Keys looked up together: the rows read once serve them all, and are
  // read again once the page's rows moved.
  ListRowsById rows(page);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11:2", rows), 9);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL10:0", rows), 4);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL99:0", rows), -1);
  IKXQAttributePtr objects;
  ASSERT_EQ(page->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &objects), S_OK);
  const LONG first = helper.FirstRowPosition();
  for (const auto& [at, id] : {std::pair<LONG, LONG>{first, 11}, {first + 1, 10}}) {
    IDispatch* object = m_host.Object(id).GetInterfacePtr();
    ASSERT_EQ(objects->PutValue(_variant_t(at), _variant_t(), _variant_t(object)), S_OK);
  }
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11:2", rows), 6);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL10:0", rows), 7);
  for (const auto& [at, id] : {std::pair<LONG, LONG>{first, 10}, {first + 1, 11}}) {
    IDispatch* object = m_host.Object(id).GetInterfacePtr();
    ASSERT_EQ(objects->PutValue(_variant_t(at), _variant_t(), _variant_t(object)), S_OK);
  }
  // The rows start one place later ("NodeIndices"), the page's objects as
  // they were: pump 10 is no row now, pump 11 the first.
  IKXQAttributePtr indices;
  ASSERT_EQ(page->get_Attribute(_bstr_t(u"NodeIndices"), _variant_t(-1L), &indices), S_OK);
  EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11:2", rows), 9);
  for (const LONG at : {first + 1, first}) {
    ASSERT_EQ(indices->PutValue(_variant_t(2L), _variant_t(), _variant_t(at)), S_OK);
    ASSERT_EQ(helper.InitializePageProperties(page), S_OK);
    EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL11:2", rows), at == first ? 9 : 6);
    EXPECT_EQ(ContinuousListKeyToPosition(helper, u"CL10:0", rows), at == first ? 4 : -1);
  }
  // The row keys of the page as the trigger set-up made them.
  std::vector<std::string> keys;
  for (int32_t p = 1; p <= 10; ++p) {
    _bstr_t key;
    ASSERT_EQ(m_host.main().Workers().GetContinuousListKey(helper, key.GetAddress(), p, page),
              S_OK);
    keys.push_back(key.length() > 0 ? Narrow(key.view()) : "-");
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"1", "2", "3", "CL10:0", "CL10:1", "CL10:2", "CL11:0",
                                            "CL11:1", "CL11:2", "-"}));
  // The set-up grew "Fields" to the fields the page shows.
  IKXQAttributePtr fields;
  ASSERT_EQ(page->get_Attribute(_bstr_t(u"Fields"), _variant_t(-1L), &fields), S_OK);
  LONG count = 0;
  ASSERT_EQ(fields->get_Count(&count), S_OK);
  EXPECT_EQ(count, 9);
}

// Binds the object's trigger `name` to `handler` and records under `key`,
// as that service would, a read of `attribute` of object `read`.
void BindAndWatch(TriggersHost& host, LONG id, const char16_t* name, const char16_t* handler,
                  const char16_t* key, LONG read, const char16_t* attribute) {
  const _com_ptr_t<IKXQTrigger> trigger = host.Trigger(id, name);
  ASSERT_TRUE(trigger);
  ASSERT_EQ(trigger->SetHandler(_bstr_t(handler)), S_OK);
  ASSERT_EQ(trigger->BeginItem(_variant_t(key)), S_OK);
  _variant_t value;
  ASSERT_EQ(kx::test::AttributeOf(host.Object(read), attribute)
                ->GetValue(_variant_t(), _variant_t(), value.GetAddress()),
            S_OK);
  ASSERT_EQ(trigger->EndItem(), S_OK);
}

std::string HandlerOf(IKXQTrigger* trigger) {
  _bstr_t handler;
  EXPECT_EQ(trigger->GetHandler(handler.GetAddress()), S_OK);
  return Narrow(handler.view());
}

TEST_F(TriggersTest, OpeningForEditingLeavesTheTriggersOfAnotherServiceAlone) {
  // Another service watches pump 10's F1 through datasheet 100's
  // "Datasheet" trigger and page 101's "Field" trigger.
  BindAndWatch(m_host, kSheet, u"Datasheet", u"Other.Service", u"theirs", kPump, u"F1");
  BindAndWatch(m_host, kPage, u"Field", u"Other.Service", u"theirs", kPump, u"F1");
  // Page 102's trigger names this service by its versioned ProgID.
  BindAndWatch(m_host, kOwnPage, u"Field", u"kxdbdatasheetsvcs.main.1", u"old", kOwnPump, u"F1");
  const kx::host::RequestResult opened = m_host.host().Request(
      u"OpenDocuments",
      u"<XMLMessage Status=\"1\"><OpenDocuments><Datasheet DocumentId=\"100\" Status=\"1\"/>"
      u"</OpenDocuments></XMLMessage>");
  ASSERT_TRUE(opened.succeeded()) << Narrow(opened.error);
  ASSERT_NE(Narrow(opened.reply).find("<Page PageId=\"101\""), std::string::npos);
  Open(u"102");

  EXPECT_EQ(HandlerOf(m_host.Trigger(kSheet, u"Datasheet")), "Other.Service");
  EXPECT_EQ(HandlerOf(m_host.Trigger(kPage, u"Field")), "Other.Service");
  EXPECT_EQ(HandlerOf(m_host.Trigger(kOwnPage, u"Field")), "KXDBDatasheetSvcs.Main");
  m_host.TakeOtherHandlers();

  // A change the other service watches reaches it, with its key, and not
  // this service: no callback of this service's, no event.
  const kx::host::CallResult changed = m_host.Set(kPump, u"F1", u"changed");
  ASSERT_TRUE(changed.succeeded()) << Narrow(changed.error);
  EXPECT_EQ(m_host.Delivered(), "");
  EXPECT_TRUE(changed.events.empty());
  EXPECT_EQ(m_host.TakeOtherHandlers(), "Other.Service\nOther.Service\n");
  EXPECT_EQ(FiredKeys(m_host.Trigger(kPage, u"Field")), std::vector<std::string>{"theirs"});
  EXPECT_EQ(FiredKeys(m_host.Trigger(kSheet, u"Datasheet")), std::vector<std::string>{"theirs"});

  // The page bound to this service's versioned ProgID was taken up again:
  // its field fires to this service.
  const kx::host::CallResult own = m_host.Set(kOwnPump, u"F1", u"changed");
  ASSERT_TRUE(own.succeeded()) << Narrow(own.error);
  EXPECT_NE(m_host.Delivered().find("trigger Field on #102 fired (keys: "), std::string::npos);
  EXPECT_EQ(m_host.TakeOtherHandlers(), "");
}

TEST_F(TriggersTest, ADatasheetTriggerFiresForItsPageListAndNames) {
  ASSERT_EQ(KXDBDatasheetServices::InitializeDatasheetTrigger(m_host.main(), m_host.Object(kSheet)),
            S_OK);
  const kx::host::CallResult renamed = m_host.Set(kPage, u"Name", u"Renamed %d");
  ASSERT_TRUE(renamed.succeeded()) << Narrow(renamed.error);
  EXPECT_EQ(m_host.Delivered(), "trigger Datasheet on #100 fired (keys: Name)\n");
  ASSERT_EQ(renamed.events.size(), 1u);
  EXPECT_EQ(Narrow(renamed.events[0].message_name), "Datasheet");
  EXPECT_EQ(Narrow(renamed.events[0].key.value_or(u"")), "D1 100");
}

// Workers that record the membership changes of the permanent filter.
class MembershipRecorder : public MainWorkers {
 public:
  HRESULT AddSummarySheetPage(MainContext&, IKXQObject* member, IKXQObject* datasheet,
                              IKXQTemplatePage* templatePage, bool quiet) override {
    calls.push_back("add #" + std::to_string(Id(member)) + " to #" + std::to_string(Id(datasheet)) +
                    (templatePage != nullptr ? " on a template page" : "") +
                    (quiet ? " quietly" : " unless shown"));
    return S_OK;
  }
  HRESULT RemoveObjectFromPage(MainContext&, IKXQObject* page, IKXQObject* object) override {
    calls.push_back("remove #" + std::to_string(Id(object)) + " from #" + std::to_string(Id(page)));
    return S_OK;
  }
  static LONG Id(IKXQObject* object) {
    LONG id = 0;
    if (object != nullptr) (void)object->get_Id(&id);
    return id;
  }
  std::vector<std::string> calls;
};

TEST_F(TriggersTest, APermanentFilterRemovesAMemberThatFailsAndAddsOneThatPasses) {
  MembershipRecorder workers;
  m_host.main().UseWorkers(&workers);
  Main& main = m_host.main();
  ASSERT_EQ(KXDBDatasheetServices::InitializePermanentFilterTrigger(main, m_host.Object(kSummary)),
            S_OK);
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kSummary, u"SSPF");
  // The filter tests record what they read under each object's id.
  IKXQObjectPtr object;
  EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummary), u"10", object, trigger), 1);
  EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummary), u"11", object, trigger), 2);
  // Keys that name no object decide nothing.
  for (const char16_t* key : {u"", u"0", u"-3", u"abc", u"9999"}) {
    EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummary), key, object, trigger), 0);
  }

  ASSERT_TRUE(m_host.Set(kPump, u"F12", u"no").succeeded());
  EXPECT_EQ(m_host.Delivered(), "trigger SSPF on #300 fired (keys: 10)\n");
  const kx::host::CallResult added = m_host.Set(kPump2, u"F12", u"yes");
  ASSERT_TRUE(added.succeeded()) << Narrow(added.error);
  EXPECT_EQ(workers.calls,
            (std::vector<std::string>{"remove #10 from #301",
                                      "add #11 to #300 on a template page unless shown"}));
  ASSERT_EQ(added.events.size(), 1u);
  EXPECT_EQ(Narrow(added.events[0].key.value_or(u"")), "D1 300");
  m_host.main().UseWorkers(nullptr);
}

// The creation event tests an object against a summary's filter as the
// trigger callback does: recorded by the summary's permanent-filter trigger
// under the object's id, so that a later change of what the test read
// brings the object in.
TEST_F(TriggersTest, ACreatedObjectsFilterTestIsRecordedByThePermanentFilter) {
  MembershipRecorder workers;
  m_host.main().UseWorkers(&workers);
  ASSERT_EQ(KXDBDatasheetServices::InitializePermanentFilterTrigger(m_host.main(),
                                                                    m_host.Object(kSummary)),
            S_OK);
  ASSERT_TRUE(m_host.host().ModuleEvent(4, m_host.Object(kPump2), _variant_t()).succeeded());
  EXPECT_TRUE(workers.calls.empty());  // "Ready" fails: no page
  const kx::host::CallResult added = m_host.Set(kPump2, u"F12", u"yes");
  ASSERT_TRUE(added.succeeded()) << Narrow(added.error);
  EXPECT_EQ(workers.calls,
            std::vector<std::string>{"add #11 to #300 on a template page unless shown"});
  m_host.main().UseWorkers(nullptr);
}

TEST_F(TriggersTest, ClaimOnlyWorksAsAPermanentFilter) {
  IKXQAttributePtr filter;
  ASSERT_EQ(
      m_host.Object(kSummary)->get_Attribute(_bstr_t(u"ObjectFilter"), _variant_t(-1L), &filter),
      S_OK);
  ASSERT_EQ(filter->PutValue(_variant_t(), _variant_t(), _variant_t(u"kx_claim_only")), S_OK);
  Main& main = m_host.main();
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kSummary, u"SSPF");
  IKXQObjectPtr object;
  try {
    EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummary), u"10", object, trigger), 1);
    EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummary), u"11", object, trigger), 2);
  } catch (const KXComException& failure) {
    BSTR text = nullptr;
    if (failure.errorInfo != nullptr) (void)failure.errorInfo->GetDescription(&text);
    ADD_FAILURE() << std::hex << failure.hr << " " << Narrow(text != nullptr ? text : u"");
    SysFreeString(text);
  }
}

TEST_F(TriggersTest, ATriggerOfAStatusCopyOrOfANonSummaryDoesNothing) {
  MembershipRecorder workers;
  m_host.main().UseWorkers(&workers);
  Main& main = m_host.main();
  const _com_ptr_t<IKXQTrigger> sspf = m_host.Trigger(kSheet, u"SSPF");
  IKXQObjectPtr object;
  EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSheet), u"10", object, sspf), 0);
  ASSERT_EQ(sspf->BeginItem(_variant_t(u"10")), S_OK);
  ASSERT_EQ(m_host.Text(kPump, u"F1"), "a1");
  ASSERT_EQ(sspf->EndItem(), S_OK);
  Change(m_host, kPump, u"F1", u"x");
  EXPECT_EQ(FiredKeys(sspf), (std::vector<std::string>{"10"}));
  EXPECT_EQ(main.OnTriggerFired(sspf, &m_host.app()), S_OK);
  EXPECT_TRUE(TakePendingFieldEvents(m_host.app()).empty());
  EXPECT_TRUE(workers.calls.empty());

  // The submitted copy 121 is marked by the store: its trigger is ignored.
  const _com_ptr_t<IKXQTrigger> copy = m_host.Trigger(kSubmitted, u"Field");
  ASSERT_EQ(copy->BeginItem(_variant_t(u"0")), S_OK);
  ASSERT_EQ(m_host.Text(kPump, u"F2"), "a2");
  ASSERT_EQ(copy->EndItem(), S_OK);
  Change(m_host, kPump, u"F2", u"y");
  EXPECT_EQ(main.OnTriggerFired(copy, &m_host.app()), S_OK);
  EXPECT_TRUE(TakePendingFieldEvents(m_host.app()).empty());
  EXPECT_EQ(FiredKeys(copy), (std::vector<std::string>{"0"}));
  m_host.main().UseWorkers(nullptr);
}

TEST_F(TriggersTest, AListPositionRecordedUnderItsNumberFiresAsThatPosition) {
  Open(u"201");
  Main& main = m_host.main();
  IKXQObjectPtr page = m_host.Object(kListPage);
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kListPage, u"Field");
  IKXQTemplatePagePtr templatePage;
  ASSERT_EQ(KXDBDatasheetSvcs::GetTemplatePage(&m_host.app(), page, &templatePage, 1), S_OK);
  ASSERT_EQ(RecordContinuousFieldItem(main, page, templatePage, trigger, 8), S_OK);
  Change(m_host, kPump2, u"F2", u"both");
  const std::vector<std::string> keys = FiredKeys(trigger);
  EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()),
            (std::set<std::string>{"CL11:1", "8"}));
  ASSERT_EQ(main.OnTriggerFired(trigger, &m_host.app()), S_OK);
  const auto events = TakePendingFieldEvents(m_host.app());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, (std::vector<int32_t>{8}));
}

}  // namespace

namespace {

// Workers that record rows added to a summary list page.
class ListRecorder : public MainWorkers {
 public:
  HRESULT AddListObject(MainContext&, IKXQObject* object, IKXQObject* page, IKXQTemplatePage*,
                        bool continuous, int32_t row, bool, bool) override {
    calls.push_back("add #" + std::to_string(ObjectIdOf(object)) + " to #" +
                    std::to_string(ObjectIdOf(page)) + (continuous ? " as a row" : "") + " at " +
                    std::to_string(row));
    return S_OK;
  }
  std::vector<std::string> calls;
};

TEST_F(TriggersTest, APageLevelPermanentFilterAddsARowAndPostsAPageEvent) {
  ListRecorder workers;
  m_host.main().UseWorkers(&workers);
  IKXQAttributePtr filter;
  ASSERT_EQ(m_host.Object(kSummaryPage)
                ->get_Attribute(_bstr_t(u"ObjectFilter"), _variant_t(-1L), &filter),
            S_OK);
  ASSERT_EQ(filter->PutValue(_variant_t(), _variant_t(), _variant_t(u"Ready")), S_OK);
  Main& main = m_host.main();
  ASSERT_EQ(
      KXDBDatasheetServices::InitializePermanentFilterTrigger(main, m_host.Object(kSummaryPage)),
      S_OK);
  const _com_ptr_t<IKXQTrigger> trigger = m_host.Trigger(kSummaryPage, u"SSPF");
  IKXQObjectPtr object;
  EXPECT_EQ(main.EvaluatePermanentFilterKey(m_host.Object(kSummaryPage), u"11", object, trigger),
            2);
  const kx::host::CallResult added = m_host.Set(kPump2, u"F12", u"YES");
  ASSERT_TRUE(added.succeeded()) << Narrow(added.error);
  EXPECT_EQ(workers.calls, (std::vector<std::string>{"add #11 to #301 as a row at -1"}));
  ASSERT_EQ(added.events.size(), 1u);
  EXPECT_EQ(Narrow(added.events[0].key.value_or(u"")), "P1 301");
  m_host.main().UseWorkers(nullptr);
}

}  // namespace

namespace {

TEST_F(TriggersTest, AnIssuedFieldReachesThePagesIssuedWithinAThousandthOfADay) {
  m_host.main().UpdateReferencedIssuedFields(m_host.Object(511), u"<String Value=\"x\"/>", 3);
  EXPECT_EQ(m_host.Text(601, u"Fields", 3), "<String Value=\"x\"/>");
  EXPECT_EQ(m_host.Text(611, u"Fields", 3), "");
}

}  // namespace
