// VARIANT routines and owned-string helpers of the data services.
#include <cmath>
#include <gtest/gtest.h>

#include "com/oleauto.h"
#include "kxvalueutils.h"
#include "store/object.h"
#include "support/frameworktestsupport.h"

namespace {

using kx::test::Narrow;

// A VARIANT cleared at the end of the test.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  static Var Text(const char16_t* text) {
    Var r;
    r.v.vt = VT_BSTR;
    r.v.bstrVal = SysAllocString(text);
    return r;
  }
  Var(Var&& other) noexcept : v(other.v) { VariantInit(&other.v); }
};

Var Long(LONG value) {
  Var r;
  r.v.vt = VT_I4;
  r.v.lVal = value;
  return r;
}

// A chain of VT_BYREF|VT_VARIANT references of the given depth to `target`.
struct RefChain {
  explicit RefChain(VARIANT* target, int depth) : links(depth) {
    VARIANT* next = target;
    for (int i = depth - 1; i >= 0; --i) {
      VariantInit(&links[i]);
      links[i].vt = VT_BYREF | VT_VARIANT;
      links[i].pvarVal = next;
      next = &links[i];
    }
  }
  VARIANT& Outer() { return links[0]; }
  std::vector<VARIANT> links;
};

TEST(VariantTypeClass, ClassesByBaseType) {
  Var v;
  struct {
    VARTYPE vt;
    VARTYPE cls;
  } cases[] = {{VT_EMPTY, VT_NULL},  {VT_NULL, VT_NULL}, {VT_I1, VT_I4},
               {VT_UI2, VT_I4},      {VT_UINT, VT_I4},   {VT_R4, VT_R8},
               {VT_DATE, VT_DATE},   {VT_BOOL, VT_BOOL}, {VT_CY, VT_ERROR},
               {VT_ERROR, VT_ERROR}, {VT_I8, VT_ERROR},  {VT_DECIMAL, VT_ERROR}};
  for (const auto& c : cases) {
    v.v.vt = c.vt;
    v.v.llVal = 0;
    EXPECT_EQ(GetVariantTypeClass(v.v), c.cls) << "vt " << c.vt;
  }
  v.v.vt = VT_EMPTY;
  LONG n = 4;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &n;
  EXPECT_EQ(GetVariantTypeClass(byRef), VT_I4);
}

TEST(VariantTypeClass, ReferencesAreFollowedAtAnyDepth) {
  Var text = Var::Text(u"x");
  RefChain chain(&text.v, 5);
  EXPECT_EQ(GetVariantTypeClass(chain.Outer()), VT_BSTR);
  EXPECT_TRUE(IsVariantSet(chain.Outer()));
  BSTR copy = nullptr;
  ASSERT_EQ(VariantToString(chain.Outer(), &copy), S_OK);
  EXPECT_EQ(Narrow(copy), "x");
  SysFreeString(copy);
}

TEST(VariantTypeClass, CyclicReferenceIsTakenForNoValue) {
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_BYREF | VT_VARIANT;
  self.pvarVal = &self;
  EXPECT_FALSE(IsVariantSet(self));
  EXPECT_EQ(GetVariantTypeClass(self), VT_NULL);
}

TEST(IsVariantSetTest, EmptyTextIsSetNullObjectIsNot) {
  Var empty = Var::Text(u"");
  EXPECT_TRUE(IsVariantSet(empty.v));
  Var nullText;
  nullText.v.vt = VT_BSTR;
  nullText.v.bstrVal = nullptr;
  EXPECT_TRUE(IsVariantSet(nullText.v));
  Var object;
  object.v.vt = VT_UNKNOWN;
  object.v.punkVal = nullptr;
  EXPECT_FALSE(IsVariantSet(object.v));
  Var error;
  error.v.vt = VT_ERROR;
  EXPECT_FALSE(IsVariantSet(error.v));
  Var nothing;
  EXPECT_FALSE(IsVariantSet(nothing.v));
}

// Answers no interface but remembers what it was asked for.
class QueryRecorder final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    asked = iid;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  IID asked = IID_NULL;
};

