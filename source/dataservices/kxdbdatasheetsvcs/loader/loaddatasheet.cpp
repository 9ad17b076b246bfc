// The datasheet loader, the page set-up and page contents writers and the
// preparation of a page for the field writers. The field, unit, revision,
// annotation and qualifier writers are in loaddatasheetwriters.cpp.
#include "loader/loaddatasheet.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/routecache.h"
#include "host/response.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "kxxmlutils.h"
#include "loader/pageoperations.h"
#include "loader/triggers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/overspillutils.h"
#include "model/scopedcurrent.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/loaddatasheet";
constexpr FrameOptions kFrame{.file = kFile};

// Folder chains deeper than this are taken as broken (an ownership cycle).
constexpr int kMaxFolderDepth = 256;

_variant_t BoolVariant(bool value) { return _variant_t(value); }
_variant_t LongVariant(int32_t value) { return _variant_t(static_cast<int>(value), VT_I4); }

void AddAttribute(KXComException& ctx, IKXQXMLAttributes* attributes, const OLECHAR* name,
                  const _variant_t& value) {
  KX_CHECK(ctx, attributes->Add(_bstr_t(name), value));
}

// The status watermark text, or null for a status outside 1 to 4.
const OLECHAR* WatermarkText(int32_t status) {
  switch (status) {
    case 1: return u"Draft";
    case 2: return u"Submitted";
    case 3: return u"Checked";
    case 4: return u"Issued";
    default: return u"Unknown";
  }
}

// A datasheet (of status 1) is read-only when one of its folders is a
// retrievable folder or lies below one. The walk up stops at an object it
// has seen before, so a cycle of owners cannot hang the load.
bool IsInRetrievableFolder(KXComException& ctx, IKXQObject* datasheet) {
  if (datasheet == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQAttributePtr folders;
  KX_CHECK(ctx, datasheet->get_Attribute(_bstr_t(u"Folders"), _variant_t(), &folders));
  if (!folders) return false;
  const int32_t count = GetAttributeCount(folders);
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr folder;
    KXDBDatasheetSvcs::GetAttributeObjectAt(folders, folder, i);
    if (!folder) continue;
    if (KXDBDatasheetSvcs::IsObjectOfClass(folder, u"RetrievableFolder")) return true;
    std::vector<IKXQObject*> seen{folder.GetInterfacePtr()};
    IKXQObjectPtr current = folder;
    while (static_cast<int>(seen.size()) < kMaxFolderDepth) {
      IKXQObjectPtr owner;
      KX_CHECK(ctx, current->GetOwner(&owner, 0));
      if (!owner) break;
      if (std::find(seen.begin(), seen.end(), owner.GetInterfacePtr()) != seen.end()) break;
      seen.push_back(owner.GetInterfacePtr());
      if (KXDBDatasheetSvcs::IsObjectOfClass(owner, u"RetrievableFolder")) return true;
      current = owner;
    }
  }
  return false;
}

// The print set-up attributes of a page in the order they are written.
enum class SetupKind { kInteger, kReal, kBoolean };
struct SetupAttribute {
  const OLECHAR* name;
  SetupKind kind;
};
constexpr SetupAttribute kPrintSetup[] = {
    {u"Orientation", SetupKind::kInteger},    {u"ScaleMode", SetupKind::kInteger},
    {u"ScaleFactor", SetupKind::kReal},       {u"CenterHorizontal", SetupKind::kBoolean},
    {u"CenterVertical", SetupKind::kBoolean}, {u"TopMargin", SetupKind::kInteger},
    {u"LeftMargin", SetupKind::kInteger},     {u"BottomMargin", SetupKind::kInteger},
    {u"RightMargin", SetupKind::kInteger},    {u"PaperSize", SetupKind::kInteger},
    {u"PaperWidth", SetupKind::kInteger},     {u"PaperLength", SetupKind::kInteger},
    {u"PaperSource", SetupKind::kInteger},
};

