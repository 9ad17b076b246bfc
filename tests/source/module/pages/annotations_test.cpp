// "CreateAnnotation", "SetAnnotation" and "MoveAnnotation" requests through
// the host driver to a Main created in-process, whose recording workers
// show what each received; then the real workers on a store (records,
// copies of mark-up annotations, events).
#include "pages/annotations.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/moduletestsupport.h"
#include "support/setterhost.h"

using namespace kx::test::inprocess;

namespace {

class AnnotationRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeams();
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  void TearDown() override {
    host_.Detach();
    ResetSeams();
  }

  // Sends the request and returns the worker lines it produced.
  std::vector<std::string> Send(std::u16string_view name, std::u16string_view text,
                                HRESULT expected = S_OK) {
    Seams().calls.clear();
    const auto result = host_.Request(name, text);
    EXPECT_EQ(result.hr, expected) << ErrorText(result);
    last_ = result;
    return Seams().calls;
  }

  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
  kx::host::RequestResult last_;
};

using Lines = std::vector<std::string>;

TEST_F(AnnotationRequestTest, CreateReceivesEveryValue) {
  EXPECT_EQ(Send(u"CreateAnnotation",
                 u"<XMLMessage TargetId=\"T9\" Status=\"2\"><CreateAnnotation PageId=\"41\" "
                 u"Value=\"Check &amp; sign\" X=\"120\" Y=\"-35\" Markup=\"yes\"/></XMLMessage>"),
            Lines{"CreateAnnotation target=\"T9\" status=2 page=41 value=\"Check & sign\" x=120 "
                  "y=-35 markup=1"});
}

TEST_F(AnnotationRequestTest, CreateDefaultsWhereAbsent) {
  EXPECT_EQ(Send(u"CreateAnnotation", u"<XMLMessage><CreateAnnotation/></XMLMessage>"),
            Lines{"CreateAnnotation target=<null> status=-1 page=-1 value=<null> x=-1 y=-1 "
                  "markup=0"});
}

TEST_F(AnnotationRequestTest, SetReceivesEveryValue) {
  EXPECT_EQ(Send(u"SetAnnotation",
                 u"<XMLMessage TargetId=\"A\" Status=\"1\"><SetAnnotation PageId=\"3\" "
                 u"AnnotationId=\"17\" Value=\"\"/></XMLMessage>"),
            Lines{"SetAnnotation target=\"A\" status=1 page=3 annotation=17 value=\"\""});
  EXPECT_EQ(Send(u"SetAnnotation", u"<XMLMessage><SetAnnotation/></XMLMessage>"),
            Lines{"SetAnnotation target=<null> status=-1 page=-1 annotation=-1 value=<null>"});
}

TEST_F(AnnotationRequestTest, MoveReceivesEveryValue) {
  EXPECT_EQ(Send(u"MoveAnnotation",
                 u"<XMLMessage TargetId=\"B\" Status=\"4\"><MoveAnnotation PageId=\"8\" "
                 u"AnnotationId=\"2\" X=\"10\" Y=\"20\"/></XMLMessage>"),
            Lines{"MoveAnnotation target=\"B\" status=4 page=8 annotation=2 x=10 y=20"});
  EXPECT_EQ(Send(u"MoveAnnotation", u"<XMLMessage><MoveAnnotation/></XMLMessage>"),
            Lines{"MoveAnnotation target=<null> status=-1 page=-1 annotation=-1 x=-1 y=-1"});
}

TEST_F(AnnotationRequestTest, IntegerTextsAreReadAsTheirLeadingNumber) {
  EXPECT_EQ(Send(u"MoveAnnotation",
                 u"<XMLMessage><MoveAnnotation PageId=\"\" AnnotationId=\"12abc\" X=\"7.9\" "
                 u"Y=\" -3\"/></XMLMessage>"),
            Lines{"MoveAnnotation target=<null> status=-1 page=0 annotation=12 x=7 y=-3"});
}

