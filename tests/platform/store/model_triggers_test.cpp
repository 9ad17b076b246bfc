// Triggers through the interfaces: items record the reads made for them and
// fire on changes of what they read, in key order, by owner then name.
#include <functional>
#include <string>
#include <vector>

#include "com/enumvariant.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

using ModelTriggerTest = PlantStoreTest;

TEST_F(ModelTriggerTest, TriggersFireOnChangesOfRecordedReads) {
  auto page = Obj(*store, 11);
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(page->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  VARIANT_BOOL has = 0;
  ASSERT_EQ(page->HasTrigger(_bstr_t(u"Field"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_TRUE);
  ASSERT_EQ(t->BeginItem(_variant_t(u"12")), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  EXPECT_EQ(t->EndItem(), KXQ_E_TRANSACTION);
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(Put(Attr(Obj(*store, 21), u"Tag"), 0, _variant_t(u"other")), S_OK);  // not read
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101A")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  LONG ix = 0;
  BSTR key = nullptr;
  ASSERT_EQ(SafeArrayGetElement(keys, &ix, &key), S_OK);
  EXPECT_EQ(_bstr_t(key, false).utf8(), "12");
  SafeArrayDestroy(keys);
  ASSERT_EQ(t->ClearFiredKeys(), S_OK);
  ASSERT_EQ(t->ResetItem(_variant_t(u"12")), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101B")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
}

TEST_F(ModelTriggerTest, ItemsResetWhileOpenRecordTheirLaterReadsAndAllFireInKeyOrder) {
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  auto speed = Attr(Obj(*store, 21), u"Speed");
  ASSERT_EQ(t->BeginItem(_variant_t(u"z")), S_OK);
  ASSERT_EQ(t->BeginItem(_variant_t(u"a")), S_OK);
  Get(speed);
  ASSERT_EQ(t->ResetItem(_variant_t()), S_OK);  // every item, both still open
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_EQ(t->ResetItem(_variant_t(u"a")), S_OK);
  std::vector<std::string> expected;
  for (int k = 10; k < 30; ++k) expected.push_back("k" + std::to_string(k));
  expected.push_back("m");
  expected.push_back("z");
  for (const char* key :
       {"m",   "k29", "k28", "k27", "k26", "k25", "k24", "k23", "k22", "k21", "k20",
        "k19", "k18", "k17", "k16", "k15", "k14", "k13", "k12", "k11", "k10"}) {
    ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
    Get(tag);
    ASSERT_EQ(t->EndItem(), S_OK);
  }
  ASSERT_EQ(Put(speed, 0, _variant_t(9)), S_OK);  // its reads were reset
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101C")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  std::vector<std::string> fired;
  LONG upper = -1;
  SafeArrayGetUBound(keys, 1, &upper);
  for (LONG ix = 0; ix <= upper; ++ix) {
    BSTR key = nullptr;
    ASSERT_EQ(SafeArrayGetElement(keys, &ix, &key), S_OK);
    fired.push_back(_bstr_t(key, false).utf8());
  }
  SafeArrayDestroy(keys);
  EXPECT_EQ(fired, expected);  // by key, whatever the order of the reads
}

// Records the trigger items fired, in the order the observer hears them.
class FiringObserver : public StoreObserver {
 public:
  void TriggerFired(LONG owner, const std::u16string& trigger, const std::u16string& key) override {
    fired.push_back(std::to_string(owner) + " " + _bstr_t(trigger.c_str()).utf8() + " " +
                    _bstr_t(key.c_str()).utf8());
  }
  std::vector<std::string> fired;
};

// Several triggers that read one value fire by owner, then name, then key,
// whichever order they were made in (and so wherever they lie in memory).
TEST(TriggerOrder, OneChangeFiresItsTriggersByOwnerThenName) {
  struct Made {
    LONG owner;
    const char16_t* name;
  };
  const std::vector<Made> forward = {{11, u"Field"}, {11, u"Datasheet"}, {10, u"SSPF"}};
  const std::vector<Made> backward(forward.rbegin(), forward.rend());
  for (const std::vector<Made>* order : {&forward, &backward}) {
    TempDir dir;
    auto store = OpenPlant(dir.File("plant.kxq"));
    ASSERT_TRUE(store);
    FiringObserver observer;
    store->SetObserver(&observer);
    auto tag = Attr(Obj(*store, 20), u"Tag");
    std::vector<_com_ptr_t<IKXQTrigger>> triggers;
    for (const Made& made : *order) {
      _com_ptr_t<IKXQTrigger> t;
      ASSERT_EQ(Obj(*store, made.owner)->get_Trigger(_bstr_t(made.name), &t), S_OK);
      for (const char16_t* key : {u"b", u"a"}) {
        ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
        Get(tag);
        ASSERT_EQ(t->EndItem(), S_OK);
      }
      triggers.push_back(t);
    }
    ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101Z")), S_OK);
    EXPECT_EQ(observer.fired,
              (std::vector<std::string>{"10 SSPF a", "10 SSPF b", "11 Datasheet a",
                                        "11 Datasheet b", "11 Field a", "11 Field b"}))
        << (order == &forward ? "made forward" : "made backward");
    store->SetObserver(nullptr);
  }
}

// One value changed again and again in one transaction, as a request on a
// page open for editing does: each change fires what has not fired since
// its keys were cleared, in the same order as a first change would.
TEST_F(ModelTriggerTest, AValueChangedAgainInOneTransactionFiresWhatMayFireAgainInOrder) {
  FiringObserver observer;
  store->SetObserver(&observer);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  _com_ptr_t<IKXQTrigger> field, sspf;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &field), S_OK);
  ASSERT_EQ(Obj(*store, 10)->get_Trigger(_bstr_t(u"SSPF"), &sspf), S_OK);
  auto record = [&](IKXQTrigger* t, const char16_t* key) {
    ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
    Get(tag);
    ASSERT_EQ(t->EndItem(), S_OK);
  };
  record(field, u"d");
  record(field, u"b");
  record(sspf, u"x");
  auto change = [&](const char16_t* value) {
    observer.fired.clear();
    EXPECT_EQ(Put(tag, 0, _variant_t(value)), S_OK);
    return observer.fired;
  };
  using Fired = std::vector<std::string>;
  ASSERT_TRUE(store->Begin().ok());
  EXPECT_EQ(change(u"T1"), (Fired{"10 SSPF x", "11 Field b", "11 Field d"}));
  EXPECT_EQ(change(u"T2"), Fired{});
  record(field, u"c");  // recorded since: fires alone
  EXPECT_EQ(change(u"T3"), Fired{"11 Field c"});
  EXPECT_EQ(change(u"T4"), Fired{});
  ASSERT_EQ(field->ClearFiredKeys(), S_OK);
  EXPECT_EQ(change(u"T5"), (Fired{"11 Field b", "11 Field c", "11 Field d"}));
  ASSERT_EQ(field->ResetItem(_variant_t(u"c")), S_OK);
  ASSERT_EQ(field->ClearFiredKeys(), S_OK);
  ASSERT_EQ(sspf->ClearFiredKeys(), S_OK);
  EXPECT_EQ(change(u"T6"), (Fired{"10 SSPF x", "11 Field b", "11 Field d"}));
  record(field, u"c");  // read again after its reset
  record(field, u"a");
  EXPECT_EQ(change(u"T7"), (Fired{"11 Field a", "11 Field c"}));
  ASSERT_TRUE(store->Commit().ok());
  ASSERT_EQ(field->ClearFiredKeys(), S_OK);
  EXPECT_EQ(change(u"T8"), (Fired{"11 Field a", "11 Field b", "11 Field c", "11 Field d"}));
  store->SetObserver(nullptr);
}

TEST_F(ModelTriggerTest, ReadsCollectedWithoutAnItemFireTheItemTheyAreReplayedInto) {
  auto page = Obj(*store, 11);
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(page->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  auto speed = Attr(Obj(*store, 21), u"Speed");
  LONG before = 0;
  ASSERT_EQ(log->get_ChangeCount(&before), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  Get(tag);
  ASSERT_EQ(log->BeginReads(), S_OK);  // nested: both see the read
  Get(tag);
  _com_ptr_t<IKXQReadSet> inner, outer;
  ASSERT_EQ(log->EndReads(&inner), S_OK);
  Get(speed);
  ASSERT_EQ(log->EndReads(&outer), S_OK);
  _com_ptr_t<IKXQReadSet> none;
  EXPECT_EQ(log->EndReads(&none), KXQ_E_TRANSACTION);
  LONG count = 0;
  ASSERT_EQ(inner->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(outer->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  LONG after = 0;
  ASSERT_EQ(log->get_ChangeCount(&after), S_OK);
  EXPECT_EQ(after, before);  // reads change nothing

  // Replayed inside an item, the reads fire it as if made there.
  ASSERT_TRUE(store->Begin().ok());  // nothing to catch up with
  ASSERT_EQ(log->get_ChangeCount(&before), S_OK);
  EXPECT_EQ(before, after);
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(page->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  ASSERT_EQ(log->get_ChangeCount(&after), S_OK);
  EXPECT_EQ(after, before);  // a trigger is no data
  ASSERT_EQ(t->BeginItem(_variant_t(u"7")), S_OK);
  ASSERT_EQ(inner->Replay(), S_OK);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_EQ(Put(speed, 0, _variant_t(9)), S_OK);  // not in the replayed set
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(log->get_ChangeCount(&after), S_OK);
  EXPECT_NE(after, before);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101D")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  LONG ix = 0;
  BSTR key = nullptr;
  ASSERT_EQ(SafeArrayGetElement(keys, &ix, &key), S_OK);
  EXPECT_EQ(_bstr_t(key, false).utf8(), "7");
  SafeArrayDestroy(keys);
  ASSERT_TRUE(store->Rollback().ok());  // what was read may be gone
  ASSERT_EQ(log->get_ChangeCount(&before), S_OK);
  EXPECT_NE(before, after);
}

TEST_F(ModelTriggerTest, ACollectionOpenedAgainGathersOnlyItsOwnReads) {
  auto page = Obj(*store, 11);
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(page->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  auto speed = Attr(Obj(*store, 21), u"Speed");
  _com_ptr_t<IKXQReadSet> first, second;
  ASSERT_EQ(log->BeginReads(), S_OK);
  Get(tag);
  Get(speed);
  ASSERT_EQ(log->EndReads(&first), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  Get(speed);
  ASSERT_EQ(log->EndReads(&second), S_OK);
  LONG count = 0;
  ASSERT_EQ(first->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(second->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(page->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  ASSERT_EQ(t->BeginItem(_variant_t(u"8")), S_OK);
  ASSERT_EQ(second->Replay(), S_OK);
  ASSERT_EQ(t->EndItem(), S_OK);
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101E")), S_OK);  // read by the first only
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(Put(speed, 0, _variant_t(7)), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  SafeArrayDestroy(keys);
}

TEST_F(ModelTriggerTest, AnItemBegunByNumberIsTheItemOfItsDecimalText) {
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  auto tag = Attr(Obj(*store, 20), u"Tag");
  EXPECT_EQ(t->BeginNumberedItem(-1), E_INVALIDARG);
  ASSERT_EQ(t->BeginNumberedItem(12), S_OK);
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  // The same item by its text: a reset forgets what the number recorded.
  ASSERT_EQ(t->ResetItem(_variant_t(u"12")), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101F")), S_OK);
  SAFEARRAY* keys = nullptr;
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  EXPECT_EQ(keys, nullptr);
  ASSERT_EQ(t->BeginNumberedItem(12), S_OK);  // found again by number
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101G")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  LONG ix = 0;
  BSTR key = nullptr;
  ASSERT_EQ(SafeArrayGetElement(keys, &ix, &key), S_OK);
  EXPECT_EQ(_bstr_t(key, false).utf8(), "12");
  SafeArrayDestroy(keys);
  // A text with a leading zero is an item of its own, not the number's.
  ASSERT_EQ(t->ClearFiredKeys(), S_OK);
  ASSERT_EQ(t->ResetItem(_variant_t(u"12")), S_OK);
  ASSERT_EQ(t->BeginItem(_variant_t(u"012")), S_OK);
  Get(tag);
  ASSERT_EQ(t->EndItem(), S_OK);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101H")), S_OK);
  ASSERT_EQ(t->GetFiredKeys(&keys), S_OK);
  ASSERT_NE(keys, nullptr);
  LONG upper = -1;
  SafeArrayGetUBound(keys, 1, &upper);
  EXPECT_EQ(upper, 0);
  ASSERT_EQ(SafeArrayGetElement(keys, &ix, &key), S_OK);
  EXPECT_EQ(_bstr_t(key, false).utf8(), "012");
  SafeArrayDestroy(keys);
}

// A list's items read single entries, its count or the whole: a change
// fires the items whose entries read otherwise after it, and moves the
// stamps of those reads alone.
TEST_F(ModelTriggerTest, AChangeOfAListFiresTheItemsOfTheEntriesItChanged) {
  FiringObserver observer;
  store->SetObserver(&observer);
  auto fields = Attr(Obj(*store, 11), u"Fields");
  for (LONG k = 1; k <= 4; ++k) {
    ASSERT_EQ(Put(fields, k, _variant_t(std::u16string(1, u'a' + (k - 1)).c_str())), S_OK);
  }
  _com_ptr_t<IKXQTrigger> t;
  ASSERT_EQ(Obj(*store, 11)->get_Trigger(_bstr_t(u"Field"), &t), S_OK);
  auto record = [&](const char16_t* key, const std::function<void()>& read) {
    ASSERT_EQ(t->BeginItem(_variant_t(key)), S_OK);
    read();
    ASSERT_EQ(t->EndItem(), S_OK);
  };
  record(u"e2", [&] { Get(fields, 2); });
  record(u"e4", [&] {
    BSTR text = nullptr;
    ASSERT_EQ(fields->GetPrefix(_variant_t(4L), &text), S_OK);  // the slot's texts
    SysFreeString(text);
  });
  record(u"e9", [&] { Get(fields, 9); });  // past the end
  record(u"n", [&] {
    LONG count = 0;
    ASSERT_EQ(fields->get_Count(&count), S_OK);
  });
  record(u"w", [&] {
    VARIANT_BOOL has = VARIANT_FALSE;
    ASSERT_EQ(fields->HasValue(_variant_t(), &has), S_OK);
  });
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(Obj(*store, 11)->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  Get(fields, 2);
  _com_ptr_t<IKXQReadSet> second;
  ASSERT_EQ(log->EndReads(&second), S_OK);
  auto stamp = [&] {
    LONGLONG at = 0;
    EXPECT_EQ(second->get_LatestStamp(&at), S_OK);
    return at;
  };
  const LONGLONG before = stamp();

  using Fired = std::vector<std::string>;
  auto fired = [&](const std::function<HRESULT()>& change) {
    observer.fired.clear();
    EXPECT_EQ(change(), S_OK);
    EXPECT_EQ(t->ClearFiredKeys(), S_OK);
    return observer.fired;
  };
  EXPECT_EQ(fired([&] { return Put(fields, 3, _variant_t(u"C")); }), (Fired{"11 Field w"}));
  EXPECT_EQ(stamp(), before);  // entry 2 is as it was
  EXPECT_EQ(fired([&] { return fields->PutPrefix(_variant_t(4L), _bstr_t(u"~")); }),
            (Fired{"11 Field e4", "11 Field w"}));
  EXPECT_EQ(fired([&] { return Put(fields, 2, _variant_t(u"B")); }),
            (Fired{"11 Field e2", "11 Field w"}));
  EXPECT_NE(stamp(), before);
  // a B C d -> a B _ C d: entries 3 to 5 moved.
  EXPECT_EQ(fired([&] { return fields->InsertValues(3, 1); }),
            (Fired{"11 Field e4", "11 Field n", "11 Field w"}));
  EXPECT_EQ(fired([&] { return Put(fields, 9, _variant_t(u"i")); }),
            (Fired{"11 Field e9", "11 Field n", "11 Field w"}));
  // a B _ C d _ _ _ i -> a B _ _ C d _ _ _ i: entry 9 reads "_" where it read "i".
  EXPECT_EQ(fired([&] { return fields->InsertValues(3, 1); }),
            (Fired{"11 Field e4", "11 Field e9", "11 Field n", "11 Field w"}));
  // Entries 8 to 10 move up by one: of the empty ones, only entry 9 reads otherwise.
  EXPECT_EQ(fired([&] { return fields->RemoveValues(7, 1); }),
            (Fired{"11 Field e9", "11 Field n", "11 Field w"}));
  EXPECT_EQ(fired([&] { return fields->RemoveValues(1, 1); }),
            (Fired{"11 Field e2", "11 Field e4", "11 Field e9", "11 Field n", "11 Field w"}));
  EXPECT_EQ(fired([&] { return fields->Resize(20); }), (Fired{"11 Field n", "11 Field w"}));
  // B _ _ C d _ _ i _ ... : entries 2 and 9 were empty already.
  EXPECT_EQ(fired([&] { return fields->Clear(_variant_t()); }),
            (Fired{"11 Field e4", "11 Field n", "11 Field w"}));
  store->SetObserver(nullptr);
}

}  // namespace
}  // namespace kx::store::test
