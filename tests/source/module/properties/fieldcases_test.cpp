// "ShowFieldCase", "HideFieldCase" and "CopyFieldCase" end to end.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/fieldhost.h"
#include "support/setterhost.h"

using namespace kx::test::setters;
using namespace kx::test::fields;

namespace {

using Lines = std::vector<std::string>;

std::string Alert(const std::string& text) {
  return "<XMLMessage TargetId=\"20\" Status=\"1\"><Message MessageType=\"ALERT\" "
         "DocumentId=\"20\">" +
         text + "</Message></XMLMessage>";
}

class FieldCasesTest : public ::testing::Test {
 protected:
  kx::host::RequestResult Send(const std::u16string& name, const std::u16string& attributes) {
    return host_.host().Request(name, u"<XMLMessage TargetId=\"20\" Status=\"1\"><" + name + u" " +
                                          attributes + u"/></XMLMessage>");
  }
  std::string Reply(const std::u16string& name, const std::u16string& attributes) {
    const auto result = Send(name, attributes);
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    return Narrow(result.reply);
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(FieldCasesTest, ShowAsksBeforeTheDefaultCaseAndChangesTheFieldsOwnCase) {
  EXPECT_EQ(
      Reply(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"1\""),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><ObjectId>10</ObjectId><Message "
      "MessageType=\"QUESTION\" DocumentId=\"20\">Change the default datasheet case?</Message>"
      "</XMLMessage>");
  EXPECT_EQ(Reply(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"10\""),
            "<XMLMessage TargetId=\"20\" Status=\"1\"><ObjectId>10</ObjectId></XMLMessage>");
  EXPECT_EQ(
      Reply(u"ShowFieldCase", u"PageId=\"51\" FieldId=\"12\" Index=\"2\""),
      "<XMLMessage TargetId=\"20\" Status=\"1\"><ObjectId>54</ObjectId><Message "
      "MessageType=\"QUESTION\" DocumentId=\"20\">Change the default datasheet case?</Message>"
      "</XMLMessage>");
  // The field's own slot gets the case; the slot-0 field changes the sheet's.
  EXPECT_EQ(Reply(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"2\""), "");
  EXPECT_EQ(host_.Value(kPage, u"Cases", 2), "2");
  EXPECT_EQ(host_.Value(kPage, u"Cases", 1), "1");
  // A case the store does not know is refused and not written.
  EXPECT_EQ(Send(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"9\"").hr, E_INVALIDARG);
  EXPECT_EQ(host_.Value(kPage, u"Cases", 2), "2");
  const auto sheet = Send(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"1\" CaseId=\"2\"");
  ASSERT_EQ(sheet.hr, S_OK) << Narrow(sheet.error);
  EXPECT_EQ(host_.Value(kPage, u"Cases", 1), "2");
  EXPECT_EQ(host_.Value(22, u"Cases", 1), "2");
  // The same case again changes nothing; a field without a slot is refused.
  EXPECT_EQ(EventLines(Send(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"1\" CaseId=\"2\"")),
            Lines{});
  EXPECT_EQ(Reply(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"9\" CaseId=\"1\""),
            Alert("No case defined for selected field"));
  EXPECT_EQ(host_.Count(kPage, u"Cases"), 2);
}

TEST_F(FieldCasesTest, HideTakesTheFieldsOwnCaseAwayButNeverTheDefault) {
  EXPECT_EQ(Reply(u"HideFieldCase", u"PageId=\"21\" FieldId=\"1\""),
            Alert("Cannot hide default datasheet case"));
  EXPECT_EQ(Reply(u"HideFieldCase", u"PageId=\"21\" FieldId=\"10\""),
            Alert("No case defined for selected field"));
  EXPECT_EQ(Reply(u"HideFieldCase", u"PageId=\"21\" FieldId=\"9\""),
            Alert("No case defined for selected field"));
  ASSERT_EQ(Reply(u"ShowFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"2\""), "");
  const auto hidden = Send(u"HideFieldCase", u"PageId=\"21\" FieldId=\"10\"");
  ASSERT_EQ(hidden.hr, S_OK);
  EXPECT_EQ(Narrow(hidden.reply), "");
  EXPECT_EQ(host_.Value(kPage, u"Cases", 2), "");
  EXPECT_EQ(host_.Value(kPage, u"Cases", 1), "1");
}

TEST_F(FieldCasesTest, CopyCopiesEveryFieldOfTheSlotAndKeepsTheValues) {
  EXPECT_EQ(Reply(u"CopyFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"2\""),
            Alert("No case defined for selected field"));
  EXPECT_EQ(Reply(u"CopyFieldCase", u"PageId=\"21\" FieldId=\"1\""), "");
  const auto copy = Send(u"CopyFieldCase", u"PageId=\"21\" FieldId=\"1\" CaseId=\"2\"");
  ASSERT_EQ(copy.hr, S_OK) << Narrow(copy.error);
  EXPECT_EQ(Narrow(copy.reply), "");
  EXPECT_EQ(EventLines(copy), (Lines{"DataField [F1 21] to ed"}));
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "2");
  EXPECT_EQ(host_.Value(kPump, u"Tag"), "P-101");
  EXPECT_EQ(host_.Value(kPump, u"Speed"), "1450");
  // A list: the sheet's field once and each row's fields row by row.
  const auto list = Send(u"CopyFieldCase", u"PageId=\"51\" FieldId=\"12\" CaseId=\"2\"");
  ASSERT_EQ(list.hr, S_OK) << Narrow(list.error);
  EXPECT_EQ(EventLines(list), (Lines{"DataField [F1 51] to ed"}));
  EXPECT_EQ(host_.Value(kRow5, u"Tag"), "P-205");
}

// "DocumentId" is "TargetId" read as a number: a text that is none reads
// as 0, leading blanks are skipped.
TEST(FieldCasesTargetTest, TheDocumentIdIsTheTargetIdReadAsANumber) {
  SetterHost host{FieldFixture()};
  struct Case {
    std::u16string name, attributes, target;
    std::string documentId;
  };
  const Case cases[] = {
      {u"HideFieldCase", u"PageId=\"21\" FieldId=\"1\"", u"abc", "0"},
      {u"ShowFieldCase", u"PageId=\"21\" FieldId=\"1\"", u"abc", "0"},
      {u"CopyFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"2\"", u"abc", "0"},
      {u"HideFieldCase", u"PageId=\"21\" FieldId=\"9\"", u" 77", "77"},
      {u"ShowFieldCase", u"PageId=\"21\" FieldId=\"1\"", u" 77", "77"},
      {u"CopyFieldCase", u"PageId=\"21\" FieldId=\"10\" CaseId=\"2\"", u" 77", "77"},
  };
  for (const Case& c : cases) {
    const auto result =
        host.host().Request(c.name, u"<XMLMessage TargetId=\"" + c.target + u"\" Status=\"1\"><" +
                                        c.name + u" " + c.attributes + u"/></XMLMessage>");
    ASSERT_EQ(result.hr, S_OK) << Narrow(c.name) << Narrow(result.error);
    const std::string reply = Narrow(result.reply);
    EXPECT_NE(reply.find("\" DocumentId=\"" + c.documentId + "\">"), std::string::npos)
        << Narrow(c.name) << " " << Narrow(c.target) << ": " << reply;
  }
}

}  // namespace
