// How failures end a parse: a handler's result, an exception in a handler,
// and malformed XML reported to the error handler.
#include <cstdint>
#include <string>

#include "recorder.h"

namespace kx::msxml::test {
namespace {

constexpr HRESULT kAbort = static_cast<HRESULT>(0x8004C001);
constexpr char kDoc[] = "<m a=\"1\"><x>text</x><y/></m>";

using HandlerFailureTest = SaxTest;

TEST_F(HandlerFailureTest, StartElementFailureStopsTheParseWithItsCode) {
  rec_->fail_on = "startElement";
  rec_->fail_at = 2;
  rec_->fail_with = E_INVALIDARG;
  EXPECT_EQ(E_INVALIDARG, Parse(kDoc));
  // Nothing after the failing call, and no error report: the failure is the
  // handler's own.
  EXPECT_EQ(rec_->Trace(), "putDocumentLocator\nstartDocument\nstart(m)[a=1]\nFAIL start(x)\n");
}

TEST_F(HandlerFailureTest, AbortCodePassesThroughUnchanged) {
  rec_->fail_on = "endElement";
  rec_->fail_with = kAbort;
  EXPECT_EQ(kAbort, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "FAIL end(x)");
  EXPECT_EQ(rec_->fatal_count, 0);
}

TEST_F(HandlerFailureTest, CharactersFailureStopsBeforeTheNextEvent) {
  rec_->fail_on = "characters";
  rec_->fail_with = E_ABORT;
  EXPECT_EQ(E_ABORT, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "FAIL text(text)");
}

TEST_F(HandlerFailureTest, StartDocumentFailureParsesNothing) {
  rec_->fail_on = "startDocument";
  rec_->fail_with = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, Parse(kDoc));
  EXPECT_EQ(rec_->Trace(), "putDocumentLocator\nFAIL startDocument\n");
}

TEST_F(HandlerFailureTest, EndDocumentFailureIsReturned) {
  rec_->fail_on = "endDocument";
  rec_->fail_with = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, Parse(kDoc));
}

TEST_F(HandlerFailureTest, SuccessCodesOtherThanSOkDoNotStop) {
  rec_->fail_on = "startElement";
  rec_->fail_with = S_FALSE;
  EXPECT_EQ(S_OK, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "endDocument");
}

TEST_F(HandlerFailureTest, ExceptionInAHandlerBecomesEFail) {
  rec_->fail_on = "startElement";
  rec_->fail_at = 2;
  rec_->throw_what = "runtime";
  EXPECT_EQ(E_FAIL, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "FAIL start(x)");
}

TEST_F(HandlerFailureTest, BadAllocInAHandlerBecomesEOutOfMemory) {
  rec_->fail_on = "characters";
  rec_->throw_what = "bad_alloc";
  EXPECT_EQ(E_OUTOFMEMORY, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "FAIL text(text)");
}

TEST_F(HandlerFailureTest, FailureInTheLastEndElementIsReturned) {
  rec_->fail_on = "endElement";
  rec_->fail_at = 3;
  rec_->fail_with = E_NOTIMPL;
  EXPECT_EQ(E_NOTIMPL, Parse(kDoc));
  EXPECT_EQ(rec_->events.back(), "FAIL end(m)");
}

using MalformedTest = SaxTest;

TEST_F(MalformedTest, ReachesFatalErrorWithExpatsTextAndPosition) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a>\n  <b>x</c>\n</a>"));
  EXPECT_EQ(rec_->fatal_count, 1);
  EXPECT_EQ(rec_->code, KXSAX_E_MALFORMED);
  EXPECT_EQ(rec_->message, "mismatched tag");
  EXPECT_EQ(rec_->line, 2);
  EXPECT_EQ(rec_->column, 9);  // the "</c>" tag, 1-based
  EXPECT_EQ(rec_->events.back(), "fatal(C00CE501)");
}

TEST_F(MalformedTest, PositionOnTheFirstLineIsOneBased) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a b=1/>"));
  EXPECT_EQ(rec_->message, "not well-formed (invalid token)");
  EXPECT_EQ(rec_->line, 1);
  EXPECT_EQ(rec_->column, 6);
}

