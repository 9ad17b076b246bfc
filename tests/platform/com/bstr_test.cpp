#include "com/bstr.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

#include "com/oleauto.h"
#include "test_support.h"

namespace {

std::uint32_t prefix_of(BSTR s) {
  std::uint32_t n;
  std::memcpy(&n, reinterpret_cast<const char*>(s) - 4, 4);
  return n;
}

TEST(Bstr, LayoutHasByteLengthPrefixAndTerminatingZero) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(prefix_of(s), 6u);
  EXPECT_EQ(s[3], u'\0');
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  SysFreeString(s);
}

TEST(Bstr, NullIsTheEmptyString) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(VarBstrCmp(nullptr, empty, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  SysFreeString(empty);
}

TEST(Bstr, EmbeddedZerosAreKept) {
  const char16_t text[] = {u'a', 0, u'b', 0, u'c'};
  BSTR s = SysAllocStringLen(text, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(s[2], u'b');
  EXPECT_EQ(s[5], 0);
  BSTR copy = nullptr;
  ASSERT_EQ(VarBstrCat(s, s, &copy), S_OK);
  EXPECT_EQ(SysStringLen(copy), 10u);
  EXPECT_EQ(copy[7], u'b');
  SysFreeString(copy);
  SysFreeString(s);
}

TEST(Bstr, ByteLengthMayBeOdd) {
  BSTR s = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  EXPECT_EQ(reinterpret_cast<const char*>(s)[3], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(s)[4], 0);
  SysFreeString(s);
}

TEST(Bstr, OversizedLengthsAreRefusedNotWrapped) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFAu), nullptr);
}

TEST(Bstr, ReAllocFromItsOwnCharacters) {
  BSTR s = SysAllocString(u"hello world");
  ASSERT_EQ(SysReAllocString(&s, s + 6), TRUE);
  EXPECT_EQ(kx::com::test::text_of(s), u"world");
  ASSERT_EQ(SysReAllocStringLen(&s, s, 3), TRUE);
  EXPECT_EQ(kx::com::test::text_of(s), u"wor");
  ASSERT_EQ(SysReAllocString(&s, nullptr), TRUE);
  EXPECT_EQ(s, nullptr);
}

TEST(VarBstr, CompareIsCaseSensitiveWithAFixedOrder) {
  _bstr_t a(u"apple"), A(u"Apple"), b(u"banana"), ab(u"ab");
  EXPECT_EQ(VarBstrCmp(a, a, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(a, A, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(A, a, LOCALE_USER_DEFAULT, 0), VARCMP_GT);
  // Letters first, case second: "Apple" sorts before "banana".
  EXPECT_EQ(VarBstrCmp(A, b, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(ab, a, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(a, A, LOCALE_USER_DEFAULT, NORM_IGNORECASE), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, a, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
  EXPECT_EQ(VarBstrCmp(nullptr, nullptr, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
}

TEST(VarBstr, CatTreatsNullAsEmpty) {
  _bstr_t x(u"x");
  BSTR out = nullptr;
  ASSERT_EQ(VarBstrCat(nullptr, x, &out), S_OK);
  EXPECT_EQ(kx::com::test::text_of(out), u"x");
  SysFreeString(out);
  EXPECT_EQ(VarBstrCat(x, x, nullptr), E_INVALIDARG);
}

}  // namespace
