// Open page, page objects and page comparison: "OpenPage",
// "ListPageObjects" and "ComparePages".
#include <string>
#include <unordered_set>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "messagekit.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "pages/pages.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

using namespace KXDBDatasheetSvcs;

std::u16string Decimal(int32_t value) { return kx_format(u"%d", static_cast<int>(value)); }

// The page, its datasheet and the status of the page set that holds it.
struct PageInWork {
  IKXQObjectPtr page;
  IKXQObjectPtr owner;
  int32_t ownerId = 0;
  int32_t status = 1;
};

void FindPage(MainContext& main, int32_t pageId, PageInWork& found) {
  GetStoreObject(main.m_pDatabase, found.page, pageId);
  GetOwnerObject(found.page, found.owner);
  found.ownerId = ObjectIdOf(found.owner);
  const _bstr_t holding = KXDBDatasheetSvcs::GetHoldingAttributeName(found.page);
  found.status = KXDBDatasheetSvcs::GetPageStatusFromHoldingName(holding);
}

// The reply head shared by "OpenPage" and "ComparePages": "XMLMessage" of
// the datasheet and "OpenPage" with the page id as given.
void BeginOpenPageReply(MainContext& main, const PageInWork& work, const OLECHAR* pageIdText,
                        bool onDemand) {
  XMLReply::BeginMessage(main, Decimal(work.ownerId).c_str(), work.status);
  XMLReply::AddStringAttribute(main, u"PageId", _bstr_t(pageIdText));
  XMLReply::AddStringAttribute(main, u"OnDemand", _bstr_t(onDemand ? u"1" : u"0"));
  XMLReply::StartElement(main, u"OpenPage");
}

void EndOpenPageReply(MainContext& main) {
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
  const bool same =
      firstHas == secondHas && (!firstHas || kx_wcsicmp(first.view(), second.view()) == 0);
  if (!same) return;
  context.m_comparisonDatasheet = document2;
  context.m_comparisonStatus = status2;
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// OpenPage.

HRESULT KXDBDatasheetSvcs::OpenPage(MainContext& main, const OLECHAR* request) {
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
    FindPage(main, MessageKit::ReadBareId(pageIdText.c_str(), u"the page id"), work);
    BeginOpenPageReply(main, work, pageIdText.c_str(), onDemand);
    ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, work.owner);
    ScopedCurrentPage currentPage(main.m_pApplication, work.page);
    PageLoadContext context(&main);
    KX_CHECK(ctx, WritePageContents(context, work.page, work.status, onDemand));
    EndOpenPageReply(main);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// ListPageObjects.

HRESULT KXDBDatasheetSvcs::ListPageObjects(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListPageObjects", [&](KXComException& ctx) {
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, MessageKit::ReadBareId(request, u"the page id"));
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    SortedIdArray ids;
    IKXQTemplatePtr tmpl;
    if (datasheet) tmpl = GetDatasheetTemplate(main, datasheet);
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
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
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::StartElement(main, u"Objects");
    for (int32_t i = 0; i < ids.GetCount(); ++i) {
      XMLReply::WriteElement(main, u"ObjectId", _bstr_t(Decimal(ids.GetAt(i))));
    }
    XMLReply::EndElement(main, u"Objects");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// ComparePages.

const GrammarRecord* ComparePagesSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"ComparePages", {Grammar::Integer(u"PageId", PageId),
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
  return ServeRequest(u"KXDBDatasheetSvcs::ComparePages", kSilentFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
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
  });
}

HRESULT KXDBDatasheetSvcs::ComparePages(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ComparePagesMessageParser>(main, u"KXDBDatasheetSvcs::ComparePages", request);
}
