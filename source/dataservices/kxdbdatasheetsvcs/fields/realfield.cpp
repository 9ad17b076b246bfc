#include "fields/realfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/realfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetRealFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = NumberFieldGrammar<SetRealFieldSchema>(u"SetRealField");
  return kGrammar.data();
}

HRESULT SetRealFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreNumberFieldValue<SetRealFieldSchema>(*this, *this, id, value);
}

HRESULT SetRealFieldMessageParser::SetRealFieldValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetRealFieldValue", kFrame, [&](KXComException&) {
    const NumberTexts texts = Texts();
    return SetFieldValue(*m_pMain, Request(m_status), kFieldReal, &texts);
  });
}

HRESULT KXDBDatasheetSvcs::SetRealField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetRealFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetRealField", request);
}
