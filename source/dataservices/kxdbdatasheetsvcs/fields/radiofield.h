// The message "SetRadioField": the schema (the value ids of its grammar)
// and the message parser with its worker. The grammar, the worker and the
// handler (KXDBDatasheetSvcs::SetRadioField) are in radiofield.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/numbertext.h"
#include "fields/fieldmessage.h"

class SetRadioFieldSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, Value, ConfirmedClass };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetRadioFieldMessageParser final : public SetRadioFieldSchema, public FieldMessageValues {
 public:
  using SetRadioFieldSchema::SetRadioFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetRadioFieldValue(); }
  // The choice is refused naming the field, and only when acted on.
  bool ChecksIntegerText(uint32_t id) const override { return id == Value; }
  // The worker: stores the text of choice "Value" and keeps the choice's
  // number in the field's record; a negative choice empties the record.
  HRESULT SetRadioFieldValue();

  RequestedNumber m_choice;  // a request without "Value", or without a number, is refused
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetRadioField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
