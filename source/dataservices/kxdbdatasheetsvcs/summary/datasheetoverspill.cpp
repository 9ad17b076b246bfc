#include "summary/datasheetoverspill.h"

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/pageoperations.h"
#include "loader/triggers.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/overspillutils.h"
#include "model/scopedcurrent.h"
#include "summary/composition.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/overspillutils";
constexpr OLECHAR kMessageFile[] = u"source/dataservices/kxdbdatasheetsvcs/datasheetoverspill";
constexpr FrameOptions kMessageFrame{.file = kMessageFile};

using namespace KXDBDatasheetSvcs;

_bstr_t TemplateName(IKXQTemplate* tmpl) {
  _bstr_t name;
  if (tmpl != nullptr && FAILED(tmpl->get_Name(name.GetAddress()))) ClearThreadErrorInfo();
  return name;
}

const OLECHAR* Text(const _bstr_t& text) {
  return text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"";
}

int32_t DefaultCase(IKXQObject* datasheet) {
  IKXQAttributePtr value;
  GetAttributeInterface(datasheet, u"DefaultCase", value);
  return value ? GetAttributeAsInteger(value) : 0;
}

std::vector<IKXQClassViewPtr> RootNodesOf(KXComException& ctx, IKXQTemplatePage* templatePage) {
  SAFEARRAY* nodes = nullptr;
  KX_CHECK(ctx, templatePage->get_RootNodes(&nodes));
  return Composition::ClassViews(nodes);
}

void Copy(const ComPtrArray<IKXQClassView>& from, ComPtrArray<IKXQClassView>& to) {
  to.RemoveAll();
  for (int32_t i = 0; i < from.GetCount(); ++i) to.Add(from.GetAt(i));
}

}  // namespace

// ---------------------------------------------------------------------------
// The overspill run

HRESULT OverspillUtils::CreatePageOverspill(IKXQObject* page) {
  KXComException ctx(u"OverspillUtils::CreatePageOverspill");
  if (m_pOwner == nullptr || m_mode < 1) return S_FALSE;
  CheckPointerArgument(ctx, page);
  m_created.RemoveAll();
  m_primary = nullptr;
  m_template = nullptr;
  IKXQApplication* application = m_pOwner->m_pApplication;
  if (m_mode == 1) {
    IKXQObjectPtr next;
    GetOverspillTo(next, page, true);
    if (next) return S_OK;
  }
  KX_CHECK(ctx, GetTemplate(application, page, &m_template, 1));
  KX_CHECK(ctx, GetPagePrimaryObject(application, page, m_template, &m_primary, nullptr, 1));
  VariantUtil::SafeArrayMatrix pairs;
  IKXQTemplatePagePtr target;
  KX_CHECK(ctx, GetOverspillAssociation(page, m_mode < 2, pairs, &target));
  if (!target) return S_FALSE;
  if (m_primary) {
    for (int32_t j = 0; pairs.Array() != nullptr && j < pairs.Count2(); ++j) {
      IKXQClassViewPtr view;
      _bstr_t name;
      ReadOverspillAssociation(pairs, j, view, name);
      if (view && name.length() > 0) OverspillAttribute(page, view, name, target);
    }
  } else if (m_mode == 1) {
    IKXQObjectPtr created;
    CreateOverspillPage(page, target, created);
  }
  return RegisterNewPages();
}

HRESULT OverspillUtils::CreateOverspillPages() {
  if (m_pOwner == nullptr || m_mode < 1 || !m_datasheet) return S_FALSE;
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(m_datasheet, 1, pages);
  std::vector<IKXQObjectPtr> list;
  for (int32_t i = count; i >= 1; --i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, i, page);
    if (page) list.push_back(page);
  }
  for (const IKXQObjectPtr& page : list) (void)CreatePageOverspill(page);
  return S_OK;
}

