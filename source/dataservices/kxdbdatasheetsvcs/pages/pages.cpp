#include "pages/pages.h"

#include <algorithm>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/triggers.h"
#include "messagekit.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "pages/listtemplates.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

IKXQObjectPtr LookUp(MainContext& main, int32_t id) {
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, id);
  return object;
}

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

void TemplatePageListing::WriteReply(HostConnection& host) {
  if (m_records.empty()) return;
  XMLReply::BeginMessage(host, m_targetId.c_str(), -1);
  for (const KXClassTemplatesInfo& record : m_records) {
    // Each record writes itself, with a trace line of its own.
    KXComException ctx(u"KXClassTemplatesInfo::WriteXML");
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
      XMLReply::AddStringAttribute(host, u"TemplateId", templateId);
      if (record.object) XMLReply::AddLongAttribute(host, u"ObjectId", objectId);
      XMLReply::StartElement(host, u"Pages");
      for (LONG i = 1; i <= pages; ++i) {
        IKXQTemplatePagePtr page;
        KX_CHECK(ctx, tmpl->get_Page(i, &page));
        CheckPointerArgument(ctx, page.GetInterfacePtr());
        KX_CHECK(ctx, page->get_Id(&text));
        const _bstr_t pageId(text, false);
        KX_CHECK(ctx, page->get_Name(&text));
        const std::u16string label =
            KXDBDatasheetSvcs::TemplatePageLabel(record.object, templateName, TakeText(text), i);
        XMLReply::AddStringAttribute(host, u"TemplatePageId", pageId);
        XMLReply::AddStringAttribute(host, u"Name", _bstr_t(label));
        XMLReply::WriteElement(host, u"Page", nullptr);
      }
      XMLReply::EndElement(host, u"Pages");
    }
  }
  XMLReply::EndMessage(host);
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

HRESULT KXDBDatasheetSvcs::ListTemplatePages(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"Main::ListTemplatePages", [&](KXComException& ctx) {
    const OLECHAR* text = request ? request : u"";
    IKXQObjectPtr datasheet;
    GetStoreObject(main.m_pDatabase, datasheet, MessageKit::ReadBareId(text, u"the datasheet id"));
    const IKXQTemplatePtr tmpl = KXDBDatasheetSvcs::GetDatasheetTemplate(main, datasheet);
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
        KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, page, &pageTemplate, 1));
        if (!pageTemplate) continue;
        IKXQObjectPtr primary;
        KX_CHECK(ctx, KXDBDatasheetSvcs::GetPagePrimaryObject(main.m_pApplication, page,
                                                              pageTemplate, &primary, nullptr, 1));
        listing.AddObject(primary);
      }
      listing.ListTemplatePagesByObject(main.m_pApplication, main.m_pSchema, tmpl);
      listing.ListContinuousDatasheets(main.m_pApplication);
    } else if (IsContinuousSummary(ctx, tmpl, kind)) {
      listing.ListContinuousDatasheets(main.m_pApplication);
    } else {
      listing.ListSummaryPages(tmpl);
    }
    listing.WriteReply(main);
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
  const auto work = [&](KXComException&) {
    m_listing.InternalAddObject(m_pMain->m_pDatabase, value.integer);
    return S_OK;
  };
  return ServeRequest(u"ListTemplatePagesMessageParser::InternalAddObject", kSilentFrame, work);
}

