#include "model/overspillutils.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/overspillutils";

bool IsSeparator(OLECHAR c) { return c == u'(' || c == u'[' || c == u' '; }

// The text of `name` without leading separators, cut at the next one.
std::u16string_view BaseName(std::u16string_view name) {
  size_t start = 0;
  while (start < name.size() && IsSeparator(name[start])) ++start;
  size_t end = start;
  while (end < name.size() && !IsSeparator(name[end])) ++end;
  return name.substr(start, end - start);
}

// A missing name (empty) equals only a missing name.
bool SameName(std::u16string_view a, std::u16string_view b) { return kx_wcsicmp(a, b) == 0; }

// The page a link attribute of `page` names; null when the class has no
// such attribute or it holds none.
void ReadLink(IKXQObject* page, const OLECHAR* name, IKXQObjectPtr& linked) {
  linked = nullptr;
  IKXQAttributePtr link;
  GetAttributeInterface(page, name, link);
  if (link) GetAttributeAsObject(link, 0, linked);
}

// The pages a walk has reached, to stop it when the chain closes on itself.
class VisitedPages {
 public:
  void Visit(KXComException& ctx, IKXQObject* page, IKXQObject* start) {
    if (std::find(m_pages.begin(), m_pages.end(), page) != m_pages.end()) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"The overspill chain of page %d is circular",
                              static_cast<int>(ObjectIdOf(start)));
    }
    m_pages.push_back(page);
  }

 private:
  std::vector<IKXQObject*> m_pages;  // identities only, not held
};

// The text of a pair's name element: a BSTR, also by reference or inside a
// VARIANT held by reference; anything else has none.
const OLECHAR* PairText(const VARIANT& element) {
  const VARIANT& value = ResolveVariant(element);
  if (value.vt == VT_BSTR) return value.bstrVal != nullptr ? value.bstrVal : u"";
  if (value.vt == (VT_BSTR | VT_BYREF) && value.pbstrVal != nullptr) {
    return *value.pbstrVal != nullptr ? *value.pbstrVal : u"";
  }
  return nullptr;
}

bool HasContent(const VARIANT& element) {
  const VARIANT& value = ResolveVariant(element);
  return value.vt != VT_EMPTY && value.vt != VT_NULL;
}

// Element (row, column) of a 2-D pairs matrix, counted from 1.
void ReadPair(KXComException& ctx, const VariantUtil::SafeArrayMatrix& pairs, int32_t row,
              int32_t column, _variant_t& out) {
  out.Clear();
  LONG indices[2] = {pairs.LowerBound1() + row - 1, pairs.LowerBound2() + column - 1};
  VARIANT element;
  VariantInit(&element);
  KX_CHECK(ctx, SafeArrayGetElement(pairs.Array(), indices, &element));
  out.Attach(element);
}

struct SafeArrayDeleter {
  void operator()(SAFEARRAY* array) const { SafeArrayDestroy(array); }
};
// An owned SAFEARRAY, destroyed on every way out unless handed over.
using ArrayHolder = std::unique_ptr<SAFEARRAY, SafeArrayDeleter>;

void PutMatrixElement(KXComException& ctx, SAFEARRAY* matrix, VARTYPE elementType, LONG row,
                      LONG column, IDispatch* value) {
  LONG indices[2] = {row, column};
  if (elementType == VT_VARIANT) {
    _variant_t element(value, true);
    KX_CHECK(ctx, SafeArrayPutElement(matrix, indices, &element));
    return;
  }
  KX_CHECK(ctx, SafeArrayPutElement(matrix, indices, value));
}

// The chain of GetOverspillFrom in the context it opened, `from` being the
// page's own "OverspillFrom" as read.
void ChainBack(KXComException& ctx, IKXQObject* page, IKXQObject* from,
               ComPtrArray<IKXQObject>& chain, IKXQObjectPtr& previous) {
  VisitedPages visited;
  visited.Visit(ctx, page, page);
  chain.Add(page);
  IKXQObjectPtr current(from);
  while (current) {
    visited.Visit(ctx, current, page);
    chain.Add(current);
    IKXQObjectPtr next;
    ReadLink(current, u"OverspillFrom", next);
    current = next;
  }
  previous = chain.GetCount() > 1 ? chain.GetAt(1) : page;
}

}  // namespace

_bstr_t GetDataViewBaseName(IKXQClassView* view) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, view);
  _bstr_t name;
  KX_CHECK(ctx, view->get_Name(name.GetAddress()));
  return _bstr_t(BaseName(name.view()));
}

HRESULT VariantToObject(const VARIANT& value, IKXQClassView** view) {
  return VariantToInterface(value, view);
}