void OverspillUtils::OverspillAttribute(IKXQObject* page, IKXQClassView* view, const OLECHAR* name,
                                        IKXQTemplatePage* target) {
  KXComException ctx(u"OverspillUtils::OverspillAttribute");
  ComPtrArray<IKXQClassView> nodes;
  KX_CHECK(ctx, FindMembersByName(view, name, nodes));
  ComPtrArray<IKXQObject> entries;
  IKXQFieldValuePtr holder;
  if (nodes.GetCount() == 0 ||
      !FieldUtils::GetObjectVector(page, nodes.GetAt(0), entries, holder)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Template '%ls' overspill attribute '%ls' is not a vector",
                            Text(TemplateName(m_template)), name);
  }
  if (m_mode < 2) {
    IKXQObjectPtr created;
    CreateOverspillPage(page, target, created);
    return;
  }
  if (!holder) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t total = entries.GetCount();
  int32_t placed = nodes.GetCount() + CountChainCapacity(page, nodes, name);
  IKXQObjectPtr current(page);
  ComPtrArray<IKXQClassView> currentNodes;
  Copy(nodes, currentNodes);
  // A corrupt chain that closes on itself must not be walked for ever.
  std::vector<IKXQObject*> walked{page};
  while (placed < total) {
    if (m_mode == 4) PlaceVectorEntries(current, currentNodes, name, entries);
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr nextTarget;
    KX_CHECK(ctx, GetOverspillAssociation(current, true, pairs, &nextTarget));
    IKXQObjectPtr next;
    GetOverspillTo(next, current, false);
    if (!next) CreateOverspillPage(current, nextTarget, next);
    for (IKXQObject* seen : walked) {
      if (seen == next.GetInterfacePtr()) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"The overspill chain of page %d is circular",
                                static_cast<int>(ObjectIdOf(page)));
      }
    }
    walked.push_back(next);
    ComPtrArray<IKXQClassView> mapped;
    MapRouteNodes(next, currentNodes, nextTarget, name, mapped);
    placed += mapped.GetCount();
    Copy(mapped, currentNodes);
    current = next;
  }
  // The last page reached gets its entries as well as the pages before it.
  if (m_mode == 4) PlaceVectorEntries(current, currentNodes, name, entries);
}

void OverspillUtils::CreateOverspillPage(IKXQObject* page, IKXQTemplatePage* target,
                                         IKXQObjectPtr& created) {
  KXComException ctx(u"OverspillUtils::CreateOverspillPage");
  created = nullptr;
  if (page == nullptr || target == nullptr)
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQObjectPtr datasheet = m_datasheet;
  if (!datasheet) GetOwnerObject(page, datasheet);
  KX_CHECK(ctx, target->CreatePage(datasheet, m_primary, DefaultCase(datasheet), 1, &created));
  if (!created) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  m_created.Add(created);
  IKXQAttributePtr link;
  GetAttributeInterface(page, u"OverspillTo", link);
  if (!link) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  KX_CHECK(ctx,
           link->PutValue(_variant_t(), _variant_t(),
                          _variant_t(static_cast<IDispatch*>(created.GetInterfacePtr()), true)));
}

void OverspillUtils::MapRouteNodes(IKXQObject* page, const ComPtrArray<IKXQClassView>& nodes,
                                   IKXQTemplatePage* target, const OLECHAR* name,
                                   ComPtrArray<IKXQClassView>& mapped) {
  KXComException ctx(u"OverspillUtils::MapRouteNodes");
  mapped.RemoveAll();
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, GetTemplatePage(m_pOwner->m_pApplication, page, &templatePage, 1));
  if ((templatePage && Composition::SameObject(templatePage, target)) ||
      (!templatePage && target == nullptr)) {
    Copy(nodes, mapped);
    return;
  }
  if (target != nullptr) {
    for (const IKXQClassViewPtr& root : RootNodesOf(ctx, target)) {
      FindRouteNodes(root, name, mapped);
      if (mapped.GetCount() > 0) break;
    }
  }
  if (mapped.GetCount() == 0) {
    _bstr_t targetName;
    if (target != nullptr) {
      IKXQTemplatePtr targetTemplate;
      KX_CHECK(ctx, target->get_Template(&targetTemplate));
      targetName = TemplateName(targetTemplate);
    }
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Template '%ls' cannot overspill onto template '%ls' as no equivalent "
                            u"overspill route (%ls) exists",
                            Text(TemplateName(m_template)), Text(targetName), name);
  }
}

void OverspillUtils::FindRouteNodes(IKXQClassView* view, const OLECHAR* name,
                                    ComPtrArray<IKXQClassView>& nodes) {
  KXComException ctx(u"OverspillUtils::FindRouteNodes");
  KX_CHECK(ctx, FindMembersByName(view, name, nodes));
  if (nodes.GetCount() > 0) return;
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  for (const IKXQClassViewPtr& child : Composition::ClassViews(children))
    FindRouteNodes(child, name, nodes);
}

int32_t OverspillUtils::CountChainCapacity(IKXQObject* page,
                                           const ComPtrArray<IKXQClassView>& nodes,
                                           const OLECHAR* name) {
  KXComException ctx(u"OverspillUtils::CountChainCapacity");
  ComPtrArray<IKXQObject> chain;
  IKXQObjectPtr previous;
  GetOverspillFrom(previous, page, chain);
  ComPtrArray<IKXQClassView> current;
  Copy(nodes, current);
  int32_t total = 0;
  for (int32_t i = chain.GetCount() - 1; i >= 1; --i) {
    IKXQObject* front = chain.GetAt(i);
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    KX_CHECK(ctx, GetOverspillAssociation(front, true, pairs, &target));
    ComPtrArray<IKXQClassView> mapped;
    MapRouteNodes(front, current, target, name, mapped);
    total += mapped.GetCount();
    Copy(mapped, current);
  }
  return total;
}