// One print set-up value as read; `has` false when the page has none.
struct SetupValue {
  bool has = false;
  LONG integer = 0;
  double real = 0;
  bool boolean = false;
};

// What the page's "Page" element says, however its values were read.
struct PageSetup {
  std::u16string name;
  _bstr_t templatePageId;
  _bstr_t templateId;
  LONG checknum = 0;
  std::array<SetupValue, std::size(kPrintSetup)> setups;
};

SetupValue ReadSetupAttribute(KXComException& ctx, IKXQObject* page, const SetupAttribute& setup) {
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  SetupValue value;
  IKXQAttributePtr attribute;
  GetAttributeInterface(page, setup.name, attribute);
  if (!attribute) return value;
  switch (setup.kind) {
    case SetupKind::kInteger: value.integer = GetAttributeAsInteger(attribute, &value.has); break;
    case SetupKind::kReal:
      value.real = KXDBDatasheetSvcs::GetAttributeReal(attribute, nullptr, &value.has);
      break;
    case SetupKind::kBoolean:
      value.boolean = KXDBDatasheetSvcs::GetAttributeBoolean(attribute, &value.has);
      break;
  }
  return value;
}

void WritePageElement(KXComException& ctx, int32_t pageId, const PageSetup& page, BSTR* text) {
  _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
  KX_CHECK(ctx, writer->StartElement(u"Page"));
  KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
  KX_CHECK(ctx, writer->WriteAttribute(u"Name", page.name.c_str()));
  KX_CHECK(ctx, writer->WriteAttribute(u"TemplatePageId",
                                       static_cast<const OLECHAR*>(page.templatePageId)));
  KX_CHECK(ctx,
           writer->WriteAttribute(u"TemplateId", static_cast<const OLECHAR*>(page.templateId)));
  KX_CHECK(ctx, writer->WriteAttribute(u"Checknum", page.checknum));
  for (size_t i = 0; i < page.setups.size(); ++i) {
    const SetupValue& setup = page.setups[i];
    if (!setup.has) continue;
    const OLECHAR* setupName = kPrintSetup[i].name;
    switch (kPrintSetup[i].kind) {
      case SetupKind::kInteger:
        KX_CHECK(ctx, writer->WriteAttribute(setupName, setup.integer));
        break;
      case SetupKind::kReal: KX_CHECK(ctx, writer->WriteAttribute(setupName, setup.real)); break;
      case SetupKind::kBoolean:
        KX_CHECK(ctx, writer->WriteAttribute(setupName, setup.boolean));
        break;
    }
  }
  KX_CHECK(ctx, writer->EndElement(u"Page"));
  KX_CHECK(ctx, writer->GetString(text));
}

// The text of a page attribute read with selector 0.
_bstr_t PageText(IKXQObject* page, const OLECHAR* name) {
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(page, name, attribute, 0);
  _bstr_t text;
  if (attribute) KXDBDatasheetSvcs::GetAttributeValueString(attribute, text);
  return text;
}

// A datasheet or page written for editing gets its trigger ("Datasheet",
// "Field") set up and its items recorded, each time: the store keeps the
// triggers but not what their items read, so a trigger an earlier process
// left watches nothing until its items are recorded again. A trigger of
// that name that another service bound to the object stays its own.
void SetUpTrigger(MainContext& main, IKXQObject* object, bool datasheet) {
  if (!KXDBDatasheetServices::IsOwnTrigger(object, datasheet ? u"Datasheet" : u"Field")) return;
  const HRESULT hr = datasheet ? KXDBDatasheetServices::InitializeDatasheetTrigger(main, object)
                               : KXDBDatasheetServices::InitializePageTrigger(main, object);
  // A page whose trigger could not be set up is still shown; the host hears
  // why it will not be kept up to date.
  if (FAILED(hr)) loaddatasheet::ReportItemFailure(main.m_pApplication, hr);
}

}  // namespace

