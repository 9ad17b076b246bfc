#include "realfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/realfield";

}  // namespace

const GrammarRecord* SetRealFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetRealField", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
              Grammar::Integer(u"Index", Index), Grammar::String(u"Value", Value),
              Grammar::String(u"Prefix", Prefix), Grammar::String(u"Postfix", Postfix),
              Grammar::String(u"Substitution", Substitution), Grammar::String(u"Format", Format),
              Grammar::String(u"ConfirmedClass", ConfirmedClass),
              Grammar::Boolean(u"Published", Published)});
  return kGrammar.data();
}

HRESULT SetRealFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case Index: return Store(m_index, value);
    case Value: return Store(m_value, value);
    case Prefix: return Store(m_prefix, value);
    case Postfix: return Store(m_postfix, value);
    case Substitution: return Store(m_substitution, value);
    case Format: return Store(m_format, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    case Published: return Store(m_published, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetRealFieldMessageParser::SetRealFieldValue() {
  return RunFieldWorker(u"KXDBDatasheetSvcs::SetRealFieldValue", kFile, [&] {
    const NumberTexts texts = Texts();
    return SetFieldValue(*m_pMain, Request(m_status), kFieldReal, &texts);
  });
}

HRESULT Main::SetRealField(const OLECHAR* request) {
  return ServeMessage<SetRealFieldMessageParser>(*this, u"KXDBDatasheetSvcs::SetRealField", request);
}