HRESULT ListTemplatePagesMessageParser::ListTemplatePagesByObject() {
  // The handler has traced its entry; the operations below trace their own.
  const auto work = [&](KXComException&) {
    m_listing.SetTargetId(m_targetId.str());
    m_listing.ListTemplatePagesByObject(m_pMain->m_pApplication, m_pMain->m_pSchema, nullptr);
    m_listing.WriteReply(Reply());
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::ListTemplatePagesByObject", kSilentFrame, work);
}

HRESULT KXDBDatasheetSvcs::ListTemplatePagesByObject(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListTemplatePagesMessageParser>(
      main, u"KXDBDatasheetSvcs::ListTemplatePagesByObject", request);
}

// ---------------------------------------------------------------------------
// The page list and the page messages.

namespace KXDBDatasheetSvcs {

// The datasheet "TargetId" names: the one whose editors hear of the change
// and whose pages are moved or added to. Another kind of object is refused
// before anything is written.
IKXQObjectPtr GetTargetDatasheet(MainContext& main, const OLECHAR* targetId) {
  IKXQObjectPtr datasheet;
  GetObjectOfClass(main.m_pDatabase, _wtol(targetId != nullptr ? targetId : u""), {u"Datasheet"},
                   u"a datasheet", datasheet);
  return datasheet;
}

IKXQTemplatePtr GetDatasheetTemplate(MainContext& main, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, GetTemplate(main.m_pApplication, datasheet, &tmpl, 1));
  if (tmpl) return tmpl;
  _bstr_t templateId;
  GetAttributeString(datasheet, templateId, u"TemplateId", -1);
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER,
                          u"The template %ls of datasheet %d is not in the template library",
                          templateId.length() > 0 ? static_cast<const OLECHAR*>(templateId) : u"",
                          static_cast<int>(ObjectIdOf(datasheet)));
}

IKXQObjectPtr GetCurrentPage(MainContext& main, int32_t pageId, IKXQObjectPtr& datasheet) {
  KXComException ctx = KXComException::Silent();
  const IKXQObjectPtr page = LookUp(main, pageId);
  _bstr_t holder;
  if (IsObjectOfClass(page, u"Page")) {
    BSTR name = nullptr;
    KX_CHECK(ctx, page->get_HoldingAttributeName(&name));
    holder = _bstr_t(name, false);
  }
  if (holder.view() != u"CurrentPages") {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Object %d is not a current page of a datasheet", pageId);
  }
  GetOwnerObject(page, datasheet);
  return page;
}

// The object named by an anchor's "PageId"; none without an id (the page
// then goes to the end, as after an object that is no current page). An id
// that names no object fails as the store fails it.
static IKXQObjectPtr LookUpAnchor(MainContext& main, int32_t anchorPageId) {
  if (anchorPageId <= 0) return nullptr;
  return LookUp(main, anchorPageId);
}

