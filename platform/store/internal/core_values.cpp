// StoreCore: attribute values. Reading them (inverse lists computed from
// the file), changing them with the undo step of each change, and the
// reads recorded for trigger items and fired when a recorded value changes.
#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "store/internal/core.h"

namespace kx::store {

namespace {
// Lists shorter than this are scanned: counts would cost more than they save.
constexpr size_t kCountedList = 64;
// An empty slot: what a position past the end reads as.
const Value kEmptySlot{};
// Notes entry k (0-based) when it reads otherwise after the change.
void NoteDiffering(ListChange* change, size_t k, const Value& before, const Value& after) {
  if (!SameSlot(before, after)) change->entries.push_back(static_cast<uint32_t>(k + 1));
}
}  // namespace

bool StoreCore::ListHolds(const ObjectRec* obj, const AttrDef* def, int64_t id) {
  const ValueList& values = Values(obj, def);
  if (!def->inverse.empty() || values.size() < kCountedList)
    return std::any_of(values.begin(), values.end(),
                       [id](const Value& v) { return v.kind == KXQ_TYPE_OBJECT && v.i == id; });
  auto [it, made] = members_.try_emplace(ListKey(obj->id, def->id));
  if (made)
    for (const Value& v : values) Count(&it->second, v, 1);
  return it->second.count(id) != 0;
}

StoreCore::Membership* StoreCore::MembersOf(const ObjectRec* obj, const AttrDef* def) {
  if (members_.empty()) return nullptr;
  auto it = members_.find(ListKey(obj->id, def->id));
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
  for (const AttrValues& av : obj->attrs) members_.erase(ListKey(obj->id, av.attr));
}

const ValueList StoreCore::kNoValues{};

const ValueList& StoreCore::InverseValues(const ObjectRec* obj, const AttrDef* def) const {
  // Read whole once, then element by element from the list kept.
  // A list that could not be read is kept for no one: the next read tries
  // again.
  InverseList& kept = inverses_[ListKey(obj->id, def->id)];
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

void StoreCore::OtherChanged() {
  ++dataChanges_;
  otherChangedAt_ = ++changeStamp_;
}

void StoreCore::StampChange(int32_t obj, int32_t attr, const ListChange& change) {
  const uint64_t stamp = ++changeStamp_;
  // A few entries are stamped each; more, from the first on at once.
  constexpr size_t kStampedEntries = 16;
  const bool few = change.entries.size() <= kStampedEntries;
  // Bounded: past this many, forgetting them all is one other change.
  constexpr size_t kMostStamps = 1 << 16;
  if (listStamps_.size() + entryStamps_.size() + (few ? change.entries.size() : 0) >= kMostStamps) {
    listStamps_.clear();
    entryStamps_.clear();
    otherChangedAt_ = stamp;
    return;
  }
  const uint64_t list = ListKey(obj, attr);
  ListStamps& stamps = listStamps_.Get(list);
  stamps.any = stamp;
  if (change.count) stamps.count = stamp;
  if (change.entries.empty()) return;
  if (few) {
    for (uint32_t at : change.entries) entryStamps_.Get({list, at}) = stamp;
    stamps.entry = stamp;
    return;
  }
  // Entries between an earlier first and this one count as changed now too:
  // a stamp may move more often than its value, never less.
  const uint32_t first = change.entries.front();
  stamps.entriesFrom = stamps.entries == 0 ? first : std::min(stamps.entriesFrom, first);
  stamps.entries = stamp;
}

uint64_t StoreCore::ReadStamp(const ReadKey& read) const {
  uint64_t stamp = otherChangedAt_;
  if (const ListStamps* stamps = listStamps_.Find(read.list)) {
    if (read.at == kWholeList) {
      stamp = std::max(stamp, stamps->any);
    } else if (read.at == kEntryCount) {
      stamp = std::max(stamp, stamps->count);
    } else {
      if (stamps->entries != 0 && read.at >= stamps->entriesFrom)
        stamp = std::max(stamp, stamps->entries);
      if (stamps->entry > stamp)
        if (const SplitStamp* entry = entryStamps_.Find(read))
          stamp = std::max(stamp, entry->get());
    }
  }
  // An inverse list changes with the references held by other objects.
  if (inverseAttrs_ && refsChangedAt_ > stamp) {
    const AttrDef* def = AttrById(static_cast<int32_t>(read.list & 0xffffffffu));
    if (def != nullptr && !def->inverse.empty()) stamp = refsChangedAt_;
  }
  return stamp;
}

void StoreCore::SaveSlot(ObjectRec* obj, AttrDef* def, size_t pos) {
  ValueChanged();
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, pos, saved = obj->Get(def->id)[pos - 1]]() mutable {
    obj->Get(attr)[pos - 1] = std::move(saved);
  });
}

