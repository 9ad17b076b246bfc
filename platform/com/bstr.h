// BSTR: length-prefixed UTF-16 strings.
//
// Layout: a 4-byte byte count directly before the characters, the characters,
// then a terminating zero character. A BSTR points at the first character.
// A null BSTR is the empty string everywhere in this layer. Embedded zero
// characters are kept (the length comes from the prefix, not from a scan).
//
// Ownership: whoever receives a BSTR from an Sys*Alloc* call or as an [out]
// value owns it and frees it with SysFreeString.
#pragma once

#include "com/types.h"

using BSTR = OLECHAR*;
using LPBSTR = BSTR*;

// Copies the zero-terminated `psz` (null gives null). Returns null when out
// of memory.
BSTR SysAllocString(const OLECHAR* psz);
// `cch` characters from `pch` (null `pch`: uninitialised characters, zero
// terminated). Null when out of memory or `cch` too large.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
// `cb` bytes from `psz` (null: uninitialised), followed by two zero bytes;
// the byte length may be odd.
BSTR SysAllocStringByteLen(const char* psz, UINT cb);
// Replaces *pbstr by a copy of `psz`; returns FALSE (and leaves *pbstr) when
// out of memory. `psz` may point into *pbstr.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch);
// Frees a BSTR; null is allowed.
void SysFreeString(BSTR bstr);
// Length in characters (byte length / 2); 0 for null.
UINT SysStringLen(BSTR bstr);
// Length in bytes; 0 for null.
UINT SysStringByteLen(BSTR bstr);
