// What the parsers of the field-value messages share: the values of a field
// address and its new value, the number texts of the integer and real
// messages, and the frame of their workers.
#pragma once

#include <cstdint>

#include "fieldmodel/fieldaddress.h"
#include "fields/fieldsetter.h"
#include "model/maincontext.h"

// The field's address, "Value" and "ConfirmedClass"; texts absent until
// given.
struct FieldMessageValues : FieldAddress {
  SAXText m_value;
  SAXText m_confirmedClass;

  FieldRequest Request(int32_t status) const {
    FieldRequest request;
    request.status = status;
    request.pageId = m_pageId;
    request.fieldId = m_fieldId;
    request.index = m_index;
    request.value = m_value.c_str();
    request.confirmedClass = m_confirmedClass.c_str();
    return request;
  }
};

// "Prefix", "Postfix", "Substitution", "Format" and "Published" (true until
// given).
struct NumberMessageValues {
  SAXText m_prefix;
  SAXText m_postfix;
  SAXText m_substitution;
  SAXText m_format;
  bool m_published = true;

  NumberTexts Texts() const {
    NumberTexts texts;
    texts.prefix = m_prefix.c_str();
    texts.postfix = m_postfix.c_str();
    texts.substitution = m_substitution.c_str();
    texts.format = m_format.c_str();
    texts.published = m_published;
    return texts;
  }
};

// The grammar of a field message: "PageId", "FieldId", "Index", "Value"
// (`ValueType`: a string, or an integer for radio choices) and
// "ConfirmedClass", with the value ids of `Schema`.
template <class Schema, auto ValueType = &Grammar::String>
constexpr auto FieldGrammar(const OLECHAR* name) {
  return Grammar::Message(name, FieldAddressAttributes<Schema>(
                                    {ValueType(u"Value", Schema::Value),
                                     Grammar::String(u"ConfirmedClass", Schema::ConfirmedClass)}));
}

// The same with the number texts of "SetIntegerField" and "SetRealField".
template <class Schema>
constexpr auto NumberFieldGrammar(const OLECHAR* name) {
  return Grammar::Message(name, FieldAddressAttributes<Schema>(
                                    {Grammar::String(u"Value", Schema::Value),
                                     Grammar::String(u"Prefix", Schema::Prefix),
                                     Grammar::String(u"Postfix", Schema::Postfix),
                                     Grammar::String(u"Substitution", Schema::Substitution),
                                     Grammar::String(u"Format", Schema::Format),
                                     Grammar::String(u"ConfirmedClass", Schema::ConfirmedClass),
                                     Grammar::Boolean(u"Published", Schema::Published)}));
}

// `SetValue` of a field message with the ids of `Schema`: S_OK, or
// E_INVALIDARG for an id that is not one of the five.
template <class Schema>
HRESULT StoreFieldValue(FieldMessageValues& values, uint32_t id, const SAXValue& value) {
  switch (id) {
    case Schema::Value: return Store(values.m_value, value);
    case Schema::ConfirmedClass: return Store(values.m_confirmedClass, value);
    default: return StoreFieldAddress<Schema>(values, id, value);
  }
}

template <class Schema>
HRESULT StoreNumberFieldValue(FieldMessageValues& values, NumberMessageValues& texts, uint32_t id,
                              const SAXValue& value) {
  switch (id) {
    case Schema::Prefix: return Store(texts.m_prefix, value);
    case Schema::Postfix: return Store(texts.m_postfix, value);
    case Schema::Substitution: return Store(texts.m_substitution, value);
    case Schema::Format: return Store(texts.m_format, value);
    case Schema::Published: return Store(texts.m_published, value);
    default: return StoreFieldValue<Schema>(values, id, value);
  }
}
