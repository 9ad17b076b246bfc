// VariantUtil: the XML text form of values, conversion back from it, and
// the SAFEARRAY views.
#include "variantutil.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "kxcomexception.h"
#include "store/object.h"
#include "store/templates.h"
#include "support/frameworktestsupport.h"

namespace {

using kx::test::Narrow;

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

std::string Xml(const VARIANT& v) {
  BSTR text = nullptr;
  VariantUtil::FormatForXML(v, &text);
  std::string r = text == nullptr ? "<null>" : Narrow(std::u16string(text, SysStringLen(text)));
  SysFreeString(text);
  return r;
}

// The "Desc" that a thrown KXComException left as the thread's error.
template <class F>
std::string FailureText(F f, HRESULT* hr = nullptr) {
  ClearThreadErrorInfo();
  try {
    f();
  } catch (const KXComException& e) {
    if (hr != nullptr) *hr = e.hr;
    const std::u16string chain = kx::test::TakeThreadErrorDescription();
    BSTR desc = GetErrorDescription(chain.c_str());
    std::string r = Narrow(desc);
    SysFreeString(desc);
    return r;
  }
  return "<no exception>";
}

// An IUnknown that counts references and never deletes itself.
class CountedObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      ++refs;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(FormatForXML, NoValueIsNullText) {
  Var v;
  EXPECT_EQ(Xml(v.v), "<null>");
  v.v.vt = VT_NULL;
  EXPECT_EQ(Xml(v.v), "<null>");
}

TEST(FormatForXML, IntegersBooleansAndTexts) {
  Var v;
  v.v.vt = VT_I2;
  v.v.iVal = -5;
  EXPECT_EQ(Xml(v.v), "-5");
  v.v.vt = VT_UI1;
  v.v.bVal = 200;
  EXPECT_EQ(Xml(v.v), "200");
  v.v.vt = VT_I4;
  v.v.lVal = -2147483647 - 1;
  EXPECT_EQ(Xml(v.v), "-2147483648");
  v.v.vt = VT_BOOL;
  v.v.boolVal = VARIANT_TRUE;
  EXPECT_EQ(Xml(v.v), "1");
  v.v.boolVal = VARIANT_FALSE;
  EXPECT_EQ(Xml(v.v), "0");
  Var text;
  text.v.vt = VT_BSTR;
  text.v.bstrVal = SysAllocString(u"a <b>");
  EXPECT_EQ(Xml(text.v), "a <b>");
}

TEST(FormatForXML, RealsAndDatesWithSixteenDigits) {
  Var v;
  v.v.vt = VT_R8;
  v.v.dblVal = 0.1;
  EXPECT_EQ(Xml(v.v), "0.1");
  v.v.dblVal = 1.0 / 3.0;
  EXPECT_EQ(Xml(v.v), "0.3333333333333333");
  v.v.dblVal = 1e20;
  EXPECT_EQ(Xml(v.v), "1e+20");
  v.v.vt = VT_R4;
  v.v.fltVal = 0.5f;
  EXPECT_EQ(Xml(v.v), "0.5");
  v.v.vt = VT_DATE;
  v.v.date = 45000.5;  // noon
  EXPECT_EQ(Xml(v.v), "45000.5");
}

TEST(FormatForXML, UnsignedOutOfRangeFailsWithItsCode) {
  Var v;
  v.v.vt = VT_UI4;
  v.v.ulVal = 4000000000u;
  HRESULT hr = S_OK;
  FailureText([&] { Xml(v.v); }, &hr);
  EXPECT_EQ(hr, DISP_E_OVERFLOW);
}

TEST(FormatForXML, ReferencesFollowedAtAnyDepth) {
  LONG number = 77;
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_BYREF | VT_I4;
  inner.plVal = &number;
  VARIANT middle, outer;
  VariantInit(&middle);
  VariantInit(&outer);
  middle.vt = outer.vt = VT_BYREF | VT_VARIANT;
  middle.pvarVal = &inner;
  outer.pvarVal = &middle;
  EXPECT_EQ(Xml(outer), "77");
  VARIANT_BOOL flag = VARIANT_TRUE;
  inner.vt = VT_BYREF | VT_BOOL;
  inner.pboolVal = &flag;
  EXPECT_EQ(Xml(outer), "1");
  BSTR text = SysAllocString(u"by reference");
  inner.vt = VT_BYREF | VT_BSTR;
  inner.pbstrVal = &text;
  EXPECT_EQ(Xml(outer), "by reference");
  SysFreeString(text);
}

TEST(FormatForXML, CurrencyErrorsAndObjectsAreRefused) {
  Var v;
  v.v.vt = VT_CY;
  v.v.cyVal.int64 = 10000;
  HRESULT hr = S_OK;
  EXPECT_EQ(FailureText([&] { Xml(v.v); }, &hr), "No defined XML format for variant type");
  EXPECT_EQ(hr, E_INVALIDARG);
  v.v.vt = VT_ERROR;
  EXPECT_EQ(FailureText([&] { Xml(v.v); }), "No defined XML format for variant type");
  CountedObject object;
  Var o;
  o.v.vt = VT_UNKNOWN;
  o.v.punkVal = &object;
  object.AddRef();
  EXPECT_EQ(FailureText([&] { Xml(o.v); }, &hr), "Cannot convert a object into an XML string");
  EXPECT_EQ(hr, E_INVALIDARG);
  Var array;
  array.v.vt = VT_ARRAY | VT_BSTR;
  array.v.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  EXPECT_EQ(FailureText([&] { Xml(array.v); }), "No defined XML format for variant type");
}

TEST(FormatForXML, NullOutputIsAPointerFailure) {
  Var v;
  HRESULT hr = S_OK;
  EXPECT_EQ(FailureText([&] { VariantUtil::FormatForXML(v.v, nullptr); }, &hr),
            "Invalid pointer passed to method VariantUtil::FormatForXML");
  EXPECT_EQ(hr, E_POINTER);
}

TEST(ChangeTypeFromXML, DigitsThenLettersToInteger) {
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"42abc");
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_I4));
  EXPECT_EQ(v.v.vt, VT_I4);
  EXPECT_EQ(v.v.lVal, 42);
}

