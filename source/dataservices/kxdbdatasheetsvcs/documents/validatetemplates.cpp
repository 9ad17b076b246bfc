#include "documents/validatetemplates.h"

#include <algorithm>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/validatetemplates";
constexpr FrameOptions kFrame{.file = kFile};
// One datasheet's failure does not stop the others: what could not be
// validated is named in the summary.
constexpr FrameOptions kEachDocumentFrame{.file = kFile, .absorbFailure = true};
constexpr HRESULT kNoSuchObject = static_cast<HRESULT>(0x8004B001);
// The user message stops growing once it is this long.
constexpr size_t kMessageLimit = 1800;

}  // namespace

// ---- Small store helpers ----------------------------------------------------

namespace ValidateTemplates {

_bstr_t ReadText(IKXQObject* object, const OLECHAR* name) {
  _bstr_t text;
  KXDBDatasheetSvcs::GetAttributeString(object, text, name, -1);
  return text;
}

_bstr_t TemplateText(KXComException& ctx, IKXQTemplate* tmpl, HRESULT (IKXQTemplate::*get)(BSTR*)) {
  BSTR text = nullptr;
  KX_CHECK(ctx, (tmpl->*get)(&text));
  return _bstr_t(text, false);
}

}  // namespace ValidateTemplates

namespace {

using ValidateTemplates::ReadText;
using ValidateTemplates::TemplateText;

// Checknums compare without regard to case; two missing texts are equal,
// one missing text differs.
bool SameChecknum(const _bstr_t& a, const _bstr_t& b) {
  if (a.length() == 0 || b.length() == 0) return a.length() == b.length();
  return _wcsicmp(a, b) == 0;
}

bool CallKnowledgeBaseMethod(KXComException& ctx, IKXQObject* object, const OLECHAR* name) {
  IKXQClassPtr cls;
  KXDBDatasheetSvcs::GetObjectClass(object, cls);
  if (!cls) return false;
  VARIANT_BOOL has = VARIANT_FALSE;
  const _bstr_t method(name);
  KX_CHECK(ctx, cls->HasMethod(method, &has));
  if (has == VARIANT_FALSE) return false;
  _variant_t result;
  KX_CHECK(ctx, object->CallMethod(method, nullptr, result.GetAddress()));
  return true;
}

// What names the page `IsValidTemplate` found stale: its template's id,
// or the datasheet's "TemplateId" and " (Missing)" when its template page
// is gone.
_bstr_t StaleTemplateId(KXComException& ctx, IKXQApplication* application, IKXQObject* datasheet,
                        IKXQObject* page) {
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, 1));
  if (!templatePage) return ReadText(datasheet, u"TemplateId") + _bstr_t(u" (Missing)");
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, templatePage->get_Template(&tmpl));
  CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
  return TemplateText(ctx, tmpl, &IKXQTemplate::get_Id);
}

// Runs `work` with the host's begin/end pair for template work around it.
template <class Work>
void WithTemplateWork(KXComException& ctx, IKXQApplication* application, Work&& work) {
  KX_CHECK(ctx, application->BeginTemplateWork());
  // A failed work ends the template work all the same; its own failure is
  // the one reported.
  KXScopeGuard endWork([&] { (void)application->EndTemplateWork(); });
  work();
  endWork.Dismiss();
  KX_CHECK(ctx, application->EndTemplateWork());
}

}  // namespace

