// Sketch fields, qualifiers, units and annotations end to end, and what a
// store failure half-way through a setter leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/setterhost.h"

using namespace settertest;

namespace {

using Lines = std::vector<std::string>;

std::string Error(const kx::host::CallResult& result) { return Narrow(result.error); }

class SketchFieldTest : public ::testing::Test {
 protected:
  kx::host::RequestResult Sketch(const std::string& value, const char* rectangle = "") {
    std::u16string message = u"<SetSketchField PageId=\"21\" FieldId=\"8\" ";
    for (const char* c = rectangle; *c != 0; ++c) message += static_cast<char16_t>(*c);
    message += u" Value=\"";
    for (char c : value) message += static_cast<char16_t>(c);
    message += u"\"/>";
    return host_.Send(u"SetSketchField", message);
  }
  std::string Stored() { return host_.Value(kPump, u"Drawing"); }

  SetterHost host_;
};

TEST_F(SketchFieldTest, APartialUpdateKeepsTheStoredBlocksItLeavesOut) {
  ASSERT_EQ(Sketch("!R3:top5R4:side2R4!AAAAABBCCCC", "TLX=\"1\" TLY=\"2\" BRX=\"30\" BRY=\"40\"").hr,
            S_OK);
  EXPECT_EQ(Stored(), "!P3:top5P4:side2P4!AAAAABBCCCC");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 8),
            "<Sketch FieldId=\"8\" AttribId=\"31\" TLX=\"1\" TLY=\"2\" BRX=\"30\" BRY=\"40\" "
            "State=\"0\" Value=\"\"/>");
  // Only block 2 comes with the request.
  const auto result = Sketch("!P0:0R2:xy3P0!zzz");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(Stored(), "!P3:top5P2:xy3P4!AAAAAzzzCCCC");
  EXPECT_EQ(EventLines(result), (Lines{"DataField [F1 21] to ed"}));
  // Codes "R", "R" with empty blocks 1 and 2: the stored block 3 alone.
  ASSERT_EQ(Sketch("!R0:0R0:0P0!").hr, S_OK);
  EXPECT_EQ(Stored(), "CCCC");
  // A raw text replaces everything; an empty one clears the record too.
  ASSERT_EQ(Sketch("plain").hr, S_OK);
  EXPECT_EQ(Stored(), "plain");
  ASSERT_EQ(Sketch("").hr, S_OK);
  EXPECT_EQ(Stored(), "");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 8), "");
}

TEST_F(SketchFieldTest, LengthsThatOverrunTheTextAreRefusedAsAFailure) {
  ASSERT_EQ(Sketch("raw").hr, S_OK);
  const auto result = Sketch("!R0:5R0:0R0!abcd");
  EXPECT_EQ(result.hr, static_cast<HRESULT>(0x80070018));
  EXPECT_NE(Error(result).find("Invalid lengths specified for data"), std::string::npos);
  EXPECT_EQ(Stored(), "raw");
  EXPECT_TRUE(result.events.empty());
  // A header that ends before its codes.
  EXPECT_EQ(Sketch("!R!").hr, E_INVALIDARG);
  EXPECT_EQ(Stored(), "raw");
}

TEST_F(SketchFieldTest, AHeaderTooLongToBeReadBackIsRefused) {
  const std::string first = "!R1500:" + std::string(1500, 'L') + "0R0:0R0!";
  ASSERT_EQ(Sketch(first).hr, S_OK);
  const std::string stored = Stored();
  // Each label fits, but both together would put the closing mark beyond
  // position 2047, where the next read would no longer find it.
  const auto result = Sketch("!P0:0R1500:" + std::string(1500, 'M') + "0P0!");
  EXPECT_EQ(result.hr, E_INVALIDARG);
  EXPECT_NE(Error(result).find("The sketch header is longer than 2048 characters"), std::string::npos);
  EXPECT_EQ(Stored(), stored);
  // A value whose closing mark lies beyond that reads as no header: the
  // stored blocks are kept.
  ASSERT_EQ(Sketch("!R2040:" + std::string(2040, 'N') + "0R0:0R0!").hr, S_OK);
  EXPECT_EQ(Stored(), "!P1500:" + std::string(1500, 'L') + "0P0:0P0!");
}

class QualifierUnitTest : public ::testing::Test {
 protected:
  SetterHost host_;
};

