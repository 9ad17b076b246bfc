// Page sets per status, status copies, case names and the composite names
// of datasheets.
#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "main/datasheetservices.h"
#include "main/kxdbdatasheetsvcs_i.h"
#include "main/main.h"
#include "model/kxdbdatasheetutils.h"
#include "store/object.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::FirstDesc;
using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

LONG IdOf(IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr) object->get_Id(&id);
  return id;
}

std::string DatasheetName(ModelStore& store, LONG id, bool decorate, int32_t status,
                          HRESULT* hr = nullptr) {
  BSTR name = nullptr;
  const HRESULT result =
      GetDatasheetName(store.application(), store.Object(id), &name, decorate, status);
  if (hr != nullptr) *hr = result;
  _bstr_t held(name, false);
  return Narrow(held);
}

TEST(PageSets, CountPerStatusAndInvalidStatusBeforeAnyStoreCall) {
  ModelStore store;
  IKXQAttributePtr pages;
  EXPECT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 1, pages), 2);
  EXPECT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 2, pages), 1);
  EXPECT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 3, pages), 0);
  EXPECT_EQ(GetPagesAttributeByStatus(store.Object(kx::test::model::kSheet), 4, pages), 1);
  for (int32_t status : {0, 5}) {
    try {
      // A null datasheet shows that the status is refused first.
      (void)GetPagesAttributeByStatus(nullptr, status, pages);
      FAIL() << "no failure";
    } catch (const KXComException& e) {
      EXPECT_EQ(e.hr, E_INVALIDARG);
      EXPECT_EQ(FirstDesc(e), "Invalid status");
    }
  }
}

TEST(StatusCopies, IssuedPageIsFoundThroughTheActivePage) {
  ModelStore store;
  IKXQObjectPtr issued;
  EXPECT_EQ(GetIssuedPage(store.Object(kx::test::model::kSheetPage1), 1, &issued), S_OK);
  EXPECT_EQ(IdOf(issued), kx::test::model::kSheetIssued);
  EXPECT_EQ(GetIssuedPage(store.Object(kx::test::model::kSheetSubmitted), 2, &issued), S_OK);
  EXPECT_EQ(IdOf(issued), kx::test::model::kSheetIssued);
  // Status 2 matches on the given page's "ActivePage", not on the page.
  EXPECT_EQ(GetIssuedPage(store.Object(kx::test::model::kSheetPage1), 2, &issued), S_OK);
  EXPECT_TRUE(issued == nullptr);
  EXPECT_EQ(GetIssuedPage(store.Object(kx::test::model::kSheetPage2), 1, &issued), S_OK);
  EXPECT_TRUE(issued == nullptr);
  EXPECT_EQ(GetIssuedPage(store.Object(kx::test::model::kSheetPage1), 4, &issued), E_INVALIDARG);
  kx::test::model::ModelStore::ClearThreadErrorInfoForTests();
}

