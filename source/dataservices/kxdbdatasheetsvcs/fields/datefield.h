// The message "SetDateField": the schema (the value ids of its grammar) and the
// message parser with its worker. The grammar, the worker and the handler
// (KXDBDatasheetSvcs::SetDateField) are in datefield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetDateFieldSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Value, ConfirmedClass, Index };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetDateFieldMessageParser final : public SetDateFieldSchema, public FieldMessageValues {
 public:
  using SetDateFieldSchema::SetDateFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetDateFieldValue(); }
  // The worker: stores the value and rewrites the field's record.
  HRESULT SetDateFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetDateField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