void OverspillUtils::GetOverspillFrom(IKXQObjectPtr& previous, IKXQObject* page,
                                      ComPtrArray<IKXQObject>& chain) {
  KXComException ctx(u"OverspillUtils::GetOverspillFrom");
  previous = nullptr;
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQObjectPtr from;
  ReadLink(page, u"OverspillFrom", from);
  ChainBack(ctx, page, from, chain, previous);
}

void OverspillUtils::GetOverspillTo(IKXQObjectPtr& next, IKXQObject* page, bool raiseEvent) {
  KXComException ctx(u"OverspillUtils::GetOverspillTo");
  next = nullptr;
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  ReadLink(page, u"OverspillTo", next);
  // The event is the client's news, not part of the walk: its failure is
  // dropped.
  if (next && raiseEvent && m_pOwner != nullptr && FAILED(m_pOwner->LaunchPageEvent(next, 1))) {
    ClearThreadErrorInfo();
  }
}

HRESULT OverspillUtils::GetOverspillAssociation(IKXQObject* page, bool required,
                                                VariantUtil::SafeArrayMatrix& pairs,
                                                IKXQTemplatePage** target) {
  KXComException ctx(u"OverspillUtils::GetOverspillAssociation");
  CheckPointerArgument(ctx, target);
  *target = nullptr;
  pairs.Release();
  IKXQApplication* application = m_pOwner != nullptr ? m_pOwner->m_pApplication : nullptr;
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, 1));
  _com_ptr_t<IKXQOverspillAssociation> association;
  if (templatePage) KX_CHECK(ctx, templatePage->get_Overspill(&association));
  if (!association) {
    if (!required) return S_OK;
    _bstr_t name;
    if (templatePage) KX_CHECK(ctx, templatePage->get_Name(name.GetAddress()));
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"No overspill association defined for template page %ls",
                            static_cast<const OLECHAR*>(name));
  }
  KX_CHECK(ctx, association->get_TargetPage(target));
  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, association->get_Pairs(&array));
  if (array == nullptr) return S_OK;
  const HRESULT hr = pairs.Attach(array, true);
  // A refused array stays the caller's.
  if (FAILED(hr)) SafeArrayDestroy(array);
  KX_CHECK(ctx, hr);
  return S_OK;
}

HRESULT OverspillUtils::FindMembersByName(IKXQClassView* view, const OLECHAR* name,
                                          ComPtrArray<IKXQClassView>& members) {
  KXComException ctx(u"OverspillUtils::FindMembersByName");
  CheckPointerArgument(ctx, view);
  const std::u16string_view wanted = name != nullptr ? BaseName(name) : std::u16string_view();
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector subViews(children, true);
  for (int32_t i = 0; i < subViews.Count(); ++i) {
    IKXQClassViewPtr member;
    const HRESULT hr = subViews.GetClassViewAt(i, &member);
    if (FAILED(hr)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"A member of a data view is not a data view");
    }
    if (!member) continue;
    if (SameName(GetDataViewBaseName(member).view(), wanted)) members.Add(member);
  }
  return S_OK;
}

