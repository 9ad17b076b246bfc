#include "variantutil.h"

#include <cstdint>
#include <string>

#include "com/comutil.h"
#include "com/oleauto.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxvalueutils.h"
#include "store/object.h"
#include "store/templates.h"

namespace {

constexpr OLECHAR kSourceFile[] = u"source/globalinclude/variantutil";

BSTR AllocOrThrow(const OLECHAR* text, UINT length) {
  BSTR result = SysAllocStringLen(text, length);
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return result;
}

BSTR DecimalBstr(LONG value) {
  OLECHAR digits[16];
  int n = 0;
  int64_t v = value;
  const bool negative = v < 0;
  if (negative) v = -v;
  do {
    digits[n++] = static_cast<OLECHAR>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  OLECHAR text[16];
  UINT length = 0;
  if (negative) text[length++] = u'-';
  while (n > 0) text[length++] = digits[--n];
  return AllocOrThrow(text, length);
}

// The size in bytes of one element of each readable element type.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I2: return sizeof(SHORT);
    case VT_I4: return sizeof(LONG);
    case VT_R4: return sizeof(float);
    case VT_R8: return sizeof(double);
    case VT_BSTR: return sizeof(BSTR);
    case VT_DISPATCH: return sizeof(IDispatch*);
    case VT_BOOL: return sizeof(VARIANT_BOOL);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_UNKNOWN: return sizeof(IUnknown*);
    default: return 0;
  }
}

HRESULT ReadElement(SAFEARRAY* array, VARTYPE vt, LONG* indices, VARIANT* out) {
  const ULONG size = ElementSize(vt);
  if (size == 0) return E_INVALIDARG;
  if (array == nullptr || indices == nullptr) return E_INVALIDARG;
  // Reading with another type than the array's would write past the
  // VARIANT for wider elements.
  if (SafeArrayGetElemsize(array) != size) return E_INVALIDARG;
  // Types of the same size differ no less: an interface read as a BSTR
  // would be freed as a string, a BSTR copy read as a real would leak.
  const VARTYPE own = VariantUtil::GetSafeArrayVartype(array);
  if (own != VT_EMPTY && own != vt) return E_INVALIDARG;
  HRESULT hr = E_INVALIDARG;
  switch (vt) {
    case VT_I2: hr = SafeArrayGetElement(array, indices, &out->iVal); break;
    case VT_I4: hr = SafeArrayGetElement(array, indices, &out->lVal); break;
    case VT_R4: hr = SafeArrayGetElement(array, indices, &out->fltVal); break;
    case VT_R8: hr = SafeArrayGetElement(array, indices, &out->dblVal); break;
    case VT_BSTR: hr = SafeArrayGetElement(array, indices, &out->bstrVal); break;
    case VT_DISPATCH: hr = SafeArrayGetElement(array, indices, &out->pdispVal); break;
    case VT_BOOL: hr = SafeArrayGetElement(array, indices, &out->boolVal); break;
    case VT_UNKNOWN: hr = SafeArrayGetElement(array, indices, &out->punkVal); break;
    case VT_VARIANT: {
      VARIANT element;
      VariantInit(&element);
      hr = SafeArrayGetElement(array, indices, &element);
      if (SUCCEEDED(hr)) *out = element;  // takes over what the copy owns
      return hr;
    }
    default: break;
  }
  if (SUCCEEDED(hr)) out->vt = vt;
  return hr;
}

}  // namespace

namespace VariantUtil {

void FormatForXML(const VARIANT& value, BSTR* out) {
  KXComException ctx(u"VariantUtil::FormatForXML", 0);
  CheckPointerArgument(ctx, out);
  *out = nullptr;
  const VARIANT& v = ResolveVariant(value);
  switch (GetVariantTypeClass(v)) {
    case VT_NULL: return;
    case VT_I4: {
      LONG number = 0;
      HRESULT hr = S_OK;
      if ((v.vt & VT_BYREF) != 0) {
        hr = VariantToLong(v, &number, false);
      } else {
        VARIANT copy;
        VariantInit(&copy);
        hr = VariantChangeType(&copy, &v, 0, VT_I4);
        if (SUCCEEDED(hr)) number = copy.lVal;
        VariantClear(&copy);
      }
      if (FAILED(hr)) ThrowKXComExceptionHr(ctx, hr, nullptr);
      *out = DecimalBstr(number);
      return;
    }
    case VT_R8:
    case VT_DATE: {
      double number = 0;
      const HRESULT hr = VariantToDouble(v, &number, false);
      if (FAILED(hr)) ThrowKXComExceptionHr(ctx, hr, nullptr);
      OLECHAR text[64];
      FormatValueDouble(number, text);
      *out = AllocOrThrow(text, static_cast<UINT>(kx_wcslen(text)));
      return;
    }
    case VT_BSTR: {
      const OLECHAR* text =
          (v.vt & VT_BYREF) != 0 ? (v.pbstrVal != nullptr ? *v.pbstrVal : nullptr) : v.bstrVal;
      if (text != nullptr) *out = AllocOrThrow(text, SysStringLen(const_cast<BSTR>(text)));
      return;
    }
    case VT_BOOL: {
      bool flag = false;
      (void)VariantToBool(v, &flag, false);
      *out = AllocOrThrow(flag ? u"1" : u"0", 1);
      return;
    }
    case VT_UNKNOWN:
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), E_INVALIDARG,
                              u"Cannot convert a object into an XML string");
    default:
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), E_INVALIDARG,
                              u"No defined XML format for variant type");
  }
}

