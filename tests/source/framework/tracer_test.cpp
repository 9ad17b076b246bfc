// The tracer: pieces of each line, levels, and the journal hook configured
// once per process.
#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "kxtrace.h"
#include "support/fakeapplication.h"
#include "support/frameworktestsupport.h"

namespace {

using kx::test::Narrow;
using kx::test::TestJournal;
namespace ds = DataServiceKXCETracer;

std::vector<std::string> Pieces(const kx::test::RecordingHook& hook) {
  std::vector<std::string> out;
  for (const auto& p : hook.pieces) out.push_back(Narrow(p));
  return out;
}

TEST(TracerLines, EntryLineIsFourPieces) {
  kx::test::ScopedTraceCapture capture(kTraceLevelHigh);
  Trace(1, '>', u"KXDBDatasheetSvcs::OpenPage");
  EXPECT_EQ(
      Pieces(capture.hook),
      (std::vector<std::string>{"&KXCE&", " >>>> Enter ", "KXDBDatasheetSvcs::OpenPage", "()\n"}));
}

TEST(TracerLines, ErrorContextWritesItsEntryLine) {
  kx::test::ScopedTraceCapture capture(kTraceLevelHigh);
  { KXComException ctx(u"KXDBDatasheetSvcs::CreateAnnotation"); }
  EXPECT_EQ(Narrow(capture.hook.Joined()),
            "&KXCE& >>>> Enter KXDBDatasheetSvcs::CreateAnnotation()\n");
  capture.hook.pieces.clear();
  { KXComException parser(u"SAXSchemaParser::startElement()", 0); }
  KXComException copy = KXComException::Silent(u"Quiet");
  KXComException second(copy);
  EXPECT_TRUE(capture.hook.pieces.empty());
}

TEST(TracerLines, EachKindHasItsPieces) {
  kx::test::ScopedTraceCapture capture(kTraceLevelHigh);
  Trace(3, '<', u"M");
  Trace(3, '!', u"E");
  Trace(3, '.', u"D");
  Trace(3, 'a', u"atl text");
  Trace(3, 'a', u"ends with line feed\n");
  Trace(3, '?', u"ignored");
  EXPECT_EQ(Pieces(capture.hook), (std::vector<std::string>{"&KXCE&",
                                                            " <<<< Leave ",
                                                            "M",
                                                            "()\n",
                                                            "&KXCE&",
                                                            " !!!! ",
                                                            "E",
                                                            "\n",
                                                            "&KXCE&",
                                                            " ....      ",
                                                            "D",
                                                            "\n",
                                                            "&KXCE&",
                                                            " .... ATL: ",
                                                            "atl text",
                                                            "\n",
                                                            "&KXCE&",
                                                            " .... ATL: ",
                                                            "ends with line feed\n",
                                                            "&KXCE&"}));
}

TEST(TracerLines, SeverityMustExceedTheLevel) {
  struct {
    int32_t level;
    bool severity1;
    bool severity3;
  } cases[] = {{kTraceLevelHigh, true, true},
               {kTraceLevelNormal, false, true},
               {kTraceLevelLow, false, true},
               {kTraceLevelNone, false, false}};
  for (const auto& c : cases) {
    kx::test::ScopedTraceCapture capture(c.level);
    Trace(1, '>', u"one");
    Trace(3, '!', u"three");
    Trace(0, '.', u"parser detail");
    const std::u16string all = capture.hook.Joined();
    EXPECT_EQ(all.find(u"one") != std::u16string::npos, c.severity1) << "level " << c.level;
    EXPECT_EQ(all.find(u"three") != std::u16string::npos, c.severity3) << "level " << c.level;
    EXPECT_EQ(all.find(u"parser detail"), std::u16string::npos);
  }
}

TEST(TracerLines, NothingWithoutAHook) {
  kx::test::ScopedTraceCapture capture(kTraceLevelHigh);
  GetTracer().hook = nullptr;
  Trace(3, '!', u"lost");
  TraceAtLocation(SourceLocation{u"a/b", 1}, u"lost too");
  GetTracer().hook = &capture.hook;
  EXPECT_TRUE(capture.hook.pieces.empty());
}

TEST(TracerLines, LocationLinesIgnoreTheLevel) {
  kx::test::ScopedTraceCapture capture(kTraceLevelNone);
  TraceAtLocation(SourceLocation{u"source/globalinclude/variantutil", 42}, u"hello");
  TraceAtLocation(SourceLocation{nullptr, 1}, u"no file, no line");
  EXPECT_EQ(Narrow(capture.hook.Joined()), "source/globalinclude/variantutil(42) : hello\n");
}

TEST(TraceLevels, FromSettingText) {
  int32_t level = -9;
  EXPECT_TRUE(TraceLevelFromText(u"HIGH", &level));
  EXPECT_EQ(level, 0);
  EXPECT_TRUE(TraceLevelFromText(u"Normal", &level));
  EXPECT_EQ(level, 1);
  EXPECT_TRUE(TraceLevelFromText(u"low", &level));
  EXPECT_EQ(level, 2);
  EXPECT_TRUE(TraceLevelFromText(u"none", &level));
  EXPECT_EQ(level, 3);
  for (const char16_t* other : {u"", u"verbose", u" high", u"hi"})
    EXPECT_FALSE(TraceLevelFromText(other, &level));
  EXPECT_FALSE(TraceLevelFromText(nullptr, &level));
  EXPECT_EQ(level, 3);
}

// Hands out a fresh reference to the journal in `cookie`, counting calls.
struct JournalSupply {
  TestJournal* journal = nullptr;
  int asked = 0;
  static IDispatch* Get(void* cookie) {
    auto* self = static_cast<JournalSupply*>(cookie);
    ++self->asked;
    if (self->journal == nullptr) return nullptr;
    self->journal->AddRef();
    return self->journal;
  }
};

class TracerConfiguration : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHook_ = GetTracer().hook;
    GetTracer().hook = nullptr;
    ds::ResetTracerForTesting();
    supply_.journal = TestJournal::Create();
  }
  void TearDown() override {
    ds::ResetTracerForTesting();
    GetTracer().hook = savedHook_;
    supply_.journal->Release();
  }
  JournalSupply supply_;
  KXCETracerHook* savedHook_ = nullptr;
};

