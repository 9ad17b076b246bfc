// The field model's values: texts turned into typed values of the store by
// the holder's data type and back, and the number texts (prefix, postfix,
// substitution) of a value.
#include <cstdint>

#include "com/oleauto.h"
#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "fieldmodel/numbertext.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "otherdigits.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

// The format VARIANT of a real: the caller's unit, else the value's own.
// A unit that is `held`, a BSTR with nothing past its first NUL, is lent as
// it is; any other is copied into `owned`, which the answer then borrows.
VARIANT RealFormat(KXComException& ctx, IKXQFieldValue* holder, const OLECHAR* unit, BSTR held,
                   _variant_t& owned) {
  if (unit != nullptr && *unit != 0) {
    if (held == unit && kx_wcslen(held) == SysStringLen(held)) {
      VARIANT lent;
      VariantInit(&lent);
      V_VT(&lent) = VT_BSTR;
      V_BSTR(&lent) = held;
      return lent;
    }
    owned = _variant_t(unit);
    return owned;
  }
  _bstr_t own;
  KX_CHECK(ctx, holder->get_UnitText(_variant_t(), own.GetAddress()));
  owned = _variant_t(static_cast<const OLECHAR*>(own) != nullptr ? static_cast<const OLECHAR*>(own)
                                                                 : u"");
  return owned;
}

// The holder's attribute as a refusal names it: "attribute NAME".
std::u16string AttributeNamed(IKXQFieldValue* holder) {
  _bstr_t name;
  (void)holder->get_Name(name.GetAddress());
  return u"attribute " + std::u16string(name.view());
}

// A day number is stored only when it is a date the system can show, one
// that the conversion of dates to text takes (years 100 to 9999): any other
// is no date that the user can have meant.
void CheckShownDate(KXComException& ctx, IKXQFieldValue* holder, const OLECHAR* text, DATE day) {
  SYSTEMTIME shown{};
  if (VariantTimeToSystemTime(day, &shown)) return;
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_OVERFLOW,
                          u"'%ls' is out of range for %ls: a date is a day number from -657434 "
                          u"(0100-01-01) to 2958465 (9999-12-31)",
                          text, AttributeNamed(holder).c_str());
}

// Whether `text` is a calendar date ("2024-01-15", "15.01.2024",
// "1/15/2024", "15-Jan-2024", "15 Jan", "2024 01 15") rather than a day
// number: another number follows the one read from its start, or a date
// separator or blank does and then a month's name.
bool IsCalendarDateText(const OLECHAR* text) {
  const OLECHAR* end = text;
  (void)kx_wcstod(text, &end);
  // "4530٦" is no number at all: the number reader refuses it so.
  if (end == text || IsOtherScriptDigit(end)) return false;
  for (const OLECHAR* p = end; *p != 0; ++p) {
    if (kx_iswdigit(*p) || IsOtherScriptDigit(p)) return true;
  }
  const OLECHAR* p = end;
  while (*p == u'-' || *p == u'/' || *p == u'.' || kx_iswspace(*p)) ++p;
  const bool letter = (*p >= u'A' && *p <= u'Z') || (*p >= u'a' && *p <= u'z') || *p >= 0x80;
  return p != end && letter;
}

// A date comes as its day number: a text in hexadecimal or a calendar date
// would be stored as the number it begins with ("0x10" as 16, "2024-01-15"
// as day 2024, in 1905).
void CheckDayNumberText(KXComException& ctx, IKXQFieldValue* holder, const OLECHAR* text) {
  if (IsHexadecimalText(text)) {
    RefuseNumberText(ctx, KX_HERE(kFile), NumberReading::kNotDecimal, text,
                     AttributeNamed(holder).c_str());
  }
  if (!IsCalendarDateText(text)) return;
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                          u"'%ls' is not a day number for %ls: a date is sent as its day number "
                          u"(0 is 1899-12-30)",
                          text, AttributeNamed(holder).c_str());
}

}  // namespace

