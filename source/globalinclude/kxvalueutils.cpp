#include "kxvalueutils.h"

#include <charconv>
#include <cstdarg>
#include <cstring>
#include <string>

#include "com/comutil.h"
#include "com/oleauto.h"
#include "com/wstr.h"
#include "store/object.h"

namespace {

// A VT_BYREF|VT_VARIANT chain longer than this is taken for a cycle.
constexpr int kMaxVariantDepth = 256;

const VARIANT& EmptyVariant() {
  static const VARIANT empty = [] {
    VARIANT v;
    VariantInit(&v);
    return v;
  }();
  return empty;
}

VARTYPE BaseType(const VARIANT& v) { return static_cast<VARTYPE>(v.vt & ~VT_BYREF); }
bool IsByRef(const VARIANT& v) { return (v.vt & VT_BYREF) != 0; }

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return true;
    default: return false;
  }
}

// Copies the resolved value into `out` by value (references followed; a
// null reference gives VT_EMPTY).
HRESULT CopyByValue(const VARIANT& value, VARIANT* out) {
  const VARIANT& v = ResolveVariant(value);
  if (IsByRef(v) && v.byref == nullptr) {
    out->vt = VT_EMPTY;
    return S_OK;
  }
  return VariantCopyInd(out, &v);
}

// The text a VT_BSTR value (by value or reference) holds; null reference
// and null BSTR give null.
const OLECHAR* TextOf(const VARIANT& v) {
  if (!IsByRef(v)) return v.bstrVal;
  return v.pbstrVal == nullptr ? nullptr : *v.pbstrVal;
}

}  // namespace

const VARIANT& ResolveVariant(const VARIANT& value) {
  const VARIANT* v = &value;
  for (int depth = 0; v->vt == (VT_BYREF | VT_VARIANT); ++depth) {
    if (v->pvarVal == nullptr || depth == kMaxVariantDepth) return EmptyVariant();
    v = v->pvarVal;
  }
  return *v;
}

VARTYPE GetVariantTypeClass(const VARIANT& value) {
  const VARTYPE vt = BaseType(ResolveVariant(value));
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return VT_NULL;
    case VT_R4:
    case VT_R8: return VT_R8;
    case VT_DATE: return VT_DATE;
    case VT_BSTR: return VT_BSTR;
    case VT_DISPATCH:
    case VT_UNKNOWN: return VT_UNKNOWN;
    case VT_BOOL: return VT_BOOL;
    default: return IsIntegerType(vt) ? VT_I4 : VT_ERROR;
  }
}

bool IsVariantSet(const VARIANT& value) {
  const VARIANT& v = ResolveVariant(value);
  switch (BaseType(v)) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return false;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (IsByRef(v)) return v.ppunkVal != nullptr && *v.ppunkVal != nullptr;
      return v.punkVal != nullptr;
    default: return true;
  }
}

HRESULT VariantToObjectPtr(const VARIANT& value, IKXQObject** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const VARIANT& v = ResolveVariant(value);
  switch (BaseType(v)) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = IsByRef(v) ? (v.ppunkVal != nullptr ? *v.ppunkVal : nullptr) : v.punkVal;
      if (object == nullptr) return S_OK;
      return object->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(out));
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT VariantToLong(const VARIANT& value, LONG* out, bool lenient) {
  if (out == nullptr) return E_POINTER;
  const VARIANT& v = ResolveVariant(value);
  // A 32-bit integer, the store's own form of one, needs no conversion.
  if (v.vt == VT_I4) {
    *out = v.lVal;
    return S_OK;
  }
  if (!lenient && !IsIntegerType(BaseType(v))) return DISP_E_TYPEMISMATCH;
  _variant_t copy;
  HRESULT hr = CopyByValue(v, &copy);
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(&copy, &copy, 0, VT_I4);
  if (FAILED(hr)) return hr;
  *out = copy.lVal;
  return S_OK;
}

HRESULT VariantToDouble(const VARIANT& value, double* out, bool lenient) {
  if (out == nullptr) return E_POINTER;
  const VARIANT& v = ResolveVariant(value);
  const bool byRef = IsByRef(v);
  switch (BaseType(v)) {
    case VT_R4: *out = byRef ? (v.pfltVal != nullptr ? *v.pfltVal : 0.0) : v.fltVal; return S_OK;
    case VT_R8: *out = byRef ? (v.pdblVal != nullptr ? *v.pdblVal : 0.0) : v.dblVal; return S_OK;
    case VT_DATE: *out = byRef ? (v.pdate != nullptr ? *v.pdate : 0.0) : v.date; return S_OK;
    default: break;
  }
  if (!lenient) return DISP_E_TYPEMISMATCH;
  if (BaseType(v) == VT_BSTR) {
    // A text that is no number leaves the output as it was.
    double parsed = 0;
    if (ParseValueDouble(TextOf(v), &parsed)) *out = parsed;
    return S_OK;
  }
  _variant_t copy;
  HRESULT hr = CopyByValue(v, &copy);
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(&copy, &copy, 0, VT_R8);
  if (FAILED(hr)) return hr;
  *out = copy.dblVal;
  return S_OK;
}

