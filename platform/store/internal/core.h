// StoreCore: the one owner of a store's model, its SQLite file, the undo log
// and the cached interface objects. Every change goes through its methods,
// which write through to SQLite and log the way back.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/admin.h"
#include "store/internal/model.h"
#include "store/internal/persistence.h"
#include "store/internal/templates_model.h"

namespace kx::store {

// Sets COM error information (source "KXStore") and returns hr.
HRESULT SetError(HRESULT hr, const u16& description);
HRESULT SetError(HRESULT hr, const std::string& description);

// One place of an OpenTable: a key and its data. A read's key is held in its
// parts, so that data of four bytes fills what would be the key's padding.
template <class Key, class Data>
struct OpenSlot {
  OpenSlot() = default;
  OpenSlot(const Key& k, Data d) : key(k), data(std::move(d)) {}
  Key Read() const { return key; }
  Key key{};
  Data data{};
};
template <class Data>
struct OpenSlot<ReadKey, Data> {
  OpenSlot() = default;
  OpenSlot(const ReadKey& k, Data d) : list(k.list), at(k.at), data(std::move(d)) {}
  ReadKey Read() const { return {list, at}; }
  uint64_t list = 0;
  uint32_t at = kWholeList;
  Data data{};
};

// Small data by key, in one array open to probing: a look-up reads one
// place of memory, where a node map reads a bucket and then nodes elsewhere,
// and a new key costs no allocation of its own. Read sets ask for thousands
// of stamps at a time, a page's trigger set-up records thousands of reads,
// and the tables outgrow the processor's caches with the plant.
template <class Key, class Data, class Hash>
class OpenTable {
 public:
  size_t size() const { return size_; }
  void clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    std::fill(used_.begin(), used_.end(), false);
    size_ = 0;
  }
  // The data of `key`; null when it has none.
  const Data* Find(const Key& key) const {
    if (size_ == 0) return nullptr;
    for (size_t at = Home(key);; at = (at + 1) & (slots_.size() - 1)) {
      if (!used_[at]) return nullptr;
      const Slot& slot = slots_[at];
      if (slot.Read() == key) return &slot.data;
    }
  }
  // The data of `key`, made (as Data{}) when it has none.
  Data& Get(const Key& key) {
    if (2 * (size_ + 1) > slots_.size()) Grow();
    for (size_t at = Home(key);; at = (at + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[at];
      if (!used_[at]) {
        slot = Slot(key, Data{});
        used_[at] = true;
        ++size_;
        return slot.data;
      }
      if (slot.Read() == key) return slot.data;
    }
  }

 private:
  // Whether a slot is taken is kept apart, a bit a slot: a flag beside a
  // read's key and its data would make each slot larger.
  using Slot = OpenSlot<Key, Data>;
  size_t Home(const Key& key) const {
    // Keys differ mostly in their object's half: multiplying spreads them
    // over the high bits, which pick the slot.
    return static_cast<size_t>((Hash()(key) * 0x9e3779b97f4a7c15ull) >> 32) & (slots_.size() - 1);
  }
  void Grow() {
    std::vector<Slot> old(std::max<size_t>(64, 2 * slots_.size()));
    std::vector<bool> oldUsed(old.size(), false);
    old.swap(slots_);
    oldUsed.swap(used_);
    size_ = 0;
    for (size_t at = 0; at < old.size(); ++at)
      if (oldUsed[at]) Get(old[at].Read()) = std::move(old[at].data);
  }
  std::vector<Slot> slots_;  // a power of two in size, at most half used
  std::vector<bool> used_;   // which slots are taken
  size_t size_ = 0;
};

// What one change of an attribute's list changed: entries (positions from
// 1, ascending) and whether its number of entries moved. Every change
// changes the whole list.
struct ListChange {
  std::vector<uint32_t> entries;
  bool count = false;
  static ListChange Entry(size_t pos, bool count) {
    ListChange change;
    change.entries.push_back(static_cast<uint32_t>(pos));
    change.count = count;
    return change;
  }
};

class StoreCore {
 public:
  StoreCore();
  StoreCore(const StoreCore&) = delete;
  StoreCore& operator=(const StoreCore&) = delete;

  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  Status Open(const std::string& path, OpenMode mode);
  void Close();
  bool closed() const { return closed_; }
  // KXQ_E_CLOSED with error info when closed, else S_OK.
  HRESULT CheckOpen() const;

