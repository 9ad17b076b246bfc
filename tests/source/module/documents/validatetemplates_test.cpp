// Template validation end to end: "UpdateTemplates", "ValidateTemplates"
// and the automation methods "ValidateDatasheet" and "ValidateLabel", sent
// through the host to a Main attached to a small plant; the reply, the
// user's messages and the rebuilt lists in the store are checked.
#include "documents/validatetemplates.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxattributeutils.h"
#include "storexml.h"
#include "support/validationfixture.h"

using namespace kx::test::validation;
using kx::test::pages::Narrow;

namespace {

std::u16string Update(std::initializer_list<int> ids, bool erase = false) {
  std::u16string text = u"<XMLMessage><UpdateTemplates Delete=\"";
  text += erase ? u"true\">" : u"false\">";
  for (int id : ids) {
    text += u"<DocumentId>";
    for (char c : std::to_string(id)) text += static_cast<char16_t>(c);
    text += u"</DocumentId>";
  }
  return text + u"</UpdateTemplates></XMLMessage>";
}

std::string Alert(const std::string& text) {
  return "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">" + text +
         "</Message></XMLMessage>";
}

// Every list of the page that a rebuild may write, as text.
std::vector<std::string> RebuiltLists(ValidationPlant& plant, LONG page) {
  std::vector<std::string> lists;
  for (const char16_t* name : {u"NodeObjects", u"NodeIndices", u"HiddenObjects", u"Fields",
                               u"Units", u"Revisions", u"Sketches"}) {
    lists.push_back(plant.List(page, name));
  }
  return lists;
}

const char kStaleFields[] =
    "<Real FieldId=\"2\" Value=\"12.5\"/>|<String FieldId=\"1\" Value=\"P-1\"/>|";

TEST(ValidateTemplatesTest, AChangedTemplateRebuildsThePageKeepingWhatWasEntered) {
  ValidationPlant plant;
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kStale}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), Alert("Updated 1 datasheet."));
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "2");
  // The pump moves to its node of the new layout; the motor node stays empty.
  EXPECT_EQ(plant.List(kStalePage, u"NodeObjects"), "#10");
  EXPECT_EQ(plant.List(kStalePage, u"NodeIndices"), "-|1");
  EXPECT_EQ(plant.List(kStalePage, u"HiddenObjects"), "");
  // Fields follow the new order by field id; both waiting sketches are
  // bound to the sketch fields, their files in "Sketches".
  const std::string fields = plant.List(kStalePage, u"Fields");
  EXPECT_EQ(fields.rfind(kStaleFields, 0), 0u) << fields;
  EXPECT_NE(fields.find("<Sketch FieldId=\"7\""), std::string::npos) << fields;
  EXPECT_NE(fields.find("<Sketch FieldId=\"8\""), std::string::npos) << fields;
  EXPECT_EQ(fields.find("/good"), std::string::npos) << fields;
  EXPECT_EQ(plant.List(kStalePage, u"Sketches"), "c2tldGNo|c2tldGNo");
  // Each unit taken once where it was found; the third takes its default.
  EXPECT_EQ(plant.List(kStalePage, u"Units"), "mm|m|m");
  EXPECT_EQ(plant.List(kStalePage, u"Revisions"), "A|B|-|-");
  // The rebuilt current page has its triggers.
  VARIANT_BOOL hasTrigger = VARIANT_FALSE;
  plant.host().Object(kStalePage)->HasTrigger(_bstr_t(u"Field"), &hasTrigger);
  EXPECT_NE(hasTrigger, VARIANT_FALSE);
}

std::string BoundSketch(int field) {
  return "<Sketch FieldId=\"" + std::to_string(field) +
         "\" TLX=\"0\" TLY=\"0\" BRX=\"0\" BRY=\"0\" State=\"0\" Value=\"\"/>";
}

// Field 7's own record follows the two waiting sketches: the first
// sketch field meets a waiting sketch first and takes it, and so does the
// second; the record it had is not kept.
TEST(ValidateTemplatesTest, ASketchFieldTakesTheWaitingSketchItMeetsFirst) {
  ValidationPlant plant;
  plant.Put(kStalePage, u"Fields", 5, "<Sketch FieldId=\"7\" Value=\"b2xk\"/>");
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kStale}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), Alert("Updated 1 datasheet."));
  EXPECT_EQ(plant.List(kStalePage, u"Fields"),
            std::string(kStaleFields) + BoundSketch(7) + "|" + BoundSketch(8));
  EXPECT_EQ(plant.List(kStalePage, u"Sketches"), "c2tldGNo|c2tldGNo");
}