HRESULT OverspillUtils::GetOverspillChainMembers(IKXQObject* page, const OLECHAR* name,
                                                 SAFEARRAY** matrix, VARTYPE elementType) {
  KXComException ctx(u"OverspillUtils::GetOverspillChainMembers");
  CheckPointerArgument(ctx, matrix);
  SafeArrayDestroy(*matrix);
  *matrix = nullptr;
  ArrayHolder result;
  if (m_pOwner == nullptr) return S_FALSE;
  if (elementType != VT_VARIANT && elementType != VT_DISPATCH) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, nullptr);
  }

  ComPtrArray<IKXQObject> chain;
  IKXQObjectPtr previous;
  GetOverspillFrom(previous, page, chain);
  VisitedPages visited;
  for (int32_t i = 0; i < chain.GetCount(); ++i) visited.Visit(ctx, chain.GetAt(i), page);
  IKXQObjectPtr next;
  GetOverspillTo(next, page, false);
  while (next) {
    visited.Visit(ctx, next, page);
    chain.InsertAt(0);
    chain.SetAt(0, next);
    IKXQObjectPtr after;
    GetOverspillTo(after, next, false);
    next = after;
  }
  if (chain.GetCount() < 2) return S_OK;

  const std::u16string_view wanted = name != nullptr ? std::u16string_view(name) : u"";
  LONG columns = 0;
  for (int32_t i = chain.GetCount() - 1; i >= 0; --i) {
    IKXQObject* member = chain.GetAt(i);
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    GetOverspillAssociation(member, false, pairs, &target);
    if (pairs.Array() == nullptr) continue;
    for (int32_t j = 1; j <= pairs.Count2(); ++j) {
      _variant_t viewElement;
      _variant_t nameElement;
      ReadPair(ctx, pairs, 1, j, viewElement);
      ReadPair(ctx, pairs, 2, j, nameElement);
      IKXQClassViewPtr view;
      if (FAILED(VariantToObject(viewElement, &view)) || !view) continue;
      const OLECHAR* pairName = PairText(nameElement);
      if (pairName == nullptr || !SameName(pairName, wanted)) continue;
      ComPtrArray<IKXQClassView> found;
      FindMembersByName(view, pairName, found);
      if (found.GetCount() == 0) continue;
      const LONG total = columns + found.GetCount();
      if (result.get() == nullptr) {
        SAFEARRAYBOUND bounds[2] = {{2, 1}, {static_cast<ULONG>(total), 1}};
        SAFEARRAY* made = SafeArrayCreate(elementType, 2, bounds);
        if (made == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
        result.reset(made);
      } else {
        SAFEARRAYBOUND last = {static_cast<ULONG>(total), 1};
        KX_CHECK(ctx, SafeArrayRedim(result.get(), &last));
      }
      for (int32_t k = 0; k < found.GetCount(); ++k) {
        const LONG column = columns + k + 1;
        PutMatrixElement(ctx, result.get(), elementType, 1, column, found.GetAt(k));
        PutMatrixElement(ctx, result.get(), elementType, 2, column, member);
      }
      columns = total;
    }
  }
  *matrix = result.release();
  return S_OK;
}

HRESULT OverspillUtils::GetOverspillSourceChain(IKXQObject* page, SAFEARRAY** chainOut) {
  KXComException ctx(u"OverspillUtils::GetOverspillSourceChain");
  CheckPointerArgument(ctx, chainOut);
  *chainOut = nullptr;
  if (m_pOwner == nullptr) return S_FALSE;
  ComPtrArray<IKXQObject> chain;
  {
    // GetOverspillFrom's steps, its trace line included. Most pages continue
    // none: their chain is the page alone and has no shift, known without
    // gathering the chain.
    KXComException walk(u"OverspillUtils::GetOverspillFrom");
    if (page == nullptr) ThrowKXComExceptionHrAt(walk, KX_HERE(kFile), E_POINTER, nullptr);
    IKXQObjectPtr from;
    ReadLink(page, u"OverspillFrom", from);
    if (!from) return S_OK;
    IKXQObjectPtr previous;
    ChainBack(walk, page, from, chain, previous);
  }

  SAFEARRAYBOUND bounds[2] = {{2, 1}, {1, 1}};
  ArrayHolder result(SafeArrayCreate(VT_VARIANT, 2, bounds));
  if (result.get() == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);

  _bstr_t ownName;
  LONG offset = 0;
  for (int32_t i = 0; i < chain.GetCount(); ++i) {
    IKXQObject* member = chain.GetAt(i);
    if (member == nullptr) continue;
    VariantUtil::SafeArrayMatrix pairs;
    IKXQTemplatePagePtr target;
    GetOverspillAssociation(member, false, pairs, &target);
    if (pairs.Array() == nullptr || pairs.Count2() == 0) continue;
    if (pairs.Count2() > 1) {
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_FAIL,
          u"Error: More than one overspill attribute has been defined in template.");
    }
    _variant_t viewElement;
    _variant_t nameElement;
    ReadPair(ctx, pairs, 1, 1, viewElement);
    ReadPair(ctx, pairs, 2, 1, nameElement);
    const OLECHAR* pairName = HasContent(nameElement) ? PairText(nameElement) : nullptr;
    if (i == 0) {
      if (pairName != nullptr) ownName = pairName;
      continue;
    }
    if (pairName == nullptr || !HasContent(viewElement)) continue;
    IKXQClassViewPtr view;
    if (FAILED(VariantToObject(viewElement, &view)) || !view) continue;
    ComPtrArray<IKXQClassView> found;
    FindMembersByName(view, pairName, found);
    offset += found.GetCount();
  }

  if (ownName.length() > 0 && offset > 0) {
    LONG nameAt[2] = {1, 1};
    LONG offsetAt[2] = {2, 1};
    _variant_t nameValue(ownName);
    _variant_t offsetValue(static_cast<int>(offset), VT_I4);
    KX_CHECK(ctx, SafeArrayPutElement(result.get(), nameAt, &nameValue));
    KX_CHECK(ctx, SafeArrayPutElement(result.get(), offsetAt, &offsetValue));
  }
  *chainOut = result.release();
  return S_OK;
}
