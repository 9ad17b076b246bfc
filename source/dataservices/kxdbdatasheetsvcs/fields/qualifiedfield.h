// The message "SetQualifier": the schema (the value ids of its grammar) and
// the message parser with its worker. The grammar, the worker and the
// handler (KXDBDatasheetSvcs::SetQualifier) are in qualifiedfield.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/numbertext.h"
#include "model/maincontext.h"

class SetQualifierSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    PageId = 4,
    QualifierId,
    Index,
    Value,
    ConfirmedClass
  };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetQualifierMessageParser final : public SetQualifierSchema {
 public:
  using SetQualifierSchema::SetQualifierSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetQualifierValue(); }
  // The value is refused naming the qualifier and the page.
  bool ChecksIntegerText(uint32_t id) const override { return id == Value; }
  // The worker: stores the qualifier's value whatever "Status" says and
  // tells the clients of every field it qualifies, then of the qualifier.
  HRESULT SetQualifierValue();

  int32_t m_pageId = -1;
  int32_t m_qualifierId = -1;
  int32_t m_index = -1;      // read and not used
  RequestedNumber m_value;   // a request without "Value", or without a number, is refused
  SAXText m_confirmedClass;  // read and not used
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SetQualifier(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
