// System message texts for HRESULTs (in place of FormatMessageW).
#pragma once

#include <string>

#include "com/types.h"

// The message for hr from a fixed table of the usual codes, without a
// trailing line break; "Unknown error 0x%0lX" (e.g. "Unknown error
// 0x8004C001") for codes not in the table.
std::u16string kx_system_message(HRESULT hr);
// Only the table: false (and *text unchanged) when hr is not in it.
bool kx_lookup_system_message(HRESULT hr, std::u16string* text);
