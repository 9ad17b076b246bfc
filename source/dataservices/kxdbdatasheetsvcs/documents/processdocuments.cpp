#include "documents/processdocuments.h"

#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/processdocuments";
constexpr FrameOptions kFrame{.file = kFile};

const OLECHAR* MessageName(uint32_t message) {
  switch (message) {
    case ProcessDocumentsSchema::PrintDocuments: return u"PrintDocuments";
    case ProcessDocumentsSchema::ExportDocuments: return u"ExportDocuments";
    default: return u"OpenDocuments";
  }
}

const OLECHAR* Verb(uint32_t message) {
  switch (message) {
    case ProcessDocumentsSchema::PrintDocuments: return u"printed";
    case ProcessDocumentsSchema::ExportDocuments: return u"exported";
    default: return u"opened";
  }
}

}  // namespace

namespace KXDBDatasheetSvcs {

void LoadOpenedDatasheet(PageLoadContext& loader, IKXQObject* datasheet, int32_t status) {
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, LoadDatasheet(loader, datasheet, status, true));
  KX_CHECK(ctx, PutDocumentIntegerAsText(loader.m_pMain->m_pApplication, datasheet, status));
}

void ShowUserMessage(MainContext& main, const _bstr_t& text) {
  KXComException ctx = KXComException::Silent();
  if (text.length() == 0) return;
  KX_CHECK(ctx, main.m_pApplication->ShowMessage(text));
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* ProcessDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status, {OpenDocuments, PrintDocuments, ExportDocuments}),
      Grammar::Element(u"OpenDocuments", OpenDocuments,
                       {Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
      Grammar::Element(u"PrintDocuments", PrintDocuments, {Grammar::Child(Datasheet)}),
      Grammar::Element(u"ExportDocuments", ExportDocuments, {Grammar::Child(Datasheet)}),
      DocumentVersionElements<ProcessDocumentsSchema>());
  return kGrammar.data();
}

HRESULT ProcessDocumentsMessageParser::BeginElement(uint32_t id) {
  if (id < OpenDocuments || id > ExportDocuments) return DocumentListParser::BeginElement(id);
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    m_message = id;
    XMLReply::BeginMessage(Reply(), u"App", -1);
    XMLReply::StartElement(Reply(), MessageName(id));
    return S_OK;
  });
}

HRESULT ProcessDocumentsMessageParser::WorkChild(uint32_t element) {
  switch (element) {
    case Datasheet: return FirstNaming(element) ? ProcessDatasheet() : S_OK;
    case Diagram: return FirstNaming(element) ? ProcessDiagram() : S_OK;
    case PrintDocuments:
    case ExportDocuments: return Finish();
    default: return E_INVALIDARG;
  }
}

bool ProcessDocumentsMessageParser::FirstNaming(uint32_t kind) {
  // A datasheet's contents are far larger than the entry naming it: written
  // again for every repeat, a small request would make a huge reply.
  const uint64_t version = (static_cast<uint64_t>(static_cast<uint32_t>(m_documentStatus)) << 32) |
                           static_cast<uint32_t>(m_documentId);
  return (kind == Datasheet ? m_namedDatasheets[m_message - OpenDocuments] : m_namedDiagrams)
      .insert(version)
      .second;
}

HRESULT ProcessDocumentsMessageParser::ProcessDatasheet() {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    IKXQObjectPtr datasheet;
    KXDBDatasheetSvcs::GetDatasheetById(*m_pMain, m_documentId, datasheet, KX_HERE(kFile));
    bool done = false;
    KX_CHECK(ctx, ValidateDatasheetTemplates(m_validation, datasheet, &done));
    // Left out: the validation context names it after the reply.
    if (done) {
      if (m_message == OpenDocuments) {
        KXDBDatasheetSvcs::LoadOpenedDatasheet(m_loader, datasheet, m_documentStatus);
      } else {
        KX_CHECK(ctx,
                 KXDBDatasheetSvcs::LoadDatasheet(m_loader, datasheet, m_documentStatus, false));
      }
    }
    return S_OK;
  });
}

HRESULT ProcessDocumentsMessageParser::ProcessDiagram() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    IKXQObjectPtr diagram;
    GetStoreObject(m_pMain->m_pDatabase, diagram, m_documentId);
    XMLReply::AddLongAttribute(Reply(), u"DocumentId", ObjectIdOf(diagram));
    XMLReply::AddLongAttribute(Reply(), u"Status", m_documentStatus);
    XMLReply::WriteElement(Reply(), u"Diagram", nullptr);
    return S_OK;
  });
}

HRESULT ProcessDocumentsMessageParser::Finish() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    XMLReply::EndElement(Reply(), MessageName(m_message));
    XMLReply::EndMessage(Reply());
    KXDBDatasheetSvcs::ShowUserMessage(
        *m_pMain, ValidateTemplates::FormatInvalidTemplatesMessage(m_validation, Verb(m_message)));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ProcessDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ProcessDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::ProcessDocuments",
                                                     request);
}
