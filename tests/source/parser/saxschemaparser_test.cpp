// The grammar-driven parser through the real SAX reader: the "SetRealField"
// grammar, text-value elements, child handlers, failures and the abort.

#include "saxschemaparser.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/activation.h"
#include "com/clsids.h"
#include "com/errorinfo.h"
#include "msxml/sax.h"
#include "otherdigits.h"
#include "parsertestutil.h"
#include "support/setrealfield.h"

namespace {

using kx::test::Bstr;
using kx::test::SetRealFieldMessageParser;
using kx::test::TakeThreadErrorDescription;
using kx::test::U8;

HRESULT Parse(SAXSchemaParser& parser, std::u16string_view text) {
  return parser.Parse(Bstr(text));
}

TEST(SetRealFieldParser, ReceivesEveryValueById) {
  SetRealFieldMessageParser p;
  int32_t statusSeenByWorker = 0;
  p.worker = [&](SetRealFieldMessageParser& self) {
    statusSeenByWorker = self.status;
    return S_OK;
  };
  ASSERT_EQ(S_OK, Parse(p,
                        u"<XMLMessage TargetId=\"Doc1\" Status=\"1\">"
                        u"<SetRealField PageId=\"101\" FieldId=\"7\" Index=\"3\" Value=\"12.5\""
                        u" Prefix=\"~\" Postfix=\"mm\" Substitution=\"n/a\" Format=\"%.2f\""
                        u" ConfirmedClass=\"Pump\" Published=\"yes\"/>"
                        u"</XMLMessage>"));
  EXPECT_EQ(1, p.workerRuns);
  EXPECT_EQ(1, statusSeenByWorker);  // the envelope is known to the worker
  EXPECT_EQ(u"Doc1", p.targetId.str());
  EXPECT_EQ(101, p.pageId);
  EXPECT_EQ(7, p.fieldId);
  EXPECT_EQ(3, p.index);
  EXPECT_EQ(u"12.5", p.value.str());
  EXPECT_EQ(u"~", p.prefix.str());
  EXPECT_EQ(u"mm", p.postfix.str());
  EXPECT_EQ(u"n/a", p.substitution.str());
  EXPECT_EQ(u"%.2f", p.format.str());
  EXPECT_EQ(u"Pump", p.confirmedClass.str());
  EXPECT_TRUE(p.published);
  EXPECT_FALSE(p.WasAborted());
  // Attributes arrive in document order: TargetId, Status, then the message's.
  EXPECT_EQ(u"CDEFMGIJKLNH", p.attributeLog);
}

TEST(SetRealFieldParser, MessageElementMayBeTheDocumentElement) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, Parse(p, u"<SetRealField PageId=\"5\"/>"));
  EXPECT_EQ(1, p.workerRuns);
  EXPECT_EQ(5, p.pageId);
  EXPECT_TRUE(p.targetId.IsNull());
  EXPECT_EQ(-1, p.status);
}

TEST(SetRealFieldParser, UnknownChildIsSkippedWithItsSubtree) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, Parse(p,
                        u"<XMLMessage Status=\"1\" Extra=\"x\">"
                        u"<Unknown PageId=\"99\"><SetRealField PageId=\"98\"/>text</Unknown>"
                        u"<SetRealField PageId=\"4\" Unknown=\"1\"><Deep><Deeper/></Deep>"
                        u"</SetRealField></XMLMessage>"));
  EXPECT_EQ(1, p.workerRuns);
  EXPECT_EQ(4, p.pageId);
  EXPECT_EQ(1, p.status);
}

TEST(SetRealFieldParser, EnvelopeAttributesOnTheMessageElementAreIgnored) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK,
            Parse(p, u"<XMLMessage><SetRealField TargetId=\"t\" Status=\"4\"/></XMLMessage>"));
  EXPECT_EQ(1, p.workerRuns);
  EXPECT_TRUE(p.targetId.IsNull());
  EXPECT_EQ(-1, p.status);
}

TEST(SetRealFieldParser, NamesAreCaseSensitive) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, Parse(p,
                        u"<XMLMessage status=\"1\"><setrealfield PageId=\"4\"/>"
                        u"<SetRealField pageid=\"4\"/></XMLMessage>"));
  EXPECT_EQ(1, p.workerRuns);  // only the correctly written element
  EXPECT_EQ(-1, p.pageId);
  EXPECT_EQ(-1, p.status);
}

TEST(SetRealFieldParser, CaseInsensitiveOptionMatchesOtherCase) {
  SetRealFieldMessageParser p;
  p.SetCompareNoCase(true);
  ASSERT_EQ(S_OK, Parse(p, u"<xmlmessage STATUS=\"1\"><setrealfield pageid=\"4\"/></xmlmessage>"));
  EXPECT_EQ(1, p.workerRuns);
  EXPECT_EQ(4, p.pageId);
  EXPECT_EQ(1, p.status);
}

TEST(SetRealFieldParser, NamePrefixDoesNotMatch) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, Parse(p, u"<SetRealField Page=\"4\" PageIdX=\"5\" FieldI=\"6\"/>"));
  EXPECT_EQ(-1, p.pageId);
  EXPECT_EQ(-1, p.fieldId);
  SetRealFieldMessageParser q;
  ASSERT_EQ(S_OK, Parse(q, u"<SetReal PageId=\"4\"/>"));
  EXPECT_EQ(0, q.workerRuns);
}

