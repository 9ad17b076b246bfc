// The holders: _bstr_t, _variant_t, _com_ptr_t and _com_error.
#include "com/comutil.h"

#include <gtest/gtest.h>
#include <stdexcept>

#include "test_support.h"

KX_SMARTPTR_TYPEDEF(ITracked);

namespace {

using kx::com::test::text_of;
using kx::com::test::Tracked;

TEST(BstrHolder, OwnsAndCopies) {
  _bstr_t a(u"alpha");
  _bstr_t b = a;
  EXPECT_NE(static_cast<const OLECHAR*>(a), static_cast<const OLECHAR*>(b));
  EXPECT_TRUE(a == b);
  b += u"!";
  EXPECT_EQ(b.view(), u"alpha!");
  EXPECT_EQ((a + _bstr_t(u"bet")).view(), u"alphabet");
  EXPECT_EQ(a.length(), 5u);
  _bstr_t empty;
  EXPECT_TRUE(!empty);
  EXPECT_TRUE(empty == _bstr_t(u""));
  BSTR detached = a.Detach();
  EXPECT_EQ(text_of(detached), u"alpha");
  EXPECT_EQ(a.length(), 0u);
  SysFreeString(detached);
  _bstr_t utf8("caf\xC3\xA9");
  EXPECT_EQ(utf8.view(), u"caf\u00E9");
  EXPECT_EQ(utf8.utf8(), "caf\xC3\xA9");
}

TEST(BstrHolder, InvalidUtf8Throws) {
  try {
    _bstr_t bad("\xFF");
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_INVALIDARG);
  }
}

TEST(BstrHolder, GetAddressFreesTheOldString) {
  _bstr_t s(u"old");
  BSTR* out = s.GetAddress();
  *out = SysAllocString(u"new");
  EXPECT_EQ(s.view(), u"new");
}

TEST(VariantHolder, ConstructorsGiveTheWindowsTypes) {
  EXPECT_EQ(_variant_t(5).vt, VT_I4);
  EXPECT_EQ(_variant_t(5L).vt, VT_I4);
  EXPECT_EQ(_variant_t(short(5)).vt, VT_I2);
  EXPECT_EQ(_variant_t(2.0).vt, VT_R8);
  EXPECT_EQ(_variant_t(2.0f).vt, VT_R4);
  EXPECT_EQ(_variant_t(true).vt, VT_BOOL);
  EXPECT_EQ(_variant_t(true).boolVal, VARIANT_TRUE);
  EXPECT_EQ(_variant_t(u"x").vt, VT_BSTR);
  EXPECT_EQ(_variant_t(5LL).vt, VT_I8);
  EXPECT_EQ(_variant_t(1.0, VT_DATE).vt, VT_DATE);
  EXPECT_EQ(_variant_t(0, VT_ERROR).vt, VT_ERROR);
  EXPECT_THROW(_variant_t(1L << 40), _com_error);
  EXPECT_THROW(_variant_t(1, VT_BSTR), _com_error);
}