HRESULT ValidatePageSet(TemplateValidationContext& context, IKXQObject* datasheet,
                        IKXQAttribute* pages, int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    MainContext& main = *context.m_pMain;
    IKXQApplication* application = main.m_pApplication;
    context.m_invalidFound = false;
    _bstr_t remembered;
    IKXQTemplateLibraryPtr library;
    (void)application->get_TemplateLibrary(&library);
    for (int32_t index = GetAttributeCount(pages); index >= 1; --index) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, index, page);
      if (!page) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, status));
      if (!templatePage) {
        if (context.m_delete) {
          KX_CHECK(ctx, pages->RemoveValues(index, 1));
          KX_CHECK(ctx, page->Delete());
        } else {
          context.m_invalidFound = true;
          const std::u16string entry =
              kx_format(u"Datasheet OID=%ld, Name=%ls, TemplateID=%ls",
                        static_cast<long>(ObjectIdOf(datasheet)),
                        static_cast<const OLECHAR*>(ReadText(datasheet, u"DocumentName")),
                        static_cast<const OLECHAR*>(ReadText(page, u"TemplateId")));
          context.m_invalid.Add(entry.c_str());
        }
        continue;
      }
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, templatePage->get_Template(&tmpl));
      const _bstr_t checknum = TemplateText(ctx, tmpl, &IKXQTemplate::get_Checknum);
      const _bstr_t pageChecknum = ReadText(page, u"Checknum");
      if (SameChecknum(checknum, pageChecknum)) continue;
      if (status != 1 && !SameChecknum(pageChecknum, remembered)) {
        const _bstr_t id = TemplateText(ctx, tmpl, &IKXQTemplate::get_Id);
        if (library && id.length() != 0) {
          BSTR cached = nullptr;
          KX_CHECK(ctx, library->GetCachedTemplateData(id, pageChecknum, &cached));
          const _bstr_t heldCached(cached, false);
          // Built from a version the library still holds: it stays.
          if (heldCached.length() != 0) continue;
          remembered = pageChecknum;
        }
      }
      IKXQTemplatePagePtr oldTemplatePage;
      BSTR format = nullptr;
      KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
      const _bstr_t heldFormat(format, false);
      if (heldFormat.length() != 0 && library) {
        const _bstr_t id = ReadText(page, u"TemplateId");
        const _bstr_t pageId = ReadText(page, u"PageId");
        IKXQTemplatePtr oldTemplate;
        if (SUCCEEDED(library->GetTemplate(id, _variant_t(pageChecknum), &oldTemplate)) &&
            oldTemplate) {
          (void)oldTemplate->get_PageById(pageId, &oldTemplatePage);
        }
        ctx.Absorb();
        if (!oldTemplatePage) {
          const std::u16string warning = kx_format(
              u"TemplateValidation: Failed to retrieve cached template %ls (%ls) for page id %ls\n",
              static_cast<const OLECHAR*>(id), static_cast<const OLECHAR*>(pageChecknum),
              static_cast<const OLECHAR*>(pageId));
          (void)application->LogWarning(_bstr_t(warning.c_str()));
        }
      }
      if (index == GetAttributeCount(pages))
        CallKnowledgeBaseMethod(ctx, datasheet, u"SaveNodeList");
      KX_CHECK(ctx, RebuildPage(context, page, templatePage, checknum, status, oldTemplatePage));
      if (index == 1) CallKnowledgeBaseMethod(ctx, datasheet, u"RestoreNodeList");
    }
    return S_OK;
  });
}

HRESULT ValidateDatasheetTemplates(TemplateValidationContext& context, IKXQObject* datasheet,
                                   bool* done) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, done);
    *done = false;
    CheckPointerArgument(ctx, datasheet);
    // A datasheet without current pages must not inherit what the last
    // datasheet's pass found.
    context.m_invalidFound = false;
    WithTemplateWork(ctx, context.m_pMain->m_pApplication, [&] {
      IKXQAttributePtr current;
      if (GetPagesAttributeByStatus(datasheet, 1, current) > 0) {
        KX_CHECK(ctx, ValidatePageSet(context, datasheet, current, 1));
        if (GetAttributeCount(current) == 0) {
          // The store does not delete what a datasheet owns: its status
          // copies go with it, each once. The datasheet goes first, so that
          // a deletion the store refuses (a master BEDD sheet's) leaves them
          // with it: this failure ends only this datasheet's validation.
          std::vector<IKXQObjectPtr> copies;
          for (const OLECHAR* name : {u"SubmittedPages", u"CheckedPages", u"IssuedPages"}) {
            IKXQAttributePtr list;
            GetAttributeInterface(datasheet, name, list);
            for (int32_t i = list ? GetAttributeCount(list) : 0; i >= 1; --i) {
              IKXQObjectPtr page;
              GetAttributeAsObject(list, i, page);
              if (page && std::find(copies.begin(), copies.end(), page) == copies.end()) {
                copies.push_back(page);
              }
            }
          }
          KX_CHECK(ctx, datasheet->Delete());
          for (const IKXQObjectPtr& page : copies) {
            KXDBDatasheetSvcs::ForgetStatusCopy(page);
            KX_CHECK(ctx, page->Delete());
          }
          ++context.m_deleted;
          *done = true;
          return;
        }
      }
      if (context.m_invalidFound) return;
      for (int32_t status = 2; status <= 4; ++status) {
        IKXQAttributePtr pages;
        if (GetPagesAttributeByStatus(datasheet, status, pages) == 0) continue;
        KX_CHECK(ctx, ValidatePageSet(context, datasheet, pages, status));
      }
      context.m_invalidFound = false;
      ++context.m_updated;
      *done = true;
    });
    return S_OK;
  });
}

