// Templates and template pages of datasheets and pages, the classes a
// template accepts, and the projects that own documents.
#include <algorithm>
#include <deque>
#include <iterator>
#include <map>
#include <unordered_map>
#include <vector>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"
#include "model/preservederrorinfo.h"

namespace KXDBDatasheetSvcs {
HRESULT LookUpTemplatePage(IKXQApplication* application, IKXQObject* page,
                           IKXQTemplatePage** templatePage, int32_t status);
}  // namespace KXDBDatasheetSvcs

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};

bool IsPageObject(IKXQObject* object) {
  IKXQClassPtr cls;
  KXDBDatasheetSvcs::GetObjectClass(object, cls);
  if (!cls) return false;
  _bstr_t name;
  if (FAILED(cls->get_Name(name.GetAddress()))) return false;
  return _wcsicmp(name.view().empty() ? u"" : static_cast<const OLECHAR*>(name), u"Page") == 0;
}

BSTR CopyOrThrow(const OLECHAR* text) {
  BSTR copy = SysAllocString(text);
  if (copy == nullptr && text != nullptr) _com_issue_error(E_OUTOFMEMORY);
  return copy;
}

// The answers kept by the open TemplateLookupScope: by document, status and
// whether the template page was asked for, the answer's HRESULT and
// object. Each entry holds a reference to its document, so that no other
// object takes its address while the scope lives. A scope asks about one
// document and its few pages: a short list searched in turn beats a tree
// made and unmade for each document.
struct KeptLookup {
  IKXQObjectPtr document;
  int32_t status = 0;
  bool page = false;
  HRESULT hr = S_OK;
  IUnknownPtr answer;
};
using KeptLookups = std::vector<KeptLookup>;
thread_local KeptLookups* g_keptLookups = nullptr;

KeptLookup* FindEntry(IKXQObject* document, int32_t status, bool page) {
  for (KeptLookup& kept : *g_keptLookups) {
    if (kept.document.GetInterfacePtr() == document && kept.status == status && kept.page == page)
      return &kept;
  }
  return nullptr;
}

// The kept answer to the question, if any: *out receives a reference.
template <class Interface>
bool FindKept(IKXQObject* document, int32_t status, bool page, Interface** out, HRESULT* hr) {
  if (g_keptLookups == nullptr || out == nullptr) return false;
  const KeptLookup* found = FindEntry(document, status, page);
  if (found == nullptr) return false;
  *out = static_cast<Interface*>(found->answer.GetInterfacePtr());
  if (*out != nullptr) (*out)->AddRef();
  *hr = found->hr;
  return true;
}

void Keep(IKXQObject* document, int32_t status, bool page, IUnknown* answer, HRESULT hr) {
  if (g_keptLookups == nullptr || FAILED(hr) || document == nullptr) return;
  KeptLookup* kept = FindEntry(document, status, page);
  if (kept == nullptr) {
    kept = &g_keptLookups->emplace_back();
    kept->document = document;
    kept->status = status;
    kept->page = page;
  }
  kept->hr = hr;
  kept->answer = answer;
}

// The page lists kept by the open TemplateLookupScope (DocumentPages): by
// document and status, the list, its count and the pages read so far
// (entries not read yet, as `read` tells).
struct KeptPages {
  IKXQObjectPtr document;
  int32_t status = 0;
  IKXQAttributePtr list;
  int32_t count = 0;
  // One entry per page: a listing makes one such list per datasheet, most
  // of one page.
  struct Entry {
    IKXQObjectPtr page;
    bool read = false;
  };
  Entry first;
  std::vector<Entry> more;
  Entry& At(size_t at) { return at == 0 ? first : more[at - 1]; }
};
thread_local std::vector<KeptPages> t_keptPages;

