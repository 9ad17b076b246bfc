// The object services that Main hands out, created in-process; their
// workers are the recording seams of this test program.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "main/kxdbdatasheetsvcs_i.h"
#include "main/module.h"
#include "support/moduletestsupport.h"

using namespace kx::test::inprocess;

namespace {

class ObjectServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeams();
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
    object_ = MakeFake<FakeObject>(21, std::vector<std::u16string>{u"Datasheet"});
  }
  void TearDown() override {
    host_.Detach();
    ResetSeams();
  }

  IDispatch* Services(LONG kind) {
    IDispatch* services = nullptr;
    VARIANT reserved;
    VariantInit(&reserved);
    EXPECT_EQ(
        service_->GetObjectServices(kind, reserved, object_.get(), &host_.application(), &services),
        S_OK);
    return services;
  }

  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
  kx::host::Ref<FakeObject> object_;
};

using Lines = std::vector<std::string>;

TEST_F(ObjectServicesTest, OtherKindsAreUnexpected) {
  IDispatch* services = reinterpret_cast<IDispatch*>(0x1);
  VARIANT reserved;
  VariantInit(&reserved);
  for (LONG kind : {0, 9, 12}) {
    EXPECT_EQ(service_->GetObjectServices(kind, reserved, object_.get(), nullptr, &services),
              E_UNEXPECTED);
    EXPECT_EQ(services, nullptr);
  }
}

TEST_F(ObjectServicesTest, DatasheetServicesAnswerTheirInterfaces) {
  IDispatch* services = Services(10);
  ASSERT_NE(services, nullptr);
  IKXDatasheetServices* datasheet = nullptr;
  ASSERT_EQ(
      services->QueryInterface(IID_IKXDatasheetServices, reinterpret_cast<void**>(&datasheet)),
      S_OK);
  IKXDataviewServices* dataview = nullptr;
  EXPECT_EQ(services->QueryInterface(IID_IKXDataviewServices, reinterpret_cast<void**>(&dataview)),
            E_NOINTERFACE);
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(services->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)),
            S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXDatasheetServices), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXDataviewServices), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXDBDatasheetSvcsMain), S_FALSE);
  support->Release();

  EXPECT_EQ(datasheet->ValidateDatasheet(), S_OK);
  BSTR xml = nullptr;
  EXPECT_EQ(datasheet->GetRealFieldsWithUOM(&xml), S_OK);
  EXPECT_EQ(Narrow(xml), "<RealFields/>");
  SysFreeString(xml);
  EXPECT_EQ(Seams().calls, (Lines{"ValidateDatasheetObject(21)", "WriteRealFieldsWithUOM(21)"}));
  datasheet->Release();
  services->Release();
}

TEST_F(ObjectServicesTest, WorkerFailureCarriesTheMethodAsActivity) {
  IDispatch* services = Services(10);
  ASSERT_NE(services, nullptr);
  IKXDatasheetServices* datasheet = nullptr;
  ASSERT_EQ(
      services->QueryInterface(IID_IKXDatasheetServices, reinterpret_cast<void**>(&datasheet)),
      S_OK);
  Seams().result = E_INVALIDARG;
  EXPECT_EQ(datasheet->ValidateDatasheet(), E_INVALIDARG);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  const std::string text = Narrow(description);
  SysFreeString(description);
  info->Release();
  EXPECT_EQ(text.rfind("<KXError ", 0), 0u) << text;
  EXPECT_NE(text.find("Activity=\"DatasheetServices::ValidateDatasheet\""), std::string::npos)
      << text;
  EXPECT_NE(text.find("recorded worker failed"), std::string::npos) << text;
  datasheet->Release();
  services->Release();
}

TEST_F(ObjectServicesTest, ValidateLabelPassesItsStatusUnchanged) {
  VARIANT status;
  status.vt = VT_I4;
  status.lVal = -3;
  const auto result = host_.CallObjectService(11, object_.get(), u"ValidateLabel", {status});
  EXPECT_EQ(result.hr, S_OK) << ErrorText(result);
  EXPECT_EQ(Seams().calls, Lines{"ValidateLabelObject(21,-3)"});
}

TEST_F(ObjectServicesTest, MethodsAreReachedByName) {
  const auto result = host_.CallObjectService(10, object_.get(), u"GetRealFieldsWithUOM");
  EXPECT_EQ(result.hr, S_OK) << ErrorText(result);
  EXPECT_EQ(Narrow(result.value), "<RealFields/>");
  const auto missing = host_.CallObjectService(10, object_.get(), u"ValidateLabel");
  EXPECT_TRUE(FAILED(missing.hr));
  // The datasheet-model methods reach their workers, which refuse an object
  // that is no datasheet of a store; the failure names the method.
  for (const char16_t* method :
       {u"DatasheetName", u"IsSummarySheet", u"GetSummarySheetProject", u"DatasheetObjects"}) {
    const auto refused = host_.CallObjectService(10, object_.get(), method);
    EXPECT_TRUE(FAILED(refused.hr)) << Narrow(method);
    EXPECT_NE(ErrorText(refused).find("Activity=\"DatasheetServices::" + Narrow(method) + "\""),
              std::string::npos)
        << ErrorText(refused);
  }
}

TEST_F(ObjectServicesTest, ReleasingTheServiceReleasesWhatItHolds) {
  const LONG locks = ModuleLockCount();
  IDispatch* services = Services(11);
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(ModuleLockCount(), locks + 1);
  object_->AddRef();
  const ULONG held = object_->Release();
  services->Release();
  object_->AddRef();
  EXPECT_EQ(object_->Release(), held - 1);
  EXPECT_EQ(ModuleLockCount(), locks);
}

TEST(MainInterfaces, AnswerInOrderAndForErrorInfo) {
  auto service = CreateInProcessMain();
  ASSERT_TRUE(service);
  IUnknown* unknown = nullptr;
  for (const IID* iid :
       {&IID_IUnknown, &IID_IDispatch, &IID_IKXDBDatasheetSvcsMain, &IID_IProvideClassInfo,
        &IID_IProvideClassInfo2, &IID_ISupportErrorInfo, &IID_IKXQDataService}) {
    EXPECT_EQ(service->QueryInterface(*iid, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
  }
  EXPECT_EQ(service->QueryInterface(IID_IKXDatasheetServices, reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(service->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)),
            S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXQDataService), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXDBDatasheetSvcsMain), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKXDatasheetServices), S_FALSE);
  support->Release();
  IProvideClassInfo2* classInfo = nullptr;
  ASSERT_EQ(service->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)),
            S_OK);
  GUID guid{};
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), E_FAIL);
  EXPECT_EQ(classInfo->GetGUID(2, &guid), E_INVALIDARG);
  classInfo->Release();
  // Automation by name: the members are found; a null attribute is refused.
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(service->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  OLECHAR name[] = u"visualappearances";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, DISPID_VisualAppearances);
  VARIANT argument;
  argument.vt = VT_DISPATCH;
  argument.pdispVal = nullptr;
  DISPPARAMS params{&argument, nullptr, 1, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(result.vt, VT_EMPTY);
  OLECHAR unknownName[] = u"NoSuchMember";
  names[0] = unknownName;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  dispatch->Release();
  UINT count = 5;
  EXPECT_EQ(service->GetTypeInfoCount(&count), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(service->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  EXPECT_EQ(service->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

}  // namespace
