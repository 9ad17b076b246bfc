// The message "SetBoolField": the schema (the value ids of its grammar) and the
// message parser with its worker. The grammar, the worker and the handler
// (KXDBDatasheetSvcs::SetBoolField) are in boolfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetBoolFieldSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, Value, ConfirmedClass };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetBoolFieldMessageParser final : public SetBoolFieldSchema, public FieldMessageValues {
 public:
  using SetBoolFieldSchema::SetBoolFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetBoolFieldValue(); }
  // The worker: stores the value and rewrites the field's record.
  HRESULT SetBoolFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetBoolField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
