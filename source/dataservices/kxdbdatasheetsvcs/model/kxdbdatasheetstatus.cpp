// Document statuses: the page set and schematic of each status, status
// copies of pages, and status-decorated names.
#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"
#include "model/preservederrorinfo.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};

// What the open CaseNameScope keeps: case names by database and number,
// and whether a class is (or derives from) "Datasheet".
struct KeptCaseName {
  IKXQDatabasePtr database;
  int32_t number = 0;
  _bstr_t name;
};
struct KeptDatasheetClass {
  IKXQClassPtr cls;
  bool datasheet = false;
};
// Cases and datasheet classes are few: a fixed room, nothing allocated; a
// name stays in place while it is lent. Those past the room are asked each
// time.
struct KeptCaseNames {
  static constexpr size_t kRoom = 8;
  KeptCaseName names[kRoom];
  size_t nameCount = 0;
  KeptDatasheetClass classes[kRoom];
  size_t classCount = 0;
  void clear() {
    for (size_t i = 0; i < nameCount; ++i) names[i] = KeptCaseName{};
    for (size_t i = 0; i < classCount; ++i) classes[i] = KeptDatasheetClass{};
    nameCount = classCount = 0;
  }
};
thread_local KeptCaseNames t_keptCaseNames;
thread_local KeptCaseNames* t_openCaseNames = nullptr;

// The case's name as get_CaseName gives it, asked once per case while a
// scope is open.
// *lent is the kept name (name is left alone then), else null.
HRESULT CaseNameOf(IKXQDatabase* database, int32_t number, _bstr_t& name, const _bstr_t** lent) {
  *lent = nullptr;
  KeptCaseNames* kept = t_openCaseNames;
  if (kept != nullptr) {
    for (size_t i = 0; i < kept->nameCount; ++i) {
      const KeptCaseName& known = kept->names[i];
      if (known.number == number && known.database.GetInterfacePtr() == database) {
        *lent = &known.name;
        return S_OK;
      }
    }
  }
  const HRESULT hr = database->get_CaseName(number, name.GetAddress());
  if (SUCCEEDED(hr) && kept != nullptr && kept->nameCount < KeptCaseNames::kRoom) {
    KeptCaseName& made = kept->names[kept->nameCount++];
    made = KeptCaseName{database, number, name};
    *lent = &made.name;
  }
  return hr;
}

// Whether the document is of class "Datasheet" or one derived from it,
// answered once per class while a scope is open.
bool IsDatasheetObject(IKXQObject* document) {
  KeptCaseNames* kept = t_openCaseNames;
  IKXQClassPtr cls;
  if (kept == nullptr || document == nullptr || FAILED(document->get_Class(&cls)) || !cls) {
    return KXDBDatasheetSvcs::IsObjectOfClass(document, u"Datasheet");
  }
  for (size_t i = 0; i < kept->classCount; ++i) {
    const KeptDatasheetClass& known = kept->classes[i];
    if (known.cls.GetInterfacePtr() == cls.GetInterfacePtr()) return known.datasheet;
  }
  const bool datasheet = KXDBDatasheetSvcs::IsObjectOfClass(document, u"Datasheet");
  if (kept->classCount < KeptCaseNames::kRoom)
    kept->classes[kept->classCount++] = KeptDatasheetClass{cls, datasheet};
  return datasheet;
}

const OLECHAR* PagesAttributeName(int32_t status) {
  switch (status) {
    case 1: return u"CurrentPages";
    case 2: return u"SubmittedPages";
    case 3: return u"CheckedPages";
    case 4: return u"IssuedPages";
    default: return nullptr;
  }
}

const OLECHAR* SchematicAttributeName(int32_t status) {
  switch (status) {
    case 1: return u"CurrentSchematic";
    case 2: return u"SubmittedSchematic";
    case 3: return u"CheckedSchematic";
    case 4: return u"IssuedSchematic";
    default: return nullptr;
  }
}

