#include "fields/checkfield.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/checkfield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetCheckFieldSchema::GetSchema() const {
  static constexpr auto kGrammar = FieldGrammar<SetCheckFieldSchema>(u"SetCheckField");
  return kGrammar.data();
}

HRESULT SetCheckFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldValue<SetCheckFieldSchema>(*this, id, value);
}

HRESULT SetCheckFieldMessageParser::SetCheckFieldValue() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    const FieldRequest request = Request(m_status);
    FieldWrite write(*m_pMain, request);
    if (!write.Prepare()) return S_OK;
    const HRESULT stored = write.Store(request.value, nullptr, request.value);
    if (stored != S_OK) return stored;
    write.Fields();
    _bstr_t entry;
    if (m_value.IsNull() || m_value.str() != u"0") {
      KXFieldData record;
      write.ReadRecord(write.field.fieldNumber, kFieldCheck, record);
      entry = write.WriteRecord(record);
    }
    write.PutRecord(write.field.fieldNumber, entry);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetCheckField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetCheckFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetCheckField",
                                                  request);
}
