#include "com/wstr.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "com/internal/c_locale.h"

namespace kx::com::internal {

locale_t c_locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace kx::com::internal

using kx::com::internal::c_locale;

// ---------------------------------------------------------------------------
// Characters.

char16_t kx_towlower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
char16_t kx_towupper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
bool kx_iswdigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool kx_iswspace(char16_t c) { return c == u' ' || (c >= 0x09 && c <= 0x0D); }

namespace {

// Ranges where upper and lower case alternate (upper on `parity`).
struct PairRange {
  char16_t first, last;
  bool upper_even;
};
constexpr PairRange kPairs[] = {
    {0x0100, 0x012F, true}, {0x0132, 0x0137, true},  {0x0139, 0x0148, false},
    {0x014A, 0x0177, true}, {0x0179, 0x017E, false}, {0x0460, 0x0481, true},
    {0x048A, 0x04BF, true}, {0x04D0, 0x04FF, true},
};

}  // namespace

char16_t kx_fold_lower(char16_t c) {
  if (c < 0x80) return kx_towlower(c);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  if (c == 0x178) return 0xFF;
  for (const PairRange& r : kPairs)
    if (c >= r.first && c <= r.last) return ((c % 2 == 0) == r.upper_even) ? char16_t(c + 1) : c;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return char16_t(c + 32);
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return char16_t(c + 37);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return char16_t(c + 63);
  if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
  if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
  return c;
}

char16_t kx_fold_upper(char16_t c) {
  if (c < 0x80) return kx_towupper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
  if (c == 0xFF) return 0x178;
  for (const PairRange& r : kPairs)
    if (c >= r.first && c <= r.last) return ((c % 2 == 0) != r.upper_even) ? char16_t(c - 1) : c;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 32);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return char16_t(c - 37);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return char16_t(c - 63);
  if (c >= 0x430 && c <= 0x44F) return char16_t(c - 32);
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 80);
  return c;
}

DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
  if (lpsz == nullptr) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = kx_fold_upper(lpsz[i]);
  return cchLength;
}

DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) {
  if (lpsz == nullptr) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = kx_fold_lower(lpsz[i]);
  return cchLength;
}

// ---------------------------------------------------------------------------
// Strings.

