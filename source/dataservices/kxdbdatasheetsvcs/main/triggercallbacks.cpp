// The trigger callback: data read for an item of one of the service's
// triggers changed. The fired items are recorded again and the clients told:
// a datasheet event for a datasheet's page list or names, a data-field event
// per fired field (and the field copied into the datasheet's status copy
// once documents were checked or issued), a new overspill run for a fired
// overspill vector; "SSPF" triggers go to the permanent filter.
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loader/loaddatasheet.h"
#include "loader/triggers.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/overspillutils.h"
#include "model/scopedcurrent.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};
constexpr OLECHAR kOverspillFile[] = u"source/dataservices/kxdbdatasheetsvcs/overspillutils";

bool ClassIsKindOf(KXComException& ctx, IKXQClass* cls, const OLECHAR* name) {
  if (cls == nullptr) return false;
  VARIANT_BOOL is = VARIANT_FALSE;
  KX_CHECK(ctx, cls->IsKindOf(_variant_t(name), &is));
  return is == VARIANT_TRUE;
}

bool IsObjectMarked(KXComException& ctx, IKXQObject* object) {
  VARIANT_BOOL marked = VARIANT_FALSE;
  KX_CHECK(ctx, object->get_IsStatusCopy(&marked));
  return marked == VARIANT_TRUE;
}

// A date attribute's value as a day number; 0 without value.
double GetAttributeDate(KXComException& ctx, IKXQAttribute* attribute) {
  _variant_t value;
  KX_CHECK(ctx, attribute->GetValue(_variant_t(), _variant_t(), value.GetAddress()));
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return 0;
  if (FAILED(VariantChangeType(&value, &value, 0, VT_R8))) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                            u"Cannot coerce attribute to an Date");
  }
  return value.dblVal;
}

_bstr_t TextOf(IKXQObject* object, const OLECHAR* name) {
  _bstr_t text;
  KXDBDatasheetSvcs::GetAttributeString(object, text, name, -1);
  return text;
}

bool SameText(const _bstr_t& a, const _bstr_t& b) {
  return kx_wcsicmp(a.length() > 0 ? a.view() : u"", b.length() > 0 ? b.view() : u"") == 0;
}

// Spills the one overspill association at `position` of the page (the
// run's mode must be 1 or more): its vector attribute onto new overspill
// pages, which are then registered. S_FALSE for an inactive run.
HRESULT SpillAssociation(Main& main, OverspillUtils& run, int32_t mode, IKXQObject* page,
                         int32_t position) {
  KXComException ctx = KXComException::Silent(u"OverspillUtils::SpillAssociation");
  if (run.Owner() == nullptr || mode < 1) return S_FALSE;
  IKXQApplication* application = main.m_pApplication;
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(application, page, &tmpl, 1));
  IKXQObjectPtr primary;
  KX_CHECK(ctx,
           KXDBDatasheetSvcs::GetPagePrimaryObject(application, page, tmpl, &primary, nullptr, 1));
  if (!primary) return S_OK;
  run.m_mode = mode;
  if (!run.m_datasheet) GetOwnerObject(page, run.m_datasheet);
  run.m_template = tmpl;
  run.m_primary = primary;
  run.m_created.RemoveAll();
  VariantUtil::SafeArrayMatrix pairs;
  IKXQTemplatePagePtr target;
  KX_CHECK(ctx, main.Workers().GetOverspillAssociation(run, page, false, pairs, &target));
  if (pairs.Array() == nullptr) return S_OK;
  IKXQClassViewPtr view;
  _bstr_t name;
  ReadOverspillAssociation(pairs, position, view, name);
  if (view && name.length() > 0) {
    KX_CHECK(ctx, main.Workers().OverspillAttribute(run, page, view, name, target));
  }
  const HRESULT hr = main.Workers().RegisterNewPages(run);
  KX_CHECK(ctx, hr);
  (void)kOverspillFile;
  return hr;
}

}  // namespace

