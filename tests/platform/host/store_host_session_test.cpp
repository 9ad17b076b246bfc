// The store session driven by the host's driver against a real store file,
// with a fake module in place of the service.
//
// The host is started on the store as every host starts one
// (host/startup.h). FakeModule model: start-up registers the service
// "Fake.Module", declares the privilege "EditPumps" and subscribes local
// kind 1 to the store's create events of class "Pump".
// Each call appends one line to `log` ("request", "event KIND #ID",
// "trigger NAME") and then runs the test's hook for it, if any, whose
// result is the call's; hooks change the store through its interfaces as
// the real module would.
#include "host/store_host_session.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "host/errors.h"
#include "host/host.h"
#include "host/registrar.h"
#include "host/startup.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"

namespace {

using kx::host::Host;
using kx::host::MakeRef;
using kx::host::Ref;
using kx::host::StoreHostSession;

HRESULT Failure(const char16_t* text) {
  ICreateErrorInfo* create = nullptr;
  CreateErrorInfo(&create);
  create->SetDescription(const_cast<LPOLESTR>(text));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
  return E_FAIL;
}

class FakeModule final : public kx::host::internal::DispatchObject<IKXQDataService> {
 public:
  std::vector<std::string> log;
  std::function<HRESULT()> on_request;
  std::function<HRESULT(IKXQTrigger*)> on_trigger;
  std::function<HRESULT(LONG, IKXQObject*)> on_event;
  IKXQApplication* application() const { return application_.get(); }

  HRESULT attach_result = S_OK;

