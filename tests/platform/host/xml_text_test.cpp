// Text rules of rendered replies and the strict UTF-8 conversion of the
// host's edges.
#include "host/internal/xml_text.h"

#include <gtest/gtest.h>
#include <limits>

#include "host/utf.h"

namespace kx::host::internal {
namespace {

TEST(XmlTextTest, RealsFormatAsPrintfSixteenSignificantDigits) {
  EXPECT_EQ(u"0.1", FormatReal(0.1));
  EXPECT_EQ(u"3.141592653589793", FormatReal(3.14159265358979312));
  EXPECT_EQ(u"1e-05", FormatReal(0.00001));
  EXPECT_EQ(u"1234567890123456", FormatReal(1234567890123456.0));
  EXPECT_EQ(u"1.234567890123457e+16", FormatReal(12345678901234567.0));
  EXPECT_EQ(u"-0", FormatReal(-0.0));
  EXPECT_EQ(u"inf", FormatReal(std::numeric_limits<double>::infinity()));
}

TEST(XmlTextTest, SurrogatePairsPassAndLoneHalvesAreReplaced) {
  std::u16string out;
  AppendEscapedText(out, u"\U0001F600");
  EXPECT_EQ(u"\U0001F600", out);
  out.clear();
  const char16_t lone_low[] = {0xDC00, u'x', 0};
  AppendEscapedText(out, lone_low);
  EXPECT_EQ(u"\uFFFDx", out);
  out.clear();
  const char16_t trailing_high[] = {u'x', 0xD83D, 0};
  AppendEscapedText(out, trailing_high);
  EXPECT_EQ(u"x\uFFFD", out);
}

// A carriage return written as itself comes back from a parser as a line
// feed (line ends are normalised), so a text's "\r\n" would lose its "\r":
// text writes it as a reference too.
TEST(XmlTextTest, TextKeepsWhiteSpaceAndQuotesWhileAttributesEncodeThem) {
  std::u16string text, attribute;
  AppendEscapedText(text, u"a\t\"b\"\r\n");
  AppendEscapedAttribute(attribute, u"a\t\"b\"\r\n");
  EXPECT_EQ(u"a\t\"b\"&#13;\n", text);
  EXPECT_EQ(u"a&#9;&quot;b&quot;&#13;&#10;", attribute);
}

TEST(XmlTextTest, NamesFollowXmlRules) {
  EXPECT_TRUE(IsXmlName(u"XMLMessage"));
  EXPECT_TRUE(IsXmlName(u"_a-b.c:d9"));
  EXPECT_TRUE(IsXmlName(u"\u00C4nderung"));
  EXPECT_FALSE(IsXmlName(u""));
  EXPECT_FALSE(IsXmlName(u"9a"));
  EXPECT_FALSE(IsXmlName(u"-a"));
  EXPECT_FALSE(IsXmlName(u"a b"));
  EXPECT_FALSE(IsXmlName(u"a=\"1\""));
  EXPECT_FALSE(IsXmlName(u"a/"));
}

// A name with a character XML does not allow in names made the whole reply
// unreadable; such names are refused instead.
TEST(XmlTextTest, NamesRefuseCharactersOutsideXmlNameRanges) {
  const char16_t lone_high[] = {u'a', 0xD800, 0};
  const char16_t lone_low[] = {u'a', 0xDC00, 0};
  const char16_t not_a_character[] = {u'a', 0xFFFF, 0};
  EXPECT_FALSE(IsXmlName(lone_high));
  EXPECT_FALSE(IsXmlName(lone_low));
  EXPECT_FALSE(IsXmlName(not_a_character));
  EXPECT_FALSE(IsXmlName(u"a\u00D7b"));  // multiplication sign
  EXPECT_FALSE(IsXmlName(u"a\u0085"));   // a C1 control
  EXPECT_FALSE(IsXmlName(u"\u00B7a"));   // middle dot: not first
  EXPECT_FALSE(IsXmlName(u"\u0300a"));   // combining mark: not first
  EXPECT_TRUE(IsXmlName(u"a\u00B7\u0300"));
  EXPECT_TRUE(IsXmlName(u"\u00C4nderung\u00DF"));
  EXPECT_TRUE(IsXmlName(u"\u4E2D\u6587"));
  EXPECT_TRUE(IsXmlName(u"\U00010000a"));
}

TEST(UtfTest, RoundTripsEveryPlane) {
  const std::string text = "A\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // A ä € 😀
  const auto wide = Utf8ToUtf16(text);
  ASSERT_TRUE(wide);
  EXPECT_EQ(u"A\u00E4\u20AC\U0001F600", *wide);
  EXPECT_EQ(text, Utf16ToUtf8(*wide));
}

TEST(UtfTest, RefusesInvalidUtf8) {
  EXPECT_FALSE(Utf8ToUtf16("\xC0\x80"));          // overlong NUL
  EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80"));      // encoded surrogate
  EXPECT_FALSE(Utf8ToUtf16("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(Utf8ToUtf16("\xE2\x82"));          // truncated
  EXPECT_FALSE(Utf8ToUtf16("\x80"));              // stray continuation
  EXPECT_FALSE(Utf8ToUtf16("\xFF"));
}

TEST(UtfTest, LoneSurrogatesBecomeReplacementCharacters) {
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  EXPECT_EQ(
      "a\xEF\xBF\xBD"
      "b\xEF\xBF\xBD",
      Utf16ToUtf8(lone));
}

}  // namespace
}  // namespace kx::host::internal
