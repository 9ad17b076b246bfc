// The document catalogue end to end on the sample plant: the host sends a
// message, the module reads (and for renaming, recasing and closing,
// changes) the store, and the reply, the events, the store and the calls
// that reached the drawing service are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "host/host.h"
#include "kxattributeutils.h"
#include "kxstoreptrs.h"
#include "mainworkers.h"
#include "store/admin.h"
#include "support/moduletestsupport.h"

using namespace moduletest;

namespace {

// Records the store's workflow log (open and close of versions).
class WorkflowLog final : public kx::store::StoreObserver {
 public:
  void WorkflowRecorded(LONG id, LONG code, const std::u16string& text) override {
    steps.push_back(std::to_string(id) + " " + std::to_string(code) + " " + Narrow(text));
  }
  std::vector<std::string> steps;
};

// One record of a listing reply: its attributes as written.
struct Record {
  std::string element;
  std::map<std::string, std::string> attributes;
  std::string operator[](const std::string& name) const {
    const auto found = attributes.find(name);
    return found == attributes.end() ? "<none>" : found->second;
  }
};

std::vector<Record> Records(const std::string& reply) {
  std::vector<Record> records;
  static const std::regex element(R"(<(Datasheet|Diagram|Filter) ([^>]*)/>)");
  static const std::regex attribute(R"#((\w+)="([^"]*)")#");
  for (auto it = std::sregex_iterator(reply.begin(), reply.end(), element); it != std::sregex_iterator(); ++it) {
    Record record{(*it)[1], {}};
    const std::string text = (*it)[2];
    for (auto a = std::sregex_iterator(text.begin(), text.end(), attribute); a != std::sregex_iterator(); ++a) {
      record.attributes[(*a)[1]] = (*a)[2];
    }
    records.push_back(std::move(record));
  }
  return records;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store_).ok());
    const kx::store::Status imported =
        store_->ImportFixtureFile(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
    ASSERT_TRUE(imported.ok()) << imported.message;
    store_->SetObserver(&workflow_);
    IKXQDatabase* database = store_->Database();
    IKXQSchemaPtr schema;
    IKXQTemplateLibraryPtr library;
    database->get_Schema(&schema);
    database->get_TemplateLibrary(&library);
    database->get_RootProject(&root_);
    host_.application().SetStore(database, schema, library);
    host_.application().SetProjects(root_, root_);
    for (const char16_t* privilege : {u"SecureAttribute", u"LockAttribute", u"CheckDocument",
                                      u"IssueDocument", u"Globally Change Display Units",
                                      u"Modify Non-Project Summary"}) {
      host_.privileges().Grant(privilege);
    }
    service_ = CreateInProcessMain(&MainWorkers::Defaults());
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  void TearDown() override {
    host_.Detach();
    if (store_) store_->SetObserver(nullptr);
  }

  kx::host::RequestResult Request(std::u16string_view name, std::u16string_view text) {
    return host_.Request(name, text);
  }
  std::string Reply(std::u16string_view name, std::u16string_view text) {
    const kx::host::RequestResult result = Request(name, text);
    EXPECT_TRUE(result.succeeded()) << Narrow(result.error);
    return Narrow(result.reply);
  }
  IKXQObjectPtr Object(LONG id) {
    IKXQObjectPtr object;
    EXPECT_EQ(store_->Database()->get_Object(id, &object), S_OK);
    return object;
  }
  std::string Text(LONG id, const OLECHAR* attribute) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeString(Object(id), text, attribute, -1);
    return Narrow(text);
  }

  std::unique_ptr<kx::store::Store> store_;
  WorkflowLog workflow_;
  IKXQProjectPtr root_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

// Status ascending, then titles in natural order, then document ids: each
// adjacent pair in order, no version twice.
void ExpectListingOrder(const std::vector<Record>& records) {
  for (size_t i = 1; i < records.size(); ++i) {
    const Record& a = records[i - 1];
    const Record& b = records[i];
    SCOPED_TRACE(a["Title"] + " / " + b["Title"]);
    const int byStatus = std::stoi(a["Status"]) - std::stoi(b["Status"]);
    ASSERT_LE(byStatus, 0);
    if (byStatus < 0) continue;
    const int byTitle = KXDBDatasheetSvcs::CompareNatural(_bstr_t(a["Title"].c_str()), _bstr_t(b["Title"].c_str()));
    ASSERT_LE(byTitle, 0);
    if (byTitle < 0 || a["Status"] == "0") continue;
    EXPECT_LT(std::stoi(a["DocumentId"]), std::stoi(b["DocumentId"])) << "a version listed twice";
  }
}

TEST_F(CatalogueTest, DatasheetsByObjectSortedOncePerVersionWithCreationEntries) {
  const std::string reply = Reply(u"ListDatasheetsByObject", u"<XMLMessage TargetId=\"x\" Status=\"1\">"
                                  u"<ListDatasheetsByObject><ObjectId>101</ObjectId><ObjectId>121</ObjectId>"
                                  u"<ObjectId>101</ObjectId></ListDatasheetsByObject></XMLMessage>");
  ASSERT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><Documents CurrentPage=\"1\">", 0), 0u) << reply;
  const auto records = Records(reply);
  ExpectListingOrder(records);
  std::vector<std::string> keys;
  for (const Record& r : records) keys.push_back(r["Status"] + " " + r["TemplateId"] + r["DocumentId"]);
  EXPECT_EQ(keys, (std::vector<std::string>{"0 HX-DS<none>", "0 EQ-SUMMARY<none>", "0 PUMP-DS<none>",
                                            "1 <none>1004", "1 <none>1007", "1 <none>1001",
                                            "3 <none>1004", "4 <none>1001"}));
  // P-101A's offer names it; the summary's offer names no object.
  EXPECT_EQ(records[2]["ObjectId"], "101");
  EXPECT_EQ(records[2]["Title"], "P-101A: Centrifugal pump datasheet");
  EXPECT_EQ(records[1]["ObjectId"], "-1");
  EXPECT_EQ(records[1]["Type"], "2");
  EXPECT_EQ(records[4]["Type"], "3") << "the pump summary belongs to the active project";
  EXPECT_EQ(records[7]["Revision"], "A");
  EXPECT_TRUE(Request(u"ListDatasheetsByObject", u"").succeeded() == false) << "an empty text is no request";
}

