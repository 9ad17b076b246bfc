// Persistence and faults: values survive a reopen; a rollback or a failed
// transaction restores memory and disk and keeps every pointer valid; a
// process killed in the middle of a transaction loses nothing committed and
// shows nothing uncommitted.
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/internal/core.h"
#include "store/internal/db.h"
#include "store_test_support.h"
#include "teststore.h"

namespace kx::store::test {
namespace {

// Records what the observer is told.
class RecordingObserver : public StoreObserver {
 public:
  void ObjectCreated(LONG id, const std::u16string&) override {
    log += "+" + std::to_string(id) + " ";
  }
  void ObjectDeleted(LONG id, const std::u16string&) override {
    log += "-" + std::to_string(id) + " ";
  }
  void ValueChanged(LONG id, const std::u16string& attr) override {
    log += std::to_string(id) + "." + _bstr_t(attr.c_str()).utf8() + " ";
  }
  void TransactionEnded(bool committed) override { log += committed ? "commit " : "rollback "; }
  std::string log;
};

// SQLite may end a transaction by itself after a failed statement (a full
// disk, an I/O error). The writes that follow must not run one by one in
// transactions of their own, half of a change committed.
TEST(PersistenceTest, NoWriteRunsAfterSQLiteEndedTheTransaction) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    Db db;
    std::string error;
    ASSERT_TRUE(db.Open(path, false, true, false, &error)) << error;
    ASSERT_TRUE(db.Begin());
    ASSERT_TRUE(db.Run("INSERT INTO meta(key,value) VALUES('a',1)", {}));
    ASSERT_TRUE(db.Run("ROLLBACK", {}));  // as SQLite does after such a failure
    EXPECT_FALSE(db.Run("INSERT INTO meta(key,value) VALUES('b',2)", {}));
    std::vector<Value> vals(1);
    vals[0].kind = KXQ_TYPE_INTEGER;
    EXPECT_FALSE(db.WriteSlot(1, 1, 1, vals[0]));
    EXPECT_FALSE(db.WriteTail(1, 1, vals, 1, true));
    EXPECT_FALSE(db.Commit());
    db.Rollback();
    // A new transaction works again.
    ASSERT_TRUE(db.Begin());
    EXPECT_TRUE(db.Run("INSERT INTO meta(key,value) VALUES('c',3)", {}));
    EXPECT_TRUE(db.Commit());
  }
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  std::string keys;
  sqlite3_exec(
      raw, "SELECT key FROM meta WHERE key IN ('a','b','c') ORDER BY key",
      [](void* out, int, char** cols, char**) {
        *static_cast<std::string*>(out) += cols[0];
        return 0;
      },
      &keys, nullptr);
  sqlite3_close(raw);
  EXPECT_EQ(keys, "c");
}

TEST(PersistenceTest, AMethodRegisteredAgainUnderAnotherCaseOfItsClassKeepsTheNewAnswer) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  auto answer = [](Store& s) {
    _variant_t result;
    EXPECT_EQ(Obj(s, 10)->CallMethod(_bstr_t(u"PostIssueDocument"), nullptr, &result), S_OK);
    return V_VT(&result) == VT_BOOL && result.boolVal == VARIANT_TRUE;
  };
  {
    auto s = OpenPlant(path);
    ASSERT_TRUE(answer(*s));
    VARIANT no;
    VariantInit(&no);
    V_VT(&no) = VT_BOOL;
    no.boolVal = VARIANT_FALSE;
    Status st = s->RegisterMethod(u"datasheet", u"PostIssueDocument", no);
    ASSERT_TRUE(st.ok()) << st.message;
    EXPECT_FALSE(answer(*s));
  }
  auto s = Reopen(path);
  EXPECT_FALSE(answer(*s));
}

// SQLite stores NaN as NULL, read back as 0: such a value would change on
// reopening, so it is refused.
TEST(PersistenceTest, NotANumberIsRefusedForRealsAndDates) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  auto length = Attr(Obj(*s, 20), u"Length");
  const double before = static_cast<double>(Get(length));
  EXPECT_EQ(Put(length, 0, _variant_t(std::nan(""))), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(static_cast<double>(Get(length)), before);
  VARIANT date;
  VariantInit(&date);
  V_VT(&date) = VT_DATE;
  date.date = std::nan("");
  EXPECT_EQ(Put(Attr(Obj(*s, 20), u"Started"), 0, _variant_t(date)), DISP_E_TYPEMISMATCH);
  // Infinity keeps its value in the file.
  EXPECT_EQ(Put(Attr(Obj(*s, 20), u"Readings"), 1, _variant_t(HUGE_VAL)), S_OK);
}

