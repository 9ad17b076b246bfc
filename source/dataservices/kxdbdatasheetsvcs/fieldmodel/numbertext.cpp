#include "fieldmodel/numbertext.h"

#include <cmath>

#include "com/wstr.h"
#include "otherdigits.h"

bool IsHexadecimalText(const OLECHAR* text) {
  const OLECHAR* p = text;
  while (kx_iswspace(*p)) ++p;
  if (*p == u'+' || *p == u'-') ++p;
  if (p[0] != u'0' || (p[1] != u'x' && p[1] != u'X')) return false;
  const OLECHAR c = p[2];
  return kx_iswdigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

NumberReading ReadIntegerText(const OLECHAR* text, int32_t* value) {
  if (text == nullptr) return NumberReading::kNoNumber;
  const OLECHAR* end = text;
  (void)kx_wcstol(text, &end, 10);
  if (end == text || IsOtherScriptDigit(end)) return NumberReading::kNoNumber;
  const LONGLONG number = _wtoi64(text);
  if (number < INT32_MIN || number > INT32_MAX) return NumberReading::kOutOfRange;
  *value = static_cast<int32_t>(number);
  return NumberReading::kNumber;
}

NumberReading ReadRealText(const OLECHAR* text, double* value) {
  if (text == nullptr) return NumberReading::kNoNumber;
  const OLECHAR* end = text;
  const double number = kx_wcstod(text, &end);
  bool digit = false;
  for (const OLECHAR* p = text; p != end && !digit; ++p) digit = kx_iswdigit(*p);
  // "nan(1)" has a digit but is no number either.
  if (!digit || std::isnan(number) || IsOtherScriptDigit(end)) return NumberReading::kNoNumber;
  if (std::isinf(number)) return NumberReading::kOutOfRange;
  *value = number;
  return NumberReading::kNumber;
}

void RefuseNumberText(KXComException& ctx, const SourceLocation& location, NumberReading reading,
                      const OLECHAR* text, const OLECHAR* what) {
  const OLECHAR* shown = text != nullptr ? text : u"";
  if (reading == NumberReading::kOutOfRange) {
    ThrowKXComExceptionHrAt(ctx, location, DISP_E_OVERFLOW, u"'%ls' is out of range for %ls", shown,
                            what);
  }
  if (reading == NumberReading::kNotDecimal) {
    ThrowKXComExceptionHrAt(ctx, location, DISP_E_TYPEMISMATCH,
                            u"'%ls' is not a decimal number for %ls", shown, what);
  }
  ThrowKXComExceptionHrAt(ctx, location, DISP_E_TYPEMISMATCH, u"'%ls' is not a number for %ls",
                          shown, what);
}

void RequestedNumber::Store(const SAXValue& read) {
  given = true;
  value = read.integer;
  reading = NumberReading::kNumber;
  text.Reset();
  // A plain number comes without its text; an empty text is 0, as the
  // grammar reads an empty integer (the first choice, unit or value).
  if (read.text == nullptr || read.empty) return;
  text.Assign(read.text);
  reading = ReadIntegerText(read.text, &value);
  if (reading == NumberReading::kNumber && IsHexadecimalText(read.text)) {
    reading = NumberReading::kNotDecimal;
  }
}

void RequestedNumber::Check(KXComException& ctx, const SourceLocation& location,
                            const OLECHAR* what) const {
  if (reading != NumberReading::kNumber)
    RefuseNumberText(ctx, location, reading, text.c_str(), what);
}