TEST_F(CatalogueTest, AnObjectNoTemplateTakesAndNoPageShowsGivesNoReply) {
  const auto result = Request(u"ListDatasheetsByObject",
                              u"<XMLMessage><ListDatasheetsByObject><ObjectId>1201</ObjectId>"
                              u"<ObjectId>0</ObjectId></ListDatasheetsByObject></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
  const auto missing = Request(u"ListDatasheetsByObject",
                               u"<XMLMessage><ListDatasheetsByObject><ObjectId>99999</ObjectId>"
                               u"</ListDatasheetsByObject></XMLMessage>");
  EXPECT_FALSE(missing.succeeded());
  EXPECT_NE(Narrow(missing.error).find("99999"), std::string::npos);
  EXPECT_EQ(Narrow(missing.reply), "");
}

TEST_F(CatalogueTest, DatasheetsByTemplateOfferEveryPumpAndListTheStoredSheets) {
  const auto records = Records(Reply(u"ListDatasheetsByTemplate",
                                     u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>PUMP-DS</TemplateId>"
                                     u"<TemplateId>NOPE</TemplateId></ListDatasheetsByTemplate></XMLMessage>"));
  ExpectListingOrder(records);
  ASSERT_EQ(records.size(), 12u);
  EXPECT_EQ(records[0]["Title"], "Centrifugal pump datasheet");
  EXPECT_EQ(records[0]["TemplateId"], "PUMP-DS");
  for (size_t i = 1; i <= 6; ++i) EXPECT_EQ(records[i]["ObjectId"], std::to_string(100 + i));
  std::vector<std::string> stored;
  for (size_t i = 7; i < records.size(); ++i) stored.push_back(records[i]["Status"] + "#" + records[i]["DocumentId"]);
  EXPECT_EQ(stored, (std::vector<std::string>{"1#1001", "1#1002", "1#1003", "2#1002", "4#1001"}));
  // A template the library does not know lists nothing and fails nothing.
  const auto none = Request(u"ListDatasheetsByTemplate",
                            u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>NOPE</TemplateId>"
                            u"</ListDatasheetsByTemplate></XMLMessage>");
  ASSERT_TRUE(none.succeeded());
  EXPECT_EQ(Narrow(none.reply), "");
}

TEST_F(CatalogueTest, DatasheetsByStatusAndByField) {
  const std::string submitted = Reply(u"ListDatasheetsByStatus", u"2");
  EXPECT_NE(submitted.find("<Documents CurrentPage=\"2\">"), std::string::npos);
  const auto records = Records(submitted);
  ASSERT_EQ(records.size(), 2u) << "1002 with all its versions";
  EXPECT_EQ(records[0]["Status"] + records[1]["Status"], "12");
  EXPECT_EQ(records[0]["DocumentId"], "1002");
  EXPECT_EQ(Records(Reply(u"ListDatasheetsByStatus", u" 1")).size(), 8u + 1 + 1 + 1);
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"9"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"x"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByField", u"103"), "");
}

TEST_F(CatalogueTest, DiagramsWithTheDrawingServicesTemplates) {
  const std::string reply = Reply(u"ListDiagrams", u"");
  const auto records = Records(reply);
  std::vector<std::string> names;
  for (const Record& r : records) names.push_back(r["Status"] + " " + r["Name"] + " " + r["DiagramClass"]);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "0 New P&amp;ID A0 Diagram PFD", "0 New PFD A1 Diagram PFD", "0 Shared Diagram PFD",
                       "1 Crude charge pumps PFD", "1 Crude preheat train PFD A1", "2 Crude charge pumps PFD"}));
  EXPECT_NE(reply.find("<Documents CurrentPage=\"1\">"), std::string::npos);
  EXPECT_EQ(records[4]["Case"], "Normal");
  EXPECT_EQ(records[4]["Scoped"], "1");
  ASSERT_EQ(host_.drawing().calls().size(), 1u);
  EXPECT_EQ(Narrow(host_.drawing().TakeCalls()[0].text), "DrawingTemplates -> \"PFD A1;P&ID A0\"");

  host_.drawing().SetDrawingTemplates(u"");
  auto fallback = Records(Reply(u"ListDiagrams", u""));
  EXPECT_EQ(fallback[0]["Name"] + "|" + fallback[1]["Name"], "New PFD Diagram|New PPID Diagram");
  host_.drawing().SetDrawingTemplates(u"A;;B;");
  fallback = Records(Reply(u"ListDiagrams", u""));
  EXPECT_EQ(fallback[0]["Name"] + "|" + fallback[1]["Name"] + "|" + fallback[2]["Name"],
            "New ;B; Diagram|New A Diagram|Shared Diagram")
      << "a rest that begins with \";\" is one last part";

  host_.drawing().failures().Add("get_DrawingTemplates", E_ACCESSDENIED, u"drawings are offline");
  const auto failed = Request(u"ListDiagrams", u"");
  EXPECT_EQ(failed.hr, E_ACCESSDENIED);
  EXPECT_NE(Narrow(failed.error).find("drawings are offline"), std::string::npos);
  EXPECT_EQ(Narrow(failed.reply), "");
}

