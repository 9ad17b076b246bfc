// "GetFieldStatus" and "SetFieldStatus" end to end: the host sends the
// request, the module changes the value states in the store, and the reply,
// the events and the store are checked.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/fieldhost.h"
#include "support/setterhost.h"

using namespace kx::test::setters;
using namespace kx::test::fields;

namespace {

using Lines = std::vector<std::string>;

class FieldStatusTest : public ::testing::Test {
 protected:
  std::string Status(const std::u16string& fields) {
    const auto result = host_.Send(
        u"GetFieldStatus", u"<GetFieldStatus PageId=\"21\">" + fields + u"</GetFieldStatus>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    return Narrow(result.reply);
  }
  kx::host::RequestResult Set(const std::u16string& attributes, const std::u16string& fields,
                              const std::u16string& page = u"21") {
    return host_.Send(u"SetFieldStatus", u"<SetFieldStatus PageId=\"" + page + u"\" " + attributes +
                                             u">" + fields + u"</SetFieldStatus>");
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(FieldStatusTest, LocksSecuresAndHoldsEachListedFieldWithOneEventEach) {
  const auto set = Set(u"IsLocked=\"1\" IsSecured=\"1\" IsHeld=\"1\" HoldId=\"90\"",
                       u"<FieldId ID=\"1\"/><FieldId ID=\"3\"/>");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  // The page's data-field events of one request reach a user as one.
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 21] to ed"}));
  EXPECT_EQ(
      Status(u"<FieldId ID=\"1\"/><FieldId ID=\"3\"/>"),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopStatus PageId=\"21\" Lock=\"1\" Secure=\"1\" "
      "Hold=\"1\" HoldReason=\"H-1: vendor data&#10;\"><FieldId ID=\"1\"/><FieldId ID=\"3\"/>"
      "</PopStatus></XMLMessage>");
  // A value already held keeps its hold; a second hold adds a second line.
  ASSERT_EQ(Set(u"IsHeld=\"1\" HoldId=\"91\"", u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/>").hr, S_OK);
  EXPECT_EQ(
      Status(u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/><FieldId ID=\"3\"/>"),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopStatus PageId=\"21\" Lock=\"2\" Secure=\"2\" "
      "Hold=\"1\" HoldReason=\"H-1: vendor data&#10;H-2: &#10;\"><FieldId ID=\"1\"/>"
      "<FieldId ID=\"2\"/><FieldId ID=\"3\"/></PopStatus></XMLMessage>");
  // Unlock, unsecure and release read back as none.
  ASSERT_EQ(Set(u"IsLocked=\"0\" IsSecured=\"0\" IsHeld=\"0\"",
                u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/><FieldId ID=\"3\"/>")
                .hr,
            S_OK);
  EXPECT_NE(Status(u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/><FieldId ID=\"3\"/>")
                .find("Lock=\"0\" Secure=\"0\" Hold=\"0\" HoldReason=\"\""),
            std::string::npos);
}

TEST_F(FieldStatusTest, AMixedSelectionIsMixedWhateverTheOrder) {
  ASSERT_EQ(Set(u"IsLocked=\"1\"", u"<FieldId ID=\"2\"/>").hr, S_OK);
  for (const auto* fields :
       {u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/>", u"<FieldId ID=\"2\"/><FieldId ID=\"1\"/>",
        u"<FieldId ID=\"2\"/><FieldId ID=\"2\"/><FieldId ID=\"1\"/>"}) {
    EXPECT_NE(Status(fields).find("Lock=\"2\" Secure=\"0\""), std::string::npos) << Narrow(fields);
  }
  EXPECT_NE(Status(u"<FieldId ID=\"2\"/>").find("Lock=\"1\""), std::string::npos);
  // No field at all: nothing, and no children.
  EXPECT_EQ(
      Status(u""),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopStatus PageId=\"21\" Lock=\"0\" Secure=\"0\" "
      "Hold=\"0\" HoldReason=\"\"></PopStatus></XMLMessage>");
}

TEST_F(FieldStatusTest, AFieldWithoutObjectIsCreatedOnlyWhenAStateIsToBeSet) {
  // All three 0: nothing is made, the event still goes.
  const auto none =
      Set(u"IsLocked=\"0\" IsSecured=\"0\" IsHeld=\"0\"", u"<FieldId ID=\"1\"/>", u"41");
  ASSERT_EQ(none.hr, S_OK) << Narrow(none.error);
  EXPECT_EQ(host_.Count(41, u"NodeObjects"), 0);
  EXPECT_EQ(EventLines(none), (Lines{"DataField [F1 41] to ed"}));
  // Locking makes the pump behind the field and locks its value.
  const auto lock = Set(u"IsLocked=\"1\" ConfirmedClass=\"Pump\"", u"<FieldId ID=\"1\"/>", u"41");
  ASSERT_EQ(lock.hr, S_OK) << Narrow(lock.error);
  EXPECT_EQ(host_.Count(41, u"NodeObjects"), 1);
  const auto status = host_.Send(
      u"GetFieldStatus", u"<GetFieldStatus PageId=\"41\"><FieldId ID=\"1\"/></GetFieldStatus>");
  EXPECT_NE(Narrow(status.reply).find("Lock=\"1\""), std::string::npos) << Narrow(status.reply);
}

TEST_F(FieldStatusTest, RowsOfAListAreTheirOwnFieldsAndAFieldWithoutIdIsRefused) {
  const auto set = Set(u"IsLocked=\"1\"", u"<FieldId ID=\"12\" Index=\"3\"/>", u"51");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  const auto status = host_.Send(u"GetFieldStatus",
                                 u"<GetFieldStatus PageId=\"51\">"
                                 u"<FieldId ID=\"12\" Index=\"3\"/>"
                                 u"<FieldId ID=\"12\" Index=\"0\"/></GetFieldStatus>");
  EXPECT_NE(Narrow(status.reply).find("Lock=\"2\""), std::string::npos) << Narrow(status.reply);
  EXPECT_NE(Narrow(status.reply).find("<FieldId ID=\"12\" Index=\"3\"/>"), std::string::npos);
  EXPECT_EQ(Set(u"IsLocked=\"1\"", u"<FieldId Index=\"1\"/>").hr, E_INVALIDARG);
  EXPECT_EQ(
      host_.Send(u"GetFieldStatus", u"<GetFieldStatus PageId=\"21\"><FieldId/></GetFieldStatus>")
          .hr,
      E_INVALIDARG);
}

}  // namespace
