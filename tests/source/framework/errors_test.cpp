// Error reporting: "<KXError" chains as they travel from a failing call
// through the catch clauses of the methods above it.
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "support/frameworktestsupport.h"

namespace {

using kx::test::Narrow;
using kx::test::SplitChain;
using kx::test::TakeThreadErrorDescription;

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/annotations";

class ErrorReporting : public ::testing::Test {
 protected:
  void SetUp() override { ClearThreadErrorInfo(); }
  void TearDown() override { ClearThreadErrorInfo(); }
  kx::test::ScopedTraceCapture trace_{kTraceLevelNormal};
};

// A store call that fails with a plain-text description.
HRESULT FailingStoreCall() {
  kx::test::SetThreadError(u"The attribute store went away", u"KXQStore.Object");
  return E_FAIL;
}

HRESULT HandlerWithFailingCall() {
  KXComException ctx(u"KXDBDatasheetSvcs::CreateAnnotation");
  try {
    KX_CHECK(ctx, FailingStoreCall());
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, PlainTextFailureGivesReportAndConversionElements) {
  EXPECT_EQ(HandlerWithFailingCall(), E_FAIL);
  const std::u16string chain = TakeThreadErrorDescription();
  EXPECT_EQ(
      Narrow(chain),
      "<KXError Desc=\"The attribute store went away\" HR=\"E_FAIL\" />\r\n"
      "<KXError Desc=\"The attribute store went away\" Src=\"KXQStore.Object\" HR=\"E_FAIL\" />");
}

TEST_F(ErrorReporting, ThreadErrorCarriesMethodNameAsSource) {
  ASSERT_EQ(HandlerWithFailingCall(), E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR source = nullptr;
  info->GetSource(&source);
  EXPECT_EQ(Narrow(source), "KXDBDatasheetSvcs::CreateAnnotation");
  SysFreeString(source);
  info->Release();
}

int g_innerLine = 0;

void InnerThrowsWithMarkup() {
  KXComException ctx(u"KXDBDatasheetSvcs::GetPageTemplate");
  g_innerLine = __LINE__ + 1;
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                          u"Unexpected element <%ls> in \"%ls\" & more", u"Foo", u"Bar");
}

HRESULT OuterMethod() {
  KXComException ctx(u"KXDBDatasheetSvcs::OpenPage");
  try {
    InnerThrowsWithMarkup();
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, LayersAddElementsInFrontRepeatingInnermostDesc) {
  EXPECT_EQ(OuterMethod(), E_INVALIDARG);
  const auto elements = SplitChain(TakeThreadErrorDescription());
  ASSERT_EQ(elements.size(), 2u);
  const std::string escaped = "Unexpected element &lt;Foo&gt; in 'Bar' &amp; more";
  EXPECT_EQ(Narrow(elements[0]), "<KXError Desc=\"" + escaped + "\" HR=\"E_INVALIDARG\" />");
  EXPECT_EQ(Narrow(elements[1]),
            "<KXError Desc=\"" + escaped +
                "\" HR=\"E_INVALIDARG\" File=\"kxdbdatasheetsvcs/annotations\" Line=\"" +
                std::to_string(g_innerLine) + "\" />");
}

// A wrapped call with a message or a location gives the chain that taking
// the thread's information and throwing by hand gave.
template <class Check>
std::u16string ChainOf(Check&& check) {
  KXComException ctx(u"KXDBDatasheetSvcs::GetTemplateFile");
  try {
    check(ctx, FailingStoreCall());
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  EXPECT_EQ(ctx.Return(), E_FAIL);
  return TakeThreadErrorDescription();
}

TEST_F(ErrorReporting, WrappedCallWithMessageOrLocationMatchesTheLongHand) {
  const std::u16string message = ChainOf([](KXComException& ctx, HRESULT hr) {
    KX_CHECK(ctx, hr, u"Unable to find template %ls", u"T-9");
  });
  EXPECT_EQ(
      Narrow(message),
      "<KXError Desc=\"Unable to find template T-9\" HR=\"E_FAIL\" />\r\n"
      "<KXError Desc=\"The attribute store went away\" Src=\"KXQStore.Object\" HR=\"E_FAIL\" />");
  EXPECT_EQ(message, ChainOf([](KXComException& ctx, HRESULT hr) {
              ctx.hr = hr;
              ctx.TakeThreadErrorInfo();
              ThrowIfFailed(ctx, u"Unable to find template %ls", u"T-9");
            }));
  const SourceLocation here = KX_HERE(kFile);
  const std::u16string located =
      ChainOf([&](KXComException& ctx, HRESULT hr) { KX_CHECK(ctx, hr, here); });
  EXPECT_NE(Narrow(located).find("File=\"kxdbdatasheetsvcs/annotations\" Line=\"" +
                                 std::to_string(here.line) + "\""),
            std::string::npos)
      << Narrow(located);
  EXPECT_EQ(located, ChainOf([&](KXComException& ctx, HRESULT hr) {
              ctx.hr = hr;
              ctx.TakeThreadErrorInfo();
              ThrowKXComException(ctx, here, nullptr);
            }));
  // A success throws nothing, whatever follows the call.
  KXComException ctx(u"Test::Fine");
  KX_CHECK(ctx, S_OK, u"never %ls", u"shown");
  KX_CHECK(ctx, S_FALSE, here);
}

TEST_F(ErrorReporting, ThreadErrorTextIsTakenOffTheThread) {
  EXPECT_EQ(TakeThreadErrorText(), u"");
  ASSERT_EQ(FailingStoreCall(), E_FAIL);
  EXPECT_EQ(Narrow(TakeThreadErrorText()), "The attribute store went away");
  EXPECT_EQ(TakeThreadErrorText(), u"");
}

TEST_F(ErrorReporting, DescriptionIsDecodedBackToTheOriginalText) {
  ASSERT_EQ(OuterMethod(), E_INVALIDARG);
  const std::u16string chain = TakeThreadErrorDescription();
  BSTR desc = GetErrorDescription(chain.c_str());
  EXPECT_EQ(Narrow(desc), "Unexpected element <Foo> in 'Bar' & more");
  SysFreeString(desc);
}

TEST_F(ErrorReporting, FileIsLastTwoComponentsOfEitherSeparator) {
  KXComException ctx = KXComException::Silent();
  const SourceLocation windowsPath{u"source\\globalinclude\\saxschemaparser", 7};
  ReportComError(ctx, &windowsPath, E_FAIL, u"x");
  const std::u16string text = TakeThreadErrorDescription();
  EXPECT_NE(text.find(u"File=\"globalinclude\\saxschemaparser\" Line=\"7\""), std::u16string::npos)
      << Narrow(text);
  const SourceLocation bare{u"main", 12};
  KXComException other = KXComException::Silent();
  ReportComError(other, &bare, E_FAIL, u"x");
  EXPECT_NE(TakeThreadErrorDescription().find(u"File=\"main\" Line=\"12\""), std::u16string::npos);
}

TEST_F(ErrorReporting, KXErrorDescriptionPassesSetKXErrorInfoUnchanged) {
  const char16_t* chain = u"<KXError Desc=\"Inner\" HR=\"0x8004c001\" />";
  kx::test::SetThreadError(chain, u"Somewhere");
  KXComException ctx = KXComException::Silent();
  ctx.hr = static_cast<HRESULT>(0x8004C001);
  ctx.TakeThreadErrorInfo();
  EXPECT_EQ(SetKXErrorInfo(ctx), static_cast<HRESULT>(0x8004C001));
  EXPECT_EQ(TakeThreadErrorDescription(), chain);
}

TEST_F(ErrorReporting, WrappedCallWithoutNameKeepsCalleeChain) {
  const char16_t* chain = u"<kxerror Desc=\"Lower case tag\" HR=\"E_FAIL\" />";
  KXComException ctx = KXComException::Silent();
  try {
    kx::test::SetThreadError(chain, u"Callee");
    CheckResult(ctx, E_FAIL);
    FAIL() << "no exception";
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, E_FAIL);
  }
  EXPECT_EQ(TakeThreadErrorDescription(), chain);
}

TEST_F(ErrorReporting, WrappedCallWithoutNameConvertsPlainText) {
  KXComException ctx = KXComException::Silent();
  EXPECT_THROW(
      {
        kx::test::SetThreadError(u"Say \"cheese\" <now>", u"Camera");
        CheckResult(ctx, E_NOTIMPL);
      },
      KXComException);
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()),
            "<KXError Desc=\"Say 'cheese' &lt;now&gt;\" Src=\"Camera\" HR=\"E_NOTIMPL\" />");
}

TEST_F(ErrorReporting, SuccessfulWrappedCallDropsContextInfoOnly) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::X");
  kx::test::SetThreadError(u"Unrelated", u"Elsewhere");
  EXPECT_NO_THROW(CheckResult(ctx, S_FALSE));
  EXPECT_EQ(ctx.hr, S_OK);
  EXPECT_EQ(ctx.errorInfo, nullptr);
}

