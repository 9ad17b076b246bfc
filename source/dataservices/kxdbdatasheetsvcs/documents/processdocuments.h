// "OpenDocuments", "PrintDocuments" and "ExportDocuments": one grammar, one
// parser, one handler. Each datasheet is validated against its templates
// and written by the loader; one left out for an invalid template is named
// to the user after the reply.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "documents/documentlist.h"
#include "documents/validatetemplates.h"
#include "loader/loaddatasheet.h"
#include "model/maincontext.h"

class ProcessDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    OpenDocuments = 1,
    PrintDocuments,
    ExportDocuments,
    Datasheet,
    Diagram,
    TargetId,
    Status,
    DocumentId,
    DocumentStatus
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ProcessDocumentsMessageParser final : public DocumentListParser<ProcessDocumentsSchema> {
 public:
  explicit ProcessDocumentsMessageParser(MainContext* main)
      : DocumentListParser(main), m_validation(main), m_loader(main) {}
  HRESULT BeginElement(uint32_t id) override;
  HRESULT Work() override { return Finish(); }
  HRESULT WorkChild(uint32_t element) override;
  // The invalid templates named after a message's reply are its own. The
  // versions already answered stay known: answering one again for a later
  // message element of the same kind would only copy a whole datasheet.
  void ForgetEntries() override { m_validation.ClearResults(); }
  HRESULT ProcessDatasheet();
  HRESULT ProcessDiagram();
  HRESULT Finish();
  // Whether the document version of the element that ends (kind, id and
  // status) is named for the first time in this request by the message
  // being answered: each version is opened, printed or exported once, at
  // its first place, however often it is named.
  bool FirstNaming(uint32_t kind);

  uint32_t m_message = OpenDocuments;  // which of the three messages
  TemplateValidationContext m_validation;
  PageLoadContext m_loader;
  // Status and id of each version named, by message (open, print, export).
  std::unordered_set<uint64_t> m_namedDatasheets[3];
  std::unordered_set<uint64_t> m_namedDiagrams;  // only opened
};

namespace KXDBDatasheetSvcs {
// Writes `datasheet` at `status` into the reply being built as an opened
// document and registers the open version (status as decimal text).
// Throws KXComException.
void LoadOpenedDatasheet(PageLoadContext& loader, IKXQObject* datasheet, int32_t status);
// Hands `text` (may be empty: nothing happens) to the user.
void ShowUserMessage(MainContext& main, const _bstr_t& text);
}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ProcessDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