TEST(ChangeTypeFromXML, LettersToRealGiveNull) {
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"abc");
  EXPECT_FALSE(VariantUtil::ChangeTypeFromXML(v.v, VT_R8));
  EXPECT_EQ(v.v.vt, VT_NULL);
}

TEST(ChangeTypeFromXML, RealsAndDatesReadWithDecimalPoint) {
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"2.5");
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_R8));
  EXPECT_EQ(v.v.dblVal, 2.5);
  VariantClear(&v.v);
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"45000.5");
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_DATE));
  EXPECT_EQ(v.v.date, 45000.5);
  VariantClear(&v.v);
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"1,5");
  EXPECT_FALSE(VariantUtil::ChangeTypeFromXML(v.v, VT_R8));
  EXPECT_EQ(v.v.vt, VT_NULL);
}

TEST(ChangeTypeFromXML, BooleanWordsAndRefusal) {
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"YES");
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_BOOL));
  EXPECT_EQ(v.v.boolVal, VARIANT_TRUE);
  VariantClear(&v.v);
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"maybe");
  HRESULT hr = S_OK;
  FailureText([&] { VariantUtil::ChangeTypeFromXML(v.v, VT_BOOL); }, &hr);
  EXPECT_EQ(hr, E_FAIL);
}

TEST(ChangeTypeFromXML, EmptyTextGivesNullForAnyTarget) {
  for (VARTYPE target : {VT_I4, VT_R8, VT_BOOL, VT_I2}) {
    Var v;
    v.v.vt = VT_BSTR;
    v.v.bstrVal = SysAllocString(u"");
    EXPECT_FALSE(VariantUtil::ChangeTypeFromXML(v.v, target));
    EXPECT_EQ(v.v.vt, VT_NULL);
  }
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = nullptr;
  EXPECT_FALSE(VariantUtil::ChangeTypeFromXML(v.v, VT_I4));
  EXPECT_EQ(v.v.vt, VT_NULL);
}

TEST(ChangeTypeFromXML, NoValueIsNullAndTrueOnlyForNull) {
  Var v;
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_NULL));
  EXPECT_EQ(v.v.vt, VT_NULL);
  v.v.vt = VT_ERROR;
  EXPECT_FALSE(VariantUtil::ChangeTypeFromXML(v.v, VT_I4));
  EXPECT_EQ(v.v.vt, VT_NULL);
}