TEST_F(MalformedTest, EmptyTextIsAnError) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse(""));
  EXPECT_EQ(rec_->message, "no element found");
}

TEST_F(MalformedTest, TruncatedTextIsAnErrorAfterTheEventsBeforeIt) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a><b x=\"1\">tex"));
  EXPECT_EQ(rec_->message, "no element found");
  EXPECT_EQ(rec_->Trace(),
            "putDocumentLocator\nstartDocument\nstart(a)\nstart(b)[x=1]\nfatal(C00CE501)\n");
}

TEST_F(MalformedTest, UndeclaredEntityIsAnError) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a>&nbsp;</a>"));
  EXPECT_EQ(rec_->message, "undefined entity");
}

TEST_F(MalformedTest, NulCharacterIsAnError) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse(std::u16string_view(u"<a>x\0y</a>", 10)));
  EXPECT_EQ(rec_->column, 5);
}

TEST_F(MalformedTest, DuplicateAttributeIsAnError) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a x=\"1\" x=\"2\"/>"));
  EXPECT_EQ(rec_->message, "duplicate attribute");
}

TEST_F(MalformedTest, ADifferentFailureFromTheErrorHandlerIsReturned) {
  rec_->fatal_returns = E_ABORT;
  EXPECT_EQ(E_ABORT, Parse("<a>"));
  rec_->fatal_returns = KXSAX_E_MALFORMED;
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a>"));
  rec_->fatal_returns = kAbort;
  EXPECT_EQ(kAbort, Parse("<a>"));
}

TEST_F(MalformedTest, WithoutAnErrorHandlerTheCodeIsStillReturned) {
  ASSERT_EQ(S_OK, reader_->putErrorHandler(nullptr));
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a></b>"));
  EXPECT_EQ(rec_->fatal_count, 0);
}

TEST_F(MalformedTest, OnlyOneFatalErrorPerParse) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a><b></a></b><<<"));
  EXPECT_EQ(rec_->fatal_count, 1);
}

TEST_F(MalformedTest, TextAfterTheDocumentElementIsAnError) {
  EXPECT_EQ(KXSAX_E_MALFORMED, Parse("<a/><b/>"));
  EXPECT_EQ(rec_->message, "junk after document element");
  EXPECT_EQ(rec_->column, 5);
}

// Damaged variants of a request, deterministic: whatever the damage, a parse
// either succeeds and ends with endDocument, or fails with exactly one
// fatalError whose code is the one returned.
TEST_F(MalformedTest, EveryDamagedRequestEndsInOneOutcome) {
  const std::u16string base =
      u"<?xml version=\"1.0\"?><XMLMessage TargetId=\"T\" Status=\"1\">"
      u"<SetRealField PageId=\"12\" Value=\"1.5 &amp; \u00e9\"><![CDATA[x<y]]>&#x1D11E;"
      u"</SetRealField><?pi data?><!-- c --></XMLMessage>";
  const char16_t noise[] = {u'<', u'>', u'&',  u';',   u'"',   u'/',   u'!',      u'[',
                            u'=', u' ', u'\0', 0xD800, 0xDC00, 0xFFFE, u'\u00e9', u'a'};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int round = 0; round < 3000; ++round) {
    std::u16string doc = base;
    const int edits = 1 + static_cast<int>(next() % 3);
    for (int k = 0; k < edits; ++k) {
      const std::size_t at = next() % (doc.size() + 1);
      switch (next() % 3) {
        case 0:
          doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(at), noise[next() % 16]);
          break;
        case 1:
          if (at < doc.size()) doc.erase(at, 1 + next() % 8);
          break;
        default: doc.resize(at);
      }
    }
    rec_->events.clear();
    rec_->fatal_count = 0;
    const HRESULT hr = Parse(std::u16string_view(doc));
    if (SUCCEEDED(hr)) {
      ASSERT_EQ(hr, S_OK);
      ASSERT_EQ(rec_->fatal_count, 0) << round;
      ASSERT_EQ(rec_->events.back(), "endDocument") << round;
    } else {
      ASSERT_EQ(rec_->fatal_count, 1) << round;
      ASSERT_EQ(rec_->code, hr) << round;
    }
  }
}

}  // namespace
}  // namespace kx::msxml::test
