// Views and value holders: an object seen through a view definition, route
// steps over its attributes, and the value holder at the end of a route.
//
// A route text is one or more steps joined by "."; a step is an attribute
// name, optionally followed by a 1-based list position in parentheses
// ("Nozzles(2)"). Every step but the last must name an object attribute and
// leads to the object at that position (1 when none is given); the last step
// names the value holder, and the value handed back is the position (VT_I4).
// The read form fails when a link is missing; the write form creates the
// missing object (of the attribute's referenced class) and places it at the
// position. The case VARIANT does not select anything in this store.
#include "com/errorinfo.h"
#include "store/internal/com_util.h"

namespace kx::store {

namespace {

IKXQView* ViewCom(StoreCore& core, ObjectRec* rec, IKXQViewDefinition* def);
IKXQFieldValue* FieldValueCom(StoreCore& core, ObjectRec* rec, AttrDef* def,
                              IKXQViewDefinition* viewDef);

// The object at pos of (obj, def); with create, makes one when missing.
HRESULT StepObject(StoreCore& core, ObjectRec* obj, AttrDef* def, size_t pos, bool create,
                   ObjectRec** out) {
  *out = nullptr;
  if (def->type != KXQ_TYPE_OBJECT)
    return SetError(DISP_E_TYPEMISMATCH,
                    u"Route step \"" + def->name + u"\" does not lead to an object");
  core.NoteEntryRead(obj->id, def->id, pos);
  const auto& vals = core.Values(obj, def);
  if (pos <= vals.size() && vals[pos - 1].kind == KXQ_TYPE_OBJECT)
    if (ObjectRec* o = core.LiveObject(static_cast<int32_t>(vals[pos - 1].i))) {
      *out = o;
      return S_OK;
    }
  if (!create)
    return SetError(KXQ_E_NOTFOUND, u"Object " + U16(std::to_string(obj->id).c_str()) +
                                        u" has no \"" + def->name + u"\" at position " +
                                        U16(std::to_string(pos).c_str()));
  ClassRec* cls = core.FindClass(def->refClass);
  if (!cls)
    return SetError(KXQ_E_NOTFOUND,
                    u"Attribute \"" + def->name + u"\" names no class to create its objects from");
  ObjectRec* made = nullptr;
  KX_RETURN_IF_FAILED(core.CreateObject(cls, 0, &made));
  KX_RETURN_IF_FAILED(core.SetOwner(made, obj->id));
  Value v;
  v.kind = KXQ_TYPE_OBJECT;
  v.i = made->id;
  KX_RETURN_IF_FAILED(core.SetValue(obj, def, pos, std::move(v)));
  *out = made;
  return S_OK;
}

// Splits "Name(3)" into the name and the position (1 when none).
HRESULT ParseStep(const u16& step, u16* name, size_t* pos) {
  *pos = 1;
  size_t open = step.find(u'(');
  if (open == u16::npos) {
    *name = step;
  } else {
    if (step.back() != u')') return SetError(E_INVALIDARG, u"Bad route step \"" + step + u"\"");
    *name = step.substr(0, open);
    u16 digits = step.substr(open + 1, step.size() - open - 2);
    size_t n = 0;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9' || n > kMaxPosition)
        return SetError(E_INVALIDARG, u"Bad route step \"" + step + u"\"");
      n = n * 10 + static_cast<size_t>(c - u'0');
    }
    if (digits.empty() || n < 1 || n > kMaxPosition)
      return SetError(DISP_E_BADINDEX, u"Bad route position in \"" + step + u"\"");
    *pos = n;
  }
  if (name->empty())
    return SetError(E_INVALIDARG, u"Route step \"" + step + u"\" names no attribute");
  return S_OK;
}

class ValueItemImpl final : public StoreObject<ValueItemImpl, IKXQValueItem> {
 public:
  ValueItemImpl(StoreCore& core, ObjectRec* rec, AttrDef* def)
      : core_(&core), rec_(rec), def_(def) {}
  HRESULT get_Object(IKXQObject** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    *obj = ObjectCom(*core_, rec_);
    return S_OK;
  }
  HRESULT get_Name(BSTR* name) override { return OutBstr(def_->name, name); }
  HRESULT get_Number(LONG* number) override {
    if (!number) return E_POINTER;
    *number = def_->id;
    return S_OK;
  }