namespace ValidateTemplates {

_bstr_t FormatInvalidTemplatesMessage(const TemplateValidationContext& context,
                                      const OLECHAR* verb) {
  const int32_t count = context.m_invalid.GetCount();
  if (count == 0) return _bstr_t();
  std::u16string text = kx_format(u"The following datasheet(s) cannot be %ls due to %ls.\n\n", verb,
                                  count == 1 ? u"an invalid template" : u"invalid templates");
  for (int32_t i = count - 1; i >= 0; --i) {
    text += context.m_invalid.GetAt(i);
    // Only an entry that takes the text past the limit ends it: a separator
    // always has an entry after it.
    if (text.size() > kMessageLimit) break;
    if (i > 0) text += u",\n";
  }
  text += u".";
  return _bstr_t(text.c_str());
}

}  // namespace ValidateTemplates

namespace KXDBDatasheetSvcs {

void GetDatasheetById(MainContext& main, int32_t id, IKXQObjectPtr& datasheet,
                      const SourceLocation& where) {
  KXComException ctx = KXComException::Silent();
  datasheet = nullptr;
  const HRESULT hr = main.m_pDatabase->get_Object(id, &datasheet);
  if (hr == kNoSuchObject || (SUCCEEDED(hr) && !datasheet)) {
    ThrowKXComExceptionHrAt(ctx, where, E_FAIL,
                            u"This datasheet no longer exists in the workspace.\nIt may have been "
                            u"deleted by another user.");
  }
  KX_CHECK(ctx, hr);
  if (!IsObjectOfClass(datasheet, u"Datasheet")) RefuseObjectClass(datasheet, id, u"a datasheet");
}

HRESULT ValidateDatasheetObject(MainContext& main, IKXQObject* datasheet) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    if (datasheet == nullptr || !IsObjectOfClass(datasheet, u"Datasheet")) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Object is not a valid datasheet");
    }
    TemplateValidationContext context(&main);
    bool done = false;
    KX_CHECK(ctx, ValidateDatasheetTemplates(context, datasheet, &done));
    if (!done) {
      const _bstr_t message =
          ValidateTemplates::FormatInvalidTemplatesMessage(context, u"validated");
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"%ls",
                              static_cast<const OLECHAR*>(message));
    }
    return S_OK;
  });
}

HRESULT ValidateLabelObject(MainContext& main, IKXQObject* label, int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    if (label == nullptr || !IsObjectOfClass(label, u"Label")) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Object is not a valid label");
    }
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(main.m_pApplication, label, &tmpl, 1));
    if (!tmpl) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"The label's template %ls cannot be found",
                              static_cast<const OLECHAR*>(ReadText(label, u"TemplateId")));
    }
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, tmpl->get_Page(1, &templatePage));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    IKXQTemplatePtr pageTemplate;
    KX_CHECK(ctx, templatePage->get_Template(&pageTemplate));
    _bstr_t checknum = TemplateText(ctx, pageTemplate, &IKXQTemplate::get_Checknum);
    if (checknum.length() == 0) checknum = u"1";
    if (SameChecknum(checknum, ReadText(label, u"Checknum"))) return S_OK;
    TemplateValidationContext context(&main);
    KX_CHECK(ctx, RebuildPage(context, label, templatePage, checknum, status, nullptr));
    return S_OK;
  });
}

}  // namespace KXDBDatasheetSvcs

