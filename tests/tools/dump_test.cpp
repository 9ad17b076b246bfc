// The value texts of `kxqhost dump`.
#include "dump.h"

#include <gtest/gtest.h>

#include "com/oleauto.h"

namespace {

using kx::kxqhost::ValueText;

std::string DateText(double serial) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DATE;
  value.date = serial;
  return ValueText(value);
}

TEST(DumpValueText, DatesShowDayAndTimeOfDay) {
  EXPECT_EQ(DateText(0.0), "1899-12-30");
  EXPECT_EQ(DateText(45000.5), "2023-03-15 12:00:00");
  // Before 1899-12-30 the whole part counts the days back and the fraction
  // still counts forward from that day's midnight.
  EXPECT_EQ(DateText(-1.25), "1899-12-29 06:00:00");
}

// A serial outside the calendar (a corrupt or foreign value) is shown as
// the number it is; it used to be cast to an integer it did not fit.
TEST(DumpValueText, DatesOutsideTheCalendarShowTheirNumber) {
  EXPECT_EQ(DateText(1e300), "1e+300");
  EXPECT_EQ(DateText(-1e18), "-1e+18");
  EXPECT_EQ(DateText(3e6), "3e+06");  // year 10113
}

}  // namespace