  // --- transactions ---------------------------------------------------
  HRESULT Begin();
  HRESULT Commit();
  HRESULT Rollback();
  bool InTransaction() const { return inTxn_; }

  // Brackets one interface call that changes the store: opens a
  // transaction of its own when none is open and ends it with the call.
  class WriteScope {
   public:
    explicit WriteScope(StoreCore& core);
    ~WriteScope();
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;
    // hr of the call; S_OK after Begin failed is turned into its failure.
    HRESULT ok() const { return hr_; }
    // Ends the scope with the call's result; returns the final result.
    HRESULT Done(HRESULT hr);

   private:
    StoreCore& core_;
    bool implicit_ = false;
    bool done_ = false;
    HRESULT hr_ = 0;
  };

  // Appends a step to the undo log (only inside a transaction). A step of
  // anything but a trigger (`data`) moves the change count.
  void OnUndo(std::function<void()> step, bool data = true);
  // Moves with every change of the store's data, every catch-up that
  // brought changes in and every rollback (IKXQReadLog).
  uint32_t DataChanges() const { return dataChanges_; }
  // How many rollbacks undid changes: a cache kept beside the objects
  // (IKXQExternalChanges) may hold what a rolled-back call made.
  uint32_t UndoneTransactions() const { return undoneTxns_; }
  // The last change that may have changed the value of `attr` on `obj`
  // (IKXQValueStamps): a change of that value, or any change that is not
  // one of a value.
  uint64_t ValueStamp(int32_t obj, int32_t attr) const {
    return ReadStamp({ListKey(obj, attr), kWholeList});
  }
  // The same for what one read looked at: a change of the entry, of the
  // number of entries, or of anything in the list.
  uint64_t ReadStamp(const ReadKey& read) const;
  // The last change that was not one of a value.
  uint64_t OtherStamp() const { return otherChangedAt_; }
  // A write failed: the transaction can only be rolled back.
  HRESULT StorageFailure();
  // A read of the file failed where the call cannot hand the failure back
  // (an inverse list, a class extent, a count, an object not found): what
  // the call goes on with is no answer, so the transaction can only be
  // rolled back, and the failure is kept for TakeReadFailure.
  void ReadFailed(const std::string& why) const;
  // The first such failure since the last transaction began or the last
  // call of this ("" when none), cleared.
  std::string TakeReadFailure();

  // --- schema -----------------------------------------------------------
  ClassRec* FindClass(std::u16string_view name) const;
  HRESULT AddClass(const u16& name, const u16& baseName, const u16& description, bool definition,
                   ClassRec** out);
  HRESULT AddAttr(ClassRec* cls, const AttrDef& def, AttrDef** out);
  AttrDef* AttrById(int32_t id) const;
  // Attribute by name on the object's class (case-insensitive), or null.
  AttrDef* FindAttr(const ObjectRec* obj, const u16& name) const;

