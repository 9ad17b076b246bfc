// The wide C library routines the service uses, on char16_t text, with
// Windows semantics in the "C" locale; the wide formatter; strict UTF-8 <->
// UTF-16 conversion.
//
// Nothing here depends on the process locale: letters fold by fixed tables,
// numbers are read and written with "." as the decimal point.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "com/types.h"

// ---------------------------------------------------------------------------
// Characters.
// ASCII letters only (as towlower/towupper in the "C" locale).
char16_t kx_towlower(char16_t c);
char16_t kx_towupper(char16_t c);
// '0'..'9' only.
bool kx_iswdigit(char16_t c);
// Blank characters: space, \t \n \v \f \r.
bool kx_iswspace(char16_t c);
// Folding used for collation and CharLower/UpperBuffW: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters.
char16_t kx_fold_lower(char16_t c);
char16_t kx_fold_upper(char16_t c);
// In-place conversion of cch characters (kx_fold_*); returns cch.
DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);
DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);

// ---------------------------------------------------------------------------
// Strings. Null pointers are not allowed unless stated.
// Characters before the terminating zero.
std::size_t kx_wcslen(const char16_t* s);
int kx_wcscmp(const char16_t* a, const char16_t* b);
int kx_wcsncmp(const char16_t* a, const char16_t* b, std::size_t n);
// Case-insensitive comparison folding ASCII letters only, whatever the
// locale (other characters compare by code unit). <0, 0, >0.
int _wcsicmp(const char16_t* a, const char16_t* b);
int _wcsnicmp(const char16_t* a, const char16_t* b, std::size_t n);
// Same rules on views (embedded zeros compared as characters).
int kx_wcsicmp(std::u16string_view a, std::u16string_view b);
const char16_t* kx_wcschr(const char16_t* s, char16_t c);
const char16_t* kx_wcsstr(const char16_t* s, const char16_t* find);

// ---------------------------------------------------------------------------
// Numbers.
// Leading blanks, optional sign, decimal digits; stops at the first
// non-digit; 0 when there are no digits. Out of range clamps to LONG_MIN /
// LONG_MAX (32-bit). Null gives 0.
LONG _wtol(const char16_t* s);
LONGLONG _wtoi64(const char16_t* s);
// wcstol/wcstoul-like (base 0 or 2..36; 0 accepts 0x and leading 0 octal);
// *end (if given) points after the last character used, or at s when
// nothing was read. Clamps on overflow.
LONG kx_wcstol(const char16_t* s, const char16_t** end, int base);
ULONG kx_wcstoul(const char16_t* s, const char16_t** end, int base);
// wcstod-like with "." whatever the locale: leading blanks, sign, digits,
// fraction, exponent, also "inf"/"nan". *end as above.
double kx_wcstod(const char16_t* s, const char16_t** end);
// The whole text (bar surrounding blanks) must be a decimal number (sign,
// digits, optional "." fraction, optional exponent); false otherwise
// (nothing else is accepted: no hex, no "inf"/"nan", no ","). Values too
// large become +-infinity and return false.
bool kx_parse_double(std::u16string_view text, double* value);
// Writes value in `radix` (2..36, lower-case letters) into buffer, which must
// hold 33 characters (the longest: 32 binary digits and the zero); negative
// values get a "-" only in radix 10, other radixes show the 32-bit pattern.
// Returns buffer.
char16_t* _ltow(LONG value, char16_t* buffer, int radix);
// Bounded variant: 0 on success; EINVAL for a null buffer or a bad radix,
// ERANGE when `size` characters are too few (the buffer then holds "").
int _ltow_s(LONG value, char16_t* buffer, std::size_t size, int radix);
std::u16string kx_ltow(LONG value, int radix = 10);

// ---------------------------------------------------------------------------
// Formatting with the Windows wide-printf rules.
//
// Directives: %[flags][width][.precision][size]type with flags "-+ #0",
// width and precision as digits or "*" (an int argument).
//  - %s, %ls, %ws: a wide string (const char16_t*); %hs and %S: a narrow one
//    (const char*, UTF-8, invalid bytes become U+FFFD); a null pointer
//    prints "(null)". With "*" as width and no precision, the "*" argument
//    is the number of characters to take from the string (a string given
//    by pointer and length need not be zero terminated; reading also stops
//    at a zero character); a negative value counts as 0.
//  - %c, %lc, %wc: a wide character (passed as int); %hc, %C: narrow.
//  - %d %i %u %o %x %X: int; with "h" short, with "l" 32-bit (LONG/ULONG),
//    with "ll" or "I64" 64-bit, with "I", "z" or "t" pointer-sized.
//  - %e %E %f %F %g %G %a %A: double ("l" and "L" ignored); "." as decimal
//    point; exponent with at least two digits ("1e+20").
//  - %p: pointer as 16 upper-case hex digits.
//  - %%: a percent sign. %n is refused (prints nothing, reads nothing).
//  - An unknown directive is copied as it stands.
std::u16string kx_vformat(const char16_t* format, va_list args);
std::u16string kx_format(const char16_t* format, ...);
// Bounded: writes at most count - 1 characters and a terminating zero into
// buffer. Returns the characters written (without the zero), or -1 when the
// result did not fit (buffer then holds the empty string, as swprintf_s does
// after its invalid-parameter handler returns) or count is 0.
int vswprintf_s(char16_t* buffer, std::size_t count, const char16_t* format, va_list args);
int swprintf_s(char16_t* buffer, std::size_t count, const char16_t* format, ...);
// Truncating: as much as fits (count - 1 characters) and a zero; returns the
// length, or -1 when truncated.
int kx_vsnwprintf_trunc(char16_t* buffer, std::size_t count, const char16_t* format, va_list args);
// wvsprintfW: writes at most 1024 characters and a zero into buffer (which
// must hold 1025); longer results are cut. Returns the length.
int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-16, strict: malformed input (bad or overlong sequences,
// encoded surrogates, code points above U+10FFFF, lone surrogates in UTF-16,
// truncated sequences) is an error. On failure *out is left empty.
[[nodiscard]] bool kx_utf8_to_utf16(std::string_view in, std::u16string* out);
[[nodiscard]] bool kx_utf16_to_utf8(std::u16string_view in, std::string* out);
// Lenient variants for diagnostics only: malformed input becomes U+FFFD.
std::u16string kx_utf8_to_utf16_lossy(std::string_view in);
std::string kx_utf16_to_utf8_lossy(std::u16string_view in);
