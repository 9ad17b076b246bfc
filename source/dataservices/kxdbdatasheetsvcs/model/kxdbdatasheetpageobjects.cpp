// Objects on pages: placing them at template nodes, removing them (with
// the rows of continuous lists), cases of every page, and small
// datasheet-wide helpers.
#include <algorithm>

#include "com/comutil.h"
#include "host/response.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxtrace.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// The page's attribute of that name; a class without it raises E_POINTER.
IKXQAttributePtr RequiredAttribute(IKXQObject* object, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  if (object == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQAttributePtr attribute;
  GetAttributeInterface(object, name, attribute);
  if (!attribute) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, u"The object has no attribute %ls",
                            name);
  }
  return attribute;
}

bool HasObjectAt(IKXQAttribute* attribute, int32_t position) {
  IKXQObjectPtr value;
  KXDBDatasheetSvcs::GetAttributeObjectAt(attribute, value, position);
  return static_cast<bool>(value);
}

}  // namespace

namespace KXDBDatasheetSvcs {

void GetPageNodeObjects(IKXQObject* page, IKXQClassView* view, IKXQObject* object, bool unhide) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, view);
  LONG node = -1;
  KX_CHECK(ctx, view->get_NodeIndex(&node));
  const IKXQAttributePtr objects = RequiredAttribute(page, u"NodeObjects");
  const IKXQAttributePtr indices = RequiredAttribute(page, u"NodeIndices");
  const int32_t slot = node + 1;

  if (unhide && slot >= 1) {
    IKXQAttributePtr hidden;
    GetAttributeInterface(page, u"HiddenObjects", hidden);
    if (hidden && GetAttributeCount(hidden) >= slot) ClearAttributeValueAt(hidden, slot);
  }

  bool has = false;
  const int32_t old = slot >= 1 ? GetAttributeIntegerAt(indices, slot, &has) : 0;
  if (has && old >= 1 && HasObjectAt(objects, old)) {
    ClearAttributeValueAt(indices, slot);
    bool shared = false;
    const int32_t count = GetAttributeCount(indices);
    for (int32_t k = 1; k <= count && !shared; ++k) {
      bool present = false;
      shared = GetAttributeIntegerAt(indices, k, &present) == old && present;
    }
    if (!shared) ClearAttributeValueAt(objects, old);
  }

  if (object != nullptr && slot >= 1) {
    const int32_t count = GetAttributeCount(objects);
    int32_t firstEmpty = 0;
    int32_t found = 0;
    for (int32_t p = 1; p <= count && found == 0; ++p) {
      IKXQObjectPtr value;
      GetAttributeObjectAt(objects, value, p);
      if (value.GetInterfacePtr() == object) {
        found = p;
      } else if (!value && firstEmpty == 0) {
        firstEmpty = p;
      }
    }
    if (found == 0) {
      found = firstEmpty != 0 ? firstEmpty : count + 1;
      SetAttributeObjectAt(objects, found, object);
    }
    SetAttributeIntegerAt(indices, slot, found);
  }

  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector nested(children, true);
  if (nested.Array() == nullptr && children != nullptr) SafeArrayDestroy(children);
  for (int32_t i = 0; i < nested.Count(); ++i) {
    IKXQClassViewPtr child;
    if (FAILED(nested.GetClassViewAt(i, &child)) || !child) {
      ClearThreadErrorInfo();
      continue;
    }
    GetPageNodeObjects(page, child, nullptr, true);
  }
}

void AppendNodeObject(IKXQObject* page, IKXQClassView* view, IKXQObject* object) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, view);
  LONG node = -1;
  KX_CHECK(ctx, view->get_NodeIndex(&node));
  const IKXQAttributePtr objects = RequiredAttribute(page, u"NodeObjects");
  SetAttributeObjectAt(objects, GetAttributeCount(objects) + 1, object);
}

bool PlaceObjectOnPage(IKXQObject* page, IKXQTemplatePage* templatePage, IKXQObject* object,
                       bool firstMatch) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, templatePage);
  CheckPointerArgument(ctx, object);
  SAFEARRAY* roots = nullptr;
  KX_CHECK(ctx, templatePage->get_RootNodes(&roots));
  VariantUtil::SafeArrayVector nodes(roots, true);
  if (nodes.Array() == nullptr && roots != nullptr) SafeArrayDestroy(roots);
  BSTR format = nullptr;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
  const _bstr_t heldFormat(format, false);
  const bool continuous = heldFormat.length() > 0;

  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  _variant_t classArgument;
  if (cls) classArgument = _variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr()));

  IKXQClassViewPtr chosen;
  IKXQClassViewPtr occupied;
  for (int32_t i = nodes.Count() - 1; i >= 0; --i) {
    IKXQClassViewPtr view;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &view));
    if (!view || !cls) continue;
    VARIANT_BOOL accepts = VARIANT_FALSE;
    KX_CHECK(ctx, view->AcceptsClass(classArgument, nullptr, &accepts));
    if (accepts == VARIANT_FALSE) continue;
    IUnknown* binding = nullptr;
    KX_CHECK(ctx,
             object->Bind(_variant_t(static_cast<IDispatch*>(view.GetInterfacePtr())), &binding));
    if (binding != nullptr) binding->Release();
    if (firstMatch) {
      chosen = view;
      break;
    }
    IKXQObjectPtr present;
    GetNodeObject(present, page, view);
    if (present) {
      occupied = view;
      break;
    }
    chosen = view;
  }
  if (chosen) {
    GetPageNodeObjects(page, chosen, object, true);
    return true;
  }
  if (continuous && occupied) {
    AppendNodeObject(page, occupied, object);
    return true;
  }
  return false;
}

