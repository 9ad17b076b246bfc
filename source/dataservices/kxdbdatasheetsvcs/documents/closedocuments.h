// "CloseDocuments": the editor closes document versions it opened.
#pragma once

#include <cstdint>

#include "documents/documentlist.h"
#include "model/maincontext.h"

// "CloseDocuments": any number of "Datasheet" and "Diagram" versions, each
// closed when it ends.
class CloseDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Datasheet = 2, Diagram, TargetId, Status, DocumentId, DocumentStatus };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CloseDocumentsMessageParser final : public DocumentListParser<CloseDocumentsSchema> {
 public:
  using DocumentListParser::DocumentListParser;
  HRESULT Work() override { return S_OK; }
  HRESULT WorkChild(uint32_t element) override { return CloseDocument(element); }
  HRESULT CloseDocument(uint32_t element);
};

namespace KXDBDatasheetSvcs {

// The store's close-version call for the document with the status as
// decimal text ("-1" when none was given).
void CloseDocument(MainContext& main, int32_t documentId, int32_t status);
}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT CloseDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
