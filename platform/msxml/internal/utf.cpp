#include "msxml/internal/utf.h"

namespace kx::msxml {

std::size_t Utf16ToUtf8(const char16_t* text, std::size_t length, std::string& out) {
  // At most three bytes per code unit (a surrogate pair gives four for two).
  const std::size_t base = out.size();
  out.resize(base + 3 * length);
  char* d = out.data() + base;
  std::size_t i = 0;
  std::size_t stop = length;
  while (i < length) {
    char32_t c = text[i];
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
      ++i;
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    } else if (c < 0xD800 || c > 0xDFFF) {
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    } else {
      char32_t low = i + 1 < length ? text[i + 1] : 0;
      if (c >= 0xDC00 || low < 0xDC00 || low > 0xDFFF) {
        stop = i;
        break;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      *d++ = static_cast<char>(0xF0 | (c >> 18));
      *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
      i += 2;
    }
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
  return stop;
}

namespace {

// Number of continuation bytes after a lead byte, or -1 for a byte that
// cannot start a sequence.
int TrailCount(unsigned char lead) {
  if (lead < 0xC2) return -1;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF5) return 3;
  return -1;
}

}  // namespace

void Utf8ToUtf16(const char* text, std::size_t length, std::u16string& out) {
  // Never more code units than bytes.
  const std::size_t base = out.size();
  out.resize(base + length);
  char16_t* d = out.data() + base;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const auto* end = s + length;
  while (s < end) {
    unsigned char lead = *s;
    if (lead < 0x80) {
      *d++ = lead;
      ++s;
      continue;
    }
    int trail = TrailCount(lead);
    if (trail < 0 || end - s <= trail) {
      *d++ = u'\uFFFD';
      ++s;
      continue;
    }
    char32_t c = lead & (0x3F >> trail);
    bool ok = true;
    for (int k = 1; k <= trail; ++k) {
      if ((s[k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[k] & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[trail] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      *d++ = u'\uFFFD';
      ++s;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *d++ = static_cast<char16_t>(c);
    }
    s += trail + 1;
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
}

}  // namespace kx::msxml
