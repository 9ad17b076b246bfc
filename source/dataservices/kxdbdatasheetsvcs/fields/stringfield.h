// The message "SetStringField": the schema (the value ids of its grammar) and the
// message parser with its worker. The grammar, the worker and the handler
// (KXDBDatasheetSvcs::SetStringField) are in stringfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetStringFieldSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Value, ConfirmedClass, Index };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetStringFieldMessageParser final : public SetStringFieldSchema, public FieldMessageValues {
 public:
  using SetStringFieldSchema::SetStringFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetStringFieldValue(); }
  // The worker: stores the value and rewrites the field's record.
  HRESULT SetStringFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetStringField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
