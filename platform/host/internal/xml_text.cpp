#include "host/internal/xml_text.h"

#include <charconv>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx::host::internal {
namespace {

// The name characters of XML 1.0 (fifth edition) within the BMP; the
// planes above come as surrogate pairs (see IsXmlName).
constexpr bool IsNameStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
         (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD);
}

constexpr bool IsNameChar(char16_t c) {
  return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendAscii(std::u16string& out, const char* text) {
  while (*text) out.push_back(static_cast<char16_t>(*text++));
}

// A character written as it is in text and in attribute values alike.
bool IsPlain(char16_t c) {
  return c >= 0x20 && c != u'&' && c != u'<' && c != u'>' && c != u'"' &&
         (c < 0xD800 || (c > 0xDFFF && c < 0xFFFE));
}

// Shared by text and attribute escaping; `attribute` adds the quote and the
// white-space references.
void AppendEscaped(std::u16string& out, std::u16string_view text, bool attribute) {
  out.reserve(out.size() + text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    // Runs of plain characters go out at once.
    size_t end = i;
    while (end < text.size() && IsPlain(text[end])) ++end;
    if (end > i) {
      out.append(text.data() + i, end - i);
      i = end - 1;
      continue;
    }
    const char16_t c = text[i];
    switch (c) {
      case u'&': AppendAscii(out, "&amp;"); continue;
      case u'<': AppendAscii(out, "&lt;"); continue;
      case u'>': AppendAscii(out, "&gt;"); continue;
      case u'"':
        if (attribute) {
          AppendAscii(out, "&quot;");
          continue;
        }
        break;
      case u'\t':
      case u'\n':
      case u'\r':
        // A parser gives back a written "\r" as "\n" (line ends are
        // normalised): in text too it is kept as a reference.
        if (attribute || c == u'\r') {
          char ref[8];
          std::snprintf(ref, sizeof ref, "&#%d;", static_cast<int>(c));
          AppendAscii(out, ref);
          continue;
        }
        out.push_back(c);
        continue;
      default: break;
    }
    if (IsHighSurrogate(c)) {
      if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        out.push_back(c);
        out.push_back(text[++i]);
      } else {
        out.push_back(u'\uFFFD');
      }
      continue;
    }
    if (c < 0x20 || IsLowSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
      out.push_back(u'\uFFFD');
      continue;
    }
    out.push_back(c);
  }
}

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// Widens ASCII text to `out`; the number of characters.
size_t Widen(const char* begin, const char* end, char16_t* out) {
  size_t n = 0;
  for (const char* p = begin; p != end; ++p) out[n++] = static_cast<char16_t>(*p);
  return n;
}

template <class Number>
size_t FormatDecimal(Number value, char16_t* out) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Widen(buffer, result.ptr, out);
}

// IsNameStart (bit 0) and IsNameChar (bit 1) of the ASCII characters, which
// nearly every name is made of.
constexpr auto kAsciiName = [] {
  struct Table {
    unsigned char bits[0x80] = {};
  } table;
  for (char16_t c = 0; c < 0x80; ++c) {
    table.bits[c] = static_cast<unsigned char>((IsNameStart(c) ? 1 : 0) | (IsNameChar(c) ? 2 : 0));
  }
  return table;
}();

}  // namespace

bool IsXmlName(std::u16string_view name) {
  if (name.empty()) return false;
  size_t i = 0;
  for (; i < name.size() && name[i] < 0x80; ++i) {
    if ((kAsciiName.bits[name[i]] & (i == 0 ? 1 : 2)) == 0) return false;
  }
  for (; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (IsHighSurrogate(c)) {
      // U+10000 to U+EFFFF: high halves up to 0xDB7F, each with its low half.
      if (c > 0xDB7F || i + 1 >= name.size() || !IsLowSurrogate(name[i + 1])) return false;
      ++i;
      continue;
    }
    if (!(i == 0 ? IsNameStart(c) : IsNameChar(c))) return false;
  }
  return true;
}

void AppendEscapedText(std::u16string& out, std::u16string_view text) {
  AppendEscaped(out, text, false);
}

void AppendEscapedAttribute(std::u16string& out, std::u16string_view value) {
  AppendEscaped(out, value, true);
}

