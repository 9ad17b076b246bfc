#include "documents/closedocuments.h"

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/closedocuments";
constexpr FrameOptions kFrame{.file = kFile};

}  // namespace

namespace KXDBDatasheetSvcs {

void CloseDocument(MainContext& main, int32_t documentId, int32_t status) {
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
      DocumentVersionElements<CloseDocumentsSchema>());
  return kGrammar.data();
}

HRESULT CloseDocumentsMessageParser::CloseDocument(uint32_t element) {
  if (!IsDocument(element)) return E_INVALIDARG;
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    KXDBDatasheetSvcs::CloseDocument(*m_pMain, m_documentId, m_documentStatus);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::CloseDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CloseDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::CloseDocuments",
                                                   request);
}