  // --- objects ----------------------------------------------------------
  // Live or deleted; an object not yet in memory is read from the file.
  ObjectRec* FindObject(int32_t id);
  ObjectRec* LiveObject(int32_t id);
  // Already in memory (live or not), without reading the file.
  ObjectRec* LoadedObject(int32_t id) const;
  // The failure for an id LiveObject did not give: KXQ_E_STORAGE when the
  // file could not be read or holds a damaged object (KXQ_E_BUSY when
  // another process wrote it under a reading without locks), else
  // KXQ_E_NOOBJECT.
  HRESULT NoObject(int32_t id);
  HRESULT CreateObject(ClassRec* cls, int32_t id, ObjectRec** out);
  HRESULT DeleteObject(ObjectRec* obj);
  // Fails with E_INVALIDARG when obj would own itself through owner.
  HRESULT SetOwner(ObjectRec* obj, int32_t owner);
  bool WouldOwnItself(const ObjectRec* obj, int32_t owner);
  HRESULT SetHolder(ObjectRec* obj, int32_t holder, const u16& attr);
  HRESULT SetObjectFlags(ObjectRec* obj, uint32_t flags);
  HRESULT Unlink(ObjectRec* obj, bool* wasHeld);
  HRESULT CopyObject(ObjectRec* src, ObjectRec** out);
  // The collection attribute that holds obj, or null.
  AttrDef* HoldingAttr(const ObjectRec* obj, ObjectRec** holder);
  // Live instances of the class and its subclasses (or of the class only),
  // in id order, read from the file as needed.
  std::vector<ObjectRec*> Instances(const ClassRec* cls, bool subclasses = true);
  // Live objects in the store (a count in the file, not in memory).
  long LiveCount() const;
  // The id the next created object gets.
  int32_t NextObjectId() const { return nextObjectId_; }
  // The fixture import writes its objects to the file itself, past the
  // model (fixture_objects.cpp): objects' rows changed there, and the ids
  // it gave are below nextId. Records in memory that it wrote are read
  // again once it is committed (ReadAgain).
  void ObjectsWritten(int32_t nextId);
  Status ReadAgain(const std::vector<int32_t>& ids);
  const std::unordered_map<int32_t, ObjectRec*>& objects() const { return objects_; }

  // --- values -----------------------------------------------------------
  // Values of obj's attribute; never null (an empty list when unset). Read
  // on nearly every call: a stored list is found inline.
  const ValueList& Values(const ObjectRec* obj, const AttrDef* def) const {
    if (!def->inverse.empty()) return InverseValues(obj, def);
    const ValueList* v = obj->Find(def->id);
    return v ? *v : kNoValues;
  }
  // pos 1-based. Writes v at pos; pads with empty values up to pos.
  HRESULT SetValue(ObjectRec* obj, AttrDef* def, size_t pos, Value v);
  HRESULT ClearSlot(ObjectRec* obj, AttrDef* def, size_t pos);
  HRESULT ClearAll(ObjectRec* obj, AttrDef* def);
  // Whether a slot holds a hold or view texts besides its value.
  static bool HasSlotExtras(const Value& v);
  HRESULT InsertValues(ObjectRec* obj, AttrDef* def, size_t first, size_t count);
  HRESULT RemoveValues(ObjectRec* obj, AttrDef* def, size_t first, size_t count);
  HRESULT Resize(ObjectRec* obj, AttrDef* def, size_t count);
  // Changes slot pos in place through fn (flags, texts, hold); the slot
  // must exist (pads when past the end).
  HRESULT ModifySlot(ObjectRec* obj, AttrDef* def, size_t pos,
                     const std::function<void(Value&)>& fn);
  // Live objects whose attribute attrName refers to obj, in id order.
  std::vector<int32_t> Referrers(const ObjectRec* obj, const u16& attrName) const;
  // E_ACCESSDENIED for attributes the store computes.
  HRESULT CheckWritable(const AttrDef* def) const;
  // A slot that a value may be written to: writable, 1 to the largest
  // position, and 1 for a single value.
  HRESULT CheckSlot(const AttrDef* def, size_t pos) const;
  // Records a read for open trigger items and open read collections: of
  // the whole list, its number of entries (kEntryCount) or the entry at a
  // position.
  void NoteRead(int32_t obj, int32_t attr, uint32_t at) {
    if (openItems.empty() && openReadSets_ == 0) return;
    NoteKey({ListKey(obj, attr), at});
  }
  void NoteEntryRead(int32_t obj, int32_t attr, size_t pos) {
    if (openItems.empty() && openReadSets_ == 0) return;
    NoteKey(EntryRead(obj, attr, pos));
  }
  // The same for a read already keyed (a collected read replayed).
  void NoteKey(const ReadKey& key);
  // Ends the recording of `item`: the reads it made before its last reset
  // and did not make again are no longer its, and their watchers no longer
  // list it (a list sorted and recorded again would otherwise leave every
  // read of every earlier order behind).
  void EndItem(TriggerItem* item);
  // Resets every item of `trigger` (ResetItem of all): the items read
  // nothing, and no watcher lists them, until each records again. Unlike a
  // reset of one item, whose reads made again find their listings, the
  // listings go at once: a list recorded afresh after a sort records its
  // rows under keys that differ from those of its items before.
  void ResetAllItems(TriggerRec* trigger);
  // Read collections (IKXQReadLog): one opens; the last opened closes and
  // gives its distinct reads in key order.
  void BeginReads() {
    // The lists of collections closed before are used again, with their room.
    if (openReadSets_ == readSets_.size()) readSets_.emplace_back().reserve(16);
    readSets_[openReadSets_++].clear();
  }
  // The closed collection's reads (valid until the next BeginReads); null
  // when none is open.
  const std::vector<ReadKey>* EndReads();
  // Whether some slot of the list holds the object id: a scan for a short
  // list, else the list's membership counts (made on the first question).
  bool ListHolds(const ObjectRec* obj, const AttrDef* def, int64_t id);

