// IKXQObject, IKXQTrigger and the small interfaces around them; the
// attributes are in attribute_impl.cpp.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "com/enumvariant.h"
#include "store/internal/com_util.h"

namespace kx::store {

HRESULT CallMethodRec(StoreCore& core, MethodRec* m, SAFEARRAY* args, VARIANT* result);
HRESULT MakeView(StoreCore& core, ObjectRec* rec, const VARIANT& definition, IKXQView** view);

namespace {

// ---------------------------------------------------------------------------

class NamedItemImpl final : public kx::com::Object<NamedItemImpl, IKXQNamedItem> {
 public:
  explicit NamedItemImpl(u16 name) : name_(std::move(name)) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(name_, name); }

 private:
  u16 name_;
};

class EvalContextImpl final : public StoreObject<EvalContextImpl, IKXQEvaluationContext> {
 public:
  ~EvalContextImpl() override {
    for (auto& [k, v] : values_) VariantClear(&v);
  }
  HRESULT SetNamedValue(VARIANT name, VARIANT value) override {
    u16 key;
    KX_RETURN_IF_FAILED(VariantText(name, &key));
    VARIANT copy;
    VariantInit(&copy);
    KX_RETURN_IF_FAILED(VariantCopyInd(&copy, &value));
    auto it = values_.find(key);
    if (it != values_.end()) VariantClear(&it->second);
    values_[key] = copy;
    return S_OK;
  }
  HRESULT GetNamedValue(VARIANT name, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    u16 key;
    KX_RETURN_IF_FAILED(VariantText(name, &key));
    auto it = values_.find(key);
    return it == values_.end() ? S_OK : VariantCopy(value, &it->second);
  }
  HRESULT Begin(VARIANT) override { return S_OK; }
  HRESULT End() override { return S_OK; }

