// IKXQObject, IKXQAttribute, IKXQTrigger and the small interfaces around
// them.
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

class DataviewIndexImpl final : public kx::com::Object<DataviewIndexImpl, IKXQDataviewIndex> {
 public:
  DataviewIndexImpl(StoreCore& core, ObjectRec* holder) : core_(&core), holder_(holder) {}
  HRESULT get_Holder(IKXQObject** holder) override {
    KX_RETURN_IF_FAILED(OutPtr(holder));
    KX_RETURN_IF_FAILED(LiveCheck(*core_, holder_));
    *holder = ObjectCom(*core_, holder_);
    return S_OK;
  }

 private:
  CoreRef core_;
  ObjectRec* holder_;
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

class AttrDefImpl final : public StoreObject<AttrDefImpl, IKXQAttributeDef> {
 public:
  AttrDefImpl(StoreCore& core, AttrDef* def) : core_(&core), def_(def) {}
  HRESULT get_Name(BSTR* name) override { return OutBstr(def_->name, name); }
  HRESULT get_DataType(LONG* type) override {
    if (!type) return E_POINTER;
    *type = def_->type;
    return S_OK;
  }
  HRESULT get_IsList(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = Bool(def_->list);
    return S_OK;
  }
  HRESULT get_IsCollection(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = Bool(def_->collection);
    return S_OK;
  }
  HRESULT get_ReferencedClass(IKXQClass** cls) override {
    KX_RETURN_IF_FAILED(OutPtr(cls));
    if (ClassRec* c = core_->FindClass(def_->refClass)) *cls = ClassCom(*core_, c);
    return S_OK;
  }
  HRESULT get_Dimension(BSTR* name) override { return OutBstr(def_->dimension, name); }
  HRESULT get_Documentation(BSTR* text) override { return OutBstr(def_->doc, text); }
  HRESULT get_LinkedObject(IKXQObject** object) override {
    KX_RETURN_IF_FAILED(OutPtr(object));
    ObjectRec* rec = def_->link != 0 ? core_->LiveObject(def_->link) : nullptr;
    if (rec == nullptr) return S_FALSE;
    *object = ObjectCom(*core_, rec);
    return S_OK;
  }
  HRESULT get_PathText(LONG form, BSTR* text) override {
    if (!def_->path.empty() && form != 1) return OutBstr(def_->path, text);
    return OutBstr(def_->path.empty() ? def_->owner->name + u"." + def_->name : def_->path, text);
  }

 private:
  CoreRef core_;
  AttrDef* def_;
};

// ---------------------------------------------------------------------------

class AttributeImpl final : public StoreObject<AttributeImpl, IKXQAttribute> {
 public:
  AttributeImpl(StoreCore& core, ObjectRec* rec, AttrDef* def)
      : core_(&core), rec_(rec), def_(def) {}

  // Only the store's spare reference is left: the object may stand for
  // another attribute.
  bool Unshared() const { return reference_count() == 1; }
  void Reuse(ObjectRec* rec, AttrDef* def) {
    rec_ = rec;
    def_ = def;
  }
  bool Stands(const ObjectRec* rec, const AttrDef* def) const { return rec_ == rec && def_ == def; }