TEST(ChangeTypeFromXML, TextToUnsupportedTypeFails) {
  Var v;
  v.v.vt = VT_BSTR;
  v.v.bstrVal = SysAllocString(u"12");
  HRESULT hr = S_OK;
  EXPECT_EQ(FailureText([&] { VariantUtil::ChangeTypeFromXML(v.v, VT_I2); }, &hr),
            "No defined XML format for given type");
  EXPECT_EQ(hr, E_FAIL);
}

TEST(ChangeTypeFromXML, ValuesGoThroughVariantChangeType) {
  Var v;
  v.v.vt = VT_I4;
  v.v.lVal = 3;
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_R8));
  EXPECT_EQ(v.v.vt, VT_R8);
  EXPECT_EQ(v.v.dblVal, 3.0);
  v.v.dblVal = 1e300;
  HRESULT hr = S_OK;
  FailureText([&] { VariantUtil::ChangeTypeFromXML(v.v, VT_I4); }, &hr);
  EXPECT_EQ(hr, DISP_E_OVERFLOW);
  EXPECT_EQ(v.v.vt, VT_R8);  // unchanged on failure
}

TEST(ChangeTypeFromXML, ToTextUsesTheXmlForm) {
  Var v;
  v.v.vt = VT_BOOL;
  v.v.boolVal = VARIANT_TRUE;
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(v.v, VT_BSTR));
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(Narrow(v.v.bstrVal), "1");
  LONG number = -8;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(ref, VT_BSTR));
  ASSERT_EQ(ref.vt, VT_BSTR);
  EXPECT_EQ(Narrow(ref.bstrVal), "-8");
  EXPECT_EQ(number, -8);  // the referred value is left alone
  VariantClear(&ref);
}

TEST(ChangeTypeFromXML, TextBehindAReference) {
  Var text;
  text.v.vt = VT_BSTR;
  text.v.bstrVal = SysAllocString(u"17");
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &text.v;
  EXPECT_TRUE(VariantUtil::ChangeTypeFromXML(ref, VT_I4));
  EXPECT_EQ(ref.lVal, 17);
  EXPECT_EQ(text.v.vt, VT_BSTR);  // the referred VARIANT keeps its text
}

// ---------------------------------------------------------------------------
// SAFEARRAYs

SAFEARRAY* Matrix(VARTYPE vt) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  return SafeArrayCreate(vt, 2, bounds);
}

TEST(SafeArrayVartype, FromFeatureFlags) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  SAFEARRAY* objects = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
  SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 0, 1);
  EXPECT_EQ(VariantUtil::GetSafeArrayVartype(strings), VT_BSTR);
  EXPECT_EQ(VariantUtil::GetSafeArrayVartype(variants), VT_VARIANT);
  EXPECT_EQ(VariantUtil::GetSafeArrayVartype(objects), VT_DISPATCH);
  EXPECT_EQ(VariantUtil::GetSafeArrayVartype(numbers), VT_I4);
  EXPECT_EQ(VariantUtil::GetSafeArrayVartype(nullptr), VT_EMPTY);
  for (SAFEARRAY* a : {strings, variants, objects, numbers}) SafeArrayDestroy(a);
}

TEST(SafeArrayVectorTest, NullArraysGiveEmptyVectorsOfTheFormsType) {
  VariantUtil::SafeArrayVector objects(nullptr, true);
  EXPECT_EQ(objects.Count(), 0);
  EXPECT_EQ(objects.Vartype(), VT_DISPATCH);
  VariantUtil::SafeArrayVector strings;
  strings.AttachStrings(nullptr, false);
  EXPECT_EQ(strings.Vartype(), VT_BSTR);
  EXPECT_EQ(strings.Count(), 0);
}

TEST(SafeArrayVectorTest, TwoDimensionsAreRefusedUnlockedAndNotDestroyed) {
  SAFEARRAY* matrix = Matrix(VT_VARIANT);
  {
    VariantUtil::SafeArrayVector vector(matrix, true);
    EXPECT_EQ(vector.Array(), nullptr);
    EXPECT_EQ(vector.Count(), 0);
    EXPECT_EQ(vector.Vartype(), VT_EMPTY);
  }
  // Still ours, and not left locked.
  EXPECT_EQ(SafeArrayDestroy(matrix), S_OK);
}

