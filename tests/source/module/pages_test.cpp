// "ListTemplatePages" and "ListTemplatePagesByObject" end to end: the host
// sends the request to a Main attached to a small template store, and the
// reply lists the template pages a client may insert, labelled.
#include <gtest/gtest.h>

#include "com/wstr.h"
#include "kxdbdatasheetutils.h"
#include "support/moduletestsupport.h"
#include "support/templatestore.h"

using namespace moduletest;

namespace {

std::string Text(const std::u16string& text) { return Narrow(text); }

// The "Pages" element of `tmpl` for object 100 ("P-100") or for none.
std::string PumpPages(const char* objectId) {
  const std::string object = objectId ? std::string(" ObjectId=\"") + objectId + "\"" : "";
  const std::string prefix = objectId ? "P-100: " : "";
  return "<Pages TemplateId=\"PUMP\"" + object + ">" + "<Page TemplatePageId=\"P1\" Name=\"" +
         prefix + "Pump sheet - Process 1\"/>" + "<Page TemplatePageId=\"P2\" Name=\"" + prefix +
         "Pump sheet - 2\"/>" + "<Page TemplatePageId=\"P3\" Name=\"" + prefix +
         "Pump sheet - Motor %s 00003 of %d %\"/></Pages>";
}

std::string ListPages(const std::string& object) {
  const bool named = !object.empty();
  return "<Pages TemplateId=\"LIST\"" + (named ? " ObjectId=\"" + object + "\"" : std::string()) +
         "><Page TemplatePageId=\"L1\" Name=\"" +
         (object == "100"   ? "P-100: "
          : object == "200" ? "V-200: "
                            : "") +
         "A summary list - List 1\"/></Pages>";
}

TEST(ListTemplatePages, AnOrdinaryDatasheetListsTheTemplatesOfItsObjectsThenTheLists) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplatePages", u"1000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"1000\">" + ListPages("100") + PumpPages("100") +
                "<Pages TemplateId=\"pump-b\" ObjectId=\"100\"><Page TemplatePageId=\"B1\" "
                "Name=\"P-100: PUMP SHEET - Sheet\"/></Pages>" +
                ListPages("") + "</XMLMessage>",
            Text(result.reply));
}

TEST(ListTemplatePages, WithoutPrimaryObjectsTheGlobalsClassServes) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplatePages", u"4000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"4000\">"
      "<Pages TemplateId=\"GLOBE\"><Page TemplatePageId=\"G1\" Name=\"g globals - Globals "
      "1\"/></Pages>" +
          ListPages("") + ListPages("") + "</XMLMessage>",
      Text(result.reply));
  // "d general" is never offered.
  EXPECT_EQ(std::string::npos, Text(result.reply).find("GEN"));
}

TEST(ListTemplatePages, SummarySheetsListTheirOwnTemplateOrTheLists) {
  TemplateStore plant;
  auto result = plant.Request(u"ListTemplatePages", u"3000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"3000\"><Pages TemplateId=\"PLAINSUM\"><Page TemplatePageId=\"S1\" "
      "Name=\"c plain summary - Summary\"/></Pages></XMLMessage>",
      Text(result.reply));
  result = plant.Request(u"ListTemplatePages", u"2000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"2000\">" + ListPages("") + "</XMLMessage>", Text(result.reply));
}

TEST(ListTemplatePages, AnIdThatNamesNoDatasheetFails) {
  TemplateStore plant;
  EXPECT_FALSE(plant.Request(u"ListTemplatePages", u"999999").succeeded());
  const auto result = plant.Request(u"ListTemplatePages", u"not a number");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(u"", result.reply);
}

TEST(ListTemplatePagesByObject, OneRecordPerObjectEvenWhenNamedTwice) {
  TemplateStore plant;
  const auto result =
      plant.Request(u"ListTemplatePagesByObject",
                    u"<XMLMessage TargetId=\"Insert\" Status=\"1\"><ListTemplatePagesByObject>"
                    u"<ObjectId>100</ObjectId><ObjectId>200</ObjectId><ObjectId> 100</ObjectId>"
                    u"</ListTemplatePagesByObject></XMLMessage>");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"Insert\">" + ListPages("100") + PumpPages("100") +
                "<Pages TemplateId=\"pump-b\" ObjectId=\"100\"><Page TemplatePageId=\"B1\" "
                "Name=\"P-100: PUMP SHEET - Sheet\"/></Pages>" +
                ListPages("200") +
                "<Pages TemplateId=\"OFF\" ObjectId=\"200\"><Page TemplatePageId=\"O1\" "
                "Name=\"V-200: e off - Off\"/></Pages>"
                "<Pages TemplateId=\"VES\" ObjectId=\"200\"><Page TemplatePageId=\"V1\" "
                "Name=\"V-200: b vessel - Shell\"/></Pages>"
                "</XMLMessage>",
            Text(result.reply));
}

TEST(ListTemplatePagesByObject, WithoutObjectsNothingIsWritten) {
  TemplateStore plant;
  auto result =
      plant.Request(u"ListTemplatePagesByObject",
                    u"<XMLMessage TargetId=\"X\"><ListTemplatePagesByObject/></XMLMessage>");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(u"", result.reply);
  result = plant.Request(
      u"ListTemplatePagesByObject",
      u"<XMLMessage TargetId=\"X\"><ListTemplatePagesByObject><ObjectId>424242</ObjectId>"
      u"</ListTemplatePagesByObject></XMLMessage>");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(u"", result.reply);
}

TEST(PageNames, OnlyTheFirstIntegerDirectiveTakesTheNumber) {
  using KXDBDatasheetSvcs::FormatPageName;
  EXPECT_EQ(u"Page 3", FormatPageName(u"Page %d", 3));
  EXPECT_EQ(u"Page 3 of %d", FormatPageName(u"Page %d of %d", 3));
  EXPECT_EQ(u"Page 003, 100%", FormatPageName(u"Page %03i, 100%%", 3));
  EXPECT_EQ(u"%s %n %x 7", FormatPageName(u"%s %n %x %lu", 7));
  EXPECT_EQ(u"[-5  ]", FormatPageName(u"[%-4d]", -5));
  EXPECT_EQ(u"No number", FormatPageName(u"No number", 9));
  EXPECT_EQ(u"50%", FormatPageName(u"50%", 1));
  // Never longer than the name and 8 characters.
  EXPECT_EQ(u"x          ", FormatPageName(u"x%99999999d", 1).substr(0, 11));
  EXPECT_EQ(19u, FormatPageName(u"x%99999999d", 1).size());
  EXPECT_EQ(u"4294967295", FormatPageName(u"%u", -1));
}

}  // namespace