 private:
  std::map<u16, VARIANT, NoCaseLess> values_;
};

// ---------------------------------------------------------------------------

// Whether `key` is the decimal text of a number (0, or digits without a
// leading zero, within 32 bits), and that number.
bool DecimalKey(const u16& key, int32_t* number) {
  if (key.empty() || key.size() > 9 || (key[0] == u'0' && key.size() > 1)) return false;
  int32_t n = 0;
  for (char16_t c : key) {
    if (c < u'0' || c > u'9') return false;
    n = n * 10 + (c - u'0');
  }
  *number = n;
  return true;
}

class TriggerImpl final : public StoreObject<TriggerImpl, IKXQTrigger> {
 public:
  TriggerImpl(StoreCore& core, TriggerRec* rec) : core_(&core), rec_(rec) {}
  HRESULT SetOption1(LONG value) override {
    return Save([&] { rec_->option1 = value; });
  }
  HRESULT SetOption2(LONG value) override {
    return Save([&] { rec_->option2 = value; });
  }
  HRESULT SetHandler(BSTR progId) override {
    return Save([&] { rec_->handler = FromBstr(progId); });
  }
  HRESULT GetName(BSTR* name) override { return OutBstr(rec_->name, name); }
  HRESULT GetFiredKeys(SAFEARRAY** keys) override {
    if (!keys) return E_POINTER;
    *keys = nullptr;
    KX_RETURN_IF_FAILED(Live());
    if (rec_->fired.empty()) return S_OK;
    *keys = BstrVector(rec_->fired, 0);
    return *keys ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetOwner(IKXQObject** owner) override {
    KX_RETURN_IF_FAILED(OutPtr(owner));
    KX_RETURN_IF_FAILED(Live());
    *owner = ObjectCom(*core_, core_->LiveObject(rec_->owner));
    return S_OK;
  }
  HRESULT BeginItem(VARIANT key) override {
    KX_RETURN_IF_FAILED(Live());
    u16 k;
    KX_RETURN_IF_FAILED(VariantText(key, &k));
    // A key that is a number's decimal text is its numbered item, found
    // without hashing the text.
    int32_t number = 0;
    core_->openItems.push_back(DecimalKey(k, &number) ? rec_->NumberedItem(number) : rec_->Item(k));
    return S_OK;
  }
  HRESULT BeginNumberedItem(LONG number) override {
    if (number < 0) return E_INVALIDARG;
    KX_RETURN_IF_FAILED(Live());
    core_->openItems.push_back(rec_->NumberedItem(number));
    return S_OK;
  }
  HRESULT EndItem() override {
    KX_RETURN_IF_FAILED(Live());
    auto& open = core_->openItems;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
      if ((*it)->trigger == rec_) {
        TriggerItem* item = *it;
        open.erase(std::next(it).base());
        core_->EndItem(item);
        return S_OK;
      }
    return SetError(KXQ_E_TRANSACTION, u"Trigger \"" + rec_->name + u"\" has no open item");
  }
  HRESULT ResetItem(VARIANT key) override {
    KX_RETURN_IF_FAILED(Live());
    const VARIANT* k = V_VT(&key) == (VT_BYREF | VT_VARIANT) ? key.pvarVal : &key;
    if (V_VT(k) == VT_EMPTY || ((V_VT(k) == VT_INT || V_VT(k) == VT_I4) && k->lVal == 0)) {
      core_->ResetAllItems(rec_);
      return S_OK;
    }
    u16 text;
    KX_RETURN_IF_FAILED(VariantText(*k, &text));
    if (auto it = rec_->items.find(text); it != rec_->items.end()) it->second.Reset();
    return S_OK;
  }
  HRESULT ClearFiredKeys() override {
    KX_RETURN_IF_FAILED(Live());
    if (rec_->fired.empty() && rec_->firedKeys.empty()) return S_OK;
    rec_->fired.clear();
    rec_->firedKeys.clear();
    core_->FiredKeysCleared();
    return S_OK;
  }
  HRESULT GetHandler(BSTR* progId) override { return OutBstr(rec_->handler, progId); }

 private:
  HRESULT Live() const {
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    if (!rec_->owner || !core_->LiveObject(rec_->owner))
      return SetError(KXQ_E_DELETED, u"Trigger \"" + rec_->name + u"\" was removed");
    return S_OK;
  }
  template <class Fn>
  HRESULT Save(Fn&& fn) {
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    HRESULT hr = Live();
    if (SUCCEEDED(hr)) {
      TriggerRec saved = CopyHead(*rec_);
      fn();
      // A callback binds its trigger again each time it runs, to what it
      // already was: the row is not written again.
      if (saved.handler == rec_->handler && saved.option1 == rec_->option1 &&
          saved.option2 == rec_->option2) {
        core_->ResaveTrigger(rec_);
        return scope.Done(S_OK);
      }
      TriggerRec* r = rec_;
      core_->OnUndo(
          [r, handler = saved.handler, option1 = saved.option1, option2 = saved.option2] {
            r->handler = handler;
            r->option1 = option1;
            r->option2 = option2;
          },
          false);
      hr = core_->SaveTrigger(rec_);
    }
    return scope.Done(hr);
  }
  static TriggerRec CopyHead(const TriggerRec& r) {
    TriggerRec t;
    t.handler = r.handler;
    t.option1 = r.option1;
    t.option2 = r.option2;
    return t;
  }

  CoreRef core_;
  TriggerRec* rec_;
};

// ---------------------------------------------------------------------------

// What a read collection gathered: distinct reads.
class ReadSetImpl final : public kx::com::Object<ReadSetImpl, IKXQReadSet> {
 public:
  // A field's walk reads a handful of values: those are held inline (the
  // object small enough for the allocator's quick sizes).
  ReadSetImpl(StoreCore& core, const std::vector<ReadKey>& reads)
      : core_(&core), count_(reads.size()) {
    ReadKey* keys = inline_;
    if (count_ > kInline) {
      more_ = std::make_unique<ReadKey[]>(count_);
      keys = more_.get();
    }
    std::copy(reads.begin(), reads.end(), keys);
  }

