// The database events: objects created, copied, cloned, deleted, re-classed
// or re-claimed, cases deleted, projects updated or deleted. Each handler
// keeps the summary sheets that list the object true to the store.
#include <vector>

#include "com/wstr.h"
#include "host/events.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/triggers.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// Every datasheet of the store, taken before any is changed.
std::vector<IKXQObjectPtr> AllDatasheets(KXComException& ctx, IKXQSchema* schema) {
  CheckPointerArgument(ctx, schema);
  IKXQClassPtr cls;
  KX_CHECK(ctx, schema->get_Class(_bstr_t(u"Datasheet"), &cls));
  CheckPointerArgument(ctx, cls.GetInterfacePtr());
  _com_ptr_t<IKXQObjectCollection> instances;
  KX_CHECK(ctx, cls->get_Instances(&instances));
  std::vector<IKXQObjectPtr> sheets;
  LONG count = 0;
  if (instances) KX_CHECK(ctx, instances->get_Count(&count));
  for (LONG i = 1; i <= count; ++i) {
    IKXQObjectPtr sheet;
    KX_CHECK(ctx, instances->get_Item(i, &sheet));
    if (sheet) sheets.push_back(sheet);
  }
  return sheets;
}

// The datasheet's template, or null when it has none or it cannot be found
// (the error is cleared: such sheets are passed over).
IKXQTemplatePtr QuietTemplate(IKXQApplication* application, IKXQObject* datasheet) {
  IKXQTemplatePtr tmpl;
  if (FAILED(KXDBDatasheetSvcs::GetTemplate(application, datasheet, &tmpl, 1))) {
    ClearThreadErrorInfo();
    return nullptr;
  }
  return tmpl;
}

bool IsSummaryKind(KXComException& ctx, IKXQTemplate* tmpl) {
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  return kind.length() > 0 && _wcsicmp(kind, u"Summary") == 0;
}

// "HasSummary" greater than 0, on a class that has the attribute.
bool HasSummaryFlag(IKXQObject* datasheet) {
  if (!KXDBDatasheetSvcs::ClassHasAttribute(datasheet, u"HasSummary")) return false;
  IKXQAttributePtr flag;
  GetAttributeInterfaceAt(datasheet, u"HasSummary", flag, -1);
  return flag && GetAttributeAsInteger(flag) > 0;
}

// The page's template page, or null when its template is unknown.
IKXQTemplatePagePtr TemplatePageOf(KXComException& ctx, IKXQApplication* application,
                                   IKXQObject* page) {
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, 1));
  return templatePage;
}

bool IsContinuous(KXComException& ctx, IKXQTemplatePage* templatePage) {
  if (templatePage == nullptr) return false;
  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  return format.length() > 0;
}

// The object's "DataViews", last first (empty entries left out).
std::vector<IKXQObjectPtr> DataViewsLastFirst(IKXQObject* object) {
  std::vector<IKXQObjectPtr> views;
  IKXQAttributePtr list;
  GetAttributeInterface(object, u"DataViews", list);
  for (int32_t i = list ? GetAttributeCount(list) : 0; i >= 1; --i) {
    IKXQObjectPtr view;
    GetAttributeAsObject(list, i, view);
    if (view) views.push_back(view);
  }
  return views;
}

// A submitted, checked or issued copy: the record of that version, which
// what happens to an object afterwards does not change.
bool IsStatusCopyPage(IKXQObject* view) { return KXDBDatasheetSvcs::GetPageStatus(view) != 1; }

// The template node of `page`'s template page whose node index is `index`.
IKXQClassViewPtr NodeAtIndex(KXComException& ctx, IKXQTemplatePage* templatePage, int32_t index) {
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, templatePage->get_RootNodes(&raw));
  VariantUtil::SafeArrayVector roots(raw, true);
  if (roots.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  ComPtrArray<IKXQClassView> views;
  for (int32_t i = 0; i < roots.Count(); ++i) {
    IKXQClassViewPtr root;
    KX_CHECK(ctx, roots.GetClassViewAt(i, &root));
    if (!root) continue;
    views.Add(root);
    KXDBDatasheetSvcs::CollectDataViews(root, views);
  }
  for (int32_t i = 0; i < views.GetCount(); ++i) {
    LONG nodeIndex = -1;
    KX_CHECK(ctx, views.GetAt(i)->get_NodeIndex(&nodeIndex));
    if (nodeIndex == index) return IKXQClassViewPtr(views.GetAt(i));
  }
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                          u"The template page has no node with index %d", index);
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == nullptr || b == nullptr) return false;
  _com_ptr_t<IUnknown> left;
  _com_ptr_t<IUnknown> right;
  (void)a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&left));
  (void)b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&right));
  return left.GetInterfacePtr() == right.GetInterfacePtr();
}

}  // namespace

