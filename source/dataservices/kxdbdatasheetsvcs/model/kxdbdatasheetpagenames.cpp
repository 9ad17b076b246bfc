// Page names used as formats with their page number.
#include <algorithm>
#include <string>

#include "model/kxdbdatasheetutils.h"

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsFlag(char16_t c) { return c == u'-' || c == u'+' || c == u' ' || c == u'0' || c == u'#'; }

// Reads a run of digits as a count, saturating far above any useful size.
size_t ReadCount(std::u16string_view text, size_t& at) {
  size_t value = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    value = std::min<size_t>(value * 10 + (text[at] - u'0'), 1u << 20);
  }
  return value;
}

// `number` as printf writes it for the directive's flags, width and
// precision.
std::u16string FormatInteger(int64_t number, bool leftAlign, bool plus, bool space, bool zeroPad,
                             size_t width, bool hasPrecision, size_t precision) {
  const bool negative = number < 0;
  std::u16string digits;
  uint64_t magnitude = negative ? static_cast<uint64_t>(-number) : static_cast<uint64_t>(number);
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (hasPrecision && precision == 0 && number == 0) digits.clear();
  if (hasPrecision && digits.size() < precision) digits.insert(0, precision - digits.size(), u'0');
  std::u16string sign = negative ? u"-" : plus ? u"+" : space ? u" " : u"";
  const size_t length = sign.size() + digits.size();
  if (length >= width) return sign + digits;
  const size_t fill = width - length;
  if (leftAlign) return sign + digits + std::u16string(fill, u' ');
  if (zeroPad && !hasPrecision) return sign + std::u16string(fill, u'0') + digits;
  return std::u16string(fill, u' ') + sign + digits;
}

}  // namespace

namespace KXDBDatasheetSvcs {

std::u16string FormatPageName(std::u16string_view name, int32_t number) {
  // The shown text fits a buffer of the name's length plus 8 characters,
  // its terminator included.
  const size_t limit = name.size() + 7;
  std::u16string out;
  bool substituted = false;
  size_t at = 0;
  while (at < name.size() && out.size() < limit) {
    const char16_t c = name[at];
    if (c != u'%') {
      out += c;
      ++at;
      continue;
    }
    if (at + 1 < name.size() && name[at + 1] == u'%') {
      out += u'%';
      at += 2;
      continue;
    }
    // Parse one directive; only the first integer directive is replaced.
    size_t end = at + 1;
    bool leftAlign = false, plus = false, space = false, zeroPad = false;
    for (; end < name.size() && IsFlag(name[end]); ++end) {
      leftAlign = leftAlign || name[end] == u'-';
      plus = plus || name[end] == u'+';
      space = space || name[end] == u' ';
      zeroPad = zeroPad || name[end] == u'0';
    }
    const size_t width = ReadCount(name, end);
    bool hasPrecision = false;
    size_t precision = 0;
    if (end < name.size() && name[end] == u'.') {
      ++end;
      hasPrecision = true;
      precision = ReadCount(name, end);
    }
    if (end < name.size() && (name[end] == u'l' || name[end] == u'h')) ++end;
    const bool integer =
        end < name.size() && (name[end] == u'd' || name[end] == u'i' || name[end] == u'u');
    if (!integer || substituted) {
      out += u'%';
      ++at;
      continue;
    }
    const int64_t value =
        name[end] == u'u' ? static_cast<int64_t>(static_cast<uint32_t>(number)) : number;
    out += FormatInteger(value, leftAlign, plus, space, zeroPad, std::min(width, limit),
                         hasPrecision, std::min(precision, limit));
    substituted = true;
    at = end + 1;
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace KXDBDatasheetSvcs
