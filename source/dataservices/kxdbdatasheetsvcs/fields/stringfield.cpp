#include "fields/stringfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/stringfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetStringFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = FieldGrammar<SetStringFieldSchema>(u"SetStringField");
  return kGrammar.data();
}

HRESULT SetStringFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldValue<SetStringFieldSchema>(*this, id, value);
}

HRESULT SetStringFieldMessageParser::SetStringFieldValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetStringFieldValue", kFrame, [&](KXComException&) {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldString, nullptr);
  });
}

HRESULT KXDBDatasheetSvcs::SetStringField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetStringFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetStringField",
                                                   request);
}