 private:
  CoreRef core_;
  ObjectRec* rec_;
  AttrDef* def_;
};

class FieldValueImpl final : public StoreObject<FieldValueImpl, IKXQFieldValue> {
 public:
  FieldValueImpl(StoreCore& core, ObjectRec* rec, AttrDef* def, IKXQViewDefinition* viewDef)
      : core_(&core), rec_(rec), def_(def), attr_(AttributeCom(core, rec, def)), viewDef_(viewDef) {
    if (viewDef_) viewDef_->AddRef();
  }
  ~FieldValueImpl() override {
    attr_->Release();
    if (viewDef_) viewDef_->Release();
  }
  // Whether it stands for that value seen through that view definition (it
  // holds nothing else, and its reference keeps the definition's address).
  bool Stands(const ObjectRec* rec, const AttrDef* def, const IKXQViewDefinition* viewDef) const {
    return rec_ == rec && def_ == def && viewDef_ == viewDef;
  }
  HRESULT GetValue(VARIANT position, VARIANT format, VARIANT* value) override {
    return attr_->GetValue(position, format, value);
  }
  HRESULT PutValue(VARIANT position, VARIANT format, VARIANT value) override {
    return attr_->PutValue(position, format, value);
  }
  HRESULT get_Name(BSTR* name) override { return OutBstr(def_->name, name); }
  HRESULT get_IsContained(VARIANT_BOOL* contained) override {
    return attr_->get_IsCollection(contained);
  }
  HRESULT get_DataType(LONG* type) override { return attr_->get_DataType(type); }
  HRESULT HasValue(VARIANT position, VARIANT_BOOL* has) override {
    return attr_->HasValue(position, has);
  }
  HRESULT ClearValue(VARIANT position) override { return attr_->Clear(position); }
  HRESULT PutPrefix(VARIANT position, BSTR text) override {
    return attr_->PutPrefix(position, text);
  }
  HRESULT GetPrefix(VARIANT position, BSTR* text) override {
    return attr_->GetPrefix(position, text);
  }
  HRESULT PutPostfix(VARIANT position, BSTR text) override {
    return attr_->PutPostfix(position, text);
  }
  HRESULT GetPostfix(VARIANT position, BSTR* text) override {
    return attr_->GetPostfix(position, text);
  }
  HRESULT PutSubstitution(VARIANT position, BSTR text) override {
    return attr_->PutSubstitution(position, text);
  }
  HRESULT GetSubstitution(VARIANT position, BSTR* text) override {
    return attr_->GetSubstitution(position, text);
  }
  HRESULT SameNumberTexts(VARIANT position, const OLECHAR* prefix, const OLECHAR* postfix,
                          const OLECHAR* substitution, VARIANT_BOOL* same) override {
    return attr_->SameNumberTexts(position, prefix, postfix, substitution, same);
  }
  HRESULT GetViewAt(VARIANT position, VARIANT* view) override {
    if (!view) return E_POINTER;
    VariantClear(view);
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(position, &pos, &whole));
    ObjectRec* o = nullptr;
    if (FAILED(StepObject(*core_, rec_, def_, pos, false, &o)) || !o) {
      SetErrorInfo(0, nullptr);  // no value there is an answer, not a failure
      return S_OK;
    }
    V_VT(view) = VT_DISPATCH;
    view->pdispVal = ViewCom(*core_, o, Member());
    return S_OK;
  }
  HRESULT get_UnitText(VARIANT which, BSTR* unit) override {
    return attr_->get_UnitText(which, unit);
  }
  HRESULT get_Count(LONG* count) override { return attr_->get_Count(count); }
  HRESULT GetItem(VARIANT, IKXQValueItem** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    *item = new ValueItemImpl(*core_, rec_, def_);
    return S_OK;
  }
  HRESULT GetStates(VARIANT position, VARIANT_BOOL* s1, VARIANT_BOOL* s2, VARIANT_BOOL* s3,
                    VARIANT_BOOL* s4, VARIANT_BOOL* s5) override {
    if (!s1 || !s2 || !s3 || !s4 || !s5) return E_POINTER;
    LONG flags = 0;
    KX_RETURN_IF_FAILED(attr_->GetStatusFlags(position, &flags));
    *s1 = Bool(flags & KXQ_STATUS_1);
    *s2 = Bool(flags & KXQ_STATUS_2);
    *s3 = Bool(flags & KXQ_STATUS_3);
    *s4 = Bool(flags & KXQ_STATUS_4);
    *s5 = Bool(!(flags & KXQ_STATUS_NOT5));
    return S_OK;
  }
  HRESULT get_Attribute(IKXQAttribute** attribute) override {
    if (!attribute) return E_POINTER;
    *attribute = nullptr;
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    attr_->AddRef();
    *attribute = attr_;
    return S_OK;
  }
  HRESULT GetViewForWrite(VARIANT position, IKXQView** view) override {
    if (!view) return E_POINTER;
    *view = nullptr;
    size_t pos;
    bool whole;
    KX_RETURN_IF_FAILED(ParseIndex(position, &pos, &whole));
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    ObjectRec* o = nullptr;
    HRESULT hr = LiveCheck(*core_, rec_);
    if (SUCCEEDED(hr)) hr = StepObject(*core_, rec_, def_, pos, true, &o);
    hr = scope.Done(hr);
    if (SUCCEEDED(hr)) *view = ViewCom(*core_, o, Member());
    return hr;
  }

