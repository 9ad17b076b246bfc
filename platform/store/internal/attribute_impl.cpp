// IKXQAttribute and IKXQAttributeDef: the values of one attribute of an
// object, read and written in place, and the attribute's definition.
#include <iterator>
#include <vector>

#include "store/internal/com_util.h"

namespace kx::store {

namespace {

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
    core_->NoteRead(rec_->id, def_->id, kEntryCount);
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
    core_->NoteEntryRead(rec_->id, def_->id, pos);
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
    core_->NoteEntryRead(rec_->id, def_->id, pos);
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
    if (whole) {
      core_->NoteRead(rec_->id, def_->id, kWholeList);
    } else {
      core_->NoteEntryRead(rec_->id, def_->id, pos);
    }
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
    size_t pos = index < 1 ? 1 : static_cast<size_t>(index);
    core_->NoteEntryRead(rec_->id, def_->id, pos);
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
    core_->NoteRead(rec_->id, def_->id, kWholeList);
    if (core_->ListHolds(rec_, def_, id)) *contains = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT FindObject(IKXQObject* obj, LONG from, LONG* position) override {
    if (!position) return E_POINTER;
    *position = 0;
    KX_RETURN_IF_FAILED(Live());
    LONG id = 0;
    if (obj) KX_RETURN_IF_FAILED(obj->get_Id(&id));
    core_->NoteRead(rec_->id, def_->id, kWholeList);
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
    core_->NoteEntryRead(rec_->id, def_->id, pos);
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

}  // namespace

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

}  // namespace kx::store
