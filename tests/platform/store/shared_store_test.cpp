// Two store instances on one file, as two processes would have them: each
// transaction catches up with what the other committed, in place; a lock
// held too long fails the call cleanly.
#include <algorithm>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "com/sysmsg.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

// A new pump of s; its id, 0 when none was made.
LONG CreatePump(Store& s) {
  _com_ptr_t<IKXQSchema> schema;
  s.Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pump;
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  _com_ptr_t<IKXQObject> o;
  EXPECT_EQ(pump->CreateInstance(&o), S_OK);
  LONG id = 0;
  if (o) o->get_Id(&id);
  return id;
}

class SharedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.File("s.kxq");
    a = OpenPlant(path);
    b = Reopen(path);
    ASSERT_TRUE(a && b);
  }
  // Any transaction of a: it catches up first.
  void Touch(Store& s) {
    ASSERT_TRUE(s.Begin().ok());
    ASSERT_TRUE(s.Commit().ok());
  }
  TempDir dir;
  std::string path;
  std::unique_ptr<Store> a, b;
};

TEST_F(SharedStoreTest, AChangeCommittedByTheOtherIsSeenInPlaceAndFiresTheTriggerThatReadIt) {
  auto tagA = Attr(Obj(*a, 20), u"Tag");
  _com_ptr_t<IKXQObject> pumpA = Obj(*a, 20);
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*a, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  ASSERT_EQ(t->BeginItem(_variant_t(u"k1")), S_OK);
  EXPECT_EQ(_bstr_t(Get(tagA)).utf8(), "P-101");
  ASSERT_EQ(t->EndItem(), S_OK);

  ASSERT_EQ(Put(Attr(Obj(*b, 20), u"Tag"), 0, _variant_t(u"P-101X")), S_OK);
  ASSERT_EQ(Put(Attr(Obj(*b, 21), u"Speed"), 0, _variant_t(7)), S_OK);
  // Nothing is read from the file outside a transaction.
  EXPECT_EQ(_bstr_t(Get(tagA)).utf8(), "P-101");
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);

  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(pumpA->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)), S_OK);
  LONG before = 0, after = 0;
  ASSERT_EQ(log->get_ChangeCount(&before), S_OK);
  ASSERT_TRUE(a->Begin().ok());
  ASSERT_EQ(log->get_ChangeCount(&after), S_OK);
  EXPECT_NE(after, before);                        // the catch-up brought the other's changes in
  EXPECT_EQ(_bstr_t(Get(tagA)).utf8(), "P-101X");  // the same pointer
  EXPECT_EQ(Obj(*a, 20).GetInterfacePtr(), pumpA.GetInterfacePtr());
  EXPECT_EQ(static_cast<int>(Get(Attr(Obj(*a, 21), u"Speed"))), 7);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  LONG upper = -1;
  SafeArrayGetUBound(keys, 1, &upper);
  EXPECT_EQ(upper, 0);  // k1 only
  SafeArrayDestroy(keys);
  // What the other committed stays after a rollback here.
  ASSERT_TRUE(a->Rollback().ok());
  EXPECT_EQ(_bstr_t(Get(tagA)).utf8(), "P-101X");
  // The object counts the other's changes brought in, not its own.
  _com_ptr_t<IKXQExternalChanges> counted;
  ASSERT_EQ(
      pumpA->QueryInterface(kx_uuidof<IKXQExternalChanges>(), reinterpret_cast<void**>(&counted)),
      S_OK);
  LONG changes = -1;
  ASSERT_EQ(counted->get_ExternalChangeCount(&changes), S_OK);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(Put(tagA, 0, _variant_t(u"P-101Y")), S_OK);
  Touch(*a);
  counted->get_ExternalChangeCount(&changes);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(Obj(*b, 20)->Delete(), S_OK);
  Touch(*a);
  counted->get_ExternalChangeCount(&changes);
  EXPECT_EQ(changes, 2);
}