std::u16string FormatReal(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
  return Widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

#if defined(__SSE2__)
namespace {

// Lanes that are not plain, as far as eight at a time can tell: within
// U+0020..U+D7FF and none of '"', '&', '<' and '>' is plain. Those from
// U+D800 up count as not plain here (the escaping writes most of them as
// they are).
__m128i NotPlainLanes(__m128i c) {
  // c - 0x20 above 0xD7FF - 0x20 (unsigned): outside the plain range.
  const __m128i outside = _mm_subs_epu16(_mm_sub_epi16(c, _mm_set1_epi16(0x20)),
                                         _mm_set1_epi16(static_cast<short>(0xD7FF - 0x20)));
  const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(c, _mm_set1_epi16(u'"')),
                                                  _mm_cmpeq_epi16(c, _mm_set1_epi16(u'&'))),
                                     _mm_or_si128(_mm_cmpeq_epi16(c, _mm_set1_epi16(u'<')),
                                                  _mm_cmpeq_epi16(c, _mm_set1_epi16(u'>'))));
  return _mm_or_si128(outside, marks);
}

}  // namespace
#endif

bool CopyAttributeValue(std::u16string_view value, char16_t* out) {
  const char16_t* in = value.data();
  const size_t n = value.size();
#if defined(__SSE2__)
  if (n >= 4) {
    __m128i any;
    if (n >= 8) {
      any = _mm_setzero_si128();
      size_t i = 0;
      for (; i + 8 <= n; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), c);
        any = _mm_or_si128(any, NotPlainLanes(c));
      }
      if (i < n) {
        // The last eight, overlapping those done.
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 8), c);
        any = _mm_or_si128(any, NotPlainLanes(c));
      }
    } else {
      // Four to seven: the first four and the last four.
      const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
      const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + n - 4));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), head);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n - 4), tail);
      any = NotPlainLanes(_mm_unpacklo_epi64(head, tail));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
  }
#endif
  bool special = false;
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = in[i];
    out[i] = c;
    special |= !IsPlain(c);
  }
  return special;
}

bool NeedsAttributeEscape(std::u16string_view value) {
  for (const char16_t c : value) {
    if (!IsPlain(c)) return true;
  }
  return false;
}

size_t FormatScalarValue(const VARIANT& value, char16_t (&out)[kScalarTextSize]) {
  switch (value.vt) {
    case VT_I2: return FormatDecimal(value.iVal, out);
    case VT_I4: return FormatDecimal(value.lVal, out);
    case VT_INT: return FormatDecimal(value.intVal, out);
    case VT_R8: {
      char buffer[kScalarTextSize];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.dblVal,
                                        std::chars_format::general, 16);
      return Widen(buffer, result.ptr, out);
    }
    case VT_R4: {
      // The shortest text that reads back as the same float: "%.16g" of a
      // float's double value would show digits the float never had.
      char buffer[kScalarTextSize];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.fltVal);
      return Widen(buffer, result.ptr, out);
    }
    case VT_BOOL: out[0] = value.boolVal ? u'1' : u'0'; return 1;
    default: return 0;
  }
}

HRESULT AppendAttributeValue(const VARIANT& value, std::u16string& out) {
  if (value.vt & VT_BYREF) {
    VARIANT direct;
    VariantInit(&direct);
    HRESULT hr = VariantCopyInd(&direct, &value);
    if (SUCCEEDED(hr))
      hr = (direct.vt & VT_BYREF) ? DISP_E_BADVARTYPE : AppendAttributeValue(direct, out);
    VariantClear(&direct);
    return hr;
  }
  if (value.vt == VT_BSTR) {
    out += BstrView(value.bstrVal);
    return S_OK;
  }
  char16_t text[kScalarTextSize];
  const size_t n = FormatScalarValue(value, text);
  if (n == 0) return DISP_E_BADVARTYPE;
  out.append(text, n);
  return S_OK;
}

HRESULT FormatAttributeValue(const VARIANT& value, std::u16string& out) {
  std::u16string text;
  if (HRESULT hr = AppendAttributeValue(value, text); FAILED(hr)) return hr;
  out = std::move(text);
  return S_OK;
}

}  // namespace kx::host::internal
