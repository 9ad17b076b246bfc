#include "fields/datefield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datefield";

}  // namespace

const GrammarRecord* SetDateFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = FieldGrammar<SetDateFieldSchema>(u"SetDateField");
  return kGrammar.data();
}

HRESULT SetDateFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldValue<SetDateFieldSchema>(*this, id, value);
}

HRESULT SetDateFieldMessageParser::SetDateFieldValue() {
  return RunFieldWorker(nullptr, kFile, [&] {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldDate, nullptr);
  });
}

HRESULT Main::SetDateField(const OLECHAR* request) {
  return ServeMessage<SetDateFieldMessageParser>(*this, u"KXDBDatasheetSvcs::SetDateField", request);
}
