#include "documents/closedocuments.h"

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "main/main.h"
#include "model/kxdbdatasheetutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/closedocuments";

}  // namespace

namespace KXDBDatasheetSvcs {

void CloseDocument(Main& main, int32_t documentId, int32_t status) {
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr document;
  // Only what the open message opens is closed: a page or a plant object
  // has no version to close.
  GetObjectOfClass(main.m_pDatabase, documentId, {u"Document", u"Datasheet", u"Diagram"},
                   u"a document", document);
  const _variant_t statusText(_bstr_t(kx_ltow(status)));
  KX_CHECK(ctx, document->CloseVersion(statusText));
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* CloseDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"CloseDocuments", 1, {Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
      Grammar::Element(u"Datasheet", Datasheet,
                       {Grammar::Integer(u"DocumentId", DocumentId),
                        Grammar::Integer(u"Status", DocumentStatus)}),
      Grammar::Element(u"Diagram", Diagram,
                       {Grammar::Integer(u"DocumentId", DocumentId),
                        Grammar::Integer(u"Status", DocumentStatus)}));
  return kGrammar.data();
}

HRESULT CloseDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case DocumentId: return Store(m_documentId, value);
    case DocumentStatus: return Store(m_documentStatus, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CloseDocumentsMessageParser::CloseDocument(uint32_t element) {
  if (element != Datasheet && element != Diagram) return E_INVALIDARG;
  KXComException ctx = KXComException::Silent();
  try {
    KXDBDatasheetSvcs::CloseDocument(*m_pMain, m_documentId, m_documentStatus);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  m_documentId = -1;
  m_documentStatus = -1;
  return ctx.Return();
}

HRESULT Main::CloseDocuments(const OLECHAR* request) {
  return ServeMessage<CloseDocumentsMessageParser>(*this, u"KXDBDatasheetSvcs::CloseDocuments",
                                                   request);
}
