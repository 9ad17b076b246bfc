// OLE Automation services in one include: BSTR, VARIANT, SAFEARRAY, plus
// string comparison and concatenation and date conversion.
#pragma once

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/variant.h"

// VarBstrCmp results.
inline constexpr HRESULT VARCMP_LT = 0;
inline constexpr HRESULT VARCMP_EQ = 1;
inline constexpr HRESULT VARCMP_GT = 2;
inline constexpr HRESULT VARCMP_NULL = 3;

// Comparison flags.
inline constexpr ULONG NORM_IGNORECASE = 0x00000001;

// Compares two BSTRs (null equals empty). The collation is fixed and
// independent of lcid and of the process locale:
//  1. characters are compared after case folding (kx_towlower: ASCII,
//     Latin-1, Latin Extended-A, Greek and Cyrillic letters), by code unit;
//     a string that is a prefix of the other sorts first;
//  2. when equal so, and NORM_IGNORECASE is not given, the first position
//     whose characters differ decides: the lower-case letter sorts first
//     ("a" < "A" < "b" < "B").
// So without flags the comparison is case-sensitive: only identical strings
// give VARCMP_EQ. Returns VARCMP_LT, VARCMP_EQ or VARCMP_GT.
HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags);
// *pbstrResult = left + right (a new BSTR owned by the caller; nulls are
// empty). E_OUTOFMEMORY, E_INVALIDARG for a null out pointer.
HRESULT VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult);

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// DATE: days since 1899-12-30 as a double; the fraction is the time of day
// (for negative dates the fraction still counts forward from midnight, as
// on Windows). Years 100..9999. Return TRUE on success, FALSE on invalid
// input. Milliseconds are ignored, as on Windows.
INT SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, DATE* pvtime);
INT VariantTimeToSystemTime(DATE vtime, SYSTEMTIME* lpSystemTime);