 private:
  // The member of the view definition named like the attribute, if any.
  IKXQViewDefinition* Member() {
    if (!viewDef_) return nullptr;
    IKXQViewDefinition* m = nullptr;
    BSTR name = ToBstr(def_->name);
    viewDef_->get_Member(name, &m);
    SysFreeString(name);
    return m;  // ViewCom takes this reference
  }
  CoreRef core_;
  ObjectRec* rec_;
  AttrDef* def_;
  IKXQAttribute* attr_;
  IKXQViewDefinition* viewDef_;
};

class ViewImpl final : public StoreObject<ViewImpl, IKXQView> {
 public:
  // Takes over one reference of def (may be null).
  ViewImpl(StoreCore& core, ObjectRec* rec, IKXQViewDefinition* def)
      : core_(&core), rec_(rec), def_(def) {}
  ~ViewImpl() override {
    if (def_) def_->Release();
  }
  HRESULT get_Definition(IKXQViewDefinition** def) override {
    if (!def) return E_POINTER;
    *def = def_;
    if (def_) def_->AddRef();
    return S_OK;
  }
  HRESULT get_Object(IKXQObject** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    *obj = ObjectCom(*core_, rec_);
    return S_OK;
  }
  HRESULT ReadRoute(BSTR route, VARIANT, VARIANT* value, IKXQFieldValue** holder) override {
    return Walk(route, false, value, holder);
  }
  HRESULT WriteRoute(BSTR route, VARIANT, VARIANT* value, IKXQFieldValue** holder) override {
    StoreCore::WriteScope scope(*core_);
    if (FAILED(scope.ok())) return scope.Done(scope.ok());
    HRESULT hr = scope.Done(Walk(route, true, value, holder));
    // The walk may have succeeded and the commit failed: a failure hands
    // nothing out.
    if (FAILED(hr) && value && holder) {
      VariantClear(value);
      if (*holder) (*holder)->Release();
      *holder = nullptr;
    }
    return hr;
  }