  // --- units ------------------------------------------------------------
  const UnitRec* FindUnit(const u16& name) const;
  DimensionRec* FindDimension(const u16& name) const;
  DimensionSetRec* FindDimensionSet(const u16& name) const;
  // Converts between two units of one dimension. Empty from or to, or the
  // same unit: no conversion.
  HRESULT ConvertReal(double v, const u16& from, const u16& to, double* out) const;
  HRESULT AddDimension(const u16& name, const u16& baseUnit);
  HRESULT AddUnit(const UnitRec& unit);
  HRESULT AddDimensionSetUnit(const u16& set, const u16& dimension, const u16& unit);

  // --- projects, cases, filters, sorts, methods, users, claims ----------
  HRESULT AddProject(int32_t id, const u16& name, int32_t parent);
  ProjectRec* FindProject(int32_t id) const;
  HRESULT AddCase(int32_t id, const u16& name);
  u16 CaseName(int32_t id) const;
  HRESULT AddFilter(const FilterRec& f);
  FilterRec* FindFilter(const u16& name) const;
  HRESULT AddSort(const SortRec& s);
  SortRec* FindSort(const u16& code) const;
  HRESULT AddMethod(const MethodRec& m);
  MethodRec* FindMethod(const u16& scope, const u16& name) const;
  // Method of a class or its bases.
  MethodRec* FindClassMethod(const ClassRec* cls, const u16& name) const;
  HRESULT AddClaim(int32_t obj, int32_t project);
  HRESULT PutUser(int32_t obj, const u16& user, LONG status);
  std::vector<UserRec> Users(int32_t obj) const;
  // opening: a version opened or closed (OpenVersion, CloseVersion).
  HRESULT RecordWorkflow(int32_t obj, LONG code, const u16& text, bool opening = false);

  // --- triggers ---------------------------------------------------------
  TriggerRec* FindTrigger(int32_t obj, const u16& name) const;
  HRESULT AddTrigger(int32_t obj, const u16& name, TriggerRec** out);
  HRESULT RemoveTrigger(int32_t obj, const u16& name);
  HRESULT SaveTrigger(TriggerRec* t);
  // What saving a trigger whose stored row already holds what it has does
  // to the store: its owner is logged as changed, and nothing is written.
  void ResaveTrigger(const TriggerRec* t);
  // A trigger's fired keys were cleared: its items may fire again.
  void FiredKeysCleared() { ++fireable_; }
  std::vector<TriggerItem*> openItems;  // innermost last

  // --- templates --------------------------------------------------------
  TemplateLibraryRec& library() { return library_; }
  HRESULT AddTemplate(std::unique_ptr<TemplateRec> t, const std::string& xml);
  // The library's templates folder, or its bitmap folder when bitmaps.
  HRESULT SetLibraryFolder(bool bitmaps, const u16& path);

