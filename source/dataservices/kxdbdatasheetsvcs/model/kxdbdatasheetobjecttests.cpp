// Yes/no questions about objects: summary sheets and their projects, claims
// and scope, placement on pages, filters, a page's primary object and
// pages that no longer match their template.
#include <algorithm>
#include <iterator>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// The element of a SAFEARRAY of interfaces (or of VARIANTs holding them)
// queried for I; a failure is raised.
template <class I>
void ElementAs(KXComException& ctx, const VariantUtil::SafeArrayVector& vector, int32_t i,
               _com_ptr_t<I>& out) {
  out = nullptr;
  I* raw = nullptr;
  KX_CHECK(ctx, vector.GetInterfaceAt(i, &raw));
  out.Attach(raw);
}

// *owned: whether the caller destroys the array (see GetTemplatePageRoots).
void RootNodesOf(KXComException& ctx, IKXQTemplatePage* templatePage, SAFEARRAY** nodes,
                 bool* owned, bool* continuous) {
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePageRoots(templatePage, nodes, owned));
  // A failure below leaves no owned array behind.
  KXScopeGuard destroy([&] {
    if (*owned) SafeArrayDestroy(*nodes);
    *nodes = nullptr;
  });
  KX_CHECK(ctx, KXDBDatasheetSvcs::IsTemplatePageContinuous(templatePage, continuous));
  destroy.Dismiss();
}

// `kept`: the classes are lent by the open TemplatePartsScope, so that the
// answer for the object's class is asked once (the array's address stands
// for the question).
bool ClassOfObjectIn(IKXQObject* object, SAFEARRAY* classes, bool kept) {
  IKXQClassPtr cls;
  KXDBDatasheetSvcs::GetObjectClass(object, cls);
  bool in = false;
  if (kept && KXDBDatasheetSvcs::FindKeptClassAnswer(cls, classes, &in)) return in;
  in = KXDBDatasheetSvcs::IsClassInArray(cls, classes);
  if (kept) KXDBDatasheetSvcs::KeepClassAnswer(cls, classes, in);
  return in;
}

// The answer depends on the object's class alone: a listing asks it once
// per class (FindKeptClassAnswer; the tag's address names the question).
constexpr char kSkippedViewClass = 0;

bool IsSkippedViewObject(IKXQObject* object) {
  IKXQClassPtr cls;
  KXDBDatasheetSvcs::GetObjectClass(object, cls);
  bool skipped = false;
  if (KXDBDatasheetSvcs::FindKeptClassAnswer(cls, &kSkippedViewClass, &skipped)) return skipped;
  if (cls) {
    _bstr_t name;
    if (SUCCEEDED(cls->get_Name(name.GetAddress())) && name.length() > 0 &&
        _wcsicmp(name, u"GlobalsClass") == 0) {
      skipped = true;
    }
  }
  skipped = skipped || KXDBDatasheetSvcs::IsObjectOfClass(object, u"Datasheet") ||
            KXDBDatasheetSvcs::IsObjectOfClass(object, u"Page");
  KXDBDatasheetSvcs::KeepClassAnswer(cls, &kSkippedViewClass, skipped);
  return skipped;
}

}  // namespace

namespace KXDBDatasheetSvcs {

bool IsClassInArray(IKXQClass* cls, SAFEARRAY* classes) {
  if (cls == nullptr) return false;
  VariantUtil::SafeArrayVector vector(classes, false);
  for (int32_t i = 0; i < vector.Count(); ++i) {
    IKXQClass* element = nullptr;
    if (FAILED(vector.GetInterfaceAt(i, &element)) || element == nullptr) continue;
    IKXQClassPtr held;
    held.Attach(element);
    VARIANT candidate;
    VariantInit(&candidate);
    candidate.vt = VT_DISPATCH;
    candidate.pdispVal = element;  // borrowed for the call
    VARIANT_BOOL is = VARIANT_FALSE;
    if (SUCCEEDED(cls->IsKindOf(candidate, &is)) && is == VARIANT_TRUE) return true;
  }
  return false;
}

bool IsActiveProjectRootProject(IKXQApplication* application) {
  bool answer = false;
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, application);
    IKXQProjectPtr root;
    IKXQProjectPtr active;
    KX_CHECK(ctx, application->get_RootProject(&root));
    KX_CHECK(ctx, application->get_ActiveProject(&active));
    answer = root.GetInterfacePtr() == active.GetInterfacePtr();
    return S_OK;
  };
  (void)ServeRequest(u"KXDBDatasheetSvcs::IsActiveProjectRootProject",
                     FrameOptions{.file = kFile, .absorbFailure = true, .severity = 0}, work);
  return answer;
}

