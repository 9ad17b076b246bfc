// StoreCore: attribute values. Reading them (inverse lists computed from
// the file), changing them with the undo step of each change, and the
// reads recorded for trigger items and fired when a recorded value changes.
#include <algorithm>
#include <iterator>

#include "store/internal/core.h"

namespace kx::store {

namespace {
uint64_t Key(int32_t a, int32_t b) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
}
// Lists shorter than this are scanned: counts would cost more than they save.
constexpr size_t kCountedList = 64;
}  // namespace

bool StoreCore::ListHolds(const ObjectRec* obj, const AttrDef* def, int64_t id) {
  const ValueList& values = Values(obj, def);
  if (!def->inverse.empty() || values.size() < kCountedList)
    return std::any_of(values.begin(), values.end(),
                       [id](const Value& v) { return v.kind == KXQ_TYPE_OBJECT && v.i == id; });
  auto [it, made] = members_.try_emplace(Key(obj->id, def->id));
  if (made)
    for (const Value& v : values) Count(&it->second, v, 1);
  return it->second.count(id) != 0;
}

StoreCore::Membership* StoreCore::MembersOf(const ObjectRec* obj, const AttrDef* def) {
  if (members_.empty()) return nullptr;
  auto it = members_.find(Key(obj->id, def->id));
  return it == members_.end() ? nullptr : &it->second;
}

void StoreCore::Count(Membership* members, const Value& v, int delta) {
  if (!members || v.kind != KXQ_TYPE_OBJECT) return;
  if (delta > 0) {
    ++(*members)[v.i];
    return;
  }
  auto it = members->find(v.i);
  if (it != members->end() && --it->second == 0) members->erase(it);
}

void StoreCore::ForgetMembers(const ObjectRec* obj) {
  if (members_.empty()) return;
  for (const AttrValues& av : obj->attrs) members_.erase(Key(obj->id, av.attr));
}

const ValueList StoreCore::kNoValues{};

const ValueList& StoreCore::InverseValues(const ObjectRec* obj, const AttrDef* def) const {
  // Read whole once, then element by element from the list kept.
  // A list that could not be read is kept for no one: the next read tries
  // again.
  InverseList& kept = inverses_[Key(obj->id, def->id)];
  if (kept.gen != refsGen_ && ComputeInverse(obj, def, &kept.values)) kept.gen = refsGen_;
  return kept.values;
}

std::vector<int32_t> StoreCore::Referrers(const ObjectRec* obj, const u16& attrName) const {
  std::vector<int32_t> holders;
  (void)ReadReferrers(obj, attrName, &holders);
  return holders;
}

bool StoreCore::ReadReferrers(const ObjectRec* obj, const u16& attrName,
                              std::vector<int32_t>* holders) const {
  holders->clear();
  std::vector<std::pair<int32_t, int32_t>> sites;
  if (closed_) return false;
  if (!db_->Referrers(obj->id, &sites)) {
    ReadFailed("Cannot read what refers to object " + std::to_string(obj->id) + ": " +
               db_->LastError());
    return false;
  }
  for (const auto& [holder, attr] : sites) {
    const AttrDef* d = AttrById(attr);
    if (d && EqualsNoCase(d->name, attrName) && (holders->empty() || holders->back() != holder))
      holders->push_back(holder);
  }
  return true;
}

bool StoreCore::ComputeInverse(const ObjectRec* obj, const AttrDef* def, ValueList* out) const {
  out->clear();
  std::vector<int32_t> holders;
  if (!ReadReferrers(obj, def->inverse, &holders)) return false;
  const size_t count = !def->list && holders.size() > 1 ? 1 : holders.size();
  for (size_t k = 0; k < count; ++k) {
    const int32_t h = holders[k];
    Value v;
    v.kind = KXQ_TYPE_OBJECT;
    v.i = h;
    out->push_back(std::move(v));
  }
  return true;
}

HRESULT StoreCore::CheckWritable(const AttrDef* def) const {
  if (def->inverse.empty()) return S_OK;
  return SetError(E_ACCESSDENIED, u"Attribute \"" + def->name + u"\" is kept by the store from \"" +
                                      def->inverse + u"\" and cannot be written");
}