TEST_F(ErrorReporting, HResultNames) {
  const struct {
    HRESULT hr;
    const char* name;
  } cases[] = {{E_ACCESSDENIED, "E_ACCESSDENIED"},
               {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
               {E_INVALIDARG, "E_INVALIDARG"},
               {E_UNEXPECTED, "E_UNEXPECTED"},
               {E_NOTIMPL, "E_NOTIMPL"},
               {E_NOINTERFACE, "E_NOINTERFACE"},
               {E_POINTER, "E_POINTER"},
               {E_FAIL, "E_FAIL"},
               {static_cast<HRESULT>(0x8004C001), "0x8004c001"},
               {DISP_E_TYPEMISMATCH, "0x80020005"},
               {1, "0x1"},
               {0, "0x0"}};
  for (const auto& c : cases) {
    OLECHAR name[16];
    FormatHResultName(c.hr, name);
    EXPECT_EQ(Narrow(name), c.name);
  }
}

TEST_F(ErrorReporting, SystemTextsAndUnknownCodes) {
  BSTR known = GetHResultMessage(E_OUTOFMEMORY);
  const std::u16string text(known);
  SysFreeString(known);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), u'\n');
  EXPECT_NE(text.back(), u'\r');
  BSTR unknown = GetHResultMessage(static_cast<HRESULT>(0x8123ABCD));
  EXPECT_EQ(Narrow(unknown), "Unknown error 0x8123ABCD");
  SysFreeString(unknown);
}

