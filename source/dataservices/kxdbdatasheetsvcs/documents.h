// The small document messages: "RenameDocuments", "CloseDocuments",
// "RecaseDocuments" and "ListDatasheetObjects". The workers below do one
// document each; they raise `KXComException`.
#pragma once

#include <cstdint>

#include "main.h"

// "RenameDocuments": any number of "Datasheet" and "Diagram" elements, each
// renamed when it ends. The "Status" of a "Datasheet" names a version; the
// name belongs to all versions, so it plays no part.
class RenameDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Datasheet = 2, Diagram, TargetId, Status, DocumentId, Name };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class RenameDocumentsMessageParser final : public RenameDocumentsSchema {
 public:
  using RenameDocumentsSchema::RenameDocumentsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return S_OK; }
  HRESULT WorkChild(uint32_t element) override { return RenameDocument(element); }
  // The worker of one "Datasheet" or "Diagram".
  HRESULT RenameDocument(uint32_t element);

  int32_t m_documentId = -1;
  SAXText m_name;
};

// "CloseDocuments": any number of "Datasheet" and "Diagram" versions, each
// closed when it ends.
class CloseDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Datasheet = 2, Diagram, TargetId, Status, DocumentId, DocumentStatus };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CloseDocumentsMessageParser final : public CloseDocumentsSchema {
 public:
  using CloseDocumentsSchema::CloseDocumentsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return S_OK; }
  HRESULT WorkChild(uint32_t element) override { return CloseDocument(element); }
  HRESULT CloseDocument(uint32_t element);

  int32_t m_documentId = -1;
  int32_t m_documentStatus = -1;
};

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

// Gives the document (a datasheet, or a diagram with `diagram`) the name
// `name` (null: empty) in "DocumentName", shared by all its versions; a
// datasheet's clients get a datasheet event (status 1).
void RenameDocument(Main& main, bool diagram, int32_t documentId, const OLECHAR* name);
// The store's close-version call for the document with the status as
// decimal text ("-1" when none was given).
void CloseDocument(Main& main, int32_t documentId, int32_t status);
// Every current page of the datasheet named by `targetId` (decimal text)
// takes case `caseId` (a page event each), and the datasheet records it as
// its default case. A missing `targetId` is refused with E_INVALIDARG.
void RecaseDocument(Main& main, const OLECHAR* targetId, int32_t caseId);

}  // namespace KXDBDatasheetSvcs
