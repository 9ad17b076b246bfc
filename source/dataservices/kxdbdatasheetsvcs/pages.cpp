#include "pages.h"

#include <algorithm>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreutils.h"
#include "listtemplates.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";

std::u16string TakeText(BSTR text) {
  std::u16string copy(text ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return copy;
}

std::u16string GetKind(KXComException& ctx, IKXQTemplate* tmpl) {
  BSTR kind = nullptr;
  const HRESULT hr = tmpl->get_Kind(&kind);
  std::u16string text = TakeText(kind);
  KX_CHECK(ctx, hr);
  return text;
}

// A "Summary" template whose first page is a continuous list.
bool IsContinuousSummary(KXComException& ctx, IKXQTemplate* tmpl, const std::u16string& kind) {
  if (kx_wcsicmp(kind, u"Summary") != 0) return false;
  IKXQTemplatePagePtr first;
  KX_CHECK(ctx, tmpl->get_Page(1, &first));
  if (!first) return false;
  BSTR format = nullptr;
  const HRESULT hr = first->get_ContinuousFormat(&format);
  const std::u16string text = TakeText(format);
  KX_CHECK(ctx, hr);
  return !text.empty();
}

}  // namespace

void TemplatePageListing::InternalAddObject(IKXQDatabase* database, int32_t id) {
  KXComException ctx(u"ListTemplatePagesMessageParser::InternalAddObject");
  IKXQObjectPtr object;
  GetStoreObject(database, object, id);
  AddObject(object);
}

void TemplatePageListing::AddObject(IKXQObject* object) {
  if (object == nullptr) return;
  const bool known =
      std::any_of(m_objects.begin(), m_objects.end(),
                  [object](const IKXQObjectPtr& held) { return held.GetInterfacePtr() == object; });
  if (!known) m_objects.emplace_back(object);
}

void TemplatePageListing::ListTemplatePagesByObject(IKXQApplication* application,
                                                    IKXQSchema* schema, IKXQTemplate* tmpl) {
  KXComException ctx(u"ListTemplatePagesMessageParser::ListTemplatePagesByObject");
  if (!m_objects.empty()) {
    for (const IKXQObjectPtr& object : m_objects) {
      KXClassTemplatesInfo record;
      record.object = object;
      KXDBDatasheetSvcs::GetObjectClass(object, record.cls);
      m_records.push_back(std::move(record));
    }
  } else if (tmpl != nullptr) {
    SAFEARRAY* classes = nullptr;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateClasses(tmpl, &classes));
    VariantUtil::SafeArrayVector vector(classes, true);
    if (vector.Count() == 0) {
      IKXQClassPtr globals;
      if (schema != nullptr) KX_CHECK(ctx, schema->get_Class(_bstr_t(u"GlobalsClass"), &globals));
      if (globals) m_records.push_back(KXClassTemplatesInfo{nullptr, globals, {}});
    }
    for (int32_t i = 0; i < vector.Count(); ++i) {
      IKXQClass* cls = nullptr;
      if (FAILED(vector.GetInterfaceAt(i, &cls)) || cls == nullptr) {
        // An element of another kind stands for no class.
        ClearThreadErrorInfo();
        continue;
      }
      IKXQClassPtr held;
      held.Attach(cls);
      m_records.push_back(KXClassTemplatesInfo{nullptr, held, {}});
    }
  }
  if (!m_records.empty()) AddValidTemplates(application);
}

void TemplatePageListing::AddValidTemplates(IKXQApplication* application) {
  KXComException ctx(u"ListTemplatePagesMessageParser::AddValidTemplates");
  KXDBDatasheetSvcs::VisitLibraryTemplates(ctx, application, [&](IKXQTemplate* tmpl) {
    const std::u16string kind = GetKind(ctx, tmpl);
    if (kx_wcsicmp(kind, u"Datasheet") != 0 && !IsContinuousSummary(ctx, tmpl, kind)) return;
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateClasses(tmpl, &rawClasses));
    const VariantUtil::SafeArrayVector classes(rawClasses, true);
    for (KXClassTemplatesInfo& record : m_records) {
      if (record.cls && KXDBDatasheetSvcs::IsClassInArray(record.cls, classes.Array())) {
        record.templates.emplace_back(tmpl);
      }
    }
  });
}

void TemplatePageListing::ListContinuousDatasheets(IKXQApplication* application) {
  KXComException ctx(u"ListTemplatePagesMessageParser::ListContinuousDatasheets");
  KXDBDatasheetSvcs::VisitLibraryTemplates(ctx, application, [&](IKXQTemplate* tmpl) {
    if (IsContinuousSummary(ctx, tmpl, GetKind(ctx, tmpl))) {
      m_records.push_back(KXClassTemplatesInfo{nullptr, nullptr, {IKXQTemplatePtr(tmpl)}});
    }
  });
}

void TemplatePageListing::ListSummaryPages(IKXQTemplate* tmpl) {
  KXComException ctx(u"ListTemplatePagesMessageParser::ListSummaryPages");
  CheckPointerArgument(ctx, tmpl);
  m_records.push_back(KXClassTemplatesInfo{nullptr, nullptr, {IKXQTemplatePtr(tmpl)}});
}