TEST_F(CatalogueTest, SharedDiagramsAndDiagramsByObject) {
  const std::string shared = Reply(u"ListSharedDiagrams", u"ignored");
  ASSERT_EQ(shared.rfind("<XMLMessage TargetId=\"App\"><SharedDiagrams>", 0), 0u) << shared;
  const auto records = Records(shared);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["Name"], "Crude charge pumps [Diagram] (Design)");
  EXPECT_EQ(records[0]["Status"], "<none>");
  EXPECT_EQ(records[1]["Name"], "Crude preheat train [PFD A1] (Normal)");
  EXPECT_EQ(records[1]["Scoped"], "1");

  const std::string byObject = Reply(u"ListDiagramsByObject",
                                     u"<XMLMessage><ListDiagramsByObject CaseId=\"1\"><ObjectId>101</ObjectId>"
                                     u"<ObjectId>102</ObjectId></ListDiagramsByObject></XMLMessage>");
  const auto diagrams = Records(byObject);
  ASSERT_EQ(diagrams.size(), 1u);
  EXPECT_EQ(diagrams[0]["DocumentId"], "1101");
  // Nothing to list still writes the empty element.
  EXPECT_EQ(Reply(u"ListDiagramsByObject", u"<XMLMessage><ListDiagramsByObject><ObjectId>131</ObjectId>"
                                           u"</ListDiagramsByObject></XMLMessage>"),
            "<XMLMessage TargetId=\"App\"><Documents CurrentPage=\"0\"></Documents></XMLMessage>");
}

