// "OpenDocuments", "PrintDocuments", "ExportDocuments" and
// "CompareDocuments" end to end: validation first, then the loader's reply,
// the user's message about datasheets left out, the open version.
#include <gtest/gtest.h>
#include <string>

#include "support/validationfixture.h"

using namespace kx::test::validation;
using kx::test::pages::Count;
using kx::test::pages::FirstDesc;
using kx::test::pages::Narrow;

namespace {

std::u16string Documents(const char16_t* message, const std::u16string& children) {
  return u"<XMLMessage TargetId=\"x\" Status=\"9\"><" + std::u16string(message) + u">" + children +
         u"</" + message + u"></XMLMessage>";
}

std::u16string Sheet(const char16_t* id, const char16_t* status = u"1") {
  return u"<Datasheet DocumentId=\"" + std::u16string(id) + u"\" Status=\"" + status + u"\"/>";
}

TEST(ProcessDocumentsTest, OpenWritesTheValidDatasheetsAndNamesTheOthersAfterTheReply) {
  ValidationPlant plant;
  const auto result = plant.host().Request(
      u"OpenDocuments",
      Documents(u"OpenDocuments", Sheet(u"200") + Sheet(u"300") + u"<Diagram DocumentId=\"10\"/>"));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><OpenDocuments><Datasheet ", 0), 0u) << reply;
  EXPECT_EQ(Count(reply, "<Datasheet "), 1u) << reply;
  EXPECT_NE(reply.find("DocumentId=\"300\""), std::string::npos) << reply;
  EXPECT_NE(reply.find("<Diagram DocumentId=\"10\" Status=\"-1\"/></OpenDocuments></XMLMessage>"),
            std::string::npos)
      << reply;
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(Narrow(result.messages[0]),
            "The following datasheet(s) cannot be opened due to an invalid template.\n\n"
            "Datasheet OID=200, Name=Lost sheet, TemplateID=GONE.");
}

TEST(ProcessDocumentsTest, OpeningAStaleDatasheetRebuildsItFirst) {
  ValidationPlant plant;
  const auto result =
      plant.host().Request(u"OpenDocuments", Documents(u"OpenDocuments", Sheet(u"100")));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_NE(Narrow(result.reply).find("DocumentId=\"100\""), std::string::npos)
      << Narrow(result.reply);
  EXPECT_TRUE(result.messages.empty());
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "2");
}

// The "Value" of the first shown field with that id, "(none)" when the
// reply has no such field or value.
std::string FieldValue(const std::string& reply, const std::string& fieldId) {
  const size_t at = reply.find("FieldId=\"" + fieldId + "\"");
  if (at == std::string::npos) return "(none)";
  const size_t end = reply.find("/>", at);
  const size_t value = reply.find("Value=\"", at);
  if (value == std::string::npos || value > end) return "(none)";
  return reply.substr(value + 7, reply.find('"', value + 7) - value - 7);
}

