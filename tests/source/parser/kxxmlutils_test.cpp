// The XML string writer: exact output of every operation, escaping, CDATA,
// the text store across chunks, the stream part and the failures.

#include "kxxmlutils.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <string>

#include "com/comutil.h"
#include "com/variant.h"
#include "parsertestutil.h"
#include "saxschemaparser.h"

// This thread's allocations through operator new, to see what a writer costs.
thread_local size_t g_allocations = 0;

// The replacements pair malloc with free: the compiler cannot tell.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t size) {
  ++g_allocations;
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

namespace {

using kx::test::Bstr;
using kx::test::TakeThreadErrorDescription;

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                      reinterpret_cast<void**>(&w_)));
    ASSERT_NE(nullptr, w_);
  }
  void TearDown() override {
    if (w_ != nullptr) w_->Release();
  }
  std::u16string Text() {
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, w_->GetString(&text));
    std::u16string result(text != nullptr ? text : u"", SysStringLen(text));
    SysFreeString(text);
    return result;
  }
  ikxXMLStringWriter* w_ = nullptr;
};

TEST_F(WriterTest, EmptyElementWithAttributeStartsWithLineFeed) {
  EXPECT_TRUE(w_->GetOption());
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"x", LONG{1}));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"\n<A x=\"1\"/>", Text());
}

TEST_F(WriterTest, NestedEmptyChildIsIndented) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->StartElement(u"B"));
  ASSERT_EQ(S_OK, w_->EndElement(u"B"));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"\n<A>\n  <B/>\n</A>", Text());
}

TEST_F(WriterTest, TextIsEscapedAndEndTagFollowsOnSameLine) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteText(u"a<b"));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"\n<A>a&lt;b</A>", Text());
}

TEST_F(WriterTest, WithoutLineBreaksNothingIsIndented) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->StartElement(u"B"));
  ASSERT_EQ(S_OK, w_->EndElement(u"B"));
  ASSERT_EQ(S_OK, w_->WriteElement(u"C", LONG{-7}));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"<A><B/><C>-7</C></A>", Text());
}

TEST_F(WriterTest, DeclarationHasNoLineFeed) {
  ASSERT_EQ(S_OK, w_->StartDocument());
  EXPECT_EQ(u"<?xml version=\"1.0\"?>", Text());
  EXPECT_EQ(21u, w_->GetLength());
}

TEST_F(WriterTest, WholeElements) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->WriteElement(u"E", static_cast<const OLECHAR*>(u"")));
  ASSERT_EQ(S_OK, w_->WriteElement(u"E", static_cast<const OLECHAR*>(nullptr)));
  ASSERT_EQ(S_OK, w_->WriteElement(u"D", 0.5));
  ASSERT_EQ(S_OK, w_->WriteElement(u"B", true));
  ASSERT_EQ(S_OK, w_->WriteElement(u"B", false));
  ASSERT_EQ(S_OK, w_->WriteElement(u"T", u"x&y"));
  EXPECT_EQ(u"<E/><E/><D>0.5</D><B>1</B><B>0</B><T>x&amp;y</T>", Text());
}

TEST_F(WriterTest, AttributesByType) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"d", 1.25));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"big", 1e20));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"third", 1.0 / 3));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"l", LONG{-2147483647 - 1}));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"t", true));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"f", false));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"s", u"a\"b"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"n", static_cast<const OLECHAR*>(nullptr)));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(
      u"<A d=\"1.25\" big=\"1e+20\" third=\"0.3333333333333333\" l=\"-2147483648\" t=\"1\" "
      u"f=\"0\" s=\"a&quot;b\" n=\"\"/>",
      Text());
}

TEST_F(WriterTest, EscapingTable) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"v", u"&<>'\"\n\r\tz"));
  ASSERT_EQ(S_OK, w_->WriteText(u"&<>'\"\n\r\tz"));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(
      u"<A v=\"&amp;&lt;&gt;&apos;&quot;&#10;&#13;&#9;z\">"
      u"&amp;&lt;&gt;&apos;&quot;&#10;&#13;&#9;z</A>",
      Text());
}