TEST_F(AnnotationRequestTest, MarkupWords) {
  for (const char16_t* word : {u"1", u"true", u"ON", u"Yes", u"t"}) {
    const std::u16string request =
        u"<XMLMessage><CreateAnnotation Markup=\"" + std::u16string(word) + u"\"/></XMLMessage>";
    const Lines lines = Send(u"CreateAnnotation", request);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("markup=1"), std::string::npos) << Narrow(word);
  }
  for (const char16_t* word : {u"0", u"false", u"no", u"", u"2", u"yess"}) {
    const std::u16string request =
        u"<XMLMessage><CreateAnnotation Markup=\"" + std::u16string(word) + u"\"/></XMLMessage>";
    const Lines lines = Send(u"CreateAnnotation", request);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("markup=0"), std::string::npos) << Narrow(word);
  }
}

TEST_F(AnnotationRequestTest, MessageElementAloneRunsTheWorker) {
  EXPECT_EQ(Send(u"SetAnnotation", u"<SetAnnotation PageId=\"5\" AnnotationId=\"6\"/>"),
            Lines{"SetAnnotation target=<null> status=-1 page=5 annotation=6 value=<null>"});
}

TEST_F(AnnotationRequestTest, EnvelopeAttributesOnTheMessageElementAreIgnored) {
  EXPECT_EQ(Send(u"SetAnnotation",
                 u"<XMLMessage><SetAnnotation TargetId=\"X\" Status=\"3\" Markup=\"1\" "
                 u"PageId=\"2\"/></XMLMessage>"),
            Lines{"SetAnnotation target=<null> status=-1 page=2 annotation=-1 value=<null>"});
}

TEST_F(AnnotationRequestTest, EachMessageElementRunsTheWorkerWithValuesSoFar) {
  EXPECT_EQ(Send(u"MoveAnnotation",
                 u"<XMLMessage Status=\"1\"><MoveAnnotation PageId=\"1\" X=\"5\"/>"
                 u"<MoveAnnotation AnnotationId=\"9\"/></XMLMessage>"),
            (Lines{"MoveAnnotation target=<null> status=1 page=1 annotation=-1 x=5 y=-1",
                   "MoveAnnotation target=<null> status=1 page=1 annotation=9 x=5 y=-1"}));
}

TEST_F(AnnotationRequestTest, FailedWorkerStopsTheParse) {
  Seams().result = E_INVALIDARG;
  const Lines lines =
      Send(u"CreateAnnotation",
           u"<XMLMessage><CreateAnnotation PageId=\"1\"/><CreateAnnotation PageId=\"2\"/>"
           u"</XMLMessage>",
           E_INVALIDARG);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("page=1"), std::string::npos);
  const std::string error = ErrorText(last_);
  EXPECT_EQ(error.rfind("<KXError ", 0), 0u) << error;
  // The worker's own description stays at the end of the chain.
  EXPECT_NE(error.find("recorded worker failed"), std::string::npos) << error;
  EXPECT_TRUE(last_.reply.empty());
}

TEST_F(AnnotationRequestTest, ThrowingWorkerFailsTheRequest) {
  Seams().action = [](MainContext&) -> HRESULT { throw std::runtime_error("worker threw"); };
  const auto result =
      host_.Request(u"SetAnnotation", u"<XMLMessage><SetAnnotation PageId=\"1\"/></XMLMessage>");
  EXPECT_TRUE(FAILED(result.hr));
  EXPECT_EQ(ErrorText(result).rfind("<KXError ", 0), 0u) << ErrorText(result);
  EXPECT_TRUE(result.reply.empty());
}

TEST_F(AnnotationRequestTest, MessageElementInOtherLetterCaseIsIgnored) {
  EXPECT_TRUE(
      Send(u"CreateAnnotation", u"<XMLMessage><createannotation PageId=\"1\"/></XMLMessage>")
          .empty());
  EXPECT_TRUE(Send(u"SetAnnotation", u"<XMLMessage><CreateAnnotation/></XMLMessage>").empty());
}