namespace VariantUtil {

bool FromXMLText(VARIANT* out, const OLECHAR* text, VARTYPE type) {
  KXComException ctx = KXComException::Silent(u"VariantUtil::FromXMLText");
  VariantClear(out);
  V_VT(out) = VT_NULL;
  const bool empty = text == nullptr || *text == 0;
  switch (type) {
    case VT_BSTR:
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = SysAllocString(text != nullptr ? text : u"");
      if (V_BSTR(out) == nullptr) {
        V_VT(out) = VT_NULL;
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
      }
      break;
    case VT_I4: {
      int32_t number = 0;
      if (!empty && ReadIntegerText(text, &number) == NumberReading::kNumber) {
        V_VT(out) = VT_I4;
        V_I4(out) = number;
      }
      break;
    }
    case VT_R8:
    case VT_DATE: {
      double number = 0;
      if (!empty && ReadRealText(text, &number) == NumberReading::kNumber) {
        V_VT(out) = type;
        if (type == VT_R8) {
          V_R8(out) = number;
        } else {
          V_DATE(out) = number;
        }
      }
      break;
    }
    case VT_BOOL:
      if (!empty) {
        bool flag = false;
        if (FAILED(ParseBoolean(text, &flag))) {
          ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"'%ls' is not a Boolean value",
                                  text);
        }
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = flag ? VARIANT_TRUE : VARIANT_FALSE;
      }
      break;
    default:
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"No defined XML format for given type");
  }
  return V_VT(out) == type;
}

}  // namespace VariantUtil

namespace FieldUtils {

namespace {

void SetValueFromText(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* text,
                      const OLECHAR* unit, BSTR heldUnit) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::SetAttributeValueFromText");
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const IKXQFieldValuePtr held(holder);
  if (text == nullptr || *text == 0) {
    KX_CHECK(ctx, holder->ClearValue(position));
    return;
  }
  _variant_t owned;
  VARIANT format;
  VariantInit(&format);
  _variant_t value;
  bool converted = true;
  const LONG type = FieldUtils::GetDataType(holder);
  switch (type) {
    case KXQ_TYPE_TEXT:
    case KXQ_TYPE_STRING: value = _variant_t(text); break;
    case KXQ_TYPE_BINARY:
      owned = _variant_t(u"Base64");
      format = owned;
      value = _variant_t(text);
      break;
    case KXQ_TYPE_REAL:
      format = RealFormat(ctx, holder, unit, heldUnit, owned);
      converted = VariantUtil::FromXMLText(&value, text, VT_R8);
      break;
    case KXQ_TYPE_INTEGER:
      // "0x10" would be stored as the 0 it begins with.
      if (IsHexadecimalText(text)) {
        RefuseNumberText(ctx, KX_HERE(kFile), NumberReading::kNotDecimal, text,
                         AttributeNamed(holder).c_str());
      }
      converted = VariantUtil::FromXMLText(&value, text, VT_I4);
      break;
    case KXQ_TYPE_DATE:
      CheckDayNumberText(ctx, holder, text);
      converted = VariantUtil::FromXMLText(&value, text, VT_DATE);
      if (converted) CheckShownDate(ctx, holder, text, V_DATE(&value));
      break;
    case KXQ_TYPE_BOOLEAN: converted = VariantUtil::FromXMLText(&value, text, VT_BOOL); break;
    default: {
      _bstr_t name;
      (void)holder->get_Name(name.GetAddress());
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_FAIL, u"Unknown data type defined for attribute %ls",
          static_cast<const OLECHAR*>(name) != nullptr ? static_cast<const OLECHAR*>(name) : u"");
    }
  }
  if (!converted) {
    // A text without a number, or with one the value cannot hold, stores
    // nothing: no 0 or clamped number in place of what was typed.
    double real = 0;
    int32_t integer = 0;
    const NumberReading reading =
        type == KXQ_TYPE_INTEGER ? ReadIntegerText(text, &integer) : ReadRealText(text, &real);
    RefuseNumberText(ctx, KX_HERE(kFile), reading, text, AttributeNamed(holder).c_str());
  }
  const HRESULT hr = holder->PutValue(position, format, value);
  if (SUCCEEDED(hr)) return;
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  ThrowIfFailed(ctx);
}

void GetValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                  const OLECHAR* unit, BSTR heldUnit, bool exact = false) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetAttributeValueText");
  text = _bstr_t();
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, holder->HasValue(position, &has));
  if (has == VARIANT_FALSE) return;
  _variant_t owned;
  VARIANT format;
  VariantInit(&format);
  const LONG type = FieldUtils::GetDataType(holder);
  if (type == KXQ_TYPE_REAL) {
    format = RealFormat(ctx, holder, unit, heldUnit, owned);
  } else if (type == KXQ_TYPE_BINARY) {
    owned = _variant_t(u"Base64");
    format = owned;
  }
  _variant_t value;
  KX_CHECK(ctx, holder->GetValue(position, format, &value));
  if (V_VT(&value) == VT_BSTR) {
    // The text up to its first NUL: taken over when that is all of it.
    const BSTR held = V_BSTR(&value);
    if (held != nullptr && kx_wcslen(held) == SysStringLen(held)) {
      text.Attach(held);
      V_VT(&value) = VT_EMPTY;
    } else {
      text = _bstr_t(held);
    }
    return;
  }
  BSTR formatted = nullptr;
  VariantUtil::FormatForXML(value, &formatted);
  text = _bstr_t(formatted, false);
  if (!exact || V_VT(&value) != VT_R8) return;
  double back = 0;
  const OLECHAR* written = text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"";
  if (ReadRealText(written, &back) == NumberReading::kNumber && back == V_R8(&value)) return;
  text = _bstr_t(kx_format(u"%.17g", V_R8(&value)).c_str());
}

}  // namespace

