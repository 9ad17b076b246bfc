// VARIANT conversions and owned-string helpers of the data services.
//
// VARIANT routines return HRESULTs and never throw. A VARIANT of type
// VT_BYREF|VT_VARIANT is always followed to the VARIANT it points to, at
// any depth.
#pragma once

#include <cstddef>

#include "com/variant.h"

struct IKXQObject;

// The VARIANT's type class, the by-reference flag ignored: VT_NULL (no
// value: VT_EMPTY, VT_NULL), VT_I4 (integers), VT_R8 (VT_R4, VT_R8), VT_DATE,
// VT_BSTR, VT_UNKNOWN (VT_DISPATCH, VT_UNKNOWN), VT_BOOL, else VT_ERROR.
VARTYPE GetVariantTypeClass(const VARIANT& value);

// False for VT_EMPTY, VT_NULL, VT_ERROR and a null interface pointer; true
// otherwise (a null BSTR counts as set).
bool IsVariantSet(const VARIANT& value);

// The VARIANT that `value` stands for: VT_BYREF|VT_VARIANT followed to the
// end. Never null (a null reference gives a static VT_EMPTY).
const VARIANT& ResolveVariant(const VARIANT& value);

// VT_EMPTY, VT_NULL, VT_ERROR and a null interface give null and S_OK;
// VT_DISPATCH or VT_UNKNOWN (by value or reference) are queried for
// IKXQObject (*out AddRef'd, the caller releases it); other types
// DISP_E_TYPEMISMATCH.
[[nodiscard]] HRESULT VariantToObjectPtr(const VARIANT& value, IKXQObject** out);

// Strict: integer types only (by value or reference), else
// DISP_E_TYPEMISMATCH. Lenient: whatever VariantChangeType turns into VT_I4.
[[nodiscard]] HRESULT VariantToLong(const VARIANT& value, LONG* out, bool lenient);
// VT_R4, VT_R8, VT_DATE (null reference gives 0); lenient also text (a text
// that is no number leaves *out unchanged and succeeds) and anything
// VariantChangeType turns into VT_R8.
[[nodiscard]] HRESULT VariantToDouble(const VARIANT& value, double* out, bool lenient);
// VT_BOOL (null reference gives false); lenient reads texts with
// ParseBoolean, other values through VariantChangeType.
[[nodiscard]] HRESULT VariantToBool(const VARIANT& value, bool* out, bool lenient);
// VT_BSTR by value or reference: *out receives a new copy the caller frees.
[[nodiscard]] HRESULT VariantToString(const VARIANT& value, BSTR* out);
// "1", "true", "yes", "on" / "0", "false", "no", "off" (ASCII letters in any
// case); anything else and null give E_FAIL.
[[nodiscard]] HRESULT ParseBoolean(const OLECHAR* text, bool* out);

// Locale-independent number reading for values: the whole text, bar
// surrounding blanks, must be a decimal number ("." as decimal point; no
// "nan" or "inf"; beyond the range of a double is none, below it reads 0),
// as the request parser reads reals. False (and *out unchanged) otherwise.
bool ParseValueDouble(const OLECHAR* text, double* out);
// "%.16g" with "." as decimal point whatever the locale. `out` receives a
// zero-terminated text of at most 63 characters.
void FormatValueDouble(double value, OLECHAR (&out)[64]);

// Owned wide strings are allocated with new[] and freed with delete[].

// Replaces *buffer by a copy of `text` (null leaves null); nothing happens
// when `text` is *buffer. Throws on allocation failure.
void AssignString(OLECHAR*& buffer, const OLECHAR* text);
// Replaces the BSTR by a copy of `text`; throws E_OUTOFMEMORY (_com_error)
// when the copy fails.
void AssignBstr(BSTR& member, const OLECHAR* text);
// A new[] buffer with the first `length` characters of `text` (the whole
// text for 0) and a terminating zero; null for a null text.
[[nodiscard]] OLECHAR* DuplicateWideString(const OLECHAR* text, std::size_t length = 0);
// Formats (Windows wide-printf rules, at most 1024 characters) and replaces
// *buffer by the result.
void FormatString(OLECHAR*& buffer, const OLECHAR* format, ...);