ListRowsById& Main::KeptListRows(IKXQObject* page) {
  constexpr size_t kMostKeptPages = 16;
  const auto found = m_keptRows.find(page);
  if (found != m_keptRows.end()) return *found->second.rows;
  if (m_keptRows.size() >= kMostKeptPages) m_keptRows.clear();
  KeptRows& kept = m_keptRows[page];
  kept.page = page;
  kept.rows = std::make_shared<ListRowsById>(page);
  return *kept.rows;
}

void Main::KeepRecordedRows(IKXQObject* page, const std::vector<int32_t>& ids) {
  if (page != nullptr) KeptListRows(page).KeepRecorded(ids);
}

HRESULT Main::OnTriggerFired(IKXQTrigger* trigger, IKXQApplication* application) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, trigger);
    IKXQObjectPtr object;
    KX_CHECK(ctx, trigger->GetOwner(&object));
    if (!object || IsObjectMarked(ctx, object)) return S_OK;
    IKXQClassPtr cls;
    KXDBDatasheetSvcs::GetObjectClass(object, cls);
    if (!cls) return S_OK;
    const bool isDatasheet = ClassIsKindOf(ctx, cls, u"Datasheet");
    _bstr_t name;
    KX_CHECK(ctx, trigger->GetName(name.GetAddress()));
    const bool permanentFilter = name.length() > 0 && name.view() == u"SSPF";
    if (!permanentFilter && !isDatasheet && !ClassIsKindOf(ctx, cls, u"Page")) return S_OK;
    // What a callback does works with the host's application and store:
    // while detached it is refused, as a request is.
    if (m_pApplication == nullptr) return ReportNotAttached();
    if (permanentFilter) return ApplyPermanentFilterTrigger(object, trigger, isDatasheet);
    if (isDatasheet) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializeDatasheetTriggerData(*this, object, trigger));
      KX_CHECK(ctx, LaunchDatasheetEvent(object, 1));
      return S_OK;
    }
    IKXQTemplatePagePtr templatePage;
    if (FAILED(KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, object, &templatePage, 1))) {
      ClearThreadErrorInfo();
      templatePage = nullptr;
    }
    if (!templatePage) return S_OK;
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    const bool continuous = format.length() > 0;

    KX_CHECK(ctx, trigger->GetName(name.GetAddress()));
    const std::vector<_bstr_t> keys = ReadFiredKeys(trigger);
    const bool fieldTrigger = name.length() > 0 && _wcsicmp(name, u"Field") == 0;
    // The overspill run of a fired association: placement is the caller's.
    OverspillUtils run(this);
    constexpr int32_t kCallbackMode = 4;
    // The walks of the items recorded anew, for the events raised below.
    std::map<int32_t, std::shared_ptr<const FieldUtils::SettledWalk>> itemWalks;
    if (!continuous && fieldTrigger) {
      struct ItemWalks {
        MainContext& main;
        ~ItemWalks() { main.m_itemWalks = nullptr; }
      } recording{*this};
      m_itemWalks = &itemWalks;
      KX_CHECK(ctx, KXDBDatasheetServices::InitializeFieldTriggers(*this, object, trigger, &keys));
      m_itemWalks = nullptr;
      VARIANT_BOOL has = VARIANT_FALSE;
      KX_CHECK(ctx, object->HasTrigger(_bstr_t(u"Overspill"), &has));
      if (has == VARIANT_TRUE) {
        _com_ptr_t<IKXQTrigger> overspill;
        KX_CHECK(ctx, object->get_Trigger(_bstr_t(u"Overspill"), &overspill));
        if (overspill) {
          KX_CHECK(ctx,
                   KXDBDatasheetServices::InitializeNodeTriggerData(*this, object, run, overspill));
        }
      }
    } else if (!continuous) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializeNodeTriggerData(*this, object, run, trigger));
    } else {
      // The rows' items keep their reads; the keys are cleared so that the
      // next change of a row fires it again.
      KX_CHECK(ctx, trigger->ClearFiredKeys());
    }

    PageLoadContext context(this);
    GetPageOverspillChain(context, object);
    KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, object));
    ListRowsById& rows = KeptListRows(object);
    // A page event still pending shows the whole page when it is delivered
    // (a long list that lost a row raises one): its fields are not sent
    // again in a field event.
    const bool pageEventPending = fieldTrigger && PageEventPending(object, 1);
    for (const _bstr_t& key : keys) {
      const OLECHAR* text = key.length() > 0 ? static_cast<const OLECHAR*>(key) : u"";
      // A row key stands for its object in every row that shows it, and for
      // the row its item watched, which may show another object now; a key
      // that names no position (a row gone from the page) is passed over.
      const std::vector<int32_t> positions =
          continuous ? ContinuousListKeyPositions(m_continuousPageHelper, text, rows)
                     : std::vector<int32_t>{static_cast<int32_t>(_wtol(text))};
      for (const int32_t position : positions) {
        const auto runItem = [&](KXComException& item) {
          if (fieldTrigger) {
            const int32_t field = continuous ? position : position + 1;
            std::shared_ptr<const FieldUtils::SettledWalk> walk;
            if (const auto kept = itemWalks.find(field); kept != itemWalks.end()) {
              walk = std::move(kept->second);
            }
            if (!pageEventPending) {
              KX_CHECK(item, LaunchDataFieldEventWithWalk(object, field, 1, true, std::move(walk)));
            }
            if (m_statusCopy) {
              IKXQObjectPtr datasheet;
              GetOwnerObject(object, datasheet);
              ScopedCurrentDatasheet currentDatasheet(m_pApplication, datasheet);
              ScopedCurrentPage currentPage(m_pApplication, object);
              UpdateStatusCopyField(object, field, context);
            }
          } else {
            KX_CHECK(item, SpillAssociation(*this, run, kCallbackMode, object, position));
          }
          return S_OK;
        };
        const HRESULT itemResult = ServeRequest(u"Main::OnTriggerFired", kSilentFrame, runItem);
        if (FAILED(itemResult)) {
          loaddatasheet::ReportItemFailure(application != nullptr ? application : m_pApplication,
                                           itemResult);
        }
      }
    }
    return S_OK;
  };
  return ServeRequest(u"Main::OnTriggerFired",
                      FrameOptions{.file = kFile, .passReturnedFailure = true}, work);
}