TEST(SetRealFieldParser, IntegersReadTheLeadingNumber) {
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, Parse(p, u"<SetRealField PageId=\"12abc\" FieldId=\" -8\" Index=\"3.9\"/>"));
  EXPECT_EQ(12, p.pageId);
  EXPECT_FALSE(p.pageIdEmpty);
  EXPECT_EQ(-8, p.fieldId);
  EXPECT_EQ(3, p.index);

  SetRealFieldMessageParser e;
  ASSERT_EQ(S_OK, Parse(e, u"<SetRealField PageId=\"\" FieldId=\"abc\"/>"));
  EXPECT_EQ(0, e.pageId);
  EXPECT_TRUE(e.pageIdEmpty);
  EXPECT_EQ(0, e.fieldId);

  SetRealFieldMessageParser big;
  ASSERT_EQ(S_OK, Parse(big, u"<SetRealField PageId=\"99999999999\" FieldId=\"-99999999999\"/>"));
  EXPECT_EQ(2147483647, big.pageId);
  EXPECT_EQ(-2147483647 - 1, big.fieldId);
}

TEST(SetRealFieldParser, BooleanWordsInAnyCase) {
  const char16_t* truths[] = {u"1", u"true", u"TRUE", u"On", u"yEs", u"t", u"T"};
  for (const char16_t* word : truths) {
    SetRealFieldMessageParser p;
    std::u16string text = std::u16string(u"<SetRealField Published=\"") + word + u"\"/>";
    ASSERT_EQ(S_OK, Parse(p, text));
    EXPECT_TRUE(p.published) << U8(word);
    EXPECT_FALSE(p.publishedEmpty) << U8(word);
  }
  const char16_t* falsehoods[] = {u"0", u"false", u"FALSE", u"Off", u"nO", u"f", u"F"};
  for (const char16_t* word : falsehoods) {
    SetRealFieldMessageParser p;
    p.published = true;
    std::u16string text = std::u16string(u"<SetRealField Published=\"") + word + u"\"/>";
    ASSERT_EQ(S_OK, Parse(p, text));
    EXPECT_FALSE(p.published) << U8(word);
    EXPECT_FALSE(p.publishedEmpty) << U8(word);
  }
  const char16_t* neither[] = {u"", u"2", u"tr", u"yes ", u"truee"};
  for (const char16_t* word : neither) {
    SetRealFieldMessageParser p;
    p.published = true;
    std::u16string text = std::u16string(u"<SetRealField Published=\"") + word + u"\"/>";
    ASSERT_EQ(S_OK, Parse(p, text));
    EXPECT_FALSE(p.published) << U8(word);
    EXPECT_TRUE(p.publishedEmpty) << U8(word);
  }
}

TEST(SetRealFieldParser, WorkerFailureKeepsItsDescription) {
  SetRealFieldMessageParser p;
  const std::u16string workerDescription =
      u"<KXError Desc=\"Field is locked\" HR=\"0x80040201\" />";
  p.worker = [&](SetRealFieldMessageParser&) {
    return kx_set_error_info(static_cast<HRESULT>(0x80040201u), workerDescription.c_str(),
                             u"KXDBDatasheetSvcs::SetRealField");
  };
  HRESULT hr = Parse(p, u"<XMLMessage>\n <SetRealField PageId=\"1\"/></XMLMessage>");
  EXPECT_EQ(static_cast<HRESULT>(0x80040201u), hr);
  std::u16string description = TakeThreadErrorDescription();
  // The parser adds where it happened in front; the worker's own description
  // stays, unchanged, at the end of the chain, and the first "Desc" repeats it.
  ASSERT_GE(description.size(), workerDescription.size()) << U8(description);
  EXPECT_EQ(workerDescription, description.substr(description.size() - workerDescription.size()))
      << U8(description);
  EXPECT_EQ(0u, description.find(u"<KXError Desc=\"Field is locked\" ")) << U8(description);
  EXPECT_NE(std::u16string::npos, description.find(u"Parsing element SetRealField(Ln 2, Col "))
      << U8(description);
}

TEST(SetRealFieldParser, FirstFailureIsKept) {
  SetRealFieldMessageParser p;
  p.worker = [](SetRealFieldMessageParser&) {
    return kx_set_error_info(E_ACCESSDENIED, u"first", u"worker");
  };
  // The text is malformed after the message element; the worker's failure
  // stops the parse and stays the result.
  HRESULT hr = Parse(p, u"<XMLMessage><SetRealField/><SetRealField/></XMLMessage><junk");
  EXPECT_EQ(E_ACCESSDENIED, hr);
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"first")) << U8(description);
  EXPECT_EQ(std::u16string::npos, description.find(u"MSXML")) << U8(description);
  EXPECT_EQ(1, p.workerRuns);
}