// ---------------------------------------------------------------------------
// PageLoadContext.

PageLoadContext::~PageLoadContext() { SetOverspillChain(nullptr); }

void PageLoadContext::FindTemplateField(IKXQTemplatePage* templatePage, int32_t fieldId,
                                        IKXQTemplateFieldPtr& field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateField");
  field = nullptr;
  CheckPointerArgument(ctx, templatePage);
  if (m_indexedTemplatePage.GetInterfacePtr() != templatePage) {
    // A load that asks once (an event of one field) is answered by the
    // template page itself; the index is made when a second field is asked
    // for.
    m_fieldsById.clear();
    m_indexedTemplatePage = templatePage;
    m_fieldIndexed = false;
    _variant_t number;
    KX_CHECK(ctx, templatePage->GetFieldById(fieldId, &number, &field));
    return;
  }
  if (!m_fieldIndexed) {
    LONG count = 0;
    KX_CHECK(ctx, templatePage->get_FieldCount(&count));
    m_fieldsById.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (LONG number = 1; number <= count; ++number) {
      IKXQTemplateFieldPtr each;
      KX_CHECK(ctx, templatePage->get_Field(number, &each));
      LONG id = -1;
      if (each) KX_CHECK(ctx, each->get_Id(&id));
      m_fieldsById.emplace_back(id, std::move(each));
    }
    // Ordered by id, fields of the same id in page order: the first field of
    // an id is the one found by id. Templates mostly number their fields in
    // page order already.
    const auto byId = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(m_fieldsById.begin(), m_fieldsById.end(), byId)) {
      std::stable_sort(m_fieldsById.begin(), m_fieldsById.end(), byId);
    }
    m_fieldIndexed = true;
  }
  const auto found =
      std::lower_bound(m_fieldsById.begin(), m_fieldsById.end(), fieldId,
                       [](const auto& entry, int32_t id) { return entry.first < id; });
  if (found != m_fieldsById.end() && found->first == fieldId) field = found->second;
}

void PageLoadContext::SetOverspillChain(SAFEARRAY* chain) {
  if (m_overspillChain != nullptr && m_overspillChain != chain) {
    while (m_overspillChain->cLocks > 0) SafeArrayUnlock(m_overspillChain);
    SafeArrayDestroy(m_overspillChain);
  }
  m_overspillChain = chain;
}

// ---------------------------------------------------------------------------
// The loader.