TEST(PersistenceTest, ValuesSurviveClosingAndReopening) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    auto s = OpenPlant(path);
    ASSERT_EQ(Put(Attr(Obj(*s, 20), u"Tag"), 0, _variant_t(u"P-101 \u00e9")), S_OK);
    auto cases = Attr(Obj(*s, 11), u"Cases");
    ASSERT_EQ(Put(cases, 3, _variant_t(7)), S_OK);
    ASSERT_EQ(Obj(*s, 12)->Delete(), S_OK);
    auto rs = Attr(Obj(*s, 20), u"Length");
    ASSERT_EQ(rs->PutPrefix(_variant_t(), _bstr_t(u"ca.")), S_OK);
    ASSERT_EQ(rs->Lock(_variant_t(), VARIANT_TRUE), S_OK);
  }
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101 \xc3\xa9");
  auto cases = Attr(Obj(*s, 11), u"Cases");
  EXPECT_EQ(Count(cases), 3);
  EXPECT_EQ(Vt(Get(cases, 1)), VT_EMPTY);
  EXPECT_EQ(static_cast<int>(Get(cases, 3)), 7);
  _com_ptr_t<IKXQObject> gone;
  EXPECT_EQ(s->Database()->get_Object(12, &gone), KXQ_E_NOOBJECT);
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"CurrentPages")), 1);
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"SubmittedPages")), 0);
  EXPECT_DOUBLE_EQ(static_cast<double>(Get(Attr(Obj(*s, 20), u"Length"), 0, u"m")), 1.5);
  auto len = Attr(Obj(*s, 20), u"Length");
  BSTR prefix = nullptr;
  ASSERT_EQ(len->GetPrefix(_variant_t(), &prefix), S_OK);
  EXPECT_EQ(_bstr_t(prefix, false).utf8(), "ca.");
  VARIANT_BOOL locked = 0;
  ASSERT_EQ(len->IsLocked(_variant_t(), &locked), S_OK);
  EXPECT_EQ(locked, VARIANT_TRUE);
  // Page 11 is still held; its owner survived too.
  BSTR holder = nullptr;
  ASSERT_EQ(Obj(*s, 11)->get_HoldingAttributeName(&holder), S_OK);
  EXPECT_EQ(_bstr_t(holder, false).utf8(), "CurrentPages");
  // New ids continue after the old ones, deleted ones included.
  _com_ptr_t<IKXQSchema> schema;
  s->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pump;
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  _com_ptr_t<IKXQObject> made;
  ASSERT_EQ(pump->CreateInstance(&made), S_OK);
  LONG id = 0;
  made->get_Id(&id);
  EXPECT_EQ(id, 22);
  EXPECT_EQ(IntegrityCheck(path), "ok");
}

// An attribute definition's linked object is kept with the schema; a
// deleted one is no longer offered.
TEST(PersistenceTest, AnAttributeDefinitionKeepsItsLinkedObject) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  const char fixture[] = R"XML(<store><schema>
    <class name="Standard"><attribute name="Name"/></class>
    <class name="Pump"><attribute name="Flow" doc="Rated flow" link="5"/><attribute name="Tag"/></class>
  </schema><objects>
    <object id="5" class="Standard"><value attribute="Name">API 610</value></object>
  </objects></store>)XML";
  auto linkOf = [](Store& s, const char16_t* name) {
    _com_ptr_t<IKXQSchema> schema;
    s.Database()->get_Schema(&schema);
    _com_ptr_t<IKXQClass> pump;
    schema->get_Class(_bstr_t(u"Pump"), &pump);
    _com_ptr_t<IKXQAttributeDef> def;
    EXPECT_EQ(pump->get_AttributeDefByName(_bstr_t(name), &def), S_OK);
    _com_ptr_t<IKXQObject> linked;
    const HRESULT hr = def->get_LinkedObject(&linked);
    LONG id = 0;
    if (linked) linked->get_Id(&id);
    return std::make_pair(hr, id);
  };
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kOpenOrCreate, &s).ok());
    const Status imported = s->ImportFixtureText(fixture, "linked.xml");
    ASSERT_TRUE(imported.ok()) << imported.message;
    EXPECT_EQ(linkOf(*s, u"Flow"), std::make_pair(S_OK, LONG{5}));
    EXPECT_EQ(linkOf(*s, u"Tag"), std::make_pair(S_FALSE, LONG{0}));
  }
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  EXPECT_EQ(linkOf(*s, u"Flow"), std::make_pair(S_OK, LONG{5}));
  ASSERT_EQ(Obj(*s, 5)->Delete(), S_OK);
  EXPECT_EQ(linkOf(*s, u"Flow"), std::make_pair(S_FALSE, LONG{0}));
  EXPECT_EQ(IntegrityCheck(path), "ok");
}

// Unlinking or re-owning an object rewrites its row; its values, users and
// triggers must stay on disk.
TEST(PersistenceTest, AnUnlinkedObjectKeepsItsValuesOnDisk) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    auto s = OpenPlant(path);
    auto cases = Attr(Obj(*s, 11), u"Cases");
    ASSERT_EQ(Put(cases, 1, _variant_t(4)), S_OK);
    ASSERT_EQ(Obj(*s, 10)->PutUser(_bstr_t(u"alice"), 1), S_OK);
    ASSERT_EQ(Obj(*s, 11)->Unlink(), S_OK);
    ASSERT_EQ(Obj(*s, 10)->put_Owner(nullptr), S_OK);
  }
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  EXPECT_EQ(static_cast<int>(Get(Attr(Obj(*s, 11), u"Cases"), 1)), 4);
  SAFEARRAY* users = nullptr;
  ASSERT_EQ(Obj(*s, 10)->get_Users(&users), S_OK);
  EXPECT_NE(users, nullptr);
  if (users != nullptr) SafeArrayDestroy(users);
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"CurrentPages")), 1);  // 12 is left
  EXPECT_EQ(IntegrityCheck(path), "ok");
}