TEST_F(CatalogueTest, ConfigurationsFollowPrivilegesAndTheRootProject) {
  const std::string all = Reply(u"GetConfigurations", u"");
  EXPECT_EQ(all.substr(0, all.find("<Filter")),
            "<XMLMessage MessageOfTheDay=\"\" TargetId=\"App\"><Configurations CanSecure=\"1\" CanLock=\"1\" "
            "CanCheck=\"1\" CanIssue=\"1\" CanChangeUnits=\"1\" IsRootProject=\"1\" CanModifySummary=\"1\">");
  // Without privileges, in project 2: every flag false.
  kx::host::Host bare;
  IKXQProjectPtr area;
  ASSERT_EQ(store_->Database()->get_Project(2, &area), S_OK);
  IKXQSchemaPtr schema;
  store_->Database()->get_Schema(&schema);
  bare.application().SetStore(store_->Database(), schema, nullptr);
  bare.application().SetProjects(area, root_);
  auto service = CreateInProcessMain(&MainWorkers::Defaults());
  ASSERT_EQ(bare.Attach(service.get()), S_OK);
  bare.privileges().Grant(u"IssueDocument");
  const auto result = bare.Request(u"GetConfigurations", u"");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_NE(Narrow(result.reply).find("<Configurations CanSecure=\"0\" CanLock=\"0\" CanCheck=\"0\" CanIssue=\"1\" "
                                      "CanChangeUnits=\"0\" IsRootProject=\"0\" CanModifySummary=\"0\">"),
            std::string::npos);
  bare.Detach();

  host_.privileges().failures().Add("HasPrivilege", E_FAIL, u"directory unreachable", 1, 2);
  const auto failed = Request(u"GetConfigurations", u"");
  EXPECT_EQ(failed.hr, E_FAIL);
  EXPECT_EQ(Narrow(failed.reply), "");
}

TEST_F(CatalogueTest, ObjectFiltersMarkTheDefaultInAnyLetterCase) {
  std::string error;
  ASSERT_TRUE(host_.settings().Override("DefaultFilter=vessels", &error)) << error;
  const auto filters = Records(Reply(u"GetObjectFilters", u""));
  ASSERT_EQ(filters.size(), 3u);
  EXPECT_EQ(filters[0]["Name"] + filters[0]["Default"], "Pumps<none>");
  EXPECT_EQ(filters[2]["Name"] + filters[2]["Title"] + filters[2]["Default"], "VesselsAll vessels and columns1");
}

