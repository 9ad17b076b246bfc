#include "fields/integerfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/integerfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetIntegerFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = NumberFieldGrammar<SetIntegerFieldSchema>(u"SetIntegerField");
  return kGrammar.data();
}

HRESULT SetIntegerFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreNumberFieldValue<SetIntegerFieldSchema>(*this, *this, id, value);
}

HRESULT SetIntegerFieldMessageParser::SetIntegerFieldValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetIntegerFieldValue", kFrame, [&](KXComException&) {
    const NumberTexts texts = Texts();
    return SetFieldValue(*m_pMain, Request(m_status), kFieldInteger, &texts);
  });
}

HRESULT KXDBDatasheetSvcs::SetIntegerField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetIntegerFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetIntegerField",
                                                    request);
}
