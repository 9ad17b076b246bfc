// "ListTemplates" and "ListCachedTemplates" end to end: the host sends the
// message to a Main attached to a small template store; the reply, the texts
// for the user and the log, and failures are checked.
#include "pages/listtemplates.h"

#include <gtest/gtest.h>

#include "com/wstr.h"
#include "support/moduletestsupport.h"
#include "support/templatestore.h"

using namespace kx::test::inprocess;

namespace {

std::string Text(const std::u16string& text) { return Narrow(text); }

TEST(ListTemplates, DatasheetAndSummaryTemplatesByNameWithoutRegardToCase) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplates", u"ignored <text>");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"App\"><Templates>"
      "<Template Name=\"A summary list\" TemplateId=\"LIST\" Class=\"GenericClass\" "
      "DatasheetCategory=\"Lists\"/>"
      "<Template Name=\"b vessel\" TemplateId=\"VES\" Class=\"Vessel\" "
      "DatasheetCategory=\"Static\"/>"
      "<Template Name=\"c plain summary\" TemplateId=\"PLAINSUM\" Class=\"Pump\" "
      "DatasheetCategory=\"General\"/>"
      "<Template Name=\"g globals\" TemplateId=\"GLOBE\" Class=\"GlobalsClass\" "
      "DatasheetCategory=\"Site\"/>"
      "<Template Name=\"Pump sheet\" TemplateId=\"PUMP\" Class=\"Pump\" "
      "DatasheetCategory=\"Rotating\"/>"
      "<Template Name=\"PUMP SHEET\" TemplateId=\"pump-b\" Class=\"Pump\" "
      "DatasheetCategory=\"General\"/>"
      "</Templates></XMLMessage>",
      Text(result.reply));
}

TEST(ListTemplates, TemplatesThatCannotBeLoadedAreReportedAfterTheReply) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplates", u"");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  // "f no class" has no class description; "d general" and the unavailable
  // "e off" are left out without a word.
  ASSERT_EQ(1u, result.messages.size());
  EXPECT_EQ("The following Templates could not be loaded:\nf no class\n", Text(result.messages[0]));
  ASSERT_EQ(1u, result.warnings.size());
  EXPECT_EQ(
      "Operation Open Document -> By Type failed to load the following Templates:\nf no class\n",
      Text(result.warnings[0]));
  EXPECT_EQ(std::string::npos, Text(result.reply).find("NOCLASS"));
}

TEST(ListTemplates, WithoutTemplateLibraryTheRequestFails) {
  TemplateStore plant;
  plant.host().application().SetStore(plant.database(), nullptr, nullptr);
  const auto result = plant.Request(u"ListTemplates", u"");
  EXPECT_EQ(E_FAIL, result.hr);
  EXPECT_EQ("The host has no template library", FirstDescription(result));
  EXPECT_EQ(u"", result.reply);
}

TEST(ListCachedTemplates, OnlyRecordsWithTemplateIdAndChecknumInStoreOrder) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListCachedTemplates", u"");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"App\"><CachedTemplates>"
      "<Template TemplateId=\"PUMP\" Checknum=\"2\"/>"
      "<Template TemplateId=\"pump-b\" Checknum=\"1\"/>"
      "<Template TemplateId=\"LIST\" Checknum=\"1\"/>"
      "</CachedTemplates></XMLMessage>",
      Text(result.reply));
}

TEST(ListCachedTemplates, ASchemaWithoutTemplateClassFails) {
  TemplateStore plant;
  std::unique_ptr<kx::store::Store> bare;
  ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &bare).ok());
  ASSERT_TRUE(
      bare->ImportFixtureText("<store><schema><class name=\"Pump\"/></schema></store>", "bare")
          .ok());
  IKXQSchemaPtr schema;
  ASSERT_EQ(S_OK, bare->Database()->get_Schema(&schema));
  plant.host().application().SetStore(bare->Database(), schema, nullptr);
  plant.host().Detach();
  const auto service = CreateInProcessMain(&MainWorkers::Defaults());
  ASSERT_EQ(S_OK, plant.host().Attach(service.get()));
  const auto result = plant.Request(u"ListCachedTemplates", u"");
  EXPECT_EQ(E_FAIL, result.hr);
  EXPECT_EQ("Failed to find template class representing QMF templates", FirstDescription(result));
  EXPECT_EQ(u"", result.reply);
  plant.host().Detach();
}

TEST(TemplateListOrder, EqualNamesKeepTheirOrderAndOnlyTheSameIdIsDropped) {
  TemplateList list;
  EXPECT_TRUE(list.InsertSorted(u"b", u"1", u"C", u"G"));
  EXPECT_TRUE(list.InsertSorted(u"A", u"2", u"C", u"G"));
  EXPECT_TRUE(list.InsertSorted(u"c", u"3", u"C", u"G"));
  EXPECT_TRUE(list.InsertSorted(u"B", u"4", u"C", u"G"));
  EXPECT_FALSE(list.InsertSorted(u"zz", u"1", u"C", u"G"));
  ASSERT_EQ(4u, list.Count());
  std::string order;
  for (size_t i = 0; i < list.Count(); ++i)
    order += Narrow(list.At(i).name) + Narrow(list.At(i).templateId) + " ";
  EXPECT_EQ("A2 b1 B4 c3 ", order);
}

}  // namespace