TEST_F(ErrorReporting, FailureWithoutMessageUsesSystemText) {
  KXComException ctx(u"KXDBDatasheetSvcs::OpenPage");
  EXPECT_THROW(
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), static_cast<HRESULT>(0x8004C001), nullptr),
      KXComException);
  const std::u16string chain = TakeThreadErrorDescription();
  EXPECT_EQ(chain.rfind(u"<KXError Desc=\"Unknown error 0x8004C001\" HR=\"0x8004c001\" File=", 0),
            0u)
      << Narrow(chain);
}

TEST_F(ErrorReporting, ActivityWithoutMessageIsWrittenAsErrorWhile) {
  KXComException ctx = KXComException::Silent();
  ctx.activity = u"Parsing element Page";
  ReportComError(ctx, nullptr, E_NOTIMPL, nullptr);
  EXPECT_EQ(ctx.hr, E_NOTIMPL);
  BSTR system = GetHResultMessage(E_NOTIMPL);
  const std::string expected = "<KXError Desc=\"Error while Parsing element Page (" +
                               Narrow(system) +
                               ")\" Activity=\"Parsing element Page\" HR=\"E_NOTIMPL\" />";
  SysFreeString(system);
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()), expected);
}

HRESULT MethodWithNullArgument(const void* argument) {
  KXComException ctx(u"KXDBDatasheetSvcs::SetRealField");
  try {
    CheckPointerArgument(ctx, argument);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, NullPointerArgumentNamesTheMethod) {
  EXPECT_EQ(MethodWithNullArgument(nullptr), E_POINTER);
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()),
            "<KXError Desc=\"Invalid pointer passed to method KXDBDatasheetSvcs::SetRealField\" "
            "Src=\"KXDBDatasheetSvcs::SetRealField\" HR=\"E_POINTER\" />");
  int something = 0;
  EXPECT_EQ(MethodWithNullArgument(&something), S_OK);
}