TEST_F(QualifierUnitTest, AQualifierTellsEachQualifiedFieldAndThenItself) {
  // Any status sets the value.
  const auto result = host_.Send(
      u"SetQualifier", u"<SetQualifier PageId=\"21\" QualifierId=\"0\" Value=\"2\"/>", 2);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPage, u"Qualifiers", 1), "2");
  // Fields 3 and 2 in the template's order, addressed to the current pages'
  // holder, then the qualifier.
  EXPECT_EQ(EventLines(result),
            (Lines{"DataField [F1 21] to ed", "Qualifier [Q1 21] to ed"}));
  EXPECT_EQ(result.events.size(), 2u);
}

TEST_F(QualifierUnitTest, QualifierAndUnitIdsOutOfRangeFailWithNothingWritten) {
  for (const char16_t* message :
       {u"<SetQualifier PageId=\"21\" QualifierId=\"-1\" Value=\"1\"/>",
        u"<SetQualifier PageId=\"21\" Value=\"1\"/>", u"<SetQualifier PageId=\"21\" QualifierId=\"0\"/>"}) {
    EXPECT_EQ(host_.Send(u"SetQualifier", message).hr, E_INVALIDARG) << Narrow(message);
  }
  EXPECT_EQ(host_.Value(kPage, u"Qualifiers", 1), "0");
  EXPECT_EQ(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" Index=\"1\"/>").hr, E_INVALIDARG);
  EXPECT_TRUE(FAILED(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"5\" Index=\"1\"/>").hr));
  EXPECT_TRUE(FAILED(host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"9\"/>").hr));
  EXPECT_TRUE(FAILED(host_.Send(u"GetUnits", u"<GetUnits PageId=\"21\" UnitId=\"-1\"/>").hr));
  EXPECT_EQ(host_.Value(kPage, u"Units", 1), "l/s");
  EXPECT_EQ(host_.Count(kPage, u"Units"), 1);
}

TEST_F(QualifierUnitTest, GetUnitsAnswersTheDisplayTextsOfTheDimension) {
  const auto result = host_.Send(u"GetUnits", u"<GetUnits PageId=\"21\" UnitId=\"0\"/>", 3);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(Narrow(result.reply),
            "<XMLMessage TargetId=\"T\" Status=\"3\"><PopUnits PageId=\"21\" UnitId=\"0\">"
            "<Value>cubic metres per hour</Value><Value>litres per second</Value></PopUnits>"
            "</XMLMessage>");
}

TEST_F(QualifierUnitTest, SetUnitStoresTheUnitTextAndTellsTheClientsOnce) {
  const auto result = host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"0\"/>", 2);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPage, u"Units", 1), "m3/h");
  EXPECT_EQ(EventLines(result), (Lines{"UnitField [U1 21] to ed"}));
  // The stored values stay: the page only shows them in the new unit.
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "2");
  const auto again = host_.Send(u"SetUnit", u"<SetUnit PageId=\"21\" UnitId=\"0\" Index=\"0\"/>");
  EXPECT_EQ(again.hr, S_OK);
  EXPECT_TRUE(again.events.empty());
}

class AnnotationTest : public ::testing::Test {
 protected:
  std::string Annotation(LONG page, LONG position = 1) {
    return host_.Value(page, u"Annotations", position);
  }
  SetterHost host_;
};