// Opening a stale datasheet whose pump shows its nozzles on child nodes:
// each nozzle node keeps its own nozzle of the pump's list (not the spare of
// another pump the page also showed), the driver comes back by its route,
// and each field keeps the first record of its id that was not kept for
// another item.
TEST(ProcessDocumentsTest, OpeningRebuildsChildNodesFromTheirParentAndKeepsEachFieldsRecord) {
  ValidationPlant plant;
  const std::string flow = std::to_string(plant.ItemNumber(kPump3, u"Flow"));
  const std::string head = std::to_string(plant.ItemNumber(kPump3, u"Head"));
  const std::string name = std::to_string(plant.ItemNumber(kNozzle1, u"Name"));
  ASSERT_NE(flow, head);
  // Field 3 showed "Flow" and now shows "Head". The first record of its id
  // was kept for the "Flow" item ("Index"): it is not the field's now. The
  // next was written while the field showed "Flow" ("AttribId") but kept
  // for no item: it stays the field's record, with its format.
  const std::string flowRecord =
      "<Real FieldId=\"3\" Value=\"12.5\" Format=\"0.0\" Index=\"" + flow + "\"/>";
  const std::string fieldRecord =
      "<Real FieldId=\"3\" AttribId=\"" + flow + "\" Value=\"7\" Format=\"0.000\"/>";
  const std::string nozzle1 = "<String FieldId=\"1\" AttribId=\"" + name + "\" Value=\"N-1\"/>";
  const std::string nozzle2 = "<String FieldId=\"2\" AttribId=\"" + name + "\" Value=\"N-2\"/>";
  plant.Put(kNozzlePage, u"Fields", 2, flowRecord);
  plant.Put(kNozzlePage, u"Fields", 3, nozzle1);
  plant.Put(kNozzlePage, u"Fields", 4, nozzle2);
  plant.Put(kNozzlePage, u"Fields", 5, fieldRecord);

  const auto result =
      plant.host().Request(u"OpenDocuments", Documents(u"OpenDocuments", Sheet(u"800")));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_TRUE(result.messages.empty());
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(FieldValue(reply, "1"), "N-1") << reply;
  EXPECT_EQ(FieldValue(reply, "2"), "N-2") << reply;
  EXPECT_EQ(FieldValue(reply, "5"), "M-1") << reply;
  // "Head" in the page's millimetres, in the format of the field's record.
  EXPECT_NE(reply.find("FieldId=\"3\" Format=\"0.000\""), std::string::npos) << reply;
  EXPECT_EQ(FieldValue(reply, "3"), "7000") << reply;
  EXPECT_EQ(reply.find("Format=\"0.0\""), std::string::npos) << reply;

  EXPECT_EQ(plant.Text(kNozzlePage, u"Checknum"), "2");
  // Pump, its two nozzles, the spare; the driver found by its route.
  EXPECT_EQ(plant.List(kNozzlePage, u"NodeObjects"), "#13|#14|#15|#16|#12");
  EXPECT_EQ(plant.List(kNozzlePage, u"NodeIndices"), "1|2|3|-|5|4");
  // The third nozzle node has no nozzle left and is not filled by route.
  EXPECT_EQ(plant.List(kNozzlePage, u"HiddenObjects"), "-|-|-|0");
  const std::string fields = plant.List(kNozzlePage, u"Fields");
  EXPECT_EQ(fields.rfind(fieldRecord + "|<Sketch FieldId=\"6\"", 0), 0u) << fields;
  EXPECT_NE(fields.find("|" + nozzle1 + "|" + nozzle2 + "|-|-"), std::string::npos) << fields;
  EXPECT_EQ(fields.find(flowRecord), std::string::npos) << fields;
}

TEST(ProcessDocumentsTest, PrintAndExportNameTheirVerbAndAnEmptyRequestGivesAnEmptyElement) {
  ValidationPlant plant;
  const auto printed =
      plant.host().Request(u"PrintDocuments", Documents(u"PrintDocuments", Sheet(u"200")));
  ASSERT_TRUE(printed.succeeded()) << Narrow(printed.error);
  EXPECT_EQ(Narrow(printed.reply),
            "<XMLMessage TargetId=\"App\"><PrintDocuments></PrintDocuments></XMLMessage>");
  ASSERT_EQ(printed.messages.size(), 1u);
  EXPECT_NE(Narrow(printed.messages[0]).find("cannot be printed due to"), std::string::npos);

  const auto exported =
      plant.host().Request(u"ExportDocuments", Documents(u"ExportDocuments", Sheet(u"300")));
  ASSERT_TRUE(exported.succeeded()) << Narrow(exported.error);
  EXPECT_EQ(
      Narrow(exported.reply).rfind("<XMLMessage TargetId=\"App\"><ExportDocuments><Datasheet ", 0),
      0u);
  EXPECT_TRUE(exported.messages.empty());

  const auto empty = plant.host().Request(u"OpenDocuments", Documents(u"OpenDocuments", u""));
  EXPECT_EQ(Narrow(empty.reply),
            "<XMLMessage TargetId=\"App\"><OpenDocuments></OpenDocuments></XMLMessage>");
  EXPECT_TRUE(empty.messages.empty());
}

