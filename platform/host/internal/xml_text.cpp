#include "host/internal/xml_text.h"

#include <charconv>
#include <cstdio>

namespace kx::host::internal {
namespace {

// The name characters of XML 1.0 (fifth edition) within the BMP; the
// planes above come as surrogate pairs (see IsXmlName).
bool IsNameStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
         (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD);
}

bool IsNameChar(char16_t c) {
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

}  // namespace

bool IsXmlName(std::u16string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
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

HRESULT FormatAttributeValue(const VARIANT& value, std::u16string& out) {
  if (value.vt & VT_BYREF) {
    VARIANT direct;
    VariantInit(&direct);
    HRESULT hr = VariantCopyInd(&direct, &value);
    if (SUCCEEDED(hr))
      hr = (direct.vt & VT_BYREF) ? DISP_E_BADVARTYPE : FormatAttributeValue(direct, out);
    VariantClear(&direct);
    return hr;
  }
  switch (value.vt) {
    case VT_BSTR: out = BstrView(value.bstrVal); return S_OK;
    case VT_I2: out = Widen(std::to_string(value.iVal)); return S_OK;
    case VT_I4: out = Widen(std::to_string(value.lVal)); return S_OK;
    case VT_INT: out = Widen(std::to_string(value.intVal)); return S_OK;
    case VT_R8: out = FormatReal(value.dblVal); return S_OK;
    case VT_R4: {
      // The shortest text that reads back as the same float: "%.16g" of a
      // float's double value would show digits the float never had.
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.fltVal);
      out = Widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
      return S_OK;
    }
    case VT_BOOL: out = value.boolVal ? u"1" : u"0"; return S_OK;
    default: return DISP_E_BADVARTYPE;
  }
}

}  // namespace kx::host::internal
