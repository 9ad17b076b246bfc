#include "datefield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datefield";

}  // namespace

const GrammarRecord* SetDateFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetDateField", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
              Grammar::Integer(u"Index", Index), Grammar::String(u"Value", Value),
              Grammar::String(u"ConfirmedClass", ConfirmedClass)});
  return kGrammar.data();
}

HRESULT SetDateFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case Index: return Store(m_index, value);
    case Value: return Store(m_value, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetDateFieldMessageParser::SetDateFieldValue() {
  return RunFieldWorker(nullptr, kFile, [&] {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldDate, nullptr);
  });
}

HRESULT Main::SetDateField(const OLECHAR* request) {
  return ServeMessage<SetDateFieldMessageParser>(*this, u"KXDBDatasheetSvcs::SetDateField", request);
}
