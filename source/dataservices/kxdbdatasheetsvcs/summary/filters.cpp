#include "summary/filters.h"

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/triggers.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/workertable.h"
#include "summary/composition.h"
#include "summary/sort.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/filters";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};
constexpr OLECHAR kClaimOnly[] = u"KX_CLAIM_ONLY";

using namespace KXDBDatasheetSvcs;

bool IsClaimOnly(const OLECHAR* name) { return name != nullptr && _wcsicmp(name, kClaimOnly) == 0; }

bool IsSummary(KXComException& ctx, MainContext& main, IKXQObject* datasheet) {
  VARIANT_BOOL summary = VARIANT_FALSE;
  KX_CHECK(ctx, IsSummarySheet(main.m_pApplication, datasheet, &summary));
  if (summary == VARIANT_TRUE) return true;
  if (!ClassHasAttribute(datasheet, u"HasSummary")) return false;
  IKXQAttributePtr flag;
  GetAttributeInterface(datasheet, u"HasSummary", flag);
  return flag && GetAttributeAsInteger(flag) > 0;
}

_bstr_t TextOf(IKXQObject* object, const OLECHAR* name) {
  _bstr_t text;
  if (object != nullptr && ClassHasAttribute(object, name))
    GetAttributeString(object, text, name, -1);
  return text;
}

_bstr_t NameOf(IKXQObject* object) {
  _bstr_t name;
  GetObjectName(object, name, false);
  return name;
}

}  // namespace

namespace Composition {

HRESULT ApplyDatasheetFilter(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                             const OLECHAR* name, bool attach, int32_t* count) {
  return ServeRequest(u"Composition::ApplyDatasheetFilter", kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, count);
    *count = 0;
    CheckPointerArgument(ctx, datasheet);
    CheckPointerArgument(ctx, page);
    if (!IsSummary(ctx, main, datasheet)) {
      WriteAlertReply(main, u"Filters can only be used on summary sheets");
      return S_FALSE;
    }
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    const bool continuous = format.length() > 0;

    // A detached filter no longer decides membership: the sheet is composed
    // without one, as "ObjectFilter" then records.
    _variant_t filter;
    const bool named = attach && name != nullptr && name[0] != u'\0';
    if (named && IsClaimOnly(name)) {
      filter = _variant_t(name);
    } else if (named) {
      if (FAILED(main.m_pSchema->GetObjectFilterVariant(_bstr_t(name), filter.GetAddress())) ||
          filter.vt != VT_DISPATCH || filter.pdispVal == nullptr) {
        ClearThreadErrorInfo();
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Datasheet Filter, Failed to retrieve filter %ls for %ld", name,
                                static_cast<long>(ObjectIdOf(datasheet)));
      }
    }
    IKXQObject* target = continuous ? page : datasheet;
    _com_ptr_t<IKXQTrigger> trigger;
    if (attach) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializePermanentFilterTrigger(main, target));
      KX_CHECK(ctx, target->get_Trigger(_bstr_t(u"SSPF"), &trigger));
    } else {
      VARIANT_BOOL has = VARIANT_FALSE;
      KX_CHECK(ctx, target->HasTrigger(_bstr_t(u"SSPF"), &has));
      if (has == VARIANT_TRUE) KX_CHECK(ctx, target->RemoveTrigger(_bstr_t(u"SSPF")));
    }
    KX_CHECK(ctx, main.Workers().ComposeDatasheet(main, filter, datasheet, page, continuous, false,
                                                  count, trigger));
    SetAttributeStringByName(target, u"ObjectFilter", attach && name != nullptr ? name : u"", -1);
    if (!continuous) {
      IKXQAttributePtr pages;
      SetAttributeLong(datasheet, u"NumberOfPages", GetPagesAttributeByStatus(datasheet, 1, pages),
                       -1);
    }
    return S_OK;
  });
}

}  // namespace Composition

// ---------------------------------------------------------------------------
// "ListDatasheetFilters"

const GrammarRecord* ListDatasheetFiltersSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ListDatasheetFilters",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId)});
  return kGrammar.data();
}

