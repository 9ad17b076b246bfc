// What the reader delivers to a content handler for well-formed text.
#include <string>

#include "recorder.h"

namespace kx::msxml::test {
namespace {

using ContentTest = SaxTest;

TEST_F(ContentTest, DeliversElementsAttributesAndTextInOrder) {
  ASSERT_EQ(S_OK, Parse("<XMLMessage TargetId=\"T1\" Status=\"3\">"
                        "<SetRealField PageId=\"12\" Value=\"1.5\">abc</SetRealField>"
                        "<Empty/></XMLMessage>"));
  EXPECT_EQ(rec_->Trace(),
            "putDocumentLocator\nstartDocument\n"
            "start(XMLMessage)[TargetId=T1,Status=3]\n"
            "start(SetRealField)[PageId=12,Value=1.5]\ntext(abc)\nend(SetRealField)\n"
            "start(Empty)\nend(Empty)\n"
            "end(XMLMessage)\nendDocument\n");
}

TEST_F(ContentTest, KeepsAttributesInDocumentOrder) {
  ASSERT_EQ(S_OK, Parse("<Page z=\"1\" a=\"2\" m=\"3\" b=\"4\"/>"));
  EXPECT_EQ(rec_->events[2], "start(Page)[z=1,a=2,m=3,b=4]");
}

TEST_F(ContentTest, ReportsPrefixedNamesAsWrittenWithoutNamespaces) {
  ASSERT_EQ(S_OK, Parse("<p:Root xmlns:p=\"urn:x\" p:a=\"1\"><p:Child/></p:Root>"));
  // The recorder marks a non-empty URI or a qualified name that differs.
  EXPECT_EQ(rec_->events[2], "start(p:Root)[xmlns:p=urn:x,p:a=1]");
  EXPECT_EQ(rec_->events[3], "start(p:Child)");
  EXPECT_EQ(rec_->events[5], "end(p:Root)");
}

TEST_F(ContentTest, ConvertsNonAsciiAndSupplementaryCharactersToUtf16) {
  // U+00E9, U+20AC, U+4E2D and U+1D11E (a surrogate pair in UTF-16).
  const std::u16string doc =
      u"<Gr\u00f6\u00dfe Einheit=\"\u20ac \U0001D11E\">\u4e2d\U0001D11E</Gr\u00f6\u00dfe>";
  ASSERT_EQ(S_OK, Parse(std::u16string_view(doc)));
  EXPECT_EQ(rec_->events[2], "start(Gr\u00f6\u00dfe)[Einheit=\u20ac \U0001D11E]");
  EXPECT_EQ(rec_->text16, u"\u4e2d\U0001D11E");
  EXPECT_EQ(rec_->text16.size(), 3u);
}

TEST_F(ContentTest, DecodesEntityAndCharacterReferences) {
  ASSERT_EQ(S_OK, Parse("<a v=\"&lt;&amp;&gt;&quot;&apos;&#233;\">"
                        "&lt;x&gt; &amp; &#x1D11E;&#65;</a>"));
  EXPECT_EQ(rec_->events[2], "start(a)[v=<&>\"'\u00e9]");
  EXPECT_EQ(rec_->text16,
            u"<x> & \U0001D11E"
            u"A");
}

TEST_F(ContentTest, NormalisesAttributeWhitespaceAndLineEnds) {
  ASSERT_EQ(S_OK, Parse("<a v=\"x\ty\nz\">1\r\n2\r3</a>"));
  EXPECT_EQ(rec_->events[2], "start(a)[v=x y z]");
  EXPECT_EQ(rec_->text16, u"1\n2\n3");
}

TEST_F(ContentTest, DeliversCdataAsCharacters) {
  ASSERT_EQ(S_OK, Parse("<a>x<![CDATA[<not> & markup]]>y</a>"));
  EXPECT_EQ(rec_->text16, u"x<not> & markupy");
}

TEST_F(ContentTest, TextPiecesAreNeverEmptyAndZeroTerminated) {
  std::string doc = "<a>";
  for (int i = 0; i < 200; ++i) doc += "line &amp; more\n";
  doc += "</a>";
  ASSERT_EQ(S_OK, Parse(doc));
  EXPECT_GE(rec_->pieces, 1);
  EXPECT_FALSE(rec_->saw_empty_piece);
  EXPECT_FALSE(rec_->saw_unterminated);
  EXPECT_EQ(rec_->text16.size(), 200u * 12);
}

TEST_F(ContentTest, LongTextArrivesWhole) {
  std::string body(300000, 'x');
  ASSERT_EQ(S_OK, Parse("<a>" + body + "</a>"));
  EXPECT_EQ(rec_->text16.size(), body.size());
}

TEST_F(ContentTest, IgnoresTheDeclaredEncodingOfUtf16Text) {
  // A UTF-16 string says so in its declaration; the reader must not read
  // the converted bytes as UTF-16 again.
  ASSERT_EQ(S_OK, Parse("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u00e9</a>"));
  EXPECT_EQ(rec_->text16, u"\u00e9");
  ASSERT_EQ(S_OK, Parse(u"\uFEFF<b/>"));
  EXPECT_EQ(rec_->events.back(), "endDocument");
}

TEST_F(ContentTest, DeliversProcessingInstructionsButNotComments) {
  ASSERT_EQ(S_OK, Parse("<?xml version=\"1.0\"?><a><!-- c --><?kx do this?></a>"));
  EXPECT_EQ(rec_->Trace(),
            "putDocumentLocator\nstartDocument\nstart(a)\npi(kx|do this)\nend(a)\nendDocument\n");
}

TEST_F(ContentTest, LocatorGivesOneBasedLineAndColumnOfTheEvent) {
  struct Pos {
    int line, column;
  };
  std::vector<Pos> seen;
  rec_->on_event = [&](const std::string& e) {
    if (e != "startElement") return;
    Pos p{};
    rec_->locator->getLineNumber(&p.line);
    rec_->locator->getColumnNumber(&p.column);
    seen.push_back(p);
  };
  ASSERT_EQ(S_OK, Parse("<a>\n  <b/>\n\u00e9\u00e9<c/></a>"));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].line, 1);
  EXPECT_EQ(seen[0].column, 1);
  EXPECT_EQ(seen[1].line, 2);
  EXPECT_EQ(seen[1].column, 3);
  EXPECT_EQ(seen[2].line, 3);
  EXPECT_EQ(seen[2].column, 3);  // characters, not bytes
}

TEST_F(ContentTest, ParsesWithoutAContentHandler) {
  ASSERT_EQ(S_OK, reader_->putContentHandler(nullptr));
  EXPECT_EQ(S_OK, Parse("<a>text<b x=\"1\"/></a>"));
  EXPECT_TRUE(rec_->events.empty());
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a>"));
  EXPECT_EQ(rec_->fatal_count, 1);
}

TEST_F(ContentTest, ReaderIsReusableAfterAFailedParse) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a><b></a>"));
  rec_->events.clear();
  ASSERT_EQ(S_OK, Parse("<c/>"));
  EXPECT_EQ(rec_->Trace(), "putDocumentLocator\nstartDocument\nstart(c)\nend(c)\nendDocument\n");
}

}  // namespace
}  // namespace kx::msxml::test
