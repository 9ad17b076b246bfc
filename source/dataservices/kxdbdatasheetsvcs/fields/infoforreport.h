// The message "GetInfoForReport": for each named field, the value its
// attribute has on every instance of the classes of the field's root node,
// for a report that lists them side by side. The grammar, the worker and
// the handler (KXDBDatasheetSvcs::GetInfoForReport) are in infoforreport.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "model/maincontext.h"

class GetInfoForReportSchema : public MessageParser {
 public:
  // This grammar numbers the envelope's values 5 and 6.
  enum Id : uint32_t { Field = 2, PageId, FieldId, TargetId, Status };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetInfoForReportMessageParser final : public GetInfoForReportSchema {
 public:
  using GetInfoForReportSchema::GetInfoForReportSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  // Each "Field" only adds its values to the lists.
  HRESULT WorkChild(uint32_t element) override { return element == Field ? S_OK : E_INVALIDARG; }
  HRESULT Work() override { return WriteObjectInfo(); }
  void ForgetEntries() override {
    m_fieldIds.clear();
    m_pageIds.clear();
  }
  // The worker: one "ObjectInfo" per distinctly named instance and field.
  HRESULT WriteObjectInfo();

  // The values in the order met; the n-th field id goes with the n-th page
  // id.
  std::vector<int32_t> m_fieldIds;
  std::vector<int32_t> m_pageIds;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetInfoForReport(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