TEST(SetRealFieldParser, MalformedXmlReportsTheReaderMessage) {
  SetRealFieldMessageParser p;
  HRESULT hr = Parse(p, u"<XMLMessage>\n<SetRealField PageId=\"1\">\n</XMLMessage>");
  EXPECT_TRUE(FAILED(hr));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"MSXML Fatal error: ")) << U8(description);
  EXPECT_NE(std::u16string::npos, description.find(u"Parsing XML (Ln 3, Col ")) << U8(description);
  EXPECT_EQ(0, p.workerRuns);
}

TEST(SetRealFieldParser, WorkerAbortEndsQuietly) {
  SetRealFieldMessageParser p;
  p.worker = [](SetRealFieldMessageParser&) { return KXSAX_E_ABORT; };
  ASSERT_EQ(S_OK, Parse(p, u"<XMLMessage><SetRealField/><SetRealField/></XMLMessage>"));
  EXPECT_TRUE(p.WasAborted());
  EXPECT_EQ(1, p.workerRuns);  // the second message element is never reached
  EXPECT_EQ(u"", TakeThreadErrorDescription());

  // The flag belongs to one parse.
  p.worker = nullptr;
  ASSERT_EQ(S_OK, Parse(p, u"<XMLMessage><SetRealField/><SetRealField/></XMLMessage>"));
  EXPECT_FALSE(p.WasAborted());
  EXPECT_EQ(3, p.workerRuns);
}

TEST(SetRealFieldParser, EachMessageElementRunsTheWorker) {
  SetRealFieldMessageParser p;
  std::vector<int32_t> pages;
  p.worker = [&](SetRealFieldMessageParser& self) {
    pages.push_back(self.pageId);
    return S_OK;
  };
  ASSERT_EQ(S_OK, Parse(p,
                        u"<XMLMessage><SetRealField PageId=\"1\" FieldId=\"9\"/>"
                        u"<SetRealField PageId=\"2\"/></XMLMessage>"));
  EXPECT_EQ((std::vector<int32_t>{1, 2}), pages);
  EXPECT_EQ(9, p.fieldId);  // values are never reset during a parse
}

// A worker may parse other text (field data, say) while its own request is
// still being parsed.
TEST(SetRealFieldParser, WorkerMayParseWhileItsRequestIsParsed) {
  SetRealFieldMessageParser outer;
  int32_t innerPage = 0;
  outer.worker = [&](SetRealFieldMessageParser& self) {
    SetRealFieldMessageParser inner;
    HRESULT hr = Parse(inner, u"<SetRealField PageId=\"77\"/>");
    innerPage = inner.pageId;
    return FAILED(hr) ? hr : (self.pageId == 5 ? S_OK : E_FAIL);
  };
  ASSERT_EQ(S_OK, Parse(outer,
                        u"<XMLMessage><SetRealField PageId=\"5\"/>"
                        u"<SetRealField PageId=\"5\"/></XMLMessage>"));
  EXPECT_EQ(2, outer.workerRuns);
  EXPECT_EQ(77, innerPage);
}

TEST(SetRealFieldParser, IgnoreOptionOffRefusesUnknownNames) {
  SetRealFieldMessageParser p;
  p.SetIgnoreUnknown(false);
  EXPECT_EQ(E_FAIL, Parse(p, u"<XMLMessage><Other/></XMLMessage>"));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"Unexpected element &lt;Other&gt;"))
      << U8(description);
  SetRealFieldMessageParser q;
  q.SetIgnoreUnknown(false);
  EXPECT_EQ(E_FAIL, Parse(q, u"<XMLMessage><SetRealField Bad=\"1\"/></XMLMessage>"));
  description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"Unexpected Attribute Bad")) << U8(description);
  EXPECT_EQ(0, q.workerRuns);
}

TEST(SetRealFieldParser, NullTextIsNoDocument) {
  SetRealFieldMessageParser p;
  HRESULT hr = p.Parse(nullptr);
  EXPECT_TRUE(FAILED(hr));  // no document element
  EXPECT_NE(std::u16string::npos, TakeThreadErrorDescription().find(u"MSXML Fatal error: "));
  EXPECT_EQ(0, p.workerRuns);
}

TEST(SetRealFieldParser, GetValueNameFindsTheAttributeRecord) {
  SetRealFieldMessageParser p;
  EXPECT_EQ(std::u16string(u"Index"), p.GetValueName(kx::test::kSetRealIndex));
  EXPECT_EQ(std::u16string(u"Published"), p.GetValueName(kx::test::kSetRealPublished));
  EXPECT_EQ(nullptr, p.GetValueName(1));  // an element id, not a value
  EXPECT_EQ(nullptr, p.GetValueName(77));
}

// ---------------------------------------------------------------------------
// Reals.

TEST(SetRealFieldParserReals, ConversionOfTexts) {
  struct Case {
    const char16_t* text;
    double value;  // NaN: not a number
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {u"1.5", 1.5}, {u" 2.25 ", 2.25}, {u"-3", -3},     {u"1e3", 1000},
      {u"1,5", nan}, {u"", nan},        {u"12abc", nan}, {u"1.5.2", nan},
      {u"inf", nan}, {u"nan", nan},     {u"1e999", nan}, {u"0x10", nan},
  };
  for (const Case& c : cases) {
    SAXValue v;
    ASSERT_EQ(S_OK, ConvertTextToVariant(&v, kSAXReal, c.text));
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(v.real)) << U8(c.text);
      EXPECT_EQ(1, v.empty) << U8(c.text);
    } else {
      EXPECT_EQ(c.value, v.real) << U8(c.text);
      EXPECT_EQ(0, v.empty) << U8(c.text);
    }
  }
}