void Main::UpdateStatusCopyField(IKXQObject* page, int32_t field, PageLoadContext& context) {
  KXComException ctx = KXComException::Silent(u"Main::UpdateStatusCopyField");
  IKXQObjectPtr datasheet;
  GetOwnerObject(page, datasheet);
  if (!datasheet) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQAttributePtr copies;
  bool issued = false;
  for (const OLECHAR* list : {u"SubmittedPages", u"CheckedPages", u"IssuedPages"}) {
    IKXQAttributePtr candidate;
    GetAttributeInterface(datasheet, list, candidate);
    if (candidate && KXDBDatasheetSvcs::AttributeHasValue(candidate)) {
      copies = candidate;
      issued = list[0] == u'I';
      break;
    }
  }
  if (!copies) return;
  IKXQObjectPtr copy;
  const int32_t count = GetAttributeCount(copies);
  for (int32_t i = 1; i <= count && !copy; ++i) {
    IKXQObjectPtr entry;
    GetAttributeAsObject(copies, i, entry);
    if (!entry) continue;
    IKXQObjectPtr active;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetActivePage(entry, &active));
    if (active && active.GetInterfacePtr() == page) copy = entry;
  }
  if (!copy) return;
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  IKXQAttributePtr fields;
  IKXQAttributePtr copyFields;
  GetAttributeInterface(page, u"Fields", fields);
  GetAttributeInterface(copy, u"Fields", copyFields);
  CheckPointerArgument(ctx, fields.GetInterfacePtr());
  CheckPointerArgument(ctx, copyFields.GetInterfacePtr());
  _bstr_t stored;
  if (field >= 1 && field <= GetAttributeCount(fields)) {
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, field, stored);
  }
  IKXQTemplateFieldPtr templateField;
  FieldUtils::GetTemplateField(templatePage,
                               stored.length() > 0 ? static_cast<const OLECHAR*>(stored) : nullptr,
                               field, templateField);
  if (!templateField) return;
  // Only the datasheet's own data goes into its copies.
  IKXQObjectPtr holder;
  FieldUtils::ResolveQualifierRoute(holder, page, templateField);
  const int32_t datasheetId = ObjectIdOf(datasheet);
  bool own = false;
  for (int32_t depth = 0; holder && depth < 1000 && !own; ++depth) {
    own = ObjectIdOf(holder) == datasheetId;
    IKXQObjectPtr owner;
    GetOwnerObject(holder, owner);
    holder = owner;
  }
  if (!own) return;
  _bstr_t text;
  KX_CHECK(ctx,
           Workers().WriteFields(context, page, templatePage, field, fields, text.GetAddress()));
  if (!issued) {
    SetAttributeValueAt(copyFields, field, text);
    return;
  }
  KXFieldData record;
  KX_CHECK(ctx, record.SelectField(text, -1));
  _bstr_t issuedText;
  KX_CHECK(ctx, record.WriteFieldData(issuedText.GetAddress(), kFieldDataFull, -1));
  SetAttributeValueAt(copyFields, field, issuedText);
  IKXQAttributePtr references;
  GetAttributeInterface(copy, u"IDWFReferences", references);
  if (references && GetAttributeCount(references) >= 1) {
    UpdateReferencedIssuedFields(copy, issuedText, field);
  }
}

