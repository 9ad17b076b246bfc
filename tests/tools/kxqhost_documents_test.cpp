// Opening, comparing, creating and validating documents through the host
// program on the sample plant, whose exchanger datasheet E-102 (1005) was
// made with template version 2 while version 3 is current.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class KxqhostDocumentsTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
};

TEST_F(KxqhostDocumentsTest, ValidateDatasheetRebuildsTheStaleExchangerSheet) {
  const Outcome listed = Host({"request", "ValidateTemplates", "-"}, "");
  ASSERT_EQ(listed.status, 0) << listed.err;
  // Named as the editor shows it: with the datasheet's case.
  EXPECT_NE(listed.out.find("<Datasheet Name=\"E-102: Crude / diesel exchanger (Normal)\" "
                            "DocumentId=\"1005\" TemplateId=\"HX-DS\"/>"),
            std::string::npos)
      << listed.out;

  const Outcome validated = Host({"--events", "service", "10", "1005", "ValidateDatasheet"});
  ASSERT_EQ(validated.status, 0) << validated.err;
  EXPECT_NE(validated.out.find(
                "== store changed #1051: NodeObjects, NodeIndices, Fields, Units, Revisions, "
                "Checknum"),
            std::string::npos)
      << validated.out;
  const Outcome dumped = Host({"dump", "1051"});
  ASSERT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_NE(dumped.out.find("Checknum"), std::string::npos) << dumped.out;
  const Outcome after = Host({"request", "ValidateTemplates", "-"}, "");
  EXPECT_EQ(after.out.find("DocumentId=\"1005\""), std::string::npos) << after.out;

  const Outcome notLabel = Host({"service", "11", "1005", "ValidateLabel", "1"});
  EXPECT_NE(notLabel.status, 0);
  EXPECT_NE(notLabel.err.find("Object is not a valid label"), std::string::npos) << notLabel.err;
}

// P-101A's current pages name template pages that are gone: validated
// with "Delete", they go, and so does the datasheet with its issued pages;
// the pump no longer names any of them among its "DataViews".
TEST_F(KxqhostDocumentsTest, ADatasheetDeletedByValidationTakesAllItsPagesWithIt) {
  kx::test::tools::WriteText(dir_ / "delete.kxq",
                             "set 1011 PageId GONE\n"
                             "set 1012 PageId GONE\n"
                             "request UpdateTemplates <<END\n"
                             "<XMLMessage><UpdateTemplates Delete=\"true\"><DocumentId>1001"
                             "</DocumentId></UpdateTemplates></XMLMessage>\n"
                             "END\n"
                             "! dump 1001\n"
                             "! dump 1013\n"
                             "! dump 1014\n"
                             "dump 101\n");
  const Outcome outcome = Host({"run", dir_ / "delete.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Updated 0 datasheets. Deleted 1 datasheet."), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("object 101 Pump\nName = \"P-101A\"\nDataViews[1] = #1071\n"
                             "DataViews[2] = #1093\nRepresentations"),
            std::string::npos)
      << outcome.out;
}