// A long number is read whole.
TEST(SetRealFieldParserReals, LongNumbersAreNotCut) {
  std::u16string text = u"1.";
  text.append(80, u'0');
  text += u"1e2";
  SAXValue v;
  ASSERT_EQ(S_OK, ConvertTextToVariant(&v, kSAXReal, text.c_str()));
  EXPECT_EQ(0, v.empty);
  EXPECT_DOUBLE_EQ(100.0, v.real);
  std::u16string digits(70, u'1');
  ASSERT_EQ(S_OK, ConvertTextToVariant(&v, kSAXReal, digits.c_str()));
  EXPECT_EQ(0, v.empty);
  EXPECT_DOUBLE_EQ(1.1111111111111111e69, v.real);
}

TEST(SetRealFieldParserReals, DecimalPointWhateverTheLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
  const char* set = nullptr;
  for (const char* name : names) {
    if ((set = std::setlocale(LC_ALL, name)) != nullptr) break;
  }
  if (set == nullptr) GTEST_SKIP() << "no locale with a comma decimal point is installed";
  SAXValue v;
  EXPECT_EQ(S_OK, ConvertTextToVariant(&v, kSAXReal, u"1.5"));
  EXPECT_EQ(1.5, v.real);
  EXPECT_EQ(S_OK, ConvertTextToVariant(&v, kSAXReal, u"1,5"));
  EXPECT_TRUE(std::isnan(v.real));
  EXPECT_EQ(1, v.empty);
  std::setlocale(LC_ALL, "C");
}

TEST(ConvertTextToVariant, UnknownTypeFails) {
  SAXValue v;
  EXPECT_EQ(E_FAIL, ConvertTextToVariant(&v, 4, u"1"));
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Unknown data type specified for conversion"));
  ASSERT_EQ(S_OK, ConvertTextToVariant(&v, kSAXString, nullptr));
  EXPECT_EQ(std::u16string(u""), v.text);
}

// ---------------------------------------------------------------------------
// A grammar with text-value elements and a child element handled by a
// handler of its own; every call is logged.
//
//   <List Mode="int"> <TemplateId>s</TemplateId> <DocumentId>n</DocumentId>
//                     <Page Number="n"/> ... </List>

enum : uint32_t {
  kListId = 1,
  kPageId = 2,
  kTemplateId = 3,
  kDocumentId = 4,
  kMode = 5,
  kNumber = 6,
  kFlag = 7
};

const GrammarRecord kListGrammar[] = {
    {kGrammarRoot, nullptr, 0},
    {kGrammarElement, u"List", kListId},
    {kGrammarIntegerAttribute, u"Mode", kMode},
    {kGrammarChild, nullptr, kTemplateId},
    {kGrammarChild, nullptr, kDocumentId},
    {kGrammarChild, nullptr, kPageId},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarStringElement, u"TemplateId", kTemplateId},
    {kGrammarIntegerElement, u"DocumentId", kDocumentId},
    {kGrammarElement, u"Page", kPageId},
    {kGrammarIntegerAttribute, u"Number", kNumber},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarBooleanElement, u"Flag", kFlag},
    {kGrammarEnd, nullptr, 0},
};

class Log {
 public:
  void Add(const std::string& entry) { entries.push_back(entry); }
  std::vector<std::string> entries;
};

class PageHandler : public DefaultSAXSchemaElementHandler {
 public:
  explicit PageHandler(Log* log) : log_(log) {}
  HRESULT BeginElement(uint32_t id) override {
    log_->Add("page begin " + std::to_string(id));
    return abortOnBegin ? KXSAX_E_ABORT : S_OK;
  }
  HRESULT EndElement(uint32_t id) override {
    log_->Add("page end " + std::to_string(id));
    return S_OK;
  }
  HRESULT SetAttribute(uint32_t id, const SAXValue& v) override {
    log_->Add("page attr " + std::to_string(id) + "=" + std::to_string(v.integer));
    return S_OK;
  }
  bool abortOnBegin = false;

 private:
  Log* log_;
};

class ListParser : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override { return kListGrammar; }
  HRESULT BeginElement(uint32_t id) override {
    log.Add("begin " + std::to_string(id));
    return S_OK;
  }
  HRESULT EndElement(uint32_t id) override {
    log.Add("end " + std::to_string(id));
    return S_OK;
  }
  HRESULT GetChildHandler(uint32_t id, SAXSchemaElementHandler** handler) override {
    log.Add("child " + std::to_string(id));
    *handler = id == kPageId ? static_cast<SAXSchemaElementHandler*>(&page) : this;
    return S_OK;
  }
  HRESULT EndChildElement(uint32_t id, SAXSchemaElementHandler* child) override {
    log.Add("end child " + std::to_string(id) + (child == &page ? " page" : ""));
    return S_OK;
  }
  HRESULT SetAttribute(uint32_t id, const SAXValue& v) override {
    log.Add("attr " + std::to_string(id) + "=" + std::to_string(v.integer));
    return S_OK;
  }
  HRESULT SetElementValue(uint32_t id, const SAXValue& v) override {
    if (v.type == kSAXString) {
      log.Add("value " + std::to_string(id) + "=" + U8(v.text));
    } else {
      log.Add("value " + std::to_string(id) + "=" + std::to_string(v.integer) +
              (v.empty ? " empty" : ""));
    }
    return S_OK;
  }
  Log log;
  PageHandler page{&log};
};

