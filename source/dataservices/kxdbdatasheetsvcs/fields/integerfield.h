// The message "SetIntegerField": the schema (the value ids of its grammar) and the
// message parser with its worker. The grammar, the worker and the handler
// (KXDBDatasheetSvcs::SetIntegerField) are in integerfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetIntegerFieldSchema : public MessageParser {
 public:
  // 2, 3: the envelope
  enum Id : uint32_t {
    PageId = 4,
    FieldId,
    Value,
    Published,
    Prefix,
    Postfix,
    Substitution,
    Format,
    ConfirmedClass,
    Index
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetIntegerFieldMessageParser final : public SetIntegerFieldSchema,
                                           public FieldMessageValues,
                                           public NumberMessageValues {
 public:
  using SetIntegerFieldSchema::SetIntegerFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetIntegerFieldValue(); }
  // The worker: stores the value and its number texts and rewrites the
  // field's record.
  HRESULT SetIntegerFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetIntegerField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
