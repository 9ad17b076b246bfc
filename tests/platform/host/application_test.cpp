// The application object: pending change events (posting, merging by key,
// delivery, discarding), the current document slots and the tables and
// texts modules read and leave.
#include <gtest/gtest.h>

#include "fake_event.h"
#include "host/errors.h"
#include "host/host_application.h"
#include "host/project_update.h"
#include "test_util.h"

namespace kx::host::test {
namespace {

using test::Bstr;
using test::FakeEvent;
using test::LaunchEvent;

// Stands in for a store object: only reference counts matter here.
class FakeObject final : public internal::DispatchObject<IDispatch> {
 public:
  IKXQObject* AsObject() { return reinterpret_cast<IKXQObject*>(static_cast<IDispatch*>(this)); }
  ULONG Count() {
    AddRef();
    return Release();
  }
};

class ApplicationTest : public ::testing::Test {
 protected:
  FakeEvent* NewEvent(std::u16string key, int id, std::vector<std::u16string> to = {u"jdoe"}) {
    return new FakeEvent(std::move(key), id, std::move(to), &alive_);
  }

  int alive_ = 0;
  Ref<Application> app_ =
      MakeRef<Application>(MakeRef<Settings>(), MakeRef<Journal>(), MakeRef<Privileges>());
};

TEST_F(ApplicationTest, EventsOfOneKeyMergeIntoTheFirstPendingOne) {
  bool merged = true;
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"F1 42", 7), &merged));
  EXPECT_FALSE(merged);
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"F1 42", 3), &merged));
  EXPECT_TRUE(merged);
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"F1 43", 5), &merged));
  EXPECT_FALSE(merged);
  EXPECT_EQ(2u, app_->pending_count());
  EXPECT_EQ(2, alive_);  // the merged event is gone

  const auto delivered = app_->DeliverPendingEvents();
  ASSERT_EQ(2u, delivered.size());
  EXPECT_EQ(u"DataField", delivered[0].message_name);
  EXPECT_EQ(u"<XMLMessage Key=\"F1 42\"><Field Id=\"3\"/><Field Id=\"7\"/></XMLMessage>",
            delivered[0].xml.value_or(u"none"));
  EXPECT_EQ(u"<XMLMessage Key=\"F1 43\"><Field Id=\"5\"/></XMLMessage>",
            delivered[1].xml.value_or(u"none"));
  EXPECT_EQ(std::vector<std::u16string>{u"jdoe"}, delivered[0].recipients);
  EXPECT_EQ(0u, app_->pending_count());
  EXPECT_EQ(0, alive_);  // delivered events are released
}

TEST_F(ApplicationTest, DeliveryStartsAFreshPendingListForMerging) {
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"F1 42", 1)));
  app_->DeliverPendingEvents();
  bool merged = true;
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"F1 42", 2), &merged));
  EXPECT_FALSE(merged);
  EXPECT_EQ(1u, app_->pending_count());
}

TEST_F(ApplicationTest, DiscardReleasesEventsUnread) {
  FakeEvent* event = NewEvent(u"D1 9", 0);
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), event));
  ASSERT_EQ(1, alive_);
  app_->DiscardPendingEvents();
  EXPECT_EQ(0, alive_);
  EXPECT_TRUE(app_->DeliverPendingEvents().empty());
}

TEST_F(ApplicationTest, PendingListIsNullWhenEmptyAndHoldsUnknownsInPostingOrder) {
  SAFEARRAY* pending = reinterpret_cast<SAFEARRAY*>(1);
  ASSERT_EQ(S_OK, app_->GetPendingEvents(&pending));
  EXPECT_EQ(nullptr, pending);
  FakeEvent* first = NewEvent(u"A", 1);
  FakeEvent* second = NewEvent(u"B", 2);
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), first));
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), second));
  ASSERT_EQ(S_OK, app_->GetPendingEvents(&pending));
  ASSERT_NE(nullptr, pending);
  EXPECT_EQ(1u, SafeArrayGetDim(pending));
  VARTYPE type = VT_EMPTY;
  ASSERT_EQ(S_OK, SafeArrayGetVartype(pending, &type));
  EXPECT_EQ(VT_UNKNOWN, type);
  LONG index = 1;
  IUnknown* item = nullptr;
  ASSERT_EQ(S_OK, SafeArrayGetElement(pending, &index, &item));
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IKXQApplicationEvent*>(second)), item);
  item->Release();
  SafeArrayDestroy(pending);
  EXPECT_EQ(2, alive_);  // the array's references are gone with it, the host's remain
}

