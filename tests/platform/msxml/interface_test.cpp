// The reader's interface contracts: inputs, files, features and properties,
// the attribute list, references held during a parse, re-entry.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "com/stream.h"
#include "com/variant.h"
#include "recorder.h"

namespace kx::msxml::test {
namespace {

using InputTest = SaxTest;

TEST_F(InputTest, AcceptsABstrByReference) {
  BSTR text = SysAllocString(u"<a>x</a>");
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &text;
  EXPECT_EQ(S_OK, reader_->parse(v));
  SysFreeString(text);
  EXPECT_EQ(rec_->text16, u"x");
}

TEST_F(InputTest, RefusesOtherVariantTypes) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(E_INVALIDARG, reader_->parse(v));
  v.vt = VT_I4;
  v.lVal = 1;
  EXPECT_EQ(E_INVALIDARG, reader_->parse(v));
  EXPECT_TRUE(rec_->events.empty());
}

TEST_F(InputTest, ReadsAStreamOfBytesWithItsOwnEncoding) {
  IStream* stream = nullptr;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
  const std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xe9</a>";
  ULONG written = 0;
  ASSERT_EQ(S_OK, stream->Write(doc.data(), static_cast<ULONG>(doc.size()), &written));
  LARGE_INTEGER zero{};
  ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = stream;
  EXPECT_EQ(S_OK, reader_->parse(v));
  stream->Release();
  EXPECT_EQ(rec_->text16, u"\u00e9");
}

// A stream that never ends: every Read fills the buffer with spaces.
class EndlessStream final : public ISequentialStream {
 public:
  int reads = 0;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ISequentialStream) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }  // lives on the test's stack
  ULONG Release() override { return 1; }
  HRESULT Read(void* pv, ULONG cb, ULONG* got) override {
    ++reads;
    std::memset(pv, ' ', cb);
    *got = cb;
    return S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
};

TEST_F(InputTest, EndlessStreamStopsAtTheSizeCap) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 256;  // KiB
  ASSERT_EQ(S_OK, reader_->putProperty(u"max-xml-size", v));
  EndlessStream stream;
  v.vt = VT_UNKNOWN;
  v.punkVal = &stream;
  EXPECT_EQ(KXSAX_E_TOO_LARGE, reader_->parse(v));
  EXPECT_LE(stream.reads, 8);
  EXPECT_EQ(rec_->message, "The document is larger than 262144 bytes");
}

TEST_F(InputTest, RefusesAnObjectThatIsNoStream) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = rec_->content();
  EXPECT_EQ(E_INVALIDARG, reader_->parse(v));
  EXPECT_TRUE(rec_->events.empty());
}

class FileTest : public SaxTest {
 protected:
  void SetUp() override {
    SaxTest::SetUp();
    std::string name = (std::filesystem::temp_directory_path() / "kxmsxml-XXXXXX").string();
    int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name;
  }
  void TearDown() override {
    std::remove(path_.c_str());
    SaxTest::TearDown();
  }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::u16string Path() const { return U16(path_); }

  std::string path_;
};

TEST_F(FileTest, ParsesAFileByPath) {
  Write("<Templates><Template Id=\"T\" FilterId=\"F\"/></Templates>");
  EXPECT_EQ(S_OK, reader_->parseURL(Path().c_str()));
  EXPECT_EQ(rec_->events[3], "start(Template)[Id=T,FilterId=F]");
}

TEST_F(FileTest, ParsesAFileUrl) {
  Write("<a/>");
  EXPECT_EQ(S_OK, reader_->parseURL((u"file://" + Path()).c_str()));
  EXPECT_EQ(S_OK, reader_->parseURL((u"file://localhost" + Path()).c_str()));
}

TEST_F(FileTest, TreatsBackslashesAsSeparators) {
  Write("<a/>");
  std::u16string p = Path();
  p[p.rfind(u'/')] = u'\\';
  EXPECT_EQ(S_OK, reader_->parseURL(p.c_str()));
}

TEST_F(FileTest, MissingFileReachesTheErrorHandler) {
  std::remove(path_.c_str());
  EXPECT_EQ(KXSAX_E_OPEN_FAILED, reader_->parseURL(Path().c_str()));
  EXPECT_EQ(rec_->message, "Cannot open the file: No such file or directory");
}

TEST_F(FileTest, MalformedFileReportsItsPosition) {
  Write("<a>\n<b>\n</a>");
  EXPECT_EQ(KXSAX_E_MALFORMED, reader_->parseURL(Path().c_str()));
  EXPECT_EQ(rec_->line, 3);
  EXPECT_EQ(rec_->column, 3);
}

TEST_F(FileTest, RemoteUrlsAreNotSupported) {
  EXPECT_EQ(E_NOTIMPL, reader_->parseURL(u"http://localhost/a.xml"));
  EXPECT_EQ(E_NOTIMPL, reader_->parseURL(u"file://otherhost/a.xml"));
  EXPECT_EQ(E_INVALIDARG, reader_->parseURL(nullptr));
  EXPECT_TRUE(rec_->events.empty());
}

