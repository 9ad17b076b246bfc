// VariantChangeType: numbers, text, Boolean and dates, locale-independent.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "com/comutil.h"
#include "com/dispatch_impl.h"
#include "com/wstr.h"
#include "test_support.h"

namespace {

using kx::com::test::text_of;

// Converts and returns the HRESULT; *out holds the result.
HRESULT change(const _variant_t& in, VARTYPE vt, _variant_t* out, USHORT flags = 0) {
  return VariantChangeType(out, &in, flags, vt);
}

std::u16string as_text(const _variant_t& in, USHORT flags = 0) {
  _variant_t out;
  EXPECT_EQ(change(in, VT_BSTR, &out, flags), S_OK);
  return out.vt == VT_BSTR ? text_of(out.bstrVal) : u"<not text>";
}

HRESULT to_i4(const _variant_t& in, LONG* value) {
  _variant_t out;
  const HRESULT hr = change(in, VT_I4, &out);
  if (SUCCEEDED(hr)) *value = out.lVal;
  return hr;
}

TEST(ChangeType, IntegersBetweenTypes) {
  _variant_t out;
  ASSERT_EQ(change(_variant_t(short(-7)), VT_I4, &out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, -7);
  ASSERT_EQ(change(_variant_t(BYTE(200)), VT_I2, &out), S_OK);
  EXPECT_EQ(out.iVal, 200);
  ASSERT_EQ(change(_variant_t(123456), VT_UI4, &out), S_OK);
  EXPECT_EQ(out.ulVal, 123456u);
  ASSERT_EQ(change(_variant_t(5u, VT_UINT), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 5);
  ASSERT_EQ(change(_variant_t(9, VT_INT), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 9);
}

TEST(ChangeType, OverflowIsReported) {
  _variant_t out(u"unchanged");
  EXPECT_EQ(change(_variant_t(300), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(text_of(out.bstrVal), u"unchanged");  // destination untouched on failure
  EXPECT_EQ(change(_variant_t(-1), VT_UI4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(40000), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(3e9), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(1e300), VT_R4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(std::nan("")), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(u"99999999999"), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(u"1e999"), VT_R8, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(_variant_t(1e9), VT_DATE, &out), DISP_E_OVERFLOW);
}

TEST(ChangeType, RealsRoundHalfToEven) {
  LONG v = 0;
  ASSERT_EQ(to_i4(_variant_t(2.5), &v), S_OK);
  EXPECT_EQ(v, 2);
  ASSERT_EQ(to_i4(_variant_t(3.5), &v), S_OK);
  EXPECT_EQ(v, 4);
  ASSERT_EQ(to_i4(_variant_t(-2.5), &v), S_OK);
  EXPECT_EQ(v, -2);
  ASSERT_EQ(to_i4(_variant_t(2.6), &v), S_OK);
  EXPECT_EQ(v, 3);
  ASSERT_EQ(to_i4(_variant_t(2147483647.4), &v), S_OK);
  EXPECT_EQ(v, 2147483647);
}

TEST(ChangeType, TextToNumbers) {
  LONG v = 0;
  ASSERT_EQ(to_i4(_variant_t(u"12"), &v), S_OK);
  EXPECT_EQ(v, 12);
  ASSERT_EQ(to_i4(_variant_t(u"  -7  "), &v), S_OK);
  EXPECT_EQ(v, -7);
  ASSERT_EQ(to_i4(_variant_t(u"12.5"), &v), S_OK);
  EXPECT_EQ(v, 12);
  ASSERT_EQ(to_i4(_variant_t(u"+3"), &v), S_OK);
  EXPECT_EQ(v, 3);
  _variant_t out;
  ASSERT_EQ(change(_variant_t(u"2.5e3"), VT_R8, &out), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 2500.0);
  ASSERT_EQ(change(_variant_t(u"9223372036854775807"), VT_I8, &out), S_OK);
  EXPECT_EQ(out.llVal, 9223372036854775807LL);
}

TEST(ChangeType, MalformedTextIsATypeMismatch) {
  LONG v = 0;
  EXPECT_EQ(to_i4(_variant_t(u"12abc"), &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(to_i4(_variant_t(u"abc"), &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(to_i4(_variant_t(u""), &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(to_i4(_variant_t(u"1,5"), &v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(to_i4(_variant_t(u"0x10"), &v), DISP_E_TYPEMISMATCH);
  _variant_t out;
  EXPECT_EQ(change(_variant_t(u"1.5."), VT_R8, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(u"nan"), VT_R8, &out), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, NumbersToText) {
  EXPECT_EQ(as_text(_variant_t(42)), u"42");
  EXPECT_EQ(as_text(_variant_t(-42)), u"-42");
  EXPECT_EQ(as_text(_variant_t(0.1)), u"0.1");
  EXPECT_EQ(as_text(_variant_t(2.5)), u"2.5");
  EXPECT_EQ(as_text(_variant_t(1.0 / 3)), u"0.333333333333333");
  EXPECT_EQ(as_text(_variant_t(1e20)), u"1E+20");
  EXPECT_EQ(as_text(_variant_t(-0.0)), u"0");
  EXPECT_EQ(as_text(_variant_t(2.5f)), u"2.5");
  EXPECT_EQ(as_text(_variant_t(18446744073709551615ULL)), u"18446744073709551615");
  CY cy;
  cy.int64 = 125000;  // 12.5
  EXPECT_EQ(as_text(_variant_t(cy)), u"12.5");
}

// The process locale must not change how numbers read or write.
TEST(ChangeType, DecimalPointIsADotWhateverTheLocale) {
  const char* locales[] = {"de_DE.UTF-8", "de_DE", "fr_FR.UTF-8", "fr_FR", "ru_RU.UTF-8"};
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : locales)
    if (std::setlocale(LC_ALL, name) != nullptr) {
      chosen = name;
      break;
    }
  if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const bool comma_locale = std::string(probe) == "1,5";
  const std::u16string text = as_text(_variant_t(1.5));
  const std::u16string formatted = kx_format(u"%g %.16g %f", 1.5, 0.1, 2.25);
  double read = 0;
  const bool read_ok = kx_parse_double(u"3.75", &read);
  _variant_t parsed;
  const HRESULT hr = change(_variant_t(u"2.25"), VT_R8, &parsed);
  _variant_t comma;
  const HRESULT comma_hr = change(_variant_t(u"2,25"), VT_R8, &comma);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_TRUE(comma_locale) << chosen;
  EXPECT_EQ(text, u"1.5");
  EXPECT_EQ(formatted, u"1.5 0.1 2.250000");
  EXPECT_TRUE(read_ok);
  EXPECT_EQ(read, 3.75);
  ASSERT_EQ(hr, S_OK);
  EXPECT_DOUBLE_EQ(parsed.dblVal, 2.25);
  EXPECT_EQ(comma_hr, DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, Boolean) {
  _variant_t out;
  ASSERT_EQ(change(_variant_t(5), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(change(_variant_t(0.0), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(change(_variant_t(u"true"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(change(_variant_t(u" FALSE "), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(change(_variant_t(u"2"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(change(_variant_t(u"yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(change(_variant_t(true), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  ASSERT_EQ(change(_variant_t(true), VT_UI1, &out), S_OK);
  EXPECT_EQ(out.bVal, 0xFF);
  EXPECT_EQ(as_text(_variant_t(true)), u"-1");
  EXPECT_EQ(as_text(_variant_t(false)), u"0");
  EXPECT_EQ(as_text(_variant_t(true), VARIANT_ALPHABOOL), u"True");
}

TEST(ChangeType, DatesAndText) {
  _variant_t out;
  ASSERT_EQ(change(_variant_t(u"2024-02-29"), VT_DATE, &out), S_OK);
  EXPECT_DOUBLE_EQ(out.date, 45351.0);
  EXPECT_EQ(as_text(out), u"2024-02-29");
  ASSERT_EQ(change(_variant_t(u"1899-12-30 06:00:00"), VT_DATE, &out), S_OK);
  EXPECT_DOUBLE_EQ(out.date, 0.25);
  ASSERT_EQ(change(_variant_t(u"1899-12-29T06:00"), VT_DATE, &out), S_OK);
  EXPECT_DOUBLE_EQ(out.date, -1.25);  // fraction counts forward from midnight
  EXPECT_EQ(as_text(_variant_t(-1.25, VT_DATE)), u"1899-12-29 06:00:00");
  EXPECT_EQ(as_text(_variant_t(45351.5, VT_DATE)), u"2024-02-29 12:00:00");
  EXPECT_EQ(change(_variant_t(u"2023-02-29"), VT_DATE, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(u"2024-13-01"), VT_DATE, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(u"29.02.2024"), VT_DATE, &out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(change(_variant_t(45351.0, VT_DATE), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 45351);
}

TEST(ChangeType, SystemTimeRoundTrip) {
  SYSTEMTIME st{2026, 12, 0, 7, 8, 9, 10, 0};
  DATE d = 0;
  ASSERT_EQ(SystemTimeToVariantTime(&st, &d), TRUE);
  SYSTEMTIME back{};
  ASSERT_EQ(VariantTimeToSystemTime(d, &back), TRUE);
  EXPECT_EQ(back.wYear, 2026);
  EXPECT_EQ(back.wMonth, 12);
  EXPECT_EQ(back.wDay, 7);
  EXPECT_EQ(back.wDayOfWeek, 1);  // a Monday
  EXPECT_EQ(back.wHour, 8);
  EXPECT_EQ(back.wMinute, 9);
  EXPECT_EQ(back.wSecond, 10);
  st.wMonth = 13;
  EXPECT_EQ(SystemTimeToVariantTime(&st, &d), FALSE);
}

TEST(ChangeType, EmptyNullAndError) {
  _variant_t empty;
  _variant_t out;
  ASSERT_EQ(change(empty, VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 0);
  EXPECT_EQ(as_text(empty), u"");
  VARIANT null;
  null.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(int(E_FAIL), VT_ERROR), VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(1), VT_ERROR, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(1), static_cast<VARTYPE>(VT_I4 | VT_BYREF), &out), DISP_E_BADVARTYPE);
}

TEST(ChangeType, InPlaceAndThroughReferences) {
  _variant_t v(u"17");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 17);

  LONG target = 5;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &target;
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &ref;
  _variant_t out;
  ASSERT_EQ(VariantChangeType(&out, &outer, 0, VT_R8), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 5.0);
}

TEST(ChangeType, InterfacesBetweenUnknownAndDispatch) {
  kx::com::test::Tracked* object = new kx::com::test::Tracked(1);
  {
    _variant_t unk(static_cast<IUnknown*>(static_cast<ITracked*>(object)));
    _variant_t out;
    // The object has no IDispatch: E_NOINTERFACE becomes a type mismatch.
    EXPECT_EQ(change(unk, VT_DISPATCH, &out), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(change(unk, VT_UNKNOWN, &out), S_OK);
    EXPECT_EQ(object->refs(), 3u);
    EXPECT_EQ(change(unk, VT_I4, &out), DISP_E_TYPEMISMATCH);
  }
  _variant_t out;
  EXPECT_EQ(change(_variant_t(), VT_UNKNOWN, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(_variant_t(7), VT_DISPATCH, &out), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(change(_variant_t(static_cast<IDispatch*>(nullptr)), VT_UNKNOWN, &out), S_OK);
  EXPECT_EQ(out.vt, VT_UNKNOWN);
  EXPECT_EQ(out.punkVal, nullptr);
  EXPECT_EQ(object->Release(), 0u);
}

// An object whose default property (DISPID 0) is 41.
const kx::com::DispatchEntry kValueEntries[] = {
    {u"Value", DISPID_VALUE, DISPATCH_PROPERTYGET, 0,
     [](void*, WORD, VARIANT* const*, VARIANT* result) -> HRESULT {
       if (result != nullptr) {
         result->vt = VT_I4;
         result->lVal = 41;
       }
       return S_OK;
     }},
};
class ValueObject final : public kx::com::DispatchObject<ValueObject, IDispatch> {
 public:
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return kValueEntries; }
};

TEST(ChangeType, DispatchReadsTheDefaultProperty) {
  ValueObject* object = new ValueObject;
  {
    _variant_t v(static_cast<IDispatch*>(object), false);
    _variant_t out;
    ASSERT_EQ(change(v, VT_BSTR, &out), S_OK);
    EXPECT_EQ(text_of(out.bstrVal), u"41");
    EXPECT_EQ(change(v, VT_I4, &out, VARIANT_NOVALUEPROP), DISP_E_TYPEMISMATCH);
  }
}

TEST(ChangeType, ArraysOnlyToTheirOwnType) {
  VARIANT arr;
  arr.vt = VT_ARRAY | VT_BSTR;
  arr.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  _variant_t out;
  EXPECT_EQ(VariantChangeType(&out, &arr, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &arr, 0, VT_ARRAY | VT_BSTR), S_OK);
  EXPECT_NE(out.parray, arr.parray);  // a copy
  VariantClear(&arr);
}

}  // namespace