HRESULT StoreCore::CheckSlot(const AttrDef* def, size_t pos) const {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (pos < 1)
    return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  if (pos > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Position beyond the largest list position for attribute \"" +
                                         def->name + u"\"");
  if (!def->list && pos > 1)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  return S_OK;
}

void StampTable::clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{0, 0});
  size_ = 0;
}

size_t StampTable::Home(uint64_t key) const {
  // Keys differ mostly in their object's half: multiplying spreads them
  // over the high bits, which pick the slot.
  return static_cast<size_t>((key * 0x9e3779b97f4a7c15ull) >> 32) & (slots_.size() - 1);
}

uint64_t StampTable::Find(uint64_t key) const {
  if (size_ == 0) return 0;
  for (size_t at = Home(key);; at = (at + 1) & (slots_.size() - 1)) {
    const Slot& slot = slots_[at];
    if (slot.stamp == 0) return 0;
    if (slot.key == key) return slot.stamp;
  }
}

void StampTable::Set(uint64_t key, uint64_t stamp) {
  if (2 * (size_ + 1) > slots_.size()) Grow();
  for (size_t at = Home(key);; at = (at + 1) & (slots_.size() - 1)) {
    Slot& slot = slots_[at];
    if (slot.stamp == 0) {
      slot = {key, stamp};
      ++size_;
      return;
    }
    if (slot.key == key) {
      slot.stamp = stamp;
      return;
    }
  }
}

void StampTable::Grow() {
  std::vector<Slot> old(std::max<size_t>(64, 2 * slots_.size()), Slot{0, 0});
  old.swap(slots_);
  size_ = 0;
  for (const Slot& slot : old) {
    if (slot.stamp != 0) Set(slot.key, slot.stamp);
  }
}

void StoreCore::ValueChanged(int32_t obj, int32_t attr) {
  ++dataChanges_;
  ++changeStamp_;
  // Bounded: past this many values, forgetting them all is one other change.
  constexpr size_t kMostStamps = 1 << 16;
  if (valueChangedAt_.size() >= kMostStamps) {
    valueChangedAt_.clear();
    otherChangedAt_ = changeStamp_;
    return;
  }
  valueChangedAt_.Set(Key(obj, attr), changeStamp_);
}

void StoreCore::OtherChanged() {
  ++dataChanges_;
  otherChangedAt_ = ++changeStamp_;
}

uint64_t StoreCore::ValueStamp(int32_t obj, int32_t attr) const {
  uint64_t stamp = std::max(valueChangedAt_.Find(Key(obj, attr)), otherChangedAt_);
  // An inverse list changes with the references held by other objects.
  if (inverseAttrs_ && refsChangedAt_ > stamp) {
    const AttrDef* def = AttrById(attr);
    if (def != nullptr && !def->inverse.empty()) stamp = refsChangedAt_;
  }
  return stamp;
}

void StoreCore::SaveSlot(ObjectRec* obj, AttrDef* def, size_t pos) {
  ValueChanged(obj->id, def->id);
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, pos, saved = obj->Get(def->id)[pos - 1]]() mutable {
    obj->Get(attr)[pos - 1] = std::move(saved);
  });
}

void StoreCore::SaveSize(ObjectRec* obj, AttrDef* def, size_t size) {
  ValueChanged(obj->id, def->id);
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, size] { obj->Get(attr).resize(size); });
}

void StoreCore::SaveRange(ObjectRec* obj, AttrDef* def, size_t first, size_t end) {
  ValueChanged(obj->id, def->id);
  if (!inTxn_) return;
  ValueList& list = obj->Get(def->id);
  std::vector<Value> saved(std::make_move_iterator(list.begin() + static_cast<long>(first)),
                           std::make_move_iterator(list.begin() + static_cast<long>(end)));
  undo_.push_back([obj, attr = def->id, first, saved = std::move(saved)]() mutable {
    ValueList& l = obj->Get(attr);
    l.insert(l.begin() + static_cast<long>(first), std::make_move_iterator(saved.begin()),
             std::make_move_iterator(saved.end()));
  });
}

