#include <cstring>

#include "com/dispatch.h"
#include "com/internal/variant_types.h"
#include "com/safearray.h"

namespace kx::com::internal {

unsigned element_size(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

bool is_valid_value_type(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: return true;
    default: return false;
  }
}

bool is_valid_variant_type(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  if ((vt & (VT_VECTOR | VT_RESERVED)) != 0) return false;
  if ((vt & VT_ARRAY) != 0) return element_size(base) != 0 || base == VT_EMPTY;
  if ((vt & VT_BYREF) != 0) return is_valid_value_type(base) || base == VT_VARIANT;
  return is_valid_value_type(base);
}

}  // namespace kx::com::internal

using kx::com::internal::is_valid_variant_type;

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  // Most VARIANTs cleared hold nothing: no type to check, nothing to free.
  if (vt == VT_EMPTY) {
    pvarg->llVal = 0;
    return S_OK;
  }
  // The others are mostly texts, objects and plain numbers: types known to
  // be valid, without the check.
  const bool known = vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_I4 ||
                     vt == VT_R8 || vt == VT_BOOL;
  if (!known && !is_valid_variant_type(vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) == 0) {
    if ((vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
    }
  }
  pvarg->vt = VT_EMPTY;
  pvarg->llVal = 0;
  return S_OK;
}

namespace {

// Deep copy of a by-value (or by-reference, copied as reference) VARIANT
// into the uninitialised *out. On failure *out is VT_EMPTY.
HRESULT copy_value(VARIANT* out, const VARIANT* src) {
  std::memcpy(static_cast<void*>(out), src, sizeof(VARIANT));
  const VARTYPE vt = src->vt;
  if ((vt & VT_BYREF) != 0) return S_OK;
  if ((vt & VT_ARRAY) != 0) {
    out->parray = nullptr;
    const HRESULT hr = SafeArrayCopy(src->parray, &out->parray);
    if (FAILED(hr)) VariantInit(out);
    return hr;
  }
  if (vt == VT_BSTR && src->bstrVal != nullptr) {
    out->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (out->bstrVal == nullptr) {
      VariantInit(out);
      return E_OUTOFMEMORY;
    }
  } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && src->punkVal != nullptr) {
    src->punkVal->AddRef();
  }
  return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!is_valid_variant_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy;
  const HRESULT hr = copy_value(&copy, pvargSrc);
  if (FAILED(hr)) return hr;
  const HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  std::memcpy(static_cast<void*>(pvargDest), &copy, sizeof(VARIANT));
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  const VARIANT* src = pvargSrc;
  // Follow references to VARIANTs to any depth (bounded against cycles).
  for (int depth = 0; src->vt == (VT_BYREF | VT_VARIANT); ++depth) {
    if (src->pvarVal == nullptr || depth > 64) return E_INVALIDARG;
    src = src->pvarVal;
  }
  if (!is_valid_variant_type(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT value;  // shallow view of the referred value
  VariantInit(&value);
  value.llVal = 0;
  if ((src->vt & VT_BYREF) == 0) {
    std::memcpy(static_cast<void*>(&value), src, sizeof(VARIANT));
  } else {
    if (src->byref == nullptr) return E_INVALIDARG;
    const VARTYPE base = src->vt & ~VT_BYREF;
    if (base == VT_DECIMAL) {
      std::memcpy(&value.decVal, src->pdecVal, sizeof(DECIMAL));
    } else if ((base & VT_ARRAY) != 0) {
      value.parray = *src->pparray;
    } else {
      const unsigned size = kx::com::internal::element_size(base);
      if (size == 0) return DISP_E_BADVARTYPE;
      std::memcpy(&value.llVal, src->byref, size);
    }
    value.vt = base;
  }
  VARIANT copy;
  const HRESULT hr = copy_value(&copy, &value);
  if (FAILED(hr)) return hr;
  const HRESULT cleared = VariantClear(pvarDest);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  std::memcpy(static_cast<void*>(pvarDest), &copy, sizeof(VARIANT));
  return S_OK;
}
