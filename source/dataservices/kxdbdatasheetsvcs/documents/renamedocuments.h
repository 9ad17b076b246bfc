// "RenameDocuments": new names for datasheets and diagrams.
#pragma once

#include <cstdint>

#include "documents/documentlist.h"
#include "model/maincontext.h"

// "RenameDocuments": any number of "Datasheet" and "Diagram" elements, each
// renamed when it ends. The "Status" of a "Datasheet" names a version; the
// name belongs to all versions, so it plays no part.
class RenameDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Datasheet = 2, Diagram, TargetId, Status, DocumentId, Name };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class RenameDocumentsMessageParser final : public DocumentListParser<RenameDocumentsSchema> {
 public:
  using DocumentListParser::DocumentListParser;
  HRESULT BeginElement(uint32_t id) override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return S_OK; }
  HRESULT WorkChild(uint32_t element) override { return RenameDocument(element); }
  // The worker of one "Datasheet" or "Diagram".
  HRESULT RenameDocument(uint32_t element);

  SAXText m_name;
};

namespace KXDBDatasheetSvcs {

// Gives the document (a datasheet, or a diagram with `diagram`) the name
// `name` (null: empty) in "DocumentName", shared by all its versions; a
// datasheet's clients get a datasheet event (status 1).
void RenameDocument(MainContext& main, bool diagram, int32_t documentId, const OLECHAR* name);
}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT RenameDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