size_t StoreCore::EraseRefs(ObjectRec* obj, AttrDef* def, int32_t target) {
  ValueList& list = obj->Get(def->id);
  const auto refers = [&](const Value& v) { return v.kind == KXQ_TYPE_OBJECT && v.i == target; };
  std::vector<std::pair<size_t, Value>> removed;  // by ascending position
  // Closed up in place from the first reference on: a list emptied from its
  // end moves nothing, instead of being copied whole for every entry.
  const size_t first =
      static_cast<size_t>(std::find_if(list.begin(), list.end(), refers) - list.begin());
  size_t to = first;
  for (size_t k = first; k < list.size(); ++k) {
    if (refers(list[k])) {
      removed.emplace_back(k, std::move(list[k]));
    } else {
      if (to != k) list[to] = std::move(list[k]);
      ++to;
    }
  }
  list.erase(list.begin() + to, list.end());
  if (Membership* m = MembersOf(obj, def)) m->erase(target);
  if (!removed.empty()) ValueChanged(obj->id, def->id);
  if (inTxn_ && !removed.empty())
    undo_.push_back([obj, attr = def->id, removed = std::move(removed)]() mutable {
      ValueList& l = obj->Get(attr);
      for (auto& [k, v] : removed) l.insert(l.begin() + static_cast<long>(k), std::move(v));
    });
  return first;
}

void StoreCore::NotifyValue(ObjectRec* obj, AttrDef* def) {
  ValueChanged(obj->id, def->id);
  if (def->type == KXQ_TYPE_OBJECT) {
    ReferencesChanged();
    // A cache of what the object's lists hold (the route cache) learns of
    // it whoever made the change.
    ++obj->externalChanges;
  }
  FireReads(obj->id, def->id);
  if (observer) observer->ValueChanged(obj->id, def->name);
}

HRESULT StoreCore::ApplyHolding(ObjectRec* obj, AttrDef* def, const Value& v) {
  if (v.kind != KXQ_TYPE_OBJECT || !def->collection) return S_OK;
  ObjectRec* member = LiveObject(static_cast<int32_t>(v.i));
  if (!member) return S_OK;
  if (HRESULT hr = SetHolder(member, obj->id, def->name); FAILED(hr)) return hr;
  // A member that owns the collection's object (directly or further up)
  // stays without an owner.
  if (member->owner == 0 && !WouldOwnItself(member, obj->id)) return SetOwner(member, obj->id);
  return S_OK;
}