// A NUL (and any other character XML 1.0 forbids) would make the whole text
// unreadable for every parser: it is written as U+FFFD.
TEST_F(WriterTest, ForbiddenCharactersBecomeReplacementCharacter) {
  w_->SetOption(false);
  const OLECHAR raw[] = {u'a', 0, u'b', 0x01, 0x1F, 0xFFFE, 0xFFFF, u'c'};
  _variant_t value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(raw, 8);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"v", value));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteElement(u"B", value));
  ASSERT_EQ(S_OK, w_->WriteCData(u"x\x01y"));
  EXPECT_EQ(
      u"<A v=\"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFDc\"/>"
      u"<B>a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFDc</B><![CDATA[x\uFFFDy]]>",
      Text());
}

// Halves of surrogate pairs cannot be encoded for any reader: each becomes
// U+FFFD; whole pairs pass unchanged, in escaped text and in CDATA.
TEST_F(WriterTest, UnpairedSurrogatesBecomeReplacementCharacter) {
  w_->SetOption(false);
  const OLECHAR raw[] = {0xDC00, u'a', 0xD800, 0xD83D, 0xDE00, 0xD800, 0};
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"v", raw));
  ASSERT_EQ(S_OK, w_->WriteText(raw));
  ASSERT_EQ(S_OK, w_->WriteCData(raw));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  const std::u16string fixed = u"\uFFFDa\uFFFD\U0001F600\uFFFD";
  EXPECT_EQ(u"<A v=\"" + fixed + u"\">" + fixed + u"<![CDATA[" + fixed + u"]]></A>", Text());
}

TEST_F(WriterTest, CDataSplitsTheEndMarker) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteCData(u"a]]>b"));
  ASSERT_EQ(S_OK, w_->WriteCData(u""));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  // Each "]]>" becomes the 27 characters "]]><![CDATA[]]]]><![CDATA[>".
  EXPECT_EQ(u"<A><![CDATA[a]]><![CDATA[]]]]><![CDATA[>b]]></A>", Text());
}

TEST_F(WriterTest, VariantValues) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  _variant_t i2(short{-5});
  _variant_t ui4;
  ui4.vt = VT_UI4;
  ui4.ulVal = 4000000000u;
  _variant_t r4(2.5f);
  _variant_t date(45000.25, VT_DATE);
  _variant_t flag(true);
  _variant_t text(u"<x>");
  _variant_t empty;
  _variant_t null;
  null.vt = VT_NULL;
  VARIANT inner = ui4;  // shallow: a number owns nothing
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  LONG target = 42;
  VARIANT byRefLong;
  VariantInit(&byRefLong);
  byRefLong.vt = VT_BYREF | VT_I4;
  byRefLong.plVal = &target;
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"i2", i2));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"ui4", ui4));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"r4", r4));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"date", date));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"b", flag));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"s", text));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"e", empty));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"n", null));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"ref", ref));
  ASSERT_EQ(S_OK, w_->WriteAttribute(u"pl", byRefLong));
  ASSERT_EQ(S_OK, w_->CloseStartTag());
  ASSERT_EQ(S_OK, w_->WriteElement(u"E", empty));
  ASSERT_EQ(S_OK, w_->WriteElement(u"S", text));
  ASSERT_EQ(S_OK, w_->WriteElement(u"R", date));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(
      u"<A i2=\"-5\" ui4=\"4000000000\" r4=\"2.5\" date=\"45000.25\" b=\"1\" s=\"&lt;x&gt;\" "
      u"e=\"\" n=\"\" ref=\"4000000000\" pl=\"42\"><E/><S>&lt;x&gt;</S><R>45000.25</R></A>",
      Text());
}

