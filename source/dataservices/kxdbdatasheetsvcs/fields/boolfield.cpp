#include "fields/boolfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/boolfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetBoolFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = FieldGrammar<SetBoolFieldSchema>(u"SetBoolField");
  return kGrammar.data();
}

HRESULT SetBoolFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldValue<SetBoolFieldSchema>(*this, id, value);
}

HRESULT SetBoolFieldMessageParser::SetBoolFieldValue() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    return SetFieldValue(*m_pMain, Request(m_status), kFieldBool, nullptr);
  });
}

HRESULT KXDBDatasheetSvcs::SetBoolField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetBoolFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetBoolField", request);
}
