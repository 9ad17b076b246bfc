// "SubmitDocuments", "CheckDocuments", "IssueDocuments": the document
// workflow. Submitting freezes copies of a datasheet's current pages,
// checking marks those copies checked, issuing makes them the issued pages
// with a revision level and revision marks on the fields that changed since
// the previous issue. Diagrams are handed to the drawing service, which
// revises them itself. Each message ends with one alert counting the
// documents done.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "documents/documentlist.h"
#include "model/maincontext.h"

struct IKXDrawingDiagram;
struct IKXQTemplatePage;

// The value ids the three grammars share.
class ReviseDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    Datasheet = 2,
    Diagram,
    TargetId,
    Status,
    DocumentId,
    Confirmed,
    Revision,
    MinorRevision,
    IssueReason
  };
  using MessageParser::MessageParser;
};

// The per-document loop the three messages share: each child runs
// `ReviseDocument` when it ends, the message element writes the summary.
class ReviseDocumentsParser : public DocumentListParser<ReviseDocumentsSchema> {
 public:
  using DocumentListParser::DocumentListParser;
  HRESULT BeginElement(uint32_t id) override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override;
  // Each message element's summary counts its own entries. The documents
  // worked stay known: a later message element naming one again would
  // only redo the same work.
  void ForgetEntries() override { m_count = 0; }

  // The work for one document of the kind (`Datasheet` or `Diagram`).
  // Throws KXComException.
  virtual void ReviseDocument(IKXQObject* document, uint32_t kind) = 0;
  // Writes the reply's start at the message element and the summary at its
  // end. Throw KXComException.
  virtual void BeginReply() = 0;
  virtual void EndReply() = 0;
  // Whether a document named again in the request is counted without being
  // worked again (its first entry already left it as a repeat would).
  virtual bool WorksEachDocumentOnce() const { return false; }

  int32_t m_count = 0;
  bool m_confirmed = false;
  SAXText m_revision;
  SAXText m_minorRevision;
  SAXText m_issueReason;
  std::unordered_set<int64_t> m_worked;  // kind and id of each document worked
};

class SubmitDocumentsSchema : public ReviseDocumentsParser {
 public:
  using ReviseDocumentsParser::ReviseDocumentsParser;
  const GrammarRecord* GetSchema() const override;
};

class SubmitDocumentsMessageParser final : public SubmitDocumentsSchema {
 public:
  using SubmitDocumentsSchema::SubmitDocumentsSchema;
  void ReviseDocument(IKXQObject* document, uint32_t kind) override;
  void BeginReply() override;
  void EndReply() override;
  // A confirmed submit of a document makes fresh copies of its current
  // pages; a second one in the same request would copy the same pages
  // again and throw the first copies away.
  bool WorksEachDocumentOnce() const override { return m_confirmed; }
};

class CheckDocumentsSchema : public ReviseDocumentsParser {
 public:
  using ReviseDocumentsParser::ReviseDocumentsParser;
  const GrammarRecord* GetSchema() const override;
};

class CheckDocumentsMessageParser final : public CheckDocumentsSchema {
 public:
  using CheckDocumentsSchema::CheckDocumentsSchema;
  void ReviseDocument(IKXQObject* document, uint32_t kind) override;
  void BeginReply() override {}
  void EndReply() override;
};

class IssueDocumentsSchema : public ReviseDocumentsParser {
 public:
  using ReviseDocumentsParser::ReviseDocumentsParser;
  const GrammarRecord* GetSchema() const override;
};

class IssueDocumentsMessageParser final : public IssueDocumentsSchema {
 public:
  using IssueDocumentsSchema::IssueDocumentsSchema;
  void ReviseDocument(IKXQObject* document, uint32_t kind) override;
  void BeginReply() override;
  void EndReply() override;
};

namespace KXDBDatasheetSvcs {

// Whether the signed-in user holds `privilege` (the host's privileges).
// Throws KXComException.
bool HasPrivilege(MainContext& main, const OLECHAR* privilege);
// The drawing service's workflow face of a diagram (its representation
// "Diagram"). Throws KXComException.
void GetDrawingDiagram(IKXQObject* diagram, _com_ptr_t<IKXDrawingDiagram>& face);
// The one alert closing a workflow message: `verb` ("Submitted ", ...),
// the count and " Document" or " Documents".
void WriteBatchSummary(MainContext& main, const OLECHAR* verb, int32_t count);

// The workers, each throwing KXComException.
void SubmitDocument(MainContext& main, IKXQObject* datasheet);
void CheckDocument(MainContext& main, IKXQObject* datasheet);
void IssueDocument(MainContext& main, IKXQObject* datasheet, const OLECHAR* revision,
                   const OLECHAR* minorRevision, const OLECHAR* issueReason);
// The current page's "Fields" as the live values write them, into the
// copy's "Fields".
void CopyFieldData(MainContext& main, IKXQObject* page, IKXQObject* copy);
// Revision marks of one checked page `checked` and its current page
// `current`: the fields that differ from the previous issue get `revision`.
void WriteRevisionMarks(MainContext& main, IKXQObject* current, IKXQObject* checked,
                        IKXQTemplatePage* templatePage, const OLECHAR* revision);
// Removes the annotations marked "Markup" from the page's "Annotations";
// for a current page (status 1) the clients are told of each.
void RemoveMarkupAnnotations(MainContext& main, IKXQObject* page, int32_t status);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT SubmitDocuments(MainContext& main, const OLECHAR* request);
HRESULT CheckDocuments(MainContext& main, const OLECHAR* request);
HRESULT IssueDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