TEST_F(AnnotationRequestTest, MalformedRequestFailsWithoutRunningTheWorker) {
  const auto result =
      host_.Request(u"CreateAnnotation", u"<XMLMessage><CreateAnnotation PageId=\"1\">");
  EXPECT_TRUE(Seams().calls.empty());
  EXPECT_TRUE(FAILED(result.hr));
  EXPECT_NE(ErrorText(result).find("MSXML Fatal error"), std::string::npos) << ErrorText(result);
}

// The grammar tables record by record: "kind name id", records joined by
// "; ", the name left out where a record has none.
std::string Records(const SAXSchemaParser& parser) {
  std::string text;
  for (const GrammarRecord* r = parser.GetSchema();; ++r) {
    if (!text.empty()) text += "; ";
    text += std::to_string(r->kind) + (r->name ? " " + Narrow(r->name) : "") + " " +
            std::to_string(r->id);
    if (r->kind == kGrammarEnd) return text;
  }
}

TEST(AnnotationGrammars, RecordsInTheirOrderWithTheirIds) {
  const std::string envelope = "0 0; 2 XMLMessage 0; 8 TargetId 2; 10 Status 3; 12 1; 3 0; ";
  EXPECT_EQ(Records(CreateAnnotationMessageParser(nullptr)),
            envelope +
                "2 CreateAnnotation 1; 10 PageId 4; 8 Value 5; 10 X 6; 10 Y 7; "
                "11 Markup 8; 3 0; 1 0");
  EXPECT_EQ(Records(SetAnnotationMessageParser(nullptr)),
            envelope + "2 SetAnnotation 1; 10 PageId 4; 10 AnnotationId 5; 8 Value 6; 3 0; 1 0");
  EXPECT_EQ(Records(MoveAnnotationMessageParser(nullptr)),
            envelope +
                "2 MoveAnnotation 1; 10 PageId 4; 10 AnnotationId 5; 10 X 6; 10 Y 7; "
                "3 0; 1 0");
}

// The parsers refuse ids and elements outside their grammar.
TEST(AnnotationGrammars, ParsersRefuseWhatTheirGrammarLacks) {
  SetAnnotationMessageParser parser(nullptr);
  SAXValue value;
  value.type = kSAXInteger;
  value.integer = 5;
  EXPECT_EQ(parser.SetAttribute(7, value), E_INVALIDARG);
  EXPECT_EQ(parser.SetAttribute(5, value), S_OK);
  EXPECT_EQ(parser.m_annotationId, 5);
  SAXSchemaElementHandler* handler = nullptr;
  EXPECT_EQ(parser.GetChildHandler(2, &handler), E_INVALIDARG);
  EXPECT_EQ(handler, nullptr);
  EXPECT_EQ(parser.EndElement(2), E_INVALIDARG);
}

}  // namespace