  // --- misc -------------------------------------------------------------
  int32_t activeProject = 1;
  StoreObserver* observer = nullptr;
  Store::RepresentationProvider representations;
  // Privileges denied on an object's relations: object id and privilege to
  // the place the deny is defined. Kept in memory only.
  std::map<std::pair<int32_t, u16>, u16> deniedPrivileges;
  Persistence& persistence() { return *db_; }
  void SetLockTimeout(int milliseconds);
  // Attribute objects kept for reuse (one reference each), and which of
  // them gives way next when all are held elsewhere.
  IKXQAttribute* attributeSpares[4] = {};
  size_t nextAttributeSpare = 0;
  // The field value a route walk made last (one reference): the next walk
  // to the same value of the same view takes it again.
  IUnknown* lastFieldValue = nullptr;
  IUnknown* databaseCom = nullptr;  // the DatabaseImpl (one reference)
  IUnknown* schemaCom = nullptr;
  IUnknown* libraryCom = nullptr;
  std::vector<std::unique_ptr<ClassRec>>& classes() { return classes_; }
  std::vector<std::unique_ptr<DimensionRec>>& dimensions() { return dimensions_; }
  std::vector<std::unique_ptr<DimensionSetRec>>& dimensionSets() { return dimensionSets_; }
  std::vector<std::unique_ptr<FilterRec>>& filters() { return filters_; }
  std::vector<std::unique_ptr<SortRec>>& sorts() { return sorts_; }
  std::vector<std::unique_ptr<MethodRec>>& methods() { return methods_; }

  // Reads what every call needs from the open file: schema, units,
  // projects, templates and the other tables; objects come on demand.
  Status LoadTables();
  // Brings the model up to what the file holds after another process's
  // commits (inside Begin, under the write lock): reloads the changed
  // objects in place and fires the trigger items whose reads they touch.
  Status CatchUpWith(const CatchUp& changes);

 private:
  ~StoreCore();
  // Undo steps of value changes: each keeps what one change takes away (a
  // slot, a range, the old length), never a copy of the whole list.
  void SaveSlot(ObjectRec* obj, AttrDef* def, size_t pos);
  void SaveSize(ObjectRec* obj, AttrDef* def, size_t size);
  // Moves [first, end) of the list into the undo step (the caller erases it).
  void SaveRange(ObjectRec* obj, AttrDef* def, size_t first, size_t end);
  // Removes every reference to target from the list; the 0-based position
  // of the first one removed (the size when none). *change: the entries
  // that moved or went.
  size_t EraseRefs(ObjectRec* obj, AttrDef* def, int32_t target, ListChange* change);
  // Inverse lists are computed from the file (one query each) and kept per
  // object and attribute until a reference may have changed: a change of an
  // object value here, a deletion, a rollback or a catch-up moves refsGen_.
  struct InverseList {
    uint64_t gen = 0;
    ValueList values;
  };
  // False when the file could not be read (ReadFailed was told).
  bool ComputeInverse(const ObjectRec* obj, const AttrDef* def, ValueList* out) const;
  bool ReadReferrers(const ObjectRec* obj, const u16& attrName,
                     std::vector<int32_t>* holders) const;
  const ValueList& InverseValues(const ObjectRec* obj, const AttrDef* def) const;
  static const ValueList kNoValues;
  // An inverse list has no value stamp of its own: the stamp of the last
  // change of references stands for it.
  void ReferencesChanged() {
    ++refsGen_;
    refsChangedAt_ = ++changeStamp_;
  }
  mutable std::unordered_map<uint64_t, InverseList> inverses_;
  // Class extents (ids in the file, by class id and whether subclasses
  // count) read inside a transaction or from a private in-memory file: only
  // this store changes the file then, so an extent stays exact until a row
  // of `objects` may have been written or removed here (extentsGen_),
  // another process's commit was caught up, a rollback, a schema change or
  // a write failure. A shared file is read every time between
  // transactions: another process may have committed since.
  struct KeptExtent {
    uint64_t gen = 0;
    uint64_t other = 0;
    uint64_t schema = 0;
    std::vector<int32_t> ids;
  };
  std::unordered_map<uint64_t, KeptExtent> extents_;
  uint64_t extentsGen_ = 1;
  void ObjectRowsChanged() { ++extentsGen_; }
  uint64_t refsGen_ = 1;
  uint64_t refsChangedAt_ = 0;
  uint32_t undoneTxns_ = 0;
  // Per object list asked by ListHolds: how many slots hold each object id.
  // Kept exact by every value change made here; dropped where lists change
  // wholesale (a rollback replaying the undo log, a record read again from
  // the file, a record reused). A list's counts are found by Key(obj, attr).
  using Membership = std::unordered_map<int64_t, uint32_t>;
  std::unordered_map<uint64_t, Membership> members_;
  Membership* MembersOf(const ObjectRec* obj, const AttrDef* def);  // null when not kept
  static void Count(Membership* members, const Value& v, int delta);
  void ForgetMembers(const ObjectRec* obj);
  // After a change of a value: its stamps, the trigger items that read
  // what it changed, the observer.
  void NotifyValue(ObjectRec* obj, AttrDef* def, const ListChange& change);
  void FireReads(int32_t obj, int32_t attr, const ListChange& change);
  // Adds the items that recorded `read` and may fire to *items, in firing
  // order; whether there were any.
  bool GatherWatchers(const ReadKey& read, std::vector<TriggerItem*>* items);
  void StampChange(int32_t obj, int32_t attr, const ListChange& change);
  HRESULT ApplyHolding(ObjectRec* obj, AttrDef* def, const Value& v);
  HRESULT PersistObject(ObjectRec* obj);
  void ExtentFailed(const ClassRec* cls);
  // Merges what the file holds into the model: tables by key, objects in
  // place (their records and interface pointers stay). fire: changed values
  // fire the trigger items that read them.
  Status MergeTables(StoredTables&& tables);
  Status ApplyObject(StoredObject&& stored, bool fire);
  void ReleaseComObjects();

