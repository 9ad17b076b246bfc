// "CreateDocuments": new datasheets and summary sheets from templates and
// new diagrams through the drawing service, answered in the form of an
// "OpenDocuments" reply so that the client opens each one at once.
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"
#include "loader/loaddatasheet.h"
#include "model/maincontext.h"

class CreateDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    Datasheet = 2,
    Diagram,
    TargetId,
    Status,
    CaseId,
    CreateAsBuiltSummary,
    ObjectId,
    TemplateId,
    Name,
    DiagramClass,
    SharedDocumentId
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CreateDocumentsMessageParser final : public CreateDocumentsSchema {
 public:
  explicit CreateDocumentsMessageParser(MainContext* main)
      : CreateDocumentsSchema(main), m_loader(main) {}
  HRESULT BeginElement(uint32_t id) override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override;
  HRESULT WorkChild(uint32_t element) override;

  // The document of the "Datasheet" element that ended: null when its
  // template's kind makes none. Throws KXComException.
  void CreateDatasheet(IKXQObjectPtr& document);
  void CreateAsBuiltSummarySheet(IKXQTemplate* tmpl);
  bool AsBuiltSummaryExists(IKXQTemplate* tmpl);
  void WriteDatasheetReply(IKXQObject* document);
  void CreateDiagram(IKXQObjectPtr& diagram);
  void WriteDiagramReply(IKXQObject* diagram);

  int32_t m_caseId = 0;
  bool m_createAsBuiltSummary = false;
  int32_t m_objectId = -1;
  int32_t m_sharedDocumentId = -1;
  SAXText m_templateId;
  SAXText m_name;
  SAXText m_diagramClass;
  PageLoadContext m_loader;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT CreateDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
