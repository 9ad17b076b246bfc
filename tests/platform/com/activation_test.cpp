// Activation through the class registry and the registration store.
#include "com/activation.h"

#include <gtest/gtest.h>

#include "com/clsids.h"
#include "com/comutil.h"
#include "com/registry.h"
#include "com/wstr.h"
#include "test_server.h"
#include "test_support.h"

KX_SMARTPTR_TYPEDEF(ITestWidget);

namespace {

std::u16string server_key(REFCLSID clsid) {
  return u"HKEY_CLASSES_ROOT\\CLSID\\" + kx_guid_to_string(clsid) + u"\\InprocServer32";
}

void register_server(REFCLSID clsid, const std::string& path) {
  ASSERT_EQ(kx_reg_set_value(server_key(clsid), u"", kx_utf8_to_utf16_lossy(path)), S_OK);
}

// Description of the thread's error information (cleared).
std::u16string error_text() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) return u"<none>";
  BSTR s = nullptr;
  info->GetDescription(&s);
  std::u16string text = kx::com::test::text_of(s);
  SysFreeString(s);
  info->Release();
  return text;
}

class Activation : public ::testing::Test {
 protected:
  kx::com::test::TempRegistry registry_;
};

TEST_F(Activation, CreatesAClassFromARegisteredLibrary) {
  register_server(CLSID_TestWidget, KX_TEST_SERVER_PATH);
  ITestWidget* widget = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_ITestWidget,
                             reinterpret_cast<void**>(&widget)),
            S_OK);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->Answer(), 42);
  EXPECT_EQ(widget->LiveCount(), 1);
  {
    ITestWidgetPtr second(CLSID_TestWidget);  // through the smart pointer
    ASSERT_TRUE(second);
    EXPECT_EQ(second->LiveCount(), 2);
  }
  EXPECT_EQ(widget->LiveCount(), 1);
  widget->Release();
}

TEST_F(Activation, ProgIdFromTheStore) {
  register_server(CLSID_TestWidget, KX_TEST_SERVER_PATH);
  ASSERT_EQ(kx_reg_set_value(u"HKEY_CLASSES_ROOT\\Kx.TestWidget\\CLSID", u"",
                             kx_guid_to_string(CLSID_TestWidget)),
            S_OK);
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Kx.TestWidget", &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_TestWidget));
  EXPECT_EQ(CLSIDFromProgID(u"Kx.Unknown", &clsid), CO_E_CLASSSTRING);
  ITestWidgetPtr widget;
  EXPECT_EQ(widget.CreateInstance(u"Kx.TestWidget"), S_OK);
  EXPECT_EQ(widget->Answer(), 42);
}

TEST_F(Activation, UnregisteredClassFailsClearly) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  const std::u16string text = error_text();
  EXPECT_NE(text.find(kx_guid_to_string(CLSID_TestWidget)), std::u16string::npos)
      << std::string(text.begin(), text.end());
}

TEST_F(Activation, MissingLibraryFailsNamingIt) {
  register_server(CLSID_TestWidget, registry_.dir() + "/libnothere.so");
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            CO_E_DLLNOTFOUND);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(error_text().find(u"libnothere.so"), std::u16string::npos);
}

TEST_F(Activation, LibraryWithoutTheClassFails) {
  register_server(CLSID_TestMissing, KX_TEST_SERVER_PATH);
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestMissing, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(error_text().find(u"kxcom_test_server"), std::u16string::npos);
}

TEST_F(Activation, LibraryWithoutEntryPointFails) {
  // libkxcom.so itself exports no DllGetClassObject.
  register_server(CLSID_TestWidget, kx_platform_library_dir() + "libkxcom.so");
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            CO_E_ERRORINDLL);
  EXPECT_NE(error_text().find(u"DllGetClassObject"), std::u16string::npos);
}

TEST_F(Activation, NoAggregationAndNoInterface) {
  register_server(CLSID_TestWidget, KX_TEST_SERVER_PATH);
  kx::com::test::Tracked* outer = new kx::com::test::Tracked;
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, outer, CLSCTX_ALL, IID_IUnknown, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IDispatch, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  outer->Release();
}

// A factory that always fails, to stand in for a class that cannot be made.
class FailingFactory final : public kx::com::Object<FailingFactory, IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST_F(Activation, ClassRegistryTakesPriorityAndCanBeRevoked) {
  register_server(CLSID_TestWidget, KX_TEST_SERVER_PATH);
  FailingFactory* factory = new FailingFactory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestWidget, factory, CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  factory->Release();  // the registry keeps its own reference
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            E_OUTOFMEMORY);
  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);  // last reference: deleted
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &out), S_OK);
  static_cast<IUnknown*>(out)->Release();
}

TEST_F(Activation, SaxReaderCreationCanBeMadeToFail) {
  FailingFactory* factory = new FailingFactory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_SAXXMLReader60, factory, CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  factory->Release();
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            E_OUTOFMEMORY);
  CoRevokeClassObject(cookie);
}

TEST_F(Activation, SaxReaderIsLookedForNextToThePlatformLibrary) {
  // Whether or not the reader is built, its library is sought beside
  // libkxcom.so; with the store naming another library, that one is used.
  register_server(CLSID_SAXXMLReader60, registry_.dir() + "/libelsewhere.so");
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            CO_E_DLLNOTFOUND);
  EXPECT_NE(error_text().find(u"libelsewhere.so"), std::u16string::npos);
  ASSERT_EQ(kx_reg_delete_tree(server_key(CLSID_SAXXMLReader60)), S_OK);
  const HRESULT hr =
      CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_IUnknown, &out);
  if (SUCCEEDED(hr)) {
    static_cast<IUnknown*>(out)->Release();
  } else {
    EXPECT_NE(
        error_text().find(kx_utf8_to_utf16_lossy(kx_platform_library_dir() + "libkxmsxml.so")),
        std::u16string::npos);
  }
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kx_progid_SAXXMLReader60, &clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_SAXXMLReader60));
}

TEST(GuidText, RoundTrip) {
  const GUID g{0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
  OLECHAR buf[39];
  ASSERT_EQ(StringFromGUID2(g, buf, 39), 39);
  EXPECT_EQ(std::u16string(buf), u"{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
  GUID back;
  ASSERT_EQ(CLSIDFromString(u"{12345678-9abc-def0-0123-456789abcdef}", &back), S_OK);
  EXPECT_TRUE(IsEqualGUID(back, g));
  EXPECT_EQ(CLSIDFromString(u"{12345678-9abc-def0-0123-456789abcdeg}", &back), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{12345678-9abc-def0-0123-456789abcdef", &back), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{12345678+9abc-def0-0123-456789abcdef}", &back), CO_E_CLASSSTRING);
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(g, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  CoTaskMemFree(text);
}

TEST(CoInitialize, CountsPerThread) {
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

}  // namespace
