// Strict conversions between the reader's UTF-16 text and expat's UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace kx::msxml {

// Appends the UTF-8 form of `text[0, length)` to `out`. Returns the index of
// the first code unit that is not part of a well-formed UTF-16 sequence (an
// unpaired surrogate), or `length` when the whole text converted; `out` then
// holds everything before that unit.
std::size_t Utf16ToUtf8(const char16_t* text, std::size_t length, std::string& out);

// Appends the UTF-16 form of `text[0, length)` to `out`. REQUIRES: the text
// is well-formed UTF-8 (expat hands out nothing else); a malformed byte
// becomes U+FFFD instead of being trusted.
void Utf8ToUtf16(const char* text, std::size_t length, std::u16string& out);

}  // namespace kx::msxml