TEST(PersistenceTest, RollbackRestoresMemoryAndDiskAndKeepsPointers) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    auto s = OpenPlant(path);
    RecordingObserver obs;
    s->SetObserver(&obs);
    auto ds = Obj(*s, 10);
    auto page = Obj(*s, 11);
    auto pump = Obj(*s, 20);
    auto tag = Attr(pump, u"Tag");
    ASSERT_TRUE(s->Begin().ok());
    EXPECT_TRUE(!s->Begin().ok());  // no nesting
    ASSERT_EQ(Put(tag, 0, _variant_t(u"changed")), S_OK);
    ASSERT_EQ(page->Delete(), S_OK);
    _com_ptr_t<IKXQSchema> schema;
    s->Database()->get_Schema(&schema);
    _com_ptr_t<IKXQClass> cls;
    schema->get_Class(_bstr_t(u"Pump"), &cls);
    _com_ptr_t<IKXQObject> made;
    ASSERT_EQ(cls->CreateInstance(&made), S_OK);
    ASSERT_EQ(Put(Attr(made, u"Tag"), 0, _variant_t(u"new")), S_OK);
    ASSERT_EQ(Count(Attr(ds, u"CurrentPages")), 1);
    ASSERT_TRUE(s->Rollback().ok());
    EXPECT_NE(obs.log.find("rollback"), std::string::npos);
    // Memory: as before, same pointers.
    EXPECT_EQ(_bstr_t(Get(tag)).utf8(), "P-101");
    EXPECT_EQ(Obj(*s, 11).GetInterfacePtr(), page.GetInterfacePtr());
    auto current = Attr(ds, u"CurrentPages");
    ASSERT_EQ(Count(current), 2);
    EXPECT_EQ(IdOf(Get(current, 1)), 11);
    EXPECT_EQ(IdOf(Get(Attr(page, u"NodeObjects"), 1)), 20);
    _com_ptr_t<IKXQAttribute> gone;
    EXPECT_EQ(made->get_Attribute(_bstr_t(u"Tag"), _variant_t(), &gone), KXQ_E_DELETED);
    _com_ptr_t<IKXQObjectCollection> inst;
    cls->get_Instances(&inst);
    LONG n = 0;
    inst->get_Count(&n);
    EXPECT_EQ(n, 2);
  }
  auto s = Reopen(path);
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101");
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"CurrentPages")), 2);
  EXPECT_EQ(s->ObjectCount(), 5);
}

TEST(PersistenceTest, AFailedWriteFailsTheTransactionAndChangesNothing) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    auto s = OpenPlant(path);
    auto tag = Attr(Obj(*s, 20), u"Tag");
    auto cases = Attr(Obj(*s, 11), u"Cases");
    ASSERT_TRUE(s->Begin().ok());
    ASSERT_EQ(Put(cases, 1, _variant_t(5)), S_OK);
    s->FailWriteAfter(1);
    EXPECT_EQ(Put(tag, 0, _variant_t(u"lost")), KXQ_E_STORAGE);
    Status c = s->Commit();
    EXPECT_EQ(c.hr, KXQ_E_STORAGE);
    EXPECT_FALSE(s->InTransaction());
    EXPECT_EQ(_bstr_t(Get(tag)).utf8(), "P-101");
    EXPECT_EQ(Count(cases), 0);
    // A write outside a transaction commits or rolls back by itself.
    s->FailWriteAfter(1);
    EXPECT_EQ(Put(tag, 0, _variant_t(u"lost")), KXQ_E_STORAGE);
    EXPECT_FALSE(s->InTransaction());
    EXPECT_EQ(_bstr_t(Get(tag)).utf8(), "P-101");
    EXPECT_EQ(Obj(*s, 20)->Delete(), S_OK);
  }
  auto s = Reopen(path);
  EXPECT_EQ(Count(Attr(Obj(*s, 11), u"Cases")), 0);
  EXPECT_EQ(s->ObjectCount(), 4);
  EXPECT_EQ(Count(Attr(Obj(*s, 11), u"NodeObjects")), 1);
  EXPECT_EQ(Vt(Get(Attr(Obj(*s, 11), u"NodeObjects"), 1)), VT_EMPTY);
}

// Objects deleted from the middle and the ends of a list leave it closed up
// in order, in memory and on disk; a rollback puts each back where it was.
TEST(PersistenceTest, DeletedObjectsLeaveAListClosedUpAndARollbackPutsThemBack) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  const auto ids = [](IKXQAttribute* list) {
    std::string text;
    for (LONG k = 1; k <= Count(list); ++k) text += std::to_string(IdOf(Get(list, k))) + " ";
    return text;
  };
  {
    auto s = OpenPlant(path);
    _com_ptr_t<IKXQSchema> schema;
    s->Database()->get_Schema(&schema);
    _com_ptr_t<IKXQClass> cls;
    schema->get_Class(_bstr_t(u"Page"), &cls);
    auto current = Attr(Obj(*s, 10), u"CurrentPages");
    for (LONG k = 3; k <= 6; ++k) {
      _com_ptr_t<IKXQObject> made;
      ASSERT_EQ(cls->CreateInstance(&made), S_OK);
      ASSERT_EQ(Put(current, k, _variant_t(static_cast<IDispatch*>(made.GetInterfacePtr()))), S_OK);
    }
    const std::string all = ids(current);
    ASSERT_EQ(all, "11 12 22 23 24 25 ");
    ASSERT_TRUE(s->Begin().ok());
    for (LONG id : {23, 11, 25}) ASSERT_EQ(Obj(*s, id)->Delete(), S_OK);
    EXPECT_EQ(ids(current), "12 22 24 ");
    ASSERT_TRUE(s->Rollback().ok());
    EXPECT_EQ(ids(current), all);
    for (LONG id : {22, 25}) ASSERT_EQ(Obj(*s, id)->Delete(), S_OK);
    EXPECT_EQ(ids(current), "11 12 23 24 ");
  }
  auto s = Reopen(path);
  EXPECT_EQ(ids(Attr(Obj(*s, 10), u"CurrentPages")), "11 12 23 24 ");
}