// The parts kept by the open TemplatePartsScope, by template page and by
// template. Each entry holds a reference to its key, so that no other
// object takes its address while the scope lives.
struct KeptPageParts {
  IKXQTemplatePagePtr page;
  SAFEARRAY* roots = nullptr;
  bool formatRead = false;
  bool continuous = false;
  // The root nodes with their indexes (GetKeptRootNodes): made once;
  // `nodesMade` without `nodesUsable` when an element was not a node.
  bool nodesMade = false;
  bool nodesUsable = false;
  std::vector<KXDBDatasheetSvcs::RootNode> nodes;
};
struct KeptClasses {
  IKXQTemplatePtr tmpl;
  SAFEARRAY* classes = nullptr;
  bool kindRead = false;
  KXDBDatasheetSvcs::TemplateKind kind = KXDBDatasheetSvcs::TemplateKind::kOther;
  // Its pages by id as written (found or not), for FindListedTemplatePage.
  struct PageById {
    std::u16string id;
    IKXQTemplatePagePtr page;
  };
  std::vector<PageById> pagesById;
};
struct KeptTemplateParts {
  std::unordered_map<IKXQTemplatePage*, KeptPageParts> pages;
  std::unordered_map<IKXQTemplate*, KeptClasses> templates;
  // The library's current template by id as written (found or not); a
  // store has a few dozen templates at most.
  struct Current {
    std::u16string id;
    HRESULT hr = S_OK;
    IKXQTemplatePtr tmpl;
  };
  std::vector<Current> current;
  // Answers about classes: the class (held), the question, the answer.
  struct ClassAnswer {
    IKXQClassPtr cls;
    const void* question = nullptr;
    bool answer = false;
  };
  std::vector<ClassAnswer> classAnswers;
  const Current* FindCurrent(std::u16string_view id) const {
    for (const Current& kept : current)
      if (kept.id == id) return &kept;
    return nullptr;
  }
  ~KeptTemplateParts() {
    for (auto& [key, kept] : pages) SafeArrayDestroy(kept.roots);
    for (auto& [key, kept] : templates) SafeArrayDestroy(kept.classes);
  }
};
thread_local KeptTemplateParts* g_keptParts = nullptr;

KeptPageParts* KeptPartsOf(IKXQTemplatePage* templatePage) {
  if (g_keptParts == nullptr || templatePage == nullptr) return nullptr;
  KeptPageParts& kept = g_keptParts->pages[templatePage];
  if (!kept.page) kept.page = templatePage;
  return &kept;
}

// Template pages kept from one lookup to the next, by page and status: a
// setter looks its page's template page up, then the change event of the
// same call, then the next setter on the page. The lookup reads the page's
// "TemplateId", "PageId" and "Checknum" and asks the application's template
// library; an answer serves while the latest stamp of the values the lookup
// read (IKXQReadSet: a value's stamp moves with every change of the value
// and with every change that is not one of a value, templates included) is
// as it was and the application hands out the same library. One store call
// answers for all the reads. The reads are replayed into the trigger items
// and read collections open at each use, as the lookup would have made
// them. A page whose store keeps no read log keeps nothing; failures are
// not kept. Each entry holds its page, so that no other page takes its
// address; ForgetKeptTemplatePages drops them all.
constexpr size_t kMostKeptPages = 256;

struct KeptTemplatePage {
  IKXQObjectPtr page;
  IKXQTemplateLibraryPtr library;
  _com_ptr_t<IKXQReadSet> reads;
  LONGLONG stamp = 0;  // the reads' latest when the lookup ended
  HRESULT hr = S_OK;
  IKXQTemplatePagePtr answer;
};
using KeptTemplatePages = std::map<std::pair<IKXQObject*, int32_t>, KeptTemplatePage>;
thread_local KeptTemplatePages* g_keptPages = nullptr;

IKXQTemplateLibraryPtr LibraryOf(IKXQApplication* application) {
  IKXQTemplateLibraryPtr library;
  if (FAILED(application->get_TemplateLibrary(&library))) library = nullptr;
  return library;
}

