#include "store/internal/com_util.h"

#include <cmath>
#include <cstring>

#include "com/errorinfo.h"
#include "com/stream.h"

namespace kx::store {

HRESULT SetError(HRESULT hr, const u16& description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)) || !create) return hr;
  u16 desc = description;
  u16 source = u"KXStore";
  create->SetDescription(desc.data());
  create->SetSource(source.data());
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return hr;
}

HRESULT SetError(HRESULT hr, const std::string& description) {
  u16 d;
  if (!FromUtf8(description, &d)) d = U16("(invalid text)");
  return SetError(hr, d);
}

BSTR ToBstr(const u16& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

u16 FromBstr(BSTR b) { return b ? u16(b, SysStringLen(b)) : u16(); }

HRESULT OutBstr(const u16& s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ToBstr(s);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ParseOtherIndex(const VARIANT& index, size_t* pos, bool* whole) {
  const VARIANT* v = &index;
  if (V_VT(v) == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  *whole = false;
  switch (V_VT(v)) {
    case VT_EMPTY:
      *whole = true;
      *pos = 1;
      return S_OK;
    case VT_ERROR:
      if (v->scode == DISP_E_PARAMNOTFOUND) {
        *whole = true;
        *pos = 1;
        return S_OK;
      }
      break;
    default: break;
  }
  VARIANT n;
  VariantInit(&n);
  // A position is nearly always a plain VT_I4: no conversion needed.
  if (V_VT(v) == VT_I4) {
    n = *v;
  } else if (FAILED(VariantChangeType(&n, v, 0, VT_I4))) {
    return SetError(DISP_E_TYPEMISMATCH, std::string("A value position must be a number"));
  }
  if (n.lVal < 1)
    return SetError(DISP_E_BADINDEX, "Position " + std::to_string(n.lVal) + " is below 1");
  if (static_cast<size_t>(n.lVal) > kMaxPosition)
    return SetError(DISP_E_BADINDEX, "Position " + std::to_string(n.lVal) +
                                         " is beyond the largest list position " +
                                         std::to_string(kMaxPosition));
  *pos = static_cast<size_t>(n.lVal);
  return S_OK;
}

HRESULT VariantText(const VARIANT& v, u16* text) {
  text->clear();
  const VARIANT* p = &v;
  if (V_VT(p) == (VT_BYREF | VT_VARIANT)) p = p->pvarVal;
  if (V_VT(p) == VT_EMPTY || V_VT(p) == VT_NULL) return S_OK;
  if (V_VT(p) == VT_ERROR && p->scode == DISP_E_PARAMNOTFOUND) return S_OK;
  if (V_VT(p) == VT_BSTR) {
    *text = FromBstr(p->bstrVal);
    return S_OK;
  }
  VARIANT s;
  VariantInit(&s);
  HRESULT hr = VariantChangeType(&s, p, 0, VT_BSTR);
  if (FAILED(hr)) return SetError(hr, std::string("The value cannot be turned into text"));
  *text = FromBstr(s.bstrVal);
  VariantClear(&s);
  return S_OK;
}

namespace {
const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

HRESULT Mismatch(const AttrDef* def, const char* what) {
  return SetError(DISP_E_TYPEMISMATCH,
                  u"Cannot store " + U16(what) + u" in attribute \"" + def->name + u"\"");
}
}  // namespace

std::string Base64Encode(const std::string& in) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += kB64[(n >> 6) & 63];
    out += kB64[n & 63];
  }
  if (i + 1 == in.size()) {
    uint32_t n = uint8_t(in[i]) << 16;
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += kB64[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

bool Base64Decode(const u16& text, std::string* out) {
  out->clear();
  uint32_t acc = 0;
  int bits = 0;
  size_t pad = 0;
  for (char16_t c : text) {
    if (c == u' ' || c == u'\n' || c == u'\r' || c == u'\t') continue;
    if (c == u'=') {
      ++pad;
      continue;
    }
    if (pad) return false;
    const char* p = (c < 128) ? std::strchr(kB64, static_cast<char>(c)) : nullptr;
    if (!p || !*p) return false;
    acc = (acc << 6) | static_cast<uint32_t>(p - kB64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return pad <= 2;
}

HRESULT ToValue(StoreCore& core, const AttrDef* def, const VARIANT& in, const VARIANT& unit,
                Value* out, bool* clear) {
  *clear = false;
  const VARIANT* v = &in;
  if (V_VT(v) == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  const VARTYPE vt = V_VT(v);
  if (vt == VT_NULL && (def->type == KXQ_TYPE_REAL || def->type == KXQ_TYPE_DATE))
    return Mismatch(def, "a null value");
  if (vt == VT_EMPTY || vt == VT_NULL || vt == VT_ERROR ||
      ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && !v->punkVal)) {
    *clear = true;
    return S_OK;
  }
  u16 unitText;
  if (V_VT(&unit) == VT_BSTR) unitText = FromBstr(unit.bstrVal);
  VARIANT c;
  VariantInit(&c);
  switch (def->type) {
    case KXQ_TYPE_TEXT:
    case KXQ_TYPE_STRING: {
      // A text is taken as it is, without a converted copy first.
      if (vt == VT_BSTR) {
        out->kind = KXQ_TYPE_TEXT;
        out->text = FromBstr(v->bstrVal);
        return S_OK;
      }
      if (FAILED(VariantChangeType(&c, v, 0, VT_BSTR))) return Mismatch(def, "this value");
      out->kind = KXQ_TYPE_TEXT;
      out->text = FromBstr(c.bstrVal);
      VariantClear(&c);
      return S_OK;
    }
    case KXQ_TYPE_REAL: {
      // NaN too: SQLite would keep it as NULL, and it came back as 0.
      if (vt == VT_R8) {
        c.dblVal = v->dblVal;
      } else if (FAILED(VariantChangeType(&c, v, 0, VT_R8))) {
        return Mismatch(def, "a value that is not a number");
      }
      if (std::isnan(c.dblVal)) return Mismatch(def, "a value that is not a number");
      out->kind = KXQ_TYPE_REAL;
      out->r = c.dblVal;
      out->text = unitText.empty() ? def->defaultUnit : unitText;
      if (!out->text.empty() && !def->dimension.empty() && core.FindDimension(def->dimension)) {
        const UnitRec* u = core.FindUnit(out->text);
        if (!u || !EqualsNoCase(u->dimension, def->dimension))
          return SetError(KXQ_E_UNIT, u"\"" + out->text + u"\" is not a unit of dimension \"" +
                                          def->dimension + u"\" (attribute \"" + def->name +
                                          u"\")");
        out->text = u->name;
      }
      return S_OK;
    }
    case KXQ_TYPE_OBJECT: {
      ObjectRec* target = nullptr;
      if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        target = ObjectFromCom(core, v->punkVal);
      } else if (SUCCEEDED(VariantChangeType(&c, v, 0, VT_I4))) {
        target = c.lVal == 0 ? nullptr : core.LiveObject(c.lVal);
        if (c.lVal == 0) {
          *clear = true;
          return S_OK;
        }
      }
      if (!target) return Mismatch(def, "something that is no object of this store");
      if (!target->live)
        return SetError(KXQ_E_DELETED, "Object " + std::to_string(target->id) + " was deleted");
      if (!def->refClass.empty()) {
        ClassRec* rc = core.FindClass(def->refClass);
        if (rc && !target->cls->IsKindOf(rc))
          return SetError(DISP_E_TYPEMISMATCH, u"Attribute \"" + def->name +
                                                   u"\" holds objects of class \"" + def->refClass +
                                                   u"\", not \"" + target->cls->name + u"\"");
      }
      out->kind = KXQ_TYPE_OBJECT;
      out->i = target->id;
      return S_OK;
    }
    case KXQ_TYPE_INTEGER: {
      if (FAILED(VariantChangeType(&c, v, 0, VT_I4)))
        return Mismatch(def, "a value that is not an integer");
      out->kind = KXQ_TYPE_INTEGER;
      out->i = c.lVal;
      return S_OK;
    }
    case KXQ_TYPE_DATE: {
      if (FAILED(VariantChangeType(&c, v, 0, VT_DATE)) || std::isnan(c.date))
        return Mismatch(def, "a value that is not a date");
      out->kind = KXQ_TYPE_DATE;
      out->r = c.date;
      return S_OK;
    }
    case KXQ_TYPE_BOOLEAN: {
      if (FAILED(VariantChangeType(&c, v, 0, VT_BOOL)))
        return Mismatch(def, "a value that is not a Boolean");
      out->kind = KXQ_TYPE_BOOLEAN;
      out->i = c.boolVal != 0;
      return S_OK;
    }
    case KXQ_TYPE_BINARY: {
      std::string bytes;
      if (vt == (VT_ARRAY | VT_UI1)) {
        SAFEARRAY* sa = v->parray;
        LONG lb = 0, ub = -1;
        SafeArrayGetLBound(sa, 1, &lb);
        SafeArrayGetUBound(sa, 1, &ub);
        void* data = nullptr;
        if (ub >= lb && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
          bytes.assign(static_cast<const char*>(data), static_cast<size_t>(ub - lb + 1));
          SafeArrayUnaccessData(sa);
        }
      } else if (vt == VT_BSTR) {
        u16 t = FromBstr(v->bstrVal);
        if (EqualsNoCase(unitText, u"Base64")) {
          if (!Base64Decode(t, &bytes)) return Mismatch(def, "text that is not Base64");
        } else {
          bytes = ToUtf8(t);
        }
      } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        IStream* stream = nullptr;
        if (FAILED(v->punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))) ||
            !stream)
          return Mismatch(def, "an interface that is no stream");
        char buf[4096];
        for (;;) {
          ULONG got = 0;
          HRESULT hr = stream->Read(buf, sizeof buf, &got);
          if (FAILED(hr)) {
            stream->Release();
            return SetError(hr, std::string("Reading the stream failed"));
          }
          // A stream may not end: stop at the largest binary value.
          if (got > sizeof buf || bytes.size() + got > kMaxBinaryBytes) {
            stream->Release();
            return SetError(E_OUTOFMEMORY,
                            u"The stream for attribute \"" + def->name + u"\" is longer than " +
                                U16(std::to_string(kMaxBinaryBytes).c_str()) + u" bytes");
          }
          bytes.append(buf, got);
          if (got < sizeof buf) break;
        }
        stream->Release();
      } else {
        return Mismatch(def, "this value as binary data");
      }
      out->kind = KXQ_TYPE_BINARY;
      out->ex().bin = std::move(bytes);
      return S_OK;
    }
    default: return Mismatch(def, "a value");
  }
}

HRESULT FromValue(StoreCore& core, const AttrDef* def, const Value& v, const VARIANT& unit,
                  VARIANT* out) {
  VariantInit(out);
  switch (v.kind) {
    case 0: return S_OK;
    case KXQ_TYPE_TEXT:
    case KXQ_TYPE_STRING:
      out->bstrVal = ToBstr(v.text);
      if (!out->bstrVal) return E_OUTOFMEMORY;
      V_VT(out) = VT_BSTR;
      return S_OK;
    case KXQ_TYPE_REAL: {
      double r = v.r;
      if (V_VT(&unit) == VT_BSTR) {
        u16 to = FromBstr(unit.bstrVal);
        if (HRESULT hr = core.ConvertReal(v.r, v.text, to, &r); FAILED(hr)) return hr;
      }
      V_VT(out) = VT_R8;
      out->dblVal = r;
      return S_OK;
    }
    case KXQ_TYPE_OBJECT: {
      ObjectRec* o = core.LiveObject(static_cast<int32_t>(v.i));
      if (!o) return S_OK;
      V_VT(out) = VT_DISPATCH;
      out->pdispVal = ObjectCom(core, o);
      return S_OK;
    }
    case KXQ_TYPE_INTEGER:
      V_VT(out) = VT_I4;
      out->lVal = static_cast<LONG>(v.i);
      return S_OK;
    case KXQ_TYPE_DATE:
      V_VT(out) = VT_DATE;
      out->date = v.r;
      return S_OK;
    case KXQ_TYPE_BOOLEAN:
      V_VT(out) = VT_BOOL;
      out->boolVal = Bool(v.i != 0);
      return S_OK;
    case KXQ_TYPE_BINARY: {
      const std::string empty;
      const std::string& bytes = v.extra ? v.extra->bin : empty;
      if (V_VT(&unit) == VT_BSTR && EqualsNoCase(FromBstr(unit.bstrVal), u"Base64")) {
        u16 t;
        FromUtf8(Base64Encode(bytes), &t);
        out->bstrVal = ToBstr(t);
        if (!out->bstrVal) return E_OUTOFMEMORY;
        V_VT(out) = VT_BSTR;
        return S_OK;
      }
      SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!sa) return E_OUTOFMEMORY;
      void* data = nullptr;
      if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(sa);
      }
      V_VT(out) = VT_ARRAY | VT_UI1;
      out->parray = sa;
      return S_OK;
    }
    default: (void)def; return S_OK;
  }
}

