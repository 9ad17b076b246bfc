// The module as the host meets it: loaded by activation of its ProgID from
// the registration store, attached and driven through the host library's
// driver. The module keeps its real workers here (no recording).

#include "com/activation.h"

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "com/registry.h"
#include "main/kxdbdatasheetsvcs_i.h"
#include "support/moduletestsupport.h"

using namespace kx::test::inprocess;
using kx::host::Host;

namespace {

// The journal's text from `from` on, lines joined: the tracer hands the
// journal a line in pieces.
std::string JournalText(Host& host, size_t from = 0) {
  std::string text = host.journal().text().substr(from);
  std::erase(text, '\n');
  return text;
}

// One host for the whole program and one activated Main for the suite, as a
// host program has them: the module configures its tracer once per process,
// at its first attach, with that host's journal. The host outlives every
// suite (it is never destroyed) so that repeated runs keep that journal.
class ActivatedModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static Host* const host = [] {
      Host* made = new Host();
      ConfigureHost(*made);
      return made;
    }();
    host_ = host;
    module_ = new kx::host::Ref<IKXQDataService>(ActivateModule());
    if (*module_) attached_ = host_->Attach(module_->get());
  }
  // Lets the module go, so that later suites see it unlocked.
  static void TearDownTestSuite() {
    host_->Detach();
    delete module_;
    module_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(*module_) << "the module could not be activated from " << ModulePath();
    ASSERT_EQ(attached_, S_OK);
    callsBefore_ = host_->registrar().calls().size();
  }
  void TearDown() override { host_->registrar().ClearFailures(); }

  // The registrar's calls made during this test.
  std::vector<std::string> NewRegistrarCalls() const {
    const std::vector<std::string> all = host_->registrar().CallTexts();
    return {all.begin() + static_cast<std::ptrdiff_t>(callsBefore_), all.end()};
  }

  static inline kx::host::Ref<IKXQDataService>* module_ = nullptr;
  static inline Host* host_ = nullptr;
  static inline HRESULT attached_ = E_FAIL;
  size_t callsBefore_ = 0;
};

TEST_F(ActivatedModuleTest, UnknownMessageFailsAfterSecondLookWithoutReply) {
  const auto start = std::chrono::steady_clock::now();
  const auto result = host_->Request(u"NoSuchMessage", u"<XMLMessage/>");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_EQ(ErrorText(result).rfind("<KXError ", 0), 0u) << ErrorText(result);
  EXPECT_NE(ErrorText(result).find("Desc=\"Data service request handler not found\""),
            std::string::npos)
      << ErrorText(result);
  EXPECT_NE(ErrorText(result).find("HR=\"E_FAIL\""), std::string::npos);
  EXPECT_TRUE(result.reply.empty());
  EXPECT_GE(elapsed, std::chrono::milliseconds(1));
}

