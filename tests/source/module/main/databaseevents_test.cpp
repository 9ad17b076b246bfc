// The database-event handlers in-process, on the plant of
// tests/tools/data/events-plant.xml, with the summary-sheet operations that
// are not theirs (pages of page-per-member sheets, composition, top-level
// data views) recorded instead of run.
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/project_update.h"
#include "host/store_host_session.h"
#include "kxstoreptrs.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "store/admin.h"

namespace {

std::string IdOf(IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr) object->get_Id(&id);
  return std::to_string(id);
}

class RecordingMembership final : public MainWorkers {
 public:
  HRESULT AddSummarySheetPage(MainContext&, IKXQObject* member, IKXQObject* datasheet,
                              IKXQTemplatePage*, bool quiet) override {
    calls.push_back("page " + IdOf(member) + " on " + IdOf(datasheet) +
                    (quiet ? " quiet" : " unless shown"));
    return S_OK;
  }
  HRESULT ComposeDatasheet(MainContext&, const VARIANT& filter, IKXQObject* datasheet,
                           IKXQObject* page, bool continuous, bool ignoreClaims, int32_t* count,
                           IKXQTrigger* trigger) override {
    calls.push_back("compose " + IdOf(datasheet) + " page " + IdOf(page) +
                    (continuous ? " list" : " pages") + (ignoreClaims ? " all" : "") +
                    (filter.vt == VT_EMPTY ? "" : " filtered") + (trigger ? " trigger" : ""));
    *count = composed;
    return S_OK;
  }
  HRESULT GetTopLevelDataViews(IKXQTemplatePage* templatePage, PtrArray<IUnknown>& views) override {
    calls.push_back("top views");
    if (!topIsRoot) return S_OK;
    SAFEARRAY* raw = nullptr;
    if (FAILED(templatePage->get_RootNodes(&raw))) return E_FAIL;
    VariantUtil::SafeArrayVector roots(raw, true);
    for (int32_t i = 0; i < roots.Count(); ++i) {
      IKXQClassViewPtr root;
      if (SUCCEEDED(roots.GetClassViewAt(i, &root))) views.Add(root);
    }
    return S_OK;
  }
  // Recorded, and done as the module does it.
  HRESULT RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object) override {
    removals.push_back(IdOf(object) + " from " + IdOf(page));
    return MainWorkers::RemoveObjectFromPage(main, page, object);
  }
  std::vector<std::string> calls;
  std::vector<std::string> removals;
  int32_t composed = 3;
  bool topIsRoot = true;
};

class DatabaseEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store_).ok());
    std::ifstream file(KX_EVENTS_FIXTURE, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const kx::store::Status imported = store_->ImportFixtureText(text.str(), KX_EVENTS_FIXTURE);
    ASSERT_TRUE(imported.ok()) << imported.message;
    session_ = std::make_unique<kx::host::StoreHostSession>(*store_);
    host_.SetStoreSession(session_.get());
    IKXQSchemaPtr schema;
    IKXQTemplateLibraryPtr library;
    IKXQProjectPtr root;
    ASSERT_EQ(database()->get_Schema(&schema), S_OK);
    ASSERT_EQ(database()->get_TemplateLibrary(&library), S_OK);
    ASSERT_EQ(database()->get_RootProject(&root), S_OK);
    host_.application().SetStore(database(), schema, library);
    host_.application().SetProjects(root, root);
    host_.registrar().SetTemplates(library);
    IKXQDataService* service = nullptr;
    ASSERT_EQ(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)), S_OK);
    service_ = kx::host::Ref<IKXQDataService>::Adopt(service);
    main().UseWorkers(&workers_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
    ASSERT_TRUE(host_.StartUp().succeeded());
  }
  void TearDown() override {
    host_.Detach();
    host_.SetStoreSession(nullptr);
    service_ = nullptr;
    session_.reset();
    SetErrorInfo(0, nullptr);
  }
  IKXQDatabase* database() const { return store_->Database(); }
  Main& main() const {
    return *static_cast<Main*>(
        static_cast<IKXQDataServiceImpl<Main, MainContext>*>(service_.get()));
  }
  IKXQObjectPtr Object(LONG id) const {
    IKXQObjectPtr object;
    EXPECT_EQ(database()->get_Object(id, &object), S_OK) << id;
    return object;
  }
  void Put(LONG id, const char16_t* attribute, const _variant_t& value) {
    ASSERT_TRUE(store_->Begin().ok());
    IKXQAttributePtr held;
    ASSERT_EQ(Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held), S_OK);
    ASSERT_EQ(held->PutValue(_variant_t(), _variant_t(), value), S_OK);
    ASSERT_TRUE(store_->Commit().ok());
  }
  kx::host::CallResult Event(LONG kind, LONG id, const VARIANT& argument = _variant_t()) {
    return host_.DatabaseEvent(kind, Object(id), argument);
  }

  std::unique_ptr<kx::store::Store> store_;
  std::unique_ptr<kx::host::StoreHostSession> session_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
  RecordingMembership workers_;
};

