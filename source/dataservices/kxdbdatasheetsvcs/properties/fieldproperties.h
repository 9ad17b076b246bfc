// The messages "GetFieldProperties" and "SetFieldProperties" of the
// editor's property dialog for one field: what stands behind the field,
// its value's lock, secure and hold states, and its presentation. The
// grammars, the workers and the handlers are in fieldproperties.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/fieldaddress.h"
#include "model/maincontext.h"

class GetFieldPropertiesSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetFieldPropertiesMessageParser final : public GetFieldPropertiesSchema, public FieldAddress {
 public:
  using GetFieldPropertiesSchema::GetFieldPropertiesSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return WritePopProperties(); }
  // The worker: the "PopProperties" reply.
  HRESULT WritePopProperties();
};

class SetFieldPropertiesSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    PageId = 4,
    FieldId,
    Index,
    IsLocked,
    IsHeld,
    IsSecured,
    HoldId,
    Alignment,
    VerticalAlignment,
    BoolFormat,
    DateFormat,
    IntegerFormat,
    RealFormat,
    ConfirmedClass
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetFieldPropertiesMessageParser final : public SetFieldPropertiesSchema, public FieldAddress {
 public:
  using SetFieldPropertiesSchema::SetFieldPropertiesSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetFieldPropertiesValue(); }
  // The worker: the value's states and the field's presentation, on a
  // continuous list for the field on every row.
  HRESULT SetFieldPropertiesValue();

  int32_t m_isLocked = -1;
  int32_t m_isHeld = -1;
  int32_t m_isSecured = -1;
  int32_t m_holdId = -1;
  int32_t m_alignment = -1;
  int32_t m_verticalAlignment = -1;
  SAXText m_boolFormat;
  SAXText m_dateFormat;
  SAXText m_integerFormat;
  SAXText m_realFormat;
  SAXText m_confirmedClass;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetFieldProperties(MainContext& main, const OLECHAR* request);
HRESULT SetFieldProperties(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
