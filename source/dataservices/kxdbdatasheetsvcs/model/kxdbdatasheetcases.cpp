// The discipline rule of the document workflow, clearing cases and status
// page sets, and small value helpers of the workflow.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "com/wstr.h"
#include "host/settings.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"
#include "model/preservederrorinfo.h"
#include "variantutil.h"

KX_SMARTPTR_TYPEDEF(IKXQSettings);
KX_SMARTPTR_TYPEDEF(IKXQPrivileges);

namespace {

// The pages a list holds, by identity, each held so that no other object
// takes its address. `whole` is false when a value could not be read as an
// object (nothing is kept then).
struct KeptPageSet {
  bool whole = false;
  std::unordered_set<IKXQObject*> pages;
  std::vector<IKXQObjectPtr> held;

  void ReadWhole(IKXQAttribute* list) {
    if (list == nullptr) {
      whole = true;
      return;
    }
    const PreservedErrorInfo unchanged;
    try {
      const int32_t count = GetAttributeCount(list);
      for (int32_t k = 1; k <= count; ++k) {
        IKXQObjectPtr page;
        GetAttributeAsObject(list, k, page);
        if (page && pages.insert(page.GetInterfacePtr()).second) held.push_back(page);
      }
      whole = true;
    } catch (const KXComException&) {
      pages.clear();
      held.clear();
    }
  }
  bool Holds(IKXQObject* page) const { return pages.count(page) != 0; }
};

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};

_variant_t IndexOrEmpty(int32_t index) {
  if (index == 0) return _variant_t();
  return _variant_t(static_cast<int>(index), VT_I4);
}

}  // namespace

HRESULT PutDocumentIntegerAsText(IKXQApplication* /*application*/, IKXQObject* document,
                                 int32_t value) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, document);
    _variant_t text(static_cast<int>(value), VT_I4);
    VariantUtil::ChangeTypeFromXML(text, VT_BSTR);
    return document->OpenVersion(2, text);
  };
  return ServeRequest(nullptr, FrameOptions{.file = kFile, .passReturnedFailure = true}, work);
}

void GetAttributeObjectValue(IKXQAttribute* attribute, IKXQObjectPtr& object, int32_t index) {
  KXComException ctx = KXComException::Silent();
  object = nullptr;
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _variant_t value;
  KX_CHECK(ctx, attribute->GetValue(IndexOrEmpty(index), _variant_t(), &value));
  KXDBDatasheetSvcs::GetObjectFromVariant(object, value, nullptr);
}

namespace KXDBDatasheetSvcs {

HRESULT CheckIDWFDiscipline(IKXQApplication* application, IKXQObject* document) {
  return ServeRequest(u"KXDBDatasheetSvcs::CheckIDWFDiscipline", kFrame, [&](KXComException& ctx) {
    if (document == nullptr) return S_OK;
    CheckPointerArgument(ctx, application);
    _bstr_t setting;
    IKXQSettingsPtr settings;
    KX_CHECK(ctx, application->get_Settings(&settings));
    if (settings) KX_CHECK(ctx, settings->GetValue(_bstr_t(u"IDWF"), setting.GetAddress()));
    if (setting.length() > 0) CharUpperBuffW(setting.GetBSTR(), setting.length());
    if (setting.view() != u"TRUE") return S_OK;

    _bstr_t discipline;
    IKXQPrivilegesPtr privileges;
    KX_CHECK(ctx, application->get_Privileges(&privileges));
    if (privileges) KX_CHECK(ctx, privileges->get_Discipline(discipline.GetAddress()));
    if (discipline.length() == 0) {
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_FAIL,
          u"You must be a member of a discipline to submit, check or issue documents.");
    }
    _bstr_t owning;
    IKXQAttributePtr attribute;
    GetAttributeInterfaceAt(document, u"OwningDiscipline", attribute, -1);
    if (attribute) GetAttributeValueString(attribute, owning);
    // The comparison is exact: disciplines differing in letter case differ.
    if (owning.length() == 0 || owning.view() != discipline.view()) {
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_FAIL,
          u"Only documents owned by your discipline can be submitted, checked or issued.");
    }
    return S_OK;
  });
}

HRESULT ClearDatasheetCase(IKXQObject* datasheet, PageEventLauncher launch, void* cookie) {
  return ServeRequest(u"KXDBDatasheetSvcs::ClearDatasheetCase", kFrame, [&](KXComException& ctx) {
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      KX_CHECK(ctx, ClearObjectCase(page, 0));
      if (launch != nullptr) launch(cookie, page);
    }
    IKXQAttributePtr attribute;
    GetAttributeInterface(datasheet, u"DefaultCase", attribute);
    ClearAttributeValue(attribute, _variant_t());
    GetAttributeInterface(datasheet, u"CaseName", attribute);
    ClearAttributeValue(attribute, _variant_t());
    return S_OK;
  });
}

