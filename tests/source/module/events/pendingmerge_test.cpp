// Merging a change event into the one the host holds pending, end to end on
// the sample plant: two "SetRealField" requests on page 1011 (fields 103
// and 104) with the host holding the events between calls, while the host
// does what a host of one's own may do with what it holds. Each case runs
// on the host library's application as it is, which finds pending events by
// key, and on one that does not offer that lookup, so that the module walks
// its whole pending list.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "host/reply.h"
#include "support/cataloguetest.h"

namespace kx::test::inprocess {
namespace {

using kx::host::Ref;

// The field ids an event's XML shows, "103 104".
std::string FieldsOf(const std::string& xml) {
  static const std::regex field("FieldId=\"([0-9]+)\"");
  std::string fields;
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), field); it != std::sregex_iterator();
       ++it) {
    fields += (fields.empty() ? "" : " ") + (*it)[1].str();
  }
  return fields;
}

// The host library's application behind a host's own: every operation
// forwarded, except that the lookup by key may be hidden and that each
// event may be delivered inside its post (read whole, a reference kept)
// instead of being held.
class OwnApplication final : public kx::host::internal::DispatchObject<IKXQApplication>,
                             public IKXQPendingEventLookup {
 public:
  OwnApplication(kx::host::Application& inner, bool lookup) : inner_(inner), lookup_(lookup) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualGUID(iid, kx_uuidof<IKXQPendingEventLookup>()))
      return DispatchObject::QueryInterface(iid, out);
    *out = lookup_ ? static_cast<IKXQPendingEventLookup*>(this) : nullptr;
    if (!lookup_) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }
  HRESULT GetPendingEventsOfKey(BSTR key, SAFEARRAY** events) override {
    return inner_.GetPendingEventsOfKey(key, events);
  }

  HRESULT PostEvent(IKXQApplicationEvent* event) override {
    if (!deliver_on_post) return inner_.PostEvent(event);
    kept.emplace_back(event);
    BSTR message = nullptr;
    BSTR xml = nullptr;
    LONG count = 0;
    EXPECT_EQ(event->get_Count(&count), S_OK);
    EXPECT_EQ(event->SerializeEvent(&message, &xml), S_OK);
    delivered.push_back(FieldsOf(xml ? Narrow(xml) : std::string()));
    SysFreeString(message);
    SysFreeString(xml);
    return S_OK;
  }
  HRESULT GetPendingEvents(SAFEARRAY** events) override { return inner_.GetPendingEvents(events); }

  HRESULT get_Schema(IKXQSchema** out) override { return inner_.get_Schema(out); }
  HRESULT get_Database(IKXQDatabase** out) override { return inner_.get_Database(out); }
  HRESULT get_TemplateLibrary(IKXQTemplateLibrary** out) override {
    return inner_.get_TemplateLibrary(out);
  }
  HRESULT get_Settings(IKXQSettings** out) override { return inner_.get_Settings(out); }
  HRESULT get_Journal(IKXQJournal** out) override { return inner_.get_Journal(out); }
  HRESULT get_Privileges(IKXQPrivileges** out) override { return inner_.get_Privileges(out); }
  HRESULT get_ActiveProject(IKXQProject** out) override { return inner_.get_ActiveProject(out); }
  HRESULT get_RootProject(IKXQProject** out) override { return inner_.get_RootProject(out); }
  HRESULT SwitchEvaluation(LONG mode, VARIANT* previous) override {
    return inner_.SwitchEvaluation(mode, previous);
  }
  HRESULT get_CurrentDatasheet(IKXQObject** out) override {
    return inner_.get_CurrentDatasheet(out);
  }
  HRESULT put_CurrentDatasheet(IKXQObject* in) override { return inner_.put_CurrentDatasheet(in); }
  HRESULT get_CurrentPage(IKXQObject** out) override { return inner_.get_CurrentPage(out); }
  HRESULT put_CurrentPage(IKXQObject* in) override { return inner_.put_CurrentPage(in); }
  HRESULT LogWarning(BSTR text) override { return inner_.LogWarning(text); }
  HRESULT LogNotice(BSTR text) override { return inner_.LogNotice(text); }
  HRESULT ShowMessage(BSTR text) override { return inner_.ShowMessage(text); }
  HRESULT LogDiagnostic(BSTR text) override { return inner_.LogDiagnostic(text); }
  HRESULT GetLocalPrivileges(SAFEARRAY** out) override { return inner_.GetLocalPrivileges(out); }
  HRESULT BeginObjectCreation() override { return inner_.BeginObjectCreation(); }
  HRESULT EndObjectCreation() override { return inner_.EndObjectCreation(); }
  HRESULT get_ClassConfirmation(IKXQClassConfirmation** out) override {
    return inner_.get_ClassConfirmation(out);
  }
  HRESULT CreateObjectCollection(IKXQObjectCollection** out) override {
    return inner_.CreateObjectCollection(out);
  }
  HRESULT CreateHold(BSTR name, VARIANT reason, IKXQObject** hold) override {
    return inner_.CreateHold(name, reason, hold);
  }
  HRESULT CloseHold(IKXQObject* hold, VARIANT reason) override {
    return inner_.CloseHold(hold, reason);
  }
  HRESULT BeginTemplateWork() override { return inner_.BeginTemplateWork(); }
  HRESULT EndTemplateWork() override { return inner_.EndTemplateWork(); }
  HRESULT get_RebuildMode(VARIANT_BOOL* mode) override { return inner_.get_RebuildMode(mode); }
  HRESULT put_RebuildMode(VARIANT_BOOL mode) override { return inner_.put_RebuildMode(mode); }
  HRESULT GetService(BSTR name, IDispatch** service) override {
    return inner_.GetService(name, service);
  }

  bool deliver_on_post = false;
  // The fields of each event delivered inside its post, and the events.
  std::vector<std::string> delivered;
  std::vector<Ref<IKXQApplicationEvent>> kept;

 private:
  kx::host::Application& inner_;
  const bool lookup_;
};