// The kept answer for the page, when it still holds: *templatePage receives
// a reference.
bool FindKeptPage(IKXQApplication* application, IKXQObject* page, int32_t status,
                  IKXQTemplatePage** templatePage, HRESULT* hr) {
  if (g_keptPages == nullptr) return false;
  const auto found = g_keptPages->find({page, status});
  if (found == g_keptPages->end()) return false;
  const PreservedErrorInfo unchanged;
  const KeptTemplatePage& kept = found->second;
  LONGLONG stamp = 0;
  if (FAILED(kept.reads->get_LatestStamp(&stamp)) || stamp != kept.stamp ||
      LibraryOf(application) != kept.library || FAILED(kept.reads->Replay())) {
    g_keptPages->erase(found);
    return false;
  }
  *templatePage = kept.answer;
  if (*templatePage != nullptr) (*templatePage)->AddRef();
  *hr = kept.hr;
  return true;
}

// Looks the template page up, keeping the answer when the page's store
// keeps a read log.
HRESULT LookUpAndKeepPage(IKXQApplication* application, IKXQObject* page,
                          IKXQTemplatePage** templatePage, int32_t status) {
  _com_ptr_t<IKXQReadLog> log;
  if (page != nullptr && templatePage != nullptr) {
    const PreservedErrorInfo unchanged;
    if (SUCCEEDED(page->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log))) &&
        FAILED(log->BeginReads())) {
      log = nullptr;
    }
  }
  const HRESULT hr = KXDBDatasheetSvcs::LookUpTemplatePage(application, page, templatePage, status);
  if (!log) return hr;
  const PreservedErrorInfo unchanged;
  _com_ptr_t<IKXQReadSet> reads;
  // No template is not kept: the store answers a template text it failed
  // to read as no template, and the next lookup must try again.
  LONGLONG stamp = 0;
  if (FAILED(log->EndReads(&reads)) || !reads || FAILED(hr) || *templatePage == nullptr ||
      FAILED(reads->get_LatestStamp(&stamp))) {
    return hr;
  }
  if (g_keptPages == nullptr) g_keptPages = new KeptTemplatePages();
  if (g_keptPages->size() >= kMostKeptPages) g_keptPages->clear();
  KeptTemplatePage& kept = (*g_keptPages)[{page, status}];
  kept.page = page;
  kept.library = LibraryOf(application);
  kept.reads = reads;
  kept.stamp = stamp;
  kept.hr = hr;
  kept.answer = *templatePage;
  return hr;
}

}  // namespace

