// The document workflow end to end on the sample plant
// (support/cataloguetest.h): "SubmitDocuments", "CheckDocuments",
// "IssueDocuments" and "WithdrawDocuments".
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <sqlite3.h>

#include "host/drawing_service.h"
#include "kxstoreutils.h"
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

LONG Id(IKXQObject* object) {
  LONG id = 0;
  if (object) object->get_Id(&id);
  return id;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class WorkflowTest : public CatalogueTest {
 protected:
  std::string Run(const char* name, const std::string& body, bool ok = true) {
    const auto result =
        Request(Wide(name), Wide("<XMLMessage TargetId=\"App\">" + body + "</XMLMessage>"));
    EXPECT_EQ(result.succeeded(), ok) << name << ": " << Narrow(result.error);
    last_ = result;
    return ok ? Narrow(result.reply) : Narrow(result.error);
  }
  std::string Submit(LONG id, bool ok = true) {
    return Run("SubmitDocuments",
               "<SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"" + std::to_string(id) +
                   "\"/></SubmitDocuments>",
               ok);
  }
  std::string Check(LONG id, bool ok = true) {
    return Run(
        "CheckDocuments",
        "<CheckDocuments><Datasheet DocumentId=\"" + std::to_string(id) + "\"/></CheckDocuments>",
        ok);
  }
  std::string Issue(LONG id, const std::string& revision, const std::string& minor = "",
                    bool ok = true) {
    return Run("IssueDocuments",
               "<IssueDocuments Revision=\"" + revision + "\" MinorRevision=\"" + minor +
                   "\" IssueReason=\"For construction\"><Datasheet DocumentId=\"" +
                   std::to_string(id) + "\"/></IssueDocuments>",
               ok);
  }
  std::string Withdraw(LONG id, int status, bool confirmed, bool ok = true) {
    return Run("WithdrawDocuments",
               std::string("<WithdrawDocuments") + (confirmed ? " Confirmed=\"1\"" : "") +
                   "><Datasheet DocumentId=\"" + std::to_string(id) + "\" Status=\"" +
                   std::to_string(status) + "\"/></WithdrawDocuments>",
               ok);
  }
  std::vector<IKXQObjectPtr> Pages(LONG id, const OLECHAR* list) {
    std::vector<IKXQObjectPtr> pages;
    IKXQAttributePtr attribute;
    GetAttributeInterface(Object(id), list, attribute);
    const int32_t count = GetAttributeCount(attribute);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(attribute, i, page);
      pages.push_back(page);
    }
    return pages;
  }
  // The ids "RevisedPages" of a page holds (0 for an empty slot).
  std::vector<LONG> Revised(IKXQObject* page) {
    std::vector<LONG> ids;
    for (const IKXQObjectPtr& copy : Pages(Id(page), u"RevisedPages")) ids.push_back(Id(copy));
    return ids;
  }
  // The non-empty revision marks of a page as "slot:text".
  std::string Marks(IKXQObject* page) {
    IKXQAttributePtr revisions;
    GetAttributeInterface(page, u"Revisions", revisions);
    std::string marks;
    for (int32_t i = 1; i <= GetAttributeCount(revisions); ++i) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(revisions, i, text);
      if (text.length() > 0)
        marks += (marks.empty() ? "" : " ") + std::to_string(i) + ":" + Narrow(text);
    }
    return marks;
  }
  std::string FieldText(IKXQObject* page, int32_t n) {
    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, n, text);
    return Narrow(text);
  }
  void SetPumpValue(const OLECHAR* attribute, double value) {
    IKXQAttributePtr held;
    GetAttributeInterface(Object(101), attribute, held);
    ASSERT_TRUE(held);
    KXDBDatasheetSvcs::SetAttributeReal(held, nullptr, value);
  }
  std::vector<std::string> Steps(LONG id) {
    std::vector<std::string> steps;
    const std::string prefix = std::to_string(id) + " ";
    for (const auto& step : workflow_.steps) {
      if (step.rfind(prefix, 0) == 0) steps.push_back(step.substr(prefix.size()));
    }
    return steps;
  }

  kx::host::RequestResult last_;
};

