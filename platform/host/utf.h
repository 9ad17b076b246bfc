// Strict UTF-8 / UTF-16 conversion at the host's edges (files, terminal).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kx::host::internal {

// Null when `text` is not valid UTF-8 (overlong forms, surrogates, code
// points past U+10FFFF and truncated sequences are invalid).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// A lone surrogate is written as U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kx::host::internal