namespace KXDBDatasheetSvcs {

void ForgetKeptTemplatePages() {
  delete g_keptPages;
  g_keptPages = nullptr;
}

bool TemplateLookupsShared() { return g_keptLookups != nullptr; }

TemplatePartsScope::TemplatePartsScope() : m_outermost(g_keptParts == nullptr) {
  if (m_outermost) g_keptParts = new KeptTemplateParts();
}

TemplatePartsScope::~TemplatePartsScope() {
  if (!m_outermost) return;
  delete g_keptParts;
  g_keptParts = nullptr;
}

HRESULT GetTemplatePageRoots(IKXQTemplatePage* templatePage, SAFEARRAY** roots, bool* owned) {
  *owned = true;
  *roots = nullptr;
  KeptPageParts* kept = KeptPartsOf(templatePage);
  if (kept == nullptr) return templatePage->get_RootNodes(roots);
  if (kept->roots == nullptr) {
    SAFEARRAY* read = nullptr;
    const HRESULT hr = templatePage->get_RootNodes(&read);
    if (FAILED(hr) || read == nullptr) {
      *roots = read;
      return hr;
    }
    kept->roots = read;
  }
  *roots = kept->roots;
  *owned = false;
  return S_OK;
}

HRESULT IsTemplatePageContinuous(IKXQTemplatePage* templatePage, bool* continuous) {
  *continuous = false;
  KeptPageParts* kept = KeptPartsOf(templatePage);
  if (kept != nullptr && kept->formatRead) {
    *continuous = kept->continuous;
    return S_OK;
  }
  _bstr_t format;
  const HRESULT hr = templatePage->get_ContinuousFormat(format.GetAddress());
  if (FAILED(hr)) return hr;
  *continuous = format.length() > 0;
  if (kept != nullptr) {
    kept->continuous = *continuous;
    kept->formatRead = true;
  }
  return hr;
}

HRESULT GetTemplateClassesLent(IKXQTemplate* tmpl, SAFEARRAY** classes, bool* owned) {
  *owned = true;
  *classes = nullptr;
  if (g_keptParts == nullptr || tmpl == nullptr) return GetTemplateClasses(tmpl, classes);
  KeptClasses& kept = g_keptParts->templates[tmpl];
  if (kept.classes == nullptr) {
    SAFEARRAY* read = nullptr;
    const HRESULT hr = GetTemplateClasses(tmpl, &read);
    if (FAILED(hr) || read == nullptr) {
      *classes = read;
      return hr;
    }
    kept.tmpl = tmpl;
    kept.classes = read;
  }
  *classes = kept.classes;
  *owned = false;
  return S_OK;
}

HRESULT GetTemplateKind(IKXQTemplate* tmpl, TemplateKind* kind) {
  *kind = TemplateKind::kOther;
  KeptClasses* kept =
      g_keptParts != nullptr && tmpl != nullptr ? &g_keptParts->templates[tmpl] : nullptr;
  if (kept != nullptr && kept->kindRead) {
    *kind = kept->kind;
    return S_OK;
  }
  _bstr_t text;
  const HRESULT hr = tmpl->get_Kind(text.GetAddress());
  if (FAILED(hr)) return hr;
  const OLECHAR* const kindText = text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"";
  if (_wcsicmp(kindText, u"Datasheet") == 0) {
    *kind = TemplateKind::kDatasheet;
  } else if (_wcsicmp(kindText, u"Summary") == 0) {
    *kind = TemplateKind::kSummary;
  }
  if (kept != nullptr) {
    kept->tmpl = tmpl;
    kept->kind = *kind;
    kept->kindRead = true;
  }
  return hr;
}

bool FindKeptClassAnswer(IKXQClass* cls, const void* question, bool* answer) {
  if (g_keptParts == nullptr || cls == nullptr) return false;
  for (const auto& kept : g_keptParts->classAnswers) {
    if (kept.cls.GetInterfacePtr() == cls && kept.question == question) {
      *answer = kept.answer;
      return true;
    }
  }
  return false;
}

void KeepClassAnswer(IKXQClass* cls, const void* question, bool answer) {
  if (g_keptParts == nullptr || cls == nullptr) return;
  g_keptParts->classAnswers.push_back({IKXQClassPtr(cls), question, answer});
}

// The list is the thread's and is emptied when the scope ends: a listing
// opens a scope per document and makes no new list for each.
thread_local KeptLookups t_keptLookups;

TemplateLookupScope::TemplateLookupScope() : m_outermost(g_keptLookups == nullptr) {
  if (!m_outermost) return;
  t_keptLookups.clear();
  t_keptPages.clear();
  g_keptLookups = &t_keptLookups;
  // A failure leaves no scope open: the next one keeps its own answers.
  KXScopeGuard leaveNoScope([] {
    t_keptLookups.clear();
    g_keptLookups = nullptr;
  });
  KeepNodeObjects(true);
  leaveNoScope.Dismiss();
}

TemplateLookupScope::~TemplateLookupScope() {
  if (!m_outermost) return;
  KeepNodeObjects(false);
  t_keptPages.clear();
  t_keptLookups.clear();
  g_keptLookups = nullptr;
}

HRESULT LookUpTemplate(IKXQApplication* application, IKXQObject* document, IKXQTemplate** tmpl,
                       int32_t status);

HRESULT GetTemplate(IKXQApplication* application, IKXQObject* document, IKXQTemplate** tmpl,
                    int32_t status) {
  HRESULT kept = S_OK;
  if (application != nullptr && FindKept(document, status, false, tmpl, &kept)) return kept;
  const HRESULT hr = LookUpTemplate(application, document, tmpl, status);
  if (tmpl != nullptr) Keep(document, status, false, *tmpl, hr);
  return hr;
}

HRESULT GetTemplatePage(IKXQApplication* application, IKXQObject* page,
                        IKXQTemplatePage** templatePage, int32_t status) {
  HRESULT kept = S_OK;
  if (application != nullptr && FindKept(page, status, true, templatePage, &kept)) return kept;
  // While a TemplateLookupScope shares lookups (a listing of many pages),
  // answers are not kept from one request to the next: a shared answer
  // reads nothing, and keeping thousands would only churn the memory.
  const bool keepAcross = application != nullptr && g_keptLookups == nullptr;
  if (keepAcross && page != nullptr && templatePage != nullptr &&
      FindKeptPage(application, page, status, templatePage, &kept)) {
    return kept;
  }
  const HRESULT hr = keepAcross ? LookUpAndKeepPage(application, page, templatePage, status)
                                : LookUpTemplatePage(application, page, templatePage, status);
  if (templatePage != nullptr) Keep(page, status, true, *templatePage, hr);
  return hr;
}

HRESULT LookUpTemplate(IKXQApplication* application, IKXQObject* document, IKXQTemplate** tmpl,
                       int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, tmpl);
    *tmpl = nullptr;
    CheckPointerArgument(ctx, application);
    _bstr_t templateId;
    GetAttributeString(document, templateId, u"TemplateId", -1);
    // Whether the document is a page matters only to the error text and to
    // status copies: the current template of a document does without it.
    if (templateId.length() == 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              IsPageObject(document) ? u"Page has no recorded Template name"
                                                     : u"Datasheet has no recorded Template name");
    }
    IKXQTemplateLibraryPtr library;
    KX_CHECK(ctx, application->get_TemplateLibrary(&library));
    if (!library) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    _variant_t version;
    if (status != 1 && IsPageObject(document)) {
      _bstr_t checknum;
      GetAttributeString(document, checknum, u"Checknum", -1);
      version = checknum;
    }
    IKXQTemplatePtr found;
    HRESULT hr = S_OK;
    // The current version of an id is looked up once while a
    // TemplatePartsScope lives: every document of the template asks alike.
    const bool current = version.vt == VT_EMPTY && g_keptParts != nullptr;
    const auto* kept = current ? g_keptParts->FindCurrent(templateId.view()) : nullptr;
    if (kept != nullptr) {
      hr = kept->hr;
      found = kept->tmpl;
    } else {
      hr = library->GetTemplate(templateId, version, &found);
      KX_CHECK(ctx, hr);
      if (current) {
        g_keptParts->current.push_back({std::u16string(templateId.view()), hr, found});
      }
    }
    if (!found && status != 1) {
      // The version a status copy was made with may be gone: use the
      // current template.
      hr = library->GetTemplate(templateId, _variant_t(), &found);
      KX_CHECK(ctx, hr);
    }
    *tmpl = found.Detach();
    return hr;  // a success such as S_FALSE is answered as it is
  });
}

