#include "documents/comparedocuments.h"

#include "com/wstr.h"
#include "documents/processdocuments.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/comparedocuments";
constexpr FrameOptions kFrame{.file = kFile};
constexpr HRESULT kNoSuchObject = static_cast<HRESULT>(0x8004B001);

// The datasheet `id`; a store that does not know it fails with the
// "no longer exists" text naming `which` ("Datasheet1", "Datasheet2").
void GetComparedDatasheet(KXComException& ctx, MainContext& main, int32_t id, const OLECHAR* which,
                          IKXQObjectPtr& datasheet) {
  VARIANT_BOOL exists = VARIANT_FALSE;
  const HRESULT asked = main.m_pDatabase->ObjectExists(id, &exists);
  HRESULT hr = asked;
  if (SUCCEEDED(asked) && exists != VARIANT_FALSE)
    hr = main.m_pDatabase->get_Object(id, &datasheet);
  // A datasheet the store says is gone is a failure, not an empty reply.
  if (FAILED(asked) || exists == VARIANT_FALSE || hr == kNoSuchObject ||
      (SUCCEEDED(hr) && !datasheet)) {
    ThrowKXComExceptionHrAt(
        ctx, KX_HERE(kFile), E_FAIL,
        u"%ls no longer exists in the workspace.\nIt may have been deleted by another user.",
        which);
  }
  KX_CHECK(ctx, hr);
}

// Two datasheets compare field by field only when built from the same
// template at the same version. The library tells templates apart by their
// exact id ("pump-ds" is not "PUMP-DS"); checknums compare without regard
// to case.
bool SameTemplate(KXComException& ctx, IKXQTemplate* a, IKXQTemplate* b) {
  using ValidateTemplates::TemplateText;
  const auto text = [&](IKXQTemplate* tmpl, HRESULT (IKXQTemplate::*get)(BSTR*)) {
    return TemplateText(ctx, tmpl, get);
  };
  return text(a, &IKXQTemplate::get_Id).view() == text(b, &IKXQTemplate::get_Id).view() &&
         kx_wcsicmp(text(a, &IKXQTemplate::get_Checknum).view(),
                    text(b, &IKXQTemplate::get_Checknum).view()) == 0;
}

void CheckPages(KXComException& ctx, IKXQObject* datasheet, int32_t status, int32_t id) {
  if (status < 1 || status > 4) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Invalid status");
  }
  IKXQAttributePtr pages;
  if (GetPagesAttributeByStatus(datasheet, status, pages) <= 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Invalid status for Datasheet with OID:%ld", static_cast<long>(id));
  }
}

}  // namespace

const GrammarRecord* CompareDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"CompareDocuments", 1,
                       {Grammar::Child(Datasheet1), Grammar::Child(Datasheet2)}),
      Grammar::Element(
          u"Datasheet1", Datasheet1,
          {Grammar::Integer(u"DocumentId1", DocumentId1), Grammar::Integer(u"Status1", Status1)}),
      Grammar::Element(
          u"Datasheet2", Datasheet2,
          {Grammar::Integer(u"DocumentId2", DocumentId2), Grammar::Integer(u"Status2", Status2)}));
  return kGrammar.data();
}

HRESULT CompareDocumentsMessageParser::BeginElement(uint32_t id) {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    if (id == 1) {
      XMLReply::BeginMessage(Reply(), u"App", -1);
      XMLReply::StartElement(Reply(), u"OpenDocuments");
    }
    return S_OK;
  });
}

HRESULT CompareDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case DocumentId1: return Store(m_documentId1, value);
    case Status1: return Store(m_status1, value);
    case DocumentId2: return Store(m_documentId2, value);
    case Status2: return Store(m_status2, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CompareDocumentsMessageParser::Work() {
  const bool first = m_compared.insert({m_documentId1, m_status1, m_documentId2, m_status2}).second;
  const HRESULT hr = first ? CompareDocuments() : S_OK;
  KXComException ctx = KXComException::Silent();
  if (FAILED(hr)) ctx.TakeThreadErrorInfo();
  // The reply is closed and invalid templates named whatever the worker
  // found; its failure is returned after that.
  const HRESULT closed = ServeRequest(nullptr, kFrame, [&](KXComException&) {
    XMLReply::EndElement(Reply(), u"OpenDocuments");
    XMLReply::EndMessage(Reply());
    KXDBDatasheetSvcs::ShowUserMessage(
        *m_pMain, ValidateTemplates::FormatInvalidTemplatesMessage(m_validation, u"opened"));
    return S_OK;
  });
  if (FAILED(hr)) {
    ctx.hr = hr;
    return ctx.Return();
  }
  return closed;
}

void CompareDocumentsMessageParser::ForgetEntries() {
  m_validation.ClearResults();
  m_loader.m_comparisonDatasheet = nullptr;
  m_loader.m_comparisonPage = nullptr;
  m_loader.m_comparisonPageResolved = false;
  m_loader.m_comparisonStatus = -1;
}

HRESULT CompareDocumentsMessageParser::CompareDocuments() {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    IKXQObjectPtr first;
    IKXQObjectPtr second;
    GetComparedDatasheet(ctx, main, m_documentId1, u"Datasheet1", first);
    GetComparedDatasheet(ctx, main, m_documentId2, u"Datasheet2", second);
    bool done1 = false;
    bool done2 = false;
    // Their failures are recorded as invalid entries and shown; either one
    // not validated ends the comparison with an empty reply.
    if (FAILED(ValidateDatasheetTemplates(m_validation, first, &done1))) ctx.Absorb();
    if (FAILED(ValidateDatasheetTemplates(m_validation, second, &done2))) ctx.Absorb();
    if (!done1 || !done2) return S_OK;
    IKXQTemplatePtr template1;
    IKXQTemplatePtr template2;
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, first, &template1, m_status1));
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, second, &template2, m_status2));
    if (template1 && template2) {
      if (!SameTemplate(ctx, template1, template2)) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"The Datasheets are not comparable.");
      }
      m_loader.m_comparisonDatasheet = second;
      m_loader.m_comparisonStatus = m_status2;
    }
    CheckPages(ctx, first, m_status1, m_documentId1);
    CheckPages(ctx, second, m_status2, m_documentId2);
    KXDBDatasheetSvcs::LoadOpenedDatasheet(m_loader, first, m_status1);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::CompareDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CompareDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::CompareDocuments",
                                                     request);
}
