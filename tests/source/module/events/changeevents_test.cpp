// Change events: launch, merge with pending events, addressing and the
// event objects' own operations, against a real store and host application.
#include "events/changeevents.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "host/events.h"
#include "support/mainfixture.h"

using kx::test::model::AttachedMain;
using kx::test::model::ModelStore;

namespace {

// Datasheet 10 is held at status 1 by alice (twice, in two spellings) and
// carol, at status 2 by bob; datasheet 20 only at status 3; datasheet 30 by
// nobody. Page 12 has no datasheet.
const char kEventsFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Datasheet" base="GenericClass">
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Page" base="GenericClass"/>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <objects>
  <object id="10" class="Datasheet">
   <value attribute="CurrentPages" ref="11"/>
   <user name="carol" status="1"/>
   <user name="alice" status="1"/>
   <user name="ALICE" status="1"/>
   <user name="bob" status="2"/>
  </object>
  <object id="11" class="Page" owner="10"/>
  <object id="12" class="Page"/>
  <object id="20" class="Datasheet">
   <value attribute="CurrentPages" ref="21"/>
   <user name="dave" status="3"/>
  </object>
  <object id="21" class="Page" owner="20"/>
  <object id="30" class="Datasheet"/>
 </objects>
</store>
)";

struct Delivered {
  std::string key;
  std::string message;
  std::vector<std::string> recipients;
};

std::vector<Delivered> Deliver(ModelStore& store) {
  std::vector<Delivered> out;
  for (const auto& event : store.app().DeliverPendingEvents()) {
    Delivered d;
    d.key = event.key ? kx::test::model::Narrow(event.key->c_str()) : std::string("?");
    d.message = kx::test::model::Narrow(event.message_name.c_str());
    for (const auto& name : event.recipients)
      d.recipients.push_back(kx::test::model::Narrow(name.c_str()));
    out.push_back(d);
  }
  return out;
}

// The one pending event as this module's event (borrowed from the host).
KXQApplicationEventImpl* PendingEvent(ModelStore& store, size_t index = 0) {
  SAFEARRAY* array = nullptr;
  EXPECT_EQ(store.app().GetPendingEvents(&array), S_OK);
  if (array == nullptr) return nullptr;
  IUnknown* item = nullptr;
  LONG at = static_cast<LONG>(index);
  EXPECT_EQ(SafeArrayGetElement(array, &at, &item), S_OK);
  SafeArrayDestroy(array);
  auto* event = dynamic_cast<KXQApplicationEventImpl*>(static_cast<IKXQApplicationEvent*>(item));
  item->Release();  // the host still holds it
  return event;
}

std::vector<int32_t> Ids(const KXFieldLevelEvent* event) {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < event->Ids().GetCount(); ++i) ids.push_back(event->Ids().GetAt(i));
  return ids;
}

class ChangeEvents : public ::testing::Test {
 protected:
  // Events that keep the application would keep it alive past the store.
  void TearDown() override { store_.app().DiscardPendingEvents(); }

  ModelStore store_{kEventsFixture};
  AttachedMain main_{store_};
};

TEST_F(ChangeEvents, FieldEventsOfOnePageMergeIntoOneSortedSet) {
  const IKXQObjectPtr page = store_.Object(11);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 7, 1, false), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 3, 1, false), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 7, 1, false), S_OK);
  ASSERT_EQ(store_.app().pending_count(), 1u);
  auto* event = dynamic_cast<KXDataFieldEvent*>(PendingEvent(store_));
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Ids(event), (std::vector<int32_t>{3, 7}));
  EXPECT_FALSE(event->Refresh());
  const auto delivered = Deliver(store_);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].key, "F1 11");
  EXPECT_EQ(delivered[0].message, "DataField");
  // Recipients in case-insensitive order, alice once, bob (status 2) not.
  EXPECT_EQ(delivered[0].recipients, (std::vector<std::string>{"alice", "carol"}));
}

TEST_F(ChangeEvents, RefreshAskedForWhileAPlainEventIsPendingIsKept) {
  const IKXQObjectPtr page = store_.Object(11);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 2, 1, false), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 5, 1, true), S_OK);
  auto* event = dynamic_cast<KXDataFieldEvent*>(PendingEvent(store_));
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(event->Refresh());
  EXPECT_EQ(Ids(event), (std::vector<int32_t>{2, 5}));
}