HRESULT LookUpTemplatePage(IKXQApplication* application, IKXQObject* page,
                           IKXQTemplatePage** templatePage, int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    *templatePage = nullptr;
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, page, &tmpl, status));
    if (!tmpl) return S_OK;
    _bstr_t pageId;
    GetAttributeString(page, pageId, u"PageId", -1);
    IKXQTemplatePagePtr found;
    KX_CHECK(ctx, tmpl->get_PageById(pageId, &found));
    *templatePage = found.Detach();
    return S_OK;
  });
}

HRESULT GetTemplateClasses(IKXQTemplate* tmpl, SAFEARRAY** classes) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, classes);
    *classes = nullptr;
    CheckPointerArgument(ctx, tmpl);
    KX_CHECK(ctx, tmpl->get_Classes(classes));
    return S_OK;
  });
}

HRESULT GetTemplatesFolder(IKXQApplication* application, BSTR* folder) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, folder);
    *folder = nullptr;
    CheckPointerArgument(ctx, application);
    IKXQTemplateLibraryPtr library;
    KX_CHECK(ctx, application->get_TemplateLibrary(&library));
    if (!library) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    KX_CHECK(ctx, library->get_TemplatesFolder(folder));
    return S_OK;
  });
}

HRESULT FindProject(IKXQProject* root, int32_t projectId, IKXQProject** project) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, project);
    *project = nullptr;
    std::deque<IKXQProjectPtr> queue;
    if (root != nullptr) queue.emplace_back(root);
    while (!queue.empty()) {
      IKXQProjectPtr current = queue.front();
      queue.pop_front();
      LONG id = 0;
      KX_CHECK(ctx, current->get_Id(&id));
      if (id == projectId) {
        *project = current.Detach();
        break;
      }
      LONG children = 0;
      KX_CHECK(ctx, current->get_ChildCount(&children));
      for (LONG i = 1; i <= children; ++i) {
        IKXQProjectPtr child;
        KX_CHECK(ctx, current->get_Child(i, &child));
        if (child) queue.push_back(child);
      }
    }
    return S_OK;
  });
}