// The same for a datasheet the store will not delete (a master BEDD
// sheet): its current pages are gone, but its issued pages stay with it.
TEST_F(KxqhostDocumentsTest, ADatasheetThatCannotBeDeletedKeepsItsIssuedPages) {
  kx::test::tools::WriteText(dir_ / "master.kxq",
                             "set 1001 TemplateId \"RQ Master BEDD\"\n"
                             "set 1011 PageId GONE\n"
                             "set 1012 PageId GONE\n"
                             "request UpdateTemplates <<END\n"
                             "<XMLMessage><UpdateTemplates Delete=\"true\"><DocumentId>1001"
                             "</DocumentId></UpdateTemplates></XMLMessage>\n"
                             "END\n"
                             "dump 1001\n"
                             "dump 1013 1014\n"
                             "! dump 1011\n");
  const Outcome outcome = Host({"run", dir_ / "master.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Updated 0 datasheets.</Message>"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("IssuedPages[1] = #1013\nIssuedPages[2] = #1014\n"), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("object 1013 Page\nowner 1001\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("object 1014 Page\nowner 1001\n"), std::string::npos) << outcome.out;
}

// The pages of 1004, 1006 and 1008 name a template that is gone; the
// message lists them last id first. Desalter (1006) is renamed so that its
// entry leaves the message at 1800 characters, then at 1801: at 1800 the
// next entry follows, at 1801 the message ends.
TEST_F(KxqhostDocumentsTest, TheInvalidTemplateMessageTakesEntriesUntilItPasses1800Characters) {
  const std::string before =
      "The following datasheet(s) cannot be validated due to invalid templates.\n\n"
      "Datasheet OID=1008, Name=Overhead accumulator, TemplateID=GONE,\n"
      "Datasheet OID=1006, Name=";
  const std::string name(1800 - before.size() - std::string(", TemplateID=GONE").size(), 'n');
  const std::string rename = "set 1006 DocumentName " + name;
  const std::string update =
      "request UpdateTemplates <<END\n<XMLMessage><UpdateTemplates><DocumentId>1004</DocumentId>"
      "<DocumentId>1006</DocumentId><DocumentId>1008</DocumentId></UpdateTemplates>"
      "</XMLMessage>\nEND\n";
  kx::test::tools::WriteText(dir_ / "long.kxq",
                             "set 1041 TemplateId GONE\nset 1061 TemplateId GONE\n"
                             "set 1081 TemplateId GONE\n" +
                                 rename + "\n" + update + rename + "n\n" + update);
  const Outcome outcome = Host({"run", dir_ / "long.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string message = ">Updated 0 datasheets. " + before + name;
  EXPECT_NE(outcome.out.find(message + ", TemplateID=GONE,\nDatasheet OID=1004, "
                                       "Name=Crude / kerosene exchanger, TemplateID=GONE.</"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find(message + "n, TemplateID=GONE.</"), std::string::npos) << outcome.out;
}

// Formats set on P-101A's first page, one with the row "Index" 0 that a
// plain page has no use for, survive a rebuild of the page on its
// unchanged template: each field still shows the item it was set for.
TEST_F(KxqhostDocumentsTest, ARebuildKeepsTheFormatsSetOnAPlainPage) {
  kx::test::tools::WriteText(
      dir_ / "formats.kxq",
      "request SetRealField <<END\n"
      "<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"400\" "
      "Format=\"0.00\"/></XMLMessage>\n"
      "END\n"
      "request SetRealField <<END\n"
      "<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" FieldId=\"104\" Index=\"0\" "
      "Value=\"190\" Format=\"0.000\"/></XMLMessage>\n"
      "END\n"
      "dump 1011\n"
      "set 1011 Checknum 3\n"
      "request UpdateTemplates <<END\n"
      "<XMLMessage><UpdateTemplates><DocumentId>1001</DocumentId></UpdateTemplates>"
      "</XMLMessage>\n"
      "END\n"
      "dump 1011\n");
  const Outcome outcome = Host({"run", dir_ / "formats.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Updated 1 datasheet."), std::string::npos) << outcome.out;
  const size_t rebuilt = outcome.out.find("## set 1011 Checknum 3");
  ASSERT_NE(rebuilt, std::string::npos) << outcome.out;
  const auto line = [&](size_t from, const std::string& name) {
    const size_t at = outcome.out.find("\n" + name + " = ", from);
    if (at == std::string::npos) return std::string();
    return outcome.out.substr(at + 1, outcome.out.find('\n', at + 1) - at - 1);
  };
  EXPECT_NE(line(0, "Fields[3]").find("Format=\\\"0.00\\\""), std::string::npos) << outcome.out;
  EXPECT_NE(line(0, "Fields[4]").find("Format=\\\"0.000\\\" Index=\\\"0\\\""), std::string::npos)
      << outcome.out;
  EXPECT_EQ(line(rebuilt, "Checknum"), "Checknum = \"4\"") << outcome.out;
  EXPECT_EQ(line(rebuilt, "Fields[3]"), line(0, "Fields[3]")) << outcome.out;
  EXPECT_EQ(line(rebuilt, "Fields[4]"), line(0, "Fields[4]")) << outcome.out;
}

// V-101's page (1061) made at another checknum, with a sketch waiting for
// its field ahead of the sketch field's own record (in place of the radio
// field's): the sketch field takes the waiting sketch, reads its file and
// keeps its rectangle; its own record goes.
TEST_F(KxqhostDocumentsTest, ARebuiltSketchFieldTakesTheWaitingSketchItMeetsFirst) {
  kx::test::tools::WriteText(dir_ / "outline.txt", "sketch");
  kx::test::tools::WriteText(dir_ / "waiting.kxq",
                             "set 1061 Checknum 0\n"
                             "set 1061 Fields[12] \"<Sketch FieldId=\\\"-11\\\" TLX=\\\"10\\\" "
                             "TLY=\\\"20\\\" BRX=\\\"30\\\" BRY=\\\"40\\\" Value=\\\"" +
                                 (dir_ / "outline.txt") +
                                 "\\\"/>\"\n"
                                 "service 10 1006 ValidateDatasheet\n"
                                 "dump 1061\n");
  const Outcome outcome = Host({"run", dir_ / "waiting.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Fields[12] = (empty)\n"
                             "Fields[13] = \"<Sketch FieldId=\\\"513\\\" TLX=\\\"10\\\" "
                             "TLY=\\\"20\\\" BRX=\\\"30\\\" BRY=\\\"40\\\" State=\\\"0\\\" "
                             "Value=\\\"\\\"/>\"\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("Sketches[1] = \"c2tldGNo\"\n"), std::string::npos) << outcome.out;
}

// A datasheet that no longer exists fails "OpenDocuments" where the
// document is opened, not in the validation it never reached.
TEST_F(KxqhostDocumentsTest, OpeningADatasheetThatNoLongerExistsFailsAtTheOpening) {
  const Outcome opened = Host({"request", "OpenDocuments", "-"},
                              "<XMLMessage><OpenDocuments><Datasheet DocumentId=\"99999\" "
                              "Status=\"1\"/></OpenDocuments></XMLMessage>");
  EXPECT_EQ(opened.status, 1) << opened.out;
  EXPECT_NE(opened.err.find("It may have been deleted by another user.\" HR=\"E_FAIL\" "
                            "File=\"kxdbdatasheetsvcs/processdocuments\""),
            std::string::npos)
      << opened.err;
  EXPECT_EQ(opened.err.find("validatetemplates"), std::string::npos) << opened.err;
}

// V-101's page (1061) made at another checknum, its sketch field's record
// replaced by a sketch waiting for it: the rebuild reads the sketch's file,
// and says so in the journal at trace level "high".
TEST_F(KxqhostDocumentsTest, ARebuildThatReadsASketchFileTracesTheFileStream) {
  kx::test::tools::WriteText(dir_ / "outline.txt", "sketch");
  kx::test::tools::WriteText(dir_ / "rebuild.kxq",
                             "set 1061 Checknum 0\n"
                             "set 1061 Fields[13] \"<Sketch FieldId=\\\"-11\\\" Value=\\\"" +
                                 (dir_ / "outline.txt") +
                                 "\\\"/>\"\n"
                                 "service 10 1006 ValidateDatasheet\n"
                                 "dump 1061\n");
  const Outcome outcome = Host({"--set", "TraceLevel::JournalTrace=yes", "--set",
                                "TraceLevel::General=high", "run", dir_ / "rebuild.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Sketches[1] = \"c2tldGNo\"\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.err.find("&KXCE& >>>> Enter KXFileStream::Open()\n"), std::string::npos)
      << outcome.err;
}

// V-103's datasheet (1010) is in no folder: it opens for editing, and a
// value set on its page reaches its user "carol" as a change event, as
// examples/README.md says.
TEST_F(KxqhostDocumentsTest, ThePreflashDrumSheetOpensForEditingAndItsUserGetsTheEvent) {
  const Outcome opened =
      Host({"request", "OpenDocuments", "-"},
           "<XMLMessage><OpenDocuments><Datasheet DocumentId=\"1010\" Status=\"1\"/>"
           "</OpenDocuments></XMLMessage>");
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_NE(opened.out.find("Title=\"V-103: Preflash drum (Normal)\""), std::string::npos)
      << opened.out;
  EXPECT_NE(opened.out.find("ReadOnly=\"0\""), std::string::npos) << opened.out;
  EXPECT_NE(opened.out.find("<Page PageId=\"1094\""), std::string::npos) << opened.out;

  const Outcome set = Host({"--events", "request", "SetRealField", "-"},
                           "<XMLMessage Status=\"1\"><SetRealField PageId=\"1094\" "
                           "FieldId=\"506\" Value=\"950\"/></XMLMessage>");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.out.find("== store changed #133: DesignPressure"), std::string::npos) << set.out;
  EXPECT_NE(set.out.find("== event DataField [F1 1094] to carol\n"), std::string::npos) << set.out;
  EXPECT_NE(Host({"dump", "133"}).out.find("DesignPressure = 950 kPa"), std::string::npos);
}

// Lines of `text` that are exactly `line`.
size_t LinesEqualTo(const std::string& text, const std::string& line) {
  size_t count = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, line) == 0) ++count;
    start = end + 1;
  }
  return count;
}

TEST_F(KxqhostDocumentsTest, ValidateTemplatesChecksEachDatasheetThroughTheTracedCheck) {
  const std::string journal = dir_ / "journal.log";
  const Outcome listed =
      Host({"--journal", journal, "--set", "TraceLevel::JournalTrace=yes", "--set",
            "TraceLevel::General=high", "request", "ValidateTemplates", "-"},
           "");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "<XMLMessage TargetId=\"App\"><ValidateDatasheets><Datasheet Name=\"E-102: Crude / "
            "diesel exchanger (Normal)\" DocumentId=\"1005\" TemplateId=\"HX-DS\"/>"
            "</ValidateDatasheets></XMLMessage>\n");
  // One check per datasheet of the plant (1001 to 1010).
  EXPECT_EQ(LinesEqualTo(kx::test::tools::ReadText(journal),
                         "&KXCE& >>>> Enter KXDBDatasheetSvcs::IsValidTemplate()"),
            10u)
      << kx::test::tools::ReadText(journal);
}

TEST_F(KxqhostDocumentsTest, OpenCompareAndCreateEndToEnd) {
  const Outcome opened =
      Host({"--events", "request", "OpenDocuments", "-"},
           "<XMLMessage><OpenDocuments><Datasheet DocumentId=\"1005\" Status=\"1\"/>"
           "<Diagram DocumentId=\"1101\" Status=\"1\"/></OpenDocuments></XMLMessage>");
  ASSERT_EQ(opened.status, 0) << opened.err;
  EXPECT_NE(opened.out.find("<Page PageId=\"1051\""), std::string::npos) << opened.out;
  EXPECT_NE(opened.out.find("Checknum=\"3\""), std::string::npos) << opened.out;
  EXPECT_NE(opened.out.find("<Diagram DocumentId=\"1101\" Status=\"1\"/></OpenDocuments>"),
            std::string::npos);

  // The version is opened (access mode 2, which goes unsaid) with the
  // status as text; opening is no workflow action.
  EXPECT_NE(opened.out.find("== store opened #1005 at status \"1\"\n"), std::string::npos)
      << opened.out;
  EXPECT_EQ(opened.out.find("workflow action"), std::string::npos) << opened.out;
  const Outcome checked = Host(
      {"--events", "request", "OpenDocuments", "-"},
      "<XMLMessage><OpenDocuments><Datasheet DocumentId=\"1001\" Status=\"3\"/></OpenDocuments>"
      "</XMLMessage>");
  EXPECT_NE(checked.out.find("== store opened #1001 at status \"3\"\n"), std::string::npos)
      << checked.out << checked.err;

  // Opening writes the contents of the first page only, printing those of
  // every page.
  const auto p101a = [&](const std::string& name) {
    return Host({"request", name, "-"}, "<XMLMessage><" + name +
                                            "><Datasheet DocumentId=\"1001\" Status=\"1\"/></" +
                                            name + "></XMLMessage>");
  };
  const Outcome openP101a = p101a("OpenDocuments");
  const Outcome printP101a = p101a("PrintDocuments");
  ASSERT_EQ(openP101a.status, 0) << openP101a.err;
  ASSERT_EQ(printP101a.status, 0) << printP101a.err;
  EXPECT_NE(openP101a.out.find("Field PageId=\"1011\""), std::string::npos) << openP101a.out;
  EXPECT_EQ(openP101a.out.find("Field PageId=\"1012\""), std::string::npos) << openP101a.out;
  EXPECT_NE(printP101a.out.find("Field PageId=\"1011\""), std::string::npos) << printP101a.out;
  EXPECT_NE(printP101a.out.find("Field PageId=\"1012\""), std::string::npos) << printP101a.out;

  const Outcome compared =
      Host({"request", "CompareDocuments", "-"},
           "<XMLMessage><CompareDocuments><Datasheet1 DocumentId1=\"1004\" Status1=\"1\"/>"
           "<Datasheet2 DocumentId2=\"1006\" Status2=\"1\"/></CompareDocuments></XMLMessage>");
  EXPECT_NE(compared.status, 0);
  EXPECT_NE(compared.err.find("The Datasheets are not comparable."), std::string::npos)
      << compared.err;

  const Outcome created =
      Host({"--events", "request", "CreateDocuments", "-"},
           "<XMLMessage><CreateDocuments><Datasheet ObjectId=\"132\" TemplateId=\"VESSEL-DS\"/>"
           "<Diagram Name=\"PFD-9\" DiagramClass=\"PFD A1\"/></CreateDocuments></XMLMessage>");
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.out.find("<XMLMessage TargetId=\"App\"><OpenDocuments><Datasheet "),
            std::string::npos)
      << created.out;
  EXPECT_NE(created.out.find("== drawing CreateDiagram \"PFD-9\\nPFD A1\""), std::string::npos)
      << created.out;
  const size_t action = created.out.find("== store opened #");
  ASSERT_NE(action, std::string::npos) << created.out;
  EXPECT_EQ(created.out.substr(created.out.find(" at ", action), 15), " at status \"1\"\n")
      << created.out;
  EXPECT_EQ(created.out.find("workflow action"), std::string::npos) << created.out;
}

// Only datasheets of one template compare: V-101's sheet and the pump
// summary are both at checknum "1" but of two templates; so are P-101A's
// sheet and a sheet of "pump-ds", a second template whose id differs from
// "PUMP-DS" only in its letter case.
TEST_F(KxqhostDocumentsTest, DatasheetsOfTwoTemplatesAtOneChecknumAreNotComparable) {
  const auto compare = [&](const std::string& store, const std::string& first,
                           const std::string& second) {
    return Bare({"--store", store, "request", "CompareDocuments", "-"},
                "<XMLMessage><CompareDocuments><Datasheet1 DocumentId1=\"" + first +
                    "\" Status1=\"1\"/><Datasheet2 DocumentId2=\"" + second +
                    "\" Status2=\"1\"/></CompareDocuments></XMLMessage>");
  };
  const Outcome summary = compare(Store(), "1006", "1007");
  EXPECT_EQ(summary.status, 1) << summary.out;
  EXPECT_NE(summary.err.find("The Datasheets are not comparable."), std::string::npos)
      << summary.err;

  std::string plant =
      kx::test::tools::ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  const size_t begin = plant.find("<template id=\"PUMP-DS\"");
  const size_t end = plant.find("</template>", begin) + std::string("</template>").size();
  ASSERT_NE(begin, std::string::npos);
  std::string lower = plant.substr(begin, end - begin);
  lower.replace(lower.find("PUMP-DS"), 7, "pump-ds");
  plant.insert(end, "\n    " + lower);
  kx::test::tools::WriteText(dir_ / "case.xml", plant);
  const std::string store = dir_ / "case.db";
  ASSERT_EQ(Bare({"--store", store, "init", "--fixture", dir_ / "case.xml"}).status, 0);
  const Outcome created =
      Bare({"--store", store, "request", "CreateDocuments", "-"},
           "<XMLMessage><CreateDocuments><Datasheet ObjectId=\"102\" TemplateId=\"pump-ds\"/>"
           "</CreateDocuments></XMLMessage>");
  ASSERT_EQ(created.status, 0) << created.err;
  const size_t id = created.out.find("DocumentId=\"");
  ASSERT_NE(id, std::string::npos) << created.out;
  const std::string sheet = created.out.substr(id + 12, created.out.find('"', id + 12) - id - 12);
  const Outcome lowerCase = compare(store, "1001", sheet);
  EXPECT_EQ(lowerCase.status, 1) << lowerCase.out;
  EXPECT_NE(lowerCase.err.find("The Datasheets are not comparable."), std::string::npos)
      << lowerCase.err;
  // A sheet of the same template still compares.
  const Outcome same = compare(store, "1001", "1001");
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_NE(same.out.find("<OpenDocuments><Datasheet "), std::string::npos) << same.out;
}

// A new continuous summary sheet shows the plant's name in its fixed field
// above the equipment rows: the globals object stands on its header node.
TEST_F(KxqhostDocumentsTest, ANewSummarySheetReadsItsFixedFieldFromTheGlobals) {
  const Outcome created =
      Host({"request", "CreateDocuments",
            std::string(KXQHOST_SOURCE_DIR) + "/examples/requests/create-documents.xml"});
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(created.err.find("failed to find node index"), std::string::npos) << created.err;
  EXPECT_NE(created.out.find("CDU-1 Crude Distillation Unit"), std::string::npos) << created.out;
}

// The pump datasheet's second page reaches the pump's motor through the
// pump's attribute "Driver": a new datasheet shows it (the sample's script)
// and places it on the page, and the field's path names the attribute.
TEST_F(KxqhostDocumentsTest, APumpDatasheetShowsThePumpsMotorOnItsSecondPage) {
  const Outcome run = Host(
      {"--events", "run", std::string(KXQHOST_SOURCE_DIR) + "/examples/new-pump-datasheet.kxq"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* field : {"PageId=\"1206\" FieldId=\"206\" Alignment=\"0\" "
                            "VerticalAlignment=\"0\" State=\"256\" Value=\"PM-101B\"",
                            "PageId=\"1206\" FieldId=\"208\" Alignment=\"0\" "
                            "VerticalAlignment=\"0\" State=\"256\" Value=\"6600\""})
    EXPECT_NE(run.out.find(field), std::string::npos) << field << "\n" << run.out;
  const Outcome placed = Host({"dump", "1206"});
  EXPECT_NE(placed.out.find("NodeObjects[2] = #112"), std::string::npos) << placed.out;
  const Outcome path =
      Host({"request", "GetFieldProperties", "-"},
           "<XMLMessage><GetFieldProperties PageId=\"1206\" FieldId=\"207\"/></XMLMessage>");
  EXPECT_NE(path.out.find("Attribute=\"Pump: Driver.RatedPower\""), std::string::npos) << path.out;
}

// A new summary sheet sorted by the template's "SortId" of "FilterSort.xml",
// on the plant of data/sort-plant.xml: its lists' first top-level view has
// no field of its own but a sub-view with the drivers' tags, and a second
// top-level view shows the plant's name.
class TemplateSortTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/sort-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::filesystem::create_directories(dir_ / "templates");
    kx::test::tools::WriteText(dir_ / "templates/FilterSort.xml",
                               "<Templates><Template Id=\"PL\" SortId=\"CLD\"/>"
                               "<Template Id=\"PR\" SortId=\"ByRank\"/></Templates>");
  }
  // The drivers' tags of one sheet's rows, in row order.
  static std::string Rows(const std::string& reply, const std::string& sheet) {
    std::string rows;
    const size_t begin = reply.find("Name=\"" + sheet + "\"");
    const size_t end = reply.find("</Datasheet>", begin);
    for (size_t at = reply.find("FieldId=\"201\"", begin); at < end;
         at = reply.find("FieldId=\"201\"", at + 1)) {
      const size_t value = reply.find("Value=\"", at) + 7;
      rows += reply.substr(value, reply.find('"', value) - value) + " ";
    }
    return rows;
  }
};

TEST_F(TemplateSortTest, ANewSheetIsSortedByTheColumnFoundDepthFirstOrByItsSchemaSort) {
  const Outcome created =
      Host({"--set", "Folder::Templates=templates", "request", "CreateDocuments", "-"},
           "<XMLMessage TargetId=\"App\" Status=\"1\"><CreateDocuments CaseId=\"1\">"
           "<Datasheet TemplateId=\"PL\"/><Datasheet TemplateId=\"PR\"/>"
           "</CreateDocuments></XMLMessage>");
  ASSERT_EQ(created.status, 0) << created.err;
  // Members are added as M-B, M-C, M-A. "CLD" orders by the drivers' tags
  // (the sub-view's field), not by the plant's name of the next view.
  EXPECT_EQ(Rows(created.out, "Pumps by driver"), "M-C M-B M-A ") << created.out;
  // "ByRank" orders the pumps by their rank: 11, 12, 10.
  EXPECT_EQ(Rows(created.out, "Pumps by rank"), "M-C M-A M-B ") << created.out;

  // A schema sort needs no field of the column: page 24 is the first sheet's.
  const Outcome sorted = Host({"request", "ApplyDatasheetSort", "-"},
                              "<XMLMessage TargetId=\"23\" Status=\"1\"><ApplyDatasheetSort "
                              "PageId=\"24\" FieldId=\"999\" SortId=\"ByRank\"/></XMLMessage>");
  ASSERT_EQ(sorted.status, 0) << sorted.err;
  EXPECT_NE(sorted.out.find("Sorted 3 objects"), std::string::npos) << sorted.out;
  const std::string page = Dump({"24"});
  EXPECT_NE(page.find("NodeObjects[2] = #11\nNodeObjects[3] = #12\nNodeObjects[4] = #10\n"),
            std::string::npos)
      << page;
  // A value sort does.
  const Outcome refused = Host({"request", "ApplyDatasheetSort", "-"},
                               "<XMLMessage TargetId=\"23\" Status=\"1\"><ApplyDatasheetSort "
                               "PageId=\"24\" FieldId=\"999\" SortId=\"CLA\"/></XMLMessage>");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("E_POINTER"), std::string::npos) << refused.err;
}

}  // namespace