const OLECHAR* StatusPrefix(int32_t status) {
  switch (status) {
    case 2: return u"[Submitted] ";
    case 3: return u"[Checked] ";
    case 4: return u"[Issued] ";
    default: return u"";
  }
}

// Exact comparison of two texts, null equal to empty.
bool SameText(const _bstr_t& a, const _bstr_t& b) { return a.view() == b.view(); }

// The issued copies of a few datasheets' current pages, kept from one
// lookup to the next: delivering the page events of an issued datasheet, or
// loading its pages, asks for the issued copy of each page, and each answer
// would scan the whole "IssuedPages" list again. An index serves while the
// store's change count (IKXQReadLog) is the one it was made under, so it
// answers what the scan would. It is made at the second question under one
// count: a worker that changes the store between its questions scans as
// before and makes nothing it cannot use. A store that keeps no change
// count, and a list that cannot be read whole, keep nothing. The reads the
// scan would make are not made again; no caller asks inside a trigger item
// or a read collection. Each entry holds its datasheet and the pages, so
// that no other object takes their addresses; ForgetKeptIssuedPages drops
// them all.
constexpr size_t kMostKeptIssuedSets = 8;

struct KeptIssuedPages {
  IKXQObjectPtr datasheet;
  LONG changes = 0;
  bool made = false;  // asked once under `changes`, not indexed yet
  // The first issued page (in list order) whose "ActivePage" is the key.
  std::unordered_map<IKXQObject*, IKXQObjectPtr> issuedOf;
  std::vector<IKXQObjectPtr> origins;  // the keys, held
};
using KeptIssuedSets = std::map<IKXQObject*, KeptIssuedPages>;
thread_local KeptIssuedSets* g_keptIssued = nullptr;

bool ChangeCountOf(IKXQObject* object, LONG* count) {
  _com_ptr_t<IKXQReadLog> log;
  return SUCCEEDED(
             object->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log))) &&
         log && SUCCEEDED(log->get_ChangeCount(count));
}

// What GetActivePage reads, failures answered instead of thrown.
HRESULT ReadActivePage(IKXQObject* page, IKXQObjectPtr& active) {
  active = nullptr;
  IKXQAttributePtr attribute;
  HRESULT hr = page->get_Attribute(AttributeNameText(u"ActivePage"), _variant_t(), &attribute);
  if (FAILED(hr) || !attribute) return hr;
  _variant_t value;
  hr = attribute->GetValue(_variant_t(), _variant_t(), &value);
  if (FAILED(hr)) return hr;
  return VariantToObjectPtr(value, &active);
}

// Indexes every page of the datasheet's "IssuedPages" by its "ActivePage";
// false when a read fails (the scan then meets the failure, or not, as it
// always did).
bool IndexIssuedPages(IKXQObject* datasheet, KeptIssuedPages& kept) {
  const PreservedErrorInfo unchanged;
  IKXQAttributePtr issued;
  HRESULT hr = datasheet->get_Attribute(AttributeNameText(u"IssuedPages"), _variant_t(), &issued);
  LONG count = 0;
  if (FAILED(hr) || !issued || FAILED(issued->get_Count(&count))) return false;
  for (LONG i = 1; i <= count; ++i) {
    _variant_t value;
    IKXQObjectPtr candidate;
    if (FAILED(issued->GetValue(_variant_t(static_cast<int>(i), VT_I4), _variant_t(), &value)) ||
        FAILED(VariantToObjectPtr(value, &candidate))) {
      return false;
    }
    if (!candidate) continue;
    IKXQObjectPtr origin;
    if (FAILED(ReadActivePage(candidate, origin))) return false;
    if (!origin) continue;
    if (kept.issuedOf.try_emplace(origin.GetInterfacePtr(), candidate).second) {
      kept.origins.push_back(origin);
    }
  }
  return true;
}

// The indexes of the IssuedPagesScopes alive, innermost last.
struct PinnedIssuedPages {
  IKXQObject* datasheet = nullptr;
  bool tried = false;  // the index was made, or failed to be
  bool made = false;
  KeptIssuedPages kept;
};
thread_local std::vector<PinnedIssuedPages*> g_pinnedIssued;