HRESULT GetProjectName(IKXQApplication* application, IKXQObject* document, bool skipRoot,
                       BSTR* name) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, name);
    *name = nullptr;
    if (document == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    IKXQAttributePtr attribute;
    GetAttributeInterface(document, u"ProjectId", attribute);
    if (!attribute || !AttributeHasValue(attribute)) {
      *name = CopyOrThrow(u"Unknown");
      return S_OK;
    }
    const int32_t projectId = GetAttributeAsInteger(attribute);
    CheckPointerArgument(ctx, application);
    IKXQProjectPtr root;
    KX_CHECK(ctx, application->get_RootProject(&root));
    if (projectId == 1) {
      if (skipRoot || !root) return S_OK;
      KX_CHECK(ctx, root->get_Name(name));
      return S_OK;
    }
    IKXQProjectPtr project;
    KX_CHECK(ctx, FindProject(root, projectId, &project));
    _bstr_t projectName;
    if (project) KX_CHECK(ctx, project->get_Name(projectName.GetAddress()));
    *name = projectName.length() > 0 ? projectName.Detach() : CopyOrThrow(u"Unknown");
    return S_OK;
  });
}

HRESULT GetSummarySheetProject(IKXQApplication* application, IKXQObject* datasheet,
                               IKXQProject** project) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, project);
    *project = nullptr;
    VARIANT_BOOL isSummary = VARIANT_FALSE;
    KX_CHECK(ctx, IsSummarySheet(application, datasheet, &isSummary));
    IKXQAttributePtr attribute;
    GetAttributeInterface(datasheet, u"ProjectId", attribute);
    if (!attribute || !AttributeHasValue(attribute)) return S_OK;
    const int32_t projectId = GetAttributeAsInteger(attribute);
    IKXQProjectPtr root;
    KX_CHECK(ctx, application->get_RootProject(&root));
    KX_CHECK(ctx, FindProject(root, projectId, project));
    return S_OK;
  });
}

bool AttributeHasValue(IKXQAttribute* attribute) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, attribute->HasValue(_variant_t(), &has));
  return has != VARIANT_FALSE;
}

HRESULT IsClaimOnlyFilter(IKXQSchema* schema, IKXQObject* datasheet, VARIANT* filter) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, filter);
    if (!ClassHasAttribute(datasheet, u"ObjectFilter")) return S_OK;
    _bstr_t name;
    GetAttributeString(datasheet, name, u"ObjectFilter", -1);
    if (name.length() == 0) return S_OK;
    if (_wcsicmp(name, u"KX_CLAIM_ONLY") == 0) {
      KX_CHECK(ctx, VariantClear(filter));
      filter->vt = VT_BSTR;
      filter->bstrVal = name.Detach();
      return S_OK;
    }
    CheckPointerArgument(ctx, schema);
    _variant_t found;
    KX_CHECK(ctx, schema->GetObjectFilterVariant(name, &found));
    KX_CHECK(ctx, VariantClear(filter));
    *filter = found.Detach();
    return S_OK;
  });
}