TEST_F(TracerConfiguration, JournalReceivesEntryLinesAtHighLevel) {
  EXPECT_TRUE(ds::ConfigureTracerOnce(u"YES", u"HIGH", &JournalSupply::Get, &supply_));
  EXPECT_EQ(GetTracer().level, 0);
  { KXComException ctx(u"KXDBDatasheetSvcs::CreateAnnotation"); }
  const std::vector<std::u16string> expected = {u"&KXCE&", u" >>>> Enter ",
                                                u"KXDBDatasheetSvcs::CreateAnnotation", u"()\n"};
  EXPECT_EQ(supply_.journal->lines, expected);
  EXPECT_EQ(supply_.journal->refusedCalls, 0);
  EXPECT_EQ(supply_.journal->lastLcid, 2u);
}

TEST_F(TracerConfiguration, NormalLevelWritesOnlyErrors) {
  ds::ConfigureTracerOnce(u"yes", u"normal", &JournalSupply::Get, &supply_);
  { KXComException ctx(u"KXDBDatasheetSvcs::SetRealField"); }
  EXPECT_TRUE(supply_.journal->lines.empty());
  Trace(3, '!', u"failure");
  EXPECT_EQ(supply_.journal->lines.size(), 4u);
}

TEST_F(TracerConfiguration, SecondConfigurationChangesNothing) {
  ASSERT_TRUE(ds::ConfigureTracerOnce(u"no", u"low", &JournalSupply::Get, &supply_));
  EXPECT_FALSE(ds::ConfigureTracerOnce(u"yes", u"high", &JournalSupply::Get, &supply_));
  EXPECT_EQ(GetTracer().level, kTraceLevelLow);
  EXPECT_EQ(GetTracer().hook, nullptr);
  EXPECT_EQ(supply_.asked, 0);
  Trace(3, '!', u"nowhere to go");
  EXPECT_TRUE(supply_.journal->lines.empty());
}

TEST_F(TracerConfiguration, UnknownLevelLeavesLevelAndJournalOnlyOnYes) {
  ds::ConfigureTracerOnce(u"true", u"loud", &JournalSupply::Get, &supply_);
  EXPECT_EQ(GetTracer().level, kTraceLevelNormal);
  EXPECT_EQ(GetTracer().hook, nullptr);
  EXPECT_EQ(supply_.asked, 0);
}

TEST_F(TracerConfiguration, NoJournalNoHook) {
  JournalSupply none;
  ds::ConfigureTracerOnce(u"yes", u"high", &JournalSupply::Get, &none);
  EXPECT_EQ(none.asked, 1);
  EXPECT_EQ(GetTracer().hook, nullptr);
  EXPECT_EQ(GetTracer().level, kTraceLevelHigh);
}

