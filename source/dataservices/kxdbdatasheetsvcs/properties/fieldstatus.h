// The messages "GetFieldStatus" and "SetFieldStatus": the lock, secure and
// hold states of the values behind a selection of fields of one page. The
// grammars, the workers and the handlers are in fieldstatus.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "model/maincontext.h"

class GetFieldStatusSchema : public MessageParser {
 public:
  enum Id : uint32_t { FieldId = 2, TargetId, Status, PageId, ID, Index };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetFieldStatusMessageParser final : public GetFieldStatusSchema {
 public:
  using GetFieldStatusSchema::GetFieldStatusSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override { return WritePopStatus(); }
  void ForgetEntries() override {
    m_fieldIds.clear();
    m_rows.clear();
  }
  // The worker: sums up the states over the listed fields.
  HRESULT WritePopStatus();

  int32_t m_pageId = -1;
  int32_t m_id = -1;
  int32_t m_index = -1;
  std::vector<int32_t> m_fieldIds;
  std::vector<int32_t> m_rows;
};

class SetFieldStatusSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    FieldId = 2,
    TargetId,
    Status,
    PageId,
    IsLocked,
    IsHeld,
    IsSecured,
    HoldId,
    ConfirmedClass,
    ID,
    Index
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetFieldStatusMessageParser final : public SetFieldStatusSchema {
 public:
  using SetFieldStatusSchema::SetFieldStatusSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override { return S_OK; }
  // The worker, once per "FieldId": changes the field's value states (the
  // object behind the field made first when a state is to be set) and
  // tells the clients.
  HRESULT SetFieldStatusValue(int32_t fieldId, int32_t row);

  int32_t m_pageId = -1;
  int32_t m_isLocked = -1;
  int32_t m_isHeld = -1;
  int32_t m_isSecured = -1;
  int32_t m_holdId = -1;
  SAXText m_confirmedClass;
  int32_t m_id = -1;
  int32_t m_index = -1;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetFieldStatus(MainContext& main, const OLECHAR* request);
HRESULT SetFieldStatus(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