TEST_F(SharedStoreTest,
       ALongListSaysWhetherItHoldsAnObjectAfterEachChangeARollbackAndTheOthersCommit) {
  auto nodes = Attr(Obj(*a, 11), u"NodeObjects");
  _com_ptr_t<IKXQObject> p20 = Obj(*a, 20), p21 = Obj(*a, 21);
  auto ref = [](IKXQObject* o) { return _variant_t(static_cast<IDispatch*>(o)); };
  auto holds = [&](IKXQObject* o) {
    VARIANT_BOOL h = VARIANT_FALSE;
    EXPECT_EQ(nodes->ContainsObject(o, &h), S_OK);
    return h == VARIANT_TRUE;
  };
  // Pump 20 at 1, pump 21 after it: long enough not to be scanned.
  ASSERT_TRUE(a->Begin().ok());
  for (LONG k = 2; k <= 100; ++k) ASSERT_EQ(Put(nodes, k, ref(p21)), S_OK);
  ASSERT_TRUE(a->Commit().ok());
  EXPECT_TRUE(holds(p20));
  EXPECT_TRUE(holds(p21));
  EXPECT_FALSE(holds(Obj(*a, 10)));

  ASSERT_TRUE(a->Begin().ok());
  ASSERT_EQ(Put(nodes, 1, ref(p21)), S_OK);
  EXPECT_FALSE(holds(p20));
  ASSERT_TRUE(a->Rollback().ok());
  EXPECT_TRUE(holds(p20));
  ASSERT_EQ(nodes->Clear(Pos(1)), S_OK);
  EXPECT_FALSE(holds(p20));
  ASSERT_EQ(Put(nodes, 1, ref(p20)), S_OK);
  ASSERT_EQ(nodes->RemoveValues(1, 1), S_OK);
  EXPECT_FALSE(holds(p20));
  ASSERT_EQ(nodes->InsertValues(1, 1), S_OK);
  ASSERT_EQ(Put(nodes, 1, ref(p20)), S_OK);
  EXPECT_TRUE(holds(p20));

  ASSERT_EQ(Attr(Obj(*b, 11), u"NodeObjects")->Clear(Pos(1)), S_OK);
  Touch(*a);
  EXPECT_FALSE(holds(p20));
  ASSERT_EQ(Put(Attr(Obj(*b, 11), u"NodeObjects"), 1, ref(Obj(*b, 20))), S_OK);
  Touch(*a);
  EXPECT_TRUE(holds(p20));

  // A deleted pump leaves empty slots; clearing the list empties it.
  ASSERT_EQ(p21->Delete(), S_OK);
  EXPECT_FALSE(holds(p21));
  EXPECT_TRUE(holds(p20));
  ASSERT_EQ(nodes->Resize(50), S_OK);
  ASSERT_EQ(Put(nodes, 100, ref(p20)), S_OK);
  ASSERT_EQ(nodes->Resize(99), S_OK);
  ASSERT_EQ(nodes->Clear(_variant_t()), S_OK);
  ASSERT_EQ(nodes->Resize(100), S_OK);
  EXPECT_FALSE(holds(p20));
}

TEST_F(SharedStoreTest, ObjectsCreatedAndDeletedByTheOtherAreSeenAndIdsAreNotGivenTwice) {
  const auto create = CreatePump;
  EXPECT_EQ(create(*a), 22);
  EXPECT_EQ(create(*b), 23);
  _com_ptr_t<IKXQObject> pageA = Obj(*a, 12);
  ASSERT_EQ(Obj(*b, 12)->Delete(), S_OK);
  Touch(*a);
  VARIANT_BOOL exists = 0;
  a->Database()->ObjectExists(23, &exists);
  EXPECT_EQ(exists, VARIANT_TRUE);
  _com_ptr_t<IKXQClass> cls;
  EXPECT_EQ(pageA->get_Class(&cls), KXQ_E_DELETED);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(Count(Attr(Obj(*a, 10), u"CurrentPages")), 1);
  EXPECT_EQ(create(*a), 24);
  EXPECT_EQ(IntegrityCheck(path), "ok");
}

// Ids of the live instances of a class (and its subclasses), as s has them.
std::vector<LONG> Extent(Store& s, const char16_t* cls) {
  _com_ptr_t<IKXQSchema> schema;
  s.Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> c;
  schema->get_Class(_bstr_t(cls), &c);
  _com_ptr_t<IKXQObjectCollection> items;
  std::vector<LONG> ids;
  if (!c || FAILED(c->get_Instances(&items)) || !items) return ids;
  LONG n = 0;
  items->get_Count(&n);
  for (LONG k = 1; k <= n; ++k) {
    _com_ptr_t<IKXQObject> o;
    LONG id = 0;
    if (SUCCEEDED(items->get_Item(k, &o)) && o && SUCCEEDED(o->get_Id(&id))) ids.push_back(id);
  }
  return ids;
}