SAFEARRAY* BstrVector(const std::vector<u16>& items, LONG lb) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, lb, static_cast<ULONG>(items.size()));
  if (!sa) return nullptr;
  for (size_t k = 0; k < items.size(); ++k) {
    LONG ix = lb + static_cast<LONG>(k);
    BSTR b = ToBstr(items[k]);
    SafeArrayPutElement(sa, &ix, b);  // copies the BSTR
    SysFreeString(b);
  }
  return sa;
}

SAFEARRAY* DispatchVector(const std::vector<IDispatch*>& items, LONG lb) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_DISPATCH, lb, static_cast<ULONG>(items.size()));
  for (size_t k = 0; k < items.size(); ++k) {
    LONG ix = lb + static_cast<LONG>(k);
    if (sa) SafeArrayPutElement(sa, &ix, items[k]);  // AddRefs
    if (items[k]) items[k]->Release();
  }
  return sa;
}

SAFEARRAY* VariantDispatchVector(const std::vector<IDispatch*>& items, LONG lb) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, lb, static_cast<ULONG>(items.size()));
  for (size_t k = 0; k < items.size(); ++k) {
    LONG ix = lb + static_cast<LONG>(k);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    v.pdispVal = items[k];                     // the reference moves into v
    if (sa) SafeArrayPutElement(sa, &ix, &v);  // copies (AddRefs)
    VariantClear(&v);
  }
  return sa;
}

SAFEARRAY* I4Vector(const std::vector<LONG>& items, LONG lb) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, lb, static_cast<ULONG>(items.size()));
  if (!sa) return nullptr;
  for (size_t k = 0; k < items.size(); ++k) {
    LONG ix = lb + static_cast<LONG>(k);
    LONG val = items[k];
    SafeArrayPutElement(sa, &ix, &val);
  }
  return sa;
}

HRESULT LiveFailure(StoreCore& core, const ObjectRec* rec) {
  if (core.closed()) return core.CheckOpen();
  if (!rec->live)
    return SetError(KXQ_E_DELETED, "Object " + std::to_string(rec->id) + " was deleted");
  return S_OK;
}

}  // namespace kx::store