TEST_F(DatabaseEventsTest, APassingMemberGetsAPageOnlyWhereNoPageShowsIt) {
  // Pump 11 passes the page-per-member sheet's filter once F12 says so; the
  // page is asked for with the presence test on, so a member already shown
  // is never given a second page.
  EXPECT_TRUE(Event(1, 11).succeeded());
  EXPECT_TRUE(workers_.calls.empty());
  Put(11, u"F12", _variant_t(u"YES"));
  workers_.calls.clear();
  EXPECT_TRUE(Event(4, 11).succeeded());
  EXPECT_EQ(workers_.calls, std::vector<std::string>{"page 11 on 200 unless shown"});
  // Documents and data views are never members.
  workers_.calls.clear();
  EXPECT_TRUE(host_.ModuleEvent(1, Object(500), _variant_t()).succeeded());
  EXPECT_TRUE(workers_.calls.empty());
}

TEST_F(DatabaseEventsTest, AReclassedObjectLeavesANodeWhoseClassesNoLongerTakeIt) {
  // A vessel shown on the pump data page's pump node does not belong there.
  ASSERT_TRUE(store_->Begin().ok());
  IKXQSchemaPtr schema;
  ASSERT_EQ(database()->get_Schema(&schema), S_OK);
  IKXQClassPtr vessel;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Vessel"), &vessel), S_OK);
  IKXQObjectPtr made;
  ASSERT_EQ(vessel->CreateInstance(&made), S_OK);
  IKXQAttributePtr nodes;
  ASSERT_EQ(Object(101)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &nodes), S_OK);
  ASSERT_EQ(
      nodes->PutValue(_variant_t(1L), _variant_t(), _variant_t(static_cast<IDispatch*>(made))),
      S_OK);
  ASSERT_TRUE(store_->Commit().ok());
  const auto result = host_.ModuleEvent(8, made, _variant_t(static_cast<IDispatch*>(vessel)));
  ASSERT_TRUE(result.succeeded()) << std::string(_bstr_t(result.error.c_str()).utf8());
  _variant_t first;
  ASSERT_EQ(nodes->GetValue(_variant_t(1L), _variant_t(), first.GetAddress()), S_OK);
  EXPECT_TRUE(first.vt == VT_EMPTY || first.pdispVal == nullptr);
  EXPECT_TRUE(workers_.calls.empty());  // the class test decides, no filter needed
}

