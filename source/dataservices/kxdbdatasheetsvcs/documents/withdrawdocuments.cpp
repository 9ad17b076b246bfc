#include "documents/withdrawdocuments.h"

#include "com/wstr.h"
#include "documents/revisedocuments.h"
#include "host/drawing.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "xmlreply.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/withdrawdocuments";
constexpr FrameOptions kFrame{.file = kFile};

}  // namespace

namespace KXDBDatasheetSvcs {

void WithdrawDocument(MainContext& main, IKXQObject* datasheet) {
  (void)main;
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, datasheet->WorkflowAction(10, _variant_t()));
  // The pages of the last issue stand in these lists too and must live on.
  KX_CHECK(ctx, EmptyPageLists(datasheet, {u"CheckedPages", u"SubmittedPages"}, u"IssuedPages"));
  SetAttributeLong(datasheet, u"Status", 1, -1);
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* WithdrawDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(TargetId, Status),
                     Grammar::Element(u"WithdrawDocuments", 1,
                                      {Grammar::Boolean(u"Confirmed", Confirmed),
                                       Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
                     DocumentVersionElements<WithdrawDocumentsSchema>());
  return kGrammar.data();
}

HRESULT WithdrawDocumentsMessageParser::BeginElement(uint32_t id) {
  if (id != 1) return DocumentListParser::BeginElement(id);
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    XMLReply::BeginMessage(Reply(), u"App", -1);
    return S_OK;
  });
}

HRESULT WithdrawDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id == Confirmed) return Store(m_confirmed, value);
  return DocumentListParser::SetValue(id, value);
}

HRESULT WithdrawDocumentsMessageParser::WorkChild(uint32_t element) {
  if (!IsDocument(element)) return E_INVALIDARG;
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    const bool datasheet = element == Datasheet;
    // The element says what is deleted or withdrawn: another kind of object
    // is refused in both passes, before anything is asked or changed.
    IKXQObjectPtr document;
    GetNamedDocument(main.m_pDatabase, m_documentId, !datasheet, document);
    ScopedCurrentDatasheet scope(main.m_pApplication, document);
    if (!m_confirmed) {
      // Only deleting a whole document needs the user's word.
      if (m_documentStatus != 1) return S_OK;
      _bstr_t name;
      if (datasheet) {
        KX_CHECK(ctx, GetDatasheetName(main.m_pApplication, document, name.GetAddress(), true, 1));
      } else {
        KX_CHECK(ctx, GetDiagramName(main.m_pApplication, document, name.GetAddress(), true, 1));
      }
      const std::u16string shown(name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"");
      if (IsObjectInUse(document)) {
        const std::u16string text = u"Cannot delete " + shown + u". It is currently in use";
        XMLReply::WriteMessage(Reply(), u"ALERT", m_documentId, _bstr_t(text.c_str()));
      } else {
        const std::u16string text = u"Delete " + shown;
        XMLReply::WriteMessage(Reply(), u"QUESTION", m_documentId, _bstr_t(text.c_str()));
      }
      return S_OK;
    }
    if (datasheet && m_documentStatus == 1) {
      // The store does not delete what an object owns: the pages go first,
      // each once, so that none is left behind without its datasheet.
      KX_CHECK(ctx,
               EmptyPageLists(document,
                              {u"CurrentPages", u"SubmittedPages", u"CheckedPages", u"IssuedPages"},
                              nullptr));
      KX_CHECK(ctx, document->Delete());
    } else if (datasheet) {
      WithdrawDocument(main, document);
    } else {
      _com_ptr_t<IKXDrawingDiagram> diagram;
      GetDrawingDiagram(document, diagram);
      KX_CHECK(ctx, diagram->Withdraw(_variant_t(static_cast<int>(m_documentStatus), VT_I4)));
    }
    ++m_count;
    return S_OK;
  });
}

HRESULT WithdrawDocumentsMessageParser::Work() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    if (m_confirmed) WriteBatchSummary(*m_pMain, u"Withdrew ", m_count);
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::WithdrawDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<WithdrawDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::WithdrawDocuments",
                                                      request);
}