void Main::UpdateReferencedIssuedFields(IKXQObject* issued, const OLECHAR* text, int32_t field) {
  KXComException ctx = KXComException::Silent(u"Main::UpdateReferencedIssuedFields");
  IKXQObjectPtr owner;
  GetOwnerObject(issued, owner);
  if (!owner) return;
  IKXQAttributePtr issuedBy;
  IKXQAttributePtr issuedDate;
  GetAttributeInterface(owner, u"LastIssuedBy", issuedBy);
  GetAttributeInterface(owner, u"LastIssuedDate", issuedDate);
  if (!issuedBy || !issuedDate) return;
  const _bstr_t by = TextOf(owner, u"LastIssuedBy");
  if (by.length() == 0 || TextOf(owner, u"OwningDiscipline").length() == 0) return;
  const double date = GetAttributeDate(ctx, issuedDate);
  IKXQAttributePtr references;
  GetAttributeInterface(issued, u"IDWFReferences", references);
  const int32_t count = references ? GetAttributeCount(references) : 0;
  for (int32_t i = 1; i <= count; ++i) {
    const int32_t id = KXDBDatasheetSvcs::GetAttributeIntegerAt(references, i);
    if (id == 0) continue;
    IKXQObjectPtr referenced;
    if (FAILED(m_pDatabase->get_Object(id, &referenced)) || !referenced) {
      ClearThreadErrorInfo();
      continue;
    }
    IKXQObjectPtr sheet;
    GetOwnerObject(referenced, sheet);
    if (!sheet || TextOf(sheet, u"OwningDiscipline").length() > 0) continue;
    if (!SameText(TextOf(sheet, u"LastIssuedBy"), by)) continue;
    IKXQAttributePtr otherDate;
    GetAttributeInterface(sheet, u"LastIssuedDate", otherDate);
    if (!otherDate || std::fabs(GetAttributeDate(ctx, otherDate) - date) > 0.001 + 1e-9) continue;
    IKXQAttributePtr fields;
    GetAttributeInterface(referenced, u"Fields", fields);
    if (fields) SetAttributeValueAt(fields, field, text);
  }
}