TEST(GrammarParser, TextValueElementsJoinTheirPieces) {
  ListParser p;
  // Entity references and CDATA sections make the reader deliver the text in
  // several pieces.
  ASSERT_EQ(S_OK, Parse(p,
                        u"<List Mode=\"2\"><TemplateId>a&amp;b<![CDATA[<c>]]>d</TemplateId>"
                        u"<DocumentId> 4&#50;</DocumentId><DocumentId/></List>"));
  EXPECT_EQ((std::vector<std::string>{"child 1", "begin 1", "attr 5=2", "value 3=a&b<c>d",
                                      "value 4=42", "value 4=0 empty", "end 1", "end child 1"}),
            p.log.entries);
}

TEST(GrammarParser, ChildHandlersAreAskedAndToldOfTheEnd) {
  ListParser p;
  ASSERT_EQ(S_OK, Parse(p, u"<List><Page Number=\"3\"/>text<Page Number=\"4\"></Page></List>"));
  EXPECT_EQ((std::vector<std::string>{"child 1", "begin 1", "child 2", "page begin 2",
                                      "page attr 6=3", "page end 2", "end child 2 page", "child 2",
                                      "page begin 2", "page attr 6=4", "page end 2",
                                      "end child 2 page", "end 1", "end child 1"}),
            p.log.entries);
}

TEST(GrammarParser, ElementsOutOfPlaceAreSkipped) {
  ListParser p;
  // "Flag" is in the grammar but no element lists it; "Page" may not hold
  // "Page"; "TemplateId" may not be the child of a text-value element.
  ASSERT_EQ(S_OK, Parse(p,
                        u"<List><Flag>1</Flag><Page><Page Number=\"1\"/></Page>"
                        u"<DocumentId>1<TemplateId>x</TemplateId></DocumentId></List>"));
  EXPECT_EQ((std::vector<std::string>{"child 1", "begin 1", "child 2", "page begin 2", "page end 2",
                                      "end child 2 page", "value 4=1", "end 1", "end child 1"}),
            p.log.entries);
}

// A text-value element declares no attributes: an attribute named like one
// of a later definition must not reach the simple element's handler.
TEST(GrammarParser, AttributesOfTextValueElementsAreIgnored) {
  ListParser p;
  ASSERT_EQ(S_OK, Parse(p, u"<List><DocumentId Number=\"5\">7</DocumentId></List>"));
  EXPECT_EQ((std::vector<std::string>{"child 1", "begin 1", "value 4=7", "end 1", "end child 1"}),
            p.log.entries);
}

TEST(GrammarParser, AbortClosesOpenElementsInOrder) {
  ListParser p;
  p.page.abortOnBegin = true;
  ASSERT_EQ(S_OK, Parse(p, u"<List><Page Number=\"1\"/><TemplateId>never</TemplateId></List>"));
  EXPECT_TRUE(p.WasAborted());
  EXPECT_EQ((std::vector<std::string>{"child 1", "begin 1", "child 2", "page begin 2", "page end 2",
                                      "end child 2 page", "end 1", "end child 1"}),
            p.log.entries);
  EXPECT_EQ(u"", TakeThreadErrorDescription());
}

// A handler that lets the reader's activation fail: "Could not connect".
class FailingFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST(GrammarParser, ReaderThatCannotBeCreatedFails) {
  FailingFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_SAXXMLReader60, &factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));
  SAXSchemaParser::ReleaseSpareReader();
  SetRealFieldMessageParser p;
  HRESULT hr = Parse(p, u"<SetRealField/>");
  ASSERT_EQ(S_OK, CoRevokeClassObject(cookie));
  EXPECT_EQ(E_OUTOFMEMORY, hr);
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Could not connect to MSXML6::SAXXMLReader"));
  EXPECT_EQ(0, p.workerRuns);
  // The same parser works once the reader can be had again.
  EXPECT_EQ(S_OK, Parse(p, u"<SetRealField/>"));
  EXPECT_EQ(1, p.workerRuns);
}