bool IsClaimedByActiveProject(IKXQApplication* application, IKXQObject* object) {
  bool answer = false;
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, application);
    CheckPointerArgument(ctx, object);
    IKXQProjectPtr active;
    KX_CHECK(ctx, application->get_ActiveProject(&active));
    SAFEARRAY* claimants = nullptr;
    KX_CHECK(ctx, object->get_Claimants(&claimants));
    VariantUtil::SafeArrayVector vector(claimants, true);
    for (int32_t i = 0; i < vector.Count() && !answer; ++i) {
      IKXQProject* project = nullptr;
      if (FAILED(vector.GetInterfaceAt(i, &project)) || project == nullptr) continue;
      answer = project == active.GetInterfacePtr();
      project->Release();
    }
    return S_OK;
  };
  (void)ServeRequest(u"KXDBDatasheetSvcs::IsClaimedByActiveProject",
                     FrameOptions{.file = kFile, .absorbFailure = true, .severity = 0}, work);
  return answer;
}

bool IsObjectScoped(IKXQObject* object) {
  if (object == nullptr) return false;
  KXComException ctx(u"KXDBDatasheetSvcs::IsObjectScoped", 0);
  VARIANT_BOOL scoped = VARIANT_FALSE;
  // A failed test answers false.
  (void)object->IsScoped(&scoped);
  return scoped == VARIANT_TRUE;
}

bool IsNodeRunScoped(IKXQObject* page, IKXQClassView* view) {
  KXComException ctx = KXComException::Silent();
  if (view == nullptr || page == nullptr)
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  LONG index = -1;
  KX_CHECK(ctx, view->get_NodeIndex(&index));
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  GetAttributeInterface(page, u"NodeObjects", objects);
  GetAttributeInterface(page, u"NodeIndices", indices);
  if (!objects || !indices) return false;
  bool hasValue = false;
  const int32_t first = GetAttributeIntegerAt(indices, index + 1, &hasValue);
  if (!hasValue || first <= 0) return false;
  for (int32_t p = first;; ++p) {
    VARIANT_BOOL has = VARIANT_FALSE;
    KX_CHECK(ctx, objects->HasValue(_variant_t(static_cast<int>(p), VT_I4), &has));
    if (has == VARIANT_FALSE) return false;
    IKXQObjectPtr object;
    GetAttributeObjectAt(objects, object, p);
    if (IsObjectScoped(object)) return true;
  }
}

bool IsDataViewScoped(IKXQObject* page, SAFEARRAY* views, bool& seen, int32_t mode) {
  bool answer = false;
  const auto work = [&](KXComException& ctx) {
    VariantUtil::SafeArrayVector vector(views, false);
    for (int32_t i = 0; i < vector.Count() && !answer; ++i) {
      IKXQClassViewPtr view;
      ElementAs(ctx, vector, i, view);
      if (!view) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, nullptr);
      IKXQObjectPtr object;
      GetNodeObject(object, page, view);
      if (!object || IsSkippedViewObject(object)) continue;
      seen = true;
      const bool runScoped = mode == 2 && IsNodeRunScoped(page, view);
      if (runScoped || IsObjectScoped(object)) {
        answer = true;
        break;
      }
      SAFEARRAY* nested = nullptr;
      KX_CHECK(ctx, view->get_Children(&nested));
      const bool nestedAnswer = IsDataViewScoped(page, nested, seen, mode);
      SafeArrayDestroy(nested);
      if (nestedAnswer) answer = true;
    }
    return S_OK;
  };
  (void)ServeRequest(u"KXDBDatasheetSvcs::IsDataViewScoped",
                     FrameOptions{.file = kFile, .absorbFailure = true, .severity = 0}, work);
  return answer;
}

