// The message "SetRealField": the schema (the value ids of its grammar) and the
// message parser with its worker. The grammar, the worker and the handler
// (KXDBDatasheetSvcs::SetRealField) are in realfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetRealFieldSchema : public MessageParser {
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
    Index,
    ConfirmedClass
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetRealFieldMessageParser final : public SetRealFieldSchema,
                                        public FieldMessageValues,
                                        public NumberMessageValues {
 public:
  using SetRealFieldSchema::SetRealFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetRealFieldValue(); }
  // The worker: stores the value and its number texts and rewrites the
  // field's record.
  HRESULT SetRealFieldValue();
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetRealField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
