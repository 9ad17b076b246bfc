// The text form of a store object for `kxqhost dump`:
//
//   object 20 Pump
//   owner 10
//   Tag = "P-101"
//   Length = 1500 mm
//   Readings[1] = 1.5
//   Readings[2] = (empty)
//   CurrentPages[1] = #11
//
// Attributes in the class's order; those without a value are left out;
// list values by 1-based position, empty slots shown. Texts are quoted
// with \" \\ \n escapes, objects are "#id", reals carry the stored unit
// (single values), dates are "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss", binary
// values Base64.
#pragma once

#include <string>

#include "store/fwd.h"

namespace kx::kxqhost {

// Writes object `id` of `database` into *text. On failure returns the
// HRESULT with the thread's error information left by the store.
HRESULT DumpObject(IKXQDatabase* database, LONG id, std::string* text);

// The text of a VARIANT as the dump shows it (without a unit).
std::string ValueText(const VARIANT& value);

}  // namespace kx::kxqhost