  HRESULT get_Name(BSTR* name) override { return OutBstr(def_->name, name); }
  HRESULT get_DataType(LONG* type) override {
    if (!type) return E_POINTER;
    *type = def_->type;
    return S_OK;
  }
  HRESULT get_IsList(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = Bool(def_->list);
    return S_OK;
  }
  HRESULT get_IsCollection(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = Bool(def_->collection);
    return S_OK;
  }
  HRESULT get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    KX_RETURN_IF_FAILED(Live());
    core_->NoteRead(rec_->id, def_->id);
    *count = static_cast<LONG>(Values().size());
    return S_OK;
  }
  HRESULT GetValue(VARIANT index, VARIANT unit, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantClear(value);
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    core_->NoteRead(rec_->id, def_->id);
    const auto& vals = Values();
    if (pos > vals.size()) return S_OK;
    return FromValue(*core_, def_, vals[pos - 1], unit, value);
  }
  HRESULT ReadTextAt(LONG position, KXQTextRead read, void* context) override {
    if (!read) return E_POINTER;
    KX_RETURN_IF_FAILED(Live());
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = position;
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    const auto& vals = Values();
    const Value* v = pos <= vals.size() ? &vals[pos - 1] : nullptr;
    // Nothing is recorded, and no error set, for a value the caller will
    // read another way.
    if (v != nullptr && v->kind != 0 && v->kind != KXQ_TYPE_TEXT && v->kind != KXQ_TYPE_STRING)
      return DISP_E_TYPEMISMATCH;
    core_->NoteRead(rec_->id, def_->id);
    if (v == nullptr || v->kind == 0) return S_FALSE;
    read(context, v->text.c_str(), static_cast<LONG>(v->text.size()));
    return S_OK;
  }
  HRESULT PutValue(VARIANT index, VARIANT unit, VARIANT value) override {
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    return scope.Done(DoPut(index, unit, value));
  }
  HRESULT HasValue(VARIANT index, VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    core_->NoteRead(rec_->id, def_->id);
    const auto& vals = Values();
    if (whole) {
      *has =
          Bool(std::any_of(vals.begin(), vals.end(), [&](const Value& v) { return Present(v); }));
      return S_OK;
    }
    *has = Bool(pos <= vals.size() && Present(vals[pos - 1]));
    return S_OK;
  }
  HRESULT Clear(VARIANT index) override {
    return Write([&]() -> HRESULT {
      size_t pos;
      bool whole;
      KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
      return whole ? core_->ClearAll(rec_, def_) : core_->ClearSlot(rec_, def_, pos);
    });
  }
  HRESULT InsertValues(LONG first, LONG count) override {
    return Write([&]() -> HRESULT {
      if (first < 1)
        return SetError(DISP_E_BADINDEX, "Position " + std::to_string(first) + " is below 1");
      if (count < 0) return SetError(E_INVALIDARG, std::string("A negative number of values"));
      return core_->InsertValues(rec_, def_, static_cast<size_t>(first),
                                 static_cast<size_t>(count));
    });
  }
  HRESULT RemoveValues(LONG first, LONG count) override {
    return Write([&]() -> HRESULT {
      if (first < 1)
        return SetError(DISP_E_BADINDEX, "Position " + std::to_string(first) + " is below 1");
      if (count < 0) return SetError(E_INVALIDARG, std::string("A negative number of values"));
      return core_->RemoveValues(rec_, def_, static_cast<size_t>(first),
                                 static_cast<size_t>(count));
    });
  }
  HRESULT AddValue(VARIANT value, VARIANT_BOOL contained, VARIANT unit) override {
    (void)contained;  // collections hold their members whatever the flag
    return Write([&]() -> HRESULT {
      VARIANT at;
      VariantInit(&at);
      V_VT(&at) = VT_I4;
      at.lVal = static_cast<LONG>(Values().size() + 1);
      if (!def_->list && !Values().empty())
        return SetError(DISP_E_BADINDEX, u"Attribute \"" + def_->name + u"\" holds a single value");
      return DoPut(at, unit, value);
    });
  }
  HRESULT Resize(LONG count) override {
    return Write([&]() -> HRESULT {
      if (count < 0) return SetError(E_INVALIDARG, std::string("A negative number of values"));
      return core_->Resize(rec_, def_, static_cast<size_t>(count));
    });
  }
  HRESULT get_UnitText(VARIANT which, BSTR* unit) override {
    if (!unit) return E_POINTER;
    *unit = nullptr;
    KX_RETURN_IF_FAILED(Live());
    u16 text;
    KX_RETURN_IF_FAILED(VariantText(which, &text));
    DimensionRec* dim = core_->FindDimension(def_->dimension);
    if (text.empty()) {
      const auto& vals = Values();
      if (!vals.empty() && vals[0].kind == KXQ_TYPE_REAL && !vals[0].text.empty())
        return OutBstr(vals[0].text, unit);
      return OutBstr(!def_->defaultUnit.empty() ? def_->defaultUnit
                     : dim                      ? dim->baseUnit
                                                : u16(),
                     unit);
    }
    if (DimensionSetRec* set = core_->FindDimensionSet(text)) {
      auto it = set->units.find(def_->dimension);
      if (it != set->units.end()) return OutBstr(it->second, unit);
      return SetError(KXQ_E_UNIT, u"Dimension set \"" + text + u"\" has no unit for \"" +
                                      def_->dimension + u"\"");
    }
    const UnitRec* u = core_->FindUnit(text);
    if (u && EqualsNoCase(u->dimension, def_->dimension)) return OutBstr(u->name, unit);
    return SetError(KXQ_E_UNIT, u"\"" + text +
                                    u"\" is neither a dimension set nor a unit of attribute \"" +
                                    def_->name + u"\"");
  }
  HRESULT GetRealInUnit(LONG index, BSTR unit, double* value) override {
    if (!value) return E_POINTER;
    KX_RETURN_IF_FAILED(Live());
    core_->NoteRead(rec_->id, def_->id);
    size_t pos = index < 1 ? 1 : static_cast<size_t>(index);
    const auto& vals = Values();
    if (pos > vals.size() ||
        (vals[pos - 1].kind != KXQ_TYPE_REAL && vals[pos - 1].kind != KXQ_TYPE_INTEGER))
      return SetError(DISP_E_TYPEMISMATCH,
                      u"Attribute \"" + def_->name + u"\" holds no real at that position");
    const Value& v = vals[pos - 1];
    if (v.kind == KXQ_TYPE_INTEGER) {
      *value = static_cast<double>(v.i);
      return S_OK;
    }
    return core_->ConvertReal(v.r, v.text, FromBstr(unit), value);
  }
  HRESULT get_Owner(IKXQObject** owner) override {
    KX_RETURN_IF_FAILED(OutPtr(owner));
    KX_RETURN_IF_FAILED(Live());
    *owner = ObjectCom(*core_, rec_);
    return S_OK;
  }
  HRESULT get_Definition(IKXQAttributeDef** def) override {
    KX_RETURN_IF_FAILED(OutPtr(def));
    *def = AttrDefCom(*core_, def_);
    return S_OK;
  }
  HRESULT ContainsObject(IKXQObject* obj, VARIANT_BOOL* contains) override {
    if (!contains) return E_POINTER;
    *contains = VARIANT_FALSE;
    KX_RETURN_IF_FAILED(Live());
    if (!obj) return E_POINTER;
    LONG id = 0;
    KX_RETURN_IF_FAILED(obj->get_Id(&id));
    core_->NoteRead(rec_->id, def_->id);
    if (core_->ListHolds(rec_, def_, id)) *contains = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT FindObject(IKXQObject* obj, LONG from, LONG* position) override {
    if (!position) return E_POINTER;
    *position = 0;
    KX_RETURN_IF_FAILED(Live());
    LONG id = 0;
    if (obj) KX_RETURN_IF_FAILED(obj->get_Id(&id));
    core_->NoteRead(rec_->id, def_->id);
    const ValueList& values = Values();
    for (size_t k = from > 1 ? static_cast<size_t>(from) - 1 : 0; k < values.size(); ++k) {
      const Value& v = values[k];
      const bool isObject = v.kind == KXQ_TYPE_OBJECT && v.i != 0;
      // A collection closes up when a member is deleted: only another list
      // can still name a deleted object.
      const bool found =
          obj ? isObject && v.i == id
              : !isObject || (!def_->collection && !core_->LiveObject(static_cast<int32_t>(v.i)));
      if (found) {
        *position = static_cast<LONG>(k + 1);
        break;
      }
    }
    return S_OK;
  }

  HRESULT IsLocked(VARIANT index, VARIANT_BOOL* r) override {
    return FlagTest(index, kFlagLocked, r);
  }
  HRESULT IsSecured(VARIANT index, VARIANT_BOOL* r) override {
    return FlagTest(index, kFlagSecured, r);
  }
  HRESULT IsHeld(VARIANT index, VARIANT_BOOL* r) override {
    if (!r) return E_POINTER;
    *r = VARIANT_FALSE;
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    *r = Bool(v && v->extra && v->extra->hold != 0 && core_->LiveObject(v->extra->hold));
    return S_OK;
  }
  HRESULT Lock(VARIANT index, VARIANT_BOOL on) override {
    return FlagSet(index, kFlagLocked, on != 0);
  }
  HRESULT Secure(VARIANT index, VARIANT_BOOL on) override {
    return FlagSet(index, kFlagSecured, on != 0);
  }
  HRESULT Hold(VARIANT index, VARIANT hold) override {
    return Write([&]() -> HRESULT {
      size_t pos;
      bool whole;
      KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
      int32_t holdId = 0;
      const VARIANT* h = V_VT(&hold) == (VT_BYREF | VT_VARIANT) ? hold.pvarVal : &hold;
      if ((V_VT(h) == VT_DISPATCH || V_VT(h) == VT_UNKNOWN) && h->punkVal) {
        ObjectRec* o = ObjectFromCom(*core_, h->punkVal);
        if (!o || !o->live)
          return SetError(DISP_E_TYPEMISMATCH,
                          std::string("A hold must be a live object of this store"));
        holdId = o->id;
      }
      return core_->ModifySlot(rec_, def_, pos, [holdId](Value& v) { v.ex().hold = holdId; });
    });
  }
  HRESULT get_HoldObject(VARIANT index, IKXQObject** hold) override {
    KX_RETURN_IF_FAILED(OutPtr(hold));
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    if (v && v->extra && v->extra->hold)
      if (ObjectRec* o = core_->LiveObject(v->extra->hold)) *hold = ObjectCom(*core_, o);
    return S_OK;
  }
  HRESULT GetStatusFlags(VARIANT index, LONG* flags) override {
    if (!flags) return E_POINTER;
    *flags = 0;
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    uint32_t f = v ? v->flags : 0;
    LONG out = 0;
    if (f & kFlagStatus1) out |= KXQ_STATUS_1;
    if (f & kFlagStatus2) out |= KXQ_STATUS_2;
    if (f & kFlagStatus3) out |= KXQ_STATUS_3;
    if (f & kFlagStatus4) out |= KXQ_STATUS_4;
    if (f & kFlagNot5) out |= KXQ_STATUS_NOT5;
    *flags = out;
    return S_OK;
  }
  HRESULT PutStatusFlags(VARIANT index, LONG flags) override {
    return Write([&]() -> HRESULT {
      size_t pos;
      bool whole;
      KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
      uint32_t f = 0;
      if (flags & KXQ_STATUS_1) f |= kFlagStatus1;
      if (flags & KXQ_STATUS_2) f |= kFlagStatus2;
      if (flags & KXQ_STATUS_3) f |= kFlagStatus3;
      if (flags & KXQ_STATUS_4) f |= kFlagStatus4;
      if (flags & KXQ_STATUS_NOT5) f |= kFlagNot5;
      static constexpr uint32_t kMask =
          kFlagStatus1 | kFlagStatus2 | kFlagStatus3 | kFlagStatus4 | kFlagNot5;
      return core_->ModifySlot(rec_, def_, pos,
                               [f](Value& v) { v.flags = (v.flags & ~kMask) | f; });
    });
  }
  HRESULT GetPrefix(VARIANT index, BSTR* text) override {
    return GetText(index, &ValueExtra::prefix, text);
  }
  HRESULT PutPrefix(VARIANT index, BSTR text) override {
    return PutText(index, &ValueExtra::prefix, text);
  }
  HRESULT GetPostfix(VARIANT index, BSTR* text) override {
    return GetText(index, &ValueExtra::postfix, text);
  }
  HRESULT PutPostfix(VARIANT index, BSTR text) override {
    return PutText(index, &ValueExtra::postfix, text);
  }
  HRESULT GetSubstitution(VARIANT index, BSTR* text) override {
    return GetText(index, &ValueExtra::subst, text);
  }
  HRESULT PutSubstitution(VARIANT index, BSTR text) override {
    return PutText(index, &ValueExtra::subst, text);
  }
  HRESULT SameNumberTexts(VARIANT index, const OLECHAR* prefix, const OLECHAR* postfix,
                          const OLECHAR* substitution, VARIANT_BOOL* same) override {
    if (!same) return E_POINTER;
    *same = VARIANT_FALSE;
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    const ValueExtra* extra = v && v->extra ? v->extra.get() : nullptr;
    const auto is = [extra](u16 ValueExtra::*field, const OLECHAR* text) {
      const std::u16string_view stored = extra ? std::u16string_view(extra->*field) : u"";
      return stored == std::u16string_view(text ? text : u"");
    };
    *same = Bool(is(&ValueExtra::prefix, prefix) && is(&ValueExtra::postfix, postfix) &&
                 is(&ValueExtra::subst, substitution));
    return S_OK;
  }
  HRESULT get_Disciplines(BSTR* text) override { return OutBstr(def_->disciplines, text); }
  HRESULT get_Appearances(SAFEARRAY** places) override {
    if (!places) return E_POINTER;
    *places = nullptr;
    KX_RETURN_IF_FAILED(Live());
    // Places showing the object: objects whose "NodeObjects" list holds it.
    std::vector<ObjectRec*> holders;
    for (int32_t id : core_->Referrers(rec_, u"NodeObjects"))
      holders.push_back(core_->LiveObject(id));
    SAFEARRAY* sa = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(holders.size()));
    if (!sa) return E_OUTOFMEMORY;
    for (size_t k = 0; k < holders.size(); ++k) {
      auto* place = new DataviewIndexImpl(*core_, holders[k]);
      LONG ix = static_cast<LONG>(k);
      SafeArrayPutElement(sa, &ix, static_cast<IUnknown*>(place));
      place->Release();
    }
    *places = sa;
    return S_OK;
  }