TEST(VariantHolder, ExtractionConvertsOrThrows) {
  _variant_t text(u"12");
  EXPECT_EQ(static_cast<int>(text), 12);
  EXPECT_EQ(static_cast<double>(_variant_t(3)), 3.0);
  EXPECT_EQ(static_cast<_bstr_t>(_variant_t(2.5)).view(), u"2.5");
  try {
    (void)static_cast<int>(_variant_t(u"12abc"));
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
}

TEST(VariantHolder, ReleasesOnEveryPathIncludingExceptions) {
  Tracked* object = new Tracked;
  try {
    _variant_t held(static_cast<IUnknown*>(object));  // AddRef'd
    EXPECT_EQ(object->refs(), 2u);
    _variant_t copy = held;
    EXPECT_EQ(object->refs(), 3u);
    throw std::runtime_error("unwind");
  } catch (const std::runtime_error&) {}
  EXPECT_EQ(object->refs(), 1u);
  _variant_t v(static_cast<IUnknown*>(object));
  v = 5;  // assignment releases the interface
  EXPECT_EQ(object->refs(), 1u);
  object->Release();
}

TEST(VariantHolder, DetachAndAttachMoveOwnership) {
  _variant_t v(u"moved");
  VARIANT raw = v.Detach();
  EXPECT_EQ(v.vt, VT_EMPTY);
  _variant_t w;
  w.Attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(text_of(w.bstrVal), u"moved");
  _variant_t moved(std::move(w));
  EXPECT_EQ(w.vt, VT_EMPTY);
  EXPECT_TRUE(moved == _variant_t(u"moved"));
  EXPECT_FALSE(moved == _variant_t(u"other"));
}

TEST(ComPtr, ReferenceCounting) {
  Tracked* object = new Tracked(7);
  {
    ITrackedPtr p(object);  // AddRef
    EXPECT_EQ(object->refs(), 2u);
    ITrackedPtr q = p;
    EXPECT_EQ(object->refs(), 3u);
    ITrackedPtr r = std::move(q);
    EXPECT_EQ(object->refs(), 3u);
    EXPECT_FALSE(q);
    EXPECT_EQ(r->Id(), 7);
    ITrackedPtr s;
    s = std::move(r);  // move assignment takes the reference over
    EXPECT_EQ(object->refs(), 3u);
    EXPECT_FALSE(r);
    s = nullptr;
    EXPECT_EQ(object->refs(), 2u);
  }
  EXPECT_EQ(object->refs(), 1u);
  ITrackedPtr owner;
  owner.Attach(object);  // takes the creator's reference
  EXPECT_EQ(object->refs(), 1u);
}

TEST(ComPtr, QueryOnConversionAndIdentity) {
  Tracked* object = new Tracked;
  ITrackedPtr p(object, false);
  IUnknownPtr unk(p);  // QueryInterface
  ASSERT_TRUE(unk);
  EXPECT_TRUE(unk == p);
  IDispatchPtr disp(p);  // refused: null, no exception
  EXPECT_FALSE(disp);
  ITrackedPtr back(unk);
  EXPECT_EQ(back.GetInterfacePtr(), object);
  _variant_t v(unk.GetInterfacePtr());
  ITrackedPtr from_variant(v);
  EXPECT_EQ(from_variant.GetInterfacePtr(), object);
  EXPECT_THROW(ITrackedPtr(_variant_t(5)), _com_error);
}

TEST(ComPtr, FromAVariantFollowsReferencesButNotACycle) {
  Tracked* object = new Tracked;
  ITrackedPtr p(object, false);
  VARIANT inner;
  inner.vt = VT_UNKNOWN;
  inner.punkVal = p.GetInterfacePtr();  // borrowed: nobody clears `inner`
  VARIANT ref;
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  ITrackedPtr through(ref);
  EXPECT_EQ(through.GetInterfacePtr(), object);
  // A reference to itself: refused, as VariantCopyInd refuses it, instead
  // of following it for ever.
  VARIANT loop;
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  EXPECT_THROW(ITrackedPtr{loop}, _com_error);
}

TEST(ComPtr, ArrowOnNullThrows) {
  ITrackedPtr p;
  EXPECT_THROW(p->Id(), _com_error);
  EXPECT_THROW(p.Release(), _com_error);
}

TEST(ComPtr, AddressOfReleasesForOutParameters) {
  Tracked* first = new Tracked;
  ITrackedPtr p(first, false);
  ITracked** slot = &p;  // releases `first`
  EXPECT_EQ(kx::com::test::g_tracked_live.load(), 0);
  *slot = new Tracked;
  EXPECT_TRUE(p);
}

TEST(ComError, CarriesErrorInfoAndTexts) {
  kx_set_error_info(E_INVALIDARG, u"bad thing", u"unit");
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  try {
    _com_raise_error(E_INVALIDARG, info);  // takes the reference
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_INVALIDARG);
    EXPECT_EQ(e.Description().view(), u"bad thing");
    EXPECT_EQ(e.Source().view(), u"unit");
    EXPECT_EQ(std::u16string(e.ErrorMessage()), u"The parameter is incorrect.");
    _com_error copy = e;
    IErrorInfo* again = copy.ErrorInfo();
    ASSERT_NE(again, nullptr);
    again->Release();
  }
  try {
    _com_issue_error(kx_hr(0x8004C001));
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Description().length(), 0u);
    EXPECT_EQ(std::u16string(e.ErrorMessage()), u"Unknown error 0x8004C001");
  }
}

// An object that supports error information on ITracked.
class Reporting final : public kx::com::Object<Reporting, ITracked, ISupportErrorInfo> {
 public:
  LONG STDMETHODCALLTYPE Id() override { return 0; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualGUID(riid, IID_ITracked) ? S_OK : S_FALSE;
  }
};

TEST(ComError, IssueErrorExPicksUpErrorInfoWhenSupported) {
  Reporting* object = new Reporting;
  kx_set_error_info(E_FAIL, u"from the object");
  try {
    _com_issue_errorex(E_FAIL, static_cast<ITracked*>(object), IID_ITracked);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Description().view(), u"from the object");
  }
  kx_set_error_info(E_FAIL, u"not picked up");
  try {
    _com_issue_errorex(E_FAIL, static_cast<ITracked*>(object), IID_IDispatch);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Description().length(), 0u);
  }
  SetErrorInfo(0, nullptr);
  object->Release();
}

}  // namespace
