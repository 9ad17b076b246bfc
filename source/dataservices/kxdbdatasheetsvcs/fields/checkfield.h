// The message "SetCheckField": the schema (the value ids of its grammar)
// and the message parser with its worker. The grammar, the worker and the
// handler (KXDBDatasheetSvcs::SetCheckField) are in checkfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetCheckFieldSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, Value, ConfirmedClass };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetCheckFieldMessageParser final : public SetCheckFieldSchema, public FieldMessageValues {
 public:
  using SetCheckFieldSchema::SetCheckFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetCheckFieldValue(); }
  // The worker: stores the value; "0" empties the field's record, anything
  // else (also no value) writes it.
  HRESULT SetCheckFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetCheckField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
