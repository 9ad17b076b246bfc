// Two small messages about one datasheet: "RecaseDocuments" switches it to
// another process case; "ListDatasheetObjects" (no grammar: the request
// text is the datasheet's id in decimal) lists the ids of the plant objects
// its current pages show whose class is one of its template's, ascending
// and each once, in "Objects".
#pragma once

#include <cstdint>

#include "model/maincontext.h"

// "RecaseDocuments": the envelope's "TargetId" names the datasheet, "CaseId"
// the case.
class RecaseDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t { CaseId = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class RecaseDocumentsMessageParser final : public RecaseDocumentsSchema {
 public:
  using RecaseDocumentsSchema::RecaseDocumentsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return RecaseDocument(); }
  HRESULT RecaseDocument();

  int32_t m_caseId = -1;
};

namespace KXDBDatasheetSvcs {

// Every current page of the datasheet named by `targetId` (decimal text)
// takes case `caseId` (a page event each), and the datasheet records it as
// its default case. A missing `targetId` is refused with E_INVALIDARG.
void RecaseDocument(MainContext& main, const OLECHAR* targetId, int32_t caseId);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT RecaseDocuments(MainContext& main, const OLECHAR* request);
HRESULT ListDatasheetObjects(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