// The issued pages are indexed at the second question under one state of the
// store; the index answers without reading them again, and any change of the
// store makes the next questions look again.
TEST(StatusCopies, IssuedPagesKeptBetweenQuestionsFollowEveryChange) {
  ModelStore store;
  const auto ask = [&](LONG page, int32_t status) {
    IKXQObjectPtr issued;
    EXPECT_EQ(GetIssuedPage(store.Object(page), status, &issued), S_OK);
    return IdOf(issued);
  };
  EXPECT_EQ(ask(kx::test::model::kSheetPage1, 1), kx::test::model::kSheetIssued);
  EXPECT_EQ(ask(kx::test::model::kSheetPage2, 1), 0);
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(store.Object(kx::test::model::kSheet)
                ->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)),
            S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  EXPECT_EQ(ask(kx::test::model::kSheetPage1, 1), kx::test::model::kSheetIssued);
  EXPECT_EQ(ask(kx::test::model::kSheetSubmitted, 2), kx::test::model::kSheetIssued);
  EXPECT_EQ(ask(kx::test::model::kSheetPage2, 1), 0);
  _com_ptr_t<IKXQReadSet> reads;
  ASSERT_EQ(log->EndReads(&reads), S_OK);
  LONG count = 0;
  EXPECT_EQ(reads->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);  // the submitted copy's "ActivePage", nothing of the issued pages

  IKXQAttributePtr active;
  GetAttributeInterface(store.Object(kx::test::model::kSheetIssued), u"ActivePage", active);
  SetAttributeObjectAt(active, 1, store.Object(kx::test::model::kSheetPage2));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ask(kx::test::model::kSheetPage1, 1), 0);
    EXPECT_EQ(ask(kx::test::model::kSheetPage2, 1), kx::test::model::kSheetIssued);
  }
  // Two issued copies of one page: the first in the list is the one.
  IKXQAttributePtr issued;
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"IssuedPages", issued);
  SetAttributeObjectAt(issued, 1, store.Object(kx::test::model::kSheetSubmitted));
  SetAttributeObjectAt(issued, 2, store.Object(kx::test::model::kSheetIssued));
  SetAttributeObjectAt(active, 1, store.Object(kx::test::model::kSheetPage1));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ask(kx::test::model::kSheetPage1, 1), kx::test::model::kSheetSubmitted);
    EXPECT_EQ(ask(kx::test::model::kSheetPage2, 1), 0);
  }
}

// A scope's owner vouches that the issued list and its pages' active pages
// stay as they are: within it every answer comes from the index made at the
// first question, even after other changes; after it the store is asked
// again.
TEST(StatusCopies, AnIssuedPagesScopeAnswersFromTheIndexItMadeFirst) {
  ModelStore store;
  const auto ask = [&](LONG page) {
    IKXQObjectPtr issued;
    EXPECT_EQ(GetIssuedPage(store.Object(page), 1, &issued), S_OK);
    return IdOf(issued);
  };
  IKXQAttributePtr active;
  GetAttributeInterface(store.Object(kx::test::model::kSheetIssued), u"ActivePage", active);
  {
    const IssuedPagesScope scope(store.Object(kx::test::model::kSheet));
    EXPECT_EQ(ask(kx::test::model::kSheetPage1), kx::test::model::kSheetIssued);
    SetAttributeObjectAt(active, 1, store.Object(kx::test::model::kSheetPage2));
    EXPECT_EQ(ask(kx::test::model::kSheetPage1), kx::test::model::kSheetIssued);
    EXPECT_EQ(ask(kx::test::model::kSheetPage2), 0);
  }
  EXPECT_EQ(ask(kx::test::model::kSheetPage1), 0);
  EXPECT_EQ(ask(kx::test::model::kSheetPage2), kx::test::model::kSheetIssued);
}

TEST(StatusCopies, FindPageInStatusSetMatchesIdChecknumAndNumberExactly) {
  ModelStore store;
  IKXQObjectPtr found;
  EXPECT_EQ(FindPageInStatusSet(store.Object(kx::test::model::kSheetPage1),
                                store.Object(kx::test::model::kSheet), 4, &found),
            S_OK);
  EXPECT_EQ(IdOf(found), kx::test::model::kSheetIssued);
  // The submitted copy was made with another checknum.
  EXPECT_EQ(FindPageInStatusSet(store.Object(kx::test::model::kSheetPage1),
                                store.Object(kx::test::model::kSheet), 2, &found),
            S_OK);
  EXPECT_TRUE(found == nullptr);
  IKXQAttributePtr pageId;
  GetAttributeInterface(store.Object(kx::test::model::kSheetIssued), u"PageId", pageId);
  SetAttributeString(pageId, u"p1");
  EXPECT_EQ(FindPageInStatusSet(store.Object(kx::test::model::kSheetPage1),
                                store.Object(kx::test::model::kSheet), 4, &found),
            S_OK);
  EXPECT_TRUE(found == nullptr);
}

