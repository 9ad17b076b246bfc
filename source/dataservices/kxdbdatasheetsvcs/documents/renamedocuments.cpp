#include "documents/renamedocuments.h"

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/renamedocuments";
constexpr FrameOptions kFrame{.file = kFile};

}  // namespace

namespace KXDBDatasheetSvcs {

void RenameDocument(MainContext& main, bool diagram, int32_t documentId, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  // The element picks the event: a datasheet's editors hear of the new
  // name, a diagram's have none to hear. An element naming the other kind
  // is refused rather than renamed without its event.
  IKXQObjectPtr document;
  GetNamedDocument(main.m_pDatabase, documentId, diagram, document);
  ScopedCurrentDatasheet current(main.m_pApplication, document);
  SetAttributeStringByName(document, u"DocumentName", name ? name : u"", -1);
  if (diagram) return;
  KX_CHECK(ctx, main.LaunchDatasheetEvent(document, 1), KX_HERE(kFile));
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* RenameDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"RenameDocuments", 1, {Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
      Grammar::Element(u"Datasheet", Datasheet,
                       {Grammar::Integer(u"DocumentId", DocumentId),
                        Grammar::Integer(u"Status", Status), Grammar::String(u"Name", Name)}),
      Grammar::Element(
          u"Diagram", Diagram,
          {Grammar::Integer(u"DocumentId", DocumentId), Grammar::String(u"Name", Name)}));
  return kGrammar.data();
}

HRESULT RenameDocumentsMessageParser::BeginElement(uint32_t id) {
  if (IsDocument(id)) m_name.Reset();
  return DocumentListParser::BeginElement(id);
}

HRESULT RenameDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id == Name) return Store(m_name, value);
  return DocumentListParser::SetValue(id, value);
}

HRESULT RenameDocumentsMessageParser::RenameDocument(uint32_t element) {
  if (!IsDocument(element)) return E_INVALIDARG;
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    KXDBDatasheetSvcs::RenameDocument(*m_pMain, element == Diagram, m_documentId, m_name.c_str());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::RenameDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<RenameDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::RenameDocuments",
                                                    request);
}
