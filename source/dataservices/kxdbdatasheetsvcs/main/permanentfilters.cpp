// Permanent filters: a summary sheet lists only the objects that pass the
// object filter in its (or its list page's) "ObjectFilter". Its "SSPF"
// trigger records, per object, what the filter test read; when that
// changes, the object is tested again and added to or taken off the sheet.
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/triggers.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

bool IsContinuous(KXComException& ctx, IKXQTemplatePage* templatePage) {
  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  return format.length() > 0;
}

// Whether the template's class view takes objects of `cls`.
bool Accepts(KXComException& ctx, IKXQTemplate* tmpl, IKXQClass* cls) {
  IKXQClassViewPtr view;
  KX_CHECK(ctx, tmpl->get_ClassView(&view));
  if (!view || cls == nullptr) return false;
  VARIANT_BOOL accepts = VARIANT_FALSE;
  KX_CHECK(ctx, view->AcceptsClass(_variant_t(static_cast<IDispatch*>(cls)), nullptr, &accepts));
  return accepts == VARIANT_TRUE;
}

IKXQTemplatePagePtr FirstTemplatePage(KXComException& ctx, IKXQTemplate* tmpl) {
  IKXQTemplatePagePtr first;
  KX_CHECK(ctx, tmpl->get_Page(1, &first));
  return first;
}

// The host's warning for a fired key whose work failed: the key, the
// trigger's owner and what went wrong. The thread's error information is
// taken.
void WarnKeyFailure(IKXQApplication* application, IKXQObject* owner, const OLECHAR* key,
                    HRESULT hr) {
  _bstr_t reason;
  const std::u16string description = TakeThreadErrorText();
  if (!description.empty()) reason.Attach(GetErrorDescription(description.c_str()));
  if (reason.length() == 0) reason.Attach(GetHResultMessage(hr));
  ClearThreadErrorInfo();
  if (application == nullptr) return;
  const std::u16string text =
      kx_format(u"The permanent filter of {%ld} did not apply key \"%ls\": %ls",
                static_cast<long>(ObjectIdOf(owner)), key,
                reason.length() > 0 ? static_cast<const OLECHAR*>(reason) : u"");
  (void)application->LogWarning(_bstr_t(text.c_str()));
}

}  // namespace

HRESULT Main::ApplyPermanentFilterTrigger(IKXQObject* owner, IKXQTrigger* trigger,
                                          bool isDatasheet) {
  return ServeRequest(u"Main::ApplyPermanentFilterTrigger", kSilentFrame, [&](KXComException& ctx) {
    VARIANT_BOOL summary = VARIANT_FALSE;
    KX_CHECK(ctx, KXDBDatasheetSvcs::IsSummarySheet(m_pApplication, owner, &summary));
    if (summary != VARIANT_TRUE) return S_OK;
    KX_CHECK(ctx, ApplyPermanentFilterChanges(owner, isDatasheet, trigger));
    KX_CHECK(ctx, isDatasheet ? LaunchDatasheetEvent(owner, 1) : LaunchPageEvent(owner, 1));
    return S_OK;
  });
}

HRESULT Main::ApplyPermanentFilterChanges(IKXQObject* owner, bool isDatasheet,
                                          IKXQTrigger* trigger) {
  return ServeRequest(u"Main::ApplyPermanentFilterChanges", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    const std::vector<_bstr_t> keys = ReadFiredKeys(trigger);
    // The keys are taken: a later change of the same object fires again.
    KX_CHECK(ctx, trigger->ClearFiredKeys());
    for (const _bstr_t& key : keys) {
      const OLECHAR* text = key.length() > 0 ? static_cast<const OLECHAR*>(key) : u"";
      const HRESULT hr = ServeRequest(
          u"Main::ApplyPermanentFilterChanges", kSilentFrame, [&](KXComException& item) {
            ApplyPermanentFilterKey(item, owner, isDatasheet, trigger, text);
            return S_OK;
          });
      // The change that fired the key was another client's: it stands, and
      // the host hears of the key that could not follow it.
      if (FAILED(hr)) WarnKeyFailure(m_pApplication, owner, text, hr);
    }
    return S_OK;
  });
}

