// "SetQualifier" end to end: the value, the data-field events of the fields
// it qualifies and its own event, and the requests refused.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/setterhost.h"

using namespace kx::test::setters;

namespace {

using Lines = std::vector<std::string>;

std::string Error(const kx::host::CallResult& result) { return Narrow(result.error); }

class QualifierTest : public ::testing::Test {
 protected:
  SetterHost host_;
};

TEST_F(QualifierTest, AQualifierTellsEachQualifiedFieldAndThenItself) {
  // Any status sets the value.
  const auto result = host_.Send(u"SetQualifier",
                                 u"<SetQualifier PageId=\"21\" QualifierId=\"0\" Value=\"2\"/>", 2);
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPage, u"Qualifiers", 1), "2");
  // Fields 3 and 2 in the template's order, addressed to the current pages'
  // holder, then the qualifier.
  EXPECT_EQ(EventLines(result), (Lines{"DataField [F1 21] to ed", "Qualifier [Q1 21] to ed"}));
  EXPECT_EQ(result.events.size(), 2u);
}

TEST_F(QualifierTest, QualifierIdsOutOfRangeOrNoValueFailWithNothingWritten) {
  for (const char16_t* message : {u"<SetQualifier PageId=\"21\" QualifierId=\"-1\" Value=\"1\"/>",
                                  u"<SetQualifier PageId=\"21\" Value=\"1\"/>",
                                  u"<SetQualifier PageId=\"21\" QualifierId=\"0\"/>"}) {
    EXPECT_EQ(host_.Send(u"SetQualifier", message).hr, E_INVALIDARG) << Narrow(message);
  }
  EXPECT_EQ(host_.Value(kPage, u"Qualifiers", 1), "0");
}

}  // namespace
