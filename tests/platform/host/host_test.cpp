// The Host driving a module: a small fake IKXQDataService whose behaviour
// each test sets, and a fake store session that records transactions and
// hands out notifications.
#include "host/host.h"

#include <functional>
#include <gtest/gtest.h>

#include "fake_event.h"
#include "host/errors.h"
#include "host/internal/xml_text.h"
#include "test_util.h"

namespace kx::host::test {
namespace {

using internal::Fail;
using test::Bstr;
using test::FakeEvent;
using test::LaunchEvent;
using test::U8;
using test::Var;

class FakeObject final : public internal::DispatchObject<IDispatch> {
 public:
  explicit FakeObject(std::u16string class_name = u"Datasheet")
      : class_name(std::move(class_name)) {}
  IKXQObject* AsObject() { return reinterpret_cast<IKXQObject*>(static_cast<IDispatch*>(this)); }
  static FakeObject* From(IKXQObject* object) {
    return static_cast<FakeObject*>(reinterpret_cast<IDispatch*>(object));
  }
  std::u16string class_name;
};

// The module: each operation calls its hook when set; Attach keeps the
// application as a module does.
class FakeModule final : public internal::DispatchObject<IKXQDataService> {
 public:
  std::function<HRESULT(IKXQRegistrar*)> on_startup;
  std::function<HRESULT(std::u16string, std::u16string, IKXQRequestContext*)> on_request;
  std::function<HRESULT(LONG, IKXQObject*, VARIANT*)> on_event;
  std::function<HRESULT(IKXQTrigger*)> on_trigger;
  std::function<HRESULT(LONG, IKXQObject*, IDispatch**)> on_services;
  std::function<HRESULT(LONG, IKXQObject*, VARIANT*)> on_method;

  Ref<IKXQApplication> application;
  int detaches = 0;

  HRESULT StartUp(IKXQRegistrar* registrar) override {
    return on_startup ? on_startup(registrar) : S_OK;
  }
  HRESULT ProcessRequest(BSTR name, BSTR text, IKXQRequestContext* context) override {
    return on_request ? on_request(std::u16string(internal::BstrView(name)),
                                   std::u16string(internal::BstrView(text)), context)
                      : S_OK;
  }
  HRESULT TriggerFired(IKXQTrigger* trigger, IKXQApplication*) override {
    return on_trigger ? on_trigger(trigger) : S_OK;
  }
  HRESULT GetObjectServices(LONG kind, VARIANT, IKXQObject* object, IKXQApplication*,
                            IDispatch** services) override {
    *services = nullptr;
    return on_services ? on_services(kind, object, services) : E_UNEXPECTED;
  }
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT RunMethod(LONG id, VARIANT, IKXQObject* object, VARIANT, IKXQApplication*,
                    VARIANT* result) override {
    return on_method ? on_method(id, object, result) : S_OK;
  }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT OnDatabaseEvent(LONG kind, IKXQObject* object, VARIANT* arguments) override {
    return on_event ? on_event(kind, object, arguments) : S_OK;
  }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Attach(IKXQApplication* app) override {
    application = Ref<IKXQApplication>(app);
    return S_OK;
  }
  HRESULT Detach() override {
    ++detaches;
    application = nullptr;
    return S_OK;
  }
  HRESULT ProcessRequestWithResponse(BSTR, BSTR, IKXQRequestContext*, VARIANT) override {
    return E_FAIL;
  }
};

// Records transactions; hands out queued notifications; classes by name.
class FakeSession final : public StoreSession {
 public:
  HRESULT Begin() override {
    log += "begin;";
    return S_OK;
  }
  HRESULT Commit() override {
    log += "commit;";
    return commit_result == S_OK ? S_OK : Fail(commit_result, u"Disk full");
  }
  HRESULT Rollback() override {
    log += "rollback;";
    return S_OK;
  }
  std::vector<StoreNotification> TakeNotifications() override { return std::move(queued); }
  bool IsOfClass(IKXQObject* object, std::u16string_view class_name) override {
    return FakeObject::From(object)->class_name == class_name || (class_name == u"GenericClass");
  }