void Main::ApplyPermanentFilterKey(KXComException& ctx, IKXQObject* owner, bool isDatasheet,
                                   IKXQTrigger* trigger, const OLECHAR* key) {
  IKXQObjectPtr object;
  const int32_t decision = EvaluatePermanentFilterKey(owner, key, object, trigger);
  if (decision == 0 || !object) return;
  if (decision == 1) {
    IKXQObjectPtr datasheet(owner);
    if (!isDatasheet) {
      GetOwnerObject(owner, datasheet);
      if (!datasheet) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Permanent Filter: Datasheet attached to Page {%ld} is null",
                                static_cast<long>(ObjectIdOf(owner)));
      }
    }
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, FindSummaryTemplatePage(datasheet, object, &templatePage));
    if (!templatePage) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Permanent Filter: Unable to locate template for {%ld}",
                              static_cast<long>(ObjectIdOf(owner)));
    }
    // A member already on the sheet is not added a second time.
    KX_CHECK(ctx,
             isDatasheet
                 ? Workers().AddSummarySheetPage(*this, object, datasheet, templatePage, false)
                 : Workers().AddListObject(*this, object, owner, templatePage, true, -1, false));
    return;
  }
  IKXQObjectPtr page;
  if (!isDatasheet) {
    page = owner;
  } else {
    // Of the sheet's pages only a current one: its submitted, checked
    // and issued copies are owned by the sheet too, and keep what they
    // recorded.
    IKXQAttributePtr views;
    GetAttributeInterface(object, u"DataViews", views);
    for (int32_t i = views ? GetAttributeCount(views) : 0; i >= 1 && !page; --i) {
      IKXQObjectPtr view;
      GetAttributeAsObject(views, i, view);
      if (!view || !KXDBDatasheetSvcs::IsObjectOfClass(view, u"Page")) continue;
      if (AttributeContainsObject(owner, u"CurrentPages", view)) page = view;
    }
    if (!page) return;
  }
  KX_CHECK(ctx, Workers().RemoveObjectFromPage(*this, page, object));
}

bool Main::TakesObject(KXComException& ctx, IKXQTemplate* tmpl, IKXQTemplatePage* page,
                       IKXQObject* object, IKXQClass* cls) {
  if (!IsContinuous(ctx, page)) return Accepts(ctx, tmpl, cls);
  // A list's class view is its header's; its members are the rows.
  ContinuousPageHelper& helper = GetContinuousPageHelper();
  KX_CHECK(ctx, helper.InitializeTemplate(m_pApplication, page, false));
  for (const _bstr_t& name : helper.AttachedClassNames()) {
    if (KXDBDatasheetSvcs::IsObjectOfClass(object, name)) return true;
  }
  return false;
}

int32_t Main::EvaluatePermanentFilterKey(IKXQObject* owner, const OLECHAR* key,
                                         IKXQObjectPtr& object, IKXQTrigger* trigger) {
  KXComException ctx = KXComException::Silent(u"Main::EvaluatePermanentFilterKey");
  object = nullptr;
  if (key == nullptr || *key == 0) return 0;
  if (!KXDBDatasheetSvcs::ClassHasAttribute(owner, u"ObjectFilter")) return 0;
  _bstr_t code;
  KXDBDatasheetSvcs::GetAttributeString(owner, code, u"ObjectFilter", -1);
  if (code.length() == 0) return 0;
  const int32_t id = static_cast<int32_t>(_wtol(key));
  if (id < 1) return 0;
  if (FAILED(m_pDatabase->get_Object(id, &object)) || !object) {
    ClearThreadErrorInfo();
    object = nullptr;
    return 0;
  }
  // Only a key naming an object asks the schema for the filter: a filter it
  // lacks cannot fail the callback for a deleted or unknown object.
  // "KX_CLAIM_ONLY" is a filter of its own, handed to the test as text;
  // any other name is the schema's filter of that name.
  _variant_t filter;
  KX_CHECK(ctx, KXDBDatasheetSvcs::IsClaimOnlyFilter(m_pSchema, owner, &filter));
  if (filter.vt == VT_EMPTY) {
    object = nullptr;
    return 0;
  }
  // The test is recorded again under the object's id.
  const bool passes =
      KXDBDatasheetSvcs::IsObjectInFilter(m_pApplication, filter, object, owner, trigger);
  return passes ? 1 : 2;
}

HRESULT Main::FindSummaryTemplatePage(IKXQObject* datasheet, IKXQObject* object,
                                      IKXQTemplatePage** templatePage) {
  return ServeRequest(u"Main::FindSummaryTemplatePage", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    *templatePage = nullptr;
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(m_pApplication, datasheet, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    IKXQTemplatePagePtr first = FirstTemplatePage(ctx, tmpl);
    CheckPointerArgument(ctx, first.GetInterfacePtr());
    IKXQClassPtr cls;
    KXDBDatasheetSvcs::GetObjectClass(object, cls);
    if (!IsContinuous(ctx, first) || TakesObject(ctx, tmpl, first, object, cls)) {
      *templatePage = first.Detach();
      return S_OK;
    }
    _bstr_t sheetTemplateId;
    KX_CHECK(ctx, tmpl->get_Id(sheetTemplateId.GetAddress()));
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      _bstr_t pageTemplateId;
      KXDBDatasheetSvcs::GetAttributeString(page, pageTemplateId, u"TemplateId", -1);
      if (pageTemplateId.length() == 0 || pageTemplateId == sheetTemplateId) continue;
      IKXQTemplatePtr other;
      if (FAILED(KXDBDatasheetSvcs::GetTemplate(m_pApplication, page, &other, 1)) || !other) {
        ClearThreadErrorInfo();
        continue;
      }
      IKXQTemplatePagePtr found = FirstTemplatePage(ctx, other);
      if (!found || !TakesObject(ctx, other, found, object, cls)) continue;
      *templatePage = found.Detach();
      return S_OK;
    }
    return S_OK;
  });
}