// The answer of the innermost scope pinning `datasheet`; false when none
// does or its index could not be made.
bool FindPinnedIssuedPage(IKXQObject* datasheet, IKXQObject* current, IKXQObject** issuedPage) {
  for (auto it = g_pinnedIssued.rbegin(); it != g_pinnedIssued.rend(); ++it) {
    PinnedIssuedPages& pinned = **it;
    if (pinned.datasheet != datasheet) continue;
    if (!pinned.tried) {
      pinned.tried = true;
      pinned.made = IndexIssuedPages(datasheet, pinned.kept);
    }
    if (!pinned.made) return false;
    const auto issued = pinned.kept.issuedOf.find(current);
    IKXQObjectPtr answer;
    if (issued != pinned.kept.issuedOf.end()) answer = issued->second;
    *issuedPage = answer.Detach();
    return true;
  }
  return false;
}

// The kept answer for `current`, a page of `datasheet`: true with
// *issuedPage set (a reference, or null) when the index answers; false when
// the caller scans.
bool FindKeptIssuedPage(IKXQObject* datasheet, IKXQObject* current, IKXQObject** issuedPage) {
  if (FindPinnedIssuedPage(datasheet, current, issuedPage)) return true;
  LONG changes = 0;
  {
    const PreservedErrorInfo unchanged;
    if (!ChangeCountOf(datasheet, &changes)) return false;
  }
  if (g_keptIssued == nullptr) g_keptIssued = new KeptIssuedSets();
  auto found = g_keptIssued->find(datasheet);
  if (found == g_keptIssued->end() || found->second.changes != changes) {
    if (found == g_keptIssued->end()) {
      if (g_keptIssued->size() >= kMostKeptIssuedSets) g_keptIssued->clear();
      found = g_keptIssued->try_emplace(datasheet).first;
      found->second.datasheet = datasheet;
    }
    KeptIssuedPages& kept = found->second;
    kept.changes = changes;
    kept.made = false;
    kept.issuedOf.clear();
    kept.origins.clear();
    return false;
  }
  KeptIssuedPages& kept = found->second;
  if (!kept.made) {
    if (!IndexIssuedPages(datasheet, kept)) {
      g_keptIssued->erase(found);
      return false;
    }
    kept.made = true;
  }
  const auto issued = kept.issuedOf.find(current);
  IKXQObjectPtr answer;
  if (issued != kept.issuedOf.end()) answer = issued->second;
  *issuedPage = answer.Detach();
  return true;
}

}  // namespace

int32_t GetPagesByStatus(IKXQObject* datasheet, int32_t status, REFIID iid, void** out) {
  KXComException ctx(u"GetPagesByStatus", 1);
  if (out != nullptr) *out = nullptr;
  const OLECHAR* name = PagesAttributeName(status);
  if (name == nullptr)
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Invalid status");
  CheckPointerArgument(ctx, datasheet);
  CheckPointerArgument(ctx, out);
  IKXQAttributePtr attribute;
  KX_CHECK(ctx, datasheet->get_Attribute(AttributeNameText(name), _variant_t(), &attribute));
  if (!attribute) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  KX_CHECK(ctx, attribute->QueryInterface(iid, out));
  LONG count = 0;
  KX_CHECK(ctx, attribute->get_Count(&count));
  return count;
}

int32_t GetPagesAttributeByStatus(IKXQObject* datasheet, int32_t status, IKXQAttributePtr& pages) {
  pages = nullptr;
  IKXQAttribute* attribute = nullptr;
  const int32_t count =
      GetPagesByStatus(datasheet, status, IID_IKXQAttribute, reinterpret_cast<void**>(&attribute));
  pages.Attach(attribute);
  return count;
}

void ClearAttributeValue(IKXQAttribute* attribute, const VARIANT& index) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  KX_CHECK(ctx, attribute->Clear(index));
}

