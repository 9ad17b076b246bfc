// The messages "GetFieldFormat" and "SetFieldFormat": the alignments and
// format texts of a selection of fields of one page, kept in the fields'
// records of the page's "Fields". The grammars, the workers and the
// handlers are in fieldformat.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "model/maincontext.h"

class GetFieldFormatSchema : public MessageParser {
 public:
  enum Id : uint32_t { FieldId = 2, TargetId, Status, PageId, ID, Index };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetFieldFormatMessageParser final : public GetFieldFormatSchema {
 public:
  using GetFieldFormatSchema::GetFieldFormatSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override { return WritePopFormat(); }
  void ForgetEntries() override {
    m_fieldIds.clear();
    m_rows.clear();
  }
  // The worker: the common alignments and formats of the listed fields.
  HRESULT WritePopFormat();

  int32_t m_pageId = -1;
  int32_t m_id = -1;
  int32_t m_index = -1;
  std::vector<int32_t> m_fieldIds;
  std::vector<int32_t> m_rows;
};

class SetFieldFormatSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    FieldId = 2,
    TargetId,
    Status,
    PageId,
    Alignment,
    VerticalAlignment,
    BoolFormat,
    DateFormat,
    IntegerFormat,
    RealFormat,
    ID,
    Index
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetFieldFormatMessageParser final : public SetFieldFormatSchema {
 public:
  using SetFieldFormatSchema::SetFieldFormatSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override { return S_OK; }
  // The worker, once per "FieldId": the presentation applied to the field
  // (on every row of a continuous list), one event per changed record.
  HRESULT SetFieldFormatValue(int32_t fieldId, int32_t row);

  int32_t m_pageId = -1;
  int32_t m_alignment = -1;
  int32_t m_verticalAlignment = -1;
  SAXText m_boolFormat;
  SAXText m_dateFormat;
  SAXText m_integerFormat;
  SAXText m_realFormat;
  int32_t m_id = -1;
  int32_t m_index = -1;
};

// The format text of `formats` for a field kind (null for kinds without).
const OLECHAR* FormatOfKind(int32_t kind, const SAXText& boolFormat, const SAXText& dateFormat,
                            const SAXText& integerFormat, const SAXText& realFormat);

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetFieldFormat(MainContext& main, const OLECHAR* request);
HRESULT SetFieldFormat(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
