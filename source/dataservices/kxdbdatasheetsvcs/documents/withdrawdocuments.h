// "WithdrawDocuments": takes submitted or checked versions back to the
// current one, or deletes a whole document named by its current version.
// Without "Confirmed" it only asks (a "QUESTION") or tells why it cannot go
// on (an "ALERT"); the confirmed round acts and counts the documents done.
#pragma once

#include <cstdint>

#include "documents/documentlist.h"
#include "model/maincontext.h"

class WithdrawDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    Datasheet = 2,
    Diagram,
    TargetId,
    Status,
    Confirmed,
    DocumentId,
    DocumentStatus
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class WithdrawDocumentsMessageParser final : public DocumentListParser<WithdrawDocumentsSchema> {
 public:
  using DocumentListParser::DocumentListParser;
  HRESULT BeginElement(uint32_t id) override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override;
  // Each message element's summary counts its own documents.
  void ForgetEntries() override { m_count = 0; }

  int32_t m_count = 0;
  bool m_confirmed = false;
};

namespace KXDBDatasheetSvcs {

// Takes a datasheet back to status 1: its submitted and checked pages are
// deleted (the issued ones stay). Throws KXComException.
void WithdrawDocument(MainContext& main, IKXQObject* datasheet);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT WithdrawDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