namespace KXDBDatasheetSvcs {

HRESULT GetSchematicByStatus(IKXQObject* diagram, int32_t status, IKXQObject** schematic) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, schematic);
    *schematic = nullptr;
    const OLECHAR* name = SchematicAttributeName(status);
    if (name == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The status of the diagram is invalid");
    }
    IKXQAttributePtr attribute;
    GetAttributeInterface(diagram, name, attribute);
    IKXQObjectPtr value;
    if (attribute) GetAttributeObject(attribute, value);
    if (!value) {
      _bstr_t diagramName;
      GetObjectName(diagram, diagramName, false);
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Diagram %ls has no schematic representation",
                              static_cast<const OLECHAR*>(diagramName));
    }
    *schematic = value.Detach();
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::GetSchematicByStatus",
                      FrameOptions{.file = kFile, .severity = 0}, work);
}

HRESULT GetActivePage(IKXQObject* page, IKXQObject** activePage) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, activePage);
    *activePage = nullptr;
    if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    IKXQAttributePtr attribute;
    GetAttributeInterface(page, u"ActivePage", attribute);
    IKXQObjectPtr value;
    if (attribute) GetAttributeObject(attribute, value);
    *activePage = value.Detach();
    return S_OK;
  });
}

HRESULT GetIssuedPage(IKXQObject* page, int32_t status, IKXQObject** issuedPage) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, issuedPage);
    *issuedPage = nullptr;
    IKXQObjectPtr current;
    if (status == 1) {
      current = page;
    } else if (status == 2 || status == 3) {
      KX_CHECK(ctx, GetActivePage(page, &current));
    } else {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, nullptr);
    }
    if (!current) return S_OK;
    IKXQObjectPtr datasheet;
    GetOwnerObject(current, datasheet);
    if (!datasheet) return S_OK;
    if (FindKeptIssuedPage(datasheet, current, issuedPage)) return S_OK;
    IKXQAttributePtr issued;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 4, issued);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr candidate;
      GetAttributeAsObject(issued, i, candidate);
      if (!candidate) continue;
      IKXQObjectPtr origin;
      KX_CHECK(ctx, GetActivePage(candidate, &origin));
      if (origin.GetInterfacePtr() == current.GetInterfacePtr()) {
        *issuedPage = candidate.Detach();
        break;
      }
    }
    return S_OK;
  });
}

void ForgetKeptIssuedPages() {
  delete g_keptIssued;
  g_keptIssued = nullptr;
}

struct IssuedPagesScope::Pinned {
  PinnedIssuedPages pages;
};

IssuedPagesScope::IssuedPagesScope(IKXQObject* datasheet)
    : m_pinned(std::make_unique<Pinned>()), m_datasheet(datasheet) {
  m_pinned->pages.datasheet = datasheet;
  g_pinnedIssued.push_back(&m_pinned->pages);
}

IssuedPagesScope::~IssuedPagesScope() {
  const auto at = std::find(g_pinnedIssued.begin(), g_pinnedIssued.end(), &m_pinned->pages);
  if (at != g_pinnedIssued.end()) g_pinnedIssued.erase(at);
}

HRESULT FindPageInStatusSet(IKXQObject* page, IKXQObject* datasheet, int32_t status,
                            IKXQObject** found) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, found);
    *found = nullptr;
    if (datasheet == nullptr) return S_OK;
    _bstr_t pageId;
    _bstr_t checknum;
    IKXQAttributePtr attribute;
    GetAttributeString(page, pageId, u"PageId", 0);
    GetAttributeString(page, checknum, u"Checknum", 0);
    GetAttributeInterfaceAt(page, u"PageNumber", attribute, 0);
    const int32_t number = GetAttributeAsInteger(attribute);
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, status, pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr candidate;
      GetAttributeAsObject(pages, i, candidate);
      if (!candidate) continue;
      _bstr_t candidateId;
      _bstr_t candidateChecknum;
      GetAttributeString(candidate, candidateId, u"PageId", 0);
      GetAttributeString(candidate, candidateChecknum, u"Checknum", 0);
      GetAttributeInterfaceAt(candidate, u"PageNumber", attribute, 0);
      if (SameText(candidateChecknum, checknum) && SameText(candidateId, pageId) &&
          GetAttributeAsInteger(attribute) == number) {
        *found = candidate.Detach();
        break;
      }
    }
    return S_OK;
  });
}