// ---- The messages ---------------------------------------------------------------

const GrammarRecord* UpdateTemplatesSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"UpdateTemplates", 1,
                       {Grammar::Boolean(u"Delete", Delete), Grammar::Child(DocumentId)}),
      Grammar::IntegerElement(u"DocumentId", DocumentId));
  return kGrammar.data();
}

HRESULT UpdateTemplatesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Delete: return Store(m_context.m_delete, value);
    case DocumentId: return UpdateDocument(value.integer);
    default: return E_INVALIDARG;
  }
}

HRESULT UpdateTemplatesMessageParser::UpdateDocument(int32_t documentId) {
  (void)ServeRequest(nullptr, kEachDocumentFrame, [&](KXComException& ctx) {
    IKXQObjectPtr datasheet;
    KXDBDatasheetSvcs::GetDatasheetById(*m_pMain, documentId, datasheet, KX_HERE(kFile));
    bool done = false;
    KX_CHECK(ctx, ValidateDatasheetTemplates(m_context, datasheet, &done));
    return S_OK;
  });
  return S_OK;
}

HRESULT UpdateTemplatesMessageParser::WriteSummary() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    const TemplateValidationContext& c = m_context;
    std::u16string text = kx_format(u"Updated %ld datasheet", static_cast<long>(c.m_updated));
    text += c.m_updated == 1 ? u"." : u"s.";
    if (c.m_deleted > 0) {
      text += kx_format(u" Deleted %ld datasheet", static_cast<long>(c.m_deleted));
      text += c.m_deleted == 1 ? u"." : u"s.";
    }
    if (c.m_invalid.GetCount() > 0) {
      text += u" ";
      text += static_cast<const OLECHAR*>(
          ValidateTemplates::FormatInvalidTemplatesMessage(c, u"validated"));
    }
    HostConnection& host = Reply();
    XMLReply::BeginMessage(host, u"App", -1);
    XMLReply::WriteMessage(host, u"ALERT", -1, _bstr_t(text.c_str()));
    XMLReply::EndMessage(host);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::UpdateTemplates(MainContext& main, const OLECHAR* request) {
  return ServeMessage<UpdateTemplatesMessageParser>(main, u"KXDBDatasheetSvcs::UpdateTemplates",
                                                    request);
}

HRESULT KXDBDatasheetSvcs::ValidateTemplates(MainContext& main, const OLECHAR* request) {
  (void)request;  // the request carries nothing
  return ServeRequest(u"KXDBDatasheetSvcs::ValidateTemplates", [&](KXComException& ctx) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(u"Datasheet"), &cls));
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::StartElement(main, u"ValidateDatasheets");
    ComPtrArray<IKXQObject> datasheets;
    KXDBDatasheetSvcs::CollectChildObjects(datasheets, cls);
    for (int32_t i = 0; i < datasheets.GetCount(); ++i) {
      IKXQObject* datasheet = datasheets.GetAt(i);
      IKXQObjectPtr stale;
      KX_CHECK(ctx, KXDBDatasheetSvcs::IsValidTemplate(main.m_pApplication, datasheet, 1, &stale));
      if (!stale) continue;
      const _bstr_t templateId = StaleTemplateId(ctx, main.m_pApplication, datasheet, stale);
      BSTR name = nullptr;
      KX_CHECK(ctx,
               KXDBDatasheetSvcs::GetDatasheetName(main.m_pApplication, datasheet, &name, true, 1));
      const _bstr_t heldName(name, false);
      XMLReply::AddStringAttribute(main, u"Name", heldName);
      XMLReply::AddLongAttribute(main, u"DocumentId", ObjectIdOf(datasheet));
      XMLReply::AddStringAttribute(main, u"TemplateId", templateId);
      XMLReply::WriteElement(main, u"Datasheet", nullptr);
    }
    XMLReply::EndElement(main, u"ValidateDatasheets");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}
