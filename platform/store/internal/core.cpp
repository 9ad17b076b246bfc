// StoreCore: its life (construction, closing), transactions and the undo
// log, and objects: read from the file when first reached, created, owned,
// held, deleted, copied, and the extents of classes. Values are in
// core_values.cpp, the other tables in core_tables.cpp.
#include "store/internal/core.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "store/internal/fixture.h"

namespace kx::store {

StoreCore::StoreCore() : db_(MakeSqlitePersistence()) {
  library_.read = [this](const u16& id, const u16& checknum) -> std::unique_ptr<TemplateRec> {
    std::string xml;
    std::unique_ptr<TemplateRec> t;
    if (closed_) return nullptr;
    if (!db_->LoadTemplate(id, checknum, &xml)) {
      ReadFailed(std::string("Cannot read template \"") + ToUtf8(id) + "\" version \"" +
                 ToUtf8(checknum) + "\": " + db_->LastError());
      return nullptr;
    }
    if (xml.empty()) return nullptr;
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
  ObjectRowsChanged();
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
      return SetError(
          KXQ_E_BUSY,
          std::string("The object store is busy: another process kept it locked for more than ") +
              secs + " s; nothing was changed");
    }
    case Persistence::Lock::kFailed:
      return SetError(KXQ_E_STORAGE, "Cannot begin a transaction: " + db_->LastError());
    case Persistence::Lock::kMoved: return SetError(KXQ_E_BUSY, db_->LastError());
  }
  // Not in the undo log: what others committed stays after a rollback. A
  // catch-up that failed half way is made good by reading everything again.
  if (changes.changed || stale_) {
    ObjectRowsChanged();
    OtherChanged();
    ReferencesChanged();
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
  doomed_ = doomedByRead_ = false;
  readFailure_.clear();
  undo_.clear();
  ++fireable_;
  return S_OK;
}

HRESULT StoreCore::Commit() {
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (!inTxn_) return SetError(KXQ_E_TRANSACTION, std::string("No transaction is open"));
  if (doomed_) {
    // Said again here: the caller of the failed write or read may not have
    // passed its error on.
    const std::string why = doomedBy_;
    const char* what = doomedByRead_ ? "a read" : "a write";
    Rollback();
    return SetError(KXQ_E_STORAGE, std::string("The transaction was rolled back: ") + what +
                                       " had failed (" + why + ")");
  }
  // Ids are never reused, not even those of rolled-back creations.
  if (nextObjectId_ != persistedNextId_ && !db_->PutNextObjectId(nextObjectId_)) {
    std::string msg = db_->LastError();
    Rollback();
    return SetError(KXQ_E_STORAGE,
                    "The transaction could not be committed and was rolled back: " + msg);
  }
  if (!db_->Commit()) {
    std::string msg = db_->LastError();
    Rollback();
    return SetError(KXQ_E_STORAGE,
                    "The transaction could not be committed and was rolled back: " + msg);
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
  ObjectRowsChanged();
  if (!undo_.empty()) ++undoneTxns_;
  OtherChanged();
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) (*it)();
  undo_.clear();
  ++fireable_;       // fired keys taken back, deleted objects back
  members_.clear();  // the undo log changed lists behind their counts
  ReferencesChanged();
  inTxn_ = false;
  doomed_ = doomedByRead_ = false;
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

void StoreCore::OnUndo(std::function<void()> step, bool data) {
  if (data) OtherChanged();
  if (inTxn_) undo_.push_back(std::move(step));
}

void StoreCore::ReadFailed(const std::string& why) const {
  if (readFailure_.empty()) readFailure_ = why;
  if (!inTxn_ || doomed_) return;
  doomed_ = doomedByRead_ = true;
  doomedBy_ = why;
}

std::string StoreCore::TakeReadFailure() {
  std::string why;
  why.swap(readFailure_);
  return why;
}

HRESULT StoreCore::StorageFailure() {
  if (!doomed_) doomedBy_ = db_->LastError();
  doomed_ = true;
  OtherChanged();  // a value may have changed in memory without its stamp
  ObjectRowsChanged();
  return SetError(KXQ_E_STORAGE,
                  "The object store could not write the change: " + db_->LastError());
}

// ---------------------------------------------------------------------------
// Objects

ObjectRec* StoreCore::LoadedObject(int32_t id) const {
  if (id >= 0 && id < kIndexedIds) {
    return static_cast<size_t>(id) < objectsById_.size() ? objectsById_[static_cast<size_t>(id)]
                                                         : nullptr;
  }
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : it->second;
}

ObjectRec* StoreCore::NewObject(int32_t id) {
  const bool indexed = id >= 0 && id < kIndexedIds;
  // Room first: a failure leaves everything as it was.
  if (indexed && static_cast<size_t>(id) >= objectsById_.size()) {
    objectsById_.resize(static_cast<size_t>(id) + 1, nullptr);
  }
  if (usedInBlock_ == kObjectBlock) {
    objectBlocks_.push_back(std::make_unique<ObjectRec[]>(kObjectBlock));
    usedInBlock_ = 0;
  }
  ObjectRec* const rec = &objectBlocks_.back()[usedInBlock_];
  objects_[id] = rec;
  ++usedInBlock_;
  rec->id = id;
  if (indexed) objectsById_[static_cast<size_t>(id)] = rec;
  return rec;
}

ObjectRec* StoreCore::FindObject(int32_t id) {
  if (ObjectRec* o = LoadedObject(id)) return o;
  if (id <= 0 || closed_) return nullptr;
  // First reached: read from the file. An id the file does not hold gets no
  // record (it may be created later, here or by another process).
  StoredObject stored;
  Status read;
  if (!db_->LoadObject(id, &stored))
    read =
        Status{KXQ_E_STORAGE, "Cannot read object " + std::to_string(id) + ": " + db_->LastError()};
  else
    read = ApplyObject(std::move(stored), false);
  if (!read.ok()) {
    loadFailed_ = id;
    loadHr_ = db_->Moved() ? KXQ_E_BUSY : KXQ_E_STORAGE;
    loadError_ = read.message;
    ReadFailed(loadError_);
    return nullptr;
  }
  return LoadedObject(id);
}

HRESULT StoreCore::NoObject(int32_t id) {
  if (id != 0 && id == loadFailed_) return SetError(loadHr_, loadError_);
  return SetError(KXQ_E_NOOBJECT, "No object with id " + std::to_string(id));
}

ObjectRec* StoreCore::LiveObject(int32_t id) {
  ObjectRec* o = FindObject(id);
  return (o && o->live) ? o : nullptr;
}

void StoreCore::ObjectsWritten(int32_t nextId) {
  nextObjectId_ = std::max(nextObjectId_, nextId);
  ObjectRowsChanged();
  ReferencesChanged();
  OtherChanged();
}

Status StoreCore::ReadAgain(const std::vector<int32_t>& ids) {
  ++fireable_;  // an object read again may be live again
  for (int32_t id : ids) {
    StoredObject stored;
    if (!db_->LoadObject(id, &stored))
      return Status{KXQ_E_STORAGE,
                    "Cannot read object " + std::to_string(id) + ": " + db_->LastError()};
    if (Status s = ApplyObject(std::move(stored), false); !s.ok()) return s;
  }
  return Status{};
}

HRESULT StoreCore::PersistObject(ObjectRec* o) {
  ObjectRowsChanged();
  if (!db_->PutObject(*o)) return StorageFailure();
  return S_OK;
}

HRESULT StoreCore::CreateObject(ClassRec* cls, int32_t id, ObjectRec** out) {
  if (id < 0) return SetError(E_INVALIDARG, std::string("Object ids are positive"));
  if (id == 0 && nextObjectId_ == kNoObjectIdLeft)
    return SetError(E_FAIL, "No object id is left: " + std::to_string(kMaxObjectId) +
                                ", the largest, is given");
  if (id == 0) id = nextObjectId_;
  ObjectRec* o = FindObject(id);
  if (o && o->live) return SetError(E_INVALIDARG, "Object id " + std::to_string(id) + " is taken");
  // A deleted object keeps its id and its pointer for good.
  if (retired_.count(id))
    return SetError(E_INVALIDARG,
                    "Object id " + std::to_string(id) + " belonged to a deleted object");
  if (!o) o = NewObject(id);
  // A record left by a rolled-back creation is reused: its interface now
  // stands for the new object of that id.
  o->cls = cls;
  o->owner = o->holder = 0;
  o->holderAttr.clear();
  o->flags = 0;
  ForgetMembers(o);
  o->attrs.clear();
  o->live = true;
  nextObjectId_ = std::max(nextObjectId_, IdAfter(id));
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
    return SetError(E_INVALIDARG, "Object " + std::to_string(owner) + " cannot own object " +
                                      std::to_string(obj->id) +
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
  ListChange change;
  const size_t first = EraseRefs(h, d, obj->id, &change);
  if (!db_->WriteTail(h->id, d->id, list, first + 1)) return StorageFailure();
  NotifyValue(h, d, change);
  return SetHolder(obj, 0, u16());
}

HRESULT StoreCore::DeleteObject(ObjectRec* obj) {
  if (!obj->live)
    return SetError(KXQ_E_DELETED, "Object " + std::to_string(obj->id) + " was deleted");
  const int32_t id = obj->id;
  ObjectRowsChanged();
  if (!db_->DeleteObject(id)) return StorageFailure();
  ReferencesChanged();
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
    ValueList* list = h->Find(d->id);
    if (!list) continue;
    // From the end: a list is mostly emptied from its end.
    const bool hit = std::any_of(
        std::make_reverse_iterator(list->end()), std::make_reverse_iterator(list->begin()),
        [&](const Value& v) { return v.kind == KXQ_TYPE_OBJECT && v.i == id; });
    if (!hit) continue;
    ListChange change;
    if (d->collection || !d->list) {
      const size_t first = EraseRefs(h, d, id, &change);
      if (!db_->WriteTail(h->id, d->id, *list, first + 1)) return StorageFailure();
    } else {
      for (size_t k = 0; k < list->size(); ++k)
        if ((*list)[k].kind == KXQ_TYPE_OBJECT && (*list)[k].i == id) {
          SaveSlot(h, d, k + 1);
          Count(MembersOf(h, d), (*list)[k], -1);
          (*list)[k].ClearContent();
          change.entries.push_back(static_cast<uint32_t>(k + 1));
          if (!db_->WriteSlot(h->id, d->id, k + 1, (*list)[k])) return StorageFailure();
        }
    }
    NotifyValue(h, d, change);
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
  ReferencesChanged();  // the copy refers to what its original refers to
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
  std::vector<ObjectRec*> out;
  if (closed_) return out;
  std::vector<int32_t> read;
  const std::vector<int32_t>* ids = &read;
  if (inTxn_ || db_->Private()) {
    KeptExtent& kept = extents_[static_cast<uint64_t>(static_cast<uint32_t>(cls->id)) << 1 |
                                (subclasses ? 1u : 0u)];
    const uint64_t schema = SchemaEpoch();
    if (kept.gen != extentsGen_ || kept.other != otherChangedAt_ || kept.schema != schema) {
      kept.gen = 0;
      if (!db_->Extent(classIds, &kept.ids)) {
        ExtentFailed(cls);
        return out;
      }
      kept.gen = extentsGen_;
      kept.other = otherChangedAt_;
      kept.schema = schema;
    }
    ids = &kept.ids;
  } else if (!db_->Extent(classIds, &read)) {
    ExtentFailed(cls);
    return out;
  }
  out.reserve(ids->size());
  // Each id is looked up again: an object deleted since is passed over, one
  // first reached is read as before.
  for (size_t i = 0; i < ids->size(); ++i)
    if (ObjectRec* o = LiveObject((*ids)[i])) out.push_back(o);
  return out;
}

void StoreCore::ExtentFailed(const ClassRec* cls) {
  ReadFailed("Cannot read the objects of class " + ToUtf8(cls->name) + ": " + db_->LastError());
}

long StoreCore::LiveCount() const {
  long n = 0;
  if (!closed_ && !db_->CountObjects(&n)) {
    ReadFailed("Cannot count the objects: " + db_->LastError());
    return 0;
  }
  return n;
}

}  // namespace kx::store