TEST(PersistenceTest, AFailedDeleteLeavesEveryListAsItWas) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  auto page = Obj(*s, 12);
  // The delete reaches SQLite for the object, its retired id, then for the
  // first list.
  s->FailWriteAfter(3);
  EXPECT_EQ(page->Delete(), KXQ_E_STORAGE);
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"CurrentPages")), 2);
  EXPECT_EQ(Count(Attr(Obj(*s, 10), u"SubmittedPages")), 1);
  LONG id = 0;
  page->get_Id(&id);
  _com_ptr_t<IKXQObject> again;
  EXPECT_EQ(s->Database()->get_Object(12, &again), S_OK);
  EXPECT_EQ(again.GetInterfacePtr(), page.GetInterfacePtr());
}

TEST(PersistenceTest, ObserverSeesChangesAsTheyHappen) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  RecordingObserver obs;
  s->SetObserver(&obs);
  ASSERT_EQ(Put(Attr(Obj(*s, 20), u"Tag"), 0, _variant_t(u"x")), S_OK);
  ASSERT_EQ(Obj(*s, 11)->Delete(), S_OK);
  EXPECT_EQ(obs.log, "20.Tag commit 10.CurrentPages -11 commit ");
}

// The observer hears of a deletion before it happens, may change the store
// in the same transaction, and may refuse it.
class GatekeeperObserver : public RecordingObserver {
 public:
  HRESULT BeforeDelete(IKXQObject* object) override {
    LONG id = 0;
    object->get_Id(&id);
    _bstr_t tag;
    _variant_t value;
    // The object is still whole: its values read.
    if (FAILED(Attr(object, u"Tag")->GetValue(_variant_t(), _variant_t(), value.GetAddress()))) {
      return E_UNEXPECTED;
    }
    log += "?" + std::to_string(id) + " ";
    if (refuse) {
      ICreateErrorInfo* create = nullptr;
      CreateErrorInfo(&create);
      create->SetDescription(const_cast<LPOLESTR>(u"not this one"));
      IErrorInfo* info = nullptr;
      create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
      SetErrorInfo(0, info);
      info->Release();
      create->Release();
      return E_FAIL;
    }
    return Put(Attr(object, u"Tag"), 0, _variant_t(u"going"));
  }
  bool refuse = false;
};

TEST(PersistenceTest, TheObserverMayRefuseADeletionBeforeAnythingIsDeleted) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  GatekeeperObserver obs;
  s->SetObserver(&obs);
  obs.refuse = true;
  auto pump = Obj(*s, 20);
  EXPECT_EQ(pump->Delete(), E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_EQ(_bstr_t(text, false), _bstr_t(u"not this one"));
  info->Release();
  _com_ptr_t<IKXQObject> again;
  EXPECT_EQ(s->Database()->get_Object(20, &again), S_OK);
  EXPECT_EQ(obs.log, "?20 rollback ");

  // Inside a transaction: the observer's change and the deletion commit
  // together.
  obs.refuse = false;
  obs.log.clear();
  ASSERT_TRUE(s->Begin().ok());
  ASSERT_EQ(pump->Delete(), S_OK);
  ASSERT_TRUE(s->Commit().ok());
  EXPECT_EQ(obs.log, "?20 20.Tag 11.NodeObjects -20 commit ");
  EXPECT_EQ(s->Database()->get_Object(20, &again), KXQ_E_NOOBJECT);
}

// The pump's own interface is let go last: the store goes with it.
TEST(PersistenceTest, InterfacesOutliveTheStore) {
  TempDir dir;
  _com_ptr_t<IKXQObject> pump;
  _com_ptr_t<IKXQAttribute> tag;
  {
    auto s = OpenPlant(dir.File("s.kxq"));
    pump = Obj(*s, 20).GetInterfacePtr();
    tag = Attr(pump, u"Tag").GetInterfacePtr();
  }
  _variant_t v;
  EXPECT_EQ(tag->GetValue(_variant_t(), _variant_t(), &v), KXQ_E_CLOSED);
  _com_ptr_t<IKXQClass> cls;
  EXPECT_EQ(pump->get_Class(&cls), KXQ_E_CLOSED);
}

// Claims past the few an object's record keeps in place: all listed, in
// the order claimed, and judged for scope, before and after a reopen.
TEST(PersistenceTest, ManyClaimsKeepTheirOrder) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  std::string xml = "<store><schema><class name='Pump'/></schema><projects><project id='1'>";
  for (int p = 2; p <= 8; ++p) xml += "<project id='" + std::to_string(p) + "'/>";
  xml += "</project></projects><objects><object id='20' class='Pump'>";
  for (int p : {5, 2, 8, 3, 7, 4}) xml += "<claim project='" + std::to_string(p) + "'/>";
  xml += "</object></objects></store>";
  auto check = [](Store& s) {
    SAFEARRAY* claimants = nullptr;
    ASSERT_EQ(Obj(s, 20)->get_Claimants(&claimants), S_OK);
    std::string ids;
    for (LONG i = 1; i <= 6; ++i) {
      IDispatch* item = nullptr;
      ASSERT_EQ(SafeArrayGetElement(claimants, &i, &item), S_OK);
      LONG id = 0;
      _com_ptr_t<IKXQProject>(item)->get_Id(&id);
      item->Release();
      ids += std::to_string(id) + " ";
    }
    SafeArrayDestroy(claimants);
    EXPECT_EQ(ids, "5 2 8 3 7 4 ");
    for (LONG active : {4, 6}) {
      ASSERT_TRUE(s.SetActiveProject(active).ok());
      VARIANT_BOOL scoped = VARIANT_FALSE;
      ASSERT_EQ(Obj(s, 20)->IsScoped(&scoped), S_OK);
      EXPECT_EQ(scoped, active == 4 ? VARIANT_TRUE : VARIANT_FALSE);
    }
  };
  check(*kx::test::OpenStore(xml, "claims.xml", path, OpenMode::kOpenOrCreate));
  std::unique_ptr<Store> s;
  ASSERT_TRUE(Store::Open(path, OpenMode::kOpenExisting, &s).ok());
  check(*s);
}

