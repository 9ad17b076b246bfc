// The hold messages: "ListHolds" (no grammar: the open holds), "CreateHold"
// and "CloseHold", whose work the host application does. A hold is an
// object of the schema class "Hold" with a name and the Boolean
// "InActive", true once it is closed.
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class CreateHoldSchema : public MessageParser {
 public:
  enum Id : uint32_t { HoldName = 4, HoldReason };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CreateHoldMessageParser final : public CreateHoldSchema {
 public:
  using CreateHoldSchema::CreateHoldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return CreateHold(); }
  // The worker: the host creates the hold; its name is the plain reply.
  HRESULT CreateHold();

  SAXText m_holdName;
  SAXText m_holdReason;
};

class CloseHoldSchema : public MessageParser {
 public:
  enum Id : uint32_t { HoldId = 4, HoldReason };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CloseHoldMessageParser final : public CloseHoldSchema {
 public:
  using CloseHoldSchema::CloseHoldSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return CloseHold(); }
  // The worker: the host closes hold "HoldId"; no reply. Without "HoldId",
  // or with an object that is no hold, it fails and nothing is closed.
  HRESULT CloseHold();

  int32_t m_holdId = -1;
  SAXText m_holdReason;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListHolds(MainContext& main, const OLECHAR* request);
HRESULT CreateHold(MainContext& main, const OLECHAR* request);
HRESULT CloseHold(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