HRESULT GetStatusWatermark(int32_t status, BSTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = SysAllocString(WatermarkText(status));
  return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

namespace KXDBDatasheetSvcs {

HRESULT LoadDatasheet(PageLoadContext& context, IKXQObject* datasheet, int32_t status,
                      bool openForEditing) {
  return ServeRequest(u"KXDBDatasheetSvcs::LoadDatasheet", kFrame, [&](KXComException& ctx) {
    MainContext* main = context.m_pMain;
    CheckPointerArgument(ctx, main);
    _com_ptr_t<IKXQApplication> application(main->m_pApplication);
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    _com_ptr_t<IKXQResponse> response(main->m_pResponse);
    if (!response) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Cannot access the KXQResponse object to write to it");
    }
    const int32_t documentId = ObjectIdOf(datasheet);

    IKXQAttributePtr pages;
    const int32_t pageCount = GetPagesAttributeByStatus(datasheet, status, pages);

    bool activeProject = false;
    const bool summary = CheckSummarySheetProject(application, datasheet, &activeProject, nullptr);
    const int32_t type = activeProject ? 3 : (summary ? 2 : 1);
    const bool scoped = IsDatasheetScoped(application, datasheet, type);
    bool showClaimed = false;
    if (summary) {
      _bstr_t filter;
      GetAttributeString(datasheet, filter, u"ObjectFilter", -1);
      showClaimed = filter.length() > 0 && kx_wcsicmp(filter.view(), u"KX_CLAIM_ONLY") == 0;
    }
    _bstr_t title;
    KX_CHECK(ctx, GetDatasheetName(application, datasheet, title.GetAddress(), true, status));
    _bstr_t name;
    GetAttributeString(datasheet, name, u"DocumentName", -1);
    _bstr_t watermark;
    KX_CHECK(ctx, GetStatusWatermark(status, watermark.GetAddress()));
    const bool readOnly = status == 1 && IsInRetrievableFolder(ctx, datasheet);
    if (readOnly) title = _bstr_t(u"[ReadOnly] ") + title;

    _com_ptr_t<IKXQXMLAttributes> attributes;
    KX_CHECK(ctx, response->NewAttributes(&attributes));
    IKXQAttributePtr baseSet;
    KX_CHECK(ctx, datasheet->get_Attribute(_bstr_t(u"BaseDimensionSet"), _variant_t(), &baseSet));
    _bstr_t dimensionSet(u"");
    if (baseSet) GetAttributeValueString(baseSet, dimensionSet);

    AddAttribute(ctx, attributes, u"CurrentDimensionSet", _variant_t(dimensionSet));
    AddAttribute(ctx, attributes, u"DocumentId", LongVariant(documentId));
    AddAttribute(ctx, attributes, u"Status", LongVariant(status));
    AddAttribute(ctx, attributes, u"Title", _variant_t(title));
    AddAttribute(ctx, attributes, u"Name", _variant_t(name));
    AddAttribute(ctx, attributes, u"Type", LongVariant(type));
    AddAttribute(ctx, attributes, u"Scoped", BoolVariant(scoped));
    AddAttribute(ctx, attributes, u"ShowClaimed", BoolVariant(showClaimed));
    AddAttribute(ctx, attributes, u"Watermark", _variant_t(watermark));
    AddAttribute(ctx, attributes, u"ReadOnly", BoolVariant(readOnly));
    const _bstr_t element(u"Datasheet");
    KX_CHECK(ctx, response->StartElement(element, attributes));

    if (main->m_pRequestContext != nullptr) {
      (void)main->m_pRequestContext->RegisterLoadStorage(&context.m_loadStorage);
      ClearThreadErrorInfo();
    }

    for (int32_t i = 1; i <= pageCount; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      // An empty slot in a page list is skipped, as elsewhere.
      if (!page) continue;
      ScopedCurrentPage currentPage(application, page);
      _bstr_t setup;
      KX_CHECK(ctx, WritePageSetup(page, setup.GetAddress()));
      if (setup.length() == 0) continue;
      KX_CHECK(ctx, response->SendText(setup));
      if (!openForEditing || i == 1) {
        KX_CHECK(ctx, WritePageContents(context, page, status, openForEditing));
      }
    }

    KX_CHECK(ctx, response->Flush());
    KX_CHECK(ctx, response->EndElement(element));
    if (status == 1 && openForEditing) {
      SetUpTrigger(*main, datasheet, true);
    }
    return S_OK;
  });
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// Page set-up and contents.

namespace {

// The page's "Page" values read in one store call, where the store answers
// so; false when it does not or a value is one the usual reads refuse (they
// are made then, to fail as they fail).
bool ReadPageSetupAtOnce(IKXQObject* page, PageSetup& setup) {
  constexpr size_t kHead = 5;  // Name, PageNumber, PageId, TemplateId, Checknum
  constexpr size_t kCount = kHead + std::size(kPrintSetup);
  static const std::array<_bstr_t, kCount> kNames = [] {
    std::array<_bstr_t, kCount> names;
    const OLECHAR* head[kHead] = {u"Name", u"PageNumber", u"PageId", u"TemplateId", u"Checknum"};
    for (size_t i = 0; i < kHead; ++i) names[i] = head[i];
    for (size_t i = 0; i < std::size(kPrintSetup); ++i) names[kHead + i] = kPrintSetup[i].name;
    return names;
  }();
  const _com_ptr_t<IKXQValueReads> reads = KXDBDatasheetSvcs::ValueReadsOf(page);
  if (!reads) return false;
  BSTR names[kCount];
  for (size_t i = 0; i < kCount; ++i) names[i] = kNames[i];
  VARIANT_BOOL defined[kCount] = {};
  VARIANT read[kCount];
  VARIANT whole;
  VariantInit(&whole);
  if (FAILED(reads->ReadValues(kCount, names, whole, defined, read))) return false;
  std::array<_variant_t, kCount> values;
  for (size_t i = 0; i < kCount; ++i) values[i].Attach(read[i]);
  const auto value = [&](size_t i) -> VARIANT* { return defined[i] ? &values[i] : nullptr; };
  if (!KXDBDatasheetSvcs::PageDisplayNameFrom(value(0), value(1), setup.name)) return false;
  if (defined[4] && IsVariantSet(values[4]) &&
      FAILED(VariantToLong(values[4], &setup.checknum, true)))
    return false;
  for (size_t i = 0; i < setup.setups.size(); ++i) {
    const _variant_t& v = values[kHead + i];
    SetupValue& one = setup.setups[i];
    one.has = defined[kHead + i] && IsVariantSet(v);
    if (!one.has) continue;
    HRESULT hr = S_OK;
    switch (kPrintSetup[i].kind) {
      case SetupKind::kInteger: hr = VariantToLong(v, &one.integer, true); break;
      case SetupKind::kReal: hr = VariantToDouble(v, &one.real, true); break;
      case SetupKind::kBoolean: hr = VariantToBool(v, &one.boolean, true); break;
    }
    if (FAILED(hr)) return false;
  }
  if (defined[2]) KXDBDatasheetSvcs::ValueReadText(values[2], setup.templatePageId);
  if (defined[3]) KXDBDatasheetSvcs::ValueReadText(values[3], setup.templateId);
  return true;
}

}  // namespace

HRESULT WritePageSetup(IKXQObject* page, BSTR* text) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageSetup", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, text);
    *text = nullptr;
    const int32_t pageId = ObjectIdOf(page);
    PageSetup setup;
    if (page == nullptr || !ReadPageSetupAtOnce(page, setup)) {
      setup = PageSetup();
      _bstr_t name;
      KXDBDatasheetSvcs::GetPageDisplayName(page, name.GetAddress());
      setup.name = name.view();
      setup.templatePageId = PageText(page, u"PageId");
      setup.templateId = PageText(page, u"TemplateId");
      IKXQAttributePtr checknumAttribute;
      GetAttributeInterfaceAt(page, u"Checknum", checknumAttribute, 0);
      setup.checknum = checknumAttribute ? GetAttributeAsInteger(checknumAttribute) : 0;
      for (size_t i = 0; i < setup.setups.size(); ++i)
        setup.setups[i] = ReadSetupAttribute(ctx, page, kPrintSetup[i]);
    }
    WritePageElement(ctx, pageId, setup, text);
    return S_OK;
  });
}

