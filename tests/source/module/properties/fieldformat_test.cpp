// "GetFieldFormat" and "SetFieldFormat" end to end: the reply sums up the
// fields' presentation; a change rewrites the fields' records and tells the
// clients, on a list for every row of the column.
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

class FieldFormatTest : public ::testing::Test {
 protected:
  std::string Format(const std::u16string& page, const std::u16string& fields) {
    const auto result = host_.Send(u"GetFieldFormat", u"<GetFieldFormat PageId=\"" + page + u"\">" +
                                                          fields + u"</GetFieldFormat>");
    EXPECT_EQ(result.hr, S_OK) << Narrow(result.error);
    return Narrow(result.reply);
  }
  kx::host::RequestResult Set(const std::u16string& page, const std::u16string& attributes,
                              const std::u16string& fields) {
    return host_.Send(u"SetFieldFormat", u"<SetFieldFormat PageId=\"" + page + u"\" " + attributes +
                                             u">" + fields + u"</SetFieldFormat>");
  }
  SetterHost host_{FieldFixture()};
};

TEST_F(FieldFormatTest, TheSummaryKeepsCommonValuesAndMarksMixedOnes) {
  // Field 2 is stored with alignment 1 and format "0.0"; the others keep
  // the template's alignment 0.
  EXPECT_EQ(Format(u"21", u"<FieldId ID=\"1\"/><FieldId ID=\"2\"/>"),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><PopFormat PageId=\"21\" Alignment=\"4\" "
            "VerticalAlignment=\"0\" RealFormat=\"0.0\"><FieldId ID=\"1\"/><FieldId ID=\"2\"/>"
            "</PopFormat></XMLMessage>");
  ASSERT_EQ(Set(u"21", u"RealFormat=\"0.000\" DateFormat=\"dd.mm.yy\" VerticalAlignment=\"1\"",
                u"<FieldId ID=\"4\"/>")
                .hr,
            S_OK);
  // Two reals with different formats: an empty text; a date keeps its own.
  EXPECT_EQ(Format(u"21", u"<FieldId ID=\"2\"/><FieldId ID=\"4\"/><FieldId ID=\"6\"/>"),
            "<XMLMessage TargetId=\"T\" Status=\"1\"><PopFormat PageId=\"21\" Alignment=\"4\" "
            "VerticalAlignment=\"3\" DateFormat=\"dd.mm.yy\" RealFormat=\"0.0\"><FieldId ID=\"2\"/>"
            "<FieldId ID=\"4\"/><FieldId ID=\"6\"/></PopFormat></XMLMessage>");
  EXPECT_EQ(
      Format(u"21", u""),
      "<XMLMessage TargetId=\"T\" Status=\"1\"><PopFormat PageId=\"21\"></PopFormat></XMLMessage>");
}

TEST_F(FieldFormatTest, OnAPlainPageExactlyOneRecordChangesAndReapplyingChangesNothing) {
  const auto set = Set(u"21", u"Alignment=\"2\" RealFormat=\"0.0\" BoolFormat=\"Yes/No\"",
                       u"<FieldId ID=\"2\"/><FieldId ID=\"5\"/><FieldId ID=\"6\"/>");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  EXPECT_EQ(host_.Value(kPage, u"Fields", 2),
            "<Real FieldId=\"2\" Format=\"0.0\" Alignment=\"2\" VerticalAlignment=\"0\"/>");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 5),
            "<Bool FieldId=\"5\" Format=\"Yes/No\" Alignment=\"2\" VerticalAlignment=\"0\"/>");
  // A check field keeps no presentation.
  EXPECT_EQ(host_.Value(kPage, u"Fields", 6), "");
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 21] to ed"}));
  const auto again = Set(u"21", u"Alignment=\"2\" RealFormat=\"0.0\"", u"<FieldId ID=\"2\"/>");
  ASSERT_EQ(again.hr, S_OK);
  EXPECT_EQ(EventLines(again), Lines{});
  // Letter case alone: a Boolean format is rewritten, a real one is not.
  EXPECT_EQ(EventLines(Set(u"21", u"RealFormat=\"0.0\"", u"<FieldId ID=\"2\"/>")), Lines{});
  EXPECT_EQ(EventLines(Set(u"21", u"BoolFormat=\"YES/NO\"", u"<FieldId ID=\"5\"/>")),
            (Lines{"DataField [F1 21] to ed"}));
  EXPECT_EQ(host_.Value(kPage, u"Fields", 5),
            "<Bool FieldId=\"5\" Format=\"YES/NO\" Alignment=\"2\" VerticalAlignment=\"0\"/>");
  // A row on a page that is no list names the one field.
  ASSERT_EQ(Set(u"21", u"Alignment=\"3\"", u"<FieldId ID=\"1\" Index=\"2\"/>").hr, S_OK);
  EXPECT_EQ(host_.Value(kPage, u"Fields", 1),
            "<String FieldId=\"1\" Alignment=\"3\" VerticalAlignment=\"0\" Index=\"2\"/>");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 3), "");
}

