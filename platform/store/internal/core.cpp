#include "store/internal/core.h"

#include <algorithm>
#include <cstdio>

#include "store/internal/fixture.h"

namespace kx::store {

namespace {
uint64_t Key(int32_t a, int32_t b) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
}
}  // namespace

StoreCore::StoreCore() : db_(MakeSqlitePersistence()) {
  library_.read = [this](const u16& id, const u16& checknum) -> std::unique_ptr<TemplateRec> {
    std::string xml;
    std::unique_ptr<TemplateRec> t;
    if (closed_ || !db_->LoadTemplate(id, checknum, &xml) || xml.empty()) return nullptr;
    if (!ParseTemplateXml(*this, xml, &t).ok()) return nullptr;
    return t;
  };
}

void StoreCore::SetLockTimeout(int milliseconds) {
  lockTimeoutMs_ = milliseconds;
  db_->SetLockTimeout(milliseconds);
}

StoreCore::~StoreCore() = default;

void StoreCore::Release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

HRESULT StoreCore::CheckOpen() const {
  if (closed_) return SetError(KXQ_E_CLOSED, std::string("The object store is closed"));
  return S_OK;
}

void StoreCore::Close() {
  if (closed_) return;
  if (inTxn_) Rollback();
  db_->Close();
  closed_ = true;
  ReleaseComObjects();
}

// ---------------------------------------------------------------------------
// Transactions

HRESULT StoreCore::Begin() {
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (inTxn_) return SetError(KXQ_E_TRANSACTION, std::string("A transaction is already open"));
  CatchUp changes;
  switch (db_->Begin(&changes)) {
    case Persistence::Lock::kTaken: break;
    case Persistence::Lock::kBusy: {
      char secs[32];
      std::snprintf(secs, sizeof secs, "%g", lockTimeoutMs_ / 1000.0);
      return SetError(KXQ_E_BUSY, std::string("The object store is busy: another process kept it locked for more than ") +
                                      secs + " s; nothing was changed");
    }
    case Persistence::Lock::kFailed:
      return SetError(KXQ_E_STORAGE, "Cannot begin a transaction: " + db_->LastError());
  }
  // Not in the undo log: what others committed stays after a rollback. A
  // catch-up that failed half way is made good by reading everything again.
  if (changes.changed || stale_) {
    changes.full = changes.full || stale_;
    stale_ = true;
    Status s = CatchUpWith(changes);
    if (!s.ok()) {
      db_->Rollback();
      return SetError(KXQ_E_STORAGE, "Cannot read what another process committed: " + s.message);
    }
    stale_ = false;
  }
  inTxn_ = true;
  doomed_ = false;
  undo_.clear();
  return S_OK;
}

HRESULT StoreCore::Commit() {
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (!inTxn_) return SetError(KXQ_E_TRANSACTION, std::string("No transaction is open"));
  if (doomed_) {
    Rollback();
    return SetError(KXQ_E_STORAGE, std::string("The transaction was rolled back: a write had failed"));
  }
  // Ids are never reused, not even those of rolled-back creations.
  if (nextObjectId_ != persistedNextId_ &&
      !db_->PutNextObjectId(nextObjectId_)) {
    std::string msg = db_->LastError();
    Rollback();
    return SetError(KXQ_E_STORAGE, "The transaction could not be committed and was rolled back: " + msg);
  }
  if (!db_->Commit()) {
    std::string msg = db_->LastError();
    Rollback();
    return SetError(KXQ_E_STORAGE, "The transaction could not be committed and was rolled back: " + msg);
  }
  inTxn_ = false;
  persistedNextId_ = nextObjectId_;
  undo_.clear();
  if (observer) observer->TransactionEnded(true);
  return S_OK;
}

HRESULT StoreCore::Rollback() {
  if (!inTxn_) return SetError(KXQ_E_TRANSACTION, std::string("No transaction is open"));
  db_->Rollback();
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) (*it)();
  undo_.clear();
  inTxn_ = false;
  doomed_ = false;
  openItems.clear();
  if (observer) observer->TransactionEnded(false);
  return S_OK;
}

StoreCore::WriteScope::WriteScope(StoreCore& core) : core_(core) {
  hr_ = core_.CheckOpen();
  if (FAILED(hr_)) return;
  if (!core_.inTxn_) {
    hr_ = core_.Begin();
    implicit_ = SUCCEEDED(hr_);
  }
}

StoreCore::WriteScope::~WriteScope() {
  if (!done_) Done(E_UNEXPECTED);
}

HRESULT StoreCore::WriteScope::Done(HRESULT hr) {
  done_ = true;
  if (!implicit_) return hr;
  implicit_ = false;
  if (SUCCEEDED(hr)) {
    HRESULT c = core_.Commit();
    return FAILED(c) ? c : hr;
  }
  core_.Rollback();
  return hr;
}

void StoreCore::OnUndo(std::function<void()> step) {
  if (inTxn_) undo_.push_back(std::move(step));
}

HRESULT StoreCore::StorageFailure() {
  doomed_ = true;
  return SetError(KXQ_E_STORAGE, "The object store could not write the change: " + db_->LastError());
}