// The lookup by key answers from the pending list as it is: each event under
// the "Key" it answered when posted, in posting order, gone with the list's
// tail, its delivery or its discarding.
TEST_F(ApplicationTest, PendingEventsOfAKeyAreThoseOfThePendingList) {
  const auto of_key = [&](const char16_t* key) {
    IKXQPendingEventLookup* lookup = nullptr;
    EXPECT_EQ(S_OK,
              app_->QueryInterface(IID_IKXQPendingEventLookup, reinterpret_cast<void**>(&lookup)));
    SAFEARRAY* found = nullptr;
    EXPECT_EQ(S_OK, lookup->GetPendingEventsOfKey(Bstr(key), &found));
    lookup->Release();
    std::vector<IUnknown*> events;
    LONG upper = -1;
    if (found) {
      EXPECT_EQ(S_OK, SafeArrayGetUBound(found, 1, &upper));
    }
    for (LONG i = 0; i <= upper; ++i) {
      IUnknown* item = nullptr;
      EXPECT_EQ(S_OK, SafeArrayGetElement(found, &i, &item));
      events.push_back(item);
      item->Release();  // the host still holds it
    }
    SafeArrayDestroy(found);
    return events;
  };
  const auto face = [](FakeEvent* event) {
    return static_cast<IUnknown*>(static_cast<IKXQApplicationEvent*>(event));
  };
  FakeEvent* first = NewEvent(u"F1 42", 1);
  FakeEvent* other = NewEvent(u"F1 43", 2);
  FakeEvent* unkeyed = NewEvent(u"F1 42", 3);
  unkeyed->keyed = false;
  FakeEvent* second = NewEvent(u"F1 42", 4);
  for (FakeEvent* event : {first, other, unkeyed, second}) ASSERT_EQ(S_OK, app_->PostEvent(event));
  EXPECT_EQ(of_key(u"F1 42"), (std::vector<IUnknown*>{face(first), face(second)}));
  EXPECT_TRUE(of_key(u"f1 42").empty());
  app_->DiscardPendingEventsAfter(2);
  EXPECT_EQ(of_key(u"F1 42"), std::vector<IUnknown*>{face(first)});
  EXPECT_EQ(2, alive_);
  app_->failures().Add("GetPendingEventsOfKey", E_FAIL, u"unreadable", 1);
  SAFEARRAY* found = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(E_FAIL, app_->GetPendingEventsOfKey(Bstr(u"F1 43"), &found));
  EXPECT_EQ(nullptr, found);
  EXPECT_EQ(of_key(u"F1 43"), std::vector<IUnknown*>{face(other)});
  EXPECT_EQ(2u, app_->DeliverPendingEvents().size());
  EXPECT_TRUE(of_key(u"F1 42").empty());
}

TEST_F(ApplicationTest, EventThatCannotBuildItsDocumentIsDeliveredWithoutXml) {
  FakeEvent* event = NewEvent(u"F1 1", 1);
  event->fail_serialise = true;
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), event));
  const auto delivered = app_->DeliverPendingEvents();
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ(u"DataField", delivered[0].message_name);
  EXPECT_FALSE(delivered[0].xml);
}

TEST_F(ApplicationTest, PostingNothingFails) { EXPECT_EQ(E_POINTER, app_->PostEvent(nullptr)); }