// The rebuilt page's "Field" trigger belongs to another service: the
// rebuild leaves it bound to that service.
TEST(ValidateTemplatesTest, ARebuildLeavesAnotherServicesFieldTriggerAlone) {
  ValidationPlant plant;
  _com_ptr_t<IKXQTrigger> trigger;
  ASSERT_EQ(plant.host().Object(kStalePage)->get_Trigger(_bstr_t(u"Field"), &trigger), S_OK);
  ASSERT_EQ(trigger->SetHandler(_bstr_t(u"Other.Service")), S_OK);
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kStale}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), Alert("Updated 1 datasheet."));
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "2");
  _bstr_t handler;
  ASSERT_EQ(trigger->GetHandler(handler.GetAddress()), S_OK);
  EXPECT_EQ(Narrow(static_cast<const char16_t*>(handler)), "Other.Service");
}

TEST(ValidateTemplatesTest, AFailedRebuildPutsEveryListBackAndIsReported) {
  ValidationPlant plant("bad");
  const std::vector<std::string> before = RebuiltLists(plant, kStalePage);
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kStale, kFresh}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(reply.rfind(
                "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Updated 1 datasheet. "
                "The following datasheet(s) cannot be validated due to an invalid template.\n\n"
                "Datasheet OID=100, Name=Stale sheet, TemplateID=TV - Read failed: error ",
                0),
            0u)
      << reply;
  EXPECT_EQ(RebuiltLists(plant, kStalePage), before);
  EXPECT_EQ(plant.List(kStalePage, u"Sketches"), "");  // the first sketch's text went too
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "1");
}

// The template work a datasheet began is ended when its rebuild fails, as
// when it succeeds.
TEST(ValidateTemplatesTest, AFailedRebuildEndsTheTemplateWorkItBegan) {
  ValidationPlant plant("bad");
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kStale, kFresh}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_NE(Narrow(result.reply).find("cannot be validated"), std::string::npos);
  EXPECT_EQ(plant.host().app().template_work_depth(), 0);
}

TEST(ValidateTemplatesTest, ChildNodesAreFilledFromTheirParentsObject) {
  ValidationPlant plant;
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kNozzleSheet, kPumpPages}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), Alert("Updated 2 datasheets."));
  // Each nozzle node takes a nozzle of the pump's list, in list-node order;
  // the spare, which is another pump's, goes to its own node; the driver,
  // reached through a single attribute, is found by its field's route.
  EXPECT_EQ(plant.List(kNozzlePage, u"NodeObjects"), "#13|#14|#15|#16|#12");
  EXPECT_EQ(plant.List(kNozzlePage, u"NodeIndices"), "1|2|3|-|5|4");
  EXPECT_EQ(plant.List(kNozzlePage, u"HiddenObjects"), "-|-|-|0");
  // On a summary sheet the child shows its parent's pump again, as before;
  // the other pump keeps its own node.
  EXPECT_EQ(plant.List(kPumpPagesPage, u"NodeObjects"), "#10|#11");
  EXPECT_EQ(plant.List(kPumpPagesPage, u"NodeIndices"), "1|1|2");
  EXPECT_EQ(plant.Text(kPumpPagesPage, u"Checknum"), "2");
}

TEST(ValidateTemplatesTest, AFailedRebuildAfterTheChildNodesWerePlacedPutsEveryListBack) {
  ValidationPlant plant("bad");
  const std::vector<std::string> before = RebuiltLists(plant, kNozzlePage);
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kNozzleSheet}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_NE(Narrow(result.reply).find("Datasheet OID=800, Name=Nozzle sheet, TemplateID=TN - "),
            std::string::npos)
      << Narrow(result.reply);
  EXPECT_EQ(RebuiltLists(plant, kNozzlePage), before);
  EXPECT_EQ(plant.Text(kNozzlePage, u"Checknum"), "1");
}