TEST(VariantToObjectPtrTest, NoValueIsNullObjectsAreQueried) {
  IKXQObject* out = reinterpret_cast<IKXQObject*>(0x1);
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(VariantToObjectPtr(v, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  v.vt = VT_ERROR;
  EXPECT_EQ(VariantToObjectPtr(v, &out), S_OK);
  v.vt = VT_DISPATCH;
  v.pdispVal = nullptr;
  EXPECT_EQ(VariantToObjectPtr(v, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  QueryRecorder recorder;
  IUnknown* held = &recorder;
  v.vt = VT_BYREF | VT_UNKNOWN;
  v.ppunkVal = &held;
  EXPECT_EQ(VariantToObjectPtr(v, &out), E_NOINTERFACE);
  EXPECT_TRUE(IsEqualIID(recorder.asked, IID_IKXQObject));
  EXPECT_EQ(out, nullptr);
  Var text = Var::Text(u"12");
  EXPECT_EQ(VariantToObjectPtr(text.v, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantToLongTest, StrictRefusesTextLenientReadsIt) {
  Var text = Var::Text(u"12");
  LONG out = -1;
  EXPECT_EQ(VariantToLong(text.v, &out, false), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(VariantToLong(text.v, &out, true), S_OK);
  EXPECT_EQ(out, 12);
}

TEST(VariantToLongTest, IntegerTypesByValueAndReference) {
  Var small;
  small.v.vt = VT_I2;
  small.v.iVal = -5;
  LONG out = 0;
  EXPECT_EQ(VariantToLong(small.v, &out, false), S_OK);
  EXPECT_EQ(out, -5);
  ULONG big = 4000000000u;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_UI4;
  ref.pulVal = &big;
  EXPECT_EQ(VariantToLong(ref, &out, false), DISP_E_OVERFLOW);
  Var real;
  real.v.vt = VT_R8;
  real.v.dblVal = 2.0;
  EXPECT_EQ(VariantToLong(real.v, &out, false), DISP_E_TYPEMISMATCH);
}

TEST(VariantToDoubleTest, DateGivesItsSerialNumber) {
  Var date;
  date.v.vt = VT_DATE;
  date.v.date = 45000.5;
  double out = 0;
  EXPECT_EQ(VariantToDouble(date.v, &out, false), S_OK);
  EXPECT_EQ(out, 45000.5);
}

TEST(VariantToDoubleTest, TextThatIsNoNumberLeavesOutputAndSucceeds) {
  Var text = Var::Text(u"abc");
  double out = 7.25;
  EXPECT_EQ(VariantToDouble(text.v, &out, false), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantToDouble(text.v, &out, true), S_OK);
  EXPECT_EQ(out, 7.25);
  Var number = Var::Text(u" 1.5e3 ");
  EXPECT_EQ(VariantToDouble(number.v, &out, true), S_OK);
  EXPECT_EQ(out, 1500.0);
}

TEST(VariantToDoubleTest, NullReferenceGivesZeroAndR4Widens) {
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_R8;
  ref.pdblVal = nullptr;
  double out = 3;
  EXPECT_EQ(VariantToDouble(ref, &out, false), S_OK);
  EXPECT_EQ(out, 0.0);
  Var single;
  single.v.vt = VT_R4;
  single.v.fltVal = 0.5f;
  EXPECT_EQ(VariantToDouble(single.v, &out, false), S_OK);
  EXPECT_EQ(out, 0.5);
  Var integer = Long(9);
  EXPECT_EQ(VariantToDouble(integer.v, &out, true), S_OK);
  EXPECT_EQ(out, 9.0);
}

TEST(VariantToBoolTest, LenientReadsWordsNotLetters) {
  bool out = false;
  Var yes = Var::Text(u"Yes");
  EXPECT_EQ(VariantToBool(yes.v, &out, true), S_OK);
  EXPECT_TRUE(out);
  Var t = Var::Text(u"t");
  EXPECT_EQ(VariantToBool(t.v, &out, true), E_FAIL);
  EXPECT_EQ(VariantToBool(yes.v, &out, false), DISP_E_TYPEMISMATCH);
  Var zero = Long(0);
  out = true;
  EXPECT_EQ(VariantToBool(zero.v, &out, true), S_OK);
  EXPECT_FALSE(out);
}

TEST(VariantToBoolTest, BooleanByReference) {
  VARIANT_BOOL flag = VARIANT_TRUE;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_BOOL;
  ref.pboolVal = &flag;
  bool out = false;
  EXPECT_EQ(VariantToBool(ref, &out, false), S_OK);
  EXPECT_TRUE(out);
  ref.pboolVal = nullptr;
  EXPECT_EQ(VariantToBool(ref, &out, false), S_OK);
  EXPECT_FALSE(out);
}

TEST(VariantToStringTest, CopiesKeepEmbeddedZerosAndRefuseOthers) {
  Var text;
  text.v.vt = VT_BSTR;
  const char16_t raw[] = {u'a', 0, u'b'};
  text.v.bstrVal = SysAllocStringLen(raw, 3);
  BSTR copy = nullptr;
  ASSERT_EQ(VariantToString(text.v, &copy), S_OK);
  EXPECT_NE(copy, text.v.bstrVal);
  EXPECT_EQ(SysStringLen(copy), 3u);
  SysFreeString(copy);
  Var number = Long(1);
  EXPECT_EQ(VariantToString(number.v, &copy), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(copy, nullptr);
}

TEST(ParseBooleanTest, WordsInAnyCase) {
  bool out = false;
  for (const char16_t* word : {u"1", u"TRUE", u"yes", u"On"}) {
    out = false;
    EXPECT_EQ(ParseBoolean(word, &out), S_OK);
    EXPECT_TRUE(out);
  }
  for (const char16_t* word : {u"0", u"False", u"NO", u"off"}) {
    out = true;
    EXPECT_EQ(ParseBoolean(word, &out), S_OK);
    EXPECT_FALSE(out);
  }
  for (const char16_t* word : {u"10", u"t", u"", u" yes", u"y"})
    EXPECT_EQ(ParseBoolean(word, &out), E_FAIL);
  EXPECT_EQ(ParseBoolean(nullptr, &out), E_FAIL);
}

TEST(ValueNumbers, WholeTextMustBeANumber) {
  double out = -1;
  EXPECT_FALSE(ParseValueDouble(u"1,5", &out));
  EXPECT_FALSE(ParseValueDouble(u"12abc", &out));
  EXPECT_FALSE(ParseValueDouble(u"", &out));
  EXPECT_FALSE(ParseValueDouble(u"  ", &out));
  EXPECT_EQ(out, -1);
  EXPECT_TRUE(ParseValueDouble(u"+2.5", &out));
  EXPECT_EQ(out, 2.5);
  EXPECT_TRUE(ParseValueDouble(u"\t-0.125 \r\n", &out));
  EXPECT_EQ(out, -0.125);
  // Longer than any fixed buffer: still read whole.
  std::u16string longText = u"1." + std::u16string(200, u'0') + u"1";
  EXPECT_TRUE(ParseValueDouble(longText.c_str(), &out));
  EXPECT_EQ(out, 1.0);
}

// Values read the same numbers as the request parser: words such as "nan"
// or "inf" are no numbers, a number too small for a double reads as 0 and
// the length of the text sets no limit.
TEST(ValueNumbers, OnlyDecimalNumbersAreNumbers) {
  double out = -1;
  for (const char16_t* word : {u"nan", u"NAN", u"inf", u"-Infinity", u"+inf"}) {
    EXPECT_FALSE(ParseValueDouble(word, &out)) << Narrow(word);
  }
  EXPECT_EQ(out, -1);
  EXPECT_TRUE(ParseValueDouble(u"1e-400", &out));
  EXPECT_EQ(out, 0.0);
  std::u16string longText = u"2." + std::u16string(5000, u'0') + u"1";
  EXPECT_TRUE(ParseValueDouble(longText.c_str(), &out));
  EXPECT_EQ(out, 2.0);
  // The lenient reader keeps its output for a word that is no number.
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"inf");
  out = 7;
  EXPECT_EQ(VariantToDouble(v, &out, true), S_OK);
  EXPECT_EQ(out, 7);
  VariantClear(&v);
}

TEST(ValueNumbers, FormattedWithSixteenDigits) {
  OLECHAR text[64];
  FormatValueDouble(0.1, text);
  EXPECT_EQ(Narrow(text), "0.1");
  FormatValueDouble(1.0 / 3.0, text);
  EXPECT_EQ(Narrow(text), "0.3333333333333333");
  FormatValueDouble(1e20, text);
  EXPECT_EQ(Narrow(text), "1e+20");
  FormatValueDouble(-45000.5, text);
  EXPECT_EQ(Narrow(text), "-45000.5");
  FormatValueDouble(-1.7976931348623157e308, text);
  EXPECT_EQ(Narrow(text), "-1.797693134862316e+308");
}

TEST(OwnedStrings, AssignAndDuplicate) {
  OLECHAR* buffer = nullptr;
  AssignString(buffer, u"abc");
  EXPECT_EQ(Narrow(buffer), "abc");
  OLECHAR* same = buffer;
  AssignString(buffer, buffer);
  EXPECT_EQ(buffer, same);
  AssignString(buffer, nullptr);
  EXPECT_EQ(buffer, nullptr);
  OLECHAR* part = DuplicateWideString(u"abcdef", 3);
  EXPECT_EQ(Narrow(part), "abc");
  delete[] part;
  EXPECT_EQ(DuplicateWideString(nullptr, 2), nullptr);
  FormatString(buffer, u"%ls=%d", u"n", 42);
  EXPECT_EQ(Narrow(buffer), "n=42");
  std::u16string huge(3000, u'x');
  FormatString(buffer, u"%ls", huge.c_str());
  EXPECT_EQ(std::u16string(buffer).size(), 1024u);
  delete[] buffer;
}

TEST(OwnedStrings, AssignBstrReplacesAndFrees) {
  BSTR member = SysAllocString(u"old");
  AssignBstr(member, u"new");
  EXPECT_EQ(Narrow(member), "new");
  AssignBstr(member, nullptr);
  EXPECT_EQ(member, nullptr);
}

}  // namespace
