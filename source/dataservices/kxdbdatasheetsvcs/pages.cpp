#include "pages.h"

#include <algorithm>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreutils.h"
#include "listtemplates.h"
#include "loaddatasheet.h"
#include "main.h"
#include "scopedcurrent.h"
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

// ---------------------------------------------------------------------------
// Open page, page objects and page comparison.

namespace {

std::u16string Decimal(int32_t value) { return kx_format(u"%d", static_cast<int>(value)); }

// The page, its datasheet and the status of the page set that holds it.
struct PageInWork {
  IKXQObjectPtr page;
  IKXQObjectPtr owner;
  int32_t ownerId = 0;
  int32_t status = 1;
};

void FindPage(Main& main, int32_t pageId, PageInWork& found) {
  GetStoreObject(main.m_pDatabase, found.page, pageId);
  GetOwnerObject(found.page, found.owner);
  found.ownerId = ObjectIdOf(found.owner);
  const _bstr_t holding = KXDBDatasheetSvcs::GetHoldingAttributeName(found.page);
  found.status = KXDBDatasheetSvcs::GetPageStatusFromHoldingName(holding);
}

// The reply head shared by "OpenPage" and "ComparePages": "XMLMessage" of
// the datasheet and "OpenPage" with the page id as given.
void BeginOpenPageReply(Main& main, const PageInWork& work, const OLECHAR* pageIdText,
                        bool onDemand) {
  XMLReply::BeginMessage(main, Decimal(work.ownerId).c_str(), work.status);
  XMLReply::AddStringAttribute(main, u"PageId", _bstr_t(pageIdText));
  XMLReply::AddStringAttribute(main, u"OnDemand", _bstr_t(onDemand ? u"1" : u"0"));
  XMLReply::StartElement(main, u"OpenPage");
}

void EndOpenPageReply(Main& main) {
  XMLReply::EndElement(main, u"OpenPage");
  XMLReply::EndMessage(main);
}

// The template version text of a document, or none when it has no
// template.
bool TemplateVersion(IKXQApplication* application, IKXQObject* document, int32_t status,
                     _bstr_t& checknum) {
  KXComException ctx = KXComException::Silent();
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(application, document, &tmpl, status));
  if (!tmpl) return false;
  KX_CHECK(ctx, tmpl->get_Checknum(checknum.GetAddress()));
  return true;
}

}  // namespace

namespace KXDBDatasheetSvcs {

void SetComparisonPartner(PageLoadContext& context, IKXQApplication* application,
                          IKXQObject* document, int32_t status, IKXQObject* document2,
                          int32_t status2) {
  _bstr_t first;
  _bstr_t second;
  if (!TemplateVersion(application, document, status, first)) return;
  if (!TemplateVersion(application, document2, status2, second)) return;
  const bool firstHas = static_cast<const OLECHAR*>(first) != nullptr;
  const bool secondHas = static_cast<const OLECHAR*>(second) != nullptr;
  const bool same = firstHas == secondHas &&
                    (!firstHas || kx_wcsicmp(first.view(), second.view()) == 0);
  if (!same) return;
  context.m_comparisonDatasheet = document2;
  context.m_comparisonStatus = status2;
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// OpenPage.

HRESULT Main::OpenPage(const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::OpenPage", [&](KXComException& ctx) {
    std::u16string pageIdText(request != nullptr ? request : u"");
    // A line end after the id (a request read from a file) is not part of
    // it; leading blanks are kept as sent.
    while (!pageIdText.empty() && (pageIdText.back() == u'\n' || pageIdText.back() == u'\r')) {
      pageIdText.pop_back();
    }
    bool onDemand = true;
    if (!pageIdText.empty() && pageIdText.back() == u'!') {
      pageIdText.pop_back();
      onDemand = false;
    }
    PageInWork work;
    FindPage(*this, _wtol(pageIdText.c_str()), work);
    BeginOpenPageReply(*this, work, pageIdText.c_str(), onDemand);
    ScopedCurrentDatasheet currentDatasheet(m_pApplication, work.owner);
    ScopedCurrentPage currentPage(m_pApplication, work.page);
    PageLoadContext context(this);
    KX_CHECK(ctx, WritePageContents(context, work.page, work.status, onDemand));
    EndOpenPageReply(*this);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// ListPageObjects.

HRESULT Main::ListPageObjects(const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListPageObjects", [&](KXComException& ctx) {
    IKXQObjectPtr page;
    GetStoreObject(m_pDatabase, page, _wtol(request != nullptr ? request : u""));
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    SortedIdArray ids;
    IKXQTemplatePtr tmpl;
    if (datasheet) KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(m_pApplication, datasheet, &tmpl, 1));
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, page, &templatePage, 1));
    if (tmpl && templatePage) {
      SAFEARRAY* classArray = nullptr;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateClasses(tmpl, &classArray));
      VariantUtil::SafeArrayVector classes(classArray, true);
      SAFEARRAY* rootArray = nullptr;
      KX_CHECK(ctx, templatePage->get_RootNodes(&rootArray));
      VariantUtil::SafeArrayVector roots(rootArray, true);
      for (int32_t i = 0; i < roots.Count(); ++i) {
        IKXQClassViewPtr node;
        KX_CHECK(ctx, roots.GetClassViewAt(i, &node));
        IKXQObjectPtr object;
        KXDBDatasheetSvcs::GetNodeObject(object, page, node);
        if (!object) continue;
        IKXQClassPtr cls;
        KXDBDatasheetSvcs::GetObjectClass(object, cls);
        if (KXDBDatasheetSvcs::IsClassInArray(cls, classes.Array())) ids.Add(ObjectIdOf(object));
      }
    }
    XMLReply::BeginMessage(*this, u"App", -1);
    XMLReply::StartElement(*this, u"Objects");
    for (int32_t i = 0; i < ids.GetCount(); ++i) {
      XMLReply::WriteElement(*this, u"ObjectId", _bstr_t(Decimal(ids.GetAt(i))));
    }
    XMLReply::EndElement(*this, u"Objects");
    XMLReply::EndMessage(*this);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// ComparePages.

const GrammarRecord* ComparePagesSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ComparePages", {Grammar::Integer(u"PageId", PageId),
                        Grammar::Integer(u"DocumentId2", DocumentId2),
                        Grammar::Integer(u"Status2", Status2)});
  return kGrammar.data();
}

HRESULT ComparePagesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case DocumentId2: return Store(m_documentId2, value);
    case Status2: return Store(m_status2, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ComparePagesMessageParser::ComparePages() {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::ComparePages");
  try {
    Main& main = *m_pMain;
    PageInWork work;
    FindPage(main, m_pageId, work);
    BeginOpenPageReply(main, work, Decimal(m_pageId).c_str(), true);
    IKXQObjectPtr document2;
    GetStoreObject(main.m_pDatabase, document2, m_documentId2);
    ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, work.owner);
    ScopedCurrentPage currentPage(main.m_pApplication, work.page);
    PageLoadContext context(&main);
    if (work.owner) {
      KXDBDatasheetSvcs::SetComparisonPartner(context, main.m_pApplication, work.owner, m_status,
                                              document2, m_status2);
    }
    KX_CHECK(ctx, WritePageContents(context, work.page, work.status, true));
    EndOpenPageReply(main);
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT Main::ComparePages(const OLECHAR* request) {
  return ServeMessage<ComparePagesMessageParser>(*this, u"KXDBDatasheetSvcs::ComparePages",
                                                 request);
}