bool GetKeptRootNodes(IKXQTemplatePage* templatePage, const RootNode** nodes, size_t* count,
                      bool* continuous) {
  KeptPageParts* kept = KeptPartsOf(templatePage);
  if (kept == nullptr) return false;
  if (!kept->formatRead && FAILED(IsTemplatePageContinuous(templatePage, continuous))) return false;
  *continuous = kept->continuous;
  if (!kept->nodesMade) {
    SAFEARRAY* roots = nullptr;
    bool owned = true;
    if (FAILED(GetTemplatePageRoots(templatePage, &roots, &owned)) || owned) {
      // Not kept: the caller asks the usual way, and fails as it does.
      if (owned) SafeArrayDestroy(roots);
      return false;
    }
    VariantUtil::SafeArrayVector vector(roots, false);
    kept->nodesMade = true;
    kept->nodesUsable = true;
    kept->nodes.reserve(static_cast<size_t>(vector.Count()));
    for (int32_t i = 0; i < vector.Count() && kept->nodesUsable; ++i) {
      IKXQClassView* raw = nullptr;
      LONG index = -1;
      if (FAILED(vector.GetInterfaceAt(i, &raw)) || raw == nullptr ||
          FAILED(raw->get_NodeIndex(&index))) {
        kept->nodesUsable = false;
      }
      IKXQClassViewPtr node;
      node.Attach(raw);
      kept->nodes.push_back({node, static_cast<int32_t>(index)});
    }
    if (!kept->nodesUsable) kept->nodes.clear();
  }
  if (!kept->nodesUsable) return false;
  *nodes = kept->nodes.data();
  *count = kept->nodes.size();
  return true;
}

bool FindListedTemplatePage(IKXQApplication* application, IKXQObject* page,
                            const VARIANT* templateId, const VARIANT* pageId, IKXQTemplate** tmpl,
                            IKXQTemplatePage** templatePage, SAFEARRAY** classes) {
  constexpr int32_t kStatus = 1;
  *tmpl = nullptr;
  *templatePage = nullptr;
  *classes = nullptr;
  if (g_keptParts == nullptr || application == nullptr || page == nullptr ||
      templateId == nullptr || pageId == nullptr || templateId->vt != VT_BSTR ||
      SysStringLen(templateId->bstrVal) == 0 || (pageId->vt != VT_BSTR && pageId->vt != VT_EMPTY) ||
      (g_keptLookups != nullptr &&
       (FindEntry(page, kStatus, false) != nullptr || FindEntry(page, kStatus, true) != nullptr))) {
    return false;
  }
  // The page's own template: usually its datasheet's, but not always.
  const auto* current = g_keptParts->FindCurrent(
      std::u16string_view(templateId->bstrVal, SysStringLen(templateId->bstrVal)));
  if (current == nullptr || current->hr != S_OK || !current->tmpl) return false;
  // An empty value is asked as the null text, as a read text would be.
  BSTR id = pageId->vt == VT_BSTR && SysStringLen(pageId->bstrVal) > 0 ? pageId->bstrVal : nullptr;
  const std::u16string_view idText(id != nullptr ? id : u"", SysStringLen(id));
  KeptClasses& parts = g_keptParts->templates[current->tmpl.GetInterfacePtr()];
  if (!parts.tmpl) parts.tmpl = current->tmpl;
  if (parts.classes == nullptr) {
    SAFEARRAY* lent = nullptr;
    bool owned = true;
    if (FAILED(GetTemplateClassesLent(current->tmpl, &lent, &owned)) || owned) {
      if (owned) SafeArrayDestroy(lent);
      return false;
    }
  }
  IKXQTemplatePagePtr found;
  bool known = false;
  for (const auto& kept : parts.pagesById) {
    if (kept.id == idText) {
      found = kept.page;
      known = true;
      break;
    }
  }
  if (!known) {
    if (FAILED(current->tmpl->get_PageById(id, &found))) return false;
    parts.pagesById.push_back({std::u16string(idText), found});
  }
  // The template page is what the page's later questions ask for (its
  // template is found through it).
  Keep(page, kStatus, true, found, S_OK);
  *tmpl = IKXQTemplatePtr(current->tmpl).Detach();
  *templatePage = found.Detach();
  *classes = parts.classes;
  return true;
}

}  // namespace KXDBDatasheetSvcs