TEST_F(ErrorReporting, PointerCheckDropsEarlierContextInfo) {
  KXComException ctx = KXComException::Silent(u"M");
  kx::test::SetThreadError(u"Earlier failure text", u"S");
  ctx.TakeThreadErrorInfo();
  EXPECT_THROW(CheckPointerArgument(ctx, nullptr, u"Null %ls", u"page"), KXComException);
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()),
            "<KXError Desc=\"Null page\" Src=\"M\" HR=\"E_POINTER\" />");
}

TEST_F(ErrorReporting, OleDbRecordsGiveOneElementEach) {
  IErrorInfo* records = kx::test::CreateFakeErrorRecords(
      {{static_cast<HRESULT>(0x80040E14), IID_IUnknown, u"Syntax error", u"SQL Provider"},
       {E_FAIL, IID_IErrorRecords, u"Second", u""},
       {static_cast<HRESULT>(0x80040E37), IID_IUnknown, u"", u"Catalog"}},
      u"Errors occurred");
  KXComException ctx = KXComException::Silent();
  ctx.hr = static_cast<HRESULT>(0x80040E14);
  ctx.SetErrorInfoHeld(records);
  records->Release();
  BSTR text = nullptr;
  ConvertErrorToKXError(ctx, &text);
  const auto elements = SplitChain(text);
  SysFreeString(text);
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(Narrow(elements[0]),
            "<KXError Desc=\"Syntax error\" Src=\"SQL Provider\" HR=\"0x80040e14\" />");
  EXPECT_EQ(
      Narrow(elements[1]),
      "<KXError Desc=\"Second\" Src=\"OLEDB Interface::{0C733A67-2A1C-11CE-ADE5-00AA0044773D}\" "
      "HR=\"0x80004005\" />");
  EXPECT_EQ(Narrow(elements[2]), "<KXError Src=\"Catalog\" HR=\"0x80040e37\" />");
  EXPECT_EQ(SplitChain(TakeThreadErrorDescription()).size(), 3u);
}