// A scripted reader in place of the real one: its parse reports the events
// that the test lists to the handlers it was given and returns `result`.
// Model: a list of steps, each a start tag (with no attributes), an end tag
// or a fatal error; a handler's failure stops the script unless the reader
// is told to go on (as a reader that reports a second error would).
class ScriptedReader final : public ISAXXMLReader {
 public:
  struct Step {
    enum Kind { kStart, kEnd, kFatal } kind;
    const char16_t* text;
    HRESULT code;
  };
  std::vector<Step> steps;
  HRESULT result = S_OK;
  bool goOnAfterFailure = false;
  // Handed with every start tag (null: none).
  ISAXAttributes* attributes = nullptr;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ISAXXMLReader) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }  // lives on the test's stack
  HRESULT getFeature(const char16_t*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT putFeature(const char16_t*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT getProperty(const char16_t*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT putProperty(const char16_t*, VARIANT) override { return E_NOTIMPL; }
  HRESULT getContentHandler(ISAXContentHandler**) override { return E_NOTIMPL; }
  HRESULT putContentHandler(ISAXContentHandler* handler) override {
    content_ = handler;
    return S_OK;
  }
  HRESULT getErrorHandler(ISAXErrorHandler**) override { return E_NOTIMPL; }
  HRESULT putErrorHandler(ISAXErrorHandler* handler) override {
    errors_ = handler;
    return S_OK;
  }
  HRESULT parse(VARIANT) override {
    for (const Step& step : steps) {
      int n = static_cast<int>(std::char_traits<char16_t>::length(step.text));
      if (step.kind == Step::kStart) {
        HRESULT hr = content_->startElement(u"", 0, step.text, n, step.text, n, attributes);
        if (FAILED(hr) && !goOnAfterFailure) return hr;
      } else if (step.kind == Step::kEnd) {
        HRESULT hr = content_->endElement(u"", 0, step.text, n, step.text, n);
        if (FAILED(hr) && !goOnAfterFailure) return hr;
      } else {
        (void)errors_->fatalError(nullptr, step.text, step.code);
      }
    }
    return result;
  }
  HRESULT parseURL(const char16_t*) override { return E_NOTIMPL; }
  ULONG refs() const { return refs_; }

 private:
  ULONG refs_ = 0;
  ISAXContentHandler* content_ = nullptr;
  ISAXErrorHandler* errors_ = nullptr;
};

class ScriptedReaderFactory final : public IClassFactory {
 public:
  explicit ScriptedReaderFactory(ScriptedReader* reader) : reader_(reader) {}
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown*, REFIID iid, void** out) override {
    return reader_->QueryInterface(iid, out);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  ScriptedReader* reader_;
};

// Runs `parser` once on the scripted reader.
HRESULT ParseWithScript(SAXSchemaParser& parser, ScriptedReader& reader) {
  ScriptedReaderFactory factory(&reader);
  DWORD cookie = 0;
  SAXSchemaParser::ReleaseSpareReader();
  EXPECT_EQ(S_OK, CoRegisterClassObject(CLSID_SAXXMLReader60, &factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));
  HRESULT hr = Parse(parser, u"<ignored/>");
  SAXSchemaParser::ReleaseSpareReader();  // the scripted reader must not outlive the test
  EXPECT_EQ(S_OK, CoRevokeClassObject(cookie));
  return hr;
}

const HRESULT kFirst = static_cast<HRESULT>(0xC00CE511u);
const HRESULT kSecond = static_cast<HRESULT>(0xC00CE512u);

TEST(GrammarParserErrors, SecondReaderErrorDoesNotReplaceTheFirst) {
  ScriptedReader reader;
  reader.steps = {{ScriptedReader::Step::kFatal, u"first problem", kFirst},
                  {ScriptedReader::Step::kFatal, u"second problem", kSecond}};
  reader.result = kSecond;
  SetRealFieldMessageParser p;
  EXPECT_EQ(kFirst, ParseWithScript(p, reader));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"MSXML Fatal error: first problem"))
      << U8(description);
  EXPECT_EQ(std::u16string::npos, description.find(u"second")) << U8(description);
  EXPECT_EQ(0u, reader.refs());
}

TEST(GrammarParserErrors, ReaderErrorAfterAWorkerFailureIsIgnored) {
  ScriptedReader reader;
  reader.steps = {{ScriptedReader::Step::kStart, u"SetRealField", 0},
                  {ScriptedReader::Step::kEnd, u"SetRealField", 0},
                  {ScriptedReader::Step::kFatal, u"late problem", kSecond}};
  reader.goOnAfterFailure = true;
  reader.result = kSecond;
  SetRealFieldMessageParser p;
  p.worker = [](SetRealFieldMessageParser&) {
    return kx_set_error_info(E_ACCESSDENIED, u"worker said no", u"worker");
  };
  EXPECT_EQ(E_ACCESSDENIED, ParseWithScript(p, reader));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_NE(std::u16string::npos, description.find(u"worker said no")) << U8(description);
  EXPECT_EQ(std::u16string::npos, description.find(u"late problem")) << U8(description);
}

// A reader that reports an abort code as an error leaves the parse quiet.
TEST(GrammarParserErrors, AbortReportedAsReaderErrorEndsQuietly) {
  ScriptedReader reader;
  reader.steps = {{ScriptedReader::Step::kFatal, u"stopped", KXSAX_E_ABORT}};
  reader.result = KXSAX_E_ABORT;
  SetRealFieldMessageParser p;
  EXPECT_EQ(S_OK, ParseWithScript(p, reader));
  EXPECT_TRUE(p.WasAborted());
  EXPECT_EQ(u"", TakeThreadErrorDescription());
}