HRESULT Main::RemoveFromDataView(IKXQObject* view, IKXQObject* object) {
  // Only a page of a known template lays its objects out; any other holder
  // (a data view, a page whose template page is gone) loses the reference
  // when the store deletes or moves the object. A lookup that fails is no
  // answer: passed over, a deleted object would leave its row blank.
  if (!KXDBDatasheetSvcs::IsObjectOfClass(view, u"Page")) return S_OK;
  IKXQTemplatePagePtr templatePage;
  const HRESULT hr = KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, view, &templatePage, 1);
  if (FAILED(hr)) return hr;
  if (!templatePage) return S_OK;
  return Workers().RemoveObjectFromPage(*this, view, object);
}

bool Main::PassesSummaryFilter(IKXQObject* holder, IKXQObject* object, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent(u"Main::PassesSummaryFilter");
  _variant_t filter;
  KX_CHECK(ctx, KXDBDatasheetSvcs::IsClaimOnlyFilter(m_pSchema, holder, &filter));
  if (filter.vt == VT_EMPTY) return true;
  // The sheet's permanent-filter trigger, when it has one, records what the
  // test reads under the object's id.
  VARIANT_BOOL hasTrigger = VARIANT_FALSE;
  KX_CHECK(ctx, holder->HasTrigger(_bstr_t(u"SSPF"), &hasTrigger));
  _com_ptr_t<IKXQTrigger> trigger;
  if (hasTrigger == VARIANT_TRUE) KX_CHECK(ctx, holder->get_Trigger(_bstr_t(u"SSPF"), &trigger));
  return KXDBDatasheetSvcs::IsObjectInFilter(ctx, m_pApplication, filter, object, datasheet,
                                             trigger);
}

HRESULT Main::HandleCreateEvent(IKXQObject* object) {
  return ServeRequest(u"Main::HandleCreateEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, object);
    ContinuousPageHelper& helper = GetContinuousPageHelper();
    const IKXQTemplatePagePtr remembered(helper.TemplatePage());
    IKXQClassPtr objectClass;
    KXDBDatasheetSvcs::GetObjectClass(object, objectClass);
    for (const IKXQObjectPtr& datasheet : AllDatasheets(ctx, m_pSchema)) {
      const IKXQTemplatePtr tmpl = QuietTemplate(m_pApplication, datasheet);
      if (!tmpl) continue;
      const bool hasSummary = HasSummaryFlag(datasheet);
      if (!hasSummary && !IsSummaryKind(ctx, tmpl)) continue;
      IKXQAttributePtr pages;
      const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
      if (count < 1) continue;
      IKXQObjectPtr first;
      GetAttributeAsObject(pages, 1, first);
      if (!hasSummary && !IsContinuous(ctx, TemplatePageOf(ctx, m_pApplication, first))) {
        // Page-per-member: a page of its own, unless a page shows it already.
        IKXQClassViewPtr view;
        KX_CHECK(ctx, tmpl->get_ClassView(&view));
        VARIANT_BOOL accepts = VARIANT_FALSE;
        if (view && objectClass) {
          KX_CHECK(ctx, view->AcceptsClass(_variant_t(static_cast<IDispatch*>(objectClass)),
                                           _bstr_t(u""), &accepts));
        }
        if (accepts != VARIANT_TRUE) continue;
        IKXQTemplatePagePtr firstTemplatePage;
        KX_CHECK(ctx, tmpl->get_Page(1, &firstTemplatePage));
        if (PassesSummaryFilter(datasheet, object, datasheet)) {
          KX_CHECK(ctx, Workers().AddSummarySheetPage(*this, object, datasheet, firstTemplatePage,
                                                      false));
        }
        continue;
      }
      for (int32_t i = 1; i <= count; ++i) {
        IKXQObjectPtr page;
        GetAttributeAsObject(pages, i, page);
        if (!page) continue;
        const IKXQTemplatePagePtr templatePage = TemplatePageOf(ctx, m_pApplication, page);
        if (!IsContinuous(ctx, templatePage)) continue;
        KX_CHECK(ctx, helper.InitializeTemplate(m_pApplication, templatePage, false));
        for (const _bstr_t& name : helper.AttachedClassNames()) {
          if (!KXDBDatasheetSvcs::IsObjectOfClass(object, name)) continue;
          if (PassesSummaryFilter(page, object, datasheet)) {
            KX_CHECK(ctx, Workers().AddListObject(*this, object, page, templatePage, true, -1,
                                                  false, false));
          }
          break;
        }
      }
    }
    if (remembered) KX_CHECK(ctx, helper.InitializeTemplate(m_pApplication, remembered, false));
    return S_OK;
  });
}