TEST_F(WorkflowTest, SubmitAsksAboutDocumentsInTheWorkflowAndCopiesTheCurrentPages) {
  // Unconfirmed: nothing for the draft 1001, a question for the submitted 1002.
  const std::string asked = Run("SubmitDocuments",
                                "<SubmitDocuments><Datasheet DocumentId=\"1001\"/>"
                                "<Datasheet DocumentId=\"1002\"/></SubmitDocuments>");
  EXPECT_NE(asked.find("MessageType=\"QUESTION\" DocumentId=\"1002\""), std::string::npos) << asked;
  EXPECT_NE(asked.find(" is currently submitted - resubmit?</Message>"), std::string::npos)
      << asked;
  EXPECT_EQ(asked.find("1001"), std::string::npos) << asked;
  EXPECT_EQ(asked.find("ALERT"), std::string::npos) << asked;
  EXPECT_EQ(Text(1001, u"Status"), "1");
  EXPECT_EQ(Run("SubmitDocuments", "<SubmitDocuments/>"),
            "<XMLMessage TargetId=\"App\"></XMLMessage>");

  const std::string none = Run("SubmitDocuments", "<SubmitDocuments Confirmed=\"1\"/>");
  EXPECT_NE(none.find(">Submitted 0 Documents</Message>"), std::string::npos) << none;

  const std::string submitted = Submit(1001);
  EXPECT_NE(submitted.find("<Message MessageType=\"ALERT\">Submitted 1 Document</Message>"),
            std::string::npos)
      << submitted;
  EXPECT_EQ(Text(1001, u"Status"), "2");
  EXPECT_EQ(Steps(1001), (std::vector<std::string>{"7 "}));
  const auto copies = Pages(1001, u"SubmittedPages");
  ASSERT_EQ(copies.size(), 2u);
  const auto current = Pages(1001, u"CurrentPages");
  for (size_t i = 0; i < 2; ++i) {
    IKXQObjectPtr active;
    KXDBDatasheetSvcs::GetAttributeObjectByName(copies[i], active, u"ActivePage");
    EXPECT_EQ(active.GetInterfacePtr(), current[i].GetInterfacePtr());
    VARIANT_BOOL statusCopy = VARIANT_FALSE;
    copies[i]->get_IsStatusCopy(&statusCopy);
    EXPECT_EQ(statusCopy, VARIANT_TRUE);
    // The current page lists its new copy after the ones of the last issue.
    const std::vector<LONG> revised = Revised(current[i]);
    ASSERT_FALSE(revised.empty());
    EXPECT_EQ(revised.back(), Id(copies[i]));
    EXPECT_TRUE(Revised(copies[i]).empty());
  }
  EXPECT_EQ(Revised(current[0]), (std::vector<LONG>{1013, Id(copies[0])}));
  // The copy records the live value, not the stored text.
  EXPECT_NE(FieldText(copies[0], 3).find("Value=\""), std::string::npos) << FieldText(copies[0], 3);
  EXPECT_EQ(FieldText(current[0], 3).find("Value=\""), std::string::npos);
  // The pages of revision A are untouched.
  EXPECT_EQ(Id(Pages(1001, u"IssuedPages")[0]), 1013);

  // Two confirmed datasheets: both counted, the resubmitted 1002 gets new copies.
  const std::string two = Run("SubmitDocuments",
                              "<SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1002\"/>"
                              "<Datasheet DocumentId=\"1003\"/></SubmitDocuments>");
  EXPECT_NE(two.find(">Submitted 2 Documents</Message>"), std::string::npos) << two;
  IKXQObjectPtr old;
  EXPECT_EQ(store_->Database()->get_Object(1023, &old), KXQ_E_NOOBJECT)
      << "the old submitted copy is deleted";
  // ... and leaves its current page's list: no empty slot stays behind.
  const auto resubmitted = Pages(1002, u"SubmittedPages");
  ASSERT_FALSE(resubmitted.empty());
  IKXQObjectPtr active;
  KXDBDatasheetSvcs::GetAttributeObjectByName(resubmitted[0], active, u"ActivePage");
  EXPECT_EQ(Revised(active), (std::vector<LONG>{Id(resubmitted[0])}));
}