void InsertPage(MainContext& main, const OLECHAR* targetId, int32_t objectId,
                const OLECHAR* templateId, const OLECHAR* templatePageId, InsertPagesState& state) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::InsertPages");
  const IKXQObjectPtr datasheet = GetTargetDatasheet(main, targetId);
  IKXQObjectPtr object;
  if (objectId > 0) object = LookUp(main, objectId);
  IKXQAttributePtr defaultCase;
  GetAttributeInterface(datasheet, u"DefaultCase", defaultCase);
  const int32_t caseId = defaultCase ? GetAttributeAsInteger(defaultCase) : 0;

  CheckPointerArgument(ctx, main.m_pApplication);
  IKXQTemplateLibraryPtr library;
  KX_CHECK(ctx, main.m_pApplication->get_TemplateLibrary(&library));
  CheckPointerArgument(ctx, library.GetInterfacePtr());
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, library->GetTemplate(_bstr_t(templateId), _variant_t(), &tmpl));
  CheckPointerArgument(ctx, tmpl.GetInterfacePtr(), u"Unable to find template %ls",
                       templateId != nullptr ? templateId : u"");
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, tmpl->get_PageById(_bstr_t(templatePageId), &templatePage));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr(), u"Unable to find template page %ls",
                       templatePageId != nullptr ? templatePageId : u"");
  BSTR format = nullptr;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
  const bool continuous = _bstr_t(format, false).length() > 0;

  if (kx_wcsicmp(GetKind(ctx, GetDatasheetTemplate(main, datasheet)), u"Summary") == 0) {
    // One alert per request: a reply holds one message.
    if (!state.alerted) {
      XMLReply::BeginMessage(main, u"App", -1);
      XMLReply::WriteMessage(main, u"ALERT", -1,
                             _bstr_t(u"Pages cannot be added to summary sheets."));
      XMLReply::EndMessage(main);
      state.alerted = true;
    }
    return;
  }

  // The object goes onto the page's first node: one of another class (a
  // page, a document) would make a page of nothing. A node that names no
  // class takes any object.
  if (!continuous && object) {
    IKXQClassViewPtr root;
    KX_CHECK(ctx, templatePage->get_RootView(&root));
    SAFEARRAY* raw = nullptr;
    if (root) KX_CHECK(ctx, root->GetAttachedClasses(0, &raw));
    const VariantUtil::SafeArrayVector classes(raw, true);
    VARIANT_BOOL accepts = VARIANT_TRUE;
    if (classes.Count() > 0) {
      IKXQClassPtr cls;
      GetObjectClass(object, cls);
      KX_CHECK(ctx, root->AcceptsClass(_variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr())),
                                       nullptr, &accepts));
    }
    if (accepts == VARIANT_FALSE) {
      const std::u16string expected =
          u"an object of template page " +
          std::u16string(templatePageId != nullptr ? templatePageId : u"");
      RefuseObjectClass(object, objectId, expected.c_str());
    }
  }

  IKXQObjectPtr page;
  KX_CHECK(ctx, templatePage->CreatePage(datasheet, continuous ? nullptr : object.GetInterfacePtr(),
                                         caseId, 1, &page));
  CheckPointerArgument(ctx, page.GetInterfacePtr());
  if (continuous) {
    KX_CHECK(ctx, AddObjectsToNewPage(main, page, tmpl, templatePage));
    if (ClassHasAttribute(datasheet, u"HasSummary"))
      SetAttributeLong(datasheet, u"HasSummary", 1, -1);
  }
  KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page));

  if (!state.anchorFound) {
    state.anchor = LookUpAnchor(main, state.anchorPageId);
    state.anchorFound = true;
  }
  if (state.placedFirst) {
    state.datasheet = datasheet;
    state.later.Place(page, state.anchor, state.before);
  } else {
    // A new page stands in no list yet: anchored to itself it goes to the
    // end, as a later page does, rather than nowhere.
    const bool itself = state.anchor.GetInterfacePtr() == page.GetInterfacePtr();
    RenumberPages(datasheet, page, itself ? nullptr : state.anchor.GetInterfacePtr(), state.before);
    state.placedFirst = true;
  }
  if (!state.before) {
    LONG id = 0;
    KX_CHECK(ctx, page->get_Id(&id));
    state.anchorPageId = id;
    state.anchor = page;
  }

  IKXQAttributePtr count;
  GetAttributeInterface(datasheet, u"NumberOfPages", count);
  SetAttributeLong(datasheet, u"NumberOfPages", (count ? GetAttributeAsInteger(count) : 0) + 1, -1);
}

void PlaceInsertedPages(InsertPagesState& state) { state.later.Write(state.datasheet); }

void DeleteRequestedPage(MainContext& main, const OLECHAR* request) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::DeletePage");
  IKXQObjectPtr datasheet;
  const IKXQObjectPtr page =
      GetCurrentPage(main, MessageKit::ReadBareId(request, u"the page id"), datasheet);
  const int32_t deleted = PageNumberOf(page);
  KX_CHECK(ctx, page->Delete());
  if (!datasheet) return;
  IKXQAttributePtr count;
  GetAttributeInterface(datasheet, u"NumberOfPages", count);
  SetAttributeLong(datasheet, u"NumberOfPages", (count ? GetAttributeAsInteger(count) : 0) - 1, -1);
  ForEachCurrentPage(datasheet, [&](IKXQObject* other) {
    const int32_t number = PageNumberOf(other);
    if (number > deleted) SetPageNumber(other, number - 1);
  });
  KX_CHECK(ctx, main.LaunchDatasheetEvent(datasheet, 1));
}