// ---------------------------------------------------------------------------
// Schema

ClassRec* StoreCore::FindClass(const u16& name) const {
  auto it = classByName_.find(name);
  return it == classByName_.end() ? nullptr : it->second;
}

HRESULT StoreCore::AddClass(const u16& name, const u16& baseName, const u16& description, bool definition,
                            ClassRec** out) {
  if (name.empty()) return SetError(E_INVALIDARG, std::string("A class needs a name"));
  if (FindClass(name)) return SetError(E_INVALIDARG, u"Class \"" + name + u"\" is defined twice");
  ClassRec* base = nullptr;
  if (!baseName.empty()) {
    base = FindClass(baseName);
    if (!base) return SetError(KXQ_E_NOTFOUND, u"Unknown base class \"" + baseName + u"\"");
  }
  auto rec = std::make_unique<ClassRec>();
  rec->id = nextClassId_++;
  rec->name = name;
  rec->base = base;
  rec->description = description;
  rec->definition = definition;
  if (!db_->PutClass(*rec)) return StorageFailure();
  ClassRec* c = rec.get();
  classes_.push_back(std::move(rec));
  classByName_[name] = c;
  classById_[c->id] = c;
  if (base) base->subclasses.push_back(c);
  OnUndo([this, c, base] {
    if (base) base->subclasses.pop_back();
    classByName_.erase(c->name);
    classById_.erase(c->id);
    // The record stays (an interface may point at it) but is unreachable.
  });
  if (out) *out = c;
  return S_OK;
}

HRESULT StoreCore::AddAttr(ClassRec* cls, const AttrDef& def, AttrDef** out) {
  if (def.name.empty()) return SetError(E_INVALIDARG, u"An attribute of class \"" + cls->name + u"\" has no name");
  if (cls->FindAttr(def.name))
    return SetError(E_INVALIDARG, u"Attribute \"" + def.name + u"\" is defined twice on class \"" + cls->name + u"\"");
  if (def.type < 1 || def.type > 8)
    return SetError(E_INVALIDARG, u"Attribute \"" + def.name + u"\" has a data type outside 1 to 8");
  auto rec = std::make_unique<AttrDef>(def);
  rec->id = nextAttrId_++;
  rec->owner = cls;
  if (!db_->PutAttr(*rec)) return StorageFailure();
  AttrDef* d = rec.get();
  attrs_[d->id] = std::move(rec);
  cls->own.push_back(d);
  OnUndo([cls] { cls->own.pop_back(); });
  if (out) *out = d;
  return S_OK;
}

AttrDef* StoreCore::AttrById(int32_t id) const {
  auto it = attrs_.find(id);
  return it == attrs_.end() ? nullptr : it->second.get();
}

AttrDef* StoreCore::FindAttr(const ObjectRec* obj, const u16& name) const { return obj->cls->FindAttr(name); }

// ---------------------------------------------------------------------------
// Objects

ObjectRec* StoreCore::LoadedObject(int32_t id) const {
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : it->second.get();
}

ObjectRec* StoreCore::FindObject(int32_t id) {
  if (ObjectRec* o = LoadedObject(id)) return o;
  if (id <= 0 || closed_) return nullptr;
  // First reached: read from the file. An id the file does not hold gets no
  // record (it may be created later, here or by another process).
  StoredObject stored;
  if (!db_->LoadObject(id, &stored)) {
    loadFailed_ = id;
    loadError_ = "Cannot read object " + std::to_string(id) + ": " + db_->LastError();
    return nullptr;
  }
  if (Status s = ApplyObject(std::move(stored), false); !s.ok()) {
    loadFailed_ = id;
    loadError_ = s.message;
    return nullptr;
  }
  return LoadedObject(id);
}

HRESULT StoreCore::NoObject(int32_t id) {
  if (id != 0 && id == loadFailed_) return SetError(KXQ_E_STORAGE, loadError_);
  return SetError(KXQ_E_NOOBJECT, "No object with id " + std::to_string(id));
}

ObjectRec* StoreCore::LiveObject(int32_t id) {
  ObjectRec* o = FindObject(id);
  return (o && o->live) ? o : nullptr;
}

HRESULT StoreCore::PersistObject(ObjectRec* o) {
  if (!db_->PutObject(*o)) return StorageFailure();
  return S_OK;
}

HRESULT StoreCore::CreateObject(ClassRec* cls, int32_t id, ObjectRec** out) {
  if (id < 0) return SetError(E_INVALIDARG, std::string("Object ids are positive"));
  if (id == 0) id = nextObjectId_;
  ObjectRec* o = FindObject(id);
  if (o && o->live) return SetError(E_INVALIDARG, "Object id " + std::to_string(id) + " is taken");
  // A deleted object keeps its id and its pointer for good.
  if (retired_.count(id))
    return SetError(E_INVALIDARG, "Object id " + std::to_string(id) + " belonged to a deleted object");
  if (!o) {
    auto rec = std::make_unique<ObjectRec>();
    rec->id = id;
    o = rec.get();
    objects_[id] = std::move(rec);
  }
  // A record left by a rolled-back creation is reused: its interface now
  // stands for the new object of that id.
  o->cls = cls;
  o->owner = o->holder = 0;
  o->holderAttr.clear();
  o->flags = 0;
  o->attrs.clear();
  o->live = true;
  nextObjectId_ = std::max(nextObjectId_, id + 1);
  if (HRESULT hr = PersistObject(o); FAILED(hr)) {
    o->live = false;
    return hr;
  }
  OnUndo([o] {
    o->live = false;
    o->attrs.clear();
  });
  if (observer) observer->ObjectCreated(id, cls->name);
  *out = o;
  return S_OK;
}