 private:
  HRESULT Walk(BSTR route, bool create, VARIANT* value, IKXQFieldValue** holder) {
    if (!value || !holder) return E_POINTER;
    VariantClear(value);
    *holder = nullptr;
    KX_RETURN_IF_FAILED(LiveCheck(*core_, rec_));
    const u16 text = FromBstr(route);
    ObjectRec* cur = rec_;
    IKXQViewDefinition* def = def_;
    if (def) def->AddRef();
    HRESULT hr = S_OK;
    // The steps between the dots, in order; each is taken as it is reached.
    for (size_t start = 0, dot = 0; dot != u16::npos; start = dot + 1) {
      dot = text.find(u'.', start);
      const bool last = dot == u16::npos;
      u16 name;
      size_t pos = 1;
      hr = ParseStep(text.substr(start, last ? u16::npos : dot - start), &name, &pos);
      if (FAILED(hr)) break;
      AttrDef* d = cur->cls->FindAttr(name);
      if (!d) {
        hr = SetError(KXQ_E_NOTFOUND,
                      u"Class \"" + cur->cls->name + u"\" has no attribute \"" + name + u"\"");
        break;
      }
      if (last) {
        *holder = FieldValueCom(*core_, cur, d, def);
        V_VT(value) = VT_I4;
        value->lVal = static_cast<LONG>(pos);
        break;
      }
      ObjectRec* next = nullptr;
      hr = StepObject(*core_, cur, d, pos, create, &next);
      if (FAILED(hr)) break;
      IKXQViewDefinition* member = nullptr;
      if (def) {
        BSTR b = ToBstr(name);
        def->get_Member(b, &member);
        SysFreeString(b);
        def->Release();
      }
      def = member;
      cur = next;
    }
    if (def) def->Release();
    return hr;
  }

  CoreRef core_;
  ObjectRec* rec_;
  IKXQViewDefinition* def_;
};

// The field value of `def` on `rec` seen through `viewDef`: the one made
// last when it stands for the same (a page's fields often show one value).
IKXQFieldValue* FieldValueCom(StoreCore& core, ObjectRec* rec, AttrDef* def,
                              IKXQViewDefinition* viewDef) {
  if (core.closed()) return new FieldValueImpl(core, rec, def, viewDef);
  if (core.lastFieldValue != nullptr) {
    auto* last = static_cast<FieldValueImpl*>(static_cast<IKXQFieldValue*>(core.lastFieldValue));
    if (last->Stands(rec, def, viewDef)) {
      last->AddRef();
      return last;
    }
    core.lastFieldValue->Release();
    core.lastFieldValue = nullptr;
  }
  auto* made = new FieldValueImpl(core, rec, def, viewDef);
  made->AddRef();
  core.lastFieldValue = static_cast<IKXQFieldValue*>(made);
  return made;
}

IKXQView* ViewCom(StoreCore& core, ObjectRec* rec, IKXQViewDefinition* def) {
  return new ViewImpl(core, rec, def);
}

}  // namespace

HRESULT MakeView(StoreCore& core, ObjectRec* rec, const VARIANT& definition, IKXQView** view) {
  *view = nullptr;
  const VARIANT* d =
      V_VT(&definition) == (VT_BYREF | VT_VARIANT) ? definition.pvarVal : &definition;
  IKXQViewDefinition* def = nullptr;
  if ((V_VT(d) == VT_DISPATCH || V_VT(d) == VT_UNKNOWN) && d->punkVal)
    if (FAILED(d->punkVal->QueryInterface(IID_IKXQViewDefinition, reinterpret_cast<void**>(&def))))
      return SetError(E_INVALIDARG, std::string("A view needs a view definition"));
  *view = ViewCom(core, rec, def);
  return S_OK;
}

}  // namespace kx::store