TEST_F(WorkflowTest, CheckAndIssueRefuseWithTheirTextsAndKeepTheWorkflowOrder) {
  EXPECT_NE(Check(1001, false).find("Cannot check datasheet, the document is not submitted"),
            std::string::npos);
  EXPECT_NE(Issue(1002, "B", "", false).find("Cannot issue datasheet, the document is not checked"),
            std::string::npos);
  host_.privileges().Revoke(u"CheckDocument");
  workflow_.steps.clear();
  EXPECT_NE(Check(1002, false).find("You do not have CheckDocument privilege"), std::string::npos);
  EXPECT_EQ(Text(1002, u"Status"), "2");
  EXPECT_TRUE(workflow_.steps.empty());
  host_.privileges().Revoke(u"IssueDocument");
  EXPECT_NE(Issue(1004, "B", "", false).find("You do not have IssueDocument privilege"),
            std::string::npos);
  host_.privileges().Grant(u"CheckDocument");
  host_.privileges().Grant(u"IssueDocument");

  // The discipline rule: 1001 belongs to "Mechanical".
  host_.settings().Set(u"IDWF", u"true");
  EXPECT_NE(Submit(1001, false).find("You must be a member of a discipline"), std::string::npos);
  host_.privileges().SetDiscipline(u"Electrical");
  EXPECT_NE(Submit(1001, false).find("Only documents owned by your discipline"), std::string::npos);
  host_.privileges().SetDiscipline(u"Mechanical");
  Submit(1001);
  EXPECT_EQ(Text(1001, u"Status"), "2");

  // A deny defined in the store on the relation.
  ASSERT_TRUE(store_->DenyPrivilege(1001, u"CheckDocument", u"Area 100").ok());
  EXPECT_NE(Check(1001, false)
                .find("Cannot check Datasheet 1001 due to 'deny' privilege defined on Area 100."),
            std::string::npos)
      << Narrow(last_.error);
  ASSERT_TRUE(store_->DenyPrivilege(1001, u"CheckDocument", u"").ok());
  const std::string checked = Check(1001);
  EXPECT_EQ(checked,
            "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Checked 1 "
            "Document</Message></XMLMessage>");
  EXPECT_EQ(Text(1001, u"Status"), "3");
  const auto submitted = Pages(1001, u"SubmittedPages");
  const auto checkedPages = Pages(1001, u"CheckedPages");
  ASSERT_EQ(checkedPages.size(), 2u);
  EXPECT_EQ(checkedPages[0].GetInterfacePtr(), submitted[0].GetInterfacePtr());
  EXPECT_EQ(checkedPages[1].GetInterfacePtr(), submitted[1].GetInterfacePtr());
  ASSERT_TRUE(store_->DenyPrivilege(1001, u"IssueDocument", u"Project Area 100").ok());
  EXPECT_NE(
      Issue(1001, "B", "", false)
          .find("Cannot issue Datasheet 1001 due to 'deny' privilege defined on Project Area 100."),
      std::string::npos)
      << Narrow(last_.error);
}

TEST_F(WorkflowTest, IssueMarksChangedFieldsAndClearsTheEarlierMarks) {
  // Page 1011 carries a markup annotation that the issue removes, and a note that stays.
  IKXQAttributePtr annotations;
  GetAttributeInterface(Object(1011), u"Annotations", annotations);
  SetAttributeValueAt(annotations, 2,
                      u"<Annotation FieldId=\"2\" X=\"1\" Y=\"2\" Markup=\"1\" Value=\"check\"/>");

  Submit(1001);
  Check(1001);
  workflow_.steps.clear();
  const std::string issued = Issue(1001, "B", "1");
  EXPECT_NE(issued.find("<Message MessageType=\"ALERT\">Issued 1 Document</Message></XMLMessage>"),
            std::string::npos)
      << issued;
  EXPECT_EQ(Text(1001, u"Status"), "1");
  EXPECT_EQ(Text(1001, u"LastRevisionLevel"), "B1");
  EXPECT_EQ(Text(1001, u"LastMajorRevisionLevel"), "B");
  EXPECT_EQ(Text(1001, u"LastMinorRevisionLevel"), "1");
  EXPECT_EQ(Text(1001, u"LastIssueReason"), "For construction");
  EXPECT_EQ(Steps(1001), (std::vector<std::string>{"9 B|1|For construction"}));
  IKXQObjectPtr gone;
  EXPECT_EQ(store_->Database()->get_Object(1013, &gone), KXQ_E_NOOBJECT)
      << "revision A's pages give way";
  const auto firstIssue = Pages(1001, u"IssuedPages");
  ASSERT_EQ(firstIssue.size(), 2u);
  EXPECT_EQ(Steps(Id(firstIssue[1])), (std::vector<std::string>{"300 "}))
      << "the issued page is sealed";
  // Revision A recorded no values: every field showing one is revised.
  const std::string marks = Marks(Object(1011));
  EXPECT_NE(marks.find("3:B1"), std::string::npos) << marks;
  EXPECT_EQ(Marks(firstIssue[0]), marks);
  EXPECT_EQ(GetAttributeCount(annotations), 1) << "the markup went, the note stayed";
  size_t annotationEvents = 0;
  for (const auto& event : last_.events)
    annotationEvents += Narrow(event.key.value_or(u"")).find("A") == 0;
  EXPECT_GE(annotationEvents, 1u);
  // The changed-since-issue bit does not reach the issued page.
  EXPECT_EQ(FieldText(firstIssue[0], 3).find("State=\"257\""), std::string::npos);

  // Second issue: only the rated flow changed.
  SetPumpValue(u"RatedFlow", 412.5);
  Submit(1001);
  EXPECT_EQ(Id(Pages(1001, u"IssuedPages")[0]), Id(firstIssue[0]))
      << "the issued pages survive a submit";
  Check(1001);
  Issue(1001, "C");
  EXPECT_EQ(Marks(Object(1011)), "3:C");
  EXPECT_EQ(Text(1001, u"LastRevisionLevel"), "C");

  // With permanent marks the earlier ones stay.
  host_.settings().Set(u"PermanentRevisionMarks", u"true");
  SetPumpValue(u"DischargePressure", 1234);
  Submit(1001);
  Check(1001);
  Issue(1001, "D");
  EXPECT_EQ(Marks(Object(1011)), "3:C 5:D");
}