TEST_F(ChangeEvents, KindsAndStatusesKeepTheirOwnKeys) {
  const IKXQObjectPtr sheet = store_.Object(10);
  const IKXQObjectPtr page = store_.Object(11);
  EXPECT_EQ(main_->LaunchDatasheetEvent(sheet, 1), S_OK);
  EXPECT_EQ(main_->LaunchDatasheetEvent(sheet, 1), S_OK);  // absorbed
  EXPECT_EQ(main_->LaunchPageEvent(page, 1), S_OK);
  EXPECT_EQ(main_->LaunchUnitFieldEvent(page, 0, 1), S_OK);
  EXPECT_EQ(main_->LaunchAnnotationFieldEvent(page, 4, 1), S_OK);
  EXPECT_EQ(main_->LaunchQualifierEvent(page, 2, 1), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 1, 2, false), S_OK);  // bob
  const auto delivered = Deliver(store_);
  std::vector<std::string> keys;
  std::vector<std::string> messages;
  for (const auto& d : delivered) {
    keys.push_back(d.key);
    messages.push_back(d.message);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"D1 10", "P1 11", "U1 11", "A1 11", "Q1 11", "F2 11"}));
  EXPECT_EQ(messages, (std::vector<std::string>{"Datasheet", "Datasheet", "UnitField",
                                                "AnnotationField", "Qualifier", "DataField"}));
  EXPECT_EQ(delivered.back().recipients, (std::vector<std::string>{"bob"}));
}

TEST_F(ChangeEvents, NothingIsPostedWithoutAUserAtThatStatus) {
  EXPECT_EQ(main_->LaunchPageEvent(store_.Object(21), 1), S_OK);       // dave holds it at 3
  EXPECT_EQ(main_->LaunchDatasheetEvent(store_.Object(30), 1), S_OK);  // nobody
  EXPECT_EQ(main_->LaunchDataFieldEvent(store_.Object(12), 1, 1, false), S_OK);  // no datasheet
  EXPECT_EQ(main_->LaunchPageEvent(nullptr, 1), S_OK);
  EXPECT_EQ(store_.app().pending_count(), 0u);
  EXPECT_EQ(main_->LaunchPageEvent(store_.Object(21), 3), S_OK);
  EXPECT_EQ(store_.app().pending_count(), 1u);
}

TEST_F(ChangeEvents, AFailedPostOrPendingListFailsTheLaunch) {
  // The host's pending events of the key, asked for by every launch.
  store_.app().failures().Add("GetPendingEventsOfKey", E_FAIL, u"no pending list", 1);
  EXPECT_EQ(main_->LaunchDatasheetEvent(store_.Object(10), 1), E_FAIL);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("no pending list"), std::string::npos);
  store_.app().failures().Add("PostEvent", E_OUTOFMEMORY, u"host is full", 1);
  EXPECT_EQ(main_->LaunchDatasheetEvent(store_.Object(10), 1), E_OUTOFMEMORY);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("host is full"), std::string::npos);
  EXPECT_EQ(store_.app().pending_count(), 0u);
}

// A launch asks the host for its pending events of the key, not for the
// whole list, and merges into the one it holds whatever the host has read
// of it; one the host discarded takes nothing more.
TEST_F(ChangeEvents, LaunchesMergeIntoThePendingEventOfTheirKeyThatTheHostFinds) {
  store_.app().failures().Add("GetPendingEvents", E_FAIL, u"no pending list");
  const IKXQObjectPtr page = store_.Object(11);
  for (int32_t field : {9, 4, 9, 6})
    EXPECT_EQ(main_->LaunchDataFieldEvent(page, field, 1, false), S_OK);
  EXPECT_EQ(main_->LaunchPageEvent(page, 1), S_OK);
  EXPECT_EQ(main_->LaunchPageEvent(page, 1), S_OK);
  ASSERT_EQ(store_.app().pending_count(), 2u);
  store_.app().failures().Clear();
  auto* first = dynamic_cast<KXDataFieldEvent*>(PendingEvent(store_));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Ids(first), (std::vector<int32_t>{4, 6, 9}));

  LONG count = 0;
  EXPECT_EQ(first->get_Count(&count), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 2, 1, false), S_OK);
  ASSERT_EQ(store_.app().pending_count(), 2u);
  EXPECT_EQ(Ids(first), (std::vector<int32_t>{2, 4, 6, 9}));

  store_.app().DiscardPendingEvents();
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 5, 1, false), S_OK);
  EXPECT_EQ(main_->LaunchDataFieldEvent(page, 1, 1, false), S_OK);
  ASSERT_EQ(store_.app().pending_count(), 1u);
  EXPECT_EQ(Ids(dynamic_cast<KXDataFieldEvent*>(PendingEvent(store_))),
            (std::vector<int32_t>{1, 5}));
}