TEST(SafeArrayVectorTest, KeepsCountAndLowerBoundAndStaysLocked) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 1, 3);
  {
    VariantUtil::SafeArrayVector vector(array, false);
    EXPECT_EQ(vector.Count(), 3);
    EXPECT_EQ(vector.LowerBound(), 1);
    EXPECT_EQ(vector.Vartype(), VT_UNKNOWN);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  }
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrayVectorTest, OwnedArrayIsDestroyedWhenLetGo) {
  // Leak checking shows a missing destroy; a double destroy would crash.
  VariantUtil::SafeArrayVector vector(SafeArrayCreateVector(VT_VARIANT, 0, 2), true);
  EXPECT_EQ(vector.Count(), 2);
  vector.Release();
  EXPECT_EQ(vector.Array(), nullptr);
  vector.Release();
}

TEST(SafeArrayVectorTest, StringArrayRefusedByObjectsKeptByStrings) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
  VariantUtil::SafeArrayVector vector;
  EXPECT_EQ(vector.AttachObjects(strings, false), E_INVALIDARG);
  EXPECT_EQ(vector.Array(), nullptr);
  vector.AttachStrings(strings, true);
  EXPECT_EQ(vector.Array(), strings);
  EXPECT_EQ(vector.Count(), 2);
  EXPECT_EQ(vector.AttachObjects(nullptr, false), E_POINTER);  // lets the owned one go
  EXPECT_EQ(vector.Array(), nullptr);
}

