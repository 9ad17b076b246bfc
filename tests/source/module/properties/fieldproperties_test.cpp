// "GetFieldProperties" and "SetFieldProperties" end to end: the reply tells
// what stands behind a field; a change sets the value's states and rewrites
// the field's record, on a list for the field on every row.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "storexml.h"
#include "support/fieldhost.h"
#include "support/setterhost.h"

using namespace kx::test::setters;
using namespace kx::test::fields;

namespace {

using Lines = std::vector<std::string>;

class FieldPropertiesTest : public ::testing::Test {
 protected:
  std::string Properties(const std::u16string& attributes) {
    const auto result =
        host_.Send(u"GetFieldProperties", u"<GetFieldProperties " + attributes + u"/>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    return Narrow(result.reply);
  }
  kx::host::RequestResult Set(const std::u16string& attributes) {
    return host_.Send(u"SetFieldProperties", u"<SetFieldProperties " + attributes + u"/>");
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(FieldPropertiesTest, AFieldWithItsValueBehindIt) {
  ASSERT_EQ(Set(u"PageId=\"21\" FieldId=\"2\" IsLocked=\"1\" IsHeld=\"1\" HoldId=\"90\"").hr, S_OK);
  // The value in the page's unit and in each unit of the field; never
  // issued, so changed (0x100).
  EXPECT_EQ(
      Properties(u"PageId=\"21\" FieldId=\"2\""),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopProperties PageId=\"21\" FieldId=\"2\" "
      "Class=\"Pump\" Type=\"Real\" Attribute=\"Pump: Flow\" Documentation=\"\" Disciplines=\"\" "
      "Case=\"Design\" Value=\"2\" Units=\"litres per second\" IssuedValue=\"\" State=\"256\" "
      "Lock=\"1\" Secure=\"0\" Hold=\"1\" HoldReason=\"H-1: vendor data\" Alignment=\"1\" "
      "VerticalAlignment=\"0\" RealFormat=\"0.0\" Prefix=\"\" Postfix=\"\" Substitution=\"\">"
      "<RealData><Data Value=\"7.2\" Units=\"m3/h\"/><Data Value=\"2\" Units=\"l/s\"/></RealData>"
      "</PopProperties></XMLMessage>");
  // A field without a case slot.
  EXPECT_NE(Properties(u"PageId=\"21\" FieldId=\"9\"").find("Case=\"Undefined\""),
            std::string::npos);
}

// The field fixture with documented attributes: the pump's flow refers to
// a standard, every tag to the tagging rule (without a text of its own).
std::string DocumentedFixture() {
  std::string text = FieldFixture();
  auto replace = [&text](const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    ASSERT_NE(at, std::string::npos) << what;
    text.replace(at, what.size(), with);
  };
  replace("<attribute name=\"Flow\" type=\"real\" dimension=\"Flow\" unit=\"m3/h\"/>",
          "<attribute name=\"Flow\" type=\"real\" dimension=\"Flow\" unit=\"m3/h\" "
          "doc=\"Rated flow\" link=\"92\"/>");
  replace("<attribute name=\"Tag\"/>", "<attribute name=\"Tag\" link=\"93\"/>");
  replace(" </schema>",
          "  <class name=\"Standard\"><attribute name=\"Name\"/></class>\n </schema>");
  replace(
      " </objects>",
      "  <object id=\"92\" class=\"Standard\"><value attribute=\"Name\">API 610</value></object>\n"
      "  <object id=\"93\" class=\"Standard\"><value attribute=\"Name\">Tagging rule</value>"
      "</object>\n </objects>");
  return text;
}

TEST(FieldDocumentationTest, TheRoutesAttributeDefinitionGivesTheTextAndItsLinkedObjectsName) {
  const std::string fixture = DocumentedFixture();
  SetterHost host(fixture.c_str());
  auto documentation = [&host](const std::u16string& attributes) {
    const auto result =
        host.Send(u"GetFieldProperties", u"<GetFieldProperties " + attributes + u"/>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    const std::string reply = Narrow(result.reply);
    const size_t at = reply.find("Documentation=\"");
    if (at == std::string::npos) return reply;
    const size_t from = at + 15;
    return reply.substr(from, reply.find('"', from) - from);
  };
  // A value behind the field, and none: the same definition either way.
  EXPECT_EQ(documentation(u"PageId=\"21\" FieldId=\"2\""), "Rated flow (API 610)");
  EXPECT_EQ(documentation(u"PageId=\"41\" FieldId=\"2\""), "Rated flow (API 610)");
  EXPECT_EQ(documentation(u"PageId=\"21\" FieldId=\"1\""), "(Tagging rule)");
  // Through the pump's nozzles to the nozzle's tag, with and without them.
  EXPECT_EQ(documentation(u"PageId=\"21\" FieldId=\"20\""), "(Tagging rule)");
  EXPECT_EQ(documentation(u"PageId=\"41\" FieldId=\"20\""), "(Tagging rule)");
  // An attribute without documentation or link.
  EXPECT_EQ(documentation(u"PageId=\"21\" FieldId=\"3\""), "");
}

TEST_F(FieldPropertiesTest, AFieldWithNothingBehindIt) {
  EXPECT_EQ(
      Properties(u"PageId=\"41\" FieldId=\"2\""),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopProperties PageId=\"41\" FieldId=\"2\" "
      "Class=\"Pump\" Type=\"Real\" Attribute=\"Pump: Flow\" Documentation=\"\" Disciplines=\"\" "
      "Case=\"Design\" Value=\"\" Units=\"cubic metres per hour\" IssuedValue=\"\" State=\"256\" "
      "Lock=\"0\" Secure=\"0\" Hold=\"0\" HoldReason=\"\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "RealFormat=\"\" Prefix=\"\" Postfix=\"\" Substitution=\"\"></PopProperties></XMLMessage>");
  // All three states 0 and the presentation unchanged: nothing at all.
  const auto none = Set(u"PageId=\"41\" FieldId=\"1\" IsLocked=\"0\" IsHeld=\"0\" IsSecured=\"0\"");
  ASSERT_EQ(none.hr, S_OK) << Narrow(none.error);
  EXPECT_EQ(EventLines(none), Lines{});
  EXPECT_EQ(host_.Count(41, u"NodeObjects"), 0);
}

TEST_F(FieldPropertiesTest, APresentationChangeMakesTheObjectAndStoresTheRecordWithOneEvent) {
  const auto set = Set(u"PageId=\"41\" FieldId=\"1\" Alignment=\"2\" ConfirmedClass=\"Pump\"");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  EXPECT_EQ(host_.Count(41, u"NodeObjects"), 1);
  EXPECT_EQ(host_.Value(41, u"Fields", 1),
            "<String FieldId=\"1\" Alignment=\"2\" VerticalAlignment=\"0\"/>");
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 41] to ed"}));
  const auto status = host_.Send(
      u"GetFieldStatus", u"<GetFieldStatus PageId=\"41\"><FieldId ID=\"1\"/></GetFieldStatus>");
  EXPECT_NE(Narrow(status.reply).find("Lock=\"0\" Secure=\"0\" Hold=\"0\""), std::string::npos);
  // A check field gets its states but no presentation and no event.
  const auto check = Set(u"PageId=\"21\" FieldId=\"6\" IsSecured=\"1\" Alignment=\"2\"");
  ASSERT_EQ(check.hr, S_OK) << Narrow(check.error);
  EXPECT_EQ(EventLines(check), Lines{});
  EXPECT_EQ(host_.Value(kPage, u"Fields", 6), "");
}

TEST_F(FieldPropertiesTest, OnAListEveryRowIsHandledNotOnlyTheFirst) {
  const auto set = Set(u"PageId=\"51\" FieldId=\"12\" Index=\"3\" IsLocked=\"1\" Alignment=\"1\"");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(host_.Value(51, u"Fields", 2 + 2 * row),
              "<String FieldId=\"12\" Alignment=\"1\" VerticalAlignment=\"0\" Index=\"" +
                  std::to_string(row) + "\"/>")
        << row;
  }
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 51] to ed"}));
  const auto status = host_.Send(u"GetFieldStatus",
                                 u"<GetFieldStatus PageId=\"51\">"
                                 u"<FieldId ID=\"12\" Index=\"0\"/>"
                                 u"<FieldId ID=\"12\" Index=\"4\"/></GetFieldStatus>");
  EXPECT_NE(Narrow(status.reply).find("Lock=\"1\""), std::string::npos) << Narrow(status.reply);
  // The row's own class and value.
  const std::string row4 = Properties(u"PageId=\"51\" FieldId=\"12\" Index=\"4\"");
  EXPECT_NE(row4.find("Index=\"4\" Class=\"Pump\" Type=\"String\""), std::string::npos) << row4;
  EXPECT_NE(row4.find("Value=\"P-205\""), std::string::npos) << row4;
}

// The issued value carries the unit the issued copy showed: the current
// page has since turned from m3/h to l/s.
TEST(FieldPropertiesIssuedTest, TheIssuedValueCarriesTheIssuedCopysUnit) {
  std::string fixture = FieldFixture();
  const size_t page = fixture.find("<object id=\"25\"");
  ASSERT_NE(page, std::string::npos);
  const std::string active = "<value attribute=\"ActivePage\" ref=\"21\"/>\n";
  const size_t at = fixture.find(active, page);
  ASSERT_NE(at, std::string::npos);
  fixture.insert(at + active.size(),
                 kx::test::xml::Value("Units", "m3/h") +
                     kx::test::xml::Values("Fields", {R"(<String FieldId="1" Value="P-101"/>)",
                                                      R"(<Real FieldId="2" Value="7.2"/>)"}));
  SetterHost host(fixture.c_str());
  const auto result =
      host.Send(u"GetFieldProperties", u"<GetFieldProperties PageId=\"21\" FieldId=\"2\"/>");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_NE(reply.find("Value=\"2\" Units=\"litres per second\" "
                       "IssuedValue=\"7.2 (cubic metres per hour)\""),
            std::string::npos)
      << reply;
}

// A field record on the issued copy of the page that cannot be read fails
// the request with its chain instead of answering success without a reply.
TEST(FieldPropertiesIssuedTest, AnUnreadableIssuedRecordFailsTheRequest) {
  std::string fixture = FieldFixture();
  const std::string active = "<value attribute=\"ActivePage\" ref=\"21\"/>\n";
  const std::string broken =
      active + kx::test::xml::Values("Fields", {R"(<String FieldId="1"/>)", R"(<Real FieldId=)"});
  for (size_t at = fixture.find(active); at != std::string::npos;
       at = fixture.find(active, at + broken.size())) {
    fixture.replace(at, active.size(), broken);
  }
  SetterHost host(fixture.c_str());
  const auto result =
      host.Send(u"GetFieldProperties", u"<GetFieldProperties PageId=\"21\" FieldId=\"2\"/>");
  EXPECT_TRUE(FAILED(result.hr)) << Narrow(result.reply);
  EXPECT_EQ(Narrow(result.error).rfind("<KXError ", 0), 0u) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
}

}  // namespace
