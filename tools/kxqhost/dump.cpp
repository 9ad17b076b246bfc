#include "dump.h"

#include <charconv>
#include <cstdio>

#include "com/comutil.h"
#include "com/oleauto.h"
#include "host/utf.h"
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

// A DATE serial (days since 1899-12-30, fraction = time of day) through
// the platform's conversion; a serial outside its calendar (years
// 100..9999) is shown as the number.
std::string Date(double serial) {
  SYSTEMTIME time{};
  if (!VariantTimeToSystemTime(serial, &time)) return Real(serial);
  char buffer[40];
  if (time.wHour == 0 && time.wMinute == 0 && time.wSecond == 0) {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", unsigned{time.wYear},
                  unsigned{time.wMonth}, unsigned{time.wDay});
  } else {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{time.wYear},
                  unsigned{time.wMonth}, unsigned{time.wDay}, unsigned{time.wHour},
                  unsigned{time.wMinute}, unsigned{time.wSecond});
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
    case VT_NULL: return "(empty)";
    case VT_BSTR: return Quoted(Narrow(value.bstrVal));
    case VT_BOOL: return value.boolVal ? "true" : "false";
    case VT_R8: return Real(value.dblVal);
    case VT_R4: return Real(value.fltVal);
    case VT_DATE: return Date(value.date);
    case VT_DISPATCH: return ObjectText(value.pdispVal);
    case VT_UNKNOWN: return ObjectText(value.punkVal);
    default: break;
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