void TemplatePageListing::WriteReply(DataServicePart& part) {
  if (m_records.empty()) return;
  KXComException ctx(u"KXClassTemplatesInfo::WriteXML");
  XMLReply::BeginMessage(part, m_targetId.c_str(), -1);
  for (const KXClassTemplatesInfo& record : m_records) {
    LONG objectId = 0;
    if (record.object) KX_CHECK(ctx, record.object->get_Id(&objectId));
    for (const IKXQTemplatePtr& tmpl : record.templates) {
      BSTR text = nullptr;
      KX_CHECK(ctx, tmpl->get_Id(&text));
      const _bstr_t templateId(text, false);
      KX_CHECK(ctx, tmpl->get_Name(&text));
      const std::u16string templateName = TakeText(text);
      LONG pages = 0;
      KX_CHECK(ctx, tmpl->get_PageCount(&pages));
      XMLReply::AddStringAttribute(part, u"TemplateId", templateId);
      if (record.object) XMLReply::AddLongAttribute(part, u"ObjectId", objectId);
      XMLReply::StartElement(part, u"Pages");
      for (LONG i = 1; i <= pages; ++i) {
        IKXQTemplatePagePtr page;
        KX_CHECK(ctx, tmpl->get_Page(i, &page));
        CheckPointerArgument(ctx, page.GetInterfacePtr());
        KX_CHECK(ctx, page->get_Id(&text));
        const _bstr_t pageId(text, false);
        KX_CHECK(ctx, page->get_Name(&text));
        const std::u16string label =
            KXDBDatasheetSvcs::TemplatePageLabel(record.object, templateName, TakeText(text), i);
        XMLReply::AddStringAttribute(part, u"TemplatePageId", pageId);
        XMLReply::AddStringAttribute(part, u"Name", _bstr_t(label));
        XMLReply::WriteElement(part, u"Page", nullptr);
      }
      XMLReply::EndElement(part, u"Pages");
    }
  }
  XMLReply::EndMessage(part);
  m_records.clear();
}

namespace KXDBDatasheetSvcs {

std::u16string TemplatePageLabel(IKXQObject* object, const std::u16string& templateName,
                                 const std::u16string& pageName, int32_t number) {
  std::u16string label;
  if (object != nullptr) {
    _bstr_t name;
    GetObjectName(object, name, false);
    label.append(static_cast<const OLECHAR*>(name), name.length());
    label += u": ";
  }
  label += templateName;
  label += u" - ";
  label += pageName.empty() ? kx_ltow(number) : FormatPageName(pageName, number);
  return label;
}

}  // namespace KXDBDatasheetSvcs

HRESULT Main::ListTemplatePages(const OLECHAR* request) {
  return ServeRequest(u"Main::ListTemplatePages", [&](KXComException& ctx) {
    const OLECHAR* text = request ? request : u"";
    IKXQObjectPtr datasheet;
    GetStoreObject(m_pDatabase, datasheet, _wtol(text));
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(m_pApplication, datasheet, &tmpl, 1));
    if (!tmpl) {
      _bstr_t templateId;
      KXDBDatasheetSvcs::GetAttributeString(datasheet, templateId, u"TemplateId", -1);
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"The template %ls of datasheet %ls is not in the template library",
                              static_cast<const OLECHAR*>(templateId), text);
    }
    TemplatePageListing listing;
    listing.SetTargetId(text);
    const std::u16string kind = GetKind(ctx, tmpl);
    if (kx_wcsicmp(kind, u"Summary") != 0) {
      IKXQAttributePtr pages;
      const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
      for (int32_t i = count; i >= 1; --i) {
        IKXQObjectPtr page;
        GetAttributeObjectValue(pages, page, i);
        if (!page) continue;
        IKXQTemplatePtr pageTemplate;
        KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(m_pApplication, page, &pageTemplate, 1));
        if (!pageTemplate) continue;
        IKXQObjectPtr primary;
        KX_CHECK(ctx, KXDBDatasheetSvcs::GetPagePrimaryObject(m_pApplication, page, pageTemplate,
                                                              &primary, nullptr, 1));
        listing.AddObject(primary);
      }
      listing.ListTemplatePagesByObject(m_pApplication, m_pSchema, tmpl);
      listing.ListContinuousDatasheets(m_pApplication);
    } else if (IsContinuousSummary(ctx, tmpl, kind)) {
      listing.ListContinuousDatasheets(m_pApplication);
    } else {
      listing.ListSummaryPages(tmpl);
    }
    listing.WriteReply(*this);
    return S_OK;
  });
}

const GrammarRecord* ListTemplatePagesSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(),
                     Grammar::Element(u"ListTemplatePagesByObject", 1, {Grammar::Child(ObjectId)}),
                     Grammar::IntegerElement(u"ObjectId", ObjectId));
  return kGrammar.data();
}

HRESULT ListTemplatePagesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != ObjectId) return E_INVALIDARG;
  KXComException ctx = KXComException::Silent(u"ListTemplatePagesMessageParser::InternalAddObject");
  try {
    m_listing.InternalAddObject(m_pMain->m_pDatabase, value.integer);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT ListTemplatePagesMessageParser::ListTemplatePagesByObject() {
  KXComException ctx(u"KXDBDatasheetSvcs::ListTemplatePagesByObject");
  try {
    m_listing.SetTargetId(m_targetId.str());
    m_listing.ListTemplatePagesByObject(m_pMain->m_pApplication, m_pMain->m_pSchema, nullptr);
    m_listing.WriteReply(Reply());
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT Main::ListTemplatePagesByObject(const OLECHAR* request) {
  return ServeMessage<ListTemplatePagesMessageParser>(
      *this, u"KXDBDatasheetSvcs::ListTemplatePagesByObject", request);
}
