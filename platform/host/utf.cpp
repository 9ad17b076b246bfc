#include "host/utf.h"

#include "com/wstr.h"

namespace kx::host::internal {

// Both directions are the platform's converters; this header keeps the
// host's edges to one spelling.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  if (!kx_utf8_to_utf16(text, &out)) return std::nullopt;
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

}  // namespace kx::host::internal