bool ChangeTypeFromXML(VARIANT& value, VARTYPE target) {
  if (!IsVariantSet(value)) {
    VariantClear(&value);
    value.vt = VT_NULL;
    return target == VT_NULL;
  }
  if (target == VT_BSTR) {
    if (value.vt != VT_BSTR) {
      BSTR text = nullptr;
      FormatForXML(value, &text);
      VariantClear(&value);
      value.vt = VT_BSTR;
      value.bstrVal = text;
    }
    return true;
  }
  const VARIANT& resolved = ResolveVariant(value);
  if ((resolved.vt & ~VT_BYREF) == VT_BSTR) {
    BSTR text = nullptr;
    const HRESULT copied = VariantToString(resolved, &text);
    if (FAILED(copied)) _com_issue_error(copied);
    const std::u16string content =
        text == nullptr ? std::u16string() : std::u16string(text, SysStringLen(text));
    SysFreeString(text);
    VariantClear(&value);
    value.vt = VT_NULL;
    if (content.empty()) return target == VT_NULL;
    switch (target) {
      case VT_I4:
        value.vt = VT_I4;
        value.lVal = _wtol(content.c_str());
        break;
      case VT_R8:
      case VT_DATE: {
        double number = 0;
        if (ParseValueDouble(content.c_str(), &number)) {
          value.vt = target;
          value.dblVal = number;  // DATE is a double too
        }
        break;
      }
      case VT_BOOL: {
        bool flag = false;
        const HRESULT hr = ParseBoolean(content.c_str(), &flag);
        if (FAILED(hr)) {
          KXComException ctx = KXComException::Silent(u"VariantUtil::ChangeTypeFromXML");
          ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), hr,
                                  u"Cannot convert '%ls' to a Boolean", content.c_str());
        }
        value.vt = VT_BOOL;
        value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      }
      default: {
        KXComException ctx = KXComException::Silent(u"VariantUtil::ChangeTypeFromXML");
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), E_FAIL,
                                u"No defined XML format for given type");
      }
    }
    return value.vt == target;
  }
  VARIANT converted;
  VariantInit(&converted);
  HRESULT hr = VariantCopyInd(&converted, &resolved);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&converted, &converted, 0, target);
  if (FAILED(hr)) {
    VariantClear(&converted);
    KXComException ctx = KXComException::Silent(u"VariantUtil::ChangeTypeFromXML");
    ThrowKXComExceptionHr(ctx, hr, nullptr);
  }
  VariantClear(&value);
  value = converted;  // takes over what the conversion owns
  return value.vt == target;
}

VARTYPE GetSafeArrayVartype(SAFEARRAY* array) {
  if (array == nullptr) return VT_EMPTY;
  const USHORT features = array->fFeatures;
  if ((features & FADF_BSTR) != 0) return VT_BSTR;
  if ((features & FADF_UNKNOWN) != 0) return VT_UNKNOWN;
  if ((features & FADF_DISPATCH) != 0) return VT_DISPATCH;
  if ((features & FADF_VARIANT) != 0) return VT_VARIANT;
  if ((features & FADF_HAVEVARTYPE) != 0) {
    VARTYPE vt = VT_EMPTY;
    if (SUCCEEDED(SafeArrayGetVartype(array, &vt))) return vt;
  }
  return VT_EMPTY;
}

HRESULT GetSafeArrayElement(SAFEARRAY* array, VARTYPE elementType, LONG* indices, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  out->vt = VT_EMPTY;
  const HRESULT hr = ReadElement(array, elementType, indices, out);
  if (FAILED(hr)) {
    out->vt = VT_ERROR;
    out->scode = hr;
  }
  return hr;
}

// ---------------------------------------------------------------------------
// SafeArrayVector

SafeArrayVector::SafeArrayVector(SAFEARRAY* array, bool owns) {
  Build(array, owns, Form::kObjects);
}

void SafeArrayVector::AttachStrings(SAFEARRAY* array, bool owns) {
  Release();
  Build(array, owns, Form::kStrings);
}