  std::atomic<long> refs_{1};
  bool closed_ = true;
  bool inTxn_ = false;
  // Set by a failed write or read (which may come from a const reader).
  mutable bool doomed_ = false;
  mutable bool doomedByRead_ = false;
  mutable std::string doomedBy_;  // why the first failed write or read failed
  mutable std::string readFailure_;
  std::unique_ptr<Persistence> db_;
  int lockTimeoutMs_ = 5000;
  bool stale_ = false;
  int32_t loadFailed_ = 0;  // the last id whose reading failed
  HRESULT loadHr_ = 0;      // and how
  std::string loadError_;   // a catch-up failed: the model may lag behind the file
  std::vector<std::function<void()>> undo_;

  std::vector<std::unique_ptr<ClassRec>> classes_;
  std::unordered_map<u16, ClassRec*, NoCaseHash, NoCaseEqual> classByName_;
  std::unordered_map<int32_t, ClassRec*> classById_;  // reachable classes
  std::unordered_map<int32_t, std::unique_ptr<AttrDef>> attrs_;
  bool inverseAttrs_ = false;  // some attribute ever defined is an inverse list
  std::vector<std::unique_ptr<AttrDef>> retiredAttrs_;  // replaced by a reload, still pointed at
  int32_t nextClassId_ = 1, nextAttrId_ = 1;

  // Every record by id; the records themselves are in objectBlocks_.
  std::unordered_map<int32_t, ObjectRec*> objects_;
  // The records of objects_ by id for ids below kIndexedIds, null where none
  // is loaded: found without hashing, at one place in memory. A record is
  // never dropped, so entries are only ever set.
  static constexpr int32_t kIndexedIds = 1 << 20;
  std::vector<ObjectRec*> objectsById_;
  // The records, side by side in blocks in the order they were made: objects
  // read or made one after another (a listing walks them by id) share cache
  // lines and pages instead of lying among their own values. A record never
  // moves (interfaces and undo steps point at it) and lives as long as this.
  static constexpr size_t kObjectBlock = 256;
  std::vector<std::unique_ptr<ObjectRec[]>> objectBlocks_;
  size_t usedInBlock_ = kObjectBlock;
  // A new record of that id, kept and indexed.
  ObjectRec* NewObject(int32_t id);
  int32_t nextObjectId_ = 1;
  int32_t persistedNextId_ = 1;          // as the file has it
  std::unordered_set<int32_t> retired_;  // ids of deleted objects met so far

