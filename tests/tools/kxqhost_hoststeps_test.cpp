// The host program's own steps on the sample plant: change events held
// between calls, the module detached and attached again with other
// settings, and the module's other data-service slots.
#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class KxqhostHostStepsTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  Outcome Run(const std::string& script, std::vector<std::string> options = {}) {
    WriteText(dir_ / "steps.kxq", script);
    options.insert(options.end(), {"run", dir_ / "steps.kxq"});
    return Host(options);
  }
  static std::string SetReal(const std::string& page, const std::string& field,
                             const std::string& value) {
    return "request SetRealField <<END\n<XMLMessage Status=\"1\"><SetRealField PageId=\"" + page +
           "\" FieldId=\"" + field + "\" Value=\"" + value + "\"/></XMLMessage>\nEND\n";
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

// A held event takes in what later calls launch with its key, and shows the
// store as it is when it is delivered; one whose page is gone by then is
// delivered without XML and a warning, and the delivery succeeds.
TEST_F(KxqhostHostStepsTest, HeldEventsMergeAndAGonePageGivesAWarning) {
  // A call that fails in between drops only what it launched itself.
  const Outcome outcome =
      Run(SetReal("1011", "103", "395") + SetReal("1011", "104", "12") + "! " +
              SetReal("999999", "103", "1") + "deliver\n" + SetReal("1012", "203", "7") +
              "delete 1012\ndeliver\n" + SetReal("1011", "105", "1"),
          {"--events", "--hold-events"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const size_t deliver = outcome.out.find("## deliver\n");
  ASSERT_NE(deliver, std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.out.find("== event"), outcome.out.find("== event", deliver)) << outcome.out;
  EXPECT_TRUE(
      Has(outcome.out,
          "== event DataField [F1 1011] to bob\n<?xml version=\"1.0\"?><XMLMessage "
          "TargetId=\"1001\" Status=\"1\"><ShowRealField PageId=\"1011\" FieldId=\"103\" "
          "Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" Value=\"395\"/><ShowRealField "
          "PageId=\"1011\" FieldId=\"104\" "))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.out, "## deliver\n== event DataField [F1 1012] to bob\n## request"))
      << outcome.out;
  EXPECT_TRUE(Has(outcome.err, "warning: No object with id 1012\n")) << outcome.err;
  // What is still held when the script ends is delivered then.
  EXPECT_TRUE(
      Has(outcome.out, "## (end of the run) deliver\n== event DataField [F1 1011] to bob\n"))
      << outcome.out;

  // Without holding, each call delivers its own event.
  const Outcome plain =
      Run(SetReal("1011", "103", "396") + SetReal("1011", "104", "13"), {"--events"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("== event DataField [F1 1011]", plain.out.find("## request", 1)),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(plain.out.find("== event"),
            plain.out.find("== event DataField [F1 1011] to bob\n<?xml version=\"1.0\"?>"
                           "<XMLMessage TargetId=\"1001\" Status=\"1\"><ShowRealField "
                           "PageId=\"1011\" FieldId=\"103\""))
      << plain.out;
}

// Every message of the module, sent while it is detached, fails with the
// same clear error and changes nothing (none may crash the host); after
// `attach` requests are served again.
TEST_F(KxqhostHostStepsTest, EveryMessageFailsWhileDetachedAndAttachBringsThemBack) {
  // The module's messages, in the order of its map.
  std::istringstream names(
      "ListDatasheetsByObject ListDatasheetsByTemplate ListDatasheetsByStatus "
      "ListDatasheetsByField ListDiagrams ListDiagramsByObject ListSharedDiagrams "
      "ListTemplates ListCachedTemplates CreateDocuments WithdrawDocuments SubmitDocuments "
      "CheckDocuments IssueDocuments OpenDocuments PrintDocuments ExportDocuments "
      "RenameDocuments CloseDocuments GetTemplateFile GetTemplateFromDB GetSourceFromDB "
      "SetQMFDBTemplate GetBitmapFile GetSourceFile ListDimensions ListDimensionSets "
      "ListDimensionUnits ChangeDimensionSet ChangeDimensionUnit ListDatasheetDimensions "
      "ListDatasheetDimensionSets ListDatasheetDimensionUnits ChangeDatasheetDimensionSet "
      "ChangeDatasheetDimensionUnit ShowFieldObjects HideFieldObjects AddFieldObjects "
      "RemoveFieldObjects DeleteFieldObjects ShowPrimaryObjects ShowFieldCase "
      "HideFieldCase CopyFieldCase ListDatasheetObjects RecaseDocuments ListHolds "
      "CreateHold CloseHold GetFieldProperties SetFieldProperties GetFieldStatus "
      "SetFieldStatus GetFieldFormat SetFieldFormat GetOptions SetUnit GetUnits "
      "SetStringField SetRealField SetIntegerField SetDateField SetBoolField SetRadioField "
      "SetCheckField SetSketchField CreateAnnotation SetAnnotation MoveAnnotation "
      "ListDatasheetFilters ApplyDatasheetFilter GetConfigurations GetObjectFilters "
      "PackObjects DatasheetOverspill ListDatasheetSorts ApplyDatasheetSort "
      "GetDocumentHelp GetFieldHelp SetQualifier ListTemplatePages "
      "ListTemplatePagesByObject InsertPages DeletePage RenamePage MovePage OpenPage "
      "ListPageObjects SetPageCase PageLayout GetFieldObject MakeSummaryProjectWide "
      "ValidateTemplates UpdateTemplates GetInfoForReport CompareDocuments ComparePages");
  std::vector<std::string> messages;
  for (std::string name; names >> name;) messages.push_back(name);
  ASSERT_EQ(messages.size(), 97u);
  const std::filesystem::path requests =
      std::filesystem::path(KXQHOST_SOURCE_DIR) / "examples" / "requests";
  std::string script = "detach\n";
  for (const std::string& name : messages) {
    std::string file;  // "GetTemplateFromDB" -> "get-template-from-db"
    for (size_t i = 0; i < name.size(); ++i) {
      const bool upper = std::isupper(static_cast<unsigned char>(name[i])) != 0;
      if (upper && i > 0 && std::islower(static_cast<unsigned char>(name[i - 1])) != 0) file += '-';
      file += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    }
    std::string step =
        "! request " + name + " <<END\n<XMLMessage><" + name + "/></XMLMessage>\nEND\n";
    for (const std::string& candidate : {file + ".xml", file + ".txt", name + ".txt"}) {
      if (std::filesystem::exists(requests / candidate)) {
        step = "! request " + name + " " + (requests / candidate).string() + "\n";
        break;
      }
    }
    script += step;
  }
  script += "attach\nrequest GetConfigurations " + (requests / "get-configurations.txt").string() +
            "\n" + SetReal("1011", "103", "395");
  const Outcome outcome = Run(script, {"--events"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string error = "<KXError Desc=\"Not attached to a host application\" HR=\"E_FAIL\"";
  size_t refused = 0;
  for (size_t at = outcome.err.find(error); at != std::string::npos;
       at = outcome.err.find(error, at + 1)) {
    ++refused;
  }
  EXPECT_EQ(refused, messages.size()) << outcome.err;
  // Nothing changed, raised or was sent before the attach.
  const size_t attached = outcome.out.find("## attach\n");
  ASSERT_NE(attached, std::string::npos) << outcome.out;
  const std::string detached = outcome.out.substr(0, attached);
  for (const char* change : {"== store", "== event", "== sent file", "== drawing"}) {
    EXPECT_FALSE(Has(detached, change)) << detached;
  }
  EXPECT_TRUE(Has(outcome.out.substr(attached), "== store changed #101: RatedFlow")) << outcome.out;
}

// Database events and trigger callbacks that need the host are refused
// while the module is detached, as its requests are, and change nothing:
// another client's creation of a pump (which would put it on the pump
// summary's list page 1071) fails, and so do a claim change of P-101A and
// its datasheet's trigger. Attached again, the same creation goes in.
TEST_F(KxqhostHostStepsTest, EventsAndTriggerCallbacksAreRefusedWhileDetached) {
  ASSERT_EQ(Run("watch 1001 Datasheet k1 101 RatedFlow\n").status, 0);
  const std::string before = Dump({"101", "1001", "1007", "1071"});
  const Outcome detached =
      Run("detach\n"
          "! create Pump\n"
          "! event --local 9 101\n"
          "! trigger 1001 Datasheet\n",
          {"--events"});
  ASSERT_EQ(detached.status, 0) << detached.err;
  const std::string error = "<KXError Desc=\"Not attached to a host application\" HR=\"E_FAIL\"";
  size_t refused = 0;
  for (size_t at = detached.err.find(error); at != std::string::npos;
       at = detached.err.find(error, at + 1)) {
    ++refused;
  }
  EXPECT_EQ(refused, 3u) << detached.err;
  EXPECT_FALSE(Has(detached.err, "Invalid pointer")) << detached.err;
  EXPECT_FALSE(Has(detached.out, "== store changed")) << detached.out;
  EXPECT_FALSE(Has(detached.out, "== event")) << detached.out;
  EXPECT_EQ(Dump({"101", "1001", "1007", "1071"}), before);

  const Outcome attached = Run("create Pump\n", {"--events"});
  ASSERT_EQ(attached.status, 0) << attached.err;
  EXPECT_TRUE(Has(attached.out, "== store changed #1071: NodeObjects")) << attached.out;
}

// The object-service methods that work through Main fail while it is
// detached, as its requests do, and work again after the attach.
TEST_F(KxqhostHostStepsTest, ObjectServicesThroughMainFailWhileDetached) {
  const Outcome outcome =
      Run("detach\n"
          "! service 10 1005 ValidateDatasheet\n"
          "! service 10 1005 GetRealFieldsWithUOM\n"
          "attach\n"
          "service 10 1005 ValidateDatasheet\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  for (const char* method : {"ValidateDatasheet", "GetRealFieldsWithUOM"}) {
    EXPECT_TRUE(Has(outcome.err, std::string("<KXError Desc=\"Not attached to a host application\" "
                                             "Activity=\"DatasheetServices::") +
                                     method + "\""))
        << outcome.err;
  }
  // The two detached calls failed; the one after the attach did not.
  size_t failed = 0;
  for (size_t at = outcome.err.find(" failed: "); at != std::string::npos;
       at = outcome.err.find(" failed: ", at + 1)) {
    ++failed;
  }
  EXPECT_EQ(failed, 2u) << outcome.err;
}

// The tracer takes its configuration from the first attach of the process;
// a second attach with other settings leaves it in force.
TEST_F(KxqhostHostStepsTest, ASecondAttachKeepsTheFirstTraceConfiguration) {
  const std::string traced = "&KXCE& >>>> Enter KXDBDatasheetSvcs::ListTemplates()";
  const Outcome on =
      Run("detach\n"
          "! request ListTemplates <<END\nEND\n"
          "attach TraceLevel::General=none TraceLevel::JournalTrace=no\n"
          "request ListTemplates <<END\nEND\n",
          {"--set", "TraceLevel::JournalTrace=yes", "--set", "TraceLevel::General=high"});
  ASSERT_EQ(on.status, 0) << on.err;
  EXPECT_TRUE(Has(on.err, "Not attached to a host application")) << on.err;
  const size_t attached = on.err.find("request ListTemplates failed");
  ASSERT_NE(attached, std::string::npos) << on.err;
  EXPECT_NE(on.err.find(traced, attached), std::string::npos) << on.err;

  const Outcome off =
      Run("request ListTemplates <<END\nEND\n"
          "detach\n"
          "attach TraceLevel::General=high TraceLevel::JournalTrace=yes\n"
          "request ListTemplates <<END\nEND\n");
  ASSERT_EQ(off.status, 0) << off.err;
  EXPECT_TRUE(Has(off.out, "<Template Name=\"Centrifugal pump datasheet\"")) << off.out;
  EXPECT_FALSE(Has(off.err, "&KXCE&")) << off.err;
}

// At trace level "High" the template-page listings trace their handler
// once, when its context is made, and "KXClassTemplatesInfo::WriteXML"
// once for each record written.
TEST_F(KxqhostHostStepsTest, TemplatePageListingsTraceTheHandlerOnceAndEachRecord) {
  auto count = [](const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  const std::vector<std::string> traced = {"--set", "TraceLevel::JournalTrace=yes", "--set",
                                           "TraceLevel::General=high", "request"};
  const std::string writer = "&KXCE& >>>> Enter KXClassTemplatesInfo::WriteXML()\n";
  const std::string handler = "&KXCE& >>>> Enter KXDBDatasheetSvcs::ListTemplatePagesByObject()\n";
  std::vector<std::string> byObject = traced;
  byObject.insert(byObject.end(), {"ListTemplatePagesByObject", "-"});
  const Outcome objects = Host(
      byObject,
      "<XMLMessage TargetId=\"Insert\" Status=\"1\"><ListTemplatePagesByObject>"
      "<ObjectId>101</ObjectId><ObjectId>131</ObjectId></ListTemplatePagesByObject></XMLMessage>");
  ASSERT_EQ(objects.status, 0) << objects.err;
  // A record per object, each with its templates' pages.
  EXPECT_NE(objects.out.find("ObjectId=\"101\""), std::string::npos) << objects.out;
  EXPECT_NE(objects.out.find("ObjectId=\"131\""), std::string::npos) << objects.out;
  EXPECT_EQ(count(objects.err, writer), 2u) << objects.err;
  EXPECT_EQ(count(objects.err, handler), 1u) << objects.err;
  // The handler's line comes first, before the objects are looked up.
  EXPECT_LT(objects.err.find(handler),
            objects.err.find("Enter ListTemplatePagesMessageParser::InternalAddObject()"))
      << objects.err;

  std::vector<std::string> ofSheet = traced;
  ofSheet.insert(ofSheet.end(), {"ListTemplatePages", "-"});
  const Outcome sheet = Host(ofSheet, "1001");
  ASSERT_EQ(sheet.status, 0) << sheet.err;
  // Two records: P-101A, on the pages, with its two templates, and the
  // continuous-list summary.
  EXPECT_EQ(count(sheet.out, "<Pages "), 3u) << sheet.out;
  EXPECT_EQ(count(sheet.err, writer), 2u) << sheet.err;
}

// The slots a host rarely calls: the request slot with an extra argument
// serves no message, the five reserved operations are not implemented, and
// the events that carry an interface fail without one.
TEST_F(KxqhostHostStepsTest, TheOtherSlotsOfTheDataService) {
  const Outcome outcome = Run(
      "! request --extra OpenPage <<END\n"
      "<XMLMessage TargetId=\"1001\" Status=\"1\"><OpenPage PageId=\"1011\"/></XMLMessage>\nEND\n"
      "! reserved 1\n! reserved 2\n! reserved 3\n! reserved 4\n! reserved 5\n"
      "! event --local 6 1 -\n"
      "event --local 6 1\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(Has(outcome.err, "kxqhost: request OpenPage failed: 0x80004005")) << outcome.err;
  for (const char* slot : {"1", "2", "3", "4", "5"}) {
    EXPECT_TRUE(
        Has(outcome.err, std::string("not-implemented operation ") + slot + " failed: 0x80004001"))
        << outcome.err;
  }
  EXPECT_TRUE(
      Has(outcome.err, "<KXError Desc=\"Could not get expected event interface\" HR=\"E_FAIL\""))
      << outcome.err;
  // With its project update the same event succeeds.
  EXPECT_TRUE(Has(outcome.out, "## event --local 6 1\n== project update reported #1007\n"))
      << outcome.out;
}

}  // namespace
}  // namespace kx::test::tools
