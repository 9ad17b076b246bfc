// VARIANT layout and ownership: init, clear, copy, copy through references.
#include <cstddef>
#include <gtest/gtest.h>

#include "com/oleauto.h"
#include "test_support.h"

namespace {

using kx::com::test::text_of;
using kx::com::test::Tracked;

TEST(Variant, CLayout) {
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(offsetof(VARIANT, vt), 0u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, bstrVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, pRecInfo), 16u);
  EXPECT_EQ(VT_BSTR, 8);
  EXPECT_EQ(VT_VARIANT | VT_BYREF, 0x400C);
  EXPECT_EQ(VT_ARRAY | VT_BSTR, 0x2008);
}

TEST(Variant, ClearReleasesWhatItOwns) {
  Tracked* object = new Tracked;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = object;
  object->AddRef();
  EXPECT_EQ(object->refs(), 2u);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object->refs(), 1u);
  object->Release();
}

TEST(Variant, ClearLeavesReferencesAlone) {
  BSTR s = SysAllocString(u"kept");
  VARIANT v;
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &s;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(text_of(s), u"kept");
  SysFreeString(s);
}

TEST(Variant, ClearRefusesUnknownTypes) {
  VARIANT v;
  v.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 0x0FFF);
}

TEST(Variant, CopyDuplicatesStringsAndAddsReferences) {
  Tracked* object = new Tracked;
  VARIANT a, b, c;
  VariantInit(&a);
  VariantInit(&b);
  VariantInit(&c);
  a.vt = VT_BSTR;
  a.bstrVal = SysAllocString(u"text");
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(text_of(b.bstrVal), u"text");
  c.vt = VT_UNKNOWN;
  c.punkVal = object;  // takes the creator's reference
  // Copying over b frees b's string (checked by the leak sanitizer).
  ASSERT_EQ(VariantCopy(&b, &c), S_OK);
  EXPECT_EQ(object->refs(), 2u);
  EXPECT_EQ(VariantCopy(&b, &b), S_OK);
  EXPECT_EQ(object->refs(), 2u);
  VariantClear(&a);
  VariantClear(&b);
  VariantClear(&c);
  EXPECT_EQ(kx::com::test::g_tracked_live.load(), 0);
}

TEST(Variant, CopyIndFollowsReferencesToAnyDepth) {
  BSTR s = SysAllocString(u"deep");
  VARIANT inner;
  inner.vt = VT_BYREF | VT_BSTR;
  inner.pbstrVal = &s;
  VARIANT middle;
  middle.vt = VT_BYREF | VT_VARIANT;
  middle.pvarVal = &inner;
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &middle;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantCopyInd(&out, &outer), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, s);
  EXPECT_EQ(text_of(out.bstrVal), u"deep");
  VariantClear(&out);

  double d = 2.5;
  VARIANT rd;
  rd.vt = VT_BYREF | VT_R8;
  rd.pdblVal = &d;
  ASSERT_EQ(VariantCopyInd(&rd, &rd), S_OK);  // in place
  EXPECT_EQ(rd.vt, VT_R8);
  EXPECT_EQ(rd.dblVal, 2.5);
  SysFreeString(s);
}

TEST(Variant, CopyIndRefusesNullReferences) {
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = nullptr;
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantCopyInd(&out, &ref), E_INVALIDARG);
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST(Variant, CopyOfAnArrayIsDeep) {
  VARIANT a;
  a.vt = VT_ARRAY | VT_BSTR;
  a.parray = SafeArrayCreateVector(VT_BSTR, 1, 1);
  LONG i = 1;
  BSTR s = SysAllocString(u"x");
  ASSERT_EQ(SafeArrayPutElement(a.parray, &i, s), S_OK);
  SysFreeString(s);
  VARIANT b;
  VariantInit(&b);
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.parray, a.parray);
  VariantClear(&a);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(b.parray, &i, &got), S_OK);
  EXPECT_EQ(text_of(got), u"x");
  SysFreeString(got);
  VariantClear(&b);
}

TEST(Variant, ClearOfALockedArrayFails) {
  VARIANT a;
  a.vt = VT_ARRAY | VT_I4;
  a.parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_EQ(SafeArrayLock(a.parray), S_OK);
  EXPECT_EQ(VariantClear(&a), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(a.parray), S_OK);
  EXPECT_EQ(VariantClear(&a), S_OK);
}

}  // namespace