// A by-reference value whose pointer is null reads as the type's zero (an
// empty text for a BSTR), as the value conversions read it; it is never
// dereferenced.
TEST_F(WriterTest, NullReferencesReadAsZero) {
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  const VARTYPE types[] = {VT_I1,   VT_I2, VT_I4, VT_INT,  VT_UI1,  VT_UI2, VT_UI4,
                           VT_UINT, VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_BSTR};
  for (VARTYPE vt : types) {
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = static_cast<VARTYPE>(VT_BYREF | vt);
    ref.byref = nullptr;
    ASSERT_EQ(S_OK, w_->WriteAttribute(u"a", ref)) << vt;
  }
  ASSERT_EQ(S_OK, w_->CloseStartTag());
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = nullptr;
  ASSERT_EQ(S_OK, w_->WriteElement(u"S", ref));
  ref.vt = VT_BYREF | VT_R8;
  ASSERT_EQ(S_OK, w_->WriteElement(u"R", ref));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  std::u16string expected = u"<A";
  for (int i = 0; i < 12; ++i) expected += u" a=\"0\"";
  expected += u" a=\"\"><S/><R>0</R></A>";
  EXPECT_EQ(expected, Text());
}

TEST_F(WriterTest, VariantWithoutTextFormFails) {
  _variant_t currency;
  currency.vt = VT_CY;
  currency.cyVal.int64 = 10000;
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  EXPECT_EQ(E_FAIL, w_->WriteAttribute(u"c", currency));
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Could not convert attribute value to a string"));
  EXPECT_EQ(E_FAIL, w_->WriteElement(u"c", currency));
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Could not convert element value to a string"));
}

TEST_F(WriterTest, AttributeAfterCloseStartTagFails) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->CloseStartTag());
  EXPECT_EQ(E_FAIL, w_->WriteAttribute(u"x", LONG{1}));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_EQ(0u, description.find(u"<KXError ")) << kx::test::U8(description);
  EXPECT_NE(std::u16string::npos,
            description.find(u"Cannot write attributes outside of an element start"));
  EXPECT_EQ(u"\n<A>", Text());
}

TEST_F(WriterTest, AttributeWithoutNameFails) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  EXPECT_EQ(E_FAIL, w_->WriteAttribute(nullptr, u"v"));
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"An XML Attribute must have a name and a value"));
}

TEST_F(WriterTest, ClosingMoreThanOpenFails) {
  w_->SetOption(false);
  for (const OLECHAR* name : {u"A", u"B", u"C"}) ASSERT_EQ(S_OK, w_->StartElement(name));
  for (const OLECHAR* name : {u"C", u"B", u"A"}) ASSERT_EQ(S_OK, w_->EndElement(name));
  EXPECT_EQ(E_FAIL, w_->EndElement(u"A"));
  EXPECT_NE(std::u16string::npos, TakeThreadErrorDescription().find(
                                      u"Cannot close more XML elements than are currently open"));
  EXPECT_EQ(u"<A><B><C/></B></A>", Text());
}

TEST_F(WriterTest, ClearKeepsTheElementState) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->Clear());
  EXPECT_EQ(0u, w_->GetLength());
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"/>", Text());
}

TEST_F(WriterTest, TextAcrossChunksKeepsItsOrder) {
  std::u16string expected;
  for (int i = 0; i < 5000; ++i) expected.push_back(static_cast<char16_t>(u'a' + i % 26));
  // Uneven pieces so that appends straddle the chunk boundaries.
  for (size_t at = 0; at < expected.size();) {
    size_t n = std::min<size_t>(expected.size() - at, 1 + at % 997);
    ASSERT_EQ(S_OK, w_->Append(expected.data() + at, static_cast<ULONG>(n)));
    at += n;
  }
  ASSERT_EQ(S_OK, w_->Append(nullptr, 3));
  ASSERT_EQ(S_OK, w_->Append(u"zz", 0));
  EXPECT_EQ(5000u, w_->GetLength());
  EXPECT_EQ(expected, Text());
  std::u16string copy(5001, u'#');
  ASSERT_EQ(S_OK, w_->CopyTo(copy.data()));
  EXPECT_EQ(u'\0', copy[5000]);
  copy.resize(5000);
  EXPECT_EQ(expected, copy);
}