TEST_F(FieldFormatTest, OneRowOfAFiveRowListChangesTheWholeColumn) {
  const auto set =
      Set(u"51", u"RealFormat=\"0.0\" Alignment=\"1\"", u"<FieldId ID=\"13\" Index=\"2\"/>");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  // Field 11 stands once at 1; each row holds 12 and 13.
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(
        host_.Value(51, u"Fields", 3 + 2 * row),
        "<Real FieldId=\"13\" Format=\"0.0\" Alignment=\"1\" VerticalAlignment=\"0\" Index=\"" +
            std::to_string(row) + "\"/>")
        << row;
  }
  EXPECT_EQ(host_.Value(51, u"Fields", 2), "<String FieldId=\"12\" Index=\"0\" Alignment=\"2\"/>");
  EXPECT_EQ(host_.Value(51, u"Fields", 12), "");
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 51] to ed"}));
  EXPECT_EQ(Set(u"51", u"Alignment=\"1\"", u"<FieldId Index=\"2\"/>").hr, E_INVALIDARG);
}

// The record of the row named carries a format and a vertical alignment of
// its own: with the request's alignment they reach every other row.
TEST(FieldFormatListTest, TheOtherRowsTakeTheNamedRowsWholePresentation) {
  std::string fixture = FieldFixture();
  const std::string rows = kx::test::xml::Values(
      "Fields", {R"(<String FieldId="11"/>)", R"(<String FieldId="12" Index="0" Alignment="2"/>)",
                 R"(<Real FieldId="13" Index="0" Format="0.00"/>)"});
  const size_t at = fixture.find(rows);
  ASSERT_NE(at, std::string::npos);
  fixture.replace(
      at, rows.size(),
      kx::test::xml::Values(
          "Fields",
          {R"(<String FieldId="11"/>)", R"(<String FieldId="12" Index="0" Alignment="2"/>)",
           R"(<Real FieldId="13" Index="0" Format="0.00"/>)", R"(<String FieldId="12" Index="1"/>)",
           R"(<Real FieldId="13" Index="1" Format="g1" VerticalAlignment="1"/>)"}));
  SetterHost host(fixture.c_str());
  const auto set = host.Send(u"SetFieldFormat",
                             u"<SetFieldFormat PageId=\"51\" Alignment=\"2\">"
                             u"<FieldId ID=\"13\" Index=\"1\"/></SetFieldFormat>");
  ASSERT_EQ(set.hr, S_OK) << Narrow(set.error);
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(
        host.Value(51, u"Fields", 3 + 2 * row),
        "<Real FieldId=\"13\" Format=\"g1\" Alignment=\"2\" VerticalAlignment=\"1\" Index=\"" +
            std::to_string(row) + "\"/>")
        << row;
  }
  EXPECT_EQ(EventLines(set), (Lines{"DataField [F1 51] to ed"}));
}

// A field shows the template's alignments where its record sets none:
// asking for those same alignments stores nothing and tells no client.
TEST_F(FieldFormatTest, ThePresentationAFieldAlreadyShowsIsNotStoredAgain) {
  EXPECT_NE(Format(u"21", u"<FieldId ID=\"1\"/>").find("Alignment=\"0\" VerticalAlignment=\"0\""),
            std::string::npos);
  const auto format =
      Set(u"21", u"Alignment=\"0\" VerticalAlignment=\"0\"", u"<FieldId ID=\"1\"/>");
  ASSERT_EQ(format.hr, S_OK) << Narrow(format.error);
  EXPECT_EQ(EventLines(format), Lines{});
  const auto properties = host_.Send(u"SetFieldProperties",
                                     u"<SetFieldProperties PageId=\"21\" FieldId=\"1\" "
                                     u"Alignment=\"0\" VerticalAlignment=\"0\"/>");
  ASSERT_EQ(properties.hr, S_OK) << Narrow(properties.error);
  EXPECT_EQ(EventLines(properties), Lines{});
  EXPECT_EQ(host_.Value(kPage, u"Fields", 1), "<String FieldId=\"1\"/>");
  // Another alignment is stored, with what the field showed besides.
  const auto changed = Set(u"21", u"Alignment=\"3\"", u"<FieldId ID=\"1\"/>");
  EXPECT_EQ(EventLines(changed), (Lines{"DataField [F1 21] to ed"}));
  EXPECT_EQ(host_.Value(kPage, u"Fields", 1),
            "<String FieldId=\"1\" Alignment=\"3\" VerticalAlignment=\"0\"/>");
}

}  // namespace