TEST(CaseNames, DefaultVariesAndUnknown) {
  ModelStore store;
  EXPECT_EQ(Narrow(GetCaseName(store.application(), store.Object(kx::test::model::kSheet), 1)),
            "Design");
  // The list page's first case (2) differs from the datasheet's default (1).
  EXPECT_EQ(Narrow(GetCaseName(store.application(), store.Object(kx::test::model::kList), 1)),
            "<Varies>");
  // A page yields its own default case without a page walk.
  EXPECT_EQ(Narrow(GetCaseName(store.application(), store.Object(kx::test::model::kListPage), 1)),
            "Operating");
  IKXQAttributePtr defaultCase;
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"DefaultCase", defaultCase);
  SetAttributeInteger(defaultCase, 9);
  EXPECT_EQ(Narrow(GetCaseName(store.application(), store.Object(kx::test::model::kSheet), 1)),
            "<Unknown>");
  // A store failure (an invalid status for the page walk) is absorbed.
  SetAttributeInteger(defaultCase, 1);
  EXPECT_EQ(Narrow(GetCaseName(store.application(), store.Object(kx::test::model::kSheet), 7)),
            "<Unknown>");
  EXPECT_EQ(kx::test::model::ThreadErrorDescription(), "");
}

TEST(CaseNames, DecorationByStatus) {
  ModelStore store;
  const struct {
    int32_t status;
    const char* expected;
  } cases[] = {{1, "Sheet (Design)"},
               {2, "[Submitted] Sheet (Design)"},
               {3, "[Checked] Sheet (Design)"},
               {4, "[Issued] Sheet (Design)"},
               {9, "Sheet (<Unknown>)"}};
  for (const auto& c : cases) {
    BSTR decorated = nullptr;
    EXPECT_EQ(DecorateNameWithStatus(store.application(), store.Object(kx::test::model::kSheet),
                                     u"Sheet", c.status, &decorated),
              S_OK);
    _bstr_t held(decorated, false);
    EXPECT_EQ(Narrow(held), c.expected) << c.status;
  }
}

TEST(DatasheetNames, ObjectsNameAndDecoration) {
  ModelStore store;
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSheet, false, 1), "P-101/P-102: Pump sheet");
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSheet, true, 1),
            "P-101/P-102: Pump sheet (Design)");
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSheet, true, 3),
            "[Checked] P-101/P-102: Pump sheet (Design)");
}

TEST(DatasheetNames, SheetNameAloneWhenSet) {
  ModelStore store;
  EXPECT_EQ(DatasheetName(store, kx::test::model::kNamed, true, 2), "Custom name");
}

TEST(DatasheetNames, FallbackWithoutNameOrTemplate) {
  ModelStore store;
  EXPECT_EQ(DatasheetName(store, kx::test::model::kNoTemplate, true, 1),
            "<F-600 Equipment datasheet>");
  // A document name without a template is the name alone.
  IKXQAttributePtr documentName;
  GetAttributeInterface(store.Object(kx::test::model::kNoTemplate), u"DocumentName", documentName);
  ASSERT_TRUE(documentName);
  SetAttributeString(documentName, u"Spare sheet");
  EXPECT_EQ(DatasheetName(store, kx::test::model::kNoTemplate, true, 1), "Spare sheet");
  // Without a document name the template's name stands in.
  EXPECT_EQ(DatasheetName(store, kx::test::model::kList, false, 1),
            "P-101/P-103: Pump list");  // primary and last further row
}