TEST(ValidateTemplatesTest, AMissingTemplatePageIsReportedOrDeleted) {
  ValidationPlant plant;
  const auto kept = plant.host().Request(u"UpdateTemplates", Update({kLost, 9999}));
  ASSERT_TRUE(kept.succeeded()) << Narrow(kept.error);
  EXPECT_EQ(Narrow(kept.reply),
            Alert("Updated 0 datasheets. The following datasheet(s) cannot be validated due to an "
                  "invalid template.\n\nDatasheet OID=200, Name=Lost sheet, TemplateID=GONE."));
  EXPECT_TRUE(plant.host().Object(kLostPage));

  const auto deleted = plant.host().Request(u"UpdateTemplates", Update({kLost, kFresh}, true));
  ASSERT_TRUE(deleted.succeeded()) << Narrow(deleted.error);
  EXPECT_EQ(Narrow(deleted.reply), Alert("Updated 1 datasheet. Deleted 1 datasheet."));
  VARIANT_BOOL exists = VARIANT_TRUE;
  plant.host().database()->ObjectExists(kLost, &exists);
  EXPECT_EQ(exists, VARIANT_FALSE);
}

TEST(ValidateTemplatesTest, ADatasheetWithoutPagesIsNotHeldUpByTheOneBeforeIt) {
  ValidationPlant plant;
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kLost, kEmpty}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply),
            Alert("Updated 1 datasheet. The following datasheet(s) cannot be validated due to an "
                  "invalid template.\n\nDatasheet OID=200, Name=Lost sheet, TemplateID=GONE."));
}

TEST(ValidateTemplatesTest, AContinuousListKeepsEachRowsValuesUnderTheNewTemplate) {
  ValidationPlant plant;
  const auto result = plant.host().Request(u"UpdateTemplates", Update({kList}));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), Alert("Updated 1 datasheet."));
  EXPECT_EQ(plant.List(kListPage, u"NodeObjects"), "#400|#10|#11");
  EXPECT_EQ(plant.List(kListPage, u"Fields"),
            "<String FieldId=\"101\" Value=\"head\"/>|<Real FieldId=\"202\" Value=\"1.5\"/>|"
            "<String FieldId=\"201\" Value=\"P-1\"/>|<Real FieldId=\"202\" Value=\"2.5\"/>|"
            "<String FieldId=\"201\" Value=\"P-2\"/>");
  EXPECT_EQ(plant.Text(kListPage, u"Checknum"), "2");
}

TEST(ValidateTemplatesTest, ValidateTemplatesListsTheStaleDatasheetsWithoutChangingThem) {
  ValidationPlant plant;
  const auto result = plant.host().Request(u"ValidateTemplates", u"ignored");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><ValidateDatasheets>", 0), 0u) << reply;
  EXPECT_NE(reply.find("DocumentId=\"100\" TemplateId=\"TV\"/>"), std::string::npos) << reply;
  EXPECT_NE(reply.find("DocumentId=\"200\" TemplateId=\"GONE (Missing)\"/>"), std::string::npos)
      << reply;
  EXPECT_NE(reply.find("DocumentId=\"400\" TemplateId=\"TL\"/>"), std::string::npos) << reply;
  EXPECT_EQ(reply.find("DocumentId=\"300\""), std::string::npos) << reply;
  EXPECT_NE(reply.find("DocumentId=\"800\" TemplateId=\"TN\"/>"), std::string::npos) << reply;
  EXPECT_NE(reply.find("DocumentId=\"900\" TemplateId=\"TSN\"/>"), std::string::npos) << reply;
  EXPECT_EQ(kx::test::pages::Count(reply, "<Datasheet "), 5u) << reply;
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "1");
}

TEST(ValidateTemplatesTest, TheAutomationMethodsValidateADatasheetAndALabel) {
  ValidationPlant plant;
  auto& host = plant.host().host();
  const auto datasheet =
      host.CallObjectService(10, plant.host().Object(kStale), u"ValidateDatasheet");
  EXPECT_EQ(datasheet.hr, S_OK) << Narrow(datasheet.error);
  EXPECT_EQ(plant.Text(kStalePage, u"Checknum"), "2");

  const auto lost = host.CallObjectService(10, plant.host().Object(kLost), u"ValidateDatasheet");
  EXPECT_EQ(lost.hr, E_FAIL);
  EXPECT_NE(Narrow(lost.error).find("cannot be validated due to an invalid template."),
            std::string::npos)
      << Narrow(lost.error);
  const auto notDatasheet =
      host.CallObjectService(10, plant.host().Object(kPump), u"ValidateDatasheet");
  EXPECT_EQ(notDatasheet.hr, E_INVALIDARG);
  EXPECT_NE(Narrow(notDatasheet.error).find("Object is not a valid datasheet"), std::string::npos);

  VARIANT status;
  status.vt = VT_I4;
  status.lVal = 1;
  const auto label =
      host.CallObjectService(11, plant.host().Object(kLabel), u"ValidateLabel", {status});
  EXPECT_EQ(label.hr, S_OK) << Narrow(label.error);
  EXPECT_EQ(plant.Text(kLabel, u"Checknum"), "2");
  EXPECT_EQ(plant.List(kLabel, u"Fields"), "-|<String FieldId=\"1\" Value=\"label text\"/>|-|-");
  EXPECT_EQ(plant.List(kLabel, u"Units"), "m|mm|m");
  const auto notLabel =
      host.CallObjectService(11, plant.host().Object(kPump), u"ValidateLabel", {status});
  EXPECT_EQ(notLabel.hr, E_INVALIDARG);
  EXPECT_NE(Narrow(notLabel.error).find("Object is not a valid label"), std::string::npos);
}