HRESULT Main::HandleDeleteEvent(IKXQObject* object) {
  return ServeRequest(u"Main::HandleDeleteEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, object);
    if (KXDBDatasheetSvcs::IsObjectOfClass(object, u"Datasheet")) {
      _bstr_t templateId;
      KXDBDatasheetSvcs::GetAttributeString(object, templateId, u"TemplateId", -1);
      // Exact comparison: the master's id is written one way only.
      if (templateId.length() > 0 && templateId.view() == u"RQ Master BEDD") {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Cannot delete an RQ Master BEDD Datasheet");
      }
    }
    for (const IKXQObjectPtr& view : DataViewsLastFirst(object)) {
      KX_CHECK(ctx, RemoveFromDataView(view, object));
    }
    return S_OK;
  });
}

HRESULT Main::HandleDeleteCaseEvent(IKXQObject* datasheet, LONG caseNumber) {
  return ServeRequest(u"Main::HandleDeleteCaseEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    // Only datasheets have cases on their pages.
    if (!KXDBDatasheetSvcs::ClassHasAttribute(datasheet, u"CurrentPages")) return S_OK;
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
      IKXQAttributePtr cases;
      GetAttributeInterface(page, u"Cases", cases);
      if (!cases) continue;
      for (int32_t j = 1; j <= GetAttributeCount(cases); ++j) {
        bool present = false;
        const int32_t caseId =
            ReadAttributeInteger(cases, _variant_t(static_cast<long>(j)), &present);
        if (!present || caseId != caseNumber) continue;
        KX_CHECK(ctx, KXDBDatasheetSvcs::ClearObjectCase(page, j - 1));
        KX_CHECK(ctx, LaunchPageEvent(page, 1));
        break;
      }
    }
    return S_OK;
  });
}

HRESULT Main::HandleUpdateProjectEvent(IKXQProjectUpdate* update) {
  return ServeRequest(u"Main::HandleUpdateProjectEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, update);
    for (const IKXQObjectPtr& datasheet : AllDatasheets(ctx, m_pSchema)) {
      const IKXQTemplatePtr tmpl = QuietTemplate(m_pApplication, datasheet);
      if (!tmpl || !IsSummaryKind(ctx, tmpl)) continue;
      bool changed = false;
      KX_CHECK(ctx, UpdateSummarySheet(datasheet, tmpl, &changed));
      if (changed) KX_CHECK(ctx, update->ReportChangedObject(datasheet));
    }
    return S_OK;
  });
}

HRESULT Main::HandleDeleteProjectEvent(IKXQProject* project) {
  return ServeRequest(u"Main::HandleDeleteProjectEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, project);
    LONG projectId = 0;
    KX_CHECK(ctx, project->get_Id(&projectId));
    for (const IKXQObjectPtr& datasheet : AllDatasheets(ctx, m_pSchema)) {
      if (!KXDBDatasheetSvcs::CheckSummarySheetProject(m_pApplication, datasheet, nullptr,
                                                       nullptr)) {
        continue;
      }
      IKXQAttributePtr sheetProject;
      GetAttributeInterfaceAt(datasheet, u"ProjectId", sheetProject, -1);
      bool present = false;
      if (!sheetProject || GetAttributeAsInteger(sheetProject, &present) != projectId || !present) {
        continue;
      }
      // Best effort: a sheet that cannot go stays.
      if (FAILED(m_pDatabase->DeleteObject(datasheet))) ClearThreadErrorInfo();
    }
    return S_OK;
  });
}

HRESULT Main::HandleChangeClassEvent(IKXQObject* object, IKXQClass*) {
  return ServeRequest(u"Main::HandleChangeClassEvent", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, object);
    ContinuousPageHelper& helper = GetContinuousPageHelper();
    IKXQClassPtr objectClass;
    KXDBDatasheetSvcs::GetObjectClass(object, objectClass);
    for (const IKXQObjectPtr& page : DataViewsLastFirst(object)) {
      if (IsStatusCopyPage(page)) continue;
      IKXQTemplatePagePtr templatePage;
      if (FAILED(KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, page, &templatePage, 1))) {
        ClearThreadErrorInfo();
        continue;
      }
      if (!templatePage) continue;
      IKXQObjectPtr datasheet;
      GetOwnerObject(page, datasheet);
      if (!IsContinuous(ctx, templatePage)) {
        int32_t nodeIndex = -1;
        KXDBDatasheetSvcs::GetObjectNodeIndex(page, object, &nodeIndex);
        if (nodeIndex < 0) continue;
        const IKXQClassViewPtr node = NodeAtIndex(ctx, templatePage, nodeIndex);
        SAFEARRAY* raw = nullptr;
        KX_CHECK(ctx, node->GetAttachedClasses(0, &raw));
        const bool attached = KXDBDatasheetSvcs::IsClassInArray(objectClass, raw);
        if (raw != nullptr) SafeArrayDestroy(raw);
        bool keep = attached;
        if (attached) {
          PtrArray<IUnknown> tops;
          KX_CHECK(ctx, Workers().GetTopLevelDataViews(templatePage, tops));
          for (int32_t i = 0; i < tops.GetCount(); ++i) {
            if (!SameObject(tops.GetAt(i), node)) continue;
            keep = PassesSummaryFilter(
                datasheet ? datasheet.GetInterfacePtr() : page.GetInterfacePtr(), object,
                datasheet);
            break;
          }
        }
        if (!keep) KXDBDatasheetSvcs::GetPageNodeObjects(page, node, nullptr, true);
        continue;
      }
      KX_CHECK(ctx, helper.InitializeTemplate(m_pApplication, templatePage, false));
      bool added = false;
      for (const _bstr_t& name : helper.AttachedClassNames()) {
        if (!KXDBDatasheetSvcs::IsObjectOfClass(object, name)) continue;
        if (!PassesSummaryFilter(page, object, datasheet)) continue;
        KX_CHECK(ctx, Workers().AddListObject(*this, object, page, templatePage, true, -1, false,
                                              false));
        added = true;
        break;
      }
      if (!added) KX_CHECK(ctx, Workers().RemoveObjectFromPage(*this, page, object));
    }
    KX_CHECK(ctx, HandleCreateEvent(object));
    return S_OK;
  });
}