  HRESULT Replay() override {
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    const ReadKey* keys = count_ > kInline ? more_.get() : inline_;
    for (size_t k = 0; k < count_; ++k) core_->NoteKey(keys[k]);
    return S_OK;
  }
  HRESULT get_Count(LONG* count) override { return OutLong(static_cast<LONG>(count_), count); }
  HRESULT get_LatestStamp(LONGLONG* stamp) override {
    if (!stamp) return E_POINTER;
    *stamp = 0;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    uint64_t latest = core_->OtherStamp();
    const ReadKey* keys = count_ > kInline ? more_.get() : inline_;
    for (size_t k = 0; k < count_; ++k) latest = std::max(latest, core_->ReadStamp(keys[k]));
    *stamp = static_cast<LONGLONG>(latest);
    return S_OK;
  }

 private:
  static constexpr size_t kInline = 6;
  CoreRef core_;
  size_t count_;
  ReadKey inline_[kInline];
  std::unique_ptr<ReadKey[]> more_;
};

class ObjectImpl final : public StoreObject<ObjectImpl, IKXQObject, IKXQExternalChanges,
                                            IKXQReadLog, IKXQValueStamps, IKXQValueReads> {
 public:
  ObjectImpl(StoreCore& core, ObjectRec* rec) : core_(&core), rec_(rec) {}

  // Made either on the heap or in its record's slot (see ObjectCom).
  static void* operator new(size_t size) { return ::operator new(size); }
  static void* operator new(size_t, ObjectRec* rec) noexcept { return rec->comSlot; }
  // Only where construction fails; a delete expression takes the next one.
  static void operator delete(void* p) { ::operator delete(p); }
  static void operator delete(void*, ObjectRec*) noexcept {}
  // The slot lies in the store's records, which go with the core: the core
  // is kept until the object is gone, which its own reference cannot
  // ensure (it is released within the destructor).
  static void operator delete(ObjectImpl* p, std::destroying_delete_t) {
    const CoreRef keep(p->core_);
    ObjectRec* const rec = p->rec_;
    const bool inSlot = static_cast<void*>(p) == rec->comSlot;
    p->~ObjectImpl();
    if (inSlot) {
      rec->comInSlot = false;
    } else {
      ::operator delete(p);
    }
  }

  HRESULT BeginReads() override {
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    core_->BeginReads();
    return S_OK;
  }
  HRESULT EndReads(IKXQReadSet** reads) override {
    KX_RETURN_IF_FAILED(OutPtr(reads));
    const std::vector<ReadKey>* keys = core_->EndReads();
    if (keys == nullptr) return SetError(KXQ_E_TRANSACTION, u"No read collection is open");
    *reads = new (std::nothrow) ReadSetImpl(*core_, *keys);
    return *reads != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_ChangeCount(LONG* count) override {
    return OutLong(static_cast<LONG>(core_->DataChanges()), count);
  }

  HRESULT GetValueStamp(BSTR attribute, LONGLONG* stamp) override {
    if (!stamp) return E_POINTER;
    *stamp = 0;
    KX_RETURN_IF_FAILED(Live());
    const AttrDef* d = rec_->cls->FindAttr(BstrView(attribute));
    *stamp = static_cast<LONGLONG>(core_->ValueStamp(rec_->id, d ? d->id : 0));
    return S_OK;
  }
  // ---- several attributes in one call (IKXQValueReads) ----
  HRESULT ReadValues(LONG count, BSTR* names, VARIANT index, VARIANT_BOOL* defined,
                     VARIANT* values) override {
    const auto n = count > 0 ? static_cast<size_t>(count) : 0;
    for (size_t i = 0; values && i < n; ++i) VariantInit(&values[i]);
    if (count < 0) return E_INVALIDARG;
    if (count > 0 && (!names || !defined || !values)) return E_POINTER;
    std::fill(defined, defined + n, VARIANT_FALSE);
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    VARIANT noUnit;
    VariantInit(&noUnit);
    for (size_t i = 0; i < n; ++i) {
      AttrDef* d = rec_->cls->FindAttr(BstrView(names[i]));
      if (!d) continue;
      defined[i] = VARIANT_TRUE;
      core_->NoteEntryRead(rec_->id, d->id, pos);
      const auto& vals = core_->Values(rec_, d);
      if (pos > vals.size()) continue;
      if (const HRESULT hr = FromValue(*core_, d, vals[pos - 1], noUnit, &values[i]); FAILED(hr)) {
        for (size_t k = 0; k < n; ++k) VariantClear(&values[k]);
        return hr;
      }
    }
    return S_OK;
  }
  HRESULT HasValues(LONG count, BSTR* names, VARIANT index, VARIANT_BOOL* has) override {
    if (count < 0) return E_INVALIDARG;
    if (count > 0 && (!names || !has)) return E_POINTER;
    const auto n = static_cast<size_t>(count);
    std::fill(has, has + n, VARIANT_FALSE);
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    for (size_t i = 0; i < n; ++i) {
      const AttrDef* d = rec_->cls->FindAttr(BstrView(names[i]));
      if (!d) continue;
      if (whole) {
        core_->NoteRead(rec_->id, d->id, kWholeList);
      } else {
        core_->NoteEntryRead(rec_->id, d->id, pos);
      }
      const auto& vals = core_->Values(rec_, d);
      const auto present = [](const Value& v) { return !v.empty(); };
      has[i] = Bool(whole ? std::any_of(vals.begin(), vals.end(), present)
                          : pos <= vals.size() && present(vals[pos - 1]));
    }
    return S_OK;
  }

  HRESULT get_ExternalChangeCount(LONG* count) override {
    if (!count) return E_POINTER;
    // A rollback counts for every object: what a cache took from the
    // rolled-back call may be gone.
    *count = static_cast<LONG>(rec_->externalChanges + core_->UndoneTransactions());
    return S_OK;
  }
  HRESULT get_Id(LONG* id) override {
    if (!id) return E_POINTER;
    *id = rec_->id;
    return S_OK;
  }
  HRESULT get_Class(IKXQClass** cls) override {
    KX_RETURN_IF_FAILED(OutPtr(cls));
    KX_RETURN_IF_FAILED(Live());
    *cls = ClassCom(*core_, rec_->cls);
    return S_OK;
  }
  HRESULT IsOfClass(VARIANT cls, VARIANT_BOOL* is) override {
    if (!is) return E_POINTER;
    *is = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    ClassRec* c = ClassFromVariant(*core_, cls);
    *is = Bool(c && rec_->cls->IsKindOf(c));
    return S_OK;
  }
  HRESULT get_Name(VARIANT option, BSTR* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    KX_RETURN_IF_FAILED(Live());
    u16 text;
    if (AttrDef* d = rec_->cls->FindAttr(u"Name")) {
      core_->NoteEntryRead(rec_->id, d->id, 1);
      const auto& vals = core_->Values(rec_, d);
      if (!vals.empty() && vals[0].kind == KXQ_TYPE_TEXT) text = vals[0].text;
    }
    if (text.empty()) text = rec_->cls->name + u" " + U16(std::to_string(rec_->id).c_str());
    const VARIANT* o = V_VT(&option) == (VT_BYREF | VT_VARIANT) ? option.pvarVal : &option;
    if (V_VT(o) == VT_BOOL && o->boolVal) text = rec_->cls->name + u": " + text;
    return OutBstr(text, name);
  }
  HRESULT get_Attribute(BSTR name, VARIANT, IKXQAttribute** attr) override {
    KX_RETURN_IF_FAILED(OutPtr(attr));
    KX_RETURN_IF_FAILED(Live());
    AttrDef* d = rec_->cls->FindAttr(BstrView(name));
    if (d) *attr = AttributeCom(*core_, rec_, d);
    return S_OK;
  }
  HRESULT GetOwner(IKXQObject** owner, LONG) override {
    KX_RETURN_IF_FAILED(OutPtr(owner));
    KX_RETURN_IF_FAILED(Live());
    if (ObjectRec* o = core_->LiveObject(rec_->owner)) *owner = ObjectCom(*core_, o);
    return S_OK;
  }
  HRESULT put_Owner(IKXQObject* owner) override {
    return Write([&]() -> HRESULT {
      int32_t id = 0;
      if (owner) {
        ObjectRec* o = ObjectFromCom(*core_, owner);
        if (!o || !o->live)
          return SetError(E_INVALIDARG,
                          std::string("The owner must be a live object of this store"));
        id = o->id;
      }
      return core_->SetOwner(rec_, id);
    });
  }
  HRESULT get_HoldingAttributeName(BSTR* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    KX_RETURN_IF_FAILED(Live());
    AttrDef* d = core_->HoldingAttr(rec_, nullptr);
    return OutBstr(d ? d->name : u16(), name);
  }
  HRESULT get_ContainingAttribute(IKXQAttribute** attr) override {
    KX_RETURN_IF_FAILED(OutPtr(attr));
    KX_RETURN_IF_FAILED(Live());
    ObjectRec* h = nullptr;
    if (AttrDef* d = core_->HoldingAttr(rec_, &h)) *attr = AttributeCom(*core_, h, d);
    return S_OK;
  }
  HRESULT Delete() override {
    return Write([&] {
      // The observer may refuse; it may also have deleted the object itself.
      if (core_->observer) KX_RETURN_IF_FAILED(core_->observer->BeforeDelete(this));
      return core_->DeleteObject(rec_);
    });
  }
  HRESULT Unlink() override {
    bool held = false;
    HRESULT hr = Write([&] { return core_->Unlink(rec_, &held); });
    return SUCCEEDED(hr) && !held ? S_FALSE : hr;
  }
  HRESULT Copy(IKXQObject** copy) override {
    KX_RETURN_IF_FAILED(OutPtr(copy));
    ObjectRec* made = nullptr;
    KX_RETURN_IF_FAILED(Write([&] { return core_->CopyObject(rec_, &made); }));
    *copy = ObjectCom(*core_, made);
    return S_OK;
  }
  HRESULT get_Claimants(SAFEARRAY** projects) override {
    if (!projects) return E_POINTER;
    *projects = nullptr;
    KX_RETURN_IF_FAILED(Live());
    std::vector<IDispatch*> items;
    for (int32_t p : rec_->claims)
      if (ProjectRec* pr = core_->FindProject(p)) items.push_back(ProjectCom(*core_, pr));
    *projects = DispatchVector(items, 1);
    return *projects ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT IsScoped(VARIANT_BOOL* scoped) override {
    if (!scoped) return E_POINTER;
    *scoped = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    *scoped = Bool(ClaimedByActive());
    return S_OK;
  }
  HRESULT TestFilter(VARIANT filter, LONG* result) override {
    if (!result) return E_POINTER;
    *result = 0;
    KX_RETURN_IF_FAILED(Live());
    const VARIANT* f = V_VT(&filter) == (VT_BYREF | VT_VARIANT) ? filter.pvarVal : &filter;
    if (V_VT(f) == VT_EMPTY || V_VT(f) == VT_BOOL) {
      *result = ClaimedByActive() ? 1 : 0;
      return S_OK;
    }
    u16 text;
    KX_RETURN_IF_FAILED(VariantText(*f, &text));
    if (text.empty()) {
      *result = 1;
      return S_OK;
    }
    if (text == u"KX_CLAIM_ONLY") {
      *result = ClaimedByActive() ? 1 : 0;
      return S_OK;
    }
    FilterRec* fr = core_->FindFilter(text);
    if (!fr) return SetError(KXQ_E_NOTFOUND, u"Unknown object filter \"" + text + u"\"");
    IKXQObjectFilter* fc = FilterCom(*core_, fr);
    VARIANT_BOOL passes = VARIANT_FALSE;
    HRESULT hr = fc->Evaluate(this, &passes);
    fc->Release();
    if (FAILED(hr)) return hr;
    *result = passes ? 1 : 0;
    return S_OK;
  }
  HRESULT get_EvaluationContext(IKXQEvaluationContext** context) override {
    KX_RETURN_IF_FAILED(OutPtr(context));
    KX_RETURN_IF_FAILED(Live());
    *context = new EvalContextImpl();
    return S_OK;
  }
  HRESULT get_Users(SAFEARRAY** users) override {
    if (!users) return E_POINTER;
    *users = nullptr;
    KX_RETURN_IF_FAILED(Live());
    std::vector<UserRec> list = core_->Users(rec_->id);
    if (list.empty()) return S_OK;
    SAFEARRAYBOUND b[2];
    b[0].lLbound = 0;
    b[0].cElements = 2;
    b[1].lLbound = 0;
    b[1].cElements = static_cast<ULONG>(list.size());
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, 2, b);
    if (!sa) return E_OUTOFMEMORY;
    for (size_t j = 0; j < list.size(); ++j) {
      LONG ix[2] = {0, static_cast<LONG>(j)};
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_UNKNOWN;
      v.punkVal = new NamedItemImpl(list[j].name);
      SafeArrayPutElement(sa, ix, &v);
      VariantClear(&v);
      ix[0] = 1;
      V_VT(&v) = VT_I4;
      v.lVal = list[j].status;
      SafeArrayPutElement(sa, ix, &v);
    }
    *users = sa;
    return S_OK;
  }
  HRESULT PutUser(BSTR user, LONG status) override {
    return Write([&] { return core_->PutUser(rec_->id, FromBstr(user), status); });
  }
  HRESULT HasTrigger(BSTR name, VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    *has = Bool(core_->FindTrigger(rec_->id, FromBstr(name)) != nullptr);
    return S_OK;
  }
  HRESULT get_Trigger(BSTR name, IKXQTrigger** trigger) override {
    KX_RETURN_IF_FAILED(OutPtr(trigger));
    TriggerRec* t = core_->FindTrigger(rec_->id, FromBstr(name));
    if (!t)
      KX_RETURN_IF_FAILED(Write([&] { return core_->AddTrigger(rec_->id, FromBstr(name), &t); }));
    KX_RETURN_IF_FAILED(Live());
    *trigger = TriggerCom(*core_, t);
    return S_OK;
  }
  HRESULT RemoveTrigger(BSTR name) override {
    return Write([&] { return core_->RemoveTrigger(rec_->id, FromBstr(name)); });
  }
  HRESULT CallMethod(BSTR name, SAFEARRAY* args, VARIANT* result) override;
  HRESULT WorkflowAction(LONG code, VARIANT arg) override {
    return Write([&]() -> HRESULT {
      u16 text;
      if (!(V_VT(&arg) & VT_ARRAY)) {
        VariantText(arg, &text);
      } else if (V_VT(&arg) == (VT_ARRAY | VT_VARIANT) && arg.parray != nullptr) {
        // The revision, minor revision and reason, joined by "|".
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(arg.parray, 1, &lower);
        SafeArrayGetUBound(arg.parray, 1, &upper);
        for (LONG i = lower; i <= upper; ++i) {
          VARIANT element;
          VariantInit(&element);
          u16 part;
          if (SUCCEEDED(SafeArrayGetElement(arg.parray, &i, &element))) VariantText(element, &part);
          VariantClear(&element);
          if (i > lower) text += u"|";
          text += part;
        }
      }
      return core_->RecordWorkflow(rec_->id, code, text);
    });
  }
  HRESULT OpenVersion(LONG mode, VARIANT status) override {
    return Write([&]() -> HRESULT {
      u16 text;
      KX_RETURN_IF_FAILED(VariantText(status, &text));
      return core_->RecordWorkflow(rec_->id, 100 + mode, text, true);
    });
  }
  HRESULT CloseVersion(VARIANT status) override {
    return Write([&]() -> HRESULT {
      u16 text;
      KX_RETURN_IF_FAILED(VariantText(status, &text));
      return core_->RecordWorkflow(rec_->id, 199, text, true);
    });
  }
  HRESULT CheckPrivilege(BSTR, BSTR privilege, VARIANT_BOOL* allowed, BSTR* place) override {
    if (!allowed) return E_POINTER;
    *allowed = VARIANT_TRUE;
    if (place) *place = nullptr;
    KX_RETURN_IF_FAILED(Live());
    const auto denied = core_->deniedPrivileges.find({rec_->id, FromBstr(privilege)});
    if (denied == core_->deniedPrivileges.end()) return S_OK;
    *allowed = VARIANT_FALSE;
    if (place) *place = ToBstr(denied->second);
    return S_OK;
  }
  HRESULT GetView(VARIANT definition, IKXQView** view) override {
    KX_RETURN_IF_FAILED(OutPtr(view));
    KX_RETURN_IF_FAILED(Live());
    return MakeView(*core_, rec_, definition, view);
  }
  HRESULT get_Representation(BSTR kind, IUnknown** rep) override {
    KX_RETURN_IF_FAILED(OutPtr(rep));
    KX_RETURN_IF_FAILED(Live());
    if (!core_->representations) return S_OK;
    return core_->representations(this, FromBstr(kind), rep);
  }
  HRESULT get_IsStatusCopy(VARIANT_BOOL* flag) override {
    if (!flag) return E_POINTER;
    *flag = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    *flag = Bool(rec_->flags & kObjStatusCopy);
    return S_OK;
  }
  HRESULT Bind(VARIANT sub, IUnknown** binding) override {
    KX_RETURN_IF_FAILED(OutPtr(binding));
    KX_RETURN_IF_FAILED(Live());
    const VARIANT* s = V_VT(&sub) == (VT_BYREF | VT_VARIANT) ? sub.pvarVal : &sub;
    if ((V_VT(s) != VT_DISPATCH && V_VT(s) != VT_UNKNOWN) || !s->punkVal)
      return SetError(E_INVALIDARG, std::string("Bind needs an object"));
    return s->punkVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(binding));
  }
  HRESULT PutText(VARIANT text) override {
    return Write([&]() -> HRESULT {
      u16 t;
      KX_RETURN_IF_FAILED(VariantText(text, &t));
      return core_->RecordWorkflow(rec_->id, 0, t);
    });
  }

  HRESULT Seal() override {
    return Write([&] { return core_->RecordWorkflow(rec_->id, 300, u16()); });
  }

  ObjectRec* rec() const { return rec_; }
  StoreCore* core() const { return core_.get(); }

 private:
  HRESULT Live() const { return LiveCheck(*core_, rec_); }
  template <class Fn>
  HRESULT Write(Fn&& fn) {
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    HRESULT hr = Live();
    if (SUCCEEDED(hr)) hr = fn();
    return scope.Done(hr);
  }
  bool ClaimedByActive() const {
    for (int32_t p : rec_->claims)
      for (ProjectRec* pr = core_->FindProject(p); pr; pr = core_->FindProject(pr->parent))
        if (pr->id == core_->activeProject) return true;
    return false;
  }

  CoreRef core_;
  ObjectRec* rec_;
};

}  // namespace

HRESULT ObjectImpl::CallMethod(BSTR name, SAFEARRAY* args, VARIANT* result) {
  if (!result) return E_POINTER;
  VariantClear(result);
  KX_RETURN_IF_FAILED(Live());
  u16 n = FromBstr(name);
  MethodRec* m = core_->FindClassMethod(rec_->cls, n);
  if (!m)
    return SetError(KXQ_E_NOTFOUND,
                    u"Class \"" + rec_->cls->name + u"\" has no method \"" + n + u"\"");
  return CallMethodRec(*core_, m, args, result);
}

HRESULT CallMethodRec(StoreCore&, MethodRec* m, SAFEARRAY* args, VARIANT* result) {
  ++m->calls;
  m->lastArguments.clear();
  LONG low = 0, high = -1;
  if (args && SafeArrayGetDim(args) == 1 && SUCCEEDED(SafeArrayGetLBound(args, 1, &low)) &&
      SUCCEEDED(SafeArrayGetUBound(args, 1, &high))) {
    VARTYPE type = VT_EMPTY;
    (void)SafeArrayGetVartype(args, &type);
    for (LONG i = low; type == VT_VARIANT && i <= high; ++i) {
      VARIANT value;
      VariantInit(&value);
      u16 text;
      if (SUCCEEDED(SafeArrayGetElement(args, &i, &value))) (void)VariantText(value, &text);
      VariantClear(&value);
      m->lastArguments.push_back(text);
    }
  }
  VariantInit(result);
  switch (m->kind) {
    case 1:
      V_VT(result) = VT_BOOL;
      result->boolVal =
          Bool(EqualsNoCase(m->result, u"true") || m->result == u"1" || m->result == u"-1");
      return S_OK;
    case 2: {
      V_VT(result) = VT_I4;
      // strtol, not stol: no exception may leave this call.
      result->lVal = static_cast<LONG>(std::strtol(ToUtf8(m->result).c_str(), nullptr, 10));
      return S_OK;
    }
    case 3:
      V_VT(result) = VT_BSTR;
      result->bstrVal = ToBstr(m->result);
      return S_OK;
    case 4: return SetError(E_FAIL, u"Method \"" + m->name + u"\" failed: " + m->result);
    default: return S_OK;
  }
}

IKXQObject* ObjectCom(StoreCore& core, ObjectRec* rec) {
  if (!rec) return nullptr;
  if (!rec->com) {
    if (core.closed()) return new ObjectImpl(core, rec);
    // The store's reference, in the record's slot unless an earlier
    // interface of the record still holds it.
    static_assert(sizeof(ObjectImpl) <= sizeof(ObjectRec::comSlot) &&
                  alignof(ObjectImpl) <= alignof(ObjectRec));
    if (rec->comInSlot) {
      rec->com = new ObjectImpl(core, rec);
    } else {
      rec->com = new (rec) ObjectImpl(core, rec);
      rec->comInSlot = true;
    }
  }
  rec->com->AddRef();
  return rec->com;
}

ObjectRec* ObjectFromCom(StoreCore& core, IUnknown* unk) {
  if (!unk) return nullptr;
  IKXQObject* obj = nullptr;
  if (FAILED(unk->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&obj))) || !obj)
    return nullptr;
  LONG id = 0;
  obj->get_Id(&id);
  ObjectRec* rec = core.LoadedObject(id);
  bool ours = rec && rec->com == obj;
  obj->Release();
  return ours ? rec : nullptr;
}

IKXQTrigger* TriggerCom(StoreCore& core, TriggerRec* rec) {
  if (core.closed()) return new TriggerImpl(core, rec);
  if (!rec->com) rec->com = static_cast<IKXQTrigger*>(new TriggerImpl(core, rec));
  rec->com->AddRef();
  return static_cast<IKXQTrigger*>(rec->com);
}

}  // namespace kx::store