void SetAttributeBoolByName(IKXQObject* page, const OLECHAR* name, bool value, int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(page, name, attribute, selector);
  CheckPointerArgument(ctx, attribute.GetInterfacePtr(), u"The page has no attribute %ls", name);
  VARIANT flag;
  flag.vt = VT_BOOL;
  flag.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  KX_CHECK(ctx, attribute->PutValue(_variant_t(), _variant_t(), flag));
}

void SetAttributeRealByName(IKXQObject* page, const OLECHAR* name, double value, int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(page, name, attribute, selector);
  CheckPointerArgument(ctx, attribute.GetInterfacePtr(), u"The page has no attribute %ls", name);
  KX_CHECK(ctx, attribute->PutValue(_variant_t(), _variant_t(), _variant_t(value)));
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// Grammars, parsers, workers and handlers.

namespace {

using namespace KXDBDatasheetSvcs;

// A worker's frame: failures come back as HRESULTs with the thread's
// "<KXError" description; nothing is thrown into the parser.
template <class Work>
HRESULT RunPageWorker(const OLECHAR* name, Work&& work) {
  return ServeRequest(name, kSilentFrame, [&](KXComException& ctx) {
    work(ctx);
    return S_OK;
  });
}

void LaunchTargetEvent(KXComException& ctx, MainContext& main, const SAXText& targetId) {
  const IKXQObjectPtr datasheet = GetTargetDatasheet(main, targetId.c_str());
  KX_CHECK(ctx, main.LaunchDatasheetEvent(datasheet, 1));
}

}  // namespace

// ---- InsertPages ----

const GrammarRecord* InsertPagesSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(TargetId, Status),
                     Grammar::Element(u"InsertPages", 1,
                                      {Grammar::Integer(u"PageId", PageId),
                                       Grammar::Boolean(u"Before", Before), Grammar::Child(Page)}),
                     Grammar::Element(u"Page", Page,
                                      {Grammar::Integer(u"ObjectId", ObjectId),
                                       Grammar::String(u"TemplateId", TemplateId),
                                       Grammar::String(u"TemplatePageId", TemplatePageId)}));
  return kGrammar.data();
}

HRESULT InsertPagesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_state.anchorPageId, value);
    case Before: return Store(m_state.before, value);
    case ObjectId: return Store(m_objectId, value);
    case TemplateId: return Store(m_templateId, value);
    case TemplatePageId: return Store(m_templatePageId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT InsertPagesMessageParser::WorkChild(uint32_t element) {
  if (element != Page) return E_INVALIDARG;
  // A failure ends the request as it is: its store transaction takes back
  // what the request changed.
  const HRESULT hr = InsertPage();
  m_objectId = -1;  // the next "Page" starts afresh
  m_templateId.Reset();
  m_templatePageId.Reset();
  return hr;
}

HRESULT InsertPagesMessageParser::EndElement(uint32_t id) {
  if (id != 0) return InsertPagesSchema::EndElement(id);
  return InsertPagesPlaced();
}

void InsertPagesMessageParser::ForgetEntries() {
  m_state.anchorFound = false;
  m_state.anchor = nullptr;
}

HRESULT InsertPagesMessageParser::InsertPage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::InsertPages", [&](KXComException&) {
    KXDBDatasheetSvcs::InsertPage(*m_pMain, m_targetId.c_str(), m_objectId, m_templateId.c_str(),
                                  m_templatePageId.c_str(), m_state);
  });
}

HRESULT InsertPagesMessageParser::InsertPagesDone() {
  return RunPageWorker(u"KXDBDatasheetSvcs::InsertPages",
                       [&](KXComException& ctx) { LaunchTargetEvent(ctx, *m_pMain, m_targetId); });
}

