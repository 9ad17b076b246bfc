// The setters' plant grown for the field property and presentation
// messages: two holds, a list of five rows and an issued copy of a page.
#pragma once

#include <string>

namespace kx::test::fields {

enum : long {
  kHold1 = 90,  // "H-1", reason "vendor data"
  kHold2 = 91,  // "H-2", no reason
  // Page 51 of the setters' plant lists the pumps 52 to 56 (five rows).
  kRow3 = 54,
  kRow4 = 55,
  kRow5 = 56,
};

// Field 10 of page "P1" is bound to case slot 1; the store knows cases 1
// "Design" and 2 "Upset".
// The pump's nozzles 70 and 71 stand in its list "Nozzles"; page
// "P1" shows the first on child node "Nozzles(1)" (field 20), which page 21
// leaves empty.
// The fixture text (built once).
const char* FieldFixture();

}  // namespace kx::test::fields