namespace {
constexpr size_t kNotKept = SIZE_MAX;

// "CurrentPages" and its count as GetAttributeInterfaceAndCountByName
// reads them, without its wrappers. False when that does not go plainly:
// the caller reads them that way then, to fail as it fails.
bool ReadCurrentPages(IKXQObject* datasheet, IKXQAttributePtr& list, int32_t* count) {
  static const _bstr_t kCurrentPages(u"CurrentPages");
  VARIANT whole;
  VariantInit(&whole);
  IKXQAttributePtr read;
  LONG n = 0;
  if (FAILED(datasheet->get_Attribute(kCurrentPages, whole, &read)) || !read ||
      FAILED(read->get_Count(&n))) {
    return false;
  }
  list = read;
  *count = n;
  return true;
}
}  // namespace

DocumentPages::DocumentPages(IKXQObject* datasheet, int32_t status, bool byName)
    : m_kept(kNotKept) {
  const bool keeping = g_keptLookups != nullptr && datasheet != nullptr;
  if (keeping) {
    for (size_t i = 0; i < t_keptPages.size(); ++i) {
      const KeptPages& kept = t_keptPages[i];
      if (kept.document.GetInterfacePtr() == datasheet && kept.status == status) {
        m_kept = i;
        m_count = kept.count;
        return;
      }
    }
  }
  if (!keeping || !byName || !ReadCurrentPages(datasheet, m_list, &m_count)) {
    m_count = byName ? GetAttributeInterfaceAndCountByName(datasheet, u"CurrentPages", m_list)
                     : GetPagesAttributeByStatus(datasheet, status, m_list);
  }
  if (!keeping || m_count < 0) return;
  KeptPages& kept = t_keptPages.emplace_back();
  kept.document = datasheet;
  kept.status = status;
  kept.list = m_list;
  kept.count = m_count;
  if (m_count > 1) kept.more.resize(static_cast<size_t>(m_count) - 1);
  m_kept = t_keptPages.size() - 1;
}

DocumentPages::~DocumentPages() = default;

void DocumentPages::Page(int32_t index, IKXQObjectPtr& page) {
  if (m_kept == kNotKept || index < 1 || index > m_count) {
    GetAttributeAsObject(m_kept == kNotKept ? m_list : t_keptPages[m_kept].list, index, page);
    return;
  }
  KeptPages& kept = t_keptPages[m_kept];
  const size_t at = static_cast<size_t>(index) - 1;
  if (!kept.At(at).read) {
    // A failure is raised and not kept: the next question reads again (a
    // plain object value needs no wrapper; anything else is read as ever).
    const VARIANT position = PositionVariant(index);
    VARIANT noUnit;
    VariantInit(&noUnit);
    VARIANT value;
    VariantInit(&value);
    IKXQObject* found = nullptr;
    const bool plain = kept.list && SUCCEEDED(kept.list->GetValue(position, noUnit, &value)) &&
                       SUCCEEDED(VariantToObjectPtr(value, &found));
    VariantClear(&value);
    if (plain) {
      page.Attach(found);
    } else {
      GetAttributeAsObject(kept.list, index, page);
    }
    KeptPages::Entry& still = t_keptPages[m_kept].At(at);
    still.page = page;
    still.read = true;
    return;
  }
  page = kept.At(at).page;
}