TEST_F(SharedStoreTest, ObjectsTheOtherChangedOrDeletedBeforeThisOneReadThemAreReadAsCommitted) {
  // a has read the pump (an import reads no object into memory).
  auto speed = Attr(Obj(*a, 21), u"Speed");
  ASSERT_EQ(Put(Attr(Obj(*b, 21), u"Speed"), 0, _variant_t(7)), S_OK);
  ASSERT_EQ(Obj(*b, 12)->Delete(), S_OK);
  // Outside a transaction a still sees the objects it has read as of its
  // last one; its next transaction catches up.
  EXPECT_EQ(static_cast<int>(Get(speed)), 0);
  Touch(*a);
  EXPECT_EQ(static_cast<int>(Get(speed)), 7);
  _com_ptr_t<IKXQObject> page;
  EXPECT_EQ(a->Database()->get_Object(12, &page), KXQ_E_NOOBJECT);
  SetErrorInfo(0, nullptr);
  auto pages = Attr(Obj(*a, 10), u"CurrentPages");
  EXPECT_EQ(Count(pages), 1);
  EXPECT_EQ(IdOf(Get(pages, 1)), 11);
  EXPECT_EQ(Count(Attr(Obj(*a, 10), u"SubmittedPages")), 0);
  // A third instance that never read it still never gives the id again.
  auto c = Reopen(path);
  Status st = c->ImportFixtureText(
      "<store><objects><object id=\"12\" class=\"Pump\"/></objects></store>", "again");
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message.find("belonged to a deleted object"), std::string::npos) << st.message;
}

// A cache of what an object's values gave (the module's kept template
// pages) holds while the stamps of those values hold.
LONGLONG Stamp(IKXQObject* object, const char16_t* attribute) {
  _com_ptr_t<IKXQValueStamps> stamps;
  EXPECT_EQ(object->QueryInterface(kx_uuidof<IKXQValueStamps>(), reinterpret_cast<void**>(&stamps)),
            S_OK);
  LONGLONG stamp = -1;
  if (stamps) {
    EXPECT_EQ(stamps->GetValueStamp(_bstr_t(attribute), &stamp), S_OK);
  }
  return stamp;
}

TEST_F(SharedStoreTest, AValueStampMovesWithItsValueAndWithEveryChangeThatIsNotOneOfAValue) {
  _com_ptr_t<IKXQObject> pump = Obj(*a, 20);
  const LONGLONG first = Stamp(pump, u"Tag");
  // Other values, of this object or another, leave it.
  ASSERT_EQ(Put(Attr(Obj(*a, 21), u"Speed"), 0, _variant_t(5)), S_OK);
  ASSERT_EQ(Put(Attr(pump, u"Speed"), 0, _variant_t(6)), S_OK);
  EXPECT_EQ(Stamp(pump, u"Tag"), first);
  ASSERT_EQ(Put(Attr(pump, u"Tag"), 0, _variant_t(u"P-7")), S_OK);
  const LONGLONG written = Stamp(pump, u"Tag");
  EXPECT_NE(written, first);
  // A rollback may have undone anything.
  ASSERT_TRUE(a->Begin().ok());
  ASSERT_EQ(Put(Attr(Obj(*a, 21), u"Speed"), 0, _variant_t(8)), S_OK);
  EXPECT_EQ(Stamp(pump, u"Tag"), written);
  ASSERT_TRUE(a->Rollback().ok());
  const LONGLONG undone = Stamp(pump, u"Tag");
  EXPECT_NE(undone, written);
  // So may another process's commit, seen at the next transaction.
  ASSERT_EQ(Put(Attr(Obj(*b, 20), u"Tag"), 0, _variant_t(u"P-8")), S_OK);
  EXPECT_EQ(Stamp(pump, u"Tag"), undone);
  Touch(*a);
  EXPECT_NE(Stamp(pump, u"Tag"), undone);
  EXPECT_EQ(_bstr_t(Get(Attr(pump, u"Tag"))).utf8(), "P-8");
}