  std::map<u16, std::unique_ptr<UnitRec>, NoCaseLess> units_;
  std::vector<std::unique_ptr<DimensionRec>> dimensions_;
  std::vector<std::unique_ptr<DimensionSetRec>> dimensionSets_;
  std::map<int32_t, std::unique_ptr<ProjectRec>> projects_;
  std::map<int32_t, u16> cases_;
  std::vector<std::unique_ptr<FilterRec>> filters_;
  std::vector<std::unique_ptr<SortRec>> sorts_;
  std::vector<std::unique_ptr<MethodRec>> methods_;
  std::unordered_map<int32_t, std::vector<UserRec>> users_;
  std::vector<std::unique_ptr<TriggerRec>> triggers_;
  // The triggers made for each object, found without going through all of
  // them. A trigger's owner is the one it was made for, or 0 once removed.
  std::unordered_map<int32_t, std::vector<TriggerRec*>> triggersOf_;
  // A read -> the trigger items that recorded it. The watchers are never
  // dropped, nor moved: items' listings hold their number. They lie side by
  // side in blocks, made a block at a time, and are found by that number
  // (from 1, in the order they were made): with the read's key it fills a
  // slot of 16 bytes where a pointer would take 24, and a page records tens
  // of thousands of reads.
  OpenTable<ReadKey, uint32_t, ReadKeyHash> watchers_;
  static constexpr size_t kWatchersBlock = 256;
  std::vector<std::unique_ptr<TriggerWatchers[]>> watcherBlocks_;
  size_t watchersInBlock_ = kWatchersBlock;
  TriggerWatchers& WatchersNumbered(uint32_t number) {
    return watcherBlocks_[(number - 1) / kWatchersBlock][(number - 1) % kWatchersBlock];
  }
  // The number of the watchers of `read`, made when it has none.
  uint32_t WatchersOf(const ReadKey& read);
  // The lists (ListKey) some entry of which has watchers: a change of the
  // entries of any other list looks none up.
  std::unordered_set<uint64_t> entriesWatched_;
  // Moves whenever an item that could not fire may fire again: its fired
  // keys cleared, a rollback, a new transaction (another process's changes,
  // an object read again).
  uint64_t fireable_ = 1;
  // Read collections, innermost open one at openReadSets_ - 1; those past
  // it are closed and kept for their room.
  std::vector<std::vector<ReadKey>> readSets_;
  size_t openReadSets_ = 0;
  uint32_t dataChanges_ = 0;
  // Each change moves dataChanges_ through one of these: a change of a
  // value (stamped once made, StampChange), or any other change.
  void ValueChanged() { ++dataChanges_; }
  void OtherChanged();
  uint64_t changeStamp_ = 0;     // counts every change, never wraps
  uint64_t otherChangedAt_ = 0;  // the last change that was not one of a value
  // The last changes of one list (ListKey) since otherChangedAt_ (older
  // entries may stay: the larger stamp counts): of anything in it, of its
  // number of entries, of a few entries (their stamps in entryStamps_; the
  // latest in `entry`), and of many entries at once, all from a position on
  // as far as the stamps tell (a sort, a row inserted).
  struct ListStamps {
    uint64_t any = 0;
    uint64_t count = 0;
    uint64_t entry = 0;
    uint64_t entries = 0;
    uint32_t entriesFrom = 0;
  };
  struct ListKeyHash {
    uint64_t operator()(uint64_t key) const { return key; }
  };
  OpenTable<uint64_t, ListStamps, ListKeyHash> listStamps_;
  // An entry's stamp in two halves: beside the read's key it takes 20 bytes,
  // not 24 (a sort stamps every entry of the list it rewrites).
  struct SplitStamp {
    uint32_t low = 0;
    uint32_t high = 0;
    SplitStamp& operator=(uint64_t stamp) {
      low = static_cast<uint32_t>(stamp);
      high = static_cast<uint32_t>(stamp >> 32);
      return *this;
    }
    uint64_t get() const { return uint64_t{high} << 32 | low; }
  };
  OpenTable<ReadKey, SplitStamp, ReadKeyHash> entryStamps_;
  TemplateLibraryRec library_;
};

// Intrusive holder of one StoreCore reference.
class CoreRef {
 public:
  explicit CoreRef(StoreCore* c) : c_(c) { c_->AddRef(); }
  CoreRef(const CoreRef& o) : c_(o.c_) { c_->AddRef(); }
  CoreRef& operator=(const CoreRef&) = delete;
  ~CoreRef() { c_->Release(); }
  StoreCore* operator->() const { return c_; }
  StoreCore& operator*() const { return *c_; }
  StoreCore* get() const { return c_; }

 private:
  StoreCore* c_;
};

}  // namespace kx::store
