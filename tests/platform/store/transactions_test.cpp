// Transactions seen from the host and through the interfaces: misuse,
// triggers and observers across rollbacks, bounds on list positions, texts
// outside the basic plane, the smaller object operations.
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "com/object.h"
#include "com/stream.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

class TransactionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.File("plant.kxq");
    store = OpenPlant(path);
    ASSERT_TRUE(store);
  }
  TempDir dir;
  std::string path;
  std::unique_ptr<Store> store;
};

TEST_F(TransactionsTest, MisuseIsRefusedAndLeavesTheOpenTransactionUsable) {
  EXPECT_EQ(store->Commit().hr, KXQ_E_TRANSACTION);
  EXPECT_EQ(store->Rollback().hr, KXQ_E_TRANSACTION);
  ASSERT_TRUE(store->Begin().ok());
  Status nested = store->Begin();
  EXPECT_EQ(nested.hr, KXQ_E_TRANSACTION);
  EXPECT_NE(nested.message.find("already open"), std::string::npos);
  EXPECT_TRUE(store->InTransaction());
  ASSERT_EQ(Put(Attr(Obj(*store, 20), u"Tag"), 0, _variant_t(u"kept")), S_OK);
  ASSERT_TRUE(store->Commit().ok());
  store.reset();
  store = Reopen(path);
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*store, 20), u"Tag"))).utf8(), "kept");
}

TEST_F(TransactionsTest, AFiredTriggerKeyIsUndoneByRollback) {
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  ASSERT_EQ(t->BeginItem(_variant_t(u"k")), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_TRUE(store->Begin().ok());
  ASSERT_EQ(Put(tag, 0, _variant_t(u"x")), S_OK);
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  SafeArrayDestroy(keys);
  ASSERT_TRUE(store->Rollback().ok());
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
}

// The keys fired in one transaction: a key fired again is listed once, and
// one that a rollback took back fires again in the next transaction.
TEST_F(TransactionsTest, AKeyFiresOnceATransactionAndAgainAfterItsRollback) {
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  for (const OLECHAR* key : {u"k", u"m"}) {
    ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
    Get(tag);
    ASSERT_EQ(t->EndItem(), S_OK);
  }
  const auto fired = [&] {
    SAFEARRAY* keys = nullptr;
    EXPECT_EQ(t->GetFiredKeys(&keys), S_OK);
    std::vector<std::string> texts;
    for (LONG i = 0; keys != nullptr && i < static_cast<LONG>(keys->rgsabound[0].cElements); ++i) {
      BSTR text = nullptr;
      EXPECT_EQ(SafeArrayGetElement(keys, &i, &text), S_OK);
      texts.push_back(_bstr_t(text, false).utf8());
    }
    if (keys != nullptr) SafeArrayDestroy(keys);
    return texts;
  };
  ASSERT_TRUE(store->Begin().ok());
  ASSERT_EQ(Put(tag, 0, _variant_t(u"x")), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"y")), S_OK);
  EXPECT_EQ(fired(), (std::vector<std::string>{"k", "m"}));
  ASSERT_TRUE(store->Rollback().ok());
  EXPECT_TRUE(fired().empty());
  ASSERT_TRUE(store->Begin().ok());
  ASSERT_EQ(Put(tag, 0, _variant_t(u"z")), S_OK);
  EXPECT_EQ(fired(), (std::vector<std::string>{"k", "m"}));
  ASSERT_EQ(t->ClearFiredKeys(), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"w")), S_OK);
  EXPECT_EQ(fired(), (std::vector<std::string>{"k", "m"}));
  ASSERT_TRUE(store->Commit().ok());
}