// Attributes of every length, whole or straddling the chunk boundaries,
// read back in order with the length counted.
TEST_F(WriterTest, AttributesAcrossChunksKeepTheirOrderAndLength) {
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  std::u16string expected = u"\n<A";
  for (LONG i = 0; i < 700; ++i) {
    const std::string digits = std::to_string(i * 7919);
    const std::u16string name(1 + static_cast<size_t>(i) % 13, u'n');
    const std::u16string value(static_cast<size_t>(i) % 29, u'v');
    ASSERT_EQ(S_OK, w_->WriteAttribute(name.c_str(), i * 7919));
    ASSERT_EQ(S_OK, w_->WriteAttribute(name.c_str(), value.c_str()));
    expected += u" " + name + u"=\"" + std::u16string(digits.begin(), digits.end()) + u"\"";
    expected += u" " + name + u"=\"" + value + u"\"";
  }
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  expected += u"/>";
  EXPECT_EQ(expected.size(), w_->GetLength());
  EXPECT_EQ(expected, Text());
}

TEST_F(WriterTest, StreamWriteAppendsUnescapedText) {
  ISequentialStream* stream = nullptr;
  ASSERT_EQ(S_OK, w_->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&stream)));
  const char16_t text[] = u"<raw&>";
  ULONG written = 99;
  EXPECT_EQ(S_OK, stream->Write(text, 12, &written));
  EXPECT_EQ(12u, written);
  // Bytes need not be aligned for 16-bit characters.
  unsigned char odd[5] = {0, 'Z', 0, 0, 0};
  EXPECT_EQ(S_OK, stream->Write(odd + 1, 2, &written));
  EXPECT_EQ(S_OK, stream->Write(text, 0, &written));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(E_FAIL, stream->Write(text, 3, &written));
  EXPECT_EQ(0u, written);
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(
                u"Cannot write a UTF-16 stream that is not a whole number of wide characters"));
  char buffer[4];
  ULONG read = 7;
  EXPECT_EQ(STG_E_ACCESSDENIED, stream->Read(buffer, 4, &read));
  EXPECT_EQ(0u, read);
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Stream does not support Read operations"));
  stream->Release();
  EXPECT_EQ(u"<raw&>Z", Text());
}

TEST(WriterInterfaces, QueryInterfaceAnswersItsInterfaces) {
  IUnknown* unknown = nullptr;
  ASSERT_EQ(S_OK,
            KXXMLStringWriter::CreateInstance(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  ikxXMLWriter* writer = nullptr;
  EXPECT_EQ(S_OK, unknown->QueryInterface(IID_ikxXMLWriter, reinterpret_cast<void**>(&writer)));
  IUnknown* again = nullptr;
  EXPECT_EQ(S_OK, writer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)));
  EXPECT_EQ(unknown, again);  // one identity
  IStream* stream = reinterpret_cast<IStream*>(0x1);
  EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream)));
  EXPECT_EQ(nullptr, stream);
  again->Release();
  writer->Release();
  EXPECT_EQ(0u, unknown->Release());

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(E_NOINTERFACE, KXXMLStringWriter::CreateInstance(IID_IStream, &out));
  EXPECT_EQ(nullptr, out);
}

// Reads the text of a string element back through the grammar parser.
class TextElementParser : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override {
    static const GrammarRecord kGrammar[] = {
        {kGrammarRoot, nullptr, 0},
        {kGrammarStringElement, u"A", 7},
        {kGrammarEnd, nullptr, 0},
    };
    return kGrammar;
  }
  HRESULT SetElementValue(uint32_t id, const SAXValue& value) override {
    if (id == 7) text = value.text;
    return S_OK;
  }
  std::u16string text;
};