bool StoreCore::WouldOwnItself(const ObjectRec* obj, int32_t owner) {
  // Owner chains have no cycle (every link is checked here), so this ends.
  for (const ObjectRec* p = LiveObject(owner); p; p = LiveObject(p->owner))
    if (p == obj) return true;
  return false;
}

HRESULT StoreCore::SetOwner(ObjectRec* obj, int32_t owner) {
  if (obj->owner == owner) return S_OK;
  if (WouldOwnItself(obj, owner))
    return SetError(E_INVALIDARG, "Object " + std::to_string(owner) + " cannot own object " + std::to_string(obj->id) +
                                      ": that would make an ownership cycle");
  int32_t old = obj->owner;
  obj->owner = owner;
  OnUndo([obj, old] { obj->owner = old; });
  return PersistObject(obj);
}

HRESULT StoreCore::SetHolder(ObjectRec* obj, int32_t holder, const u16& attr) {
  if (obj->holder == holder && obj->holderAttr == attr) return S_OK;
  int32_t old = obj->holder;
  u16 oldAttr = obj->holderAttr;
  obj->holder = holder;
  obj->holderAttr = attr;
  OnUndo([obj, old, oldAttr] {
    obj->holder = old;
    obj->holderAttr = oldAttr;
  });
  return PersistObject(obj);
}

HRESULT StoreCore::SetObjectFlags(ObjectRec* obj, uint32_t flags) {
  if (obj->flags == flags) return S_OK;
  uint32_t old = obj->flags;
  obj->flags = flags;
  OnUndo([obj, old] { obj->flags = old; });
  return PersistObject(obj);
}

AttrDef* StoreCore::HoldingAttr(const ObjectRec* obj, ObjectRec** holderOut) {
  auto holds = [&](ObjectRec* h, AttrDef* d) {
    if (!d || d->type != KXQ_TYPE_OBJECT) return false;
    for (const Value& v : Values(h, d))
      if (v.kind == KXQ_TYPE_OBJECT && v.i == obj->id) return true;
    return false;
  };
  if (ObjectRec* h = LiveObject(obj->holder)) {
    AttrDef* d = h->cls->FindAttr(obj->holderAttr);
    if (holds(h, d)) {
      if (holderOut) *holderOut = h;
      return d;
    }
  }
  if (ObjectRec* h = LiveObject(obj->owner)) {
    for (AttrDef* d : h->cls->Layout())
      if (d->collection && holds(h, d)) {
        if (holderOut) *holderOut = h;
        return d;
      }
  }
  return nullptr;
}

HRESULT StoreCore::Unlink(ObjectRec* obj, bool* wasHeld) {
  ObjectRec* h = nullptr;
  AttrDef* d = HoldingAttr(obj, &h);
  *wasHeld = d != nullptr;
  if (!d) return S_OK;
  auto& list = h->Get(d->id);
  const size_t first = EraseRefs(h, d, obj->id);
  if (!db_->WriteTail(h->id, d->id, list, first + 1)) return StorageFailure();
  NotifyValue(h, d);
  return SetHolder(obj, 0, u16());
}

HRESULT StoreCore::DeleteObject(ObjectRec* obj) {
  if (!obj->live) return SetError(KXQ_E_DELETED, "Object " + std::to_string(obj->id) + " was deleted");
  const int32_t id = obj->id;
  if (!db_->DeleteObject(id)) return StorageFailure();
  obj->live = false;
  retired_.insert(id);
  OnUndo([this, obj] {
    retired_.erase(obj->id);
    obj->live = true;
  });
  // References to the object, found in the file (the object's own rows are
  // gone): collections close up, other lists and single values keep an
  // empty slot.
  std::vector<std::pair<int32_t, int32_t>> sites;
  if (!db_->Referrers(id, &sites)) return StorageFailure();
  for (const auto& [holder, attr] : sites) {
    ObjectRec* h = LiveObject(holder);
    AttrDef* d = AttrById(attr);
    if (!h || !d) continue;
    std::vector<Value>* list = h->Find(d->id);
    if (!list) continue;
    bool hit = false;
    for (const Value& v : *list) hit = hit || (v.kind == KXQ_TYPE_OBJECT && v.i == id);
    if (!hit) continue;
    if (d->collection || !d->list) {
      const size_t first = EraseRefs(h, d, id);
      if (!db_->WriteTail(h->id, d->id, *list, first + 1)) return StorageFailure();
    } else {
      for (size_t k = 0; k < list->size(); ++k)
        if ((*list)[k].kind == KXQ_TYPE_OBJECT && (*list)[k].i == id) {
          SaveSlot(h, d, k + 1);
          (*list)[k].ClearContent();
          if (!db_->WriteSlot(h->id, d->id, k + 1, (*list)[k])) return StorageFailure();
        }
    }
    NotifyValue(h, d);
  }
  std::vector<int32_t> dependents;
  if (!db_->Dependents(id, &dependents)) return StorageFailure();
  for (int32_t oid : dependents) {
    ObjectRec* o = LiveObject(oid);
    if (!o) continue;
    if (o->owner == id)
      if (HRESULT hr = SetOwner(o, 0); FAILED(hr)) return hr;
    if (o->holder == id)
      if (HRESULT hr = SetHolder(o, 0, u16()); FAILED(hr)) return hr;
  }
  if (observer) observer->ObjectDeleted(id, obj->cls->name);
  return S_OK;
}