// What the other changed in a list fires, at the next catch-up, the items
// of the entries that read otherwise now, and of the count when it moved.
TEST_F(SharedStoreTest, EntriesOfAListTheOtherChangedFireTheItemsThatReadThem) {
  auto fields = Attr(Obj(*a, 11), u"Fields");
  for (LONG k = 1; k <= 3; ++k) ASSERT_EQ(Put(fields, k, _variant_t(u"x")), S_OK);
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*a, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  for (const auto& [key, at] : {std::pair{u"e1", 1L}, std::pair{u"e3", 3L}, std::pair{u"n", 0L}}) {
    ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
    LONG count = 0;
    if (at > 0) {
      Get(fields, at);
    } else {
      ASSERT_EQ(fields->get_Count(&count), S_OK);
    }
    ASSERT_EQ(t->EndItem(), S_OK);
  }
  const auto fired = [&] {
    Touch(*a);
    std::string keys;
    SAFEARRAY* array = nullptr;
    EXPECT_EQ(t->GetFiredKeys(&array), S_OK);
    LONG upper = -1;
    if (array != nullptr) SafeArrayGetUBound(array, 1, &upper);
    for (LONG ix = 0; ix <= upper; ++ix) {
      BSTR key = nullptr;
      EXPECT_EQ(SafeArrayGetElement(array, &ix, &key), S_OK);
      keys += _bstr_t(key, false).utf8() + " ";
    }
    if (array != nullptr) SafeArrayDestroy(array);
    EXPECT_EQ(t->ClearFiredKeys(), S_OK);
    return keys;
  };
  auto other = Attr(Obj(*b, 11), u"Fields");
  ASSERT_EQ(Put(other, 3, _variant_t(u"y")), S_OK);
  EXPECT_EQ(fired(), "e3 ");
  ASSERT_EQ(other->InsertValues(2, 1), S_OK);  // x _ x y: entry 1 stays
  EXPECT_EQ(fired(), "e3 n ");
}

// Stamps kept for hundreds of values (the table of them grows) each stay
// their value's own: a later change of one moves its stamp alone.
TEST_F(SharedStoreTest, ManyValuesKeepAStampEachThatOnlyTheirOwnChangeMoves) {
  std::vector<_com_ptr_t<IKXQObject>> pumps;
  // Read before the commit, which moves every stamp.
  ASSERT_TRUE(a->Begin().ok());
  for (int k = 0; k < 300; ++k) pumps.push_back(Obj(*a, CreatePump(*a)));
  for (int k = 0; k < 300; ++k) {
    ASSERT_EQ(Put(Attr(pumps[k], u"Tag"), 0, _variant_t(u"T")), S_OK);
    ASSERT_EQ(Put(Attr(pumps[k], u"Speed"), 0, _variant_t(k)), S_OK);
  }
  std::vector<LONGLONG> tags, speeds;
  for (const auto& pump : pumps) {
    tags.push_back(Stamp(pump, u"Tag"));
    speeds.push_back(Stamp(pump, u"Speed"));
  }
  for (size_t k = 0; k < pumps.size(); ++k) {
    EXPECT_LT(tags[k], speeds[k]) << k;
    if (k > 0) {
      EXPECT_LT(speeds[k - 1], tags[k]) << k;
    }
  }
  ASSERT_EQ(Put(Attr(pumps[150], u"Speed"), 0, _variant_t(-1)), S_OK);
  for (size_t k = 0; k < pumps.size(); ++k) {
    EXPECT_EQ(Stamp(pumps[k], u"Tag"), tags[k]) << k;
    if (k != 150) {
      EXPECT_EQ(Stamp(pumps[k], u"Speed"), speeds[k]) << k;
    }
  }
  EXPECT_GT(Stamp(pumps[150], u"Speed"), speeds.back());
  ASSERT_TRUE(a->Commit().ok());
}