  void QueueEvent(LONG kind, FakeObject* object, LONG argument = 0) {
    StoreNotification notification;
    notification.event_kind = kind;
    notification.object = internal::StoreRef<IKXQObject>(object->AsObject());
    if (argument) {
      notification.arguments.vt = VT_I4;
      notification.arguments.lVal = argument;
    }
    queued.push_back(notification);
  }

  std::string log;
  HRESULT commit_result = S_OK;
  std::vector<StoreNotification> queued;
};

// Writes an element through `context`'s response.
HRESULT WriteElement(IKXQRequestContext* context, std::u16string_view name,
                     IKXQXMLAttributes* attributes = nullptr) {
  IKXQResponse* response = nullptr;
  context->get_Response(&response);
  const HRESULT hr = response->WriteElement(Bstr(name), attributes, nullptr);
  response->Release();
  return hr;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.journal().Capture();
    ASSERT_EQ(S_OK, host_.Attach(module_.get()));
  }

  FakeEvent* NewEvent(std::u16string key, int id) {
    return new FakeEvent(std::move(key), id, {u"jdoe"}, &alive_);
  }

  int alive_ = 0;
  Ref<FakeModule> module_ = MakeRef<FakeModule>();
  Host host_;
};

TEST_F(HostTest, AttachHandsTheModuleTheApplicationAndDetachTakesItBack) {
  EXPECT_EQ(static_cast<IKXQApplication*>(&host_.application()), module_->application.get());
  host_.Detach();
  EXPECT_EQ(1, module_->detaches);
  EXPECT_FALSE(module_->application);
  const auto result = host_.Request(u"ListTemplates", u"");
  EXPECT_EQ(E_UNEXPECTED, result.hr);
  EXPECT_EQ(u"No module is attached", result.error);
}

// Attaching the module that is attached already, when the host holds its
// only reference: the detach must not release it before it is attached
// again (caught by the address sanitizer as a use after free).
TEST(HostAttachTest, AttachingTheAttachedModuleAgainKeepsItAlive) {
  Host host;
  FakeModule* module = nullptr;
  {
    Ref<FakeModule> made = MakeRef<FakeModule>();
    module = made.get();
    ASSERT_EQ(S_OK, host.Attach(made.get()));
  }
  ASSERT_EQ(S_OK, host.Attach(host.module()));
  EXPECT_EQ(static_cast<IKXQDataService*>(module), host.module());
  EXPECT_EQ(1, module->detaches);
  EXPECT_EQ(static_cast<IKXQApplication*>(&host.application()), module->application.get());
}

TEST_F(HostTest, StartUpRegistersWithTheHostsRegistrar) {
  module_->on_startup = [](IKXQRegistrar* registrar) {
    registrar->RegisterService(Bstr(u"KXDBDatasheetSvcs.Main"));
    Var kind = Var::I4(2), filter = Var::Str(u"GenericClass");
    return registrar->Subscribe(2, *kind, *filter, VARIANT_FALSE);
  };
  const auto result = host_.StartUp();
  ASSERT_TRUE(result.succeeded());
  EXPECT_EQ((std::vector<std::string>{"RegisterService(KXDBDatasheetSvcs.Main)",
                                      "Subscribe(2, 2, GenericClass, false)"}),
            host_.registrar().CallTexts());
}

TEST_F(HostTest, FailedStartUpReportsTheRegistrarsError) {
  host_.registrar().FailCall("DeclarePrivilege", E_ACCESSDENIED, u"Privileges are locked");
  module_->on_startup = [](IKXQRegistrar* registrar) {
    return registrar->DeclarePrivilege(Bstr(u"P"), Bstr(u"G"), Bstr(u"D"));
  };
  const auto result = host_.StartUp();
  EXPECT_EQ(E_ACCESSDENIED, result.hr);
  EXPECT_EQ(u"Privileges are locked", result.error);
}

TEST_F(HostTest, RequestGivesTheReplyAsTheModuleWroteIt) {
  module_->on_request = [](std::u16string name, std::u16string text,
                           IKXQRequestContext* context) -> HRESULT {
    EXPECT_EQ(u"OpenPage", name);
    EXPECT_EQ(u"42", text);
    IKXQResponse* response = nullptr;
    context->get_Response(&response);
    IKXQXMLAttributes* list = nullptr;
    response->NewAttributes(&list);
    Var target = Var::Str(u"42"), status = Var::I4(1);
    list->Add(Bstr(u"TargetId"), *target);
    list->Add(Bstr(u"Status"), *status);
    response->StartElement(Bstr(u"XMLMessage"), list);
    list->Clear();
    response->SendText(Bstr(u"<Page Id=\"42\"/>"));
    response->Flush();
    response->EndElement(Bstr(u"XMLMessage"));
    response->EndReply();
    response->EndReply();  // the module ends once more after its handler
    list->Release();
    response->Release();
    context->Report(Bstr(u"noted"));
    return S_OK;
  };
  const auto result = host_.Request(u"OpenPage", u"42");
  ASSERT_TRUE(result.succeeded()) << U8(result.error);
  EXPECT_EQ(R"(<XMLMessage TargetId="42" Status="1"><Page Id="42"/></XMLMessage>)",
            U8(result.reply));
  EXPECT_EQ(std::vector<std::u16string>{u"noted"}, result.reports);
}

TEST_F(HostTest, AttributeListKeptFromAnEarlierRequestServesLaterOnes) {
  Ref<IKXQXMLAttributes> kept;
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext* context) {
    if (!kept) {
      IKXQResponse* response = nullptr;
      context->get_Response(&response);
      IKXQXMLAttributes* list = nullptr;
      response->NewAttributes(&list);
      response->Release();
      kept = Ref<IKXQXMLAttributes>::Adopt(list);
    }
    Var id = Var::I4(7);
    kept->Add(Bstr(u"Id"), *id);
    const HRESULT hr = WriteElement(context, u"Item", kept.get());
    kept->Clear();
    return hr;
  };
  ASSERT_TRUE(host_.Request(u"A", u"").succeeded());
  const auto second = host_.Request(u"A", u"");
  ASSERT_TRUE(second.succeeded());
  EXPECT_EQ(R"(<Item Id="7"/>)", U8(second.reply));
}