TEST(SafeArrayVectorTest, InterfaceFromStringVectorIsEFail) {
  VariantUtil::SafeArrayVector vector;
  vector.AttachStrings(SafeArrayCreateVector(VT_BSTR, 0, 1), true);
  IUnknown* out = reinterpret_cast<IUnknown*>(0x1);
  EXPECT_EQ(vector.GetInterfaceAt(0, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);
}

TEST(SafeArrayVectorTest, InterfacesFromUnknownAndVariantElements) {
  CountedObject object;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 5, 1);
  LONG index = 5;
  SafeArrayPutElement(array, &index, static_cast<IUnknown*>(&object));
  ASSERT_EQ(object.refs, 2u);
  VariantUtil::SafeArrayVector vector(array, true);
  IUnknown* out = nullptr;
  EXPECT_EQ(vector.GetInterfaceAt(0, &out), S_OK);
  EXPECT_EQ(out, &object);
  EXPECT_EQ(object.refs, 3u);  // only the query's reference is left with us
  out->Release();
  EXPECT_EQ(vector.GetInterfaceAt(1, &out), DISP_E_BADINDEX);

  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  Var element;
  element.v.vt = VT_UNKNOWN;
  element.v.punkVal = &object;
  object.AddRef();
  index = 0;
  SafeArrayPutElement(variants, &index, &element.v);
  Var number;
  number.v.vt = VT_I4;
  number.v.lVal = 3;
  index = 1;
  SafeArrayPutElement(variants, &index, &number.v);
  VariantUtil::SafeArrayVector variantVector;
  ASSERT_EQ(variantVector.AttachObjects(variants, true), S_OK);
  EXPECT_EQ(variantVector.GetInterfaceAt(0, &out), S_OK);
  EXPECT_EQ(out, &object);
  out->Release();
  EXPECT_EQ(variantVector.GetInterfaceAt(1, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(out, nullptr);
  variantVector.Release();
  vector.Release();
  VariantClear(&element.v);
  EXPECT_EQ(object.refs, 1u);
}

// An index whose sum with the lower bound leaves the 32-bit range is just
// outside the array (no wrap-around onto an element, no overflow).
TEST(SafeArrayVectorTest, FarIndicesAreOutsideTheArray) {
  CountedObject object;
  SAFEARRAY* high = SafeArrayCreateVector(VT_UNKNOWN, 5, 1);
  LONG index = 5;
  SafeArrayPutElement(high, &index, static_cast<IUnknown*>(&object));
  VariantUtil::SafeArrayVector vector(high, true);
  IUnknown* out = nullptr;
  EXPECT_EQ(vector.GetInterfaceAt(INT32_MAX, &out), DISP_E_BADINDEX);
  EXPECT_EQ(out, nullptr);
  SAFEARRAY* low = SafeArrayCreateVector(VT_UNKNOWN, -5, 1);
  index = -5;
  SafeArrayPutElement(low, &index, static_cast<IUnknown*>(&object));
  VariantUtil::SafeArrayVector negative(low, true);
  EXPECT_EQ(negative.GetInterfaceAt(INT32_MIN, &out), DISP_E_BADINDEX);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(negative.GetInterfaceAt(0, &out), S_OK);
  out->Release();
  vector.Release();
  negative.Release();
  EXPECT_EQ(object.refs, 1u);
}

// Answers no interface but remembers what it was asked for.
class QueryRecorder final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    asked = iid;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  IID asked = IID_NULL;
  ULONG refs = 1;
};

TEST(SafeArrayVectorTest, ClassAndClassViewAskForTheirInterfaces) {
  QueryRecorder recorder;
  SAFEARRAY* array = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
  LONG index = 0;
  SafeArrayPutElement(array, &index, static_cast<IUnknown*>(&recorder));
  VariantUtil::SafeArrayVector vector(array, true);
  IKXQClass* cls = nullptr;
  EXPECT_EQ(vector.GetClassAt(0, &cls), E_NOINTERFACE);
  EXPECT_TRUE(IsEqualIID(recorder.asked, IID_IKXQClass));
  IKXQClassView* view = nullptr;
  EXPECT_EQ(vector.GetClassViewAt(0, &view), E_NOINTERFACE);
  EXPECT_TRUE(IsEqualIID(recorder.asked, IID_IKXQClassView));
  vector.Release();
  EXPECT_EQ(recorder.refs, 1u);  // the taken element was released again
}

TEST(SafeArrayVectorTest, AttachRefusesTwoDimensionsWithKXError) {
  ClearThreadErrorInfo();
  SAFEARRAY* matrix = Matrix(VT_I4);
  VariantUtil::SafeArrayVector vector;
  EXPECT_EQ(vector.Attach(matrix, false), E_INVALIDARG);
  const std::u16string chain = kx::test::TakeThreadErrorDescription();
  EXPECT_EQ(
      chain.rfind(u"<KXError Desc=\"Safe array is not a 1-Dimensional vector\" HR=\"E_INVALIDARG\" "
                  u"File=\"globalinclude/variantutil\"",
                  0),
      0u)
      << Narrow(chain);
  EXPECT_EQ(SafeArrayDestroy(matrix), S_OK);
  EXPECT_EQ(vector.Attach(nullptr, false), E_POINTER);
  EXPECT_NE(kx::test::TakeThreadErrorDescription().find(u"Invalid pointer passed to method"),
            std::u16string::npos);
  SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, -2, 4);
  EXPECT_EQ(vector.Attach(numbers, true), S_OK);
  EXPECT_EQ(vector.Vartype(), VT_I4);
  EXPECT_EQ(vector.LowerBound(), -2);
  EXPECT_EQ(vector.Count(), 4);
}

TEST(SafeArrayMatrixTest, AttachesTwoDimensionsOnly) {
  ClearThreadErrorInfo();
  VariantUtil::SafeArrayMatrix matrix;
  EXPECT_EQ(matrix.Attach(Matrix(VT_VARIANT), true), S_OK);
  EXPECT_EQ(matrix.Count1(), 2);
  EXPECT_EQ(matrix.LowerBound1(), 0);
  EXPECT_EQ(matrix.Count2(), 3);
  EXPECT_EQ(matrix.LowerBound2(), 1);
  EXPECT_EQ(matrix.Vartype(), VT_VARIANT);
  SAFEARRAY* vector = SafeArrayCreateVector(VT_BSTR, 0, 1);
  EXPECT_EQ(matrix.Attach(vector, false), E_INVALIDARG);
  EXPECT_NE(
      kx::test::TakeThreadErrorDescription().find(u"Safe array is not a 2-Dimensional vector"),
      std::u16string::npos);
  EXPECT_EQ(matrix.Array(), nullptr);
  EXPECT_EQ(SafeArrayDestroy(vector), S_OK);
}

