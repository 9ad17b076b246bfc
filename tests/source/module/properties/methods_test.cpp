// "GetFieldObject" end to end: the object behind a field of a page.
#include <gtest/gtest.h>
#include <string>

#include "support/fieldhost.h"
#include "support/setterhost.h"

using namespace kx::test::setters;
using namespace kx::test::fields;

namespace {

constexpr char kNoRoot[] =
    "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Selected item does not have a "
    "root "
    "object.</Message></XMLMessage>";

class GetFieldObjectTest : public ::testing::Test {
 protected:
  std::string Object(const std::u16string& attributes) {
    const auto result = host_.Send(u"GetFieldObject", u"<GetFieldObject " + attributes + u"/>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    EXPECT_EQ(result.events.size(), 0u);
    return Narrow(result.reply);
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(GetFieldObjectTest, ThePrimaryAndTheQualifiedObject) {
  EXPECT_EQ(Object(u"PageId=\"21\" FieldId=\"1\" Primary=\"1\""),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><FieldObject PageId=\"21\" FieldId=\"1\" "
            "ObjectId=\"10\" Primary=\"1\"/></XMLMessage>");
  // The qualifier route of field 2 leads nowhere further: the root object.
  EXPECT_EQ(Object(u"PageId=\"21\" FieldId=\"2\""),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><FieldObject PageId=\"21\" FieldId=\"2\" "
            "ObjectId=\"10\" Primary=\"1\"/></XMLMessage>");
  // No object on the page: no reply.
  EXPECT_EQ(Object(u"PageId=\"41\" FieldId=\"1\""), "");
}

TEST_F(GetFieldObjectTest, TheRowsOfAListAndARowWithoutRootObject) {
  EXPECT_EQ(Object(u"PageId=\"51\" FieldId=\"12\" Index=\"2\" Primary=\"1\""),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><FieldObject PageId=\"51\" FieldId=\"12\" "
            "ObjectId=\"54\" Primary=\"1\"/></XMLMessage>");
  EXPECT_EQ(Object(u"PageId=\"51\" FieldId=\"12\" Index=\"4\""),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><FieldObject PageId=\"51\" FieldId=\"12\" "
            "ObjectId=\"56\" Primary=\"1\"/></XMLMessage>");
  EXPECT_EQ(Object(u"PageId=\"51\" FieldId=\"12\" Index=\"5\""), kNoRoot);
  EXPECT_EQ(host_.Send(u"GetFieldObject", u"<GetFieldObject PageId=\"21\" FieldId=\"77\"/>").hr,
            E_INVALIDARG);
}

}  // namespace