// A pending event of another service: no IDatasheetEvent, so it is skipped.
class ForeignEvent final : public IKXQApplicationEvent {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, kx_uuidof<IKXQApplicationEvent>())) {
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IKXQApplicationEvent*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE get_Item(LONG, BSTR*) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE SerializeEvent(BSTR*, BSTR*) override { return E_NOTIMPL; }
  ULONG refs = 0;
};

TEST_F(ChangeEvents, PendingEventsOfOtherServicesAreSkipped) {
  ForeignEvent foreign;
  ASSERT_EQ(store_.app().PostEvent(&foreign), S_OK);
  EXPECT_EQ(main_->LaunchDatasheetEvent(store_.Object(10), 1), S_OK);
  EXPECT_EQ(main_->LaunchDatasheetEvent(store_.Object(10), 1), S_OK);
  EXPECT_EQ(store_.app().pending_count(), 2u);
  store_.app().DiscardPendingEvents();
  EXPECT_EQ(foreign.refs, 0u);
}

TEST(ChangeEventKey, NegativeAndExtremeNumbersAreWrittenInFull) {
  auto* unit = new KXUnitFieldEvent(nullptr, INT32_MIN, -12, 0);
  const _com_ptr_t<IKXQApplicationEvent> heldUnit(unit, true);
  EXPECT_EQ(kx::test::model::Narrow(unit->Key()), "U-12 -2147483648");
  auto* qualifier = new KXQualifierEvent(nullptr, INT32_MAX, 0, 0);
  const _com_ptr_t<IKXQApplicationEvent> heldQualifier(qualifier, true);
  EXPECT_EQ(kx::test::model::Narrow(qualifier->Key()), "Q0 2147483647");
}

TEST_F(ChangeEvents, EventOperationsRefuseBadArgumentsAndRebuildTheKey) {
  EXPECT_EQ(main_->LaunchUnitFieldEvent(store_.Object(11), 3, 1), S_OK);
  KXQApplicationEventImpl* event = PendingEvent(store_);
  ASSERT_NE(event, nullptr);
  LONG count = 0;
  EXPECT_EQ(event->get_Count(nullptr), E_POINTER);
  EXPECT_EQ(event->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(event->get_Item(1, nullptr), E_POINTER);
  for (LONG index : {0L, 3L, -1L}) {
    BSTR name = SysAllocString(u"stale");
    BSTR before = name;
    EXPECT_EQ(event->get_Item(index, &name), E_INVALIDARG) << index;
    EXPECT_EQ(name, nullptr);
    SysFreeString(before);
  }
  BSTR name = nullptr;
  EXPECT_EQ(event->get_Item(2, &name), S_OK);
  EXPECT_EQ(kx::test::model::Narrow(name), "carol");
  SysFreeString(name);
  EXPECT_EQ(kx::test::model::Narrow(event->Key()), "U1 11");
  event->ClearKey();
  EXPECT_EQ(kx::test::model::Narrow(event->Key()), "U1 11");

  // Only IUnknown, IKXQApplicationEvent and IDatasheetEvent are answered.
  void* face = nullptr;
  EXPECT_EQ(event->QueryInterface(IID_IDispatch, &face), E_NOINTERFACE);
  EXPECT_EQ(face, nullptr);
  EXPECT_EQ(event->QueryInterface(kx_uuidof<IDatasheetEvent>(), &face), S_OK);
  static_cast<IDatasheetEvent*>(face)->Release();

  // Detach hands the set over whole and leaves the event empty.
  SortedIdArray taken;
  EXPECT_EQ(static_cast<IDatasheetEvent*>(event)->Detach(&taken), S_OK);
  EXPECT_EQ(taken.GetCount(), 1);
  EXPECT_EQ(taken.GetAt(0), 3);
  EXPECT_EQ(dynamic_cast<KXFieldLevelEvent*>(event)->Ids().GetCount(), 0);
  EXPECT_EQ(static_cast<IDatasheetEvent*>(event)->Detach(nullptr), E_POINTER);

  BSTR message = nullptr;
  BSTR xml = nullptr;
  EXPECT_EQ(event->SerializeEvent(&message, &xml), S_OK);
  EXPECT_EQ(kx::test::model::Narrow(message), "UnitField");
  SysFreeString(message);
  SysFreeString(xml);
}

}  // namespace