HRESULT IsSummarySheet(IKXQApplication* application, IKXQObject* datasheet,
                       VARIANT_BOOL* isSummary) {
  return ServeRequest(u"KXDBDatasheetSvcs::IsSummarySheet", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, isSummary);
    *isSummary = VARIANT_FALSE;
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, 1));
    if (!tmpl) return S_OK;
    TemplateKind kind = TemplateKind::kOther;
    KX_CHECK(ctx, GetTemplateKind(tmpl, &kind));
    if (kind == TemplateKind::kSummary) *isSummary = VARIANT_TRUE;
    return S_OK;
  });
}

bool CheckSummarySheetProject(IKXQApplication* application, IKXQObject* datasheet, bool* local,
                              bool* related) {
  KXComException ctx = KXComException::Silent();
  if (local != nullptr) *local = false;
  if (related != nullptr) *related = false;
  VARIANT_BOOL isSummary = VARIANT_FALSE;
  KX_CHECK(ctx, IsSummarySheet(application, datasheet, &isSummary));
  if (isSummary != VARIANT_TRUE) return false;
  int32_t projectId = -1;
  if (ClassHasAttribute(datasheet, u"ProjectId")) {
    IKXQAttributePtr attribute;
    GetAttributeInterfaceAt(datasheet, u"ProjectId", attribute, -1);
    if (attribute) projectId = GetAttributeAsInteger(attribute);
  }
  IKXQProjectPtr active;
  KX_CHECK(ctx, application->get_ActiveProject(&active));
  if (!active) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  LONG activeId = 0;
  KX_CHECK(ctx, active->get_Id(&activeId));
  if (activeId == projectId) {
    if (local != nullptr) *local = true;
    if (related != nullptr) *related = true;
    return true;
  }
  VARIANT_BOOL contains = VARIANT_FALSE;
  VARIANT_BOOL within = VARIANT_FALSE;
  (void)active->Contains(_variant_t(static_cast<int>(projectId), VT_I4), &contains);
  (void)active->IsWithin(_variant_t(static_cast<int>(projectId), VT_I4), &within);
  if ((contains == VARIANT_TRUE || within == VARIANT_TRUE) && related != nullptr) *related = true;
  return true;
}

bool IsObjectOnPage(IKXQObject* object, IKXQObject* page, IKXQTemplatePage* templatePage) {
  KXComException ctx = KXComException::Silent();
  if (templatePage == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  // An object on a node of the page stands in its "NodeObjects": the store
  // answers that at once, and most pages asked about do not hold it.
  if (page != nullptr) {
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    if (objects && !ListHoldsObject(objects, object)) return false;
  }
  SAFEARRAY* roots = nullptr;
  bool owned = true;
  bool continuous = false;
  RootNodesOf(ctx, templatePage, &roots, &owned, &continuous);
  VariantUtil::SafeArrayVector vector(roots, owned);
  for (int32_t i = vector.Count() - 1; i >= 0; --i) {
    IKXQClassViewPtr node;
    ElementAs(ctx, vector, i, node);
    IKXQObjectPtr found;
    if (continuous) {
      FindObjectInNodeRows(found, page, object, node);
    } else {
      GetNodeObject(found, page, node);
    }
    if (found && found.GetInterfacePtr() == object) return true;
  }
  return false;
}

namespace {

thread_local DatasheetObjectsScope* g_datasheetObjects = nullptr;

}  // namespace

DatasheetObjectsScope::DatasheetObjectsScope(IKXQObject* datasheet, IKXQTemplatePage* templatePage)
    : m_datasheet(datasheet), m_templatePage(templatePage), m_outer(g_datasheetObjects) {
  g_datasheetObjects = this;
}

DatasheetObjectsScope::~DatasheetObjectsScope() { g_datasheetObjects = m_outer; }

void DatasheetObjectsScope::ReadPages(IKXQAttribute* pages, int32_t count) {
  const auto pageIdAt = [&](int32_t i, IKXQObjectPtr& page) {
    GetAttributeAsObject(pages, i, page);
    return page ? ObjectIdOf(page) : 0;
  };
  IKXQObjectPtr last;
  if (count < m_read || (m_read >= 1 && pageIdAt(m_read, last) != m_lastPage)) {
    m_read = 0;
    m_lastPage = 0;
    m_positions.clear();
    m_unlisted.clear();
  }
  for (int32_t i = m_read + 1; i <= count; ++i) {
    IKXQObjectPtr page;
    m_lastPage = pageIdAt(i, page);
    if (!page) continue;
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    if (!objects) {
      m_unlisted.push_back(i);
      continue;
    }
    const int32_t listed = GetAttributeCount(objects);
    for (int32_t k = 1; k <= listed; ++k) {
      IKXQObjectPtr object;
      GetAttributeAsObject(objects, k, object);
      if (!object) continue;
      std::vector<int32_t>& positions = m_positions[ObjectIdOf(object)];
      if (positions.empty() || positions.back() != i) positions.push_back(i);
    }
  }
  m_read = count;
}

void DatasheetObjectsScope::PagesToTest(int32_t id, std::vector<int32_t>& positions) const {
  positions = m_unlisted;
  const auto found = m_positions.find(id);
  if (found != m_positions.end()) {
    positions.insert(positions.end(), found->second.begin(), found->second.end());
    if (!m_unlisted.empty()) std::sort(positions.begin(), positions.end());
  }
  std::reverse(positions.begin(), positions.end());
}

bool IsObjectOnDatasheet(IKXQObject* object, IKXQObject* datasheet,
                         IKXQTemplatePage* templatePage) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr pages;
  const int32_t count = GetAttributeInterfaceAndCountByName(datasheet, u"CurrentPages", pages);
  DatasheetObjectsScope* scope = g_datasheetObjects;
  if (scope != nullptr && scope->m_datasheet == datasheet &&
      scope->m_templatePage == templatePage && pages && object != nullptr) {
    scope->ReadPages(pages, count);
    std::vector<int32_t> positions;
    scope->PagesToTest(ObjectIdOf(object), positions);
    for (const int32_t i : positions) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      if (IsObjectOnPage(object, page, templatePage)) return true;
    }
    return false;
  }
  for (int32_t i = count; i >= 1; --i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, i, page);
    if (!page) continue;
    if (IsObjectOnPage(object, page, templatePage)) return true;
  }
  return false;
}