// The module's chain repeats one description on each frame's line: the
// result gives it once as plain text, escapes undone; a text of the host's
// own is its own description.
TEST_F(HostTest, AFailureGivesItsFirstDescriptionAsPlainText) {
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) {
    return Fail(E_FAIL,
                u"<KXError Desc=\"Datasheet1 &quot;P&amp;ID&quot; &lt;gone&gt;&#10;It may have "
                u"been deleted &#x2014; by another user\" HR=\"E_FAIL\" />\n"
                u"<KXError Desc=\"Datasheet1 &quot;P&amp;ID&quot; &lt;gone&gt;&#10;It may have "
                u"been deleted &#x2014; by another user\" Activity=\"Parsing\" HR=\"E_FAIL\" />");
  };
  const auto failed = host_.Request(u"CompareDocuments", u"<XMLMessage/>");
  EXPECT_EQ(E_FAIL, failed.hr);
  EXPECT_EQ(u"Datasheet1 \"P&ID\" <gone>\nIt may have been deleted \u2014 by another user",
            failed.description);
  EXPECT_NE(std::u16string::npos, failed.error.find(u"Activity=\"Parsing\""));
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) {
    return Fail(E_FAIL, u"Reply refused");
  };
  EXPECT_EQ(u"Reply refused", host_.Request(u"A", u"").description);
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) { return S_OK; };
  EXPECT_EQ(u"", host_.Request(u"A", u"").description);
  host_.Detach();
  EXPECT_EQ(u"No module is attached", host_.Request(u"A", u"").description);
}