// First issue: a number field that shows only a substitution, a prefix or
// a postfix is not blank and is marked; one that shows nothing is not.
TEST_F(WorkflowTest, AFirstIssueMarksANumberFieldShowingOnlyItsDecorations) {
  // P-101B's suction pressure (field 104, revision slot 3) to be announced,
  // its discharge pressure (105, slot 4) with a postfix only, its
  // temperature (106, slot 5) with nothing.
  for (const char* field : {"104\" Substitution=\"TBA", "105\" Postfix=\"max", "106"}) {
    const auto set = Request(
        u"SetRealField", Wide(std::string("<XMLMessage TargetId=\"1002\" Status=\"1\">"
                                          "<SetRealField PageId=\"1021\" Value=\"\" FieldId=\"") +
                              field + "\"/></XMLMessage>"));
    ASSERT_TRUE(set.succeeded()) << field << ": " << Narrow(set.error);
  }
  Submit(1002);
  EXPECT_NE(FieldText(Pages(1002, u"SubmittedPages")[0], 4).find("Substitution=\"TBA\""),
            std::string::npos)
      << FieldText(Pages(1002, u"SubmittedPages")[0], 4);
  Check(1002);
  ASSERT_TRUE(Pages(1002, u"IssuedPages").empty()) << "never issued before";
  Issue(1002, "A");
  const std::string marks = Marks(Object(1021));
  EXPECT_NE(marks.find("4:A"), std::string::npos) << marks;
  EXPECT_NE(marks.find("5:A"), std::string::npos) << marks;
  EXPECT_EQ(marks.find("6:A"), std::string::npos) << marks;
  EXPECT_NE(marks.find("1:A"), std::string::npos) << "a field with a value: " << marks;
}

TEST_F(WorkflowTest, AFailingPostIssueMethodIsReportedAndTheIssueStands) {
  _variant_t failure(static_cast<long>(E_ACCESSDENIED), VT_ERROR);
  ASSERT_TRUE(store_->RegisterMethod(u"Datasheet", u"PostIssueDocument", failure).ok());
  Submit(1001);
  Check(1001);
  Issue(1001, "B");
  EXPECT_EQ(Text(1001, u"Status"), "1");
  ASSERT_EQ(last_.reports.size(), 1u);
  EXPECT_EQ(Narrow(last_.reports[0])
                .rfind("PostIssueDocument KB failed. Return status: 0x80004005 (Method "
                       "\"PostIssueDocument\" failed: registered failure)",
                       0),
            0u)
      << Narrow(last_.reports[0]);
}

