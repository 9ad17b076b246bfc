// "ListDatasheetsByTemplate": for each template named by a "TemplateId" text
// element, its own entry, one creation entry per instance of its classes
// (not for summary templates) and the stored datasheets made from it, all
// in one sorted reply; no reply when nothing is listed. A template the
// library does not know lists nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/kxinfoclasses.h"
#include "model/maincontext.h"

class ListDatasheetsByTemplateSchema : public MessageParser {
 public:
  enum Id : uint32_t { TemplateId = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetsByTemplateMessageParser final : public ListDatasheetsByTemplateSchema {
 public:
  using ListDatasheetsByTemplateSchema::ListDatasheetsByTemplateSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheets(); }
  void ForgetEntries() override;
  HRESULT ListDatasheets();

  // Each id once, in the order first named (the same text lists the same
  // records).
  std::vector<std::u16string> m_templateIds;
  std::unordered_set<std::u16string> m_namedIds;
  KXDatasheetInfoList m_list;
};

namespace KXDBDatasheetSvcs {

void ListDatasheetsForTemplate(MainContext& main, KXDatasheetInfoList& list,
                               const OLECHAR* templateId);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetsByTemplate(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