void SafeArrayVector::Build(SAFEARRAY* array, bool owns, Form form) {
  m_owns = owns;
  m_array = nullptr;
  m_count = 0;
  m_lowerBound = 0;
  m_vartype = VT_EMPTY;
  if (array == nullptr) {
    m_vartype = form == Form::kStrings ? VT_BSTR : VT_DISPATCH;
    return;
  }
  if (FAILED(SafeArrayLock(array))) return;
  const VARTYPE vt = GetSafeArrayVartype(array);
  const bool accepted = form == Form::kStrings
                            ? (vt == VT_BSTR || vt == VT_VARIANT)
                            : (vt == VT_DISPATCH || vt == VT_VARIANT || vt == VT_UNKNOWN);
  if (!accepted || SafeArrayGetDim(array) != 1) {
    SafeArrayUnlock(array);
    return;
  }
  Keep(array, vt);
}

void SafeArrayVector::Keep(SAFEARRAY* array, VARTYPE vt) {
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  m_vartype = vt;
  m_array = array;
  m_lowerBound = lower;
  m_count = upper - lower + 1;
}

HRESULT SafeArrayVector::AttachObjects(SAFEARRAY* array, bool owns) {
  Release();
  if (array == nullptr) return E_POINTER;
  m_owns = owns;
  const HRESULT hr = SafeArrayLock(array);
  if (FAILED(hr)) return hr;
  const VARTYPE vt = GetSafeArrayVartype(array);
  if ((vt != VT_DISPATCH && vt != VT_VARIANT && vt != VT_UNKNOWN) || SafeArrayGetDim(array) != 1) {
    SafeArrayUnlock(array);
    return E_INVALIDARG;
  }
  Keep(array, vt);
  return S_OK;
}

HRESULT SafeArrayVector::Attach(SAFEARRAY* array, bool owns) {
  KXComException ctx(u"VariantUtil::SafeArrayVector::Attach");
  try {
    Release();
    CheckPointerArgument(ctx, array);
    m_owns = owns;
    KX_CHECK(ctx, SafeArrayLock(array));
    if (SafeArrayGetDim(array) != 1) {
      SafeArrayUnlock(array);
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), E_INVALIDARG,
                              u"Safe array is not a 1-Dimensional vector");
    }
    Keep(array, GetSafeArrayVartype(array));
  }
  KX_CATCH(ctx, KX_HERE(kSourceFile))
  return ctx.Return();
}

void SafeArrayVector::Release() {
  SAFEARRAY* array = m_array;
  m_array = nullptr;
  m_count = 0;
  m_lowerBound = 0;
  if (array == nullptr) return;
  SafeArrayUnlock(array);
  if (m_owns) SafeArrayDestroy(array);
}

HRESULT SafeArrayVector::GetInterfaceAt(int32_t index, REFIID iid, void** out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const bool interfaces =
      m_vartype == VT_VARIANT || m_vartype == VT_UNKNOWN || m_vartype == VT_DISPATCH;
  if (!interfaces) return E_FAIL;
  if (m_array == nullptr) return DISP_E_BADINDEX;
  // An index whose platform index leaves the 32-bit range lies outside the
  // array like any other index past its ends.
  const int64_t wideIndex = int64_t{m_lowerBound} + index;
  if (wideIndex < INT32_MIN || wideIndex > INT32_MAX) return DISP_E_BADINDEX;
  LONG platformIndex = static_cast<LONG>(wideIndex);
  switch (m_vartype) {
    case VT_VARIANT: {
      VARIANT element;
      VariantInit(&element);
      HRESULT hr = SafeArrayGetElement(m_array, &platformIndex, &element);
      if (SUCCEEDED(hr)) hr = VariantChangeType(&element, &element, 0, VT_UNKNOWN);
      if (SUCCEEDED(hr)) {
        hr = element.punkVal != nullptr ? element.punkVal->QueryInterface(iid, out) : E_POINTER;
      }
      VariantClear(&element);
      return hr;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* element = nullptr;
      HRESULT hr = SafeArrayGetElement(m_array, &platformIndex, &element);
      if (FAILED(hr)) return hr;
      if (element == nullptr) return E_POINTER;
      hr = element->QueryInterface(iid, out);
      element->Release();
      return hr;
    }
    default: return E_FAIL;
  }
}

HRESULT SafeArrayVector::GetClassAt(int32_t index, IKXQClass** out) const {
  return GetInterfaceAt(index, out);
}

HRESULT SafeArrayVector::GetClassViewAt(int32_t index, IKXQClassView** out) const {
  return GetInterfaceAt(index, out);
}