bool IsObjectInFilter(IKXQApplication* application, const VARIANT& filter, IKXQObject* object,
                      IKXQObject* summaryDocument, IKXQEvaluationContext* context) {
  KXComException ctx = KXComException::Silent();
  IKXQEvaluationContextPtr heldContext(context);
  if (!IsVariantSet(filter)) return true;
  if (object == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  if (GetVariantTypeClass(filter) == VT_BSTR) {
    _variant_t copy(filter);
    LONG passes = 0;
    KX_CHECK(ctx, object->TestFilter(copy, &passes));
    return passes != 0;
  }
  IKXQObjectFilterPtr filterObject;
  {
    IKXQObjectFilter* raw = nullptr;
    if (FAILED(VariantToInterface(filter, &raw))) raw = nullptr;
    filterObject.Attach(raw);
  }
  if (!filterObject) return false;
  IKXQEvaluationContextPtr evaluation;
  KX_CHECK(ctx, object->get_EvaluationContext(&evaluation));
  if (evaluation) {
    VARIANT document;
    VariantInit(&document);
    document.vt = VT_DISPATCH;
    document.pdispVal = summaryDocument;  // borrowed; the context copies it
    KX_CHECK(ctx, evaluation->SetNamedValue(_variant_t(u"SummaryDoc"), document));
  }
  bool switched = false;
  if (heldContext) {
    LONG id = 0;
    KX_CHECK(ctx, object->get_Id(&id));
    const std::u16string idText = kx_ltow(id, 10);
    if (!idText.empty() && application != nullptr) {
      _variant_t previous;
      (void)application->SwitchEvaluation(-1, &previous);
      switched = true;
      (void)heldContext->Begin(_variant_t(idText.c_str()));
    }
  }
  VARIANT_BOOL passes = VARIANT_FALSE;
  const HRESULT hr = filterObject->Evaluate(object, &passes);
  if (FAILED(hr)) {
    // A failing evaluation counts as not passing; its error is not kept so
    // that it cannot be mistaken for a later failure's cause.
    ClearThreadErrorInfo();
    passes = VARIANT_FALSE;
  }
  if (heldContext) {
    (void)heldContext->End();
    if (switched) {
      _variant_t previous;
      (void)application->SwitchEvaluation(0, &previous);
    }
  }
  return passes == VARIANT_TRUE;
}

HRESULT GetPagePrimaryObject(IKXQApplication* application, IKXQObject* page, IKXQTemplate* tmpl,
                             IKXQObject** primary, IKXQObject** further, int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, primary);
    *primary = nullptr;
    if (further != nullptr) *further = nullptr;
    SAFEARRAY* rawClasses = nullptr;
    bool ownsClasses = true;
    if (tmpl != nullptr) KX_CHECK(ctx, GetTemplateClassesLent(tmpl, &rawClasses, &ownsClasses));
    VariantUtil::SafeArrayVector classesHolder(rawClasses, ownsClasses);
    SAFEARRAY* classes = classesHolder.Array();
    if (page == nullptr) return S_OK;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, status));
    if (!templatePage) return S_OK;
    SAFEARRAY* roots = nullptr;
    bool owned = true;
    bool continuous = false;
    RootNodesOf(ctx, templatePage, &roots, &owned, &continuous);
    VariantUtil::SafeArrayVector vector(roots, owned);
    IKXQObjectPtr first;
    IKXQObjectPtr last;
    auto take = [&](IKXQObject* candidate) {
      if (!first) {
        first = candidate;
      } else {
        last = candidate;
      }
    };
    for (int32_t i = 0; i < vector.Count(); ++i) {
      if (first && further == nullptr) break;
      IKXQClassViewPtr node;
      ElementAs(ctx, vector, i, node);
      IKXQObjectPtr object;
      GetNodeObject(object, page, node);
      if (!object || !ClassOfObjectIn(object, classes, !ownsClasses)) continue;
      if (!continuous) {
        take(object);
        continue;
      }
      const int32_t position = GetObjectNodeIndex(page, object, nullptr);
      IKXQAttributePtr objects;
      GetAttributeInterface(page, u"NodeObjects", objects);
      const int32_t rows = GetAttributeCount(objects) - position + 1;
      const auto shown = [&](int32_t r, IKXQObjectPtr& row) {
        GetNodeObjectAtRow(row, page, r, node);
        return row && ClassOfObjectIn(row, classes, !ownsClasses);
      };
      int32_t r = 0;
      for (; r < rows && !first; ++r) {
        IKXQObjectPtr row;
        if (shown(r, row)) take(row);
      }
      if (further == nullptr) continue;
      // The last such row after the first is sought from the end: the rows
      // between are not read, so that a trigger item open over this walk (a
      // datasheet's title) does not fire when one of them changes.
      for (int32_t back = rows - 1; back >= r; --back) {
        IKXQObjectPtr row;
        if (shown(back, row)) {
          take(row);
          break;
        }
      }
    }
    *primary = first.Detach();
    if (further != nullptr) *further = last.Detach();
    return S_OK;
  });
}