TEST_F(HostTest, FailedRequestKeepsNothingOfItsReplyOrEvents) {
  Ref<IKXQRequestContext> kept;
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext* context) {
    kept = Ref<IKXQRequestContext>(context);  // modules hold it after a failure
    WriteElement(context, u"XMLMessage");
    LaunchEvent(module_->application.get(), NewEvent(u"F1 42", 1));
    return Fail(E_INVALIDARG, u"<KXError Desc=\"Invalid status\"/>");
  };
  const auto result = host_.Request(u"SetRealField", u"<XMLMessage/>");
  EXPECT_EQ(E_INVALIDARG, result.hr);
  EXPECT_EQ(u"<KXError Desc=\"Invalid status\"/>", result.error);
  EXPECT_EQ(u"", result.reply);
  EXPECT_TRUE(result.events.empty());
  EXPECT_EQ(0, alive_);
  EXPECT_EQ(0u, host_.application().pending_count());
  // The response is closed: a late write by the module changes nothing.
  EXPECT_EQ(E_UNEXPECTED, WriteElement(kept.get(), u"Late"));
}

TEST_F(HostTest, EventsOfASuccessfulRequestAreDeliveredAfterIt) {
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) {
    LaunchEvent(module_->application.get(), NewEvent(u"F1 42", 7));
    LaunchEvent(module_->application.get(), NewEvent(u"F1 42", 3));
    return S_OK;
  };
  const auto result = host_.Request(u"SetRealField", u"");
  ASSERT_TRUE(result.succeeded());
  ASSERT_EQ(1u, result.events.size());
  EXPECT_EQ(u"<XMLMessage Key=\"F1 42\"><Field Id=\"3\"/><Field Id=\"7\"/></XMLMessage>",
            result.events[0].xml.value_or(u""));
  EXPECT_EQ(0, alive_);
}

TEST_F(HostTest, WarningsAndMessagesBelongToTheCallThatMadeThem) {
  module_->on_request = [&](std::u16string name, std::u16string, IKXQRequestContext*) {
    if (name == u"A") module_->application->LogWarning(Bstr(u"first"));
    return S_OK;
  };
  EXPECT_EQ(std::vector<std::u16string>{u"first"}, host_.Request(u"A", u"").warnings);
  EXPECT_TRUE(host_.Request(u"B", u"").warnings.empty());
}

TEST_F(HostTest, InjectedResponseFailureReachesTheModuleInEveryLaterRequest) {
  host_.response_failures().Add("WriteElement", E_ACCESSDENIED, u"Reply refused");
  module_->on_request = [](std::u16string, std::u16string, IKXQRequestContext* context) {
    return WriteElement(context, u"Item");
  };
  for (int i = 0; i < 2; ++i) {
    const auto result = host_.Request(u"A", u"");
    EXPECT_EQ(E_ACCESSDENIED, result.hr);
    EXPECT_EQ(u"Reply refused", result.error);
  }
  host_.response_failures().Clear();
  EXPECT_TRUE(host_.Request(u"A", u"").succeeded());
}

TEST_F(HostTest, EachCallRunsInOneTransaction) {
  FakeSession session;
  host_.SetStoreSession(&session);
  module_->on_request = [](std::u16string name, std::u16string, IKXQRequestContext*) {
    return name == u"Bad" ? Fail(E_FAIL, u"no") : S_OK;
  };
  ASSERT_TRUE(host_.Request(u"Good", u"").succeeded());
  ASSERT_FALSE(host_.Request(u"Bad", u"").succeeded());
  EXPECT_EQ("begin;commit;begin;rollback;", session.log);
}

TEST_F(HostTest, FailedCommitFailsTheRequestAndDropsReplyAndEvents) {
  FakeSession session;
  session.commit_result = E_OUTOFMEMORY;
  host_.SetStoreSession(&session);
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext* context) {
    WriteElement(context, u"Done");
    return LaunchEvent(module_->application.get(), NewEvent(u"D1 1", 0));
  };
  const auto result = host_.Request(u"RenamePage", u"");
  EXPECT_EQ(E_OUTOFMEMORY, result.hr);
  EXPECT_EQ(u"Disk full", result.error);
  EXPECT_EQ(u"", result.reply);
  EXPECT_TRUE(result.events.empty());
  EXPECT_EQ("begin;commit;rollback;", session.log);
  EXPECT_EQ(0, alive_);
}