// An attribute list whose names and values are exactly as long as they
// are: no terminating zero follows them, as a reader may hand them out.
class UnterminatedAttributes final : public ISAXAttributes {
 public:
  void Add(std::u16string_view name, std::u16string_view value) {
    names_.push_back(Copy(name));
    values_.push_back(Copy(value));
  }
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT getLength(int* length) override {
    *length = static_cast<int>(names_.size());
    return S_OK;
  }
  HRESULT getURI(int, const char16_t**, int*) override { return E_NOTIMPL; }
  HRESULT getLocalName(int index, const char16_t** name, int* length) override {
    return Out(names_, index, name, length);
  }
  HRESULT getQName(int index, const char16_t** name, int* length) override {
    return Out(names_, index, name, length);
  }
  HRESULT getName(int, const char16_t**, int*, const char16_t**, int*, const char16_t**,
                  int*) override {
    return E_NOTIMPL;
  }
  HRESULT getIndexFromName(const char16_t*, int, const char16_t*, int, int*) override {
    return E_NOTIMPL;
  }
  HRESULT getIndexFromQName(const char16_t*, int, int*) override { return E_NOTIMPL; }
  HRESULT getType(int, const char16_t**, int*) override { return E_NOTIMPL; }
  HRESULT getTypeFromName(const char16_t*, int, const char16_t*, int, const char16_t**,
                          int*) override {
    return E_NOTIMPL;
  }
  HRESULT getTypeFromQName(const char16_t*, int, const char16_t**, int*) override {
    return E_NOTIMPL;
  }
  HRESULT getValue(int index, const char16_t** value, int* length) override {
    return Out(values_, index, value, length);
  }
  HRESULT getValueFromName(const char16_t*, int, const char16_t*, int, const char16_t**,
                           int*) override {
    return E_NOTIMPL;
  }
  HRESULT getValueFromQName(const char16_t*, int, const char16_t**, int*) override {
    return E_NOTIMPL;
  }

 private:
  using Text = std::pair<std::unique_ptr<char16_t[]>, int>;
  static Text Copy(std::u16string_view text) {
    auto block = std::make_unique<char16_t[]>(text.size());
    std::copy(text.begin(), text.end(), block.get());
    return {std::move(block), static_cast<int>(text.size())};
  }
  static HRESULT Out(const std::vector<Text>& list, int index, const char16_t** text, int* length) {
    if (index < 0 || static_cast<size_t>(index) >= list.size()) return E_INVALIDARG;
    *text = list[static_cast<size_t>(index)].first.get();
    *length = list[static_cast<size_t>(index)].second;
    return S_OK;
  }
  std::vector<Text> names_;
  std::vector<Text> values_;
};

// Attribute values are read by their length only: nothing past the value is
// touched (the sanitizer build reports a read past the block otherwise).
TEST(GrammarParser, AttributeValuesAreReadByTheirLength) {
  UnterminatedAttributes attributes;
  attributes.Add(u"FieldId", u"17");
  attributes.Add(u"Value", u"3.5");
  attributes.Add(u"Published", u"yes");
  ScriptedReader reader;
  reader.attributes = &attributes;
  reader.steps = {{ScriptedReader::Step::kStart, u"SetRealField", 0},
                  {ScriptedReader::Step::kEnd, u"SetRealField", 0}};
  SetRealFieldMessageParser p;
  ASSERT_EQ(S_OK, ParseWithScript(p, reader));
  EXPECT_EQ(17, p.fieldId);
  EXPECT_EQ(u"3.5", p.value.str());
  EXPECT_TRUE(p.published);
  EXPECT_EQ(1, p.workerRuns);
}

// ---------------------------------------------------------------------------
// A parser reused for many parses indexes its grammar's names. What it
// reads must not change: each text read by a parser reused for all of them
// gives what a fresh parser (a few lookups, no index) gives.
//
//   <Item Number="n" Name="s" On="b" Size="r"> <Part Name="s" N="n"/>
//   <Note>s</Note> <Dup/> </Item>

const GrammarRecord kIndexGrammar[] = {
    {kGrammarRoot, nullptr, 0},
    {kGrammarElement, u"Other", 5},  // "Name" of another element, listed first
    {kGrammarStringAttribute, u"Name", 17},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarElement, u"Dup", 6},  // not a child of "Item": it hides the second
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarElement, u"Item", 1},
    {kGrammarIntegerAttribute, u"Number", 10},
    {kGrammarStringAttribute, u"Name", 11},
    {kGrammarBooleanAttribute, u"On", 12},
    {kGrammarRealAttribute, u"Size", 13},
    {kGrammarIntegerAttribute, u"Name", 14},  // a second "Name": never chosen
    {kGrammarChild, nullptr, 2},
    {kGrammarChild, nullptr, 3},
    {kGrammarChild, nullptr, 7},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarElement, u"Part", 2},
    {kGrammarStringAttribute, u"Name", 15},
    {kGrammarIntegerAttribute, u"N", 16},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarStringElement, u"Note", 3},
    {kGrammarElement, u"Dup", 7},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarEnd, nullptr, 0},
};

