#include <string>
#include <string_view>

#include "com/wstr.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes one code point at in[i]; returns false for malformed input
// (advancing i by one byte so a lossy caller can go on).
bool decode_utf8(std::string_view in, std::size_t& i, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(in[i]);
  if (b0 < 0x80) {
    *cp = b0;
    ++i;
    return true;
  }
  int extra;
  char32_t c;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return false;
  }
  if (in.size() - i <= static_cast<std::size_t>(extra)) {
    ++i;
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(in[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || is_surrogate(c)) {
    ++i;
    return false;
  }
  i += static_cast<std::size_t>(extra) + 1;
  *cp = c;
  return true;
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

bool decode_utf16(std::u16string_view in, std::size_t& i, char32_t* cp) {
  const char32_t c = in[i++];
  if (!is_surrogate(c)) {
    *cp = c;
    return true;
  }
  if (c >= 0xDC00 || i >= in.size() || in[i] < 0xDC00 || in[i] > 0xDFFF) return false;
  *cp = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(in[i++]) - 0xDC00);
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

bool kx_utf8_to_utf16(std::string_view in, std::u16string* out) {
  std::u16string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    if (!decode_utf8(in, i, &c)) {
      if (out != nullptr) out->clear();
      return false;
    }
    append_utf16(result, c);
  }
  if (out != nullptr) *out = std::move(result);
  return true;
}

bool kx_utf16_to_utf8(std::u16string_view in, std::string* out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    if (!decode_utf16(in, i, &c)) {
      if (out != nullptr) out->clear();
      return false;
    }
    append_utf8(result, c);
  }
  if (out != nullptr) *out = std::move(result);
  return true;
}

std::u16string kx_utf8_to_utf16_lossy(std::string_view in) {
  std::u16string result;
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    append_utf16(result, decode_utf8(in, i, &c) ? c : kReplacement);
  }
  return result;
}

std::string kx_utf16_to_utf8_lossy(std::u16string_view in) {
  std::string result;
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    append_utf8(result, decode_utf16(in, i, &c) ? c : kReplacement);
  }
  return result;
}