const OLECHAR* GetCaseNameLent(IKXQApplication* application, IKXQObject* document, int32_t status,
                               _bstr_t& name) {
  name = _bstr_t();
  // The name kept by the open scope, lent rather than copied.
  const _bstr_t* kept = nullptr;
  const HRESULT hr = ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    // Asked for every datasheet of a listing: read in one store call where
    // the store answers so.
    VARIANT whole;
    VariantInit(&whole);
    int32_t defaultCase = 0;
    if (!ReadIntegerByName(document, u"DefaultCase", whole, &defaultCase)) {
      IKXQAttributePtr attribute;
      GetAttributeInterfaceAt(document, u"DefaultCase", attribute, -1);
      defaultCase = attribute ? GetAttributeAsInteger(attribute) : 0;
    }
    if (application == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    IKXQDatabasePtr database;
    KX_CHECK(ctx, application->get_Database(&database));
    if (!database) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    KX_CHECK(ctx, CaseNameOf(database, defaultCase, name, &kept));
    const size_t length = kept != nullptr ? kept->length() : name.length();
    if (length > 0 && IsDatasheetObject(document)) {
      DocumentPages pages(document, status);
      const int32_t count = pages.Count();
      for (int32_t i = 1; i <= count; ++i) {
        IKXQObjectPtr page;
        pages.Page(i, page);
        if (!page) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
        VARIANT first;
        VariantInit(&first);
        first.vt = VT_I4;
        first.lVal = 1;
        int32_t pageCase = 0;
        if (!ReadIntegerByName(page, u"Cases", first, &pageCase)) {
          IKXQAttributePtr cases;
          GetAttributeInterface(page, u"Cases", cases);
          pageCase = cases ? GetAttributeIntegerAt(cases, 1) : 0;
        }
        if (pageCase != defaultCase) {
          kept = nullptr;
          name = u"<Varies>";
          break;
        }
      }
    }
    return S_OK;
  });
  if (FAILED(hr)) {
    // The case name is for display only: a store failure gives "<Unknown>".
    ClearThreadErrorInfo();
    kept = nullptr;
    name = _bstr_t();
  }
  if (kept != nullptr && kept->length() > 0) return *kept;
  if (kept == nullptr && name.length() > 0) return name;
  name = u"<Unknown>";
  return name;
}

_bstr_t GetCaseName(IKXQApplication* application, IKXQObject* document, int32_t status) {
  _bstr_t name;
  const OLECHAR* text = GetCaseNameLent(application, document, status, name);
  if (text != static_cast<const OLECHAR*>(name)) name = text;
  return name;
}

CaseNameScope::CaseNameScope() : m_outermost(t_openCaseNames == nullptr) {
  if (!m_outermost) return;
  t_keptCaseNames.clear();
  t_openCaseNames = &t_keptCaseNames;
}

CaseNameScope::~CaseNameScope() {
  if (!m_outermost) return;
  t_openCaseNames = nullptr;
  t_keptCaseNames.clear();
}

HRESULT DecorateNameWithStatus(IKXQApplication* application, IKXQObject* document,
                               const OLECHAR* name, int32_t status, BSTR* decorated) {
  if (decorated == nullptr) return E_POINTER;
  *decorated = nullptr;
  std::u16string text = StatusPrefix(status);
  if (name != nullptr) text += name;
  text += u" (";
  const _bstr_t caseName = GetCaseName(application, document, status);
  text += caseName.view();
  text += u")";
  *decorated = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (*decorated == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return S_OK;
}

}  // namespace KXDBDatasheetSvcs