TEST(GetSafeArrayElementTest, ValuesCopiesAndRefusals) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG index = 0;
  BSTR text = SysAllocString(u"copy me");
  SafeArrayPutElement(strings, &index, text);
  SysFreeString(text);
  Var out;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_BSTR, &index, &out.v), S_OK);
  EXPECT_EQ(out.v.vt, VT_BSTR);
  EXPECT_EQ(Narrow(out.v.bstrVal), "copy me");
  VariantClear(&out.v);

  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_DATE, &index, &out.v), E_INVALIDARG);
  EXPECT_EQ(out.v.vt, VT_ERROR);
  EXPECT_EQ(out.v.scode, E_INVALIDARG);
  out.v.vt = VT_EMPTY;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_CY, &index, &out.v), E_INVALIDARG);
  out.v.vt = VT_EMPTY;
  index = 1;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_BSTR, &index, &out.v), DISP_E_BADINDEX);
  EXPECT_EQ(out.v.vt, VT_ERROR);
  out.v.vt = VT_EMPTY;
  SafeArrayDestroy(strings);

  SAFEARRAY* shorts = SafeArrayCreateVector(VT_I2, 0, 1);
  index = 0;
  SHORT value = -3;
  SafeArrayPutElement(shorts, &index, &value);
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(shorts, VT_I2, &index, &out.v), S_OK);
  EXPECT_EQ(out.v.vt, VT_I2);
  EXPECT_EQ(out.v.iVal, -3);
  SafeArrayDestroy(shorts);
}

TEST(GetSafeArrayElementTest, ElementTypeMustMatchTheArray) {
  // A VARIANT element read as a short would be written past the VARIANT.
  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG index = 0;
  Var out;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(variants, VT_I2, &index, &out.v), E_INVALIDARG);
  EXPECT_EQ(out.v.vt, VT_ERROR);
  out.v.vt = VT_EMPTY;
  SafeArrayDestroy(variants);
  SAFEARRAY* shorts = SafeArrayCreateVector(VT_I2, 0, 1);
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(shorts, VT_VARIANT, &index, &out.v), E_INVALIDARG);
  out.v.vt = VT_EMPTY;
  SafeArrayDestroy(shorts);
}

// Element types of the same size are no less different: an interface read
// as a BSTR would later be freed as a string, a BSTR copy read as a real
// would be lost. An array that knows its element type refuses another.
TEST(GetSafeArrayElementTest, SameSizedOtherTypeIsRefused) {
  CountedObject object;
  SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  LONG index = 0;
  SafeArrayPutElement(objects, &index, static_cast<IUnknown*>(&object));
  Var out;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(objects, VT_BSTR, &index, &out.v), E_INVALIDARG);
  EXPECT_EQ(out.v.vt, VT_ERROR);
  out.v.vt = VT_EMPTY;  // never free what a wrong read may have left
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(objects, VT_R8, &index, &out.v), E_INVALIDARG);
  out.v.vt = VT_EMPTY;
  EXPECT_EQ(object.refs, 2u);  // the array's reference only
  SafeArrayDestroy(objects);

  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  BSTR text = SysAllocString(u"kept");
  SafeArrayPutElement(strings, &index, text);
  SysFreeString(text);
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_R8, &index, &out.v), E_INVALIDARG);
  EXPECT_EQ(out.v.vt, VT_ERROR);
  out.v.vt = VT_EMPTY;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_DISPATCH, &index, &out.v), E_INVALIDARG);
  out.v.vt = VT_EMPTY;
  ASSERT_EQ(VariantUtil::GetSafeArrayElement(strings, VT_BSTR, &index, &out.v), S_OK);
  EXPECT_EQ(Narrow(out.v.bstrVal), "kept");
  SafeArrayDestroy(strings);
}

TEST(GetSafeArrayElementTest, VariantElementIsCopied) {
  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG index = 0;
  Var element;
  element.v.vt = VT_BSTR;
  element.v.bstrVal = SysAllocString(u"inside");
  SafeArrayPutElement(variants, &index, &element.v);
  Var out;
  EXPECT_EQ(VariantUtil::GetSafeArrayElement(variants, VT_VARIANT, &index, &out.v), S_OK);
  ASSERT_EQ(out.v.vt, VT_BSTR);
  EXPECT_EQ(Narrow(out.v.bstrVal), "inside");
  SafeArrayDestroy(variants);  // the copy outlives the array
  EXPECT_EQ(Narrow(out.v.bstrVal), "inside");
}

}  // namespace