HRESULT WritePageContents(PageLoadContext& context, IKXQObject* page, int32_t status,
                          bool openForEditing) {
  const auto work = [&](KXComException& ctx) {
    MainContext* main = context.m_pMain;
    CheckPointerArgument(ctx, main);
    CheckPointerArgument(ctx, page);
    // The field writers and the trigger set-up walk every field's route
    // over the same page lists; the set-up takes the writers' walks.
    const KXDBDatasheetSvcs::PageListsScope lists(page);
    const RouteCache::CallScope keptWalks;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplatePage(main->m_pApplication, page, &templatePage, status));
    KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, page));
    GetPageOverspillChain(context, page);
    KX_CHECK(ctx, WritePageFields(context, page, templatePage, status));
    KX_CHECK(ctx, WritePageUnits(context, page, templatePage));
    KX_CHECK(ctx, WritePageRevisions(context, page, templatePage));
    KX_CHECK(ctx, WritePageAnnotations(context, page, status));
    KX_CHECK(ctx, WritePageQualifiers(context, page, status));
    if (status == 1 && openForEditing) SetUpTrigger(*main, page, false);
    context.m_continuousPage = false;
    return S_OK;
  };
  const HRESULT hr = ServeRequest(u"KXDBDatasheetSvcs::WritePageContents", kFrame, work);
  context.m_continuousPage = false;
  return hr;
}

