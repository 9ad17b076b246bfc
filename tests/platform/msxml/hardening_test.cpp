// Hostile input: document type declarations, entity expansion, external
// entities, nesting depth, size, and text that is not UTF-16.
#include <chrono>
#include <string>

#include "com/variant.h"
#include "recorder.h"

namespace kx::msxml::test {
namespace {

using HardeningTest = SaxTest;

bool SawElement(const Recorder& r) {
  for (const std::string& e : r.events) {
    if (e.rfind("start(", 0) == 0) return true;
  }
  return false;
}

std::string Nested(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "<e>";
  for (int i = 0; i < depth; ++i) s += "</e>";
  return s;
}

TEST_F(HardeningTest, DocumentTypeDeclarationIsRefused) {
  EXPECT_EQ(KXSAX_E_DTD_PROHIBITED, Parse("<?xml version=\"1.0\"?>\n<!DOCTYPE a><a/>"));
  EXPECT_EQ(rec_->message, "A document type declaration is not allowed");
  EXPECT_EQ(rec_->code, KXSAX_E_DTD_PROHIBITED);
  EXPECT_EQ(rec_->line, 2);
  EXPECT_FALSE(SawElement(*rec_));
}

TEST_F(HardeningTest, EntityExpansionAttackIsRefused) {
  std::string doc = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  doc += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
  for (int i = 2; i <= 9; ++i) {
    std::string prev = "&lol" + std::to_string(i - 1) + ";";
    doc += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) doc += prev;
    doc += "\">";
  }
  doc += "]><lolz>&lol9;</lolz>";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KXSAX_E_DTD_PROHIBITED, Parse(doc));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(SawElement(*rec_));
  EXPECT_TRUE(rec_->text16.empty());
}

TEST_F(HardeningTest, ExternalEntityIsNeverLoaded) {
  EXPECT_EQ(KXSAX_E_DTD_PROHIBITED,
            Parse("<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>"));
  EXPECT_TRUE(rec_->text16.empty());
  EXPECT_EQ(KXSAX_E_DTD_PROHIBITED, Parse("<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>"));
  EXPECT_FALSE(SawElement(*rec_));
}

TEST_F(HardeningTest, DepthUpToTheCapIsAccepted) {
  EXPECT_EQ(S_OK, Parse(Nested(kSaxMaxElementDepth)));
  EXPECT_EQ(rec_->fatal_count, 0);
}

TEST_F(HardeningTest, DepthBeyondTheCapIsRefused) {
  EXPECT_EQ(KXSAX_E_TOO_DEEP, Parse(Nested(kSaxMaxElementDepth + 1)));
  EXPECT_EQ(rec_->message, "Elements are nested more than 1024 levels deep");
  EXPECT_EQ(rec_->column, 3 * kSaxMaxElementDepth + 1);
  // The element over the cap never reached the handler.
  int starts = 0;
  for (const std::string& e : rec_->events) starts += e == "start(e)";
  EXPECT_EQ(starts, kSaxMaxElementDepth);
}

TEST_F(HardeningTest, VeryDeepNestingFailsCleanly) {
  EXPECT_EQ(KXSAX_E_TOO_DEEP, Parse(Nested(200000)));
}

TEST_F(HardeningTest, DepthCanBeLoweredButNotRaised) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 3;
  ASSERT_EQ(S_OK, reader_->putProperty(u"max-element-depth", v));
  EXPECT_EQ(S_OK, Parse(Nested(3)));
  EXPECT_EQ(KXSAX_E_TOO_DEEP, Parse(Nested(4)));
  EXPECT_EQ(rec_->message, "Elements are nested more than 3 levels deep");
  v.lVal = kSaxMaxElementDepth + 1;
  EXPECT_EQ(E_INVALIDARG, reader_->putProperty(u"max-element-depth", v));
  v.lVal = 0;
  EXPECT_EQ(E_INVALIDARG, reader_->putProperty(u"max-element-depth", v));
}

TEST_F(HardeningTest, SizeCapCountsUtf8Bytes) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 1;  // KiB
  ASSERT_EQ(S_OK, reader_->putProperty(u"max-xml-size", v));
  // 1,024 code units of which most take two bytes in UTF-8.
  std::u16string doc = u"<a>" + std::u16string(1017, u'\u00e9') + u"</a>";
  ASSERT_EQ(doc.size(), 1024u);
  EXPECT_EQ(KXSAX_E_TOO_LARGE, Parse(std::u16string_view(doc)));
  EXPECT_EQ(rec_->message, "The document is larger than 1024 bytes");
  EXPECT_FALSE(SawElement(*rec_));
  std::u16string fits = u"<a>" + std::u16string(1017, u'x') + u"</a>";
  ASSERT_EQ(fits.size(), 1024u);
  EXPECT_EQ(S_OK, Parse(std::u16string_view(fits)));
}

TEST_F(HardeningTest, TextOverTheHardCapIsRefusedBeforeConversion) {
  std::u16string huge(static_cast<std::size_t>(kSaxMaxDocumentBytes) + 1, u' ');
  EXPECT_EQ(KXSAX_E_TOO_LARGE, Parse(std::u16string_view(huge)));
  EXPECT_EQ(rec_->message, "The document is larger than 67108864 bytes");
  EXPECT_EQ(rec_->Trace(), "fatal(C00CE503)\n");
}

TEST_F(HardeningTest, UnpairedSurrogateIsRefusedWithItsPosition) {
  // A high surrogate without its low half.
  const std::u16string doc = u"<a>\n ok" + std::u16string(1, char16_t{0xD834}) + u"x</a>";
  EXPECT_EQ(KXSAX_E_INVALID_UTF16, Parse(std::u16string_view(doc)));
  EXPECT_EQ(rec_->line, 2);
  EXPECT_EQ(rec_->column, 4);
  // Nothing was parsed: a guessed conversion never reaches the handler.
  EXPECT_EQ(rec_->Trace(), "fatal(C00CE505)\n");
}

TEST_F(HardeningTest, LoneLowSurrogateAndTruncatedPairAreRefused) {
  const std::u16string low = u"<a>\U0001D11E" + std::u16string(1, char16_t{0xDD1E}) + u"</a>";
  EXPECT_EQ(KXSAX_E_INVALID_UTF16, Parse(std::u16string_view(low)));
  EXPECT_EQ(rec_->column, 5);
  const char16_t tail[] = {u'<', u'a', u'/', u'>', 0xD834};
  EXPECT_EQ(KXSAX_E_INVALID_UTF16, Parse(std::u16string_view(tail, 5)));
}

}  // namespace
}  // namespace kx::msxml::test
