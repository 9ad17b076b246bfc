#include "fields/radiofield.h"

#include "com/wstr.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/radiofield";
// A field worker answers a failure it returns as it is.
constexpr FrameOptions kFrame{.file = kFile, .passReturnedFailure = true};

}  // namespace

const GrammarRecord* SetRadioFieldSchema::GetSchema() const {
  static constexpr auto kGrammar =
      FieldGrammar<SetRadioFieldSchema, &Grammar::Integer>(u"SetRadioField");
  return kGrammar.data();
}

HRESULT SetRadioFieldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case Index: return Store(m_index, value);
    case Value: m_choice.Store(value); return S_OK;
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetRadioFieldMessageParser::SetRadioFieldValue() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    KXComException ctx = KXComException::Silent();
    if (!m_choice.given) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The choice of the radio field is missing (\"Value\")");
    }
    // Only a request that is acted on needs a choice.
    if (m_status == 1) {
      m_choice.Check(ctx, KX_HERE(kFile),
                     kx_format(u"field %d", static_cast<int>(m_fieldId)).c_str());
    }
    const FieldRequest request = Request(m_status);
    FieldWrite write(*m_pMain, request);
    if (!write.Prepare()) return S_OK;
    write.Fields();
    IKXQTemplateField* templateField = write.field.templateField;
    CheckPointerArgument(ctx, templateField);
    // No choice (a negative number) clears the value.
    _bstr_t choice;
    if (m_choice.value >= 0)
      KX_CHECK(ctx, templateField->GetOptionText(m_choice.value, choice.GetAddress()));
    const HRESULT stored = write.Store(choice, nullptr, choice.length() > 0 ? choice : u"");
    if (stored != S_OK) return stored;
    _bstr_t entry;
    if (m_choice.value >= 0) {
      KXFieldData record;
      write.ReadRecord(write.field.fieldNumber, kFieldRadio, record);
      record.value.Assign(kx_format(u"%d", static_cast<int>(m_choice.value)).c_str());
      entry = write.WriteRecord(record);
    }
    write.PutRecord(write.field.fieldNumber, entry);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetRadioField(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetRadioFieldMessageParser>(main, u"KXDBDatasheetSvcs::SetRadioField",
                                                  request);
}