HRESULT ListDatasheetFiltersMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ListDatasheetFiltersMessageParser::ListDatasheetFilters() {
  constexpr auto kMethod = u"ListDatasheetFiltersMessageParser::ListDatasheetFilters";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    _bstr_t current;
    if (m_pageId >= 0) {
      IKXQObjectPtr page;
      GetStoreObject(main.m_pDatabase, page, m_pageId);
      IKXQObjectPtr datasheet;
      GetOwnerObject(page, datasheet);
      CheckPointerArgument(ctx, datasheet.GetInterfacePtr());
      if (!IsSummary(ctx, main, datasheet)) {
        WriteAlertReply(Reply(), u"Filters can only be used on summary sheets");
        return S_OK;
      }
      current = TextOf(datasheet, u"ObjectFilter");
      if (current.length() > 0 && IsClaimOnly(current)) current = _bstr_t();
      if (current.length() == 0) current = TextOf(page, u"ObjectFilter");
    }
    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, main.m_pSchema->get_ObjectFilters(&raw));
    WriteNameTitleList<IKXQObjectFilter>(Reply(), m_targetId.c_str(), m_status, raw, u"Filters",
                                         u"Filter", &current);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ListDatasheetFilters(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetFiltersMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetFilters", request);
}

// ---------------------------------------------------------------------------
// "ApplyDatasheetFilter"

const GrammarRecord* ApplyDatasheetFilterSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ApplyDatasheetFilter",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
       Grammar::String(u"FilterId", FilterId), Grammar::Boolean(u"Attach", Attach)});
  return kGrammar.data();
}

HRESULT ApplyDatasheetFilterMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case FilterId: return Store(m_filterId, value);
    case Attach: return Store(m_attach, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ApplyDatasheetFilterMessageParser::ApplyDatasheetFilter() {
  constexpr auto kMethod = u"ApplyDatasheetFilterMessageParser::ApplyDatasheetFilter";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, m_pageId);
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    int32_t count = 0;
    const HRESULT hr = Composition::ApplyDatasheetFilter(main, datasheet, page, m_filterId.c_str(),
                                                         m_attach, &count);
    KX_CHECK(ctx, hr);
    // A refused sheet has had its one alert.
    if (hr == S_OK) WriteCountAlert(Reply(), u"Filtered", count);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ApplyDatasheetFilter(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ApplyDatasheetFilterMessageParser>(
      main, u"KXDBDatasheetSvcs::ApplyDatasheetFilter", request);
}

// ---------------------------------------------------------------------------
// "MakeSummaryProjectWide"

const GrammarRecord* MakeSummaryProjectWideSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(), Grammar::Element(u"MakeSummaryProjectWide", 1));
  return kGrammar.data();
}

HRESULT MakeSummaryProjectWideMessageParser::MakeSummaryProjectWide() {
  constexpr auto kMethod = u"MakeSummaryProjectWideMessageParser::MakeSummaryProjectWide";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    const OLECHAR* id = m_targetId.c_str();
    IKXQObjectPtr datasheet;
    GetStoreObject(main.m_pDatabase, datasheet,
                   id != nullptr ? static_cast<int32_t>(_wtol(id)) : 0);
    bool local = false;
    const bool summary = CheckSummarySheetProject(main.m_pApplication, datasheet, &local, nullptr);
    if (!summary || !local) {
      const _bstr_t name = NameOf(datasheet);
      const std::u16string text =
          kx_format(summary ? u"Summary sheet '%ls' is not local to the project"
                            : u"Datasheet '%ls' not a summary sheet",
                    name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"");
      WriteAlertReply(Reply(), text.c_str());
      return S_OK;
    }
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(main.m_pApplication, datasheet, &tmpl, 1));
    bool changed = false;
    KX_CHECK(ctx, main.UpdateSummarySheet(datasheet, tmpl, &changed));
    SetAttributeLong(datasheet, u"ProjectId", 1, -1);
    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    XMLReply::WriteElement(Reply(), u"MakeSummaryProjectWide", _bstr_t(u"True"));
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::MakeSummaryProjectWide(MainContext& main, const OLECHAR* request) {
  return ServeMessage<MakeSummaryProjectWideMessageParser>(
      main, u"KXDBDatasheetSvcs::MakeSummaryProjectWide", request);
}
