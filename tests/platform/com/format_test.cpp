// The wide C library routines, the formatter and UTF-8/UTF-16 conversion.
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "com/wstr.h"

namespace {

TEST(Format, WideStringsWithSAndLs) {
  EXPECT_EQ(kx_format(u"<%s|%ls|%ws>", u"a", u"b", u"c"), u"<a|b|c>");
  EXPECT_EQ(kx_format(u"%hs and %S", "narrow", "too"), u"narrow and too");
  EXPECT_EQ(kx_format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
  EXPECT_EQ(kx_format(u"[%5s][%-5s][%.2s]", u"ab", u"ab", u"abcdef"), u"[   ab][ab   ][ab]");
  EXPECT_EQ(kx_format(u"%hs", "caf\xC3\xA9"), u"caf\u00E9");
  const char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(kx_format(u"%.2hs|%*hs", unterminated, 3, unterminated), u"xy|xyz");
}

TEST(Format, StarLsTakesALengthAndReadsNoFurther) {
  // A name given by pointer and length, not zero terminated.
  const char16_t buffer[] = {u'n', u'a', u'm', u'e', u'X', u'X'};
  EXPECT_EQ(kx_format(u"Unexpected Attribute %*ls", 4, buffer), u"Unexpected Attribute name");
  EXPECT_EQ(kx_format(u"<%*ls>", 0, buffer), u"<>");
  EXPECT_EQ(kx_format(u"<%*ls>", -3, buffer), u"<>");
  EXPECT_EQ(kx_format(u"<%*ls>", 10, u"ab"), u"<ab>");  // stops at a zero
  // With a precision the star is a width again.
  EXPECT_EQ(kx_format(u"<%*.*ls>", 4, 1, u"ab"), u"<   a>");
}

TEST(Format, Integers) {
  EXPECT_EQ(kx_format(u"%d %i %u", -5, 7, 4000000000u), u"-5 7 4000000000");
  EXPECT_EQ(kx_format(u"%ld %lu", -2147483647 - 1, 4294967295u), u"-2147483648 4294967295");
  EXPECT_EQ(kx_format(u"%x %X %lX", 255, 255, 0x8004B001u), u"ff FF 8004B001");
  EXPECT_EQ(kx_format(u"Unknown error 0x%0lX", 0x80070057u), u"Unknown error 0x80070057");
  EXPECT_EQ(kx_format(u"[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 42, 42),
            u"[   42][42   ][-0042][+42][ 42]");
  EXPECT_EQ(kx_format(u"%.3d %#x %#o", 7, 255, 8), u"007 0xff 010");
  EXPECT_EQ(kx_format(u"%lld %I64d %hd", LLONG_MIN, 5LL, 70000), u"-9223372036854775808 5 4464");
  EXPECT_EQ(kx_format(u"%*d|%-*d", 4, 1, 3, 2), u"   1|2  ");
}

TEST(Format, Reals) {
  EXPECT_EQ(kx_format(u"%.16g", 0.1), u"0.1");
  EXPECT_EQ(kx_format(u"%.16g", 1e20), u"1e+20");
  EXPECT_EQ(kx_format(u"%g %g", 100000.0, 1e-5), u"100000 1e-05");
  EXPECT_EQ(kx_format(u"%f %lf %.2f", 1.5, 2.0, 3.14159), u"1.500000 2.000000 3.14");
  EXPECT_EQ(kx_format(u"%8.3f|%-8.1e|", 3.14159, 31.4), u"   3.142|3.1e+01 |");
  EXPECT_EQ(kx_format(u"%.16g", 1.0 / 3), u"0.3333333333333333");
  EXPECT_EQ(kx_format(u"%.16g", 123456789012.5), u"123456789012.5");
}

TEST(Format, PercentCharactersAndUnknownDirectives) {
  EXPECT_EQ(kx_format(u"100%%"), u"100%");
  EXPECT_EQ(kx_format(u"%c%lc%hc", u'x', u'\u00E9', 'y'), u"x\u00E9y");
  EXPECT_EQ(kx_format(u"%q stays"), u"%q stays");
  EXPECT_EQ(kx_format(u"ends with %"), u"ends with %");
  int ignored = 7;
  EXPECT_EQ(kx_format(u"a%nb", &ignored), u"ab");
  EXPECT_EQ(ignored, 7);  // %n never writes
}

TEST(Format, BoundedVariants) {
  char16_t buf[8];
  EXPECT_EQ(swprintf_s(buf, 8, u"%d", 1234567), 7);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(swprintf_s(buf, 8, u"%d", 12345678), -1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(swprintf_s(buf, 0, u"x"), -1);
  char16_t big[1100];
  std::u16string long_text(2000, u'z');
  EXPECT_EQ(wsprintfW(big, u"%s", long_text.c_str()), 1024);
  EXPECT_EQ(big[1024], 0);
  EXPECT_EQ(big[1023], u'z');
}

TEST(WideString, CaseInsensitiveComparisonFoldsAsciiOnly) {
  EXPECT_EQ(_wcsicmp(u"Summary", u"SUMMARY"), 0);
  EXPECT_LT(_wcsicmp(u"abc", u"ABD"), 0);
  EXPECT_GT(_wcsicmp(u"b", u"A"), 0);
  EXPECT_NE(_wcsicmp(u"\u00C4", u"\u00E4"), 0);  // not folded: ASCII only
  EXPECT_EQ(_wcsnicmp(u"FieldX", u"fieldY", 5), 0);
  EXPECT_NE(_wcsnicmp(u"FieldX", u"fieldY", 6), 0);
  EXPECT_EQ(_wcsicmp(u"", u""), 0);
  EXPECT_LT(_wcsicmp(u"ab", u"abc"), 0);
  EXPECT_EQ(kx_towlower(u'Q'), u'q');
  EXPECT_EQ(kx_towlower(u'\u00C4'), u'\u00C4');
  EXPECT_TRUE(kx_iswdigit(u'7'));
  EXPECT_FALSE(kx_iswdigit(u'\u0663'));  // ARABIC-INDIC THREE: not a digit here
  EXPECT_EQ(kx_wcslen(u"four"), 4u);
}

TEST(WideString, FoldingForCollationCoversEuropeanScripts) {
  char16_t text[] = u"\u00E4bc\u0105\u03B1\u0436";
  CharUpperBuffW(text, 6);
  EXPECT_EQ(std::u16string(text), u"\u00C4BC\u0104\u0391\u0416");
  CharLowerBuffW(text, 6);
  EXPECT_EQ(std::u16string(text), u"\u00E4bc\u0105\u03B1\u0436");
  EXPECT_EQ(kx_fold_upper(u'\u00FF'), u'\u0178');
  EXPECT_EQ(kx_fold_lower(u'\u00D7'), u'\u00D7');  // multiplication sign
}

TEST(WideString, Wtol) {
  EXPECT_EQ(_wtol(u"  -42xyz"), -42);
  EXPECT_EQ(_wtol(u"+7"), 7);
  EXPECT_EQ(_wtol(u"abc"), 0);
  EXPECT_EQ(_wtol(u""), 0);
  EXPECT_EQ(_wtol(nullptr), 0);
  EXPECT_EQ(_wtol(u"99999999999"), 2147483647);
  EXPECT_EQ(_wtol(u"-99999999999"), -2147483647 - 1);
  const char16_t* end = nullptr;
  EXPECT_EQ(kx_wcstol(u" 0x1F!", &end, 16), 31);
  EXPECT_EQ(*end, u'!');
  EXPECT_EQ(kx_wcstol(u"zz", &end, 10), 0);
  EXPECT_EQ(*end, u'z');
}

TEST(WideString, Ltow) {
  char16_t buf[33];
  EXPECT_EQ(std::u16string(_ltow(-123, buf, 10)), u"-123");
  EXPECT_EQ(std::u16string(_ltow(-1, buf, 16)), u"ffffffff");
  EXPECT_EQ(std::u16string(_ltow(-2147483647 - 1, buf, 10)), u"-2147483648");
  EXPECT_EQ(std::u16string(_ltow(-1, buf, 2)), std::u16string(32, u'1'));
  EXPECT_EQ(kx_ltow(255, 16), u"ff");
  char16_t small[3];
  EXPECT_NE(_ltow_s(1234, small, 3, 10), 0);
  EXPECT_EQ(small[0], 0);
}

TEST(WideString, ParseDoubleNeedsTheWholeText) {
  double v = 0;
  EXPECT_TRUE(kx_parse_double(u" 1.25 ", &v));
  EXPECT_EQ(v, 1.25);
  EXPECT_TRUE(kx_parse_double(u"-.5e1", &v));
  EXPECT_EQ(v, -5.0);
  EXPECT_FALSE(kx_parse_double(u"1,5", &v));
  EXPECT_FALSE(kx_parse_double(u"1.5x", &v));
  EXPECT_FALSE(kx_parse_double(u"", &v));
  EXPECT_FALSE(kx_parse_double(u".", &v));
  EXPECT_FALSE(kx_parse_double(u"inf", &v));
  EXPECT_FALSE(kx_parse_double(u"1e400", &v));
  // A long number is read whole, not cut.
  const std::u16string long_number = u"1." + std::u16string(100, u'0') + u"1";
  EXPECT_TRUE(kx_parse_double(long_number, &v));
  EXPECT_EQ(v, 1.0);
  EXPECT_TRUE(kx_parse_double(u"0." + std::u16string(80, u'0') + u"1", &v));
  EXPECT_GT(v, 0.0);
}

TEST(Utf, RoundTripWithSurrogatePairs) {
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € U+1F600
  std::u16string wide;
  ASSERT_TRUE(kx_utf8_to_utf16(utf8, &wide));
  EXPECT_EQ(wide, u"A\u00E9\u20AC\U0001F600");
  ASSERT_EQ(wide.size(), 5u);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(wide[4], 0xDE00);
  std::string back;
  ASSERT_TRUE(kx_utf16_to_utf8(wide, &back));
  EXPECT_EQ(back, utf8);
  ASSERT_TRUE(kx_utf8_to_utf16(std::string("a\0b", 3), &wide));
  EXPECT_EQ(wide.size(), 3u);
}

TEST(Utf, InvalidInputIsRefused) {
  std::u16string wide = u"stale";
  const char* bad8[] = {
      "\x80",              // lone continuation
      "\xC0\xAF",          // overlong
      "\xE0\x80\xAF",      // overlong
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xE2\x82",          // truncated
      "\xFF",
      "ok\xC3",  // truncated at the end
  };
  for (const char* s : bad8) {
    EXPECT_FALSE(kx_utf8_to_utf16(s, &wide)) << s;
    EXPECT_TRUE(wide.empty());
  }
  std::string narrow = "stale";
  const std::u16string bad16[] = {
      std::u16string(1, char16_t(0xD800)), std::u16string(1, char16_t(0xDC00)),
      std::u16string{char16_t(0xD800), u'a'}, std::u16string{char16_t(0xDC00), char16_t(0xD800)}};
  for (const std::u16string& s : bad16) {
    EXPECT_FALSE(kx_utf16_to_utf8(s, &narrow));
    EXPECT_TRUE(narrow.empty());
  }
  EXPECT_EQ(kx_utf8_to_utf16_lossy("a\xFF"
                                   "b"),
            u"a\uFFFDb");
}

}  // namespace