void OverspillUtils::PlaceVectorEntries(IKXQObject* page, const ComPtrArray<IKXQClassView>& nodes,
                                        const OLECHAR* name,
                                        const ComPtrArray<IKXQObject>& entries) {
  KXComException ctx(u"OverspillUtils::PlaceVectorEntries");
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t offset = CountChainCapacity(page, nodes, name);
  for (int32_t i = 0; i < nodes.GetCount(); ++i) {
    IKXQClassView* node = nodes.GetAt(i);
    IKXQObjectPtr object;
    GetNodeObject(object, page, node);
    if (!object) {
      if (IsNodeObjectHidden(page, node, false)) continue;
      const int32_t at = offset + i;
      if (at >= entries.GetCount()) continue;
      IKXQObject* entry = entries.GetAt(at);
      if (entry == nullptr || AttributeContainsObject(page, u"NodeObjects", entry)) continue;
      GetPageNodeObjects(page, node, entry, true);
      continue;
    }
    bool member = false;
    for (int32_t k = 0; k < entries.GetCount() && !member; ++k) {
      member = Composition::SameObject(entries.GetAt(k), object);
    }
    if (member) continue;
    FieldUtils::UpdateHiddenObjects(page, node, true);
    GetPageNodeObjects(page, node, nullptr, false);
  }
}

HRESULT OverspillUtils::RegisterNewPages() {
  KXComException ctx(u"OverspillUtils::RegisterNewPages");
  if (m_created.GetCount() == 0) return S_OK;
  IKXQObjectPtr datasheet = m_datasheet;
  if (!datasheet) GetOwnerObject(m_created.GetAt(0), datasheet);
  ComPtrArray<IKXQObject> chain;
  IKXQObjectPtr reference;
  GetOverspillFrom(reference, m_created.GetAt(0), chain);
  for (int32_t i = m_created.GetCount() - 1; i >= 0; --i) {
    IKXQObject* page = m_created.GetAt(i);
    if (m_mode != 2) KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(*m_pOwner, page));
    RenumberPages(datasheet, page, reference, false);
    IKXQAttributePtr number;
    GetAttributeInterface(datasheet, u"NumberOfPages", number);
    SetAttributeLong(datasheet, u"NumberOfPages", (number ? GetAttributeAsInteger(number) : 0) + 1,
                     -1);
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// "DatasheetOverspill"

const GrammarRecord* DatasheetOverspillSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"DatasheetOverspill", 1, {Grammar::Integer(u"PageId", PageId)}));
  return kGrammar.data();
}

HRESULT DatasheetOverspillMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT DatasheetOverspillMessageParser::DatasheetOverspill() {
  constexpr auto kMethod = u"DatasheetOverspillMessageParser::DatasheetOverspill";
  return ServeRequest(kMethod, kMessageFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    if (main.m_pDatabase == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kMessageFile), E_FAIL,
                              u"Do not have access to object store");
    }
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, m_pageId);
    IKXQObjectPtr datasheet;
    GetOwnerObject(page, datasheet);
    IKXQApplication* application = main.m_pApplication;
    ScopedCurrentDatasheet currentDatasheet(application, datasheet);
    ScopedCurrentPage currentPage(application, page);
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, page, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    _bstr_t kind;
    KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
    if (kind.length() > 0 && _wcsicmp(kind, u"Summary") == 0) {
      // A summary sheet grows by one page made from its first template page.
      IKXQTemplatePagePtr first;
      KX_CHECK(ctx, tmpl->get_Page(1, &first));
      CheckPointerArgument(ctx, first.GetInterfacePtr());
      IKXQObjectPtr created;
      KX_CHECK(ctx, first->CreatePage(datasheet, nullptr, DefaultCase(datasheet), 1, &created));
      CheckPointerArgument(ctx, created.GetInterfacePtr());
      KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, created));
      IKXQAttributePtr pages;
      const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
      IKXQObjectPtr last;
      for (int32_t i = count; i >= 1 && !last; --i) GetAttributeAsObject(pages, i, last);
      RenumberPages(datasheet, created, last, false);
      IKXQAttributePtr number;
      GetAttributeInterface(datasheet, u"NumberOfPages", number);
      SetAttributeLong(datasheet, u"NumberOfPages",
                       (number ? GetAttributeAsInteger(number) : 0) + 1, -1);
      return S_OK;
    }
    OverspillUtils run(&main);
    run.m_datasheet = datasheet;
    run.m_mode = 1;
    KX_CHECK(ctx, run.CreatePageOverspill(page));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::DatasheetOverspill(MainContext& main, const OLECHAR* request) {
  return ServeMessage<DatasheetOverspillMessageParser>(
      main, u"KXDBDatasheetSvcs::DatasheetOverspill", request);
}