_bstr_t RenumberedFieldText(const _bstr_t& text, int32_t row) {
  KXComException ctx = KXComException::Silent();
  const std::u16string_view view = text.view();
  const size_t first = view.find_first_not_of(u" \t\r\n");
  const size_t last = view.find_last_not_of(u" \t\r\n");
  _bstr_t trimmed;
  if (first != std::u16string_view::npos) {
    trimmed = _bstr_t(std::u16string(view.substr(first, last - first + 1)).c_str());
  }
  _bstr_t written;
  if (trimmed.length() > 0) {
    KXFieldData record;
    KX_CHECK(ctx, record.Parse(trimmed));
    const int32_t kind = record.typeId;
    KX_CHECK(ctx, record.ParseFieldData(kind, trimmed, -1));
    record.index = row;
    BSTR out = nullptr;
    KX_CHECK(ctx, record.WriteFieldData(&out, kFieldDataFull, -1));
    written = _bstr_t(out, false);
  }
  return written;
}

void RenumberFieldRows(IKXQAttribute* fields, int32_t row, int32_t start, int32_t fieldsPerRow) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, fields);
  const int32_t count = GetAttributeCount(fields);
  if (count < start || fieldsPerRow <= 0) return;
  for (int32_t i = start; i <= count; ++i) {
    const int32_t currentRow = row + (i - start) / fieldsPerRow;
    _bstr_t text;
    GetAttributeValueStringAt(fields, i, text);
    const _bstr_t written = RenumberedFieldText(text, currentRow);
    _variant_t value(written.length() > 0 ? static_cast<const OLECHAR*>(written) : u"");
    _variant_t index(static_cast<LONG>(i));
    KX_CHECK(ctx, fields->PutValue(index, _variant_t(), value));
  }
}

void GetContinuousFormat(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage) {
  if (main.m_pRequestContext == nullptr || templatePage == nullptr || page == nullptr) return;
  KXComException ctx = KXComException::Silent();
  BSTR format = nullptr;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
  const _bstr_t heldFormat(format, false);
  if (heldFormat.length() == 0) return;
  if (!ClassHasAttribute(page, u"ContinuousFormat")) {
    if (main.m_pApplication != nullptr) {
      (void)main.m_pApplication->LogWarning(
          _bstr_t(u"ContinuousFormat boolean attribute is undefined for Page, which can lead "
                  u"to performance problems"));
    }
    return;
  }
  IKXQAttributePtr flag;
  GetAttributeInterface(page, u"ContinuousFormat", flag);
  SetAttributeBoolean(flag, true);
  KX_CHECK(ctx, main.m_pRequestContext->NotifyFormatChange());
}

