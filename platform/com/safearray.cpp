#include "com/safearray.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "com/dispatch.h"
#include "com/internal/variant_types.h"

using kx::com::internal::element_size;

namespace {

// Every descriptor is preceded by this block: the interface id
// (FADF_HAVEIID) and the element type (always stored).
struct Prefix {
  GUID iid;
  std::uint32_t pad;
  std::uint32_t vt;
};
static_assert(sizeof(Prefix) == 24);

constexpr UINT kMaxDims = 64;
// Data larger than this is refused (as on Windows, sizes are 32-bit there).
constexpr std::uint64_t kMaxDataBytes = 0x7FFFFFFFull;

Prefix* prefix_of(SAFEARRAY* psa) {
  return reinterpret_cast<Prefix*>(reinterpret_cast<unsigned char*>(psa) - sizeof(Prefix));
}

std::size_t descriptor_bytes(UINT dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Number of elements, or false on overflow.
bool element_count(const SAFEARRAY* psa, std::uint64_t* count) {
  std::uint64_t n = 1;
  for (UINT i = 0; i < psa->cDims; ++i) {
    const std::uint64_t e = psa->rgsabound[i].cElements;
    if (e != 0 && n > kMaxDataBytes / e) return false;
    n *= e;
  }
  if (n * psa->cbElements > kMaxDataBytes) return false;
  *count = n;
  return true;
}

std::uint64_t total_elements(const SAFEARRAY* psa) {
  std::uint64_t n = 1;
  for (UINT i = 0; i < psa->cDims; ++i) n *= psa->rgsabound[i].cElements;
  return n;
}

USHORT features_for(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_BSTR | FADF_HAVEVARTYPE;
    case VT_UNKNOWN: return FADF_UNKNOWN | FADF_HAVEIID;
    case VT_DISPATCH: return FADF_DISPATCH | FADF_HAVEIID;
    case VT_VARIANT: return FADF_VARIANT | FADF_HAVEVARTYPE;
    default: return FADF_HAVEVARTYPE;
  }
}

// Releases what elements [first, first + count) own and zeroes them.
void release_elements(SAFEARRAY* psa, std::uint64_t first, std::uint64_t count) {
  if (psa->pvData == nullptr || count == 0) return;
  unsigned char* base = static_cast<unsigned char*>(psa->pvData) + first * psa->cbElements;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto* items = reinterpret_cast<BSTR*>(base);
    for (std::uint64_t i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* items = reinterpret_cast<IUnknown**>(base);
    for (std::uint64_t i = 0; i < count; ++i)
      if (items[i] != nullptr) items[i]->Release();
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    auto* items = reinterpret_cast<VARIANT*>(base);
    for (std::uint64_t i = 0; i < count; ++i) VariantClear(&items[i]);
  }
  std::memset(base, 0, count * psa->cbElements);
}

// Offset (in elements) of rgIndices, or false when outside the bounds.
// rgIndices[0] is the first dimension, which is rgsabound[cDims - 1].
bool cell_of(const SAFEARRAY* psa, const LONG* rgIndices, std::uint64_t* cell) {
  std::uint64_t offset = 0;
  std::uint64_t stride = 1;
  for (UINT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
    const long long rel = static_cast<long long>(rgIndices[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<long long>(b.cElements)) return false;
    offset += static_cast<std::uint64_t>(rel) * stride;
    stride *= b.cElements;
  }
  *cell = offset;
  return true;
}

SAFEARRAY* create(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds, const GUID* iid) {
  if (cDims == 0 || cDims > kMaxDims || bounds == nullptr) return nullptr;
  const unsigned size = element_size(vt);
  if (size == 0) return nullptr;
  const std::size_t bytes = sizeof(Prefix) + descriptor_bytes(cDims);
  auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
  if (block == nullptr) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + sizeof(Prefix));
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = features_for(vt);
  psa->cbElements = size;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = bounds[i];
  Prefix* prefix = prefix_of(psa);
  prefix->vt = vt;
  if ((psa->fFeatures & FADF_HAVEIID) != 0)
    prefix->iid = iid != nullptr ? *iid : (vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
  std::uint64_t count = 0;
  if (!element_count(psa, &count)) {
    std::free(block);
    return nullptr;
  }
  if (count > 0) {
    psa->pvData = std::calloc(count, size);
    if (psa->pvData == nullptr) {
      std::free(block);
      return nullptr;
    }
  }
  return psa;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  return create(vt, cDims, rgsabound, nullptr);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return create(vt, 1, &bound, nullptr);
}

SAFEARRAY* SafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, PVOID pvExtra) {
  const GUID* iid =
      (vt == VT_UNKNOWN || vt == VT_DISPATCH) ? static_cast<const GUID*>(pvExtra) : nullptr;
  return create(vt, cDims, rgsabound, iid);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  release_elements(psa, 0, total_elements(psa));
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  release_elements(psa, 0, total_elements(psa));
  std::free(psa->pvData);
  std::free(prefix_of(psa));
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) {
    *ppvData = nullptr;
    return hr;
  }
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  std::uint64_t cell;
  if (!cell_of(psa, rgIndices, &cell)) return DISP_E_BADINDEX;
  *ppvData = static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  std::uint64_t cell;
  if (!cell_of(psa, rgIndices, &cell)) return DISP_E_BADINDEX;
  const void* item = static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    const BSTR s = *static_cast<const BSTR*>(item);
    BSTR copy = nullptr;
    if (s != nullptr) {
      copy = SysAllocStringLen(s, SysStringLen(s));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(pv) = copy;
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    IUnknown* p = *static_cast<IUnknown* const*>(item);
    if (p != nullptr) p->AddRef();
    *static_cast<IUnknown**>(pv) = p;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    auto* out = static_cast<VARIANT*>(pv);
    VariantInit(out);
    return VariantCopy(out, static_cast<const VARIANT*>(item));
  } else {
    std::memcpy(pv, item, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
  std::uint64_t cell;
  if (!cell_of(psa, rgIndices, &cell)) return DISP_E_BADINDEX;
  void* item = static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    const auto s = static_cast<const OLECHAR*>(pv);
    BSTR copy = nullptr;
    if (s != nullptr) {
      copy = SysAllocStringLen(s, SysStringLen(const_cast<BSTR>(s)));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    SysFreeString(*static_cast<BSTR*>(item));
    *static_cast<BSTR*>(item) = copy;
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* p = static_cast<IUnknown*>(pv);
    if (p != nullptr) p->AddRef();
    IUnknown*& slot = *static_cast<IUnknown**>(item);
    if (slot != nullptr) slot->Release();
    slot = p;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    if (pv == nullptr) return E_INVALIDARG;
    return VariantCopy(static_cast<VARIANT*>(item), static_cast<const VARIANT*>(pv));
  } else {
    if (pv == nullptr) return E_INVALIDARG;
    std::memcpy(item, pv, psa->cbElements);
  }
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }
UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<long long>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if ((psa->fFeatures & FADF_HAVEVARTYPE) != 0) {
    *pvt = static_cast<VARTYPE>(prefix_of(psa)->vt);
  } else if ((psa->fFeatures & FADF_BSTR) != 0) {
    *pvt = VT_BSTR;
  } else if ((psa->fFeatures & FADF_UNKNOWN) != 0) {
    *pvt = VT_UNKNOWN;
  } else if ((psa->fFeatures & FADF_DISPATCH) != 0) {
    *pvt = VT_DISPATCH;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) {
  if (psa == nullptr || pguid == nullptr || (psa->fFeatures & FADF_HAVEIID) == 0)
    return E_INVALIDARG;
  *pguid = prefix_of(psa)->iid;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  VARTYPE vt;
  if (FAILED(SafeArrayGetVartype(psa, &vt))) return E_INVALIDARG;
  SAFEARRAYBOUND bounds[kMaxDims];
  for (UINT i = 0; i < psa->cDims; ++i) bounds[i] = psa->rgsabound[psa->cDims - 1 - i];
  GUID iid{};
  const bool has_iid = SUCCEEDED(SafeArrayGetIID(psa, &iid));
  SAFEARRAY* copy = create(vt, psa->cDims, bounds, has_iid ? &iid : nullptr);
  if (copy == nullptr) return E_OUTOFMEMORY;
  const std::uint64_t count = total_elements(psa);
  const auto* from = static_cast<const unsigned char*>(psa->pvData);
  auto* to = static_cast<unsigned char*>(copy->pvData);
  for (std::uint64_t i = 0; i < count; ++i) {
    const void* a = from + i * psa->cbElements;
    void* b = to + i * psa->cbElements;
    if ((psa->fFeatures & FADF_BSTR) != 0) {
      const BSTR s = *static_cast<const BSTR*>(a);
      if (s != nullptr &&
          (*static_cast<BSTR*>(b) = SysAllocStringLen(s, SysStringLen(s))) == nullptr) {
        SafeArrayDestroy(copy);
        return E_OUTOFMEMORY;
      }
    } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
      IUnknown* p = *static_cast<IUnknown* const*>(a);
      if (p != nullptr) p->AddRef();
      *static_cast<IUnknown**>(b) = p;
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
      const HRESULT hr = VariantCopy(static_cast<VARIANT*>(b), static_cast<const VARIANT*>(a));
      if (FAILED(hr)) {
        SafeArrayDestroy(copy);
        return hr;
      }
    } else {
      std::memcpy(b, a, psa->cbElements);
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (psa == nullptr || psaboundNew == nullptr) return E_INVALIDARG;
  if (psa->cLocks > 0 || (psa->fFeatures & FADF_FIXEDSIZE) != 0) return DISP_E_ARRAYISLOCKED;
  const std::uint64_t old_count = total_elements(psa);
  const SAFEARRAYBOUND old_bound = psa->rgsabound[0];
  psa->rgsabound[0] = *psaboundNew;
  std::uint64_t new_count = 0;
  if (!element_count(psa, &new_count)) {
    psa->rgsabound[0] = old_bound;
    return E_OUTOFMEMORY;
  }
  if (new_count == old_count) return S_OK;
  if (new_count == 0) {
    // The last dimension varies slowest: dropped elements are at the end.
    release_elements(psa, 0, old_count);
    std::free(psa->pvData);
    psa->pvData = nullptr;
    return S_OK;
  }
  if (new_count < old_count) release_elements(psa, new_count, old_count - new_count);
  void* data = std::realloc(psa->pvData, new_count * psa->cbElements);
  if (data == nullptr) {
    // Only a growth can fail here; nothing was released.
    psa->rgsabound[0] = old_bound;
    return E_OUTOFMEMORY;
  }
  psa->pvData = data;
  if (new_count > old_count)
    std::memset(static_cast<unsigned char*>(data) + old_count * psa->cbElements, 0,
                (new_count - old_count) * psa->cbElements);
  return S_OK;
}