TEST_F(TracerConfiguration, HookRemembersThePreviousOneAndHoldsTheJournal) {
  kx::test::RecordingHook earlier;
  GetTracer().hook = &earlier;
  ds::ApplyTracerSettings(u"yes", nullptr, &JournalSupply::Get, &supply_);
  EXPECT_EQ(GetTracer().hook, &ds::GetJournalHook());
  EXPECT_EQ(ds::GetJournalHook().previous, &earlier);
  EXPECT_EQ(supply_.journal->refs(), 2u);
  // Installed once: applying again neither asks nor re-links.
  ds::ApplyTracerSettings(u"yes", nullptr, &JournalSupply::Get, &supply_);
  EXPECT_EQ(supply_.asked, 1);
  EXPECT_EQ(ds::GetJournalHook().previous, &earlier);
  ds::ResetTracerForTesting();
  EXPECT_EQ(GetTracer().hook, &earlier);
  EXPECT_EQ(supply_.journal->refs(), 1u);
  GetTracer().hook = nullptr;
}

TEST_F(TracerConfiguration, ErrorChainsReachTheJournal) {
  ds::ConfigureTracerOnce(u"yes", u"low", &JournalSupply::Get, &supply_);
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::X");
  ReportComError(ctx, nullptr, E_FAIL, u"Broken");
  ClearThreadErrorInfo();
  ASSERT_EQ(supply_.journal->lines.size(), 4u);
  EXPECT_EQ(Narrow(supply_.journal->lines[2]), "<KXError Desc=\"Broken\" HR=\"E_FAIL\" />");
}

TEST_F(TracerConfiguration, HostSettingsConfigureOncePerProcess) {
  kx::test::FakeApplication* first = kx::test::CreateFakeApplication(
      {{u"TraceLevel::JournalTrace", u"Yes"}, {u"TraceLevel::General", u"High"}}, supply_.journal);
  ConfigureTracer(first);
  EXPECT_EQ(first->journalAsked, 1);
  EXPECT_EQ(GetTracer().level, kTraceLevelHigh);
  { KXComException ctx(u"KXDBDatasheetSvcs::CreateAnnotation"); }
  ASSERT_EQ(supply_.journal->lines.size(), 4u);
  EXPECT_EQ(Narrow(supply_.journal->lines[2]), "KXDBDatasheetSvcs::CreateAnnotation");
  EXPECT_EQ(supply_.journal->directWrites, 0);

  // A second attach with other settings leaves the first configuration.
  kx::test::FakeApplication* second = kx::test::CreateFakeApplication(
      {{u"TraceLevel::JournalTrace", u"no"}, {u"TraceLevel::General", u"none"}}, nullptr);
  ConfigureTracer(second);
  EXPECT_EQ(second->settingsAsked, 0);
  EXPECT_EQ(GetTracer().level, kTraceLevelHigh);
  EXPECT_EQ(GetTracer().hook, &ds::GetJournalHook());
  first->Release();
  second->Release();
}

TEST_F(TracerConfiguration, HostWithoutSettingsStillUsesUpTheConfiguration) {
  kx::test::FakeApplication* bare = kx::test::CreateFakeApplication({}, supply_.journal);
  bare->hasSettings = false;
  ConfigureTracer(bare);
  EXPECT_EQ(bare->settingsAsked, 1);
  EXPECT_EQ(bare->journalAsked, 0);
  EXPECT_EQ(GetTracer().hook, nullptr);
  kx::test::FakeApplication* later =
      kx::test::CreateFakeApplication({{u"TraceLevel::JournalTrace", u"yes"}}, supply_.journal);
  ConfigureTracer(later);
  EXPECT_EQ(later->settingsAsked, 0);
  bare->Release();
  later->Release();
}

TEST_F(TracerConfiguration, JournalOnlyWhenJournalTraceIsYes) {
  kx::test::FakeApplication* app =
      kx::test::CreateFakeApplication({{u"TraceLevel::General", u"low"}}, supply_.journal);
  ConfigureTracer(app);
  EXPECT_EQ(app->settingsAsked, 1);
  EXPECT_EQ(app->journalAsked, 0);
  EXPECT_EQ(GetTracer().level, kTraceLevelLow);
  EXPECT_EQ(GetTracer().hook, nullptr);
  app->Release();
}

}  // namespace
