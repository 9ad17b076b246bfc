// DATE (days since 1899-12-30, time of day in the fraction) to and from
// calendar parts and the fixed text forms "YYYY-MM-DD" and
// "YYYY-MM-DD HH:MM:SS".
#pragma once

#ifndef KX_COM_INTERNAL
#error "com/internal headers are private to their library; include its public headers"
#endif

#include <string>
#include <string_view>

#include "com/types.h"

namespace kx::com::internal {

struct DateParts {
  int year, month, day, hour, minute, second;
  int day_of_week;  // 0 = Sunday
};

inline constexpr double kMinDate = -657434.0;            // 0100-01-01
inline constexpr double kMaxDate = 2958465.99999999999;  // 9999-12-31 23:59:59

// False for invalid parts or years outside 100..9999.
bool date_from_parts(int year, int month, int day, int hour, int minute, int second, DATE* out);
// Rounded to the nearest second. False outside the range.
bool date_to_parts(DATE value, DateParts* out);
// "YYYY-MM-DD", with " HH:MM:SS" when the time of day is not midnight.
bool date_to_text(DATE value, std::u16string* out);
// Accepts the forms date_to_text writes, "T" in place of the blank, times
// without seconds and a time alone (on 1899-12-30), with surrounding blanks.
bool date_from_text(std::u16string_view text, DATE* out);

}  // namespace kx::com::internal