 private:
  HRESULT Live() const { return LiveCheck(*core_, rec_); }
  const ValueList& Values() const { return core_->Values(rec_, def_); }
  static bool Present(const Value& v) { return !v.empty(); }

  template <class Fn>
  HRESULT Write(Fn&& fn) {
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    HRESULT hr = Live();
    if (SUCCEEDED(hr)) hr = fn();
    return scope.Done(hr);
  }

  HRESULT DoPut(const VARIANT& index, const VARIANT& unit, const VARIANT& value) {
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    Value v;
    bool clear = false;
    KX_RETURN_IF_FAILED(ToValue(*core_, def_, value, unit, &v, &clear));
    if (clear) {
      if (!def_->list) return core_->ClearSlot(rec_, def_, 1);
      // An empty write at count + 1 or beyond still extends the list.
      if (pos > Values().size()) return core_->Resize(rec_, def_, pos);
      return core_->ClearSlot(rec_, def_, pos);
    }
    return core_->SetValue(rec_, def_, pos, std::move(v));
  }

  HRESULT Slot(const VARIANT& index, const Value** out) {
    *out = nullptr;
    KX_RETURN_IF_FAILED(Live());
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
    core_->NoteRead(rec_->id, def_->id);
    const auto& vals = Values();
    if (pos <= vals.size()) *out = &vals[pos - 1];
    return S_OK;
  }
  HRESULT FlagTest(const VARIANT& index, uint32_t bit, VARIANT_BOOL* r) {
    if (!r) return E_POINTER;
    *r = VARIANT_FALSE;
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    *r = Bool(v && (v->flags & bit));
    return S_OK;
  }
  HRESULT FlagSet(const VARIANT& index, uint32_t bit, bool on) {
    return Write([&]() -> HRESULT {
      size_t pos;
      bool whole;
      KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
      return core_->ModifySlot(rec_, def_, pos, [bit, on](Value& v) {
        v.flags = on ? (v.flags | bit) : (v.flags & ~bit);
      });
    });
  }
  HRESULT GetText(const VARIANT& index, u16 ValueExtra::*field, BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    const Value* v = nullptr;
    KX_RETURN_IF_FAILED(Slot(index, &v));
    return OutBstr(v && v->extra ? v->extra.get()->*field : u16(), text);
  }
  HRESULT PutText(const VARIANT& index, u16 ValueExtra::*field, BSTR text) {
    return Write([&]() -> HRESULT {
      size_t pos;
      bool whole;
      KX_RETURN_IF_FAILED(ParseIndex(index, &pos, &whole));
      u16 t = FromBstr(text);
      return core_->ModifySlot(rec_, def_, pos, [&](Value& v) { v.ex().*field = t; });
    });
  }