// An import that fails after giving an object more claims than its record
// keeps in place takes them all back: the object made again under that id
// by the next import has only its own.
TEST(PersistenceTest, AFailedImportTakesBackManyClaims) {
  TempDir dir;
  std::string xml = "<store><schema><class name='Pump'/></schema><projects><project id='1'>";
  for (int p = 2; p <= 8; ++p) xml += "<project id='" + std::to_string(p) + "'/>";
  xml += "</project></projects></store>";
  auto s = kx::test::OpenStore(xml, "projects.xml", dir.File("s.kxq"), OpenMode::kOpenOrCreate);
  std::string bad = "<store><objects><object id='20' class='Pump'>";
  for (int p : {5, 2, 8, 3, 7, 4}) bad += "<claim project='" + std::to_string(p) + "'/>";
  bad += "<claim project='99'/></object></objects></store>";
  EXPECT_FALSE(s->ImportFixtureText(bad, "bad.xml").ok());
  ASSERT_TRUE(s->ImportFixtureText("<store><objects><object id='20' class='Pump'><claim "
                                   "project='6'/></object></objects></store>",
                                   "good.xml")
                  .ok());
  SAFEARRAY* claimants = nullptr;
  ASSERT_EQ(Obj(*s, 20)->get_Claimants(&claimants), S_OK);
  LONG upper = 0;
  SafeArrayGetUBound(claimants, 1, &upper);
  EXPECT_EQ(upper, 1);
  LONG first = 1, id = 0;
  IDispatch* item = nullptr;
  ASSERT_EQ(SafeArrayGetElement(claimants, &first, &item), S_OK);
  _com_ptr_t<IKXQProject>(item)->get_Id(&id);
  item->Release();
  SafeArrayDestroy(claimants);
  EXPECT_EQ(id, 6);
}

// The child commits values 1..n one transaction each, then opens one more
// transaction, writes into it, tells the parent and waits to be killed.
TEST(PersistenceTest, SigkillLosesNoCommittedChangeAndShowsNoUncommittedOne) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  { auto s = OpenPlant(path); }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int kCommitted = 25;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    std::unique_ptr<Store> s;
    if (!Store::Open(path, OpenMode::kOpenExisting, &s).ok()) ::_exit(2);
    IKXQObject* page = nullptr;
    s->Database()->get_Object(11, &page);
    IKXQAttribute* cases = nullptr;
    page->get_Attribute(_bstr_t(u"Cases"), _variant_t(), &cases);
    for (int k = 1; k <= kCommitted; ++k) {
      if (!s->Begin().ok()) ::_exit(3);
      cases->PutValue(_variant_t(k), _variant_t(), _variant_t(k * 100));
      if (!s->Commit().ok()) ::_exit(4);
    }
    if (!s->Begin().ok()) ::_exit(5);
    for (int k = kCommitted + 1; k <= kCommitted + 200; ++k)
      cases->PutValue(_variant_t(k), _variant_t(), _variant_t(-k));
    IKXQObject* pump = nullptr;
    s->Database()->get_Object(20, &pump);
    pump->Delete();
    char ready = 'r';
    if (::write(fds[1], &ready, 1) != 1) ::_exit(6);
    for (;;) ::pause();
  }
  ::close(fds[1]);
  char got = 0;
  ASSERT_EQ(::read(fds[0], &got, 1), 1);
  ::close(fds[0]);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(IntegrityCheck(path), "ok");
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  auto cases = Attr(Obj(*s, 11), u"Cases");
  EXPECT_EQ(Count(cases), kCommitted);
  for (int k = 1; k <= kCommitted; ++k) EXPECT_EQ(static_cast<int>(Get(cases, k)), k * 100);
  VARIANT_BOOL exists = 0;
  s->Database()->ObjectExists(20, &exists);
  EXPECT_EQ(exists, VARIANT_TRUE);
  EXPECT_EQ(IdOf(Get(Attr(Obj(*s, 11), u"NodeObjects"), 1)), 20);
}

TEST(PersistenceTest, OpenModes) {
  TempDir dir;
  std::unique_ptr<Store> s;
  EXPECT_FALSE(Store::Open(dir.File("none.kxq"), OpenMode::kOpenExisting, &s).ok());
  ASSERT_TRUE(Store::Open(dir.File("a.kxq"), OpenMode::kCreate, &s).ok());
  s.reset();
  Status again = Store::Open(dir.File("a.kxq"), OpenMode::kCreate, &s);
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message.find("exists"), std::string::npos);
  {
    FILE* f = std::fopen(dir.File("junk.kxq").c_str(), "w");
    std::fputs("this is not a database, just text that fills a page......", f);
    std::fclose(f);
  }
  EXPECT_FALSE(Store::Open(dir.File("junk.kxq"), OpenMode::kOpenExisting, &s).ok());
  // A store that cannot be made for its folder says so, not SQLite's
  // "unable to open database file"; nothing is made.
  for (const OpenMode mode : {OpenMode::kCreate, OpenMode::kOpenOrCreate}) {
    const Status missing = Store::Open(dir.File("no/x.kxq"), mode, &s);
    EXPECT_EQ(missing.message, "Cannot open " + dir.File("no/x.kxq") + ": the folder " +
                                   dir.File("no") + " does not exist");
    const Status file = Store::Open(dir.File("a.kxq/x.kxq"), mode, &s);
    EXPECT_EQ(file.message, "Cannot open " + dir.File("a.kxq/x.kxq") + ": " + dir.File("a.kxq") +
                                " is not a folder");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

// A store opened read-only is read as it is; a change fails, its
// transaction commits nothing, and the file is as it was. A missing file is
// not made.
TEST(PersistenceTest, AStoreOpenedReadOnlyIsReadAndNeverWritten) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  std::unique_ptr<Store> s;
  EXPECT_FALSE(Store::Open(dir.File("none.kxq"), OpenMode::kReadOnly, &s).ok());
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.kxq")));
  Status opened = Store::Open(path, OpenMode::kReadOnly, &s);
  ASSERT_TRUE(opened.ok()) << opened.message;
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101");
  ASSERT_TRUE(s->Begin().ok());
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101");
  EXPECT_TRUE(FAILED(Put(Attr(Obj(*s, 20), u"Tag"), 0, _variant_t(u"Changed"))));
  EXPECT_FALSE(s->Commit().ok());
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101");
  s.reset();
  EXPECT_EQ(_bstr_t(Get(Attr(Obj(*Reopen(path), 20), u"Tag"))).utf8(), "P-101");
}