class LoggingParser : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override { return kIndexGrammar; }
  HRESULT GetChildHandler(uint32_t id, SAXSchemaElementHandler** handler) override {
    log.push_back("child " + std::to_string(id));
    *handler = this;
    return S_OK;
  }
  HRESULT SetAttribute(uint32_t id, const SAXValue& v) override {
    log.push_back("attr " + Describe(id, v));
    return S_OK;
  }
  HRESULT SetElementValue(uint32_t id, const SAXValue& v) override {
    log.push_back("value " + Describe(id, v));
    return S_OK;
  }
  static std::string Describe(uint32_t id, const SAXValue& v) {
    std::string text = std::to_string(id) + " " + std::to_string(v.type) + " ";
    switch (v.type) {
      case kSAXString: text += U8(v.text); break;
      case kSAXReal: text += std::isnan(v.real) ? "nan" : std::to_string(v.real); break;
      case kSAXInteger: text += std::to_string(v.integer); break;
      default: text += std::to_string(v.boolean); break;
    }
    return text + (v.empty ? " empty" : "");
  }
  std::vector<std::string> log;
};

// The log of `text` parsed by `parser`, and the result with its description.
std::vector<std::string> Read(LoggingParser& parser, const std::u16string& text) {
  parser.log.clear();
  const HRESULT hr = Parse(parser, text);
  parser.log.push_back("hr " + std::to_string(hr) + " " + U8(TakeThreadErrorDescription()));
  return parser.log;
}

TEST(GrammarParser, AReusedParserReadsWhatAFreshOneReads) {
  const std::vector<std::u16string> texts = {
      u"<Item Number=\"12\" Name=\"pump\" On=\"yes\" Size=\"1.5\"/>",
      u"<Item Name=\"x\"><Part Name=\"p\" N=\"3\"/><Note>n</Note><Dup/></Item>",
      u"<Item><Other Name=\"o\"/><Part Number=\"1\" Nam=\"2\" Names=\"3\"/></Item>",
      u"<item NUMBER=\"4\" name=\"lower\"/>",
      u"<Item Number=\"-7\" Number2=\"1\"><Part N=\"0012\"/><Part N=\"\"/></Item>",
      u"<Part Name=\"top\"/>",
      u"<Item Size=\"x\" On=\"maybe\"><Note/><Note>a&amp;b</Note></Item>",
      u"<Item Number=\"2147483647\" Name=\"caf\u00e9\"/>",
      u"<Item Number=\"1\"",
  };
  for (bool noCase : {false, true}) {
    for (bool ignoreUnknown : {true, false}) {
      LoggingParser reused;
      reused.SetCompareNoCase(noCase);
      reused.SetIgnoreUnknown(ignoreUnknown);
      for (int round = 0; round < 3; ++round) {
        for (const std::u16string& text : texts) {
          LoggingParser fresh;
          fresh.SetCompareNoCase(noCase);
          fresh.SetIgnoreUnknown(ignoreUnknown);
          EXPECT_EQ(Read(fresh, text), Read(reused, text))
              << U8(text) << " noCase " << noCase << " ignoreUnknown " << ignoreUnknown << " round "
              << round;
        }
      }
    }
  }
}

// Integers of digits alone are read without the general conversion: the
// value is still the one it gives.
TEST(GrammarParser, IntegerAttributesReadAsTheConversionReadsThem) {
  LoggingParser p;
  for (const char16_t* text :
       {u"0", u"7", u"007", u"123456789", u"999999999", u"1234567890", u"2147483647", u"2147483648",
        u"-5", u"+5", u" 5", u"5x", u"", u"\u0661"}) {
    SAXValue expected;
    ASSERT_EQ(S_OK, ConvertTextToVariant(&expected, kSAXInteger, text));
    const std::vector<std::string> log =
        Read(p, u"<Item Number=\"" + std::u16string(text) + u"\"/>");
    ASSERT_GE(log.size(), 2u) << U8(text);
    EXPECT_EQ("attr " + LoggingParser::Describe(10, expected), log[1]) << U8(text);
  }
}

// Each run of ten digits of another script, to its last digit, and
// nothing beside it; a supplementary digit is read from its surrogate pair.
TEST(OtherScriptDigits, EveryRunOfTenAndNothingBeside) {
  for (const char16_t* digit : {u"\u0660", u"\u0669", u"\u0966", u"\uFF10", u"\uFF19",
                                u"\U0001D7CE", u"\U0001D7FF", u"\U0001FBF9"}) {
    EXPECT_TRUE(IsOtherScriptDigit(digit)) << U8(digit);
  }
  const char16_t loneHigh[] = {0xD835, 0};
  for (const char16_t* other : {u"0", u"9", u"a", u"", u"\u065F", u"\u066A", u"\uFF0F", u"\uFF1A",
                                u"\U0001D7CD", u"\U0001FBFA", loneHigh}) {
    EXPECT_FALSE(IsOtherScriptDigit(other)) << U8(other);
  }
  EXPECT_FALSE(IsOtherScriptDigit(nullptr));
}

class NoGrammarParser : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override { return nullptr; }
};

TEST(GrammarParser, ParserWithoutGrammarFails) {
  NoGrammarParser p;
  EXPECT_EQ(E_POINTER, Parse(p, u"<A/>"));
  EXPECT_NE(std::u16string::npos,
            TakeThreadErrorDescription().find(u"Failed to instanciate SAXSchemaParser"));
}

}  // namespace