TEST_F(ErrorReporting, ComErrorIsReportedWithItsCode) {
  KXComException ctx(u"KXDBDatasheetSvcs::GetTemplateFile");
  try {
    _com_issue_error(E_ACCESSDENIED);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  EXPECT_EQ(ctx.Return(), E_ACCESSDENIED);
  const auto elements = SplitChain(TakeThreadErrorDescription());
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_NE(elements[0].find(u"HR=\"E_ACCESSDENIED\" />"), std::u16string::npos);
  EXPECT_NE(elements[1].find(u"HR=\"E_ACCESSDENIED\" File=\"kxdbdatasheetsvcs/annotations\""),
            std::u16string::npos);
}

TEST_F(ErrorReporting, ComErrorWithInformationKeepsItsText) {
  KXComException ctx(u"KXDBDatasheetSvcs::GetTemplateFile");
  try {
    kx::test::SetThreadError(u"Stream closed unexpectedly", u"KXQStream");
    IErrorInfo* info = nullptr;
    GetErrorInfo(0, &info);
    _com_raise_error(STG_E_ACCESSDENIED, info);  // takes over the reference
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  EXPECT_EQ(ctx.Return(), STG_E_ACCESSDENIED);
  const auto elements = SplitChain(TakeThreadErrorDescription());
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[0].rfind(u"<KXError Desc=\"Stream closed unexpectedly\" HR=\"0x80030005\"", 0),
            0u);
  EXPECT_EQ(Narrow(elements[2]),
            "<KXError Desc=\"Stream closed unexpectedly\" Src=\"KXQStream\" HR=\"0x80030005\" />");
}

HRESULT InnerMethodMeetingUnknownException() {
  KXComException ctx(u"KXDBDatasheetSvcs::Inner");
  try {
    throw std::runtime_error("boom");
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, UnknownExceptionIsTracedAndRethrownInside) {
  EXPECT_THROW(InnerMethodMeetingUnknownException(), std::runtime_error);
  EXPECT_NE(trace_.hook.Joined().find(u"annotations("), std::u16string::npos);
  EXPECT_NE(trace_.hook.Joined().find(u") : !!!! Unhandled Exception !!!!\n"),
            std::u16string::npos);
}

template <class Thrower>
HRESULT BoundarySlot(Thrower thrower) {
  KXComException ctx(u"Main::Request");
  try {
    thrower();
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, UnknownExceptionNeverCrossesTheOutermostBoundary) {
  kx::test::SetThreadError(u"Stale text of an earlier failure", u"Old");
  HRESULT hr = S_OK;
  EXPECT_NO_THROW(hr = BoundarySlot([] { InnerMethodMeetingUnknownException(); }));
  EXPECT_EQ(hr, E_UNEXPECTED);
  const auto elements = SplitChain(TakeThreadErrorDescription());
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0].rfind(
                u"<KXError Desc=\"Unhandled exception: boom\" HR=\"E_UNEXPECTED\" File=", 0),
            0u)
      << Narrow(elements[0]);

  EXPECT_EQ(BoundarySlot([] { throw 42; }), E_UNEXPECTED);
  EXPECT_NE(TakeThreadErrorDescription().find(u"Desc=\"Unhandled exception of unknown type\""),
            std::u16string::npos);
  EXPECT_EQ(BoundarySlot([] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_NE(TakeThreadErrorDescription().find(u"HR=\"E_OUTOFMEMORY\""), std::u16string::npos);
}

TEST_F(ErrorReporting, BoundaryStillReportsKnownFailuresNormally) {
  EXPECT_EQ(BoundarySlot([] { InnerThrowsWithMarkup(); }), E_INVALIDARG);
  EXPECT_EQ(SplitChain(TakeThreadErrorDescription()).size(), 2u);
}

// A Boolean test that answers "no" when the store fails.
bool AbsorbingTest() {
  KXComException ctx(u"KXDBDatasheetSvcs::IsObjectInFilter");
  try {
    KX_CHECK(ctx, FailingStoreCall());
    return true;
  } catch (const KXComException&) {
    ctx.Absorb();
    return false;
  }
}

HRESULT LaterUnrelatedFailure() {
  KXComException ctx(u"KXDBDatasheetSvcs::RenamePage");
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Invalid page name");
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

TEST_F(ErrorReporting, AbsorbedFailureDoesNotLeakIntoLaterError) {
  EXPECT_FALSE(AbsorbingTest());
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()), "<none>");
  AbsorbingTest();
  EXPECT_EQ(LaterUnrelatedFailure(), E_INVALIDARG);
  const auto elements = SplitChain(TakeThreadErrorDescription());
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0].rfind(u"<KXError Desc=\"Invalid page name\"", 0), 0u);
}

TEST_F(ErrorReporting, ClearingAtRequestStartDropsLeftovers) {
  kx::test::SetThreadError(u"Left over from the previous request", u"Old");
  ClearThreadErrorInfo();  // what the request entry does first
  EXPECT_EQ(LaterUnrelatedFailure(), E_INVALIDARG);
  EXPECT_EQ(SplitChain(TakeThreadErrorDescription()).size(), 1u);
}

TEST_F(ErrorReporting, SuccessfulMethodClearsNothing) {
  kx::test::SetThreadError(u"Still here", u"Someone");
  KXComException ctx(u"KXDBDatasheetSvcs::Nothing");
  EXPECT_EQ(ctx.Return(), S_OK);
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()), "Still here");
}

TEST_F(ErrorReporting, ErrorsAreTracedAtSeverityThree) {
  ASSERT_EQ(OuterMethod(), E_INVALIDARG);
  const std::u16string all = trace_.hook.Joined();
  EXPECT_NE(all.find(u"&KXCE& !!!! <KXError Desc=\"Unexpected element &lt;Foo&gt;"),
            std::u16string::npos);
  EXPECT_NE(all.find(u"source/dataservices/kxdbdatasheetsvcs/annotations(" + kx_ltow(g_innerLine) +
                     u") : !!!! KXComException Error !!!!\n"),
            std::u16string::npos);
  // Entry lines are severity 1: not written at the normal level.
  EXPECT_EQ(all.find(u">>>> Enter"), std::u16string::npos);
}

