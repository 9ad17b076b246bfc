// Where a failed request is caught: the frame of each message handler
// locates its failure at the source file of the handler's message family,
// as the journal at trace level "High" shows, on the sample plant.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "kxtrace.h"
#include "support/cataloguetest.h"

using kx::test::inprocess::CatalogueTest;
using kx::test::inprocess::Narrow;

namespace {

class HandlerFramesTest : public CatalogueTest {
 protected:
  void SetUp() override {
    // The tracer takes its settings at the first attach of the process.
    DataServiceKXCETracer::ResetTracerForTesting();
    host_.settings().Set(u"TraceLevel::JournalTrace", u"yes");
    host_.settings().Set(u"TraceLevel::General", u"high");
    host_.journal().Capture();
    CatalogueTest::SetUp();
  }
  void TearDown() override {
    CatalogueTest::TearDown();
    DataServiceKXCETracer::ResetTracerForTesting();
  }

  // The line the handler's frame traced when it caught the failure of
  // request `name`: the one before the request boundary's.
  std::string CatchLine(const char16_t* name, const char16_t* text) {
    const size_t from = host_.journal().text().size();
    const kx::host::RequestResult result = Request(name, text);
    EXPECT_FALSE(result.succeeded()) << Narrow(name);
    const std::string journal = host_.journal().text().substr(from);
    static const std::regex boundary(R"(\n[^\n]*kxqdataserviceimpl\(\d+\) : ~~~~ Caught)");
    std::smatch found;
    if (!std::regex_search(journal, found, boundary)) return "(no boundary line)\n" + journal;
    const std::string before = journal.substr(0, static_cast<size_t>(found.position(0)));
    return before.substr(before.rfind('\n') + 1);
  }
};

// True when `line` is the frame's trace of a failure caught at `family`'s
// file.
::testing::AssertionResult IsCaughtAt(const std::string& line, const std::string& family) {
  const std::regex expected("source/dataservices/kxdbdatasheetsvcs/" + family +
                            R"(\(\d+\) : ~~~~ Caught KXComException ~~~~)");
  if (std::regex_match(line, expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "caught at \"" << line << "\", not at " << family;
}

struct FailingRequest {
  const char16_t* message;
  const char* family;
};

TEST_F(HandlerFramesTest, EachFamilysHandlerIsCaughtAtItsFamilysFile) {
  const FailingRequest requests[] = {
      {u"ListDatasheetsByObject", "listdatasheetsbyobject"},
      {u"ListDatasheetsByTemplate", "listdatasheetsbytemplate"},
      {u"ListDiagramsByObject", "listdiagramsbyobject"},
      {u"CreateDocuments", "createdocuments"},
      {u"WithdrawDocuments", "withdrawdocuments"},
      {u"SubmitDocuments", "revisedocuments"},
      {u"CheckDocuments", "revisedocuments"},
      {u"OpenDocuments", "processdocuments"},
      {u"ExportDocuments", "processdocuments"},
      {u"RenameDocuments", "renamedocuments"},
      {u"CloseDocuments", "closedocuments"},
      {u"GetTemplateFromDB", "files"},
      {u"ChangeDimensionUnit", "dimensions"},
      {u"ChangeDatasheetDimensionSet", "datasheetdimensions"},
      {u"ShowFieldObjects", "fieldobjects"},
      {u"CopyFieldCase", "fieldcases"},
      {u"RecaseDocuments", "datasheetcases"},
      {u"CreateHold", "holds"},
      {u"GetFieldProperties", "fieldproperties"},
      {u"SetFieldStatus", "fieldstatus"},
      {u"GetFieldFormat", "fieldformat"},
      {u"GetOptions", "fieldoptions"},
      {u"GetUnits", "unitfield"},
      {u"SetStringField", "stringfield"},
      {u"SetRealField", "realfield"},
      {u"SetIntegerField", "integerfield"},
      {u"SetDateField", "datefield"},
      {u"SetBoolField", "boolfield"},
      {u"SetRadioField", "radiofield"},
      {u"SetCheckField", "checkfield"},
      {u"SetSketchField", "sketchfield"},
      {u"MoveAnnotation", "annotations"},
      {u"ApplyDatasheetFilter", "filters"},
      {u"PackObjects", "packobjects"},
      {u"DatasheetOverspill", "datasheetoverspill"},
      {u"ApplyDatasheetSort", "sort"},
      {u"GetFieldHelp", "help"},
      {u"SetQualifier", "qualifiedfield"},
      {u"InsertPages", "pages"},
      {u"ComparePages", "pages"},
      {u"GetFieldObject", "methods"},
      {u"UpdateTemplates", "validatetemplates"},
      {u"GetInfoForReport", "infoforreport"},
      {u"CompareDocuments", "comparedocuments"},
  };
  // An unfinished request text fails the parse inside the handler's frame.
  for (const FailingRequest& request : requests) {
    EXPECT_TRUE(
        IsCaughtAt(CatchLine(request.message, u"<XMLMessage Status=\"1\"><"), request.family))
        << Narrow(request.message);
  }

  // The families whose messages take no grammar fail where the host does.
  host_.application().failures().Add("get_TemplateLibrary", E_FAIL, u"library offline");
  EXPECT_TRUE(IsCaughtAt(CatchLine(u"ListTemplates", u""), "listtemplates"));
  EXPECT_TRUE(IsCaughtAt(CatchLine(u"ListDatasheetsByStatus", u"1"), "listdatasheetsbystatus"));
  host_.application().failures().Clear();
  host_.application().failures().Add("get_Privileges", E_FAIL, u"directory unreachable");
  EXPECT_TRUE(IsCaughtAt(CatchLine(u"GetConfigurations", u""), "getconfigurations"));
  host_.application().failures().Clear();
  host_.drawing().failures().Add("get_DrawingTemplates", E_FAIL, u"drawings offline");
  EXPECT_TRUE(IsCaughtAt(CatchLine(u"ListDiagrams", u""), "listdiagrams"));
}

// The line number of a catch line ("FILE(LINE) : ..."), -1 for none.
int LineOf(const std::string& line) {
  static const std::regex located(R"(^[^(]*\((\d+)\) : )");
  std::smatch found;
  return std::regex_search(line, found, located) ? std::stoi(found[1].str()) : -1;
}

// The line is the handler's own, where it opens its frame, not one of a
// frame shared by all: two handlers of one family file are caught at two
// lines, the messages of one handler at one.
TEST_F(HandlerFramesTest, EachHandlerIsCaughtAtItsOwnLine) {
  const char16_t* unfinished = u"<XMLMessage Status=\"1\"><";
  const std::string submit = CatchLine(u"SubmitDocuments", unfinished);
  const std::string check = CatchLine(u"CheckDocuments", unfinished);
  ASSERT_TRUE(IsCaughtAt(submit, "revisedocuments"));
  ASSERT_TRUE(IsCaughtAt(check, "revisedocuments"));
  EXPECT_NE(LineOf(submit), LineOf(check)) << submit << "\n" << check;

  const std::string open = CatchLine(u"OpenDocuments", unfinished);
  const std::string print = CatchLine(u"PrintDocuments", unfinished);
  ASSERT_TRUE(IsCaughtAt(open, "processdocuments"));
  EXPECT_EQ(open, print);
}

}  // namespace