// Chunks outlive their writer and a cleared text: what they held before
// never shows in a later text.
TEST_F(WriterTest, ReusedChunksShowOnlyTheNewText) {
  const std::u16string filler(3 * KXXMLStringWriter::kChunkSize - 7, u'x');
  ASSERT_EQ(S_OK, w_->Append(filler.data(), static_cast<ULONG>(filler.size())));
  ASSERT_EQ(S_OK, w_->Clear());
  w_->SetOption(false);
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  EXPECT_EQ(u"<A/>", Text());
  ASSERT_EQ(S_OK, w_->Append(filler.data(), static_cast<ULONG>(filler.size())));
  EXPECT_EQ(u"<A/>" + filler, Text());
  w_->Release();
  w_ = nullptr;
  for (int round = 0; round < 3; ++round) {
    ikxXMLStringWriter* next = nullptr;
    ASSERT_EQ(S_OK, KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                      reinterpret_cast<void**>(&next)));
    std::swap(w_, next);
    if (next != nullptr) next->Release();
    w_->SetOption(false);
    ASSERT_EQ(S_OK, w_->StartElement(u"B"));
    ASSERT_EQ(S_OK, w_->WriteAttribute(u"N", LONG{round}));
    ASSERT_EQ(S_OK, w_->EndElement(u"B"));
    EXPECT_EQ(u"<B N=\"" + std::u16string(1, static_cast<char16_t>(u'0' + round)) + u"\"/>",
              Text());
    std::u16string copy(w_->GetLength() + 1, u'#');
    ASSERT_EQ(S_OK, w_->CopyTo(copy.data()));
    EXPECT_EQ(Text() + u'\0', copy);
  }
}

TEST_F(WriterTest, WrittenTextReadsBackUnchanged) {
  w_->SetOption(false);
  const std::u16string original = u"x]]>y]]]>z & <tag> \"q\" 'a' \u00e9\u20ac";
  ASSERT_EQ(S_OK, w_->StartElement(u"A"));
  ASSERT_EQ(S_OK, w_->WriteCData(original.c_str()));
  ASSERT_EQ(S_OK, w_->EndElement(u"A"));
  TextElementParser cdata;
  ASSERT_EQ(S_OK, cdata.Parse(Bstr(Text())));
  EXPECT_EQ(original, cdata.text);

  ASSERT_EQ(S_OK, w_->Clear());
  ASSERT_EQ(S_OK, w_->WriteElement(u"A", original.c_str()));
  TextElementParser escaped;
  ASSERT_EQ(S_OK, escaped.Parse(Bstr(Text())));
  EXPECT_EQ(original, escaped.text);
}

// A writer released for the last time serves the thread's next one: no
// allocation, and it starts as a new writer would, whatever it was left with.
TEST(WriterReuseTest, ANewWriterAfterTheLastReleaseStartsAfreshWithoutAllocating) {
  const auto make = [] {
    ikxXMLStringWriter* w = nullptr;
    EXPECT_EQ(S_OK, KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                      reinterpret_cast<void**>(&w)));
    return w;
  };
  ikxXMLStringWriter* first = make();
  ASSERT_NE(nullptr, first);
  first->SetOption(false);
  ASSERT_EQ(S_OK, first->StartElement(u"A"));
  ASSERT_EQ(S_OK, first->StartElement(u"B"));
  const std::u16string many(3 * KXXMLStringWriter::kChunkSize, u'x');
  ASSERT_EQ(S_OK, first->Append(many.data(), static_cast<ULONG>(many.size())));
  // One alive while another is made: each its own.
  ikxXMLStringWriter* other = make();
  ASSERT_NE(first, other);
  ASSERT_EQ(S_OK, other->Append(u"o", 1));
  other->Release();
  first->Release();

  const size_t before = g_allocations;
  ikxXMLStringWriter* again = make();
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(before, g_allocations);
  EXPECT_TRUE(again->GetOption());
  EXPECT_EQ(0u, again->GetLength());
  ASSERT_EQ(S_OK, again->StartElement(u"C"));
  ASSERT_EQ(S_OK, again->EndElement(u"C"));
  EXPECT_EQ(E_FAIL, again->EndElement(u"B"));
  TakeThreadErrorDescription();
  BSTR text = nullptr;
  ASSERT_EQ(S_OK, again->GetString(&text));
  EXPECT_EQ(u"\n<C/>", std::u16string(text, SysStringLen(text)));
  SysFreeString(text);
  again->Release();
}

}  // namespace
