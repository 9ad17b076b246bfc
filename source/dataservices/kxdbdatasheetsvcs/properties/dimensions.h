// The project's display units: "ListDimensionSets", "ListDimensions" and
// "ListDimensionUnits" list the schema's units (the first two read no
// request, the third takes the whole request text as the dimension name);
// "ChangeDimensionSet" (the whole request text is the set name,
// "DefaultUnits" standing for "SI") and "ChangeDimensionUnit" change the
// units of every datasheet at once. Neither tests the privilege "Globally
// Change Display Units": the client asks for it with "GetConfigurations"
// and offers the change only to a user who holds it. A datasheet that
// cannot be changed does not stop the others: its failure becomes one line
// of a single message shown to the user at the end.
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class ChangeDimensionUnitSchema : public MessageParser {
 public:
  enum Id : uint32_t { Name = 4, UnitId };  // 2, 3: the envelope, not used
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ChangeDimensionUnitMessageParser final : public ChangeDimensionUnitSchema {
 public:
  using ChangeDimensionUnitSchema::ChangeDimensionUnitSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ChangeDimensionUnit(); }
  // The worker: every datasheet shows dimension "Name" in unit "UnitId".
  HRESULT ChangeDimensionUnit();

  SAXText m_name;
  SAXText m_unitId;
};

namespace KXDBDatasheetSvcs {

// Tells the host's drawing service ("DrawingServices") that `setName` is
// the project's dimension set. Failures come back with the thread's error
// information.
HRESULT ChangeDimensionSetForDiagrams(MainContext& main, const OLECHAR* setName);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDimensionSets(MainContext& main, const OLECHAR* request);
HRESULT ListDimensions(MainContext& main, const OLECHAR* request);
HRESULT ListDimensionUnits(MainContext& main, const OLECHAR* request);
HRESULT ChangeDimensionSet(MainContext& main, const OLECHAR* request);
HRESULT ChangeDimensionUnit(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