// What a stretch of work read holds while the stamps of those values hold;
// an inverse list changes with the references that other objects hold.
TEST_F(SharedStoreTest, AReadSetsStampMovesWithTheValuesItReadAndNoOthers) {
  _com_ptr_t<IKXQObject> pump = Obj(*a, 21);
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(pump->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  Get(Attr(pump, u"Tag"));
  Get(Attr(pump, u"DataViews"));
  _com_ptr_t<IKXQReadSet> reads;
  ASSERT_EQ(log->EndReads(&reads), S_OK);
  const auto latest = [&] {
    LONGLONG stamp = -1;
    EXPECT_EQ(reads->get_LatestStamp(&stamp), S_OK);
    return stamp;
  };
  const LONGLONG first = latest();
  ASSERT_EQ(Put(Attr(pump, u"Speed"), 0, _variant_t(5)), S_OK);
  EXPECT_EQ(latest(), first);
  // Another page shows the pump now.
  ASSERT_EQ(Put(Attr(Obj(*a, 12), u"NodeObjects"), 1,
                _variant_t(static_cast<IDispatch*>(pump.GetInterfacePtr()))),
            S_OK);
  const LONGLONG placed = latest();
  EXPECT_NE(placed, first);
  EXPECT_EQ(Stamp(pump, u"DataViews"), placed);
  ASSERT_EQ(Put(Attr(pump, u"Tag"), 0, _variant_t(u"P-9")), S_OK);
  EXPECT_NE(latest(), placed);
}

TEST_F(SharedStoreTest, ObjectsFirstReadInATransactionThatRolledBackFollowTheOthersCommits) {
  ASSERT_TRUE(a->Begin().ok());
  auto speed = Attr(Obj(*a, 21), u"Speed");
  ASSERT_EQ(Put(speed, 0, _variant_t(3)), S_OK);
  ASSERT_EQ(Obj(*a, 12)->Delete(), S_OK);
  EXPECT_EQ(Count(Attr(Obj(*a, 10), u"CurrentPages")), 1);
  ASSERT_TRUE(a->Rollback().ok());
  EXPECT_EQ(static_cast<int>(Get(speed)), 0);
  EXPECT_EQ(Count(Attr(Obj(*a, 10), u"CurrentPages")), 2);
  EXPECT_EQ(Extent(*a, u"Page"), (std::vector<LONG>{11, 12}));

  ASSERT_EQ(Put(Attr(Obj(*b, 21), u"Speed"), 0, _variant_t(9)), S_OK);
  ASSERT_EQ(Obj(*b, 11)->Delete(), S_OK);
  Touch(*a);
  EXPECT_EQ(static_cast<int>(Get(speed)), 9);
  auto pages = Attr(Obj(*a, 10), u"CurrentPages");
  EXPECT_EQ(Count(pages), 1);
  EXPECT_EQ(IdOf(Get(pages, 1)), 12);
  EXPECT_EQ(IntegrityCheck(path), "ok");
}

TEST_F(SharedStoreTest, AClassExtentOrAnInverseListReadAfterTheOtherChangedThemHasTheNewMembers) {
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21}));
  _com_ptr_t<IKXQSchema> schema;
  b->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pump;
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  _com_ptr_t<IKXQObject> made;
  ASSERT_EQ(pump->CreateInstance(&made), S_OK);
  ASSERT_EQ(Obj(*b, 20)->Delete(), S_OK);
  _com_ptr_t<IKXQObject> pump21 = Obj(*b, 21);
  ASSERT_EQ(Put(Attr(Obj(*b, 12), u"NodeObjects"), 1,
                _variant_t(static_cast<IDispatch*>(pump21.GetInterfacePtr()))),
            S_OK);
  // Outside a transaction the extent is asked of the file as it is: pump 22
  // is read now; pump 20 stays as a read it until a transaction catches up.
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{21, 22}));
  VARIANT_BOOL exists = VARIANT_FALSE;
  a->Database()->ObjectExists(20, &exists);
  EXPECT_EQ(exists, VARIANT_TRUE);
  Touch(*a);
  a->Database()->ObjectExists(20, &exists);
  EXPECT_EQ(exists, VARIANT_FALSE);
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{21, 22}));
  EXPECT_EQ(Extent(*a, u"ProcessPlantEquipment"), (std::vector<LONG>{21, 22}));
  auto views = Attr(Obj(*a, 21), u"DataViews");
  EXPECT_EQ(Count(views), 1);
  EXPECT_EQ(IdOf(Get(views, 1)), 12);
  EXPECT_EQ(a->ObjectCount(), b->ObjectCount());
}

TEST_F(SharedStoreTest, AClassExtentAskedAgainFollowsCreationsRollbacksAndTheOthersCommits) {
  const auto create = CreatePump;
  ASSERT_TRUE(a->Begin().ok());
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21}));
  create(*a);
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21, 22}));
  ASSERT_EQ(Obj(*a, 20)->Delete(), S_OK);
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{21, 22}));
  ASSERT_TRUE(a->Rollback().ok());
  ASSERT_TRUE(a->Begin().ok());
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21}));
  ASSERT_TRUE(a->Commit().ok());
  // The other commits a pump: the next transaction here catches up with it.
  create(*b);
  ASSERT_TRUE(a->Begin().ok());
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21, 23}));
  EXPECT_EQ(Extent(*a, u"ProcessPlantEquipment"), (std::vector<LONG>{20, 21, 23}));
  ASSERT_TRUE(a->Commit().ok());
  // Between transactions the file is asked as it is.
  create(*b);
  EXPECT_EQ(Extent(*a, u"Pump"), (std::vector<LONG>{20, 21, 23, 24}));
}

