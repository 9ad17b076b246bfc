// Error information: the per-thread slot and the error object.
#include "com/errorinfo.h"

#include <gtest/gtest.h>
#include <thread>

#include "com/comutil.h"
#include "com/sysmsg.h"
#include "test_support.h"

namespace {

using kx::com::test::text_of;

std::u16string description_of(IErrorInfo* info) {
  BSTR s = nullptr;
  EXPECT_EQ(info->GetDescription(&s), S_OK);
  std::u16string text = text_of(s);
  SysFreeString(s);
  return text;
}

TEST(ErrorInfo, CreatedObjectAnswersBothInterfaces) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  const GUID guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  create->SetGUID(guid);
  create->SetDescription(const_cast<LPOLESTR>(u"broken"));
  create->SetSource(const_cast<LPOLESTR>(u"here"));
  create->SetHelpContext(12);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  EXPECT_EQ(description_of(info), u"broken");
  BSTR source = nullptr, help = nullptr;
  ASSERT_EQ(info->GetSource(&source), S_OK);
  EXPECT_EQ(text_of(source), u"here");
  SysFreeString(source);
  ASSERT_EQ(info->GetHelpFile(&help), S_OK);
  EXPECT_EQ(help, nullptr);
  GUID back{};
  info->GetGUID(&back);
  EXPECT_TRUE(IsEqualGUID(back, guid));
  DWORD context = 0;
  info->GetHelpContext(&context);
  EXPECT_EQ(context, 12u);
  info->Release();
}

TEST(ErrorInfo, GetHandsOverAndClears) {
  EXPECT_EQ(kx_set_error_info(E_FAIL, u"first"), E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(description_of(info), u"first");
  info->Release();
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);
}

TEST(ErrorInfo, SetReplacesAndReleasesThePrevious) {
  kx_set_error_info(E_FAIL, u"old");
  kx_set_error_info(E_FAIL, u"new");  // "old" released (leak sanitizer)
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_EQ(description_of(info), u"new");
  info->Release();
  kx_set_error_info(E_FAIL, u"cleared");
  EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
}

TEST(ErrorInfo, KeptApartPerThread) {
  kx_set_error_info(E_FAIL, u"main thread");
  std::u16string seen_by_other = u"<unset>";
  HRESULT other_first = E_UNEXPECTED;
  std::thread other([&] {
    IErrorInfo* info = nullptr;
    other_first = GetErrorInfo(0, &info);  // nothing here yet
    kx_set_error_info(E_FAIL, u"other thread");
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    seen_by_other = description_of(info);
    info->Release();
    kx_set_error_info(E_FAIL, u"left behind at exit");  // released with the thread
  });
  other.join();
  EXPECT_EQ(other_first, S_FALSE);
  EXPECT_EQ(seen_by_other, u"other thread");
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_EQ(description_of(info), u"main thread");
  info->Release();
}

TEST(ErrorInfo, ReservedMustBeZero) {
  IErrorInfo* info = nullptr;
  EXPECT_EQ(GetErrorInfo(1, &info), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(SystemMessage, KnownAndUnknownCodes) {
  EXPECT_EQ(kx_system_message(E_INVALIDARG), u"The parameter is incorrect.");
  EXPECT_EQ(kx_system_message(DISP_E_TYPEMISMATCH), u"Type mismatch.");
  EXPECT_EQ(kx_system_message(static_cast<HRESULT>(0xC00CE502)),
            u"A document type declaration is not allowed.");
  EXPECT_EQ(kx_system_message(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW)),
            u"Arithmetic result exceeded 32 bits.");
  // The object store's own codes have texts (a lock timeout among them).
  EXPECT_EQ(kx_system_message(kx_hr(0x8004B006)),
            u"The object store could not read or write its file.");
  EXPECT_EQ(kx_system_message(kx_hr(0x8004B009)),
            u"The object store is busy: another process holds its write lock.");
  EXPECT_EQ(kx_system_message(kx_hr(0x8004B0F1)), u"Unknown error 0x8004B0F1");
  EXPECT_EQ(kx_system_message(kx_hr(0x8004C001)), u"Unknown error 0x8004C001");
  for (HRESULT hr : {E_FAIL, E_POINTER, REGDB_E_CLASSNOTREG, STG_E_ACCESSDENIED}) {
    const std::u16string text = kx_system_message(hr);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'\n');
    EXPECT_NE(text.back(), u'\r');
  }
}

}  // namespace