TEST_F(CatalogueTest, RenamingWritesTheNameAndTellsTheDatasheetsUsers) {
  const auto result = Request(u"RenameDocuments",
                              u"<XMLMessage TargetId=\"Editor\" Status=\"1\"><RenameDocuments>"
                              u"<Datasheet DocumentId=\"1002\" Status=\"2\"/>"
                              u"<Diagram DocumentId=\"1107\" Name=\"Charge pumps P&amp;ID\"/>"
                              u"<Datasheet DocumentId=\"1001\" Name=\"P-101A pump\"/>"
                              u"</RenameDocuments></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
  EXPECT_EQ(Text(1002, u"DocumentName"), "") << "no name: an empty one";
  EXPECT_EQ(Text(1107, u"DocumentName"), "Charge pumps P&ID");
  EXPECT_EQ(Text(1001, u"DocumentName"), "P-101A pump");
  // 1002 is in use by "ann": one datasheet event at status 1; 1001 has no
  // users and the diagram gets none.
  ASSERT_EQ(result.events.size(), 1u);
  EXPECT_EQ(Narrow(result.events[0].key.value_or(u"")), "D1 1002");
  EXPECT_EQ(host_.application().current_datasheet(), nullptr) << "the current datasheet is put back";

  const auto missing = Request(u"RenameDocuments", u"<XMLMessage><RenameDocuments>"
                                                   u"<Diagram DocumentId=\"4242\" Name=\"x\"/>"
                                                   u"</RenameDocuments></XMLMessage>");
  EXPECT_FALSE(missing.succeeded());
}

TEST_F(CatalogueTest, RecasingGivesEveryCurrentPageTheCaseWithAPageEvent) {
  const auto result = Request(u"RecaseDocuments",
                              u"<XMLMessage TargetId=\"1002\" Status=\"1\"><RecaseDocuments CaseId=\"2\"/></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  ASSERT_EQ(result.events.size(), 2u);
  EXPECT_EQ(Narrow(result.events[0].key.value_or(u"")), "P1 1021");
  EXPECT_EQ(Narrow(result.events[1].key.value_or(u"")), "P1 1022");
  EXPECT_EQ(Text(1002, u"CaseName"), "Design");
  EXPECT_EQ(Text(1002, u"DefaultCase"), "2");
  EXPECT_EQ(Text(1021, u"Cases"), "2");

  // Without "TargetId" there is no datasheet to recase: refused, unchanged.
  const auto refused = Request(u"RecaseDocuments", u"<XMLMessage><RecaseDocuments CaseId=\"3\"/></XMLMessage>");
  EXPECT_EQ(refused.hr, E_INVALIDARG);
  EXPECT_NE(Narrow(refused.error).find("TargetId"), std::string::npos);
  EXPECT_EQ(Text(1002, u"DefaultCase"), "2");
}

TEST_F(CatalogueTest, ClosingCallsTheStoresCloseVersionPerDocument) {
  workflow_.steps.clear();
  const auto result = Request(u"CloseDocuments",
                              u"<XMLMessage><CloseDocuments><Datasheet DocumentId=\"1001\" Status=\"4\"/>"
                              u"<Datasheet DocumentId=\"1002\"/><Diagram DocumentId=\"1101\" Status=\"1\"/>"
                              u"</CloseDocuments></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(workflow_.steps, (std::vector<std::string>{"1001 199 4", "1002 199 -1", "1101 199 1"}));
  EXPECT_TRUE(Request(u"CloseDocuments", u"<XMLMessage><CloseDocuments/></XMLMessage>").succeeded());
}

TEST_F(CatalogueTest, DatasheetObjectsAreListedOnceInIdOrder) {
  EXPECT_EQ(Reply(u"ListDatasheetObjects", u"1001"),
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>101</ObjectId></Objects></XMLMessage>")
      << "P-101A stands on both pages; its motor's class is not the template's";
  const std::string summary = Reply(u"ListDatasheetObjects", u"  1007xyz");
  EXPECT_NE(summary.find("<ObjectId>101</ObjectId><ObjectId>102</ObjectId>"), std::string::npos);
  // A datasheet without pages lists no object.
  IKXQClassPtr datasheets;
  IKXQSchemaPtr schema;
  store_->Database()->get_Schema(&schema);
  schema->get_Class(_bstr_t(u"Datasheet"), &datasheets);
  IKXQObjectPtr empty;
  ASSERT_EQ(datasheets->CreateInstance(&empty), S_OK);
  SetAttributeStringByName(empty, u"TemplateId", u"PUMP-DS", -1);
  LONG id = 0;
  empty->get_Id(&id);
  EXPECT_EQ(Reply(u"ListDatasheetObjects", _bstr_t(std::to_string(id).c_str()).view()),
            "<XMLMessage TargetId=\"App\"><Objects></Objects></XMLMessage>");
  EXPECT_FALSE(Request(u"ListDatasheetObjects", u"101").succeeded()) << "a pump has no template";
}

}  // namespace
