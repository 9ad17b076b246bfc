#include "documents/datasheetcases.h"

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "variantutil.h"
#include "xmlreply.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datasheetcases";
constexpr FrameOptions kFrame{.file = kFile};

}  // namespace

namespace KXDBDatasheetSvcs {

void RecaseDocument(MainContext& main, const OLECHAR* targetId, int32_t caseId) {
  KXComException ctx = KXComException::Silent();
  if (targetId == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"RecaseDocuments names no datasheet: its \"TargetId\" is missing");
  }
  IKXQObjectPtr datasheet;
  GetObjectOfClass(main.m_pDatabase, _wtol(targetId), {u"Datasheet"}, u"a datasheet", datasheet);
  RequireCaseId(main, caseId);
  KX_CHECK(ctx, SetDatasheetCase(main, datasheet, caseId));
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* RecaseDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"RecaseDocuments", {Grammar::Integer(u"CaseId", CaseId)});
  return kGrammar.data();
}

HRESULT RecaseDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != CaseId) return E_INVALIDARG;
  return Store(m_caseId, value);
}

HRESULT RecaseDocumentsMessageParser::RecaseDocument() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    KXDBDatasheetSvcs::RecaseDocument(*m_pMain, m_targetId.c_str(), m_caseId);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::RecaseDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<RecaseDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::RecaseDocuments",
                                                    request);
}

// The request text is the datasheet's id in decimal. A page whose template
// page is gone is passed over; the pages after it still count.
HRESULT KXDBDatasheetSvcs::ListDatasheetObjects(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDatasheetObjects", [&](KXComException& ctx) {
    IKXQObjectPtr datasheet;
    GetStoreObject(main.m_pDatabase, datasheet,
                   MessageKit::ReadBareId(request, u"the datasheet id"));
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(main.m_pApplication, datasheet, &tmpl, 1));
    if (!tmpl) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"The datasheet's template cannot be found");
    }
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
    VariantUtil::SafeArrayVector classes(rawClasses, true);
    SortedIdArray ids;
    const auto add = [&](IKXQObject* object) {
      IKXQClassPtr cls;
      GetObjectClass(object, cls);
      if (!IsClassInArray(cls, classes.Array())) return;
      LONG id = 0;
      KX_CHECK(ctx, object->get_Id(&id));
      if (id > 0) ids.Add(id);
    };
    IKXQAttributePtr pages;
    const int32_t count = GetAttributeInterfaceAndCountByName(datasheet, u"CurrentPages", pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
      if (!templatePage) continue;
      _bstr_t format;
      KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
      if (format.length() > 0) {
        // A list: every object it holds, whatever its row.
        IKXQAttributePtr nodeObjects;
        GetAttributeInterface(page, u"NodeObjects", nodeObjects);
        const int32_t objects = nodeObjects ? GetAttributeCount(nodeObjects) : 0;
        for (int32_t p = 1; p <= objects; ++p) {
          IKXQObjectPtr object;
          GetAttributeAsObject(nodeObjects, p, object);
          if (object) add(object);
        }
        continue;
      }
      SAFEARRAY* roots = nullptr;
      KX_CHECK(ctx, templatePage->get_RootNodes(&roots));
      VariantUtil::SafeArrayVector nodes(roots, true);
      for (int32_t k = 0; k < nodes.Count(); ++k) {
        IKXQClassViewPtr node;
        KX_CHECK(ctx, nodes.GetClassViewAt(k, &node));
        IKXQObjectPtr object;
        if (node) GetNodeObject(object, page, node);
        if (object) add(object);
      }
    }
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::StartElement(main, u"Objects");
    for (int32_t i = 0; i < ids.GetCount(); ++i) {
      XMLReply::WriteElement(main, u"ObjectId", _bstr_t(kx_ltow(ids.GetAt(i))));
    }
    XMLReply::EndElement(main, u"Objects");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}