TEST_F(HostTest, DatabaseEventsGoToMatchingSubscriptionsWithTheirLocalKind) {
  FakeSession session;
  host_.SetStoreSession(&session);
  module_->on_startup = [](IKXQRegistrar* registrar) {
    Var create = Var::I4(1), copy = Var::I4(4), sheets = Var::Str(u"Datasheet"),
        pumps = Var::Str(u"Pump");
    registrar->Subscribe(1, *create, *sheets, VARIANT_FALSE);
    registrar->Subscribe(3, *copy, *sheets, VARIANT_FALSE);
    return registrar->Subscribe(9, *create, *pumps, VARIANT_FALSE);
  };
  ASSERT_TRUE(host_.StartUp().succeeded());
  std::vector<LONG> kinds;
  module_->on_event = [&](LONG kind, IKXQObject*, VARIANT*) {
    kinds.push_back(kind);
    return S_OK;
  };
  Ref<FakeObject> sheet = MakeRef<FakeObject>(u"Datasheet");
  VARIANT none;
  VariantInit(&none);
  ASSERT_TRUE(host_.DatabaseEvent(1, sheet->AsObject(), none).succeeded());
  EXPECT_EQ(std::vector<LONG>{1}, kinds);
  ASSERT_TRUE(host_.DatabaseEvent(4, sheet->AsObject(), none).succeeded());
  EXPECT_EQ((std::vector<LONG>{1, 3}), kinds);
  ASSERT_TRUE(host_.DatabaseEvent(7, sheet->AsObject(), none).succeeded());
  EXPECT_EQ((std::vector<LONG>{1, 3}), kinds);
}

TEST_F(HostTest, ChangesOfACallRaiseDatabaseEventsAndTriggersAfterIt) {
  FakeSession session;
  host_.SetStoreSession(&session);
  module_->on_startup = [](IKXQRegistrar* registrar) {
    Var deleted = Var::I4(2), generic = Var::Str(u"GenericClass");
    return registrar->Subscribe(2, *deleted, *generic, VARIANT_FALSE);
  };
  ASSERT_TRUE(host_.StartUp().succeeded());
  EXPECT_EQ("begin;commit;", session.log);  // start-up is a call like any other
  session.log.clear();
  Ref<FakeObject> page = MakeRef<FakeObject>(u"Page");
  std::string calls;
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) {
    calls += "request;";
    session.QueueEvent(2, page.get(), 5);
    return S_OK;
  };
  module_->on_event = [&](LONG kind, IKXQObject* object, VARIANT* arguments) {
    calls += "event " + std::to_string(kind) + ";";
    EXPECT_EQ(page->AsObject(), object);
    EXPECT_EQ(VT_I4, arguments->vt);
    EXPECT_EQ(5, arguments->lVal);
    StoreNotification trigger;
    trigger.kind = StoreNotification::Kind::kTrigger;
    session.queued.push_back(trigger);
    return S_OK;
  };
  module_->on_trigger = [&](IKXQTrigger*) {
    calls += "trigger;";
    return S_OK;
  };
  ASSERT_TRUE(host_.Request(u"DeletePage", u"5").succeeded());
  EXPECT_EQ("request;event 2;trigger;", calls);
  EXPECT_EQ("begin;commit;", session.log);
}