TEST_F(WorkflowTest, WithdrawAsksDeletesAndTakesVersionsBack) {
  // 1002 is in use by "ann".
  const std::string inUse = Withdraw(1002, 1, false);
  EXPECT_NE(inUse.find("MessageType=\"ALERT\" DocumentId=\"1002\""), std::string::npos) << inUse;
  EXPECT_NE(inUse.find(". It is currently in use</Message>"), std::string::npos) << inUse;
  EXPECT_NE(inUse.find(">Cannot delete "), std::string::npos) << inUse;
  EXPECT_EQ(Withdraw(1002, 2, false), "<XMLMessage TargetId=\"App\"></XMLMessage>");
  EXPECT_NE(Withdraw(1005, 1, false).find("MessageType=\"QUESTION\" DocumentId=\"1005\">Delete "),
            std::string::npos);

  // Two submitted datasheets taken back together.
  Submit(1001);
  const std::string both = Run("WithdrawDocuments",
                               "<WithdrawDocuments Confirmed=\"1\">"
                               "<Datasheet DocumentId=\"1001\" Status=\"2\"/>"
                               "<Datasheet DocumentId=\"1002\" Status=\"2\"/></WithdrawDocuments>");
  EXPECT_NE(both.find("<Message MessageType=\"ALERT\">Withdrew 2 Documents</Message>"),
            std::string::npos)
      << both;
  for (LONG id : {1001, 1002}) {
    EXPECT_EQ(Text(id, u"Status"), "1");
    EXPECT_TRUE(Pages(id, u"SubmittedPages").empty());
    EXPECT_EQ(Steps(id).back(), "10 ");
    for (const IKXQObjectPtr& page : Pages(id, u"CurrentPages")) {
      for (LONG copy : Revised(page)) EXPECT_NE(copy, 0) << "a withdrawn copy left an empty slot";
    }
  }
  EXPECT_EQ(Pages(1001, u"IssuedPages").size(), 2u) << "revision A stays";

  // The current version of a draft deletes the whole datasheet.
  const std::string deleted = Withdraw(1005, 1, true);
  EXPECT_NE(deleted.find("Withdrew 1 Document<"), std::string::npos) << deleted;
  IKXQObjectPtr gone;
  EXPECT_EQ(store_->Database()->get_Object(1005, &gone), KXQ_E_NOOBJECT);
  EXPECT_EQ(store_->Database()->get_Object(1051, &gone), KXQ_E_NOOBJECT) << "its page goes with it";
  EXPECT_NE(Withdraw(4242, 2, true, false).find("4242"), std::string::npos);
}

