// VarBstrCmp / VarBstrCat and dates.
#include "com/oleauto.h"

#include <cmath>
#include <cstdio>

#include "com/internal/date.h"
#include "com/wstr.h"

namespace kx::com::internal {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int* y, int* m, int* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long year = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(year + (*m <= 2));
}

const long long kEpoch = days_from_civil(1899, 12, 30);

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

}  // namespace

bool date_from_parts(int year, int month, int day, int hour, int minute, int second, DATE* out) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59)
    return false;
  const long long days =
      days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch;
  const double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before 1899-12-30 the fraction still counts forward from midnight.
  *out = static_cast<double>(days) + (days < 0 ? -frac : frac);
  return true;
}

bool date_to_parts(DATE value, DateParts* out) {
  if (!(value >= kMinDate - 1.0 && value <= kMaxDate + 1.0)) return false;
  long long days = static_cast<long long>(std::trunc(value));
  long long seconds = std::llround(std::fabs(value - std::trunc(value)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  civil_from_days(days + kEpoch, &out->year, &out->month, &out->day);
  if (out->year < 100 || out->year > 9999) return false;
  out->hour = static_cast<int>(seconds / 3600);
  out->minute = static_cast<int>(seconds / 60 % 60);
  out->second = static_cast<int>(seconds % 60);
  const long long dow = (days + kEpoch + 4) % 7;  // 1970-01-01 was a Thursday
  out->day_of_week = static_cast<int>(dow < 0 ? dow + 7 : dow);
  return true;
}

bool date_to_text(DATE value, std::u16string* out) {
  DateParts p;
  if (!date_to_parts(value, &p)) return false;
  if (p.hour == 0 && p.minute == 0 && p.second == 0)
    *out = kx_format(u"%04d-%02d-%02d", p.year, p.month, p.day);
  else
    *out = kx_format(u"%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                     p.second);
  return true;
}

namespace {

// Reads 1..max digits.
bool read_number(std::u16string_view t, std::size_t& i, std::size_t max, int* value) {
  std::size_t n = 0;
  int v = 0;
  while (i < t.size() && n < max && kx_iswdigit(t[i])) {
    v = v * 10 + (t[i++] - u'0');
    ++n;
  }
  *value = v;
  return n > 0;
}

bool read_time(std::u16string_view t, std::size_t& i, int* h, int* mi, int* s) {
  *s = 0;
  if (!read_number(t, i, 2, h) || i >= t.size() || t[i] != u':') return false;
  ++i;
  if (!read_number(t, i, 2, mi)) return false;
  if (i < t.size() && t[i] == u':') {
    ++i;
    if (!read_number(t, i, 2, s)) return false;
  }
  return true;
}

}  // namespace

bool date_from_text(std::u16string_view text, DATE* out) {
  std::size_t b = 0, e = text.size();
  while (b < e && kx_iswspace(text[b])) ++b;
  while (e > b && kx_iswspace(text[e - 1])) --e;
  const std::u16string_view t = text.substr(b, e - b);
  std::size_t i = 0;
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0;
  const bool time_only = t.size() >= 3 && (t[1] == u':' || t[2] == u':');
  if (time_only) {
    if (!read_time(t, i, &h, &mi, &s) || i != t.size()) return false;
    return date_from_parts(y, mo, d, h, mi, s, out);
  }
  if (!read_number(t, i, 4, &y) || i >= t.size() || t[i++] != u'-') return false;
  if (!read_number(t, i, 2, &mo) || i >= t.size() || t[i++] != u'-') return false;
  if (!read_number(t, i, 2, &d)) return false;
  if (i < t.size()) {
    if (t[i] != u' ' && t[i] != u'T') return false;
    ++i;
    if (!read_time(t, i, &h, &mi, &s)) return false;
  }
  if (i != t.size()) return false;
  return date_from_parts(y, mo, d, h, mi, s, out);
}

}  // namespace kx::com::internal

// ---------------------------------------------------------------------------

HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID, ULONG dwFlags) {
  const UINT a = SysStringLen(bstrLeft);
  const UINT b = SysStringLen(bstrRight);
  const UINT n = a < b ? a : b;
  for (UINT i = 0; i < n; ++i) {
    const char16_t x = kx_fold_lower(bstrLeft[i]);
    const char16_t y = kx_fold_lower(bstrRight[i]);
    if (x != y) return x < y ? VARCMP_LT : VARCMP_GT;
  }
  if (a != b) return a < b ? VARCMP_LT : VARCMP_GT;
  if ((dwFlags & NORM_IGNORECASE) != 0) return VARCMP_EQ;
  for (UINT i = 0; i < n; ++i) {
    const char16_t x = bstrLeft[i];
    const char16_t y = bstrRight[i];
    if (x == y) continue;
    // Same letter in another case: lower case first.
    const bool x_lower = kx_fold_lower(x) == x;
    const bool y_lower = kx_fold_lower(y) == y;
    if (x_lower != y_lower) return x_lower ? VARCMP_LT : VARCMP_GT;
    return x < y ? VARCMP_LT : VARCMP_GT;
  }
  return VARCMP_EQ;
}

HRESULT VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult) {
  if (pbstrResult == nullptr) return E_INVALIDARG;
  *pbstrResult = nullptr;
  const UINT a = SysStringLen(bstrLeft);
  const UINT b = SysStringLen(bstrRight);
  if (a > 0x7FFFFFF0u - b) return E_OUTOFMEMORY;
  BSTR s = SysAllocStringLen(nullptr, a + b);
  if (s == nullptr) return E_OUTOFMEMORY;
  for (UINT i = 0; i < a; ++i) s[i] = bstrLeft[i];
  for (UINT i = 0; i < b; ++i) s[a + i] = bstrRight[i];
  *pbstrResult = s;
  return S_OK;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* pvtime) {
  if (st == nullptr || pvtime == nullptr) return FALSE;
  return kx::com::internal::date_from_parts(st->wYear, st->wMonth, st->wDay, st->wHour, st->wMinute,
                                            st->wSecond, pvtime)
             ? TRUE
             : FALSE;
}

INT VariantTimeToSystemTime(DATE vtime, SYSTEMTIME* st) {
  kx::com::internal::DateParts p;
  if (st == nullptr || !kx::com::internal::date_to_parts(vtime, &p)) return FALSE;
  st->wYear = static_cast<WORD>(p.year);
  st->wMonth = static_cast<WORD>(p.month);
  st->wDayOfWeek = static_cast<WORD>(p.day_of_week);
  st->wDay = static_cast<WORD>(p.day);
  st->wHour = static_cast<WORD>(p.hour);
  st->wMinute = static_cast<WORD>(p.minute);
  st->wSecond = static_cast<WORD>(p.second);
  st->wMilliseconds = 0;
  return TRUE;
}
