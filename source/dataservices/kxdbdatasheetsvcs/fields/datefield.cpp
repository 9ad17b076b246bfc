#include "fields/datefield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datefield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetDateFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = FieldGrammar<SetDateFieldSchema>(u"SetDateField");
  return kGrammar.data();
}

HRESULT SetDateFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldValue<SetDateFieldSchema>(*this, id, value);
}

HRESULT SetDateFieldMessageParser::SetDateFieldValue() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldDate, nullptr);
  });
}

HRESULT KXDBDatasheetSvcs::SetDateField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetDateFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetDateField", request);
}