// A name is kept from one question to the next: every change of what it was
// made from is seen, and an answer from the kept name records the reads
// making it recorded, so that a trigger item open over it watches the same.
TEST(DatasheetNames, AKeptNameFollowsEveryChangeAndRecordsItsReadsAgain) {
  ModelStore store;
  const auto readsOfName = [&](LONG id, std::string* name) {
    _com_ptr_t<IKXQReadLog> log;
    EXPECT_EQ(
        store.Object(id)->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)),
        S_OK);
    EXPECT_EQ(log->BeginReads(), S_OK);
    *name = DatasheetName(store, id, true, 1);
    _com_ptr_t<IKXQReadSet> reads;
    EXPECT_EQ(log->EndReads(&reads), S_OK);
    LONG count = 0;
    EXPECT_EQ(reads->get_Count(&count), S_OK);
    return count;
  };
  for (const LONG sheet : {LONG{kx::test::model::kSheet}, LONG{kx::test::model::kSummary}}) {
    ForgetKeptDatasheetNames();
    std::string made, kept;
    const LONG reads = readsOfName(sheet, &made);
    EXPECT_GT(reads, 2);
    EXPECT_EQ(readsOfName(sheet, &kept), reads);
    EXPECT_EQ(kept, made);
  }
  const auto set = [&](LONG id, const char16_t* name, const char16_t* text) {
    IKXQAttributePtr attribute;
    GetAttributeInterface(store.Object(id), name, attribute);
    ASSERT_TRUE(attribute);
    SetAttributeString(attribute, text);
  };
  const auto summary = [&] { return DatasheetName(store, kx::test::model::kSummary, true, 1); };
  EXPECT_EQ(summary(), "P-101->P-102: Pump list (Operating) [Unit X]");
  set(kx::test::model::kPump2, u"Name", u"P-202");
  EXPECT_EQ(summary(), "P-101->P-202: Pump list (Operating) [Unit X]");
  set(kx::test::model::kSummaryPage, u"Cases", u"1");
  EXPECT_EQ(summary(), "P-101->P-202: Pump list (<Varies>) [Unit X]");
  set(kx::test::model::kSummary, u"DocumentName", u"Pumps");
  EXPECT_EQ(summary(), "P-101->P-202: Pumps (<Varies>) [Unit X]");
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSheet, false, 1), "P-101/P-202: Pump sheet");
  set(kx::test::model::kPump1, u"Name", u"P-201");
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSheet, false, 1), "P-201/P-202: Pump sheet");
  ForgetKeptDatasheetNames();
}

TEST(DatasheetNames, SummarySheetWithProject) {
  ModelStore store;
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSummary, true, 1),
            "P-101->P-102: Pump list (Operating) [Unit X]");
  // A summary sheet of the root project gets no project.
  IKXQAttributePtr projectId;
  GetAttributeInterface(store.Object(kx::test::model::kSummary), u"ProjectId", projectId);
  SetAttributeInteger(projectId, 1);
  EXPECT_EQ(DatasheetName(store, kx::test::model::kSummary, false, 1), "P-101->P-102: Pump list");
}

// The automation method is a COM boundary: a failed call hands out no name
// (the worker's fallback name would be leaked by every caller).
TEST(DatasheetNames, FailedAutomationMethodHandsOutNoName) {
  ModelStore store;
  IKXQAttributePtr templateId;
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"TemplateId", templateId);
  SetAttributeString(templateId, u"TGEN");
  void* created = nullptr;
  ASSERT_EQ(Main::CreateInstance(IID_IKXQDataService, &created), S_OK);
  _com_ptr_t<IKXQDataService> service(static_cast<IKXQDataService*>(created), false);
  Main* main = static_cast<Main*>(service.GetInterfacePtr());
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(CreateDatasheetServices(store.application(), store.Object(kx::test::model::kSheet),
                                    main, &dispatch),
            S_OK);
  _com_ptr_t<IDispatch> held(dispatch, false);
  IKXDatasheetServices* services = nullptr;
  ASSERT_EQ(dispatch->QueryInterface(kx_uuidof<IKXDatasheetServices>(),
                                     reinterpret_cast<void**>(&services)),
            S_OK);
  _com_ptr_t<IKXDatasheetServices> servicesHolder(services, false);
  BSTR name = nullptr;
  EXPECT_EQ(services->DatasheetName(&name), E_INVALIDARG);
  EXPECT_EQ(name, nullptr);
  SysFreeString(name);
  kx::test::model::ModelStore::ClearThreadErrorInfoForTests();
}

