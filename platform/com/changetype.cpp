// VariantChangeType(Ex): locale-independent conversions (see com/variant.h).
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/dispatch.h"
#include "com/internal/c_locale.h"
#include "com/internal/date.h"
#include "com/internal/variant_types.h"
#include "com/safearray.h"
#include "com/wstr.h"

namespace {

using kx::com::internal::date_from_text;
using kx::com::internal::date_to_text;
using kx::com::internal::kMaxDate;
using kx::com::internal::kMinDate;

// A numeric view of a source value.
struct Num {
  enum Kind { kInt, kUInt, kReal } kind = kInt;
  long long i = 0;
  unsigned long long u = 0;
  double d = 0;
  bool from_bool = false;
};

double decimal_to_double(const DECIMAL& dec) {
  long double v = static_cast<long double>(dec.Hi32) * 18446744073709551616.0L +
                  static_cast<long double>(dec.Lo64);
  for (int k = 0; k < dec.scale; ++k) v /= 10;
  return static_cast<double>((dec.sign & 0x80) ? -v : v);
}

// Exact integer text: [blanks][sign]digits[blanks].
bool parse_integer_text(std::u16string_view t, Num* n) {
  std::size_t b = 0, e = t.size();
  while (b < e && kx_iswspace(t[b])) ++b;
  while (e > b && kx_iswspace(t[e - 1])) --e;
  bool negative = false;
  if (b < e && (t[b] == u'+' || t[b] == u'-')) negative = t[b++] == u'-';
  if (b == e) return false;
  unsigned long long v = 0;
  for (std::size_t k = b; k < e; ++k) {
    if (!kx_iswdigit(t[k])) return false;
    const unsigned d = t[k] - u'0';
    if (v > (ULLONG_MAX - d) / 10) return false;  // too long: read as a real
    v = v * 10 + d;
  }
  if (!negative) {
    n->kind = Num::kUInt;
    n->u = v;
    return true;
  }
  if (v > static_cast<unsigned long long>(LLONG_MAX) + 1) return false;
  n->kind = Num::kInt;
  n->i =
      v == static_cast<unsigned long long>(LLONG_MAX) + 1 ? LLONG_MIN : -static_cast<long long>(v);
  return true;
}

bool equals_ignore_case(std::u16string_view a, const char16_t* b) {
  return kx_wcsicmp(a, std::u16string_view(b)) == 0;
}

std::u16string_view trimmed(std::u16string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && kx_iswspace(t[b])) ++b;
  while (e > b && kx_iswspace(t[e - 1])) --e;
  return t.substr(b, e - b);
}