TEST_F(AnnotationTest, AMarkupAnnotationGoesToTheSubmittedAndCheckedCopiesWithTheUsersName) {
  const auto result = host_.Send(
      u"CreateAnnotation",
      u"<CreateAnnotation PageId=\"21\" Value=\"Check seal\" X=\"5\" Y=\"7\" Markup=\"1\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  const std::string record =
      "<Annotation FieldId=\"0\" X=\"5\" Y=\"7\" Markup=\"1\" Value=\"Ed Engineer:Check seal\"/>";
  EXPECT_EQ(Annotation(kPage), record);
  EXPECT_EQ(Annotation(kSubmitted), record);
  EXPECT_EQ(Annotation(kChecked), record);
  EXPECT_EQ(host_.Count(kIssued, u"Annotations"), 0);
  EXPECT_EQ(host_.Value(kSheet, u"NextAnnotationId"), "1");
  EXPECT_EQ(EventLines(result), (Lines{"AnnotationField [A1 21] to ed", "AnnotationField [A2 23] to sue",
                                       "AnnotationField [A3 24] to kim"}));

  const auto moved =
      host_.Send(u"MoveAnnotation", u"<MoveAnnotation PageId=\"23\" AnnotationId=\"0\" X=\"9\" Y=\"9\"/>", 2);
  ASSERT_EQ(moved.hr, S_OK) << Error(moved);
  // From a copy the change goes to its current page, not to the other copies.
  EXPECT_NE(Annotation(kSubmitted).find("X=\"9\" Y=\"9\""), std::string::npos);
  EXPECT_NE(Annotation(kPage).find("X=\"9\" Y=\"9\""), std::string::npos);
  EXPECT_NE(Annotation(kChecked).find("X=\"5\" Y=\"7\""), std::string::npos);

  const auto deleted =
      host_.Send(u"SetAnnotation", u"<SetAnnotation PageId=\"21\" AnnotationId=\"0\" Value=\"\"/>");
  ASSERT_EQ(deleted.hr, S_OK) << Error(deleted);
  for (LONG page : {kPage, kSubmitted, kChecked}) EXPECT_EQ(host_.Count(page, u"Annotations"), 0) << page;
  EXPECT_EQ(deleted.events.size(), 3u);
}

TEST_F(AnnotationTest, PlainAnnotationsStayOnTheirPageAndChangeOnlyWhenTheTextDoes) {
  ASSERT_EQ(host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"21\" Value=\"Note\"/>").hr, S_OK);
  ASSERT_EQ(host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"21\" Value=\"Other\"/>").hr, S_OK);
  EXPECT_EQ(Annotation(kPage, 2), "<Annotation FieldId=\"1\" X=\"-1\" Y=\"-1\" Markup=\"0\" Value=\"Other\"/>");
  EXPECT_EQ(host_.Count(kSubmitted, u"Annotations"), 0);
  const auto same =
      host_.Send(u"SetAnnotation", u"<SetAnnotation PageId=\"21\" AnnotationId=\"0\" Value=\"Note\"/>");
  EXPECT_EQ(same.hr, S_OK);
  EXPECT_TRUE(same.events.empty());
  ASSERT_EQ(host_.Send(u"SetAnnotation", u"<SetAnnotation PageId=\"21\" AnnotationId=\"1\" Value=\"New\"/>").hr,
            S_OK);
  EXPECT_NE(Annotation(kPage, 2).find("Value=\"New\""), std::string::npos);
  const auto missing =
      host_.Send(u"MoveAnnotation", u"<MoveAnnotation PageId=\"21\" AnnotationId=\"7\" X=\"1\" Y=\"1\"/>");
  EXPECT_EQ(missing.hr, E_FAIL);
  EXPECT_NE(Error(missing).find("Failed to find annotation 7"), std::string::npos);
  // Issued pages are never changed.
  const auto issued =
      host_.Send(u"CreateAnnotation", u"<CreateAnnotation PageId=\"25\" Value=\"X\"/>", 4);
  EXPECT_EQ(issued.hr, S_OK);
  EXPECT_EQ(host_.Count(kIssued, u"Annotations"), 0);
  EXPECT_EQ(host_.Value(kSheet, u"NextAnnotationId"), "2");
}

// Every write of a setter that creates an object fails in turn: the call
// fails and the store is exactly as it was, the last write included.
TEST(SetterTransactionTest, AStoreFailureAtAnyWriteLeavesTheStoreAsItWas) {
  int failedCalls = 0;
  for (long write = 1; write < 200; ++write) {
    SetterHost host;
    host.store().FailWriteAfter(write);
    const auto result = host.Send(u"SetRealField", u"<SetRealField PageId=\"41\" FieldId=\"2\" "
                                                   u"Value=\"7\" Prefix=\"~\" ConfirmedClass=\"Pump\"/>");
    host.store().FailWriteAfter(0);
    if (SUCCEEDED(result.hr)) {
      EXPECT_EQ(host.Value(std::stol(host.Value(kEmptyPage, u"NodeObjects").substr(1)), u"Flow"), "7");
      break;
    }
    ++failedCalls;
    EXPECT_TRUE(result.events.empty());
    EXPECT_EQ(host.Count(kEmptyPage, u"NodeObjects"), 0) << write;
    EXPECT_EQ(host.Count(kEmptyPage2, u"NodeObjects"), 0) << write;
    EXPECT_EQ(host.Value(kEmptyPage, u"Fields", 2), "") << write;
    EXPECT_EQ(host.Count(kEmptyPage, u"Fields"), 9) << write;
  }
  // Creating, placing, filling and writing take several writes.
  EXPECT_GT(failedCalls, 5);
}

}  // namespace
