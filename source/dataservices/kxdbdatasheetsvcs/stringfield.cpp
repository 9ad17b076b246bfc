#include "stringfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/stringfield";

}  // namespace

const GrammarRecord* SetStringFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetStringField", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
              Grammar::Integer(u"Index", Index), Grammar::String(u"Value", Value),
              Grammar::String(u"ConfirmedClass", ConfirmedClass)});
  return kGrammar.data();
}

HRESULT SetStringFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case Index: return Store(m_index, value);
    case Value: return Store(m_value, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetStringFieldMessageParser::SetStringFieldValue() {
  return RunFieldWorker(u"KXDBDatasheetSvcs::SetStringFieldValue", kFile, [&] {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldString, nullptr);
  });
}

HRESULT Main::SetStringField(const OLECHAR* request) {
  return ServeMessage<SetStringFieldMessageParser>(*this, u"KXDBDatasheetSvcs::SetStringField", request);
}