// A second store opened on a file this process has open looks at the
// file without closing a descriptor of it: closing one would drop the
// locks the first store's connection holds, and another process could
// then checkpoint and remove the log under it.
TEST(PersistenceTest, OpeningAStoreTwiceKeepsTheFirstOnesLocks) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  // The test's own descriptors stay open until both stores have gone, as
  // closing one would drop the locks it looks at.
  std::vector<int> looks;
  const auto sharedLocked = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    looks.push_back(fd);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000002;  // SQLite's shared lock bytes
    lock.l_len = 510;
    return fd >= 0 && ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  };
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kReadOnly}) {
    std::unique_ptr<Store> first = OpenPlant(path);
    ASSERT_TRUE(sharedLocked());
    std::unique_ptr<Store> second;
    const Status opened = Store::Open(path, mode, &second);
    ASSERT_TRUE(opened.ok()) << opened.message;
    EXPECT_TRUE(sharedLocked()) << "open mode " << static_cast<int>(mode);
    second.reset();
    EXPECT_TRUE(sharedLocked()) << "open mode " << static_cast<int>(mode);
    first.reset();
    for (int fd : looks) ::close(fd);
    looks.clear();
    for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(path + end);
  }
}

}  // namespace
}  // namespace kx::store::test

namespace kx::store::test {
namespace {

TEST(DamagedStoreTest, AForeignDatabaseIsNotTakenOver) {
  TempDir dir;
  const std::string path = dir.File("other.db");
  RawSql(path, "CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT)");
  std::unique_ptr<Store> s;
  Status st = Store::Open(path, OpenMode::kOpenExisting, &s);
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message.find("not an object store"), std::string::npos) << st.message;
  RawSql(path, "SELECT count(*) FROM customers");
}

// A file that is no object store is refused by every mode, before anything
// is written: it keeps every byte and gets no log or index beside it. A
// store just made, whose tables are still in its log, is one.
TEST(DamagedStoreTest, AFileThatIsNoStoreIsRefusedAndLeftAsItWas) {
  TempDir dir;
  const std::string made = dir.File("made.kxq");
  OpenPlant(made).reset();
  std::string store;
  {
    std::ifstream in(made, std::ios::binary);
    store.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::remove(made);
  const struct {
    const char* name;
    std::string bytes;
    const char* says;
  } files[] = {
      {"empty.kxq", "", "is not an object store: it is empty (0 bytes)"},
      {"text.kxq", "this is not a database, just text that fills a page", "no SQLite database"},
      {"cut.kxq", store.substr(0, store.size() / 2), "damaged object store: it is cut short"},
  };
  for (const auto& file : files) WriteBytes(dir.File(file.name), file.bytes);
  RawSql(dir.File("other.kxq"), "CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT)");
  RawSqlLeavingLog(dir.File("otherlog.kxq"), "PRAGMA journal_mode=WAL; CREATE TABLE meta(a, b)");
  RawSql(dir.File("bare.kxq"), "PRAGMA journal_mode=WAL");
  const auto before = FolderBytes(dir.path());
  const std::pair<const char*, const char*> says[] = {
      {"other.kxq", "is not an object store: it is a database of something else"},
      {"otherlog.kxq", "is not an object store: it is a database of something else"},
      {"bare.kxq", "is not an object store: it is an SQLite database without tables"}};
  for (OpenMode mode : {OpenMode::kOpenExisting, OpenMode::kOpenOrCreate, OpenMode::kReadOnly}) {
    std::vector<std::pair<std::string, std::string>> cases;
    for (const auto& file : files) cases.emplace_back(file.name, file.says);
    for (const auto& [name, text] : says) cases.emplace_back(name, text);
    for (const auto& [name, text] : cases) {
      std::unique_ptr<Store> s;
      const Status opened = Store::Open(dir.File(name), mode, &s);
      EXPECT_FALSE(opened.ok()) << name;
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(opened.hr, name == "cut.kxq" ? KXQ_E_STORAGE : KXQ_E_NOTSTORE) << name;
      EXPECT_NE(opened.message.find(text), std::string::npos) << opened.message;
      EXPECT_NE(opened.message.find("nothing in it was changed"), std::string::npos);
    }
    EXPECT_EQ(FolderBytes(dir.path()), before) << static_cast<int>(mode);
  }
  // A store that another process has just made: its tables are in its log.
  std::unique_ptr<Store> maker, other;
  ASSERT_TRUE(Store::Open(made, OpenMode::kCreate, &maker).ok());
  const Status opened = Store::Open(made, OpenMode::kOpenExisting, &other);
  EXPECT_TRUE(opened.ok()) << opened.message;
}

// On a store opened read only, what opening a page or a document records
// (a trigger, a version opened and closed) is kept for this process alone;
// every other change fails saying the store is read only. The file is as
// it was.
TEST(DamagedStoreTest, AReadOnlyStoreKeepsWhatOpeningRecordsInMemoryAlone) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  OpenPlant(path).reset();
  const std::string bytes = FolderBytes(dir.path()).at("s.kxq");
  {
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(path, OpenMode::kReadOnly, &s).ok());
    auto sheet = Obj(*s, 10);
    ASSERT_TRUE(s->Begin().ok());
    _com_ptr_t<IKXQTrigger> trigger;
    EXPECT_EQ(sheet->get_Trigger(_bstr_t(u"Field"), &trigger), S_OK) << ErrorText();
    EXPECT_EQ(sheet->OpenVersion(2, _variant_t(u"1")), S_OK) << ErrorText();
    EXPECT_EQ(sheet->CloseVersion(_variant_t(u"1")), S_OK) << ErrorText();
    const Status committed = s->Commit();
    EXPECT_TRUE(committed.ok()) << committed.message;
    VARIANT_BOOL has = VARIANT_FALSE;
    EXPECT_EQ(sheet->HasTrigger(_bstr_t(u"Field"), &has), S_OK);
    EXPECT_EQ(has, VARIANT_TRUE);
    // A step of the workflow is a change like any other.
    EXPECT_EQ(sheet->WorkflowAction(7, _variant_t(u"")), KXQ_E_STORAGE);
    EXPECT_EQ(Put(Attr(Obj(*s, 20), u"Tag"), 0, _variant_t(u"Changed")), KXQ_E_STORAGE);
    EXPECT_NE(ErrorText().find("the store was opened read only"), std::string::npos);
    EXPECT_EQ(_bstr_t(Get(Attr(Obj(*s, 20), u"Tag"))).utf8(), "P-101");
  }
  EXPECT_EQ(FolderBytes(dir.path()).at("s.kxq"), bytes);
  VARIANT_BOOL has = VARIANT_TRUE;
  EXPECT_EQ(Obj(*Reopen(path), 10)->HasTrigger(_bstr_t(u"Field"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_FALSE);
}

TEST(DamagedStoreTest, AnObjectOfAnUnknownClassFailsItsReadingCleanly) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  { auto s = OpenPlant(path); }
  RawSql(path,
         "PRAGMA foreign_keys=OFF; INSERT INTO objects(id,class,owner,holder,holder_attr,flags) "
         "VALUES(500, 999, NULL, NULL, '', 0)");
  // Objects are read when first reached, so the damage shows there.
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  _com_ptr_t<IKXQObject> o;
  EXPECT_EQ(s->Database()->get_Object(500, &o), KXQ_E_STORAGE);
  EXPECT_NE(ErrorText().find("object 500 has an unknown class"), std::string::npos);
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(static_cast<int>(Get(Attr(Obj(*s, 21), u"Speed"))), 0);
}

// A stored version whose text does not parse is damage (the store wrote it
// whole): asked for, the current version answers as for a version that is
// gone, but the read has failed, saying the store is damaged, and a
// transaction that made it rolls back.
TEST(DamagedStoreTest, StoredTemplatesAreReadWhenFirstUsedAndADamagedOneIsAFailedRead) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  { auto s = OpenPlant(path); }
  RawSql(path, "UPDATE templates SET xml='<template id=' WHERE id='PUMP' AND checknum='2'");
  auto s = Reopen(path);
  ASSERT_TRUE(s);
  const TemplateLibraryRec& lib = s->core().library();
  ASSERT_TRUE(lib.Has(u"PUMP", u"3"));
  EXPECT_FALSE(lib.byId.at(u"PUMP").at(u"3")->loaded);
  _com_ptr_t<IKXQTemplateLibrary> library;
  ASSERT_EQ(s->Database()->get_TemplateLibrary(&library), S_OK);
  _com_ptr_t<IKXQTemplate> current, v2;
  ASSERT_EQ(library->GetTemplate(_bstr_t(u"PUMP"), _variant_t(), &current), S_OK);
  ASSERT_NE(current, nullptr);
  BSTR name = nullptr;
  current->get_Name(&name);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "Pump datasheet");
  EXPECT_TRUE(lib.byId.at(u"PUMP").at(u"3")->loaded);
  EXPECT_FALSE(lib.byId.at(u"SUM").at(u"1")->loaded);
  ASSERT_TRUE(s->TakeReadFailure().ok());
  ASSERT_EQ(library->GetTemplate(_bstr_t(u"PUMP"), _variant_t(u"2"), &v2), S_OK);
  EXPECT_EQ(v2.GetInterfacePtr(), current.GetInterfacePtr());
  const std::string damaged = "Cannot read template \"PUMP\" version \"2\": the store " + path +
                              " is damaged (its text does not parse: line 1: ";
  const Status read = s->TakeReadFailure();
  EXPECT_EQ(read.hr, KXQ_E_STORAGE);
  EXPECT_EQ(read.message.rfind(damaged, 0), 0u) << read.message;
  ASSERT_TRUE(s->Begin().ok());
  ASSERT_EQ(library->GetTemplate(_bstr_t(u"PUMP"), _variant_t(u"2"), &v2), S_OK);
  const Status committed = s->Commit();
  EXPECT_EQ(committed.hr, KXQ_E_STORAGE);
  EXPECT_NE(committed.message.find("a read had failed (" + damaged), std::string::npos)
      << committed.message;
}