TEST(ProcessDocumentsTest, ADatasheetThatNoLongerExistsFailsTheRequest) {
  ValidationPlant plant;
  const auto result =
      plant.host().Request(u"OpenDocuments", Documents(u"OpenDocuments", Sheet(u"9999")));
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(result.error),
            "This datasheet no longer exists in the workspace.\nIt may have been deleted by "
            "another user.");
  // Raised where the document is opened, not in the validation it never
  // reached.
  const std::string error = Narrow(result.error);
  EXPECT_NE(error.find("File=\"kxdbdatasheetsvcs/processdocuments\""), std::string::npos) << error;
  EXPECT_EQ(error.find("validatetemplates"), std::string::npos) << error;
}

std::u16string Compare(const char16_t* id1, const char16_t* status1, const char16_t* id2,
                       const char16_t* status2) {
  return u"<XMLMessage><CompareDocuments><Datasheet1 DocumentId1=\"" + std::u16string(id1) +
         u"\" Status1=\"" + status1 + u"\"/><Datasheet2 DocumentId2=\"" + id2 + u"\" Status2=\"" +
         status2 + u"\"/></CompareDocuments></XMLMessage>";
}

TEST(CompareDocumentsTest, TwoDatasheetsOfOneTemplateOpenTheFirstWithTheSecondAsComparison) {
  ValidationPlant plant;
  const auto result =
      plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"100", u"1"));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><OpenDocuments><Datasheet ", 0), 0u) << reply;
  EXPECT_EQ(Count(reply, "<Datasheet "), 1u) << reply;
  EXPECT_NE(reply.find("DocumentId=\"300\""), std::string::npos) << reply;
  // Both were validated: the stale second one was rebuilt on the way.
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "2");
}

TEST(CompareDocumentsTest, EachRefusalHasItsText) {
  ValidationPlant plant;
  const auto other = plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"500", u"1"));
  EXPECT_EQ(other.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(other.error), "The Datasheets are not comparable.");
  // The pump list is at the pump sheet's checknum once validated, but it is
  // another template.
  const auto list = plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"400", u"1"));
  EXPECT_EQ(list.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(list.error), "The Datasheets are not comparable.");
  EXPECT_EQ(plant.Text(kListPage, u"Checknum"), "2");

  const auto noPages =
      plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"300", u"2"));
  EXPECT_EQ(noPages.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(noPages.error), "Invalid status for Datasheet with OID:300");

  const auto badStatus =
      plant.host().Request(u"CompareDocuments", Compare(u"300", u"7", u"300", u"1"));
  EXPECT_EQ(badStatus.hr, E_INVALIDARG);
  EXPECT_EQ(FirstDesc(badStatus.error), "Invalid status");

  // A datasheet the store no longer has is a failure, never an empty
  // success.
  const auto gone = plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"9999", u"1"));
  EXPECT_EQ(gone.hr, E_FAIL);
  EXPECT_EQ(
      FirstDesc(gone.error),
      "Datasheet2 no longer exists in the workspace.\nIt may have been deleted by another user.");
  const auto gone1 =
      plant.host().Request(u"CompareDocuments", Compare(u"9999", u"1", u"300", u"1"));
  EXPECT_EQ(
      FirstDesc(gone1.error),
      "Datasheet1 no longer exists in the workspace.\nIt may have been deleted by another user.");
}

TEST(CompareDocumentsTest, AnInvalidTemplateGivesAnEmptyReplyAndTheMessage) {
  ValidationPlant plant;
  const auto result =
      plant.host().Request(u"CompareDocuments", Compare(u"300", u"1", u"200", u"1"));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply),
            "<XMLMessage TargetId=\"App\"><OpenDocuments></OpenDocuments></XMLMessage>");
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_NE(Narrow(result.messages[0]).find("cannot be opened due to an invalid template"),
            std::string::npos);
}

}  // namespace
