// The display units of one datasheet: "ListDatasheetDimensionSets",
// "ListDatasheetDimensions", "ListDatasheetDimensionUnits" (listings),
// "ChangeDatasheetDimensionSet" and "ChangeDatasheetDimensionUnit"
// (changes of the units its current pages show, with a unit-field event per
// changed unit). "TargetId" is the datasheet's id in decimal; "Status"
// chooses the page set the dimensions are listed from.
//
// Also the listing helpers that the project-wide unit messages
// (dimensions.h) share.
#pragma once

#include <cstdint>
#include <functional>

#include "model/maincontext.h"
#include "sortedstringarray.h"

class ListDatasheetDimensionSetsSchema : public MessageParser {
 public:
  enum Id : uint32_t {};  // the envelope only: 2, 3
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetDimensionSetsMessageParser final : public ListDatasheetDimensionSetsSchema {
 public:
  using ListDatasheetDimensionSetsSchema::ListDatasheetDimensionSetsSchema;
  HRESULT SetValue(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT Work() override;
  // The schema's dimension-set names into m_names, then the reply.
  void CollectDimensionSets();
  void WriteDimensionSets();

  SortedStringArray m_names;
};

class ListDatasheetDimensionsSchema : public MessageParser {
 public:
  enum Id : uint32_t {};
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetDimensionsMessageParser final : public ListDatasheetDimensionsSchema {
 public:
  using ListDatasheetDimensionsSchema::ListDatasheetDimensionsSchema;
  HRESULT SetValue(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT Work() override;
  // The reply from m_names, which KXDBDatasheetSvcs::GetDimensionsInfo
  // filled.
  void WriteDimensions();

  SortedStringArray m_names;
};

class ListDatasheetDimensionUnitsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Name = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetDimensionUnitsMessageParser final : public ListDatasheetDimensionUnitsSchema {
 public:
  using ListDatasheetDimensionUnitsSchema::ListDatasheetDimensionUnitsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return WriteDimensionUnits(); }
  // The worker: the units of dimension "Name".
  HRESULT WriteDimensionUnits();

  SAXText m_name;
};

class ChangeDatasheetDimensionSetSchema : public MessageParser {
 public:
  enum Id : uint32_t { Name = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ChangeDatasheetDimensionSetMessageParser final : public ChangeDatasheetDimensionSetSchema {
 public:
  using ChangeDatasheetDimensionSetSchema::ChangeDatasheetDimensionSetSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ChangeDimensionSet(); }
  // The worker: the datasheet shows the units of set "Name"; no reply.
  HRESULT ChangeDimensionSet();

  SAXText m_name;
};

class ChangeDatasheetDimensionUnitSchema : public MessageParser {
 public:
  enum Id : uint32_t { Name = 4, UnitId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ChangeDatasheetDimensionUnitMessageParser final : public ChangeDatasheetDimensionUnitSchema {
 public:
  using ChangeDatasheetDimensionUnitSchema::ChangeDatasheetDimensionUnitSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ChangeDimensionUnit(); }
  // The worker: the datasheet shows dimension "Name" in unit "UnitId"; no
  // reply.
  HRESULT ChangeDimensionUnit();

  SAXText m_name;
  SAXText m_unitId;
};

namespace KXDBDatasheetSvcs {

// The schema `main` works with; without one E_FAIL "Do not have access to
// object store" is raised.
IKXQSchema* RequireSchema(MainContext& main);

// The schema's dimension-set names, added to `names`. Throws
// KXComException.
void CollectDimensionSetNames(MainContext& main, SortedStringArray& names);

// The schema's spelling of `set`, which the schema lists in any letter
// case, as the store finds its sets; E_INVALIDARG ("Unknown dimension set
// '...'") raised otherwise: a change to a set the schema lacks is refused
// before anything is written.
_bstr_t RequireDimensionSet(MainContext& main, const OLECHAR* set);

// Raises E_INVALIDARG unless the schema knows `dimension` (in any letter
// case, as it finds dimensions) and `unitId` is one of its units (exactly)
// or empty (the field's default unit): "Unknown dimension '...' for unit
// '...'", "Unit '...' is not a unit of dimension '...'". A unit change is
// refused before any page is written; the pages then match `dimension`
// exactly, as their template spells it.
void RequireDimensionUnit(MainContext& main, const OLECHAR* dimension, const OLECHAR* unitId);

// The dimension names of the unit definitions behind the "Units" of the
// datasheet's pages of `status` (outside 1..4: "Invalid status"), added to
// `names`. Pages without template page are skipped. Throws KXComException.
void GetDimensionsInfo(MainContext& main, IKXQObject* datasheet, int32_t status,
                       SortedStringArray& names);

// Calls `visit(text)` for each element of a one-dimensional array of texts
// (or of values with a text form), in order. Takes `array` (may be null)
// and destroys it. Throws KXComException.
void ForEachArrayText(SAFEARRAY* array, const std::function<void(BSTR text)>& visit);

// Writes `list` holding one `item` element with "Name" per name. The reply
// root is the caller's.
void WriteNameList(HostConnection& reply, const OLECHAR* list, const OLECHAR* item,
                   const SortedStringArray& names);

// Writes "DimensionUnits" with "Name" = `dimension` holding a
// "DimensionUnit" ("Name": display name, "UnitId") per unit of the
// schema's dimension of that name, in the schema's order. An unknown
// dimension raises the schema's failure. The reply root is the caller's.
void WriteDimensionUnitList(MainContext& main, const OLECHAR* dimension);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetDimensionSets(MainContext& main, const OLECHAR* request);
HRESULT ListDatasheetDimensions(MainContext& main, const OLECHAR* request);
HRESULT ListDatasheetDimensionUnits(MainContext& main, const OLECHAR* request);
HRESULT ChangeDatasheetDimensionSet(MainContext& main, const OLECHAR* request);
HRESULT ChangeDatasheetDimensionUnit(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