TEST_F(ActivatedModuleTest, EmptyMessageNameIsNotFound) {
  const auto result = host_->Request(u"", u"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(ErrorText(result).find("Data service request handler not found"), std::string::npos);
}

TEST_F(ActivatedModuleTest, MessageNameInAnyLetterCaseReachesItsHandler) {
  for (const char16_t* name :
       {u"GetFieldHelp", u"getfieldhelp", u"GETFIELDHELP", u"gEtFiElDhElP"}) {
    const auto result = host_->Request(
        name, u"<XMLMessage TargetId=\"T\"><GetFieldHelp FieldId=\"42\"/></XMLMessage>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(name) << ": " << ErrorText(result);
    EXPECT_EQ(result.reply, u"This is help for FieldId 42") << Narrow(name);
  }
  EXPECT_NE(JournalText(*host_).find("&KXCE& >>>> Enter KXDBDatasheetSvcs::GetFieldHelp()"),
            std::string::npos);
}

TEST_F(ActivatedModuleTest, PrintAndExportReachTheHandlerOfOpenDocuments) {
  const size_t journalBefore = host_->journal().text().size();
  const std::pair<const char16_t*, const char16_t*> requests[] = {
      {u"OpenDocuments", u"<XMLMessage><OpenDocuments/></XMLMessage>"},
      {u"PrintDocuments", u"<XMLMessage><PrintDocuments/></XMLMessage>"},
      {u"exportdocuments", u"<XMLMessage><ExportDocuments/></XMLMessage>"}};
  for (const auto& [name, request] : requests) {
    const auto result = host_->Request(name, request);
    EXPECT_EQ(result.hr, S_OK) << ErrorText(result);
  }
  const std::string journal = JournalText(*host_, journalBefore);
  size_t count = 0;
  for (size_t at = journal.find("Enter KXDBDatasheetSvcs::ProcessDocuments()");
       at != std::string::npos;
       at = journal.find("Enter KXDBDatasheetSvcs::ProcessDocuments()", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u) << journal;
}

TEST_F(ActivatedModuleTest, JournalReceivesHandlerEntryLines) {
  const auto result = host_->Request(
      u"CreateAnnotation",
      u"<XMLMessage TargetId=\"T\" Status=\"1\"><CreateAnnotation PageId=\"4\"/></XMLMessage>");
  // The parser ran and reached the worker, which needs the object store
  // this host does not have.
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(ErrorText(result).find("Do not have access to object store"), std::string::npos)
      << ErrorText(result);
  EXPECT_NE(JournalText(*host_).find("&KXCE& >>>> Enter KXDBDatasheetSvcs::CreateAnnotation()"),
            std::string::npos)
      << host_->journal().text();
}

TEST_F(ActivatedModuleTest, StartUpRegistersInOrderWithItsArguments) {
  const auto result = host_->StartUp();
  ASSERT_EQ(result.hr, S_OK) << ErrorText(result);
  const std::vector<std::string> expected = {
      "RegisterService(KXDBDatasheetSvcs.Main)",
      "DeclarePrivilege(Modify Non-Project Summary, Datasheet Editor, The privilege required to "
      "modify the displayed objects on non-project summary sheets)",
      "DeclarePrivilege(Globally Change Display Units, Datasheet Editor, The privilege required "
      "to change the display units for all datasheets)",
      "GetTemplates()",
      "Subscribe(1, 1, [], false)",
      "Subscribe(2, 2, GenericClass, false)",
      "Subscribe(3, 4, [], false)",
      "Subscribe(4, 3, [], false)",
      "Subscribe(5, 11, Datasheet, false)",
      "Subscribe(6, 13, GlobalsClass, false)",
      "Subscribe(7, 15, Project, false)",
      "Subscribe(8, 5, GenericClass, false)",
      "Subscribe(9, 16, GenericClass, false)",
      "RegisterObjectService(10, Datasheet, Datasheet)",
      "RegisterObjectService(11, Dataview, Dataview)",
      "DeclareMethod(0, GetDisplayName, Datasheet, GetDisplayName, Gets the display name of the "
      "datasheet, false, true, false)",
      "DeclareMethod(1, SetDisplayName, Datasheet, SetDisplayName, Sets the display name of the "
      "datasheet, false, true, false)",
  };
  EXPECT_EQ(NewRegistrarCalls(), expected);
}

TEST_F(ActivatedModuleTest, StartUpReturnsTheResultOfTheLastDeclaration) {
  host_->registrar().FailCall("DeclareMethod", E_ACCESSDENIED, u"refused", u"1");
  const auto result = host_->StartUp();
  EXPECT_EQ(result.hr, E_ACCESSDENIED);
  EXPECT_NE(ErrorText(result).find("refused"), std::string::npos) << ErrorText(result);
}

TEST_F(ActivatedModuleTest, ObjectServicesOfKindsTenAndElevenAutomateTheirObjects) {
  auto object = MakeFake<FakeObject>(7, std::vector<std::u16string>{u"Datasheet"});
  // The objects answer by name; the workers refuse an object of no store.
  auto name = host_->CallObjectService(10, object.get(), u"ValidateDatasheet");
  EXPECT_TRUE(FAILED(name.hr));
  EXPECT_NE(ErrorText(name).find("Activity=\"DatasheetServices::ValidateDatasheet\""),
            std::string::npos)
      << ErrorText(name);
  VARIANT status;
  status.vt = VT_I4;
  status.lVal = -2;
  auto label = host_->CallObjectService(11, object.get(), u"ValidateLabel", {status});
  EXPECT_EQ(label.hr, E_INVALIDARG);
  EXPECT_NE(ErrorText(label).find("Object is not a valid label"), std::string::npos)
      << ErrorText(label);
  auto other = host_->CallObjectService(12, object.get(), u"DatasheetName");
  EXPECT_EQ(other.hr, E_UNEXPECTED);
}

TEST_F(ActivatedModuleTest, UnimplementedOperationsAnswerNotImplemented) {
  EXPECT_EQ((*module_)->Reserved1(), E_NOTIMPL);
  EXPECT_EQ((*module_)->Reserved2(), E_NOTIMPL);
  EXPECT_EQ((*module_)->Reserved3(), E_NOTIMPL);
  EXPECT_EQ((*module_)->Reserved4(), E_NOTIMPL);
  EXPECT_EQ((*module_)->Reserved5(), E_NOTIMPL);
}

TEST_F(ActivatedModuleTest, DatabaseEventsWithoutHandlersChangeNothing) {
  auto object = MakeFake<FakeObject>(3, std::vector<std::u16string>{u"Pump"});
  VARIANT empty;
  VariantInit(&empty);
  for (LONG kind : {0, 10, 11, -1}) {
    EXPECT_EQ(host_->ModuleEvent(kind, object.get(), empty).hr, S_OK) << kind;
  }
  const auto result = host_->ModuleEvent(6, object.get(), empty);
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(ErrorText(result).find("Could not get expected event interface"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Registration and unloading, on a registration store of the test's own.

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("KXQ_REGISTRY");
    if (previous != nullptr) previous_ = previous;
    path_ = std::filesystem::temp_directory_path() /
            ("kxq-module-registry-" + std::to_string(::getpid()) + ".xml");
    std::filesystem::remove(path_);
    setenv("KXQ_REGISTRY", path_.c_str(), 1);
    library_ = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (previous_.empty()) {
      unsetenv("KXQ_REGISTRY");
    } else {
      setenv("KXQ_REGISTRY", previous_.c_str(), 1);
    }
    // The registration store leaves its lock file beside it for the next
    // writer; this store has none.
    std::filesystem::remove(path_);
    std::filesystem::remove(path_.string() + ".lock");
  }

  template <class F>
  F* Export(const char* name) {
    return reinterpret_cast<F*>(dlsym(library_, name));
  }

  static std::u16string Value(const std::u16string& key, const std::u16string& name = u"") {
    std::u16string value;
    if (FAILED(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\" + key, name, &value))) return u"<missing>";
    return value;
  }

  std::string previous_;
  std::filesystem::path path_;
  void* library_ = nullptr;
};

TEST_F(RegistrationTest, RegisterWritesTheScriptAndUnregisterRemovesIt) {
  auto registerServer = Export<HRESULT()>("DllRegisterServer");
  auto unregisterServer = Export<HRESULT()>("DllUnregisterServer");
  ASSERT_NE(registerServer, nullptr);
  ASSERT_NE(unregisterServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);

  const std::u16string clsid = kx_guid_to_string(CLSID_Main);
  const std::u16string classKey = u"CLSID\\" + clsid;
  EXPECT_EQ(Value(u"KXDBDatasheetSvcs.Main"), u"KXDBDatasheetSvcs Main Class");
  EXPECT_EQ(Value(u"KXDBDatasheetSvcs.Main\\CLSID"), clsid);
  EXPECT_EQ(Value(u"KXDBDatasheetSvcs.Main\\CurVer"), u"KXDBDatasheetSvcs.Main.1");
  EXPECT_EQ(Value(u"KXDBDatasheetSvcs.Main.1"), u"KXDBDatasheetSvcs Main Class");
  EXPECT_EQ(Value(u"KXDBDatasheetSvcs.Main.1\\CLSID"), clsid);
  EXPECT_EQ(Value(classKey), u"KXDBDatasheetSvcs Main Class");
  EXPECT_EQ(Value(classKey + u"\\ProgID"), u"KXDBDatasheetSvcs.Main.1");
  EXPECT_EQ(Value(classKey + u"\\VersionIndependentProgID"), u"KXDBDatasheetSvcs.Main");
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\" + classKey + u"\\Programmable"), S_OK);
  std::u16string registered = Value(classKey + u"\\InprocServer32");
  std::string registeredPath = Narrow(registered);
  EXPECT_EQ(std::filesystem::canonical(registeredPath), std::filesystem::canonical(ModulePath()));
  EXPECT_EQ(Value(classKey + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(Value(classKey + u"\\TypeLib"), kx_guid_to_string(LIBID_KXDBDatasheetSvcs));

  // Activation finds the class through what was written.
  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"KXDBDatasheetSvcs.Main", &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, CLSID_Main));

  ASSERT_EQ(unregisterServer(), S_OK);
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main"), S_FALSE);
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main.1"), S_FALSE);
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\" + classKey), S_FALSE);
  EXPECT_EQ(kx_reg_key_exists(u"HKEY_CLASSES_ROOT\\CLSID"), S_OK);
  EXPECT_NE(CLSIDFromProgID(u"KXDBDatasheetSvcs.Main", &found), S_OK);
  // Unregistering what is not registered is harmless.
  EXPECT_EQ(unregisterServer(), S_OK);
}

TEST_F(RegistrationTest, CanUnloadFollowsTheLockCount) {
  auto canUnload = Export<HRESULT()>("DllCanUnloadNow");
  auto getClassObject = Export<HRESULT(REFCLSID, REFIID, LPVOID*)>("DllGetClassObject");
  ASSERT_NE(canUnload, nullptr);
  ASSERT_NE(getClassObject, nullptr);
  EXPECT_EQ(canUnload(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_Main, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(getClassObject(CLSID_DatasheetServices, IID_IClassFactory,
                           reinterpret_cast<void**>(&unknown)),
            CLASS_E_CLASSNOTAVAILABLE);

  IKXQDataService* service = nullptr;
  ASSERT_EQ(
      factory->CreateInstance(nullptr, IID_IKXQDataService, reinterpret_cast<void**>(&service)),
      S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);

  // An object service keeps the module locked after Main is released.
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{});
  IDispatch* services = nullptr;
  VARIANT reserved;
  VariantInit(&reserved);
  ASSERT_EQ(service->GetObjectServices(10, reserved, object.get(), nullptr, &services), S_OK);
  service->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  services->Release();
  EXPECT_EQ(canUnload(), S_OK);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnload(), S_OK);
  factory->Release();
}

}  // namespace
