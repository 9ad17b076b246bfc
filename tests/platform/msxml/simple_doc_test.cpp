// Small documents of elements and attributes only take the reader's short
// way for text; the same bytes read from a stream always go through expat.
// Both must give the same events, positions, results and failures.
#include <string>
#include <vector>

#include "com/stream.h"
#include "com/variant.h"
#include "recorder.h"

namespace kx::msxml::test {
namespace {

class SimpleDocTest : public SaxTest {
 protected:
  struct Seen {
    HRESULT hr;
    std::vector<std::string> events;
    int fatal_count;
    std::string message;
    int end_line, end_column;  // the kept locator's position after the parse
  };

  // Logs the locator's position with every element event.
  void Watch() {
    rec_->on_event = [this](const std::string& e) {
      if (e != "startElement" && e != "endElement" && e != "endDocument") return;
      int line = 0, column = 0;
      rec_->locator->getLineNumber(&line);
      rec_->locator->getColumnNumber(&column);
      rec_->events.push_back("@" + std::to_string(line) + ":" + std::to_string(column));
    };
  }

  Seen Finish(HRESULT hr) {
    rec_->Rearm();
    Seen s{hr, rec_->events, rec_->fatal_count, rec_->message, 0, 0};
    if (rec_->locator != nullptr) {
      rec_->locator->getLineNumber(&s.end_line);
      rec_->locator->getColumnNumber(&s.end_column);
    }
    rec_->events.clear();
    rec_->fatal_count = 0;
    rec_->message.clear();
    return s;
  }

  Seen AsText(const std::u16string& doc) {
    Watch();
    return Finish(Parse(std::u16string_view(doc)));
  }

  Seen AsStream(const std::u16string& doc) {
    Watch();
    std::string utf8;
    for (std::size_t i = 0; i < doc.size(); ++i) {
      char32_t c = doc[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < doc.size()) {
        c = 0x10000 + ((c - 0xD800) << 10) + (doc[++i] - 0xDC00);
      }
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else if (c < 0x800) {
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (c >> 12));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        utf8 += static_cast<char>(0xF0 | (c >> 18));
        utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    IStream* stream = nullptr;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ULONG written = 0;
    EXPECT_EQ(S_OK, stream->Write(utf8.data(), static_cast<ULONG>(utf8.size()), &written));
    LARGE_INTEGER zero{};
    EXPECT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = stream;
    const HRESULT hr = reader_->parse(v);
    stream->Release();
    return Finish(hr);
  }

  void ExpectSame(const std::u16string& doc) {
    SCOPED_TRACE(Narrow(doc.c_str(), static_cast<int>(doc.size())));
    const Seen text = AsText(doc);
    const Seen stream = AsStream(doc);
    EXPECT_EQ(text.hr, stream.hr);
    EXPECT_EQ(text.events, stream.events);
    EXPECT_EQ(text.fatal_count, stream.fatal_count);
    EXPECT_EQ(text.message, stream.message);
    EXPECT_EQ(text.end_line, stream.end_line);
    EXPECT_EQ(text.end_column, stream.end_column);
  }
};

TEST_F(SimpleDocTest, StoredFieldRecordsAndListsReadAsExpatReadsThem) {
  for (const char16_t* doc : {
           u"<String FieldId=\"12\" Value=\"value of field 12\" State=\"0\"/>",
           u"<Real FieldId=\"3\" Value=\"1.5\" Prefix=\"&gt;\" State=\"0\"/>",
           u"<List><String FieldId=\"1\" Index=\"0\" Value=\"a\"/>"
           u"<String FieldId=\"1\" Index=\"1\" Value=\"b > c\"/></List>",
           u"<a  x=\"\"   y=\"1\" /><!-- -->",
           u"<a><b></b><c/></a>",
           u"<a/>",
           u"<Gr\u00f6\u00dfe Einheit=\"\u20ac \u4e2d\"/>",
           u"<a v=\"\U0001D11E\"/>",
           u"<a x=\"1\" x=\"2\"/>",
           u"<a x=\"1\"y=\"2\"/>",
           u"<a x='1'/>",
           u"<a x=\"1\tb\"/>",
           u"<a>text</a>",
           u"<a></b>",
           u"<a><b/>",
           u"<a/><b/>",
           u"<a/> ",
           u"<1a/>",
           u"<a x=\"<\"/>",
           u"<a x=\"&amp;\"/>",
           u"<?xml version=\"1.0\"?><a/>",
           u"<!DOCTYPE a [<!ENTITY e \"x\">]><a/>",
           u"<a x=\"1\"",
           u"<a/",
           u"</a>",
       }) {
    ExpectSame(doc);
  }
}

TEST_F(SimpleDocTest, HandlerFailuresStopBothWaysAlike) {
  for (const char* fail : {"startDocument", "startElement", "endElement", "endDocument"}) {
    for (int at : {1, 2, 3}) {
      rec_->fail_on = fail;
      rec_->fail_at = at;
      ExpectSame(u"<List><String FieldId=\"1\"/><String FieldId=\"2\"/></List>");
    }
  }
  rec_->fail_on = "startElement";
  rec_->fail_at = 2;
  for (const char* what : {"runtime", "bad_alloc"}) {
    rec_->throw_what = what;
    ExpectSame(u"<a><b/></a>");
  }
}

TEST_F(SimpleDocTest, DepthAndSizeCapsHoldOnTheShortWay) {
  std::u16string deep;
  for (int i = 0; i < kSaxMaxElementDepth + 1; ++i) deep += u"<a>";
  for (int i = 0; i < kSaxMaxElementDepth + 1; ++i) deep += u"</a>";
  EXPECT_EQ(KXSAX_E_TOO_DEEP, Parse(std::u16string_view(deep)));

  VARIANT kb;
  VariantInit(&kb);
  kb.vt = VT_I4;
  kb.lVal = 1;
  ASSERT_EQ(S_OK, reader_->putProperty(u"max-xml-size", kb));
  // 400 code units, 1200 UTF-8 bytes: over the cap only once converted.
  const std::u16string wide = u"<a v=\"" + std::u16string(400, u'\u4e2d') + u"\"/>";
  EXPECT_EQ(KXSAX_E_TOO_LARGE, Parse(std::u16string_view(wide)));
}

}  // namespace
}  // namespace kx::msxml::test