TEST(DamagedStoreTest, UndoRestoresHoldersOwnersAndInverses) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  auto page = Obj(*s, 11);
  auto pump = Obj(*s, 20);
  ASSERT_TRUE(s->Begin().ok());
  ASSERT_EQ(page->Unlink(), S_OK);
  ASSERT_EQ(page->put_Owner(nullptr), S_OK);
  ASSERT_EQ(Attr(page, u"NodeObjects")->Clear(_variant_t()), S_OK);
  EXPECT_EQ(Count(Attr(pump, u"DataViews")), 0);
  ASSERT_TRUE(s->Rollback().ok());
  BSTR name = nullptr;
  ASSERT_EQ(page->get_HoldingAttributeName(&name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "CurrentPages");
  _com_ptr_t<IKXQObject> owner;
  ASSERT_EQ(page->GetOwner(&owner, 0), S_OK);
  EXPECT_EQ(owner.GetInterfacePtr(), Obj(*s, 10).GetInterfacePtr());
  auto views = Attr(pump, u"DataViews");
  ASSERT_EQ(Count(views), 1);
  EXPECT_EQ(IdOf(Get(views, 1)), 11);
  // Ownership may not run in a circle.
  EXPECT_EQ(Obj(*s, 10)->put_Owner(page), E_INVALIDARG);
}