HRESULT InitializeContinuousPage(PageLoadContext& context, IKXQTemplatePage* templatePage,
                                 IKXQObject* page) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, context.m_pMain);
    CheckPointerArgument(ctx, templatePage);
    VARIANT_BOOL continuous = VARIANT_FALSE;
    KX_CHECK(ctx, templatePage->get_IsContinuous(&continuous));
    if (continuous == VARIANT_FALSE) {
      context.m_continuousFormatChecked = true;
      return S_OK;
    }
    MainContext& main = *context.m_pMain;
    KX_CHECK(ctx, main.GetContinuousPageHelper().Initialize(main.m_pApplication, templatePage, page,
                                                            false));
    context.m_continuousPage = true;
    context.m_continuousFormatChecked = true;
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::InitializeContinuousPage", kFrame, work);
}

HRESULT InitializeContinuousPageOnce(PageLoadContext& context, IKXQTemplatePage* templatePage) {
  const auto work = [&](KXComException& ctx) {
    if (context.m_continuousPage) return S_OK;
    CheckPointerArgument(ctx, context.m_pMain);
    CheckPointerArgument(ctx, templatePage);
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    if (format.length() == 0) return S_OK;
    MainContext& main = *context.m_pMain;
    KX_CHECK(ctx, main.GetContinuousPageHelper().InitializeTemplate(main.m_pApplication,
                                                                    templatePage, false));
    context.m_continuousPage = true;
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::InitializeContinuousPageOnce", kFrame, work);
}

SAFEARRAY* GetPageOverspillChain(PageLoadContext& context, IKXQObject* page) {
  context.SetOverspillChain(nullptr);
  if (page != nullptr && KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page")) {
    OverspillUtils overspill(context.m_pMain);
    SAFEARRAY* chain = nullptr;
    overspill.GetOverspillSourceChain(page, &chain);
    context.SetOverspillChain(chain);
  }
  return context.m_overspillChain;
}

HRESULT IsTemplateChecknumChanged(PageLoadContext& context, IKXQObject* page,
                                  IKXQAttribute* attribute, int32_t status, bool* changed) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, changed);
    *changed = false;
    CheckPointerArgument(ctx, attribute);
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQObjectPtr holder;
    KX_CHECK(ctx, attribute->get_Owner(&holder));
    if (!holder) return S_OK;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(context.m_pMain->m_pApplication, holder,
                                                     &templatePage, status));
    if (!templatePage) return S_OK;
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, templatePage->get_Template(&tmpl));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    _bstr_t templateChecknum;
    KX_CHECK(ctx, tmpl->get_Checknum(templateChecknum.GetAddress()));
    _bstr_t pageChecknum;
    bool pageHas = false;
    IKXQAttributePtr checknum;
    GetAttributeInterfaceAt(page, u"Checknum", checknum, -1);
    if (checknum) KXDBDatasheetSvcs::GetAttributeValueString(checknum, pageChecknum, &pageHas);
    const bool templateHas = static_cast<const OLECHAR*>(templateChecknum) != nullptr;
    if (pageHas != templateHas) {
      *changed = true;
    } else if (pageHas && kx_wcsicmp(pageChecknum.view(), templateChecknum.view()) != 0) {
      *changed = true;
    }
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::IsTemplateChecknumChanged", kFrame, work);
}
