#include "msxml/internal/utf.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kx::msxml {

namespace {

// The careful conversion, from code unit `i` on; stops at an unpaired
// surrogate. `d` has room for three bytes per code unit.
std::size_t Convert16(const char16_t* text, std::size_t i, std::size_t length, char*& d) {
  for (; i < length; ++i) {
    // Runs of ASCII, eight units at a time.
    while (i + 8 <= length) {
      std::uint64_t a, b;
      std::memcpy(&a, text + i, 8);
      std::memcpy(&b, text + i + 4, 8);
      if (((a | b) & 0xFF80FF80FF80FF80ULL) != 0) break;
      for (int k = 0; k < 8; ++k) d[k] = static_cast<char>(text[i + k]);
      d += 8;
      i += 8;
    }
    if (i == length) break;
    char32_t c = text[i];
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0xD800 || c > 0xDFFF) {
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      const char32_t low = i + 1 < length ? text[i + 1] : 0;
      if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      *d++ = static_cast<char>(0xF0 | (c >> 18));
      *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    }
  }
  return length;
}

}  // namespace

std::size_t Utf16ToUtf8(const char16_t* text, std::size_t length, Utf8Text& out) {
  // Room for the worst case, three bytes per unit (a surrogate pair takes
  // four for two); pages never written are never touched.
  out.data = std::make_unique_for_overwrite<char[]>(3 * length + 1);
  char* d = out.data.get();
  const std::size_t stop = Convert16(text, 0, length, d);
  out.size = static_cast<std::size_t>(d - out.data.get());
  return stop;
}

const char16_t* Utf16Buffer::c_str() {
  if (size_ == capacity_) Grow(1);
  data_[size_] = 0;
  return data_.get();
}

void Utf16Buffer::Grow(std::size_t extra) {
  const std::size_t want = std::max({size_ + extra, 2 * capacity_, std::size_t{64}});
  auto bigger = std::make_unique_for_overwrite<char16_t[]>(want);
  if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_ * sizeof(char16_t));
  data_ = std::move(bigger);
  capacity_ = want;
}

void Utf16Buffer::AppendSequence(const unsigned char*& s, std::size_t avail) {
  const unsigned char lead = *s;
  const int trail = lead < 0xC2 ? -1 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : -1;
  if (trail < 0 || avail <= static_cast<std::size_t>(trail)) {
    push_back(u'\uFFFD');
    ++s;
    return;
  }
  char32_t c = lead & (0x3F >> trail);
  for (int k = 1; k <= trail; ++k) {
    if ((s[k] & 0xC0) != 0x80) {
      push_back(u'\uFFFD');
      ++s;
      return;
    }
    c = (c << 6) | (s[k] & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[trail] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    push_back(u'\uFFFD');
    ++s;
    return;
  }
  if (c >= 0x10000) {
    c -= 0x10000;
    push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    push_back(static_cast<char16_t>(c));
  }
  s += trail + 1;
}

void Utf16Buffer::AppendUtf8(const char* text, std::size_t length) {
  // Never more code units than bytes.
  if (capacity_ - size_ < length) Grow(length);
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const auto* end = s + length;
  while (s < end) {
    char16_t* d = data_.get() + size_;
    const unsigned char* ascii = s;
    while (s < end && *s < 0x80) *d++ = *s++;
    size_ += static_cast<std::size_t>(s - ascii);
    if (s < end) AppendSequence(s, static_cast<std::size_t>(end - s));
  }
}

void Utf16Buffer::Append(const char16_t* text, std::size_t length) {
  if (capacity_ - size_ < length) Grow(length);
  if (length != 0) std::memcpy(data_.get() + size_, text, length * sizeof(char16_t));
  size_ += length;
}

void Utf16Buffer::AppendUtf8z(const char* text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  for (;;) {
    // Room for the ASCII run and one surrogate pair after it.
    if (capacity_ - size_ < 8) Grow(64);
    char16_t* d = data_.get() + size_;
    char16_t* const limit = data_.get() + capacity_ - 2;
    while (d < limit && static_cast<unsigned char>(*s - 1) < 0x7F) *d++ = *s++;
    size_ = static_cast<std::size_t>(d - data_.get());
    if (*s == 0) return;
    // The zero ends any sequence early: it is not a continuation byte.
    if (*s >= 0x80) AppendSequence(s, 4);
  }
}

}  // namespace kx::msxml