TEST_F(DatabaseEventsTest, AReclassedMemberOfATopNodeIsFilteredAgain) {
  // Pump 10 is on the page-per-member sheet's top node; it no longer passes
  // "Ready" and leaves that node, but stays on the plain datasheet.
  Put(10, u"F12", _variant_t(u"no"));
  IKXQSchemaPtr schema;
  ASSERT_EQ(database()->get_Schema(&schema), S_OK);
  IKXQClassPtr pump;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Pump"), &pump), S_OK);
  const auto result = Event(5, 10, _variant_t(static_cast<IDispatch*>(pump)));
  ASSERT_TRUE(result.succeeded()) << std::string(_bstr_t(result.error.c_str()).utf8());
  IKXQAttributePtr shown;
  ASSERT_EQ(Object(201)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &shown), S_OK);
  _variant_t first;
  ASSERT_EQ(shown->GetValue(_variant_t(1L), _variant_t(), first.GetAddress()), S_OK);
  EXPECT_TRUE(first.vt == VT_EMPTY || first.pdispVal == nullptr);
  IKXQAttributePtr kept;
  ASSERT_EQ(Object(101)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &kept), S_OK);
  _variant_t still;
  ASSERT_EQ(kept->GetValue(_variant_t(1L), _variant_t(), still.GetAddress()), S_OK);
  EXPECT_EQ(still.vt, VT_DISPATCH);
  // Both node pages asked for their top views; no page was added.
  EXPECT_EQ(workers_.calls, (std::vector<std::string>{"top views", "top views"}));
}

TEST_F(DatabaseEventsTest, AnUpdatedProjectComposesEachSummarySheetAndReportsIt) {
  kx::host::Ref<kx::host::ProjectUpdate> update = kx::host::MakeRef<kx::host::ProjectUpdate>();
  auto result = Event(13, 1, _variant_t(static_cast<IDispatch*>(update.get())));
  ASSERT_TRUE(result.succeeded()) << std::string(_bstr_t(result.error.c_str()).utf8());
  EXPECT_EQ(workers_.calls, (std::vector<std::string>{"compose 200 page 201 pages all filtered",
                                                      "compose 300 page 301 list all"}));
  EXPECT_EQ(update->changed_objects().size(), 2u);
  // A composition that did not complete changes nothing reported.
  workers_.calls.clear();
  workers_.composed = -1;
  kx::host::Ref<kx::host::ProjectUpdate> none = kx::host::MakeRef<kx::host::ProjectUpdate>();
  result = Event(13, 1, _variant_t(static_cast<IDispatch*>(none.get())));
  ASSERT_TRUE(result.succeeded());
  EXPECT_TRUE(none->changed_objects().empty());
}

TEST_F(DatabaseEventsTest, UpdateSummarySheetNeedsItsOutFlag) {
  EXPECT_EQ(main().UpdateSummarySheet(Object(200), nullptr, nullptr), E_POINTER);
  bool changed = true;
  workers_.composed = 0;
  EXPECT_EQ(main().UpdateSummarySheet(Object(300), nullptr, &changed), S_OK);
  EXPECT_TRUE(changed);
}

// Three rows of list 301 deleted (datasheet 401 joins it as row 2): a
// table of workers of a test's own hears each delete event take its row
// off, the page's rows being taken off one by one as the events come.
TEST_F(DatabaseEventsTest, ATestsWorkersHearEveryRowTheDeletesTakeOffAList) {
  ASSERT_TRUE(store_->Begin().ok());
  IKXQAttributePtr rows;
  ASSERT_EQ(Object(301)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &rows), S_OK);
  ASSERT_EQ(rows->PutValue(_variant_t(4L), _variant_t(),
                           _variant_t(static_cast<IDispatch*>(Object(401)))),
            S_OK);
  ASSERT_TRUE(store_->Commit().ok());
  const kx::host::RequestResult deleted = host_.Request(
      u"DeleteFieldObjects",
      u"<XMLMessage TargetId=\"300\" Status=\"1\"><DeleteFieldObjects PageId=\"301\" "
      u"Confirmed=\"1\"><Field FieldId=\"201\" Index=\"0\"/><Field FieldId=\"201\" "
      u"Index=\"1\"/><Field FieldId=\"201\" Index=\"2\"/></DeleteFieldObjects></XMLMessage>");
  ASSERT_EQ(deleted.hr, S_OK);
  EXPECT_EQ(workers_.removals,
            (std::vector<std::string>{"10 from 301", "10 from 201", "10 from 101", "11 from 301",
                                      "401 from 301"}));
  LONG count = -1;
  ASSERT_EQ(Object(301)->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(-1L), &rows), S_OK);
  ASSERT_EQ(rows->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
}

}  // namespace