TEST_F(ErrorReporting, OwnThrowIsOnlyTracedWhenCaught) {
  EXPECT_EQ(MethodWithNullArgument(nullptr), E_POINTER);
  EXPECT_NE(trace_.hook.Joined().find(u") : ~~~~ Caught KXComException ~~~~\n"),
            std::u16string::npos);
}

TEST(GetErrorDescriptionTest, PlainKXErrorAndEdgeTexts) {
  auto desc = [](const char16_t* text) {
    BSTR b = GetErrorDescription(text);
    std::string r = b == nullptr ? "<null>" : Narrow(std::u16string(b, SysStringLen(b)));
    SysFreeString(b);
    return r;
  };
  EXPECT_EQ(desc(u"plain text"), "plain text");
  EXPECT_EQ(desc(u"<KXERROR Src=\"x\" Desc=\"a &lt;b&gt; &amp;amp;\" />"), "a <b> &amp;");
  EXPECT_EQ(desc(u"<KXError HR=\"E_FAIL\" />"), "");
  EXPECT_EQ(desc(u"<KXError"), "");
  EXPECT_EQ(desc(u"<KXError Desc=\"unterminated"), "unterminated");
  EXPECT_EQ(desc(nullptr), "<null>");
}

TEST(KXComExceptionTest, CopiesShareErrorInfoWithAReference) {
  KXComException a = KXComException::Silent(u"A");
  kx::test::SetThreadError(u"Something", u"S");
  a.TakeThreadErrorInfo();
  ASSERT_NE(a.errorInfo, nullptr);
  {
    KXComException b(a);
    EXPECT_EQ(b.errorInfo, a.errorInfo);
    KXComException c = KXComException::Silent();
    c = b;
    EXPECT_EQ(c.errorInfo, a.errorInfo);
  }
  // Still alive: a's reference was not taken by the copies.
  BSTR text = nullptr;
  EXPECT_EQ(a.errorInfo->GetDescription(&text), S_OK);
  EXPECT_EQ(Narrow(text), "Something");
  SysFreeString(text);
}

// The description of a caught failure, as the project-wide unit change
// collects it: the exception's own information first, then the thread's,
// then the system text of its code.
TEST(KXComExceptionTest, GetDescriptionPrefersOwnThenThreadThenSystemText) {
  auto describe = [](const KXComException& error) {
    BSTR text = reinterpret_cast<BSTR>(1);  // must be replaced
    const HRESULT hr = KXComException::GetDescription(error, &text);
    EXPECT_EQ(hr, S_OK);
    std::string result = text == nullptr ? "<null>" : Narrow(text);
    SysFreeString(text);
    return result;
  };
  KXComException own = KXComException::Silent();
  own.hr = E_FAIL;
  kx::test::SetThreadError(u"own text", u"S");
  own.TakeThreadErrorInfo();
  kx::test::SetThreadError(u"thread text", u"S");
  EXPECT_EQ(describe(own), "own text");
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()), "thread text");  // left alone

  KXComException bare = KXComException::Silent();
  bare.hr = E_FAIL;
  kx::test::SetThreadError(u"thread text", u"S");
  EXPECT_EQ(describe(bare), "thread text");
  EXPECT_EQ(Narrow(TakeThreadErrorDescription()), "<none>");  // taken and released

  bare.hr = E_ACCESSDENIED;
  const _bstr_t system(GetHResultMessage(E_ACCESSDENIED), false);
  EXPECT_EQ(describe(bare), Narrow(static_cast<const OLECHAR*>(system)));
  bare.hr = S_FALSE;  // no failure, no text
  EXPECT_EQ(describe(bare), "");
  EXPECT_EQ(KXComException::GetDescription(bare, nullptr), E_POINTER);
}

}  // namespace
