// Text rules of the replies the host renders: XML names, escaping and the
// text form of attribute values.
#pragma once

#ifndef KX_HOST_INTERNAL
#error "host/internal headers are private to their library; include its public headers"
#endif

#include <string>
#include <string_view>

#include "com/dispatch.h"
#include "com/oleauto.h"

namespace kx::host::internal {

// True when `name` can stand as an element or attribute name under the
// name rules of XML 1.0 (fifth edition): a letter, "_" or ":" first (or a
// character of the non-ASCII name ranges), then those, digits, "-", "."
// and the name-only marks; lone surrogates are refused.
bool IsXmlName(std::u16string_view name);

// Appends `text` as character data: "&", "<", ">" and carriage return
// become references (a parser would turn a written carriage return into a
// line feed).
// Characters XML cannot carry (controls other than tab, line feed and
// carriage return; lone surrogates; U+FFFE and U+FFFF) become U+FFFD.
void AppendEscapedText(std::u16string& out, std::u16string_view text);

// Appends `value` for use between double quotes: as AppendEscapedText, and
// also '"' and the white-space characters tab, line feed and carriage return
// as character references, so that a parser gives back the same value.
void AppendEscapedAttribute(std::u16string& out, std::u16string_view value);

// The text form of an attribute value: VT_BSTR as it stands (null = empty),
// VT_I2/VT_I4/VT_INT in decimal, VT_R8 as "%.16g" with "." as decimal point
// whatever the locale, VT_R4 as the shortest text that reads back as the
// same float, VT_BOOL "1" or "0"; a value held by reference as the value it
// refers to. Any other type fails with DISP_E_BADVARTYPE and leaves `out`
// alone.
HRESULT FormatAttributeValue(const VARIANT& value, std::u16string& out);

// As FormatAttributeValue, but appends the text to `out`; on failure
// nothing is appended.
HRESULT AppendAttributeValue(const VARIANT& value, std::u16string& out);

// Room for the text of a number or flag (see FormatScalarValue).
inline constexpr size_t kScalarTextSize = 64;

// The text form (as FormatAttributeValue) of a VT_I2, VT_I4, VT_INT, VT_R8,
// VT_R4 or VT_BOOL value written to `out`; its length, or 0 for a value of
// any other type (nothing is written then).
size_t FormatScalarValue(const VARIANT& value, char16_t (&out)[kScalarTextSize]);

// Copies `value` to `out`; false when AppendEscapedAttribute certainly
// writes it as it stands, true when it may not.
bool CopyAttributeValue(std::u16string_view value, char16_t* out);

// As CopyAttributeValue, without the copy.
bool NeedsAttributeEscape(std::u16string_view value);

// "%.16g" of `value` in the "C" locale ("nan", "inf", "-inf" for the
// non-finite values).
std::u16string FormatReal(double value);

// The characters of a BSTR (null = empty).
inline std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

}  // namespace kx::host::internal
