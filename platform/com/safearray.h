// SAFEARRAY: bounded multi-dimensional arrays of OLE Automation, with the C
// layout and the SafeArray* family.
//
// rgsabound is stored in reverse order of the dimensions, as on Windows:
// rgsabound[0] is the last (rightmost) dimension. Functions taking a
// dimension number count from 1 = first (leftmost) dimension; index arrays
// (rgIndices) list the indices in dimension order, first dimension first.
// Data are stored with the first index varying fastest.
//
// Ownership: SafeArrayDestroy releases the elements (BSTRs freed, VARIANTs
// cleared, interfaces released). Get/PutElement copy: a BSTR element comes
// back as a new BSTR that the caller frees, a VARIANT as a copy the caller
// clears, an interface AddRef'd for the caller; PutElement stores a copy
// (BSTR duplicated, VARIANT copied, interface AddRef'd) and releases the
// element it replaces.
#pragma once

#include "com/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
using LPSAFEARRAYBOUND = SAFEARRAYBOUND*;

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(sizeof(SAFEARRAY) == (sizeof(void*) == 8 ? 32 : 24));

// Feature flags.
inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;
inline constexpr USHORT FADF_RESERVED = 0xF008;

// Creates an array of `cDims` dimensions (1..64) of element type vt. Element
// types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8,
// VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_UNKNOWN,
// VT_ERROR, VT_BOOL, VT_VARIANT, VT_DECIMAL. Elements start zeroed (null
// BSTRs and interfaces, VT_EMPTY VARIANTs). Null on bad arguments, overflow
// or lack of memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// For VT_DISPATCH/VT_UNKNOWN, pvExtra may give the IID; other types ignore it.
SAFEARRAY* SafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, PVOID pvExtra);
// Fails with DISP_E_ARRAYISLOCKED while locked. Null is allowed.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayDestroyData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
// E_UNEXPECTED when not locked.
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
// Locks and gives the data pointer; pair with SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// Pointer to an element (array must be locked by the caller).
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
// Bounds-checked element access: DISP_E_BADINDEX outside the bounds.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// pv points at the value for scalars; for VT_BSTR it is the BSTR itself (not
// a pointer to it), for VT_UNKNOWN/VT_DISPATCH the interface pointer itself,
// for VT_VARIANT a VARIANT*.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// nDim counts from 1. DISP_E_BADINDEX for a dimension out of range.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// E_INVALIDARG when the array carries no type (no FADF_HAVEVARTYPE and no
// BSTR/UNKNOWN/DISPATCH/VARIANT flag).
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid);
// Deep copy (elements copied as by PutElement).
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
// Changes the last dimension (the rightmost, rgsabound[0]) to *psaboundNew;
// new elements start zeroed, dropped ones are released.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);