TEST_F(HostTest, TriggersThatKeepFiringEndInAFailureNotAHang) {
  FakeSession session;
  host_.SetStoreSession(&session);
  int fired = 0;
  auto refire = [&] {
    StoreNotification trigger;
    trigger.kind = StoreNotification::Kind::kTrigger;
    session.queued.push_back(trigger);
  };
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext*) {
    refire();
    return S_OK;
  };
  module_->on_trigger = [&](IKXQTrigger*) {
    ++fired;
    refire();
    return S_OK;
  };
  const auto result = host_.Request(u"SetStringField", u"");
  EXPECT_EQ(E_FAIL, result.hr);
  EXPECT_NE(std::u16string::npos, result.error.find(u"kept arising"));
  EXPECT_EQ(Host::kMaxNotificationRounds, fired);
  EXPECT_EQ("begin;rollback;", session.log);
  EXPECT_TRUE(session.queued.empty());  // nothing left over for the next call
}

TEST_F(HostTest, FailingTriggerFailsTheCallThatCausedIt) {
  FakeSession session;
  host_.SetStoreSession(&session);
  module_->on_request = [&](std::u16string, std::u16string, IKXQRequestContext* context) {
    StoreNotification trigger;
    trigger.kind = StoreNotification::Kind::kTrigger;
    session.queued.push_back(trigger);
    return WriteElement(context, u"Done");
  };
  module_->on_trigger = [](IKXQTrigger*) { return Fail(E_FAIL, u"Trigger failed"); };
  const auto result = host_.Request(u"SetStringField", u"");
  EXPECT_EQ(E_FAIL, result.hr);
  EXPECT_EQ(u"Trigger failed", result.error);
  EXPECT_EQ(u"", result.reply);
  EXPECT_EQ("begin;rollback;", session.log);
}

// An automation object with one method "Echo" that joins its arguments.
class EchoService final : public internal::DispatchObject<IDispatch> {
 public:
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    if (std::u16string_view(names[0]) != u"Echo") return DISP_E_UNKNOWNNAME;
    ids[0] = 3;
    return S_OK;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != 3) return DISP_E_MEMBERNOTFOUND;
    std::u16string text;
    for (UINT i = params->cArgs; i-- > 0;) text += internal::BstrView(params->rgvarg[i].bstrVal);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
  }
};

TEST_F(HostTest, ObjectServiceMethodsAreCalledByNameWithArgumentsInOrder) {
  Ref<FakeObject> sheet = MakeRef<FakeObject>();
  module_->on_services = [&](LONG kind, IKXQObject* object, IDispatch** services) -> HRESULT {
    if (kind != 10) return E_UNEXPECTED;
    EXPECT_EQ(sheet->AsObject(), object);
    *services = MakeRef<EchoService>().Detach();
    return S_OK;
  };
  Var a = Var::Str(u"a"), b = Var::Str(u"b");
  const auto result = host_.CallObjectService(10, sheet->AsObject(), u"Echo", {*a, *b});
  ASSERT_TRUE(result.succeeded()) << U8(result.error);
  EXPECT_EQ(VT_BSTR, result.type);
  EXPECT_EQ(u"ab", result.value);
  EXPECT_EQ(E_UNEXPECTED, host_.CallObjectService(12, sheet->AsObject(), u"Echo").hr);
  const auto missing = host_.CallObjectService(10, sheet->AsObject(), u"Nope");
  EXPECT_EQ(DISP_E_UNKNOWNNAME, missing.hr);
  EXPECT_EQ(u"The object service has no method Nope", missing.error);
}

TEST_F(HostTest, RunMethodGivesTheMethodsResult) {
  module_->on_method = [](LONG id, IKXQObject*, VARIANT* result) -> HRESULT {
    if (id == 1) return Fail(E_FAIL, u"The name can only be set via the Datasheet Editor");
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(u"Sheet 1");
    return S_OK;
  };
  Ref<FakeObject> sheet = MakeRef<FakeObject>();
  const auto name = host_.RunMethod(0, sheet->AsObject());
  ASSERT_TRUE(name.succeeded());
  EXPECT_EQ(u"Sheet 1", name.value);
  const auto refused = host_.RunMethod(1, sheet->AsObject());
  EXPECT_EQ(E_FAIL, refused.hr);
  EXPECT_EQ(u"The name can only be set via the Datasheet Editor", refused.error);
}

}  // namespace
}  // namespace kx::host::test