HRESULT SafeArrayVector::GetStringAt(int32_t index, BSTR* text) const {
  if (text == nullptr) return E_POINTER;
  if (m_array == nullptr) return DISP_E_BADINDEX;
  LONG at = m_lowerBound + index;
  if (m_vartype == VT_BSTR) {
    BSTR element = nullptr;
    const HRESULT hr = SafeArrayGetElement(m_array, &at, &element);
    if (FAILED(hr)) return hr;
    SysFreeString(*text);
    *text = element;
    return S_OK;
  }
  if (m_vartype != VT_VARIANT) return E_FAIL;
  VARIANT element;
  VariantInit(&element);
  HRESULT hr = SafeArrayGetElement(m_array, &at, &element);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&element, &element, 0, VT_BSTR);
  if (SUCCEEDED(hr)) {
    if (*text != element.bstrVal) SysFreeString(*text);
    *text = element.bstrVal;
    element.vt = VT_EMPTY;
  }
  VariantClear(&element);
  return hr;
}

// ---------------------------------------------------------------------------
// SafeArrayMatrix

HRESULT SafeArrayMatrix::Attach(SAFEARRAY* array, bool owns) {
  KXComException ctx(u"VariantUtil::SafeArrayMatrix::Attach");
  try {
    Release();
    CheckPointerArgument(ctx, array);
    m_owns = owns;
    KX_CHECK(ctx, SafeArrayLock(array));
    if (SafeArrayGetDim(array) != 2) {
      SafeArrayUnlock(array);
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kSourceFile), E_INVALIDARG,
                              u"Safe array is not a 2-Dimensional vector");
    }
    LONG lower1 = 0, upper1 = -1, lower2 = 0, upper2 = -1;
    SafeArrayGetLBound(array, 1, &lower1);
    SafeArrayGetUBound(array, 1, &upper1);
    SafeArrayGetLBound(array, 2, &lower2);
    SafeArrayGetUBound(array, 2, &upper2);
    m_vartype = GetSafeArrayVartype(array);
    m_array = array;
    m_lowerBound1 = lower1;
    m_count1 = upper1 - lower1 + 1;
    m_lowerBound2 = lower2;
    m_count2 = upper2 - lower2 + 1;
  }
  KX_CATCH(ctx, KX_HERE(kSourceFile))
  return ctx.Return();
}

void SafeArrayMatrix::Release() {
  SAFEARRAY* array = m_array;
  m_array = nullptr;
  m_count1 = m_count2 = 0;
  m_lowerBound1 = m_lowerBound2 = 0;
  if (array == nullptr) return;
  SafeArrayUnlock(array);
  if (m_owns) SafeArrayDestroy(array);
}

}  // namespace VariantUtil

// ---------------------------------------------------------------------------
// SortedIdArray

bool SortedIdArray::Find(int32_t id, int32_t* index) const {
  return SortedFind(
      m_count, [&](int32_t i) { return id < m_block[i] ? -1 : (id > m_block[i] ? 1 : 0); }, index);
}

bool SortedIdArray::Add(int32_t id) {
  int32_t index = 0;
  if (Find(id, &index)) return false;
  if (m_count == m_capacity) {
    const int32_t capacity = kxarrays_detail::GrownCapacity(m_capacity, 8);
    int32_t* block = new int32_t[static_cast<size_t>(capacity)];
    if (m_count > 0) {
      std::memcpy(block, m_block, sizeof(int32_t) * static_cast<size_t>(index));
      std::memcpy(block + index + 1, m_block + index,
                  sizeof(int32_t) * static_cast<size_t>(m_count - index));
    }
    delete[] m_block;
    m_block = block;
    m_capacity = capacity;
  } else if (index < m_count) {
    std::memmove(m_block + index + 1, m_block + index,
                 sizeof(int32_t) * static_cast<size_t>(m_count - index));
  }
  m_block[index] = id;
  ++m_count;
  return true;
}

void SortedIdArray::RemoveAll() {
  delete[] m_block;
  m_block = nullptr;
  m_count = 0;
  m_capacity = 0;
}

// ---------------------------------------------------------------------------
// OwnedString

OwnedString::OwnedString(const OLECHAR* text) : m_text(DuplicateWideString(text)) {}

OwnedString::OwnedString(const OwnedString& other) : m_text(DuplicateWideString(other.m_text)) {}

OwnedString& OwnedString::operator=(const OwnedString& other) {
  if (other.m_text != m_text) Assign(other.m_text);
  return *this;
}

OwnedString& OwnedString::operator=(OwnedString&& other) noexcept {
  if (this != &other) {
    delete[] m_text;
    m_text = other.m_text;
    other.m_text = nullptr;
  }
  return *this;
}

void OwnedString::Assign(const OLECHAR* text) { AssignString(m_text, text); }

void OwnedString::Reset() {
  delete[] m_text;
  m_text = nullptr;
}