TEST(DamagedStoreTest, ObjectValuesByIdAndTheirLimits) {
  TempDir dir;
  auto s = OpenPlant(dir.File("s.kxq"));
  auto nodes = Attr(Obj(*s, 12), u"NodeObjects");
  ASSERT_EQ(Put(nodes, 2, _variant_t(21)), S_OK);
  EXPECT_EQ(IdOf(Get(nodes, 2)), 21);
  EXPECT_EQ(Put(nodes, 3, _variant_t(404)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Put(nodes, 2, _variant_t(0)), S_OK);
  EXPECT_EQ(Vt(Get(nodes, 2)), VT_EMPTY);
  EXPECT_EQ(Count(nodes), 2);
  // An object of another store is refused.
  TempDir other;
  auto t = OpenPlant(other.File("t.kxq"));
  auto foreign = Obj(*t, 21);
  EXPECT_EQ(nodes->PutValue(Pos(1), _variant_t(),
                            _variant_t(static_cast<IDispatch*>(foreign.GetInterfacePtr()))),
            DISP_E_TYPEMISMATCH);
}

// A single value lies in its object's record, where a read finds it without
// following another pointer; a list grown past one moves aside and comes
// back when it shrinks, through rollbacks and commits alike. Records of
// objects made one after another lie side by side.
TEST(PersistenceTest, ASingleValueStaysInItsObjectsRecordAsItsListChanges) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  {
    auto s = OpenPlant(path);
    StoreCore& core = s->core();
    auto cases = Attr(Obj(*s, 11), u"Cases");
    const ObjectRec* page = core.LiveObject(11);
    auto inRecord = [&] {
      const ValueList* list = page->Find(core.FindAttr(page, u"Cases")->id);
      const auto* at = reinterpret_cast<const char*>(list->data());
      const auto* first = reinterpret_cast<const char*>(page->attrs.data());
      return at >= first && at < first + page->attrs.size() * sizeof(AttrValues);
    };
    ASSERT_EQ(Put(cases, 1, _variant_t(10)), S_OK);
    EXPECT_TRUE(inRecord());
    ASSERT_TRUE(s->Begin().ok());
    ASSERT_EQ(Put(cases, 3, _variant_t(30)), S_OK);
    EXPECT_FALSE(inRecord());
    ASSERT_EQ(cases->InsertValues(1, 1), S_OK);
    ASSERT_TRUE(s->Rollback().ok());
    ASSERT_EQ(Count(cases), 1);
    EXPECT_EQ(static_cast<int>(Get(cases, 1)), 10);
    EXPECT_TRUE(inRecord());
    ASSERT_EQ(Put(cases, 2, _variant_t(20)), S_OK);
    ASSERT_EQ(cases->RemoveValues(1, 1), S_OK);
    EXPECT_TRUE(inRecord());
    ASSERT_EQ(static_cast<int>(Get(cases, 1)), 20);
    EXPECT_EQ(core.LiveObject(12) - core.LiveObject(11), 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(page) % 64, 0u);
    // A copy takes both kinds of list as they are and shares neither.
    ASSERT_EQ(Put(Attr(Obj(*s, 11), u"NodeIndices"), 2, _variant_t(7)), S_OK);
    _com_ptr_t<IKXQObject> copy;
    ASSERT_EQ(Obj(*s, 11)->Copy(&copy), S_OK);
    EXPECT_EQ(static_cast<int>(Get(Attr(copy, u"Cases"), 1)), 20);
    ASSERT_EQ(Put(Attr(copy, u"Cases"), 1, _variant_t(21)), S_OK);
    ASSERT_EQ(Put(Attr(copy, u"NodeIndices"), 2, _variant_t(8)), S_OK);
    EXPECT_EQ(static_cast<int>(Get(cases, 1)), 20);
    EXPECT_EQ(static_cast<int>(Get(Attr(Obj(*s, 11), u"NodeIndices"), 2)), 7);
    EXPECT_EQ(Count(Attr(copy, u"NodeIndices")), 2);
  }
  auto s = Reopen(path);
  auto cases = Attr(Obj(*s, 11), u"Cases");
  ASSERT_EQ(Count(cases), 1);
  EXPECT_EQ(static_cast<int>(Get(cases, 1)), 20);
  EXPECT_EQ(static_cast<int>(Get(Attr(Obj(*s, 11), u"NodeIndices"), 2)), 7);
}
}  // namespace
}  // namespace kx::store::test