HRESULT StoreCore::SetValue(ObjectRec* obj, AttrDef* def, size_t pos, Value v) {
  if (HRESULT hr = CheckSlot(def, pos); FAILED(hr)) return hr;
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  if (pos <= old && SameContent(list[pos - 1], v)) return S_OK;
  if (pos > old) {
    SaveSize(obj, def, old);
    list.resize(pos);
  } else {
    SaveSlot(obj, def, pos);
  }
  Membership* members = MembersOf(obj, def);
  Value& slot = list[pos - 1];
  Count(members, slot, -1);
  Count(members, v, 1);
  slot.TakeContent(std::move(v));
  bool ok = pos > old ? db_->WriteTail(obj->id, def->id, list, old + 1, true)
                      : db_->WriteSlot(obj->id, def->id, pos, slot);
  if (!ok) return StorageFailure();
  if (HRESULT hr = ApplyHolding(obj, def, slot); FAILED(hr)) return hr;
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::ClearSlot(ObjectRec* obj, AttrDef* def, size_t pos) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (pos < 1)
    return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  const ValueList& cur = Values(obj, def);
  if (pos > cur.size() || cur[pos - 1].empty()) return S_OK;
  // A single value goes with its slot, unless the slot carries a lock,
  // status or texts: those belong to the slot and outlive its value.
  if (!def->list && cur[0].flags == 0 && !HasSlotExtras(cur[0])) return ClearAll(obj, def);
  auto& list = obj->Get(def->id);
  SaveSlot(obj, def, pos);
  Count(MembersOf(obj, def), list[pos - 1], -1);
  list[pos - 1].ClearContent();
  if (!db_->WriteSlot(obj->id, def->id, pos, list[pos - 1])) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

bool StoreCore::HasSlotExtras(const Value& v) {
  const ValueExtra* x = v.exOrNull();
  return x && (x->hold || !x->prefix.empty() || !x->postfix.empty() || !x->subst.empty());
}

HRESULT StoreCore::ClearAll(ObjectRec* obj, AttrDef* def) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (Values(obj, def).empty()) return S_OK;
  auto& list = obj->Get(def->id);
  SaveRange(obj, def, 0, list.size());
  list.clear();
  if (Membership* m = MembersOf(obj, def)) m->clear();
  if (!db_->WriteTail(obj->id, def->id, list, 1)) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::InsertValues(ObjectRec* obj, AttrDef* def, size_t first, size_t count) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (first < 1)
    return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  if (!def->list)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  if (count == 0) return S_OK;
  if (std::max(first - 1, Values(obj, def).size()) + count > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name +
                                         u"\" would grow beyond the largest list position");
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  ValueChanged(obj->id, def->id);
  if (inTxn_)
    undo_.push_back([obj, attr = def->id, first, count, old] {
      ValueList& l = obj->Get(attr);
      l.erase(l.begin() + static_cast<long>(first - 1),
              l.begin() + static_cast<long>(first - 1 + count));
      if (l.size() > old) l.resize(old);  // the padding before first
    });
  if (first > old + 1) list.resize(first - 1);
  list.insert(list.begin() + static_cast<long>(first - 1), count, Value());
  if (!db_->WriteTail(obj->id, def->id, list, std::min(first, old + 1))) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::RemoveValues(ObjectRec* obj, AttrDef* def, size_t first, size_t count) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (first < 1)
    return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  const ValueList& cur = Values(obj, def);
  if (first > cur.size() || count == 0) return S_OK;
  auto& list = obj->Get(def->id);
  size_t end = std::min(list.size(), first - 1 + count);
  if (Membership* m = MembersOf(obj, def))
    for (size_t k = first - 1; k < end; ++k) Count(m, list[k], -1);
  SaveRange(obj, def, first - 1, end);
  list.erase(list.begin() + static_cast<long>(first - 1), list.begin() + static_cast<long>(end));
  if (!db_->WriteTail(obj->id, def->id, list, first)) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::Resize(ObjectRec* obj, AttrDef* def, size_t count) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (!def->list && count > 1)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  if (count > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name +
                                         u"\" would grow beyond the largest list position");
  const size_t old = Values(obj, def).size();
  if (old == count) return S_OK;
  auto& list = obj->Get(def->id);
  if (Membership* m = MembersOf(obj, def))
    for (size_t k = count; k < old; ++k) Count(m, list[k], -1);
  if (count < old)
    SaveRange(obj, def, count, old);
  else
    SaveSize(obj, def, old);
  list.resize(count);
  if (!db_->WriteTail(obj->id, def->id, list, std::min(old, count) + 1)) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::ModifySlot(ObjectRec* obj, AttrDef* def, size_t pos,
                              const std::function<void(Value&)>& fn) {
  if (HRESULT hr = CheckSlot(def, pos); FAILED(hr)) return hr;
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  if (pos > old) {
    SaveSize(obj, def, old);
    list.resize(pos);
  } else {
    SaveSlot(obj, def, pos);
  }
  Membership* members = MembersOf(obj, def);
  Count(members, list[pos - 1], -1);
  fn(list[pos - 1]);
  Count(members, list[pos - 1], 1);
  bool ok = pos > old ? db_->WriteTail(obj->id, def->id, list, old + 1, true)
                      : db_->WriteSlot(obj->id, def->id, pos, list[pos - 1]);
  if (!ok) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

void StoreCore::NoteOpenRead(int32_t obj, int32_t attr) { NoteKey(Key(obj, attr)); }

void StoreCore::NoteKey(uint64_t k) {
  // The same value read again at once (its presence, then the value) is
  // collected once; EndReads drops the other repeats.
  for (size_t open = 0; open < openReadSets_; ++open) {
    std::vector<uint64_t>& reads = readSets_[open];
    if (reads.empty() || reads.back() != k) reads.push_back(k);
  }
  for (TriggerItem* item : openItems) {
    if (TriggerItem::Listing* listing = item->Find(k)) {
      if (listing->reading) continue;
      listing->reading = true;
      listing->watchers->quietSince = 0;
      continue;
    }
    TriggerWatchers& w = watchers_[k];
    w.order.push_back(item);
    w.quietSince = 0;
    item->Add(k, &w);
  }
}

const std::vector<uint64_t>* StoreCore::EndReads() {
  if (openReadSets_ == 0) return nullptr;
  std::vector<uint64_t>* reads = &readSets_[--openReadSets_];
  std::sort(reads->begin(), reads->end());
  reads->erase(std::unique(reads->begin(), reads->end()), reads->end());
  return reads;
}

namespace {
// An item with what places it in the order in which the items one change
// fires are told: by owner, trigger name, then key, so that it is the same
// in every run, whatever the order the triggers were loaded or made in. Side
// by side, a long list of items sorts without reaching into each item's
// trigger and key at every comparison.
struct Placed {
  int32_t madeFor;
  const TriggerRec* trigger;
  std::u16string_view key;
  TriggerItem* item;
};

Placed PlaceOf(TriggerItem* item) {
  return {item->trigger->madeFor, item->trigger, *item->key, item};
}

bool FiresBefore(const Placed& x, const Placed& y) {
  if (x.madeFor != y.madeFor) return x.madeFor < y.madeFor;
  if (x.trigger != y.trigger) {
    if (x.trigger->name != y.trigger->name) return x.trigger->name < y.trigger->name;
    return std::less<const TriggerRec*>()(x.trigger, y.trigger);
  }
  return x.key < y.key;
}

// Sorts the items of `order` past `sorted` and merges them into those before.
void SortRecorded(std::vector<TriggerItem*>& order, size_t sorted) {
  std::vector<Placed> placed;
  placed.reserve(order.size());
  for (TriggerItem* item : order) placed.push_back(PlaceOf(item));
  const auto recorded = placed.begin() + static_cast<long>(sorted);
  std::sort(recorded, placed.end(), FiresBefore);
  std::inplace_merge(placed.begin(), recorded, placed.end(), FiresBefore);
  for (size_t n = 0; n < placed.size(); ++n) order[n] = placed[n].item;
}
}  // namespace

void StoreCore::FireReads(int32_t obj, int32_t attr) {
  auto it = watchers_.find(Key(obj, attr));
  if (it == watchers_.end()) return;
  const uint64_t k = it->first;
  // Entries of watchers_ are never erased: w stays while the observer
  // records new watchers.
  TriggerWatchers& w = it->second;
  if (w.quietSince == fireable_) return;
  if (w.sorted < w.order.size()) {
    SortRecorded(w.order, w.sorted);
    w.sorted = w.order.size();
  }
  // Quiet after this unless an item is recorded meanwhile or fireable_ moves.
  w.quietSince = fireable_;
  // A copy: the observer may read values and so record new watchers.
  const std::vector<TriggerItem*> items(w.order);
  bool stale = false;
  for (TriggerItem* item : items) {
    if (!item->Reads(k)) {
      stale = true;
      continue;
    }
    TriggerRec* t = item->trigger;
    const u16& key = *item->key;
    if (!LiveObject(t->owner)) continue;
    if (!t->firedKeys.insert(key).second) continue;
    t->fired.push_back(key);
    TriggerRec* fired = t;
    OnUndo(
        [fired] {
          if (fired->fired.empty()) return;
          fired->firedKeys.erase(fired->fired.back());
          fired->fired.pop_back();
        },
        false);
    if (observer) observer->TriggerFired(t->owner, t->name, key);
  }
  if (!stale) return;
  // Items reset since they recorded the read, and not recorded again, go.
  size_t kept = 0;
  size_t keptSorted = 0;
  for (size_t n = 0; n < w.order.size(); ++n) {
    TriggerItem* item = w.order[n];
    if (!item->Reads(k)) {
      item->Unlist(k);
      continue;
    }
    if (n < w.sorted) ++keptSorted;
    w.order[kept++] = item;
  }
  w.order.resize(kept);
  w.sorted = keptSorted;
}

}  // namespace kx::store