  CoreRef core_;
  ObjectRec* rec_;
  AttrDef* def_;
};

// ---------------------------------------------------------------------------

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
    core_->openItems.push_back(rec_->Item(k));
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
        open.erase(std::next(it).base());
        return S_OK;
      }
    return SetError(KXQ_E_TRANSACTION, u"Trigger \"" + rec_->name + u"\" has no open item");
  }
  HRESULT ResetItem(VARIANT key) override {
    KX_RETURN_IF_FAILED(Live());
    const VARIANT* k = V_VT(&key) == (VT_BYREF | VT_VARIANT) ? key.pvarVal : &key;
    if (V_VT(k) == VT_EMPTY || ((V_VT(k) == VT_INT || V_VT(k) == VT_I4) && k->lVal == 0)) {
      for (auto& [name, item] : rec_->items) item.reads.clear();
      return S_OK;
    }
    u16 text;
    KX_RETURN_IF_FAILED(VariantText(*k, &text));
    if (auto it = rec_->items.find(text); it != rec_->items.end()) it->second.reads.clear();
    return S_OK;
  }
  HRESULT ClearFiredKeys() override {
    KX_RETURN_IF_FAILED(Live());
    rec_->fired.clear();
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
      TriggerRec* r = rec_;
      core_->OnUndo(
          [r, saved] {
            r->handler = saved.handler;
            r->option1 = saved.option1;
            r->option2 = saved.option2;
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

// What a read collection gathered: distinct (object, attribute) keys.
class ReadSetImpl final : public kx::com::Object<ReadSetImpl, IKXQReadSet> {
 public:
  // A field's walk reads a handful of values: those are held inline (the
  // object small enough for the allocator's quick sizes).
  ReadSetImpl(StoreCore& core, const std::vector<uint64_t>& reads)
      : core_(&core), count_(reads.size()) {
    uint64_t* keys = inline_;
    if (count_ > kInline) {
      more_ = std::make_unique<uint64_t[]>(count_);
      keys = more_.get();
    }
    std::copy(reads.begin(), reads.end(), keys);
  }

  HRESULT Replay() override {
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    const uint64_t* keys = count_ > kInline ? more_.get() : inline_;
    for (size_t k = 0; k < count_; ++k) core_->NoteKey(keys[k]);
    return S_OK;
  }
  HRESULT get_Count(LONG* count) override { return OutLong(static_cast<LONG>(count_), count); }
  HRESULT get_LatestStamp(LONGLONG* stamp) override {
    if (!stamp) return E_POINTER;
    *stamp = 0;
    KX_RETURN_IF_FAILED(core_->CheckOpen());
    uint64_t latest = core_->OtherStamp();
    const uint64_t* keys = count_ > kInline ? more_.get() : inline_;
    for (size_t k = 0; k < count_; ++k) {
      latest = std::max(latest, core_->ValueStamp(static_cast<int32_t>(keys[k] >> 32),
                                                  static_cast<int32_t>(keys[k] & 0xffffffffu)));
    }
    *stamp = static_cast<LONGLONG>(latest);
    return S_OK;
  }

 private:
  static constexpr size_t kInline = 6;
  CoreRef core_;
  size_t count_;
  uint64_t inline_[kInline];
  std::unique_ptr<uint64_t[]> more_;
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
    const std::vector<uint64_t>* keys = core_->EndReads();
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
      core_->NoteRead(rec_->id, d->id);
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
      core_->NoteRead(rec_->id, d->id);
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
      core_->NoteRead(rec_->id, d->id);
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
      return core_->RecordWorkflow(rec_->id, 100 + mode, text);
    });
  }
  HRESULT CloseVersion(VARIANT status) override {
    return Write([&]() -> HRESULT {
      u16 text;
      KX_RETURN_IF_FAILED(VariantText(status, &text));
      return core_->RecordWorkflow(rec_->id, 199, text);
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

// Attributes are asked for by the dozen per document and mostly let go at
// once: the store keeps a few of the objects it handed out and points one
// that no one else holds any more at the attribute asked for, instead of
// making a new one. One still held elsewhere is never changed.
IKXQAttribute* AttributeCom(StoreCore& core, ObjectRec* rec, AttrDef* def) {
  if (core.closed()) return new AttributeImpl(core, rec, def);
  IKXQAttribute** empty = nullptr;
  for (IKXQAttribute*& spare : core.attributeSpares) {
    if (spare == nullptr) {
      if (empty == nullptr) empty = &spare;
      continue;
    }
    auto* impl = static_cast<AttributeImpl*>(spare);
    // One object serves every holder of the same attribute (a page's field
    // values mostly show one): it holds nothing of its own.
    if (impl->Unshared() || impl->Stands(rec, def)) {
      impl->Reuse(rec, def);
      spare->AddRef();
      return spare;
    }
  }
  auto* made = new AttributeImpl(core, rec, def);
  // All kept ones are held elsewhere: the new one takes the place of the
  // one kept longest.
  IKXQAttribute** slot = empty;
  if (slot == nullptr) {
    const size_t kept = std::size(core.attributeSpares);
    slot = &core.attributeSpares[core.nextAttributeSpare++ % kept];
    (*slot)->Release();
  }
  made->AddRef();
  *slot = made;
  return made;
}

IKXQAttributeDef* AttrDefCom(StoreCore& core, AttrDef* def) { return new AttrDefImpl(core, def); }

IKXQTrigger* TriggerCom(StoreCore& core, TriggerRec* rec) {
  if (core.closed()) return new TriggerImpl(core, rec);
  if (!rec->com) rec->com = static_cast<IKXQTrigger*>(new TriggerImpl(core, rec));
  rec->com->AddRef();
  return static_cast<IKXQTrigger*>(rec->com);
}

}  // namespace kx::store
