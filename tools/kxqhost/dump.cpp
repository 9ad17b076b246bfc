#include "dump.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "com/comutil.h"
#include "host/internal/utf.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::kxqhost {

namespace {

std::string Narrow(const OLECHAR* text, size_t length) {
  return host::internal::Utf16ToUtf8(std::u16string_view(text ? text : u"", text ? length : 0));
}

std::string Narrow(BSTR text) { return Narrow(text, SysStringLen(text)); }

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

std::string Real(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A DATE serial (days since 1899-12-30, fraction = time of day).
std::string Date(double serial) {
  if (!std::isfinite(serial)) return Real(serial);
  const double whole = std::floor(serial);
  long long days = static_cast<long long>(whole) - 25569;  // to days since 1970-01-01
  long long seconds = std::llround((serial - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  // Civil date from a day count (proleptic Gregorian calendar).
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[160];
  if (seconds == 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", year, month, day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", year, month,
                  day, seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return buffer;
}

std::string ObjectText(IUnknown* unknown) {
  if (!unknown) return "(empty)";
  IKXQObject* object = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&object)))) {
    return "(interface)";
  }
  LONG id = 0;
  const HRESULT hr = object->get_Id(&id);
  object->Release();
  return FAILED(hr) ? "(object)" : "#" + std::to_string(id);
}

}  // namespace

std::string ValueText(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return "(empty)";
    case VT_BSTR:
      return Quoted(Narrow(value.bstrVal));
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_R8:
      return Real(value.dblVal);
    case VT_R4:
      return Real(value.fltVal);
    case VT_DATE:
      return Date(value.date);
    case VT_DISPATCH:
      return ObjectText(value.pdispVal);
    case VT_UNKNOWN:
      return ObjectText(value.punkVal);
    default:
      break;
  }
  VARIANT text;
  VariantInit(&text);
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) {
    return "(value of type " + std::to_string(value.vt) + ")";
  }
  std::string out = Narrow(text.bstrVal);
  VariantClear(&text);
  return out;
}

HRESULT DumpObject(IKXQDatabase* database, LONG id, std::string* text) {
  text->clear();
  _com_ptr_t<IKXQObject> object;
  if (HRESULT hr = database->get_Object(id, &object); FAILED(hr)) return hr;
  _com_ptr_t<IKXQClass> cls;
  if (HRESULT hr = object->get_Class(&cls); FAILED(hr)) return hr;
  _bstr_t class_name;
  if (HRESULT hr = cls->get_Name(class_name.GetAddress()); FAILED(hr)) return hr;
  std::string out = "object " + std::to_string(id) + " " + Narrow(class_name) + "\n";
  _com_ptr_t<IKXQObject> owner;
  if (HRESULT hr = object->GetOwner(&owner, 0); FAILED(hr)) return hr;
  if (owner) {
    LONG owner_id = 0;
    if (SUCCEEDED(owner->get_Id(&owner_id))) out += "owner " + std::to_string(owner_id) + "\n";
  }
  LONG count = 0;
  if (HRESULT hr = cls->get_AttributeCount(&count); FAILED(hr)) return hr;
  for (LONG position = 1; position <= count; ++position) {
    _com_ptr_t<IKXQAttributeDef> definition;
    if (HRESULT hr = cls->get_AttributeDef(position, &definition); FAILED(hr)) return hr;
    _bstr_t name;
    if (HRESULT hr = definition->get_Name(name.GetAddress()); FAILED(hr)) return hr;
    _com_ptr_t<IKXQAttribute> attribute;
    if (HRESULT hr = object->get_Attribute(name, _variant_t(-1L), &attribute); FAILED(hr)) {
      return hr;
    }
    if (!attribute) continue;
    LONG type = 0, values = 0;
    VARIANT_BOOL is_list = VARIANT_FALSE;
    if (HRESULT hr = attribute->get_DataType(&type); FAILED(hr)) return hr;
    if (HRESULT hr = attribute->get_IsList(&is_list); FAILED(hr)) return hr;
    if (HRESULT hr = attribute->get_Count(&values); FAILED(hr)) return hr;
    const std::string attribute_name = Narrow(name);
    const _variant_t unit = type == KXQ_TYPE_BINARY ? _variant_t(u"Base64") : _variant_t();
    for (LONG slot = 1; slot <= values; ++slot) {
      _variant_t value;
      const _variant_t index = is_list ? _variant_t(slot) : _variant_t();
      if (HRESULT hr = attribute->GetValue(index, unit, value.GetAddress()); FAILED(hr)) return hr;
      if (!is_list && (value.vt == VT_EMPTY || value.vt == VT_NULL)) continue;
      std::string line = attribute_name;
      if (is_list) line += "[" + std::to_string(slot) + "]";
      line += " = " + ValueText(value);
      if (!is_list && type == KXQ_TYPE_REAL) {
        _bstr_t unit_text;
        if (SUCCEEDED(attribute->get_UnitText(_variant_t(), unit_text.GetAddress())) &&
            unit_text.length() > 0) {
          line += " " + Narrow(unit_text);
        }
      }
      out += line + "\n";
    }
  }
  *text = std::move(out);
  return S_OK;
}

}  // namespace kx::kxqhost