void StoreCore::SaveSize(ObjectRec* obj, AttrDef* def, size_t size) {
  ValueChanged();
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, size] { obj->Get(attr).resize(size); });
}

void StoreCore::SaveRange(ObjectRec* obj, AttrDef* def, size_t first, size_t end) {
  ValueChanged();
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

size_t StoreCore::EraseRefs(ObjectRec* obj, AttrDef* def, int32_t target, ListChange* change) {
  ValueList& list = obj->Get(def->id);
  const auto refers = [&](const Value& v) { return v.kind == KXQ_TYPE_OBJECT && v.i == target; };
  std::vector<std::pair<size_t, Value>> removed;  // by ascending position
  // Closed up in place from the first reference on: a list emptied from its
  // end moves nothing, instead of being copied whole for every entry.
  const size_t first =
      static_cast<size_t>(std::find_if(list.begin(), list.end(), refers) - list.begin());
  // What each entry from there on will read, before anything moves.
  size_t to = first;
  for (size_t k = first; k < list.size(); ++k) {
    if (refers(list[k])) continue;
    NoteDiffering(change, to, list[to], list[k]);
    ++to;
  }
  for (size_t k = to; k < list.size(); ++k) NoteDiffering(change, k, list[k], kEmptySlot);
  change->count = to != list.size();
  to = first;
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
  if (!removed.empty()) ValueChanged();
  if (inTxn_ && !removed.empty())
    undo_.push_back([obj, attr = def->id, removed = std::move(removed)]() mutable {
      ValueList& l = obj->Get(attr);
      for (auto& [k, v] : removed) l.insert(l.begin() + static_cast<long>(k), std::move(v));
    });
  return first;
}

void StoreCore::NotifyValue(ObjectRec* obj, AttrDef* def, const ListChange& change) {
  ValueChanged();
  StampChange(obj->id, def->id, change);
  if (def->type == KXQ_TYPE_OBJECT) {
    ReferencesChanged();
    // A cache of what the object's lists hold (the route cache) learns of
    // it whoever made the change.
    ++obj->externalChanges;
  }
  FireReads(obj->id, def->id, change);
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
  // Padding before pos reads as the end did: empty.
  NotifyValue(obj, def, ListChange::Entry(pos, pos > old));
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
  NotifyValue(obj, def, ListChange::Entry(pos, false));
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
  ListChange change;
  change.count = true;
  for (size_t k = 0; k < list.size(); ++k) NoteDiffering(&change, k, list[k], kEmptySlot);
  SaveRange(obj, def, 0, list.size());
  list.clear();
  if (Membership* m = MembersOf(obj, def)) m->clear();
  if (!db_->WriteTail(obj->id, def->id, list, 1)) return StorageFailure();
  NotifyValue(obj, def, change);
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
  ValueChanged();
  if (inTxn_)
    undo_.push_back([obj, attr = def->id, first, count, old] {
      ValueList& l = obj->Get(attr);
      l.erase(l.begin() + static_cast<long>(first - 1),
              l.begin() + static_cast<long>(first - 1 + count));
      if (l.size() > old) l.resize(old);  // the padding before first
    });
  if (first > old + 1) list.resize(first - 1);
  list.insert(list.begin() + static_cast<long>(first - 1), count, Value());
  // From first on, each entry reads what the one `count` further on does
  // now, or, past the old end, an empty slot (as does the padding before).
  ListChange change;
  change.count = true;
  for (size_t k = first - 1; k < list.size(); ++k)
    NoteDiffering(&change, k, k < old ? list[k + count] : kEmptySlot, list[k]);
  if (!db_->WriteTail(obj->id, def->id, list, std::min(first, old + 1))) return StorageFailure();
  NotifyValue(obj, def, change);
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
  // Each entry from first on will read the one `end - first + 1` further on.
  ListChange change;
  change.count = true;
  const size_t gone = end - (first - 1);
  for (size_t k = first - 1; k < list.size(); ++k)
    NoteDiffering(&change, k, list[k], k + gone < list.size() ? list[k + gone] : kEmptySlot);
  SaveRange(obj, def, first - 1, end);
  list.erase(list.begin() + static_cast<long>(first - 1), list.begin() + static_cast<long>(end));
  if (!db_->WriteTail(obj->id, def->id, list, first)) return StorageFailure();
  NotifyValue(obj, def, change);
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
  // Padding reads as the end did; the entries cut off read empty now.
  ListChange change;
  change.count = true;
  for (size_t k = count; k < old; ++k) NoteDiffering(&change, k, list[k], kEmptySlot);
  if (count < old)
    SaveRange(obj, def, count, old);
  else
    SaveSize(obj, def, old);
  list.resize(count);
  if (!db_->WriteTail(obj->id, def->id, list, std::min(old, count) + 1)) return StorageFailure();
  NotifyValue(obj, def, change);
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
  NotifyValue(obj, def, ListChange::Entry(pos, pos > old));
  return S_OK;
}

void StoreCore::NoteKey(const ReadKey& k) {
  // The same value read again at once (its presence, then the value) is
  // collected once; EndReads drops the other repeats.
  for (size_t open = 0; open < openReadSets_; ++open) {
    std::vector<ReadKey>& reads = readSets_[open];
    if (reads.empty() || reads.back() != k) reads.push_back(k);
  }
  for (TriggerItem* item : openItems) {
    if (TriggerItem::Listing* listing = item->Find(k)) {
      if (listing->reading) continue;
      listing->reading = true;
      WatchersNumbered(listing->watchers).quietSince = 0;
      continue;
    }
    const uint32_t number = WatchersOf(k);
    TriggerWatchers& w = WatchersNumbered(number);
    w.order.push_back(item);
    w.quietSince = 0;
    item->Add(k, number);
  }
}

void StoreCore::EndItem(TriggerItem* item) {
  std::vector<TriggerItem::Listing>& listings = item->listings;
  size_t kept = 0;
  for (size_t n = 0; n < listings.size(); ++n) {
    const TriggerItem::Listing listing = listings[n];
    if (listing.reading) {
      listings[kept++] = listing;
      continue;
    }
    TriggerWatchers& w = WatchersNumbered(listing.watchers);
    for (size_t i = 0; i < w.order.size(); ++i) {
      if (w.order[i] != item) continue;
      for (size_t j = i; j + 1 < w.order.size(); ++j) w.order[j] = w.order[j + 1];
      w.order.shrink(w.order.size() - 1);
      if (i < w.sorted) --w.sorted;
      break;
    }
  }
  if (kept == listings.size()) return;
  listings.erase(listings.begin() + static_cast<std::ptrdiff_t>(kept), listings.end());
  item->Reindex();
}

void StoreCore::ResetAllItems(TriggerRec* trigger) {
  std::unordered_set<TriggerWatchers*> touched;
  for (auto& [key, item] : trigger->items) {
    for (const TriggerItem::Listing& listing : item.listings)
      touched.insert(&WatchersNumbered(listing.watchers));
    std::vector<TriggerItem::Listing>().swap(item.listings);
    item.listingAt.reset();
  }
  // One pass over each watcher, however many of the trigger's items it lists.
  for (TriggerWatchers* w : touched) {
    size_t kept = 0;
    size_t keptSorted = 0;
    for (size_t n = 0; n < w->order.size(); ++n) {
      TriggerItem* item = w->order[n];
      if (item->trigger == trigger) continue;
      if (n < w->sorted) ++keptSorted;
      w->order[kept++] = item;
    }
    w->order.shrink(kept);
    w->sorted = static_cast<uint32_t>(keptSorted);
  }
}

uint32_t StoreCore::WatchersOf(const ReadKey& k) {
  uint32_t& number = watchers_.Get(k);
  if (number != 0) return number;
  if (watchersInBlock_ == kWatchersBlock) {
    watcherBlocks_.push_back(std::make_unique<TriggerWatchers[]>(kWatchersBlock));
    watchersInBlock_ = 0;
  }
  ++watchersInBlock_;
  number = static_cast<uint32_t>((watcherBlocks_.size() - 1) * kWatchersBlock + watchersInBlock_);
  if (k.at != kWholeList && k.at != kEntryCount) entriesWatched_.insert(k.list);
  return number;
}

const std::vector<ReadKey>* StoreCore::EndReads() {
  if (openReadSets_ == 0) return nullptr;
  std::vector<ReadKey>* reads = &readSets_[--openReadSets_];
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
void SortRecorded(TriggerWatchers::Items& order, size_t sorted) {
  std::vector<Placed> placed;
  placed.reserve(order.size());
  for (size_t n = 0; n < order.size(); ++n) placed.push_back(PlaceOf(order[n]));
  const auto recorded = placed.begin() + static_cast<long>(sorted);
  std::sort(recorded, placed.end(), FiresBefore);
  std::inplace_merge(placed.begin(), recorded, placed.end(), FiresBefore);
  for (size_t n = 0; n < placed.size(); ++n) order[n] = placed[n].item;
}
}  // namespace

bool StoreCore::GatherWatchers(const ReadKey& k, std::vector<TriggerItem*>* items) {
  const uint32_t* found = watchers_.Find(k);
  if (found == nullptr) return false;
  TriggerWatchers& w = WatchersNumbered(*found);
  if (w.quietSince == fireable_) return false;
  if (w.sorted < w.order.size()) {
    SortRecorded(w.order, w.sorted);
    w.sorted = static_cast<uint32_t>(w.order.size());
  }
  // Quiet after this unless an item is recorded meanwhile or fireable_ moves:
  // every item gathered now fires.
  w.quietSince = fireable_;
  const size_t before = items->size();
  bool stale = false;
  for (size_t n = 0; n < w.order.size(); ++n) {
    TriggerItem* item = w.order[n];
    if (item->Reads(k)) {
      items->push_back(item);
    } else {
      stale = true;
    }
  }
  if (stale) {
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
    w.order.shrink(kept);
    w.sorted = static_cast<uint32_t>(keptSorted);
  }
  return items->size() > before;
}

void StoreCore::FireReads(int32_t obj, int32_t attr, const ListChange& change) {
  const uint64_t list = ListKey(obj, attr);
  std::vector<TriggerItem*> items;
  int sources = GatherWatchers({list, kWholeList}, &items) ? 1 : 0;
  if (change.count && GatherWatchers({list, kEntryCount}, &items)) ++sources;
  if (!change.entries.empty() && entriesWatched_.count(list) != 0) {
    for (uint32_t at : change.entries)
      if (GatherWatchers({list, at}, &items)) ++sources;
  }
  if (items.empty()) return;
  // Each read's items come in firing order; those of several are merged
  // into it (an item that read several fires once).
  if (sources > 1) {
    std::vector<Placed> placed;
    placed.reserve(items.size());
    for (TriggerItem* item : items) placed.push_back(PlaceOf(item));
    std::sort(placed.begin(), placed.end(), FiresBefore);
    for (size_t n = 0; n < placed.size(); ++n) items[n] = placed[n].item;
  }
  for (TriggerItem* item : items) {
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
}

}  // namespace kx::store
