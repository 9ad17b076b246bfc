// The message "SetSketchField": the schema (the value ids of its grammar)
// and the message parser with its worker. The grammar, the worker and the
// handler (KXDBDatasheetSvcs::SetSketchField) are in sketchfield.cpp.
#pragma once

#include <cstdint>

#include "fields/fieldmessage.h"

class SetSketchFieldSchema : public MessageParser {
 public:
  // 2, 3: the envelope
  enum Id : uint32_t { PageId = 4, FieldId, TLX, TLY, BRX, BRY, Index, Value, ConfirmedClass };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetSketchFieldMessageParser final : public SetSketchFieldSchema, public FieldMessageValues {
 public:
  using SetSketchFieldSchema::SetSketchFieldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetSketchFieldValue(); }
  // The worker: merges the sketch blocks the request carries with the
  // stored ones, stores the result and the drawing rectangle.
  HRESULT SetSketchFieldValue();

  int32_t m_tlx = 0;
  int32_t m_tly = 0;
  int32_t m_brx = 0;
  int32_t m_bry = 0;
};

// The sketch text to store for `incoming` over `stored` (either may be
// null): blocks the incoming header marks "R" come from it, the others from
// the stored text. Raises the parser's failures, and E_INVALIDARG for a
// header that would be too long to be read back.
std::u16string ComposeSketchText(const OLECHAR* incoming, const OLECHAR* stored);

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetSketchField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