// Numeric view of a by-value source. DISP_E_TYPEMISMATCH when it has none.
HRESULT to_num(const VARIANT& s, Num* n, bool text_as_bool) {
  switch (s.vt) {
    case VT_EMPTY:
      n->kind = Num::kInt;
      n->i = 0;
      return S_OK;
    case VT_I1: n->i = s.cVal; return S_OK;
    case VT_I2: n->i = s.iVal; return S_OK;
    case VT_I4: n->i = s.lVal; return S_OK;
    case VT_INT: n->i = s.intVal; return S_OK;
    case VT_I8: n->i = s.llVal; return S_OK;
    case VT_UI1: n->i = s.bVal; return S_OK;
    case VT_UI2: n->i = s.uiVal; return S_OK;
    case VT_UI4: n->i = s.ulVal; return S_OK;
    case VT_UINT: n->i = s.uintVal; return S_OK;
    case VT_UI8:
      n->kind = Num::kUInt;
      n->u = s.ullVal;
      return S_OK;
    case VT_BOOL:
      n->i = s.boolVal ? -1 : 0;
      n->from_bool = true;
      return S_OK;
    case VT_R4:
      n->kind = Num::kReal;
      n->d = s.fltVal;
      return S_OK;
    case VT_R8:
      n->kind = Num::kReal;
      n->d = s.dblVal;
      return S_OK;
    case VT_DATE:
      n->kind = Num::kReal;
      n->d = s.date;
      return S_OK;
    case VT_CY:
      n->kind = Num::kReal;
      n->d = static_cast<double>(s.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_DECIMAL:
      n->kind = Num::kReal;
      n->d = decimal_to_double(s.decVal);
      return S_OK;
    case VT_BSTR: {
      const std::u16string_view t(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal));
      if (text_as_bool) {
        const std::u16string_view w = trimmed(t);
        if (equals_ignore_case(w, u"True")) {
          n->i = -1;
          n->from_bool = true;
          return S_OK;
        }
        if (equals_ignore_case(w, u"False")) {
          n->i = 0;
          n->from_bool = true;
          return S_OK;
        }
      }
      if (parse_integer_text(t, n)) return S_OK;
      double d;
      if (!kx_parse_double(t, &d)) {
        // Well-formed but too large is an overflow, not a mismatch.
        const std::u16string w(trimmed(t));
        if (!w.empty() && w.find_first_not_of(u"+-0123456789.eE") == std::u16string::npos) {
          const char16_t* end = nullptr;
          const double v = kx_wcstod(w.c_str(), &end);
          if (end == w.c_str() + w.size() && std::isinf(v)) return DISP_E_OVERFLOW;
        }
        return DISP_E_TYPEMISMATCH;
      }
      n->kind = Num::kReal;
      n->d = d;
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT to_signed(const Num& n, long long lo, long long hi, long long* out) {
  switch (n.kind) {
    case Num::kInt:
      if (n.i < lo || n.i > hi) return DISP_E_OVERFLOW;
      *out = n.i;
      return S_OK;
    case Num::kUInt:
      if (n.u > static_cast<unsigned long long>(hi)) return DISP_E_OVERFLOW;
      *out = static_cast<long long>(n.u);
      return S_OK;
    case Num::kReal: {
      if (std::isnan(n.d)) return DISP_E_OVERFLOW;
      const long double r = std::nearbyint(static_cast<long double>(n.d));
      if (r < static_cast<long double>(lo) || r > static_cast<long double>(hi))
        return DISP_E_OVERFLOW;
      *out = static_cast<long long>(r);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT to_unsigned(const Num& n, unsigned long long hi, unsigned long long* out) {
  switch (n.kind) {
    case Num::kInt:
      if (n.from_bool) {  // true is all bits set, as on Windows
        *out = static_cast<unsigned long long>(n.i) & hi;
        return S_OK;
      }
      if (n.i < 0 || static_cast<unsigned long long>(n.i) > hi) return DISP_E_OVERFLOW;
      *out = static_cast<unsigned long long>(n.i);
      return S_OK;
    case Num::kUInt:
      if (n.u > hi) return DISP_E_OVERFLOW;
      *out = n.u;
      return S_OK;
    case Num::kReal: {
      if (std::isnan(n.d)) return DISP_E_OVERFLOW;
      const long double r = std::nearbyint(static_cast<long double>(n.d));
      if (r < 0 || r > static_cast<long double>(hi)) return DISP_E_OVERFLOW;
      *out = static_cast<unsigned long long>(r);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

double to_double(const Num& n) {
  switch (n.kind) {
    case Num::kInt: return static_cast<double>(n.i);
    case Num::kUInt: return static_cast<double>(n.u);
    case Num::kReal: return n.d;
  }
  return 0;
}

std::u16string narrow_to_u16(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}

// Real to text: up to `digits` significant digits, "." as decimal point,
// exponent form "1E+20" for large and small magnitudes.
std::u16string real_text(double v, int digits) {
  if (v == 0) return u"0";
  char buf[64];
  const locale_t previous = uselocale(kx::com::internal::c_locale());
  std::snprintf(buf, sizeof buf, "%.*G", digits, v);
  uselocale(previous);
  return narrow_to_u16(buf);
}

std::u16string currency_text(long long cy) {
  const bool negative = cy < 0;
  const unsigned long long m = negative ? static_cast<unsigned long long>(-(cy + 1)) + 1
                                        : static_cast<unsigned long long>(cy);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "", m / 10000, m % 10000);
  std::string s(buf);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return narrow_to_u16(s.c_str());
}

HRESULT make_bstr(VARIANT* out, std::u16string_view text) {
  BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (s == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = s;
  return S_OK;
}

HRESULT to_text(const VARIANT& s, USHORT flags, VARIANT* out) {
  switch (s.vt) {
    case VT_EMPTY: return make_bstr(out, u"");
    case VT_BOOL:
      if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0)
        return make_bstr(out, s.boolVal ? u"True" : u"False");
      return make_bstr(out, s.boolVal ? u"-1" : u"0");
    case VT_R4: return make_bstr(out, real_text(s.fltVal, 7));
    case VT_R8: return make_bstr(out, real_text(s.dblVal, 15));
    case VT_DECIMAL: return make_bstr(out, real_text(decimal_to_double(s.decVal), 15));
    case VT_CY: return make_bstr(out, currency_text(s.cyVal.int64));
    case VT_DATE: {
      std::u16string text;
      if (!date_to_text(s.date, &text)) return DISP_E_OVERFLOW;
      return make_bstr(out, text);
    }
    case VT_UI8: return make_bstr(out, narrow_to_u16(std::to_string(s.ullVal).c_str()));
    default: {
      Num n;
      const HRESULT hr = to_num(s, &n, false);
      if (FAILED(hr) || n.kind != Num::kInt) return DISP_E_TYPEMISMATCH;
      return make_bstr(out, narrow_to_u16(std::to_string(n.i).c_str()));
    }
  }
}

HRESULT to_interface(const VARIANT& s, VARTYPE vt, VARIANT* out) {
  if (s.vt != VT_UNKNOWN && s.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  out->vt = vt;
  out->punkVal = nullptr;
  if (s.punkVal == nullptr) return S_OK;
  if (s.vt == vt) {
    s.punkVal->AddRef();
    out->punkVal = s.punkVal;
    return S_OK;
  }
  void* p = nullptr;
  const HRESULT hr =
      s.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
  if (FAILED(hr)) {
    out->vt = VT_EMPTY;
    return hr == E_NOINTERFACE ? DISP_E_TYPEMISMATCH : hr;
  }
  out->punkVal = static_cast<IUnknown*>(p);
  return S_OK;
}

HRESULT convert(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out, int depth);

// The default property of an object, converted.
HRESULT from_value_property(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out, int depth) {
  if ((flags & VARIANT_NOVALUEPROP) != 0 || s.pdispVal == nullptr || depth > 8)
    return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = s.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                  &none, &value, nullptr, nullptr);
  if (FAILED(hr)) return hr == DISP_E_MEMBERNOTFOUND ? DISP_E_TYPEMISMATCH : hr;
  VARIANT direct;
  VariantInit(&direct);
  hr = VariantCopyInd(&direct, &value);
  VariantClear(&value);
  if (FAILED(hr)) return hr;
  hr = convert(direct, vt, flags, out, depth + 1);
  VariantClear(&direct);
  return hr;
}

// s is by value; out is uninitialised and set only on success.
HRESULT convert(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out, int depth) {
  VariantInit(out);
  if (vt == VT_EMPTY) return S_OK;
  if (s.vt == vt) return VariantCopy(out, &s);
  if ((vt & VT_ARRAY) != 0 || (s.vt & VT_ARRAY) != 0) return DISP_E_TYPEMISMATCH;
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return to_interface(s, vt, out);
  if (s.vt == VT_DISPATCH) return from_value_property(s, vt, flags, out, depth);
  if (s.vt == VT_NULL || s.vt == VT_ERROR || s.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (vt == VT_NULL || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) return to_text(s, flags, out);

  if (vt == VT_DATE && s.vt == VT_BSTR) {
    DATE d;
    if (!date_from_text(std::u16string_view(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal)),
                        &d))
      return DISP_E_TYPEMISMATCH;
    out->vt = VT_DATE;
    out->date = d;
    return S_OK;
  }

  Num n;
  HRESULT hr = to_num(s, &n, vt == VT_BOOL);
  if (FAILED(hr)) return hr;
  long long sv = 0;
  unsigned long long uv = 0;
  switch (vt) {
    case VT_I1:
      hr = to_signed(n, SCHAR_MIN, SCHAR_MAX, &sv);
      out->cVal = static_cast<CHAR>(sv);
      break;
    case VT_I2:
      hr = to_signed(n, SHRT_MIN, SHRT_MAX, &sv);
      out->iVal = static_cast<SHORT>(sv);
      break;
    case VT_I4:
      hr = to_signed(n, INT32_MIN, INT32_MAX, &sv);
      out->lVal = static_cast<LONG>(sv);
      break;
    case VT_INT:
      hr = to_signed(n, INT32_MIN, INT32_MAX, &sv);
      out->intVal = static_cast<INT>(sv);
      break;
    case VT_I8:
      hr = to_signed(n, LLONG_MIN, LLONG_MAX, &sv);
      out->llVal = sv;
      break;
    case VT_UI1:
      hr = to_unsigned(n, UCHAR_MAX, &uv);
      out->bVal = static_cast<BYTE>(uv);
      break;
    case VT_UI2:
      hr = to_unsigned(n, USHRT_MAX, &uv);
      out->uiVal = static_cast<USHORT>(uv);
      break;
    case VT_UI4:
      hr = to_unsigned(n, UINT32_MAX, &uv);
      out->ulVal = static_cast<ULONG>(uv);
      break;
    case VT_UINT:
      hr = to_unsigned(n, UINT32_MAX, &uv);
      out->uintVal = static_cast<UINT>(uv);
      break;
    case VT_UI8:
      hr = to_unsigned(n, ULLONG_MAX, &uv);
      out->ullVal = uv;
      break;
    case VT_R4: {
      const double d = to_double(n);
      if (std::isfinite(d) && (d > FLT_MAX || d < -FLT_MAX)) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8: out->dblVal = to_double(n); break;
    case VT_DATE: {
      const double d = to_double(n);
      if (!(d >= kMinDate && d <= kMaxDate)) return DISP_E_OVERFLOW;
      out->date = d;
      break;
    }
    case VT_CY: {
      const long double scaled = std::nearbyint(static_cast<long double>(to_double(n)) * 10000.0L);
      if (!(scaled >= -9223372036854775808.0L && scaled < 9223372036854775808.0L))
        return DISP_E_OVERFLOW;
      out->cyVal.int64 = static_cast<long long>(scaled);
      break;
    }
    case VT_BOOL:
      out->boolVal =
          (n.kind == Num::kReal ? n.d != 0 : (n.kind == Num::kUInt ? n.u != 0 : n.i != 0))
              ? VARIANT_TRUE
              : VARIANT_FALSE;
      break;
    default:
      return kx::com::internal::is_valid_value_type(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID, USHORT wFlags,
                            VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if ((vt & VT_BYREF) != 0 || !kx::com::internal::is_valid_variant_type(vt))
    return DISP_E_BADVARTYPE;
  VARIANT source;  // the value itself, references followed
  VariantInit(&source);
  HRESULT hr = VariantCopyInd(&source, pvarSrc);
  if (FAILED(hr)) return hr;
  VARIANT result;
  hr = convert(source, vt, wFlags, &result, 0);
  VariantClear(&source);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  std::memcpy(static_cast<void*>(pvargDest), &result, sizeof(VARIANT));
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