TEST_F(ApplicationTest, CurrentDatasheetAndPageHoldAReferenceUntilReplaced) {
  Ref<FakeObject> sheet = MakeRef<FakeObject>();
  const ULONG before = sheet->Count();
  ASSERT_EQ(S_OK, app_->put_CurrentDatasheet(sheet->AsObject()));
  EXPECT_EQ(before + 1, sheet->Count());
  IKXQObject* got = nullptr;
  ASSERT_EQ(S_OK, app_->get_CurrentDatasheet(&got));
  EXPECT_EQ(sheet->AsObject(), got);
  reinterpret_cast<IUnknown*>(got)->Release();
  ASSERT_EQ(S_OK, app_->put_CurrentDatasheet(nullptr));
  EXPECT_EQ(before, sheet->Count());
  ASSERT_EQ(S_OK, app_->get_CurrentPage(&got));
  EXPECT_EQ(nullptr, got);
}

TEST_F(ApplicationTest, LocalPrivilegeTableHasOneRowPerPrivilege) {
  SAFEARRAY* table = reinterpret_cast<SAFEARRAY*>(1);
  ASSERT_EQ(S_OK, app_->GetLocalPrivileges(&table));
  EXPECT_EQ(nullptr, table);
  app_->privileges().AddLocalPrivilege(u"Edit", true);
  app_->privileges().AddLocalPrivilege(u"Issue", false);
  ASSERT_EQ(S_OK, app_->GetLocalPrivileges(&table));
  ASSERT_EQ(2u, SafeArrayGetDim(table));
  LONG upper = 0;
  SafeArrayGetUBound(table, 1, &upper);
  EXPECT_EQ(1, upper);
  SafeArrayGetUBound(table, 2, &upper);
  EXPECT_EQ(1, upper);
  VARIANT cell;
  VariantInit(&cell);
  LONG index[2] = {1, 0};
  ASSERT_EQ(S_OK, SafeArrayGetElement(table, index, &cell));
  EXPECT_EQ(u"Issue", std::u16string(cell.bstrVal));
  VariantClear(&cell);
  index[1] = 1;
  ASSERT_EQ(S_OK, SafeArrayGetElement(table, index, &cell));
  EXPECT_EQ(VT_BOOL, cell.vt);
  EXPECT_EQ(VARIANT_FALSE, cell.boolVal);
  SafeArrayDestroy(table);
}

TEST_F(ApplicationTest, BracketsMustBalance) {
  EXPECT_EQ(E_UNEXPECTED, app_->EndObjectCreation());
  EXPECT_EQ(S_OK, app_->BeginTemplateWork());
  EXPECT_EQ(S_OK, app_->BeginTemplateWork());
  EXPECT_EQ(2, app_->template_work_depth());
  EXPECT_EQ(S_OK, app_->EndTemplateWork());
  EXPECT_EQ(S_OK, app_->EndTemplateWork());
  EXPECT_EQ(E_UNEXPECTED, app_->EndTemplateWork());
}

TEST_F(ApplicationTest, SwitchesGiveBackTheirPreviousValue) {
  VARIANT previous;
  VariantInit(&previous);
  ASSERT_EQ(S_OK, app_->SwitchEvaluation(-1, &previous));
  EXPECT_EQ(VT_I4, previous.vt);
  EXPECT_EQ(0, previous.lVal);
  ASSERT_EQ(S_OK, app_->SwitchEvaluation(0, &previous));
  EXPECT_EQ(-1, previous.lVal);
  VARIANT_BOOL mode = VARIANT_TRUE;
  ASSERT_EQ(S_OK, app_->get_RebuildMode(&mode));
  EXPECT_EQ(VARIANT_FALSE, mode);
  ASSERT_EQ(S_OK, app_->put_RebuildMode(VARIANT_TRUE));
  EXPECT_TRUE(app_->rebuild_mode());
}

