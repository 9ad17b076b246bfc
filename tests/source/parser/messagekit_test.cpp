// The message kit through the real SAX reader: grammars written with the
// Grammar helpers, a parser with a repeated child element and text-value
// elements, and the handler frame, on a small module of the test's own.
#include "messagekit.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "kxtrace.h"
#include "parsertestutil.h"

using kx::test::TakeThreadErrorDescription;
using kx::test::U8;

namespace {

class PagesModule;
using PagesParser = KXMessageParser<PagesModule>;

// The module: runs each worker it is asked to, logging the element.
class PagesModule {
 public:
  HRESULT RunWorker(PagesParser& request, uint32_t element) {
    elements.push_back(element);
    return request.RunWork(element);
  }
  std::vector<uint32_t> elements;
  std::vector<std::string> work;
  // The worker of the child with this object id fails.
  int32_t failingObject = 0;
};

// An "InsertPages"-like message whose grammar numbers its child element
// first, so that the envelope's value ids are not 2 and 3.
class InsertPagesSchema : public PagesParser {
 public:
  enum Id : uint32_t { Page = 2, TargetId, Status, PageId, Before, ObjectId, TemplateId, Note };
  using PagesParser::PagesParser;
  const GrammarRecord* GetSchema() const override;
};

class InsertPagesParser final : public InsertPagesSchema {
 public:
  using InsertPagesSchema::InsertPagesSchema;

  HRESULT SetValue(uint32_t id, const SAXValue& value) override {
    switch (id) {
      case PageId: return Store(m_pageId, value);
      case Before: return Store(m_before, value);
      case ObjectId: return Store(m_objectId, value);
      case TemplateId: return Store(m_templateId, value);
      case Note: m_notes.push_back(value.integer); return S_OK;
      default: return E_INVALIDARG;
    }
  }
  // One call per "Page", then the per-page values start afresh.
  HRESULT WorkChild(uint32_t element) override {
    if (element != Page) return E_INVALIDARG;
    m_pMain->work.push_back("page " + std::to_string(m_objectId) + " " +
                            U8(m_templateId.IsNull() ? u"<null>" : m_templateId.str()) + " after " +
                            std::to_string(m_pageId));
    const bool fail = m_objectId == m_pMain->failingObject;
    m_objectId = -1;
    m_templateId.Reset();
    if (fail) return kx_set_error_info(E_ACCESSDENIED, u"page refused", u"test");
    return S_OK;
  }
  HRESULT Work() override {
    std::string notes;
    for (int32_t note : m_notes) notes += " " + std::to_string(note);
    m_pMain->work.push_back("message " + U8(m_targetId.IsNull() ? u"<null>" : m_targetId.str()) +
                            " status " + std::to_string(m_status) + " before " +
                            std::to_string(m_before) + " notes" + notes);
    return S_OK;
  }
  void ForgetEntries() override { m_notes.clear(); }