using SettingsTest = SaxTest;

TEST_F(SettingsTest, FeaturesAreFixed) {
  VARIANT_BOOL b = VARIANT_FALSE;
  EXPECT_EQ(S_OK, reader_->getFeature(u"prohibit-dtd", &b));
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(S_OK, reader_->getFeature(u"http://xml.org/sax/features/namespaces", &b));
  EXPECT_EQ(b, VARIANT_FALSE);
  EXPECT_EQ(S_OK, reader_->putFeature(u"prohibit-dtd", VARIANT_TRUE));
  EXPECT_EQ(E_NOTIMPL, reader_->putFeature(u"prohibit-dtd", VARIANT_FALSE));
  EXPECT_EQ(E_NOTIMPL, reader_->putFeature(u"http://xml.org/sax/features/external-general-entities",
                                           VARIANT_TRUE));
  EXPECT_EQ(E_INVALIDARG, reader_->getFeature(u"no-such-feature", &b));
  EXPECT_EQ(E_INVALIDARG, reader_->putFeature(nullptr, VARIANT_TRUE));
}

TEST_F(SettingsTest, PropertiesReportTheLimits) {
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(S_OK, reader_->getProperty(u"max-element-depth", &v));
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 1024);
  ASSERT_EQ(S_OK, reader_->getProperty(u"max-xml-size", &v));
  EXPECT_EQ(v.lVal, 65536);
  EXPECT_EQ(E_INVALIDARG, reader_->getProperty(u"schemas", &v));
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"100");
  EXPECT_EQ(S_OK, reader_->putProperty(u"max-xml-size", v));
  VariantClear(&v);
  ASSERT_EQ(S_OK, reader_->getProperty(u"max-xml-size", &v));
  EXPECT_EQ(v.lVal, 100);
  v.lVal = 65537;
  EXPECT_EQ(E_INVALIDARG, reader_->putProperty(u"max-xml-size", v));
}

TEST_F(SettingsTest, HandlersCanBeReadBack) {
  ISAXContentHandler* content = nullptr;
  ASSERT_EQ(S_OK, reader_->getContentHandler(&content));
  EXPECT_EQ(content, static_cast<ISAXContentHandler*>(rec_));
  content->Release();
  ASSERT_EQ(S_OK, reader_->putErrorHandler(nullptr));
  ISAXErrorHandler* errors = rec_;
  ASSERT_EQ(S_OK, reader_->getErrorHandler(&errors));
  EXPECT_EQ(errors, nullptr);
}

using AttributesTest = SaxTest;

TEST_F(AttributesTest, AnswersEveryLookup) {
  bool checked = false;
  // Inspect the list from inside startElement through a second handler.
  struct Inspector final : ISAXContentHandler {
    bool* checked;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT startDocument() override { return S_OK; }
    HRESULT endDocument() override { return S_OK; }
    HRESULT startPrefixMapping(const char16_t*, int, const char16_t*, int) override { return S_OK; }
    HRESULT endPrefixMapping(const char16_t*, int) override { return S_OK; }
    HRESULT endElement(const char16_t*, int, const char16_t*, int, const char16_t*, int) override {
      return S_OK;
    }
    HRESULT characters(const char16_t*, int) override { return S_OK; }
    HRESULT ignorableWhitespace(const char16_t*, int) override { return S_OK; }
    HRESULT processingInstruction(const char16_t*, int, const char16_t*, int) override {
      return S_OK;
    }
    HRESULT skippedEntity(const char16_t*, int) override { return S_OK; }
    HRESULT startElement(const char16_t*, int, const char16_t*, int, const char16_t*, int,
                         ISAXAttributes* a) override {
      const char16_t* s = nullptr;
      int n = -1, index = -1;
      EXPECT_EQ(S_OK, a->getLength(&n));
      EXPECT_EQ(n, 2);
      EXPECT_EQ(S_OK, a->getQName(1, &s, &n));
      EXPECT_EQ(std::u16string(s, n), u"Value");
      EXPECT_EQ(S_OK, a->getURI(1, &s, &n));
      EXPECT_EQ(n, 0);
      EXPECT_EQ(S_OK, a->getType(0, &s, &n));
      EXPECT_EQ(std::u16string(s, n), u"CDATA");
      EXPECT_EQ(S_OK, a->getIndexFromQName(u"Value", 5, &index));
      EXPECT_EQ(index, 1);
      EXPECT_EQ(S_OK, a->getIndexFromName(u"", 0, u"Id", 2, &index));
      EXPECT_EQ(index, 0);
      EXPECT_EQ(E_INVALIDARG, a->getIndexFromName(u"urn:x", 5, u"Id", 2, &index));
      EXPECT_EQ(E_INVALIDARG, a->getIndexFromQName(u"Val", 3, &index));
      EXPECT_EQ(index, -1);
      EXPECT_EQ(S_OK, a->getValueFromQName(u"Value", 5, &s, &n));
      EXPECT_EQ(std::u16string(s, n), u"a b");
      EXPECT_EQ(s[n], 0);
      EXPECT_EQ(S_OK, a->getValueFromName(u"", 0, u"Id", 2, &s, &n));
      EXPECT_EQ(std::u16string(s, n), u"");
      EXPECT_EQ(E_INVALIDARG, a->getValue(2, &s, &n));
      EXPECT_EQ(E_INVALIDARG, a->getLocalName(-1, &s, &n));
      EXPECT_EQ(E_POINTER, a->getValue(0, nullptr, &n));
      const char16_t *uri, *local, *qname;
      int cu, cl, cq;
      EXPECT_EQ(S_OK, a->getName(1, &uri, &cu, &local, &cl, &qname, &cq));
      EXPECT_EQ(std::u16string(local, cl), u"Value");
      EXPECT_EQ(std::u16string(qname, cq), u"Value");
      *checked = true;
      return S_OK;
    }
  } inspector;
  inspector.checked = &checked;
  ASSERT_EQ(S_OK, reader_->putContentHandler(&inspector));
  EXPECT_EQ(S_OK, Parse("<a Id=\"\" Value=\"a b\"/>"));
  EXPECT_TRUE(checked);
  reader_->putContentHandler(nullptr);  // before the inspector goes away
}