// A failed call hands out no name, not even the fallback it had made: its
// callers free no out value after a failure.
TEST(DatasheetNames, OtherTemplateKindFailsWithoutAName) {
  ModelStore store;
  IKXQAttributePtr templateId;
  GetAttributeInterface(store.Object(kx::test::model::kSheet), u"TemplateId", templateId);
  SetAttributeString(templateId, u"TGEN");
  BSTR failed = nullptr;
  const HRESULT hr = GetDatasheetName(store.application(), store.Object(kx::test::model::kSheet),
                                      &failed, true, 1);
  EXPECT_EQ(hr, E_INVALIDARG);
  EXPECT_EQ(failed, nullptr);
  SysFreeString(failed);
  const std::string description = kx::test::model::ThreadErrorDescription();
  EXPECT_NE(description.find("is not a valid datasheet"), std::string::npos) << description;
  BSTR name = nullptr;
  EXPECT_EQ(GetDatasheetName(store.application(), nullptr, &name, false, 1), E_INVALIDARG);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("Object is not a valid datasheet"),
            std::string::npos);
}

// "GetDisplayName" on a diagram: the worker fails on its template kind, and
// the object-service method fails with nothing allocated (the leak checker
// of the sanitizer build sees the rest).
TEST(DatasheetNames, GetDisplayNameOfADiagramFailsWithNothingLeftAllocated) {
  ModelStore store;
  void* created = nullptr;
  ASSERT_EQ(Main::CreateInstance(IID_IKXQDataService, &created), S_OK);
  _com_ptr_t<IKXQDataService> service(static_cast<IKXQDataService*>(created), false);
  Main* main = static_cast<Main*>(service.GetInterfacePtr());
  for (int round = 0; round < 3; ++round) {
    _variant_t none;
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = main->RunMethod(0, none, store.Object(kx::test::model::kDiagram), none,
                                       store.application(), &result);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(V_VT(&result), VT_EMPTY);
    VariantClear(&result);
  }
  BSTR name = nullptr;
  EXPECT_TRUE(FAILED(GetDatasheetName(store.application(), store.Object(kx::test::model::kDiagram),
                                      &name, true, 1)));
  EXPECT_EQ(name, nullptr);
  SysFreeString(name);
  kx::test::model::ModelStore::ClearThreadErrorInfoForTests();
}

TEST(DatasheetObjects, OneBasedArrayOfDistinctObjects) {
  ModelStore store;
  SAFEARRAY* objects = nullptr;
  ASSERT_EQ(
      GetDatasheetObjects(store.application(), store.Object(kx::test::model::kList), &objects),
      S_OK);
  ASSERT_NE(objects, nullptr);
  LONG lower = 0;
  LONG upper = 0;
  SafeArrayGetLBound(objects, 1, &lower);
  SafeArrayGetUBound(objects, 1, &upper);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);  // the three rows; the datasheet on "Sheet" is no template class
  VARTYPE vt = VT_EMPTY;
  SafeArrayGetVartype(objects, &vt);
  EXPECT_EQ(vt, VT_VARIANT);
  std::vector<LONG> ids;
  for (LONG i = lower; i <= upper; ++i) {
    _variant_t element;
    SafeArrayGetElement(objects, &i, &element);
    EXPECT_EQ(element.vt, VT_DISPATCH);
    IKXQObjectPtr object(element);
    ids.push_back(IdOf(object));
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<LONG>{100, 101, 102}));
  SafeArrayDestroy(objects);

  ASSERT_EQ(GetDatasheetObjects(store.application(), store.Object(kx::test::model::kNoTemplate),
                                &objects),
            S_OK);
  EXPECT_EQ(objects, nullptr);
}

TEST(DatasheetObjects, NameWithReason) {
  ModelStore store;
  _bstr_t name;
  GetObjectNameWithReason(name, store.Object(100));
  EXPECT_EQ(Narrow(name), "P-101: Spare");
  GetObjectNameWithReason(name, store.Object(101));
  EXPECT_EQ(Narrow(name), "P-102: ");
}

}  // namespace
