// SAFEARRAY: bounds, index checks, element ownership, redimension.
#include <gtest/gtest.h>

#include "com/oleauto.h"
#include "test_support.h"

namespace {

using kx::com::test::text_of;
using kx::com::test::Tracked;

TEST(SafeArray, VectorBoundsAndFlags) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  ASSERT_NE(psa, nullptr);
  LONG lo = 0, hi = 0;
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lo), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(psa, 1, &hi), S_OK);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 3);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lo), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &lo), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetElemsize(psa), sizeof(VARIANT));
  EXPECT_TRUE(psa->fFeatures & FADF_VARIANT);
  EXPECT_TRUE(psa->fFeatures & FADF_HAVEVARTYPE);
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, FeatureFlagsTellTheElementType) {
  struct Case {
    VARTYPE vt;
    USHORT flag;
  } cases[] = {{VT_BSTR, FADF_BSTR},
               {VT_UNKNOWN, FADF_UNKNOWN},
               {VT_DISPATCH, FADF_DISPATCH},
               {VT_VARIANT, FADF_VARIANT}};
  for (const Case& c : cases) {
    SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 0, 1);
    ASSERT_NE(psa, nullptr);
    EXPECT_TRUE(psa->fFeatures & c.flag) << c.vt;
    VARTYPE vt = 0;
    ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    SafeArrayDestroy(psa);
  }
  SAFEARRAY* unk = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  GUID iid;
  ASSERT_EQ(SafeArrayGetIID(unk, &iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IUnknown));
  SafeArrayDestroy(unk);
}

TEST(SafeArray, IndexOutsideTheBoundsIsBadIndex) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, -2, 4);  // -2..1
  LONG value = 7;
  LONG i = -3;
  EXPECT_EQ(SafeArrayPutElement(psa, &i, &value), DISP_E_BADINDEX);
  i = 2;
  EXPECT_EQ(SafeArrayPutElement(psa, &i, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetElement(psa, &i, &value), DISP_E_BADINDEX);
  i = -2;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
  LONG back = 0;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &back), S_OK);
  EXPECT_EQ(back, 7);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, TwoDimensionsWithLowerBounds) {
  // 2 x 3 with bounds 1..2 and 1..3; the first index varies fastest.
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 1}};
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  LONG hi = 0;
  ASSERT_EQ(SafeArrayGetUBound(psa, 1, &hi), S_OK);
  EXPECT_EQ(hi, 2);
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &hi), S_OK);
  EXPECT_EQ(hi, 3);
  for (LONG r = 1; r <= 2; ++r)
    for (LONG c = 1; c <= 3; ++c) {
      LONG idx[2] = {r, c};
      LONG v = r * 10 + c;
      ASSERT_EQ(SafeArrayPutElement(psa, idx, &v), S_OK);
    }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0], 11);
  EXPECT_EQ(data[1], 21);
  EXPECT_EQ(data[2], 12);
  EXPECT_EQ(data[5], 23);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
  LONG bad[2] = {3, 1};
  LONG v = 0;
  EXPECT_EQ(SafeArrayGetElement(psa, bad, &v), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, BstrElementsAreCopiedBothWays) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR s = SysAllocString(u"one");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, s), S_OK);
  s[0] = u'X';  // the array holds its own copy
  SysFreeString(s);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
  EXPECT_EQ(text_of(got), u"one");
  got[0] = u'Y';  // the caller's copy
  SysFreeString(got);
  BSTR again = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &again), S_OK);
  EXPECT_EQ(text_of(again), u"one");
  SysFreeString(again);
  // Replacing frees the old element (leak sanitizer would tell).
  BSTR two = SysAllocString(u"two");
  ASSERT_EQ(SafeArrayPutElement(psa, &i, two), S_OK);
  SysFreeString(two);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, InterfaceElementsHoldReferences) {
  Tracked* object = new Tracked;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 1, 2);
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, static_cast<IUnknown*>(object)), S_OK);
  EXPECT_EQ(object->refs(), 2u);
  IUnknown* got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
  EXPECT_EQ(object->refs(), 3u);
  got->Release();
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  EXPECT_EQ(object->refs(), 3u);
  SafeArrayDestroy(copy);
  ASSERT_EQ(SafeArrayPutElement(psa, &i, nullptr), S_OK);  // releases the old one
  EXPECT_EQ(object->refs(), 1u);
  ASSERT_EQ(SafeArrayPutElement(psa, &i, static_cast<IUnknown*>(object)), S_OK);
  SafeArrayDestroy(psa);
  EXPECT_EQ(object->refs(), 1u);
  object->Release();
}

TEST(SafeArray, VariantElementsAreCopies) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 1, 1);
  LONG i = 1;
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"v");
  ASSERT_EQ(SafeArrayPutElement(psa, &i, &v), S_OK);
  VariantClear(&v);
  VARIANT got;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
  EXPECT_EQ(got.vt, VT_BSTR);
  EXPECT_EQ(text_of(got.bstrVal), u"v");
  VariantClear(&got);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, RedimGrowsAndShrinksTheLastDimension) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {1, 1}};
  SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 2, bounds);
  LONG idx[2] = {2, 1};
  BSTR s = SysAllocString(u"keep");
  ASSERT_EQ(SafeArrayPutElement(psa, idx, s), S_OK);
  SysFreeString(s);
  SAFEARRAYBOUND bigger{3, 1};
  ASSERT_EQ(SafeArrayRedim(psa, &bigger), S_OK);
  LONG hi = 0;
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &hi), S_OK);
  EXPECT_EQ(hi, 3);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, idx, &got), S_OK);
  EXPECT_EQ(text_of(got), u"keep");
  SysFreeString(got);
  LONG last[2] = {2, 3};
  ASSERT_EQ(SafeArrayGetElement(psa, last, &got), S_OK);
  EXPECT_EQ(got, nullptr);  // new elements start empty
  s = SysAllocString(u"dropped");
  ASSERT_EQ(SafeArrayPutElement(psa, last, s), S_OK);
  SysFreeString(s);
  SAFEARRAYBOUND smaller{1, 1};
  ASSERT_EQ(SafeArrayRedim(psa, &smaller), S_OK);  // frees "dropped"
  EXPECT_EQ(SafeArrayGetElement(psa, last, &got), DISP_E_BADINDEX);
  SafeArrayDestroy(psa);
}

TEST(SafeArray, BadCreationArgumentsGiveNull) {
  SAFEARRAYBOUND b{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &b), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  SAFEARRAYBOUND huge[3] = {{0x10000, 0}, {0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, huge), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

}  // namespace