using LifetimeTest = SaxTest;

TEST_F(LifetimeTest, ReaderHoldsTheHandlersWhileParsing) {
  // The reader's setting is the only reference left; the handler clears it
  // from inside the parse. Events must keep arriving at a live object
  // (the sanitizer build catches a use after free).
  Recorder* only = new Recorder;
  ASSERT_EQ(S_OK, reader_->putContentHandler(only));
  only->Release();
  ISAXXMLReader* reader = reader_;
  only->on_event = [reader](const std::string& e) {
    if (e == "startElement") reader->putContentHandler(nullptr);
  };
  EXPECT_EQ(S_OK, Parse("<a><b/><c>t</c></a>"));
}

TEST_F(LifetimeTest, ParseFromInsideAHandlerIsRefused) {
  HRESULT inner = S_OK;
  ISAXXMLReader* reader = reader_;
  rec_->on_event = [&](const std::string& e) {
    if (e == "startElement") inner = ParseText(reader, u"<x/>");
  };
  EXPECT_EQ(S_OK, Parse("<a/>"));
  EXPECT_EQ(inner, E_UNEXPECTED);
}

TEST_F(LifetimeTest, LocatorOutlivesTheParse) {
  ASSERT_EQ(S_OK, Parse("<a>\n<b/></a>"));
  ASSERT_NE(rec_->locator, nullptr);
  int line = 0, column = 0;
  EXPECT_EQ(S_OK, rec_->locator->getLineNumber(&line));
  EXPECT_EQ(S_OK, rec_->locator->getColumnNumber(&column));
  EXPECT_EQ(line, 2);
  const char16_t* id = nullptr;
  EXPECT_EQ(S_OK, rec_->locator->getSystemId(&id));
  EXPECT_EQ(std::u16string(id), u"");
  // Still answers once the reader is gone.
  reader_->putContentHandler(nullptr);
  reader_->putErrorHandler(nullptr);
  reader_->Release();
  reader_ = nullptr;
  EXPECT_EQ(S_OK, rec_->locator->getLineNumber(&line));
  EXPECT_EQ(line, 2);
}

TEST_F(LifetimeTest, LocatorKeptAfterAFailedStartAnswers) {
  rec_->fail_on = "startDocument";
  rec_->throw_what = "runtime";
  EXPECT_EQ(E_FAIL, Parse("<a/>"));
  ASSERT_NE(rec_->locator, nullptr);
  int line = 0;
  EXPECT_EQ(S_OK, rec_->locator->getLineNumber(&line));
  EXPECT_EQ(line, 1);
}

TEST_F(LifetimeTest, KeptLocatorIsNotReusedByTheNextParse) {
  // The reader keeps its locator between parses only while no handler
  // holds it.
  ASSERT_EQ(S_OK, Parse("<a>\n<b x=\"1\"/></a>"));
  ASSERT_NE(rec_->locator, nullptr);
  ISAXLocator* first = rec_->locator;
  first->AddRef();
  for (const char* next : {"<c y=\"2\"/>", "<c y=\"2\">text</c>"}) {
    ASSERT_EQ(S_OK, Parse(next));
    int line = 0;
    EXPECT_EQ(S_OK, first->getLineNumber(&line));
    EXPECT_EQ(line, 2);
    EXPECT_NE(rec_->locator, first);
  }
  first->Release();
}

}  // namespace
}  // namespace kx::msxml::test
