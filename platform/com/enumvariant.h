// IEnumVARIANT and an implementation over a list of values.
#pragma once

#include "com/variant.h"

struct IEnumVARIANT : IUnknown {
  // Copies up to celt values into rgVar (which the caller clears);
  // S_OK when celt were fetched, S_FALSE when fewer.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) = 0;

 protected:
  ~IEnumVARIANT() = default;
};
KX_DEFINE_IID(IEnumVARIANT, 0x00020404, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46)

// An enumerator over copies of items[0..count) (items may be null when count
// is 0). The caller keeps ownership of `items`; the enumerator owns its
// copies. One reference, the caller's; atomic count; Clone shares the values
// and copies the position.
HRESULT kx_create_enum_variant(const VARIANT* items, ULONG count, IEnumVARIANT** ppEnum);
