// The message "DatasheetOverspill": one more overspill page behind a page
// (a page of a summary sheet: one more summary page). The overspill run it
// starts is `OverspillUtils`'s (overspillutils.h).
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class DatasheetOverspillSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 2, TargetId, Status };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class DatasheetOverspillMessageParser final : public DatasheetOverspillSchema {
 public:
  using DatasheetOverspillSchema::DatasheetOverspillSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return DatasheetOverspill(); }
  // The worker; writes no reply.
  HRESULT DatasheetOverspill();

  int32_t m_pageId = -1;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT DatasheetOverspill(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