  HRESULT StartUp(IKXQRegistrar* registrar) override {
    registrar->RegisterService(_bstr_t(u"Fake.Module"));
    registrar->DeclarePrivilege(_bstr_t(u"EditPumps"), _bstr_t(u"Pumps"), _bstr_t(u""));
    return registrar->Subscribe(1, _variant_t(1L), _variant_t(u"Pump"), VARIANT_FALSE);
  }
  HRESULT ProcessRequest(BSTR, BSTR, IKXQRequestContext*) override {
    log.push_back("request");
    return on_request ? on_request() : S_OK;
  }
  HRESULT TriggerFired(IKXQTrigger* trigger, IKXQApplication*) override {
    _bstr_t name;
    trigger->GetName(name.GetAddress());
    log.push_back("trigger " + name.utf8());
    return on_trigger ? on_trigger(trigger) : S_OK;
  }
  HRESULT GetObjectServices(LONG, VARIANT, IKXQObject*, IKXQApplication*,
                            IDispatch** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT RunMethod(LONG, VARIANT, IKXQObject*, VARIANT, IKXQApplication*, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT OnDatabaseEvent(LONG kind, IKXQObject* object, VARIANT*) override {
    LONG id = 0;
    object->get_Id(&id);
    log.push_back("event " + std::to_string(kind) + " #" + std::to_string(id));
    return on_event ? on_event(kind, object) : S_OK;
  }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Attach(IKXQApplication* application) override {
    if (FAILED(attach_result)) return Failure(u"not this host");
    application_ = Ref<IKXQApplication>(application);
    return S_OK;
  }
  HRESULT Detach() override {
    application_ = nullptr;
    return S_OK;
  }
  HRESULT ProcessRequestWithResponse(BSTR name, BSTR text, IKXQRequestContext* context,
                                     VARIANT) override {
    return ProcessRequest(name, text, context);
  }

 private:
  Ref<IKXQApplication> application_;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxqsession-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    OpenStore(kx::store::OpenMode::kCreate);
    ASSERT_TRUE(store_->ImportFixtureFile(std::string(KX_HOST_TEST_PLANT)).ok());
    session_ = std::make_unique<StoreHostSession>(*store_);
    ASSERT_EQ(kx::host::ConnectStore(host_, *store_, *session_, CLSID{}), S_OK);
    const kx::host::CallResult started =
        kx::host::StartModule(host_, module_.get(), {u"ann", u"Mechanical", {u"IssueDocument"}});
    ASSERT_TRUE(started.succeeded()) << _bstr_t(started.error.c_str()).utf8();
  }
  void TearDown() override {
    host_.Detach();
    host_.SetStoreSession(nullptr);
    session_.reset();
    store_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void OpenStore(kx::store::OpenMode mode) {
    store_.reset();
    ASSERT_TRUE(kx::store::Store::Open(dir_ + "/plant.db", mode, &store_).ok());
  }

  _com_ptr_t<IKXQObject> Object(LONG id) {
    _com_ptr_t<IKXQObject> object;
    EXPECT_EQ(store_->Database()->get_Object(id, &object), S_OK) << id;
    return object;
  }
  _com_ptr_t<IKXQAttribute> Attribute(LONG id, const char16_t* name) {
    _com_ptr_t<IKXQAttribute> attribute;
    EXPECT_EQ(Object(id)->get_Attribute(_bstr_t(name), _variant_t(-1L), &attribute), S_OK);
    return attribute;
  }
  HRESULT Put(LONG id, const char16_t* name, const _variant_t& value) {
    return Attribute(id, name)->PutValue(_variant_t(), _variant_t(), value);
  }
  std::string Text(LONG id, const char16_t* name) {
    _variant_t value;
    EXPECT_EQ(Attribute(id, name)->GetValue(_variant_t(), _variant_t(), value.GetAddress()), S_OK);
    if (value.vt == VT_EMPTY) return "(empty)";
    return _bstr_t(value).utf8();
  }
  LONG Create(const char16_t* class_name) {
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQClass> cls;
    _com_ptr_t<IKXQObject> made;
    store_->Database()->get_Schema(&schema);
    schema->get_Class(_bstr_t(class_name), &cls);
    if (FAILED(cls->CreateInstance(&made))) return 0;
    LONG id = 0;
    made->get_Id(&id);
    return id;
  }
  bool Exists(LONG id) {
    VARIANT_BOOL exists = VARIANT_FALSE;
    store_->Database()->ObjectExists(id, &exists);
    return exists == VARIANT_TRUE;
  }
  // A trigger on object `owner` with `handler`, whose item `key` read
  // attribute `name` of object `read`.
  void Watch(LONG owner, const char16_t* trigger_name, const char16_t* handler, const char16_t* key,
             LONG read, const char16_t* name) {
    _com_ptr_t<IKXQTrigger> trigger;
    ASSERT_EQ(Object(owner)->get_Trigger(_bstr_t(trigger_name), &trigger), S_OK);
    ASSERT_EQ(trigger->SetHandler(_bstr_t(handler)), S_OK);
    ASSERT_EQ(trigger->BeginItem(_variant_t(key)), S_OK);
    _variant_t ignored;
    Attribute(read, name)->GetValue(_variant_t(), _variant_t(), ignored.GetAddress());
    ASSERT_EQ(trigger->EndItem(), S_OK);
  }

  std::string dir_;
  std::unique_ptr<kx::store::Store> store_;
  std::unique_ptr<StoreHostSession> session_;
  Ref<FakeModule> module_ = MakeRef<FakeModule>();
  Host host_;
};

TEST_F(SessionTest, AFailedCallRollsBackItsChangesAndRaisesNothing) {
  const long objects = store_->ObjectCount();
  module_->on_request = [&] {
    Put(20, u"Tag", _variant_t(u"Changed"));
    Create(u"Pump");
    return Failure(u"the request failed");
  };
  const auto result = host_.Request(u"Any", u"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_EQ(result.error, u"the request failed");
  EXPECT_EQ(Text(20, u"Tag"), "P-101");
  EXPECT_EQ(store_->ObjectCount(), objects);
  EXPECT_FALSE(store_->InTransaction());
  EXPECT_EQ(module_->log, (std::vector<std::string>{"request"}));
  // The next call starts clean: nothing of the failed one is delivered.
  module_->on_request = nullptr;
  EXPECT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(module_->log, (std::vector<std::string>{"request", "request"}));
}

// Another process holds the store's write lock past the wait (here a second
// connection to the file, which keeps it until told): the call fails with the
// store's busy code before the module sees it, changes nothing, and the same
// call, tried again once the lock is free, does its work.
TEST_F(SessionTest, ACallOnABusyStoreChangesNothingAndSucceedsWhenTriedAgain) {
  store_->SetLockTimeout(50);
  std::unique_ptr<kx::store::Store> other;
  ASSERT_TRUE(
      kx::store::Store::Open(dir_ + "/plant.db", kx::store::OpenMode::kOpenExisting, &other).ok());
  ASSERT_TRUE(other->Begin().ok());
  module_->on_request = [&] { return Put(20, u"Tag", _variant_t(u"Changed")); };
  const auto busy = host_.Request(u"Any", u"");
  EXPECT_EQ(busy.hr, KXQ_E_BUSY);
  EXPECT_EQ(_bstr_t(busy.error.c_str()).utf8(),
            "The object store is busy: another process kept it locked for more than 0.05 s; "
            "nothing was changed");
  EXPECT_TRUE(module_->log.empty());
  EXPECT_FALSE(store_->InTransaction());
  ASSERT_TRUE(other->Rollback().ok());
  EXPECT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(module_->log, (std::vector<std::string>{"request"}));
  EXPECT_EQ(Text(20, u"Tag"), "Changed");
}

TEST_F(SessionTest, ASuccessfulCallCommitsAndDeliversCreateEventsAfterIt) {
  LONG pump = 0;
  module_->on_request = [&] {
    pump = Create(u"Pump");
    Create(u"Page");  // not of the subscribed class
    return Put(20, u"Tag", _variant_t(u"Kept"));
  };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(module_->log,
            (std::vector<std::string>{"request", "event 1 #" + std::to_string(pump)}));
  EXPECT_EQ(session_->delivered().size(), 2u);
  host_.Detach();
  session_.reset();
  OpenStore(kx::store::OpenMode::kOpenExisting);
  EXPECT_TRUE(Exists(pump));
  EXPECT_EQ(Text(20, u"Tag"), "Kept");
}

TEST_F(SessionTest, ChangedObjectsAreListedForTheLastCallOnly) {
  module_->on_request = [&] {
    Put(20, u"Tag", _variant_t(u"A"));
    Put(21, u"Tag", _variant_t(u"B"));
    Put(20, u"Speed", _variant_t(3L));
    return Put(20, u"Tag", _variant_t(u"C"));
  };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  ASSERT_EQ(session_->changes().size(), 2u);
  EXPECT_EQ(session_->changes()[0].id, 20);
  EXPECT_EQ(session_->changes()[0].attributes, (std::vector<std::u16string>{u"Tag", u"Speed"}));
  EXPECT_EQ(session_->changes()[1].id, 21);
  module_->on_request = [&] {
    Put(21, u"Speed", _variant_t(4L));
    return Failure(u"no");
  };
  EXPECT_FALSE(host_.Request(u"Any", u"").succeeded());
  EXPECT_TRUE(session_->changes().empty());
}

TEST_F(SessionTest, AnObjectCreatedAndDeletedInOneCallRaisesNothing) {
  module_->on_request = [&] {
    const LONG pump = Create(u"Pump");
    return Object(pump)->Delete();
  };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(module_->log, (std::vector<std::string>{"request"}));
}

TEST_F(SessionTest, AFailingCreateEventRollsBackTheCallThatCausedIt) {
  module_->on_request = [&] {
    Create(u"Pump");
    return Put(20, u"Tag", _variant_t(u"Lost"));
  };
  module_->on_event = [](LONG, IKXQObject*) { return Failure(u"the handler refused"); };
  const long objects = store_->ObjectCount();
  const auto result = host_.Request(u"Any", u"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_EQ(result.error, u"the handler refused");
  EXPECT_EQ(Text(20, u"Tag"), "P-101");
  EXPECT_EQ(store_->ObjectCount(), objects);
}

TEST_F(SessionTest, TriggersOfTheModuleAreCalledBackOncePerRoundOthersNever) {
  Watch(10, u"Mine", u"Fake.Module", u"k1", 20, u"Tag");
  Watch(10, u"Mine", u"Fake.Module", u"k2", 20, u"Length");
  Watch(10, u"Theirs", u"Other.Module", u"k1", 20, u"Tag");
  module_->on_request = [&] {
    Put(20, u"Tag", _variant_t(u"New"));
    return Put(20, u"Length", _variant_t(2.0));
  };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(module_->log, (std::vector<std::string>{"request", "trigger Mine"}));
  EXPECT_EQ(session_->delivered(),
            (std::vector<std::string>{"trigger Mine on #10 fired (keys: k1, k2)"}));
}

TEST_F(SessionTest, ATriggerThatKeepsFiringEndsInAFailureAndChangesNothing) {
  Watch(10, u"Loop", u"Fake.Module", u"k", 20, u"Tag");
  int round = 0;
  module_->on_request = [&] { return Put(20, u"Tag", _variant_t(u"Start")); };
  module_->on_trigger = [&](IKXQTrigger* trigger) {
    trigger->ClearFiredKeys();
    return Put(20, u"Tag", _variant_t(std::to_string(++round).c_str()));
  };
  const auto result = host_.Request(u"Any", u"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(result.error.find(u"kept arising"), std::u16string::npos);
  EXPECT_EQ(round, Host::kMaxNotificationRounds);
  EXPECT_EQ(Text(20, u"Tag"), "P-101");
  EXPECT_FALSE(store_->InTransaction());
}

TEST_F(SessionTest, AHostChangeJoinsTheNextCallAndEndsWithIt) {
  ASSERT_EQ(session_->BeginHostChange(), S_OK);
  ASSERT_EQ(Put(20, u"Tag", _variant_t(u"Host")), S_OK);
  const LONG pump = Create(u"Pump");
  module_->on_event = [](LONG, IKXQObject*) { return Failure(u"no"); };
  VARIANT none;
  VariantInit(&none);
  EXPECT_FALSE(host_.DatabaseEvent(-1, nullptr, none).succeeded());
  EXPECT_EQ(Text(20, u"Tag"), "P-101");
  EXPECT_FALSE(Exists(pump));

  module_->on_event = nullptr;
  ASSERT_EQ(session_->BeginHostChange(), S_OK);
  ASSERT_EQ(Put(20, u"Tag", _variant_t(u"Host")), S_OK);
  const LONG kept = Create(u"Pump");
  EXPECT_TRUE(host_.DatabaseEvent(-1, nullptr, none).succeeded());
  EXPECT_EQ(Text(20, u"Tag"), "Host");
  EXPECT_TRUE(Exists(kept));
  EXPECT_EQ(module_->log.back(), "event 1 #" + std::to_string(kept));
}

TEST_F(SessionTest, AnAbandonedHostChangeIsRolledBack) {
  ASSERT_EQ(session_->BeginHostChange(), S_OK);
  EXPECT_NE(session_->BeginHostChange(), S_OK);
  ASSERT_EQ(Put(20, u"Tag", _variant_t(u"Gone")), S_OK);
  session_->AbandonHostChange();
  EXPECT_FALSE(store_->InTransaction());
  EXPECT_EQ(Text(20, u"Tag"), "P-101");
}

TEST_F(SessionTest, HoldsAreObjectsOfTheStore) {
  Ref<IKXQObject> hold;
  module_->on_request = [&] {
    IKXQObject* made = nullptr;
    HRESULT hr = module_->application()->CreateHold(_bstr_t(u"H1"), _variant_t(u"why"), &made);
    hold = Ref<IKXQObject>::Adopt(made);
    return hr;
  };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  ASSERT_TRUE(hold);
  LONG id = 0;
  hold->get_Id(&id);
  EXPECT_EQ(Text(id, u"Name"), "H1");
  EXPECT_EQ(Text(id, u"InActive"), "0");  // VARIANT_FALSE
  EXPECT_EQ(Text(id, u"CreatedReason"), "why");
  module_->on_request = [&] { return module_->application()->CloseHold(hold.get(), _variant_t()); };
  ASSERT_TRUE(host_.Request(u"Any", u"").succeeded());
  EXPECT_EQ(Text(id, u"InActive"), "-1");  // VARIANT_TRUE
}

// A hold that cannot be completed (here: a schema whose Hold class has no
// "InActive") is not left behind half-made: a module that goes on after
// the failure commits no nameless or open-ended hold.
TEST(SessionHoldTest, AHoldThatCannotBeCompletedLeavesNoObject) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kxqhold-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string dir = pattern;
  {
    std::ofstream(dir + "/fixture.xml")
        << "<store><schema>"
           "<class name=\"GenericClass\"><attribute name=\"Name\" type=\"text\"/></class>"
           "<class name=\"Hold\" base=\"GenericClass\"/>"
           "</schema><objects/></store>";
    std::unique_ptr<kx::store::Store> store;
    ASSERT_TRUE(kx::store::Store::Open(dir + "/s.db", kx::store::OpenMode::kCreate, &store).ok());
    ASSERT_TRUE(store->ImportFixtureFile(dir + "/fixture.xml").ok());
    const long before = store->ObjectCount();
    StoreHostSession session(*store);
    Host host;
    host.SetStoreSession(&session);
    Ref<FakeModule> module = MakeRef<FakeModule>();
    ASSERT_EQ(host.Attach(module.get()), S_OK);
    HRESULT created = S_OK;
    module->on_request = [&] {
      IKXQObject* made = nullptr;
      created = module->application()->CreateHold(_bstr_t(u"H1"), _variant_t(), &made);
      EXPECT_EQ(kx::host::internal::TakeErrorDescription(), u"A hold has no attribute InActive");
      EXPECT_EQ(made, nullptr);
      if (made) made->Release();
      return S_OK;  // the module goes on without its hold
    };
    ASSERT_TRUE(host.Request(u"Any", u"").succeeded());
    EXPECT_TRUE(FAILED(created));
    EXPECT_EQ(store->ObjectCount(), before);
    host.Detach();
    host.SetStoreSession(nullptr);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

TEST_F(SessionTest, ClassTestsFollowInheritance) {
  EXPECT_TRUE(session_->IsOfClass(Object(20), u"GenericClass"));
  EXPECT_TRUE(session_->IsOfClass(Object(20), u"pump"));
  EXPECT_FALSE(session_->IsOfClass(Object(20), u"Page"));
  EXPECT_FALSE(session_->IsOfClass(Object(20), u"NoSuchClass"));
  EXPECT_FALSE(session_->IsOfClass(nullptr, u"Pump"));
}

// The user holds the host's privileges and those the module declared,
// except the denied ones; the store's root project is the active one.
TEST_F(SessionTest, TheStartUpGivesTheUserEveryPrivilegeButTheDenied) {
  kx::host::Privileges& privileges = host_.privileges();
  for (const char16_t* held :
       {u"SecureAttribute", u"LockAttribute", u"CheckDocument", u"EditPumps"}) {
    EXPECT_TRUE(privileges.Has(held)) << _bstr_t(held).utf8();
  }
  EXPECT_FALSE(privileges.Has(u"IssueDocument"));
  EXPECT_EQ(kx::host::KnownPrivileges(host_).back(), u"EditPumps");
  _bstr_t name, discipline;
  privileges.get_UserName(name.GetAddress());
  privileges.get_Discipline(discipline.GetAddress());
  EXPECT_EQ(name.utf8() + "/" + discipline.utf8(), "ann/Mechanical");
  _com_ptr_t<IKXQProject> active;
  ASSERT_EQ(module_->application()->get_ActiveProject(&active), S_OK);
  ASSERT_TRUE(active);
}

// A module that refuses to attach is not kept: no call reaches it, and the
// result says why.
TEST_F(SessionTest, AModuleThatRefusesToAttachIsNotKept) {
  Ref<FakeModule> other = MakeRef<FakeModule>();
  other->attach_result = E_FAIL;
  const kx::host::CallResult started = kx::host::StartModule(host_, other.get(), {u"bob", u"", {}});
  EXPECT_EQ(started.hr, E_FAIL);
  EXPECT_EQ(started.error, u"not this host");
  EXPECT_EQ(host_.module(), nullptr);
  EXPECT_FALSE(host_.Request(u"Any", u"").succeeded());
  EXPECT_TRUE(other->log.empty());
}

// A module the registration store does not know: the failure names the
// store and what to do.
TEST(StartupTest, AnUnregisteredModuleNamesTheRegistrationStore) {
  Ref<IKXQDataService> module;
  CLSID clsid{};
  const HRESULT hr = kx::host::CreateModule(u"No.Such.Module", &module, &clsid);
  EXPECT_EQ(hr, CO_E_CLASSSTRING);
  EXPECT_FALSE(module);
  const std::string why = _bstr_t(kx::host::internal::TakeErrorDescription().c_str()).utf8();
  EXPECT_NE(why.find(kx_reg_file_path() + " does not name No.Such.Module"), std::string::npos)
      << why;
  EXPECT_NE(why.find("KXQ_REGISTRY"), std::string::npos) << why;
}

}  // namespace