// A store in memory alone: no other process reaches its file, so its
// extents are kept between transactions too; each creation, deletion and
// rollback shows at once.
TEST(MemoryStoreTest, AClassExtentFollowsCreationsDeletionsAndRollbacks) {
  std::unique_ptr<Store> s = OpenPlant(":memory:");
  ASSERT_TRUE(s);
  _com_ptr_t<IKXQSchema> schema;
  s->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pump;
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  ASSERT_TRUE(pump);
  auto create = [&] {
    _com_ptr_t<IKXQObject> o;
    EXPECT_EQ(pump->CreateInstance(&o), S_OK);
  };
  EXPECT_EQ(Extent(*s, u"Pump"), (std::vector<LONG>{20, 21}));
  create();
  EXPECT_EQ(Extent(*s, u"Pump"), (std::vector<LONG>{20, 21, 22}));
  ASSERT_EQ(Obj(*s, 20)->Delete(), S_OK);
  EXPECT_EQ(Extent(*s, u"Pump"), (std::vector<LONG>{21, 22}));
  ASSERT_TRUE(s->Begin().ok());
  create();
  ASSERT_EQ(Obj(*s, 21)->Delete(), S_OK);
  EXPECT_EQ(Extent(*s, u"Pump"), (std::vector<LONG>{22, 23}));
  ASSERT_TRUE(s->Rollback().ok());
  EXPECT_EQ(Extent(*s, u"Pump"), (std::vector<LONG>{21, 22}));
  EXPECT_EQ(Extent(*s, u"ProcessPlantEquipment"), (std::vector<LONG>{21, 22}));
  EXPECT_EQ(s->ObjectCount(), 5);
}

