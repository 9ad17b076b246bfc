// "ListDiagramsByObject": for each object named by an "ObjectId" text
// element, the diagrams its representations name for the case "CaseId"
// (-1 when not given), with their versions, in "Documents"; the empty
// element is written when nothing is listed. Traced under the name of the
// datasheet listing by object.
#pragma once

#include <cstdint>
#include <vector>

#include "model/kxinfoclasses.h"
#include "model/maincontext.h"

class ListDiagramsByObjectSchema : public MessageParser {
 public:
  enum Id : uint32_t { CaseId = 4, ObjectId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDiagramsByObjectMessageParser final : public ListDiagramsByObjectSchema {
 public:
  using ListDiagramsByObjectSchema::ListDiagramsByObjectSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDiagrams(); }
  void ForgetEntries() override;
  HRESULT ListDiagrams();

  int32_t m_caseId = -1;
  std::vector<int32_t> m_objectIds;
  KXDiagramInfoList m_list;
};

namespace KXDBDatasheetSvcs {

void ListDiagramsForObject(MainContext& main, KXDiagramInfoList& list, int32_t objectId,
                           int32_t caseId);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDiagramsByObject(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