HRESULT ClearObjectCase(IKXQObject* object, int32_t caseIndex) {
  const auto work = [&](KXComException& ctx) {
    if (object == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    IKXQAttributePtr cases;
    GetAttributeInterface(object, u"Cases", cases);
    if (!cases) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    const _variant_t index =
        caseIndex == -1 ? _variant_t() : _variant_t(static_cast<int>(caseIndex + 1), VT_I4);
    return cases->Clear(index);
  };
  return ServeRequest(nullptr, FrameOptions{.file = kFile, .passReturnedFailure = true}, work);
}

HRESULT ClearPages(IKXQAttribute* pages) {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    const int32_t count = GetAttributeCount(pages);
    for (int32_t i = count; i >= 1; --i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      // Deleting removes the page from the list; its result is not checked.
      (void)page->Delete();
    }
    return S_OK;
  });
}

void ForgetStatusCopy(IKXQObject* copy) {
  IKXQObjectPtr active;
  GetAttributeObjectByName(copy, active, u"ActivePage");
  if (!active) return;
  IKXQAttributePtr revised;
  GetAttributeInterface(active, u"RevisedPages", revised);
  if (!revised) return;
  for (int32_t i = GetAttributeCount(revised); i >= 1; --i) {
    IKXQObjectPtr listed;
    GetAttributeAsObject(revised, i, listed);
    if (listed.GetInterfacePtr() == copy) RemoveAttributeValue(revised, i);
  }
}

void AddStatusCopy(IKXQObject* page, IKXQObject* copy) {
  IKXQAttributePtr revised;
  // A copy starts with the copies of its page, which are none of its own.
  GetAttributeInterface(copy, u"RevisedPages", revised);
  if (revised) ResizeAttributeValues(revised, 0);
  GetAttributeInterface(page, u"RevisedPages", revised);
  if (revised) SetAttributeObjectAt(revised, GetAttributeCount(revised) + 1, copy);
}

HRESULT EmptyPageLists(IKXQObject* datasheet, std::initializer_list<const OLECHAR*> lists,
                       const OLECHAR* keep) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    IKXQAttributePtr kept;
    if (keep != nullptr) GetAttributeInterface(datasheet, keep, kept);
    // The kept pages, read whole once: emptying another list leaves the
    // kept one as it is (none of its pages is deleted). A kept list that is
    // one of the emptied ones, or one that cannot be read whole, is asked
    // page by page as it stands then.
    KeptPageSet keptPages;
    bool keptRead = false;
    const bool keptEmptied =
        kept && std::any_of(lists.begin(), lists.end(),
                            [&](const OLECHAR* name) { return _wcsicmp(name, keep) == 0; });
    const auto isKept = [&](IKXQObject* page) {
      if (!keptRead && !keptEmptied) {
        keptRead = true;
        keptPages.ReadWhole(kept);
      }
      if (keptPages.whole) return keptPages.Holds(page);
      const int32_t keptCount = kept ? GetAttributeCount(kept) : 0;
      for (int32_t k = 1; k <= keptCount; ++k) {
        IKXQObjectPtr other;
        GetAttributeAsObject(kept, k, other);
        if (other.GetInterfacePtr() == page) return true;
      }
      return false;
    };
    for (const OLECHAR* name : lists) {
      IKXQAttributePtr pages;
      GetAttributeInterface(datasheet, name, pages);
      if (!pages) continue;
      for (int32_t i = GetAttributeCount(pages); i >= 1; --i) {
        IKXQObjectPtr page;
        GetAttributeAsObject(pages, i, page);
        if (!page) continue;
        // A deleted page leaves every list that held it, so no page is met
        // twice; one that must live on only leaves this list.
        if (isKept(page)) {
          RemoveAttributeValue(pages, i);
        } else {
          ForgetStatusCopy(page);
          KX_CHECK(ctx, page->Delete());
        }
      }
      ClearAttributeValue(pages, _variant_t());
    }
    return S_OK;
  });
}

void ClearAttributeValueAt(IKXQAttribute* attribute, int32_t index) {
  ClearAttributeValue(attribute, IndexOrEmpty(index));
}

bool HasLocalPrivilege(IKXQApplication* application, const OLECHAR* privilege) {
  KXComException ctx(u"Main::HasLocalPrivilege", 1);
  CheckPointerArgument(ctx, application);
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, application->GetLocalPrivileges(&raw));
  if (raw == nullptr) return true;
  VariantUtil::SafeArrayMatrix table;
  if (const HRESULT hr = table.Attach(raw, true); FAILED(hr)) {
    // A refused array stays the caller's: the table is ours to free.
    SafeArrayDestroy(raw);
    KX_CHECK(ctx, hr);
  }
  const std::u16string_view wanted =
      privilege != nullptr ? std::u16string_view(privilege) : std::u16string_view();
  // Rows run along the first dimension: (row, 0) the name, (row, 1) the flag.
  for (int32_t row = 0; row < table.Count1(); ++row) {
    LONG index[2] = {table.LowerBound1() + row, table.LowerBound2()};
    _variant_t name;
    KX_CHECK(ctx, SafeArrayGetElement(raw, index, &name));
    if (name.vt != VT_BSTR) continue;
    const _bstr_t text(name.bstrVal, true);
    if (text.view() != wanted) continue;
    index[1] = table.LowerBound2() + 1;
    _variant_t granted;
    KX_CHECK(ctx, SafeArrayGetElement(raw, index, &granted));
    bool flag = true;
    if (SUCCEEDED(VariantToBool(granted, &flag, true)) && !flag) return false;
    return true;
  }
  return true;
}

}  // namespace KXDBDatasheetSvcs
