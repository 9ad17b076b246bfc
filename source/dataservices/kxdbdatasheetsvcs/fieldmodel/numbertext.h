// Numbers read from the value texts of requests. The reading is lenient, as
// the C library's readers are (blanks, a sign, the number, and whatever
// follows it ignored), but a text in which no number is found, or whose
// number the value cannot hold, gives none: storing 0 or a clamped number
// for it would write a value nobody asked for.
#pragma once

#include <cstdint>

#include "com/types.h"
#include "kxcomexception.h"
#include "saxschemaparser.h"

// kNotDecimal: a whole number in another form ("0x10"), which the request's
// integers refuse rather than read as the 0 it begins with.
enum class NumberReading { kNumber, kNoNumber, kOutOfRange, kNotDecimal };

// An integer as `_wtol` reads it: optional blanks and sign, decimal digits,
// up to the first other character ("2960.7" is 2960). No digit there, or
// another script's digit at its end ("1٢"): kNoNumber; beyond 32 bits:
// kOutOfRange. `*value` is set for kNumber only.
NumberReading ReadIntegerText(const OLECHAR* text, int32_t* value);

// "0x" and a hexadecimal digit after the blanks and the sign: a whole
// number `_wtol` would read as the 0 it begins with.
bool IsHexadecimalText(const OLECHAR* text);

// A real as "%lf" reads it: optional blanks and sign, a decimal number with
// fraction and exponent or a hexadecimal one ("0x10" is 16), up to the
// first other character; "." is the decimal point whatever the locale. A
// reading without a digit ("inf", "nan"), or followed by another script's
// digit, is none; a number too large for a double is out of range.
// `*value` is set for kNumber only.
NumberReading ReadRealText(const OLECHAR* text, double* value);

// Raises the refusal of `text`, read as `reading` (not kNumber), for `what`
// ("attribute Speed", "field 512"): DISP_E_TYPEMISMATCH "'abc' is not a
// number for field 512" or "'0x10' is not a decimal number for field 512",
// DISP_E_OVERFLOW "'99999999999' is out of range for field 512".
[[noreturn]] void RefuseNumberText(KXComException& ctx, const SourceLocation& location,
                                   NumberReading reading, const OLECHAR* text, const OLECHAR* what);

// An integer value of a request that is the value to set (a radio choice, a
// qualifier's value, a unit's place in its list), kept with its reading so
// that the worker can refuse a text without a decimal number, naming it. An
// empty text is the number 0, as the grammar reads it.
struct RequestedNumber {
  int32_t value = -1;
  NumberReading reading = NumberReading::kNumber;
  SAXText text;  // set when the text was not a plain number
  bool given = false;

  // Takes a value the grammar read as an integer.
  void Store(const SAXValue& value);
  // Raises the refusal for `what` when the text held no number.
  void Check(KXComException& ctx, const SourceLocation& location, const OLECHAR* what) const;
};
