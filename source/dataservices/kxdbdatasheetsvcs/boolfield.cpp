#include "boolfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/boolfield";

}  // namespace

const GrammarRecord* SetBoolFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetBoolField", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
              Grammar::Integer(u"Index", Index), Grammar::String(u"Value", Value),
              Grammar::String(u"ConfirmedClass", ConfirmedClass)});
  return kGrammar.data();
}

HRESULT SetBoolFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case Index: return Store(m_index, value);
    case Value: return Store(m_value, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetBoolFieldMessageParser::SetBoolFieldValue() {
  return RunFieldWorker(nullptr, kFile, [&] {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldBool, nullptr);
  });
}

HRESULT Main::SetBoolField(const OLECHAR* request) {
  return ServeMessage<SetBoolFieldMessageParser>(*this, u"KXDBDatasheetSvcs::SetBoolField", request);
}