HRESULT RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, page);
    const IKXQAttributePtr objects = RequiredAttribute(page, u"NodeObjects");
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    // A page whose template is gone is no list: its node is simply emptied.
    BSTR format = nullptr;
    if (templatePage) KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
    const _bstr_t heldFormat(format, false);

    if (heldFormat.length() == 0) {
      int32_t node = -1;
      const int32_t position = GetObjectNodeIndex(page, object, &node);
      const IKXQAttributePtr indices = RequiredAttribute(page, u"NodeIndices");
      if (position > 0 && node + 1 > 0 && node + 1 <= GetAttributeCount(indices)) {
        SetAttributeObjectAt(objects, position, nullptr);
        ClearAttributeValueAt(indices, node + 1);
      }
      return S_OK;
    }

    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    const int32_t firstRow = helper.FirstRowPosition();
    const int32_t count = GetAttributeCount(objects);
    const int32_t firstField = helper.FirstRepeatingField();
    const int32_t perRow = helper.FieldsPerRow();
    // A list without rows (no first row position) has no row to take the
    // object from: its objects are all header objects.
    int32_t position = 0;
    for (int32_t p = firstRow; firstRow >= 1 && p <= count && position == 0; ++p) {
      IKXQObjectPtr value;
      GetAttributeObjectAt(objects, value, p);
      if (value && value.GetInterfacePtr() == object) position = p;
    }
    if (position == 0) return S_OK;
    const int32_t row = position - firstRow;
    GetContinuousFormat(main, page, templatePage);

    const int32_t rowFirst = row * perRow + firstField;
    const int32_t rowLast = rowFirst + perRow - 1;
    // The last row's values end exactly at the list's end: they go too, or
    // they would reappear as a stale row when the next row is added.
    const IKXQAttributePtr fields = RequiredAttribute(page, u"Fields");
    const int32_t fieldCount = GetAttributeCount(fields);
    for (int32_t i = std::min(rowLast, fieldCount); i >= rowFirst && perRow > 0; --i) {
      RemoveAttributeValue(fields, i);
    }
    RenumberFieldRows(fields, row, rowFirst, perRow);

    int32_t firstValue = -1;
    int32_t lastValue = -1;
    KX_CHECK(ctx, helper.GetFieldValueIndex(rowFirst, &firstValue));
    KX_CHECK(ctx, helper.GetFieldValueIndex(rowLast, &lastValue));
    IKXQAttributePtr revisions;
    GetAttributeInterface(page, u"Revisions", revisions);
    if (revisions && firstValue >= 1 && lastValue >= firstValue) {
      const int32_t revisionCount = GetAttributeCount(revisions);
      for (int32_t i = std::min(lastValue, revisionCount); i >= firstValue; --i) {
        RemoveAttributeValue(revisions, i);
      }
    }
    RemoveAttributeValue(objects, position);

    if ((count - position + 1) * perRow > 100) {
      KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
    } else {
      for (int32_t r = position; r <= count - 1; ++r) {
        const int32_t base = (r - firstRow) * perRow + firstField;
        for (int32_t f = base; f < base + perRow; ++f) {
          KX_CHECK(ctx, main.LaunchDataFieldEvent(page, f, 1, false));
        }
      }
    }
    KX_CHECK(ctx,
             main.LaunchDataFieldEvent(page, (count - firstRow) * perRow + firstField, 1, false));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::RemoveObjectFromPage", kSilentFrame, work);
}

// ---------------------------------------------------------------------------
// Cases, events and notifications.

HRESULT SetCaseAt(IKXQObject* object, int32_t position, int32_t caseId) {
  return ServeRequest(u"KXDBDatasheetSvcs::SetCaseAt", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, object);
    SetAttributeIntegerAt(RequiredAttribute(object, u"Cases"), position + 1, caseId);
    return S_OK;
  });
}

HRESULT SetDatasheetCase(MainContext& main, IKXQObject* datasheet, int32_t caseId) {
  return ServeRequest(u"KXDBDatasheetSvcs::SetDatasheetCase", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    ForEachCurrentPage(datasheet, [&](IKXQObject* page) {
      KX_CHECK(ctx, SetCaseAt(page, 0, caseId));
      KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
    });
    CheckPointerArgument(ctx, main.m_pDatabase);
    BSTR name = nullptr;
    KX_CHECK(ctx, main.m_pDatabase->get_CaseName(caseId, &name));
    const _bstr_t heldName(name, false);
    SetAttributeLong(datasheet, u"DefaultCase", caseId, -1);
    SetAttributeStringByName(datasheet, u"CaseName", heldName, -1);
    return S_OK;
  });
}

void RequireCaseId(MainContext& main, int32_t caseId) {
  KXComException ctx = KXComException::Silent();
  if (caseId == 0) return;
  CheckPointerArgument(ctx, main.m_pDatabase);
  _bstr_t name;
  if (caseId > 0) KX_CHECK(ctx, main.m_pDatabase->get_CaseName(caseId, name.GetAddress()));
  if (name.length() == 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"There is no case %d",
                            static_cast<int>(caseId));
  }
}

HRESULT FirePageEvent(MainContext& main, IKXQObject* page) {
  return ServeRequest(u"KXDBDatasheetSvcs::FirePageEvent", kSilentFrame, [&](KXComException& ctx) {
    KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
    return S_OK;
  });
}

HRESULT NotifyTemplateLibrary(IKXQApplication* application, IKXQObject* datasheet) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, application);
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, 1));
    if (!tmpl) return S_OK;
    BSTR id = nullptr;
    KX_CHECK(ctx, tmpl->get_Id(&id));
    const _bstr_t heldId(id, false);
    BSTR checknum = nullptr;
    KX_CHECK(ctx, tmpl->get_Checknum(&checknum));
    const _bstr_t heldChecknum(checknum, false);
    IKXQTemplateLibraryPtr library;
    KX_CHECK(ctx, application->get_TemplateLibrary(&library));
    CheckPointerArgument(ctx, library.GetInterfacePtr());
    KX_CHECK(ctx, library->NotifyTemplateUse(heldId, heldChecknum));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::NotifyTemplateLibrary", kSilentFrame, work);
}

HRESULT PutObjectIntegerAsText(IKXQObject* object, int32_t value) {
  if (object == nullptr) return E_POINTER;
  _variant_t text(static_cast<LONG>(value));
  const HRESULT hr = ServeRequest(u"PutObjectIntegerAsText", kSilentFrame, [&](KXComException&) {
    VariantUtil::ChangeTypeFromXML(text, VT_BSTR);
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  return object->PutText(text);
}

}  // namespace KXDBDatasheetSvcs