HRESULT StoreCore::CopyObject(ObjectRec* src, ObjectRec** out) {
  ObjectRec* o = nullptr;
  if (HRESULT hr = CreateObject(src->cls, 0, &o); FAILED(hr)) return hr;
  if (HRESULT hr = SetOwner(o, src->owner); FAILED(hr)) return hr;
  if (HRESULT hr = SetObjectFlags(o, src->flags | kObjStatusCopy); FAILED(hr)) return hr;
  for (const AttrValues& av : src->attrs) {
    AttrDef* d = AttrById(av.attr);
    if (!d || av.values.empty()) continue;
    auto& list = o->Get(d->id);
    list = av.values;
    OnUndo([o, attr = d->id] { o->Get(attr).clear(); });
    if (!db_->WriteTail(o->id, d->id, list, 1)) return StorageFailure();
  }
  *out = o;
  return S_OK;
}

std::vector<ObjectRec*> StoreCore::Instances(const ClassRec* cls, bool subclasses) {
  std::vector<int32_t> classIds;
  std::vector<const ClassRec*> stack{cls};
  while (!stack.empty()) {
    const ClassRec* c = stack.back();
    stack.pop_back();
    classIds.push_back(c->id);
    if (subclasses)
      for (const ClassRec* s : c->subclasses) stack.push_back(s);
  }
  std::vector<int32_t> ids;
  std::vector<ObjectRec*> out;
  if (closed_ || !db_->Extent(classIds, &ids)) return out;
  for (int32_t id : ids)
    if (ObjectRec* o = LiveObject(id)) out.push_back(o);
  return out;
}

long StoreCore::LiveCount() const {
  long n = 0;
  if (!closed_ && !db_->CountObjects(&n)) return 0;
  return n;
}

// ---------------------------------------------------------------------------
// Values

const std::vector<Value>& StoreCore::Values(const ObjectRec* obj, const AttrDef* def) const {
  static const std::vector<Value> kEmpty;
  if (!def->inverse.empty()) {
    ComputeInverse(obj, def);
    return computed_;
  }
  const std::vector<Value>* v = obj->Find(def->id);
  return v ? *v : kEmpty;
}

std::vector<int32_t> StoreCore::Referrers(const ObjectRec* obj, const u16& attrName) const {
  std::vector<int32_t> holders;
  std::vector<std::pair<int32_t, int32_t>> sites;
  if (closed_ || !db_->Referrers(obj->id, &sites)) return holders;
  for (const auto& [holder, attr] : sites) {
    const AttrDef* d = AttrById(attr);
    if (d && EqualsNoCase(d->name, attrName) && (holders.empty() || holders.back() != holder)) holders.push_back(holder);
  }
  return holders;
}

void StoreCore::ComputeInverse(const ObjectRec* obj, const AttrDef* def) const {
  computed_.clear();
  std::vector<int32_t> holders = Referrers(obj, def->inverse);
  if (!def->list && holders.size() > 1) holders.resize(1);
  for (int32_t h : holders) {
    Value v;
    v.kind = KXQ_TYPE_OBJECT;
    v.i = h;
    computed_.push_back(std::move(v));
  }
}

HRESULT StoreCore::CheckWritable(const AttrDef* def) const {
  if (def->inverse.empty()) return S_OK;
  return SetError(E_ACCESSDENIED, u"Attribute \"" + def->name + u"\" is kept by the store from \"" + def->inverse +
                                      u"\" and cannot be written");
}

void StoreCore::SaveSlot(ObjectRec* obj, AttrDef* def, size_t pos) {
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, pos, saved = obj->Get(def->id)[pos - 1]]() mutable {
    obj->Get(attr)[pos - 1] = std::move(saved);
  });
}

void StoreCore::SaveSize(ObjectRec* obj, AttrDef* def, size_t size) {
  if (!inTxn_) return;
  undo_.push_back([obj, attr = def->id, size] { obj->Get(attr).resize(size); });
}

void StoreCore::SaveRange(ObjectRec* obj, AttrDef* def, size_t first, size_t end) {
  if (!inTxn_) return;
  std::vector<Value>& list = obj->Get(def->id);
  std::vector<Value> saved(std::make_move_iterator(list.begin() + static_cast<long>(first)),
                           std::make_move_iterator(list.begin() + static_cast<long>(end)));
  undo_.push_back([obj, attr = def->id, first, saved = std::move(saved)]() mutable {
    std::vector<Value>& l = obj->Get(attr);
    l.insert(l.begin() + static_cast<long>(first), std::make_move_iterator(saved.begin()),
             std::make_move_iterator(saved.end()));
  });
}