  int32_t m_pageId = -1;
  bool m_before = false;
  int32_t m_objectId = -1;
  SAXText m_templateId;
  std::vector<int32_t> m_notes;
};

using P = InsertPagesSchema;
constexpr auto kInsertPagesGrammar =
    Grammar::Table(Grammar::Envelope(P::TargetId, P::Status),
                   Grammar::Element(u"InsertPages", 1,
                                    {Grammar::Integer(u"PageId", P::PageId),
                                     Grammar::Boolean(u"Before", P::Before),
                                     Grammar::Child(P::Page), Grammar::Child(P::Note)}),
                   Grammar::Element(u"Page", P::Page,
                                    {Grammar::Integer(u"ObjectId", P::ObjectId),
                                     Grammar::String(u"TemplateId", P::TemplateId)}),
                   Grammar::IntegerElement(u"Note", P::Note));

const GrammarRecord* InsertPagesSchema::GetSchema() const { return kInsertPagesGrammar.data(); }

// As the host calls a handler: the request text is a BSTR.
HRESULT Serve(PagesModule& module, const char16_t* request) {
  const kx::test::Bstr text(request);
  return ServeMessage<InsertPagesParser>(module, u"Test::InsertPages", text);
}

TEST(MessageKitGrammar, TablesHaveTheRecordLayoutOfHandWrittenOnes) {
  const GrammarRecord expected[] = {
      {kGrammarRoot, nullptr, 0},
      {kGrammarElement, u"XMLMessage", 0},
      {kGrammarStringAttribute, u"TargetId", 3},
      {kGrammarIntegerAttribute, u"Status", 4},
      {kGrammarChild, nullptr, 1},
      {kGrammarElementEnd, nullptr, 0},
      {kGrammarElement, u"InsertPages", 1},
      {kGrammarIntegerAttribute, u"PageId", 5},
      {kGrammarBooleanAttribute, u"Before", 6},
      {kGrammarChild, nullptr, 2},
      {kGrammarChild, nullptr, 9},
      {kGrammarElementEnd, nullptr, 0},
      {kGrammarElement, u"Page", 2},
      {kGrammarIntegerAttribute, u"ObjectId", 7},
      {kGrammarStringAttribute, u"TemplateId", 8},
      {kGrammarElementEnd, nullptr, 0},
      {kGrammarIntegerElement, u"Note", 9},
      {kGrammarEnd, nullptr, 0},
  };
  ASSERT_EQ(kInsertPagesGrammar.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(kInsertPagesGrammar[i].kind, expected[i].kind) << i;
    EXPECT_EQ(kInsertPagesGrammar[i].id, expected[i].id) << i;
    EXPECT_EQ(kInsertPagesGrammar[i].name == nullptr, expected[i].name == nullptr) << i;
    if (expected[i].name != nullptr && kInsertPagesGrammar[i].name != nullptr) {
      EXPECT_EQ(std::u16string(kInsertPagesGrammar[i].name), expected[i].name) << i;
    }
  }
}

TEST(MessageKitGrammar, SeveralMessageElementsInOneEnvelope) {
  constexpr auto envelope = Grammar::Envelope(2, 3, {1u, 2u, 3u});
  ASSERT_EQ(envelope.size(), 7u);
  EXPECT_EQ(envelope[3].kind, kGrammarChild);
  EXPECT_EQ(envelope[5].id, 3u);
  EXPECT_EQ(envelope[6].kind, kGrammarElementEnd);
}

TEST(MessageKit, EachRepeatedChildRunsItsWorkerInOrderThenTheMessageWorker) {
  PagesModule module;
  ASSERT_EQ(
      Serve(module,
            u"<XMLMessage TargetId=\"31\" Status=\"1\"><InsertPages PageId=\"12\" Before=\"0\">"
            u"<Page ObjectId=\"7\" TemplateId=\"A\"/><Note>4</Note><Page TemplateId=\"B\"/>"
            u"<Note>5</Note><Page ObjectId=\"9\"/></InsertPages></XMLMessage>"),
      S_OK)
      << U8(TakeThreadErrorDescription());
  EXPECT_EQ(module.elements, (std::vector<uint32_t>{2, 2, 2, 1}));
  EXPECT_EQ(module.work, (std::vector<std::string>{"page 7 A after 12", "page -1 B after 12",
                                                   "page 9 <null> after 12",
                                                   "message 31 status 1 before 0 notes 4 5"}));
}

TEST(MessageKit, EachMessageElementRunsWithItsOwnEntriesAndTheValuesBeforeIt) {
  PagesModule module;
  ASSERT_EQ(
      Serve(module,
            u"<XMLMessage TargetId=\"31\" Status=\"1\"><InsertPages Before=\"1\"><Note>4</Note>"
            u"<Note>6</Note></InsertPages><InsertPages><Page "
            u"ObjectId=\"7\"/><Note>5</Note></InsertPages>"
            u"</XMLMessage>"),
      S_OK)
      << U8(TakeThreadErrorDescription());
  EXPECT_EQ(module.work, (std::vector<std::string>{"message 31 status 1 before 1 notes 4 6",
                                                   "page 7 <null> after -1",
                                                   "message 31 status 1 before 1 notes 5"}));
}

TEST(MessageKit, EnvelopeValuesOnlyFromTheEnvelope) {
  PagesModule module;
  // "TargetId" on the message element is not the envelope's; ids 2 and 3
  // are not the envelope's values in this grammar.
  ASSERT_EQ(Serve(module, u"<InsertPages TargetId=\"x\" Status=\"5\"/>"), S_OK);
  EXPECT_EQ(module.work, (std::vector<std::string>{"message <null> status -1 before 0 notes"}));
}

TEST(MessageKit, FailedChildWorkerStopsTheParseWithItsDescription) {
  PagesModule module;
  module.failingObject = 8;
  const HRESULT hr = Serve(module,
                           u"<XMLMessage><InsertPages><Page ObjectId=\"7\"/><Page ObjectId=\"8\"/>"
                           u"<Page ObjectId=\"9\"/></InsertPages></XMLMessage>");
  EXPECT_EQ(hr, E_ACCESSDENIED);
  const std::string error = U8(TakeThreadErrorDescription());
  EXPECT_EQ(error.rfind("<KXError ", 0), 0u) << error;
  EXPECT_NE(error.find("page refused"), std::string::npos) << error;
  // The pages before the failure were worked; nothing after it.
  EXPECT_EQ(module.work,
            (std::vector<std::string>{"page 7 <null> after -1", "page 8 <null> after -1"}));
}

TEST(MessageKit, MalformedRequestRunsNoWorker) {
  PagesModule module;
  const HRESULT hr = Serve(module, u"<XMLMessage><InsertPages><Page ObjectId=\"7\">");
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(U8(TakeThreadErrorDescription()).find("MSXML"), std::string::npos);
  EXPECT_TRUE(module.work.empty());
}

TEST(MessageKit, ParserHandsItselfOutForItsOwnElementsOnly) {
  PagesModule module;
  InsertPagesParser parser(&module);
  SAXSchemaElementHandler* handler = nullptr;
  EXPECT_EQ(parser.GetChildHandler(InsertPagesParser::Page, &handler), S_OK);
  EXPECT_EQ(handler, &parser);
  handler = nullptr;
  EXPECT_EQ(parser.GetChildHandler(InsertPagesParser::PageId, &handler), E_INVALIDARG);
  EXPECT_EQ(handler, nullptr);
  EXPECT_EQ(parser.EndElement(InsertPagesParser::Before), E_INVALIDARG);
  EXPECT_EQ(parser.EndElement(0), S_OK);
  SAXValue value;
  EXPECT_EQ(parser.SetAttribute(99, value), E_INVALIDARG);
  EXPECT_TRUE(module.work.empty());
}

}  // namespace