// The annotation workers end to end on a store: records, copies, events.
namespace {

std::string AnnotationError(const kx::host::CallResult& result) {
  return kx::test::setters::Narrow(result.error);
}

class AnnotationTest : public ::testing::Test {
 protected:
  std::string Annotation(LONG page, LONG position = 1) {
    return host_.Value(page, u"Annotations", position);
  }
  kx::test::setters::SetterHost host_;
};

TEST_F(AnnotationTest, AMarkupAnnotationGoesToTheSubmittedAndCheckedCopiesWithTheUsersName) {
  const auto result = host_.Send(
      u"CreateAnnotation",
      u"<CreateAnnotation PageId=\"21\" Value=\"Check seal\" X=\"5\" Y=\"7\" Markup=\"1\"/>");
  ASSERT_EQ(result.hr, S_OK) << AnnotationError(result);
  const std::string record =
      "<Annotation FieldId=\"0\" X=\"5\" Y=\"7\" Markup=\"1\" Value=\"Ed Engineer:Check seal\"/>";
  EXPECT_EQ(Annotation(kx::test::setters::kPage), record);
  EXPECT_EQ(Annotation(kx::test::setters::kSubmitted), record);
  EXPECT_EQ(Annotation(kx::test::setters::kChecked), record);
  EXPECT_EQ(host_.Count(kx::test::setters::kIssued, u"Annotations"), 0);
  EXPECT_EQ(host_.Value(kx::test::setters::kSheet, u"NextAnnotationId"), "1");
  EXPECT_EQ(kx::test::setters::EventLines(result),
            (Lines{"AnnotationField [A1 21] to ed", "AnnotationField [A2 23] to sue",
                   "AnnotationField [A3 24] to kim"}));

  const auto moved = host_.Send(
      u"MoveAnnotation", u"<MoveAnnotation PageId=\"23\" AnnotationId=\"0\" X=\"9\" Y=\"9\"/>", 2);
  ASSERT_EQ(moved.hr, S_OK) << AnnotationError(moved);
  // From a copy the change goes to its current page, not to the other copies.
  EXPECT_NE(Annotation(kx::test::setters::kSubmitted).find("X=\"9\" Y=\"9\""), std::string::npos);
  EXPECT_NE(Annotation(kx::test::setters::kPage).find("X=\"9\" Y=\"9\""), std::string::npos);
  EXPECT_NE(Annotation(kx::test::setters::kChecked).find("X=\"5\" Y=\"7\""), std::string::npos);

  const auto deleted =
      host_.Send(u"SetAnnotation", u"<SetAnnotation PageId=\"21\" AnnotationId=\"0\" Value=\"\"/>");
  ASSERT_EQ(deleted.hr, S_OK) << AnnotationError(deleted);
  for (LONG page :
       {kx::test::setters::kPage, kx::test::setters::kSubmitted, kx::test::setters::kChecked})
    EXPECT_EQ(host_.Count(page, u"Annotations"), 0) << page;
  EXPECT_EQ(deleted.events.size(), 3u);
}

TEST_F(AnnotationTest, PlainAnnotationsStayOnTheirPageAndChangeOnlyWhenTheTextDoes) {
  ASSERT_EQ(host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"21\" Value=\"Note\"/>").hr,
            S_OK);
  ASSERT_EQ(
      host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"21\" Value=\"Other\"/>").hr,
      S_OK);
  EXPECT_EQ(Annotation(kx::test::setters::kPage, 2),
            "<Annotation FieldId=\"1\" X=\"-1\" Y=\"-1\" Markup=\"0\" Value=\"Other\"/>");
  EXPECT_EQ(host_.Count(kx::test::setters::kSubmitted, u"Annotations"), 0);
  const auto same = host_.Send(u"SetAnnotation",
                               u"<SetAnnotation PageId=\"21\" AnnotationId=\"0\" Value=\"Note\"/>");
  EXPECT_EQ(same.hr, S_OK);
  EXPECT_TRUE(same.events.empty());
  ASSERT_EQ(host_
                .Send(u"SetAnnotation",
                      u"<SetAnnotation PageId=\"21\" AnnotationId=\"1\" Value=\"New\"/>")
                .hr,
            S_OK);
  EXPECT_NE(Annotation(kx::test::setters::kPage, 2).find("Value=\"New\""), std::string::npos);
  const auto missing = host_.Send(
      u"MoveAnnotation", u"<MoveAnnotation PageId=\"21\" AnnotationId=\"7\" X=\"1\" Y=\"1\"/>");
  EXPECT_EQ(missing.hr, E_FAIL);
  EXPECT_NE(AnnotationError(missing).find("Failed to find annotation 7"), std::string::npos);
  // Issued pages are never changed.
  const auto issued =
      host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"25\" Value=\"X\"/>", 4);
  EXPECT_EQ(issued.hr, S_OK);
  EXPECT_EQ(host_.Count(kx::test::setters::kIssued, u"Annotations"), 0);
  EXPECT_EQ(host_.Value(kx::test::setters::kSheet, u"NextAnnotationId"), "2");
}

}  // namespace