std::size_t kx_wcslen(const char16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

int kx_wcscmp(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
}

int kx_wcsncmp(const char16_t* a, const char16_t* b, std::size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
  return 0;
}

int _wcsnicmp(const char16_t* a, const char16_t* b, std::size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    const char16_t ca = kx_towlower(*a);
    const char16_t cb = kx_towlower(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

int _wcsicmp(const char16_t* a, const char16_t* b) { return _wcsnicmp(a, b, SIZE_MAX); }

int kx_wcsicmp(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t ca = kx_towlower(a[i]);
    const char16_t cb = kx_towlower(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

const char16_t* kx_wcschr(const char16_t* s, char16_t c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (*s == 0) return nullptr;
  }
}

const char16_t* kx_wcsstr(const char16_t* s, const char16_t* find) {
  const std::size_t n = kx_wcslen(find);
  if (n == 0) return s;
  for (; *s != 0; ++s)
    if (kx_wcsncmp(s, find, n) == 0) return s;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Numbers.

namespace {

int digit_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// Reads an unsigned magnitude in `base`, saturating at `limit`. Sets
// *overflow when the digits exceed it.
struct Scan {
  const char16_t* end;
  bool negative = false;
  bool any = false;
  bool overflow = false;
  unsigned long long magnitude = 0;
};

Scan scan_integer(const char16_t* s, int base, unsigned long long limit) {
  Scan r;
  r.end = s;
  if (s == nullptr || base == 1 || base < 0 || base > 36) return r;
  const char16_t* p = s;
  while (kx_iswspace(*p)) ++p;
  if (*p == u'+' || *p == u'-') r.negative = (*p++ == u'-');
  if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') &&
      digit_value(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = (p[0] == u'0') ? 8 : 10;
  }
  for (; digit_value(*p) < base; ++p) {
    r.any = true;
    const unsigned long long d = static_cast<unsigned long long>(digit_value(*p));
    if (r.magnitude > (limit - d) / static_cast<unsigned long long>(base)) {
      r.overflow = true;
      r.magnitude = limit;
    } else if (!r.overflow) {
      r.magnitude = r.magnitude * static_cast<unsigned long long>(base) + d;
    }
  }
  if (r.any) r.end = p;
  return r;
}

long long clamp_signed(const Scan& r, long long min, long long max) {
  if (!r.negative)
    return r.magnitude > static_cast<unsigned long long>(max) ? max
                                                              : static_cast<long long>(r.magnitude);
  const unsigned long long lim = static_cast<unsigned long long>(-(min + 1)) + 1;
  if (r.magnitude >= lim) return min;
  return -static_cast<long long>(r.magnitude);
}

}  // namespace

LONG _wtol(const char16_t* s) {
  const Scan r = scan_integer(s, 10, ULLONG_MAX);
  return static_cast<LONG>(clamp_signed(r, INT32_MIN, INT32_MAX));
}

LONGLONG _wtoi64(const char16_t* s) {
  const Scan r = scan_integer(s, 10, ULLONG_MAX);
  return clamp_signed(r, LLONG_MIN, LLONG_MAX);
}

LONG kx_wcstol(const char16_t* s, const char16_t** end, int base) {
  const Scan r = scan_integer(s, base, ULLONG_MAX);
  if (end != nullptr) *end = r.end;
  return static_cast<LONG>(clamp_signed(r, INT32_MIN, INT32_MAX));
}

ULONG kx_wcstoul(const char16_t* s, const char16_t** end, int base) {
  const Scan r = scan_integer(s, base, ULLONG_MAX);
  if (end != nullptr) *end = r.end;
  if (r.magnitude > UINT32_MAX) return UINT32_MAX;
  const auto v = static_cast<ULONG>(r.magnitude);
  return r.negative ? static_cast<ULONG>(0u - v) : v;
}

double kx_wcstod(const char16_t* s, const char16_t** end) {
  if (end != nullptr) *end = s;
  if (s == nullptr) return 0.0;
  // Only ASCII can be part of a number: copy the ASCII prefix and let the
  // C library read it in the "C" locale.
  std::string narrow;
  for (const char16_t* p = s; *p != 0 && *p < 0x80; ++p) narrow.push_back(static_cast<char>(*p));
  char* stop = nullptr;
  const double v = strtod_l(narrow.c_str(), &stop, c_locale());
  if (end != nullptr) *end = s + (stop - narrow.c_str());
  return v;
}

bool kx_parse_double(std::u16string_view text, double* value) {
  std::size_t b = 0, e = text.size();
  while (b < e && kx_iswspace(text[b])) ++b;
  while (e > b && kx_iswspace(text[e - 1])) --e;
  std::string narrow;
  std::size_t i = b;
  auto take_digits = [&] {
    std::size_t n = 0;
    while (i < e && kx_iswdigit(text[i])) {
      narrow.push_back(static_cast<char>(text[i++]));
      ++n;
    }
    return n;
  };
  if (i < e && (text[i] == u'+' || text[i] == u'-')) narrow.push_back(static_cast<char>(text[i++]));
  std::size_t digits = take_digits();
  if (i < e && text[i] == u'.') {
    narrow.push_back('.');
    ++i;
    digits += take_digits();
  }
  if (digits == 0) return false;
  if (i < e && (text[i] == u'e' || text[i] == u'E')) {
    narrow.push_back('e');
    ++i;
    if (i < e && (text[i] == u'+' || text[i] == u'-'))
      narrow.push_back(static_cast<char>(text[i++]));
    if (take_digits() == 0) return false;
  }
  if (i != e) return false;
  const double v = strtod_l(narrow.c_str(), nullptr, c_locale());
  if (v > 1.7976931348623157e308 || v < -1.7976931348623157e308) return false;
  if (value != nullptr) *value = v;
  return true;
}

char16_t* _ltow(LONG value, char16_t* buffer, int radix) {
  if (buffer == nullptr) return nullptr;
  if (radix < 2 || radix > 36) {
    buffer[0] = 0;
    return buffer;
  }
  char16_t tmp[34];
  int n = 0;
  const bool negative = radix == 10 && value < 0;
  unsigned long long v = negative ? static_cast<unsigned long long>(-static_cast<long long>(value))
                                  : static_cast<unsigned long long>(static_cast<ULONG>(value));
  do {
    const int d = static_cast<int>(v % static_cast<unsigned>(radix));
    tmp[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10);
    v /= static_cast<unsigned>(radix);
  } while (v != 0);
  int o = 0;
  if (negative) buffer[o++] = u'-';
  while (n > 0) buffer[o++] = tmp[--n];
  buffer[o] = 0;
  return buffer;
}

int _ltow_s(LONG value, char16_t* buffer, std::size_t size, int radix) {
  if (buffer == nullptr || size == 0) return EINVAL;
  if (radix < 2 || radix > 36) {
    buffer[0] = 0;
    return EINVAL;
  }
  char16_t tmp[34];
  _ltow(value, tmp, radix);
  const std::size_t n = kx_wcslen(tmp);
  if (n + 1 > size) {
    buffer[0] = 0;
    return ERANGE;
  }
  for (std::size_t i = 0; i <= n; ++i) buffer[i] = tmp[i];
  return 0;
}

std::u16string kx_ltow(LONG value, int radix) {
  char16_t tmp[34];
  _ltow(value, tmp, radix);
  return std::u16string(tmp);
}