HRESULT IsValidTemplate(IKXQApplication* application, IKXQObject* datasheet, int32_t status,
                        IKXQObject** page) {
  return ServeRequest(u"KXDBDatasheetSvcs::IsValidTemplate", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, page);
    *page = nullptr;
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, status, pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr candidate;
      GetAttributeAsObject(pages, i, candidate);
      if (!candidate) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, GetTemplatePage(application, candidate, &templatePage, status));
      // A page whose template page is gone matches no template.
      if (!templatePage) {
        *page = candidate.Detach();
        break;
      }
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, templatePage->get_Template(&tmpl));
      if (!tmpl) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
      _bstr_t templateChecknum;
      KX_CHECK(ctx, tmpl->get_Checknum(templateChecknum.GetAddress()));
      _bstr_t pageChecknum;
      bool hasChecknum = false;
      IKXQAttributePtr attribute;
      GetAttributeInterfaceAt(candidate, u"Checknum", attribute, -1);
      if (attribute) GetAttributeValueString(attribute, pageChecknum, &hasChecknum);
      // An empty text is no text, as a null BSTR is the empty string.
      const bool equal = templateChecknum.length() == 0 || pageChecknum.length() == 0
                             ? templateChecknum.length() == pageChecknum.length()
                             : _wcsicmp(templateChecknum, pageChecknum) == 0;
      if (!equal) {
        *page = candidate.Detach();
        break;
      }
    }
    return S_OK;
  });
}

void CollectDataViews(IKXQClassView* view, ComPtrArray<IKXQClassView>& views) {
  KXComException ctx = KXComException::Silent();
  if (view == nullptr) return;
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector vector(children, true);
  for (int32_t i = 0; i < vector.Count(); ++i) {
    IKXQClassView* child = nullptr;
    if (FAILED(vector.GetInterfaceAt(i, &child)) || child == nullptr) continue;
    IKXQClassViewPtr held;
    held.Attach(child);
    views.Add(child);
    CollectDataViews(child, views);
  }
}