HRESULT InsertPagesMessageParser::InsertPagesPlaced() {
  return RunPageWorker(u"KXDBDatasheetSvcs::InsertPages",
                       [&](KXComException&) { KXDBDatasheetSvcs::PlaceInsertedPages(m_state); });
}

HRESULT KXDBDatasheetSvcs::InsertPages(MainContext& main, const OLECHAR* request) {
  return ServeMessage<InsertPagesMessageParser>(main, u"KXDBDatasheetSvcs::InsertPages", request);
}

// ---- DeletePage ----

HRESULT KXDBDatasheetSvcs::DeletePage(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::DeletePage", [&](KXComException&) {
    KXDBDatasheetSvcs::DeleteRequestedPage(main, request);
    return S_OK;
  });
}

// ---- RenamePage ----

const GrammarRecord* RenamePageSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"RenamePage", {Grammar::Integer(u"PageId", PageId), Grammar::String(u"Name", Name)});
  return kGrammar.data();
}

HRESULT RenamePageMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case Name: return Store(m_name, value);
    default: return E_INVALIDARG;
  }
}

HRESULT RenamePageMessageParser::RenamePage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::RenamePage", [&](KXComException& ctx) {
    IKXQObjectPtr owner;
    const IKXQObjectPtr page = GetCurrentPage(*m_pMain, m_pageId, owner);
    const IKXQObjectPtr datasheet = GetTargetDatasheet(*m_pMain, m_targetId.c_str());
    IKXQAttributePtr name;
    GetAttributeInterfaceAt(page, u"Name", name, -1);
    SetAttributeString(name, m_name.c_str() != nullptr ? m_name.c_str() : u"");
    KX_CHECK(ctx, m_pMain->LaunchDatasheetEvent(datasheet, 1));
  });
}

HRESULT KXDBDatasheetSvcs::RenamePage(MainContext& main, const OLECHAR* request) {
  return ServeMessage<RenamePageMessageParser>(main, u"KXDBDatasheetSvcs::RenamePage", request);
}

// ---- MovePage ----

const GrammarRecord* MovePageSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"MovePage", {Grammar::Integer(u"MovePageId", MovePageId),
                    Grammar::Integer(u"PageId", PageId), Grammar::Boolean(u"Before", Before)});
  return kGrammar.data();
}

HRESULT MovePageMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case MovePageId: return Store(m_movePageId, value);
    case PageId: return Store(m_anchorPageId, value);
    case Before: return Store(m_before, value);
    default: return E_INVALIDARG;
  }
}

HRESULT MovePageMessageParser::MovePage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::MovePage", [&](KXComException& ctx) {
    const IKXQObjectPtr datasheet = GetTargetDatasheet(*m_pMain, m_targetId.c_str());
    IKXQObjectPtr owner;
    const IKXQObjectPtr page = GetCurrentPage(*m_pMain, m_movePageId, owner);
    // A page of another datasheet must not join this one's list.
    if (owner.GetInterfacePtr() != datasheet.GetInterfacePtr()) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Page %d is not a current page of datasheet %ls", m_movePageId,
                              m_targetId.c_str() != nullptr ? m_targetId.c_str() : u"");
    }
    const IKXQObjectPtr anchor = LookUpAnchor(*m_pMain, m_anchorPageId);
    RenumberPages(datasheet, page, anchor, m_before);
    KX_CHECK(ctx, m_pMain->LaunchDatasheetEvent(datasheet, 1));
  });
}

HRESULT KXDBDatasheetSvcs::MovePage(MainContext& main, const OLECHAR* request) {
  return ServeMessage<MovePageMessageParser>(main, u"KXDBDatasheetSvcs::MovePage", request);
}

// ---- SetPageCase ----

const GrammarRecord* SetPageCaseSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetPageCase", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"CaseId", CaseId)});
  return kGrammar.data();
}