HRESULT Main::HandleChangeClaimStatusEvent(IKXQObject* object) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, object);
    LONG claimed = 0;
    KX_CHECK(ctx, object->TestFilter(_variant_t(), &claimed));
    for (const IKXQObjectPtr& view : DataViewsLastFirst(object)) {
      IKXQObjectPtr owner;
      GetOwnerObject(view, owner);
      if (!owner) continue;
      const bool ownerIsSheet = KXDBDatasheetSvcs::IsObjectOfClass(owner, u"Datasheet");
      const bool ownerIsPage = !ownerIsSheet && KXDBDatasheetSvcs::IsObjectOfClass(owner, u"Page");
      if (!ownerIsSheet && !ownerIsPage) continue;
      if (IsStatusCopyPage(view) || (ownerIsPage && IsStatusCopyPage(owner))) continue;
      bool local = false;
      KXDBDatasheetSvcs::CheckSummarySheetProject(m_pApplication, owner, &local, nullptr);
      _bstr_t filter;
      if (local && claimed == 0 && KXDBDatasheetSvcs::ClassHasAttribute(owner, u"ObjectFilter")) {
        KXDBDatasheetSvcs::GetAttributeString(owner, filter, u"ObjectFilter", -1);
      }
      if (filter.length() > 0 && _wcsicmp(filter, u"KX_CLAIM_ONLY") == 0) {
        KX_CHECK(ctx, RemoveFromDataView(view, object));
        continue;
      }
      KX_CHECK(ctx,
               LaunchPageEvent(ownerIsPage ? owner.GetInterfacePtr() : view.GetInterfacePtr(), 1));
    }
    // The create handling decides afresh; its failure does not undo the above.
    if (FAILED(HandleCreateEvent(object))) ClearThreadErrorInfo();
    return S_OK;
  };
  return ServeRequest(u"Main::HandleChangeClaimStatusEvent", kSilentFrame, work);
}

HRESULT Main::UpdateSummarySheet(IKXQObject* datasheet, IKXQTemplate*, bool* changed) {
  return ServeRequest(u"Main::UpdateSummarySheet", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, changed);
    *changed = false;
    CheckPointerArgument(ctx, datasheet);
    int32_t members = -1;
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
    IKXQObjectPtr first;
    if (count >= 1) GetAttributeAsObject(pages, 1, first);
    const bool firstContinuous =
        first && IsContinuous(ctx, TemplatePageOf(ctx, m_pApplication, first));
    if (!HasSummaryFlag(datasheet) && !firstContinuous) {
      _variant_t filter;
      KX_CHECK(ctx, KXDBDatasheetSvcs::IsClaimOnlyFilter(m_pSchema, datasheet, &filter));
      KX_CHECK(ctx, Workers().ComposeDatasheet(*this, filter, datasheet, first, false, true,
                                               &members, nullptr));
    } else {
      for (int32_t i = 1; i <= count; ++i) {
        IKXQObjectPtr page;
        GetAttributeAsObject(pages, i, page);
        if (!page || !IsContinuous(ctx, TemplatePageOf(ctx, m_pApplication, page))) continue;
        _variant_t filter;
        KX_CHECK(ctx, KXDBDatasheetSvcs::IsClaimOnlyFilter(m_pSchema, page, &filter));
        KX_CHECK(ctx, Workers().ComposeDatasheet(*this, filter, datasheet, page, true, true,
                                                 &members, nullptr));
      }
    }
    *changed = members >= 0;
    return S_OK;
  });
}
