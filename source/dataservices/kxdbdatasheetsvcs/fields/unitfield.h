// The messages "GetUnits" and "SetUnit" of a page's unit fields: for each,
// the schema (the value ids of its grammar) and the message parser with its
// worker. The grammars, the workers and the handlers (KXDBDatasheetSvcs::GetUnits,
// KXDBDatasheetSvcs::SetUnit) are in unitfield.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/numbertext.h"
#include "model/maincontext.h"

class GetUnitsSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, UnitId };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetUnitsMessageParser final : public GetUnitsSchema {
 public:
  using GetUnitsSchema::GetUnitsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return WritePopUnits(); }
  // The worker: answers the display texts of the unit field's units.
  HRESULT WritePopUnits();

  int32_t m_pageId = -1;
  int32_t m_unitId = -1;
};

class SetUnitSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, UnitId, Index };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetUnitMessageParser final : public SetUnitSchema {
 public:
  using SetUnitSchema::SetUnitSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetUnitValue(); }
  // The unit's place is refused naming the unit field and the page.
  bool ChecksIntegerText(uint32_t id) const override { return id == Index; }
  // The worker: stores unit "Index" of the unit field's list as its unit.
  HRESULT SetUnitValue();

  int32_t m_pageId = -1;
  int32_t m_unitId = -1;
  RequestedNumber m_index;  // the unit's place in the list; a text without a number is refused
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetUnits(MainContext& main, const OLECHAR* request);
HRESULT SetUnit(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