TEST_F(TransactionsTest, TriggersAreStoredButTheirRecordingsAreNot) {
  {
    _com_ptr_t<IKXQTrigger> t;
    ASSERT_EQ(Obj(*store, 10)->get_Trigger(_bstr_t(u"SSPF"), &t), S_OK);
    ASSERT_EQ(t->SetHandler(_bstr_t(u"KXDBDatasheetSvcs.Main")), S_OK);
    ASSERT_EQ(Obj(*store, 10)->get_Trigger(_bstr_t(u"Datasheet"), &t), S_OK);
    ASSERT_EQ(Obj(*store, 10)->RemoveTrigger(_bstr_t(u"Datasheet")), S_OK);
    EXPECT_EQ(t->ClearFiredKeys(), KXQ_E_DELETED);
  }
  store.reset();
  store = Reopen(path);
  VARIANT_BOOL has = 0;
  ASSERT_EQ(Obj(*store, 10)->HasTrigger(_bstr_t(u"SSPF"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_TRUE);
  ASSERT_EQ(Obj(*store, 10)->HasTrigger(_bstr_t(u"sspf"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_FALSE);  // trigger names are exact
  ASSERT_EQ(Obj(*store, 10)->HasTrigger(_bstr_t(u"Datasheet"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_FALSE);
}

TEST_F(TransactionsTest, AbsurdPositionsAreRefusedBeforeAnythingGrows) {
  auto fields = Attr(Obj(*store, 11), u"Fields");
  EXPECT_EQ(Put(fields, 1 << 30, _variant_t(u"x")), DISP_E_BADINDEX);
  EXPECT_EQ(fields->InsertValues(1, 1 << 30), DISP_E_BADINDEX);
  EXPECT_EQ(fields->Resize(1 << 30), DISP_E_BADINDEX);
  EXPECT_EQ(Count(fields), 0);
  EXPECT_EQ(Put(fields, 1000, _variant_t(u"far")), S_OK);
  EXPECT_EQ(Count(fields), 1000);
}

TEST_F(TransactionsTest, FailuresCarryADescriptionNamingTheAttribute) {
  auto speed = Attr(Obj(*store, 20), u"Speed");
  EXPECT_EQ(Put(speed, 0, _variant_t(u"fast")), DISP_E_TYPEMISMATCH);
  EXPECT_NE(ErrorText().find("Speed"), std::string::npos);
  auto len = Attr(Obj(*store, 20), u"Length");
  EXPECT_EQ(Put(len, 0, _variant_t(1.0), u"furlong"), KXQ_E_UNIT);
  EXPECT_NE(ErrorText().find("furlong"), std::string::npos);
}

TEST_F(TransactionsTest, TextOutsideTheBasicPlaneSurvivesTheFile) {
  const char16_t text[] = u"pump \U0001F600 \u00fc";
  ASSERT_EQ(Put(Attr(Obj(*store, 20), u"Tag"), 0, _variant_t(text)), S_OK);
  store.reset();
  store = Reopen(path);
  _variant_t v = Get(Attr(Obj(*store, 20), u"Tag"));
  ASSERT_EQ(Vt(v), VT_BSTR);
  EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), std::u16string(text));
}

TEST_F(TransactionsTest, NamesContextsAndBinding) {
  auto pump = Obj(*store, 20);
  BSTR name = nullptr;
  ASSERT_EQ(pump->get_Name(_variant_t(false), &name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "Pump 20");
  ASSERT_EQ(Put(Attr(pump, u"Name"), 0, _variant_t(u"Feed pump")), S_OK);
  ASSERT_EQ(pump->get_Name(_variant_t(true), &name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "Pump: Feed pump");
  _com_ptr_t<IKXQEvaluationContext> ctx;
  ASSERT_EQ(pump->get_EvaluationContext(&ctx), S_OK);
  ASSERT_EQ(ctx->SetNamedValue(_variant_t(u"SummaryDoc"), _variant_t(10)), S_OK);
  _variant_t back;
  ASSERT_EQ(ctx->GetNamedValue(_variant_t(u"summarydoc"), &back), S_OK);
  EXPECT_EQ(static_cast<int>(back), 10);
  _com_ptr_t<IUnknown> bound;
  ASSERT_EQ(
      Obj(*store, 11)->Bind(_variant_t(static_cast<IDispatch*>(pump.GetInterfacePtr())), &bound),
      S_OK);
  _com_ptr_t<IUnknown> identity;
  pump->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  EXPECT_EQ(bound.GetInterfacePtr(), identity.GetInterfacePtr());
  EXPECT_EQ(Obj(*store, 11)->Bind(_variant_t(), &bound), E_INVALIDARG);
  LONG claim = -1;
  ASSERT_EQ(Obj(*store, 10)->TestFilter(_variant_t(true), &claim), S_OK);
  EXPECT_EQ(claim, 1);
  ASSERT_TRUE(store->SetActiveProject(1).ok());
  EXPECT_FALSE(store->SetActiveProject(77).ok());
}

TEST_F(TransactionsTest, WorkflowCallsAreRecordedAndChangeNoValue) {
  auto ds = Obj(*store, 10);
  SAFEARRAY* issue = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  _variant_t arg;
  V_VT(&arg) = VT_ARRAY | VT_VARIANT;
  arg.parray = issue;  // owned by arg
  // The issue's revision, minor revision (none) and reason are logged.
  const char16_t* parts[] = {u"B", nullptr, u"IFC"};
  for (LONG i = 1; i <= 3; ++i) {
    _variant_t part;
    V_VT(&part) = VT_BSTR;
    part.bstrVal = parts[i - 1] ? SysAllocString(parts[i - 1]) : nullptr;
    ASSERT_EQ(SafeArrayPutElement(issue, &i, &part), S_OK);
  }
  ASSERT_EQ(ds->WorkflowAction(9, arg), S_OK);
  ASSERT_EQ(ds->WorkflowAction(7, _variant_t()), S_OK);
  ASSERT_EQ(ds->OpenVersion(2, _variant_t(u"1")), S_OK);
  ASSERT_EQ(ds->CloseVersion(_variant_t(u"-1")), S_OK);
  ASSERT_EQ(ds->Seal(), S_OK);
  EXPECT_EQ(Count(Attr(ds, u"CurrentPages")), 2);
  store.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(
                db, "SELECT group_concat(code || ':' || text, ' ') FROM workflow WHERE obj=10", -1,
                &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
            "9:B||IFC 7: 102:1 199:-1 300:");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(TransactionsTest, SummarySheetsAndRolledBackDocuments) {
  _com_ptr_t<IKXQTemplateLibrary> lib;
  ASSERT_EQ(store->Database()->get_TemplateLibrary(&lib), S_OK);
  _com_ptr_t<IKXQTemplate> sum;
  ASSERT_EQ(lib->GetTemplate(_bstr_t(u"SUM"), _variant_t(), &sum), S_OK);
  _com_ptr_t<IKXQObject> doc;
  ASSERT_EQ(sum->CreateSummarySheet(2, &doc), S_OK);
  EXPECT_EQ(static_cast<int>(Get(Attr(doc, u"HasSummary"))), 1);
  EXPECT_EQ(static_cast<int>(Get(Attr(doc, u"DefaultCase"))), 2);
  EXPECT_EQ(Count(Attr(doc, u"CurrentPages")), 0);
  long before = store->ObjectCount();
  _com_ptr_t<IKXQTemplate> pump;
  ASSERT_EQ(lib->GetTemplate(_bstr_t(u"PUMP"), _variant_t(), &pump), S_OK);
  ASSERT_TRUE(store->Begin().ok());
  _com_ptr_t<IKXQObject> made;
  ASSERT_EQ(pump->CreateDatasheet(nullptr, 1, &made), S_OK);
  EXPECT_EQ(store->ObjectCount(), before + 3);
  ASSERT_TRUE(store->Rollback().ok());
  EXPECT_EQ(store->ObjectCount(), before);
  LONG n = 0;
  EXPECT_EQ(made->get_Id(&n), S_OK);
  _com_ptr_t<IKXQClass> cls;
  EXPECT_EQ(made->get_Class(&cls), KXQ_E_DELETED);
}

TEST_F(TransactionsTest, IdsAreNeverReusedNotEvenAfterARollback) {
  _com_ptr_t<IKXQSchema> schema;
  store->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pump;
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  auto create = [&] {
    _com_ptr_t<IKXQObject> o;
    EXPECT_EQ(pump->CreateInstance(&o), S_OK);
    LONG id = 0;
    o->get_Id(&id);
    return id;
  };
  ASSERT_TRUE(store->Begin().ok());
  EXPECT_EQ(create(), 22);
  ASSERT_TRUE(store->Rollback().ok());
  EXPECT_EQ(create(), 23);
  ASSERT_EQ(Obj(*store, 23)->Delete(), S_OK);
  store.reset();
  store = Reopen(path);
  store->Database()->get_Schema(&schema);
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  EXPECT_EQ(create(), 24);
}

TEST_F(TransactionsTest, AWriteRouteThatFailsAtAnyWriteHandsOutNothing) {
  _com_ptr_t<IKXQView> view;
  ASSERT_EQ(Obj(*store, 21)->GetView(_variant_t(), &view), S_OK);
  int failures = 0;
  for (long n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    store->FailWriteAfter(n);
    _variant_t pos;
    IKXQFieldValue* holder = nullptr;
    HRESULT hr = view->WriteRoute(_bstr_t(u"Nozzles(1).Size"), _variant_t(-1), &pos, &holder);
    store->FailWriteAfter(0);
    if (SUCCEEDED(hr)) {
      ASSERT_NE(holder, nullptr);
      holder->Release();
      break;
    }
    ++failures;
    EXPECT_EQ(hr, KXQ_E_STORAGE);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(Vt(pos), VT_EMPTY);
    if (holder) holder->Release();
    EXPECT_EQ(Count(Attr(Obj(*store, 21), u"Nozzles")), 0);
  }
  // The last writes of the call are the commit's own: the next object id
  // and the change log's new entry (its oldest go only now and then).
  EXPECT_EQ(failures, 5);
}

// A stream that never ends: every read fills the buffer.
class EndlessStream final : public kx::com::Object<EndlessStream, IStream> {
 public:
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
    std::memset(pv, 'x', cb);
    if (read) *read = cb;
    ++reads;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
  long reads = 0;
};

TEST_F(TransactionsTest, AStreamThatNeverEndsIsRefusedAtTheLargestBinaryValue) {
  auto drawing = Attr(Obj(*store, 20), u"Drawing");
  const _variant_t before = Get(drawing);
  auto* stream = new EndlessStream();
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_UNKNOWN;
  v.punkVal = static_cast<IStream*>(stream);  // v owns the reference
  EXPECT_EQ(drawing->PutValue(_variant_t(), _variant_t(), v), E_OUTOFMEMORY);
  EXPECT_GT(stream->reads, 1000);
  VariantClear(&v);
  EXPECT_EQ(Vt(Get(drawing)), Vt(before));
}

TEST_F(TransactionsTest, AClosedStoreHandsOutNothing) {
  _com_ptr_t<IKXQDatabase> db = store->Database();
  store.reset();
  _com_ptr_t<IKXQObject> o;
  EXPECT_EQ(db->get_Object(20, &o), KXQ_E_CLOSED);
  _com_ptr_t<IKXQSchema> schema;
  EXPECT_EQ(db->get_Schema(&schema), KXQ_E_CLOSED);
}

const char kBadTemplates[][240] = {
    "<store><templates>\n<template id='T'><page id='P'><node name='A'/>\n<overspill "
    "target='P'><pair node='Z' "
    "attribute='x'/></overspill></page></template></templates></store>",
    "<store><templates>\n<template id='T'><page id='P'><node name='A'><field id='1' "
    "unit='0'/></node>"
    "</page></template></templates></store>",
    "<store><templates>\n<template id='T' classes='Nope'/></templates></store>",
    "<store><schema><class name='A'>\n<attribute name='x' type='text' "
    "inverse='y'/></class></schema></store>",
    "<store><templates>\n<template id='T'><page id='P'><node name='A'><field id='1' "
    "type='Float'/></node>"
    "</page></template></templates></store>",
};

TEST_F(TransactionsTest, MalformedTemplatesAndInversesAreRefused) {
  for (const char* xml : kBadTemplates) {
    SCOPED_TRACE(xml);
    Status st = store->ImportFixtureText(xml, "t.xml");
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(st.message.rfind("t.xml:", 0), 0u) << st.message;
  }
  _com_ptr_t<IKXQTemplateLibrary> lib;
  store->Database()->get_TemplateLibrary(&lib);
  _com_ptr_t<IKXQTemplate> t;
  EXPECT_EQ(lib->GetTemplate(_bstr_t(u"T"), _variant_t(), &t), S_OK);
  EXPECT_EQ(t.GetInterfacePtr(), nullptr);
}

}  // namespace
}  // namespace kx::store::test