// GetParam(): whether the application the module sees finds pending events
// by key.
class PendingMergeTest : public CatalogueTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    own_ = kx::host::MakeRef<OwnApplication>(host_.application(), GetParam());
    // The module posts through the host's own application from now on.
    ASSERT_EQ(service_->Attach(own_.get()), S_OK);
    host_.SetHoldEvents(true);
  }
  void TearDown() override {
    if (second_) second_->Detach();
    own_->kept.clear();
    CatalogueTest::TearDown();
  }

  static std::u16string SetText(int field, int value) {
    const std::string text =
        "<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetRealField "
        "PageId=\"1011\" FieldId=\"" +
        std::to_string(field) + "\" Value=\"" + std::to_string(value) + "\"/></XMLMessage>";
    return std::u16string(text.begin(), text.end());
  }
  kx::host::RequestResult Set(int field, int value) {
    return host_.Request(u"SetRealField", SetText(field, value));
  }
  // The fields of each event delivered now.
  std::vector<std::string> DeliverHeld() {
    const kx::host::CallResult result = host_.DeliverHeldEvents();
    EXPECT_TRUE(result.succeeded()) << Narrow(result.error);
    std::vector<std::string> events;
    for (const kx::host::DeliveredEvent& event : result.events)
      events.push_back(FieldsOf(Narrow(event.xml.value_or(u""))));
    return events;
  }

  Ref<OwnApplication> own_;
  Ref<IKXQDataService> second_;
};

TEST_P(PendingMergeTest, AnEventDroppedUnreadTakesNothingMoreThoughReleasedLater) {
  ASSERT_TRUE(Set(103, 395).succeeded());
  // The host keeps references of its own to what it holds, drops the
  // pending events unread and lets go of its references later.
  SAFEARRAY* references = nullptr;
  ASSERT_EQ(host_.application().GetPendingEvents(&references), S_OK);
  ASSERT_NE(references, nullptr);
  host_.application().DiscardPendingEvents();
  ASSERT_TRUE(Set(104, 12).succeeded());
  SafeArrayDestroy(references);
  EXPECT_EQ(DeliverHeld(), std::vector<std::string>{"104"});
}

TEST_P(PendingMergeTest, AnEventWhoseRecipientsTheHostReadStillTakesLaterChanges) {
  ASSERT_TRUE(Set(103, 395).succeeded());
  SAFEARRAY* pending = nullptr;
  ASSERT_EQ(host_.application().GetPendingEvents(&pending), S_OK);
  ASSERT_NE(pending, nullptr);
  LONG at = 0;
  IUnknown* item = nullptr;
  ASSERT_EQ(SafeArrayGetElement(pending, &at, &item), S_OK);
  SafeArrayDestroy(pending);
  LONG count = 0;
  BSTR name = nullptr;
  EXPECT_EQ(static_cast<IKXQApplicationEvent*>(item)->get_Count(&count), S_OK);
  EXPECT_EQ(static_cast<IKXQApplicationEvent*>(item)->get_Item(1, &name), S_OK);
  EXPECT_EQ(Narrow(name), "bob");
  SysFreeString(name);
  item->Release();
  ASSERT_TRUE(Set(104, 12).succeeded());
  EXPECT_EQ(host_.application().pending_count(), 1u);
  EXPECT_EQ(DeliverHeld(), std::vector<std::string>{"103 104"});
}

TEST_P(PendingMergeTest, APendingListThatCannotBeReadFailsTheChange) {
  host_.application().failures().Add(GetParam() ? "GetPendingEventsOfKey" : "GetPendingEvents",
                                     E_FAIL, u"the pending events are out of reach");
  const kx::host::RequestResult set = Set(103, 395);
  EXPECT_EQ(set.hr, E_FAIL);
  EXPECT_NE(Narrow(set.error).find("the pending events are out of reach"), std::string::npos)
      << Narrow(set.error);
  EXPECT_EQ(host_.application().pending_count(), 0u);
}

TEST_P(PendingMergeTest, AnEventDeliveredInsideItsPostTakesNothingMore) {
  own_->deliver_on_post = true;
  ASSERT_TRUE(Set(103, 395).succeeded());
  ASSERT_TRUE(Set(104, 12).succeeded());
  EXPECT_EQ(own_->delivered, (std::vector<std::string>{"103", "104"}));
  EXPECT_TRUE(DeliverHeld().empty());
}

TEST_P(PendingMergeTest, ASecondMainOnTheSameApplicationMergesIntoTheFirstOnesEvent) {
  second_ = CreateInProcessMain(&MainWorkers::Defaults());
  ASSERT_TRUE(second_);
  ASSERT_EQ(second_->Attach(own_.get()), S_OK);
  ASSERT_TRUE(Set(103, 395).succeeded());
  const auto context =
      kx::host::MakeRef<kx::host::RequestContext>(kx::host::MakeRef<kx::host::Response>());
  ASSERT_EQ(second_->ProcessRequest(_bstr_t(u"SetRealField"), _bstr_t(SetText(104, 12).c_str()),
                                    context.get()),
            S_OK);
  EXPECT_EQ(DeliverHeld(), std::vector<std::string>{"103 104"});
}

INSTANTIATE_TEST_SUITE_P(Hosts, PendingMergeTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "LookupByKey" : "WholeList";
                         });

}  // namespace
}  // namespace kx::test::inprocess
