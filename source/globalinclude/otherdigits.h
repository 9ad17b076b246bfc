// Digits of other scripts ("٢", "２", "𝟐"): the readers of numbers in
// requests take the digits 0 to 9 only. A number that holds another
// script's digit is refused rather than read up to it ("1٢" is not 1).
#pragma once

#include "com/types.h"

// Whether the character at `text` (a surrogate pair counts as one) is a
// decimal digit of a script other than ASCII. Null or the end: false.
bool IsOtherScriptDigit(const OLECHAR* text);