TEST_F(WorkflowTest, DiagramsGoThroughTheDrawingService) {
  // The P&ID 1107 has a submitted schematic: unconfirmed submit asks.
  const std::string asked =
      Run("SubmitDocuments", "<SubmitDocuments><Diagram DocumentId=\"1107\"/></SubmitDocuments>");
  EXPECT_NE(asked.find("QUESTION\" DocumentId=\"1107\""), std::string::npos) << asked;
  store_->SetRepresentationProvider(
      [this](IKXQObject* object, const std::u16string& kind, IUnknown** rep) {
        return host_.drawing().Representation(object, kind, rep);
      });
  (void)host_.drawing().TakeCalls();
  Run("SubmitDocuments",
      "<SubmitDocuments Confirmed=\"1\"><Diagram DocumentId=\"1101\"/></SubmitDocuments>");
  Run("CheckDocuments", "<CheckDocuments><Diagram DocumentId=\"1101\"/></CheckDocuments>");
  Run("IssueDocuments",
      "<IssueDocuments Revision=\"B\" MinorRevision=\"2\" IssueReason=\"IFC\">"
      "<Diagram DocumentId=\"1101\"/></IssueDocuments>");
  Run("WithdrawDocuments",
      "<WithdrawDocuments Confirmed=\"1\"><Diagram DocumentId=\"1107\" Status=\"2\"/>"
      "</WithdrawDocuments>");
  std::string calls;
  for (const auto& call : host_.drawing().calls()) calls += Narrow(call.text) + "\n";
  EXPECT_NE(calls.find("Diagram #1101 Submit"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Diagram #1101 Check"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Diagram #1101 Issue \"B\" \"IFC\""), std::string::npos) << calls;
  EXPECT_NE(calls.find("Diagram #1107 Withdraw 2"), std::string::npos) << calls;
}

// Random workflow sequences on one datasheet, on a store file: after every
// step no page an issued list held is lost (unless an issue replaced it),
// every list holds live pages only, no status copy is left outside the
// lists, and the file passes SQLite's integrity check.
TEST(WorkflowPropertyTest, NoIssuedPageIsEverLostAndNoPageIsLeftBehind) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("kx-workflow-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::unique_ptr<kx::store::Store> store;
    ASSERT_TRUE(kx::store::Store::Open(path.string(), kx::store::OpenMode::kCreate, &store).ok());
    ASSERT_TRUE(store->ImportFixtureFile(std::string(KX_EXAMPLES_DIR) + "/plant.xml").ok());
    kx::host::Host host;
    IKXQDatabase* database = store->Database();
    IKXQSchemaPtr schema;
    IKXQTemplateLibraryPtr library;
    IKXQProjectPtr root;
    database->get_Schema(&schema);
    database->get_TemplateLibrary(&library);
    database->get_RootProject(&root);
    host.application().SetStore(database, schema, library);
    host.application().SetProjects(root, root);
    host.privileges().Grant(u"CheckDocument");
    host.privileges().Grant(u"IssueDocument");
    auto service = CreateInProcessMain(&MainWorkers::Defaults());
    ASSERT_EQ(host.Attach(service.get()), S_OK);

    auto list = [&](const OLECHAR* name) {
      std::vector<IKXQObjectPtr> pages;
      IKXQObjectPtr sheet;
      database->get_Object(1001, &sheet);
      IKXQAttributePtr attribute;
      GetAttributeInterface(sheet, name, attribute);
      for (int32_t i = 1; i <= GetAttributeCount(attribute); ++i) {
        IKXQObjectPtr page;
        GetAttributeAsObject(attribute, i, page);
        pages.push_back(page);
      }
      return pages;
    };
    auto alive = [](IKXQObject* page) {
      IKXQClassPtr cls;
      return page != nullptr && SUCCEEDED(page->get_Class(&cls));
    };
    std::set<IKXQObject*> seen;
    std::mt19937 random(seed);
    const char* names[] = {"submit", "check", "issue", "withdraw", "withdraw-current"};
    for (int step = 0; step < 16; ++step) {
      const auto issuedBefore = list(u"IssuedPages");
      const auto checkedBefore = list(u"CheckedPages");
      const int action = static_cast<int>(random() % 4);
      SCOPED_TRACE(std::string("step ") + std::to_string(step) + " " + names[action]);
      std::u16string name;
      std::u16string body;
      switch (action) {
        case 0:
          name = u"SubmitDocuments";
          body =
              u"<SubmitDocuments Confirmed=\"1\"><Datasheet "
              u"DocumentId=\"1001\"/></SubmitDocuments>";
          break;
        case 1:
          name = u"CheckDocuments";
          body = u"<CheckDocuments><Datasheet DocumentId=\"1001\"/></CheckDocuments>";
          break;
        case 2:
          name = u"IssueDocuments";
          body =
              u"<IssueDocuments Revision=\"R\"><Datasheet DocumentId=\"1001\"/></IssueDocuments>";
          break;
        default:
          name = u"WithdrawDocuments";
          body =
              u"<WithdrawDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1001\" Status=\"2\"/>"
              u"</WithdrawDocuments>";
          break;
      }
      ASSERT_EQ(store->Begin().ok(), true);
      const auto result = host.Request(name, u"<XMLMessage>" + body + u"</XMLMessage>");
      if (result.succeeded()) {
        ASSERT_TRUE(store->Commit().ok());
      } else {
        ASSERT_TRUE(store->Rollback().ok());
      }
      const bool issued = action == 2 && result.succeeded();
      const auto issuedAfter = list(u"IssuedPages");
      const auto& expected = issued ? checkedBefore : issuedBefore;
      ASSERT_EQ(issuedAfter.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(issuedAfter[i].GetInterfacePtr(), expected[i].GetInterfacePtr());
        EXPECT_TRUE(alive(issuedAfter[i]));
      }
      std::set<IKXQObject*> listed;
      for (const OLECHAR* each :
           {u"CurrentPages", u"SubmittedPages", u"CheckedPages", u"IssuedPages"}) {
        for (const auto& page : list(each)) {
          EXPECT_TRUE(alive(page)) << "a list points at a deleted page";
          listed.insert(page.GetInterfacePtr());
          seen.insert(page.GetInterfacePtr());
        }
      }
      for (IKXQObject* page : seen) {
        if (alive(page)) {
          EXPECT_TRUE(listed.count(page)) << "page " << Id(page) << " left behind";
        }
      }
    }
    host.Detach();
    service = nullptr;
    store.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "ok");
    sqlite3_finalize(statement);
    sqlite3_close(db);
    std::filesystem::remove(path);
    std::filesystem::remove(path.string() + "-wal");
    std::filesystem::remove(path.string() + "-shm");
  }
}

}  // namespace