TEST_F(SharedStoreTest, WhenTheLogDoesNotReachBackEverythingIsReadAgain) {
  VARIANT no;
  VariantInit(&no);
  V_VT(&no) = VT_BOOL;
  no.boolVal = VARIANT_FALSE;
  ASSERT_TRUE(b->RegisterMethod(u"Datasheet", u"PostIssueDocument", no).ok());
  ASSERT_EQ(Put(Attr(Obj(*b, 11), u"PageNumber"), 0, _variant_t(9)), S_OK);
  // As when many commits went by: the log is cut after them.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(
                raw, "DELETE FROM changelog WHERE version < (SELECT max(version) FROM changelog)",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  auto page = Attr(Obj(*a, 11), u"PageNumber");
  Touch(*a);
  EXPECT_EQ(static_cast<int>(Get(page)), 9);
  _variant_t result;
  ASSERT_EQ(Obj(*a, 10)->CallMethod(_bstr_t(u"PostIssueDocument"), nullptr, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
}

// An import changes more objects than a log entry names: the other reads
// again everything it has read, such as the page a new datasheet took.
TEST_F(SharedStoreTest, AnImportOfMoreObjectsThanTheLogNamesIsReadAgainWhole) {
  _com_ptr_t<IKXQObject> page = Obj(*b, 12);
  _bstr_t holding;
  ASSERT_EQ(page->get_HoldingAttributeName(holding.GetAddress()), S_OK);
  ASSERT_EQ(std::u16string(holding), u"SubmittedPages");
  std::string xml =
      "<store><objects><object id='30' class='Datasheet'>"
      "<value attribute='CheckedPages' ref='12'/></object>";
  for (int k = 0; k < 4100; ++k) xml += "<object class='Pump'/>";
  xml += "</objects></store>";
  const Status imported = a->ImportFixtureText(xml, "more.xml");
  ASSERT_TRUE(imported.ok()) << imported.message;
  Touch(*b);
  ASSERT_EQ(page->get_HoldingAttributeName(holding.GetAddress()), S_OK);
  EXPECT_EQ(std::u16string(holding), u"CheckedPages");
}

// The change log drops its oldest entries now and then, not one a commit
// (which would write its first page besides its last): it keeps the last
// 1,000 commits at least, and not many more.
TEST_F(SharedStoreTest, TheChangeLogKeepsItsLast1000CommitsAndNotManyMore) {
  auto number = Attr(Obj(*a, 11), u"PageNumber");
  for (int k = 1; k <= 1300; ++k) ASSERT_EQ(Put(number, 0, _variant_t(k)), S_OK);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*), min(version), max(version) FROM changelog",
                               -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const long long entries = sqlite3_column_int64(st, 0);
  const long long span = sqlite3_column_int64(st, 2) - sqlite3_column_int64(st, 1) + 1;
  sqlite3_finalize(st);
  sqlite3_close(raw);
  EXPECT_GE(entries, 1000);
  EXPECT_LT(entries, 1300);
  EXPECT_EQ(span, entries);  // the newest, without gaps
}

// A process that has read something and then idles holds nothing that
// keeps the write-ahead log from being checkpointed: another process's
// 5,000 one-value commits leave the log bounded (it grew by some 12 KB a
// commit while a reader kept its snapshot between calls).
TEST(SharedStoreLogTest, TheLogStaysBoundedBesideAnIdleReader) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  { auto made = OpenPlant(path); }
  int go[2], result[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(result), 0);
  const int kCommits = 5000;
  // The writer is forked before this process opens the file: no SQLite
  // connection crosses the fork.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) ::_exit(2);
    std::unique_ptr<Store> s;
    if (!Store::Open(path, OpenMode::kOpenExisting, &s).ok()) ::_exit(3);
    IKXQObject* page = nullptr;
    s->Database()->get_Object(11, &page);
    IKXQAttribute* number = nullptr;
    page->get_Attribute(_bstr_t(u"PageNumber"), _variant_t(), &number);
    long long largest = 0;
    for (int k = 1; k <= kCommits; ++k) {
      if (!s->Begin().ok()) ::_exit(4);
      number->PutValue(_variant_t(), _variant_t(), _variant_t(k));
      if (!s->Commit().ok()) ::_exit(5);
      struct stat st;
      if (k % 50 == 0 && ::stat((path + "-wal").c_str(), &st) == 0)
        largest = std::max<long long>(largest, st.st_size);
    }
    if (::write(result[1], &largest, sizeof largest) != sizeof largest) ::_exit(6);
    number->Release();
    page->Release();
    ::_exit(0);
  }
  auto reader = Reopen(path);
  ASSERT_TRUE(reader);
  auto number = Attr(Obj(*reader, 11), u"PageNumber");
  const _variant_t before = Get(number);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  long long largest = -1;
  ASSERT_EQ(::read(result[0], &largest, sizeof largest), static_cast<ssize_t>(sizeof largest));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {go[0], go[1], result[0], result[1]}) ::close(fd);
  EXPECT_GT(largest, 0);
  EXPECT_LT(largest, 8LL * 1024 * 1024) << "the write-ahead log reached " << largest << " bytes";
  // The idle reader still sees what it read, and catches up at its next
  // transaction.
  EXPECT_EQ(static_cast<int>(Get(number)), static_cast<int>(before));
  ASSERT_TRUE(reader->Begin().ok());
  ASSERT_TRUE(reader->Commit().ok());
  EXPECT_EQ(static_cast<int>(Get(number)), kCommits);
}

TEST_F(SharedStoreTest, ALockHeldTooLongFailsTheCallWithNothingChanged) {
  a->SetLockTimeout(100);
  ASSERT_TRUE(b->Begin().ok());
  auto speedB = Attr(Obj(*b, 21), u"Speed");
  auto speed = Attr(Obj(*a, 21), u"Speed");
  EXPECT_EQ(Put(speed, 0, _variant_t(5)), KXQ_E_BUSY);
  EXPECT_NE(ErrorText().find("busy"), std::string::npos);
  EXPECT_EQ(Vt(Get(speed)), VT_EMPTY);
  EXPECT_FALSE(a->InTransaction());
  Status st = a->Begin();
  EXPECT_EQ(st.hr, KXQ_E_BUSY);
  EXPECT_NE(st.message.find("another process"), std::string::npos) << st.message;
  EXPECT_EQ(kx_system_message(KXQ_E_BUSY).find(u"Unknown"), std::u16string::npos);
  ASSERT_TRUE(b->Rollback().ok());
  EXPECT_EQ(Put(speed, 0, _variant_t(5)), S_OK);
  EXPECT_EQ(static_cast<int>(Get(speedB)), 0);  // b has not looked yet
  Touch(*b);
  EXPECT_EQ(static_cast<int>(Get(speedB)), 5);
}

}  // namespace
}  // namespace kx::store::test