namespace {

// The frame of a handler without grammar.
TEST(MessageKitFrame, AnswersSuccessOrTheFailureWithItsChain) {
  EXPECT_EQ(ServeRequest(u"Test::Quiet", [](KXComException&) { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(ServeRequest(u"Test::Done", [](KXComException&) { return S_OK; }), S_OK);
  EXPECT_EQ(ServeRequest(u"Test::Thrown",
                         [](KXComException& ctx) -> HRESULT {
                           ThrowKXComExceptionHrAt(ctx, KX_HERE(u"test/frame"), E_INVALIDARG,
                                                   u"Bad id %d", 7);
                         }),
            E_INVALIDARG);
  std::string error = U8(TakeThreadErrorDescription());
  EXPECT_EQ(error.rfind("<KXError Desc=\"Bad id 7\"", 0), 0u) << error;
  EXPECT_EQ(ServeRequest(u"Test::Returned",
                         [](KXComException&) {
                           return kx_set_error_info(E_ACCESSDENIED, u"refused", u"test");
                         }),
            E_ACCESSDENIED);
  error = U8(TakeThreadErrorDescription());
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

// The frame's options: a returned failure passed on as it is, an unknown
// exception answered at the frame, failures located at the given file.
TEST(MessageKitFrame, OptionsKeepTheChainOrAnswerUnknownExceptions) {
  const auto refuse = [](KXComException&) {
    return kx_set_error_info(E_ACCESSDENIED, u"refused", u"test");
  };
  EXPECT_EQ(ServeRequest(u"Test::Passed", {.passReturnedFailure = true}, refuse), E_ACCESSDENIED);
  EXPECT_EQ(U8(TakeThreadErrorDescription()), "refused");
  EXPECT_EQ(ServeRequest(u"Test::Chained", refuse), E_ACCESSDENIED);
  EXPECT_EQ(U8(TakeThreadErrorDescription()).rfind("<KXError Desc=\"refused\"", 0), 0u);

  const auto boom = [](KXComException&) -> HRESULT { throw std::runtime_error("boom"); };
  EXPECT_THROW((void)ServeRequest(u"Test::Rethrown", boom), std::runtime_error);
  EXPECT_EQ(ServeRequest(u"Test::Boundary", {.file = u"test/dir/frame", .boundary = true}, boom),
            E_UNEXPECTED);
  const std::string error = U8(TakeThreadErrorDescription());
  EXPECT_EQ(error.rfind("<KXError Desc=\"Unhandled exception: boom\"", 0), 0u) << error;
  EXPECT_NE(error.find("File=\"dir/frame\""), std::string::npos) << error;
}

// The entry lines the tracer writes, for as long as it lives.
class EntryLines final : public KXCETracerHook {
 public:
  EntryLines() : saved_(GetTracer()) {
    GetTracer() = Tracer{.level = kTraceLevelHigh, .hook = this};
  }
  ~EntryLines() { GetTracer() = saved_; }
  void Write(const OLECHAR* text) override { text_ += U8(text); }
  bool Entered(const std::string& name) const {
    return text_.find(">>>> Enter " + name + "()") != std::string::npos;
  }
  const std::string& text() const { return text_; }

 private:
  Tracer saved_;
  std::string text_;
};

std::string TakeThreadErrorSource() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "";
  BSTR source = nullptr;
  (void)info->GetSource(&source);
  const std::string text = U8(source != nullptr ? source : u"");
  SysFreeString(source);
  info->Release();
  return text;
}

// The frames of inner steps: a silent one names its method in the failure
// but writes no entry line, an entry line below the tracer's level is not
// written, and an absorbed failure leaves nothing behind.
TEST(MessageKitFrame, SilentLowSeverityAndAbsorbingFramesAsTheirContexts) {
  const auto refuse = [](KXComException&) {
    return kx_set_error_info(E_ACCESSDENIED, u"refused", u"test");
  };
  EntryLines lines;
  EXPECT_EQ(ServeRequest(u"Test::Silent", {.silent = true}, refuse), E_ACCESSDENIED);
  EXPECT_EQ(TakeThreadErrorSource(), "Test::Silent");
  EXPECT_FALSE(lines.Entered("Test::Silent"));
  EXPECT_EQ(ServeRequest(u"Test::Traced", refuse), E_ACCESSDENIED);
  EXPECT_EQ(TakeThreadErrorSource(), "Test::Traced");
  EXPECT_TRUE(lines.Entered("Test::Traced"));
  EXPECT_EQ(ServeRequest(u"Test::Detail", {.severity = 0}, refuse), E_ACCESSDENIED);
  EXPECT_EQ(TakeThreadErrorSource(), "Test::Detail");
  EXPECT_FALSE(lines.Entered("Test::Detail"));

  EXPECT_EQ(ServeRequest(u"Test::Absorbed", {.absorbFailure = true}, refuse), S_OK);
  EXPECT_EQ(U8(TakeThreadErrorDescription()), "");
  const auto boom = [](KXComException&) -> HRESULT { throw std::runtime_error("boom"); };
  EXPECT_THROW((void)ServeRequest(u"Test::Unknown", {.absorbFailure = true}, boom),
               std::runtime_error);
}

// A silent frame writes no entry line, yet names its method: a failure is
// reported again under the name, in front of the chain it came with.
TEST(MessageKitFrame, SilentFrameNamesItsMethodWithoutEntryLine) {
  EntryLines lines;
  const auto refuse = [](KXComException&) {
    return kx_set_error_info(E_ACCESSDENIED, u"refused by the store", u"test");
  };
  const HRESULT named = ServeRequest(u"Test::Worker", {.silent = true}, refuse);
  const std::string error = U8(TakeThreadErrorDescription());
  const HRESULT unnamed = ServeRequest(nullptr, {.silent = true}, refuse);
  const std::string plain = U8(TakeThreadErrorDescription());
  EXPECT_EQ(named, E_ACCESSDENIED);
  EXPECT_EQ(unnamed, E_ACCESSDENIED);
  EXPECT_EQ(lines.text().find("Enter"), std::string::npos) << lines.text();
  EXPECT_NE(error.find("/>\r\n<KXError Desc=\"refused by the store\" Src=\"test\""),
            std::string::npos)
      << error;
  EXPECT_EQ(plain.rfind("<KXError Desc=\"refused by the store\" Src=\"test\"", 0), 0u) << plain;
  EXPECT_EQ(plain.find("\r\n"), std::string::npos) << plain;
}

}  // namespace