HRESULT VariantToBool(const VARIANT& value, bool* out, bool lenient) {
  if (out == nullptr) return E_POINTER;
  const VARIANT& v = ResolveVariant(value);
  if (BaseType(v) == VT_BOOL) {
    if (IsByRef(v)) {
      *out = v.pboolVal != nullptr && *v.pboolVal != 0;
    } else {
      *out = v.boolVal != 0;
    }
    return S_OK;
  }
  if (!lenient) return DISP_E_TYPEMISMATCH;
  BSTR text = nullptr;
  if (SUCCEEDED(VariantToString(v, &text))) {
    const HRESULT hr = ParseBoolean(text, out);
    SysFreeString(text);
    return hr;
  }
  _variant_t copy;
  HRESULT hr = CopyByValue(v, &copy);
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(&copy, &copy, 0, VT_BOOL);
  if (FAILED(hr)) return hr;
  *out = copy.boolVal != 0;
  return S_OK;
}

HRESULT VariantToString(const VARIANT& value, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const VARIANT& v = ResolveVariant(value);
  if (BaseType(v) != VT_BSTR) return DISP_E_TYPEMISMATCH;
  const OLECHAR* text = TextOf(v);
  if (text == nullptr) return S_OK;
  // Keeps embedded zeros: the length comes from the BSTR itself.
  *out = SysAllocStringLen(text, SysStringLen(const_cast<BSTR>(text)));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT ParseBoolean(const OLECHAR* text, bool* out) {
  if (text == nullptr || out == nullptr) return E_FAIL;
  static constexpr const char16_t* kTrue[] = {u"1", u"true", u"yes", u"on"};
  static constexpr const char16_t* kFalse[] = {u"0", u"false", u"no", u"off"};
  for (const char16_t* word : kTrue) {
    if (_wcsicmp(text, word) == 0) {
      *out = true;
      return S_OK;
    }
  }
  for (const char16_t* word : kFalse) {
    if (_wcsicmp(text, word) == 0) {
      *out = false;
      return S_OK;
    }
  }
  return E_FAIL;
}

bool ParseValueDouble(const OLECHAR* text, double* out) {
  // The request parser's reading, so that a value reads the same number
  // whichever way it arrives.
  if (text == nullptr || out == nullptr) return false;
  return kx_parse_double(text, out);
}

void FormatValueDouble(double value, OLECHAR (&out)[64]) {
  char narrow[64];
  const auto result = std::to_chars(narrow, narrow + 63, value, std::chars_format::general, 16);
  const size_t length = result.ec == std::errc() ? static_cast<size_t>(result.ptr - narrow) : 0;
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<OLECHAR>(narrow[i]);
  out[length] = 0;
}

void AssignString(OLECHAR*& buffer, const OLECHAR* text) {
  if (text == buffer) return;
  OLECHAR* copy = DuplicateWideString(text);
  delete[] buffer;
  buffer = copy;
}

void AssignBstr(BSTR& member, const OLECHAR* text) {
  BSTR copy = nullptr;
  if (text != nullptr) {
    copy = SysAllocString(text);
    if (copy == nullptr) _com_issue_error(E_OUTOFMEMORY);
  }
  SysFreeString(member);
  member = copy;
}

OLECHAR* DuplicateWideString(const OLECHAR* text, std::size_t length) {
  if (text == nullptr) return nullptr;
  if (length == 0) length = kx_wcslen(text);
  OLECHAR* copy = new OLECHAR[length + 1];
  std::memcpy(copy, text, length * sizeof(OLECHAR));
  copy[length] = 0;
  return copy;
}

void FormatString(OLECHAR*& buffer, const OLECHAR* format, ...) {
  constexpr size_t kMaxLength = 1024;
  va_list args;
  va_start(args, format);
  std::u16string text = kx_vformat(format, args);
  va_end(args);
  if (text.size() > kMaxLength) text.resize(kMaxLength);
  OLECHAR* copy = DuplicateWideString(text.c_str(), text.size());
  delete[] buffer;
  buffer = copy;
}