void RefuseObjectClass(IKXQObject* object, int32_t id, const OLECHAR* expected) {
  KXComException ctx = KXComException::Silent();
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  _bstr_t name;
  if (cls) (void)cls->get_Name(name.GetAddress());
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Object %d is a %ls, not %ls",
                          static_cast<int>(id),
                          name.length() ? static_cast<const OLECHAR*>(name) : u"?", expected);
}

void GetObjectOfClass(IKXQDatabase* database, int32_t id,
                      std::initializer_list<const OLECHAR*> classes, const OLECHAR* expected,
                      IKXQObjectPtr& object) {
  GetStoreObject(database, object, id);
  for (const OLECHAR* name : classes) {
    if (IsObjectOfClass(object, name)) return;
  }
  RefuseObjectClass(object, id, expected);
}

void GetNamedDocument(IKXQDatabase* database, int32_t id, bool diagram, IKXQObjectPtr& document) {
  if (diagram) {
    GetObjectOfClass(database, id, {u"Diagram"}, u"a diagram", document);
  } else {
    GetObjectOfClass(database, id, {u"Datasheet"}, u"a datasheet", document);
  }
}

bool FindListedPagePrimaryObject(IKXQApplication* application, IKXQObject* page,
                                 IKXQObject** primary, IKXQObject** further) {
  *primary = nullptr;
  *further = nullptr;
  const _com_ptr_t<IKXQValueReads> reads = ValueReadsOf(page);
  if (!reads) return false;
  // The page's template id and page id, the position of the node of index
  // 0 (a page's first node nearly always) and the object at position 1
  // (that node's nearly always): one store call. These are the values the
  // usual way reads of the page, and they are read whichever way answers,
  // so that a trigger item open over the walk records the same either way.
  static const _bstr_t kTemplateId(u"TemplateId");
  static const _bstr_t kPageId(u"PageId");
  static const _bstr_t kNodeIndices(u"NodeIndices");
  static const _bstr_t kNodeObjects(u"NodeObjects");
  BSTR names[] = {kTemplateId, kPageId, kNodeIndices, kNodeObjects};
  VARIANT_BOOL defined[std::size(names)] = {};
  VARIANT at;
  VariantInit(&at);
  at.vt = VT_I4;
  at.lVal = 1;  // a single value's position is 1
  VARIANT values[std::size(names)];
  for (VARIANT& value : values) VariantInit(&value);
  const KXScopeGuard clear([&] {
    for (VARIANT& value : values) VariantClear(&value);
  });
  if (FAILED(reads->ReadValues(std::size(names), names, at, defined, values))) return false;
  const VARIANT& firstPosition = values[2];
  const VARIANT& firstObject = values[3];
  IKXQTemplatePtr tmpl;
  IKXQTemplatePagePtr templatePage;
  SAFEARRAY* classes = nullptr;
  {
    IKXQTemplate* rawTemplate = nullptr;
    IKXQTemplatePage* rawPage = nullptr;
    if (!FindListedTemplatePage(application, page, defined[0] ? &values[0] : nullptr,
                                defined[1] ? &values[1] : nullptr, &rawTemplate, &rawPage,
                                &classes)) {
      return false;
    }
    tmpl.Attach(rawTemplate);
    templatePage.Attach(rawPage);
  }
  if (!templatePage) return true;
  bool continuous = false;
  const RootNode* nodes = nullptr;
  size_t count = 0;
  // Rows of continuous lists are left to GetPagePrimaryObject.
  if (!GetKeptRootNodes(templatePage, &nodes, &count, &continuous) || continuous) return false;
  IKXQObjectPtr first;
  IKXQObjectPtr last;
  for (size_t i = 0; i < count; ++i) {
    IKXQObjectPtr object;
    const bool read = nodes[i].index == 0 && defined[2];
    if (!FindListedNodeObject(page, reads, nodes[i].index, read ? &firstPosition : nullptr,
                              defined[3] ? &firstObject : nullptr, object)) {
      return false;
    }
    if (!object || !ClassOfObjectIn(object, classes, true)) continue;
    (first ? last : first) = object;
  }
  *primary = first.Detach();
  *further = last.Detach();
  return true;
}

}  // namespace KXDBDatasheetSvcs
