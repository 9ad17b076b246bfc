#include "com/dispatch_impl.h"

#include <new>
#include <vector>

#include "com/wstr.h"

namespace kx::com {

HRESULT dispatch_get_ids(std::span<const DispatchEntry> entries, REFIID riid, LPOLESTR* names,
                         UINT count, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  for (const DispatchEntry& e : entries) {
    if (_wcsicmp(e.name, names[0]) == 0) {
      ids[0] = e.dispid;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT dispatch_invoke(std::span<const DispatchEntry> entries, void* self, DISPID id, REFIID riid,
                        WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_err) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const WORD kind = flags == 0 ? DISPATCH_METHOD : flags;
  const DispatchEntry* entry = nullptr;
  for (const DispatchEntry& e : entries)
    if (e.dispid == id) entry = &e;
  if (entry == nullptr || (entry->flags & kind) == 0) return DISP_E_MEMBERNOTFOUND;

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  const bool put = (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (params->cNamedArgs > 0) {
    const bool only_put_value = put && params->cNamedArgs == 1 &&
                                params->rgdispidNamedArgs != nullptr &&
                                params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (!only_put_value) return DISP_E_NONAMEDARGS;
  }
  if (entry->arg_count > kMaxDispatchArgs || entry->optional_count > entry->arg_count ||
      params->cArgs > entry->arg_count ||
      params->cArgs < entry->arg_count - (put ? 0 : entry->optional_count))
    return DISP_E_BADPARAMCOUNT;

  // Natural order: rgvarg holds the last argument first. A named put value
  // (always rgvarg[0]) is the last argument as well.
  VARIANT* args[kMaxDispatchArgs] = {};
  const UINT n = params->cArgs;
  for (UINT i = 0; i < n; ++i) {
    VARIANT* a = &params->rgvarg[n - 1 - i];
    for (int depth = 0; a->vt == (VT_BYREF | VT_VARIANT); ++depth) {
      if (a->pvarVal == nullptr || depth > 64) {
        if (arg_err != nullptr) *arg_err = n - 1 - i;
        return DISP_E_TYPEMISMATCH;
      }
      a = a->pvarVal;
    }
    args[i] = a;
  }
  VARIANT missing[kMaxDispatchArgs];
  for (UINT i = n; i < entry->arg_count; ++i) {
    VariantInit(&missing[i]);
    missing[i].vt = VT_ERROR;
    missing[i].scode = DISP_E_PARAMNOTFOUND;
    args[i] = &missing[i];
  }
  if (result != nullptr) VariantInit(result);
  try {
    return entry->call(self, kind, args, result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace kx::com

HRESULT kx_get_dispid(IDispatch* target, const OLECHAR* name, DISPID* id) {
  if (target == nullptr || name == nullptr || id == nullptr) return E_POINTER;
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  return target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

HRESULT kx_invoke(IDispatch* target, DISPID id, WORD flags, const VARIANT* args, UINT count,
                  VARIANT* result, LCID lcid, EXCEPINFO* excep) {
  if (target == nullptr) return E_POINTER;
  if (args == nullptr && count != 0) return E_INVALIDARG;
  std::vector<VARIANT> reversed;
  try {
    reversed.resize(count);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // Shallow copies: the callee reads them, nobody clears them.
  for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, count, 0};
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 && count > 0) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  UINT arg_err = 0;
  return target->Invoke(id, IID_NULL, lcid, flags, &params, result, excep, &arg_err);
}