void SetAttributeValueFromText(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* text,
                               const OLECHAR* unit) {
  SetValueFromText(holder, position, text, unit, nullptr);
}

void SetAttributeValueFromText(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* text,
                               const _bstr_t& unit) {
  SetValueFromText(holder, position, text, unit, unit);
}

void GetAttributeValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                           const OLECHAR* unit) {
  GetValueText(holder, position, text, unit, nullptr);
}

void GetAttributeValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                           const _bstr_t& unit) {
  GetValueText(holder, position, text, unit, unit);
}

void GetAttributeValueExactText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text) {
  GetValueText(holder, position, text, nullptr, nullptr, true);
}

}  // namespace FieldUtils

namespace KXDBDatasheetSvcs {

namespace {

bool HasNumberTexts(KXComException& ctx, IKXQFieldValue* holder) {
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const LONG type = FieldUtils::GetDataType(holder);
  return type == KXQ_TYPE_REAL || type == KXQ_TYPE_INTEGER;
}

}  // namespace

void WriteViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* prefix,
                          const OLECHAR* postfix, const OLECHAR* substitution) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteViewNumberTexts");
  if (!HasNumberTexts(ctx, holder)) return;
  // A text is written only when it changes: each write is a store change
  // of its own, and most requests send the texts the value already has,
  // which one call tells without copying them out. Any other answer takes
  // the reads below; a failure there is the same as here, with the same
  // error information.
  VARIANT_BOOL unchanged = VARIANT_FALSE;
  if (holder->SameNumberTexts(position, prefix, postfix, substitution, &unchanged) == S_OK &&
      unchanged != VARIANT_FALSE) {
    return;
  }
  _bstr_t oldPrefix;
  _bstr_t oldPostfix;
  _bstr_t oldSubstitution;
  KX_CHECK(ctx, holder->GetPrefix(position, oldPrefix.GetAddress()));
  KX_CHECK(ctx, holder->GetPostfix(position, oldPostfix.GetAddress()));
  KX_CHECK(ctx, holder->GetSubstitution(position, oldSubstitution.GetAddress()));
  const auto same = [](const _bstr_t& stored, const OLECHAR* text) {
    return stored.view() == std::u16string_view(text != nullptr ? text : u"");
  };
  if (!same(oldPrefix, prefix)) KX_CHECK(ctx, holder->PutPrefix(position, _bstr_t(prefix)));
  if (!same(oldPostfix, postfix)) KX_CHECK(ctx, holder->PutPostfix(position, _bstr_t(postfix)));
  if (!same(oldSubstitution, substitution)) {
    KX_CHECK(ctx, holder->PutSubstitution(position, _bstr_t(substitution)));
  }
}

namespace {

void ReadNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                     _bstr_t& postfix, _bstr_t& substitution, bool emptyAsNull) {
  KXComException ctx(u"KXDBDatasheetSvcs::ReadViewNumberTexts");
  if (!HasNumberTexts(ctx, holder)) return;
  // Most values have none of the texts: then there is nothing to copy.
  VARIANT_BOOL none = VARIANT_FALSE;
  if (emptyAsNull && holder->SameNumberTexts(position, nullptr, nullptr, nullptr, &none) == S_OK &&
      none != VARIANT_FALSE) {
    prefix = _bstr_t();
    postfix = _bstr_t();
    substitution = _bstr_t();
    return;
  }
  KX_CHECK(ctx, holder->GetPrefix(position, prefix.GetAddress()));
  KX_CHECK(ctx, holder->GetPostfix(position, postfix.GetAddress()));
  KX_CHECK(ctx, holder->GetSubstitution(position, substitution.GetAddress()));
}

}  // namespace

void ReadViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                         _bstr_t& postfix, _bstr_t& substitution) {
  ReadNumberTexts(holder, position, prefix, postfix, substitution, false);
}

void ReadPresentViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                                _bstr_t& postfix, _bstr_t& substitution) {
  ReadNumberTexts(holder, position, prefix, postfix, substitution, true);
}

}  // namespace KXDBDatasheetSvcs