HRESULT SetPageCaseMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case CaseId: return Store(m_caseId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetPageCaseMessageParser::SetPageCase() {
  return RunPageWorker(u"KXDBDatasheetSvcs::SetPageCase", [&](KXComException& ctx) {
    IKXQObjectPtr datasheet;
    const IKXQObjectPtr page = GetCurrentPage(*m_pMain, m_pageId, datasheet);
    RequireCaseId(*m_pMain, m_caseId);
    IKXQAttributePtr cases;
    GetAttributeInterface(page, u"Cases", cases);
    CheckPointerArgument(ctx, cases.GetInterfacePtr());
    bool present = false;
    if (GetAttributeIntegerAt(cases, 1, &present) == m_caseId && present) return;
    KX_CHECK(ctx, SetCaseAt(page, 0, m_caseId));
    KX_CHECK(ctx, m_pMain->LaunchPageEvent(page, 1));
  });
}

HRESULT KXDBDatasheetSvcs::SetPageCase(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetPageCaseMessageParser>(main, u"KXDBDatasheetSvcs::SetPageCase", request);
}

// ---- PageLayout ----

const GrammarRecord* PageLayoutSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"PageLayout",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"Orientation", Orientation),
       Grammar::Integer(u"ScaleMode", ScaleMode), Grammar::Real(u"ScaleFactor", ScaleFactor),
       Grammar::Boolean(u"CenterHorizontal", CenterHorizontal),
       Grammar::Boolean(u"CenterVertical", CenterVertical),
       Grammar::Integer(u"TopMargin", TopMargin), Grammar::Integer(u"LeftMargin", LeftMargin),
       Grammar::Integer(u"BottomMargin", BottomMargin),
       Grammar::Integer(u"RightMargin", RightMargin), Grammar::Integer(u"PaperSize", PaperSize),
       Grammar::Integer(u"PaperWidth", PaperWidth), Grammar::Integer(u"PaperLength", PaperLength),
       Grammar::Integer(u"PaperSource", PaperSource)});
  return kGrammar.data();
}

HRESULT PageLayoutMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  static constexpr const OLECHAR* kNames[] = {
      u"Orientation", u"ScaleMode",   u"ScaleFactor",  u"CenterHorizontal", u"CenterVertical",
      u"TopMargin",   u"LeftMargin",  u"BottomMargin", u"RightMargin",      u"PaperSize",
      u"PaperWidth",  u"PaperLength", u"PaperSource"};
  if (id < PageId || id > PaperSource) return E_INVALIDARG;
  return RunPageWorker(u"KXDBDatasheetSvcs::PageLayout", [&](KXComException&) {
    if (id == PageId) {
      IKXQObjectPtr owner;
      m_page = GetCurrentPage(*m_pMain, value.integer, owner);
      // The event goes to "TargetId" at the end: a wrong kind is refused
      // before the first value is written.
      (void)GetTargetDatasheet(*m_pMain, m_targetId.c_str());
      return;
    }
    if (!m_page) return;
    const OLECHAR* name = kNames[id - Orientation];
    if (id == ScaleFactor) {
      SetAttributeRealByName(m_page, name, value.real, -1);
    } else if (id == CenterHorizontal || id == CenterVertical) {
      SetAttributeBoolByName(m_page, name, value.boolean != 0, -1);
    } else {
      SetAttributeLong(m_page, name, value.integer, -1);
    }
  });
}

HRESULT PageLayoutMessageParser::PageLayoutDone() {
  return RunPageWorker(u"KXDBDatasheetSvcs::PageLayout",
                       [&](KXComException& ctx) { LaunchTargetEvent(ctx, *m_pMain, m_targetId); });
}

HRESULT KXDBDatasheetSvcs::PageLayout(MainContext& main, const OLECHAR* request) {
  return ServeMessage<PageLayoutMessageParser>(main, u"KXDBDatasheetSvcs::PageLayout", request);
}