size_t StoreCore::EraseRefs(ObjectRec* obj, AttrDef* def, int32_t target) {
  std::vector<Value>& list = obj->Get(def->id);
  std::vector<std::pair<size_t, Value>> removed;  // by ascending position
  std::vector<Value> kept;
  kept.reserve(list.size());
  for (size_t k = 0; k < list.size(); ++k) {
    if (list[k].kind == KXQ_TYPE_OBJECT && list[k].i == target) removed.emplace_back(k, std::move(list[k]));
    else kept.push_back(std::move(list[k]));
  }
  const size_t first = removed.empty() ? list.size() : removed.front().first;
  list = std::move(kept);
  if (inTxn_ && !removed.empty())
    undo_.push_back([obj, attr = def->id, removed = std::move(removed)]() mutable {
      std::vector<Value>& l = obj->Get(attr);
      for (auto& [k, v] : removed) l.insert(l.begin() + static_cast<long>(k), std::move(v));
    });
  return first;
}

void StoreCore::NotifyValue(ObjectRec* obj, AttrDef* def) {
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
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (pos < 1) return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  if (pos > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Position beyond the largest list position for attribute \"" + def->name + u"\"");
  if (!def->list && pos > 1)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  if (pos <= old && SameContent(list[pos - 1], v)) return S_OK;
  if (pos > old) {
    SaveSize(obj, def, old);
    list.resize(pos);
  } else {
    SaveSlot(obj, def, pos);
  }
  Value& slot = list[pos - 1];
  slot.kind = v.kind;
  slot.i = v.i;
  slot.text = std::move(v.text);
  if (v.extra && !v.extra->bin.empty()) slot.ex().bin = std::move(v.extra->bin);
  else if (slot.extra) slot.extra->bin.clear();
  bool ok = pos > old ? db_->WriteTail(obj->id, def->id, list, old + 1, true) : db_->WriteSlot(obj->id, def->id, pos, slot);
  if (!ok) return StorageFailure();
  if (HRESULT hr = ApplyHolding(obj, def, slot); FAILED(hr)) return hr;
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::ClearSlot(ObjectRec* obj, AttrDef* def, size_t pos) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (pos < 1) return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  const std::vector<Value>& cur = Values(obj, def);
  if (pos > cur.size() || cur[pos - 1].empty()) return S_OK;
  // A single value goes with its slot, unless the slot carries a lock,
  // status or texts: those belong to the slot and outlive its value.
  if (!def->list && cur[0].flags == 0 && !HasSlotExtras(cur[0])) return ClearAll(obj, def);
  auto& list = obj->Get(def->id);
  SaveSlot(obj, def, pos);
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
  if (!db_->WriteTail(obj->id, def->id, list, 1)) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::InsertValues(ObjectRec* obj, AttrDef* def, size_t first, size_t count) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (first < 1) return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  if (!def->list) return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  if (count == 0) return S_OK;
  if (std::max(first - 1, Values(obj, def).size()) + count > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" would grow beyond the largest list position");
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  if (inTxn_)
    undo_.push_back([obj, attr = def->id, first, count, old] {
      std::vector<Value>& l = obj->Get(attr);
      l.erase(l.begin() + static_cast<long>(first - 1), l.begin() + static_cast<long>(first - 1 + count));
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
  if (first < 1) return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  const std::vector<Value>& cur = Values(obj, def);
  if (first > cur.size() || count == 0) return S_OK;
  auto& list = obj->Get(def->id);
  size_t end = std::min(list.size(), first - 1 + count);
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
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" would grow beyond the largest list position");
  const size_t old = Values(obj, def).size();
  if (old == count) return S_OK;
  auto& list = obj->Get(def->id);
  if (count < old) SaveRange(obj, def, count, old);
  else SaveSize(obj, def, old);
  list.resize(count);
  if (!db_->WriteTail(obj->id, def->id, list, std::min(old, count) + 1)) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

HRESULT StoreCore::ModifySlot(ObjectRec* obj, AttrDef* def, size_t pos, const std::function<void(Value&)>& fn) {
  if (HRESULT hr = CheckWritable(def); FAILED(hr)) return hr;
  if (pos < 1) return SetError(DISP_E_BADINDEX, u"Position below 1 for attribute \"" + def->name + u"\"");
  if (pos > kMaxPosition)
    return SetError(DISP_E_BADINDEX, u"Position beyond the largest list position for attribute \"" + def->name + u"\"");
  if (!def->list && pos > 1)
    return SetError(DISP_E_BADINDEX, u"Attribute \"" + def->name + u"\" holds a single value");
  auto& list = obj->Get(def->id);
  const size_t old = list.size();
  if (pos > old) {
    SaveSize(obj, def, old);
    list.resize(pos);
  } else {
    SaveSlot(obj, def, pos);
  }
  fn(list[pos - 1]);
  bool ok = pos > old ? db_->WriteTail(obj->id, def->id, list, old + 1, true)
                      : db_->WriteSlot(obj->id, def->id, pos, list[pos - 1]);
  if (!ok) return StorageFailure();
  NotifyValue(obj, def);
  return S_OK;
}

void StoreCore::NoteRead(int32_t obj, int32_t attr) {
  if (openItems.empty()) return;
  const uint64_t k = Key(obj, attr);
  for (auto& [t, key] : openItems)
    if (t->reads[key].insert(k).second) watchers_[k].emplace(t, key);
}

void StoreCore::FireReads(int32_t obj, int32_t attr) {
  auto it = watchers_.find(Key(obj, attr));
  if (it == watchers_.end()) return;
  const uint64_t k = it->first;
  // A copy: the observer may read values and so record new watchers.
  const std::set<std::pair<TriggerRec*, u16>> items = it->second;
  for (const auto& [t, key] : items) {
    auto r = t->reads.find(key);
    if (r == t->reads.end() || !r->second.count(k)) {
      watchers_[k].erase({t, key});
      continue;
    }
    if (!LiveObject(t->owner)) continue;
    if (std::find(t->fired.begin(), t->fired.end(), key) != t->fired.end()) continue;
    t->fired.push_back(key);
    TriggerRec* fired = t;
    OnUndo([fired] {
      if (!fired->fired.empty()) fired->fired.pop_back();
    });
    if (observer) observer->TriggerFired(t->owner, t->name, key);
  }
}

// ---------------------------------------------------------------------------
// Units

const UnitRec* StoreCore::FindUnit(const u16& name) const {
  auto it = units_.find(name);
  return it == units_.end() ? nullptr : it->second.get();
}

DimensionRec* StoreCore::FindDimension(const u16& name) const {
  for (auto& d : dimensions_)
    if (EqualsNoCase(d->name, name)) return d.get();
  return nullptr;
}

DimensionSetRec* StoreCore::FindDimensionSet(const u16& name) const {
  for (auto& s : dimensionSets_)
    if (EqualsNoCase(s->name, name)) return s.get();
  return nullptr;
}

HRESULT StoreCore::ConvertReal(double v, const u16& from, const u16& to, double* out) const {
  if (from.empty() || to.empty() || EqualsNoCase(from, to)) {
    *out = v;
    return S_OK;
  }
  const UnitRec* a = FindUnit(from);
  const UnitRec* b = FindUnit(to);
  if (!a) return SetError(KXQ_E_UNIT, u"Unknown unit \"" + from + u"\"");
  if (!b) return SetError(KXQ_E_UNIT, u"Unknown unit \"" + to + u"\"");
  if (!EqualsNoCase(a->dimension, b->dimension))
    return SetError(KXQ_E_UNIT, u"Cannot convert from \"" + from + u"\" (" + a->dimension + u") to \"" + to +
                                    u"\" (" + b->dimension + u")");
  double base = v * a->factor + a->offset;
  *out = (base - b->offset) / b->factor;
  return S_OK;
}

HRESULT StoreCore::AddDimension(const u16& name, const u16& baseUnit) {
  if (FindDimension(name)) return SetError(E_INVALIDARG, u"Dimension \"" + name + u"\" is defined twice");
  auto d = std::make_unique<DimensionRec>();
  d->name = name;
  d->baseUnit = baseUnit;
  if (!db_->PutDimension(name, baseUnit)) return StorageFailure();
  dimensions_.push_back(std::move(d));
  OnUndo([this] { dimensions_.pop_back(); });
  return S_OK;
}

HRESULT StoreCore::AddUnit(const UnitRec& unit) {
  DimensionRec* d = FindDimension(unit.dimension);
  if (!d) return SetError(KXQ_E_NOTFOUND, u"Unit \"" + unit.name + u"\" names an unknown dimension \"" + unit.dimension + u"\"");
  if (FindUnit(unit.name)) return SetError(E_INVALIDARG, u"Unit \"" + unit.name + u"\" is defined twice");
  if (unit.factor == 0) return SetError(E_INVALIDARG, u"Unit \"" + unit.name + u"\" has a factor of 0");
  UnitRec stored = unit;
  stored.dimension = d->name;
  if (!db_->PutUnit(stored)) return StorageFailure();
  // A dimension named without a base takes its first unit, on disk too.
  const bool firstIsBase = d->baseUnit.empty();
  if (firstIsBase && !db_->PutDimension(d->name, unit.name)) return StorageFailure();
  auto u = std::make_unique<UnitRec>(unit);
  u->dimension = d->name;
  units_[unit.name] = std::move(u);
  d->units.push_back(unit.name);
  if (firstIsBase) d->baseUnit = unit.name;
  OnUndo([this, d, firstIsBase, name = unit.name] {
    units_.erase(name);
    d->units.pop_back();
    if (firstIsBase) d->baseUnit.clear();
  });
  return S_OK;
}

HRESULT StoreCore::AddDimensionSetUnit(const u16& set, const u16& dimension, const u16& unit) {
  const UnitRec* u = FindUnit(unit);
  if (!u) return SetError(KXQ_E_NOTFOUND, u"Dimension set \"" + set + u"\" names an unknown unit \"" + unit + u"\"");
  if (!EqualsNoCase(u->dimension, dimension))
    return SetError(E_INVALIDARG, u"Unit \"" + unit + u"\" is not a unit of dimension \"" + dimension + u"\"");
  DimensionSetRec* s = FindDimensionSet(set);
  bool created = false;
  if (!s) {
    dimensionSets_.push_back(std::make_unique<DimensionSetRec>());
    s = dimensionSets_.back().get();
    s->name = set;
    created = true;
  }
  if (!db_->PutDimensionSetUnit(s->name, u->dimension, unit)) return StorageFailure();
  auto it = s->units.find(u->dimension);
  bool had = it != s->units.end();
  u16 old = had ? it->second : u16();
  s->units[u->dimension] = unit;
  OnUndo([this, s, created, had, old, dim = u->dimension] {
    if (created) {
      dimensionSets_.pop_back();
      return;
    }
    if (had) s->units[dim] = old;
    else s->units.erase(dim);
  });
  return S_OK;
}

// ---------------------------------------------------------------------------
// Projects, cases, filters, sorts, methods, claims, users

HRESULT StoreCore::AddProject(int32_t id, const u16& name, int32_t parent) {
  if (id <= 0) return SetError(E_INVALIDARG, std::string("Project ids are positive"));
  if (projects_.count(id)) return SetError(E_INVALIDARG, "Project " + std::to_string(id) + " is defined twice");
  ProjectRec* p = nullptr;
  if (parent) {
    p = FindProject(parent);
    if (!p) return SetError(KXQ_E_NOTFOUND, "Project " + std::to_string(id) + " names an unknown parent " + std::to_string(parent));
  }
  if (!db_->PutProject(id, name, parent)) return StorageFailure();
  auto rec = std::make_unique<ProjectRec>();
  rec->id = id;
  rec->name = name;
  rec->parent = parent;
  projects_[id] = std::move(rec);
  if (p) p->children.push_back(id);
  OnUndo([this, id, p] {
    projects_.erase(id);
    if (p) p->children.pop_back();
  });
  return S_OK;
}

ProjectRec* StoreCore::FindProject(int32_t id) const {
  auto it = projects_.find(id);
  return it == projects_.end() ? nullptr : it->second.get();
}

HRESULT StoreCore::AddCase(int32_t id, const u16& name) {
  if (!db_->PutCase(id, name)) return StorageFailure();
  auto it = cases_.find(id);
  bool had = it != cases_.end();
  u16 old = had ? it->second : u16();
  cases_[id] = name;
  OnUndo([this, id, had, old] {
    if (had) cases_[id] = old;
    else cases_.erase(id);
  });
  return S_OK;
}

u16 StoreCore::CaseName(int32_t id) const {
  auto it = cases_.find(id);
  return it == cases_.end() ? u16() : it->second;
}

HRESULT StoreCore::AddFilter(const FilterRec& f) {
  if (FindFilter(f.name)) return SetError(E_INVALIDARG, u"Filter \"" + f.name + u"\" is defined twice");
  if (!f.className.empty() && !FindClass(f.className))
    return SetError(KXQ_E_NOTFOUND, u"Filter \"" + f.name + u"\" names an unknown class \"" + f.className + u"\"");
  if (!db_->PutFilter(f)) return StorageFailure();
  filters_.push_back(std::make_unique<FilterRec>(f));
  filters_.back()->com = nullptr;
  OnUndo([this] { filters_.pop_back(); });
  return S_OK;
}

FilterRec* StoreCore::FindFilter(const u16& name) const {
  for (auto& f : filters_)
    if (f->name == name) return f.get();
  return nullptr;
}

HRESULT StoreCore::AddSort(const SortRec& s) {
  if (FindSort(s.code)) return SetError(E_INVALIDARG, u"Sort definition \"" + s.code + u"\" is defined twice");
  if (!db_->PutSort(s)) return StorageFailure();
  sorts_.push_back(std::make_unique<SortRec>(s));
  sorts_.back()->com = nullptr;
  OnUndo([this] { sorts_.pop_back(); });
  return S_OK;
}

SortRec* StoreCore::FindSort(const u16& code) const {
  for (auto& s : sorts_)
    if (s->code == code) return s.get();
  return nullptr;
}

HRESULT StoreCore::AddMethod(const MethodRec& m) {
  // Class names ignore case, the table's key does not: a method registered
  // again replaces the row under the scope it was first stored with.
  MethodRec* old = FindMethod(m.scope, m.name);
  const u16& scope = old ? old->scope : m.scope;
  MethodRec stored = m;
  stored.scope = scope;
  if (!db_->PutMethod(stored)) return StorageFailure();
  if (old) {
    MethodRec saved = *old;
    old->kind = m.kind;
    old->result = m.result;
    OnUndo([old, saved] { *old = saved; });
    return S_OK;
  }
  methods_.push_back(std::make_unique<MethodRec>(m));
  OnUndo([this] { methods_.pop_back(); });
  return S_OK;
}

MethodRec* StoreCore::FindMethod(const u16& scope, const u16& name) const {
  for (auto& m : methods_)
    if (EqualsNoCase(m->scope, scope) && m->name == name) return m.get();
  return nullptr;
}

MethodRec* StoreCore::FindClassMethod(const ClassRec* cls, const u16& name) const {
  for (const ClassRec* c = cls; c; c = c->base)
    if (MethodRec* m = FindMethod(c->name, name)) return m;
  return nullptr;
}

HRESULT StoreCore::AddClaim(int32_t obj, int32_t project) {
  if (!FindProject(project)) return SetError(KXQ_E_NOTFOUND, "Unknown project " + std::to_string(project));
  auto& v = claims_[obj];
  if (std::find(v.begin(), v.end(), project) != v.end()) return S_OK;
  if (!db_->PutClaim(obj, project)) return StorageFailure();
  v.push_back(project);
  OnUndo([this, obj] { claims_[obj].pop_back(); });
  return S_OK;
}

std::vector<int32_t> StoreCore::Claims(int32_t obj) const {
  auto it = claims_.find(obj);
  return it == claims_.end() ? std::vector<int32_t>() : it->second;
}

HRESULT StoreCore::PutUser(int32_t obj, const u16& user, LONG status) {
  auto& v = users_[obj];
  std::vector<UserRec> old = v;
  if (!db_->PutUser(obj, user, status)) return StorageFailure();
  auto it = std::find_if(v.begin(), v.end(), [&](const UserRec& u) { return u.name == user; });
  if (status > 0) {
    if (it != v.end()) it->status = status;
    else v.push_back(UserRec{user, status});
  } else if (it != v.end()) {
    v.erase(it);
  }
  OnUndo([this, obj, old] { users_[obj] = old; });
  return S_OK;
}

std::vector<UserRec> StoreCore::Users(int32_t obj) const {
  auto it = users_.find(obj);
  return it == users_.end() ? std::vector<UserRec>() : it->second;
}

HRESULT StoreCore::RecordWorkflow(int32_t obj, LONG code, const u16& text) {
  if (!db_->AddWorkflow(obj, code, text)) return StorageFailure();
  if (observer) observer->WorkflowRecorded(obj, code, text);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Triggers

TriggerRec* StoreCore::FindTrigger(int32_t obj, const u16& name) const {
  for (auto& t : triggers_)
    if (t->owner == obj && t->name == name) return t.get();
  return nullptr;
}

HRESULT StoreCore::AddTrigger(int32_t obj, const u16& name, TriggerRec** out) {
  // The table keeps one trigger per object and name; so does memory.
  if (FindTrigger(obj, name))
    return SetError(E_INVALIDARG, u"Object " + U16(std::to_string(obj).c_str()) + u" has a trigger \"" + name +
                                      u"\" already");
  auto t = std::make_unique<TriggerRec>();
  t->owner = obj;
  t->name = name;
  TriggerRec* p = t.get();
  triggers_.push_back(std::move(t));
  OnUndo([this, p] {
    // Kept alive (an interface may point at it) but unreachable.
    for (auto& q : triggers_)
      if (q.get() == p) q->owner = 0;
  });
  if (HRESULT hr = SaveTrigger(p); FAILED(hr)) return hr;
  *out = p;
  return S_OK;
}

HRESULT StoreCore::SaveTrigger(TriggerRec* t) {
  if (!t->owner) return S_OK;
  if (!db_->PutTrigger(t->owner, *t)) return StorageFailure();
  return S_OK;
}

HRESULT StoreCore::RemoveTrigger(int32_t obj, const u16& name) {
  TriggerRec* t = FindTrigger(obj, name);
  if (!t) return S_FALSE;
  if (!db_->RemoveTrigger(obj, name)) return StorageFailure();
  t->owner = 0;
  OnUndo([t, obj] { t->owner = obj; });
  return S_OK;
}

// ---------------------------------------------------------------------------
// Templates

HRESULT StoreCore::SetLibraryFolder(bool bitmaps, const u16& path) {
  u16& field = bitmaps ? library_.bitmapFolder : library_.templatesFolder;
  if (!db_->PutFolder(bitmaps, path)) return StorageFailure();
  u16 old = field;
  field = path;
  OnUndo([&field, old] { field = old; });
  return S_OK;
}

HRESULT StoreCore::AddTemplate(std::unique_ptr<TemplateRec> t, const std::string& xml) {
  if (library_.Has(t->id, t->checknum))
    return SetError(E_INVALIDARG, u"Template \"" + t->id + u"\" version \"" + t->checknum + u"\" is defined twice");
  if (!xml.empty() && !db_->PutTemplate(t->id, t->checknum, xml)) return StorageFailure();
  u16 id = t->id, ck = t->checknum;
  library_.byId[id][ck] = std::move(t);
  OnUndo([this, id, ck] {
    auto it = library_.byId.find(id);
    if (it == library_.byId.end()) return;
    // Kept alive for interfaces that point at it.
    library_.retired.push_back(std::move(it->second[ck]));
    it->second.erase(ck);
    if (it->second.empty()) library_.byId.erase(it);
  });
  return S_OK;
}

}  // namespace kx::store