TEST(ValidateTemplatesTest, TheInvalidTemplateMessageStopsGrowingPast1800Characters) {
  TemplateValidationContext context(nullptr);
  EXPECT_EQ(ValidateTemplates::FormatInvalidTemplatesMessage(context, u"opened").length(), 0u);
  for (int i = 0; i < 40; ++i) {
    std::u16string entry = u"Datasheet OID=" +
                           std::u16string(1, static_cast<char16_t>(u'A' + i / 26)) +
                           std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
    entry.resize(60, u'x');
    context.m_invalid.Add(entry.c_str());
  }
  const std::string text = Narrow(static_cast<const char16_t*>(
      ValidateTemplates::FormatInvalidTemplatesMessage(context, u"opened")));
  const std::string heading =
      "The following datasheet(s) cannot be opened due to invalid templates.\n\n";
  EXPECT_EQ(text.rfind(heading, 0), 0u);
  // The 28th entry passes 1800 characters; only the final "." follows.
  EXPECT_EQ(text.size(), heading.size() + 28 * 60 + 27 * 2 + 1);
  EXPECT_EQ(text.back(), '.');
  EXPECT_EQ(text.substr(heading.size(), 16), "Datasheet OID=Bn");
}

// Three datasheets whose template is gone, named so that the message
// after the second entry (appended last first) holds exactly `length`
// characters: the entry that takes it past 1800 is the last one.
TEST(ValidateTemplatesTest, TheInvalidTemplateMessageTakesEntriesUntilItPasses1800Characters) {
  using namespace kx::test::xml;
  const std::string fixture = StoreText(
      Class("GenericClass", "", "Name") +
          Class("Document", "GenericClass",
                "DocumentName TemplateId Checknum CurrentPages SubmittedPages CheckedPages "
                "IssuedPages") +
          Class("Datasheet", "Document") +
          Class("Page", "GenericClass", "TemplateId PageId Checknum PageNumber Fields"),
      " <templates/>\n",
      {Datasheet(1, "GONE", {11}, Value("DocumentName", "First")), Page(11, 1, "GONE", "A", "1", 1),
       Datasheet(2, "GONE", {21}, Value("DocumentName", "Second")),
       Page(21, 2, "GONE", "A", "1", 1), Datasheet(3, "GONE", {31}, Value("DocumentName", "Third")),
       Page(31, 3, "GONE", "A", "1", 1)});
  kx::test::pages::PagesHost host(fixture.c_str());
  const std::string heading =
      "The following datasheet(s) cannot be validated due to invalid templates.\n\n";
  const std::string third = "Datasheet OID=3, Name=Third, TemplateID=GONE";
  const std::string first = "Datasheet OID=1, Name=First, TemplateID=GONE";
  for (size_t length : {1799u, 1800u, 1801u}) {
    SCOPED_TRACE(length);
    const std::string fixed = "Datasheet OID=2, Name=, TemplateID=GONE";
    const std::string name(length - heading.size() - third.size() - 2 - fixed.size(), 'n');
    SetAttributeStringByName(host.Object(2), u"DocumentName",
                             _bstr_t(std::u16string(name.begin(), name.end()).c_str()), -1);
    const auto result = host.Request(u"UpdateTemplates", Update({1, 2, 3}));
    ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
    const std::string second = "Datasheet OID=2, Name=" + name + ", TemplateID=GONE";
    ASSERT_EQ((heading + third + ",\n" + second).size(), length);
    const std::string message = heading + third + ",\n" + second +
                                (length <= 1800 ? ",\n" + first + "." : std::string("."));
    EXPECT_EQ(Narrow(result.reply), Alert("Updated 0 datasheets. " + message));
  }
}

}  // namespace