TEST_F(ApplicationTest, TextsAreCollectedAndServicesFoundByName) {
  ASSERT_EQ(S_OK, app_->LogWarning(Bstr(u"careful")));
  ASSERT_EQ(S_OK, app_->ShowMessage(nullptr));
  EXPECT_EQ(std::vector<std::u16string>{u"careful"}, app_->warnings());
  EXPECT_EQ(std::vector<std::u16string>{u""}, app_->messages());

  IDispatch* service = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(E_INVALIDARG, app_->GetService(Bstr(u"DrawingServices"), &service));
  EXPECT_EQ(nullptr, service);
  Ref<FakeObject> drawing = MakeRef<FakeObject>();
  app_->AddService(u"DrawingServices", drawing.get());
  ASSERT_EQ(S_OK, app_->GetService(Bstr(u"DrawingServices"), &service));
  EXPECT_EQ(static_cast<IDispatch*>(drawing.get()), service);
  service->Release();
}

TEST_F(ApplicationTest, WithoutAStoreThereAreNoStoreObjectsAndNoHolds) {
  IKXQDatabase* database = reinterpret_cast<IKXQDatabase*>(1);
  ASSERT_EQ(S_OK, app_->get_Database(&database));
  EXPECT_EQ(nullptr, database);
  IKXQObject* hold = nullptr;
  VARIANT reason;
  VariantInit(&reason);
  EXPECT_EQ(E_NOTIMPL, app_->CreateHold(Bstr(u"H"), reason, &hold));
  EXPECT_EQ(nullptr, hold);
}

TEST_F(ApplicationTest, HandsOutItsSettingsJournalAndPrivileges) {
  IKXQSettings* settings = nullptr;
  ASSERT_EQ(S_OK, app_->get_Settings(&settings));
  EXPECT_EQ(static_cast<IKXQSettings*>(&app_->settings()), settings);
  settings->Release();
  IKXQJournal* journal = nullptr;
  ASSERT_EQ(S_OK, app_->get_Journal(&journal));
  EXPECT_EQ(static_cast<IKXQJournal*>(&app_->journal()), journal);
  journal->Release();
}

TEST_F(ApplicationTest, InjectedFailureHitsTheChosenCallAndNullsItsOutput) {
  app_->failures().Add("PostEvent", E_OUTOFMEMORY, u"No room for events", 1, 1);
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"A", 1)));
  EXPECT_EQ(E_OUTOFMEMORY, LaunchEvent(app_.get(), NewEvent(u"B", 2)));
  EXPECT_EQ(u"No room for events", internal::TakeErrorDescription());
  ASSERT_EQ(S_OK, LaunchEvent(app_.get(), NewEvent(u"C", 3)));
  EXPECT_EQ(2u, app_->pending_count());
  EXPECT_EQ(2, alive_);  // the refused event is not kept

  app_->failures().Add("get_Settings", E_FAIL, u"No settings");
  IKXQSettings* settings = reinterpret_cast<IKXQSettings*>(1);
  EXPECT_EQ(E_FAIL, app_->get_Settings(&settings));
  EXPECT_EQ(nullptr, settings);
  EXPECT_EQ(E_FAIL, app_->get_Settings(&settings));  // every call from then on
  app_->failures().Clear();
  ASSERT_EQ(S_OK, app_->get_Settings(&settings));
  settings->Release();
}

TEST(ProjectUpdateTest, KeepsEachReportedObjectOnceWithAReference) {
  Ref<FakeObject> sheet = MakeRef<FakeObject>();
  Ref<FakeObject> other = MakeRef<FakeObject>();
  const ULONG before = sheet->Count();
  {
    Ref<ProjectUpdate> update = MakeRef<ProjectUpdate>();
    IKXQProjectUpdate* face = update.get();
    ASSERT_EQ(S_OK, face->ReportChangedObject(sheet->AsObject()));
    ASSERT_EQ(S_OK, face->ReportChangedObject(other->AsObject()));
    ASSERT_EQ(S_OK, face->ReportChangedObject(sheet->AsObject()));
    EXPECT_EQ(E_POINTER, face->ReportChangedObject(nullptr));
    EXPECT_EQ((std::vector<IKXQObject*>{sheet->AsObject(), other->AsObject()}),
              update->changed_objects());
    EXPECT_EQ(before + 1, sheet->Count());
  }
  EXPECT_EQ(before, sheet->Count());
}

}  // namespace
}  // namespace kx::host::test
